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

class TMemoryStream;

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

  // The bitmap's lock (recursive: a holder may call SetSize). Guards FWidth,
  // FHeight and FPixels against a concurrent resize.
  std::recursive_mutex& Lock() const { return FLock; }

 private:
  mutable std::recursive_mutex FLock;
  int32_t FWidth = 0;         // guarded by FLock
  int32_t FHeight = 0;        // guarded by FLock
  std::vector<uint8_t> FPixels;  // guarded by FLock
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
