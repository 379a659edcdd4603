// The page's pop-up widgets drawn inside the page, so that they show in the
// screencast frames: Chromium draws a drop-down list's own pop-up as a separate
// widget, which the screencast never captures.
#pragma once
#include <string>

#include "devtools.h"

namespace cefeng {

// Gives every new document, also a frame's, the widget script before its own scripts.
void SendWidgetSetUp(DevToolsPipe& pipe, const std::string& sessionId);

}  // namespace cefeng
