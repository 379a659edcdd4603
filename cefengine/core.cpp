#include "core.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "identity.h"
#include "os_process.h"

namespace cefeng {

// ---------------------------------------------------------------- WorkThread

WorkThread::WorkThread(const char*) {
  t_ = std::thread([this] {
    for (;;) {
      std::function<void()> fn;
      {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [this] { return stop_ || !q_.empty(); });
        if (q_.empty()) return;
        fn = std::move(q_.front());
        q_.pop_front();
      }
      fn();
    }
  });
  id_ = t_.get_id();
}

WorkThread::~WorkThread() { Stop(); }

void WorkThread::Post(std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(m_);
  if (stop_) return;
  q_.push_back(std::move(fn));
  cv_.notify_one();
}

void WorkThread::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
    cv_.notify_one();
  }
  if (t_.joinable() && std::this_thread::get_id() != t_.get_id()) t_.join();
}

// ---------------------------------------------------------------- paint state

struct Browser::PaintState {
  std::mutex m;
  std::shared_ptr<std::vector<uint8_t>> prev;  // last decoded frame, immutable
  int prevW = 0, prevH = 0;
  std::shared_ptr<std::vector<uint8_t>> pending;  // undelivered paint (newest pixels)
  std::vector<Rect> pendingRects;
  int pendingW = 0, pendingH = 0;
  bool heldAck = false;
  int heldAckId = 0;
  uint64_t nextDueUs = 0;
  std::vector<std::shared_ptr<std::vector<uint8_t>>> pool;
  std::vector<uint8_t> png;
};

// ---------------------------------------------------------------- Engine

Engine& Engine::Get() {
  // Never destroyed: threads may still exist at process exit when the host skips
  // cef_shutdown.
  static Engine* engine = new Engine;
  return *engine;
}

namespace {

std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  return CurrentDirectory() + "/" + path;
}

}  // namespace

std::vector<std::string> ChromiumArgs(const std::string& userDataDir, const std::string& locale) {
  std::vector<std::string> args = {"--headless",
                                   "--disable-gpu",
                                   "--no-first-run",
                                   "--no-default-browser-check",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--disable-popup-blocking",
                                   "--disable-background-timer-throttling",
                                   "--disable-renderer-backgrounding",
                                   "--disable-backgrounding-occluded-windows",
                                   // One process per page: cross-site frames stay in the
                                   // page's target, so its scripts, request hook and
                                   // console reach them too.
                                   "--disable-site-isolation-trials",
                                   "--remote-debugging-pipe",
                                   "--user-data-dir=" + userDataDir};
  if (RunningAsRoot()) args.push_back("--no-sandbox");
  for (std::string& flag : IdentityFlags(locale, ProcessEnv)) args.push_back(std::move(flag));
  return args;
}

bool Engine::Start(const EngineOptions& options, std::string& error) {
  if (running_) return true;
  mainThread_ = std::this_thread::get_id();
  decoder_ = options.decoder;
  crashed_ = false;
  stopping_ = false;
  restarts_ = 0;
  crashTimesMs_.clear();
  // The Chromium executable: the option, else the environment variable PV7_CHROMIUM,
  // else /usr/bin/chromium. PV7_CHROMIUM_LOG=1 keeps Chromium's own output.
  exe_ = options.executable;
  if (exe_.empty()) exe_ = GetEnv("PV7_CHROMIUM");
  if (exe_.empty()) exe_ = "/usr/bin/chromium";
  startTimeoutMs_ = options.startTimeoutMs;
  userDataDir_ = Absolute(options.userDataDir);
  ownUserDataDir_ = false;
  if (userDataDir_.empty()) {
    userDataDir_ = MakeTempDir("pv7-chromium-");
    ownUserDataDir_ = true;
    if (userDataDir_.empty()) {
      error = "cannot create a temporary user data folder";
      return false;
    }
  }
  if (!UsableFolders(options, error)) return false;
  args_ = ChromiumArgs(userDataDir_, options.locale);
  if (!options.cacheDir.empty()) args_.push_back("--disk-cache-dir=" + Absolute(options.cacheDir));
  for (const std::string& a : options.extraArgs) args_.push_back(a);
  args_.push_back("about:blank");

  io_ = std::make_unique<WorkThread>("engine-io");
  paint_ = std::make_unique<WorkThread>("engine-paint");
  if (!LaunchChromium(error)) {
    io_->Stop();
    paint_->Stop();
    io_.reset();
    paint_.reset();
    if (ownUserDataDir_) RemoveTree(userDataDir_);
    return false;
  }
  running_ = true;
  return true;
}

// Chromium keeps some files outside its user data folder (its crash reports, the
// desktop's caches) in the user's configuration and cache folders: they are moved
// into the user data folder, so nothing of the user's own is touched.
std::vector<std::string> FolderEnvironment(const std::string& userDataDir) {
  return {"XDG_CONFIG_HOME=" + userDataDir + "/xdg-config",
          "XDG_CACHE_HOME=" + userDataDir + "/xdg-cache"};
}

// The folders the caller gave must be usable as they are: Chromium, given a user
// data folder it cannot write, would fall back to the user's own profile.
bool Engine::UsableFolders(const EngineOptions& options, std::string& error) {
  std::string why;
  if (!ownUserDataDir_ && !WritableFolder(userDataDir_, why)) {
    error = "the user data folder cannot be used: " + why;
    return false;
  }
  if (!options.cacheDir.empty() && !WritableFolder(Absolute(options.cacheDir), why)) {
    error = "the cache folder cannot be used: " + why;
    return false;
  }
  return true;
}

// Starts Chromium on the pipe and waits for its first reply; on success the new pipe
// is the engine's. Runs on the main thread (Start) or the engine I/O thread (a
// restart): Chromium dies with the thread that launched it, and both live as long as
// the engine.
bool Engine::LaunchChromium(std::string& error) {
  ChildProcess child;
  bool quiet = GetEnv("PV7_CHROMIUM_LOG").empty();
  std::vector<std::string> environment = ChromiumEnvironment(ProcessEnv);
  for (std::string& v : FolderEnvironment(userDataDir_)) environment.push_back(std::move(v));
  if (!LaunchWithPipe(exe_, args_, quiet, child, error, environment)) return false;
  auto pipe = std::make_shared<DevToolsPipe>(
      child.toChild, child.fromChild, [this](json& m) { OnEvent(m); }, [this] { OnPipeClosed(); });
  json version;
  std::string why;
  if (!pipe->Call("Browser.getVersion", json::object(), "", &version, startTimeoutMs_, &why)) {
    error = "Chromium (" + exe_ + ") did not answer: " + why;
    pipe->Stop();
    KillProcessTree(child.pid);
    return false;
  }
  LearnIdentity(*pipe, version, args_, std::min(startTimeoutMs_, 5000));
  pipe->Send("Target.setDiscoverTargets", {{"discover", true}});
  child_pid_ = child.pid;
  std::lock_guard<std::mutex> lock(pipeMutex_);
  pipe_ = std::move(pipe);
  return true;
}

std::shared_ptr<DevToolsPipe> Engine::Pipe() {
  std::lock_guard<std::mutex> lock(pipeMutex_);
  return pipe_;
}

// Stops the pipe's reader and ends Chromium with its whole process group.
void Engine::StopChromium() {
  if (auto pipe = Pipe()) pipe->Stop();
  int pid = child_pid_.exchange(-1);
  if (pid > 0) KillProcessTree(pid);
}

std::vector<std::shared_ptr<Browser>> Engine::Browsers() {
  std::vector<std::shared_ptr<Browser>> browsers;
  std::lock_guard<std::mutex> lock(browsersMutex_);
  for (auto& [s, b] : bySession_) browsers.push_back(b);
  return browsers;
}

void Engine::Shutdown() {
  if (!Pipe()) return;
  stopping_ = true;
  running_ = false;
  // A restart under way stops at its next step and one still queued does nothing;
  // after this the pipe and the child are final.
  { std::lock_guard<std::mutex> wait(restartMutex_); }
  std::vector<std::shared_ptr<Browser>> browsers = Browsers();
  for (auto& b : browsers) {
    b->alive_ = false;
    if (b->helper_) b->helper_->Close();
  }
  std::shared_ptr<DevToolsPipe> pipe = Pipe();
  if (!pipe->Closed()) {
    for (auto& b : browsers) pipe->Send("Target.closeTarget", {{"targetId", b->TargetId()}});
    pipe->Send("Browser.close");
    WaitForExit(child_pid_, 3000);
  }
  StopChromium();  // what is left of it, its process group included
  io_->Stop();
  paint_->Stop();
  {
    std::lock_guard<std::mutex> lock(browsersMutex_);
    bySession_.clear();
  }
  {
    std::lock_guard<std::mutex> lock(mainMutex_);
    mainQueue_.clear();
  }
  {
    std::lock_guard<std::mutex> lock(pipeMutex_);
    pipe_.reset();
  }
  io_.reset();
  paint_.reset();
  restarting_ = false;
  if (ownUserDataDir_) RemoveTree(userDataDir_);
}

void Engine::PostMain(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(mainMutex_);
    mainQueue_.push_back(std::move(fn));
  }
  WakeMain();
}

void Engine::PostIO(std::function<void()> fn) {
  if (io_) io_->Post(std::move(fn));
}

void Engine::DoWork() {
  if (inDoWork_.exchange(true)) return;
  std::deque<std::function<void()>> work;
  {
    std::lock_guard<std::mutex> lock(mainMutex_);
    work.swap(mainQueue_);
  }
  for (auto& fn : work) fn();
  std::vector<std::shared_ptr<Browser>> browsers = Browsers();
  uint64_t now = MonotonicUs();
  uint64_t next = 0;  // the earliest paint not yet due
  for (auto& b : browsers) {
    for (uint64_t due : {b->DeliverPaint(now), b->WatchScreencast(now)})
      if (due != 0 && (next == 0 || due < next)) next = due;
  }
  if (next != 0) WakeMain(int((next > now ? next - now : 0) / 1000));
  inDoWork_ = false;
}

std::shared_ptr<Browser> Engine::FindSession(const std::string& sessionId) {
  std::lock_guard<std::mutex> lock(browsersMutex_);
  auto it = bySession_.find(sessionId);
  return it == bySession_.end() ? nullptr : it->second;
}

std::shared_ptr<Browser> Engine::FindTarget(const std::string& targetId) {
  std::lock_guard<std::mutex> lock(browsersMutex_);
  for (auto& [s, b] : bySession_)
    if (b->TargetId() == targetId) return b;
  return nullptr;
}

void Engine::Forget(Browser* browser) {
  std::lock_guard<std::mutex> lock(browsersMutex_);
  bySession_.erase(browser->SessionId());
}

namespace {

bool IsBridgeRequest(const json& params) {
  if (!params.is_object()) return false;
  auto r = params.find("request");
  if (r == params.end() || !r->is_object()) return false;
  auto u = r->find("url");
  if (u == r->end() || !u->is_string()) return false;
  const std::string& url = u->get_ref<const std::string&>();
  static const std::string prefix = kBridgeUrl;
  return url.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

void Engine::OnEvent(json& msg) {
  const std::string method = msg.value("method", "");
  json& params = msg["params"];
  std::string session = msg.value("sessionId", "");
  if (session.empty()) {
    if (method == "Target.targetCreated" || method == "Target.targetInfoChanged") {
      if (!params.contains("targetInfo") || !params["targetInfo"].is_object()) return;
      json& info = params["targetInfo"];
      std::string targetId = info.value("targetId", "");
      if (method == "Target.targetCreated") {
        std::string opener = info.value("openerId", "");
        if (opener.empty()) return;
        auto b = FindTarget(opener);
        if (!b) return;
        std::weak_ptr<Browser> w = b;
        PostIO([w, targetId] {
          if (auto b = w.lock()) b->PopupTargetCreated(targetId);
        });
      } else if (auto b = FindTarget(targetId)) {
        b->HandleEvent(method, info);
      }
    }
    return;
  }
  auto b = FindSession(session);
  if (!b) return;
  std::weak_ptr<Browser> w = b;
  if (method == "Page.screencastFrame") {
    paint_->Post([w, p = std::move(params), arrived = b->FrameArrived()]() mutable {
      if (auto b = w.lock()) b->HandleFrame(std::move(p), arrived);
    });
  } else if (method == "Fetch.requestPaused" && IsBridgeRequest(params)) {
    // The library's own address: answered by the browser's render helper, never by
    // the network or the client's request handler.
    b->BridgeRequest(std::move(params));
  } else if (method == "Fetch.requestPaused") {
    PostIO([w, p = std::move(params)]() mutable {
      if (auto b = w.lock()) b->RequestPaused(std::move(p));
    });
  } else if (method == "Page.windowOpen") {
    PostIO([w, p = std::move(params)]() mutable {
      if (auto b = w.lock()) b->WindowOpen(std::move(p));
    });
  } else if (method == "Inspector.targetCrashed") {
    b->Terminated(2);
  } else {
    b->HandleEvent(method, params);
  }
}

// Pipe reader thread: Chromium went away on its own. Browsers hold their commands
// while the engine I/O thread starts it again, unless this is the third crash within
// a minute.
void Engine::OnPipeClosed() {
  if (!running_ || stopping_) return;
  if (restarting_.exchange(true)) return;
  for (auto& b : Browsers()) b->HoldCommands();
  PostIO([this] { Restart(); });
}

// Notes a crash; false when it is the third within a minute.
bool Engine::CountCrash() {
  constexpr uint64_t kWindowMs = 60000;
  constexpr size_t kMaxCrashes = 3;
  uint64_t now = MonotonicMs();
  crashTimesMs_.push_back(now);
  while (!crashTimesMs_.empty() && now - crashTimesMs_.front() >= kWindowMs)
    crashTimesMs_.pop_front();
  return crashTimesMs_.size() < kMaxCrashes;
}

// Engine I/O thread. Starts Chromium again and gives every browser a new page at its
// last view size and address; the browsers' held commands then follow.
void Engine::Restart() {
  std::lock_guard<std::mutex> restartLock(restartMutex_);
  std::vector<std::shared_ptr<Browser>> browsers = Browsers();
  if (stopping_) {
    for (auto& b : browsers) b->ReleaseCommands();
    return;
  }
  StopChromium();
  bool again = CountCrash();
  std::string error;
  if (!again) {
    std::fprintf(stderr, "Chromium ended unexpectedly %zu times within a minute; it is not started again\n",
                 crashTimesMs_.size());
  } else if (!LaunchChromium(error)) {
    std::fprintf(stderr, "Chromium ended unexpectedly and could not be started again: %s\n",
                 error.c_str());
    again = false;
  }
  if (!again) {
    GiveUp(browsers);
    return;
  }
  if (stopping_) {  // Shutdown ends the new Chromium
    for (auto& b : browsers) b->ReleaseCommands();
    return;
  }
  ++restarts_;
  std::fprintf(stderr, "Chromium ended unexpectedly; started again\n");
  std::fflush(stderr);
  for (auto& b : browsers) {
    if (!b->alive_ || !AttachBrowser(*b)) {
      b->Terminated(2);
    } else {
      SetUpBrowser(*b);
      b->Resume();
    }
    b->ReleaseCommands();
  }
  restarting_ = false;
  // Chromium may have died again before this restart was done.
  if (auto pipe = Pipe(); pipe && pipe->Closed()) OnPipeClosed();
}

// Chromium is gone for good: browsers end as after a render process crash.
void Engine::GiveUp(const std::vector<std::shared_ptr<Browser>>& browsers) {
  crashed_ = true;
  running_ = false;
  std::fflush(stderr);
  for (auto& b : browsers) {
    b->Terminated(2);
    b->ReleaseCommands();
  }
}

// Creates a page target for the browser and attaches to it; on success the browser
// knows its target, session and main frame and is found by its session.
bool Engine::AttachBrowser(Browser& b) {
  std::shared_ptr<DevToolsPipe> pipe = Pipe();
  if (!pipe) return false;
  json r;
  if (!pipe->Call("Target.createTarget", {{"url", "about:blank"}}, "", &r, 10000)) return false;
  std::string targetId = r.value("targetId", "");
  if (!pipe->Call("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}}, "", &r,
                  10000)) {
    pipe->Send("Target.closeTarget", {{"targetId", targetId}});
    return false;
  }
  std::string session = r.value("sessionId", "");
  std::string old = b.SessionId();
  b.Reattached(targetId, session);
  {
    std::lock_guard<std::mutex> lock(browsersMutex_);
    if (!old.empty()) bySession_.erase(old);
    bySession_[session] = b.shared_from_this();
  }
  pipe->Send("Page.enable", json::object(), session);
  if (pipe->Call("Page.getFrameTree", json::object(), session, &r, 10000) &&
      r.contains("frameTree") && r["frameTree"].is_object() && r["frameTree"].contains("frame") &&
      r["frameTree"]["frame"].is_object())
    b.SetMainFrame(r["frameTree"]["frame"].value("id", ""));
  return true;
}

// Sends the page set-up that the browser's options ask for.
void Engine::SetUpBrowser(Browser& b) {
  std::shared_ptr<DevToolsPipe> pipe = Pipe();
  if (!pipe) return;
  const BrowserOptions& options = b.options_;
  const std::string s = b.SessionId();
  pipe->Send("Runtime.enable", json::object(), s);
  pipe->Send("Network.enable", json::object(), s);
  pipe->Send("Emulation.setFocusEmulationEnabled", {{"enabled", true}}, s);
  for (auto& [method, params] : PageIdentityCommands()) pipe->Send(method, params, s);
  if (!options.javascript) pipe->Send("Emulation.setScriptExecutionDisabled", {{"value", true}}, s);
  if (options.hasBackground) {
    uint32_t c = options.backgroundColor;
    pipe->Send("Emulation.setDefaultBackgroundColorOverride",
               {{"color",
                 {{"r", (c >> 16) & 255}, {"g", (c >> 8) & 255}, {"b", c & 255},
                  {"a", ((c >> 24) & 255) / 255.0}}}},
               s);
  }
  if (!options.images)
    pipe->Send("Network.setBlockedURLs",
               {{"urls", {"*.png", "*.jpg", "*.jpeg", "*.gif", "*.webp", "*.bmp", "*.ico", "*.svg"}}},
               s);
  if (b.helper_) {
    // The extensions run before any script of every new document, and in the
    // document that exists now.
    for (const std::string& script : InjectedScripts(b.helper_->Extensions(options.helperWaitMs))) {
      pipe->Send("Page.addScriptToEvaluateOnNewDocument", {{"source", script}}, s);
      pipe->Send("Runtime.evaluate", {{"expression", script}, {"silent", true}}, s);
    }
  }
  json patterns = json::array();
  if (b.delegate_ && b.delegate_->WantsRequests())
    patterns.push_back({{"urlPattern", "*"}, {"requestStage", "Request"}});
  else if (b.helper_)
    patterns.push_back({{"urlPattern", std::string(kBridgeUrl) + "*"}, {"requestStage", "Request"}});
  if (!patterns.empty()) pipe->Send("Fetch.enable", {{"patterns", patterns}}, s);
}

std::shared_ptr<Browser> Engine::CreateBrowser(std::shared_ptr<BrowserDelegate> delegate,
                                               const BrowserOptions& options,
                                               const std::string& url) {
  if (!running_ || restarting_ || !Pipe()) return nullptr;
  auto b = std::make_shared<Browser>(nextBrowserId_++, delegate, options);
  b->helper_ = options.helper;  // before the reader thread can see the browser
  b->alive_ = true;
  if (!AttachBrowser(*b)) return nullptr;
  SetUpBrowser(*b);
  Rect rect = b->AskViewRect();
  b->ApplyViewSize(rect.width, rect.height);
  b->StartScreencast();
  if (!url.empty()) b->LoadUrl(0, url);
  std::weak_ptr<Browser> w = b;
  PostMain([w] {
    auto b = w.lock();
    if (b && b->alive_ && b->delegate_) b->delegate_->OnAfterCreated();
  });
  return b;
}

// ---------------------------------------------------------------- Browser

Browser::Browser(int id, std::shared_ptr<BrowserDelegate> delegate, const BrowserOptions& options)
    : id_(id), delegate_(std::move(delegate)), options_(options),
      paint_(std::make_shared<PaintState>()) {
  if (options_.frameRate <= 0) options_.frameRate = 30;
  if (options_.frameRate > 240) options_.frameRate = 240;
}

std::string Browser::SessionId() const {
  std::lock_guard<std::mutex> lock(idMutex_);
  return sessionId_;
}

std::string Browser::TargetId() const {
  std::lock_guard<std::mutex> lock(idMutex_);
  return targetId_;
}

// A new page target after a restart of Chromium: everything learnt about the old
// page is forgotten but its address and main frame id.
void Browser::Reattached(const std::string& targetId, const std::string& sessionId) {
  {
    std::lock_guard<std::mutex> lock(idMutex_);
    targetId_ = targetId;
    sessionId_ = sessionId;
  }
  {
    std::lock_guard<std::mutex> lock(framesMutex_);
    auto old = frameIds_.find(mainFrame_);
    int64_t mainId = old != frameIds_.end() ? old->second : nextFrameId_++;
    auto url = frameUrls_.find(mainId);
    std::string address = url != frameUrls_.end() ? url->second : std::string();
    frameIds_.clear();
    frameNames_.clear();
    frameUrls_.clear();
    frameWindowNames_.clear();
    contexts_.clear();
    docStatus_.clear();
    errorPage_.clear();
    docUrls_.clear();
    docFrames_.clear();
    mainFrame_.clear();
    frameIds_[mainFrame_] = mainId;
    frameNames_[mainId] = mainFrame_;
    if (!address.empty()) frameUrls_[mainId] = address;
  }
  std::lock_guard<std::mutex> lock(popupMutex_);
  popupDecisions_.clear();
  popupTargets_.clear();
}

// The main frame's DevTools id, once known; it keeps the id the browser gave it.
void Browser::SetMainFrame(const std::string& devtoolsId) {
  std::lock_guard<std::mutex> lock(framesMutex_);
  auto it = frameIds_.find(mainFrame_);
  if (it == frameIds_.end() || mainFrame_ == devtoolsId) return;
  int64_t mainId = it->second;
  frameIds_.erase(it);
  frameIds_[devtoolsId] = mainId;
  frameNames_[mainId] = devtoolsId;
  mainFrame_ = devtoolsId;
}

std::string Browser::LastAddress() {
  std::lock_guard<std::mutex> lock(framesMutex_);
  auto id = frameIds_.find(mainFrame_);
  if (id == frameIds_.end()) return std::string();
  auto url = frameUrls_.find(id->second);
  return url == frameUrls_.end() ? std::string() : url->second;
}

// After a restart, before the held commands: the new page gets the last view size,
// a screencast and the last address.
void Browser::Resume() {
  std::lock_guard<std::recursive_mutex> lock(orderMutex_);
  {
    std::lock_guard<std::mutex> paintLock(paint_->m);
    paint_->heldAck = false;  // the old screencast's frame
  }
  screencasting_ = false;
  ApplyViewSizeNow(width_, height_);
  StartScreencastNow();
  std::string url = LastAddress();
  if (!url.empty() && url != "about:blank") SendNow("Page.navigate", {{"url", url}});
}

void Browser::HoldCommands() {
  std::lock_guard<std::recursive_mutex> lock(orderMutex_);
  ++barriers_;
}

void Browser::ReleaseCommands() {
  std::deque<std::function<void()>> run;
  std::lock_guard<std::recursive_mutex> lock(orderMutex_);
  if (--barriers_ == 0) run.swap(held_);
  for (auto& fn : run) fn();
}

void Browser::Send(const std::string& method, json params) {
  if (!alive_) return;
  auto self = shared_from_this();
  Ordered([self, method, p = std::move(params)]() mutable { self->SendNow(method, std::move(p)); });
}

void Browser::SendNow(const std::string& method, json params) {
  std::shared_ptr<DevToolsPipe> pipe = Engine::Get().Pipe();
  if (pipe && alive_) pipe->Send(method, std::move(params), SessionId());
}

void Browser::Ordered(std::function<void()> fn) {
  // Commands go to the pipe in call order; while a resize waits for the main thread,
  // later commands wait behind it so that, say, a click meant for the new size is not
  // sent before the size changes.
  std::lock_guard<std::recursive_mutex> lock(orderMutex_);
  if (barriers_ > 0) {
    held_.push_back(std::move(fn));
    return;
  }
  fn();
}

int64_t Browser::FrameIdFor(const std::string& devtoolsId) {
  std::lock_guard<std::mutex> lock(framesMutex_);
  auto it = frameIds_.find(devtoolsId);
  if (it != frameIds_.end()) return it->second;
  int64_t id = nextFrameId_++;
  frameIds_[devtoolsId] = id;
  frameNames_[id] = devtoolsId;
  return id;
}

std::string Browser::DevToolsFrame(int64_t id) {
  std::lock_guard<std::mutex> lock(framesMutex_);
  if (id <= 0) return mainFrame_;
  auto it = frameNames_.find(id);
  return it == frameNames_.end() ? std::string() : it->second;
}

int64_t Browser::MainFrameId() {
  std::string main;
  {
    std::lock_guard<std::mutex> lock(framesMutex_);
    main = mainFrame_;
  }
  return FrameIdFor(main);
}

bool Browser::FrameValid(int64_t id) { return alive_ && !DevToolsFrame(id).empty(); }

std::string Browser::FrameUrl(int64_t id) {
  std::lock_guard<std::mutex> lock(framesMutex_);
  auto it = frameUrls_.find(id);
  return it == frameUrls_.end() ? std::string() : it->second;
}

std::string Browser::FrameName(int64_t id) {
  std::lock_guard<std::mutex> lock(framesMutex_);
  auto it = frameWindowNames_.find(id);
  return it == frameWindowNames_.end() ? std::string() : it->second;
}

void Browser::ApplyViewSize(int w, int h) {
  auto self = shared_from_this();
  Ordered([self, w, h] { self->ApplyViewSizeNow(w, h); });
}

void Browser::ApplyViewSizeNow(int w, int h) {
  width_ = w;
  height_ = h;
  sizeRestarted_ = false;
  SendNow("Emulation.setDeviceMetricsOverride",
          {{"width", w}, {"height", h}, {"deviceScaleFactor", 1}, {"mobile", false}});
  // The screencast keeps the frame size it started with: start it again at the new
  // size. Before its first frame it is not stopped first: a stop and start then
  // leaves Chromium sending no frames at all.
  if (screencasting_) {
    if (framesSinceStart_ > 0) SendNow("Page.stopScreencast", json::object());
    StartScreencastNow();
  }
}

void Browser::StartScreencast() {
  auto self = shared_from_this();
  Ordered([self] { self->StartScreencastNow(); });
}

void Browser::StartScreencastNow() {
  screencasting_ = true;
  uint64_t gen = ++startGen_;
  framesSinceStart_ = 0;
  screencastStartUs_ = MonotonicUs();
  std::shared_ptr<DevToolsPipe> pipe = Engine::Get().Pipe();
  if (!pipe || !alive_) return;
  // Refused or not, the answer ends the frames of any earlier start: what comes
  // after it is the screencast that now runs.
  json params = {{"format", "png"},
                 {"everyNthFrame", 1},
                 {"maxWidth", width_.load()},
                 {"maxHeight", height_.load()}};
  pipe->Send("Page.startScreencast", std::move(params), SessionId(),
             [w = weak_from_this(), gen](const json&, const std::string&) {
               auto b = w.lock();
               if (!b || b->startGen_ != gen) return;
               b->framesSinceStart_ = 0;
               b->answeredGen_ = gen;
             });
}

uint64_t Browser::FrameArrived() {
  if (answeredGen_ != startGen_) return 0;
  uint64_t now = MonotonicUs();
  lastArrivalUs_ = now;
  ++framesSinceStart_;
  return now;
}

// A screencast started again before its first frame can keep the size limit of the
// first start, so its frames never take the view's size. Once a few frames of a
// start have come at another size, the screencast is stopped and started again, at
// most once per view size (Chromium may clamp a huge view to a smaller frame).
void Browser::RestartScreencastIfSizeStuck(int frameW, int frameH) {
  constexpr int kFramesBeforeRestart = 3;
  if (frameW == width_ && frameH == height_) return;
  if (framesSinceStart_ < kFramesBeforeRestart || sizeRestarted_) return;
  auto self = shared_from_this();
  Ordered([self] {
    if (self->screencasting_ && !self->sizeRestarted_.exchange(true)) self->RestartScreencastNow();
  });
}

// Chromium sends a screencast's first frame when it is started, even for a page that
// never repaints; but when the page's first frame is captured while the target is
// still navigating (a page loaded right after a size change), the capture can fail,
// and a still page then never brings a frame. A screencast that has brought none
// within a second is stopped and started again, each retry waiting twice as long
// (at most 8 s), so a page that cannot paint (its renderer hung) costs little.
//
// A still page also brings too few frames for RestartScreencastIfSizeStuck: when the
// last frame has another size than the view and a second has passed without one,
// the screencast is started again once for that view size.
uint64_t Browser::WatchScreencast(uint64_t nowUs) {
  static constexpr uint64_t kFirstWaitUs = 1000000, kLongestWaitUs = 8000000;
  // A restart of Chromium starts the screencast itself.
  if (!alive_ || !screencasting_ || Engine::Get().Restarting()) return 0;
  if (framesSinceStart_ > 0) {
    frameLessStarts_ = 0;
    if (sizeRestarted_) return 0;
    uint64_t arrived = lastArrivalUs_;
    if (frameUs_ != arrived) return std::max(nowUs, arrived) + kFirstWaitUs;  // still decoding
    if (frameW_ == width_ && frameH_ == height_) return 0;
    uint64_t due = arrived + kFirstWaitUs;
    if (nowUs < due) return due;
    Ordered([self = shared_from_this()] {
      if (self->screencasting_ && !self->sizeRestarted_.exchange(true)) self->RestartScreencastNow();
    });
    return nowUs + kFirstWaitUs;
  }
  auto wait = [this] { return std::min(kFirstWaitUs << std::min(frameLessStarts_.load(), 3), kLongestWaitUs); };
  uint64_t due = screencastStartUs_ + wait();
  if (nowUs < due) return due;
  ++frameLessStarts_;
  screencastStartUs_ = nowUs;  // not again before the restart has had its time
  Ordered([self = shared_from_this()] {
    if (self->screencasting_ && self->framesSinceStart_ == 0) self->RestartScreencastNow();
  });
  return nowUs + wait();
}

void Browser::RestartScreencastNow() {
  SendNow("Page.stopScreencast", json::object());
  StartScreencastNow();
}

void Browser::WasResized() {
  if (!alive_) return;
  Engine& e = Engine::Get();
  if (!e.OnMainThread()) {
    HoldCommands();
    auto self = shared_from_this();
    e.PostMain([self] {
      Rect rect = self->AskViewRect();  // a callback: no lock held
      std::lock_guard<std::recursive_mutex> lock(self->orderMutex_);
      if (rect.width != self->width_ || rect.height != self->height_)
        self->ApplyViewSizeNow(rect.width, rect.height);
      self->ReleaseCommands();
    });
    return;
  }
  Rect rect = AskViewRect();
  if (rect.width == width_ && rect.height == height_) return;
  ApplyViewSize(rect.width, rect.height);
}

Rect Browser::AskViewRect() {
  Rect rect;
  if (!(delegate_ && delegate_->GetViewRect(rect) && rect.width > 0 && rect.height > 0) &&
      !(delegate_ && delegate_->GetRootScreenRect(rect) && rect.width > 0 && rect.height > 0))
    rect = {0, 0, 800, 600};
  return rect;
}

void Browser::SendMouseClick(const MouseInput& e, int button, bool up, int clickCount) {
  Send("Input.dispatchMouseEvent", MouseClickParams(e, button, up, clickCount));
}

void Browser::SendMouseMove(const MouseInput& e, bool leave) {
  Send("Input.dispatchMouseEvent", MouseMoveParams(e, leave));
  if (!leave) UpdateCursor(e.x, e.y);
}

void Browser::SendMouseWheel(const MouseInput& e, int dx, int dy) {
  Send("Input.dispatchMouseEvent", MouseWheelParams(e, dx, dy));
}

void Browser::SendKey(const KeyInput& e) {
  json p;
  if (KeyEventParams(e, p)) Send("Input.dispatchKeyEvent", std::move(p));
}

void Browser::SendFocus(bool focus) { Send("Emulation.setFocusEmulationEnabled", {{"enabled", focus}}); }

void Browser::LoadUrl(int64_t frameId, const std::string& url) {
  if (!alive_) return;
  std::string frame = DevToolsFrame(frameId);
  json p = {{"url", url}};
  if (!frame.empty() && frameId > 0 && frame != mainFrame_) p["frameId"] = frame;
  std::weak_ptr<Browser> w = weak_from_this();
  int64_t fid = frameId > 0 ? frameId : MainFrameId();
  auto self = shared_from_this();
  Ordered([self, w, fid, url, p = std::move(p)]() mutable {
  std::shared_ptr<DevToolsPipe> pipe = Engine::Get().Pipe();
  if (!pipe) return;
  pipe->Send("Page.navigate", std::move(p), self->SessionId(),
             [w, fid, url](const json& r, const std::string& err) {
               auto b = w.lock();
               if (!b || !err.empty()) return;
               std::string text = r.value("errorText", "");
               if (text.empty()) return;
               json ev = {{"frameId", b->DevToolsFrame(fid)}, {"errorText", text}, {"url", url}};
               b->HandleEvent("pv7.loadFailed", ev);
             });
  });
}

void Browser::LoadString(int64_t frameId, const std::string& html, const std::string&) {
  std::string frame = DevToolsFrame(frameId);
  if (frame.empty()) return;
  Send("Page.setDocumentContent", {{"frameId", frame}, {"html", html}});
}

void Browser::ExecuteJavaScript(int64_t frameId, const std::string& code, const std::string& url,
                                int startLine) {
  if (!alive_) return;
  std::string frame = DevToolsFrame(frameId);
  json p = {{"expression", url.empty() ? code : code + "\n//# sourceURL=" + url},
            {"returnByValue", false},
            {"awaitPromise", false}};
  {
    std::lock_guard<std::mutex> lock(framesMutex_);
    auto it = contexts_.find(frame);
    if (it != contexts_.end() && frame != mainFrame_) p["contextId"] = it->second;
  }
  std::weak_ptr<Browser> w = weak_from_this();
  int base = startLine > 0 ? startLine : 1;
  auto self = shared_from_this();
  Ordered([self, w, url, base, p = std::move(p)]() mutable {
  std::shared_ptr<DevToolsPipe> pipe = Engine::Get().Pipe();
  if (!pipe) return;
  pipe->Send("Runtime.evaluate", std::move(p), self->SessionId(),
             [w, url, base](const json& r, const std::string& err) {
               auto b = w.lock();
               if (!b || !err.empty() || !r.contains("exceptionDetails")) return;
               json details = r["exceptionDetails"];
               if (!details.is_object()) return;
               details["url"] = url;
               details["lineNumber"] = details.value("lineNumber", 0) + base - 1;
               b->ExceptionThrown({{"exceptionDetails", details}});
             });
  });
}

void Browser::StopLoad() { Send("Page.stopLoading", json::object()); }

void Browser::Close() {
  if (!alive_.exchange(false)) return;
  if (helper_) helper_->Close();
  Engine& e = Engine::Get();
  auto self = shared_from_this();
  Ordered([self] {
    if (auto pipe = Engine::Get().Pipe()) {
      pipe->Send("Page.stopScreencast", json::object(), self->SessionId());
      pipe->Send("Target.closeTarget", {{"targetId", self->TargetId()}});
    }
  });
  e.PostMain([self] {
    if (self->delegate_) self->delegate_->OnBeforeClose();
    Engine::Get().Forget(self.get());
  });
}

void Browser::Terminated(int status) {
  if (!alive_.exchange(false)) return;
  auto self = shared_from_this();
  Engine::Get().PostMain([self, status] {
    if (self->delegate_) self->delegate_->OnRenderProcessTerminated(status);
  });
}

namespace {

std::string FirstLine(const std::string& s) {
  size_t n = s.find('\n');
  return n == std::string::npos ? s : s.substr(0, n);
}

std::string RemoteObjectText(const json& o) {
  if (!o.is_object()) return std::string();
  auto v = o.find("value");
  if (v != o.end()) {
    if (v->is_string()) return v->get<std::string>();
    return v->dump(-1, ' ', false, json::error_handler_t::replace);
  }
  if (o.contains("unserializableValue") && o["unserializableValue"].is_string())
    return o["unserializableValue"].get<std::string>();
  if (o.contains("description") && o["description"].is_string())
    return o["description"].get<std::string>();
  std::string type = o.value("type", "");
  return type == "undefined" ? "undefined" : type;
}

int JsonInt(const json& j, const char* key, int fallback = 0) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_number()) return fallback;
  return it->get<int>();
}

std::string JsonStr(const json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_string()) return std::string();
  return it->get<std::string>();
}

}  // namespace

void Browser::ConsoleCalled(const json& params) {
  std::string text;
  if (params.contains("args") && params["args"].is_array()) {
    for (const json& a : params["args"]) {
      if (!text.empty()) text += ' ';
      text += RemoteObjectText(a);
    }
  }
  std::string source;
  int line = 0;
  if (params.contains("stackTrace") && params["stackTrace"].is_object()) {
    const json& frames = params["stackTrace"]["callFrames"];
    if (frames.is_array() && !frames.empty() && frames[0].is_object()) {
      source = JsonStr(frames[0], "url");
      line = JsonInt(frames[0], "lineNumber") + 1;
    }
  }
  std::weak_ptr<Browser> w = weak_from_this();
  Engine::Get().PostMain([w, text, source, line] {
    auto b = w.lock();
    if (b && b->alive_ && b->delegate_) b->delegate_->OnConsoleMessage(text, source, line);
  });
}

void Browser::ExceptionThrown(const json& params) {
  if (!params.contains("exceptionDetails") || !params["exceptionDetails"].is_object()) return;
  const json& d = params["exceptionDetails"];
  std::string head = JsonStr(d, "text");
  if (head.empty()) head = "Uncaught";
  std::string what;
  if (d.contains("exception") && d["exception"].is_object()) {
    const json& ex = d["exception"];
    std::string desc = JsonStr(ex, "description");
    what = desc.empty() ? RemoteObjectText(ex) : FirstLine(desc);
  }
  std::string text = what.empty() || head.find(what) != std::string::npos ? head : head + " " + what;
  std::string source = JsonStr(d, "url");
  int line = JsonInt(d, "lineNumber") + 1;
  if (source.empty() && d.contains("stackTrace") && d["stackTrace"].is_object()) {
    const json& frames = d["stackTrace"]["callFrames"];
    if (frames.is_array() && !frames.empty() && frames[0].is_object())
      source = JsonStr(frames[0], "url");
  }
  std::weak_ptr<Browser> w = weak_from_this();
  Engine::Get().PostMain([w, text, source, line] {
    auto b = w.lock();
    if (b && b->alive_ && b->delegate_) b->delegate_->OnConsoleMessage(text, source, line);
  });
}

void Browser::HandleEvent(const std::string& method, json& params) {
  Engine& e = Engine::Get();
  std::weak_ptr<Browser> w = weak_from_this();
  auto post = [&e, w](auto fn) {
    e.PostMain([w, fn] {
      auto b = w.lock();
      if (b && b->alive_ && b->delegate_) fn(*b->delegate_);
    });
  };
  if (method == "Target.targetInfoChanged") {
    std::string title = JsonStr(params, "title");
    {
      std::lock_guard<std::mutex> lock(framesMutex_);
      if (title == title_) return;
      title_ = title;
    }
    post([title](BrowserDelegate& d) { d.OnTitleChange(title); });
  } else if (method == "Page.frameAttached") {
    FrameIdFor(JsonStr(params, "frameId"));
  } else if (method == "Page.frameDetached") {
    std::string f = JsonStr(params, "frameId");
    std::lock_guard<std::mutex> lock(framesMutex_);
    auto it = frameIds_.find(f);
    if (it != frameIds_.end()) {
      frameNames_.erase(it->second);
      frameIds_.erase(it);
    }
  } else if (method == "Page.frameNavigated") {
    if (!params.contains("frame") || !params["frame"].is_object()) return;
    const json& f = params["frame"];
    std::string devId = JsonStr(f, "id");
    std::string url = JsonStr(f, "url");
    bool error = url.rfind("chrome-error:", 0) == 0 || f.contains("unreachableUrl");
    int64_t fid = FrameIdFor(devId);
    {
      std::lock_guard<std::mutex> lock(framesMutex_);
      if (!f.contains("parentId")) mainFrame_ = devId;
      errorPage_[devId] = error;
      if (!error) frameUrls_[fid] = url;
      frameWindowNames_[fid] = JsonStr(f, "name");
    }
    if (error) return;
    post([fid, url](BrowserDelegate& d) { d.OnAddressChange(fid, url); });
    post([fid](BrowserDelegate& d) { d.OnLoadStart(fid); });
  } else if (method == "Page.frameStartedLoading") {
    std::string devId = JsonStr(params, "frameId");
    bool main;
    {
      std::lock_guard<std::mutex> lock(framesMutex_);
      main = devId == mainFrame_;
    }
    if (main) post([](BrowserDelegate& d) { d.OnLoadingStateChange(true, false, false); });
  } else if (method == "Page.frameStoppedLoading") {
    std::string devId = JsonStr(params, "frameId");
    int64_t fid = FrameIdFor(devId);
    bool main, error;
    int status;
    {
      std::lock_guard<std::mutex> lock(framesMutex_);
      main = devId == mainFrame_;
      error = errorPage_[devId];
      auto it = docStatus_.find(devId);
      status = it == docStatus_.end() ? 200 : it->second;
    }
    if (!error) post([fid, status](BrowserDelegate& d) { d.OnLoadEnd(fid, status); });
    if (main) post([](BrowserDelegate& d) { d.OnLoadingStateChange(false, false, false); });
  } else if (method == "Network.requestWillBeSent") {
    // Remembered for the failure report of document requests.
    if (JsonStr(params, "type") != "Document") return;
    std::lock_guard<std::mutex> lock(framesMutex_);
    docStatus_.erase(JsonStr(params, "frameId"));
    docUrls_[JsonStr(params, "requestId")] = params.contains("request") && params["request"].is_object()
                                                 ? JsonStr(params["request"], "url")
                                                 : std::string();
    docFrames_[JsonStr(params, "requestId")] = JsonStr(params, "frameId");
  } else if (method == "Network.responseReceived") {
    if (JsonStr(params, "type") != "Document") return;
    std::lock_guard<std::mutex> lock(framesMutex_);
    if (params.contains("response") && params["response"].is_object())
      docStatus_[JsonStr(params, "frameId")] = JsonInt(params["response"], "status", 200);
  } else if (method == "Network.loadingFinished") {
    std::lock_guard<std::mutex> lock(framesMutex_);
    docUrls_.erase(JsonStr(params, "requestId"));
    docFrames_.erase(JsonStr(params, "requestId"));
  } else if (method == "Network.loadingFailed" || method == "pv7.loadFailed") {
    std::string devFrame, url;
    if (method == "Network.loadingFailed") {
      if (JsonStr(params, "type") != "Document") return;
      std::lock_guard<std::mutex> lock(framesMutex_);
      std::string req = JsonStr(params, "requestId");
      url = docUrls_[req];
      devFrame = docFrames_[req];
      docUrls_.erase(req);
      docFrames_.erase(req);
    } else {
      devFrame = JsonStr(params, "frameId");
      url = JsonStr(params, "url");
    }
    std::string text = JsonStr(params, "errorText");
    if (params.value("canceled", false) && text.empty()) text = "net::ERR_ABORTED";
    if (text.empty()) text = "net::ERR_FAILED";
    int code = NetErrorCode(text);
    int64_t fid = FrameIdFor(devFrame);
    {
      // The same failure can come both from the network and from the navigation's
      // reply: report it once.
      std::lock_guard<std::mutex> lock(framesMutex_);
      uint64_t now = MonotonicMs();
      if (lastErrorUrl_ == url && lastErrorCode_ == code && lastErrorFrame_ == fid &&
          now - lastErrorMs_ < 2000)
        return;
      lastErrorUrl_ = url;
      lastErrorCode_ = code;
      lastErrorFrame_ = fid;
      lastErrorMs_ = now;
    }
    post([fid, code, text, url](BrowserDelegate& d) { d.OnLoadError(fid, code, text, url); });
  } else if (method == "Runtime.executionContextCreated") {
    if (!params.contains("context") || !params["context"].is_object()) return;
    const json& c = params["context"];
    if (!c.contains("auxData") || !c["auxData"].is_object()) return;
    const json& aux = c["auxData"];
    if (!aux.value("isDefault", false)) return;
    std::lock_guard<std::mutex> lock(framesMutex_);
    contexts_[JsonStr(aux, "frameId")] = JsonInt(c, "id");
  } else if (method == "Runtime.executionContextsCleared") {
    std::lock_guard<std::mutex> lock(framesMutex_);
    contexts_.clear();
  } else if (method == "Runtime.consoleAPICalled") {
    ConsoleCalled(params);
  } else if (method == "Runtime.exceptionThrown") {
    ExceptionThrown(params);
  }
}

void Browser::HandleFrame(json params, uint64_t arrivedUs) {
  PaintState& ps = *paint_;
  int ackId = JsonInt(params, "sessionId");
  bool ackNow;
  {
    std::lock_guard<std::mutex> lock(ps.m);
    // With no paint waiting for the main thread the next frame may be produced while
    // this one is decoded; otherwise the acknowledgement waits for the delivery, so a
    // slow main thread slows Chromium down (and the frame rate stays near the cap).
    ackNow = !ps.pending;
    if (!ackNow) {
      ps.heldAck = true;
      ps.heldAckId = ackId;
    }
  }
  std::shared_ptr<DevToolsPipe> pipe = Engine::Get().Pipe();
  if (ackNow && pipe) pipe->Send("Page.screencastFrameAck", {{"sessionId", ackId}}, SessionId());
  if (!alive_ || !params.contains("data") || !params["data"].is_string()) return;
  if (!Base64Decode(params["data"].get_ref<const std::string&>(), ps.png)) return;
  std::shared_ptr<std::vector<uint8_t>> buf;
  {
    std::lock_guard<std::mutex> lock(ps.m);
    for (auto& p : ps.pool)
      if (p.use_count() == 1 && p != ps.prev && p != ps.pending) {
        buf = p;
        break;
      }
  }
  if (!buf) buf = std::make_shared<std::vector<uint8_t>>();
  int w = 0, h = 0;
  if (!DecodePngBgra(ps.png.data(), ps.png.size(), *buf, w, h, Engine::Get().Decoder())) return;
  if (arrivedUs) {
    frameW_ = w;
    frameH_ = h;
    frameUs_ = arrivedUs;
    RestartScreencastIfSizeStuck(w, h);
  }
  std::vector<Rect> rects;
  if (ps.prev && ps.prevW == w && ps.prevH == h)
    rects = DiffFrames(ps.prev->data(), buf->data(), w, h);
  else
    rects.push_back({0, 0, w, h});
  {
    std::lock_guard<std::mutex> lock(ps.m);
    if (std::find(ps.pool.begin(), ps.pool.end(), buf) == ps.pool.end() && ps.pool.size() < 4)
      ps.pool.push_back(buf);
    if (rects.empty()) return;  // a frame that changed nothing is not delivered
    ps.prev = buf;
    ps.prevW = w;
    ps.prevH = h;
    if (ps.pending && (ps.pendingW != w || ps.pendingH != h)) ps.pendingRects.clear();
    if (!ps.pending || ps.pendingW != w || ps.pendingH != h)
      ps.pendingRects = rects;
    else
      UniteRects(ps.pendingRects, rects);
    ps.pending = buf;
    ps.pendingW = w;
    ps.pendingH = h;
  }
  // The paint need not wait for the main loop's next engine tick.
  Engine::Get().WakeMain();
}

uint64_t Browser::DeliverPaint(uint64_t nowUs) {
  PaintState& ps = *paint_;
  std::shared_ptr<std::vector<uint8_t>> pixels;
  std::vector<Rect> rects;
  int w, h;
  bool ack;
  int ackId;
  {
    std::lock_guard<std::mutex> lock(ps.m);
    if (!ps.pending) return 0;
    // Paced to the frame rate; a tick that comes up to 5 ms early still delivers so
    // that a 10 ms pump reaches the full rate.
    uint64_t interval = 1000000u / static_cast<unsigned>(options_.frameRate);
    if (nowUs + 5000 < ps.nextDueUs) return ps.nextDueUs - 5000;
    ps.nextDueUs = nowUs > ps.nextDueUs + interval ? nowUs + interval : ps.nextDueUs + interval;
    pixels = std::move(ps.pending);
    ps.pending.reset();
    rects.swap(ps.pendingRects);
    w = ps.pendingW;
    h = ps.pendingH;
    ack = ps.heldAck;
    ackId = ps.heldAckId;
    ps.heldAck = false;
  }
  if (ack)
    if (auto pipe = Engine::Get().Pipe())
      pipe->Send("Page.screencastFrameAck", {{"sessionId", ackId}}, SessionId());
  if (alive_ && delegate_) delegate_->OnPaint(rects, pixels->data(), w, h);
  return 0;
}

// Chromium keeps only the last entry of a name given twice to Fetch.continueRequest, so
// repeated names travel as one header whose values are joined by ", " (the HTTP
// equivalent of the repeated header), at the place of the name's first entry.
static bool SameHeaderName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

static json HeaderEntries(const HeaderList& headers) {
  json list = json::array();
  for (size_t i = 0; i < headers.items.size(); ++i) {
    const auto& [name, value] = headers.items[i];
    bool seen = false;
    for (size_t j = 0; j < i && !seen; ++j) seen = SameHeaderName(headers.items[j].first, name);
    if (seen) continue;
    std::string joined = value;
    for (size_t j = i + 1; j < headers.items.size(); ++j)
      if (SameHeaderName(headers.items[j].first, name))
        joined += ", " + headers.items[j].second;
    list.push_back({{"name", name}, {"value", std::move(joined)}});
  }
  return list;
}

void Browser::RequestPaused(json params) {
  auto info = std::make_shared<RequestInfo>();
  std::string requestId = JsonStr(params, "requestId");
  if (params.contains("request") && params["request"].is_object()) {
    const json& r = params["request"];
    info->url = JsonStr(r, "url");
    info->method = JsonStr(r, "method");
    if (r.contains("headers") && r["headers"].is_object())
      for (auto it = r["headers"].begin(); it != r["headers"].end(); ++it)
        if (it->is_string()) info->headers.items.emplace_back(it.key(), it->get<std::string>());
  }
  info->resourceType = JsonStr(params, "resourceType");
  info->frameId = FrameIdFor(JsonStr(params, "frameId"));
  const HeaderList original = info->headers;
  const std::string originalUrl = info->url;
  std::weak_ptr<Browser> w = weak_from_this();
  auto done = std::make_shared<std::atomic<bool>>(false);
  auto finish = [w, info, requestId, original, originalUrl, done](bool allow) {
    if (done->exchange(true)) return;
    std::shared_ptr<DevToolsPipe> pipe = Engine::Get().Pipe();
    auto b = w.lock();
    if (!pipe || !b) return;
    if (!allow) {
      pipe->Send("Fetch.failRequest", {{"requestId", requestId}, {"errorReason", "Aborted"}},
                 b->SessionId());
      return;
    }
    json p = {{"requestId", requestId}};
    if (info->headers.items != original.items) {
      p["headers"] = HeaderEntries(info->headers);
    }
    if (info->url != originalUrl && !info->url.empty()) p["url"] = info->url;
    bool changed = p.size() > 1;
    std::string session = b->SessionId();
    // A change Chromium refuses must not leave the request paused for ever: it then
    // goes on unchanged.
    pipe->Send("Fetch.continueRequest", std::move(p), session,
               [requestId, session, changed](const json&, const std::string& err) {
                 if (err.empty() || !changed) return;
                 if (!GetEnv("PV7_CHROMIUM_LOG").empty())
                   fprintf(stderr, "Fetch.continueRequest: %s\n", err.c_str());
                 if (auto pipe = Engine::Get().Pipe())
                   pipe->Send("Fetch.continueRequest", {{"requestId", requestId}}, session);
               });
  };
  int answer = kAnswerContinue;
  if (alive_ && delegate_) answer = delegate_->OnBeforeResourceLoad(info, finish);
  if (answer == kAnswerAsync) return;
  finish(answer != kAnswerCancel);
}

void Browser::BridgeRequest(json params) {
  std::shared_ptr<RenderHelper> helper = helper_;
  std::string session = SessionId();
  std::string requestId = JsonStr(params, "requestId");
  auto answer = [session, requestId](int status, const std::string& body) {
    std::shared_ptr<DevToolsPipe> pipe = Engine::Get().Pipe();
    if (!pipe) return;
    json headers = json::array({{{"name", "Content-Type"}, {"value", "text/plain; charset=utf-8"}},
                                {{"name", "Access-Control-Allow-Origin"}, {"value", "*"}},
                                {{"name", "Access-Control-Allow-Methods"}, {"value", "POST"}},
                                {{"name", "Access-Control-Allow-Headers"}, {"value", "*"}},
                                {{"name", "Cache-Control"}, {"value", "no-store"}}});
    pipe->Send("Fetch.fulfillRequest", {{"requestId", requestId},
                                        {"responseCode", status},
                                        {"responseHeaders", std::move(headers)},
                                        {"body", Base64Encode(body)}},
               session);
  };
  if (!helper) {
    BridgeReply none;
    none.hasException = true;
    none.exception = "native functions are not available";
    answer(200, ReplyBody(none));
    return;
  }
  // The call waits on the helper's own thread; the reader thread goes on at once.
  helper->Post([helper = helper.get(), params = std::move(params), answer, session]() {
    const json& r = params.contains("request") && params["request"].is_object() ? params["request"]
                                                                               : json::object();
    if (JsonStr(r, "method") == "OPTIONS") {
      answer(204, std::string());
      return;
    }
    std::string body;
    if (r.contains("postData") && r["postData"].is_string()) {
      body = r["postData"].get<std::string>();
    } else if (r.contains("postDataEntries") && r["postDataEntries"].is_array()) {
      std::vector<uint8_t> bytes;
      for (const json& e : r["postDataEntries"]) {
        if (!e.is_object() || !e.contains("bytes") || !e["bytes"].is_string()) continue;
        if (Base64Decode(e["bytes"].get_ref<const std::string&>(), bytes))
          body.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (body.size() > kBridgeMaxMessage) break;
      }
    } else if (r.value("hasPostData", false)) {
      // A body too long for the event: asked for separately.
      json got;
      std::shared_ptr<DevToolsPipe> pipe = Engine::Get().Pipe();
      std::string networkId = JsonStr(params, "networkId");
      if (pipe && !networkId.empty() &&
          pipe->Call("Network.getRequestPostData", {{"requestId", networkId}}, session, &got, 10000) &&
          got.contains("postData") && got["postData"].is_string())
        body = got["postData"].get<std::string>();
    }
    BridgeCall call;
    BridgeReply reply;
    std::string error;
    if (!ParseCallBody(body, call, error)) {
      reply.hasException = true;
      reply.exception = "native function call: " + error;
    } else {
      reply = helper->Call(std::move(call), kBridgeCallTimeoutMs);
    }
    answer(200, ReplyBody(reply));
  });
}

void Browser::WindowOpen(json params) {
  bool close = false;
  if (alive_ && delegate_)
    close = delegate_->OnBeforePopup(MainFrameId(), JsonStr(params, "url"),
                                     JsonStr(params, "windowName"),
                                     params.value("userGesture", false));
  {
    std::lock_guard<std::mutex> lock(popupMutex_);
    popupDecisions_.push_back(close);
  }
  ResolvePopups();
}

void Browser::PopupTargetCreated(const std::string& targetId) {
  {
    std::lock_guard<std::mutex> lock(popupMutex_);
    popupTargets_.push_back(targetId);
  }
  ResolvePopups();
}

void Browser::ResolvePopups() {
  std::vector<std::string> toClose;
  {
    std::lock_guard<std::mutex> lock(popupMutex_);
    while (!popupDecisions_.empty() && !popupTargets_.empty()) {
      if (popupDecisions_.front()) toClose.push_back(popupTargets_.front());
      popupDecisions_.pop_front();
      popupTargets_.pop_front();
    }
  }
  if (auto pipe = Engine::Get().Pipe())
    for (auto& t : toClose) pipe->Send("Target.closeTarget", {{"targetId", t}});
}

void Browser::UpdateCursor(int x, int y) {
  {
    std::lock_guard<std::mutex> lock(cursorMutex_);
    cursorX_ = x;
    cursorY_ = y;
    if (cursorBusy_) {
      cursorQueued_ = true;
      return;
    }
    cursorBusy_ = true;
  }
  std::shared_ptr<DevToolsPipe> pipe = Engine::Get().Pipe();
  if (!pipe || !alive_) {
    std::lock_guard<std::mutex> lock(cursorMutex_);
    cursorBusy_ = false;
    return;
  }
  std::string expr =
      "(()=>{const e=document.elementFromPoint(" + std::to_string(x) + "," + std::to_string(y) +
      ");if(!e)return 'auto|';const c=getComputedStyle(e).cursor;let h='';"
      "if(e.closest('a[href],area[href]'))h='link';"
      "else if(e.isContentEditable||e.tagName==='TEXTAREA'||(e.tagName==='INPUT'&&"
      "/^(text|search|email|url|tel|password|number|)$/.test(e.type)))h='text';"
      "return c+'|'+h;})()";
  std::weak_ptr<Browser> w = weak_from_this();
  pipe->Send("Runtime.evaluate", {{"expression", expr}, {"returnByValue", true}, {"silent", true}},
             SessionId(), [w](const json& r, const std::string& err) {
               auto b = w.lock();
               if (!b) return;
               int type = -1;
               if (err.empty() && r.contains("result") && r["result"].is_object()) {
                 std::string v = JsonStr(r["result"], "value");
                 size_t bar = v.rfind('|');
                 if (bar != std::string::npos) type = CursorTypeForCss(v.substr(0, bar), v.substr(bar + 1));
               }
               bool again, changed = false;
               int x, y;
               {
                 std::lock_guard<std::mutex> lock(b->cursorMutex_);
                 b->cursorBusy_ = false;
                 again = b->cursorQueued_;
                 b->cursorQueued_ = false;
                 x = b->cursorX_;
                 y = b->cursorY_;
                 if (type >= 0 && type != b->lastCursor_) {
                   b->lastCursor_ = type;
                   changed = true;
                 }
               }
               if (changed) {
                 std::weak_ptr<Browser> w2 = b;
                 Engine::Get().PostMain([w2, type] {
                   auto b = w2.lock();
                   if (b && b->alive_ && b->delegate_) b->delegate_->OnCursorChange(type);
                 });
               }
               if (again) b->UpdateCursor(x, y);
             });
}

}  // namespace cefeng
