// A parent that misbehaves on DRAW or ACTN against pv7host on real Chromium:
// it stops reading DRAW, closes DRAW, or closes ACTN. The host must not crash,
// spin or grow while it is blocked, and must carry on once the parent does.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/hostile/chromium_host.h"
#include "tests/hostile/proc_probe.h"

using namespace std::chrono_literals;

namespace {

const std::string kHost = std::string(PV7_BIN_DIR) + "/pv7host";

std::string TestName() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// CPU ticks (1/100 s) the host uses over `seconds` of waiting.
long long TicksOver(int pid, int seconds) {
  const long long before = probe::CpuTicks(pid);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  return probe::CpuTicks(pid) - before;
}

// The host's Chromium browser process.
int ChromiumOf(int host) { return probe::ChromiumBrowser(probe::Descendants(host)); }

}  // namespace

// Chromium killed under the host: it is started again with the page at its size,
// and the parent sees a pause on the same ACTN and DRAW connections.
TEST(HostileEngine, KilledChromiumIsStartedAgainAndTheParentSeesOnlyAPause) {
  probe::TChromiumHost host(kHost, TestName());
  ASSERT_TRUE(host.Parent().WaitChannels(20000));
  host.Load(probe::kAnimatedPage);
  ASSERT_TRUE(host.Resize(320, 200));
  ASSERT_TRUE(host.WaitFrames(5, 20000));
  const int chromium = ChromiumOf(host.Pid());
  ASSERT_GT(chromium, 0);

  ASSERT_EQ(kill(chromium, SIGKILL), 0);
  ASSERT_TRUE(probe::PollUntil(10000, [&] {
    int now = ChromiumOf(host.Pid());
    return now > 0 && now != chromium;
  }));
  EXPECT_TRUE(host.WaitFrames(10, 30000)) << "frames did not resume";
  EXPECT_EQ(host.Parent().LastSize(), std::make_pair(320, 200));
  EXPECT_TRUE(host.Echo("after the restart"));
  // The page's native API is there again and reaches the parent.
  host.Js("console.log('api=' + PV7APIv1.CallPV7XML('after'))");
  EXPECT_TRUE(host.WaitConsole("api=<Reply>after</Reply>", 10000));
  EXPECT_TRUE(host.Parent().WaitFor([&] {
    return host.Parent().FActnOpened == 1 && host.Parent().FDrawOpened == 1;
  }, 0));
  EXPECT_TRUE(host.Parent().Host().Running());
  host.Parent().Send("<Destroy/>");
  EXPECT_EQ(host.Parent().Host().Wait(20000), std::optional<int>(0));
}

// A parent that sets the size and loads a page at once, as soon as the channels
// open, gets frames of that size without asking twice: a still page and a moving
// one.
class HostileStart : public ::testing::TestWithParam<const char*> {};

// Waits up to 15 s for a frame of w x h.
::testing::AssertionResult FramesOfSize(probe::TChromiumHost& host, int w, int h) {
  if (host.Parent().WaitFor([&] { return host.Parent().FLastW == w && host.Parent().FLastH == h; }, 15000))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << host.Parent().Frames() << " frames, the last "
                                       << host.Parent().LastSize().first << " x "
                                       << host.Parent().LastSize().second;
}

TEST_P(HostileStart, SizeAndPageRightAfterStartGiveFramesOfThatSize) {
  probe::TChromiumHost host(kHost, "start" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  ASSERT_TRUE(host.Parent().WaitChannels(20000));
  host.SendSize(640, 480);  // a first size the parent changes its mind about
  host.SendSize(333, 222);
  host.Load(GetParam());
  EXPECT_TRUE(FramesOfSize(host, 333, 222));
}

// A view larger than the one the screencast started with, asked before its first frame.
TEST_P(HostileStart, LargerSizeRightAfterStartGivesFramesOfThatSize) {
  probe::TChromiumHost host(kHost, "large" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  ASSERT_TRUE(host.Parent().WaitChannels(20000));
  host.SendSize(1280, 720);
  host.Load(GetParam());
  EXPECT_TRUE(FramesOfSize(host, 1280, 720));
}

INSTANTIATE_TEST_SUITE_P(Pages, HostileStart,
                         ::testing::Values("data:text/html,&lt;body bgcolor=teal&gt;still",
                                           probe::kAnimatedPage));

TEST(HostileDraw, StoppedReaderBlocksTheHostQuietlyAndFramesResume) {
  probe::TChromiumHost host(kHost, TestName());
  ASSERT_TRUE(host.Parent().WaitChannels(20000));
  host.Load(probe::kAnimatedPage);
  ASSERT_TRUE(host.Resize(400, 300));
  ASSERT_TRUE(host.WaitFrames(10, 20000)) << "the animated page sends no frames";

  host.Parent().PauseDraw(true);
  // The socket buffers fill within a few frames; then the host's write blocks.
  std::this_thread::sleep_for(3s);
  const long long rss = probe::RssKb(host.Pid());
  const long long ticks = TicksOver(host.Pid(), 3);
  const long long grown = probe::RssKb(host.Pid()) - rss;
  std::printf("blocked on DRAW: %lld ticks in 3 s, rss %+lld kB\n", ticks, grown);
  // A host that kept decoding and queueing frames would use a core and grow.
  EXPECT_LT(ticks, 90);
  EXPECT_LT(grown, 32 * 1024);
  EXPECT_TRUE(host.Parent().Host().Running());

  host.Parent().PauseDraw(false);
  EXPECT_TRUE(host.WaitFrames(10, 20000)) << "frames did not resume";
  host.Parent().Send("<Destroy/>");
  EXPECT_EQ(host.Parent().Host().Wait(20000), std::optional<int>(0));
}

TEST(HostileDraw, ClosedDrawStopsFramesAndConsoleButNotTheHost) {
  probe::TChromiumHost host(kHost, TestName());
  ASSERT_TRUE(host.Parent().WaitChannels(20000));
  host.Load(probe::kAnimatedPage);
  ASSERT_TRUE(host.Resize(320, 200));
  host.Load("about:blank");
  ASSERT_TRUE(host.Echo("before close"));

  host.Parent().CloseDraw();
  std::this_thread::sleep_for(300ms);
  // Paints go on in the engine; nothing is written, nothing spins.
  host.Js("document.body.style.background='green';console.log('after close')");
  std::this_thread::sleep_for(1s);
  EXPECT_FALSE(host.Parent().ConsoleHas("after close"));
  EXPECT_LT(TicksOver(host.Pid(), 2), 40);
  EXPECT_TRUE(host.Parent().Host().Running());
  host.Parent().Send("<Destroy/>");
  EXPECT_EQ(host.Parent().Host().Wait(20000), std::optional<int>(0));
}

TEST(HostileDraw, ClosedActnEndsTheReaderWhileFramesFlow) {
  probe::TChromiumHost host(kHost, TestName());
  ASSERT_TRUE(host.Parent().WaitChannels(20000));
  host.Load(probe::kAnimatedPage);
  ASSERT_TRUE(host.Resize(320, 200));
  ASSERT_TRUE(host.WaitFrames(5, 20000));
  host.Parent().CloseActn();
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(host.WaitFrames(20, 20000)) << "frames stopped with ACTN";
  EXPECT_TRUE(host.Parent().Host().Running());
}

// Destroy while the main thread is blocked writing a frame nobody reads: the host
// ends as soon as the parent closes DRAW (the blocked write fails, the frame is
// lost, the quit request runs).
TEST(HostileDraw, DestroyWhileBlockedOnDrawEndsOnceDrawCloses) {
  probe::TChromiumHost host(kHost, TestName());
  ASSERT_TRUE(host.Parent().WaitChannels(20000));
  host.Load(probe::kAnimatedPage);
  ASSERT_TRUE(host.Resize(400, 300));
  ASSERT_TRUE(host.WaitFrames(5, 20000));
  host.Parent().PauseDraw(true);
  std::this_thread::sleep_for(3s);
  host.Parent().Send("<Destroy/>");
  std::this_thread::sleep_for(500ms);
  host.Parent().CloseDraw();
  EXPECT_EQ(host.Parent().Host().Wait(20000), std::optional<int>(0));
}
