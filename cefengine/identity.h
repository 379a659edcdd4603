// What pages see of the browser: an ordinary Chromium of its version and platform
// (not marked as automated, no headless mark), sound through the machine's sound
// server, the host's language list, and the library's own font configuration.
//
// The flags and the environment are fixed when Chromium starts; the user agent and
// the client hints are learnt from each started Chromium and applied to every page.
#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "devtools.h"

namespace cefeng {

using EnvFn = std::function<std::string(const char* name)>;

// The BCP 47 tag of a POSIX locale name ("de_DE.UTF-8@euro" -> "de-DE"); empty for
// "C", "POSIX" and names that are no language.
std::string LanguageTag(const std::string& posixLocale);

// The page's language list: from the engine's `locale` setting when one is given,
// else from LANGUAGE (a colon list; used unless the locale is C), LC_ALL,
// LC_MESSAGES, LANG, in that order; "en-US" when none names a language. Each tag
// with a region is followed by its bare language ("de-DE", "de").
std::vector<std::string> LanguageList(const std::string& localeSetting, const EnvFn& env);

// Chromium's flags for pages of an ordinary browser: automation not announced,
// sound without a gesture (PV7_MUTE=1: silence), the language list.
std::vector<std::string> IdentityFlags(const std::string& localeSetting, const EnvFn& env);

// Chromium's user agent without the headless mark, its version reduced to the major
// one as an ordinary Chromium gives it ("HeadlessChrome/156.0.8078.129" ->
// "Chrome/156.0.0.0").
std::string OrdinaryUserAgent(const std::string& chromiumUserAgent);

// The parameters of Emulation.setUserAgentOverride: the ordinary user agent with
// Chromium's own client hints (the high-entropy values a secure page gets). Null
// when the hints are not an object: overriding the agent without them would drop
// the client hints altogether. A headless brand among the hints is left out.
json UserAgentOverride(const std::string& chromiumUserAgent, const json& hints);

// Learns the client hints from the running Chromium (a secure page that lives only
// for the question: `pageTarget`, the page Chromium opened at its start, when given,
// else a new one; closed afterwards) and keeps them, with its user agent (from
// `version`, the reply of Browser.getVersion) and the locale of its --accept-lang
// flag among `args`, for the pages of this Chromium. Any thread; blocks up to
// timeoutMs.
void LearnIdentity(DevToolsPipe& pipe, const json& version, const std::vector<std::string>& args,
                   int timeoutMs, const std::string& pageTarget = std::string());

// The DevTools commands that give a new page the identity learnt last and the
// language list's locale. Any thread.
std::vector<std::pair<std::string, json>> PageIdentityCommands();

// "NAME=value" entries added to Chromium's environment: FONTCONFIG_FILE naming the
// fonts.conf beside the engine library, unless the environment names one already.
std::vector<std::string> ChromiumEnvironment(const EnvFn& env);

// The process environment as an EnvFn.
std::string ProcessEnv(const char* name);

}  // namespace cefeng
