// The component's event dispatch as the handler objects see it.
#pragma once

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
  virtual void FillBrowserSettings(cef_browser_settings_t* settings) = 0;
};
