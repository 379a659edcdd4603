#include "host/channel.h"

void SendConsoleText(const std::string& host, uint16_t port, std::string_view text) {
  platform::TcpSocket socket = platform::TcpSocket::Connect(host, port);
  std::string payload = "CMSG";
  payload.append(text);
  WriteMessage(socket, payload.data(), int64_t(payload.size()));
  socket.Shutdown();
}
