// The engine library's paint path, click latency and request interception, measured
// against a plain DevTools client of the same Chromium in the same run. The plain
// client decodes every frame with the same PNG decoder (as the engine must), so both
// sides do the same work for a frame whose pixels are wanted; its rate without
// decoding is printed beside.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <libdeflate.h>

#include "bench/direct_client.h"
#include "core.h"
#include "http_server.h"
#include "os_process.h"

using namespace cefeng;

namespace {

const int kW = 1920, kH = 1080;
const int kRate = 30;

const char* kAnimated =
    "data:text/html,<body style='margin:0;background:%23203040'>"
    "<div id=b style='position:absolute;width:200px;height:200px;background:%23e0a000'></div>"
    "<script>let t=0;function f(){t++;b.style.left=(t*7%251720)%251720+'px';"
    "b.style.top=(t*3%25880)+'px';document.body.style.background='rgb('+(t%25255)+',40,60)';"
    "requestAnimationFrame(f)}f()</script></body>";

const char* kClickPage =
    "data:text/html,<body style='margin:0;background:%23000000' "
    "onmousedown=\"document.body.style.background=document.body.style.background=='white'?'black':'white'\">"
    "</body>";

// The main loop as the host has it: the engine's work every `stepMs` (the host's
// work timer runs every 10 ms), and sooner when the library asks for it (its own
// main-loop source for a waiting paint or notification).
std::mutex gWakeMutex;
std::condition_variable gWakeCv;
uint64_t gWakeDueUs = 0;  // the earliest work the library asked for; 0: none

void BenchWake(int delayMs) {
  const uint64_t due = MonotonicUs() + uint64_t(delayMs > 0 ? delayMs : 0) * 1000;
  std::lock_guard<std::mutex> lock(gWakeMutex);
  if (gWakeDueUs == 0 || due < gWakeDueUs) gWakeDueUs = due;
  gWakeCv.notify_one();
}

// Waits until the next tick or the library's asked-for time, whichever is first.
void WaitForWork(uint64_t tickUs) {
  std::unique_lock<std::mutex> lock(gWakeMutex);
  for (;;) {
    const uint64_t now = MonotonicUs();
    if (gWakeDueUs != 0 && gWakeDueUs <= now) {
      gWakeDueUs = 0;
      return;
    }
    if (now >= tickUs) return;
    const uint64_t until = gWakeDueUs != 0 && gWakeDueUs < tickUs ? gWakeDueUs : tickUs;
    gWakeCv.wait_for(lock, std::chrono::microseconds(until - now));
  }
}

void Pump(const std::function<bool()>& done, int ms, int stepMs = 10) {
  uint64_t end = MonotonicMs() + ms;
  uint64_t tick = MonotonicUs();
  while (MonotonicMs() < end && !done()) {
    Engine::Get().DoWork();
    const uint64_t now = MonotonicUs();
    tick = tick + uint64_t(stepMs) * 1000 > now ? tick + uint64_t(stepMs) * 1000
                                                 : now + uint64_t(stepMs) * 1000;
    WaitForWork(tick);
  }
}

struct Counter : BrowserDelegate {
  std::atomic<int> paints{0};
  std::atomic<uint64_t> lastPaintUs{0};
  std::atomic<uint32_t> pixel{0};  // 0xRRGGBB at (50, 50)
  std::atomic<int> loadEnds{0};
  bool intercept = false;
  bool GetViewRect(Rect& r) override {
    r = {0, 0, kW, kH};
    return true;
  }
  void OnPaint(const std::vector<Rect>&, const uint8_t* p, int w, int h) override {
    paints++;
    lastPaintUs = MonotonicUs();
    if (w > 50 && h > 50) {
      const uint8_t* px = p + (50 * size_t(w) + 50) * 4;
      pixel = uint32_t(px[2]) << 16 | uint32_t(px[1]) << 8 | px[0];
    }
  }
  void OnLoadEnd(int64_t, int) override { loadEnds++; }
  bool WantsRequests() override { return intercept; }
  int OnBeforeResourceLoad(std::shared_ptr<RequestInfo>, std::function<void(bool)>) override {
    return kAnswerContinue;
  }
};

// Where a frame's decoding goes: the inflate step alone (libdeflate, as the engine's
// decoder uses it) and the rows' filter types, from the PNG's own chunks.
struct TPngAnatomy {
  double inflateUs = 0;
  int filters[5] = {0, 0, 0, 0, 0};
  bool ok = false;
};

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

TPngAnatomy Anatomy(const std::vector<uint8_t>& png, int rounds) {
  TPngAnatomy a;
  if (png.size() < 33) return a;
  size_t pos = 8;
  uint32_t w = 0, h = 0;
  int bpp = 0;
  std::vector<uint8_t> idat;
  while (pos + 12 <= png.size()) {
    uint32_t len = Be32(&png[pos]);
    if (len > png.size() - pos - 12) return a;
    const uint8_t* type = &png[pos + 4];
    const uint8_t* body = &png[pos + 8];
    if (!memcmp(type, "IHDR", 4)) {
      w = Be32(body);
      h = Be32(body + 4);
      bpp = body[9] == 6 ? 4 : 3;
    } else if (!memcmp(type, "IDAT", 4)) {
      idat.insert(idat.end(), body, body + len);
    }
    pos += 12 + size_t(len);
  }
  if (!w || !h || w > 16384 || h > 16384) return a;
  const size_t stride = size_t(w) * bpp;
  std::vector<uint8_t> raw((stride + 1) * h);
  libdeflate_decompressor* dec = libdeflate_alloc_decompressor();
  size_t actual = 0;
  uint64_t t0 = ThreadCpuUs();
  for (int i = 0; i < rounds; ++i)
    a.ok = libdeflate_zlib_decompress(dec, idat.data(), idat.size(), raw.data(), raw.size(), &actual) ==
               LIBDEFLATE_SUCCESS && actual == raw.size();
  a.inflateUs = double(ThreadCpuUs() - t0) / rounds;
  libdeflate_free_decompressor(dec);
  if (a.ok)
    for (uint32_t y = 0; y < h; ++y) {
      uint8_t f = raw[y * (stride + 1)];
      if (f < 5) a.filters[f]++;
    }
  return a;
}

// One click to the first paint showing it, pumping every stepMs; -1 when none came.
double OursClick(Counter& c, Browser& cb, int stepMs) {
  uint32_t before = c.pixel;
  uint64_t s = MonotonicUs();
  cb.SendMouseClick({50, 50, 0}, 0, false, 1);
  cb.SendMouseClick({50, 50, 0}, 0, true, 1);
  Pump([&] { return c.pixel != before; }, 3000, stepMs);
  double ms = c.pixel != before ? double(c.lastPaintUs - s) / 1000.0 : -1;
  Pump([] { return false; }, 200, stepMs);
  return ms;
}

}  // namespace

int main() {
  using pv7bench::Median;
  Engine& e = Engine::Get();
  std::string error;
  if (!e.Start(EngineOptions(), error)) {
    fprintf(stderr, "engine did not start: %s\n", error.c_str());
    return 1;
  }
  e.SetMainWake(BenchWake);
  const int seconds = 5;
  const int clicks = 12;

  // Paint rate: the plain client without and with decoding, ours, the plain client
  // again (its two decoded rates are averaged, so that a change of the machine's load
  // weighs on both sides alike).
  double directRawFps = 0, directFps[2] = {0, 0}, directDecodeMs = 0;
  std::vector<uint8_t> png;
  pv7bench::TDirectClient direct;
  if (!direct.Start(kW, kH)) {
    fprintf(stderr, "direct client did not start\n");
    return 1;
  }
  auto directRate = [&](double& fps) {
    direct.Navigate(kAnimated);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    int d0 = direct.Decoded();
    uint64_t c0 = direct.DecodeUs(), t0 = MonotonicUs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    int decoded = direct.Decoded() - d0;
    fps = double(decoded) * 1e6 / double(MonotonicUs() - t0);
    if (decoded > 0) directDecodeMs = double(direct.DecodeUs() - c0) / 1000.0 / decoded;
    for (int attempt = 0; attempt < 3 && direct.Probe() != 0; ++attempt) {
      direct.Navigate(kClickPage);
      direct.WaitProbe(0, 5000);
    }
  };
  direct.Navigate(kAnimated);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  {
    int f0 = direct.Frames();
    uint64_t t0 = MonotonicUs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    directRawFps = double(direct.Frames() - f0) * 1e6 / double(MonotonicUs() - t0);
  }
  const std::string base64 = direct.LastPng();
  Base64Decode(base64, png);
  direct.SetDecoding(true);
  directRate(directFps[0]);

  auto d = std::make_shared<Counter>();
  BrowserOptions bo;
  bo.frameRate = kRate;
  auto b = e.CreateBrowser(d, bo, kAnimated);
  Pump([] { return false; }, 1000);
  int p0 = d->paints;
  uint64_t cpu0 = ProcessCpuUs(), w0 = MonotonicUs();
  Pump([] { return false; }, seconds * 1000);
  uint64_t cpu1 = ProcessCpuUs();
  int painted = d->paints - p0;
  double oursFps = double(painted) * 1e6 / double(MonotonicUs() - w0);
  double cpuPerPaint = painted ? double(cpu1 - cpu0) / painted : 0;
  // The same with the main thread's work run every 1 ms instead of every 10 ms.
  p0 = d->paints;
  w0 = MonotonicUs();
  Pump([] { return false; }, seconds * 1000, 1);
  double ours1Fps = double(d->paints - p0) * 1e6 / double(MonotonicUs() - w0);
  b->Close();
  Pump([] { return false; }, 200);
  directRate(directFps[1]);

  std::vector<uint8_t> src(size_t(kW) * kH * 4, 7), dst(src.size());
  uint64_t m0 = ThreadCpuUs();
  const int copies = 200;
  for (int i = 0; i < copies; ++i) {
    src[i] = uint8_t(i);
    memcpy(dst.data(), src.data(), src.size());
  }
  double memcpyUs = double(ThreadCpuUs() - m0) / copies + 1e-9;

  // PNG decoding of a real frame: own inflate with libdeflate against libspng, and the
  // inflate step alone.
  std::vector<uint8_t> out;
  int w, h;
  uint64_t t0 = ThreadCpuUs();
  for (int i = 0; i < 20; ++i) DecodePngBgra(png.data(), png.size(), out, w, h, PngDecoder::Spng);
  uint64_t t1 = ThreadCpuUs();
  for (int i = 0; i < 20; ++i) DecodePngBgra(png.data(), png.size(), out, w, h, PngDecoder::Deflate);
  uint64_t t2 = ThreadCpuUs();
  TPngAnatomy anatomy = Anatomy(png, 20);
  // The reader thread's share: parsing the frame's message, and the base64 step.
  const std::string message = "{\"method\":\"Page.screencastFrame\",\"sessionId\":\"S\",\"params\":{\"data\":\"" +
                              base64 + "\",\"metadata\":{\"offsetTop\":0},\"sessionId\":1}}";
  uint64_t j0 = ThreadCpuUs();
  size_t parsedSize = 0;
  for (int i = 0; i < 20; ++i) parsedSize += json::parse(message)["params"]["data"].get_ref<const std::string&>().size();
  double parseUs = double(ThreadCpuUs() - j0) / 20;
  std::vector<uint8_t> b64out;
  j0 = ThreadCpuUs();
  for (int i = 0; i < 20; ++i) Base64Decode(base64, b64out);
  double base64Us = double(ThreadCpuUs() - j0) / 20;
  std::vector<uint8_t> prev = out;
  if (!prev.empty()) prev[prev.size() / 2] ^= 1;
  uint64_t t3 = ThreadCpuUs();
  size_t bands = 0;
  for (int i = 0; i < 20; ++i) bands += DiffFrames(prev.data(), out.data(), w, h).size();
  double diffUs = double(ThreadCpuUs() - t3) / 20;

  // Click latency, alternating: the plain client, ours with the host's 10 ms work
  // timer, ours with a 1 ms one.
  std::vector<double> directLat, oursLat, ours1Lat;
  {
    auto c = std::make_shared<Counter>();
    auto cb = e.CreateBrowser(c, bo, kClickPage);
    Pump([&] { return c->paints > 0; }, 5000);
    Pump([] { return false; }, 500);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int i = 0; i < clicks; ++i) {
      long before = direct.Probe();
      uint64_t s = MonotonicUs();
      direct.Click(50, 50);
      uint64_t seen = direct.WaitProbeChange(before, 3000);
      if (seen) directLat.push_back(double(seen - s) / 1000.0);
      Pump([] { return false; }, 200);
      double ms = OursClick(*c, *cb, 10);
      if (ms >= 0) oursLat.push_back(ms);
      ms = OursClick(*c, *cb, 1);
      if (ms >= 0) ours1Lat.push_back(ms);
    }
    cb->Close();
    Pump([] { return false; }, 200);
  }
  direct.Stop();

  // Page load with and without request interception.
  pv7test::HttpServer server;
  std::string page = "<html><body>";
  for (int i = 0; i < 30; ++i) page += "<img src='/r" + std::to_string(i) + "'>";
  page += "</body></html>";
  server.Serve("/load", page);
  // Two browsers, one intercepting, loading in turn so that a change of the machine's
  // load weighs on both alike.
  std::vector<double> plainMs, interMs;
  std::shared_ptr<Counter> counters[2];
  std::shared_ptr<Browser> loaders[2];
  for (int k = 0; k < 2; ++k) {
    counters[k] = std::make_shared<Counter>();
    counters[k]->intercept = k == 1;
    loaders[k] = e.CreateBrowser(counters[k], bo, "");
  }
  Pump([] { return false; }, 300);
  for (int i = 0; i < 24; ++i) {
    const int k = i % 2;
    int before = counters[k]->loadEnds;
    uint64_t s = MonotonicUs();
    loaders[k]->LoadUrl(0, server.Url("/load?") + std::to_string(i));
    uint64_t end = MonotonicMs() + 10000;
    while (counters[k]->loadEnds == before && MonotonicMs() < end) {
      e.DoWork();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    double ms = double(MonotonicUs() - s) / 1000.0;
    if (i >= 2) (k ? interMs : plainMs).push_back(ms);  // the first of each warms up
  }
  for (auto& lb : loaders) lb->Close();
  Pump([] { return false; }, 200);
  e.Shutdown();

  const double directMean = (directFps[0] + directFps[1]) / 2;
  double cappedDirect = std::min(directMean, double(kRate));
  printf("direct fps raw=%.1f decoded=%.1f (before %.1f, after %.1f; decode %.1f ms cpu per frame), "
         "ours fps=%.1f (cap %d)\n",
         directRawFps, directMean, directFps[0], directFps[1], directDecodeMs, oursFps, kRate);
  printf("ours fps with a 1 ms pump=%.1f\n", ours1Fps);
  printf("ours cpu per paint=%.0f us, memcpy of a frame=%.0f us\n", cpuPerPaint, memcpyUs);
  printf("decode spng=%.1f ms deflate=%.1f ms, of which inflate=%.1f ms; diff %.1f ms (%zu bands)\n",
         (t1 - t0) / 20000.0, (t2 - t1) / 20000.0, anatomy.inflateUs / 1000.0, diffUs / 1000.0, bands / 20);
  printf("frame message %zu bytes: json parse=%.2f ms, base64=%.2f ms\n", parsedSize / 20, parseUs / 1000.0,
         base64Us / 1000.0);
  printf("row filters none=%d sub=%d up=%d average=%d paeth=%d\n", anatomy.filters[0], anatomy.filters[1],
         anatomy.filters[2], anatomy.filters[3], anatomy.filters[4]);
  printf("click latency ours=%.1f ms (%zu/%d), with a 1 ms pump=%.1f ms (%zu/%d), direct=%.1f ms (%zu/%d)\n",
         Median(oursLat), oursLat.size(), clicks, Median(ours1Lat), ours1Lat.size(), clicks, Median(directLat),
         directLat.size(), clicks);
  printf("load plain=%.1f ms intercepted=%.1f ms\n", Median(plainMs), Median(interMs));
  printf("ratio fps ours/direct=%.3f\n", cappedDirect > 0 ? oursFps / cappedDirect : 0);
  printf("ratio fps ours-1ms-pump/direct=%.3f\n", cappedDirect > 0 ? ours1Fps / cappedDirect : 0);
  printf("ratio paintcost ours/memcpy=%.3f\n", cpuPerPaint / memcpyUs);
  printf("ratio decode deflate/spng=%.3f\n", t1 > t0 ? double(t2 - t1) / double(t1 - t0) : 0);
  printf("ratio clicklatency ours/direct=%.3f\n",
         Median(directLat) > 0 ? Median(oursLat) / Median(directLat) : 0);
  printf("ratio clicklatency ours-1ms-pump/direct=%.3f\n",
         Median(directLat) > 0 ? Median(ours1Lat) / Median(directLat) : 0);
  printf("ratio load intercepted/plain=%.3f\n", Median(plainMs) > 0 ? Median(interMs) / Median(plainMs) : 0);
  return 0;
}
