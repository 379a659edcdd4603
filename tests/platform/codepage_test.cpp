#include "platform/codepage.h"

#include <gtest/gtest.h>

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
