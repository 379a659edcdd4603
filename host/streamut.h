// streamut: the host's memory stream (grows by half again) and the reference-
// counted stream owner used to write channel messages.
#pragma once

#include <cstdint>
#include <memory>

#include "xml/stream.h"

namespace streamut {

// A memory stream that, once it holds data, grows to the requested capacity plus
// half of it, so that a stream filled piece by piece is reallocated rarely.
class TMemoryStream : public ::TMemoryStream {
 protected:
  int64_t Realloc(int64_t newCapacity) override;
};

class ITempStream {
 public:
  virtual ~ITempStream() = default;
  // The wrapped stream at its current position.
  virtual TStream& GetStream() = 0;
  // The wrapped stream positioned at 0.
  virtual TStream& GetStreamFromStart() = 0;
  // The raw memory of the wrapped stream; it must be a streamut memory stream,
  // else Exception "TTempStream.RAWPTR: unable to load RAWPTR".
  virtual void* RAWPTR() = 0;
};

using ITempStreamRef = std::shared_ptr<ITempStream>;

// Owns one stream and frees it with the last reference.
class TTempStream : public ITempStream {
 public:
  // When size is not -1 the stream's size is set to it.
  TTempStream(std::unique_ptr<TStream> stream, int64_t size);
  TStream& GetStream() override { return *FStream; }
  TStream& GetStreamFromStart() override;
  void* RAWPTR() override;

  static ITempStreamRef Create(std::unique_ptr<TStream> stream, int64_t size) {
    return std::make_shared<TTempStream>(std::move(stream), size);
  }

 private:
  std::unique_ptr<TStream> FStream;
};

}  // namespace streamut
