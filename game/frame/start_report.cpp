// game/frame/start_report.cpp - the message when the library does not start.
#include "game/frame/start_report.h"

#include <cerrno>

#include "platform/window/window.h"
#include "rorud/rorud.h"

std::string LibraryStartFailureText(const char* title) {
  // Read first: the look-ups below may change it.
  const bool out_of_memory = errno == ENOMEM;
  // The library refuses a second copy when the window class is held by
  // another process, which the system reports as a foreign window.
  plat::Window* holder = plat::FindWindow(title);
  if (holder != nullptr && holder == plat::ForeignWindow()) {
    return "quillona: another copy of the game is running (it holds the lock " + plat::WindowLockPath(title) +
           "); close it first\n";
  }
  const std::string lock = plat::WindowLockProblem();
  if (!lock.empty()) {
    return "quillona: the game's lock cannot be kept safely: " + lock +
           ". Remove it, or set XDG_RUNTIME_DIR to a folder of your own, and start again\n";
  }
  const std::string display = plat::DisplayProblem();
  if (display.rfind("no display", 0) == 0) {
    return "quillona: cannot open the game's window: " + display +
           ". Start it from a desktop session, or set RORUD_PLATFORM=headless for a run without a screen\n";
  }
  // A display that cannot give the window a renderer (short of memory, as a
  // rule): the reason as SDL gives it.
  if (!display.empty()) return "quillona: cannot open the game's window: " + display + "\n";
  return out_of_memory ? "quillona: the library did not start (out of memory)\n"
                       : "quillona: the library did not start\n";
}

std::string WindowInsteadOfFullScreenText(bool full_screen_asked) {
  if (!full_screen_asked) return std::string();
  // The library's own rule: full screen only in a display mode of the
  // screen's size, else a window without a word.
  const int count = GetDisplayModeCount();
  for (int i = 0; i < count; ++i) {
    DisplayModeRecord mode{};
    GetDisplayModeRecord(&mode, i);
    if (mode.width == 640 && mode.height == 480) return std::string();
  }
  return "quillona: the game plays in a window: full screen needs a 640 x 480 display mode, which this "
         "display does not offer\n";
}
