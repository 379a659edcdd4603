// PV7APIv1.CallPV7XML end to end: pv7host with the real engine library and
// Chromium, its render helper, and a parent of the test on real sockets that
// answers every INTF request.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge_support.h"
#include "host/channel.h"
#include "host/streamut.h"
#include "http_server.h"
#include "platform/process.h"
#include "platform/socket.h"

using platform::ChildProcess;
using platform::TcpListener;
using platform::TcpSocket;

namespace {

const std::string kHostPath = std::string(PV7_BIN_DIR) + "/pv7host";

std::string XmlText(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

// One INTF connection as the parent saw it.
struct TIntf {
  std::string tag;
  std::vector<std::string> requests;
};

class TBridgeHost : public ::testing::Test {
 protected:
  using TResponder = std::function<std::optional<std::string>(const std::string&)>;
  // How the parent answers each INTF request; nullopt: it never answers that one.
  void SetResponder(TResponder r) {
    std::lock_guard<std::mutex> g(FLock);
    FResponder = std::move(r);
  }

  void SetUp() override {
    FWorkDir = std::filesystem::temp_directory_path() /
               ("pv7-bridge-" + std::to_string(platform::GetCurrentProcessId()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(FWorkDir);
    FAcceptor = std::thread([this] { AcceptLoop(); });
    FHost.emplace(ChildProcess::Start(
        kHostPath, {"-drawPort=" + std::to_string(FListener.Port()), "-showSelf=0"}, FWorkDir.string()));
    ASSERT_TRUE(WaitFor([&] { return FActn != nullptr; }, 20000)) << "no ACTN channel";
  }

  void TearDown() override {
    if (FHost && FHost->Running()) {
      Send("<Destroy/>");
      if (!FHost->Wait(10000)) FHost->Kill();
    }
    FStop = true;
    {
      std::lock_guard<std::mutex> g(FLock);
      for (auto& s : FOpen) s->Shutdown();
    }
    FAcceptor.join();
    for (std::thread& t : FThreads) t.join();
    std::error_code ec;
    std::filesystem::remove_all(FWorkDir, ec);
  }

  void Send(const std::string& doc) {
    std::lock_guard<std::mutex> g(FActnLock);
    WriteMessage(*FActn, doc.data(), int64_t(doc.size()));
  }
  void Js(const std::string& code) { Send("<JavaScript>" + XmlText(code) + "</JavaScript>"); }
  void Load(const std::string& url) {
    Send("<LoadWEBURL><WEBURL>" + XmlText(url) + "</WEBURL><HEADERS></HEADERS></LoadWEBURL>");
  }

  template <class F>
  bool WaitFor(F done, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> g(FLock);
    while (!done())
      if (FChanged.wait_until(g, end) == std::cv_status::timeout) return done();
    return true;
  }
  // The console text that starts with `prefix` (nullopt when none came in time).
  std::optional<std::string> Console(const std::string& prefix, int ms = 20000) {
    std::optional<std::string> found;
    WaitFor([&] {
      for (const std::string& t : FConsole)
        if (t.rfind(prefix, 0) == 0) {
          found = t;
          return true;
        }
      return false;
    }, ms);
    return found;
  }
  std::vector<TIntf> Intf() {
    std::lock_guard<std::mutex> g(FLock);
    return FIntf;
  }

  TcpListener FListener;
  std::optional<ChildProcess> FHost;
  std::mutex FLock;  // guards what follows
  std::condition_variable FChanged;
  std::shared_ptr<TcpSocket> FActn;
  std::vector<std::string> FConsole;
  std::vector<TIntf> FIntf;
  TResponder FResponder = [](const std::string& r) {
    return std::optional<std::string>("<Ans>" + r + "</Ans>");
  };

 private:
  void AcceptLoop() {
    while (!FStop) {
      TcpSocket s = FListener.Accept(50);
      if (!s.IsOpen()) continue;
      auto sock = std::make_shared<TcpSocket>(std::move(s));
      std::lock_guard<std::mutex> g(FLock);
      FOpen.push_back(sock);
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
      if (tag == "INTF") {
        size_t index;
        {
          std::lock_guard<std::mutex> g(FLock);
          index = FIntf.size();
          FIntf.push_back({tag, {}});
          FChanged.notify_all();
        }
        for (;;) {
          m.SetSize(0);
          ReadMessage(*s, m);
          std::string request(m.View());
          {
            std::lock_guard<std::mutex> g(FLock);
            FIntf[index].requests.push_back(request);
            FChanged.notify_all();
          }
          TResponder responder;
          {
            std::lock_guard<std::mutex> g(FLock);
            responder = FResponder;
          }
          std::optional<std::string> reply = responder(request);
          if (reply) WriteMessage(*s, reply->data(), int64_t(reply->size()));
        }
      }
      for (;;) {  // DRAW: frames until the host closes it
        m.SetSize(0);
        ReadMessage(*s, m);
      }
    } catch (...) {
    }
  }

  std::filesystem::path FWorkDir;
  std::atomic<bool> FStop{false};
  std::mutex FActnLock;
  std::thread FAcceptor;
  std::vector<std::shared_ptr<TcpSocket>> FOpen;
  std::vector<std::thread> FThreads;
};

}  // namespace

TEST_F(TBridgeHost, RequestsTravelOnOneIntfConnectionAndRepliesReturnToThePage) {
  Js("console.log('r1=' + PV7APIv1.CallPV7XML('<Req a=\"1\"/>'));"
     "console.log('r2=' + PV7APIv1.CallPV7XML());"
     "console.log('r3=' + PV7APIv1.CallPV7XML(42));");
  auto r3 = Console("r3=");
  ASSERT_TRUE(r3.has_value());
  EXPECT_EQ(*Console("r1="), "r1=<Ans><Req a=\"1\"/></Ans>");
  EXPECT_EQ(*Console("r2="), "r2=<Ans></Ans>");
  EXPECT_EQ(*r3, "r3=<Ans></Ans>");
  std::vector<TIntf> intf = Intf();
  ASSERT_EQ(intf.size(), 1u);  // one tag, then three request/reply pairs
  EXPECT_EQ(intf[0].tag, "INTF");
  ASSERT_EQ(intf[0].requests.size(), 3u);
  EXPECT_EQ(intf[0].requests[0], "<Req a=\"1\"/>");
  EXPECT_EQ(intf[0].requests[1], "");  // no argument: a message of length 0
  EXPECT_EQ(intf[0].requests[2], "");  // a number: likewise
}

TEST_F(TBridgeHost, ReplyIsCutAtAZeroByteAndRequestsTravelInTheAnsiCodePage) {
  SetResponder([](const std::string&) { return std::optional<std::string>(std::string("abc\0def", 7)); });
  // U+20AC is 0x80 in Windows-1252, U+4E00 has no place there and becomes "?".
  Js("console.log('cut=' + PV7APIv1.CallPV7XML('x\\u20acy\\u4e00z') + '|')");
  EXPECT_EQ(Console("cut=").value_or(""), "cut=abc|");
  std::vector<TIntf> intf = Intf();
  ASSERT_EQ(intf.size(), 1u);
  ASSERT_EQ(intf[0].requests.size(), 1u);
  EXPECT_EQ(intf[0].requests[0], std::string("x\x80y?z"));
}

TEST_F(TBridgeHost, ReplyInTheAnsiCodePageReachesThePageAsUnicode) {
  SetResponder([](const std::string&) { return std::optional<std::string>("\xe9\x80"); });
  Js("var s = PV7APIv1.CallPV7XML('q'); console.log('codes=' + s.charCodeAt(0) + ',' + s.charCodeAt(1))");
  EXPECT_EQ(Console("codes=").value_or(""), "codes=233,8364");
}

TEST_F(TBridgeHost, FirstPageHasTheApiAndTheHelperCarriesTheDrawPort) {
  Load("data:text/html,<script>console.log('first=' + typeof PV7APIv1 + ' ' + "
       "PV7APIv1.CallPV7XML('<Load/>'))</script>");
  EXPECT_EQ(Console("first=").value_or(""), "first=object <Ans><Load/></Ans>");
  std::vector<int> helpers = RenderHelpersOf(FHost->Pid());
  ASSERT_EQ(helpers.size(), 1u);
  std::vector<std::string> args = CommandLineOf(helpers[0]);
  std::string port = "--drawPort=" + std::to_string(FListener.Port());
  EXPECT_NE(std::find(args.begin(), args.end(), port), args.end());
  EXPECT_NE(std::find(args.begin(), args.end(), "--type=renderer"), args.end());
}

TEST_F(TBridgeHost, ParentThatNeverAnswersGivesTheNoCallbackTextAndTheNextCallConnectsAgain) {
  std::atomic<int> calls{0};
  SetResponder([&](const std::string& r) -> std::optional<std::string> {
    if (calls++ == 0) return std::nullopt;
    return "late " + r;
  });
  auto start = std::chrono::steady_clock::now();
  Js("console.log('silent=' + PV7APIv1.CallPV7XML('one'))");
  auto silent = Console("silent=", 30000);
  ASSERT_TRUE(silent.has_value());
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  std::vector<int> helpers = RenderHelpersOf(FHost->Pid());
  ASSERT_EQ(helpers.size(), 1u);
  EXPECT_EQ(*silent, "silent=PV7APIv1.CallPV7XML: no callback in process " + std::to_string(helpers[0]) +
                         " (port: " + std::to_string(FListener.Port()) + ")");
  EXPECT_GE(waited.count(), 4500) << "the read time-out is 5000 ms";
  // The page goes on; the dropped connection is made anew for the next call.
  Js("console.log('again=' + PV7APIv1.CallPV7XML('two'))");
  EXPECT_EQ(Console("again=").value_or(""), "again=late two");
  std::vector<TIntf> intf = Intf();
  ASSERT_EQ(intf.size(), 2u);
  EXPECT_EQ(intf[1].requests, std::vector<std::string>{"two"});
}

TEST_F(TBridgeHost, NoHelperRemainsAfterDestroy) {
  Js("console.log('up=' + PV7APIv1.CallPV7XML('x'))");
  ASSERT_TRUE(Console("up=").has_value());
  std::vector<int> helpers = RenderHelpersOf(FHost->Pid());
  ASSERT_EQ(helpers.size(), 1u);
  Send("<Destroy/>");
  ASSERT_TRUE(FHost->Wait(15000).has_value());
  EXPECT_TRUE(WaitGone(helpers[0], 10000));
}

TEST_F(TBridgeHost, NoHelperRemainsAfterTheHostIsKilled) {
  Js("console.log('up=' + PV7APIv1.CallPV7XML('x'))");
  ASSERT_TRUE(Console("up=").has_value());
  std::vector<int> helpers = RenderHelpersOf(FHost->Pid());
  ASSERT_EQ(helpers.size(), 1u);
  FHost->Kill(SIGKILL);
  ASSERT_TRUE(FHost->Wait(10000).has_value());
  EXPECT_TRUE(WaitGone(helpers[0], 10000));
}

TEST_F(TBridgeHost, FramesOfThePageHaveTheApiToo) {
  Load("data:text/html,<iframe srcdoc=\"<script>console.log('inner=' + "
       "PV7APIv1.CallPV7XML('<Frame/>'))</script>\"></iframe>");
  EXPECT_EQ(Console("inner=").value_or(""), "inner=<Ans><Frame/></Ans>");
}

TEST_F(TBridgeHost, CrossSiteFrameHasTheApiAndItsConsoleArrives) {
  // localhost and 127.0.0.1 are different sites: Chromium would put the inner
  // frame in a process of its own unless the engine keeps a page in one.
  pv7test::HttpServer http;
  http.Serve("/inner", "<script>console.log('cross=' + PV7APIv1.CallPV7XML('<X/>'))</script>");
  http.Serve("/outer", "<iframe src='http://localhost:" + std::to_string(http.Port()) +
                           "/inner'></iframe>");
  Load(http.Url("/outer"));
  EXPECT_EQ(Console("cross=").value_or(""), "cross=<Ans><X/></Ans>");
}
