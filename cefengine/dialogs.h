// The page's JavaScript dialogs and its question before it is left. The delegate
// decides on the main thread; what it leaves is answered at once with the default
// and reported as a console text, so that no dialog holds the page. Sequence only.
#pragma once
#include <string>

#include "devtools.h"
#include "dialog_reply.h"
#include "session.h"

namespace cefeng {

// The console text that reports a dialog nobody answered, e.g. "alert: Card declined".
std::string DialogConsoleText(const DialogInfo& info);
// Page.javascriptDialogOpening's parameters; false for a dialog type not known.
bool DialogFrom(const json& params, DialogInfo& out);

class Dialogs {
 public:
  explicit Dialogs(Session& session) : session_(session) {}
  // True when the event was a dialog's.
  bool HandleEvent(const std::string& method, const json& params);

 private:
  void Opened(const json& params);

  Session& session_;
};

}  // namespace cefeng
