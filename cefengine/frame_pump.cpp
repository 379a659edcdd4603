#include "frame_pump.h"

#include <algorithm>

namespace cefeng {

FramePump::FramePump(Session& session, int frameRate)
    : session_(session), gapUs_(1000000 / uint64_t(std::max(1, frameRate))),
      intervalMs_(1000.0 / std::max(1, frameRate)) {}

void FramePump::Start() {
  if (refused_) return;
  running_ = true;
  ++gen_;
  asking_ = false;
  askWaits_ = false;
  heldByPending_ = false;
  Wake();
}

void FramePump::Wake() {
  if (!running_) return;
  const uint64_t nowUs = session_.NowUs();
  busyUntilUs_ = nowUs + kBusyForUs;
  // A still page's next ask may be far: it comes now. At the full rate it keeps its
  // place, so that a burst of events does not ask more often than the frame rate.
  if (nextUs_ > nowUs + gapUs_) nextUs_ = nowUs;
  ArmAt(nextUs_);
}

void FramePump::Prompt() {
  if (!running_) return;
  const uint64_t nowUs = session_.NowUs();
  busyUntilUs_ = nowUs + kBusyForUs;
  // Input after a beat without any is asked for at once: a frame asked before it
  // cannot show it. Input that keeps coming (a drag, a held key) waits until half a
  // beat after the last ask, so that it is not drawn more than twice the rate.
  const bool alone = nowUs >= promptedUs_ + gapUs_;
  promptedUs_ = nowUs;
  nextUs_ = std::min(nextUs_, alone ? nowUs : std::max(nowUs, askedUs_ + gapUs_ / 2));
  ArmAt(nextUs_);
}

void FramePump::Tick() {
  if (!running_) return;
  const uint64_t nowUs = session_.NowUs();
  if (nowUs < nextUs_) return ArmAt(nextUs_);
  // A page whose renderer is busy (a script, a dialog) answers late: one ask at a
  // time, so that they do not pile up behind it; one that falls due meanwhile goes
  // when the answer comes.
  if (!asking_ || nowUs >= askedUs_ + kAnswerWaitUs)
    Ask(nowUs);
  else
    askWaits_ = true;
  const uint64_t gap = nowUs < busyUntilUs_ ? gapUs_ : kStillGapUs;
  nextUs_ = nextUs_ + gap > nowUs ? nextUs_ + gap : nowUs + gap;
  ArmAt(nextUs_);
}

void FramePump::Ask(uint64_t nowUs) {
  asking_ = true;
  askWaits_ = false;
  askedUs_ = nowUs;
  const uint64_t gen = gen_;
  session_.Send("HeadlessExperimental.beginFrame", {{"interval", intervalMs_}},
                [this, gen](const json& result, const std::string& error) { Answered(result, error, gen); });
}

// A frame that drew something keeps the full rate for a while; a refusal ends the
// pump, and Chromium then draws by itself.
void FramePump::Answered(const json& result, const std::string& error, uint64_t gen) {
  // An earlier start's answer matters only when its ask held this start's back.
  if (gen != gen_) {
    if (heldByPending_) Released(session_.NowUs());
    return;
  }
  if (!answered_ && BeginFrameRefused(error)) {
    refused_ = true;
    running_ = false;
    return;
  }
  answered_ = answered_ || error.empty();
  const uint64_t nowUs = session_.NowUs();
  // The ask still out (a page busy in a script) holds Chromium's drawing: it keeps
  // its place, and the next try waits another answer-wait instead of every beat.
  if (BeginFramePending(error)) {
    asking_ = true;
    heldByPending_ = true;
    askedUs_ = nowUs;
    return;
  }
  if (error.empty() && BoolField(result, "hasDamage")) busyUntilUs_ = nowUs + kBusyForUs;
  Released(nowUs);
}

// No ask is out any more: one that fell due meanwhile goes now.
void FramePump::Released(uint64_t nowUs) {
  heldByPending_ = false;
  asking_ = false;
  if (askWaits_ && running_) Ask(nowUs);
}

// One tick is posted for the earliest time asked for; a later one that fires early
// only posts itself again.
void FramePump::ArmAt(uint64_t dueUs) {
  if (armedUs_ != 0 && armedUs_ <= dueUs) return;
  armedUs_ = dueUs;
  session_.PostAt(dueUs, [this, dueUs] {
    if (armedUs_ == dueUs) armedUs_ = 0;
    Tick();
  });
}

// Chromium without begin-frame control does not know the command, or refuses it for
// a page that it draws by itself.
bool BeginFrameRefused(const std::string& error) {
  for (const char* sign : {"wasn't found", "only supported", "not supported", "BeginFrameControl"})
    if (error.find(sign) != std::string::npos) return true;
  return false;
}

bool BeginFramePending(const std::string& error) { return error.find("frame is pending") != std::string::npos; }

}  // namespace cefeng
