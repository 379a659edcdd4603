// Readers and writers of the binary form: buffered stream and byte-string
// variants, the compact integer, strings and typed values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xmlSimple.h"

namespace xmlbin {

// Deepest element nesting the binary reader accepts.
inline constexpr int kMaxBinaryDepth = 1000;

class TBinXmlReader {
 public:
  explicit TBinXmlReader(uint32_t options = 0) : FOptions(options) {}
  virtual ~TBinXmlReader() = default;
  // Reads exactly n bytes; raises "Error reading data" when fewer remain.
  virtual void Read(void* buffer, size_t n) = 0;
  // Bytes not read yet (bounds every count read from the input).
  virtual uint64_t Remaining() const = 0;

  uint32_t Options() const { return FOptions; }
  void SetOptions(uint32_t options) { FOptions = options; }

  uint8_t ReadByte();
  int32_t ReadCompact();
  // A count that the remaining bytes can hold at `unitSize` bytes per item.
  size_t ReadCount(size_t unitSize);
  std::string ReadString();  // by the options word; returned in the ANSI code page
  TXmlVariant ReadValue();

 private:
  uint32_t FOptions;
};

class TStmXmlReader final : public TBinXmlReader {
 public:
  explicit TStmXmlReader(TStream& stream, uint32_t options = 0);
  void Read(void* buffer, size_t n) override;
  uint64_t Remaining() const override { return FRemaining + (FEnd - FPos); }

 private:
  TStream& FStream;
  uint64_t FRemaining;  // in the stream, beyond the buffer
  std::vector<char> FBuffer;
  size_t FPos = 0, FEnd = 0;
};

class TStrXmlReader final : public TBinXmlReader {
 public:
  explicit TStrXmlReader(std::string_view bytes, uint32_t options = 0)
      : TBinXmlReader(options), FData(bytes) {}
  void Read(void* buffer, size_t n) override;
  uint64_t Remaining() const override { return FData.size() - FPos; }

 private:
  std::string_view FData;
  size_t FPos = 0;
};

class TBinXmlWriter {
 public:
  explicit TBinXmlWriter(uint32_t options = 0) : FOptions(options) {}
  virtual ~TBinXmlWriter() = default;
  virtual void Write(const void* buffer, size_t n) = 0;

  uint32_t Options() const { return FOptions; }
  void WriteByte(uint8_t b) { Write(&b, 1); }
  void WriteCompact(int32_t v);
  void WriteString(std::string_view ansi);
  // Raises "Unknown data type in variant" for a type outside the format.
  void WriteValue(const TXmlVariant& v);

 private:
  uint32_t FOptions;
};

class TStmXmlWriter final : public TBinXmlWriter {
 public:
  explicit TStmXmlWriter(TStream& stream, uint32_t options = 0);
  ~TStmXmlWriter() override;  // flushes what is buffered
  void Write(const void* buffer, size_t n) override;
  void Flush();

 private:
  TStream& FStream;
  std::vector<char> FBuffer;
  size_t FUsed = 0;
};

class TStrXmlWriter final : public TBinXmlWriter {
 public:
  explicit TStrXmlWriter(uint32_t options = 0);
  void Write(const void* buffer, size_t n) override;
  // The bytes written; the writer is finished.
  std::string Finish();

 private:
  std::string FData;
  size_t FUsed = 0;
};

// The document's name section and body.
void WriteDocument(TBinXmlWriter& w, const TXmlDocument& doc);
void ReadDocument(TBinXmlReader& r, TXmlDocument& doc);

}  // namespace xmlbin
