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
  ++FGeneration;
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
// The vector steps below convert a block of pixels with one wide store that
// writes past the bytes it means; the bytes past belong to pixels that follow in
// the same span, so each step runs only while enough of them follow, and leaves
// the rest of the span to the narrower steps after it. Each returns the number of
// pixels it converted.

// The bytes of sixteen BGRA pixels that make their BGR, for a byte permutation
// across a whole register.
alignas(64) const uint8_t kBgrOrder[64] = {
    0,  1,  2,  4,  5,  6,  8,  9,  10, 12, 13, 14, 16, 17, 18, 20, 21, 22, 24, 25, 26, 28,
    29, 30, 32, 33, 34, 36, 37, 38, 40, 41, 42, 44, 45, 46, 48, 49, 50, 52, 53, 54, 56, 57,
    58, 60, 61, 62, 0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0};

// Sixteen pixels per byte permutation across the whole register: 48 bytes meant,
// 16 past them (six more pixels must follow).
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) int32_t ConvertAvx512(
    const uint8_t* src, uint8_t* dst, int32_t width) {
  const __m512i order = _mm512_load_si512(kBgrOrder);
  int32_t i = 0;
  for (; i + 22 <= width; i += 16, src += 64, dst += 48) {
    const __m512i px = _mm512_loadu_si512(src);
    _mm512_storeu_si512(dst, _mm512_maskz_permutexvar_epi8(~__mmask64(0), order, px));
  }
  return i;
}

// Eight pixels: a byte shuffle within each 16-byte half, then the two 12-byte
// results moved together; 24 bytes meant, 8 past them (three more pixels).
__attribute__((target("avx2"))) int32_t ConvertAvx2(const uint8_t* src, uint8_t* dst,
                                                    int32_t width) {
  const __m256i order = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                         0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i words = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  int32_t i = 0;
  for (; i + 11 <= width; i += 8, src += 32, dst += 24) {
    const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(px, order), words);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), packed);
  }
  return i;
}

// Four pixels per byte shuffle: 12 bytes meant, 4 past them (two more pixels).
__attribute__((target("ssse3"))) int32_t ConvertSsse3(const uint8_t* src, uint8_t* dst,
                                                      int32_t width) {
  const __m128i order = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  int32_t i = 0;
  for (; i + 6 <= width; i += 4, src += 16, dst += 12) {
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_shuffle_epi8(px, order));
  }
  return i;
}

// A paint's span into the bitmap and into the BMP file at once, sixteen pixels a
// step: each load goes on to the bitmap with a store past the cache (its 64-byte
// blocks must be aligned: the caller does the span up to the first such block) and,
// permuted, to the file as in ConvertAvx512 (so six more pixels must follow).
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) int32_t StoreAvx512(
    const uint8_t* src, uint8_t* pixels, uint8_t* bgr, int32_t width) {
  const __m512i order = _mm512_load_si512(kBgrOrder);
  int32_t i = 0;
  for (; i + 22 <= width; i += 16, src += 64, pixels += 64, bgr += 48) {
    const __m512i px = _mm512_loadu_si512(src);
    _mm512_stream_si512(reinterpret_cast<__m512i*>(pixels), px);
    _mm512_storeu_si512(bgr, _mm512_maskz_permutexvar_epi8(~__mmask64(0), order, px));
  }
  return i;
}

struct TCpuSteps {
  bool avx512 = false, avx2 = false, ssse3 = false;
};

TCpuSteps DetectCpuSteps() {
  __builtin_cpu_init();  // static initialisers may run before the compiler's own
  TCpuSteps steps;
  steps.avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                 __builtin_cpu_supports("avx512vbmi");
  steps.avx2 = __builtin_cpu_supports("avx2");
  steps.ssse3 = __builtin_cpu_supports("ssse3");
  return steps;
}
const TCpuSteps kCpuSteps = DetectCpuSteps();

// Runs one vector step over the span and moves both pointers past what it did.
template <class F>
void VectorStep(F step, const uint8_t*& src, uint8_t*& dst, int32_t& left) {
  const int32_t done = step(src, dst, left);
  src += size_t(done) * 4;
  dst += size_t(done) * 3;
  left -= done;
}
#endif

// One span of BGRA pixels to BGR: the widest vector steps the processor has
// take most of it, then four pixels at a time become twelve bytes through two
// word stores, and the tail is done pixel by pixel.
void ConvertRow(const uint8_t* src, uint8_t* dst, int32_t width) {
#if defined(__x86_64__)
  if (kCpuSteps.avx512) VectorStep(ConvertAvx512, src, dst, width);
  if (kCpuSteps.avx2) VectorStep(ConvertAvx2, src, dst, width);
  if (kCpuSteps.ssse3) VectorStep(ConvertSsse3, src, dst, width);
#endif
  int32_t i = 0;
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

// One span of a paint into the bitmap (`pixels`) and the BMP file (`bgr`), read once.
// The bitmap is not read again soon (only for a whole encoding or a popup), so its
// lines bypass the cache where the processor can; the file's stay, for the socket
// reads it next.
void StoreRow(const uint8_t* src, uint8_t* pixels, uint8_t* bgr, int32_t width) {
  int32_t done = 0;
#if defined(__x86_64__)
  if (kCpuSteps.avx512) {
    // The pixels up to the bitmap's first 64-byte boundary (its rows are 4-aligned).
    done = std::min<int32_t>(width, int32_t((-reinterpret_cast<uintptr_t>(pixels) & 63) / 4));
    std::memcpy(pixels, src, size_t(done) * 4);
    ConvertRow(src, bgr, done);
    done += StoreAvx512(src + size_t(done) * 4, pixels + size_t(done) * 4, bgr + size_t(done) * 3,
                        width - done);
  }
#endif
  std::memcpy(pixels + size_t(done) * 4, src + size_t(done) * 4, size_t(width - done) * 4);
  ConvertRow(src + size_t(done) * 4, bgr + size_t(done) * 3, width - done);
}

}  // namespace

size_t BmpFileSize(int32_t width, int32_t height) {
  return 54 + BmpRowSize(std::max(width, 0)) * size_t(std::max(height, 0));
}

namespace {

void WriteBmpHeader(int32_t w, int32_t h, uint8_t* out) {
  const size_t imageSize = BmpRowSize(w) * size_t(h);
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
}

// Converts the pixels of `area` (inside the bitmap) into their places in the BMP
// file `out`, whose rows are stored bottom-up.
void ConvertArea(const TFrameBitmap& bitmap, const TPixelRect& area, uint8_t* out) {
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  const size_t rowSize = BmpRowSize(w);
  for (int32_t row = area.y; row < area.y + area.height; ++row)
    ConvertRow(bitmap.Pixels() + (size_t(row) * size_t(w) + size_t(area.x)) * 4,
               out + 54 + size_t(h - 1 - row) * rowSize + size_t(area.x) * 3, area.width);
}

}  // namespace

void EncodeBmp(const TFrameBitmap& bitmap, uint8_t* out) {
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  WriteBmpHeader(w, h, out);
  const size_t rowSize = BmpRowSize(w);
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

void TBmpFrameEncoder::Invalidate(const TPixelRect& area) {
  if (FAll || area.width <= 0 || area.height <= 0) return;
  if (FAreas.size() >= kMaxAreas) {
    FAll = true;
    FAreas.clear();
    return;
  }
  FAreas.push_back(area);
}

bool TBmpFrameEncoder::Current(const TFrameBitmap& bitmap) {
  return !FAll && bitmap.Width() == FWidth && bitmap.Height() == FHeight &&
         bitmap.Generation() == FGeneration && FStream.GetSize() == int64_t(BmpFileSize(FWidth, FHeight));
}

void TBmpFrameEncoder::Store(TFrameBitmap& bitmap, const uint8_t* buffer, int32_t bufWidth,
                             int32_t bufHeight, int rectCount, const TPixelRect* rects) {
  if (!buffer || rectCount <= 0 || !rects) return;
  std::lock_guard<std::recursive_mutex> guard(bitmap.Lock());
  if (!Current(bitmap)) {
    CopyDirtyRects(bitmap, buffer, bufWidth, bufHeight, rectCount, rects);
    for (int i = 0; i < rectCount; ++i) Invalidate(rects[i]);
    return;
  }
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  const size_t rowSize = BmpRowSize(w);
  auto* out = static_cast<uint8_t*>(FStream.Memory());
  for (int i = 0; i < rectCount; ++i) {
    const TPixelRect r = ClipRect(rects[i], w, h, bufWidth, bufHeight);
    for (int32_t row = r.y; row < r.y + r.height; ++row) {
      const uint8_t* src = buffer + (size_t(row) * size_t(bufWidth) + size_t(r.x)) * 4;
      uint8_t* dst = bitmap.Pixels() + (size_t(row) * size_t(w) + size_t(r.x)) * 4;
      StoreRow(src, dst, out + 54 + size_t(h - 1 - row) * rowSize + size_t(r.x) * 3, r.width);
    }
  }
#if defined(__x86_64__)
  _mm_sfence();  // the streamed stores are visible before the lock is released
#endif
}

TMemoryStream& TBmpFrameEncoder::Encode(const TFrameBitmap& bitmap) {
  std::lock_guard<std::recursive_mutex> guard(bitmap.Lock());
  if (!Current(bitmap)) {
    EncodeBmpToStream(bitmap, FStream);
    FWidth = bitmap.Width();
    FHeight = bitmap.Height();
    FGeneration = bitmap.Generation();
  } else {
    EncodeAreas(bitmap);
  }
  FAll = false;
  FAreas.clear();
  FStream.SetPosition(0);
  return FStream;
}

void TBmpFrameEncoder::EncodeAreas(const TFrameBitmap& bitmap) {
  auto* out = static_cast<uint8_t*>(FStream.Memory());
  for (const TPixelRect& area : FAreas) {
    TPixelRect r = ClipRect(area, FWidth, FHeight, FWidth, FHeight);
    if (r.width > 0) ConvertArea(bitmap, r, out);
  }
}
