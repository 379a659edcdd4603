#include "base/framing.h"

void PutFrameLength(uint8_t* out, int32_t length) {
  const uint32_t v = static_cast<uint32_t>(length);
  out[0] = uint8_t(v >> 24);
  out[1] = uint8_t(v >> 16);
  out[2] = uint8_t(v >> 8);
  out[3] = uint8_t(v);
}

int32_t GetFrameLength(const uint8_t* header) {
  return int32_t(uint32_t(header[0]) << 24 | uint32_t(header[1]) << 16 |
                 uint32_t(header[2]) << 8 | uint32_t(header[3]));
}
