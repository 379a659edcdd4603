// The engine's C entry points and reference-counted objects over the browser core.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <glib.h>

#include "cefapi/cef_capi.h"
#include "capi_common.h"
#include "capi_render.h"
#include "core.h"
#include "os_process.h"

using namespace cefeng;
using namespace cefeng::capi;

namespace {

// ---------------------------------------------------------------- registry

struct Globals {
  std::mutex m;
  cef_app_t* app = nullptr;
  std::set<std::u16string> customSchemes;
  bool initialized = false;
};
Globals& G() {
  static Globals* g = new Globals;
  return *g;
}

struct SchemeRegistrar : Counted<cef_scheme_registrar_t, SchemeRegistrar> {
  SchemeRegistrar() {
    c.add_custom_scheme = [](cef_scheme_registrar_t*, const cef_string_t* name, int, int, int) {
      if (!name || !name->str) return 0;
      std::u16string n(name->str, name->length);
      for (auto& ch : n)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char16_t>(ch - 'A' + 'a');
      std::lock_guard<std::mutex> lock(G().m);
      G().customSchemes.insert(n);
      return 1;
    };
  }
};

void RegisterSchemes(cef_app_t* app) {
  if (!app || !app->on_register_custom_schemes) return;
  // The registrar's only reference goes to the handler, which releases it.
  auto* r = new SchemeRegistrar;
  app->on_register_custom_schemes(app, r->Handle());
}

bool IsCustomScheme(const std::string& url) {
  size_t colon = url.find(':');
  if (colon == std::string::npos) return false;
  std::string scheme = url.substr(0, colon);
  for (auto& ch : scheme) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
  std::lock_guard<std::mutex> lock(G().m);
  return G().customSchemes.count(Utf8ToUtf16(scheme)) != 0;
}

// ---------------------------------------------------------------- objects

cef_browser_t* NewBrowser(const std::shared_ptr<Browser>& b);
cef_frame_t* NewFrame(const std::shared_ptr<Browser>& b, int64_t id);

struct HostObj : Counted<cef_browser_host_t, HostObj> {
  std::shared_ptr<Browser> b;
  explicit HostObj(std::shared_ptr<Browser> browser);
};

struct BrowserObj : Counted<cef_browser_t, BrowserObj> {
  std::shared_ptr<Browser> b;
  explicit BrowserObj(std::shared_ptr<Browser> browser) : b(std::move(browser)) {
    c.get_host = [](cef_browser_t* s) { return (new HostObj(From(s)->b))->Handle(); };
    c.can_go_back = [](cef_browser_t*) { return 0; };
    c.go_back = [](cef_browser_t*) {};
    c.can_go_forward = [](cef_browser_t*) { return 0; };
    c.go_forward = [](cef_browser_t*) {};
    c.is_loading = [](cef_browser_t*) { return 0; };
    c.reload = [](cef_browser_t* s) { From(s)->b->ExecuteJavaScript(0, "location.reload()", "", 1); };
    c.stop_load = [](cef_browser_t* s) { From(s)->b->StopLoad(); };
    c.get_identifier = [](cef_browser_t* s) { return From(s)->b->Id(); };
    c.is_same = [](cef_browser_t* s, cef_browser_t* that) {
      int same = that && From(that)->b == From(s)->b;
      Release(that);
      return same;
    };
    c.is_popup = [](cef_browser_t*) { return 0; };
    c.has_document = [](cef_browser_t*) { return 1; };
    c.get_main_frame = [](cef_browser_t* s) {
      auto& b = From(s)->b;
      return b->Valid() ? NewFrame(b, b->MainFrameId()) : nullptr;
    };
    c.get_focused_frame = [](cef_browser_t* s) {
      auto& b = From(s)->b;
      return b->Valid() ? NewFrame(b, b->MainFrameId()) : nullptr;
    };
    c.get_frame_count = [](cef_browser_t*) { return size_t(1); };
    c.send_process_message = [](cef_browser_t*, cef_process_id_t, cef_process_message_t* m) {
      Release(m);
      return 0;
    };
  }
};

cef_browser_t* NewBrowser(const std::shared_ptr<Browser>& b) { return (new BrowserObj(b))->Handle(); }

MouseInput Mouse(const cef_mouse_event_t* e) {
  MouseInput m;
  if (e) {
    m.x = e->x;
    m.y = e->y;
    m.modifiers = e->modifiers;
  }
  return m;
}

HostObj::HostObj(std::shared_ptr<Browser> browser) : b(std::move(browser)) {
  c.get_browser = [](cef_browser_host_t* s) { return NewBrowser(From(s)->b); };
  c.close_browser = [](cef_browser_host_t* s, int) { From(s)->b->Close(); };
  c.get_window_handle = [](cef_browser_host_t*) { return cef_window_handle_t(0); };
  c.get_client = [](cef_browser_host_t*) -> cef_client_t* { return nullptr; };
  c.get_zoom_level = [](cef_browser_host_t*) { return 0.0; };
  c.set_zoom_level = [](cef_browser_host_t*, double) {};
  c.was_resized = [](cef_browser_host_t* s) { From(s)->b->WasResized(); };
  c.was_hidden = [](cef_browser_host_t*, int) {};
  c.notify_screen_info_changed = [](cef_browser_host_t*) {};
  c.invalidate = [](cef_browser_host_t*, cef_paint_element_type_t) {};
  c.send_key_event = [](cef_browser_host_t* s, const cef_key_event_t* e) {
    if (!e) return;
    KeyInput k;
    k.type = e->type;
    k.modifiers = e->modifiers;
    k.windowsKeyCode = e->windows_key_code;
    k.nativeKeyCode = e->native_key_code;
    k.isSystemKey = e->is_system_key != 0;
    k.character = e->character;
    k.unmodifiedCharacter = e->unmodified_character;
    From(s)->b->SendKey(k);
  };
  c.send_mouse_click_event = [](cef_browser_host_t* s, const cef_mouse_event_t* e,
                                cef_mouse_button_type_t type, int up, int count) {
    From(s)->b->SendMouseClick(Mouse(e), type, up != 0, count);
  };
  c.send_mouse_move_event = [](cef_browser_host_t* s, const cef_mouse_event_t* e, int leave) {
    From(s)->b->SendMouseMove(Mouse(e), leave != 0);
  };
  c.send_mouse_wheel_event = [](cef_browser_host_t* s, const cef_mouse_event_t* e, int dx, int dy) {
    From(s)->b->SendMouseWheel(Mouse(e), dx, dy);
  };
  c.send_focus_event = [](cef_browser_host_t* s, int focus) { From(s)->b->SendFocus(focus != 0); };
  c.send_capture_lost_event = [](cef_browser_host_t*) {};
}

struct FrameObj : Counted<cef_frame_t, FrameObj> {
  std::shared_ptr<Browser> b;
  int64_t id;
  FrameObj(std::shared_ptr<Browser> browser, int64_t frameId) : b(std::move(browser)), id(frameId) {
    c.is_valid = [](cef_frame_t* s) { return From(s)->b->FrameValid(From(s)->id) ? 1 : 0; };
    c.load_request = [](cef_frame_t*, cef_request_t* r) { Release(r); };
    c.load_url = [](cef_frame_t* s, const cef_string_t* url) {
      std::string u = ToUtf8(url);
      FrameObj* f = From(s);
      if (IsCustomScheme(u)) {
        // A registered scheme without a handler cannot be loaded.
        json ev = {{"frameId", ""}, {"errorText", "net::ERR_UNKNOWN_URL_SCHEME"}, {"url", u}};
        f->b->HandleEvent("pv7.loadFailed", ev);
        return;
      }
      f->b->LoadUrl(f->id, u);
    };
    c.load_string = [](cef_frame_t* s, const cef_string_t* text, const cef_string_t* url) {
      From(s)->b->LoadString(From(s)->id, ToUtf8(text), ToUtf8(url));
    };
    c.execute_java_script = [](cef_frame_t* s, const cef_string_t* code, const cef_string_t* url,
                               int line) {
      From(s)->b->ExecuteJavaScript(From(s)->id, ToUtf8(code), ToUtf8(url), line);
    };
    c.is_main = [](cef_frame_t* s) { return From(s)->b->MainFrameId() == From(s)->id ? 1 : 0; };
    c.is_focused = [](cef_frame_t* s) { return From(s)->b->MainFrameId() == From(s)->id ? 1 : 0; };
    c.get_name = [](cef_frame_t* s) { return UserFree(From(s)->b->FrameName(From(s)->id)); };
    c.get_identifier = [](cef_frame_t* s) { return From(s)->id; };
    c.get_parent = [](cef_frame_t*) -> cef_frame_t* { return nullptr; };
    c.get_url = [](cef_frame_t* s) { return UserFree(From(s)->b->FrameUrl(From(s)->id)); };
    c.get_browser = [](cef_frame_t* s) { return NewBrowser(From(s)->b); };
  }
};

cef_frame_t* NewFrame(const std::shared_ptr<Browser>& b, int64_t id) {
  return (new FrameObj(b, id))->Handle();
}

struct RequestObj : Counted<cef_request_t, RequestObj> {
  std::shared_ptr<RequestInfo> info;
  explicit RequestObj(std::shared_ptr<RequestInfo> i) : info(std::move(i)) {
    c.is_read_only = [](cef_request_t*) { return 0; };
    c.get_url = [](cef_request_t* s) { return UserFree(From(s)->info->url); };
    c.set_url = [](cef_request_t* s, const cef_string_t* url) { From(s)->info->url = ToUtf8(url); };
    c.get_method = [](cef_request_t* s) { return UserFree(From(s)->info->method); };
    c.set_method = [](cef_request_t* s, const cef_string_t* m) { From(s)->info->method = ToUtf8(m); };
    c.get_header_map = [](cef_request_t* s, cef_string_multimap_t map) {
      if (!map) return;
      for (auto& [k, v] : From(s)->info->headers.items) {
        View key(k), value(v);
        cef_string_multimap_append(map, key.get(), value.get());
      }
    };
    c.set_header_map = [](cef_request_t* s, cef_string_multimap_t map) {
      HeaderList list;
      size_t n = cef_string_multimap_size(map);
      for (size_t i = 0; i < n; ++i) {
        cef_string_t k{}, v{};
        cef_string_multimap_key(map, i, &k);
        cef_string_multimap_value(map, i, &v);
        list.items.emplace_back(ToUtf8(&k), ToUtf8(&v));
        cef_string_utf16_clear(&k);
        cef_string_utf16_clear(&v);
      }
      From(s)->info->headers = std::move(list);
    };
  }
};

struct RequestCallbackObj : Counted<cef_request_callback_t, RequestCallbackObj> {
  std::function<void(bool)> done;
  explicit RequestCallbackObj(std::function<void(bool)> fn) : done(std::move(fn)) {
    c.cont = [](cef_request_callback_t* s, int allow) { From(s)->done(allow != 0); };
    c.cancel = [](cef_request_callback_t* s) { From(s)->done(false); };
  }
};

// ---------------------------------------------------------------- client bridge

// Routes the core's notifications to the program's client and its handlers. Every
// handler is asked for afresh (the client may hand out none), and every object
// argument is a new reference that the handler releases.
class ClientDelegate : public BrowserDelegate {
 public:
  explicit ClientDelegate(cef_client_t* client) : client_(client) {}
  ~ClientDelegate() override { Release(client_); }
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
    Release(h);
    return ok;
  }
  bool GetViewRect(cefeng::Rect& r) override { return Rect(&cef_render_handler_t::get_view_rect, r); }
  bool GetRootScreenRect(cefeng::Rect& r) override {
    return Rect(&cef_render_handler_t::get_root_screen_rect, r);
  }
  void OnAfterCreated() override {
    cef_life_span_handler_t* h = Handler(&cef_client_t::get_life_span_handler);
    if (h && h->on_after_created) h->on_after_created(h, B());
    Release(h);
  }
  void OnBeforeClose() override {
    cef_life_span_handler_t* h = Handler(&cef_client_t::get_life_span_handler);
    if (h && h->on_before_close) h->on_before_close(h, B());
    Release(h);
  }
  void OnPaint(const std::vector<cefeng::Rect>& rects, const uint8_t* pixels, int w, int h) override {
    cef_render_handler_t* r = Handler(&cef_client_t::get_render_handler);
    if (r && r->on_paint) {
      std::vector<cef_rect_t> list;
      list.reserve(rects.size());
      for (auto& x : rects) list.push_back({x.x, x.y, x.width, x.height});
      r->on_paint(r, B(), PET_VIEW, list.size(), list.data(), pixels, w, h);
    }
    Release(r);
  }
  void OnCursorChange(int type) override {
    cef_render_handler_t* r = Handler(&cef_client_t::get_render_handler);
    if (r && r->on_cursor_change)
      r->on_cursor_change(r, B(), 0, static_cast<cef_cursor_type_t>(type), nullptr);
    Release(r);
  }
  void OnLoadingStateChange(bool loading, bool back, bool fwd) override {
    cef_load_handler_t* h = Handler(&cef_client_t::get_load_handler);
    if (h && h->on_loading_state_change) h->on_loading_state_change(h, B(), loading, back, fwd);
    Release(h);
  }
  void OnLoadStart(int64_t frame) override {
    cef_load_handler_t* h = Handler(&cef_client_t::get_load_handler);
    if (h && h->on_load_start) h->on_load_start(h, B(), F(frame));
    Release(h);
  }
  void OnLoadEnd(int64_t frame, int status) override {
    cef_load_handler_t* h = Handler(&cef_client_t::get_load_handler);
    if (h && h->on_load_end) h->on_load_end(h, B(), F(frame), status);
    Release(h);
  }
  void OnLoadError(int64_t frame, int code, const std::string& text, const std::string& url) override {
    cef_load_handler_t* h = Handler(&cef_client_t::get_load_handler);
    if (h && h->on_load_error) {
      View t(text), u(url);
      h->on_load_error(h, B(), F(frame), static_cast<cef_errorcode_t>(code), t.get(), u.get());
    }
    Release(h);
  }
  void OnAddressChange(int64_t frame, const std::string& url) override {
    cef_display_handler_t* h = Handler(&cef_client_t::get_display_handler);
    if (h && h->on_address_change) {
      View u(url);
      h->on_address_change(h, B(), F(frame), u.get());
    }
    Release(h);
  }
  void OnTitleChange(const std::string& title) override {
    cef_display_handler_t* h = Handler(&cef_client_t::get_display_handler);
    if (h && h->on_title_change) {
      View t(title);
      h->on_title_change(h, B(), t.get());
    }
    Release(h);
  }
  bool OnConsoleMessage(const std::string& msg, const std::string& source, int line) override {
    cef_display_handler_t* h = Handler(&cef_client_t::get_display_handler);
    bool r = false;
    if (h && h->on_console_message) {
      View m(msg), s(source);
      r = h->on_console_message(h, B(), m.get(), s.get(), line) != 0;
    }
    Release(h);
    return r;
  }
  void OnRenderProcessTerminated(int status) override {
    cef_request_handler_t* h = Handler(&cef_client_t::get_request_handler);
    if (h && h->on_render_process_terminated)
      h->on_render_process_terminated(h, B(), static_cast<cef_termination_status_t>(status));
    Release(h);
  }
  bool WantsRequests() override {
    cef_request_handler_t* h = Handler(&cef_client_t::get_request_handler);
    bool wants = h && h->on_before_resource_load;
    Release(h);
    return wants;
  }
  int OnBeforeResourceLoad(std::shared_ptr<RequestInfo> info, std::function<void(bool)> done) override {
    cef_request_handler_t* h = Handler(&cef_client_t::get_request_handler);
    int answer = RV_CONTINUE;
    if (h && h->on_before_resource_load) {
      auto* req = new RequestObj(info);
      auto* cb = new RequestCallbackObj(done);
      answer = h->on_before_resource_load(h, B(), F(info->frameId), req->Handle(), cb->Handle());
      if (answer != RV_CANCEL && answer != RV_CONTINUE && answer != RV_CONTINUE_ASYNC)
        answer = RV_CONTINUE;
    }
    Release(h);
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
      cef_client_t* client = AddRef(client_);
      int noJs = 0;
      cancel = h->on_before_popup(h, B(), F(frame), &target, &targetName, WOD_NEW_FOREGROUND_TAB,
                                  gesture, &features, &window, &client, &settings, &noJs) != 0;
      Release(client);
      cef_string_utf16_clear(&target);
      cef_string_utf16_clear(&targetName);
    }
    Release(h);
    return cancel;
  }

 private:
  cef_client_t* client_;
  std::weak_ptr<Browser> browser_;
};

BrowserOptions OptionsFrom(const cef_browser_settings_t* s) {
  BrowserOptions o;
  if (!s) return o;
  auto has = [s](size_t offset, size_t size) { return s->size >= offset + size; };
  if (has(offsetof(cef_browser_settings_t, windowless_frame_rate), sizeof(int)) &&
      s->windowless_frame_rate > 0)
    o.frameRate = s->windowless_frame_rate;
  if (has(offsetof(cef_browser_settings_t, javascript), sizeof(int)))
    o.javascript = s->javascript != STATE_DISABLED;
  if (has(offsetof(cef_browser_settings_t, image_loading), sizeof(int)))
    o.images = s->image_loading != STATE_DISABLED;
  if (has(offsetof(cef_browser_settings_t, background_color), sizeof(cef_color_t)) &&
      s->background_color != 0) {
    o.backgroundColor = s->background_color;
    o.hasBackground = true;
  }
  return o;
}

bool HasSwitch(const cef_main_args_t* args, const char* exact) {
  if (!args || !args->argv) return false;
  for (int i = 1; i < args->argc; ++i)
    if (args->argv[i] && strcmp(args->argv[i], exact) == 0) return true;
  return false;
}

bool HasTypeSwitch(const cef_main_args_t* args) {
  if (!args || !args->argv) return false;
  for (int i = 1; i < args->argc; ++i)
    if (args->argv[i] && strncmp(args->argv[i], "--type=", 7) == 0) return true;
  return false;
}

}  // namespace

extern "C" {

CEF_EXPORT int cef_execute_process(const cef_main_args_t* args, cef_app_t* application, void*) {
  // The engine's sub-process switch: such a process does its work here and ends.
  if (HasTypeSwitch(args)) {
    RegisterSchemes(application);
    // A render helper started by this library: its whole life runs here.
    int fd = BridgeFdSwitch(args);
    if (fd >= 0 && HasSwitch(args, "--type=renderer")) return RunRenderProcess(application, fd);
    Release(application);
    return 0;
  }
  Release(application);
  return -1;
}

namespace {

// The engine's own main-thread work: like the engine on this platform, the library
// puts a source on the main loop's default context when a paint or a notification
// waits, so it need not wait for the host's next work tick. At most one such source
// is pending (the earliest asked for); cef_shutdown removes it before the library
// can be unloaded.
std::mutex gWakeMutex;
guint gWakeSource = 0;     // guarded by gWakeMutex
uint64_t gWakeDueUs = 0;   // when the pending source runs; guarded by gWakeMutex

gboolean RunWake(gpointer) {
  {
    // A later request may have replaced this source by an earlier one.
    std::lock_guard<std::mutex> lock(gWakeMutex);
    if (gWakeSource == g_source_get_id(g_main_current_source())) gWakeSource = 0;
  }
  Engine::Get().DoWork();
  return G_SOURCE_REMOVE;
}

void WakeMainLoop(int delayMs) {
  if (delayMs < 0) delayMs = 0;
  const uint64_t due = MonotonicUs() + uint64_t(delayMs) * 1000;
  std::lock_guard<std::mutex> lock(gWakeMutex);
  if (gWakeSource != 0) {
    if (gWakeDueUs <= due) return;
    g_source_remove(gWakeSource);
  }
  gWakeDueUs = due;
  gWakeSource = delayMs == 0 ? g_idle_add_full(G_PRIORITY_DEFAULT, RunWake, nullptr, nullptr)
                             : g_timeout_add_full(G_PRIORITY_DEFAULT, guint(delayMs), RunWake,
                                                  nullptr, nullptr);
}

void CancelWake() {
  Engine::Get().SetMainWake(nullptr);
  std::lock_guard<std::mutex> lock(gWakeMutex);
  if (gWakeSource != 0) g_source_remove(gWakeSource);
  gWakeSource = 0;
}

}  // namespace

CEF_EXPORT int cef_initialize(const cef_main_args_t*, const cef_settings_t* settings,
                              cef_app_t* application, void*) {
  if (Engine::Get().Running()) {
    Release(application);
    return 1;
  }
  RegisterSchemes(application);
  EngineOptions options;
  if (settings) {
    options.userDataDir = ToUtf8(&settings->user_data_path);
    options.cacheDir = ToUtf8(&settings->cache_path);
    options.locale = ToUtf8(&settings->locale);
  }
  std::string error;
  if (!Engine::Get().Start(options, error)) {
    fprintf(stderr, "the engine could not start: %s\n", error.c_str());
    Release(application);
    return 0;
  }
  Engine::Get().SetMainWake(WakeMainLoop);
  {
    std::lock_guard<std::mutex> lock(G().m);
    G().app = application;
    G().initialized = true;
  }
  if (application && application->get_browser_process_handler) {
    cef_browser_process_handler_t* h = application->get_browser_process_handler(application);
    if (h && h->on_context_initialized) h->on_context_initialized(h);
    Release(h);
  }
  return 1;
}

CEF_EXPORT void cef_shutdown(void) {
  Engine::Get().Shutdown();
  CancelWake();
  cef_app_t* app;
  {
    std::lock_guard<std::mutex> lock(G().m);
    app = G().app;
    G().app = nullptr;
    G().initialized = false;
  }
  Release(app);
}

CEF_EXPORT void cef_do_message_loop_work(void) { Engine::Get().DoWork(); }

CEF_EXPORT int cef_register_extension(const cef_string_t* extension_name,
                                      const cef_string_t* javascript_code,
                                      cef_v8handler_t* handler) {
  return RegisterExtension(extension_name, javascript_code, handler);
}

CEF_EXPORT cef_browser_t* cef_browser_host_create_browser_sync(const cef_window_info_t*,
                                                               cef_client_t* client,
                                                               const cef_string_t* url,
                                                               const cef_browser_settings_t* settings,
                                                               cef_request_context_t* context) {
  Release(context);
  auto delegate = std::make_shared<ClientDelegate>(client);
  BrowserOptions options = OptionsFrom(settings);
  if (Engine::Get().Running()) {
    // Started here, on the main thread, so that it dies with this process; its
    // extensions are in place before the first page loads.
    cef_app_t* app;
    {
      std::lock_guard<std::mutex> lock(G().m);
      app = AddRef(G().app);
    }
    options.helper = StartRenderHelper(app);
    Release(app);
  }
  auto b = Engine::Get().CreateBrowser(delegate, options, std::string());
  if (!b && options.helper) options.helper->Close();
  if (!b) return nullptr;
  delegate->Bind(b);
  std::string u = ToUtf8(url);
  if (!u.empty()) {
    cef_frame_t* f = NewFrame(b, b->MainFrameId());
    View v(u);
    f->load_url(f, v.get());
    Release(f);
  }
  return NewBrowser(b);
}

CEF_EXPORT cef_v8value_t* cef_v8value_create_string(const cef_string_t* value) {
  std::u16string v = value && value->str ? std::u16string(value->str, value->length) : std::u16string();
  return NewV8String(std::move(v));
}

}  // extern "C"
