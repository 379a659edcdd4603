// pv7host as a real process (beside the scripted engine library) against a real
// listening socket: the wire order, start-up failures, the reader loop, the watchdog.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "host/channel.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "xml/stream.h"

using platform::ChildProcess;
using platform::TcpListener;
using platform::TcpSocket;

namespace {

const std::string kHost = std::string(PV7_TEST_DIR) + "/scripted/pv7host-e2e";

std::string ReadFrame(TcpSocket& s, int timeoutMs = 5000) {
  TMemoryStream m;
  ReadMessage(s, m, timeoutMs);
  return std::string(static_cast<const char*>(m.Memory()), size_t(m.GetSize()));
}

void Send(TcpSocket& s, const std::string& text) {
  WriteMessage(s, text.data(), int64_t(text.size()));
}

// The engine's call log of one host run.
struct TCallLog {
  std::string path;
  TCallLog() {
    path = std::string(PV7_TEST_DIR) + "/host-e2e-" + std::to_string(platform::GetCurrentProcessId()) +
           "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
    std::remove(path.c_str());
    setenv("PV7_SCRIPTED_LOG", path.c_str(), 1);
  }
  ~TCallLog() {
    unsetenv("PV7_SCRIPTED_LOG");
    std::remove(path.c_str());
  }
  std::string Text() const {
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  // Polls until the log holds `needle` (the host works asynchronously).
  bool WaitFor(const std::string& needle, int timeoutMs = 3000) const {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      if (Text().find(needle) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
};

// A host started against a listener, with its ACTN and DRAW connections accepted.
struct TRunningHost {
  TcpListener listener;
  std::optional<ChildProcess> host;
  TcpSocket actn, draw;
  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"-drawPort=" + std::to_string(listener.Port()), "-showSelf=0"};
    args.insert(args.end(), extra.begin(), extra.end());
    host.emplace(ChildProcess::Start(kHost, args));
    actn = listener.Accept(5000);
    ASSERT_TRUE(actn.IsOpen()) << "no ACTN connection";
    ASSERT_EQ(ReadFrame(actn), "ACTN");
    draw = listener.Accept(5000);
    ASSERT_TRUE(draw.IsOpen()) << "no DRAW connection";
    ASSERT_EQ(ReadFrame(draw), "DRAW");
  }
};

// Polls until the process runs a thread of that name (the watch starts after the
// channels are open, so the tag frames alone do not tell that it is in place).
bool WaitForThread(int pid, const std::string& name, int timeoutMs = 3000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  while (std::chrono::steady_clock::now() < end) {
    std::error_code ec;
    for (const auto& t : std::filesystem::directory_iterator(tasks, ec)) {
      std::ifstream comm(t.path() / "comm");
      std::string line;
      if (std::getline(comm, line) && line == name) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

TEST(HostProcessWire, ActnThenDrawThenDestroyEndsWithStatus0) {
  TcpListener listener;
  ChildProcess host = ChildProcess::Start(
      kHost, {"-drawPort=" + std::to_string(listener.Port()), "-parentID=0", "-showSelf=0"});
  TcpSocket actn = listener.Accept(5000);
  ASSERT_TRUE(actn.IsOpen());
  uint8_t first[8];
  actn.ReceiveAll(first, 8, 5000);
  const uint8_t expected[8] = {0x00, 0x00, 0x00, 0x04, 0x41, 0x43, 0x54, 0x4E};
  EXPECT_EQ(0, std::memcmp(first, expected, 8));
  TcpSocket draw = listener.Accept(5000);
  ASSERT_TRUE(draw.IsOpen());
  EXPECT_EQ(ReadFrame(draw), "DRAW");
  Send(actn, "<Destroy/>");
  std::optional<int> status = host.Wait(5000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);
}

// A failed start is no success: status 3 for the missing parent; a shown host
// without a display fails first, on its window (status 2).
TEST(HostProcessWire, NobodyListeningEndsAtOnceWithAFailureStatus) {
  uint16_t port;
  {
    TcpListener probe;  // a port that was free a moment ago and is now closed
    port = probe.Port();
  }
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  ::unsetenv("DISPLAY");
  for (auto [show, expected] : {std::pair{"-showSelf=0", 3}, std::pair{"-showSelf=1", 2}}) {
    ChildProcess host = ChildProcess::Start(kHost, {"-drawPort=" + std::to_string(port), show});
    std::optional<int> status = host.Wait(5000);
    ASSERT_TRUE(status.has_value()) << show;
    EXPECT_EQ(*status, expected) << show;
  }
  if (display) ::setenv("DISPLAY", saved.c_str(), 1);
}

TEST(HostProcessWire, DrawPort70000ConnectsTo4464) {
  std::optional<TcpListener> listener;
  try {
    listener.emplace(4464);
  } catch (const std::exception&) {
    GTEST_SKIP() << "port 4464 is in use here";
  }
  ChildProcess host = ChildProcess::Start(kHost, {"-drawPort=70000", "-showSelf=0"});
  TcpSocket actn = listener->Accept(5000);
  ASSERT_TRUE(actn.IsOpen());
  EXPECT_EQ(ReadFrame(actn), "ACTN");
  Send(actn, "<Destroy/>");
  std::optional<int> status = host.Wait(5000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);
}

TEST(HostProcessReader, EmptyAndUnknownMessagesAreSkippedAndLaterCommandsRun) {
  TCallLog log;
  TRunningHost h;
  ASSERT_NO_FATAL_FAILURE(h.Start());
  Send(h.actn, "");
  Send(h.actn, "<Unknown><MouseX>1</MouseX></Unknown>");
  Send(h.actn, "<mouseclick><MouseX>120</MouseX><MouseY>45</MouseY></mouseclick>");
  EXPECT_TRUE(log.WaitFor("host.send_mouse_click_event x=120 y=45 mods=16"));
  EXPECT_EQ(log.Text().find("x=1 "), std::string::npos);
  Send(h.actn, "<Destroy/>");
  std::optional<int> status = h.host->Wait(5000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);
}

TEST(HostProcessReader, ParseErrorEndsTheReaderButTheHostKeepsRunning) {
  TCallLog log;
  TRunningHost h;
  ASSERT_NO_FATAL_FAILURE(h.Start());
  Send(h.actn, "<MouseClick><MouseX>1</Mouse");
  try {
    Send(h.actn, "<Destroy/>");  // no longer read: the reader may have closed ACTN already
  } catch (const std::exception&) {
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_TRUE(h.host->Running());
  EXPECT_TRUE(h.draw.IsConnected());
  EXPECT_EQ(log.Text().find("send_mouse_click_event"), std::string::npos);
  h.host->Kill();
  h.host->Wait(5000);
}

TEST(HostProcessReader, MessageCutShortByTheCloseIsDroppedAndTheHostKeepsRunning) {
  TCallLog log;
  TRunningHost h;
  ASSERT_NO_FATAL_FAILURE(h.Start());
  // A length that announces 2 GB, a complete-looking command, then the close.
  const std::string doc = "<MouseClick><MouseX>7</MouseX><MouseY>8</MouseY></MouseClick>";
  const uint8_t header[4] = {0x7F, 0xFF, 0xFF, 0xFF};
  h.actn.SendAll(header, 4);
  h.actn.SendAll(doc.data(), doc.size());
  h.actn.Shutdown();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_TRUE(h.host->Running());
  EXPECT_EQ(log.Text().find("send_mouse_click_event"), std::string::npos);
  h.host->Kill();
  h.host->Wait(5000);
}

TEST(HostProcessReader, NegativeLengthCollectsUntilTheCloseAsOneCommand) {
  TCallLog log;
  TRunningHost h;
  ASSERT_NO_FATAL_FAILURE(h.Start());
  const std::string doc = "<MouseWheel><MouseX>3</MouseX><MouseY>4</MouseY>"
                          "<MouseDeltaX>0</MouseDeltaX><MouseDeltaY>-120</MouseDeltaY></MouseWheel>";
  const uint8_t header[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  h.actn.SendAll(header, 4);
  h.actn.SendAll(doc.data(), 10);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  h.actn.SendAll(doc.data() + 10, doc.size() - 10);
  h.actn.Shutdown();
  EXPECT_TRUE(log.WaitFor("host.send_mouse_wheel_event x=3 y=4 mods=0 dx=0 dy=-120"));
  EXPECT_TRUE(h.host->Running());
  h.host->Kill();
  h.host->Wait(5000);
}

class HostProcessWatchdog : public ::testing::TestWithParam<const char*> {};

TEST_P(HostProcessWatchdog, KillingTheParentEndsTheHostWithStatus1) {
  ChildProcess parent = ChildProcess::Start("/bin/sleep", {"30"});
  TRunningHost h;
  ASSERT_NO_FATAL_FAILURE(h.Start({std::string(GetParam()) + std::to_string(parent.Pid())}));
  ASSERT_TRUE(WaitForThread(h.host->Pid(), "watchdog"));
  auto killedAt = std::chrono::steady_clock::now();
  parent.Kill();
  parent.Wait(-1);
  std::optional<int> status = h.host->Wait(3000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 1);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  killedAt).count(), 1000);
}

INSTANTIATE_TEST_SUITE_P(Switch, HostProcessWatchdog, ::testing::Values("-parentID=", "/parentID="));

TEST(HostProcessWatchdog, WithoutAWatchTheHostOutlivesTheStartingProcess) {
  for (const char* sw : {"", "-parentID=0"}) {
    ChildProcess parent = ChildProcess::Start("/bin/sleep", {"30"});
    TRunningHost h;
    ASSERT_NO_FATAL_FAILURE(h.Start(*sw ? std::vector<std::string>{sw} : std::vector<std::string>{}));
    EXPECT_FALSE(WaitForThread(h.host->Pid(), "watchdog", 200)) << sw;
    parent.Kill();
    parent.Wait(-1);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_TRUE(h.host->Running()) << sw;
    Send(h.actn, "<Destroy/>");  // a normal close with no watch thread
    std::optional<int> status = h.host->Wait(5000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
  }
}

TEST(HostProcessWatchdog, NormalCloseWhileWatchedEndsPromptlyWithStatus0) {
  ChildProcess parent = ChildProcess::Start("/bin/sleep", {"30"});
  TRunningHost h;
  ASSERT_NO_FATAL_FAILURE(h.Start({"-parentID=" + std::to_string(parent.Pid())}));
  ASSERT_TRUE(WaitForThread(h.host->Pid(), "watchdog"));
  auto sentAt = std::chrono::steady_clock::now();
  Send(h.actn, "<Destroy/>");
  std::optional<int> status = h.host->Wait(3000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  sentAt).count(), 1500);
  EXPECT_TRUE(parent.Running());
}
