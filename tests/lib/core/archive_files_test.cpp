#include "lib/core/archive_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "lib/core/file_functions.h"
#include "lib/core/pack_writer.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/path_lookup.h"
#include "tests/support/log_capture.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sjis.h"

using testsupport::ScratchDir;
using testsupport::Sjis;

namespace {

PackNode File(const std::string& name, const std::string& data) {
  PackNode n;
  n.name = Sjis(name);
  n.data.assign(data.begin(), data.end());
  return n;
}

void WriteArchive(const std::string& host_path, std::vector<PackNode> children, int version = 4) {
  PackNode root;
  root.folder = true;
  root.children = std::move(children);
  PackOptions options;
  options.version = version;
  std::filesystem::create_directories(std::filesystem::path(host_path).parent_path());
  std::ofstream out(host_path, std::ios::binary | std::ios::trunc);
  std::string error;
  ASSERT_EQ(WritePackArchive(root, options, out, &error), 0) << error;
}

// The log captured, a scratch folder as the current folder, archives on with
// the extension "hsd"; everything restored after.
class ArchiveFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(PlainSetCurrentDirFor(dir_), 0);
    SetArchiveUse(1);
    InstallFileFunctions(nullptr);
    SetArchiveExtension("hsd");
  }
  void TearDown() override {
    SetArchiveExtension(nullptr);
    ArchiveCacheEnd();
  }
  static int PlainSetCurrentDirFor(const ScratchDir& dir) {
    return ArchiveFileSetDir(Sjis(dir.path().string()).c_str()) == 0;
  }
  std::string ReadAll(const char* path) {
    FileHandle f = FileOpenThunk(path, 0, 1, 0);
    if (!f) return "<none>";
    std::string out;
    char buffer[7];
    size_t n;
    while ((n = FileReadThunk(buffer, 1, sizeof(buffer), f)) > 0) out.append(buffer, n);
    EXPECT_EQ(FileCloseThunk(f), 0);
    return out;
  }

  testsupport::LogCapture capture_;
  // Folder watches keep the look-ups of absolute paths.
  ScratchDir dir_{testsupport::WatchableTempFolder()};
};

TEST_F(ArchiveFiles, ArchiveBesideAFolderServesItsFiles) {
  dir_.Write("grp/tx_en1.png", "plain file");
  dir_.Write("grp/only_plain.png", "plain only");
  dir_.Write("other/a.txt", "outside");
  WriteArchive(dir_ / "grp.hsd", {File("tx_en1.png", "from the archive"), File("Sub", "")});
  EXPECT_EQ(ReadAll("grp/tx_en1.png"), "from the archive");
  EXPECT_EQ(ReadAll("GRP\\TX_EN1.PNG"), "from the archive");
  EXPECT_EQ(ReadAll("other/a.txt"), "outside");
  // The archive stands for the folder: the plain file is not tried.
  capture_.Clear();
  EXPECT_EQ(ReadAll("grp/only_plain.png"), "<none>");
  EXPECT_NE(capture_.Debug().find(Sjis("ＲＲＡファイルの中に指定のファイルは見つかりませんでした")), std::string::npos);
  // With archives off the plain files are read.
  SetArchiveUse(0);
  EXPECT_EQ(ReadAll("grp/tx_en1.png"), "plain file");
  SetArchiveUse(1);
  // Another extension no longer finds the archive.
  SetArchiveExtension("dat");
  EXPECT_EQ(ReadAll("grp/tx_en1.png"), "plain file");
}

// Remembered misses of an absolute path (no archive beside the folders, a
// name in another case) are kept without reading the folders again, however
// fresh the folders, and give way at once to an archive made, renamed or
// deleted after them.
TEST_F(ArchiveFiles, ArchivesMadeAfterARememberedMissAreSeen) {
  dir_.Write("Sub/Grp/a.png", "plain");
  const std::string path = dir_.path().string() + "\\sub\\grp\\A.PNG";
  const char* a = path.c_str();
  EXPECT_EQ(ReadAll(a), "plain");
  uint64_t reads = plat::NoCaseFolderReads();
  EXPECT_EQ(ReadAll(a), "plain");
  EXPECT_EQ(plat::NoCaseFolderReads(), reads) << "the misses were not remembered";
  WriteArchive(dir_ / "Sub/GRP.HSD", {File("a.png", "inner")});
  EXPECT_EQ(ReadAll(a), "inner");
  ArchiveCacheEnd();
  std::filesystem::rename(dir_ / "Sub/GRP.HSD", dir_ / "sub.hsd.old");
  EXPECT_EQ(ReadAll(a), "plain");
  std::filesystem::rename(dir_ / "sub.hsd.old", dir_ / "SUB.hsd");
  EXPECT_EQ(ReadAll(a), "<none>");  // the archive holds no grp folder
  std::filesystem::remove(dir_ / "SUB.hsd");
  EXPECT_EQ(ReadAll(a), "plain");
}

// An archive read once is not kept past a change of its file: replaced by a
// rename, rewritten in place, or deleted (the plain folder beside it then
// serves), each is seen at the next open, as a plain file's change is. A file
// still open from the old archive reads on from it.
TEST_F(ArchiveFiles, ArchivesChangedAfterTheirFirstUseAreReadAfresh) {
  WriteArchive(dir_ / "grp.hsd", {File("a.txt", "first")});
  EXPECT_EQ(ReadAll("grp/a.txt"), "first");
  FileHandle held = FileOpenThunk("grp/a.txt", 0, 1, 0);
  ASSERT_NE(held, 0);

  WriteArchive(dir_ / "grp.new", {File("a.txt", "renamed over")});
  std::filesystem::rename(dir_ / "grp.new", dir_ / "grp.hsd");
  EXPECT_EQ(ReadAll("grp/a.txt"), "renamed over");
  char text[8] = {};
  EXPECT_EQ(FileReadThunk(text, 1, 5, held), 5u);
  EXPECT_STREQ(text, "first");
  EXPECT_EQ(FileCloseThunk(held), 0);

  WriteArchive(dir_ / "grp.hsd", {File("a.txt", "rewritten in place")});
  EXPECT_EQ(ReadAll("grp/a.txt"), "rewritten in place");

  // Rewritten in place at the same size, its two files swapping places: only
  // its time stamp tells (the old table would read the new bytes at the old
  // places). A file of the old archive with a read still pending is closed
  // after the new archive took its place (the sanitizer build sees any read
  // of the old archive's freed record).
  WriteArchive(dir_ / "grp.hsd", {File("a.txt", "short"), File("b.txt", "the longer")});
  const auto stamp = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
  std::filesystem::last_write_time(dir_ / "grp.hsd", stamp);
  EXPECT_EQ(ReadAll("grp/a.txt"), "short");
  const auto size = std::filesystem::file_size(dir_ / "grp.hsd");
  FileHandle pending = FileOpenThunk("grp/b.txt", 0, 1, 1);
  ASSERT_NE(pending, 0);
  char buffer[8] = {};
  EXPECT_EQ(FileReadThunk(buffer, 1, 8, pending), 8u);
  WriteArchive(dir_ / "grp.hsd", {File("a.txt", "the longer"), File("b.txt", "short")});
  ASSERT_EQ(std::filesystem::file_size(dir_ / "grp.hsd"), size);
  std::filesystem::last_write_time(dir_ / "grp.hsd", stamp + std::chrono::seconds(2));
  EXPECT_EQ(ReadAll("grp/a.txt"), "the longer");
  EXPECT_EQ(FileCloseThunk(pending), 0);

  dir_.Write("grp/a.txt", "the plain folder's");
  std::filesystem::remove(dir_ / "grp.hsd");
  EXPECT_EQ(ReadAll("grp/a.txt"), "the plain folder's");
  EXPECT_EQ(ReadAll("GRP/A.TXT"), "the plain folder's");
}

TEST_F(ArchiveFiles, NestedArchiveFoldersAndFullPaths) {
  PackNode sub;
  sub.name = "Deep";
  sub.folder = true;
  sub.children = {File("x.bin", "deep data")};
  WriteArchive(dir_ / "data.hsd", {sub, File("表.txt", "sjis")});
  EXPECT_EQ(ReadAll("data/deep/X.BIN"), "deep data");
  EXPECT_EQ(ReadAll(Sjis("data\\表.txt").c_str()), "sjis");
  std::string full = Sjis(dir_.path().string()) + "/data/Deep/x.bin";
  EXPECT_EQ(ReadAll(full.c_str()), "deep data");
  // An archive further down the tree.
  WriteArchive(dir_ / "lvl/inner.hsd", {File("f.txt", "inner")});
  EXPECT_EQ(ReadAll("lvl/inner/f.txt"), "inner");
  EXPECT_EQ(ReadAll("lvl/./inner/../inner/f.txt"), "inner");
}

TEST_F(ArchiveFiles, CacheIsSharedAndUnusedArchivesClose) {
  WriteArchive(dir_ / "grp.hsd", {File("a.txt", "A"), File("b.txt", "B")});
  FileHandle a = FileOpenThunk("grp/a.txt", 0, 1, 0);
  FileHandle b = FileOpenThunk("grp/b.txt", 0, 1, 0);
  ASSERT_NE(a, 0);
  ASSERT_NE(b, 0);
  int slot = -1;
  for (int i = 0; i < kMaxCachedArchives; ++i) {
    if (GetArchiveCacheUseCount(i) == 2) slot = i;
  }
  ASSERT_GE(slot, 0);  // one entry for both files
  EXPECT_EQ(FileCloseThunk(a), 0);
  EXPECT_EQ(FileCloseThunk(b), 0);
  EXPECT_EQ(FileCloseThunk(a), -1);  // closed already
  EXPECT_EQ(GetArchiveCacheUseCount(slot), 0);
  CloseUnusedArchives();
  EXPECT_EQ(GetArchiveCacheUseCount(slot), -1);

  char archive_path[1040], rest[1040];
  ASSERT_EQ(FindArchiveForPath("grp\\a.txt", &slot, archive_path, rest), 0);
  EXPECT_STREQ(rest, "a.txt");
  std::string key = archive_path;
  EXPECT_EQ(key.substr(key.size() - 8), "/GRP.HSD");
  EXPECT_EQ(GetArchiveCacheUseCount(slot), 1);
  EXPECT_EQ(OpenArchiveCached(slot, archive_path, 0, 0), slot);  // found by the hint
  EXPECT_EQ(GetArchiveCacheUseCount(slot), 2);
  EXPECT_EQ(FindArchiveForPath("grp/none/x", &slot, nullptr, rest), 0);  // remembered folder
  EXPECT_STREQ(rest, "none/x");
  EXPECT_EQ(GetArchiveCacheUseCount(slot), 3);
  const int held = slot;
  EXPECT_EQ(FindArchiveForPath("nothing/x", &slot, nullptr, rest), -1);
  // The three uses taken here end, so that the archive closes with the rest.
  for (int i = 0; i < 3; ++i) ReleaseArchive(held);
  EXPECT_EQ(GetArchiveCacheUseCount(held), 0);
}

TEST_F(ArchiveFiles, BadHandlesAreRefused) {
  dir_.Write("p.txt", "p");
  EXPECT_EQ(ArchiveFileTell(0), -1);
  EXPECT_EQ(ArchiveFileSeek(0, 0, 0), -1);
  EXPECT_EQ(ArchiveFileEof(0), -1);
  EXPECT_EQ(ArchiveFileIdle(0), -1);
  EXPECT_EQ(ArchiveFileClose(0), -1);
  char b[4];
  EXPECT_EQ(ArchiveFileRead(b, 1, 4, 0), 0u);
  EXPECT_EQ(ArchiveFileTell(0xF0000000 | 511), -1);
  EXPECT_EQ(ArchiveFileTell(0xF0000000 | 512), -1);
  EXPECT_EQ(ArchiveFileTell(0xF0000000 | 5000), -1);
  FileHandle f = FileOpenThunk("p.txt", 0, 1, 0);
  ASSERT_NE(f, 0);
  EXPECT_EQ(f & 0xF0000000, 0xF0000000);
  EXPECT_EQ(ArchiveFileTell(f & 0x0FFFFFFF), -1);  // untagged
  EXPECT_EQ(FileCloseThunk(f), 0);
  EXPECT_EQ(ArchiveFileTell(f), -1);
  EXPECT_EQ(ArchiveFileFindNext(-1, nullptr), -1);
  EXPECT_EQ(ArchiveFileFindClose(-1), -1);
}

TEST_F(ArchiveFiles, The513thOpenFails) {
  dir_.Write("p.txt", "p");
  std::vector<FileHandle> open;
  for (int i = 0; i < kMaxOpenFiles; ++i) {
    FileHandle f = FileOpenThunk("p.txt", 0, 1, 0);
    ASSERT_NE(f, 0) << i;
    open.push_back(f);
  }
  capture_.Clear();
  EXPECT_EQ(FileOpenThunk("p.txt", 0, 1, 0), 0);
  EXPECT_NE(capture_.Debug().find(Sjis("同時に開けるファイルの数が限界を超えました")), std::string::npos);
  EXPECT_EQ(FileCloseThunk(open.back()), 0);
  open.pop_back();
  FileHandle again = FileOpenThunk("p.txt", 0, 1, 0);
  EXPECT_NE(again, 0);
  open.push_back(again);
  for (FileHandle f : open) FileCloseThunk(f);
  EXPECT_EQ(GetOpenArchiveFileCount(), 0);
}

TEST_F(ArchiveFiles, ExtensionSetting) {
  SetArchiveExtension(std::string(64, 'x').c_str());
  EXPECT_STREQ(GetArchiveExtension(), "RRA");
  SetArchiveExtension(std::string(63, 'x').c_str());
  EXPECT_EQ(std::string(GetArchiveExtension()), std::string(63, 'x'));
  SetArchiveExtensionEntry("");
  EXPECT_STREQ(GetArchiveExtension(), "RRA");
  WriteArchive(dir_ / "grp.RRA", {File("a.txt", "default extension")});
  EXPECT_EQ(ReadAll("grp/a.txt"), "default extension");
}

TEST_F(ArchiveFiles, SearchesInsideAndOutsideArchives) {
  WriteArchive(dir_ / "grp.hsd", {File("one.png", "1"), File("two.PNG", "22"), File("x.txt", "")});
  dir_.Write("plain/q.png", "q");
  FileInfo info;
  SearchHandle s = FileFindFirstThunk("grp\\*.PNG", &info);
  ASSERT_NE(s, -1);
  std::vector<std::string> names = {info.name};
  while (FileFindNextThunk(s, &info) == 0) names.push_back(info.name);
  EXPECT_EQ(FileFindCloseThunk(s), 0);
  EXPECT_EQ(names, (std::vector<std::string>{".", "one.png", "two.PNG"}));
  s = FileFindFirstThunk("plain\\*.png", &info);
  ASSERT_NE(s, -1);
  EXPECT_STREQ(info.name, "q.png");
  EXPECT_EQ(FileFindNextThunk(s, &info), -1);
  FileFindCloseThunk(s);
  EXPECT_EQ(FileFindFirstThunk("grp\\none\\*", &info), -1);
}

TEST_F(ArchiveFiles, NoWaitAndCachedReadsThroughTheTable) {
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 / 13);
  WriteArchive(dir_ / "grp.hsd", {File("big.bin", big)}, 1);
  dir_.Write("big.bin", big);
  for (const char* path : {"grp/big.bin", "big.bin"}) {
    for (int cache : {0, 1}) {
      for (int no_wait : {0, 1}) {
        FileHandle f = FileOpenThunk(path, cache, 1, no_wait);
        ASSERT_NE(f, 0);
        std::string got(big.size(), '\0');
        size_t at = 0;
        while (at < got.size()) {
          size_t n = FileReadThunk(&got[at], 1, 10007, f);
          while (!FileIdleCheckThunk(f)) plat::Sleep(0);
          if (n == 0) break;
          at += n;
        }
        EXPECT_EQ(got, big) << path << cache << no_wait;
        EXPECT_EQ(FileSeekThunk(f, 100, 0), 0);
        EXPECT_EQ(FileTellThunk(f), 100);
        EXPECT_EQ(FileEofThunk(f), 0);
        FileCloseThunk(f);
      }
    }
  }
}

// Two threads reading files of one archive, which share its file position,
// each get their own bytes.
TEST_F(ArchiveFiles, ConcurrentReadersOfOneArchive) {
  std::string one(50000, '1'), two(50000, '2');
  for (size_t i = 0; i < one.size(); i += 7) one[i] = static_cast<char>(i);
  for (size_t i = 0; i < two.size(); i += 5) two[i] = static_cast<char>(i * 3);
  WriteArchive(dir_ / "grp.hsd", {File("one.bin", one), File("two.bin", two)}, 1);
  auto reader = [&](const char* path, const std::string& expected, int* failures) {
    for (int round = 0; round < 20; ++round) {
      FileHandle f = FileOpenThunk(path, 0, 1, 0);
      if (!f) {
        ++*failures;
        continue;
      }
      std::string got(expected.size(), '\0');
      size_t at = 0, n;
      while (at < got.size() && (n = FileReadThunk(&got[at], 1, 999, f)) > 0) at += n;
      if (got != expected) ++*failures;
      FileCloseThunk(f);
    }
  };
  int failures_one = 0, failures_two = 0;
  std::thread other(reader, "grp/one.bin", std::cref(one), &failures_one);
  reader("grp/two.bin", two, &failures_two);
  other.join();
  EXPECT_EQ(failures_one, 0);
  EXPECT_EQ(failures_two, 0);
}

}  // namespace
