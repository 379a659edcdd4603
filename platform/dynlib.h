// Loading a shared library by file name and resolving its functions by name.
#pragma once

#include <string>

namespace platform {

struct DynLibError {
  int code = 0;         // the system's error number, 0 when it gave none
  std::string message;  // the loader's own text
};

using DynLibHandle = void*;

// Loads `fileName` from the running executable's folder when it exists there,
// else through the loader's standard search. Null on failure, with `error` filled.
DynLibHandle LoadDynLib(const std::string& fileName, DynLibError& error);
// Loads exactly `path` (no folder search).
DynLibHandle LoadDynLibPath(const std::string& path, DynLibError& error);
// The address of `name`, null when the library does not export it.
void* ResolveDynLibSymbol(DynLibHandle lib, const char* name);
void FreeDynLib(DynLibHandle lib);

// The folder of the running executable (from /proc/self/exe), without the trailing '/'.
std::string ExecutableDirectory();

}  // namespace platform

namespace platform {
// Masks every floating-point exception class for the rest of the process's life.
void MaskFloatingPointExceptions();
}  // namespace platform
