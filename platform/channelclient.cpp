#include "platform/channelclient.h"

#include <algorithm>

void TTcpClient::Connect() { FSocket = platform::TcpSocket::Connect(FHost, FPort); }

void TTcpClient::Disconnect() {
  FSocket.Shutdown();
  FSocket.Close();
}

void WriteMessage(platform::TcpSocket& socket, const void* data, int64_t size) {
  if (size < 0 || size > kMaxPayload)
    throw Exception("Message of " + std::to_string(size) + " bytes is too long to send");
  uint8_t header[kFrameHeaderSize];
  PutFrameLength(header, int32_t(size));
  socket.SendAll(header, kFrameHeaderSize);
  const auto* p = static_cast<const uint8_t*>(data);
  for (int64_t done = 0; done < size;) {
    size_t piece = size_t(std::min<int64_t>(size - done, int64_t(kWritePiece)));
    socket.SendAll(p + done, piece);
    done += int64_t(piece);
  }
}

void WriteMessage(platform::TcpSocket& socket, TStream& stream) {
  const int64_t size = stream.GetSize();
  if (size > kMaxPayload)
    throw Exception("Message of " + std::to_string(size) + " bytes is too long to send");
  if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
    WriteMessage(socket, memory->Memory(), size);  // no copy for memory streams
    return;
  }
  uint8_t header[kFrameHeaderSize];
  PutFrameLength(header, int32_t(size));
  socket.SendAll(header, kFrameHeaderSize);
  stream.SetPosition(0);
  uint8_t piece[kWritePiece];
  for (int64_t done = 0; done < size;) {
    int64_t n = std::min<int64_t>(size - done, int64_t(kWritePiece));
    stream.ReadBuffer(piece, n);
    socket.SendAll(piece, size_t(n));
    done += n;
  }
}

void ReadMessage(platform::TcpSocket& socket, TStream& stream, int timeoutMs, int64_t maxPayload) {
  uint8_t header[kFrameHeaderSize];
  socket.ReceiveAll(header, kFrameHeaderSize, timeoutMs);
  const int32_t length = GetFrameLength(header);
  const int64_t start = stream.GetPosition();
  uint8_t buffer[65536];
  int64_t received = 0;
  try {
    while (length < 0 || received < length) {
      size_t want = sizeof(buffer);
      if (length >= 0) want = size_t(std::min<int64_t>(length - received, int64_t(sizeof(buffer))));
      size_t n;
      try {
        n = socket.ReceiveSome(buffer, want, timeoutMs);
      } catch (const platform::EGracefulClose&) {
        if (length < 0) return;  // the close ends a message of unknown length
        throw;
      }
      // No message can be longer than a frame can announce: a peer that streams
      // without end behind a negative length must not fill the host's memory.
      if (length < 0 && received + int64_t(n) > maxPayload)
        throw Exception("Message longer than " + std::to_string(maxPayload) + " bytes");
      stream.WriteBuffer(buffer, int64_t(n));
      received += int64_t(n);
    }
  } catch (...) {
    // Drop the part received: the stream is left as it was before the message.
    stream.SetSize(start);
    stream.SetPosition(start);
    throw;
  }
}

void WriteTag(platform::TcpSocket& socket, std::string_view tag) {
  WriteMessage(socket, tag.data(), int64_t(tag.size()));
}
