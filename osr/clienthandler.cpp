#include "osr/clienthandler.h"

#include "engine/cefload.h"
#include "platform/mainloop.h"

namespace {

template <class H, class S>
IBrowserEventSink* SinkOf(S* self) {
  return TCefBaseOwn::Owner<H>(self)->Events();
}
TBrowserRef B(cef_browser_t* b) { return TBrowserRef::Adopt(b); }
TFrameRef F(cef_frame_t* f) { return TFrameRef::Adopt(f); }

// ---- render ---------------------------------------------------------------------
using RH = TCustomRenderHandler;
int CEF_CALLBACK rh_get_root_screen_rect(cef_render_handler_t* self, cef_browser_t* b, cef_rect_t* r) {
  TBrowserRef br = B(b);
  IBrowserEventSink* s = SinkOf<RH>(self);
  return s && s->doOnGetRootScreenRect(br, r) ? 1 : 0;
}
int CEF_CALLBACK rh_get_view_rect(cef_render_handler_t* self, cef_browser_t* b, cef_rect_t* r) {
  TBrowserRef br = B(b);
  IBrowserEventSink* s = SinkOf<RH>(self);
  return s && s->doOnGetViewRect(br, r) ? 1 : 0;
}
int CEF_CALLBACK rh_get_screen_point(cef_render_handler_t* self, cef_browser_t* b, int x, int y,
                                     int* sx, int* sy) {
  TBrowserRef br = B(b);
  IBrowserEventSink* s = SinkOf<RH>(self);
  return s && s->doOnGetScreenPoint(br, x, y, sx, sy) ? 1 : 0;
}
void CEF_CALLBACK rh_on_popup_show(cef_render_handler_t* self, cef_browser_t* b, int show) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<RH>(self)) s->doOnPopupShow(br, show != 0);
}
void CEF_CALLBACK rh_on_popup_size(cef_render_handler_t* self, cef_browser_t* b, const cef_rect_t* r) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<RH>(self)) s->doOnPopupSize(br, r);
}
void CEF_CALLBACK rh_on_paint(cef_render_handler_t* self, cef_browser_t* b, cef_paint_element_type_t t,
                              size_t n, const cef_rect_t* rects, const void* buffer, int w, int h) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<RH>(self)) s->doOnPaint(br, t, uint32_t(n), rects, buffer, w, h);
}
void CEF_CALLBACK rh_on_cursor_change(cef_render_handler_t* self, cef_browser_t* b, cef_cursor_handle_t c,
                                      cef_cursor_type_t t, const cef_cursor_info_t* info) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<RH>(self)) s->doOnCursorChange(br, c, t, info);
}
int CEF_CALLBACK rh_start_dragging(cef_render_handler_t* self, cef_browser_t* b, cef_drag_data_t* d,
                                   cef_drag_operations_mask_t, int, int) {
  TBrowserRef br = B(b);
  TCefRef<cef_drag_data_t> dd = TCefRef<cef_drag_data_t>::Adopt(d);
  if (IBrowserEventSink* s = SinkOf<RH>(self)) s->doOnStartDragging(br);
  return 0;  // no published event: the engine does the dragging itself
}
void CEF_CALLBACK rh_update_drag_cursor(cef_render_handler_t* self, cef_browser_t* b,
                                        cef_drag_operations_mask_t op) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<RH>(self)) s->doOnUpdateDragCursor(br, op);
}
void CEF_CALLBACK rh_on_scroll_offset_changed(cef_render_handler_t* self, cef_browser_t* b) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<RH>(self)) s->doOnScrollOffsetChanged(br);
}

// ---- life span ------------------------------------------------------------------
using LH = TCustomLifeSpanHandler;
int CEF_CALLBACK lh_on_before_popup(cef_life_span_handler_t* self, cef_browser_t* b, cef_frame_t* f,
                                    cef_string_t* targetUrl, cef_string_t* targetFrameName,
                                    cef_window_open_disposition_t disposition, int userGesture,
                                    const cef_popup_features_t* features, cef_window_info_t* windowInfo,
                                    cef_client_t** client, cef_browser_settings_t* settings,
                                    int* noJavascriptAccess) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  IBrowserEventSink* s = SinkOf<LH>(self);
  if (!s) return 0;
  std::u16string url = CefString(targetUrl);
  std::u16string name = CefString(targetFrameName);
  // The engine passes the source browser's client, which is this program's own.
  TCustomClientHandler* programClient =
      client && *client ? TCefBaseOwn::Owner<TCustomClientHandler>(*client) : nullptr;
  TCustomClientHandler* before = programClient;
  bool noJs = noJavascriptAccess && *noJavascriptAccess != 0;
  const bool result = s->doOnBeforePopup(br, fr, url, name, disposition, userGesture != 0, features,
                                         windowInfo, programClient, settings, noJs);
  if (targetUrl) CefStringSet(targetUrl, url);
  if (targetFrameName) CefStringSet(targetFrameName, name);
  if (client && programClient != before) {
    // The handler chose another client: the engine gets it with its own reference
    // and gives back the one it passed in.
    cef_client_t* old = *client;
    *client = programClient ? programClient->Share<cef_client_t>() : nullptr;
    if (old) old->base.release(&old->base);
  }
  if (noJavascriptAccess) *noJavascriptAccess = noJs ? 1 : 0;
  return result ? 1 : 0;
}
void CEF_CALLBACK lh_on_after_created(cef_life_span_handler_t* self, cef_browser_t* b) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<LH>(self)) s->doOnAfterCreated(br);
}
int CEF_CALLBACK lh_run_modal(cef_life_span_handler_t* self, cef_browser_t* b) {
  TBrowserRef br = B(b);
  IBrowserEventSink* s = SinkOf<LH>(self);
  return s && s->doOnRunModal(br) ? 1 : 0;
}
int CEF_CALLBACK lh_do_close(cef_life_span_handler_t* self, cef_browser_t* b) {
  TBrowserRef br = B(b);
  IBrowserEventSink* s = SinkOf<LH>(self);
  return s && s->doOnClose(br) ? 1 : 0;
}
void CEF_CALLBACK lh_on_before_close(cef_life_span_handler_t* self, cef_browser_t* b) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<LH>(self)) s->doOnBeforeClose(br);
}

// ---- load -----------------------------------------------------------------------
using LD = TCustomLoadHandler;
void CEF_CALLBACK ld_on_loading_state_change(cef_load_handler_t* self, cef_browser_t* b, int l, int bk, int fw) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<LD>(self)) s->doOnLoadingStateChange(br, l != 0, bk != 0, fw != 0);
}
void CEF_CALLBACK ld_on_load_start(cef_load_handler_t* self, cef_browser_t* b, cef_frame_t* f) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  if (IBrowserEventSink* s = SinkOf<LD>(self)) s->doOnLoadStart(br, fr);
}
void CEF_CALLBACK ld_on_load_end(cef_load_handler_t* self, cef_browser_t* b, cef_frame_t* f, int code) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  if (IBrowserEventSink* s = SinkOf<LD>(self)) s->doOnLoadEnd(br, fr, code);
}
void CEF_CALLBACK ld_on_load_error(cef_load_handler_t* self, cef_browser_t* b, cef_frame_t* f,
                                   cef_errorcode_t code, const cef_string_t* text, const cef_string_t* url) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  const std::u16string t = CefString(text), u = CefString(url);
  if (IBrowserEventSink* s = SinkOf<LD>(self)) s->doOnLoadError(br, fr, int(code), t, u);
}

// ---- display --------------------------------------------------------------------
using DH = TCustomDisplayHandler;
void CEF_CALLBACK dh_on_address_change(cef_display_handler_t* self, cef_browser_t* b, cef_frame_t* f,
                                       const cef_string_t* url) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  const std::u16string u = CefString(url);
  if (IBrowserEventSink* s = SinkOf<DH>(self)) s->doOnAddressChange(br, fr, u);
}
void CEF_CALLBACK dh_on_title_change(cef_display_handler_t* self, cef_browser_t* b, const cef_string_t* t) {
  TBrowserRef br = B(b);
  const std::u16string title = CefString(t);
  if (IBrowserEventSink* s = SinkOf<DH>(self)) s->doOnTitleChange(br, title);
}
int CEF_CALLBACK dh_on_console_message(cef_display_handler_t* self, cef_browser_t* b, const cef_string_t* m,
                                       const cef_string_t* src, int line) {
  TBrowserRef br = B(b);
  const std::u16string message = CefString(m), source = CefString(src);
  IBrowserEventSink* s = SinkOf<DH>(self);
  return s && s->doOnConsoleMessage(br, message, source, line) ? 1 : 0;
}

// ---- request --------------------------------------------------------------------
using QH = TCustomRequestHandler;
int CEF_CALLBACK qh_on_before_browse(cef_request_handler_t* self, cef_browser_t* b, cef_frame_t* f,
                                     cef_request_t* r, int redirect) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  TRequestRef rq = TRequestRef::Adopt(r);
  IBrowserEventSink* s = SinkOf<QH>(self);
  return s && s->doOnBeforeBrowse(br, fr, rq, redirect != 0) ? 1 : 0;
}
cef_return_value_t CEF_CALLBACK qh_on_before_resource_load(cef_request_handler_t* self, cef_browser_t* b,
                                                           cef_frame_t* f, cef_request_t* r,
                                                           cef_request_callback_t* cb) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  TRequestRef rq = TRequestRef::Adopt(r);
  TRequestCallbackRef cr = TRequestCallbackRef::Adopt(cb);
  IBrowserEventSink* s = SinkOf<QH>(self);
  return s ? s->doOnBeforeResourceLoad(br, fr, rq, cr) : RV_CONTINUE;
}
cef_resource_handler_t* CEF_CALLBACK qh_get_resource_handler(cef_request_handler_t*, cef_browser_t* b,
                                                             cef_frame_t* f, cef_request_t* r) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  TRequestRef rq = TRequestRef::Adopt(r);
  return nullptr;  // no published resource handler: the engine loads normally
}
int CEF_CALLBACK qh_on_certificate_error(cef_request_handler_t* self, cef_browser_t* b, cef_errorcode_t,
                                         const cef_string_t*, cef_allow_certificate_error_callback_t* cb) {
  TBrowserRef br = B(b);
  TCefRef<cef_allow_certificate_error_callback_t> c = TCefRef<cef_allow_certificate_error_callback_t>::Adopt(cb);
  if (IBrowserEventSink* s = SinkOf<QH>(self)) s->doOnCertificateError(br);
  return 0;
}
void CEF_CALLBACK qh_on_render_view_ready(cef_request_handler_t* self, cef_browser_t* b) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<QH>(self)) s->doOnRenderViewReady(br);
}
void CEF_CALLBACK qh_on_render_process_terminated(cef_request_handler_t* self, cef_browser_t* b,
                                                  cef_termination_status_t st) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<QH>(self)) s->doOnRenderProcessTerminated(br, st);
}

int CEF_CALLBACK cm_run_context_menu(cef_context_menu_handler_t*, cef_browser_t* b, cef_frame_t* f,
                                     cef_context_menu_params_t* p, cef_menu_model_t* m,
                                     cef_run_context_menu_callback_t* c) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  TCefRef<cef_context_menu_params_t>::Adopt(p);
  TCefRef<cef_menu_model_t>::Adopt(m);
  TCefRef<cef_run_context_menu_callback_t>::Adopt(c);
  return 0;
}

// ---- client ---------------------------------------------------------------------
using CH = TCustomClientHandler;
template <class T>
T* Hand(const TOwnRef<TCefBaseOwn>& h) {
  return h ? h->Share<T>() : nullptr;
}
#define PV7_GETTER(slot, field, type) \
  type* CEF_CALLBACK ch_##slot(cef_client_t* self) { return Hand<type>(TCefBaseOwn::Owner<CH>(self)->field); }
PV7_GETTER(get_context_menu_handler, FContextMenuHandler, cef_context_menu_handler_t)
PV7_GETTER(get_dialog_handler, FDialogHandler, cef_dialog_handler_t)
PV7_GETTER(get_display_handler, FDisplayHandler, cef_display_handler_t)
PV7_GETTER(get_download_handler, FDownloadHandler, cef_download_handler_t)
PV7_GETTER(get_drag_handler, FDragHandler, cef_drag_handler_t)
PV7_GETTER(get_find_handler, FFindHandler, cef_find_handler_t)
PV7_GETTER(get_focus_handler, FFocusHandler, cef_focus_handler_t)
PV7_GETTER(get_geolocation_handler, FGeolocationHandler, cef_geolocation_handler_t)
PV7_GETTER(get_jsdialog_handler, FJsDialogHandler, cef_jsdialog_handler_t)
PV7_GETTER(get_keyboard_handler, FKeyboardHandler, cef_keyboard_handler_t)
PV7_GETTER(get_life_span_handler, FLifeSpanHandler, cef_life_span_handler_t)
PV7_GETTER(get_load_handler, FLoadHandler, cef_load_handler_t)
PV7_GETTER(get_render_handler, FRenderHandler, cef_render_handler_t)
PV7_GETTER(get_request_handler, FRequestHandler, cef_request_handler_t)
#undef PV7_GETTER

int CEF_CALLBACK ch_on_process_message_received(cef_client_t* self, cef_browser_t* b, cef_process_id_t src,
                                                cef_process_message_t* m) {
  TBrowserRef br = B(b);
  TCefRef<cef_process_message_t> msg = TCefRef<cef_process_message_t>::Adopt(m);
  IBrowserEventSink* s = TCefBaseOwn::Owner<CH>(self)->Events();
  return s && s->doOnProcessMessageReceived(br, src, msg) ? 1 : 0;
}

// ---- engine work timer -------------------------------------------------------------
std::atomic<int> gLiveCount{0};
unsigned gTimerId = 0;
bool gBusy = false;

}  // namespace

TCustomLoadHandler::TCustomLoadHandler(TEventSinkRef s) : TCefHandlerOwn(sizeof(cef_load_handler_t), std::move(s)) {
  auto* t = Data<cef_load_handler_t>();
  t->on_loading_state_change = ld_on_loading_state_change;
  t->on_load_start = ld_on_load_start;
  t->on_load_end = ld_on_load_end;
  t->on_load_error = ld_on_load_error;
}
TCustomFocusHandler::TCustomFocusHandler(TEventSinkRef s) : TCefHandlerOwn(sizeof(cef_focus_handler_t), std::move(s)) {}
TCustomContextMenuHandler::TCustomContextMenuHandler(TEventSinkRef s)
    : TCefHandlerOwn(sizeof(cef_context_menu_handler_t), std::move(s)) {
  Data<cef_context_menu_handler_t>()->run_context_menu = cm_run_context_menu;
}
TCustomDialogHandler::TCustomDialogHandler(TEventSinkRef s) : TCefHandlerOwn(sizeof(cef_dialog_handler_t), std::move(s)) {}
TCustomKeyboardHandler::TCustomKeyboardHandler(TEventSinkRef s)
    : TCefHandlerOwn(sizeof(cef_keyboard_handler_t), std::move(s)) {}
TCustomDisplayHandler::TCustomDisplayHandler(TEventSinkRef s) : TCefHandlerOwn(sizeof(cef_display_handler_t), std::move(s)) {
  auto* t = Data<cef_display_handler_t>();
  t->on_address_change = dh_on_address_change;
  t->on_title_change = dh_on_title_change;
  t->on_console_message = dh_on_console_message;
}
TCustomDownloadHandler::TCustomDownloadHandler(TEventSinkRef s)
    : TCefHandlerOwn(sizeof(cef_download_handler_t), std::move(s)) {}
TCustomGeolocationHandler::TCustomGeolocationHandler(TEventSinkRef s)
    : TCefHandlerOwn(sizeof(cef_geolocation_handler_t), std::move(s)) {}
TCustomJsDialogHandler::TCustomJsDialogHandler(TEventSinkRef s)
    : TCefHandlerOwn(sizeof(cef_jsdialog_handler_t), std::move(s)) {}
TCustomLifeSpanHandler::TCustomLifeSpanHandler(TEventSinkRef s)
    : TCefHandlerOwn(sizeof(cef_life_span_handler_t), std::move(s)) {
  auto* t = Data<cef_life_span_handler_t>();
  t->on_before_popup = lh_on_before_popup;
  t->on_after_created = lh_on_after_created;
  t->run_modal = lh_run_modal;
  t->do_close = lh_do_close;
  t->on_before_close = lh_on_before_close;
}
TCustomRenderHandler::TCustomRenderHandler(TEventSinkRef s) : TCefHandlerOwn(sizeof(cef_render_handler_t), std::move(s)) {
  auto* t = Data<cef_render_handler_t>();
  t->get_root_screen_rect = rh_get_root_screen_rect;
  t->get_view_rect = rh_get_view_rect;
  t->get_screen_point = rh_get_screen_point;
  t->on_popup_show = rh_on_popup_show;  // get_screen_info stays empty: the engine's default
  t->on_popup_size = rh_on_popup_size;
  t->on_paint = rh_on_paint;
  t->on_cursor_change = rh_on_cursor_change;
  t->start_dragging = rh_start_dragging;
  t->update_drag_cursor = rh_update_drag_cursor;
  t->on_scroll_offset_changed = rh_on_scroll_offset_changed;
}
TCustomRequestHandler::TCustomRequestHandler(TEventSinkRef s)
    : TCefHandlerOwn(sizeof(cef_request_handler_t), std::move(s)) {
  auto* t = Data<cef_request_handler_t>();
  t->on_before_browse = qh_on_before_browse;
  t->on_before_resource_load = qh_on_before_resource_load;
  t->get_resource_handler = qh_get_resource_handler;
  t->on_certificate_error = qh_on_certificate_error;
  t->on_render_view_ready = qh_on_render_view_ready;
  t->on_render_process_terminated = qh_on_render_process_terminated;
}
TCustomDragHandler::TCustomDragHandler(TEventSinkRef s) : TCefHandlerOwn(sizeof(cef_drag_handler_t), std::move(s)) {}
TCustomFindHandler::TCustomFindHandler(TEventSinkRef s) : TCefHandlerOwn(sizeof(cef_find_handler_t), std::move(s)) {}

TCustomClientHandler::TCustomClientHandler(TEventSinkRef events, bool renderHandling)
    : TCefBaseOwn(sizeof(cef_client_t)), FEvents(std::move(events)) {
  auto* t = Data<cef_client_t>();
  t->get_context_menu_handler = ch_get_context_menu_handler;
  t->get_dialog_handler = ch_get_dialog_handler;
  t->get_display_handler = ch_get_display_handler;
  t->get_download_handler = ch_get_download_handler;
  t->get_drag_handler = ch_get_drag_handler;
  t->get_find_handler = ch_get_find_handler;
  t->get_focus_handler = ch_get_focus_handler;
  t->get_geolocation_handler = ch_get_geolocation_handler;
  t->get_jsdialog_handler = ch_get_jsdialog_handler;
  t->get_keyboard_handler = ch_get_keyboard_handler;
  t->get_life_span_handler = ch_get_life_span_handler;
  t->get_load_handler = ch_get_load_handler;
  t->get_render_handler = ch_get_render_handler;
  t->get_request_handler = ch_get_request_handler;
  t->on_process_message_received = ch_on_process_message_received;
  FLoadHandler = new TCustomLoadHandler(FEvents);
  FFocusHandler = new TCustomFocusHandler(FEvents);
  FContextMenuHandler = new TCustomContextMenuHandler(FEvents);
  FDialogHandler = new TCustomDialogHandler(FEvents);
  FKeyboardHandler = new TCustomKeyboardHandler(FEvents);
  FDisplayHandler = new TCustomDisplayHandler(FEvents);
  FDownloadHandler = new TCustomDownloadHandler(FEvents);
  FGeolocationHandler = new TCustomGeolocationHandler(FEvents);
  FJsDialogHandler = new TCustomJsDialogHandler(FEvents);
  FLifeSpanHandler = new TCustomLifeSpanHandler(FEvents);
  FRequestHandler = new TCustomRequestHandler(FEvents);
  if (renderHandling) FRenderHandler = new TCustomRenderHandler(FEvents);
  FDragHandler = new TCustomDragHandler(FEvents);
  FFindHandler = new TCustomFindHandler(FEvents);
}

void TCustomClientHandler::ReleaseHandlers() {
  FEvents.reset();
  FLoadHandler.reset();
  FFocusHandler.reset();
  FContextMenuHandler.reset();
  FDialogHandler.reset();
  FKeyboardHandler.reset();
  FDisplayHandler.reset();
  FDownloadHandler.reset();
  FGeolocationHandler.reset();
  FJsDialogHandler.reset();
  FLifeSpanHandler.reset();
  FRenderHandler.reset();
  FRequestHandler.reset();
  FDragHandler.reset();
  FFindHandler.reset();
}

TVCLClientHandler::TVCLClientHandler(TEventSinkRef events, bool renderHandling)
    : TCustomClientHandler(std::move(events), renderHandling) {
  if (gLiveCount.load() == 0)
    gTimerId = platform::AddTimer(10, [] {
      TimerProc();
      return true;
    });
  gLiveCount.fetch_add(1);
}

TVCLClientHandler::~TVCLClientHandler() {
  if (gLiveCount.fetch_sub(1) == 1 && gTimerId != 0) {
    platform::RemoveTimer(gTimerId);
    gTimerId = 0;
  }
}

int TVCLClientHandler::LiveCount() { return gLiveCount.load(); }
bool TVCLClientHandler::TimerRunning() { return gTimerId != 0; }
bool TVCLClientHandler::Busy() { return gBusy; }

void TVCLClientHandler::TimerProc() {
  if (gBusy || gLiveCount.load() <= 0) return;
  gBusy = true;
  struct Clear {
    ~Clear() { gBusy = false; }
  } clear;
  if (CefLibraryLoaded()) CefLib().cef_do_message_loop_work();
}
