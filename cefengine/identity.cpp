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
  if (!r.contains("result") || !r["result"].is_object()) return nullptr;
  json value = r["result"].value("value", json());
  return value.is_object() ? value : json();
}

// A page of Chromium's own (secure) that lives only for the question: until its
// document has been committed the answer is null, so it is asked again.
json ProbeClientHints(DevToolsPipe& pipe, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  json r;
  if (!pipe.Call("Target.createTarget", {{"url", "chrome://version/"}}, "", &r, timeoutMs))
    return nullptr;
  const std::string target = StringField(r, "targetId");
  json hints;
  if (pipe.Call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}}, "", &r,
                timeoutMs)) {
    const std::string session = StringField(r, "sessionId");
    while (hints.is_null() && Clock::now() < end && !pipe.Closed()) {
      int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
      hints = EvaluateHints(pipe, session, left > 0 ? left : 1);
      if (hints.is_null()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  pipe.Send("Target.closeTarget", {{"targetId", target}});
  return hints;
}

// The first language of a --accept-lang flag among the arguments.
std::string AcceptLanguageLocale(const std::vector<std::string>& args) {
  static const std::string flag = "--accept-lang=";
  std::string locale;
  for (const std::string& a : args)
    if (a.compare(0, flag.size(), flag) == 0) locale = Split(a.substr(flag.size()), ',')[0];
  return locale;
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
  if (at != std::string::npos) ua.replace(at, mark.size(), "Chrome/");
  return ua;
}

json UserAgentOverride(const std::string& chromiumUserAgent, const json& hints) {
  if (!hints.is_object() || chromiumUserAgent.empty()) return nullptr;
  json metadata = json::object();
  // Chromium's own answer, field by field (userAgentMetadata's names).
  for (const char* key : {"brands", "fullVersionList", "platform", "platformVersion",
                          "architecture", "model", "mobile", "bitness", "wow64", "formFactors"})
    if (hints.contains(key)) metadata[key] = hints[key];
  if (!metadata.contains("brands") || !metadata.contains("platform")) return nullptr;
  if (!metadata.contains("platformVersion")) metadata["platformVersion"] = "";
  if (!metadata.contains("architecture")) metadata["architecture"] = "";
  if (!metadata.contains("model")) metadata["model"] = "";
  if (!metadata.contains("mobile")) metadata["mobile"] = false;
  return {{"userAgent", OrdinaryUserAgent(chromiumUserAgent)}, {"userAgentMetadata", metadata}};
}

void LearnIdentity(DevToolsPipe& pipe, const json& version, const std::vector<std::string>& args,
                   int timeoutMs) {
  json userAgent =
      UserAgentOverride(StringField(version, "userAgent"), ProbeClientHints(pipe, timeoutMs));
  if (userAgent.is_null() && !pipe.Closed())
    std::fprintf(stderr, "Chromium gave no client hints: pages see its headless user agent\n");
  LearntIdentity& learnt = Learnt();
  std::lock_guard<std::mutex> lock(learnt.m);
  learnt.userAgent = std::move(userAgent);
  learnt.locale = AcceptLanguageLocale(args);
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
