#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

using namespace platform;

TEST(CodePage, AnsiRoundTripsEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::u16string wide = AnsiToWide(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(wide[0x80], u'\u20AC');  // euro sign
  EXPECT_EQ(wide[0xE9], u'\u00E9');
  EXPECT_EQ(WideToAnsi(wide), all);
}

TEST(CodePage, UnmappableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(WideToAnsi(u"a\u0416b"), "a?b");               // Cyrillic Zhe is not in 1252
  EXPECT_EQ(WideToAnsi(u"\U0001F600"), "?");              // a surrogate pair is one '?'
  EXPECT_EQ(FromWide(1251, u"\u0416"), std::string("\xC6"));  // but it is in 1251
}

TEST(CodePage, Utf8DecodesAndEncodes) {
  EXPECT_EQ(ToWide(kUtf8CodePage, "\xC3\xA9"), u"\u00E9");
  EXPECT_EQ(ToWide(kUtf8CodePage, "\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(ToWide(kUtf8CodePage, "\xED\xA0\x80"), u"?");  // encoded surrogate
  EXPECT_EQ(ToWide(kUtf8CodePage, "\xC3"), u"?");          // cut-off sequence
  EXPECT_EQ(FromWide(kUtf8CodePage, u"\u00E9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToAnsi("caf\xC3\xA9"), "caf\xE9");
  EXPECT_EQ(AnsiToUtf8("caf\xE9"), "caf\xC3\xA9");
}

TEST(CodePage, EveryXmlEncodingIsSupported) {
  for (unsigned cp : {65001u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u,
                      28591u, 28592u, 28593u, 28594u, 28595u, 28596u, 28597u, 28598u, 28599u,
                      28603u, 28605u, 20866u, 21866u})
    EXPECT_TRUE(IsCodePageSupported(cp)) << cp;
  EXPECT_FALSE(IsCodePageSupported(437));
  EXPECT_EQ(ToWide(20866, "\xC1"), u"\u0430");  // KOI8-R small a
}

TEST(CodePage, AnsiLetterClasses) {
  EXPECT_TRUE(IsAnsiAlpha('a'));
  EXPECT_TRUE(IsAnsiAlpha(0xE9));
  EXPECT_FALSE(IsAnsiAlpha(0xD7));  // multiplication sign
  EXPECT_FALSE(IsAnsiAlpha('1'));
  EXPECT_TRUE(IsAnsiAlphaNumeric('1'));
  EXPECT_FALSE(IsAnsiAlphaNumeric('-'));
}

TEST(CodePage, NamesAndNumbersOfTheAnsiCodePage) {
  EXPECT_EQ(CodePageFromName("1251"), std::optional<unsigned>(1251));
  EXPECT_EQ(CodePageFromName("cp1251"), std::optional<unsigned>(1251));
  EXPECT_EQ(CodePageFromName("Windows-1250"), std::optional<unsigned>(1250));
  EXPECT_EQ(CodePageFromName("KOI8-R"), std::optional<unsigned>(20866));
  EXPECT_EQ(CodePageFromName("65001"), std::optional<unsigned>(kUtf8CodePage));
  EXPECT_EQ(CodePageFromName("utf-8"), std::optional<unsigned>(kUtf8CodePage));
  EXPECT_EQ(CodePageFromName("932"), std::optional<unsigned>(932));
  EXPECT_EQ(CodePageFromName("CP936"), std::optional<unsigned>(936));
  // Known only by its iconv name: a number of this process's own, the same each time.
  const std::optional<unsigned> sjis = CodePageFromName("SHIFT_JIS");
  ASSERT_TRUE(sjis.has_value());
  EXPECT_EQ(CodePageFromName("shift_jis"), sjis);
  EXPECT_EQ(CodePageFromName("no-such-code-page"), std::nullopt);
  EXPECT_EQ(CodePageFromName(""), std::nullopt);
  EXPECT_EQ(CodePageFromName("1"), std::nullopt);
  EXPECT_EQ(CodePageFromName("UTF-16"), std::nullopt);  // not an 8-bit text with ASCII
}

TEST(CodePage, MultiByteCodePagesConvertThroughIconv) {
  const unsigned sjis = 932;
  ASSERT_EQ(CodePageFromName("932"), std::optional<unsigned>(sjis));
  const std::u16string text = u"A\u65E5\u672C";  // "A" and "Japan"
  const std::string bytes = FromWide(sjis, text);
  EXPECT_EQ(bytes, "A\x93\xFA\x96\x7B");
  EXPECT_EQ(ToWide(sjis, bytes), text);
  EXPECT_EQ(FromWide(sjis, u"\u0416x\U0001F600"), "\x84\x47x?");  // Zhe is in 932; the emoji not
  EXPECT_EQ(ToWide(sjis, "\x93"), u"?");                           // a lead byte cut off
  EXPECT_EQ(ToWide(sjis, std::string("\x80z", 2)), u"?z");         // a byte that starts nothing
}

// The ANSI conversions and character classes follow the chosen code page.
TEST(CodePage, ChosenAnsiCodePageRulesTheAnsiConversions) {
  ASSERT_EQ(AnsiCodePage(), kAnsiCodePage);
  ::setenv(kCodePageVariable, "1251", 1);
  std::string error;
  ASSERT_TRUE(SelectAnsiCodePageFromEnvironment(error)) << error;
  EXPECT_EQ(AnsiCodePage(), 1251u);
  EXPECT_EQ(WideToAnsi(u"\u0416\u00E9"), "\xC6?");
  EXPECT_EQ(AnsiToUtf8("\xC6"), "\xD0\x96");
  EXPECT_TRUE(IsAnsiAlpha(0xC6));
  EXPECT_FALSE(IsAnsiAlpha(0xB9));  // the numero sign
  ::setenv(kCodePageVariable, "65001", 1);
  ASSERT_TRUE(SelectAnsiCodePageFromEnvironment(error)) << error;
  EXPECT_EQ(WideToAnsi(u"\u0416"), "\xD0\x96");
  ::setenv(kCodePageVariable, "bogus", 1);
  EXPECT_FALSE(SelectAnsiCodePageFromEnvironment(error));
  EXPECT_NE(error.find("PV7_CODEPAGE=bogus"), std::string::npos) << error;
  EXPECT_EQ(AnsiCodePage(), kUtf8CodePage);  // unchanged by the failure
  ::unsetenv(kCodePageVariable);
  SetAnsiCodePage(kAnsiCodePage);
}
