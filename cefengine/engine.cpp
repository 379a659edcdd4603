#include "engine.h"

#include <cstdio>
#include <future>

#include "bridge_endpoint.h"
#include "identity.h"
#include "os_process.h"

namespace cefeng {

// ---------------------------------------------------------------- a browser's session

// The engine's side of one browser: its page's session on the current pipe, the
// engine's threads, and closures that run only while the browser exists.
class PageSession : public Session {
 public:
  explicit PageSession(Engine& engine) : engine_(engine) {}
  void Bind(std::weak_ptr<Browser> b) { browser_ = std::move(b); }

  void Send(const std::string& method, json params, ReplyFn onReply) override {
    auto b = browser_.lock();
    if (b && engine_.chromium_.pipe)
      engine_.chromium_.pipe->Send(method, std::move(params), b->SessionId(), OnSequence(std::move(onReply)));
  }
  void SendToBrowser(const std::string& method, json params) override {
    if (engine_.chromium_.pipe) engine_.chromium_.pipe->Send(method, std::move(params));
  }
  void Post(Task fn) override { engine_.PostIO(Guarded(std::move(fn))); }
  void PostAt(uint64_t dueUs, Task fn) override { engine_.PostIOAt(dueUs, Guarded(std::move(fn))); }
  PostFn Poster() override {
    return [engine = &engine_, w = browser_](Task fn) {
      engine->PostIO([w, fn = std::move(fn)] {
        if (auto b = w.lock()) fn();
      });
    };
  }
  void PostPaint(Task fn) override { engine_.PostPaint(Guarded(std::move(fn))); }
  void Notify(std::function<void(BrowserDelegate&)> fn, bool whileAlive) override {
    engine_.PostMain([w = browser_, fn = std::move(fn), whileAlive] {
      auto b = w.lock();
      if (b && (b->Valid() || !whileAlive) && b->Delegate()) fn(*b->Delegate());
    });
  }
  void PostMain(Task fn) override { engine_.PostMain(std::move(fn)); }
  bool OnMainThread() override { return engine_.OnMainThread(); }
  void WakeMain() override { engine_.WakeMain(); }
  void Closed() override {
    auto b = browser_.lock();
    if (!b) return;
    engine_.PostIO([this, b] { engine_.Forget(b); });
    engine_.PostMain([this, b] { engine_.ForgetOnMain(b); });
  }
  uint64_t NowUs() override { return MonotonicUs(); }

 private:
  Task Guarded(Task fn) {
    return [w = browser_, fn = std::move(fn)] {
      if (auto b = w.lock()) fn();
    };
  }
  // Replies come on the reader thread (or with a failure, wherever it is noticed):
  // they are run on the sequence.
  ReplyFn OnSequence(ReplyFn fn) {
    if (!fn) return nullptr;
    return [post = Poster(), fn = std::move(fn)](const json& r, const std::string& e) {
      post([fn, r, e] { fn(r, e); });
    };
  }

  Engine& engine_;
  std::weak_ptr<Browser> browser_;
};

// ---------------------------------------------------------------- start and shutdown

Engine& Engine::Get() {
  // Never destroyed: threads may still exist at process exit when the host skips
  // cef_shutdown.
  static Engine* engine = new Engine;
  return *engine;
}

Engine::Engine() : restartPolicy_(MonotonicMs) {}

namespace {

std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  return CurrentDirectory() + "/" + path;
}

}  // namespace

bool Engine::Start(const EngineOptions& options, std::string& error) {
  if (running_) return true;
  mainThread_ = std::this_thread::get_id();
  decoder_ = options.decoder;
  crashed_ = false;
  stopping_ = false;
  restarts_ = 0;
  restartPolicy_.Reset();
  exe_ = ChromiumExecutable(options.executable);
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
  // The headless shell draws only when the pump asks, unless PV7_BEGIN_FRAMES=0
  // lets it draw at its own 60 a second.
  beginFrames_ = IsHeadlessShell(exe_) && GetEnv("PV7_BEGIN_FRAMES") != "0";
  args_ = ChromiumArgs(userDataDir_, options.locale, beginFrames_);
  if (!options.cacheDir.empty()) args_.push_back("--disk-cache-dir=" + Absolute(options.cacheDir));
  for (const std::string& a : options.extraArgs) args_.push_back(a);
  args_.push_back("about:blank");

  {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    io_ = std::make_shared<WorkThread>("engine io");
    paint_ = std::make_shared<WorkThread>("engine paint");
  }
  if (!Launch(error)) {
    StopThreads();
    if (ownUserDataDir_) RemoveTree(userDataDir_);
    return false;
  }
  running_ = true;
  return true;
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

// Starts Chromium; on success it is the engine's. On the main thread (Start) or the
// engine I/O thread (a restart): Chromium dies with the thread that launched it, and
// both live as long as the engine.
bool Engine::Launch(std::string& error) {
  RunningChromium started;
  auto onEvent = [this](json& m) {
    PostIO([this, m = std::move(m)]() mutable { Route(m); });
  };
  auto post = [this](Task fn) { PostIO(std::move(fn)); };
  std::vector<std::string> environment = ChromiumEnvironment(ProcessEnv);
  for (std::string& v : FolderEnvironment(userDataDir_)) environment.push_back(std::move(v));
  if (!LaunchChromium(exe_, args_, environment, startTimeoutMs_, onEvent, [this] { OnPipeClosed(); }, post, started,
                      error))
    return false;
  chromium_ = std::move(started);
  chromiumPid_ = chromium_.pid;
  return true;
}

template <class F>
bool Engine::RunOnIO(F fn) {
  auto done = std::make_shared<std::promise<bool>>();
  std::future<bool> result = done->get_future();
  PostIO([done, &fn] { done->set_value(fn()); });
  try {
    return result.get();
  } catch (const std::future_error&) {  // the engine I/O thread has stopped
    return false;
  }
}

void Engine::Shutdown() {
  if (!io_) return;
  stopping_ = true;
  running_ = false;
  for (auto& b : browsers_) {
    b->Invalidate();
    if (b->Helper()) b->Helper()->Close();
  }
  // After a restart under way (a queued one does nothing now): every page is closed,
  // then Chromium.
  bool closing = RunOnIO([this] {
    if (!chromium_.pipe || chromium_.pipe->Closed()) return false;
    for (auto& [s, b] : bySession_) chromium_.pipe->Send("Target.closeTarget", {{"targetId", b->TargetId()}});
    chromium_.pipe->Send("Browser.close");
    return true;
  });
  if (closing) WaitForExit(chromiumPid_, kChromiumExitWaitMs);
  StopThreads();
  StopChromium(chromium_);  // what is left of it, its process group included
  chromiumPid_ = -1;
  bySession_.clear();
  browsers_.clear();
  mainQueue_.Clear();
  chromium_.pipe.reset();
  restarting_ = false;
  if (ownUserDataDir_) RemoveTree(userDataDir_);
}

// ---------------------------------------------------------------- queues

void Engine::PostMain(Task fn) {
  mainQueue_.Post(std::move(fn));
  WakeMain();
}

std::shared_ptr<WorkThread> Engine::Thread(const std::shared_ptr<WorkThread>& which) {
  std::lock_guard<std::mutex> lock(threadsMutex_);
  return which;
}

void Engine::PostIO(Task fn) {
  if (auto io = Thread(io_)) io->Post(std::move(fn));
}

void Engine::PostIOAt(uint64_t dueUs, Task fn) {
  if (auto io = Thread(io_)) io->PostAt(dueUs, std::move(fn));
}

void Engine::PostPaint(Task fn) {
  if (auto paint = Thread(paint_)) paint->Post(std::move(fn));
}

// Main thread. The threads finish what is queued for now and end; then the pointers
// go, and later posts are dropped.
void Engine::StopThreads() {
  io_->Stop();
  paint_->Stop();
  std::shared_ptr<WorkThread> io, paint;
  {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    io.swap(io_);
    paint.swap(paint_);
  }
}

void Engine::DoWork() {
  if (inDoWork_) return;
  inDoWork_ = true;
  mainQueue_.RunPosted();
  uint64_t now = MonotonicUs();
  uint64_t next = 0;  // the earliest paint not yet due
  std::vector<std::shared_ptr<Browser>> browsers = browsers_;
  for (auto& b : browsers) {
    uint64_t due = b->DeliverPaint(now);
    if (due != 0 && (next == 0 || due < next)) next = due;
  }
  if (next != 0) WakeMain(int((next > now ? next - now : 0) / 1000));
  inDoWork_ = false;
}

// ---------------------------------------------------------------- registry and routing

std::vector<std::shared_ptr<Browser>> Engine::Registered() {
  std::vector<std::shared_ptr<Browser>> browsers;
  for (auto& [s, b] : bySession_) browsers.push_back(b);
  return browsers;
}

std::shared_ptr<Browser> Engine::FindSession(const std::string& sessionId) {
  auto it = bySession_.find(sessionId);
  return it == bySession_.end() ? nullptr : it->second;
}

std::shared_ptr<Browser> Engine::FindTarget(const std::string& targetId) {
  for (auto& [s, b] : bySession_)
    if (b->TargetId() == targetId) return b;
  return nullptr;
}

void Engine::Forget(const std::shared_ptr<Browser>& b) {
  auto it = bySession_.find(b->SessionId());
  if (it != bySession_.end() && it->second == b) bySession_.erase(it);
}

void Engine::ForgetOnMain(const std::shared_ptr<Browser>& b) {
  std::erase(browsers_, b);
}

void Engine::Route(json& msg) {
  const std::string method = StringField(msg, "method");
  json& params = msg["params"];
  std::string session = StringField(msg, "sessionId");
  if (session.empty()) {
    RouteTargetEvent(method, params);
    return;
  }
  auto b = FindSession(session);
  if (!b) return;
  if (method == "Page.screencastFrame") {
    b->FrameArrived(std::move(params));
  } else if (method == "Fetch.requestPaused" && IsBridgeRequest(params)) {
    // The library's own address: answered by the browser's render helper, never by
    // the network or the client's request handler.
    b->BridgeRequest(params);
  } else if (method == "Fetch.requestPaused") {
    b->RequestPaused(params);
  } else if (method == "Page.windowOpen") {
    b->WindowOpen(params);
  } else if (method == "Inspector.targetCrashed") {
    b->RendererCrashed();
  } else if (method == "Inspector.targetReloadedAfterCrash") {
    b->RendererBack();
  } else {
    b->HandleEvent(method, params);
  }
}

void Engine::RouteTargetEvent(const std::string& method, const json& params) {
  if (method != "Target.targetCreated" && method != "Target.targetInfoChanged") return;
  const json* info = ObjectField(params, "targetInfo");
  if (!info) return;
  std::string targetId = StringField(*info, "targetId");
  if (method == "Target.targetCreated") {
    std::string opener = StringField(*info, "openerId");
    if (opener.empty()) return;
    if (auto b = FindTarget(opener)) b->PopupTargetCreated(targetId);
  } else if (auto b = FindTarget(targetId)) {
    b->HandleEvent(method, *info);
  }
}

// ---------------------------------------------------------------- browsers

std::shared_ptr<Browser> Engine::CreateBrowser(std::shared_ptr<BrowserDelegate> delegate,
                                               const BrowserOptions& options,
                                               const std::string& url) {
  if (!running_ || restarting_ || !io_) return nullptr;
  auto session = std::make_unique<PageSession>(*this);
  PageSession* link = session.get();
  auto b = std::make_shared<Browser>(nextBrowserId_++, delegate, options, std::move(session), decoder_);
  link->Bind(b);
  Rect rect = b->AskViewRect();
  bool attached = RunOnIO([this, &b, rect] {
    if (!AttachBrowser(*b)) return false;
    SetUpBrowser(*b);
    b->Begin(rect.width, rect.height);
    return true;
  });
  if (!attached) return nullptr;
  browsers_.push_back(b);
  if (!url.empty()) b->LoadUrl(0, url);
  std::weak_ptr<Browser> w = b;
  PostMain([w] {
    auto b = w.lock();
    if (b && b->Valid() && b->Delegate()) b->Delegate()->OnAfterCreated();
  });
  return b;
}

// Creates a page target for the browser and attaches to it; on success the browser
// knows its target, session and main frame and is found by its session.
bool Engine::AttachBrowser(Browser& b) {
  std::shared_ptr<DevToolsPipe> pipe = chromium_.pipe;
  if (!pipe) return false;
  json r;
  json target = {{"url", "about:blank"}};
  // Its frames are drawn when the browser's pump asks.
  if (beginFrames_) target["enableBeginFrameControl"] = true;
  if (!pipe->Call("Target.createTarget", std::move(target), "", &r, kCallTimeoutMs)) return false;
  std::string targetId = StringField(r, "targetId");
  if (!pipe->Call("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}}, "", &r,
                  kCallTimeoutMs)) {
    pipe->Send("Target.closeTarget", {{"targetId", targetId}});
    return false;
  }
  std::string session = StringField(r, "sessionId");
  if (!b.SessionId().empty()) bySession_.erase(b.SessionId());
  b.Reattached(targetId, session);
  bySession_[session] = b.shared_from_this();
  pipe->Send("Page.enable", json::object(), session);
  if (pipe->Call("Page.getFrameTree", json::object(), session, &r, kCallTimeoutMs)) {
    const json* tree = ObjectField(r, "frameTree");
    const json* frame = tree ? ObjectField(*tree, "frame") : nullptr;
    if (frame) b.SetMainFrame(StringField(*frame, "id"));
  }
  return true;
}

// Sends the page set-up that the browser's options ask for.
void Engine::SetUpBrowser(Browser& b) {
  std::shared_ptr<DevToolsPipe> pipe = chromium_.pipe;
  if (!pipe) return;
  const BrowserOptions& options = b.Options();
  const std::string& s = b.SessionId();
  pipe->Send("Runtime.enable", json::object(), s);
  pipe->Send("Network.enable", json::object(), s);
  pipe->Send("Emulation.setFocusEmulationEnabled", {{"enabled", true}}, s);
  for (auto& [method, params] : PageIdentityCommands()) pipe->Send(method, params, s);
  SendPageGuardSetUp(*pipe, s);
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
  if (b.Helper()) {
    // The extensions run before any script of every new document, and in the
    // document that exists now.
    for (const std::string& script : InjectedScripts(b.Helper()->Extensions(options.helperWaitMs))) {
      pipe->Send("Page.addScriptToEvaluateOnNewDocument", {{"source", script}}, s);
      pipe->Send("Runtime.evaluate", {{"expression", script}, {"silent", true}}, s);
    }
  }
  json patterns = json::array();
  if (b.Delegate() && b.Delegate()->WantsRequests())
    patterns.push_back({{"urlPattern", "*"}, {"requestStage", "Request"}});
  else if (b.Helper())
    patterns.push_back({{"urlPattern", std::string(kBridgeUrl) + "*"}, {"requestStage", "Request"}});
  // Authentication challenges come to the page guard, which gives no credentials.
  if (!patterns.empty()) pipe->Send("Fetch.enable", {{"patterns", patterns}, {"handleAuthRequests", true}}, s);
}

// ---------------------------------------------------------------- restarts

// Pipe reader thread (or the engine I/O thread after a restart): Chromium went away
// on its own. The engine I/O thread starts it again, unless this is the third crash
// within a minute; commands given meanwhile queue behind the restart.
void Engine::OnPipeClosed() {
  if (!running_ || stopping_) return;
  if (restarting_.exchange(true)) return;
  PostIO([this] { Restart(); });
}

// Engine I/O thread. Starts Chromium again and gives every browser a new page at its
// last view size and address.
void Engine::Restart() {
  if (stopping_) return;
  std::vector<std::shared_ptr<Browser>> browsers = Registered();
  StopChromium(chromium_);
  chromiumPid_ = -1;
  bool again = restartPolicy_.NoteCrash();
  std::string error;
  if (!again) {
    std::fprintf(stderr, "Chromium ended unexpectedly %zu times within a minute; it is not started again\n",
                 restartPolicy_.RecentCrashes());
  } else if (!Launch(error)) {
    std::fprintf(stderr, "Chromium ended unexpectedly and could not be started again: %s\n",
                 error.c_str());
    again = false;
  }
  if (!again) {
    GiveUp(browsers);
    return;
  }
  if (stopping_) return;  // Shutdown ends the new Chromium
  ++restarts_;
  std::fprintf(stderr, "Chromium ended unexpectedly; started again\n");
  std::fflush(stderr);
  for (auto& b : browsers) {
    if (!b->Valid() || !AttachBrowser(*b)) {
      b->Terminated(kTerminationCrashed);
    } else {
      SetUpBrowser(*b);
      b->Resume();
    }
  }
  restarting_ = false;
  // Chromium may have died again before this restart was done.
  if (chromium_.pipe && chromium_.pipe->Closed()) OnPipeClosed();
}

// Chromium is gone for good: browsers end as after a render process crash.
void Engine::GiveUp(const std::vector<std::shared_ptr<Browser>>& browsers) {
  crashed_ = true;
  running_ = false;
  std::fflush(stderr);
  for (auto& b : browsers) b->Terminated(kTerminationCrashed);
}

}  // namespace cefeng
