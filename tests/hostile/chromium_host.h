// pv7host on the real engine library (Chromium) with a parent of the caller's:
// its own working folder, the view size asked for until a frame of it comes,
// and page loads.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "tests/hostile/parent_side.h"

namespace probe {

class TChromiumHost {
 public:
  // Starts `hostPath` (libcef.so beside it) in a fresh folder named after `name`.
  TChromiumHost(const std::string& hostPath, const std::string& name,
                std::vector<std::string> extraArgs = {}) {
    FWorkDir = std::filesystem::temp_directory_path() /
               ("pv7-" + name + "-" + std::to_string(platform::GetCurrentProcessId()));
    std::filesystem::remove_all(FWorkDir);
    std::filesystem::create_directories(FWorkDir);
    extraArgs.push_back("-showSelf=0");
    FParent.StartHost(hostPath, extraArgs, FWorkDir.string());
  }
  ~TChromiumHost() {
    if (FParent.HasHost() && FParent.Host().Running()) {
      FParent.Send("<Destroy/>");
      if (!FParent.Host().Wait(10000)) FParent.Host().Kill();
    }
    FParent.Stop();
    std::error_code ec;
    std::filesystem::remove_all(FWorkDir, ec);
  }

  TParentSide& Parent() { return FParent; }
  int Pid() { return FParent.Host().Pid(); }

  void SendSize(int w, int h) {
    FParent.Send("<WindowSize><WndSzX>" + std::to_string(w) + "</WndSzX><WndSzY>" +
                 std::to_string(h) + "</WndSzY></WindowSize>");
  }
  // Asks for the view size until a frame of that size arrives (a resize right
  // after start can go unanswered under load; asking again restarts the frames).
  bool Resize(int w, int h, int ms = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (int attempt = 0; std::chrono::steady_clock::now() < end; ++attempt) {
      if (attempt > 0) {
        // Another size in between, given time to reach the engine, starts it again.
        SendSize(w + attempt, h + attempt);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
      }
      SendSize(w, h);
      if (FParent.WaitFor([&] { return FParent.FLastW == w && FParent.FLastH == h; }, 4000))
        return true;
    }
    auto [lw, lh] = FParent.LastSize();
    std::fprintf(stderr, "no frame of %d x %d: %ld frames, the last %d x %d\n", w, h, FParent.Frames(), lw, lh);
    return false;
  }
  void Load(const std::string& url) {
    FParent.Send("<LoadWEBURL><WEBURL>" + url + "</WEBURL></LoadWEBURL>");
  }
  void Js(const std::string& code) { FParent.Send("<JavaScript>" + code + "</JavaScript>"); }
  // Has the page log `text` until it comes back as CMSG (a script sent while a
  // page is being replaced can be lost).
  bool Echo(const std::string& text, int tries = 30) {
    for (int i = 0; i < tries; ++i) {
      Js("console.log('" + text + "')");
      if (WaitConsole(text, 700)) return true;
    }
    return false;
  }
  // Waits for a console text equal to `text`.
  bool WaitConsole(const std::string& text, int ms) {
    return FParent.WaitFor([&] {
      for (const std::string& t : FParent.FConsole)
        if (t == text) return true;
      return false;
    }, ms);
  }
  // Waits for `more` frames after the ones counted so far.
  bool WaitFrames(long more, int ms) {
    const long target = FParent.Frames() + more;
    return FParent.WaitFor([&] { return FParent.FFrames >= target; }, ms);
  }

 private:
  std::filesystem::path FWorkDir;
  TParentSide FParent;
};

// A page that repaints all the time: its colour flips every 30 ms.
inline const char kAnimatedPage[] =
    "data:text/html,&lt;body style='margin:0'&gt;&lt;div id=d style='width:100vw;height:100vh'&gt;"
    "&lt;/div&gt;&lt;script&gt;let i=0;setInterval(()=&gt;{d.style.background=(i++&amp;1)?'red':'blue'},30)"
    "&lt;/script&gt;&lt;/body&gt;";

}  // namespace probe
