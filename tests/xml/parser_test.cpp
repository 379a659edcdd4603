#include <gtest/gtest.h>

#include "xml/xmlSimple.h"

namespace {

std::string ErrorOf(std::string_view text, bool stream = false) {
  try {
    IXmlDocument doc = new TXmlDocument();
    if (stream) {
      TStringStream s(text);
      doc->LoadFromStream(s);
    } else {
      doc->LoadFromString(text);
    }
  } catch (const Exception& e) {
    return e.Message();
  }
  return "no error";
}

IXmlDocument Load(std::string_view text, bool preserve = false) {
  IXmlDocument doc = new TXmlDocument();
  doc->SetPreserveWhiteSpace(preserve);
  TStringStream s(text);
  doc->LoadFromStream(s);
  return doc;
}

}  // namespace

TEST(Parser, EmptyAndSimpleElements) {
  for (const char* src : {"<a/>", "<a></a>", "<a   ></a  >"}) {
    IXmlDocument doc = Load(src);
    ASSERT_TRUE(doc->DocumentElement()) << src;
    EXPECT_EQ(doc->DocumentElement()->GetNodeName(), "a");
    EXPECT_FALSE(doc->DocumentElement()->HasChildNodes());
  }
  IXmlDocument two = Load("<a/><b/>");
  EXPECT_EQ(two->GetChildNodes()->GetCount(), 2);
  EXPECT_EQ(two->DocumentElement()->GetNodeName(), "a");
  IXmlDocument stray = Load("<a/></b>junk");
  EXPECT_EQ(stray->GetChildNodes()->GetCount(), 1);
  IXmlDocument doctype = Load("<!DOCTYPE a><a/>");
  EXPECT_EQ(doctype->GetChildNodes()->GetCount(), 1);
  EXPECT_EQ(doctype->DocumentElement()->GetNodeName(), "a");
}

TEST(Parser, ReferencesAndEncodings) {
  EXPECT_EQ(Load("<a>1 &lt; 2 &amp; &quot;&apos;&gt;</a>")->DocumentElement()->GetText(), "1 < 2 & \"'>");
  EXPECT_EQ(Load("<a>&#65;&#x42;&#x4a;&#321;</a>")->DocumentElement()->GetText(), "ABJ?");
  // A declaration without encoding switches to UTF-8.
  EXPECT_EQ(Load("<?xml version=\"1.0\"?><a>&#233;</a>")->DocumentElement()->GetText(), "\xE9");
  EXPECT_EQ(Load("<?xml version=\"1.0\"?><a>caf\xC3\xA9</a>")->DocumentElement()->GetText(), "caf\xE9");
  // A UTF-8 mark alone does not select UTF-8: the two bytes stay two characters.
  EXPECT_EQ(Load("\xEF\xBB\xBF<a>\xC3\xA9</a>")->DocumentElement()->GetText(), "\xC3\xA9");
  EXPECT_EQ(Load("<?xml version=\"1.0\" encoding=\"windows-1251\"?><a>\xC6</a>")
                ->DocumentElement()->GetText(),
            "?");  // Cyrillic Zhe has no ANSI form
  EXPECT_EQ(Load("<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><a>\xA4</a>")
                ->DocumentElement()->GetText(),
            "\x80");  // the euro sign
  EXPECT_EQ(Load("<?xml version=\"1.0\"?><a>\xF0\x9F\x98\x80</a>")->DocumentElement()->GetText(), "?");
}

// A character reference names a Unicode character; it becomes that character in
// the ANSI code page, or the page's default character, never a zero byte.
TEST(Parser, CharacterReferencesKeepEveryCharacter) {
  const std::pair<const char*, const char*> cases[] = {
      {"&#x20AC;", "\x80"},         // the euro sign
      {"&#233;&#xE9;", "\xE9\xE9"},  // e acute, decimal and hexadecimal
      {"&#x1F600;", "?"},            // beyond the page and beyond UTF-16's plane 0
      {"&#x3B1;", "?"},              // Greek alpha: not in the page
      {"&#0;", "?"},                 // no character at all
      {"&#xD800;", "?"},             // a lone surrogate
      {"&#99999999999999999999;", "?"},
  };
  for (const auto& [ref, text] : cases) {
    const std::string src = std::string("<a k=\"") + ref + "\">x" + ref + "y</a>";
    IXmlDocument doc = Load(src);
    EXPECT_EQ(doc->DocumentElement()->GetText(), std::string("x") + text + "y") << ref;
    EXPECT_EQ(doc->DocumentElement()->ReadStringAttr("k"), text) << ref;
  }
  EXPECT_EQ(Load("<a>&#x1F600;</a>")->GetXml(), "\r\n<a>?</a>");  // not <a/>
}

TEST(Parser, Utf8SequenceAcrossBlockBoundary) {
  // The two bytes of é straddle the first 16384-byte block after the declaration.
  const std::string decl = "<?xml version=\"1.0\"?>";
  std::string text = decl + "<a>" + std::string(16384 - 3 - 1, 'x') + "\xC3\xA9" + "</a>";
  std::string got = Load(text)->DocumentElement()->GetText();
  EXPECT_EQ(got.size(), 16384u - 3 - 1 + 1);
  EXPECT_EQ(got.back(), '\xE9');
}

TEST(Parser, UnicodeMarksAreRefused) {
  using namespace std::string_literals;
  for (const std::string& s : {"\xFF\xFE<\0a\0/\0>\0"s, "\xFE\xFF\0<\0a\0/\0>"s, "\0\0\xFE\xFF<a/>"s,
                               "\xFF\xFE\0\0<a/>"s})
    EXPECT_EQ(ErrorOf(s, true), "Unicode Encoding is not supported by xmlSimple");
  EXPECT_EQ(ErrorOf("<?xml version=\"1.0\" encoding=\"EBCDIC\"?><a/>"),
            "Encoding \"EBCDIC\" is not supported by xmlSimple");
}

TEST(Parser, ErrorMessagesWithPositions) {
  EXPECT_EQ(ErrorOf("<a>x</b>"), "Text \"a\" expected at [1:7]");
  EXPECT_EQ(ErrorOf("<a b=1/>"), "Line constant expected at [1:6]");
  EXPECT_EQ(ErrorOf("<a>&foo;</a>"), "Unknown XML entity symbol name \"foo\" found at [1:9]");
  EXPECT_EQ(ErrorOf("<1/>"), "Name must start with letter or \"_\" at [1:2]");
  EXPECT_EQ(ErrorOf("<a"), "Incomplete definition of the element");
  EXPECT_EQ(ErrorOf("<a*/>"), "Invalid symbol in the name of the element");
  EXPECT_EQ(ErrorOf("<a b"), "Character \"=\" expected at [1:4]");
  EXPECT_EQ(ErrorOf("<a b="), "The value of the attribute is expected at [1:5]");
  EXPECT_EQ(ErrorOf("<a b='<'/>"), "Character \"<\" cannot be used in the values of attributes at [1:7]");
  EXPECT_EQ(ErrorOf("<a b='x"), "\"'\" expected at [1:7]");
  EXPECT_EQ(ErrorOf("<a>&"), "\"#\" or XML entity symbol name expected at [1:4]");
  EXPECT_EQ(ErrorOf("<a>&#"), "Number expected at [1:5]");
  EXPECT_EQ(ErrorOf("<a>&#;"), "Number expected at [1:6]");
  EXPECT_EQ(ErrorOf("<a>&#xg;"), "Hexadecimal number expected at [1:7]");
  EXPECT_EQ(ErrorOf("<a>&#65x"), "Character \";\" expected at [1:8]");
  EXPECT_EQ(ErrorOf("<!-- never closed"), "\"-->\" expected at [1:17]");
  EXPECT_EQ(ErrorOf("<a/"), "Text \">\" expected at [1:3]");  // the rest from the mismatch
  EXPECT_EQ(ErrorOf("<![CDAT"), "Text \"A[\" expected at [1:7]");
  EXPECT_EQ(ErrorOf("<a>\r\n  <b>\n</c>"), "Text \"b\" expected at [3:3]");
  EXPECT_EQ(ErrorOf("<a>"), "Character \"/\" expected at [1:3]");
}

TEST(Parser, ErrorsKeepTheNodesReadSoFar) {
  IXmlDocument doc = new TXmlDocument();
  EXPECT_THROW(doc->LoadFromString("<r><a/><b x='1'/><c>&bad;</c></r>"), Exception);
  ASSERT_TRUE(doc->DocumentElement());
  EXPECT_EQ(doc->DocumentElement()->GetChildNodes()->GetCount(), 3);
}

TEST(Parser, AttributesCommentsCDATAAndInstructions) {
  IXmlDocument doc = Load("<a b='1' b='2' c=\"x&amp;y\" d=' sp '/>");
  IXmlElement a = doc->DocumentElement();
  EXPECT_EQ(a->GetAttrCount(), 3);
  EXPECT_EQ(a->ReadStringAttr("b"), "2");
  EXPECT_EQ(a->ReadStringAttr("c"), "x&y");
  EXPECT_EQ(a->ReadStringAttr("d"), " sp ");
  IXmlDocument c = Load("<a><!-- x -- y --><![CDATA[<raw> & ]]></a>");
  IXmlNodeList kids = c->DocumentElement()->GetChildNodes();
  c->SetPreserveWhiteSpace(true);
  EXPECT_EQ(kids->GetItem(0)->GetNodeType(), 5);
  EXPECT_EQ(kids->GetItem(0)->GetText(), " x -- y ");
  EXPECT_EQ(kids->GetItem(1)->GetText(), "<raw> & ");
  IXmlDocument pi = Load("<?php echo 1 ?><a:b.c-d/>");
  EXPECT_EQ(pi->GetChildNodes()->GetItem(0)->GetNodeName(), "php");
  EXPECT_EQ(pi->GetChildNodes()->GetItem(0)->GetText(), " echo 1 ");
  EXPECT_EQ(pi->DocumentElement()->GetNodeName(), "a:b.c-d");
}

TEST(Parser, WhitespaceRuns) {
  const char* src = "<a>\r\n <b/>\r\n</a>";
  EXPECT_EQ(Load(src)->DocumentElement()->GetChildNodes()->GetCount(), 1);
  IXmlDocument keep = Load(src, true);
  IXmlNodeList kids = keep->DocumentElement()->GetChildNodes();
  ASSERT_EQ(kids->GetCount(), 3);
  EXPECT_EQ(kids->GetItem(0)->GetText(), "\r\n ");
  EXPECT_EQ(kids->GetItem(1)->GetNodeName(), "b");
  EXPECT_EQ(kids->GetItem(2)->GetText(), "\r\n");
}

TEST(Parser, LoadReplacesContentButKeepsNames) {
  IXmlDocument doc = LoadXmlDocumentFromString("<first/>");
  TXmlNameId first = doc->GetNameTable()->GetID("first");
  doc->LoadFromString("<second/>");
  EXPECT_EQ(doc->GetChildNodes()->GetCount(), 1);
  EXPECT_EQ(doc->GetNameTable()->GetID("first"), first);
  EXPECT_EQ(doc->DocumentElement()->GetNodeName(), "second");
}

TEST(Parser, DeepNestingRaisesInsteadOfOverflowing) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  EXPECT_THROW(LoadXmlDocumentFromString(deep), Exception);
  std::string ok;
  for (int i = 0; i < 1000; ++i) ok += "<a>";  // the deepest nesting accepted
  for (int i = 0; i < 1000; ++i) ok += "</a>";
  EXPECT_TRUE(LoadXmlDocumentFromString(ok)->DocumentElement());
}

TEST(Parser, BinaryFormIsRecognisedByItsSignature) {
  // The signature leads to the binary reader, never to the text parser.
  for (bool stream : {true, false}) {
    std::string e = ErrorOf("< binary-xml >\x01\x02\x03", stream);
#ifdef PV7_XML_HAS_BINARY
    EXPECT_NE(e, "no error");
    EXPECT_EQ(e.find("Invalid symbol"), std::string::npos) << e;
#else
    EXPECT_EQ(e, "Binary XML is not supported yet");
#endif
  }
}
