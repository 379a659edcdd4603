#include "platform/dynlib.h"

#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::string ExecutableDirectory() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, size_t(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

DynLibHandle LoadDynLibPath(const std::string& path, DynLibError& error) {
  errno = 0;
  dlerror();
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib) return lib;
  const int code = errno;
  const char* text = dlerror();
  error.code = code;
  error.message = text ? text : "";
  return nullptr;
}

DynLibHandle LoadDynLib(const std::string& fileName, DynLibError& error) {
  if (fileName.find('/') == std::string::npos) {
    const std::string beside = ExecutableDirectory() + "/" + fileName;
    struct stat st;
    if (stat(beside.c_str(), &st) == 0) return LoadDynLibPath(beside, error);
  }
  return LoadDynLibPath(fileName, error);
}

void* ResolveDynLibSymbol(DynLibHandle lib, const char* name) {
  if (!lib) return nullptr;
  dlerror();
  return dlsym(lib, name);
}

void FreeDynLib(DynLibHandle lib) {
  if (lib) dlclose(lib);
}

}  // namespace platform

#include <fenv.h>

namespace platform {
void MaskFloatingPointExceptions() { fedisableexcept(FE_ALL_EXCEPT); }
}  // namespace platform
