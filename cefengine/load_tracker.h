// A browser's loads: navigations, loading state, the document requests behind them,
// their failures reported once, and the page title. Sequence only; what the
// delegate hears goes to the main thread.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "frame_tree.h"
#include "session.h"

namespace cefeng {

class LoadTracker {
 public:
  // Within this time the same failure (address, code, frame) is one failure: it can
  // come both from the network and from the navigation's reply.
  static constexpr uint64_t kRepeatedErrorUs = 2000000;
  static constexpr int kDefaultStatus = 200;

  LoadTracker(Session& session, FrameTree& frames) : session_(session), frames_(frames) {}

  // The page, network and target events it follows; false for any other.
  bool HandleEvent(const std::string& method, const json& params);
  // A load that failed: the reply of a navigation, or an address that cannot load.
  void LoadFailed(const std::string& devtoolsFrame, std::string errorText, const std::string& url);
  // A new page target: its documents are not the old page's.
  void Reattached();

 private:
  void TitleChanged(const json& info);
  void FrameNavigated(const json& params);
  void StartedLoading(const json& params);
  void StoppedLoading(const json& params);
  void RequestSent(const json& params);
  void ResponseReceived(const json& params);
  void RequestFinished(const json& params);
  void RequestFailed(const json& params);
  bool Repeated(const std::string& url, int code, int64_t frame);

  Session& session_;
  FrameTree& frames_;
  std::string title_;
  std::map<std::string, int> docStatus_;          // by DevTools frame
  std::map<std::string, bool> errorPage_;         // by DevTools frame
  std::map<std::string, std::string> docUrls_;    // document request id -> url
  std::map<std::string, std::string> docFrames_;  // document request id -> frame
  std::string lastErrorUrl_;
  int lastErrorCode_ = 0;
  int64_t lastErrorFrame_ = 0;
  uint64_t lastErrorUs_ = 0;
  bool anyError_ = false;
};

}  // namespace cefeng
