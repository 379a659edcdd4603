// Typed attribute accessors, paths, lookups by attribute and the CDATA and
// Base64 helpers of elements.
#include "xml/xmlAccessors.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/codepage.h"
#include "xml/xmlSimple.h"

namespace {

bool IsNumericType(int t) {
  switch (t) {
    case varSmallint: case varInteger: case varSingle: case varDouble: case varCurrency:
    case varDate: case varBoolean: case varShortInt: case varByte: case varWord:
    case varLongWord: case varInt64:
      return true;
    default:
      return false;
  }
}

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = char(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

bool IsValidName(std::string_view s) {
  if (s.empty()) return false;
  auto u = static_cast<unsigned char>(s[0]);
  if (!(s[0] == '_' || platform::IsAnsiAlpha(u))) return false;
  for (size_t i = 1; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (!(platform::IsAnsiAlphaNumeric(c) || c == '-' || c == '.' || c == ':' || c == '_'))
      return false;
  }
  return true;
}

[[noreturn]] void NotSupported() { throw Exception("This feature is not supported by xmlSimple"); }

// Days since 1899-12-30 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25569;  // 1970-01-01 is day 25569
}

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

// ---------------------------------------------------------------------------
// Text conversions

double ParseFloatText(std::string_view text) {
  std::string s(text);
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  }
  bool ok = digits > 0;
  if (ok && i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t e = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++e;
    ok = e > 0;
  }
  if (ok && i == s.size()) return std::strtod(s.c_str(), nullptr);
  const std::string u = Upper(s);
  if (u == "INF" || u == "+INF") return std::numeric_limits<double>::infinity();
  if (u == "-INF") return -std::numeric_limits<double>::infinity();
  if (u == "NAN") {
    const uint64_t bits = 0xFFF8000000000000ull;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  throw Exception("'" + s + "' is not a valid floating point value");
}

double ParseDateTimeText(std::string_view text) {
  int64_t f[6] = {0, 0, 0, 0, 0, 0};
  static const char kSep[5] = {'-', '-', 'T', ':', ':'};
  size_t p = 0;
  for (int k = 0; k < 6; ++k) {
    int64_t v = 0;
    while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p]))) {
      if (v < 100000000) v = v * 10 + (text[p] - '0');
      ++p;
    }
    f[k] = v;
    if (k == 5) break;
    if (p < text.size() && text[p] == kSep[k]) {
      ++p;
    } else {
      break;
    }
  }
  static const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int64_t y = f[0], m = f[1], d = f[2];
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 ||
      d > kMonthDays[m - 1] + (m == 2 && IsLeap(y) ? 1 : 0))
    throw EConvertError("Invalid argument to date encode");
  if (f[3] > 23 || f[4] > 59 || f[5] > 59) throw EConvertError("Invalid argument to time encode");
  double days = double(DaysFromCivil(y, m, d));
  double time = double(f[3] * 3600 + f[4] * 60 + f[5]) / 86400.0;
  // Before the epoch the fraction counts away from zero, as the date-time type has it.
  return days >= 0 ? days + time : days - time;
}

// ---------------------------------------------------------------------------
// Paths and lookups

IXmlNode TXmlNode::SelectElement(std::string_view path) {
  if (IsValidName(path)) {
    TXmlNameId id = FNames->GetID(path);
    if (TXmlNodeList* list = ChildrenOrNull())
      for (int i = 0; i < list->GetCount(); ++i) {
        TXmlNode* c = list->Item(i);
        if (typeid(*c) == typeid(TXmlElement) && c->GetNodeNameID() == id) return c;
      }
    return nullptr;
  }
  const size_t bs = path.find('\\');
  if (bs == std::string_view::npos) NotSupported();
  IXmlNode head = SelectElement(path.substr(0, bs));
  return head ? head->SelectElement(path.substr(bs + 1)) : nullptr;
}

IXmlNodeList TXmlNode::SelectElements(std::string_view path) {
  if (IsValidName(path)) {
    TXmlNameId id = FNames->GetID(path);
    IXmlNodeList result = new TXmlNodeList(nullptr);
    if (TXmlNodeList* list = ChildrenOrNull())
      for (int i = 0; i < list->GetCount(); ++i) {
        TXmlNode* c = list->Item(i);
        if (typeid(*c) == typeid(TXmlElement) && c->GetNodeNameID() == id)
          result->FItems.push_back(IXmlNode(c));  // stays in its parent
      }
    return result;
  }
  const size_t bs = path.find('\\');
  if (bs == std::string_view::npos) NotSupported();
  IXmlNode head = SelectElement(path.substr(0, bs));
  return head ? head->SelectElements(path.substr(bs + 1)) : nullptr;
}

std::string TXmlNode::GetFullPath() const {
  if (!FParent) return {};
  std::string path = GetNodeName();
  for (const TXmlNode* p = FParent; p && typeid(*p) != typeid(TXmlDocument); p = p->FParent)
    path = p->GetNodeName() + "\\" + path;
  return path;
}

IXmlElement TXmlNode::FindChildByAttr(std::string_view childName, std::string_view attrName,
                                      const TXmlVariant& value) {
  TXmlNameId child = FNames->GetID(childName);
  TXmlNameId attr = FNames->GetID(attrName);
  if (TXmlNodeList* list = ChildrenOrNull())
    for (int i = 0; i < list->GetCount(); ++i) {
      TXmlNode* c = list->Item(i);
      if (typeid(*c) != typeid(TXmlElement) || c->GetNodeNameID() != child) continue;
      const TXmlAttrData* a = c->FindAttr(attr);
      if (!a) continue;
      bool same = false;
      try {
        same = a->value.SameValue(value);
      } catch (const Exception&) {
        same = false;
      }
      if (same) return static_cast<TXmlElement*>(c);
    }
  return nullptr;
}

TXmlVariant TXmlNode::GetValueByPath(std::string_view path) {
  if (path.empty()) return GetValue();
  if (path[0] == '@') return ReadVariantAttr(path.substr(1), TXmlVariant::Ansi(""));
  IXmlNode n = SelectElement(path);
  return n ? n->GetValue() : TXmlVariant::Ansi("");
}

void TXmlNode::SetValueByPath(std::string_view path, const TXmlVariant& value) {
  if (path.empty()) return SetValue(value);
  if (path[0] == '@') return WriteVariantAttr(path.substr(1), value);
  IXmlNode n = SelectElement(path);
  if (!n) n = AppendElement(path);
  n->SetValue(value);
}

// ---------------------------------------------------------------------------
// Typed attributes

std::string TXmlNode::ReadBytesAttr(TXmlNameId name, std::string_view defaultValue) const {
  const TXmlAttrData* a = FindAttr(name);
  return a ? a->value.ToText() : std::string(defaultValue);
}
std::string TXmlNode::ReadBytesAttr(std::string_view name, std::string_view defaultValue) const {
  return ReadBytesAttr(FNames->GetID(name), defaultValue);
}

bool TXmlNode::ReadBooleanAttr(TXmlNameId name, bool defaultValue) const {
  const TXmlAttrData* a = FindAttr(name);
  return a ? a->value.ToBoolean() : defaultValue;
}
bool TXmlNode::ReadBooleanAttr(std::string_view name, bool defaultValue) const {
  return ReadBooleanAttr(FNames->GetID(name), defaultValue);
}
void TXmlNode::WriteBooleanAttr(TXmlNameId name, bool value) {
  WriteVariantAttr(name, TXmlVariant::Boolean(value));
}
void TXmlNode::WriteBooleanAttr(std::string_view name, bool value) {
  WriteBooleanAttr(FNames->GetID(name), value);
}

double TXmlNode::ReadDateTimeAttr(TXmlNameId name, double defaultValue) const {
  const TXmlAttrData* a = FindAttr(name);
  if (!a) return defaultValue;
  const int t = a->value.Type();
  if (t == varString || t == varOleStr) return ParseDateTimeText(a->value.ToText());
  return a->value.ToDateTime();
}
double TXmlNode::ReadDateTimeAttr(std::string_view name, double defaultValue) const {
  return ReadDateTimeAttr(FNames->GetID(name), defaultValue);
}
void TXmlNode::WriteDateTimeAttr(TXmlNameId name, double value) {
  WriteVariantAttr(name, TXmlVariant::DateTime(value));
}
void TXmlNode::WriteDateTimeAttr(std::string_view name, double value) {
  WriteDateTimeAttr(FNames->GetID(name), value);
}

double TXmlNode::ReadFloatAttr(TXmlNameId name, double defaultValue) const {
  const TXmlAttrData* a = FindAttr(name);
  if (!a) return defaultValue;
  if (IsNumericType(a->value.Type())) return a->value.ToFloat();
  return ParseFloatText(a->value.ToText());
}
double TXmlNode::ReadFloatAttr(std::string_view name, double defaultValue) const {
  return ReadFloatAttr(FNames->GetID(name), defaultValue);
}
void TXmlNode::WriteFloatAttr(TXmlNameId name, double value) {
  WriteVariantAttr(name, TXmlVariant::Double(value));
}
void TXmlNode::WriteFloatAttr(std::string_view name, double value) {
  WriteFloatAttr(FNames->GetID(name), value);
}

int32_t TXmlNode::ReadHexAttr(TXmlNameId name, int32_t defaultValue) const {
  const TXmlAttrData* a = FindAttr(name);
  if (!a) return defaultValue;
  std::string hex(1, '$');  // appended: GCC 12 at -O3 misreads "$" + temporary as an overlap
  hex += a->value.ToText();
  return XmlStrToInt(hex);
}
int32_t TXmlNode::ReadHexAttr(std::string_view name, int32_t defaultValue) const {
  return ReadHexAttr(FNames->GetID(name), defaultValue);
}
void TXmlNode::WriteHexAttr(TXmlNameId name, int32_t value, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  uint32_t v = uint32_t(value);
  do {
    s.insert(s.begin(), kHex[v & 15]);
    v >>= 4;
  } while (v);
  if (digits > 32) digits = 32;
  if (int(s.size()) < digits) s.insert(0, size_t(digits) - s.size(), '0');
  WriteStringAttr(name, s);
}
void TXmlNode::WriteHexAttr(std::string_view name, int32_t value, int digits) {
  WriteHexAttr(FNames->GetID(name), value, digits);
}

int TXmlNode::ReadEnumAttr(TXmlNameId name, const std::vector<std::string>& values,
                           int defaultValue) const {
  const TXmlAttrData* a = FindAttr(name);
  if (!a) return defaultValue;
  const std::string text = Upper(a->value.ToText());
  for (size_t i = 0; i < values.size(); ++i)
    if (Upper(values[i]) == text) return int(i);
  std::string allowed;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) allowed += "\r\n";
    allowed += values[i];
  }
  throw Exception("Incorrect value of the attribute \"" + TXmlNameTable::GetName(name) +
                  "\" at element \"" + GetNodeName() + "\".\r\nAllowed values are: \r\n" +
                  allowed);
}
int TXmlNode::ReadEnumAttr(std::string_view name, const std::vector<std::string>& values,
                           int defaultValue) const {
  return ReadEnumAttr(FNames->GetID(name), values, defaultValue);
}
int TXmlNode::RequireEnumAttr(TXmlNameId name, const std::vector<std::string>& values) const {
  if (!FindAttr(name))
    throw Exception("Attribute \"" + TXmlNameTable::GetName(name) + "\" not found");
  return ReadEnumAttr(name, values, 0);
}
int TXmlNode::RequireEnumAttr(std::string_view name,
                              const std::vector<std::string>& values) const {
  if (!AttrExists(name)) throw Exception("Attribute \"" + std::string(name) + "\" not found");
  return ReadEnumAttr(FNames->GetID(name), values, 0);
}

// ---------------------------------------------------------------------------
// Element text as CDATA sections or Base64

namespace {
void RemoveTextChildren(TXmlNode& node) {
  TXmlNodeList* list = node.ChildrenOrNull();
  if (!list) return;
  for (int i = list->GetCount() - 1; i >= 0; --i) {
    const TXmlNode* item = list->Item(i);
    const auto& t = typeid(*item);
    if (t == typeid(TXmlText) || t == typeid(TXmlCDATASection)) list->Delete(i);
  }
}
}  // namespace

void TXmlElement::ReplaceTextByCDATA(std::string_view text) {
  RemoveTextChildren(*this);
  for (;;) {
    const size_t p = text.find("]]>");
    if (p == std::string_view::npos) break;
    AppendCDATA(text.substr(0, p + 1));
    text.remove_prefix(p + 1);
  }
  AppendCDATA(text);
}

void TXmlElement::ReplaceTextByBinary(const void* bytes, int count, int maxLineLength) {
  RemoveTextChildren(*this);
  std::string b64 =
      Base64Encode(std::string_view(static_cast<const char*>(bytes), count > 0 ? size_t(count) : 0));
  if (maxLineLength >= 1 && b64.size() > size_t(maxLineLength)) {
    std::string out;
    out.reserve(b64.size() + b64.size() / size_t(maxLineLength) * 2);
    for (size_t i = 0; i < b64.size(); i += size_t(maxLineLength)) {
      out.append(b64, i, size_t(maxLineLength));
      if (i + size_t(maxLineLength) < b64.size()) out += "\r\n";
    }
    b64 = std::move(out);
  }
  AppendText(b64);
}

std::string TXmlElement::ReadBinaryText() { return Base64DecodeText(GetText()); }
