#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

std::string GetEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string TempDirectory() {
  const std::string dir = GetEnvironment("TMPDIR");
  struct stat st {};
  if (!dir.empty() && dir.front() == '/' && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return dir;
  return "/tmp";
}

int CurrentUserId() { return int(::getuid()); }

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  char buf[4096];
  if (!::getcwd(buf, sizeof buf)) return path;
  return std::string(buf) + "/" + path;
}

bool MakeFolder(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  const int code = errno;
  struct stat st {};
  if (code == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  error = path + ": " + std::strerror(code == EEXIST ? ENOTDIR : code);
  return false;
}

bool MakePrivateFolder(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
    error = path + ": not a private folder of this user";
    return false;
  }
  return true;
}

FileLock::Result FileLock::TryLock(const std::string& path, std::optional<FileLock>& lock,
                                   std::string& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return Result::Failed;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int code = errno;
    ::close(fd);
    if (code == EWOULDBLOCK) return Result::Busy;
    error = path + ": " + std::strerror(code);
    return Result::Failed;
  }
  lock.emplace(FileLock(fd));
  return Result::Locked;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (FFd >= 0) ::close(FFd);
    FFd = other.FFd;
    other.FFd = -1;
  }
  return *this;
}

FileLock::~FileLock() {
  if (FFd >= 0) ::close(FFd);
}

}  // namespace platform
