#include "engine/enginefolders.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "engine/cefintrk.h"
#include "platform/files.h"

namespace {

constexpr int kMaxFolderPairs = 64;
constexpr const char* kLockFileName = "pv7host.lock";

// Held for the rest of the process: the lock that makes the folders this host's.
std::optional<platform::FileLock>& HeldLock() {
  static std::optional<platform::FileLock> lock;
  return lock;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string Join(const std::string& base, const std::string& name) {
  return base.empty() ? name : base + "/" + name;
}

// Locks the first free pair under `base` ("" is the working directory). False with
// the reason the configured pair could not be had when none can.
bool LockFreePair(const std::string& base, const std::string& cacheName,
                  const std::string& userDataName, TEngineFolders& out, std::string& why) {
  std::string first;
  for (int n = 1; n <= kMaxFolderPairs; ++n) {
    std::string suffix;  // appended: GCC 12 at -O3 misreads "-" + temporary as an overlap
    if (n > 1) suffix.append(1, '-').append(std::to_string(n));
    const std::string userData = Join(base, userDataName + suffix);
    const std::string cache = Join(base, cacheName + suffix);
    std::string reason = "every pair of engine folders is in use";
    std::optional<platform::FileLock> lock;
    if (platform::MakeFolder(userData, reason) &&
        platform::FileLock::TryLock(userData + "/" + kLockFileName, lock, reason) ==
            platform::FileLock::Result::Locked &&
        platform::MakeFolder(cache, reason)) {
      HeldLock() = std::move(lock);
      out.cache = cache;
      out.userData = userData;
      return true;
    }
    if (first.empty()) first = reason;
  }
  why = first;
  return false;
}

// The private folder for a working directory that cannot hold the engine folders:
// under $XDG_RUNTIME_DIR when it is set, else under the temporary directory.
bool PrivateBase(std::string& base, std::string& where, std::string& why) {
  const std::string runtime = platform::GetEnvironment("XDG_RUNTIME_DIR");
  if (!runtime.empty() && runtime.front() == '/') {
    base = runtime + "/pv7host";
    where = "$XDG_RUNTIME_DIR";
    if (platform::MakePrivateFolder(base, why)) return true;
  }
  base = platform::TempDirectory() + "/pv7host-" + std::to_string(platform::CurrentUserId());
  where = "the temporary directory";
  return platform::MakePrivateFolder(base, why);
}

}  // namespace

TEngineFolders ChooseEngineFolders(const std::string& cacheName, const std::string& userDataName) {
  TEngineFolders folders;
  std::string why;
  if (LockFreePair("", cacheName, userDataName, folders, why)) {
    if (folders.userData != userDataName)
      folders.note = Quoted(cacheName) + " and " + Quoted(userDataName) +
                     " are in use by another host; this host uses " + Quoted(folders.cache) +
                     " and " + Quoted(folders.userData);
    return folders;
  }
  const std::string inWorkingDir = why;
  std::string base, where;
  if (!PrivateBase(base, where, why) || !LockFreePair(base, cacheName, userDataName, folders, why))
    throw EEngineFolders("no engine folders: " + inWorkingDir + "; " + why);
  folders.note = "the working directory cannot hold the engine folders (" + inWorkingDir +
                 "); this host uses " + Quoted(folders.cache) + " and " + Quoted(folders.userData) +
                 " under " + where;
  return folders;
}

void UseEngineFolders() {
  TCefSettingsDefaults& d = CefSettingsDefaults();
  TEngineFolders folders = ChooseEngineFolders(U16ToUtf8(d.cache_path), U16ToUtf8(d.user_data_path));
  d.cache_path = Utf8ToU16(folders.cache);
  d.user_data_path = Utf8ToU16(folders.userData);
  if (!folders.note.empty()) std::fprintf(stderr, "pv7host: %s\n", folders.note.c_str());
}
