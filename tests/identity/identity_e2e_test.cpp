// What pages see through pv7host on real Chromium, asked by pages of a local HTTP
// server and seen by a parent of the test: an ordinary browser's user agent and
// client hints, the host's language and time zone, sound through a PulseAudio
// server of the test's own, and glyphs and metrics of the fonts pages ask for.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http_server.h"
#include "tests/hostile/chromium_host.h"

using json = nlohmann::json;
using namespace std::chrono_literals;

namespace {

const std::string kHostPath = std::string(PV7_BIN_DIR) + "/pv7host";

// Sets (or, with no value, removes) environment variables for the hosts started
// while it lives; the old values come back at its end. Made before any thread of
// the test's own is running.
class TEnv {
 public:
  TEnv(std::map<std::string, std::optional<std::string>> vars) {
    for (auto& [name, value] : vars) {
      const char* old = std::getenv(name.c_str());
      FOld[name] = old ? std::optional<std::string>(old) : std::nullopt;
      Set(name, value);
    }
  }
  ~TEnv() {
    for (auto& [name, value] : FOld) Set(name, value);
  }
  TEnv(const TEnv&) = delete;
  TEnv& operator=(const TEnv&) = delete;

 private:
  static void Set(const std::string& name, const std::optional<std::string>& value) {
    if (value)
      setenv(name.c_str(), value->c_str(), 1);
    else
      unsetenv(name.c_str());
  }
  std::map<std::string, std::optional<std::string>> FOld;
};

// The console text that starts with `prefix`, without it; empty when none came.
std::string WaitConsolePrefix(probe::TParentSide& parent, const std::string& prefix, int ms) {
  std::string found;
  parent.WaitFor([&] {
    for (const std::string& t : parent.FConsole)
      if (t.rfind(prefix, 0) == 0) {
        found = t.substr(prefix.size());
        return true;
      }
    return false;
  }, ms);
  return found;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The value of a header line of a raw request (names compared without case).
std::string Header(const std::string& request, const std::string& name) {
  const std::string lower = Lower(request), key = "\r\n" + Lower(name) + ": ";
  size_t at = lower.find(key);
  if (at == std::string::npos) return {};
  at += key.size();
  return request.substr(at, request.find("\r\n", at) - at);
}

std::string RequestFor(pv7test::HttpServer& server, const std::string& path) {
  for (const std::string& r : server.Requests())
    if (r.rfind("GET " + path + " ", 0) == 0) return r;
  return {};
}

// The page's console report as JSON, loaded until it comes (a load right after the
// host started can be lost).
json LoadReport(probe::TChromiumHost& host, const std::string& url, const std::string& prefix) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    host.Load(url);
    std::string text = WaitConsolePrefix(host.Parent(), prefix, 10000);
    if (!text.empty()) return json::parse(text, nullptr, false);
  }
  return nullptr;
}

const char kReportScript[] = R"(<script>
onload = async () => {
  const d = navigator.userAgentData;
  const h = await d.getHighEntropyValues(['fullVersionList', 'uaFullVersion', 'platformVersion']);
  console.log('who ' + JSON.stringify({
    ua: navigator.userAgent, appVersion: navigator.appVersion, webdriver: navigator.webdriver,
    brands: d.brands, platform: d.platform, mobile: d.mobile, full: h.fullVersionList,
    uaFull: h.uaFullVersion, language: navigator.language, languages: navigator.languages,
    zone: Intl.DateTimeFormat().resolvedOptions().timeZone,
    januaryOffset: new Date(2024, 0, 15).getTimezoneOffset(),
    number: (1234.5).toLocaleString()}));
};
</script>)";

}  // namespace

// One page (with a frame of another site) reports what it sees; the server sees
// the requests' headers.
TEST(IdentityHost, PagesSeeAnOrdinaryBrowserInTheHostsLanguageAndTimeZone) {
  TEnv env({{"LANG", "de_DE.UTF-8"}, {"LANGUAGE", std::nullopt}, {"LC_ALL", std::nullopt},
            {"LC_MESSAGES", std::nullopt}, {"TZ", "Europe/Berlin"}});
  pv7test::HttpServer server;
  server.Serve("/who", std::string("<iframe src='http://localhost:") + std::to_string(server.Port()) +
                           "/inner'></iframe>" + kReportScript);
  server.Serve("/inner", "<script>console.log('inner webdriver=' + navigator.webdriver + ' ua=' + "
                         "navigator.userAgent)</script>");
  probe::TChromiumHost host(kHostPath, "identity-who");
  ASSERT_TRUE(host.Parent().WaitChannels(20000));
  ASSERT_TRUE(host.Resize(320, 200));
  json who = LoadReport(host, server.Url("/who"), "who ");
  ASSERT_TRUE(who.is_object()) << "no report from the page";
  const std::string ua = who["ua"];
  const std::string request = RequestFor(server, "/who");
  ASSERT_FALSE(request.empty());

  // Not marked as automated, in the page and in the frame of another site.
  EXPECT_EQ(who["webdriver"], false);
  EXPECT_TRUE(host.WaitConsole("inner webdriver=false ua=" + ua, 10000));

  // The ordinary agent of this Chromium, in the header too, agreeing with the hints.
  EXPECT_EQ(ua.find("Headless"), std::string::npos) << ua;
  EXPECT_NE(ua.find("(X11; Linux x86_64)"), std::string::npos) << ua;
  EXPECT_EQ(Header(request, "User-Agent"), ua);
  EXPECT_EQ(who["platform"], "Linux");
  EXPECT_EQ(Header(request, "sec-ch-ua-platform"), "\"Linux\"");
  EXPECT_EQ(Header(request, "sec-ch-ua-mobile"), "?0");
  std::string brandsHeader;
  std::string chromiumMajor;
  for (const json& b : who["brands"]) {
    brandsHeader += (brandsHeader.empty() ? "" : ", ") + ("\"" + b["brand"].get<std::string>() +
                                                         "\";v=\"" + b["version"].get<std::string>() + "\"");
    if (b["brand"] == "Chromium") chromiumMajor = b["version"];
  }
  EXPECT_EQ(Header(request, "sec-ch-ua"), brandsHeader);
  ASSERT_FALSE(chromiumMajor.empty()) << who["brands"].dump();
  EXPECT_NE(ua.find(" Chrome/" + chromiumMajor + ".0.0.0 "), std::string::npos) << ua;
  EXPECT_EQ(who["uaFull"].get<std::string>().rfind(chromiumMajor + ".", 0), 0u) << who.dump();
  EXPECT_FALSE(who["full"].empty());
  // Nothing else the page or the server sees says headless.
  EXPECT_EQ(Lower(who.dump()).find("headless"), std::string::npos) << who.dump();
  EXPECT_EQ(Lower(request).find("headless"), std::string::npos) << request;

  // The language list of LANG, also in the header; numbers in its format.
  EXPECT_EQ(who["language"], "de-DE");
  EXPECT_EQ(who["languages"], json::array({"de-DE", "de"}));
  EXPECT_EQ(Header(request, "Accept-Language"), "de-DE,de;q=0.9");
  EXPECT_EQ(who["number"], "1.234,5");
  // The time zone of TZ.
  EXPECT_EQ(who["zone"], "Europe/Berlin");
  EXPECT_EQ(who["januaryOffset"], -60);
}

namespace {

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    size_t end = dirs.find(':', start);
    std::filesystem::path p = std::filesystem::path(dirs.substr(start, end - start)) / name;
    if (::access(p.c_str(), X_OK) == 0) return p.string();
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

// A PulseAudio server of the test's own with one null sink, in a private runtime
// folder; recordings of the sink's monitor come from parec.
class TSoundServer {
 public:
  static constexpr int kRate = 16000;

  TSoundServer() {
    FDir = std::filesystem::temp_directory_path() /
           ("pv7-sound-" + std::to_string(platform::GetCurrentProcessId()));
    std::filesystem::remove_all(FDir);
    std::filesystem::create_directories(FDir);
    std::filesystem::permissions(FDir, std::filesystem::perms::owner_all);
    const std::string pulseaudio = FindProgram("pulseaudio");
    if (pulseaudio.empty() || FindProgram("parec").empty()) {
      FWhy = "pulseaudio or parec is not installed (Debian: pulseaudio, pulseaudio-utils)";
      return;
    }
    // Its own HOME too: the server keeps its cookie there. It ends itself after 30 s
    // without clients, also when the test was killed.
    FServer.emplace(platform::ChildProcess::Start(
        "/usr/bin/env",
        {"HOME=" + FDir.string(), "XDG_RUNTIME_DIR=" + FDir.string(), pulseaudio, "-n",
         "--daemonize=no", "--exit-idle-time=30", "--use-pid-file=no",
         "--log-target=file:" + (FDir / "server.log").string(), "-L",
         "module-native-protocol-unix auth-anonymous=1", "-L",
         "module-null-sink sink_name=pv7null rate=" + std::to_string(kRate) + " channels=1"}));
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!std::filesystem::exists(FDir / "pulse" / "native") && FServer->Running() &&
           std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(50ms);
    if (!std::filesystem::exists(FDir / "pulse" / "native"))
      FWhy = "no sound server could be started (see " + (FDir / "server.log").string() + ")";
  }
  ~TSoundServer() {
    FRecorder.reset();
    FServer.reset();
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
  }
  const std::string& WhyNot() const { return FWhy; }
  std::string RuntimeDir() const { return FDir.string(); }

  void StartRecording() {
    std::filesystem::remove(FDir / "take.wav");
    FRecorder.emplace(platform::ChildProcess::Start(
        "/usr/bin/env",
        {"XDG_RUNTIME_DIR=" + FDir.string(), FindProgram("parec"), "-d", "pv7null.monitor",
         "--rate=" + std::to_string(kRate), "--channels=1", "--format=s16le", "--file-format=wav",
         (FDir / "take.wav").string()}));
  }
  // Stops the recording and returns its samples.
  std::vector<int16_t> StopRecording() {
    FRecorder->Kill(2);  // SIGINT: parec finishes the file
    if (!FRecorder->Wait(5000)) FRecorder->Kill();
    FRecorder.reset();
    std::ifstream in(FDir / "take.wav", std::ios::binary);
    std::string wav((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t data = wav.find("data");
    std::vector<int16_t> samples;
    if (data == std::string::npos) return samples;
    for (size_t i = data + 8; i + 1 < wav.size(); i += 2)
      samples.push_back(int16_t(uint8_t(wav[i]) | uint8_t(wav[i + 1]) << 8));
    return samples;
  }

 private:
  std::filesystem::path FDir;
  std::string FWhy;
  std::optional<platform::ChildProcess> FServer;
  std::optional<platform::ChildProcess> FRecorder;
};

// The amplitude of one frequency in the samples (Goertzel).
double Amplitude(const std::vector<int16_t>& samples, double hz, int rate) {
  const double w = 2 * M_PI * hz / rate, coeff = 2 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (int16_t x : samples) {
    const double s0 = x + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  return samples.empty() ? 0 : 2 * std::sqrt(std::max(power, 0.0)) / double(samples.size());
}

const char kTonePage[] = R"(<script>
const a = new AudioContext(), o = a.createOscillator(), g = a.createGain();
o.frequency.value = 440;
g.gain.value = 0.5;
o.connect(g).connect(a.destination);
o.start();
setTimeout(() => console.log('tone ' + a.state), 300);
</script>)";

// The strongest quarter second of the tone: its amplitude at `hz` and at `otherHz`.
std::pair<double, double> StrongestWindow(const std::vector<int16_t>& samples, double hz,
                                          double otherHz) {
  const size_t window = TSoundServer::kRate / 4;
  std::pair<double, double> best{0, 0};
  for (size_t at = 0; at + window <= samples.size(); at += window) {
    std::vector<int16_t> part(samples.begin() + long(at), samples.begin() + long(at + window));
    const double a = Amplitude(part, hz, TSoundServer::kRate);
    if (a > best.first) best = {a, Amplitude(part, otherHz, TSoundServer::kRate)};
  }
  return best;
}

// Records what a tone page without any gesture plays through a host.
std::vector<int16_t> RecordTone(TSoundServer& sound, pv7test::HttpServer& server, bool mute,
                                std::string* state) {
  TEnv env({{"XDG_RUNTIME_DIR", sound.RuntimeDir()}, {"PULSE_SERVER", std::nullopt},
            {"PV7_MUTE", mute ? std::optional<std::string>("1") : std::nullopt}});
  probe::TChromiumHost host(kHostPath, mute ? "identity-mute" : "identity-tone");
  if (!host.Parent().WaitChannels(20000)) return {};
  sound.StartRecording();
  for (int attempt = 0; attempt < 3 && state->empty(); ++attempt) {
    host.Load(server.Url("/tone"));
    *state = WaitConsolePrefix(host.Parent(), "tone ", 10000);
  }
  // Chromium's audio output starts a little after the page's context runs.
  std::this_thread::sleep_for(mute ? 2000ms : 4000ms);
  return sound.StopRecording();
}

}  // namespace

TEST(IdentityHost, PageSoundPlaysWithoutAGestureAndPv7MuteSilencesIt) {
  TSoundServer sound;
  if (!sound.WhyNot().empty()) GTEST_SKIP() << sound.WhyNot();
  pv7test::HttpServer server;
  server.Serve("/tone", kTonePage);

  std::string state;
  std::vector<int16_t> played = RecordTone(sound, server, false, &state);
  EXPECT_EQ(state, "running");
  ASSERT_GT(played.size(), size_t(TSoundServer::kRate / 2)) << "nothing recorded";
  const auto [tone, other] = StrongestWindow(played, 440, 1000);
  EXPECT_GT(tone, 1000) << "440 Hz amplitude " << tone;
  EXPECT_GT(tone, 20 * other) << "440 Hz " << tone << ", 1000 Hz " << other;

  state.clear();
  std::vector<int16_t> muted = RecordTone(sound, server, true, &state);
  EXPECT_FALSE(state.empty()) << "the muted page did not run";
  ASSERT_GT(muted.size(), size_t(TSoundServer::kRate / 2)) << "nothing recorded";
  int peak = 0;
  for (int16_t x : muted) peak = std::max(peak, std::abs(int(x)));
  EXPECT_LT(peak, 50);
}

namespace {

struct TScript {
  const char* name;
  const char* lang;
  const char* first;
  const char* second;
};
const TScript kScripts[] = {
    {"Latin", "en", "a", "g"},       {"Cyrillic", "ru", "Ж", "Я"},  {"Greek", "el", "Ω", "λ"},
    {"Arabic", "ar", "ب", "ج"},      {"Hebrew", "he", "א", "ש"},    {"Chinese", "zh-CN", "中", "国"},
    {"Japanese", "ja", "あ", "カ"},   {"Korean", "ko", "한", "글"},  {"Thai", "th", "ก", "ข"},
    {"Devanagari", "hi", "क", "ख"},
};
constexpr int kCell = 40;

// Rows of two 40 x 40 cells, one character each, then an emoji; the page measures
// one line of text in the Windows faces and in DejaVu Sans.
std::string FontsPage() {
  std::string html =
      "<meta charset='utf-8'><style>body{margin:0;background:#fff}"
      "div{height:40px;white-space:nowrap}span{display:inline-block;width:40px;height:40px;"
      "font:28px/40px sans-serif;text-align:center;color:#000;overflow:hidden}</style>";
  for (const TScript& s : kScripts)
    html += std::string("<div lang='") + s.lang + "'><span>" + s.first + "</span><span>" + s.second +
            "</span></div>";
  html += "<div><span>\xF0\x9F\x98\x80</span></div>";  // U+1F600
  html += R"(<script>
const width = family => {
  const s = document.createElement('p');
  s.style.cssText = 'position:absolute;left:0;top:0;margin:0;white-space:nowrap;visibility:hidden;' +
                    'font-size:20px;font-family:' + family;
  s.textContent = 'The quick brown fox jumps over the lazy dog 0123456789';
  document.body.appendChild(s);
  const w = s.getBoundingClientRect().width;
  s.remove();
  return w;
};
document.fonts.ready.then(() => requestAnimationFrame(() => requestAnimationFrame(() => {
  console.log('widths ' + JSON.stringify({
    'Arial': width('Arial'), 'Times New Roman': width("'Times New Roman'"),
    'Courier New': width("'Courier New'"), 'Tahoma': width('Tahoma'),
    'DejaVu Sans': width("'DejaVu Sans'"), 'Segoe UI': width("'Segoe UI'"),
    'Open Sans': width("'Open Sans'")}));
})));
</script>)";
  return html;
}

struct TCell {
  std::vector<bool> ink;  // dark pixels
  int inked = 0;
  int colourful = 0;      // pixels far from grey
};

TCell CellOf(const std::string& bmp, int width, int height, int left, int top) {
  TCell cell;
  const size_t row = (size_t(width) * 3 + 3) & ~size_t(3);
  for (int y = top; y < top + kCell; ++y)
    for (int x = left; x < left + kCell; ++x) {
      const uint8_t* p = reinterpret_cast<const uint8_t*>(bmp.data()) + 54 +
                         row * size_t(height - 1 - y) + size_t(x) * 3;
      const int lo = std::min({p[0], p[1], p[2]}), hi = std::max({p[0], p[1], p[2]});
      const bool dark = (p[0] + p[1] + p[2]) / 3 < 160;
      cell.ink.push_back(dark);
      cell.inked += dark;
      cell.colourful += hi - lo > 100;
    }
  return cell;
}

int Differences(const TCell& a, const TCell& b) {
  int n = 0;
  for (size_t i = 0; i < a.ink.size(); ++i) n += a.ink[i] != b.ink[i];
  return n;
}

}  // namespace

TEST(IdentityHost, EveryScriptDrawsItsOwnGlyphsEmojiInColourAndWindowsFacesMeasureTheirOwn) {
  pv7test::HttpServer server;
  server.Serve("/fonts", FontsPage());
  probe::TChromiumHost host(kHostPath, "identity-fonts");
  ASSERT_TRUE(host.Parent().WaitChannels(20000));
  const int w = 2 * kCell + 40, h = kCell * int(std::size(kScripts) + 1);
  ASSERT_TRUE(host.Resize(w, h));
  host.Parent().KeepLastFrame(true);
  json widths = LoadReport(host, server.Url("/fonts"), "widths ");
  ASSERT_TRUE(widths.is_object()) << "no widths from the page";
  // Frames after the report show the laid out page.
  ASSERT_TRUE(host.WaitFrames(2, 10000) || host.Parent().Frames() > 0);
  std::this_thread::sleep_for(500ms);
  const std::string bmp = host.Parent().LastFrame();
  ASSERT_EQ(host.Parent().LastSize(), std::make_pair(w, h));
  ASSERT_GE(bmp.size(), 54u + size_t(h) * ((size_t(w) * 3 + 3) & ~size_t(3)));

  for (size_t i = 0; i < std::size(kScripts); ++i) {
    const int top = int(i) * kCell;
    TCell a = CellOf(bmp, w, h, 0, top), b = CellOf(bmp, w, h, kCell, top);
    EXPECT_GT(a.inked, 15) << kScripts[i].name << ": nothing drawn";
    EXPECT_GT(b.inked, 15) << kScripts[i].name << ": nothing drawn";
    EXPECT_GT(Differences(a, b), 15) << kScripts[i].name << ": the two characters look alike";
  }
  TCell emoji = CellOf(bmp, w, h, 0, int(std::size(kScripts)) * kCell);
  EXPECT_GT(emoji.colourful, 50) << "the emoji is not in colour";

  // Segoe UI is Open Sans only through the engine's own font configuration (the
  // system's gives it Noto Sans).
  ASSERT_TRUE(widths["Segoe UI"].is_number() && widths["Open Sans"].is_number()) << widths.dump();
  EXPECT_NEAR(widths["Segoe UI"].get<double>(), widths["Open Sans"].get<double>(), 0.1) << widths.dump();
  widths.erase("Segoe UI");
  widths.erase("Open Sans");
  // Each Windows face has metrics of its own, none those of DejaVu Sans.
  std::vector<std::pair<std::string, double>> all;
  for (auto& [face, width] : widths.items()) all.emplace_back(face, width.get<double>());
  ASSERT_EQ(all.size(), 5u);
  for (size_t i = 0; i < all.size(); ++i)
    for (size_t j = i + 1; j < all.size(); ++j)
      EXPECT_GT(std::abs(all[i].second - all[j].second), 1.0)
          << all[i].first << " and " << all[j].first << " measure alike: " << widths.dump();
}
