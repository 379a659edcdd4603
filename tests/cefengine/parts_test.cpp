// The engine's parts driven by a scripted session, without Chromium: the screencast
// watch, paint pacing, request interception, load errors, the frame tree, the restart
// policy and the work thread.
#include <gtest/gtest.h>
#include <spng.h>

#include <atomic>
#include <thread>

#include "bridge.h"
#include "chromium.h"
#include "frame_tree.h"
#include "interceptor.h"
#include "load_tracker.h"
#include "paint.h"
#include "screencast.h"
#include "scripted_session.h"
#include "os_process.h"
#include "task_queue.h"

using namespace cefeng;
using cefeng::testing::ScriptedSession;

namespace {

constexpr uint64_t kSecond = 1000000;

// A one-colour RGB PNG, base64, as a screencast frame carries it.
std::string PngFrame(int w, int h, uint8_t shade) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr{};
  ihdr.width = w;
  ihdr.height = h;
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  spng_set_ihdr(ctx, &ihdr);
  std::vector<uint8_t> rgb(size_t(w) * h * 3, shade);
  spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  size_t len = 0;
  int err = 0;
  void* out = spng_get_png_buffer(ctx, &len, &err);
  std::string png(static_cast<char*>(out), len);
  free(out);
  spng_ctx_free(ctx);
  return Base64Encode(png);
}

struct Recorder : BrowserDelegate {
  struct Error {
    int64_t frame;
    int code;
    std::string text, url;
  };
  std::vector<Error> errors;
  void OnLoadError(int64_t f, int code, const std::string& text, const std::string& url) override {
    errors.push_back({f, code, text, url});
  }
};

// A screencast at 800 x 600 whose start Chromium has answered.
struct Cast {
  ScriptedSession s;
  CommandOrder order;
  Screencast cast{s, order};
  Cast() {
    cast.SetViewSize(800, 600);
    cast.Start();
    s.Reply("Page.startScreencast");
    s.sent.clear();
  }
  void Frame(int w, int h) { cast.Decoded(w, h, cast.Arrived()); }
  size_t Restarts() const { return s.Count("Page.startScreencast"); }
};

}  // namespace

TEST(CefEngineScreencast, NoFrameWithinASecondStartsItAgainEachRetryWaitingLonger) {
  Cast c;
  c.s.Advance(kSecond - 1);
  EXPECT_EQ(c.Restarts(), 0u);
  c.s.Advance(1);
  ASSERT_EQ(c.Restarts(), 1u);
  EXPECT_EQ(c.s.sent[0].method, "Page.stopScreencast");
  EXPECT_EQ(c.s.Last("Page.startScreencast")->params["maxWidth"], 800);
  c.s.Advance(2 * kSecond - 1);  // the second retry waits twice as long
  EXPECT_EQ(c.Restarts(), 1u);
  c.s.Advance(1);
  EXPECT_EQ(c.Restarts(), 2u);
  // A frame ends the retries.
  c.s.Reply("Page.startScreencast");
  c.Frame(800, 600);
  c.s.Advance(30 * kSecond);
  EXPECT_EQ(c.Restarts(), 2u);
}

TEST(CefEngineScreencast, FramesOfAStartNotYetAnsweredAreNotCounted) {
  Cast c;
  c.Frame(800, 600);
  c.cast.SetViewSize(1024, 768);  // stop, then a start at the new size
  EXPECT_EQ(c.s.Count("Page.stopScreencast"), 1u);
  EXPECT_EQ(c.s.Last("Page.startScreencast")->params["maxWidth"], 1024);
  // Frames of the old screencast still on their way: not this start's.
  EXPECT_EQ(c.cast.Arrived(), 0u);
  c.cast.Decoded(800, 600, 0);
  c.s.Advance(kSecond);  // so the start brought no frame: it is started again
  EXPECT_EQ(c.Restarts(), 2u);
  c.s.Reply("Page.startScreencast");
  EXPECT_NE(c.cast.Arrived(), 0u);
}

TEST(CefEngineScreencast, AStillFrameOfTheWrongSizeRestartsOncePerViewSize) {
  Cast c;
  c.Frame(640, 480);
  c.s.Advance(kSecond - 1);
  EXPECT_EQ(c.Restarts(), 0u);
  c.s.Advance(1);
  EXPECT_EQ(c.Restarts(), 1u);
  c.s.Reply("Page.startScreencast");
  c.Frame(640, 480);  // Chromium keeps the size: no second try for this view size
  c.s.Advance(10 * kSecond);
  EXPECT_EQ(c.Restarts(), 1u);
  // A moving page: a few frames of the wrong size restart it at once, unless the
  // page itself has not taken the new size yet.
  c.cast.SetViewSize(1000, 700);
  c.s.Reply("Page.startScreencast");
  for (int i = 0; i < Screencast::kFramesBeforeSizeRestart; ++i) c.cast.Decoded(800, 600, c.cast.Arrived(800, 600));
  EXPECT_EQ(c.Restarts(), 2u);
  for (int i = 0; i < Screencast::kFramesBeforeSizeRestart; ++i) c.Frame(800, 600);
  EXPECT_EQ(c.Restarts(), 3u);
}

TEST(CefEngineScreencast, AFrameStillDecodingDuringANavigationDoesNotRestartIt) {
  Cast c;
  c.Frame(640, 480);  // the old page's size
  c.s.Advance(100000);
  uint64_t arrived = c.cast.Arrived();  // the new page's frame, still being decoded
  c.s.Advance(3 * kSecond);
  EXPECT_EQ(c.Restarts(), 0u);
  c.cast.Decoded(800, 600, arrived);
  c.s.Advance(10 * kSecond);
  EXPECT_EQ(c.Restarts(), 0u);
  // A restart due while commands wait (a size asked of the main thread) follows them.
  c.order.Hold();
  c.Frame(640, 480);
  c.s.Advance(kSecond);
  EXPECT_EQ(c.Restarts(), 0u);
  c.order.Release();
  EXPECT_EQ(c.Restarts(), 1u);
}

// Around a commit: a start without a frame yet is started again at once (and after
// 50, 100 and 150 ms); and once more 300 ms after the commit unless frames have followed
// the page's paints, since a start's first frame may show the document that went.
TEST(CefEngineScreencast, ACommitIsFollowedByFramesOfTheNewDocument) {
  Cast c;
  c.cast.DocumentCommitted();
  ASSERT_EQ(c.Restarts(), 1u);
  c.s.Reply("Page.startScreencast");
  c.s.Advance(Screencast::kQuickWaitUs);
  EXPECT_EQ(c.Restarts(), 2u);
  c.s.Reply("Page.startScreencast");
  c.Frame(800, 600);  // only a start's first frame
  c.s.Advance(Screencast::kCommitWaitUs - Screencast::kQuickWaitUs - 1);
  EXPECT_EQ(c.Restarts(), 2u);
  c.s.Advance(1);
  EXPECT_EQ(c.Restarts(), 3u);
  c.s.Reply("Page.startScreencast");
  c.Frame(800, 600);
  c.s.Advance(5 * kSecond);
  EXPECT_EQ(c.Restarts(), 3u);

  c.cast.DocumentCommitted();  // a running screencast whose frames go on: nothing to do
  c.s.Advance(100000);
  c.Frame(800, 600);
  c.s.Advance(5 * kSecond);
  EXPECT_EQ(c.Restarts(), 3u);
  EXPECT_EQ(c.cast.WatchRestarts(), 0);
}

// At 30 frames per second the screencast asks for every second frame while the page
// renders at Chromium's 60, and for every frame again once the page goes still or
// slower (the frame skipped may be its last change), and at every start.
TEST(CefEngineScreencast, PacedToTheFrameRateOnlyWhileThePageRendersAtFullRate) {
  Cast c;
  auto frames = [&](int n, uint64_t gapUs) {
    for (int i = 0; i < n; ++i) {
      c.s.Advance(gapUs);
      c.Frame(800, 600);
    }
    c.s.RunPosted();
  };
  auto nth = [&] { return c.s.Last("Page.startScreencast")->params["everyNthFrame"].get<int>(); };
  frames(Screencast::kPaceWindow + 1, 16667);
  ASSERT_EQ(c.Restarts(), 1u);
  EXPECT_EQ(nth(), 2);
  EXPECT_EQ(c.s.sent[0].method, "Page.stopScreencast");
  c.s.Reply("Page.startScreencast");
  frames(20, 33333);  // the paced rate: kept
  EXPECT_EQ(c.Restarts(), 1u);
  c.s.Advance(3 * 33334);  // gone still
  c.s.RunPosted();
  ASSERT_EQ(c.Restarts(), 2u);
  EXPECT_EQ(nth(), 1);
  c.s.Reply("Page.startScreencast");
  frames(30, 40000);  // 25 per second: every frame is wanted
  frames(30, 22222);  // 45 (a loaded machine): every second frame would give 22
  EXPECT_EQ(c.Restarts(), 2u);

  frames(Screencast::kPaceWindow, 16667);
  ASSERT_EQ(c.Restarts(), 3u);
  c.s.Reply("Page.startScreencast");
  // Slower than the paced rate: every frame again, but not within 2 s of the last
  // change of pace.
  frames(25, 60000);
  EXPECT_EQ(c.Restarts(), 3u);
  frames(15, 60000);
  ASSERT_EQ(c.Restarts(), 4u);
  EXPECT_EQ(nth(), 1);
  c.s.Reply("Page.startScreencast");

  frames(50, 40000);
  frames(Screencast::kPaceWindow + 1, 16667);
  c.s.Reply("Page.startScreencast");
  ASSERT_EQ(nth(), 2);
  c.cast.SetViewSize(1024, 768);
  EXPECT_EQ(nth(), 1);
  EXPECT_EQ(c.cast.WatchRestarts(), 0);
}

TEST(CefEnginePaint, FramesArePacedToTheRateAndCoalescedWithTheirAckHeld) {
  ScriptedSession s;
  std::vector<std::pair<int, int>> decoded;
  PaintPipeline paint(s, 25, PngDecoder::Deflate, [&](int w, int h, uint64_t) { decoded.push_back({w, h}); });
  auto arrive = [&](int ack, uint8_t shade) {
    paint.FrameArrived({{"sessionId", ack}, {"data", PngFrame(64, 32, shade)}}, s.now, true);
  };
  std::vector<std::vector<Rect>> paints;
  auto deliver = [&] {
    return paint.Deliver(s.now, [&](const std::vector<Rect>& r, const uint8_t* px, int w, int h) {
      EXPECT_EQ(w, 64);
      EXPECT_EQ(h, 32);
      EXPECT_EQ(px[0], 10);
      paints.push_back(r);
    });
  };
  arrive(1, 10);
  EXPECT_EQ(s.Count("Page.screencastFrameAck"), 1u);  // nothing waits: acknowledged at once
  s.RunPosted();
  EXPECT_EQ(decoded.size(), 1u);
  EXPECT_EQ(s.wakes, 1);
  EXPECT_EQ(deliver(), 0u);
  ASSERT_EQ(paints.size(), 1u);
  EXPECT_EQ(paints[0], (std::vector<Rect>{{0, 0, 64, 32}}));
  // Two more frames before the next paint is due: one paint; the second frame's
  // acknowledgement waits for it.
  arrive(2, 20);
  s.RunPosted();
  arrive(3, 10);
  EXPECT_EQ(s.Count("Page.screencastFrameAck"), 2u);
  s.RunPosted();
  s.now += 10000;
  uint64_t due = deliver();
  EXPECT_EQ(due, s.now - 10000 + 40000 - PaintPipeline::kEarlyDeliveryUs);
  EXPECT_EQ(paints.size(), 1u);
  s.now = due;
  EXPECT_EQ(deliver(), 0u);
  ASSERT_EQ(paints.size(), 2u);
  EXPECT_EQ(BoundingBox(paints[1]), (Rect{0, 0, 64, 32}));
  s.RunPosted();
  ASSERT_EQ(s.Count("Page.screencastFrameAck"), 3u);
  EXPECT_EQ(s.Last("Page.screencastFrameAck")->params["sessionId"], 3);
  // A frame that changes nothing is not painted, but still acknowledged.
  arrive(4, 10);
  s.RunPosted();
  s.now += kSecond;
  EXPECT_EQ(deliver(), 0u);
  EXPECT_EQ(paints.size(), 2u);
  EXPECT_EQ(s.Count("Page.screencastFrameAck"), 4u);
}

TEST(CefEngineInterceptor, ContinueWithHeadersCancelAndAsyncAnswerOnce) {
  ScriptedSession s;
  FrameTree frames;
  RequestInterceptor ri(s, frames);
  json paused = {{"requestId", "R1"},
                 {"frameId", "F"},
                 {"resourceType", "Document"},
                 {"request", {{"url", "http://a/"}, {"method", "GET"}, {"headers", {{"Accept", "*/*"}}}}}};
  ri.Paused(paused, [](std::shared_ptr<RequestInfo> info, std::function<void(bool)>) {
    EXPECT_EQ(info->headers.items.size(), 1u);
    info->headers.items.emplace_back("X-Mode", "a");
    info->headers.items.emplace_back("x-mode", "b");
    return kAnswerContinue;
  });
  const auto* c = s.Last("Fetch.continueRequest");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->params["headers"],
            json::parse(R"([{"name":"Accept","value":"*/*"},{"name":"X-Mode","value":"a, b"}])"));
  // Refused by Chromium: the request goes on unchanged.
  s.Reply("Fetch.continueRequest", json(), "Invalid header");
  EXPECT_EQ(s.Last("Fetch.continueRequest")->params, json({{"requestId", "R1"}}));

  ri.Paused(paused, [](auto, auto) { return kAnswerCancel; });
  EXPECT_EQ(s.Last("Fetch.failRequest")->params["errorReason"], "Aborted");

  std::function<void(bool)> later;
  size_t before = s.sent.size();
  ri.Paused(paused, [&](auto, std::function<void(bool)> done) {
    later = done;
    return kAnswerAsync;
  });
  EXPECT_EQ(s.sent.size(), before);
  std::thread other([&] {
    later(true);
    later(false);
  });
  other.join();
  s.RunPosted();
  ASSERT_EQ(s.sent.size(), before + 1);
  EXPECT_EQ(s.sent.back().method, "Fetch.continueRequest");
  EXPECT_EQ(s.sent.back().params, json({{"requestId", "R1"}}));
}

TEST(CefEngineLoadTracker, ALoadErrorIsReportedOnceFromNetworkAndNavigation) {
  ScriptedSession s;
  FrameTree frames;
  frames.Reattached();
  frames.SetMain("M");
  LoadTracker load(s, frames);
  Recorder r;
  load.HandleEvent("Network.requestWillBeSent",
                   {{"type", "Document"}, {"requestId", "Q"}, {"frameId", "M"}, {"request", {{"url", "http://x/"}}}});
  load.HandleEvent("Network.loadingFailed",
                   {{"type", "Document"}, {"requestId", "Q"}, {"errorText", "net::ERR_CONNECTION_REFUSED"}});
  load.LoadFailed("M", "net::ERR_CONNECTION_REFUSED", "http://x/");  // the navigation's reply
  s.Deliver(r);
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].frame, frames.MainId());
  EXPECT_EQ(r.errors[0].code, -102);
  EXPECT_EQ(r.errors[0].url, "http://x/");
  // Later, or another failure: reported again. Other requests' failures are not loads.
  s.now += LoadTracker::kRepeatedErrorUs;
  load.LoadFailed("M", "net::ERR_CONNECTION_REFUSED", "http://x/");
  load.HandleEvent("Network.requestWillBeSent", {{"type", "Document"}, {"requestId", "P"}, {"frameId", "M"}});
  load.HandleEvent("Network.loadingFailed", {{"type", "Document"}, {"requestId", "P"}, {"canceled", true}});
  load.HandleEvent("Network.loadingFailed", {{"type", "Image"}, {"requestId", "I"}, {"errorText", "x"}});
  load.HandleEvent("Network.loadingFailed", {{"type", "Document"}, {"canceled", "yes"}});  // malformed
  s.Deliver(r);
  ASSERT_EQ(r.errors.size(), 4u);
  EXPECT_EQ(r.errors[2].text, "net::ERR_ABORTED");
  EXPECT_EQ(r.errors[3].text, "net::ERR_FAILED");
  EXPECT_EQ(r.errors[3].frame, frames.MainId());  // a failure of no known frame is the main frame's
}

TEST(CefEngineCommandOrder, HeldCommandsRunInOrderAndOneThatHoldsAgainKeepsTheRestWaiting) {
  CommandOrder order;
  std::vector<std::string> ran;
  order.Hold();  // a view size asked of the main thread
  order.Run([&] { ran.push_back("click"); });
  order.Run([&] {  // a navigation: waits for its page, and so do the commands after it
    ran.push_back("navigate");
    order.Hold();
  });
  order.Run([&] {
    ran.push_back("key");
    order.Run([&] { ran.push_back("posted by key"); });
  });
  order.Run([&] { ran.push_back("last"); });
  EXPECT_TRUE(ran.empty());
  order.Release();
  EXPECT_EQ(ran, (std::vector<std::string>{"click", "navigate"}));
  order.Run([&] { ran.push_back("later"); });
  order.Release();
  EXPECT_EQ(ran, (std::vector<std::string>{"click", "navigate", "key", "last", "later", "posted by key"}));
  EXPECT_FALSE(order.Held());
  order.Run([&] { ran.push_back("now"); });
  EXPECT_EQ(ran.back(), "now");
}

TEST(CefEngineFrameTree, TheMainFrameKeepsItsIdAndAddressAcrossAReattachment) {
  FrameTree frames;
  frames.Reattached();
  frames.SetMain("A");
  const int64_t main = frames.MainId();
  frames.Navigated("A", "http://page/", "", true, false);
  int64_t child = frames.Navigated("C", "http://child/", "inner", false, false);
  frames.SetContext("C", 7);
  EXPECT_TRUE(frames.Known(child));
  EXPECT_EQ(frames.Name(child), "inner");
  EXPECT_EQ(frames.Context("C"), 7);
  frames.Navigated("A", "chrome-error://chromewebdata/", "", true, true);  // keeps the address

  frames.Reattached();  // Chromium started again
  EXPECT_EQ(frames.MainId(), main);
  EXPECT_EQ(frames.LastAddress(), "http://page/");
  EXPECT_FALSE(frames.Known(child));
  EXPECT_EQ(frames.Context("C"), -1);
  EXPECT_FALSE(frames.Known(0));  // until the new page's main frame is known
  frames.SetMain("B");
  EXPECT_EQ(frames.MainId(), main);
  EXPECT_TRUE(frames.Known(0));
  EXPECT_EQ(frames.DevToolsId(main), "B");
  EXPECT_EQ(frames.Url(main), "http://page/");
  EXPECT_GT(frames.IdFor("C"), child);  // a frame of the new page is a new frame
}

TEST(CefEngineRestartPolicy, TheThirdCrashWithinAMinuteIsNotRepaired) {
  uint64_t now = 5000;
  RestartPolicy policy([&] { return now; });
  EXPECT_TRUE(policy.NoteCrash());
  now += 30000;
  EXPECT_TRUE(policy.NoteCrash());
  now += 29999;
  EXPECT_FALSE(policy.NoteCrash());
  EXPECT_EQ(policy.RecentCrashes(), 3u);
  // Crashes further apart than a minute are each repaired.
  policy.Reset();
  for (int i = 0; i < 5; ++i, now += 30000) EXPECT_TRUE(policy.NoteCrash()) << i;
}

TEST(CefEngineWorkThread, RunsInOrderTimedByTimeAndWhatIsQueuedAtStop) {
  std::vector<int> order;
  std::atomic<bool> onThread{false};
  {
    WorkThread t("parts test");
    uint64_t now = MonotonicUs();
    t.PostAt(now + 30000, [&] { order.push_back(3); });
    t.PostAt(now + 20000, [&] { order.push_back(2); });
    t.Post([&] { order.push_back(1); });
    t.Post([&] { onThread = t.OnThread(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    t.PostAt(now + 3600 * kSecond, [&] { order.push_back(9); });  // dropped at stop
    t.Post([&] { order.push_back(4); });
    t.Stop();
    EXPECT_FALSE(t.OnThread());
  }
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_TRUE(onThread);
}
