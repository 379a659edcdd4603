#include "screencast.h"

#include <algorithm>

namespace cefeng {

namespace {
constexpr uint64_t kChromiumFrameUs = 1000000 / Screencast::kChromiumRate;

// The earlier of two watch times, 0 standing for none.
uint64_t Earliest(uint64_t a, uint64_t b) { return a == 0 ? b : b == 0 ? a : std::min(a, b); }
}  // namespace

// Paced only while every Nth frame still gives 90% of the frame rate; every frame
// again below 80% of it.
Screencast::Screencast(Session& session, CommandOrder& order, int frameRate)
    : session_(session), order_(order), pacedNth_(std::max(1, kChromiumRate / std::max(1, frameRate))),
      pacedGapUs_(uint64_t(1e6 / (0.9 * std::max(1, frameRate) * pacedNth_))),
      slowGapUs_(uint64_t(1e6 / (0.8 * std::max(1, frameRate)))) {}

void Screencast::SetViewSize(int w, int h) {
  width_ = w;
  height_ = h;
  sizeRestarted_ = false;
  session_.Send("Emulation.setDeviceMetricsOverride",
                {{"width", w}, {"height", h}, {"deviceScaleFactor", 1}, {"mobile", false}});
  // The screencast keeps the frame size it started with: it is stopped and started
  // again at the new size, also before its first frame (a start alone then keeps
  // the first start's size limit, and a still page's frame comes at that size).
  if (running_) {
    session_.Send("Page.stopScreencast");
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

// Every start but a change of pace asks for every frame: Chromium counts a start's
// first frame too, so at every second frame a still page would bring none.
void Screencast::StartNow(int nth) {
  running_ = true;
  uint64_t gen = ++startGen_;
  framesSinceStart_ = 0;
  nth_ = nth;
  gapCount_ = 0;
  startUs_ = session_.NowUs();
  // Refused or not, the answer ends the frames of any earlier start: what comes after
  // it is the screencast that now runs.
  json params = {{"format", "png"}, {"everyNthFrame", nth}, {"maxWidth", width_}, {"maxHeight", height_}};
  session_.Send("Page.startScreencast", std::move(params), [this, gen](const json&, const std::string&) {
    if (startGen_ != gen) return;
    framesSinceStart_ = 0;
    answeredGen_ = gen;
  });
  ArmWatch(startUs_ + FramelessWait());
}

void Screencast::RestartNow(int nth) {
  session_.Send("Page.stopScreencast");
  StartNow(nth);
}

// A screencast started while a navigation was on its way sends nothing for the new
// document; started again after the commit, its first frame shows that document.
// Chromium can miss that start too while the document is being drawn, so it is tried
// again after short waits, each longer than the one before (a start's frame comes
// with the next frame drawn, a beat later), three times, before the watch's own.
void Screencast::DocumentCommitted() {
  if (!running_) return;
  commitUs_ = session_.NowUs();
  ArmWatch(commitUs_ + kCommitWaitUs);
  if (framesSinceStart_ > 0) return;
  order_.Run([this] {
    if (!running_ || framesSinceStart_ > 0) return;
    quickRetries_ = kQuickRetries;
    RestartNow();
  });
}

uint64_t Screencast::Arrived(int deviceW, int deviceH) {
  if (answeredGen_ != startGen_) return 0;
  deviceW_ = deviceW;
  deviceH_ = deviceH;
  uint64_t nowUs = session_.NowUs();
  if (framesSinceStart_ > 0) {
    NotePace(nowUs - lastArrivalUs_);
    commitUs_ = 0;  // frames follow the page's paints
  }
  lastArrivalUs_ = nowUs;
  ++framesSinceStart_;
  return lastArrivalUs_;
}

// A page that renders at Chromium's full rate is asked for every Nth frame only, so
// Chromium encodes (and the library decodes) no more than the frame rate. When the
// paced frames come at well under the frame rate, it is asked for every frame again:
// a page (or a loaded machine) that now renders more slowly would lose frames.
void Screencast::NotePace(uint64_t gapUs) {
  gaps_[gapCount_ % kPaceWindow] = gapUs;
  if (++gapCount_ >= 2 * kPaceWindow) gapCount_ = kPaceWindow;
  if (gapCount_ < kPaceWindow || pacedNth_ == 1) return;
  // A loaded machine renders near the limits: the pace changes at most every 2 s,
  // as each change costs the frames of a restart.
  const uint64_t nowUs = session_.NowUs();
  if (paceChangedUs_ != 0 && nowUs < paceChangedUs_ + kPaceHoldUs) return;
  uint64_t sum = 0;
  for (uint64_t g : gaps_) sum += g;
  const uint64_t mean = sum / kPaceWindow;
  int nth = nth_;
  if (nth_ == 1 && mean < pacedGapUs_)
    nth = pacedNth_;
  else if (nth_ > 1 && mean > slowGapUs_)
    nth = 1;
  if (nth == nth_) return;
  paceChangedUs_ = nowUs;
  RestartAtPace(nth);
}

// After the frame that asked for it is counted, and behind waiting commands.
void Screencast::RestartAtPace(int nth) {
  session_.Post([this, nth] {
    order_.Run([this, nth] {
      if (running_ && nth_ != nth && framesSinceStart_ > 0) RestartNow(nth);
    });
  });
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
      ++watchRestarts_;
      RestartNow();
    }
  });
}

// A screencast started again before its first frame can keep the size limit of the
// first start, so its frames never take the view's size. Once a few frames of a
// start have come at another size, the screencast is stopped and started again, at
// most once per view size (Chromium may clamp a huge view to a smaller frame). Frames
// of a page that has not taken the view's size yet (a slow renderer) are not stuck.
void Screencast::RestartIfSizeStuck(int frameW, int frameH) {
  if (frameW == width_ && frameH == height_) return;
  if (deviceW_ > 0 && (deviceW_ != width_ || deviceH_ != height_)) return;
  if (framesSinceStart_ < kFramesBeforeSizeRestart || sizeRestarted_) return;
  RestartOnceForSize();
}

uint64_t Screencast::FramelessWait() const {
  if (quickRetries_ > 0) return kQuickWaitUs * uint64_t(kQuickRetries + 1 - quickRetries_);
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
    quickRetries_ = 0;
    return Earliest(Earliest(WatchSize(nowUs), WatchQuiet(nowUs)), WatchCommit(nowUs));
  }
  uint64_t due = startUs_ + FramelessWait();
  if (nowUs < due) return due;
  const bool quick = quickRetries_ > 0;
  if (quick)
    --quickRetries_;
  else
    ++framelessStarts_;
  startUs_ = nowUs;  // not again before the restart has had its time
  order_.Run([this, quick] {
    if (running_ && framesSinceStart_ == 0) {
      if (!quick) ++watchRestarts_;  // the counted ones are the last resort's
      RestartNow();
    }
  });
  return nowUs + FramelessWait();
}

uint64_t Screencast::WatchSize(uint64_t nowUs) {
  if (sizeRestarted_) return 0;
  if (frameUs_ != lastArrivalUs_) return std::max(nowUs, lastArrivalUs_) + kFirstWaitUs;  // decoding
  if (frameW_ == width_ && frameH_ == height_) return 0;
  uint64_t due = lastArrivalUs_ + kFirstWaitUs;
  if (nowUs < due) return due;
  RestartOnceForSize();
  return nowUs + kFirstWaitUs;
}

// A paced screencast skips frames: the last change of a page that has gone still may
// be one of them. Once no frame has come for three paced gaps, the screencast is
// started again at every frame, which brings the page as it is now.
uint64_t Screencast::WatchQuiet(uint64_t nowUs) {
  if (nth_ == 1) return 0;
  uint64_t due = lastArrivalUs_ + 3 * uint64_t(nth_) * kChromiumFrameUs;
  if (nowUs < due) return due;
  RestartAtPace(1);
  return 0;
}

// A start's first frame shows what Chromium has drawn when it starts; a start around
// a commit can get the document that went, and then miss the new document's paints.
// So when nothing but a start's first frame has come within 300 ms of the commit, the
// screencast is started again once, now that the new document shows: a still page
// costs one frame more per address.
uint64_t Screencast::WatchCommit(uint64_t nowUs) {
  if (commitUs_ == 0) return 0;
  const uint64_t due = commitUs_ + kCommitWaitUs;
  if (nowUs < due) return due;
  commitUs_ = 0;
  order_.Run([this] {
    if (running_) RestartNow();
  });
  return 0;
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
