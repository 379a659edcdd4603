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

using TOnTakeFocus = std::function<void(TObject* Sender, const TBrowserRef& browser, bool next)>;
using TOnSetFocus = std::function<void(TObject* Sender, const TBrowserRef& browser, cef_focus_source_t source, bool& Result)>;
using TOnGotFocus = std::function<void(TObject* Sender, const TBrowserRef& browser)>;
using TOnPreKeyEvent = std::function<void(TObject* Sender, const TBrowserRef& browser, const cef_key_event_t* event, cef_event_handle_t osEvent, bool& isKeyboardShortcut, bool& Result)>;
using TOnKeyEvent = std::function<void(TObject* Sender, const TBrowserRef& browser, const cef_key_event_t* event, cef_event_handle_t osEvent, bool& Result)>;
using TOnFavIconUrlChange = std::function<void(TObject* Sender, const TBrowserRef& browser, cef_string_list_t iconUrls)>;
using TOnFullScreenModeChange = std::function<void(TObject* Sender, const TBrowserRef& browser, bool fullscreen)>;
using TOnTooltip = std::function<void(TObject* Sender, const TBrowserRef& browser, std::u16string& text, bool& Result)>;
using TOnStatusMessage = std::function<void(TObject* Sender, const TBrowserRef& browser, const std::u16string& value)>;
using TOnJsdialog = std::function<void(TObject* Sender, const TBrowserRef& browser, const std::u16string& originUrl, const std::u16string& acceptLang, cef_jsdialog_type_t dialogType, const std::u16string& messageText, const std::u16string& defaultPromptText, const TCefRef<cef_jsdialog_callback_t>& callback, bool& suppressMessage, bool& Result)>;
using TOnBeforeUnloadDialog = std::function<void(TObject* Sender, const TBrowserRef& browser, const std::u16string& messageText, bool isReload, const TCefRef<cef_jsdialog_callback_t>& callback, bool& Result)>;
using TOnResetDialogState = std::function<void(TObject* Sender, const TBrowserRef& browser)>;
using TOnDialogClosed = std::function<void(TObject* Sender, const TBrowserRef& browser)>;
using TOnOpenUrlFromTab = std::function<void(TObject* Sender, const TBrowserRef& browser, const TFrameRef& frame, const std::u16string& targetUrl, cef_window_open_disposition_t targetDisposition, bool userGesture, bool& Result)>;
using TOnResourceRedirect = std::function<void(TObject* Sender, const TBrowserRef& browser, const TFrameRef& frame, const TRequestRef& request, std::u16string& newUrl)>;
using TOnResourceResponse = std::function<void(TObject* Sender, const TBrowserRef& browser, const TFrameRef& frame, const TRequestRef& request, const TCefRef<cef_response_t>& response, bool& Result)>;
using TOnGetAuthCredentials = std::function<void(TObject* Sender, const TBrowserRef& browser, const TFrameRef& frame, bool isProxy, const std::u16string& host, int port, const std::u16string& realm, const std::u16string& scheme, const TCefRef<cef_auth_callback_t>& callback, bool& Result)>;
using TOnQuotaRequest = std::function<void(TObject* Sender, const TBrowserRef& browser, const std::u16string& originUrl, int64_t newSize, const TRequestCallbackRef& callback, bool& Result)>;
using TOnProtocolExecution = std::function<void(TObject* Sender, const TBrowserRef& browser, const std::u16string& url, bool& allowOsExecution)>;
using TOnPluginCrashed = std::function<void(TObject* Sender, const TBrowserRef& browser, const std::u16string& pluginPath)>;
using TOnBeforeContextMenu = std::function<void(TObject* Sender, const TBrowserRef& browser, const TFrameRef& frame, const TCefRef<cef_context_menu_params_t>& params, const TCefRef<cef_menu_model_t>& model)>;
using TOnContextMenuCommand = std::function<void(TObject* Sender, const TBrowserRef& browser, const TFrameRef& frame, const TCefRef<cef_context_menu_params_t>& params, int commandId, cef_event_flags_t eventFlags, bool& Result)>;
using TOnContextMenuDismissed = std::function<void(TObject* Sender, const TBrowserRef& browser, const TFrameRef& frame)>;
using TOnFileDialog = std::function<void(TObject* Sender, const TBrowserRef& browser, cef_file_dialog_mode_t mode, const std::u16string& title, const std::u16string& defaultFileName, cef_string_list_t acceptTypes, const TCefRef<cef_file_dialog_callback_t>& callback, bool& Result)>;
using TOnBeforeDownload = std::function<void(TObject* Sender, const TBrowserRef& browser, const TCefRef<cef_download_item_t>& downloadItem, const std::u16string& suggestedName, const TCefRef<cef_before_download_callback_t>& callback)>;
using TOnDownloadUpdated = std::function<void(TObject* Sender, const TBrowserRef& browser, const TCefRef<cef_download_item_t>& downloadItem, const TCefRef<cef_download_item_callback_t>& callback)>;
using TOnRequestGeolocationPermission = std::function<void(TObject* Sender, const TBrowserRef& browser, const std::u16string& requestingUrl, int requestId, const TCefRef<cef_geolocation_callback_t>& callback, bool& Result)>;
using TOnCancelGeolocationPermission = std::function<void(TObject* Sender, const TBrowserRef& browser, const std::u16string& requestingUrl, int requestId)>;
using TOnDragEnter = std::function<void(TObject* Sender, const TBrowserRef& browser, const TCefRef<cef_drag_data_t>& dragData, cef_drag_operations_mask_t mask, bool& Result)>;
using TOnDraggableRegionsChanged = std::function<void(TObject* Sender, const TBrowserRef& browser, size_t regionsCount, const cef_draggable_region_t* regions)>;
using TOnFindResult = std::function<void(TObject* Sender, const TBrowserRef& browser, int identifier, int count, const cef_rect_t* selectionRect, int activeMatchOrdinal, bool finalUpdate)>;
using TOnGetResourceHandler = std::function<void(TObject* Sender, const TBrowserRef& browser, const TFrameRef& frame, const TRequestRef& request, TCefRef<cef_resource_handler_t>& Result)>;

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
  TOnTakeFocus OnTakeFocus;
  TOnSetFocus OnSetFocus;
  TOnGotFocus OnGotFocus;
  TOnPreKeyEvent OnPreKeyEvent;
  TOnKeyEvent OnKeyEvent;
  TOnFavIconUrlChange OnFavIconUrlChange;
  TOnFullScreenModeChange OnFullScreenModeChange;
  TOnTooltip OnTooltip;
  TOnStatusMessage OnStatusMessage;
  TOnJsdialog OnJsdialog;
  TOnBeforeUnloadDialog OnBeforeUnloadDialog;
  TOnResetDialogState OnResetDialogState;
  TOnDialogClosed OnDialogClosed;
  TOnOpenUrlFromTab OnOpenUrlFromTab;
  TOnResourceRedirect OnResourceRedirect;
  TOnResourceResponse OnResourceResponse;
  TOnGetAuthCredentials OnGetAuthCredentials;
  TOnQuotaRequest OnQuotaRequest;
  TOnProtocolExecution OnProtocolExecution;
  TOnPluginCrashed OnPluginCrashed;
  TOnBeforeContextMenu OnBeforeContextMenu;
  TOnContextMenuCommand OnContextMenuCommand;
  TOnContextMenuDismissed OnContextMenuDismissed;
  TOnFileDialog OnFileDialog;
  TOnBeforeDownload OnBeforeDownload;
  TOnDownloadUpdated OnDownloadUpdated;
  TOnRequestGeolocationPermission OnRequestGeolocationPermission;
  TOnCancelGeolocationPermission OnCancelGeolocationPermission;
  TOnDragEnter OnDragEnter;
  TOnDraggableRegionsChanged OnDraggableRegionsChanged;
  TOnFindResult OnFindResult;
  TOnGetResourceHandler OnGetResourceHandler;

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
  void doOnTakeFocus(const TBrowserRef& browser, bool next) override;
  bool doOnSetFocus(const TBrowserRef& browser, cef_focus_source_t source) override;
  void doOnGotFocus(const TBrowserRef& browser) override;
  bool doOnPreKeyEvent(const TBrowserRef& browser, const cef_key_event_t* event, cef_event_handle_t osEvent, bool& isKeyboardShortcut) override;
  bool doOnKeyEvent(const TBrowserRef& browser, const cef_key_event_t* event, cef_event_handle_t osEvent) override;
  void doOnFavIconUrlChange(const TBrowserRef& browser, cef_string_list_t iconUrls) override;
  void doOnFullScreenModeChange(const TBrowserRef& browser, bool fullscreen) override;
  bool doOnTooltip(const TBrowserRef& browser, std::u16string& text) override;
  void doOnStatusMessage(const TBrowserRef& browser, const std::u16string& value) override;
  bool doOnJsdialog(const TBrowserRef& browser, const std::u16string& originUrl, const std::u16string& acceptLang, cef_jsdialog_type_t dialogType, const std::u16string& messageText, const std::u16string& defaultPromptText, const TCefRef<cef_jsdialog_callback_t>& callback, bool& suppressMessage) override;
  bool doOnBeforeUnloadDialog(const TBrowserRef& browser, const std::u16string& messageText, bool isReload, const TCefRef<cef_jsdialog_callback_t>& callback) override;
  void doOnResetDialogState(const TBrowserRef& browser) override;
  void doOnDialogClosed(const TBrowserRef& browser) override;
  bool doOnOpenUrlFromTab(const TBrowserRef& browser, const TFrameRef& frame, const std::u16string& targetUrl, cef_window_open_disposition_t targetDisposition, bool userGesture) override;
  void doOnResourceRedirect(const TBrowserRef& browser, const TFrameRef& frame, const TRequestRef& request, std::u16string& newUrl) override;
  bool doOnResourceResponse(const TBrowserRef& browser, const TFrameRef& frame, const TRequestRef& request, const TCefRef<cef_response_t>& response) override;
  bool doOnGetAuthCredentials(const TBrowserRef& browser, const TFrameRef& frame, bool isProxy, const std::u16string& host, int port, const std::u16string& realm, const std::u16string& scheme, const TCefRef<cef_auth_callback_t>& callback) override;
  bool doOnQuotaRequest(const TBrowserRef& browser, const std::u16string& originUrl, int64_t newSize, const TRequestCallbackRef& callback) override;
  void doOnProtocolExecution(const TBrowserRef& browser, const std::u16string& url, bool& allowOsExecution) override;
  void doOnPluginCrashed(const TBrowserRef& browser, const std::u16string& pluginPath) override;
  void doOnBeforeContextMenu(const TBrowserRef& browser, const TFrameRef& frame, const TCefRef<cef_context_menu_params_t>& params, const TCefRef<cef_menu_model_t>& model) override;
  bool doOnContextMenuCommand(const TBrowserRef& browser, const TFrameRef& frame, const TCefRef<cef_context_menu_params_t>& params, int commandId, cef_event_flags_t eventFlags) override;
  void doOnContextMenuDismissed(const TBrowserRef& browser, const TFrameRef& frame) override;
  bool doOnFileDialog(const TBrowserRef& browser, cef_file_dialog_mode_t mode, const std::u16string& title, const std::u16string& defaultFileName, cef_string_list_t acceptTypes, const TCefRef<cef_file_dialog_callback_t>& callback) override;
  void doOnBeforeDownload(const TBrowserRef& browser, const TCefRef<cef_download_item_t>& downloadItem, const std::u16string& suggestedName, const TCefRef<cef_before_download_callback_t>& callback) override;
  void doOnDownloadUpdated(const TBrowserRef& browser, const TCefRef<cef_download_item_t>& downloadItem, const TCefRef<cef_download_item_callback_t>& callback) override;
  bool doOnRequestGeolocationPermission(const TBrowserRef& browser, const std::u16string& requestingUrl, int requestId, const TCefRef<cef_geolocation_callback_t>& callback) override;
  void doOnCancelGeolocationPermission(const TBrowserRef& browser, const std::u16string& requestingUrl, int requestId) override;
  bool doOnDragEnter(const TBrowserRef& browser, const TCefRef<cef_drag_data_t>& dragData, cef_drag_operations_mask_t mask) override;
  void doOnDraggableRegionsChanged(const TBrowserRef& browser, size_t regionsCount, const cef_draggable_region_t* regions) override;
  void doOnFindResult(const TBrowserRef& browser, int identifier, int count, const cef_rect_t* selectionRect, int activeMatchOrdinal, bool finalUpdate) override;
  TCefRef<cef_resource_handler_t> doOnGetResourceHandler(const TBrowserRef& browser, const TFrameRef& frame, const TRequestRef& request) override;
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
