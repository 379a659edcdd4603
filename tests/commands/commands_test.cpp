// DispatchCommand over a target holding a real component on the scripted engine,
// the command reader ending on Destroy, and the main form's paint policy with its
// frames read back from a DRAW connection of the test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/cefintrk.h"
#include "host/channel.h"
#include "host/commands.h"
#include "host/commandthread.h"
#include "host/mainform.h"
#include "host/switches.h"
#include "osr/ChromiumOSR.h"
#include "platform/codepage.h"
#include "platform/dynlib.h"
#include "tests/scripted_engine/scripted_probe.h"
#include "platform/socket.h"
#include "xml/exception.h"
#include "xml/stream.h"

namespace {

using namespace scripted;

// The calls that reach the engine's host and frame objects (not the getters).
std::vector<std::string> Effects() {
  std::vector<std::string> out;
  for (const std::string& c : Calls())
    if ((c.rfind("host.", 0) == 0 || c.rfind("frame.", 0) == 0) && c.rfind("frame.is_valid", 0) != 0)
      out.push_back(c);
  return out;
}

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureEngine();
    char arg0[] = "pv7host";
    char* argv[] = {arg0, nullptr};
    ASSERT_TRUE(StartEngine(1, argv));
  }
  void TearDown() override {
    EXPECT_EQ(Outstanding(), 0) << "references the program did not release";
    StopEngine();
  }
};

// A command target over a component with a browser on the scripted engine.
class Target : public ICommandTarget {
 public:
  Target() {
    FChromium.Loaded();
    ClearCalls();
  }
  TCefRef<cef_browser_t> EngineBrowser() override { return FChromium.EngineBrowser(); }
  TFrameBitmap& ViewBitmap() override { return FView; }
  void SetHeaders(std::string headers) override {
    FHeaders = std::move(headers);
    ++FHeaderSets;
  }
  void Navigate(const std::string& url) override {
    FNavigated.push_back(url);
    FChromium.Navigate(platform::AnsiToWide(url));
  }
  void PostQuit() override { ++FQuits; }

  TChromiumOSR FChromium;
  TFrameBitmap FView;
  std::string FHeaders = "unset";
  int FHeaderSets = 0;
  std::vector<std::string> FNavigated;
  int FQuits = 0;
};

void Dispatch(ICommandTarget& target, const std::string& text, TGoGoThread* thread = nullptr) {
  TStringStream message(text);
  DispatchCommand(target, message, thread);
}

}  // namespace

// --- DispatchCommand ----------------------------------------------------------------

using Commands = Engine;

TEST_F(Commands, MouseAndKeyEventsWithTheirFields) {
  Target t;
  Dispatch(t, "<MouseClick><MouseX>-3</MouseX><MouseY>$10</MouseY></MouseClick>");
  Dispatch(t, "<mouseclick><MouseX>1</MouseX><MouseY>2</MouseY></mouseclick>");  // any case
  Dispatch(t, "<KeyPress keyType=\"Kt_Char\" key=\"97\"/>");
  Dispatch(t, "<KeyPress keyType=\"KT_KEYDOWN\" key=\"13\" modifiers=\"65538\"/>");
  Dispatch(t, "<KeyPress keyType=\"KT_KEYUP\"/>");
  Dispatch(t, "<KeyPress keyType=\"KT_SYSKEY\" key=\"13\"/>");
  Dispatch(t, "<KeyPress key=\"13\"/>");
  Dispatch(t, "<MouseWheel><MouseX>4</MouseX><MouseY>5</MouseY><MouseDeltaX>0</MouseDeltaX>"
              "<MouseDeltaY>-120</MouseDeltaY></MouseWheel>");
  const std::vector<std::string> expected = {
      "host.send_mouse_click_event x=-3 y=16 mods=16 button=0 up=0 count=1",
      "host.send_mouse_click_event x=-3 y=16 mods=0 button=0 up=1 count=1",
      "host.send_mouse_click_event x=1 y=2 mods=16 button=0 up=0 count=1",
      "host.send_mouse_click_event x=1 y=2 mods=0 button=0 up=1 count=1",
      "host.send_key_event type=3 key=97 char=0 mods=0",
      "host.send_key_event type=0 key=13 char=0 mods=2",
      "host.send_key_event type=2 key=0 char=0 mods=0",
      "host.send_mouse_wheel_event x=4 y=5 mods=0 dx=0 dy=-120",
  };
  EXPECT_EQ(Effects(), expected);
}

TEST_F(Commands, MissingOrBadFieldsRaiseBeforeAnyEngineCall) {
  Target t;
  for (const char* text : {"<MouseClick><MouseX>1</MouseX></MouseClick>",
                           "<MouseClick><mousex>1</mousex><MouseY>2</MouseY></MouseClick>",
                           "<MouseClick><MouseX>1.5</MouseX><MouseY>2</MouseY></MouseClick>",
                           "<MouseWheel><MouseX>1</MouseX><MouseY>2</MouseY><MouseDeltaX>3"
                           "</MouseDeltaX></MouseWheel>",
                           "<WindowSize><WndSzX>4</WndSzX><WndSzY></WndSzY></WindowSize>"}) {
    EXPECT_THROW(Dispatch(t, text), EConvertError) << text;
  }
  // Non-numeric key attributes fail the same way.
  EXPECT_THROW(Dispatch(t, "<KeyPress keyType=\"KT_CHAR\" key=\"a\"/>"), EConvertError);
  EXPECT_THROW(Dispatch(t, "<KeyPress keyType=\"KT_CHAR\" key=\"1\" modifiers=\"x\"/>"),
               EConvertError);
  EXPECT_THROW(Dispatch(t, "<MouseClick><MouseX>1</MouseX"), Exception);
  EXPECT_TRUE(Effects().empty());
  EXPECT_EQ(t.FView.Width(), 0);
}

TEST_F(Commands, UnknownRootAndNoRootDoNothing) {
  Target t;
  Dispatch(t, "<Navigate><WEBURL>http://x/</WEBURL></Navigate>");
  Dispatch(t, "<?xml version=\"1.0\"?>");
  Dispatch(t, "");
  EXPECT_TRUE(Effects().empty());
  EXPECT_TRUE(t.FNavigated.empty());
  EXPECT_EQ(t.FQuits, 0);
}

TEST_F(Commands, WindowSizeSetsTheViewAndTellsTheEngine) {
  Target t;
  Dispatch(t, "<WindowSize><WndSzX>3</WndSzX><WndSzY>2</WndSzY></WindowSize>");
  ASSERT_EQ(t.FView.Width(), 3);
  ASSERT_EQ(t.FView.Height(), 2);
  std::memset(t.FView.Pixels(), 0x55, 3 * 2 * 4);
  // The same size keeps the pixels.
  Dispatch(t, "<WindowSize><WndSzX>3</WndSzX><WndSzY>2</WndSzY></WindowSize>");
  EXPECT_EQ(t.FView.Pixels()[0], 0x55);
  EXPECT_EQ(t.FView.Pixels()[3 * 2 * 4 - 1], 0x55);
  // Negative sizes count as 0.
  Dispatch(t, "<WindowSize><WndSzX>-5</WndSzX><WndSzY>7</WndSzY></WindowSize>");
  EXPECT_EQ(t.FView.Width(), 0);
  EXPECT_EQ(t.FView.Height(), 7);
  EXPECT_TRUE(t.FView.Empty());
  EXPECT_EQ(Effects(), (std::vector<std::string>{"host.was_resized", "host.was_resized",
                                                 "host.was_resized"}));
}

TEST_F(Commands, LoadWEBURLSetsTheHeadersThenLoads) {
  Target t;
  Dispatch(t, "<LoadWEBURL><WEBURL>http://127.0.0.1:1/a?b=1&amp;c=2</WEBURL>"
              "<HEADERS>X-Till=7;X-Mode=test</HEADERS></LoadWEBURL>");
  EXPECT_EQ(t.FHeaders, "X-Till=7;X-Mode=test");
  // An empty or missing list clears the headers.
  Dispatch(t, "<LoadWEBURL><WEBURL>http://127.0.0.1:1/b</WEBURL><HEADERS/></LoadWEBURL>");
  EXPECT_EQ(t.FHeaders, "");
  t.FHeaders = "unset";
  Dispatch(t, "<LoadWEBURL><WEBURL>http://127.0.0.1:1/c</WEBURL></LoadWEBURL>");
  EXPECT_EQ(t.FHeaders, "");
  EXPECT_EQ(t.FHeaderSets, 3);
  EXPECT_EQ(t.FNavigated, (std::vector<std::string>{"http://127.0.0.1:1/a?b=1&c=2",
                                                   "http://127.0.0.1:1/b",
                                                   "http://127.0.0.1:1/c"}));
  EXPECT_EQ(Effects(), (std::vector<std::string>{"frame.load_url http://127.0.0.1:1/a?b=1&c=2",
                                                 "frame.load_url http://127.0.0.1:1/b",
                                                 "frame.load_url http://127.0.0.1:1/c"}));
}

TEST_F(Commands, JavaScriptRunsInTheMainFrameAtAboutBlankLine0) {
  Target t;
  Dispatch(t, "<JavaScript>if (a &lt; b) f(\"x\");</JavaScript>");
  Dispatch(t, "<JavaScript/>");
  EXPECT_EQ(Effects(), (std::vector<std::string>{
                           "frame.execute_java_script about:blank 0 if (a < b) f(\"x\");",
                           "frame.execute_java_script about:blank 0 "}));
}

TEST(CommandsNoBrowser, HandlersWithoutBrowserOnlyTouchTheTarget) {
  struct Recorder : ICommandTarget {
    TCefRef<cef_browser_t> EngineBrowser() override { return {}; }
    TFrameBitmap& ViewBitmap() override { return view; }
    void SetHeaders(std::string h) override { headers = std::move(h); }
    void Navigate(const std::string& url) override { urls.push_back(url); }
    void PostQuit() override { ++quits; }
    TFrameBitmap view;
    std::string headers;
    std::vector<std::string> urls;
    int quits = 0;
  } r;
  Dispatch(r, "<MouseClick><MouseX>1</MouseX><MouseY>2</MouseY></MouseClick>");
  Dispatch(r, "<KeyPress keyType=\"KT_CHAR\" key=\"97\"/>");
  Dispatch(r, "<JavaScript>1</JavaScript>");
  Dispatch(r, "<WindowSize><WndSzX>2</WndSzX><WndSzY>3</WndSzY></WindowSize>");
  Dispatch(r, "<LoadWEBURL><WEBURL>u</WEBURL><HEADERS>A=1</HEADERS></LoadWEBURL>");
  Dispatch(r, "<DESTROY/>");
  EXPECT_EQ(r.view.Width(), 2);
  EXPECT_EQ(r.view.Height(), 3);
  EXPECT_EQ(r.headers, "A=1");
  EXPECT_EQ(r.urls, std::vector<std::string>{"u"});
  EXPECT_EQ(r.quits, 1);
  EXPECT_THROW(Dispatch(r, "<MouseClick><MouseX>1</MouseX></MouseClick>"), EConvertError);
}

namespace {

// A browser whose host only captures whole key event records (the call log of
// the scripted engine does not show every field), with balanced references.
struct KeyCapture {
  cef_browser_t browser{};
  cef_browser_host_t host{};
  std::vector<cef_key_event_t> events;
  int refs = 0;

  static KeyCapture* Of(cef_base_t*) { return Self; }
  static int CEF_CALLBACK AddRef(cef_base_t* b) { return ++Of(b)->refs; }
  static int CEF_CALLBACK Release(cef_base_t* b) { return --Of(b)->refs == 0; }
  static int CEF_CALLBACK HasOneRef(cef_base_t* b) { return Of(b)->refs == 1; }
  static cef_browser_host_t* CEF_CALLBACK GetHost(cef_browser_t*) {
    ++Self->refs;
    return &Self->host;
  }
  static void CEF_CALLBACK SendKey(cef_browser_host_t*, const cef_key_event_t* e) {
    Self->events.push_back(*e);
  }
  KeyCapture() {
    Self = this;
    for (cef_base_t* b : {&browser.base, &host.base}) {
      b->add_ref = AddRef;
      b->release = Release;
      b->has_one_ref = HasOneRef;
    }
    browser.base.size = sizeof browser;
    host.base.size = sizeof host;
    browser.get_host = GetHost;
    host.send_key_event = SendKey;
  }
  ~KeyCapture() { Self = nullptr; }
  static inline KeyCapture* Self = nullptr;
};

struct KeyTarget : ICommandTarget {
  explicit KeyTarget(KeyCapture& c) : capture(c) {}
  TCefRef<cef_browser_t> EngineBrowser() override {
    ++capture.refs;
    return TCefRef<cef_browser_t>::Adopt(&capture.browser);
  }
  TFrameBitmap& ViewBitmap() override { return view; }
  void SetHeaders(std::string) override {}
  void Navigate(const std::string&) override {}
  void PostQuit() override {}
  KeyCapture& capture;
  TFrameBitmap view;
};

}  // namespace

TEST(CommandsKeyRecord, SystemKeyFlagAndZeroFilledFields) {
  KeyCapture capture;
  KeyTarget t(capture);
  Dispatch(t, "<KeyPress keyType=\"kt_char\" key=\"97\"/>");
  Dispatch(t, "<KeyPress keyType=\"KT_KEYDOWN\" sysChar=\"false\" key=\"65\" modifiers=\"65538\"/>");
  Dispatch(t, "<KeyPress keyType=\"KT_KEYUP\" sysChar=\"TRUE\" modifiers=\"131071\"/>");
  Dispatch(t, "<KeyPress keyType=\"KT_CHAR\" sysChar=\"yes\" key=\"66\"/>");
  ASSERT_EQ(capture.events.size(), 4u);
  const int expectSystem[] = {-1, 0, 1, -1};
  const int expectType[] = {KEYEVENT_CHAR, KEYEVENT_RAWKEYDOWN, KEYEVENT_KEYUP, KEYEVENT_CHAR};
  const int expectKey[] = {97, 65, 0, 66};
  const uint32_t expectMods[] = {0, 2, 0xFFFF, 0};
  for (size_t i = 0; i < 4; ++i) {
    const cef_key_event_t& e = capture.events[i];
    EXPECT_EQ(e.is_system_key, expectSystem[i]) << i;
    EXPECT_EQ(int(e.type), expectType[i]) << i;
    EXPECT_EQ(e.windows_key_code, expectKey[i]) << i;
    EXPECT_EQ(e.modifiers, expectMods[i]) << i;
    EXPECT_EQ(e.native_key_code, 0) << i;
    EXPECT_EQ(e.character, 0) << i;
    EXPECT_EQ(e.unmodified_character, 0) << i;
    EXPECT_EQ(e.focus_on_editable_field, 0) << i;
  }
  EXPECT_EQ(capture.refs, 0) << "every reference taken was released";
}

TEST(CommandsText, KeyTypesAndIntegers) {
  EXPECT_EQ(KeyTypeToEngine("kt_keyup"), KEYEVENT_KEYUP);
  EXPECT_EQ(KeyTypeToEngine("KT_KeyDown"), KEYEVENT_RAWKEYDOWN);
  EXPECT_EQ(KeyTypeToEngine("KT_CHAR"), KEYEVENT_CHAR);
  for (const char* other : {"", "KT_", "KT_CHARS", " KT_CHAR", "keydown"})
    EXPECT_EQ(KeyTypeToEngine(other), -1) << other;
  EXPECT_EQ(StrToInt("-12"), -12);
  EXPECT_EQ(StrToInt("$7fffffff"), 2147483647);
  for (const char* bad : {"", " ", "1x", "2147483648", "$", "0x10"})
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
}

// --- the command reader ---------------------------------------------------------------

TEST_F(Commands, DestroyPostsQuitAndEndsTheReaderBeforeTheNextMessage) {
  Target t;
  platform::TcpListener listener;
  auto client = std::make_shared<TTcpClient>();
  client->SetHost(kLoopbackHost);
  client->SetPort(listener.Port());
  client->Connect();
  platform::TcpSocket peer = listener.Accept(3000);
  ASSERT_TRUE(peer.IsOpen());
  auto* thread = new TGoGoThread(client, [&t](TGoGoThread& self, TStream& message) {
    DispatchCommand(t, message, &self);
  });
  std::shared_ptr<TThreadDone> done = thread->Done();
  thread->Start();
  const std::string destroy = "<Destroy/>", size = "<WindowSize><WndSzX>2</WndSzX><WndSzY>2</WndSzY></WindowSize>";
  WriteMessage(peer, size.data(), int64_t(size.size()));
  WriteMessage(peer, destroy.data(), int64_t(destroy.size()));
  const std::string later = "<WindowSize><WndSzX>9</WndSzX><WndSzY>9</WndSzY></WindowSize>";
  WriteMessage(peer, later.data(), int64_t(later.size()));
  // The peer keeps the connection open: only Destroy can end the reader.
  ASSERT_TRUE(done->Wait(3000));
  EXPECT_EQ(t.FQuits, 1);
  EXPECT_EQ(t.FView.Width(), 2);
}

// --- the main form's paint policy ------------------------------------------------------

namespace {

int ScriptedPaint(cef_paint_element_type_t type, std::vector<cef_rect_t> rects, int w, int h) {
  return Fn<int (*)(cef_paint_element_type_t, const cef_rect_t*, int, int, int)>("scripted_paint")(
      type, rects.data(), int(rects.size()), w, h);
}

// A decoded 24-bit bottom-up frame: one byte (blue) per pixel is enough here,
// since the scripted engine paints every channel alike.
struct Frame {
  int width = 0, height = 0;
  std::vector<uint8_t> blue;  // top-down
  uint8_t At(int x, int y) const { return blue[size_t(y * width + x)]; }
};

Frame DecodeBmp(TMemoryStream& bmp) {
  const auto* p = static_cast<const uint8_t*>(bmp.Memory());
  auto i32 = [&](size_t at) { return int32_t(p[at] | p[at + 1] << 8 | p[at + 2] << 16 | p[at + 3] << 24); };
  Frame f;
  if (bmp.GetSize() < 54 || p[0] != 'B' || p[1] != 'M') return f;
  f.width = i32(18);
  f.height = i32(22);
  const int stride = (f.width * 3 + 3) & ~3;
  if (bmp.GetSize() < 54 + int64_t(stride) * f.height) return {};
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x)
      f.blue.push_back(p[size_t(i32(10)) + size_t(f.height - 1 - y) * stride + size_t(x) * 3]);
  return f;
}

// A main form started against channels of the test.
class Form : public Engine {
 protected:
  void SetUp() override {
    Engine::SetUp();
    SetProcessArguments({"-drawPort=" + std::to_string(FListener.Port())});
    FForm = std::make_unique<TMainform>();
    FActn = FListener.Accept(3000);
    FDraw = FListener.Accept(3000);
    ASSERT_TRUE(FDraw.IsOpen());
    TMemoryStream tag;
    ReadMessage(FDraw, tag, 3000);
    ASSERT_EQ(tag.GetSize(), 4);
    ClearCalls();
  }
  void TearDown() override {
    FForm.reset();
    SetProcessArguments(std::vector<std::string>{});
    Engine::TearDown();
  }

  void Resize(int w, int h) {
    Dispatch(*FForm, "<WindowSize><WndSzX>" + std::to_string(w) + "</WndSzX><WndSzY>" +
                         std::to_string(h) + "</WndSzY></WindowSize>");
  }
  // The next published frame, or nothing within the time.
  std::optional<Frame> NextFrame(int timeoutMs = 2000) {
    TMemoryStream message;
    try {
      ReadMessage(FDraw, message, timeoutMs);
    } catch (const platform::ESocketTimeout&) {
      return {};
    }
    return DecodeBmp(message);
  }
  int Resizes() {
    int n = 0;
    for (const std::string& c : Calls()) n += c == "host.was_resized";
    return n;
  }

  platform::TcpListener FListener;
  std::unique_ptr<TMainform> FForm;
  platform::TcpSocket FActn, FDraw;
};

}  // namespace

TEST_F(Form, PaintOfTheViewSizeIsCopiedClippedAndPublished) {
  Resize(4, 3);
  ClearCalls();
  // One rectangle inside, one reaching past the right and bottom edges.
  ASSERT_EQ(ScriptedPaint(PET_VIEW, {{1, 0, 2, 1}, {3, 2, 5, 5}}, 4, 3), 0);
  EXPECT_EQ(Resizes(), 1);  // every paint has the engine re-read the view size
  std::optional<Frame> f = NextFrame();
  ASSERT_TRUE(f);
  ASSERT_EQ(f->width, 4);
  ASSERT_EQ(f->height, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool painted = (y == 0 && (x == 1 || x == 2)) || (x == 3 && y == 2);
      EXPECT_EQ(f->At(x, y), painted ? 0x7F : 0) << x << "," << y;
    }
}

TEST_F(Form, PaintOfAnotherSizeIsDroppedButResizes) {
  Resize(4, 3);
  ClearCalls();
  ASSERT_EQ(ScriptedPaint(PET_VIEW, {{0, 0, 5, 3}}, 5, 3), 0);
  EXPECT_EQ(Resizes(), 1);
  EXPECT_FALSE(NextFrame(200));
  // The next paint of the right size is published, and the dropped one left no trace.
  ASSERT_EQ(ScriptedPaint(PET_VIEW, {}, 4, 3), 0);
  std::optional<Frame> f = NextFrame();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->width, 4);
  for (uint8_t b : f->blue) EXPECT_EQ(b, 0);
}

TEST_F(Form, PaintWithoutRectanglesStillPublishes) {
  Resize(2, 2);
  ASSERT_EQ(ScriptedPaint(PET_VIEW, {{0, 0, 2, 2}}, 2, 2), 0);
  ASSERT_TRUE(NextFrame());
  ASSERT_EQ(ScriptedPaint(PET_VIEW, {}, 2, 2), 0);
  std::optional<Frame> f = NextFrame();
  ASSERT_TRUE(f);
  for (uint8_t b : f->blue) EXPECT_EQ(b, 0x7F);
}

TEST_F(Form, PopupIsComposedAtItsRectangle) {
  Resize(4, 3);
  const cef_rect_t popup{1, 1, 2, 2};
  ASSERT_EQ(Fn<int (*)(int)>("scripted_popup_show")(1), 0);
  ASSERT_EQ(Fn<int (*)(const cef_rect_t*)>("scripted_popup_size")(&popup), 0);
  EXPECT_TRUE(FForm->PopupVisible());
  // A popup paint has the popup's size, not the view's: taken while it shows.
  ASSERT_EQ(ScriptedPaint(PET_POPUP, {{0, 0, 2, 2}}, 2, 2), 0);
  std::optional<Frame> f = NextFrame();
  ASSERT_TRUE(f);
  ASSERT_EQ(f->width, 4);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool inPopup = x >= 1 && x <= 2 && y >= 1 && y <= 2;
      EXPECT_EQ(f->At(x, y), inPopup ? 0x7F : 0) << x << "," << y;
    }
  // Once hidden, a paint of the popup's size is dropped again.
  ASSERT_EQ(Fn<int (*)(int)>("scripted_popup_show")(0), 0);
  ASSERT_EQ(ScriptedPaint(PET_POPUP, {{0, 0, 2, 2}}, 2, 2), 0);
  EXPECT_FALSE(NextFrame(200));
}

TEST_F(Form, ViewRectIsTheViewBitmapSize) {
  Resize(7, 5);
  cef_rect_t rect{9, 9, 9, 9};
  EXPECT_EQ(Fn<int (*)(cef_rect_t*)>("scripted_get_view_rect")(&rect), 1);
  EXPECT_EQ(rect.x, 0);
  EXPECT_EQ(rect.y, 0);
  EXPECT_EQ(rect.width, 7);
  EXPECT_EQ(rect.height, 5);
}

TEST_F(Form, OneByOneViewIs58ByteBmp) {
  Resize(1, 1);
  ASSERT_EQ(ScriptedPaint(PET_VIEW, {{0, 0, 1, 1}}, 1, 1), 0);
  TMemoryStream message;
  ReadMessage(FDraw, message, 2000);
  ASSERT_EQ(message.GetSize(), 58);
  const auto* p = static_cast<const uint8_t*>(message.Memory());
  EXPECT_EQ(p[54], 0x7F);
  EXPECT_EQ(p[56], 0x7F);
  EXPECT_EQ(p[57], 0);  // row padding
}

namespace {

std::string RequestHeadersAfter(const std::string& before) {
  char out[1024] = {};
  using F = int (*)(const char*, const char*, char*, int);
  Fn<F>("scripted_before_resource_load")("http://127.0.0.1:1/", before.c_str(), out, sizeof out);
  return out;
}

}  // namespace

TEST_F(Form, HeaderListIsAppendedToEveryRequest) {
  auto load = [&](const std::string& headers) {
    Dispatch(*FForm, "<LoadWEBURL><WEBURL>http://127.0.0.1:1/</WEBURL><HEADERS>" + headers +
                         "</HEADERS></LoadWEBURL>");
  };
  // No list yet: the request keeps exactly its own headers.
  EXPECT_EQ(RequestHeadersAfter("Accept: */*\n"), "Accept: */*\n");
  load("X-A=1;X-A=2");
  EXPECT_EQ(RequestHeadersAfter("X-A: 0\n"), "X-A: 0\nX-A: 1\nX-A: 2\n");
  load("X-A=1 X-B=2");
  EXPECT_EQ(RequestHeadersAfter(""), "X-A: 1\nX-B: 2\n");
  load("&quot;X-A=hello world&quot;;X-B=2");
  EXPECT_EQ(RequestHeadersAfter(""), "X-A: hello world\nX-B: 2\n");
  load(";X-A=1");  // a leading delimiter: nothing is added
  EXPECT_EQ(RequestHeadersAfter("Accept: */*\n"), "Accept: */*\n");
  load("");
  EXPECT_EQ(RequestHeadersAfter("Accept: */*\n"), "Accept: */*\n");
}

TEST_F(Form, ConsoleMessagesGoToTheParentOnShortConnections) {
  using F = int (*)(const char*, const char*, int);
  Fn<F>("scripted_console_message")("hello", "http://127.0.0.1:1/", 3);
  platform::TcpSocket cmsg = FListener.Accept(2000);
  ASSERT_TRUE(cmsg.IsOpen());
  char frame[13];
  cmsg.ReceiveAll(frame, sizeof frame, 2000);
  EXPECT_EQ(std::string(frame, sizeof frame), std::string("\0\0\0\x09" "CMSGhello", 13));
  // An empty text opens no connection.
  Fn<F>("scripted_console_message")("", "http://127.0.0.1:1/", 4);
  EXPECT_FALSE(FListener.Accept(200).IsOpen());
}

TEST_F(Form, LoadErrorShowsAnErrorPageUnlessAborted) {
  using F = int (*)(int, const char*, const char*);
  Fn<F>("scripted_load_error")(-3, "ERR_ABORTED", "http://127.0.0.1:1/a");
  EXPECT_TRUE(Effects().empty());
  Fn<F>("scripted_load_error")(-2, "ERR_FAILED", "http://127.0.0.1:1/b");
  std::vector<std::string> effects = Effects();
  ASSERT_EQ(effects.size(), 1u);
  EXPECT_EQ(effects[0].rfind("frame.load_string source://html ", 0), 0u) << effects[0];
  EXPECT_NE(effects[0].find("http://127.0.0.1:1/b"), std::string::npos) << effects[0];
}

TEST_F(Form, PopupRequestOpensInTheSameView) {
  char after[256] = {};
  using F = int (*)(const char*, char*, int);
  EXPECT_EQ(Fn<F>("scripted_before_popup")("http://127.0.0.1:1/second", after, sizeof after), 1);
  std::vector<std::string> calls = Calls();
  EXPECT_TRUE(HasCall(calls, "frame.load_url http://127.0.0.1:1/second"));
  int created = 0;
  for (const std::string& c : calls) created += c.rfind("create_browser_sync", 0) == 0;
  EXPECT_EQ(created, 0);
}

TEST_F(Engine, FormWithoutChannelsStillTakesPaints) {
  SetProcessArguments(std::vector<std::string>{});
  TMainform form;
  Dispatch(form, "<WindowSize><WndSzX>2</WndSzX><WndSzY>1</WndSzY></WindowSize>");
  ASSERT_EQ(ScriptedPaint(PET_VIEW, {{1, 0, 1, 1}}, 2, 1), 0);
  const uint8_t* p = form.ViewBitmap().Pixels();
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[4], 0x7F);
  EXPECT_EQ(p[7], 0x7F);
}

TEST_F(Form, ResizesFromTheReaderWhilePaintsArrive) {
  Resize(4, 3);
  std::atomic<bool> sent{false};
  std::thread sender([&] {
    for (int i = 0; i < 300; ++i) {
      const std::string m = i % 2 ? "<WindowSize><WndSzX>4</WndSzX><WndSzY>3</WndSzY></WindowSize>"
                                  : "<WindowSize><WndSzX>9</WndSzX><WndSzY>1</WndSzY></WindowSize>";
      WriteMessage(FActn, m.data(), int64_t(m.size()));
    }
    const std::string last = "<WindowSize><WndSzX>3</WndSzX><WndSzY>3</WndSzY></WindowSize>";
    WriteMessage(FActn, last.data(), int64_t(last.size()));
    sent = true;
  });
  // Paints of either size race with the reader's resizes; each copy stays inside.
  int paints = 0;
  auto settled = [&] {
    std::lock_guard<std::recursive_mutex> guard(FForm->ViewBitmap().Lock());
    return FForm->ViewBitmap().Width() == 3;
  };
  while (!(sent && settled()) && paints < 20000) {
    ScriptedPaint(PET_VIEW, {{0, 0, 9, 3}}, paints % 2 ? 4 : 9, paints % 2 ? 3 : 1);
    ++paints;
    if (paints % 50 == 0) {  // keep the DRAW connection drained
      while (NextFrame(0)) {
      }
    }
  }
  sender.join();
  ASSERT_TRUE(settled());
  // The reader is still alive: one more command is carried out.
  const std::string more = "<WindowSize><WndSzX>2</WndSzX><WndSzY>2</WndSzY></WindowSize>";
  WriteMessage(FActn, more.data(), int64_t(more.size()));
  bool resized = false;
  for (int i = 0; i < 300 && !resized; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::lock_guard<std::recursive_mutex> guard(FForm->ViewBitmap().Lock());
    resized = FForm->ViewBitmap().Width() == 2;
  }
  EXPECT_TRUE(resized);
}
