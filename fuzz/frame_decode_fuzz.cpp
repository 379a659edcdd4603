// What the engine library reads from Chromium for every paint: a screencast frame's
// PNG, decoded by both decoders, and the frames compared. Every input must be
// refused or decoded, never crash, never allocate past what its bytes can hold,
// and the two decoders must agree on every image both accept.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cefeng;
  std::vector<uint8_t> own, spng;
  int ow = 0, oh = 0, sw = 0, sh = 0;
  const bool ownOk = DecodePngBgra(data, size, own, ow, oh, PngDecoder::Deflate);
  const bool spngOk = DecodePngBgra(data, size, spng, sw, sh, PngDecoder::Spng);
  if (ownOk && spngOk) {
    // libspng checks CRCs and the own decoder does not, so only images both accept
    // are compared.
    if (ow != sw || oh != sh || own != spng) abort();
    std::vector<Rect> rects = DiffFrames(own.data(), spng.data(), ow, oh);
    if (!rects.empty()) abort();
  }
  if (ownOk && oh > 1) {
    // A frame against itself shifted by a row differs at most in its full size.
    for (const Rect& r : DiffFrames(own.data(), own.data() + size_t(ow) * 4, ow, oh - 1))
      if (r.x < 0 || r.y < 0 || r.x + r.width > ow || r.y + r.height > oh - 1) abort();
  }
  return 0;
}
