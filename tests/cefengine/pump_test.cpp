// The frame pump against a scripted session: the rate of its asks while the page
// changes and while it stands still, one ask at a time, an ask still being drawn,
// and Chromium's refusal.
#include <gtest/gtest.h>

#include <algorithm>

#include "chromium.h"
#include "frame_pump.h"
#include "scripted_session.h"

using namespace cefeng;
using cefeng::testing::ScriptedSession;
using cefeng::testing::SentCommand;

namespace {

constexpr char kBeginFrame[] = "HeadlessExperimental.beginFrame";
constexpr uint64_t kMs = 1000;

// Moves the time on by `ms`, answering each ask as it comes (with `damage`); ends
// right after an ask when `ms` is 0.
size_t RunFor(ScriptedSession& s, uint64_t ms, bool damage) {
  const size_t before = s.Count(kBeginFrame);
  for (uint64_t t = 0; ms == 0 ? s.Count(kBeginFrame) == before : t < ms; ++t) {
    s.Advance(kMs);
    SentCommand& last = s.sent.back();
    if (last.method == kBeginFrame && last.reply) {
      Session::ReplyFn reply = std::move(last.reply);  // answered once; it may send more
      last.reply = nullptr;
      reply({{"hasDamage", damage}}, {});
    }
  }
  return s.Count(kBeginFrame) - before;
}

}  // namespace

TEST(CefEngineFramePump, AsksAtTheRateWhileThePageChangesAndSlowlyOnceItStandsStill) {
  ScriptedSession s;
  FramePump pump(s, 30);
  pump.Start();
  s.Advance(0);
  ASSERT_EQ(s.Count(kBeginFrame), 1u);
  EXPECT_NEAR(s.Last(kBeginFrame)->params.value("interval", 0.0), 33.3, 0.1);
  s.Reply(kBeginFrame, {{"hasDamage", true}});

  EXPECT_NEAR(double(RunFor(s, 2000, true)), 60, 2);  // a changing page: 30 a second
  RunFor(s, 1000, false);                             // the second after the last change
  EXPECT_NEAR(double(RunFor(s, 2000, false)), 10, 1);  // still: 5 a second
  RunFor(s, 0, false);

  const size_t still = s.Count(kBeginFrame);
  s.Advance(50 * kMs);  // between two asks of a still page
  pump.Wake();          // a command: an ask at once, then the full rate again
  s.Advance(0);
  EXPECT_EQ(s.Count(kBeginFrame), still + 1);
  s.Reply(kBeginFrame, {{"hasDamage", false}});
  EXPECT_NEAR(double(RunFor(s, 500, false)), 15, 1);
}

TEST(CefEngineFramePump, OneAskAtATimeAPromptOutOfTheBeatAndARefusalStopsIt) {
  ScriptedSession s;
  FramePump pump(s, 30);
  pump.Start();
  s.Advance(0);
  // Unanswered (a renderer busy in a script): the next ask waits for the answer...
  s.Advance(500 * kMs);
  EXPECT_EQ(s.Count(kBeginFrame), 1u);
  s.Reply(kBeginFrame, {{"hasDamage", true}});
  EXPECT_EQ(s.Count(kBeginFrame), 2u);  // ...and goes with it
  // ...or for a second at most.
  s.Advance(1100 * kMs);
  EXPECT_EQ(s.Count(kBeginFrame), 3u);
  // Chromium says that the earlier ask is still being drawn: no ask at every beat
  // meanwhile, and that ask's answer lets the next one go.
  s.Reply(kBeginFrame, json(), "Another frame is pending");
  s.Advance(500 * kMs);
  EXPECT_EQ(s.Count(kBeginFrame), 3u);
  auto second = std::find_if(s.sent.begin(), s.sent.end(), [n = 0](const SentCommand& c) mutable {
    return c.method == kBeginFrame && ++n == 2;
  });
  ASSERT_NE(second, s.sent.end());
  Session::ReplyFn reply = second->reply;  // the answer's ask grows the list
  reply({{"hasDamage", true}}, {});
  EXPECT_EQ(s.Count(kBeginFrame), 4u);
  s.Reply(kBeginFrame, {{"hasDamage", false}});

  // Input taken: an ask at once, even right after the last; input that keeps coming,
  // not sooner than half a beat after the last ask.
  RunFor(s, 2000, false);
  RunFor(s, 0, false);
  const size_t asked = s.Count(kBeginFrame);
  s.Advance(5 * kMs);
  pump.Prompt();
  s.Advance(0);
  EXPECT_EQ(s.Count(kBeginFrame), asked + 1);
  s.Reply(kBeginFrame, {{"hasDamage", true}});
  pump.Prompt();
  s.Advance(0);
  EXPECT_EQ(s.Count(kBeginFrame), asked + 1);
  s.Advance(17 * kMs);
  EXPECT_EQ(s.Count(kBeginFrame), asked + 2);

  // An error once asks have succeeded (a crashed renderer's) does not stop it...
  s.Reply(kBeginFrame, json(), "'HeadlessExperimental.beginFrame' wasn't found");
  EXPECT_FALSE(pump.Refused());
  s.Advance(100 * kMs);
  EXPECT_GT(s.Count(kBeginFrame), asked + 2);

  // A new start while Chromium still draws the last one's ask: the new ask is held
  // until that answer comes, and goes then.
  pump.Start();
  for (const size_t before = s.Count(kBeginFrame); s.Count(kBeginFrame) == before;) s.Advance(kMs);
  const size_t restarted = s.Count(kBeginFrame);
  s.Reply(kBeginFrame, json(), "Another frame is pending");
  s.Advance(100 * kMs);
  EXPECT_EQ(s.Count(kBeginFrame), restarted);
  ASSERT_EQ(s.sent[s.sent.size() - 2].method, kBeginFrame);
  Session::ReplyFn earlier = s.sent[s.sent.size() - 2].reply;
  earlier({{"hasDamage", false}}, {});
  EXPECT_EQ(s.Count(kBeginFrame), restarted + 1);

  // ...but a Chromium that draws by itself refuses the first ask: no more asks, also
  // after a new start.
  ScriptedSession own;
  FramePump refused(own, 30);
  refused.Start();
  own.Advance(0);
  own.Reply(kBeginFrame, json(), "'HeadlessExperimental.beginFrame' wasn't found");
  EXPECT_TRUE(refused.Refused());
  refused.Start();
  refused.Wake();
  own.Advance(3000 * kMs);
  EXPECT_EQ(own.Count(kBeginFrame), 1u);
  EXPECT_FALSE(refused.Running());
}

// Only the headless shell is started with begin-frame control: another Chromium
// (and the benchmarks' plain client) draws by itself.
TEST(CefEngineFramePump, OnlyTheHeadlessShellIsStartedUnderTheControl) {
  EXPECT_TRUE(IsHeadlessShell(kHeadlessShell));
  EXPECT_TRUE(IsHeadlessShell("/opt/chrome/chrome-headless-shell"));
  EXPECT_FALSE(IsHeadlessShell(kChromium));
  EXPECT_FALSE(IsHeadlessShell("/opt/headless-shell/chrome"));
  auto has = [](const std::vector<std::string>& args) {
    return std::count(args.begin(), args.end(), "--enable-begin-frame-control") == 1 &&
           std::count(args.begin(), args.end(), "--run-all-compositor-stages-before-draw") == 1;
  };
  EXPECT_TRUE(has(ChromiumArgs("/tmp/u", "", true)));
  EXPECT_FALSE(has(ChromiumArgs("/tmp/u")));
}
