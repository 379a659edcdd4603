// Frame publishing, in two parts run one after the other in the same program run:
//  - its cost: composing the popup over the view and encoding the whole 1920 x 1080
//    view as a BMP message, against one plain copy of the frame;
//  - end to end: pv7host with the engine library and Chromium, driven by a parent
//    of this program over real sockets that reads every DRAW frame, against a plain
//    DevTools screencast client of the same Chromium (frames per second of an
//    animated page, CPU per delivered frame of all processes, click to the first
//    frame showing it, start to the first picture of a still page, memory and CPU
//    with that page).
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "bench/bench_ratio.h"
#include "bench/direct_client.h"
#include "host/channel.h"
#include "host/framebitmap.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "xml/stream.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct TFixture {
  TFrameBitmap view, popup;
  std::vector<uint8_t> paint;
  TFixture() {
    view.SetSize(kWidth, kHeight);
    popup.SetSize(200, 100);
    paint.resize(size_t(kWidth) * kHeight * 4);
    for (size_t i = 0; i < paint.size(); ++i) paint[i] = uint8_t(i * 31);
    TPixelRect all{0, 0, kWidth, kHeight};
    CopyDirtyRects(view, paint.data(), kWidth, kHeight, 1, &all);
  }
};

TFixture& Fixture() {
  static TFixture f;
  return f;
}

void BM_PublishOurs(benchmark::State& state) {
  TFixture& f = Fixture();
  TMemoryStream message;
  for (auto _ : state) {
    DrawBitmap(f.popup, f.view, 100, 100);
    EncodeBmpToStream(f.view, message);
    benchmark::DoNotOptimize(message.Memory());
  }
}
BENCHMARK(BM_PublishOurs)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_PublishMemcpy(benchmark::State& state) {
  TFixture& f = Fixture();
  std::vector<uint8_t> copy(f.paint.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), f.view.Pixels(), copy.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PublishMemcpy)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// ---------------------------------------------------------------- end to end

constexpr int kFrameRate = 30;       // the host's frame rate (the engine's default)
constexpr int kProbeX = 50, kProbeY = 50;
constexpr int kClicks = 12;
constexpr double kStillCpuS = 5;  // the still page's CPU is read over this long
constexpr int kRssAfterS = 30;
constexpr int kStartWidth = 1024, kStartHeight = 768;  // the first-picture runs
constexpr int kStartRounds = 2;
constexpr long kStillRgb = 0x3060C0;

const char kAnimatedPage[] =
    "<!doctype html><body style='margin:0;background:#203040'>"
    "<div id=b style='position:absolute;width:200px;height:200px;background:#e0a000'></div>"
    "<script>let t=0;function f(){t++;b.style.left=(t*7%1720)+'px';b.style.top=(t*3%880)+'px';"
    "document.body.style.background='rgb('+(t%255)+',40,60)';requestAnimationFrame(f)}f()</script>"
    "</body>";

// Black; every mousedown anywhere in the view turns it white or back to black.
const char kClickPage[] =
    "<!doctype html><body style='margin:0;background:#000000'><script>"
    "document.addEventListener('mousedown',()=>{const s=document.body.style;"
    "s.background=s.background=='white'?'black':'white'})</script></body>";

// One colour, nothing moves.
const char kStillPage[] = "<!doctype html><body style='margin:0;background:#3060c0'></body>";

uint64_t NowUs() { return cefeng::MonotonicUs(); }

void SleepUntilUs(uint64_t t) {
  uint64_t now = NowUs();
  if (t > now) std::this_thread::sleep_for(std::chrono::microseconds(t - now));
}

// CPU time (user + system) of a process in ms, from /proc/PID/stat.
long ProcessCpuMs(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(stat.substr(close + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {  // fields 14 and 15: utime, stime
    if (i == 14) utime = std::atol(field.c_str());
    if (i == 15) stime = std::atol(field.c_str());
  }
  return (utime + stime) * 10;  // clock ticks of 10 ms
}

// The parent of a process (field 4 of /proc/PID/stat), 0 when unknown.
int ParentPid(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(stat.substr(close + 2));
  std::string state;
  int ppid = 0;
  rest >> state >> ppid;
  return ppid;
}

// A process and every descendant of it that lives now.
std::vector<int> ProcessTree(int root) {
  namespace fs = std::filesystem;
  std::vector<std::pair<int, int>> all;  // pid, parent
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const int pid = std::atoi(name.c_str());
    all.emplace_back(pid, ParentPid(pid));
  }
  std::vector<int> tree = {root};
  for (size_t i = 0; i < tree.size(); ++i)
    for (const auto& [pid, parent] : all)
      if (parent == tree[i]) tree.push_back(pid);
  return tree;
}

long TreeCpuMs(int root) {
  long ms = 0;
  for (int pid : ProcessTree(root)) ms += ProcessCpuMs(pid);
  return ms;
}

// Proportional set size of a process in kB (smaps_rollup), 0 when unknown.
long PssKb(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, 4, "Pss:") == 0) return std::atol(line.c_str() + 4);
  return 0;
}

long TreePssKb(int root) {
  long kb = 0;
  for (int pid : ProcessTree(root)) kb += PssKb(pid);
  return kb;
}

// The parent's side of the channel: listens, starts pv7host hidden with the draw port
// and this process as its parent, keeps the ACTN connection for commands and reads
// every DRAW frame, noting its size, arrival and the colour of one probe pixel.
class THostParent {
 public:
  ~THostParent() { Stop(); }

  bool Start(const std::string& hostPath, const std::string& workDir) {
    FAcceptor = std::thread([this] { AcceptLoop(); });
    try {
      FHost.emplace(platform::ChildProcess::Start(
          hostPath,
          {"-drawPort=" + std::to_string(FListener.Port()),
           "-parentID=" + std::to_string(platform::GetCurrentProcessId()), "-showSelf=0"},
          workDir));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "host did not start: %s\n", e.what());
      return false;
    }
    return WaitFor([&] { return FActn != nullptr && FDraw; }, 30000);
  }

  int Pid() const { return FHost ? FHost->Pid() : -1; }
  int Frames() const { return FFrames.load(); }

  void Send(const std::string& doc) {
    std::shared_ptr<platform::TcpSocket> actn;
    {
      std::lock_guard<std::mutex> g(FLock);
      actn = FActn;
    }
    if (actn) WriteMessage(*actn, doc.data(), int64_t(doc.size()));
  }
  void SendSize(int w, int h) {
    Send("<WindowSize><WndSzX>" + std::to_string(w) + "</WndSzX><WndSzY>" + std::to_string(h) +
         "</WndSzY></WindowSize>");
  }
  void Load(const std::string& url) {
    Send("<LoadWEBURL><WEBURL>" + url + "</WEBURL><HEADERS></HEADERS></LoadWEBURL>");
  }
  void Click(int x, int y) {
    Send("<MouseClick><MouseX>" + std::to_string(x) + "</MouseX><MouseY>" + std::to_string(y) +
         "</MouseY></MouseClick>");
  }

  // Sets the view size and waits for a frame of it. The screencast can miss a resize
  // right after start; a size that shows no frame within 4 s is left for another one
  // first (given time to take effect, so that the two are not merged) and asked again.
  bool Resize(int w, int h) {
    auto seen = [&](int ww, int hh, int ms) {
      return WaitFor([&] { return FWidth == ww && FHeight == hh; }, ms);
    };
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (attempt > 0) {
        SendSize(w - 16 * attempt, h);
        seen(w - 16 * attempt, h, 3000);
      }
      SendSize(w, h);
      if (seen(w, h, attempt < 3 ? 4000 : 10000)) return true;
    }
    return false;
  }
  // Gaps between the frames that arrived from `fromUs` to `toUs`, in ms.
  std::vector<double> Gaps(uint64_t fromUs, uint64_t toUs) {
    std::lock_guard<std::mutex> g(FLock);
    std::vector<double> gaps;
    for (size_t i = 1; i < FArrivals.size(); ++i)
      if (FArrivals[i - 1] >= fromUs && FArrivals[i] <= toUs) gaps.push_back(double(FArrivals[i] - FArrivals[i - 1]) / 1000.0);
    return gaps;
  }
  std::string LastSize() {
    std::lock_guard<std::mutex> g(FLock);
    return std::to_string(FWidth) + " x " + std::to_string(FHeight);
  }
  bool WaitProbe(long rgb, int ms) {
    return WaitFor([&] { return FProbe == rgb; }, ms);
  }
  bool WaitProbeNot(long rgb, int ms) {
    return WaitFor([&] { return FProbe != rgb && FProbe != -1; }, ms);
  }
  long Probe() {
    std::lock_guard<std::mutex> g(FLock);
    return FProbe;
  }
  // The arrival time of the first frame whose probe pixel differs from `before`; 0 on
  // time-out.
  uint64_t ProbeChangedUs(long before, int ms) {
    if (!WaitFor([&] { return FProbe != before; }, ms)) return 0;
    std::lock_guard<std::mutex> g(FLock);
    return FProbeUs;
  }

  // Notes the arrival of the first frame of w x h whose probe pixel is rgb; set
  // before Start.
  void WatchFor(int w, int h, long rgb) {
    std::lock_guard<std::mutex> g(FLock);
    FWatchW = w;
    FWatchH = h;
    FWatchRgb = rgb;
  }
  // That arrival, 0 when it did not come within the time.
  uint64_t WatchedUs(int ms) {
    if (!WaitFor([&] { return FWatchUs != 0; }, ms)) return 0;
    std::lock_guard<std::mutex> g(FLock);
    return FWatchUs;
  }

  // Destroy, then the host's exit (killed when it does not end within 10 s).
  void Stop() {
    if (FHost && FHost->Running()) {
      try {
        Send("<Destroy/>");
      } catch (const std::exception&) {
      }
      if (!FHost->Wait(10000)) FHost->Kill();
    }
    FHost.reset();
    FStop = true;
    if (FAcceptor.joinable()) FAcceptor.join();
    {
      std::lock_guard<std::mutex> g(FLock);
      for (auto& s : FOpen) s->Shutdown();
    }
    for (std::thread& t : FThreads) t.join();
    FThreads.clear();
  }

  template <class F>
  bool WaitFor(F done, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> g(FLock);
    while (!done())
      if (FChanged.wait_until(g, end) == std::cv_status::timeout) return done();
    return true;
  }

 private:
  void AcceptLoop() {
    while (!FStop) {
      platform::TcpSocket s;
      try {
        s = FListener.Accept(50);
      } catch (const std::exception&) {
        return;
      }
      if (!s.IsOpen()) continue;
      auto sock = std::make_shared<platform::TcpSocket>(std::move(s));
      std::lock_guard<std::mutex> g(FLock);
      FOpen.push_back(sock);
      FThreads.emplace_back([this, sock] { Serve(sock); });
    }
  }

  static int32_t ReadLength(platform::TcpSocket& s) {
    uint8_t b[4];
    s.ReceiveAll(b, 4);
    return int32_t(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]));
  }

  void Serve(std::shared_ptr<platform::TcpSocket> s) {
    try {
      int32_t n = ReadLength(*s);
      if (n < 4) return;
      std::string first(size_t(n), '\0');
      s->ReceiveAll(first.data(), first.size());
      if (first == "ACTN") {
        std::lock_guard<std::mutex> g(FLock);
        FActn = s;
        FChanged.notify_all();
        return;
      }
      if (first != "DRAW") return;  // console texts and bridge requests are not needed here
      {
        std::lock_guard<std::mutex> g(FLock);
        FDraw = true;
        FChanged.notify_all();
      }
      std::string bmp;
      for (;;) {
        n = ReadLength(*s);
        if (n < 0) return;
        bmp.resize(size_t(n));
        s->ReceiveAll(bmp.data(), bmp.size());
        const uint64_t arrived = NowUs();
        int32_t w = 0, h = 0;
        long probe = -1;
        if (bmp.size() >= 54) {
          std::memcpy(&w, bmp.data() + 18, 4);
          std::memcpy(&h, bmp.data() + 22, 4);
          const size_t row = (size_t(std::max(w, 0)) * 3 + 3) & ~size_t(3);
          if (w > kProbeX && h > kProbeY && bmp.size() >= 54 + row * size_t(h)) {
            const auto* p = reinterpret_cast<const uint8_t*>(bmp.data()) + 54 +
                            row * size_t(h - 1 - kProbeY) + size_t(kProbeX) * 3;
            probe = long(p[2]) << 16 | long(p[1]) << 8 | p[0];
          }
        }
        ++FFrames;
        std::lock_guard<std::mutex> g(FLock);
        if (FArrivals.size() < 100000) FArrivals.push_back(arrived);
        FWidth = w;
        FHeight = h;
        if (probe != FProbe) {
          FProbe = probe;
          FProbeUs = arrived;
        }
        if (!FWatchUs && w == FWatchW && h == FWatchH && probe == FWatchRgb) FWatchUs = arrived;
        FChanged.notify_all();
      }
    } catch (const std::exception&) {
      // The connection ended.
    }
  }

  platform::TcpListener FListener;
  std::optional<platform::ChildProcess> FHost;
  std::atomic<bool> FStop{false};
  std::thread FAcceptor;
  std::vector<std::thread> FThreads;
  std::atomic<int> FFrames{0};
  std::mutex FLock;  // guards everything below
  std::condition_variable FChanged;
  std::vector<std::shared_ptr<platform::TcpSocket>> FOpen;
  std::shared_ptr<platform::TcpSocket> FActn;
  bool FDraw = false;
  int FWidth = 0, FHeight = 0;
  long FProbe = -1;
  uint64_t FProbeUs = 0;
  std::vector<uint64_t> FArrivals;
  int FWatchW = -1, FWatchH = -1;
  long FWatchRgb = -2;
  uint64_t FWatchUs = 0;
};

// CPU spent over a window and the frames delivered in it.
struct TCpuWindow {
  long ms = 0;
  int frames = 0;
  double seconds = 0;
  double PerFrame() const { return frames > 0 ? double(ms) / frames : 0; }
  double Fps() const { return seconds > 0 ? frames / seconds : 0; }
  void Add(const TCpuWindow& w) {
    ms += w.ms;
    frames += w.frames;
    seconds += w.seconds;
  }
};

struct TFigures {
  double directFpsRaw = 0, directFps[2] = {0, 0}, directDecodeMs = 0, directClickMs = 0;
  double hostFps = 0, hostCpuPerFrameMs = 0, hostClickMs = 0;
  TCpuWindow hostAll, direct;  // all processes on the animated page
  long hostRssKb = 0, hostHwmKb = 0;
  int directClicks = 0, hostClicks = 0;
  std::vector<double> hostFirstMs, directFirstMs;
  std::vector<long> hostPssKb, directPssKb;
  std::vector<double> hostStillCpu, directStillCpu;  // ms of CPU per second with the still page
};

// Frames per second over `seconds`, counted by `frames`.
template <class F>
double Rate(F frames, double seconds) {
  const int f0 = frames();
  const uint64_t t0 = NowUs();
  SleepUntilUs(t0 + uint64_t(seconds * 1e6));
  return double(frames() - f0) * 1e6 / double(NowUs() - t0);
}

// The CPU of `cpu()` and the frames of `frames()` over `seconds`.
template <class C, class F>
TCpuWindow MeasureCpu(C cpu, F frames, double seconds) {
  TCpuWindow w;
  const long c0 = cpu();
  const int f0 = frames();
  const uint64_t t0 = NowUs();
  SleepUntilUs(t0 + uint64_t(seconds * 1e6));
  w.frames = frames() - f0;
  w.ms = cpu() - c0;
  w.seconds = double(NowUs() - t0) / 1e6;
  return w;
}

bool ShowDirect(pv7bench::TDirectClient& direct, const std::string& url, long rgb) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    direct.Navigate(url);
    if (direct.WaitProbe(rgb, 5000)) return true;
  }
  std::fprintf(stderr, "direct client: %s did not show\n", url.c_str());
  return false;
}

// One rate measurement of the plain client on the animated page (decoded frames),
// then its CPU per frame at the host's rate: Chromium sends every second frame and
// this program decodes each (its Chromium processes and this process count, while
// the host shows a still page). It is left on the still click page.
bool DirectRate(pv7bench::TDirectClient& direct, const std::string& animated, const std::string& click,
                double& fps, double* decodeMs, TCpuWindow& cpu) {
  direct.Navigate(animated);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const int d0 = direct.Decoded();
  const uint64_t c0 = direct.DecodeUs();
  fps = Rate([&] { return direct.Decoded(); }, 5);
  if (decodeMs && direct.Decoded() > d0)
    *decodeMs = double(direct.DecodeUs() - c0) / 1000.0 / (direct.Decoded() - d0);
  if (!direct.SetEveryNthFrame(2)) return false;
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const int self = platform::GetCurrentProcessId();
  cpu.Add(MeasureCpu([&] { return TreeCpuMs(direct.Pid()) + ProcessCpuMs(self); },
                     [&] { return direct.Decoded(); }, 5));
  return direct.SetEveryNthFrame(1) && ShowDirect(direct, click, 0x000000);
}

// The CPU that a process and its children spend per second on a page that stands
// still, once what followed the start has settled.
double StillCpu(int pid) {
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const TCpuWindow w = MeasureCpu([&] { return TreeCpuMs(pid); }, [] { return 0; }, kStillCpuS);
  return w.seconds > 0 ? double(w.ms) / w.seconds : 0;
}

// From the host's start, through WindowSize and LoadWEBURL of the still page, to the
// first frame of that size showing it; then the PSS of the host and its engine
// processes once the page has stood for 2 s.
bool HostFirstPicture(const std::string& workDir, const std::string& still, TFigures& f) {
  THostParent parent;
  parent.WatchFor(kStartWidth, kStartHeight, kStillRgb);
  const uint64_t t0 = NowUs();
  if (!parent.Start(platform::ExecutableFolder() + "/pv7host", workDir)) return false;
  parent.SendSize(kStartWidth, kStartHeight);
  parent.Load(still);
  const uint64_t seen = parent.WatchedUs(20000);
  if (!seen) {
    std::fprintf(stderr, "the host showed no frame of the still page (the last %s)\n", parent.LastSize().c_str());
    return false;
  }
  f.hostFirstMs.push_back(double(seen - t0) / 1000.0);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  f.hostPssKb.push_back(TreePssKb(parent.Pid()));
  f.hostStillCpu.push_back(StillCpu(parent.Pid()));
  return true;
}

// The same for a plain client: from starting Chromium to its first picture of the
// still page at that size, then the PSS of its Chromium processes.
bool DirectFirstPicture(const std::string& still, TFigures& f) {
  pv7bench::TDirectClient direct;
  direct.SetDecoding(true, kProbeX, kProbeY);
  const uint64_t t0 = NowUs();
  if (!direct.Start(kStartWidth, kStartHeight)) return false;
  direct.Navigate(still);
  const uint64_t seen = direct.WaitProbeUs(kStillRgb, 20000);
  if (!seen) {
    std::fprintf(stderr, "the direct client showed no picture of the still page\n");
    return false;
  }
  f.directFirstMs.push_back(double(seen - t0) / 1000.0);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  f.directPssKb.push_back(TreePssKb(direct.Pid()));
  f.directStillCpu.push_back(StillCpu(direct.Pid()));
  return true;
}

template <class T>
double Mean(const std::vector<T>& v) {
  double sum = 0;
  for (T x : v) sum += double(x);
  return v.empty() ? 0 : sum / double(v.size());
}

template <class T>
std::string List(const std::vector<T>& v, double scale) {
  std::string out;
  char piece[32];
  for (T x : v) {
    std::snprintf(piece, sizeof piece, "%s%.0f", out.empty() ? "" : " ", double(x) * scale);
    out += piece;
  }
  return out;
}

void PrintFigures(const TFigures& f, int frames, std::vector<double> gaps) {
  std::sort(gaps.begin(), gaps.end());
  const double directFps = (f.directFps[0] + f.directFps[1]) / 2;
  const double cap = std::min(directFps, double(kFrameRate));
  std::printf("direct fps raw=%.1f decoded=%.1f (before %.1f, after %.1f; decode %.1f ms cpu per frame), "
              "host fps=%.1f (cap %d)\n",
              f.directFpsRaw, directFps, f.directFps[0], f.directFps[1], f.directDecodeMs, f.hostFps, kFrameRate);
  std::printf("host cpu per frame %.1f ms (%d frames; gaps between frames: median %.1f ms, 90%% below %.1f ms)\n",
              f.hostCpuPerFrameMs, frames, pv7bench::Median(gaps), gaps.empty() ? 0.0 : gaps[gaps.size() * 9 / 10]);
  std::printf("cpu per frame all=%.1f ms at %.1f fps (host and its engine processes), direct=%.1f ms at %.1f fps "
              "(Chromium at every second frame, and the client decoding)\n",
              f.hostAll.PerFrame(), f.hostAll.Fps(), f.direct.PerFrame(), f.direct.Fps());
  std::printf("click latency host=%.1f ms (%d/%d clicks seen) direct=%.1f ms (%d/%d)\n", f.hostClickMs,
              f.hostClicks, kClicks, f.directClickMs, f.directClicks, kClicks);
  std::printf("first picture of a still page at %dx%d: host %s ms, direct %s ms\n", kStartWidth, kStartHeight,
              List(f.hostFirstMs, 1).c_str(), List(f.directFirstMs, 1).c_str());
  std::printf("pss with one still page: host and engine %s MB, direct %s MB\n",
              List(f.hostPssKb, 1.0 / 1024).c_str(), List(f.directPssKb, 1.0 / 1024).c_str());
  std::printf("cpu with one still page: host and engine %s ms/s, direct %s ms/s\n",
              List(f.hostStillCpu, 1).c_str(), List(f.directStillCpu, 1).c_str());
  std::printf("ratio fps host/direct=%.3f\n", cap > 0 ? f.hostFps / cap : 0);
  std::printf("ratio clicklatency host/direct=%.3f\n", f.directClickMs > 0 ? f.hostClickMs / f.directClickMs : 0);
  std::printf("ratio cpu-per-frame all/direct=%.3f\n",
              f.direct.PerFrame() > 0 ? f.hostAll.PerFrame() / f.direct.PerFrame() : 0);
  std::printf("ratio firstframe host/direct=%.3f\n",
              Mean(f.directFirstMs) > 0 ? Mean(f.hostFirstMs) / Mean(f.directFirstMs) : 0);
  std::printf("ratio pss all/direct=%.3f\n", Mean(f.directPssKb) > 0 ? Mean(f.hostPssKb) / Mean(f.directPssKb) : 0);
  std::printf("host rss %ld MB (peak %ld MB) after %d s of the animated page\n", (f.hostRssKb + 512) / 1024,
              (f.hostHwmKb + 512) / 1024, kRssAfterS);
}

// Both clients run side by side for the whole measurement, but only one of them
// animates or is clicked at a time: the plain client's rate and CPU are measured
// before and after the host's 30 s on the animated page, and the clicks alternate
// between them, so that a change of the machine's load weighs on both alike. The
// first-picture runs start a fresh host and a fresh plain client by turns.
int RunEndToEnd() {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() /
                          ("pv7-frames-bench-" + std::to_string(platform::GetCurrentProcessId()));
  fs::create_directories(folder / "host");
  const std::string animated = "file://" + (folder / "animated.html").string();
  const std::string click = "file://" + (folder / "click.html").string();
  const std::string still = "file://" + (folder / "still.html").string();
  std::ofstream(folder / "animated.html") << kAnimatedPage;
  std::ofstream(folder / "click.html") << kClickPage;
  std::ofstream(folder / "still.html") << kStillPage;
  struct TCleanUp {
    fs::path path;
    ~TCleanUp() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } cleanUp{folder};

  TFigures f;
  pv7bench::TDirectClient direct;
  if (!direct.Start(kWidth, kHeight)) {
    std::fprintf(stderr, "the direct client did not start\n");
    return 1;
  }
  THostParent parent;
  if (!parent.Start(platform::ExecutableFolder() + "/pv7host", (folder / "host").string())) {
    std::fprintf(stderr, "the host opened no channels\n");
    return 1;
  }
  parent.Load(click);
  if (!parent.Resize(kWidth, kHeight)) {
    std::fprintf(stderr, "the host sent no frame of %d x %d (%d frames, the last %s)\n", kWidth, kHeight,
                 parent.Frames(), parent.LastSize().c_str());
    return 1;
  }

  // The plain client: raw rate, then decoded.
  direct.Navigate(animated);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  f.directFpsRaw = Rate([&] { return direct.Frames(); }, 4);
  direct.SetDecoding(true, kProbeX, kProbeY);
  if (!DirectRate(direct, animated, click, f.directFps[0], &f.directDecodeMs, f.direct)) return 1;

  // The host: frames counted while the page animates, memory read after 30 s of it.
  parent.Load(animated);
  if (!parent.WaitFor([&] { return parent.Frames() > 0; }, 5000) || !parent.WaitProbeNot(0x000000, 10000)) {
    std::fprintf(stderr, "the animated page did not show in the host\n");
    return 1;
  }
  const uint64_t start = NowUs();
  SleepUntilUs(start + 2000000);
  const long cpu0 = ProcessCpuMs(parent.Pid());
  const int f0 = parent.Frames();
  const uint64_t t0 = NowUs();
  f.hostAll = MeasureCpu([&] { return TreeCpuMs(parent.Pid()); }, [&] { return parent.Frames(); },
                         double(kRssAfterS - 3));
  const int frames = parent.Frames() - f0;
  const uint64_t t1 = NowUs();
  const long cpu1 = ProcessCpuMs(parent.Pid());
  f.hostFps = double(frames) * 1e6 / double(t1 - t0);
  if (frames > 0) f.hostCpuPerFrameMs = double(cpu1 - cpu0) / frames;
  SleepUntilUs(start + uint64_t(kRssAfterS) * 1000000);
  f.hostRssKb = pv7bench::ResidentKb(parent.Pid());
  f.hostHwmKb = pv7bench::ResidentKb(parent.Pid(), "VmHWM:");
  parent.Load(click);
  if (!parent.WaitProbe(0x000000, 15000)) {
    std::fprintf(stderr, "the click page did not show in the host\n");
    return 1;
  }

  if (!DirectRate(direct, animated, click, f.directFps[1], nullptr, f.direct)) return 1;

  // Clicks, alternating: each one to the first frame showing it.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::vector<double> hostLat, directLat;
  for (int i = 0; i < kClicks; ++i) {
    long before = direct.Probe();
    uint64_t s = NowUs();
    direct.Click(100, 100);
    uint64_t seen = direct.WaitProbeChange(before, 3000);
    if (seen) directLat.push_back(double(seen - s) / 1000.0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    before = parent.Probe();
    s = NowUs();
    parent.Click(100, 100);
    seen = parent.ProbeChangedUs(before, 3000);
    if (seen) hostLat.push_back(double(seen - s) / 1000.0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  f.directClicks = int(directLat.size());
  f.directClickMs = pv7bench::Median(directLat);
  f.hostClicks = int(hostLat.size());
  f.hostClickMs = pv7bench::Median(hostLat);
  const std::vector<double> gaps = parent.Gaps(t0, t1);
  parent.Stop();
  direct.Stop();

  for (int round = 0; round < kStartRounds; ++round) {
    const std::string workDir = (folder / ("start-" + std::to_string(round))).string();
    fs::create_directories(workDir);
    if (!HostFirstPicture(workDir, still, f) || !DirectFirstPicture(still, f)) return 1;
  }

  PrintFigures(f, frames, gaps);
  const bool complete = f.hostClicks == kClicks && f.directClicks == kClicks && frames > 0;
  return complete ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  TRatioReporter reporter;
  RunRatioBenchmarks(argc, argv, reporter);
  std::printf("ratio publish ours/memcpy=%.2f\n", reporter.Ratio("BM_PublishOurs", "BM_PublishMemcpy"));
  std::fflush(stdout);
  return RunEndToEnd();
}
