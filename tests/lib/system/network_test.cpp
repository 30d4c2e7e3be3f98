// The framed network layer over loopback, started as a start would be added,
// inside a started library on the headless desktop.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
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
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"

namespace {

using namespace nettest;
using testsupport::Sjis;

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

class NetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetBackend(plat::Backend::kHeadless);
    plat::HeadlessReset(plat::VirtualDesktop{});
    lock_folder_ = std::filesystem::temp_directory_path() /
                   ("rorud-net-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(lock_folder_);
    plat::SetWindowLockFolder(lock_folder_.string());
    ResetWindowSettings();
    ResetGraphicsDeviceForTest();
    capture_ = std::make_unique<testsupport::LogCapture>();
    plat::SetVirtualClockAutoAdvance(10);
    ChangeWindowMode(1);
    ASSERT_EQ(LibraryStart(), 0);
  }
  void TearDown() override {
    LibraryEnd();
    ResetWindowSettings();
    ResetGraphicsDeviceForTest();
    capture_.reset();
    plat::HeadlessReset(plat::VirtualDesktop{});
    std::error_code ignored;
    std::filesystem::remove_all(lock_folder_, ignored);
  }
  std::string Log() const {
    std::string out;
    for (char c : testsupport::StripStamps(capture_->File())) {
      if (c != '\r') out += c;
    }
    return out;
  }

  // Starts the network and makes one connected pair: a client record and
  // the record that accepted it.
  void StartPair() {
    port_ = StartNetwork();
    ASSERT_NE(port_, 0);
    client_ = ConnectRecord(port_);
    ASSERT_TRUE(PumpUntil([&] { return NewestAccepted() >= 0 && Record(client_)->open == 1; }));
    server_ = NewestAccepted();
    ASSERT_NE(server_, client_);
  }
  // Accepts one raw peer and returns the record's handle.
  int32_t AcceptRaw(plat::SocketHandle* peer) {
    const int32_t before = NewestAccepted();
    *peer = RawClient(port_);
    EXPECT_NE(*peer, plat::kInvalidSocket);
    int32_t h = -1;
    EXPECT_TRUE(PumpUntil([&] { return (h = NewestAccepted()) != before && h >= 0; }));
    return h;
  }

  std::filesystem::path lock_folder_;
  std::unique_ptr<testsupport::LogCapture> capture_;
  uint16_t port_ = 0;
  int32_t client_ = -1, server_ = -1;
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
  ASSERT_TRUE(PumpUntil([&] { return Record(server_)->complete_bytes == 3000000; }))
      << Record(server_)->receive_buffer.data_size << " " << Record(server_)->receive_remaining << " "
      << Record(client_)->send_buffer.data_size << " " << Record(client_)->send_remaining;
  EXPECT_GE(Record(server_)->receive_buffer.buffer_size, 3000000);
  EXPECT_EQ(TakeComplete(server_), big);
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
  // Two bytes of the word: peeked, not taken.
  for (int i = 0; i < 50; ++i) PumpNetMessages(1), RecvSocket(h);
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
  for (int i = 0; i < 50; ++i) PumpNetMessages(1);
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

TEST_F(NetworkTest, WithEverySlotTakenAnAcceptIsRefusedWithItsLogLine) {
  port_ = StartNetwork();
  std::vector<int32_t> fillers;
  for (int i = 0; i < kNetworkListenSlot; ++i) {
    NetworkRecord* d = NewRecord();
    d->datagram = 1;
    d->socket = plat::kInvalidSocket;
    fillers.push_back(AddRecord(d));
  }
  ASSERT_EQ(GetNetworkState().table.Count(), kNetworkSlots);
  plat::SocketHandle peer = RawClient(port_);
  ASSERT_TRUE(PumpUntil([&] {
    return Log().find(Sjis("空きソケットデータがなかったので accept を拒否しました \n")) != std::string::npos;
  }));
  EXPECT_EQ(GetNetworkState().table.Count(), kNetworkSlots);
  // The refused connection waits in the backlog; the next accept takes it
  // into the slot that was freed.
  EXPECT_EQ(FreeNetHandle(fillers[100]), 0);
  EXPECT_EQ(AcceptNetWork(), 1);
  EXPECT_EQ(GetNetworkState().table.Count(), kNetworkSlots);
  EXPECT_EQ(HandleSlot(NewestAccepted()), 100);
  plat::CloseSocket(peer);
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

}  // namespace
