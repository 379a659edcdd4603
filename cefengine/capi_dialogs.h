// The client's jsdialog handler asked about a page's dialog.
#pragma once
#include "cefapi/cef_capi.h"
#include "core.h"

namespace cefeng::capi {

// Hands the dialog to the handler's on_jsdialog (or on_before_unload_dialog) with a
// callback over reply; true when the handler keeps it. browser is a new reference,
// given to the handler or released here.
bool AskJsDialog(cef_jsdialog_handler_t* h, cef_browser_t* browser, const DialogInfo& info,
                 DialogAnswer reply);
void TellDialogClosed(cef_jsdialog_handler_t* h, cef_browser_t* browser);

}  // namespace cefeng::capi
