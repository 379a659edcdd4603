// The binary form of a document: signature, options word, name section, body.
#include "xml/xmlBinary.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "platform/codepage.h"

namespace xmlbin {
namespace {

constexpr size_t kBufferSize = 65536;

[[noreturn]] void ReadError() { throw Exception("Error reading data"); }

template <class T>
T LoadLE(const unsigned char* p) {
  uint64_t v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v |= uint64_t(p[i]) << (8 * i);
  T out;
  if constexpr (sizeof(T) == 8) {
    std::memcpy(&out, &v, 8);
  } else {
    auto narrow = static_cast<std::conditional_t<sizeof(T) == 4, uint32_t,
                                                 std::conditional_t<sizeof(T) == 2, uint16_t, uint8_t>>>(v);
    std::memcpy(&out, &narrow, sizeof(T));
  }
  return out;
}

template <class T>
void StoreLE(TBinXmlWriter& w, T value) {
  unsigned char raw[sizeof(T)];
  std::memcpy(raw, &value, sizeof(T));
  uint64_t v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v |= uint64_t(raw[i]) << (8 * i);  // host order
  unsigned char out[sizeof(T)];
  for (size_t i = 0; i < sizeof(T); ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
  w.Write(out, sizeof(T));
}

template <class T>
T ReadLE(TBinXmlReader& r) {
  unsigned char raw[sizeof(T)];
  r.Read(raw, sizeof(T));
  return LoadLE<T>(raw);
}

std::u16string ReadUnits(TBinXmlReader& r) {
  size_t n = r.ReadCount(2);
  std::u16string s(n, u'\0');
  std::vector<unsigned char> raw(n * 2);
  if (n) r.Read(raw.data(), n * 2);
  for (size_t i = 0; i < n; ++i) s[i] = char16_t(raw[2 * i] | (raw[2 * i + 1] << 8));
  return s;
}

std::string ReadUtf8(TBinXmlReader& r) {
  size_t n = r.ReadCount(1);
  std::string s(n, '\0');
  if (n) r.Read(s.data(), n);
  return s;
}

void WriteUnits(TBinXmlWriter& w, std::u16string_view s) {
  w.WriteCompact(int32_t(s.size()));
  std::string raw(s.size() * 2, '\0');
  for (size_t i = 0; i < s.size(); ++i) {
    raw[2 * i] = char(s[i] & 0xFF);
    raw[2 * i + 1] = char(s[i] >> 8);
  }
  w.Write(raw.data(), raw.size());
}

void WriteBytes(TBinXmlWriter& w, std::string_view s) {
  w.WriteCompact(int32_t(s.size()));
  w.Write(s.data(), s.size());
}

}  // namespace

// ---------------------------------------------------------------------------
// Readers

uint8_t TBinXmlReader::ReadByte() {
  uint8_t b;
  Read(&b, 1);
  return b;
}

int32_t TBinXmlReader::ReadCompact() {
  uint8_t b = ReadByte();
  if (b < 0x80) return b;
  if (b == 0xFF) return ReadLE<int32_t>(*this);
  uint8_t c = ReadByte();
  return int32_t((uint32_t(b & 0x7F) << 8) | c);
}

size_t TBinXmlReader::ReadCount(size_t unitSize) {
  int32_t n = ReadCompact();
  // A count the rest of the input cannot hold is as bad as a truncated file.
  if (n < 0 || uint64_t(n) * unitSize > Remaining()) ReadError();
  return size_t(n);
}

std::string TBinXmlReader::ReadString() {
  if (FOptions & 1) return platform::WideToAnsi(ReadUnits(*this));
  return platform::Utf8ToAnsi(ReadUtf8(*this));
}

TXmlVariant TBinXmlReader::ReadValue() {
  int32_t type = ReadCompact();
  switch (type) {
    case varEmpty: return TXmlVariant();
    case varNull: return TXmlVariant::Null();
    case varShortInt: return TXmlVariant::Int(varShortInt, ReadLE<int8_t>(*this));
    case varByte: return TXmlVariant::Int(varByte, ReadLE<uint8_t>(*this));
    case varSmallint: return TXmlVariant::Int(varSmallint, ReadLE<int16_t>(*this));
    case varWord: return TXmlVariant::Int(varWord, ReadLE<uint16_t>(*this));
    case varBoolean: return TXmlVariant::Boolean(ReadLE<int16_t>(*this) != 0);
    case varInteger: return TXmlVariant::Int(varInteger, ReadLE<int32_t>(*this));
    case varLongWord: return TXmlVariant::Int(varLongWord, ReadLE<uint32_t>(*this));
    case varSingle: return TXmlVariant::Float(varSingle, ReadLE<float>(*this));
    case varDouble: return TXmlVariant::Float(varDouble, ReadLE<double>(*this));
    case varCurrency: return TXmlVariant::Currency(ReadLE<int64_t>(*this));
    case varDate: return TXmlVariant::DateTime(ReadLE<double>(*this));
    case varInt64: return TXmlVariant::Int(varInt64, ReadLE<int64_t>(*this));
    case varOleStr: return TXmlVariant::Wide(ReadUnits(*this));
    case varString: return TXmlVariant::Ansi(platform::Utf8ToAnsi(ReadUtf8(*this)));
    case varByteArray: return TXmlVariant::Bytes(ReadUtf8(*this));
    default: throw Exception("Error reading value: incorrect type");
  }
}

TStmXmlReader::TStmXmlReader(TStream& stream, uint32_t options)
    : TBinXmlReader(options), FStream(stream) {
  int64_t rest = stream.GetSize() - stream.GetPosition();
  FRemaining = rest > 0 ? uint64_t(rest) : 0;
}

void TStmXmlReader::Read(void* buffer, size_t n) {
  char* out = static_cast<char*>(buffer);
  size_t buffered = FEnd - FPos;
  if (n <= buffered) {
    std::memcpy(out, FBuffer.data() + FPos, n);
    FPos += n;
    return;
  }
  if (n > buffered + FRemaining) ReadError();
  if (buffered) std::memcpy(out, FBuffer.data() + FPos, buffered);
  FPos = FEnd = 0;
  out += buffered;
  n -= buffered;
  if (n >= kBufferSize) {  // large reads go straight to the stream
    if (FStream.Read(out, int64_t(n)) != int64_t(n)) ReadError();
    FRemaining -= n;
    return;
  }
  if (FBuffer.empty()) FBuffer.resize(kBufferSize);
  size_t want = size_t(std::min<uint64_t>(kBufferSize, FRemaining));
  int64_t got = FStream.Read(FBuffer.data(), int64_t(want));
  if (got < int64_t(n)) ReadError();
  FRemaining -= uint64_t(got);
  FEnd = size_t(got);
  std::memcpy(out, FBuffer.data(), n);
  FPos = n;
}

void TStrXmlReader::Read(void* buffer, size_t n) {
  if (n > FData.size() - FPos) ReadError();
  std::memcpy(buffer, FData.data() + FPos, n);
  FPos += n;
}

// ---------------------------------------------------------------------------
// Writers

void TBinXmlWriter::WriteCompact(int32_t v) {
  if (v >= 0 && v <= 127) {
    WriteByte(uint8_t(v));
  } else if (v >= 128 && v <= 0x7EFF) {
    uint8_t two[2] = {uint8_t(0x80 | (v >> 8)), uint8_t(v & 0xFF)};
    Write(two, 2);
  } else {
    WriteByte(0xFF);
    StoreLE<int32_t>(*this, v);
  }
}

void TBinXmlWriter::WriteString(std::string_view ansi) {
  if (FOptions & 1)
    WriteUnits(*this, platform::AnsiToWide(ansi));
  else
    WriteBytes(*this, platform::AnsiToUtf8(ansi));
}

void TBinXmlWriter::WriteValue(const TXmlVariant& v) {
  const uint16_t type = v.Type();
  switch (type) {
    case varEmpty: case varNull: case varShortInt: case varByte: case varSmallint: case varWord:
    case varBoolean: case varInteger: case varLongWord: case varSingle: case varDouble:
    case varCurrency: case varDate: case varInt64: case varOleStr: case varString:
    case varByteArray: break;
    default: throw Exception("Unknown data type in variant");
  }
  WriteCompact(type);
  switch (type) {
    case varShortInt: StoreLE<int8_t>(*this, int8_t(v.AsInt64Raw())); break;
    case varByte: StoreLE<uint8_t>(*this, uint8_t(v.AsInt64Raw())); break;
    case varSmallint: StoreLE<int16_t>(*this, int16_t(v.AsInt64Raw())); break;
    case varWord: StoreLE<uint16_t>(*this, uint16_t(v.AsInt64Raw())); break;
    case varBoolean: StoreLE<int16_t>(*this, v.AsInt64Raw() ? int16_t(-1) : int16_t(0)); break;
    case varInteger: StoreLE<int32_t>(*this, int32_t(v.AsInt64Raw())); break;
    case varLongWord: StoreLE<uint32_t>(*this, uint32_t(v.AsInt64Raw())); break;
    case varSingle: StoreLE<float>(*this, float(v.AsDoubleRaw())); break;
    case varDouble: case varDate: StoreLE<double>(*this, v.AsDoubleRaw()); break;
    case varCurrency: case varInt64: StoreLE<int64_t>(*this, v.AsInt64Raw()); break;
    case varOleStr: WriteUnits(*this, v.AsWideRaw()); break;
    case varString: WriteBytes(*this, platform::AnsiToUtf8(v.AsStringRaw())); break;
    case varByteArray: WriteBytes(*this, v.AsStringRaw()); break;
    default: break;
  }
}

TStmXmlWriter::TStmXmlWriter(TStream& stream, uint32_t options)
    : TBinXmlWriter(options), FStream(stream), FBuffer(kBufferSize) {}

TStmXmlWriter::~TStmXmlWriter() {
  try {
    Flush();
  } catch (...) {
    // A destructor must not throw; SaveBinaryToStream flushes explicitly first.
  }
}

void TStmXmlWriter::Flush() {
  if (FUsed) {
    size_t n = FUsed;
    FUsed = 0;
    FStream.WriteBuffer(FBuffer.data(), int64_t(n));
  }
}

void TStmXmlWriter::Write(const void* buffer, size_t n) {
  if (n <= kBufferSize - FUsed) {
    std::memcpy(FBuffer.data() + FUsed, buffer, n);
    FUsed += n;
    return;
  }
  Flush();
  FStream.WriteBuffer(buffer, int64_t(n));
}

TStrXmlWriter::TStrXmlWriter(uint32_t options) : TBinXmlWriter(options) {
  FData.resize(kBufferSize);
}

void TStrXmlWriter::Write(const void* buffer, size_t n) {
  if (n > FData.size() - FUsed) FData.resize(std::max(FData.size() * 2, FUsed + n));
  std::memcpy(FData.data() + FUsed, buffer, n);
  FUsed += n;
}

std::string TStrXmlWriter::Finish() {
  FData.resize(FUsed);
  return std::move(FData);
}

// ---------------------------------------------------------------------------
// Documents

namespace {

void WriteHash(TBinXmlWriter& w, TXmlNameId id) {
  w.WriteCompact(int32_t(TXmlNameTable::NameHash(TXmlNameTable::GetName(id))));
}

void WriteBody(TBinXmlWriter& w, const TXmlNode& node) {
  const int attrs = node.GetAttrCount();
  w.WriteCompact(attrs);
  for (int i = 0; i < attrs; ++i) {
    const TXmlAttrData& a = node.GetAttr(i);
    WriteHash(w, a.name);
    w.WriteValue(a.value);
  }
  TXmlNodeList* list = node.ChildrenOrNull();
  const int count = list ? list->GetCount() : 0;
  w.WriteCompact(count);
  for (int i = 0; i < count; ++i) {
    TXmlNode* child = list->Item(i);
    const int type = child->GetNodeType();
    switch (type) {
      case 1: {
        auto* e = static_cast<TXmlElement*>(child);
        w.WriteByte(1);
        WriteHash(w, e->GetNodeNameID());
        if (e->HasChildNodes() || e->RawValue().IsEmpty())
          w.WriteValue(TXmlVariant());
        else
          w.WriteValue(e->RawValue());
        WriteBody(w, *e);
        break;
      }
      case 2:
        w.WriteByte(2);
        w.WriteValue(static_cast<TXmlText*>(child)->RawValue());
        break;
      case 3:
        w.WriteByte(3);
        w.WriteString(static_cast<TXmlCDATASection*>(child)->Data());
        break;
      case 4: {
        auto* pi = static_cast<TXmlProcessingInstruction*>(child);
        w.WriteByte(4);
        WriteHash(w, pi->GetNodeNameID());
        w.WriteString(pi->Data());
        WriteBody(w, *pi);
        break;
      }
      case 5:
        w.WriteByte(5);
        w.WriteString(static_cast<TXmlComment*>(child)->Data());
        break;
      default: throw Exception("Error writing binary XML: incorrect node-type");
    }
  }
}

void ReadBody(TBinXmlReader& r, TXmlNode& node, int depth) {
  if (depth > kMaxBinaryDepth)
    throw Exception("Error reading binary XML: elements nested too deeply");
  TXmlNameTable& names = *node.Names();
  node.RemoveAllAttrs();
  // Each attribute takes at least two bytes (hash and type code).
  const size_t attrs = r.ReadCount(2);
  for (size_t i = 0; i < attrs; ++i) {
    TXmlNameId name = names.FindByHash(uint32_t(r.ReadCompact()));
    node.AddAttrUnchecked(name, r.ReadValue());
  }
  // Each child record takes at least two bytes.
  const size_t count = r.ReadCount(2);
  if (count == 0) return;
  node.RemoveAllChildren();
  TXmlNodeList* list = node.ChildList();
  const IXmlNameTable table = node.GetNameTable();
  for (size_t i = 0; i < count; ++i) {
    const uint8_t type = r.ReadByte();
    switch (type) {
      case 1: {
        TXmlNameId name = names.FindByHash(uint32_t(r.ReadCompact()));
        IXmlElement e(new TXmlElement(table, name));
        list->Insert(e, -1);
        e->SetRawValue(r.ReadValue());
        ReadBody(r, *e, depth + 1);
        break;
      }
      case 2: {
        IXmlText t(new TXmlText(table, TXmlVariant()));
        list->Insert(t, -1);
        t->SetValue(r.ReadValue());
        break;
      }
      case 3: {
        IXmlCDATASection c(new TXmlCDATASection(table, {}));
        list->Insert(c, -1);
        c->SetText(r.ReadString());
        break;
      }
      case 4: {
        TXmlNameId target = names.FindByHash(uint32_t(r.ReadCompact()));
        std::string data = r.ReadString();
        IXmlProcessingInstruction pi(new TXmlProcessingInstruction(table, target, data));
        list->Insert(pi, -1);
        ReadBody(r, *pi, depth + 1);
        break;
      }
      case 5: {
        IXmlComment c(new TXmlComment(table, {}));
        list->Insert(c, -1);
        c->SetText(r.ReadString());
        break;
      }
      default: throw Exception("Error reading binary XML: incorrect node-type");
    }
  }
}

}  // namespace

void WriteDocument(TBinXmlWriter& w, const TXmlDocument& doc) {
  const TXmlNameTable& names = *doc.Names();
  int total = 0;
  for (int b = 0; b < names.BucketCount(); ++b) total += int(names.Bucket(b).size());
  w.WriteCompact(total);
  for (int b = 0; b < names.BucketCount(); ++b)
    for (const TXmlNameTable::TEntry& e : names.Bucket(b)) w.WriteString(*e.name);
  WriteBody(w, doc);
}

void ReadDocument(TBinXmlReader& r, TXmlDocument& doc) {
  r.SetOptions(ReadLE<uint32_t>(r));
  TXmlNameTable& names = *doc.Names();
  // Clear() interns the predefined names again, so text, CDATA, comment and
  // document nodes, the declaration and its encoding keep their identities.
  names.Clear();
  const size_t count = r.ReadCount(1);
  for (size_t i = 0; i < count; ++i) names.GetID(r.ReadString());
  ReadBody(r, doc, 0);
}

}  // namespace xmlbin

// ---------------------------------------------------------------------------
// The document's binary entry points

void TXmlDocument::LoadBinaryFromStream(TStream& stream) {
  xmlbin::TStmXmlReader reader(stream);
  xmlbin::ReadDocument(reader, *this);
}

void TXmlDocument::LoadBinaryXml(std::string_view bytes) {
  ClearForLoad();
  if (bytes.size() < kBinaryXmlSignature.size()) throw Exception("Error reading data");
  xmlbin::TStrXmlReader reader(bytes.substr(kBinaryXmlSignature.size()));
  xmlbin::ReadDocument(reader, *this);
}

void TXmlDocument::SaveBinaryToStream(TStream& stream, int options) {
  xmlbin::TStmXmlWriter writer(stream, uint32_t(options));
  writer.Write(kBinaryXmlSignature.data(), kBinaryXmlSignature.size());
  unsigned char opt[4];
  for (int i = 0; i < 4; ++i) opt[i] = static_cast<unsigned char>(uint32_t(options) >> (8 * i));
  writer.Write(opt, 4);
  xmlbin::WriteDocument(writer, *this);
  writer.Flush();
}

std::string TXmlDocument::GetBinaryXml() {
  xmlbin::TStrXmlWriter writer(0);
  writer.Write(kBinaryXmlSignature.data(), kBinaryXmlSignature.size());
  const unsigned char opt[4] = {0, 0, 0, 0};
  writer.Write(opt, 4);
  xmlbin::WriteDocument(writer, *this);
  return writer.Finish();
}
