// A browser's input: mouse, wheel, keys and focus as DevTools input events, and the
// cursor under the pointer, probed after each move (one probe at a time, the newest
// position waits). Sequence only.
#pragma once
#include "mapping.h"
#include "session.h"

namespace cefeng {

class Input {
 public:
  // `handled` runs when the page has taken an input event (its answer came), so that
  // a frame asked for then shows what the event changed.
  explicit Input(Session& session, Task handled = nullptr) : session_(session), handled_(std::move(handled)) {}

  void MouseClick(const MouseInput& e, int button, bool up, int clickCount);
  void MouseMove(const MouseInput& e, bool leave);
  void MouseWheel(const MouseInput& e, int dx, int dy);
  void Key(const KeyInput& e);
  void Focus(bool focus);

 private:
  void ProbeCursor(int x, int y);
  void CursorProbed(const json& result, const std::string& error);
  void Dispatch(const char* method, json params);

  Session& session_;
  Task handled_;
  bool probing_ = false;
  bool probeWaits_ = false;
  int probeX_ = 0, probeY_ = 0;  // the newest position
  int cursor_ = -1;              // the last cursor type told
};

}  // namespace cefeng
