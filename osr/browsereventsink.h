// The component's event dispatch as the handler objects see it.
#pragma once

#include <cstdint>
#include <string>

#include "cefapi/cef_capi.h"
#include "engine/cefbase.h"

using TBrowserRef = TCefRef<cef_browser_t>;
using TFrameRef = TCefRef<cef_frame_t>;
using TRequestRef = TCefRef<cef_request_t>;
using TRequestCallbackRef = TCefRef<cef_request_callback_t>;

class TCustomClientHandler;

// Each operation presets its result to the event's default, runs the assigned
// handler if any and returns the result.
class IBrowserEventSink {
 public:
  virtual ~IBrowserEventSink() = default;
  virtual void doOnPaint(const TBrowserRef& browser, cef_paint_element_type_t kind,
                         uint32_t dirtyRectsCount, const cef_rect_t* dirtyRects,
                         const void* buffer, int width, int height) = 0;
  virtual void doOnCursorChange(const TBrowserRef& browser, cef_cursor_handle_t cursor,
                                cef_cursor_type_t cursorType,
                                const cef_cursor_info_t* customCursorInfo) = 0;
  virtual bool doOnGetViewRect(const TBrowserRef& browser, cef_rect_t* rect) = 0;
  virtual bool doOnGetRootScreenRect(const TBrowserRef& browser, cef_rect_t* rect) = 0;
  virtual bool doOnGetScreenPoint(const TBrowserRef& browser, int viewX, int viewY,
                                  int* screenX, int* screenY) = 0;
  virtual void doOnPopupShow(const TBrowserRef& browser, bool show) = 0;
  virtual void doOnPopupSize(const TBrowserRef& browser, const cef_rect_t* rect) = 0;
  virtual void doOnScrollOffsetChanged(const TBrowserRef& browser) = 0;
  virtual bool doOnStartDragging(const TBrowserRef& browser) = 0;
  virtual void doOnUpdateDragCursor(const TBrowserRef& browser,
                                    cef_drag_operations_mask_t operation) = 0;
  virtual bool doOnBeforePopup(const TBrowserRef& browser, const TFrameRef& frame,
                               std::u16string& targetUrl, std::u16string& targetFrameName,
                               cef_window_open_disposition_t targetDisposition, bool userGesture,
                               const cef_popup_features_t* popupFeatures,
                               cef_window_info_t* windowInfo, TCustomClientHandler*& client,
                               cef_browser_settings_t* settings, bool& noJavascriptAccess) = 0;
  virtual void doOnAfterCreated(const TBrowserRef& browser) = 0;
  virtual bool doOnRunModal(const TBrowserRef& browser) = 0;
  virtual bool doOnClose(const TBrowserRef& browser) = 0;
  virtual void doOnBeforeClose(const TBrowserRef& browser) = 0;
  virtual cef_return_value_t doOnBeforeResourceLoad(const TBrowserRef& browser,
                                                    const TFrameRef& frame,
                                                    const TRequestRef& request,
                                                    const TRequestCallbackRef& callback) = 0;
  virtual bool doOnBeforeBrowse(const TBrowserRef& browser, const TFrameRef& frame,
                                const TRequestRef& request, bool isRedirect) = 0;
  virtual bool doOnCertificateError(const TBrowserRef& browser) = 0;
  virtual void doOnRenderViewReady(const TBrowserRef& browser) = 0;
  virtual void doOnRenderProcessTerminated(const TBrowserRef& browser,
                                           cef_termination_status_t status) = 0;
  virtual void doOnLoadingStateChange(const TBrowserRef& browser, bool isLoading,
                                      bool canGoBack, bool canGoForward) = 0;
  virtual void doOnLoadStart(const TBrowserRef& browser, const TFrameRef& frame) = 0;
  virtual void doOnLoadEnd(const TBrowserRef& browser, const TFrameRef& frame,
                           int httpStatusCode) = 0;
  virtual void doOnLoadError(const TBrowserRef& browser, const TFrameRef& frame, int errorCode,
                             const std::u16string& errorText, const std::u16string& failedUrl) = 0;
  virtual void doOnAddressChange(const TBrowserRef& browser, const TFrameRef& frame,
                                 const std::u16string& url) = 0;
  virtual void doOnTitleChange(const TBrowserRef& browser, const std::u16string& title) = 0;
  virtual bool doOnConsoleMessage(const TBrowserRef& browser, const std::u16string& message,
                                  const std::u16string& source, int line) = 0;
  virtual bool doOnProcessMessageReceived(const TBrowserRef& browser,
                                          cef_process_id_t sourceProcess,
                                          const TCefRef<cef_process_message_t>& message) = 0;
  virtual void doOnTakeFocus(const TBrowserRef& browser, bool next) = 0;
  virtual bool doOnSetFocus(const TBrowserRef& browser, cef_focus_source_t source) = 0;
  virtual void doOnGotFocus(const TBrowserRef& browser) = 0;
  virtual bool doOnPreKeyEvent(const TBrowserRef& browser, const cef_key_event_t* event, cef_event_handle_t osEvent, bool& isKeyboardShortcut) = 0;
  virtual bool doOnKeyEvent(const TBrowserRef& browser, const cef_key_event_t* event, cef_event_handle_t osEvent) = 0;
  virtual void doOnFavIconUrlChange(const TBrowserRef& browser, cef_string_list_t iconUrls) = 0;
  virtual void doOnFullScreenModeChange(const TBrowserRef& browser, bool fullscreen) = 0;
  virtual bool doOnTooltip(const TBrowserRef& browser, std::u16string& text) = 0;
  virtual void doOnStatusMessage(const TBrowserRef& browser, const std::u16string& value) = 0;
  virtual bool doOnJsdialog(const TBrowserRef& browser, const std::u16string& originUrl, const std::u16string& acceptLang, cef_jsdialog_type_t dialogType, const std::u16string& messageText, const std::u16string& defaultPromptText, const TCefRef<cef_jsdialog_callback_t>& callback, bool& suppressMessage) = 0;
  virtual bool doOnBeforeUnloadDialog(const TBrowserRef& browser, const std::u16string& messageText, bool isReload, const TCefRef<cef_jsdialog_callback_t>& callback) = 0;
  virtual void doOnResetDialogState(const TBrowserRef& browser) = 0;
  virtual void doOnDialogClosed(const TBrowserRef& browser) = 0;
  virtual bool doOnOpenUrlFromTab(const TBrowserRef& browser, const TFrameRef& frame, const std::u16string& targetUrl, cef_window_open_disposition_t targetDisposition, bool userGesture) = 0;
  virtual void doOnResourceRedirect(const TBrowserRef& browser, const TFrameRef& frame, const TRequestRef& request, std::u16string& newUrl) = 0;
  virtual bool doOnResourceResponse(const TBrowserRef& browser, const TFrameRef& frame, const TRequestRef& request, const TCefRef<cef_response_t>& response) = 0;
  virtual bool doOnGetAuthCredentials(const TBrowserRef& browser, const TFrameRef& frame, bool isProxy, const std::u16string& host, int port, const std::u16string& realm, const std::u16string& scheme, const TCefRef<cef_auth_callback_t>& callback) = 0;
  virtual bool doOnQuotaRequest(const TBrowserRef& browser, const std::u16string& originUrl, int64_t newSize, const TRequestCallbackRef& callback) = 0;
  virtual void doOnProtocolExecution(const TBrowserRef& browser, const std::u16string& url, bool& allowOsExecution) = 0;
  virtual void doOnPluginCrashed(const TBrowserRef& browser, const std::u16string& pluginPath) = 0;
  virtual void doOnBeforeContextMenu(const TBrowserRef& browser, const TFrameRef& frame, const TCefRef<cef_context_menu_params_t>& params, const TCefRef<cef_menu_model_t>& model) = 0;
  virtual bool doOnContextMenuCommand(const TBrowserRef& browser, const TFrameRef& frame, const TCefRef<cef_context_menu_params_t>& params, int commandId, cef_event_flags_t eventFlags) = 0;
  virtual void doOnContextMenuDismissed(const TBrowserRef& browser, const TFrameRef& frame) = 0;
  virtual bool doOnFileDialog(const TBrowserRef& browser, cef_file_dialog_mode_t mode, const std::u16string& title, const std::u16string& defaultFileName, cef_string_list_t acceptTypes, const TCefRef<cef_file_dialog_callback_t>& callback) = 0;
  virtual void doOnBeforeDownload(const TBrowserRef& browser, const TCefRef<cef_download_item_t>& downloadItem, const std::u16string& suggestedName, const TCefRef<cef_before_download_callback_t>& callback) = 0;
  virtual void doOnDownloadUpdated(const TBrowserRef& browser, const TCefRef<cef_download_item_t>& downloadItem, const TCefRef<cef_download_item_callback_t>& callback) = 0;
  virtual bool doOnRequestGeolocationPermission(const TBrowserRef& browser, const std::u16string& requestingUrl, int requestId, const TCefRef<cef_geolocation_callback_t>& callback) = 0;
  virtual void doOnCancelGeolocationPermission(const TBrowserRef& browser, const std::u16string& requestingUrl, int requestId) = 0;
  virtual bool doOnDragEnter(const TBrowserRef& browser, const TCefRef<cef_drag_data_t>& dragData, cef_drag_operations_mask_t mask) = 0;
  virtual void doOnDraggableRegionsChanged(const TBrowserRef& browser, size_t regionsCount, const cef_draggable_region_t* regions) = 0;
  virtual void doOnFindResult(const TBrowserRef& browser, int identifier, int count, const cef_rect_t* selectionRect, int activeMatchOrdinal, bool finalUpdate) = 0;
  virtual TCefRef<cef_resource_handler_t> doOnGetResourceHandler(const TBrowserRef& browser, const TFrameRef& frame, const TRequestRef& request) = 0;
  virtual void FillBrowserSettings(cef_browser_settings_t* settings) = 0;
};
