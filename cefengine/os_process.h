// Operating-system services of the engine library: starting the browser process with
// its DevTools pipe, waiting for it, ending it, and small helpers (temporary folders,
// clocks, thread identity). All OS headers of the library stay in os_process.cpp.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace cefeng {

struct ChildProcess {
  int pid = -1;
  int toChild = -1;    // our end of the child's fd 3 (commands)
  int fromChild = -1;  // our end of the child's fd 4 (replies and events)
};

// Starts `exe` with `args` (argv[1..]) and the environment with `extraEnv`
// ("NAME=value", replacing a variable of that name); fd 3 and 4 of the child are
// connected to the two returned descriptors. The child is killed (SIGKILL) when the calling thread ends
// and runs in a process group of its own. Returns false with `error` set when the
// program cannot be started (also when exec fails).
bool LaunchWithPipe(const std::string& exe, const std::vector<std::string>& args,
                    bool quietOutput, ChildProcess& out, std::string& error,
                    const std::vector<std::string>& extraEnv = {});

// Starts a render helper: `exe` with `args` (argv[1..]); the child's fd 3 is the
// other end of the returned socket `channel` (a stream socketpair), its standard
// input is /dev/null and `extraEnv` ("NAME=value") is added to its environment. The
// child is killed (SIGKILL) when the calling thread ends; it stays in our process
// group. Returns false with `error` set when it cannot be started.
bool LaunchHelper(const std::string& exe, const std::vector<std::string>& args,
                  const std::string& extraEnv, int& pid, int& channel, std::string& error);
// The running executable's path (the target of /proc/self/exe); "" when unknown.
std::string SelfExecutable();
// Waits up to timeoutMs (-1: no limit) until fd has data or an error/hang-up.
// 1 readable, 0 time-out, -1 error.
int WaitReadable(int fd, int timeoutMs);

// Waits up to timeoutMs for the process to end and reaps it. True when it has ended.
bool WaitForExit(int pid, int timeoutMs);
// SIGKILL to the process and its process group, then reaps it.
void KillProcessTree(int pid);
// True while a process with this id exists (and is not a zombie of ours).
bool ProcessAlive(int pid);

// Writes all bytes to a descriptor without raising SIGPIPE. False on any error.
bool WriteAll(int fd, const char* data, size_t size);
// Reads up to size bytes; returns bytes read, 0 at end of stream, -1 on error.
long ReadSome(int fd, char* data, size_t size);
void CloseFd(int fd);
// Shuts both directions of a socket so that a blocked reader returns.
void ShutdownFd(int fd);

bool RunningAsRoot();
std::string GetEnv(const char* name);
std::string CurrentDirectory();
std::string MakeTempDir(const std::string& prefix);
void RemoveTree(const std::string& path);
// Makes the folder when it is missing (its parent must exist) and checks that a
// file can be made in it; false with the reason otherwise.
bool WritableFolder(const std::string& path, std::string& error);
bool FileExecutable(const std::string& path);
bool FileReadable(const std::string& path);
// The folder of the file this code was loaded from: the engine library, or the
// program the library's parts are linked into; "" when unknown.
std::string ModuleFolder();
uint64_t MonotonicMs();
uint64_t MonotonicUs();
uint64_t ThreadCpuUs();
uint64_t ProcessCpuUs();
// Names the calling thread as the system shows it (at most 15 characters are kept).
void NameThisThread(const char* name);

}  // namespace cefeng
