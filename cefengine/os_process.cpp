#include "os_process.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

extern char** environ;

namespace cefeng {

namespace {

// Moves fd to a number above 10 so that the dup2 onto 3 and 4 cannot clobber it.
int Lift(int fd) {
  int lifted = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return lifted;
}

// In the child after a failed exec: hands errno to the parent through the status
// pipe (async-signal-safe calls only) and ends.
[[noreturn]] void ReportExecFailure(int statusFd) {
  int err = errno;
  ssize_t ignored = write(statusFd, &err, sizeof err);
  (void)ignored;
  _exit(127);
}

// In the parent: the status pipe closes unread on a successful exec (CLOEXEC) or
// carries the child's errno; a child that failed is reaped.
bool ExecSucceeded(int statusRead, pid_t child, const std::string& exe, std::string& error) {
  int execErr = 0;
  ssize_t n;
  do {
    n = read(statusRead, &execErr, sizeof execErr);
  } while (n < 0 && errno == EINTR);
  close(statusRead);
  if (n != sizeof execErr) return true;
  error = "cannot start " + exe + ": " + strerror(execErr);
  waitpid(child, nullptr, 0);
  return false;
}

// The process environment with the extra entries, each replacing a variable of its
// name; the pointers stay valid while `extra` and the environment are unchanged.
std::vector<char*> EnvironmentWith(const std::vector<std::string>& extra) {
  std::vector<char*> envp;
  for (char** e = environ; e && *e; ++e) {
    bool replaced = false;
    for (const std::string& x : extra) {
      size_t eq = x.find('=');
      if (eq != std::string::npos && strncmp(*e, x.c_str(), eq + 1) == 0) replaced = true;
    }
    if (!replaced) envp.push_back(*e);
  }
  for (const std::string& x : extra) envp.push_back(const_cast<char*>(x.c_str()));
  envp.push_back(nullptr);
  return envp;
}

}  // namespace

bool LaunchWithPipe(const std::string& exe, const std::vector<std::string>& args,
                    bool quietOutput, ChildProcess& out, std::string& error,
                    const std::vector<std::string>& extraEnv) {
  int cmd[2], evt[2], status[2];
  // Sockets rather than pipes: writing to a dead child then fails with EPIPE through
  // MSG_NOSIGNAL instead of killing the host with SIGPIPE.
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, cmd) != 0) {
    error = std::string("socketpair: ") + strerror(errno);
    return false;
  }
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, evt) != 0) {
    error = std::string("socketpair: ") + strerror(errno);
    close(cmd[0]);
    close(cmd[1]);
    return false;
  }
  if (pipe2(status, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + strerror(errno);
    close(cmd[0]); close(cmd[1]); close(evt[0]); close(evt[1]);
    return false;
  }
  int childCmd = Lift(cmd[1]);
  int childEvt = Lift(evt[1]);
  int childStatus = Lift(status[1]);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // Copied before fork: the child may only make async-signal-safe calls.
  std::vector<char*> envp = EnvironmentWith(extraEnv);
  pid_t parent = getpid();

  pid_t pid = fork();
  if (pid < 0) {
    error = std::string("fork: ") + strerror(errno);
    close(cmd[0]); close(childCmd); close(evt[0]); close(childEvt);
    close(status[0]); close(childStatus);
    return false;
  }
  if (pid == 0) {
    // Child: only async-signal-safe calls from here to exec.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(childCmd, 3);
    dup2(childEvt, 4);
    if (quietOutput) {
      int devnull = open("/dev/null", O_RDWR);
      if (devnull >= 0) {
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
      }
    }
    // Everything but 0-4 and the status pipe closes on exec (CLOEXEC or closed here).
    for (int fd = 5; fd < 1024; ++fd)
      if (fd != childStatus) close(fd);
    execve(exe.c_str(), argv.data(), envp.data());
    ReportExecFailure(childStatus);
  }
  close(childCmd);
  close(childEvt);
  close(childStatus);
  if (!ExecSucceeded(status[0], pid, exe, error)) {
    close(cmd[0]);
    close(evt[0]);
    return false;
  }
  out.pid = pid;
  out.toChild = cmd[0];
  out.fromChild = evt[0];
  return true;
}

bool LaunchHelper(const std::string& exe, const std::vector<std::string>& args,
                  const std::string& extraEnv, int& pid, int& channel, std::string& error) {
  int sv[2], status[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
    error = std::string("socketpair: ") + strerror(errno);
    return false;
  }
  if (pipe2(status, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + strerror(errno);
    close(sv[0]);
    close(sv[1]);
    return false;
  }
  int childEnd = Lift(sv[1]);
  int childStatus = Lift(status[1]);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The environment is copied before fork: the child may only make
  // async-signal-safe calls.
  std::vector<char*> envp;
  for (char** e = environ; e && *e; ++e) envp.push_back(*e);
  if (!extraEnv.empty()) envp.push_back(const_cast<char*>(extraEnv.c_str()));
  envp.push_back(nullptr);
  pid_t parent = getpid();
  pid_t child = fork();
  if (child < 0) {
    error = std::string("fork: ") + strerror(errno);
    close(sv[0]); close(childEnd); close(status[0]); close(childStatus);
    return false;
  }
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(childEnd, 3);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    for (int fd = 4; fd < 1024; ++fd)
      if (fd != childStatus) close(fd);
    execve(exe.c_str(), argv.data(), envp.data());
    ReportExecFailure(childStatus);
  }
  close(childEnd);
  close(childStatus);
  if (!ExecSucceeded(status[0], child, exe, error)) {
    close(sv[0]);
    return false;
  }
  pid = child;
  channel = sv[0];
  return true;
}

std::string SelfExecutable() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  buf[n] = 0;
  return buf;
}

int WaitReadable(int fd, int timeoutMs) {
  if (fd < 0) return -1;
  uint64_t deadline = MonotonicMs() + (timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      uint64_t now = MonotonicMs();
      wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
    }
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, wait);
    if (r > 0) return 1;
    if (r == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

bool WaitForExit(int pid, int timeoutMs) {
  if (pid <= 0) return true;
  uint64_t deadline = MonotonicMs() + (timeoutMs < 0 ? 0 : timeoutMs);
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  for (;;) {
    pid_t r = waitpid(pid, nullptr, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) {
      if (pidfd >= 0) close(pidfd);
      return true;
    }
    uint64_t now = MonotonicMs();
    if (now >= deadline) break;
    int wait = static_cast<int>(deadline - now);
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      poll(&p, 1, wait);
    } else {
      usleep(wait > 10 ? 10000 : wait * 1000);
    }
  }
  if (pidfd >= 0) close(pidfd);
  return false;
}

void KillProcessTree(int pid) {
  if (pid <= 0) return;
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

bool ProcessAlive(int pid) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0) return false;
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/stat", pid);
  FILE* f = fopen(path, "r");
  if (!f) return false;
  char buf[512];
  size_t n = fread(buf, 1, sizeof buf - 1, f);
  fclose(f);
  buf[n] = 0;
  const char* close = strrchr(buf, ')');
  return !(close && close[1] == ' ' && close[2] == 'Z');
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

long ReadSome(int fd, char* data, size_t size) {
  for (;;) {
    ssize_t n = read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

void CloseFd(int fd) {
  if (fd >= 0) close(fd);
}

void ShutdownFd(int fd) {
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

bool RunningAsRoot() { return geteuid() == 0; }

std::string GetEnv(const char* name) {
  const char* v = getenv(name);
  return v ? std::string(v) : std::string();
}

std::string CurrentDirectory() {
  char buf[4096];
  if (!getcwd(buf, sizeof buf)) return ".";
  return buf;
}

std::string MakeTempDir(const std::string& prefix) {
  std::string base = GetEnv("TMPDIR");
  if (base.empty()) base = "/tmp";
  std::string templ = base + "/" + prefix + "XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) return std::string();
  return buf.data();
}

namespace {
int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}
}  // namespace

void RemoveTree(const std::string& path) {
  if (path.empty() || path == "/") return;
  nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool WritableFolder(const std::string& path, std::string& error) {
  struct stat st {};
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = path + ": " + strerror(errno);
    return false;
  }
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = path + ": not a folder";
    return false;
  }
  std::string probe = path + "/.pv7-write-XXXXXX";
  std::vector<char> buf(probe.begin(), probe.end());
  buf.push_back(0);
  const int fd = mkstemp(buf.data());
  if (fd < 0) {
    error = path + ": " + strerror(errno);
    return false;
  }
  close(fd);
  unlink(buf.data());
  return true;
}

bool FileExecutable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

bool FileReadable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

std::string ModuleFolder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ModuleFolder), &info) || !info.dli_fname) return {};
  // The main program is named as it was started, which may carry no folder.
  std::string path = info.dli_fname;
  if (path.find('/') == std::string::npos) path = SelfExecutable();
  if (!path.empty() && path[0] != '/') path = CurrentDirectory() + "/" + path;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

uint64_t MonotonicMs() { return MonotonicUs() / 1000; }

uint64_t MonotonicUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

uint64_t ThreadCpuUs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

uint64_t ProcessCpuUs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

void NameThisThread(const char* name) {
  char shortName[16];
  snprintf(shortName, sizeof shortName, "%s", name);
  pthread_setname_np(pthread_self(), shortName);
}

}  // namespace cefeng
