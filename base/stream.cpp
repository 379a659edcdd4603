#include "base/stream.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/exception.h"

int64_t TStream::GetSize() {
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  char buf[65536];
  int64_t done = 0;
  while (done < count) {
    int64_t n = count - done < int64_t(sizeof(buf)) ? count - done : int64_t(sizeof(buf));
    source.ReadBuffer(buf, n);
    WriteBuffer(buf, n);
    done += n;
  }
  return done;
}

TMemoryStream::~TMemoryStream() { std::free(FMemory); }

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || FPosition >= FSize) return 0;
  int64_t n = FSize - FPosition < count ? FSize - FPosition : count;
  std::memcpy(buffer, static_cast<char*>(FMemory) + FPosition, size_t(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0 || FPosition < 0) return 0;
  int64_t end = FPosition + count;
  if (end > FSize) {
    if (end > FCapacity) SetCapacity(end);
    FSize = end;
  }
  std::memcpy(static_cast<char*>(FMemory) + FPosition, buffer, size_t(count));
  FPosition = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::soBeginning: FPosition = offset; break;
    case TSeekOrigin::soCurrent: FPosition += offset; break;
    case TSeekOrigin::soEnd: FPosition = FSize + offset; break;
  }
  return FPosition;
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) newSize = 0;
  if (newSize > FCapacity) SetCapacity(newSize);
  FSize = newSize;
  if (FPosition > newSize) FPosition = newSize;
}

int64_t TMemoryStream::Realloc(int64_t newCapacity) {
  // Plain rule: round up to 8 KiB blocks.
  if (newCapacity > 0 && newCapacity != FSize) newCapacity = (newCapacity + 0x1FFF) & ~int64_t(0x1FFF);
  return newCapacity;
}

void TMemoryStream::SetCapacity(int64_t newCapacity) {
  int64_t cap = Realloc(newCapacity);
  if (cap == FCapacity) return;
  if (cap == 0) {
    std::free(FMemory);
    FMemory = nullptr;
  } else {
    void* p = std::realloc(FMemory, size_t(cap));
    if (!p) throw std::bad_alloc();
    FMemory = p;
  }
  FCapacity = cap;
}

void TMemoryStream::Clear() {
  SetCapacity(0);
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  int64_t n = source.GetSize();
  SetSize(n);
  if (n != 0) source.ReadBuffer(FMemory, n);
  FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream& target) {
  if (FSize != 0) target.WriteBuffer(FMemory, FSize);
}

TStringStream::TStringStream(std::string_view text) {
  WriteBuffer(text.data(), int64_t(text.size()));
  SetPosition(0);
}

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) {
  FFile = std::fopen(fileName.c_str(), mode == TFileMode::fmCreate ? "w+b" : "rb");
  if (!FFile) {
    throw EStreamError((mode == TFileMode::fmCreate ? "Cannot create file \"" : "Cannot open file \"") +
                       fileName + "\". " + std::strerror(errno));
  }
}

TFileStream::~TFileStream() {
  if (FFile) std::fclose(FFile);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  return int64_t(std::fread(buffer, 1, size_t(count), FFile));
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  return int64_t(std::fwrite(buffer, 1, size_t(count), FFile));
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
               : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                  : SEEK_END;
  if (std::fseek(FFile, long(offset), whence) != 0) return -1;
  return int64_t(std::ftell(FFile));
}

void TFileStream::SetSize(int64_t newSize) {
  (void)newSize;
  throw EStreamError("Stream size cannot be set on a file stream");
}
