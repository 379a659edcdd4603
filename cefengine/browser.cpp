#include "browser.h"

#include "console.h"

namespace cefeng {

namespace {

constexpr int kMaxFrameRate = 240;
constexpr int kDefaultFrameRate = 30;
constexpr Rect kDefaultView = {0, 0, 800, 600};

BrowserOptions Clamped(BrowserOptions o) {
  if (o.frameRate <= 0) o.frameRate = kDefaultFrameRate;
  if (o.frameRate > kMaxFrameRate) o.frameRate = kMaxFrameRate;
  return o;
}

}  // namespace

Browser::Browser(int id, std::shared_ptr<BrowserDelegate> delegate, const BrowserOptions& options,
                 std::unique_ptr<Session> session, PngDecoder decoder)
    : id_(id), delegate_(std::move(delegate)), options_(Clamped(options)), helper_(options.helper),
      session_(std::move(session)), load_(*session_, frames_), screencast_(*session_, order_, options_.frameRate),
      pump_(*session_, options_.frameRate), paint_(*session_, options_.frameRate, decoder,
             [this](int w, int h, uint64_t arrivedUs) { screencast_.Decoded(w, h, arrivedUs); }),
      input_(*session_, [this] { pump_.Prompt(); }), interceptor_(*session_, frames_), bridge_(*session_, helper_), dialogs_(*session_), guard_(*session_) {}

// A command may change the page: its frames are asked for at the full rate, at once
// for a still page. Input wakes the pump only once the page has taken it, so that
// the frame shows what the event changed.
void Browser::Run(std::function<void(Browser&)> fn, bool wake) {
  if (!alive_) return;
  session_->Post([this, fn = std::move(fn), wake] {
    order_.Run([this, fn, wake] {
      if (!alive_) return;
      if (wake) pump_.Wake();
      fn(*this);
    });
  });
}

// ---------------------------------------------------------------- public calls

void Browser::WasResized() {
  if (!alive_) return;
  if (session_->OnMainThread()) {
    Rect rect = AskViewRect();
    Run([rect](Browser& b) { b.ApplyViewSize(rect); });
    return;
  }
  // The size is the delegate's, asked on the main thread; commands given meanwhile
  // wait behind it.
  auto self = shared_from_this();
  session_->Post([self] { self->order_.Hold(); });
  session_->PostMain([self] {
    Rect rect = self->AskViewRect();
    self->session_->Post([self, rect] {
      if (self->alive_) self->ApplyViewSize(rect);
      self->order_.Release();
    });
  });
}

void Browser::SendMouseClick(const MouseInput& e, int button, bool up, int clickCount) {
  Run([=](Browser& b) { b.input_.MouseClick(e, button, up, clickCount); }, false);
}

void Browser::SendMouseMove(const MouseInput& e, bool leave) {
  Run([=](Browser& b) { b.input_.MouseMove(e, leave); }, false);
}

void Browser::SendMouseWheel(const MouseInput& e, int dx, int dy) {
  Run([=](Browser& b) { b.input_.MouseWheel(e, dx, dy); }, false);
}

void Browser::SendKey(const KeyInput& e) {
  Run([=](Browser& b) { b.input_.Key(e); }, false);
}

void Browser::SendFocus(bool focus) {
  Run([=](Browser& b) { b.input_.Focus(focus); });
}

void Browser::LoadUrl(int64_t frameId, const std::string& url) {
  Run([=](Browser& b) { b.Navigate(frameId, url); });
}

void Browser::LoadString(int64_t frameId, const std::string& html, const std::string&) {
  Run([=](Browser& b) {
    std::string frame = b.frames_.DevToolsId(frameId);
    if (!frame.empty()) b.session_->Send("Page.setDocumentContent", {{"frameId", frame}, {"html", html}});
  });
}

void Browser::ExecuteJavaScript(int64_t frameId, const std::string& code, const std::string& url,
                                int startLine) {
  Run([=](Browser& b) { b.EvaluateScript(frameId, code, url, startLine); });
}

void Browser::StopLoad() {
  Run([](Browser& b) { b.session_->Send("Page.stopLoading"); });
}

void Browser::LoadFailed(const std::string& errorText, const std::string& url) {
  Run([=](Browser& b) { b.load_.LoadFailed(std::string(), errorText, url); });
}

void Browser::Close() {
  if (!alive_.exchange(false)) return;
  if (helper_) helper_->Close();
  // Not behind the command order: commands still held there are dropped with the
  // browser, and a close held with them would be lost once the engine forgets it.
  session_->Post([this] {
    pump_.Stop();
    screencast_.Stop();
    session_->SendToBrowser("Target.closeTarget", {{"targetId", targetId_}});
  });
  session_->Notify([](BrowserDelegate& d) { d.OnBeforeClose(); }, false);
  session_->Closed();
}

// ---------------------------------------------------------------- on the sequence

void Browser::Navigate(int64_t frameId, const std::string& url) {
  // A page busy in its script would keep the next one out; later commands wait.
  order_.Hold();
  guard_.WhenResponsive([this, frameId, url] {
    NavigateNow(frameId, url);
    order_.Release();
  });
}

void Browser::NavigateNow(int64_t frameId, const std::string& url) {
  std::string frame = frames_.DevToolsId(frameId);
  json p = {{"url", url}};
  if (!frame.empty() && frameId > 0 && frame != frames_.MainDevToolsId()) p["frameId"] = frame;
  int64_t fid = frameId > 0 ? frameId : frames_.MainIdNow();
  session_->Send("Page.navigate", std::move(p), [this, fid, url](const json& r, const std::string& err) {
    std::string text = err.empty() ? StringField(r, "errorText") : std::string();
    if (!text.empty()) load_.LoadFailed(frames_.DevToolsId(fid), text, url);
  });
}

void Browser::EvaluateScript(int64_t frameId, const std::string& code, const std::string& url,
                             int startLine) {
  std::string frame = frames_.DevToolsId(frameId);
  json p = {{"expression", url.empty() ? code : code + "\n//# sourceURL=" + url},
            {"returnByValue", false},
            {"awaitPromise", false}};
  int context = frames_.Context(frame);
  if (context >= 0 && frame != frames_.MainDevToolsId()) p["contextId"] = context;
  int base = startLine > 0 ? startLine : 1;
  session_->Send("Runtime.evaluate", std::move(p), [this, url, base](const json& r, const std::string& err) {
    const json* found = err.empty() ? ObjectField(r, "exceptionDetails") : nullptr;
    if (!found) return;
    json details = *found;
    details["url"] = url;
    details["lineNumber"] = IntField(details, "lineNumber") + base - 1;
    ConsoleLine line;
    if (ExceptionLine({{"exceptionDetails", details}}, line)) Console(line);
  });
}

void Browser::Console(const ConsoleLine& line) {
  session_->Notify([line](BrowserDelegate& d) { d.OnConsoleMessage(line.text, line.source, line.line); });
}

void Browser::Reattached(const std::string& targetId, const std::string& sessionId) {
  targetId_ = targetId;
  sessionId_ = sessionId;
  frames_.Reattached();
  load_.Reattached();
  popupDecisions_.clear();
  popupTargets_.clear();
  rendererCrashed_ = false;  // a new page: Resume starts its screencast
}

void Browser::Begin(int w, int h) {
  pump_.Start();
  order_.Run([this, w, h] {
    screencast_.SetViewSize(w, h);
    screencast_.Start();
  });
}

void Browser::Resume() {
  paint_.DropHeldAck();  // the old screencast's frame
  pump_.Start();
  screencast_.Resume();
  std::string url = frames_.LastAddress();
  if (!url.empty() && url != "about:blank") session_->Send("Page.navigate", {{"url", url}});
}

void Browser::ApplyViewSize(const Rect& rect) {
  pump_.Wake();
  if (rect.width != screencast_.Width() || rect.height != screencast_.Height())
    screencast_.SetViewSize(rect.width, rect.height);
}

// Events come while the page loads or changes: its frames are asked for at the full
// rate meanwhile.
void Browser::HandleEvent(const std::string& method, const json& params) {
  pump_.Wake();
  // In case the reload after a crash was not announced.
  if (method == "Page.frameNavigated") MainFrameNavigated(params);
  if (load_.HandleEvent(method, params) || dialogs_.HandleEvent(method, params) ||
      guard_.HandleEvent(method, params))
    return;
  if (method == "Page.frameAttached") {
    frames_.IdFor(StringField(params, "frameId"));
  } else if (method == "Page.frameDetached") {
    frames_.Detached(StringField(params, "frameId"));
  } else if (method == "Runtime.executionContextCreated") {
    const json* c = ObjectField(params, "context");
    const json* aux = c ? ObjectField(*c, "auxData") : nullptr;
    if (aux && BoolField(*aux, "isDefault")) frames_.SetContext(StringField(*aux, "frameId"), IntField(*c, "id"));
  } else if (method == "Runtime.executionContextsCleared") {
    frames_.ClearContexts();
  } else if (method == "Runtime.consoleAPICalled") {
    Console(ConsoleCallLine(params));
  } else if (method == "Runtime.exceptionThrown") {
    ConsoleLine line;
    if (ExceptionLine(params, line)) Console(line);
  }
}

void Browser::MainFrameNavigated(const json& params) {
  const json* frame = ObjectField(params, "frame");
  if (!frame || !StringField(*frame, "parentId").empty()) return;
  if (rendererCrashed_)
    RendererBack();  // in case the reload after a crash was not announced
  else
    screencast_.DocumentCommitted();
}

void Browser::FrameArrived(json params) {
  pump_.Wake();
  const json* meta = ObjectField(params, "metadata");
  uint64_t arrivedUs = meta ? screencast_.Arrived(IntField(*meta, "deviceWidth"), IntField(*meta, "deviceHeight"))
                            : screencast_.Arrived();
  paint_.FrameArrived(std::move(params), arrivedUs, alive_);
}

void Browser::RequestPaused(const json& params) {
  pump_.Wake();
  interceptor_.Paused(params, [this](std::shared_ptr<RequestInfo> info, std::function<void(bool)> done) {
    return alive_ && delegate_ ? delegate_->OnBeforeResourceLoad(std::move(info), std::move(done))
                               : int(kAnswerContinue);
  });
}

void Browser::WindowOpen(const json& params) {
  bool close = alive_ && delegate_ &&
               delegate_->OnBeforePopup(frames_.MainIdNow(), StringField(params, "url"),
                                        StringField(params, "windowName"), BoolField(params, "userGesture"));
  popupDecisions_.push_back(close);
  ResolvePopups();
}

void Browser::PopupTargetCreated(const std::string& targetId) {
  popupTargets_.push_back(targetId);
  ResolvePopups();
}

void Browser::ResolvePopups() {
  while (!popupDecisions_.empty() && !popupTargets_.empty()) {
    if (popupDecisions_.front()) session_->SendToBrowser("Target.closeTarget", {{"targetId", popupTargets_.front()}});
    popupDecisions_.pop_front();
    popupTargets_.pop_front();
  }
}

void Browser::Terminated(int status) {
  if (!alive_.exchange(false)) return;
  pump_.Stop();
  screencast_.Halt();
  session_->Notify([status](BrowserDelegate& d) { d.OnRenderProcessTerminated(status); }, false);
}

void Browser::RendererCrashed() {
  if (!alive_ || rendererCrashed_) return;
  rendererCrashed_ = true;
  screencast_.Halt();
  paint_.DropHeldAck();
  session_->Notify([](BrowserDelegate& d) { d.OnRenderProcessTerminated(kTerminationCrashed); });
}

void Browser::RendererBack() {
  if (!alive_ || !rendererCrashed_) return;
  rendererCrashed_ = false;
  order_.Run([this] { screencast_.Resume(); });
}

// ---------------------------------------------------------------- main thread

Rect Browser::AskViewRect() {
  Rect rect;
  if (!(delegate_ && delegate_->GetViewRect(rect) && rect.width > 0 && rect.height > 0) &&
      !(delegate_ && delegate_->GetRootScreenRect(rect) && rect.width > 0 && rect.height > 0))
    rect = kDefaultView;
  return rect;
}

uint64_t Browser::DeliverPaint(uint64_t nowUs) {
  return paint_.Deliver(nowUs, [this](const std::vector<Rect>& rects, const uint8_t* px, int w, int h) {
    if (alive_ && delegate_) delegate_->OnPaint(rects, px, w, h);
  });
}

}  // namespace cefeng
