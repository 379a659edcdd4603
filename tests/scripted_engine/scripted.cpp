// A scripted stand-in for the engine library: a quiet engine that records every
// call the program makes and lets tests drive the program's callbacks. It is
// for what the real engine cannot produce on demand; it renders nothing.
#include "tests/scripted_engine/scripted.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// ---- recording -----------------------------------------------------------------
std::mutex gLogLock;
std::vector<std::string>& Calls() {
  static std::vector<std::string> c;
  return c;
}

std::string U8(const cef_char16_t* s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    char32_t c = s[i];
    if (c < 0x80) out.push_back(char(c));
    else if (c < 0x800) { out.push_back(char(0xC0 | (c >> 6))); out.push_back(char(0x80 | (c & 0x3F))); }
    else { out.push_back(char(0xE0 | (c >> 12))); out.push_back(char(0x80 | ((c >> 6) & 0x3F))); out.push_back(char(0x80 | (c & 0x3F))); }
  }
  return out;
}
std::string U8(const cef_string_t* s) { return s && s->str ? U8(s->str, s->length) : std::string(); }
std::u16string U16(const char* s) {
  std::u16string out;
  for (; s && *s; ++s) out.push_back(char16_t(static_cast<unsigned char>(*s)));
  return out;
}

void Record(const std::string& line) {
  std::lock_guard<std::mutex> g(gLogLock);
  Calls().push_back(line);
  if (const char* path = std::getenv("PV7_SCRIPTED_LOG")) {
    if (FILE* f = std::fopen(path, "a")) {
      std::fprintf(f, "%s\n", line.c_str());
      std::fclose(f);
    }
  }
}

// ---- strings -------------------------------------------------------------------
void FreeU16(cef_char16_t* p) { delete[] p; }
void FreeU8(char* p) { delete[] p; }

void SetU16(cef_string_t* out, const std::u16string& v) { cef_string_utf16_set(v.data(), v.size(), out, 1); }
std::u16string Str(const cef_string_t* s) {
  return s && s->str ? std::u16string(s->str, s->length) : std::u16string();
}

struct StringList { std::vector<std::u16string> v; };
struct StringMap { std::vector<std::pair<std::u16string, std::u16string>> v; };

// ---- reference-counted library objects -------------------------------------------
// Each object starts with the engine structure; the library holds one reference
// of its own, every reference handed to the program is counted.
std::atomic<int> gLive{0};
std::mutex gObjLock;
std::set<struct Obj*>& Objects() {
  static std::set<Obj*> s;
  return s;
}

struct Obj {
  std::atomic<int> refs{1};
  virtual ~Obj() = default;
};

template <class S>
struct Object : Obj {
  // The engine structure first, then the way back to the object.
  struct Block {
    S s;
    Object* self;
  } blk{};
  S& s = blk.s;
  Object() {
    blk.self = this;
    s.base.size = sizeof(S);
    s.base.add_ref = [](cef_base_t* b) { Self(b)->refs++; return 1; };
    s.base.release = [](cef_base_t* b) {
      Object* o = Self(b);
      if (--o->refs == 0) { Drop(o); return 1; }
      return 0;
    };
    s.base.has_one_ref = [](cef_base_t* b) { return Self(b)->refs == 1 ? 1 : 0; };
    gLive++;
    std::lock_guard<std::mutex> g(gObjLock);
    Objects().insert(this);
  }
  Object(const Object&) = delete;
  static Object* Self(const void* p) { return reinterpret_cast<const Block*>(p)->self; }
  static void Drop(Object* o) {
    {
      std::lock_guard<std::mutex> g(gObjLock);
      Objects().erase(o);
    }
    gLive--;
    delete o;
  }
  // A new reference for the program.
  S* Give() { refs++; return &s; }
  // Drops the library's own reference.
  void Unref() { s.base.release(&s.base); }
};

int OutstandingRefs() {
  std::lock_guard<std::mutex> g(gObjLock);
  int n = 0;
  for (Obj* o : Objects()) n += o->refs - 1;
  return n;
}

// ---- command line, registrar ----------------------------------------------------
struct CmdLine : Object<cef_command_line_t> {
  std::vector<std::pair<std::u16string, std::u16string>> switches;
  CmdLine() {
    s.is_valid = [](cef_command_line_t*) { return 1; };
    s.is_read_only = [](cef_command_line_t*) { return 0; };
    s.has_switch = [](cef_command_line_t* self, const cef_string_t* name) {
      for (auto& [k, v] : Me(self)->switches) if (k == Str(name)) return 1;
      return 0;
    };
    s.get_switch_value = [](cef_command_line_t* self, const cef_string_t* name) -> cef_string_userfree_t {
      Record("cmdline.get_switch_value " + U8(name));
      for (auto& [k, v] : Me(self)->switches)
        if (k == Str(name)) {
          if (v.empty()) return nullptr;
          cef_string_userfree_t r = cef_string_userfree_utf16_alloc();
          SetU16(r, v);
          return r;
        }
      return nullptr;
    };
    s.append_switch_with_value = [](cef_command_line_t* self, const cef_string_t* n, const cef_string_t* v) {
      Record("cmdline.append_switch_with_value " + U8(n) + " " + U8(v));
      Me(self)->switches.emplace_back(Str(n), Str(v));
    };
    s.append_switch = [](cef_command_line_t* self, const cef_string_t* n) {
      Me(self)->switches.emplace_back(Str(n), u"");
    };
    s.get_program = [](cef_command_line_t*) -> cef_string_userfree_t {
      cef_string_userfree_t r = cef_string_userfree_utf16_alloc();
      SetU16(r, u"pv7host");
      return r;
    };
  }
  static CmdLine* Me(cef_command_line_t* p) { return static_cast<CmdLine*>(Self(p)); }
  std::string Text() const {
    std::string t;
    for (auto& [k, v] : switches) {
      if (!t.empty()) t += ' ';
      t += "--" + U8(k.data(), k.size()) + (v.empty() ? "" : "=" + U8(v.data(), v.size()));
    }
    return t;
  }
};

struct Registrar : Object<cef_scheme_registrar_t> {
  Registrar() {
    s.add_custom_scheme = [](cef_scheme_registrar_t*, const cef_string_t* n, int a, int b, int c) {
      Record("registrar.add_custom_scheme " + U8(n) + " " + std::to_string(a) + " " +
             std::to_string(b) + " " + std::to_string(c));
      return 1;
    };
  }
};

// ---- browser, host, frame, request -------------------------------------------------
struct Browser;
struct Frame : Object<cef_frame_t> {
  Browser* browser = nullptr;
  Frame();
};
struct Host : Object<cef_browser_host_t> {
  Browser* browser = nullptr;
  Host();
};
struct Browser : Object<cef_browser_t> {
  int id = 0;
  Host* host = nullptr;
  Frame* frame = nullptr;
  cef_client_t* client = nullptr;  // the library's reference
  Browser();
  void ReleaseClient() {
    if (cef_client_t* c = std::exchange(client, nullptr)) c->base.release(&c->base);
  }
};

std::string Mouse(const cef_mouse_event_t* e) {
  return e ? "x=" + std::to_string(e->x) + " y=" + std::to_string(e->y) + " mods=" + std::to_string(e->modifiers)
           : std::string("null");
}

Host::Host() {
  s.get_browser = [](cef_browser_host_t* self) -> cef_browser_t* {
    Record("host.get_browser");
    return static_cast<Host*>(Self(self))->browser->Give();
  };
  s.close_browser = [](cef_browser_host_t* self, int force) {
    Record("host.close_browser " + std::to_string(force));
    // The engine lets go of the client once the browser has closed.
    static_cast<Host*>(Self(self))->browser->ReleaseClient();
  };
  s.was_resized = [](cef_browser_host_t*) { Record("host.was_resized"); };
  s.was_hidden = [](cef_browser_host_t*, int h) { Record("host.was_hidden " + std::to_string(h)); };
  s.invalidate = [](cef_browser_host_t*, cef_paint_element_type_t t) { Record("host.invalidate " + std::to_string(t)); };
  s.send_key_event = [](cef_browser_host_t*, const cef_key_event_t* e) {
    Record("host.send_key_event type=" + std::to_string(e ? e->type : -1) + " key=" +
           std::to_string(e ? e->windows_key_code : 0) + " char=" + std::to_string(e ? e->character : 0) +
           " mods=" + std::to_string(e ? e->modifiers : 0));
  };
  s.send_mouse_click_event = [](cef_browser_host_t*, const cef_mouse_event_t* e, cef_mouse_button_type_t b, int up, int n) {
    Record("host.send_mouse_click_event " + Mouse(e) + " button=" + std::to_string(b) + " up=" +
           std::to_string(up) + " count=" + std::to_string(n));
  };
  s.send_mouse_move_event = [](cef_browser_host_t*, const cef_mouse_event_t* e, int leave) {
    Record("host.send_mouse_move_event " + Mouse(e) + " leave=" + std::to_string(leave));
  };
  s.send_mouse_wheel_event = [](cef_browser_host_t*, const cef_mouse_event_t* e, int dx, int dy) {
    Record("host.send_mouse_wheel_event " + Mouse(e) + " dx=" + std::to_string(dx) + " dy=" + std::to_string(dy));
  };
  s.send_focus_event = [](cef_browser_host_t*, int f) { Record("host.send_focus_event " + std::to_string(f)); };
  s.send_capture_lost_event = [](cef_browser_host_t*) { Record("host.send_capture_lost_event"); };
}

Frame::Frame() {
  s.is_valid = [](cef_frame_t*) { Record("frame.is_valid"); return 1; };
  s.load_url = [](cef_frame_t*, const cef_string_t* u) { Record("frame.load_url " + U8(u)); };
  s.load_string = [](cef_frame_t*, const cef_string_t* t, const cef_string_t* u) {
    Record("frame.load_string " + U8(u) + " " + U8(t));
  };
  s.execute_java_script = [](cef_frame_t*, const cef_string_t* c, const cef_string_t* u, int l) {
    Record("frame.execute_java_script " + U8(u) + " " + std::to_string(l) + " " + U8(c));
  };
  s.is_main = [](cef_frame_t*) { return 1; };
  s.get_identifier = [](cef_frame_t*) -> int64_t { return 1; };
  s.get_browser = [](cef_frame_t* self) -> cef_browser_t* {
    return static_cast<Frame*>(Self(self))->browser->Give();
  };
}

Browser::Browser() {
  s.get_host = [](cef_browser_t* self) -> cef_browser_host_t* {
    Record("browser.get_host");
    return static_cast<Browser*>(Self(self))->host->Give();
  };
  s.get_main_frame = [](cef_browser_t* self) -> cef_frame_t* {
    Record("browser.get_main_frame");
    return static_cast<Browser*>(Self(self))->frame->Give();
  };
  s.get_identifier = [](cef_browser_t* self) {
    Record("browser.get_identifier");
    return static_cast<Browser*>(Self(self))->id;
  };
  s.stop_load = [](cef_browser_t*) { Record("browser.stop_load"); };
  s.is_loading = [](cef_browser_t*) { return 0; };
  s.is_popup = [](cef_browser_t*) { return 0; };
  s.has_document = [](cef_browser_t*) { return 1; };
  s.get_frame_count = [](cef_browser_t*) -> size_t { return 1; };
}

struct Request : Object<cef_request_t> {
  std::u16string url = u"http://127.0.0.1/";
  std::u16string method = u"GET";
  std::vector<std::pair<std::u16string, std::u16string>> headers;
  Request() {
    s.is_read_only = [](cef_request_t*) { return 0; };
    s.get_url = [](cef_request_t* self) -> cef_string_userfree_t {
      cef_string_userfree_t r = cef_string_userfree_utf16_alloc();
      SetU16(r, Me(self)->url);
      return r;
    };
    s.get_method = [](cef_request_t* self) -> cef_string_userfree_t {
      cef_string_userfree_t r = cef_string_userfree_utf16_alloc();
      SetU16(r, Me(self)->method);
      return r;
    };
    s.set_url = [](cef_request_t* self, const cef_string_t* u) { Me(self)->url = Str(u); };
    s.set_method = [](cef_request_t* self, const cef_string_t* m) { Me(self)->method = Str(m); };
    s.get_header_map = [](cef_request_t* self, cef_string_multimap_t map) {
      Record("request.get_header_map");
      for (auto& [k, v] : Me(self)->headers) {
        cef_string_t a{const_cast<char16_t*>(k.data()), k.size(), nullptr};
        cef_string_t b{const_cast<char16_t*>(v.data()), v.size(), nullptr};
        cef_string_multimap_append(map, &a, &b);
      }
    };
    s.set_header_map = [](cef_request_t* self, cef_string_multimap_t map) {
      Record("request.set_header_map");
      auto* m = reinterpret_cast<StringMap*>(map);
      Me(self)->headers = m ? m->v : decltype(m->v){};
    };
  }
  static Request* Me(cef_request_t* p) { return static_cast<Request*>(Self(p)); }
};

struct RequestCallback : Object<cef_request_callback_t> {
  RequestCallback() {
    s.cont = [](cef_request_callback_t*, int allow) { Record("callback.cont " + std::to_string(allow)); };
    s.cancel = [](cef_request_callback_t*) { Record("callback.cancel"); };
  }
};

struct V8String : Object<cef_v8value_t> {
  std::u16string value;
  V8String() {
    s.is_valid = [](cef_v8value_t*) { return 1; };
    s.is_string = [](cef_v8value_t*) { return 1; };
    s.get_string_value = [](cef_v8value_t* self) -> cef_string_userfree_t {
      cef_string_userfree_t r = cef_string_userfree_utf16_alloc();
      SetU16(r, static_cast<V8String*>(Self(self))->value);
      return r;
    };
  }
};

// ---- engine state -----------------------------------------------------------------
struct Engine {
  cef_app_t* app = nullptr;  // held from cef_initialize to cef_shutdown
  cef_browser_process_handler_t* bph = nullptr;
  std::vector<Browser*> browsers;
  int nextId = 1;
  int executeResult = -1;
  bool executeResultSet = false;
  std::atomic<int> work{0};
  void (*workHook)(void*) = nullptr;
  void* workCtx = nullptr;
  std::vector<std::pair<cef_v8handler_t*, std::u16string>> extensions;
};
Engine& E() {
  static Engine e;
  return e;
}

Browser* Last() { return E().browsers.empty() ? nullptr : E().browsers.back(); }

template <class T>
void ReleaseProgramObject(T* p) {
  if (p) p->base.release(&p->base);
}

void RegisterSchemes(cef_app_t* app) {
  if (!app || !app->on_register_custom_schemes) return;
  auto* r = new Registrar();
  app->on_register_custom_schemes(app, r->Give());
  r->Unref();
}

bool HasTypeSwitch(const cef_main_args_t* args, std::string* type) {
  for (int i = 1; args && i < args->argc; ++i)
    if (args->argv[i] && std::strncmp(args->argv[i], "--type=", 7) == 0) {
      if (type) *type = args->argv[i] + 7;
      return true;
    }
  return false;
}

cef_render_handler_t* RenderHandler(Browser* b) {
  if (!b || !b->client || !b->client->get_render_handler) return nullptr;
  return b->client->get_render_handler(b->client);
}

void CopyOut(const std::string& text, char* out, int size) {
  if (!out || size <= 0) return;
  std::snprintf(out, size_t(size), "%s", text.c_str());
}

}  // namespace

extern "C" {

// ---- strings --------------------------------------------------------------------
int cef_string_utf16_set(const cef_char16_t* src, size_t len, cef_string_utf16_t* out, int copy) {
  if (!out) return 0;
  cef_string_utf16_clear(out);
  if (copy) {
    auto* p = new cef_char16_t[len + 1];
    if (len) std::memcpy(p, src, len * sizeof(cef_char16_t));
    p[len] = 0;
    out->str = p;
    out->dtor = FreeU16;
  } else {
    out->str = const_cast<cef_char16_t*>(src);
    out->dtor = nullptr;
  }
  out->length = len;
  return 1;
}
void cef_string_utf16_clear(cef_string_utf16_t* s) {
  if (!s) return;
  if (s->dtor && s->str) s->dtor(s->str);
  s->str = nullptr;
  s->length = 0;
  s->dtor = nullptr;
}
int cef_string_utf16_cmp(const cef_string_utf16_t* a, const cef_string_utf16_t* b) {
  std::u16string x = Str(a), y = Str(b);
  return x < y ? -1 : (x == y ? 0 : 1);
}
int cef_string_utf8_set(const char* src, size_t len, cef_string_utf8_t* out, int copy) {
  if (!out) return 0;
  cef_string_utf8_clear(out);
  if (copy) {
    auto* p = new char[len + 1];
    if (len) std::memcpy(p, src, len);
    p[len] = 0;
    out->str = p;
    out->dtor = FreeU8;
  } else {
    out->str = const_cast<char*>(src);
    out->dtor = nullptr;
  }
  out->length = len;
  return 1;
}
void cef_string_utf8_clear(cef_string_utf8_t* s) {
  if (!s) return;
  if (s->dtor && s->str) s->dtor(s->str);
  s->str = nullptr;
  s->length = 0;
  s->dtor = nullptr;
}
int cef_string_utf8_to_utf16(const char* src, size_t len, cef_string_utf16_t* out) {
  std::u16string v;
  for (size_t i = 0; i < len; ++i) v.push_back(char16_t(static_cast<unsigned char>(src[i])));
  return cef_string_utf16_set(v.data(), v.size(), out, 1);
}
int cef_string_utf16_to_utf8(const cef_char16_t* src, size_t len, cef_string_utf8_t* out) {
  std::string v = U8(src, len);
  return cef_string_utf8_set(v.data(), v.size(), out, 1);
}
int cef_string_ascii_to_utf16(const char* src, size_t len, cef_string_utf16_t* out) {
  return cef_string_utf8_to_utf16(src, len, out);
}
cef_string_userfree_utf16_t cef_string_userfree_utf16_alloc(void) { return new cef_string_utf16_t{}; }
void cef_string_userfree_utf16_free(cef_string_userfree_utf16_t s) {
  if (!s) return;
  cef_string_utf16_clear(s);
  delete s;
}

cef_string_list_t cef_string_list_alloc(void) { return reinterpret_cast<cef_string_list_t>(new StringList); }
size_t cef_string_list_size(cef_string_list_t l) { return l ? reinterpret_cast<StringList*>(l)->v.size() : 0; }
int cef_string_list_value(cef_string_list_t l, size_t i, cef_string_t* out) {
  auto* p = reinterpret_cast<StringList*>(l);
  if (!p || i >= p->v.size()) return 0;
  SetU16(out, p->v[i]);
  return 1;
}
void cef_string_list_append(cef_string_list_t l, const cef_string_t* v) {
  if (l) reinterpret_cast<StringList*>(l)->v.push_back(Str(v));
}
void cef_string_list_clear(cef_string_list_t l) {
  if (l) reinterpret_cast<StringList*>(l)->v.clear();
}
void cef_string_list_free(cef_string_list_t l) { delete reinterpret_cast<StringList*>(l); }
cef_string_list_t cef_string_list_copy(cef_string_list_t l) {
  auto* n = new StringList;
  if (l) n->v = reinterpret_cast<StringList*>(l)->v;
  return reinterpret_cast<cef_string_list_t>(n);
}

static StringMap* M(void* m) { return static_cast<StringMap*>(m); }
cef_string_map_t cef_string_map_alloc(void) { return reinterpret_cast<cef_string_map_t>(new StringMap); }
size_t cef_string_map_size(cef_string_map_t m) { return m ? M(m)->v.size() : 0; }
int cef_string_map_find(cef_string_map_t m, const cef_string_t* k, cef_string_t* v) {
  if (!m) return 0;
  for (auto& [a, b] : M(m)->v) if (a == Str(k)) { SetU16(v, b); return 1; }
  return 0;
}
int cef_string_map_key(cef_string_map_t m, size_t i, cef_string_t* k) {
  if (!m || i >= M(m)->v.size()) return 0;
  SetU16(k, M(m)->v[i].first);
  return 1;
}
int cef_string_map_value(cef_string_map_t m, size_t i, cef_string_t* v) {
  if (!m || i >= M(m)->v.size()) return 0;
  SetU16(v, M(m)->v[i].second);
  return 1;
}
int cef_string_map_append(cef_string_map_t m, const cef_string_t* k, const cef_string_t* v) {
  if (!m) return 0;
  for (auto& [a, b] : M(m)->v) if (a == Str(k)) return 0;
  M(m)->v.emplace_back(Str(k), Str(v));
  return 1;
}
void cef_string_map_clear(cef_string_map_t m) { if (m) M(m)->v.clear(); }
void cef_string_map_free(cef_string_map_t m) { delete M(m); }

cef_string_multimap_t cef_string_multimap_alloc(void) { return reinterpret_cast<cef_string_multimap_t>(new StringMap); }
size_t cef_string_multimap_size(cef_string_multimap_t m) { return m ? M(m)->v.size() : 0; }
size_t cef_string_multimap_find_count(cef_string_multimap_t m, const cef_string_t* k) {
  size_t n = 0;
  if (m) for (auto& [a, b] : M(m)->v) if (a == Str(k)) ++n;
  return n;
}
int cef_string_multimap_enumerate(cef_string_multimap_t m, const cef_string_t* k, size_t idx, cef_string_t* v) {
  if (!m) return 0;
  for (auto& [a, b] : M(m)->v)
    if (a == Str(k) && idx-- == 0) { SetU16(v, b); return 1; }
  return 0;
}
int cef_string_multimap_key(cef_string_multimap_t m, size_t i, cef_string_t* k) {
  if (!m || i >= M(m)->v.size()) return 0;
  SetU16(k, M(m)->v[i].first);
  return 1;
}
int cef_string_multimap_value(cef_string_multimap_t m, size_t i, cef_string_t* v) {
  if (!m || i >= M(m)->v.size()) return 0;
  SetU16(v, M(m)->v[i].second);
  return 1;
}
int cef_string_multimap_append(cef_string_multimap_t m, const cef_string_t* k, const cef_string_t* v) {
  if (!m) return 0;
  M(m)->v.emplace_back(Str(k), Str(v));
  return 1;
}
void cef_string_multimap_clear(cef_string_multimap_t m) { if (m) M(m)->v.clear(); }
void cef_string_multimap_free(cef_string_multimap_t m) { delete M(m); }

// ---- process and engine ------------------------------------------------------------
int cef_execute_process(const cef_main_args_t* args, cef_app_t* app, void*) {
  std::string type;
  const bool sub = HasTypeSwitch(args, &type);
  Record("cef_execute_process" + std::string(sub ? " type=" + type : ""));
  RegisterSchemes(app);
  if (sub && type == "renderer" && app && app->get_render_process_handler) {
    if (cef_render_process_handler_t* h = app->get_render_process_handler(app)) {
      if (h->on_web_kit_initialized) h->on_web_kit_initialized(h);
      ReleaseProgramObject(h);
    }
  }
  ReleaseProgramObject(app);
  if (E().executeResultSet) return E().executeResult;
  return sub ? 0 : -1;
}

int cef_initialize(const cef_main_args_t*, const cef_settings_t* s, cef_app_t* app, void*) {
  Record("cef_initialize size_ok=" + std::to_string(s && s->size == sizeof(cef_settings_t)) +
         " single_process=" + std::to_string(s ? s->single_process : -1) +
         " multi_threaded_message_loop=" + std::to_string(s ? s->multi_threaded_message_loop : -1) +
         " cache_path=" + U8(s ? &s->cache_path : nullptr) +
         " user_data_path=" + U8(s ? &s->user_data_path : nullptr) +
         " persist_session_cookies=" + std::to_string(s ? s->persist_session_cookies : -1) +
         " log_severity=" + std::to_string(s ? int(s->log_severity) : -1) +
         " windowless_rendering_enabled=" + std::to_string(s ? s->windowless_rendering_enabled : -1));
  E().app = app;
  RegisterSchemes(app);
  if (app && app->get_browser_process_handler) E().bph = app->get_browser_process_handler(app);
  if (E().bph && E().bph->on_context_initialized) E().bph->on_context_initialized(E().bph);
  return 1;
}

void cef_shutdown(void) {
  Record("cef_shutdown");
  for (Browser* b : E().browsers) {
    b->ReleaseClient();
    b->frame->Unref();
    b->host->Unref();
    b->Unref();
  }
  E().browsers.clear();
  for (auto& [h, n] : E().extensions) ReleaseProgramObject(h);
  E().extensions.clear();
  ReleaseProgramObject(std::exchange(E().bph, nullptr));
  ReleaseProgramObject(std::exchange(E().app, nullptr));
  const int left = OutstandingRefs();
  Record("shutdown outstanding_refs=" + std::to_string(left));
  if (left != 0) std::fprintf(stderr, "scripted engine: %d references not released\n", left);
}

void cef_do_message_loop_work(void) {
  E().work++;
  if (E().workHook) E().workHook(E().workCtx);
}

#ifndef SCRIPTED_LACKS_ONE_ENTRY_POINT
int cef_register_extension(const cef_string_t* name, const cef_string_t* code, cef_v8handler_t* h) {
  Record("cef_register_extension " + U8(name) + " length=" + std::to_string(code ? code->length : 0));
  E().extensions.emplace_back(h, Str(code));
  return 1;
}
#endif

cef_browser_t* cef_browser_host_create_browser_sync(const cef_window_info_t* wi, cef_client_t* client,
                                                    const cef_string_t* url,
                                                    const cef_browser_settings_t* bs,
                                                    cef_request_context_t* ctx) {
  Record("create_browser_sync windowless=" + std::to_string(wi ? wi->windowless_rendering_enabled : -1) +
         " transparent=" + std::to_string(wi ? wi->transparent_painting_enabled : -1) +
         " url=" + U8(url) + " settings_size_ok=" + std::to_string(bs && bs->size == sizeof(cef_browser_settings_t)) +
         " frame_rate=" + std::to_string(bs ? bs->windowless_frame_rate : -1) +
         " javascript=" + std::to_string(bs ? int(bs->javascript) : -1) +
         " webgl=" + std::to_string(bs ? int(bs->webgl) : -1) +
         " background_color=" + std::to_string(bs ? bs->background_color : 0) +
         " default_encoding=" + U8(bs ? &bs->default_encoding : nullptr) +
         " standard_font_family=" + U8(bs ? &bs->standard_font_family : nullptr) +
         " default_font_size=" + std::to_string(bs ? bs->default_font_size : -1));
  if (ctx) ctx->base.release(&ctx->base);
  auto* b = new Browser();
  b->id = E().nextId++;
  b->host = new Host();
  b->host->browser = b;
  b->frame = new Frame();
  b->frame->browser = b;
  b->client = client;
  E().browsers.push_back(b);
  return b->Give();
}

cef_v8value_t* cef_v8value_create_string(const cef_string_t* value) {
  auto* v = new V8String();
  v->value = Str(value);
  cef_v8value_t* r = v->Give();
  v->Unref();
  return r;
}

// ---- test drivers ---------------------------------------------------------------------
int scripted_call_count(void) {
  std::lock_guard<std::mutex> g(gLogLock);
  return int(Calls().size());
}
const char* scripted_call(int i) {
  std::lock_guard<std::mutex> g(gLogLock);
  return i >= 0 && size_t(i) < Calls().size() ? Calls()[size_t(i)].c_str() : "";
}
void scripted_clear_calls(void) {
  std::lock_guard<std::mutex> g(gLogLock);
  Calls().clear();
}
int scripted_outstanding_refs(void) { return OutstandingRefs(); }
int scripted_live_objects(void) { return gLive; }
void scripted_set_execute_process_result(int result, int use) {
  E().executeResult = result;
  E().executeResultSet = use != 0;
}
int scripted_work_count(void) { return E().work; }
void scripted_set_work_hook(void (*hook)(void*), void* ctx) {
  E().workHook = hook;
  E().workCtx = ctx;
}
cef_client_t* scripted_client(void) { return Last() ? Last()->client : nullptr; }

void scripted_launch_child(const char* present, char* out, int size) {
  auto* cmd = new CmdLine();
  if (present && std::strncmp(present, "--", 2) == 0) {
    std::string p = present + 2;
    size_t eq = p.find('=');
    cmd->switches.emplace_back(U16(p.substr(0, eq).c_str()),
                               eq == std::string::npos ? u"" : U16(p.substr(eq + 1).c_str()));
  }
  if (E().bph && E().bph->on_before_child_process_launch)
    E().bph->on_before_child_process_launch(E().bph, cmd->Give());
  CopyOut(cmd->Text(), out, size);
  cmd->Unref();
}

int scripted_get_view_rect(cef_rect_t* rect) {
  Browser* b = Last();
  if (!b) return -1;
  cef_render_handler_t* h = RenderHandler(b);
  if (!h) return -1;
  int r = h->get_view_rect ? h->get_view_rect(h, b->Give(), rect) : -1;
  ReleaseProgramObject(h);
  return r;
}

int scripted_paint(cef_paint_element_type_t type, const cef_rect_t* rects, int count, int w, int h) {
  Browser* b = Last();
  if (!b) return -1;
  cef_render_handler_t* rh = RenderHandler(b);
  if (!rh) return -1;
  std::vector<unsigned char> buffer(size_t(w > 0 ? w : 0) * size_t(h > 0 ? h : 0) * 4, 0x7F);
  if (rh->on_paint) rh->on_paint(rh, b->Give(), type, size_t(count), rects, buffer.data(), w, h);
  ReleaseProgramObject(rh);
  return 0;
}

int scripted_popup_show(int show) {
  Browser* b = Last();
  if (!b) return -1;
  cef_render_handler_t* h = RenderHandler(b);
  if (!h) return -1;
  if (h->on_popup_show) h->on_popup_show(h, b->Give(), show);
  ReleaseProgramObject(h);
  return 0;
}

int scripted_popup_size(const cef_rect_t* rect) {
  Browser* b = Last();
  if (!b) return -1;
  cef_render_handler_t* h = RenderHandler(b);
  if (!h) return -1;
  if (h->on_popup_size) h->on_popup_size(h, b->Give(), rect);
  ReleaseProgramObject(h);
  return 0;
}

int scripted_cursor_change(cef_cursor_type_t type) {
  Browser* b = Last();
  if (!b) return -1;
  cef_render_handler_t* h = RenderHandler(b);
  if (!h) return -1;
  if (h->on_cursor_change) h->on_cursor_change(h, b->Give(), 0, type, nullptr);
  ReleaseProgramObject(h);
  return 0;
}

int scripted_load_error(int code, const char* text, const char* url) {
  Browser* b = Last();
  if (!b || !b->client || !b->client->get_load_handler) return -1;
  cef_load_handler_t* h = b->client->get_load_handler(b->client);
  if (!h) return -1;
  std::u16string t = U16(text), u = U16(url);
  cef_string_t ts{t.data(), t.size(), nullptr}, us{u.data(), u.size(), nullptr};
  if (h->on_load_error) h->on_load_error(h, b->Give(), b->frame->Give(), cef_errorcode_t(code), &ts, &us);
  ReleaseProgramObject(h);
  return 0;
}

int scripted_console_message(const char* message, const char* source, int line) {
  Browser* b = Last();
  if (!b || !b->client || !b->client->get_display_handler) return -1;
  cef_display_handler_t* h = b->client->get_display_handler(b->client);
  if (!h) return -1;
  std::u16string m = U16(message), s = U16(source);
  cef_string_t ms{m.data(), m.size(), nullptr}, ss{s.data(), s.size(), nullptr};
  int r = h->on_console_message ? h->on_console_message(h, b->Give(), &ms, &ss, line) : -1;
  ReleaseProgramObject(h);
  return r;
}

int scripted_before_popup(const char* target, char* after, int after_size) {
  Browser* b = Last();
  if (!b || !b->client || !b->client->get_life_span_handler) return -1;
  cef_life_span_handler_t* h = b->client->get_life_span_handler(b->client);
  if (!h) return -1;
  int r = -1;
  std::thread io([&] {
    cef_string_t url{}, name{};
    std::u16string t = U16(target);
    cef_string_utf16_set(t.data(), t.size(), &url, 1);
    cef_popup_features_t features{};
    cef_window_info_t wi{};
    cef_browser_settings_t bs{};
    bs.size = sizeof bs;
    cef_client_t* client = b->client;
    int noJs = 0;
    if (h->on_before_popup)
      r = h->on_before_popup(h, b->Give(), b->frame->Give(), &url, &name, WOD_NEW_FOREGROUND_TAB, 1,
                             &features, &wi, &client, &bs, &noJs);
    CopyOut(U8(&url), after, after_size);
    Record("before_popup answer=" + std::to_string(r) + " client_same=" + std::to_string(client == b->client) +
           " no_javascript_access=" + std::to_string(noJs));
    cef_string_utf16_clear(&url);
    cef_string_utf16_clear(&name);
  });
  io.join();
  ReleaseProgramObject(h);
  return r;
}

int scripted_before_resource_load(const char* url, const char* headers, char* out, int out_size) {
  Browser* b = Last();
  if (!b || !b->client || !b->client->get_request_handler) return -1;
  cef_request_handler_t* h = b->client->get_request_handler(b->client);
  if (!h) return -1;
  auto* req = new Request();
  req->url = U16(url);
  for (const char* p = headers; p && *p;) {
    const char* nl = std::strchr(p, '\n');
    std::string line = nl ? std::string(p, nl) : std::string(p);
    size_t colon = line.find(": ");
    if (colon != std::string::npos)
      req->headers.emplace_back(U16(line.substr(0, colon).c_str()), U16(line.substr(colon + 2).c_str()));
    p = nl ? nl + 1 : p + line.size();
  }
  auto* cb = new RequestCallback();
  int r = -1;
  std::thread io([&] {
    if (h->on_before_resource_load)
      r = h->on_before_resource_load(h, b->Give(), b->frame->Give(), req->Give(), cb->Give());
  });
  io.join();
  std::string text;
  for (auto& [k, v] : req->headers) text += U8(k.data(), k.size()) + ": " + U8(v.data(), v.size()) + "\n";
  CopyOut(text, out, out_size);
  req->Unref();
  cb->Unref();
  ReleaseProgramObject(h);
  return r;
}

}  // extern "C"
