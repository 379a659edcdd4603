// Blocking TCP sockets on the loopback interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/exception.h"

namespace platform {

// Any socket failure (connect refused, reset, write on a closed connection).
class ESocketError : public Exception {
 public:
  using Exception::Exception;
};

// The peer closed the connection while a read waited for data.
class EGracefulClose : public ESocketError {
 public:
  EGracefulClose() : ESocketError("Connection Closed Gracefully.") {}
};

// A read waited longer than its time-out.
class ESocketTimeout : public ESocketError {
 public:
  ESocketTimeout() : ESocketError("Read timed out.") {}
};

class TcpSocket {
 public:
  TcpSocket() = default;
  explicit TcpSocket(int fd) : FFd(fd) {}
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept : FFd(other.FFd) { other.FFd = -1; }
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Connects to host:port (a dotted IPv4 address); raises ESocketError.
  static TcpSocket Connect(const std::string& host, uint16_t port);

  bool IsOpen() const { return FFd >= 0; }
  int Fd() const { return FFd; }

  // Sends every byte; raises ESocketError. Never raises SIGPIPE.
  void SendAll(const void* data, size_t size);
  // Receives up to size bytes, waiting at most timeoutMs (-1: no limit).
  // Raises EGracefulClose when the peer has closed, ESocketTimeout, ESocketError.
  size_t ReceiveSome(void* data, size_t size, int timeoutMs = -1);
  // Receives exactly size bytes (same errors).
  void ReceiveAll(void* data, size_t size, int timeoutMs = -1);

  // Non-blocking look: false once the peer has closed (and no unread input is
  // left) or the connection was reset; true otherwise.
  bool IsConnected() const;

  // Wakes any thread blocked on the socket (both directions shut down).
  void Shutdown();
  void Close();

 private:
  int FFd = -1;
};

// A listening socket on 127.0.0.1 (the parent's side).
class TcpListener {
 public:
  // Port 0 lets the system choose. Raises ESocketError.
  explicit TcpListener(uint16_t port = 0);
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  uint16_t Port() const { return FPort; }
  // Waits at most timeoutMs (-1: no limit) for a connection; an unopened socket on time-out.
  TcpSocket Accept(int timeoutMs = -1);
  void Close();

 private:
  int FFd = -1;
  uint16_t FPort = 0;
};

}  // namespace platform
