// pv7host as a real process beside the scripted engine library: the channels it
// opens, its command reader, its watchdog, and pv7parent driving it. Every engine
// call the host makes is read back from the scripted engine's call log.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/channel.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "tests/hostile/proc_probe.h"
#include "xml/stream.h"

using platform::ChildProcess;
using platform::TcpListener;
using platform::TcpSocket;
using Clock = std::chrono::steady_clock;

namespace {

const char kClick[] = "<MouseClick><MouseX>5</MouseX><MouseY>6</MouseY></MouseClick>";
const char kClickDown[] = "host.send_mouse_click_event x=5 y=6 mods=16 button=0 up=0 count=1";
const char kClickUp[] = "host.send_mouse_click_event x=5 y=6 mods=0 button=0 up=1 count=1";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int CountLinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const std::string& l : lines) n += l.rfind(prefix, 0) == 0;
  return n;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines)
    if (l == line) return true;
  return false;
}

// A per-test file name in the test temporary folder.
std::string TempPath(const std::string& suffix) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name() + suffix;
  for (char& c : name)
    if (c == '/') c = '_';
  // The process id keeps runs of two build trees at the same time apart.
  return ::testing::TempDir() + "hostproc-" + std::to_string(platform::GetCurrentProcessId()) + "-" +
         name;
}

// The sum of user and system CPU time of a process, in clock ticks.
long long CpuTicks(int pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream in(stat.substr(close + 2));
  std::string field;
  long long utime = 0, stime = 0;
  // Fields after the name: state is field 3; utime and stime are fields 14 and 15.
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::stoll(field);
    if (i == 15) stime = std::stoll(field);
  }
  return utime + stime;
}

// Whether a thread of the process carries the name.
bool HasThreadNamed(int pid, const std::string& name) {
  std::error_code ec;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::string comm = ReadFile(entry.path().string() + "/comm");
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    if (comm == name) return true;
  }
  return false;
}

template <class Pred>
bool PollUntil(int timeoutMs, Pred pred) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred()) return true;
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

struct TRunResult {
  int status = -1;
  std::vector<std::string> err;
};

// Runs a program in `workDir` to its end (at most 10 s); its status and standard error.
TRunResult RunCaptured(const std::string& path, std::vector<std::string> args,
                       const std::string& workDir) {
  const std::string errFile = TempPath(".captured");
  args.insert(args.begin(), {"-c", "exec \"$0\" \"$@\" 2>\"" + errFile + "\"", path});
  ChildProcess p = ChildProcess::Start("/bin/sh", args, workDir);
  TRunResult r;
  r.status = p.Wait(10000).value_or(-1);
  r.err = Lines(ReadFile(errFile));
  std::filesystem::remove(errFile);
  return r;
}

// One host started against a listener of the test, with its own call log.
class HostRun {
 public:
  // Starts the host with the arguments; "{port}" in an argument becomes the
  // listener's port.
  // The host runs in `workDir` (the test's own when empty); its standard error goes
  // to a file of the test.
  explicit HostRun(std::vector<std::string> args, std::optional<uint16_t> port = {},
                   const std::string& workDir = {}, const std::string& name = "")
      : FListener(port.value_or(0)), FLog(TempPath(name + ".log")), FErr(TempPath(name + ".err")) {
    std::filesystem::remove(FLog);
    std::filesystem::remove(FErr);
    // A folder of its own keeps the engine folders of parallel tests apart.
    std::string dir = workDir;
    if (dir.empty()) {
      FOwnDir = TempPath(name + ".wd");
      std::filesystem::remove_all(FOwnDir);
      std::filesystem::create_directories(FOwnDir);
      dir = FOwnDir;
    }
    for (std::string& a : args) {
      size_t at = a.find("{port}");
      if (at != std::string::npos) a.replace(at, 6, std::to_string(FListener.Port()));
    }
    // These hosts stay hidden unless a test says otherwise: a shown host needs a display.
    bool show = false;
    for (const std::string& a : args) show = show || a.find("showSelf") != std::string::npos;
    if (!show) args.push_back("-showSelf=0");
    ::setenv("PV7_SCRIPTED_LOG", FLog.c_str(), 1);
    args.insert(args.begin(), {"-c", "exec \"$0\" \"$@\" 2>\"" + FErr + "\"", HOSTPROC_HOST});
    FHost.emplace(ChildProcess::Start("/bin/sh", args, dir));
  }

  // A host still running is killed; then its call log is removed.
  ~HostRun() {
    FHost.reset();
    std::error_code ec;
    std::filesystem::remove(FLog, ec);
    std::filesystem::remove(FErr, ec);
    if (!FOwnDir.empty()) std::filesystem::remove_all(FOwnDir, ec);
  }

  TcpListener& Listener() { return FListener; }
  std::vector<std::string> Stderr() const { return Lines(ReadFile(FErr)); }
  ChildProcess& Host() { return *FHost; }
  std::vector<std::string> Log() const { return Lines(ReadFile(FLog)); }

  // Accepts the two connections and checks their tags: ACTN first, then DRAW.
  void AcceptChannels() {
    FActn = FListener.Accept(5000);
    ASSERT_TRUE(FActn.IsOpen()) << "no ACTN connection";
    char tag[8];
    FActn.ReceiveAll(tag, sizeof tag, 3000);
    ASSERT_EQ(std::string(tag, 8), std::string("\0\0\0\4ACTN", 8));
    FDraw = FListener.Accept(3000);
    ASSERT_TRUE(FDraw.IsOpen()) << "no DRAW connection";
    TMemoryStream first;
    ReadMessage(FDraw, first, 3000);
    ASSERT_EQ(std::string(static_cast<const char*>(first.Memory()), size_t(first.GetSize())),
              "DRAW");
  }

  void Send(const std::string& message) { WriteMessage(FActn, message.data(), int64_t(message.size())); }
  // Several frames in one write: the later ones are already waiting when the host
  // reads the first (and a host that has ended meanwhile cannot fail a second write).
  void SendTogether(const std::vector<std::string>& messages) {
    std::string bytes;
    for (const std::string& m : messages) {
      const uint32_t n = uint32_t(m.size());
      const char length[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
      bytes.append(length, 4).append(m);
    }
    FActn.SendAll(bytes.data(), bytes.size());
  }
  TcpSocket& Actn() { return FActn; }

  bool WaitForLine(const std::string& line, int timeoutMs = 3000) {
    return PollUntil(timeoutMs, [&] { return HasLine(Log(), line); });
  }

 private:
  TcpListener FListener;
  std::string FLog;
  std::string FErr;
  std::string FOwnDir;
  std::optional<ChildProcess> FHost;
  TcpSocket FActn, FDraw;
};

}  // namespace

// --- channels -------------------------------------------------------------------

TEST(HostChannels, ActnThenDrawThenDestroyEndsWithStatus0) {
  HostRun run({"-drawPort={port}", "-showSelf=0"});
  ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
  // No parent watch and no watchdog switch: the host keeps running.
  EXPECT_TRUE(run.Host().Running());
  run.SendTogether({"<Destroy/>", kClick});  // the click waits behind Destroy: never read
  std::optional<int> status = run.Host().Wait(3000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);
  std::vector<std::string> log = run.Log();
  EXPECT_EQ(CountLinesStartingWith(log, "host.send_mouse_click_event"), 0);
  EXPECT_EQ(CountLinesStartingWith(log, "host.close_browser"), 1);
  EXPECT_TRUE(HasLine(log, "shutdown outstanding_refs=0"));
}

TEST(HostChannels, NobodyListeningEndsTheHostAtOnceWithStatus3AndOneLine) {
  uint16_t port;
  {
    TcpListener probe;
    port = probe.Port();
  }
  HostRun run({"-drawPort=" + std::to_string(port)});
  std::optional<int> status = run.Host().Wait(3000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 3);
  std::vector<std::string> log = run.Log();
  EXPECT_EQ(CountLinesStartingWith(log, "create_browser_sync"), 1);
  EXPECT_TRUE(HasLine(log, "shutdown outstanding_refs=0"));
  const std::vector<std::string> err = run.Stderr();
  ASSERT_EQ(err.size(), 1u);
  EXPECT_EQ(err[0].rfind("pv7host: no parent on drawPort " + std::to_string(port), 0), 0u) << err[0];
}

TEST(HostChannels, PortIsTakenModulo65536) {
  std::optional<HostRun> run;
  try {
    run.emplace(std::vector<std::string>{"-drawPort=70000"}, uint16_t(70000 - 65536));
  } catch (const std::exception& e) {
    GTEST_SKIP() << "port 4464 is not free: " << e.what();
  }
  ASSERT_NO_FATAL_FAILURE(run->AcceptChannels());
  run->Send("<Destroy/>");
  std::optional<int> status = run->Host().Wait(3000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);
}

// --- the command reader ---------------------------------------------------------

TEST(HostReader, EmptyAndUnknownMessagesAreSkipped) {
  HostRun run({"-drawPort={port}"});
  ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
  run.Send("");
  run.Send("<Unknown><MouseX>1</MouseX></Unknown>");
  run.Send("<?xml version=\"1.0\"?><!-- no root -->");
  run.Send(kClick);
  EXPECT_TRUE(run.WaitForLine(kClickUp));
  run.Send("<Destroy/>");
  ASSERT_EQ(run.Host().Wait(3000), std::optional<int>(0));
  EXPECT_EQ(CountLinesStartingWith(run.Log(), "host.send_mouse_click_event"), 2);
}

// Messages after which the reader stops while the host keeps running, and what
// its reason names.
struct TReaderEnd {
  const char* message;
  const char* reason;
};
// The message's letters and digits name the case.
void PrintTo(const TReaderEnd& e, std::ostream* os) {
  std::string name;
  for (const char* p = e.message; *p && name.size() < 40; ++p)
    if (std::isalnum(static_cast<unsigned char>(*p))) name.push_back(*p);
  *os << name;
}
class HostReaderEnds : public ::testing::TestWithParam<TReaderEnd> {};

// The reader says why on standard error and closes ACTN: the parent reads its end.
TEST_P(HostReaderEnds, ReasonOnStderrActnClosedAndTheHostRuns) {
  HostRun run({"-drawPort={port}"});
  ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
  run.Send(GetParam().message);
  char byte;
  EXPECT_THROW(run.Actn().ReceiveAll(&byte, 1, 3000), platform::EGracefulClose);
  try {
    run.Send(kClick);
  } catch (const std::exception&) {
    // A write after the close may already fail.
  }
  // A running reader would handle the click within milliseconds.
  EXPECT_FALSE(PollUntil(400, [&] {
    return CountLinesStartingWith(run.Log(), "host.send_mouse_click_event") > 0;
  }));
  EXPECT_TRUE(run.Host().Running());
  const std::vector<std::string> err = run.Stderr();
  ASSERT_EQ(err.size(), 1u);
  EXPECT_EQ(err[0].rfind("pv7host: the command reader ended: ", 0), 0u) << err[0];
  EXPECT_NE(err[0].find(GetParam().reason), std::string::npos) << err[0];
  run.Host().Kill();
}

INSTANTIATE_TEST_SUITE_P(
    Messages, HostReaderEnds,
    ::testing::Values(TReaderEnd{"<MouseClick><MouseX>1</MouseX", "["},
                      TReaderEnd{"not xml at all <<", "["},
                      // field names are matched exactly: MouseX is missing
                      TReaderEnd{"<MouseClick><mousex>1</mousex><MouseY>2</MouseY></MouseClick>",
                                 "MouseX: '' is not a valid integer value"},
                      TReaderEnd{"<MouseClick><MouseX>x1</MouseX><MouseY>2</MouseY></MouseClick>",
                                 "MouseX: 'x1'"},
                      TReaderEnd{"<WindowSize><WndSzX>10</WndSzX></WindowSize>", "WndSzY: "},
                      TReaderEnd{"<KeyPress keyType=\"KT_CHAR\" key=\"a\"/>", "key: 'a'"}),
    [](const ::testing::TestParamInfo<TReaderEnd>& info) { return std::to_string(info.index); });

TEST(HostReader, NegativeLengthReadsUntilTheClose) {
  HostRun run({"-drawPort={port}"});
  ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
  const std::string body = std::string("\xFF\xFF\xFF\xFF") + kClick;
  run.Actn().SendAll(body.data(), body.size());
  // Nothing can be dispatched before the connection ends the message.
  EXPECT_FALSE(PollUntil(200, [&] { return HasLine(run.Log(), kClickDown); }));
  run.Actn().Shutdown();
  EXPECT_TRUE(run.WaitForLine(kClickUp));
  EXPECT_TRUE(run.Host().Running());
  run.Host().Kill();
}

TEST(HostReader, MessageCutByTheCloseIsDropped) {
  HostRun run({"-drawPort={port}"});
  ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
  // 40 bytes announced, a whole Destroy document sent, then the close.
  const std::string body = std::string("\0\0\0\x28", 4) + "<Destroy/>";
  run.Actn().SendAll(body.data(), body.size());
  run.Actn().Shutdown();
  EXPECT_FALSE(PollUntil(400, [&] { return !run.Host().Running(); }));
  EXPECT_EQ(CountLinesStartingWith(run.Log(), "host.close_browser"), 0);
  run.Host().Kill();
}

TEST(HostReader, EncodingsOfCommandDocuments) {
  HostRun run({"-drawPort={port}"});
  ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
  // The UTF-8 mark is skipped; the declaration (no encoding named) selects UTF-8.
  run.Send("\xEF\xBB\xBF<?xml version=\"1.0\"?><JavaScript>utf8 \xC3\xA9</JavaScript>");
  run.Send("<?xml version=\"1.0\" encoding=\"windows-1252\"?><JavaScript>ansi \xE9 \x80</JavaScript>");
  ASSERT_TRUE(run.WaitForLine("frame.execute_java_script about:blank 0 ansi \xC3\xA9 \xE2\x82\xAC"));
  EXPECT_TRUE(HasLine(run.Log(), "frame.execute_java_script about:blank 0 utf8 \xC3\xA9"));
  // A UTF-16 byte order mark fails the load and ends the reader; the click behind it
  // goes in the same write, as the reader closes ACTN when it ends.
  run.SendTogether({std::string("\xFF\xFE<\0D\0e\0s\0t\0r\0o\0y\0/\0>\0", 22), kClick});
  EXPECT_FALSE(PollUntil(400, [&] { return HasLine(run.Log(), kClickDown); }));
  EXPECT_TRUE(run.Host().Running());
  run.Host().Kill();
}

TEST(HostReader, ParentClosingActnEndsTheReaderWithoutBusyLoop) {
  HostRun run({"-drawPort={port}"});
  ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
  run.Send(kClick);
  ASSERT_TRUE(run.WaitForLine(kClickUp));
  run.Actn().Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const long long before = CpuTicks(run.Host().Pid());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long long after = CpuTicks(run.Host().Pid());
  ASSERT_GE(before, 0);
  // A reader spinning on the closed socket would use about 100 ticks a second.
  EXPECT_LT(after - before, 20);
  EXPECT_TRUE(run.Host().Running());
  run.Host().Kill();
}

// --- the watchdog ---------------------------------------------------------------

class HostWatchdog : public ::testing::TestWithParam<const char*> {};

TEST_P(HostWatchdog, EndOfTheStartingProcessEndsTheHostWithStatus1) {
  ChildProcess parent = ChildProcess::Start("/bin/sleep", {"30"});
  HostRun run({"-drawPort={port}", std::string(GetParam()) + std::to_string(parent.Pid())});
  ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
  ASSERT_TRUE(PollUntil(3000, [&] { return HasThreadNamed(run.Host().Pid(), "watchdog"); }));
  const auto killedAt = Clock::now();
  parent.Kill();
  parent.Wait(-1);
  std::optional<int> status = run.Host().Wait(3000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 1);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - killedAt).count(),
            1000);
}

INSTANTIATE_TEST_SUITE_P(Switch, HostWatchdog, ::testing::Values("-parentID=", "/parentID="));

TEST(HostWatchdog, DestroyWhileTheParentLivesEndsNormally) {
  ChildProcess parent = ChildProcess::Start("/bin/sleep", {"30"});
  HostRun run({"-drawPort={port}", "-parentID=" + std::to_string(parent.Pid())});
  ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
  ASSERT_TRUE(PollUntil(3000, [&] { return HasThreadNamed(run.Host().Pid(), "watchdog"); }));
  run.Send("<Destroy/>");
  EXPECT_EQ(run.Host().Wait(3000), std::optional<int>(0));
  EXPECT_TRUE(HasLine(run.Log(), "shutdown outstanding_refs=0"));
  EXPECT_TRUE(parent.Running());
}

TEST(HostWatchdog, ZeroWatchesNothing) {
  HostRun run({"-drawPort={port}", "-parentID=0"});
  ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
  EXPECT_FALSE(PollUntil(300, [&] { return !run.Host().Running(); }));
  EXPECT_FALSE(HasThreadNamed(run.Host().Pid(), "watchdog"));
  run.Send("<Destroy/>");
  EXPECT_EQ(run.Host().Wait(3000), std::optional<int>(0));
}

// --- command effects in the engine --------------------------------------------------

TEST(HostCommands, EachCommandReachesTheEngine) {
  HostRun run({"-drawPort={port}"});
  ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
  run.Send(kClick);
  run.Send("<KeyPress keyType=\"kt_char\" key=\"97\"/>");
  run.Send("<KeyPress keyType=\"KT_KEYDOWN\" key=\"65\" modifiers=\"65538\" sysChar=\"TRUE\"/>");
  run.Send("<KeyPress keyType=\"KT_KEYUP\" key=\"66\"/>");
  run.Send("<KeyPress keyType=\"kt_other\" key=\"67\"/>");  // no engine type: nothing sent
  run.Send("<WindowSize><WndSzX>10</WndSzX><WndSzY>20</WndSzY></WindowSize>");
  run.Send("<LoadWEBURL><WEBURL>http://127.0.0.1:1/page?a=1&amp;b=2</WEBURL>"
           "<HEADERS>X-Till=7</HEADERS></LoadWEBURL>");
  run.Send("<JavaScript>document.title = 'x &lt; y';</JavaScript>");
  run.Send("<MouseWheel><MouseX>1</MouseX><MouseY>2</MouseY><MouseDeltaX>3</MouseDeltaX>"
           "<MouseDeltaY>-120</MouseDeltaY></MouseWheel>");
  run.Send("<Destroy/>");
  ASSERT_EQ(run.Host().Wait(3000), std::optional<int>(0));

  std::vector<std::string> log = run.Log();
  std::vector<std::string> effects;
  for (const std::string& l : log)
    if (l.rfind("host.send_", 0) == 0 || l == "host.was_resized" || l.rfind("frame.load_url", 0) == 0 ||
        l.rfind("frame.execute_java_script", 0) == 0)
      effects.push_back(l);
  const std::vector<std::string> expected = {
      "frame.load_url about:blank",  // the browser's first page
      kClickDown,
      kClickUp,
      "host.send_key_event type=3 key=97 char=0 mods=0",
      "host.send_key_event type=0 key=65 char=0 mods=2",
      "host.send_key_event type=2 key=66 char=0 mods=0",
      "host.was_resized",
      "frame.load_url http://127.0.0.1:1/page?a=1&b=2",
      "frame.execute_java_script about:blank 0 document.title = 'x < y';",
      "host.send_mouse_wheel_event x=1 y=2 mods=0 dx=3 dy=-120",
  };
  EXPECT_EQ(effects, expected);
  EXPECT_TRUE(HasLine(log, "shutdown outstanding_refs=0"));
}

// --- pv7parent ------------------------------------------------------------------------

TEST(HostParent, ReferenceParentSeesBothChannelsAndStatus0) {
  const std::string out = TempPath(".out");
  ::setenv("PV7_SCRIPTED_LOG", TempPath(".log").c_str(), 1);
  const std::string command = std::string(HOSTPROC_PARENT) + " --host " + HOSTPROC_HOST +
                              " --timeout 10 --click 3,4 > " + out + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(out);
  std::vector<std::string> lines = Lines(ReadFile(out));
  EXPECT_TRUE(HasLine(lines, "connection ACTN")) << ReadFile(out);
  EXPECT_TRUE(HasLine(lines, "connection DRAW")) << ReadFile(out);
  EXPECT_TRUE(HasLine(lines, "host exited with status 0")) << ReadFile(out);
  std::vector<std::string> log = Lines(ReadFile(TempPath(".log")));
  EXPECT_TRUE(HasLine(log, "host.send_mouse_click_event x=3 y=4 mods=16 button=0 up=0 count=1"));
  std::filesystem::remove(out);
  std::filesystem::remove(TempPath(".log"));
}

// --- start-up failures ------------------------------------------------------------

TEST(HostStart, ParentIdOfNoRunningProcessEndsTheHostWithStatus1) {
  ChildProcess gone = ChildProcess::Start("/bin/true", {});
  ASSERT_EQ(gone.Wait(3000), std::optional<int>(0));
  HostRun run({"-drawPort={port}", "-parentID=" + std::to_string(gone.Pid())});
  std::optional<int> status = run.Host().Wait(5000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 1);
  const std::vector<std::string> err = run.Stderr();
  ASSERT_EQ(err.size(), 1u);
  EXPECT_NE(err[0].find("is not running"), std::string::npos) << err[0];
}

TEST(HostStart, UnknownCodePageFailsAtStartWithStatus6) {
  ::setenv("PV7_CODEPAGE", "no-such-code-page", 1);
  HostRun run({"-drawPort={port}"});
  ::unsetenv("PV7_CODEPAGE");
  EXPECT_EQ(run.Host().Wait(5000), std::optional<int>(6));
  const std::vector<std::string> err = run.Stderr();
  ASSERT_EQ(err.size(), 1u);
  EXPECT_NE(err[0].find("PV7_CODEPAGE=no-such-code-page"), std::string::npos) << err[0];
  // Nothing was started: not even the engine library was asked.
  EXPECT_TRUE(run.Log().empty());
}

TEST(HostStart, MissingEngineLibraryEndsWithStatus4AndOneLine) {
  const std::filesystem::path dir = TempPath(".nolib");
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(HOSTPROC_HOST, dir / "pv7host",
                             std::filesystem::copy_options::overwrite_existing);
  TRunResult r = RunCaptured((dir / "pv7host").string(), {"-showSelf=0"}, dir.string());
  std::filesystem::remove_all(dir);
  EXPECT_EQ(r.status, 4);
  ASSERT_EQ(r.err.size(), 1u);
  EXPECT_EQ(r.err[0].rfind("pv7host: the engine library cannot be loaded: System Error.  Code: ", 0), 0u)
      << r.err[0];
}

// --- engine folders -----------------------------------------------------------------

// The folders a host passed to the engine: "cache_path user_data_path".
std::string FoldersOf(const HostRun& run) {
  for (const std::string& line : run.Log()) {
    if (line.rfind("cef_initialize ", 0) != 0) continue;
    const size_t cache = line.find(" cache_path="), user = line.find(" user_data_path=");
    const size_t end = line.find(" persist_session_cookies=");
    if (cache == std::string::npos || user == std::string::npos || end == std::string::npos) break;
    return line.substr(cache + 12, user - cache - 12) + " " + line.substr(user + 16, end - user - 16);
  }
  return "(no cef_initialize)";
}

TEST(HostFolders, HostsInOneWorkingDirectoryTakeFreeFoldersAndReuseThem) {
  const std::filesystem::path dir = TempPath(".work");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  auto start = [&](const std::string& name) {
    auto run = std::make_unique<HostRun>(std::vector<std::string>{"-drawPort={port}"},
                                         std::nullopt, dir.string(), name);
    run->AcceptChannels();
    return run;
  };
  std::vector<std::unique_ptr<HostRun>> runs;
  for (const char* name : {"1", "2", "3"}) {
    runs.push_back(start(name));
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
  }
  EXPECT_EQ(FoldersOf(*runs[0]), "cache userdata");
  EXPECT_EQ(FoldersOf(*runs[1]), "cache-2 userdata-2");
  EXPECT_EQ(FoldersOf(*runs[2]), "cache-3 userdata-3");
  EXPECT_TRUE(runs[0]->Stderr().empty());
  const std::vector<std::string> err = runs[1]->Stderr();
  ASSERT_EQ(err.size(), 1u);
  EXPECT_EQ(err[0], "pv7host: \"cache\" and \"userdata\" are in use by another host; this host uses "
                    "\"cache-2\" and \"userdata-2\"");
  // The second pair becomes free and the next host takes it again.
  runs[1]->Send("<Destroy/>");
  ASSERT_EQ(runs[1]->Host().Wait(3000), std::optional<int>(0));
  runs.push_back(start("4"));
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  EXPECT_EQ(FoldersOf(*runs[3]), "cache-2 userdata-2");
  for (const char* sub : {"cache", "userdata-2", "cache-3"})
    EXPECT_TRUE(std::filesystem::is_directory(dir / sub)) << sub;
  runs.clear();
  std::filesystem::remove_all(dir);
}

// A working directory that cannot hold the folders: a private one of this user,
// under $XDG_RUNTIME_DIR when it is set, else under the temporary directory.
TEST(HostFolders, UnwritableWorkingDirectoryUsesAPrivateFolder) {
  const std::filesystem::path dir = TempPath(".readonly"), runtime = TempPath(".runtime"),
                              tmp = TempPath(".tmp");
  for (const auto& d : {dir, runtime, tmp}) {
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
  }
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  probe::TReadOnlyFolder readOnly(dir);
  const bool unwritable = !std::ofstream(dir / "probe").is_open();
  if (unwritable) {
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    {
      HostRun run({"-drawPort={port}"}, std::nullopt, dir.string(), "xdg");
      ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
      EXPECT_EQ(FoldersOf(run), (runtime / "pv7host/cache").string() + " " +
                                    (runtime / "pv7host/userdata").string());
      const std::vector<std::string> err = run.Stderr();
      ASSERT_EQ(err.size(), 1u);
      EXPECT_NE(err[0].find("under $XDG_RUNTIME_DIR"), std::string::npos) << err[0];
    }
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", tmp.c_str(), 1);
    {
      HostRun run({"-drawPort={port}"}, std::nullopt, dir.string(), "tmp");
      ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
      const std::string base = (tmp / ("pv7host-" + std::to_string(platform::CurrentUserId()))).string();
      EXPECT_EQ(FoldersOf(run), base + "/cache " + base + "/userdata");
      EXPECT_EQ(std::filesystem::status(base).permissions() & std::filesystem::perms::all,
                std::filesystem::perms::owner_all);
      const std::vector<std::string> err = run.Stderr();
      ASSERT_EQ(err.size(), 1u);
      EXPECT_NE(err[0].find("under the temporary directory"), std::string::npos) << err[0];
    }
    ::unsetenv("TMPDIR");
  }
  std::filesystem::remove_all(runtime);
  std::filesystem::remove_all(tmp);
  if (!unwritable) GTEST_SKIP() << "cannot make a folder that this user cannot write";
}

// --- the ANSI code page ------------------------------------------------------------

// Command texts reach the engine through the chosen code page: a UTF-8 document,
// a windows-1251 one and, with 65001, raw bytes without a declaration.
TEST(HostCodePage, CommandTextsFollowPV7CODEPAGE) {
  for (const char* codePage : {"1251", "CP1251"}) {
    ::setenv("PV7_CODEPAGE", codePage, 1);
    HostRun run({"-drawPort={port}"}, std::nullopt, "", codePage);
    ::unsetenv("PV7_CODEPAGE");
    ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
    run.Send("<?xml version=\"1.0\" encoding=\"UTF-8\"?><JavaScript>u \xD0\x96 \xC3\xA9</JavaScript>");
    run.Send("<?xml version=\"1.0\" encoding=\"windows-1251\"?><JavaScript>w \xC6</JavaScript>");
    // Zhe is in 1251; e acute is not and became '?' in the ANSI text.
    EXPECT_TRUE(run.WaitForLine("frame.execute_java_script about:blank 0 w \xD0\x96")) << codePage;
    EXPECT_TRUE(HasLine(run.Log(), "frame.execute_java_script about:blank 0 u \xD0\x96 ?")) << codePage;
    run.Host().Kill();
  }
  ::setenv("PV7_CODEPAGE", "65001", 1);
  HostRun run({"-drawPort={port}"}, std::nullopt, "", "65001");
  ::unsetenv("PV7_CODEPAGE");
  ASSERT_NO_FATAL_FAILURE(run.AcceptChannels());
  run.Send("<JavaScript>raw \xD0\x96 \xE6\x97\xA5</JavaScript>");
  EXPECT_TRUE(run.WaitForLine("frame.execute_java_script about:blank 0 raw \xD0\x96 \xE6\x97\xA5"));
  run.Host().Kill();
}
