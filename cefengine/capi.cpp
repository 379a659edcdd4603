// The engine's C entry points.
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "cefapi/cef_capi.h"
#include "capi_client.h"
#include "capi_common.h"
#include "capi_objects.h"
#include "capi_render.h"
#include "core.h"
#include "main_loop.h"

using namespace cefeng;
using namespace cefeng::capi;

namespace {

// The application object given to cef_initialize, for the render helpers.
struct Globals {
  std::mutex m;  // guards app and initialized
  cef_app_t* app = nullptr;
  bool initialized = false;
};
Globals& G() {
  static Globals* g = new Globals;
  return *g;
}

bool HasSwitch(const cef_main_args_t* args, const char* exact) {
  if (!args || !args->argv) return false;
  for (int i = 1; i < args->argc; ++i)
    if (args->argv[i] && strcmp(args->argv[i], exact) == 0) return true;
  return false;
}

bool HasTypeSwitch(const cef_main_args_t* args) {
  if (!args || !args->argv) return false;
  for (int i = 1; i < args->argc; ++i)
    if (args->argv[i] && strncmp(args->argv[i], "--type=", 7) == 0) return true;
  return false;
}


}  // namespace

extern "C" {

CEF_EXPORT int cef_execute_process(const cef_main_args_t* args, cef_app_t* application, void*) {
  // The engine's sub-process switch: such a process does its work here and ends.
  if (HasTypeSwitch(args)) {
    RegisterSchemes(application);
    // A render helper started by this library: its whole life runs here.
    int fd = BridgeFdSwitch(args);
    if (fd >= 0 && HasSwitch(args, "--type=renderer")) return RunRenderProcess(application, fd);
    CefRelease(application);
    return 0;
  }
  CefRelease(application);
  return -1;
}

CEF_EXPORT int cef_initialize(const cef_main_args_t*, const cef_settings_t* settings,
                              cef_app_t* application, void*) {
  Engine& engine = Engine::Get();
  if (engine.Running()) {
    CefRelease(application);
    return 1;
  }
  RegisterSchemes(application);
  EngineOptions options;
  if (settings) {
    options.userDataDir = ToUtf8(&settings->user_data_path);
    options.cacheDir = ToUtf8(&settings->cache_path);
    options.locale = ToUtf8(&settings->locale);
  }
  std::string error;
  if (!engine.Start(options, error)) {
    fprintf(stderr, "the engine could not start: %s\n", error.c_str());
    CefRelease(application);
    return 0;
  }
  engine.SetMainWake(WakeMainLoop);
  {
    std::lock_guard<std::mutex> lock(G().m);
    G().app = application;
    G().initialized = true;
  }
  if (application && application->get_browser_process_handler) {
    cef_browser_process_handler_t* h = application->get_browser_process_handler(application);
    if (h && h->on_context_initialized) h->on_context_initialized(h);
    CefRelease(h);
  }
  return 1;
}

CEF_EXPORT void cef_shutdown(void) {
  Engine& engine = Engine::Get();
  engine.Shutdown();
  engine.SetMainWake(nullptr);
  CancelMainLoopWake();
  cef_app_t* app;
  {
    std::lock_guard<std::mutex> lock(G().m);
    app = G().app;
    G().app = nullptr;
    G().initialized = false;
  }
  CefRelease(app);
}

CEF_EXPORT void cef_do_message_loop_work(void) { Engine::Get().DoWork(); }

CEF_EXPORT int cef_register_extension(const cef_string_t* extension_name,
                                      const cef_string_t* javascript_code,
                                      cef_v8handler_t* handler) {
  return RegisterExtension(extension_name, javascript_code, handler);
}

CEF_EXPORT cef_browser_t* cef_browser_host_create_browser_sync(const cef_window_info_t*,
                                                               cef_client_t* client,
                                                               const cef_string_t* url,
                                                               const cef_browser_settings_t* settings,
                                                               cef_request_context_t* context) {
  CefRelease(context);
  auto delegate = std::make_shared<ClientDelegate>(client);
  BrowserOptions options = OptionsFrom(settings);
  Engine& engine = Engine::Get();
  if (engine.Running()) {
    // Started here, on the main thread, so that it dies with this process; its
    // extensions are in place before the first page loads.
    cef_app_t* app;
    {
      std::lock_guard<std::mutex> lock(G().m);
      app = CefAddRef(G().app);
    }
    options.helper = StartRenderHelper(app);
    CefRelease(app);
  }
  auto b = engine.CreateBrowser(delegate, options, std::string());
  if (!b && options.helper) options.helper->Close();
  if (!b) return nullptr;
  delegate->Bind(b);
  std::string u = ToUtf8(url);
  if (!u.empty()) {
    cef_frame_t* f = NewFrame(b, b->MainFrameId());
    View v(u);
    f->load_url(f, v.get());
    CefRelease(f);
  }
  return NewBrowser(b);
}

CEF_EXPORT cef_v8value_t* cef_v8value_create_string(const cef_string_t* value) {
  std::u16string v = value && value->str ? std::u16string(value->str, value->length) : std::u16string();
  return NewV8String(std::move(v));
}

}  // extern "C"
