// Frame messages over TCP connections to 127.0.0.1: the client of the parent
// channel, used by the host's connections and by the bridge's INTF connection.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "base/framing.h"
#include "base/stream.h"
#include "platform/socket.h"

inline constexpr const char* kLoopbackHost = "127.0.0.1";
inline constexpr size_t kWritePiece = 32768;

// A TCP client with a host and a port, connected on request.
class TTcpClient {
 public:
  void SetHost(std::string host) { FHost = std::move(host); }
  // The port is taken modulo 65536.
  void SetPort(int port) { FPort = static_cast<uint16_t>(port); }
  const std::string& Host() const { return FHost; }
  uint16_t Port() const { return FPort; }

  // Raises platform::ESocketError when nobody accepts.
  void Connect();
  // A non-blocking look at the socket: false once the peer closed or reset it.
  bool Connected() const { return FSocket.IsConnected(); }
  // Whether a connection was ever made (the reader's "connection handler").
  bool HasSocket() const { return FSocket.IsOpen(); }
  // Wakes a thread blocked on the connection, then closes it.
  void Disconnect();
  // Wakes blocked readers without closing (safe while another thread reads).
  void Shutdown() { FSocket.Shutdown(); }
  platform::TcpSocket& Socket() { return FSocket; }

 private:
  std::string FHost;
  uint16_t FPort = 0;
  platform::TcpSocket FSocket;
};

// Sends the whole stream (position 0 to its size) as one frame message: the 4
// length bytes, then the payload in pieces of at most 32768 bytes. A payload of
// 2^31 bytes or more is refused with an error before anything is sent.
void WriteMessage(platform::TcpSocket& socket, TStream& stream);
void WriteMessage(platform::TcpSocket& socket, const void* data, int64_t size);

// Reads one frame message, appending the payload to the stream at its position.
// The buffer grows as bytes arrive, so a length announced but never sent costs
// nothing. A negative length means: everything until the peer closes. A
// connection that closes inside a message drops the part received (the stream is
// left as it was) and raises EGracefulClose. timeoutMs limits every wait (-1: none).
// A message of unknown length that grows past maxPayload bytes is dropped the same
// way and raises Exception, so it never holds more than a frame could.
void ReadMessage(platform::TcpSocket& socket, TStream& stream, int timeoutMs = -1,
                 int64_t maxPayload = kMaxPayload);

// Writes a channel tag ("ACTN", "DRAW", "INTF") as a frame message of its own.
void WriteTag(platform::TcpSocket& socket, std::string_view tag);
