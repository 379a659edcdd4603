// The bridge's parts without Chromium: the messages and scripts of the engine
// library, its framing, and TPV7APIv1CEFExtension over real sockets with the real
// engine library loaded (for its JavaScript values).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "bridge.h"
#include "engine/cefextPV7APIv1.h"
#include "engine/cefintrk.h"
#include "engine/cefload.h"
#include "host/channel.h"
#include "host/streamut.h"
#include "platform/process.h"

using namespace cefeng;

// ------------------------------------------------------------ engine library

TEST(BridgeMessages, CallBodyKeepsTypesAndRefusesMalformedInput) {
  BridgeCall call;
  std::string error;
  ASSERT_TRUE(ParseCallBody(R"({"x":0,"n":"CallPV7XML","a":[{"t":"s","v":"<a/>"},{"t":"n","v":2.5},
      {"t":"n","v":"-Infinity"},{"t":"b","v":true},{"t":"z"},{"t":"u"},{"t":"a"},{"t":"f"},
      {"t":"d","v":5},{"t":"o"}]})", call, error)) << error;
  EXPECT_EQ(call.name, "CallPV7XML");
  ASSERT_EQ(call.args.size(), 10u);
  EXPECT_EQ(call.args[0].kind, BridgeValue::String);
  EXPECT_EQ(call.args[0].text, "<a/>");
  EXPECT_EQ(call.args[1].number, 2.5);
  EXPECT_TRUE(std::isinf(call.args[2].number) && call.args[2].number < 0);
  EXPECT_TRUE(call.args[3].boolean);
  const BridgeValue::Kind kinds[] = {BridgeValue::Null, BridgeValue::Undefined, BridgeValue::Array,
                                     BridgeValue::Function, BridgeValue::Date, BridgeValue::Object};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(call.args[size_t(4 + i)].kind, kinds[i]) << i;

  for (const char* bad : {"", "[]", "{", "null", R"({"n":"f"})", R"({"x":-1,"n":"f"})",
                          R"({"x":0,"n":"a b"})", R"({"x":0,"n":"1f"})", R"({"x":0,"n":"f","a":{}})",
                          R"({"x":0,"n":"f","a":[{"t":"q"}]})", R"({"x":0,"n":"f","a":[{"t":"s"}]})",
                          R"({"x":0,"n":"f","a":[{"t":"n","v":"1e3"}]})", "{\"x\":0,\"n\":\"\xff\"}"}) {
    BridgeCall c;
    EXPECT_FALSE(ParseCallBody(bad, c, error)) << bad;
  }
  std::string many = R"({"x":0,"n":"f","a":[)";
  for (size_t i = 0; i <= kBridgeMaxArgs; ++i) many += std::string(i ? "," : "") + R"({"t":"u"})";
  many += "]}";
  EXPECT_FALSE(ParseCallBody(many, call, error));
}

TEST(BridgeMessages, CallsRepliesAndExtensionListsSurviveTheirRoundTrip) {
  BridgeCall call;
  call.id = 7;
  call.extension = 2;
  call.name = "Echo";
  BridgeValue nan;
  nan.kind = BridgeValue::Number;
  nan.number = NAN;
  call.args = {nan};
  BridgeCall back;
  ASSERT_TRUE(ParseCallMessage(CallMessage(call), back));
  EXPECT_EQ(back.id, 7u);
  EXPECT_EQ(back.extension, 2);
  EXPECT_TRUE(std::isnan(back.args.at(0).number));

  BridgeReply reply;
  reply.id = 9;
  reply.handled = true;
  reply.result.kind = BridgeValue::String;
  reply.result.text = "r\xc3\xa9";
  BridgeReply got;
  ASSERT_TRUE(ParseReplyMessage(ReplyMessage(reply), got));
  EXPECT_EQ(got.id, 9u);
  EXPECT_EQ(got.result.text, "r\xc3\xa9");
  EXPECT_EQ(ReplyBody(got), R"({"r":{"t":"s","v":"ré"}})");
  reply.hasException = true;
  reply.exception = "bad";
  ASSERT_TRUE(ParseReplyMessage(ReplyMessage(reply), got));
  EXPECT_EQ(ReplyBody(got), R"({"e":"bad"})");
  reply = BridgeReply();
  ASSERT_TRUE(ParseReplyMessage(ReplyMessage(reply), got));
  EXPECT_EQ(ReplyBody(got), "{}");
  EXPECT_FALSE(ParseReplyMessage(R"({"id":1,"h":true})", got));  // handled without a value
  EXPECT_FALSE(ParseReplyMessage(R"({"h":false})", got));

  std::vector<ExtensionSource> list = {{"v8/a", "var a;"}, {"v8/b", "native function f();"}};
  std::vector<ExtensionSource> out;
  ASSERT_TRUE(ParseExtensionList(ExtensionListMessage(list), out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].code, "native function f();");
  EXPECT_FALSE(ParseExtensionList(R"({"extensions":[{"name":1,"code":""}]})", out));
}

TEST(BridgeScripts, NativeDeclarationsBecomeCallsOfTheirExtension) {
  EXPECT_EQ(RewriteNativeFunctions("  native function CallPV7XML(requestXML);\n", 3),
            "  function CallPV7XML(requestXML) { return __pv7native(3, \"CallPV7XML\", arguments); }\n");
  EXPECT_EQ(RewriteNativeFunctions("native  function\tf(a, b)  x", 0),
            "function f(a, b) { return __pv7native(0, \"f\", arguments); }  x");
  // Words that only look alike stay as they are.
  for (const char* same : {"nativefunction f();", "var native = 1; native(2);", "xnative function f();",
                           "native function (a);", "native function f(a.b);", "native function f(a",
                           "native"})
    EXPECT_EQ(RewriteNativeFunctions(same, 0), same);
  std::vector<std::string> scripts = InjectedScripts({{"v8/PV7APIv1", "var PV7APIv1;"}});
  ASSERT_EQ(scripts.size(), 2u);
  EXPECT_NE(scripts[0].find(kBridgeUrl), std::string::npos);
  EXPECT_NE(scripts[1].find("//# sourceURL=v8/PV7APIv1"), std::string::npos);
  EXPECT_TRUE(InjectedScripts({}).empty());
  EXPECT_EQ(Base64Encode("ab"), "YWI=");
  EXPECT_EQ(Base64Encode("abc\xff"), "YWJj/w==");
}

TEST(BridgeFraming, FramesAreBoundedAndCutOffFramesAreReported) {
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  ASSERT_TRUE(WriteFrame(sv[0], "hello"));
  ASSERT_TRUE(WriteFrame(sv[0], ""));
  std::string got;
  EXPECT_EQ(ReadFrame(sv[1], got, 1000), FrameResult::Ok);
  EXPECT_EQ(got, "hello");
  EXPECT_EQ(ReadFrame(sv[1], got, 1000), FrameResult::Ok);
  EXPECT_EQ(got, "");
  EXPECT_EQ(ReadFrame(sv[1], got, 50), FrameResult::Timeout);
  // A length beyond the limit is refused before anything is allocated.
  const char huge[4] = {'\x7f', '\x00', '\x00', '\x00'};
  ASSERT_EQ(write(sv[0], huge, 4), 4);
  EXPECT_EQ(ReadFrame(sv[1], got, 1000, 1024), FrameResult::TooLarge);
  // A frame cut off by the end of the stream.
  const char part[6] = {0, 0, 0, 9, 'a', 'b'};
  ASSERT_EQ(write(sv[0], part, 6), 6);
  close(sv[0]);
  EXPECT_EQ(ReadFrame(sv[1], got, 1000), FrameResult::Closed);
  EXPECT_TRUE(got.empty());
  close(sv[1]);
}

// ------------------------------------------------------------ TPV7APIv1CEFExtension

namespace {

class BridgeExtension : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    EngineLibraryName() = PV7_ENGINE_LIBRARY;
    LoadEngineLibrary();
  }
  static void TearDownTestSuite() { UnloadEngineLibrary(); }
  void TearDown() override { SetEngineArguments(std::vector<std::string>{}); }

  static cef_v8value_t* Str(const std::u16string& s) {
    cef_string_t v = CefStringView(s);
    return CefLib().cef_v8value_create_string(&v);
  }
  // Calls Execute as the engine does; the result's text, or nullopt when not handled.
  static std::optional<std::u16string> Call(TPV7APIv1CEFExtension& ext, const std::u16string& name,
                                            std::vector<cef_v8value_t*> args) {
    cef_v8handler_t* h = ext.Data<cef_v8handler_t>();
    cef_string_t n = CefStringView(name);
    cef_v8value_t* result = nullptr;
    cef_string_t exception{};
    int handled = h->execute(h, &n, nullptr, args.size(), args.data(), &result, &exception);
    EXPECT_EQ(exception.length, 0u);
    if (!handled) {
      EXPECT_EQ(result, nullptr);
      return std::nullopt;
    }
    EXPECT_NE(result, nullptr);
    if (!result) return std::u16string();
    EXPECT_TRUE(result->is_string(result));
    std::u16string text = CefStringClaim(result->get_string_value(result));
    result->base.release(&result->base);
    return text;
  }
};

// A parent that accepts INTF connections and answers with `reply` (nullopt: closes
// the connection instead).
struct TParent {
  platform::TcpListener listener;
  std::atomic<int> connections{0};
  std::vector<std::string> seen;  // tags and requests, in order
  std::mutex m;
  std::function<std::optional<std::string>(const std::string&)> reply;
  std::atomic<bool> stop{false};
  std::thread t;  // last: it uses every member above
  explicit TParent(std::function<std::optional<std::string>(const std::string&)> r)
      : reply(std::move(r)), t([this] { Run(); }) {}
  ~TParent() {
    stop = true;
    t.join();
  }
  void Run() {
    while (!stop) {
      platform::TcpSocket s = listener.Accept(50);
      if (!s.IsOpen()) continue;
      ++connections;
      try {
        for (;;) {
          streamut::TMemoryStream msg;
          ReadMessage(s, msg, 5000);
          std::string text(msg.View());
          {
            std::lock_guard<std::mutex> g(m);
            seen.push_back(text);
          }
          if (text == "INTF") continue;
          std::optional<std::string> r = reply(text);
          if (!r) break;
          WriteMessage(s, r->data(), int64_t(r->size()));
        }
      } catch (...) {
      }
    }
  }
};

}  // namespace

TEST(BridgeSource, ExtensionSourceIsTheThirteenLines) {
  const std::u16string s = PV7APIv1ExtensionSource();
  EXPECT_EQ(s.size(), 214u);
  size_t lines = 0;
  for (size_t at = s.find(u"\r\n"); at != std::u16string::npos; at = s.find(u"\r\n", at + 2)) ++lines;
  EXPECT_EQ(lines, 13u);
  EXPECT_NE(s.find(u"\r\n    native function CallPV7XML(requestXML);\r\n"), std::u16string::npos);
  EXPECT_EQ(s.substr(s.size() - 9), u"})\r\n();\r\n");
  EXPECT_EQ(NoCallbackText(4242, -1), "PV7APIv1.CallPV7XML: no callback in process 4242 (port: -1)");
}

TEST_F(BridgeExtension, OnlyCallPV7XMLIsHandledAndWithoutADrawPortTheNoCallbackTextComes) {
  TOwnRef<TPV7APIv1CEFExtension> ext = new TPV7APIv1CEFExtension();
  EXPECT_FALSE(Call(*ext.get(), u"callpv7xml", {Str(u"x")}).has_value());
  EXPECT_FALSE(Call(*ext.get(), u"Other", {}).has_value());
  const std::u16string expected =
      Utf8ToU16(NoCallbackText(platform::GetCurrentProcessId(), -1));
  EXPECT_EQ(Call(*ext.get(), u"CallPV7XML", {Str(u"<a/>")}).value_or(u""), expected);
  SetEngineArguments(std::vector<std::string>{"--drawPort=x"});  // not a number: -1 as well
  EXPECT_EQ(Call(*ext.get(), u"CallPV7XML", {}).value_or(u""), expected);
}

TEST_F(BridgeExtension, ExchangesOnOneConnectionCutRepliesAndConvertTexts) {
  TParent parent([](const std::string& r) -> std::optional<std::string> {
    if (r == "zero") return std::string("ab\0cd", 5);
    return "[" + r + "]\xe9";
  });
  // Beyond 65535 the port is taken modulo 65536, as for the host's own channels.
  SetEngineArguments(std::vector<std::string>{"--drawPort=" + std::to_string(parent.listener.Port() + 65536)});
  TOwnRef<TPV7APIv1CEFExtension> ext = new TPV7APIv1CEFExtension();
  EXPECT_EQ(Call(*ext.get(), u"CallPV7XML", {Str(u"<q/>")}).value_or(u""), u"[<q/>]\u00e9");
  EXPECT_EQ(Call(*ext.get(), u"CallPV7XML", {Str(u"zero")}).value_or(u""), u"ab");
  EXPECT_EQ(Call(*ext.get(), u"CallPV7XML", {Str(u"\u20ac\u4e00"), Str(u"ignored")}).value_or(u""),
            u"[\u20ac?]\u00e9");
  EXPECT_EQ(Call(*ext.get(), u"CallPV7XML", {}).value_or(u""), u"[]\u00e9");
  EXPECT_EQ(parent.connections.load(), 1);
  std::lock_guard<std::mutex> g(parent.m);
  EXPECT_EQ(parent.seen, (std::vector<std::string>{"INTF", "<q/>", "zero", "\x80?", ""}));
}

TEST_F(BridgeExtension, ParentClosingTheChannelDropsItAndTheNextCallConnectsAgain) {
  TParent parent([](const std::string& r) -> std::optional<std::string> {
    if (r == "close") return std::nullopt;
    return "ok " + r;
  });
  const int port = parent.listener.Port();
  SetEngineArguments(std::vector<std::string>{"-drawPort=" + std::to_string(port)});
  TOwnRef<TPV7APIv1CEFExtension> ext = new TPV7APIv1CEFExtension();
  EXPECT_EQ(Call(*ext.get(), u"CallPV7XML", {Str(u"close")}).value_or(u""),
            Utf8ToU16(NoCallbackText(platform::GetCurrentProcessId(), port)));
  EXPECT_EQ(Call(*ext.get(), u"CallPV7XML", {Str(u"next")}).value_or(u""), u"ok next");
  EXPECT_EQ(parent.connections.load(), 2);
}

TEST_F(BridgeExtension, NoListenerGivesTheNoCallbackTextAndEveryCallTriesAgain) {
  int port;
  {
    platform::TcpListener closed;
    port = closed.Port();
  }
  SetEngineArguments(std::vector<std::string>{"-drawPort=" + std::to_string(port)});
  TOwnRef<TPV7APIv1CEFExtension> ext = new TPV7APIv1CEFExtension();
  const std::u16string expected = Utf8ToU16(NoCallbackText(platform::GetCurrentProcessId(), port));
  EXPECT_EQ(Call(*ext.get(), u"CallPV7XML", {Str(u"a")}).value_or(u""), expected);
  EXPECT_FALSE(ext->EnsureConnected());
  EXPECT_EQ(Call(*ext.get(), u"CallPV7XML", {Str(u"b")}).value_or(u""), expected);
}
