// xmltool tobin: text and binary input, options word, errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/xmltool_tobin.h"
#include "xml/xmlSimple.h"

namespace {

struct TRun {
  int status;
  std::string out, err;
};

std::string Slurp(std::FILE* f) {
  std::string s;
  std::rewind(f);
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

TRun ToBin(std::vector<std::string> args) {
  args.insert(args.begin(), "tobin");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  TRun r;
  r.status = RunToBin(int(argv.size()), argv.data(), out, err);
  r.out = Slurp(out);
  r.err = Slurp(err);
  return r;
}

std::string TempFile(const std::string& name, const std::string& bytes) {
  std::string path = testing::TempDir() + "xmlbin_tobin_" + name;
  TFileStream f(path, TFileMode::fmCreate);
  f.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  return path;
}

}  // namespace

TEST(ToBin, TextAndBinaryInputGiveTheSameForm) {
  const std::string text = "<?xml version=\"1.0\"?><a x=\"1\"><b>t</b><!--c--></a>";
  TRun fromText = ToBin({TempFile("t.xml", text)});
  ASSERT_EQ(fromText.status, 0) << fromText.err;
  EXPECT_EQ(fromText.out.substr(0, 14), "< binary-xml >");
  EXPECT_EQ(fromText.out, LoadXmlDocumentFromString(text)->GetBinaryXml());
  TRun fromBinary = ToBin({TempFile("t.bin", fromText.out)});
  ASSERT_EQ(fromBinary.status, 0) << fromBinary.err;
  EXPECT_EQ(fromBinary.out, fromText.out);

  TRun utf16 = ToBin({"--options", "0x10001", TempFile("t.xml", text)});
  ASSERT_EQ(utf16.status, 0) << utf16.err;
  EXPECT_EQ(utf16.out.substr(14, 4), std::string("\x01\x00\x01\x00", 4));
  IXmlDocument back = LoadXmlDocumentFromString(utf16.out);
  EXPECT_EQ(back->DocumentElement()->ReadChildText("b", "?"), "t");
}

TEST(ToBin, Errors) {
  TRun bad = ToBin({TempFile("bad.xml", "<a><b></a>")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_TRUE(bad.out.empty());
  EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;

  TRun cut = ToBin({TempFile("cut.bin", LoadXmlDocumentFromString("<a><b/></a>")->GetBinaryXml().substr(0, 60))});
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.err, "Error reading data\n");

  EXPECT_EQ(ToBin({"--options"}).status, 1);
  EXPECT_EQ(ToBin({"--options", "-1"}).status, 1);
  EXPECT_EQ(ToBin({"--options", "4294967296"}).status, 1);
  EXPECT_EQ(ToBin({"--bogus"}).status, 1);
  EXPECT_EQ(ToBin({"a", "b"}).status, 1);
  EXPECT_EQ(ToBin({testing::TempDir() + "xmlbin_tobin_missing"}).status, 1);
}
