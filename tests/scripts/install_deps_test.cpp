// The set-up script as ./play.sh and ./check.sh run it: which packages each
// installs, and what a user who is neither root nor has sudo is told before
// anything is tried. The system's commands are stand-ins in a folder that is
// the whole PATH: the user id (id), a package database with nothing
// installed (dpkg-query), and apt-get and sudo, which write down their calls.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

bool Has(const std::vector<std::string>& words, const std::string& word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

// The packages an apt-get install line names.
std::vector<std::string> Packages(const std::string& text) {
  const std::string options = "--no-install-recommends";
  const size_t at = text.find(options);
  return at == std::string::npos ? std::vector<std::string>() : Words(text.substr(at + options.size()));
}

struct Outcome {
  int status;
  std::string err;
  std::string calls;  // of apt-get and sudo, one a line
};

class InstallDeps : public ::testing::Test {
 protected:
  void SetUp() override {
    Stub("dpkg-query", "exit 1");
    Stub("apt-get", "echo \"apt-get $*\" >> '" + dir_ / "calls.txt" + "'");
  }
  void Stub(const std::string& name, const std::string& body) {
    const std::string path = dir_.Write("bin/" + name, "#!/bin/bash\n" + body + "\n");
    fs::permissions(path, fs::perms::owner_all);
  }
  Outcome Run(const std::string& uid, const std::string& set) {
    Stub("id", "echo " + uid);
    fs::remove(dir_ / "calls.txt");
    const std::string command = "PATH='" + dir_ / "bin" + "' /bin/bash " RORUD_SOURCE_DIR "/scripts/install-deps " +
                                set + " >/dev/null 2>'" + dir_ / "err.txt" + "'";
    const int rc = std::system(command.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, Slurp(dir_ / "err.txt"), Slurp(dir_ / "calls.txt")};
  }
  testsupport::ScratchDir dir_;
};

// What building and playing need is installed by both; the test tools only
// for the checks.
TEST_F(InstallDeps, PlayInstallsWhatBuildingAndPlayingNeedCheckAddsTheTestTools) {
  const Outcome play = Run("0", "play");
  const Outcome check = Run("0", "check");
  ASSERT_EQ(play.status, 0) << play.err;
  ASSERT_EQ(check.status, 0) << check.err;
  const std::vector<std::string> played = Words(play.calls);
  const std::vector<std::string> checked = Words(check.calls);
  for (const char* needed : {"cmake", "ninja-build", "libsdl2-dev", "libmp3lame-dev", "fonts-ipafont-gothic",
                             "libavcodec-dev"}) {
    EXPECT_TRUE(Has(played, needed)) << needed;
    EXPECT_TRUE(Has(checked, needed)) << needed;
  }
  for (const char* tool : {"clang", "libgtest-dev", "libbenchmark-dev", "xvfb", "sox", "ffmpeg"}) {
    EXPECT_FALSE(Has(played, tool)) << tool;
    EXPECT_TRUE(Has(checked, tool)) << tool;
  }
}

// A user without sudo, or whom sudo does not serve without a password
// prompt that can be answered, is told in one line what to do, with the
// packages to install, and nothing is tried; with sudo, the packages are
// installed through it.
TEST_F(InstallDeps, WithoutRootOrSudoItSaysWhatToDoAndTriesNothing) {
  const Outcome alone = Run("1000", "play");
  EXPECT_EQ(alone.status, 1);
  EXPECT_EQ(alone.calls, "");
  // Root runs the script, not ./play.sh, whose build would be root's.
  const std::string line = "install-deps: packages are missing and there is no sudo to install them as user id "
                           "1000: have root run " RORUD_SOURCE_DIR "/scripts/install-deps play, or apt-get install ";
  EXPECT_EQ(alone.err.rfind(line, 0), 0u) << alone.err;
  EXPECT_EQ(std::count(alone.err.begin(), alone.err.end(), '\n'), 1) << alone.err;
  EXPECT_EQ(Packages(alone.err), Packages(Run("0", "play").calls));

  // sudo that asks for a password no one can give (no terminal), or that
  // does not allow the user: the same line, and nothing is tried.
  Stub("sudo", "echo 'sudo: a password is required' >&2\nexit 1");
  const Outcome refused = Run("1000", "play");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.calls, "");
  EXPECT_EQ(refused.err, "install-deps: packages are missing and sudo may not be used to install them as user id " +
                             alone.err.substr(std::string("install-deps: packages are missing and there is no sudo "
                                                          "to install them as user id ").size()));

  Stub("sudo", "if [ \"$1\" = -n ]; then exit 0; fi\necho sudo >> '" + dir_ / "calls.txt" + "'\nexec \"$@\"");
  const Outcome helped = Run("1000", "play");
  EXPECT_EQ(helped.status, 0) << helped.err;
  EXPECT_EQ(helped.calls.rfind("sudo\napt-get update -qq\nsudo\napt-get install -y -qq --no-install-recommends ", 0),
            0u)
      << helped.calls;
}

}  // namespace
