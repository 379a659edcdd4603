#include "interceptor.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "os_process.h"

namespace cefeng {

namespace {

bool SameHeaderName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

std::shared_ptr<RequestInfo> InfoOf(const json& params, FrameTree& frames) {
  auto info = std::make_shared<RequestInfo>();
  if (const json* r = ObjectField(params, "request")) {
    info->url = StringField(*r, "url");
    info->method = StringField(*r, "method");
    if (const json* headers = ObjectField(*r, "headers"))
      for (auto it = headers->begin(); it != headers->end(); ++it)
        if (it->is_string()) info->headers.items.emplace_back(it.key(), it->get<std::string>());
  }
  info->resourceType = StringField(params, "resourceType");
  info->frameId = frames.IdFor(StringField(params, "frameId"));
  return info;
}

}  // namespace

json HeaderEntries(const HeaderList& headers) {
  json list = json::array();
  for (size_t i = 0; i < headers.items.size(); ++i) {
    const auto& [name, value] = headers.items[i];
    bool seen = false;
    for (size_t j = 0; j < i && !seen; ++j) seen = SameHeaderName(headers.items[j].first, name);
    if (seen) continue;
    std::string joined = value;
    for (size_t j = i + 1; j < headers.items.size(); ++j)
      if (SameHeaderName(headers.items[j].first, name)) joined += ", " + headers.items[j].second;
    list.push_back({{"name", name}, {"value", std::move(joined)}});
  }
  return list;
}

PausedRequest::PausedRequest(Session& session, std::string requestId, std::shared_ptr<RequestInfo> info)
    : session_(session), requestId_(std::move(requestId)), info_(std::move(info)),
      originalHeaders_(info_->headers), originalUrl_(info_->url) {}

void PausedRequest::Answer(bool allow) {
  if (answered_) return;
  answered_ = true;
  if (allow)
    Continue();
  else
    session_.Send("Fetch.failRequest", {{"requestId", requestId_}, {"errorReason", "Aborted"}});
}

void PausedRequest::Continue() {
  json p = {{"requestId", requestId_}};
  if (info_->headers.items != originalHeaders_.items) p["headers"] = HeaderEntries(info_->headers);
  if (info_->url != originalUrl_ && !info_->url.empty()) p["url"] = info_->url;
  bool changed = p.size() > 1;
  // A change Chromium refuses must not leave the request paused for ever: it then
  // goes on unchanged.
  Session& session = session_;
  std::string requestId = requestId_;
  session_.Send("Fetch.continueRequest", std::move(p),
                [&session, requestId, changed](const json&, const std::string& err) {
                  if (err.empty() || !changed) return;
                  if (!GetEnv("PV7_CHROMIUM_LOG").empty())
                    fprintf(stderr, "Fetch.continueRequest: %s\n", err.c_str());
                  session.Send("Fetch.continueRequest", {{"requestId", requestId}});
                });
}

void RequestInterceptor::Paused(const json& params, const AskFn& ask) {
  auto request = std::make_shared<PausedRequest>(session_, StringField(params, "requestId"),
                                                 InfoOf(params, frames_));
  // The answer may come from any thread, also after the browser has gone: it is
  // posted, and then the request (with its session) still exists.
  Session::PostFn post = session_.Poster();
  auto answer = [request, post](bool allow) { post([request, allow] { request->Answer(allow); }); };
  int verdict = ask ? ask(request->Info(), answer) : kAnswerContinue;
  if (verdict == kAnswerAsync) return;
  request->Answer(verdict != kAnswerCancel);
}

}  // namespace cefeng
