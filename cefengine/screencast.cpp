#include "screencast.h"

#include <algorithm>

namespace cefeng {

void Screencast::SetViewSize(int w, int h) {
  width_ = w;
  height_ = h;
  sizeRestarted_ = false;
  session_.Send("Emulation.setDeviceMetricsOverride",
                {{"width", w}, {"height", h}, {"deviceScaleFactor", 1}, {"mobile", false}});
  // The screencast keeps the frame size it started with: start it again at the new
  // size. Before its first frame it is not stopped first: a stop and start then
  // leaves Chromium sending no frames at all.
  if (running_) {
    if (framesSinceStart_ > 0) session_.Send("Page.stopScreencast");
    StartNow();
  }
}

void Screencast::Start() { StartNow(); }

void Screencast::Resume() {
  running_ = false;
  SetViewSize(width_, height_);
  StartNow();
}

void Screencast::Stop() {
  running_ = false;
  session_.Send("Page.stopScreencast");
}

void Screencast::StartNow() {
  running_ = true;
  uint64_t gen = ++startGen_;
  framesSinceStart_ = 0;
  startUs_ = session_.NowUs();
  // Refused or not, the answer ends the frames of any earlier start: what comes after
  // it is the screencast that now runs.
  json params = {{"format", "png"}, {"everyNthFrame", 1}, {"maxWidth", width_}, {"maxHeight", height_}};
  session_.Send("Page.startScreencast", std::move(params), [this, gen](const json&, const std::string&) {
    if (startGen_ != gen) return;
    framesSinceStart_ = 0;
    answeredGen_ = gen;
  });
  ArmWatch(startUs_ + FramelessWait());
}

void Screencast::RestartNow() {
  session_.Send("Page.stopScreencast");
  StartNow();
}

uint64_t Screencast::Arrived() {
  if (answeredGen_ != startGen_) return 0;
  lastArrivalUs_ = session_.NowUs();
  ++framesSinceStart_;
  return lastArrivalUs_;
}

void Screencast::Decoded(int w, int h, uint64_t arrivedUs) {
  if (arrivedUs == 0) return;
  frameW_ = w;
  frameH_ = h;
  frameUs_ = arrivedUs;
  RestartIfSizeStuck(w, h);
  ArmWatch(Watch(session_.NowUs()));
}

void Screencast::RestartOnceForSize() {
  order_.Run([this] {
    if (running_ && !sizeRestarted_) {
      sizeRestarted_ = true;
      RestartNow();
    }
  });
}

// A screencast started again before its first frame can keep the size limit of the
// first start, so its frames never take the view's size. Once a few frames of a
// start have come at another size, the screencast is stopped and started again, at
// most once per view size (Chromium may clamp a huge view to a smaller frame).
void Screencast::RestartIfSizeStuck(int frameW, int frameH) {
  if (frameW == width_ && frameH == height_) return;
  if (framesSinceStart_ < kFramesBeforeSizeRestart || sizeRestarted_) return;
  RestartOnceForSize();
}

uint64_t Screencast::FramelessWait() const {
  return std::min(kFirstWaitUs << std::min(framelessStarts_, 3), kLongestWaitUs);
}

// Chromium sends a screencast's first frame when it is started, even for a page that
// never repaints; but when the page's first frame is captured while the target is
// still navigating (a page loaded right after a size change), the capture can fail,
// and a still page then never brings a frame. A screencast that has brought none
// within a second is stopped and started again, each retry waiting twice as long
// (at most 8 s), so a page that cannot paint (its renderer hung) costs little.
//
// A still page also brings too few frames for RestartIfSizeStuck: when the last
// frame has another size than the view and a second has passed without one, the
// screencast is started again once for that view size.
uint64_t Screencast::Watch(uint64_t nowUs) {
  if (!running_) return 0;
  if (framesSinceStart_ > 0) {
    framelessStarts_ = 0;
    if (sizeRestarted_) return 0;
    if (frameUs_ != lastArrivalUs_) return std::max(nowUs, lastArrivalUs_) + kFirstWaitUs;  // decoding
    if (frameW_ == width_ && frameH_ == height_) return 0;
    uint64_t due = lastArrivalUs_ + kFirstWaitUs;
    if (nowUs < due) return due;
    RestartOnceForSize();
    return nowUs + kFirstWaitUs;
  }
  uint64_t due = startUs_ + FramelessWait();
  if (nowUs < due) return due;
  ++framelessStarts_;
  startUs_ = nowUs;  // not again before the restart has had its time
  order_.Run([this] {
    if (running_ && framesSinceStart_ == 0) RestartNow();
  });
  return nowUs + FramelessWait();
}

// One watch is posted for the earliest time asked for; a later one that fires finds
// it still to come and only looks.
void Screencast::ArmWatch(uint64_t dueUs) {
  if (dueUs == 0 || (watchDueUs_ != 0 && watchDueUs_ <= dueUs)) return;
  watchDueUs_ = dueUs;
  session_.PostAt(dueUs, [this, dueUs] {
    if (watchDueUs_ == dueUs) watchDueUs_ = 0;
    ArmWatch(Watch(session_.NowUs()));
  });
}

}  // namespace cefeng
