// lib/system/net_schedule.cpp - deficit round robin over the connections
// with data: the turn's new and old lists, the quanta and deficits, and the
// pump's total.
#include "lib/system/net_schedule.h"

#include <algorithm>

namespace {

constexpr NetworkBudget kMost{kNetworkConnectionPumpBytes, kNetworkConnectionPumpMessages};

bool Positive(const NetworkBudget& b) { return b.bytes > 0 && b.messages > 0; }
NetworkBudget Less(const NetworkBudget& a, const NetworkBudget& b) { return {a.bytes - b.bytes, a.messages - b.messages}; }
NetworkBudget More(const NetworkBudget& a, const NetworkBudget& b) { return {a.bytes + b.bytes, a.messages + b.messages}; }
NetworkBudget Least(const NetworkBudget& a, const NetworkBudget& b) {
  return {std::min(a.bytes, b.bytes), std::min(a.messages, b.messages)};
}

// Puts a connection in the turn last in the old list.
void MoveLast(NetworkState& s, NetworkRecord* r) {
  ListRemove(&r->ready_node);
  ListAppend(s.old_tail.previous, &r->ready_node, r->node.value, r);
}

// When no connection has data, the emptied ones have no one to wait among:
// they go, and each is new again at its next read event.
void LeaveEmptied(NetworkState& s) {
  while (s.old_head.next != &s.old_tail) LeaveTurn(static_cast<NetworkRecord*>(s.old_head.next->data));
}

// The pump's total, learnt as it reads: a connection counts as a whole sender
// until the pump has read it, then as the part of one it held, up to a
// quantum (whole when it still holds more). That is the bytes waiting in its
// socket, read where the pump would read them anyway; and as the connections
// not yet read count whole, the total only grows as the pump learns them. One
// that held more than it was given at its last visit counts whole too: a
// flooding peer's socket can hold little at one pump while the peer waits for
// a processor, and counted light it would raise the total that those whose
// sockets the system has grown then take, which starves the rest further.
struct PumpTotal {
  int32_t unread;  // connections in the turn at the start that no visit has read yet
  int64_t held;    // bytes of those read, each up to a quantum
  NetworkBudget Total() const {
    return PumpBudget(unread + static_cast<int32_t>((held + kNetworkQuantumBytes - 1) / kNetworkQuantumBytes));
  }
};

}  // namespace

void JoinTurn(NetworkRecord* r) {
  if (r->ready != 0) return;
  NetworkState& s = GetNetworkState();
  r->ready = 1;
  ++s.ready_count;
  // An emptied connection keeps its place in the old list.
  if (r->listed != 0) return;
  ListAppend(s.new_tail.previous, &r->ready_node, r->node.value, r);
  r->listed = 1;
  r->in_visit = 0;
  r->deficit = NetworkBudget{};
}

void LeaveTurn(NetworkRecord* r) {
  if (r->listed == 0) return;
  ListRemove(&r->ready_node);
  r->listed = 0;
  if (r->ready == 0) return;
  r->ready = 0;
  --GetNetworkState().ready_count;
}

NetworkBudget PumpBudget(int32_t senders) {
  int64_t bytes = kNetworkPumpBytes;
  if (senders > kNetworkPumpFullSenders) {
    bytes = std::max<int64_t>(bytes * kNetworkPumpFullSenders / senders, kNetworkPumpLeastBytes);
  }
  return NetworkBudget{static_cast<int32_t>(bytes), static_cast<int32_t>(bytes / kNetworkPumpBytesPerMessage)};
}

void ServeTurn(NetworkServeFunction serve) {
  NetworkState& s = GetNetworkState();
  const uint32_t pump = ++s.pump_number;
  if (s.ready_count == 0) {
    LeaveEmptied(s);
    return;
  }
  // The quantum: an even share of the least total the pump can have, so
  // that a pump whose connections all hold much serves each once; never
  // below kNetworkQuantumBytes, however many hold data.
  const int32_t n = s.ready_count;
  const NetworkBudget least = PumpBudget(n);
  const NetworkBudget quantum{std::max(kNetworkQuantumBytes, least.bytes / n),
                              std::max(kNetworkQuantumMessages, least.messages / n)};
  PumpTotal total{n, 0};
  NetworkBudget all = least, used{0, 0};
  // Those that took their most, kept apart until the pump ends.
  ListNode aside_head, aside_tail;
  ListInit(&aside_head, &aside_tail);
  int32_t aside = 0;
  // Visits in a row that left a connection in the turn without reading: a
  // whole turn of them would go round for ever.
  int32_t idle = 0;
  for (int32_t in_turn = n; in_turn > 0 && idle < in_turn && Positive(Less(all, used));
       in_turn = s.ready_count - aside) {
    ListNode* head = s.new_head.next != &s.new_tail ? s.new_head.next : s.old_head.next;
    auto* r = static_cast<NetworkRecord*>(head->data);
    if (r->ready == 0) {  // emptied, and no data came while it waited
      LeaveTurn(r);
      continue;
    }
    const bool first = r->pump_number != pump;
    if (first) {
      r->pump_number = pump;
      r->pump_taken = NetworkBudget{};
    }
    if (r->in_visit == 0) {
      r->deficit = More(r->deficit, quantum);
      r->in_visit = 1;
    }
    // Alone in the turn, it would be given quantum after quantum: all at once.
    const bool alone = in_turn == 1;
    NetworkBudget budget = Least(Less(all, used), Less(kMost, r->pump_taken));
    if (!alone) budget = Least(budget, r->deficit);
    if (!Positive(budget)) {
      r->in_visit = 0;
      MoveLast(s, r);
      ++idle;
      continue;
    }
    const NetworkBudget given = budget;
    serve(r, budget);
    const NetworkBudget took = Less(given, budget);
    used = More(used, took);
    r->pump_taken = More(r->pump_taken, took);
    r->deficit = alone ? NetworkBudget{} : Less(r->deficit, took);
    const bool drained = Positive(budget);
    if (first) {
      --total.unread;
      total.held += drained && r->held_more == 0 ? std::min(took.bytes, kNetworkQuantumBytes) : kNetworkQuantumBytes;
      all = total.Total();
    }
    r->held_more = drained ? 0 : 1;
    if (drained) {
      // Emptied: it waits last among the old ones with the rest of its
      // deficit (above 0: it read less than it was given), up to a quantum.
      r->deficit = Least(quantum, r->deficit);
      r->in_visit = 0;
      MoveLast(s, r);
      if (r->ready != 0) {
        r->ready = 0;
        --s.ready_count;
      }
    } else if (!Positive(Less(kMost, r->pump_taken))) {
      r->deficit = NetworkBudget{};
      r->in_visit = 0;
      ListRemove(&r->ready_node);
      ListAppend(aside_tail.previous, &r->ready_node, r->node.value, r);
      ++aside;
    } else if (alone || !Positive(r->deficit)) {
      r->in_visit = 0;
      MoveLast(s, r);
    }
    // Otherwise the pump's total ran out within its visit: it stays first.
    idle = took.bytes == 0 && r->ready != 0 ? idle + 1 : 0;
  }
  while (aside_head.next != &aside_tail) MoveLast(s, static_cast<NetworkRecord*>(aside_head.next->data));
  if (s.ready_count == 0) LeaveEmptied(s);
}
