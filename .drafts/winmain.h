// game/winmain.h - the program's start-up.
#pragma once

#include <cstdint>

enum class InitResult { kReady, kNoConfig, kNoLibrary };

// Reads the configuration, configures and starts the library, maps the keys,
// creates the fonts, clears the tables and reads the record file.
InitResult InitGame();

// The six fonts of "ＭＳ ゴシック", by size.
enum FontIndex { kFont13, kFont16, kFont20, kFont21, kFont24, kFont32, kFontCount };
extern int32_t g_fonts[kFontCount];
