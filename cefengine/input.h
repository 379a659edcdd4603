// A browser's input: mouse, wheel, keys and focus as DevTools input events, and the
// cursor under the pointer, probed after each move (one probe at a time, the newest
// position waits). Sequence only.
#pragma once
#include "mapping.h"
#include "session.h"

namespace cefeng {

class Input {
 public:
  explicit Input(Session& session) : session_(session) {}

  void MouseClick(const MouseInput& e, int button, bool up, int clickCount);
  void MouseMove(const MouseInput& e, bool leave);
  void MouseWheel(const MouseInput& e, int dx, int dy);
  void Key(const KeyInput& e);
  void Focus(bool focus);

 private:
  void ProbeCursor(int x, int y);
  void CursorProbed(const json& result, const std::string& error);

  Session& session_;
  bool probing_ = false;
  bool probeWaits_ = false;
  int probeX_ = 0, probeY_ = 0;  // the newest position
  int cursor_ = -1;              // the last cursor type told
};

}  // namespace cefeng
