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
cef_resource_handler_t* CEF_CALLBACK qh_get_resource_handler(cef_request_handler_t* self, cef_browser_t* b,
                                                             cef_frame_t* f, cef_request_t* r) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  TRequestRef rq = TRequestRef::Adopt(r);
  IBrowserEventSink* s = SinkOf<QH>(self);
  if (!s) return nullptr;
  return s->doOnGetResourceHandler(br, fr, rq).Share();
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

// ---- focus, keyboard ------------------------------------------------------------
using FH = TCustomFocusHandler;
void CEF_CALLBACK fh_on_take_focus(cef_focus_handler_t* self, cef_browser_t* b, int next) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<FH>(self)) s->doOnTakeFocus(br, next != 0);
}
int CEF_CALLBACK fh_on_set_focus(cef_focus_handler_t* self, cef_browser_t* b, cef_focus_source_t src) {
  TBrowserRef br = B(b);
  IBrowserEventSink* s = SinkOf<FH>(self);
  return s && s->doOnSetFocus(br, src) ? 1 : 0;
}
void CEF_CALLBACK fh_on_got_focus(cef_focus_handler_t* self, cef_browser_t* b) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<FH>(self)) s->doOnGotFocus(br);
}
using KH = TCustomKeyboardHandler;
int CEF_CALLBACK kh_on_pre_key_event(cef_keyboard_handler_t* self, cef_browser_t* b, const cef_key_event_t* e,
                                     cef_event_handle_t os, int* shortcut) {
  TBrowserRef br = B(b);
  IBrowserEventSink* s = SinkOf<KH>(self);
  if (!s) return 0;
  bool isShortcut = shortcut && *shortcut != 0;
  const bool r = s->doOnPreKeyEvent(br, e, os, isShortcut);
  if (shortcut) *shortcut = isShortcut ? 1 : 0;
  return r ? 1 : 0;
}
int CEF_CALLBACK kh_on_key_event(cef_keyboard_handler_t* self, cef_browser_t* b, const cef_key_event_t* e,
                                 cef_event_handle_t os) {
  TBrowserRef br = B(b);
  IBrowserEventSink* s = SinkOf<KH>(self);
  return s && s->doOnKeyEvent(br, e, os) ? 1 : 0;
}

// ---- display (the rest) -------------------------------------------------------------
void CEF_CALLBACK dh_on_favicon_urlchange(cef_display_handler_t* self, cef_browser_t* b, cef_string_list_t urls) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<DH>(self)) s->doOnFavIconUrlChange(br, urls);
}
void CEF_CALLBACK dh_on_fullscreen_mode_change(cef_display_handler_t* self, cef_browser_t* b, int full) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<DH>(self)) s->doOnFullScreenModeChange(br, full != 0);
}
int CEF_CALLBACK dh_on_tooltip(cef_display_handler_t* self, cef_browser_t* b, cef_string_t* text) {
  TBrowserRef br = B(b);
  IBrowserEventSink* s = SinkOf<DH>(self);
  if (!s) return 0;
  std::u16string t = CefString(text);
  const bool r = s->doOnTooltip(br, t);
  if (text) CefStringSet(text, t);
  return r ? 1 : 0;
}
void CEF_CALLBACK dh_on_status_message(cef_display_handler_t* self, cef_browser_t* b, const cef_string_t* v) {
  TBrowserRef br = B(b);
  const std::u16string value = CefString(v);
  if (IBrowserEventSink* s = SinkOf<DH>(self)) s->doOnStatusMessage(br, value);
}

// ---- JavaScript dialogs -------------------------------------------------------------
using JH = TCustomJsDialogHandler;
int CEF_CALLBACK jh_on_jsdialog(cef_jsdialog_handler_t* self, cef_browser_t* b, const cef_string_t* origin,
                                const cef_string_t* lang, cef_jsdialog_type_t type, const cef_string_t* msg,
                                const cef_string_t* prompt, cef_jsdialog_callback_t* cb, int* suppress) {
  TBrowserRef br = B(b);
  TCefRef<cef_jsdialog_callback_t> callback = TCefRef<cef_jsdialog_callback_t>::Adopt(cb);
  IBrowserEventSink* s = SinkOf<JH>(self);
  if (!s) return 0;
  bool sup = suppress && *suppress != 0;
  const bool r = s->doOnJsdialog(br, CefString(origin), CefString(lang), type, CefString(msg), CefString(prompt),
                                 callback, sup);
  if (suppress) *suppress = sup ? 1 : 0;
  return r ? 1 : 0;
}
int CEF_CALLBACK jh_on_before_unload_dialog(cef_jsdialog_handler_t* self, cef_browser_t* b, const cef_string_t* msg,
                                            int reload, cef_jsdialog_callback_t* cb) {
  TBrowserRef br = B(b);
  TCefRef<cef_jsdialog_callback_t> callback = TCefRef<cef_jsdialog_callback_t>::Adopt(cb);
  IBrowserEventSink* s = SinkOf<JH>(self);
  return s && s->doOnBeforeUnloadDialog(br, CefString(msg), reload != 0, callback) ? 1 : 0;
}
void CEF_CALLBACK jh_on_reset_dialog_state(cef_jsdialog_handler_t* self, cef_browser_t* b) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<JH>(self)) s->doOnResetDialogState(br);
}
void CEF_CALLBACK jh_on_dialog_closed(cef_jsdialog_handler_t* self, cef_browser_t* b) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<JH>(self)) s->doOnDialogClosed(br);
}

// ---- request (the rest) --------------------------------------------------------------
int CEF_CALLBACK qh_on_open_urlfrom_tab(cef_request_handler_t* self, cef_browser_t* b, cef_frame_t* f,
                                        const cef_string_t* url, cef_window_open_disposition_t d, int gesture) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  IBrowserEventSink* s = SinkOf<QH>(self);
  return s && s->doOnOpenUrlFromTab(br, fr, CefString(url), d, gesture != 0) ? 1 : 0;
}
void CEF_CALLBACK qh_on_resource_redirect(cef_request_handler_t* self, cef_browser_t* b, cef_frame_t* f,
                                          cef_request_t* r, cef_string_t* newUrl) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  TRequestRef rq = TRequestRef::Adopt(r);
  IBrowserEventSink* s = SinkOf<QH>(self);
  if (!s) return;
  std::u16string url = CefString(newUrl);
  s->doOnResourceRedirect(br, fr, rq, url);
  if (newUrl) CefStringSet(newUrl, url);
}
int CEF_CALLBACK qh_on_resource_response(cef_request_handler_t* self, cef_browser_t* b, cef_frame_t* f,
                                         cef_request_t* r, cef_response_t* resp) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  TRequestRef rq = TRequestRef::Adopt(r);
  TCefRef<cef_response_t> response = TCefRef<cef_response_t>::Adopt(resp);
  IBrowserEventSink* s = SinkOf<QH>(self);
  return s && s->doOnResourceResponse(br, fr, rq, response) ? 1 : 0;
}
int CEF_CALLBACK qh_get_auth_credentials(cef_request_handler_t* self, cef_browser_t* b, cef_frame_t* f, int proxy,
                                         const cef_string_t* host, int port, const cef_string_t* realm,
                                         const cef_string_t* scheme, cef_auth_callback_t* cb) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  TCefRef<cef_auth_callback_t> callback = TCefRef<cef_auth_callback_t>::Adopt(cb);
  IBrowserEventSink* s = SinkOf<QH>(self);
  return s && s->doOnGetAuthCredentials(br, fr, proxy != 0, CefString(host), port, CefString(realm),
                                        CefString(scheme), callback)
             ? 1
             : 0;
}
int CEF_CALLBACK qh_on_quota_request(cef_request_handler_t* self, cef_browser_t* b, const cef_string_t* origin,
                                     int64_t size, cef_request_callback_t* cb) {
  TBrowserRef br = B(b);
  TRequestCallbackRef callback = TRequestCallbackRef::Adopt(cb);
  IBrowserEventSink* s = SinkOf<QH>(self);
  return s && s->doOnQuotaRequest(br, CefString(origin), size, callback) ? 1 : 0;
}
void CEF_CALLBACK qh_on_protocol_execution(cef_request_handler_t* self, cef_browser_t* b, const cef_string_t* url,
                                           int* allow) {
  TBrowserRef br = B(b);
  IBrowserEventSink* s = SinkOf<QH>(self);
  if (!s) return;
  bool a = allow && *allow != 0;
  s->doOnProtocolExecution(br, CefString(url), a);
  if (allow) *allow = a ? 1 : 0;
}
void CEF_CALLBACK qh_on_plugin_crashed(cef_request_handler_t* self, cef_browser_t* b, const cef_string_t* path) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<QH>(self)) s->doOnPluginCrashed(br, CefString(path));
}

// ---- context menu, file dialog, download, geolocation, drag, find ---------------------
using CM = TCustomContextMenuHandler;
void CEF_CALLBACK cm_on_before_context_menu(cef_context_menu_handler_t* self, cef_browser_t* b, cef_frame_t* f,
                                            cef_context_menu_params_t* p, cef_menu_model_t* m) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  TCefRef<cef_context_menu_params_t> params = TCefRef<cef_context_menu_params_t>::Adopt(p);
  TCefRef<cef_menu_model_t> model = TCefRef<cef_menu_model_t>::Adopt(m);
  if (IBrowserEventSink* s = SinkOf<CM>(self)) s->doOnBeforeContextMenu(br, fr, params, model);
}
int CEF_CALLBACK cm_on_context_menu_command(cef_context_menu_handler_t* self, cef_browser_t* b, cef_frame_t* f,
                                            cef_context_menu_params_t* p, int id, cef_event_flags_t flags) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  TCefRef<cef_context_menu_params_t> params = TCefRef<cef_context_menu_params_t>::Adopt(p);
  IBrowserEventSink* s = SinkOf<CM>(self);
  return s && s->doOnContextMenuCommand(br, fr, params, id, flags) ? 1 : 0;
}
void CEF_CALLBACK cm_on_context_menu_dismissed(cef_context_menu_handler_t* self, cef_browser_t* b, cef_frame_t* f) {
  TBrowserRef br = B(b);
  TFrameRef fr = F(f);
  if (IBrowserEventSink* s = SinkOf<CM>(self)) s->doOnContextMenuDismissed(br, fr);
}
int CEF_CALLBACK fd_on_file_dialog(cef_dialog_handler_t* self, cef_browser_t* b, cef_file_dialog_mode_t mode,
                                   const cef_string_t* title, const cef_string_t* name, cef_string_list_t types,
                                   cef_file_dialog_callback_t* cb) {
  TBrowserRef br = B(b);
  TCefRef<cef_file_dialog_callback_t> callback = TCefRef<cef_file_dialog_callback_t>::Adopt(cb);
  IBrowserEventSink* s = SinkOf<TCustomDialogHandler>(self);
  return s && s->doOnFileDialog(br, mode, CefString(title), CefString(name), types, callback) ? 1 : 0;
}
void CEF_CALLBACK dl_on_before_download(cef_download_handler_t* self, cef_browser_t* b, cef_download_item_t* item,
                                        const cef_string_t* name, cef_before_download_callback_t* cb) {
  TBrowserRef br = B(b);
  TCefRef<cef_download_item_t> it = TCefRef<cef_download_item_t>::Adopt(item);
  TCefRef<cef_before_download_callback_t> callback = TCefRef<cef_before_download_callback_t>::Adopt(cb);
  if (IBrowserEventSink* s = SinkOf<TCustomDownloadHandler>(self)) s->doOnBeforeDownload(br, it, CefString(name), callback);
}
void CEF_CALLBACK dl_on_download_updated(cef_download_handler_t* self, cef_browser_t* b, cef_download_item_t* item,
                                         cef_download_item_callback_t* cb) {
  TBrowserRef br = B(b);
  TCefRef<cef_download_item_t> it = TCefRef<cef_download_item_t>::Adopt(item);
  TCefRef<cef_download_item_callback_t> callback = TCefRef<cef_download_item_callback_t>::Adopt(cb);
  if (IBrowserEventSink* s = SinkOf<TCustomDownloadHandler>(self)) s->doOnDownloadUpdated(br, it, callback);
}
int CEF_CALLBACK gl_on_request_permission(cef_geolocation_handler_t* self, cef_browser_t* b, const cef_string_t* url,
                                          int id, cef_geolocation_callback_t* cb) {
  TBrowserRef br = B(b);
  TCefRef<cef_geolocation_callback_t> callback = TCefRef<cef_geolocation_callback_t>::Adopt(cb);
  IBrowserEventSink* s = SinkOf<TCustomGeolocationHandler>(self);
  return s && s->doOnRequestGeolocationPermission(br, CefString(url), id, callback) ? 1 : 0;
}
void CEF_CALLBACK gl_on_cancel_permission(cef_geolocation_handler_t* self, cef_browser_t* b, const cef_string_t* url,
                                          int id) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<TCustomGeolocationHandler>(self)) s->doOnCancelGeolocationPermission(br, CefString(url), id);
}
int CEF_CALLBACK dg_on_drag_enter(cef_drag_handler_t* self, cef_browser_t* b, cef_drag_data_t* d,
                                  cef_drag_operations_mask_t mask) {
  TBrowserRef br = B(b);
  TCefRef<cef_drag_data_t> data = TCefRef<cef_drag_data_t>::Adopt(d);
  IBrowserEventSink* s = SinkOf<TCustomDragHandler>(self);
  return s && s->doOnDragEnter(br, data, mask) ? 1 : 0;
}
void CEF_CALLBACK dg_on_draggable_regions_changed(cef_drag_handler_t* self, cef_browser_t* b, size_t n,
                                                  const cef_draggable_region_t* regions) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<TCustomDragHandler>(self)) s->doOnDraggableRegionsChanged(br, n, regions);
}
void CEF_CALLBACK fi_on_find_result(cef_find_handler_t* self, cef_browser_t* b, int id, int count,
                                    const cef_rect_t* rect, int active, int final) {
  TBrowserRef br = B(b);
  if (IBrowserEventSink* s = SinkOf<TCustomFindHandler>(self)) s->doOnFindResult(br, id, count, rect, active, final != 0);
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
TCustomFocusHandler::TCustomFocusHandler(TEventSinkRef s) : TCefHandlerOwn(sizeof(cef_focus_handler_t), std::move(s)) {
  auto* t = Data<cef_focus_handler_t>();
  t->on_take_focus = fh_on_take_focus;
  t->on_set_focus = fh_on_set_focus;
  t->on_got_focus = fh_on_got_focus;
}
TCustomContextMenuHandler::TCustomContextMenuHandler(TEventSinkRef s)
    : TCefHandlerOwn(sizeof(cef_context_menu_handler_t), std::move(s)) {
  auto* t = Data<cef_context_menu_handler_t>();
  t->on_before_context_menu = cm_on_before_context_menu;
  t->run_context_menu = cm_run_context_menu;
  t->on_context_menu_command = cm_on_context_menu_command;
  t->on_context_menu_dismissed = cm_on_context_menu_dismissed;
}
TCustomDialogHandler::TCustomDialogHandler(TEventSinkRef s) : TCefHandlerOwn(sizeof(cef_dialog_handler_t), std::move(s)) {
  Data<cef_dialog_handler_t>()->on_file_dialog = fd_on_file_dialog;
}
TCustomKeyboardHandler::TCustomKeyboardHandler(TEventSinkRef s)
    : TCefHandlerOwn(sizeof(cef_keyboard_handler_t), std::move(s)) {
  auto* t = Data<cef_keyboard_handler_t>();
  t->on_pre_key_event = kh_on_pre_key_event;
  t->on_key_event = kh_on_key_event;
}
TCustomDisplayHandler::TCustomDisplayHandler(TEventSinkRef s) : TCefHandlerOwn(sizeof(cef_display_handler_t), std::move(s)) {
  auto* t = Data<cef_display_handler_t>();
  t->on_address_change = dh_on_address_change;
  t->on_title_change = dh_on_title_change;
  t->on_favicon_urlchange = dh_on_favicon_urlchange;
  t->on_fullscreen_mode_change = dh_on_fullscreen_mode_change;
  t->on_tooltip = dh_on_tooltip;
  t->on_status_message = dh_on_status_message;
  t->on_console_message = dh_on_console_message;
}
TCustomDownloadHandler::TCustomDownloadHandler(TEventSinkRef s)
    : TCefHandlerOwn(sizeof(cef_download_handler_t), std::move(s)) {
  auto* t = Data<cef_download_handler_t>();
  t->on_before_download = dl_on_before_download;
  t->on_download_updated = dl_on_download_updated;
}
TCustomGeolocationHandler::TCustomGeolocationHandler(TEventSinkRef s)
    : TCefHandlerOwn(sizeof(cef_geolocation_handler_t), std::move(s)) {
  auto* t = Data<cef_geolocation_handler_t>();
  t->on_request_geolocation_permission = gl_on_request_permission;
  t->on_cancel_geolocation_permission = gl_on_cancel_permission;
}
TCustomJsDialogHandler::TCustomJsDialogHandler(TEventSinkRef s)
    : TCefHandlerOwn(sizeof(cef_jsdialog_handler_t), std::move(s)) {
  auto* t = Data<cef_jsdialog_handler_t>();
  t->on_jsdialog = jh_on_jsdialog;
  t->on_before_unload_dialog = jh_on_before_unload_dialog;
  t->on_reset_dialog_state = jh_on_reset_dialog_state;
  t->on_dialog_closed = jh_on_dialog_closed;
}
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
  t->on_open_urlfrom_tab = qh_on_open_urlfrom_tab;
  t->on_before_resource_load = qh_on_before_resource_load;
  t->get_resource_handler = qh_get_resource_handler;
  t->on_resource_redirect = qh_on_resource_redirect;
  t->on_resource_response = qh_on_resource_response;
  t->get_auth_credentials = qh_get_auth_credentials;
  t->on_quota_request = qh_on_quota_request;
  t->on_protocol_execution = qh_on_protocol_execution;
  t->on_certificate_error = qh_on_certificate_error;
  t->on_plugin_crashed = qh_on_plugin_crashed;
  t->on_render_view_ready = qh_on_render_view_ready;
  t->on_render_process_terminated = qh_on_render_process_terminated;
}
TCustomDragHandler::TCustomDragHandler(TEventSinkRef s) : TCefHandlerOwn(sizeof(cef_drag_handler_t), std::move(s)) {
  auto* t = Data<cef_drag_handler_t>();
  t->on_drag_enter = dg_on_drag_enter;
  t->on_draggable_regions_changed = dg_on_draggable_regions_changed;
}
TCustomFindHandler::TCustomFindHandler(TEventSinkRef s) : TCefHandlerOwn(sizeof(cef_find_handler_t), std::move(s)) {
  Data<cef_find_handler_t>()->on_find_result = fi_on_find_result;
}

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
