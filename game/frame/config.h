// game/frame/config.h - the configuration file "system/config.hsd": sixteen
// little-endian 32-bit words (window mode, vertical sync, colour depth, window
// size code, five pad-button assignments).
#pragma once

#include <cstdint>
#include <string>

struct GameConfig {
  uint8_t window_mode;   // 1 window, 0 full screen
  uint8_t vsync;
  uint8_t reserved;      // read and tested, no effect
  uint8_t color32;       // 1 32-bit colour, else 16-bit
  uint32_t size_code;    // 0 unscaled, 1 to 4 a window scale
  uint32_t buttons[5];   // one-based pad button per action; other values: none
};

extern GameConfig g_config;

inline constexpr char kConfigPath[] = "system/config.hsd";
inline constexpr int kConfigWords = 16;
extern const uint32_t kDefaultConfigWords[kConfigWords];

GameConfig DefaultConfig();
// The names of actions 0 to 3, as the warnings give them.
extern const char* const kConfigActionNames[4];
// What the game and the configuration tool say of a file too short for the
// words the game reads, after the file's name.
extern const char kShortConfigNote[];
inline constexpr int kConfigWordsRead = 15;

// Reads the file at `path`, or, when there is none, creates its folder and
// writes the sixteen default words there. A file that is there but cannot
// be read is kept as it is: while the game could write it, the settings
// take their defaults with a line that says why and how to get at it. False
// only when the file can neither be read nor created; then `reason`, when
// given, is the line for the player without its "quillona: ": the file, the
// system's reason and, for a file that is there, the way out. A new file
// whose folder could not be synced is named with a line. A file too short
// for some words leaves those words at their defaults. Each of actions 0 to
// 3 left without a pad button gets a warning naming its word.
bool LoadOrCreateConfig(const char* path, GameConfig& config, std::string* reason = nullptr);
// The words of the file, as many as it holds up to sixteen; -1 when it does
// not open. `error`, when given, is the system's error number when it does
// not open or a read fails (a folder), else 0.
int ReadConfigWords(const char* path, uint32_t (&words)[kConfigWords], int* error = nullptr);
// Writes the sixteen words whole (a failure keeps the old file), making the
// folder when needed; on failure `reason` holds the system's reason. On
// success `reason` is empty, or says why the folder could not be synced
// (the file is written but may not survive a power cut).
bool WriteConfigWords(const char* path, const uint32_t (&words)[kConfigWords], std::string& reason);
// "quillona: <path>: window size code <code> is not 0 to 4", then the way
// out: the configuration tool's options that set it, or deleting the file.
void ReportBadWindowSize(const char* path, uint32_t code);
// The configuration tool on the file, as a player would type it from any
// folder: "<tool> --file <absolute path>".
std::string ConfigToolCommand(const char* path);
// The window scale of a size code: 0 for code 0, -1 for an invalid code.
double WindowScaleForSizeCode(uint32_t code);
// The window of a size code in pixels: the 640 x 480 screen at its scale,
// unscaled for code 0 and for an invalid code.
struct WindowPixels {
  int width;
  int height;
};
WindowPixels WindowPixelsForSizeCode(uint32_t code);
