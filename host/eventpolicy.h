// The host's fixed answers to the browser's events that need no browser objects:
// the request header list, the cursor table and the load-error page.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using THeaderList = std::vector<std::pair<std::string, std::string>>;

// Splits a header list text ("X-A=1;X-B=2", items also separated by spaces and
// control characters, quoted items with "" for a quote) into the name/value pairs
// to append to a request. Nothing when there are no items or the first is empty.
// Items without "=" name no header and are skipped.
std::optional<THeaderList> BuildHeaderMap(std::string_view list);

// The cursors the host shows, by the window toolkit's standard names.
enum class TCursor {
  crArrow, crCross, crHandPoint, crIBeam, crHourGlass, crHelp, crSizeWE, crSizeNS,
  crSizeNESW, crSizeNWSE, crHSplit, crVSplit, crSizeAll, crAppStart, crNo, crNone
};

// The engine's cursor type number to the host's cursor (arrow for anything unknown).
TCursor CursorFromEngineType(int cursorType);

// The named cursor of the desktop toolkit for a host cursor ("default", "pointer", ...).
const char* CursorName(TCursor cursor);

// The error page shown when a load fails, as UTF-16, after the round trip through
// the ANSI code page.
std::u16string BuildLoadErrorPage(std::u16string_view failedUrl, std::u16string_view errorText,
                                  int errorCode);
