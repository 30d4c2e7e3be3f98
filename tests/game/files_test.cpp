// The configuration, replay and record files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "game/frame/config.h"
#include "game/frame/data_report.h"
#include "game/frame/file_replace.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/frame/save_writer.h"
#include "game/stages/stage_script.h"
#include "tests/game/game_fixture.h"
#include "tests/support/as_user.h"

namespace {

using gametest::GameTest;
using gametest::ScratchFolder;
namespace fs = std::filesystem;

std::vector<uint32_t> ReadWords(const char* path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<uint32_t> words;
  unsigned char b[4];
  while (f.read(reinterpret_cast<char*>(b), 4)) {
    words.push_back(b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24);
  }
  return words;
}

void WriteWords(const char* path, const std::vector<uint32_t>& words) {
  std::ofstream f(path, std::ios::binary);
  for (uint32_t w : words) {
    const unsigned char b[4] = {static_cast<unsigned char>(w), static_cast<unsigned char>(w >> 8),
                                static_cast<unsigned char>(w >> 16),
                                static_cast<unsigned char>(w >> 24)};
    f.write(reinterpret_cast<const char*>(b), 4);
  }
}

TEST(ConfigFile, MissingFileAndFolderAreCreatedWithDefaultsAndReadBack) {
  ScratchFolder scratch;
  GameConfig c{};
  ASSERT_TRUE(LoadOrCreateConfig(kConfigPath, c));
  EXPECT_EQ(fs::file_size(kConfigPath), 64u);
  EXPECT_EQ(ReadWords(kConfigPath),
            (std::vector<uint32_t>{65535, 65535, 1, 0, 1, 1, 65535, 65535, 65535, 0, 0, 1, 2, 3,
                                   4, 65535}));
  GameConfig again{};
  again.window_mode = 9;
  ASSERT_TRUE(LoadOrCreateConfig(kConfigPath, again));
  for (const GameConfig* g : {&c, &again}) {
    EXPECT_EQ(g->window_mode, 1);
    EXPECT_EQ(g->vsync, 0);
    EXPECT_EQ(g->color32, 1);
    EXPECT_EQ(g->size_code, 0u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(g->buttons[i], static_cast<uint32_t>(i + 1));
  }
}

// The game's new file whose folder cannot be synced is a warning, as for its
// other files; a folder in place of the file is no short file.
TEST(ConfigFile, AnUnsyncedNewFileIsAWarningAndAFolderIsNamedAsUnreadable) {
  ScratchFolder scratch;
  ForgetReportedFiles();
  GameConfig c{};
  SetFolderSyncErrorForTesting(EIO);
  ::testing::internal::CaptureStderr();
  const bool written = LoadOrCreateConfig(kConfigPath, c);
  SetFolderSyncErrorForTesting(0);
  fs::create_directories("folder");
  const bool folder = LoadOrCreateConfig("folder", c);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(written);
  EXPECT_TRUE(folder);
  EXPECT_EQ(c.size_code, 0u);
  EXPECT_EQ(err,
            "quillona: warning: system/config.hsd is written, but its folder could not be synced (Input/output "
            "error); the default configuration is kept, but may not survive a power cut\n"
            "quillona: folder: cannot be read (Is a directory); the settings take their defaults\n");
}

std::vector<unsigned char> ReadBytes(const char* path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), {});
}

TEST(ConfigFile, WordsAreReadAsTheirFlags) {
  ScratchFolder scratch;
  fs::create_directories("system");
  WriteWords(kConfigPath, {7, 7, 0, 1, 0, 2, 7, 7, 7, 9, 7, 8, 65535, 0, 3, 12345});
  GameConfig c{};
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(LoadOrCreateConfig(kConfigPath, c));
  // The player is told which needed actions have no button, by which word,
  // and how to get the buttons back.
  const std::string tool = fs::exists(RORUD_BINARY_DIR "/tools/quillona-config")
                               ? std::string(RORUD_BINARY_DIR "/tools/quillona-config")
                               : std::string("quillona-config");
  const std::string file = (fs::current_path() / kConfigPath).string();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "quillona: warning: system/config.hsd: word 11 (focus/cancel) is 8, which is no button; "
            "0 to 7 give pad buttons 1 to 8 (Z X C V A S D F)\n"
            "quillona: warning: system/config.hsd: word 12 (bomb) is 65535, which is no button; "
            "0 to 7 give pad buttons 1 to 8 (Z X C V A S D F)\n"
            "quillona: warning: to give every action its button back, run " + tool + " --file " + file +
                " --defaults, or delete " + file + " so that the game writes its defaults at its next start\n");
  EXPECT_EQ(c.window_mode, 0);
  EXPECT_EQ(c.vsync, 1);
  EXPECT_EQ(c.reserved, 0);
  EXPECT_EQ(c.color32, 0);  // any value but 1 is 16-bit
  EXPECT_EQ(c.size_code, 9u);
  EXPECT_EQ(c.buttons[0], 8u);
  EXPECT_EQ(c.buttons[1], 9u);      // no button
  EXPECT_EQ(c.buttons[2], 65536u);  // no button
  EXPECT_EQ(c.buttons[3], 1u);
  EXPECT_EQ(c.buttons[4], 4u);
}

TEST(ConfigFile, ShortFileKeepsDefaultsForMissingWords) {
  ScratchFolder scratch;
  fs::create_directories("system");
  WriteWords(kConfigPath, {0, 0, 0, 1, 1});
  GameConfig c{};
  ASSERT_TRUE(LoadOrCreateConfig(kConfigPath, c));
  EXPECT_EQ(c.window_mode, 0);
  EXPECT_EQ(c.vsync, 1);
  EXPECT_EQ(c.color32, 1);
  EXPECT_EQ(c.buttons[3], 4u);
  EXPECT_EQ(fs::file_size(kConfigPath), 20u);  // an existing file is not rewritten
}

// A file where the folder should be is no folder the user is shut out of:
// the line names what is in the way, not access to give.
TEST(ConfigFile, UncreatableFileFails) {
  ScratchFolder scratch;
  { std::ofstream blocker("system"); }  // a file where the folder should be
  GameConfig c{};
  std::string reason;
  EXPECT_FALSE(LoadOrCreateConfig(kConfigPath, c, &reason));
  EXPECT_EQ(reason, "cannot read or create system/config.hsd (Not a directory)");
}

// The player's own file that the game cannot read is never written over, as
// an ordinary user (root reads it): writable (mode 0200), the game plays on
// the defaults and says why and how to get at it; neither readable nor
// writable (0000), the start stops with the way out.
TEST(ConfigFile, AnUnreadableFileIsKeptAndNamedWithTheWayOut) {
  ScratchFolder scratch(testsupport::UnprivilegedTempFolder());
  fs::create_directories("system");
  std::vector<uint32_t> mine(kDefaultConfigWords, kDefaultConfigWords + kConfigWords);
  mine[9] = 2;
  WriteWords(kConfigPath, mine);
  testsupport::GiveToUnprivilegedUser(scratch.path());
  const std::string file = (fs::current_path() / kConfigPath).string();
  for (const fs::perms mode : {fs::perms::owner_write, fs::perms::none}) {
    fs::permissions(kConfigPath, mode);
    const testsupport::AsUserResult run = testsupport::RunAsUnprivilegedUser([](std::string& text) {
      GameConfig c{};
      c.size_code = 9;
      std::string reason;
      ::testing::internal::CaptureStderr();
      const bool ok = LoadOrCreateConfig(kConfigPath, c, &reason);
      text = ::testing::internal::GetCapturedStderr() + reason;
      return (ok ? 1 : 0) | (c.size_code == 0 ? 2 : 0);
    });
    RORUD_SKIP_UNLESS_RAN(run);
    const std::string way_out = " " + file + ", or delete " + file +
                                " so that the game writes its defaults at its next start";
    if (mode == fs::perms::owner_write) {
      EXPECT_EQ(run.status, 3);
      EXPECT_EQ(run.text,
                "quillona: system/config.hsd: cannot be read (Permission denied; its mode is 0200); the settings "
                "take their defaults, and the file is kept: to play on its settings, run chmod u+r" +
                    way_out + "\n");
    } else {
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(run.text, "cannot read or create system/config.hsd (Permission denied; its mode is 0000): run "
                          "chmod u+rw" + way_out);
    }
    fs::permissions(kConfigPath, fs::perms::owner_read);
    EXPECT_EQ(ReadWords(kConfigPath), mine);
  }
}

// A write cut short by a full disk, failing to reach the disk, or refused by
// a read-only file, keeps the old file's bytes and leaves no temporary file;
// a good write keeps the old file's permissions.
TEST(FileReplace, FailedWritesKeepTheOldFile) {
  ScratchFolder scratch;
  const std::vector<unsigned char> old = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::vector<unsigned char> fresh(40000, 0xAB);
  std::string reason;
  ASSERT_TRUE(ReplaceFile("f.bin", old, reason));
  SetWriteSpaceForTesting(16384);
  EXPECT_FALSE(ReplaceFile("f.bin", fresh, reason));
  SetWriteSpaceForTesting(-1);
  EXPECT_EQ(reason, std::strerror(ENOSPC));
  EXPECT_EQ(ReadBytes("f.bin"), old);
  SetSyncErrorForTesting(EIO);
  EXPECT_FALSE(ReplaceFile("f.bin", fresh, reason));
  SetSyncErrorForTesting(0);
  EXPECT_EQ(reason, std::strerror(EIO));
  EXPECT_EQ(ReadBytes("f.bin"), old);
  const fs::perms read_only = fs::perms::owner_read | fs::perms::group_read;
  fs::permissions("f.bin", read_only);
  EXPECT_FALSE(ReplaceFile("f.bin", fresh, reason));
  EXPECT_EQ(reason, std::strerror(EACCES));
  EXPECT_EQ(ReadBytes("f.bin"), old);
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);
  fs::permissions("f.bin", read_only | fs::perms::owner_write);
  ASSERT_TRUE(ReplaceFile("f.bin", fresh, reason));
  EXPECT_EQ(ReadBytes("f.bin"), fresh);
  EXPECT_EQ(fs::status("f.bin").permissions(), read_only | fs::perms::owner_write);
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);
}

// The names in the folder, sorted.
std::vector<std::string> Names(const char* folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A process killed in the middle of a write: a file-size limit makes the
// system kill the writer (SIGXFSZ) once 16 KiB of the new file are written.
// The old file keeps its bytes; the temporary file left is hidden and named
// for its file, and the next write of that file removes it, and nothing that
// only looks like it.
TEST(FileReplace, AKillDuringTheWriteKeepsTheOldFileAndTheNextWriteClearsItsLeftover) {
  ScratchFolder scratch;
  const std::vector<unsigned char> old = {9, 8, 7, 6};
  std::string reason;
  ASSERT_TRUE(ReplaceFile("rec.hsd", old, reason));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit no_core = {0, 0}, size = {16384, 16384};
    ::setrlimit(RLIMIT_CORE, &no_core);
    ::setrlimit(RLIMIT_FSIZE, &size);
    std::string why;
    ReplaceFile("rec.hsd", std::vector<unsigned char>(40000, 1), why);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
  EXPECT_EQ(ReadBytes("rec.hsd"), old);
  const std::vector<std::string> left = Names(".");
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].substr(0, 13), ".rec.hsd.tmp-");
  EXPECT_EQ(left[0].size(), 19u);
  EXPECT_EQ(left[1], "rec.hsd");
  const std::vector<std::string> kept = {".rec.hsd.tmp-12345",  ".rec.hsd.tmp-1234567", ".rec.hsd.tmp-ab.def",
                                         ".rec.hsd.tmp-dir123", ".rec.hsd.tmp-link12", ".st1.hsd.tmp-abc123",
                                         "rec.hsd.Ab12Cd"};
  for (const std::string& name : kept) {
    if (name == ".rec.hsd.tmp-dir123") {
      fs::create_directory(name);
    } else if (name == ".rec.hsd.tmp-link12") {
      fs::create_symlink("rec.hsd", name);
    } else {
      std::ofstream(name) << "x";
    }
  }
  { std::ofstream(".rec.hsd.tmp-Zz09aQ") << "an older leftover"; }
  ASSERT_TRUE(ReplaceFile("rec.hsd", old, reason));
  std::vector<std::string> expected = kept;
  expected.push_back("rec.hsd");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names("."), expected);
}

// Another copy of the game saves the same file while this one is at one of
// two steps. Its file written, synced and closed, about to be renamed: the
// lock this save still holds keeps its file from being taken for a killed
// write's. Its file just made, not yet locked: the other copy takes it for
// a killed write's and removes it, and this save, once it holds the lock,
// sees its file gone and makes another. Both saves are done either way.
SaveStep g_meanwhile_step;
bool g_meanwhile_saved = false;
TEST(FileReplace, ASaveMeanwhileLeavesTheSavedFileWhole) {
  for (const SaveStep step : {SaveStep::kBeforeRename, SaveStep::kTempCreated}) {
    SCOPED_TRACE(step == SaveStep::kBeforeRename ? "before the rename" : "before the lock");
    ScratchFolder scratch;
    g_meanwhile_step = step;
    g_meanwhile_saved = false;
    SetSaveStepHookForTesting([](SaveStep at, const std::string&) {
      if (at != g_meanwhile_step) return;
      SetSaveStepHookForTesting(nullptr);
      std::string reason;
      g_meanwhile_saved = ReplaceFile("rec.hsd", {2}, reason);
    });
    std::string reason;
    const bool saved = ReplaceFile("rec.hsd", {1}, reason);
    SetSaveStepHookForTesting(nullptr);
    EXPECT_TRUE(saved) << reason;
    EXPECT_TRUE(g_meanwhile_saved);
    EXPECT_EQ(ReadBytes("rec.hsd"), std::vector<unsigned char>{1});
    EXPECT_EQ(Names("."), std::vector<std::string>{"rec.hsd"});
  }
}

// Leftovers of both ages beside a save: one that a live writer holds (here
// this test) is kept however old, one that none holds is removed however
// new. Where locks do not work, age alone tells: only one from before this
// copy started is a killed write's.
TEST(FileReplace, ALeftoverIsKeptWhileAWriterHoldsItAndByAgeWhereLocksFail) {
  ScratchFolder scratch;
  std::vector<int> writers;
  for (const char* name : {"Old001", "New001", "Old002", "New002"}) {
    const std::string path = std::string(".rec.hsd.tmp-") + name;
    std::ofstream(path) << "x";
    if (name[0] == 'O') fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
    if (name[5] != '1') continue;
    writers.push_back(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(writers.back(), LOCK_EX | LOCK_NB), 0);
  }
  std::string reason;
  ASSERT_TRUE(ReplaceFile("rec.hsd", {1}, reason)) << reason;
  EXPECT_EQ(Names("."), (std::vector<std::string>{".rec.hsd.tmp-New001", ".rec.hsd.tmp-Old001", "rec.hsd"}));
  for (const int fd : writers) ::close(fd);
  SetLockErrorForTesting(ENOLCK);
  const bool saved = ReplaceFile("rec.hsd", {2}, reason);
  SetLockErrorForTesting(0);
  ASSERT_TRUE(saved) << reason;
  EXPECT_EQ(Names("."), (std::vector<std::string>{".rec.hsd.tmp-New001", "rec.hsd"}));
  EXPECT_EQ(ReadBytes("rec.hsd"), std::vector<unsigned char>{2});
}

// A leftover whose name, once it is locked, leads to another file (a live
// writer's that took the name meanwhile): that file is kept.
TEST(FileReplace, ALeftoverIsRemovedOnlyWhileItsNameLeadsToTheFileLocked) {
  ScratchFolder scratch;
  const char* kLeftover = ".rec.hsd.tmp-Dead01";
  std::ofstream(kLeftover) << "x";
  std::ofstream("writing") << "y";
  const int writer = ::open("writing", O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);
  SetSaveStepHookForTesting([](SaveStep step, const std::string& path) {
    if (step == SaveStep::kLeftoverLocked) ::rename("writing", path.c_str());
  });
  std::string reason;
  const bool saved = ReplaceFile("rec.hsd", {1}, reason);
  SetSaveStepHookForTesting(nullptr);
  EXPECT_TRUE(saved) << reason;
  struct stat held {}, named {};
  ASSERT_EQ(::fstat(writer, &held), 0);
  EXPECT_EQ(::stat(kLeftover, &named), 0);
  EXPECT_EQ(named.st_ino, held.st_ino);
  ::close(writer);
}

// The rename is made to last by syncing the folder after it. When only that
// sync fails the new file is in place and the write counts as done, with
// the reason it may not survive a power cut.
TEST(FileReplace, TheFolderIsSyncedAfterTheRename) {
  ScratchFolder scratch;
  const std::vector<unsigned char> bytes = {1, 2, 3};
  std::string reason = "stale";
  const SyncCounts before = SyncCountsForTesting();
  ASSERT_TRUE(ReplaceFile("f.bin", bytes, reason));
  EXPECT_EQ(reason, "");
  const SyncCounts after = SyncCountsForTesting();
  EXPECT_EQ(after.files - before.files, 1);
  EXPECT_EQ(after.folders - before.folders, 1);
  SetFolderSyncErrorForTesting(EIO);
  const std::vector<unsigned char> fresh = {4, 5, 6, 7};
  const bool done = ReplaceFile("f.bin", fresh, reason);
  SetFolderSyncErrorForTesting(0);
  EXPECT_TRUE(done);
  EXPECT_EQ(reason, std::strerror(EIO));
  EXPECT_EQ(ReadBytes("f.bin"), fresh);
  EXPECT_EQ(Names("."), std::vector<std::string>{"f.bin"});
}

TEST(ConfigFile, WindowScales) {
  EXPECT_EQ(WindowScaleForSizeCode(0), 0.0);
  EXPECT_EQ(WindowScaleForSizeCode(1), 1.5);
  EXPECT_EQ(WindowScaleForSizeCode(2), 1.6);
  EXPECT_EQ(WindowScaleForSizeCode(3), 2.0);
  EXPECT_EQ(WindowScaleForSizeCode(4), 2.5);
  EXPECT_EQ(WindowScaleForSizeCode(7), -1.0);
}

TEST_F(GameTest, ReplayRoundTripCreatesTheFolder) {
  ScratchFolder scratch;
  for (uint32_t i = 0; i < 300; ++i) g_replay_words[i] = i * 2654435761u;
  g_game.replay_frame_index = 300;
  ASSERT_TRUE(SaveReplay(2));
  EXPECT_EQ(fs::file_size("replay/st2.hsd"), 8u + 4u * 300u);
  const std::vector<uint32_t> words = ReadWords("replay/st2.hsd");
  EXPECT_EQ(words[0], 10671200u);
  EXPECT_EQ(words[1], 300u);
  std::vector<uint32_t> saved(g_replay_words, g_replay_words + 300);
  std::fill(g_replay_words, g_replay_words + kReplayCapacity, 0xDEADBEEFu);
  ASSERT_TRUE(LoadReplay(2));
  EXPECT_EQ(std::vector<uint32_t>(g_replay_words, g_replay_words + 300), saved);
  // Words beyond the recorded count read as no input.
  EXPECT_EQ(g_replay_words[300], 0u);
  EXPECT_EQ(g_replay_words[kReplayCapacity - 1], 0u);
  EXPECT_FALSE(LoadReplay(3));
}

TEST_F(GameTest, ReplayWithBadCountOrMagicIsRefusedUntouched) {
  ScratchFolder scratch;
  fs::create_directories("replay");
  g_replay_words[0] = 42;
  WriteWords("replay/st1.hsd", {10671200, 70000, 1, 2, 3});
  EXPECT_FALSE(LoadReplay(1));
  WriteWords("replay/st1.hsd", {10671200, kReplayCapacity + 1});
  EXPECT_FALSE(LoadReplay(1));
  WriteWords("replay/st1.hsd", {10671201, 1, 5});
  EXPECT_FALSE(LoadReplay(1));
  WriteWords("replay/st1.hsd", {10671200});
  EXPECT_FALSE(LoadReplay(1));
  EXPECT_EQ(g_replay_words[0], 42u);
  // A file longer than its count is fine; the rest is ignored.
  WriteWords("replay/st1.hsd", {10671200, 1, 5, 6});
  EXPECT_TRUE(LoadReplay(1));
  EXPECT_EQ(g_replay_words[0], 5u);
  EXPECT_EQ(g_replay_words[1], 0u);
}

TEST_F(GameTest, ReplayLongerThanTheOldBufferKeepsEveryWord) {
  ScratchFolder scratch;
  const uint32_t n = 70000;
  for (uint32_t i = 0; i < n; ++i) g_replay_words[i] = i;
  g_game.replay_frame_index = n;
  ASSERT_TRUE(SaveReplay(5));
  std::fill(g_replay_words, g_replay_words + n, 0u);
  ASSERT_TRUE(LoadReplay(5));
  EXPECT_EQ(g_replay_words[65533], 65533u);
  EXPECT_EQ(g_replay_words[69999], 69999u);
}

TEST_F(GameTest, SaveReplayReportsAnUncreatableFile) {
  ScratchFolder scratch;
  { std::ofstream blocker("replay"); }
  EXPECT_FALSE(SaveReplay(1));
}

// A save whose folder could not be synced is done: the player is told that
// it is kept but may not last a power cut, once while it goes on so.
TEST_F(GameTest, ASaveWhoseFolderCannotBeSyncedIsKept) {
  ScratchFolder scratch;
  ForgetReportedFiles();
  g_game.high_score = 4321;
  SetFolderSyncErrorForTesting(EIO);
  ::testing::internal::CaptureStderr();
  const bool first = SaveRecordFile();
  const bool second = SaveRecordFile();
  g_replay_words[0] = 7;
  g_game.replay_frame_index = 1;
  const bool replay = SaveReplay(1);
  SetFolderSyncErrorForTesting(0);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(first);
  EXPECT_TRUE(second);
  EXPECT_TRUE(replay);
  EXPECT_EQ(err,
            "quillona: warning: rec.hsd is written, but its folder could not be synced (Input/output error); "
            "the new high score is kept, but may not survive a power cut\n"
            "quillona: warning: replay/st1.hsd is written, but its folder could not be synced (Input/output "
            "error); this stage's replay is kept, but may not survive a power cut\n");
  g_game.high_score = 0;
  ASSERT_TRUE(LoadRecordFile());
  EXPECT_EQ(g_game.high_score, 4321u);
}

// A stage end on a slow disk: its frames hand the saves to the writer and go
// on, so that the disk sees only the newest replay; the file is a whole
// replay of an earlier frame whenever it is read, and the last frame's
// replay and the new record are on the disk when the next stage starts.
class ThreadedStageEnd : public GameTest {
 protected:
  void TearDown() override {
    SetWriteSpaceForTesting(-1);
    SetFolderSyncErrorForTesting(0);
  }

  // Hands stage 1's replay of its first `frames` frames to the writer.
  static void Hand(uint32_t frames) {
    g_game.replay_frame_index = frames;
    SaveReplayInBackground(1);
  }

  // Hands the second replay while the writer syncs the first one's data.
  static void HandTwoAtOnce(uint32_t first, uint32_t second) {
    HoldSyncsForTesting(true);
    const long files = SyncCountsForTesting().files;
    Hand(first);
    while (SyncCountsForTesting().files == files) std::this_thread::yield();
    Hand(second);
    HoldSyncsForTesting(false);
  }
};

TEST_F(ThreadedStageEnd, ASlowDiskSeesOnlyTheNewestReplayAndTheLastIsKept) {
  ScratchFolder scratch;
  g_game.levels[kLevelScene] = kSceneStage1;
  ChangePhase(g_game, kPhaseStageEnd);
  g_game.score = 500;
  g_game.high_score = 400;
  const SyncCounts before = SyncCountsForTesting();
  SetSyncDelayForTesting(20);
  uint32_t frames = 0;
  while (g_game.levels[kLevelScene] == kSceneStage1 && frames < 200) {
    // The input step records the frame's word before the scene runs.
    g_replay_words[g_game.replay_frame_index++] = 1000 + frames++;
    Stage1Script(g_game);
    const std::vector<uint32_t> words = ReadWords("replay/st1.hsd");
    if (words.empty()) continue;
    ASSERT_GE(words.size(), 2u);
    ASSERT_EQ(words[0], 10671200u);
    ASSERT_EQ(words.size(), 2u + words[1]);
    ASSERT_TRUE(std::equal(words.begin() + 2, words.end(), g_replay_words));
  }
  SetSyncDelayForTesting(0);
  ASSERT_EQ(g_game.levels[kLevelScene], kSceneStage1 + 1);
  EXPECT_EQ(frames, 102u);
  const std::vector<uint32_t> words = ReadWords("replay/st1.hsd");
  ASSERT_EQ(words.size(), 2u + frames);
  EXPECT_EQ(words[1], frames);
  EXPECT_EQ(words.back(), 1000 + frames - 1);
  EXPECT_EQ(ReadWords("rec.hsd")[1], 500u);
  FinishBackgroundSaves();
  const SyncCounts after = SyncCountsForTesting();
  EXPECT_LT(after.files - before.files, frames / 4);
  // The renames of the last replay and of the record are on the disk too.
  EXPECT_GE(after.folders - before.folders, 2);
  EXPECT_EQ(Names("."), (std::vector<std::string>{"rec.hsd", "replay"}));
}

// A stage end's saves, one frame at a time, each over before the next:
// whatever failed before, the last line on a file says what it finally is.
TEST_F(ThreadedStageEnd, TheLastLineOnAReplayIsWhatTheDiskHolds) {
  ScratchFolder scratch;
  ForgetReportedFiles();
  g_game.levels[kLevelScene] = kSceneStage1;
  ChangePhase(g_game, kPhaseStageEnd);
  ::testing::internal::CaptureStderr();
  for (const bool full : {true, false, false, true, false}) {
    SetWriteSpaceForTesting(full ? 0 : -1);
    SetFolderSyncErrorForTesting(g_game.replay_frame_index >= 2 ? EIO : 0);
    g_replay_words[g_game.replay_frame_index++] = 7;
    Stage1Script(g_game);
    FinishBackgroundSaves();
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  const std::string unsynced =
      "quillona: warning: replay/st1.hsd is written, but its folder could not be synced (Input/output error); "
      "this stage's replay is kept, but may not survive a power cut\n";
  const std::string failed = "quillona: cannot write replay/st1.hsd (No space left on device); ";
  EXPECT_EQ(err, failed + "no replay of this stage is kept\n" +
                     "quillona: replay/st1.hsd is written after all; this stage's replay is kept\n" + unsynced +
                     failed + "an earlier save of this stage's replay (3 frames) is kept\n" + unsynced);
  EXPECT_EQ(ReadWords("replay/st1.hsd").size(), 2u + 5u);
}

// A disk with room for a stage end's first saves and no more: each failure
// says what the disk holds, an earlier save of this play's stage end, the
// file of an earlier play, or nothing.
TEST_F(ThreadedStageEnd, ANearlyFullDiskNamesWhatIsKept) {
  ScratchFolder scratch;
  g_game.levels[kLevelScene] = kSceneStage1;
  g_game.high_score = 400;
  for (uint32_t i = 0; i < 8001; ++i) g_replay_words[i] = i;
  // Three frames of a stage end from frame 8000 on; the first has room.
  auto stage_end = [](bool first_fits) {
    ForgetReportedFiles();
    StartStagePlay();
    ChangePhase(g_game, kPhaseStageEnd);
    g_game.level_counters[kLevelScene] = 0;
    g_game.replay_frame_index = 8000;
    ::testing::internal::CaptureStderr();
    for (int f = 0; f < 3; ++f) {
      SetWriteSpaceForTesting(f == 0 && first_fits ? -1 : 0);
      g_game.score = g_game.high_score + 100;
      g_replay_words[g_game.replay_frame_index++] = 8000 + f;
      Stage1Script(g_game);
      FinishBackgroundSaves();
    }
    return ::testing::internal::GetCapturedStderr();
  };
  const std::string replay = "quillona: cannot write replay/st1.hsd (No space left on device); ";
  const std::string record = "quillona: cannot write rec.hsd (No space left on device); ";
  EXPECT_EQ(stage_end(true), replay + "an earlier save of this stage's replay (8001 frames) is kept\n" + record +
                                 "an earlier save of the new high score (500) is kept\n");
  EXPECT_EQ(ReadWords("replay/st1.hsd").size(), 2u + 8001u);
  EXPECT_EQ(ReadWords("rec.hsd")[1], 500u);
  EXPECT_EQ(stage_end(false), replay + "the older replay of this stage is kept\n" + record +
                                  "the older record is kept\n");
  EXPECT_EQ(ReadWords("replay/st1.hsd").size(), 2u + 8001u);
  fs::remove("replay/st1.hsd");
  fs::remove("rec.hsd");
  EXPECT_EQ(stage_end(false), replay + "no replay of this stage is kept\n" + record + "no record is kept\n");
  // A later play's stage end names its own earlier save, not the file of
  // the play before.
  EXPECT_EQ(stage_end(true), replay + "an earlier save of this stage's replay (8001 frames) is kept\n" + record +
                                 "an earlier save of the new high score (1400) is kept\n");
}

// A save handed over while the writer syncs an older one of the same file
// leaves the older one's folder sync to the newer.
TEST_F(ThreadedStageEnd, AFolderLeftToANewerSaveIsSyncedAndNamedOnce) {
  ScratchFolder scratch;
  ForgetReportedFiles();
  // A replay of 3 frames fits the disk, one of 100 does not.
  SetWriteSpaceForTesting(100);
  const SyncCounts before = SyncCountsForTesting();
  ::testing::internal::CaptureStderr();
  HandTwoAtOnce(3, 100);
  FinishBackgroundSaves();
  std::string err = ::testing::internal::GetCapturedStderr();
  // The newer save failed: the older one's rename is synced all the same.
  EXPECT_EQ(SyncCountsForTesting().folders - before.folders, 1);
  EXPECT_EQ(ReadWords("replay/st1.hsd").size(), 2u + 3u);
  EXPECT_EQ(err,
            "quillona: cannot write replay/st1.hsd (No space left on device); an earlier save of this stage's "
            "replay (3 frames) is kept\n");
  // Folders that cannot be synced: one warning for the file, not one for
  // every save that left its sync to a newer one.
  SetWriteSpaceForTesting(-1);
  SetFolderSyncErrorForTesting(EIO);
  ::testing::internal::CaptureStderr();
  Hand(4);
  FinishBackgroundSaves();
  HandTwoAtOnce(5, 6);
  FinishBackgroundSaves();
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "quillona: warning: replay/st1.hsd is written, but its folder could not be synced (Input/output error); "
            "this stage's replay is kept, but may not survive a power cut\n");
  EXPECT_EQ(ReadWords("replay/st1.hsd").size(), 2u + 6u);
}

TEST_F(GameTest, RecordFileRoundTripAndValidation) {
  ScratchFolder scratch;
  EXPECT_FALSE(LoadRecordFile());
  EXPECT_EQ(g_game.high_score, 0u);
  for (uint32_t w : g_game.record_words) EXPECT_EQ(w, 59999u);
  g_game.high_score = 123456;
  for (int i = 0; i < 5; ++i) g_game.record_words[i] = 10u + static_cast<uint32_t>(i);
  ASSERT_TRUE(SaveRecordFile());
  EXPECT_EQ(fs::file_size("rec.hsd"), 28u);
  g_game.high_score = 0;
  ASSERT_TRUE(LoadRecordFile());
  EXPECT_EQ(g_game.high_score, 123456u);
  EXPECT_EQ(g_game.record_words[4], 14u);
  // Wrong magic or a short file: the defaults.
  WriteWords("rec.hsd", {1, 999, 1, 2, 3, 4, 5});
  EXPECT_FALSE(LoadRecordFile());
  EXPECT_EQ(g_game.high_score, 0u);
  WriteWords("rec.hsd", {10671200, 999, 1});
  EXPECT_FALSE(LoadRecordFile());
  EXPECT_EQ(g_game.high_score, 0u);
  EXPECT_EQ(g_game.record_words[0], 59999u);
  fs::remove("rec.hsd");
  fs::create_directories("rec.hsd");
  EXPECT_FALSE(SaveRecordFile());
}

}  // namespace
