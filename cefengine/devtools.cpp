#include "devtools.h"

#include <condition_variable>

#include "os_process.h"

namespace cefeng {

const json* ObjectField(const json& j, const char* key) {
  if (!j.is_object()) return nullptr;
  auto it = j.find(key);
  return it != j.end() && it->is_object() ? &*it : nullptr;
}

const json* ArrayField(const json& j, const char* key) {
  if (!j.is_object()) return nullptr;
  auto it = j.find(key);
  return it != j.end() && it->is_array() ? &*it : nullptr;
}

std::string StringField(const json& j, const char* key, const std::string& fallback) {
  if (!j.is_object()) return fallback;
  auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : fallback;
}

int IntField(const json& j, const char* key, int fallback) {
  if (!j.is_object()) return fallback;
  auto it = j.find(key);
  if (it == j.end() || !it->is_number()) return fallback;
  if (it->is_number_integer()) {
    if (it->is_number_unsigned()) {
      uint64_t u = it->get<uint64_t>();
      return u > uint64_t(INT32_MAX) ? INT32_MAX : int(u);
    }
    int64_t v = it->get<int64_t>();
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int(v);
  }
  double d = it->get<double>();
  if (!(d == d)) return fallback;  // NaN
  return d >= double(INT32_MAX) ? INT32_MAX : d <= double(INT32_MIN) ? INT32_MIN : int(d);
}

bool BoolField(const json& j, const char* key, bool fallback) {
  if (!j.is_object()) return fallback;
  auto it = j.find(key);
  return it != j.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

const json* FirstCallFrame(const json& stackTrace) {
  const json* frames = ArrayField(stackTrace, "callFrames");
  if (!frames || frames->empty() || !(*frames)[0].is_object()) return nullptr;
  return &(*frames)[0];
}

DevToolsPipe::DevToolsPipe(int writeFd, int readFd, EventFn onEvent, std::function<void()> onClosed,
                           PostFn post)
    : writeFd_(writeFd), readFd_(readFd), onEvent_(std::move(onEvent)), onClosed_(std::move(onClosed)),
      post_(std::move(post)) {
  if (readFd_ >= 0)
    reader_ = std::thread([this] {
      NameThisThread("engine reader");
      ReaderLoop();
    });
}

DevToolsPipe::~DevToolsPipe() { Stop(); }

void DevToolsPipe::Stop() {
  stopping_ = true;
  ShutdownFd(readFd_);
  ShutdownFd(writeFd_);
  if (reader_.joinable() && reader_.get_id() != std::this_thread::get_id()) reader_.join();
  {
    std::lock_guard<std::mutex> lock(writeMutex_);
    closed_ = true;
    if (writeFd_ >= 0 && writeFd_ != readFd_) CloseFd(writeFd_);
    writeFd_ = -1;
  }
  FailPending("pipe closed");
  if (readFd_ >= 0) CloseFd(readFd_);
  readFd_ = -1;
}

namespace {

// One command as written on the pipe, NUL included.
std::string CommandText(int id, const std::string& method, json params, const std::string& sessionId) {
  json msg = {{"id", id}, {"method", method}, {"params", std::move(params)}};
  if (!sessionId.empty()) msg["sessionId"] = sessionId;
  std::string text = msg.dump(-1, ' ', false, json::error_handler_t::replace);
  text.push_back('\0');
  return text;
}

}  // namespace

int DevToolsPipe::Send(const std::string& method, json params, const std::string& sessionId,
                       ReplyFn onReply) {
  int id = nextId_++;
  std::string text = CommandText(id, method, std::move(params), sessionId);
  ReplyFn unsent;
  if (!Write(id, text, std::move(onReply), unsent) && unsent && post_)
    post_([fn = std::move(unsent)] { fn(json(), "pipe closed"); });
  return id;
}

bool DevToolsPipe::Write(int id, const std::string& text, ReplyFn onReply, ReplyFn& unsent) {
  bool kept = false;
  if (onReply) {
    std::lock_guard<std::mutex> lock(pendingMutex_);
    if (!failed_) {
      pending_[id] = std::move(onReply);
      kept = true;
    } else {
      unsent = std::move(onReply);
    }
  }
  bool ok = false;
  if (!closed_) {
    std::lock_guard<std::mutex> lock(writeMutex_);
    ok = writeFd_ >= 0 && WriteAll(writeFd_, text.data(), text.size());
  }
  if (!ok && kept) {
    // Taken back unless the reader has failed it meanwhile.
    std::lock_guard<std::mutex> lock(pendingMutex_);
    auto it = pending_.find(id);
    if (it != pending_.end()) {
      unsent = std::move(it->second);
      pending_.erase(it);
    }
  }
  return ok;
}

bool DevToolsPipe::Call(const std::string& method, json params, const std::string& sessionId,
                        json* result, int timeoutMs, std::string* error) {
  struct Waiter {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    json result;
    std::string error;
  };
  auto w = std::make_shared<Waiter>();
  int id = nextId_++;
  std::string text = CommandText(id, method, std::move(params), sessionId);
  ReplyFn unsent;
  bool sent = Write(id, text, [w](const json& r, const std::string& e) {
    std::lock_guard<std::mutex> lock(w->m);
    w->result = r;
    w->error = e;
    w->done = true;
    w->cv.notify_all();
  }, unsent);
  if (!sent && unsent) {
    if (error) *error = "pipe closed";
    return false;
  }
  std::unique_lock<std::mutex> lock(w->m);
  if (!w->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return w->done; })) {
    if (error) *error = "timeout";
    return false;
  }
  if (error) *error = w->error;
  if (result) *result = w->result;
  return w->error.empty();
}

namespace {

// A screencast frame's message is megabytes of base64 in params.data, which the JSON
// parser would copy a byte at a time. When the message starts as Chromium writes it,
// the string is cut out, the short rest is parsed, and the string is put back with
// one copy; its bytes are left to the base64 decoding to check. A message of any
// other shape is parsed whole.
constexpr std::string_view kFrameMethod = "{\"method\":\"Page.screencastFrame\",\"params\":{\"data\":\"";

json ParseFrameMessage(std::string_view text) {
  if (text.substr(0, kFrameMethod.size()) != kFrameMethod) return json(json::value_t::discarded);
  const size_t from = kFrameMethod.size();
  const size_t to = text.find('"', from);
  if (to == std::string_view::npos) return json(json::value_t::discarded);
  const std::string_view data = text.substr(from, to - from);
  if (data.find('\\') != std::string_view::npos) return json(json::value_t::discarded);  // escaped
  std::string rest;
  rest.reserve(text.size() - data.size());
  rest.append(text.substr(0, from)).append(text.substr(to));
  json msg = json::parse(rest, nullptr, false);
  if (!msg.is_object()) return json(json::value_t::discarded);
  auto params = msg.find("params");
  if (params == msg.end() || !params->is_object()) return json(json::value_t::discarded);
  auto d = params->find("data");
  if (d == params->end() || !d->is_string() || !d->get_ref<std::string&>().empty())
    return json(json::value_t::discarded);
  *d = std::string(data);
  return msg;
}

}  // namespace

void DevToolsPipe::HandleMessage(std::string_view text) {
  json msg = ParseFrameMessage(text);
  if (msg.is_discarded()) msg = json::parse(text.begin(), text.end(), nullptr, false);
  if (msg.is_discarded() || !msg.is_object()) return;
  auto idIt = msg.find("id");
  if (idIt != msg.end()) {
    if (!idIt->is_number_integer()) return;
    int id = idIt->get<int>();
    ReplyFn fn;
    {
      std::lock_guard<std::mutex> lock(pendingMutex_);
      auto it = pending_.find(id);
      if (it == pending_.end()) return;
      fn = std::move(it->second);
      pending_.erase(it);
    }
    if (!fn) return;
    auto err = msg.find("error");
    if (err != msg.end()) {
      std::string text = "error";
      if (err->is_object()) {
        auto m = err->find("message");
        if (m != err->end() && m->is_string()) text = m->get<std::string>();
      }
      if (text.empty()) text = "error";
      fn(json(), text);
      return;
    }
    auto res = msg.find("result");
    fn(res != msg.end() && res->is_object() ? *res : json::object(), std::string());
    return;
  }
  auto m = msg.find("method");
  if (m == msg.end() || !m->is_string()) return;
  if (!ObjectField(msg, "params")) msg["params"] = json::object();
  auto s = msg.find("sessionId");
  if (s != msg.end() && !s->is_string()) msg.erase(s);
  if (onEvent_) onEvent_(msg);
}

void DevToolsPipe::FailPending(const std::string& why) {
  std::map<int, ReplyFn> pending;
  {
    std::lock_guard<std::mutex> lock(pendingMutex_);
    failed_ = true;
    pending.swap(pending_);
  }
  for (auto& [id, fn] : pending)
    if (fn) fn(json(), why);
}

void DevToolsPipe::ReaderLoop() {
  MessageSplitter splitter;
  std::vector<char> buf(1 << 20);  // a 1080p frame's message in few reads
  for (;;) {
    long n = ReadSome(readFd_, buf.data(), buf.size());
    if (n <= 0) break;
    splitter.Feed(buf.data(), static_cast<size_t>(n), [this](std::string_view m) { HandleMessage(m); });
  }
  closed_ = true;
  FailPending("pipe closed");
  if (!stopping_ && onClosed_) onClosed_();
}

}  // namespace cefeng
