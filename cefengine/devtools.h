// Client of the DevTools protocol over the browser's pipe: every message is one JSON
// text ended by a NUL byte. One reader thread owns the incoming side; commands may be
// sent from any thread.
#pragma once
#include <atomic>
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
    for (size_t i = 0; i < size; ++i) {
      if (data[i] != 0) continue;
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

class DevToolsPipe {
 public:
  // Reply callback: the message's "result" object, or null result and the error text.
  using ReplyFn = std::function<void(const json& result, const std::string& error)>;
  // Event sink: the whole message (method, params, optional sessionId).
  using EventFn = std::function<void(json& message)>;

  DevToolsPipe(int writeFd, int readFd, EventFn onEvent, std::function<void()> onClosed);
  ~DevToolsPipe();
  DevToolsPipe(const DevToolsPipe&) = delete;
  DevToolsPipe& operator=(const DevToolsPipe&) = delete;

  // Sends a command; the reply callback runs on the reader thread (it must not block)
  // or, when the pipe is closed, on the calling thread with an error. Returns the id.
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

  int writeFd_;
  int readFd_;
  EventFn onEvent_;
  std::function<void()> onClosed_;
  std::mutex writeMutex_;
  std::mutex pendingMutex_;
  std::map<int, ReplyFn> pending_;
  std::atomic<int> nextId_{1};
  std::atomic<bool> closed_{false};
  std::atomic<bool> stopping_{false};
  std::thread reader_;
};

}  // namespace cefeng
