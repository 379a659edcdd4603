// The program's client as the browser core's delegate: each notification goes to the
// client's handler for it, on the thread the core calls on.
#pragma once
#include <cstring>

#include "cefapi/cef_capi.h"
#include "capi_common.h"
#include "capi_dialogs.h"
#include "capi_objects.h"
#include "core.h"

namespace cefeng::capi {


// Routes the core's notifications to the program's client and its handlers. Every
// handler is asked for afresh (the client may hand out none), and every object
// argument is a new reference that the handler releases.
class ClientDelegate : public BrowserDelegate {
 public:
  explicit ClientDelegate(cef_client_t* client) : client_(client) {}
  ~ClientDelegate() override { CefRelease(client_); }
  void Bind(std::weak_ptr<Browser> b) { browser_ = std::move(b); }

  template <class H>
  H* Handler(H* (*cef_client_t::*getter)(cef_client_t*)) {
    if (!client_ || !(client_->*getter)) return nullptr;
    return (client_->*getter)(client_);
  }
  cef_browser_t* B() {
    auto b = browser_.lock();
    return b ? NewBrowser(b) : nullptr;
  }
  cef_frame_t* F(int64_t id) {
    auto b = browser_.lock();
    return b ? NewFrame(b, id) : nullptr;
  }

  bool Rect(int (*cef_render_handler_t::*slot)(cef_render_handler_t*, cef_browser_t*, cef_rect_t*),
            cefeng::Rect& out) {
    cef_render_handler_t* h = Handler(&cef_client_t::get_render_handler);
    bool ok = false;
    if (h && h->*slot) {
      cef_rect_t r{0, 0, 0, 0};
      ok = (h->*slot)(h, B(), &r) != 0;
      out = {r.x, r.y, r.width, r.height};
    }
    CefRelease(h);
    return ok;
  }
  bool GetViewRect(cefeng::Rect& r) override { return Rect(&cef_render_handler_t::get_view_rect, r); }
  bool GetRootScreenRect(cefeng::Rect& r) override {
    return Rect(&cef_render_handler_t::get_root_screen_rect, r);
  }
  void OnAfterCreated() override {
    cef_life_span_handler_t* h = Handler(&cef_client_t::get_life_span_handler);
    if (h && h->on_after_created) h->on_after_created(h, B());
    CefRelease(h);
  }
  void OnBeforeClose() override {
    cef_life_span_handler_t* h = Handler(&cef_client_t::get_life_span_handler);
    if (h && h->on_before_close) h->on_before_close(h, B());
    CefRelease(h);
  }
  void OnPaint(const std::vector<cefeng::Rect>& rects, const uint8_t* pixels, int w, int h) override {
    cef_render_handler_t* r = Handler(&cef_client_t::get_render_handler);
    if (r && r->on_paint) {
      std::vector<cef_rect_t> list;
      list.reserve(rects.size());
      for (auto& x : rects) list.push_back({x.x, x.y, x.width, x.height});
      r->on_paint(r, B(), PET_VIEW, list.size(), list.data(), pixels, w, h);
    }
    CefRelease(r);
  }
  void OnCursorChange(int type) override {
    cef_render_handler_t* r = Handler(&cef_client_t::get_render_handler);
    if (r && r->on_cursor_change)
      r->on_cursor_change(r, B(), 0, static_cast<cef_cursor_type_t>(type), nullptr);
    CefRelease(r);
  }
  void OnLoadingStateChange(bool loading, bool back, bool fwd) override {
    cef_load_handler_t* h = Handler(&cef_client_t::get_load_handler);
    if (h && h->on_loading_state_change) h->on_loading_state_change(h, B(), loading, back, fwd);
    CefRelease(h);
  }
  void OnLoadStart(int64_t frame) override {
    cef_load_handler_t* h = Handler(&cef_client_t::get_load_handler);
    if (h && h->on_load_start) h->on_load_start(h, B(), F(frame));
    CefRelease(h);
  }
  void OnLoadEnd(int64_t frame, int status) override {
    cef_load_handler_t* h = Handler(&cef_client_t::get_load_handler);
    if (h && h->on_load_end) h->on_load_end(h, B(), F(frame), status);
    CefRelease(h);
  }
  void OnLoadError(int64_t frame, int code, const std::string& text, const std::string& url) override {
    cef_load_handler_t* h = Handler(&cef_client_t::get_load_handler);
    if (h && h->on_load_error) {
      View t(text), u(url);
      h->on_load_error(h, B(), F(frame), static_cast<cef_errorcode_t>(code), t.get(), u.get());
    }
    CefRelease(h);
  }
  void OnAddressChange(int64_t frame, const std::string& url) override {
    cef_display_handler_t* h = Handler(&cef_client_t::get_display_handler);
    if (h && h->on_address_change) {
      View u(url);
      h->on_address_change(h, B(), F(frame), u.get());
    }
    CefRelease(h);
  }
  void OnTitleChange(const std::string& title) override {
    cef_display_handler_t* h = Handler(&cef_client_t::get_display_handler);
    if (h && h->on_title_change) {
      View t(title);
      h->on_title_change(h, B(), t.get());
    }
    CefRelease(h);
  }
  bool OnConsoleMessage(const std::string& msg, const std::string& source, int line) override {
    cef_display_handler_t* h = Handler(&cef_client_t::get_display_handler);
    bool r = false;
    if (h && h->on_console_message) {
      View m(msg), s(source);
      r = h->on_console_message(h, B(), m.get(), s.get(), line) != 0;
    }
    CefRelease(h);
    return r;
  }
  void OnRenderProcessTerminated(int status) override {
    static_assert(kTerminationCrashed == TS_PROCESS_CRASHED, "the engine's termination status");
    cef_request_handler_t* h = Handler(&cef_client_t::get_request_handler);
    if (h && h->on_render_process_terminated)
      h->on_render_process_terminated(h, B(), static_cast<cef_termination_status_t>(status));
    CefRelease(h);
  }
  bool OnJsDialog(const DialogInfo& info, DialogAnswer reply) override {
    cef_jsdialog_handler_t* h = Handler(&cef_client_t::get_jsdialog_handler);
    bool kept = h && AskJsDialog(h, B(), info, std::move(reply));
    CefRelease(h);
    return kept;
  }
  void OnDialogClosed() override {
    cef_jsdialog_handler_t* h = Handler(&cef_client_t::get_jsdialog_handler);
    if (h) TellDialogClosed(h, B());
    CefRelease(h);
  }
  bool WantsRequests() override {
    cef_request_handler_t* h = Handler(&cef_client_t::get_request_handler);
    bool wants = h && h->on_before_resource_load;
    CefRelease(h);
    return wants;
  }
  int OnBeforeResourceLoad(std::shared_ptr<RequestInfo> info, std::function<void(bool)> done) override {
    cef_request_handler_t* h = Handler(&cef_client_t::get_request_handler);
    int answer = RV_CONTINUE;
    if (h && h->on_before_resource_load) {
      answer = h->on_before_resource_load(h, B(), F(info->frameId), NewRequest(info), NewRequestCallback(done));
      if (answer != RV_CANCEL && answer != RV_CONTINUE && answer != RV_CONTINUE_ASYNC)
        answer = RV_CONTINUE;
    }
    CefRelease(h);
    return answer;
  }
  bool OnBeforePopup(int64_t frame, const std::string& url, const std::string& name,
                     bool gesture) override {
    cef_life_span_handler_t* h = Handler(&cef_client_t::get_life_span_handler);
    bool cancel = false;
    if (h && h->on_before_popup) {
      std::u16string wu = Utf8ToUtf16(url), wn = Utf8ToUtf16(name);
      cef_string_t target{}, targetName{};
      cef_string_utf16_set(wu.data(), wu.size(), &target, 1);
      cef_string_utf16_set(wn.data(), wn.size(), &targetName, 1);
      cef_popup_features_t features;
      memset(&features, 0, sizeof features);
      cef_window_info_t window;
      memset(&window, 0, sizeof window);
      window.windowless_rendering_enabled = 1;
      cef_browser_settings_t settings;
      memset(&settings, 0, sizeof settings);
      settings.size = sizeof settings;
      cef_client_t* client = CefAddRef(client_);
      int noJs = 0;
      cancel = h->on_before_popup(h, B(), F(frame), &target, &targetName, WOD_NEW_FOREGROUND_TAB,
                                  gesture, &features, &window, &client, &settings, &noJs) != 0;
      CefRelease(client);
      cef_string_utf16_clear(&target);
      cef_string_utf16_clear(&targetName);
    }
    CefRelease(h);
    return cancel;
  }

 private:
  cef_client_t* client_;
  std::weak_ptr<Browser> browser_;
};

// The browser options the engine's settings structure asks for (as far as it is long).
BrowserOptions OptionsFrom(const cef_browser_settings_t* s);

}  // namespace cefeng::capi
