#include "host/switches.h"

#include <gtest/gtest.h>

namespace {

std::string Value(std::vector<std::string> args, const char* name) {
  SetProcessArguments(std::move(args));
  return GetCmdLineSwitchValue(name, "=", false, "-/", true);
}

int Int(std::vector<std::string> args, const char* name, int def) {
  SetProcessArguments(std::move(args));
  return GetSwitchInt(name, def);
}

}  // namespace

TEST(Switches, FormsAndLetterCase) {
  EXPECT_EQ(Value({"-drawPort=5000"}, "drawPort"), "5000");
  EXPECT_EQ(Value({"/DRAWPORT=5000"}, "drawPort"), "5000");
  EXPECT_EQ(Value({"drawPort=5000"}, "drawPort"), "5000");
  EXPECT_EQ(Value({"--drawPort=5000"}, "drawPort"), "");  // only one switch character is dropped
  EXPECT_EQ(Value({"drawPort = 5000"}, "drawPort"), "5000");
  EXPECT_EQ(Value({"-x=1", "-drawPort=5000", "-drawPort=6000"}, "drawPort"), "5000");
  EXPECT_EQ(Value({"-drawPort=a=b"}, "drawPort"), "a=b");
  EXPECT_EQ(Value({}, "drawPort"), "");
}

TEST(Switches, WithoutSeparatorTheValueIsTheWholeArgument) {
  EXPECT_EQ(Value({"-drawPort"}, "drawPort"), "-drawPort");
  EXPECT_EQ(Int({"-drawPort"}, "drawPort", -1), -1);
}

TEST(Switches, CaseSensitiveFlagStillMatchesAnyCase) {
  SetProcessArguments({"-DrawPort=7"});
  EXPECT_EQ(GetCmdLineSwitchValue("drawport", "=", true, "-/", true), "7");
}

TEST(Switches, NumbersWithDefaults) {
  EXPECT_EQ(Int({}, "drawPort", -1), -1);
  EXPECT_EQ(Int({"-showSelf=2"}, "showSelf", 1), 2);
  EXPECT_EQ(Int({"-showSelf=abc"}, "showSelf", 1), 1);
  EXPECT_EQ(Int({"-showSelf="}, "showSelf", 1), 1);
  EXPECT_EQ(Int({"-parentID=-12"}, "parentID", 0), -12);
  EXPECT_EQ(Int({"-parentID=99999999999"}, "parentID", 0), 0);
  EXPECT_EQ(Int({"-parentID=12x"}, "parentID", 0), 0);
}
