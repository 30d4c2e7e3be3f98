#include "lib/core/plain_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/kernel/file.h"
#include "platform/kernel/kernel.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sjis.h"

using testsupport::ScratchDir;
using testsupport::Sjis;

namespace {

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

void WaitIdle(FileHandle f) {
  while (!PlainFileIdleCheck(f)) plat::Sleep(0);
}

struct Mode {
  const char* name;
  int cache;
  int no_wait;
};
const Mode kModes[] = {{"direct", 0, 0}, {"cached", 1, 0}, {"no-wait", 0, 1}, {"cached no-wait", 1, 1}};

TEST(PlainFile, PartialElementsAndTheEndFlagInEveryMode) {
  ScratchDir dir;
  std::string path = Sjis(dir.Write("f.bin", "abcdefghijklmnopqrst"));  // 20 bytes
  for (const Mode& m : kModes) {
    SCOPED_TRACE(m.name);
    FileHandle f = PlainFileOpen(path.c_str(), m.cache, 1, m.no_wait);
    ASSERT_NE(f, 0);
    EXPECT_EQ(PlainFileSeek(f, 10, 0), 0);
    char out[20] = {};
    EXPECT_EQ(PlainFileRead(out, 4, 5, f), 2u);
    WaitIdle(f);
    EXPECT_EQ(std::string(out, 8), "klmnopqr");
    EXPECT_EQ(PlainFileTell(f), 18);
    EXPECT_EQ(PlainFileEof(f), 0);
    EXPECT_EQ(PlainFileRead(out, 4, 1, f), 0u);  // less than one element left
    EXPECT_EQ(PlainFileEof(f), -1);
    EXPECT_EQ(PlainFileSeek(f, 0, 2), 0);
    EXPECT_EQ(PlainFileEof(f), 0);
    EXPECT_EQ(PlainFileRead(out, 1, 1, f), 0u);
    EXPECT_EQ(PlainFileEof(f), -1);
    EXPECT_EQ(PlainFileSeek(f, -1, 0), -1);  // never before the start
    EXPECT_EQ(PlainFileTell(f), 20);
    EXPECT_EQ(PlainFileRead(out, 0, 5, f), 0u);
    EXPECT_EQ(PlainFileClose(f), 0);
  }
}

TEST(PlainFile, MissingFileFailsInEveryMode) {
  ScratchDir dir;
  std::string path = Sjis(dir / "none.bin");
  for (const Mode& m : kModes) EXPECT_EQ(PlainFileOpen(path.c_str(), m.cache, 1, m.no_wait), 0);
  EXPECT_EQ(PlainFileClose(0), -1);
}

// Thousands of random seeks and reads over a 1 MB file give the same bytes and
// results in every mode as a model of the file in memory.
TEST(PlainFile, DifferentialRandomAccessOverAllModes) {
  ScratchDir dir;
  const size_t kSize = 1 << 20;
  std::string data = RandomBytes(kSize, 7);
  std::string path = Sjis(dir.Write("big.bin", data));
  for (const Mode& m : kModes) {
    SCOPED_TRACE(m.name);
    FileHandle f = PlainFileOpen(path.c_str(), m.cache, 1, m.no_wait);
    ASSERT_NE(f, 0);
    std::mt19937 rng(99);
    int64_t position = 0;
    bool end = false;
    std::vector<char> buffer(70000);
    for (int op = 0; op < 3000; ++op) {
      uint32_t kind = rng() % 8;
      if (kind < 3) {
        int origin = static_cast<int>(rng() % 3);
        int64_t offset = static_cast<int64_t>(rng() % (kSize + 2000)) - 1000;
        if (origin == 2) offset -= static_cast<int64_t>(kSize) / 2;
        int64_t base = origin == 0 ? 0 : origin == 1 ? position : static_cast<int64_t>(kSize);
        int64_t target = base + offset;
        int expected = target < 0 ? -1 : 0;
        ASSERT_EQ(PlainFileSeek(f, offset, origin), expected);
        if (expected == 0) {
          position = target;
          end = false;
        }
      } else {
        size_t element = 1 + rng() % 16;
        size_t count = rng() % (rng() % 4 == 0 ? 4000 : 200);
        size_t expected_count = 0;
        if (position >= static_cast<int64_t>(kSize)) {
          end = true;
        } else {
          size_t remaining = kSize - static_cast<size_t>(position);
          expected_count = element * count > remaining ? remaining / element : count;
          if (expected_count == 0 && element * count > remaining) end = true;
        }
        size_t got = PlainFileRead(buffer.data(), element, count, f);
        ASSERT_EQ(got, expected_count) << "op " << op;
        WaitIdle(f);
        ASSERT_EQ(std::memcmp(buffer.data(), data.data() + position, got * element), 0) << "op " << op;
        position += static_cast<int64_t>(got * element);
      }
      ASSERT_EQ(PlainFileTell(f), position);
      ASSERT_EQ(PlainFileEof(f), end ? -1 : 0);
    }
    EXPECT_EQ(PlainFileClose(f), 0);
  }
}

TEST(PlainFile, SequentialCachedReadsSeeEveryByte) {
  ScratchDir dir;
  std::string data = RandomBytes(300000, 3);
  std::string path = Sjis(dir.Write("seq.bin", data));
  FileHandle f = PlainFileOpen(path.c_str(), 1, 1, 0);
  ASSERT_NE(f, 0);
  std::string got;
  char buffer[4096];
  size_t n;
  while ((n = PlainFileRead(buffer, 1, sizeof(buffer), f)) > 0) {
    got.append(buffer, n);
    plat::Sleep(0);
  }
  EXPECT_EQ(got, data);
  EXPECT_EQ(PlainFileClose(f), 0);
}

TEST(MakeFullPath, WindowsBases) {
  char out[kMaxPath];
  ASSERT_EQ(MakeFullPath("a/./b/../c", out, "C:\\x"), 0);
  EXPECT_STREQ(out, "C:\\x\\a\\c");
  MakeFullPath("\\d", out, "C:\\x");
  EXPECT_STREQ(out, "C:\\d");
  MakeFullPath("..\\e", out, "C:\\x\\y");
  EXPECT_STREQ(out, "C:\\x\\e");
  MakeFullPath("\\\\srv\\f", out, "C:\\x");
  EXPECT_STREQ(out, "\\\\srv\\f");
  MakeFullPath("D:\\g\\h", out, "C:\\x");
  EXPECT_STREQ(out, "D:\\g\\h");
  MakeFullPath("..\\..\\..\\z", out, "C:\\x");  // ".." stops at the drive
  EXPECT_STREQ(out, "C:\\z");
  MakeFullPath(nullptr, out, "C:\\x");
  EXPECT_STREQ(out, "C:\\x");
  MakeFullPath("a//b\\", out, "C:\\x\\");
  EXPECT_STREQ(out, "C:\\x\\a\\b");
  // The last element is kept as it is.
  MakeFullPath("a\\..", out, "C:\\x");
  EXPECT_STREQ(out, "C:\\x\\a\\..");
}

TEST(MakeFullPath, PosixBases) {
  char out[kMaxPath];
  MakeFullPath("/d", out, "/home/u");
  EXPECT_STREQ(out, "/d");
  MakeFullPath("\\d\\e", out, "/home/u");
  EXPECT_STREQ(out, "/d/e");
  MakeFullPath("grp\\tx_en1.png", out, "/home/u");
  EXPECT_STREQ(out, "/home/u/grp/tx_en1.png");
  MakeFullPath("../../../x", out, "/home/u");
  EXPECT_STREQ(out, "/x");
  MakeFullPath("a", out, "/");
  EXPECT_STREQ(out, "/a");
  MakeFullPath("../b", out, "/");
  EXPECT_STREQ(out, "/b");
  MakeFullPath("./", out, "/home");
  EXPECT_STREQ(out, "/home");
}

TEST(MakeFullPath, DoubleByteNamesAndLimits) {
  char out[kMaxPath];
  // The second byte of 表 is 0x5C: it neither splits nor ends an element.
  std::string name = Sjis("表\\x\\..\\表.png");
  MakeFullPath(name.c_str(), out, "C:\\d");
  EXPECT_EQ(std::string(out), Sjis("C:\\d\\表\\表.png"));
  MakeFullPath(Sjis("..\\y").c_str(), out, Sjis("C:\\表").c_str());
  EXPECT_STREQ(out, "C:\\y");
  char upper[kMaxPath];
  MakeFullPathUpper(Sjis("ab\\表c").c_str(), upper, sizeof(upper), "/home/u");
  EXPECT_EQ(std::string(upper), Sjis("/HOME/U/AB/表C"));
  std::string longer(300, 'a');
  EXPECT_EQ(MakeFullPath(longer.c_str(), out, "C:\\x"), -1);
  EXPECT_STREQ(out, "");
}

TEST(PlainFileHelpers, TemporaryFileAndSearch) {
  char name[kMaxPath];
  plat::WriteFile* f = CreateTempFile(name);
  ASSERT_NE(f, nullptr);
  EXPECT_NE(std::string(name).find("tmp"), std::string::npos);
  EXPECT_TRUE(plat::WriteToFile(f, "abc", 3));
  plat::CloseWriteFile(f);
  FileHandle r = PlainFileOpen(name, 0, 1, 0);
  ASSERT_NE(r, 0);
  char buffer[3];
  EXPECT_EQ(PlainFileRead(buffer, 1, 3, r), 3u);
  PlainFileClose(r);
  EXPECT_TRUE(plat::DeleteFile(name));

  ScratchDir dir;
  dir.Write("s/one.txt", "1");
  dir.Write("s/two.txt", "22");
  FileInfo info;
  SearchHandle s = PlainFindFirst(Sjis(dir / "s\\*.TXT").c_str(), &info);
  ASSERT_NE(s, -1);
  EXPECT_STREQ(info.name, "one.txt");
  EXPECT_EQ(info.is_directory, 0);
  EXPECT_EQ(info.size, 1u);
  EXPECT_GT(info.last_write_time[0], 2000);
  EXPECT_EQ(PlainFindNext(s, &info), 0);
  EXPECT_STREQ(info.name, "two.txt");
  EXPECT_EQ(PlainFindNext(s, nullptr), -1);
  EXPECT_EQ(PlainFindClose(s), 0);
  EXPECT_EQ(PlainFindFirst(Sjis(dir / "s\\*.gif").c_str(), &info), -1);
}

TEST(PlainFileHelpers, CurrentFolder) {
  ScratchDir dir;
  testsupport::WorkingDirGuard guard;
  ASSERT_NE(PlainSetCurrentDir(Sjis(dir.path().string()).c_str()), 0);
  char buffer[kMaxPath];
  int n = PlainGetCurrentDir(buffer);
  EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), Sjis(dir.path().string()));
  char out[kMaxPath];
  MakeFullPath("x\\y", out, nullptr);  // the base is the table's current folder
  EXPECT_EQ(std::string(out), Sjis(dir.path().string()) + "/x/y");
}

}  // namespace
