#include "load_tracker.h"

#include "mapping.h"

namespace cefeng {

bool LoadTracker::HandleEvent(const std::string& method, const json& params) {
  if (method == "Target.targetInfoChanged") TitleChanged(params);
  else if (method == "Page.frameNavigated") FrameNavigated(params);
  else if (method == "Page.frameStartedLoading") StartedLoading(params);
  else if (method == "Page.frameStoppedLoading") StoppedLoading(params);
  else if (method == "Network.requestWillBeSent") RequestSent(params);
  else if (method == "Network.responseReceived") ResponseReceived(params);
  else if (method == "Network.loadingFinished") RequestFinished(params);
  else if (method == "Network.loadingFailed") RequestFailed(params);
  else return false;
  return true;
}

void LoadTracker::Reattached() {
  docStatus_.clear();
  errorPage_.clear();
  docUrls_.clear();
  docFrames_.clear();
}

void LoadTracker::TitleChanged(const json& info) {
  std::string title = StringField(info, "title");
  if (title == title_) return;
  title_ = title;
  session_.Notify([title](BrowserDelegate& d) { d.OnTitleChange(title); });
}

void LoadTracker::FrameNavigated(const json& params) {
  const json* f = ObjectField(params, "frame");
  if (!f) return;
  std::string devId = StringField(*f, "id");
  std::string url = StringField(*f, "url");
  bool error = url.rfind("chrome-error:", 0) == 0 || f->contains("unreachableUrl");
  int64_t fid = frames_.Navigated(devId, url, StringField(*f, "name"), !f->contains("parentId"), error);
  errorPage_[devId] = error;
  if (error) return;
  session_.Notify([fid, url](BrowserDelegate& d) { d.OnAddressChange(fid, url); });
  session_.Notify([fid](BrowserDelegate& d) { d.OnLoadStart(fid); });
}

void LoadTracker::StartedLoading(const json& params) {
  if (StringField(params, "frameId") != frames_.MainDevToolsId()) return;
  session_.Notify([](BrowserDelegate& d) { d.OnLoadingStateChange(true, false, false); });
}

void LoadTracker::StoppedLoading(const json& params) {
  std::string devId = StringField(params, "frameId");
  int64_t fid = frames_.IdFor(devId);
  bool main = devId == frames_.MainDevToolsId();
  bool error = errorPage_[devId];
  auto it = docStatus_.find(devId);
  int status = it == docStatus_.end() ? kDefaultStatus : it->second;
  if (!error) session_.Notify([fid, status](BrowserDelegate& d) { d.OnLoadEnd(fid, status); });
  if (main) session_.Notify([](BrowserDelegate& d) { d.OnLoadingStateChange(false, false, false); });
}

// Document requests are remembered for the failure report.
void LoadTracker::RequestSent(const json& params) {
  if (StringField(params, "type") != "Document") return;
  docStatus_.erase(StringField(params, "frameId"));
  const json* request = ObjectField(params, "request");
  docUrls_[StringField(params, "requestId")] = request ? StringField(*request, "url") : std::string();
  docFrames_[StringField(params, "requestId")] = StringField(params, "frameId");
}

void LoadTracker::ResponseReceived(const json& params) {
  if (StringField(params, "type") != "Document") return;
  if (const json* response = ObjectField(params, "response"))
    docStatus_[StringField(params, "frameId")] = IntField(*response, "status", kDefaultStatus);
}

void LoadTracker::RequestFinished(const json& params) {
  docUrls_.erase(StringField(params, "requestId"));
  docFrames_.erase(StringField(params, "requestId"));
}

void LoadTracker::RequestFailed(const json& params) {
  if (StringField(params, "type") != "Document") return;
  std::string request = StringField(params, "requestId");
  std::string url = docUrls_[request];
  std::string frame = docFrames_[request];
  docUrls_.erase(request);
  docFrames_.erase(request);
  std::string text = StringField(params, "errorText");
  if (BoolField(params, "canceled") && text.empty()) text = "net::ERR_ABORTED";
  LoadFailed(frame, std::move(text), url);
}

void LoadTracker::LoadFailed(const std::string& devtoolsFrame, std::string errorText,
                             const std::string& url) {
  if (errorText.empty()) errorText = "net::ERR_FAILED";
  int code = NetErrorCode(errorText);
  // A failure of no known frame (a custom scheme's load, a request not seen) is the
  // main frame's.
  int64_t fid = devtoolsFrame.empty() ? frames_.MainIdNow() : frames_.IdFor(devtoolsFrame);
  if (Repeated(url, code, fid)) return;
  session_.Notify([fid, code, errorText, url](BrowserDelegate& d) { d.OnLoadError(fid, code, errorText, url); });
}

bool LoadTracker::Repeated(const std::string& url, int code, int64_t frame) {
  uint64_t now = session_.NowUs();
  if (anyError_ && lastErrorUrl_ == url && lastErrorCode_ == code && lastErrorFrame_ == frame &&
      now - lastErrorUs_ < kRepeatedErrorUs)
    return true;
  anyError_ = true;
  lastErrorUrl_ = url;
  lastErrorCode_ = code;
  lastErrorFrame_ = frame;
  lastErrorUs_ = now;
  return false;
}

}  // namespace cefeng
