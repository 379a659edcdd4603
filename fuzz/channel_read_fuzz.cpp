// The bytes a peer sends on a channel connection, read back frame by frame with
// ReadMessage over a real loopback connection. Each frame read must match what the
// bytes announce; a message cut short by the close must leave the buffer as it was.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "host/channel.h"
#include "platform/socket.h"
#include "xml/stream.h"

namespace {

platform::TcpListener& Listener() {
  static platform::TcpListener listener;
  return listener;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;  // stays inside the socket buffers: no writer thread needed
  platform::TcpSocket peer = platform::TcpSocket::Connect("127.0.0.1", Listener().Port());
  platform::TcpSocket host = Listener().Accept(2000);
  Check(host.IsOpen());
  if (size) peer.SendAll(data, size);
  peer.Close();  // the close ends the last message

  TMemoryStream buffer;
  buffer.WriteBuffer("prefix", 6);  // a message is appended at the position
  size_t at = 0;
  for (;;) {
    const int64_t before = buffer.GetSize();
    bool ended = false;
    try {
      ReadMessage(host, buffer, 2000);
    } catch (const platform::EGracefulClose&) {
      ended = true;
    }
    if (ended) {
      // Either nothing was left, or a header or payload was cut short: nothing kept.
      Check(buffer.GetSize() == before && buffer.GetPosition() == before);
      if (size - at >= 4) {
        const int32_t length = int32_t(uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 |
                                       uint32_t(data[at + 2]) << 8 | uint32_t(data[at + 3]));
        Check(length >= 0 && size_t(length) > size - at - 4);
      }
      break;
    }
    Check(size - at >= 4);
    const int32_t length = int32_t(uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 |
                                   uint32_t(data[at + 2]) << 8 | uint32_t(data[at + 3]));
    at += 4;
    const size_t got = size_t(buffer.GetSize() - before);
    const size_t expected = length < 0 ? size - at : size_t(length);
    Check(got == expected && expected <= size - at);
    Check(std::memcmp(static_cast<const uint8_t*>(buffer.Memory()) + before, data + at, got) == 0);
    at += got;
    if (length < 0) break;  // everything until the close was that one message
  }
  return 0;
}
