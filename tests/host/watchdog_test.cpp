#include "host/watchdog/suicideOrphan.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/process.h"

using platform::ChildProcess;

namespace {

const std::string kProbe = std::string(PV7_TEST_DIR) + "/watchdog_probe";

ChildProcess StartSleeper() { return ChildProcess::Start("/bin/sleep", {"30"}); }

long long MsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t)
      .count();
}

}  // namespace

class WatchdogForms : public ::testing::TestWithParam<const char*> {};

TEST_P(WatchdogForms, ParentEndEndsTheWatcherWithStatus1) {
  ChildProcess parent = StartSleeper();
  ChildProcess probe =
      ChildProcess::Start(kProbe, {std::string(GetParam()) + std::to_string(parent.Pid())});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(probe.Running());
  auto killedAt = std::chrono::steady_clock::now();
  parent.Kill();
  parent.Wait(-1);
  std::optional<int> status = probe.Wait(3000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 1);
  EXPECT_LT(MsSince(killedAt), 1000);
}

INSTANTIATE_TEST_SUITE_P(Switch, WatchdogForms,
                         ::testing::Values("-parentID=", "/parentID=", "/PARENTID="));

TEST(Watchdog, NoSwitchOrZeroOrUnknownProcessWatchesNothing) {
  ChildProcess parent = StartSleeper();
  for (std::vector<std::string> args :
       {std::vector<std::string>{"-runMs=600"}, {"-parentID=0", "-runMs=600"},
        {"-parentID=abc", "-runMs=600"}, {"-parentID=999999999", "-runMs=600"}}) {
    ChildProcess probe = ChildProcess::Start(kProbe, args);
    std::optional<int> status = probe.Wait(5000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0) << args[0];
  }
}

TEST(Watchdog, ReleasingTheWatcherStopsItsThreadPromptly) {
  // The probe measures how long releasing took (status 3 if 900 ms or more).
  ChildProcess parent = StartSleeper();
  ChildProcess probe =
      ChildProcess::Start(kProbe, {"-parentID=" + std::to_string(parent.Pid()), "-runMs=200"});
  std::optional<int> status = probe.Wait(5000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);
  EXPECT_TRUE(parent.Running());
}

TEST(Watchdog, InProcessWatchReportsItsState) {
  EXPECT_FALSE(NewSuicideOrphan(1)->Watch(0)->Watching());
  ChildProcess parent = StartSleeper();
  ISuicideOrphanRef w = NewSuicideOrphan(1);
  EXPECT_EQ(w->Watch(parent.Pid()), w);  // the same object
  EXPECT_TRUE(w->Watching());
}
