// How a start-up of the browser process fails: the exit status of each failure
// (the README lists them) and the exception that carries it to main().
#pragma once

#include <string>

#include "xml/exception.h"

enum TExitStatus : int {
  kExitOk = 0,
  kExitParentEnded = 1,        // the parent process has ended (or never ran)
  kExitNoDisplay = 2,          // a shown host without a display
  kExitNoParentListening = 3,  // nobody accepts on drawPort
  kExitEngineLibrary = 4,      // the engine library cannot be loaded
  kExitEngineStart = 5,        // Chromium could not start, or ended during start-up
  kExitCodePage = 6,           // PV7_CODEPAGE names no code page
  kExitEngineFolders = 7,      // no engine folders could be had
  kExitStartFailed = 8,        // any other failure during start-up
};

class EStartupFailure : public Exception {
 public:
  EStartupFailure(int status, std::string message)
      : Exception(std::move(message)), FStatus(status) {}
  int Status() const { return FStatus; }

 private:
  int FStatus;
};
