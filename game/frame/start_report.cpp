// game/frame/start_report.cpp - the message when the library does not start,
// and the lines about a window other than the one the settings ask for.
#include "game/frame/start_report.h"

#include <cerrno>

#include "game/frame/config.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"

std::string LibraryStartFailureText(const char* title) {
  // Read first: the look-ups below may change it.
  const bool out_of_memory = errno == ENOMEM;
  // The library refuses a second copy when the window class is held by
  // another process, which the system reports as a foreign window; a lock
  // file that cannot be locked at all is no such window. A copy that held
  // the lock when this start's double-start check or window met it, and has
  // ended since, stopped it all the same.
  std::string held = plat::WindowLockHolder();
  if (held.empty() && plat::FindWindow(title) == plat::ForeignWindow()) held = plat::WindowLockPath(title);
  if (!held.empty()) {
    return "quillona: another copy of the game is running (it holds the lock " + held + "); close it first\n";
  }
  const std::string lock = plat::WindowLockProblem();
  if (!lock.empty()) {
    return "quillona: the game's lock cannot be kept safely: " + lock + ", and start again\n";
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

std::string WindowLargerThanDisplayText(bool window_mode, uint32_t size_code, const char* config_path) {
  const double scale = WindowScaleForSizeCode(size_code);
  if (!window_mode || scale <= 0.0) return std::string();
  int display_width = 0;
  int display_height = 0;
  plat::GetDesktopSize(&display_width, &display_height);
  if (display_width <= 0 || display_height <= 0) return std::string();
  // The window as the library scales the 640 x 480 screen; the system does
  // not shrink a window to the display.
  const auto width = [](uint32_t code) { return WindowPixelsForSizeCode(code).width; };
  const auto height = [](uint32_t code) { return WindowPixelsForSizeCode(code).height; };
  const auto fits = [&](uint32_t code) { return width(code) <= display_width && height(code) <= display_height; };
  if (fits(size_code)) return std::string();
  uint32_t best = 0;
  for (uint32_t code = 1; code < size_code; ++code) {
    if (fits(code)) best = code;
  }
  const auto size = [&](uint32_t code) { return std::to_string(width(code)) + " x " + std::to_string(height(code)); };
  return "quillona: the " + size(size_code) + " window is larger than the " + std::to_string(display_width) + " x " +
         std::to_string(display_height) + " display, which cuts it off; run " + ConfigToolCommand(config_path) +
         " --window-size " + std::to_string(best) + " for a " + size(best) + " window, " +
         (fits(best) ? "the largest that fits" : "the smallest") + "\n";
}
