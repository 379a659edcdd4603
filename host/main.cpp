// pv7host: the browser process started by the parent application, and every
// engine sub-process started by the engine.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "engine/cefintrk.h"
#include "host/mainform.h"
#include "host/switches.h"
#include "host/testwindow.h"
#include "platform/gtkui.h"
#include "platform/mainloop.h"
#include "xml/exception.h"

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
      Application.ShowMainForm = GetSwitchInt("showSelf", 1) == 1;
      Application.Title = kApplicationTitle;
      // The window is made with the form's components; only a shown host opens the
      // display, so a hidden one never touches it. Without a display the start-up
      // fails like any other, after one line on standard error.
      FormViewFactory = [](TMainform& form) -> std::unique_ptr<IFormView> {
        std::string error;
        if (!platform::gui::OpenDisplay(&error)) {
          std::fprintf(stderr, "pv7host: %s\n", error.c_str());
          throw Exception(error);
        }
        return std::make_unique<TTestWindow>(form);
      };
      TMainform form;
      form.Show();
      platform::RunMainLoop();
    } catch (...) {
      // Any start-up failure (for instance nobody listening on drawPort) ends the
      // host silently with status 0.
    }
  }
  StopEngine();
  return 0;
}
