// tests/support/test_main.cpp - the main of every test binary: GoogleTest with
// a listener for tracked blocks. The library's tracked allocator keeps its
// blocks on its own list, out of LeakSanitizer's sight, so a test that starts
// and ends with the library not running must leave no more tracked blocks
// than it found; a block it dropped fails it, with the blocks written to the
// log. Every test process runs with a runtime folder of its own. Root's tests
// refuse a temporary folder that another user could change.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "lib/core/memory.h"
#include "lib/system/window_system.h"
#include "platform/window/window.h"
#include "tests/support/address_limit.h"

namespace {

class TrackedBlockListener : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override {
    ++testsupport::TestsStartedInProcess();
    checked_ = IsLibraryStarted() == 0;
    before_ = GetAllocationCount();
  }

  // Only a test that the library is not running around: while it runs, its
  // blocks are its own.
  void OnTestEnd(const testing::TestInfo&) override {
    if (!checked_ || IsLibraryStarted() != 0) return;
    const int left = GetAllocationCount() - before_;
    if (left > 0) DumpAllocations();
    EXPECT_LE(left, 0) << left << " tracked block(s) were left behind by this test";
  }

  bool checked_ = false;
  int before_ = 0;
};

// $XDG_RUNTIME_DIR for the process and the programs it starts, and the
// stand-in for /tmp where every copy locks as well: the window lock files
// and the sound server's folder that tests leave there stay out of the
// user's own folders, and a game the user has open holds no lock a test
// meets. Removed when the tests end; a test that wants the
// fallback folder unsets the variable itself. A test binary that a test runs
// (a death test's or a child suite's process, which may end by exit) keeps
// the folder of the test that runs it. The stand-in reaches the lock of this
// process through its test hook, and the game programs the tests run through
// RORUD_TEST_FIXED_LOCK_BASE, which only the test build of the game reads.
class RuntimeFolder {
 public:
  RuntimeFolder() {
    const char* given = std::getenv(kMark);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (given != nullptr && runtime != nullptr && std::strcmp(given, runtime) == 0) {
      if (const char* base = std::getenv("RORUD_TEST_FIXED_LOCK_BASE")) plat::SetFixedLockBaseForTesting(base);
      return;
    }
    std::error_code ec;
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "rorud_runtime_XXXXXX").string();
    if (ec || ::mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    ::setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
    // The folder every copy of a game locks in whatever its environment
    // says, /tmp's, is this process's too.
    ::setenv("RORUD_TEST_FIXED_LOCK_BASE", path_.c_str(), 1);
    plat::SetFixedLockBaseForTesting(path_);
    ::setenv(kMark, path_.c_str(), 1);
  }
  ~RuntimeFolder() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  RuntimeFolder(const RuntimeFolder&) = delete;
  RuntimeFolder& operator=(const RuntimeFolder&) = delete;

 private:
  static constexpr char kMark[] = "RORUD_TEST_RUNTIME_DIR";
  std::string path_;
};

// Why root may not make its tests' folders in the temporary folder, or empty
// when it may. What root makes in a folder that another user may write (and
// is not sticky, as /tmp is), or in one below it, that user may move and
// put a link in its place, through which a test would write a file of
// root's: every folder on the way, as named and with links followed, must be
// root's and closed to others or sticky.
std::string RootsTempFolderProblem() {
  if (::geteuid() != 0) return std::string();
  std::error_code ec;
  const std::filesystem::path temp = std::filesystem::absolute(std::filesystem::temp_directory_path(ec));
  if (ec) return std::string();  // each test that needs it says so
  for (const std::filesystem::path& way : {temp, std::filesystem::canonical(temp, ec)}) {
    for (std::filesystem::path at = way.lexically_normal();; at = at.parent_path()) {
      struct stat st {};
      if (::lstat(at.c_str(), &st) != 0) return at.string() + ": " + std::strerror(errno);
      if (st.st_uid != 0 || (S_ISDIR(st.st_mode) && (st.st_mode & 022) != 0 && (st.st_mode & S_ISVTX) == 0)) {
        char mode[16];
        std::snprintf(mode, sizeof mode, "%o", unsigned(st.st_mode & 07777));
        return at.string() + " is user id " + std::to_string(st.st_uid) + "'s, mode " + mode;
      }
      if (at == at.parent_path()) break;
    }
  }
  return std::string();
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::string problem = RootsTempFolderProblem(); !problem.empty()) {
    std::fprintf(stderr,
                 "%s: the temporary folder is not root's alone (%s): another user could turn what the tests make "
                 "there into a file of root's. Run root's tests with TMPDIR unset or naming a folder of root's.\n",
                 argv[0], problem.c_str());
    return 1;
  }
  const RuntimeFolder runtime;
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new TrackedBlockListener);
  return RUN_ALL_TESTS();
}
