// TGoGoThread: the command reader. It reads one frame message at a time from the
// ACTN connection and hands each non-empty one to the dispatcher, until an error,
// the peer's close, or a handler asks it to stop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "host/channel.h"

// Signalled once the reader's loop has ended (it outlives the thread object).
class TThreadDone {
 public:
  void Signal();
  // True when ended within timeoutMs.
  bool Wait(int timeoutMs);

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FDone = false;  // guarded by FLock
};

class TGoGoThread {
 public:
  using TDispatch = std::function<void(TGoGoThread& thread, TStream& message)>;

  // Created suspended; Start runs the loop on a thread of its own, and the object
  // frees itself when the loop ends. The client is shared with its owner so that
  // the owner can wake a blocked read (Shutdown) while the thread still uses it.
  TGoGoThread(std::shared_ptr<TTcpClient> client, TDispatch dispatch);
  void Start();

  // Asks the loop to end after the message being handled (thread-safe).
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  std::shared_ptr<TThreadDone> Done() const { return FDone; }

 private:
  ~TGoGoThread() = default;
  void Execute();
  // The loop; false when it ended on an error (reported on standard error).
  bool ReadCommands();
  // Shuts ACTN down in both directions; the owner closes the socket itself.
  void CloseConnection();

  std::shared_ptr<TTcpClient> FClient;  // read only by the command thread once started
  TDispatch FDispatch;
  std::atomic<bool> FTerminated{false};
  std::shared_ptr<TThreadDone> FDone = std::make_shared<TThreadDone>();
};
