// The commands a parent sends on ACTN, and their handlers.
#pragma once

#include <string>
#include <string_view>

#include "cefapi/cef_capi.h"
#include "engine/cefbase.h"
#include "host/framebitmap.h"
#include "xml/stream.h"

class TGoGoThread;

// The largest view width or height a WindowSize command sets; larger values are
// taken as this one, so a hostile size cannot make the host allocate gigabytes.
inline constexpr int kMaxViewSide = 16384;

// What the command handlers act on: the main form's browser, view bitmap,
// header list and message loop.
class ICommandTarget {
 public:
  virtual ~ICommandTarget() = default;
  // The engine browser, or null when there is none.
  virtual TCefRef<cef_browser_t> EngineBrowser() = 0;
  virtual TFrameBitmap& ViewBitmap() = 0;
  // Replaces the header list injected into every request.
  virtual void SetHeaders(std::string headers) = 0;
  // Loads the address (ANSI text) into the main frame; nothing without a browser.
  virtual void Navigate(const std::string& url) = 0;
  // Posts the quit request to the main loop.
  virtual void PostQuit() = 0;
};

// Parses one message (text or binary XML) and runs the handler its root element
// names (ignoring case); unknown names and documents without a root do nothing.
// `thread` is the command reader (null when the test window dispatches); Destroy
// tells it to stop. Parse, conversion and engine errors are raised to the caller.
void DispatchCommand(ICommandTarget& target, TStream& message, TGoGoThread* thread);

// The engine key event type of "KT_KEYUP", "KT_KEYDOWN", "KT_CHAR" (any case), or
// -1 for any other text.
int KeyTypeToEngine(std::string_view keyType);

// A decimal (or "$" hexadecimal) 32-bit integer; raises EConvertError otherwise.
int StrToInt(std::string_view text);
