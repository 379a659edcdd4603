// The engine behind the C entry points: one headless Chromium reached over its
// DevTools pipe, the threads around it, and one Browser per page target.
//
// Threads: the pipe's reader thread parses messages and routes them; the engine I/O
// thread runs request interception and popup decisions; the paint thread decodes
// screencast frames; every other notification is queued for the main thread and
// delivered, in arrival order, by Engine::DoWork. Notifications never run under a
// lock of the engine.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bridge.h"
#include "devtools.h"
#include "image.h"
#include "mapping.h"

namespace cefeng {

// A queue of closures run in order by one thread of its own.
class WorkThread {
 public:
  explicit WorkThread(const char* name);
  ~WorkThread();
  void Post(std::function<void()> fn);
  void Stop();  // runs what is queued, then joins
  bool OnThread() const { return std::this_thread::get_id() == id_; }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> q_;
  bool stop_ = false;
  std::thread t_;
  std::thread::id id_;
};

struct HeaderList {
  std::vector<std::pair<std::string, std::string>> items;
};

// A paused request as the request handler sees it.
struct RequestInfo {
  std::string url;
  std::string method;
  HeaderList headers;
  std::string resourceType;
  int64_t frameId = 0;
};

enum ResourceAnswer { kAnswerCancel = 0, kAnswerContinue = 1, kAnswerAsync = 2 };

class Browser;

// What a browser's owner hears. Unless noted, calls come on the main thread, inside
// Engine::DoWork.
class BrowserDelegate {
 public:
  virtual ~BrowserDelegate() = default;
  // Fills the view rectangle; false when not provided.
  virtual bool GetViewRect(Rect&) { return false; }
  virtual bool GetRootScreenRect(Rect&) { return false; }
  virtual void OnAfterCreated() {}
  virtual void OnPaint(const std::vector<Rect>&, const uint8_t*, int, int) {}
  virtual void OnCursorChange(int) {}
  virtual void OnLoadingStateChange(bool, bool, bool) {}
  virtual void OnLoadStart(int64_t) {}
  virtual void OnLoadEnd(int64_t, int) {}
  virtual void OnLoadError(int64_t, int, const std::string&, const std::string&) {}
  virtual void OnAddressChange(int64_t, const std::string&) {}
  virtual void OnTitleChange(const std::string&) {}
  virtual bool OnConsoleMessage(const std::string&, const std::string&, int) { return false; }
  virtual void OnRenderProcessTerminated(int) {}
  virtual void OnBeforeClose() {}
  // Engine I/O thread. `complete` is for kAnswerAsync: call it once, from any thread,
  // with true to continue (with the headers as they are then) or false to cancel.
  virtual int OnBeforeResourceLoad(std::shared_ptr<RequestInfo>, std::function<void(bool)>) {
    return kAnswerContinue;
  }
  virtual bool WantsRequests() { return false; }
  // Engine I/O thread; true cancels the new window.
  virtual bool OnBeforePopup(int64_t, const std::string&, const std::string&, bool) {
    return false;
  }
};

struct BrowserOptions {
  int frameRate = 30;
  bool javascript = true;
  bool images = true;
  uint32_t backgroundColor = 0;  // ARGB; 0 keeps the page's own
  bool hasBackground = false;
  // The browser's render helper: its extensions run in every document, and their
  // native functions are answered by it.
  std::shared_ptr<RenderHelper> helper;
  int helperWaitMs = 5000;  // for the helper's extension list
};

// Chromium's command line flags for a run with that user data folder and the
// engine's `locale` setting (the cache folder, the options' extra flags and the
// start page come on top).
std::vector<std::string> ChromiumArgs(const std::string& userDataDir,
                                      const std::string& locale = std::string());

// The environment variables that keep Chromium's own configuration and cache
// folders inside the user data folder.
std::vector<std::string> FolderEnvironment(const std::string& userDataDir);

struct EngineOptions {
  std::string executable;    // empty: $PV7_CHROMIUM or /usr/bin/chromium
  std::string userDataDir;   // empty: a fresh temporary folder removed at shutdown
  std::string cacheDir;      // empty: none given
  std::string locale;        // the pages' language; empty: the locale environment
  std::vector<std::string> extraArgs;
  int startTimeoutMs = 20000;
  PngDecoder decoder = PngDecoder::Deflate;
};

class Engine {
 public:
  static Engine& Get();

  // Main thread. Starts Chromium and waits for its first reply.
  bool Start(const EngineOptions& options, std::string& error);
  // Main thread. Closes browsers and Chromium (kill after 3 s), joins every thread.
  void Shutdown();
  bool Running() const { return running_.load(); }
  // Chromium ended on its own and is not started again (the third time in a minute).
  bool Crashed() const { return crashed_.load(); }
  // How often Chromium was started again after ending on its own.
  int Restarts() const { return restarts_.load(); }
  // While Chromium is started again after a crash, browsers hold their commands.
  bool Restarting() const { return restarting_.load(); }
  int ChromiumPid() const { return child_pid_.load(); }
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
  void PostMain(std::function<void()> fn);
  void PostIO(std::function<void()> fn);
  bool OnMainThread() const { return std::this_thread::get_id() == mainThread_; }

  // Main thread, synchronous. Null when the engine is not running or creation fails.
  std::shared_ptr<Browser> CreateBrowser(std::shared_ptr<BrowserDelegate> delegate,
                                         const BrowserOptions& options, const std::string& url);

  // The pipe to the running Chromium; a restart replaces it, so callers keep the
  // reference only while they use it.
  std::shared_ptr<DevToolsPipe> Pipe();
  PngDecoder Decoder() const { return decoder_; }
  void Forget(Browser* b);

 private:
  Engine() = default;
  void OnEvent(json& msg);
  void OnPipeClosed();
  bool UsableFolders(const EngineOptions& options, std::string& error);
  bool LaunchChromium(std::string& error);
  void StopChromium();
  bool AttachBrowser(Browser& b);
  void SetUpBrowser(Browser& b);
  void Restart();
  bool CountCrash();
  void GiveUp(const std::vector<std::shared_ptr<Browser>>& browsers);
  std::vector<std::shared_ptr<Browser>> Browsers();
  std::shared_ptr<Browser> FindSession(const std::string& sessionId);
  std::shared_ptr<Browser> FindTarget(const std::string& targetId);

  std::atomic<bool> running_{false};
  std::atomic<bool> crashed_{false};
  std::atomic<bool> stopping_{false};    // Shutdown has begun: no more restarts
  std::atomic<bool> restarting_{false};  // a restart is queued or under way
  std::atomic<int> restarts_{0};
  std::atomic<int> child_pid_{-1};
  // What Chromium is started with; written by Start before any other thread exists.
  std::string exe_;
  std::vector<std::string> args_;
  int startTimeoutMs_ = 20000;
  std::string userDataDir_;
  bool ownUserDataDir_ = false;
  std::thread::id mainThread_;
  std::mutex pipeMutex_;  // guards pipe_ (replaced by a restart on the engine I/O thread)
  std::shared_ptr<DevToolsPipe> pipe_;
  // Held by a restart while it runs; Shutdown takes it to wait for one. The crash
  // times are written only under it (engine I/O thread).
  std::mutex restartMutex_;
  std::deque<uint64_t> crashTimesMs_;
  std::unique_ptr<WorkThread> io_;
  std::unique_ptr<WorkThread> paint_;
  PngDecoder decoder_ = PngDecoder::Deflate;

  std::atomic<WakeFn> wake_{nullptr};
  std::mutex mainMutex_;
  std::deque<std::function<void()>> mainQueue_;
  std::atomic<bool> inDoWork_{false};

  std::mutex browsersMutex_;
  std::map<std::string, std::shared_ptr<Browser>> bySession_;
  int nextBrowserId_ = 1;

  friend class Browser;
};

class Browser : public std::enable_shared_from_this<Browser> {
 public:
  Browser(int id, std::shared_ptr<BrowserDelegate> delegate, const BrowserOptions& options);
  int Id() const { return id_; }
  bool Valid() const { return alive_.load(); }
  // A restart of Chromium gives the browser a new target and session.
  std::string SessionId() const;
  std::string TargetId() const;
  // The render helper's process id; -1 when the browser has none.
  int HelperPid() const { return helper_ ? helper_->Pid() : -1; }
  int64_t MainFrameId();
  std::shared_ptr<BrowserDelegate> Delegate() const { return delegate_; }
  int ViewWidth() const { return width_.load(); }
  int ViewHeight() const { return height_.load(); }

  // Any thread; order of calls is kept (one pipe, written in call order).
  void WasResized();
  void SendMouseClick(const MouseInput& e, int button, bool up, int clickCount);
  void SendMouseMove(const MouseInput& e, bool leave);
  void SendMouseWheel(const MouseInput& e, int dx, int dy);
  void SendKey(const KeyInput& e);
  void SendFocus(bool focus);
  void LoadUrl(int64_t frameId, const std::string& url);
  void LoadString(int64_t frameId, const std::string& html, const std::string& url);
  void ExecuteJavaScript(int64_t frameId, const std::string& code, const std::string& url,
                         int startLine);
  void StopLoad();
  void Close();
  bool FrameValid(int64_t frameId);
  std::string FrameUrl(int64_t frameId);
  std::string FrameName(int64_t frameId);

  // Engine internals.
  void HandleEvent(const std::string& method, json& params);
  // Reader thread, in pipe order: counts a frame of the current screencast start and
  // returns when it came (0: a frame of a screencast already stopped).
  uint64_t FrameArrived();
  void HandleFrame(json params, uint64_t arrivedUs);  // paint thread
  // Main thread. Delivers the waiting paint if it is due; else returns when it is
  // (0: no paint waits).
  uint64_t DeliverPaint(uint64_t nowUs);
  // Main thread. Starts the screencast again when no frame has come since it was
  // started, or when a still page's last frame kept another size than the view;
  // returns when to look again (0: nothing to watch).
  uint64_t WatchScreencast(uint64_t nowUs);
  void Terminated(int status);
  void PopupTargetCreated(const std::string& targetId);
  struct PaintState;

 private:
  friend class Engine;
  int64_t FrameIdFor(const std::string& devtoolsId);
  std::string DevToolsFrame(int64_t id);
  void Send(const std::string& method, json params);
  void ApplyViewSize(int w, int h);
  void ApplyViewSizeNow(int w, int h);
  void StartScreencast();
  void StartScreencastNow();
  void RestartScreencastNow();  // stop, then start at the view size
  void SendNow(const std::string& method, json params);
  void Ordered(std::function<void()> fn);
  Rect AskViewRect();
  std::recursive_mutex orderMutex_;
  int barriers_ = 0;
  std::deque<std::function<void()>> held_;
  std::atomic<bool> screencasting_{false};
  // Frames of the current start only: a start counts as begun once Chromium has
  // answered it, so frames of the stopped screencast that were still on the way are
  // not taken for frames of the new one (reader thread counts; reply resets).
  std::atomic<int> framesSinceStart_{0};  // screencast frames since the last start
  std::atomic<uint64_t> startGen_{0};  // bumped by every start
  std::atomic<uint64_t> answeredGen_{0};  // the last start Chromium has answered
  std::atomic<uint64_t> lastArrivalUs_{0};  // when the last counted frame came
  std::atomic<uint64_t> screencastStartUs_{0};  // when the screencast was last started
  std::atomic<int> frameLessStarts_{0};  // starts in a row that brought no frame
  // The size of the last decoded frame of the current start and when it came (paint
  // thread); frameUs_ lags lastArrivalUs_ while that frame is still being decoded.
  std::atomic<int> frameW_{0}, frameH_{0};
  std::atomic<uint64_t> frameUs_{0};
  // Whether the screencast was restarted once because its frames kept another size
  // than the view's; cleared by every view size change.
  std::atomic<bool> sizeRestarted_{false};
  void RestartScreencastIfSizeStuck(int frameW, int frameH);
  void RequestPaused(json params);
  void BridgeRequest(json params);  // a call of a native function from a page
  void WindowOpen(json params);
  void ConsoleCalled(const json& params);
  void ExceptionThrown(const json& params);
  void UpdateCursor(int x, int y);
  void ResolvePopups();
  void Resume();
  void HoldCommands();
  void ReleaseCommands();
  void Reattached(const std::string& targetId, const std::string& sessionId);
  void SetMainFrame(const std::string& devtoolsId);
  std::string LastAddress();

  const int id_;
  std::shared_ptr<BrowserDelegate> delegate_;
  BrowserOptions options_;
  mutable std::mutex idMutex_;  // guards targetId_ and sessionId_
  std::string targetId_;
  std::string sessionId_;
  std::atomic<bool> alive_{false};
  std::atomic<int> width_{0}, height_{0};

  std::mutex framesMutex_;
  std::map<std::string, int64_t> frameIds_;
  std::map<int64_t, std::string> frameNames_;  // devtools id by our id
  std::map<int64_t, std::string> frameUrls_;
  std::map<int64_t, std::string> frameWindowNames_;
  std::map<std::string, int> contexts_;  // default execution context by devtools frame
  std::map<std::string, int> docStatus_;
  std::map<std::string, bool> errorPage_;
  std::map<std::string, std::string> docUrls_;    // document request id -> url
  std::map<std::string, std::string> docFrames_;  // document request id -> frame
  std::string lastErrorUrl_;
  int lastErrorCode_ = 0;
  int64_t lastErrorFrame_ = 0;
  uint64_t lastErrorMs_ = 0;
  int64_t nextFrameId_ = 1;
  std::string mainFrame_;
  std::string title_;

  // Popups: decisions and new targets matched in order.
  std::mutex popupMutex_;
  std::deque<bool> popupDecisions_;  // true: close
  std::deque<std::string> popupTargets_;

  // Cursor: one lookup in flight, the newest position waits.
  std::mutex cursorMutex_;
  bool cursorBusy_ = false;
  bool cursorQueued_ = false;
  int cursorX_ = 0, cursorY_ = 0;
  int lastCursor_ = -1;

  std::shared_ptr<PaintState> paint_;
  std::shared_ptr<RenderHelper> helper_;
};

}  // namespace cefeng
