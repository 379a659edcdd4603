#include "identity.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "os_process.h"

namespace cefeng {

namespace {

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool AllAlpha(const std::string& s) {
  for (char c : s)
    if (!IsAsciiAlpha(c)) return false;
  return true;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = s.find(sep, start);
    parts.push_back(s.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

void AddOnce(std::vector<std::string>& list, const std::string& tag) {
  for (const std::string& t : list)
    if (t == tag) return;
  list.push_back(tag);
}

// Each tag, then its bare language when it has a region.
std::vector<std::string> WithBareLanguages(const std::vector<std::string>& tags) {
  std::vector<std::string> list;
  for (const std::string& tag : tags) {
    AddOnce(list, tag);
    size_t dash = tag.find('-');
    if (dash != std::string::npos) AddOnce(list, tag.substr(0, dash));
  }
  return list;
}

std::vector<std::string> TagsOf(const std::string& names, char sep) {
  std::vector<std::string> tags;
  for (const std::string& name : Split(names, sep)) {
    std::string tag = LanguageTag(name);
    if (!tag.empty()) AddOnce(tags, tag);
  }
  return tags;
}

// The first of LC_ALL, LC_MESSAGES, LANG that is set.
std::string MessagesLocale(const EnvFn& env) {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    std::string value = env(name);
    if (!value.empty()) return value;
  }
  return {};
}

// What pages of the running Chromium get (guarded by its lock).
struct LearntIdentity {
  std::mutex m;
  json userAgent;      // Emulation.setUserAgentOverride parameters, or null
  std::string locale;  // Emulation.setLocaleOverride's locale, or empty
};

LearntIdentity& Learnt() {
  static LearntIdentity* identity = new LearntIdentity;  // used by threads until exit
  return *identity;
}

// Asked in a secure page: the values a page may ask for through
// navigator.userAgentData.getHighEntropyValues.
constexpr const char kHintsProbe[] =
    "navigator.userAgentData ? navigator.userAgentData.getHighEntropyValues(["
    "'architecture','bitness','fullVersionList','model','platformVersion','wow64',"
    "'formFactors']) : null";

json EvaluateHints(DevToolsPipe& pipe, const std::string& session, int timeoutMs) {
  json r;
  if (!pipe.Call("Runtime.evaluate",
                 {{"expression", kHintsProbe}, {"returnByValue", true}, {"awaitPromise", true}},
                 session, &r, timeoutMs))
    return nullptr;
  const json* result = ObjectField(r, "result");
  if (!result) return nullptr;
  json value = result->value("value", json());
  return value.is_object() ? value : json();
}

// A local file is a secure page that every build of Chromium loads (the headless
// shell has no pages of its own), with no network and no file of the library's.
constexpr const char kProbePage[] = "file:///dev/null";

// Opens the probe page in `target` (the page Chromium opened at its start) or in a
// new page; the page's target, or empty.
std::string OpenProbePage(DevToolsPipe& pipe, const std::string& target, int timeoutMs,
                          std::string& session) {
  json r;
  std::string page = target;
  if (page.empty()) {
    if (!pipe.Call("Target.createTarget", {{"url", kProbePage}}, "", &r, timeoutMs)) return {};
    page = StringField(r, "targetId");
  }
  if (pipe.Call("Target.attachToTarget", {{"targetId", page}, {"flatten", true}}, "", &r, timeoutMs)) {
    session = StringField(r, "sessionId");
    if (!target.empty()) pipe.Send("Page.navigate", {{"url", kProbePage}}, session);
  }
  return page;
}

// Until the probe page's document has been committed the answer is null, so it is
// asked again.
json ProbeClientHints(DevToolsPipe& pipe, int timeoutMs, const std::string& pageTarget) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string session;
  const std::string target = OpenProbePage(pipe, pageTarget, timeoutMs, session);
  if (target.empty()) return nullptr;
  json hints;
  while (!session.empty() && hints.is_null() && Clock::now() < end && !pipe.Closed()) {
    int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
    hints = EvaluateHints(pipe, session, left > 0 ? left : 1);
    if (hints.is_null()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pipe.Send("Target.closeTarget", {{"targetId", target}});
  return hints;
}

bool IsHeadlessBrand(const json& entry) {
  return entry.is_object() && StringField(entry, "brand").find("Headless") != std::string::npos;
}

json WithoutHeadlessBrands(const json& list) {
  if (!list.is_array()) return list;
  json kept = json::array();
  for (const json& entry : list)
    if (!IsHeadlessBrand(entry)) kept.push_back(entry);
  return kept;
}

// The language list of a --accept-lang flag among the arguments, and its first one.
std::string AcceptLanguages(const std::vector<std::string>& args) {
  static const std::string flag = "--accept-lang=";
  std::string languages;
  for (const std::string& a : args)
    if (a.compare(0, flag.size(), flag) == 0) languages = a.substr(flag.size());
  return languages;
}

std::string AcceptLanguageLocale(const std::vector<std::string>& args) {
  return Split(AcceptLanguages(args), ',')[0];
}

}  // namespace

std::string ProcessEnv(const char* name) { return GetEnv(name); }

std::string LanguageTag(const std::string& posixLocale) {
  // language[_territory][.codeset][@modifier]
  std::string name = posixLocale.substr(0, posixLocale.find_first_of(".@"));
  if (name == "C" || name == "POSIX") return {};
  std::vector<std::string> parts = Split(name, name.find('_') != std::string::npos ? '_' : '-');
  const std::string& language = parts[0];
  if (language.size() < 2 || language.size() > 3 || !AllAlpha(language)) return {};
  std::string tag;
  for (char c : language) tag.push_back(Lower(c));
  if (parts.size() > 1 && parts[1].size() == 2 && AllAlpha(parts[1])) {
    tag.push_back('-');
    for (char c : parts[1]) tag.push_back(Upper(c));
  }
  return tag;
}

std::vector<std::string> LanguageList(const std::string& localeSetting, const EnvFn& env) {
  std::vector<std::string> tags = TagsOf(localeSetting, ',');
  if (tags.empty()) {
    // As gettext does: LANGUAGE counts unless the locale is C.
    const std::string messages = MessagesLocale(env);
    if (!LanguageTag(messages).empty()) tags = TagsOf(env("LANGUAGE"), ':');
    if (tags.empty()) tags = TagsOf(messages, ':');
  }
  if (tags.empty()) tags.push_back("en-US");
  return WithBareLanguages(tags);
}

std::vector<std::string> IdentityFlags(const std::string& localeSetting, const EnvFn& env) {
  std::vector<std::string> flags = {"--disable-blink-features=AutomationControlled"};
  if (env("PV7_MUTE") == "1")
    flags.push_back("--mute-audio");
  else
    flags.push_back("--autoplay-policy=no-user-gesture-required");
  std::string languages;
  for (const std::string& tag : LanguageList(localeSetting, env))
    languages += (languages.empty() ? "" : ",") + tag;
  flags.push_back("--accept-lang=" + languages);
  return flags;
}

std::string OrdinaryUserAgent(const std::string& chromiumUserAgent) {
  static const std::string mark = "HeadlessChrome/";
  std::string ua = chromiumUserAgent;
  size_t at = ua.find(mark);
  if (at == std::string::npos) return ua;
  ua.replace(at, mark.size(), "Chrome/");
  size_t major = at + 7;  // after "Chrome/"
  size_t dot = ua.find('.', major);
  size_t end = ua.find(' ', major);
  if (dot != std::string::npos && dot > major && (end == std::string::npos || dot < end))
    ua.replace(dot, (end == std::string::npos ? ua.size() : end) - dot, ".0.0.0");
  return ua;
}

json UserAgentOverride(const std::string& chromiumUserAgent, const json& hints) {
  if (!hints.is_object() || chromiumUserAgent.empty()) return nullptr;
  json metadata = json::object();
  // Chromium's own answer, field by field (userAgentMetadata's names).
  for (const char* key : {"brands", "fullVersionList", "platform", "platformVersion",
                          "architecture", "model", "mobile", "bitness", "wow64", "formFactors"})
    if (hints.contains(key)) metadata[key] = WithoutHeadlessBrands(hints[key]);
  if (!metadata.contains("brands") || !metadata.contains("platform")) return nullptr;
  if (!metadata.contains("platformVersion")) metadata["platformVersion"] = "";
  if (!metadata.contains("architecture")) metadata["architecture"] = "";
  if (!metadata.contains("model")) metadata["model"] = "";
  if (!metadata.contains("mobile")) metadata["mobile"] = false;
  return {{"userAgent", OrdinaryUserAgent(chromiumUserAgent)}, {"userAgentMetadata", metadata}};
}

void LearnIdentity(DevToolsPipe& pipe, const json& version, const std::vector<std::string>& args,
                   int timeoutMs, const std::string& pageTarget) {
  json userAgent = UserAgentOverride(StringField(version, "userAgent"),
                                     ProbeClientHints(pipe, timeoutMs, pageTarget));
  if (userAgent.is_null() && !pipe.Closed())
    std::fprintf(stderr, "Chromium gave no client hints: pages see its headless user agent\n");
  LearntIdentity& learnt = Learnt();
  std::lock_guard<std::mutex> lock(learnt.m);
  learnt.userAgent = std::move(userAgent);
  learnt.locale = AcceptLanguageLocale(args);
  // Given with the agent, the list is weighted in the request header as Chromium
  // does it ("fr-CH,fr;q=0.9"), which the headless shell does not do for its flag.
  const std::string languages = AcceptLanguages(args);
  if (learnt.userAgent.is_object() && !languages.empty()) learnt.userAgent["acceptLanguage"] = languages;
}

std::vector<std::pair<std::string, json>> PageIdentityCommands() {
  std::vector<std::pair<std::string, json>> commands;
  LearntIdentity& learnt = Learnt();
  std::lock_guard<std::mutex> lock(learnt.m);
  if (!learnt.userAgent.is_null()) commands.emplace_back("Emulation.setUserAgentOverride", learnt.userAgent);
  if (!learnt.locale.empty())
    commands.emplace_back("Emulation.setLocaleOverride", json{{"locale", learnt.locale}});
  return commands;
}

std::vector<std::string> ChromiumEnvironment(const EnvFn& env) {
  if (!env("FONTCONFIG_FILE").empty()) return {};
  const std::string conf = ModuleFolder() + "/fonts.conf";
  if (!FileReadable(conf)) return {};
  return {"FONTCONFIG_FILE=" + conf};
}

}  // namespace cefeng
