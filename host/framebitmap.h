// Frame bitmaps and the BMP frame encoder.
//
// A frame bitmap holds BGRA pixels, rows top-down, stride width * 4, and has a
// lock of its own: paints copy into it on the main thread while the command
// thread may resize it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "host/streamut.h"

struct TPixelRect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

class TFrameBitmap {
 public:
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  bool Empty() const { return FWidth == 0 || FHeight == 0; }
  uint8_t* Pixels() { return FPixels.data(); }
  const uint8_t* Pixels() const { return FPixels.data(); }

  // Negative sizes count as 0; the same size keeps the pixels; a new size clears
  // them to zero. Takes the lock.
  void SetSize(int32_t width, int32_t height);
  // Counts the reallocations of the pixels, so that a copy kept elsewhere (the
  // BMP encoder's) knows when it no longer matches them. Read under the lock.
  uint64_t Generation() const { return FGeneration; }

  // The bitmap's lock (recursive: a holder may call SetSize). Guards FWidth,
  // FHeight and FPixels against a concurrent resize.
  std::recursive_mutex& Lock() const { return FLock; }

 private:
  mutable std::recursive_mutex FLock;
  int32_t FWidth = 0;         // guarded by FLock
  int32_t FHeight = 0;        // guarded by FLock
  std::vector<uint8_t> FPixels;  // guarded by FLock
  uint64_t FGeneration = 0;      // guarded by FLock
};

// Copies each rectangle of a paint buffer (same BGRA layout, bufWidth x bufHeight)
// into the bitmap at the same place, under the bitmap's lock. Every rectangle is
// clipped to the bitmap and to the buffer, so a paint of another size never writes
// outside either.
void CopyDirtyRects(TFrameBitmap& target, const uint8_t* buffer, int32_t bufWidth,
                    int32_t bufHeight, int rectCount, const TPixelRect* rects);

// Draws `source` onto `target` at (x, y): a plain copy of each pixel, clipped by the
// target. Takes both locks.
void DrawBitmap(const TFrameBitmap& source, TFrameBitmap& target, int32_t x, int32_t y);

// Size of the 24-bit BMP file of a width x height picture (54-byte header included).
size_t BmpFileSize(int32_t width, int32_t height);

// Writes the 24-bit bottom-up BMP file of the bitmap into out[0 .. BmpFileSize)
// in one pass. The caller holds the bitmap's lock.
void EncodeBmp(const TFrameBitmap& bitmap, uint8_t* out);

// Replaces the stream's content with the BMP file of the bitmap (under its lock);
// the stream ends positioned at 0.
void EncodeBmpToStream(const TFrameBitmap& bitmap, TMemoryStream& stream);

// The BMP file of one bitmap, kept from frame to frame: an encoding converts only
// the areas marked changed since the previous one, and everything when the bitmap
// was resized (or reallocated) meanwhile. The result is byte for byte the file
// EncodeBmpToStream writes, as long as every change of the bitmap's pixels outside
// a resize is marked. Owned by one thread (the main thread for the view).
class TBmpFrameEncoder {
 public:
  // Marks an area of the bitmap as changed; it is clipped when encoded.
  void Invalidate(const TPixelRect& area);
  // Marks the whole bitmap as changed (for instance after frames were skipped).
  void InvalidateAll() { FAll = true; }
  // Copies a paint's rectangles into the bitmap, as CopyDirtyRects does. While the
  // file is current for the bitmap, each row copied is converted into it at once,
  // while it is in the cache; otherwise the rectangles are marked changed.
  void Store(TFrameBitmap& bitmap, const uint8_t* buffer, int32_t bufWidth, int32_t bufHeight,
             int rectCount, const TPixelRect* rects);

  // Brings the BMP file up to date with the bitmap, under its lock, and returns the
  // stream that holds it, positioned at 0. The stream stays the encoder's: it is
  // valid until the next call.
  TMemoryStream& Encode(const TFrameBitmap& bitmap);

 private:
  static constexpr size_t kMaxAreas = 64;  // beyond that one whole encoding is cheaper

  // The file holds the bitmap as it was at the last encoding, but for marked areas.
  bool Current(const TFrameBitmap& bitmap);
  void EncodeAreas(const TFrameBitmap& bitmap);

  streamut::TMemoryStream FStream;
  std::vector<TPixelRect> FAreas;  // changed since the last encoding
  bool FAll = true;
  int32_t FWidth = -1, FHeight = -1;  // the bitmap's size at the last encoding
  uint64_t FGeneration = 0;           // and its generation
};
