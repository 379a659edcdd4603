#include <gtest/gtest.h>

#include <map>

#include "xml/xmlSimple.h"

TEST(Model, NameTableHashAndIdentity) {
  EXPECT_EQ(TXmlNameTable::NameHash("abc"), 407846u);
  IXmlNameTable t = new TXmlNameTable(499);
  EXPECT_EQ(t->GetID(""), nullptr);
  TXmlNameId a = t->GetID("abc");
  EXPECT_EQ(t->GetID(std::string("ab") + "c"), a);
  EXPECT_EQ(*a, "abc");
  EXPECT_EQ(t->FindByHash(407846), a);
  EXPECT_EQ(*t->TextName(), "#text");
  EXPECT_EQ(*t->EncodingName(), "encoding");
}

TEST(Model, NamesWithTheSameHashStayDistinct) {
  // With one bucket everything collides; two names of equal hash still differ.
  IXmlNameTable t = new TXmlNameTable(1);
  std::string first, second;
  std::map<uint32_t, std::string> seen;
  const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (char a : letters)
    for (char b : letters)
      for (char c : letters) {
        std::string name{a, b, c};
        auto [it, fresh] = seen.emplace(TXmlNameTable::NameHash(name), name);
        if (!fresh && second.empty()) {
          first = it->second;
          second = name;
        }
      }
  ASSERT_FALSE(second.empty());
  TXmlNameId x = t->GetID(first), y = t->GetID(second);
  EXPECT_NE(x, y);
  EXPECT_EQ(t->GetID(first), x);
  EXPECT_EQ(t->GetID(second), y);
}

TEST(Model, EmptyDocumentAndFindOrAppendChild) {
  IXmlDocument doc = LoadXmlDocumentFromString("");
  EXPECT_EQ(doc->ChildrenOrNull() ? doc->ChildrenOrNull()->GetCount() : 0, 0);
  EXPECT_FALSE(doc->DocumentElement());
  IXmlDocument d2 = LoadXmlDocumentFromString("<r/>");
  IXmlNode x = d2->DocumentElement()->FindOrAppendChild("X");
  EXPECT_EQ(x->GetNodeName(), "X");
  EXPECT_EQ(x->GetText(), "");
  EXPECT_EQ(d2->DocumentElement()->FindOrAppendChild("X"), x);  // found the second time
  EXPECT_EQ(d2->DocumentElement()->GetXml(), "\r\n<r>\r\n\t<X/>\r\n</r>");
}

TEST(Model, ElementTextJoinsTextAndCDATA) {
  const char* src = "<a> x <![CDATA[ y ]]>z</a>";
  IXmlDocument doc = LoadXmlDocumentFromString(src);
  EXPECT_EQ(doc->DocumentElement()->GetText(), "x y z");
  IXmlDocument keep = new TXmlDocument();
  keep->SetPreserveWhiteSpace(true);
  keep->LoadFromString(src);
  EXPECT_EQ(keep->DocumentElement()->GetText(), " x   y  z");
  IXmlDocument comment = LoadXmlDocumentFromString("<a><!--c--></a>");
  EXPECT_EQ(comment->DocumentElement()->GetText(), "");
}

TEST(Model, ValueHiddenWhileChildrenExist) {
  IXmlDocument doc = new TXmlDocument();
  IXmlElement e = doc->AppendElement("e");
  e->SetValue(TXmlVariant::Integer(42));
  EXPECT_EQ(e->GetDataType(), 3);
  EXPECT_EQ(e->GetText(), "42");
  e->AppendElement("c");
  EXPECT_EQ(e->GetDataType(), 256);
  EXPECT_EQ(e->GetText(), "");
  e->RemoveAllChildren();
  EXPECT_EQ(e->GetText(), "42");
  e->SetText("t");
  EXPECT_EQ(e->GetValue().Type(), 256);
}

TEST(Model, AttributesKeepOrderAndTypes) {
  IXmlDocument doc = LoadXmlDocumentFromString("<a x='1' y='2'/>");
  IXmlElement a = doc->DocumentElement();
  a->WriteIntegerAttr("n", 5);
  EXPECT_EQ(a->GetAttrType("n"), 3);
  EXPECT_EQ(a->GetAttrType("missing"), 256);
  a->WriteStringAttr("x", "9");  // replaced in place
  EXPECT_EQ(a->GetAttrName(0), "x");
  EXPECT_EQ(a->ReadStringAttr("x"), "9");
  a->RemoveAttr("x");
  EXPECT_EQ(a->GetAttrName(0), "y");
  EXPECT_EQ(a->ReadIntegerAttr("y"), 2);
  EXPECT_EQ(a->ReadIntegerAttr("none", 7), 7);
  a->WriteStringAttr("h", "$1F");
  EXPECT_EQ(a->ReadIntegerAttr("h"), 31);
  a->WriteStringAttr("bad", "1x");
  EXPECT_THROW(a->ReadIntegerAttr("bad"), EConvertError);
  try {
    a->RequireAttr("zz");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Attribute \"zz\" not assigned");
  }
  // Saved as text and read back, the integer is a string that still reads as 5.
  IXmlDocument again = LoadXmlDocumentFromString(doc->GetXml());
  EXPECT_EQ(again->DocumentElement()->GetAttrType("n"), 256);
  EXPECT_EQ(again->DocumentElement()->ReadIntegerAttr("n", 0), 5);
}

TEST(Model, ChildOperations) {
  IXmlDocument doc = LoadXmlDocumentFromString("<r><a/><b/><c/></r>");
  IXmlElement r = doc->DocumentElement();
  IXmlNodeList kids = r->GetChildNodes();
  IXmlNode a = kids->GetItem(0), b = kids->GetItem(1), c = kids->GetItem(2);
  EXPECT_EQ(r->RemoveChild(b), 1);
  EXPECT_FALSE(b->GetParentNode());
  EXPECT_EQ(r->RemoveChild(b), -1);
  IXmlElement orphan = doc->CreateElement("x");
  r->InsertBefore(orphan, b);  // b is no child: appended at the end
  EXPECT_EQ(kids->GetItem(2), IXmlNode(orphan));
  r->ExchangeChildren(a, c);
  EXPECT_EQ(kids->GetItem(0), c);
  r->ReplaceChild(b, c);
  EXPECT_EQ(kids->GetItem(0), b);
  EXPECT_FALSE(c->GetParentNode());
  try {
    kids->GetItem(5);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Failed to get list item: Index 5 out of range");
  }
  try {
    r->RequireChild("nope");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Error: Child node \"nope\" not found");
  }
}

TEST(Model, AppendingANodeOfAnotherDocumentAppendsACopy) {
  IXmlDocument one = LoadXmlDocumentFromString("<r><item k='v'><sub/></item></r>");
  IXmlDocument two = LoadXmlDocumentFromString("<other/>");
  IXmlNode item = one->DocumentElement()->GetChildNodes()->GetItem(0);
  two->DocumentElement()->AppendChild(item);
  EXPECT_EQ(item->GetParentNode().get(), one->DocumentElement().get());  // stayed
  IXmlNode copy = two->DocumentElement()->GetChildNodes()->GetItem(0);
  EXPECT_NE(copy, item);
  EXPECT_EQ(copy->GetNameTable(), two->GetNameTable());
  EXPECT_EQ(copy->GetNodeNameID(), two->GetNameTable()->GetID("item"));
  EXPECT_EQ(copy->ReadStringAttr("k"), "v");
  EXPECT_EQ(copy->GetChildNodes()->GetItem(0)->GetNodeNameID(), two->GetNameTable()->GetID("sub"));
}

TEST(Model, CloneKeepsValuesAndNotTheParent) {
  IXmlDocument doc = LoadXmlDocumentFromString("<r a='1'><b>t</b><?pi data?></r>");
  doc->SetPreserveWhiteSpace(true);
  IXmlNode shallow = doc->DocumentElement()->CloneNode(false);
  EXPECT_FALSE(shallow->HasChildNodes());
  EXPECT_EQ(shallow->ReadStringAttr("a"), "1");
  IXmlNode deep = doc->DocumentElement()->CloneNode(true);
  EXPECT_FALSE(deep->GetParentNode());
  EXPECT_EQ(deep->GetChildNodes()->GetCount(), 2);
  IXmlNode docCopy = doc->CloneNode(true);
  EXPECT_EQ(docCopy->GetNameTable(), doc->GetNameTable());
  EXPECT_FALSE(docCopy->GetOwnerDocument()->GetPreserveWhiteSpace());
}

TEST(Model, FormatValueOfEveryType) {
  EXPECT_EQ(FormatValue(TXmlVariant::Null()), "{{null}}");
  EXPECT_EQ(FormatValue(TXmlVariant::Double(1.5)), "1.50000000000000E+0000");
  EXPECT_EQ(FormatValue(TXmlVariant::Double(-0.00025)), "-2.50000000000000E-0004");
  EXPECT_EQ(FormatValue(TXmlVariant::Double(1.0 / 0.0)), "Inf");
  EXPECT_EQ(FormatValue(TXmlVariant::Double(-1.0 / 0.0)), "-Inf");
  EXPECT_EQ(FormatValue(TXmlVariant::Double(0.0 / 0.0)), "Nan");
  EXPECT_EQ(FormatValue(TXmlVariant::Currency(15000)), "1.50000000000000E+0000");
  // 6 May 2024 10:20:30.5 is day 45418 plus the time.
  EXPECT_EQ(FormatValue(TXmlVariant::DateTime(45418 + (10 * 3600 + 20 * 60 + 30.5) / 86400.0)),
            "2024-05-06T10:20:30");
  EXPECT_EQ(FormatValue(TXmlVariant::DateTime(0)), "1899-12-30T00:00:00");
  EXPECT_EQ(FormatValue(TXmlVariant::Boolean(true)), "1");
  EXPECT_EQ(FormatValue(TXmlVariant::Boolean(false)), "0");
  EXPECT_EQ(FormatValue(TXmlVariant::Int(varByte, 300)), "44");
  EXPECT_EQ(FormatValue(TXmlVariant::Int(varInt64, -5000000000)), "-5000000000");
  EXPECT_EQ(FormatValue(TXmlVariant::Wide(u"\u00E9\u0416")), "\xE9?");
  EXPECT_EQ(FormatValue(TXmlVariant::Bytes("abcd")), "YWJjZA==");
  EXPECT_EQ(FormatValue(TXmlVariant()), "");
}

TEST(Model, NewDocumentBuildsDeclarationAndRoot) {
  IXmlDocument doc = new TXmlDocument();
  doc->AppendElement("old");
  IXmlElement root = doc->NewDocument("", "", "root");
  ASSERT_EQ(doc->GetChildNodes()->GetCount(), 2);
  IXmlNode decl = doc->GetChildNodes()->GetItem(0);
  EXPECT_EQ(decl->GetNodeType(), 4);
  EXPECT_EQ(decl->ReadStringAttr("version"), "1.0");
  EXPECT_EQ(decl->ReadStringAttr("encoding"), "UTF-8");
  EXPECT_EQ(doc->DocumentElement(), root);
  EXPECT_EQ(root->GetOwnerDocument(), doc);
}

TEST(Model, ParseEventsSeeElementsInOrder) {
  IXmlDocument doc = new TXmlDocument();
  std::vector<std::string> seen;
  doc->SetOnTagBegin([&](const IXmlNodeList&, const IXmlElement& e) {
    seen.push_back("begin " + e->GetNodeName() + " attrs=" + std::to_string(e->GetAttrCount()) +
                   " kids=" + std::to_string(e->HasChildNodes()));
  });
  doc->SetOnTagEnd([&](const IXmlNodeList& list, const IXmlElement& e) {
    seen.push_back("end " + e->GetNodeName() + " kids=" + std::to_string(e->HasChildNodes()) +
                   " in=" + std::to_string(list->GetCount()));
  });
  doc->LoadFromString("<a x='1'><b/></a>");
  EXPECT_EQ(seen, (std::vector<std::string>{"begin a attrs=1 kids=0", "begin b attrs=0 kids=0",
                                            "end b kids=0 in=1", "end a kids=1 in=1"}));
}
