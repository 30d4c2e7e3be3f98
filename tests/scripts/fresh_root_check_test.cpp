// scripts/fresh-root-check and .ci/run as CI runs them. As root: in a
// chroot that lies on a mount with shared propagation, as on a systemd host
// (tests/scripts/shared-chroot), on a checkout of their own, with a stand-in
// debootstrap that makes a tiny root in a moment
// (tests/scripts/stand-in-debootstrap) and the apt sources a test gives
// (APT_CONFIG); for anyone else those tests skip (they carry the label root).
// And as an ordinary user, whose CI runs the check on this machine.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
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

const std::string kSource = RORUD_SOURCE_DIR;
// The folder the runs keep theirs in, in the chroot's /var/lib.
const std::string kRuns = "fresh-root-check";
const std::string kNoRoot = "fresh-root-check: no fresh root: ";
// A safety net for what a signal (or a limit) ends at once, counted from
// then: a loaded machine takes a few seconds, and what it missed waits for
// ten minutes.
constexpr int kSignalLimitSeconds = 60;

// A copy of a file of the source tree at `to` in `dir`.
void CopyFromSource(const testsupport::ScratchDir& dir, const std::string& to, const std::string& from) {
  fs::copy_file(kSource + "/" + from, dir.Write(to, ""), fs::copy_options::overwrite_existing);
}

// The CI scripts at `at` in `dir`, with a check.sh that says it ran; a git
// checkout of them if `git`.
void MakeCheckout(const testsupport::ScratchDir& dir, const std::string& at, bool git) {
  for (const char* script : {".ci/run", "scripts/fresh-root-check"}) CopyFromSource(dir, at + "/" + script, script);
  scripttest::WriteScript(dir, at + "/check.sh", "echo \"check.sh ran here, CI=${CI:-}\"");
  if (git) {
    const Ran made = Shell(dir, "cd " + Quoted(dir / at) +
                                    " && git init -q && git add -A && git -c user.name=ci -c user.email=ci@localhost "
                                    "commit -qm checkout");
    ASSERT_EQ(made.status, 0) << made.err;
  }
}

class FreshRootCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "building a root needs root";
    // No other user reaches the test's root, whose /var/tmp is anyone's.
    fs::permissions(dir_.path(), fs::perms::owner_all);
    MakeCheckout(dir_, "root/src", true);
    CopyFromSource(dir_, "root/stand-ins/debootstrap", "tests/scripts/stand-in-debootstrap");
    Sources("deb http://deb.example/debian bookworm main\n");
    VarTmpAsAMachineHasIt();
  }
  // Anyone's, sticky.
  void VarTmpAsAMachineHasIt() const {
    fs::create_directories(dir_.path() / "root/var/tmp");
    fs::permissions(dir_.path() / "root/var/tmp", fs::perms::all | fs::perms::sticky_bit);
  }
  // This machine's apt sources as the script reads them: sources.list and
  // files in sources.list.d.
  void Sources(const std::string& list, const std::vector<std::pair<std::string, std::string>>& parts = {}) {
    fs::remove_all(dir_.path() / "root/apt");
    dir_.Write("root/apt/config",
               "Dir::Etc::sourcelist \"/apt/sources.list\";\nDir::Etc::sourceparts \"/apt/sources.list.d\";\n"
               "Dir::Etc::parts \"/apt/apt.conf.d\";\n");
    dir_.Write("root/apt/sources.list", list);
    fs::create_directories(dir_.path() / "root/apt/sources.list.d");
    fs::create_directories(dir_.path() / "root/apt/apt.conf.d");
    for (const auto& [name, text] : parts) dir_.Write("root/apt/sources.list.d/" + name, text);
  }
  std::string InChrootCommand(const std::string& command) const {
    return Quoted(kSource + "/tests/scripts/shared-chroot") + " " + Quoted(dir_.path()) + " " +
           Quoted("export APT_CONFIG=/apt/config; cd /src && " + command);
  }
  // A command in the checkout, in the chroot, as root.
  Ran InChroot(const std::string& command) const { return Shell(dir_, InChrootCommand(command)); }
  std::string MountsLeft() const { return Slurp(dir_ / "mounts-left"); }
  // Whatever a folder of the chroot holds.
  std::vector<std::string> Names(const std::string& folder = "var/tmp") const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path() / "root" / folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> Runs() const { return Names("var/lib/" + kRuns); }

  testsupport::ScratchDir dir_{testsupport::UnprivilegedTempFolder()};
};

// A file of /proc as it reads, empty once its process has gone (a read
// then fails, which a stream would throw for).
std::string ProcText(const fs::path& path) {
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char chunk[4096];
  for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) text.append(chunk, size_t(n));
  ::close(fd);
  return text;
}

// The processes whose name is `name`.
std::vector<pid_t> Named(const std::string& name) {
  std::vector<pid_t> named;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string cmdline = ProcText(entry.path() / "cmdline");
    if (cmdline.compare(0, cmdline.find('\0'), name) == 0) named.push_back(std::stoi(pid));
  }
  return named;
}

// Ends every process whose name is `name`; returns how many there were.
int KillNamed(const std::string& name) {
  const std::vector<pid_t> named = Named(name);
  for (const pid_t pid : named) ::kill(pid, SIGKILL);
  return int(named.size());
}

// Whether `done` came true within the time limit for what a signal ends.
bool WithinSignalLimit(const std::function<bool()>& done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(kSignalLimitSeconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    ::usleep(1000);
  }
  return true;
}

// A command that leaves a process behind, named `name`, and ends with `status`.
std::string LeavingAProcess(const std::string& name, int status) {
  return "RUN='(exec -a " + name + " sleep 600) >/dev/null 2>&1 & exit " + std::to_string(status) + "'";
}

// However the chroot lies, no mount or process of a run outlives it, its
// folder goes, so the next run runs as well, and the run ends with its
// command's status: .ci/run runs no check here then, and a 125 of the
// command's (which the script's own "no root" is) is a failure like another.
TEST_F(FreshRootCheck, NoMountOrFolderOutlivesARunInAChrootOnASharedMount) {
  const std::string left = "leftover-" + dir_.path().filename().string();
  for (const auto& [status, ended] : std::vector<std::pair<int, int>>{{5, 5}, {125, 1}}) {
    const Ran run = InChroot(LeavingAProcess(left, status) + " CI=true .ci/run");
    EXPECT_EQ(run.status, ended) << run.err;
    EXPECT_EQ(run.out.find("check.sh ran here"), std::string::npos) << run.out;
    EXPECT_EQ(KillNamed(left), 0) << "a process of the run outlived it";
    EXPECT_EQ(MountsLeft(), "");
    EXPECT_TRUE(Names().empty());
    EXPECT_EQ(Names("var/lib"), std::vector<std::string>{kRuns});
    EXPECT_TRUE(Runs().empty());
  }
}

// No other user can make a name in a test's root: one in its /var/tmp
// would fail the tests that look at what is there.
TEST_F(FreshRootCheck, NoOtherUserMakesANameInTheTestsRoot) {
  const std::string var_tmp = dir_ / "root/var/tmp";
  const testsupport::AsUserResult made = testsupport::RunAsUnprivilegedUser(
      [&](std::string&) { return ::mkdir((var_tmp + "/theirs").c_str(), 0755) == 0 ? 1 : 0; });
  RORUD_SKIP_UNLESS_RAN(made);
  EXPECT_EQ(made.status, 0);
  EXPECT_TRUE(Names().empty());
}

// A command run in the background; its status once it has ended (128 and
// the signal, as the shell gives it, for one that a signal ended).
class Background {
 public:
  explicit Background(const std::string& command) {
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      // Started as a runner starts a job, INT and QUIT taken whatever this
      // process was given (a test run in the background ignores them, and
      // bash cannot take back a signal ignored when it started).
      ::signal(SIGINT, SIG_DFL);
      ::signal(SIGQUIT, SIG_DFL);
      ::execl("/bin/bash", "bash", "-c", (command + " >/dev/null 2>&1").c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  bool Ended() { return Reap(WNOHANG); }
  int Wait() {
    Reap(0);
    return status_;
  }

 private:
  bool Reap(int options) {
    int status = 0;
    if (!ended_ && ::waitpid(pid_, &status, options) == pid_) {
      ended_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return ended_;
  }
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = -1;
};

// An exclusive lock on a file or folder, as the script takes it.
int Lock(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(::flock(fd, LOCK_EX), 0) << path;
  return fd;
}

// Whether a process waits for a lock on `path` (as /proc/locks lists it).
bool LockAwaited(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  char id[64];
  std::snprintf(id, sizeof id, " %02x:%02x:%llu ", ::major(st.st_dev), ::minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  std::istringstream locks(Slurp("/proc/locks"));
  for (std::string line; std::getline(locks, line);) {
    if (line.find("->") != std::string::npos && line.find(id) != std::string::npos) return true;
  }
  return false;
}

// Runs started together: each waits for the lock on the runs' folder before
// it sweeps the others' folders and makes its own, which it keeps locked
// while it lives, so only a folder whose lock is free (its run ended by a
// signal or killed outright) is swept. The test takes the part of the other
// runs: one that is making its folder (holding the runs' folder), then one
// that holds its folder.
TEST_F(FreshRootCheck, RunsStartedTogetherEachKeepTheirFolder) {
  const fs::path runs = dir_.path() / "root/var/lib" / kRuns;
  const fs::path stand_ins = dir_.path() / "root/stand-ins";
  fs::create_directories(runs / "run.killed/root/usr");
  fs::create_directories(runs / "run.starting");
  fs::permissions(runs, fs::perms::owner_all);
  ASSERT_EQ(::mkfifo((stand_ins / "hold").c_str(), 0600), 0);
  const int making = Lock(runs);
  // This run stays in its debootstrap until it is let go.
  Background held(InChrootCommand("RUN='exit 3' scripts/fresh-root-check"));
  while (!LockAwaited(runs) && !held.Ended() && !fs::exists(stand_ins / "holding")) ::usleep(1000);
  EXPECT_TRUE(LockAwaited(runs)) << "the run went on without waiting for the runs' folder";
  const int starting = Lock(runs / "run.starting");
  ::close(making);
  while (!held.Ended() && !fs::exists(stand_ins / "holding")) ::usleep(1000);

  // Another run sweeps while the first is in its debootstrap.
  Background other(InChrootCommand("RUN='exit 4' scripts/fresh-root-check"));
  while (!other.Ended() && !LockAwaited(runs)) ::usleep(1000);
  EXPECT_TRUE(other.Ended()) << "a run waits for one in its debootstrap";
  bool let_go = false;
  const auto let_go_once = [&] {
    if (!let_go && fs::exists(stand_ins / "held")) std::ofstream(stand_ins / "held") << "go\n";
    let_go = true;
  };
  if (!other.Ended()) let_go_once();
  EXPECT_EQ(other.Wait(), 4);
  std::vector<std::string> left = Runs();
  EXPECT_EQ(left.size(), 2u);
  EXPECT_NE(std::find(left.begin(), left.end(), "run.starting"), left.end());

  let_go_once();
  EXPECT_EQ(held.Wait(), 3);
  ::close(starting);
  EXPECT_EQ(Runs(), std::vector<std::string>{"run.starting"});
  EXPECT_EQ(MountsLeft(), "");
}

// Nothing another user may put in /var/tmp, where anyone makes names, holds
// a run, moves it to this machine or is touched by it: a lock on /var/tmp
// itself (which anyone may open), and their folder, link, named pipe or file
// under the names that runs of older commits used, made before any run.
TEST_F(FreshRootCheck, AnotherUsersNamesAndLockInVarTmpNeitherHoldNorMoveARunNorAreTouched) {
  const fs::path var_tmp = dir_.path() / "root/var/tmp";
  fs::create_directories(dir_.path() / "root/outside");
  const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> kinds = {
      {"folder", [](const fs::path& at) { fs::create_directory(at); }},
      {"link", [&](const fs::path& at) { fs::create_directory_symlink(dir_.path() / "root/outside", at); }},
      {"pipe", [](const fs::path& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0); }},
      {"file", [](const fs::path& at) { std::ofstream(at) << "theirs\n"; }},
  };
  for (const auto& [kind, make] : kinds) {
    fs::remove_all(var_tmp);
    VarTmpAsAMachineHasIt();
    for (const std::string name : {"fresh-root-check-runs", "fresh-root-check.theirs"}) {
      make(var_tmp / name);
      ASSERT_TRUE(testsupport::GiveToUnprivilegedUser(var_tmp / name));
    }
    const int theirs = Lock(var_tmp);
    Background run(InChrootCommand("RUN='exit 3' CI=true .ci/run"));
    while (!run.Ended() && !LockAwaited(var_tmp)) ::usleep(1000);
    EXPECT_FALSE(LockAwaited(var_tmp)) << "the run waits for another user's lock";
    ::close(theirs);
    EXPECT_EQ(run.Wait(), 3) << kind;
    for (const std::string name : {"fresh-root-check-runs", "fresh-root-check.theirs"}) {
      struct stat st {};
      EXPECT_EQ(::lstat((var_tmp / name).c_str(), &st), 0) << kind;
      EXPECT_EQ(st.st_uid, testsupport::UnprivilegedUid()) << kind;
    }
    EXPECT_EQ(Names().size(), 2u) << kind;
    if (kind == "folder") {
      EXPECT_TRUE(Names("var/tmp/fresh-root-check-runs").empty());
    }
    EXPECT_TRUE(Names("outside").empty()) << kind;
  }
}

// Every failure to set up a root gives the one line, nothing runs, and CI
// runs the check here: no /proc (without which bash's <(...) fails too, and
// would say so); a /var/lib that is missing, read-only, another user's,
// open to others (sticky or not), or a link to a folder another user owns;
// a folder of root's for the runs that others may enter; a checkout without
// a commit; a clone that fails. CORES that no command can be pinned to, or a
// limit on the wait for the runs' folder that is no number, is the caller's
// mistake: its own line, and no check runs at all.
TEST_F(FreshRootCheck, EveryFailureToSetUpGivesTheOneLineAndCiRunsTheCheckHere) {
  const fs::path var_lib = dir_.path() / "root/var/lib";
  const std::string uid = std::to_string(testsupport::UnprivilegedUid());
  const std::string open_to_others = "'s or open to others' writes (a directory, mode ";
  const std::string remove_it = ": remove it (rm -rf /var/lib/" + kRuns + ") and the next run makes it as it must be";
  struct Case {
    std::string before, after;  // in the chroot, around the run
    std::function<void()> plant;
    std::string why;
  };
  const std::vector<Case> cases = {
      {"umount /proc", "", [] {}, "/proc is not mounted here, and the run's namespaces need it"},
      {"rmdir /var/lib", "mkdir /var/lib", [] {}, "there is no /var/lib to build it in"},
      {"mount --bind /var/lib /var/lib && mount -o remount,bind,ro /var/lib", "umount /var/lib", [] {},
       "cannot create directory '/var/lib/" + kRuns + "': Read-only file system"},
      {"", "", [&] { testsupport::GiveToUnprivilegedUser(var_lib); },
       "/var/lib is user id " + uid + open_to_others + "755), so others may make names in /var/lib"},
      {"", "", [&] { fs::permissions(var_lib, fs::perms::all | fs::perms::sticky_bit); },
       "/var/lib is user id 0" + open_to_others + "1777), so others may make names in /var/lib"},
      {"", "", [&] { fs::permissions(var_lib.parent_path(), fs::perms::all); },
       "/var is user id 0" + open_to_others + "777), so others may make names in /var/lib"},
      {"", "", [&] {
         fs::remove(var_lib);
         fs::create_directories(dir_.path() / "root/outside");
         testsupport::GiveToUnprivilegedUser(dir_.path() / "root/outside");
         fs::create_directory_symlink("../outside", var_lib);
       },
       "/outside is user id " + uid + open_to_others + "755), so others may make names in /var/lib"},
      {"", "", [&] { fs::create_directory(var_lib / kRuns); },
       "/var/lib/" + kRuns + " is not a folder that root alone may enter (a directory of user id 0, mode 755)" +
           remove_it},
      {"", "", [&] {
         fs::create_directory(var_lib / kRuns);
         fs::permissions(var_lib / kRuns, fs::perms::owner_all);
         testsupport::GiveToUnprivilegedUser(var_lib / kRuns);
       },
       "/var/lib/" + kRuns + " is not a folder that root alone may enter (a directory of user id " + uid +
           ", mode 700)" + remove_it},
      {"", "", [&] { fs::create_directory_symlink("/nowhere", var_lib / kRuns); },
       "/var/lib/" + kRuns + " is not a folder that root alone may enter (a symbolic link of user id 0, mode 777)" +
           remove_it},
      {"mv .git .git.kept && git init -q", "rm -rf .git && mv .git.kept .git", [] {}, "/src has no commit to clone"},
      {"", "", [&] {
         scripttest::WriteScript(dir_, "root/stand-ins/git",
                                 "case \" $* \" in\n"
                                 "  *\" clone \"*) echo 'fatal: the clone failed here' >&2; exit 128 ;;\n"
                                 "esac\n"
                                 "exec /usr/bin/git \"$@\"");
       },
       "the clone of /src failed (fatal: the clone failed here)"},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_.path() / "root/var");
    fs::create_directories(var_lib);
    VarTmpAsAMachineHasIt();
    fs::remove(dir_.path() / "root/stand-ins/git");
    c.plant();
    const Ran run = InChroot((c.before.empty() ? "" : c.before + " && ") +
                             "LANG=C RUN='exit 3' CI=true .ci/run; rc=$?; " + (c.after.empty() ? ":" : c.after) +
                             "; exit $rc");
    EXPECT_EQ(run.status, 0) << c.why;
    EXPECT_EQ(run.err, kNoRoot + c.why + "; ./check.sh runs on this machine instead\n");
    EXPECT_EQ(run.out.find("running"), std::string::npos) << c.why;
    EXPECT_EQ(run.out.substr(std::min(run.out.size(), run.out.find("check.sh"))), "check.sh ran here, CI=true\n");
  }
  EXPECT_TRUE(Names("outside").empty());
  // As that line says, the folder removed, the next run makes it anew.
  fs::remove(dir_.path() / "root/stand-ins/git");
  fs::remove_all(var_lib / kRuns);
  fs::create_directory(var_lib / kRuns);
  const Ran mended = InChroot("rm -rf /var/lib/" + kRuns + " && RUN='exit 3' scripts/fresh-root-check");
  EXPECT_EQ(mended.status, 3) << mended.err;

  // Where there is a root and where there is none.
  for (const std::string before : {"", "mv .git .git.kept && "}) {
    const Ran pinned = InChroot(before + "CORES=none RUN='exit 3' CI=true .ci/run; rc=$?; [ ! -e .git.kept ] || mv .git.kept .git; exit $rc");
    EXPECT_EQ(pinned.status, 1);
    EXPECT_EQ(pinned.err, ".ci/run: CORES=none: taskset cannot pin a command to those cores here\n");
    EXPECT_EQ(pinned.out, "");
  }
  const Ran unwaited = InChroot("FRESH_ROOT_LOCK_WAIT=soon RUN='exit 3' CI=true .ci/run");
  EXPECT_EQ(unwaited.status, 1);
  EXPECT_EQ(unwaited.err, "fresh-root-check: FRESH_ROOT_LOCK_WAIT=soon: not a number of seconds\n");
  EXPECT_EQ(unwaited.out, "");
}

// The checkout run is the one the script lies in, exactly: one that another
// user owns is run all the same (as plain root, git would stop at its
// ownership), whatever its path holds (a path reaches no shell as its
// text), a name that ends in a newline included (beside it, the same name
// without the newline is another checkout), and whatever checkout git's
// variables in the environment name (as in a hook). .ci/run runs it from
// such a path too, and either, called by a relative name, runs its own
// checkout, not the one that an exported CDPATH leads that name to. A tree
// without git (an exported tarball) has no commit to clone: one line, and
// .ci/run runs the check here.
TEST_F(FreshRootCheck, TheCheckoutItLiesInRunsWhateverItsPathOwnerOrGitsVariablesATreeWithoutGitFallsBack) {
  const std::string run = "RUN='test -e only-here || exit 7; exit 6' CI=true";
  dir_.Write("root/src/only-here", "");
  MakeCheckout(dir_, "root/src", true);
  MakeCheckout(dir_, "root/elsewhere/src", true);
  for (const std::string script : {".ci/run", "scripts/fresh-root-check"}) {
    const Ran relative = InChroot("cd / && CDPATH=/elsewhere " + run + " src/" + script);
    EXPECT_EQ(relative.status, 6) << script << "\n" << relative.err;
    EXPECT_TRUE(Names().empty());
  }
  for (const std::string path : {"/-a\tb c';touch /var/tmp/quote;: '$(touch /var/tmp/substitution)\"\nd", "/src\n"}) {
    dir_.Write("root" + path + "/only-here", "");
    MakeCheckout(dir_, "root" + path, true);
    ASSERT_TRUE(testsupport::GiveToUnprivilegedUser(dir_.path() / ("root" + path)));
    const Ran owned =
        InChroot("cd " + Quoted(path) + " && GIT_DIR=/src/.git GIT_WORK_TREE=/src " + run + " \"$PWD/.ci/run\"");
    EXPECT_EQ(owned.status, 6) << path << "\n" << owned.err;
    EXPECT_TRUE(Names().empty());
  }

  fs::remove_all(dir_.path() / "root/src/.git");
  const Ran exported = InChroot("CI=true .ci/run");
  EXPECT_EQ(exported.status, 0);
  EXPECT_EQ(exported.err,
            kNoRoot + "/src is no git checkout (an exported tree?), so there is no commit to clone; ./check.sh runs "
                      "on this machine instead\n");
  EXPECT_EQ(exported.out, "check.sh ran here, CI=true\n");
}

// The check run here (no root: a tree without git) gets none of git's
// variables, a name that no shell can unset included: the script tests'
// set-up (git init, add and commit in a folder of their own) would commit
// into the repository they name. It runs on the cores CORES names, as its
// line says.
TEST_F(FreshRootCheck, TheCheckHereGetsNoneOfGitsVariablesAndRunsOnTheCoresGiven) {
  MakeCheckout(dir_, "root/other", true);
  const auto other = [&] { return InChroot("git -C /other rev-parse HEAD && git -C /other ls-files").out; };
  const std::string untouched = other();
  fs::remove_all(dir_.path() / "root/src/.git");
  scripttest::WriteScript(dir_, "root/src/check.sh",
                          "rm -rf /tmp/set-up && mkdir /tmp/set-up && cd /tmp/set-up && echo x >x && git init -q && "
                          "git add -A && git -c user.name=ci -c user.email=ci@localhost commit -qm set-up\n"
                          "env | grep ^GIT_\n"
                          "echo \"check.sh ran here on $(nproc) core(s)\"");
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  ASSERT_EQ(::sched_getaffinity(0, sizeof cpus, &cpus), 0);
  int core = 0;
  while (!CPU_ISSET(core, &cpus)) ++core;
  for (const std::string git : {"GIT_DIR=/other/.git GIT_INDEX_FILE=/other/.git/index",
                                "GIT_DIR=/other/.git GIT_WORK_TREE=/other env GIT_NOT-A-NAME=1"}) {
    const Ran run = InChroot("CORES=" + std::to_string(core) + " " + git + " .ci/run");
    EXPECT_EQ(run.status, 0) << git << "\n" << run.err;
    EXPECT_EQ(run.err, kNoRoot + "/src is no git checkout (an exported tree?), so there is no commit to clone; "
                                 "./check.sh runs on this machine instead, on cores " + std::to_string(core) + "\n");
    EXPECT_EQ(run.out, "check.sh ran here on 1 core(s)\n") << git;
    EXPECT_EQ(other(), untouched) << git;
  }
}

// Root's run makes nothing in a TMPDIR of another user's (what it made
// there could be swapped for a link to a file of root's), and the check in
// the root gets no TMPDIR: it uses the root's own /tmp.
TEST_F(FreshRootCheck, ARunMakesNothingInTheTmpdirItIsGivenAndTheCheckInTheRootGetsNone) {
  const fs::path theirs = dir_.path() / "root/var/tmp/theirs";
  fs::create_directories(theirs);
  ASSERT_TRUE(testsupport::GiveToUnprivilegedUser(theirs));
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(::inotify_add_watch(watch, theirs.c_str(), IN_CREATE | IN_MOVED_TO), 0);
  const Ran run = InChroot("TMPDIR=/var/tmp/theirs RUN='echo \"TMPDIR=${TMPDIR-none}\"' CI=true .ci/run");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\nTMPDIR=none\n"), std::string::npos) << run.out;
  char event[4096];
  EXPECT_LT(::read(watch, event, sizeof event), 1) << "the run made a file in another user's TMPDIR";
  ::close(watch);
}

// A lock on the runs' folder that another process holds (a descriptor
// someone kept, say) is waited for with a line that names the holder.
// Released, the run goes on; held past the limit, there is no fresh root,
// the line says how to mend it, and CI runs the check here. The wait starts
// once the run waits for the lock, and what the limit missed would wait for
// good: that fails the safety net.
TEST_F(FreshRootCheck, ALockOnTheRunsFolderIsWaitedForWithALineWithinALimit) {
  const fs::path runs = dir_.path() / "root/var/lib" / kRuns;
  fs::create_directories(runs);
  fs::permissions(runs, fs::perms::owner_all);
  std::string name = ProcText("/proc/self/comm");
  name.erase(name.find_last_not_of('\n') + 1);
  const std::string holder = "/var/lib/" + kRuns + " is locked by process " + std::to_string(::getpid()) + " (" +
                             name + ", user id 0)";
  for (const bool released : {true, false}) {
    const int held = Lock(runs);
    Background ci(InChrootCommand(std::string(released ? "" : "FRESH_ROOT_LOCK_WAIT=1 ") +
                                  "RUN='exit 3' CI=true .ci/run >/ci-run.out 2>/ci-run.err"));
    while (!ci.Ended() && !LockAwaited(runs)) ::usleep(1000);
    EXPECT_FALSE(ci.Ended()) << "the run did not wait for the lock";
    if (released) {
      ::close(held);
    } else {
      if (!WithinSignalLimit([&] { return ci.Ended(); })) ADD_FAILURE() << "the run waits for good";
      ::close(held);
    }
    const int status = ci.Wait();
    const std::string err = Slurp(dir_ / "root/ci-run.err");
    const std::string out = Slurp(dir_ / "root/ci-run.out");
    if (released) {
      EXPECT_EQ(status, 3) << err;
      EXPECT_EQ(err, "fresh-root-check: " + holder + "; waiting for it, at most 900s\n");
    } else {
      EXPECT_EQ(status, 0) << err;
      EXPECT_EQ(err, "fresh-root-check: " + holder + "; waiting for it, at most 1s\n" + kNoRoot + "/var/lib/" + kRuns +
                         " was still locked by process " + std::to_string(::getpid()) + " (" + name +
                         ", user id 0) after 1s: end what holds it, or if it is no run of this script, remove the "
                         "folder (rm -rf /var/lib/" + kRuns + "); ./check.sh runs on this machine instead\n");
      EXPECT_EQ(out, "check.sh ran here, CI=true\n");
    }
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(MountsLeft(), "");
  }
}

// Every form of apt source a Debian 12 machine may have gives the mirror
// that debootstrap builds from and the sources of the root, options that
// hold inside too (a snapshot's expired dates) kept and the keyring left
// to the root's own; an https mirror gets the certificates into the root.
// Where no mirror is found, or apt inside cannot fetch from it (a
// certificate only this machine trusts), one line and no run.
TEST_F(FreshRootCheck, EveryAptSourceFormGivesItsMirrorOrOneLine) {
  const std::string security = "deb http://deb.example/debian-security bookworm-security main\n";
  struct Form {
    std::string list;
    std::vector<std::pair<std::string, std::string>> parts;
    std::string include;
    std::string mirror;
    std::string root;  // the root's sources.list
  };
  const std::vector<Form> forms = {
      // deb822, as Debian 12 installs it
      {"",
       {{"debian.sources",
         "Types: deb\nURIs: http://deb.example/debian\nSuites: bookworm bookworm-updates\nComponents: main\n"
         "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\nTypes: deb\n"
         "URIs: http://deb.example/debian-security\nSuites: bookworm-security\nComponents: main\n"}},
       "git",
       "http://deb.example/debian",
       "deb http://deb.example/debian bookworm main\ndeb http://deb.example/debian bookworm-updates main\n" + security},
      // one-line entries with options, a sources.list.d/*.list file, and a
      // third-party archive of the same suite first
      {"deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://other.example/php bookworm "
       "main\ndeb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://one.example/debian/ "
       "bookworm main contrib\n",
       {{"security.list", "deb http://one.example/debian-security bookworm-security main\n"}},
       "git",
       "http://one.example/debian",
       "deb http://one.example/debian bookworm main\ndeb http://one.example/debian bookworm-updates main\n"
       "deb http://one.example/debian-security bookworm-security main\n"},
      // a mirror list in a file
      {"deb mirror+file:/apt/mirrors.txt bookworm main\n",
       {},
       "git",
       "http://first.example/debian",
       "deb http://first.example/debian bookworm main\ndeb http://first.example/debian bookworm-updates main\n"},
      // a snapshot, one-line and deb822
      {"deb [check-valid-until=no] http://snapshot.example/archive/debian/20250520T000000Z bookworm main\n",
       {{"security.sources",
         "Types: deb\nURIs: http://snapshot.example/archive/debian-security/20250520T000000Z\n"
         "Suites: bookworm-security\nComponents: main\ncheck-valid-until: no\n"}},
       "git",
       "http://snapshot.example/archive/debian/20250520T000000Z",
       "deb [check-valid-until=no] http://snapshot.example/archive/debian/20250520T000000Z bookworm main\n"
       "deb [check-valid-until=no] http://snapshot.example/archive/debian/20250520T000000Z bookworm-updates main\n"
       "deb [check-valid-until=no] http://snapshot.example/archive/debian-security/20250520T000000Z "
       "bookworm-security main\n"},
      // https
      {"deb https://secure.example/debian bookworm main\n" + security,
       {},
       "git,ca-certificates",
       "https://secure.example/debian",
       "deb https://secure.example/debian bookworm main\ndeb https://secure.example/debian bookworm-updates main\n" +
           security},
  };
  for (const Form& form : forms) {
    Sources(form.list, form.parts);
    dir_.Write("root/apt/mirrors.txt", "# the nearest first\nhttp://first.example/debian\tpriority:1\n"
                                       "http://second.example/debian\n");
    fs::remove(dir_.path() / "root/stand-ins/debootstrap.log");
    const Ran run = InChroot("RUN='echo \"$(</etc/apt/sources.list)\"' scripts/fresh-root-check");
    EXPECT_EQ(run.status, 0) << form.mirror << "\n" << run.err;
    const std::string debootstrap = Slurp(dir_ / "root/stand-ins/debootstrap.log");
    EXPECT_EQ(debootstrap.find("--variant=minbase --include=" + form.include + " bookworm /var/lib/" + kRuns + "/run."),
              0u)
        << debootstrap;
    EXPECT_EQ(debootstrap.substr(debootstrap.find("/root ") + 6), form.mirror + "\n");
    const std::string root = run.out.substr(run.out.find("in it\n") + 6);
    EXPECT_EQ(root.substr(0, root.find("fresh-root-check: ")), form.root);
  }

  Sources("deb http://deb.example/debian trixie main\ndeb http://deb.example/debian bookworm contrib\n");
  const Ran none = InChroot("scripts/fresh-root-check");
  EXPECT_EQ(none.status, 125);
  EXPECT_EQ(none.err, "fresh-root-check: no fresh root: no Debian mirror in this machine's apt sources\n");
  // apt-get update, as apt does, fails on a source it cannot fetch only
  // when asked to.
  Sources("deb https://secure.example/debian bookworm main\n");
  const Ran untrusted = InChroot(
      "APT_GET='echo \"W: Failed to fetch https://secure.example/debian/dists/bookworm/InRelease  Certificate "
      "verification failed\" >&2; echo \"W: Some index files failed to download.\" >&2; "
      "for a in \"$@\"; do [ \"$a\" != --error-on=any ] || exit 100; done' scripts/fresh-root-check");
  EXPECT_EQ(untrusted.status, 125);
  EXPECT_EQ(untrusted.err,
            "fresh-root-check: no fresh root: apt-get update fails in the root (W: Failed to fetch "
            "https://secure.example/debian/dists/bookworm/InRelease  Certificate verification failed)\n");
  EXPECT_EQ(untrusted.out.find("running"), std::string::npos) << untrusted.out;
  EXPECT_EQ(MountsLeft(), "");
  EXPECT_TRUE(Runs().empty());
}

// Where debootstrap is missing, the run installs it, waiting as the set-up
// does for another apt that holds dpkg's lock (this stand-in apt-get fails
// at once unless told to wait). This machine's debootstrap, in /usr/sbin, is
// out of the PATH.
TEST_F(FreshRootCheck, DebootstrapIsInstalledWaitingForAnotherAptsLock) {
  fs::rename(dir_.path() / "root/stand-ins/debootstrap", dir_.path() / "root/stand-ins/debootstrap.deb");
  scripttest::WriteScript(
      dir_, "root/stand-ins/apt-get",
      "case \" $* \" in *\" indextargets \"*) exec /usr/bin/apt-get \"$@\" ;; esac\n"
      "echo \"$*\" >>/stand-ins/apt-get.log\n"
      "case \" $* \" in\n"
      "  *\" -o DPkg::Lock::Timeout=\"[1-9]*) ;;\n"
      "  *) echo 'E: Could not get lock /var/lib/dpkg/lock-frontend' >&2; exit 100 ;;\n"
      "esac\n"
      "case \" $* \" in *\" install \"*) mv /stand-ins/debootstrap.deb /stand-ins/debootstrap ;; esac");
  fs::create_symlink("/usr/sbin/chroot", dir_.path() / "root/stand-ins/chroot");
  const Ran run = InChroot("PATH=/stand-ins:/usr/bin RUN='exit 4' scripts/fresh-root-check");
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_EQ(Slurp(dir_ / "root/stand-ins/apt-get.log"),
            "-o DPkg::Lock::Timeout=900 update -qq\n"
            "-o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends debootstrap\n");
}

// Whether signal `signal` is ignored by process `pid`.
bool Ignores(pid_t pid, int signal) {
  std::istringstream status(ProcText("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigIgn:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
  }
  return false;
}

// A runner that stops the job with TERM (or INT, as a Ctrl-C) to .ci/run's
// own process ends the run at once wherever it is, and .ci/run by that
// signal: in the sweep of a folder an earlier run left, in the install of
// debootstrap, in the check in the root (whose folder, however big, it
// leaves to the next run rather than waits to remove it). No process of the
// run outlives .ci/run, none of them ignores INT (as a command bash starts
// in the background would), no mount is left and no check ran here; the
// next run waits for no lock and sweeps what was left. The held step is a
// process that waits for ten minutes: a signal that does not reach it fails
// the time limit, which starts with the signal (the run's set-up, however
// slow on a loaded machine, is waited for until the held step is there).
TEST_F(FreshRootCheck, ASignalToCiRunEndsTheRunAtOnceWhereverItIs) {
  const std::string held = "held-" + dir_.path().filename().string();
  const fs::path stand_ins = dir_.path() / "root/stand-ins";
  const std::string hold = "exec -a " + held + " sleep 600";
  // While rm-holds is there, removing a run's folder is held.
  scripttest::WriteScript(dir_, "root/stand-ins/rm",
                          "if [ -e /stand-ins/rm-holds ]; then\n"
                          "  for a; do case $a in /var/lib/" + kRuns + "/run.*) " + hold + " ;; esac; done\n"
                          "fi\n"
                          "exec /usr/bin/rm \"$@\"");
  scripttest::WriteScript(dir_, "root/stand-ins/apt-get",
                          "case \" $* \" in *\" indextargets \"*) exec /usr/bin/apt-get \"$@\" ;; esac\n" + hold);
  const fs::path debootstrap = stand_ins / "debootstrap";
  struct Stage {
    std::string where;
    int signal;
    std::string path;  // for .ci/run
    std::function<void()> plant;
  };
  const std::vector<Stage> stages = {
      {"the sweep of an earlier run's folder", SIGTERM, "",
       [&] {
         fs::create_directories(dir_.path() / "root/var/lib" / kRuns / "run.killed/root");
         fs::permissions(dir_.path() / "root/var/lib" / kRuns, fs::perms::owner_all);
       }},
      // This machine's debootstrap, in /usr/sbin, is out of the PATH.
      {"the install of debootstrap", SIGTERM, "PATH=/stand-ins:/usr/bin",
       [&] { fs::rename(debootstrap, stand_ins / "debootstrap.deb"); }},
      {"the check in the root", SIGTERM, "", [] {}},
      {"the check in the root", SIGINT, "", [] {}},
  };
  for (const Stage& stage : stages) {
    const std::string where = stage.where + ", " + ::strsignal(stage.signal);
    stage.plant();
    dir_.Write("root/stand-ins/rm-holds", "");
    Background ci(InChrootCommand("echo $$ >/ci-run.pid; " + stage.path + " RUN=" + Quoted(hold) +
                                  " exec .ci/run >/ci-run.out"));
    // However long the set-up takes on a loaded machine: the limit starts
    // with the signal.
    while (!ci.Ended() && Named(held).empty()) ::usleep(1000);
    ASSERT_FALSE(ci.Ended()) << where;
    for (const pid_t pid : Named(held)) EXPECT_FALSE(Ignores(pid, SIGINT)) << where;
    ::kill(std::stoi(Slurp(dir_ / "root/ci-run.pid")), stage.signal);
    if (WithinSignalLimit([&] { return ci.Ended(); })) {
      EXPECT_EQ(KillNamed(held), 0) << where << ": a process of the run outlived .ci/run";
    } else {
      ADD_FAILURE() << where << ": .ci/run did not end";
      fs::remove(stand_ins / "rm-holds");
      while (!ci.Ended()) KillNamed(held);
    }
    EXPECT_EQ(ci.Wait(), 128 + stage.signal) << where;
    EXPECT_EQ(Slurp(dir_ / "root/ci-run.out").find("ended with status"), std::string::npos) << where;
    EXPECT_EQ(Slurp(dir_ / "root/ci-run.out").find("check.sh ran here"), std::string::npos) << where;
    EXPECT_EQ(MountsLeft(), "") << where;

    fs::remove(stand_ins / "rm-holds");
    if (fs::exists(stand_ins / "debootstrap.deb")) fs::rename(stand_ins / "debootstrap.deb", debootstrap);
    Background next(InChrootCommand("RUN='exit 3' scripts/fresh-root-check"));
    const fs::path runs = dir_.path() / "root/var/lib" / kRuns;
    while (!next.Ended() && !LockAwaited(runs)) ::usleep(1000);
    EXPECT_FALSE(LockAwaited(runs)) << where << ": the next run waits for a lock of the ended run's";
    KillNamed(held);
    EXPECT_EQ(next.Wait(), 3) << where;
    EXPECT_TRUE(Runs().empty()) << where;
  }
}

// An ordinary user's CI (as most CI runners are) passes where the code is
// right: .ci/run says in one line that no root can be built and runs the
// check on this machine, where only the tests labelled root may skip, and
// are named; root's CI lets none skip.
TEST(OrdinaryUserCi, OneLineTheCheckHereAndOnlyTestsThatNeedRootMaySkip) {
  testsupport::ScratchDir dir(testsupport::UnprivilegedTempFolder());
  MakeCheckout(dir, "the checkout", false);
  const std::string ctest_run = testsupport::CopyForUnprivilegedUser(kSource + "/scripts/ctest-run", dir.path());
  dir.Write("build/CTestTestfile.cmake",
            "add_test(NeedsRoot.Skips /bin/sh -c \"exit 4\")\n"
            "set_tests_properties(NeedsRoot.Skips PROPERTIES SKIP_RETURN_CODE 4 LABELS \"scripts;root\")\n"
            "add_test(Other.Skips /bin/sh -c \"exit 4\")\n"
            "set_tests_properties(Other.Skips PROPERTIES SKIP_RETURN_CODE 4 LABELS scripts)\n"
            "add_test(Other.Passes /bin/true)\n");
  testsupport::GiveToUnprivilegedUser(dir.path());
  const std::string uid = std::to_string(testsupport::UnprivilegedUid());
  const auto as_user = [&dir](const std::string& command) {
    const testsupport::AsUserResult run =
        testsupport::RunAsUnprivilegedUser([&](std::string&) { return Shell(dir, command).status; });
    return Ran{run.ran ? run.status : -1, Slurp(dir / "out.txt"), Slurp(dir / "err.txt")};
  };
  const std::string in_build = "cd " + Quoted(dir / "build") + " && TMPDIR=" + Quoted(dir.path()) +
                               " CI=true " + Quoted(ctest_run);

  const Ran ci = as_user("cd " + Quoted(dir / "the checkout") + " && CI=true bash .ci/run");
  EXPECT_EQ(ci.status, 0) << ci.err;
  EXPECT_EQ(ci.err, "fresh-root-check: no fresh root: building one needs root; ./check.sh runs on this machine "
                    "instead\n");
  EXPECT_EQ(ci.out, "check.sh ran here, CI=true\n");

  const Ran needs_root = as_user(in_build + " -R 'NeedsRoot|Passes'");
  EXPECT_EQ(needs_root.status, 0) << needs_root.out;
  EXPECT_NE(needs_root.out.find("ctest-run: these tests need root and skipped for user id " + uid +
                                ", as they may:\n\t  1 - NeedsRoot.Skips (Skipped)\n"),
            std::string::npos)
      << needs_root.out;
  const Ran other = as_user(in_build);
  EXPECT_EQ(other.status, 1);
  const std::string refused =
      "ctest-run: these tests skipped, which CI does not accept:\n\t  2 - Other.Skips (Skipped)\n";
  EXPECT_EQ(other.out.substr(other.out.size() - std::min(other.out.size(), refused.size())), refused) << other.out;
  if (::geteuid() == 0) {
    // Root's run, with a TMPDIR of another user's, makes nothing there: a
    // file made there may be swapped for a link to one of root's.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, dir.path().c_str(), IN_CREATE | IN_MOVED_TO), 0);
    const Ran root = Shell(dir, in_build + " -R NeedsRoot");
    char event[4096];
    EXPECT_LT(::read(watch, event, sizeof event), 1) << "ctest-run made a file in another user's TMPDIR";
    ::close(watch);
    EXPECT_EQ(root.status, 1);
    EXPECT_NE(root.out.find("which CI does not accept:\n\t  1 - NeedsRoot.Skips (Skipped)\n"), std::string::npos)
        << root.out;
  }

  // The tests here that need root carry the label. Listed from a folder of
  // the test's own: a listing writes ctest's log, which the run of these
  // tests is writing in the build.
  dir.Write("list/CTestTestfile.cmake", "subdirs(\"" RORUD_BINARY_DIR "/tests\")\n");
  const Ran labelled = Shell(dir, "cd " + Quoted(dir / "list") + " && ctest -N -L '^root$'");
  std::vector<std::string> needing_root = {"PlaySh.AnOwnerWithoutAnAccountIsNamedByTheUserId",
                                           "FreshRootCheck.NoMountOrFolderOutlivesARunInAChrootOnASharedMount"};
  // The platform's tests are listed once their binary is built.
  if (fs::exists(RORUD_BINARY_DIR "/tests/test_platform"))
    needing_root.push_back("WindowLockFolder.AsAnOrdinaryUserASquattersFixedFolderNamesTheSettingsThatWork");
  for (const std::string& name : needing_root) {
    EXPECT_NE(labelled.out.find(": " + name + "\n"), std::string::npos) << name << "\n" << labelled.out;
  }
  EXPECT_EQ(labelled.out.find("PlaySh.AFolderTheUserCannotWriteIsNamedWithTheWayOut"), std::string::npos);
}

// In an ordinary user's CI the check runs here, with .ci/run's input (which
// a password prompt of sudo's reads at a terminal). TERM (or INT) to
// .ci/run ends every process of the check, however deep, one that ignores
// INT too, and .ci/run by that signal once they have ended. The check's
// children wait for ten minutes: a signal that does not end them fails the
// time limit.
TEST(OrdinaryUserCi, ASignalToCiRunEndsEveryProcessOfTheCheckHere) {
  testsupport::ScratchDir dir(testsupport::UnprivilegedTempFolder());
  MakeCheckout(dir, "src", false);
  const std::string held = "held-" + dir.path().filename().string();
  // One waits in the background, where bash has it ignore INT (as
  // scripts/oom-check's X server does).
  scripttest::WriteScript(dir, "src/check.sh",
                          "read -r line && echo \"$line\" >input\n"
                          "bash -c 'exec -a " + held + " sleep 600' &\n"
                          "(exec -a " + held + " sleep 600)");
  testsupport::GiveToUnprivilegedUser(dir.path());
  for (const int signal : {SIGTERM, SIGINT}) {
    const testsupport::AsUserResult run = testsupport::RunAsUnprivilegedUser([&](std::string& text) {
      Background ci("cd " + Quoted(dir / "src") + " && echo $$ >ci-run.pid && exec .ci/run <<<typed");
      while (!ci.Ended() && Named(held).size() != 2) ::usleep(1000);
      if (ci.Ended()) {
        text = "the check did not start";
        return 1;
      }
      ::kill(std::stoi(Slurp(dir / "src/ci-run.pid")), signal);
      if (!WithinSignalLimit([&] { return ci.Ended(); })) {
        text += ".ci/run did not end\n";
        while (!ci.Ended()) KillNamed(held);
      } else if (KillNamed(held) != 0) {
        text += "a process of the check outlived .ci/run\n";
      }
      if (const int status = ci.Wait(); status != 128 + signal) text += "status " + std::to_string(status) + "\n";
      if (Slurp(dir / "src/input") != "typed\n") text += "the check read " + Slurp(dir / "src/input") + "\n";
      return text.empty() ? 0 : 1;
    });
    RORUD_SKIP_UNLESS_RAN(run);
    EXPECT_EQ(run.status, 0) << ::strsignal(signal) << ":\n" << run.text;
    fs::remove(dir / "src/input");
  }
}

// Root's tests refuse a temporary folder that another user could change,
// or one below such a folder: what a test made there could be swapped for
// a link to a file of root's, which the test would then write. A test
// program says so in one line, makes nothing there and runs no test.
TEST(RootsTests, RefuseATemporaryFolderAnotherUserCouldChange) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root's tests refuse one";
  testsupport::ScratchDir dir;
  const fs::path theirs = dir.path() / "theirs";
  fs::create_directories(theirs / "roots");
  ASSERT_TRUE(testsupport::GiveToUnprivilegedUser(theirs));
  ASSERT_EQ(::lchown((theirs / "roots").c_str(), 0, 0), 0);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  for (const fs::path& folder : {theirs, theirs / "roots"}) {
    ASSERT_GE(::inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MOVED_TO), 0);
    const Ran run = Shell(dir, "TMPDIR=" + Quoted(folder) + " " + Quoted(fs::read_symlink("/proc/self/exe")) +
                                   " --gtest_filter=-*");
    EXPECT_EQ(run.status, 1) << folder;
    EXPECT_NE(run.err.find(": the temporary folder is not root's alone (" + theirs.string() + " is user id " +
                           std::to_string(testsupport::UnprivilegedUid()) + "'s, mode 755)"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
  }
  char event[4096];
  EXPECT_LT(::read(watch, event, sizeof event), 1) << "a test program made a file in another user's folder";
  ::close(watch);
}

}  // namespace
