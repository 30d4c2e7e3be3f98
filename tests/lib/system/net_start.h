// tests/lib/system/net_start.h - starts the network layer as a start would be
// added to the library (the library has none): the socket start through the
// loaded-function table, the hidden network window, the listening record in
// its slot, and client connections made with connect. Plus the two record
// operations the library leaves to its users: queueing a message's bytes and
// taking the received ones.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "lib/core/memory.h"
#include "lib/system/network.h"
#include "lib/system/window_system.h"
#include "platform/window/window.h"
#include "platform/net/winsock.h"

namespace nettest {

constexpr const char* kNetWindowClass = "RoRudNetworkWindow";

inline plat::SockAddrIn Loopback(uint16_t port) {
  plat::SockAddrIn a{};
  a.family = plat::kAfInet;
  a.port = plat::Htons(port);
  a.address[0] = 127;
  a.address[3] = 1;
  return a;
}

// Links a record into the table at slot (the lowest free below the listening
// slot when slot is -1) with the next check value; returns its handle.
inline int32_t AddRecord(NetworkRecord* r, int32_t slot = -1) {
  NetworkState& s = GetNetworkState();
  if (slot < 0) {
    slot = 0;
    while (slot < kNetworkListenSlot && s.table.At(slot) != nullptr) ++slot;
  }
  const int32_t check = s.check_counter;
  s.check_counter = check + 1 > 2047 ? 0 : check + 1;
  r->check_value = check;
  const int32_t handle = s.table.AddAt(slot, check, r);
  ListAppend(&s.head, &r->node, handle, r);
  return handle;
}

inline NetworkRecord* NewRecord() {
  auto* r = static_cast<NetworkRecord*>(RR_CALLOC(sizeof(NetworkRecord)));
  const NetworkState& s = GetNetworkState();
  r->in_use = 1;
  r->framed_receive = s.framed_receive_off == 0 ? 1 : 0;
  r->auto_close = s.auto_close_off == 0 ? 1 : 0;
  return r;
}

// The start: WSAStartup, the hidden window, a listening socket on a free
// loopback port in slot 8192. Returns the port (0 on failure).
inline uint16_t StartNetwork() {
  auto startup = reinterpret_cast<int (*)(uint16_t, plat::WsaData*)>(GetLoadedFunction("WSAStartup"));
  if (startup == nullptr) return 0;
  plat::WsaData data;
  if (startup(0x0202, &data) != 0) return 0;
  plat::RegisterWindowClass(kNetWindowClass, NetworkWindowProc);
  NetworkState& s = GetNetworkState();
  s.window = plat::CreateWindow(kNetWindowClass, "", 0, 0, 0, 0, 0, 0);
  if (s.window == nullptr) return 0;
  s.window_destroyed = 0;
  s.started = 1;
  NetworkRecord* listener = NewRecord();
  listener->open = 1;
  listener->socket = plat::Socket(plat::kAfInet, plat::kSockStream, plat::kIpProtoTcp);
  plat::SockAddrIn any = Loopback(0);
  if (plat::Bind(listener->socket, reinterpret_cast<plat::SockAddr*>(&any), sizeof(any)) != 0 ||
      plat::Listen(listener->socket, 16) != 0 ||
      plat::WsaAsyncSelect(listener->socket, s.window, kNetworkSocketMessage, plat::kFdAccept) != 0) {
    return 0;
  }
  AddRecord(listener, kNetworkListenSlot);
  plat::SockAddrIn own{};
  int length = sizeof(own);
  plat::GetSockName(listener->socket, reinterpret_cast<plat::SockAddr*>(&own), &length);
  return plat::Ntohs(own.port);
}

// A client connection record, as a start's connect would make it; its open
// flag is set by FD_CONNECT.
inline int32_t ConnectRecord(uint16_t port) {
  NetworkState& s = GetNetworkState();
  NetworkRecord* r = NewRecord();
  r->socket = plat::Socket(plat::kAfInet, plat::kSockStream, plat::kIpProtoTcp);
  plat::WsaAsyncSelect(r->socket, s.window, kNetworkSocketMessage,
                       plat::kFdRead | plat::kFdWrite | plat::kFdClose | plat::kFdConnect);
  plat::SockAddrIn to = Loopback(port);
  plat::Connect(r->socket, reinterpret_cast<plat::SockAddr*>(&to), sizeof(to));
  return AddRecord(r);
}

inline NetworkRecord* Record(int32_t handle) { return GetNetworkState().table.Find(handle); }

// Appends bytes to the send buffer (one message per SendSocket).
inline void Queue(int32_t handle, const std::vector<uint8_t>& bytes) {
  RingBuffer& ring = Record(handle)->send_buffer;
  ASSERT_EQ(RingBufferReserve(&ring, static_cast<int32_t>(bytes.size())), 0);
  // In at most two runs: up to the buffer's end, then from its start.
  size_t done = 0;
  while (done < bytes.size()) {
    RingBufferWrap(&ring);
    const size_t room = static_cast<size_t>(ring.end < ring.start ? ring.start - ring.end : ring.buffer_size - ring.end);
    const size_t n = std::min(room, bytes.size() - done);
    std::memcpy(ring.buffer + ring.end, bytes.data() + done, n);
    ring.end += static_cast<int32_t>(n);
    ring.data_size += static_cast<int32_t>(n);
    done += n;
  }
}

// Takes the bytes of the completely received messages.
inline std::vector<uint8_t> TakeComplete(int32_t handle) {
  NetworkRecord* r = Record(handle);
  std::vector<uint8_t> out(static_cast<size_t>(r->complete_bytes));
  if (!out.empty()) RingBufferRead(&r->receive_buffer, out.data(), r->complete_bytes, 0);
  r->complete_bytes = 0;
  return out;
}

// How long a test waits for what the watcher thread and the peers must bring
// before it gives up: a net for a fault, which no load on the machine comes
// near, not a time the test counts on.
constexpr std::chrono::seconds kPeerWaitNet{60};

// Pumps the network (with the close pass) until the condition holds; false
// once kPeerWaitNet has passed without it, counted from the last change of
// moved (a count of what a flow has carried) where one is given, so that a
// long flow is waited for as long as it moves, however a loaded machine
// slows it.
inline bool PumpUntil(const std::function<bool()>& done, const std::function<int64_t()>& moved = {}) {
  auto until = std::chrono::steady_clock::now() + kPeerWaitNet;
  int64_t last = moved ? moved() : 0;
  while (std::chrono::steady_clock::now() < until) {
    PumpNetMessages(1);
    if (done()) return true;
    if (moved && moved() != last) {
      last = moved();
      until = std::chrono::steady_clock::now() + kPeerWaitNet;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

// The bytes waiting in a connection's socket, up to limit. A peek, which
// re-arms the socket's read event as any receive does.
inline size_t InSocket(int32_t handle, size_t limit) {
  std::vector<char> peek(limit);
  const int n = plat::Recv(Record(handle)->socket, peek.data(), static_cast<int>(limit), plat::kMsgPeek);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

// Waits, pumping nothing, until each connection's socket holds the bytes
// given: loopback may hand them over after the peer's send has returned.
// False once kPeerWaitNet has passed.
inline bool Arrived(const std::vector<int32_t>& handles, size_t bytes) {
  const auto until = std::chrono::steady_clock::now() + kPeerWaitNet;
  while (!std::all_of(handles.begin(), handles.end(), [&](int32_t h) { return InSocket(h, bytes + 1) == bytes; })) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// Waits for a round of the socket watcher that begins after the call, so
// that every event the sockets' state at the call brings is queued and none
// is dispatched: what a test would otherwise give the watcher time for. The
// mark, a datagram socket and so writable at once, has its write event
// posted to a window of its own by the first round that polls it, which
// began after its registration, and polls every socket then watched; the
// watcher posts a round's events under the lock that unregistering the mark
// takes, so once that returns the round's other events are queued too. The
// socket is made with the object, for a test that leaves no descriptor free.
class WatcherRound {
 public:
  WatcherRound() {
    plat::RegisterWindowClass(kClass, plat::DefWindowProc);
    window_ = plat::CreateWindow(kClass, "", 0, 0, 0, 0, 0, 0);
    mark_ = plat::Socket(plat::kAfInet, plat::kSockDgram, plat::kIpProtoUdp);
  }
  ~WatcherRound() {
    plat::CloseSocket(mark_);
    plat::DestroyWindow(window_);
  }
  // False when no round came within kPeerWaitNet.
  bool Wait() {
    if (plat::WsaAsyncSelect(mark_, window_, kNetworkSocketMessage, plat::kFdWrite) != 0) return false;
    const auto until = std::chrono::steady_clock::now() + kPeerWaitNet;
    plat::Message m;
    bool came;
    while (!(came = plat::PeekMessage(&m, window_, true)) && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    plat::WsaAsyncSelect(mark_, window_, 0, 0);
    return came;
  }

 private:
  static constexpr const char* kClass = "RoRudWatcherMark";
  plat::Window* window_ = nullptr;
  plat::SocketHandle mark_ = plat::kInvalidSocket;
};

// The newest accepted connection's handle (-1 when none).
inline int32_t NewestAccepted() {
  const NetworkState& s = GetNetworkState();
  for (const ListNode* n = s.head.next; n != nullptr && n->next != nullptr; n = n->next) {
    if (static_cast<NetworkRecord*>(n->data)->accepted) return n->value;
  }
  return -1;
}

// A plain blocking client socket, for peers that misbehave on purpose.
inline plat::SocketHandle RawClient(uint16_t port) {
  plat::SocketHandle c = plat::Socket(plat::kAfInet, plat::kSockStream, plat::kIpProtoTcp);
  plat::SockAddrIn to = Loopback(port);
  if (plat::Connect(c, reinterpret_cast<plat::SockAddr*>(&to), sizeof(to)) != 0) return plat::kInvalidSocket;
  return c;
}

inline void SendAll(plat::SocketHandle s, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    int n = plat::Send(s, reinterpret_cast<const char*>(bytes.data()) + done,
                       static_cast<int>(bytes.size() - done), 0);
    ASSERT_GT(n, 0);
    done += static_cast<size_t>(n);
  }
}

inline std::vector<uint8_t> Framed(const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out(4);
  const uint32_t n = static_cast<uint32_t>(body.size());
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(n >> (8 * i));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace nettest
