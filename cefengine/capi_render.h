// The render helper: in the browser process, starting one per browser with the
// command line the browser-process handler completes; in the helper, the engine's
// render-process work (extension registration and native-function calls).
#pragma once
#include <memory>

#include "bridge.h"
#include "cefapi/cef_capi.h"

namespace cefeng::capi {

// The helper's channel switch (fd number), or -1 when args carry none.
int BridgeFdSwitch(const cef_main_args_t* args);

// Browser process: starts the render helper of a new browser. Null when the program
// offers no render-process handler (nothing could register an extension), when this
// process is itself a helper, or when the helper cannot be started. The executable
// is this program (/proc/self/exe) unless $PV7_RENDER_HELPER names another.
std::shared_ptr<RenderHelper> StartRenderHelper(cef_app_t* app);

// Helper process: runs the render-process handler, reports the registered
// extensions on fd and serves their native functions until fd closes. Releases app.
// Returns the exit code (0).
int RunRenderProcess(cef_app_t* app, int fd);

// cef_register_extension: kept in a helper, accepted and dropped elsewhere.
int RegisterExtension(const cef_string_t* name, const cef_string_t* code, cef_v8handler_t* handler);

// A new JavaScript value (one reference).
cef_v8value_t* NewV8Value(const BridgeValue& value);
cef_v8value_t* NewV8String(std::u16string value);
// What a JavaScript value the program hands back is, as the bridge carries it.
BridgeValue FromV8Value(cef_v8value_t* value);

}  // namespace cefeng::capi
