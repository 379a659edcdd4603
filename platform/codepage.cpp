// Table-driven 8-bit code pages (built once from iconv) and a direct UTF-8 codec.
#include "platform/codepage.h"

#include <iconv.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

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

// --- code pages converted by iconv itself (multi-byte ones and iconv names) ---

// Numbers of this process's own for code pages known only by an iconv name.
constexpr unsigned kFirstNamedCodePage = 0x40000000;

struct GenericCodePage {
  unsigned number;
  std::string iconvName;
};

std::mutex& GenericLock() {
  static std::mutex lock;  // guards GenericPages()
  return lock;
}
std::vector<GenericCodePage>& GenericPages() {
  static std::vector<GenericCodePage> pages;
  return pages;
}

// The iconv name of a code page registered here; "" for the others (the code
// pages of the table are never registered, so they are told apart without a lock).
std::string GenericName(unsigned cp) {
  if (cp == kUtf8CodePage || IconvName(cp)) return {};
  std::lock_guard<std::mutex> guard(GenericLock());
  for (const GenericCodePage& page : GenericPages())
    if (page.number == cp) return page.iconvName;
  return {};
}

unsigned RegisterGeneric(std::optional<unsigned> number, const std::string& iconvName) {
  std::lock_guard<std::mutex> guard(GenericLock());
  std::vector<GenericCodePage>& pages = GenericPages();
  for (const GenericCodePage& page : pages)
    if (number ? page.number == *number : page.iconvName == iconvName) return page.number;
  const unsigned cp = number ? *number : kFirstNamedCodePage + unsigned(pages.size());
  pages.push_back({cp, iconvName});
  return cp;
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : FCd(iconv_open(to, from)) {}
  ~Iconv() {
    if (Ok()) iconv_close(FCd);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool Ok() const { return FCd != reinterpret_cast<iconv_t>(-1); }
  // One step; -1 with errno as iconv sets it.
  size_t Step(char** in, size_t* inLeft, char** out, size_t* outLeft) {
    return iconv(FCd, in, inLeft, out, outLeft);
  }

 private:
  iconv_t FCd;
};

// Whether iconv knows the code page and it keeps printable ASCII, tab and line
// ends as they are, one byte each (the channel tags and XML need that). Backslash
// and tilde may differ: the Japanese code pages put the yen sign and the overline
// there.
bool KeepsAscii(const std::string& iconvName) {
  Iconv cd("UTF-16LE", iconvName.c_str());
  if (!cd.Ok()) return false;
  std::string ascii = "\t\r\n";
  for (char c = 0x20; c < 0x7F; ++c)
    if (c != '\\' && c != '~') ascii.push_back(c);
  char out[512];
  char* in = ascii.data();
  char* o = out;
  size_t inLeft = ascii.size(), outLeft = sizeof out;
  if (cd.Step(&in, &inLeft, &o, &outLeft) == size_t(-1) || inLeft != 0) return false;
  if (size_t(o - out) != ascii.size() * 2) return false;
  for (size_t i = 0; i < ascii.size(); ++i)
    if (out[2 * i] != ascii[i] || out[2 * i + 1] != 0) return false;
  return true;
}

size_t GenericToWide(const std::string& name, const char* src, size_t n, char16_t* dst,
                     size_t cap) {
  if (n == 0 || cap == 0) return 0;  // iconv takes no empty buffers
  Iconv cd("UTF-16LE", name.c_str());
  if (!cd.Ok()) return 0;
  std::vector<char> out(cap * 2);
  char* in = const_cast<char*>(src);
  char* o = out.data();
  size_t inLeft = n, outLeft = out.size();
  while (inLeft > 0) {
    if (cd.Step(&in, &inLeft, &o, &outLeft) != size_t(-1)) break;
    if (errno == E2BIG || outLeft < 2) break;
    // A byte that starts no character, or a sequence cut off at the end: one '?'.
    *o++ = '?';
    *o++ = 0;
    outLeft -= 2;
    if (errno == EINVAL) break;
    ++in;
    --inLeft;
  }
  const size_t count = size_t(o - out.data()) / 2;
  for (size_t i = 0; i < count; ++i)
    dst[i] = char16_t(uint8_t(out[2 * i]) | uint8_t(out[2 * i + 1]) << 8);
  return count;
}

size_t GenericFromWide(const std::string& name, const char16_t* src, size_t n, char* dst,
                       size_t cap) {
  if (n == 0 || cap == 0) return 0;  // iconv takes no empty buffers
  Iconv cd(name.c_str(), "UTF-16LE");
  if (!cd.Ok()) return 0;
  std::vector<char> units(n * 2);
  for (size_t i = 0; i < n; ++i) {
    units[2 * i] = char(src[i] & 0xFF);
    units[2 * i + 1] = char(src[i] >> 8);
  }
  char* in = units.data();
  char* o = dst;
  size_t inLeft = units.size(), outLeft = cap;
  while (inLeft > 0) {
    if (cd.Step(&in, &inLeft, &o, &outLeft) != size_t(-1)) break;
    if (errno == E2BIG || outLeft == 0) break;
    // A character the code page cannot hold (a surrogate pair counts as one): '?'.
    *o++ = kDefaultChar;
    --outLeft;
    if (errno == EINVAL) break;
    const char16_t c = char16_t(uint8_t(in[0]) | uint8_t(in[1]) << 8);
    const size_t skip = c >= 0xD800 && c <= 0xDBFF && inLeft >= 4 ? 4 : 2;
    in += skip;
    inLeft -= skip;
  }
  cd.Step(nullptr, nullptr, &o, &outLeft);  // a stateful code page returns to its start
  return size_t(o - dst);
}

// Bytes one UTF-16 unit can need in the code page.
size_t MaxBytesPerUnit(unsigned cp) {
  if (cp == kUtf8CodePage) return 3;
  return GenericName(cp).empty() ? 1 : 4;
}

std::atomic<unsigned> gAnsiCodePage{kAnsiCodePage};

// A letter of the scripts the single-byte code pages hold.
bool IsLetterCodePoint(char16_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  if (c == 0xAA || c == 0xB5 || c == 0xBA) return true;
  if (c >= 0xC0 && c <= 0x24F) return c != 0xD7 && c != 0xF7;
  return (c >= 0x386 && c <= 0x3FF && c != 0x387) || (c >= 0x400 && c <= 0x481) ||
         (c >= 0x48A && c <= 0x52F) || (c >= 0x5D0 && c <= 0x5EA) || (c >= 0x620 && c <= 0x64A) ||
         (c >= 0x671 && c <= 0x6D3) || (c >= 0x1E00 && c <= 0x1EFF);
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool AllDigits(std::string_view text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::optional<unsigned> CodePageFromNumber(unsigned cp) {
  if (cp == kUtf8CodePage || TableFor(cp)) return cp;
  if (!GenericName(cp).empty()) return cp;
  const std::string name = "CP" + std::to_string(cp);
  if (!KeepsAscii(name)) return std::nullopt;
  return RegisterGeneric(cp, name);
}

// "CP1251", "WINDOWS-1251", "IBM437" and the like carry their number.
std::optional<unsigned> NumberInName(const std::string& upper) {
  for (std::string_view prefix : {"CP", "WINDOWS-", "IBM"}) {
    if (upper.rfind(prefix, 0) != 0) continue;
    const std::string_view digits = std::string_view(upper).substr(prefix.size());
    if (AllDigits(digits)) return unsigned(std::strtoul(std::string(digits).c_str(), nullptr, 10));
  }
  return std::nullopt;
}

}  // namespace

unsigned AnsiCodePage() { return gAnsiCodePage.load(std::memory_order_relaxed); }

void SetAnsiCodePage(unsigned codePage) { gAnsiCodePage.store(codePage, std::memory_order_relaxed); }

std::optional<unsigned> CodePageFromName(std::string_view name) {
  while (!name.empty() && std::isspace(static_cast<unsigned char>(name.front()))) name.remove_prefix(1);
  while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.remove_suffix(1);
  if (name.empty()) return std::nullopt;
  if (AllDigits(name)) return CodePageFromNumber(unsigned(std::strtoul(std::string(name).c_str(), nullptr, 10)));
  const std::string upper = Upper(name);
  if (upper == "UTF-8" || upper == "UTF8") return kUtf8CodePage;
  if (std::optional<unsigned> number = NumberInName(upper))
    if (std::optional<unsigned> cp = CodePageFromNumber(*number)) return cp;
  // The 8-bit code pages of the table under their iconv names.
  for (unsigned cp : {20866u, 21866u, 28591u, 28592u, 28593u, 28594u, 28595u, 28596u, 28597u,
                      28598u, 28599u, 28603u, 28605u})
    if (const char* known = IconvName(cp); known && upper == known) return cp;
  if (!KeepsAscii(upper)) return std::nullopt;
  return RegisterGeneric(std::nullopt, upper);
}

bool SelectAnsiCodePageFromEnvironment(std::string& error) {
  const char* value = std::getenv(kCodePageVariable);
  if (!value || !*value) return true;
  std::optional<unsigned> cp = CodePageFromName(value);
  if (!cp) {
    error = std::string(kCodePageVariable) + "=" + value +
            " names no code page that keeps ASCII (a Windows code page number or an iconv name)";
    return false;
  }
  SetAnsiCodePage(*cp);
  return true;
}

bool IsCodePageSupported(unsigned codePage) {
  return codePage == kUtf8CodePage || TableFor(codePage) != nullptr;
}

size_t MultiByteToWide(unsigned codePage, const char* src, size_t n, char16_t* dst,
                       size_t dstCap) {
  if (codePage == kUtf8CodePage) return Utf8ToWide(src, n, dst, dstCap);
  if (const std::string name = GenericName(codePage); !name.empty())
    return GenericToWide(name, src, n, dst, dstCap);
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
  if (const std::string name = GenericName(codePage); !name.empty())
    return GenericFromWide(name, src, n, dst, dstCap);
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
  std::string out(text.size() * MaxBytesPerUnit(codePage), '\0');
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
  const unsigned cp = AnsiCodePage();
  if (cp != kAnsiCodePage) {
    if (c < 0x80) return false;
    if (cp == kUtf8CodePage || !GenericName(cp).empty()) return true;  // part of a letter
    const SingleByteTable* t = TableFor(cp);
    return t && IsLetterCodePoint(t->toWide[c]);
  }
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
