// lib/system/message_pump.cpp - the message pump, the waits built on it, and
// the library lock that serialises the public entries between threads.
#include "lib/core/clock.h"
#include "lib/system/input.h"
#include "lib/system/network.h"
#include "lib/system/text_input.h"
#include "lib/system/window_system.h"
#include "lib/sound/movie.h"
#include "lib/sound/sound.h"
#include "platform/kernel/kernel.h"

namespace {

// ---- The library lock ----------------------------------------------------------------
//
// Re-entrant for its owner; waiters queue first in, first out, each on its
// own event, and exactly one waiter wakes per final release.

constexpr int kMaxWaiters = 4096;

struct Waiter {
  uint32_t thread_id;
  plat::Event* event;
};

struct LibraryLockState {
  int initialised;
  int recursion_count;
  int locked;
  uint32_t owner_thread;
  Waiter waiters[kMaxWaiters];
  int waiter_count;
};

LibraryLockState g_lock;
plat::CriticalSection g_lock_section;

// Under the critical section: the head of the queue leaves it; its event
// moves to the end so that it stays with a free entry.
void RemoveHead() {
  if (g_lock.waiter_count == 1) {
    g_lock.waiter_count = 0;
    return;
  }
  plat::Event* head_event = g_lock.waiters[0].event;
  for (int i = 1; i < g_lock.waiter_count; ++i) g_lock.waiters[i - 1] = g_lock.waiters[i];
  g_lock.waiters[g_lock.waiter_count - 1] = {0, head_event};
  --g_lock.waiter_count;
}

void Take(uint32_t id) {
  ++g_lock.recursion_count;
  g_lock.locked = 1;
  g_lock.owner_thread = id;
  g_lock_section.Leave();
}

}  // namespace

void LockLibrary() {
  g_lock_section.Enter();
  if (g_lock.initialised == 0) {
    g_lock.initialised = 1;
    for (Waiter& w : g_lock.waiters) w = {0, plat::CreateEvent(true, false)};
    g_lock.owner_thread = 0xFFFFFFFFu;
  }
  g_lock_section.Leave();
  uint32_t id = plat::GetCurrentThreadId();
  for (;;) {
    g_lock_section.Enter();
    if (g_lock.locked == 1) {
      if (g_lock.owner_thread == id) return Take(id);
    } else {
      if (g_lock.waiter_count == 0 || g_lock.owner_thread == id) return Take(id);
      if (g_lock.waiters[0].thread_id == id) {
        RemoveHead();
        return Take(id);
      }
    }
    if (g_lock.waiter_count == kMaxWaiters) {
      g_lock_section.Leave();
      plat::Sleep(1);
      continue;
    }
    Waiter& entry = g_lock.waiters[g_lock.waiter_count];
    entry.thread_id = id;
    plat::Event* event = entry.event;
    ++g_lock.waiter_count;
    g_lock_section.Leave();
    plat::WaitEvent(event, plat::kInfinite);
    plat::ResetEvent(event);
  }
}

void UnlockLibrary() {
  g_lock_section.Enter();
  plat::Event* wake = nullptr;
  if (g_lock.recursion_count == 1) {
    g_lock.locked = 0;
    g_lock.owner_thread = 0xFFFFFFFFu;
    if (g_lock.waiter_count >= 1) wake = g_lock.waiters[0].event;
  }
  if (g_lock.recursion_count > 0) --g_lock.recursion_count;
  g_lock_section.Leave();
  if (wake != nullptr) {
    plat::SetEvent(wake);
    plat::Sleep(0);
  }
}

int GetLibraryLockWaiterCount() {
  g_lock_section.Enter();
  int count = g_lock.waiter_count;
  g_lock_section.Leave();
  return count;
}

void DeleteLibraryLock() {
  g_lock_section.Enter();
  if (g_lock.initialised) {
    g_lock.initialised = 0;
    for (Waiter& w : g_lock.waiters) {
      if (w.event != nullptr) plat::CloseEvent(w.event);
      w = {0, nullptr};
    }
    g_lock.waiter_count = 0;
    g_lock.recursion_count = 0;
    g_lock.locked = 0;
  }
  g_lock_section.Leave();
}

// ---- The pump ----------------------------------------------------------------------------

namespace {

// Marks the pump as running for as long as it is in scope, so that every way
// out of the pump clears the mark again.
class InsidePump {
 public:
  InsidePump() { WindowState().inside_pump = 1; }
  ~InsidePump() { WindowState().inside_pump = 0; }
};

void (*g_pump_observer)() = nullptr;

int PumpResult() { return WindowState().window_destroyed == 1 ? -1 : 0; }

// The per-call services: where no sound thread runs, the stream refills and
// PCM players; the music play state; the keyboard and the vibration timers.
// The key-string input update runs last with in_pump_services set, so that a
// pump entered from it returns at once.
void RunPumpServices() {
  ServiceSoundFromPump();
  UpdateMusicPlayState();
  UpdateAllMovieOverlays();
  RefreshKeyboardState();
  RefreshInput();
  PumpNetMessages(1);
  WindowSystemState& s = WindowState();
  s.in_pump_services = 1;
  UpdateKeyStringInput();
  s.in_pump_services = 0;
}

bool Inactive() {
  const WindowSystemState& s = WindowState();
  return (s.active == 0 || s.minimised != 0) && GetRunInactiveFlag() == 0;
}

}  // namespace

void SetPumpObserver(void (*observer)()) { g_pump_observer = observer; }

int PumpWindowMessages() {
  if (g_pump_observer != nullptr) g_pump_observer();
  WindowSystemState& s = WindowState();
  if (s.in_pump_services == 1) return 0;
  InsidePump inside;
  if (s.main_window == nullptr) return PumpResult();
  // A window that vanished without its destroy message (the system dropped
  // it) counts as destroyed, so that no caller waits for it forever.
  if (!plat::IsWindow(s.main_window)) {
    s.window_destroyed = 1;
    s.destroy_received = 1;
    return PumpResult();
  }

  bool main_thread = plat::GetCurrentThreadId() == s.main_thread_id;
  int pass_done = 0, dispatched = 0;
  for (;;) {
    bool running = s.close_requested || s.activation_count != 0 || GetRunInactiveFlag() ||
                   (s.active && !s.minimised);
    if (running && (pass_done || s.window_destroyed)) break;
    pass_done = 1;
    if (Inactive()) {
      plat::Sleep(1);
      if (s.redraw_requested == 1 && plat::TimeGetTime() - s.last_redraw_time > 64) {
        s.last_redraw_time = plat::TimeGetTime();
        s.redraw_requested = 0;
      }
    }
    bool leave = false;
    for (;;) {
      plat::Message m;
      bool found = plat::PeekMessage(&m, plat::kAnyWindow, false) && plat::PeekMessage(&m, plat::kAnyWindow, true);
      if (!found) found = plat::PeekMessage(&m, plat::kThreadMessages, true);
      if (!found) found = plat::PeekMessage(&m, s.main_window, true);
      if (!found) break;
      if (m.message == plat::kWmActivateApp && IsWindowMode() == 1) {
        s.active = static_cast<int>(m.wparam & 0xFFFF);
      }
      if (s.window_destroyed == 1) {
        leave = true;
        break;
      }
      if (m.message == plat::kWmQuit) s.window_destroyed = 1;
      plat::TranslateMessage(&m);
      plat::DispatchMessage(&m);
      if (++dispatched == 5) {
        dispatched = 0;
        pass_done = 1;
        break;
      }
      pass_done = 0;
    }
    if (leave) break;
    if (Inactive()) {
      // Sound and the network keep going while the program waits to be
      // active again.
      PumpNetMessages(1);
      ServiceSoundFromPump();
      plat::Sleep(24);
    }
    if (s.window_destroyed == 1 || !main_thread) break;
  }

  if (main_thread) UpdateMenuAutoShow();
  while (s.activation_count != 0) {
    uint32_t entry = s.activation_queue[s.activation_read];
    s.activation_read = (s.activation_read + 1) % kActivationQueueSize;
    --s.activation_count;
    OnActivateApp(entry);
  }
  RunPumpServices();
  return PumpResult();
}

int ProcessWindowMessages() {
  LockLibrary();
  int r = PumpWindowMessages();
  UnlockLibrary();
  return r;
}

int WaitWhileInactive() {
  const WindowSystemState& s = WindowState();
  if (s.painting) return 0;
  if (s.active && !s.minimised) return 0;
  if (IsWindowMode() == 1 && GetRunInactiveFlag() == 1) return 0;
  while (PumpWindowMessages() != -1 && !(s.active && !s.minimised)) {
  }
  return 0;
}

int WaitMillisPumping(int milliseconds) {
  int32_t span = static_cast<int32_t>(static_cast<uint32_t>(milliseconds) * 1000u);
  auto now = [] { return static_cast<int64_t>(GetMicroClock()); };
  int64_t target = now() + span;
  if (span > 4000) {
    int r = ProcessWindowMessages();
    while (r == 0 && now() < target - 4000) {
      plat::Sleep(1);
      r = ProcessWindowMessages();
    }
  }
  while (now() < target) {
  }
  return 0;
}
