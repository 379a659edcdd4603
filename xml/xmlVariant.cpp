// Variant values and their conversions.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"
#include "xml/xmlSimple.h"

TXmlVariant TXmlVariant::Null() {
  TXmlVariant v;
  v.FType = varNull;
  return v;
}

TXmlVariant TXmlVariant::Int(uint16_t type, int64_t value) {
  TXmlVariant v;
  v.FType = type;
  switch (type) {
    case varSmallint: value = int16_t(value); break;
    case varInteger: value = int32_t(value); break;
    case varShortInt: value = int8_t(value); break;
    case varByte: value = uint8_t(value); break;
    case varWord: value = uint16_t(value); break;
    case varLongWord: value = uint32_t(value); break;
    default: break;
  }
  v.FInt = value;
  return v;
}

TXmlVariant TXmlVariant::Float(uint16_t type, double value) {
  TXmlVariant v;
  v.FType = type;
  v.FFloat = type == varSingle ? double(float(value)) : value;
  return v;
}

TXmlVariant TXmlVariant::Currency(int64_t scaled) {
  TXmlVariant v;
  v.FType = varCurrency;
  v.FInt = scaled;
  return v;
}

TXmlVariant TXmlVariant::DateTime(double days) {
  TXmlVariant v;
  v.FType = varDate;
  v.FFloat = days;
  return v;
}

TXmlVariant TXmlVariant::Boolean(bool value) {
  TXmlVariant v;
  v.FType = varBoolean;
  v.FInt = value ? -1 : 0;
  return v;
}

TXmlVariant TXmlVariant::Ansi(std::string_view s) {
  TXmlVariant v;
  v.FType = varString;
  v.FStr.assign(s);
  return v;
}

TXmlVariant TXmlVariant::Wide(std::u16string_view s) {
  TXmlVariant v;
  v.FType = varOleStr;
  v.FWide.assign(s);
  return v;
}

TXmlVariant TXmlVariant::Bytes(std::string_view bytes) {
  TXmlVariant v;
  v.FType = varByteArray;
  v.FStr.assign(bytes);
  return v;
}

namespace {

bool IsIntegerType(uint16_t t) {
  return t == varSmallint || t == varInteger || t == varShortInt || t == varByte ||
         t == varWord || t == varLongWord || t == varInt64;
}

[[noreturn]] void CannotConvert(const TXmlVariant& v, const char* to) {
  throw EConvertError("Could not convert variant of type (" + std::to_string(v.Type()) +
                      ") into type (" + to + ")");
}

// Shortest text that reads back as the same double (up to 15 significant digits).
std::string GeneralFloatText(double d) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%.15G", d);
  return buf;
}

double ParseFloat(std::string_view text) {
  std::string s(text);
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.erase(s.begin());
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.pop_back();
  if (s == "Inf" || s == "+Inf") return HUGE_VAL;
  if (s == "-Inf") return -HUGE_VAL;
  if (s == "Nan") return NAN;
  char* end = nullptr;
  double d = s.empty() ? 0 : std::strtod(s.c_str(), &end);
  if (s.empty() || end != s.c_str() + s.size() || s.find_first_of("xXpP") != std::string::npos)
    throw EConvertError("'" + s + "' is not a valid floating point value");
  return d;
}

}  // namespace

int64_t XmlStrToInt64(std::string_view text) {
  std::string_view s = text;
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  }
  if (s.empty()) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  uint64_t value = 0;
  for (char c : s) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    if (value > (UINT64_MAX - uint64_t(digit)) / uint64_t(base))
      throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    value = value * uint64_t(base) + uint64_t(digit);
  }
  if (base == 10 && value > (negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX)))
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return negative ? int64_t(0 - value) : int64_t(value);
}

int32_t XmlStrToInt(std::string_view text) {
  int64_t v = XmlStrToInt64(text);
  bool hex = text.find('$') != std::string_view::npos;
  if (hex && v >= 0 && v <= int64_t(UINT32_MAX)) return int32_t(uint32_t(v));
  if (v < INT32_MIN || v > INT32_MAX)
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return int32_t(v);
}

std::string FloatToXmlText(double v) {
  if (std::isnan(v)) return "Nan";
  if (std::isinf(v)) return v > 0 ? "Inf" : "-Inf";
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%.14E", v);  // d.ddddddddddddddE+xx
  char* e = std::strchr(buf, 'E');
  if (!e) return buf;
  int exponent = std::atoi(e + 1);
  std::snprintf(e, sizeof(buf) - size_t(e - buf), "E%c%04d", exponent < 0 ? '-' : '+',
                exponent < 0 ? -exponent : exponent);
  return buf;
}

namespace {

// Days since 1899-12-30 to the civil date (proleptic Gregorian).
void DecodeDate(int64_t days, int& year, int& month, int& day) {
  // Days since 1970-01-01, then the civil-from-days algorithm.
  int64_t z = days - 25569 + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  day = int(doy - (153 * mp + 2) / 5 + 1);
  month = int(mp < 10 ? mp + 3 : mp - 9);
  year = int(y + (month <= 2));
}

}  // namespace

std::string DateTimeToXmlText(double days) {
  if (!std::isfinite(days) || std::fabs(days) > 3e6) return FloatToXmlText(days);
  // The integral part is the date; the fraction's magnitude is the time of day.
  int64_t date = int64_t(std::trunc(days));
  int64_t ms = int64_t(std::llround(std::fabs(days - double(date)) * 86400000.0));
  if (ms >= 86400000) ms = 86400000 - 1;
  int y, m, d;
  DecodeDate(date, y, m, d);
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d", y, m, d, int(ms / 3600000),
                int(ms / 60000 % 60), int(ms / 1000 % 60));
  return buf;
}

std::string FormatValue(const TXmlVariant& v) {
  switch (v.Type()) {
    case varNull: return "{{null}}";
    case varSingle:
    case varDouble: return FloatToXmlText(v.AsDoubleRaw());
    case varCurrency: return FloatToXmlText(double(v.AsInt64Raw()) / 10000.0);
    case varDate: return DateTimeToXmlText(v.AsDoubleRaw());
    case varOleStr: return platform::WideToAnsi(v.AsWideRaw());
    case varBoolean: return v.AsInt64Raw() ? "1" : "0";
    case varString: return v.AsStringRaw();
    case varByteArray: return Base64Encode(v.AsStringRaw());
    default:
      if (IsIntegerType(v.Type())) return std::to_string(v.AsInt64Raw());
      return v.ToText();
  }
}

std::string TXmlVariant::ToText() const {
  switch (FType) {
    case varEmpty:
    case varNull: return std::string();
    case varSingle:
    case varDouble: return GeneralFloatText(FFloat);
    case varCurrency: return GeneralFloatText(double(FInt) / 10000.0);
    case varDate: return DateTimeToXmlText(FFloat);
    case varOleStr: return platform::WideToAnsi(FWide);
    case varBoolean: return FInt ? "True" : "False";
    case varString:
    case varByteArray: return FStr;
    default:
      if (IsIntegerType(FType)) return std::to_string(FInt);
      CannotConvert(*this, "String");
  }
}

int64_t TXmlVariant::ToInt64() const {
  switch (FType) {
    case varEmpty: return 0;
    case varSingle:
    case varDouble:
    case varDate:
      if (!std::isfinite(FFloat) || std::fabs(FFloat) > 9.2e18) CannotConvert(*this, "Int64");
      return int64_t(std::nearbyint(FFloat));
    case varCurrency: return int64_t(std::nearbyint(double(FInt) / 10000.0));
    case varBoolean: return FInt ? -1 : 0;
    case varString: return XmlStrToInt64(FStr);
    case varOleStr: return XmlStrToInt64(platform::WideToAnsi(FWide));
    default:
      if (IsIntegerType(FType)) return FInt;
      CannotConvert(*this, "Int64");
  }
}

int32_t TXmlVariant::ToInteger() const {
  if (FType == varString) return XmlStrToInt(FStr);
  int64_t v = ToInt64();
  if (FType == varLongWord || FType == varInt64) return int32_t(v);  // wraps like a cast
  if (v < INT32_MIN || v > INT32_MAX) CannotConvert(*this, "Integer");
  return int32_t(v);
}

bool TXmlVariant::ToBoolean() const {
  if (FType == varString || FType == varOleStr) {
    std::string s = ToText();
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (s == "TRUE") return true;
    if (s == "FALSE") return false;
    return ParseFloat(s) != 0;
  }
  if (FType == varSingle || FType == varDouble || FType == varDate) return FFloat != 0;
  return ToInt64() != 0;
}

double TXmlVariant::ToFloat() const {
  switch (FType) {
    case varEmpty: return 0;
    case varSingle:
    case varDouble:
    case varDate: return FFloat;
    case varCurrency: return double(FInt) / 10000.0;
    case varString: return ParseFloat(FStr);
    case varOleStr: return ParseFloat(platform::WideToAnsi(FWide));
    default:
      if (IsIntegerType(FType) || FType == varBoolean) return double(ToInt64());
      CannotConvert(*this, "Double");
  }
}

double TXmlVariant::ToDateTime() const { return ToFloat(); }

bool TXmlVariant::SameValue(const TXmlVariant& other) const {
  if (FType == other.FType) {
    switch (FType) {
      case varEmpty:
      case varNull: return true;
      case varSingle:
      case varDouble:
      case varDate: return FFloat == other.FFloat;
      case varString:
      case varByteArray: return FStr == other.FStr;
      case varOleStr: return FWide == other.FWide;
      default: return FInt == other.FInt;
    }
  }
  if (FType == varEmpty || FType == varNull || other.FType == varEmpty || other.FType == varNull)
    return false;
  try {
    bool textual = FType == varString || FType == varOleStr || other.FType == varString ||
                   other.FType == varOleStr;
    if (textual) return ToText() == other.ToText();
    return ToFloat() == other.ToFloat();
  } catch (const EConvertError&) {
    return false;
  }
}
