/* The engine's reference-counted objects and callback tables, and its exported
   entry points. Every structure starts with cef_base_t; its size field holds
   sizeof the whole structure. A slot left null means "not handled" (for tables
   the program hands to the engine) and must not be called.

   Ownership: an object pointer passed as an argument is a new reference the
   callee releases when done; a pointer returned is a new reference for the
   caller. `self` arguments carry no reference. Strings returned as
   cef_string_userfree_t are freed by the caller with
   cef_string_userfree_utf16_free; const cef_string_t* arguments are borrowed
   for the duration of the call. */
#ifndef PV7_CEFAPI_CEF_CAPI_H
#define PV7_CEFAPI_CEF_CAPI_H

#include "cefapi/cef_string.h"
#include "cefapi/cef_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Common header of every engine object. add_ref/release return the new
   count's sign of life (release: 1 when the object was destroyed);
   has_one_ref answers 1 when the count is exactly 1. */
typedef struct _cef_base_t {
  size_t size;
  int(CEF_CALLBACK* add_ref)(struct _cef_base_t* self);
  int(CEF_CALLBACK* release)(struct _cef_base_t* self);
  int(CEF_CALLBACK* has_one_ref)(struct _cef_base_t* self);
} cef_base_t;

struct _cef_app_t;
struct _cef_browser_t;
struct _cef_browser_host_t;
struct _cef_client_t;
struct _cef_frame_t;
struct _cef_request_t;
struct _cef_command_line_t;
struct _cef_v8value_t;

/* Objects the program only passes along or ignores: a header and nothing else. */
#define PV7_CEF_OPAQUE_OBJECT(name) \
  typedef struct _##name {          \
    cef_base_t base;                \
  } name;
PV7_CEF_OPAQUE_OBJECT(cef_list_value_t)
PV7_CEF_OPAQUE_OBJECT(cef_request_context_t)
PV7_CEF_OPAQUE_OBJECT(cef_resource_bundle_handler_t)
PV7_CEF_OPAQUE_OBJECT(cef_print_handler_t)
PV7_CEF_OPAQUE_OBJECT(cef_v8context_t)
PV7_CEF_OPAQUE_OBJECT(cef_v8exception_t)
PV7_CEF_OPAQUE_OBJECT(cef_v8stack_trace_t)
PV7_CEF_OPAQUE_OBJECT(cef_domnode_t)
PV7_CEF_OPAQUE_OBJECT(cef_context_menu_params_t)
PV7_CEF_OPAQUE_OBJECT(cef_menu_model_t)
PV7_CEF_OPAQUE_OBJECT(cef_run_context_menu_callback_t)
PV7_CEF_OPAQUE_OBJECT(cef_file_dialog_callback_t)
PV7_CEF_OPAQUE_OBJECT(cef_download_item_t)
PV7_CEF_OPAQUE_OBJECT(cef_before_download_callback_t)
PV7_CEF_OPAQUE_OBJECT(cef_download_item_callback_t)
PV7_CEF_OPAQUE_OBJECT(cef_drag_data_t)
PV7_CEF_OPAQUE_OBJECT(cef_geolocation_callback_t)
PV7_CEF_OPAQUE_OBJECT(cef_resource_handler_t)
PV7_CEF_OPAQUE_OBJECT(cef_response_t)
PV7_CEF_OPAQUE_OBJECT(cef_auth_callback_t)
PV7_CEF_OPAQUE_OBJECT(cef_allow_certificate_error_callback_t)
#undef PV7_CEF_OPAQUE_OBJECT

/* A process message between browser and render processes. */
typedef struct _cef_process_message_t {
  cef_base_t base;
  int(CEF_CALLBACK* is_valid)(struct _cef_process_message_t* self);
  cef_string_userfree_t(CEF_CALLBACK* get_name)(struct _cef_process_message_t* self);
} cef_process_message_t;

/* ---- command line --------------------------------------------------------
   Switches are stored without their leading dashes; the engine writes them as
   --name or --name=value. */
typedef struct _cef_command_line_t {
  cef_base_t base;
  int(CEF_CALLBACK* is_valid)(struct _cef_command_line_t* self);
  int(CEF_CALLBACK* is_read_only)(struct _cef_command_line_t* self);
  void(CEF_CALLBACK* init_from_argv)(struct _cef_command_line_t* self, int argc,
                                     const char* const* argv);
  void(CEF_CALLBACK* reset)(struct _cef_command_line_t* self);
  /* Fills list with program, switches and arguments in command-line form. */
  void(CEF_CALLBACK* get_argv)(struct _cef_command_line_t* self, cef_string_list_t argv);
  cef_string_userfree_t(CEF_CALLBACK* get_command_line_string)(struct _cef_command_line_t* self);
  cef_string_userfree_t(CEF_CALLBACK* get_program)(struct _cef_command_line_t* self);
  void(CEF_CALLBACK* set_program)(struct _cef_command_line_t* self, const cef_string_t* program);
  int(CEF_CALLBACK* has_switches)(struct _cef_command_line_t* self);
  int(CEF_CALLBACK* has_switch)(struct _cef_command_line_t* self, const cef_string_t* name);
  /* Null (no string) when the switch is absent or has no value. */
  cef_string_userfree_t(CEF_CALLBACK* get_switch_value)(struct _cef_command_line_t* self,
                                                        const cef_string_t* name);
  void(CEF_CALLBACK* get_switches)(struct _cef_command_line_t* self, cef_string_map_t switches);
  void(CEF_CALLBACK* append_switch)(struct _cef_command_line_t* self, const cef_string_t* name);
  void(CEF_CALLBACK* append_switch_with_value)(struct _cef_command_line_t* self,
                                               const cef_string_t* name,
                                               const cef_string_t* value);
  int(CEF_CALLBACK* has_arguments)(struct _cef_command_line_t* self);
  void(CEF_CALLBACK* get_arguments)(struct _cef_command_line_t* self, cef_string_list_t arguments);
  void(CEF_CALLBACK* append_argument)(struct _cef_command_line_t* self,
                                      const cef_string_t* argument);
} cef_command_line_t;

/* ---- scheme registrar --------------------------------------------------- */
typedef struct _cef_scheme_registrar_t {
  cef_base_t base;
  int(CEF_CALLBACK* add_custom_scheme)(struct _cef_scheme_registrar_t* self,
                                       const cef_string_t* scheme_name, int is_standard,
                                       int is_local, int is_display_isolated);
} cef_scheme_registrar_t;

/* ---- V8 values and native function handler ------------------------------ */
typedef struct _cef_v8value_t {
  cef_base_t base;
  int(CEF_CALLBACK* is_valid)(struct _cef_v8value_t* self);
  int(CEF_CALLBACK* is_undefined)(struct _cef_v8value_t* self);
  int(CEF_CALLBACK* is_null)(struct _cef_v8value_t* self);
  int(CEF_CALLBACK* is_bool)(struct _cef_v8value_t* self);
  int(CEF_CALLBACK* is_int)(struct _cef_v8value_t* self);
  int(CEF_CALLBACK* is_uint)(struct _cef_v8value_t* self);
  int(CEF_CALLBACK* is_double)(struct _cef_v8value_t* self);
  int(CEF_CALLBACK* is_date)(struct _cef_v8value_t* self);
  int(CEF_CALLBACK* is_string)(struct _cef_v8value_t* self);
  int(CEF_CALLBACK* is_object)(struct _cef_v8value_t* self);
  int(CEF_CALLBACK* is_array)(struct _cef_v8value_t* self);
  int(CEF_CALLBACK* is_function)(struct _cef_v8value_t* self);
  int(CEF_CALLBACK* is_same)(struct _cef_v8value_t* self, struct _cef_v8value_t* that);
  int(CEF_CALLBACK* get_bool_value)(struct _cef_v8value_t* self);
  int32_t(CEF_CALLBACK* get_int_value)(struct _cef_v8value_t* self);
  uint32_t(CEF_CALLBACK* get_uint_value)(struct _cef_v8value_t* self);
  double(CEF_CALLBACK* get_double_value)(struct _cef_v8value_t* self);
  cef_string_userfree_t(CEF_CALLBACK* get_string_value)(struct _cef_v8value_t* self);
} cef_v8value_t;

/* Handler of the native functions of a JavaScript extension. On success it
   sets *retval to a new reference and answers 1; *exception set to a text
   raises a JavaScript exception instead; 0 means not handled (the function then
   gives undefined). object and every element of arguments are new references
   the handler releases. */
typedef struct _cef_v8handler_t {
  cef_base_t base;
  int(CEF_CALLBACK* execute)(struct _cef_v8handler_t* self, const cef_string_t* name,
                             cef_v8value_t* object, size_t argumentsCount,
                             cef_v8value_t* const* arguments, cef_v8value_t** retval,
                             cef_string_t* exception);
} cef_v8handler_t;

/* ---- request ------------------------------------------------------------ */
typedef struct _cef_request_t {
  cef_base_t base;
  int(CEF_CALLBACK* is_read_only)(struct _cef_request_t* self);
  cef_string_userfree_t(CEF_CALLBACK* get_url)(struct _cef_request_t* self);
  void(CEF_CALLBACK* set_url)(struct _cef_request_t* self, const cef_string_t* url);
  cef_string_userfree_t(CEF_CALLBACK* get_method)(struct _cef_request_t* self);
  void(CEF_CALLBACK* set_method)(struct _cef_request_t* self, const cef_string_t* method);
  /* Appends every header (name, value) to headerMap, in request order. */
  void(CEF_CALLBACK* get_header_map)(struct _cef_request_t* self, cef_string_multimap_t headerMap);
  /* Replaces all headers with the entries of headerMap. */
  void(CEF_CALLBACK* set_header_map)(struct _cef_request_t* self, cef_string_multimap_t headerMap);
} cef_request_t;

/* Continues (allow != 0) or cancels a request answered with RV_CONTINUE_ASYNC. */
typedef struct _cef_request_callback_t {
  cef_base_t base;
  void(CEF_CALLBACK* cont)(struct _cef_request_callback_t* self, int allow);
  void(CEF_CALLBACK* cancel)(struct _cef_request_callback_t* self);
} cef_request_callback_t;

/* ---- frame -------------------------------------------------------------- */
typedef struct _cef_frame_t {
  cef_base_t base;
  int(CEF_CALLBACK* is_valid)(struct _cef_frame_t* self);
  void(CEF_CALLBACK* load_request)(struct _cef_frame_t* self, cef_request_t* request);
  void(CEF_CALLBACK* load_url)(struct _cef_frame_t* self, const cef_string_t* url);
  /* Replaces the frame's document by string_val, shown under the address url. */
  void(CEF_CALLBACK* load_string)(struct _cef_frame_t* self, const cef_string_t* string_val,
                                  const cef_string_t* url);
  void(CEF_CALLBACK* execute_java_script)(struct _cef_frame_t* self, const cef_string_t* code,
                                          const cef_string_t* script_url, int start_line);
  int(CEF_CALLBACK* is_main)(struct _cef_frame_t* self);
  int(CEF_CALLBACK* is_focused)(struct _cef_frame_t* self);
  cef_string_userfree_t(CEF_CALLBACK* get_name)(struct _cef_frame_t* self);
  int64_t(CEF_CALLBACK* get_identifier)(struct _cef_frame_t* self);
  struct _cef_frame_t*(CEF_CALLBACK* get_parent)(struct _cef_frame_t* self);
  cef_string_userfree_t(CEF_CALLBACK* get_url)(struct _cef_frame_t* self);
  struct _cef_browser_t*(CEF_CALLBACK* get_browser)(struct _cef_frame_t* self);
} cef_frame_t;

/* ---- browser host (input, resize, focus, close; callable from any thread) */
typedef struct _cef_browser_host_t {
  cef_base_t base;
  struct _cef_browser_t*(CEF_CALLBACK* get_browser)(struct _cef_browser_host_t* self);
  void(CEF_CALLBACK* close_browser)(struct _cef_browser_host_t* self, int force_close);
  cef_window_handle_t(CEF_CALLBACK* get_window_handle)(struct _cef_browser_host_t* self);
  struct _cef_client_t*(CEF_CALLBACK* get_client)(struct _cef_browser_host_t* self);
  double(CEF_CALLBACK* get_zoom_level)(struct _cef_browser_host_t* self);
  void(CEF_CALLBACK* set_zoom_level)(struct _cef_browser_host_t* self, double zoomLevel);
  /* Asks the render handler for the view rectangle again. */
  void(CEF_CALLBACK* was_resized)(struct _cef_browser_host_t* self);
  void(CEF_CALLBACK* was_hidden)(struct _cef_browser_host_t* self, int hidden);
  void(CEF_CALLBACK* notify_screen_info_changed)(struct _cef_browser_host_t* self);
  void(CEF_CALLBACK* invalidate)(struct _cef_browser_host_t* self, cef_paint_element_type_t type);
  void(CEF_CALLBACK* send_key_event)(struct _cef_browser_host_t* self,
                                     const cef_key_event_t* event);
  void(CEF_CALLBACK* send_mouse_click_event)(struct _cef_browser_host_t* self,
                                             const cef_mouse_event_t* event,
                                             cef_mouse_button_type_t type, int mouseUp,
                                             int clickCount);
  void(CEF_CALLBACK* send_mouse_move_event)(struct _cef_browser_host_t* self,
                                            const cef_mouse_event_t* event, int mouseLeave);
  void(CEF_CALLBACK* send_mouse_wheel_event)(struct _cef_browser_host_t* self,
                                             const cef_mouse_event_t* event, int deltaX,
                                             int deltaY);
  void(CEF_CALLBACK* send_focus_event)(struct _cef_browser_host_t* self, int setFocus);
  void(CEF_CALLBACK* send_capture_lost_event)(struct _cef_browser_host_t* self);
} cef_browser_host_t;

/* ---- browser ------------------------------------------------------------ */
typedef struct _cef_browser_t {
  cef_base_t base;
  cef_browser_host_t*(CEF_CALLBACK* get_host)(struct _cef_browser_t* self);
  int(CEF_CALLBACK* can_go_back)(struct _cef_browser_t* self);
  void(CEF_CALLBACK* go_back)(struct _cef_browser_t* self);
  int(CEF_CALLBACK* can_go_forward)(struct _cef_browser_t* self);
  void(CEF_CALLBACK* go_forward)(struct _cef_browser_t* self);
  int(CEF_CALLBACK* is_loading)(struct _cef_browser_t* self);
  void(CEF_CALLBACK* reload)(struct _cef_browser_t* self);
  void(CEF_CALLBACK* stop_load)(struct _cef_browser_t* self);
  int(CEF_CALLBACK* get_identifier)(struct _cef_browser_t* self);
  int(CEF_CALLBACK* is_same)(struct _cef_browser_t* self, struct _cef_browser_t* that);
  int(CEF_CALLBACK* is_popup)(struct _cef_browser_t* self);
  int(CEF_CALLBACK* has_document)(struct _cef_browser_t* self);
  cef_frame_t*(CEF_CALLBACK* get_main_frame)(struct _cef_browser_t* self);
  cef_frame_t*(CEF_CALLBACK* get_focused_frame)(struct _cef_browser_t* self);
  size_t(CEF_CALLBACK* get_frame_count)(struct _cef_browser_t* self);
  int(CEF_CALLBACK* send_process_message)(struct _cef_browser_t* self,
                                          cef_process_id_t target_process,
                                          cef_process_message_t* message);
} cef_browser_t;

/* ---- the fourteen handler tables of a client (slots in engine order) ----- */
typedef struct _cef_context_menu_handler_t {
  cef_base_t base;
  void(CEF_CALLBACK* on_before_context_menu)(struct _cef_context_menu_handler_t* self,
                                             cef_browser_t* browser, cef_frame_t* frame,
                                             cef_context_menu_params_t* params,
                                             cef_menu_model_t* model);
  int(CEF_CALLBACK* run_context_menu)(struct _cef_context_menu_handler_t* self,
                                      cef_browser_t* browser, cef_frame_t* frame,
                                      cef_context_menu_params_t* params, cef_menu_model_t* model,
                                      cef_run_context_menu_callback_t* callback);
  int(CEF_CALLBACK* on_context_menu_command)(struct _cef_context_menu_handler_t* self,
                                             cef_browser_t* browser, cef_frame_t* frame,
                                             cef_context_menu_params_t* params, int command_id,
                                             cef_event_flags_t event_flags);
  void(CEF_CALLBACK* on_context_menu_dismissed)(struct _cef_context_menu_handler_t* self,
                                                cef_browser_t* browser, cef_frame_t* frame);
} cef_context_menu_handler_t;

typedef struct _cef_dialog_handler_t {
  cef_base_t base;
  int(CEF_CALLBACK* on_file_dialog)(struct _cef_dialog_handler_t* self, cef_browser_t* browser,
                                    cef_file_dialog_mode_t mode, const cef_string_t* title,
                                    const cef_string_t* default_file_name,
                                    cef_string_list_t accept_types,
                                    cef_file_dialog_callback_t* callback);
} cef_dialog_handler_t;

typedef struct _cef_display_handler_t {
  cef_base_t base;
  void(CEF_CALLBACK* on_address_change)(struct _cef_display_handler_t* self,
                                        cef_browser_t* browser, cef_frame_t* frame,
                                        const cef_string_t* url);
  void(CEF_CALLBACK* on_title_change)(struct _cef_display_handler_t* self, cef_browser_t* browser,
                                      const cef_string_t* title);
  void(CEF_CALLBACK* on_favicon_urlchange)(struct _cef_display_handler_t* self,
                                           cef_browser_t* browser, cef_string_list_t icon_urls);
  void(CEF_CALLBACK* on_fullscreen_mode_change)(struct _cef_display_handler_t* self,
                                                cef_browser_t* browser, int fullscreen);
  int(CEF_CALLBACK* on_tooltip)(struct _cef_display_handler_t* self, cef_browser_t* browser,
                                cef_string_t* text);
  void(CEF_CALLBACK* on_status_message)(struct _cef_display_handler_t* self,
                                        cef_browser_t* browser, const cef_string_t* value);
  /* Answer 1 suppresses the engine's own console output. */
  int(CEF_CALLBACK* on_console_message)(struct _cef_display_handler_t* self,
                                        cef_browser_t* browser, const cef_string_t* message,
                                        const cef_string_t* source, int line);
} cef_display_handler_t;

typedef struct _cef_download_handler_t {
  cef_base_t base;
  void(CEF_CALLBACK* on_before_download)(struct _cef_download_handler_t* self,
                                         cef_browser_t* browser, cef_download_item_t* download_item,
                                         const cef_string_t* suggested_name,
                                         cef_before_download_callback_t* callback);
  void(CEF_CALLBACK* on_download_updated)(struct _cef_download_handler_t* self,
                                          cef_browser_t* browser,
                                          cef_download_item_t* download_item,
                                          cef_download_item_callback_t* callback);
} cef_download_handler_t;

typedef struct _cef_drag_handler_t {
  cef_base_t base;
  int(CEF_CALLBACK* on_drag_enter)(struct _cef_drag_handler_t* self, cef_browser_t* browser,
                                   cef_drag_data_t* dragData, cef_drag_operations_mask_t mask);
  void(CEF_CALLBACK* on_draggable_regions_changed)(struct _cef_drag_handler_t* self,
                                                   cef_browser_t* browser, size_t regionsCount,
                                                   const cef_draggable_region_t* regions);
} cef_drag_handler_t;

typedef struct _cef_find_handler_t {
  cef_base_t base;
  void(CEF_CALLBACK* on_find_result)(struct _cef_find_handler_t* self, cef_browser_t* browser,
                                     int identifier, int count, const cef_rect_t* selectionRect,
                                     int activeMatchOrdinal, int finalUpdate);
} cef_find_handler_t;

typedef struct _cef_focus_handler_t {
  cef_base_t base;
  void(CEF_CALLBACK* on_take_focus)(struct _cef_focus_handler_t* self, cef_browser_t* browser,
                                    int next);
  int(CEF_CALLBACK* on_set_focus)(struct _cef_focus_handler_t* self, cef_browser_t* browser,
                                  cef_focus_source_t source);
  void(CEF_CALLBACK* on_got_focus)(struct _cef_focus_handler_t* self, cef_browser_t* browser);
} cef_focus_handler_t;

typedef struct _cef_geolocation_handler_t {
  cef_base_t base;
  int(CEF_CALLBACK* on_request_geolocation_permission)(struct _cef_geolocation_handler_t* self,
                                                       cef_browser_t* browser,
                                                       const cef_string_t* requesting_url,
                                                       int request_id,
                                                       cef_geolocation_callback_t* callback);
  void(CEF_CALLBACK* on_cancel_geolocation_permission)(struct _cef_geolocation_handler_t* self,
                                                       cef_browser_t* browser,
                                                       const cef_string_t* requesting_url,
                                                       int request_id);
} cef_geolocation_handler_t;

/* Answers a JavaScript dialog: success (OK, or leave the page) and a prompt's text. */
typedef struct _cef_jsdialog_callback_t {
  cef_base_t base;
  void(CEF_CALLBACK* cont)(struct _cef_jsdialog_callback_t* self, int success,
                           const cef_string_t* user_input);
} cef_jsdialog_callback_t;

typedef struct _cef_jsdialog_handler_t {
  cef_base_t base;
  int(CEF_CALLBACK* on_jsdialog)(struct _cef_jsdialog_handler_t* self, cef_browser_t* browser,
                                 const cef_string_t* origin_url, const cef_string_t* accept_lang,
                                 cef_jsdialog_type_t dialog_type, const cef_string_t* message_text,
                                 const cef_string_t* default_prompt_text,
                                 cef_jsdialog_callback_t* callback, int* suppress_message);
  int(CEF_CALLBACK* on_before_unload_dialog)(struct _cef_jsdialog_handler_t* self,
                                             cef_browser_t* browser,
                                             const cef_string_t* message_text, int is_reload,
                                             cef_jsdialog_callback_t* callback);
  void(CEF_CALLBACK* on_reset_dialog_state)(struct _cef_jsdialog_handler_t* self,
                                            cef_browser_t* browser);
  void(CEF_CALLBACK* on_dialog_closed)(struct _cef_jsdialog_handler_t* self,
                                       cef_browser_t* browser);
} cef_jsdialog_handler_t;

typedef struct _cef_keyboard_handler_t {
  cef_base_t base;
  int(CEF_CALLBACK* on_pre_key_event)(struct _cef_keyboard_handler_t* self,
                                      cef_browser_t* browser, const cef_key_event_t* event,
                                      cef_event_handle_t os_event, int* is_keyboard_shortcut);
  int(CEF_CALLBACK* on_key_event)(struct _cef_keyboard_handler_t* self, cef_browser_t* browser,
                                  const cef_key_event_t* event, cef_event_handle_t os_event);
} cef_keyboard_handler_t;

typedef struct _cef_life_span_handler_t {
  cef_base_t base;
  /* Called on the engine's I/O thread. The handler may rewrite target_url,
     target_frame_name, *client and *no_javascript_access; answer 1 cancels
     the popup. */
  int(CEF_CALLBACK* on_before_popup)(struct _cef_life_span_handler_t* self,
                                     cef_browser_t* browser, cef_frame_t* frame,
                                     cef_string_t* target_url, cef_string_t* target_frame_name,
                                     cef_window_open_disposition_t target_disposition,
                                     int user_gesture, const cef_popup_features_t* popupFeatures,
                                     cef_window_info_t* windowInfo, struct _cef_client_t** client,
                                     cef_browser_settings_t* settings, int* no_javascript_access);
  void(CEF_CALLBACK* on_after_created)(struct _cef_life_span_handler_t* self,
                                       cef_browser_t* browser);
  int(CEF_CALLBACK* run_modal)(struct _cef_life_span_handler_t* self, cef_browser_t* browser);
  int(CEF_CALLBACK* do_close)(struct _cef_life_span_handler_t* self, cef_browser_t* browser);
  void(CEF_CALLBACK* on_before_close)(struct _cef_life_span_handler_t* self,
                                      cef_browser_t* browser);
} cef_life_span_handler_t;

typedef struct _cef_load_handler_t {
  cef_base_t base;
  void(CEF_CALLBACK* on_loading_state_change)(struct _cef_load_handler_t* self,
                                              cef_browser_t* browser, int isLoading,
                                              int canGoBack, int canGoForward);
  void(CEF_CALLBACK* on_load_start)(struct _cef_load_handler_t* self, cef_browser_t* browser,
                                    cef_frame_t* frame);
  void(CEF_CALLBACK* on_load_end)(struct _cef_load_handler_t* self, cef_browser_t* browser,
                                  cef_frame_t* frame, int httpStatusCode);
  void(CEF_CALLBACK* on_load_error)(struct _cef_load_handler_t* self, cef_browser_t* browser,
                                    cef_frame_t* frame, cef_errorcode_t errorCode,
                                    const cef_string_t* errorText, const cef_string_t* failedUrl);
} cef_load_handler_t;

typedef struct _cef_render_handler_t {
  cef_base_t base;
  int(CEF_CALLBACK* get_root_screen_rect)(struct _cef_render_handler_t* self,
                                          cef_browser_t* browser, cef_rect_t* rect);
  int(CEF_CALLBACK* get_view_rect)(struct _cef_render_handler_t* self, cef_browser_t* browser,
                                   cef_rect_t* rect);
  int(CEF_CALLBACK* get_screen_point)(struct _cef_render_handler_t* self, cef_browser_t* browser,
                                      int viewX, int viewY, int* screenX, int* screenY);
  int(CEF_CALLBACK* get_screen_info)(struct _cef_render_handler_t* self, cef_browser_t* browser,
                                     cef_screen_info_t* screen_info);
  void(CEF_CALLBACK* on_popup_show)(struct _cef_render_handler_t* self, cef_browser_t* browser,
                                    int show);
  void(CEF_CALLBACK* on_popup_size)(struct _cef_render_handler_t* self, cef_browser_t* browser,
                                    const cef_rect_t* rect);
  /* buffer: width * height * 4 bytes BGRA, rows top-down; valid during the call. */
  void(CEF_CALLBACK* on_paint)(struct _cef_render_handler_t* self, cef_browser_t* browser,
                               cef_paint_element_type_t type, size_t dirtyRectsCount,
                               const cef_rect_t* dirtyRects, const void* buffer, int width,
                               int height);
  void(CEF_CALLBACK* on_cursor_change)(struct _cef_render_handler_t* self,
                                       cef_browser_t* browser, cef_cursor_handle_t cursor,
                                       cef_cursor_type_t type,
                                       const cef_cursor_info_t* custom_cursor_info);
  int(CEF_CALLBACK* start_dragging)(struct _cef_render_handler_t* self, cef_browser_t* browser,
                                    cef_drag_data_t* drag_data,
                                    cef_drag_operations_mask_t allowed_ops, int x, int y);
  void(CEF_CALLBACK* update_drag_cursor)(struct _cef_render_handler_t* self,
                                         cef_browser_t* browser,
                                         cef_drag_operations_mask_t operation);
  void(CEF_CALLBACK* on_scroll_offset_changed)(struct _cef_render_handler_t* self,
                                               cef_browser_t* browser);
} cef_render_handler_t;

typedef struct _cef_request_handler_t {
  cef_base_t base;
  int(CEF_CALLBACK* on_before_browse)(struct _cef_request_handler_t* self, cef_browser_t* browser,
                                      cef_frame_t* frame, cef_request_t* request, int is_redirect);
  int(CEF_CALLBACK* on_open_urlfrom_tab)(struct _cef_request_handler_t* self,
                                         cef_browser_t* browser, cef_frame_t* frame,
                                         const cef_string_t* target_url,
                                         cef_window_open_disposition_t target_disposition,
                                         int user_gesture);
  /* Called on the engine's I/O thread; the request's headers may be changed. */
  cef_return_value_t(CEF_CALLBACK* on_before_resource_load)(struct _cef_request_handler_t* self,
                                                            cef_browser_t* browser,
                                                            cef_frame_t* frame,
                                                            cef_request_t* request,
                                                            cef_request_callback_t* callback);
  cef_resource_handler_t*(CEF_CALLBACK* get_resource_handler)(struct _cef_request_handler_t* self,
                                                              cef_browser_t* browser,
                                                              cef_frame_t* frame,
                                                              cef_request_t* request);
  void(CEF_CALLBACK* on_resource_redirect)(struct _cef_request_handler_t* self,
                                           cef_browser_t* browser, cef_frame_t* frame,
                                           cef_request_t* request, cef_string_t* new_url);
  int(CEF_CALLBACK* on_resource_response)(struct _cef_request_handler_t* self,
                                          cef_browser_t* browser, cef_frame_t* frame,
                                          cef_request_t* request, cef_response_t* response);
  int(CEF_CALLBACK* get_auth_credentials)(struct _cef_request_handler_t* self,
                                          cef_browser_t* browser, cef_frame_t* frame, int isProxy,
                                          const cef_string_t* host, int port,
                                          const cef_string_t* realm, const cef_string_t* scheme,
                                          cef_auth_callback_t* callback);
  int(CEF_CALLBACK* on_quota_request)(struct _cef_request_handler_t* self, cef_browser_t* browser,
                                      const cef_string_t* origin_url, int64_t new_size,
                                      cef_request_callback_t* callback);
  void(CEF_CALLBACK* on_protocol_execution)(struct _cef_request_handler_t* self,
                                            cef_browser_t* browser, const cef_string_t* url,
                                            int* allow_os_execution);
  int(CEF_CALLBACK* on_certificate_error)(struct _cef_request_handler_t* self,
                                          cef_browser_t* browser, cef_errorcode_t cert_error,
                                          const cef_string_t* request_url,
                                          cef_allow_certificate_error_callback_t* callback);
  void(CEF_CALLBACK* on_plugin_crashed)(struct _cef_request_handler_t* self,
                                        cef_browser_t* browser, const cef_string_t* plugin_path);
  void(CEF_CALLBACK* on_render_view_ready)(struct _cef_request_handler_t* self,
                                           cef_browser_t* browser);
  void(CEF_CALLBACK* on_render_process_terminated)(struct _cef_request_handler_t* self,
                                                   cef_browser_t* browser,
                                                   cef_termination_status_t status);
} cef_request_handler_t;

/* ---- client: hands out the handlers (null: not handled) ------------------ */
typedef struct _cef_client_t {
  cef_base_t base;
  cef_context_menu_handler_t*(CEF_CALLBACK* get_context_menu_handler)(struct _cef_client_t* self);
  cef_dialog_handler_t*(CEF_CALLBACK* get_dialog_handler)(struct _cef_client_t* self);
  cef_display_handler_t*(CEF_CALLBACK* get_display_handler)(struct _cef_client_t* self);
  cef_download_handler_t*(CEF_CALLBACK* get_download_handler)(struct _cef_client_t* self);
  cef_drag_handler_t*(CEF_CALLBACK* get_drag_handler)(struct _cef_client_t* self);
  cef_find_handler_t*(CEF_CALLBACK* get_find_handler)(struct _cef_client_t* self);
  cef_focus_handler_t*(CEF_CALLBACK* get_focus_handler)(struct _cef_client_t* self);
  cef_geolocation_handler_t*(CEF_CALLBACK* get_geolocation_handler)(struct _cef_client_t* self);
  cef_jsdialog_handler_t*(CEF_CALLBACK* get_jsdialog_handler)(struct _cef_client_t* self);
  cef_keyboard_handler_t*(CEF_CALLBACK* get_keyboard_handler)(struct _cef_client_t* self);
  cef_life_span_handler_t*(CEF_CALLBACK* get_life_span_handler)(struct _cef_client_t* self);
  cef_load_handler_t*(CEF_CALLBACK* get_load_handler)(struct _cef_client_t* self);
  cef_render_handler_t*(CEF_CALLBACK* get_render_handler)(struct _cef_client_t* self);
  cef_request_handler_t*(CEF_CALLBACK* get_request_handler)(struct _cef_client_t* self);
  int(CEF_CALLBACK* on_process_message_received)(struct _cef_client_t* self,
                                                 cef_browser_t* browser,
                                                 cef_process_id_t source_process,
                                                 cef_process_message_t* message);
} cef_client_t;

/* ---- process handlers and the application object ------------------------- */
typedef struct _cef_browser_process_handler_t {
  cef_base_t base;
  void(CEF_CALLBACK* on_context_initialized)(struct _cef_browser_process_handler_t* self);
  /* Before a sub-process starts; switches appended here reach the child. */
  void(CEF_CALLBACK* on_before_child_process_launch)(struct _cef_browser_process_handler_t* self,
                                                     cef_command_line_t* command_line);
  void(CEF_CALLBACK* on_render_process_thread_created)(
      struct _cef_browser_process_handler_t* self, cef_list_value_t* extra_info);
  cef_print_handler_t*(CEF_CALLBACK* get_print_handler)(struct _cef_browser_process_handler_t* self);
} cef_browser_process_handler_t;

typedef struct _cef_render_process_handler_t {
  cef_base_t base;
  void(CEF_CALLBACK* on_render_thread_created)(struct _cef_render_process_handler_t* self,
                                               cef_list_value_t* extra_info);
  /* The JavaScript machinery is ready: extensions are registered here. */
  void(CEF_CALLBACK* on_web_kit_initialized)(struct _cef_render_process_handler_t* self);
  void(CEF_CALLBACK* on_browser_created)(struct _cef_render_process_handler_t* self,
                                         cef_browser_t* browser);
  void(CEF_CALLBACK* on_browser_destroyed)(struct _cef_render_process_handler_t* self,
                                           cef_browser_t* browser);
  cef_load_handler_t*(CEF_CALLBACK* get_load_handler)(struct _cef_render_process_handler_t* self);
  int(CEF_CALLBACK* on_before_navigation)(struct _cef_render_process_handler_t* self,
                                          cef_browser_t* browser, cef_frame_t* frame,
                                          cef_request_t* request,
                                          cef_navigation_type_t navigation_type, int is_redirect);
  void(CEF_CALLBACK* on_context_created)(struct _cef_render_process_handler_t* self,
                                         cef_browser_t* browser, cef_frame_t* frame,
                                         cef_v8context_t* context);
  void(CEF_CALLBACK* on_context_released)(struct _cef_render_process_handler_t* self,
                                          cef_browser_t* browser, cef_frame_t* frame,
                                          cef_v8context_t* context);
  void(CEF_CALLBACK* on_uncaught_exception)(struct _cef_render_process_handler_t* self,
                                            cef_browser_t* browser, cef_frame_t* frame,
                                            cef_v8context_t* context,
                                            cef_v8exception_t* exception,
                                            cef_v8stack_trace_t* stackTrace);
  void(CEF_CALLBACK* on_focused_node_changed)(struct _cef_render_process_handler_t* self,
                                              cef_browser_t* browser, cef_frame_t* frame,
                                              cef_domnode_t* node);
  int(CEF_CALLBACK* on_process_message_received)(struct _cef_render_process_handler_t* self,
                                                 cef_browser_t* browser,
                                                 cef_process_id_t source_process,
                                                 cef_process_message_t* message);
} cef_render_process_handler_t;

typedef struct _cef_app_t {
  cef_base_t base;
  /* process_type is empty in the browser process. */
  void(CEF_CALLBACK* on_before_command_line_processing)(struct _cef_app_t* self,
                                                        const cef_string_t* process_type,
                                                        cef_command_line_t* command_line);
  /* Called in every process, browser and sub-processes. */
  void(CEF_CALLBACK* on_register_custom_schemes)(struct _cef_app_t* self,
                                                 cef_scheme_registrar_t* registrar);
  cef_resource_bundle_handler_t*(CEF_CALLBACK* get_resource_bundle_handler)(
      struct _cef_app_t* self);
  cef_browser_process_handler_t*(CEF_CALLBACK* get_browser_process_handler)(
      struct _cef_app_t* self);
  cef_render_process_handler_t*(CEF_CALLBACK* get_render_process_handler)(
      struct _cef_app_t* self);
} cef_app_t;

/* ---- exported entry points ------------------------------------------------
   cef_execute_process: 0 or more in an engine sub-process after its whole
   work (the exit code), negative in the browser process. */
CEF_EXPORT int cef_execute_process(const cef_main_args_t* args, cef_app_t* application,
                                   void* windows_sandbox_info);
/* Returns 1 when the engine started. */
CEF_EXPORT int cef_initialize(const cef_main_args_t* args, const cef_settings_t* settings,
                              cef_app_t* application, void* windows_sandbox_info);
CEF_EXPORT void cef_shutdown(void);
CEF_EXPORT void cef_do_message_loop_work(void);
CEF_EXPORT int cef_register_extension(const cef_string_t* extension_name,
                                      const cef_string_t* javascript_code,
                                      cef_v8handler_t* handler);
/* On the engine's UI thread; the window info asks for windowless rendering. */
CEF_EXPORT cef_browser_t* cef_browser_host_create_browser_sync(
    const cef_window_info_t* windowInfo, cef_client_t* client, const cef_string_t* url,
    const cef_browser_settings_t* settings, cef_request_context_t* request_context);
CEF_EXPORT cef_v8value_t* cef_v8value_create_string(const cef_string_t* value);

/* The entry points the program resolves by name at start-up, each as
   X(name). The loader, the engine libraries and their tests share this list. */
#define CEF_REQUIRED_ENTRY_POINTS(X)  \
  X(cef_string_utf16_set)             \
  X(cef_string_utf16_clear)           \
  X(cef_string_utf16_cmp)             \
  X(cef_string_utf8_set)              \
  X(cef_string_utf8_clear)            \
  X(cef_string_utf8_to_utf16)         \
  X(cef_string_utf16_to_utf8)         \
  X(cef_string_ascii_to_utf16)        \
  X(cef_string_userfree_utf16_alloc)  \
  X(cef_string_userfree_utf16_free)   \
  X(cef_string_map_alloc)             \
  X(cef_string_map_size)              \
  X(cef_string_map_find)              \
  X(cef_string_map_key)               \
  X(cef_string_map_value)             \
  X(cef_string_map_append)            \
  X(cef_string_map_clear)             \
  X(cef_string_map_free)              \
  X(cef_string_list_alloc)            \
  X(cef_string_list_size)             \
  X(cef_string_list_value)            \
  X(cef_string_list_append)           \
  X(cef_string_list_clear)            \
  X(cef_string_list_free)             \
  X(cef_string_list_copy)             \
  X(cef_initialize)                   \
  X(cef_execute_process)              \
  X(cef_shutdown)                     \
  X(cef_do_message_loop_work)         \
  X(cef_register_extension)           \
  X(cef_browser_host_create_browser_sync) \
  X(cef_v8value_create_string)        \
  X(cef_string_multimap_alloc)        \
  X(cef_string_multimap_size)         \
  X(cef_string_multimap_find_count)   \
  X(cef_string_multimap_enumerate)    \
  X(cef_string_multimap_key)          \
  X(cef_string_multimap_value)        \
  X(cef_string_multimap_append)       \
  X(cef_string_multimap_clear)        \
  X(cef_string_multimap_free)

/* Function-pointer types for the loader: name##_fn. */
#define PV7_CEF_FN_TYPEDEF(name) typedef __typeof__(&name) name##_fn;
CEF_REQUIRED_ENTRY_POINTS(PV7_CEF_FN_TYPEDEF)
#undef PV7_CEF_FN_TYPEDEF

#ifdef __cplusplus
}
#endif

#endif
