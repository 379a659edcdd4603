#include "host/framebitmap.h"

#include <algorithm>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "xml/stream.h"

void TFrameBitmap::SetSize(int32_t width, int32_t height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (width == FWidth && height == FHeight) return;
  FPixels.assign(size_t(width) * size_t(height) * 4, 0);
  FWidth = width;
  FHeight = height;
}

namespace {

// The part of `r` that lies inside both a w1 x h1 and a w2 x h2 picture.
TPixelRect ClipRect(TPixelRect r, int32_t w1, int32_t h1, int32_t w2, int32_t h2) {
  int64_t x0 = std::max<int64_t>(r.x, 0), y0 = std::max<int64_t>(r.y, 0);
  int64_t x1 = std::min<int64_t>({int64_t(r.x) + r.width, w1, w2});
  int64_t y1 = std::min<int64_t>({int64_t(r.y) + r.height, h1, h2});
  if (x1 <= x0 || y1 <= y0) return {};
  return {int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)};
}

}  // namespace

void CopyDirtyRects(TFrameBitmap& target, const uint8_t* buffer, int32_t bufWidth,
                    int32_t bufHeight, int rectCount, const TPixelRect* rects) {
  if (!buffer || rectCount <= 0 || !rects) return;
  std::lock_guard<std::recursive_mutex> guard(target.Lock());
  const int32_t w = target.Width(), h = target.Height();
  for (int i = 0; i < rectCount; ++i) {
    TPixelRect r = ClipRect(rects[i], w, h, bufWidth, bufHeight);
    if (r.width == 0) continue;
    const size_t rowBytes = size_t(r.width) * 4;
    for (int32_t row = 0; row < r.height; ++row) {
      const uint8_t* src = buffer + (size_t(r.y + row) * size_t(bufWidth) + size_t(r.x)) * 4;
      uint8_t* dst = target.Pixels() + (size_t(r.y + row) * size_t(w) + size_t(r.x)) * 4;
      std::memcpy(dst, src, rowBytes);
    }
  }
}

void DrawBitmap(const TFrameBitmap& source, TFrameBitmap& target, int32_t x, int32_t y) {
  std::scoped_lock guard(source.Lock(), target.Lock());
  TPixelRect area = ClipRect({x, y, source.Width(), source.Height()}, target.Width(),
                             target.Height(), target.Width(), target.Height());
  if (area.width == 0) return;
  const size_t rowBytes = size_t(area.width) * 4;
  for (int32_t row = 0; row < area.height; ++row) {
    const uint8_t* src = source.Pixels() + (size_t(area.y - y + row) * size_t(source.Width()) +
                                            size_t(area.x - x)) * 4;
    uint8_t* dst = target.Pixels() + (size_t(area.y + row) * size_t(target.Width()) +
                                      size_t(area.x)) * 4;
    std::memcpy(dst, src, rowBytes);
  }
}

namespace {

size_t BmpRowSize(int32_t width) { return (size_t(width) * 3 + 3) & ~size_t(3); }

void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

#if defined(__x86_64__)
// Four pixels per byte shuffle. The 16-byte store writes 4 bytes past the 12 it
// means; they belong to the next four pixels, so it is used only while at least
// four more follow, and the rest of the row is left to ConvertRow.
__attribute__((target("ssse3"))) int32_t ConvertRowShuffle(const uint8_t* src, uint8_t* dst,
                                                            int32_t width) {
  const __m128i order = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  int32_t i = 0;
  for (; i + 8 <= width; i += 4, src += 16, dst += 12) {
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_shuffle_epi8(px, order));
  }
  return i;
}

bool CpuHasShuffle() {
  __builtin_cpu_init();  // static initialisers may run before the compiler's own
  return __builtin_cpu_supports("ssse3");
}
const bool kHasShuffle = CpuHasShuffle();
#endif

// One row of BGRA to BGR. With SSSE3 most of the row goes through the byte
// shuffle; otherwise four pixels at a time become twelve bytes through two word
// stores. The tail is done pixel by pixel.
void ConvertRow(const uint8_t* src, uint8_t* dst, int32_t width) {
  int32_t i = 0;
#if defined(__x86_64__)
  if (kHasShuffle) {
    i = ConvertRowShuffle(src, dst, width);
    src += size_t(i) * 4;
    dst += size_t(i) * 3;
  }
#endif
  for (; i + 4 <= width; i += 4, src += 16, dst += 12) {
    uint64_t p0 = Load32(src) & 0xFFFFFF, p1 = Load32(src + 4) & 0xFFFFFF;
    uint64_t p2 = Load32(src + 8) & 0xFFFFFF, p3 = Load32(src + 12) & 0xFFFFFF;
    uint64_t lo = p0 | (p1 << 24) | (p2 << 48);
    uint32_t hi = uint32_t(p2 >> 16) | uint32_t(p3 << 8);
    std::memcpy(dst, &lo, 8);
    std::memcpy(dst + 8, &hi, 4);
  }
  for (; i < width; ++i, src += 4, dst += 3) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  }
}

}  // namespace

size_t BmpFileSize(int32_t width, int32_t height) {
  return 54 + BmpRowSize(std::max(width, 0)) * size_t(std::max(height, 0));
}

void EncodeBmp(const TFrameBitmap& bitmap, uint8_t* out) {
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  const size_t rowSize = BmpRowSize(w);
  const size_t imageSize = rowSize * size_t(h);
  std::memset(out, 0, 54);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out + 2, uint32_t(54 + imageSize));
  Put32(out + 10, 54);
  Put32(out + 14, 40);
  Put32(out + 18, uint32_t(w));
  Put32(out + 22, uint32_t(h));
  Put16(out + 26, 1);
  Put16(out + 28, 24);
  Put32(out + 34, uint32_t(imageSize));
  const size_t padding = rowSize - size_t(w) * 3;
  uint8_t* dst = out + 54;
  for (int32_t row = h - 1; row >= 0; --row, dst += rowSize) {
    ConvertRow(bitmap.Pixels() + size_t(row) * size_t(w) * 4, dst, w);
    if (padding) std::memset(dst + size_t(w) * 3, 0, padding);
  }
}

void EncodeBmpToStream(const TFrameBitmap& bitmap, TMemoryStream& stream) {
  std::lock_guard<std::recursive_mutex> guard(bitmap.Lock());
  const size_t size = BmpFileSize(bitmap.Width(), bitmap.Height());
  stream.SetSize(int64_t(size));
  EncodeBmp(bitmap, static_cast<uint8_t*>(stream.Memory()));
  stream.SetPosition(0);
}
