// pv7host: the browser process started by the parent application, and every
// engine sub-process started by the engine.
#include <cstdio>
#include <exception>

#include "engine/cefintrk.h"
#include "host/mainform.h"
#include "host/switches.h"
#include "platform/mainloop.h"

int main(int argc, char** argv) {
  SetProcessArguments(argc, argv);
  ConfigureEngine();
  bool browserProcess;
  try {
    browserProcess = StartEngine(argc, argv);
  } catch (const std::exception& e) {
    // The engine cannot be loaded: report it and end before any window or connection.
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  if (browserProcess) {
    try {
      // Whether the form would be shown; the hidden host never touches a desktop.
      Application.ShowMainForm = GetSwitchInt("showSelf", 1) == 1;
      Application.Title = kApplicationTitle;
      TMainform form;
      platform::RunMainLoop();
    } catch (...) {
      // Any start-up failure (for instance nobody listening on drawPort) ends the
      // host silently with status 0.
    }
  }
  StopEngine();
  return 0;
}
