#include "platform/kernel/path_lookup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/kernel/file.h"
#include "platform/kernel/folder_watch.h"
#include "tests/support/scratch_dir.h"

using testsupport::ScratchDir;

namespace {

// Sets a folder's modification time an hour back, so that its look-ups are
// remembered (a folder changed in the last seconds is always read again).
void Age(const std::string& folder) {
  timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 3600;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, folder.c_str(), times, 0), 0);
}

std::string Content(const std::string& path) {
  plat::File* f = plat::OpenFileForRead(path.c_str());
  if (!f) return "(none)";
  char buffer[16] = {};
  int64_t n = plat::ReadFile(f, buffer, sizeof(buffer));
  plat::CloseFile(f);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

// A look-up that read folders is remembered, and a file created, renamed or
// deleted after it, or a folder renamed, is seen at the next look-up.
TEST(PlatformPathLookup, RemembersUntilAFolderChanges) {
  ScratchDir dir;
  dir.Write("Grp/a.png", "a");
  std::string root = dir.path().string();
  Age(root);
  Age(root + "/Grp");
  std::string b = root + "\\grp\\B.PNG";
  EXPECT_EQ(Content(b), "(none)");
  uint64_t reads = plat::NoCaseFolderReads();
  EXPECT_EQ(Content(b), "(none)");
  EXPECT_EQ(plat::NoCaseFolderReads(), reads) << "the missing file's look-up was not remembered";

  dir.Write("Grp/b.png", "b");
  EXPECT_EQ(Content(b), "b");
  Age(root + "/Grp");
  EXPECT_EQ(Content(b), "b");
  reads = plat::NoCaseFolderReads();
  EXPECT_EQ(Content(b), "b");
  EXPECT_EQ(plat::NoCaseFolderReads(), reads);

  std::filesystem::rename(root + "/Grp/b.png", root + "/Grp/c.png");
  EXPECT_EQ(Content(b), "(none)");
  EXPECT_EQ(Content(root + "/GRP/C.png"), "b");
  Age(root + "/Grp");
  EXPECT_EQ(Content(root + "/GRP/C.png"), "b");
  std::filesystem::remove(root + "/Grp/c.png");
  EXPECT_EQ(Content(root + "/GRP/C.png"), "(none)");

  // An archive-like name beside the folder, missing and then made.
  EXPECT_EQ(Content(root + "/GRP.HSD"), "(none)");
  dir.Write("grp.hsd", "archive");
  EXPECT_EQ(Content(root + "/GRP.HSD"), "archive");

  // The folder renamed: what lay in it is no longer found under the old name.
  Age(root);
  EXPECT_EQ(Content(root + "/grp/A.png"), "a");
  std::filesystem::rename(root + "/Grp", root + "/Gfx");
  EXPECT_EQ(Content(root + "/grp/A.png"), "(none)");
  EXPECT_EQ(Content(root + "/GFX/A.png"), "a");
  // A name that exists as written still wins over another case.
  dir.Write("Gfx/A.png", "exact");
  EXPECT_EQ(Content(root + "/GFX/A.png"), "exact");
}

// An absolute path is remembered by watches on its folders, from the root
// down: no settling time, and a change anywhere on the path is seen at once,
// while other names changing beside it cost nothing.
TEST(PlatformPathLookup, WatchedPathsSeeChangesAtOnce) {
  ScratchDir dir(testsupport::WatchableTempFolder());
  dir.Write("Top/Grp/a.png", "a");
  std::string root = dir.path().string();
  std::string b = root + "/Top/Grp/B.PNG";
  EXPECT_EQ(Content(b), "(none)");
  uint64_t reads = plat::NoCaseFolderReads();
  dir.Write("unrelated.txt", "x");
  dir.Write("Top/Grp/other.png", "x");
  EXPECT_EQ(Content(b), "(none)");
  EXPECT_EQ(plat::NoCaseFolderReads(), reads) << "a fresh folder's look-up was not remembered";
  {
    plat::PathCheckBatch batch;  // a change made before the batch is seen in it
    dir.Write("Top/Grp/b.png", "b");
    EXPECT_EQ(Content(b), "b");
  }
  // The match without case changes with the names in the folder.
  std::filesystem::rename(root + "/Top/Grp/b.png", root + "/Top/Grp/b.old");
  dir.Write("Top/Grp/B.Png", "B");
  EXPECT_EQ(Content(b), "B");
  // An ancestor renamed, then another put in its place.
  std::filesystem::rename(root + "/Top", root + "/Gone");
  EXPECT_EQ(Content(b), "(none)");
  dir.Write("TOP/GRP/b.png", "new");
  EXPECT_EQ(Content(b), "new");
}

// A folder's watch forgets a name once the file is deleted or renamed away,
// so that a folder of passing files (temporary copies, each named once) does
// not grow it. The next look-up of the name still sees it come back.
TEST(PlatformPathLookup, AWatchForgetsTheNamesOfFilesThatWentAway) {
  ScratchDir dir;
  dir.Write("Tmp/keep", "k");
  const std::string root = dir.path().string();
  EXPECT_EQ(Content(root + "/TMP/KEEP"), "k");
  const size_t names = plat::FolderWatchNameCount();
  for (int i = 0; i < 40; ++i) {
    const std::string name = "copy" + std::to_string(i);
    EXPECT_EQ(Content(root + "/Tmp/" + name), "(none)");
    dir.Write("Tmp/" + name, "c");
    EXPECT_EQ(Content(root + "/Tmp/" + name), "c");
    if (i % 2 == 0) {
      std::filesystem::remove(root + "/Tmp/" + name);
    } else {
      std::filesystem::rename(root + "/Tmp/" + name, root + "/moved");
    }
  }
  EXPECT_EQ(plat::FolderWatchNameCount(), names);
  EXPECT_EQ(Content(root + "/Tmp/copy0"), "(none)");
  dir.Write("Tmp/copy0", "again");
  EXPECT_EQ(Content(root + "/Tmp/COPY0"), "again");
}

// A child made by fork shares the parent's watch descriptor at first; the
// reports it would read there are lost to the parent, so it takes its own.
TEST(PlatformPathLookup, AChildLeavesTheParentsReports) {
  ScratchDir dir;
  dir.Write("Grp/a.png", "a");
  std::string b = dir.path().string() + "/Grp/B.PNG";
  EXPECT_EQ(Content(b), "(none)");
  dir.Write("Grp/b.png", "b");
  pid_t child = ::fork();
  if (child == 0) _exit(Content(b) == "b" ? 0 : 1);
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Content(b), "b");
}

// A relative path keeps the folders' times, remembered once they settled.
TEST(PlatformPathLookup, RelativePathsAreCheckedByTimes) {
  ScratchDir dir;
  dir.Write("Grp/a.png", "a");
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(Content("grp/A.png"), "a");
  uint64_t reads = plat::NoCaseFolderReads();
  EXPECT_EQ(Content("grp/A.png"), "a");
  EXPECT_GT(plat::NoCaseFolderReads(), reads) << "a folder changed just now was trusted";
  Age(dir.path().string());
  Age(dir / "Grp");
  EXPECT_EQ(Content("grp/A.png"), "a");
  reads = plat::NoCaseFolderReads();
  EXPECT_EQ(Content("grp/A.png"), "a");
  EXPECT_EQ(plat::NoCaseFolderReads(), reads);
  dir.Write("Grp/A.png", "A");
  EXPECT_EQ(Content("grp/A.png"), "A");
  std::filesystem::current_path(previous);
}

}  // namespace
