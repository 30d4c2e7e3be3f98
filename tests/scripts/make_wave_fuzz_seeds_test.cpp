// scripts/make-wave-fuzz-seeds on a checkout of its own, whose sox is a
// stand-in that writes down the folder it was started in and fails (which
// ends the script): the seeds go to the checkout's corpus, whatever the
// caller's CDPATH, and without a scratch folder nothing is made at all.
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

TEST(MakeWaveFuzzSeeds, TheSeedsGoToItsOwnCheckoutAndNothingIsMadeWithoutAScratchFolder) {
  testsupport::ScratchDir dir;
  for (const char* checkout : {"co", "elsewhere/co"}) {
    const std::string script = std::string(checkout) + "/scripts/make-wave-fuzz-seeds";
    fs::copy_file(RORUD_SOURCE_DIR "/scripts/make-wave-fuzz-seeds", dir.Write(script, ""),
                  fs::copy_options::overwrite_existing);
    fs::permissions(dir / script, fs::perms::owner_exec, fs::perm_options::add);
    dir.Write(std::string(checkout) + "/scripts/temp-folder-rule",
              Slurp(RORUD_SOURCE_DIR "/scripts/temp-folder-rule"));
    fs::create_directories(dir / (std::string(checkout) + "/tools/fuzz/corpus/wave"));
  }
  scripttest::WriteScript(dir, "bin/sox", "pwd >>" + Quoted(dir / "calls.txt") + "\nexit 1");
  const std::string run = "cd " + Quoted(dir.path().string()) + " && PATH=" + Quoted(dir / "bin") +
                          ":/usr/bin:/bin CDPATH=" + Quoted(dir / "elsewhere") + " ";

  const Ran made = scripttest::Shell(dir, run + "co/scripts/make-wave-fuzz-seeds");
  EXPECT_NE(made.status, 0);
  EXPECT_EQ(Slurp(dir / "calls.txt"), dir / "co/tools/fuzz/corpus/wave\n");

  fs::remove(dir / "calls.txt");
  const Ran scratchless =
      scripttest::Shell(dir, run + "TMPDIR=" + Quoted(dir / "missing") + " co/scripts/make-wave-fuzz-seeds");
  EXPECT_NE(scratchless.status, 0);
  EXPECT_EQ(scratchless.out, "");
  EXPECT_EQ(std::count(scratchless.err.begin(), scratchless.err.end(), '\n'), 1) << scratchless.err;
  // Root's run says so before mktemp (in a folder others may write, a
  // missing one may be theirs in a moment).
  EXPECT_NE(scratchless.err.find(::geteuid() == 0 ? "cannot be used (" + dir / "missing" + ": No such file"
                                                  : std::string("mktemp: ")),
            std::string::npos)
      << scratchless.err;
  EXPECT_FALSE(fs::exists(dir / "calls.txt"));
}

}  // namespace
