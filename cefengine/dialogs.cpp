#include "dialogs.h"

namespace cefeng {

std::string DialogConsoleText(const DialogInfo& info) {
  static const char* const kNames[] = {"alert", "confirm", "prompt", "beforeunload"};
  std::string text = std::string(kNames[info.type]) + ": ";
  // Chromium gives a before-unload question no text of the page's.
  if (info.type == DialogInfo::kBeforeUnload && info.message.empty()) return text + "leaving " + info.url;
  return text + info.message;
}

bool DialogFrom(const json& params, DialogInfo& out) {
  const std::string type = StringField(params, "type");
  if (type == "alert")
    out.type = DialogInfo::kAlert;
  else if (type == "confirm")
    out.type = DialogInfo::kConfirm;
  else if (type == "prompt")
    out.type = DialogInfo::kPrompt;
  else if (type == "beforeunload")
    out.type = DialogInfo::kBeforeUnload;
  else
    return false;
  out.message = StringField(params, "message");
  out.defaultText = StringField(params, "defaultPrompt");
  out.url = StringField(params, "url");
  return true;
}

bool Dialogs::HandleEvent(const std::string& method, const json& params) {
  if (method == "Page.javascriptDialogOpening") {
    Opened(params);
    return true;
  }
  if (method == "Page.javascriptDialogClosed") {
    session_.Notify([](BrowserDelegate& d) { d.OnDialogClosed(); });
    return true;
  }
  return false;
}

void Dialogs::Opened(const json& params) {
  DialogInfo info;
  // A dialog of a kind not known here would hold the page: it is dismissed.
  if (!DialogFrom(params, info)) info.type = DialogInfo::kConfirm;
  Session* session = &session_;
  Session::PostFn post = session_.Poster();
  auto reply = std::make_shared<DialogReply>(info.type, [session, post](bool accept, const std::string& text) {
    post([session, accept, text] {
      json p = {{"accept", accept}};
      if (accept && !text.empty()) p["promptText"] = text;
      session->Send("Page.handleJavaScriptDialog", std::move(p));
    });
  });
  // The reply goes with the task: if the task never runs (no delegate, or the
  // browser closed), its release answers the default.
  session_.Notify([info, reply](BrowserDelegate& d) {
    if (d.OnJsDialog(info, reply)) return;
    reply->Default();
    d.OnConsoleMessage(DialogConsoleText(info), info.url, 0);
  });
}

}  // namespace cefeng
