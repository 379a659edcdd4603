// TConsoleSender: console texts go to the parent in the order they were given.
// One thread ("console") opens one CMSG connection after another, each carrying
// one text, so the main thread never waits for a connection.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

class TConsoleSender {
 public:
  // Texts waiting beyond these bounds are dropped: a page that logs faster than
  // the parent accepts must not fill the host's memory.
  static constexpr size_t kMaxWaitingTexts = 4096;
  static constexpr size_t kMaxWaitingBytes = 16u << 20;
  // How long destruction goes on sending what waits.
  static constexpr int kDrainMs = 1000;

  TConsoleSender(std::string host, uint16_t port);
  // Sends what waits for at most kDrainMs, then leaves the rest to the thread,
  // which ends on its own.
  ~TConsoleSender();
  TConsoleSender(const TConsoleSender&) = delete;
  TConsoleSender& operator=(const TConsoleSender&) = delete;

  // Queues one text (any thread); false when it was dropped.
  bool Post(std::string text);

 private:
  struct TState {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::string> waiting;  // guarded by lock
    size_t waitingBytes = 0;          // guarded by lock
    bool stop = false;                // guarded by lock
    bool done = false;                // guarded by lock
    std::chrono::steady_clock::time_point drainUntil;  // guarded by lock; set with stop
  };
  static void Run(std::shared_ptr<TState> state, std::string host, uint16_t port);

  std::shared_ptr<TState> FState;  // shared with the console thread
};
