#include "platform/mainloop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace platform;

TEST(MainLoop, QuitFromAnotherThreadEndsTheLoop) {
  std::thread t([] { QuitMainLoop(); });
  RunMainLoop();
  t.join();
}

TEST(MainLoop, TimerRunsUntilItReturnsFalse) {
  int ticks = 0;
  AddTimer(1, [&] {
    if (++ticks == 3) {
      QuitMainLoop();
      return false;
    }
    return true;
  });
  RunMainLoop();
  EXPECT_EQ(ticks, 3);
}

TEST(MainLoop, InvokedCallRunsOnTheLoopThread) {
  std::thread::id loopThread = std::this_thread::get_id();
  std::atomic<bool> sameThread{false};
  std::thread t([&] {
    InvokeOnMainLoop([&] {
      sameThread = std::this_thread::get_id() == loopThread;
      QuitMainLoop();
    });
  });
  RunMainLoop();
  t.join();
  EXPECT_TRUE(sameThread);
}

TEST(MainLoop, QuitBeforeTheLoopRunsEndsOnlyThatLoop) {
  QuitMainLoop();
  RunMainLoop();  // returns at once
  int ticks = 0;
  AddTimer(1, [&] {
    if (++ticks == 5) {
      QuitMainLoop();
      return false;
    }
    return true;
  });
  RunMainLoop();  // the earlier request's idle callback must not end this one
  EXPECT_EQ(ticks, 5);
}
