#include "lib/core/pack_archive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lib/core/pack_writer.h"
#include "lib/core/plain_file.h"
#include "platform/kernel/kernel.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sjis.h"

using testsupport::ScratchDir;
using testsupport::Sjis;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes RandomBytes(size_t n, uint32_t seed, bool compressible) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(compressible ? (rng() % 7 == 0 ? rng() : i / 64) : rng());
  return b;
}

PackNode File(const std::string& utf8_name, Bytes data) {
  PackNode n;
  n.name = Sjis(utf8_name);
  n.data = std::move(data);
  n.write_time = 133000000000000000ull;  // 2022-06-15 in file time
  n.creation_time = 132000000000000000ull;
  return n;
}

PackNode Folder(const std::string& utf8_name, std::vector<PackNode> children) {
  PackNode n;
  n.name = Sjis(utf8_name);
  n.folder = true;
  n.children = std::move(children);
  return n;
}

// The fixture tree: nested folders, mixed case, Shift-JIS names (表 ends in the
// byte 0x5C), an empty file, files over 128 KB that compress and that do not.
PackNode FixtureTree() {
  PackNode root;
  root.folder = true;
  root.children = {
      File("Top.txt", Bytes{'t', 'o', 'p'}),
      File("empty.bin", {}),
      Folder("a", {Folder("B", {File("C.PNG", RandomBytes(1000, 1, true)),
                                File("big.dat", RandomBytes(200000, 2, true)),
                                File("noise.dat", RandomBytes(150000, 3, false))}),
                   File("MISSING", Bytes{'m'}),
                   File("x.png", RandomBytes(30, 4, false)),
                   File("y.PNG", RandomBytes(5000, 5, true)),
                   File("z.txt", Bytes{'z'})}),
      Folder("表", {File("表.png", RandomBytes(4096, 6, true)), File("ソ.txt", Bytes{'s'})}),
  };
  return root;
}

// Every file of the tree by its library path.
void Collect(const PackNode& node, const std::string& prefix, std::map<std::string, Bytes>* out) {
  for (const PackNode& c : node.children) {
    std::string path = prefix.empty() ? c.name : prefix + "\\" + c.name;
    if (c.folder) {
      Collect(c, path, out);
    } else {
      (*out)[path] = c.data;
    }
  }
}

Bytes Pack(const PackNode& root, int version, bool second_key, bool compress = true) {
  PackOptions options;
  options.version = version;
  options.second_key = second_key;
  options.compress = compress;
  std::stringstream out;
  std::string error;
  EXPECT_EQ(WritePackArchive(root, options, out, &error), 0) << error;
  std::string s = out.str();
  return Bytes(s.begin(), s.end());
}

std::string Save(const ScratchDir& dir, const std::string& name, const Bytes& bytes) {
  return Sjis(dir.Write(name, std::string(bytes.begin(), bytes.end())));
}

// Reads a whole entry in uneven chunks.
Bytes ReadEntry(ArchiveRecord* a, const std::string& path, int no_wait, std::mt19937* rng) {
  ArchiveEntryReader r;
  EXPECT_EQ(OpenArchiveFileEntry(&r, a, path.c_str(), no_wait), 0) << path;
  Bytes out;
  for (;;) {
    Bytes chunk(1 + (*rng)() % 70000);
    size_t n = ReadArchiveFileEntry(&r, chunk.data(), chunk.size());
    while (!FinishArchivePendingRead(&r)) plat::Sleep(0);
    if (n == 0) break;
    out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<long>(n));
  }
  EXPECT_EQ(EofArchiveFileEntry(&r), -1);
  CloseArchiveFileEntry(&r);
  return out;
}

enum class OpenMode { kMemory, kOnDemand, kWhole, kWholeNoWait };

struct Case {
  int version;
  bool second_key;
};

TEST(PackArchive, FixtureReadsBackInEveryModeVersionAndKey) {
  ScratchDir dir;
  PackNode tree = FixtureTree();
  std::map<std::string, Bytes> files;
  Collect(tree, "", &files);
  std::mt19937 rng(11);
  for (Case c : {Case{1, false}, Case{2, true}, Case{4, false}, Case{4, true}, Case{0, false}, Case{3, false}}) {
    Bytes image = Pack(tree, c.version, c.second_key);
    std::string path = Save(dir, "v" + std::to_string(c.version) + (c.second_key ? "k" : "") + ".hsd", image);
    for (OpenMode mode : {OpenMode::kMemory, OpenMode::kOnDemand, OpenMode::kWhole, OpenMode::kWholeNoWait}) {
      SCOPED_TRACE("version " + std::to_string(c.version) + " mode " + std::to_string(static_cast<int>(mode)));
      ArchiveRecord a;
      InitArchiveRecord(&a);
      Bytes copy = image;
      int opened = mode == OpenMode::kMemory     ? OpenPackArchive(&a, copy.data(), copy.size(), nullptr)
                   : mode == OpenMode::kOnDemand ? OpenArchiveFile(&a, path.c_str(), nullptr)
                                                 : OpenArchiveFileWhole(&a, path.c_str(), nullptr,
                                                                        mode == OpenMode::kWholeNoWait);
      ASSERT_EQ(opened, 0);
      EXPECT_EQ(a.header.version, c.version);
      EXPECT_EQ(a.charset, c.version >= 4 ? 1 : 0);
      for (const auto& [name, data] : files) {
        for (int no_wait : {0, 1}) {
          EXPECT_EQ(ReadEntry(&a, name, no_wait, &rng), data) << Sjis(name) << " no-wait " << no_wait;
        }
      }
      EXPECT_EQ(CloseArchive(&a), 0);
      EXPECT_EQ(copy, image);  // a caller's image is given back as it was
    }
  }
}

TEST(PackArchive, WriterCompressesOnlyWhenItSaves) {
  PackNode tree = FixtureTree();
  PackStats stats;
  std::stringstream out;
  PackOptions options;
  std::string error;
  ASSERT_EQ(WritePackArchive(tree, options, out, &error, &stats), 0);
  EXPECT_EQ(stats.files, 11u);
  EXPECT_EQ(stats.folders, 3u);
  EXPECT_GE(stats.compressed, 3u);
  EXPECT_LT(stats.compressed, 11u);  // noise and tiny files stay plain
  options.version = 1;
  std::stringstream plain;
  ASSERT_EQ(WritePackArchive(tree, options, plain, &error, &stats), 0);
  EXPECT_EQ(stats.compressed, 0u);
}

TEST(PackArchive, WriterRefusesNamesTheFormatCannotHold) {
  std::stringstream out;
  std::string error;
  PackNode clash;
  clash.folder = true;
  clash.children = {File("a.png", {1}), File("A.PNG", {2})};
  EXPECT_EQ(WritePackArchive(clash, PackOptions(), out, &error), -1);
  EXPECT_NE(error.find("case"), std::string::npos);
  PackNode separator;
  separator.folder = true;
  separator.children = {File("a\\b", {1})};
  EXPECT_EQ(WritePackArchive(separator, PackOptions(), out, &error), -1);
  PackNode bad_version;
  PackOptions options;
  options.version = 5;
  EXPECT_EQ(WritePackArchive(bad_version, options, out, &error), -1);
  // The trail byte 0x5C of 表 is no separator.
  PackNode fine;
  fine.folder = true;
  fine.children = {File("表", {1})};
  EXPECT_EQ(WritePackArchive(fine, PackOptions(), out, &error), 0) << error;
}

class OpenArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = Pack(FixtureTree(), 4, false);
    copy_ = image_;
    InitArchiveRecord(&a_);
    ASSERT_EQ(OpenPackArchive(&a_, copy_.data(), copy_.size(), nullptr), 0);
  }
  void TearDown() override { CloseArchive(&a_); }

  std::vector<std::string> Search(const std::string& pattern) {
    std::vector<std::string> names;
    FileInfo info;
    ArchiveSearch* s = ArchiveFindFirstCore(&a_, Sjis(pattern).c_str(), &info);
    if (!s) return names;
    do {
      names.push_back(testsupport::Utf8(info.name));
    } while (ArchiveFindNextCore(s, &info) == 0);
    ArchiveFindCloseCore(s);
    return names;
  }

  Bytes image_, copy_;
  ArchiveRecord a_;
};

TEST_F(OpenArchive, LookupsIgnoreCaseAndNeedEveryFolder) {
  ArchiveFileEntry e;
  EXPECT_EQ(FindArchiveFileEntry("a\\b\\c.png", &a_, &e), 0);
  EXPECT_EQ(e.data_size, 1000u);
  EXPECT_EQ(FindArchiveFileEntry("A/B/C.PNG", &a_, &e), 0);
  EXPECT_EQ(FindArchiveFileEntry("\\a\\b\\c.png", &a_, &e), 0);
  EXPECT_EQ(FindArchiveFileEntry(Sjis("表\\表.PNG").c_str(), &a_, &e), 0);
  EXPECT_EQ(e.data_size, 4096u);
  EXPECT_EQ(FindArchiveFileEntry("a\\b", &a_, &e), -1);  // a folder is no file
  EXPECT_EQ(FindArchiveFileEntry("a\\b\\", &a_, &e), -1);
  // A missing folder fails the lookup, although "a" holds a file "MISSING".
  EXPECT_EQ(FindArchiveFileEntry("a\\MISSING", &a_, &e), 0);
  EXPECT_EQ(FindArchiveFileEntry("a\\MISSING\\c.png", &a_, &e), -1);
  EXPECT_EQ(FindArchiveFileEntry("a\\nope\\b\\c.png", &a_, &e), -1);
  EXPECT_EQ(a_.current_directory, 0u);  // lookups leave the current folder alone

  uint64_t offset;
  uint32_t size;
  ASSERT_EQ(GetArchiveFileOffset(&a_, "top.txt", &offset, &size), 0);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(std::memcmp(GetArchiveMemoryImage(&a_) + offset, "top", 3), 0);
}

TEST_F(OpenArchive, DirectoryChanges) {
  EXPECT_EQ(ChangeArchiveDirectory(&a_, "..", 1), -1);  // at the root
  EXPECT_EQ(ChangeArchiveDirectory(&a_, "a\\B", 1), 0);
  ArchiveFileEntry e;
  EXPECT_EQ(FindArchiveFileEntry("c.png", &a_, &e), 0);
  EXPECT_EQ(ChangeArchiveDirectory(&a_, "..", 1), 0);
  EXPECT_EQ(FindArchiveFileEntry("z.txt", &a_, &e), 0);
  EXPECT_EQ(ChangeArchiveDirectory(&a_, "\\", 1), 0);
  EXPECT_EQ(a_.current_directory, 0u);
  EXPECT_EQ(ChangeArchiveDirectory(&a_, "a", 1), 0);
  uint32_t in_a = a_.current_directory;
  EXPECT_EQ(ChangeArchiveDirectory(&a_, "b\\none", 1), -1);
  EXPECT_EQ(a_.current_directory, in_a);  // restored
  EXPECT_EQ(ChangeArchiveDirectory(&a_, "b\\none", 0), -1);
  EXPECT_NE(a_.current_directory, in_a);  // left where the walk failed
  EXPECT_EQ(ChangeArchiveDirectory(&a_, "/", 1), 0);
  EXPECT_EQ(ChangeArchiveDirectory(&a_, ".", 1), 0);
  EXPECT_EQ(a_.current_directory, 0u);
}

TEST_F(OpenArchive, SearchesListDotsThenMatchesAsWritten) {
  EXPECT_EQ(Search("a\\*.PNG"), (std::vector<std::string>{".", "..", "x.png", "y.PNG"}));
  EXPECT_EQ(Search("*"), (std::vector<std::string>{".", "a", "empty.bin", "Top.txt", "表"}));
  EXPECT_EQ(Search("a\\b\\?.png"), (std::vector<std::string>{".", "..", "C.PNG"}));
  EXPECT_EQ(Search("表\\*.png"), (std::vector<std::string>{".", "..", "表.png"}));
  EXPECT_EQ(Search("a\\*.gif"), (std::vector<std::string>{".", ".."}));
  EXPECT_EQ(Search("a\\b\\*.dat"), (std::vector<std::string>{".", "..", "big.dat", "noise.dat"}));
  EXPECT_TRUE(Search("nope\\*").empty());
  FileInfo info;
  ArchiveSearch* s = ArchiveFindFirstCore(&a_, "a\\b\\big.*", &info);
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(info.name, ".");
  EXPECT_EQ(info.is_directory, 1);
  EXPECT_EQ(info.size, 0u);
  ASSERT_EQ(ArchiveFindNextCore(s, &info), 0);
  ASSERT_EQ(ArchiveFindNextCore(s, &info), 0);
  EXPECT_STREQ(info.name, "big.dat");
  EXPECT_EQ(info.size, 200000u);
  EXPECT_EQ(info.is_directory, 0);
  int expected[6];
  FileTimeToDate(133000000000000000ull, expected);
  EXPECT_EQ(std::memcmp(info.last_write_time, expected, sizeof(expected)), 0);
  ArchiveFindCloseCore(s);
  EXPECT_EQ(Search("A"), (std::vector<std::string>{".", "a"}));
}

TEST_F(OpenArchive, ReadsNearTheEndAndSeeks) {
  ArchiveEntryReader r;
  ASSERT_EQ(OpenArchiveFileEntry(&r, &a_, "a\\x.png", 0), 0);  // stored plain, 30 bytes
  EXPECT_EQ(SeekArchiveFileEntry(&r, -10, 2), 0);
  unsigned char buffer[100];
  EXPECT_EQ(ReadArchiveFileEntry(&r, buffer, 100), 10u);
  EXPECT_EQ(EofArchiveFileEntry(&r), 0);
  EXPECT_EQ(ReadArchiveFileEntry(&r, buffer, 100), 0u);
  EXPECT_EQ(EofArchiveFileEntry(&r), -1);
  EXPECT_EQ(SeekArchiveFileEntry(&r, -100, 1), 0);
  EXPECT_EQ(TellArchiveFileEntry(&r), 0);
  EXPECT_EQ(EofArchiveFileEntry(&r), 0);
  EXPECT_EQ(SeekArchiveFileEntry(&r, 1000, 0), 0);
  EXPECT_EQ(TellArchiveFileEntry(&r), 30);
  CloseArchiveFileEntry(&r);
  EXPECT_EQ(OpenArchiveFileEntry(&r, &a_, "a\\none.png", 0), -1);
  EXPECT_EQ(OpenArchiveFileEntry(&r, &a_, "empty.bin", 0), 0);
  EXPECT_EQ(ReadArchiveFileEntry(&r, buffer, 100), 0u);
  EXPECT_EQ(EofArchiveFileEntry(&r), -1);
  CloseArchiveFileEntry(&r);
}

TEST(PackArchiveOpen, RefusesWhatIsNotAnArchive) {
  ScratchDir dir;
  Bytes image = Pack(FixtureTree(), 4, false);
  // Version 5: re-scramble the header with the version changed.
  Bytes v5 = image;
  unsigned char key[kArchiveKeySize];
  BuildArchiveKey(nullptr, key);
  ApplyArchiveKey(28, v5.data(), 0, key);
  v5[2] = 5;
  ApplyArchiveKey(28, v5.data(), 0, key);
  ArchiveRecord a;
  InitArchiveRecord(&a);
  Bytes copy = v5;
  EXPECT_EQ(OpenPackArchive(&a, copy.data(), copy.size(), nullptr), -1);
  EXPECT_EQ(copy, v5);  // a refused image is left as it was
  std::string path = Save(dir, "v5.hsd", v5);
  EXPECT_EQ(OpenArchiveFile(&a, path.c_str(), nullptr), -1);
  EXPECT_EQ(OpenArchiveFileWhole(&a, path.c_str(), nullptr, 0), -1);
  // A key string that was not used to write it.
  copy = image;
  EXPECT_EQ(OpenPackArchive(&a, copy.data(), copy.size(), "other"), -1);
  EXPECT_EQ(copy, image);
  Bytes garbage(100, 0x55);
  EXPECT_EQ(OpenPackArchive(&a, garbage.data(), garbage.size(), nullptr), -1);
  EXPECT_EQ(OpenArchiveFile(&a, Sjis(dir / "none.hsd").c_str(), nullptr), -1);
  // A record in use is refused.
  copy = image;
  ASSERT_EQ(OpenPackArchive(&a, copy.data(), copy.size(), nullptr), 0);
  Bytes other = image;
  EXPECT_EQ(OpenPackArchive(&a, other.data(), other.size(), nullptr), -1);
  CloseArchiveRecord(&a);
}

TEST(PackArchiveKeys, ScramblingIsItsOwnInverseAtAnyPhase) {
  unsigned char key[kArchiveKeySize];
  BuildArchiveKey("abc", key);
  Bytes data = RandomBytes(1000, 9, false);
  for (uint64_t position : {0ull, 1ull, 11ull, 12ull, 4099ull}) {
    Bytes copy = data;
    ApplyArchiveKey(copy.size(), copy.data(), position, key);
    for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(copy[i], data[i] ^ key[(position + i) % 12]);
    ApplyArchiveKey(copy.size(), copy.data(), position, key);
    EXPECT_EQ(copy, data);
  }
  unsigned char first[kArchiveKeySize], empty[kArchiveKeySize], second[kArchiveKeySize];
  BuildArchiveKey(nullptr, first);
  BuildArchiveKey("", empty);
  GetArchiveSecondKey(second);
  EXPECT_EQ(std::memcmp(first, empty, 12), 0);
  EXPECT_NE(std::memcmp(first, second, 12), 0);
  EXPECT_NE(std::memcmp(first, key, 12), 0);
}

// Corrupted archives are refused or read without going outside their data
// (the sanitizer build checks the second half).
TEST(PackArchiveOpen, CorruptedArchivesAreRefusedOrReadSafely) {
  PackNode tree = FixtureTree();
  std::map<std::string, Bytes> files;
  Collect(tree, "", &files);
  Bytes image = Pack(tree, 4, false);
  unsigned char key[kArchiveKeySize];
  BuildArchiveKey(nullptr, key);
  std::mt19937 rng(2024);
  int opened = 0;
  for (int trial = 0; trial < 200; ++trial) {
    Bytes bad = image;
    // Mostly the header and header block, where the offsets live.
    uint32_t block_position;
    Bytes plain = image;
    ApplyArchiveKey(plain.size(), plain.data(), 0, key);
    std::memcpy(&block_position, plain.data() + 12, 4);
    int flips = 1 + static_cast<int>(rng() % 6);
    for (int k = 0; k < flips; ++k) {
      size_t at = rng() % 3 == 0 ? rng() % 28 : block_position + rng() % (bad.size() - block_position);
      if (rng() % 4 == 0) at = rng() % bad.size();
      bad[at] ^= static_cast<unsigned char>(1u << (rng() % 8));
    }
    if (rng() % 10 == 0) bad.resize(rng() % bad.size());
    ArchiveRecord a;
    InitArchiveRecord(&a);
    if (OpenPackArchive(&a, bad.data(), bad.size(), nullptr) != 0) continue;
    ++opened;
    for (const auto& [name, data] : files) {
      ArchiveEntryReader r;
      if (OpenArchiveFileEntry(&r, &a, name.c_str(), 0) != 0) continue;
      Bytes out(300000);
      size_t n = ReadArchiveFileEntry(&r, out.data(), out.size());
      EXPECT_LE(n, out.size());
      CloseArchiveFileEntry(&r);
    }
    FileInfo info;
    for (const char* pattern : {"*", "a\\*", "a\\b\\*.*"}) {
      ArchiveSearch* s = ArchiveFindFirstCore(&a, pattern, &info);
      if (!s) continue;
      int guard = 0;
      while (ArchiveFindNextCore(s, &info) == 0 && ++guard < 100000) {
      }
      ArchiveFindCloseCore(s);
    }
    CloseArchive(&a);
  }
  EXPECT_GT(opened, 20);  // the test reached the reading code
}

}  // namespace
