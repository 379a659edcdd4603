// Typed accessors, paths, lookups by attribute, CDATA and Base64 element text.
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

// The document of the last Root call, kept alive while the test uses its root.
IXmlDocument keep;

IXmlElement Root(std::string_view text) {
  IXmlDocument doc = LoadXmlDocumentFromString(text);
  keep = doc;
  return doc->DocumentElement();
}

std::string Saved(const IXmlDocument& d) {
  TMemoryStream s;
  d->SaveToStream(s);
  return std::string(s.View());
}

}  // namespace

TEST(Conversions, ParseFloatText) {
  EXPECT_EQ(ParseFloatText("1.5"), 1.5);
  EXPECT_EQ(ParseFloatText("-2.5e3"), -2500);
  EXPECT_EQ(ParseFloatText("1.50000000000000E+0000"), 1.5);
  EXPECT_EQ(ParseFloatText("+INF"), INFINITY);
  EXPECT_EQ(ParseFloatText("inf"), INFINITY);
  EXPECT_EQ(ParseFloatText("-inf"), -INFINITY);
  const double nan = ParseFloatText("Nan");
  uint64_t bits;
  std::memcpy(&bits, &nan, 8);
  EXPECT_EQ(bits, 0xFFF8000000000000ull);
  EXPECT_EQ(Message([] { ParseFloatText("abc"); }), "'abc' is not a valid floating point value");
  EXPECT_EQ(Message([] { ParseFloatText("1e"); }), "'1e' is not a valid floating point value");
  EXPECT_EQ(Message([] { ParseFloatText(""); }), "'' is not a valid floating point value");
  // Every value's own text form reads back exactly.
  for (double v : {0.1, -123456.789, 1e-300, 6.02214076e23})
    EXPECT_EQ(ParseFloatText(FloatToXmlText(v)), v);
}

TEST(Conversions, ParseDateTimeText) {
  EXPECT_EQ(ParseDateTimeText("1899-12-30"), 0);
  EXPECT_EQ(ParseDateTimeText("2024-05-06"), 45418);
  EXPECT_EQ(DateTimeToXmlText(ParseDateTimeText("2024-05-06")), "2024-05-06T00:00:00");
  EXPECT_EQ(DateTimeToXmlText(ParseDateTimeText("2024-02-29T13:45:07")), "2024-02-29T13:45:07");
  // A missing separator leaves the remaining fields 0.
  EXPECT_EQ(DateTimeToXmlText(ParseDateTimeText("2024-05-06 13:45")), "2024-05-06T00:00:00");
  EXPECT_THROW(ParseDateTimeText("2024-00-06"), EConvertError);
  EXPECT_THROW(ParseDateTimeText("2023-02-29"), EConvertError);
  EXPECT_THROW(ParseDateTimeText("2024-05-06T24:00:00"), EConvertError);
  EXPECT_THROW(ParseDateTimeText("2024"), EConvertError);  // month 0
}

TEST(Conversions, Base64Decode) {
  EXPECT_EQ(Base64DecodeText("YWJj"), "abc");
  EXPECT_EQ(Base64DecodeText("YWI="), "ab");
  EXPECT_EQ(Base64DecodeText("YQ=="), "a");
  EXPECT_EQ(Base64DecodeText(" Y W\r\nJ j "), "abc");
  EXPECT_EQ(Base64DecodeText("YWJ"), "");  // fewer than 4 characters
  EXPECT_EQ(Base64DecodeText("!!!!"), std::string(3, '\0'));
}

TEST(Accessors, BooleanFloatDateHex) {
  IXmlElement r = Root("<r t='TRUE' f='false' one='1' x='abc' fl='-inf' ab='abc' d='2024-05-06'/>");
  EXPECT_TRUE(r->ReadBooleanAttr("t"));
  EXPECT_FALSE(r->ReadBooleanAttr("f", true));
  EXPECT_TRUE(r->ReadBooleanAttr("one"));
  EXPECT_TRUE(r->ReadBooleanAttr("absent", true));
  EXPECT_THROW(r->ReadBooleanAttr("x"), EConvertError);
  EXPECT_EQ(r->ReadFloatAttr("fl"), -INFINITY);
  EXPECT_EQ(Message([&] { r->ReadFloatAttr("ab"); }), "'abc' is not a valid floating point value");
  EXPECT_EQ(r->ReadFloatAttr("absent", 2.5), 2.5);
  EXPECT_EQ(r->ReadDateTimeAttr("d"), 45418);

  r->WriteBooleanAttr("b", true);
  EXPECT_EQ(r->GetAttrType("b"), varBoolean);
  r->WriteFloatAttr("g", 0.25);
  EXPECT_EQ(r->ReadFloatAttr("g"), 0.25);
  r->WriteDateTimeAttr("w", 45418.5);
  EXPECT_EQ(r->GetAttrType("w"), varDate);
  EXPECT_EQ(r->ReadDateTimeAttr("w"), 45418.5);
  r->WriteHexAttr("h", 0xBEEF, 8);
  EXPECT_EQ(r->ReadStringAttr("h"), "0000BEEF");
  EXPECT_EQ(r->ReadHexAttr("h"), 0xBEEF);
  r->WriteHexAttr("n", -1, 2);
  EXPECT_EQ(r->ReadStringAttr("n"), "FFFFFFFF");
  EXPECT_EQ(r->ReadHexAttr("absent", 7), 7);
  r->WriteStringAttr("y", "xyz");
  EXPECT_THROW(r->ReadHexAttr("y"), EConvertError);
  EXPECT_EQ(r->ReadHexAttr("x"), 0xABC);
}

TEST(Accessors, BooleanSavedAsDigitAndReadBack) {
  IXmlDocument d = LoadXmlDocumentFromString("<r/>");
  d->DocumentElement()->WriteBooleanAttr("b", true);
  const std::string text = Saved(d);
  EXPECT_NE(text.find("b=\"1\""), std::string::npos) << text;
  IXmlDocument back = LoadXmlDocumentFromString(text);
  EXPECT_TRUE(back->DocumentElement()->ReadBooleanAttr("b"));
}

TEST(Accessors, EnumerationsAndBytes) {
  IXmlElement r = Root("<r m='off' x='x' raw='a&#233;'/>");
  const std::vector<std::string> values = {"On", "Off"};
  EXPECT_EQ(r->ReadEnumAttr("m", values, -1), 1);
  EXPECT_EQ(r->ReadEnumAttr("absent", values, -1), -1);
  EXPECT_EQ(Message([&] { r->ReadEnumAttr("x", values, -1); }),
            "Incorrect value of the attribute \"x\" at element \"r\".\r\nAllowed values are: "
            "\r\nOn\r\nOff");
  EXPECT_EQ(r->RequireEnumAttr("m", values), 1);
  EXPECT_EQ(Message([&] { r->RequireEnumAttr("q", values); }), "Attribute \"q\" not found");
  EXPECT_EQ(r->ReadBytesAttr("raw"), "a\xE9");
  EXPECT_EQ(r->ReadBytesAttr("absent", "dflt"), "dflt");
}

TEST(Paths, SelectAndFullPath) {
  IXmlElement a = Root("<a><b><c/></b><b><c id='2'/></b><t>x</t></a>");
  IXmlNode c = a->SelectElement("b\\c");
  ASSERT_TRUE(c);
  EXPECT_FALSE(c->AttrExists("id"));  // the first c under the first b
  EXPECT_EQ(c->GetFullPath(), "a\\b\\c");
  EXPECT_EQ(a->GetFullPath(), "a");
  EXPECT_EQ(keep->CreateElement("z")->GetFullPath(), "");
  EXPECT_FALSE(a->SelectElement("q\\c"));
  EXPECT_FALSE(a->SelectElement("q"));
  EXPECT_EQ(Message([&] { a->SelectElement("*"); }), "This feature is not supported by xmlSimple");
  EXPECT_EQ(Message([&] { a->SelectElements("b/c"); }),
            "This feature is not supported by xmlSimple");

  IXmlNodeList bs = a->SelectElements("b");
  ASSERT_EQ(bs->GetCount(), 2);
  EXPECT_EQ(bs->GetItem(1)->GetParentNode(), IXmlNode(a));  // selected nodes stay put
  EXPECT_EQ(a->GetChildNodes()->GetCount(), 3);
  EXPECT_EQ(a->SelectElements("b\\c")->GetCount(), 1);
  EXPECT_FALSE(a->SelectElements("q\\c"));
  EXPECT_EQ(a->SelectElements("none")->GetCount(), 0);
}

TEST(Paths, ValuesByPath) {
  IXmlElement a = Root("<a k='v'><b><c>7</c></b></a>");
  EXPECT_EQ(a->GetValueByPath("b\\c").ToText(), "7");
  EXPECT_EQ(a->GetValueByPath("@k").ToText(), "v");
  EXPECT_EQ(a->GetValueByPath("@none").Type(), varString);
  EXPECT_EQ(a->GetValueByPath("zz").Type(), varString);

  a->SetValueByPath("x", TXmlVariant::Integer(5));
  IXmlNode x = a->SelectElement("x");
  ASSERT_TRUE(x);
  EXPECT_EQ(x->GetDataType(), varInteger);
  a->SetValueByPath("@n", TXmlVariant::Integer(9));
  EXPECT_EQ(a->GetAttrType("n"), varInteger);
  a->SetValueByPath("b\\c", TXmlVariant::Ansi("8"));
  EXPECT_EQ(a->SelectElement("b")->ReadChildText("c", "?"), "8");
  x->SetValueByPath("", TXmlVariant::Ansi("own"));
  EXPECT_EQ(x->GetText(), "own");
}

TEST(Paths, FindChildByAttr) {
  IXmlElement a = Root("<a><i id='1'/><j id='2'/><i id='2' n='second'/><i/></a>");
  IXmlElement e = a->FindChildByAttr("i", "id", TXmlVariant::Integer(2));
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ReadStringAttr("n"), "second");
  EXPECT_FALSE(a->FindChildByAttr("i", "id", TXmlVariant::Ansi("3")));
  EXPECT_FALSE(a->FindChildByAttr("i", "id", TXmlVariant::Double(NAN)));
}

TEST(ElementText, CdataSplitAndBase64) {
  IXmlElement a = Root("<a>old<!--keep--><![CDATA[x]]></a>");
  a->ReplaceTextByCDATA("p]]>q]]>r");
  IXmlNodeList kids = a->GetChildNodes();
  ASSERT_EQ(kids->GetCount(), 4);
  EXPECT_EQ(kids->GetItem(0)->GetNodeType(), 5);  // the comment stays
  std::string joined;
  for (int i = 1; i < kids->GetCount(); ++i) {
    EXPECT_EQ(kids->GetItem(i)->GetNodeType(), 3);
    joined += kids->GetItem(i)->GetText();
  }
  EXPECT_EQ(joined, "p]]>q]]>r");
  EXPECT_EQ(a->GetText(), "p] ]>q] ]>r");
  // The saved text reloads to the same content.
  IXmlDocument back = LoadXmlDocumentFromString(Saved(keep));
  EXPECT_EQ(back->DocumentElement()->GetText(), "p] ]>q] ]>r");

  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(char(i));
  for (int line : {0, 1, 7, 76}) {
    a->ReplaceTextByBinary(bytes.data(), int(bytes.size()), line);
    EXPECT_EQ(a->GetChildNodes()->GetCount(), 2);  // comment and one text
    EXPECT_EQ(a->ReadBinaryText(), bytes) << line;
    const std::string text = a->GetText();
    if (line >= 1) {
      EXPECT_EQ(text.substr(size_t(line), 2), "\r\n");
      EXPECT_NE(text.substr(text.size() - 2), "\r\n");
    } else {
      EXPECT_EQ(text.find('\r'), std::string::npos);
    }
  }
  a->ReplaceTextByBinary("", 0, 4);
  EXPECT_EQ(a->ReadBinaryText(), "");
}
