#include "host/eventpolicy.h"

#include "platform/codepage.h"

namespace {

bool IsBlank(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

size_t SkipBlanks(std::string_view s, size_t pos) {
  while (pos < s.size() && IsBlank(s[pos])) ++pos;
  return pos;
}

// A quoted item starting at s[pos] == '"'; a doubled quote stands for one quote.
size_t ReadQuoted(std::string_view s, size_t pos, std::string& item) {
  ++pos;
  while (pos < s.size()) {
    if (s[pos] == '"') {
      if (pos + 1 < s.size() && s[pos + 1] == '"') {
        item.push_back('"');
        pos += 2;
        continue;
      }
      return pos + 1;
    }
    item.push_back(s[pos++]);
  }
  return pos;
}

std::vector<std::string> SplitItems(std::string_view s) {
  std::vector<std::string> items;
  size_t pos = SkipBlanks(s, 0);
  while (pos < s.size()) {
    const size_t start = pos;
    std::string item;
    if (s[pos] == '"') {
      pos = ReadQuoted(s, pos, item);
    } else {
      while (pos < s.size() && static_cast<unsigned char>(s[pos]) >= 33 && s[pos] != ';') ++pos;
      item.assign(s.substr(start, pos - start));
    }
    items.push_back(std::move(item));
    pos = SkipBlanks(s, pos);
    if (pos < s.size() && s[pos] == ';') {
      if (pos == s.size() - 1) items.emplace_back();
      pos = SkipBlanks(s, pos + 1);
    } else if (pos == start) {
      ++pos;  // a NUL byte is no separator and no item text: step over it
    }
  }
  return items;
}

}  // namespace

std::optional<THeaderList> BuildHeaderMap(std::string_view list) {
  std::vector<std::string> items = SplitItems(list);
  if (items.empty() || items.front().empty()) return std::nullopt;
  THeaderList headers;
  for (const std::string& item : items) {
    size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    headers.emplace_back(item.substr(0, eq), item.substr(eq + 1));
  }
  return headers;
}

TCursor CursorFromEngineType(int type) {
  switch (type) {
    case 1: return TCursor::crCross;
    case 2: return TCursor::crHandPoint;
    case 3: return TCursor::crIBeam;
    case 4: return TCursor::crHourGlass;
    case 5: return TCursor::crHelp;
    case 6: case 13: case 15: return TCursor::crSizeWE;
    case 7: case 10: case 14: return TCursor::crSizeNS;
    case 8: case 12: case 16: return TCursor::crSizeNESW;
    case 9: case 11: case 17: return TCursor::crSizeNWSE;
    case 18: return TCursor::crHSplit;
    case 19: return TCursor::crVSplit;
    case 29: return TCursor::crSizeAll;
    case 34: return TCursor::crAppStart;
    case 35: case 38: return TCursor::crNo;
    case 37: return TCursor::crNone;
    default: return TCursor::crArrow;
  }
}

const char* CursorName(TCursor cursor) {
  static const char* const kNames[] = {
      "default",     "crosshair",  "pointer",   "text",       "wait",     "help",
      "ew-resize",   "ns-resize",  "nesw-resize", "nwse-resize", "col-resize", "row-resize",
      "move",        "progress",   "not-allowed", "none"};
  return kNames[static_cast<int>(cursor)];
}

std::u16string BuildLoadErrorPage(std::u16string_view failedUrl, std::u16string_view errorText,
                                  int errorCode) {
  std::u16string page = u"<html><body bgcolor=\"white\"><h2>Failed to load URL ";
  page += failedUrl;
  page += u"\r\n\r\nError: ";
  page += errorText;
  page += u" (";
  for (char c : std::to_string(errorCode)) page.push_back(char16_t(c));
  page += u").</h2></body></html>";
  return platform::AnsiToWide(platform::WideToAnsi(page));
}
