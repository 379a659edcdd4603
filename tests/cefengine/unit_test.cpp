// The engine's inner parts without a browser: framing, PNG decoding, frame diffing and
// the input, cursor and error mappings.
#include <gtest/gtest.h>
#include <spng.h>

#include <cstring>
#include <random>

#include "devtools.h"
#include "image.h"
#include "mapping.h"

using namespace cefeng;

namespace {

// Encodes RGBA pixels as a PNG with libspng (colour type 6, or 2 without alpha),
// with the row filters `filters` allows (an SPNG_FILTER_CHOICE mask; 0: libspng's own).
std::vector<uint8_t> EncodePng(const std::vector<uint8_t>& rgba, int w, int h, bool alpha,
                               int filters = 0) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  if (filters) spng_set_option(ctx, SPNG_FILTER_CHOICE, filters);
  spng_ihdr ihdr{};
  ihdr.width = w;
  ihdr.height = h;
  ihdr.bit_depth = 8;
  ihdr.color_type = alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
  spng_set_ihdr(ctx, &ihdr);
  std::vector<uint8_t> src;
  if (alpha) {
    src = rgba;
  } else {
    for (size_t i = 0; i < rgba.size(); i += 4) src.insert(src.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
  }
  EXPECT_EQ(spng_encode_image(ctx, src.data(), src.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), 0);
  size_t len = 0;
  int err = 0;
  void* out = spng_get_png_buffer(ctx, &len, &err);
  std::vector<uint8_t> png(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + len);
  free(out);
  spng_ctx_free(ctx);
  return png;
}

std::vector<uint8_t> Noise(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(size_t(w) * h * 4);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>((i % 4 == 3) ? 255 : rng() % 7 * 40);
  return v;
}

}  // namespace

TEST(CefEngineImage, BothDecodersGiveBgraOfTheImage) {
  for (bool alpha : {true, false}) {
    const int w = 37, h = 23;
    std::vector<uint8_t> rgba = Noise(w, h, alpha ? 1 : 2);
    std::vector<uint8_t> png = EncodePng(rgba, w, h, alpha);
    for (PngDecoder d : {PngDecoder::Spng, PngDecoder::Deflate}) {
      std::vector<uint8_t> out;
      int ow = 0, oh = 0;
      ASSERT_TRUE(DecodePngBgra(png.data(), png.size(), out, ow, oh, d));
      ASSERT_EQ(ow, w);
      ASSERT_EQ(oh, h);
      ASSERT_EQ(out.size(), rgba.size());
      for (size_t i = 0; i < rgba.size(); i += 4) {
        ASSERT_EQ(out[i], rgba[i + 2]) << i;
        ASSERT_EQ(out[i + 1], rgba[i + 1]);
        ASSERT_EQ(out[i + 2], rgba[i]);
        ASSERT_EQ(out[i + 3], alpha ? rgba[i + 3] : 255);
      }
    }
  }
}

// Each row filter alone, at widths around the decoder's 16-byte and four-pixel
// steps, with alpha that is not always opaque.
TEST(CefEngineImage, EveryFilterAndWidthDecodesExactly) {
  const int filters[] = {SPNG_FILTER_CHOICE_NONE, SPNG_FILTER_CHOICE_SUB, SPNG_FILTER_CHOICE_UP,
                         SPNG_FILTER_CHOICE_AVG, SPNG_FILTER_CHOICE_PAETH};
  for (int filter : filters)
    for (bool alpha : {true, false})
      for (int w : {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 15, 16, 17, 21, 33, 64, 101}) {
        const int h = 5;
        std::mt19937 rng(unsigned(w * 31 + filter));
        std::vector<uint8_t> rgba(size_t(w) * h * 4);
        for (uint8_t& b : rgba) b = uint8_t(rng());
        std::vector<uint8_t> png = EncodePng(rgba, w, h, alpha, filter);
        std::vector<uint8_t> out;
        int ow = 0, oh = 0;
        ASSERT_TRUE(DecodePngBgra(png.data(), png.size(), out, ow, oh, PngDecoder::Deflate));
        ASSERT_EQ(out.size(), rgba.size());
        for (size_t i = 0; i < rgba.size(); i += 4) {
          const uint8_t want[4] = {rgba[i + 2], rgba[i + 1], rgba[i], alpha ? rgba[i + 3] : uint8_t(255)};
          ASSERT_EQ(0, std::memcmp(&out[i], want, 4))
              << "filter mask " << filter << (alpha ? " RGBA" : " RGB") << " width " << w << " pixel " << i / 4;
        }
      }
}

// A frame decoded against the previous one: the same pixels as a plain decoding and
// the bands DiffFrames finds; the whole frame without a previous one of its size.
TEST(CefEngineImage, DecodingAgainstThePreviousFrameFindsTheChangedBands) {
  const int w = 45, h = 12;
  std::vector<uint8_t> a = Noise(w, h, 4), b = a;
  for (auto [x, y] : {std::pair{0, 2}, {44, 3}, {10, 7}}) b[(y * w + x) * 4 + 1] ^= 1;
  for (bool alpha : {false, true})
    for (PngDecoder d : {PngDecoder::Deflate, PngDecoder::Spng}) {
      std::vector<uint8_t> prev, plain, out;
      int pw = 0, ph = 0, ow = 0, oh = 0;
      std::vector<uint8_t> pngA = EncodePng(a, w, h, alpha), pngB = EncodePng(b, w, h, alpha);
      ASSERT_TRUE(DecodePngBgra(pngA.data(), pngA.size(), prev, pw, ph, d));
      ASSERT_TRUE(DecodePngBgra(pngB.data(), pngB.size(), plain, ow, oh, d));
      FrameDiff diff{prev.data(), w, h, {}};
      ASSERT_TRUE(DecodePngBgra(pngB.data(), pngB.size(), out, ow, oh, d, &diff));
      EXPECT_EQ(out, plain);
      EXPECT_EQ(diff.changed, (std::vector<Rect>{{0, 2, 45, 2}, {10, 7, 1, 1}}));
      diff = {prev.data(), w, h, {}};
      ASSERT_TRUE(DecodePngBgra(pngA.data(), pngA.size(), out, ow, oh, d, &diff));
      EXPECT_TRUE(diff.changed.empty());
      for (FrameDiff other : {FrameDiff{prev.data(), w - 1, h, {}}, FrameDiff{}}) {
        ASSERT_TRUE(DecodePngBgra(pngB.data(), pngB.size(), out, ow, oh, d, &other));
        EXPECT_EQ(other.changed, (std::vector<Rect>{{0, 0, w, h}}));
      }
    }
}

TEST(CefEngineImage, DamagedPngIsRejectedNotCrashed) {
  std::vector<uint8_t> png = EncodePng(Noise(16, 16, 3), 16, 16, true);
  std::vector<uint8_t> out;
  int w, h;
  for (PngDecoder d : {PngDecoder::Spng, PngDecoder::Deflate}) {
    EXPECT_FALSE(DecodePngBgra(png.data(), 20, out, w, h, d));
    EXPECT_FALSE(DecodePngBgra(png.data(), png.size() - 20, out, w, h, d));
    EXPECT_FALSE(DecodePngBgra(nullptr, 0, out, w, h, d));
  }
  // A header claiming a huge image is refused before any allocation.
  std::vector<uint8_t> huge = png;
  huge[16] = 0x7f;
  EXPECT_FALSE(DecodePngBgra(huge.data(), huge.size(), out, w, h, PngDecoder::Deflate));
  // So is one within the side limit whose data could never fill it.
  huge = png;
  for (int at : {16, 20}) std::memcpy(&huge[at], "\x00\x00\x40\x00", 4);
  for (PngDecoder d : {PngDecoder::Spng, PngDecoder::Deflate})
    EXPECT_FALSE(DecodePngBgra(huge.data(), huge.size(), out, w, h, d));
}

TEST(CefEngineImage, Base64) {
  std::vector<uint8_t> out;
  ASSERT_TRUE(Base64Decode("aGVsbG8=", out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "hello");
  ASSERT_TRUE(Base64Decode("aGVsbG8h", out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "hello!");
  EXPECT_FALSE(Base64Decode("aGV*bG8=", out));
  EXPECT_FALSE(Base64Decode("aGVs=bG8", out));
}

TEST(CefEngineImage, DiffFindsChangedBands) {
  const int w = 50, h = 40;
  std::vector<uint8_t> a(w * h * 4, 0), b = a;
  EXPECT_TRUE(DiffFrames(a.data(), b.data(), w, h).empty());
  auto set = [&](int x, int y) { b[(y * w + x) * 4 + 1] = 9; };
  set(3, 5);
  set(10, 6);
  set(49, 30);
  auto rects = DiffFrames(a.data(), b.data(), w, h);
  ASSERT_EQ(rects.size(), 2u);
  EXPECT_EQ(rects[0], (Rect{3, 5, 8, 2}));
  EXPECT_EQ(rects[1], (Rect{49, 30, 1, 1}));
  std::vector<Rect> u = {{0, 0, 1, 1}};
  UniteRects(u, rects, 2);
  ASSERT_EQ(u.size(), 1u);
  EXPECT_EQ(u[0], (Rect{0, 0, 50, 31}));
}

TEST(CefEngineFraming, SplitterAcrossChunksAndOversize) {
  std::vector<std::string> got;
  MessageSplitter s(10);
  auto sink = [&](std::string_view m) { got.emplace_back(m); };
  std::string in = std::string("{\"a\":1}\0{\"b\"", 12);
  s.Feed(in.data(), in.size(), sink);
  std::string rest = std::string(":2}\0", 4);
  s.Feed(rest.data(), rest.size(), sink);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], "{\"a\":1}");
  EXPECT_EQ(got[1], "{\"b\":2}");
  std::string big = std::string(30, 'x') + std::string("\0ok\0", 4);
  s.Feed(big.data(), 10, sink);
  s.Feed(big.data() + 10, big.size() - 10, sink);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[2], "ok");
}

TEST(CefEngineFraming, MalformedMessagesAreIgnoredAndRepliesMatched) {
  std::vector<std::string> events;
  std::vector<std::function<void()>> posted;
  DevToolsPipe pipe(-1, -1, [&](json& m) { events.push_back(m["method"].get<std::string>()); }, nullptr,
                    [&](std::function<void()> fn) { posted.push_back(std::move(fn)); });
  pipe.HandleMessage("not json");
  pipe.HandleMessage("[1,2]");
  pipe.HandleMessage("{\"id\":\"x\"}");
  pipe.HandleMessage("{\"method\":5}");
  pipe.HandleMessage("{\"method\":\"Page.x\",\"params\":7}");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], "Page.x");
  // Without a pipe a send fails with an error reply, posted rather than run inside Send.
  std::string error;
  pipe.Send("Browser.getVersion", json::object(), "", [&](const json&, const std::string& e) { error = e; });
  EXPECT_TRUE(error.empty());
  ASSERT_EQ(posted.size(), 1u);
  posted[0]();
  EXPECT_FALSE(error.empty());
  // A blocking call fails at once.
  EXPECT_FALSE(pipe.Call("Browser.getVersion", json::object(), "", nullptr, 5000, &error));
}

// A frame's message is read by a short cut around its data: whatever the shape, the
// event is the one a whole parse gives, and a broken message gives none.
TEST(CefEngineFraming, FrameMessagesReadAsAWholeParseReadsThem) {
  std::vector<json> events;
  DevToolsPipe pipe(-1, -1, [&](json& m) { events.push_back(m); }, nullptr);
  const std::string head = "{\"method\":\"Page.screencastFrame\",\"params\":{\"data\":\"";
  const std::string valid[] = {
      head + "iVBORw0K+/==\",\"metadata\":{\"deviceWidth\":400},\"sessionId\":3},\"sessionId\":\"S\"}",
      head + "a\\/b\",\"sessionId\":1}}",                       // escaped: parsed whole
      head + "\",\"data\":\"x\",\"sessionId\":1}}",                // a second data wins
      head + "abc\",\"data\":1}}",                                 // of another type too
      "{\"params\":{\"data\":\"abc\"},\"method\":\"Page.screencastFrame\"}"};  // another order
  for (const std::string& text : valid) {
    events.clear();
    pipe.HandleMessage(text);
    ASSERT_EQ(events.size(), 1u) << text;
    EXPECT_EQ(events[0], json::parse(text)) << text;
  }
  for (const std::string& text : {head + "abc", head + "abc\"}", head + "abc\",\"x\":}}"}) {
    events.clear();
    pipe.HandleMessage(text);
    EXPECT_TRUE(events.empty()) << text;
  }
}

TEST(CefEngineMapping, MouseAndWheel) {
  MouseInput e{10, 20, kFlagShift | kFlagControl | kFlagLeftButton};
  json down = MouseClickParams(e, kButtonRight, false, 2);
  EXPECT_EQ(down["type"], "mousePressed");
  EXPECT_EQ(down["button"], "right");
  EXPECT_EQ(down["buttons"], 3);
  EXPECT_EQ(down["modifiers"], 10);
  EXPECT_EQ(down["clickCount"], 2);
  json up = MouseClickParams(e, kButtonRight, true, 2);
  EXPECT_EQ(up["buttons"], 1);
  json wheel = MouseWheelParams(e, 0, 120);
  EXPECT_EQ(wheel["deltaY"], -120.0);  // positive scrolls up
  json move = MouseMoveParams({5, 6, kFlagMiddleButton | kFlagAlt | kFlagCommand}, false);
  EXPECT_EQ(move["button"], "middle");
  EXPECT_EQ(move["modifiers"], 5);
}

TEST(CefEngineMapping, Keys) {
  json p;
  KeyInput k;
  k.type = kKeyRawDown;
  k.windowsKeyCode = 0x0D;
  ASSERT_TRUE(KeyEventParams(k, p));
  EXPECT_EQ(p["type"], "rawKeyDown");
  EXPECT_EQ(p["key"], "Enter");
  EXPECT_EQ(p["code"], "Enter");
  EXPECT_FALSE(p.contains("text"));
  k.windowsKeyCode = 'Q';
  k.modifiers = kFlagShift;
  k.type = kKeyDown;
  ASSERT_TRUE(KeyEventParams(k, p));
  EXPECT_EQ(p["key"], "Q");
  EXPECT_EQ(p["code"], "KeyQ");
  k.type = kKeyChar;
  k.character = 0;
  ASSERT_TRUE(KeyEventParams(k, p));
  EXPECT_EQ(p["text"], "Q");
  k.character = u'\u00e9';
  ASSERT_TRUE(KeyEventParams(k, p));
  EXPECT_EQ(p["text"], "\xc3\xa9");
  for (int vk : {0x09, 0x08, 0x1B, 0x25, 0x26, 0x27, 0x28, 0x2E, 0x24, 0x23, 0x21, 0x22, 0x70, 0x7B, int('7')})
    EXPECT_FALSE(NamesForVirtualKey(vk, false).key.empty()) << vk;
  EXPECT_EQ(NamesForVirtualKey(0x7B, false).key, "F12");
  k.type = 9;
  EXPECT_FALSE(KeyEventParams(k, p));
}

TEST(CefEngineMapping, CursorsAndErrors) {
  EXPECT_EQ(CursorTypeForCss("pointer"), 2);
  EXPECT_EQ(CursorTypeForCss("url(a.png) 1 2, text"), 3);
  EXPECT_EQ(CursorTypeForCss("auto", "link"), 2);
  EXPECT_EQ(CursorTypeForCss("auto", "text"), 3);
  EXPECT_EQ(CursorTypeForCss("auto"), 0);
  EXPECT_EQ(CursorTypeForCss("not-allowed"), 38);
  EXPECT_EQ(CursorTypeForCss("bogus"), 0);
  EXPECT_EQ(NetErrorCode("net::ERR_CONNECTION_REFUSED"), -102);
  EXPECT_EQ(NetErrorCode("net::ERR_NAME_NOT_RESOLVED"), -105);
  EXPECT_EQ(NetErrorCode("net::ERR_ABORTED"), -3);
  EXPECT_EQ(NetErrorCode("net::ERR_UNSAFE_PORT"), -312);
  EXPECT_EQ(NetErrorCode("something else"), -2);
}

TEST(CefEngineMapping, Utf16RoundTripAndBadInput) {
  std::string s = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
  std::u16string w = Utf8ToUtf16(s);
  EXPECT_EQ(w.size(), 5u);
  EXPECT_EQ(Utf16ToUtf8(w.data(), w.size()), s);
  EXPECT_EQ(Utf8ToUtf16("\xff\xc3"), std::u16string(u"\ufffd\ufffd"));
  char16_t lone[] = {0xD800, 'x'};
  EXPECT_EQ(Utf16ToUtf8(lone, 2), "\xef\xbf\xbdx");
}
