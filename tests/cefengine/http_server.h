// A tiny HTTP/1.0 server on the loopback interface for the engine tests.
#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pv7test {

class HttpServer {
 public:
  HttpServer();
  ~HttpServer();
  int Port() const { return port_; }
  void Serve(const std::string& path, const std::string& body);
  // Raw header blocks of every request received, in order.
  std::vector<std::string> Requests();
  std::string Url(const std::string& path) const;
  // A port on which nothing listens.
  static int ClosedPort();

 private:
  void Loop();
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::map<std::string, std::string> pages_;
  std::vector<std::string> requests_;
  std::thread t_;
};

}  // namespace pv7test
