#include "osr/ChromiumOSR.h"

#include <cstring>

#include "engine/cefintrk.h"

static_assert(sizeof(TCefState) == 4, "states are 32-bit values");
static_assert(offsetof(TChromiumOptions, BackgroundColor) - offsetof(TChromiumOptions, Javascript) ==
                  offsetof(cef_browser_settings_t, background_color) -
                      offsetof(cef_browser_settings_t, javascript),
              "the twenty option values lie as in the browser settings");

TCustomChromiumOSR::TCustomChromiumOSR(bool designing)
    : FDesigning(designing), FSinkLink(std::make_shared<TEventSinkLink>(this)) {
  if (!FDesigning) FHandler = new TVCLClientHandler(FSinkLink, true);
  FOptions = std::make_unique<TChromiumOptions>();
  FFontOptions = std::make_unique<TChromiumFontOptions>();
}

TCustomChromiumOSR::~TCustomChromiumOSR() {
  // No further render notification reaches the owner.
  OnGetRootScreenRect = nullptr;
  OnGetViewRect = nullptr;
  OnGetScreenPoint = nullptr;
  OnPopupShow = nullptr;
  OnPopupSize = nullptr;
  OnPaint = nullptr;
  OnCursorChange = nullptr;
  OnScrollOffsetChanged = nullptr;
  if (FBrowser) {
    if (FBrowser->stop_load) FBrowser->stop_load(FBrowser.get());
    TCefRef<cef_browser_host_t> host = BrowserHost();
    if (host && host->close_browser) host->close_browser(host.get(), 0);
  }
  if (FHandler) FHandler->ReleaseHandlers();
  // Handler objects the engine still holds must never reach this object again.
  FSinkLink->Detach();
  FHandler.reset();
  FBrowser.reset();
}

void TCustomChromiumOSR::Loaded() {
  CreateEngineBrowser();
  Navigate(DefaultUrl);
}

void TCustomChromiumOSR::CreateEngineBrowser() {
  if (FDesigning || FBrowser || !FHandler) return;
  if (!StartEngine()) return;
  cef_window_info_t info{};
  info.windowless_rendering_enabled = 1;
  info.transparent_painting_enabled = TransparentView ? 1 : 0;
  cef_browser_settings_t settings{};
  settings.size = sizeof(cef_browser_settings_t);
  FillBrowserSettings(&settings);
  const std::u16string empty;
  const cef_string_t url = CefStringView(empty);
  cef_browser_t* b = CefLib().cef_browser_host_create_browser_sync(
      &info, FHandler->Share<cef_client_t>(), &url, &settings, nullptr);
  FBrowser = TBrowserRef::Adopt(b);
  if (FBrowser && FBrowser->get_identifier) FBrowserId = FBrowser->get_identifier(FBrowser.get());
}

void TCustomChromiumOSR::FillBrowserSettings(cef_browser_settings_t* settings) {
  if (!settings || settings->size < sizeof(cef_browser_settings_t)) throw Exception("Assertion failure");
  settings->windowless_frame_rate = FOptions->WindowlessFrameRate;
  const TChromiumFontOptions& f = *FFontOptions;
  settings->standard_font_family = CefStringView(f.StandardFontFamily);
  settings->fixed_font_family = CefStringView(f.FixedFontFamily);
  settings->serif_font_family = CefStringView(f.SerifFontFamily);
  settings->sans_serif_font_family = CefStringView(f.SansSerifFontFamily);
  settings->cursive_font_family = CefStringView(f.CursiveFontFamily);
  settings->fantasy_font_family = CefStringView(f.FantasyFontFamily);
  settings->default_font_size = f.DefaultFontSize;
  settings->default_fixed_font_size = f.DefaultFixedFontSize;
  settings->minimum_font_size = f.MinimumFontSize;
  settings->minimum_logical_font_size = f.MinimumLogicalFontSize;
  settings->default_encoding = CefStringView(DefaultEncoding);
  settings->remote_fonts = f.RemoteFonts;
  std::memcpy(&settings->javascript, &FOptions->Javascript, 20 * sizeof(int32_t));
  settings->accept_language_list = CefStringView(FOptions->AcceptLanguageList);
}

TCefRef<cef_browser_host_t> TCustomChromiumOSR::BrowserHost() const {
  if (!FBrowser || !FBrowser->get_host) return {};
  return TCefRef<cef_browser_host_t>::Adopt(FBrowser->get_host(FBrowser.get()));
}

TFrameRef TCustomChromiumOSR::MainFrame() const {
  if (!FBrowser || !FBrowser->get_main_frame) return {};
  return TFrameRef::Adopt(FBrowser->get_main_frame(FBrowser.get()));
}

void TCustomChromiumOSR::Navigate(const std::u16string& url) {
  TFrameRef frame = MainFrame();
  if (!frame || !frame->load_url) return;
  const cef_string_t u = CefStringView(url);
  frame->load_url(frame.get(), &u);
}

// ---- event dispatch: preset the result, run the assigned handler ----------------------

void TCustomChromiumOSR::doOnPaint(const TBrowserRef& b, cef_paint_element_type_t kind, uint32_t n,
                                   const cef_rect_t* rects, const void* buffer, int w, int h) {
  if (auto ev = OnPaint) ev(this, b, kind, n, rects, buffer, w, h);
}
void TCustomChromiumOSR::doOnCursorChange(const TBrowserRef& b, cef_cursor_handle_t c, cef_cursor_type_t t,
                                          const cef_cursor_info_t* info) {
  if (auto ev = OnCursorChange) ev(this, b, c, t, info);
}
bool TCustomChromiumOSR::doOnGetViewRect(const TBrowserRef& b, cef_rect_t* rect) {
  bool result = false;
  if (auto ev = OnGetViewRect) ev(this, b, rect, result);
  return result;
}
bool TCustomChromiumOSR::doOnGetRootScreenRect(const TBrowserRef& b, cef_rect_t* rect) {
  bool result = false;
  if (auto ev = OnGetRootScreenRect) ev(this, b, rect, result);
  return result;
}
bool TCustomChromiumOSR::doOnGetScreenPoint(const TBrowserRef& b, int x, int y, int* sx, int* sy) {
  bool result = false;
  if (auto ev = OnGetScreenPoint) ev(this, b, x, y, sx, sy, result);
  return result;
}
void TCustomChromiumOSR::doOnPopupShow(const TBrowserRef& b, bool show) {
  if (auto ev = OnPopupShow) ev(this, b, show);
}
void TCustomChromiumOSR::doOnPopupSize(const TBrowserRef& b, const cef_rect_t* rect) {
  if (auto ev = OnPopupSize) ev(this, b, rect);
}
void TCustomChromiumOSR::doOnScrollOffsetChanged(const TBrowserRef& b) {
  if (auto ev = OnScrollOffsetChanged) ev(this, b);
}
bool TCustomChromiumOSR::doOnStartDragging(const TBrowserRef&) { return false; }
void TCustomChromiumOSR::doOnUpdateDragCursor(const TBrowserRef&, cef_drag_operations_mask_t) {}
bool TCustomChromiumOSR::doOnBeforePopup(const TBrowserRef& b, const TFrameRef& frame, std::u16string& url,
                                         std::u16string& name, cef_window_open_disposition_t disp,
                                         bool gesture, const cef_popup_features_t* features,
                                         cef_window_info_t* wi, TCustomClientHandler*& client,
                                         cef_browser_settings_t* settings, bool& noJs) {
  bool result = false;
  if (auto ev = OnBeforePopup) ev(this, b, frame, url, name, disp, gesture, features, wi, client, settings, noJs, result);
  return result;
}
void TCustomChromiumOSR::doOnAfterCreated(const TBrowserRef& b) {
  if (auto ev = OnAfterCreated) ev(this, b);
}
bool TCustomChromiumOSR::doOnRunModal(const TBrowserRef& b) {
  bool result = false;
  if (auto ev = OnRunModal) ev(this, b, result);
  return result;
}
bool TCustomChromiumOSR::doOnClose(const TBrowserRef& b) {
  bool result = false;
  if (auto ev = OnClose) ev(this, b, result);
  return result;
}
void TCustomChromiumOSR::doOnBeforeClose(const TBrowserRef& b) {
  if (auto ev = OnBeforeClose) ev(this, b);
}
cef_return_value_t TCustomChromiumOSR::doOnBeforeResourceLoad(const TBrowserRef& b, const TFrameRef& f,
                                                              const TRequestRef& r,
                                                              const TRequestCallbackRef& c) {
  cef_return_value_t result = RV_CONTINUE;
  if (auto ev = OnBeforeResourceLoad) ev(this, b, f, r, c, result);
  return result;
}
bool TCustomChromiumOSR::doOnBeforeBrowse(const TBrowserRef& b, const TFrameRef& f, const TRequestRef& r,
                                          bool redirect) {
  bool result = false;
  if (auto ev = OnBeforeBrowse) ev(this, b, f, r, redirect, result);
  return result;
}
bool TCustomChromiumOSR::doOnCertificateError(const TBrowserRef&) { return false; }
void TCustomChromiumOSR::doOnRenderViewReady(const TBrowserRef& b) {
  if (auto ev = OnRenderViewReady) ev(this, b);
}
void TCustomChromiumOSR::doOnRenderProcessTerminated(const TBrowserRef& b, cef_termination_status_t st) {
  if (auto ev = OnRenderProcessTerminated) ev(this, b, st);
}
void TCustomChromiumOSR::doOnLoadingStateChange(const TBrowserRef& b, bool l, bool bk, bool fw) {
  if (auto ev = OnLoadingStateChange) ev(this, b, l, bk, fw);
}
void TCustomChromiumOSR::doOnLoadStart(const TBrowserRef& b, const TFrameRef& f) {
  if (auto ev = OnLoadStart) ev(this, b, f);
}
void TCustomChromiumOSR::doOnLoadEnd(const TBrowserRef& b, const TFrameRef& f, int code) {
  if (auto ev = OnLoadEnd) ev(this, b, f, code);
}
void TCustomChromiumOSR::doOnLoadError(const TBrowserRef& b, const TFrameRef& f, int code,
                                       const std::u16string& text, const std::u16string& url) {
  if (auto ev = OnLoadError) ev(this, b, f, code, text, url);
}
void TCustomChromiumOSR::doOnAddressChange(const TBrowserRef& b, const TFrameRef& f, const std::u16string& url) {
  if (auto ev = OnAddressChange) ev(this, b, f, url);
}
void TCustomChromiumOSR::doOnTitleChange(const TBrowserRef& b, const std::u16string& title) {
  if (auto ev = OnTitleChange) ev(this, b, title);
}
bool TCustomChromiumOSR::doOnConsoleMessage(const TBrowserRef& b, const std::u16string& message,
                                            const std::u16string& source, int line) {
  bool result = false;
  if (auto ev = OnConsoleMessage) ev(this, b, message, source, line, result);
  return result;
}
bool TCustomChromiumOSR::doOnProcessMessageReceived(const TBrowserRef& b, cef_process_id_t src,
                                                    const TCefRef<cef_process_message_t>& m) {
  bool result = false;
  if (auto ev = OnProcessMessageReceived) ev(this, b, src, m, result);
  return result;
}

void TCustomChromiumOSR::doOnTakeFocus(const TBrowserRef& browser, bool next) {
  if (auto ev = OnTakeFocus) ev(this, browser, next);
}
bool TCustomChromiumOSR::doOnSetFocus(const TBrowserRef& browser, cef_focus_source_t source) {
  bool result = false;
  if (auto ev = OnSetFocus) ev(this, browser, source, result);
  return result;
}
void TCustomChromiumOSR::doOnGotFocus(const TBrowserRef& browser) {
  if (auto ev = OnGotFocus) ev(this, browser);
}
bool TCustomChromiumOSR::doOnPreKeyEvent(const TBrowserRef& browser, const cef_key_event_t* event, cef_event_handle_t osEvent, bool& isKeyboardShortcut) {
  bool result = false;
  if (auto ev = OnPreKeyEvent) ev(this, browser, event, osEvent, isKeyboardShortcut, result);
  return result;
}
bool TCustomChromiumOSR::doOnKeyEvent(const TBrowserRef& browser, const cef_key_event_t* event, cef_event_handle_t osEvent) {
  bool result = false;
  if (auto ev = OnKeyEvent) ev(this, browser, event, osEvent, result);
  return result;
}
void TCustomChromiumOSR::doOnFavIconUrlChange(const TBrowserRef& browser, cef_string_list_t iconUrls) {
  if (auto ev = OnFavIconUrlChange) ev(this, browser, iconUrls);
}
void TCustomChromiumOSR::doOnFullScreenModeChange(const TBrowserRef& browser, bool fullscreen) {
  if (auto ev = OnFullScreenModeChange) ev(this, browser, fullscreen);
}
bool TCustomChromiumOSR::doOnTooltip(const TBrowserRef& browser, std::u16string& text) {
  bool result = false;
  if (auto ev = OnTooltip) ev(this, browser, text, result);
  return result;
}
void TCustomChromiumOSR::doOnStatusMessage(const TBrowserRef& browser, const std::u16string& value) {
  if (auto ev = OnStatusMessage) ev(this, browser, value);
}
bool TCustomChromiumOSR::doOnJsdialog(const TBrowserRef& browser, const std::u16string& originUrl, const std::u16string& acceptLang, cef_jsdialog_type_t dialogType, const std::u16string& messageText, const std::u16string& defaultPromptText, const TCefRef<cef_jsdialog_callback_t>& callback, bool& suppressMessage) {
  bool result = false;
  if (auto ev = OnJsdialog) ev(this, browser, originUrl, acceptLang, dialogType, messageText, defaultPromptText, callback, suppressMessage, result);
  return result;
}
bool TCustomChromiumOSR::doOnBeforeUnloadDialog(const TBrowserRef& browser, const std::u16string& messageText, bool isReload, const TCefRef<cef_jsdialog_callback_t>& callback) {
  bool result = false;
  if (auto ev = OnBeforeUnloadDialog) ev(this, browser, messageText, isReload, callback, result);
  return result;
}
void TCustomChromiumOSR::doOnResetDialogState(const TBrowserRef& browser) {
  if (auto ev = OnResetDialogState) ev(this, browser);
}
void TCustomChromiumOSR::doOnDialogClosed(const TBrowserRef& browser) {
  if (auto ev = OnDialogClosed) ev(this, browser);
}
bool TCustomChromiumOSR::doOnOpenUrlFromTab(const TBrowserRef& browser, const TFrameRef& frame, const std::u16string& targetUrl, cef_window_open_disposition_t targetDisposition, bool userGesture) {
  bool result = false;
  if (auto ev = OnOpenUrlFromTab) ev(this, browser, frame, targetUrl, targetDisposition, userGesture, result);
  return result;
}
void TCustomChromiumOSR::doOnResourceRedirect(const TBrowserRef& browser, const TFrameRef& frame, const TRequestRef& request, std::u16string& newUrl) {
  if (auto ev = OnResourceRedirect) ev(this, browser, frame, request, newUrl);
}
bool TCustomChromiumOSR::doOnResourceResponse(const TBrowserRef& browser, const TFrameRef& frame, const TRequestRef& request, const TCefRef<cef_response_t>& response) {
  bool result = false;
  if (auto ev = OnResourceResponse) ev(this, browser, frame, request, response, result);
  return result;
}
bool TCustomChromiumOSR::doOnGetAuthCredentials(const TBrowserRef& browser, const TFrameRef& frame, bool isProxy, const std::u16string& host, int port, const std::u16string& realm, const std::u16string& scheme, const TCefRef<cef_auth_callback_t>& callback) {
  bool result = false;
  if (auto ev = OnGetAuthCredentials) ev(this, browser, frame, isProxy, host, port, realm, scheme, callback, result);
  return result;
}
bool TCustomChromiumOSR::doOnQuotaRequest(const TBrowserRef& browser, const std::u16string& originUrl, int64_t newSize, const TRequestCallbackRef& callback) {
  bool result = false;
  if (auto ev = OnQuotaRequest) ev(this, browser, originUrl, newSize, callback, result);
  return result;
}
void TCustomChromiumOSR::doOnProtocolExecution(const TBrowserRef& browser, const std::u16string& url, bool& allowOsExecution) {
  if (auto ev = OnProtocolExecution) ev(this, browser, url, allowOsExecution);
}
void TCustomChromiumOSR::doOnPluginCrashed(const TBrowserRef& browser, const std::u16string& pluginPath) {
  if (auto ev = OnPluginCrashed) ev(this, browser, pluginPath);
}
void TCustomChromiumOSR::doOnBeforeContextMenu(const TBrowserRef& browser, const TFrameRef& frame, const TCefRef<cef_context_menu_params_t>& params, const TCefRef<cef_menu_model_t>& model) {
  if (auto ev = OnBeforeContextMenu) ev(this, browser, frame, params, model);
}
bool TCustomChromiumOSR::doOnContextMenuCommand(const TBrowserRef& browser, const TFrameRef& frame, const TCefRef<cef_context_menu_params_t>& params, int commandId, cef_event_flags_t eventFlags) {
  bool result = false;
  if (auto ev = OnContextMenuCommand) ev(this, browser, frame, params, commandId, eventFlags, result);
  return result;
}
void TCustomChromiumOSR::doOnContextMenuDismissed(const TBrowserRef& browser, const TFrameRef& frame) {
  if (auto ev = OnContextMenuDismissed) ev(this, browser, frame);
}
bool TCustomChromiumOSR::doOnFileDialog(const TBrowserRef& browser, cef_file_dialog_mode_t mode, const std::u16string& title, const std::u16string& defaultFileName, cef_string_list_t acceptTypes, const TCefRef<cef_file_dialog_callback_t>& callback) {
  bool result = false;
  if (auto ev = OnFileDialog) ev(this, browser, mode, title, defaultFileName, acceptTypes, callback, result);
  return result;
}
void TCustomChromiumOSR::doOnBeforeDownload(const TBrowserRef& browser, const TCefRef<cef_download_item_t>& downloadItem, const std::u16string& suggestedName, const TCefRef<cef_before_download_callback_t>& callback) {
  if (auto ev = OnBeforeDownload) ev(this, browser, downloadItem, suggestedName, callback);
}
void TCustomChromiumOSR::doOnDownloadUpdated(const TBrowserRef& browser, const TCefRef<cef_download_item_t>& downloadItem, const TCefRef<cef_download_item_callback_t>& callback) {
  if (auto ev = OnDownloadUpdated) ev(this, browser, downloadItem, callback);
}
bool TCustomChromiumOSR::doOnRequestGeolocationPermission(const TBrowserRef& browser, const std::u16string& requestingUrl, int requestId, const TCefRef<cef_geolocation_callback_t>& callback) {
  bool result = false;
  if (auto ev = OnRequestGeolocationPermission) ev(this, browser, requestingUrl, requestId, callback, result);
  return result;
}
void TCustomChromiumOSR::doOnCancelGeolocationPermission(const TBrowserRef& browser, const std::u16string& requestingUrl, int requestId) {
  if (auto ev = OnCancelGeolocationPermission) ev(this, browser, requestingUrl, requestId);
}
bool TCustomChromiumOSR::doOnDragEnter(const TBrowserRef& browser, const TCefRef<cef_drag_data_t>& dragData, cef_drag_operations_mask_t mask) {
  bool result = false;
  if (auto ev = OnDragEnter) ev(this, browser, dragData, mask, result);
  return result;
}
void TCustomChromiumOSR::doOnDraggableRegionsChanged(const TBrowserRef& browser, size_t regionsCount, const cef_draggable_region_t* regions) {
  if (auto ev = OnDraggableRegionsChanged) ev(this, browser, regionsCount, regions);
}
void TCustomChromiumOSR::doOnFindResult(const TBrowserRef& browser, int identifier, int count, const cef_rect_t* selectionRect, int activeMatchOrdinal, bool finalUpdate) {
  if (auto ev = OnFindResult) ev(this, browser, identifier, count, selectionRect, activeMatchOrdinal, finalUpdate);
}
TCefRef<cef_resource_handler_t> TCustomChromiumOSR::doOnGetResourceHandler(const TBrowserRef& browser, const TFrameRef& frame, const TRequestRef& request) {
  TCefRef<cef_resource_handler_t> result;  // no handler
  if (auto ev = OnGetResourceHandler) ev(this, browser, frame, request, result);
  return result;
}
