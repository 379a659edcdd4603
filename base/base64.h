// Base64 with the standard alphabet, as byte arrays are written in XML text.
#pragma once

#include <string>
#include <string_view>

// Encodes bytes with "=" padding.
std::string Base64Encode(std::string_view bytes);
// Base64 decoding as element text is read: codes <= 32 skipped, characters
// outside the alphabet count as 0.
std::string Base64DecodeText(std::string_view text);
