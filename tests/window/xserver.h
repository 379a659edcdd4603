// An X server of the test's own (Xvfb) on a display number nobody uses, ended
// with the test.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/gtkprobe.h"
#include "platform/process.h"

inline bool WaitUntil(const std::function<bool()>& done, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// One X server for the whole suite, on a display number nobody uses.
class TXServer {
 public:
  bool Start() {
    using namespace platform::gui;
    const std::string xvfb = FindProgram("Xvfb");
    const int base = 60 + platform::GetCurrentProcessId() % 300;
    for (int n = base; n < base + 100; ++n) {
      if (InUse(n)) continue;
      FDisplay.assign(1, ':').append(std::to_string(n));
      FServer.emplace(std::vector<std::string>{xvfb, FDisplay, "-screen", "0", "1280x1024x24",
                                               "-nolisten", "tcp", "-noreset"});
      if (WaitUntil([&] { return !FServer->Running() || DisplayAnswers(FDisplay); }, 15000) &&
          FServer->Running())
        return true;
      FServer.reset();  // another server took the number meanwhile
    }
    return false;
  }
  // Ends the server so that it removes its lock and socket files.
  void Stop() { FServer.reset(); }
  const std::string& Display() const { return FDisplay; }

 private:
  // A display number is taken while its lock file names a living process.
  static bool InUse(int n) {
    std::ifstream lock("/tmp/.X" + std::to_string(n) + "-lock");
    if (!lock) return std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n));
    int pid = 0;
    lock >> pid;
    return pid <= 0 || platform::ProcessAlive(pid);
  }

  std::string FDisplay;
  std::optional<platform::gui::TTiedProcess> FServer;
};

