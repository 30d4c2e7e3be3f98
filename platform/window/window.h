// platform/window/window.h - windows, window classes and the message queue; the
// desktop (size, colour bits, display modes, frame metrics); keyboard state,
// character messages, mouse, cursor, clipboard, screen saver; and the
// presenter that shows a frame of pixels in a window.
//
// Model: every thread has its own message queue. PostMessage queues a message
// on the thread that created the window (thread-safe, from any thread);
// SendMessage and the operations that "send" (show, move, size, destroy,
// update) call the window procedure at once on the calling thread.
// PeekMessage looks at the calling thread's queue only; on the SDL back end it
// first turns pending SDL events into messages, at most once a millisecond.
//
// Text is code page 932 throughout (titles, character messages, clipboard);
// the SDL back end converts where it meets the system.
//
// Back ends: SDL2 (platform/sdl/) shows a real window whose SDL client area is
// the window's client area; headless (platform/headless/) keeps a virtual
// desktop that tests configure and drive with injected events, and keeps the
// last presented frame for capture. plat::GetBackend() picks one.
//
// Owns: SDL video and events (SDL_INIT_VIDEO | SDL_INIT_EVENTS). Does not own:
// audio (platform/audio/dsound.h), game controllers (input), the rendering device
// (platform/d3d9/d3d9.h, which presents through PresentToWindow).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct Window;  // opaque; null is "no window"

using WindowProc = intptr_t (*)(Window* window, uint32_t message, uintptr_t wparam,
                                intptr_t lparam);

struct Rect {
  int32_t left, top, right, bottom;
};

struct Message {
  Window* window;  // null for a thread message (the quit message)
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
};

// ---- Message numbers ------------------------------------------------------

constexpr uint32_t kWmNull = 0x0000;
constexpr uint32_t kWmCreate = 0x0001;
constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmMove = 0x0003;          // lparam: client left | top << 16
constexpr uint32_t kWmSize = 0x0005;          // wparam: 0 restored, 1 minimised, 2 maximised
constexpr uint32_t kWmActivate = 0x0006;      // wparam: 0 inactive, 1 active; high word minimised
constexpr uint32_t kWmPaint = 0x000F;
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmQuit = 0x0012;          // wparam: exit code
constexpr uint32_t kWmActivateApp = 0x001C;   // wparam: 1 activated, 0 deactivated
constexpr uint32_t kWmSetCursor = 0x0020;
constexpr uint32_t kWmDisplayChange = 0x007E; // wparam: bits; lparam: width | height << 16
constexpr uint32_t kWmNcHitTest = 0x0084;
constexpr uint32_t kWmKeyDown = 0x0100;       // wparam: virtual key
constexpr uint32_t kWmKeyUp = 0x0101;
constexpr uint32_t kWmChar = 0x0102;          // wparam: one code page 932 byte
constexpr uint32_t kWmSysKeyDown = 0x0104;
constexpr uint32_t kWmSysKeyUp = 0x0105;
constexpr uint32_t kWmSysCommand = 0x0112;
constexpr uint32_t kWmTimer = 0x0113;         // wparam: timer id; lparam: TimerProc or 0
constexpr uint32_t kWmMouseMove = 0x0200;     // lparam: client x | y << 16
constexpr uint32_t kWmLButtonDown = 0x0201;
constexpr uint32_t kWmLButtonUp = 0x0202;
constexpr uint32_t kWmRButtonDown = 0x0204;
constexpr uint32_t kWmRButtonUp = 0x0205;
constexpr uint32_t kWmMButtonDown = 0x0207;
constexpr uint32_t kWmMButtonUp = 0x0208;
constexpr uint32_t kWmMouseWheel = 0x020A;    // wparam high word: signed delta (120 a notch)
constexpr uint32_t kWmMouseHWheel = 0x020E;
constexpr uint32_t kWmMoving = 0x0216;        // lparam: Rect* proposed window rectangle
constexpr uint32_t kWmUser = 0x0400;

constexpr uint32_t kScClose = 0xF060;
constexpr uint32_t kScScreenSave = 0xF140;
constexpr uint32_t kScMonitorPower = 0xF170;

// ---- Styles ---------------------------------------------------------------

constexpr uint32_t kWsPopup = 0x80000000u;
constexpr uint32_t kWsVisible = 0x10000000u;
constexpr uint32_t kWsCaption = 0x00C00000u;
constexpr uint32_t kWsSysMenu = 0x00080000u;
constexpr uint32_t kWsMinimizeBox = 0x00020000u;
constexpr uint32_t kWsExTopmost = 0x00000008u;
constexpr uint32_t kWsExWindowEdge = 0x00000100u;
constexpr uint32_t kWsExClientEdge = 0x00000200u;

// ---- Window classes and windows -------------------------------------------

// False when the name is empty, the procedure null, or the class exists.
bool RegisterWindowClass(const char* class_name, WindowProc proc);
// False when no such class exists or a window of it still lives.
bool UnregisterWindowClass(const char* class_name);

// A top-level window of the class: one of this process, or one held by
// another process (seen through a lock file per class name that the other
// process holds locked), which is returned as ForeignWindow(). Null when
// there is none.
Window* FindWindow(const char* class_name);
Window* ForeignWindow();
// Test hook: the one folder of the class lock files. Without it (an empty
// folder) a window takes its lock in $XDG_RUNTIME_DIR when that is a folder
// of the user's own, closed to others and writable, else (or when locks do
// not work there) in rorud-<user id> in $TMPDIR or /tmp, made for the user
// alone; and as well in rorud-<user id> in /tmp whatever the environment
// says, so that copies started with different environments meet. Tests give
// each process its own folder unless they test the double start.
void SetWindowLockFolder(const std::string& folder);
// Test hook: flock on the lock files in `folder` fails with `error` (ENOLCK,
// as on a network mount without a lock service); 0 lifts it. A headless
// reset lifts them all.
void SetClassLockRefusal(const std::string& folder, int error);
// Test hook: the folder that stands for /tmp in the class lock, as the
// fixed folder's base and as the fallback's when TMPDIR is not set or names
// /tmp, so that test processes neither meet each other nor a game the user
// has open, and leave nothing in /tmp; empty (the default) for /tmp itself.
// No environment setting moves it: the game program that is played never
// calls this, only the test programs do.
void SetFixedLockBaseForTesting(const std::string& base);
// The lock file of the class that another process holds; when none is held,
// the one a window of this process locks first.
std::string WindowLockPath(const char* class_name);
// Why no window can be made for want of a lock, and what to do ("the lock
// folder F is a symbolic link, not a folder. Remove it, or set
// XDG_RUNTIME_DIR to a folder of your own closed to others"): no fit folder
// for the lock, or the last class lock could not be taken in a fit folder
// (its file cannot be opened, or locks do not work there nor in the
// fallback). Empty when nothing is wrong; another process holding the lock is not a problem
// of the folder.
std::string WindowLockProblem();
// The lock file another process held when the last window's class lock was
// refused for it, or when FindWindow last found that process's window,
// though that process may have ended since; empty when neither happened
// since the last window's class lock was taken or failed for another reason.
std::string WindowLockHolder();
// Why the SDL back end can open no visible window (no display, only a
// driver that shows nothing, or a window or renderer SDL could not make);
// empty when it can, before it tried, and in headless runs.
std::string DisplayProblem();

// Creates a hidden-unless-kWsVisible window with the outer rectangle given;
// null when the class is unknown, another process holds a window of it, or
// the class lock cannot be taken (WindowLockProblem says why).
// Sends kWmCreate. The calling thread owns the window and its queue.
Window* CreateWindow(const char* class_name, const char* title, uint32_t style,
                     uint32_t ex_style, int x, int y, int width, int height);
// Sends kWmDestroy, then forgets the window; its queued messages are dropped.
bool DestroyWindow(Window* window);
bool IsWindow(Window* window);

constexpr int kSwHide = 0, kSwShowNormal = 1, kSwMinimize = 6, kSwRestore = 9, kSwShow = 5;
// Showing a hidden window activates it (sends kWmActivateApp 1 and
// kWmActivate 1) and sends kWmSize and kWmMove; minimising sends kWmSize 1 and
// deactivates. Returns whether the window was visible before.
bool ShowWindow(Window* window, int command);
// Sends kWmPaint when part of the window needs painting.
void UpdateWindow(Window* window);
bool IsIconic(Window* window);
bool IsWindowVisible(Window* window);

bool SetWindowText(Window* window, const char* text);
std::string GetWindowText(Window* window);
uint32_t GetWindowStyle(Window* window);
uint32_t GetWindowExStyle(Window* window);
void SetWindowStyle(Window* window, uint32_t style);
void SetWindowExStyle(Window* window, uint32_t ex_style);

// Z-order choices for SetWindowPos.
enum class ZOrder { kKeep, kTop, kTopmost, kNoTopmost };
constexpr uint32_t kSwpNoSize = 0x1, kSwpNoMove = 0x2, kSwpNoRedraw = 0x8, kSwpShowWindow = 0x40;
// Moves and sizes the outer rectangle; sends kWmMove / kWmSize when they
// change.
bool SetWindowPos(Window* window, ZOrder z, int x, int y, int width, int height, uint32_t flags);
bool MoveWindow(Window* window, int x, int y, int width, int height, bool repaint);
bool GetWindowRect(Window* window, Rect* out);     // outer rectangle, screen coordinates
bool GetClientRect(Window* window, Rect* out);     // (0, 0, width, height)
bool ClientToScreen(Window* window, int* x, int* y);
// Grows a client rectangle to the outer rectangle for the styles, with the
// desktop's frame metrics.
void AdjustWindowRectEx(Rect* rect, uint32_t style, uint32_t ex_style);
bool IsTopmost(Window* window);

// Activation: the foreground window is the active one of the process.
bool SetForegroundWindow(Window* window);
Window* GetForegroundWindow();

// ---- Messages --------------------------------------------------------------

// Queues on the window's thread (from any thread). False for a dead window.
bool PostMessage(Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam);
// Queues kWmQuit with the code on the calling thread's queue.
void PostQuitMessage(int code);
// Calls the window procedure now, on the calling thread.
intptr_t SendMessage(Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// Filter of PeekMessage: any message of the thread, thread messages only
// (window null), or those of one window.
Window* const kAnyWindow = nullptr;
Window* const kThreadMessages = reinterpret_cast<Window*>(static_cast<intptr_t>(-1));
// Looks at the calling thread's queue; with remove the message is taken off.
bool PeekMessage(Message* out, Window* filter, bool remove);
// Character messages come ready from the back end, so this does nothing; kept
// so that the pump reads as the system's message loop.
void TranslateMessage(const Message* message);
// Calls the window procedure of the message's window (nothing for thread
// messages); returns its result.
intptr_t DispatchMessage(const Message* message);
// The default handling: kWmClose destroys the window; kWmSysCommand with
// kScClose sends kWmClose; everything else returns 0.
intptr_t DefWindowProc(Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// ---- Timers ------------------------------------------------------------------

using TimerProc = void (*)(Window* window, uint32_t message, uintptr_t id, uint32_t time_ms);
// Starts (or restarts) timer id of the window: once period_ms have passed on
// the TimeGetTime clock, PeekMessage on the window's thread reports a
// kWmTimer for it when no other message matches (one at a time however long
// the wait was), and DispatchMessage calls proc, or the window procedure when
// proc is null. Returns id, or 0 for a dead window or id 0.
uintptr_t SetTimer(Window* window, uintptr_t id, uint32_t period_ms, TimerProc proc);
// False when the window has no such timer.
bool KillTimer(Window* window, uintptr_t id);

// ---- Painting ----------------------------------------------------------------

// Marks a client rectangle (null: all of it) as needing paint and queues a
// kWmPaint once.
void InvalidateRect(Window* window, const Rect* rect);
// Returns the part to paint (the union of invalid rectangles) and validates it;
// false when the window is dead.
bool BeginPaint(Window* window, Rect* paint_rect);
void EndPaint(Window* window);

// ---- Desktop -------------------------------------------------------------------

struct DisplayMode {
  int width, height, bits, refresh;
};
struct FrameMetrics {
  int border;        // frame of a captioned window, each side
  int caption;       // title bar height, above the top border
  int client_edge;   // extra sunken edge of kWsExClientEdge, each side
};
// Primary screen size and colour bits (32 for any four-byte desktop format).
void GetDesktopSize(int* width, int* height);
int GetDesktopColorBits();
FrameMetrics GetFrameMetrics();
std::vector<DisplayMode> GetDisplayModes();
// Switches the display to the mode (null: back to the desktop's own mode);
// false when the mode is not offered. Sends kWmDisplayChange to every window.
bool ChangeDisplayMode(const DisplayMode* mode);

// ---- Keyboard, characters, mouse, cursor -----------------------------------------

// 256 virtual-key bytes, 0x80 set while the key is down (0x01 toggled state
// for lock keys). Virtual keys follow the usual numbering: 0x08 Back, 0x09 Tab,
// 0x0D Return, 0x10 Shift, 0x11 Control, 0x12 Alt, 0x1B Escape, 0x20 Space,
// 0x21-0x28 PageUp, PageDown, End, Home, Left, Up, Right, Down, 0x2D Insert,
// 0x2E Delete, '0'-'9', 'A'-'Z', 0x60-0x69 keypad digits, 0x70-0x7B F1-F12...
void GetKeyboardState(uint8_t state[256]);

constexpr int kVkLButton = 0x01, kVkRButton = 0x02, kVkMButton = 0x04;
constexpr int kVkBack = 0x08, kVkTab = 0x09, kVkReturn = 0x0D, kVkShift = 0x10, kVkControl = 0x11,
              kVkMenu = 0x12, kVkPause = 0x13, kVkCapital = 0x14, kVkEscape = 0x1B, kVkSpace = 0x20,
              kVkPrior = 0x21, kVkNext = 0x22, kVkEnd = 0x23, kVkHome = 0x24, kVkLeft = 0x25,
              kVkUp = 0x26, kVkRight = 0x27, kVkDown = 0x28, kVkInsert = 0x2D, kVkDelete = 0x2E,
              kVkNumpad0 = 0x60, kVkMultiply = 0x6A, kVkAdd = 0x6B, kVkSubtract = 0x6D,
              kVkDecimal = 0x6E, kVkDivide = 0x6F, kVkF1 = 0x70, kVkNumLock = 0x90,
              kVkScroll = 0x91, kVkLShift = 0xA0, kVkRShift = 0xA1, kVkLControl = 0xA2,
              kVkRControl = 0xA3, kVkLMenu = 0xA4, kVkRMenu = 0xA5;

// The cursor position in screen coordinates.
void GetCursorPos(int* x, int* y);
// Display counter: the cursor shows while it is 0 or more. Returns the new count.
int ShowCursor(bool show);
// Arrow (true) or no cursor (false) over the window's client area.
void SetCursorVisibleShape(bool arrow);

// ---- Clipboard and screen saver -------------------------------------------------

bool SetClipboardText(const char* text);
// False when the clipboard holds no text.
bool GetClipboardText(std::string* out);
void SetScreenSaverActive(bool active);
bool IsScreenSaverActive();

// ---- Presenter ----------------------------------------------------------------------

// Shows 32-bit X8R8G8B8 pixels (bytes B, G, R, unused; pitch in bytes) in the
// client area of the window: the source rectangle of the pixels (null: all of
// them) is scaled onto the destination rectangle of the client area (null: the
// whole client area). SDL: streamed into a texture and drawn scaled, then
// shown. Headless: kept as the last presented frame, a client-sized image
// with the destination rectangle filled by nearest-neighbour scaling (the
// rest keeps what earlier frames put there). Returns 0, or -1 for a dead
// window, null pixels, or rectangles outside the pixels.
int PresentToWindow(Window* window, const void* pixels, int width, int height, int pitch,
                    const Rect* source, const Rect* destination);

// ---- The system's own window ----------------------------------------------------------

// The client size and title (UTF-8) that the system itself has for the
// window: the SDL window's. False on the headless back end or for a dead
// window.
bool GetNativeWindowInfo(Window* window, int* width, int* height, std::string* title_utf8);
// Closes the window as its close button would: SDL puts a close event into
// the system's event queue; headless acts as HeadlessClose.
void RequestNativeClose(Window* window);

// ---- Headless desktop (test hooks; no effect on the SDL back end) ---------------

struct VirtualDesktop {
  int width = 1920, height = 1080, bits = 32;
  std::vector<DisplayMode> modes;   // default list when left empty
  FrameMetrics metrics = {3, 20, 2};
};
// Resets the headless layer: every window, class and queue is dropped, the
// desktop takes the values given, keys are released, the cursor count is 0,
// the clipboard is empty and the screen saver active.
void HeadlessReset(const VirtualDesktop& desktop);
// Events as the system would deliver them to the window of the calling
// process (the foreground window, else the newest window):
void HeadlessSetKey(int virtual_key, bool down);     // state + kWmKeyDown / kWmKeyUp
void HeadlessTypeText(const char* cp932);            // one kWmChar per byte
void HeadlessSetFocus(bool active);                  // kWmActivateApp + kWmActivate
void HeadlessMinimize(bool minimised);               // posts kWmSize, then the activation
void HeadlessClose();                                // kWmSysCommand kScClose
void HeadlessMoveMouse(int screen_x, int screen_y);  // kWmMouseMove when over the client area
void HeadlessClick(int button, bool down);           // 1 left, 2 right, 4 middle
void HeadlessWheel(int notches, bool horizontal);
// Replaces the display-mode list (empty: the default list).
void HeadlessSetDisplayModes(const std::vector<DisplayMode>& modes);
// A desktop change, as a user would make it; sends kWmDisplayChange.
void HeadlessChangeDesktop(int width, int height, int bits);

// The last presented frame of the window (X8R8G8B8, client width x height),
// and the rectangles used. False when nothing was presented yet.
bool HeadlessGetLastFrame(Window* window, std::vector<uint32_t>* pixels, int* width, int* height);
bool HeadlessGetLastPresentRects(Window* window, Rect* source, Rect* destination);
int HeadlessPresentCount(Window* window);
// Writes the last frame as an 8-bit RGB PNG; false without a frame or on a
// write error.
bool SaveLastFramePng(Window* window, const char* path);

}  // namespace plat
