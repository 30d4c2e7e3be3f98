// lib/system/net_schedule.h - the network pump's scheduler: deficit round
// robin over the connections with data (the turn), with a list for those
// whose data has just come ahead of those that have held data for a while,
// as the flow queue scheduler of RFC 8290 keeps new flows ahead of old ones.
// It owns the turn's order and each connection's deficit; the reading itself
// is the receive loop's (network.cpp), which the pump hands in.
//
// A read event puts a connection that is out of the turn last in the new
// list. Each pump sets its total when it starts, then visits the new list
// from its head and, once that is empty, the old list from its head: a
// connection is given the pump's quantum on top of what it has left (its
// deficit, below 0 where a whole message took it past its last budget),
// reads within that, the pump's total and its own most for a pump, and then
// - when it read less than it was given, it has drained (or is held, or
//   failed): it goes last in the old list, emptied, with what it left of its
//   deficit, up to one quantum. A read event that comes before the turn
//   reaches it leaves it there, to read that rest and a new quantum in its
//   place; if the turn reaches it first, it leaves the turn, and its next
//   read event puts it last in the new list. So a peer whose data comes now
//   and then (one small message a frame) is read at the first pump after it
//   came, however long the old list, while a crowd of such peers cannot keep
//   a sender with data out: each waits its place among the old ones before
//   it is new again. And a sender whose socket the system refills a window
//   at a time, short at one pump, takes the rest of its quantum at its next
//   visit: dropped, that rest would go to whichever connection's socket held
//   more, and the system grows the buffer of a socket that is read more, so
//   that one connection among equal senders would take ever more of the
//   pump. When no connection has data, the emptied ones leave;
// - goes last in the old list when it spent its deficit: what is left of the
//   total goes round again to those that still hold data;
// - stays first in its list with the rest of its deficit when the pump's
//   total ran out: the next pump carries on where this one stopped.
// A connection that took its most for a pump waits last in the old list for
// the next. So the pump stops only when its total is spent or no connection
// that had data is left to read, and no count of connections can make a
// quantum smaller than kNetworkQuantumBytes.
#pragma once

#include <cstdint>

#include "lib/system/network.h"

// Puts a connection out of the turn last in the new list; marks an emptied
// one as having data, in its place in the old list.
void JoinTurn(NetworkRecord* r);
// Takes a connection out of the turn, if it is in it.
void LeaveTurn(NetworkRecord* r);

// Reads a connection within the budget, which it lowers by what it took.
using NetworkServeFunction = void (*)(NetworkRecord* r, NetworkBudget& budget);
// One pump's reading of the turn.
void ServeTurn(NetworkServeFunction serve);

// What one pump may read in all while connections worth the given number of
// whole senders have data.
NetworkBudget PumpBudget(int32_t senders);
