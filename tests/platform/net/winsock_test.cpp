// Sockets in the window-message model: start and cleanup, error numbers,
// handle checks, address layout and the event messages with their
// re-enabling rules, over loopback on the headless desktop.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "platform/window/backend.h"
#include "platform/window/window.h"
#include "platform/net/winsock.h"

namespace {

constexpr uint32_t kSocketMessage = 0x0505;

plat::SockAddrIn Loopback(uint16_t port) {
  plat::SockAddrIn a{};
  a.family = plat::kAfInet;
  a.port = plat::Htons(port);
  a.address[0] = 127;
  a.address[3] = 1;
  return a;
}
plat::SockAddr* Addr(plat::SockAddrIn* a) { return reinterpret_cast<plat::SockAddr*>(a); }

struct Event {
  plat::SocketHandle socket;
  int32_t event;
  int error;
};

class WinsockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetBackend(plat::Backend::kHeadless);
    plat::HeadlessReset(plat::VirtualDesktop{});
    plat::RegisterWindowClass("WinsockTestWindow", plat::DefWindowProc);
    window_ = plat::CreateWindow("WinsockTestWindow", "", 0, 0, 0, 0, 0, 0);
    ASSERT_NE(window_, nullptr);
    plat::WsaData data;
    ASSERT_EQ(plat::WsaStartup(0x0202, &data), 0);
    EXPECT_EQ(data.version, 0x0202);
  }
  void TearDown() override {
    EXPECT_EQ(plat::WsaCleanup(), 0);
    plat::HeadlessReset(plat::VirtualDesktop{});
  }
  // A listening socket on a free loopback port.
  plat::SocketHandle Listener(uint16_t* port) {
    plat::SocketHandle s = plat::Socket(plat::kAfInet, plat::kSockStream, plat::kIpProtoTcp);
    plat::SockAddrIn any = Loopback(0);
    EXPECT_EQ(plat::Bind(s, Addr(&any), sizeof(any)), 0);
    EXPECT_EQ(plat::Listen(s, 8), 0);
    plat::SockAddrIn own{};
    int length = sizeof(own);
    EXPECT_EQ(plat::GetSockName(s, reinterpret_cast<plat::SockAddr*>(&own), &length), 0);
    EXPECT_EQ(length, 16);
    *port = plat::Ntohs(own.port);
    return s;
  }
  // Collects socket messages until the condition holds; false once a minute
  // has passed, a net for a fault that no load on the machine comes near.
  bool WaitFor(const std::function<bool()>& done) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < until) {
      plat::Message m;
      while (plat::PeekMessage(&m, window_, true)) {
        if (m.message == kSocketMessage) {
          events_.push_back(Event{m.wparam, static_cast<int32_t>(m.lparam & 0xFFFF),
                                  static_cast<int>((m.lparam >> 16) & 0xFFFF)});
        }
      }
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
  }
  int Count(plat::SocketHandle s, int32_t event) const {
    int n = 0;
    for (const Event& e : events_) n += e.socket == s && e.event == event;
    return n;
  }
  // Takes what a round of the watcher that begins after the call posts:
  // every event that the sockets' state at the call brings. The mark, a
  // datagram socket and so writable at once, has its write event posted by
  // the first round that polls it, which began after its registration and
  // polls every socket then watched; its close takes the lock under which
  // the watcher posts a round's events, so by then they are all queued.
  void Settle() {
    plat::SocketHandle mark = plat::Socket(plat::kAfInet, plat::kSockDgram, plat::kIpProtoUdp);
    ASSERT_EQ(plat::WsaAsyncSelect(mark, window_, kSocketMessage, plat::kFdWrite), 0);
    ASSERT_TRUE(WaitFor([&] { return Count(mark, plat::kFdWrite) == 1; }));
    ASSERT_EQ(plat::CloseSocket(mark), 0);
    WaitFor([] { return true; });
  }
  plat::Window* window_ = nullptr;
  std::vector<Event> events_;
};

TEST(WinsockStart, EveryCallBeforeAStartFailsAsNotInitialised) {
  EXPECT_EQ(plat::Socket(plat::kAfInet, plat::kSockStream, 0), plat::kInvalidSocket);
  EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaNotInitialised);
  char c;
  EXPECT_EQ(plat::Recv(0x100, &c, 1, 0), plat::kSocketError);
  EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaNotInitialised);
  EXPECT_EQ(plat::WsaCleanup(), plat::kSocketError);
  plat::WsaData data;
  EXPECT_EQ(plat::WsaStartup(0x0303, &data), plat::kWsaVerNotSupported);
  // Byte order and address text need no start.
  EXPECT_EQ(plat::Htons(0x1234), plat::Ntohs(0x1234));
  const uint32_t a = plat::InetAddr("127.0.0.1");
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&a)[0], 127);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&a)[3], 1);
  EXPECT_EQ(plat::InetAddr("300.1.1.1"), 0xFFFFFFFFu);
  EXPECT_EQ(plat::InetAddr(nullptr), 0xFFFFFFFFu);
}

TEST(WinsockStart, TheLastCleanupLeavesNoDescriptorOpen) {
  plat::SetBackend(plat::Backend::kHeadless);
  plat::HeadlessReset(plat::VirtualDesktop{});
  plat::RegisterWindowClass("WinsockStartWindow", plat::DefWindowProc);
  plat::Window* window = plat::CreateWindow("WinsockStartWindow", "", 0, 0, 0, 0, 0, 0);
  ASSERT_NE(window, nullptr);
  auto open_descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator{});
  };
  const auto before = open_descriptors();
  for (int round = 0; round < 2; ++round) {
    plat::WsaData data;
    ASSERT_EQ(plat::WsaStartup(0x0202, &data), 0);
    // A registration starts the watcher.
    plat::SocketHandle s = plat::Socket(plat::kAfInet, plat::kSockDgram, plat::kIpProtoUdp);
    ASSERT_EQ(plat::WsaAsyncSelect(s, window, kSocketMessage, plat::kFdRead), 0);
    ASSERT_EQ(plat::WsaCleanup(), 0);
    EXPECT_EQ(open_descriptors(), before) << round;
  }
  plat::HeadlessReset(plat::VirtualDesktop{});
}

TEST_F(WinsockTest, UnknownAndClosedHandlesAreNotSockets) {
  char buffer[4] = {};
  EXPECT_EQ(plat::Send(12345, buffer, 4, 0), plat::kSocketError);
  EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaENotSock);
  plat::SocketHandle s = plat::Socket(plat::kAfInet, plat::kSockStream, 0);
  ASSERT_NE(s, plat::kInvalidSocket);
  EXPECT_EQ(plat::CloseSocket(s), 0);
  EXPECT_EQ(plat::CloseSocket(s), plat::kSocketError);
  EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaENotSock);
  // A fresh socket never takes the closed one's handle.
  plat::SocketHandle t = plat::Socket(plat::kAfInet, plat::kSockStream, 0);
  EXPECT_NE(t, s);
  EXPECT_EQ(plat::Socket(99, plat::kSockStream, 0), plat::kInvalidSocket);
  EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaEAfNoSupport);
  // Bad buffers and addresses are refused before they reach the system.
  EXPECT_EQ(plat::Recv(t, nullptr, 4, 0), plat::kSocketError);
  EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaEFault);
  EXPECT_EQ(plat::Recv(t, buffer, -1, 0), plat::kSocketError);
  plat::SockAddrIn a = Loopback(1);
  EXPECT_EQ(plat::Connect(t, Addr(&a), 8), plat::kSocketError);
  EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaEFault);
  EXPECT_EQ(plat::WsaAsyncSelect(t, nullptr, kSocketMessage, plat::kFdRead), plat::kSocketError);
  EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaEInval);
}

TEST_F(WinsockTest, AcceptReadWriteAndCloseArriveAsMessages) {
  uint16_t port;
  plat::SocketHandle listener = Listener(&port);
  ASSERT_EQ(plat::WsaAsyncSelect(listener, window_, kSocketMessage, plat::kFdAccept), 0);
  plat::SocketHandle client = plat::Socket(plat::kAfInet, plat::kSockStream, 0);
  plat::SockAddrIn to = Loopback(port);
  ASSERT_EQ(plat::Connect(client, Addr(&to), sizeof(to)), 0);  // blocking
  ASSERT_TRUE(WaitFor([&] { return Count(listener, plat::kFdAccept) == 1; }));
  EXPECT_EQ(events_.back().error, 0);

  plat::SockAddrIn peer{};
  int length = 15;  // too short for the address
  EXPECT_EQ(plat::Accept(listener, Addr(&peer), &length), plat::kInvalidSocket);
  EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaEFault);
  length = sizeof(peer);
  plat::SocketHandle server = plat::Accept(listener, Addr(&peer), &length);
  ASSERT_NE(server, plat::kInvalidSocket);
  EXPECT_EQ(length, 16);
  EXPECT_EQ(peer.family, plat::kAfInet);
  EXPECT_EQ(peer.address[0], 127);
  // Nothing else is waiting: a non-blocking accept would block.
  EXPECT_EQ(plat::Accept(listener, nullptr, nullptr), plat::kInvalidSocket);
  EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaEWouldBlock);

  ASSERT_EQ(plat::WsaAsyncSelect(server, window_, kSocketMessage,
                                 plat::kFdRead | plat::kFdWrite | plat::kFdClose), 0);
  ASSERT_TRUE(WaitFor([&] { return Count(server, plat::kFdWrite) == 1; }));
  char buffer[16];
  EXPECT_EQ(plat::Recv(server, buffer, sizeof(buffer), 0), plat::kSocketError);
  EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaEWouldBlock);

  // One read event for data, and no second one until a receive.
  ASSERT_EQ(plat::Send(client, "abcdef", 6, 0), 6);
  ASSERT_TRUE(WaitFor([&] { return Count(server, plat::kFdRead) == 1; }));
  ASSERT_EQ(plat::Send(client, "gh", 2, 0), 2);
  Settle();
  EXPECT_EQ(Count(server, plat::kFdRead), 1);
  EXPECT_EQ(plat::Recv(server, buffer, 3, plat::kMsgPeek), 3);
  ASSERT_TRUE(WaitFor([&] { return Count(server, plat::kFdRead) == 2; }));
  EXPECT_EQ(plat::Recv(server, buffer, 4, 0), 4);
  EXPECT_EQ(std::string(buffer, 4), "abcd");

  // The close is posted once the data is read.
  ASSERT_EQ(plat::CloseSocket(client), 0);
  ASSERT_TRUE(WaitFor([&] { return Count(server, plat::kFdRead) == 3; }));
  EXPECT_EQ(Count(server, plat::kFdClose), 0);
  EXPECT_EQ(plat::Recv(server, buffer, sizeof(buffer), 0), 4);
  EXPECT_EQ(std::string(buffer, 4), "efgh");
  ASSERT_TRUE(WaitFor([&] { return Count(server, plat::kFdClose) == 1; }));
  EXPECT_EQ(plat::Recv(server, buffer, sizeof(buffer), 0), 0);
  Settle();
  EXPECT_EQ(Count(server, plat::kFdClose), 1);

  // Writing to a peer that has gone is an error, never a signal: the first
  // write brings the peer's reset.
  int result = 0;
  EXPECT_TRUE(WaitFor([&] { return (result = plat::Send(server, "x", 1, 0)) == plat::kSocketError; }));
  EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaEConnReset);
}

TEST_F(WinsockTest, ANonBlockingConnectReportsItsOutcome) {
  uint16_t port;
  plat::SocketHandle listener = Listener(&port);
  plat::SocketHandle client = plat::Socket(plat::kAfInet, plat::kSockStream, 0);
  ASSERT_EQ(plat::WsaAsyncSelect(client, window_, kSocketMessage, plat::kFdConnect | plat::kFdWrite), 0);
  plat::SockAddrIn to = Loopback(port);
  int r = plat::Connect(client, Addr(&to), sizeof(to));
  if (r != 0) {
    EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaEWouldBlock);
  }
  ASSERT_TRUE(WaitFor([&] { return Count(client, plat::kFdConnect) == 1 && Count(client, plat::kFdWrite) == 1; }));
  for (const Event& e : events_) EXPECT_EQ(e.error, 0);

  // A refused connection: FD_CONNECT with the error in the high word.
  ASSERT_EQ(plat::CloseSocket(listener), 0);
  plat::SocketHandle lost = plat::Socket(plat::kAfInet, plat::kSockStream, 0);
  ASSERT_EQ(plat::WsaAsyncSelect(lost, window_, kSocketMessage, plat::kFdConnect), 0);
  plat::Connect(lost, Addr(&to), sizeof(to));
  ASSERT_TRUE(WaitFor([&] { return Count(lost, plat::kFdConnect) == 1; }));
  for (const Event& e : events_) {
    if (e.socket == lost) {
      EXPECT_EQ(e.error, plat::kWsaEConnRefused);
    }
  }
}

TEST_F(WinsockTest, NoMessageFollowsACloseOrAnUnselect) {
  uint16_t port;
  plat::SocketHandle listener = Listener(&port);
  ASSERT_EQ(plat::WsaAsyncSelect(listener, window_, kSocketMessage, plat::kFdAccept), 0);
  ASSERT_EQ(plat::WsaAsyncSelect(listener, window_, 0, 0), 0);
  plat::SocketHandle client = plat::Socket(plat::kAfInet, plat::kSockStream, 0);
  plat::SockAddrIn to = Loopback(port);
  ASSERT_EQ(plat::Connect(client, Addr(&to), sizeof(to)), 0);
  Settle();
  EXPECT_EQ(Count(listener, plat::kFdAccept), 0);
}

TEST_F(WinsockTest, DatagramsTravelWithTheirSenderAddress) {
  plat::SocketHandle a = plat::Socket(plat::kAfInet, plat::kSockDgram, plat::kIpProtoUdp);
  plat::SocketHandle b = plat::Socket(plat::kAfInet, plat::kSockDgram, plat::kIpProtoUdp);
  plat::SockAddrIn any = Loopback(0);
  ASSERT_EQ(plat::Bind(b, Addr(&any), sizeof(any)), 0);
  plat::SockAddrIn own{};
  int length = sizeof(own);
  ASSERT_EQ(plat::GetSockName(b, reinterpret_cast<plat::SockAddr*>(&own), &length), 0);
  ASSERT_EQ(plat::WsaAsyncSelect(b, window_, kSocketMessage, plat::kFdRead), 0);
  ASSERT_EQ(plat::SendTo(a, "ping", 4, 0, reinterpret_cast<plat::SockAddr*>(&own), sizeof(own)), 4);
  ASSERT_TRUE(WaitFor([&] { return Count(b, plat::kFdRead) == 1; }));
  char buffer[8];
  plat::SockAddrIn from{};
  length = sizeof(from);
  ASSERT_EQ(plat::RecvFrom(b, buffer, sizeof(buffer), 0, Addr(&from), &length), 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");
  EXPECT_EQ(from.family, plat::kAfInet);
  EXPECT_EQ(from.address[0], 127);
  char host[256];
  EXPECT_EQ(plat::GetHostName(host, sizeof(host)), 0);
  EXPECT_EQ(plat::GetHostName(host, 1), plat::kSocketError);
}

}  // namespace
