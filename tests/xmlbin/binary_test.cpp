// The binary form: byte layout, compact integers, round trips, bad input.
#include <gtest/gtest.h>

#include "xml/xmlBinary.h"
#include "xml/xmlSimple.h"

namespace {

std::string Compact(int32_t v) {
  xmlbin::TStrXmlWriter w;
  w.WriteCompact(v);
  return w.Finish();
}

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "no exception";
}

IXmlDocument Doc() { return IXmlDocument(new TXmlDocument()); }

TEST(BinaryCodec, CompactIntegers) {
  EXPECT_EQ(Compact(127), std::string("\x7F", 1));
  EXPECT_EQ(Compact(128), std::string("\x80\x80", 2));
  EXPECT_EQ(Compact(300), std::string("\x81\x2C", 2));
  EXPECT_EQ(Compact(32511), std::string("\xFE\xFF", 2));
  EXPECT_EQ(Compact(32512), std::string("\xFF\x00\x7F\x00\x00", 5));
  EXPECT_EQ(Compact(-1), std::string("\xFF\xFF\xFF\xFF\xFF", 5));
  for (int32_t v : {0, 1, 127, 128, 300, 32511, 32512, -1, INT32_MIN, INT32_MAX}) {
    std::string bytes = Compact(v);
    xmlbin::TStrXmlReader r(bytes);
    EXPECT_EQ(r.ReadCompact(), v);
    EXPECT_EQ(r.Remaining(), 0u);
  }
}

TEST(BinaryLayout, EmptyDocumentWithOptionsZero) {
  IXmlDocument doc = Doc();
  TStringStream out;
  doc->SaveBinaryToStream(out, 0);
  std::string bytes = out.DataString();
  std::string expect = "< binary-xml >";
  expect += std::string(4, '\0');
  expect += '\x06';
  std::string names;
  const TXmlNameTable& t = *doc->Names();
  for (int b = 0; b < t.BucketCount(); ++b)
    for (auto& e : t.Bucket(b)) names += char(e.name->size()) + *e.name;
  expect += names;
  expect += std::string("\0\0", 2);
  EXPECT_EQ(bytes, expect);
  EXPECT_EQ(doc->GetBinaryXml(), expect);
  // Every one of the six predefined names is in the section.
  for (TXmlNameId id : {t.TextName(), t.CDATAName(), t.CommentName(), t.DocumentName(),
                        t.XmlName(), t.EncodingName()})
    EXPECT_NE(names.find(*id), std::string::npos) << *id;
}

IXmlDocument Rich() {
  IXmlDocument doc = Doc();
  doc->AppendProcessingInstruction("xml-stylesheet", "href=\"a.css\"");
  doc->AppendComment("top \xE9");
  IXmlElement root = doc->AppendElement("root");
  root->WriteVariantAttr("i2", TXmlVariant::Int(varSmallint, -2));
  root->WriteVariantAttr("i3", TXmlVariant::Integer(-70000));
  root->WriteVariantAttr("f4", TXmlVariant::Float(varSingle, 1.5));
  root->WriteVariantAttr("f5", TXmlVariant::Double(-2.25));
  root->WriteVariantAttr("cy", TXmlVariant::Currency(123456));
  root->WriteVariantAttr("dt", TXmlVariant::DateTime(45000.5));
  root->WriteVariantAttr("w", TXmlVariant::Wide(u"wide \u00e9"));
  root->WriteVariantAttr("b", TXmlVariant::Boolean(true));
  root->WriteVariantAttr("i16", TXmlVariant::Int(varShortInt, -5));
  root->WriteVariantAttr("i17", TXmlVariant::Int(varByte, 200));
  root->WriteVariantAttr("i18", TXmlVariant::Int(varWord, 60000));
  root->WriteVariantAttr("i19", TXmlVariant::Int(varLongWord, 4000000000LL));
  root->WriteVariantAttr("i20", TXmlVariant::Int(varInt64, -5000000000LL));
  root->WriteVariantAttr("s", TXmlVariant::Ansi("caf\xE9 & <x>"));
  root->WriteVariantAttr("ba", TXmlVariant::Bytes(std::string("\0\x01\xFF", 3)));
  root->WriteVariantAttr("nul", TXmlVariant::Null());
  IXmlElement leaf = root->AppendElement("leaf");
  leaf->SetValue(TXmlVariant::Integer(42));
  root->AppendText("some text");
  root->AppendCDATA("raw <data> \xE9");
  root->AppendComment("note");
  IXmlElement inner = root->AppendElement("inner");
  inner->AppendProcessingInstruction("pi", "data");
  inner->AppendElement("empty");
  return doc;
}

TEST(BinaryRoundTrip, EveryNodeKindAndValueTypeWithBothOptions) {
  IXmlDocument src = Rich();
  const std::string text = src->GetXml();
  for (int options : {0, 1}) {
    TStringStream out;
    src->SaveBinaryToStream(out, options);
    IXmlDocument back = Doc();
    TStringStream in(out.DataString());
    back->LoadFromStream(in);
    EXPECT_EQ(back->GetXml(), text) << "options " << options;
    IXmlElement root = back->DocumentElement();
    ASSERT_TRUE(root);
    // Typed values keep their types.
    for (int i = 0; i < src->DocumentElement()->GetAttrCount(); ++i) {
      const TXmlAttrData& a = src->DocumentElement()->GetAttr(i);
      EXPECT_EQ(root->GetAttrType(*a.name), a.value.Type()) << *a.name;
    }
    EXPECT_EQ(root->ReadVariantAttr("i20").AsInt64Raw(), -5000000000LL);
    EXPECT_EQ(root->ReadVariantAttr("ba").AsStringRaw(), std::string("\0\x01\xFF", 3));
    EXPECT_EQ(root->ReadVariantAttr("w").AsWideRaw(), u"wide \u00e9");
    EXPECT_EQ(root->ReadVariantAttr("f4").AsDoubleRaw(), 1.5);
    EXPECT_EQ(root->ReadVariantAttr("dt").AsDoubleRaw(), 45000.5);
    EXPECT_EQ(root->SelectElement("leaf")->GetDataType(), varInteger);
    // Predefined identities survive the name table being refilled.
    ASSERT_GE(root->ChildrenOrNull()->GetCount(), 3);
    EXPECT_EQ(root->ChildrenOrNull()->Item(1)->GetNodeName(), "#text");
    EXPECT_EQ(back->GetNodeName(), "#document");
  }
}

TEST(BinaryRoundTrip, IntegerAttrTypeThroughBinaryAndText) {
  IXmlDocument doc = Doc();
  doc->AppendElement("a")->WriteIntegerAttr("n", 7);
  IXmlDocument bin = Doc();
  bin->LoadFromString(doc->GetBinaryXml());
  EXPECT_EQ(bin->DocumentElement()->GetAttrType("n"), varInteger);
  EXPECT_EQ(bin->DocumentElement()->ReadIntegerAttr("n"), 7);
  IXmlDocument txt = Doc();
  txt->LoadFromString(doc->GetXml());
  EXPECT_EQ(txt->DocumentElement()->GetAttrType("n"), varString);
}

TEST(BinaryRoundTrip, Utf16OptionStoresCommentAsUnitsAndAnsiValueAsUtf8) {
  IXmlDocument doc = Doc();
  doc->AppendComment("\xE9");
  doc->WriteVariantAttr("s", TXmlVariant::Ansi("\xE9"));
  TStringStream out;
  doc->SaveBinaryToStream(out, 1);
  const std::string bytes = out.DataString();
  EXPECT_NE(bytes.find(std::string("\x05\x01\xE9\x00", 4)), std::string::npos);
  EXPECT_NE(bytes.find(std::string("\x81\x00\x02\xC3\xA9", 5)), std::string::npos);  // 256, 2 bytes
}

TEST(BinaryRoundTrip, TextLoadAfterBinaryLoadStillKnowsTheDeclaration) {
  IXmlDocument doc = Doc();
  doc->LoadFromString(Rich()->GetBinaryXml());
  doc->LoadFromString("<?xml version=\"1.0\" encoding=\"windows-1252\"?><r a=\"\xE9\"/>");
  EXPECT_EQ(doc->DocumentElement()->ReadStringAttr("a"), "\xE9");
  EXPECT_EQ(doc->ChildrenOrNull()->Item(0)->GetNodeType(), 4);
}

TEST(BinaryLoad, SignatureAloneIsText) {
  IXmlDocument doc = Doc();
  TStringStream in("< binary-xml >");
  EXPECT_NE(Message([&] { doc->LoadFromStream(in); }), "Error reading data");
}

TEST(BinaryLoad, TruncatedFileKeepsNodesReadSoFar) {
  IXmlDocument src = Doc();
  IXmlElement root = src->AppendElement("root");
  for (int i = 0; i < 5; ++i) root->AppendElement("c")->WriteIntegerAttr("i", i);
  std::string bytes = src->GetBinaryXml();
  for (size_t cut = 15; cut < bytes.size(); ++cut) {
    IXmlDocument doc = Doc();
    TStringStream in(bytes.substr(0, cut));
    EXPECT_EQ(Message([&] { doc->LoadFromStream(in); }), "Error reading data") << cut;
  }
  IXmlDocument doc = Doc();
  TStringStream in(bytes.substr(0, bytes.size() - 4));
  EXPECT_EQ(Message([&] { doc->LoadFromStream(in); }), "Error reading data");
  ASSERT_TRUE(doc->DocumentElement());
  EXPECT_EQ(doc->DocumentElement()->ChildrenOrNull()->GetCount(), 5);
  EXPECT_EQ(doc->DocumentElement()->SelectElement("c")->ReadIntegerAttr("i"), 0);
}

TEST(BinaryLoad, BadInputMessages) {
  const std::string head = std::string("< binary-xml >") + std::string(4, '\0') + '\0';
  IXmlDocument doc = Doc();
  // Node type 9.
  EXPECT_EQ(Message([&] { doc->LoadFromString(head + std::string("\0\x01\x09\0", 4)); }),
            "Error reading binary XML: incorrect node-type");
  // A text child with type code 99.
  EXPECT_EQ(Message([&] { doc->LoadFromString(head + std::string("\0\x01\x02\x63", 4)); }),
            "Error reading value: incorrect type");
  // Huge counts in a tiny file: no giant allocation, a plain read error.
  EXPECT_EQ(Message([&] { doc->LoadFromString(head + std::string("\xFF\xFF\xFF\xFF\x7F", 5)); }),
            "Error reading data");
  EXPECT_EQ(Message([&] { doc->LoadFromString(head + std::string("\0\x01\x03\xFF\xFF\xFF\xFF\x7F", 8)); }),
            "Error reading data");
  std::string names = std::string("< binary-xml >") + std::string(4, '\0') + "\xFF\x00\x00\x00\x10";
  EXPECT_EQ(Message([&] { doc->LoadFromString(names); }), "Error reading data");
  // Negative count.
  EXPECT_EQ(Message([&] { doc->LoadFromString(head + std::string("\xFF\xFF\xFF\xFF\xFF", 5)); }),
            "Error reading data");
}

TEST(BinaryLoad, DeepNestingIsRefused) {
  // Document: no names, no attributes, one child; each level: an element with
  // hash 0, the empty value, no attributes, one child.
  std::string bytes = std::string("< binary-xml >") + std::string(4, '\0') + std::string("\0\0\x01", 3);
  for (int i = 0; i < 100000; ++i) bytes += std::string("\x01\x00\x00\x00\x01", 5);
  IXmlDocument doc = Doc();
  EXPECT_EQ(Message([&] { doc->LoadFromString(bytes); }),
            "Error reading binary XML: elements nested too deeply");
}

TEST(BinarySave, UnknownValueTypeAndBadChild) {
  IXmlDocument doc = Doc();
  EXPECT_EQ(Message([&] {
              xmlbin::TStrXmlWriter w;
              w.WriteValue(TXmlVariant::Int(uint16_t(14), 1));
            }),
            "Unknown data type in variant");
}

TEST(BinaryLoad, StreamReaderAcrossBufferBoundaries) {
  IXmlDocument src = Doc();
  IXmlElement root = src->AppendElement("root");
  std::string big(200000, 'x');
  for (int i = 0; i < 40; ++i) root->AppendElement("e")->WriteStringAttr("v", std::to_string(i).append(big, 0, size_t(i) * 3000));
  root->AppendCDATA(big);
  TStringStream out;
  src->SaveBinaryToStream(out, 1);
  IXmlDocument back = Doc();
  TStringStream in(out.DataString());
  back->LoadFromStream(in);
  EXPECT_EQ(back->GetXml(), src->GetXml());
}

}  // namespace
