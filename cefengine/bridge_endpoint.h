// A browser's end of the native-function bridge: a page's call to the library's own
// address is read (its body fetched when the event does not carry it), put to the
// browser's render helper on the helper's own thread, and its answer fulfils the
// paused request. Sequence only, but for the helper's wait.
#pragma once
#include <memory>
#include <string>

#include "bridge.h"
#include "session.h"

namespace cefeng {

// Whether a paused request is a call to the library's own address.
bool IsBridgeRequest(const json& params);

class BridgeEndpoint {
 public:
  BridgeEndpoint(Session& session, std::shared_ptr<RenderHelper> helper)
      : session_(session), helper_(std::move(helper)) {}
  void Request(const json& params);

 private:
  void CallHelper(const std::string& requestId, std::string body);
  void Fulfill(const std::string& requestId, int status, const std::string& body);

  Session& session_;
  const std::shared_ptr<RenderHelper> helper_;
};

}  // namespace cefeng
