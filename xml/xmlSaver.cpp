// The serializer: the buffered stream sink and each node's text form.
#include "xml/xmlSaver.h"

#include <cstring>

#include "platform/codepage.h"

TXmlStmSaver::~TXmlStmSaver() {
  try {
    Flush();
  } catch (...) {
    // A failing stream during unwinding: the error that caused it is the one reported.
  }
}

void TXmlStmSaver::Flush() {
  const int n = FUsed;
  FUsed = 0;
  if (n > 0) FStream.WriteBuffer(FBuffer, n);
}

void TXmlStmSaver::WritePiece(std::string_view piece) {
  if (piece.empty()) return;  // an unresolved name has no bytes, not even a pointer
  bool plain = FCodePage == platform::AnsiCodePage();
  if (!plain && FCodePage == platform::kUtf8CodePage) {
    plain = true;  // ASCII is the same in UTF-8
    for (char c : piece)
      if (static_cast<unsigned char>(c) >= 0x80) {
        plain = false;
        break;
      }
  }
  if (plain) {
    std::memcpy(FBuffer + FUsed, piece.data(), piece.size());
    FUsed += int(piece.size());
    return;
  }
  const size_t wide = platform::MultiByteToWide(platform::AnsiCodePage(), piece.data(), piece.size(),
                                                FWide, kPiece);
  FUsed += int(platform::WideToMultiByte(FCodePage, FWide, wide, FBuffer + FUsed,
                                         size_t(kBufferSize - FUsed)));
}

void TXmlStmSaver::Write(std::string_view text) {
  while (text.size() > size_t(kPiece)) {
    if ((kBufferSize - FUsed) / 3 < kPiece) Flush();
    // A UTF-8 ANSI text is cut between characters, never inside one.
    size_t cut = size_t(kPiece);
    if (platform::AnsiCodePage() == platform::kUtf8CodePage)
      while (cut > 1 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    WritePiece(text.substr(0, cut));
    Flush();
    text.remove_prefix(cut);
  }
  if ((kBufferSize - FUsed) / 3 < int(text.size())) Flush();
  WritePiece(text);
}

std::string EscapeText(std::string_view text) {
  size_t special = 0;
  for (char c : text) special += c == '"' || c == '&' || c == '<' || c == '>';
  if (special == 0) return std::string(text);
  std::string out;
  out.reserve(text.size() + special * 5);
  for (char c : text) {
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

// A name id's text; the null id (an attribute or element whose name a binary file
// did not resolve) is written as nothing.
std::string_view NameText(TXmlNameId id) { return id ? std::string_view(*id) : std::string_view(); }

// In an attribute value a reader turns a raw tab or line break into a space; written
// as character references they load back unchanged.
const char* AttrWhiteSpaceReference(char c) {
  switch (c) {
    case '\t': return "&#9;";
    case '\n': return "&#10;";
    case '\r': return "&#13;";
    default: return nullptr;
  }
}

std::string EscapeAttrText(std::string_view text) {
  const std::string escaped = EscapeText(text);
  std::string out;
  out.reserve(escaped.size());
  for (char c : escaped) {
    if (const char* ref = AttrWhiteSpaceReference(c)) out += ref;
    else out += c;
  }
  return out;
}

void WriteEscaped(TXmlSaver& saver, std::string_view text, bool attribute) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char* entity = nullptr;
    switch (text[i]) {
      case '"': entity = "&quot;"; break;
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      default:
        if (!attribute || !(entity = AttrWhiteSpaceReference(text[i]))) continue;
    }
    if (i > start) saver.Write(text.substr(start, i - start));
    saver.Write(entity);
    start = i + 1;
  }
  if (start < text.size()) saver.Write(text.substr(start));
}

// A value's text, escaped; strings are written without a copy.
void WriteValue(TXmlSaver& saver, const TXmlVariant& value, bool attribute = false) {
  if (value.Type() == varString) WriteEscaped(saver, value.AsStringRaw(), attribute);
  else WriteEscaped(saver, FormatValue(value), attribute);
}

void WritePrefix(TXmlSaver& saver) {
  if (!saver.formatted) return;
  static const std::string kTabs(64, '\t');
  saver.Write("\r\n");
  for (int d = saver.depth; d > 0; d -= 64)
    saver.Write(std::string_view(kTabs).substr(0, size_t(d < 64 ? d : 64)));
}

void WriteAttrs(TXmlSaver& saver, const TXmlNode& node) {
  for (int i = 0; i < node.GetAttrCount(); ++i) {
    const TXmlAttrData& a = node.GetAttr(i);
    saver.Write(" ");
    saver.Write(NameText(a.name));
    saver.Write("=\"");
    WriteValue(saver, a.value, true);
    saver.Write("\"");
  }
}

// "<![CDATA[" ... "]]>", split after the first "]" of every "]]>" in the text.
std::string CDATAText(std::string_view text) {
  std::string out;
  for (;;) {
    size_t at = text.find("]]>");
    if (at == std::string_view::npos) break;
    out += "<![CDATA[";
    out += text.substr(0, at + 1);
    out += "]]>";
    text.remove_prefix(at + 1);
  }
  out += "<![CDATA[";
  out += text;
  out += "]]>";
  return out;
}

std::string PIText(const TXmlProcessingInstruction& pi) {
  std::string out = "<?" + pi.GetNodeName();
  if (!pi.Data().empty()) {
    out += ' ';
    out += pi.Data();
  } else {
    pi.AppendAttrXml(out);
  }
  out += "?>";
  return out;
}

void WriteChildren(TXmlSaver& saver, const TXmlNode& node) {
  if (TXmlNodeList* list = node.ChildrenOrNull())
    for (int i = 0; i < list->GetCount(); ++i) list->Item(i)->WriteTo(saver);
}

}  // namespace

void TXmlNode::AppendAttrXml(std::string& out) const {
  for (const TXmlAttrData& a : FAttrs) {
    out += ' ';
    out += NameText(a.name);
    out += "=\"";
    out += EscapeAttrText(FormatValue(a.value));
    out += '"';
  }
}

void TXmlElement::WriteTo(TXmlSaver& saver) const {
  WritePrefix(saver);
  saver.Write("<");
  saver.Write(NameText(GetNodeNameID()));
  WriteAttrs(saver, *this);
  TXmlNodeList* list = ChildrenOrNull();
  if (list && list->GetCount() > 0) {
    saver.Write(">");
    ++saver.depth;
    WriteChildren(saver, *this);
    --saver.depth;
    const TXmlNode* first = list->Item(0);
    if (list->GetCount() > 1 || typeid(*first) == typeid(TXmlElement)) WritePrefix(saver);
    saver.Write("</");
    saver.Write(NameText(GetNodeNameID()));
    saver.Write(">");
  } else if (RawValue().IsEmpty()) {
    saver.Write("/>");
  } else {
    saver.Write(">");
    WriteValue(saver, RawValue());
    saver.Write("</");
    saver.Write(NameText(GetNodeNameID()));
    saver.Write(">");
  }
}

void TXmlText::WriteTo(TXmlSaver& saver) const { WriteValue(saver, FValue); }
void TXmlCDATASection::WriteTo(TXmlSaver& saver) const { saver.Write(CDATAText(FData)); }
void TXmlComment::WriteTo(TXmlSaver& saver) const {
  saver.Write("<!--");
  saver.Write(FData);
  saver.Write("-->");
}
void TXmlProcessingInstruction::WriteTo(TXmlSaver& saver) const { saver.Write(PIText(*this)); }
void TXmlDocument::WriteTo(TXmlSaver& saver) const { WriteChildren(saver, *this); }

std::string TXmlElement::GetXml() const {
  std::string inner;
  if (TXmlNodeList* list = ChildrenOrNull(); list && list->GetCount() > 0)
    inner = list->GetXml();
  else if (!RawValue().IsEmpty())
    inner = EscapeText(FormatValue(RawValue()));
  std::string out;
  const bool formatted = !PreservesWhiteSpace();
  std::string indent;
  if (formatted) {
    indent.assign(size_t(Depth()), '\t');
    out = "\r\n" + indent;
  }
  out += '<';
  out += GetNodeName();
  AppendAttrXml(out);
  if (inner.empty()) {
    out += "/>";
    return out;
  }
  out += '>';
  out += inner;
  if (formatted && inner.find_first_of("\r\n") != std::string::npos) {
    const bool endsWithBreak = inner.size() >= 2 && inner.compare(inner.size() - 2, 2, "\r\n") == 0;
    if (!endsWithBreak) out += "\r\n";
    out += indent;
  }
  out += "</";
  out += GetNodeName();
  out += '>';
  return out;
}

std::string TXmlText::GetXml() const { return EscapeText(FormatValue(FValue)); }
std::string TXmlCDATASection::GetXml() const { return CDATAText(FData); }
std::string TXmlComment::GetXml() const { return "<!--" + FData + "-->"; }
std::string TXmlProcessingInstruction::GetXml() const { return PIText(*this); }
std::string TXmlDocument::GetXml() const {
  TXmlNodeList* list = ChildrenOrNull();
  return list ? list->GetXml() : std::string();
}

void TXmlDocument::SaveToStream(TStream& stream) const {
  unsigned cp = platform::kUtf8CodePage;
  if (TXmlNode* decl = FindChild(FNames->XmlName())) {
    std::string encoding = decl->ReadStringAttr(FNames->EncodingName(), "");
    if (!encoding.empty()) {
      cp = CodePageByName(encoding);
      if (cp == 0) throw Exception("Encoding \"" + encoding + "\" is not supported by xmlSimple");
    }
  }
  TXmlStmSaver saver(stream, cp);
  saver.formatted = !GetPreserveWhiteSpace();
  saver.depth = 0;
  WriteTo(saver);
}
