// Console texts of a page: what the delegate's OnConsoleMessage gets for a console
// call or an uncaught exception. Pure functions.
#pragma once
#include <string>

#include "devtools.h"

namespace cefeng {

struct ConsoleLine {
  std::string text;
  std::string source;
  int line = 0;  // 1-based; 0 when unknown
};

// The text of one remote object (a console argument or an exception).
std::string RemoteObjectText(const json& object);
// Runtime.consoleAPICalled: the arguments joined by spaces, at the first call frame.
ConsoleLine ConsoleCallLine(const json& params);
// Runtime.exceptionThrown (or an evaluation's exceptionDetails wrapped the same way);
// false when the parameters carry no details.
bool ExceptionLine(const json& params, ConsoleLine& out);

}  // namespace cefeng
