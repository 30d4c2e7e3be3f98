// ./play.sh in a clone whose build/ or game-data/ the user cannot write (as
// after ./play.sh run once as root): one line with the way out, before
// anything is built. Run as an ordinary user, for whom the owners count. The
// clone's install-deps, cmake and game are stand-ins that write down their
// calls.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/scripts/script_test.h"
#include "tests/support/as_user.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using scripttest::Slurp;

class PlaySh : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string script = Slurp(RORUD_SOURCE_DIR "/play.sh");
    Executable("play.sh", script);
    dir_.Write("scripts/temp-folder-rule", Slurp(RORUD_SOURCE_DIR "/scripts/temp-folder-rule"));
    const std::string record = "echo \"$(basename \"$0\") $*\" >> '" + dir_ / "calls.txt" + "'";
    Executable("scripts/install-deps", record);
    Executable("bin/cmake", record);
    Executable("build/game/quillona", record);
    dir_.Write("build/CMakeCache.txt", "");
    dir_.Write("game-data/rec.hsd", "");
  }
  void Executable(const std::string& name, const std::string& body) { scripttest::WriteScript(dir_, name, body); }
  // ./play.sh as the user; its standard error comes back in `err`.
  testsupport::AsUserResult Run(std::string& err) {
    testsupport::GiveToUnprivilegedUser(dir_.path());
    for (const std::string& taken : taken_) {
      // Root's (or the owner's given), or, when the suite is no root, the
      // user's without write permission.
      if (::geteuid() == 0) {
        EXPECT_EQ(::lchown((dir_ / taken).c_str(), owner_, 0), 0);
      } else {
        fs::permissions(dir_ / taken, fs::perms::owner_write, fs::perm_options::remove);
      }
    }
    const std::string command = "cd / && PATH='" + dir_ / "bin" + ":/usr/bin:/bin' " + dir_ / "play.sh" +
                                " >/dev/null 2>'" + dir_ / "err.txt" + "'";
    testsupport::AsUserResult run = testsupport::RunAsUnprivilegedUser([&command](std::string&) {
      const int status = std::system(command.c_str());
      return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
    });
    err = Slurp(dir_ / "err.txt");
    for (const std::string& taken : taken_) fs::permissions(dir_ / taken, fs::perms::owner_write, fs::perm_options::add);
    return run;
  }
  // In a folder the user can reach, wherever the clone and TMPDIR are.
  testsupport::ScratchDir dir_{testsupport::UnprivilegedTempFolder()};
  std::vector<std::string> taken_;
  uid_t owner_ = 0;
};

TEST_F(PlaySh, AFolderTheUserCannotWriteIsNamedWithTheWayOut) {
  std::string err;
  testsupport::AsUserResult run = Run(err);
  RORUD_SKIP_UNLESS_RAN(run);
  EXPECT_EQ(run.status, 0) << err;
  EXPECT_EQ(err, "");
  std::string calls = Slurp(dir_ / "calls.txt");
  EXPECT_EQ(calls.rfind("install-deps play\ncmake -S . -B build", 0), 0u) << calls;
  EXPECT_NE(calls.find("\nquillona \n"), std::string::npos) << calls;

  const std::string uid = std::to_string(testsupport::UnprivilegedUid());
  const std::string gid = std::to_string(testsupport::UnprivilegedGid());
  for (const char* taken : {"build", "game-data/rec.hsd"}) {
    fs::remove(dir_ / "calls.txt");
    taken_ = {taken};
    run = Run(err);
    RORUD_SKIP_UNLESS_RAN(run);
    EXPECT_EQ(run.status, 1) << taken;
    const std::string clone = dir_.path().string();
    const std::string way = ::geteuid() == 0
                                ? "(it belongs to root): have root run chown -R " + uid + ":" + gid + " "
                                : "(it is yours, without write permission): run chmod -R u+w ";
    EXPECT_EQ(err, "play.sh: " + clone + "/" + taken + " cannot be written by user id " + uid + " " + way + clone +
                       "/build " + clone + "/game-data, then run ./play.sh again\n");
    EXPECT_FALSE(fs::exists(dir_ / "calls.txt")) << taken;
  }
}

// An owner that no account has is named by the user id, as stat names no
// user for it.
TEST_F(PlaySh, AnOwnerWithoutAnAccountIsNamedByTheUserId) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
  owner_ = testsupport::UnprivilegedUid() + 1;
  while (::getpwuid(owner_) != nullptr) ++owner_;
  taken_ = {"build"};
  std::string err;
  const testsupport::AsUserResult run = Run(err);
  RORUD_SKIP_UNLESS_RAN(run);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(err.find("/build cannot be written by user id " + std::to_string(testsupport::UnprivilegedUid()) +
                     " (it belongs to user id " + std::to_string(owner_) + "): have root run chown -R "),
            std::string::npos)
      << err;
}

}  // namespace
