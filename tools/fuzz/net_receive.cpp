// Fuzz target: the framed receive path of the network layer on a loopback
// connection. The peer sends arbitrary bytes in pieces the input chooses; the
// connection's state must stay inside its buffer after every receive, and
// what it completes must be exactly the frames an independent parse of the
// bytes finds.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lib/core/memory.h"
#include "lib/system/network.h"
#include "lib/system/window_system.h"
#include "platform/window/backend.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "platform/net/winsock.h"
#include "rorud/rorud.h"

namespace {

// Past the size from which a message has a block of its own, and small
// enough that each run's memory stays small.
constexpr uint32_t kLargestFrame = 4u << 20;
plat::SocketHandle g_listener = plat::kInvalidSocket;
uint16_t g_port = 0;
// The loopback address the peers connect from, one of the run's own: other
// programs on loopback (a benchmark, a second fuzzer) take their ports from
// 127.0.0.1, and once they have used those up a connect from there fails.
in_addr_t g_peer_address = 0;

plat::SockAddrIn Loopback(uint16_t port) {
  plat::SockAddrIn a{};
  a.family = plat::kAfInet;
  a.port = plat::Htons(port);
  a.address[0] = 127;
  a.address[3] = 1;
  return a;
}

// The start a program would add: the socket start, the hidden window and the
// listening record in its slot.
bool StartNetworkOnce() {
  plat::SetBackend(plat::Backend::kHeadless);
  plat::HeadlessReset(plat::VirtualDesktop{});
  auto folder = std::filesystem::temp_directory_path() / ("rorud-fuzz-net-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(folder);
  plat::SetWindowLockFolder(folder.string());
  // A drain on close waits by the clock; virtual time makes it quick.
  plat::EnableVirtualClock(true);
  plat::SetVirtualClockAutoAdvance(10);
  SetLogFileEnabled(0);
  ChangeWindowMode(1);
  if (LibraryStart() != 0) return false;
  auto startup = reinterpret_cast<int (*)(uint16_t, plat::WsaData*)>(GetLoadedFunction("WSAStartup"));
  plat::WsaData data;
  if (startup == nullptr || startup(0x0202, &data) != 0) return false;
  plat::RegisterWindowClass("RoRudFuzzNetwork", NetworkWindowProc);
  NetworkState& s = GetNetworkState();
  s.window = plat::CreateWindow("RoRudFuzzNetwork", "", 0, 0, 0, 0, 0, 0);
  if (s.window == nullptr) return false;
  s.started = 1;
  auto* listener = static_cast<NetworkRecord*>(RR_CALLOC(sizeof(NetworkRecord)));
  listener->in_use = 1;
  listener->open = 1;
  listener->framed_receive = 1;
  listener->socket = g_listener = plat::Socket(plat::kAfInet, plat::kSockStream, plat::kIpProtoTcp);
  plat::SockAddrIn any = Loopback(0);
  if (plat::Bind(g_listener, reinterpret_cast<plat::SockAddr*>(&any), sizeof(any)) != 0 ||
      plat::Listen(g_listener, 4) != 0 ||
      plat::WsaAsyncSelect(g_listener, s.window, kNetworkSocketMessage, plat::kFdAccept) != 0) {
    return false;
  }
  const int32_t handle = s.table.AddAt(kNetworkListenSlot, 0, listener);
  ListAppend(&s.head, &listener->node, handle, listener);
  plat::SockAddrIn own{};
  int length = sizeof(own);
  plat::GetSockName(g_listener, reinterpret_cast<plat::SockAddr*>(&own), &length);
  g_port = plat::Ntohs(own.port);
  const uint32_t pick = std::random_device{}();
  g_peer_address = htonl(0x7F000000u | (1u + pick % 0xFFFFFDu));
  return true;
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void CheckState(const NetworkRecord* r) {
  const RingBuffer& ring = r->receive_buffer;
  Check(ring.data_size >= 0 && ring.data_size <= ring.buffer_size);
  Check(ring.start >= 0 && ring.start <= ring.buffer_size);
  Check(ring.end >= 0 && ring.end <= ring.buffer_size);
  Check(r->complete_bytes >= 0 && r->complete_bytes <= ring.data_size);
  Check(r->receive_remaining >= 0);
}

bool g_started = false;

// The peer is another program's socket, so the system's own. Loopback drops
// packets when other programs flood it, and a connect whose handshake is
// sent again can outlast the fuzzer's timer, whose signal interrupts it: the
// connect then goes on without us, and is waited for.
int ConnectPeer() {
  const int peer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{}, to{};
  from.sin_family = to.sin_family = AF_INET;
  from.sin_addr.s_addr = g_peer_address;
  to.sin_port = htons(g_port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (peer < 0 || ::bind(peer, reinterpret_cast<sockaddr*>(&from), sizeof(from)) != 0) return -1;
  if (::connect(peer, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0) return peer;
  if (errno != EINTR) return -1;
  pollfd ready{peer, POLLOUT, 0};
  while (::poll(&ready, 1, -1) < 0) {
    if (errno != EINTR) return -1;
  }
  int error = 0;
  socklen_t length = sizeof(error);
  return ::getsockopt(peer, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0 ? peer : -1;
}

}  // namespace

// The library and the listener start before the first input, so that the
// blocks they keep are not counted against it.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_started = StartNetworkOnce();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(g_started);
  if (size < 1) return 0;
  uint32_t piece_seed = data[0];
  std::vector<uint8_t> wire(data + 1, data + size);

  // The independent parse: whole frames, a partial one, or a length word an
  // int cannot hold. Frames too large for a quick run end the input.
  std::vector<uint8_t> expected;
  size_t at = 0;
  int64_t missing = 0;
  bool refused = false;
  while (wire.size() - at >= 4) {
    uint32_t length = static_cast<uint32_t>(wire[at]) | (static_cast<uint32_t>(wire[at + 1]) << 8) |
                      (static_cast<uint32_t>(wire[at + 2]) << 16) | (static_cast<uint32_t>(wire[at + 3]) << 24);
    if (length > 0x7FFFFFFFu) {
      refused = true;
      break;
    }
    if (length > kLargestFrame) {
      wire.resize(at);
      break;
    }
    if (wire.size() - at - 4 < length) {
      missing = static_cast<int64_t>(length) - static_cast<int64_t>(wire.size() - at - 4);
      break;
    }
    expected.insert(expected.end(), wire.begin() + at + 4, wire.begin() + at + 4 + length);
    at += 4 + length;
  }

  const int peer = ConnectPeer();
  Check(peer >= 0);
  // The accept comes through the listening socket's event. One that never
  // comes is a finding of its own: the run's time limit ends the wait.
  NetworkState& s = GetNetworkState();
  while (s.table.Count() < 2) {
    PumpNetMessages(0);
    std::this_thread::yield();
  }
  const int32_t handle = s.head.next->value;
  NetworkRecord* r = s.table.Find(handle);
  Check(r != nullptr && r->accepted == 1);

  // Pieces of 1 to 64 bytes, each followed by receives until nothing moves.
  size_t sent = 0;
  while (sent < wire.size() && s.table.Find(handle) != nullptr && r->error == 0) {
    piece_seed = piece_seed * 1103515245u + 12345u;
    size_t piece = 1 + ((piece_seed >> 16) & 63);
    if (piece > wire.size() - sent) piece = wire.size() - sent;
    size_t done = 0;
    while (done < piece) {
      const ssize_t n = ::send(peer, wire.data() + sent + done, piece - done, MSG_NOSIGNAL);
      Check(n > 0);
      done += static_cast<size_t>(n);
    }
    sent += piece;
    for (int round = 0; round < 4; ++round) {
      RecvSocket(handle);
      CheckState(r);
    }
  }
  for (int round = 0; round < 4 && r->error == 0; ++round) {
    RecvSocket(handle);
    CheckState(r);
  }

  Check(r->error == (refused ? 1 : 0));
  if (!refused) {
    Check(r->complete_bytes == static_cast<int32_t>(expected.size()));
    std::vector<uint8_t> got(expected.size());
    if (!got.empty()) Check(RingBufferRead(&r->receive_buffer, got.data(), r->complete_bytes, 0) == 0);
    Check(got == expected);
    Check(r->receive_remaining == missing || (missing == 0 && r->receive_remaining == 0));
  }
  // The peer resets its end rather than closing it: a close leaves its port
  // waiting for a minute, and at over a thousand runs a second the few
  // thousand ports a peer connects from would run out.
  const linger abort{1, 0};
  ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
  ::close(peer);
  // The pump closes an errored record; any other is closed here.
  PumpNetMessages(1);
  if (s.table.Find(handle) != nullptr) Check(CloseNetHandle(handle) == 0);
  Check(s.table.Count() == 1);
  return 0;
}
