// Looking at processes through /proc: the render helpers of a process, their
// command lines, and waiting for one to end.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"

inline std::vector<std::string> CommandLineOf(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  std::string cur;
  for (char c : all) {
    if (c == 0) {
      args.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  return args;
}

inline int ParentOf(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 4 >= stat.size()) return -1;
  if (stat[close + 2] == 'Z') return -1;  // a zombie counts as gone
  std::istringstream rest(stat.substr(close + 4));
  int ppid = -1;
  rest >> ppid;
  return ppid;
}

// Children of `parent` started with the engine's --type=renderer switch.
inline std::vector<int> RenderHelpersOf(int parent) {
  std::vector<int> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    int pid = std::stoi(name);
    if (ParentOf(pid) != parent) continue;
    std::vector<std::string> args = CommandLineOf(pid);
    if (std::find(args.begin(), args.end(), "--type=renderer") != args.end()) out.push_back(pid);
  }
  std::sort(out.begin(), out.end());
  return out;
}

inline bool WaitGone(int pid, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (platform::ProcessAlive(pid)) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}
