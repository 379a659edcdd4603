// One page: a thin facade over its parts. The public calls come from any thread and
// go, in call order, to the browser's sequence (the engine I/O thread), which owns
// everything the parts hold; the delegate hears from the main thread.
//
// Part         file             thread        state
// frames_      frame_tree       sequence      frame ids, addresses, names, contexts
// load_        load_tracker     sequence      document requests, error pages, title
// screencast_  screencast       sequence      starts, arrivals, the watch
// pump_        frame_pump       sequence      the frames asked of Chromium
// paint_       paint            paint / main  decoding / pacing; hand-off under a lock
// input_       input            sequence      the cursor probe
// interceptor_ interceptor      sequence      paused requests
// bridge_      bridge_endpoint  sequence      native calls (they wait on the helper)
// dialogs_     dialogs          sequence      none (replies are answered once, any thread)
// guard_       page_guard       sequence      none
#pragma once
#include <atomic>
#include <deque>
#include <memory>
#include <string>

#include "bridge_endpoint.h"
#include "console.h"
#include "delegate.h"
#include "dialogs.h"
#include "frame_pump.h"
#include "frame_tree.h"
#include "input.h"
#include "interceptor.h"
#include "load_tracker.h"
#include "page_guard.h"
#include "paint.h"
#include "screencast.h"
#include "session.h"

namespace cefeng {

class Browser : public std::enable_shared_from_this<Browser> {
 public:
  Browser(int id, std::shared_ptr<BrowserDelegate> delegate, const BrowserOptions& options,
          std::unique_ptr<Session> session, PngDecoder decoder);
  int Id() const { return id_; }
  bool Valid() const { return alive_.load(); }
  // The render helper's process id; -1 when the browser has none.
  int HelperPid() const { return helper_ ? helper_->Pid() : -1; }
  // Any thread: how often the screencast's watch had to start it again.
  int ScreencastWatchRestarts() const { return screencast_.WatchRestarts(); }
  std::shared_ptr<BrowserDelegate> Delegate() const { return delegate_; }
  const BrowserOptions& Options() const { return options_; }
  const std::shared_ptr<RenderHelper>& Helper() const { return helper_; }

  // Any thread; the order of calls is kept.
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
  // A load that fails before it starts (an address no handler can load).
  void LoadFailed(const std::string& errorText, const std::string& url);
  // Any thread: what the frame tree last published.
  int64_t MainFrameId() const { return frames_.MainId(); }
  bool FrameValid(int64_t frameId) const { return Valid() && frames_.Known(frameId); }
  std::string FrameUrl(int64_t frameId) const { return frames_.Url(frameId); }
  std::string FrameName(int64_t frameId) const { return frames_.Name(frameId); }

  // The engine's calls, on the sequence.
  const std::string& SessionId() const { return sessionId_; }
  const std::string& TargetId() const { return targetId_; }
  void Reattached(const std::string& targetId, const std::string& sessionId);
  void SetMainFrame(const std::string& devtoolsId) { frames_.SetMain(devtoolsId); }
  // The first view size and screencast; after a restart of Chromium, the last ones
  // and the last address.
  void Begin(int w, int h);
  void Resume();
  void HandleEvent(const std::string& method, const json& params);
  // Page.frameNavigated: a new document of the main frame.
  void MainFrameNavigated(const json& params);
  void FrameArrived(json params);
  void RequestPaused(const json& params);
  void BridgeRequest(const json& params) {
    pump_.Wake();
    bridge_.Request(params);
  }
  void WindowOpen(const json& params);
  void PopupTargetCreated(const std::string& targetId);
  void Terminated(int status);
  // The page's renderer crashed: the client hears of it and the browser stays; the
  // next load gives the page a new renderer, and the screencast starts again on it.
  void RendererCrashed();
  void RendererBack();
  void Invalidate() { alive_ = false; }
  // Main thread.
  Rect AskViewRect();
  uint64_t DeliverPaint(uint64_t nowUs);

 private:
  // Runs fn on the sequence in call order, while the browser is valid.
  void Run(std::function<void(Browser&)> fn, bool wake = true);
  void ApplyViewSize(const Rect& rect);
  void EvaluateScript(int64_t frameId, const std::string& code, const std::string& url, int startLine);
  void Navigate(int64_t frameId, const std::string& url);
  void NavigateNow(int64_t frameId, const std::string& url);
  void Console(const ConsoleLine& line);
  void ResolvePopups();

  const int id_;
  const std::shared_ptr<BrowserDelegate> delegate_;
  BrowserOptions options_;
  const std::shared_ptr<RenderHelper> helper_;
  const std::unique_ptr<Session> session_;
  std::atomic<bool> alive_{true};  // Valid(): read by every thread, cleared once

  // Sequence only.
  std::string targetId_;
  std::string sessionId_;
  CommandOrder order_;
  std::deque<bool> popupDecisions_;  // matched in order with new targets; true: close
  std::deque<std::string> popupTargets_;
  bool rendererCrashed_ = false;  // until the page has a renderer again

  FrameTree frames_;
  LoadTracker load_;
  Screencast screencast_;
  FramePump pump_;
  PaintPipeline paint_;
  Input input_;
  RequestInterceptor interceptor_;
  BridgeEndpoint bridge_;
  Dialogs dialogs_;
  PageGuard guard_;
};

}  // namespace cefeng
