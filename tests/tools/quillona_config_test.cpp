// quillona-config as a player runs it: the words it writes are the game's
// sixteen-word file, which the game then reads as set; a wrong setting
// changes nothing.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "game/frame/config.h"
#include "tests/support/as_user.h"
#include "tests/support/scratch_dir.h"

namespace {

using testsupport::ScratchDir;

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string kTool = RORUD_BINARY_DIR "/tools/quillona-config";

// The tool's exit status with the arguments as given; its output streams in
// `out` and `err` when given. `tool`: a copy of it elsewhere.
int RunToolAsIs(const ScratchDir& dir, const std::string& arguments, std::string* err, std::string* out,
                const std::string& tool = kTool) {
  const std::string command = tool + " " + arguments + " >" + (dir / "out.txt") + " 2>" + (dir / "err.txt");
  const int status = std::system(command.c_str());
  if (err != nullptr) *err = Slurp(dir / "err.txt");
  if (out != nullptr) *out = Slurp(dir / "out.txt");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The same on the scratch folder's configuration file.
int RunTool(const ScratchDir& dir, const std::string& arguments, std::string* err = nullptr,
            std::string* out = nullptr, const std::string& tool = kTool) {
  return RunToolAsIs(dir, "--file " + (dir / "system/config.hsd") + " " + arguments, err, out, tool);
}

std::vector<uint32_t> Words(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint32_t> words;
  unsigned char b[4];
  while (in.read(reinterpret_cast<char*>(b), 4)) {
    words.push_back(b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24);
  }
  return words;
}

TEST(QuillonaConfig, WritesTheGamesFileAndRefusesWrongSettings) {
  ScratchDir dir;
  const std::string file = dir / "system/config.hsd";
  ASSERT_EQ(RunTool(dir, "--window-size 2 --full-screen off --vsync on --colour-depth 16 --bomb 6 --pause none"),
            0);
  // The defaults (65535, 65535, 1, 0, 1, 1, 65535 x 3, 0, 0, 1, 2, 3, 4,
  // 65535) with the words set.
  const std::vector<uint32_t> expected = {65535, 65535, 1, 1, 1, 0, 65535, 65535,
                                          65535, 2, 0, 1, 5, 65535, 4, 65535};
  EXPECT_EQ(Words(file), expected);
  GameConfig c{};
  ASSERT_TRUE(LoadOrCreateConfig(file.c_str(), c));
  EXPECT_EQ(c.window_mode, 1);
  EXPECT_EQ(c.vsync, 1);
  EXPECT_EQ(c.color32, 0);
  EXPECT_EQ(c.size_code, 2u);
  EXPECT_EQ(c.buttons[2], 6u);
  // A refusal says whether the setting or its value is wrong, and which
  // values the setting takes.
  std::string err;
  EXPECT_EQ(RunTool(dir, "--window-size 5", &err), 2);
  EXPECT_EQ(err,
            "quillona-config: --window-size does not take 5; it takes 0 to 4 (640x480, 960x720, 1024x768, "
            "1280x960, 1600x1200)\n");
  EXPECT_EQ(RunTool(dir, "--bomb 9", &err), 2);
  EXPECT_EQ(err,
            "quillona-config: --bomb does not take 9; it takes 1 to 8 (pad buttons, keys Z X C V A S D F) or "
            "none\n");
  EXPECT_EQ(RunTool(dir, "--full-screen", &err), 2);
  EXPECT_EQ(err, "quillona-config: --full-screen needs a value: on or off\n");
  EXPECT_EQ(RunTool(dir, "--bmob 3", &err), 2);
  EXPECT_EQ(err.rfind("quillona-config: --bmob: no such setting\nusage: quillona-config", 0), 0u) << err;
  EXPECT_EQ(Words(file), expected);
  EXPECT_EQ(RunTool(dir, "--defaults"), 0);
  EXPECT_EQ(Words(file), std::vector<uint32_t>(kDefaultConfigWords, kDefaultConfigWords + kConfigWords));
}

// --file and --help stand anywhere; each setting is listed as its option
// takes it, so a line can be typed back; a short file is named in the
// game's words.
TEST(QuillonaConfig, TakesItsOptionsAnywhereAndListsWhatCanBeTypedBack) {
  ScratchDir dir;
  const std::string file = dir / "system/config.hsd";
  std::string err;
  std::string out;
  ASSERT_EQ(RunToolAsIs(dir, "--bomb 2 --focus none --file " + file, &err, &out), 0) << err;
  EXPECT_EQ(Words(file)[12], 1u);
  EXPECT_EQ(out, file + ":\n"
                 "  --full-screen off    a window                             word 2\n"
                 "  --vsync off                                               word 3\n"
                 "  --colour-depth 32                                         word 5\n"
                 "  --window-size 0      640 x 480                            word 9\n"
                 "  --shot 1             key Z                                word 10\n"
                 "  --focus none                                              word 11\n"
                 "  --bomb 2             key X                                word 12\n"
                 "  --pause 4            key V                                word 13\n"
                 "  --button5 5          key A, no action uses it             word 14\n");
  EXPECT_EQ(RunToolAsIs(dir, "--file " + file + " --help", &err, &out), 0);
  EXPECT_EQ(out.rfind("usage: quillona-config [--file PATH]", 0), 0u) << out;
  EXPECT_EQ(RunTool(dir, "--vsync on --bomb 9 --help", &err, &out), 0);
  EXPECT_EQ(Words(file)[3], 0u);
  dir.Write("system/config.hsd", std::string(8, '\0'));
  EXPECT_EQ(RunTool(dir, "", &err), 0);
  EXPECT_EQ(err, "quillona-config: " + file + ": " + kShortConfigNote + "\n");
}

// --defaults and settings on one line give the defaults with those settings,
// in either order, and leave the file's words unread (an empty file is not
// called short); a folder given as the file is named as such, untouched; a
// window size code the game refuses keeps the listing's columns.
TEST(QuillonaConfig, DefaultsTakeTheSettingsAndOddFilesAreNamedForWhatTheyAre) {
  ScratchDir dir;
  const std::string file = dir / "system/config.hsd";
  std::vector<uint32_t> expected(kDefaultConfigWords, kDefaultConfigWords + kConfigWords);
  expected[12] = 4;
  std::string err;
  std::string out;
  for (const char* line : {"--bomb 5 --defaults", "--defaults --bomb 5"}) {
    dir.Write("system/config.hsd", "");
    ASSERT_EQ(RunTool(dir, line, &err), 0) << line;
    EXPECT_EQ(err, "") << line;
    EXPECT_EQ(Words(file), expected) << line;
  }
  const std::string folder = dir / "folder";
  std::filesystem::create_directories(folder);
  for (const std::string& line : {"--file " + folder, "--vsync on --file " + folder}) {
    EXPECT_EQ(RunToolAsIs(dir, line, &err, &out), 1) << line;
    EXPECT_EQ(err, std::string("quillona-config: cannot read ").append(folder).append(" (Is a directory)\n"));
    EXPECT_EQ(out, "") << line;
  }
  std::string bytes;
  for (int i = 0; i < kConfigWords; ++i) {
    const uint32_t w = i == 9 ? 7 : kDefaultConfigWords[i];
    for (int b = 0; b < 32; b += 8) bytes += static_cast<char>(w >> b);
  }
  dir.Write("system/config.hsd", bytes);
  ASSERT_EQ(RunTool(dir, "", &err, &out), 0) << err;
  EXPECT_NE(out.find("\n  --window-size 7      not 0-4: the game stops in a window  word 9\n"
                     "  --shot 1             key Z                                word 10\n"),
            std::string::npos)
      << out;
}

// A file the player cannot read holds settings the tool cannot show or keep:
// a setting is refused and the file keeps its bytes. Run as an ordinary
// user, for whom the file's mode (0200) counts, with a copy of the tool in a
// folder the user can reach wherever the build is.
TEST(QuillonaConfig, AnUnreadableFileIsNotWrittenOver) {
  ScratchDir dir(testsupport::UnprivilegedTempFolder());
  const std::string file = dir / "system/config.hsd";
  const std::string mine(64, '\x05');
  dir.Write("system/config.hsd", mine);
  const std::string tool = testsupport::CopyForUnprivilegedUser(kTool, dir.path());
  ASSERT_NE(tool, "");
  testsupport::GiveToUnprivilegedUser(dir.path());
  std::filesystem::permissions(file, std::filesystem::perms::owner_write);
  const testsupport::AsUserResult run = testsupport::RunAsUnprivilegedUser([&dir, &tool](std::string& text) {
    return RunTool(dir, "--vsync on", &text, nullptr, tool);
  });
  RORUD_SKIP_UNLESS_RAN(run);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.text, "quillona-config: cannot read " + file + " (Permission denied)\n");
  std::filesystem::permissions(file, std::filesystem::perms::owner_read);
  EXPECT_EQ(Slurp(file), mine);
}

// Without --file the tool works on the file the game reads when ./play.sh
// starts it: game-data/system/config.hsd beside the build folder. A tool
// outside such a build asks for --file rather than guess.
TEST(QuillonaConfig, WithoutAFileItUsesTheFolderPlayShGivesTheGame) {
  ScratchDir dir;
  namespace fs = std::filesystem;
  fs::create_directories(dir.path() / "build/tools");
  fs::copy_file(fs::path(RORUD_BINARY_DIR) / "tools/quillona-config", dir.path() / "build/tools/quillona-config");
  dir.Write("build/CMakeCache.txt", "");
  const std::string run = "cd / && " + (dir / "build/tools/quillona-config") + " --vsync on >/dev/null 2>" +
                          (dir / "err.txt");
  int status = std::system(run.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
  std::ifstream err(dir / "err.txt");
  EXPECT_NE(std::string(std::istreambuf_iterator<char>(err), {}).find("name it with --file PATH"),
            std::string::npos);
  dir.Write("play.sh", "");
  status = std::system(run.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::vector<uint32_t> words = Words(dir / "game-data/system/config.hsd");
  ASSERT_EQ(words.size(), 16u);
  EXPECT_EQ(words[3], 1u);
}

}  // namespace
