// The command-line switch reader shared by every process of the host.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Keeps the process arguments (argv[1..]) for the switch reader; main() calls it first.
void SetProcessArguments(int argc, char** argv);
void SetProcessArguments(std::vector<std::string> args);
const std::vector<std::string>& ProcessArguments();

// The value of a switch, or "" when no argument matches (see switches.cpp).
std::string GetCmdLineSwitchValue(std::string_view name, std::string_view separator,
                                  bool caseSensitive, std::string_view switchChars, bool trim);

// The host's way to read a number switch: separator "=", any letter case, switch
// characters "-/", trimmed; the default when absent or not a 32-bit integer.
int GetSwitchInt(std::string_view name, int defaultValue);

// Decimal text with an optional sign to a 32-bit integer; false when it is not one.
bool TryStrToInt(std::string_view text, int& value);
