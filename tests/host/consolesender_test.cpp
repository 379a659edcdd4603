// TConsoleSender against a listener of the test: one CMSG connection per text, in
// the order given, the main thread never waiting; what waits at destruction is
// still sent.
#include "host/consolesender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "host/channel.h"
#include "platform/socket.h"
#include "xml/stream.h"

namespace {

// Reads `count` connections in the order they came: each one CMSG frame.
std::vector<std::string> ReadTexts(platform::TcpListener& listener, size_t count) {
  std::vector<std::string> texts;
  while (texts.size() < count) {
    platform::TcpSocket s = listener.Accept(5000);
    if (!s.IsOpen()) break;
    TMemoryStream m;
    ReadMessage(s, m, 5000);
    std::string payload(m.View());
    EXPECT_EQ(payload.rfind("CMSG", 0), 0u);
    texts.push_back(payload.substr(4));
    // One text per connection: the host has closed it after the frame.
    char more;
    EXPECT_THROW(s.ReceiveAll(&more, 1, 5000), platform::EGracefulClose);
  }
  return texts;
}

}  // namespace

TEST(ConsoleSender, TextsGoOutInOrderOneConnectionEach) {
  platform::TcpListener listener;
  std::vector<std::string> sent;
  {
    TConsoleSender sender("127.0.0.1", listener.Port());
    for (int i = 0; i < 60; ++i) {
      sent.push_back("text " + std::to_string(i));
      EXPECT_TRUE(sender.Post(sent.back()));
    }
    EXPECT_EQ(ReadTexts(listener, 30), std::vector<std::string>(sent.begin(), sent.begin() + 30));
  }
  // The rest waited when the sender went and was sent all the same.
  EXPECT_EQ(ReadTexts(listener, 30), std::vector<std::string>(sent.begin() + 30, sent.end()));
}

// A parent that refuses costs the texts, not the host: nothing blocks, and a text
// beyond the bound is dropped at once.
TEST(ConsoleSender, RefusedAndOversizedTextsAreDropped) {
  uint16_t port;
  {
    platform::TcpListener gone;
    port = gone.Port();
  }
  const auto start = std::chrono::steady_clock::now();
  {
    TConsoleSender sender("127.0.0.1", port);
    for (int i = 0; i < 100; ++i) sender.Post("nobody listens");
    EXPECT_FALSE(sender.Post(std::string(TConsoleSender::kMaxWaitingBytes + 1, 'y')));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(TConsoleSender::kDrainMs + 3000));
}
