// The packer as users run it: arguments, errors, and archives the library reads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "lib/core/archive_files.h"
#include "lib/core/file_functions.h"
#include "lib/core/pack_archive.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sjis.h"

using testsupport::ScratchDir;
using testsupport::Sjis;

namespace {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

ToolRun Pack(const ScratchDir& dir, const std::string& arguments) {
  std::string out = dir / "stdout.txt", err = dir / "stderr.txt";
  std::string command = std::string(RORUD_BINARY_DIR) + "/tools/rrpack " + arguments + " >" + out + " 2>" + err;
  int status = std::system(command.c_str());
  ToolRun r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = Slurp(out);
  r.err = Slurp(err);
  return r;
}

std::string ReadThroughLibrary(const std::string& path) {
  FileHandle f = FileOpenThunk(path.c_str(), 0, 1, 0);
  if (!f) return "<none>";
  std::string data;
  char buffer[65536];
  size_t n;
  while ((n = FileReadThunk(buffer, 1, sizeof(buffer), f)) > 0) data.append(buffer, n);
  FileCloseThunk(f);
  return data;
}

TEST(Rrpack, HelpAndArgumentErrors) {
  ScratchDir dir;
  ToolRun help = Pack(dir, "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: rrpack", 0), 0u);
  EXPECT_NE(help.out.find("--extension"), std::string::npos);
  EXPECT_EQ(Pack(dir, "").status, 2);
  EXPECT_EQ(Pack(dir, "-V 5 x").status, 2);
  EXPECT_EQ(Pack(dir, "--bogus x").status, 2);
  EXPECT_EQ(Pack(dir, "-e a/b x").status, 2);
  ToolRun missing = Pack(dir, dir / "none");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("is not a folder"), std::string::npos);
}

TEST(Rrpack, NamesThatClashWithoutCaseAreRefused) {
  ScratchDir dir;
  dir.Write("d/A.txt", "1");
  dir.Write("d/a.txt", "2");
  ToolRun r = Pack(dir, dir / "d");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("differ only in case"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "d.RRA"));
  EXPECT_FALSE(std::filesystem::exists(dir / "d.RRA.part"));
}

// A tree packed by the tool reads back byte for byte through the library's
// archive-aware files, in every version and with both keys.
TEST(Rrpack, PackedFolderReadsBackThroughTheLibrary) {
  ScratchDir dir;
  testsupport::WorkingDirGuard guard;
  std::mt19937 rng(3);
  std::string noise(140000, '\0'), pattern;
  for (char& c : noise) c = static_cast<char>(rng());
  while (pattern.size() < 200000) pattern += "sprite row " + std::to_string(pattern.size() % 97);
  struct Item {
    std::string path;
    std::string data;
  } items[] = {
      {"grp/tx_en1.png", pattern.substr(0, 5000)},
      {"grp/Mixed/Case.PNG", "case"},
      {"grp/表/表.png", "trail byte"},
      {"grp/empty.bin", ""},
      {"grp/big/noise.bin", noise},
      {"grp/big/pattern.bin", pattern},
  };
  for (const Item& item : items) dir.Write(item.path, item.data);
  SetArchiveUse(1);
  InstallFileFunctions(nullptr);
  SetArchiveExtension("hsd");
  ASSERT_EQ(ArchiveFileSetDir(Sjis(dir.path().string()).c_str()), 0);
  std::filesystem::rename(dir.path() / "grp", dir.path() / "src");
  struct Variant {
    const char* options;
    int version;
  } variants[] = {{"-V 1", 1}, {"-V 2 --second-key", 2}, {"", 4}, {"--store --second-key", 4}};
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.options);
    std::string archive = dir / "grp.hsd";
    ToolRun r = Pack(dir, std::string(v.options) + " -q " + (dir / "src") + " " + archive);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.empty());
    // The stored version.
    std::string bytes = Slurp(archive);
    ArchiveRecord a;
    InitArchiveRecord(&a);
    ASSERT_EQ(OpenPackArchive(&a, bytes.data(), bytes.size(), nullptr), 0);
    EXPECT_EQ(a.header.version, v.version);
    CloseArchive(&a);
    for (const Item& item : items) {
      std::string path = Sjis(item.path);
      EXPECT_EQ(ReadThroughLibrary(path), item.data) << item.path;
    }
    ArchiveCacheEnd();
  }
  SetArchiveExtension(nullptr);
}

TEST(Rrpack, DefaultNameSummaryAndProgress) {
  ScratchDir dir;
  for (int i = 0; i < 250; ++i) dir.Write("many/f" + std::to_string(i) + ".txt", std::string(100, 'a' + i % 26));
  ToolRun r = Pack(dir, "-e hsd " + (dir / "many/"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "many.hsd"));
  EXPECT_NE(r.out.find("250 files in 0 folders"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("250/250 files"), std::string::npos) << r.err;
}

}  // namespace
