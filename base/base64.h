// Base64 with the standard alphabet, as byte arrays are written in XML text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Encodes bytes with "=" padding.
std::string Base64Encode(std::string_view bytes);
// Base64 decoding as element text is read: codes <= 32 skipped, characters
// outside the alphabet count as 0.
std::string Base64DecodeText(std::string_view text);
// Strict decoding of data that must be base64 (padding optional, white space
// ignored); false on any other character.
bool Base64Decode(std::string_view in, std::vector<uint8_t>& out);
