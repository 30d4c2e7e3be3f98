// lib/system/network.h - the framed TCP layer in the window-message model.
//
// Each socket is registered on a hidden network window; its events arrive as
// the socket message and move bytes between the socket and the connection's
// ring buffers. On the wire every message is a u32 length (little-endian)
// followed by that many bytes. Connections are handles of the network kind in
// a table of 8193 slots: 0..8191 connections, 8192 the listening socket.
//
// Nothing in the library starts the network: while it is not started every
// operation returns at its first test. A start fills the state below (started
// flag, hidden window made with NetworkWindowProc, the listening record in
// slot 8192 linked into the live list) after the system's socket start.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <unordered_map>

#include "lib/core/handle_table.h"
#include "lib/core/list.h"
#include "lib/core/ring_buffer.h"
#include "platform/window/window.h"
#include "platform/net/winsock.h"

constexpr uint32_t kNetworkSocketMessage = 0x0505;
// Posted by the network pump to its own hidden window: the messages queued
// before it are the ones that pass dispatches (wparam: the pass number).
constexpr uint32_t kNetworkPassEndMessage = 0x0506;
constexpr int32_t kNetworkSlots = 8193;
constexpr int32_t kNetworkListenSlot = 8192;
// A receive that the program calls itself takes at most this many bytes
// (length words included) or messages from a socket; the read event that the
// system posts for what is left carries on.
constexpr int32_t kNetworkReceivePassBytes = 256 * 1024;
constexpr int32_t kNetworkReceivePassMessages = 256;
// What one network pump reads. A read event only puts its connection in the
// turn of those with data; once the pump has dispatched its events it reads
// the turn by deficit round robin (net_schedule.h), those whose data has
// just come first: each connection with data reads a quantum in turn, one
// that reads less than its quantum has drained and waits emptied among the
// others until its data comes or the turn reaches it, what is left of the
// pump's total goes round again to those that still hold data, and the next
// pump carries on where this one stopped. So one sender reads as much beside
// any number of idle connections as alone, and the pump stops only when its
// total is spent or no connection with data is left.
//
// In all a pump reads at most kNetworkPumpBytes, and one connection at most
// kNetworkConnectionPumpBytes (a gigabit link's worth at 60 pumps a second),
// so that several senders read more than one. Beyond kNetworkPumpFullSenders
// senders with data when the pump starts, its whole budget falls in
// proportion, to kNetworkPumpLeastBytes: every connection read wakes its
// sender, and where the senders share the program's processors they hold up
// a pump that reads much, so that however many flood, a pump stays short. A
// connection counts as a whole sender when it holds at least
// kNetworkQuantumBytes, and one that holds less as that part of one, so that
// a crowd of light connections, each a few bytes, does not cut a heavy
// sender's total. A message counts as kNetworkPumpBytesPerMessage bytes
// against the count of messages.
constexpr int32_t kNetworkPumpBytes = 4 * 1024 * 1024;
constexpr int32_t kNetworkConnectionPumpBytes = 2 * 1024 * 1024;
constexpr int32_t kNetworkPumpFullSenders = 10;
constexpr int32_t kNetworkPumpLeastBytes = 1024 * 1024;
constexpr int32_t kNetworkPumpBytesPerMessage = 256;
constexpr int32_t kNetworkPumpMessages = kNetworkPumpBytes / kNetworkPumpBytesPerMessage;
constexpr int32_t kNetworkConnectionPumpMessages = kNetworkConnectionPumpBytes / kNetworkPumpBytesPerMessage;
// The least quantum a connection is given a round, however many have data;
// a pump whose total allows more gives an even share of it.
constexpr int32_t kNetworkQuantumBytes = 8 * 1024;
constexpr int32_t kNetworkQuantumMessages = kNetworkQuantumBytes / kNetworkPumpBytesPerMessage;
// A message's buffer grows by at most this much ahead of its bytes: a peer
// that announces a large message and sends little costs what it sent.
constexpr int32_t kNetworkReceiveStep = 64 * 1024;
// Small messages are read together in chunks of up to this many bytes.
constexpr int32_t kNetworkReceiveChunk = 8 * 1024;
// A message longer than this is read into a block of its own (see
// NetworkLargeReceive), so that no pump copies it whole as it grows.
constexpr int32_t kNetworkReceiveLargeBytes = 1024 * 1024;
// A receive buffer larger than this goes back to a modest size once the
// program has taken nearly all it held.
constexpr int32_t kNetworkReceiveKeepBytes = 1024 * 1024;
// The received messages a connection holds for the program: at this many
// bytes not yet taken the layer stops reading the socket, so that the
// peer's TCP window holds it back; the pump reads again once the program has
// taken some. A message under way is always read to its end.
constexpr int32_t kNetworkReceiveHoldBytes = 4 * 1024 * 1024;

// What a receive may still take, or has taken.
struct NetworkBudget {
  int32_t bytes;
  int32_t messages;
};

// A large message under way. Its block grows as its bytes come, each time
// to twice the size, or to the whole message (with room in front for what
// the receive buffer still holds) once a quarter of it is in; the bytes of
// the block before move over a little with each read, at least as many as
// were read, so the move ends before the new block is full. The whole
// message's block becomes the receive buffer.
struct NetworkLargeReceive {
  uint8_t* block;      // byte i of the message at block[front + i]
  int32_t size;
  int32_t front;
  uint8_t* previous;   // the block before the last growth, full
  int32_t previous_size;
  int32_t moved;       // of its bytes, moved over so far
};

struct NetworkRecord {
  int32_t datagram;         // 1: events only set the two datagram flags
  int32_t in_use;
  int32_t ipv6;
  int32_t error;            // the receive buffer failed to grow; the pump closes it
  int32_t open;             // accept (or FD_CONNECT) until FD_CLOSE
  int32_t close_state;
  int32_t reserved;
  int32_t accepted;
  int32_t framed_receive;   // only then is data read into the receive buffer
  int32_t auto_close;
  int32_t check_value;
  plat::SocketHandle socket;
  int32_t receive_remaining;  // 0: a length word comes next
  RingBuffer receive_buffer;  // payload bytes only
  int32_t incoming_size;
  int32_t complete_bytes;     // bytes of fully received messages
  RingBuffer send_buffer;     // the payload of the next message
  int32_t send_remaining;     // also holds the length word while it is sent
  int32_t header_remaining;   // bytes of the length word not yet sent
  uint8_t ipv4_address[4];
  uint16_t ipv6_address[8];
  uint32_t port;              // network byte order, as the socket address holds it
  int32_t datagram_readable;
  int32_t datagram_writable;
  ListNode node;              // value: the handle; data: the record
  // The bytes of a length word that came in pieces; taken from the socket as
  // they arrive, since bytes left in it may keep the receive window shut.
  uint8_t receive_word[4];
  int32_t receive_word_bytes;
  // Reading stopped at the hold limit; the pump reads again below it.
  int32_t receive_held;
  // The receive buffer is larger than kNetworkReceiveKeepBytes.
  int32_t receive_oversized;
  NetworkLargeReceive large;
  // A send failed for good (the peer reset or never connected): nothing
  // queued can go out any more.
  int32_t send_failed;
  // A read event came and the pump has not yet read the connection out.
  int32_t ready;
  // It has a place in the turn (net_schedule.h), in the new list or the old;
  // in the old without data when it is not ready (emptied).
  int32_t listed;
  ListNode ready_node;  // value: the handle; data: the record
  // What is left of the quanta the turn gave it (below 0 after a whole
  // message took it past its budget; emptied, up to one quantum), and
  // whether its visit was cut short by the pump's total and carries on at
  // the next.
  NetworkBudget deficit;
  int32_t in_visit;
  int32_t held_more;         // its last visit left it holding more than it was given
  uint32_t pump_number;      // the last pump that read it
  NetworkBudget pump_taken;  // what that pump read of it
};

struct NetworkState {
  int32_t started;
  plat::Window* window;
  HandleTable<NetworkRecord, kNetworkSlots> table{kHandleKindNetwork, HandleSlotRule::kLowestFree};
  int32_t check_counter;       // 0..2047
  int32_t framed_receive_off;  // settings: 0 leaves the feature on
  int32_t auto_close_off;
  int32_t receiving, sending;  // re-entry guards
  int32_t closing_pass;        // the pump's close pass is running
  int32_t window_destroyed;
  ListNode head, tail;
  // Each socket's handle, as the events found them (network.cpp).
  std::unordered_map<plat::SocketHandle, int32_t> socket_handles;
  uint64_t pass_posted;        // the last pass-end message posted
  uint64_t pass_seen;          // the last one dispatched
  // Accept ran out of descriptors: no accept is tried until a connection
  // closes or a second has passed (millisecond clock at the pause).
  int32_t accept_paused;
  int32_t accept_pause_start;
  // Every slot was taken when a peer came: it waits in the backlog, and the
  // pump posts the accept event again once a slot is free.
  int32_t accept_waiting;
  // Socket events being handled: a pump inside one dispatches nothing, so
  // that each pump serves the events in the order they came.
  int32_t in_event;
  // Connections whose reading stopped at the hold limit, and whose receive
  // buffer is oversized.
  int32_t held_count;
  int32_t oversized_count;
  // The turn, in the order the pump serves it after dispatching its events:
  // the new list, then the old; the connections in it with data; and the
  // pumps that read it.
  ListNode new_head, new_tail;
  ListNode old_head, old_tail;
  int32_t ready_count;
  uint32_t pump_number;
};
NetworkState& GetNetworkState();

// The procedure of the hidden network window: the socket message goes to
// OnSocketEvent, its destruction sets the destroyed flag.
intptr_t NetworkWindowProc(plat::Window* window, uint32_t message, uintptr_t wparam,
                           intptr_t lparam);

int RecvSocket(int32_t handle);
int SendSocket(int32_t handle);
int AcceptNetWork();
int CloseNetHandle(int32_t handle);
int FreeNetHandle(int32_t handle);
int PumpNetMessages(int close_finished);
int NetworkEnd();
intptr_t OnSocketEvent(intptr_t lparam, uintptr_t socket);
int WriteNetLogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Test seam: the receive that the layer calls in place of the system's (null:
// the system's again), so that a test can have a pump find more bytes
// waiting than a socket's buffer holds.
using NetworkRecvFunction = int (*)(plat::SocketHandle socket, char* buffer, int length, int flags);
void SetNetworkRecvForTest(NetworkRecvFunction recv);
