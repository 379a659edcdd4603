// The engine's reference-counted objects over the browser core.
#include "capi_objects.h"

#include <mutex>
#include <set>

#include "capi_common.h"

namespace cefeng::capi {

namespace {

// ---------------------------------------------------------------- registry

// The custom schemes registered by the program, lower case.
struct Schemes {
  std::mutex m;  // guards names
  std::set<std::u16string> names;
};
Schemes& G() {
  static Schemes* schemes = new Schemes;
  return *schemes;
}

struct SchemeRegistrar : Counted<cef_scheme_registrar_t, SchemeRegistrar> {
  SchemeRegistrar() {
    c.add_custom_scheme = [](cef_scheme_registrar_t*, const cef_string_t* name, int, int, int) {
      if (!name || !name->str) return 0;
      std::u16string n(name->str, name->length);
      for (auto& ch : n)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char16_t>(ch - 'A' + 'a');
      std::lock_guard<std::mutex> lock(G().m);
      G().names.insert(n);
      return 1;
    };
  }
};

}  // namespace

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
  return G().names.count(Utf8ToUtf16(scheme)) != 0;
}


namespace {

// ---------------------------------------------------------------- objects


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
      CefRelease(that);
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
      CefRelease(m);
      return 0;
    };
  }
};

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
    c.load_request = [](cef_frame_t*, cef_request_t* r) { CefRelease(r); };
    c.load_url = [](cef_frame_t* s, const cef_string_t* url) {
      std::string u = ToUtf8(url);
      FrameObj* f = From(s);
      if (IsCustomScheme(u)) {
        // A registered scheme without a handler cannot be loaded.
        f->b->LoadFailed("net::ERR_UNKNOWN_URL_SCHEME", u);
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

}  // namespace

cef_browser_t* NewBrowser(const std::shared_ptr<Browser>& b) { return (new BrowserObj(b))->Handle(); }

cef_frame_t* NewFrame(const std::shared_ptr<Browser>& b, int64_t id) {
  return (new FrameObj(b, id))->Handle();
}

cef_request_t* NewRequest(std::shared_ptr<RequestInfo> info) { return (new RequestObj(std::move(info)))->Handle(); }

cef_request_callback_t* NewRequestCallback(std::function<void(bool)> done) {
  return (new RequestCallbackObj(std::move(done)))->Handle();
}

}  // namespace cefeng::capi
