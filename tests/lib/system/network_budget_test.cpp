// How a network pump shares what it reads among the connections that have
// data: peers over 127.0.0.1 whose messages all wait in their sockets before
// one pump runs, and the messages and bytes that pump took from each.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "lib/system/network.h"
#include "platform/net/winsock.h"
#include "platform/window/window.h"
#include "tests/lib/system/net_start.h"
#include "tests/lib/system/network_fixture.h"

namespace {

using namespace nettest;

// Messages of one byte each, numbered from first on (modulo 256): five bytes
// on the wire apiece.
constexpr size_t kWireBytes = 5;
std::vector<uint8_t> Numbered(int count, int first) {
  std::vector<uint8_t> wire;
  for (int i = first; i < first + count; ++i) {
    const std::vector<uint8_t> one = Framed({static_cast<uint8_t>(i)});
    wire.insert(wire.end(), one.begin(), one.end());
  }
  return wire;
}

// The bytes waiting in a connection's socket, up to limit.
size_t InSocket(int32_t handle, size_t limit) {
  std::vector<char> peek(limit);
  const int n = plat::Recv(Record(handle)->socket, peek.data(), static_cast<int>(limit), plat::kMsgPeek);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

// Waits until each connection's socket holds the bytes given and its read
// event has come, the hidden window's events dispatched as the library's own
// pump dispatches them (outside a network pump); false after five seconds.
bool AllWaiting(const std::vector<int32_t>& handles, const std::vector<size_t>& bytes) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    plat::Message m;
    while (plat::PeekMessage(&m, GetNetworkState().window, true)) {
      plat::TranslateMessage(&m);
      plat::DispatchMessage(&m);
    }
    bool all = true;
    for (size_t i = 0; i < handles.size(); ++i) {
      all = all && InSocket(handles[i], bytes[i] + 1) == bytes[i] && Record(handles[i])->ready == 1;
    }
    if (all) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// The messages the peers send, all waiting before one pump runs: how many
// that pump took from each. Each took the first of its messages, whole and
// in order, and its socket holds the bytes of the rest.
std::vector<int> OnePump(const std::vector<int>& fds, const std::vector<int32_t>& handles,
                         const std::vector<int>& counts) {
  std::vector<size_t> bytes;
  for (size_t i = 0; i < fds.size(); ++i) {
    const std::vector<uint8_t> wire = Numbered(counts[i], 0);
    EXPECT_TRUE(WriteAll(fds[i], wire.data(), wire.size()));
    bytes.push_back(wire.size());
  }
  EXPECT_TRUE(AllWaiting(handles, bytes));
  PumpNetMessages(1);
  std::vector<int> took;
  for (size_t i = 0; i < fds.size(); ++i) {
    const std::vector<uint8_t> got = TakeComplete(handles[i]);
    EXPECT_EQ(Record(handles[i])->receive_buffer.data_size, 0) << "peer " << i;
    for (size_t k = 0; k < got.size(); ++k) {
      if (got[k] != static_cast<uint8_t>(k)) {
        ADD_FAILURE() << "peer " << i << ", message " << k;
        break;
      }
    }
    EXPECT_EQ(InSocket(handles[i], bytes[i] + 1), bytes[i] - got.size() * kWireBytes) << "peer " << i;
    took.push_back(static_cast<int>(got.size()));
  }
  // The rest is taken by the pumps that follow, so that no peer has data left.
  EXPECT_TRUE(PumpUntil([&] {
    for (size_t i = 0; i < fds.size(); ++i) {
      if (InSocket(handles[i], 1) != 0 || Record(handles[i])->receive_remaining != 0) return false;
    }
    return true;
  }));
  for (int32_t h : handles) TakeComplete(h);
  return took;
}

TEST_F(NetworkTest, ALoneSenderTakesAsMuchBesideIdleConnectionsAsAlone) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  int fd;
  const int32_t sender = AcceptPosix(&fd);
  // More than one connection may take in a pump: it takes just that much,
  // alone and beside 20 connections with nothing to read.
  const int more = kNetworkConnectionPumpMessages + 300;
  EXPECT_EQ(OnePump({fd}, {sender}, {more}), std::vector<int>{kNetworkConnectionPumpMessages});
  std::vector<int> idle(20);
  for (int& i : idle) AcceptPosix(&i);
  for (int i = 0; i < 10; ++i) PumpNetMessages(1);  // the write events of the accepts
  EXPECT_EQ(OnePump({fd}, {sender}, {more}), std::vector<int>{kNetworkConnectionPumpMessages});
  close(fd);
  for (int i : idle) close(i);
}

TEST_F(NetworkTest, SendersShareAPumpEvenlyAndOneThatRunsOutLeavesItsShareToTheOthers) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  std::vector<int> fds(4);
  std::vector<int32_t> handles(4);
  for (int i = 0; i < 4; ++i) handles[i] = AcceptPosix(&fds[i]);
  for (int i = 0; i < 10; ++i) PumpNetMessages(1);
  // Four senders with more than a quarter of the pump each: a quarter each.
  const int quarter = kNetworkPumpMessages / 4;
  EXPECT_EQ(OnePump(fds, handles, std::vector<int>(4, quarter + 900)), std::vector<int>(4, quarter));
  // Three, of which one has little: the other two take the rest of the pump
  // between them, as much as one connection may take or less.
  const int rest = (kNetworkPumpMessages - 100) / 2;
  ASSERT_LE(rest, kNetworkConnectionPumpMessages);
  const std::vector<int> fds3(fds.begin(), fds.begin() + 3);
  const std::vector<int32_t> handles3(handles.begin(), handles.begin() + 3);
  EXPECT_EQ(OnePump(fds3, handles3, {rest + 700, 100, rest + 700}), (std::vector<int>{rest, 100, rest}));
  for (int fd : fds) close(fd);
}

TEST_F(NetworkTest, APumpReadsWithinItsBudgetHoweverManyPeersSendAndServesEachInTurn) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  // More peers than one pump has shares for, each with 16 messages of 1 KiB
  // (its number, then the peer's) waiting.
  constexpr int kPeers = 140, kEach = 16;
  static_assert(kPeers * kNetworkPumpLeastBytes >= kNetworkPumpFullSenders * int64_t{kNetworkPumpBytes},
                "so many peers that a pump reads its least");
  std::vector<int> fds(kPeers);
  std::vector<int32_t> handles(kPeers);
  for (int i = 0; i < kPeers; ++i) handles[i] = AcceptPosix(&fds[i]);
  for (int i = 0; i < 10; ++i) PumpNetMessages(1);  // the write events of the accepts
  std::vector<std::vector<uint8_t>> sent(kPeers);
  for (int i = 0; i < kPeers; ++i) {
    std::vector<uint8_t> wire;
    for (int k = 0; k < kEach; ++k) {
      std::vector<uint8_t> body(1020, static_cast<uint8_t>(i));
      body[0] = static_cast<uint8_t>(k);
      sent[i].insert(sent[i].end(), body.begin(), body.end());
      const std::vector<uint8_t> one = Framed(body);
      wire.insert(wire.end(), one.begin(), one.end());
    }
    ASSERT_TRUE(WriteAll(fds[i], wire.data(), wire.size()));
  }
  // Time for the watcher to post each peer's read event.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto held = [&] {
    int64_t bytes = 0;
    for (int32_t h : handles) bytes += Record(h)->receive_buffer.data_size;
    return bytes;
  };
  // Every peer gets its turn while no pump takes more than its budget; a
  // slow watcher may post some read events late, hence the deadline.
  auto served = [&] {
    for (int32_t h : handles)
      if (Record(h)->complete_bytes == 0) return false;
    return true;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (int pump = 0; !served() && std::chrono::steady_clock::now() < deadline; ++pump) {
    const int64_t before = held();
    PumpNetMessages(1);
    ASSERT_LE(held() - before, kNetworkPumpLeastBytes) << "pump " << pump;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (int i = 0; i < kPeers; ++i) EXPECT_GT(Record(handles[i])->complete_bytes, 0) << "peer " << i;
  std::vector<std::vector<uint8_t>> got(kPeers);
  EXPECT_TRUE(PumpUntil([&] {
    bool all = true;
    for (int i = 0; i < kPeers; ++i) {
      const std::vector<uint8_t> bytes = TakeComplete(handles[i]);
      got[i].insert(got[i].end(), bytes.begin(), bytes.end());
      all = all && got[i].size() == sent[i].size();
    }
    return all;
  }));
  for (int i = 0; i < kPeers; ++i) EXPECT_TRUE(got[i] == sent[i]) << "peer " << i;
  for (int fd : fds) close(fd);
}

}  // namespace
