// platform/window/window_internal.h - what the window core (platform/window/window.cpp)
// and its two back ends share. The core keeps the system's semantics
// (classes, queues, sent messages, rectangles, activation, paint); a back end
// only shows things and turns its events into core calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window/window.h"

namespace plat {

// The record behind a Window*. Fields are guarded by the core's lock.
struct Window {
  std::string class_name;
  std::string title;
  WindowProc proc = nullptr;
  uint32_t style = 0, ex_style = 0;
  Rect rect = {0, 0, 0, 0};  // outer rectangle on the screen
  bool visible = false, minimised = false, topmost = false;
  bool paint_queued = false, has_invalid = false;
  Rect invalid = {0, 0, 0, 0};
  bool cursor_arrow = true;
  bool destroying = false;
  std::vector<int> lock_fds;  // the class locks, held by the first window of the class
  struct ThreadQueue* queue = nullptr;  // the owning thread's queue
  void* native = nullptr;               // back-end data
  // Last presented frame (headless capture; the SDL back end keeps none).
  std::vector<uint32_t> frame;
  int frame_width = 0, frame_height = 0, present_count = 0;
  Rect last_source = {0, 0, 0, 0}, last_destination = {0, 0, 0, 0};
};

namespace detail {

// Client rectangle of a window in screen coordinates, from its outer
// rectangle, styles and the frame metrics.
Rect ClientOnScreen(const Window& window);

// Sets the keyboard state byte of a key (and of its generic Shift/Control/Alt
// key for the left and right variants).
void SetKeyState(int virtual_key, bool down);
// Called after each change of a key's state byte (the input devices signal
// their change events from it); null: none.
void SetKeyChangeObserver(void (*observer)());
// The window the system sends input to: the foreground window, else the
// newest live window; null without windows.
Window* InputTarget();
// Called by the back ends when the user activated or deactivated the
// process's windows (foreground follows).
void NoteForeground(Window* window);
// Marks the window minimised or restored by the user (no messages sent).
void NoteMinimised(Window* window, bool minimised);
// Cursor position on the screen, kept by the back ends' mouse events.
void NoteCursorPos(int x, int y);
// True when the window is alive (the caller holds no lock).
bool IsLive(Window* window);
// Whether the cursor shows over the window (display count and shape).
bool CursorShows(Window* window);
// Drops every window, class and queued message and resets keys and cursor.
void ResetCore();
// Copies source pixels (X8R8G8B8) scaled by nearest neighbour into the
// window's kept frame.
void KeepFrame(Window* window, const uint8_t* pixels, int pitch, const Rect& source,
               const Rect& destination);

// Back-end entry points; the core calls the one of GetBackend().
namespace headless {
void Desktop(int* width, int* height, int* bits);
FrameMetrics Metrics();
std::vector<DisplayMode> Modes();
bool ChangeMode(const DisplayMode* mode);
void CursorPos(int* x, int* y);
bool SetClipboard(const std::string& text);
bool GetClipboard(std::string* out);
void SetScreenSaver(bool active);
bool ScreenSaver();
}  // namespace headless

namespace sdl {
// The virtual key of an SDL scancode (the keyboard's USB usage number); 0 for
// keys the library has no code for.
int ScancodeToVirtualKey(int scancode);
// The virtual key that key messages carry for the scancode: the same, except
// that with NumLock off the keypad's digits and point are the navigation keys
// (Insert, End, Down, Page Down, Left, Clear, Right, Home, Up, Page Up;
// Delete).
int ReportedVirtualKey(int scancode, bool num_lock);
// Text between the system's UTF-8 and the library's code page 932; bytes
// that do not convert become '?'.
std::string Utf8ToCp932(const std::string& utf8);
std::string Cp932ToUtf8(const std::string& cp932);
// Video and events; false when SDL cannot start or finds no display that a
// window would show on (then InitProblem says why).
bool Init();
// Why no window can be shown: the start's problem, else why the last window
// could not be made or drawn to; empty when neither happened.
std::string InitProblem();
void Desktop(int* width, int* height, int* bits);
FrameMetrics Metrics();
std::vector<DisplayMode> Modes();
bool ChangeMode(const DisplayMode* mode);
// Makes the SDL window and the renderer that presents to it; false (with
// InitProblem saying why) when either cannot be made.
bool CreateNative(Window* window);
void DestroyNative(Window* window);
// Brings the SDL window in line with the record (title, client rectangle,
// visibility, minimised, full-screen style, cursor).
void SyncNative(Window* window);
// Turns pending SDL events into core calls; the core calls it at most once a
// millisecond from PeekMessage on the thread that started SDL.
void PollEvents();
void CursorPos(int* x, int* y);
bool SetClipboard(const std::string& text);
bool GetClipboard(std::string* out);
void SetScreenSaver(bool active);
bool ScreenSaver();
bool NativeInfo(Window* window, int* width, int* height, std::string* title_utf8);
void PushClose(Window* window);
int Present(Window* window, const uint8_t* pixels, int width, int height, int pitch,
            const Rect& source, const Rect& destination);
}  // namespace sdl

}  // namespace detail
}  // namespace plat
