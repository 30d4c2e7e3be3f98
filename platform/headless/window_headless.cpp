// platform/headless/window_headless.cpp - the virtual desktop of the headless
// back end: its size, colour bits, display modes and frame metrics, events
// injected by tests, and the capture of presented frames to PNG.
#include <png.h>

#include <cstdio>
#include <mutex>

#include "platform/window/window_internal.h"

namespace plat {
namespace {

std::mutex g_desktop_lock;
VirtualDesktop g_desktop;
DisplayMode g_current = {0, 0, 0, 0};  // width 0: the desktop's own mode
bool g_screen_saver = true;
bool g_has_clipboard = false;
std::string g_clipboard;

std::vector<DisplayMode> DefaultModes(const VirtualDesktop& d) {
  std::vector<DisplayMode> modes;
  const int sizes[][2] = {{320, 240}, {640, 480}, {800, 600}, {1024, 768}, {1280, 720},
                          {1280, 1024}, {1920, 1080}};
  for (int bits : {16, 32}) {
    for (const auto& s : sizes) {
      if (s[0] <= d.width && s[1] <= d.height) modes.push_back({s[0], s[1], bits, 60});
    }
  }
  bool has_own = false;
  for (const auto& m : modes) {
    if (m.width == d.width && m.height == d.height && m.bits == d.bits) has_own = true;
  }
  if (!has_own) modes.push_back({d.width, d.height, d.bits, 60});
  return modes;
}

intptr_t PackPoint(int x, int y) {
  return static_cast<intptr_t>((static_cast<uint32_t>(static_cast<uint16_t>(x))) |
                               (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16));
}

}  // namespace

namespace detail::headless {

void Desktop(int* width, int* height, int* bits) {
  std::lock_guard<std::mutex> guard(g_desktop_lock);
  if (g_current.width > 0) {
    *width = g_current.width;
    *height = g_current.height;
    *bits = g_current.bits;
  } else {
    *width = g_desktop.width;
    *height = g_desktop.height;
    *bits = g_desktop.bits;
  }
}

FrameMetrics Metrics() {
  std::lock_guard<std::mutex> guard(g_desktop_lock);
  return g_desktop.metrics;
}

std::vector<DisplayMode> Modes() {
  std::lock_guard<std::mutex> guard(g_desktop_lock);
  return g_desktop.modes.empty() ? DefaultModes(g_desktop) : g_desktop.modes;
}

bool ChangeMode(const DisplayMode* mode) {
  std::vector<DisplayMode> modes = Modes();
  std::lock_guard<std::mutex> guard(g_desktop_lock);
  if (mode == nullptr) {
    g_current = {0, 0, 0, 0};
    return true;
  }
  for (const auto& m : modes) {
    if (m.width == mode->width && m.height == mode->height && m.bits == mode->bits &&
        (mode->refresh == 0 || m.refresh == mode->refresh)) {
      g_current = m;
      return true;
    }
  }
  return false;
}

bool SetClipboard(const std::string& text) {
  std::lock_guard<std::mutex> guard(g_desktop_lock);
  g_clipboard = text;
  g_has_clipboard = true;
  return true;
}

bool GetClipboard(std::string* out) {
  std::lock_guard<std::mutex> guard(g_desktop_lock);
  if (!g_has_clipboard) return false;
  *out = g_clipboard;
  return true;
}

void SetScreenSaver(bool active) {
  std::lock_guard<std::mutex> guard(g_desktop_lock);
  g_screen_saver = active;
}

bool ScreenSaver() {
  std::lock_guard<std::mutex> guard(g_desktop_lock);
  return g_screen_saver;
}

}  // namespace detail::headless

// ---- Test hooks -----------------------------------------------------------------

void HeadlessReset(const VirtualDesktop& desktop) {
  detail::ResetCore();
  std::lock_guard<std::mutex> guard(g_desktop_lock);
  g_desktop = desktop;
  g_current = {0, 0, 0, 0};
  g_screen_saver = true;
  g_has_clipboard = false;
  g_clipboard.clear();
}

void HeadlessSetKey(int virtual_key, bool down) {
  detail::SetKeyState(virtual_key, down);
  Window* target = detail::InputTarget();
  if (target != nullptr) PostMessage(target, down ? kWmKeyDown : kWmKeyUp, virtual_key, 1);
}

void HeadlessTypeText(const char* cp932) {
  Window* target = detail::InputTarget();
  if (target == nullptr || cp932 == nullptr) return;
  for (const char* p = cp932; *p != '\0'; ++p) {
    PostMessage(target, kWmChar, static_cast<unsigned char>(*p), 1);
  }
}

void HeadlessSetFocus(bool active) {
  Window* target = detail::InputTarget();
  if (target == nullptr) return;
  detail::NoteForeground(active ? target : nullptr);
  PostMessage(target, kWmActivateApp, active ? 1 : 0, 0);
  PostMessage(target, kWmActivate, active ? 1 : 0, 0);
}

void HeadlessMinimize(bool minimised) {
  Window* target = detail::InputTarget();
  if (target == nullptr) return;
  // As the system does it: the state changes at once, the window hears of it
  // through its queue (so any thread may inject it).
  detail::NoteMinimised(target, minimised);
  detail::NoteForeground(minimised ? nullptr : target);
  Rect client{};
  GetClientRect(target, &client);
  if (minimised) {
    PostMessage(target, kWmSize, 1, 0);
    PostMessage(target, kWmActivateApp, 0, 0);
    PostMessage(target, kWmActivate, 0x10000, 0);
  } else {
    PostMessage(target, kWmSize, 0, PackPoint(client.right, client.bottom));
    PostMessage(target, kWmActivateApp, 1, 0);
    PostMessage(target, kWmActivate, 1, 0);
  }
}

void HeadlessClose() {
  Window* target = detail::InputTarget();
  if (target != nullptr) PostMessage(target, kWmSysCommand, kScClose, 0);
}

void HeadlessMoveMouse(int screen_x, int screen_y) {
  detail::NoteCursorPos(screen_x, screen_y);
  Window* target = detail::InputTarget();
  Rect window_rect;
  if (target == nullptr || !GetWindowRect(target, &window_rect)) return;
  int x = 0, y = 0;
  ClientToScreen(target, &x, &y);
  Rect client{};
  GetClientRect(target, &client);
  int cx = screen_x - x, cy = screen_y - y;
  if (cx >= 0 && cy >= 0 && cx < client.right && cy < client.bottom) {
    PostMessage(target, kWmSetCursor, 0, 1);
    PostMessage(target, kWmMouseMove, 0, PackPoint(cx, cy));
  }
}

void HeadlessClick(int button, bool down) {
  int vk = button == 2 ? kVkRButton : button == 4 ? kVkMButton : kVkLButton;
  detail::SetKeyState(vk, down);
  Window* target = detail::InputTarget();
  if (target == nullptr) return;
  int sx, sy;
  GetCursorPos(&sx, &sy);
  int x = 0, y = 0;
  ClientToScreen(target, &x, &y);
  uint32_t message;
  if (button == 2) {
    message = down ? kWmRButtonDown : kWmRButtonUp;
  } else if (button == 4) {
    message = down ? kWmMButtonDown : kWmMButtonUp;
  } else {
    message = down ? kWmLButtonDown : kWmLButtonUp;
  }
  PostMessage(target, message, 0, PackPoint(sx - x, sy - y));
}

void HeadlessWheel(int notches, bool horizontal) {
  Window* target = detail::InputTarget();
  if (target == nullptr) return;
  int delta = notches * 120;
  PostMessage(target, horizontal ? kWmMouseHWheel : kWmMouseWheel,
              static_cast<uintptr_t>(static_cast<uint16_t>(delta)) << 16, 0);
}

void HeadlessSetDisplayModes(const std::vector<DisplayMode>& modes) {
  std::lock_guard<std::mutex> guard(g_desktop_lock);
  g_desktop.modes = modes;
}

void HeadlessChangeDesktop(int width, int height, int bits) {
  {
    std::lock_guard<std::mutex> guard(g_desktop_lock);
    g_desktop.width = width;
    g_desktop.height = height;
    g_desktop.bits = bits;
    g_current = {0, 0, 0, 0};
  }
  Window* target = detail::InputTarget();
  if (target != nullptr) {
    PostMessage(target, kWmDisplayChange, static_cast<uintptr_t>(bits), PackPoint(width, height));
  }
}

bool HeadlessGetLastFrame(Window* window, std::vector<uint32_t>* pixels, int* width, int* height) {
  if (!IsWindow(window) || window->present_count == 0) return false;
  if (pixels != nullptr) *pixels = window->frame;
  if (width != nullptr) *width = window->frame_width;
  if (height != nullptr) *height = window->frame_height;
  return true;
}

bool HeadlessGetLastPresentRects(Window* window, Rect* source, Rect* destination) {
  if (!IsWindow(window) || window->present_count == 0) return false;
  if (source != nullptr) *source = window->last_source;
  if (destination != nullptr) *destination = window->last_destination;
  return true;
}

int HeadlessPresentCount(Window* window) { return IsWindow(window) ? window->present_count : 0; }

bool SaveLastFramePng(Window* window, const char* path) {
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  if (path == nullptr || !HeadlessGetLastFrame(window, &pixels, &width, &height) || width <= 0 ||
      height <= 0) {
    return false;
  }
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t p = pixels[static_cast<size_t>(y) * width + x];
      row[x * 3 + 0] = static_cast<uint8_t>(p >> 16);
      row[x * 3 + 1] = static_cast<uint8_t>(p >> 8);
      row[x * 3 + 2] = static_cast<uint8_t>(p);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

}  // namespace plat
