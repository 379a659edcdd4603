// What pv7host exposes, checked from outside on a running host with real
// Chromium: no listening socket in the host or any of its descendants (only
// connections to 127.0.0.1), Chromium's sandbox whenever the host is not root,
// and no child process left behind however the host ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "tests/hostile/chromium_host.h"
#include "tests/hostile/proc_probe.h"

using namespace std::chrono_literals;

namespace {

const std::string kHost = std::string(PV7_BIN_DIR) + "/pv7host";

std::string TestName() {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  for (char& c : name)
    if (c == '/') c = '_';
  return name;
}

// The effective user id, from /proc/self/status ("Uid: real effective ...").
int EffectiveUid() {
  std::istringstream in(probe::ReadFile("/proc/self/status"));
  for (std::string line; std::getline(in, line);)
    if (line.rfind("Uid:", 0) == 0) {
      std::istringstream f(line.substr(4));
      int real = -1, effective = -1;
      f >> real >> effective;
      return effective;
    }
  return -1;
}

bool HasArg(const std::vector<std::string>& args, const std::string& arg) {
  return std::find(args.begin(), args.end(), arg) != args.end();
}
using probe::ChromiumBrowser;
using probe::HasArgStarting;

// Waits until the host has Chromium and at least one of its helper processes.
std::vector<int> WaitForEngineProcesses(int hostPid) {
  std::vector<int> pids;
  probe::PollUntil(20000, [&] {
    pids = probe::Descendants(hostPid);
    int helpers = 0;
    for (int pid : pids) helpers += HasArgStarting(probe::CmdlineTokens(pid), "--type=");
    return ChromiumBrowser(pids) > 0 && helpers > 0;
  });
  return pids;
}

// The unix sockets of the table that are listening on a path that others than
// the owner could reach (the folder holding it is open to group or others).
std::map<unsigned long, std::string> OpenUnixListeners(int pid) {
  std::map<unsigned long, std::string> out;
  std::istringstream in(probe::ReadFile(probe::Proc(pid) + "/net/unix"));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string num, refs, proto, flags, type, st, path;
    unsigned long inode = 0;
    f >> num >> refs >> proto >> flags >> type >> st >> inode >> path;
    if (!(std::stoul(flags, nullptr, 16) & 0x10000) || path.empty() || path[0] == '@') continue;
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::perms folder = fs::status(fs::path(path).parent_path(), ec).permissions();
    const fs::perms open = fs::perms::group_all | fs::perms::others_all;
    if (ec || (folder & open) != fs::perms::none) out.emplace(inode, path);
  }
  return out;
}

}  // namespace

TEST(Security, NoListeningSocketInTheHostOrItsChildren) {
  probe::TChromiumHost host(kHost, TestName());
  ASSERT_TRUE(host.Parent().WaitChannels(20000));
  host.SendSize(320, 200);
  host.Load(probe::kAnimatedPage);
  // A page that talks to the parent too: console output opens CMSG connections.
  EXPECT_TRUE(host.Echo("security probe"));
  std::vector<int> pids = WaitForEngineProcesses(host.Pid());
  ASSERT_GT(ChromiumBrowser(pids), 0) << "no Chromium below the host";
  pids.push_back(host.Pid());

  int sockets = 0, connections = 0;
  for (int pid : pids) {
    const std::set<unsigned long> inodes = probe::SocketInodes(pid);
    const std::map<unsigned long, std::string> unixListeners = OpenUnixListeners(pid);
    const std::string who = std::to_string(pid) + " " + probe::CmdlineTokens(pid)[0];
    for (const probe::TSocketEntry& e : probe::SocketTable(pid)) {
      if (!inodes.count(e.inode)) continue;
      ++sockets;
      EXPECT_FALSE(e.Listening()) << who << " listens on " << e.table << " " << e.local;
      if (e.table.rfind("tcp", 0) == 0 && !e.Listening()) {
        ++connections;
        EXPECT_TRUE(e.RemoteIsLoopback()) << who << " is connected to " << e.remote;
      }
      if (e.table.rfind("udp", 0) == 0) {
        // Chromium's network process may hold a connected UDP socket of its own (an
        // address or name lookup probe): it accepts nothing from others, so only the
        // host itself must have none.
        EXPECT_NE(pid, host.Pid()) << who << " has a UDP socket " << e.local;
        std::printf("%s: connected UDP socket %s -> %s\n", who.c_str(), e.local.c_str(),
                    e.remote.c_str());
        --sockets;
      }
    }
    for (unsigned long inode : inodes)
      EXPECT_FALSE(unixListeners.count(inode))
          << who << " listens on " << unixListeners.at(inode) << " in a folder open to others";
  }
  // The host's own ACTN and DRAW connections at least.
  EXPECT_GE(connections, 2);
  EXPECT_EQ(sockets, connections);
}

TEST(Security, ChromiumKeepsItsSandboxUnlessTheHostIsRoot) {
  probe::TChromiumHost host(kHost, TestName());
  ASSERT_TRUE(host.Parent().WaitChannels(20000));
  std::vector<int> pids = WaitForEngineProcesses(host.Pid());
  const int browser = ChromiumBrowser(pids);
  ASSERT_GT(browser, 0);
  const bool root = EffectiveUid() == 0;
  // The browser process carries the choice; its helpers follow it.
  EXPECT_EQ(HasArg(probe::CmdlineTokens(browser), "--no-sandbox"), root)
      << (root ? "a root Chromium needs --no-sandbox" : "Chromium runs without its sandbox");
  if (!root) {
    for (int pid : pids) EXPECT_FALSE(HasArg(probe::CmdlineTokens(pid), "--no-sandbox")) << pid;
  }
  if (root) {
    std::printf("running as root: Chromium runs with --no-sandbox (it cannot sandbox itself as root)\n");
    ::testing::Test::RecordProperty("sandbox", "root: --no-sandbox present");
  } else {
    ::testing::Test::RecordProperty("sandbox", "not root: sandboxed");
  }
}

// However the host ends, none of its descendants (Chromium and its helpers)
// stays behind.
enum class EEnd { Destroy, ParentGone, Killed };

class SecurityEnd : public ::testing::TestWithParam<EEnd> {};

TEST_P(SecurityEnd, EveryChildEndsWithTheHost) {
  std::optional<platform::ChildProcess> parent;
  std::vector<std::string> args;
  if (GetParam() == EEnd::ParentGone) {
    parent.emplace(platform::ChildProcess::Start("/bin/sleep", {"60"}));
    args.push_back("-parentID=" + std::to_string(parent->Pid()));
  }
  probe::TChromiumHost host(kHost, TestName(), args);
  ASSERT_TRUE(host.Parent().WaitChannels(20000));
  host.SendSize(200, 100);
  host.Load(probe::kAnimatedPage);
  const std::vector<int> children = WaitForEngineProcesses(host.Pid());
  ASSERT_GT(ChromiumBrowser(children), 0);

  int expected = 0;
  switch (GetParam()) {
    case EEnd::Destroy: host.Parent().Send("<Destroy/>"); break;
    case EEnd::ParentGone:
      parent->Kill();
      parent->Wait(-1);
      expected = 1;
      break;
    case EEnd::Killed:
      host.Parent().Host().Kill(9);
      expected = 128 + 9;
      break;
  }
  EXPECT_EQ(host.Parent().Host().Wait(20000), std::optional<int>(expected));
  std::vector<int> left;
  const bool gone = probe::PollUntil(15000, [&] {
    left.clear();
    for (int pid : children)
      if (probe::Alive(pid)) left.push_back(pid);
    return left.empty();
  });
  std::string names;
  for (int pid : left) names += std::to_string(pid) + " " + probe::CmdlineTokens(pid)[0] + "; ";
  EXPECT_TRUE(gone) << "left behind: " << names;
  // Nothing is left to clean up for the next test.
  for (int pid : left) std::system(("kill -9 " + std::to_string(pid)).c_str());
}

INSTANTIATE_TEST_SUITE_P(Ways, SecurityEnd,
                         ::testing::Values(EEnd::Destroy, EEnd::ParentGone, EEnd::Killed),
                         [](const ::testing::TestParamInfo<EEnd>& info) {
                           switch (info.param) {
                             case EEnd::Destroy: return std::string("Destroy");
                             case EEnd::ParentGone: return std::string("ParentGone");
                             case EEnd::Killed: return std::string("Killed");
                           }
                           return std::string();
                         });
