// scripts/fresh-root-check and .ci/run as CI runs them. As root: in a
// chroot that lies on a mount with shared propagation, as on a systemd host
// (tests/scripts/shared-chroot), on a checkout of their own, with a stand-in
// debootstrap that makes a tiny root in a moment
// (tests/scripts/stand-in-debootstrap) and the apt sources a test gives
// (APT_CONFIG); for anyone else those tests skip (they carry the label root).
// And as an ordinary user, whose CI runs the check on this machine.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
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
  // Whatever the chroot's /var/tmp holds.
  std::vector<std::string> VarTmp() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path() / "root/var/tmp"))
      names.push_back(entry.path().filename().string());
    return names;
  }

  testsupport::ScratchDir dir_{testsupport::UnprivilegedTempFolder()};
};

// However the chroot lies, no mount of a run outlives it, the run ends with
// its command's status and its folder goes, so the next run runs as well.
TEST_F(FreshRootCheck, NoMountOrFolderOutlivesARunInAChrootOnASharedMount) {
  for (const int status : {5, 7}) {
    const Ran run = InChroot("RUN='exit " + std::to_string(status) + "' scripts/fresh-root-check");
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_EQ(MountsLeft(), "");
    EXPECT_TRUE(VarTmp().empty());
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

// Runs started together: each waits for the lock on /var/tmp before it
// sweeps the others' folders and makes its own, which it keeps locked while
// it lives, so only a folder whose lock is free (its run killed outright)
// is swept. The test takes the part of the other runs: one that is making
// its folder (holding /var/tmp), then one that holds its folder.
TEST_F(FreshRootCheck, RunsStartedTogetherEachKeepTheirFolder) {
  const fs::path var_tmp = dir_.path() / "root/var/tmp";
  const fs::path stand_ins = dir_.path() / "root/stand-ins";
  fs::create_directories(var_tmp / "fresh-root-check.killed/root/usr");
  fs::create_directories(var_tmp / "fresh-root-check.starting");
  ASSERT_EQ(::mkfifo((stand_ins / "hold").c_str(), 0600), 0);
  const int making = Lock(var_tmp);
  // This run stays in its debootstrap until it is let go.
  Background held(InChrootCommand("RUN='exit 3' scripts/fresh-root-check"));
  while (!LockAwaited(var_tmp) && !held.Ended() && !fs::exists(stand_ins / "holding")) ::usleep(1000);
  EXPECT_TRUE(LockAwaited(var_tmp)) << "the run went on without waiting for /var/tmp";
  const int starting = Lock(var_tmp / "fresh-root-check.starting");
  ::close(making);
  while (!held.Ended() && !fs::exists(stand_ins / "holding")) ::usleep(1000);

  // Another run sweeps while the first is in its debootstrap.
  const Ran other = InChroot("RUN='exit 4' scripts/fresh-root-check");
  EXPECT_EQ(other.status, 4) << other.err;
  std::vector<std::string> left = VarTmp();
  EXPECT_EQ(left.size(), 2u);
  EXPECT_NE(std::find(left.begin(), left.end(), "fresh-root-check.starting"), left.end());

  if (fs::exists(stand_ins / "held")) std::ofstream(stand_ins / "held") << "go\n";
  EXPECT_EQ(held.Wait(), 3);
  ::close(starting);
  EXPECT_EQ(VarTmp(), std::vector<std::string>{"fresh-root-check.starting"});
  EXPECT_EQ(MountsLeft(), "");
}

// A checkout that another user owns is run all the same (as plain root, git
// would stop at its ownership); a tree without git (an exported tarball)
// has no commit to clone: one line, and .ci/run runs the check here.
TEST_F(FreshRootCheck, ACheckoutAnotherUserOwnsRunsATreeWithoutGitFallsBack) {
  ASSERT_TRUE(testsupport::GiveToUnprivilegedUser(dir_.path() / "root/src"));
  const Ran owned = InChroot("RUN='exit 6' scripts/fresh-root-check");
  EXPECT_EQ(owned.status, 6) << owned.err;

  fs::remove_all(dir_.path() / "root/src/.git");
  const Ran exported = InChroot("CI=true .ci/run");
  EXPECT_EQ(exported.status, 0);
  EXPECT_EQ(exported.err,
            "fresh-root-check: no fresh root: /src is no git checkout (an exported tree?), so there is no commit to "
            "clone; ./check.sh runs on this machine instead\n");
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
         "Suites: bookworm-security\nComponents: main\nCheck-Valid-Until: no\n"}},
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
    EXPECT_EQ(debootstrap.find("--variant=minbase --include=" + form.include + " bookworm /var/tmp/fresh-root-check."),
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
  EXPECT_TRUE(VarTmp().empty());
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
    const Ran root = Shell(dir, in_build + " -R NeedsRoot");
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

}  // namespace
