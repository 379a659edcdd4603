#include "host/watchdog/suicideOrphan.h"

#include <atomic>
#include <optional>
#include <thread>

#include "platform/process.h"

namespace {

constexpr int kWaitStepMs = 500;

// Waits on the parent in 500 ms steps; ends the process when it has ended.
class TSuicideThread {
 public:
  TSuicideThread(platform::ProcessHandle process, int exitCode)
      : FExitCode(exitCode), FProcess(std::move(process)), FThread([this] { Execute(); }) {}
  ~TSuicideThread() {
    FTerminated = true;
    FThread.join();
  }

 private:
  void Execute() {
    platform::SetCurrentThreadName("watchdog");
    while (!FTerminated) {
      if (FProcess.WaitEnded(kWaitStepMs)) platform::ExitProcessNow(FExitCode);
    }
  }

  const int FExitCode;
  const platform::ProcessHandle FProcess;
  std::atomic<bool> FTerminated{false};  // set by the owner's thread, read by the watch thread
  std::thread FThread;
};

class TSuicideOrphan : public ISuicideOrphan,
                       public std::enable_shared_from_this<TSuicideOrphan> {
 public:
  explicit TSuicideOrphan(int exitCode) : FExitCode(exitCode) {}

  std::shared_ptr<ISuicideOrphan> Watch(int processId) override {
    if (processId != 0 && !FThread) {
      if (std::optional<platform::ProcessHandle> process = platform::ProcessHandle::Open(processId))
        FThread = std::make_unique<TSuicideThread>(std::move(*process), FExitCode);
    }
    return shared_from_this();
  }

  bool Watching() const override { return FThread != nullptr; }

 private:
  std::unique_ptr<TSuicideThread> FThread;  // owner's thread only
  const int FExitCode;
};

}  // namespace

ISuicideOrphanRef NewSuicideOrphan(int exitCode) {
  return std::make_shared<TSuicideOrphan>(exitCode);
}
