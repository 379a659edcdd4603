#include "host/mainform.h"

#include <cstdio>

#include "engine/cefintrk.h"
#include "host/startup.h"
#include "host/switches.h"
#include "platform/codepage.h"
#include "platform/mainloop.h"
#include "platform/process.h"

TMainform* Mainform = nullptr;
TApplication Application;
TFormViewFactory FormViewFactory;

namespace {

std::u16string ToEngine(const std::string& ansi) { return platform::AnsiToWide(ansi); }

}  // namespace

TMainform::TMainform() : FCaption(Application.Title) {
  Mainform = this;
  try {
    CreateComponents();                // 1: the browser exists from here on
    RequireBrowser();
    FPopupBitmap.SetSize(0, 0);        // 2
    FPopupVisible = false;
    FPopupRect = {};
    FViewBitmap.SetSize(0, 0);         // 3
    FDrawClient = std::make_unique<TTcpClient>();  // 4
    OpenParentChannels();              // 5
    StartParentWatchdog();             // 6
    // 7: exceptions reaching the main loop are dropped where the loop runs them.
    // 8: the remaining events.
    FChromium->OnPopupShow = [this](TObject* s, const TBrowserRef& b, bool show) {
      wbChromiumPopupShow(s, b, show);
    };
    FChromium->OnPopupSize = [this](TObject* s, const TBrowserRef& b, const cef_rect_t* r) {
      wbChromiumPopupSize(s, b, r);
    };
    FChromium->OnConsoleMessage = [this](TObject*, const TBrowserRef&, const std::u16string& m,
                                         const std::u16string&, int, bool&) {
      wbChromiumConsoleMessage(m);
    };
    FChromium->OnLoadError = [this](TObject*, const TBrowserRef&, const TFrameRef& frame, int code,
                                    const std::u16string& text, const std::u16string& url) {
      wbChromiumLoadError(frame, code, text, url);
    };
  } catch (...) {
    Mainform = nullptr;
    // The reader may already run on ACTN: wake it and let it end before the form goes.
    if (FCommandClient) FCommandClient->Shutdown();
    if (FCommandThread) FCommandThread->Wait(1000);
    throw;
  }
}

TMainform::~TMainform() {
  // The command reader may be blocked on ACTN: wake it and give it a moment to end.
  if (FCommandClient) FCommandClient->Shutdown();
  for (auto& [client, done] : FOldReaders) client->Shutdown();
  if (FCommandThread) FCommandThread->Wait(1000);
  for (auto& [client, done] : FOldReaders)
    if (done) done->Wait(1000);
  FOldReaders.clear();
  FCommandThread.reset();
  FOrphanWatch.reset();  // stops the watch thread
  FConsoleSender.reset();  // sends what waits, for a moment
  if (FDrawClient) FDrawClient->Disconnect();
  FView.reset();      // the window goes before the browser whose events it shows
  FChromium.reset();  // closes the browser
  Mainform = nullptr;
}

// The form description: the component and the handlers it binds.
void TMainform::CreateComponents() {
  FChromium = std::make_unique<TChromiumOSR>();
  FChromium->OnPaint = [this](TObject* s, const TBrowserRef& b, cef_paint_element_type_t kind,
                              uint32_t n, const cef_rect_t* rects, const void* buffer, int w, int h) {
    wbChromiumPaint(s, b, kind, n, rects, buffer, w, h);
  };
  FChromium->OnGetViewRect = [this](TObject* s, const TBrowserRef& b, cef_rect_t* r, bool& result) {
    wbChromiumGetRootScreenRect(s, b, r, result);
  };
  FChromium->OnGetRootScreenRect = FChromium->OnGetViewRect;
  FChromium->OnCursorChange = [this](TObject*, const TBrowserRef&, cef_cursor_handle_t,
                                     cef_cursor_type_t type, const cef_cursor_info_t*) {
    wbChromiumCursorChange(type);
  };
  FChromium->OnBeforePopup =
      [this](TObject*, const TBrowserRef&, const TFrameRef&, std::u16string& targetUrl,
             std::u16string&, cef_window_open_disposition_t, bool, const cef_popup_features_t*,
             cef_window_info_t*, TCustomClientHandler*&, cef_browser_settings_t*, bool&,
             bool& result) { wbChromiumBeforePopup(targetUrl, result); };
  FChromium->OnBeforeResourceLoad = [this](TObject*, const TBrowserRef&, const TFrameRef&,
                                           const TRequestRef& request, const TRequestCallbackRef&,
                                           cef_return_value_t&) {
    wbChromiumBeforeResourceLoad(request);
  };
  FChromium->Loaded();
  // The window's components exist only when the form is shown.
  if (Application.ShowMainForm && FormViewFactory) FView = FormViewFactory(*this);
}

void TMainform::Show() {
  if (FView) FView->Show();
}

void TMainform::OpenCommandChannel(const std::string& host, int port) {
  auto client = std::make_shared<TTcpClient>();
  client->SetHost(host);
  client->SetPort(port);
  client->Connect();
  WriteTag(client->Socket(), "ACTN");
  if (FCommandClient) FOldReaders.emplace_back(FCommandClient, FCommandThread);
  FCommandClient = client;
  auto* thread = new TGoGoThread(client, [this](TGoGoThread& t, TStream& message) {
    DispatchCommand(*this, message, &t);
  });
  FCommandThread = thread->Done();
  thread->Start();
}

// An engine that gave no browser cannot paint: the host does not run without one.
void TMainform::RequireBrowser() {
  if (!FChromium->EngineBrowser())
    throw EStartupFailure(kExitEngineStart, "the engine created no browser");
}

void TMainform::OpenParentChannels() {
  const int port = GetSwitchInt("drawPort", -1);
  if (port == -1) return;
  try {
    OpenCommandChannel(kLoopbackHost, port);
    FDrawClient->SetHost(kLoopbackHost);
    FDrawClient->SetPort(port);
    FDrawClient->Connect();
    WriteTag(FDrawClient->Socket(), "DRAW");
  } catch (const platform::ESocketError& e) {
    throw EStartupFailure(kExitNoParentListening, "no parent on drawPort " + std::to_string(port) +
                                                      " (127.0.0.1:" +
                                                      std::to_string(uint16_t(port)) +
                                                      "): " + e.Message());
  }
}

// A parentID that names no running process ends the host as the end of its
// parent would, only at once.
void TMainform::StartParentWatchdog() {
  const int parentId = GetSwitchInt("parentID", 0);
  FOrphanWatch = NewSuicideOrphan(kExitParentEnded)->Watch(parentId);
  if (parentId != 0 && !FOrphanWatch->Watching() && (parentId < 0 || !platform::ProcessAlive(parentId)))
    throw EStartupFailure(kExitParentEnded,
                          "the parent process " + std::to_string(parentId) + " is not running");
}

TCefRef<cef_browser_t> TMainform::EngineBrowser() { return FChromium->EngineBrowser(); }

void TMainform::SetHeaders(std::string headers) {
  auto list = std::make_shared<const std::string>(std::move(headers));
  std::lock_guard<std::mutex> guard(FHeadersLock);
  FHeaders = std::move(list);
}

std::string TMainform::Headers() const {
  std::lock_guard<std::mutex> guard(FHeadersLock);
  return FHeaders ? *FHeaders : std::string();
}

void TMainform::Navigate(const std::string& url) { FChromium->Navigate(ToEngine(url)); }

void TMainform::PostQuit() { platform::QuitMainLoop(); }

// Every paint: the engine re-reads the view size, then a paint of the view's size
// (or any paint while a popup shows) is copied, composed and published.
void TMainform::wbChromiumPaint(TObject*, const TBrowserRef&, cef_paint_element_type_t kind,
                                uint32_t dirtyRectsCount, const cef_rect_t* dirtyRects,
                                const void* buffer, int width, int height) {
  if (TCefRef<cef_browser_host_t> host = FChromium->BrowserHost()) host->was_resized(host.get());
  bool sameSize;
  {
    std::lock_guard<std::recursive_mutex> guard(FViewBitmap.Lock());
    sameSize = width == FViewBitmap.Width() && height == FViewBitmap.Height();
  }
  if (!sameSize && !FPopupVisible) return;
  StoreDirtyRects(kind, dirtyRectsCount, dirtyRects, buffer, width, height);
  ComposeView();
  try {
    PublishFrame();
  } catch (const std::exception&) {
    // The frame is lost; the next paint tests the connection again.
  }
}

void TMainform::StoreDirtyRects(cef_paint_element_type_t kind, uint32_t count,
                                const cef_rect_t* rects, const void* buffer, int width,
                                int height) {
  static_assert(sizeof(cef_rect_t) == sizeof(TPixelRect));
  const auto* areas = reinterpret_cast<const TPixelRect*>(rects);
  const auto* pixels = static_cast<const uint8_t*>(buffer);
  if (kind == PET_POPUP)
    CopyDirtyRects(FPopupBitmap, pixels, width, height, int(count), areas);
  else  // the encoder converts only what changed in the view, as it is copied
    FFrameEncoder.Store(FViewBitmap, pixels, width, height, int(count), areas);
}

void TMainform::ComposeView() {
  if (FPopupVisible) {
    DrawBitmap(FPopupBitmap, FViewBitmap, FPopupRect.x, FPopupRect.y);
    FFrameEncoder.Invalidate({FPopupRect.x, FPopupRect.y, FPopupBitmap.Width(), FPopupBitmap.Height()});
  }
  if (FView) FView->DrawView(FViewBitmap);
}

// Areas changed while no frame was published stay marked in the encoder, so the
// next published frame is complete.
void TMainform::PublishFrame() {
  if (!FDrawClient || !FDrawClient->Connected()) return;
  WriteMessage(FDrawClient->Socket(), FFrameEncoder.Encode(FViewBitmap));
}

void TMainform::wbChromiumGetRootScreenRect(TObject*, const TBrowserRef&, cef_rect_t* rect,
                                            bool& Result) {
  std::lock_guard<std::recursive_mutex> guard(FViewBitmap.Lock());
  *rect = {0, 0, FViewBitmap.Width(), FViewBitmap.Height()};
  Result = true;
}

void TMainform::wbChromiumPopupShow(TObject*, const TBrowserRef&, bool show) {
  FPopupVisible = show;
}

void TMainform::wbChromiumPopupSize(TObject*, const TBrowserRef&, const cef_rect_t* rect) {
  FPopupBitmap.SetSize(rect->width, rect->height);
  FPopupRect = *rect;
}

// No new windows: the popup's address opens in this view.
void TMainform::wbChromiumBeforePopup(const std::u16string& targetUrl, bool& Result) {
  Result = true;
  FChromium->Navigate(targetUrl);
}

void TMainform::wbChromiumCursorChange(cef_cursor_type_t cursorType) {
  FCursor = CursorFromEngineType(int(cursorType));
  if (FView) FView->SetCursor(FCursor);
}

void TMainform::wbChromiumLoadError(const TFrameRef& frame, int errorCode,
                                    const std::u16string& errorText,
                                    const std::u16string& failedUrl) {
  if (errorCode == -3) return;  // aborted: nothing to show
  const std::u16string page = BuildLoadErrorPage(failedUrl, errorText, errorCode);
  if (frame && frame->is_valid(frame.get())) {
    const std::u16string url = u"source://html";
    cef_string_t text = CefStringView(page), address = CefStringView(url);
    frame->load_string(frame.get(), &text, &address);
  }
}

// Every request of every frame gets the parent's header list appended.
void TMainform::wbChromiumBeforeResourceLoad(const TRequestRef& request) {
  std::shared_ptr<const std::string> list;
  {
    std::lock_guard<std::mutex> guard(FHeadersLock);
    list = FHeaders;
  }
  if (!list || !request) return;
  std::optional<THeaderList> headers = BuildHeaderMap(*list);
  if (!headers) return;
  const TCefLibrary& lib = CefLib();
  cef_string_multimap_t map = lib.cef_string_multimap_alloc();
  request->get_header_map(request.get(), map);
  for (const auto& [name, value] : *headers) {
    const std::u16string n = ToEngine(name), v = ToEngine(value);
    cef_string_t key = CefStringView(n), val = CefStringView(v);
    lib.cef_string_multimap_append(map, &key, &val);
  }
  request->set_header_map(request.get(), map);
  lib.cef_string_multimap_free(map);
}

void TMainform::wbChromiumConsoleMessage(const std::u16string& message) {
  const std::string text = platform::WideToAnsi(message);
  std::fprintf(stderr, "%s\n", text.c_str());
  SendConsoleMessage(text);
}

// The text waits for the console thread, which sends the texts in this order.
void TMainform::SendConsoleMessage(const std::string& text) {
  if (text.empty() || !FDrawClient || !FDrawClient->Connected()) return;
  if (!FConsoleSender)
    FConsoleSender = std::make_unique<TConsoleSender>(FDrawClient->Host(), FDrawClient->Port());
  FConsoleSender->Post(text);
}
