// Sequences of work: a named thread that runs closures in order (now or at a given
// time), and the queue of closures the main thread runs in its engine work.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace cefeng {

using Task = std::function<void()>;

// A queue of closures run in order by one thread of its own, named `name` (as the
// operating system shows it). Timed closures run at their monotonic time (µs), in
// order of that time, between the closures posted for now.
class WorkThread {
 public:
  explicit WorkThread(std::string name);
  ~WorkThread();
  WorkThread(const WorkThread&) = delete;
  WorkThread& operator=(const WorkThread&) = delete;

  void Post(Task fn);
  void PostAt(uint64_t dueUs, Task fn);
  // Runs what is queued for now (timed closures not yet due are dropped), then joins;
  // from the thread itself it only stops taking closures.
  void Stop();
  bool OnThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  // Shared with the thread, so that a WorkThread destroyed by one of its own closures
  // leaves the thread something valid to finish with.
  struct Queue {
    std::mutex m;  // guards tasks, timed and stop
    std::condition_variable cv;
    std::deque<Task> tasks;
    std::multimap<uint64_t, Task> timed;
    bool stop = false;
    bool Next(Task& out);
  };
  static void Loop(std::shared_ptr<Queue> q);

  std::shared_ptr<Queue> q_;
  std::thread thread_;
};

// The main thread's queue: any thread posts, the main thread runs what has been
// posted so far (the poster wakes the main loop itself).
class MainQueue {
 public:
  void Post(Task fn);
  // Main thread: runs the closures posted before this call.
  void RunPosted();
  void Clear();

 private:
  std::mutex m_;  // guards queue_
  std::deque<Task> queue_;
};

}  // namespace cefeng
