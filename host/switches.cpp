#include "host/switches.h"

#include <cctype>
#include <charconv>

namespace {

std::vector<std::string>& Arguments() {
  static std::vector<std::string> args;
  return args;
}

std::string_view TrimControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

void SetProcessArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  SetProcessArguments(std::move(args));
}

void SetProcessArguments(std::vector<std::string> args) { Arguments() = std::move(args); }

const std::vector<std::string>& ProcessArguments() { return Arguments(); }

// For each argument in order: its name part is the argument without one leading
// switch character, cut at the first separator, trimmed. The first argument whose
// name part equals the switch name (always also compared in upper case, so letter
// case never matters) gives the value: the text after the first separator in the
// whole argument, or the whole argument when it has none.
std::string GetCmdLineSwitchValue(std::string_view name, std::string_view separator,
                                  bool caseSensitive, std::string_view switchChars, bool trim) {
  const std::string_view wanted = TrimControls(name);
  for (const std::string& arg : Arguments()) {
    std::string_view part = arg;
    if (!part.empty() && switchChars.find(part.front()) != std::string_view::npos)
      part.remove_prefix(1);
    if (size_t at = part.find(separator); !separator.empty() && at != std::string_view::npos)
      part = part.substr(0, at);
    part = TrimControls(part);
    const bool match = (caseSensitive && part == wanted) || Upper(part) == Upper(wanted);
    if (!match) continue;
    std::string_view value = arg;
    if (size_t at = value.find(separator); !separator.empty() && at != std::string_view::npos)
      value = value.substr(at + separator.size());
    return std::string(trim ? TrimControls(value) : value);
  }
  return {};
}

bool TryStrToInt(std::string_view text, int& value) {
  if (text.empty()) return false;
  if (text.front() == '+') text.remove_prefix(1);
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

int GetSwitchInt(std::string_view name, int defaultValue) {
  int value;
  if (TryStrToInt(GetCmdLineSwitchValue(name, "=", false, "-/", true), value)) return value;
  return defaultValue;
}
