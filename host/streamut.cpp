#include "host/streamut.h"

#include "xml/exception.h"

namespace streamut {

int64_t TMemoryStream::Realloc(int64_t newCapacity) {
  if (GetSize() > 0 && newCapacity > Capacity()) newCapacity += newCapacity / 2;
  return ::TMemoryStream::Realloc(newCapacity);
}

TTempStream::TTempStream(std::unique_ptr<TStream> stream, int64_t size)
    : FStream(std::move(stream)) {
  if (size != -1) FStream->SetSize(size);
}

TStream& TTempStream::GetStreamFromStart() {
  FStream->SetPosition(0);
  return *FStream;
}

void* TTempStream::RAWPTR() {
  auto* memory = dynamic_cast<TMemoryStream*>(FStream.get());
  if (!memory) throw Exception("TTempStream.RAWPTR: unable to load RAWPTR");
  return memory->Memory();
}

}  // namespace streamut
