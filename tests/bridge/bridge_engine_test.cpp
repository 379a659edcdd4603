// The render helper through the engine runtime and the off-screen component, with
// real Chromium: this program is both the browser process and (started again by the
// engine library) its render helpers, which register PV7APIv1 and a test extension.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bridge_support.h"
#include "engine/cefextPV7APIv1.h"
#include "engine/cefintrk.h"
#include "engine/cefload.h"
#include "host/channel.h"
#include "host/streamut.h"
#include "osr/ChromiumOSR.h"
#include "platform/mainloop.h"
#include "platform/process.h"

namespace {

// ------------------------------------------------------------ the helper's side

std::u16string Describe(cef_v8value_t* v) {
  auto is = [v](int(CEF_CALLBACK * cef_v8value_t::*slot)(cef_v8value_t*)) { return (v->*slot)(v) != 0; };
  if (is(&cef_v8value_t::is_string)) return u"string:" + CefStringClaim(v->get_string_value(v));
  if (is(&cef_v8value_t::is_int)) return u"int:" + Utf8ToU16(std::to_string(v->get_int_value(v)));
  if (is(&cef_v8value_t::is_double)) return u"double:" + Utf8ToU16(std::to_string(v->get_double_value(v)));
  if (is(&cef_v8value_t::is_bool)) return v->get_bool_value(v) ? u"bool:true" : u"bool:false";
  if (is(&cef_v8value_t::is_null)) return u"null";
  if (is(&cef_v8value_t::is_undefined)) return u"undefined";
  if (is(&cef_v8value_t::is_array)) return u"array";
  if (is(&cef_v8value_t::is_function)) return u"function";
  if (is(&cef_v8value_t::is_date)) return u"date";
  if (is(&cef_v8value_t::is_object)) return u"object";
  return u"?";
}

int CEF_CALLBACK TestExecute(cef_v8handler_t*, const cef_string_t* name, cef_v8value_t* object,
                             size_t count, cef_v8value_t* const* args, cef_v8value_t** retval,
                             cef_string_t* exception) {
  const std::u16string n = CefString(name);
  std::u16string text;
  for (size_t i = 0; i < count; ++i) {
    if (i) text += u"|";
    text += Describe(args[i]);
    args[i]->base.release(&args[i]->base);
  }
  if (object) object->base.release(&object->base);
  if (n == u"Echo") {
    cef_string_t v = CefStringView(text);
    *retval = CefLib().cef_v8value_create_string(&v);
    return 1;
  }
  if (n == u"Fail") {
    CefStringSet(exception, u"failed on purpose");
    return 1;
  }
  return 0;  // Unknown: not handled
}

int CEF_CALLBACK NoRef(cef_base_t*) { return 1; }

bool RegisterTestExtensions() {
  static cef_v8handler_t handler{};
  handler.base.size = sizeof handler;
  handler.base.add_ref = NoRef;
  handler.base.release = [](cef_base_t*) { return 0; };
  handler.base.has_one_ref = NoRef;
  handler.execute = TestExecute;
  TPV7APIv1CEFExtension::RegisterExtension();
  const std::u16string name = u"v8/test";
  const std::u16string code =
      u"var Test = {};\n(function() {\n  native function Echo();\n  native function Fail();\n"
      u"  native function Unknown();\n  Test.Echo = Echo; Test.Fail = Fail; Test.Unknown = Unknown;\n})();\n";
  cef_string_t n = CefStringView(name), c = CefStringView(code);
  return CefLib().cef_register_extension(&n, &c, &handler) != 0;
}

// ------------------------------------------------------------ the browser's side

bool Pump(const std::function<bool()>& done, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    platform::ProcessPendingEvents();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return done();
}

// One off-screen browser and the console texts of its pages.
struct TView {
  TChromiumOSR osr;
  std::vector<std::string> console;
  TView() {
    osr.OnGetViewRect = [](TObject*, const TBrowserRef&, cef_rect_t* rect, bool& result) {
      *rect = {0, 0, 200, 100};
      result = true;
    };
    osr.OnConsoleMessage = [this](TObject*, const TBrowserRef&, const std::u16string& m,
                                  const std::u16string&, int, bool&) { console.push_back(U16ToUtf8(m)); };
    osr.Loaded();
  }
  void Js(const std::string& code) {
    cef_browser_t* b = osr.EngineBrowser().get();
    cef_frame_t* f = b->get_main_frame(b);
    const std::u16string c = Utf8ToU16(code), u;
    cef_string_t cv = CefStringView(c), uv = CefStringView(u);
    f->execute_java_script(f, &cv, &uv, 1);
    f->base.release(&f->base);
  }
  std::optional<std::string> Console(const std::string& prefix, int ms = 20000) {
    std::optional<std::string> found;
    Pump([&] {
      for (const std::string& t : console)
        if (t.rfind(prefix, 0) == 0) {
          found = t;
          return true;
        }
      return false;
    }, ms);
    return found;
  }
};

class EngineEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    EngineLibraryName() = PV7_ENGINE_LIBRARY;
    ConfigureEngine();
    char arg0[] = "bridge_engine_tests";
    char* argv[] = {arg0, nullptr};
    ASSERT_TRUE(StartEngine(1, argv));
  }
  void TearDown() override { StopEngine(); }
};

class BridgeEngine : public ::testing::Test {
 protected:
  void TearDown() override { SetEngineArguments(std::vector<std::string>{}); }
};

// Accepts INTF connections and answers each request with "<n>:request", n the
// connection's number.
struct TParent {
  platform::TcpListener listener;
  std::atomic<int> connections{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  std::vector<std::shared_ptr<platform::TcpSocket>> sockets;
  std::thread t{[this] { Run(); }};  // last: it uses every member above
  ~TParent() {
    stop = true;
    t.join();
    for (auto& s : sockets) s->Shutdown();
    for (auto& th : threads) th.join();
  }
  void Run() {
    while (!stop) {
      platform::TcpSocket s = listener.Accept(50);
      if (!s.IsOpen()) continue;
      auto sock = std::make_shared<platform::TcpSocket>(std::move(s));
      sockets.push_back(sock);
      int n = ++connections;
      threads.emplace_back([sock, n] {
        try {
          for (;;) {
            streamut::TMemoryStream m;
            ReadMessage(*sock, m);
            std::string text(m.View());
            if (text == "INTF") continue;
            std::string reply = std::to_string(n) + ":" + text;
            WriteMessage(*sock, reply.data(), int64_t(reply.size()));
          }
        } catch (...) {
        }
      });
    }
  }
};

}  // namespace

TEST_F(BridgeEngine, WithoutADrawPortTheHelperGetsMinusOneAndTheCallTheNoCallbackText) {
  auto view = std::make_unique<TView>();
  view->Js("console.log('nd=' + PV7APIv1.CallPV7XML('<a/>'))");
  auto text = view->Console("nd=");
  ASSERT_TRUE(text.has_value());
  std::vector<int> helpers = RenderHelpersOf(platform::GetCurrentProcessId());
  ASSERT_EQ(helpers.size(), 1u);
  EXPECT_EQ(*text, "nd=PV7APIv1.CallPV7XML: no callback in process " + std::to_string(helpers[0]) +
                       " (port: -1)");
  std::vector<std::string> args = CommandLineOf(helpers[0]);
  EXPECT_NE(std::find(args.begin(), args.end(), "--drawPort=-1"), args.end());
  // Closing the browser ends its helper.
  view.reset();
  Pump([] { return false; }, 100);
  EXPECT_TRUE(WaitGone(helpers[0], 10000));
}

TEST_F(BridgeEngine, TwoBrowsersHaveTwoHelpersAndTwoIntfConnections) {
  TParent parent;
  SetEngineArguments(std::vector<std::string>{"-drawPort=" + std::to_string(parent.listener.Port())});
  TView a, b;
  a.Js("console.log('a=' + PV7APIv1.CallPV7XML('from a'))");
  b.Js("console.log('b=' + PV7APIv1.CallPV7XML('from b'))");
  auto ra = a.Console("a="), rb = b.Console("b=");
  ASSERT_TRUE(ra && rb);
  EXPECT_EQ(parent.connections.load(), 2);
  // Each helper has its own connection: the numbers differ.
  EXPECT_NE(ra->substr(0, 4), rb->substr(0, 4));
  EXPECT_EQ(ra->substr(ra->find(':')), ":from a");
  EXPECT_EQ(rb->substr(rb->find(':')), ":from b");
  EXPECT_EQ(RenderHelpersOf(platform::GetCurrentProcessId()).size(), 2u);
}

TEST_F(BridgeEngine, HandlersSeeTypedArgumentsAndTheirExceptionsReachThePage) {
  TView v;
  v.Js("console.log('echo=' + Test.Echo(7, -2, 2.5, 'x\\u00e9', true, null, undefined, [1], "
       "function(){}, new Date(5), {}))");
  EXPECT_EQ(v.Console("echo=").value_or(""),
            "echo=int:7|int:-2|double:2.500000|string:x\xc3\xa9|bool:true|null|undefined|array|"
            "function|date|object");
  v.Js("try { Test.Fail(); console.log('fail=none') } catch (e) { console.log('fail=' + e.message) }");
  EXPECT_EQ(v.Console("fail=").value_or(""), "fail=failed on purpose");
  v.Js("console.log('unknown=' + typeof Test.Unknown())");
  EXPECT_EQ(v.Console("unknown=").value_or(""), "unknown=undefined");
  // A request to the reserved address that is not a call is answered with an error.
  v.Js("try { __pv7native(0, 'a b', []) } catch (e) { console.log('bad=' + e.message) }");
  EXPECT_EQ(v.Console("bad=").value_or(""), "bad=native function call: malformed function name");
}

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--type=", 7) == 0) {
      // Started by the engine library as a render helper.
      EngineLibraryName() = PV7_ENGINE_LIBRARY;
      ConfigureEngine();
      SetRegisterExtensionProc(RegisterTestExtensions);
      const bool browser = StartEngine(argc, argv);
      StopEngine();
      return browser ? 1 : 0;
    }
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new EngineEnv);
  return RUN_ALL_TESTS();
}
