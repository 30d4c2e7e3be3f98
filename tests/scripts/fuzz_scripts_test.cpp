// scripts/fuzz-smoke, scripts/fuzz-long and scripts/tsan-check, each run from
// a copy of the checkout in a folder whose name holds a space and ends in a
// newline, beside a folder named as it would be with the newline dropped.
// The builds are stand-ins: cmake writes down its calls, and the fuzz
// target and ctest are scripts that first start a small program built here
// with the sanitizers, which reads the sanitizer options and suppressions
// file the scripts give exactly as a target or a test would, and stops
// when it cannot. The fuzz target's stand-in reads its seeds as libFuzzer
// would and acts on what each says: a crash, an input slowed by the
// machine (little processor time), an input that spins.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/scripts/script_test.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using scripttest::Quoted;
using scripttest::Slurp;

// A program that leaks a block from a function the suppressions name, so
// that the leak check at its end reads the suppressions file.
constexpr char kProbe[] = R"(#include <stdlib.h>
void* volatile kept;
__attribute__((noinline)) void leaked_for_the_suppressions(void) { kept = malloc(7); }
int main(void) { leaked_for_the_suppressions(); kept = 0; return 0; }
)";

// libFuzzer's stand-in: a run over its corpus folders, or one input alone.
constexpr char kFuzzTarget[] = R"sh(
inputs=() slow_units=0
for arg; do
  case $arg in
    -report_slow_units=*) slow_units=1 ;;
    -*) ;;
    *) inputs+=("$arg") ;;
  esac
done
if [ -f "${inputs[0]}" ]; then
  case $(<"${inputs[0]}") in
    sleepy) sleep 2 ;;
    spin) while :; do :; done ;;
  esac
  exit 0
fi
for folder in "${inputs[@]}"; do
  for seed in "$folder"/*; do
    [ -f "$seed" ] || continue
    case $(<"$seed") in
      crash) echo "==1==ERROR: AddressSanitizer: SEGV on unknown address 0x000000000000"
             cp "$seed" crash-seed
             exit 1 ;;
      sleepy|spin) if [ "$slow_units" = 1 ]; then
                     echo "Slowest unit: 2 s:"
                     cp "$seed" slow-unit-seed
                   else
                     echo "==1== ERROR: libFuzzer: timeout after 1 seconds"
                     cp "$seed" timeout-seed
                     exit 70
                   fi ;;
    esac
  done
done
echo "stat::number_of_executed_units: 2"
echo "Done 2 runs in 1 second(s)")sh";

class FuzzScripts : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string probes = dir_ / "probes";
    fs::create_directories(probes);
    dir_.Write("probes/probe.c", kProbe);
    const scripttest::Ran built = scripttest::Shell(
        dir_, "cd " + Quoted(probes) + " && cc -fsanitize=address,undefined probe.c -o asan && " +
                  "cc -fsanitize=thread probe.c -o tsan");
    if (built.status != 0) GTEST_SKIP() << "no sanitized program can be built here: " << built.err;

    // The sibling the checkout's name would give with its newline dropped.
    fs::create_directories(dir_ / "check out");
    for (const char* script : {"fuzz-smoke", "fuzz-long", "tsan-check", "ctest-run", "tsan.supp",
                               "temp-folder-rule"}) {
      Executable(std::string("scripts/") + script, Slurp(std::string(RORUD_SOURCE_DIR "/scripts/") + script));
    }
    // The leak the suppressions name goes with the project's own.
    dir_.Write(checkout_ + "scripts/lsan.supp",
               Slurp(RORUD_SOURCE_DIR "/scripts/lsan.supp") + "\nleak:leaked_for_the_suppressions\n");
    dir_.Write(checkout_ + "tools/fuzz/one.cpp", "");
    Seed("clean");
    fs::create_directories(dir_ / (checkout_ + "build-tsan"));
    Executable("build-fuzz/tools/fuzz_one", Quoted(probes + "/asan") + " || exit 1\n" + kFuzzTarget);
    const std::string record = "echo \"$(basename \"$0\") $*\" >>" + Quoted(dir_ / "calls.txt");
    scripttest::WriteScript(dir_, "bin/cmake", record);
    scripttest::WriteScript(dir_, "bin/ctest", Quoted(probes + "/tsan") + " || exit 1\n" + record);
    fs::create_directories(dir_ / "tmp");
  }
  void Executable(const std::string& name, const std::string& body) {
    scripttest::WriteScript(dir_, checkout_ + name, body);
  }
  void Seed(const std::string& says) { dir_.Write(checkout_ + "tools/fuzz/corpus/one/seed", says); }
  // The script, started by its full path (or, with `relative`, by its path
  // from the test's folder, from there) with only the stand-ins' folder
  // before the system's on PATH and a temporary folder of the test's.
  scripttest::Ran Run(const std::string& script, const std::string& set = "",
                      const std::string& args = "", bool relative = false) {
    fs::remove(dir_ / "calls.txt");
    const std::string path = checkout_ + "scripts/" + script;
    return scripttest::Shell(dir_, "cd " + Quoted(relative ? dir_.path() : "/") + " && env -i PATH=" +
                                       Quoted(dir_ / "bin") + ":/usr/bin:/bin HOME=/ TMPDIR=" + Quoted(dir_ / "tmp") +
                                       " " + set + " " + Quoted(relative ? path : dir_ / path) + " " + args);
  }
  // A short run: one second of processor time an input, the wall-time net
  // left as it is.
  scripttest::Ran Fuzz(const std::string& script, const std::string& set = "", bool relative = false) {
    return script == "fuzz-smoke" ? Run(script, set + " FUZZ_TIMEOUT=1 FUZZ_SECONDS=1", "", relative)
                                  : Run(script, set + " FUZZ_TIMEOUT=1", "-t 1 -k", relative);
  }
  bool Ran(const char* command) { return Slurp(dir_ / "calls.txt").find(command) != std::string::npos; }
  testsupport::ScratchDir dir_;
  const std::string checkout_ = "check out\n/";
};

// Quoted, the suppressions' path reaches the sanitizers whole (unquoted,
// they stop at the space before the program starts), and each script runs
// the checkout it lies in, leaving nothing in the temporary folder.
TEST_F(FuzzScripts, TheSanitizersTakeTheSuppressionsOfACheckoutWithASpaceAndANewline) {
  scripttest::Ran run = Fuzz("fuzz-smoke");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Done 2 runs"), std::string::npos) << run.out;
  EXPECT_TRUE(Ran("cmake -S . -B build-fuzz"));
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));

  run = Fuzz("fuzz-long");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("stat::number_of_executed_units: 2"), std::string::npos) << run.out;
  EXPECT_TRUE(Ran("cmake -S . -B build-fuzz"));
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));

  run = Run("tsan-check");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(Ran("cmake -S . -B build-tsan"));
  EXPECT_TRUE(Ran("ctest --output-on-failure"));

  EXPECT_TRUE(fs::is_empty(dir_ / "check out"));
}

// Called by a relative name, each runs the checkout it lies in, not the
// folder that an exported CDPATH leads that name to.
TEST_F(FuzzScripts, ARelativeNameIsTheCurrentFoldersWhateverCdpathNames) {
  fs::create_directories(dir_ / ("elsewhere/" + checkout_ + "scripts"));
  const std::string cdpath = "CDPATH=" + Quoted(dir_ / "elsewhere");
  for (const std::string script : {"fuzz-smoke", "fuzz-long", "tsan-check"}) {
    const scripttest::Ran run = script == "tsan-check" ? Run(script, cdpath, "", true) : Fuzz(script, cdpath, true);
    EXPECT_EQ(run.status, 0) << script << "\n" << run.out << run.err;
    EXPECT_TRUE(Ran("cmake -S . -B build-")) << script;
  }
}

// A total time that is no number ends fuzz-smoke with a line before
// anything runs, and is never evaluated: bash's arithmetic would run the
// command in a name's index.
TEST_F(FuzzScripts, ATotalTimeThatIsNoNumberIsRefusedUnevaluated) {
  const std::string total = "SECONDS[$(>" + dir_ / "evaluated" + ")]";
  const scripttest::Ran run = Run("fuzz-smoke", "FUZZ_TOTAL_SECONDS=" + Quoted(total));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "fuzz-smoke: FUZZ_TOTAL_SECONDS is a whole number of seconds, not '" + total + "'\n");
  EXPECT_FALSE(fs::exists(dir_ / "evaluated"));
  EXPECT_FALSE(Ran("cmake"));
}

// A crash or an input that needs over the limit in processor time is a
// finding, named in a line, and ends the run with 1; an input slowed only
// in wall time (stopped on by libFuzzer's wall clock, or written down as a
// slow unit) is not, nor is a clean run.
TEST_F(FuzzScripts, AFindingEndsTheRunWith1AndASlowInputWithinTheProcessorTimeDoesNot) {
  struct Case {
    const char* seed;
    int status;
    const char* smoke_line;
    const char* long_line;
  };
  for (const Case& c : {Case{"clean", 0, "Done 2 runs", "fuzz-long: one for 1s\n"},
                        Case{"crash", 1, "fuzz-smoke: fuzz_one found a failure:\n", "fuzz-long: one found a failure"},
                        Case{"sleepy", 0, "needs less than 1s of processor time: no failure",
                             "needs less than 1s of processor time: no finding"},
                        Case{"spin", 1, "fuzz-smoke: fuzz_one: timeout-seed needs over 1s of processor time",
                             "fuzz-long: one: slow-unit-seed needs over 1s of processor time"}}) {
    Seed(c.seed);
    for (const char* script : {"fuzz-smoke", "fuzz-long"}) {
      const scripttest::Ran run = Fuzz(script);
      const std::string line = std::string(script) == "fuzz-smoke" ? c.smoke_line : c.long_line;
      EXPECT_EQ(run.status, c.status) << script << " " << c.seed << "\n" << run.out << run.err;
      EXPECT_NE(run.out.find(line), std::string::npos) << script << " " << c.seed << "\n" << run.out << run.err;
      EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << script << " " << c.seed;
    }
  }
}

// A temporary folder in which no scratch can be made (named by a relative
// path, missing, or a file), or, for root, one
// that another user could write to, ends the run with one line before
// anything is built.
TEST_F(FuzzScripts, NoScratchEndsTheRunWithALineBeforeAnythingRuns) {
  std::string set;  // more of the environment
  const auto refused = [this, &set](const char* script, const std::string& why) {
    const scripttest::Ran run = std::string(script) == "tsan-check"
                                    ? Run(script, set)
                                    : Run(script, set + " FUZZ_TIMEOUT=1 FUZZ_SECONDS=1", "-t 1 -k");
    EXPECT_EQ(run.status, 1) << script;
    EXPECT_EQ(run.err.rfind(std::string(script) + ": ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "calls.txt")) << script;
  };
  set = "TMPDIR=tmp";
  for (const char* script : {"fuzz-smoke", "fuzz-long", "tsan-check"}) refused(script, "TMPDIR=tmp is no absolute path");
  set.clear();
  fs::remove(dir_ / "tmp");
  for (const char* script : {"fuzz-smoke", "fuzz-long", "tsan-check"}) {
    refused(script, "the temporary folder " + dir_ / "tmp" + " does not exist");
  }
  // A folder the rule lets pass, in which mktemp fails all the same.
  dir_.Write("tmp", "");
  for (const char* script : {"fuzz-smoke", "fuzz-long"}) refused(script, "no scratch folder: ");
  fs::remove(dir_ / "tmp");
  if (::geteuid() != 0) return;
  // Reached through a link of root's: the folder it leads to counts.
  fs::create_directories(dir_ / "open");
  fs::permissions(dir_ / "open", fs::perms::all);
  fs::create_symlink(dir_ / "open", dir_ / "tmp");
  for (const char* script : {"fuzz-smoke", "fuzz-long", "tsan-check"}) {
    refused(script, "the temporary folder is not root's alone (" + dir_ / "open" + " is user id 0's, mode 777)");
  }
  // TMP, where the compiler looks when TMPDIR is unset, is refused too (the
  // fuzz scripts give their programs a TMPDIR of their own and unset TMP).
  fs::remove(dir_ / "tmp");
  fs::create_directories(dir_ / "tmp");
  set = "TMP=" + Quoted(dir_ / "open");
  refused("tsan-check", "the temporary folder is not root's alone (" + dir_ / "open" + " is user id 0's, mode 777)");
}

// Root takes no sanitizer options from its caller (sudo -E): with them, the
// sanitized programs would write their reports where the caller's
// log_path names. Anyone else's are added to the scripts' own.
TEST_F(FuzzScripts, RootTakesNoSanitizerOptionsFromItsCaller) {
  const std::string log = Quoted(dir_ / "san");
  std::string set;
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
    set += std::string(" ") + name + "=verbosity=1:log_path=" + log;
  }
  for (const std::string script : {"fuzz-long", "tsan-check"}) {
    const scripttest::Ran run = script == "tsan-check" ? Run(script, set) : Fuzz(script, set);
    EXPECT_EQ(run.status, 0) << script << run.out << run.err;
    bool logged = false;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      logged |= entry.path().filename().string().rfind("san.", 0) == 0;
    }
    EXPECT_EQ(logged, ::geteuid() != 0) << script;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      if (entry.path().filename().string().rfind("san.", 0) == 0) fs::remove(entry.path());
    }
  }
}

}  // namespace
