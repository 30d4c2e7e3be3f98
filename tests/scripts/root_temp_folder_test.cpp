// The scripts root may run by hand that make files in the temporary folder
// (./play.sh, scripts/frame-wait-bench, scripts/make-wave-fuzz-seeds), on a
// checkout of their own whose cmake, sox and scripts/install-deps are
// stand-ins that write down their calls:
// as root they refuse a temporary folder that another user could change,
// by whichever name the programs read, and take one of root's.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

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
  const std::vector<std::string> scripts = {"play.sh", "scripts/frame-wait-bench", "scripts/make-wave-fuzz-seeds"};
  for (const std::string& script : scripts) {
    scripttest::WriteScript(dir, "co/" + script, Slurp(RORUD_SOURCE_DIR "/" + script));
  }
  dir.Write("co/scripts/temp-folder-rule", Slurp(RORUD_SOURCE_DIR "/scripts/temp-folder-rule"));
  fs::create_directories(dir / "co/tools/fuzz/corpus/wave");
  for (const char* tool : {"bin/cmake", "bin/sox", "co/scripts/install-deps"}) {
    scripttest::WriteScript(dir, tool, "echo $0 >>" + Quoted(dir / "calls.txt") + "\nexit 7");
  }
  fs::create_directories(dir / "tmp");
  fs::permissions(dir / "tmp", fs::perms::owner_all);
  // Root's, but open to every user's writes, and not sticky.
  fs::create_directories(dir / "open");
  fs::permissions(dir / "open", fs::perms::all);
  for (const std::string& script : scripts) {
    const std::string name = fs::path(script).filename();
    const std::string run = "cd / && env -u TMP -u TEMP -u TEMPDIR PATH=" + Quoted(dir / "bin") +
                            ":/usr/bin:/bin TMPDIR=" + Quoted(dir / "tmp") + " ";
    for (const std::string variable : {"TMPDIR", "TMP", "TEMPDIR"}) {
      fs::remove(dir / "calls.txt");
      const Ran refused = scripttest::Shell(dir, run + variable + "=" + Quoted(dir / "open") + " " +
                                                     Quoted(dir / ("co/" + script)));
      EXPECT_EQ(refused.status, 1) << script << " " << variable;
      EXPECT_EQ(refused.err.rfind(name + ": root's temporary folder " + dir / "open" + " cannot be used (" +
                                      dir / "open" + " is user id 0's, mode 777): ",
                                  0),
                0u)
          << refused.err;
      EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
      EXPECT_FALSE(fs::exists(dir / "calls.txt")) << script << " " << variable;
    }
    fs::remove(dir / "calls.txt");
    const Ran taken = scripttest::Shell(dir, run + Quoted(dir / ("co/" + script)));
    EXPECT_EQ(taken.status, 7) << script << "\n" << taken.err;
    EXPECT_TRUE(fs::exists(dir / "calls.txt")) << script;
    EXPECT_TRUE(fs::is_empty(dir / "open"));
  }
}

}  // namespace
