// Folders, exclusive folder locks and the environment.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The value of an environment variable; "" when unset.
std::string GetEnvironment(const char* name);

// The temporary directory: $TMPDIR when it names a folder, else /tmp.
std::string TempDirectory();

int CurrentUserId();

// The absolute form of a path relative to the working directory.
std::string AbsolutePath(const std::string& path);

// Creates a folder (mode 0700) unless it exists as a folder. False with the
// system's reason when it cannot be had.
bool MakeFolder(const std::string& path, std::string& error);

// Creates a folder that only this user can use, or checks that an existing one is
// such a folder: owned by this user, not a symbolic link, no access for others.
bool MakePrivateFolder(const std::string& path, std::string& error);

// An exclusive lock on a file, held while the object lives; the system releases
// it when the process ends in any way, so a lock that cannot be taken is held by
// a live process. Not inherited by child processes.
class FileLock {
 public:
  enum class Result { Locked, Busy, Failed };
  // Creates the file when needed and tries to lock it without waiting.
  static Result TryLock(const std::string& path, std::optional<FileLock>& lock, std::string& error);
  FileLock(FileLock&& other) noexcept : FFd(other.FFd) { other.FFd = -1; }
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

 private:
  explicit FileLock(int fd) : FFd(fd) {}
  int FFd = -1;
};

}  // namespace platform
