#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "base/exception.h"

namespace platform {

int GetCurrentProcessId() { return int(::getpid()); }

void ExitProcessNow(int status) { ::_exit(status); }

void SetCurrentThreadName(const char* name) {
  char buf[16];
  std::strncpy(buf, name, sizeof(buf) - 1);
  buf[sizeof(buf) - 1] = 0;
  ::pthread_setname_np(::pthread_self(), buf);
}

std::string ExecutablePath() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return {};
  return std::string(buf, size_t(n));
}

std::string ExecutableFolder() {
  std::string path = ExecutablePath();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::optional<ProcessHandle> ProcessHandle::Open(int pid) {
  if (pid <= 0) return std::nullopt;
  long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd < 0) return std::nullopt;
  ::fcntl(int(fd), F_SETFD, FD_CLOEXEC);
  return ProcessHandle(int(fd));
}

ProcessHandle::~ProcessHandle() {
  if (FFd >= 0) ::close(FFd);
}

bool ProcessHandle::WaitEnded(int timeoutMs) const {
  pollfd p{FFd, POLLIN, 0};
  int r = ::poll(&p, 1, timeoutMs);
  return r > 0 && (p.revents & (POLLIN | POLLHUP)) != 0;
}

ChildProcess ChildProcess::Start(const std::string& path, const std::vector<std::string>& args,
                                 const std::string& workingDir) {
  return ChildProcess(Fork(path, args, workingDir, false));
}

ChildProcess ChildProcess::StartGroupLeader(const std::string& path,
                                            const std::vector<std::string>& args) {
  return ChildProcess(Fork(path, args, {}, true), true);
}

int ChildProcess::Fork(const std::string& path, const std::vector<std::string>& args,
                       const std::string& workingDir, bool newGroup) {
  if (::access(path.c_str(), X_OK) != 0)
    throw Exception("Cannot run \"" + path + "\": " + std::strerror(errno));
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) throw Exception(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    if (newGroup) ::setpgid(0, 0);
    if (!workingDir.empty() && ::chdir(workingDir.c_str()) != 0) ::_exit(127);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
  }
  // Also in the parent, so the group exists before Start returns (no race with KillGroup).
  if (newGroup) ::setpgid(pid, pid);
  return int(pid);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : FPid(other.FPid), FGroupLeader(other.FGroupLeader), FStatus(other.FStatus) {
  other.FPid = -1;
}

ChildProcess::~ChildProcess() {
  if (FPid > 0 && !FStatus) {
    ::kill(FPid, SIGKILL);
    Wait(-1);
  }
}

std::optional<int> ChildProcess::Wait(int timeoutMs) {
  if (FStatus || FPid <= 0) return FStatus;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(FPid, &status, timeoutMs < 0 ? 0 : WNOHANG);
    if (r == FPid) {
      FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return FStatus;
    }
    if (r < 0 && errno != EINTR) return std::nullopt;
    if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    if (timeoutMs >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ChildProcess::Kill(int signal) {
  if (FPid > 0 && !FStatus) ::kill(FPid, signal);
}

void ChildProcess::KillGroup(int signal) {
  if (FPid > 0 && FGroupLeader) ::kill(-FPid, signal);
}

bool ChildProcess::Running() { return FPid > 0 && !Wait(0); }

bool ProcessAlive(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  size_t paren = line.rfind(')');
  return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] != 'Z';
}

}  // namespace platform
