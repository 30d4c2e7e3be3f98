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
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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
// The folder the runs keep theirs in, in the chroot's /var/tmp.
const std::string kRuns = "fresh-root-check-runs";
const std::string kNoRoot = "fresh-root-check: no fresh root: ";

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
  std::vector<std::string> Runs() const { return Names("var/tmp/" + kRuns); }

  testsupport::ScratchDir dir_{testsupport::UnprivilegedTempFolder()};
};

// Ends every process whose name is `name`; returns how many there were.
int KillNamed(const std::string& name) {
  int killed = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string cmdline = Slurp(entry.path() / "cmdline");
    if (cmdline.compare(0, cmdline.find('\0'), name) != 0) continue;
    ::kill(std::stoi(pid), SIGKILL);
    ++killed;
  }
  return killed;
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
    EXPECT_EQ(Names(), std::vector<std::string>{kRuns});
    EXPECT_TRUE(Runs().empty());
  }
}

// A command run in the background; its status once it has ended.
class Background {
 public:
  explicit Background(const std::string& command) {
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
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
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
// while it lives, so only a folder whose lock is free (its run killed
// outright) is swept. The test takes the part of the other runs: one that
// is making its folder (holding the runs' folder), then one that holds its
// folder; and of a run of an older commit, which kept its folder in
// /var/tmp, named fresh-root-check.*, and swept every such folder of no live
// run (by a pid file in it): neither touches the other's.
TEST_F(FreshRootCheck, RunsStartedTogetherEachKeepTheirFolder) {
  const fs::path var_tmp = dir_.path() / "root/var/tmp";
  const fs::path runs = var_tmp / kRuns;
  const fs::path stand_ins = dir_.path() / "root/stand-ins";
  fs::create_directories(runs / "run.killed/root/usr");
  fs::create_directories(runs / "run.starting");
  fs::permissions(runs, fs::perms::owner_all);
  dir_.Write("root/var/tmp/fresh-root-check.older/pid", std::to_string(::getpid()) + "\n");
  ASSERT_EQ(::mkfifo((stand_ins / "hold").c_str(), 0600), 0);
  const int making = Lock(runs);
  // This run stays in its debootstrap until it is let go.
  Background held(InChrootCommand("RUN='exit 3' scripts/fresh-root-check"));
  while (!LockAwaited(runs) && !held.Ended() && !fs::exists(stand_ins / "holding")) ::usleep(1000);
  EXPECT_TRUE(LockAwaited(runs)) << "the run went on without waiting for the runs' folder";
  const int starting = Lock(runs / "run.starting");
  ::close(making);
  while (!held.Ended() && !fs::exists(stand_ins / "holding")) ::usleep(1000);

  // Another run sweeps while the first is in its debootstrap, and so does
  // one of an older commit.
  Background other(InChrootCommand("RUN='exit 4' scripts/fresh-root-check"));
  while (!other.Ended() && !LockAwaited(runs) && !LockAwaited(var_tmp)) ::usleep(1000);
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
  const Ran older = Shell(dir_, "for old in " + Quoted(var_tmp) + "/fresh-root-check.*; do\n"
                                "  pid=$(cat \"$old/pid\" 2>/dev/null || true)\n"
                                "  if [ -z \"$pid\" ] || ! kill -0 \"$pid\"; then rm -rf \"$old\"; fi\n"
                                "done");
  EXPECT_EQ(older.status, 0) << older.err;

  let_go_once();
  EXPECT_EQ(held.Wait(), 3);
  ::close(starting);
  EXPECT_EQ(Runs(), std::vector<std::string>{"run.starting"});
  EXPECT_EQ(Names(), (std::vector<std::string>{kRuns, "fresh-root-check.older"}));
  EXPECT_EQ(MountsLeft(), "");
}

// Nothing another user may put in /var/tmp holds a run, or is touched by
// one: a lock on /var/tmp itself (which anyone may open), their folder and
// their link under the names older commits' runs used.
TEST_F(FreshRootCheck, AnotherUsersLockFolderOrLinkInVarTmpNeitherHoldsARunNorIsTouched) {
  const fs::path var_tmp = dir_.path() / "root/var/tmp";
  dir_.Write("root/var/tmp/fresh-root-check.theirs/file", "theirs\n");
  fs::create_directories(dir_.path() / "root/outside");
  fs::create_directory_symlink(dir_.path() / "root/outside", var_tmp / "fresh-root-check.link");
  ASSERT_TRUE(testsupport::GiveToUnprivilegedUser(var_tmp / "fresh-root-check.theirs"));
  ASSERT_TRUE(testsupport::GiveToUnprivilegedUser(var_tmp / "fresh-root-check.link"));
  const int theirs = Lock(var_tmp);
  Background run(InChrootCommand("RUN='exit 3' scripts/fresh-root-check"));
  while (!run.Ended() && !LockAwaited(var_tmp)) ::usleep(1000);
  EXPECT_FALSE(LockAwaited(var_tmp)) << "the run waits for another user's lock";
  ::close(theirs);
  EXPECT_EQ(run.Wait(), 3);
  EXPECT_EQ(Slurp(var_tmp / "fresh-root-check.theirs/file"), "theirs\n");
  EXPECT_TRUE(fs::is_symlink(var_tmp / "fresh-root-check.link"));
  EXPECT_TRUE(Names("outside").empty());
}

// Every failure to set up a root gives the one line, and nothing runs: no
// /proc (without which bash's <(...) fails too, and would say so), no /var/tmp
// or a read-only one, and a name for the runs' folder another user took, as
// a folder or as a link to a folder of root's (nothing is made there), or a
// folder of root's that others may enter.
TEST_F(FreshRootCheck, EveryFailureToSetUpGivesTheOneLineAndRunsNothing) {
  const fs::path runs = dir_.path() / "root/var/tmp" / kRuns;
  const std::string uid = std::to_string(testsupport::UnprivilegedUid());
  const std::string in_runs = "/var/tmp/" + kRuns + " is not a folder that root alone may enter (a ";
  struct Case {
    std::string before, after;  // in the chroot, around the run
    std::function<void()> plant;
    std::string why;
  };
  const std::vector<Case> cases = {
      {"umount /proc", "", [] {}, "/proc is not mounted here, and the run's namespaces need it"},
      {"rmdir /var/tmp", "mkdir /var/tmp", [] {}, "there is no /var/tmp to build it in"},
      {"mount --bind /var/tmp /var/tmp && mount -o remount,bind,ro /var/tmp", "umount /var/tmp", [] {},
       "cannot create directory '/var/tmp/" + kRuns + "': Read-only file system"},
      {"", "", [&] {
         fs::create_directory(runs);
         fs::permissions(runs, fs::perms::owner_all);
         testsupport::GiveToUnprivilegedUser(runs);
       },
       in_runs + "directory of user id " + uid + ", mode 700)"},
      {"", "", [&] {
         fs::create_directories(dir_.path() / "root/outside");
         fs::permissions(dir_.path() / "root/outside", fs::perms::owner_all);
         fs::create_directory_symlink("/outside", runs);
         testsupport::GiveToUnprivilegedUser(runs);
       },
       in_runs + "symbolic link of user id " + uid + ", mode 777)"},
      {"", "", [&] { fs::create_directory(runs); }, in_runs + "directory of user id 0, mode 755)"},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_.path() / "root/var/tmp");
    VarTmpAsAMachineHasIt();
    c.plant();
    const Ran run = InChroot((c.before.empty() ? "" : c.before + " && ") + "LANG=C RUN='exit 3' scripts/fresh-root-check; rc=$?; " +
                             (c.after.empty() ? ":" : c.after) + "; exit $rc");
    EXPECT_EQ(run.status, 125) << c.why;
    EXPECT_EQ(run.err, kNoRoot + c.why + "\n");
    EXPECT_EQ(run.out, "");
  }
  EXPECT_TRUE(Names("outside").empty());
}

// A checkout that another user owns is run all the same (as plain root, git
// would stop at its ownership), whatever its path holds: a path reaches no
// shell as its text. A tree without git (an exported tarball) has no commit
// to clone: one line, and .ci/run runs the check here.
TEST_F(FreshRootCheck, ACheckoutAnyPathAnotherUserOwnsRunsATreeWithoutGitFallsBack) {
  const std::string path = "/-a\tb';touch /var/tmp/quote;: '$(touch /var/tmp/substitution)\"\nc";
  MakeCheckout(dir_, "root" + path, true);
  ASSERT_TRUE(testsupport::GiveToUnprivilegedUser(dir_.path() / ("root" + path)));
  const Ran owned = InChroot("cd " + Quoted(path) + " && RUN='exit 6' scripts/fresh-root-check");
  EXPECT_EQ(owned.status, 6) << owned.err;
  EXPECT_EQ(Names(), std::vector<std::string>{kRuns});

  fs::remove_all(dir_.path() / "root/src/.git");
  const Ran exported = InChroot("CI=true .ci/run");
  EXPECT_EQ(exported.status, 0);
  EXPECT_EQ(exported.err,
            kNoRoot + "/src is no git checkout (an exported tree?), so there is no commit to clone; ./check.sh runs "
                      "on this machine instead\n");
  EXPECT_EQ(exported.out, "check.sh ran here, CI=true\n");
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
    EXPECT_EQ(debootstrap.find("--variant=minbase --include=" + form.include + " bookworm /var/tmp/" + kRuns + "/run."),
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

// A runner that stops the job with TERM (or INT, as a Ctrl-C) to .ci/run's
// own process stops the whole run: once .ci/run has ended, by the signal, no
// process, mount or folder of the run is left, and no check ran here. The
// check does not ignore INT, as a process bash starts in the background
// would (written down as it starts).
TEST_F(FreshRootCheck, TermOrIntToCiRunEndsTheWholeRun) {
  const std::string left = "checking-" + dir_.path().filename().string();
  const fs::path runs = dir_.path() / "root/var/tmp" / kRuns;
  const auto started = [&] {
    std::error_code ec;
    for (const auto& run : fs::directory_iterator(runs, ec))
      if (fs::exists(run.path() / "root/started")) return true;
    return false;
  };
  for (const int signal : {SIGTERM, SIGINT}) {
    Background ci(InChrootCommand(
        "echo $$ >/ci-run.pid; RUN='while read -r k v; do [ $k != SigIgn: ] || echo $v; done </proc/self/status "
        ">/ignored; : >/started; exec -a " + left + " sleep 60' exec .ci/run >/ci-run.out"));
    while (!ci.Ended() && !started()) ::usleep(1000);
    ASSERT_TRUE(started());
    for (const auto& run : fs::directory_iterator(runs))
      EXPECT_EQ(std::stoull(Slurp(run.path() / "root/ignored"), nullptr, 16) & (1ull << (SIGINT - 1)), 0u);
    ::kill(std::stoi(Slurp(dir_ / "root/ci-run.pid")), signal);
    EXPECT_EQ(ci.Wait(), 128 + signal);
    EXPECT_EQ(Slurp(dir_ / "root/ci-run.out").find("ended with status"), std::string::npos) << "the check ran on";
    EXPECT_EQ(KillNamed(left), 0) << "the check in the root outlived .ci/run";
    EXPECT_EQ(MountsLeft(), "");
    EXPECT_TRUE(Runs().empty());
  }
}

// An ordinary user's CI (as most CI runners are) passes where the code is
// right: .ci/run says in one line that no root can be built and runs the
// check on this machine, where only the tests labelled root may skip, and
// are named; root's CI lets none skip.
TEST(OrdinaryUserCi, OneLineTheCheckHereAndOnlyTestsThatNeedRootMaySkip) {
  testsupport::ScratchDir dir(testsupport::UnprivilegedTempFolder());
  MakeCheckout(dir, "src", false);
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

  const Ran ci = as_user("cd " + Quoted(dir / "src") + " && CI=true bash .ci/run");
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
