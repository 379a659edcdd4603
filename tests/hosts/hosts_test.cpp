// pv7host on real Chromium: three hosts in one working directory all paint with
// folders of their own, a private folder when the working directory is not
// writable, a Chromium that cannot start, console texts in the page's order and
// the ANSI code page on CMSG and INTF.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/hostile/chromium_host.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/hostile/proc_probe.h"

namespace fs = std::filesystem;

namespace {

const std::string kHost = std::string(PV7_BIN_DIR) + "/pv7host";

fs::path FreshDir(const std::string& name) {
  const fs::path dir = fs::temp_directory_path() /
                       ("pv7hosts-" + name + "-" + std::to_string(platform::GetCurrentProcessId()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// The --user-data-dir its Chromium was given ("" while it has none).
std::string ChromiumUserDataDir(int host) {
  const int chromium = probe::ChromiumBrowser(probe::Descendants(host));
  if (chromium <= 0) return {};
  for (const std::string& arg : probe::CmdlineTokens(chromium))
    if (arg.rfind("--user-data-dir=", 0) == 0) return arg.substr(16);
  return {};
}

// Whether a file can be made in the folder (the probe is removed again).
bool Writable(const fs::path& dir) {
  const bool made = std::ofstream(dir / "probe").is_open();
  std::error_code ec;
  fs::remove(dir / "probe", ec);
  return made;
}

// A host of a parent of its own in `dir`, sized and showing a still page.
bool StartPainting(probe::TParentSide& parent, const fs::path& dir) {
  parent.StartHost(kHost, {"-showSelf=0"}, dir.string());
  if (!parent.WaitChannels(30000)) return false;
  parent.Send("<WindowSize><WndSzX>200</WndSzX><WndSzY>100</WndSzY></WindowSize>");
  parent.Send("<LoadWEBURL><WEBURL>data:text/html,&lt;body bgcolor=teal&gt;</WEBURL></LoadWEBURL>");
  return true;
}

bool PaintsAt(probe::TParentSide& parent, int w, int h) {
  return parent.WaitFor([&] { return parent.FLastW == w && parent.FLastH == h; }, 40000);
}

}  // namespace

TEST(SeveralHosts, ThreeHostsInOneWorkingDirectoryAllPaintWithFoldersOfTheirOwn) {
  const fs::path dir = FreshDir("three");
  {
    std::vector<std::unique_ptr<probe::TParentSide>> parents;
    for (int i = 0; i < 3; ++i) {
      parents.push_back(std::make_unique<probe::TParentSide>());
      ASSERT_TRUE(StartPainting(*parents.back(), dir)) << "host " << i + 1 << " opened no channels";
    }
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(PaintsAt(*parents[size_t(i)], 200, 100)) << "host " << i + 1;
    std::vector<std::string> folders;
    for (auto& p : parents) folders.push_back(ChromiumUserDataDir(p->Host().Pid()));
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(folders, (std::vector<std::string>{(dir / "userdata").string(),
                                                 (dir / "userdata-2").string(),
                                                 (dir / "userdata-3").string()}));
    for (auto& p : parents) {
      p->Send("<Destroy/>");
      EXPECT_EQ(p->Host().Wait(20000), std::optional<int>(0));
    }
  }
  fs::remove_all(dir);
}

// The working directory cannot hold the folders: Chromium gets a private folder,
// never the user's own profile.
TEST(SeveralHosts, UnwritableWorkingDirectoryNeverTouchesTheUsersProfile) {
  const fs::path dir = FreshDir("readonly"), home = FreshDir("home"), runtime = FreshDir("runtime");
  fs::permissions(runtime, fs::perms::owner_all);
  probe::TReadOnlyFolder readOnly(dir);
  if (Writable(dir)) GTEST_SKIP() << "cannot make a folder that this user cannot write";
  const std::string savedHome = platform::GetEnvironment("HOME");
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  {
    probe::TParentSide parent;
    const bool started = StartPainting(parent, dir);
    ::setenv("HOME", savedHome.c_str(), 1);
    ::unsetenv("XDG_RUNTIME_DIR");
    ASSERT_TRUE(started);
    EXPECT_TRUE(PaintsAt(parent, 200, 100));
    EXPECT_EQ(ChromiumUserDataDir(parent.Host().Pid()), (runtime / "pv7host/userdata").string());
    // An https page opens Chromium's certificate store: in the user data folder too.
    const fs::path portFile = runtime / "https.port";
    platform::ChildProcess https = platform::ChildProcess::Start(
        "/usr/bin/env", {"python3", (fs::path(__FILE__).parent_path().parent_path() / "hoste2e/https_server.py").string(),
                         portFile.string()});
    // Files change without a frame or a connection to wake WaitFor: polled.
    auto appears = [](const fs::path& path) {
      for (int i = 0; i < 300 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      return fs::exists(path);
    };
    ASSERT_TRUE(appears(portFile));
    std::string port;
    std::getline(*std::make_unique<std::ifstream>(portFile), port);
    parent.Send("<LoadWEBURL><WEBURL>https://127.0.0.1:" + port + "/</WEBURL></LoadWEBURL>");
    EXPECT_TRUE(appears(runtime / "pv7host/userdata/xdg-data/pki/nssdb"));
    https.Kill();
    parent.Send("<Destroy/>");
    EXPECT_EQ(parent.Host().Wait(20000), std::optional<int>(0));
  }
  // Nothing at all in the user's home: no profile, caches or certificate store.
  for (const auto& entry : fs::recursive_directory_iterator(home)) ADD_FAILURE() << entry.path();
  for (const auto& d : {home, runtime}) fs::remove_all(d);
}

// No Chromium, or one that ends at once: status 5 before any channel opens.
TEST(HostStartFailure, ChromiumThatCannotStartEndsTheHostWithStatus5) {
  const fs::path dir = FreshDir("nochromium");
  for (const char* chromium : {"/nonexistent/chromium", "/bin/false"}) {
    ::setenv("PV7_CHROMIUM", chromium, 1);
    probe::TParentSide parent;
    parent.StartHost(kHost, {"-showSelf=0"}, dir.string());
    ::unsetenv("PV7_CHROMIUM");
    EXPECT_EQ(parent.Host().Wait(30000), std::optional<int>(5)) << chromium;
    EXPECT_TRUE(parent.WaitFor([&] { return parent.FActnOpened == 0; }, 0)) << chromium;
  }
  fs::remove_all(dir);
}

TEST(HostConsole, TextsReachTheParentInThePagesOrder) {
  probe::TChromiumHost host(kHost, "console-order");
  ASSERT_TRUE(host.Parent().WaitChannels(30000));
  host.Load("about:blank");
  ASSERT_TRUE(host.Echo("ready"));
  host.Parent().ClearConsole();
  host.Js("for (let i = 0; i &lt; 80; i++) console.log('n' + i)");
  ASSERT_TRUE(host.Parent().WaitFor([&] { return host.Parent().FConsole.size() >= 80; }, 20000))
      << host.Parent().ConsoleCount() << " texts";
  std::vector<std::string> expected;
  for (int i = 0; i < 80; ++i) expected.push_back(std::string(1, 'n').append(std::to_string(i)));
  EXPECT_EQ(host.Parent().Console(), expected);
}

// PV7_CODEPAGE=1251: console texts and the page's bridge requests arrive in 1251,
// and the reply comes back to the page through it (the render helper uses it too).
TEST(HostConsole, CodePageRulesConsoleAndBridgeTexts) {
  ::setenv("PV7_CODEPAGE", "1251", 1);
  probe::TChromiumHost host(kHost, "codepage");
  ::unsetenv("PV7_CODEPAGE");
  ASSERT_TRUE(host.Parent().WaitChannels(30000));
  host.Load("about:blank");
  ASSERT_TRUE(host.Echo("ready"));
  std::mutex lock;
  std::string request;  // guarded by lock (written by the parent's INTF thread)
  host.Parent().SetAnswer([&](const std::string& r) {
    std::lock_guard<std::mutex> g(lock);
    request = r;
    return "<Reply>" + r + "</Reply>";
  });
  host.Js("console.log('\\u0416'); console.log('r=' + PV7APIv1.CallPV7XML('\\u0416\\u00e9'))");
  EXPECT_TRUE(host.WaitConsole("\xC6", 10000));
  EXPECT_TRUE(host.WaitConsole("r=<Reply>\xC6?</Reply>", 10000));
  std::lock_guard<std::mutex> g(lock);
  EXPECT_EQ(request, "\xC6?");
}
