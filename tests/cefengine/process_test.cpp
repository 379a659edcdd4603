// Chromium never outlives the host: after cef_shutdown, after SIGKILL, after _exit.
#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core.h"
#include "os_process.h"

namespace {

// Ids of the processes whose command line mentions `needle`.
std::vector<int> ProcessesWith(const std::string& needle) {
  std::vector<int> pids;
  DIR* d = opendir("/proc");
  if (!d) return pids;
  while (dirent* e = readdir(d)) {
    int pid = atoi(e->d_name);
    if (pid <= 0 || pid == getpid()) continue;
    std::ifstream f("/proc/" + std::string(e->d_name) + "/cmdline", std::ios::binary);
    std::string cmd((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (cmd.find(needle) != std::string::npos && cefeng::ProcessAlive(pid)) pids.push_back(pid);
  }
  closedir(d);
  return pids;
}

// The parent process id of `pid` (from /proc/PID/stat), or -1.
int ParentOf(int pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  char state = 0;
  int ppid = -1;
  return sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 ? ppid : -1;
}

// How many of `root`'s descendants have `needle` on their command line.
int DescendantsWith(int root, const std::string& needle) {
  int n = 0;
  for (int pid : ProcessesWith(needle))
    for (int p = ParentOf(pid); p > 1; p = ParentOf(p))
      if (p == root) {
        ++n;
        break;
      }
  return n;
}

bool GoneWithin(const std::string& needle, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (ProcessesWith(needle).empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ProcessesWith(needle).empty();
}

// Starts the victim host with its own temporary folder; returns its pid, the pipe
// to its stdin and the folder name its Chromium runs with.
struct Victim {
  int pid = -1;
  int input = -1;
  std::string tag;
};

Victim StartVictim() {
  Victim v;
  const char* exe = getenv("PV7_VICTIM");
  EXPECT_NE(exe, nullptr);
  if (!exe) return v;
  v.tag = "pv7-victim-" + std::to_string(getpid()) + "-" + std::to_string(rand());
  int in[2], out[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(out), 0);
  std::string dir = "/tmp/" + v.tag;
  EXPECT_EQ(system(("mkdir -p " + dir).c_str()), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    setenv("TMPDIR", dir.c_str(), 1);
    execl(exe, exe, nullptr);
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  char buf[16] = {};
  ssize_t n = read(out[0], buf, 6);
  close(out[0]);
  EXPECT_EQ(n, 6);
  EXPECT_EQ(std::string(buf, 5), "ready");
  v.pid = pid;
  v.input = in[1];
  return v;
}

}  // namespace

TEST(CefEngineProcess, NoChromiumLeftAfterShutdown) {
  cefeng::EngineOptions o;
  std::string error;
  cefeng::Engine& e = cefeng::Engine::Get();
  ASSERT_TRUE(e.Start(o, error)) << error;
  std::string dir = e.UserDataDir();
  ASSERT_FALSE(ProcessesWith(dir).empty());
  auto start = std::chrono::steady_clock::now();
  e.Shutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
  EXPECT_TRUE(GoneWithin(dir, 3000));
  // A second start after shutdown works too.
  ASSERT_TRUE(e.Start(o, error)) << error;
  e.Shutdown();
}

TEST(CefEngineProcess, NoChromiumLeftAfterHostKilledOrExited) {
  for (bool kill9 : {true, false}) {
    Victim v = StartVictim();
    ASSERT_GT(v.pid, 0);
    ASSERT_FALSE(ProcessesWith(v.tag).empty());
    if (kill9)
      kill(v.pid, SIGKILL);
    else
      close(v.input);  // the victim ends with _exit, no shutdown
    waitpid(v.pid, nullptr, 0);
    if (kill9) close(v.input);
    EXPECT_TRUE(GoneWithin(v.tag, 5000)) << (kill9 ? "SIGKILL" : "_exit");
    EXPECT_EQ(system(("rm -rf /tmp/" + v.tag).c_str()), 0);
  }
}

TEST(CefEngineProcess, MissingExecutableFailsAtOnce) {
  cefeng::EngineOptions o;
  o.executable = "/nonexistent/chromium";
  std::string error;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(cefeng::Engine::Get().Start(o, error));
  EXPECT_NE(error.find("/nonexistent/chromium"), std::string::npos) << error;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  // A program that starts but never answers on the pipe: the start gives up.
  o.executable = "/bin/sleep";
  o.extraArgs = {"30"};
  o.startTimeoutMs = 1000;
  EXPECT_FALSE(cefeng::Engine::Get().Start(o, error));
}

namespace {

struct CrashDelegate : cefeng::BrowserDelegate {
  std::atomic<int> terminated{0};
  std::atomic<int> paints{0};
  std::atomic<uint32_t> centre{0};  // RGB of the last paint's centre pixel
  std::atomic<int> width{0}, height{0};
  bool GetViewRect(cefeng::Rect& r) override {
    r = {0, 0, 320, 240};
    return true;
  }
  void OnRenderProcessTerminated(int) override { terminated++; }
  void OnPaint(const std::vector<cefeng::Rect>&, const uint8_t* px, int w, int h) override {
    const uint8_t* c = px + (size_t(h / 2) * w + w / 2) * 4;  // BGRA
    centre = uint32_t(c[2]) << 16 | uint32_t(c[1]) << 8 | c[0];
    width = w;
    height = h;
    paints++;
  }
};

bool Pump(const std::function<bool()>& pred, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    cefeng::Engine::Get().DoWork();
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

// Kills Chromium and waits until the engine has noticed it.
int KillChromium(cefeng::Engine& e) {
  int pid = e.ChromiumPid();
  kill(pid, SIGKILL);
  Pump([&] { return e.Restarting() || e.Crashed(); }, 5000);
  return pid;
}

}  // namespace

TEST(CefEngineProcess, KilledChromiumIsStartedAgainTwiceThenAThirdCrashInAMinuteEndsIt) {
  cefeng::Engine& e = cefeng::Engine::Get();
  std::string error;
  ASSERT_TRUE(e.Start(cefeng::EngineOptions(), error)) << error;
  auto d = std::make_shared<CrashDelegate>();
  auto b = e.CreateBrowser(d, cefeng::BrowserOptions(), "data:text/html,<body bgcolor=red>");
  ASSERT_NE(b, nullptr);
  ASSERT_TRUE(Pump([&] { return d->centre == 0xff0000; }, 10000));
  std::string dir = e.UserDataDir();
  const int64_t mainFrame = b->MainFrameId();

  // First crash: the page comes back at its size and address, with no termination.
  int first = KillChromium(e);
  ASSERT_TRUE(Pump([&] { return e.Restarts() == 1 && !e.Restarting(); }, 20000));
  EXPECT_NE(e.ChromiumPid(), first);
  EXPECT_FALSE(cefeng::ProcessAlive(first));
  EXPECT_TRUE(b->Valid());
  // The same page again paints nothing new; a script tells which page it is (given
  // again until the page has loaded: one run before that meets the blank page).
  auto lastTry = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  EXPECT_TRUE(Pump([&] {
    if (std::chrono::steady_clock::now() - lastTry > std::chrono::milliseconds(300)) {
      lastTry = std::chrono::steady_clock::now();
      b->ExecuteJavaScript(0, "document.body.bgColor = location.href.includes('red') ? 'blue' : 'yellow'",
                           "", 1);
    }
    return d->centre == 0x0000ff;
  }, 10000)) << std::hex << d->centre;
  EXPECT_EQ(d->width, 320);
  EXPECT_EQ(d->height, 240);
  EXPECT_EQ(b->MainFrameId(), mainFrame);

  // Second crash: a command given while Chromium is started again is carried out
  // after the page has been restored, not lost and not undone by it.
  KillChromium(e);
  EXPECT_TRUE(e.Restarting());
  b->LoadUrl(0, "data:text/html,<body bgcolor=lime>");
  ASSERT_TRUE(Pump([&] { return e.Restarts() == 2 && !e.Restarting(); }, 20000));
  EXPECT_TRUE(Pump([&] { return d->centre == 0x00ff00; }, 10000));
  EXPECT_EQ(d->terminated, 0);

  // Third crash within the minute: no restart; the browser ends and says so.
  testing::internal::CaptureStderr();
  KillChromium(e);
  ASSERT_TRUE(Pump([&] { return d->terminated == 1; }, 5000));
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("3 times within a minute"), std::string::npos) << said;
  EXPECT_TRUE(e.Crashed());
  EXPECT_EQ(e.Restarts(), 2);
  EXPECT_FALSE(b->Valid());
  // The browser's operations are now harmless no-ops.
  b->LoadUrl(0, "about:blank");
  b->SendMouseClick({1, 1, 0}, 0, false, 1);
  b->ExecuteJavaScript(0, "1", "", 1);
  b->WasResized();
  b->Close();
  EXPECT_EQ(e.CreateBrowser(d, cefeng::BrowserOptions(), ""), nullptr);
  Pump([] { return false; }, 100);
  EXPECT_EQ(d->terminated, 1);
  e.Shutdown();
  EXPECT_TRUE(GoneWithin(dir, 3000));
}

namespace {

// A view whose size the test changes, as a parent does right after the start.
struct SizedDelegate : CrashDelegate {
  std::atomic<int> viewW{800}, viewH{600};
  bool GetViewRect(cefeng::Rect& r) override {
    r = {0, 0, viewW.load(), viewH.load()};
    return true;
  }
};

}  // namespace

// The first picture of a still page comes at once after a start, a resize and a
// navigation given together, without the screencast's watch starting it again. Then
// the page's renderer crashes: the browser stays, and the next load shows.
TEST(CefEngineProcess, FirstPictureNeedsNoWatchAndACrashedRendererComesBackAtTheNextLoad) {
  cefeng::Engine& e = cefeng::Engine::Get();
  std::string error;
  ASSERT_TRUE(e.Start(cefeng::EngineOptions(), error)) << error;
  auto d = std::make_shared<SizedDelegate>();
  auto b = e.CreateBrowser(d, cefeng::BrowserOptions(), "about:blank");
  ASSERT_NE(b, nullptr);
  d->viewW = 1024;
  d->viewH = 768;
  std::thread parent([&] {
    b->WasResized();
    b->LoadUrl(0, "data:text/html,<body style='background:rgb(0,0,255)'>still</body>");
  });
  parent.join();
  EXPECT_TRUE(Pump([&] { return d->centre == 0x0000ff && d->width == 1024 && d->height == 768; }, 10000))
      << std::hex << d->centre << std::dec << " " << d->width << "x" << d->height;
  EXPECT_EQ(b->ScreencastWatchRestarts(), 0);
  // One renderer for the one page: Chromium's start page and the identity question's
  // page are gone. (/usr/bin/chromium keeps one more for its own window's pages.)
  auto pageRenderers = [&] {
    return DescendantsWith(e.ChromiumPid(), "--type=renderer") - DescendantsWith(e.ChromiumPid(), "--top-chrome-webui");
  };
  EXPECT_TRUE(Pump([&] { return pageRenderers() == 1; }, 5000)) << pageRenderers();

  b->LoadUrl(0, "chrome://crash");
  ASSERT_TRUE(Pump([&] { return d->terminated == 1; }, 10000));
  EXPECT_TRUE(b->Valid());
  b->LoadUrl(0, "data:text/html,<body style='background:rgb(0,255,0)'>back</body>");
  EXPECT_TRUE(Pump([&] { return d->centre == 0x00ff00; }, 10000)) << std::hex << d->centre;
  EXPECT_EQ(e.Restarts(), 0);
  b->Close();
  e.Shutdown();
}
