// pv7host: the browser process started by the parent application, and every
// engine sub-process started by the engine.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "engine/cefintrk.h"
#include "engine/enginefolders.h"
#include "host/mainform.h"
#include "host/startup.h"
#include "host/switches.h"
#include "host/testwindow.h"
#include "platform/codepage.h"
#include "platform/gtkui.h"
#include "platform/mainloop.h"
#include "xml/exception.h"

namespace {

// One line on standard error: line breaks inside the message become spaces.
int Fail(int status, std::string message) {
  for (char& c : message)
    if (c == '\r' || c == '\n') c = ' ';
  std::fprintf(stderr, "pv7host: %s\n", message.c_str());
  return status;
}

// Starts the engine; the process's role, or the exit status of a failure.
int StartEngineRole(int argc, char** argv, bool& browserProcess) {
  try {
    browserProcess = StartEngine(argc, argv);
    return kExitOk;
  } catch (const EEngineStartError&) {
    // The engine library has already said on standard error why Chromium did not start.
    return kExitEngineStart;
  } catch (const EEngineFolders& e) {
    return Fail(kExitEngineFolders, e.Message());
  } catch (const std::exception& e) {
    return Fail(kExitEngineLibrary, std::string("the engine library cannot be loaded: ") + e.what());
  }
}

// The browser process: the form and the main loop until the quit request.
int RunBrowserProcess() {
  try {
    Application.ShowMainForm = GetSwitchInt("showSelf", 1) == 1;
    Application.Title = kApplicationTitle;
    // The window is made with the form's components; only a shown host opens the
    // display, so a hidden one never touches it.
    FormViewFactory = [](TMainform& form) -> std::unique_ptr<IFormView> {
      std::string error;
      if (!platform::gui::OpenDisplay(&error)) throw EStartupFailure(kExitNoDisplay, error);
      return std::make_unique<TTestWindow>(form);
    };
    TMainform form;
    form.Show();
    platform::RunMainLoop();
    return kExitOk;
  } catch (const EStartupFailure& e) {
    if (e.Message().empty()) return e.Status();  // said already
    return Fail(e.Status(), e.Message());
  } catch (const std::exception& e) {
    return Fail(kExitStartFailed, std::string("start-up failed: ") + e.what());
  } catch (...) {
    return Fail(kExitStartFailed, "start-up failed");
  }
}

}  // namespace

int main(int argc, char** argv) {
  SetProcessArguments(argc, argv);
  std::string codePageError;
  if (!platform::SelectAnsiCodePageFromEnvironment(codePageError))
    return Fail(kExitCodePage, codePageError);
  ConfigureEngine();
  SetBrowserProcessSetup(UseEngineFolders);
  bool browserProcess = false;
  int status = StartEngineRole(argc, argv, browserProcess);
  if (status == kExitOk && browserProcess) status = RunBrowserProcess();
  StopEngine();
  return status;
}
