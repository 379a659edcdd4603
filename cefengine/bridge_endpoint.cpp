#include "bridge_endpoint.h"

namespace cefeng {

namespace {

constexpr int kStatusOk = 200;
constexpr int kStatusNoContent = 204;

// The body of a call carried in the event itself; false when it must be asked for.
bool InlineBody(const json& request, std::string& body) {
  auto data = request.find("postData");
  if (data != request.end() && data->is_string()) {
    body = data->get<std::string>();
    return true;
  }
  if (const json* entries = ArrayField(request, "postDataEntries")) {
    std::vector<uint8_t> bytes;
    for (const json& e : *entries) {
      auto b = e.is_object() ? e.find("bytes") : e.end();
      if (!e.is_object() || b == e.end() || !b->is_string()) continue;
      if (Base64Decode(b->get_ref<const std::string&>(), bytes))
        body.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      if (body.size() > kBridgeMaxMessage) break;
    }
    return true;
  }
  return !BoolField(request, "hasPostData");
}

}  // namespace

bool IsBridgeRequest(const json& params) {
  const json* r = ObjectField(params, "request");
  if (!r) return false;
  auto u = r->find("url");
  if (u == r->end() || !u->is_string()) return false;
  static const std::string prefix = kBridgeUrl;
  return u->get_ref<const std::string&>().compare(0, prefix.size(), prefix) == 0;
}

void BridgeEndpoint::Request(const json& params) {
  std::string requestId = StringField(params, "requestId");
  if (!helper_) {
    BridgeReply none;
    none.hasException = true;
    none.exception = "native functions are not available";
    Fulfill(requestId, kStatusOk, ReplyBody(none));
    return;
  }
  static const json kNoRequest = json::object();
  const json* r = ObjectField(params, "request");
  const json& request = r ? *r : kNoRequest;
  if (StringField(request, "method") == "OPTIONS") {
    Fulfill(requestId, kStatusNoContent, std::string());
    return;
  }
  std::string body;
  if (InlineBody(request, body)) {
    CallHelper(requestId, std::move(body));
    return;
  }
  // A body too long for the event: asked for separately.
  std::string networkId = StringField(params, "networkId");
  if (networkId.empty()) {
    CallHelper(requestId, std::string());
    return;
  }
  session_.Send("Network.getRequestPostData", {{"requestId", networkId}},
                [this, requestId](const json& got, const std::string&) {
                  CallHelper(requestId, StringField(got, "postData"));
                });
}

// The call waits on the helper's own thread; the answer comes back to the sequence.
void BridgeEndpoint::CallHelper(const std::string& requestId, std::string body) {
  Session::PostFn post = session_.Poster();
  std::shared_ptr<RenderHelper> helper = helper_;
  helper->Post([this, helper, post, requestId, body = std::move(body)] {
    BridgeCall call;
    BridgeReply reply;
    std::string error;
    if (!ParseCallBody(body, call, error)) {
      reply.hasException = true;
      reply.exception = "native function call: " + error;
    } else {
      reply = helper->Call(std::move(call), kBridgeCallTimeoutMs);
    }
    post([this, requestId, text = ReplyBody(reply)] { Fulfill(requestId, kStatusOk, text); });
  });
}

void BridgeEndpoint::Fulfill(const std::string& requestId, int status, const std::string& body) {
  json headers = json::array({{{"name", "Content-Type"}, {"value", "text/plain; charset=utf-8"}},
                              {{"name", "Access-Control-Allow-Origin"}, {"value", "*"}},
                              {{"name", "Access-Control-Allow-Methods"}, {"value", "POST"}},
                              {{"name", "Access-Control-Allow-Headers"}, {"value", "*"}},
                              {{"name", "Cache-Control"}, {"value", "no-store"}}});
  session_.Send("Fetch.fulfillRequest", {{"requestId", requestId},
                                         {"responseCode", status},
                                         {"responseHeaders", std::move(headers)},
                                         {"body", Base64Encode(body)}});
}

}  // namespace cefeng
