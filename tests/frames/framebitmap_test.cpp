#include "host/framebitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "xml/stream.h"

namespace {

// A BGRA buffer whose pixel (x, y) is (x, y, tag, 255).
std::vector<uint8_t> Pattern(int w, int h, uint8_t tag) {
  std::vector<uint8_t> buf(size_t(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &buf[(size_t(y) * w + x) * 4];
      p[0] = uint8_t(x);
      p[1] = uint8_t(y);
      p[2] = tag;
      p[3] = 255;
    }
  return buf;
}

const uint8_t* PixelAt(const TFrameBitmap& b, int x, int y) {
  return b.Pixels() + (size_t(y) * b.Width() + x) * 4;
}

uint32_t Le32(const std::vector<uint8_t>& v, size_t at) {
  return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | uint32_t(v[at + 3]) << 24;
}

std::vector<uint8_t> Encode(const TFrameBitmap& b) {
  TMemoryStream s;
  EncodeBmpToStream(b, s);
  auto* p = static_cast<const uint8_t*>(s.Memory());
  return {p, p + s.GetSize()};
}

}  // namespace

TEST(FrameBitmap, ResizeRules) {
  TFrameBitmap b;
  EXPECT_TRUE(b.Empty());
  b.SetSize(-5, 300);
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 300);
  b.SetSize(2, 2);
  b.Pixels()[0] = 7;
  b.SetSize(2, 2);  // same size keeps the pixels
  EXPECT_EQ(b.Pixels()[0], 7);
  b.SetSize(3, 2);  // a new size is cleared
  for (int i = 0; i < 3 * 2 * 4; ++i) EXPECT_EQ(b.Pixels()[i], 0);
}

TEST(FrameBitmap, CopiesOnlyTheDirtyRectangles) {
  TFrameBitmap b;
  b.SetSize(8, 6);
  auto buf = Pattern(8, 6, 9);
  TPixelRect r{2, 1, 3, 2};
  CopyDirtyRects(b, buf.data(), 8, 6, 1, &r);
  EXPECT_EQ(PixelAt(b, 2, 1)[0], 2);
  EXPECT_EQ(PixelAt(b, 4, 2)[1], 2);
  EXPECT_EQ(PixelAt(b, 4, 2)[2], 9);
  EXPECT_EQ(PixelAt(b, 5, 1)[2], 0);  // right of the rectangle
  EXPECT_EQ(PixelAt(b, 2, 3)[2], 0);  // below it
}

TEST(FrameBitmap, RectanglesAreClippedToBitmapAndBuffer) {
  TFrameBitmap b;
  b.SetSize(4, 4);
  auto big = Pattern(10, 10, 5);
  TPixelRect rects[] = {{-2, -2, 4, 4}, {3, 3, 50, 50}, {100, 0, 5, 5}, {0, 0, -1, 3}};
  CopyDirtyRects(b, big.data(), 10, 10, 4, rects);  // wider buffer: source stride is its own
  EXPECT_EQ(PixelAt(b, 1, 1)[0], 1);
  EXPECT_EQ(PixelAt(b, 1, 1)[1], 1);
  EXPECT_EQ(PixelAt(b, 3, 3)[0], 3);
  EXPECT_EQ(PixelAt(b, 3, 3)[2], 5);
  EXPECT_EQ(PixelAt(b, 2, 2)[2], 0);
  auto small = Pattern(2, 2, 6);
  TPixelRect all{0, 0, 4, 4};
  CopyDirtyRects(b, small.data(), 2, 2, 1, &all);  // narrower buffer: only its 2 x 2
  EXPECT_EQ(PixelAt(b, 1, 1)[2], 6);
  EXPECT_EQ(PixelAt(b, 2, 2)[2], 0);
}

TEST(FrameBitmap, PopupIsDrawnOverTheViewClipped) {
  TFrameBitmap view, popup;
  view.SetSize(6, 4);
  popup.SetSize(3, 3);
  auto buf = Pattern(3, 3, 200);
  TPixelRect r{0, 0, 3, 3};
  CopyDirtyRects(popup, buf.data(), 3, 3, 1, &r);
  DrawBitmap(popup, view, 4, 2);  // hangs over the right and bottom edges
  EXPECT_EQ(PixelAt(view, 4, 2)[2], 200);
  EXPECT_EQ(PixelAt(view, 5, 3)[0], 1);
  EXPECT_EQ(PixelAt(view, 5, 3)[1], 1);
  EXPECT_EQ(PixelAt(view, 3, 2)[2], 0);
  DrawBitmap(popup, view, -2, -2);
  EXPECT_EQ(PixelAt(view, 0, 0)[0], 2);
}

TEST(Bmp, HeaderAndSizesAreExact) {
  EXPECT_EQ(BmpFileSize(1, 1), 58u);
  EXPECT_EQ(BmpFileSize(3, 2), 78u);
  EXPECT_EQ(BmpFileSize(0, 0), 54u);
  TFrameBitmap b;
  b.SetSize(3, 2);
  auto bmp = Encode(b);
  ASSERT_EQ(bmp.size(), 78u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(Le32(bmp, 2), 78u);
  EXPECT_EQ(Le32(bmp, 6), 0u);
  EXPECT_EQ(Le32(bmp, 10), 54u);
  EXPECT_EQ(Le32(bmp, 14), 40u);
  EXPECT_EQ(Le32(bmp, 18), 3u);
  EXPECT_EQ(Le32(bmp, 22), 2u);
  EXPECT_EQ(bmp[26] | bmp[27] << 8, 1);
  EXPECT_EQ(bmp[28] | bmp[29] << 8, 24);
  EXPECT_EQ(Le32(bmp, 30), 0u);
  EXPECT_EQ(Le32(bmp, 34), 24u);
  for (size_t at = 38; at < 54; at += 4) EXPECT_EQ(Le32(bmp, at), 0u);
}

TEST(Bmp, PixelsAreBottomUpBgrWithPaddedRows) {
  // Every width up to past the widest vector step and a few blocks of it, so that
  // each step and each hand-over between them (and the word loop and the tail) is
  // met: the steps keep back the pixels their wide stores overrun.
  std::vector<int> widths(80);
  for (int i = 0; i < 80; ++i) widths[size_t(i)] = i + 1;
  widths.push_back(255);
  for (int w : widths) {
    TFrameBitmap b;
    b.SetSize(w, 3);
    auto buf = Pattern(w, 3, 77);
    TPixelRect r{0, 0, w, 3};
    CopyDirtyRects(b, buf.data(), w, 3, 1, &r);
    auto bmp = Encode(b);
    const size_t rowSize = (size_t(w) * 3 + 3) & ~size_t(3);
    ASSERT_EQ(bmp.size(), 54 + rowSize * 3) << w;
    for (int fileRow = 0; fileRow < 3; ++fileRow) {
      const int y = 2 - fileRow;
      const uint8_t* row = &bmp[54 + rowSize * fileRow];
      for (int x = 0; x < w; ++x) {
        EXPECT_EQ(row[x * 3], x) << w;
        EXPECT_EQ(row[x * 3 + 1], y) << w;
        EXPECT_EQ(row[x * 3 + 2], 77) << w;
      }
      for (size_t pad = size_t(w) * 3; pad < rowSize; ++pad) EXPECT_EQ(row[pad], 0) << w;
    }
  }
}

namespace {

std::vector<uint8_t> Bytes(TMemoryStream& s) {
  auto* p = static_cast<const uint8_t*>(s.Memory());
  return {p, p + s.GetSize()};
}

}  // namespace

TEST(BmpFrameEncoder, ChangedAreasGiveTheSameFileAsAWholeEncoding) {
  // Spans of every offset and width within a row wider than the vector steps: a
  // wide store that ran past its span would overwrite the pixels beside it.
  TFrameBitmap b;
  b.SetSize(70, 4);
  auto first = Pattern(70, 4, 10);
  TPixelRect all{0, 0, 70, 4};
  CopyDirtyRects(b, first.data(), 70, 4, 1, &all);
  TBmpFrameEncoder encoder;
  EXPECT_EQ(Bytes(encoder.Encode(b)), Encode(b));
  uint8_t tag = 11;
  for (int x = 0; x < 70; x += 7)
    for (int w = 1; x + w <= 70; w += 5, ++tag) {
      auto next = Pattern(70, 4, tag);
      TPixelRect area{x, 1, w, 2};
      CopyDirtyRects(b, next.data(), 70, 4, 1, &area);
      encoder.Invalidate(area);
      ASSERT_EQ(Bytes(encoder.Encode(b)), Encode(b)) << x << " " << w;
    }
  // Areas hanging over the edges are clipped.
  auto last = Pattern(70, 4, 3);
  CopyDirtyRects(b, last.data(), 70, 4, 1, &all);
  encoder.Invalidate({-5, -5, 100, 100});
  EXPECT_EQ(Bytes(encoder.Encode(b)), Encode(b));
}

// A paint stored through the encoder: copied as CopyDirtyRects copies it, and the file
// the same as a whole encoding, whether its rows were converted at once (a current
// file) or marked (the first paint, a resize), from a buffer of another width too.
// Spans of every offset and width: the vector steps, which store past the cache from
// the bitmap's first aligned block on, must neither miss nor overrun a pixel.
TEST(BmpFrameEncoder, StoredPaintsGiveTheSameBitmapAndFileAsCopiesAndAWholeEncoding) {
  TFrameBitmap b, copied;
  b.SetSize(70, 5);
  copied.SetSize(70, 5);
  TBmpFrameEncoder encoder;
  uint8_t tag = 1;
  auto store = [&](int bufW, int bufH, std::vector<TPixelRect> areas) {
    auto buf = Pattern(bufW, bufH, ++tag);
    encoder.Store(b, buf.data(), bufW, bufH, int(areas.size()), areas.data());
    CopyDirtyRects(copied, buf.data(), bufW, bufH, int(areas.size()), areas.data());
    ASSERT_EQ(std::vector<uint8_t>(b.Pixels(), b.Pixels() + 70 * 5 * 4),
              std::vector<uint8_t>(copied.Pixels(), copied.Pixels() + 70 * 5 * 4));
    EXPECT_EQ(Bytes(encoder.Encode(b)), Encode(b)) << int(tag);
  };
  store(70, 5, {{0, 0, 70, 5}});  // not encoded yet: marked
  for (int x = 0; x < 70; x += 9) store(70, 5, {{x, 1, 13, 3}, {0, 4, x + 1, 1}});
  for (int x = 0; x < 70; x += 5)
    for (int w = 1; x + w <= 70; w += 6) store(70, 5, {{x, x % 4, w, 1}});
  store(90, 8, {{-5, -5, 200, 200}});  // clipped to both
  store(30, 2, {{20, 0, 40, 5}});
  b.SetSize(4, 4);  // resized back: encoded whole again
  b.SetSize(70, 5);
  copied.SetSize(4, 4);
  copied.SetSize(70, 5);
  store(70, 5, {{3, 3, 10, 1}});
}

TEST(BmpFrameEncoder, ResizesAndUnmarkedOverflowEncodeEverything) {
  TFrameBitmap b;
  b.SetSize(8, 4);
  auto buf = Pattern(8, 4, 50);
  TPixelRect all{0, 0, 8, 4};
  CopyDirtyRects(b, buf.data(), 8, 4, 1, &all);
  TBmpFrameEncoder encoder;
  encoder.Encode(b);
  // Back to the same size through another one: the pixels were cleared.
  b.SetSize(4, 4);
  b.SetSize(8, 4);
  EXPECT_EQ(Bytes(encoder.Encode(b)), Encode(b));
  // More areas than the encoder keeps: it falls back to the whole bitmap, so
  // none of them is lost.
  CopyDirtyRects(b, buf.data(), 8, 4, 1, &all);
  for (int i = 0; i < 200; ++i) encoder.Invalidate({i % 8, 0, 1, 1});
  EXPECT_EQ(Bytes(encoder.Encode(b)), Encode(b));
  // A call with nothing marked keeps the file.
  EXPECT_EQ(Bytes(encoder.Encode(b)), Encode(b));
}

TEST(FrameBitmap, ResizeDuringCopiesNeverWritesOutside) {
  // A paint copying while another thread resizes: the lock keeps every copy inside
  // the pixels of the size it sees (ASan would report a stray write).
  TFrameBitmap b;
  b.SetSize(64, 64);
  auto buf = Pattern(64, 64, 1);
  std::thread resizer([&] {
    for (int i = 0; i < 2000; ++i) b.SetSize(i % 2 ? 64 : 8, i % 2 ? 64 : 8);
  });
  TPixelRect r{0, 0, 64, 64};
  for (int i = 0; i < 2000; ++i) CopyDirtyRects(b, buf.data(), 64, 64, 1, &r);
  resizer.join();
  EXPECT_EQ(b.Width(), 64);
}
