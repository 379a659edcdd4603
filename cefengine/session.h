// What a browser's parts need of the engine: its page's DevTools session, its
// sequence (the engine I/O thread), the paint and main threads, and the time. The
// engine gives each browser one; the parts' unit tests give them a scripted one.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "delegate.h"
#include "devtools.h"
#include "task_queue.h"

namespace cefeng {

class Session {
 public:
  using ReplyFn = DevToolsPipe::ReplyFn;
  using PostFn = std::function<void(Task)>;
  virtual ~Session() = default;

  // Sequence. A command to the browser's page; its reply (or failure) comes later on
  // the sequence, never inside Send.
  virtual void Send(const std::string& method, json params = json::object(),
                    ReplyFn onReply = nullptr) = 0;
  // Sequence. A command to Chromium itself (targets).
  virtual void SendToBrowser(const std::string& method, json params) = 0;
  // Any thread. Runs fn on the sequence after what is queued, or at dueUs; only while
  // the browser exists.
  virtual void Post(Task fn) = 0;
  virtual void PostAt(uint64_t dueUs, Task fn) = 0;
  // A copyable Post that stays safe to call after the browser is gone (for answers
  // handed to other threads).
  virtual PostFn Poster() = 0;
  // Any thread. Runs fn on the paint thread, while the browser exists.
  virtual void PostPaint(Task fn) = 0;
  // Any thread. Runs fn with the delegate on the main thread; with whileAlive, only if
  // the browser is then still valid.
  virtual void Notify(std::function<void(BrowserDelegate&)> fn, bool whileAlive = true) = 0;
  virtual void PostMain(Task fn) = 0;
  virtual bool OnMainThread() = 0;
  // Any thread. A paint waits for the main thread.
  virtual void WakeMain() = 0;
  // Any thread. The browser is closed: the engine forgets it.
  virtual void Closed() = 0;
  virtual uint64_t NowUs() = 0;
};

// Commands of one browser in call order. While a barrier is up (a view size asked of
// the main thread, or a navigation waiting for its page to answer), later commands
// wait behind it, so that a click meant for the new size or page is not sent before
// it. A held command that raises a barrier again keeps the rest waiting behind it.
// Sequence only.
class CommandOrder {
 public:
  void Run(Task fn) {
    if (holds_ > 0 || !held_.empty())
      held_.push_back(std::move(fn));
    else
      fn();
  }
  void Hold() { ++holds_; }
  void Release() {
    if (holds_ == 0 || --holds_ > 0) return;
    while (holds_ == 0 && !held_.empty()) {
      Task fn = std::move(held_.front());
      held_.pop_front();
      fn();
    }
  }
  bool Held() const { return holds_ > 0; }

 private:
  int holds_ = 0;
  std::deque<Task> held_;
};

}  // namespace cefeng
