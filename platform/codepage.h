// Code-page conversions between 8-bit texts and UTF-16.
//
// The process ANSI code page is fixed to Windows-1252. Every 8-bit code page of
// the XML encoding table and UTF-8 (65001) are supported; characters that a code
// page cannot hold become '?'.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

inline constexpr unsigned kAnsiCodePage = 1252;
inline constexpr unsigned kUtf8CodePage = 65001;
inline constexpr char kDefaultChar = '?';

// True when the code page can be converted (65001 or an 8-bit code page iconv knows).
bool IsCodePageSupported(unsigned codePage);

// Bytes of `codePage` to UTF-16. At most dstCap characters are written; the count
// written is returned. A UTF-8 sequence cut off at the end of `src` becomes '?'.
// An 8-bit code page writes exactly one character per byte (n <= dstCap needed).
size_t MultiByteToWide(unsigned codePage, const char* src, size_t n, char16_t* dst, size_t dstCap);

// UTF-16 to bytes of `codePage`; unmappable characters become '?'. At most dstCap
// bytes are written (UTF-8 needs up to 3 per character); the count written is returned.
size_t WideToMultiByte(unsigned codePage, const char16_t* src, size_t n, char* dst, size_t dstCap);

std::u16string ToWide(unsigned codePage, std::string_view text);
std::string FromWide(unsigned codePage, std::u16string_view text);

// The ANSI code page shorthands used at the engine boundary and by the XML library.
inline std::u16string AnsiToWide(std::string_view text) { return ToWide(kAnsiCodePage, text); }
inline std::string WideToAnsi(std::u16string_view text) { return FromWide(kAnsiCodePage, text); }

// UTF-8 to the ANSI code page and back (for texts that arrive as UTF-8, e.g. JSON).
std::string Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(std::string_view ansi);

// Character classes of the ANSI code page as the system sees them (letters
// include the accented letters of Windows-1252, digits only 0-9).
bool IsAnsiAlpha(unsigned char c);
bool IsAnsiAlphaNumeric(unsigned char c);

}  // namespace platform
