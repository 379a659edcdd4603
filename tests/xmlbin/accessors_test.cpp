// Typed accessors, paths, CDATA and Base64 text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "xml/xmlAccessors.h"
#include "xml/xmlSimple.h"

namespace {

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "no exception";
}

IXmlDocument Doc() { return IXmlDocument(new TXmlDocument()); }

TEST(Conversions, ParseFloatText) {
  EXPECT_EQ(ParseFloatText("-1.5e2"), -150.0);
  EXPECT_EQ(ParseFloatText("+3"), 3.0);
  EXPECT_EQ(ParseFloatText(".5"), 0.5);
  EXPECT_EQ(ParseFloatText("inf"), INFINITY);
  EXPECT_EQ(ParseFloatText("+Inf"), INFINITY);
  EXPECT_EQ(ParseFloatText("-INF"), -INFINITY);
  const double nan = ParseFloatText("nan");
  uint64_t bits;
  std::memcpy(&bits, &nan, 8);
  EXPECT_EQ(bits, 0xFFF8000000000000ULL);
  for (const char* bad : {"abc", "", "1e", "1.2.3", "--1", "1 "})
    EXPECT_EQ(Message([&] { ParseFloatText(bad); }),
              std::string("'") + bad + "' is not a valid floating point value");
}

TEST(Conversions, ParseDateTimeText) {
  EXPECT_EQ(ParseDateTimeText("2024-05-06"), 45418.0);  // 6 May 2024, midnight
  EXPECT_EQ(ParseDateTimeText("1899-12-30T00:00:00"), 0.0);
  EXPECT_DOUBLE_EQ(ParseDateTimeText("2024-05-06T12:00:00"), 45418.5);
  EXPECT_DOUBLE_EQ(ParseDateTimeText("2024-05-06T06"), 45418.25);  // minutes, seconds 0
  EXPECT_DOUBLE_EQ(ParseDateTimeText("1899-12-29T06:00:00"), -1.25);
  EXPECT_THROW(ParseDateTimeText("2024-00-06"), EConvertError);
  EXPECT_THROW(ParseDateTimeText("2023-02-29"), EConvertError);
  EXPECT_THROW(ParseDateTimeText("2024-05-06T24:00:00"), EConvertError);
  EXPECT_THROW(ParseDateTimeText("2024/05/06"), EConvertError);  // month 0
}

TEST(Accessors, BooleanFloatDateHex) {
  IXmlDocument doc = Doc();
  IXmlElement e = doc->AppendElement("e");
  e->WriteBooleanAttr("b", true);
  EXPECT_NE(e->GetXml().find("<e b=\"1\"/>"), std::string::npos);
  doc->LoadFromString(
      "<e b=\"1\" f=\"False\" x=\"yes\" n=\"-inf\" s=\"abc\" d=\"2024-05-06T10:30:00\" h=\"ff\"/>");
  e = doc->DocumentElement();
  EXPECT_TRUE(e->ReadBooleanAttr("b"));
  EXPECT_FALSE(e->ReadBooleanAttr("f", true));
  EXPECT_TRUE(e->ReadBooleanAttr("absent", true));
  EXPECT_THROW(e->ReadBooleanAttr("x"), EConvertError);
  EXPECT_EQ(e->ReadFloatAttr("n"), -INFINITY);
  EXPECT_EQ(Message([&] { e->ReadFloatAttr("s"); }), "'abc' is not a valid floating point value");
  EXPECT_EQ(e->ReadFloatAttr("absent", 2.5), 2.5);
  EXPECT_DOUBLE_EQ(e->ReadDateTimeAttr("d"), 45418.0 + 10.5 / 24);
  EXPECT_EQ(e->ReadHexAttr("h"), 255);
  EXPECT_EQ(e->ReadHexAttr("absent", 7), 7);
  EXPECT_EQ(e->ReadHexAttr("s"), 0xABC);
  EXPECT_THROW(e->ReadHexAttr("x"), EConvertError);
  e->WriteHexAttr("w", 0xAB, 4);
  EXPECT_EQ(e->ReadStringAttr("w"), "00AB");
  EXPECT_EQ(e->GetAttrType("w"), varString);
  e->WriteHexAttr("neg", -1, 2);
  EXPECT_EQ(e->ReadStringAttr("neg"), "FFFFFFFF");
  e->WriteFloatAttr("fl", 0.25);
  EXPECT_EQ(e->GetAttrType("fl"), varDouble);
  EXPECT_EQ(e->ReadFloatAttr("fl"), 0.25);
  e->WriteDateTimeAttr("dt", 45418.5);
  EXPECT_EQ(e->GetAttrType("dt"), varDate);
  EXPECT_EQ(e->ReadDateTimeAttr("dt"), 45418.5);
  EXPECT_EQ(e->ReadBytesAttr("s"), "abc");
  EXPECT_EQ(e->ReadBytesAttr("absent", "zz"), "zz");
}

TEST(Accessors, Enumerations) {
  IXmlDocument doc = Doc();
  doc->LoadFromString("<el m=\"off\" x=\"x\"/>");
  IXmlElement e = doc->DocumentElement();
  const std::vector<std::string> values = {"On", "Off"};
  EXPECT_EQ(e->ReadEnumAttr("m", values, -1), 1);
  EXPECT_EQ(e->ReadEnumAttr("absent", values, -1), -1);
  EXPECT_EQ(Message([&] { e->ReadEnumAttr("x", values, -1); }),
            "Incorrect value of the attribute \"x\" at element \"el\".\r\nAllowed values are: "
            "\r\nOn\r\nOff");
  EXPECT_EQ(e->RequireEnumAttr("m", values), 1);
  EXPECT_EQ(Message([&] { e->RequireEnumAttr("absent", values); }),
            "Attribute \"absent\" not found");
}

TEST(Paths, SelectAndFullPath) {
  IXmlDocument doc = Doc();
  doc->LoadFromString("<a><b id=\"1\"><c/></b><b id=\"2\"/><x/><b id=\"3\"/></a>");
  IXmlElement a = doc->DocumentElement();
  IXmlNode c = doc->SelectElement("a\\b\\c");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->GetFullPath(), "a\\b\\c");
  EXPECT_EQ(a->GetFullPath(), "a");
  EXPECT_EQ(a->SelectElement("b")->ReadStringAttr("id"), "1");
  EXPECT_FALSE(a->SelectElement("q\\b"));
  EXPECT_FALSE(a->SelectElement("nope"));
  EXPECT_EQ(Message([&] { a->SelectElement("*"); }), "This feature is not supported by SimpleXML");
  EXPECT_EQ(Message([&] { a->SelectElements("*"); }), "This feature is not supported by SimpleXML");
  IXmlNodeList bs = a->SelectElements("b");
  ASSERT_EQ(bs->GetCount(), 3);
  EXPECT_EQ(bs->Item(2)->ReadStringAttr("id"), "3");
  EXPECT_EQ(bs->Item(0)->Parent(), a.get());  // still in their parent
  EXPECT_EQ(a->ChildrenOrNull()->GetCount(), 4);
  EXPECT_EQ(doc->SelectElements("a\\b")->GetCount(), 3);
  EXPECT_FALSE(doc->SelectElements("z\\b"));
  bs = nullptr;
  EXPECT_EQ(a->ChildrenOrNull()->Item(0)->Parent(), a.get());
  IXmlElement detached = doc->CreateElement("d");
  EXPECT_EQ(detached->GetFullPath(), "");
  EXPECT_EQ(a->FindChildByAttr("b", "id", TXmlVariant::Ansi("2"))->ReadStringAttr("id"), "2");
  EXPECT_EQ(a->FindChildByAttr("b", "id", TXmlVariant::Integer(3))->ReadStringAttr("id"), "3");
  EXPECT_FALSE(a->FindChildByAttr("b", "id", TXmlVariant::Ansi("9")));
  EXPECT_FALSE(a->FindChildByAttr("x", "id", TXmlVariant::Ansi("1")));
}

TEST(Paths, GetAndSetValueByPath) {
  IXmlDocument doc = Doc();
  doc->LoadFromString("<r k=\"v\"><p><q>text</q></p></r>");
  IXmlElement r = doc->DocumentElement();
  EXPECT_EQ(r->GetValueByPath("p\\q").ToText(), "text");
  EXPECT_EQ(r->GetValueByPath("@k").ToText(), "v");
  EXPECT_EQ(r->GetValueByPath("@none").Type(), varString);
  EXPECT_EQ(r->GetValueByPath("none").ToText(), "");
  r->SetValueByPath("x", TXmlVariant::Integer(5));
  ASSERT_TRUE(r->SelectElement("x"));
  EXPECT_EQ(r->SelectElement("x")->GetValue().ToInteger(), 5);
  r->SetValueByPath("@k", TXmlVariant::Ansi("w"));
  EXPECT_EQ(r->ReadStringAttr("k"), "w");
  r->SetValueByPath("p\\q", TXmlVariant::Ansi("new"));
  EXPECT_EQ(r->GetValueByPath("p\\q").ToText(), "new");
  IXmlNode q = r->SelectElement("p\\q");
  q->SetValueByPath("", TXmlVariant::Ansi("own"));
  EXPECT_EQ(q->GetText(), "own");
}

TEST(ElementText, CDATASections) {
  IXmlDocument doc = Doc();
  IXmlElement e = doc->AppendElement("e");
  e->AppendText("old");
  e->AppendComment("keep");
  e->ReplaceTextByCDATA("a]]>b]]>c");
  TXmlNodeList* list = e->ChildrenOrNull();
  std::string joined;
  int sections = 0;
  for (int i = 0; i < list->GetCount(); ++i)
    if (list->Item(i)->GetNodeType() == 3) {
      joined += list->Item(i)->GetText();
      ++sections;
    }
  EXPECT_EQ(sections, 3);
  EXPECT_EQ(joined, "a]]>b]]>c");
  EXPECT_EQ(list->Item(0)->GetNodeType(), 5);  // the comment stayed
  IXmlDocument back = Doc();
  back->LoadFromString(doc->GetXml());
  EXPECT_EQ(back->DocumentElement()->GetText(), "a] ]>b] ]>c");
}

TEST(ElementText, Base64RoundTrip) {
  IXmlDocument doc = Doc();
  IXmlElement e = doc->AppendElement("e");
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes += char(i * 7);
  for (int line : {0, 1, 4, 76})
    for (size_t n : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(100), bytes.size()}) {
      e->ReplaceTextByBinary(bytes.data(), int(n), line);
      EXPECT_EQ(e->ReadBinaryText(), bytes.substr(0, n)) << line << " " << n;
      const std::string text = e->GetText();
      if (line >= 1 && n == bytes.size()) {
        EXPECT_EQ(text.substr(size_t(line), 2), "\r\n");
        EXPECT_NE(text.substr(text.size() - 2), "\r\n");
      }
    }
  e->ReplaceTextByBinary("ab", 2, 0);
  EXPECT_EQ(e->GetText(), "YWI=");
  EXPECT_EQ(e->ChildrenOrNull()->GetCount(), 1);
  e->SetText("  Y W\tI=\n");
  EXPECT_EQ(e->ReadBinaryText(), "ab");
  e->SetText("YW");
  EXPECT_EQ(e->ReadBinaryText(), "");
}

}  // namespace
