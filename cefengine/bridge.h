// Native functions of JavaScript extensions, carried between a page in Chromium
// and the render helper process that runs the extension's handler.
//
// Page -> library: a synchronous XMLHttpRequest (POST, text/plain) to kBridgeUrl,
// which the library intercepts itself; its body is the JSON text
//   {"x": extension index, "n": "function name", "a": [value, ...]}.
// Library -> helper (private socket): {"id": N, "x": .., "n": .., "a": [..]}.
// Helper -> library: {"id": N, "h": handled, "r": value} or {"id": N, "e": "text"};
// and once, first of all, {"extensions": [{"name": .., "code": ..}, ..]}.
// Library -> page (response body): {"r": value}, {"e": "text"} or {} (not handled).
// A value is {"t": kind, "v": ..} with kind s (string), n (number; "NaN", "Infinity"
// and "-Infinity" as strings), b (boolean), z (null), u (undefined), a (array),
// f (function), d (date, v = milliseconds since 1970), o (any other object).
//
// On the socket every message is a 4-byte big-endian length and that many bytes of
// UTF-8 JSON. Everything read from the page or the socket is checked: sizes are
// bounded and malformed input gives an error, never a crash.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/base64.h"
#include "base/framing.h"

#include "devtools.h"
#include "task_queue.h"

namespace cefeng {

inline constexpr const char* kBridgeUrl = "https://pv7-native.invalid/call";
inline constexpr size_t kBridgeMaxMessage = 64u << 20;
inline constexpr size_t kBridgeMaxArgs = 4096;
// The longest wait of the library for a helper's answer to one call.
inline constexpr int kBridgeCallTimeoutMs = 60000;

struct BridgeValue {
  enum Kind { Undefined, Null, Bool, Number, String, Array, Function, Date, Object };
  Kind kind = Undefined;
  bool boolean = false;
  double number = 0;
  std::string text;  // UTF-8, for String
};

json ValueToJson(const BridgeValue& v);
// False when the JSON is not a value of the form above.
bool ValueFromJson(const json& j, BridgeValue& out);

struct BridgeCall {
  uint64_t id = 0;
  int extension = 0;
  std::string name;
  std::vector<BridgeValue> args;
};

struct BridgeReply {
  uint64_t id = 0;
  bool handled = false;
  bool hasException = false;
  std::string exception;
  BridgeValue result;
};

struct ExtensionSource {
  std::string name;
  std::string code;
};

// The page's request body. False with `error` set when malformed.
bool ParseCallBody(std::string_view body, BridgeCall& out, std::string& error);
std::string CallMessage(const BridgeCall& call);
bool ParseCallMessage(std::string_view text, BridgeCall& out);
std::string ReplyMessage(const BridgeReply& reply);
bool ParseReplyMessage(std::string_view text, BridgeReply& out);
// What the page's function receives.
std::string ReplyBody(const BridgeReply& reply);
std::string ExtensionListMessage(const std::vector<ExtensionSource>& list);
bool ParseExtensionList(std::string_view text, std::vector<ExtensionSource>& out);

// The script that defines the call helper every rewritten extension uses.
std::string BridgePrelude();
// The extension's code with each `native function NAME(ARGS);` declaration
// replaced by a function that calls the helper for extension `index`.
std::string RewriteNativeFunctions(const std::string& code, int index);
// Every script a new document of a browser gets: the prelude, then each extension.
std::vector<std::string> InjectedScripts(const std::vector<ExtensionSource>& list);

// Framing on a stream socket.
bool WriteFrame(int fd, std::string_view payload);
enum class FrameResult { Ok, Closed, Timeout, TooLarge, Error };
// Reads one frame; timeoutMs bounds the whole read (-1: no limit).
FrameResult ReadFrame(int fd, std::string& out, int timeoutMs, size_t limit = kBridgeMaxMessage);

// The browser side of one render helper process: its socket, its extension list and
// a thread of its own on which the page's calls wait for the helper (never the
// DevTools reader thread).
class RenderHelper {
 public:
  // Starts exe with args; null with `error` set when it cannot be started.
  static std::shared_ptr<RenderHelper> Launch(const std::string& exe,
                                              const std::vector<std::string>& args,
                                              std::string& error);
  ~RenderHelper();
  RenderHelper(const RenderHelper&) = delete;
  RenderHelper& operator=(const RenderHelper&) = delete;

  int Pid() const { return pid_; }
  // The helper's extensions, waited for once (at most timeoutMs); a helper that does
  // not send them in time is ended and has none.
  std::vector<ExtensionSource> Extensions(int timeoutMs);
  // One call, answered by the helper within timeoutMs or failed with an exception
  // text. Calls are serialised.
  BridgeReply Call(BridgeCall call, int timeoutMs);
  // Runs fn on the helper's own thread, in order.
  void Post(std::function<void()> fn);
  // Closes the channel (the helper then ends) and reaps the process. Idempotent.
  void Close();
  bool Closed() const { return closed_.load(); }

 private:
  RenderHelper() = default;

  int pid_ = -1;
  int fd_ = -1;
  std::mutex callMutex_;  // guards the channel's use and the fields up to nextId_
  bool listRead_ = false;
  bool broken_ = false;
  std::vector<ExtensionSource> extensions_;
  uint64_t nextId_ = 1;
  std::atomic<bool> closed_{false};  // Close has run; read by every thread that calls

  std::unique_ptr<WorkThread> worker_;  // the "render helper" thread the calls wait on
};

}  // namespace cefeng
