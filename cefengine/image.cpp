#include "image.h"

#include <libdeflate.h>
#include <spng.h>
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace cefeng {

namespace {

constexpr size_t kMaxInflateRatio = 1032;

// Reserves room for n bytes in v, where that means a new allocation: in 2 MB pages
// where the system gives them on request, for a frame is streamed through whole and
// would otherwise cost a TLB miss every 4 KB. Drops v's content.
void ReserveLarge(std::vector<uint8_t>& v, size_t n) {
  if (v.capacity() >= n) return;
  std::vector<uint8_t>().swap(v);
  v.reserve(n);
  const uintptr_t page = uintptr_t(2) << 20;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(v.data()) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(v.data()) + n) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

bool DecodeSpng(const uint8_t* data, size_t size, std::vector<uint8_t>& out, int& width,
                int& height) {
  spng_ctx* ctx = spng_ctx_new(0);
  if (!ctx) return false;
  bool ok = false;
  spng_set_image_limits(ctx, kMaxFrameSide, kMaxFrameSide);
  spng_set_chunk_limits(ctx, 64u << 20, 64u << 20);
  spng_set_crc_action(ctx, SPNG_CRC_USE, SPNG_CRC_USE);
  spng_ihdr ihdr{};
  size_t outSize = 0;
  if (spng_set_png_buffer(ctx, data, size) == 0 && spng_get_ihdr(ctx, &ihdr) == 0 &&
      spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &outSize) == 0 &&
      outSize == size_t(ihdr.width) * ihdr.height * 4 &&
      outSize / 32 / kMaxInflateRatio <= size) {  // 1-bit pixels at deflate's best ratio
    out.resize(outSize);
    if (spng_decode_image(ctx, out.data(), outSize, SPNG_FMT_RGBA8, 0) == 0) {
      uint8_t* p = out.data();
      for (size_t i = 0; i < outSize; i += 4) std::swap(p[i], p[i + 2]);
      width = static_cast<int>(ihdr.width);
      height = static_cast<int>(ihdr.height);
      ok = true;
    }
  }
  spng_ctx_free(ctx);
  return ok;
}

inline uint8_t Paeth(int a, int b, int c) {
  int p = a + b - c;
  int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  if (pb <= pc) return static_cast<uint8_t>(b);
  return static_cast<uint8_t>(c);
}

// The up filter, the one the browser's frames use on nearly every row: 16 bytes at
// a time with SSE2 (part of every x86-64), the tail byte by byte.
void UnfilterUp(const uint8_t* __restrict src, const uint8_t* __restrict prior,
                uint8_t* __restrict dst, size_t len) {
  size_t i = 0;
#if defined(__x86_64__)
  for (; i + 16 <= len; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prior + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_add_epi8(a, b));
  }
#endif
  for (; i < len; ++i) dst[i] = uint8_t(src[i] + prior[i]);
}

#if defined(__x86_64__)
// Four pixels per byte shuffle, RGB or RGBA to BGRA; returns how many pixels were
// done. A 16-byte load of RGB reads 4 bytes past the 12 it uses, so it runs only
// while at least two more pixels follow in the row.
__attribute__((target("ssse3"))) uint32_t ToBgraShuffle(const uint8_t* src, uint8_t* dst,
                                                        uint32_t width, int bpp) {
  uint32_t x = 0;
  if (bpp == 4) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    for (; x + 4 <= width; x += 4, src += 16, dst += 16) {
      const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_shuffle_epi8(px, order));
    }
  } else {
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i opaque = _mm_set1_epi32(int32_t(0xFF000000u));
    for (; x + 6 <= width; x += 4, src += 12, dst += 16) {
      const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                       _mm_or_si128(_mm_shuffle_epi8(px, order), opaque));
    }
  }
  return x;
}

// Sixteen pixels a step, the row's end under byte masks so that nothing past it is
// read or written: RGB or RGBA to BGRA, and with `prior` the up filter undone
// first, its result kept in `row` as the next row's prior.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void ToBgraAvx512(
    const uint8_t* src, const uint8_t* prior, uint8_t* row, uint8_t* dst, uint32_t width,
    int bpp) {
  alignas(64) static const uint8_t kFromRgb[64] = {
      2,  1,  0,  0, 5,  4,  3,  0, 8,  7,  6,  0, 11, 10, 9,  0, 14, 13, 12, 0, 17, 16,
      15, 0,  20, 19, 18, 0, 23, 22, 21, 0, 26, 25, 24, 0, 29, 28, 27, 0, 32, 31, 30, 0,
      35, 34, 33, 0, 38, 37, 36, 0, 41, 40, 39, 0, 44, 43, 42, 0, 47, 46, 45, 0};
  alignas(64) static const uint8_t kFromRgba[64] = {
      2,  1,  0,  3,  6,  5,  4,  7,  10, 9,  8,  11, 14, 13, 12, 15, 18, 17, 16, 19, 22, 21,
      20, 23, 26, 25, 24, 27, 30, 29, 28, 31, 34, 33, 32, 35, 38, 37, 36, 39, 42, 41, 40, 43,
      46, 45, 44, 47, 50, 49, 48, 51, 54, 53, 52, 55, 58, 57, 56, 59, 62, 61, 60, 63};
  const __m512i order = _mm512_load_si512(bpp == 4 ? kFromRgba : kFromRgb);
  const __m512i opaque =
      bpp == 4 ? _mm512_setzero_si512() : _mm512_set1_epi32(int32_t(0xFF000000u));
  const size_t step = size_t(16) * bpp;
  for (uint32_t x = 0; x < width; x += 16, src += step, dst += 64) {
    const uint32_t n = std::min(width - x, 16u);
    const __mmask64 in = n * bpp == 64 ? ~__mmask64(0) : (__mmask64(1) << (n * bpp)) - 1;
    const __mmask64 out = n == 16 ? ~__mmask64(0) : (__mmask64(1) << (n * 4)) - 1;
    __m512i px = _mm512_maskz_loadu_epi8(in, src);
    if (prior) {
      px = _mm512_add_epi8(px, _mm512_maskz_loadu_epi8(in, prior));
      _mm512_mask_storeu_epi8(row, in, px);
      prior += step;
      row += step;
    }
    const __m512i bgra = _mm512_maskz_permutexvar_epi8(~__mmask64(0), order, px);
    _mm512_mask_storeu_epi8(dst, out, _mm512_or_si512(bgra, opaque));
  }
}

struct CpuSteps {
  bool avx512 = false, ssse3 = false;
};

CpuSteps DetectCpuSteps() {
  __builtin_cpu_init();  // static initialisers may run before the compiler's own
  CpuSteps steps;
  steps.avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                 __builtin_cpu_supports("avx512vbmi");
  steps.ssse3 = __builtin_cpu_supports("ssse3");
  return steps;
}
const CpuSteps kCpuSteps = DetectCpuSteps();
#endif

// One unfiltered row of RGB or RGBA to BGRA.
void RowToBgra(const uint8_t* __restrict row, uint8_t* __restrict dst, uint32_t width, int bpp) {
  uint32_t x = 0;
#if defined(__x86_64__)
  if (kCpuSteps.avx512) return ToBgraAvx512(row, nullptr, nullptr, dst, width, bpp);
  if (kCpuSteps.ssse3) x = ToBgraShuffle(row, dst, width, bpp);
#endif
  row += size_t(x) * bpp;
  dst += size_t(x) * 4;
  if (bpp == 4) {
    for (; x < width; ++x, row += 4, dst += 4) {
      dst[0] = row[2];
      dst[1] = row[1];
      dst[2] = row[0];
      dst[3] = row[3];
    }
  } else {
    for (; x < width; ++x, row += 3, dst += 4) {
      dst[0] = row[2];
      dst[1] = row[1];
      dst[2] = row[0];
      dst[3] = 255;
    }
  }
}

// Undoes one row's filter from src into dst; prior is the previous unfiltered row
// (or zeros).
bool Unfilter(uint8_t filter, const uint8_t* __restrict src, const uint8_t* __restrict prior,
              uint8_t* __restrict dst, size_t len, int bpp) {
  const size_t b = size_t(bpp);
  switch (filter) {
    case 0:
      std::memcpy(dst, src, len);
      return true;
    case 1:
      std::memcpy(dst, src, std::min(b, len));
      for (size_t i = b; i < len; ++i) dst[i] = uint8_t(src[i] + dst[i - b]);
      return true;
    case 2:
      UnfilterUp(src, prior, dst, len);
      return true;
    case 3:
      for (size_t i = 0; i < len; ++i) {
        int left = i >= b ? dst[i - b] : 0;
        dst[i] = uint8_t(src[i] + ((left + prior[i]) >> 1));
      }
      return true;
    case 4:
      for (size_t i = 0; i < len; ++i) {
        int left = i >= b ? dst[i - b] : 0;
        int upleft = i >= b ? prior[i - b] : 0;
        dst[i] = uint8_t(src[i] + Paeth(left, prior[i], upleft));
      }
      return true;
    default:
      return false;
  }
}

// Gathers the changed rows of a frame, top to bottom, into horizontal bands: each
// run of changed rows becomes one rectangle as wide as its changes.
class ChangedBands {
 public:
  void Row(int y, const uint8_t* prev, const uint8_t* next, int width) {
    if (memcmp(prev, next, size_t(width) * 4) == 0) {
      Flush(y);
      return;
    }
    const uint32_t* pa = reinterpret_cast<const uint32_t*>(prev);
    const uint32_t* pb = reinterpret_cast<const uint32_t*>(next);
    int left = 0, right = width;
    while (pa[left] == pb[left]) ++left;
    while (pa[right - 1] == pb[right - 1]) --right;
    if (top_ < 0) {
      top_ = y;
      left_ = left;
      right_ = right;
    } else {
      left_ = std::min(left_, left);
      right_ = std::max(right_, right);
    }
  }
  std::vector<Rect> Finish(int height) {
    Flush(height);
    return std::move(rects_);
  }

 private:
  void Flush(int bottom) {
    if (top_ >= 0) rects_.push_back({left_, top_, right_ - left_, bottom - top_});
    top_ = -1;
  }
  std::vector<Rect> rects_;
  int top_ = -1, left_ = 0, right_ = 0;
};

// Undoes one row's filter (line[0], the data after it) into `row` and converts it
// into dst; the up filter, on nearly every row of the browser's frames, in one step.
bool UnfilterToBgra(const uint8_t* line, const uint8_t* prior, uint8_t* row, uint8_t* dst,
                    uint32_t width, int bpp) {
#if defined(__x86_64__)
  if (line[0] == 2 && kCpuSteps.avx512) {
    ToBgraAvx512(line + 1, prior, row, dst, width, bpp);
    return true;
  }
#endif
  if (!Unfilter(line[0], line + 1, prior, row, size_t(width) * bpp, bpp)) return false;
  RowToBgra(row, dst, width, bpp);
  return true;
}

struct PngHeader {
  uint32_t width = 0, height = 0;
  int bpp = 0;
};

// Walks the chunks: the header into `header`, the IDAT data appended to `idat`.
// False for a PNG this decoder does not take (`unsupported` set when libspng may).
bool ReadChunks(const uint8_t* data, size_t size, PngHeader& header, std::vector<uint8_t>& idat,
                bool& unsupported) {
  static const uint8_t sig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  if (size < 8 + 25 || memcmp(data, sig, 8) != 0) return false;
  size_t pos = 8;
  bool haveHeader = false;
  while (pos + 12 <= size) {
    uint32_t len = BigEndian32(data + pos);
    const uint8_t* type = data + pos + 4;
    if (len > size - pos - 12) return false;
    const uint8_t* body = data + pos + 8;
    if (memcmp(type, "IHDR", 4) == 0) {
      if (len != 13 || haveHeader) return false;
      uint32_t w = BigEndian32(body), h = BigEndian32(body + 4);
      uint8_t depth = body[8], color = body[9], interlace = body[12];
      if (w == 0 || h == 0 || w > kMaxFrameSide || h > kMaxFrameSide) return false;
      if (depth != 8 || (color != 2 && color != 6) || interlace != 0 || body[10] || body[11]) {
        unsupported = true;
        return false;
      }
      header = {w, h, color == 6 ? 4 : 3};
      haveHeader = true;
    } else if (memcmp(type, "IDAT", 4) == 0) {
      if (!haveHeader) return false;
      idat.insert(idat.end(), body, body + len);
    } else if (memcmp(type, "IEND", 4) == 0) {
      break;
    } else if (memcmp(type, "PLTE", 4) == 0 || memcmp(type, "tRNS", 4) == 0) {
      unsupported = true;
      return false;
    }
    pos += 12 + size_t(len);
  }
  return haveHeader && !idat.empty();
}

bool Inflate(const std::vector<uint8_t>& idat, uint8_t* raw, size_t rawSize) {
  struct FreeDecompressor {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
  };
  thread_local std::unique_ptr<libdeflate_decompressor, FreeDecompressor> owned(
      libdeflate_alloc_decompressor());
  libdeflate_decompressor* dec = owned.get();
  size_t actual = 0;
  return dec &&
         libdeflate_zlib_decompress(dec, idat.data(), idat.size(), raw, rawSize, &actual) ==
             LIBDEFLATE_SUCCESS &&
         actual == rawSize;
}

// Own decoder for the plain PNGs the browser sends (8-bit RGB or RGBA, not interlaced)
// with libdeflate for the inflate step; anything else goes to libspng. Each row is
// unfiltered into one of two small row buffers (the other holds the row above) and
// converted from there, and, with a previous frame of the same size in `diff`,
// compared with that frame's row while it is still in the cache.
bool DecodeDeflate(const uint8_t* data, size_t size, std::vector<uint8_t>& out, int& width,
                   int& height, bool& unsupported, FrameDiff* diff) {
  unsupported = false;
  PngHeader hdr;
  thread_local std::vector<uint8_t> idat;
  idat.clear();
  if (!ReadChunks(data, size, hdr, idat, unsupported)) return false;
  const uint32_t w = hdr.width, h = hdr.height;
  const size_t stride = size_t(w) * hdr.bpp, rawSize = (stride + 1) * h;
  const size_t outStride = size_t(w) * 4, outSize = outStride * h;
  // Deflate expands at most 1032 to 1: a header that claims more than the data can
  // hold is refused before its buffer is allocated.
  if (rawSize / kMaxInflateRatio > idat.size()) return false;
  ReserveLarge(out, outSize);  // before the first touch of its pages
  out.resize(outSize);
  // RGB data is inflated into the end of the output, so that one buffer is touched
  // instead of two: output row y ends at 4w(y+1), and raw row y+1, still to be read,
  // starts at h(w-1) + (y+1)(3w+1), which is never before it. RGBA data, larger
  // than its output, has a buffer of its own.
  thread_local std::vector<uint8_t> ownRaw;
  if (rawSize > outSize) ownRaw.resize(rawSize);
  uint8_t* raw = rawSize > outSize ? ownRaw.data() : out.data() + (outSize - rawSize);
  if (!Inflate(idat, raw, rawSize)) return false;
  const bool compare =
      diff && diff->prev && diff->prevWidth == int(w) && diff->prevHeight == int(h);
  ChangedBands bands;
  thread_local std::vector<uint8_t> rows;
  rows.assign(2 * stride, 0);
  uint8_t* prior = rows.data();  // zeros above the first row
  uint8_t* row = prior + stride;
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* line = raw + y * (stride + 1);
    uint8_t* dst = out.data() + y * outStride;
    if (!UnfilterToBgra(line, prior, row, dst, w, hdr.bpp)) return false;
    if (compare) bands.Row(int(y), diff->prev + y * outStride, dst, int(w));
    std::swap(prior, row);
  }
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  if (diff)
    diff->changed = compare ? bands.Finish(height) : std::vector<Rect>{{0, 0, width, height}};
  return true;
}

}  // namespace

bool DecodePngBgra(const uint8_t* data, size_t size, std::vector<uint8_t>& out, int& width,
                   int& height, PngDecoder decoder, FrameDiff* diff) {
  if (!data || size == 0) return false;
  if (decoder == PngDecoder::Deflate) {
    bool unsupported = false;
    if (DecodeDeflate(data, size, out, width, height, unsupported, diff)) return true;
    if (!unsupported) return false;
  }
  if (!DecodeSpng(data, size, out, width, height)) return false;
  if (diff) {
    const bool same = diff->prev && diff->prevWidth == width && diff->prevHeight == height;
    diff->changed = same ? DiffFrames(diff->prev, out.data(), width, height)
                         : std::vector<Rect>{{0, 0, width, height}};
  }
  return true;
}

std::vector<Rect> DiffFrames(const uint8_t* prev, const uint8_t* next, int width, int height) {
  if (width <= 0 || height <= 0) return {};
  const size_t stride = size_t(width) * 4;
  ChangedBands bands;
  for (int y = 0; y < height; ++y) bands.Row(y, prev + y * stride, next + y * stride, width);
  return bands.Finish(height);
}

Rect BoundingBox(const std::vector<Rect>& rects) {
  if (rects.empty()) return {};
  int l = rects[0].x, t = rects[0].y, r = l + rects[0].width, b = t + rects[0].height;
  for (const Rect& x : rects) {
    l = std::min(l, x.x);
    t = std::min(t, x.y);
    r = std::max(r, x.x + x.width);
    b = std::max(b, x.y + x.height);
  }
  return {l, t, r - l, b - t};
}

void UniteRects(std::vector<Rect>& into, const std::vector<Rect>& more, size_t maxRects) {
  into.insert(into.end(), more.begin(), more.end());
  if (into.size() > maxRects) {
    Rect box = BoundingBox(into);
    into.assign(1, box);
  }
}

}  // namespace cefeng
