#include "platform/kernel/file.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/sjis.h"

using testsupport::ScratchDir;
using testsupport::Sjis;

namespace {

std::string LibraryPath(const ScratchDir& dir, const std::string& relative_utf8) {
  return Sjis(dir.path().string()) + "\\" + Sjis(relative_utf8);
}

std::vector<std::string> FindAll(const std::string& pattern) {
  std::vector<std::string> names;
  plat::FindData data;
  plat::Search* s = plat::FindFirstFile(pattern.c_str(), &data);
  if (!s) return names;
  do {
    names.push_back(data.name);
  } while (plat::FindNextFile(s, &data));
  EXPECT_EQ(plat::FindClose(s), 0);
  return names;
}

TEST(PlatformFileNames, BackslashSeparatesButNotAsTrailByte) {
  // 表 is 0x95 0x5C in code page 932: its second byte is not a separator.
  EXPECT_EQ(plat::NativePath(Sjis("a\\表\\b.png").c_str()), "a/表/b.png");
  EXPECT_EQ(plat::FromHostName("表.png"), Sjis("表.png"));
  // Bytes that are not code page 932 pass unchanged.
  EXPECT_EQ(plat::Cp932ToUtf8(std::string("\x81", 1)), std::string("\x81", 1));
}

TEST(PlatformFileNames, ResolvesEachElementWithoutCase) {
  ScratchDir dir;
  dir.Write("Grp/Sub/Tx_En1.PNG", "hello");
  std::string path = LibraryPath(dir, "grp\\SUB/tx_en1.png");
  plat::File* f = plat::OpenFileForRead(path.c_str());
  ASSERT_NE(f, nullptr);
  char buffer[8] = {};
  EXPECT_EQ(plat::ReadFile(f, buffer, sizeof(buffer)), 5);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(plat::CloseFile(f), 0);
  // A name that exists as written wins over another case.
  dir.Write("Grp/Sub/tx_en1.png", "exact");
  f = plat::OpenFileForRead(LibraryPath(dir, "Grp/Sub/tx_en1.png").c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(plat::ReadFile(f, buffer, 5), 5);
  EXPECT_EQ(std::string(buffer, 5), "exact");
  plat::CloseFile(f);
  EXPECT_EQ(plat::OpenFileForRead(LibraryPath(dir, "grp/none/tx_en1.png").c_str()), nullptr);
  EXPECT_EQ(plat::OpenFileForRead(LibraryPath(dir, "grp").c_str()), nullptr);  // a folder
}

TEST(PlatformFiles, ReadSeekAndSize) {
  ScratchDir dir;
  std::string path = LibraryPath(dir, "f.bin");
  plat::WriteFile* w = plat::CreateNewFile(path.c_str());
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(plat::WriteToFile(w, "0123456789ab", 12));
  plat::CloseWriteFile(w);

  plat::File* f = plat::OpenFileForRead(path.c_str());
  plat::File* g = plat::OpenFileForRead(path.c_str());  // shared reading
  ASSERT_NE(f, nullptr);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(plat::GetFileSize(f), 12);
  EXPECT_EQ(plat::SeekFile(f, -3, 2), 9);
  char b[8] = {};
  EXPECT_EQ(plat::ReadFile(f, b, 8), 3);
  EXPECT_EQ(std::string(b, 3), "9ab");
  EXPECT_EQ(plat::ReadFile(f, b, 8), 0);
  EXPECT_EQ(plat::SeekFile(f, -1, 0), -1);
  EXPECT_EQ(plat::SeekFile(f, 0, 1), 12);
  EXPECT_EQ(plat::SeekFile(f, 0, 7), -1);
  plat::CloseFile(g);
  plat::CloseFile(f);
  EXPECT_TRUE(plat::PathExists(LibraryPath(dir, "F.BIN").c_str()));
  EXPECT_TRUE(plat::DeleteFile(LibraryPath(dir, "F.bin").c_str()));  // found without case too
  EXPECT_FALSE(plat::PathExists(path.c_str()));
}

TEST(PlatformFind, WindowsWildcardsOrderAndData) {
  ScratchDir dir;
  dir.Write("d/B.png", "12345");
  dir.Write("d/a.PNG", "1");
  dir.Write("d/README", "");
  dir.Write("d/x.png.bak", "");
  dir.Write("d/表.png", "");
  std::filesystem::create_directories(dir.path() / "d" / "Sub");
  std::string d = LibraryPath(dir, "D");  // found without regard to case

  std::vector<std::string> all = FindAll(d + "\\*.*");
  std::vector<std::string> expect_all = {".", "..", "a.PNG", "B.png", "README", "Sub", "x.png.bak",
                                         Sjis("表.png")};
  EXPECT_EQ(all, expect_all);
  EXPECT_EQ(FindAll(d + "\\*"), expect_all);
  std::vector<std::string> png = {"a.PNG", "B.png", Sjis("表.png")};
  EXPECT_EQ(FindAll(d + "/*.png"), png);
  EXPECT_EQ(FindAll(d + "\\?.png"), (std::vector<std::string>{"a.PNG", "B.png", Sjis("表.png")}));
  EXPECT_EQ(FindAll(d + "\\*."), (std::vector<std::string>{".", "..", "README", "Sub"}));
  EXPECT_TRUE(FindAll(d + "\\*.gif").empty());
  EXPECT_EQ(plat::FindFirstFile((d + "\\nothere\\*").c_str(), nullptr), nullptr);

  plat::FindData data;
  plat::Search* s = plat::FindFirstFile((d + "\\b.PNG").c_str(), &data);
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(data.name, "B.png");
  EXPECT_EQ(data.size, 5u);
  EXPECT_EQ(data.attributes & plat::kFileAttributeDirectory, 0u);
  EXPECT_NE(data.last_write_time, 0u);
  EXPECT_FALSE(plat::FindNextFile(s, &data));
  plat::FindClose(s);
  s = plat::FindFirstFile((d + "\\sub").c_str(), &data);
  ASSERT_NE(s, nullptr);
  EXPECT_NE(data.attributes & plat::kFileAttributeDirectory, 0u);
  plat::FindClose(s);
}

TEST(PlatformFind, WriteTimeIsTheFilesTime) {
  ScratchDir dir;
  std::string host = dir.Write("t.txt", "x");
  auto when = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  std::filesystem::last_write_time(host, when);
  auto sys = std::chrono::file_clock::to_sys(std::filesystem::last_write_time(host));
  int64_t unix_seconds = std::chrono::duration_cast<std::chrono::seconds>(sys.time_since_epoch()).count();
  plat::FindData data;
  plat::Search* s = plat::FindFirstFile(LibraryPath(dir, "t.txt").c_str(), &data);
  ASSERT_NE(s, nullptr);
  plat::FindClose(s);
  EXPECT_EQ(data.last_write_time / 10000000, plat::UnixTimeToFileTime(unix_seconds, 0) / 10000000);
  EXPECT_LE(data.creation_time, data.last_write_time);
}

TEST(PlatformFileTimes, ConversionToLocalDate) {
  EXPECT_EQ(plat::UnixTimeToFileTime(0, 0), 116444736000000000ull);
  EXPECT_EQ(plat::UnixTimeToFileTime(1, 500), 116444736000000000ull + 10000005ull);
  std::time_t t = 1700000000;  // 2023-11-14 22:13:20 UTC
  std::tm expected = *std::localtime(&t);
  int out[6];
  ASSERT_EQ(plat::FileTimeToLocalDate(plat::UnixTimeToFileTime(t, 0), out), 0);
  EXPECT_EQ(out[0], expected.tm_year + 1900);
  EXPECT_EQ(out[1], expected.tm_mon + 1);
  EXPECT_EQ(out[2], expected.tm_mday);
  EXPECT_EQ(out[3], expected.tm_hour);
  EXPECT_EQ(out[4], expected.tm_min);
  EXPECT_EQ(out[5], expected.tm_sec);
}

TEST(PlatformDirectories, CurrentFolderAndTemporaryFiles) {
  ScratchDir dir;
  testsupport::WorkingDirGuard guard;
  std::filesystem::create_directories(dir.path() / "Work");
  ASSERT_TRUE(plat::SetCurrentDirectory(LibraryPath(dir, "work").c_str()));
  char buffer[1024];
  uint32_t n = plat::GetCurrentDirectory(sizeof(buffer), buffer);
  EXPECT_EQ(std::string(buffer, n), Sjis((dir.path() / "Work").string()));
  EXPECT_EQ(plat::GetCurrentDirectory(3, buffer), n + 1);  // too small: the size needed
  EXPECT_FALSE(plat::SetCurrentDirectory(LibraryPath(dir, "none").c_str()));

  n = plat::GetTempDirectory(sizeof(buffer), buffer);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(buffer[n - 1], '/');
  std::set<std::string> names;
  for (int i = 0; i < 20; ++i) {
    char name[260];
    ASSERT_TRUE(plat::GetTempFileName(LibraryPath(dir, "").c_str(), "tmp", name));
    EXPECT_TRUE(plat::PathExists(name));
    EXPECT_NE(std::string(name).find("tmp"), std::string::npos);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 20u);
}

}  // namespace
