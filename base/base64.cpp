#include "base/base64.h"

#include <cstdint>
#include <array>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t n = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 |
                 uint8_t(bytes[i + 2]);
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (i < bytes.size()) {
    uint32_t n = uint32_t(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) n |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Base64DecodeText(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text)
    if (static_cast<unsigned char>(c) > 32) s.push_back(c);
  const size_t n = s.size();
  if (n < 4) return {};
  size_t len = (n + 3) / 4 * 3;
  if (s[n - 1] == '=') len -= (s[n - 2] == '=') ? 2 : 1;
  auto val = [](char c) -> uint32_t {
    const char* p = c ? std::strchr(kAlphabet, c) : nullptr;
    return p ? uint32_t(p - kAlphabet) : 0;
  };
  std::string out;
  out.reserve(len + 3);
  for (size_t i = 0; i < n; i += 4) {
    uint32_t q = 0;
    for (size_t k = 0; k < 4; ++k) q = (q << 6) | (i + k < n ? val(s[i + k]) : 0);
    out.push_back(char(q >> 16));
    out.push_back(char(q >> 8));
    out.push_back(char(q));
  }
  out.resize(len);
  return out;
}

bool Base64Decode(std::string_view in, std::vector<uint8_t>& out) {
  static const auto table = [] {
    std::array<int8_t, 256> t{};
    t.fill(-1);
    const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) t[static_cast<uint8_t>(a[i])] = static_cast<int8_t>(i);
    return t;
  }();
  out.clear();
  out.reserve(in.size() / 4 * 3 + 3);
  uint32_t acc = 0;
  int bits = 0;
  bool padding = false;
  for (char ch : in) {
    uint8_t c = static_cast<uint8_t>(ch);
    if (c == '=') {
      padding = true;
      continue;
    }
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
    int v = table[c];
    if (v < 0 || padding) return false;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(acc >> bits));
    }
  }
  return bits < 6;
}
