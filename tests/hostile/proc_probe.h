// Looking at another process from outside through /proc: memory, CPU time, open
// files, sockets, command line and descendants. Used by the hostile-parent and
// security tests and by the soak run.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace probe {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string Proc(int pid) { return "/proc/" + std::to_string(pid); }

// A "Name:  value kB" line of /proc/PID/status, in kB; -1 when absent.
inline long long StatusKb(int pid, const std::string& name) {
  std::istringstream in(ReadFile(Proc(pid) + "/status"));
  for (std::string line; std::getline(in, line);)
    if (line.rfind(name + ":", 0) == 0) return std::stoll(line.substr(name.size() + 1));
  return -1;
}
inline long long RssKb(int pid) { return StatusKb(pid, "VmRSS"); }
inline long long PeakRssKb(int pid) { return StatusKb(pid, "VmHWM"); }

// Fields of /proc/PID/stat after the command name (field 3 is the state).
inline std::vector<std::string> StatFields(int pid) {
  std::string stat = ReadFile(Proc(pid) + "/stat");
  std::vector<std::string> fields;
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return fields;
  fields = {"", "", ""};  // so that fields[i] is field i (1-based, 1 and 2 skipped)
  std::istringstream in(stat.substr(close + 2));
  for (std::string f; in >> f;) fields.push_back(f);
  return fields;
}

// User plus system CPU time in clock ticks; -1 when the process is gone.
inline long long CpuTicks(int pid) {
  std::vector<std::string> f = StatFields(pid);
  if (f.size() < 16) return -1;
  return std::stoll(f[14]) + std::stoll(f[15]);
}

// Every living (not zombie) descendant of the process.
inline std::vector<int> Descendants(int pid) {
  std::multimap<int, int> children;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::vector<std::string> f = StatFields(std::stoi(name));
    if (f.size() < 5 || f[3] == "Z" || f[3] == "X") continue;
    children.emplace(std::stoi(f[4]), std::stoi(name));
  }
  std::vector<int> out;
  std::vector<int> todo = {pid};
  while (!todo.empty()) {
    int p = todo.back();
    todo.pop_back();
    auto [b, e] = children.equal_range(p);
    for (auto it = b; it != e; ++it) {
      out.push_back(it->second);
      todo.push_back(it->second);
    }
  }
  return out;
}

// Whether the process exists and is not a zombie.
inline bool Alive(int pid) {
  std::vector<std::string> f = StatFields(pid);
  return f.size() > 3 && f[3] != "Z" && f[3] != "X";
}

inline int OpenFdCount(int pid) {
  int n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(Proc(pid) + "/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    ++n;
  return n;
}

// The inodes of the process's open sockets.
inline std::set<unsigned long> SocketInodes(int pid) {
  std::set<unsigned long> out;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(Proc(pid) + "/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    std::string target = std::filesystem::read_symlink(it->path(), ec).string();
    if (!ec && target.rfind("socket:[", 0) == 0) out.insert(std::stoul(target.substr(8)));
  }
  return out;
}

// One line of /proc/PID/net/{tcp,tcp6,udp,udp6}.
struct TSocketEntry {
  std::string table;   // "tcp", "tcp6", "udp", "udp6"
  std::string local;   // address:port in the kernel's hex form
  std::string remote;
  int state = 0;       // 0x0A: listening (tcp); 0x07: unconnected (udp)
  unsigned long inode = 0;

  bool Listening() const { return table.rfind("tcp", 0) == 0 ? state == 0x0A : state == 0x07; }
  // Whether the remote end lies on 127.0.0.0/8 (IPv4, or IPv4 mapped into IPv6).
  bool RemoteIsLoopback() const {
    std::string ip = remote.substr(0, remote.find(':'));
    if (ip.size() == 32) {
      if (ip.compare(0, 24, "0000000000000000FFFF0000") != 0) return ip == "00000000000000000000000001000000";
      ip = ip.substr(24);
    }
    return ip.size() == 8 && ip.compare(6, 2, "7F") == 0;  // little-endian: last byte is the first octet
  }
};

inline std::vector<TSocketEntry> SocketTable(int pid) {
  std::vector<TSocketEntry> out;
  for (const char* table : {"tcp", "tcp6", "udp", "udp6"}) {
    std::istringstream in(ReadFile(Proc(pid) + "/net/" + table));
    std::string line;
    std::getline(in, line);  // heading
    while (std::getline(in, line)) {
      std::istringstream f(line);
      TSocketEntry e;
      std::string slot, state, queues, timer, retr, uid, timeout;
      f >> slot >> e.local >> e.remote >> state >> queues >> timer >> retr >> uid >> timeout >> e.inode;
      e.table = table;
      e.state = int(std::stoul(state, nullptr, 16));
      out.push_back(e);
    }
  }
  return out;
}

// The process's command line, one argument per element.
inline std::vector<std::string> Cmdline(int pid) {
  std::string raw = ReadFile(Proc(pid) + "/cmdline");
  std::vector<std::string> out;
  std::string cur;
  for (char c : raw) {
    if (c == '\0') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

// The command line split at spaces as well: Chromium's helper processes rewrite
// theirs into one space-separated text.
inline std::vector<std::string> CmdlineTokens(int pid) {
  std::vector<std::string> out;
  for (const std::string& arg : Cmdline(pid)) {
    std::istringstream in(arg);
    for (std::string t; in >> t;) out.push_back(t);
  }
  return out;
}

inline bool HasArgStarting(const std::vector<std::string>& args, const std::string& prefix) {
  for (const std::string& a : args)
    if (a.rfind(prefix, 0) == 0) return true;
  return false;
}

// The Chromium browser process among the processes (no --type= switch).
inline int ChromiumBrowser(const std::vector<int>& pids) {
  for (int pid : pids) {
    std::vector<std::string> args = CmdlineTokens(pid);
    if (!args.empty() && args[0].find("chrom") != std::string::npos && !HasArgStarting(args, "--type="))
      return pid;
  }
  return -1;
}

template <class Pred>
bool PollUntil(int timeoutMs, Pred pred) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// A folder this user cannot write into while the object lives (as root only an
// immutable folder refuses new entries); removed with what it holds afterwards.
class TReadOnlyFolder {
 public:
  explicit TReadOnlyFolder(std::filesystem::path dir) : FDir(std::move(dir)) {
    std::filesystem::permissions(FDir, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_exec);
    std::system(("chattr +i '" + FDir.string() + "' 2>/dev/null").c_str());
  }
  ~TReadOnlyFolder() {
    std::system(("chattr -i '" + FDir.string() + "' 2>/dev/null").c_str());
    std::error_code ec;
    std::filesystem::permissions(FDir, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(FDir, ec);
  }

 private:
  std::filesystem::path FDir;
};

}  // namespace probe
