#include "capi_dialogs.h"

#include "capi_common.h"

namespace cefeng::capi {

namespace {

// The dialog's callback: cont answers once; released unanswered, it answers the
// default.
struct JsDialogCallbackObj : Counted<cef_jsdialog_callback_t, JsDialogCallbackObj> {
  DialogAnswer reply;
  explicit JsDialogCallbackObj(DialogAnswer r) : reply(std::move(r)) {
    c.cont = [](cef_jsdialog_callback_t* s, int success, const cef_string_t* input) {
      From(s)->reply->Answer(success != 0, ToUtf8(input));
    };
  }
  ~JsDialogCallbackObj() { reply->Default(); }
};

cef_jsdialog_type_t EngineType(DialogInfo::Type t) {
  if (t == DialogInfo::kConfirm) return JSDIALOGTYPE_CONFIRM;
  if (t == DialogInfo::kPrompt) return JSDIALOGTYPE_PROMPT;
  return JSDIALOGTYPE_ALERT;
}

}  // namespace

bool AskJsDialog(cef_jsdialog_handler_t* h, cef_browser_t* browser, const DialogInfo& info,
                 DialogAnswer reply) {
  View message(info.message);
  if (info.type == DialogInfo::kBeforeUnload) {
    if (!h->on_before_unload_dialog) {
      CefRelease(browser);
      return false;
    }
    auto* cb = new JsDialogCallbackObj(std::move(reply));
    return h->on_before_unload_dialog(h, browser, message.get(), 0, cb->Handle()) != 0;
  }
  if (!h->on_jsdialog) {
    CefRelease(browser);
    return false;
  }
  View origin(info.url), lang{std::string()}, preset(info.defaultText);
  auto* cb = new JsDialogCallbackObj(std::move(reply));
  int suppress = 0;
  return h->on_jsdialog(h, browser, origin.get(), lang.get(), EngineType(info.type), message.get(),
                        preset.get(), cb->Handle(), &suppress) != 0;
}

void TellDialogClosed(cef_jsdialog_handler_t* h, cef_browser_t* browser) {
  if (h->on_dialog_closed)
    h->on_dialog_closed(h, browser);
  else
    CefRelease(browser);
}

}  // namespace cefeng::capi
