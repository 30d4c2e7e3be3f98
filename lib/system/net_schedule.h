// lib/system/net_schedule.h - the network pump's scheduler: deficit round
// robin over the connections with data (the turn). It owns the turn's order
// and each connection's deficit; the reading itself is the receive loop's
// (network.cpp), which the pump hands in.
//
// A read event puts its connection last in the turn. Each pump sets its total
// when it starts, then visits the turn from its head: a connection is given
// the pump's quantum on top of what it has left (its deficit, below 0 where a
// whole message took it past its last budget), reads within that, the pump's
// total and its own most for a pump, and then
// - leaves the turn when it read less than it was given: it has drained (or
//   is held, or failed), and its next read event puts it last again. What it
//   left of its deficit, up to one quantum, it keeps for the next pump: the
//   system refills a socket a window at a time, so that one may hold less
//   than its quantum at one pump and more at the next. Dropped, that rest
//   would go to whichever connection's socket held more, and the system
//   grows the buffer of a socket that is read more, so that one connection
//   among equal senders would take ever more of the pump;
// - goes last when it spent its deficit: what is left of the total goes
//   round again to those that still hold data;
// - stays first with the rest of its deficit when the pump's total ran out:
//   the next pump carries on where this one stopped.
// A connection that took its most for a pump waits last for the next. So the
// pump stops only when its total is spent or no connection that had data is
// left to read, and no count of connections can make a quantum smaller than
// kNetworkQuantumBytes.
#pragma once

#include <cstdint>

#include "lib/system/network.h"

// Puts a connection last in the turn, unless it is in it.
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
