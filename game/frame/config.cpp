// game/frame/config.cpp - reading, creating and writing the configuration
// file, and the warnings about settings that leave the game unusable.
#include "game/frame/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "game/frame/data_report.h"
#include "game/frame/file_replace.h"
#include "game/frame/file_util.h"

GameConfig g_config;

const uint32_t kDefaultConfigWords[kConfigWords] = {
    65535, 65535, 1, 0, 1, 1, 65535, 65535, 65535, 0, 0, 1, 2, 3, 4, 65535};

const char* const kConfigActionNames[4] = {"shot/decide", "focus/cancel", "bomb", "pause"};

const char kShortConfigNote[] = "shorter than 15 words; the missing settings take their defaults";

namespace {

// Sets the value that word `i` of the file gives.
void ApplyWord(GameConfig& config, int i, uint32_t w) {
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

// The configuration tool of the build the game runs from
// (<build>/tools/quillona-config beside <build>/game/quillona), else its bare
// name.
std::string ConfigToolPath() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const std::filesystem::path tool = self.parent_path().parent_path() / "tools" / "quillona-config";
    if (std::filesystem::is_regular_file(tool, ec)) return tool.string();
  }
  return "quillona-config";
}

// One warning for each action that the player needs and that has no button,
// then the way out, since without those buttons the game cannot leave its
// title.
void WarnUnboundActions(const char* path, const GameConfig& config) {
  bool unbound = false;
  for (int a = 0; a < 4; ++a) {
    const uint32_t button = config.buttons[a];
    if (button >= 1 && button <= 8) continue;
    unbound = true;
    std::fprintf(stderr,
                 "quillona: warning: %s: word %d (%s) is %u, which is no button; "
                 "0 to 7 give pad buttons 1 to 8 (Z X C V A S D F)\n",
                 path, 10 + a, kConfigActionNames[a], button - 1);
  }
  if (!unbound) return;
  std::fprintf(stderr,
               "quillona: warning: to give every action its button back, run %s --defaults, "
               "or delete %s so that the game writes its defaults at its next start\n",
               ConfigToolCommand(path).c_str(), AbsolutePath(path).c_str());
}

// Why the game cannot open a file that is there, and the way out: its mode,
// and its owner when that is another user, who alone may change the mode;
// then the change that lets the game read it (`and_write`: read and write
// it), or deleting it so that the game writes its defaults.
struct WayOut {
  std::string state;   // "its mode is 0200", after the system's reason
  std::string change;  // "run chmod u+r <file>"
};
WayOut WayToTheFile(const char* path, bool and_write) {
  const std::string file = AbsolutePath(path);
  const std::string rewrite = ", or delete " + file + " so that the game writes its defaults at its next start";
  struct stat st {};
  if (::stat(path, &st) != 0) {
    // The file cannot be reached: a folder on its way is shut to the user.
    const std::string folder = std::filesystem::path(file).parent_path().string();
    return {"its folder cannot be searched", "give yourself access to " + folder + " and the folders above it"};
  }
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  if (st.st_uid == ::geteuid()) {
    return {std::string("its mode is ") + mode,
            std::string("run chmod ") + (and_write ? "u+rw " : "u+r ") + file + rewrite};
  }
  return {"it belongs to user id " + std::to_string(st.st_uid) + ", mode " + mode,
          "have root run chown " + std::to_string(::geteuid()) + " " + file + rewrite};
}

}  // namespace

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

int ReadConfigWords(const char* path, uint32_t (&words)[kConfigWords], int* error) {
  std::FILE* f = std::fopen(path, "rb");
  if (error != nullptr) *error = f == nullptr ? errno : 0;
  if (f == nullptr) return -1;
  int n = 0;
  while (n < kConfigWords && ReadU32(f, words[n])) ++n;
  // A folder opens, and its first read fails: that is no short file.
  if (std::ferror(f) && error != nullptr) *error = errno;
  std::fclose(f);
  return n;
}

bool WriteConfigWords(const char* path, const uint32_t (&words)[kConfigWords], std::string& reason) {
  // A missing folder is made rather than giving up: a fresh installation has
  // no "system/" yet.
  std::error_code ec;
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  if (ec) {
    reason = ec.message();
    return false;
  }
  std::vector<unsigned char> bytes;
  for (uint32_t w : words) AppendU32(bytes, w);
  return ReplaceFile(path, bytes, reason);
}

bool LoadOrCreateConfig(const char* path, GameConfig& config, std::string* reason) {
  config = DefaultConfig();
  uint32_t words[kConfigWords] = {};
  int error = 0;
  const int n = ReadConfigWords(path, words, &error);
  if (n >= 0) {
    // Words 0, 1, 6, 7 and 8 are fillers; word 15 is not read. A short file
    // keeps the defaults of the words it lacks.
    for (int i = 0; i < n && i < kConfigWordsRead; ++i) ApplyWord(config, i, words[i]);
    if (error != 0) {
      const std::string what = std::string("cannot be read (") + std::strerror(error) +
                               "); the settings take their defaults";
      ReportFileProblem(path, what.c_str());
    } else if (n < kConfigWordsRead) {
      ReportFileProblem(path, kShortConfigNote);
    }
    WarnUnboundActions(path, config);
    return true;
  }
  // A file that is there and cannot be opened is the player's, with their
  // settings in it: it is never written over. When the game could write it,
  // it is no hindrance to a start on the defaults.
  if (error != ENOENT && error != ENOTDIR) {
    const WayOut out = WayToTheFile(path, false);
    const std::string why = std::string(std::strerror(error)) + "; " + out.state;
    if (::access(path, W_OK) == 0) {
      const std::string what = "cannot be read (" + why +
                               "); the settings take their defaults, and the file is kept: to play on its "
                               "settings, " + out.change;
      ReportFileProblem(path, what.c_str());
      WarnUnboundActions(path, config);
      return true;
    }
    if (reason != nullptr) {
      *reason = std::string("cannot read or create ") + path + " (" + why + "): " + WayToTheFile(path, true).change;
    }
    return false;
  }
  std::string why;
  if (!WriteConfigWords(path, kDefaultConfigWords, why)) {
    if (reason != nullptr) *reason = std::string("cannot read or create ") + path + " (" + why + ")";
    return false;
  }
  if (!why.empty()) ReportUnsyncedWrite(path, why.c_str(), "the default configuration");
  return true;
}

void ReportBadWindowSize(const char* path, uint32_t code) {
  char what[80];
  std::snprintf(what, sizeof what, "window size code %u is not 0 to 4", code);
  ReportFileProblem(path, what);
  std::fprintf(stderr,
               "quillona: to start the game, run %s --window-size N with N from 0 (640x480) to 4 "
               "(1600x1200), or --defaults, or delete %s so that the game writes its defaults at its next start\n",
               ConfigToolCommand(path).c_str(), AbsolutePath(path).c_str());
}

std::string ConfigToolCommand(const char* path) {
  return ConfigToolPath() + " --file " + AbsolutePath(path);
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

WindowPixels WindowPixelsForSizeCode(uint32_t code) {
  const double scale = std::max(1.0, WindowScaleForSizeCode(code));
  return WindowPixels{static_cast<int>(640 * scale), static_cast<int>(480 * scale)};
}
