// Text conversions of the typed accessors.
#pragma once

#include <string>
#include <string_view>

#include "base/base64.h"  // Base64DecodeText

// Decimal number with optional sign and exponent, or INF, +INF, -INF, NAN in any
// case; raises "'%s' is not a valid floating point value" otherwise.
double ParseFloatText(std::string_view text);
// yyyy-mm-ddThh:nn:ss, fields cut short where a separator is missing; raises
// EConvertError for an invalid date or time.
double ParseDateTimeText(std::string_view text);
