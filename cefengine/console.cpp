#include "console.h"

namespace cefeng {

namespace {

std::string FirstLine(const std::string& s) {
  size_t n = s.find('\n');
  return n == std::string::npos ? s : s.substr(0, n);
}

}  // namespace

std::string RemoteObjectText(const json& o) {
  if (!o.is_object()) return std::string();
  auto v = o.find("value");
  if (v != o.end()) {
    if (v->is_string()) return v->get<std::string>();
    return v->dump(-1, ' ', false, json::error_handler_t::replace);
  }
  auto it = o.find("unserializableValue");
  if (it != o.end() && it->is_string()) return it->get<std::string>();
  it = o.find("description");
  if (it != o.end() && it->is_string()) return it->get<std::string>();
  std::string type = StringField(o, "type");
  return type == "undefined" ? "undefined" : type;
}

ConsoleLine ConsoleCallLine(const json& params) {
  ConsoleLine out;
  if (const json* args = ArrayField(params, "args")) {
    for (const json& a : *args) {
      if (!out.text.empty()) out.text += ' ';
      out.text += RemoteObjectText(a);
    }
  }
  const json* stack = ObjectField(params, "stackTrace");
  if (const json* frame = stack ? FirstCallFrame(*stack) : nullptr) {
    out.source = StringField(*frame, "url");
    out.line = IntField(*frame, "lineNumber") + 1;
  }
  return out;
}

bool ExceptionLine(const json& params, ConsoleLine& out) {
  const json* d = ObjectField(params, "exceptionDetails");
  if (!d) return false;
  std::string head = StringField(*d, "text");
  if (head.empty()) head = "Uncaught";
  std::string what;
  if (const json* ex = ObjectField(*d, "exception")) {
    std::string desc = StringField(*ex, "description");
    what = desc.empty() ? RemoteObjectText(*ex) : FirstLine(desc);
  }
  out.text = what.empty() || head.find(what) != std::string::npos ? head : head + " " + what;
  out.source = StringField(*d, "url");
  out.line = IntField(*d, "lineNumber") + 1;
  const json* stack = ObjectField(*d, "stackTrace");
  if (out.source.empty() && stack)
    if (const json* frame = FirstCallFrame(*stack)) out.source = StringField(*frame, "url");
  return true;
}

}  // namespace cefeng
