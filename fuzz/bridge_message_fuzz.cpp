// What the engine library reads from pages and from render helpers: the call body
// of the reserved request, the helper's messages, its extension sources and the
// framing of the private socket. Every input must give an answer, never a crash.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bridge.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cefeng;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  BridgeCall call;
  if (ParseCallBody(text, call, error)) (void)CallMessage(call);
  if (ParseCallMessage(text, call)) (void)ParseCallMessage(CallMessage(call), call);
  BridgeReply reply;
  if (ParseReplyMessage(text, reply)) (void)ReplyBody(reply);
  std::vector<ExtensionSource> list;
  if (ParseExtensionList(text, list)) (void)InjectedScripts(list);
  (void)RewriteNativeFunctions(std::string(text), 1);

  // The same bytes as a stream on the helper's socket, read frame by frame.
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return 0;
  size_t n = size < 65536 ? size : 65536;  // within one socket buffer
  if (n) (void)!write(sv[0], data, n);
  close(sv[0]);
  std::string frame;
  for (int i = 0; i < 64 && ReadFrame(sv[1], frame, 0, 4096) == FrameResult::Ok; ++i) {
  }
  close(sv[1]);
  return 0;
}
