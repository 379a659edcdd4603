// A page's frames at the browser's own rate. Chromium runs with begin-frame control:
// it renders a page only when asked (HeadlessExperimental.beginFrame), so the page's
// animation frames, Chromium's drawing and the screencast's frames all follow the
// browser's frame rate instead of Chromium's 60. While the page changes (or was just
// given input, a command or an event) the pump asks at the frame rate; once it has
// been still for a second, a few times a second, which a still page hardly notices.
// A Chromium without begin-frame control refuses the first ask: the pump then stops
// for good and Chromium renders on its own (an error after an ask that succeeded,
// such as a crashed renderer's, is not a refusal). Sequence only.
#pragma once
#include <cstdint>
#include <string>

#include "session.h"

namespace cefeng {

class FramePump {
 public:
  static constexpr uint64_t kBusyForUs = 1000000;     // the full rate after a sign of change
  static constexpr uint64_t kStillGapUs = 200000;     // between the asks of a still page
  static constexpr uint64_t kAnswerWaitUs = 1000000;  // an ask unanswered this long no longer holds the next

  FramePump(Session& session, int frameRate);

  // Starts asking for the page target's frames (a new target, or the same one again).
  void Start();
  // The target is gone or closing: no more asks.
  void Stop() { running_ = false; }
  // The page may change: the next frame is asked for now, and then at the full rate.
  void Wake();
  // The page has just changed (it took an input event): a frame is asked for at once,
  // out of the rate's beat; input that keeps coming, never sooner than half a beat
  // after the last ask.
  void Prompt();
  // Chromium answered that it renders on its own.
  bool Refused() const { return refused_; }
  bool Running() const { return running_; }

 private:
  void Tick();
  void Ask(uint64_t nowUs);
  void Answered(const json& result, const std::string& error, uint64_t gen);
  void Released(uint64_t nowUs);
  void ArmAt(uint64_t dueUs);

  Session& session_;
  const uint64_t gapUs_;  // between frames at the frame rate
  const double intervalMs_;
  bool running_ = false;
  bool refused_ = false;
  bool answered_ = false;     // an ask was answered without an error: Chromium has the control
  uint64_t gen_ = 0;          // bumped by every start: answers of an earlier one are stale
  bool asking_ = false;       // an ask of this start waits for its answer
  bool askWaits_ = false;     // an ask fell due meanwhile: it goes with the answer
  bool heldByPending_ = false;  // Chromium still draws an earlier ask: its answer frees this one
  uint64_t askedUs_ = 0;
  uint64_t promptedUs_ = 0;   // the last input taken
  uint64_t busyUntilUs_ = 0;  // the full rate until then
  uint64_t nextUs_ = 0;       // when the next ask is due
  uint64_t armedUs_ = 0;      // the earliest tick posted, 0: none
};

// True for an answer that says Chromium has no begin-frame control for the page.
bool BeginFrameRefused(const std::string& error);
// True for an answer that says an earlier ask is still being drawn.
bool BeginFramePending(const std::string& error);

}  // namespace cefeng
