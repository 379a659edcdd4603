// What a misbehaving page may not do to the view: close it, download into the
// working folder, open a file chooser, or wait for credentials. Sequence only.
#pragma once
#include <string>

#include "devtools.h"
#include "session.h"

namespace cefeng {

// The page set-up that keeps the view: window.close() is reported instead of closing
// the page, downloads are refused, file choosers are taken over (and so never open),
// and the page's pop-up widgets are drawn inside it (widgets.h).
void SendPageGuardSetUp(DevToolsPipe& pipe, const std::string& sessionId);

class PageGuard {
 public:
  explicit PageGuard(Session& session) : session_(session) {}
  // True when the event was the guard's.
  bool HandleEvent(const std::string& method, const json& params);
  // Runs go once the page's script answers; a page whose script does not answer
  // within a second has it ended first, so that a script that never ends cannot keep
  // the next page out.
  void WhenResponsive(Task go);

 private:
  Session& session_;
};

}  // namespace cefeng
