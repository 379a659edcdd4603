// The text sink the serializer writes through.
#pragma once

#include <string_view>

#include "xml/xmlSimple.h"

class TXmlSaver {
 public:
  virtual ~TXmlSaver() = default;
  virtual void Write(std::string_view text) = 0;
  virtual void Flush() = 0;

  // Layout state of the node being written.
  bool formatted = true;
  int depth = 0;
};

// Writes to a stream through a fixed buffer, converting each piece from the ANSI
// code page to the output code page; flushes on destruction.
class TXmlStmSaver : public TXmlSaver {
 public:
  static constexpr int kBufferSize = 4096;
  static constexpr int kPiece = kBufferSize / 3;  // one ANSI character: at most 3 bytes

  TXmlStmSaver(TStream& stream, unsigned codePage) : FStream(stream), FCodePage(codePage) {}
  ~TXmlStmSaver() override;
  void Write(std::string_view text) override;
  void Flush() override;

 private:
  void WritePiece(std::string_view piece);

  TStream& FStream;
  unsigned FCodePage;
  int FUsed = 0;
  char FBuffer[kBufferSize];
  char16_t FWide[kPiece];
};
