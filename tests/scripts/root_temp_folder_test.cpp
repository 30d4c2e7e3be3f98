// The scripts root may run by hand that make files in the temporary folder
// (scripts/frame-wait-bench, scripts/make-wave-fuzz-seeds), on a checkout of
// their own whose cmake and sox are stand-ins that write down their calls:
// as root they refuse a temporary folder that another user could change,
// by whichever name the programs read, and take one of root's.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/scripts/script_test.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using scripttest::Quoted;
using scripttest::Ran;
using scripttest::Slurp;

TEST(RootTempFolder, ScriptsRunByHandRefuseOneAnotherUserCouldChange) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root's run refuses one";
  testsupport::ScratchDir dir;
  for (const char* script : {"frame-wait-bench", "make-wave-fuzz-seeds"}) {
    scripttest::WriteScript(dir, std::string("co/scripts/") + script,
                            Slurp(std::string(RORUD_SOURCE_DIR "/scripts/") + script));
  }
  dir.Write("co/scripts/temp-folder-rule", Slurp(RORUD_SOURCE_DIR "/scripts/temp-folder-rule"));
  fs::create_directories(dir / "co/tools/fuzz/corpus/wave");
  for (const char* tool : {"cmake", "sox"}) {
    scripttest::WriteScript(dir, std::string("bin/") + tool, "echo $0 >>" + Quoted(dir / "calls.txt") + "\nexit 7");
  }
  fs::create_directories(dir / "tmp");
  fs::permissions(dir / "tmp", fs::perms::owner_all);
  // Root's, but open to every user's writes, and not sticky.
  fs::create_directories(dir / "open");
  fs::permissions(dir / "open", fs::perms::all);
  for (const std::string script : {"frame-wait-bench", "make-wave-fuzz-seeds"}) {
    const std::string run = "cd / && env -u TMP -u TEMP -u TEMPDIR PATH=" + Quoted(dir / "bin") +
                            ":/usr/bin:/bin TMPDIR=" + Quoted(dir / "tmp") + " ";
    for (const std::string name : {"TMPDIR", "TMP", "TEMPDIR"}) {
      fs::remove(dir / "calls.txt");
      const Ran refused = scripttest::Shell(dir, run + name + "=" + Quoted(dir / "open") + " " +
                                                     Quoted(dir / ("co/scripts/" + script)));
      EXPECT_EQ(refused.status, 1) << script << " " << name;
      EXPECT_EQ(refused.err.rfind(script + ": root's temporary folder " + dir / "open" + " cannot be used (" +
                                      dir / "open" + " is user id 0's, mode 777): ",
                                  0),
                0u)
          << refused.err;
      EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
      EXPECT_FALSE(fs::exists(dir / "calls.txt")) << script << " " << name;
    }
    fs::remove(dir / "calls.txt");
    const Ran taken = scripttest::Shell(dir, run + Quoted(dir / ("co/scripts/" + script)));
    EXPECT_EQ(taken.status, 7) << script << "\n" << taken.err;
    EXPECT_TRUE(fs::exists(dir / "calls.txt")) << script;
    EXPECT_TRUE(fs::is_empty(dir / "open"));
  }
}

}  // namespace
