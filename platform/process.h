// Process services: ids, ending at once, watching another process, child processes.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

int GetCurrentProcessId();

// Ends the process at once with the status: no clean-up of any kind.
[[noreturn]] void ExitProcessNow(int status);

// Names the calling thread (shown by debuggers and /proc).
void SetCurrentThreadName(const char* name);

// The running executable's full path and folder.
std::string ExecutablePath();
std::string ExecutableFolder();

// A handle on another process that can be waited on (a pidfd).
class ProcessHandle {
 public:
  // Opens the process; nothing when it does not exist or cannot be opened.
  static std::optional<ProcessHandle> Open(int pid);
  ProcessHandle(ProcessHandle&& other) noexcept : FFd(other.FFd) { other.FFd = -1; }
  ProcessHandle& operator=(ProcessHandle&&) = delete;
  ProcessHandle(const ProcessHandle&) = delete;
  ~ProcessHandle();
  // True when the process has ended; waits at most timeoutMs.
  bool WaitEnded(int timeoutMs) const;

 private:
  explicit ProcessHandle(int fd) : FFd(fd) {}
  int FFd = -1;
};

// A child process started with arguments; the exit status is collected by Wait.
class ChildProcess {
 public:
  // Starts `path` with argv[0] = path and the arguments; raises Exception when it
  // cannot be started (the executable missing or not runnable).
  static ChildProcess Start(const std::string& path, const std::vector<std::string>& args,
                            const std::string& workingDir = {});
  // As Start, with the child leading a new process group of its own, so that it and
  // every process it starts can be ended together (KillGroup).
  static ChildProcess StartGroupLeader(const std::string& path, const std::vector<std::string>& args);
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();  // kills and reaps a child that still runs

  int Pid() const { return FPid; }
  // The exit status once ended (128 + signal number when killed by a signal);
  // nothing when still running after timeoutMs (-1: wait without limit).
  std::optional<int> Wait(int timeoutMs);
  void Kill(int signal = 9);
  // Sends the signal to the child's process group (StartGroupLeader), which may
  // outlive the child itself; nothing happens when the group has no member left.
  void KillGroup(int signal = 9);
  bool Running();

 private:
  explicit ChildProcess(int pid, bool groupLeader = false) : FPid(pid), FGroupLeader(groupLeader) {}
  static int Fork(const std::string& path, const std::vector<std::string>& args,
                  const std::string& workingDir, bool newGroup);
  int FPid = -1;
  bool FGroupLeader = false;
  std::optional<int> FStatus;
};

// Whether a process with this id exists (and is not a zombie).
bool ProcessAlive(int pid);

}  // namespace platform
