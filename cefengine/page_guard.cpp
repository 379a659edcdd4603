#include "page_guard.h"

#include "console.h"
#include "widgets.h"

namespace cefeng {

namespace {

constexpr uint64_t kBusyUs = 1000 * 1000;
constexpr const char* kCloseBinding = "__pv7WindowClose";

// Replaces window.close in every document with a report to the engine, with the
// native property's attributes, so that a page's own top-level close() still declares.
const char* kCloseScript =
    "(() => { const report = window.__pv7WindowClose; delete window.__pv7WindowClose;"
    " Object.defineProperty(window, 'close', {value: function close() { report(location.href); },"
    " writable: true, enumerable: true, configurable: true}); })();";

}  // namespace

void SendPageGuardSetUp(DevToolsPipe& pipe, const std::string& s) {
  pipe.Send("Runtime.addBinding", {{"name", kCloseBinding}}, s);
  pipe.Send("Page.addScriptToEvaluateOnNewDocument", {{"source", kCloseScript}}, s);
  SendWidgetSetUp(pipe, s);
  pipe.Send("Page.setInterceptFileChooserDialog", {{"enabled", true}}, s);
  pipe.Send("Browser.setDownloadBehavior", {{"behavior", "deny"}});  // Chromium-wide
}

bool PageGuard::HandleEvent(const std::string& method, const json& params) {
  if (method == "Runtime.bindingCalled" && StringField(params, "name") == kCloseBinding) {
    ConsoleLine line{"window.close() ignored: the view stays", StringField(params, "payload"), 0};
    session_.Notify([line](BrowserDelegate& d) { d.OnConsoleMessage(line.text, line.source, line.line); });
    return true;
  }
  if (method == "Fetch.authRequired") {
    // No credentials are given: the server's own answer (its 401 page) shows.
    session_.Send("Fetch.continueWithAuth", {{"requestId", StringField(params, "requestId")},
                                             {"authChallengeResponse", {{"response", "CancelAuth"}}}});
    return true;
  }
  if (method == "Page.fileChooserOpened") {
    ConsoleLine line{"file chooser cancelled", std::string(), 0};
    session_.Notify([line](BrowserDelegate& d) { d.OnConsoleMessage(line.text, line.source, line.line); });
    return true;
  }
  return false;
}

void PageGuard::WhenResponsive(Task go) {
  // Both paths run on the sequence; the first to come runs go.
  auto pending = std::make_shared<Task>(std::move(go));
  auto runOnce = [pending] {
    if (!*pending) return;
    Task fn = std::move(*pending);
    *pending = nullptr;
    fn();
  };
  session_.Send("Runtime.evaluate", {{"expression", "0"}, {"silent", true}},
                [runOnce](const json&, const std::string&) { runOnce(); });
  session_.PostAt(session_.NowUs() + kBusyUs, [this, pending, runOnce] {
    if (!*pending) return;
    session_.Send("Runtime.terminateExecution");
    runOnce();
  });
}

}  // namespace cefeng
