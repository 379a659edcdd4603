// A plain DevTools screencast client of the same Chromium the engine library drives:
// its own browser process over --remote-debugging-pipe, one page target, frames
// acknowledged on receipt. It is the baseline of the engine and host benchmarks.
//
// With decoding on, every frame is also decoded to BGRA with the engine library's
// own PNG decoder after its acknowledgement, so that the baseline does the work
// any client that wants the pixels must do; the colour of one probe pixel of the
// newest decoded frame is kept with the time it became known.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core.h"
#include "devtools.h"
#include "identity.h"
#include "image.h"
#include "os_process.h"

namespace pv7bench {

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The resident set of a process in kB (VmRSS of /proc/PID/status), 0 when unknown.
inline long ResidentKb(int pid, const char* field = "VmRSS:") {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  const std::string key = field;
  while (std::getline(in, line))
    if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
  return 0;
}

inline std::string ChromiumExecutable() {
  std::string exe = cefeng::GetEnv("PV7_CHROMIUM");
  return exe.empty() ? "/usr/bin/chromium" : exe;
}

class TDirectClient {
 public:
  // Decode every frame (see above) and probe the pixel (x, y); may change while running.
  void SetDecoding(bool on, int x = 50, int y = 50) {
    FDecode = on;
    FProbeX = x;
    FProbeY = y;
  }

  // everyNth: Chromium sends every n-th frame of the page's own rate (1: all).
  bool Start(int width, int height, int everyNth = 1) {
    using cefeng::json;
    FDir = cefeng::MakeTempDir("pv7-bench-direct-");
    std::string err;
    // The engine library's flags and environment, so that pages get the same fonts
    // and language.
    if (!cefeng::LaunchWithPipe(ChromiumExecutable(), cefeng::ChromiumArgs(FDir), true, FChild, err,
                                cefeng::ChromiumEnvironment(cefeng::ProcessEnv))) {
      std::fprintf(stderr, "direct client: %s\n", err.c_str());
      return false;
    }
    FPipe = std::make_unique<cefeng::DevToolsPipe>(
        FChild.toChild, FChild.fromChild, [this](json& msg) { OnMessage(msg); }, nullptr);
    json r;
    if (!FPipe->Call("Target.createTarget", {{"url", "about:blank"}}, "", &r, 20000)) return false;
    std::string target = r.value("targetId", "");
    if (!FPipe->Call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}}, "", &r,
                     10000))
      return false;
    FSession = r.value("sessionId", "");
    FPipe->Call("Page.enable", json::object(), FSession, nullptr, 10000);
    FPipe->Call("Emulation.setDeviceMetricsOverride",
                {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}},
                FSession, nullptr, 10000);
    FWidth = width;
    FHeight = height;
    return StartScreencast(everyNth);
  }

  // Starts the screencast again with another rate.
  bool SetEveryNthFrame(int everyNth) {
    FPipe->Call("Page.stopScreencast", cefeng::json::object(), FSession, nullptr, 10000);
    return StartScreencast(everyNth);
  }

  // The Chromium browser process (its renderers and helpers are its descendants).
  int Pid() const { return FChild.pid; }

  void Navigate(const std::string& url) {
    FPipe->Call("Page.navigate", {{"url", url}}, FSession, nullptr, 10000);
  }

  // mousePressed then mouseReleased, as the engine library sends a click.
  void Click(int x, int y) {
    for (const char* type : {"mousePressed", "mouseReleased"})
      FPipe->Send("Input.dispatchMouseEvent",
                  {{"type", type}, {"x", x}, {"y", y}, {"button", "left"}, {"clickCount", 1}}, FSession);
  }

  void Stop() {
    if (FPipe) FPipe->Send("Browser.close");
    if (FChild.pid > 0 && !cefeng::WaitForExit(FChild.pid, 3000)) cefeng::KillProcessTree(FChild.pid);
    if (FPipe) FPipe->Stop();
    FPipe.reset();
    if (!FDir.empty()) cefeng::RemoveTree(FDir);
    FDir.clear();
    FChild = {};
  }
  ~TDirectClient() { Stop(); }

  int Frames() const { return FFrames.load(); }
  uint64_t LastFrameUs() const { return FLastFrameUs.load(); }
  // The probe pixel (0xRRGGBB) of the newest decoded frame; -1 before the first.
  long Probe() {
    std::lock_guard<std::mutex> lock(FLock);
    return FProbe;
  }
  // Waits until the probe pixel differs from `before`; the time it became known, 0 on
  // time-out.
  uint64_t WaitProbeChange(long before, int timeoutMs) {
    std::unique_lock<std::mutex> lock(FLock);
    if (!FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return FProbe != before; }))
      return 0;
    return FProbeUs;
  }
  // Waits until the probe pixel is `rgb`; the time it became so, 0 on time-out.
  uint64_t WaitProbeUs(long rgb, int timeoutMs) {
    std::unique_lock<std::mutex> lock(FLock);
    if (!FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return FProbe == rgb; }))
      return 0;
    return FProbeUs;
  }
  bool WaitProbe(long rgb, int timeoutMs) {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return FProbe == rgb; });
  }
  uint64_t DecodeUs() const { return FDecodeUs.load(); }
  int Decoded() const { return FDecoded.load(); }
  // The newest frame's PNG bytes (kept when decoding is off).
  std::string LastPng() {
    std::lock_guard<std::mutex> lock(FLock);
    return FLastPng;
  }

 private:
  bool StartScreencast(int everyNth) {
    std::string why;
    if (!FPipe->Call("Page.startScreencast",
                     {{"format", "png"},
                      {"everyNthFrame", everyNth},
                      {"maxWidth", FWidth},
                      {"maxHeight", FHeight}},
                     FSession, nullptr, 10000, &why)) {
      std::fprintf(stderr, "direct client: screencast: %s\n", why.c_str());
      return false;
    }
    return true;
  }

  void OnMessage(cefeng::json& msg) {
    if (msg.value("method", "") != "Page.screencastFrame") return;
    cefeng::json& p = msg["params"];
    FPipe->Send("Page.screencastFrameAck", {{"sessionId", p.value("sessionId", 0)}}, FSession);
    FLastFrameUs = cefeng::MonotonicUs();
    ++FFrames;
    if (!p.contains("data") || !p["data"].is_string()) return;
    const std::string& data = p["data"].get_ref<const std::string&>();
    if (!FDecode) {
      std::lock_guard<std::mutex> lock(FLock);
      FLastPng = data;
      return;
    }
    uint64_t t0 = cefeng::ThreadCpuUs();
    int w = 0, h = 0;
    if (!Base64Decode(data, FPng) ||
        !cefeng::DecodePngBgra(FPng.data(), FPng.size(), FPixels, w, h, cefeng::PngDecoder::Deflate))
      return;
    FDecodeUs += cefeng::ThreadCpuUs() - t0;
    ++FDecoded;
    const int x = FProbeX, y = FProbeY;
    if (x >= w || y >= h) return;
    const uint8_t* px = FPixels.data() + (size_t(y) * w + x) * 4;
    long rgb = long(px[2]) << 16 | long(px[1]) << 8 | px[0];
    std::lock_guard<std::mutex> lock(FLock);
    if (rgb != FProbe) {
      FProbe = rgb;
      FProbeUs = cefeng::MonotonicUs();
      FChanged.notify_all();
    }
  }

  cefeng::ChildProcess FChild;
  std::unique_ptr<cefeng::DevToolsPipe> FPipe;
  std::string FSession, FDir;
  int FWidth = 0, FHeight = 0;
  std::atomic<bool> FDecode{false};
  std::atomic<int> FProbeX{50}, FProbeY{50};
  std::atomic<int> FFrames{0}, FDecoded{0};
  std::atomic<uint64_t> FLastFrameUs{0}, FDecodeUs{0};
  std::vector<uint8_t> FPng, FPixels;  // reader thread only
  std::mutex FLock;  // guards FProbe, FProbeUs, FLastPng
  std::condition_variable FChanged;
  long FProbe = -1;
  uint64_t FProbeUs = 0;
  std::string FLastPng;
};

}  // namespace pv7bench
