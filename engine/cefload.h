// The engine loader: the library, its entry points, engine-string helpers.
#pragma once

#include <string>
#include <string_view>

#include "base/exception.h"
#include "cefapi/cef_capi.h"

// Raised by the engine runtime ("Invalid CEF Library version", ...).
class ECefException : public Exception {
 public:
  using Exception::Exception;
};

// The resolved entry points of the loaded engine library.
struct TCefLibrary {
#define PV7_CEF_FN_FIELD(name) name##_fn name = nullptr;
  CEF_REQUIRED_ENTRY_POINTS(PV7_CEF_FN_FIELD)
#undef PV7_CEF_FN_FIELD
};

// The entry points; valid while CefLibraryLoaded().
const TCefLibrary& CefLib();
bool CefLibraryLoaded();
void* CefLibraryHandle();

// The engine library's file name ("libcef.so"); a name without '/' is looked
// for beside the executable first, then by the loader's search order.
std::string& EngineLibraryName();

// Loads the library and resolves every required entry point. Raises
// Exception "System Error.  Code: %d.\r\n%s" / "A call to an OS function
// failed" when it cannot be loaded, ECefException "Invalid CEF Library
// version" when an entry point is missing (the library is released again).
void LoadEngineLibrary();
void UnloadEngineLibrary();

// Engine strings.
std::u16string CefString(const cef_string_t* s);  // null gives ""
// A borrowed view of a program string (no destructor).
cef_string_t CefStringView(const std::u16string& s);
// Takes a string the engine handed out (userfree) and frees it; null gives "".
std::u16string CefStringClaim(cef_string_userfree_t s);
// Sets an engine string to a copy of `value` through the library.
void CefStringSet(cef_string_t* target, const std::u16string& value);
// UTF-8 <-> UTF-16 for the program's own texts at the boundary.
std::u16string Utf8ToU16(std::string_view s);
std::string U16ToUtf8(std::u16string_view s);
