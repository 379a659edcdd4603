// The engine's reference-counted objects over a browser: browser, host, frame,
// request and request callback, and the custom schemes registered by the program.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "cefapi/cef_capi.h"
#include "core.h"

namespace cefeng::capi {

// New objects with one reference, for the caller to hand on.
cef_browser_t* NewBrowser(const std::shared_ptr<Browser>& b);
cef_frame_t* NewFrame(const std::shared_ptr<Browser>& b, int64_t id);
cef_request_t* NewRequest(std::shared_ptr<RequestInfo> info);
cef_request_callback_t* NewRequestCallback(std::function<void(bool)> done);

// The program's custom schemes (asked of the application object; any thread).
void RegisterSchemes(cef_app_t* app);
bool IsCustomScheme(const std::string& url);

}  // namespace cefeng::capi
