// xmltool as a black box: real processes, real files.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/process.h"

namespace {

struct TResult {
  int status;
  std::string out;
};

// Runs xmltool with the arguments and, unless `input` is empty, a file holding it.
TResult RunTool(const std::string& args, const std::string& input) {
  std::string cmd = std::string(PV7_BIN_DIR) + "/xmltool " + args;
  if (!input.empty()) {
    // One input file per test: CTest runs the tests of this program in parallel.
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string in = ::testing::TempDir() + "/xmltool_" + info->name() + ".xml";
    std::ofstream(in, std::ios::binary) << input;
    cmd += " " + in;
  }
  cmd += " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  int status = pclose(p);
  return {WEXITSTATUS(status), out};
}

}  // namespace

TEST(XmlTool, CatFormatsAndReportsErrors) {
  TResult r = RunTool("cat", "<r><a>x</a></r>");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\r\n<r>\r\n\t<a>x</a>\r\n</r>");
  r = RunTool("cat --preserve-whitespace", "<r> <a>x</a></r>");
  EXPECT_EQ(r.out, "<r> <a>x</a></r>");
  r = RunTool("cat", "<a>x</b>");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Text \"a\" expected at [1:7]\n");
}

TEST(XmlTool, DumpPrintsTheTree) {
  TResult r = RunTool("dump", "<?xml version=\"1.0\"?><r k=\"v\\\"><!--c\t--><a>x\xC3\xA9</a><![CDATA[d]]><?p q?></r>");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "pi xml \"\" version=256:\"1.0\"\n"
            "element r k=256:\"v\\\\\"\n"
            "  comment \"c\"\n"
            "  element a\n"
            "    text 256:\"x\\xE9\"\n"
            "  cdata \"d\"\n"
            "  pi p \" q\"\n");
}

TEST(XmlTool, FoldersAndMissingFilesAreErrors) {
  for (const std::string command : {"cat", "dump", "tobin"}) {
    TResult r = RunTool(command + " /tmp", "");
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_EQ(r.out, "Cannot read \"/tmp\": it is a folder\n") << command;
    r = RunTool(command + " /nonexistent-file.xml", "");
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_EQ(r.out.rfind("Cannot open file \"/nonexistent-file.xml\".", 0), 0u) << r.out;
  }
}
