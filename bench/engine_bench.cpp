// The engine library's paint path, click latency and request interception, measured
// against a plain DevTools client of the same Chromium in the same run.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Pump(const std::function<bool()>& done, int ms) {
  uint64_t end = MonotonicMs() + ms;
  while (MonotonicMs() < end && !done()) {
    Engine::Get().DoWork();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// ---- the plain client: its own Chromium, frames acknowledged on receipt, no decoding.
struct Direct {
  ChildProcess child;
  std::unique_ptr<DevToolsPipe> pipe;
  std::string session;
  std::atomic<int> frames{0};
  std::atomic<uint64_t> lastFrameUs{0};
  std::string lastPng;
  std::mutex m;
  std::string dir;

  bool Start(const std::string& url) {
    dir = MakeTempDir("pv7-bench-");
    std::vector<std::string> args = {"--headless", "--disable-gpu", "--no-first-run",
                                     "--disable-background-networking", "--disable-component-update",
                                     "--disable-sync", "--disable-background-timer-throttling",
                                     "--disable-renderer-backgrounding",
                                     "--disable-backgrounding-occluded-windows", "--remote-debugging-pipe",
                                     "--user-data-dir=" + dir, "about:blank"};
    if (RunningAsRoot()) args.push_back("--no-sandbox");
    std::string err;
    std::string exe = GetEnv("PV7_CHROMIUM").empty() ? "/usr/bin/chromium" : GetEnv("PV7_CHROMIUM");
    if (!LaunchWithPipe(exe, args, true, child, err)) return false;
    pipe = std::make_unique<DevToolsPipe>(child.toChild, child.fromChild, [this](json& msg) {
      if (msg.value("method", "") != "Page.screencastFrame") return;
      json& p = msg["params"];
      pipe->Send("Page.screencastFrameAck", {{"sessionId", p.value("sessionId", 0)}}, session);
      frames++;
      lastFrameUs = MonotonicUs();
      std::lock_guard<std::mutex> lock(m);
      lastPng = p.value("data", "");
    }, nullptr);
    json r;
    if (!pipe->Call("Target.createTarget", {{"url", "about:blank"}}, "", &r, 20000)) return false;
    std::string target = r.value("targetId", "");
    if (!pipe->Call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}}, "", &r, 10000))
      return false;
    session = r.value("sessionId", "");
    pipe->Call("Page.enable", json::object(), session, nullptr, 10000);
    pipe->Call("Emulation.setDeviceMetricsOverride",
               {{"width", kW}, {"height", kH}, {"deviceScaleFactor", 1}, {"mobile", false}}, session,
               nullptr, 10000);
    std::string why;
    if (!pipe->Call("Page.startScreencast",
                    {{"format", "png"}, {"everyNthFrame", 1}, {"maxWidth", kW}, {"maxHeight", kH}},
                    session, nullptr, 10000, &why))
      fprintf(stderr, "direct screencast: %s\n", why.c_str());
    pipe->Call("Page.navigate", {{"url", url}}, session, nullptr, 10000);
    return true;
  }
  void Stop() {
    if (pipe) pipe->Send("Browser.close");
    if (!WaitForExit(child.pid, 3000)) KillProcessTree(child.pid);
    if (pipe) pipe->Stop();
    RemoveTree(dir);
  }
};

struct Counter : BrowserDelegate {
  std::atomic<int> paints{0};
  std::atomic<uint64_t> lastPaintUs{0};
  std::atomic<uint32_t> pixel{0};
  std::atomic<int> loadEnds{0};
  bool intercept = false;
  bool GetViewRect(Rect& r) override {
    r = {0, 0, kW, kH};
    return true;
  }
  void OnPaint(const std::vector<Rect>&, const uint8_t* p, int w, int h) override {
    paints++;
    lastPaintUs = MonotonicUs();
    if (w > 10 && h > 10) pixel = p[(10 * w + 10) * 4 + 2];
  }
  void OnLoadEnd(int64_t, int) override { loadEnds++; }
  bool WantsRequests() override { return intercept; }
  int OnBeforeResourceLoad(std::shared_ptr<RequestInfo>, std::function<void(bool)>) override {
    return kAnswerContinue;
  }
};

}  // namespace

int main() {
  Engine& e = Engine::Get();
  std::string error;
  if (!e.Start(EngineOptions(), error)) {
    fprintf(stderr, "engine did not start: %s\n", error.c_str());
    return 1;
  }
  const int seconds = 4;

  // Paint rate and cost.
  Direct direct;
  if (!direct.Start(kAnimated)) {
    fprintf(stderr, "direct client did not start\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  int f0 = direct.frames;
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  double directFps = double(direct.frames - f0) / seconds;
  std::string png;
  {
    std::lock_guard<std::mutex> lock(direct.m);
    png = direct.lastPng;
  }
  direct.Stop();

  auto d = std::make_shared<Counter>();
  BrowserOptions bo;
  bo.frameRate = kRate;
  auto b = e.CreateBrowser(d, bo, kAnimated);
  Pump([] { return false; }, 1000);
  int p0 = d->paints;
  uint64_t cpu0 = ProcessCpuUs();
  Pump([] { return false; }, seconds * 1000);
  uint64_t cpu1 = ProcessCpuUs();
  int painted = d->paints - p0;
  double oursFps = double(painted) / seconds;
  double cpuPerPaint = painted ? double(cpu1 - cpu0) / painted : 0;
  b->Close();
  Pump([] { return false; }, 200);

  std::vector<uint8_t> src(size_t(kW) * kH * 4, 7), dst(src.size());
  uint64_t m0 = ThreadCpuUs();
  const int copies = 200;
  for (int i = 0; i < copies; ++i) {
    src[i] = uint8_t(i);
    memcpy(dst.data(), src.data(), src.size());
  }
  double memcpyUs = double(ThreadCpuUs() - m0) / copies + 1e-9;

  // PNG decoding of a real frame: own inflate with libdeflate against libspng.
  std::vector<uint8_t> raw, out;
  Base64Decode(png, raw);
  int w, h;
  uint64_t t0 = ThreadCpuUs();
  for (int i = 0; i < 20; ++i) DecodePngBgra(raw.data(), raw.size(), out, w, h, PngDecoder::Spng);
  uint64_t t1 = ThreadCpuUs();
  for (int i = 0; i < 20; ++i) DecodePngBgra(raw.data(), raw.size(), out, w, h, PngDecoder::Deflate);
  uint64_t t2 = ThreadCpuUs();

  // Click latency: click to the first paint that shows it.
  std::vector<double> oursLat, directLat;
  {
    Direct dc;
    dc.Start(kClickPage);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    for (int i = 0; i < 12; ++i) {
      int before = dc.frames;
      uint64_t s = MonotonicUs();
      dc.pipe->Send("Input.dispatchMouseEvent",
                    {{"type", "mousePressed"}, {"x", 50}, {"y", 50}, {"button", "left"}, {"clickCount", 1}},
                    dc.session);
      dc.pipe->Send("Input.dispatchMouseEvent",
                    {{"type", "mouseReleased"}, {"x", 50}, {"y", 50}, {"button", "left"}, {"clickCount", 1}},
                    dc.session);
      while (dc.frames == before && MonotonicUs() - s < 2000000) std::this_thread::sleep_for(std::chrono::microseconds(200));
      directLat.push_back(double(dc.lastFrameUs - s) / 1000.0);
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    dc.Stop();
  }
  {
    auto c = std::make_shared<Counter>();
    auto cb = e.CreateBrowser(c, bo, kClickPage);
    Pump([&] { return c->paints > 0; }, 5000);
    Pump([] { return false; }, 500);
    for (int i = 0; i < 12; ++i) {
      uint32_t before = c->pixel;
      uint64_t s = MonotonicUs();
      cb->SendMouseClick({50, 50, 0}, 0, false, 1);
      cb->SendMouseClick({50, 50, 0}, 0, true, 1);
      Pump([&] { return c->pixel != before; }, 2000);
      oursLat.push_back(double(c->lastPaintUs - s) / 1000.0);
      Pump([] { return false; }, 150);
    }
    cb->Close();
  }

  // Page load with and without request interception.
  pv7test::HttpServer server;
  std::string page = "<html><body>";
  for (int i = 0; i < 30; ++i) page += "<img src='/r" + std::to_string(i) + "'>";
  page += "</body></html>";
  server.Serve("/load", page);
  std::vector<double> plainMs, interMs;
  for (bool intercept : {false, true}) {
    auto c = std::make_shared<Counter>();
    c->intercept = intercept;
    auto lb = e.CreateBrowser(c, bo, "");
    Pump([] { return false; }, 300);
    for (int i = 0; i < 6; ++i) {
      int before = c->loadEnds;
      uint64_t s = MonotonicUs();
      lb->LoadUrl(0, server.Url("/load?") + std::to_string(i));
      uint64_t end = MonotonicMs() + 10000;
      while (c->loadEnds == before && MonotonicMs() < end) {
        e.DoWork();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      double ms = double(MonotonicUs() - s) / 1000.0;
      (intercept ? interMs : plainMs).push_back(ms);
    }
    lb->Close();
    Pump([] { return false; }, 200);
  }
  e.Shutdown();

  double cappedDirect = std::min(directFps, double(kRate));
  printf("direct fps=%.1f ours fps=%.1f (cap %d)\n", directFps, oursFps, kRate);
  printf("ours cpu per paint=%.0f us, memcpy of a frame=%.0f us\n", cpuPerPaint, memcpyUs);
  printf("decode spng=%.1f ms deflate=%.1f ms\n", (t1 - t0) / 20000.0, (t2 - t1) / 20000.0);
  printf("click latency ours=%.1f ms direct=%.1f ms\n", Median(oursLat), Median(directLat));
  printf("load plain=%.1f ms intercepted=%.1f ms\n", Median(plainMs), Median(interMs));
  printf("ratio fps ours/direct=%.3f\n", cappedDirect > 0 ? oursFps / cappedDirect : 0);
  printf("ratio paintcost ours/memcpy=%.3f\n", cpuPerPaint / memcpyUs);
  printf("ratio decode deflate/spng=%.3f\n", t1 > t0 ? double(t2 - t1) / double(t1 - t0) : 0);
  printf("ratio clicklatency ours/direct=%.3f\n",
         Median(directLat) > 0 ? Median(oursLat) / Median(directLat) : 0);
  printf("ratio load intercepted/plain=%.3f\n", Median(plainMs) > 0 ? Median(interMs) / Median(plainMs) : 0);
  return 0;
}
