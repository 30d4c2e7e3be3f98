// How a network pump shares what it reads among the connections that have
// data: peers over 127.0.0.1 whose messages all wait in their sockets before
// one pump runs, and the messages and bytes that pump took from each. Where
// a pump takes more than a socket's buffer holds, the layer's receive is a
// stand-in that serves each connection a stream of messages.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "lib/core/memory.h"
#include "lib/system/net_schedule.h"
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

// Waits until each connection's socket holds the bytes given and its read
// event has come, the hidden window's events dispatched as the library's own
// pump dispatches them (outside a network pump); false once kPeerWaitNet has
// passed.
bool AllWaiting(const std::vector<int32_t>& handles, const std::vector<size_t>& bytes) {
  const auto until = std::chrono::steady_clock::now() + kPeerWaitNet;
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

// No connection is in the turn, with data or emptied.
bool TurnEmpty() {
  const NetworkState& s = GetNetworkState();
  return s.new_head.next == &s.new_tail && s.old_head.next == &s.old_tail && s.ready_count == 0;
}

// A stream of messages of one body size that the stand-in receive serves to
// a connection in place of its socket: wire bytes in all, and those read.
// Message k's body bytes are k modulo 256.
struct Stream {
  uint32_t body;
  int64_t wire;
  int64_t read;
};
std::map<plat::SocketHandle, Stream>& Streams() {
  static std::map<plat::SocketHandle, Stream> streams;
  return streams;
}

int StreamRecv(plat::SocketHandle socket, char* buffer, int length, int flags) {
  auto it = Streams().find(socket);
  if (it == Streams().end()) return plat::Recv(socket, buffer, length, flags);
  Stream& s = it->second;
  const int64_t n = std::min<int64_t>(length, s.wire - s.read);
  if (n <= 0) {
    plat::WsaSetLastError(plat::kWsaEWouldBlock);
    return plat::kSocketError;
  }
  const int64_t unit = 4 + int64_t{s.body};
  for (int64_t i = 0; i < n; ++i) {
    const int64_t at = (s.read + i) % unit;
    buffer[i] = static_cast<char>(at < 4 ? s.body >> (8 * at) : static_cast<uint32_t>((s.read + i) / unit));
  }
  if ((flags & plat::kMsgPeek) == 0) s.read += n;
  return static_cast<int>(n);
}

// The stand-in receive while it lives, and the accepted connections it
// serves (made with the fixture's accept).
class StreamPeers {
 public:
  template <typename Accept>
  StreamPeers(int count, Accept accept) {
    Streams().clear();
    SetNetworkRecvForTest(StreamRecv);
    fds_.resize(static_cast<size_t>(count));
    for (int& fd : fds_) handles_.push_back(accept(&fd));
    taken_.assign(handles_.size(), 0);
    for (int i = 0; i < 10; ++i) PumpNetMessages(1);  // the write events of the accepts
  }
  ~StreamPeers() {
    // Connections of the stand-in alone have no more bytes, and go.
    for (size_t i = 0; i < handles_.size(); ++i) {
      if (fds_[i] >= 0) continue;
      NetworkRecord* r = Record(handles_[i]);
      Stream& st = Streams()[r->socket];
      st.wire = st.read;
      r->open = 0;
    }
    for (size_t i = 0; i < handles_.size(); ++i) {
      if (fds_[i] < 0) CloseNetHandle(handles_[i]);
    }
    for (int fd : fds_) {
      if (fd >= 0) close(fd);
    }
    SetNetworkRecvForTest(nullptr);
    Streams().clear();
  }
  int32_t Handle(size_t i) const { return handles_[i]; }
  // Connection i has a stream of messages waiting (in place of one read to
  // its end), and its read event has come.
  void Give(size_t i, uint32_t body, int64_t messages) {
    NetworkRecord* r = Record(handles_[i]);
    Streams()[r->socket] = Stream{body, messages * (4 + int64_t{body}), 0};
    taken_[i] = 0;
    JoinTurn(r);
  }
  size_t Count() const { return handles_.size(); }
  // Takes connection i's messages and gives it a new stream in place of the
  // one it read.
  void GiveAgain(size_t i, uint32_t body, int64_t messages) {
    Take(i);
    Give(i, body, messages);
  }
  int64_t Read(size_t i) { return Streams()[Record(handles_[i])->socket].read; }
  // Connection i's socket holds the rest of the message being read and then
  // the messages given (its stream is cut or lengthened there), and its read
  // event has come.
  void Hold(size_t i, int64_t messages) {
    NetworkRecord* r = Record(handles_[i]);
    Stream& st = Streams()[r->socket];
    const int64_t unit = 4 + int64_t{st.body};
    st.wire = (st.read + unit - 1) / unit * unit + messages * unit;
    JoinTurn(r);
  }
  // Connection i has no stream, or has read its stream to the end.
  bool ReadOut(size_t i) {
    auto it = Streams().find(Record(handles_[i])->socket);
    return it == Streams().end() || (it->second.read == it->second.wire && Record(handles_[i])->receive_remaining == 0);
  }
  // Takes connection i's complete messages, checking each against its
  // stream; their bytes.
  size_t Take(size_t i) {
    const std::vector<uint8_t> got = TakeComplete(handles_[i]);
    if (got.empty()) return 0;
    const uint32_t body = Streams()[Record(handles_[i])->socket].body;
    // Every message's bytes are its number: a byte in 61, and the last, show
    // a message out of place, whatever its size.
    const auto check = [&](size_t at) {
      in_order_ = in_order_ && got[at] == static_cast<uint8_t>(taken_[i] + static_cast<int64_t>(at / body));
    };
    for (size_t at = 0; at < got.size(); at += 61) check(at);
    check(got.size() - 1);
    taken_[i] += static_cast<int64_t>(got.size() / body);
    return got.size();
  }
  // The pumps that follow read every stream to its end, its messages whole
  // and in order, so that the next case starts with nothing waiting. Every
  // byte of a stream waits from the start, so that each pump reads until
  // then: they are counted, not timed.
  void ReadToTheEnd() {
    bool all = false;
    for (int pump = 0; pump < 10000 && !all; ++pump) {
      PumpNetMessages(1);
      all = true;
      for (size_t i = 0; i < handles_.size(); ++i) {
        auto it = Streams().find(Record(handles_[i])->socket);
        if (it == Streams().end()) continue;
        Take(i);
        all = all && it->second.read == it->second.wire && Record(handles_[i])->receive_remaining == 0;
      }
    }
    EXPECT_TRUE(all);
    EXPECT_TRUE(in_order_);
    // One that read its most up to the stream's end finds it empty now.
    PumpNetMessages(1);
    EXPECT_TRUE(TurnEmpty());
    Streams().clear();
    taken_.assign(handles_.size(), 0);
  }

 private:
  std::vector<int> fds_;
  std::vector<int32_t> handles_;
  std::vector<int64_t> taken_;
  bool in_order_ = true;
};

// A connection record with a socket no system knows, which only the
// stand-in receive serves: for crowds larger than a test's descriptors.
int32_t AcceptStandIn(int* fd) {
  static plat::SocketHandle next = 0x7F000000;
  *fd = -1;
  NetworkRecord* r = NewRecord();
  r->socket = next += 4;
  r->open = 1;
  r->accepted = 1;
  return AddRecord(r);
}

// The bytes the stand-in receive has served all connections.
int64_t ReadInAll(StreamPeers& peers) {
  int64_t all = 0;
  for (size_t i = 0; i < peers.Count(); ++i) all += peers.Read(i);
  return all;
}

// What one pump reads from 1, 10, 20 and 40 senders that all have more
// waiting than their share: first of messages of one byte, which meet the
// count of messages first, then of 64 KiB, which meet the bytes first. Up to
// ten senders the pump reads 16,384 messages or 4 MiB in all, and one sender
// at most half of that; from ten on the total falls in proportion, to a
// quarter at forty. Each reads at least an even share; what the even shares
// leave goes to the first in turn.
TEST_F(NetworkTest, APumpReadsForOneTenTwentyAndFortySendersTheMessagesAndBytesItsBudgetGives) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  StreamPeers peers(40, AcceptStandIn);
  const std::vector<int64_t> senders = {1, 10, 20, 40};
  const std::vector<int64_t> messages = {8192, 16384, 8192, 4096};
  const std::vector<int64_t> bytes = {2097152, 4194304, 2097152, 1048576};
  for (size_t c = 0; c < senders.size(); ++c) {
    for (int64_t i = 0; i < senders[c]; ++i) peers.Give(static_cast<size_t>(i), 1, 9000);
    PumpNetMessages(1);
    int64_t all = 0;
    for (int64_t i = 0; i < senders[c]; ++i) {
      const int64_t took = Record(peers.Handle(static_cast<size_t>(i)))->complete_bytes;
      EXPECT_GE(took, messages[c] / senders[c]) << senders[c] << " senders, peer " << i;
      all += took;
    }
    EXPECT_EQ(all, messages[c]) << senders[c] << " senders";
    peers.ReadToTheEnd();
  }
  const std::vector<int64_t> wire_messages = {34, 7, 2, 1};
  for (size_t c = 0; c < senders.size(); ++c) {
    for (int64_t i = 0; i < senders[c]; ++i) peers.Give(static_cast<size_t>(i), 65532, wire_messages[c]);
    PumpNetMessages(1);
    for (int64_t i = 0; i < senders[c]; ++i) {
      EXPECT_GE(peers.Read(static_cast<size_t>(i)), bytes[c] / senders[c]) << senders[c] << " senders, peer " << i;
    }
    EXPECT_EQ(ReadInAll(peers), bytes[c]) << senders[c] << " senders";
    peers.ReadToTheEnd();
  }
}

// Forty connections have data when the pump starts, thirty of them one
// message of 1 KiB, which count an eighth of a sender each: those leave after
// their first visit, and the ten left read the rest of the total of fourteen
// senders (2,995,931 bytes), not a total counted again for ten (4 MiB).
TEST_F(NetworkTest, SendersThatRunOutLeaveThePumpsTotalAsItWasAtItsStart) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  StreamPeers peers(40, AcceptStandIn);
  for (size_t i = 0; i < 40; ++i) {
    if (i % 4 == 0) {
      peers.Give(i, 65532, 8);
    } else {
      peers.Give(i, 1020, 1);
    }
  }
  PumpNetMessages(1);
  for (size_t i = 1; i < 40; i += (i % 4 == 3 ? 2 : 1)) EXPECT_EQ(peers.Read(i), 1024) << "peer " << i;
  EXPECT_EQ(ReadInAll(peers), 2995931);
  peers.ReadToTheEnd();
  // Forty that each held more than their quantum (26,214 bytes) at one pump
  // still count whole at the next, where thirty-nine of them hold 1 KiB (as a
  // flooding peer's socket may while the peer waits for a processor): the
  // total stays 1 MiB, not the 4 MiB of six senders.
  peers.Give(0, 26226, 1);  // and the 16 bytes the even quanta leave
  for (size_t i = 1; i < 40; ++i) peers.Give(i, 26210, 2);
  PumpNetMessages(1);
  for (size_t i = 0; i < 40; ++i) ASSERT_EQ(peers.Read(i), i == 0 ? 26230 : 26214) << "peer " << i;
  for (size_t i = 0; i < 40; ++i) peers.GiveAgain(i, i == 0 ? 65532 : 1020, i == 0 ? 40 : 1);
  PumpNetMessages(1);
  EXPECT_EQ(ReadInAll(peers), 1048576);
  peers.ReadToTheEnd();
}

// A bulk sender beside 39 peers that each hold one message a pump, of 16 B
// to 64 KiB (and of 8 KiB and 16 B by turns): no pump leaves its total
// unspent while the bulk sender still holds data, short of its most (2 MiB).
// The pump's total is what the crowd's holdings make it (a peer counts as
// the part of a sender its bytes are of 8 KiB), and each peer that read its
// message out has left the turn.
TEST_F(NetworkTest, ABulkSenderReadsWhatThePumpsTotalLeavesBesidePeersOfAnySize) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  StreamPeers peers(40, AcceptStandIn);
  struct Case {
    uint32_t body[2];  // the peers' messages at even and odd pumps
    int64_t total[2];
  };
  const Case cases[] = {{{16, 16}, {4194304, 4194304}},       {{1024, 1024}, {4194304, 4194304}},
                        {{4096, 4096}, {1997287, 1997287}},   {{7168, 7168}, {1165084, 1165084}},
                        {{8192, 8192}, {1048576, 1048576}},   {{9216, 9216}, {1048576, 1048576}},
                        {{16384, 16384}, {1048576, 1048576}}, {{65536, 65536}, {1048576, 1048576}},
                        {{8192, 16}, {1048576, 4194304}}};
  for (const Case& c : cases) {
    peers.Give(0, 65532, 250);
    for (int pump = 0; pump < 6; ++pump) {
      const uint32_t body = c.body[pump % 2];
      for (size_t i = 1; i < 40; ++i) {
        if (peers.ReadOut(i)) peers.GiveAgain(i, body, 1);
      }
      const int64_t bulk_before = peers.Read(0), all_before = ReadInAll(peers);
      PumpNetMessages(1);
      const int64_t bulk = peers.Read(0) - bulk_before, others = ReadInAll(peers) - all_before - bulk;
      const int64_t leaves = std::min<int64_t>(c.total[pump % 2] - others, kNetworkConnectionPumpBytes);
      EXPECT_GE(bulk, leaves * 9 / 10) << body << " B peers, pump " << pump;
      EXPECT_LE(bulk + others, c.total[pump % 2] + 8 * 1024) << body << " B peers, pump " << pump;
      for (size_t i = 1; i < 40; ++i) {
        EXPECT_TRUE(!peers.ReadOut(i) || Record(peers.Handle(i))->ready == 0) << body << " B peers, peer " << i;
      }
      peers.Take(0);
    }
    peers.ReadToTheEnd();
  }
}

// 4,097 and 8,192 connections that each hold 16 KiB or 64 KiB: every pump
// reads its total (1 MiB), however small an even share of it would be.
TEST_F(NetworkTest, EveryPumpReadsItsTotalFromACrowdOf4097Or8192Connections) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  for (const size_t crowd : {size_t{4097}, size_t{8192}}) {
    for (const uint32_t body : {16380u, 65532u}) {
      StreamPeers peers(static_cast<int>(crowd), AcceptStandIn);
      for (size_t i = 0; i < crowd; ++i) peers.Give(i, body, 1);
      for (int pump = 0; pump < 8; ++pump) {
        const int64_t before = ReadInAll(peers);
        PumpNetMessages(1);
        EXPECT_EQ(ReadInAll(peers) - before, kNetworkPumpLeastBytes) << crowd << " of " << body << ", pump " << pump;
        for (size_t i = 0; i < crowd; ++i) peers.Take(i);
      }
    }
  }
}

// Equal senders read equal shares: forty, each pump's total in one round,
// and two hundred, of whom a pump serves 128 (its 1 MiB in quanta of 8 KiB):
// the next pump carries on with the next in turn, so that after 25 pumps
// every one has read the same, and no pump reads more than its total.
TEST_F(NetworkTest, EqualSendersReadEquallyAndTheTurnCarriesOnWhereAPumpStopped) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  StreamPeers peers(200, AcceptStandIn);
  for (const size_t senders : {size_t{40}, size_t{200}}) {
    const int pumps = senders == 40 ? 10 : 25;
    for (size_t i = 0; i < senders; ++i) peers.Give(i, 65532, senders == 40 ? 5 : 3);
    for (int pump = 0; pump < pumps; ++pump) {
      const int64_t before = ReadInAll(peers);
      PumpNetMessages(1);
      EXPECT_EQ(ReadInAll(peers) - before, kNetworkPumpLeastBytes) << senders << " senders, pump " << pump;
      for (size_t i = 0; i < senders; ++i) peers.Take(i);
    }
    const int64_t even = int64_t{pumps} * kNetworkPumpLeastBytes / static_cast<int64_t>(senders);
    for (size_t i = 0; i < senders; ++i) {
      EXPECT_LE(std::abs(peers.Read(i) - even), kNetworkPumpLeastBytes / static_cast<int64_t>(senders))
          << senders << " senders, peer " << i;
    }
    peers.ReadToTheEnd();
  }
}

// Forty equal senders. The system refills thirty-nine of their sockets a
// window (64 KiB) at a time, once the pump has read them out, so that every
// few pumps each holds less than its quantum; the fortieth socket, which
// the system has grown, always holds 1 MiB. Each of the thirty-nine keeps
// what its quantum left when it read its socket out, and takes it when the
// turn comes back to it: over forty pumps every pump reads its total, and
// the most any connection reads is within half again of the median (else
// the grown one would take all the others leave, and read eight times as
// much).
TEST_F(NetworkTest, ASenderThatRanShortTakesTheRestOfItsQuantumAtItsNextVisit) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  StreamPeers peers(40, AcceptStandIn);
  for (size_t i = 0; i < 40; ++i) peers.Give(i, 8188, 0);
  std::vector<int64_t> read(40);
  for (int pump = 0; pump < 40; ++pump) {
    std::vector<int64_t> before(40);
    for (size_t i = 0; i < 40; ++i) {
      // The first fill differs from peer to peer, as their windows would.
      if (i == 0 || peers.ReadOut(i)) peers.Hold(i, i == 0 ? 128 : pump == 0 ? 1 + i % 8 : 8);
      before[i] = peers.Read(i);
    }
    PumpNetMessages(1);
    int64_t all = 0;
    for (size_t i = 0; i < 40; ++i) {
      read[i] += peers.Read(i) - before[i];
      all += peers.Read(i) - before[i];
      peers.Take(i);
    }
    EXPECT_EQ(all, kNetworkPumpLeastBytes) << "pump " << pump;
  }
  std::vector<int64_t> sorted = read;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_LE(sorted.back() * 2, sorted[20] * 3) << "most " << sorted.back() << ", median " << sorted[20];
  peers.ReadToTheEnd();
  // What a connection keeps is one quantum at most: after ten pumps that
  // each read a message of 16 bytes from thirty-nine connections beside one
  // that always holds more, none of them reads more than two quanta and a
  // message when all hold 64 KiB.
  peers.Give(0, 65532, 400);
  for (int pump = 0; pump < 10; ++pump) {
    for (size_t i = 1; i < 40; ++i) peers.GiveAgain(i, 12, 1);
    PumpNetMessages(1);
    peers.Take(0);
  }
  for (size_t i = 1; i < 40; ++i) peers.GiveAgain(i, 8188, 8);
  PumpNetMessages(1);
  for (size_t i = 1; i < 40; ++i) {
    EXPECT_LE(peers.Read(i), 2 * (kNetworkPumpLeastBytes / 40) + 8192) << "peer " << i;
  }
  peers.ReadToTheEnd();
}

// Two hundred senders hold more than a pump reads (its 1 MiB serves 128 of
// them a quantum each). A peer that sends one small message now and then is
// read at the first pump after it came, ahead of them all; and two hundred
// peers that send 7 KiB whenever the pump has read them, 1.4 MiB in all,
// leave a sender with more its quanta in turn beside them.
TEST_F(NetworkTest, ANewcomerIsReadAtTheNextPumpAndNewcomersKeepNoSenderOut) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  StreamPeers peers(201, AcceptStandIn);
  for (size_t i = 0; i < 200; ++i) peers.Give(i, 8188, 40);
  for (int pump = 0; pump < 3; ++pump) PumpNetMessages(1);
  for (int message = 0; message < 5; ++message) {
    peers.GiveAgain(200, 60, 1);
    PumpNetMessages(1);
    EXPECT_EQ(peers.Read(200), 64) << "message " << message;
    // Two pumps with nothing from it: the turn comes round to it, and it
    // leaves.
    for (int pump = 0; pump < 2; ++pump) PumpNetMessages(1);
    EXPECT_EQ(Record(peers.Handle(200))->listed, 0) << "message " << message;
    for (size_t i = 0; i < 200; ++i) peers.Take(i);
  }
  peers.ReadToTheEnd();
  peers.Give(0, 65532, 100);
  int64_t bulk_before = 0;
  for (int pump = 0; pump < 20; ++pump) {
    for (size_t i = 1; i < 201; ++i) {
      if (peers.ReadOut(i)) peers.GiveAgain(i, 7164, 1);
    }
    PumpNetMessages(1);
    peers.Take(0);
    if (pump % 2 == 1) {
      EXPECT_GE(peers.Read(0) - bulk_before, kNetworkQuantumBytes) << "pumps " << pump - 1 << " and " << pump;
      bulk_before = peers.Read(0);
    }
  }
  peers.ReadToTheEnd();
}

// A receive the program calls itself takes at most 256 messages or 256 KiB.
TEST_F(NetworkTest, AReceiveTheProgramCallsTakes256MessagesOr256KiB) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  StreamPeers peers(2, [&](int* fd) { return AcceptPosix(fd); });
  peers.Give(0, 1, 300);
  peers.Give(1, 65532, 5);
  EXPECT_EQ(RecvSocket(peers.Handle(0)), 0);
  EXPECT_EQ(RecvSocket(peers.Handle(1)), 0);
  EXPECT_EQ(Record(peers.Handle(0))->complete_bytes, 256);
  EXPECT_EQ(peers.Read(1), 262144);
  peers.ReadToTheEnd();
}

// A sender that still has data after a pump keeps its receive buffer for the
// next, however much of it the program took in between.
TEST_F(NetworkTest, ASteadySendersReceiveBufferIsKeptFromPumpToPump) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  StreamPeers peers(1, [&](int* fd) { return AcceptPosix(fd); });
  peers.Give(0, 65532, 96);
  PumpNetMessages(1);
  ASSERT_EQ(peers.Read(0), 2097152);
  const RingBuffer& ring = Record(peers.Handle(0))->receive_buffer;
  const auto number = [&] {
    return reinterpret_cast<const TrackedBlockHeader*>(ring.buffer - kTrackedHeaderSize)->fields.number;
  };
  const uint16_t first = number();
  EXPECT_EQ(peers.Take(0), 2097152u - 32 * 4);
  PumpNetMessages(1);
  ASSERT_EQ(peers.Read(0), 2 * 2097152);
  EXPECT_EQ(number(), first);
  peers.ReadToTheEnd();
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
  // between them, each at least a third of it and as much as one connection
  // may take or less.
  const int rest = (kNetworkPumpMessages - 100) / 2;
  const std::vector<int> fds3(fds.begin(), fds.begin() + 3);
  const std::vector<int32_t> handles3(handles.begin(), handles.begin() + 3);
  const std::vector<int> took = OnePump(fds3, handles3, {rest + 700, 100, rest + 700});
  EXPECT_EQ(took[1], 100);
  EXPECT_EQ(took[0] + took[2], kNetworkPumpMessages - 100);
  for (int i : {0, 2}) {
    EXPECT_GE(took[i], kNetworkPumpMessages / 3) << i;
    EXPECT_LE(took[i], kNetworkConnectionPumpMessages) << i;
  }
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
  WatcherRound watcher;
  ASSERT_TRUE(watcher.Wait());
  PumpNetMessages(1);  // the write events of the accepts
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
  // Each peer's messages are in its socket and its read event queued.
  ASSERT_TRUE(Arrived(handles, kEach * 1024));
  ASSERT_TRUE(watcher.Wait());
  auto held = [&] {
    int64_t bytes = 0;
    for (int32_t h : handles) bytes += Record(h)->receive_buffer.data_size;
    return bytes;
  };
  // Every peer gets its turn while no pump takes more than its budget.
  auto served = [&] {
    for (int32_t h : handles)
      if (Record(h)->complete_bytes == 0) return false;
    return true;
  };
  const auto deadline = std::chrono::steady_clock::now() + kPeerWaitNet;
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

// A connection closed while more waits than its close's pump may read leaves
// the list of connections with data, and the next pump serves the others.
TEST_F(NetworkTest, AConnectionClosedWithDataWaitingLeavesTheListOfThoseWithData) {
  port_ = StartNetwork();
  ASSERT_NE(port_, 0);
  int fd, other_fd;
  const int32_t closing = AcceptPosix(&fd);
  const int32_t other = AcceptPosix(&other_fd);
  for (int i = 0; i < 10; ++i) PumpNetMessages(1);  // the write events of the accepts
  const std::vector<uint8_t> wire = Numbered(8192 + 300, 0);
  ASSERT_TRUE(WriteAll(fd, wire.data(), wire.size()));
  ASSERT_TRUE(AllWaiting({closing}, {wire.size()}));
  EXPECT_EQ(CloseNetHandle(closing), 0);
  EXPECT_EQ(Record(closing), nullptr);
  ASSERT_TRUE(TurnEmpty());
  const std::vector<uint8_t> three = Numbered(3, 7);
  ASSERT_TRUE(WriteAll(other_fd, three.data(), three.size()));
  std::vector<uint8_t> got;
  EXPECT_TRUE(PumpUntil([&] {
    const std::vector<uint8_t> bytes = TakeComplete(other);
    got.insert(got.end(), bytes.begin(), bytes.end());
    return got.size() == 3;
  }));
  EXPECT_EQ(got, (std::vector<uint8_t>{7, 8, 9}));
  close(fd);
  close(other_fd);
}

}  // namespace
