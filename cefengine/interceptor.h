// A browser's request interception: every paused request is put to the delegate and
// answered once (continued, with the headers and address as the delegate left them,
// or cancelled), at once or later from any thread. Sequence only.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "delegate.h"
#include "frame_tree.h"
#include "session.h"

namespace cefeng {

// The headers as Fetch.continueRequest takes them. Chromium keeps only the last entry
// of a name given twice, so repeated names (in any case) travel as one header whose
// values are joined by ", ", at the place of the name's first entry.
json HeaderEntries(const HeaderList& headers);

// One paused request until it is answered.
class PausedRequest {
 public:
  PausedRequest(Session& session, std::string requestId, std::shared_ptr<RequestInfo> info);
  // Sequence; only the first answer counts.
  void Answer(bool allow);
  std::shared_ptr<RequestInfo> Info() const { return info_; }

 private:
  void Continue();

  Session& session_;
  const std::string requestId_;
  std::shared_ptr<RequestInfo> info_;  // what the delegate sees and may change
  const HeaderList originalHeaders_;
  const std::string originalUrl_;
  bool answered_ = false;
};

class RequestInterceptor {
 public:
  // The delegate's question: kAnswerCancel, kAnswerContinue or kAnswerAsync (then it
  // calls the function it was given).
  using AskFn = std::function<int(std::shared_ptr<RequestInfo>, std::function<void(bool)>)>;
  RequestInterceptor(Session& session, FrameTree& frames) : session_(session), frames_(frames) {}
  void Paused(const json& params, const AskFn& ask);

 private:
  Session& session_;
  FrameTree& frames_;
};

}  // namespace cefeng
