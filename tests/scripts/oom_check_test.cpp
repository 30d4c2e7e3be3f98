// scripts/oom-check's ways out, on a checkout of its own whose game and X
// server are stand-ins, at one limit: the game plays until its time is up
// (it ends with the status the script's `timeout` gives then) or, in a
// window, says it cannot open one; Xvfb writes its display's number and
// waits, or ends at once, or is ended by the windowed run. The system's
// commands are reached through links to them, Xvfb's left out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/scripts/script_test.h"
#include "tests/support/as_user.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using scripttest::Quoted;
using scripttest::Ran;
using scripttest::Slurp;

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

class OomCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every command of the system but Xvfb, whose stand-in is in bin/.
    for (const char* system : {"/usr/bin", "/bin"}) {
      for (const fs::directory_entry& entry : fs::directory_iterator(system)) {
        const fs::path link = dir_.path() / "system" / entry.path().filename();
        if (entry.path().filename() == "Xvfb" || fs::exists(fs::symlink_status(link))) continue;
        fs::create_directories(link.parent_path());
        fs::create_symlink(entry.path(), link);
      }
    }
    MakeCheckout("co");
    Stub("Xvfb", "echo Xvfb >>" + Quoted(dir_ / "calls.txt") + "\n"
                 "if [ \"${STAND_IN_XVFB:-}\" = ends ]; then echo 'Fatal server error: no screens' >&2; exit 1; fi\n"
                 "echo $$ >" + Quoted(dir_ / "xvfb.pid") + "\n"
                 "echo 99 >&9\n"
                 "exec sleep 600");
  }
  // A checkout at `at` in the scratch: the script, the data and the game,
  // which writes down where it lies and how it was run.
  void MakeCheckout(const std::string& at) {
    fs::copy_file(RORUD_SOURCE_DIR "/scripts/oom-check", dir_.Write(at + "/scripts/oom-check", ""),
                  fs::copy_options::overwrite_existing);
    fs::permissions(dir_ / (at + "/scripts/oom-check"), fs::perms::owner_exec | fs::perms::group_exec |
                                                            fs::perms::others_exec, fs::perm_options::add);
    dir_.Write(at + "/scripts/temp-folder-rule", Slurp(RORUD_SOURCE_DIR "/scripts/temp-folder-rule"));
    dir_.Write(at + "/build/data/sheet.png", "");
    const std::string xvfb = Quoted(dir_ / "xvfb.pid");
    scripttest::WriteScript(
        dir_, at + "/build/game/quillona-under-test",
        "echo \"" + at + " $RORUD_PLATFORM\" >>" + Quoted(dir_ / "calls.txt") + "\n"
        "if [ \"$RORUD_PLATFORM\" = sdl ]; then\n"
        // Xvfb ended, waited for until it is gone (or only waits to be
        // reaped): the window cannot open.
        "  if [ \"${STAND_IN_XVFB:-}\" = ends-later ]; then\n"
        "    pid=$(cat " + xvfb + ") && kill -KILL \"$pid\"\n"
        "    while [ -e /proc/$pid ] && ! grep -q '^[^)]*) Z' /proc/$pid/stat; do sleep 0.01; done\n"
        "  fi\n"
        "  if [ \"${STAND_IN_XVFB:-}\" = ends-later ] || [ \"${STAND_IN_WINDOW:-}\" = fails ]; then\n"
        "    echo \"quillona: cannot open the game's window\" >&2; exit 1\n"
        "  fi\n"
        "fi\n"
        // Played: it ends as the script's timeout ends a game still playing
        // at its limit, without the wait.
        "exit 124");
  }
  void Stub(const std::string& name, const std::string& body) { scripttest::WriteScript(dir_, "bin/" + name, body); }
  // The command that runs the checkout's script at `at` by its full path
  // from / (or, with `from`, by `at` from there) with `settings`
  // (variables), at one limit; the time to play is a net the stand-in game
  // never waits for.
  std::string Command(const std::string& settings, const std::string& at = "co", const std::string& from = "/") {
    fs::remove(dir_ / "calls.txt");
    const std::string script = at + "/scripts/oom-check";
    return "cd " + Quoted(from) + " && env -u CI LEVELS=150 SECONDS_EACH=600 PATH=" + Quoted(dir_ / "bin") + ":" +
           Quoted(dir_ / "system") + " " + settings + " " + Quoted(from == "/" ? dir_ / script : script);
  }
  Ran Run(const std::string& settings) { return scripttest::Shell(dir_, Command(settings)); }

  // In a folder an ordinary user can reach, for the run as one.
  testsupport::ScratchDir dir_{testsupport::UnprivilegedTempFolder()};
};

// Each way the windowed game cannot run fails the check with its line: the
// X server ends at its start or during the check, CI has none, or the game
// never played in a window though it did headless. Where both play, or
// there is no X server outside CI, the check passes.
TEST_F(OomCheck, EachWayTheWindowedGameCannotRunFailsTheCheck) {
  const Ran both = Run("");
  EXPECT_EQ(both.status, 0) << both.out << both.err;
  EXPECT_EQ(both.out,
            "oom-check: 150 MiB, headless: still playing after 600s\n"
            "oom-check: 150 MiB, window: still playing after 600s\n");
  EXPECT_EQ(Slurp(dir_ / "calls.txt"), "Xvfb\nco headless\nco sdl\n");

  const Ran at_start = Run("STAND_IN_XVFB=ends");
  EXPECT_EQ(at_start.status, 1);
  EXPECT_EQ(at_start.out,
            "oom-check: Xvfb ended without starting: the windowed game could not be checked\n"
            "    Fatal server error: no screens\n"
            "oom-check: 150 MiB, headless: still playing after 600s\n");

  const Ran later = Run("STAND_IN_XVFB=ends-later");
  EXPECT_EQ(later.status, 1);
  EXPECT_EQ(later.out,
            "oom-check: 150 MiB, headless: still playing after 600s\n"
            "oom-check: 150 MiB, window: status 1: quillona: cannot open the game's window\n"
            "oom-check: Xvfb ended during the check: the windowed runs after it could not open a window\n");

  const Ran never = Run("STAND_IN_WINDOW=fails");
  EXPECT_EQ(never.status, 1);
  EXPECT_EQ(never.out,
            "oom-check: 150 MiB, headless: still playing after 600s\n"
            "oom-check: 150 MiB, window: status 1: quillona: cannot open the game's window\n"
            "oom-check: the windowed game never played, though the headless game did\n");

  fs::remove(dir_ / "bin/Xvfb");
  const Ran in_ci = Run("CI=true");
  EXPECT_EQ(in_ci.status, 1);
  EXPECT_EQ(in_ci.out,
            "oom-check: no Xvfb, which CI needs: the windowed game could not be checked\n"
            "oom-check: 150 MiB, headless: still playing after 600s\n");
  const Ran here = Run("");
  EXPECT_EQ(here.status, 0) << here.out;
  EXPECT_EQ(here.err, "oom-check: no Xvfb; only the headless game is checked\n");
}

// Without a scratch folder (TMPDIR names a folder that is not there) the
// check ends with one line and status 1, and nothing is run, removed or
// copied: every such command is a stand-in that writes down its call. Run
// as an ordinary user, to whom / is closed whatever goes wrong.
TEST_F(OomCheck, WithoutAScratchFolderItSaysSoInOneLineAndTouchesNothing) {
  for (const char* command : {"rm", "cp", "mkdir", "mv", "ln"}) {
    Stub(command, "echo \"" + std::string(command) + " $*\" >>" + Quoted(dir_ / "calls.txt"));
  }
  const std::string command =
      Command("TMPDIR=" + Quoted(dir_ / "missing")) + " >" + Quoted(dir_ / "out.txt") + " 2>" + Quoted(dir_ / "err.txt");
  testsupport::GiveToUnprivilegedUser(dir_.path());
  const testsupport::AsUserResult run = testsupport::RunAsUnprivilegedUser([&command](std::string&) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
  });
  RORUD_SKIP_UNLESS_RAN(run);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Slurp(dir_ / "out.txt"), "");
  const std::string err = Slurp(dir_ / "err.txt");
  EXPECT_EQ(err.rfind("oom-check: no scratch folder can be made (mktemp: ", 0), 0u) << err;
  EXPECT_NE(err.find(dir_ / "missing/oom-check."), std::string::npos) << err;
  EXPECT_EQ(Lines(err), 1) << err;
  EXPECT_FALSE(fs::exists(dir_ / "calls.txt")) << Slurp(dir_ / "calls.txt");
}

// A level that is no number ends the check with a line before anything
// runs, and is never evaluated: bash's arithmetic would run the command in
// a name's index.
TEST_F(OomCheck, ALevelThatIsNoNumberIsRefusedUnevaluated) {
  const std::string level = "SECONDS[$(>" + dir_ / "evaluated" + ")]";
  const Ran run = Run("LEVELS=" + Quoted("150 " + level));
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "oom-check: LEVELS holds whole numbers of MiB, not '" + level + "'\n");
  EXPECT_FALSE(fs::exists(dir_ / "evaluated"));
  EXPECT_FALSE(fs::exists(dir_ / "calls.txt")) << Slurp(dir_ / "calls.txt");
}

// Called by its full path, the script in a checkout whose name ends in a
// newline runs that checkout's game, not the one of the folder beside it
// named without the newline; called by a relative path, it runs its own
// checkout's, not one that the caller's CDPATH leads to.
TEST_F(OomCheck, TheCheckoutIsTheOneItLiesInWhateverItsNameEndsIn) {
  MakeCheckout("co\n");
  const Ran run = scripttest::Shell(dir_, Command("", "co\n"));
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(Slurp(dir_ / "calls.txt"), "Xvfb\nco\n headless\nco\n sdl\n");

  MakeCheckout("elsewhere/co");
  const Ran by_cdpath = scripttest::Shell(dir_, Command("CDPATH=" + Quoted(dir_ / "elsewhere"), "co", dir_ / ""));
  EXPECT_EQ(by_cdpath.status, 0) << by_cdpath.out << by_cdpath.err;
  EXPECT_EQ(Slurp(dir_ / "calls.txt"), "Xvfb\nco headless\nco sdl\n");
}

// Root's scratch is not made in a temporary folder that another user may
// change (here one of theirs), nor in one not yet there in such a folder
// (they could make it in a moment): one line, status 1, nothing made there
// and nothing run.
TEST_F(OomCheck, AsRootAnotherUsersTemporaryFolderIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a folder to another user";
  fs::create_directory(dir_ / "theirs");
  ASSERT_TRUE(testsupport::GiveToUnprivilegedUser(dir_ / "theirs"));
  for (const char* temp : {"theirs", "theirs/not-yet"}) {
    const Ran run = Run("TMPDIR=" + Quoted(dir_ / temp));
    EXPECT_EQ(run.status, 1) << temp;
    EXPECT_EQ(run.out, "") << temp;
    EXPECT_EQ(run.err.rfind("oom-check: the temporary folder is not root's alone (" + dir_ / "theirs" +
                                " is user id " + std::to_string(testsupport::UnprivilegedUid()) + "'s, mode ",
                            0),
              0u)
        << run.err;
    EXPECT_EQ(Lines(run.err), 1) << run.err;
    EXPECT_TRUE(fs::is_empty(dir_ / "theirs")) << temp;
    EXPECT_FALSE(fs::exists(dir_ / "calls.txt")) << Slurp(dir_ / "calls.txt");
  }
}

}  // namespace
