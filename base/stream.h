// Byte streams: the abstract stream, a growable memory stream, a read-only view
// over a string, and a file stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes up to count bytes; returns how many were written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t GetSize();
  virtual void SetSize(int64_t newSize) = 0;

  int64_t GetPosition() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }

  // Whole-buffer forms: raise EStreamError "Stream read error" / "Stream write error".
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source at its position (count 0: all of source from 0).
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream over one growable block of memory. Growth goes through Realloc so that
// a derived stream can choose its own capacity rule.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override { return FSize; }
  void SetSize(int64_t newSize) override;

  void* Memory() const { return FMemory; }
  int64_t Capacity() const { return FCapacity; }
  void SetCapacity(int64_t newCapacity);
  void Clear();
  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& target);
  std::string_view View() const { return {static_cast<const char*>(FMemory), size_t(FSize)}; }

 protected:
  // Returns the capacity to allocate for a request of newCapacity bytes.
  virtual int64_t Realloc(int64_t newCapacity);

 private:
  void* FMemory = nullptr;
  int64_t FSize = 0;
  int64_t FPosition = 0;
  int64_t FCapacity = 0;
};

// A memory stream that starts with a copy of a string; DataString gives it back.
class TStringStream : public TMemoryStream {
 public:
  explicit TStringStream(std::string_view text = {});
  std::string DataString() const { return std::string(View()); }
};

enum class TFileMode { fmOpenRead, fmCreate };

// A file on disk; opening failure raises EStreamError.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& fileName, TFileMode mode);
  ~TFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;

 private:
  std::FILE* FFile = nullptr;
};
