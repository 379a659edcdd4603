// A client of the engine library that sets the engine's `locale` setting: its pages
// get that language, whatever the locale environment says.
#include <gtest/gtest.h>

#include <cstdlib>

#include "http_server.h"
#include "test_client.h"

using namespace pv7test;

TEST(IdentityLocale, TheEnginesLocaleSettingWinsOverTheEnvironment) {
  // Before any thread exists: Chromium inherits it.
  setenv("LANG", "de_DE.UTF-8", 1);
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) unsetenv(name);
  cef_main_args_t args{0, nullptr};
  cef_settings_t settings{};
  settings.size = sizeof settings;
  const std::u16string locale = u"fr-CH";
  settings.locale = View(locale);
  ASSERT_EQ(cef_initialize(&args, &settings, nullptr, nullptr), 1);

  HttpServer server;
  server.Serve("/langs", "<script>console.log('langs ' + navigator.languages.join(' '))</script>");
  TestClient client;
  cef_window_info_t wi{};
  wi.windowless_rendering_enabled = 1;
  cef_browser_settings_t bs{};
  bs.size = sizeof bs;
  const std::u16string url = W(server.Url("/langs"));
  cef_string_t u = View(url);
  cef_browser_t* browser = cef_browser_host_create_browser_sync(&wi, client.Client(), &u, &bs, nullptr);
  ASSERT_NE(browser, nullptr);
  std::string seen;
  EXPECT_TRUE(PumpUntil([&] {
    std::lock_guard<std::mutex> lock(client.m);
    for (const Console& c : client.console)
      if (c.message.rfind("langs ", 0) == 0) seen = c.message;
    return !seen.empty();
  }, 20000));
  EXPECT_EQ(seen, "langs fr-CH fr");
  std::string accept;
  for (const std::string& r : server.Requests())
    if (r.rfind("GET /langs ", 0) == 0 && r.find("Accept-Language: ") != std::string::npos)
      accept = r.substr(r.find("Accept-Language: ") + 17, r.find("\r\n", r.find("Accept-Language: ")) -
                                                             r.find("Accept-Language: ") - 17);
  EXPECT_EQ(accept, "fr-CH,fr;q=0.9");

  cef_browser_host_t* host = browser->get_host(browser);
  host->close_browser(host, 0);
  Rel(host);
  Rel(browser);
  cef_shutdown();
}
