// Code-page conversions between 8-bit texts and UTF-16.
//
// The process ANSI code page is Windows-1252 unless PV7_CODEPAGE names another
// (SelectAnsiCodePageFromEnvironment). Every 8-bit code page of the XML encoding
// table and UTF-8 (65001) are supported, and for the ANSI code page any code page
// iconv knows that keeps ASCII as it is (932, 936, ...); characters that a code
// page cannot hold become '?'.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr unsigned kAnsiCodePage = 1252;
inline constexpr unsigned kUtf8CodePage = 65001;
inline constexpr char kDefaultChar = '?';

// True when the code page can be converted (65001 or an 8-bit code page iconv knows).
bool IsCodePageSupported(unsigned codePage);

// The process ANSI code page: kAnsiCodePage unless SetAnsiCodePage chose another.
unsigned AnsiCodePage();
// Makes `codePage` (a value of CodePageFromName) the ANSI code page. Called at
// start, before any other thread converts texts.
void SetAnsiCodePage(unsigned codePage);

// A code page by its name: a Windows code page number ("1251", "932", "65001") or
// an iconv name ("CP1251", "SHIFT_JIS", "UTF-8"), letter case ignored. Only code
// pages that keep ASCII as it is qualify. Code pages without a Windows number get
// a number of this process's own. Nothing when the name is unknown.
std::optional<unsigned> CodePageFromName(std::string_view name);

// The environment variable that names the ANSI code page.
inline constexpr const char* kCodePageVariable = "PV7_CODEPAGE";
// Takes the ANSI code page from PV7_CODEPAGE when it is set and not empty; false
// with a message when it names no code page (the code page is then unchanged).
bool SelectAnsiCodePageFromEnvironment(std::string& error);

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
inline std::u16string AnsiToWide(std::string_view text) { return ToWide(AnsiCodePage(), text); }
inline std::string WideToAnsi(std::u16string_view text) { return FromWide(AnsiCodePage(), text); }

// UTF-8 to the ANSI code page and back (for texts that arrive as UTF-8, e.g. JSON).
std::string Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(std::string_view ansi);

// Character classes of the ANSI code page as the system sees them (letters
// include the accented letters of Windows-1252, or of the chosen single-byte code
// page; in a multi-byte code page every byte from 0x80 up belongs to a letter;
// digits only 0-9).
bool IsAnsiAlpha(unsigned char c);
bool IsAnsiAlphaNumeric(unsigned char c);

}  // namespace platform
