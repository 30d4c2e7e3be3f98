// game/frame/config.cpp - reading and creating the configuration file.
#include "game/frame/config.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "game/frame/data_report.h"
#include "game/frame/file_util.h"

GameConfig g_config;

const uint32_t kDefaultConfigWords[kConfigWords] = {
    65535, 65535, 1, 0, 1, 1, 65535, 65535, 65535, 0, 0, 1, 2, 3, 4, 65535};

GameConfig DefaultConfig() {
  GameConfig c{};
  c.window_mode = 1;
  c.vsync = 0;
  c.reserved = 1;
  c.color32 = 1;
  c.size_code = 0;
  for (int i = 0; i < 5; ++i) c.buttons[i] = static_cast<uint32_t>(i + 1);
  return c;
}

bool LoadOrCreateConfig(const char* path, GameConfig& config) {
  config = DefaultConfig();
  if (std::FILE* f = std::fopen(path, "rb")) {
    uint32_t w = 0;
    // Words 0, 1, 6, 7 and 8 are fillers; word 15 is not read. A short file
    // keeps the defaults of the words it lacks.
    for (int i = 0; i < 15; ++i) {
      if (!ReadU32(f, w)) {
        ReportFileProblem(path, "shorter than 15 words; the missing settings take their defaults");
        break;
      }
      switch (i) {
        case 2: config.window_mode = w == 1; break;
        case 3: config.vsync = w == 1; break;
        case 4: config.reserved = w == 1; break;
        case 5: config.color32 = w == 1; break;
        case 9: config.size_code = w; break;
        case 10: case 11: case 12: case 13: case 14:
          config.buttons[i - 10] = w + 1;
          break;
        default: break;
      }
    }
    std::fclose(f);
    return true;
  }
  // A missing folder is made rather than giving up: a fresh installation has
  // no "system/" yet.
  std::error_code ec;
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return false;
  bool ok = true;
  for (uint32_t w : kDefaultConfigWords) ok = WriteU32(out, w) && ok;
  ok = std::fclose(out) == 0 && ok;
  return ok;
}

double WindowScaleForSizeCode(uint32_t code) {
  switch (code) {
    case 0: return 0.0;
    case 1: return 1.5;
    case 2: return 1.6;
    case 3: return 2.0;
    case 4: return 2.5;
    default: return -1.0;
  }
}
