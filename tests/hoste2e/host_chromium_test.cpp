// pv7host with the real engine library and Chromium, driven by a parent of the
// test over real sockets: every command's effect is seen on the wire.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/channel.h"
#include "host/streamut.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "xml/xmlSimple.h"

using platform::ChildProcess;
using platform::TcpListener;
using platform::TcpSocket;
using namespace std::chrono_literals;

namespace {

const std::string kHostPath = std::string(PV7_BIN_DIR) + "/pv7host";

// A tiny HTTP server: serves pages by path and keeps every request's header lines.
class THttpServer {
 public:
  THttpServer() : FThread([this] { Serve(); }) {}
  ~THttpServer() {
    FStop = true;
    FThread.join();
  }
  uint16_t Port() const { return FListener.Port(); }
  void Page(const std::string& path, const std::string& html) {
    std::lock_guard<std::mutex> g(FLock);
    FPages.emplace_back(path, html);
  }
  // The header block of the first request for `path` (empty when none came).
  std::string RequestFor(const std::string& path) {
    std::lock_guard<std::mutex> g(FLock);
    for (auto& [p, h] : FRequests)
      if (p == path) return h;
    return {};
  }

 private:
  void Serve() {
    while (!FStop) {
      TcpSocket s;
      try {
        s = FListener.Accept(50);
      } catch (...) {
        return;
      }
      if (!s.IsOpen()) continue;
      std::string req;
      char buf[4096];
      try {
        while (req.find("\r\n\r\n") == std::string::npos) req.append(buf, s.ReceiveSome(buf, sizeof buf, 2000));
      } catch (...) {
        continue;
      }
      size_t sp1 = req.find(' '), sp2 = req.find(' ', sp1 + 1);
      std::string path = req.substr(sp1 + 1, sp2 - sp1 - 1);
      std::string body = "not found";
      {
        std::lock_guard<std::mutex> g(FLock);
        FRequests.emplace_back(path, req);
        for (auto& [p, html] : FPages)
          if (p == path) body = html;
      }
      const bool download = path.rfind("/download", 0) == 0;
      const bool auth = path.rfind("/auth", 0) == 0;  // asks for credentials, never accepts
      std::string resp = std::string(auth ? "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"till\""
                                          : "HTTP/1.1 200 OK") +
                         "\r\nContent-Type: " +
                         (download ? "application/octet-stream\r\nContent-Disposition: attachment; "
                                     "filename=\"pv7-download.bin\""
                                   : "text/html") +
                         "\r\nContent-Length: " +
                         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
      try {
        s.SendAll(resp.data(), resp.size());
      } catch (...) {
      }
    }
  }

  TcpListener FListener;
  std::atomic<bool> FStop{false};
  std::mutex FLock;  // guards FPages, FRequests
  std::vector<std::pair<std::string, std::string>> FPages, FRequests;
  std::thread FThread;
};

struct TFrame {
  int width = 0, height = 0;
  std::string bmp;
  // BGR of pixel (x, y) of the bottom-up 24-bit picture.
  uint32_t Pixel(int x, int y) const {
    const size_t row = (size_t(width) * 3 + 3) & ~size_t(3);
    const char* p = bmp.data() + 54 + row * size_t(height - 1 - y) + size_t(x) * 3;
    return uint32_t(uint8_t(p[2])) << 16 | uint32_t(uint8_t(p[1])) << 8 | uint8_t(p[0]);
  }
};

// The parent's side: listens, starts the host, collects frames and console texts.
class THostFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    FWorkDir = std::filesystem::temp_directory_path() /
               ("pv7host-e2e-" + std::to_string(platform::GetCurrentProcessId()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(FWorkDir);
    FAcceptor = std::thread([this] { AcceptLoop(); });
    FHost.emplace(ChildProcess::Start(
        kHostPath, {"-drawPort=" + std::to_string(FListener.Port()), "-showSelf=0"}, FWorkDir));
    ASSERT_TRUE(WaitFor([&] { return FActn != nullptr && FDrawSeen; }, 15000)) << "no channels";
  }

  void TearDown() override {
    if (FHost && FHost->Running()) {
      Send("<Destroy/>");
      if (!FHost->Wait(10000)) FHost->Kill();
    }
    FStop = true;
    FAcceptor.join();
    for (std::thread& t : FThreads) t.join();
    std::error_code ec;
    std::filesystem::remove_all(FWorkDir, ec);
  }

  void Send(const std::string& doc) {
    std::lock_guard<std::mutex> g(FLock);
    WriteMessage(*FActn, doc.data(), int64_t(doc.size()));
  }
  void SendSize(int w, int h) {
    Send("<WindowSize><WndSzX>" + std::to_string(w) + "</WndSzX><WndSzY>" + std::to_string(h) +
         "</WndSzY></WindowSize>");
  }
  // Sets the view size. Known engine fault, still open: under load a resize right
  // after start can leave Chromium's screencast sending nothing; a second resize
  // starts it again, so a size that shows no frame within 4 s is asked for anew.
  void Resize(int w, int h) {
    SendSize(w, h);
    if (WaitFor([&] { return FLast.width == w && FLast.height == h; }, 4000)) return;
    SendSize(w + 1, h);
    SendSize(w, h);
  }
  void Load(const std::string& url, const std::string& headers = "") {
    Send("<LoadWEBURL><WEBURL>" + url + "</WEBURL><HEADERS>" + headers + "</HEADERS></LoadWEBURL>");
  }
  void Js(const std::string& code) { Send("<JavaScript>" + code + "</JavaScript>"); }

  template <class F>
  bool WaitFor(F done, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> g(FLock);
    while (!done()) {
      if (FChanged.wait_until(g, end) == std::cv_status::timeout) return done();
    }
    return true;
  }
  bool WaitConsole(const std::string& text, int ms = 10000) {
    return WaitFor([&] {
      for (const std::string& t : FConsole)
        if (t.find(text) != std::string::npos) return true;
      return false;
    }, ms);
  }
  // Clicks at (100, 100) until the console shows the text, ten tries of a second: the
  // page may not take input yet when its first frame comes.
  bool ClickUntilConsole(const std::string& text) {
    for (int i = 0; i < 10; ++i) {
      Send("<MouseClick><MouseX>100</MouseX><MouseY>100</MouseY></MouseClick>");
      if (WaitConsole(text, 1000)) return true;
    }
    return false;
  }
  // Waits for a frame of the size whose pixel (x, y) has the colour.
  // A wait that fails says what the last frame showed.
  bool WaitPixel(int w, int h, int x, int y, uint32_t rgb, int ms = 10000) {
    if (WaitFor([&] { return FLast.width == w && FLast.height == h && FLast.Pixel(x, y) == rgb; }, ms)) return true;
    std::lock_guard<std::mutex> g(FLock);
    const TFrame& last = FLast;
    std::fprintf(stderr, "no %dx%d frame with %06x at (%d, %d): %d frames, the last %dx%d with %06x there\n", w, h,
                 unsigned(rgb), x, y, int(FFrames), last.width, last.height,
                 last.width > x && last.height > y ? unsigned(last.Pixel(x, y)) : 0u);
    return false;
  }
  const std::filesystem::path& WorkDir() const { return FWorkDir; }
  TFrame LastFrame() {
    std::lock_guard<std::mutex> g(FLock);
    return FLast;
  }

  THttpServer FHttp;
  std::optional<ChildProcess> FHost;

 private:
  void AcceptLoop() {
    while (!FStop) {
      TcpSocket s = FListener.Accept(50);
      if (!s.IsOpen()) continue;
      auto sock = std::make_shared<TcpSocket>(std::move(s));
      FThreads.emplace_back([this, sock] { Serve(sock); });
    }
  }
  void Serve(std::shared_ptr<TcpSocket> s) {
    try {
      streamut::TMemoryStream m;
      ReadMessage(*s, m, 20000);
      std::string tag(m.View());
      if (tag == "ACTN") {
        std::lock_guard<std::mutex> g(FLock);
        FActn = s;
        FChanged.notify_all();
        return;
      }
      if (tag.rfind("CMSG", 0) == 0) {
        std::lock_guard<std::mutex> g(FLock);
        FConsole.push_back(tag.substr(4));
        FChanged.notify_all();
        return;
      }
      if (tag != "DRAW") return;
      {
        std::lock_guard<std::mutex> g(FLock);
        FDrawSeen = true;
        FChanged.notify_all();
      }
      for (;;) {  // until the host closes DRAW
        m.SetSize(0);
        ReadMessage(*s, m);
        TFrame f;
        f.bmp.assign(m.View());
        if (f.bmp.size() >= 54) {
          std::memcpy(&f.width, f.bmp.data() + 18, 4);
          std::memcpy(&f.height, f.bmp.data() + 22, 4);
        }
        std::lock_guard<std::mutex> g(FLock);
        FLast = std::move(f);
        ++FFrames;
        FChanged.notify_all();
      }
    } catch (...) {
    }
  }

  TcpListener FListener;
  std::filesystem::path FWorkDir;
  std::atomic<bool> FStop{false};
  std::thread FAcceptor;
  std::vector<std::thread> FThreads;

 protected:
  std::mutex FLock;  // guards everything below and the ACTN writes
  std::condition_variable FChanged;
  std::shared_ptr<TcpSocket> FActn;
  bool FDrawSeen = false;
  std::vector<std::string> FConsole;
  TFrame FLast;
  long FFrames = 0;
};

std::string DataPage(const std::string& html) { return "data:text/html," + html; }

}  // namespace

TEST_F(THostFixture, LargeViewSizeAskedOnceRightAfterStartGivesFramesOfThatSize) {
  // Asked once, before the engine's first frame: no second request helps here.
  SendSize(1920, 1080);
  Load("file://" + std::string(PV7_BIN_DIR) + "/demo/demo.html");
  EXPECT_TRUE(WaitFor([&] { return FLast.width == 1920 && FLast.height == 1080; }, 30000))
      << "last frame " << FLast.width << "x" << FLast.height;
}

TEST_F(THostFixture, WindowSizeGivesFramesOfThatSizeWithTheExactHeader) {
  Resize(300, 200);
  Load(DataPage("&lt;body style='margin:0;background:rgb(255,0,0)'&gt;"));
  ASSERT_TRUE(WaitPixel(300, 200, 150, 100, 0xFF0000));
  TFrame f = LastFrame();
  ASSERT_EQ(f.bmp.size(), 54u + 900u * 200u);
  EXPECT_EQ(f.bmp.substr(0, 2), "BM");
  uint32_t v;
  std::memcpy(&v, f.bmp.data() + 2, 4);
  EXPECT_EQ(v, 54u + 900u * 200u);
  std::memcpy(&v, f.bmp.data() + 10, 4);
  EXPECT_EQ(v, 54u);
  EXPECT_EQ(f.bmp[28], 24);
  Resize(120, 90);
  EXPECT_TRUE(WaitPixel(120, 90, 60, 45, 0xFF0000));
}

// Commands in the XML library's binary form work like their text.
TEST_F(THostFixture, BinaryFormCommandsWorkLikeTextOnes) {
  auto binary = [](const std::string& text) { return LoadXmlDocumentFromString(text)->GetBinaryXml(); };
  const std::string size = binary("<WindowSize><WndSzX>260</WndSzX><WndSzY>140</WndSzY></WindowSize>");
  ASSERT_EQ(size.rfind("< binary-xml >", 0), 0u);
  Send(binary("<LoadWEBURL><WEBURL>" +
              DataPage("&lt;body style='margin:0;background:rgb(0,255,0)'&gt;") +
              "</WEBURL></LoadWEBURL>"));
  // The size is asked again until a frame of it comes, as Resize does for text
  // commands (a size right after start can go unanswered).
  bool sized = false;
  for (int i = 0; i < 5 && !sized; ++i) {
    if (i > 0) {  // another size in between: the same size again would change nothing
      Send(binary("<WindowSize><WndSzX>" + std::to_string(260 + i) + "</WndSzX><WndSzY>140</WndSzY></WindowSize>"));
      std::this_thread::sleep_for(300ms);
    }
    Send(size);
    sized = WaitPixel(260, 140, 130, 70, 0x00FF00, 4000);
  }
  EXPECT_TRUE(sized);
  bool logged = false;
  for (int i = 0; i < 20 && !logged; ++i) {
    Send(binary("<JavaScript>console.log('from binary')</JavaScript>"));
    logged = WaitConsole("from binary", 500);
  }
  EXPECT_TRUE(logged);
}

TEST_F(THostFixture, ClickChangesPixelsAndTypedCharactersReachTheInput) {
  Resize(400, 300);
  Load(DataPage("&lt;body style='margin:0;background:rgb(0,0,255)'&gt;"
                "&lt;input id=i style='position:absolute;left:10px;top:200px;width:200px'&gt;"
                "&lt;div style='position:absolute;left:0;top:0;width:400px;height:150px' "
                "onclick=\"document.body.style.background='rgb(0,255,0)';"
                "document.getElementById('i').focus()\"&gt;&lt;/div&gt;"));
  ASSERT_TRUE(WaitPixel(400, 300, 300, 250, 0x0000FF));
  Send("<MouseClick><MouseX>100</MouseX><MouseY>50</MouseY></MouseClick>");
  ASSERT_TRUE(WaitPixel(400, 300, 300, 250, 0x00FF00));
  for (char c : std::string("ok7"))
    Send("<KeyPress keyType=\"KT_CHAR\" sysChar=\"FALSE\" key=\"" + std::to_string(int(c)) + "\"/>");
  bool typed = false;
  for (int i = 0; i < 20 && !typed; ++i) {
    Js("console.log('value=' + document.getElementById('i').value)");
    typed = WaitConsole("value=ok7", 500);
  }
  EXPECT_TRUE(typed);
}

TEST_F(THostFixture, WheelScrollsThePage) {
  FHttp.Page("/tall", "<body style='height:5000px'>tall</body>");
  Resize(300, 200);
  Load("http://127.0.0.1:" + std::to_string(FHttp.Port()) + "/tall");
  ASSERT_TRUE(WaitFor([&] { return !FHttp.RequestFor("/tall").empty(); }, 10000));
  bool scrolled = false;
  for (int i = 0; i < 20 && !scrolled; ++i) {
    Send("<MouseWheel><MouseX>100</MouseX><MouseY>100</MouseY><MouseDeltaX>0</MouseDeltaX>"
         "<MouseDeltaY>-240</MouseDeltaY></MouseWheel>");  // negative: down
    Js("console.log('scrolled ' + (window.scrollY > 0))");
    scrolled = WaitConsole("scrolled true", 500);
  }
  EXPECT_TRUE(scrolled);
}

TEST_F(THostFixture, HeaderListReachesTheServer) {
  FHttp.Page("/a", "<body>a</body>");
  FHttp.Page("/b", "<body>b</body>");
  Resize(200, 100);
  Load("http://127.0.0.1:" + std::to_string(FHttp.Port()) + "/a", "X-Till=7;X-Mode=test");
  ASSERT_TRUE(WaitFor([&] { return !FHttp.RequestFor("/a").empty(); }, 10000));
  std::string a = FHttp.RequestFor("/a");
  EXPECT_NE(a.find("X-Till: 7\r\n"), std::string::npos) << a;
  EXPECT_NE(a.find("X-Mode: test\r\n"), std::string::npos) << a;
  Load("http://127.0.0.1:" + std::to_string(FHttp.Port()) + "/b", "X-B=2");
  ASSERT_TRUE(WaitFor([&] { return !FHttp.RequestFor("/b").empty(); }, 10000));
  std::string b = FHttp.RequestFor("/b");
  EXPECT_NE(b.find("X-B: 2\r\n"), std::string::npos) << b;
  EXPECT_EQ(b.find("X-Till"), std::string::npos) << b;  // the new list replaced the old one
}

// Known fault, open: a name given twice reaches the server with its last value only.
TEST_F(THostFixture, RepeatedHeaderNameReachesTheServerWithBothValues) {
  FHttp.Page("/r", "<body>r</body>");
  Resize(200, 100);
  Load("http://127.0.0.1:" + std::to_string(FHttp.Port()) + "/r", "X-A=1;X-A=2");
  ASSERT_TRUE(WaitFor([&] { return !FHttp.RequestFor("/r").empty(); }, 10000));
  std::string r = FHttp.RequestFor("/r");
  EXPECT_TRUE(r.find("X-A: 1\r\nX-A: 2\r\n") != std::string::npos ||
              r.find("X-A: 1, 2\r\n") != std::string::npos) << r;
}

TEST_F(THostFixture, LinkWithATargetOfItsOwnOpensInTheSameView) {
  FHttp.Page("/first", "<body style='margin:0'><a id=l target=_blank href='/second' "
                       "style='display:block;width:300px;height:200px'>go</a></body>");
  FHttp.Page("/second", "<body><script>console.log('second page ' + location.pathname)</script>");
  Resize(300, 200);
  Load("http://127.0.0.1:" + std::to_string(FHttp.Port()) + "/first");
  ASSERT_TRUE(WaitFor([&] { return !FHttp.RequestFor("/first").empty() && FFrames > 0; }, 10000));
  bool opened = ClickUntilConsole("second page /second");
  EXPECT_TRUE(opened);
}

TEST_F(THostFixture, UnreachableAddressShowsTheErrorPage) {
  uint16_t closed;
  {
    TcpListener l;
    closed = l.Port();
  }
  Resize(400, 200);
  const std::string url = "http://127.0.0.1:" + std::to_string(closed) + "/";
  Load(url);
  bool shown = false;
  for (int i = 0; i < 20 && !shown; ++i) {
    Js("console.log('page: ' + document.body.innerText)");
    shown = WaitConsole("Error: net::ERR_CONNECTION_REFUSED (-102).", 500);
  }
  EXPECT_TRUE(shown);
  EXPECT_TRUE(WaitConsole("Failed to load URL " + url, 100));
}

TEST_F(THostFixture, DestroyEndsTheHostWithStatus0) {
  Send("<Destroy/>");
  std::optional<int> status = FHost->Wait(15000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);
}

// A page's dialogs never hold it: each is answered at once and reaches the parent
// as a console text, and a page that asks before it is left lets the next address in.
TEST_F(THostFixture, DialogsReachTheParentAndNeverHoldThePage) {
  const std::string base = "http://127.0.0.1:" + std::to_string(FHttp.Port());
  FHttp.Page("/pay", "<body style='margin:0'><div style='width:300px;height:200px'></div><script>"
                     "alert('Card declined'); console.log('asked ' + confirm('Retry?'));"
                     "onbeforeunload = e => { e.preventDefault(); e.returnValue = 'stay'; };"
                     "document.body.onclick = () => console.log('touched');</script></body>");
  FHttp.Page("/next", "<body><script>console.log('next page')</script></body>");
  Resize(300, 200);
  Load(base + "/pay");
  ASSERT_TRUE(WaitConsole("alert: Card declined"));
  ASSERT_TRUE(WaitConsole("asked false"));
  bool touched = ClickUntilConsole("touched");
  ASSERT_TRUE(touched);
  Load(base + "/next");
  EXPECT_TRUE(WaitConsole("next page", 15000));
  EXPECT_TRUE(WaitConsole("beforeunload: ", 100));
}

// A page that misbehaves never takes the view with it: after each, the next address
// still loads into the same view.
TEST_F(THostFixture, AMisbehavingPageNeverTakesTheView) {
  const std::string base = "http://127.0.0.1:" + std::to_string(FHttp.Port());
  // The page's own top-level close() still declares, as it would in a desktop browser.
  FHttp.Page("/close", "<body><script>window.close(); console.log('still here')</script>"
                       "<script>function close() {} console.log('own close declared')</script></body>");
  FHttp.Page("/endless", "<body><script>setTimeout(() => { for (;;) {} }, 0)</script></body>");
  FHttp.Page("/download.bin", "payload");
  FHttp.Page("/chooser", "<body style='margin:0'><input type=file id=f "
                         "style='position:absolute;left:0;top:0;width:300px;height:200px'></body>");
  for (const char* name : {"/one", "/two", "/three", "/four"})
    FHttp.Page(name, std::string("<body style='margin:0;background:rgb(0,255,0)'><script>console.log('loaded ") +
                         name + "')</script></body>");
  Resize(300, 200);

  Load(base + "/close");
  ASSERT_TRUE(WaitConsole("still here"));
  EXPECT_TRUE(WaitConsole("window.close() ignored"));
  EXPECT_TRUE(WaitConsole("own close declared"));
  Load(base + "/one");
  EXPECT_TRUE(WaitConsole("loaded /one"));

  Load(base + "/endless");
  ASSERT_TRUE(WaitFor([&] { return !FHttp.RequestFor("/endless").empty(); }, 10000));
  std::this_thread::sleep_for(500ms);
  Load(base + "/two");
  EXPECT_TRUE(WaitConsole("loaded /two", 20000));

  // A download: refused, nothing written, the view keeps its page.
  ASSERT_TRUE(WaitPixel(300, 200, 150, 100, 0x00FF00));
  Load(base + "/download.bin");
  ASSERT_TRUE(WaitFor([&] { return !FHttp.RequestFor("/download.bin").empty(); }, 10000));
  std::this_thread::sleep_for(1s);
  EXPECT_TRUE(WaitPixel(300, 200, 150, 100, 0x00FF00, 100));
  const char* home = std::getenv("HOME");
  for (const std::filesystem::path& dir :
       {WorkDir(), std::filesystem::path(home ? home : "/nonexistent") / "Downloads"}) {
    std::error_code ec;
    for (auto& e : std::filesystem::recursive_directory_iterator(dir, ec))
      EXPECT_EQ(e.path().filename().string().find("pv7-download"), std::string::npos) << e.path();
  }

  // A file chooser: taken over, so none opens and the page goes on.
  Load(base + "/chooser");
  ASSERT_TRUE(WaitFor([&] { return !FHttp.RequestFor("/chooser").empty() && FFrames > 0; }, 10000));
  bool cancelled = ClickUntilConsole("file chooser cancelled");
  EXPECT_TRUE(cancelled);
  Load(base + "/three");
  EXPECT_TRUE(WaitConsole("loaded /three"));
}

// The page's renderer crashes: the view comes back with the next address.
TEST_F(THostFixture, ACrashedRendererComesBackAtTheNextLoad) {
  Resize(300, 200);
  Load(DataPage("&lt;body style='margin:0;background:rgb(0,255,0)'&gt;"));
  ASSERT_TRUE(WaitPixel(300, 200, 150, 100, 0x00FF00));
  Load("chrome://crash");
  std::this_thread::sleep_for(1s);  // the crash is not reported to the parent
  Load(DataPage("&lt;body style='margin:0;background:rgb(0,0,255)'&gt;&lt;script&gt;console.log('back')&lt;/script&gt;"));
  EXPECT_TRUE(WaitConsole("back"));
  EXPECT_TRUE(WaitPixel(300, 200, 150, 100, 0x0000FF));
}

TEST_F(THostFixture, AuthenticationAndCertificateErrorsShowTheirPages) {
  FHttp.Page("/auth", "<body>login needed</body>");
  Resize(400, 200);
  Load("http://127.0.0.1:" + std::to_string(FHttp.Port()) + "/auth");
  bool shown = false;
  for (int i = 0; i < 20 && !shown; ++i) {
    Js("console.log('page: ' + document.body.innerText)");
    shown = WaitConsole("page: login needed", 500);
  }
  EXPECT_TRUE(shown);

  const std::filesystem::path portFile = WorkDir() / "https.port";
  ChildProcess https = ChildProcess::Start(
      "/usr/bin/env", {"python3", (std::filesystem::path(__FILE__).parent_path() / "https_server.py").string(),
                       portFile.string()},
      WorkDir());
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(portFile); }, 15000));
  std::string port;
  std::getline(*std::make_unique<std::ifstream>(portFile), port);
  Load("https://127.0.0.1:" + port + "/");
  shown = false;
  for (int i = 0; i < 20 && !shown; ++i) {
    Js("console.log('page: ' + document.body.innerText)");
    shown = WaitConsole("(-202).", 500);
  }
  EXPECT_TRUE(shown);
  EXPECT_FALSE(WaitConsole("page: secret", 100));
  https.Kill();
}

// ---------------------------------------------------------------- pop-up widgets

// A parent's form on a blue page, which reports its fields' input and change.
class TWidgetFixture : public THostFixture {
 protected:
  static constexpr uint32_t kBlue = 0x0000FF;

  void LoadForm(const std::string& body) {
    Resize(400, 300);
    Load(DataPage("&lt;body style='margin:0;background:rgb(0,0,255)'&gt;" + body +
                  "&lt;script&gt;for (const e of document.querySelectorAll('select,input')) {"
                  " e.oninput = () =&gt; console.log('input ' + e.id + '=' + e.value);"
                  " e.onchange = () =&gt; console.log('change ' + e.id + '=' + e.value); }"
                  " console.log('form ready')&lt;/script&gt;"));
    ASSERT_TRUE(WaitConsole("form ready"));
    ASSERT_TRUE(WaitPixel(400, 300, 390, 290, kBlue));
  }
  void Click(int x, int y) {
    Send("<MouseClick><MouseX>" + std::to_string(x) + "</MouseX><MouseY>" + std::to_string(y) +
         "</MouseY></MouseClick>");
  }
  // A key as the parent sends it: down, its character (Enter's 13), up.
  void Key(int vk, int modifiers = 0) {
    for (const char* type : {"KT_KEYDOWN", "KT_CHAR", "KT_KEYUP"})
      if (vk == 13 || std::strcmp(type, "KT_CHAR") != 0)
        Send(std::string("<KeyPress keyType=\"") + type + "\" sysChar=\"" + (modifiers & 8 ? "TRUE" : "FALSE") +
             "\" key=\"" + std::to_string(vk) + "\" modifiers=\"" + std::to_string(modifiers) + "\"/>");
  }
  void Type(const std::string& text) {
    for (char c : text)
      Send("<KeyPress keyType=\"KT_CHAR\" sysChar=\"FALSE\" key=\"" + std::to_string(int(c)) + "\"/>");
  }
  bool Blue(int x, int y) { return LastFrame().Pixel(x, y) == kBlue; }
  // Waits until the frames show (or no longer show) something over the page at (x, y).
  bool WaitCovered(int x, int y, bool covered) {
    return WaitFor([&] { return FLast.width == 400 && (FLast.Pixel(x, y) != kBlue) == covered; }, 10000);
  }
  // The page's answer to a script that logs "tag value".
  std::string Ask(const std::string& tag, const std::string& expr) {
    const size_t before = ConsoleCount();
    Js("console.log('" + tag + " ' + (" + expr + "))");
    std::string found;
    WaitFor([&] {
      for (size_t i = before; i < FConsole.size(); ++i)
        if (FConsole[i].rfind(tag + " ", 0) == 0) found = FConsole[i].substr(tag.size() + 1);
      return !found.empty();
    }, 10000);
    return found;
  }
  size_t ConsoleCount() {
    std::lock_guard<std::mutex> g(FLock);
    return FConsole.size();
  }
};

// A form's list, 160 px wide at (20, 100), 30 px high; "three" is disabled. The page
// styles its lists itself and sets its own adopted sheets, as pages do; a second list
// lives in a component's shadow root.
const char* kListForm =
    "&lt;select id=s style='position:absolute;left:20px;top:100px;width:160px;height:30px'&gt;"
    "&lt;option&gt;one&lt;option&gt;two&lt;option disabled&gt;three&lt;option&gt;four&lt;option&gt;five"
    "&lt;/select&gt;&lt;div id=c&gt;&lt;/div&gt;&lt;script&gt;const own = new CSSStyleSheet();"
    " own.replaceSync('select { appearance: none; border: 2px solid red }');"
    " document.adoptedStyleSheets = [own];"
    " c.attachShadow({mode: 'open'}).innerHTML = '&lt;select&gt;&lt;option&gt;a&lt;/select&gt;'&lt;/script&gt;";

// The list shows in the frames below its control, takes a click on an option, and
// closes on a click outside it and on Escape.
TEST_F(TWidgetFixture, ADropDownListShowsBelowItsControlTakesAClickAndClosesOutsideAndOnEscape) {
  ASSERT_NO_FATAL_FAILURE(LoadForm(kListForm));
  EXPECT_EQ(Ask("in the shadow", "getComputedStyle(c.shadowRoot.firstChild).appearance"), "base-select");
  // A shadow root of another document cannot take this document's sheet: it is made all the same.
  EXPECT_EQ(Ask("foreign root", "(() => { try { document.implementation.createHTMLDocument('')"
                                ".createElement('div').attachShadow({mode: 'open'}); return 'made' }"
                                " catch (e) { return e.name } })()"), "made");
  ASSERT_TRUE(Blue(100, 150));
  Click(100, 115);
  ASSERT_TRUE(WaitCovered(100, 150, true)) << "no list in the frames";
  EXPECT_TRUE(Blue(100, 95));   // nothing above the control
  EXPECT_TRUE(Blue(300, 150));  // nor beside the list
  const std::string at = Ask("four at", "(r => Math.round(r.x + r.width / 2) + ',' + Math.round(r.y + r.height / 2))"
                                        "(s.options[3].getBoundingClientRect())");
  int x = 0, y = 0;
  ASSERT_EQ(std::sscanf(at.c_str(), "%d,%d", &x, &y), 2) << at;
  EXPECT_GT(y, 130);  // below the control's bottom edge
  EXPECT_FALSE(Blue(x, y));
  Click(x, y);
  EXPECT_TRUE(WaitConsole("input s=four"));
  EXPECT_TRUE(WaitConsole("change s=four"));
  EXPECT_TRUE(WaitCovered(100, 150, false));

  Click(100, 115);
  ASSERT_TRUE(WaitCovered(100, 150, true));
  Click(350, 280);
  EXPECT_TRUE(WaitCovered(100, 150, false)) << "a click outside left the list open";

  Click(100, 115);
  ASSERT_TRUE(WaitCovered(100, 150, true));
  Key(27);
  EXPECT_TRUE(WaitCovered(100, 150, false)) << "Escape left the list open";
  EXPECT_EQ(Ask("value", "s.value"), "four");
}

// The keyboard as on the desktop: on an open list Up and Down move over the enabled
// options and Enter takes one; on a focused, closed list Up and Down change the value.
TEST_F(TWidgetFixture, ADropDownListFollowsTheDesktopKeys) {
  ASSERT_NO_FATAL_FAILURE(LoadForm(kListForm));
  Click(100, 115);
  ASSERT_TRUE(WaitCovered(100, 150, true));
  Key(40);  // two
  Key(40);  // four: three is disabled
  Key(38);  // two
  Key(40);  // four
  Key(13);
  EXPECT_TRUE(WaitConsole("change s=four"));
  EXPECT_TRUE(WaitCovered(100, 150, false));

  Key(40);  // closed: five, and the list stays closed
  EXPECT_TRUE(WaitConsole("input s=five"));
  EXPECT_TRUE(WaitConsole("change s=five"));
  Key(38);
  Key(38);  // four, then two past the disabled three
  EXPECT_TRUE(WaitConsole("change s=two"));
  EXPECT_TRUE(Blue(100, 150));
  EXPECT_EQ(Ask("open", "s.matches(':open')"), "false");

  Key(40, 8);  // Alt+Down opens it
  EXPECT_TRUE(WaitCovered(100, 150, true));
}

// The other widgets from the keyboard: a date and a time field are typed segment by
// segment, with no picker to take the keys; a colour field opens a field for its
// colour in the page, below it, where Enter takes #rrggbb.
TEST_F(TWidgetFixture, DateTimeAndColourFieldsWorkFromTheKeyboard) {
  ASSERT_NO_FATAL_FAILURE(LoadForm(
      "&lt;input type=date id=d style='position:absolute;left:20px;top:20px;width:200px;height:26px'&gt;"
      "&lt;input type=time id=t style='position:absolute;left:20px;top:60px;width:200px;height:26px'&gt;"
      "&lt;input type=color id=c value='%23ff0000' style='position:absolute;left:260px;top:20px;width:60px;height:30px'&gt;"));
  Click(30, 33);
  Key(40, 8);  // Alt+Down: no picker, the keys stay in the field
  Type("03152024");
  EXPECT_TRUE(WaitConsole("change d=2024-03-15"));
  Key(38);  // the year segment, one up
  EXPECT_TRUE(WaitConsole("change d=2025-03-15"));
  Click(30, 73);
  Type("0930p");
  EXPECT_TRUE(WaitConsole("change t=21:30"));

  ASSERT_TRUE(Blue(290, 65));
  Key(9);  // Tab to the colour field, Enter opens its chooser
  Key(13);
  ASSERT_TRUE(WaitCovered(290, 65, true)) << "no colour chooser in the frames";
  Type("#00ff00");
  Key(13);
  EXPECT_TRUE(WaitConsole("input c=#00ff00"));
  EXPECT_TRUE(WaitConsole("change c=#00ff00"));
  EXPECT_TRUE(WaitCovered(290, 65, false));
  Click(290, 35);
  ASSERT_TRUE(WaitCovered(290, 65, true));
  Key(27);
  EXPECT_TRUE(WaitCovered(290, 65, false)) << "Escape left the chooser open";
}

// A text field's datalist suggests in the page, below the field: what is typed
// filters the options, Down and Enter or a click take one, Escape closes them.
TEST_F(TWidgetFixture, ADatalistSuggestsInThePageFromTheKeysAndTheMouse) {
  ASSERT_NO_FATAL_FAILURE(LoadForm(
      "&lt;input id=f list=l style='position:absolute;left:20px;top:20px;width:200px;height:26px'&gt;"
      "&lt;datalist id=l&gt;&lt;option value=Apple&gt;&lt;option value=Banana&gt;&lt;option value=Mango&gt;"
      "&lt;option value=Cherry&gt;&lt;/datalist&gt;"));
  ASSERT_TRUE(Blue(60, 60));
  Click(60, 33);
  Type("an");
  ASSERT_TRUE(WaitCovered(60, 60, true)) << "no suggestions in the frames";
  Key(40);  // Banana
  Key(40);  // Mango
  Key(13);
  EXPECT_TRUE(WaitConsole("change f=Mango"));
  EXPECT_TRUE(WaitCovered(60, 60, false));
  Key(40);  // Down offers them all
  ASSERT_TRUE(WaitCovered(60, 60, true));
  Key(27);
  EXPECT_TRUE(WaitCovered(60, 60, false)) << "Escape left the suggestions open";
  Key(40);
  ASSERT_TRUE(WaitCovered(60, 60, true));
  Click(60, 58);  // the first row: Apple
  EXPECT_TRUE(WaitConsole("change f=Apple"));
  EXPECT_TRUE(WaitCovered(60, 60, false));
}
