// platform/window/window.cpp - the window core: classes, windows, per-thread message
// queues, sent messages, rectangles, activation, paint, keyboard state and
// cursor counter. Back-end specific work goes to platform/sdl/ or
// platform/headless/.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/window/backend.h"
#include "platform/window/class_lock.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window_internal.h"

namespace plat {

struct WindowTimer {
  Window* window;
  uintptr_t id;
  uint32_t period_ms;
  uint32_t due_ms;
  TimerProc proc;
};

struct ThreadQueue {
  std::mutex mutex;
  std::deque<Message> messages;
  std::atomic<size_t> count{0};
  std::vector<WindowTimer> timers;  // under mutex
  std::atomic<size_t> timer_count{0};
};

namespace {

std::recursive_mutex g_lock;
std::vector<Window*> g_windows;            // live, oldest first
std::vector<std::unique_ptr<Window>> g_records;  // every record ever made; handles stay unique
std::map<std::string, WindowProc> g_classes;
Window* g_foreground = nullptr;
int g_cursor_count = 0;
std::atomic<int> g_cursor_x{0}, g_cursor_y{0};
std::atomic<uint8_t> g_keys[256];
std::atomic<void (*)()> g_key_observer{nullptr};

std::mutex g_queues_lock;
std::vector<std::unique_ptr<ThreadQueue>> g_queues;
thread_local ThreadQueue* t_queue = nullptr;

// The SDL back end is driven from the thread that started it.
std::atomic<bool> g_sdl_ready{false};
thread_local bool t_is_sdl_thread = false;

Window g_foreign_window;

ThreadQueue* CurrentQueue() {
  if (t_queue == nullptr) {
    std::lock_guard<std::mutex> guard(g_queues_lock);
    g_queues.push_back(std::make_unique<ThreadQueue>());
    t_queue = g_queues.back().get();
  }
  return t_queue;
}

void Enqueue(ThreadQueue* queue, const Message& message) {
  std::lock_guard<std::mutex> guard(queue->mutex);
  queue->messages.push_back(message);
  queue->count.store(queue->messages.size(), std::memory_order_release);
}

bool LiveLocked(Window* window) {
  return window != nullptr &&
         std::find(g_windows.begin(), g_windows.end(), window) != g_windows.end();
}

bool EnsureSdl() {
  if (IsHeadless()) return true;
  if (g_sdl_ready.load(std::memory_order_acquire)) return true;
  if (!detail::sdl::Init()) return false;
  t_is_sdl_thread = true;
  g_sdl_ready.store(true, std::memory_order_release);
  return true;
}

void SyncNative(Window* window) {
  if (!IsHeadless() && window->native != nullptr) detail::sdl::SyncNative(window);
}

intptr_t PackPoint(int x, int y) {
  return static_cast<intptr_t>((static_cast<uint32_t>(static_cast<uint16_t>(x))) |
                               (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16));
}

void SendActivation(Window* window, bool active, bool app_change) {
  if (app_change) SendMessage(window, kWmActivateApp, active ? 1 : 0, 0);
  SendMessage(window, kWmActivate, active ? 1 : 0, 0);
}

}  // namespace

// ---- Shared with the back ends ----------------------------------------------

namespace detail {

Rect ClientOnScreen(const Window& window) {
  Rect frame = {0, 0, 0, 0};
  AdjustWindowRectEx(&frame, window.style, window.ex_style);
  Rect client = {window.rect.left - frame.left, window.rect.top - frame.top,
                 window.rect.right - frame.right, window.rect.bottom - frame.bottom};
  if (client.right < client.left) client.right = client.left;
  if (client.bottom < client.top) client.bottom = client.top;
  return client;
}

void SetKeyState(int virtual_key, bool down) {
  if (virtual_key <= 0 || virtual_key > 255) return;
  uint8_t old = g_keys[virtual_key].load();
  uint8_t value = down ? static_cast<uint8_t>(0x80 | (old & 1)) : static_cast<uint8_t>(old & 1);
  // Lock keys toggle on each press.
  if (down && !(old & 0x80) &&
      (virtual_key == kVkCapital || virtual_key == kVkNumLock || virtual_key == kVkScroll)) {
    value ^= 1;
  }
  g_keys[virtual_key].store(value);
  if (value != old) {
    void (*observer)() = g_key_observer.load();
    if (observer != nullptr) observer();
  }
  int generic = 0;
  if (virtual_key == kVkLShift || virtual_key == kVkRShift) generic = kVkShift;
  if (virtual_key == kVkLControl || virtual_key == kVkRControl) generic = kVkControl;
  if (virtual_key == kVkLMenu || virtual_key == kVkRMenu) generic = kVkMenu;
  if (generic != 0) {
    // Left and right variants sit at 0xA0 + 2 * (generic - Shift) and the next code.
    int left = 0xA0 + 2 * (generic - kVkShift);
    bool any = ((g_keys[left].load() | g_keys[left + 1].load()) & 0x80) != 0;
    g_keys[generic].store(any ? 0x80 : 0);
  }
}

void SetKeyChangeObserver(void (*observer)()) { g_key_observer.store(observer); }

Window* InputTarget() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (LiveLocked(g_foreground)) return g_foreground;
  return g_windows.empty() ? nullptr : g_windows.back();
}

void NoteForeground(Window* window) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  g_foreground = window;
}

void NoteMinimised(Window* window, bool minimised) {
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window)) return;
    window->minimised = minimised;
  }
  SyncNative(window);
}

void NoteCursorPos(int x, int y) {
  g_cursor_x.store(x);
  g_cursor_y.store(y);
}

bool IsLive(Window* window) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return LiveLocked(window);
}

void KeepFrame(Window* window, const uint8_t* pixels, int pitch, const Rect& source,
               const Rect& destination) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  Rect client = ClientOnScreen(*window);
  int cw = client.right - client.left, ch = client.bottom - client.top;
  if (window->frame_width != cw || window->frame_height != ch) {
    // Without memory for the copy the window keeps no frame until a later
    // present finds some.
    try {
      window->frame.assign(static_cast<size_t>(cw) * static_cast<size_t>(ch), 0);
    } catch (const std::bad_alloc&) {
      window->frame.clear();
      window->frame_width = window->frame_height = 0;
      return;
    }
    window->frame_width = cw;
    window->frame_height = ch;
  }
  int sw = source.right - source.left, sh = source.bottom - source.top;
  int dw = destination.right - destination.left, dh = destination.bottom - destination.top;
  if (sw > 0 && sh > 0 && dw > 0 && dh > 0) {
    // Nearest source column and row of each kept pixel: unscaled rows are
    // copied whole, scaled ones through a column map made once.
    const int x0 = std::max(0, destination.left), x1 = std::min(cw, destination.right);
    std::vector<int> columns;
    if (sw != dw && x0 < x1) {
      try {
        columns.resize(static_cast<size_t>(x1 - x0));
      } catch (const std::bad_alloc&) {
        return;
      }
      for (int x = x0; x < x1; ++x)
        columns[static_cast<size_t>(x - x0)] =
            source.left + static_cast<int>(static_cast<int64_t>(x - destination.left) * sw / dw);
    }
    for (int y = std::max(0, destination.top); y < std::min(ch, destination.bottom) && x0 < x1; ++y) {
      int sy = source.top + static_cast<int>(static_cast<int64_t>(y - destination.top) * sh / dh);
      const uint8_t* row = pixels + static_cast<ptrdiff_t>(sy) * pitch;
      uint32_t* out = window->frame.data() + static_cast<size_t>(y) * static_cast<size_t>(cw);
      if (sw == dw) {
        std::memcpy(&out[x0], row + static_cast<ptrdiff_t>(source.left + (x0 - destination.left)) * 4,
                    static_cast<size_t>(x1 - x0) * 4);
      } else {
        for (int x = x0; x < x1; ++x) std::memcpy(&out[x], row + static_cast<ptrdiff_t>(columns[static_cast<size_t>(x - x0)]) * 4, 4);
      }
    }
  }
  window->last_source = source;
  window->last_destination = destination;
  ++window->present_count;
}

}  // namespace detail

// ---- Classes and windows --------------------------------------------------------

bool RegisterWindowClass(const char* class_name, WindowProc proc) {
  if (class_name == nullptr || class_name[0] == '\0' || proc == nullptr) return false;
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_classes.emplace(class_name, proc).second;
}

bool UnregisterWindowClass(const char* class_name) {
  if (class_name == nullptr) return false;
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  auto it = g_classes.find(class_name);
  if (it == g_classes.end()) return false;
  for (Window* w : g_windows) {
    if (w->class_name == class_name) return false;
  }
  g_classes.erase(it);
  return true;
}

Window* ForeignWindow() { return &g_foreign_window; }

Window* FindWindow(const char* class_name) {
  if (class_name == nullptr) return nullptr;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    for (Window* w : g_windows) {
      if (w->class_name == class_name) return w;
    }
  }
  return detail::ClassLockedElsewhere(class_name) ? ForeignWindow() : nullptr;
}

std::string DisplayProblem() { return IsHeadless() ? std::string() : detail::sdl::InitProblem(); }

Window* CreateWindow(const char* class_name, const char* title, uint32_t style,
                     uint32_t ex_style, int x, int y, int width, int height) {
  if (class_name == nullptr) return nullptr;
  if (!detail::ClassLockPlaceProblem().empty()) return nullptr;
  if (!EnsureSdl()) return nullptr;
  Window* window = nullptr;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    auto it = g_classes.find(class_name);
    if (it == g_classes.end()) return nullptr;
    auto record = std::make_unique<Window>();
    window = record.get();
    window->class_name = class_name;
    window->title = title != nullptr ? title : "";
    window->proc = it->second;
    window->style = style;
    window->ex_style = ex_style;
    window->rect = {x, y, x + std::max(0, width), y + std::max(0, height)};
    window->topmost = (ex_style & kWsExTopmost) != 0;
    window->queue = CurrentQueue();
    bool first_of_class = true;
    for (Window* w : g_windows) {
      if (w->class_name == class_name) first_of_class = false;
    }
    if (first_of_class) {
      // Without its lock the window would let a second copy start unseen.
      if (!detail::TakeClassLocks(window->class_name, &window->lock_fds)) return nullptr;
    }
    if (!IsHeadless() && !detail::sdl::CreateNative(window)) {
      detail::CloseClassLocks(&window->lock_fds);
      return nullptr;
    }
    g_records.push_back(std::move(record));
    g_windows.push_back(window);
  }
  SendMessage(window, kWmCreate, 0, 0);
  if (!IsWindow(window)) return nullptr;
  if (style & kWsVisible) {
    window->style &= ~kWsVisible;
    ShowWindow(window, kSwShow);
  }
  return window;
}

bool DestroyWindow(Window* window) {
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window) || window->proc == nullptr || window->destroying) return false;
    window->destroying = true;
  }
  WindowProc proc = window->proc;
  proc(window, kWmDestroy, 0, 0);
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (!LiveLocked(window)) return true;  // destroyed again from its own handler
  g_windows.erase(std::find(g_windows.begin(), g_windows.end(), window));
  if (g_foreground == window) g_foreground = nullptr;
  detail::PassClassLock(window, g_windows);
  if (!IsHeadless() && window->native != nullptr) detail::sdl::DestroyNative(window);
  window->proc = nullptr;
  {
    std::lock_guard<std::mutex> qguard(window->queue->mutex);
    auto& q = window->queue->messages;
    q.erase(std::remove_if(q.begin(), q.end(), [&](const Message& m) { return m.window == window; }),
            q.end());
    window->queue->count.store(q.size(), std::memory_order_release);
    auto& timers = window->queue->timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [&](const WindowTimer& t) { return t.window == window; }),
                 timers.end());
    window->queue->timer_count.store(timers.size(), std::memory_order_release);
  }
  window->frame.clear();
  window->frame.shrink_to_fit();
  return true;
}

bool IsWindow(Window* window) { return detail::IsLive(window); }

bool ShowWindow(Window* window, int command) {
  bool was_visible, activate = false, app_change = false, deactivate = false, sized = false;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window)) return false;
    was_visible = window->visible;
    switch (command) {
      case kSwHide:
        window->visible = false;
        window->style &= ~kWsVisible;
        break;
      case kSwMinimize:
        window->visible = true;
        window->style |= kWsVisible;
        if (!window->minimised) {
          window->minimised = true;
          sized = true;
          deactivate = g_foreground == window;
          if (deactivate) g_foreground = nullptr;
        }
        break;
      default: {
        bool restoring = window->minimised && (command == kSwRestore || command == kSwShowNormal);
        if (restoring) window->minimised = false;
        window->visible = true;
        window->style |= kWsVisible;
        sized = restoring || !was_visible;
        if (g_foreground != window && !window->minimised) {
          app_change = !LiveLocked(g_foreground);
          activate = true;
        }
        break;
      }
    }
  }
  SyncNative(window);
  if (deactivate) SendActivation(window, false, true);
  if (activate) SetForegroundWindow(window);
  (void)app_change;
  // A handler run by the activation above may have destroyed the window:
  // then there is no client area to report.
  Rect client;
  if (sized && GetClientRect(window, &client)) {
    Rect screen = detail::ClientOnScreen(*window);
    SendMessage(window, kWmSize, window->minimised ? 1 : 0,
                window->minimised ? 0 : PackPoint(client.right, client.bottom));
    if (!window->minimised) SendMessage(window, kWmMove, 0, PackPoint(screen.left, screen.top));
  }
  if (window->visible && !was_visible) InvalidateRect(window, nullptr);
  return was_visible;
}

void UpdateWindow(Window* window) {
  bool paint;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window)) return;
    paint = window->has_invalid && window->visible;
  }
  if (paint) SendMessage(window, kWmPaint, 0, 0);
}

bool IsIconic(Window* window) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return LiveLocked(window) && window->minimised;
}

bool IsWindowVisible(Window* window) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return LiveLocked(window) && window->visible;
}

bool SetWindowText(Window* window, const char* text) {
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window)) return false;
    window->title = text != nullptr ? text : "";
  }
  SyncNative(window);
  return true;
}

std::string GetWindowText(Window* window) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return LiveLocked(window) ? window->title : std::string();
}

uint32_t GetWindowStyle(Window* window) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return LiveLocked(window) ? window->style : 0;
}

uint32_t GetWindowExStyle(Window* window) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return LiveLocked(window) ? window->ex_style : 0;
}

void SetWindowStyle(Window* window, uint32_t style) {
  bool show = false, hide = false;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window)) return;
    show = (style & kWsVisible) && !window->visible;
    hide = !(style & kWsVisible) && window->visible;
    window->style = style & ~kWsVisible;
    if (window->visible) window->style |= kWsVisible;
  }
  if (show) ShowWindow(window, kSwShow);
  if (hide) ShowWindow(window, kSwHide);
  SyncNative(window);
}

void SetWindowExStyle(Window* window, uint32_t ex_style) {
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window)) return;
    window->ex_style = ex_style;
    window->topmost = (ex_style & kWsExTopmost) != 0;
  }
  SyncNative(window);
}

bool SetWindowPos(Window* window, ZOrder z, int x, int y, int width, int height, uint32_t flags) {
  bool moved = false, sized = false;
  Rect client_screen, client;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window)) return false;
    Rect r = window->rect;
    if (!(flags & kSwpNoMove)) {
      r.right += x - r.left;
      r.bottom += y - r.top;
      r.left = x;
      r.top = y;
    }
    if (!(flags & kSwpNoSize)) {
      r.right = r.left + std::max(0, width);
      r.bottom = r.top + std::max(0, height);
    }
    moved = r.left != window->rect.left || r.top != window->rect.top;
    sized = (r.right - r.left) != (window->rect.right - window->rect.left) ||
            (r.bottom - r.top) != (window->rect.bottom - window->rect.top);
    window->rect = r;
    if (z == ZOrder::kTopmost) {
      window->topmost = true;
      window->ex_style |= kWsExTopmost;
    } else if (z == ZOrder::kNoTopmost) {
      window->topmost = false;
      window->ex_style &= ~kWsExTopmost;
    }
    client_screen = detail::ClientOnScreen(*window);
    client = {0, 0, client_screen.right - client_screen.left, client_screen.bottom - client_screen.top};
  }
  SyncNative(window);
  if (flags & kSwpShowWindow) ShowWindow(window, kSwShow);
  if (moved) SendMessage(window, kWmMove, 0, PackPoint(client_screen.left, client_screen.top));
  if (sized) {
    SendMessage(window, kWmSize, IsIconic(window) ? 1 : 0, PackPoint(client.right, client.bottom));
    if (!(flags & kSwpNoRedraw)) InvalidateRect(window, nullptr);
  }
  return true;
}

bool MoveWindow(Window* window, int x, int y, int width, int height, bool repaint) {
  return SetWindowPos(window, ZOrder::kKeep, x, y, width, height, repaint ? 0 : kSwpNoRedraw);
}

bool GetWindowRect(Window* window, Rect* out) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (!LiveLocked(window) || out == nullptr) return false;
  *out = window->rect;
  return true;
}

bool GetClientRect(Window* window, Rect* out) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (!LiveLocked(window) || out == nullptr) return false;
  Rect c = detail::ClientOnScreen(*window);
  *out = {0, 0, c.right - c.left, c.bottom - c.top};
  return true;
}

bool ClientToScreen(Window* window, int* x, int* y) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (!LiveLocked(window)) return false;
  Rect c = detail::ClientOnScreen(*window);
  if (x != nullptr) *x += c.left;
  if (y != nullptr) *y += c.top;
  return true;
}

void AdjustWindowRectEx(Rect* rect, uint32_t style, uint32_t ex_style) {
  if (rect == nullptr) return;
  FrameMetrics m = GetFrameMetrics();
  if (style & kWsCaption) {
    rect->left -= m.border;
    rect->right += m.border;
    rect->top -= m.border + m.caption;
    rect->bottom += m.border;
  }
  if (ex_style & kWsExClientEdge) {
    rect->left -= m.client_edge;
    rect->right += m.client_edge;
    rect->top -= m.client_edge;
    rect->bottom += m.client_edge;
  }
}

bool IsTopmost(Window* window) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return LiveLocked(window) && window->topmost;
}

bool SetForegroundWindow(Window* window) {
  Window* old;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window)) return false;
    old = g_foreground;
    if (old == window) return true;
    g_foreground = window;
    if (!LiveLocked(old)) old = nullptr;
  }
  if (old != nullptr) SendMessage(old, kWmActivate, 0, 0);
  SendActivation(window, true, old == nullptr);
  SyncNative(window);
  return true;
}

Window* GetForegroundWindow() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return LiveLocked(g_foreground) ? g_foreground : nullptr;
}

// ---- Messages ----------------------------------------------------------------------

bool PostMessage(Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  ThreadQueue* queue;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window)) return false;
    queue = window->queue;
  }
  Enqueue(queue, Message{window, message, wparam, lparam});
  return true;
}

void PostQuitMessage(int code) {
  Enqueue(CurrentQueue(), Message{nullptr, kWmQuit, static_cast<uintptr_t>(code), 0});
}

intptr_t SendMessage(Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  WindowProc proc;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window)) return 0;
    proc = window->proc;
  }
  return proc != nullptr ? proc(window, message, wparam, lparam) : 0;
}

namespace {

// A due timer of the queue matching the filter becomes a kWmTimer message
// (timers are looked at only when no queued message matches).
bool PeekTimer(ThreadQueue* queue, Message* out, Window* filter, bool remove) {
  if (filter == kThreadMessages) return false;
  uint32_t now = PeekTimeGetTime();
  for (WindowTimer& t : queue->timers) {
    if (filter != kAnyWindow && t.window != filter) continue;
    if (static_cast<int32_t>(now - t.due_ms) < 0) continue;
    if (out != nullptr)
      *out = Message{t.window, kWmTimer, t.id, static_cast<intptr_t>(reinterpret_cast<uintptr_t>(t.proc))};
    if (remove) t.due_ms = now + t.period_ms;
    return true;
  }
  return false;
}

}  // namespace

bool PeekMessage(Message* out, Window* filter, bool remove) {
  if (t_is_sdl_thread) detail::sdl::PollEvents();
  ThreadQueue* queue = CurrentQueue();
  if (queue->count.load(std::memory_order_acquire) == 0 &&
      queue->timer_count.load(std::memory_order_acquire) == 0)
    return false;
  std::lock_guard<std::mutex> guard(queue->mutex);
  for (auto it = queue->messages.begin(); it != queue->messages.end(); ++it) {
    bool match = filter == kAnyWindow || (filter == kThreadMessages && it->window == nullptr) ||
                 (filter != kThreadMessages && it->window == filter);
    if (!match) continue;
    if (out != nullptr) *out = *it;
    if (remove) {
      queue->messages.erase(it);
      queue->count.store(queue->messages.size(), std::memory_order_release);
    }
    return true;
  }
  return PeekTimer(queue, out, filter, remove);
}

uintptr_t SetTimer(Window* window, uintptr_t id, uint32_t period_ms, TimerProc proc) {
  ThreadQueue* queue;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window) || id == 0) return 0;
    queue = window->queue;
  }
  std::lock_guard<std::mutex> guard(queue->mutex);
  uint32_t due = PeekTimeGetTime() + period_ms;
  for (WindowTimer& t : queue->timers) {
    if (t.window == window && t.id == id) {
      t = WindowTimer{window, id, period_ms, due, proc};
      return id;
    }
  }
  queue->timers.push_back(WindowTimer{window, id, period_ms, due, proc});
  queue->timer_count.store(queue->timers.size(), std::memory_order_release);
  return id;
}

bool KillTimer(Window* window, uintptr_t id) {
  ThreadQueue* queue;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window)) return false;
    queue = window->queue;
  }
  std::lock_guard<std::mutex> guard(queue->mutex);
  auto& timers = queue->timers;
  auto it = std::find_if(timers.begin(), timers.end(),
                         [&](const WindowTimer& t) { return t.window == window && t.id == id; });
  if (it == timers.end()) return false;
  timers.erase(it);
  queue->timer_count.store(timers.size(), std::memory_order_release);
  return true;
}

void TranslateMessage(const Message*) {}

intptr_t DispatchMessage(const Message* message) {
  if (message == nullptr || message->window == nullptr) return 0;
  if (message->message == kWmTimer && message->lparam != 0) {
    if (!IsWindow(message->window)) return 0;
    auto proc = reinterpret_cast<TimerProc>(static_cast<uintptr_t>(message->lparam));
    proc(message->window, kWmTimer, message->wparam, PeekTimeGetTime());
    return 0;
  }
  return SendMessage(message->window, message->message, message->wparam, message->lparam);
}

intptr_t DefWindowProc(Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case kWmClose:
      DestroyWindow(window);
      return 0;
    case kWmSysCommand:
      if ((wparam & 0xFFF0) == kScClose) SendMessage(window, kWmClose, 0, 0);
      return 0;
    case kWmPaint: {
      Rect r;
      if (BeginPaint(window, &r)) EndPaint(window);
      return 0;
    }
    case kWmSetCursor: {
      // The class cursor is the arrow; the procedure hides it by handling the
      // message itself.
      std::lock_guard<std::recursive_mutex> guard(g_lock);
      if (LiveLocked(window)) window->cursor_arrow = true;
      return 0;
    }
    case kWmNcHitTest:
      return 1;  // client area
    default:
      (void)lparam;
      return 0;
  }
}

// ---- Painting -------------------------------------------------------------------------

void InvalidateRect(Window* window, const Rect* rect) {
  bool post = false;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window)) return;
    Rect c = detail::ClientOnScreen(*window);
    Rect all = {0, 0, c.right - c.left, c.bottom - c.top};
    Rect r = rect != nullptr ? *rect : all;
    r.left = std::max(r.left, all.left);
    r.top = std::max(r.top, all.top);
    r.right = std::min(r.right, all.right);
    r.bottom = std::min(r.bottom, all.bottom);
    if (r.right <= r.left || r.bottom <= r.top) return;
    if (window->has_invalid) {
      window->invalid.left = std::min(window->invalid.left, r.left);
      window->invalid.top = std::min(window->invalid.top, r.top);
      window->invalid.right = std::max(window->invalid.right, r.right);
      window->invalid.bottom = std::max(window->invalid.bottom, r.bottom);
    } else {
      window->invalid = r;
      window->has_invalid = true;
    }
    if (!window->paint_queued) {
      window->paint_queued = true;
      post = true;
    }
  }
  if (post) PostMessage(window, kWmPaint, 0, 0);
}

bool BeginPaint(Window* window, Rect* paint_rect) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (!LiveLocked(window)) return false;
  Rect r = window->has_invalid ? window->invalid : Rect{0, 0, 0, 0};
  window->has_invalid = false;
  window->paint_queued = false;
  if (paint_rect != nullptr) *paint_rect = r;
  return true;
}

void EndPaint(Window*) {}

// ---- Desktop ------------------------------------------------------------------------------

void GetDesktopSize(int* width, int* height) {
  int w = 0, h = 0, bits = 0;
  if (IsHeadless()) {
    detail::headless::Desktop(&w, &h, &bits);
  } else if (EnsureSdl()) {
    detail::sdl::Desktop(&w, &h, &bits);
  }
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
}

int GetDesktopColorBits() {
  int w = 0, h = 0, bits = 0;
  if (IsHeadless()) {
    detail::headless::Desktop(&w, &h, &bits);
  } else if (EnsureSdl()) {
    detail::sdl::Desktop(&w, &h, &bits);
  }
  return bits;
}

FrameMetrics GetFrameMetrics() {
  return IsHeadless() ? detail::headless::Metrics() : detail::sdl::Metrics();
}

std::vector<DisplayMode> GetDisplayModes() {
  if (IsHeadless()) return detail::headless::Modes();
  if (!EnsureSdl()) return {};
  return detail::sdl::Modes();
}

bool ChangeDisplayMode(const DisplayMode* mode) {
  bool ok;
  if (IsHeadless()) {
    ok = detail::headless::ChangeMode(mode);
  } else {
    ok = EnsureSdl() && detail::sdl::ChangeMode(mode);
  }
  if (!ok) return false;
  int w, h;
  GetDesktopSize(&w, &h);
  int bits = GetDesktopColorBits();
  std::vector<Window*> windows;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    windows = g_windows;
  }
  for (Window* window : windows) {
    SendMessage(window, kWmDisplayChange, static_cast<uintptr_t>(bits), PackPoint(w, h));
  }
  return true;
}

// ---- Keyboard, mouse, cursor -------------------------------------------------------------

void GetKeyboardState(uint8_t state[256]) {
  if (state == nullptr) return;
  for (int i = 0; i < 256; ++i) state[i] = g_keys[i].load(std::memory_order_relaxed);
}

void GetCursorPos(int* x, int* y) {
  if (x != nullptr) *x = g_cursor_x.load();
  if (y != nullptr) *y = g_cursor_y.load();
}

int ShowCursor(bool show) {
  std::vector<Window*> windows;
  int count;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    g_cursor_count += show ? 1 : -1;
    count = g_cursor_count;
    windows = g_windows;
  }
  for (Window* w : windows) SyncNative(w);
  return count;
}

void SetCursorVisibleShape(bool arrow) {
  Window* target = detail::InputTarget();
  if (target == nullptr) return;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    target->cursor_arrow = arrow;
  }
  SyncNative(target);
}

// Used by the SDL back end to decide whether the cursor shows.
namespace detail {
bool CursorShows(Window* window) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_cursor_count >= 0 && LiveLocked(window) && window->cursor_arrow;
}
}  // namespace detail

// ---- Clipboard and screen saver ---------------------------------------------------------------

bool SetClipboardText(const char* text) {
  std::string value = text != nullptr ? text : "";
  if (IsHeadless()) return detail::headless::SetClipboard(value);
  return EnsureSdl() && detail::sdl::SetClipboard(value);
}

bool GetClipboardText(std::string* out) {
  if (out == nullptr) return false;
  if (IsHeadless()) return detail::headless::GetClipboard(out);
  return EnsureSdl() && detail::sdl::GetClipboard(out);
}

void SetScreenSaverActive(bool active) {
  if (IsHeadless()) {
    detail::headless::SetScreenSaver(active);
  } else if (EnsureSdl()) {
    detail::sdl::SetScreenSaver(active);
  }
}

bool IsScreenSaverActive() {
  if (IsHeadless()) return detail::headless::ScreenSaver();
  return EnsureSdl() && detail::sdl::ScreenSaver();
}

// ---- Presenter ---------------------------------------------------------------------------------

int PresentToWindow(Window* window, const void* pixels, int width, int height, int pitch,
                    const Rect* source, const Rect* destination) {
  if (pixels == nullptr || width <= 0 || height <= 0 || pitch < width * 4) return -1;
  Rect src = source != nullptr ? *source : Rect{0, 0, width, height};
  if (src.left < 0 || src.top < 0 || src.right > width || src.bottom > height ||
      src.left >= src.right || src.top >= src.bottom) {
    return -1;
  }
  Rect dst;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!LiveLocked(window)) return -1;
    Rect c = detail::ClientOnScreen(*window);
    dst = destination != nullptr ? *destination : Rect{0, 0, c.right - c.left, c.bottom - c.top};
  }
  const auto* bytes = static_cast<const uint8_t*>(pixels);
  if (IsHeadless()) {
    detail::KeepFrame(window, bytes, pitch, src, dst);
    return 0;
  }
  return detail::sdl::Present(window, bytes, width, height, pitch, src, dst);
}

// ---- The system's own window ----------------------------------------------------------------

bool GetNativeWindowInfo(Window* window, int* width, int* height, std::string* title_utf8) {
  if (IsHeadless() || !IsWindow(window)) return false;
  return detail::sdl::NativeInfo(window, width, height, title_utf8);
}

void RequestNativeClose(Window* window) {
  if (!IsWindow(window)) return;
  if (IsHeadless()) {
    PostMessage(window, kWmSysCommand, kScClose, 0);
    return;
  }
  detail::sdl::PushClose(window);
}

// ---- Headless reset (the part that lives in the core) --------------------------------------------

namespace detail {
void ResetCore() {
  std::vector<Window*> windows;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    windows = g_windows;
  }
  // Drop windows without calling their procedures: a reset is not a close.
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  for (Window* w : windows) {
    detail::CloseClassLocks(&w->lock_fds);
    w->proc = nullptr;
  }
  g_windows.clear();
  g_classes.clear();
  g_foreground = nullptr;
  detail::ResetClassLocks();
  g_cursor_count = 0;
  g_cursor_x = 0;
  g_cursor_y = 0;
  for (auto& key : g_keys) key.store(0);
  std::lock_guard<std::mutex> qguard(g_queues_lock);
  for (auto& q : g_queues) {
    std::lock_guard<std::mutex> g(q->mutex);
    q->messages.clear();
    q->count.store(0);
    q->timers.clear();
    q->timer_count.store(0);
  }
}
}  // namespace detail

}  // namespace plat
