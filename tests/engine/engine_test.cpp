// The engine runtime against the scripted engine library: role split, settings,
// process handlers, child command line, draw port, loader failures, references.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/cefintrk.h"
#include "platform/dynlib.h"
#include "tests/scripted_engine/scripted_probe.h"
#include "platform/process.h"
#include "tests/scripted_engine/scripted.h"

namespace {

using namespace scripted;

std::string ReadFile(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string LaunchChild(const char* present) {
  char out[256] = {};
  Fn<void (*)(const char*, char*, int)>("scripted_launch_child")(present, out, sizeof out);
  return out;
}

class EngineStart : public ::testing::Test {
 protected:
  void TearDown() override {
    StopEngine();
    EngineLibraryName() = "libcef.so";
  }
  bool Start(std::vector<const char*> args) {
    static std::vector<std::string> keep;
    keep.assign(args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : keep) argv.push_back(s.data());
    ConfigureEngine();
    return StartEngine(int(argv.size()), argv.data());
  }
};

}  // namespace

TEST(DrawPort, AllSwitchFormsAndFallbacks) {
  struct Case {
    std::vector<std::string> args;
    int port;
  } cases[] = {
      {{"-drawPort=7000"}, 7000},   {{"/drawPort=7001"}, 7001},  {{"drawPort=7002"}, 7002},
      {{"--drawPort=7003"}, 7003},  {{"/DRAWPORT=7004"}, 7004},  {{"-drawport= 7005 "}, 7005},
      {{}, -1},                     {{"-drawPort=abc"}, -1},     {{"-drawPort="}, -1},
      {{"-parentID=5", "--drawPort=12", "-drawPort=13"}, 13},  // the plain form wins
      {{"-drawPortX=1"}, -1},       {{"---drawPort=9"}, -1},
  };
  for (const Case& c : cases) {
    SetEngineArguments(c.args);
    EXPECT_EQ(GetDrawPort(), c.port) << (c.args.empty() ? "(none)" : c.args[0]);
  }
  SetEngineArguments(std::vector<std::string>{});
}

TEST(Settings, ConfigureEngineChangesExactlyFour) {
  const TCefSettingsDefaults fresh;  // the record only views its strings
  const cef_settings_t before = FillCefSettings(fresh);
  EXPECT_EQ(before.single_process, 1);
  EXPECT_EQ(before.persist_session_cookies, 0);
  EXPECT_EQ(before.cache_path.length, 0u);
  ASSERT_NE(before.cache_path.str, nullptr);  // an empty string still points at a text
  EXPECT_EQ(before.cache_path.str[0], u'\0');
  ConfigureEngine();
  const cef_settings_t s = FillCefSettings(CefSettingsDefaults());
  EXPECT_EQ(s.size, sizeof(cef_settings_t));
  EXPECT_EQ(s.single_process, 0);
  EXPECT_EQ(CefString(&s.cache_path), u"cache");
  EXPECT_EQ(CefString(&s.user_data_path), u"userdata");
  EXPECT_EQ(s.persist_session_cookies, 1);
  EXPECT_EQ(s.multi_threaded_message_loop, 0);
  EXPECT_EQ(s.windowless_rendering_enabled, 0);
  EXPECT_EQ(s.log_severity, LOGSEVERITY_DISABLE);
  EXPECT_EQ(s.remote_debugging_port, 0);
  EXPECT_EQ(s.cache_path.dtor, nullptr);
  StopEngine();
  EXPECT_TRUE(CefSettingsDefaults().cache_path.empty());
}

TEST_F(EngineStart, BrowserProcessInitialisesOnceAndSecondStartTouchesNothing) {
  ASSERT_TRUE(Start({"pv7host", "-drawPort=7000"}));
  EXPECT_TRUE(EngineInitialised());
  auto calls = Calls();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls[0], "cef_execute_process");
  EXPECT_EQ(calls[1], "registrar.add_custom_scheme local 1 1 0");
  EXPECT_EQ(calls[2].rfind("cef_initialize size_ok=1 single_process=0 multi_threaded_message_loop=0 "
                           "cache_path=cache user_data_path=userdata persist_session_cookies=1 "
                           "log_severity=99 windowless_rendering_enabled=0", 0), 0u)
      << calls[2];
  EXPECT_EQ(calls[3], "registrar.add_custom_scheme local 1 1 0");  // every process registers it
  const size_t n = calls.size();
  EXPECT_TRUE(StartEngine());
  char* none[] = {nullptr};
  EXPECT_TRUE(StartEngine(0, none));
  EXPECT_EQ(Calls().size(), n);
}

TEST_F(EngineStart, ChildCommandLineCarriesTheDrawPort) {
  ASSERT_TRUE(Start({"pv7host", "/drawPort=4464"}));
  EXPECT_EQ(LaunchChild(nullptr), "--drawPort=4464");
  EXPECT_EQ(LaunchChild("--drawPort=99"), "--drawPort=99");  // left unchanged
}

TEST_F(EngineStart, ChildCommandLineWithoutPortGetsMinusOne) {
  ASSERT_TRUE(Start({"pv7host"}));
  EXPECT_EQ(LaunchChild(nullptr), "--drawPort=-1");
  // present without a value counts as absent: the value is appended
  EXPECT_EQ(LaunchChild("--drawPort"), "--drawPort --drawPort=-1");
}

TEST_F(EngineStart, SubProcessReturnsFalseWhateverTheEngineReturns) {
  for (const char* type : {"--type=renderer", "--type=gpu-process"}) {
    ASSERT_FALSE(Start({"pv7host", type}));
    EXPECT_FALSE(EngineInitialised());
    auto calls = Calls();
    EXPECT_FALSE(HasCallStartingWith(calls, "cef_initialize"));
    StopEngine();
  }
}

TEST_F(EngineStart, RenderProcessRunsTheExtensionRegistration) {
  static int registered = 0;
  registered = 0;
  SetRegisterExtensionProc([] {
    ++registered;
    return true;
  });
  ASSERT_FALSE(Start({"pv7host", "--type=renderer"}));
  EXPECT_EQ(registered, 1);
  SetRegisterExtensionProc(nullptr);
}

TEST_F(EngineStart, ShutdownReleasesEveryReferenceAndTheLibrary) {
  ASSERT_TRUE(Start({"pv7host"}));
  auto outstanding = Fn<int (*)()>("scripted_outstanding_refs");
  auto calls = Fn<int (*)()>("scripted_call_count");
  auto call = Fn<const char* (*)(int)>("scripted_call");
  EXPECT_EQ(outstanding(), 0);
  // StopEngine unloads the library, so look at the log the library kept just before.
  CefLib().cef_shutdown();
  const int n = calls();
  EXPECT_STREQ(call(n - 1), "shutdown outstanding_refs=0");
}

TEST_F(EngineStart, MissingEntryPointIsInvalidLibraryVersion) {
  EngineLibraryName() = PV7_TEST_DIR "/scripted_missing/libcef.so";
  ConfigureEngine();
  try {
    StartEngine();
    FAIL() << "no exception";
  } catch (const ECefException& e) {
    EXPECT_EQ(e.Message(), "Invalid CEF Library version");
  }
  EXPECT_FALSE(CefLibraryLoaded());
}

TEST_F(EngineStart, UnloadableLibraryReportsTheSystemError) {
  EngineLibraryName() = PV7_TEST_DIR "/no-such-folder/libcef.so";
  ConfigureEngine();
  try {
    StartEngine();
    FAIL() << "no exception";
  } catch (const ECefException&) {
    FAIL() << "wrong kind of error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message().rfind("System Error.  Code: ", 0), 0u) << e.Message();
    EXPECT_NE(e.Message().find(".\r\n"), std::string::npos);
    EXPECT_NE(e.Message().find("no-such-folder/libcef.so"), std::string::npos) << e.Message();
  }
  EXPECT_FALSE(CefLibraryLoaded());
}

// The same start-up as separate processes, as the host runs it.
TEST(EngineProcess, RoleSplitAndFailureReports) {
  const std::string dir = PV7_TEST_DIR;
  const std::string log = dir + "/scripted/probe_" + std::to_string(platform::GetCurrentProcessId()) + ".log";
  const std::string report = log + ".report";
  std::remove(log.c_str());
  {  // sub-process: status 0, nothing initialised
    auto p = platform::ChildProcess::Start(dir + "/scripted/engine_probe", {"--type=renderer", "--log=" + log});
    EXPECT_EQ(p.Wait(10000), 0);
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find("cef_execute_process type=renderer"), std::string::npos) << text;
    EXPECT_EQ(text.find("cef_initialize"), std::string::npos) << text;
    EXPECT_EQ(text.find("create_browser_sync"), std::string::npos) << text;
  }
  std::remove(log.c_str());
  {  // browser process without switches
    auto p = platform::ChildProcess::Start(dir + "/scripted/engine_probe", {"--log=" + log});
    EXPECT_EQ(p.Wait(10000), 0);
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find("cef_initialize"), std::string::npos) << text;
    EXPECT_NE(text.find("shutdown outstanding_refs=0"), std::string::npos) << text;
  }
  std::remove(log.c_str());
  {  // no library beside the program and none on the search path
    auto p = platform::ChildProcess::Start(dir + "/nolib/engine_probe", {"--report=" + report});
    EXPECT_EQ(p.Wait(10000), 1);
    EXPECT_EQ(ReadFile(report).rfind("System Error.  Code: ", 0), 0u) << ReadFile(report);
  }
  std::remove(report.c_str());
  {
    auto p = platform::ChildProcess::Start(dir + "/scripted_missing/engine_probe", {"--report=" + report});
    EXPECT_EQ(p.Wait(10000), 1);
    EXPECT_EQ(ReadFile(report), "Invalid CEF Library version");
  }
  std::remove(report.c_str());
}
