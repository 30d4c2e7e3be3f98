// ./play.sh in a clone whose build/ or game-data/ the user cannot write (as
// after ./play.sh run once as root): one line with the way out, before
// anything is built. Run as an ordinary user, for whom the owners count. The
// clone's install-deps, cmake and game are stand-ins that write down their
// calls.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/as_user.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class PlaySh : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string script = Slurp(RORUD_SOURCE_DIR "/play.sh");
    Executable("play.sh", script);
    const std::string record = "echo \"$(basename \"$0\") $*\" >> '" + dir_ / "calls.txt" + "'";
    Executable("scripts/install-deps", record);
    Executable("bin/cmake", record);
    Executable("build/game/quillona", record);
    dir_.Write("build/CMakeCache.txt", "");
    dir_.Write("game-data/rec.hsd", "");
  }
  void Executable(const std::string& name, const std::string& body) {
    const std::string path = dir_.Write(name, "#!/bin/bash\n" + body + "\n");
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read |
                              fs::perms::group_exec | fs::perms::others_exec);
  }
  // ./play.sh as the user; its standard error comes back in `err`.
  testsupport::AsUserResult Run(std::string& err) {
    testsupport::GiveToUnprivilegedUser(dir_.path());
    for (const std::string& taken : taken_) {
      // Root's, or, when the suite is no root, the user's without write
      // permission.
      if (::geteuid() == 0) {
        EXPECT_EQ(::lchown((dir_ / taken).c_str(), 0, 0), 0);
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
  testsupport::ScratchDir dir_;
  std::vector<std::string> taken_;
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
  for (const char* taken : {"build", "game-data/rec.hsd"}) {
    fs::remove(dir_ / "calls.txt");
    taken_ = {taken};
    run = Run(err);
    RORUD_SKIP_UNLESS_RAN(run);
    EXPECT_EQ(run.status, 1) << taken;
    const std::string clone = dir_.path().string();
    const std::string way = ::geteuid() == 0
                                ? "(it belongs to root): have root run chown -R " + uid + ":" + uid + " "
                                : "(it is yours, without write permission): run chmod -R u+w ";
    EXPECT_EQ(err, "play.sh: " + clone + "/" + taken + " cannot be written by user id " + uid + " " + way + clone +
                       "/build " + clone + "/game-data, then run ./play.sh again\n");
    EXPECT_FALSE(fs::exists(dir_ / "calls.txt")) << taken;
  }
}

}  // namespace
