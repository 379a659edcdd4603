// Untrusted 8-bit text (INTF replies, command documents, XML text) through the
// code pages an ANSI code page may be: bytes to UTF-16 and back, into buffers of
// exactly the promised size, so a conversion that writes past its bound is caught.
// Converting the result again must give the same UTF-16 text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/codepage.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

unsigned CodePage(uint8_t selector) {
  static const unsigned kFixed[] = {1252, 1251, platform::kUtf8CodePage, 932, 936, 949, 950};
  static const unsigned kNamed = platform::CodePageFromName("SHIFT_JIS").value_or(1252);
  const size_t n = sizeof kFixed / sizeof kFixed[0];
  return selector % (n + 1) == n ? kNamed : kFixed[selector % (n + 1)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1 << 16) return 0;
  static const bool known = [] {
    for (const char* name : {"932", "936", "949", "950"}) Check(platform::CodePageFromName(name).has_value());
    return true;
  }();
  (void)known;
  const unsigned cp = CodePage(data[0]);
  const char* text = reinterpret_cast<const char*>(data + 1);
  const size_t n = size - 1;
  // Never more UTF-16 units than bytes.
  std::vector<char16_t> wide(n);
  const size_t units = platform::MultiByteToWide(cp, text, n, wide.data(), wide.size());
  Check(units <= n);
  // Four bytes a unit always suffice; a smaller buffer is filled at most.
  std::vector<char> bytes(units * 4);
  const size_t written = platform::WideToMultiByte(cp, wide.data(), units, bytes.data(), bytes.size());
  Check(written <= bytes.size());
  std::vector<char> half(written / 2);
  Check(platform::WideToMultiByte(cp, wide.data(), units, half.data(), half.size()) <= half.size());
  // What a code page wrote it reads back as the same characters.
  const std::u16string once = platform::ToWide(cp, std::string(bytes.data(), written));
  Check(platform::ToWide(cp, platform::FromWide(cp, once)) == once);
  return 0;
}
