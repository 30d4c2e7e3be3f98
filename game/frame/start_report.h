// game/frame/start_report.h - why the library did not start, in words a
// player can act on.
#pragma once

#include <cstdint>
#include <string>

// The message for a library start that failed, for the window titled
// `title`: another copy holds the window (and where its lock is), the lock
// folder is not the user's alone or its locks do not work (and what is
// wrong with it, and the way out), no display
// can show the window (and how to run without one), SDL could not make the
// window or its renderer (and SDL's reason), or, when none is the cause,
// that the library did not start. Ends with a line feed.
std::string LibraryStartFailureText(const char* title);

// The line that tells the player why the game plays in a window when full
// screen was asked (no 640 x 480 display mode, so the library made a window
// instead); empty when full screen was not asked or can be had.
std::string WindowInsteadOfFullScreenText(bool full_screen_asked);

// The line that tells the player the window of the size code in the
// configuration file at `config_path` is larger than the display, which cuts
// it off: the display's size and the tool's setting for a window that fits.
// Empty in full screen, for a window that fits, and when the display's size
// is not known.
std::string WindowLargerThanDisplayText(bool window_mode, uint32_t size_code, const char* config_path);
