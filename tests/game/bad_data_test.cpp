// Bad data through the whole game: every file of the data set in turn cut
// short, emptied, filled with random bytes or replaced by a file of another
// kind, then the game started and run through the scene that loads it. An
// image must stop the game with its tag and a message naming the file; a
// sound or music file must leave play going on, with one warning naming the
// file when it did not load. The configuration, record and replay files get
// the same treatment: a bad replay is refused with a message and the title
// stays usable.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "game/frame/config.h"
#include "game/frame/file_replace.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/resource_tables.h"
#include "game/objects/resources.h"
#include "game/stages/stage_script.h"
#include "game/winmain.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"
#include "tests/support/sjis.h"

namespace {

namespace fs = std::filesystem;

enum class Damage { kTruncated, kEmpty, kRandom, kOtherKind };

const char* Name(Damage d) {
  switch (d) {
    case Damage::kTruncated: return "truncated";
    case Damage::kEmpty: return "empty";
    case Damage::kRandom: return "random bytes";
    case Damage::kOtherKind: return "another kind of file";
  }
  return "";
}

std::vector<char> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& p, const std::vector<char>& bytes) {
  fs::create_directories(p.parent_path().empty() ? fs::path(".") : p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The damaged form of a file; `other` is a file of another kind.
std::vector<char> Damaged(const std::vector<char>& good, Damage d, const std::vector<char>& other,
                          uint32_t seed) {
  switch (d) {
    case Damage::kTruncated: return std::vector<char>(good.begin(), good.begin() + good.size() / 2);
    case Damage::kEmpty: return {};
    case Damage::kRandom: {
      std::mt19937 gen(seed);
      std::vector<char> bytes(good.size());
      for (char& b : bytes) b = static_cast<char>(gen());
      return bytes;
    }
    case Damage::kOtherKind: return other;
  }
  return {};
}

fs::path DataFolder() { return fs::path(RORUD_BINARY_DIR) / "data"; }

// The game's sheets: file and the tag its failure raises.
struct Sheet {
  std::string file;
  std::string tag;
};
std::vector<Sheet> AllSheets() {
  std::vector<Sheet> sheets = {{"grp/stm0x.png", "stm0a"}, {"grp/stm1x.png", "stm1a"}};
  for (const SheetDef& s : kCommonSheets) sheets.push_back({s.file, s.tag});
  for (const SheetDef& s : kPlayerSheets) sheets.push_back({s.file, s.tag});
  for (const SheetDef& s : kPartnerSheets) sheets.push_back({s.file, s.tag});
  for (const SheetDef& s : kStageSheetsA) sheets.push_back({s.file, s.tag});
  for (const SheetDef& s : kStageSheetsB) sheets.push_back({s.file, s.tag});
  return sheets;
}

bool AtTitleMenu() { return g_game.levels[kLevelScene] == kSceneTitle && g_game.levels[kLevelPhase] == 3; }

// Frames until the title menu shows, the game stops or the limit is reached.
void RunToTitleMenu() {
  for (int f = 0; f < 600 && g_stop_flag == 0 && !AtTitleMenu(); ++f) gametest::LogicFrame();
}

// The number of lines of the text that hold the part.
int CountLines(const std::string& text, const std::string& part) {
  int n = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.substr(start, end - start).find(part) != std::string::npos) ++n;
    start = end + 1;
  }
  return n;
}

class WholeGameBadData : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(DataFolder() / "grp" / "stm0x.png")) GTEST_SKIP() << "no data set";
    plat::SetWindowLockFolder(scratch_.path().string());
    plat::EnableVirtualClock(true);
    plat::SetVirtualClockMicros(5'000'000);
    plat::SetVirtualClockAutoAdvance(1);
  }
  void TearDown() override {
    LibraryEnd();
    plat::SetVirtualClockAutoAdvance(0);
  }

  // A working folder whose data set links to the generated one, except for
  // the file given, which holds the bytes given. The game's own files of the
  // previous run are removed.
  void MakeDataSet(const std::string& bad_file, const std::vector<char>& bytes) {
    for (const char* sub : {"grp", "se", "bgm", "system", "replay"}) fs::remove_all(sub);
    fs::remove("rec.hsd");
    for (const char* sub : {"grp", "se", "bgm"}) {
      fs::create_directories(sub);
      for (const auto& entry : fs::directory_iterator(DataFolder() / sub)) {
        const std::string name = std::string(sub) + "/" + entry.path().filename().string();
        if (name != bad_file) fs::create_symlink(entry.path(), name);
      }
    }
    if (!bad_file.empty()) WriteAll(bad_file, bytes);
  }

  // Starts the game afresh with stderr captured.
  void StartGame() {
    LibraryEnd();
    gametest::ResetGameGlobals();
    ::testing::internal::CaptureStderr();
    capturing_ = true;
    ASSERT_EQ(InitGame(), InitResult::kReady);
    g_game.levels[kLevelScene] = kSceneBoot;
  }
  std::string StopCapture() {
    capturing_ = false;
    return ::testing::internal::GetCapturedStderr();
  }
  // Runs the whole program from its start, past the logo, until it stops;
  // returns what it wrote on stderr.
  std::string RunWholeProgram(int* status) {
    ::testing::internal::CaptureStderr();
    capturing_ = true;
    gametest::ResetGameGlobals();
    plat::HeadlessSetKey('Z', true);  // past the logo at once
    *status = WinMain();
    plat::HeadlessSetKey('Z', false);
    return StopCapture();
  }

  // Loads a file that the boot and title scenes do not load through the
  // game loader that owns it, then plays a few frames.
  static void LoadLater(const std::string& file) {
    for (int k = 0; k < 2; ++k) {
      if (file == kPlayerSheets[k].file) LoadPlayerGraphics(k + 1, 1);
      if (file == kPartnerSheets[k].file) LoadPlayerGraphics(1, k + 1);
    }
    for (int n = 0; n < 5; ++n) {
      if (file == kStageSheetsA[n].file || file == kStageSheetsB[n].file) LoadStageGraphics(n + 1);
    }
    if (file.rfind("bgm/", 0) == 0 && file != "bgm/op1.mp3") {
      LoadBgm(g_bgm_music, file.c_str(), 0);
      PlayBgm(g_bgm_music);
    }
    for (int f = 0; f < 30 && g_stop_flag == 0; ++f) gametest::LogicFrame();
  }

  // Every data file damaged in one way, one run of the game each.
  void DamageEveryDataFile(Damage damage) {
    const std::vector<char> a_png = ReadAll(DataFolder() / "grp" / "stm0x.png");
    const std::vector<char> a_wave = ReadAll(DataFolder() / "se" / "at1.wav");
    const std::vector<Sheet> sheets = AllSheets();
    uint32_t seed = 1;
    int runs = 0;
    for (const char* sub : {"grp", "se", "bgm"}) {
      for (const auto& entry : fs::directory_iterator(DataFolder() / sub)) {
        const std::string file = std::string(sub) + "/" + entry.path().filename().string();
        const bool image = file.rfind("grp/", 0) == 0;
        const std::vector<char> good = ReadAll(entry.path());
        const std::vector<char> bytes = Damaged(good, damage, image ? a_wave : a_png, seed++);
        SCOPED_TRACE(file + " " + Name(damage));
        MakeDataSet(file, bytes);
        StartGame();
        if (HasFatalFailure()) {
          StopCapture();
          return;
        }
        RunToTitleMenu();
        const bool at_title = AtTitleMenu();
        if (g_stop_flag == 0) LoadLater(file);
        const std::string err = StopCapture();
        ++runs;
        if (image) {
          std::string tag;
          for (const Sheet& s : sheets)
            if (s.file == file) tag = s.tag;
          ASSERT_FALSE(tag.empty()) << "a sheet the game does not load";
          // A cut image stops the game too: no part of it is ever drawn.
          EXPECT_EQ(g_stop_flag, 1);
          EXPECT_EQ(std::string(g_error_text), tag);
          EXPECT_EQ(CountLines(err, "quillona: cannot load the image " + file + " ("), 1) << err;
          EXPECT_NE(err.find("error " + tag + ")"), std::string::npos) << err;
        } else {
          // Play goes on: the title comes and nothing stops the game.
          EXPECT_TRUE(at_title);
          EXPECT_EQ(g_stop_flag, 0) << g_error_text;
          const bool failed = err.find(file) != std::string::npos;
          if (damage == Damage::kEmpty) {
            EXPECT_TRUE(failed);
          }
          if (failed) {
            EXPECT_EQ(CountLines(err, "quillona: warning: cannot load the sound " + file + " ("), 1) << err;
          }
        }
      }
    }
    EXPECT_GT(runs, 50);
  }

  ~WholeGameBadData() override {
    if (capturing_) ::testing::internal::GetCapturedStderr();
  }

  gametest::ScratchFolder scratch_;
  bool capturing_ = false;
};

TEST_F(WholeGameBadData, TruncatedDataFiles) { DamageEveryDataFile(Damage::kTruncated); }
TEST_F(WholeGameBadData, EmptyDataFiles) { DamageEveryDataFile(Damage::kEmpty); }
TEST_F(WholeGameBadData, RandomDataFiles) { DamageEveryDataFile(Damage::kRandom); }
TEST_F(WholeGameBadData, DataFilesOfAnotherKind) { DamageEveryDataFile(Damage::kOtherKind); }

// A missing image names the file and why; the exit status is 1. One that
// only a later stage loads is named at the start.
TEST_F(WholeGameBadData, MissingImageEndsTheGameWithItsName) {
  MakeDataSet("", {});
  fs::remove("grp/stg3b.png");
  StartGame();
  EXPECT_EQ(StopCapture(), "quillona: warning: grp/stg3b.png: no such file; the game stops when it needs it\n");
  LibraryEnd();

  MakeDataSet("", {});
  fs::remove("grp/tx_sk2.png");
  int status = 0;
  const std::string err = RunWholeProgram(&status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("quillona: cannot load the image grp/tx_sk2.png (no such file; error tx_sk2)\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("quillona: stopped by the game error tx_sk2\n"), std::string::npos) << err;
}

// An image whose checksum fails, or that is cut short, is refused rather than
// drawn from what could be decoded of it: the game stops with status 1 and
// names the file. One over the library's pixel limit (a grey PNG of 33,000 x
// 33,000 pixels, refused before its data is read) is called too large.
TEST_F(WholeGameBadData, DamagedImageEndsTheGameWithItsName) {
  const std::vector<char> good = ReadAll(DataFolder() / "grp" / "tx_sk2.png");
  std::vector<char> crc = good;
  crc[crc.size() / 2] ^= 0x10;
  const std::vector<char> cut(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
  // Signature, then IHDR claiming 33,000 x 33,000 8-bit grey with its checksum.
  const char head[] = "\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\x80\xE8\0\0\x80\xE8\x08\0\0\0\0\x3F\x35\x28\xC9";
  std::vector<char> huge(head, head + sizeof head - 1);
  const char idat[] = "\0\x10\x1D\x00IDAT";  // 1,056,000 bytes of data, more than deflate needs at the least
  huge.insert(huge.end(), idat, idat + sizeof idat - 1);
  huge.resize(huge.size() + 1056000 + 4);
  for (const auto& [bytes, why] : {std::pair{crc, "damaged or cut short"}, {cut, "damaged or cut short"}, {huge, "too large"}}) {
    MakeDataSet("grp/tx_sk2.png", bytes);
    int status = 0;
    const std::string err = RunWholeProgram(&status);
    LibraryEnd();
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find(std::string("quillona: cannot load the image grp/tx_sk2.png (") + why + "; error tx_sk2)\n"),
              std::string::npos)
        << err;
  }
}

// The configuration, record and replay files of the game, damaged.
TEST_F(WholeGameBadData, ConfigurationRecordAndReplayFiles) {
  const std::vector<char> a_png = ReadAll(DataFolder() / "grp" / "stm0x.png");
  std::vector<char> config(kConfigWords * 4);
  for (int i = 0; i < kConfigWords; ++i) std::memcpy(&config[4 * i], &kDefaultConfigWords[i], 4);
  std::vector<char> record(28, 0);
  std::memcpy(&record[0], &kReplayMagic, 4);
  std::vector<char> replay(8 + 4 * 1000, 0);
  const uint32_t frames = 1000;
  std::memcpy(&replay[0], &kReplayMagic, 4);
  std::memcpy(&replay[4], &frames, 4);
  uint32_t seed = 100;
  for (Damage damage : {Damage::kTruncated, Damage::kEmpty, Damage::kRandom, Damage::kOtherKind}) {
    SCOPED_TRACE(Name(damage));
    {
      // Configuration: defaults for what is missing, or the size-code error
      // named with the file; never a crash.
      MakeDataSet("", {});
      WriteAll(kConfigPath, Damaged(config, damage, a_png, seed++));
      StartGame();
      if (g_stop_flag == 0) RunToTitleMenu();
      const std::string err = StopCapture();
      if (g_stop_flag != 0) {
        EXPECT_EQ(std::string(g_error_text), testsupport::Sjis("windowサイズ設定ミス"));
        EXPECT_NE(err.find("quillona: system/config.hsd: window size code"), std::string::npos) << err;
      } else {
        EXPECT_TRUE(AtTitleMenu());
      }
      if (damage == Damage::kEmpty || damage == Damage::kTruncated) {
        EXPECT_NE(err.find("quillona: system/config.hsd: shorter than 15 words"), std::string::npos) << err;
      }
      if (damage == Damage::kRandom) {
        // Random words give no action a button: each needed one is named.
        for (const char* word : {"word 10 (shot/decide)", "word 11 (focus/cancel)", "word 12 (bomb)",
                                 "word 13 (pause)"}) {
          EXPECT_EQ(CountLines(err, std::string("quillona: warning: system/config.hsd: ") + word), 1) << err;
        }
      }
    }
    {
      // Record: refused with a message; the records take their defaults.
      MakeDataSet("", {});
      WriteAll(kRecordPath, Damaged(record, damage, a_png, seed++));
      StartGame();
      RunToTitleMenu();
      const std::string err = StopCapture();
      EXPECT_TRUE(AtTitleMenu());
      EXPECT_EQ(g_game.high_score, 0u);
      EXPECT_EQ(g_game.record_words[0], 59999u);
      EXPECT_NE(err.find("quillona: rec.hsd: not a record file"), std::string::npos) << err;
    }
    {
      // Replay: the title's replay item refuses it with a message and the
      // title comes back; its start item still starts stage 1.
      MakeDataSet("", {});
      WriteAll("replay/st1.hsd", Damaged(replay, damage, a_png, seed++));
      StartGame();
      RunToTitleMenu();
      ASSERT_TRUE(AtTitleMenu());
      g_game.title_cursor = 3;
      plat::HeadlessSetKey('Z', true);
      int frames = 0;
      while (frames < 600 && g_stop_flag == 0 && (frames < 5 || !AtTitleMenu())) {
        gametest::LogicFrame();
        ++frames;
        if (frames == 3) plat::HeadlessSetKey('Z', false);
      }
      const std::string err = StopCapture();
      EXPECT_TRUE(AtTitleMenu());
      EXPECT_EQ(g_game.replay_playback, 0);
      EXPECT_EQ(CountLines(err, "quillona: replay/st1.hsd: "), 1) << err;
      g_game.title_cursor = 1;
      plat::HeadlessSetKey('Z', true);
      for (int f = 0; f < 60 && g_game.levels[kLevelScene] != kSceneStage1; ++f) gametest::LogicFrame();
      plat::HeadlessSetKey('Z', false);
      EXPECT_EQ(g_game.levels[kLevelScene], kSceneStage1);
      EXPECT_EQ(g_stop_flag, 0);
      LibraryEnd();
    }
  }
}

// A disk that fills up during the game: stage 1 ends with room for its
// files, stages 2 to 4 end on a full disk. Every write cut short is refused
// and named once, every file written before keeps its bytes, and no
// temporary file is left behind.
TEST_F(WholeGameBadData, FullDiskKeepsEveryEarlierFile) {
  MakeDataSet("", {});
  for (int n = 1; n <= 4; ++n) {
    std::vector<char> earlier(8 + 4 * 1000, static_cast<char>(n));
    const uint32_t frames = 1000;
    std::memcpy(&earlier[0], &kReplayMagic, 4);
    std::memcpy(&earlier[4], &frames, 4);
    WriteAll("replay/st" + std::to_string(n) + ".hsd", earlier);
  }
  StartGame();
  RunToTitleMenu();
  ASSERT_TRUE(AtTitleMenu());
  g_game.title_cursor = 1;
  plat::HeadlessSetKey('Z', true);
  for (int f = 0; f < 600 && g_game.levels[kLevelScene] != kSceneStage1; ++f) {
    gametest::LogicFrame();
    if (f == 2) plat::HeadlessSetKey('Z', false);
  }
  plat::HeadlessSetKey('Z', false);
  std::map<std::string, std::vector<char>> kept;
  for (uint32_t stage = 1; stage <= 4; ++stage) {
    const uint32_t scene = kSceneStage1 + stage - 1;
    ASSERT_EQ(g_game.levels[kLevelScene], scene);
    for (int f = 0; f < 600 && g_game.levels[kLevelPhase] < kPhaseFirstWave; ++f) gametest::LogicFrame();
    if (stage == 2) {
      for (const char* f : {"rec.hsd", "replay/st1.hsd", "replay/st2.hsd", "replay/st3.hsd", "replay/st4.hsd"})
        kept[f] = ReadAll(f);
      SetWriteSpaceForTesting(16);
    }
    ChangePhase(g_game, kPhaseStageEnd);
    g_game.score = 1000 * stage;  // a new high score at every stage end
    for (int f = 0; f < 3000 && g_game.levels[kLevelScene] == scene && g_stop_flag == 0; ++f) {
      gametest::LogicFrame();
    }
  }
  SetWriteSpaceForTesting(-1);
  const std::string err = StopCapture();
  EXPECT_EQ(g_stop_flag, 0) << g_error_text;
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneTitle);
  // Stage 1's files were written whole before the disk filled.
  const std::vector<char> record = kept["rec.hsd"];
  ASSERT_EQ(record.size(), 28u);
  uint32_t high = 0;
  std::memcpy(&high, &record[4], 4);
  EXPECT_EQ(high, 1000u);
  const std::vector<char> first = kept["replay/st1.hsd"];
  ASSERT_GE(first.size(), 8u);
  uint32_t count = 0;
  std::memcpy(&count, &first[4], 4);
  EXPECT_GT(count, 0u);
  EXPECT_EQ(first.size(), 8u + 4u * count);
  for (const auto& [file, bytes] : kept) EXPECT_EQ(ReadAll(file), bytes) << file;
  for (const char* f : {"rec.hsd", "replay/st2.hsd", "replay/st3.hsd", "replay/st4.hsd"}) {
    EXPECT_EQ(CountLines(err, std::string("quillona: cannot write ") + f + " (No space left on device)"), 1)
        << err;
  }
  EXPECT_EQ(CountLines(err, "quillona: cannot write"), 4) << err;
  for (const char* folder : {".", "replay"}) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      EXPECT_EQ(entry.path().filename().string().find(".hsd."), std::string::npos) << entry.path();
    }
  }
}

}  // namespace
