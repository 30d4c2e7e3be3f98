// lib/system/network.cpp - the framed TCP layer: connection records, the receive
// and send loops, accept and close, the socket-event handler and the end.
#include "lib/system/network.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/system/net_schedule.h"
#include "lib/system/window_system.h"
#include "platform/kernel/kernel.h"
#include "rorud/rorud.h"

namespace {

NetworkState g_net;
bool g_list_ready = false;
NetworkRecvFunction g_recv_for_test = nullptr;

void EnsureList() {
  if (!g_list_ready) {
    ListInit(&g_net.head, &g_net.tail);
    ListInit(&g_net.new_head, &g_net.new_tail);
    ListInit(&g_net.old_head, &g_net.old_tail);
    g_list_ready = true;
  }
}

// The socket functions, as the library's table of loaded functions has them;
// an entry is null when the system lacks it, and each use tests it.
struct SocketFunctions {
  int (*wsa_get_last_error)();
  int (*wsa_cleanup)();
  int (*wsa_async_select)(plat::SocketHandle, plat::Window*, uint32_t, int32_t);
  plat::SocketHandle (*accept)(plat::SocketHandle, plat::SockAddr*, int*);
  int (*send)(plat::SocketHandle, const char*, int, int);
  int (*recv)(plat::SocketHandle, char*, int, int);
  int (*closesocket)(plat::SocketHandle);
};

SocketFunctions Functions() {
  SocketFunctions f;
  f.wsa_get_last_error = reinterpret_cast<decltype(f.wsa_get_last_error)>(GetLoadedFunction("WSAGetLastError"));
  f.wsa_cleanup = reinterpret_cast<decltype(f.wsa_cleanup)>(GetLoadedFunction("WSACleanup"));
  f.wsa_async_select = reinterpret_cast<decltype(f.wsa_async_select)>(GetLoadedFunction("WSAAsyncSelect"));
  f.accept = reinterpret_cast<decltype(f.accept)>(GetLoadedFunction("accept"));
  f.send = reinterpret_cast<decltype(f.send)>(GetLoadedFunction("send"));
  f.recv = g_recv_for_test != nullptr ? g_recv_for_test
                                      : reinterpret_cast<decltype(f.recv)>(GetLoadedFunction("recv"));
  f.closesocket = reinterpret_cast<decltype(f.closesocket)>(GetLoadedFunction("closesocket"));
  return f;
}

int Recv(const SocketFunctions& f, plat::SocketHandle s, void* buffer, int length, int flags) {
  return f.recv != nullptr ? f.recv(s, static_cast<char*>(buffer), length, flags) : plat::kSocketError;
}
int Send(const SocketFunctions& f, plat::SocketHandle s, const void* buffer, int length) {
  return f.send != nullptr ? f.send(s, static_cast<const char*>(buffer), length, 0) : plat::kSocketError;
}
void Unselect(const SocketFunctions& f, plat::SocketHandle s) {
  if (f.wsa_async_select != nullptr) f.wsa_async_select(s, g_net.window, 0, 0);
}
void CloseSocketOf(const SocketFunctions& f, plat::SocketHandle s) {
  if (s != 0 && s != plat::kInvalidSocket && f.closesocket != nullptr) f.closesocket(s);
}

// The record of a handle (null when refused), with the kind of record the
// operation works on.
NetworkRecord* FindRecord(int32_t handle, bool datagram) {
  if (g_net.started == 0) return nullptr;
  NetworkRecord* r = g_net.table.Find(handle);
  if (r == nullptr || (r->datagram != 0) != datagram) return nullptr;
  return r;
}

// Milliseconds since a reading of the millisecond clock, across the wrap of
// its 31 bits (every 24.8 days of uptime).
int32_t MilliSince(int32_t start) {
  return static_cast<int32_t>((static_cast<uint32_t>(GetMilliClock()) - static_cast<uint32_t>(start)) & 0x7FFFFFFFu);
}

// Ends an accept pause, or the wait of a peer refused for want of a slot:
// the listening socket's accept event is posted again, as the system posts it
// only after an accept.
void ResumeAccept() {
  if (g_net.accept_paused == 0 && g_net.accept_waiting == 0) return;
  g_net.accept_paused = 0;
  g_net.accept_waiting = 0;
  NetworkRecord* listener = g_net.table.At(kNetworkListenSlot);
  if (listener != nullptr && g_net.window != nullptr) {
    plat::PostMessage(g_net.window, kNetworkSocketMessage, listener->socket, plat::kFdAccept);
  }
}

// Posts a read event for a record, as the system would for its socket.
void PostRead(const NetworkRecord* r) {
  if (g_net.window != nullptr) plat::PostMessage(g_net.window, kNetworkSocketMessage, r->socket, plat::kFdRead);
}

// The received bytes the program has not taken, less the message under way
// (a large one is not in the receive buffer).
int32_t UnreadBytes(const NetworkRecord* r) {
  const bool in_buffer = r->receive_remaining != 0 && r->incoming_size <= kNetworkReceiveLargeBytes;
  const int32_t under_way = in_buffer ? r->incoming_size - r->receive_remaining : 0;
  return r->receive_buffer.data_size - under_way;
}

void SetHeld(NetworkRecord* r, bool held) {
  if ((r->receive_held != 0) == held) return;
  r->receive_held = held ? 1 : 0;
  g_net.held_count += held ? 1 : -1;
}

// Keeps the count of oversized receive buffers that the pump looks at.
void NoteReceiveSize(NetworkRecord* r) {
  const bool oversized = r->receive_buffer.buffer_size > kNetworkReceiveKeepBytes;
  if ((r->receive_oversized != 0) == oversized) return;
  r->receive_oversized = oversized ? 1 : 0;
  g_net.oversized_count += oversized ? 1 : -1;
}

// An oversized receive buffer whose program has taken nearly all it held is
// given back for one that holds the rest and a step more; a large message
// leaves its whole size behind otherwise.
void ShrinkReceiveBuffer(NetworkRecord* r) {
  RingBuffer& ring = r->receive_buffer;
  const int32_t held = ring.data_size;
  if (held > kNetworkReceiveKeepBytes / 4) return;
  const int32_t size = held + kNetworkReceiveStep;
  auto* fresh = static_cast<uint8_t*>(RR_ALLOC(static_cast<size_t>(size)));
  if (fresh == nullptr) return;
  RingBufferRead(&ring, fresh, held, 0);
  RingBufferFree(&ring);
  ring = RingBuffer{fresh, 0, held, held, size};
  NoteReceiveSize(r);
}

// Once the program has taken data: reads again from the connections that
// stopped at the hold limit and are below it now (their socket posts no read
// event until a receive, so the pump posts one).
void ServeTakenData() {
  if (g_net.held_count == 0) return;
  for (ListNode* n = g_net.head.next; n != nullptr && n->next != nullptr; n = n->next) {
    auto* r = static_cast<NetworkRecord*>(n->data);
    if (r->receive_held == 0 || UnreadBytes(r) >= kNetworkReceiveHoldBytes) continue;
    SetHeld(r, false);
    PostRead(r);
  }
}

// After a pump's reading: gives back the oversized receive buffers of the
// connections that it left with no data waiting. One that still has data is
// a steady sender, whose buffer the next pump would only grow again.
void GiveBackBuffers() {
  if (g_net.oversized_count == 0) return;
  for (ListNode* n = g_net.head.next; n != nullptr && n->next != nullptr; n = n->next) {
    auto* r = static_cast<NetworkRecord*>(n->data);
    if (r->receive_oversized != 0 && r->ready == 0) ShrinkReceiveBuffer(r);
  }
}

void FreeLargeReceive(NetworkRecord* r) {
  RR_FREE(r->large.block);
  RR_FREE(r->large.previous);
  r->large = NetworkLargeReceive{};
}

// A send that failed because the peer reset or was never reached: nothing
// queued can go out any more. A full buffer or a short shortage of memory
// is no such failure.
void NoteSendError(NetworkRecord* r, const SocketFunctions& f) {
  switch (f.wsa_get_last_error != nullptr ? f.wsa_get_last_error() : 0) {
    case plat::kWsaEConnReset:
    case plat::kWsaEConnAborted:
    case plat::kWsaEConnRefused:
    case plat::kWsaENotConn:
    case plat::kWsaENotSock:
    case plat::kWsaEShutdown:
    case plat::kWsaETimedOut:
    case plat::kWsaEHostUnreach:
    case plat::kWsaENetUnreach:
      r->send_failed = 1;
      break;
    default:
      break;
  }
}

// Frees a record's socket registration, buffers and memory and empties its
// slot.
void DropRecord(NetworkRecord* r, int32_t handle, const SocketFunctions& f) {
  SetHeld(r, false);
  LeaveTurn(r);
  Unselect(f, r->socket);
  CloseSocketOf(f, r->socket);
  RingBufferFree(&r->receive_buffer);
  RingBufferFree(&r->send_buffer);
  NoteReceiveSize(r);
  FreeLargeReceive(r);
  r->in_use = 0;
  r->open = 0;
  r->reserved = 0;
  r->close_state = 1;
  ListRemove(&r->node);
  g_net.socket_handles.erase(r->socket);
  g_net.table.Remove(handle);
  RR_FREE(r);
  // Its descriptor is free again: a paused accept may take the next peer.
  ResumeAccept();
}

void StoreLittleEndian(uint8_t word[4], uint32_t value) {
  for (int i = 0; i < 4; ++i) word[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t LoadLittleEndian(const uint8_t word[4]) {
  return static_cast<uint32_t>(word[0]) | (static_cast<uint32_t>(word[1]) << 8) |
         (static_cast<uint32_t>(word[2]) << 16) | (static_cast<uint32_t>(word[3]) << 24);
}

// A message the ring could never hold with its growth margin: taken as an
// int a length beyond 2^31 would be a negative read size.
bool BeyondRing(const RingBuffer& ring, uint32_t length) {
  return static_cast<int64_t>(ring.data_size) + length + 1000 > INT32_MAX;
}

// One round of the hidden window's queue for the drain loops of the close;
// -1 once the library or the hidden window is gone, which ends a drain.
int DrainPump() {
  PumpNetMessages(0);
  return (g_net.window_destroyed != 0 || GetWindowDestroyedFlag() != 0) ? -1 : 0;
}

// Refuses the incoming message with the log line of a receive buffer that
// cannot grow; the pump then closes the connection.
int RefuseMessage(NetworkRecord* r, uint32_t length) {
  r->error = 1;
  return WriteLogLineFmt("受信データを保存するリングバッファのリサイズに失敗しました(データサイズ %d byte)",
                         static_cast<int>(length));
}

// Bytes read from the socket in one piece, from a message boundary on: the
// bodies go into the ring, and a message cut short at the end (a read that
// came back short) is carried on as one under way. Returns the messages
// completed, or -1 when the ring cannot grow (the message is refused).
int32_t TakeMessageBytes(NetworkRecord* r, const uint8_t* bytes, int32_t n) {
  RingBuffer& ring = r->receive_buffer;
  int32_t count = 0, at = 0;
  while (at < n) {
    if (n - at < 4) {
      std::memcpy(r->receive_word, bytes + at, static_cast<size_t>(n - at));
      r->receive_word_bytes = n - at;
      break;
    }
    const uint32_t word = LoadLittleEndian(bytes + at);
    at += 4;
    if (BeyondRing(ring, word)) {
      RefuseMessage(r, word);
      return -1;
    }
    const int32_t length = static_cast<int32_t>(word);
    const int32_t here = length < n - at ? length : n - at;
    r->incoming_size = length;
    if (RingBufferReserve(&ring, here) != 0) {
      RefuseMessage(r, word);
      return -1;
    }
    for (int32_t done = 0; done < here;) {
      RingBufferWrap(&ring);
      const int32_t room = ring.end < ring.start ? ring.start - ring.end : ring.buffer_size - ring.end;
      const int32_t k = here - done < room ? here - done : room;
      std::memcpy(ring.buffer + ring.end, bytes + at + done, static_cast<size_t>(k));
      ring.end += k;
      done += k;
    }
    ring.data_size += here;
    at += here;
    if (here < length) {
      r->receive_remaining = length - here;
      break;
    }
    r->complete_bytes += length;
    ++count;
  }
  return count;
}

// Moves up to count bytes of a large message's previous block into the
// current one, and frees the previous block once all have moved.
void MoveLargeBytes(NetworkLargeReceive& large, int32_t count) {
  if (large.previous == nullptr) return;
  const int32_t k = count < large.previous_size - large.moved ? count : large.previous_size - large.moved;
  std::memcpy(large.block + large.front + large.moved, large.previous + large.moved, static_cast<size_t>(k));
  large.moved += k;
  if (large.moved < large.previous_size) return;
  RR_FREE(large.previous);
  large.previous = nullptr;
}

// Makes the large message's next block, which holds capacity bytes of it
// (none moved yet); false when it cannot be had. Only the block of the whole
// message keeps room in front, for what the receive buffer holds now: it
// only shrinks until the message is whole.
bool GrowLargeBlock(NetworkRecord* r, int32_t capacity) {
  NetworkLargeReceive& large = r->large;
  MoveLargeBytes(large, INT32_MAX);  // done by now, as the block had room for as many reads
  const int32_t front = capacity == r->incoming_size ? r->receive_buffer.data_size : 0;
  auto* block = static_cast<uint8_t*>(RR_ALLOC(static_cast<size_t>(front) + static_cast<size_t>(capacity)));
  if (block == nullptr) return false;
  large.previous = large.block;
  large.previous_size = large.size - large.front;
  large.moved = 0;
  large.block = block;
  large.size = front + capacity;
  large.front = front;
  return true;
}

// The whole large message becomes the receive buffer, with what the buffer
// held put in front of it: the message's own bytes are not copied.
void CompleteLargeMessage(NetworkRecord* r) {
  NetworkLargeReceive& large = r->large;
  MoveLargeBytes(large, INT32_MAX);
  RingBuffer& ring = r->receive_buffer;
  const int32_t held = ring.data_size;
  RingBufferRead(&ring, large.block + large.front - held, held, 0);
  RingBufferFree(&ring);
  ring = RingBuffer{large.block, large.front - held, 0, held + r->incoming_size, large.size};
  r->complete_bytes += r->incoming_size;
  large = NetworkLargeReceive{};
}

// Reads the next bytes of a large message into its block, growing the block
// when it is full. 1 when the socket may hold more, 0 when it is read out, -1
// when the block cannot grow.
int ReadLargeMessage(NetworkRecord* r, const SocketFunctions& f, NetworkBudget& budget) {
  NetworkLargeReceive& large = r->large;
  const int32_t have = r->incoming_size - r->receive_remaining;
  if (large.block == nullptr || have == large.size - large.front) {
    const int32_t capacity = large.block == nullptr ? kNetworkReceiveStep : 2 * (large.size - large.front);
    if (!GrowLargeBlock(r, capacity >= r->incoming_size / 2 ? r->incoming_size : capacity)) return -1;
  }
  const int32_t want = std::min({budget.bytes, large.size - large.front - have, r->receive_remaining});
  const int n = Recv(f, r->socket, large.block + large.front + have, want, 0);
  if (n <= 0) return 0;
  MoveLargeBytes(large, std::max(n, kNetworkReceivePassBytes));
  r->receive_remaining -= n;
  budget.bytes -= n;
  if (r->receive_remaining == 0) {
    CompleteLargeMessage(r);
    --budget.messages;
  }
  return n == want ? 1 : 0;
}

// One receive pass: whole messages and the start of the next, up to the
// pass's budget of bytes and messages. A pass that stops at its budget has
// read from the socket, so the system posts the read event for the rest.
int RecvLoop(NetworkRecord* r, const SocketFunctions& f, NetworkBudget& budget) {
  RingBuffer& ring = r->receive_buffer;
  for (;;) {
    if (budget.bytes <= 0 || budget.messages <= 0) return 0;
    if (r->receive_remaining == 0) {
      // Between messages: the program has not taken enough yet.
      if (UnreadBytes(r) >= kNetworkReceiveHoldBytes) {
        SetHeld(r, true);
        return 0;
      }
      // Small messages that lie whole in the socket are read together, a
      // chunk at a time, within the pass's budgets and the hold limit.
      if (r->receive_word_bytes == 0) {
        uint8_t chunk[kNetworkReceiveChunk];
        const int peeked = Recv(f, r->socket, chunk, kNetworkReceiveChunk, plat::kMsgPeek);
        if (peeked <= 0) return 0;
        int32_t whole = 0, count = 0, bodies = 0;
        while (peeked - whole >= 4 && count < budget.messages && whole < budget.bytes &&
               ring.data_size + bodies < kNetworkReceiveHoldBytes) {
          const uint32_t length = LoadLittleEndian(chunk + whole);
          if (length > static_cast<uint32_t>(peeked - whole - 4)) break;
          whole += 4 + static_cast<int32_t>(length);
          bodies += static_cast<int32_t>(length);
          ++count;
        }
        if (count > 0) {
          const int n = Recv(f, r->socket, chunk, whole, 0);
          if (n <= 0) return 0;
          const int32_t took = TakeMessageBytes(r, chunk, n);
          if (took < 0) return -1;
          budget.messages -= took;
          budget.bytes -= n;
          PumpNetMessages(0);
          if (n < whole) return 0;
          continue;
        }
      }
      // The word's bytes are taken as they come and kept until all four are
      // there: bytes left in the socket may keep its receive window shut, and
      // then the rest of the word never comes.
      uint8_t* word = r->receive_word;
      const int n = Recv(f, r->socket, word + r->receive_word_bytes, 4 - r->receive_word_bytes, 0);
      if (n <= 0) return 0;
      r->receive_word_bytes += n;
      budget.bytes -= n;
      if (r->receive_word_bytes < 4) return 0;
      r->receive_word_bytes = 0;
      const uint32_t length = LoadLittleEndian(word);
      // A message the ring could never hold is refused now.
      if (BeyondRing(ring, length)) return RefuseMessage(r, length);
      r->receive_remaining = static_cast<int32_t>(length);
      r->incoming_size = static_cast<int32_t>(length);
      if (length == 0) {  // an empty message is complete at once
        --budget.messages;
        continue;
      }
    }
    if (r->incoming_size > kNetworkReceiveLargeBytes) {
      const int more = ReadLargeMessage(r, f, budget);
      if (more < 0) return RefuseMessage(r, static_cast<uint32_t>(r->incoming_size));
      PumpNetMessages(0);
      if (more == 0) return 0;
      continue;
    }
    // The buffer grows as the message's bytes arrive, never by the length
    // word alone.
    const int32_t step = r->receive_remaining < kNetworkReceiveStep ? r->receive_remaining : kNetworkReceiveStep;
    if (RingBufferReserve(&ring, step) != 0) return RefuseMessage(r, static_cast<uint32_t>(r->incoming_size));
    RingBufferWrap(&ring);
    int32_t want = ring.buffer_size - ring.data_size;
    if (want > r->receive_remaining) want = r->receive_remaining;
    if (want > budget.bytes) want = budget.bytes;
    // The free run behind end: up to the buffer's end, or up to start when
    // the held bytes wrap round.
    const int32_t room = ring.end < ring.start ? ring.start - ring.end : ring.buffer_size - ring.end;
    const int32_t first = want < room ? want : room;
    int n = Recv(f, r->socket, ring.buffer + ring.end, first, 0);
    if (n < 0) return 0;
    int32_t got = n;
    ring.end += n;
    if (n == first && want > first) {
      RingBufferWrap(&ring);
      int n2 = Recv(f, r->socket, ring.buffer + ring.end, want - first, 0);
      if (n2 > 0) {
        got += n2;
        ring.end += n2;
      }
    }
    ring.data_size += got;
    r->receive_remaining -= got;
    budget.bytes -= got;
    if (r->receive_remaining == 0) {
      r->complete_bytes += r->incoming_size;
      --budget.messages;
    }
    PumpNetMessages(0);
    // A read that came back short found the socket empty; a full one may
    // have more behind it (the next message, or the rest of this one once
    // the buffer has grown).
    if (got < want) return 0;
  }
}

// Sends until the message is out or a send would block: only a send that
// would block makes the system post the write event again, and a send that
// takes part of what it was given is not one.
int SendLoop(NetworkRecord* r, const SocketFunctions& f) {
  RingBuffer& ring = r->send_buffer;
  for (;;) {
    if (r->header_remaining != 0) {
      uint8_t word[4];
      StoreLittleEndian(word, static_cast<uint32_t>(r->send_remaining));
      int n = Send(f, r->socket, word + 4 - r->header_remaining, r->header_remaining);
      if (n < 0) NoteSendError(r, f);
      if (n <= 0) return 0;
      r->header_remaining -= n;
      if (r->header_remaining != 0) continue;
    } else if (r->send_remaining == 0) {
      const int32_t length = ring.data_size;
      uint8_t word[4];
      StoreLittleEndian(word, static_cast<uint32_t>(length));
      int n = Send(f, r->socket, word, 4);
      if (n < 0) {
        NoteSendError(r, f);
        r->send_remaining = 0;
        return 0;
      }
      r->send_remaining = length;
      if (n < 4) {
        r->header_remaining = 4 - n;
        continue;
      }
    }
    RingBufferWrap(&ring);
    const int32_t want = r->send_remaining < ring.data_size ? r->send_remaining : ring.data_size;
    const int32_t to_end = ring.buffer_size - ring.start;
    const int32_t first = want < to_end ? want : to_end;
    int32_t sent = 0;
    if (first > 0) {
      int n = Send(f, r->socket, ring.buffer + ring.start, first);
      if (n < 0) NoteSendError(r, f);
      if (n > 0) {
        sent = n;
        ring.start += n;
      }
      if (n == first && want > first) {
        ring.start = 0;
        int n2 = Send(f, r->socket, ring.buffer, want - first);
        if (n2 < 0) NoteSendError(r, f);
        if (n2 > 0) {
          sent += n2;
          ring.start += n2;
        }
      }
    }
    ring.data_size -= sent;
    r->send_remaining -= sent;
    PumpNetMessages(0);
    if (sent == 0 || ring.data_size == 0) return 0;
  }
}

// RecvSocket with the budget given, lowered by what the receive took.
int ReceiveWithin(int32_t handle, NetworkBudget& budget) {
  NetworkRecord* r = FindRecord(handle, false);
  if (r == nullptr) return -1;
  if (g_net.receiving != 0) return -1;
  g_net.receiving = 1;
  PumpNetMessages(0);
  int result;
  if (r->in_use == 0) {
    result = WriteLogLine("有効なネットワークハンドルではありません in RecvSocket\n");
  } else if (r->error != 0) {
    result = WriteLogLine("このネットワークハンドルにはエラーが発生しています in RecvSocket\n");
  } else if (r->framed_receive == 0) {
    result = 0;
  } else {
    result = RecvLoop(r, Functions(), budget);
    NoteReceiveSize(r);
  }
  g_net.receiving = 0;
  return result;
}

// Reads a connection of the turn within the budget the scheduler gives it.
void ServeConnection(NetworkRecord* r, NetworkBudget& budget) { ReceiveWithin(r->node.value, budget); }

}  // namespace

NetworkState& GetNetworkState() {
  EnsureList();
  return g_net;
}

intptr_t NetworkWindowProc(plat::Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == kNetworkSocketMessage) return OnSocketEvent(lparam, wparam);
  if (message == kNetworkPassEndMessage) {
    if (wparam > g_net.pass_seen) g_net.pass_seen = wparam;
    return 0;
  }
  if (message == plat::kWmDestroy) {
    g_net.window_destroyed = 1;
    return 0;
  }
  return plat::DefWindowProc(window, message, wparam, lparam);
}

int WriteNetLogLine(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  SocketFunctions f = Functions();
  int error = f.wsa_get_last_error != nullptr ? f.wsa_get_last_error() : 0;
  return WriteLogLineFmt("ネットワークログ。%s[%d]", text, error);
}

void SetNetworkRecvForTest(NetworkRecvFunction recv) { g_recv_for_test = recv; }

int RecvSocket(int32_t handle) {
  NetworkBudget budget{kNetworkReceivePassBytes, kNetworkReceivePassMessages};
  return ReceiveWithin(handle, budget);
}

int SendSocket(int32_t handle) {
  NetworkRecord* r = FindRecord(handle, false);
  if (r == nullptr) return -1;
  if (g_net.sending != 0) return -1;
  g_net.sending = 1;
  PumpNetMessages(0);
  int result;
  if (r->in_use == 0) {
    result = WriteLogLine("有効なネットワークハンドルではありません in SendSocket\n");
  } else if (r->error != 0) {
    result = WriteLogLine("このネットワークハンドルにはエラーが発生しています in SendSocket\n");
  } else if (r->send_buffer.data_size == 0 || r->framed_receive == 0) {
    result = 0;
  } else {
    result = SendLoop(r, Functions());
  }
  g_net.sending = 0;
  return result;
}

int AcceptNetWork() {
  if (g_net.started == 0) return -1;
  PumpNetMessages(0);
  NetworkRecord* listener = g_net.table.At(kNetworkListenSlot);
  if (listener == nullptr) return -1;
  // Out of descriptors: the system would post the accept event again at once
  // and every accept would fail; wait for a close (or a second).
  if (g_net.accept_paused != 0) return -1;
  int32_t slot = 0;
  while (slot < kNetworkListenSlot && g_net.table.At(slot) != nullptr) ++slot;
  if (slot == kNetworkListenSlot) {
    // The peer waits in the backlog; the system posts no accept event
    // before an accept, so the pump posts one once a slot is free.
    g_net.accept_waiting = 1;
    return WriteLogLine("空きソケットデータがなかったので accept を拒否しました \n");
  }
  auto* r = static_cast<NetworkRecord*>(RR_CALLOC(sizeof(NetworkRecord)));
  if (r == nullptr) {
    WriteLogLine("ソケット用のメモリの確保に失敗しました\n");
    return 0;
  }
  const int32_t check = g_net.check_counter;
  const int32_t handle = MakeHandle(kHandleKindNetwork, check, slot);
  r->datagram = 0;
  r->in_use = 1;
  r->ipv6 = listener->ipv6;
  r->open = 1;
  r->accepted = 1;
  r->framed_receive = g_net.framed_receive_off == 0 ? 1 : 0;
  r->auto_close = g_net.auto_close_off == 0 ? 1 : 0;
  EnsureList();
  ListAppend(&g_net.head, &r->node, handle, r);

  SocketFunctions f = Functions();
  auto undo = [&]() {
    ListRemove(&r->node);
    CloseSocketOf(f, r->socket);
    RingBufferFree(&r->receive_buffer);
    RingBufferFree(&r->send_buffer);
    r->in_use = 0;
    RR_FREE(r);
  };
  plat::SockAddrIn6 peer{};
  int length = r->ipv6 ? static_cast<int>(sizeof(plat::SockAddrIn6)) : static_cast<int>(sizeof(plat::SockAddrIn));
  r->socket = f.accept != nullptr ? f.accept(listener->socket, reinterpret_cast<plat::SockAddr*>(&peer), &length)
                                  : plat::kInvalidSocket;
  if (r->socket == plat::kInvalidSocket) {
    const int error = f.wsa_get_last_error != nullptr ? f.wsa_get_last_error() : 0;
    WriteNetLogLine("acceptに失敗しました");
    undo();
    if (error == plat::kWsaEMFile || error == plat::kWsaENoBufs) {
      g_net.accept_paused = 1;
      g_net.accept_pause_start = GetMilliClock();
    }
    return -1;
  }
  if (peer.family == plat::kAfInet6) {
    std::memcpy(r->ipv6_address, peer.address, sizeof(r->ipv6_address));
  } else {
    plat::SockAddrIn v4;
    std::memcpy(&v4, &peer, sizeof(v4));
    std::memcpy(r->ipv4_address, v4.address, 4);
  }
  r->port = peer.port;
  if (f.wsa_async_select == nullptr ||
      f.wsa_async_select(r->socket, g_net.window, kNetworkSocketMessage,
                         plat::kFdRead | plat::kFdWrite | plat::kFdClose) != 0) {
    WriteNetLogLine("WSAAsyncSelectのエラー in AcceptNetWork");
    undo();
    return -1;
  }
  r->check_value = check;
  g_net.table.AddAt(slot, check, r);
  g_net.check_counter = check + 1 > 2047 ? 0 : check + 1;
  return 1;
}

int CloseNetHandle(int32_t handle) {
  NetworkRecord* r = FindRecord(handle, false);
  if (r == nullptr || r->in_use == 0) return -1;
  PumpNetMessages(0);
  // Drain for up to a second each way. A round that moves nothing sleeps a
  // millisecond, so the wait ends on any clock. Once the peer has closed and
  // its last bytes are read, the rest of a message can no longer come.
  int32_t start = GetMilliClock();
  while (r->receive_remaining != 0 && MilliSince(start) < 1000) {
    if (DrainPump() != 0) break;
    const int32_t before = r->receive_remaining;
    if (RecvSocket(handle) == -1 && r->error != 0) break;
    if (r->receive_remaining == before) {
      if (r->open == 0) break;
      plat::Sleep(1);
    }
  }
  // A peer that reset, or a connect that failed, takes no more bytes.
  start = GetMilliClock();
  while (r->send_buffer.data_size != 0 && r->send_failed == 0 && MilliSince(start) < 1000) {
    if (DrainPump() != 0) break;
    const int32_t before = r->send_buffer.data_size;
    if (SendSocket(handle) == -1 || r->send_failed != 0) break;
    if (r->send_buffer.data_size == before) plat::Sleep(1);
  }
  DropRecord(r, handle, Functions());
  return 0;
}

int FreeNetHandle(int32_t handle) {
  NetworkRecord* r = FindRecord(handle, true);
  if (r == nullptr) return -1;
  DropRecord(r, handle, Functions());
  return 0;
}

int PumpNetMessages(int close_finished) {
  if (g_net.started == 0 || g_net.window == nullptr) return 0;
  // Inside a socket event, or a receive or send loop, the events waiting are
  // left to the pump that is running or comes next: one taken here would be
  // served before older ones, or refused and posted again behind newer ones.
  if (g_net.in_event != 0 || g_net.receiving != 0 || g_net.sending != 0) return 0;
  // The close pass pumps again while it drains; a nested pass must not close
  // the record the outer one is closing.
  if (close_finished == 1 && g_net.closing_pass == 0) {
    g_net.closing_pass = 1;
    EnsureList();
    for (ListNode* n = g_net.head.next; n != nullptr && n->next != nullptr;) {
      auto* r = static_cast<NetworkRecord*>(n->data);
      ListNode* next = n->next;
      if (r->in_use != 0 && r->datagram == 0 &&
          (r->error != 0 || (r->open == 0 && r->close_state == 1 && r->auto_close != 0)) &&
          CloseNetHandle(n->value) == 0) {
        // The drain may have changed the list: walk again from the start.
        n = g_net.head.next;
        continue;
      }
      n = next;
    }
    g_net.closing_pass = 0;
    if (g_net.accept_paused != 0 && MilliSince(g_net.accept_pause_start) >= 1000) ResumeAccept();
  }
  ServeTakenData();
  // The messages pending now, and no more: the events that their handling
  // brings (a peer that keeps sending re-arms the read event with every
  // receive) wait for the next pump, so that no peer can hold this one. The
  // read events among them only mark their connections; the reading follows,
  // within the pump's budget, so that neither one peer nor many can hold it.
  const uint64_t pass = ++g_net.pass_posted;
  if (plat::PostMessage(g_net.window, kNetworkPassEndMessage, pass, 0)) {
    plat::Message m;
    while (g_net.window != nullptr && g_net.pass_seen < pass && plat::PeekMessage(&m, g_net.window, true)) {
      plat::TranslateMessage(&m);
      plat::DispatchMessage(&m);
    }
  }
  ServeTurn(ServeConnection);
  GiveBackBuffers();
  return 0;
}

namespace {

// The record of an event's socket: by the handle an earlier event found for
// it, while that handle's record still has the socket, else by a walk of the
// records, whose find is noted. A pump that dispatches the read events of
// many connections would otherwise walk them all for each.
NetworkRecord* RecordOfSocket(uintptr_t socket) {
  if (auto it = g_net.socket_handles.find(socket); it != g_net.socket_handles.end()) {
    NetworkRecord* r = g_net.table.Find(it->second);
    if (r != nullptr && r->socket == socket) return r;
    g_net.socket_handles.erase(it);
  }
  for (ListNode* n = g_net.head.next; n != nullptr && n->next != nullptr; n = n->next) {
    auto* candidate = static_cast<NetworkRecord*>(n->data);
    if (candidate->socket == socket) {
      g_net.socket_handles[socket] = n->value;
      return candidate;
    }
  }
  return nullptr;
}

intptr_t HandleSocketEvent(intptr_t lparam, uintptr_t socket) {
  NetworkRecord* r = RecordOfSocket(socket);
  if (r == nullptr) {
    WriteLogLine("通信エラー No.1\n");
    return 0;
  }
  const int32_t event = static_cast<int32_t>(lparam & 0xFFFF);
  const int32_t error = static_cast<int32_t>((lparam >> 16) & 0xFFFF);
  if (r->datagram != 0) {
    if (event == plat::kFdRead) r->datagram_readable = 1;
    if (event == plat::kFdWrite) r->datagram_writable = 1;
    return 1;
  }
  switch (event) {
    case plat::kFdRead:
      // Read by the network pump (the library's message pump runs one after
      // the events it dispatches), in its turn.
      JoinTurn(r);
      return 1;
    case plat::kFdWrite:
      SendSocket(r->node.value);
      return 1;
    case plat::kFdAccept:
      return AcceptNetWork();
    case plat::kFdConnect:
      if (error == 0) r->open = 1;
      if (error != 0) r->send_failed = 1;
      return 1;
    case plat::kFdClose:
      r->open = 0;
      r->close_state = 0;
      // The close comes once everything was read: the rest of the word never will.
      if (r->receive_word_bytes != 0) {
        WriteLogLineFmt("受信途中のデータ長 %d byte は相手が切断したので破棄しました\n", r->receive_word_bytes);
        r->receive_word_bytes = 0;
      }
      return 1;
    default:
      return 1;
  }
}

// Drains every connection side by side for at most a second in all: the
// receives of messages under way and the sends of what is queued.
void DrainAllForEnd() {
  const int32_t start = GetMilliClock();
  while (MilliSince(start) < 1000) {
    if (DrainPump() != 0) return;
    bool waiting = false, moved = false;
    for (ListNode* n = g_net.head.next; n != nullptr && n->next != nullptr; n = n->next) {
      auto* r = static_cast<NetworkRecord*>(n->data);
      if (r->datagram != 0 || r->in_use == 0 || r->error != 0) continue;
      if (r->receive_remaining != 0) {
        const int32_t before = r->receive_remaining;
        RecvSocket(n->value);
        if (r->receive_remaining != before) moved = true;
        // A peer that has closed and sent its last bytes finishes nothing.
        if (r->receive_remaining != 0 && r->error == 0 && (r->open != 0 || r->receive_remaining != before)) {
          waiting = true;
        }
      }
      if (r->send_buffer.data_size != 0 && r->send_failed == 0) {
        const int32_t before = r->send_buffer.data_size;
        SendSocket(n->value);
        if (r->send_buffer.data_size != before) moved = true;
        if (r->send_buffer.data_size != 0 && r->send_failed == 0) waiting = true;
      }
    }
    if (!waiting) return;
    if (!moved) plat::Sleep(1);
  }
}

}  // namespace

intptr_t OnSocketEvent(intptr_t lparam, uintptr_t socket) {
  EnsureList();
  ++g_net.in_event;
  const intptr_t result = HandleSocketEvent(lparam, socket);
  --g_net.in_event;
  return result;
}

int NetworkEnd() {
  if (g_net.started == 0) return 0;
  WriteLogLine("ネットワーク関連の終了処理を行います \n");
  SocketFunctions f = Functions();
  // The listening record goes first, so that no accept event still queued
  // makes a record once the connections are drained.
  if (NetworkRecord* listener = g_net.table.At(kNetworkListenSlot)) {
    const int32_t handle = g_net.table.HandleAt(kNetworkListenSlot);
    int result = listener->datagram != 0 ? FreeNetHandle(handle) : CloseNetHandle(handle);
    if (result != 0 && g_net.table.At(kNetworkListenSlot) == listener) DropRecord(listener, handle, f);
  }
  // Then every connection drains at once, within one second in all rather
  // than one each, and is closed without a drain of its own.
  DrainAllForEnd();
  for (int32_t slot = 0; slot < kNetworkSlots; ++slot) {
    if (NetworkRecord* r = g_net.table.At(slot)) DropRecord(r, g_net.table.HandleAt(slot), f);
  }
  if (g_net.window != nullptr && g_net.window_destroyed == 0 && plat::IsWindow(g_net.window)) {
    plat::PostMessage(g_net.window, plat::kWmClose, 0, 0);
    plat::Message m;
    while (plat::PeekMessage(&m, g_net.window, true)) {
      plat::TranslateMessage(&m);
      plat::DispatchMessage(&m);
    }
  }
  g_net.started = 0;
  g_net.window = nullptr;
  g_net.check_counter = 0;
  g_net.framed_receive_off = 0;
  g_net.auto_close_off = 0;
  g_net.receiving = 0;
  g_net.sending = 0;
  g_net.closing_pass = 0;
  g_net.window_destroyed = 0;
  g_net.accept_paused = 0;
  g_net.accept_waiting = 0;
  g_net.in_event = 0;
  g_net.held_count = 0;
  g_net.oversized_count = 0;
  ListInit(&g_net.head, &g_net.tail);
  g_net.socket_handles.clear();
  ListInit(&g_net.new_head, &g_net.new_tail);
  ListInit(&g_net.old_head, &g_net.old_tail);
  g_net.ready_count = 0;
  g_list_ready = true;
  if (f.wsa_cleanup != nullptr) f.wsa_cleanup();
  WriteLogLine("ネットワーク関連の終了処理は完了しました\n");
  return 0;
}
