// Table-driven 8-bit code pages (built once from iconv) and a direct UTF-8 codec.
#include "platform/codepage.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

namespace platform {
namespace {

// One 8-bit code page: byte -> UTF-16 and UTF-16 -> byte (0 with ok=false: unmappable).
struct SingleByteTable {
  std::array<char16_t, 256> toWide{};
  std::unique_ptr<uint8_t[]> fromWide;      // 65536 entries
  std::unique_ptr<bool[]> fromWideValid;  // 65536 entries
};

const char* IconvName(unsigned cp) {
  switch (cp) {
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 28603: return "ISO-8859-13";
    case 28605: return "ISO-8859-15";
    default: break;
  }
  static const char* const kIso[] = {"ISO-8859-1", "ISO-8859-2", "ISO-8859-3",
                                     "ISO-8859-4", "ISO-8859-5", "ISO-8859-6",
                                     "ISO-8859-7", "ISO-8859-8", "ISO-8859-9"};
  if (cp >= 28591 && cp <= 28599) return kIso[cp - 28591];
  return nullptr;
}

// Builds the table of one code page; bytes iconv cannot map keep their own value
// as a code point, as the system conversion does for undefined bytes.
std::unique_ptr<SingleByteTable> BuildTable(unsigned cp) {
  const char* name = IconvName(cp);
  if (!name) return nullptr;
  iconv_t cd = iconv_open("UTF-16LE", name);
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  auto t = std::make_unique<SingleByteTable>();
  t->fromWide = std::make_unique<uint8_t[]>(65536);
  t->fromWideValid = std::make_unique<bool[]>(65536);
  for (int b = 255; b >= 0; --b) {
    char in = static_cast<char>(b);
    unsigned char out[8];
    char* pin = &in;
    char* pout = reinterpret_cast<char*>(out);
    size_t inLeft = 1, outLeft = sizeof(out);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char16_t wc = static_cast<char16_t>(b);
    if (iconv(cd, &pin, &inLeft, &pout, &outLeft) != static_cast<size_t>(-1) &&
        sizeof(out) - outLeft == 2) {
      wc = static_cast<char16_t>(out[0] | (out[1] << 8));
    }
    t->toWide[b] = wc;
    // Walking downwards lets the lowest byte win when two bytes share a character.
    t->fromWide[wc] = static_cast<uint8_t>(b);
    t->fromWideValid[wc] = true;
  }
  iconv_close(cd);
  return t;
}

const SingleByteTable* TableFor(unsigned cp) {
  static std::mutex lock;  // guards `tables`
  static std::array<std::pair<unsigned, std::unique_ptr<SingleByteTable>>, 32> tables;
  std::lock_guard<std::mutex> guard(lock);
  for (auto& [code, table] : tables) {
    if (code == cp) return table.get();
    if (code == 0) {
      table = BuildTable(cp);
      if (!table) return nullptr;
      code = cp;
      return table.get();
    }
  }
  return nullptr;
}

size_t Utf8ToWide(const char* src, size_t n, char16_t* dst, size_t cap) {
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  size_t i = 0, o = 0;
  while (i < n && o < cap) {
    unsigned c = s[i];
    if (c < 0x80) {
      dst[o++] = static_cast<char16_t>(c);
      ++i;
      continue;
    }
    int len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    uint32_t cpt = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    bool ok = len != 0 && i + len <= n;
    for (int k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      cpt = (cpt << 6) | (s[i + k] & 0x3F);
    }
    if (!ok) {
      dst[o++] = u'?';
      ++i;
      continue;
    }
    i += len;
    if (cpt >= 0x10000) {
      if (cpt > 0x10FFFF || o + 2 > cap) {
        dst[o++] = u'?';
        continue;
      }
      cpt -= 0x10000;
      dst[o++] = static_cast<char16_t>(0xD800 + (cpt >> 10));
      dst[o++] = static_cast<char16_t>(0xDC00 + (cpt & 0x3FF));
    } else if (cpt >= 0xD800 && cpt <= 0xDFFF) {
      dst[o++] = u'?';
    } else {
      dst[o++] = static_cast<char16_t>(cpt);
    }
  }
  return o;
}

size_t WideToUtf8(const char16_t* src, size_t n, char* dst, size_t cap) {
  size_t o = 0;
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = src[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && src[i + 1] >= 0xDC00 && src[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (src[i + 1] - 0xDC00);
      if (o + 4 > cap) break;
      ++i;
      dst[o++] = static_cast<char>(0xF0 | (c >> 18));
      dst[o++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      dst[o++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      dst[o++] = static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = '?';
    if (c < 0x80) {
      if (o + 1 > cap) break;
      dst[o++] = static_cast<char>(c);
    } else if (c < 0x800) {
      if (o + 2 > cap) break;
      dst[o++] = static_cast<char>(0xC0 | (c >> 6));
      dst[o++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      if (o + 3 > cap) break;
      dst[o++] = static_cast<char>(0xE0 | (c >> 12));
      dst[o++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      dst[o++] = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return o;
}

}  // namespace

bool IsCodePageSupported(unsigned codePage) {
  return codePage == kUtf8CodePage || TableFor(codePage) != nullptr;
}

size_t MultiByteToWide(unsigned codePage, const char* src, size_t n, char16_t* dst,
                       size_t dstCap) {
  if (codePage == kUtf8CodePage) return Utf8ToWide(src, n, dst, dstCap);
  const SingleByteTable* t = TableFor(codePage);
  size_t count = n < dstCap ? n : dstCap;
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  if (!t) {
    for (size_t i = 0; i < count; ++i) dst[i] = s[i] < 0x80 ? s[i] : u'?';
    return count;
  }
  for (size_t i = 0; i < count; ++i) dst[i] = t->toWide[s[i]];
  return count;
}

size_t WideToMultiByte(unsigned codePage, const char16_t* src, size_t n, char* dst,
                       size_t dstCap) {
  if (codePage == kUtf8CodePage) return WideToUtf8(src, n, dst, dstCap);
  const SingleByteTable* t = TableFor(codePage);
  size_t o = 0;
  for (size_t i = 0; i < n && o < dstCap; ++i) {
    char16_t c = src[i];
    // A surrogate pair is one character that no 8-bit code page holds.
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && src[i + 1] >= 0xDC00 && src[i + 1] <= 0xDFFF)
      ++i;
    if (t && t->fromWideValid[c])
      dst[o++] = static_cast<char>(t->fromWide[c]);
    else if (!t && c < 0x80)
      dst[o++] = static_cast<char>(c);
    else
      dst[o++] = kDefaultChar;
  }
  return o;
}

std::u16string ToWide(unsigned codePage, std::string_view text) {
  std::u16string out(text.size(), u'\0');
  out.resize(MultiByteToWide(codePage, text.data(), text.size(), out.data(), out.size()));
  return out;
}

std::string FromWide(unsigned codePage, std::u16string_view text) {
  std::string out(text.size() * (codePage == kUtf8CodePage ? 3 : 1), '\0');
  out.resize(WideToMultiByte(codePage, text.data(), text.size(), out.data(), out.size()));
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  return WideToAnsi(ToWide(kUtf8CodePage, utf8));
}

std::string AnsiToUtf8(std::string_view ansi) {
  return FromWide(kUtf8CodePage, AnsiToWide(ansi));
}

bool IsAnsiAlpha(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  switch (c) {
    case 0x83: case 0x8A: case 0x8C: case 0x8E: case 0x9A: case 0x9C: case 0x9E: case 0x9F:
    case 0xAA: case 0xB5: case 0xBA:
      return true;
    default:
      return c >= 0xC0 && c != 0xD7 && c != 0xF7;
  }
}

bool IsAnsiAlphaNumeric(unsigned char c) { return IsAnsiAlpha(c) || (c >= '0' && c <= '9'); }

}  // namespace platform
