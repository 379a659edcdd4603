// The engine library under the program's own off-screen component: the component
// loads libcef.so, creates its browser, and real Chromium pixels reach its OnPaint.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <cstdint>
#include <thread>
#include <vector>

#include "engine/cefintrk.h"
#include "engine/cefload.h"
#include "osr/ChromiumOSR.h"
#include "platform/mainloop.h"

namespace {

struct Seen {
  int paints = 0;
  int width = 0, height = 0;
  uint32_t pixel = 0;  // 0xAARRGGBB at (5, 5)
};

bool Pump(const std::function<bool()>& done, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    platform::ProcessPendingEvents();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return done();
}

}  // namespace

TEST(CefEngineOsr, ComponentReceivesPaintsOfTheViewSize) {
  EngineLibraryName() = PV7_ENGINE_LIBRARY;
  ConfigureEngine();
  char arg0[] = "cefengine_osr_tests";
  char* argv[] = {arg0, nullptr};
  ASSERT_TRUE(StartEngine(1, argv));
  Seen seen;
  int viewWidth = 200;
  {
    TChromiumOSR osr;
    osr.OnGetViewRect = [&](TObject*, const TBrowserRef&, cef_rect_t* rect, bool& result) {
      *rect = {0, 0, viewWidth, 100};
      result = true;
    };
    osr.OnPaint = [&](TObject*, const TBrowserRef&, cef_paint_element_type_t kind, uint32_t n,
                      const cef_rect_t*, const void* buffer, int w, int h) {
      EXPECT_EQ(kind, PET_VIEW);
      EXPECT_GT(n, 0u);
      const uint8_t* p = static_cast<const uint8_t*>(buffer) + (5 * w + 5) * 4;
      seen.paints++;
      seen.width = w;
      seen.height = h;
      seen.pixel = uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    };
    osr.Loaded();
    ASSERT_TRUE(osr.EngineBrowser());
    osr.Navigate(u"data:text/html,<body style='background:%2300ff00'></body>");
    EXPECT_TRUE(Pump([&] { return seen.pixel == 0xFF00FF00u && seen.width == 200; }, 15000));
    EXPECT_EQ(seen.height, 100);
    // A new size through the browser host's was_resized.
    viewWidth = 240;
    auto host = osr.EngineBrowser()->get_host(osr.EngineBrowser().get());
    host->was_resized(host);
    host->base.release(&host->base);
    EXPECT_TRUE(Pump([&] { return seen.width == 240; }, 10000));
  }
  StopEngine();
}

// The engine starts this program again as its render helper: that run plays the
// helper's role and ends.
int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--type=", 7) == 0) {
      EngineLibraryName() = PV7_ENGINE_LIBRARY;
      ConfigureEngine();
      const bool browser = StartEngine(argc, argv);
      StopEngine();
      return browser ? 1 : 0;
    }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
