// The text parser: a single-pass recursive descent over a character source with
// one character of lookahead. Input is raw bytes until a declaration names an
// encoding; from then on it is decoded in 16384-byte blocks and converted to the
// ANSI code page.
#include <cstring>
#include <memory>

#include "platform/codepage.h"
#include "xml/xmlSimple.h"

namespace {

constexpr int kBlockSize = 16384;
// Deeper element nesting raises instead of exhausting the stack.
constexpr int kMaxDepth = 1000;

// The text in double quotes, for a message. Built by appending: GCC 12 at -O3
// misreads an insert at the front of a temporary as an overlapping copy.
std::string Quoted(std::string_view text) {
  std::string out(1, '"');
  out.append(text);
  out += '"';
  return out;
}

// Character classes of names, from the ANSI code page.
struct TNameChars {
  bool start[256];
  bool part[256];
  TNameChars() {
    for (int c = 0; c < 256; ++c) {
      const auto u = static_cast<unsigned char>(c);
      start[c] = c == '_' || platform::IsAnsiAlpha(u);
      part[c] = start[c] || platform::IsAnsiAlphaNumeric(u) || c == '-' || c == '.' || c == ':';
    }
  }
};
// Built at first use, after the process has chosen its ANSI code page.
const TNameChars& NameChars() {
  static const TNameChars chars;
  return chars;
}

class TXmlSource {
 public:
  explicit TXmlSource(TStream& stream) : FStream(&stream) { Advance(); }
  explicit TXmlSource(std::string_view text)
      : FOwned(std::make_unique<TStringStream>(text)), FStream(FOwned.get()) {
    Advance();
  }

  // The lookahead, 0 at end of input.
  unsigned char Cur() const { return FCur; }
  bool Eof() const { return FEof; }

  // Reads the next character into the lookahead; false at end of input.
  bool Advance() {
    if (FEof) return false;
    if (FCodePage == 0) {
      char c;
      if (FStream->Read(&c, 1) != 1) return SetEof();
      FCur = static_cast<unsigned char>(c);
    } else {
      if (FPos >= FCount && !Refill()) return SetEof();
      FCur = static_cast<unsigned char>(FBuf[FPos++]);
    }
    if (FCur == 10) {
      ++FLine;
      FCol = 0;
    } else {
      ++FCol;
    }
    return true;
  }

  // Appends characters up to the first stop character (or end of input) to `out`;
  // the lookahead is then the stop character. In decoding mode whole runs are
  // taken from the block at once.
  template <class Stop>
  void ReadRun(std::string& out, Stop stop) {
    while (!FEof && !stop(FCur)) {
      out.push_back(char(FCur));
      if (FCodePage != 0) {
        const int start = FPos;
        int i = start;
        while (i < FCount && !stop(static_cast<unsigned char>(FBuf[i]))) ++i;
        if (i > start) {
          out.append(FBuf + start, size_t(i - start));
          CountSpan(start, i);
          FPos = i;
        }
      }
      Advance();
    }
  }

  void SkipWhitespace() {
    while (!FEof && FCur <= 32) Advance();
  }

  // The declaration switches the code page from the next refill on; characters
  // already decoded stay as they are.
  void SetCodePage(unsigned cp) { FCodePage = cp; }

  [[noreturn]] void Fail(const std::string& message) const {
    throw Exception(message + " at [" + std::to_string(FLine) + ":" + std::to_string(FCol) + "]");
  }

  void ExpectChar(char c) {
    if (FEof || FCur != static_cast<unsigned char>(c))
      Fail("Character \"" + std::string(1, c) + "\" expected");
    Advance();
  }

  void ExpectText(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
      if (FEof || FCur != static_cast<unsigned char>(text[i]))
        Fail("Text \"" + std::string(text.substr(i)) + "\" expected");
      Advance();
    }
  }

  // Appends a name to `out`; raises unless it starts with a letter or "_".
  void ReadName(std::string& out) {
    const TNameChars& chars = NameChars();
    if (FEof || !chars.start[FCur]) Fail("Name must start with letter or \"_\"");
    ReadRun(out, [&chars](unsigned char c) { return !chars.part[c]; });
  }

  // The characters before the first occurrence of the terminator, which is consumed.
  void ReadUpTo(std::string_view terminator, std::string& out) {
    const size_t n = terminator.size();
    for (;;) {
      if (FEof) Fail(Quoted(terminator) + " expected");
      out.push_back(char(FCur));
      Advance();
      if (out.size() >= n && out.compare(out.size() - n, n, terminator) == 0) {
        out.resize(out.size() - n);
        return;
      }
    }
  }

  // After "&": appends the character of an entity or character reference to `out`.
  void ReadReference(std::string& nameBuffer, std::string& out) {
    Advance();
    if (FEof) Fail("\"#\" or XML entity symbol name expected");
    if (FCur == '#') {
      Advance();
      if (FEof) Fail("Number expected");
      uint32_t code = 0;
      bool any = false;
      if (FCur == 'x') {
        Advance();
        for (; !FEof; Advance()) {
          int d = HexDigit(FCur);
          if (d < 0) break;
          code = AddDigit(code, 16, d);
          any = true;
        }
        if (!any) Fail("Hexadecimal number expected");
      } else {
        for (; !FEof && FCur >= '0' && FCur <= '9'; Advance()) {
          code = AddDigit(code, 10, FCur - '0');
          any = true;
        }
        if (!any) Fail("Number expected");
      }
      ExpectChar(';');
      AppendCodePoint(code, out);
      return;
    }
    nameBuffer.clear();
    ReadName(nameBuffer);
    ExpectChar(';');
    if (nameBuffer == "amp") out.push_back('&');
    else if (nameBuffer == "quot") out.push_back('"');
    else if (nameBuffer == "lt") out.push_back('<');
    else if (nameBuffer == "gt") out.push_back('>');
    else if (nameBuffer == "apos") out.push_back('\'');
    else Fail("Unknown XML entity symbol name \"" + nameBuffer + "\" found");
  }

 private:
  // A reference's number, held at one past the last Unicode code point once it is
  // larger (it then names no character).
  static uint32_t AddDigit(uint32_t code, uint32_t base, int digit) {
    constexpr uint32_t kBeyond = 0x110000;
    code = code * base + uint32_t(digit);
    return code > kBeyond ? kBeyond : code;
  }

  // The Unicode character `code` in the ANSI code page; a character the page cannot
  // hold becomes its default character, and so does a number that names no
  // character (0, a lone surrogate, beyond U+10FFFF), which would otherwise end the
  // text at a zero byte.
  static void AppendCodePoint(uint32_t code, std::string& out) {
    if (code > 0 && code < 0x80) {
      out.push_back(char(code));
      return;
    }
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
      out.push_back(platform::kDefaultChar);
      return;
    }
    std::u16string wide;
    if (code < 0x10000) {
      wide.push_back(char16_t(code));
    } else {
      wide.push_back(char16_t(0xD800 + ((code - 0x10000) >> 10)));
      wide.push_back(char16_t(0xDC00 + ((code - 0x10000) & 0x3FF)));
    }
    const std::string ansi = platform::WideToAnsi(wide);
    if (ansi.empty() || ansi.find('\0') != std::string::npos) out.push_back(platform::kDefaultChar);
    else out += ansi;
  }

  static int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // Line and column after reading FBuf[from, to).
  void CountSpan(int from, int to) {
    for (int i = to - 1; i >= from; --i) {
      if (FBuf[i] == '\n') {
        for (int k = from; k <= i; ++k) FLine += FBuf[k] == '\n';
        FCol = to - 1 - i;
        return;
      }
    }
    FCol += to - from;
  }

  bool SetEof() {
    FEof = true;
    FCur = 0;
    return false;
  }

  // Decodes the next block into FBuf; false when the stream has nothing more.
  bool Refill() {
    for (;;) {
      int64_t got = FStream->Read(FRaw + FCarry, kBlockSize - FCarry);
      if (got <= 0) {
        if (FCarry == 0) return false;
        // A sequence cut off by the end of input: one '?' per byte.
        std::memset(FBuf, '?', size_t(FCarry));
        FCount = FCarry;
        FCarry = 0;
        FPos = 0;
        return true;
      }
      const int n = FCarry + int(got);
      int wide;
      if (FCodePage == platform::kUtf8CodePage) {
        wide = DecodeUtf8(n);
      } else if (FCodePage == platform::AnsiCodePage()) {
        std::memcpy(FBuf, FRaw, size_t(n));
        FCarry = 0;
        FCount = n;
        FPos = 0;
        return true;
      } else {
        wide = int(platform::MultiByteToWide(FCodePage, reinterpret_cast<char*>(FRaw), size_t(n),
                                             FWide, kBlockSize));
        FCarry = 0;
      }
      FCount = int(platform::WideToMultiByte(platform::AnsiCodePage(), FWide, size_t(wide), FBuf,
                                             sizeof FBuf));
      FPos = 0;
      if (FCount > 0) return true;
    }
  }

  // The library's own UTF-8 decoder over FRaw[0..n); an incomplete sequence at the
  // end is carried over to the next block. Returns the UTF-16 count in FWide.
  int DecodeUtf8(int n) {
    int i = 0, o = 0;
    while (i < n) {
      unsigned c = FRaw[i];
      if (c < 0x80) {
        FWide[o++] = char16_t(c);
        ++i;
        continue;
      }
      int len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
      if (len == 0) {  // cannot start a sequence
        FWide[o++] = u'?';
        ++i;
        continue;
      }
      if (i + len > n) break;  // cut off: carry over
      uint32_t cp = c & (0xFF >> (len + 1));
      bool ok = true;
      for (int k = 1; k < len; ++k) {
        if ((FRaw[i + k] & 0xC0) != 0x80) {
          ok = false;
          break;
        }
        cp = (cp << 6) | (FRaw[i + k] & 0x3F);
      }
      if (!ok) {
        FWide[o++] = u'?';
        ++i;
        continue;
      }
      i += len;
      if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        FWide[o++] = u'?';
      } else if (cp >= 0x10000) {
        cp -= 0x10000;
        FWide[o++] = char16_t(0xD800 + (cp >> 10));
        FWide[o++] = char16_t(0xDC00 + (cp & 0x3FF));
      } else {
        FWide[o++] = char16_t(cp);
      }
    }
    FCarry = n - i;
    std::memmove(FRaw, FRaw + i, size_t(FCarry));
    return o;
  }

  std::unique_ptr<TStringStream> FOwned;
  TStream* FStream;
  unsigned FCodePage = 0;
  unsigned char FCur = 0;
  bool FEof = false;
  int64_t FLine = 1;
  int64_t FCol = 0;
  int FPos = 0;
  int FCount = 0;
  int FCarry = 0;
  char FBuf[kBlockSize * 4];  // a multi-byte ANSI code page needs up to 4 bytes a unit
  unsigned char FRaw[kBlockSize + 4];
  char16_t FWide[kBlockSize + 4];
};

class TXmlParser {
 public:
  TXmlParser(TXmlSource& src, TXmlDocument& doc)
      : FSrc(src),
        FNames(*doc.Names()),
        FPreserve(doc.GetPreserveWhiteSpace()),
        FOnTagBegin(doc.GetOnTagBegin()),
        FOnTagEnd(doc.GetOnTagEnd()) {}

  void ParseDocument(TXmlNode& doc) { ParseChildren(doc, 0); }

 private:
  // Reads children into `parent` until end of input or "</" (the lookahead is then "/").
  void ParseChildren(TXmlNode& parent, int depth) {
    while (!FSrc.Eof()) {
      ReadTextRun(parent);
      if (FSrc.Cur() != '<') continue;
      if (!FSrc.Advance()) continue;
      switch (FSrc.Cur()) {
        case '/': return;
        case '?': ReadProcessingInstruction(parent); break;
        case '!':
          FSrc.Advance();
          if (FSrc.Cur() == '-') ReadComment(parent);
          else if (FSrc.Cur() == '[') ReadCDATA(parent);
          else SkipDoctype();
          break;
        default: ReadElement(parent, depth + 1); break;
      }
    }
  }

  void ReadTextRun(TXmlNode& parent) {
    FText.clear();
    while (!FSrc.Eof() && FSrc.Cur() != '<') {
      if (FSrc.Cur() == '&') FSrc.ReadReference(FName, FText);
      FSrc.ReadRun(FText, [](unsigned char c) { return c == '<' || c == '&'; });
    }
    std::string_view text = FText;
    if (!FPreserve) {
      while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
      while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
    }
    if (!text.empty())
      parent.ChildList()->Insert(IXmlText(new TXmlText(&FNames, TXmlVariant::Ansi(text))), -1);
  }

  void ReadElement(TXmlNode& parent, int depth) {
    if (depth > kMaxDepth) FSrc.Fail("Elements nested deeper than " + std::to_string(kMaxDepth));
    FName.clear();
    FSrc.ReadName(FName);
    TXmlNameId name = FNames.GetID(FName);
    if (FSrc.Eof()) throw Exception("Incomplete definition of the element");
    const unsigned char c = FSrc.Cur();
    if (c > 32 && c != '/' && c != '>') throw Exception("Invalid symbol in the name of the element");
    IXmlElement element = new TXmlElement(&FNames, name);
    TXmlNodeList* list = parent.ChildList();
    list->Insert(element, -1);
    ReadAttributes(*element);
    if (FOnTagBegin) FOnTagBegin(list, element);
    if (FSrc.Cur() == '/') {
      FSrc.ExpectText("/>");
    } else {
      FSrc.ExpectChar('>');
      ParseChildren(*element, depth);
      FSrc.ExpectChar('/');
      FSrc.ExpectText(*name);
      FSrc.SkipWhitespace();
      FSrc.ExpectChar('>');
    }
    if (FOnTagEnd) FOnTagEnd(list, element);
  }

  void ReadAttributes(TXmlNode& node) {
    FSrc.SkipWhitespace();
    while (!FSrc.Eof() && NameChars().start[FSrc.Cur()]) {
      FName.clear();
      FSrc.ReadName(FName);
      TXmlNameId name = FNames.GetID(FName);
      FSrc.SkipWhitespace();
      FSrc.ExpectChar('=');
      FSrc.SkipWhitespace();
      if (FSrc.Eof()) FSrc.Fail("The value of the attribute is expected");
      const unsigned char quote = FSrc.Cur();
      if (quote != '\'' && quote != '"') FSrc.Fail("Line constant expected");
      ReadQuotedValue(char(quote));
      node.WriteStringAttr(name, FValue);
      FSrc.SkipWhitespace();
    }
  }

  void ReadQuotedValue(char quote) {
    FValue.clear();
    FSrc.Advance();
    for (;;) {
      if (FSrc.Eof()) FSrc.Fail(Quoted(std::string_view(&quote, 1)) + " expected");
      const unsigned char c = FSrc.Cur();
      if (c == static_cast<unsigned char>(quote)) break;
      if (c == '<') FSrc.Fail("Character \"<\" cannot be used in the values of attributes");
      if (c == '&') {
        FSrc.ReadReference(FName, FValue);
      } else {
        const unsigned char q = static_cast<unsigned char>(quote);
        FSrc.ReadRun(FValue, [q](unsigned char ch) { return ch == q || ch == '<' || ch == '&'; });
      }
    }
    FSrc.Advance();
  }

  void ReadProcessingInstruction(TXmlNode& parent) {
    FSrc.Advance();
    FName.clear();
    FSrc.ReadName(FName);
    TXmlNameId target = FNames.GetID(FName);
    IXmlProcessingInstruction pi = new TXmlProcessingInstruction(&FNames, target, "");
    parent.ChildList()->Insert(pi, -1);
    if (target == FNames.XmlName()) {
      ReadAttributes(*pi);
      FSrc.ExpectText("?>");
      std::string encoding = pi->ReadStringAttr(FNames.EncodingName(), "");
      unsigned cp = platform::kUtf8CodePage;
      if (!encoding.empty()) {
        cp = CodePageByName(encoding);
        if (cp == 0) throw Exception("Encoding \"" + encoding + "\" is not supported by xmlSimple");
      }
      FSrc.SetCodePage(cp);
    } else {
      FValue.clear();
      FSrc.ReadUpTo("?>", FValue);
      pi->SetText(FValue);
    }
  }

  void ReadComment(TXmlNode& parent) {
    FSrc.ExpectText("--");
    FValue.clear();
    FSrc.ReadUpTo("-->", FValue);
    parent.ChildList()->Insert(IXmlComment(new TXmlComment(&FNames, FValue)), -1);
  }

  void ReadCDATA(TXmlNode& parent) {
    FSrc.ExpectText("[CDATA[");
    FValue.clear();
    FSrc.ReadUpTo("]]>", FValue);
    parent.ChildList()->Insert(IXmlCDATASection(new TXmlCDATASection(&FNames, FValue)), -1);
  }

  void SkipDoctype() {
    FSrc.ExpectText("DOCTYPE");
    FValue.clear();
    FSrc.ReadUpTo(">", FValue);
  }

  TXmlSource& FSrc;
  TXmlNameTable& FNames;
  const bool FPreserve;
  const TXmlParseEvent& FOnTagBegin;
  const TXmlParseEvent& FOnTagEnd;
  // Reused token buffers: they keep their capacity from token to token.
  std::string FText, FName, FValue;
};

}  // namespace

unsigned CodePageByName(std::string_view name) {
  static const struct {
    const char* name;
    unsigned cp;
  } kTable[] = {{"UTF-8", 65001},        {"WINDOWS-1250", 1250}, {"WINDOWS-1251", 1251},
                {"WINDOWS-1252", 1252},  {"WINDOWS-1253", 1253}, {"WINDOWS-1254", 1254},
                {"WINDOWS-1255", 1255},  {"WINDOWS-1256", 1256}, {"WINDOWS-1257", 1257},
                {"WINDOWS-1258", 1258},  {"ISO-8859-1", 28591},  {"ISO-8859-2", 28592},
                {"ISO-8859-3", 28593},   {"ISO-8859-4", 28594},  {"ISO-8859-5", 28595},
                {"ISO-8859-6", 28596},   {"ISO-8859-7", 28597},  {"ISO-8859-8", 28598},
                {"ISO-8859-9", 28599},   {"ISO-8859-13", 28603}, {"ISO-8859-15", 28605},
                {"KOI8-R", 20866},       {"KOI8-U", 21866}};
  for (const auto& e : kTable) {
    const size_t n = std::strlen(e.name);
    if (name.size() != n) continue;
    bool same = true;
    for (size_t i = 0; i < n && same; ++i)
      same = std::toupper(static_cast<unsigned char>(name[i])) == static_cast<unsigned char>(e.name[i]);
    if (same) return e.cp;
  }
  return 0;
}

void TXmlDocument::LoadFromStream(TStream& stream) {
  ClearForLoad();
  const int64_t size = stream.GetSize();
  if (size > 14) {
    char head[14];
    int64_t got = stream.Read(head, 14);
    if (got == 14 && std::string_view(head, 14) == kBinaryXmlSignature) {
      LoadBinaryFromStream(stream);
      return;
    }
    stream.Seek(-got, TSeekOrigin::soCurrent);
  }
  if (size > 4) {
    unsigned char bom[4] = {};
    int64_t got = stream.Read(bom, 4);
    stream.Seek(-got, TSeekOrigin::soCurrent);
    if (got == 4) {
      const bool utf32be = bom[0] == 0 && bom[1] == 0 && bom[2] == 0xFE && bom[3] == 0xFF;
      const bool utf32le = bom[0] == 0xFF && bom[1] == 0xFE && bom[2] == 0 && bom[3] == 0;
      const bool utf16 = (bom[0] == 0xFF && bom[1] == 0xFE) || (bom[0] == 0xFE && bom[1] == 0xFF);
      if (utf32be || utf32le || utf16)
        throw Exception("Unicode Encoding is not supported by xmlSimple");
      if (bom[0] == 0xEF && bom[1] == 0xBB && bom[2] == 0xBF) stream.Seek(3, TSeekOrigin::soCurrent);
    }
  }
  TXmlSource source(stream);
  TXmlParser(source, *this).ParseDocument(*this);
}

void TXmlDocument::LoadFromString(std::string_view text) {
  if (text.size() >= 15 && text.substr(0, 14) == kBinaryXmlSignature) {
    LoadBinaryXml(text);
    return;
  }
  ClearForLoad();
  TXmlSource source(text);
  TXmlParser(source, *this).ParseDocument(*this);
}
