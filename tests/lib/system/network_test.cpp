// The framed network layer over loopback, started as a start would be added,
// inside a started library on the headless desktop. Peers at the limits (slow
// readers, floods, peers that leave mid-message) are threads with plain
// sockets, over 127.0.0.1 only.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lib/core/log.h"
#include "lib/system/network.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphics_device.h"
#include "platform/window/backend.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/lib/system/net_start.h"
#include "tests/lib/system/network_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"

namespace {

using namespace nettest;
using testsupport::Sjis;

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; i += 4) {
    const uint32_t word = rng();
    for (size_t k = 0; k < 4 && i + k < n; ++k) out[i + k] = static_cast<uint8_t>(word >> (8 * k));
  }
  return out;
}

// Closes the hidden network window from another thread when a test has not
// stopped it within the time given: a drain that would otherwise never end
// sees the window go and returns, and the test reports the firing.
// Closes the window once the virtual clock reads more than limit_ms past
// start_ms (and less than half its range, so a clock not yet set forward
// reads as before it), which only a drain that never ends reaches: a drain
// moves the clock with every round, whatever the machine's speed. Stop()
// says whether it had to.
class Watchdog {
 public:
  Watchdog(plat::Window* window, uint32_t start_ms, uint32_t limit_ms)
      : thread_([this, window, start_ms, limit_ms] {
          std::unique_lock<std::mutex> lock(mutex_);
          while (!stopped_cv_.wait_for(lock, std::chrono::milliseconds(1), [this] { return stopped_; })) {
            const uint32_t since = plat::PeekTimeGetTime() - start_ms;
            if (since > limit_ms && since < 0x80000000u) {
              fired_ = true;
              plat::PostMessage(window, plat::kWmClose, 0, 0);
              return;
            }
          }
        }) {}
  ~Watchdog() { Stop(); }
  // True when it had to fire.
  bool Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
    }
    stopped_cv_.notify_all();
    if (thread_.joinable()) thread_.join();
    return fired_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable stopped_cv_;
  bool stopped_ = false;
  std::atomic<bool> fired_{false};
  std::thread thread_;
};


// ---- Not started --------------------------------------------------------------------

TEST_F(NetworkTest, WithoutAStartEveryOperationReturnsAtItsFirstTest) {
  const int32_t some = MakeHandle(kHandleKindNetwork, 0, 0);
  EXPECT_EQ(RecvSocket(some), -1);
  EXPECT_EQ(SendSocket(some), -1);
  EXPECT_EQ(AcceptNetWork(), -1);
  EXPECT_EQ(CloseNetHandle(some), -1);
  EXPECT_EQ(FreeNetHandle(some), -1);
  EXPECT_EQ(PumpNetMessages(1), 0);
  EXPECT_EQ(ProcessWindowMessages(), 0);
  EXPECT_EQ(NetworkEnd(), 0);
  EXPECT_EQ(Log().find(Sjis("ネットワーク")), std::string::npos);
  // The system's socket functions are there, although nothing calls them.
  EXPECT_NE(GetLoadedFunction("WSAStartup"), nullptr);
  EXPECT_NE(GetLoadedFunction("connect"), nullptr);
}

TEST_F(NetworkTest, ASocketMessageForNoRecordIsLoggedAndAnswered0) {
  EXPECT_EQ(plat::SendMessage(GetMainWindow(), kNetworkSocketMessage, 12345, plat::kFdRead), 0);
  EXPECT_NE(Log().find(Sjis("通信エラー No.1\n")), std::string::npos);
}

// An event finds its connection by the socket's number, which the system
// gives again once a connection has closed: the new connection gets its
// events, not the old one's record.
TEST_F(NetworkTest, ASocketNumberGivenAgainBringsItsEventsToTheNewConnection) {
  StartPair();
  const plat::SocketHandle socket = Record(server_)->socket;
  Queue(client_, {1});
  ASSERT_EQ(SendSocket(client_), 0);
  ASSERT_TRUE(PumpUntil([&] { return Record(server_)->complete_bytes == 1; }));
  ASSERT_EQ(CloseNetHandle(server_), 0);
  NetworkRecord* r = NewRecord();
  r->socket = socket;
  const int32_t again = AddRecord(r);
  EXPECT_EQ(plat::SendMessage(GetMainWindow(), kNetworkSocketMessage, socket, plat::kFdConnect), 1);
  EXPECT_EQ(Record(again)->open, 1);
  r->socket = plat::kInvalidSocket;  // not the system's to close again
  EXPECT_EQ(CloseNetHandle(again), 0);
}

// ---- Framed exchange ------------------------------------------------------------------

TEST_F(NetworkTest, MessagesTravelBothWaysBetweenTwoConnections) {
  StartPair();
  const NetworkRecord* s = Record(server_);
  EXPECT_EQ(s->accepted, 1);
  EXPECT_EQ(s->open, 1);
  EXPECT_EQ(s->ipv4_address[0], 127);
  EXPECT_EQ(s->ipv4_address[3], 1);
  EXPECT_NE(s->port, 0u);

  const std::vector<uint8_t> hello = {'h', 'e', 'l', 'l', 'o'};
  Queue(client_, hello);
  ASSERT_EQ(SendSocket(client_), 0);
  EXPECT_EQ(Record(client_)->send_buffer.data_size, 0);
  ASSERT_TRUE(PumpUntil([&] { return Record(server_)->complete_bytes == 5; }));
  EXPECT_EQ(TakeComplete(server_), hello);

  // Two messages the other way, one of them empty, and a third with binary data.
  const std::vector<uint8_t> a = RandomBytes(3000, 1), b = RandomBytes(17, 2);
  Queue(server_, a);
  ASSERT_EQ(SendSocket(server_), 0);
  Queue(server_, {});
  ASSERT_EQ(SendSocket(server_), 0);  // nothing queued: nothing sent
  Queue(server_, b);
  ASSERT_EQ(SendSocket(server_), 0);
  ASSERT_TRUE(PumpUntil([&] { return Record(client_)->complete_bytes == 3017; }));
  std::vector<uint8_t> both = a;
  both.insert(both.end(), b.begin(), b.end());
  EXPECT_EQ(TakeComplete(client_), both);
  EXPECT_EQ(Record(client_)->receive_remaining, 0);
}

TEST_F(NetworkTest, AMessageLargerThanTheBufferGrowsIt) {
  StartPair();
  // Larger than the socket buffers: both loops stop part-way many times and
  // only the read and write events carry the message on.
  const std::vector<uint8_t> big = RandomBytes(3000000, 3);
  Queue(client_, big);
  ASSERT_EQ(SendSocket(client_), 0);
  ASSERT_TRUE(PumpUntil([&] { return Record(server_)->complete_bytes == 3000000; },
                        [&] { return Record(server_)->complete_bytes - Record(server_)->receive_remaining; }))
      << Record(server_)->receive_buffer.data_size << " " << Record(server_)->receive_remaining << " "
      << Record(client_)->send_buffer.data_size << " " << Record(client_)->send_remaining;
  EXPECT_GE(Record(server_)->receive_buffer.buffer_size, 3000000);
  EXPECT_EQ(TakeComplete(server_), big);
}

TEST_F(NetworkTest, ALargeMessageComesInOrderAndItsBufferIsGivenBackOnceTaken) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  // A small message, a large one and a small one; the program takes the
  // first while the large one is three quarters in, or all three at once.
  const std::vector<uint8_t> a = RandomBytes(100, 20), big = RandomBytes(3 << 20, 21), c = RandomBytes(100, 22);
  std::vector<uint8_t> wire = Framed(a), rest = Framed(big), last = Framed(c);
  const size_t head = 4 + big.size() * 3 / 4;
  wire.insert(wire.end(), rest.begin(), rest.begin() + static_cast<ptrdiff_t>(head));
  rest.erase(rest.begin(), rest.begin() + static_cast<ptrdiff_t>(head));
  rest.insert(rest.end(), last.begin(), last.end());
  for (bool early : {true, false}) {
    SCOPED_TRACE(early ? "first taken early" : "all taken at once");
    int fd;
    const int32_t h = AcceptPosix(&fd);
    ASSERT_GE(h, 0);
    std::atomic<bool> go{!early};
    std::thread peer([&] {
      if (!WriteAll(fd, wire.data(), wire.size())) return;
      while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      WriteAll(fd, rest.data(), rest.size());
    });
    std::vector<uint8_t> got;
    if (early) {
      EXPECT_TRUE(PumpUntil([&] { return Record(h)->receive_remaining == static_cast<int32_t>(big.size() / 4); },
                            [&] { return -Record(h)->receive_remaining; }));
      got = TakeComplete(h);
      go = true;
    }
    EXPECT_TRUE(PumpUntil([&] { return Record(h)->complete_bytes == static_cast<int32_t>(big.size() + 200 - got.size()); },
                          [&] { return Record(h)->complete_bytes - Record(h)->receive_remaining; }));
    const std::vector<uint8_t> more = TakeComplete(h);
    got.insert(got.end(), more.begin(), more.end());
    PumpNetMessages(1);
    EXPECT_LE(Record(h)->receive_buffer.buffer_size, kNetworkReceiveKeepBytes);
    go = true;
    peer.join();
    close(fd);
    std::vector<uint8_t> all = a;
    all.insert(all.end(), big.begin(), big.end());
    all.insert(all.end(), c.begin(), c.end());
    EXPECT_TRUE(got == all) << got.size();
  }
}

// ---- Receive edge cases with a raw peer -----------------------------------------------

TEST_F(NetworkTest, APieceByPieceMessageIsTakenOnlyWhenItsLengthWordIsWhole) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  plat::SocketHandle peer;
  const int32_t h = AcceptRaw(&peer);
  const std::vector<uint8_t> body = RandomBytes(10, 4);
  const std::vector<uint8_t> wire = Framed(body);
  SendAll(peer, {wire[0], wire[1]});
  // Two bytes of the word, their read event served: no message begins.
  ASSERT_TRUE(Arrived({h}, 2));
  ASSERT_TRUE(WatcherRound().Wait());
  PumpNetMessages(1);
  RecvSocket(h);
  EXPECT_EQ(Record(h)->receive_remaining, 0);
  EXPECT_EQ(Record(h)->receive_buffer.data_size, 0);
  SendAll(peer, {wire[2], wire[3], wire[4], wire[5], wire[6]});
  ASSERT_TRUE(PumpUntil([&] { return Record(h)->receive_remaining == 7; }));
  EXPECT_EQ(Record(h)->incoming_size, 10);
  EXPECT_EQ(Record(h)->complete_bytes, 0);
  SendAll(peer, std::vector<uint8_t>(wire.begin() + 7, wire.end()));
  ASSERT_TRUE(PumpUntil([&] { return Record(h)->complete_bytes == 10; }));
  EXPECT_EQ(TakeComplete(h), body);
  plat::CloseSocket(peer);
}

TEST_F(NetworkTest, AMessageThatWrapsRoundTheReceiveBufferIsReadInTwoParts) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  plat::SocketHandle peer;
  const int32_t h = AcceptRaw(&peer);
  const std::vector<uint8_t> first = RandomBytes(600, 5);
  SendAll(peer, Framed(first));
  ASSERT_TRUE(PumpUntil([&] { return Record(h)->complete_bytes == 600; }));
  RingBuffer& ring = Record(h)->receive_buffer;
  const int32_t size = ring.buffer_size;  // 600 + 1000
  // A reader takes 500 bytes: 100 held at 500..599.
  std::vector<uint8_t> taken(500);
  ASSERT_EQ(RingBufferRead(&ring, taken.data(), 500, 0), 0);
  Record(h)->complete_bytes -= 500;
  const int32_t fits = size - ring.data_size;  // fills the ring without growing it
  const std::vector<uint8_t> second = RandomBytes(static_cast<size_t>(fits), 6);
  SendAll(peer, Framed(second));
  ASSERT_TRUE(PumpUntil([&] { return Record(h)->complete_bytes == 100 + fits; }));
  EXPECT_EQ(ring.buffer_size, size);
  EXPECT_EQ(ring.data_size, size);
  std::vector<uint8_t> expect(first.begin() + 500, first.end());
  expect.insert(expect.end(), second.begin(), second.end());
  EXPECT_EQ(TakeComplete(h), expect);
  plat::CloseSocket(peer);
}

TEST_F(NetworkTest, ALengthWordBeyondAnIntSetsTheErrorAndThePumpClosesTheConnection) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  for (uint32_t length : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFF0u}) {
    plat::SocketHandle peer;
    const int32_t h = AcceptRaw(&peer);
    std::vector<uint8_t> word(4);
    for (int i = 0; i < 4; ++i) word[i] = static_cast<uint8_t>(length >> (8 * i));
    word.push_back(0xAB);
    SendAll(peer, word);
    // The error is seen by a receive, and the next pump closes the record.
    ASSERT_TRUE(PumpUntil([&] { return Record(h) == nullptr; })) << length;
    EXPECT_EQ(RecvSocket(h), -1);
    EXPECT_EQ(GetNetworkState().table.Count(), 1);  // only the listening record
    plat::CloseSocket(peer);
  }
  EXPECT_NE(Log().find(Sjis("受信データを保存するリングバッファのリサイズに失敗しました(データサイズ -1 byte)")),
            std::string::npos);
}

TEST_F(NetworkTest, AnErroredConnectionRefusesReceiveAndSendWithItsLogLine) {
  StartPair();
  Record(server_)->error = 1;
  EXPECT_EQ(RecvSocket(server_), -1);
  Queue(server_, {1, 2, 3});
  EXPECT_EQ(SendSocket(server_), -1);
  EXPECT_NE(Log().find(Sjis("このネットワークハンドルにはエラーが発生しています in RecvSocket\n")),
            std::string::npos);
  EXPECT_NE(Log().find(Sjis("このネットワークハンドルにはエラーが発生しています in SendSocket\n")),
            std::string::npos);
}

TEST_F(NetworkTest, ANestedReceiveOrSendIsRefused) {
  StartPair();
  GetNetworkState().receiving = 1;
  EXPECT_EQ(RecvSocket(server_), -1);
  GetNetworkState().receiving = 0;
  GetNetworkState().sending = 1;
  Queue(server_, {1});
  EXPECT_EQ(SendSocket(server_), -1);
  GetNetworkState().sending = 0;
  EXPECT_EQ(SendSocket(server_), 0);
}

TEST_F(NetworkTest, FramedReceiveOffLeavesTheDataInTheSocket) {
  GetNetworkState().framed_receive_off = 1;
  port_ = StartNetwork();
  plat::SocketHandle peer;
  const int32_t h = AcceptRaw(&peer);
  EXPECT_EQ(Record(h)->framed_receive, 0);
  SendAll(peer, Framed({1, 2, 3}));
  ASSERT_TRUE(Arrived({h}, 7));
  ASSERT_TRUE(WatcherRound().Wait());
  PumpNetMessages(1);  // the read event
  EXPECT_EQ(RecvSocket(h), 0);
  EXPECT_EQ(Record(h)->receive_buffer.data_size, 0);
  plat::CloseSocket(peer);
}

// ---- Send resumption --------------------------------------------------------------------

TEST_F(NetworkTest, APartlySentLengthWordIsFinishedBeforeTheBody) {
  port_ = StartNetwork();
  plat::SocketHandle peer;
  const int32_t h = AcceptRaw(&peer);
  const std::vector<uint8_t> body = RandomBytes(9, 7);
  Queue(h, body);
  // Two bytes of the word 9 went out earlier.
  Record(h)->send_remaining = 9;
  Record(h)->header_remaining = 2;
  ASSERT_EQ(SendSocket(h), 0);
  EXPECT_EQ(Record(h)->send_buffer.data_size, 0);
  EXPECT_EQ(Record(h)->send_remaining, 0);
  std::vector<uint8_t> got(11);
  size_t have = 0;
  while (have < got.size()) {
    int n = plat::Recv(peer, reinterpret_cast<char*>(got.data()) + have, static_cast<int>(got.size() - have), 0);
    ASSERT_GT(n, 0);
    have += static_cast<size_t>(n);
  }
  std::vector<uint8_t> expect = {0, 0};
  expect.insert(expect.end(), body.begin(), body.end());
  EXPECT_EQ(got, expect);
  plat::CloseSocket(peer);
}

// ---- Closing, handles and the table --------------------------------------------------------

TEST_F(NetworkTest, APeerClosingClearsOpenAndTheRecordStaysUntilClosed) {
  StartPair();
  Queue(client_, {7, 7, 7});
  ASSERT_EQ(SendSocket(client_), 0);
  ASSERT_EQ(CloseNetHandle(client_), 0);
  EXPECT_EQ(Record(client_), nullptr);
  ASSERT_TRUE(PumpUntil([&] { return Record(server_)->open == 0; }));
  EXPECT_EQ(Record(server_)->close_state, 0);
  EXPECT_EQ(TakeComplete(server_), (std::vector<uint8_t>{7, 7, 7}));
  EXPECT_EQ(CloseNetHandle(server_), 0);
  EXPECT_EQ(CloseNetHandle(server_), -1);
  EXPECT_EQ(GetNetworkState().table.Count(), 1);
}

TEST_F(NetworkTest, CloseSendsWhatIsStillQueued) {
  StartPair();
  const std::vector<uint8_t> body = RandomBytes(5000, 8);
  Queue(client_, body);
  ASSERT_EQ(CloseNetHandle(client_), 0);
  ASSERT_TRUE(PumpUntil([&] { return Record(server_)->complete_bytes == 5000; }));
  EXPECT_EQ(TakeComplete(server_), body);
}

TEST_F(NetworkTest, StaleAndForeignHandlesAreRefused) {
  StartPair();
  const int32_t slot = HandleSlot(server_);
  ASSERT_EQ(CloseNetHandle(server_), 0);
  plat::SocketHandle peer;
  const int32_t again = AcceptRaw(&peer);
  EXPECT_EQ(HandleSlot(again), slot);  // the lowest free slot is reused
  EXPECT_NE(again, server_);
  for (int32_t bad : {server_, -1, again & ~kHandleKindField, (again & ~kHandleKindField) | kHandleKindFont,
                      MakeHandle(kHandleKindNetwork, HandleCheck(again), 8193)}) {
    EXPECT_EQ(RecvSocket(bad), -1) << std::hex << bad;
    EXPECT_EQ(SendSocket(bad), -1);
    EXPECT_EQ(CloseNetHandle(bad), -1);
    EXPECT_EQ(FreeNetHandle(bad), -1);
  }
  EXPECT_EQ(FreeNetHandle(again), -1);  // a stream record is closed, not freed
  EXPECT_NE(Record(again), nullptr);
  plat::CloseSocket(peer);
}

TEST_F(NetworkTest, DatagramRecordsOnlyRaiseTheirFlagsAndAreFreedNotClosed) {
  port_ = StartNetwork();
  NetworkRecord* d = NewRecord();
  d->datagram = 1;
  d->socket = plat::Socket(plat::kAfInet, plat::kSockDgram, plat::kIpProtoUdp);
  const int32_t h = AddRecord(d);
  EXPECT_EQ(OnSocketEvent(plat::kFdRead, d->socket), 1);
  EXPECT_EQ(OnSocketEvent(plat::kFdWrite, d->socket), 1);
  EXPECT_EQ(d->datagram_readable, 1);
  EXPECT_EQ(d->datagram_writable, 1);
  EXPECT_EQ(RecvSocket(h), -1);
  EXPECT_EQ(CloseNetHandle(h), -1);
  EXPECT_EQ(FreeNetHandle(h), 0);
  EXPECT_EQ(Record(h), nullptr);
}

TEST_F(NetworkTest, WithEverySlotTakenAnAcceptIsRefusedAndTakenUpOnceASlotFrees) {
  port_ = StartNetwork();
  std::vector<int32_t> fillers;
  for (int i = 0; i < kNetworkListenSlot; ++i) {
    NetworkRecord* d = NewRecord();
    d->datagram = 1;
    d->socket = plat::kInvalidSocket;
    fillers.push_back(AddRecord(d));
  }
  ASSERT_EQ(GetNetworkState().table.Count(), kNetworkSlots);
  plat::SocketHandle waiting = RawClient(port_);
  ASSERT_TRUE(PumpUntil([&] {
    return Log().find(Sjis("空きソケットデータがなかったので accept を拒否しました \n")) != std::string::npos;
  }));
  EXPECT_EQ(GetNetworkState().table.Count(), kNetworkSlots);
  // The refused peer waits in the backlog; the pump takes it into the slot
  // that frees, and a peer that comes later into the next one.
  plat::SocketHandle later = plat::kInvalidSocket;
  for (int32_t slot : {100, 7}) {
    EXPECT_EQ(FreeNetHandle(fillers[static_cast<size_t>(slot)]), 0);
    if (slot == 7) later = RawClient(port_);
    const int32_t before = NewestAccepted();
    ASSERT_TRUE(PumpUntil([&] { return NewestAccepted() != before; })) << slot;
    EXPECT_EQ(HandleSlot(NewestAccepted()), slot);
    EXPECT_EQ(GetNetworkState().table.Count(), kNetworkSlots);
  }
  plat::CloseSocket(waiting);
  plat::CloseSocket(later);
}

TEST_F(NetworkTest, TheLibraryEndClosesEveryConnectionAndTheHiddenWindow) {
  StartPair();
  plat::Window* hidden = GetNetworkState().window;
  const int before = GetAllocationCount();
  ASSERT_GT(before, 0);
  ASSERT_EQ(LibraryEnd(), 0);
  EXPECT_EQ(GetNetworkState().started, 0);
  EXPECT_EQ(GetNetworkState().table.Count(), 0);
  EXPECT_FALSE(plat::IsWindow(hidden));
  const std::string log = Log();
  const size_t begin = log.find(Sjis("ネットワーク関連の終了処理を行います \n"));
  const size_t end = log.find(Sjis("ネットワーク関連の終了処理は完了しました\n"));
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  EXPECT_LT(begin, end);
  // The socket layer was cleaned up with the network.
  EXPECT_EQ(plat::Socket(plat::kAfInet, plat::kSockStream, 0), plat::kInvalidSocket);
  EXPECT_EQ(plat::WsaGetLastError(), plat::kWsaNotInitialised);
}

// ---- Peers at the limits -------------------------------------------------------------------

TEST_F(NetworkTest, ALargeMessageToAPeerThatReadsLateIsSentWithoutAClose) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  int fd;
  const int32_t h = AcceptPosix(&fd);
  ASSERT_GE(h, 0);
  // A small receive window, so that most of the message waits on this side.
  const int window = 64 * 1024;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof(window));
  const std::vector<uint8_t> big = RandomBytes(8 << 20, 9);
  std::vector<uint8_t> got(big.size() + 4);
  std::atomic<bool> first_send{false}, done{false};
  std::thread peer([&] {
    while (!first_send) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    done = ReadExactly(fd, got.data(), got.size());
  });
  Queue(h, big);
  EXPECT_EQ(SendSocket(h), 0);
  first_send = true;
  EXPECT_GT(Record(h)->send_buffer.data_size, 0);
  // Only the write events carry it on from here.
  const bool sent = PumpUntil([&] { return done && Record(h)->send_buffer.data_size == 0; },
                              [&] { return Record(h)->send_buffer.data_size; });
  shutdown(fd, SHUT_RDWR);
  peer.join();
  close(fd);
  ASSERT_TRUE(sent) << Record(h)->send_buffer.data_size << " bytes still queued";
  EXPECT_EQ(got, Framed(big));
}

TEST_F(NetworkTest, APeerSendingWithoutPauseCannotHoldThePump) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  // Small messages (a pass ends at its count) and large ones (at its bytes),
  // 12 MB of each as fast as loopback takes them.
  for (uint32_t body : {1000u, 64u * 1024}) {
    SCOPED_TRACE(body);
    int fd;
    const int32_t h = AcceptPosix(&fd);
    ASSERT_GE(h, 0);
    const uint32_t messages = 12'000'000 / body, batch = (64 * 1024) / body + 1;
    // Each message is filled with its number.
    std::thread peer([&] {
      std::vector<uint8_t> wire;
      for (uint32_t i = 0; i < messages; i += batch) {
        wire.clear();
        for (uint32_t j = i; j < i + batch && j < messages; ++j) {
          const std::vector<uint8_t> one = Framed(std::vector<uint8_t>(body, static_cast<uint8_t>(j)));
          wire.insert(wire.end(), one.begin(), one.end());
        }
        if (!WriteAll(fd, wire.data(), wire.size())) return;
      }
    });
    // The game's frame pump, and the program taking the messages after each.
    size_t most = 0, total = 0;
    bool intact = true;
    // Given up only once nothing has come for kPeerWaitNet.
    auto until = std::chrono::steady_clock::now() + kPeerWaitNet;
    while (total < size_t{messages} * body && std::chrono::steady_clock::now() < until) {
      ProcessWindowMessages();
      const std::vector<uint8_t> bytes = TakeComplete(h);
      for (size_t i = 0; i < bytes.size(); ++i) {
        intact = intact && bytes[i] == static_cast<uint8_t>((total + i) / body);
      }
      most = std::max(most, bytes.size());
      total += bytes.size();
      if (!bytes.empty()) until = std::chrono::steady_clock::now() + kPeerWaitNet;
    }
    shutdown(fd, SHUT_RDWR);
    peer.join();
    close(fd);
    EXPECT_EQ(total, size_t{messages} * body);
    EXPECT_TRUE(intact);
    // Each frame's network pump takes at most what one connection may, never
    // the flood (small messages are read whole, a chunk at a time).
    EXPECT_LE(most, size_t{kNetworkConnectionPumpBytes} + kNetworkReceiveChunk);
  }
}

TEST_F(NetworkTest, EmptyMessagesCountAgainstAReceivePass) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  plat::SocketHandle peer;
  const int32_t h = AcceptRaw(&peer);
  std::vector<uint8_t> wire(4 * 3 * kNetworkReceivePassMessages, 0);
  const std::vector<uint8_t> last = Framed({42});
  wire.insert(wire.end(), last.begin(), last.end());
  SendAll(peer, wire);
  ASSERT_EQ(RecvSocket(h), 0);
  EXPECT_EQ(Record(h)->complete_bytes, 0);
  ASSERT_TRUE(PumpUntil([&] { return Record(h)->complete_bytes == 1; }));
  EXPECT_EQ(TakeComplete(h), std::vector<uint8_t>{42});
  plat::CloseSocket(peer);
}

TEST_F(NetworkTest, APeerThatAnnouncesMuchAndSendsLittleCostsWhatItSent) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  plat::SocketHandle peer;
  const int32_t h = AcceptRaw(&peer);
  const int64_t before = GetAllocationTotal();
  SendAll(peer, {0x00, 0x00, 0xFF, 0x7F, 1, 2, 3});
  ASSERT_TRUE(PumpUntil([&] { return Record(h)->receive_remaining == 0x7FFF0000 - 3; }));
  const int64_t grown = GetAllocationTotal() - before;
  EXPECT_GE(grown, 0);
  EXPECT_LE(grown, 2 * kNetworkReceiveStep);
  EXPECT_EQ(Record(h)->error, 0);
  plat::CloseSocket(peer);
}

TEST_F(NetworkTest, AClosingDrainEndsAcrossTheClockWrapAndAtOnceForAPeerThatLeft) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  // Silent mid-message; not reading while much is queued; gone mid-message.
  plat::SocketHandle silent, deaf, gone;
  const int32_t silent_h = AcceptRaw(&silent);
  const int32_t deaf_h = AcceptRaw(&deaf);
  const int32_t gone_h = AcceptRaw(&gone);
  const std::vector<uint8_t> partial = {100, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  SendAll(silent, partial);
  SendAll(gone, partial);
  plat::CloseSocket(gone);
  Queue(deaf_h, RandomBytes(8 << 20, 10));
  ASSERT_EQ(SendSocket(deaf_h), 0);
  ASSERT_GT(Record(deaf_h)->send_buffer.data_size, 0);
  ASSERT_TRUE(PumpUntil([&] {
    return Record(silent_h)->receive_remaining == 90 && Record(gone_h)->open == 0;
  }));
  ASSERT_EQ(Record(gone_h)->receive_remaining, 90);

  constexpr uint64_t kWrapMs = uint64_t{1} << 31;
  // Ten times the two seconds a close may drain.
  plat::SetVirtualClockMicros((kWrapMs - 300) * 1000);
  Watchdog watchdog(GetNetworkState().window, static_cast<uint32_t>(kWrapMs - 300), 20000);
  for (int32_t h : {silent_h, deaf_h, gone_h}) {
    plat::SetVirtualClockMicros((kWrapMs - 300) * 1000);
    EXPECT_EQ(CloseNetHandle(h), 0);
    const uint64_t waited = plat::PeekTimeGetTime() - (kWrapMs - 300);
    if (h == gone_h) {
      EXPECT_LT(waited, 100u);  // nothing more can come
    } else {
      EXPECT_GE(waited, 1000u) << h;  // its second, across the wrap
      EXPECT_LT(waited, 1200u) << h;
    }
  }
  EXPECT_FALSE(watchdog.Stop()) << "a drain went on past the wrap";
  EXPECT_EQ(GetNetworkState().table.Count(), 1);
  plat::CloseSocket(silent);
  plat::CloseSocket(deaf);
}

TEST_F(NetworkTest, AClientConnectingJustBeforeTheEndLeavesNoAllocation) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  // Slot 0 free and slot 1 taken: the end's close of slot 1 pumps the accept.
  plat::SocketHandle a, b;
  const int32_t ha = AcceptRaw(&a);
  AcceptRaw(&b);
  ASSERT_EQ(CloseNetHandle(ha), 0);
  ASSERT_EQ(HandleSlot(NewestAccepted()), 1);
  plat::SocketHandle late = RawClient(port_);
  ASSERT_NE(late, plat::kInvalidSocket);
  // Its accept event waits in the hidden window's queue; what comes before
  // it (the other record's write event, with nothing to send) is dropped.
  plat::Window* hidden = GetNetworkState().window;
  bool queued = false;
  const auto until = std::chrono::steady_clock::now() + kPeerWaitNet;
  while (!queued && std::chrono::steady_clock::now() < until) {
    plat::Message m;
    if (!plat::PeekMessage(&m, hidden, false)) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    queued = m.message == kNetworkSocketMessage && (m.lparam & 0xFFFF) == plat::kFdAccept;
    if (!queued) plat::PeekMessage(&m, hidden, true);
  }
  ASSERT_TRUE(queued);
  ASSERT_EQ(LibraryEnd(), 0);
  EXPECT_EQ(GetAllocationCount(), 0);
}

TEST_F(NetworkTest, AcceptOutOfDescriptorsWaitsForACloseOrASecond) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  plat::SocketHandle first;
  const int32_t first_h = AcceptRaw(&first);
  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  WatcherRound watcher;
  for (bool by_close : {false, true}) {
    SCOPED_TRACE(by_close ? "a close" : "a second");
    const int32_t before = NewestAccepted();
    plat::SocketHandle waiting = RawClient(port_);
    ASSERT_NE(waiting, plat::kInvalidSocket);
    // No descriptor left from the lowest free one on.
    const int lowest = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowest, 0);
    close(lowest);
    rlimit tight = limit;
    tight.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const bool paused = PumpUntil([&] { return GetNetworkState().accept_paused != 0; });
    // The event the failed accept re-armed comes once; after it no accept
    // is tried, so the system posts nothing more.
    const bool rearmed = watcher.Wait();
    PumpNetMessages(1);
    plat::Message m;
    const bool quiet = watcher.Wait() && !plat::PeekMessage(&m, GetNetworkState().window, false);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    ASSERT_TRUE(paused);
    ASSERT_TRUE(rearmed);
    EXPECT_TRUE(quiet);
    PumpNetMessages(1);
    EXPECT_EQ(NewestAccepted(), before);  // still waiting for its reason
    if (by_close) {
      ASSERT_EQ(CloseNetHandle(first_h), 0);
    } else {
      plat::AdvanceVirtualClock(1'000'000);
    }
    EXPECT_TRUE(PumpUntil([&] { return NewestAccepted() != before && GetNetworkState().accept_paused == 0; }));
    (void)waiting;
  }
  plat::CloseSocket(first);
}

// ---- Many peers and odd ones ----------------------------------------------------------------

TEST_F(NetworkTest, OnePumpServesEveryPeerWhoseMessageWaits) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  constexpr int kPeers = 20;
  std::vector<int> fds(kPeers);
  std::vector<int32_t> handles(kPeers);
  for (int i = 0; i < kPeers; ++i) handles[i] = AcceptPosix(&fds[i]);
  WatcherRound watcher;
  ASSERT_TRUE(watcher.Wait());
  PumpNetMessages(1);  // the write events of the accepts
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < kPeers; ++i) {
      const std::vector<uint8_t> one = Framed(std::vector<uint8_t>(64, static_cast<uint8_t>(i + round)));
      ASSERT_TRUE(WriteAll(fds[i], one.data(), one.size()));
    }
    // Each peer's message is in its socket and its read event queued.
    ASSERT_TRUE(Arrived(handles, 68));
    ASSERT_TRUE(watcher.Wait());
    PumpNetMessages(1);
    for (int i = 0; i < kPeers; ++i) {
      EXPECT_EQ(TakeComplete(handles[i]), std::vector<uint8_t>(64, static_cast<uint8_t>(i + round)))
          << "peer " << i << ", round " << round;
    }
  }
  for (int fd : fds) close(fd);
}

TEST_F(NetworkTest, LengthWordsSplitAtAnyOffsetNeverStallAConnection) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  // Small messages in 64 KiB writes put the segment ends at every offset of
  // a word; the last message follows many empty ones in one write.
  for (uint32_t body : {1u, 7u, 0u}) {
    SCOPED_TRACE(body);
    int fd;
    const int32_t h = AcceptPosix(&fd);
    ASSERT_GE(h, 0);
    const uint32_t messages = body == 0 ? 100'000 : 300'000 / (body + 4);
    std::vector<uint8_t> wire;
    for (uint32_t i = 0; i < messages; ++i) {
      const std::vector<uint8_t> one = Framed(std::vector<uint8_t>(body, static_cast<uint8_t>(i)));
      wire.insert(wire.end(), one.begin(), one.end());
    }
    const std::vector<uint8_t> last = Framed({'h', 'e', 'l', 'l', 'o'});
    wire.insert(wire.end(), last.begin(), last.end());
    const size_t chunk = body == 0 ? wire.size() : 64 * 1024;
    std::thread peer([&] {
      for (size_t at = 0; at < wire.size(); at += chunk) {
        if (!WriteAll(fd, wire.data() + at, std::min(chunk, wire.size() - at))) return;
      }
      shutdown(fd, SHUT_WR);
    });
    std::vector<uint8_t> got;
    // Everything, then the peer's close.
    const bool closed = PumpUntil(
        [&] {
          const std::vector<uint8_t> bytes = TakeComplete(h);
          got.insert(got.end(), bytes.begin(), bytes.end());
          return Record(h)->open == 0;
        },
        [&] { return static_cast<int64_t>(got.size()); });
    peer.join();
    close(fd);
    EXPECT_TRUE(closed) << got.size() << " bytes taken";
    EXPECT_EQ(CloseNetHandle(h), 0);
    if (got.size() != size_t{messages} * body + 5) {
      ADD_FAILURE() << got.size() << " bytes of " << size_t{messages} * body + 5;
      continue;
    }
    for (uint32_t i = 0; i < messages * body; ++i) ASSERT_EQ(got[i], static_cast<uint8_t>(i / body)) << i;
    EXPECT_EQ(std::string(got.end() - 5, got.end()), "hello");
  }
}

TEST_F(NetworkTest, APeerThatClosesAfterPartOfALengthWordIsSeenToClose) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  for (int part = 1; part <= 3; ++part) {
    plat::SocketHandle peer;
    const int32_t h = AcceptRaw(&peer);
    SendAll(peer, std::vector<uint8_t>(static_cast<size_t>(part), 9));
    plat::CloseSocket(peer);
    ASSERT_TRUE(PumpUntil([&] { return Record(h)->open == 0; })) << part;
    EXPECT_EQ(Record(h)->receive_word_bytes, 0);
    EXPECT_EQ(Record(h)->receive_buffer.data_size, 0);
    EXPECT_EQ(CloseNetHandle(h), 0);
  }
  EXPECT_EQ(CountInLog("受信途中のデータ長 1 byte は相手が切断したので破棄しました\n"), 1u);
  EXPECT_EQ(CountInLog("受信途中のデータ長 3 byte は相手が切断したので破棄しました\n"), 1u);
}

TEST_F(NetworkTest, AReplyToAPeerThatHalfClosedIsSentWhole) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  int fd;
  const int32_t h = AcceptPosix(&fd);
  ASSERT_GE(h, 0);
  const std::vector<uint8_t> request = Framed({'g', 'e', 't'});
  ASSERT_TRUE(WriteAll(fd, request.data(), request.size()));
  shutdown(fd, SHUT_WR);
  ASSERT_TRUE(PumpUntil([&] { return Record(h)->open == 0; }));
  EXPECT_EQ(TakeComplete(h), (std::vector<uint8_t>{'g', 'e', 't'}));
  const std::vector<uint8_t> reply = RandomBytes(8 << 20, 11);
  std::vector<uint8_t> got(reply.size() + 4);
  std::atomic<bool> done{false};
  std::thread peer([&] { done = ReadExactly(fd, got.data(), got.size()); });
  Queue(h, reply);
  EXPECT_EQ(SendSocket(h), 0);
  const bool sent = PumpUntil([&] { return done && Record(h)->send_buffer.data_size == 0; },
                              [&] { return Record(h)->send_buffer.data_size; });
  shutdown(fd, SHUT_RDWR);
  peer.join();
  close(fd);
  ASSERT_TRUE(sent) << Record(h)->send_buffer.data_size << " bytes still queued";
  EXPECT_EQ(got, Framed(reply));
}

TEST_F(NetworkTest, ACloseStopsSendingOnceThePeerHasGone) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  // A peer that reads 1 MiB of 8 and resets.
  int fd;
  const int32_t reset_h = AcceptPosix(&fd);
  ASSERT_GE(reset_h, 0);
  Queue(reset_h, RandomBytes(8 << 20, 12));
  ASSERT_EQ(SendSocket(reset_h), 0);
  std::vector<uint8_t> some(1 << 20);
  std::atomic<bool> read{false};
  std::thread peer([&] { read = ReadExactly(fd, some.data(), some.size()); });
  const bool one_mib = PumpUntil([&] { return read.load(); });
  shutdown(fd, SHUT_RD);
  peer.join();
  ASSERT_TRUE(one_mib);
  const linger abort{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
  close(fd);
  ASSERT_TRUE(PumpUntil([&] { return Record(reset_h)->open == 0; }));
  ASSERT_GT(Record(reset_h)->send_buffer.data_size, 0);
  // A connect that is refused, with three bytes queued.
  int spare = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(any);
  ASSERT_EQ(bind(spare, reinterpret_cast<sockaddr*>(&any), sizeof(any)), 0);
  ASSERT_EQ(getsockname(spare, reinterpret_cast<sockaddr*>(&any), &length), 0);
  close(spare);  // nothing listens on its port now
  const int32_t refused_h = ConnectRecord(ntohs(any.sin_port));
  Queue(refused_h, {1, 2, 3});
  for (int32_t h : {reset_h, refused_h}) {
    const uint32_t start = plat::PeekTimeGetTime();
    EXPECT_EQ(CloseNetHandle(h), 0);
    EXPECT_LT(plat::PeekTimeGetTime() - start, 200u) << h;
  }
  EXPECT_EQ(GetNetworkState().table.Count(), 1);
}

TEST_F(NetworkTest, TheEndDrainsSilentPeersSideBySide) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  std::vector<plat::SocketHandle> peers(10);
  std::vector<int32_t> handles;
  for (plat::SocketHandle& peer : peers) {
    handles.push_back(AcceptRaw(&peer));
    SendAll(peer, {0xA0, 0x86, 0x01, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});  // 10 of 100,000 bytes
  }
  ASSERT_TRUE(PumpUntil([&] {
    return std::all_of(handles.begin(), handles.end(), [](int32_t h) { return Record(h)->receive_remaining == 99'990; });
  }));
  const uint32_t start = plat::PeekTimeGetTime();
  ASSERT_EQ(NetworkEnd(), 0);
  const uint32_t waited = plat::PeekTimeGetTime() - start;
  EXPECT_GE(waited, 1000u);
  EXPECT_LT(waited, 1500u);
  ASSERT_EQ(LibraryEnd(), 0);
  EXPECT_EQ(GetAllocationCount(), 0);
  EXPECT_EQ(GetNetworkState().table.Count(), 0);
}

TEST_F(NetworkTest, TheEndWaitsForNoIdlePeerNorOneThatLeftMidMessage) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  std::vector<plat::SocketHandle> idle(5), gone(3);
  for (plat::SocketHandle& peer : idle) AcceptRaw(&peer);
  std::vector<int32_t> gone_handles;
  for (plat::SocketHandle& peer : gone) {
    gone_handles.push_back(AcceptRaw(&peer));
    SendAll(peer, {100, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    plat::CloseSocket(peer);
  }
  // Their first bytes are read, and their closes have come.
  ASSERT_TRUE(PumpUntil([&] {
    return std::all_of(gone_handles.begin(), gone_handles.end(),
                       [](int32_t h) { return Record(h)->receive_remaining == 90 && Record(h)->open == 0; });
  }));
  // On the virtual clock the end's time is its 1 ms waits: nothing is left
  // to wait for, where a drain that waited would show its whole second.
  const uint32_t start = plat::PeekTimeGetTime();
  ASSERT_EQ(NetworkEnd(), 0);
  EXPECT_LT(plat::PeekTimeGetTime() - start, 1000u);
}

TEST_F(NetworkTest, AFloodThatTheProgramDoesNotTakeIsHeldBackAndNothingIsLost) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  int fd;
  const int32_t h = AcceptPosix(&fd);
  ASSERT_GE(h, 0);
  constexpr uint32_t kBody = 64 * 1024, kMessages = 400;  // 25 MiB
  std::thread peer([&] {
    for (uint32_t i = 0; i < kMessages; ++i) {
      const std::vector<uint8_t> one = Framed(std::vector<uint8_t>(kBody, static_cast<uint8_t>(i)));
      if (!WriteAll(fd, one.data(), one.size())) return;
    }
  });
  // Pumps that take nothing: reading stops at the limit, past which only
  // the message under way is read.
  int32_t most = 0;
  const bool held = PumpUntil([&] {
    most = std::max(most, Record(h)->receive_buffer.data_size);
    return Record(h)->receive_held != 0 || most > kNetworkReceiveHoldBytes + static_cast<int32_t>(kBody);
  });
  EXPECT_TRUE(held);
  EXPECT_GE(most, kNetworkReceiveHoldBytes);
  EXPECT_LE(most, kNetworkReceiveHoldBytes + static_cast<int32_t>(kBody));
  // Taken, they all come, in order.
  size_t total = 0;
  bool intact = true;
  const bool all = PumpUntil(
      [&] {
        const std::vector<uint8_t> bytes = TakeComplete(h);
        for (size_t i = 0; i < bytes.size(); i += 4096) intact = intact && bytes[i] == static_cast<uint8_t>((total + i) / kBody);
        total += bytes.size();
        return total == size_t{kMessages} * kBody;
      },
      [&] { return static_cast<int64_t>(total); });
  shutdown(fd, SHUT_RDWR);
  peer.join();
  close(fd);
  EXPECT_TRUE(all) << total;
  EXPECT_TRUE(intact);
}

}  // namespace
