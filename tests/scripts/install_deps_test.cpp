// The set-up script as ./play.sh and ./check.sh run it: which packages each
// installs, and what a user who is neither root nor has sudo is told before
// anything is tried, without a terminal or at one. The system's commands are
// stand-ins in a folder that is the whole PATH: the user id (id), a package
// database with nothing installed (dpkg-query), and apt-get and sudo, which
// write down their calls.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/scripts/script_test.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using scripttest::Quoted;
using scripttest::Slurp;

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
  std::string err;    // at a terminal, all it shows
  std::string calls;  // of apt-get and sudo, one a line
};

class InstallDeps : public ::testing::Test {
 protected:
  void SetUp() override {
    Stub("dpkg-query", "exit 1");
    Stub("apt-get", "echo \"apt-get $*\" >> " + Quoted(dir_ / "calls.txt"));
  }
  void Stub(const std::string& name, const std::string& body) { scripttest::WriteScript(dir_, "bin/" + name, body); }
  // Without a terminal; or, with `typed` (what the user types there), at one
  // (script(1) makes it).
  Outcome Run(const std::string& uid, const std::string& set, const std::string* typed = nullptr) {
    Stub("id", "echo " + uid);
    fs::remove(dir_ / "calls.txt");
    const std::string run = from_.empty() ? "PATH=" + Quoted(dir_ / "bin") +
                                                " /bin/bash " RORUD_SOURCE_DIR "/scripts/install-deps " + set
                                          : "cd " + Quoted(from_) + " && PATH=" + Quoted(dir_ / "bin") +
                                                " CDPATH=" + Quoted(dir_.path()) + " /bin/bash " + script_ + " " + set;
    std::string command = run + " >/dev/null 2>" + Quoted(dir_ / "err.txt");
    if (typed != nullptr) {
      command = "script -qec " + Quoted(run) + " /dev/null <" + Quoted(dir_.Write("typed.txt", *typed)) + " >" +
                Quoted(dir_ / "err.txt");
    }
    const int rc = std::system(command.c_str());
    std::string err = Slurp(dir_ / "err.txt");
    err.erase(std::remove(err.begin(), err.end(), '\r'), err.end());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, err, Slurp(dir_ / "calls.txt")};
  }
  testsupport::ScratchDir dir_;
  // Run from this folder by this name, when given.
  std::string from_, script_;
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
  // Called by a relative name, from its folder or the checkout (a folder
  // of that name where CDPATH points is not it), the line names the same.
  dir_.Write("scripts/install-deps", "");
  for (const auto& [from, script] : {std::pair<std::string, std::string>{RORUD_SOURCE_DIR "/scripts", "install-deps"},
                                     {RORUD_SOURCE_DIR, "scripts/install-deps"}}) {
    from_ = from;
    script_ = script;
    EXPECT_EQ(Run("1000", "play").err, alone.err) << script;
  }
  from_.clear();
  // Without an argument, the set asked for is the checks'.
  const Outcome unnamed = Run("1000", "");
  EXPECT_NE(unnamed.err.find("/scripts/install-deps check, or apt-get install "), std::string::npos) << unnamed.err;
  EXPECT_EQ(Packages(unnamed.err), Packages(Run("0", "check").calls));

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
  EXPECT_EQ(helped.calls.rfind("sudo\napt-get -o DPkg::Lock::Timeout=900 update -qq\nsudo\n"
                                "apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends ",
                                0),
            0u)
      << helped.calls;
}

// At a terminal sudo asks there (so does this stand-in, as sudo 1.9 does)
// and says on standard error what it refuses. A user it allows is asked for
// the password and gets the packages through it; one it does not allow
// reads our line alone, not sudo's own words before it.
TEST_F(InstallDeps, AtATerminalSudoAsksAUserItAllowsAndOneItRefusesReadsOnlyTheLine) {
  Stub("sudo", "case $1 in\n"
               "  -n) echo 'sudo: a password is required' >&2; exit 1 ;;\n"
               "  -v) if [ -e " + Quoted(dir_ / "allowed") + " ]; then\n"
               "        printf '[sudo] password for player: ' >/dev/tty; read -r password </dev/tty\n"
               "        [ \"$password\" = secret ]; exit\n"
               "      fi\n"
               "      echo 'Sorry, user player may not run sudo on host.' >&2; exit 1 ;;\n"
               "esac\n"
               "echo sudo >> " + Quoted(dir_ / "calls.txt") + "\nexec \"$@\"");
  const std::string nothing_typed;
  const Outcome refused = Run("1000", "play", &nothing_typed);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.calls, "");
  EXPECT_EQ(refused.err, Run("1000", "play").err);

  dir_.Write("allowed", "");
  const std::string password = "secret\n";
  const Outcome allowed = Run("1000", "play", &password);
  EXPECT_EQ(allowed.status, 0) << allowed.err;
  EXPECT_NE(allowed.err.find("[sudo] password for player: "), std::string::npos) << allowed.err;
  EXPECT_NE(allowed.err.find("install-deps: installing "), std::string::npos) << allowed.err;
  EXPECT_EQ(allowed.calls.rfind("sudo\napt-get -o DPkg::Lock::Timeout=900 update -qq\nsudo\n"
                                 "apt-get -o DPkg::Lock::Timeout=900 install ",
                                 0),
            0u)
      << allowed.calls;
}

}  // namespace
