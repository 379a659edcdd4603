// soak: pv7host on real Chromium under a long random load from a parent of its
// own. The parent sends a random mix of the seven commands (well-formed ones and
// malformed ones the reader reads and ignores), loads local pages from a small
// HTTP server (pages that animate, write to the console and call the bridge when
// it exists), answers every INTF connection, and reads DRAW. It measures the
// host's resident memory (the engine library lives in the host process), its open
// file descriptors and its descendant processes after a warm-up and at the end.
//
//   soak [--seconds N] [--warmup N] [--host PATH] [--seed N]
//
// Exit status 0 unless the host crashed or hung (the figures are reported, not
// judged): 1 for a crash or hang, 2 for bad arguments.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/socket.h"
#include "tests/hostile/chromium_host.h"
#include "tests/hostile/proc_probe.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// Serves /page/N: an animated page that logs, and calls the bridge when the
// page has it.
class TPageServer {
 public:
  TPageServer() : FThread([this] { Serve(); }) {}
  ~TPageServer() {
    FStop = true;
    FThread.join();
  }
  uint16_t Port() const { return FListener.Port(); }
  long Requests() const { return FRequests; }

 private:
  static std::string Page(const std::string& path) {
    return "<!doctype html><html><body style='margin:0'><h1 id=t>" + path +
           "</h1><div id=d style='width:100px;height:100px'></div><script>"
           "let n=0;console.log('page ' + location.pathname);"
           "const tick=()=>{n++;d.style.background=(n&1)?'red':'blue';"
           "if(n%5==0&&typeof PV7APIv1!=='undefined'){"
           "try{const r=PV7APIv1.CallPV7XML('<Ping n=\"'+n+'\"/>');"
           "if(n%50==0)console.log('bridge '+String(r).length);}catch(e){console.log('bridge error '+e);}}"
           "};setInterval(tick,40);"
           "</script></body></html>";
  }
  void Serve() {
    while (!FStop) {
      platform::TcpSocket s;
      try {
        s = FListener.Accept(50);
      } catch (...) {
        continue;
      }
      if (!s.IsOpen()) continue;
      std::string req;
      char buf[4096];
      try {
        while (req.find("\r\n\r\n") == std::string::npos)
          req.append(buf, s.ReceiveSome(buf, sizeof buf, 2000));
        size_t sp1 = req.find(' '), sp2 = req.find(' ', sp1 + 1);
        std::string path = req.substr(sp1 + 1, sp2 - sp1 - 1);
        std::string body = path.rfind("/page/", 0) == 0 ? Page(path) : "not found";
        std::string resp = std::string(path.rfind("/page/", 0) == 0 ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") +
                           "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\nConnection: close\r\n\r\n" + body;
        s.SendAll(resp.data(), resp.size());
        ++FRequests;
      } catch (...) {
      }
    }
  }

  platform::TcpListener FListener;
  std::atomic<bool> FStop{false};
  std::atomic<long> FRequests{0};
  std::thread FThread;
};

struct TSample {
  long long rssKb = 0;
  long long childRssKb = 0;  // Chromium and its helpers, added up
  int fds = 0;
  int processes = 0;
  std::vector<std::pair<int, std::string>> procs;  // pid and kind
};

// The kind of a descendant: its --type= switch, or its program name.
std::string Kind(int pid) {
  std::vector<std::string> args = probe::CmdlineTokens(pid);
  for (const std::string& a : args)
    if (a.rfind("--type=", 0) == 0) return a.substr(7);
  return args.empty() ? "?" : args[0];
}

TSample Sample(int pid) {
  const std::vector<int> children = probe::Descendants(pid);
  long long childRss = 0;
  for (int child : children) childRss += std::max(0LL, probe::RssKb(child));
  std::vector<std::pair<int, std::string>> procs;
  for (int child : children) procs.emplace_back(child, Kind(child));
  return {probe::RssKb(pid), childRss, probe::OpenFdCount(pid), int(children.size()), procs};
}

std::string Int(int v) { return std::to_string(v); }

// One random command document: mostly well-formed, some malformed in ways the
// reader reads and ignores (unknown root, no root, unknown key type, empty).
std::string RandomCommand(std::mt19937& rng, int& kind) {
  auto r = [&](int n) { return int(rng() % unsigned(n)); };
  kind = r(10);
  switch (kind) {
    case 0:
      return "<MouseClick><MouseX>" + Int(r(400)) + "</MouseX><MouseY>" + Int(r(300)) + "</MouseY></MouseClick>";
    case 1:
      return "<MouseWheel><MouseX>" + Int(r(400)) + "</MouseX><MouseY>" + Int(r(300)) +
             "</MouseY><MouseDeltaX>0</MouseDeltaX><MouseDeltaY>" + Int(r(2) ? 120 : -120) +
             "</MouseDeltaY></MouseWheel>";
    case 2: {
      static const char* types[] = {"KT_KEYDOWN", "KT_CHAR", "KT_KEYUP"};
      return std::string("<KeyPress keyType=\"") + types[r(3)] + "\" sysChar=\"FALSE\" key=\"" +
             Int(65 + r(26)) + "\" modifiers=\"" + Int(r(2) ? 0 : 2) + "\"/>";
    }
    case 3: {
      static const int sizes[][2] = {{400, 300}, {320, 240}, {640, 360}};
      const auto& s = sizes[r(3)];
      return "<WindowSize><WndSzX>" + Int(s[0]) + "</WndSzX><WndSzY>" + Int(s[1]) + "</WndSzY></WindowSize>";
    }
    case 4:
      return "<JavaScript>document.getElementById('t') &amp;&amp; (document.getElementById('t').textContent = " +
             Int(r(1000)) + ")</JavaScript>";
    case 5: return "<Unknown><MouseX>1</MouseX></Unknown>";
    case 6: return "<?xml version=\"1.0\"?><!-- no root -->";
    case 7: return "<KeyPress keyType=\"KT_NONE\" key=\"13\"/>";
    case 8: return "";
    default: return "<mousewheel><MouseX>1</MouseX><MouseY>1</MouseY><MouseDeltaX>0</MouseDeltaX>"
                    "<MouseDeltaY>0</MouseDeltaY></mousewheel>";
  }
}

int Fail(const char* why) {
  std::printf("soak: FAILED: %s\n", why);
  std::fflush(stdout);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 300, warmup = -1;
  unsigned seed = 7;
  std::string hostPath = platform::ExecutableFolder() + "/pv7host";
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "soak: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--seconds") seconds = std::atoi(next().c_str());
    else if (a == "--warmup") warmup = std::atoi(next().c_str());
    else if (a == "--host") hostPath = next();
    else if (a == "--seed") seed = unsigned(std::atoi(next().c_str()));
    else {
      std::fprintf(stderr, "usage: soak [--seconds N] [--warmup N] [--host PATH] [--seed N]\n");
      return 2;
    }
  }
  if (seconds < 5) seconds = 5;
  if (warmup < 0) warmup = std::min(30, seconds / 5);
  std::printf("soak: %d s, warm-up %d s, host %s\n", seconds, warmup, hostPath.c_str());

  TPageServer pages;
  probe::TChromiumHost host(hostPath, "soak");
  probe::TParentSide& parent = host.Parent();
  if (!parent.WaitChannels(30000)) return Fail("the host opened no ACTN and DRAW");
  // A missing first frame is the engine's to answer for, not a crash or hang of
  // the host: it is reported and the run goes on.
  if (!host.Resize(400, 300, 30000)) std::printf("soak: note: no frame of the first view size yet\n");
  const int pid = host.Pid();

  std::mt19937 rng(seed);
  long sent = 0, handled = 0, loads = 0, marks = 0;
  const auto start = Clock::now();
  const auto warmEnd = start + std::chrono::seconds(warmup);
  const auto end = start + std::chrono::seconds(seconds);
  TSample first{}, last{};
  bool sampled = false;
  long framesAtWarm = 0, handledAtWarm = 0;
  auto warmAt = start;
  auto nextLoad = start;

  // A fixed state for both measurements: the same page, after a quiet second.
  auto settle = [&](const char* what) -> bool {
    host.SendSize(400, 300);
    host.Load("http://127.0.0.1:" + std::to_string(pages.Port()) + "/page/settle");
    std::this_thread::sleep_for(1500ms);
    const std::string mark = std::string("settled ") + what;
    for (int i = 0; i < 20; ++i) {
      host.Js("console.log('" + mark + "')");
      if (parent.WaitFor([&] {
            for (const std::string& t : parent.FConsole)
              if (t == mark) return true;
            return false;
          }, 1000))
        return true;
    }
    return false;
  };

  while (Clock::now() < end) {
    if (!parent.Host().Running()) return Fail("the host ended during the run");
    if (!sampled && Clock::now() >= warmEnd) {
      if (!settle("start")) return Fail("the host stopped answering (warm-up)");
      first = Sample(pid);
      framesAtWarm = parent.Frames();
      handledAtWarm = handled;
      warmAt = Clock::now();
      sampled = true;
    }
    if (Clock::now() >= nextLoad) {
      host.Load("http://127.0.0.1:" + std::to_string(pages.Port()) + "/page/" + std::to_string(loads));
      ++loads;
      ++sent;
      nextLoad = Clock::now() + 1500ms + std::chrono::milliseconds(rng() % 1500);
    }
    const int batch = 20 + int(rng() % 30);
    for (int i = 0; i < batch; ++i) {
      int kind;
      if (!parent.Send(RandomCommand(rng, kind))) return Fail("ACTN could not be written");
      ++sent;
    }
    // The mark tells that every command before it was handled.
    const std::string mark = "mark " + std::to_string(++marks);
    host.Js("console.log('" + mark + "')");
    ++sent;
    const bool seen = parent.WaitFor([&] {
      for (auto it = parent.FConsole.rbegin(); it != parent.FConsole.rend(); ++it)
        if (*it == mark) return true;
      return false;
    }, 30000);
    if (!seen) {
      // A console message can be lost while a page is replaced; ask again once.
      host.Js("console.log('" + mark + "')");
      if (!parent.WaitFor([&] {
            for (auto it = parent.FConsole.rbegin(); it != parent.FConsole.rend(); ++it)
              if (*it == mark) return true;
            return false;
          }, 30000))
        return Fail("the host stopped handling commands (no console mark for 60 s)");
    }
    handled = sent;
    parent.ClearConsole();  // keeps the parent's list short
  }
  if (!sampled) return Fail("the run ended before the warm-up did");
  if (!settle("end")) return Fail("the host stopped answering (end)");
  last = Sample(pid);
  const double span = std::chrono::duration<double>(Clock::now() - warmAt).count();
  const long frames = parent.Frames() - framesAtWarm;
  const long bridge = parent.IntfRequests();

  parent.Send("<Destroy/>");
  ++sent;
  std::optional<int> status = parent.Host().Wait(30000);
  std::vector<int> children = probe::Descendants(pid);

  std::printf("commands sent=%ld handled after warm-up=%ld\n", sent, handled - handledAtWarm);
  std::printf("commands per second=%.1f\n", double(handled - handledAtWarm) / span);
  std::printf("frames received=%ld frames per second=%.1f\n", frames, double(frames) / span);
  std::printf("page loads=%ld pages served=%ld bridge calls answered=%ld on %ld INTF connections\n",
              loads, pages.Requests(), bridge, parent.IntfConnections());
  std::printf("rss start=%lld kB end=%lld kB\n", first.rssKb, last.rssKb);
  std::printf("ratio rss end/start=%.3f\n", first.rssKb > 0 ? double(last.rssKb) / double(first.rssKb) : 0.0);
  std::printf("rss of Chromium's processes start=%lld kB end=%lld kB (ratio %.3f)\n", first.childRssKb,
              last.childRssKb, first.childRssKb > 0 ? double(last.childRssKb) / double(first.childRssKb) : 0.0);
  std::printf("fds start=%d end=%d\n", first.fds, last.fds);
  std::printf("fds end-start=%d\n", last.fds - first.fds);
  std::printf("processes start=%d end=%d\n", first.processes, last.processes);
  std::printf("processes end-start=%d\n", last.processes - first.processes);
  for (const auto& p : last.procs)
    if (std::find(first.procs.begin(), first.procs.end(), p) == first.procs.end())
      std::printf("  new since the start: %d %s\n", p.first, p.second.c_str());
  for (const auto& p : first.procs)
    if (std::find(last.procs.begin(), last.procs.end(), p) == last.procs.end())
      std::printf("  gone since the start: %d %s\n", p.first, p.second.c_str());
  std::fflush(stdout);
  if (!status) return Fail("Destroy did not end the host within 30 s");
  std::printf("host exit status=%d\n", *status);
  if (*status != 0) return Fail("the host did not end with status 0");
  return 0;
}
