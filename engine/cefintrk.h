// Engine configuration, start-up in both process roles, and shutdown.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cefapi/cef_capi.h"
#include "engine/cefbase.h"
#include "engine/cefload.h"

// The process-wide engine settings defaults, copied into cef_settings_t by StartEngine.
struct TCefSettingsDefaults {
  bool single_process = true;  // the engine runtime's own default
  bool no_sandbox = false;
  std::u16string browser_subprocess_path;
  bool windowless_rendering_enabled = false;
  bool command_line_args_disabled = false;
  std::u16string cache_path;
  std::u16string user_data_path;
  bool persist_session_cookies = false;
  std::u16string user_agent;
  std::u16string product_version;
  std::u16string locale;
  std::u16string log_file;
  cef_log_severity_t log_severity = LOGSEVERITY_DISABLE;
  std::u16string javascript_flags;
  std::u16string resources_dir_path;
  std::u16string locales_dir_path;
  bool pack_loading_disabled = false;
  int remote_debugging_port = 0;
  int uncaught_exception_stack_size = 0;
  int context_safety_implementation = 0;
  bool ignore_certificate_errors = false;
  cef_color_t background_color = 0;
  std::u16string accept_language_list;
};
TCefSettingsDefaults& CefSettingsDefaults();
// The record StartEngine passes: views of the defaults' strings.
cef_settings_t FillCefSettings(const TCefSettingsDefaults& d);

// The browser-process handler: hands the draw port to every sub-process.
class TCEFBrowseHanldler : public TCefBaseOwn {
 public:
  TCEFBrowseHanldler();
  virtual void OnContextInitialized() {}
  virtual void OnBeforeChildProcessLaunch(cef_command_line_t* commandLine);
  virtual void OnRenderProcessThreadCreated(cef_list_value_t*) {}
};

// The render-process handler: registers the JavaScript extension.
class TCEFRenderHandler : public TCefBaseOwn {
 public:
  TCEFRenderHandler();
  virtual void OnRenderThreadCreated(cef_list_value_t*) {}
  virtual void OnWebKitInitialized();
};

using TCommandLineProc = void (*)(const std::u16string& processType, cef_command_line_t* cmd);
using TRegisterSchemesProc = void (*)(cef_scheme_registrar_t* registrar);

// The application object, one per process.
class TInternalApp : public TCefBaseOwn {
 public:
  TInternalApp();
  virtual void OnBeforeCommandLineProcessing(const std::u16string& processType,
                                             cef_command_line_t* commandLine);
  virtual void OnRegisterCustomSchemes(cef_scheme_registrar_t* registrar);
  virtual cef_resource_bundle_handler_t* GetResourceBundleHandler();
  virtual cef_browser_process_handler_t* GetBrowserProcessHandler();
  virtual cef_render_process_handler_t* GetRenderProcessHandler();
};

// Registers the scheme "local" (standard, local, not display-isolated).
void RegisterLocalScheme(cef_scheme_registrar_t* registrar);

// The registration OnWebKitInitialized runs in render processes; none set means
// the JavaScript bridge's TPV7APIv1CEFExtension::RegisterExtension.
using TRegisterExtensionProc = bool (*)();
void SetRegisterExtensionProc(TRegisterExtensionProc proc);

// The engine library is loaded but the engine could not be initialised (Chromium
// could not start, or ended during start-up).
class EEngineStartError : public ECefException {
 public:
  using ECefException::ECefException;
};

// Runs in the browser process only, once its role is known and before the engine
// is initialised; it may change the settings defaults (the engine folders) and
// raise to fail the start. None is set by default.
using TBrowserProcessSetupProc = void (*)();
void SetBrowserProcessSetup(TBrowserProcessSetupProc proc);

// Sets the defaults, the process handlers and the scheme callback. Every process runs it first.
void ConfigureEngine();
// Loads the engine and decides the role: false in an engine sub-process whose
// work is over (the program then ends with status 0), true in the browser
// process with the engine initialised. A later call with the library loaded
// returns true at once. Raises Exception / ECefException when the library
// cannot be loaded or lacks an entry point, EEngineStartError when the engine
// reports that it could not be initialised.
bool StartEngine(int argc, char** argv);
// The form used by the engine runtime itself once the library is loaded.
bool StartEngine();
// Program end: cef_shutdown when initialised here, releases the library, then
// the settings strings and the handlers.
void StopEngine();
bool EngineInitialised();

// The arguments of this process (argv[1..]) for the engine's switch lookups.
void SetEngineArguments(int argc, char** argv);
void SetEngineArguments(std::vector<std::string> args);
// Switch reader: separator "=", switch characters "-/", any letter case, trimmed.
// For each argument in order: one leading switch character removed, the name
// is the part before the first "="; the first match gives the text after the
// first "=" (the whole argument when it has none). "" when none matches.
std::string EngineSwitchValue(std::string_view name);
// The draw port of this process: drawPort, then -drawPort (the engine's
// --drawPort form); -1 when absent or not a number.
int GetDrawPort();
