// pv7parent runs a real pv7host (beside the scripted engine library) over real
// sockets; its standard output is collected in a file and read back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "host/channel.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "xml/stream.h"

using platform::ChildProcess;

namespace {

const std::string kHost = std::string(PV7_TEST_DIR) + "/scripted/pv7host-parent";

std::string Slurp(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

// One pv7parent run: its output file, its process.
struct TParentRun {
  std::string out, log;
  std::optional<ChildProcess> proc;
  explicit TParentRun(const std::vector<std::string>& args) {
    const std::string base = std::string(PV7_TEST_DIR) + "/parent-" +
                             std::to_string(platform::GetCurrentProcessId()) + "-" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    out = base + ".out";
    log = base + ".calls";
    std::remove(out.c_str());
    std::remove(log.c_str());
    std::string cmd = "PV7_SCRIPTED_LOG=" + Quote(log) + " exec " + Quote(PV7_PARENT);
    for (const std::string& a : args) cmd.append(" ").append(Quote(a));
    cmd += " >" + Quote(out) + " 2>&1";
    proc.emplace(ChildProcess::Start("/bin/sh", {"-c", cmd}));
  }
  ~TParentRun() {
    std::remove(out.c_str());
    std::remove(log.c_str());
  }
  int Finish(int timeoutMs = 20000) {
    std::optional<int> status = proc->Wait(timeoutMs);
    return status ? *status : -1;
  }
  std::string Output() const { return Slurp(out); }
  bool WaitForOutput(const std::string& needle, int timeoutMs = 5000) const {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      if (Output().find(needle) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
};

uint16_t FreePort() {
  platform::TcpListener probe;
  return probe.Port();
}

}  // namespace

TEST(Parent, StartsTheHostSeesActnThenDrawAndReportsStatus0) {
  TParentRun run({"--host", kHost, "--timeout", "10", "--click", "10,20", "--js", "x = 1"});
  ASSERT_EQ(run.Finish(), 0) << run.Output();
  const std::string out = run.Output();
  const size_t actn = out.find("connection ACTN"), draw = out.find("connection DRAW");
  ASSERT_NE(actn, std::string::npos) << out;
  ASSERT_NE(draw, std::string::npos) << out;
  // The wire order is checked by the host tests; the parent prints each connection from a
  // thread of its own, so its lines may come in either order.
  EXPECT_NE(out.find("command <MouseClick><MouseX>10</MouseX><MouseY>20</MouseY></MouseClick>"),
            std::string::npos) << out;
  EXPECT_NE(out.find("host exited with status 0"), std::string::npos) << out;
  EXPECT_NE(out.find("summary: frames=0"), std::string::npos) << out;
  EXPECT_NE(out.find("status=0"), std::string::npos) << out;
  const std::string calls = Slurp(run.log);
  EXPECT_NE(calls.find("host.send_mouse_click_event x=10 y=20 mods=16"), std::string::npos) << calls;
  EXPECT_NE(calls.find("frame.execute_java_script about:blank 0 x = 1"), std::string::npos) << calls;
}

TEST(Parent, AnswersEveryIntfRequestAndPrintsConsoleTexts) {
  const uint16_t port = FreePort();
  TParentRun run({"--host", kHost, "--port", std::to_string(port), "--timeout", "10", "--wait",
                  "1500"});
  ASSERT_TRUE(run.WaitForOutput("connection DRAW")) << run.Output();
  // A render process's bridge connection: tag, then request/reply pairs in order.
  platform::TcpSocket intf = platform::TcpSocket::Connect("127.0.0.1", port);
  WriteTag(intf, "INTF");
  for (const std::string request : {"<Ask/>", ""}) {
    WriteMessage(intf, request.data(), int64_t(request.size()));
    TMemoryStream reply;
    ReadMessage(intf, reply, 3000);
    EXPECT_EQ(std::string(static_cast<const char*>(reply.Memory()), size_t(reply.GetSize())),
              "<Reply>" + std::to_string(request.size()) + "</Reply>");
  }
  SendConsoleText("127.0.0.1", port, "hello console");
  // Texts sent one connection after another are printed in that order.
  for (int i = 0; i < 40; ++i) SendConsoleText("127.0.0.1", port, std::string(1, 'n').append(std::to_string(i)).append("."));
  ASSERT_EQ(run.Finish(), 0) << run.Output();
  const std::string out = run.Output();
  size_t last = 0;
  for (int i = 0; i < 40; ++i) {
    const size_t at = out.find("console n" + std::to_string(i) + ".");
    ASSERT_NE(at, std::string::npos) << i << "\n" << out;
    EXPECT_GT(at, last) << "text " << i << " printed out of order\n" << out;
    last = at;
  }
  EXPECT_NE(out.find("connection INTF"), std::string::npos) << out;
  EXPECT_NE(out.find("intf request 6 bytes: <Ask/>"), std::string::npos) << out;
  EXPECT_NE(out.find("intf reply 16 bytes: <Reply>6</Reply>"), std::string::npos) << out;
  EXPECT_NE(out.find("console hello console"), std::string::npos) << out;
  EXPECT_NE(out.find("bridge=2"), std::string::npos) << out;
}

TEST(Parent, FailuresGiveANonZeroStatusAndAClearMessage) {
  {
    TParentRun run({"--host", "/nonexistent/pv7host", "--timeout", "5"});
    EXPECT_NE(run.Finish(), 0);
    EXPECT_NE(run.Output().find("/nonexistent/pv7host"), std::string::npos) << run.Output();
  }
  {
    TParentRun run({"--host", kHost, "--keep", "--timeout", "1"});
    EXPECT_NE(run.Finish(), 0);
    EXPECT_NE(run.Output().find("error: time-out"), std::string::npos) << run.Output();
  }
  {
    TParentRun run({"--click", "12"});
    EXPECT_NE(run.Finish(), 0);
    EXPECT_NE(run.Output().find("--click"), std::string::npos) << run.Output();
  }
}

TEST(Parent, BadOptionValuesAreRefusedWithStatus2) {
  const std::string waitFile = std::string(PV7_TEST_DIR) + "/parent-bad-wait.txt";
  std::ofstream(waitFile) << "<Destroy/>\nwait soon\n";
  const std::vector<std::vector<std::string>> cases = {
      {"--port", "0"},        {"--port", "65536"},   {"--port", "12a"},
      {"--key", "KT_PRESS,65"}, {"--wait", "-1"},    {"--commands", waitFile},
      {"--frames", "/nonexistent-folder"}, {"--type", "\xFF"}, {"--timeout", "0"},
  };
  for (const auto& args : cases) {
    TParentRun run(args);
    EXPECT_EQ(run.Finish(), 2) << args[0] << " " << args[1];
    const std::string out = run.Output();
    EXPECT_NE(out.find("pv7parent: " + args[0]), std::string::npos) << out;
    EXPECT_NE(out.find("usage: pv7parent"), std::string::npos) << out;
  }
  std::remove(waitFile.c_str());
}

// A host that ends without ever connecting, leaving a child of its own behind:
// the run fails and the host's whole process group is ended.
TEST(Parent, AHostThatNeverConnectsFailsAndItsGroupIsEnded) {
  const std::string script = std::string(PV7_TEST_DIR) + "/parent-lost-host.sh";
  const std::string pidFile = script + ".pid";
  std::remove(pidFile.c_str());
  std::ofstream(script) << "#!/bin/sh\nsleep 60 &\necho $! > '" << pidFile << "'\nexit 0\n";
  ChildProcess::Start("/bin/chmod", {"+x", script}).Wait(5000);
  TParentRun run({"--host", script, "--timeout", "3"});
  EXPECT_EQ(run.Finish(), 1) << run.Output();
  EXPECT_NE(run.Output().find("error: the host never opened its channels"), std::string::npos)
      << run.Output();
  const int orphan = std::atoi(Slurp(pidFile).c_str());
  ASSERT_GT(orphan, 0);
  for (int i = 0; i < 100 && platform::ProcessAlive(orphan); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(platform::ProcessAlive(orphan));
  std::remove(script.c_str());
  std::remove(pidFile.c_str());
}

TEST(Parent, TypeSendsOneCharPerUtf16UnitAndASnapshotWithoutFramesFails) {
  // "é" is one unit, "😀" two (a surrogate pair); the scripted engine paints nothing,
  // so the snapshot cannot be written and the run fails although the host ended well.
  TParentRun run({"--host", kHost, "--timeout", "10", "--type", "\xC3\xA9\xF0\x9F\x98\x80",
                  "--snapshot", std::string(PV7_TEST_DIR) + "/parent-never.png"});
  EXPECT_EQ(run.Finish(), 1) << run.Output();
  const std::string out = run.Output();
  for (const char* key : {"key=\"233\"", "key=\"55357\"", "key=\"56832\""})
    EXPECT_NE(out.find(std::string("<KeyPress keyType=\"KT_CHAR\" sysChar=\"FALSE\" ") + key),
              std::string::npos) << key << "\n" << out;
  EXPECT_NE(out.find("host exited with status 0"), std::string::npos) << out;
  EXPECT_NE(out.find("error: no frame arrived"), std::string::npos) << out;
}

TEST(Parent, ReportsTheHostsOwnNonZeroStatus) {
  // A host whose parent id names nothing it can watch still runs; a host that is
  // killed from outside ends with 128 + 9, which the parent passes on as a failure.
  TParentRun run({"--host", kHost, "--keep", "--timeout", "10"});
  ASSERT_TRUE(run.WaitForOutput("connection DRAW")) << run.Output();
  const std::string out = run.Output();
  const size_t at = out.find("(pid ");
  ASSERT_NE(at, std::string::npos) << out;
  const int hostPid = std::atoi(out.c_str() + at + 5);
  ASSERT_GT(hostPid, 0);
  ChildProcess::Start("/bin/kill", {"-9", std::to_string(hostPid)}).Wait(5000);
  EXPECT_NE(run.Finish(), 0);
  EXPECT_NE(run.Output().find("host exited with status 137"), std::string::npos) << run.Output();
}

TEST(Parent, HelpListsEveryOption) {
  TParentRun run({"--help"});
  EXPECT_EQ(run.Finish(), 0);
  const std::string out = run.Output();
  for (const char* option : {"--host", "--port", "--show", "--size", "--url", "--headers", "--click",
                             "--wheel", "--key", "--type", "--js", "--wait", "--xml", "--commands",
                             "--keep", "--timeout", "--frames", "--snapshot", "--reply",
                             "--reply-file"})
    EXPECT_NE(out.find(option), std::string::npos) << option;
}
