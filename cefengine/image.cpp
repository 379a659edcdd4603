#include "image.h"

#include <libdeflate.h>
#include <spng.h>

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
void UnfilterUp(uint8_t* __restrict row, const uint8_t* __restrict prior, size_t len) {
  size_t i = 0;
#if defined(__x86_64__)
  for (; i + 16 <= len; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prior + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_add_epi8(a, b));
  }
#endif
  for (; i < len; ++i) row[i] = uint8_t(row[i] + prior[i]);
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

bool CpuHasShuffle() {
  __builtin_cpu_init();  // static initialisers may run before the compiler's own
  return __builtin_cpu_supports("ssse3");
}
const bool kHasShuffle = CpuHasShuffle();
#endif

// One unfiltered row of RGB or RGBA to BGRA.
void RowToBgra(const uint8_t* __restrict row, uint8_t* __restrict dst, uint32_t width, int bpp) {
  uint32_t x = 0;
#if defined(__x86_64__)
  if (kHasShuffle) x = ToBgraShuffle(row, dst, width, bpp);
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

// Undoes one row's filter in place; prior is the previous unfiltered row (or zeros).
bool Unfilter(uint8_t filter, uint8_t* row, const uint8_t* prior, size_t len, int bpp) {
  switch (filter) {
    case 0:
      return true;
    case 1:
      for (size_t i = bpp; i < len; ++i) row[i] = uint8_t(row[i] + row[i - bpp]);
      return true;
    case 2:
      UnfilterUp(row, prior, len);
      return true;
    case 3:
      for (size_t i = 0; i < len; ++i) {
        int left = i >= size_t(bpp) ? row[i - bpp] : 0;
        row[i] = uint8_t(row[i] + ((left + prior[i]) >> 1));
      }
      return true;
    case 4:
      for (size_t i = 0; i < len; ++i) {
        int left = i >= size_t(bpp) ? row[i - bpp] : 0;
        int upleft = i >= size_t(bpp) ? prior[i - bpp] : 0;
        row[i] = uint8_t(row[i] + Paeth(left, prior[i], upleft));
      }
      return true;
    default:
      return false;
  }
}

// Own decoder for the plain PNGs the browser sends (8-bit RGB or RGBA, not interlaced)
// with libdeflate for the inflate step; anything else goes to libspng.
bool DecodeDeflate(const uint8_t* data, size_t size, std::vector<uint8_t>& out, int& width,
                   int& height, bool& unsupported) {
  static const uint8_t sig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  unsupported = false;
  if (size < 8 + 25 || memcmp(data, sig, 8) != 0) return false;
  size_t pos = 8;
  uint32_t w = 0, h = 0;
  int bpp = 0;
  bool haveHeader = false;
  thread_local std::vector<uint8_t> idat;
  idat.clear();
  while (pos + 12 <= size) {
    uint32_t len = BigEndian32(data + pos);
    const uint8_t* type = data + pos + 4;
    if (len > size - pos - 12) return false;
    const uint8_t* body = data + pos + 8;
    if (memcmp(type, "IHDR", 4) == 0) {
      if (len != 13 || haveHeader) return false;
      w = BigEndian32(body);
      h = BigEndian32(body + 4);
      uint8_t depth = body[8], color = body[9], interlace = body[12];
      if (w == 0 || h == 0 || w > kMaxFrameSide || h > kMaxFrameSide) return false;
      if (depth != 8 || (color != 2 && color != 6) || interlace != 0 || body[10] || body[11]) {
        unsupported = true;
        return false;
      }
      bpp = color == 6 ? 4 : 3;
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
  if (!haveHeader || idat.empty()) return false;
  size_t stride = size_t(w) * bpp;
  size_t rawSize = (stride + 1) * h;
  // Deflate expands at most 1032 to 1: a header that claims more than the data can
  // hold is refused before its buffer is allocated.
  if (rawSize / kMaxInflateRatio > idat.size()) return false;
  thread_local std::vector<uint8_t> raw;
  raw.resize(rawSize);
  struct FreeDecompressor {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
  };
  thread_local std::unique_ptr<libdeflate_decompressor, FreeDecompressor> owned(
      libdeflate_alloc_decompressor());
  libdeflate_decompressor* dec = owned.get();
  if (!dec) return false;
  size_t actual = 0;
  if (libdeflate_zlib_decompress(dec, idat.data(), idat.size(), raw.data(), rawSize, &actual) !=
          LIBDEFLATE_SUCCESS ||
      actual != rawSize)
    return false;
  out.resize(size_t(w) * h * 4);
  thread_local std::vector<uint8_t> zeros;
  zeros.assign(stride, 0);
  const uint8_t* prior = zeros.data();
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t* line = raw.data() + y * (stride + 1);
    uint8_t* row = line + 1;
    if (!Unfilter(line[0], row, prior, stride, bpp)) return false;
    RowToBgra(row, out.data() + size_t(y) * w * 4, w, bpp);
    prior = row;
  }
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

}  // namespace

bool DecodePngBgra(const uint8_t* data, size_t size, std::vector<uint8_t>& out, int& width,
                   int& height, PngDecoder decoder) {
  if (!data || size == 0) return false;
  if (decoder == PngDecoder::Deflate) {
    bool unsupported = false;
    if (DecodeDeflate(data, size, out, width, height, unsupported)) return true;
    if (!unsupported) return false;
  }
  return DecodeSpng(data, size, out, width, height);
}

std::vector<Rect> DiffFrames(const uint8_t* prev, const uint8_t* next, int width, int height) {
  std::vector<Rect> rects;
  if (width <= 0 || height <= 0) return rects;
  const size_t stride = size_t(width) * 4;
  int bandTop = -1, bandLeft = 0, bandRight = 0;
  auto flush = [&](int bottom) {
    if (bandTop >= 0) rects.push_back({bandLeft, bandTop, bandRight - bandLeft, bottom - bandTop});
    bandTop = -1;
  };
  for (int y = 0; y < height; ++y) {
    const uint8_t* a = prev + y * stride;
    const uint8_t* b = next + y * stride;
    if (memcmp(a, b, stride) == 0) {
      flush(y);
      continue;
    }
    const uint32_t* pa = reinterpret_cast<const uint32_t*>(a);
    const uint32_t* pb = reinterpret_cast<const uint32_t*>(b);
    int left = 0, right = width;
    while (pa[left] == pb[left]) ++left;
    while (pa[right - 1] == pb[right - 1]) --right;
    if (bandTop < 0) {
      bandTop = y;
      bandLeft = left;
      bandRight = right;
    } else {
      bandLeft = std::min(bandLeft, left);
      bandRight = std::max(bandRight, right);
    }
  }
  flush(height);
  return rects;
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
