// lib/system/window_system.h - the library's start and end, the main window and
// its procedure, the message pump, the library-wide lock, window mode and
// size, and the system report. Internal to the library; the public entries
// are in rorud/rorud.h.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "platform/window/window.h"
#include "rorud/rorud.h"

// ---- Findings of the system report (kept across window-system starts) ------

struct SystemFindings {
  int processor_count;
  int os_version_code;
  char os_text[256];
  int directx_version;
  int has_time_stamp_counter;
  uint64_t time_stamp_rate;
  int cpu_mhz;
  int has_mmx, has_sse, has_sse2;
  char cpu_name[49];
};
const SystemFindings& GetSystemFindings();
int WriteSystemReport();
int GetMmxFlag();

// ---- The window-state record --------------------------------------------------

constexpr int kActivationQueueSize = 512;
constexpr int kClickLogSize = 32;
constexpr int kDroppedFileMax = 1000;

struct ClickLogEntry {
  int32_t button, x, y;
};

// Everything the window system resets at its start. Settings made before the
// start and findings of the start itself live outside it and survive.
struct WindowSystemState {
  plat::Window* main_window;
  uint32_t main_thread_id;
  uint64_t total_memory, available_memory;
  int desktop_width, desktop_height, desktop_colour_bits;
  plat::Rect client_rect_on_screen;
  plat::Rect window_rect;
  int cursor_wanted, cursor_shown;
  int window_destroyed, close_requested, destroy_received;
  int active, minimised;
  uint32_t activation_queue[kActivationQueueSize];
  int activation_read, activation_write, activation_count;
  int inside_pump, in_pump_services;
  int redraw_requested;
  uint32_t last_redraw_time;
  int painting, creating_window, mode_changing, ending;
  int visible_style;
  int desktop_composition;  // 1 on, the state last asked of the system
  ClickLogEntry clicks[kClickLogSize];
  int click_count;
  int wheel_vertical, wheel_horizontal;
  char* dropped_files[kDroppedFileMax];
  int dropped_count;
};
WindowSystemState& WindowState();

// ---- Start and end ----------------------------------------------------------------

int LibraryStartCore();
int LibraryEndCore();
int IsLibraryStarted();
int IsLibraryStarting();
[[noreturn]] void FatalErrorExit(const char* message);
[[noreturn]] void FatalErrorExitFmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The library's stand-ins for the system libraries it loads by name: each
// entry is null when the library or function is absent on this system.
void* GetLoadedFunction(const char* name);

// Test hook: called with the name of each start and end step as it runs.
using LibraryStepRecorder = void (*)(const char* step);
void SetLibraryStepRecorder(LibraryStepRecorder recorder);

// ---- Window system ---------------------------------------------------------------------

int StartWindowSystem();
int TeardownWindow();
int GetWindowDestroyedFlag();
plat::Window* GetMainWindow();
int IsWindowMode();
int GetDesktopState(int* width, int* height, int* colour_bits);
int IsQuitRequested();
int SetDesktopComposition(int enable);
const char* GetWindowClassName();
const char* GetWindowTitle();
// Test hook: forgets the settings made before a start (title, class name,
// window mode, scale, run-inactive flag) and the window-state record.
void ResetWindowSettings();
// The screen size the window is made for (640 x 480 while nothing set one).
void GetWindowScreenSize(int* width, int* height);

// ---- Window procedure ----------------------------------------------------------------------

intptr_t MainWindowProc(plat::Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam);
int OnActivateApp(uintptr_t wparam);
int OnWindowMove(intptr_t lparam);
int ForceForegroundWindow(plat::Window* window, int topmost);
int LogMouseClick(int button);
int FreeDroppedFileNames();

// ---- Message pump and lock -------------------------------------------------------------------

void LockLibrary();
void UnlockLibrary();
// Closes the lock's events and forgets it (the library end).
void DeleteLibraryLock();
int PumpWindowMessages();
int WaitWhileInactive();
// Test hooks: the number of threads queued for the lock, and a function
// called at every entry of the pump.
int GetLibraryLockWaiterCount();
void SetPumpObserver(void (*observer)());

// ---- Window mode, size, cursor -----------------------------------------------------------------

// 1 when a display mode has the screen's width and height.
int ScreenSizeIsDisplayMode();
int StoreWindowModeFlag(int flag);
int ApplyWindowStyle();
int FitWindowToClient();
int UpdateCursorVisible(int want);
int GetMouseClientPos(int* x, int* y);
int GetDrawAreaScreenRect(int32_t rect[4]);
int UpdateMenuAutoShow();
int SetMenuVisible(int flag);
int GetMenuItemName(int id, char* out);
int GetToolBarButtonIndex(int id);
int DeleteToolBarButton(int id);
