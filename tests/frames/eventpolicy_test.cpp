#include "host/eventpolicy.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(HeaderList, ItemsSeparatedByDelimiterAndBlanks) {
  EXPECT_EQ(BuildHeaderMap("X-Till=7;X-Mode=test"),
            (THeaderList{{"X-Till", "7"}, {"X-Mode", "test"}}));
  EXPECT_EQ(BuildHeaderMap("X-A=1 X-B=2"), (THeaderList{{"X-A", "1"}, {"X-B", "2"}}));
  EXPECT_EQ(BuildHeaderMap("  X-A=1 ;\t X-B=2\r\n"), (THeaderList{{"X-A", "1"}, {"X-B", "2"}}));
  EXPECT_EQ(BuildHeaderMap("X-A=1;X-A=2"), (THeaderList{{"X-A", "1"}, {"X-A", "2"}}));
  EXPECT_EQ(BuildHeaderMap("X-A=a=b"), (THeaderList{{"X-A", "a=b"}}));
  EXPECT_EQ(BuildHeaderMap("X-A="), (THeaderList{{"X-A", ""}}));
}

TEST(HeaderList, QuotedItems) {
  EXPECT_EQ(BuildHeaderMap("\"X-A=hello world\";X-B=2"),
            (THeaderList{{"X-A", "hello world"}, {"X-B", "2"}}));
  EXPECT_EQ(BuildHeaderMap("\"X-A=say \"\"hi\"\";x\""), (THeaderList{{"X-A", "say \"hi\";x"}}));
  EXPECT_EQ(BuildHeaderMap("\"X-A=open"), (THeaderList{{"X-A", "open"}}));
}

TEST(HeaderList, NothingWhenEmptyOrFirstItemEmpty) {
  EXPECT_FALSE(BuildHeaderMap(""));
  EXPECT_FALSE(BuildHeaderMap("   "));
  EXPECT_FALSE(BuildHeaderMap(";X-A=1"));
  EXPECT_FALSE(BuildHeaderMap("\"\";X-A=1"));
}

TEST(HeaderList, ItemsWithoutEqualsAreSkipped) {
  // A trailing delimiter's empty item and bare words name no header.
  EXPECT_EQ(BuildHeaderMap("X-A=1;"), (THeaderList{{"X-A", "1"}}));
  EXPECT_EQ(BuildHeaderMap("Token X-A=1"), (THeaderList{{"X-A", "1"}}));
  EXPECT_EQ(BuildHeaderMap("Token"), THeaderList{});
}

TEST(HeaderList, NulBytesEndNoLoop) {
  EXPECT_EQ(BuildHeaderMap("X-A=1\0X-B=2"s), (THeaderList{{"X-A", "1"}, {"X-B", "2"}}));
  EXPECT_FALSE(BuildHeaderMap("\0\0"s));
}

TEST(Cursor, TableAndDefaults) {
  EXPECT_EQ(CursorFromEngineType(0), TCursor::crArrow);
  EXPECT_EQ(CursorFromEngineType(43), TCursor::crArrow);
  EXPECT_EQ(CursorFromEngineType(-1), TCursor::crArrow);
  EXPECT_EQ(CursorFromEngineType(999), TCursor::crArrow);
  EXPECT_EQ(CursorFromEngineType(2), TCursor::crHandPoint);
  EXPECT_EQ(CursorFromEngineType(3), TCursor::crIBeam);
  for (int t : {6, 13, 15}) EXPECT_EQ(CursorFromEngineType(t), TCursor::crSizeWE);
  for (int t : {7, 10, 14}) EXPECT_EQ(CursorFromEngineType(t), TCursor::crSizeNS);
  for (int t : {8, 12, 16}) EXPECT_EQ(CursorFromEngineType(t), TCursor::crSizeNESW);
  for (int t : {9, 11, 17}) EXPECT_EQ(CursorFromEngineType(t), TCursor::crSizeNWSE);
  EXPECT_EQ(CursorFromEngineType(29), TCursor::crSizeAll);
  EXPECT_EQ(CursorFromEngineType(34), TCursor::crAppStart);
  EXPECT_EQ(CursorFromEngineType(35), TCursor::crNo);
  EXPECT_EQ(CursorFromEngineType(38), TCursor::crNo);
  EXPECT_EQ(CursorFromEngineType(37), TCursor::crNone);
  EXPECT_STREQ(CursorName(TCursor::crHandPoint), "pointer");
  EXPECT_STREQ(CursorName(TCursor::crNone), "none");
  EXPECT_STREQ(CursorName(TCursor::crArrow), "default");
}

TEST(ErrorPage, TextAndAnsiRoundTrip) {
  EXPECT_EQ(BuildLoadErrorPage(u"http://x/", u"net::ERR_CONNECTION_REFUSED", -102),
            u"<html><body bgcolor=\"white\"><h2>Failed to load URL http://x/\r\n\r\n"
            u"Error: net::ERR_CONNECTION_REFUSED (-102).</h2></body></html>");
  // Characters outside the ANSI code page are lost on the way; others survive.
  std::u16string page = BuildLoadErrorPage(u"http://\u0416\u00E9/", u"e", 2);
  EXPECT_NE(page.find(u"http://?\u00E9/"), std::u16string::npos);
}
