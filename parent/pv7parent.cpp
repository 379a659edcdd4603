// pv7parent: the reference parent application. It listens on 127.0.0.1, starts
// the host with the draw port, tells incoming connections apart by their tag,
// sends command documents on ACTN, reads every DRAW frame, prints console texts,
// answers bridge requests on INTF, and reports the host's exit status.
#include <spng.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/channel.h"
#include "host/streamut.h"
#include "platform/process.h"

namespace {

const char kUsage[] =
    "usage: pv7parent [options]\n"
    "Starts pv7host with -drawPort=N -parentID=<this pid> -showSelf=0 and drives it.\n"
    "With no options at all it runs the bundled demo page.\n"
    "\n"
    "  --host PATH          the host executable (default: pv7host beside pv7parent)\n"
    "  --port N             listen on port N (default: chosen by the system)\n"
    "  --show               start the host with -showSelf=1 (its test window)\n"
    "  --timeout S          seconds to wait for the host to end (default 30)\n"
    "  --keep               do not send <Destroy/> after the commands\n"
    "  --version            print the version and end\n"
    "commands, sent on ACTN in the order given:\n"
    "  --size WxH           <WindowSize>\n"
    "  --url URL            <LoadWEBURL> (with the --headers given before it)\n"
    "  --headers LIST       header list for the next --url, e.g. X-Till=7;X-Mode=test\n"
    "  --click X,Y          <MouseClick>\n"
    "  --wheel X,Y,DX,DY    <MouseWheel>\n"
    "  --key TYPE,KEY[,MOD] <KeyPress> with TYPE KT_KEYDOWN, KT_KEYUP or KT_CHAR\n"
    "  --type TEXT          one KT_CHAR <KeyPress> per UTF-16 unit of the UTF-8 TEXT\n"
    "  --js CODE            <JavaScript>\n"
    "  --xml DOCUMENT       any raw command document\n"
    "  --commands FILE      one command document per line (lines may be 'wait MS')\n"
    "  --wait MS            pause before the next command\n"
    "output:\n"
    "  --frames DIR         save every frame as DIR/frame-000001.bmp ...\n"
    "  --snapshot FILE.png  write the last frame as PNG\n"
    "  --quiet-frames       do not print a line per frame\n"
    "bridge replies (INTF):\n"
    "  --reply TEXT         answer every request with TEXT\n"
    "  --reply-file FILE    answer every request with the file's bytes\n"
    "                       (default: <Reply>LENGTH</Reply>, LENGTH the request's length)\n"
    "\n"
    "Events go to standard output, errors and notes to standard error.\n"
    "Exit status: 0 when the host connected and ended with status 0 (and the snapshot,\n"
    "if asked for, was written); 1 on any other outcome; 2 for a bad command line.\n";

const char kUsageHint[] = "usage: pv7parent [options]  (pv7parent --help lists them)\n";

struct TStep {
  std::string document;  // empty: a pause
  int waitMs = 0;
};

struct TOptions {
  std::string host;
  int port = 0;
  bool show = false;
  int timeoutS = 30;
  bool keep = false;
  std::vector<TStep> steps;
  std::string framesDir;
  std::string snapshot;
  bool quietFrames = false;
  bool haveReply = false;
  std::string reply;
};

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// Command line texts are UTF-8: documents that hold other bytes say so.
std::string Document(const std::string& body) {
  for (unsigned char c : body)
    if (c >= 0x80) return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body;
  return body;
}

std::vector<int> Numbers(const std::string& text, size_t count, const char* option) {
  std::vector<int> out;
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) {
    try {
      size_t used;
      out.push_back(std::stoi(item, &used));
      if (used != item.size()) throw std::invalid_argument(item);
    } catch (const std::exception&) {
      throw Exception(std::string(option) + ": not a number: " + item);
    }
  }
  if (out.size() != count && !(count == 3 && out.size() == 2))
    throw Exception(std::string(option) + ": expected " + std::to_string(count) + " numbers");
  return out;
}

int NumberIn(const std::string& text, int low, int high, const char* option) {
  const int n = Numbers(text, 1, option)[0];
  if (n < low || n > high)
    throw Exception(std::string(option) + ": " + text + " is outside " + std::to_string(low) + "-" +
                    std::to_string(high));
  return n;
}

// The key types the host knows, also in the short forms DOWN, UP and CHAR.
std::string KeyType(const std::string& t) {
  std::string u;
  for (char c : t) u += char(std::toupper(static_cast<unsigned char>(c)));
  if (u == "DOWN" || u == "KEYDOWN" || u == "KT_KEYDOWN") return "KT_KEYDOWN";
  if (u == "UP" || u == "KEYUP" || u == "KT_KEYUP") return "KT_KEYUP";
  if (u == "CHAR" || u == "KT_CHAR") return "KT_CHAR";
  throw Exception("--key: unknown key type " + t + " (KT_KEYDOWN, KT_KEYUP or KT_CHAR)");
}

// UTF-8 text as UTF-16 units; raises on bytes that are not UTF-8.
std::vector<char16_t> Utf16Units(const std::string& utf8, const char* option) {
  std::vector<char16_t> out;
  auto bad = [&] { return Exception(std::string(option) + ": the text is not UTF-8"); };
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    const int extra = lead < 0x80 ? 0 : lead >= 0xC2 && lead < 0xE0 ? 1 : lead >= 0xE0 && lead < 0xF0 ? 2
                      : lead >= 0xF0 && lead < 0xF5 ? 3 : -1;
    if (extra < 0 || i + size_t(extra) >= utf8.size()) throw bad();
    uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const unsigned char c = static_cast<unsigned char>(utf8[i + size_t(k)]);
      if ((c & 0xC0) != 0x80) throw bad();
      cp = cp << 6 | (c & 0x3F);
    }
    static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) throw bad();
    if (cp < 0x10000) {
      out.push_back(char16_t(cp));
    } else {
      out.push_back(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    }
    i += size_t(extra) + 1;
  }
  return out;
}

std::string CharKey(int unit) {
  return "<KeyPress keyType=\"KT_CHAR\" sysChar=\"FALSE\" key=\"" + std::to_string(unit) +
         "\" modifiers=\"0\"/>";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Exception("cannot read " + path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void AddCommandsFile(TOptions& o, const std::string& path) {
  std::stringstream lines(ReadFile(path));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("wait", 0) == 0 && line.find('<') == std::string::npos)
      o.steps.push_back({"", NumberIn(line.size() > 5 && line[4] == ' ' ? line.substr(5) : "",
                                      0, 3600000, "--commands: wait")});
    else
      o.steps.push_back({line, 0});
  }
}

// The demo page beside the host: in the build folder beside pv7parent, once
// installed in the host's own folder.
std::string DemoPage() {
  namespace fs = std::filesystem;
  const fs::path here = platform::ExecutableFolder();
  fs::path page = here / "demo/demo.html";
  if (!fs::exists(page)) page = fs::weakly_canonical(here / "../lib/pv7host/demo/demo.html");
  return "file://" + page.string();
}

void AddDemo(TOptions& o) {
  o.snapshot = "demo.png";
  o.steps = {
      {"<WindowSize><WndSzX>800</WndSzX><WndSzY>600</WndSzY></WindowSize>", 0},
      {"<LoadWEBURL><WEBURL>" + Escape(DemoPage()) +
           "</WEBURL><HEADERS>X-Demo=1;X-Mode=demo</HEADERS></LoadWEBURL>", 0},
      {"", 1500},
      {"<MouseClick><MouseX>400</MouseX><MouseY>140</MouseY></MouseClick>", 0},
      {"", 300},
      {"<MouseClick><MouseX>400</MouseX><MouseY>230</MouseY></MouseClick>", 0},
  };
  for (char c : std::string("hello host")) o.steps.push_back({CharKey(c), 0});
  o.steps.push_back({"", 300});
  o.steps.push_back({"<JavaScript>console.log('typed: ' + document.getElementById('name').value)"
                     "</JavaScript>", 0});
  // The drop-down is left open, so that demo.png shows its list.
  o.steps.push_back({"<MouseClick><MouseX>660</MouseX><MouseY>233</MouseY></MouseClick>", 0});
  o.steps.push_back({"", 1000});
}

TOptions ParseOptions(int argc, char** argv) {
  TOptions o;
  o.host = platform::ExecutableFolder() + "/pv7host";
  if (argc == 1) {
    AddDemo(o);
    return o;
  }
  std::string headers;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw Exception(a + " needs a value");
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (a == "--version") {
      std::fputs("pv7parent " PV7_VERSION "\n", stdout);
      std::exit(0);
    } else if (a == "--host") {
      o.host = value();
    } else if (a == "--port") {
      o.port = NumberIn(value(), 1, 65535, "--port");
    } else if (a == "--show") {
      o.show = true;
    } else if (a == "--timeout") {
      o.timeoutS = NumberIn(value(), 1, 86400, "--timeout");
    } else if (a == "--keep") {
      o.keep = true;
    } else if (a == "--size") {
      std::string v = value();
      size_t x = v.find_first_of("xX");
      if (x == std::string::npos) throw Exception("--size: expected WxH");
      auto w = Numbers(v.substr(0, x), 1, "--size"), h = Numbers(v.substr(x + 1), 1, "--size");
      o.steps.push_back({"<WindowSize><WndSzX>" + std::to_string(w[0]) + "</WndSzX><WndSzY>" +
                         std::to_string(h[0]) + "</WndSzY></WindowSize>", 0});
    } else if (a == "--headers") {
      headers = value();
    } else if (a == "--url") {
      std::string url = value();
      o.steps.push_back({Document("<LoadWEBURL><WEBURL>" + Escape(url) + "</WEBURL><HEADERS>" +
                                  Escape(headers) + "</HEADERS></LoadWEBURL>"), 0});
    } else if (a == "--click") {
      auto n = Numbers(value(), 2, "--click");
      o.steps.push_back({"<MouseClick><MouseX>" + std::to_string(n[0]) + "</MouseX><MouseY>" +
                         std::to_string(n[1]) + "</MouseY></MouseClick>", 0});
    } else if (a == "--wheel") {
      auto n = Numbers(value(), 4, "--wheel");
      o.steps.push_back({"<MouseWheel><MouseX>" + std::to_string(n[0]) + "</MouseX><MouseY>" +
                         std::to_string(n[1]) + "</MouseY><MouseDeltaX>" + std::to_string(n[2]) +
                         "</MouseDeltaX><MouseDeltaY>" + std::to_string(n[3]) +
                         "</MouseDeltaY></MouseWheel>", 0});
    } else if (a == "--key") {
      std::string v = value();
      size_t comma = v.find(',');
      if (comma == std::string::npos) throw Exception("--key: expected TYPE,KEY[,MODIFIERS]");
      std::string rest = v.substr(comma + 1);
      auto n = Numbers(rest, rest.find(',') == std::string::npos ? 1 : 2, "--key");
      o.steps.push_back({"<KeyPress keyType=\"" + Escape(KeyType(v.substr(0, comma))) +
                         "\" sysChar=\"FALSE\" key=\"" + std::to_string(n[0]) +
                         "\" modifiers=\"" + std::to_string(n.size() > 1 ? n[1] : 0) + "\"/>", 0});
    } else if (a == "--type") {
      for (char16_t unit : Utf16Units(value(), "--type")) o.steps.push_back({CharKey(unit), 0});
    } else if (a == "--js") {
      o.steps.push_back({Document("<JavaScript>" + Escape(value()) + "</JavaScript>"), 0});
    } else if (a == "--xml") {
      o.steps.push_back({value(), 0});
    } else if (a == "--commands") {
      AddCommandsFile(o, value());
    } else if (a == "--wait") {
      o.steps.push_back({"", NumberIn(value(), 0, 3600000, "--wait")});
    } else if (a == "--frames") {
      o.framesDir = value();
      if (!std::filesystem::is_directory(o.framesDir))
        throw Exception("--frames: " + o.framesDir + " is not a folder");
    } else if (a == "--snapshot") {
      o.snapshot = value();
    } else if (a == "--quiet-frames") {
      o.quietFrames = true;
    } else if (a == "--reply") {
      o.haveReply = true;
      o.reply = value();
    } else if (a == "--reply-file") {
      o.haveReply = true;
      o.reply = ReadFile(value());
    } else {
      throw Exception("unknown option " + a + " (see --help)");
    }
  }
  return o;
}

// Writes a 24-bit bottom-up BMP as an RGB PNG.
bool WritePng(const std::string& bmp, const std::string& path) {
  if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') return false;
  auto le32 = [&](size_t at) {
    return uint32_t(uint8_t(bmp[at])) | uint32_t(uint8_t(bmp[at + 1])) << 8 |
           uint32_t(uint8_t(bmp[at + 2])) << 16 | uint32_t(uint8_t(bmp[at + 3])) << 24;
  };
  const uint32_t w = le32(18), h = le32(22);
  const size_t rowSize = (size_t(w) * 3 + 3) & ~size_t(3);
  if (w == 0 || h == 0 || bmp.size() < 54 + rowSize * h) return false;
  std::vector<uint8_t> rgb(size_t(w) * h * 3);
  for (uint32_t y = 0; y < h; ++y) {
    const char* src = bmp.data() + 54 + rowSize * (h - 1 - y);
    uint8_t* dst = rgb.data() + size_t(y) * w * 3;
    for (uint32_t x = 0; x < w; ++x) {
      dst[x * 3] = uint8_t(src[x * 3 + 2]);
      dst[x * 3 + 1] = uint8_t(src[x * 3 + 1]);
      dst[x * 3 + 2] = uint8_t(src[x * 3]);
    }
  }
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr{};
  ihdr.width = w;
  ihdr.height = h;
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  spng_set_ihdr(ctx, &ihdr);
  int err = spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  size_t len = 0;
  void* png = err ? nullptr : spng_get_png_buffer(ctx, &len, &err);
  spng_ctx_free(ctx);
  if (!png) return false;
  std::ofstream out(path, std::ios::binary);
  out.write(static_cast<const char*>(png), std::streamsize(len));
  std::free(png);
  return bool(out);
}

class TParent {
 public:
  explicit TParent(TOptions options) : FOptions(std::move(options)), FListener(uint16_t(FOptions.port)) {}

  int Run();

 private:
  void Print(const std::string& line) {
    std::lock_guard<std::mutex> guard(FPrintLock);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
  }
  void PrintError(const std::string& line) {
    std::lock_guard<std::mutex> guard(FPrintLock);
    std::fputs(("pv7parent: " + line + "\n").c_str(), stderr);
  }
  void AcceptLoop();
  void Serve(std::shared_ptr<platform::TcpSocket> socket, long seq);
  void AwaitTurn(long seq);
  void PassTurn();
  void ServeDraw(platform::TcpSocket& socket);
  void ServeIntf(platform::TcpSocket& socket);
  bool WaitForActn(int timeoutMs);
  void SendCommands();
  platform::ChildProcess StartHost();
  bool WaitForHostToConnect(platform::ChildProcess& host, std::optional<int>& status);
  std::optional<int> AwaitHost(platform::ChildProcess& host, std::optional<int> status);
  std::chrono::steady_clock::duration Elapsed() const;
  void CloseConnections();
  bool WriteSnapshot();
  void PrintSummary(const std::optional<int>& status);

  TOptions FOptions;
  platform::TcpListener FListener;
  std::mutex FPrintLock;  // guards stdout lines
  std::atomic<bool> FStop{false};
  std::mutex FLock;  // guards FActn, FThreads, FOpen, FLastFrame
  // Every accepted connection, so that the end of the run can wake their readers:
  // a connection left open by its peer must not keep the parent waiting.
  std::vector<std::shared_ptr<platform::TcpSocket>> FOpen;
  std::condition_variable FActnArrived;
  std::shared_ptr<platform::TcpSocket> FActn;
  std::vector<std::thread> FThreads;
  // Connections are numbered as they are accepted, and each one's tag is handled in
  // that order, so console texts (one connection each, sent one after another) are
  // printed in the order the page wrote them.
  long FAccepted = 0;  // guarded by FLock
  std::mutex FTurnLock;  // guards FTurn
  std::condition_variable FTurnChanged;
  long FTurn = 0;
  std::string FLastFrame;
  std::atomic<long> FFrames{0}, FConsole{0}, FBridge{0};
  std::atomic<bool> FFramesLost{false};  // a frame could not be saved in --frames
  std::chrono::steady_clock::time_point FFirstFrame, FLastFrameAt;
  std::chrono::steady_clock::time_point FStart;  // set once by Run before any thread starts
};

void TParent::AcceptLoop() {
  while (!FStop) {
    platform::TcpSocket s;
    try {
      s = FListener.Accept(100);
    } catch (const std::exception&) {
      return;
    }
    if (!s.IsOpen()) continue;
    std::lock_guard<std::mutex> guard(FLock);
    auto sock = std::make_shared<platform::TcpSocket>(std::move(s));
    FOpen.push_back(sock);
    const long seq = FAccepted++;
    FThreads.emplace_back([this, sock, seq] { Serve(sock, seq); });
  }
}

void TParent::AwaitTurn(long seq) {
  std::unique_lock<std::mutex> lock(FTurnLock);
  FTurnChanged.wait(lock, [&] { return FTurn == seq || FStop; });
}

void TParent::PassTurn() {
  std::lock_guard<std::mutex> lock(FTurnLock);
  ++FTurn;
  FTurnChanged.notify_all();
}

void TParent::Serve(std::shared_ptr<platform::TcpSocket> connection, long seq) {
  platform::TcpSocket& socket = *connection;
  std::string tag;
  bool tagged = false;
  try {
    streamut::TMemoryStream first;
    ReadMessage(socket, first);
    tag = first.View();
    tagged = true;
  } catch (const std::exception&) {
    // The connection ended before its tag.
  }
  AwaitTurn(seq);
  if (tagged && tag.rfind("CMSG", 0) == 0) {
    ++FConsole;
    Print("console " + tag.substr(4));
  }
  PassTurn();
  if (!tagged || tag.rfind("CMSG", 0) == 0) return;
  try {
    if (tag == "ACTN") {
      Print("connection ACTN");
      std::lock_guard<std::mutex> guard(FLock);
      FActn = connection;
      FActnArrived.notify_all();
    } else if (tag == "DRAW") {
      Print("connection DRAW");
      ServeDraw(socket);
    } else if (tag == "INTF") {
      Print("connection INTF");
      ServeIntf(socket);
    } else {
      PrintError("note: a connection with an unknown tag (" + std::to_string(tag.size()) + " bytes)");
    }
  } catch (const std::exception&) {
    // The connection ended; nothing more to do with it.
  }
}

void TParent::ServeDraw(platform::TcpSocket& socket) {
  streamut::TMemoryStream frame;
  for (;;) {
    frame.SetSize(0);
    ReadMessage(socket, frame);
    const long n = ++FFrames;
    auto now = std::chrono::steady_clock::now();
    if (n == 1) FFirstFrame = now;
    FLastFrameAt = now;
    std::string_view bmp = frame.View();
    int w = 0, h = 0;
    if (bmp.size() >= 26) {
      std::memcpy(&w, bmp.data() + 18, 4);
      std::memcpy(&h, bmp.data() + 22, 4);
    }
    if (!FOptions.quietFrames)
      Print("frame " + std::to_string(n) + " " + std::to_string(w) + "x" + std::to_string(h) + " " +
            std::to_string(bmp.size()) + " bytes");
    if (!FOptions.framesDir.empty()) {
      char name[32];
      std::snprintf(name, sizeof(name), "/frame-%06ld.bmp", n);
      std::ofstream out(FOptions.framesDir + name, std::ios::binary);
      if (!out.write(bmp.data(), std::streamsize(bmp.size())) && !FFramesLost.exchange(true))
        PrintError("error: could not write " + FOptions.framesDir + name);
    }
    if (!FOptions.snapshot.empty()) {
      std::lock_guard<std::mutex> guard(FLock);
      FLastFrame.assign(bmp);
    }
  }
}

void TParent::ServeIntf(platform::TcpSocket& socket) {
  streamut::TMemoryStream request;
  for (;;) {
    request.SetSize(0);
    ReadMessage(socket, request);
    ++FBridge;
    std::string text(request.View());
    Print("intf request " + std::to_string(text.size()) + " bytes: " + text);
    std::string reply = FOptions.haveReply ? FOptions.reply
                                           : "<Reply>" + std::to_string(text.size()) + "</Reply>";
    WriteMessage(socket, reply.data(), int64_t(reply.size()));
    Print("intf reply " + std::to_string(reply.size()) + " bytes: " + reply);
  }
}

bool TParent::WaitForActn(int timeoutMs) {
  std::unique_lock<std::mutex> guard(FLock);
  return FActnArrived.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return FActn != nullptr; });
}

void TParent::SendCommands() {
  std::shared_ptr<platform::TcpSocket> actn;
  {
    std::lock_guard<std::mutex> guard(FLock);
    actn = FActn;
  }
  std::vector<TStep> steps = FOptions.steps;
  if (!FOptions.keep) steps.push_back({"<Destroy/>", 0});
  for (const TStep& step : steps) {
    if (step.document.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(step.waitMs));
      continue;
    }
    Print("command " + step.document);
    WriteMessage(*actn, step.document.data(), int64_t(step.document.size()));
  }
}

// Starts the host as the leader of a process group of its own, so that the end of
// the run can end whatever the host started as well.
platform::ChildProcess TParent::StartHost() {
  std::vector<std::string> args = {"-drawPort=" + std::to_string(FListener.Port()),
                                   "-parentID=" + std::to_string(platform::GetCurrentProcessId()),
                                   FOptions.show ? "-showSelf=1" : "-showSelf=0"};
  platform::ChildProcess host = platform::ChildProcess::StartGroupLeader(FOptions.host, args);
  Print("host started: " + FOptions.host + " (pid " + std::to_string(host.Pid()) + ")");
  return host;
}

// Waits for the host's ACTN connection, or for the host to end first (it could not
// start, or ended before it connected); true when ACTN is there.
bool TParent::WaitForHostToConnect(platform::ChildProcess& host, std::optional<int>& status) {
  for (;;) {
    if (WaitForActn(50)) return true;
    if ((status = host.Wait(0))) return false;
    if (Elapsed() > std::chrono::seconds(FOptions.timeoutS)) return false;
  }
}

std::chrono::steady_clock::duration TParent::Elapsed() const {
  return std::chrono::steady_clock::now() - FStart;
}

// The host's exit status once it ended by itself within the time-out; nothing when
// it had to be killed. Its whole process group is ended either way.
std::optional<int> TParent::AwaitHost(platform::ChildProcess& host, std::optional<int> status) {
  if (!status) {
    const auto left = std::chrono::seconds(FOptions.timeoutS) - Elapsed();
    status = host.Wait(int(std::max<long long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(left).count(), 0)));
  }
  if (!status) {
    PrintError("error: time-out: the host did not end within " + std::to_string(FOptions.timeoutS) +
               " s; killing it");
    host.KillGroup();
    host.Wait(-1);
  }
  host.KillGroup();
  return status;
}

void TParent::CloseConnections() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    for (const auto& connection : FOpen) connection->Shutdown();
  }
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> guard(FLock);
    threads.swap(FThreads);
  }
  for (std::thread& t : threads) t.join();
}

bool TParent::WriteSnapshot() {
  if (FOptions.snapshot.empty()) return true;
  if (FLastFrame.empty()) {
    PrintError("error: no frame arrived to write to " + FOptions.snapshot);
    return false;
  }
  if (!WritePng(FLastFrame, FOptions.snapshot)) {
    PrintError("error: could not write " + FOptions.snapshot);
    return false;
  }
  Print("snapshot written to " + FOptions.snapshot);
  return true;
}

void TParent::PrintSummary(const std::optional<int>& status) {
  double seconds = std::chrono::duration<double>(FLastFrameAt - FFirstFrame).count();
  char fps[32];
  std::snprintf(fps, sizeof(fps), "%.1f", FFrames > 1 && seconds > 0 ? (FFrames - 1) / seconds : 0.0);
  Print("summary: frames=" + std::to_string(FFrames) + " fps=" + fps +
        " console=" + std::to_string(FConsole) + " bridge=" + std::to_string(FBridge) +
        " status=" + (status ? std::to_string(*status) : std::string("none")));
}

int TParent::Run() {
  FStart = std::chrono::steady_clock::now();
  Print("listening on 127.0.0.1:" + std::to_string(FListener.Port()));
  std::optional<platform::ChildProcess> host;
  try {
    host.emplace(StartHost());
  } catch (const std::exception& e) {
    PrintError(std::string("error: the host could not be started: ") + e.what());
    return 1;
  }
  std::thread acceptor([this] { AcceptLoop(); });
  std::optional<int> status;
  const bool connected = WaitForHostToConnect(*host, status);
  bool ok = connected;
  if (connected && !status) {
    try {
      SendCommands();
    } catch (const std::exception& e) {
      PrintError(std::string("error: sending commands failed: ") + e.what());
      ok = false;
    }
  }
  status = AwaitHost(*host, status);
  if (status) {
    Print("host exited with status " + std::to_string(*status));
    ok = ok && *status == 0;
  } else {
    ok = false;
  }
  if (!connected) PrintError("error: the host never opened its channels");
  FStop = true;
  {
    std::lock_guard<std::mutex> lock(FTurnLock);  // wakes connections waiting their turn
    FTurnChanged.notify_all();
  }
  acceptor.join();
  CloseConnections();
  ok = WriteSnapshot() && ok && !FFramesLost;
  PrintSummary(status);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<TOptions> options;
  try {
    options.emplace(ParseOptions(argc, argv));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pv7parent: %s\n%s", e.what(), kUsageHint);
    return 2;
  }
  try {
    TParent parent(std::move(*options));
    return parent.Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pv7parent: error: %s\n", e.what());
    return 1;
  }
}
