// The engine behind the C entry points: one headless Chromium reached over its
// DevTools pipe, the threads around it, and the registry of browsers.
//
// Threads: the pipe's reader thread ("engine reader") parses messages and posts them
// to the engine I/O thread ("engine io"), which owns the registry by session and every
// browser's state, routes the messages, runs request interception, popup decisions
// and restarts; the paint thread ("engine paint") decodes screencast frames; the main
// thread runs the notifications queued for it and delivers due paints in DoWork.
// Notifications never run under a lock of the engine.
#pragma once
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "browser.h"
#include "chromium.h"
#include "image.h"
#include "task_queue.h"

namespace cefeng {

struct EngineOptions {
  std::string executable;    // empty: $PV7_CHROMIUM, the headless shell or /usr/bin/chromium
  std::string userDataDir;   // empty: a fresh temporary folder removed at shutdown
  std::string cacheDir;      // empty: none given
  std::string locale;        // the pages' language; empty: the locale environment
  std::vector<std::string> extraArgs;
  int startTimeoutMs = 20000;
  PngDecoder decoder = PngDecoder::Deflate;
};

class Engine {
 public:
  static constexpr int kCallTimeoutMs = 10000;       // a page's set-up step
  static constexpr int kChromiumExitWaitMs = 3000;   // after Browser.close, then killed

  static Engine& Get();

  // Main thread. Starts Chromium and waits for its first reply.
  bool Start(const EngineOptions& options, std::string& error);
  // Main thread. Closes browsers and Chromium (killed after 3 s), joins every thread.
  void Shutdown();
  bool Running() const { return running_.load(); }
  // Chromium ended on its own and is not started again (the third time in a minute).
  bool Crashed() const { return crashed_.load(); }
  // How often Chromium was started again after ending on its own.
  int Restarts() const { return restarts_.load(); }
  // While Chromium is started again after a crash, browsers' commands wait.
  bool Restarting() const { return restarting_.load(); }
  int ChromiumPid() const { return chromiumPid_.load(); }
  const std::string& UserDataDir() const { return userDataDir_; }

  // Main thread: delivers queued notifications and due paints.
  void DoWork();
  // A function that makes the main thread call DoWork in `delayMs` (the library
  // hooks it to the main loop); called from any thread when a paint or a
  // notification waits, and by DoWork for a paint that is not due yet.
  using WakeFn = void (*)(int delayMs);
  void SetMainWake(WakeFn fn) { wake_ = fn; }
  void WakeMain(int delayMs = 0) {
    if (WakeFn fn = wake_.load()) fn(delayMs);
  }
  void PostMain(Task fn);
  void PostIO(Task fn);
  void PostIOAt(uint64_t dueUs, Task fn);
  void PostPaint(Task fn);
  bool OnMainThread() const { return std::this_thread::get_id() == mainThread_; }

  // Main thread, synchronous. Null when the engine is not running or creation fails.
  std::shared_ptr<Browser> CreateBrowser(std::shared_ptr<BrowserDelegate> delegate,
                                         const BrowserOptions& options, const std::string& url);

 private:
  friend class PageSession;
  Engine();
  bool UsableFolders(const EngineOptions& options, std::string& error);
  bool Launch(std::string& error);
  void StopThreads();
  void Route(json& msg);
  void RouteTargetEvent(const std::string& method, const json& params);
  void OnPipeClosed();
  void Restart();
  void GiveUp(const std::vector<std::shared_ptr<Browser>>& browsers);
  bool AttachBrowser(Browser& b);
  void SetUpBrowser(Browser& b);
  template <class F>
  bool RunOnIO(F fn);
  std::vector<std::shared_ptr<Browser>> Registered();
  std::shared_ptr<Browser> FindSession(const std::string& sessionId);
  std::shared_ptr<Browser> FindTarget(const std::string& targetId);
  void Forget(const std::shared_ptr<Browser>& b);     // engine I/O thread
  void ForgetOnMain(const std::shared_ptr<Browser>& b);

  // Status read by any thread.
  std::atomic<bool> running_{false};
  std::atomic<bool> crashed_{false};
  std::atomic<bool> stopping_{false};    // Shutdown has begun: no more restarts
  std::atomic<bool> restarting_{false};  // a restart is queued or under way
  std::atomic<int> restarts_{0};
  std::atomic<int> chromiumPid_{-1};
  std::atomic<WakeFn> wake_{nullptr};

  // Written by Start before any other thread exists.
  std::string exe_;
  bool beginFrames_ = false;  // Chromium draws only when asked (set at start)
  std::vector<std::string> args_;
  int startTimeoutMs_ = 20000;
  std::string userDataDir_;
  bool ownUserDataDir_ = false;
  std::thread::id mainThread_;
  PngDecoder decoder_ = PngDecoder::Deflate;
  // Set by Start and cleared by Shutdown on the main thread while other threads
  // (answers, helpers, the pipe's reader) may still post. A poster takes its own
  // reference under the lock and posts outside it, so that a closure dropped by a
  // stopped queue (which may post in its destructor) never runs under the lock.
  std::mutex threadsMutex_;  // guards io_ and paint_ (the pointers, not the queues)
  std::shared_ptr<WorkThread> io_;
  std::shared_ptr<WorkThread> paint_;
  std::shared_ptr<WorkThread> Thread(const std::shared_ptr<WorkThread>& which);

  // Engine I/O thread (and Start and Shutdown while it has nothing to run).
  RunningChromium chromium_;
  RestartPolicy restartPolicy_;
  std::map<std::string, std::shared_ptr<Browser>> bySession_;

  // Main thread.
  MainQueue mainQueue_;  // posted to by any thread
  std::vector<std::shared_ptr<Browser>> browsers_;
  int nextBrowserId_ = 1;
  bool inDoWork_ = false;
};

}  // namespace cefeng
