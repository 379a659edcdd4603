#include "engine/cefintrk.h"

#include <cctype>
#include <charconv>

#include "engine/cefextPV7APIv1.h"
#include "platform/dynlib.h"

namespace {

struct TEngineState {
  TOwnRef<TCEFBrowseHanldler> browserHandler;
  TOwnRef<TCEFRenderHandler> renderHandler;
  TOwnRef<TInternalApp> app;
  TCommandLineProc commandLineProc = nullptr;
  TRegisterSchemesProc schemeProc = nullptr;
  TRegisterExtensionProc extensionProc = nullptr;
  TBrowserProcessSetupProc setupProc = nullptr;
  bool initialised = false;
  std::vector<std::string> args;
  std::string program = "pv7host";
};

TEngineState& State() {
  static TEngineState s;
  return s;
}

cef_string_t View(const std::u16string& s) { return CefStringView(s); }

std::string_view TrimControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

int SwitchInt(std::string_view name) {
  const std::string text = EngineSwitchValue(name);
  std::string_view t = text;
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  int value = -1;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || ec != std::errc() || ptr != t.data() + t.size()) return -1;
  return value;
}

// --- engine callbacks -------------------------------------------------------

void CEF_CALLBACK bph_on_context_initialized(cef_browser_process_handler_t* self) {
  TCefBaseOwn::Owner<TCEFBrowseHanldler>(self)->OnContextInitialized();
}
void CEF_CALLBACK bph_on_before_child_process_launch(cef_browser_process_handler_t* self,
                                                     cef_command_line_t* cmd) {
  TCefRef<cef_command_line_t> ref = TCefRef<cef_command_line_t>::Adopt(cmd);
  TCefBaseOwn::Owner<TCEFBrowseHanldler>(self)->OnBeforeChildProcessLaunch(cmd);
}
void CEF_CALLBACK bph_on_render_process_thread_created(cef_browser_process_handler_t* self,
                                                       cef_list_value_t* extra) {
  TCefRef<cef_list_value_t> ref = TCefRef<cef_list_value_t>::Adopt(extra);
  TCefBaseOwn::Owner<TCEFBrowseHanldler>(self)->OnRenderProcessThreadCreated(extra);
}

void CEF_CALLBACK rph_on_render_thread_created(cef_render_process_handler_t* self,
                                               cef_list_value_t* extra) {
  TCefRef<cef_list_value_t> ref = TCefRef<cef_list_value_t>::Adopt(extra);
  TCefBaseOwn::Owner<TCEFRenderHandler>(self)->OnRenderThreadCreated(extra);
}
void CEF_CALLBACK rph_on_web_kit_initialized(cef_render_process_handler_t* self) {
  TCefBaseOwn::Owner<TCEFRenderHandler>(self)->OnWebKitInitialized();
}
// The remaining render-process notifications do nothing and report "not handled".
void CEF_CALLBACK rph_browser(cef_render_process_handler_t*, cef_browser_t* b) {
  TCefRef<cef_browser_t>::Adopt(b);
}
cef_load_handler_t* CEF_CALLBACK rph_get_load_handler(cef_render_process_handler_t*) {
  return nullptr;
}
int CEF_CALLBACK rph_on_before_navigation(cef_render_process_handler_t*, cef_browser_t* b,
                                          cef_frame_t* f, cef_request_t* r,
                                          cef_navigation_type_t, int) {
  TCefRef<cef_browser_t>::Adopt(b);
  TCefRef<cef_frame_t>::Adopt(f);
  TCefRef<cef_request_t>::Adopt(r);
  return 0;
}
void CEF_CALLBACK rph_context(cef_render_process_handler_t*, cef_browser_t* b, cef_frame_t* f,
                              cef_v8context_t* c) {
  TCefRef<cef_browser_t>::Adopt(b);
  TCefRef<cef_frame_t>::Adopt(f);
  TCefRef<cef_v8context_t>::Adopt(c);
}
void CEF_CALLBACK rph_on_uncaught_exception(cef_render_process_handler_t*, cef_browser_t* b,
                                            cef_frame_t* f, cef_v8context_t* c,
                                            cef_v8exception_t* e, cef_v8stack_trace_t* t) {
  TCefRef<cef_browser_t>::Adopt(b);
  TCefRef<cef_frame_t>::Adopt(f);
  TCefRef<cef_v8context_t>::Adopt(c);
  TCefRef<cef_v8exception_t>::Adopt(e);
  TCefRef<cef_v8stack_trace_t>::Adopt(t);
}
void CEF_CALLBACK rph_on_focused_node_changed(cef_render_process_handler_t*, cef_browser_t* b,
                                              cef_frame_t* f, cef_domnode_t* n) {
  TCefRef<cef_browser_t>::Adopt(b);
  TCefRef<cef_frame_t>::Adopt(f);
  TCefRef<cef_domnode_t>::Adopt(n);
}
int CEF_CALLBACK rph_on_process_message_received(cef_render_process_handler_t*, cef_browser_t* b,
                                                 cef_process_id_t, cef_process_message_t* m) {
  TCefRef<cef_browser_t>::Adopt(b);
  TCefRef<cef_process_message_t>::Adopt(m);
  return 0;
}

void CEF_CALLBACK app_on_before_command_line_processing(cef_app_t* self, const cef_string_t* type,
                                                        cef_command_line_t* cmd) {
  TCefRef<cef_command_line_t> ref = TCefRef<cef_command_line_t>::Adopt(cmd);
  TCefBaseOwn::Owner<TInternalApp>(self)->OnBeforeCommandLineProcessing(CefString(type), cmd);
}
void CEF_CALLBACK app_on_register_custom_schemes(cef_app_t* self, cef_scheme_registrar_t* reg) {
  TCefRef<cef_scheme_registrar_t> ref = TCefRef<cef_scheme_registrar_t>::Adopt(reg);
  TCefBaseOwn::Owner<TInternalApp>(self)->OnRegisterCustomSchemes(reg);
}
cef_resource_bundle_handler_t* CEF_CALLBACK app_get_resource_bundle_handler(cef_app_t* self) {
  return TCefBaseOwn::Owner<TInternalApp>(self)->GetResourceBundleHandler();
}
cef_browser_process_handler_t* CEF_CALLBACK app_get_browser_process_handler(cef_app_t* self) {
  return TCefBaseOwn::Owner<TInternalApp>(self)->GetBrowserProcessHandler();
}
cef_render_process_handler_t* CEF_CALLBACK app_get_render_process_handler(cef_app_t* self) {
  return TCefBaseOwn::Owner<TInternalApp>(self)->GetRenderProcessHandler();
}

}  // namespace

// --- settings ------------------------------------------------------------------

TCefSettingsDefaults& CefSettingsDefaults() {
  static TCefSettingsDefaults d;
  return d;
}

cef_settings_t FillCefSettings(const TCefSettingsDefaults& d) {
  cef_settings_t s{};
  s.size = sizeof(cef_settings_t);
  s.single_process = d.single_process ? 1 : 0;
  s.no_sandbox = d.no_sandbox ? 1 : 0;
  s.browser_subprocess_path = View(d.browser_subprocess_path);
  s.multi_threaded_message_loop = 0;
  s.windowless_rendering_enabled = d.windowless_rendering_enabled ? 1 : 0;
  s.command_line_args_disabled = d.command_line_args_disabled ? 1 : 0;
  s.cache_path = View(d.cache_path);
  s.user_data_path = View(d.user_data_path);
  s.persist_session_cookies = d.persist_session_cookies ? 1 : 0;
  s.user_agent = View(d.user_agent);
  s.product_version = View(d.product_version);
  s.locale = View(d.locale);
  s.log_file = View(d.log_file);
  s.log_severity = d.log_severity;
  s.javascript_flags = View(d.javascript_flags);
  s.resources_dir_path = View(d.resources_dir_path);
  s.locales_dir_path = View(d.locales_dir_path);
  s.pack_loading_disabled = d.pack_loading_disabled ? 1 : 0;
  s.remote_debugging_port = d.remote_debugging_port;
  s.uncaught_exception_stack_size = d.uncaught_exception_stack_size;
  s.context_safety_implementation = d.context_safety_implementation;
  s.ignore_certificate_errors = d.ignore_certificate_errors ? 1 : 0;
  s.background_color = d.background_color;
  s.accept_language_list = View(d.accept_language_list);
  return s;
}

// --- handlers ------------------------------------------------------------------

TCEFBrowseHanldler::TCEFBrowseHanldler() : TCefBaseOwn(sizeof(cef_browser_process_handler_t)) {
  auto* t = Data<cef_browser_process_handler_t>();
  t->on_context_initialized = bph_on_context_initialized;
  t->on_before_child_process_launch = bph_on_before_child_process_launch;
  t->on_render_process_thread_created = bph_on_render_process_thread_created;
}

void TCEFBrowseHanldler::OnBeforeChildProcessLaunch(cef_command_line_t* commandLine) {
  if (!commandLine || !commandLine->get_switch_value || !commandLine->append_switch_with_value)
    return;
  const std::u16string name = u"drawPort";
  const cef_string_t nameView = View(name);
  const std::u16string present = CefStringClaim(commandLine->get_switch_value(commandLine, &nameView));
  if (!present.empty()) return;
  const std::u16string port = Utf8ToU16(std::to_string(GetDrawPort()));
  const cef_string_t portView = View(port);
  commandLine->append_switch_with_value(commandLine, &nameView, &portView);
}

TCEFRenderHandler::TCEFRenderHandler() : TCefBaseOwn(sizeof(cef_render_process_handler_t)) {
  auto* t = Data<cef_render_process_handler_t>();
  t->on_render_thread_created = rph_on_render_thread_created;
  t->on_web_kit_initialized = rph_on_web_kit_initialized;
  t->on_browser_created = rph_browser;
  t->on_browser_destroyed = rph_browser;
  t->get_load_handler = rph_get_load_handler;
  t->on_before_navigation = rph_on_before_navigation;
  t->on_context_created = rph_context;
  t->on_context_released = rph_context;
  t->on_uncaught_exception = rph_on_uncaught_exception;
  t->on_focused_node_changed = rph_on_focused_node_changed;
  t->on_process_message_received = rph_on_process_message_received;
}

void TCEFRenderHandler::OnWebKitInitialized() {
  if (TRegisterExtensionProc proc = State().extensionProc)
    (void)proc();
  else
    (void)TPV7APIv1CEFExtension::RegisterExtension();
}

void SetRegisterExtensionProc(TRegisterExtensionProc proc) { State().extensionProc = proc; }

TInternalApp::TInternalApp() : TCefBaseOwn(sizeof(cef_app_t)) {
  auto* t = Data<cef_app_t>();
  t->on_before_command_line_processing = app_on_before_command_line_processing;
  t->on_register_custom_schemes = app_on_register_custom_schemes;
  t->get_resource_bundle_handler = app_get_resource_bundle_handler;
  t->get_browser_process_handler = app_get_browser_process_handler;
  t->get_render_process_handler = app_get_render_process_handler;
}

void TInternalApp::OnBeforeCommandLineProcessing(const std::u16string& processType,
                                                 cef_command_line_t* commandLine) {
  if (TCommandLineProc proc = State().commandLineProc) proc(processType, commandLine);
}

void TInternalApp::OnRegisterCustomSchemes(cef_scheme_registrar_t* registrar) {
  if (TRegisterSchemesProc proc = State().schemeProc) proc(registrar);
}

cef_resource_bundle_handler_t* TInternalApp::GetResourceBundleHandler() { return nullptr; }

cef_browser_process_handler_t* TInternalApp::GetBrowserProcessHandler() {
  auto& h = State().browserHandler;
  return h ? h->Share<cef_browser_process_handler_t>() : nullptr;
}

cef_render_process_handler_t* TInternalApp::GetRenderProcessHandler() {
  auto& h = State().renderHandler;
  return h ? h->Share<cef_render_process_handler_t>() : nullptr;
}

void RegisterLocalScheme(cef_scheme_registrar_t* registrar) {
  if (!registrar || !registrar->add_custom_scheme) return;
  const std::u16string name = u"local";
  const cef_string_t view = View(name);
  registrar->add_custom_scheme(registrar, &view, 1, 1, 0);
}

// --- switches --------------------------------------------------------------------

void SetEngineArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc && argv; ++i)
    if (argv[i]) args.emplace_back(argv[i]);
  SetEngineArguments(std::move(args));
}

void SetEngineArguments(std::vector<std::string> args) { State().args = std::move(args); }

std::string EngineSwitchValue(std::string_view name) {
  const std::string_view wanted = TrimControls(name);
  for (const std::string& arg : State().args) {
    std::string_view part = arg;
    if (!part.empty() && (part.front() == '-' || part.front() == '/')) part.remove_prefix(1);
    if (size_t at = part.find('='); at != std::string_view::npos) part = part.substr(0, at);
    if (!SameText(TrimControls(part), wanted)) continue;
    std::string_view value = arg;
    if (size_t at = value.find('='); at != std::string_view::npos) value = value.substr(at + 1);
    return std::string(TrimControls(value));
  }
  return {};
}

int GetDrawPort() {
  int port = SwitchInt("drawPort");
  if (port < 0) port = SwitchInt("-drawPort");
  return port;
}

// --- life cycle --------------------------------------------------------------------

void ConfigureEngine() {
  TEngineState& st = State();
  TCefSettingsDefaults& d = CefSettingsDefaults();
  d.cache_path = u"cache";
  d.single_process = false;
  st.browserHandler = new TCEFBrowseHanldler();
  st.renderHandler = new TCEFRenderHandler();
  st.schemeProc = RegisterLocalScheme;
  d.user_data_path = u"userdata";
  d.persist_session_cookies = true;
}

bool StartEngine() {
  TEngineState& st = State();
  if (CefLibraryLoaded()) return true;
  platform::MaskFloatingPointExceptions();
  LoadEngineLibrary();
  st.app = new TInternalApp();
  // argv as the engine sees it: the program followed by the recorded arguments.
  std::vector<char*> argv;
  argv.push_back(st.program.data());
  for (std::string& a : st.args) argv.push_back(a.data());
  argv.push_back(nullptr);
  cef_main_args_t mainArgs{int(argv.size() - 1), argv.data()};
  const int code = CefLib().cef_execute_process(&mainArgs, st.app->Share<cef_app_t>(), nullptr);
  if (code >= 0) return false;
  if (st.setupProc) st.setupProc();
  const cef_settings_t settings = FillCefSettings(CefSettingsDefaults());
  // An engine that reports failure is not running: going on would give a host that
  // takes commands and never paints.
  if (!CefLib().cef_initialize(&mainArgs, &settings, st.app->Share<cef_app_t>(), nullptr))
    throw EEngineStartError("the engine could not start");
  st.initialised = true;
  return true;
}

void SetBrowserProcessSetup(TBrowserProcessSetupProc proc) { State().setupProc = proc; }

bool StartEngine(int argc, char** argv) {
  if (CefLibraryLoaded()) return true;
  SetEngineArguments(argc, argv);
  if (argc > 0 && argv && argv[0]) State().program = argv[0];
  return StartEngine();
}

void StopEngine() {
  TEngineState& st = State();
  if (CefLibraryLoaded()) {
    if (st.initialised) CefLib().cef_shutdown();
    UnloadEngineLibrary();
  }
  st.initialised = false;
  st.app.reset();
  st.browserHandler.reset();
  st.renderHandler.reset();
  CefSettingsDefaults() = TCefSettingsDefaults{};
}

bool EngineInitialised() { return State().initialised; }
