#include "host/channel.h"

#include <gtest/gtest.h>

#include <thread>

#include "host/streamut.h"

using platform::TcpListener;
using platform::TcpSocket;

namespace {

// A connected pair over loopback: the host's side and the parent's side.
struct Pair {
  TcpListener listener;
  TcpSocket host, parent;
  Pair() {
    host = TcpSocket::Connect(kLoopbackHost, listener.Port());
    parent = listener.Accept(2000);
  }
};

std::string Receive(TcpSocket& s, size_t n) {
  std::string out(n, '\0');
  s.ReceiveAll(out.data(), n, 2000);
  return out;
}

std::string ReadOne(TcpSocket& s) {
  streamut::TMemoryStream m;
  ReadMessage(s, m, 2000);
  return std::string(m.View());
}

}  // namespace

TEST(Channel, TagsAndConsoleTextOnTheWire) {
  Pair p;
  WriteTag(p.host, "ACTN");
  EXPECT_EQ(Receive(p.parent, 8), std::string("\0\0\0\x04" "ACTN", 8));

  TcpListener cmsg;
  SendConsoleText(kLoopbackHost, cmsg.Port(), "hi");
  TcpSocket c = cmsg.Accept(2000);
  EXPECT_EQ(Receive(c, 10), std::string("\0\0\0\x06" "CMSGhi", 10));
  char extra;
  EXPECT_THROW(c.ReceiveSome(&extra, 1, 2000), platform::EGracefulClose);  // closed after one frame
}

TEST(Channel, MessagesRoundTripWhateverTheirSize) {
  Pair p;
  std::string big(100000, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7);
  std::thread writer([&] {
    WriteMessage(p.host, "", 0);
    streamut::TMemoryStream m;
    m.WriteBuffer(big.data(), int64_t(big.size()));
    WriteMessage(p.host, m);
    TStringStream five("12345");
    WriteMessage(p.host, five);
  });
  EXPECT_EQ(ReadOne(p.parent), "");
  EXPECT_EQ(ReadOne(p.parent), big);
  EXPECT_EQ(ReadOne(p.parent), "12345");
  writer.join();
}

TEST(Channel, ReadAppendsAtThePosition) {
  Pair p;
  WriteMessage(p.host, "def", 3);
  streamut::TMemoryStream m;
  m.WriteBuffer("abc", 3);
  ReadMessage(p.parent, m, 2000);
  EXPECT_EQ(m.View(), "abcdef");
}

TEST(Channel, NegativeLengthReadsUntilThePeerCloses) {
  Pair p;
  p.host.SendAll("\xFF\xFF\xFF\xFF" "all of it", 13);
  p.host.Shutdown();
  EXPECT_EQ(ReadOne(p.parent), "all of it");
}

TEST(Channel, CloseInsideAMessageDropsThePart) {
  Pair p;
  p.host.SendAll("\x00\x00\x00\x0A" "abc", 7);
  p.host.Shutdown();
  streamut::TMemoryStream m;
  m.WriteBuffer("keep", 4);
  EXPECT_THROW(ReadMessage(p.parent, m, 2000), platform::EGracefulClose);
  EXPECT_EQ(m.View(), "keep");
}

TEST(Channel, HugeAnnouncedLengthCostsOnlyWhatArrives) {
  Pair p;
  p.host.SendAll("\x7F\xFF\xFF\xFF" "0123456789", 14);  // 2 GB announced, 10 bytes sent
  p.host.Shutdown();
  streamut::TMemoryStream m;
  EXPECT_THROW(ReadMessage(p.parent, m, 2000), platform::EGracefulClose);
  EXPECT_LT(m.Capacity(), 1 << 20);
}

TEST(Channel, PayloadOf2GiBIsRefusedBeforeAnythingIsSent) {
  Pair p;
  EXPECT_THROW(WriteMessage(p.host, "x", int64_t(1) << 31), Exception);
  p.host.Shutdown();
  char c;
  EXPECT_THROW(p.parent.ReceiveSome(&c, 1, 2000), platform::EGracefulClose);  // nothing arrived
}

TEST(Channel, ConnectedLookSeesThePeersClose) {
  Pair p;
  TTcpClient client;
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(p.host.IsConnected());
  p.parent.SendAll("z", 1);
  p.parent.Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(p.host.IsConnected());  // unread input is left
  char c;
  p.host.ReceiveSome(&c, 1, 2000);
  EXPECT_FALSE(p.host.IsConnected());
}

TEST(Channel, PortIsTakenModulo65536) {
  TTcpClient client;
  client.SetPort(70000);
  EXPECT_EQ(client.Port(), 4464);
  client.SetPort(-1);
  EXPECT_EQ(client.Port(), 65535);
}

TEST(Channel, ConnectToNobodyRaises) {
  uint16_t port;
  {
    TcpListener l;
    port = l.Port();
  }
  TTcpClient client;
  client.SetHost(kLoopbackHost);
  client.SetPort(port);
  EXPECT_THROW(client.Connect(), platform::ESocketError);
  EXPECT_THROW(SendConsoleText(kLoopbackHost, port, "x"), platform::ESocketError);
}
