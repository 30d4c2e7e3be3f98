// The benchmarks' own folders (bench/bench_folder.h): a folder is used only
// when it is a real folder of the user's alone below folders no other user
// can change, and a file is put in place only when it was made whole.
#include "bench/bench_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class BenchFolder : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "bench_folder_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    base_ = pattern;
    own_ = (base_ / ("f-" + std::to_string(::geteuid()))).string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(base_, ec);
  }
  // The folder for "f" in base_, or empty with the problem as the test's
  // message.
  std::string Get() {
    std::string problem;
    const std::string folder = benchfolder::UsersOwnFolder("f", &problem, base_);
    EXPECT_EQ(folder.empty(), !problem.empty()) << problem;
    if (folder.empty()) {
      EXPECT_NE(problem.find(base_.string()), std::string::npos) << problem;
    }
    return folder;
  }

  fs::path base_;
  std::string own_;
};

TEST_F(BenchFolder, IsMadeForTheUserAloneAndUsedAgain) {
  const mode_t umask_was = ::umask(0777);
  EXPECT_EQ(Get(), own_);
  ::umask(umask_was);
  struct stat st {};
  ASSERT_EQ(::lstat(own_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  std::ofstream(own_ + "/kept") << "x";
  EXPECT_EQ(Get(), own_);
  EXPECT_TRUE(fs::exists(own_ + "/kept"));
}

TEST_F(BenchFolder, ANameThatIsNotAFolderOfTheUsersAloneIsRefused) {
  ASSERT_EQ(::mkdir(own_.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(own_.c_str(), 0755), 0);
  EXPECT_EQ(Get(), "") << "mode 755";
  fs::remove(own_);
  const std::string elsewhere = (base_ / "elsewhere").string();
  ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
  fs::create_directory_symlink(elsewhere, own_);
  EXPECT_EQ(Get(), "") << "a link to a folder of the user's";
  fs::remove(own_);
  std::ofstream(own_) << "x";
  EXPECT_EQ(Get(), "") << "a file";
}

TEST_F(BenchFolder, AFolderAboveThatOthersMayWriteIsRefusedUnlessSticky) {
  ASSERT_EQ(::chmod(base_.c_str(), 0777), 0);
  EXPECT_EQ(Get(), "");
  EXPECT_FALSE(fs::exists(own_)) << "nothing is made there";
  ASSERT_EQ(::chmod(base_.c_str(), 01777), 0);
  EXPECT_EQ(Get(), own_);
}

TEST_F(BenchFolder, AnotherUsersFolderIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can make another user's folder";
  ASSERT_EQ(::mkdir(own_.c_str(), 0700), 0);
  ASSERT_EQ(::chown(own_.c_str(), 4242, 4242), 0);
  EXPECT_EQ(Get(), "") << "the folder is another user's";
  fs::remove(own_);
  ASSERT_EQ(::chown(base_.c_str(), 4242, 4242), 0);
  EXPECT_EQ(Get(), "") << "the folder above is another user's";
  EXPECT_FALSE(fs::exists(own_)) << "nothing is made there";
}

TEST_F(BenchFolder, OnlyAWholeFileIsPutInPlace) {
  const std::string path = (base_ / "sound.ogg").string();
  EXPECT_EQ(benchfolder::PartName(path), (base_ / "sound.part.ogg").string());
  std::ofstream(benchfolder::PartName(path)) << "half";
  EXPECT_FALSE(benchfolder::PutInPlace(path, false)) << "its maker failed";
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(fs::exists(benchfolder::PartName(path)));
  std::ofstream(benchfolder::PartName(path)).close();
  EXPECT_FALSE(benchfolder::PutInPlace(path, true)) << "empty";
  EXPECT_FALSE(fs::exists(path));
  std::ofstream(benchfolder::PartName(path)) << "whole";
  EXPECT_TRUE(benchfolder::PutInPlace(path, true));
  EXPECT_TRUE(fs::exists(path));
  EXPECT_FALSE(fs::exists(benchfolder::PartName(path)));
}

}  // namespace
