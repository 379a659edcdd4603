// A browser session for the engine's parts without Chromium: commands are recorded
// and answered by the test, the sequence, paint thread and main thread are queues the
// test runs, and the time moves only when the test says so.
#pragma once
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "session.h"

namespace cefeng::testing {

struct SentCommand {
  std::string method;
  json params;
  Session::ReplyFn reply;
  bool toBrowser = false;
};

class ScriptedSession : public Session {
 public:
  std::vector<SentCommand> sent;
  std::vector<std::function<void(BrowserDelegate&)>> notes;  // for the main thread
  uint64_t now = 1000000;
  int wakes = 0;

  void Send(const std::string& method, json params, ReplyFn onReply) override {
    sent.push_back({method, std::move(params), std::move(onReply), false});
  }
  void SendToBrowser(const std::string& method, json params) override {
    sent.push_back({method, std::move(params), nullptr, true});
  }
  void Post(Task fn) override {
    std::lock_guard<std::mutex> lock(m_);
    tasks_.push_back(std::move(fn));
  }
  void PostAt(uint64_t dueUs, Task fn) override { timed_.emplace(dueUs, std::move(fn)); }
  PostFn Poster() override {
    return [this](Task fn) { Post(std::move(fn)); };
  }
  void PostPaint(Task fn) override { paint_.push_back(std::move(fn)); }
  void Notify(std::function<void(BrowserDelegate&)> fn, bool) override { notes.push_back(std::move(fn)); }
  void PostMain(Task fn) override { main_.push_back(std::move(fn)); }
  bool OnMainThread() override { return true; }
  void WakeMain() override { ++wakes; }
  void Closed() override {}
  uint64_t NowUs() override { return now; }

  // Runs what the sequence and the paint thread have queued, until both are empty.
  void RunPosted() {
    for (;;) {
      Task fn;
      {
        std::lock_guard<std::mutex> lock(m_);
        if (!tasks_.empty()) {
          fn = std::move(tasks_.front());
          tasks_.pop_front();
        }
      }
      if (!fn && !paint_.empty()) {
        fn = std::move(paint_.front());
        paint_.pop_front();
      }
      if (!fn) return;
      fn();
    }
  }
  // Moves the time on by `us`, running every timed closure that falls due on the way.
  void Advance(uint64_t us) {
    uint64_t end = now + us;
    while (!timed_.empty() && timed_.begin()->first <= end) {
      now = std::max(now, timed_.begin()->first);
      Task fn = std::move(timed_.begin()->second);
      timed_.erase(timed_.begin());
      fn();
      RunPosted();
    }
    now = end;
  }
  // Answers the last command of that method.
  void Reply(const std::string& method, const json& result = json::object(), const std::string& error = {}) {
    for (auto it = sent.rbegin(); it != sent.rend(); ++it)
      if (it->method == method) {
        if (it->reply) it->reply(result, error);
        return;
      }
  }
  size_t Count(const std::string& method) const {
    size_t n = 0;
    for (const SentCommand& c : sent) n += c.method == method;
    return n;
  }
  const SentCommand* Last(const std::string& method) const {
    for (auto it = sent.rbegin(); it != sent.rend(); ++it)
      if (it->method == method) return &*it;
    return nullptr;
  }
  // Gives every note to the delegate, as the main thread would.
  void Deliver(BrowserDelegate& d) {
    for (auto& n : notes) n(d);
    notes.clear();
  }

 private:
  std::mutex m_;  // guards tasks_ (async answers may post from another thread)
  std::deque<Task> tasks_;
  std::multimap<uint64_t, Task> timed_;
  std::deque<Task> paint_;
  std::deque<Task> main_;
};

}  // namespace cefeng::testing
