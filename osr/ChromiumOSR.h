// The windowless browser component: one engine browser, its events, its options.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "osr/browsereventsink.h"
#include "osr/clienthandler.h"

class TCustomChromiumOSR;
using TObject = TCustomChromiumOSR;
using TCefState = cef_state_t;

struct TChromiumOptions {
  int32_t WindowlessFrameRate = 30;
  // The nineteen states and the background colour lie in the order of the
  // engine's browser settings, `javascript` through `background_color`.
  TCefState Javascript = STATE_DEFAULT;
  TCefState JavascriptOpenWindows = STATE_DEFAULT;
  TCefState JavascriptCloseWindows = STATE_DEFAULT;
  TCefState JavascriptAccessClipboard = STATE_DEFAULT;
  TCefState JavascriptDomPaste = STATE_DEFAULT;
  TCefState CaretBrowsing = STATE_DEFAULT;
  TCefState Java = STATE_DEFAULT;
  TCefState Plugins = STATE_DEFAULT;
  TCefState UniversalAccessFromFileUrls = STATE_DEFAULT;
  TCefState FileAccessFromFileUrls = STATE_DEFAULT;
  TCefState WebSecurity = STATE_DEFAULT;
  TCefState ImageLoading = STATE_DEFAULT;
  TCefState ImageShrinkStandaloneToFit = STATE_DEFAULT;
  TCefState TextAreaResize = STATE_DEFAULT;
  TCefState TabToLinks = STATE_DEFAULT;
  TCefState LocalStorage = STATE_DEFAULT;
  TCefState Databases = STATE_DEFAULT;
  TCefState ApplicationCache = STATE_DEFAULT;
  TCefState Webgl = STATE_DEFAULT;
  uint32_t BackgroundColor = 0;
  std::u16string AcceptLanguageList;
};

struct TChromiumFontOptions {
  std::u16string StandardFontFamily;
  std::u16string CursiveFontFamily;
  std::u16string SansSerifFontFamily;
  int32_t MinimumLogicalFontSize = 0;
  std::u16string FantasyFontFamily;
  std::u16string SerifFontFamily;
  int32_t DefaultFixedFontSize = 0;
  int32_t DefaultFontSize = 0;
  TCefState RemoteFonts = STATE_DEFAULT;
  std::u16string FixedFontFamily;
  int32_t MinimumFontSize = 0;
};

// Event types: the component first, the engine browser second; out results by
// reference, preset to the default before the handler runs.
using TOnPaint = std::function<void(TObject* Sender, const TBrowserRef& browser,
                                    cef_paint_element_type_t kind, uint32_t dirtyRectsCount,
                                    const cef_rect_t* dirtyRects, const void* buffer, int width,
                                    int height)>;
using TOnCursorChange = std::function<void(TObject* Sender, const TBrowserRef& browser,
                                           cef_cursor_handle_t cursor, cef_cursor_type_t cursorType,
                                           const cef_cursor_info_t* customCursorInfo)>;
using TOnGetRect = std::function<void(TObject* Sender, const TBrowserRef& browser, cef_rect_t* rect,
                                      bool& Result)>;
using TOnGetScreenPoint = std::function<void(TObject* Sender, const TBrowserRef& browser, int viewX,
                                             int viewY, int* screenX, int* screenY, bool& Result)>;
using TOnPopupShow = std::function<void(TObject* Sender, const TBrowserRef& browser, bool show)>;
using TOnPopupSize = std::function<void(TObject* Sender, const TBrowserRef& browser, const cef_rect_t* rect)>;
using TOnBrowser = std::function<void(TObject* Sender, const TBrowserRef& browser)>;
using TOnBrowserResult = std::function<void(TObject* Sender, const TBrowserRef& browser, bool& Result)>;
using TOnBeforePopup = std::function<void(
    TObject* Sender, const TBrowserRef& browser, const TFrameRef& frame, std::u16string& targetUrl,
    std::u16string& targetFrameName, cef_window_open_disposition_t targetDisposition,
    bool userGesture, const cef_popup_features_t* popupFeatures, cef_window_info_t* windowInfo,
    TCustomClientHandler*& client, cef_browser_settings_t* settings, bool& noJavascriptAccess,
    bool& Result)>;
using TOnBeforeResourceLoad = std::function<void(TObject* Sender, const TBrowserRef& browser,
                                                 const TFrameRef& frame, const TRequestRef& request,
                                                 const TRequestCallbackRef& callback,
                                                 cef_return_value_t& Result)>;
using TOnBeforeBrowse = std::function<void(TObject* Sender, const TBrowserRef& browser,
                                           const TFrameRef& frame, const TRequestRef& request,
                                           bool isRedirect, bool& Result)>;
using TOnConsoleMessage = std::function<void(TObject* Sender, const TBrowserRef& browser,
                                             const std::u16string& message,
                                             const std::u16string& source, int line, bool& Result)>;
using TOnLoadError = std::function<void(TObject* Sender, const TBrowserRef& browser,
                                        const TFrameRef& frame, int errorCode,
                                        const std::u16string& errorText,
                                        const std::u16string& failedUrl)>;
using TOnLoadStart = std::function<void(TObject* Sender, const TBrowserRef& browser, const TFrameRef& frame)>;
using TOnLoadEnd = std::function<void(TObject* Sender, const TBrowserRef& browser,
                                      const TFrameRef& frame, int httpStatusCode)>;
using TOnLoadingStateChange = std::function<void(TObject* Sender, const TBrowserRef& browser,
                                                 bool isLoading, bool canGoBack, bool canGoForward)>;
using TOnAddressChange = std::function<void(TObject* Sender, const TBrowserRef& browser,
                                            const TFrameRef& frame, const std::u16string& url)>;
using TOnTitleChange = std::function<void(TObject* Sender, const TBrowserRef& browser,
                                          const std::u16string& title)>;
using TOnRenderProcessTerminated = std::function<void(TObject* Sender, const TBrowserRef& browser,
                                                      cef_termination_status_t status)>;
using TOnProcessMessageReceived = std::function<void(
    TObject* Sender, const TBrowserRef& browser, cef_process_id_t sourceProcess,
    const TCefRef<cef_process_message_t>& message, bool& Result)>;

class TCustomChromiumOSR : public IBrowserEventSink {
 public:
  // `designing`: a component being designed creates no client and no browser.
  explicit TCustomChromiumOSR(bool designing = false);
  ~TCustomChromiumOSR() override;
  TCustomChromiumOSR(const TCustomChromiumOSR&) = delete;
  TCustomChromiumOSR& operator=(const TCustomChromiumOSR&) = delete;

  // After the owner applied properties and events: CreateEngineBrowser, then Navigate(DefaultUrl).
  void Loaded();
  void Navigate(const std::u16string& url);

  TBrowserRef EngineBrowser() const { return FBrowser; }
  int32_t EngineBrowserId() const { return FBrowserId; }
  // The browser's host and main frame, empty when there is no browser.
  TCefRef<cef_browser_host_t> BrowserHost() const;
  TFrameRef MainFrame() const;
  TCustomClientHandler* ClientHandler() const { return FHandler.get(); }

  std::u16string DefaultUrl = u"about:blank";
  std::u16string DefaultEncoding;
  bool TransparentView = false;
  TChromiumOptions& Options() { return *FOptions; }
  const TChromiumFontOptions& FontOptions() const { return *FFontOptions; }
  TChromiumFontOptions& FontOptionsRef() { return *FFontOptions; }

  // Events.
  TOnPaint OnPaint;
  TOnCursorChange OnCursorChange;
  TOnGetRect OnGetViewRect;
  TOnGetRect OnGetRootScreenRect;
  TOnGetScreenPoint OnGetScreenPoint;
  TOnPopupShow OnPopupShow;
  TOnPopupSize OnPopupSize;
  TOnBrowser OnScrollOffsetChanged;
  TOnBeforePopup OnBeforePopup;
  TOnBrowser OnAfterCreated;
  TOnBrowserResult OnRunModal;
  TOnBrowserResult OnClose;
  TOnBrowser OnBeforeClose;
  TOnBeforeResourceLoad OnBeforeResourceLoad;
  TOnBeforeBrowse OnBeforeBrowse;
  TOnBrowser OnRenderViewReady;
  TOnRenderProcessTerminated OnRenderProcessTerminated;
  TOnLoadingStateChange OnLoadingStateChange;
  TOnLoadStart OnLoadStart;
  TOnLoadEnd OnLoadEnd;
  TOnLoadError OnLoadError;
  TOnAddressChange OnAddressChange;
  TOnTitleChange OnTitleChange;
  TOnConsoleMessage OnConsoleMessage;
  TOnProcessMessageReceived OnProcessMessageReceived;

  // IBrowserEventSink
  void doOnPaint(const TBrowserRef& browser, cef_paint_element_type_t kind, uint32_t dirtyRectsCount,
                 const cef_rect_t* dirtyRects, const void* buffer, int width, int height) override;
  void doOnCursorChange(const TBrowserRef& browser, cef_cursor_handle_t cursor,
                        cef_cursor_type_t cursorType, const cef_cursor_info_t* info) override;
  bool doOnGetViewRect(const TBrowserRef& browser, cef_rect_t* rect) override;
  bool doOnGetRootScreenRect(const TBrowserRef& browser, cef_rect_t* rect) override;
  bool doOnGetScreenPoint(const TBrowserRef& browser, int viewX, int viewY, int* screenX,
                          int* screenY) override;
  void doOnPopupShow(const TBrowserRef& browser, bool show) override;
  void doOnPopupSize(const TBrowserRef& browser, const cef_rect_t* rect) override;
  void doOnScrollOffsetChanged(const TBrowserRef& browser) override;
  bool doOnStartDragging(const TBrowserRef& browser) override;
  void doOnUpdateDragCursor(const TBrowserRef& browser, cef_drag_operations_mask_t op) override;
  bool doOnBeforePopup(const TBrowserRef& browser, const TFrameRef& frame, std::u16string& targetUrl,
                       std::u16string& targetFrameName, cef_window_open_disposition_t disposition,
                       bool userGesture, const cef_popup_features_t* popupFeatures,
                       cef_window_info_t* windowInfo, TCustomClientHandler*& client,
                       cef_browser_settings_t* settings, bool& noJavascriptAccess) override;
  void doOnAfterCreated(const TBrowserRef& browser) override;
  bool doOnRunModal(const TBrowserRef& browser) override;
  bool doOnClose(const TBrowserRef& browser) override;
  void doOnBeforeClose(const TBrowserRef& browser) override;
  cef_return_value_t doOnBeforeResourceLoad(const TBrowserRef& browser, const TFrameRef& frame,
                                            const TRequestRef& request,
                                            const TRequestCallbackRef& callback) override;
  bool doOnBeforeBrowse(const TBrowserRef& browser, const TFrameRef& frame,
                        const TRequestRef& request, bool isRedirect) override;
  bool doOnCertificateError(const TBrowserRef& browser) override;
  void doOnRenderViewReady(const TBrowserRef& browser) override;
  void doOnRenderProcessTerminated(const TBrowserRef& browser, cef_termination_status_t status) override;
  void doOnLoadingStateChange(const TBrowserRef& browser, bool isLoading, bool canGoBack,
                              bool canGoForward) override;
  void doOnLoadStart(const TBrowserRef& browser, const TFrameRef& frame) override;
  void doOnLoadEnd(const TBrowserRef& browser, const TFrameRef& frame, int httpStatusCode) override;
  void doOnLoadError(const TBrowserRef& browser, const TFrameRef& frame, int errorCode,
                     const std::u16string& errorText, const std::u16string& failedUrl) override;
  void doOnAddressChange(const TBrowserRef& browser, const TFrameRef& frame,
                         const std::u16string& url) override;
  void doOnTitleChange(const TBrowserRef& browser, const std::u16string& title) override;
  bool doOnConsoleMessage(const TBrowserRef& browser, const std::u16string& message,
                          const std::u16string& source, int line) override;
  bool doOnProcessMessageReceived(const TBrowserRef& browser, cef_process_id_t sourceProcess,
                                  const TCefRef<cef_process_message_t>& message) override;
  void FillBrowserSettings(cef_browser_settings_t* settings) override;

 protected:
  void CreateEngineBrowser();

 private:
  bool FDesigning;
  TEventSinkRef FSinkLink;
  TOwnRef<TCustomClientHandler> FHandler;
  TBrowserRef FBrowser;
  int32_t FBrowserId = 0;
  std::unique_ptr<TChromiumOptions> FOptions;
  std::unique_ptr<TChromiumFontOptions> FFontOptions;
};

// The published component.
class TChromiumOSR : public TCustomChromiumOSR {
 public:
  using TCustomChromiumOSR::TCustomChromiumOSR;
};
