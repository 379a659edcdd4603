#include "task_queue.h"

#include "os_process.h"

namespace cefeng {

WorkThread::WorkThread(std::string name) : q_(std::make_shared<Queue>()) {
  thread_ = std::thread([q = q_, name = std::move(name)] {
    NameThisThread(name.c_str());
    Loop(q);
  });
}

WorkThread::~WorkThread() {
  Stop();
  // Stopped from its own thread: the thread ends by itself once its closure returns.
  if (thread_.joinable()) thread_.detach();
}

void WorkThread::Post(Task fn) {
  std::lock_guard<std::mutex> lock(q_->m);
  if (q_->stop) return;
  q_->tasks.push_back(std::move(fn));
  q_->cv.notify_one();
}

void WorkThread::PostAt(uint64_t dueUs, Task fn) {
  std::lock_guard<std::mutex> lock(q_->m);
  if (q_->stop) return;
  q_->timed.emplace(dueUs, std::move(fn));
  q_->cv.notify_one();
}

void WorkThread::Stop() {
  std::multimap<uint64_t, Task> dropped;
  {
    std::lock_guard<std::mutex> lock(q_->m);
    q_->stop = true;
    dropped.swap(q_->timed);
    if (OnThread()) q_->tasks.clear();
    q_->cv.notify_one();
  }
  if (thread_.joinable() && !OnThread()) thread_.join();
}

// Waits for the next closure to run: a due timed one first, then the queue. False
// when stopped with nothing left for now.
bool WorkThread::Queue::Next(Task& out) {
  std::unique_lock<std::mutex> lock(m);
  for (;;) {
    if (!timed.empty() && timed.begin()->first <= MonotonicUs()) {
      out = std::move(timed.begin()->second);
      timed.erase(timed.begin());
      return true;
    }
    if (!tasks.empty()) {
      out = std::move(tasks.front());
      tasks.pop_front();
      return true;
    }
    if (stop) return false;
    if (timed.empty()) {
      cv.wait(lock);
    } else {
      uint64_t now = MonotonicUs(), due = timed.begin()->first;
      cv.wait_for(lock, std::chrono::microseconds(due > now ? due - now : 0));
    }
  }
}

void WorkThread::Loop(std::shared_ptr<Queue> q) {
  Task fn;
  while (q->Next(fn)) {
    fn();
    fn = nullptr;
  }
}

void MainQueue::Post(Task fn) {
  std::lock_guard<std::mutex> lock(m_);
  queue_.push_back(std::move(fn));
}

void MainQueue::RunPosted() {
  std::deque<Task> work;
  {
    std::lock_guard<std::mutex> lock(m_);
    work.swap(queue_);
  }
  for (Task& fn : work) fn();
}

void MainQueue::Clear() {
  std::deque<Task> dropped;
  std::lock_guard<std::mutex> lock(m_);
  dropped.swap(queue_);
}

}  // namespace cefeng
