#include "engine/cefload.h"

#include <cstdio>

#include "platform/dynlib.h"

namespace {
TCefLibrary gLib;
platform::DynLibHandle gHandle = nullptr;
}  // namespace

const TCefLibrary& CefLib() { return gLib; }
bool CefLibraryLoaded() { return gHandle != nullptr; }
void* CefLibraryHandle() { return gHandle; }

std::string& EngineLibraryName() {
  static std::string name = "libcef.so";
  return name;
}

void LoadEngineLibrary() {
  if (gHandle) return;
  platform::DynLibError err;
  platform::DynLibHandle lib = platform::LoadDynLib(EngineLibraryName(), err);
  if (!lib) {
    // dlopen reports no error number for a missing file on every libc; the
    // loader's own text is still the useful part of the report.
    if (err.code == 0 && err.message.empty()) throw Exception("A call to an OS function failed");
    char head[64];
    std::snprintf(head, sizeof head, "System Error.  Code: %d.\r\n", err.code);
    throw Exception(head + err.message);
  }
  TCefLibrary resolved;
  bool complete = true;
#define PV7_CEF_RESOLVE(name)                                                          \
  resolved.name = reinterpret_cast<name##_fn>(platform::ResolveDynLibSymbol(lib, #name)); \
  if (!resolved.name) complete = false;
  CEF_REQUIRED_ENTRY_POINTS(PV7_CEF_RESOLVE)
#undef PV7_CEF_RESOLVE
  if (!complete) {
    platform::FreeDynLib(lib);
    throw ECefException("Invalid CEF Library version");
  }
  gLib = resolved;
  gHandle = lib;
}

void UnloadEngineLibrary() {
  if (!gHandle) return;
  platform::FreeDynLib(gHandle);
  gHandle = nullptr;
  gLib = TCefLibrary{};
}

std::u16string CefString(const cef_string_t* s) {
  if (!s || !s->str) return {};
  return std::u16string(s->str, s->length);
}

cef_string_t CefStringView(const std::u16string& s) {
  cef_string_t v{};
  v.str = const_cast<char16_t*>(s.c_str());
  v.length = s.size();
  return v;
}

std::u16string CefStringClaim(cef_string_userfree_t s) {
  if (!s) return {};
  std::u16string out = CefString(s);
  if (gLib.cef_string_userfree_utf16_free) gLib.cef_string_userfree_utf16_free(s);
  return out;
}

void CefStringSet(cef_string_t* target, const std::u16string& value) {
  if (!target || !gLib.cef_string_utf16_set) return;
  gLib.cef_string_utf16_set(value.data(), value.size(), target, 1);
}

std::u16string Utf8ToU16(std::string_view s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    size_t n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c >> 5) == 6) { cp = c & 0x1F; n = 2; }
    else if ((c >> 4) == 14) { cp = c & 0x0F; n = 3; }
    else if ((c >> 3) == 30) { cp = c & 0x07; n = 4; }
    else { out.push_back(u'\uFFFD'); ++i; continue; }
    if (i + n > s.size()) { out.push_back(u'\uFFFD'); break; }
    bool ok = true;
    for (size_t k = 1; k < n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d >> 6) != 2) { ok = false; break; }
      cp = (cp << 6) | (d & 0x3F);
    }
    if (!ok || cp > 0x10FFFF) { out.push_back(u'\uFFFD'); ++i; continue; }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(char16_t(cp));
    }
  }
  return out;
}

std::string U16ToUtf8(std::u16string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) out.push_back(char(cp));
    else if (cp < 0x800) { out.push_back(char(0xC0 | (cp >> 6))); out.push_back(char(0x80 | (cp & 0x3F))); }
    else if (cp < 0x10000) { out.push_back(char(0xE0 | (cp >> 12))); out.push_back(char(0x80 | ((cp >> 6) & 0x3F))); out.push_back(char(0x80 | (cp & 0x3F))); }
    else { out.push_back(char(0xF0 | (cp >> 18))); out.push_back(char(0x80 | ((cp >> 12) & 0x3F))); out.push_back(char(0x80 | ((cp >> 6) & 0x3F))); out.push_back(char(0x80 | (cp & 0x3F))); }
  }
  return out;
}
