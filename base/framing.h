// Frame messages, the one unit of data on every channel connection: a 4-byte
// big-endian signed length, then that many payload bytes. A negative length
// means: everything until the peer closes.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kFrameHeaderSize = 4;
// The longest payload a header can announce.
inline constexpr int64_t kMaxPayload = 2147483647;

// Writes length as the 4 header bytes at out.
void PutFrameLength(uint8_t* out, int32_t length);
// Reads the length from the 4 header bytes at header.
int32_t GetFrameLength(const uint8_t* header);
