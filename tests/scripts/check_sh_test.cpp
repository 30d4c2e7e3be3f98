// ./check.sh (and ./play.sh, which starts the same way) in scratch checkouts
// up to its first steps: which checkout it runs, whether root's run refuses
// a temporary folder another user could change, and the suppressions' path
// as the sanitizers read it; and the folder scripts/make-placeholder-data
// writes. The checkout's scripts, cmake, the game and the data generator
// are stand-ins that write down that they ran.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/scripts/script_test.h"
#include "tests/support/as_user.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using scripttest::Quoted;
using scripttest::Ran;
using scripttest::Shell;
using scripttest::Slurp;

// A checkout at `at` in `dir`: a copy of `script` (when given) and of the
// rule it sources, the build folders, and stand-ins that write `label` and
// their name to ran.txt in `dir`: scripts/install-deps, which lets the run
// go on, and the first steps run from a build folder (scripts/ctest-run,
// the game), which end it with status 7.
void Checkout(const testsupport::ScratchDir& dir, const std::string& at, const std::string& label,
              const std::string& script = "") {
  if (!script.empty()) {
    scripttest::WriteScript(dir, at + "/" + script, Slurp(RORUD_SOURCE_DIR "/" + script));
    dir.Write(at + "/scripts/temp-folder-rule", Slurp(RORUD_SOURCE_DIR "/scripts/temp-folder-rule"));
  }
  const std::string record = "echo " + Quoted(label) + " \"$(basename \"$0\")\" >> " + Quoted(dir / "ran.txt");
  scripttest::WriteScript(dir, at + "/scripts/install-deps", record);
  scripttest::WriteScript(dir, at + "/scripts/ctest-run", record + "\nexit 7");
  scripttest::WriteScript(dir, at + "/build/game/quillona", record + "\nexit 7");
  fs::create_directories(dir / (at + "/build-san"));
  fs::create_directories(dir / (at + "/game-data"));
}

// The environment of the runs below: a temporary folder of the test's own
// (root's when the test is root's), the stand-ins first in PATH (a cmake
// that does nothing, unless the test gives one).
std::string Environment(const testsupport::ScratchDir& dir) {
  scripttest::WriteScript(dir, "bin/cmake", "");
  fs::create_directories(dir / "tmp");
  fs::permissions(dir / "tmp", fs::perms::owner_all);
  return "unset TMP TEMP TEMPDIR CDPATH; export TMPDIR=" + Quoted(dir / "tmp") + " PATH=" + Quoted(dir / "bin") +
         ":/usr/bin:/bin; ";
}

// Each runs the checkout it lies in, named exactly, wherever it is called
// from: a name that ends in a newline is not the same name without it
// (another user's checkout, say), and a relative name, the checkout's and
// the build folders' in it, is the current folder's, not one that CDPATH
// names (nor $OLDPWD for "-").
TEST(OwnFolder, CheckShAndPlayShRunTheCheckoutTheyLieIn) {
  testsupport::ScratchDir dir;
  const std::string env = Environment(dir);
  for (const std::string script : {"check.sh", "play.sh"}) {
    SCOPED_TRACE(script);
    Checkout(dir, "co\n", "own", script);
    Checkout(dir, "co", "sibling");
    Checkout(dir, "-", "own", script);
    Checkout(dir, "elsewhere/-", "cdpath");
    Checkout(dir, "elsewhere/co\n", "cdpath");
    Checkout(dir, "elsewhere", "cdpath");
    const std::string step = script == "check.sh" ? "ctest-run" : "quillona";
    for (const std::string& call : {"cd / && " + Quoted(dir / ("co\n/" + script)),
                                    "cd " + Quoted(dir.path()) + " && CDPATH=" + Quoted(dir / "elsewhere") + " " +
                                        Quoted("co\n/" + script),
                                    "cd " + Quoted(dir.path()) + " && CDPATH=" + Quoted(dir / "elsewhere") +
                                        " OLDPWD=" + Quoted(dir / "co") + " /bin/bash -- -/" + script}) {
      fs::remove(dir / "ran.txt");
      const Ran run = Shell(dir, env + call);
      EXPECT_EQ(run.status, 7) << call << "\n" << run.err;
      EXPECT_EQ(Slurp(dir / "ran.txt"), "own install-deps\nown " + step + "\n") << call;
    }
  }
}

// The data set goes to the folder named, a name that ends in a newline too
// (beside it, the same name without the newline is someone else's).
TEST(OwnFolder, MakePlaceholderDataWritesTheFolderNamedExactly) {
  testsupport::ScratchDir dir;
  const std::string env = Environment(dir);
  scripttest::WriteScript(dir, "co/scripts/make-placeholder-data",
                          Slurp(RORUD_SOURCE_DIR "/scripts/make-placeholder-data"));
  dir.Write("co/build/build.ninja", "");
  scripttest::WriteScript(dir, "co/build/tools/make_placeholder_data",
                          "mkdir -p -- \"$1\" && printf '[%s]' \"$1\" >> " + Quoted(dir / "ran.txt"));
  fs::create_directories(dir / "data");
  const std::string data = dir / "data\n";
  const Ran run = Shell(dir, env + "cd / && " + Quoted(dir / "co/scripts/make-placeholder-data") + " " + Quoted(data));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Slurp(dir / "ran.txt"), "[" + data + "]");
  EXPECT_TRUE(fs::exists(data + "/.placeholder-stamp"));
  EXPECT_TRUE(fs::is_empty(dir / "data"));
}

// Root's run refuses a temporary folder that another user could change, or
// one below such a folder or reached through a link to one, whichever of
// the variables the build's programs read names it, and one that is no
// folder: one line, status 1, nothing run and nothing made there. A folder
// of root's alone is taken.
TEST(CheckShAsRoot, RefusesATemporaryFolderAnotherUserCouldChange) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root's run refuses one";
  testsupport::ScratchDir dir;
  const std::string env = Environment(dir);
  Checkout(dir, "co", "root's", "check.sh");
  scripttest::WriteScript(dir, "bin/cmake", "echo cmake >> " + Quoted(dir / "ran.txt") + "\nexit 7");
  const fs::path theirs = dir.path() / "theirs";
  fs::create_directories(theirs / "roots");
  ASSERT_TRUE(testsupport::GiveToUnprivilegedUser(theirs));
  ASSERT_EQ(::lchown((theirs / "roots").c_str(), 0, 0), 0);
  fs::create_directory_symlink(theirs, dir / "link");
  // Through their folder to one of root's.
  fs::create_directory_symlink(dir / "tmp", theirs / "back");
  // Root's, but open to every user's writes, and not sticky.
  fs::create_directories(dir / "open");
  fs::permissions(dir / "open", fs::perms::all);
  const std::string owner = "(" + theirs.string() + " is user id " + std::to_string(testsupport::UnprivilegedUid()) +
                            "'s, mode 755): another user could turn what the build and the tests make there into a "
                            "file of root's. Run root's check.sh with TMPDIR, TMP, TEMP and TEMPDIR unset or naming a "
                            "folder of root's.\n";
  const std::string missing = dir / "missing";
  const struct Case {
    std::string set;   // the variable set, name=value
    std::string line;  // the refusal's words after "check.sh: <set>"
  } cases[] = {
      {"TMPDIR=" + theirs.string(), ": the temporary folder is not root's alone " + owner},
      {"TMPDIR=" + (theirs / "roots").string(), ": the temporary folder is not root's alone " + owner},
      {"TMPDIR=" + (dir / "link"), ": the temporary folder is not root's alone " + owner},
      {"TMPDIR=" + (theirs / "back").string(), ": the temporary folder is not root's alone " + owner},
      {"TMP=" + theirs.string(), ": the temporary folder is not root's alone " + owner},
      {"TEMPDIR=" + (dir / "tmp/../theirs"), ": the temporary folder is not root's alone " + owner},
      {"TMPDIR=" + (dir / "open"), ": the temporary folder is not root's alone (" + (dir / "open") +
                                         " is user id 0's, mode 777)" + owner.substr(owner.find("): ") + 1)},
      {"TMPDIR=" + missing, " names no folder the build and the tests can use (" + missing +
                                ": No such file or directory). Run root's check.sh with TMPDIR, TMP, TEMP and "
                                "TEMPDIR unset or naming a folder of root's.\n"},
  };
  for (const Case& c : cases) {
    fs::remove(dir / "ran.txt");
    const Ran run = Shell(dir, env + "export " + Quoted(c.set) + "; cd / && " + Quoted(dir / "co/check.sh"));
    EXPECT_EQ(run.status, 1) << c.set;
    EXPECT_EQ(run.err, "check.sh: " + c.set + c.line);
    EXPECT_EQ(run.out, "") << c.set;
    EXPECT_FALSE(fs::exists(dir / "ran.txt")) << c.set;
    EXPECT_EQ(std::distance(fs::directory_iterator(theirs), {}), 2) << c.set;
    EXPECT_TRUE(fs::is_empty(theirs / "roots")) << c.set;
  }
  // Root's own folder, by TMPDIR and by TMP.
  for (const std::string set : {"TMPDIR", "TMP"}) {
    fs::remove(dir / "ran.txt");
    const Ran run = Shell(dir, env + "export " + set + "=" + Quoted(dir / "tmp") + "; cd / && " +
                                   Quoted(dir / "co/check.sh"));
    EXPECT_EQ(run.status, 7) << set << "\n" << run.err;
    EXPECT_EQ(Slurp(dir / "ran.txt"), "root's install-deps\ncmake\n") << set;
  }
}

// The build and the tests get none of git's variables (as a hook is given
// them): the script tests' set-up, git init, add and commit in a folder of
// their own, would write to the repository and the index they name.
TEST(CheckSh, TheBuildAndTheTestsGetNoneOfGitsVariables) {
  testsupport::ScratchDir dir;
  const std::string env = Environment(dir);
  Checkout(dir, "co", "own", "check.sh");
  scripttest::WriteScript(dir, "bin/cmake", "env | grep ^GIT_ > " + Quoted(dir / "git.txt") + "\nexit 7");
  const Ran run = Shell(dir, env + "export GIT_DIR=" + Quoted(dir / "other/.git") + " GIT_WORK_TREE=" +
                                 Quoted(dir / "other") + " GIT_INDEX_FILE=" + Quoted(dir / "other/.git/index") +
                                 "; cd / && " + Quoted(dir / "co/check.sh"));
  EXPECT_EQ(run.status, 7) << run.err;
  EXPECT_TRUE(fs::exists(dir / "git.txt"));
  EXPECT_EQ(Slurp(dir / "git.txt"), "");
}

// Nor does root's take the sanitizers' options from its caller (sudo -E):
// one such as log_path would have root's programs write where it names.
TEST(CheckShAsRoot, TakesNoSanitizerOptionsFromItsCaller) {
  if (::geteuid() != 0) GTEST_SKIP() << "anyone else's options are theirs to give";
  testsupport::ScratchDir dir;
  const std::string env = Environment(dir);
  Checkout(dir, "co", "own", "check.sh");
  scripttest::WriteScript(dir, "bin/cmake", "env | grep SAN_OPTIONS= > " + Quoted(dir / "san.txt") + "\nexit 7");
  std::string set;
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS", "MSAN_OPTIONS"}) {
    set += std::string(" ") + name + "=log_path=" + Quoted(dir / "log");
  }
  const Ran run = Shell(dir, env + "export" + set + "; cd / && " + Quoted(dir / "co/check.sh"));
  EXPECT_EQ(run.status, 7) << run.err;
  EXPECT_EQ(Slurp(dir / "san.txt"),
            "LSAN_OPTIONS=suppressions=\"" + (dir / "co/scripts/lsan.supp") + "\":print_suppressions=0\n");
}

// So do the tests that scripts/ctest-run runs, whoever calls it.
TEST(CtestRun, TheTestsGetNoneOfGitsVariables) {
  testsupport::ScratchDir dir;
  dir.Write("build/CTestTestfile.cmake", "add_test(NoGit /bin/sh -c \"! env | grep ^GIT_\")\n");
  const Ran run = Shell(dir, "cd " + Quoted(dir / "build") + " && GIT_DIR=" + Quoted(dir / "other/.git") +
                                 " GIT_INDEX_FILE=" + Quoted(dir / "other/.git/index") + " " +
                                 Quoted(RORUD_SOURCE_DIR "/scripts/ctest-run") + " --output-on-failure");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
}

// LSAN_OPTIONS split as the sanitizers split it (flags at spaces, commas,
// colons and line ends; a value in single or double quotes runs to the
// same quote); empty on what they would stop at.
std::map<std::string, std::string> SanitizerFlags(const std::string& text) {
  const auto space = [](char c) { return c == ' ' || c == ',' || c == ':' || c == '\n' || c == '\t' || c == '\r'; };
  std::map<std::string, std::string> flags;
  size_t at = 0;
  for (;;) {
    while (at < text.size() && space(text[at])) ++at;
    if (at == text.size()) return flags;
    const size_t name = at;
    while (at < text.size() && text[at] != '=' && !space(text[at])) ++at;
    if (at == text.size() || text[at] != '=') return {};
    const std::string key = text.substr(name, at - name);
    ++at;
    if (at < text.size() && (text[at] == '\'' || text[at] == '"')) {
      const size_t end = text.find(text[at], at + 1);
      if (end == std::string::npos) return {};
      flags[key] = text.substr(at + 1, end - at - 1);
      at = end + 1;
    } else {
      const size_t value = at;
      while (at < text.size() && !space(text[at])) ++at;
      flags[key] = text.substr(value, at - value);
    }
  }
}

// The sanitized programs read the leak suppressions at the checkout's path
// whole, whatever it holds (a space, a double quote, a single quote). A
// path that holds both kinds of quote, which they cannot read, is refused
// in one line before anything is run.
TEST(CheckSh, TheSanitizersReadTheSuppressionsAtTheCheckoutsPath) {
  testsupport::ScratchDir dir;
  const std::string env = Environment(dir);
  scripttest::WriteScript(dir, "bin/cmake", "printf %s \"$LSAN_OPTIONS\" > " + Quoted(dir / "lsan.txt") + "\nexit 7");
  for (const std::string at : {"a b", "a\"b c", "it's here"}) {
    const std::string checkout = dir / at;
    Checkout(dir, at, "", "check.sh");
    fs::remove(dir / "lsan.txt");
    const Ran run = Shell(dir, env + "cd / && " + Quoted(checkout + "/check.sh"));
    EXPECT_EQ(run.status, 7) << at << "\n" << run.err;
    const std::string options = Slurp(dir / "lsan.txt");
    const std::map<std::string, std::string> expected = {{"suppressions", checkout + "/scripts/lsan.supp"},
                                                         {"print_suppressions", "0"}};
    EXPECT_EQ(SanitizerFlags(options), expected) << options;
  }
  const std::string both = dir / "it's \"here\"";
  Checkout(dir, "it's \"here\"", "both", "check.sh");
  fs::remove(dir / "ran.txt");
  const Ran run = Shell(dir, env + "cd / && " + Quoted(both + "/check.sh"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "check.sh: the sanitizers cannot read a path that holds both kinds of quote, as " + both +
                         " does: run the check from a checkout whose path holds one kind at most\n");
  EXPECT_FALSE(fs::exists(dir / "ran.txt"));
}

}  // namespace
