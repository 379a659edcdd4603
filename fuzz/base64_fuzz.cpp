// Decodes arbitrary bytes as Base64 element text, and encodes them: what is
// encoded must decode to the same bytes, also with white space spread through it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string decoded = Base64DecodeText(bytes);
  if (decoded.size() > (size + 3) / 4 * 3) std::abort();

  const std::string encoded = Base64Encode(bytes);
  if (encoded.size() != (size + 2) / 3 * 4) std::abort();
  std::string spaced;
  for (size_t i = 0; i < encoded.size(); ++i) {
    spaced += encoded[i];
    if (i % 7 == 3) spaced += i % 2 ? "\r\n" : " ";
  }
  // Fewer than 4 characters decode to nothing: only the empty input encodes so.
  if (Base64DecodeText(encoded) != bytes || Base64DecodeText(spaced) != bytes) std::abort();
  return 0;
}
