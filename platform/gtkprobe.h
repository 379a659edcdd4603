// What a test of the desktop window needs from the outside: an X server of its own,
// programs run with their output read back, a window captured to PNG, and the
// window manager's close request sent to a window.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform::gui {

// Sets (or with an empty value removes) a variable of this process's environment,
// which child processes inherit.
void SetEnvironment(const std::string& name, const std::string& value);

struct TRunResult {
  int Status = -1;     // exit status; 128 + signal when killed; -1 when it could not start
  std::string Output;  // standard output and standard error (at most 1 MB is kept)
};

// Runs `argv[0]` (searched in PATH) with the arguments and waits for it, at most
// timeoutMs; a program still running then is killed.
TRunResult RunProgram(const std::vector<std::string>& argv, int timeoutMs);

// A helper program (an X server) that ends with this process: it gets SIGTERM when
// the test ends in any way, also when it is killed.
class TTiedProcess {
 public:
  // Starts argv[0] (a full path) with the arguments; raises Exception on failure.
  explicit TTiedProcess(const std::vector<std::string>& argv);
  ~TTiedProcess();  // SIGTERM, then SIGKILL when it has not ended within 5 s
  TTiedProcess(const TTiedProcess&) = delete;
  TTiedProcess& operator=(const TTiedProcess&) = delete;
  bool Running();

 private:
  int FPid = -1;
  bool FEnded = false;
};

// The full path of an executable of this name found in PATH; empty when none.
std::string FindProgram(const std::string& name);

// Whether an X server answers on the display.
bool DisplayAnswers(const std::string& display);

// Sends WM_DELETE_WINDOW to the X window on the display, as a window manager's
// close button does. Raises Exception when the display cannot be opened.
void RequestWindowClose(const std::string& display, unsigned long window);

// Writes what the X window shows now into a PNG file. Raises Exception on failure.
void CaptureWindowPng(const std::string& display, unsigned long window, const std::string& path);

}  // namespace platform::gui
