// The language list, the flags and the user agent override, from given environments.
#include <gtest/gtest.h>

#include <map>

#include "identity.h"

using namespace cefeng;

namespace {

EnvFn Env(std::map<std::string, std::string> vars) {
  return [vars](const char* name) {
    auto it = vars.find(name);
    return it == vars.end() ? std::string() : it->second;
  };
}

std::vector<std::string> L(std::initializer_list<const char*> tags) {
  return std::vector<std::string>(tags.begin(), tags.end());
}

}  // namespace

TEST(IdentityLanguage, PosixLocaleNamesBecomeLanguageTags) {
  EXPECT_EQ(LanguageTag("de_DE.UTF-8"), "de-DE");
  EXPECT_EQ(LanguageTag("fr_CA.ISO-8859-1@euro"), "fr-CA");
  EXPECT_EQ(LanguageTag("pt"), "pt");
  EXPECT_EQ(LanguageTag("EN-gb"), "en-GB");
  EXPECT_EQ(LanguageTag("sr_RS@latin"), "sr-RS");
  EXPECT_EQ(LanguageTag("de_D1"), "de");  // no region of two letters
  for (const char* none : {"C", "C.UTF-8", "POSIX", "", "x", "1234_56", "d\"e_DE"})
    EXPECT_EQ(LanguageTag(none), "") << none;
}

TEST(IdentityLanguage, EnvironmentInGettextOrderAndTheSettingWins) {
  EXPECT_EQ(LanguageList("", Env({{"LANG", "de_DE.UTF-8"}})), L({"de-DE", "de"}));
  EXPECT_EQ(LanguageList("", Env({{"LANG", "de_DE.UTF-8"}, {"LC_MESSAGES", "it_IT.UTF-8"}})),
            L({"it-IT", "it"}));
  EXPECT_EQ(LanguageList("", Env({{"LC_ALL", "sv_SE"}, {"LC_MESSAGES", "it_IT"}, {"LANG", "de_DE"}})),
            L({"sv-SE", "sv"}));
  EXPECT_EQ(LanguageList("", Env({{"LANGUAGE", "fr_CH:de:fr_FR"}, {"LANG", "de_DE.UTF-8"}})),
            L({"fr-CH", "fr", "de", "fr-FR"}));
  // LANGUAGE counts only when the locale names a language.
  EXPECT_EQ(LanguageList("", Env({{"LANGUAGE", "fr"}, {"LANG", "C.UTF-8"}})), L({"en-US", "en"}));
  EXPECT_EQ(LanguageList("", Env({{"LANGUAGE", "fr"}})), L({"en-US", "en"}));
  EXPECT_EQ(LanguageList("", Env({})), L({"en-US", "en"}));
  // The engine's `locale` setting wins over the environment.
  EXPECT_EQ(LanguageList("pl-PL", Env({{"LANG", "de_DE.UTF-8"}})), L({"pl-PL", "pl"}));
  EXPECT_EQ(LanguageList("C", Env({{"LANG", "de_DE.UTF-8"}})), L({"de-DE", "de"}));
}

TEST(IdentityFlags, AutomationHiddenSoundUnlessMutedAndTheLanguageList) {
  auto flags = IdentityFlags("", Env({{"LANG", "nb_NO.UTF-8"}}));
  EXPECT_EQ(flags, L({"--disable-blink-features=AutomationControlled",
                      "--autoplay-policy=no-user-gesture-required", "--accept-lang=nb-NO,nb"}));
  flags = IdentityFlags("es", Env({{"PV7_MUTE", "1"}}));
  EXPECT_EQ(flags, L({"--disable-blink-features=AutomationControlled", "--mute-audio",
                      "--accept-lang=es"}));
}

TEST(IdentityUserAgent, HeadlessMarkGoesAndTheClientHintsAreChromiumsOwn) {
  const std::string headless =
      "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
      "HeadlessChrome/156.0.0.0 Safari/537.36";
  const std::string ordinary =
      "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
      "Chrome/156.0.0.0 Safari/537.36";
  EXPECT_EQ(OrdinaryUserAgent(headless), ordinary);
  EXPECT_EQ(OrdinaryUserAgent(ordinary), ordinary);

  json hints = {{"brands", {{{"brand", "Chromium"}, {"version", "156"}}}},
                {"fullVersionList", {{{"brand", "Chromium"}, {"version", "156.0.8078.129"}}}},
                {"platform", "Linux"}, {"architecture", "x86"}, {"bitness", "64"},
                {"mobile", false}, {"uaFullVersion", "156.0.8078.129"}};
  json o = UserAgentOverride(headless, hints);
  ASSERT_TRUE(o.is_object());
  EXPECT_EQ(o["userAgent"], ordinary);
  EXPECT_EQ(o["userAgentMetadata"]["brands"], hints["brands"]);
  EXPECT_EQ(o["userAgentMetadata"]["fullVersionList"], hints["fullVersionList"]);
  EXPECT_EQ(o["userAgentMetadata"]["platform"], "Linux");
  EXPECT_EQ(o["userAgentMetadata"]["model"], "");  // required by the command
  EXPECT_FALSE(o["userAgentMetadata"].contains("uaFullVersion"));  // not a metadata field
  // Without Chromium's hints nothing is overridden: an agent without metadata would
  // drop the client hints.
  EXPECT_TRUE(UserAgentOverride(headless, nullptr).is_null());
  EXPECT_TRUE(UserAgentOverride(headless, json{{"platform", "Linux"}}).is_null());

  // The headless shell: its full version and its own brand are not shown.
  const std::string shell =
      "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
      "HeadlessChrome/156.0.8078.129 Safari/537.36";
  EXPECT_EQ(OrdinaryUserAgent(shell), ordinary);
  json shellHints = hints;
  shellHints["brands"].push_back({{"brand", "HeadlessChrome"}, {"version", "156"}});
  shellHints["fullVersionList"].push_back({{"brand", "HeadlessChrome"}, {"version", "156.0.8078.129"}});
  o = UserAgentOverride(shell, shellHints);
  ASSERT_TRUE(o.is_object());
  EXPECT_EQ(o["userAgent"], ordinary);
  EXPECT_EQ(o["userAgentMetadata"]["brands"], hints["brands"]);
  EXPECT_EQ(o["userAgentMetadata"]["fullVersionList"], hints["fullVersionList"]);
}
