// The off-screen component and its client against the scripted engine library:
// creation, events and their defaults, routing, handler release, the work timer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/cefintrk.h"
#include "osr/ChromiumOSR.h"
#include "platform/dynlib.h"
#include "tests/scripted_engine/scripted_probe.h"
#include "platform/mainloop.h"
#include "tests/scripted_engine/scripted.h"

namespace {

using namespace scripted;

// Runs the main loop for about `ms` milliseconds.
void Pump(unsigned ms) {
  const unsigned id = platform::AddTimer(ms, [] {
    platform::QuitMainLoop();
    return false;
  });
  platform::RunMainLoop();
  platform::RemoveTimer(id);
}

class Osr : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureEngine();
    char arg0[] = "pv7host";
    char* argv[] = {arg0, nullptr};
    ASSERT_TRUE(StartEngine(1, argv));
    ClearCalls();
  }
  void TearDown() override {
    EXPECT_EQ(Outstanding(), 0) << "references the program did not release";
    StopEngine();
  }
};

// A client built the way the component builds it, with a sink that records.
struct Sink : TChromiumOSR {
  Sink() : TChromiumOSR(true) {}  // designing: no client, no browser of its own
};

template <class T>
void ReleaseEngineRef(T* p) {
  if (p) p->base.release(&p->base);
}

}  // namespace

TEST_F(Osr, NeverLoadedHasNoBrowserAndNavigateDoesNothing) {
  TChromiumOSR wb;
  EXPECT_FALSE(wb.EngineBrowser());
  EXPECT_EQ(wb.EngineBrowserId(), 0);
  EXPECT_EQ(wb.DefaultUrl, u"about:blank");
  wb.Navigate(u"http://example.invalid/");
  EXPECT_TRUE(Calls().empty());
  // Defaults of the options.
  EXPECT_EQ(wb.Options().WindowlessFrameRate, 30);
  EXPECT_EQ(wb.Options().Webgl, STATE_DEFAULT);
  EXPECT_EQ(wb.Options().BackgroundColor, 0u);
  EXPECT_EQ(wb.FontOptions().RemoteFonts, STATE_DEFAULT);
  EXPECT_TRUE(wb.FontOptions().StandardFontFamily.empty());
}

TEST_F(Osr, LoadedCreatesAWindowlessBrowserWithTheOptionsThenLoadsDefaultUrl) {
  {
    TChromiumOSR wb;
    wb.Options().WindowlessFrameRate = 25;
    wb.Options().Javascript = STATE_DISABLED;
    wb.Options().Webgl = STATE_ENABLED;
    wb.Options().BackgroundColor = 0xFF102030u;
    wb.DefaultEncoding = u"windows-1252";
    wb.FontOptionsRef().StandardFontFamily = u"Serif";
    wb.FontOptionsRef().DefaultFontSize = 17;
    wb.Loaded();
    ASSERT_TRUE(wb.EngineBrowser());
    EXPECT_EQ(wb.EngineBrowserId(), 1);
    auto calls = Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0],
              "create_browser_sync windowless=1 transparent=0 url= settings_size_ok=1 frame_rate=25 "
              "javascript=2 webgl=1 background_color=4279246896 default_encoding=windows-1252 "
              "standard_font_family=Serif default_font_size=17");
    EXPECT_EQ(calls[1], "browser.get_identifier");
    EXPECT_EQ(calls[2], "browser.get_main_frame");
    EXPECT_EQ(calls[3], "frame.load_url about:blank");

    // Options changed after Loaded do not reach the existing browser.
    ClearCalls();
    wb.Options().WindowlessFrameRate = 60;
    wb.Options().Javascript = STATE_ENABLED;
    wb.Navigate(u"http://127.0.0.1/x");
    calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], "frame.load_url http://127.0.0.1/x");
    ClearCalls();
  }
  // Destruction: stop, close without force; the browser's references are all given back.
  auto calls = Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], "browser.stop_load");
  EXPECT_EQ(calls[1], "browser.get_host");
  EXPECT_EQ(calls[2], "host.close_browser 0");
}

TEST_F(Osr, EventDefaultsAndAssignedHandlers) {
  TChromiumOSR wb;
  wb.Loaded();
  // get_view_rect: not provided without a handler, the handler's rectangle with one.
  cef_rect_t rect{1, 2, 3, 4};
  auto viewRect = Fn<int (*)(cef_rect_t*)>("scripted_get_view_rect");
  EXPECT_EQ(viewRect(&rect), 0);
  wb.OnGetViewRect = [&](TObject* sender, const TBrowserRef& b, cef_rect_t* r, bool& result) {
    EXPECT_EQ(sender, &wb);
    EXPECT_TRUE(b);
    EXPECT_FALSE(result);  // preset
    *r = {0, 0, 800, 600};
    result = true;
  };
  EXPECT_EQ(viewRect(&rect), 1);
  EXPECT_EQ(rect.width, 800);
  EXPECT_EQ(rect.height, 600);

  // on_before_resource_load from another thread: RV_CONTINUE without handler.
  auto resourceLoad = Fn<int (*)(const char*, const char*, char*, int)>("scripted_before_resource_load");
  char headers[256];
  EXPECT_EQ(resourceLoad("http://127.0.0.1/a", "Accept: */*\n", headers, sizeof headers), RV_CONTINUE);
  EXPECT_STREQ(headers, "Accept: */*\n");
  std::thread::id ioThread;
  wb.OnBeforeResourceLoad = [&](TObject*, const TBrowserRef&, const TFrameRef& frame, const TRequestRef& req,
                                const TRequestCallbackRef& cb, cef_return_value_t& result) {
    ioThread = std::this_thread::get_id();
    EXPECT_EQ(result, RV_CONTINUE);
    EXPECT_TRUE(frame);
    EXPECT_TRUE(cb);
    cef_string_multimap_t map = CefLib().cef_string_multimap_alloc();
    req->get_header_map(req.get(), map);
    const std::u16string k = u"X-Extra", v = u"1";
    const cef_string_t ks = CefStringView(k), vs = CefStringView(v);
    CefLib().cef_string_multimap_append(map, &ks, &vs);
    CefLib().cef_string_multimap_append(map, &ks, &vs);
    req->set_header_map(req.get(), map);
    CefLib().cef_string_multimap_free(map);
  };
  EXPECT_EQ(resourceLoad("http://127.0.0.1/a", "Accept: */*\n", headers, sizeof headers), RV_CONTINUE);
  EXPECT_STREQ(headers, "Accept: */*\nX-Extra: 1\nX-Extra: 1\n");
  EXPECT_NE(ioThread, std::this_thread::get_id());
  wb.OnBeforeResourceLoad = [](TObject*, const TBrowserRef&, const TFrameRef&, const TRequestRef&,
                               const TRequestCallbackRef&, cef_return_value_t& result) { result = RV_CANCEL; };
  EXPECT_EQ(resourceLoad("http://127.0.0.1/a", "", headers, sizeof headers), RV_CANCEL);

  // Console: false by default, the handler's answer otherwise, texts copied.
  auto console = Fn<int (*)(const char*, const char*, int)>("scripted_console_message");
  EXPECT_EQ(console("hi", "http://s/", 3), 0);
  std::u16string got;
  wb.OnConsoleMessage = [&](TObject*, const TBrowserRef&, const std::u16string& m, const std::u16string& s,
                            int line, bool& result) {
    EXPECT_FALSE(result);
    got = m + u"|" + s + u"|" + char16_t(u'0' + line);
    result = true;
  };
  EXPECT_EQ(console("hi", "http://s/", 3), 1);
  EXPECT_EQ(got, u"hi|http://s/|3");

  // Load error with its code and texts.
  int code = 0;
  std::u16string errorUrl;
  wb.OnLoadError = [&](TObject*, const TBrowserRef&, const TFrameRef& f, int c, const std::u16string&,
                       const std::u16string& url) {
    EXPECT_TRUE(f);
    code = c;
    errorUrl = url;
  };
  Fn<int (*)(int, const char*, const char*)>("scripted_load_error")(-102, "refused", "http://127.0.0.1:1/");
  EXPECT_EQ(code, -102);
  EXPECT_EQ(errorUrl, u"http://127.0.0.1:1/");
}

TEST_F(Osr, PaintsPopupsAndCursorsPassThrough) {
  TChromiumOSR wb;
  wb.Loaded();
  const cef_rect_t rects[2] = {{0, 0, 10, 10}, {5, 6, 7, 8}};
  const cef_rect_t* seenRects = nullptr;
  uint32_t seenCount = 0;
  int w = 0, h = 0;
  const unsigned char* px = nullptr;
  wb.OnPaint = [&](TObject*, const TBrowserRef&, cef_paint_element_type_t kind, uint32_t n,
                   const cef_rect_t* r, const void* buffer, int width, int height) {
    EXPECT_EQ(kind, PET_POPUP);
    seenCount = n;
    seenRects = r;
    w = width;
    h = height;
    px = static_cast<const unsigned char*>(buffer);
    EXPECT_EQ(px[width * height * 4 - 1], 0x7F);
  };
  Fn<int (*)(cef_paint_element_type_t, const cef_rect_t*, int, int, int)>("scripted_paint")(PET_POPUP, rects, 2, 20, 30);
  EXPECT_EQ(seenCount, 2u);
  EXPECT_EQ(seenRects, rects);  // the engine's array itself, not a copy
  EXPECT_EQ(w, 20);
  EXPECT_EQ(h, 30);

  bool shown = false;
  cef_rect_t popup{};
  wb.OnPopupShow = [&](TObject*, const TBrowserRef&, bool show) { shown = show; };
  wb.OnPopupSize = [&](TObject*, const TBrowserRef&, const cef_rect_t* r) { popup = *r; };
  Fn<int (*)(int)>("scripted_popup_show")(7);
  EXPECT_TRUE(shown);
  const cef_rect_t pr{3, 4, 50, 60};
  Fn<int (*)(const cef_rect_t*)>("scripted_popup_size")(&pr);
  EXPECT_EQ(popup.width, 50);
  std::vector<int> cursors;
  wb.OnCursorChange = [&](TObject*, const TBrowserRef&, cef_cursor_handle_t, cef_cursor_type_t t,
                          const cef_cursor_info_t*) { cursors.push_back(t); };
  for (int t = CT_POINTER; t <= CT_CUSTOM; ++t) Fn<int (*)(cef_cursor_type_t)>("scripted_cursor_change")(cef_cursor_type_t(t));
  ASSERT_EQ(cursors.size(), 44u);
  EXPECT_EQ(cursors[43], CT_CUSTOM);
}

TEST_F(Osr, BeforePopupCancelledKeepsTargetUrl) {
  TChromiumOSR wb;
  wb.Loaded();
  auto popup = Fn<int (*)(const char*, char*, int)>("scripted_before_popup");
  char after[128];
  EXPECT_EQ(popup("http://127.0.0.1/pop", after, sizeof after), 0);  // default lets it open
  std::u16string seen;
  wb.OnBeforePopup = [&](TObject*, const TBrowserRef&, const TFrameRef&, std::u16string& url, std::u16string&,
                         cef_window_open_disposition_t, bool gesture, const cef_popup_features_t*,
                         cef_window_info_t*, TCustomClientHandler*& client, cef_browser_settings_t*,
                         bool& noJs, bool& result) {
    EXPECT_FALSE(result);
    EXPECT_TRUE(gesture);
    EXPECT_EQ(client, wb.ClientHandler());
    EXPECT_FALSE(noJs);
    seen = url;
    result = true;
  };
  EXPECT_EQ(popup("http://127.0.0.1/pop", after, sizeof after), 1);
  EXPECT_EQ(seen, u"http://127.0.0.1/pop");
  EXPECT_STREQ(after, "http://127.0.0.1/pop");
  auto calls = Calls();
  EXPECT_EQ(calls.back(), "before_popup answer=1 client_same=1 no_javascript_access=0");
}

TEST_F(Osr, RenderHandlerOnlyWithRenderHandling) {
  Sink sink;
  auto link = std::make_shared<TEventSinkLink>(&sink);
  TOwnRef<TVCLClientHandler> without = new TVCLClientHandler(link, false);
  TOwnRef<TVCLClientHandler> with = new TVCLClientHandler(link, true);
  cef_client_t* c0 = without->Data<cef_client_t>();
  cef_client_t* c1 = with->Data<cef_client_t>();
  EXPECT_EQ(c0->get_render_handler(c0), nullptr);
  cef_render_handler_t* rh = c1->get_render_handler(c1);
  ASSERT_NE(rh, nullptr);
  EXPECT_EQ(rh->base.size, sizeof(cef_render_handler_t));
  EXPECT_EQ(rh->get_screen_info, nullptr);  // left to the engine
  EXPECT_EQ(rh->base.has_one_ref(&rh->base), 0);  // the client's and ours
  ReleaseEngineRef(rh);
  EXPECT_EQ(c1->base.size, sizeof(cef_client_t));
  EXPECT_EQ(c1->base.has_one_ref(&c1->base), 1);
}

TEST_F(Osr, AfterReleaseHandlersEveryGetterAnswersNull) {
  Sink sink;
  auto link = std::make_shared<TEventSinkLink>(&sink);
  TOwnRef<TVCLClientHandler> client = new TVCLClientHandler(link, true);
  cef_client_t* c = client->Data<cef_client_t>();
  using G = void* (*)(cef_client_t*);
  const G getters[] = {
      reinterpret_cast<G>(c->get_context_menu_handler), reinterpret_cast<G>(c->get_dialog_handler),
      reinterpret_cast<G>(c->get_display_handler),      reinterpret_cast<G>(c->get_download_handler),
      reinterpret_cast<G>(c->get_drag_handler),         reinterpret_cast<G>(c->get_find_handler),
      reinterpret_cast<G>(c->get_focus_handler),        reinterpret_cast<G>(c->get_geolocation_handler),
      reinterpret_cast<G>(c->get_jsdialog_handler),     reinterpret_cast<G>(c->get_keyboard_handler),
      reinterpret_cast<G>(c->get_life_span_handler),    reinterpret_cast<G>(c->get_load_handler),
      reinterpret_cast<G>(c->get_render_handler),       reinterpret_cast<G>(c->get_request_handler)};
  for (G g : getters) {
    void* h = g(c);
    ASSERT_NE(h, nullptr);
    ReleaseEngineRef(static_cast<cef_base_t*>(h) ? reinterpret_cast<cef_client_t*>(h) : nullptr);
  }
  // Handler held by "the engine" across the release.
  cef_render_handler_t* held = c->get_render_handler(c);
  client->ReleaseHandlers();
  for (G g : getters) EXPECT_EQ(g(c), nullptr);
  EXPECT_EQ(c->on_process_message_received(c, nullptr, PID_RENDERER, nullptr), 0);
  // The held handler object still works and its sink is the component's until it goes.
  cef_rect_t r{};
  sink.OnGetViewRect = [](TObject*, const TBrowserRef&, cef_rect_t*, bool& result) { result = true; };
  EXPECT_EQ(held->get_view_rect(held, nullptr, &r), 1);
  link->Detach();  // what the component's destruction does
  EXPECT_EQ(held->get_view_rect(held, nullptr, &r), 0);
  held->on_paint(held, nullptr, PET_VIEW, 0, nullptr, nullptr, 0, 0);
  ReleaseEngineRef(held);
}

TEST_F(Osr, HandlerHeldByEngineNeverReachesADestroyedComponent) {
  cef_render_handler_t* held = nullptr;
  cef_life_span_handler_t* lifeSpan = nullptr;
  {
    TChromiumOSR wb;
    wb.OnGetViewRect = [](TObject*, const TBrowserRef&, cef_rect_t*, bool& result) { result = true; };
    cef_client_t* c = wb.ClientHandler()->Data<cef_client_t>();
    held = c->get_render_handler(c);
    lifeSpan = c->get_life_span_handler(c);
  }
  cef_rect_t r{};
  EXPECT_EQ(held->get_view_rect(held, nullptr, &r), 0);
  cef_string_t url{};
  EXPECT_EQ(lifeSpan->on_before_popup(lifeSpan, nullptr, nullptr, &url, nullptr, WOD_NEW_POPUP, 0, nullptr,
                                      nullptr, nullptr, nullptr, nullptr),
            0);
  ReleaseEngineRef(held);
  ReleaseEngineRef(lifeSpan);
}

TEST_F(Osr, TwoComponentsShareOneWorkTimer) {
  EXPECT_FALSE(TVCLClientHandler::TimerRunning());
  auto* a = new TChromiumOSR();
  EXPECT_TRUE(TVCLClientHandler::TimerRunning());
  auto* b = new TChromiumOSR();
  EXPECT_EQ(TVCLClientHandler::LiveCount(), 2);
  const int before = WorkCount();
  Pump(60);
  EXPECT_GT(WorkCount(), before);  // the engine is pumped from the main loop
  delete a;
  EXPECT_TRUE(TVCLClientHandler::TimerRunning());
  delete b;
  EXPECT_FALSE(TVCLClientHandler::TimerRunning());
  EXPECT_EQ(TVCLClientHandler::LiveCount(), 0);
  const int after = WorkCount();
  Pump(40);
  EXPECT_EQ(WorkCount(), after);
}

TEST_F(Osr, BusyFlagKeepsATickOutOfTheEngine) {
  TChromiumOSR wb;
  static int nested = 0;
  static bool busySeen = false;
  nested = 0;
  busySeen = false;
  Fn<void (*)(void (*)(void*), void*)>("scripted_set_work_hook")(
      [](void*) {
        busySeen = TVCLClientHandler::Busy();
        if (nested++ == 0) TVCLClientHandler::TimerProc();  // a tick arriving inside the engine call
      },
      nullptr);
  const int before = WorkCount();
  TVCLClientHandler::TimerProc();
  EXPECT_EQ(WorkCount(), before + 1);
  EXPECT_EQ(nested, 1);
  EXPECT_TRUE(busySeen);
  EXPECT_FALSE(TVCLClientHandler::Busy());
  Fn<void (*)(void (*)(void*), void*)>("scripted_set_work_hook")(nullptr, nullptr);
}

TEST(OsrNoEngine, TimerTickWithoutLibraryDoesNothing) {
  ASSERT_FALSE(CefLibraryLoaded());
  TChromiumOSR wb;
  TVCLClientHandler::TimerProc();  // must not touch an unloaded engine
  EXPECT_FALSE(TVCLClientHandler::Busy());
  EXPECT_FALSE(CefLibraryLoaded());
}

TEST(BaseOwn, OneBlockWithBackReferenceAndCounts) {
  struct Probe : TCefBaseOwn {
    bool* gone;
    explicit Probe(bool* g) : TCefBaseOwn(sizeof(cef_find_handler_t)), gone(g) {}
    ~Probe() override { *gone = true; }
  };
  bool gone = false;
  auto* p = new Probe(&gone);
  cef_find_handler_t* s = p->Share<cef_find_handler_t>();
  EXPECT_EQ(TCefBaseOwn::FromData(s), p);
  void* backRef = nullptr;  // the pointer just before the structure
  std::memcpy(&backRef, reinterpret_cast<char*>(s) - sizeof(void*), sizeof backRef);
  EXPECT_EQ(backRef, static_cast<TCefBaseOwn*>(p));
  EXPECT_EQ(s->base.size, sizeof(cef_find_handler_t));
  EXPECT_EQ(s->on_find_result, nullptr);
  EXPECT_EQ(s->base.has_one_ref(&s->base), 1);
  s->base.add_ref(&s->base);
  EXPECT_EQ(s->base.has_one_ref(&s->base), 0);
  EXPECT_EQ(s->base.release(&s->base), 0);
  EXPECT_FALSE(gone);
  EXPECT_EQ(s->base.release(&s->base), 1);
  EXPECT_TRUE(gone);
}

TEST_F(Osr, OtherNotificationsRouteWithTheirDefaultsAndWriteBacks) {
  Sink sink;
  auto link = std::make_shared<TEventSinkLink>(&sink);
  TOwnRef<TVCLClientHandler> client = new TVCLClientHandler(link, true);
  cef_client_t* c = client->Data<cef_client_t>();
  cef_keyboard_handler_t* kh = c->get_keyboard_handler(c);
  cef_display_handler_t* dh = c->get_display_handler(c);
  cef_request_handler_t* rh = c->get_request_handler(c);
  cef_focus_handler_t* fh = c->get_focus_handler(c);
  cef_key_event_t key{};
  key.windows_key_code = 13;
  int shortcut = 1;
  // Unassigned: the defaults (false), out values kept.
  EXPECT_EQ(kh->on_pre_key_event(kh, nullptr, &key, nullptr, &shortcut), 0);
  EXPECT_EQ(shortcut, 1);
  EXPECT_EQ(fh->on_set_focus(fh, nullptr, FOCUS_SOURCE_SYSTEM), 0);
  EXPECT_EQ(rh->get_resource_handler(rh, nullptr, nullptr, nullptr), nullptr);
  EXPECT_NE(rh->on_certificate_error, nullptr);
  EXPECT_EQ(rh->on_certificate_error(rh, nullptr, ERR_CERT_INVALID, nullptr, nullptr), 0);
  // Assigned: answers and written-back values reach the engine.
  sink.OnPreKeyEvent = [](TObject*, const TBrowserRef&, const cef_key_event_t* e, cef_event_handle_t,
                          bool& isShortcut, bool& result) {
    EXPECT_TRUE(isShortcut);
    isShortcut = false;
    result = e->windows_key_code == 13;
  };
  EXPECT_EQ(kh->on_pre_key_event(kh, nullptr, &key, nullptr, &shortcut), 1);
  EXPECT_EQ(shortcut, 0);
  sink.OnTooltip = [](TObject*, const TBrowserRef&, std::u16string& text, bool& result) {
    text += u"!";
    result = false;
  };
  cef_string_t tip{};
  CefLib().cef_string_utf16_set(u"tip", 3, &tip, 1);
  EXPECT_EQ(dh->on_tooltip(dh, nullptr, &tip), 0);
  EXPECT_EQ(CefString(&tip), u"tip!");
  CefLib().cef_string_utf16_clear(&tip);
  int allow = 0;
  sink.OnProtocolExecution = [](TObject*, const TBrowserRef&, const std::u16string& url, bool& a) {
    a = url == u"mailto:x";
  };
  const std::u16string mail = u"mailto:x";
  const cef_string_t mailView = CefStringView(mail);
  rh->on_protocol_execution(rh, nullptr, &mailView, &allow);
  EXPECT_EQ(allow, 1);
  for (void* h : {static_cast<void*>(kh), static_cast<void*>(dh), static_cast<void*>(rh), static_cast<void*>(fh)})
    ReleaseEngineRef(static_cast<cef_client_t*>(h));
}
