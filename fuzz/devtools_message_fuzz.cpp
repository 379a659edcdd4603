// What the engine library reads from Chromium's pipe: NUL-ended JSON messages, fed in
// two chunks split where the first byte says. Every message must give the event a
// whole parse gives (screencast frames take a shorter way), and none when it is not
// an object with a method. The shorter way leaves a frame's data unchecked, for the
// base64 decoding to refuse: it may take a frame whose data has a control or
// non-ASCII byte, which a whole parse refuses, and nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "devtools.h"

namespace {

bool UncheckedFrameData(const cefeng::json& event) {
  const cefeng::json* params = cefeng::ObjectField(event, "params");
  if (cefeng::StringField(event, "method") != "Page.screencastFrame" || !params) return false;
  for (unsigned char c : cefeng::StringField(*params, "data"))
    if (c < 0x20 || c >= 0x80) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cefeng;
  if (size == 0) return 0;
  std::vector<json> events;
  DevToolsPipe pipe(-1, -1, [&](json& m) { events.push_back(m); }, nullptr);
  MessageSplitter splitter(1 << 16);
  const char* text = reinterpret_cast<const char*>(data + 1);
  const size_t n = size - 1, cut = n ? data[0] % (n + 1) : 0;
  auto check = [&](std::string_view m) {
    events.clear();
    pipe.HandleMessage(m);
    json whole = json::parse(m.begin(), m.end(), nullptr, false);
    auto method = whole.is_object() ? whole.find("method") : whole.end();
    const bool event = whole.is_object() && !whole.contains("id") && method != whole.end() && method->is_string();
    if (!event && whole.is_discarded() && events.size() == 1 && UncheckedFrameData(events[0])) return;
    if (events.size() != (event ? 1u : 0u)) abort();
    if (!event) return;
    const json* params = ObjectField(whole, "params");
    const json* got = ObjectField(events[0], "params");
    if (!got || (params && *params != *got) || events[0]["method"] != *method) abort();
  };
  splitter.Feed(text, cut, check);
  splitter.Feed(text + cut, n - cut, check);
  return 0;
}
