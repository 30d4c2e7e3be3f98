// platform/sdl/window_sdl.cpp - the SDL2 back end of the window layer: a real
// window whose SDL client area is the window's client area, SDL events turned
// into window messages, the desktop as SDL reports it, and the presenter.
#include <SDL.h>
#include <iconv.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/window/imm.h"
#include "platform/window/window_internal.h"

namespace plat {
namespace {

struct NativeWindow {
  SDL_Window* sdl = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int texture_width = 0, texture_height = 0;
  // What was last applied, so that syncing twice costs nothing.
  std::string title;
  Rect client = {0, 0, 0, 0};
  bool shown = false, minimised = false, borderless = false, fullscreen = false;
  bool cursor_shown = true;
};

std::map<uint32_t, Window*> g_by_id;
DisplayMode g_current = {0, 0, 0, 0};
uint64_t g_last_poll_ms = ~0ull;
// Why SDL could open no visible window; empty while it can (or has not tried).
std::string g_init_problem;
// Why the last window could not be made or given a renderer; empty when it was.
std::string g_window_problem;

bool HasEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

// The display variables that are set, as "DISPLAY=:0, WAYLAND_DISPLAY=w".
std::string DisplaySettings() {
  std::string out;
  for (const char* name : {"SDL_VIDEODRIVER", "DISPLAY", "WAYLAND_DISPLAY"}) {
    if (!HasEnv(name)) continue;
    if (!out.empty()) out += ", ";
    out += std::string(name) + "=" + std::getenv(name);
  }
  return out;
}

NativeWindow* Native(Window* window) { return static_cast<NativeWindow*>(window->native); }

std::string Convert(const std::string& in, const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string();
  std::string out;
  out.resize(in.size() * 4 + 8);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = out.data();
  size_t dst_left = out.size();
  while (src_left > 0) {
    if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1)) {
      if (dst_left < 1) break;
      // Text that does not convert becomes '?', byte by byte.
      *dst++ = '?';
      --dst_left;
      ++src;
      --src_left;
    }
  }
  iconv_close(cd);
  out.resize(out.size() - dst_left);
  return out;
}

std::string ToUtf8(const std::string& cp932) { return Convert(cp932, "UTF-8", "CP932"); }
std::string ToCp932(const std::string& utf8) { return Convert(utf8, "CP932", "UTF-8"); }

int BitsOf(uint32_t format) {
  // SDL counts 24 bits for the usual four-byte desktop; the library counts
  // bytes, and refuses a true three-byte desktop.
  return SDL_BYTESPERPIXEL(format) == 4 ? 32 : static_cast<int>(SDL_BITSPERPIXEL(format));
}

int ScancodeToVk(SDL_Scancode code) {
  if (code >= SDL_SCANCODE_A && code <= SDL_SCANCODE_Z) return 'A' + (code - SDL_SCANCODE_A);
  if (code >= SDL_SCANCODE_1 && code <= SDL_SCANCODE_9) return '1' + (code - SDL_SCANCODE_1);
  if (code >= SDL_SCANCODE_F1 && code <= SDL_SCANCODE_F12) return kVkF1 + (code - SDL_SCANCODE_F1);
  if (code >= SDL_SCANCODE_KP_1 && code <= SDL_SCANCODE_KP_9) return 0x61 + (code - SDL_SCANCODE_KP_1);
  switch (code) {
    case SDL_SCANCODE_0: return '0';
    case SDL_SCANCODE_RETURN: return kVkReturn;
    case SDL_SCANCODE_ESCAPE: return kVkEscape;
    case SDL_SCANCODE_BACKSPACE: return kVkBack;
    case SDL_SCANCODE_TAB: return kVkTab;
    case SDL_SCANCODE_SPACE: return kVkSpace;
    case SDL_SCANCODE_MINUS: return 0xBD;
    case SDL_SCANCODE_EQUALS: return 0xBB;
    case SDL_SCANCODE_LEFTBRACKET: return 0xDB;
    case SDL_SCANCODE_RIGHTBRACKET: return 0xDD;
    case SDL_SCANCODE_BACKSLASH: return 0xDC;
    case SDL_SCANCODE_SEMICOLON: return 0xBA;
    case SDL_SCANCODE_APOSTROPHE: return 0xDE;
    case SDL_SCANCODE_GRAVE: return 0xC0;
    case SDL_SCANCODE_COMMA: return 0xBC;
    case SDL_SCANCODE_PERIOD: return 0xBE;
    case SDL_SCANCODE_SLASH: return 0xBF;
    case SDL_SCANCODE_CAPSLOCK: return kVkCapital;
    case SDL_SCANCODE_PRINTSCREEN: return 0x2C;
    case SDL_SCANCODE_SCROLLLOCK: return kVkScroll;
    case SDL_SCANCODE_PAUSE: return kVkPause;
    case SDL_SCANCODE_INSERT: return kVkInsert;
    case SDL_SCANCODE_HOME: return kVkHome;
    case SDL_SCANCODE_PAGEUP: return kVkPrior;
    case SDL_SCANCODE_DELETE: return kVkDelete;
    case SDL_SCANCODE_END: return kVkEnd;
    case SDL_SCANCODE_PAGEDOWN: return kVkNext;
    case SDL_SCANCODE_RIGHT: return kVkRight;
    case SDL_SCANCODE_LEFT: return kVkLeft;
    case SDL_SCANCODE_DOWN: return kVkDown;
    case SDL_SCANCODE_UP: return kVkUp;
    case SDL_SCANCODE_NUMLOCKCLEAR: return kVkNumLock;
    case SDL_SCANCODE_KP_DIVIDE: return kVkDivide;
    case SDL_SCANCODE_KP_MULTIPLY: return kVkMultiply;
    case SDL_SCANCODE_KP_MINUS: return kVkSubtract;
    case SDL_SCANCODE_KP_PLUS: return kVkAdd;
    case SDL_SCANCODE_KP_ENTER: return kVkReturn;
    case SDL_SCANCODE_KP_0: return kVkNumpad0;
    case SDL_SCANCODE_KP_PERIOD: return kVkDecimal;
    case SDL_SCANCODE_NONUSBACKSLASH: return 0xE2;
    case SDL_SCANCODE_INTERNATIONAL1: return 0xE2;
    case SDL_SCANCODE_INTERNATIONAL3: return 0xDC;
    case SDL_SCANCODE_LCTRL: return kVkLControl;
    case SDL_SCANCODE_LSHIFT: return kVkLShift;
    case SDL_SCANCODE_LALT: return kVkLMenu;
    case SDL_SCANCODE_LGUI: return 0x5B;
    case SDL_SCANCODE_RCTRL: return kVkRControl;
    case SDL_SCANCODE_RSHIFT: return kVkRShift;
    case SDL_SCANCODE_RALT: return kVkRMenu;
    case SDL_SCANCODE_RGUI: return 0x5C;
    default: return 0;
  }
}

// The key a keypad key stands for with NumLock off, as the system's keyboard
// reports it: the digits are Insert, End, Down, Page Down, Left, Clear (0x0C),
// Right, Home, Up and Page Up, the point is Delete. Other keys are themselves.
int KeypadWithoutNumLock(int vk) {
  static constexpr int kNavigation[10] = {kVkInsert, kVkEnd, kVkDown, kVkNext,  kVkLeft,
                                          0x0C,      kVkRight, kVkHome, kVkUp, kVkPrior};
  if (vk >= kVkNumpad0 && vk <= kVkNumpad0 + 9) return kNavigation[vk - kVkNumpad0];
  if (vk == kVkDecimal) return kVkDelete;
  return vk;
}

// The key each held scancode was reported as when it went down, so that its
// release reports the same key even if NumLock changed in between.
int g_reported_down[SDL_NUM_SCANCODES];

intptr_t PackPoint(int x, int y) {
  return static_cast<intptr_t>((static_cast<uint32_t>(static_cast<uint16_t>(x))) |
                               (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16));
}

Window* FromId(uint32_t id) {
  auto it = g_by_id.find(id);
  if (it == g_by_id.end() || !detail::IsLive(it->second)) return nullptr;
  return it->second;
}

void OnWindowEvent(const SDL_WindowEvent& e) {
  Window* w = FromId(e.windowID);
  if (w == nullptr) return;
  NativeWindow* n = Native(w);
  switch (e.event) {
    case SDL_WINDOWEVENT_CLOSE:
      PostMessage(w, kWmSysCommand, kScClose, 0);
      break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      if (GetForegroundWindow() != w) {
        detail::NoteForeground(w);
        PostMessage(w, kWmActivateApp, 1, 0);
        PostMessage(w, kWmActivate, 1, 0);
      }
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      if (GetForegroundWindow() == w) {
        detail::NoteForeground(nullptr);
        PostMessage(w, kWmActivateApp, 0, 0);
        PostMessage(w, kWmActivate, 0, 0);
      }
      break;
    case SDL_WINDOWEVENT_MINIMIZED:
      if (!w->minimised) {
        w->minimised = true;
        n->minimised = true;
        PostMessage(w, kWmSize, 1, 0);
      }
      break;
    case SDL_WINDOWEVENT_RESTORED:
      if (w->minimised) {
        w->minimised = false;
        n->minimised = false;
        Rect c{};
        GetClientRect(w, &c);
        PostMessage(w, kWmSize, 0, PackPoint(c.right, c.bottom));
      }
      break;
    case SDL_WINDOWEVENT_EXPOSED:
      InvalidateRect(w, nullptr);
      break;
    case SDL_WINDOWEVENT_MOVED: {
      // A move by the user (or the window manager); our own placements are
      // already in the record.
      if (n->fullscreen) break;
      Rect client = detail::ClientOnScreen(*w);
      int dx = e.data1 - client.left, dy = e.data2 - client.top;
      if (dx == 0 && dy == 0) break;
      w->rect.left += dx;
      w->rect.right += dx;
      w->rect.top += dy;
      w->rect.bottom += dy;
      n->client = detail::ClientOnScreen(*w);
      PostMessage(w, kWmMove, 0, PackPoint(n->client.left, n->client.top));
      break;
    }
    default:
      break;
  }
}

void PostChar(Window* w, unsigned char c) { PostMessage(w, kWmChar, c, 1); }

void OnKey(const SDL_KeyboardEvent& e) {
  int vk = ScancodeToVk(e.keysym.scancode);
  if (vk == 0) return;
  bool down = e.state == SDL_PRESSED;
  detail::SetKeyState(vk, down);
  Window* w = FromId(e.windowID);
  if (w == nullptr) w = detail::InputTarget();
  if (w == nullptr) return;
  // The key state keeps the physical key (the keyboard device reads scan
  // codes, whatever NumLock says); the messages carry what the key means, so
  // that a text line sees the keypad's arrows with NumLock off.
  int reported = (e.keysym.mod & KMOD_NUM) != 0 ? vk : KeypadWithoutNumLock(vk);
  const int code = e.keysym.scancode;
  if (code >= 0 && code < SDL_NUM_SCANCODES) {
    if (down) {
      g_reported_down[code] = reported;
    } else if (g_reported_down[code] != 0) {
      reported = g_reported_down[code];
      g_reported_down[code] = 0;
    }
  }
  // The generic Shift/Control/Alt code is what window procedures see.
  if (vk == kVkLShift || vk == kVkRShift) reported = kVkShift;
  if (vk == kVkLControl || vk == kVkRControl) reported = kVkControl;
  if (vk == kVkLMenu || vk == kVkRMenu) reported = kVkMenu;
  PostMessage(w, down ? kWmKeyDown : kWmKeyUp, static_cast<uintptr_t>(reported), e.repeat ? 0x40000001 : 1);
  if (!down) return;
  // Control characters come from key presses, not from text input.
  if (vk == kVkReturn) PostChar(w, 13);
  if (vk == kVkBack) PostChar(w, 8);
  if (vk == kVkTab) PostChar(w, 9);
  if (vk == kVkEscape) PostChar(w, 27);
  if ((e.keysym.mod & KMOD_CTRL) && vk >= 'A' && vk <= 'Z') PostChar(w, static_cast<unsigned char>(vk - 'A' + 1));
}

void OnText(const SDL_TextInputEvent& e) {
  Window* w = FromId(e.windowID);
  if (w == nullptr) w = detail::InputTarget();
  if (w == nullptr) return;
  // Text accepted from the system's input method ends its composition.
  ImeEndComposition(w);
  std::string bytes = ToCp932(e.text);
  for (unsigned char c : bytes) PostChar(w, c);
}

// The system's input method composing: the text so far and the cursor
// (counted in characters by SDL, in code page 932 bytes here).
void OnTextEditing(const SDL_TextEditingEvent& e) {
  Window* w = FromId(e.windowID);
  if (w == nullptr) w = detail::InputTarget();
  if (w == nullptr) return;
  std::string text = e.text;
  size_t cut = 0;
  for (int chars = 0; cut < text.size() && chars < e.start; ++chars) {
    ++cut;
    while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) ++cut;
  }
  ImeSetComposition(w, ToCp932(text), static_cast<int>(ToCp932(text.substr(0, cut)).size()));
}

void OnMouseMotion(const SDL_MouseMotionEvent& e) {
  Window* w = FromId(e.windowID);
  if (w == nullptr) return;
  Rect client = detail::ClientOnScreen(*w);
  detail::NoteCursorPos(client.left + e.x, client.top + e.y);
  PostMessage(w, kWmSetCursor, 0, 1);
  PostMessage(w, kWmMouseMove, 0, PackPoint(e.x, e.y));
}

void OnMouseButton(const SDL_MouseButtonEvent& e) {
  Window* w = FromId(e.windowID);
  if (w == nullptr) return;
  bool down = e.state == SDL_PRESSED;
  uint32_t message;
  int vk;
  if (e.button == SDL_BUTTON_RIGHT) {
    message = down ? kWmRButtonDown : kWmRButtonUp;
    vk = kVkRButton;
  } else if (e.button == SDL_BUTTON_MIDDLE) {
    message = down ? kWmMButtonDown : kWmMButtonUp;
    vk = kVkMButton;
  } else if (e.button == SDL_BUTTON_LEFT) {
    message = down ? kWmLButtonDown : kWmLButtonUp;
    vk = kVkLButton;
  } else {
    return;
  }
  detail::SetKeyState(vk, down);
  Rect client = detail::ClientOnScreen(*w);
  detail::NoteCursorPos(client.left + e.x, client.top + e.y);
  PostMessage(w, message, 0, PackPoint(e.x, e.y));
}

void OnWheel(const SDL_MouseWheelEvent& e) {
  Window* w = FromId(e.windowID);
  if (w == nullptr) return;
  int y = e.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.y : e.y;
  int x = e.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.x : e.x;
  if (y != 0) {
    PostMessage(w, kWmMouseWheel, static_cast<uintptr_t>(static_cast<uint16_t>(y * 120)) << 16, 0);
  }
  if (x != 0) {
    PostMessage(w, kWmMouseHWheel, static_cast<uintptr_t>(static_cast<uint16_t>(x * 120)) << 16, 0);
  }
}

}  // namespace

namespace detail::sdl {

int ScancodeToVirtualKey(int scancode) { return ScancodeToVk(static_cast<SDL_Scancode>(scancode)); }
int ReportedVirtualKey(int scancode, bool num_lock) {
  const int vk = ScancodeToVk(static_cast<SDL_Scancode>(scancode));
  return num_lock ? vk : KeypadWithoutNumLock(vk);
}
std::string Utf8ToCp932(const std::string& utf8) { return ToCp932(utf8); }
std::string Cp932ToUtf8(const std::string& cp932) { return ToUtf8(cp932); }

bool Init() {
  // A start that found no screen stays refused: trying again would only
  // repeat the system libraries' complaints.
  if (!g_init_problem.empty()) return false;
  const char* chosen = std::getenv("SDL_VIDEODRIVER");
  const bool driver_chosen = chosen != nullptr && chosen[0] != '\0';
  if (!driver_chosen && !HasEnv("DISPLAY") && !HasEnv("WAYLAND_DISPLAY")) {
    g_init_problem = "no display: neither DISPLAY nor WAYLAND_DISPLAY is set";
    return false;
  }
  // A Wayland compositor is reached through the runtime folder, or through
  // WAYLAND_DISPLAY when it is a whole path; without either, only X can
  // serve, and trying Wayland would only have its library complain on the
  // terminal.
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const bool wayland_reachable = HasEnv("XDG_RUNTIME_DIR") || (wayland != nullptr && wayland[0] == '/');
  if (!driver_chosen && !wayland_reachable) {
    if (!HasEnv("DISPLAY")) {
      g_init_problem = "no display: WAYLAND_DISPLAY is set but XDG_RUNTIME_DIR, where its socket lies, is not";
      return false;
    }
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
  }
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");
  // The window's surface is the display server's own image, never a GL
  // texture: see MakeRenderer.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    g_init_problem = "no display could be opened (" + DisplaySettings() + "): " + SDL_GetError();
    return false;
  }
  // SDL falls back to drivers that draw nowhere; a window nobody sees is no
  // use to a player unless such a driver was asked for.
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver_chosen && driver != nullptr &&
      (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    g_init_problem = "no display could be opened (" + DisplaySettings() + "; SDL started only its " + driver +
                     " driver, which shows nothing)";
    return false;
  }
  return true;
}

std::string InitProblem() { return g_init_problem.empty() ? g_window_problem : g_init_problem; }

void Desktop(int* width, int* height, int* bits) {
  if (g_current.width > 0) {
    *width = g_current.width;
    *height = g_current.height;
    *bits = g_current.bits;
    return;
  }
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) != 0) {
    *width = *height = *bits = 0;
    return;
  }
  *width = mode.w;
  *height = mode.h;
  *bits = BitsOf(mode.format);
}

FrameMetrics Metrics() { return FrameMetrics{3, 20, 2}; }

std::vector<DisplayMode> Modes() {
  std::vector<DisplayMode> modes;
  int count = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(0, i, &mode) == 0) {
      modes.push_back({mode.w, mode.h, BitsOf(mode.format), mode.refresh_rate});
    }
  }
  return modes;
}

bool ChangeMode(const DisplayMode* mode) {
  // The display itself is left alone: a full-screen window covers the desktop
  // and the presenter scales, which looks the same and cannot strand the
  // user's display in a foreign mode.
  if (mode == nullptr) {
    g_current = {0, 0, 0, 0};
    return true;
  }
  for (const DisplayMode& m : Modes()) {
    if (m.width == mode->width && m.height == mode->height && m.bits == mode->bits) {
      g_current = m;
      return true;
    }
  }
  return false;
}

// The frames are drawn in memory, so presenting is a copy (scaled when the
// window is larger) into the window's image: SDL's software renderer does it
// without GL. The system's GL, often itself a software rasteriser, costs
// several times as much a frame and, short of memory, dies inside the driver
// (a crash, or an X error that ends the process) where no caller can see it.
// Only a video driver that offers no window image (not X11) gets SDL's
// accelerated renderer instead.
SDL_Renderer* MakeRenderer(SDL_Window* window) {
  SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
  if (renderer != nullptr) return renderer;
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver != nullptr && std::strcmp(driver, "x11") == 0) return nullptr;
  return SDL_CreateRenderer(window, -1, 0);
}

bool CreateNative(Window* window) {
  g_window_problem.clear();
  auto* n = new NativeWindow();
  Rect client = ClientOnScreen(*window);
  uint32_t flags = SDL_WINDOW_HIDDEN;
  if (!(window->style & kWsCaption)) flags |= SDL_WINDOW_BORDERLESS;
  n->sdl = SDL_CreateWindow(ToUtf8(window->title).c_str(), client.left, client.top,
                            std::max(1, client.right - client.left),
                            std::max(1, client.bottom - client.top), flags);
  if (n->sdl == nullptr) {
    g_window_problem = std::string("SDL could not make the window (") + SDL_GetError() + ")";
    delete n;
    return false;
  }
  n->renderer = MakeRenderer(n->sdl);
  if (n->renderer == nullptr) {
    g_window_problem = std::string("SDL could not make a renderer for the window (") + SDL_GetError() + ")";
    SDL_DestroyWindow(n->sdl);
    delete n;
    return false;
  }
  n->title = window->title;
  n->client = client;
  n->borderless = (flags & SDL_WINDOW_BORDERLESS) != 0;
  window->native = n;
  g_by_id[SDL_GetWindowID(n->sdl)] = window;
  return true;
}

void DestroyNative(Window* window) {
  NativeWindow* n = Native(window);
  if (n == nullptr) return;
  g_by_id.erase(SDL_GetWindowID(n->sdl));
  if (n->texture != nullptr) SDL_DestroyTexture(n->texture);
  if (n->renderer != nullptr) SDL_DestroyRenderer(n->renderer);
  SDL_DestroyWindow(n->sdl);
  delete n;
  window->native = nullptr;
}

void SyncNative(Window* window) {
  NativeWindow* n = Native(window);
  if (n == nullptr) return;
  if (n->title != window->title) {
    n->title = window->title;
    SDL_SetWindowTitle(n->sdl, ToUtf8(window->title).c_str());
  }
  bool borderless = !(window->style & kWsCaption);
  if (borderless != n->borderless) {
    n->borderless = borderless;
    SDL_SetWindowBordered(n->sdl, borderless ? SDL_FALSE : SDL_TRUE);
  }
  Rect client = ClientOnScreen(*window);
  int dw = 0, dh = 0, bits = 0;
  Desktop(&dw, &dh, &bits);
  bool fullscreen = borderless && window->topmost && client.left <= 0 && client.top <= 0 &&
                    client.right >= dw && client.bottom >= dh;
  if (fullscreen != n->fullscreen) {
    n->fullscreen = fullscreen;
    SDL_SetWindowFullscreen(n->sdl, fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
  }
  if (!fullscreen && std::memcmp(&client, &n->client, sizeof client) != 0) {
    if (client.right - client.left != n->client.right - n->client.left ||
        client.bottom - client.top != n->client.bottom - n->client.top) {
      SDL_SetWindowSize(n->sdl, std::max(1, client.right - client.left),
                        std::max(1, client.bottom - client.top));
    }
    SDL_SetWindowPosition(n->sdl, client.left, client.top);
    n->client = client;
  }
  if (window->visible != n->shown) {
    n->shown = window->visible;
    if (n->shown) {
      SDL_ShowWindow(n->sdl);
    } else {
      SDL_HideWindow(n->sdl);
    }
  }
  if (window->minimised != n->minimised) {
    n->minimised = window->minimised;
    if (n->minimised) {
      SDL_MinimizeWindow(n->sdl);
    } else {
      SDL_RestoreWindow(n->sdl);
    }
  }
  bool cursor = CursorShows(window);
  if (cursor != n->cursor_shown) {
    n->cursor_shown = cursor;
    SDL_ShowCursor(cursor ? SDL_ENABLE : SDL_DISABLE);
  }
}

void PollEvents() {
  uint64_t now = SDL_GetTicks64();
  if (now == g_last_poll_ms) return;
  g_last_poll_ms = now;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    switch (e.type) {
      case SDL_WINDOWEVENT: OnWindowEvent(e.window); break;
      case SDL_KEYDOWN:
      case SDL_KEYUP: OnKey(e.key); break;
      case SDL_TEXTINPUT: OnText(e.text); break;
      case SDL_TEXTEDITING: OnTextEditing(e.edit); break;
      case SDL_MOUSEMOTION: OnMouseMotion(e.motion); break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: OnMouseButton(e.button); break;
      case SDL_MOUSEWHEEL: OnWheel(e.wheel); break;
      case SDL_QUIT: {
        Window* w = InputTarget();
        if (w != nullptr) PostMessage(w, kWmSysCommand, kScClose, 0);
        break;
      }
      default: break;
    }
  }
}

bool SetClipboard(const std::string& text) { return SDL_SetClipboardText(ToUtf8(text).c_str()) == 0; }

bool GetClipboard(std::string* out) {
  if (!SDL_HasClipboardText()) return false;
  char* text = SDL_GetClipboardText();
  if (text == nullptr) return false;
  *out = ToCp932(text);
  SDL_free(text);
  return true;
}

void SetScreenSaver(bool active) {
  if (active) {
    SDL_EnableScreenSaver();
  } else {
    SDL_DisableScreenSaver();
  }
}

bool ScreenSaver() { return SDL_IsScreenSaverEnabled() == SDL_TRUE; }

bool NativeInfo(Window* window, int* width, int* height, std::string* title_utf8) {
  NativeWindow* n = Native(window);
  if (n == nullptr) return false;
  int w = 0, h = 0;
  SDL_GetWindowSize(n->sdl, &w, &h);
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
  if (title_utf8 != nullptr) *title_utf8 = SDL_GetWindowTitle(n->sdl);
  return true;
}

void PushClose(Window* window) {
  NativeWindow* n = Native(window);
  if (n == nullptr) return;
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  e.window.windowID = SDL_GetWindowID(n->sdl);
  SDL_PushEvent(&e);
}

int Present(Window* window, const uint8_t* pixels, int width, int height, int pitch,
            const Rect& source, const Rect& destination) {
  (void)width;
  (void)height;
  NativeWindow* n = Native(window);
  if (n == nullptr || n->renderer == nullptr) return -1;
  int sw = source.right - source.left, sh = source.bottom - source.top;
  if (n->texture == nullptr || n->texture_width != sw || n->texture_height != sh) {
    if (n->texture != nullptr) SDL_DestroyTexture(n->texture);
    n->texture = SDL_CreateTexture(n->renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, sw, sh);
    if (n->texture == nullptr) return -1;
    n->texture_width = sw;
    n->texture_height = sh;
  }
  const uint8_t* first = pixels + static_cast<ptrdiff_t>(source.top) * pitch + source.left * 4;
  if (SDL_UpdateTexture(n->texture, nullptr, first, pitch) != 0) return -1;
  SDL_Rect dst = {destination.left, destination.top, destination.right - destination.left,
                  destination.bottom - destination.top};
  SDL_SetRenderDrawColor(n->renderer, 0, 0, 0, 255);
  SDL_RenderClear(n->renderer);
  SDL_RenderCopy(n->renderer, n->texture, nullptr, &dst);
  SDL_RenderPresent(n->renderer);
  return 0;
}

}  // namespace detail::sdl
}  // namespace plat
