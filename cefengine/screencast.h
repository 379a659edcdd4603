// A browser's screencast: its starts at the view size, the frames that belong to the
// current start, its pace, and the watch that starts it again when it brings no frame
// or keeps a frame of another size than the view. Sequence only, but for the count of
// the watch's restarts.
#pragma once
#include <atomic>
#include <cstdint>

#include "session.h"

namespace cefeng {

class Screencast {
 public:
  static constexpr uint64_t kFirstWaitUs = 1000000;   // for a start's first frame
  static constexpr uint64_t kLongestWaitUs = 8000000;  // after starts in a row without one
  static constexpr int kFramesBeforeSizeRestart = 3;
  // For a start after a commit: 50 ms, then 100 and 150 for the retries.
  static constexpr uint64_t kQuickWaitUs = 50000;
  static constexpr int kQuickRetries = 3;
  static constexpr uint64_t kCommitWaitUs = 300000;  // for a frame after the commit's first
  static constexpr int kChromiumRate = 60;  // Chromium's own frames per second
  static constexpr int kPaceWindow = 8;     // the last gaps between frames that set the pace
  static constexpr uint64_t kPaceHoldUs = 2000000;  // between two changes of pace

  Screencast(Session& session, CommandOrder& order, int frameRate = 30);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Running() const { return running_; }
  // The current start's everyNthFrame.
  int EveryNthFrame() const { return nth_; }
  // Any thread: how often the watch had to start the screencast again (it brought no
  // frame, or kept another size).
  int WatchRestarts() const { return watchRestarts_.load(); }

  // Sets the page's view size; a running screencast is started again at it.
  void SetViewSize(int w, int h);
  void Start();
  // A new page target: its size and a screencast again (the old one's frames are gone).
  void Resume();
  // The main frame committed a new document: a start that has brought no frame yet
  // is started again at once, as Chromium may have tied it to the document that went;
  // and again 300 ms later unless frames have followed the page's paints meanwhile.
  void DocumentCommitted();
  // Closing: stopped at Chromium. Halt: the page is gone, nothing is sent.
  void Stop();
  void Halt() { running_ = false; }

  // A frame came (of a page that was deviceW x deviceH then, 0: not known): the time
  // it is counted with, or 0 when it belongs to a start that Chromium has not
  // answered yet (a frame of the screencast that was stopped).
  uint64_t Arrived(int deviceW = 0, int deviceH = 0);
  // The size a counted frame (arrivedUs from Arrived) decoded to.
  void Decoded(int w, int h, uint64_t arrivedUs);
  // Looks at the screencast now; returns when to look again (0: nothing to watch).
  uint64_t Watch(uint64_t nowUs);

 private:
  void StartNow(int nth = 1);
  void RestartNow(int nth = 1);
  void RestartOnceForSize();
  void RestartIfSizeStuck(int frameW, int frameH);
  void NotePace(uint64_t gapUs);
  void RestartAtPace(int nth);
  uint64_t FramelessWait() const;
  uint64_t WatchSize(uint64_t nowUs);
  uint64_t WatchQuiet(uint64_t nowUs);
  uint64_t WatchCommit(uint64_t nowUs);
  void ArmWatch(uint64_t dueUs);

  Session& session_;
  CommandOrder& order_;
  // Chromium's frames asked for while the page renders at its full rate: every Nth,
  // so that Chromium encodes no more than the browser's frame rate.
  const int pacedNth_;
  const uint64_t pacedGapUs_;  // the mean gap below which every Nth frame is enough
  const uint64_t slowGapUs_;   // the mean paced gap above which it is not
  int nth_ = 1;
  uint64_t gaps_[kPaceWindow] = {};  // the last gaps between this start's frames
  int gapCount_ = 0;
  uint64_t paceChangedUs_ = 0;  // the last change of pace (not counting a still page's)
  std::atomic<int> watchRestarts_{0};
  int width_ = 0, height_ = 0;
  bool running_ = false;
  // A start counts as begun once Chromium has answered it.
  uint64_t startGen_ = 0;     // bumped by every start
  uint64_t answeredGen_ = 0;  // the last start Chromium has answered
  int framesSinceStart_ = 0;  // counted frames of the current start
  uint64_t lastArrivalUs_ = 0;
  uint64_t startUs_ = 0;
  int framelessStarts_ = 0;  // starts in a row that brought no frame
  int quickRetries_ = 0;     // short waits left after a commit, before the watch's own
  // The last decoded frame of the current start: its size and when it came; frameUs_
  // lags lastArrivalUs_ while a later frame is being decoded.
  int frameW_ = 0, frameH_ = 0;
  uint64_t frameUs_ = 0;
  int deviceW_ = 0, deviceH_ = 0;  // the page's size in the last counted frame
  // Started again once because its frames kept another size; cleared by a size change.
  bool sizeRestarted_ = false;
  uint64_t watchDueUs_ = 0;  // the earliest watch posted, 0: none
  uint64_t commitUs_ = 0;    // a commit that only a start's first frame has followed, 0: none
};

}  // namespace cefeng
