// tools/quillona_config/quillona_config.cpp - quillona-config: shows and sets
// the words of the game's configuration file "system/config.hsd", writing the
// same sixteen-word file that the game writes.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "game/frame/config.h"

namespace {

constexpr char kUsage[] =
    "usage: quillona-config [--file PATH] [SETTING VALUE]...\n"
    "Shows the game's configuration file and sets its words. The default file\n"
    "is game-data/system/config.hsd beside the build folder this tool is in,\n"
    "which is where ./play.sh has the game read it.\n"
    "A missing file starts from the game's defaults.\n"
    "  --full-screen on|off     word 2: full screen, or a window\n"
    "  --vsync on|off           word 3: wait for the vertical blank\n"
    "  --colour-depth 16|32     word 5\n"
    "  --window-size 0-4        word 9: 640x480, 960x720, 1024x768, 1280x960, 1600x1200\n"
    "  --shot N, --focus N, --bomb N, --pause N, --button5 N\n"
    "                           words 10-14: pad button 1-8 (keys Z X C V A S D F),\n"
    "                           or 'none'\n"
    "  --defaults               every word back to the game's default, then the\n"
    "                           settings given, wherever they stand\n";

constexpr const char* kKeys = "ZXCVASDF";

// Every setting and the values it takes, as the refusals name them.
struct Setting {
  const char* option;
  const char* values;
};
constexpr char kButtonValues[] = "1 to 8 (pad buttons, keys Z X C V A S D F) or none";
constexpr Setting kSettings[] = {
    {"--full-screen", "on or off"}, {"--vsync", "on or off"}, {"--colour-depth", "16 or 32"},
    {"--window-size", "0 to 4 (640x480, 960x720, 1024x768, 1280x960, 1600x1200)"},
    {"--shot", kButtonValues},      {"--focus", kButtonValues},  {"--bomb", kButtonValues},
    {"--pause", kButtonValues},     {"--button5", kButtonValues}};

// The pad-button settings and their words.
struct ButtonSetting {
  const char* option;
  int word;
};
constexpr ButtonSetting kButtonSettings[] = {
    {"--shot", 10}, {"--focus", 11}, {"--bomb", 12}, {"--pause", 13}, {"--button5", 14}};

// The setting named `option`, or null.
const Setting* FindSetting(const char* option) {
  for (const Setting& s : kSettings) {
    if (std::strcmp(option, s.option) == 0) return &s;
  }
  return nullptr;
}

// One line a setting, in the terms the options take, so that what is shown
// can be typed back: "--bomb 3", not the file's zero-based word.
void ShowLine(const std::string& typed, const std::string& note, int word) {
  std::printf("  %-20s %-36s word %d\n", typed.c_str(), note.c_str(), word);
}

void ShowButton(const char* option, int word, uint32_t value, const char* note) {
  if (value <= 7) {
    std::string what = std::string("key ") + kKeys[value];
    if (note[0] != '\0') what = what + ", " + note;
    ShowLine(std::string(option) + " " + std::to_string(value + 1), what, word);
  } else {
    ShowLine(std::string(option) + " none", note, word);
  }
}

void Show(const char* path, const uint32_t (&w)[kConfigWords]) {
  std::printf("%s:\n", path);
  ShowLine(w[2] == 1 ? "--full-screen off" : "--full-screen on", w[2] == 1 ? "a window" : "full screen", 2);
  ShowLine(w[3] == 1 ? "--vsync on" : "--vsync off", "", 3);
  ShowLine(w[5] == 1 ? "--colour-depth 32" : "--colour-depth 16", "", 5);
  const double scale = WindowScaleForSizeCode(w[9]);
  const std::string size = "--window-size " + std::to_string(w[9]);
  if (scale < 0.0) {
    ShowLine(size, "not 0-4: the game stops in a window", 9);
  } else {
    const WindowPixels pixels = WindowPixelsForSizeCode(w[9]);
    ShowLine(size, std::to_string(pixels.width) + " x " + std::to_string(pixels.height), 9);
  }
  for (int a = 0; a < 5; ++a) {
    const ButtonSetting& b = kButtonSettings[a];
    ShowButton(b.option, b.word, w[b.word], a == 4 ? "no action uses it" : "");
  }
}

bool OnOff(const char* text, uint32_t& out) {
  if (std::strcmp(text, "on") == 0) out = 1;
  else if (std::strcmp(text, "off") == 0) out = 0;
  else return false;
  return true;
}

// A whole decimal number from `low` to `high`.
bool Number(const char* text, uint32_t low, uint32_t high, uint32_t& out) {
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0' || text[0] == '-' || v < low || v > high) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

// Applies one setting and its value to the words; false when the setting
// does not take the value (or there is no such setting).
bool Apply(const char* option, const char* value, uint32_t (&w)[kConfigWords]) {
  uint32_t v = 0;
  if (std::strcmp(option, "--full-screen") == 0) {
    if (!OnOff(value, v)) return false;
    w[2] = v == 1 ? 0 : 1;
    return true;
  }
  if (std::strcmp(option, "--vsync") == 0) return OnOff(value, w[3]);
  if (std::strcmp(option, "--colour-depth") == 0) {
    if (std::strcmp(value, "32") != 0 && std::strcmp(value, "16") != 0) return false;
    w[5] = std::strcmp(value, "32") == 0 ? 1 : 0;
    return true;
  }
  if (std::strcmp(option, "--window-size") == 0) return Number(value, 0, 4, w[9]);
  for (const ButtonSetting& s : kButtonSettings) {
    if (std::strcmp(option, s.option) != 0) continue;
    if (std::strcmp(value, "none") == 0) {
      w[s.word] = kDefaultConfigWords[15];
      return true;
    }
    if (!Number(value, 1, 8, v)) return false;
    w[s.word] = v - 1;
    return true;
  }
  return false;
}

// The file that ./play.sh has the game read: play.sh runs the game in
// game-data/ beside its build folder, the folder of CMakeCache.txt above
// this program. Empty when the program is not in such a build.
std::string PlayConfigPath() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return std::string();
  for (fs::path folder = self.parent_path(); folder.has_relative_path(); folder = folder.parent_path()) {
    if (!fs::is_regular_file(folder / "CMakeCache.txt", ec)) continue;
    const fs::path top = folder.parent_path();
    if (!fs::is_regular_file(top / "play.sh", ec)) return std::string();
    return (top / "game-data" / kConfigPath).string();
  }
  return std::string();
}

// One setting of the command line, checked before the file is read.
struct Request {
  const char* option;
  const char* value;
};

}  // namespace

int main(int argc, char** argv) {
  const char* path = nullptr;
  uint32_t words[kConfigWords] = {};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  // Every setting is checked before any is applied, so that a wrong one,
  // wherever it stands, leaves the file as it was.
  std::vector<Request> requests;
  bool defaults = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--file") == 0) {
      if (i + 1 >= argc) {
        std::fputs("quillona-config: --file needs a value: the path of the configuration file\n", stderr);
        return 2;
      }
      path = argv[++i];
      continue;
    }
    if (std::strcmp(argv[i], "--defaults") == 0) {
      defaults = true;
      continue;
    }
    const Setting* setting = FindSetting(argv[i]);
    if (setting == nullptr) {
      std::fprintf(stderr, "quillona-config: %s: no such setting\n%s", argv[i], kUsage);
      return 2;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "quillona-config: %s needs a value: %s\n", argv[i], setting->values);
      return 2;
    }
    if (!Apply(argv[i], argv[i + 1], words)) {
      std::fprintf(stderr, "quillona-config: %s does not take %s; it takes %s\n", argv[i], argv[i + 1],
                   setting->values);
      return 2;
    }
    requests.push_back({argv[i], argv[i + 1]});
    ++i;
  }
  const std::string play_path = PlayConfigPath();
  if (path == nullptr && play_path.empty()) {
    std::fputs("quillona-config: this program is not in a build beside ./play.sh, so it cannot tell which "
               "configuration file the game reads; name it with --file PATH (the game reads system/config.hsd "
               "in the folder it runs in)\n",
               stderr);
    return 2;
  }
  if (path == nullptr) path = play_path.c_str();
  std::memcpy(words, kDefaultConfigWords, sizeof words);
  // With --defaults the file's words are not read: the settings given go on
  // top of the defaults wherever --defaults stands, since the line asks for
  // both. A file that is there but cannot be read is not written over.
  int read = -1;
  if (!defaults) {
    int error = 0;
    read = ReadConfigWords(path, words, &error);
    if (error != 0 && (read >= 0 || error != ENOENT)) {
      std::fprintf(stderr, "quillona-config: cannot read %s (%s)\n", path, std::strerror(error));
      return 1;
    }
    if (read >= 0 && read < kConfigWordsRead) {
      std::fprintf(stderr, "quillona-config: %s: %s\n", path, kShortConfigNote);
    }
  }
  for (const Request& r : requests) Apply(r.option, r.value, words);
  const bool change = defaults || !requests.empty();
  if (change) {
    std::string reason;
    if (!WriteConfigWords(path, words, reason)) {
      std::fprintf(stderr, "quillona-config: cannot write %s (%s)\n", path, reason.c_str());
      return 1;
    }
    if (!reason.empty()) {
      std::fprintf(stderr,
                   "quillona-config: warning: %s is written, but its folder could not be synced (%s); it may "
                   "not survive a power cut\n",
                   path, reason.c_str());
    }
  } else if (read < 0) {
    std::printf("%s does not exist yet; the game writes these defaults at its first start.\n", path);
  }
  Show(path, words);
  return 0;
}
