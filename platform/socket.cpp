#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

[[noreturn]] void RaiseErrno(const std::string& what, int err) {
  throw ESocketError(what + ": " + std::strerror(err));
}

// Waits until fd is readable; false on time-out.
bool WaitReadable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    int r = ::poll(&p, 1, timeoutMs);
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) RaiseErrno("poll", errno);
  }
}

}  // namespace

TcpSocket::~TcpSocket() { Close(); }

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    FFd = other.FFd;
    other.FFd = -1;
  }
  return *this;
}

TcpSocket TcpSocket::Connect(const std::string& host, uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1)
    throw ESocketError("Invalid host address: " + host);
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) RaiseErrno("socket", errno);
  TcpSocket s(fd);
  int r;
  do {
    r = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    int err = errno;
    throw ESocketError("Socket Error # " + std::to_string(err) + "\r\n" + std::strerror(err));
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  return s;
}

void TcpSocket::SendAll(const void* data, size_t size) {
  if (FFd < 0) throw ESocketError("Not connected.");
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::send(FFd, p, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseErrno("send", errno);
    }
    p += n;
    size -= size_t(n);
  }
}

size_t TcpSocket::ReceiveSome(void* data, size_t size, int timeoutMs) {
  if (FFd < 0) throw ESocketError("Not connected.");
  for (;;) {
    if (timeoutMs >= 0 && !WaitReadable(FFd, timeoutMs)) throw ESocketTimeout();
    ssize_t n = ::recv(FFd, data, size, 0);
    if (n > 0) return size_t(n);
    if (n == 0) throw EGracefulClose();
    if (errno == EINTR) continue;
    RaiseErrno("recv", errno);
  }
}

void TcpSocket::ReceiveAll(void* data, size_t size, int timeoutMs) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    size_t n = ReceiveSome(p, size, timeoutMs);
    p += n;
    size -= n;
  }
}

bool TcpSocket::IsConnected() const {
  if (FFd < 0) return false;
  pollfd p{FFd, POLLIN | POLLRDHUP, 0};
  if (::poll(&p, 1, 0) <= 0) return true;  // nothing happened: still connected
  char c;
  ssize_t n = ::recv(FFd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) return true;  // unread input is left
  if (n == 0) return false;
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

void TcpSocket::Shutdown() {
  if (FFd >= 0) ::shutdown(FFd, SHUT_RDWR);
}

void TcpSocket::Close() {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
}

TcpListener::TcpListener(uint16_t port) {
  FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FFd < 0) RaiseErrno("socket", errno);
  int one = 1;
  ::setsockopt(FFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) < 0 || ::listen(FFd, 64) < 0) {
    int err = errno;
    Close();
    RaiseErrno("listen", err);
  }
  socklen_t len = sizeof(addr);
  ::getsockname(FFd, reinterpret_cast<sockaddr*>(&addr), &len);
  FPort = ntohs(addr.sin_port);
}

TcpListener::~TcpListener() { Close(); }

TcpSocket TcpListener::Accept(int timeoutMs) {
  if (FFd < 0) throw ESocketError("Listener closed.");
  if (!WaitReadable(FFd, timeoutMs)) return TcpSocket();
  int fd;
  do {
    fd = ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) RaiseErrno("accept", errno);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  return TcpSocket(fd);
}

void TcpListener::Close() {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
}

}  // namespace platform
