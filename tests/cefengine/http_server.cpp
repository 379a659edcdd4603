#include "http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pv7test {

HttpServer::HttpServer() {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(fd_, 64);
  socklen_t len = sizeof a;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  t_ = std::thread([this] { Loop(); });
}

HttpServer::~HttpServer() {
  stop_ = true;
  t_.join();
  close(fd_);
}

int HttpServer::ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);  // bound, never listened: connections are refused
  return ntohs(a.sin_port);
}

void HttpServer::Serve(const std::string& path, const std::string& body) {
  std::lock_guard<std::mutex> lock(m_);
  pages_[path] = body;
}

std::vector<std::string> HttpServer::Requests() {
  std::lock_guard<std::mutex> lock(m_);
  return requests_;
}

std::string HttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpServer::Loop() {
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    std::string req;
    char buf[4096];
    while (req.find("\r\n\r\n") == std::string::npos) {
      pollfd q{c, POLLIN, 0};
      if (poll(&q, 1, 2000) <= 0) break;
      ssize_t n = read(c, buf, sizeof buf);
      if (n <= 0) break;
      req.append(buf, static_cast<size_t>(n));
    }
    std::string path;
    size_t sp = req.find(' ');
    if (sp != std::string::npos) path = req.substr(sp + 1, req.find(' ', sp + 1) - sp - 1);
    std::string body, status = "200 OK";
    {
      std::lock_guard<std::mutex> lock(m_);
      requests_.push_back(req);
      auto it = pages_.find(path);
      if (it == pages_.end()) {
        status = "404 Not Found";
        body = "<html><body>not found</body></html>";
      } else {
        body = it->second;
      }
    }
    std::string resp = "HTTP/1.0 " + status +
                       "\r\nContent-Type: text/html\r\nCache-Control: no-store\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    ssize_t ignored = write(c, resp.data(), resp.size());
    (void)ignored;
    close(c);
  }
}

}  // namespace pv7test
