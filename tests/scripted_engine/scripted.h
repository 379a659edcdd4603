// Driving and inspecting the scripted engine library from a test (in-process).
// Every function is exported by build/tests/scripted/libcef.so.
#pragma once

#include "cefapi/cef_capi.h"

extern "C" {
// Recorded calls of the program on engine objects and entry points, in order.
CEF_EXPORT int scripted_call_count(void);
CEF_EXPORT const char* scripted_call(int index);
CEF_EXPORT void scripted_clear_calls(void);
// How many references the program holds on objects it was handed (should be 0
// once everything was released), and how many objects of the library are alive.
CEF_EXPORT int scripted_outstanding_refs(void);
CEF_EXPORT int scripted_live_objects(void);
// The result of the next cef_execute_process; default: 0 when the command
// line carries --type=, else -1.
CEF_EXPORT void scripted_set_execute_process_result(int result, int use);
CEF_EXPORT int scripted_work_count(void);
// Runs inside every cef_do_message_loop_work.
CEF_EXPORT void scripted_set_work_hook(void (*hook)(void* ctx), void* ctx);
// The client of the last created browser (no reference), null when none.
CEF_EXPORT cef_client_t* scripted_client(void);
// Asks the browser process handler for a child's command line; argument:
// a "--name=value" switch already present, or null. Writes the resulting
// switches as text into out.
CEF_EXPORT void scripted_launch_child(const char* present_switch, char* out, int out_size);
// Callback drivers on the last browser's client; each answers what the
// program answered (or -1 when the handler is missing).
CEF_EXPORT int scripted_get_view_rect(cef_rect_t* rect);
CEF_EXPORT int scripted_paint(cef_paint_element_type_t type, const cef_rect_t* rects, int count,
                              int width, int height);
CEF_EXPORT int scripted_popup_show(int show);
CEF_EXPORT int scripted_popup_size(const cef_rect_t* rect);
CEF_EXPORT int scripted_cursor_change(cef_cursor_type_t type);
CEF_EXPORT int scripted_load_error(int code, const char* text, const char* url);
CEF_EXPORT int scripted_console_message(const char* message, const char* source, int line);
// on_before_popup with target url; after_url receives the engine's target_url
// after the call (UTF-8).
CEF_EXPORT int scripted_before_popup(const char* target_url, char* after_url, int after_size);
// on_before_resource_load from a second thread; headers "Name: value\n" before
// and after the call in out_headers.
CEF_EXPORT int scripted_before_resource_load(const char* url, const char* headers,
                                             char* out_headers, int out_size);
}
