// The engine's cache and user-data folders of this host. Several hosts may share
// one working directory: each takes the first pair of folders that no other live
// host holds ("cache" and "userdata", then "cache-2" and "userdata-2", ...), so a
// pair that becomes free is reused with its cookies. A working directory that
// cannot hold them moves them to a private folder of this user.
#pragma once

#include <string>

#include "base/exception.h"

// No pair of engine folders could be had anywhere.
class EEngineFolders : public Exception {
 public:
  using Exception::Exception;
};

struct TEngineFolders {
  std::string cache;
  std::string userData;
  // What the host says on standard error about its choice; empty for the
  // configured folders in the working directory.
  std::string note;
};

// Chooses and locks the folders (held until the process ends). Raises EEngineFolders.
TEngineFolders ChooseEngineFolders(const std::string& cacheName, const std::string& userDataName);

// The browser-process set-up of the host: chooses the folders for the configured
// names, puts them into the engine settings and writes the note on standard error.
void UseEngineFolders();
