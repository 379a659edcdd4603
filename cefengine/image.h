// Screencast frame handling: base64, PNG to BGRA (rows top-down, stride width * 4) and
// the changed rectangles between two frames.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/base64.h"

namespace cefeng {

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};


// The largest frame accepted, in either direction.
constexpr int kMaxFrameSide = 16384;

enum class PngDecoder { Spng, Deflate };

// The previous frame a decoding compares the new one with, and what it found.
struct FrameDiff {
  const uint8_t* prev = nullptr;  // BGRA, prevWidth x prevHeight; null when there is none
  int prevWidth = 0, prevHeight = 0;
  // Set by a successful decoding: DiffFrames of the two frames when their sizes
  // match, else the whole new frame.
  std::vector<Rect> changed;
};

// Decodes a PNG into BGRA. `out` is resized to width * height * 4. False (and out
// untouched in size meaning) when the data is not a PNG this decoder accepts. With
// `diff`, the frame is also compared with diff->prev (which must not be `out`'s
// memory), row by row as it is decoded.
bool DecodePngBgra(const uint8_t* data, size_t size, std::vector<uint8_t>& out, int& width,
                   int& height, PngDecoder decoder = PngDecoder::Deflate,
                   FrameDiff* diff = nullptr);

// Rectangles (horizontal bands) covering every pixel that differs between two frames of
// the same size; empty when nothing changed.
std::vector<Rect> DiffFrames(const uint8_t* prev, const uint8_t* next, int width, int height);

// Adds the rectangles of `more` to `into`; when the list grows past maxRects it is
// replaced by its bounding box.
void UniteRects(std::vector<Rect>& into, const std::vector<Rect>& more, size_t maxRects = 32);

Rect BoundingBox(const std::vector<Rect>& rects);

}  // namespace cefeng
