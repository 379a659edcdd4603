#include "capi_render.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "capi_common.h"
#include "os_process.h"

namespace cefeng::capi {

namespace {

constexpr const char* kBridgeFdSwitch = "--pv7-bridge-fd=";

// ---------------------------------------------------------------- V8 values

struct V8ValueObj : Counted<cef_v8value_t, V8ValueObj> {
  BridgeValue v;
  std::u16string text;  // the exact UTF-16 text of a string

  explicit V8ValueObj(BridgeValue value) : v(std::move(value)) {
    if (v.kind == BridgeValue::String) text = Utf8ToUtf16(v.text);
    Init();
  }
  explicit V8ValueObj(std::u16string s) : text(std::move(s)) {
    v.kind = BridgeValue::String;
    Init();
  }
  static bool Integral(const BridgeValue& v, double lo, double hi) {
    return v.kind == BridgeValue::Number && std::isfinite(v.number) && v.number == std::floor(v.number) &&
           v.number >= lo && v.number <= hi;
  }
  void Init() {
    c.is_valid = [](cef_v8value_t*) { return 1; };
    c.is_undefined = [](cef_v8value_t* s) { return From(s)->v.kind == BridgeValue::Undefined ? 1 : 0; };
    c.is_null = [](cef_v8value_t* s) { return From(s)->v.kind == BridgeValue::Null ? 1 : 0; };
    c.is_bool = [](cef_v8value_t* s) { return From(s)->v.kind == BridgeValue::Bool ? 1 : 0; };
    c.is_int = [](cef_v8value_t* s) { return Integral(From(s)->v, -2147483648.0, 2147483647.0) ? 1 : 0; };
    c.is_uint = [](cef_v8value_t* s) { return Integral(From(s)->v, 0, 4294967295.0) ? 1 : 0; };
    c.is_double = [](cef_v8value_t* s) { return From(s)->v.kind == BridgeValue::Number ? 1 : 0; };
    c.is_date = [](cef_v8value_t* s) { return From(s)->v.kind == BridgeValue::Date ? 1 : 0; };
    c.is_string = [](cef_v8value_t* s) { return From(s)->v.kind == BridgeValue::String ? 1 : 0; };
    c.is_object = [](cef_v8value_t* s) {
      auto k = From(s)->v.kind;
      return k == BridgeValue::Object || k == BridgeValue::Array || k == BridgeValue::Function ||
                     k == BridgeValue::Date
                 ? 1
                 : 0;
    };
    c.is_array = [](cef_v8value_t* s) { return From(s)->v.kind == BridgeValue::Array ? 1 : 0; };
    c.is_function = [](cef_v8value_t* s) { return From(s)->v.kind == BridgeValue::Function ? 1 : 0; };
    c.is_same = [](cef_v8value_t* s, cef_v8value_t* that) {
      int same = that == s;
      CefRelease(that);
      return same;
    };
    c.get_bool_value = [](cef_v8value_t* s) {
      const BridgeValue& v = From(s)->v;
      return v.kind == BridgeValue::Bool && v.boolean ? 1 : 0;
    };
    c.get_int_value = [](cef_v8value_t* s) {
      const BridgeValue& v = From(s)->v;
      return Integral(v, -2147483648.0, 2147483647.0) ? static_cast<int32_t>(v.number) : int32_t(0);
    };
    c.get_uint_value = [](cef_v8value_t* s) {
      const BridgeValue& v = From(s)->v;
      return Integral(v, 0, 4294967295.0) ? static_cast<uint32_t>(v.number) : uint32_t(0);
    };
    c.get_double_value = [](cef_v8value_t* s) {
      const BridgeValue& v = From(s)->v;
      return v.kind == BridgeValue::Number || v.kind == BridgeValue::Date ? v.number : 0.0;
    };
    c.get_string_value = [](cef_v8value_t* s) -> cef_string_userfree_t {
      V8ValueObj* o = From(s);
      cef_string_userfree_t out = cef_string_userfree_utf16_alloc();
      if (o->v.kind == BridgeValue::String) cef_string_utf16_set(o->text.data(), o->text.size(), out, 1);
      return out;
    };
  }
};

struct ListObj : Counted<cef_list_value_t, ListObj> {};

// ---------------------------------------------------------------- command line

struct CommandLineObj : Counted<cef_command_line_t, CommandLineObj> {
  std::mutex m;
  std::string program;
  std::vector<std::pair<std::string, std::string>> switches;  // names without dashes
  std::vector<bool> hasValue;
  std::vector<std::string> arguments;

  void Add(const std::string& name, const std::string* value) {
    std::lock_guard<std::mutex> lock(m);
    for (size_t i = 0; i < switches.size(); ++i)
      if (switches[i].first == name) {
        switches[i].second = value ? *value : std::string();
        hasValue[i] = value != nullptr;
        return;
      }
    switches.emplace_back(name, value ? *value : std::string());
    hasValue.push_back(value != nullptr);
  }
  // argv[1..] as the child gets it.
  std::vector<std::string> Args() {
    std::lock_guard<std::mutex> lock(m);
    std::vector<std::string> out;
    for (size_t i = 0; i < switches.size(); ++i)
      out.push_back("--" + switches[i].first + (hasValue[i] ? "=" + switches[i].second : ""));
    for (const std::string& a : arguments) out.push_back(a);
    return out;
  }

  CommandLineObj() {
    c.is_valid = [](cef_command_line_t*) { return 1; };
    c.is_read_only = [](cef_command_line_t*) { return 0; };
    c.init_from_argv = [](cef_command_line_t* s, int argc, const char* const* argv) {
      CommandLineObj* o = From(s);
      {
        std::lock_guard<std::mutex> lock(o->m);
        o->program.clear();
        o->switches.clear();
        o->hasValue.clear();
        o->arguments.clear();
        if (argc > 0 && argv && argv[0]) o->program = argv[0];
      }
      bool switchesEnd = false;
      for (int i = 1; argv && i < argc; ++i) {
        if (!argv[i]) continue;
        std::string a = argv[i];
        if (!switchesEnd && a == "--") {
          switchesEnd = true;
          continue;
        }
        if (!switchesEnd && a.size() > 1 && a[0] == '-') {
          std::string body = a.substr(a.compare(0, 2, "--") == 0 ? 2 : 1);
          size_t eq = body.find('=');
          if (eq == std::string::npos) {
            o->Add(body, nullptr);
          } else {
            std::string value = body.substr(eq + 1);
            o->Add(body.substr(0, eq), &value);
          }
        } else {
          std::lock_guard<std::mutex> lock(o->m);
          o->arguments.push_back(a);
        }
      }
    };
    c.reset = [](cef_command_line_t* s) {
      CommandLineObj* o = From(s);
      std::lock_guard<std::mutex> lock(o->m);
      o->switches.clear();
      o->hasValue.clear();
      o->arguments.clear();
    };
    c.get_argv = [](cef_command_line_t* s, cef_string_list_t list) {
      if (!list) return;
      CommandLineObj* o = From(s);
      std::string program;
      {
        std::lock_guard<std::mutex> lock(o->m);
        program = o->program;
      }
      View p(program);
      cef_string_list_append(list, p.get());
      for (const std::string& a : o->Args()) {
        View v(a);
        cef_string_list_append(list, v.get());
      }
    };
    c.get_command_line_string = [](cef_command_line_t* s) {
      CommandLineObj* o = From(s);
      std::string line;
      {
        std::lock_guard<std::mutex> lock(o->m);
        line = o->program;
      }
      for (const std::string& a : o->Args()) line += " " + a;
      return UserFree(line);
    };
    c.get_program = [](cef_command_line_t* s) {
      std::lock_guard<std::mutex> lock(From(s)->m);
      return UserFree(From(s)->program);
    };
    c.set_program = [](cef_command_line_t* s, const cef_string_t* p) {
      std::lock_guard<std::mutex> lock(From(s)->m);
      From(s)->program = ToUtf8(p);
    };
    c.has_switches = [](cef_command_line_t* s) {
      std::lock_guard<std::mutex> lock(From(s)->m);
      return From(s)->switches.empty() ? 0 : 1;
    };
    c.has_switch = [](cef_command_line_t* s, const cef_string_t* name) {
      std::string n = ToUtf8(name);
      std::lock_guard<std::mutex> lock(From(s)->m);
      for (auto& [k, v] : From(s)->switches)
        if (k == n) return 1;
      return 0;
    };
    c.get_switch_value = [](cef_command_line_t* s, const cef_string_t* name) -> cef_string_userfree_t {
      std::string n = ToUtf8(name);
      CommandLineObj* o = From(s);
      std::lock_guard<std::mutex> lock(o->m);
      for (size_t i = 0; i < o->switches.size(); ++i)
        if (o->switches[i].first == n)
          return o->hasValue[i] && !o->switches[i].second.empty() ? UserFree(o->switches[i].second)
                                                                  : nullptr;
      return nullptr;
    };
    c.get_switches = [](cef_command_line_t* s, cef_string_map_t map) {
      if (!map) return;
      CommandLineObj* o = From(s);
      std::vector<std::pair<std::string, std::string>> copy;
      {
        std::lock_guard<std::mutex> lock(o->m);
        copy = o->switches;
      }
      for (auto& [k, v] : copy) {
        View key(k), value(v);
        cef_string_map_append(map, key.get(), value.get());
      }
    };
    c.append_switch = [](cef_command_line_t* s, const cef_string_t* name) {
      std::string n = ToUtf8(name);
      if (!n.empty()) From(s)->Add(n, nullptr);
    };
    c.append_switch_with_value = [](cef_command_line_t* s, const cef_string_t* name,
                                    const cef_string_t* value) {
      std::string n = ToUtf8(name), v = ToUtf8(value);
      if (!n.empty()) From(s)->Add(n, &v);
    };
    c.has_arguments = [](cef_command_line_t* s) {
      std::lock_guard<std::mutex> lock(From(s)->m);
      return From(s)->arguments.empty() ? 0 : 1;
    };
    c.get_arguments = [](cef_command_line_t* s, cef_string_list_t list) {
      if (!list) return;
      std::vector<std::string> copy;
      {
        std::lock_guard<std::mutex> lock(From(s)->m);
        copy = From(s)->arguments;
      }
      for (const std::string& a : copy) {
        View v(a);
        cef_string_list_append(list, v.get());
      }
    };
    c.append_argument = [](cef_command_line_t* s, const cef_string_t* a) {
      std::lock_guard<std::mutex> lock(From(s)->m);
      From(s)->arguments.push_back(ToUtf8(a));
    };
  }
};

// ---------------------------------------------------------------- helper state

struct Extension {
  std::string name;
  std::string code;
  cef_v8handler_t* handler;  // one reference, released when the helper ends
};

struct RenderState {
  std::mutex m;
  bool active = false;
  std::vector<Extension> extensions;
};

RenderState& R() {
  static RenderState* r = new RenderState;
  return *r;
}

BridgeReply Execute(const Extension& ext, const BridgeCall& call) {
  BridgeReply reply;
  reply.id = call.id;
  if (!ext.handler || !ext.handler->execute) return reply;  // not handled
  View name(call.name);
  std::vector<cef_v8value_t*> args;
  args.reserve(call.args.size());
  for (const BridgeValue& v : call.args) args.push_back(NewV8Value(v));
  BridgeValue receiver;
  receiver.kind = BridgeValue::Object;
  cef_v8value_t* object = NewV8Value(receiver);
  cef_v8value_t* retval = nullptr;
  cef_string_t exception{};
  // Every object argument is a new reference the handler releases.
  int handled = ext.handler->execute(ext.handler, name.get(), object, args.size(), args.data(),
                                     &retval, &exception);
  if (exception.length > 0) {
    reply.hasException = true;
    reply.exception = ToUtf8(&exception);
  } else if (handled) {
    reply.handled = true;
    reply.result = FromV8Value(retval);
  }
  CefRelease(retval);
  cef_string_utf16_clear(&exception);
  return reply;
}

}  // namespace

cef_v8value_t* NewV8Value(const BridgeValue& value) { return (new V8ValueObj(value))->Handle(); }
cef_v8value_t* NewV8String(std::u16string value) { return (new V8ValueObj(std::move(value)))->Handle(); }

BridgeValue FromV8Value(cef_v8value_t* v) {
  BridgeValue out;
  if (!v) return out;
  auto test = [v](int(CEF_CALLBACK * cef_v8value_t::*slot)(cef_v8value_t*)) {
    return (v->*slot) && (v->*slot)(v) != 0;
  };
  if (test(&cef_v8value_t::is_string)) {
    out.kind = BridgeValue::String;
    if (v->get_string_value) {
      cef_string_userfree_t s = v->get_string_value(v);
      out.text = ToUtf8(s);
      if (s) cef_string_userfree_utf16_free(s);
    }
  } else if (test(&cef_v8value_t::is_bool)) {
    out.kind = BridgeValue::Bool;
    out.boolean = v->get_bool_value && v->get_bool_value(v) != 0;
  } else if (test(&cef_v8value_t::is_double) || test(&cef_v8value_t::is_int) ||
             test(&cef_v8value_t::is_uint)) {
    out.kind = BridgeValue::Number;
    if (test(&cef_v8value_t::is_double) && v->get_double_value)
      out.number = v->get_double_value(v);
    else if (test(&cef_v8value_t::is_int) && v->get_int_value)
      out.number = v->get_int_value(v);
    else if (v->get_uint_value)
      out.number = v->get_uint_value(v);
  } else if (test(&cef_v8value_t::is_null)) {
    out.kind = BridgeValue::Null;
  } else if (test(&cef_v8value_t::is_date)) {
    out.kind = BridgeValue::Date;
    if (v->get_double_value) out.number = v->get_double_value(v);
  } else if (test(&cef_v8value_t::is_array)) {
    out.kind = BridgeValue::Array;
  } else if (test(&cef_v8value_t::is_function)) {
    out.kind = BridgeValue::Function;
  } else if (test(&cef_v8value_t::is_object)) {
    out.kind = BridgeValue::Object;
  }
  return out;
}

int BridgeFdSwitch(const cef_main_args_t* args) {
  if (!args || !args->argv) return -1;
  const size_t n = strlen(kBridgeFdSwitch);
  for (int i = 1; i < args->argc; ++i) {
    const char* a = args->argv[i];
    if (!a || strncmp(a, kBridgeFdSwitch, n) != 0) continue;
    char* end = nullptr;
    long fd = strtol(a + n, &end, 10);
    if (end == a + n || *end != 0 || fd < 0 || fd > 65535) return -1;
    return static_cast<int>(fd);
  }
  return -1;
}

std::shared_ptr<RenderHelper> StartRenderHelper(cef_app_t* app) {
  if (!app || !app->get_render_process_handler) return nullptr;
  // A helper never starts helpers of its own.
  if (!GetEnv("PV7_RENDER_HELPER_CHILD").empty()) return nullptr;
  cef_render_process_handler_t* rph = app->get_render_process_handler(app);
  if (!rph) return nullptr;
  CefRelease(rph);
  std::string exe = GetEnv("PV7_RENDER_HELPER");
  if (exe.empty()) exe = SelfExecutable();
  if (exe.empty()) return nullptr;

  auto* cmd = new CommandLineObj;
  cmd->program = exe;
  std::string type = "renderer", fd = "3";
  cmd->Add("type", &type);
  cmd->Add(std::string(kBridgeFdSwitch + 2, strlen(kBridgeFdSwitch) - 3), &fd);
  if (app->get_browser_process_handler) {
    cef_browser_process_handler_t* bph = app->get_browser_process_handler(app);
    if (bph && bph->on_before_child_process_launch)
      bph->on_before_child_process_launch(bph, CefAddRef(cmd->Handle()));
    CefRelease(bph);
  }
  std::vector<std::string> args = cmd->Args();
  CefRelease(cmd->Handle());
  std::string error;
  auto helper = RenderHelper::Launch(exe, args, error);
  if (!helper) fprintf(stderr, "render helper: %s\n", error.c_str());
  return helper;
}

int RegisterExtension(const cef_string_t* name, const cef_string_t* code, cef_v8handler_t* handler) {
  RenderState& r = R();
  std::lock_guard<std::mutex> lock(r.m);
  if (!r.active || !name || !code) {
    // Extensions run in render helpers; elsewhere the registration is accepted.
    CefRelease(handler);
    return r.active ? 0 : 1;
  }
  r.extensions.push_back({ToUtf8(name), ToUtf8(code), handler});
  return 1;
}

int RunRenderProcess(cef_app_t* app, int fd) {
  RenderState& r = R();
  {
    std::lock_guard<std::mutex> lock(r.m);
    r.active = true;
  }
  cef_render_process_handler_t* rph =
      app && app->get_render_process_handler ? app->get_render_process_handler(app) : nullptr;
  if (rph) {
    if (rph->on_render_thread_created)
      rph->on_render_thread_created(rph, (new ListObj)->Handle());
    if (rph->on_web_kit_initialized) rph->on_web_kit_initialized(rph);
  }
  std::vector<Extension> extensions;
  {
    std::lock_guard<std::mutex> lock(r.m);
    extensions = r.extensions;
  }
  std::vector<ExtensionSource> list;
  for (const Extension& e : extensions) list.push_back({e.name, e.code});
  if (WriteFrame(fd, ExtensionListMessage(list))) {
    // Native calls run here, on this process's main thread, one at a time.
    std::string text;
    while (ReadFrame(fd, text, -1) == FrameResult::Ok) {
      BridgeCall call;
      BridgeReply reply;
      if (!ParseCallMessage(text, call)) continue;  // nothing to answer to
      if (call.extension < 0 || size_t(call.extension) >= extensions.size()) {
        reply.id = call.id;
        reply.hasException = true;
        reply.exception = "native function " + call.name + ": no such extension";
      } else {
        reply = Execute(extensions[size_t(call.extension)], call);
      }
      if (!WriteFrame(fd, ReplyMessage(reply))) break;
    }
  }
  CloseFd(fd);
  {
    std::lock_guard<std::mutex> lock(r.m);
    r.extensions.clear();
    r.active = false;
  }
  for (Extension& e : extensions) CefRelease(e.handler);
  CefRelease(rph);
  CefRelease(app);
  return 0;
}

}  // namespace cefeng::capi
