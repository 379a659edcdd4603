// Client of the DevTools protocol over the browser's pipe: every message is one JSON
// text ended by a NUL byte. One reader thread owns the incoming side and only parses
// and hands on; commands may be sent from any thread. Also the typed field getters
// every reader of a DevTools message uses.
#pragma once
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

namespace cefeng {

using json = nlohmann::json;

// Splits a byte stream into NUL-terminated messages; bytes after the last NUL are kept
// for the next Feed. A message longer than the limit is dropped whole.
class MessageSplitter {
 public:
  explicit MessageSplitter(size_t limit = 256u << 20) : limit_(limit) {}
  template <class F>
  void Feed(const char* data, size_t size, F&& onMessage) {
    size_t start = 0;
    while (start < size) {
      const void* nul = memchr(data + start, 0, size - start);
      if (!nul) break;
      const size_t i = static_cast<size_t>(static_cast<const char*>(nul) - data);
      if (!overflow_ && buf_.size() + (i - start) > limit_) overflow_ = true;
      if (!overflow_) {
        if (buf_.empty()) {
          onMessage(std::string_view(data + start, i - start));
        } else {
          buf_.append(data + start, i - start);
          onMessage(std::string_view(buf_));
        }
      }
      buf_.clear();
      overflow_ = false;
      start = i + 1;
    }
    if (start < size && !overflow_) {
      buf_.append(data + start, size - start);
      if (buf_.size() > limit_) {
        overflow_ = true;
        buf_.clear();
        buf_.shrink_to_fit();
      }
    }
  }
  size_t Buffered() const { return buf_.size(); }

 private:
  std::string buf_;
  size_t limit_;
  bool overflow_ = false;
};

// Typed fields of a DevTools message: a field that is missing or of another type reads
// as the fallback (never an exception).
const json* ObjectField(const json& j, const char* key);  // null when not an object
const json* ArrayField(const json& j, const char* key);   // null when not an array
std::string StringField(const json& j, const char* key, const std::string& fallback = {});
int IntField(const json& j, const char* key, int fallback = 0);  // clamped to int
bool BoolField(const json& j, const char* key, bool fallback = false);
// The first call frame of a stack trace object, or null.
const json* FirstCallFrame(const json& stackTrace);

class DevToolsPipe {
 public:
  // Reply callback: the message's "result" object, or null result and the error text.
  using ReplyFn = std::function<void(const json& result, const std::string& error)>;
  // Event sink: the whole message (method, params, optional sessionId).
  using EventFn = std::function<void(json& message)>;
  // Where a reply callback goes when its command could not be written: never run
  // inside Send, where the caller may hold its own locks.
  using PostFn = std::function<void(std::function<void()>)>;

  // Without `post`, the reply callback of a command that cannot be written is dropped.
  DevToolsPipe(int writeFd, int readFd, EventFn onEvent, std::function<void()> onClosed,
               PostFn post = nullptr);
  ~DevToolsPipe();
  DevToolsPipe(const DevToolsPipe&) = delete;
  DevToolsPipe& operator=(const DevToolsPipe&) = delete;

  // Sends a command; the reply callback runs on the reader thread (it must not block),
  // or, when the command cannot be written, is handed with an error to `post`.
  // Returns the id.
  int Send(const std::string& method, json params = json::object(),
           const std::string& sessionId = std::string(), ReplyFn onReply = nullptr);
  // Sends and waits for the reply; false on error or time-out.
  bool Call(const std::string& method, json params, const std::string& sessionId,
            json* result, int timeoutMs, std::string* error = nullptr);

  bool Closed() const { return closed_.load(); }
  // Stops the reader thread and fails every pending reply. Idempotent.
  void Stop();

  // Handles one incoming message; public so that parsing can be tested and fuzzed.
  void HandleMessage(std::string_view text);

 private:
  void ReaderLoop();
  void FailPending(const std::string& why);
  // Writes a command; false when it could not be written (its reply callback, if
  // any, is then taken back and returned in `unsent`).
  bool Write(int id, const std::string& text, ReplyFn onReply, ReplyFn& unsent);

  int writeFd_;
  int readFd_;
  EventFn onEvent_;
  std::function<void()> onClosed_;
  PostFn post_;
  std::mutex writeMutex_;    // guards writeFd_ and the writes on it
  std::mutex pendingMutex_;  // guards pending_ and failed_
  std::map<int, ReplyFn> pending_;
  bool failed_ = false;  // the pending replies were failed: no new one is kept
  std::atomic<int> nextId_{1};         // command ids, taken by every sending thread
  std::atomic<bool> closed_{false};    // the reader has ended or Stop has run; read by senders
  std::atomic<bool> stopping_{false};  // Stop has begun: the reader's end is no crash
  std::thread reader_;
};

}  // namespace cefeng
