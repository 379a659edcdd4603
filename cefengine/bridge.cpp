#include "bridge.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "os_process.h"

namespace cefeng {

// ---------------------------------------------------------------- values

json ValueToJson(const BridgeValue& v) {
  switch (v.kind) {
    case BridgeValue::String:
      return {{"t", "s"}, {"v", v.text}};
    case BridgeValue::Number:
      if (std::isnan(v.number)) return {{"t", "n"}, {"v", "NaN"}};
      if (std::isinf(v.number)) return {{"t", "n"}, {"v", v.number > 0 ? "Infinity" : "-Infinity"}};
      return {{"t", "n"}, {"v", v.number}};
    case BridgeValue::Bool:
      return {{"t", "b"}, {"v", v.boolean}};
    case BridgeValue::Null:
      return {{"t", "z"}};
    case BridgeValue::Array:
      return {{"t", "a"}};
    case BridgeValue::Function:
      return {{"t", "f"}};
    case BridgeValue::Date:
      return {{"t", "d"}, {"v", std::isfinite(v.number) ? v.number : 0.0}};
    case BridgeValue::Object:
      return {{"t", "o"}};
    case BridgeValue::Undefined:
      break;
  }
  return {{"t", "u"}};
}

bool ValueFromJson(const json& j, BridgeValue& out) {
  out = BridgeValue();
  if (!j.is_object()) return false;
  auto t = j.find("t");
  if (t == j.end() || !t->is_string()) return false;
  const std::string& kind = t->get_ref<const std::string&>();
  auto v = j.find("v");
  if (kind == "s") {
    if (v == j.end() || !v->is_string()) return false;
    out.kind = BridgeValue::String;
    out.text = v->get<std::string>();
  } else if (kind == "n" || kind == "d") {
    out.kind = kind == "n" ? BridgeValue::Number : BridgeValue::Date;
    if (v == j.end()) return false;
    if (v->is_number()) {
      out.number = v->get<double>();
    } else if (v->is_string() && kind == "n") {
      const std::string& s = v->get_ref<const std::string&>();
      if (s == "NaN") out.number = NAN;
      else if (s == "Infinity") out.number = INFINITY;
      else if (s == "-Infinity") out.number = -INFINITY;
      else return false;
    } else {
      return false;
    }
  } else if (kind == "b") {
    if (v == j.end() || !v->is_boolean()) return false;
    out.kind = BridgeValue::Bool;
    out.boolean = v->get<bool>();
  } else if (kind == "z") {
    out.kind = BridgeValue::Null;
  } else if (kind == "u") {
    out.kind = BridgeValue::Undefined;
  } else if (kind == "a") {
    out.kind = BridgeValue::Array;
  } else if (kind == "f") {
    out.kind = BridgeValue::Function;
  } else if (kind == "o") {
    out.kind = BridgeValue::Object;
  } else {
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- messages

namespace {

std::string Dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

bool Parse(std::string_view text, json& out) {
  if (text.size() > kBridgeMaxMessage) return false;
  out = json::parse(text.begin(), text.end(), nullptr, false);
  return !out.is_discarded() && out.is_object();
}

bool ValidName(const std::string& name) {
  if (name.empty() || name.size() > 256) return false;
  for (unsigned char c : name)
    if (!(std::isalnum(c) || c == '_' || c == '$')) return false;
  return !std::isdigit(static_cast<unsigned char>(name[0]));
}

bool CallFields(const json& j, BridgeCall& out, std::string& error) {
  auto x = j.find("x");
  auto n = j.find("n");
  auto a = j.find("a");
  if (x == j.end() || !x->is_number_integer() || n == j.end() || !n->is_string()) {
    error = "malformed call";
    return false;
  }
  int64_t index = x->get<int64_t>();
  if (index < 0 || index > 1 << 20) {
    error = "no such extension";
    return false;
  }
  out.extension = static_cast<int>(index);
  out.name = n->get<std::string>();
  if (!ValidName(out.name)) {
    error = "malformed function name";
    return false;
  }
  out.args.clear();
  if (a != j.end()) {
    if (!a->is_array() || a->size() > kBridgeMaxArgs) {
      error = "malformed arguments";
      return false;
    }
    out.args.reserve(a->size());
    for (const json& v : *a) {
      BridgeValue value;
      if (!ValueFromJson(v, value)) {
        error = "malformed argument";
        return false;
      }
      out.args.push_back(std::move(value));
    }
  }
  return true;
}

json ArgsJson(const std::vector<BridgeValue>& args) {
  json list = json::array();
  for (const BridgeValue& v : args) list.push_back(ValueToJson(v));
  return list;
}

}  // namespace

bool ParseCallBody(std::string_view body, BridgeCall& out, std::string& error) {
  json j;
  if (!Parse(body, j)) {
    error = "malformed call";
    return false;
  }
  return CallFields(j, out, error);
}

std::string CallMessage(const BridgeCall& call) {
  return Dump({{"id", call.id}, {"x", call.extension}, {"n", call.name}, {"a", ArgsJson(call.args)}});
}

bool ParseCallMessage(std::string_view text, BridgeCall& out) {
  json j;
  std::string error;
  if (!Parse(text, j)) return false;
  auto id = j.find("id");
  if (id == j.end() || !id->is_number_unsigned()) return false;
  out.id = id->get<uint64_t>();
  return CallFields(j, out, error);
}

std::string ReplyMessage(const BridgeReply& reply) {
  json j = {{"id", reply.id}};
  if (reply.hasException) {
    j["e"] = reply.exception;
  } else {
    j["h"] = reply.handled;
    if (reply.handled) j["r"] = ValueToJson(reply.result);
  }
  return Dump(j);
}

bool ParseReplyMessage(std::string_view text, BridgeReply& out) {
  out = BridgeReply();
  json j;
  if (!Parse(text, j)) return false;
  auto id = j.find("id");
  if (id == j.end() || !id->is_number_unsigned()) return false;
  out.id = id->get<uint64_t>();
  auto e = j.find("e");
  if (e != j.end()) {
    if (!e->is_string()) return false;
    out.hasException = true;
    out.exception = e->get<std::string>();
    return true;
  }
  auto h = j.find("h");
  if (h == j.end() || !h->is_boolean()) return false;
  out.handled = h->get<bool>();
  if (!out.handled) return true;
  auto r = j.find("r");
  return r != j.end() && ValueFromJson(*r, out.result);
}

std::string ReplyBody(const BridgeReply& reply) {
  if (reply.hasException) return Dump({{"e", reply.exception}});
  if (!reply.handled) return "{}";
  return Dump({{"r", ValueToJson(reply.result)}});
}

std::string ExtensionListMessage(const std::vector<ExtensionSource>& list) {
  json items = json::array();
  for (const ExtensionSource& e : list) items.push_back({{"name", e.name}, {"code", e.code}});
  return Dump({{"extensions", items}});
}

bool ParseExtensionList(std::string_view text, std::vector<ExtensionSource>& out) {
  out.clear();
  json j;
  if (!Parse(text, j)) return false;
  auto items = j.find("extensions");
  if (items == j.end() || !items->is_array() || items->size() > kBridgeMaxArgs) return false;
  for (const json& e : *items) {
    if (!e.is_object()) return false;
    auto name = e.find("name");
    auto code = e.find("code");
    if (name == e.end() || !name->is_string() || code == e.end() || !code->is_string()) return false;
    out.push_back({name->get<std::string>(), code->get<std::string>()});
  }
  return true;
}

// ---------------------------------------------------------------- scripts

std::string BridgePrelude() {
  // Everything the helper needs is taken when the document starts, so that a page
  // that later replaces XMLHttpRequest or JSON does not change how calls travel.
  std::string url = json(std::string(kBridgeUrl)).dump();
  return R"JS((function () {
  "use strict";
  if (Object.getOwnPropertyDescriptor(globalThis, "__pv7native")) return;
  var X = XMLHttpRequest, P = X.prototype, apply = Reflect.apply;
  var open = P.open, send = P.send, setHeader = P.setRequestHeader;
  var textOf = Object.getOwnPropertyDescriptor(P, "responseText").get;
  var stringify = JSON.stringify, parse = JSON.parse, isArray = Array.isArray;
  var wellFormed = String.prototype.toWellFormed, isFinite = Number.isFinite;
  var D = Date, getTime = D.prototype.getTime, E = Error, S = String, N = Number;
  function enc(v) {
    switch (typeof v) {
      case "string": return {t: "s", v: wellFormed ? apply(wellFormed, v, []) : v};
      case "number": return {t: "n", v: isFinite(v) ? v : S(v)};
      case "boolean": return {t: "b", v: v};
      case "undefined": return {t: "u"};
      case "function": return {t: "f"};
    }
    if (v === null) return {t: "z"};
    if (isArray(v)) return {t: "a"};
    if (v instanceof D) return {t: "d", v: apply(getTime, v, [])};
    return {t: "o"};
  }
  function dec(r) {
    if (!r || typeof r !== "object") return undefined;
    switch (r.t) {
      case "s": return r.v;
      case "n": return typeof r.v === "number" ? r.v : N(r.v);
      case "b": return !!r.v;
      case "z": return null;
      case "d": return new D(r.v);
      case "a": return [];
      case "o": return {};
    }
    return undefined;
  }
  function call(x, name, args) {
    var list = [];
    for (var i = 0; i < args.length; i++) list[i] = enc(args[i]);
    var req = new X();
    apply(open, req, ["POST", )JS" +
         url + R"JS(, false]);
    apply(setHeader, req, ["Content-Type", "text/plain;charset=UTF-8"]);
    apply(send, req, [stringify({x: x, n: name, a: list})]);
    var reply = null;
    try { reply = parse(apply(textOf, req, [])); } catch (e) { reply = null; }
    if (!reply || typeof reply !== "object") throw new E("native function " + name + " failed");
    if (typeof reply.e === "string") throw new E(reply.e);
    return dec(reply.r);
  }
  Object.defineProperty(globalThis, "__pv7native", {value: call});
})();
)JS";
}

namespace {

bool IdentStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}
bool IdentPart(char c) { return IdentStart(c) || std::isdigit(static_cast<unsigned char>(c)); }
bool Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string RewriteNativeFunctions(const std::string& code, int index) {
  static const std::string kNative = "native";
  static const std::string kFunction = "function";
  std::string out;
  out.reserve(code.size() + 64);
  size_t i = 0;
  while (i < code.size()) {
    size_t at = code.find(kNative, i);
    if (at == std::string::npos) break;
    // "native" as a word of its own, followed by "function NAME(ARGS)".
    bool word = (at == 0 || !IdentPart(code[at - 1]));
    size_t p = at + kNative.size();
    size_t spaces = p;
    while (p < code.size() && Space(code[p])) ++p;
    bool ok = word && p > spaces && code.compare(p, kFunction.size(), kFunction) == 0;
    size_t nameStart = 0, nameEnd = 0, argsStart = 0, argsEnd = 0;
    if (ok) {
      p += kFunction.size();
      size_t before = p;
      while (p < code.size() && Space(code[p])) ++p;
      ok = p > before && p < code.size() && IdentStart(code[p]);
      nameStart = p;
      while (ok && p < code.size() && IdentPart(code[p])) ++p;
      nameEnd = p;
      while (ok && p < code.size() && Space(code[p])) ++p;
      ok = ok && p < code.size() && code[p] == '(';
      argsStart = p + 1;
      if (ok) {
        size_t close = code.find(')', argsStart);
        ok = close != std::string::npos;
        if (ok) {
          for (size_t k = argsStart; k < close && ok; ++k)
            ok = IdentPart(code[k]) || Space(code[k]) || code[k] == ',';
          argsEnd = close;
          p = close + 1;
        }
      }
    }
    if (!ok) {
      out.append(code, i, at + 1 - i);
      i = at + 1;
      continue;
    }
    size_t q = p;
    while (q < code.size() && Space(code[q])) ++q;
    if (q < code.size() && code[q] == ';') p = q + 1;
    std::string name = code.substr(nameStart, nameEnd - nameStart);
    out.append(code, i, at - i);
    out += "function " + name + "(" + code.substr(argsStart, argsEnd - argsStart) +
           ") { return __pv7native(" + std::to_string(index) + ", \"" + name +
           "\", arguments); }";
    i = p;
  }
  out.append(code, i, std::string::npos);
  return out;
}

std::vector<std::string> InjectedScripts(const std::vector<ExtensionSource>& list) {
  std::vector<std::string> scripts;
  if (list.empty()) return scripts;
  scripts.push_back(BridgePrelude());
  for (size_t i = 0; i < list.size(); ++i) {
    std::string name;
    for (char c : list[i].name)
      if (c != '\n' && c != '\r') name += c;
    scripts.push_back(RewriteNativeFunctions(list[i].code, static_cast<int>(i)) +
                      "\n//# sourceURL=" + name + "\n");
  }
  return scripts;
}

// ---------------------------------------------------------------- framing

bool WriteFrame(int fd, std::string_view payload) {
  if (payload.size() > kBridgeMaxMessage) return false;
  std::string buf(kFrameHeaderSize, '\0');
  PutFrameLength(reinterpret_cast<uint8_t*>(buf.data()), static_cast<int32_t>(payload.size()));
  buf.append(payload);
  return WriteAll(fd, buf.data(), buf.size());
}

FrameResult ReadFrame(int fd, std::string& out, int timeoutMs, size_t limit) {
  out.clear();
  uint64_t deadline = MonotonicMs() + (timeoutMs < 0 ? 0 : timeoutMs);
  auto readExactly = [&](char* dst, size_t size) -> FrameResult {
    size_t got = 0;
    while (got < size) {
      int wait = -1;
      if (timeoutMs >= 0) {
        uint64_t now = MonotonicMs();
        wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
      }
      int r = WaitReadable(fd, wait);
      if (r == 0) return FrameResult::Timeout;
      if (r < 0) return FrameResult::Error;
      long n = ReadSome(fd, dst + got, size - got);
      if (n == 0) return FrameResult::Closed;
      if (n < 0) return FrameResult::Error;
      got += static_cast<size_t>(n);
    }
    return FrameResult::Ok;
  };
  uint8_t header[kFrameHeaderSize];
  FrameResult r = readExactly(reinterpret_cast<char*>(header), kFrameHeaderSize);
  if (r != FrameResult::Ok) return r;
  const int32_t length = GetFrameLength(header);
  if (length < 0 || size_t(length) > limit) return FrameResult::TooLarge;
  const size_t n = size_t(length);
  // Grown as bytes arrive, so that an announced length costs nothing by itself.
  constexpr size_t kPiece = 1u << 16;
  while (out.size() < n) {
    size_t old = out.size();
    size_t piece = n - old < kPiece ? n - old : kPiece;
    out.resize(old + piece);
    r = readExactly(out.data() + old, piece);
    if (r != FrameResult::Ok) {
      out.clear();
      return r;
    }
  }
  return FrameResult::Ok;
}

// ---------------------------------------------------------------- RenderHelper

std::shared_ptr<RenderHelper> RenderHelper::Launch(const std::string& exe,
                                                   const std::vector<std::string>& args,
                                                   std::string& error) {
  std::shared_ptr<RenderHelper> h(new RenderHelper);
  if (!LaunchHelper(exe, args, "PV7_RENDER_HELPER_CHILD=1", h->pid_, h->fd_, error)) return nullptr;
  h->worker_ = std::make_unique<WorkThread>("render helper");
  return h;
}

RenderHelper::~RenderHelper() {
  Close();
  worker_.reset();
  // The channel is closed: a helper ends at once; one that does not is killed.
  if (pid_ > 0 && !WaitForExit(pid_, 2000)) KillProcessTree(pid_);
  std::lock_guard<std::mutex> lock(callMutex_);
  CloseFd(fd_);
  fd_ = -1;
}

void RenderHelper::Post(std::function<void()> fn) { worker_->Post(std::move(fn)); }

void RenderHelper::Close() {
  if (closed_.exchange(true)) return;
  // Wakes a call waiting for the helper; the fd itself is closed by the destructor.
  ShutdownFd(fd_);
}

std::vector<ExtensionSource> RenderHelper::Extensions(int timeoutMs) {
  std::lock_guard<std::mutex> lock(callMutex_);
  if (listRead_) return extensions_;
  listRead_ = true;
  std::string text;
  FrameResult r = closed_ ? FrameResult::Closed : ReadFrame(fd_, text, timeoutMs);
  if (r != FrameResult::Ok || !ParseExtensionList(text, extensions_)) {
    extensions_.clear();
    broken_ = true;
    if (!GetEnv("PV7_CHROMIUM_LOG").empty())
      fprintf(stderr, "render helper %d sent no extension list\n", pid_);
    ShutdownFd(fd_);
    KillProcessTree(pid_);
    pid_ = -1;
  }
  return extensions_;
}

BridgeReply RenderHelper::Call(BridgeCall call, int timeoutMs) {
  std::lock_guard<std::mutex> lock(callMutex_);
  BridgeReply reply;
  reply.hasException = true;
  if (broken_ || closed_ || !listRead_) {
    reply.exception = "native function " + call.name + ": no render process";
    return reply;
  }
  call.id = nextId_++;
  if (!WriteFrame(fd_, CallMessage(call))) {
    broken_ = true;
    reply.exception = "native function " + call.name + ": the render process has ended";
    return reply;
  }
  uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    uint64_t now = MonotonicMs();
    int left = timeoutMs < 0 ? -1 : (now >= deadline ? 0 : static_cast<int>(deadline - now));
    std::string text;
    FrameResult r = ReadFrame(fd_, text, left);
    if (r == FrameResult::Timeout) {
      reply.exception = "native function " + call.name + ": no answer from the render process";
      return reply;
    }
    if (r != FrameResult::Ok) {
      // A closed or garbled channel cannot be trusted again.
      broken_ = true;
      reply.exception = "native function " + call.name + ": the render process has ended";
      return reply;
    }
    BridgeReply got;
    if (!ParseReplyMessage(text, got)) {
      broken_ = true;
      reply.exception = "native function " + call.name + ": malformed answer";
      return reply;
    }
    if (got.id == call.id) return got;
    // An answer to an earlier call that timed out: dropped.
  }
}

}  // namespace cefeng
