// scripts/bench-report: it goes through every benchmark program that the
// README and docs/ quote, runs each of its whole programs with the settings
// it lists, from its checkout's build whatever the caller's working folder,
// in a folder of its own that it removes, and a program that fails stops it
// with one line naming that program. The programs are stand-ins in the build
// folder of a scratch checkout that write down their calls and print one
// result.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/scripts/script_test.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using scripttest::Quoted;
using scripttest::Slurp;

const std::string kScript = RORUD_SOURCE_DIR "/scripts/bench-report";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every benchmark program the README and the docs name (a source file such
// as bench/bench_folder.h is none).
std::set<std::string> QuotedPrograms() {
  std::vector<fs::path> files = {RORUD_SOURCE_DIR "/README.md"};
  for (const auto& entry : fs::directory_iterator(RORUD_SOURCE_DIR "/docs")) {
    if (entry.path().extension() == ".md") files.push_back(entry.path());
  }
  std::set<std::string> names;
  const std::regex program("\\bbench_[a-z0-9_]+(?![a-z0-9_]|\\.(h|cpp)\\b)");
  for (const fs::path& file : files) {
    const std::string text = Slurp(file.string());
    for (std::sregex_iterator it(text.begin(), text.end(), program), end; it != end; ++it) names.insert(it->str());
  }
  return names;
}

TEST(BenchReport, ListsEveryProgramTheDocsQuoteAndEachHasItsSource) {
  const testsupport::ScratchDir dir;
  const scripttest::Ran ran = scripttest::Shell(dir, Quoted(kScript) + " --list");
  ASSERT_EQ(ran.status, 0) << ran.err;
  const std::vector<std::string> listed = Lines(ran.out);
  const std::set<std::string> set(listed.begin(), listed.end());
  const std::set<std::string> quoted = QuotedPrograms();
  ASSERT_GE(quoted.size(), 20u);  // the docs are read
  for (const std::string& name : quoted) EXPECT_EQ(set.count(name), 1u) << name << " is quoted but not run";
  EXPECT_EQ(set.size(), listed.size()) << ran.out;
  for (const std::string& name : listed) {
    EXPECT_TRUE(fs::exists(RORUD_SOURCE_DIR "/bench/" + name.substr(6) + ".cpp")) << name;
  }
}

class BenchReportRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const scripttest::Ran ran = scripttest::Shell(dir_, Quoted(kScript) + " --list");
    ASSERT_EQ(ran.status, 0) << ran.err;
    programs_ = Lines(ran.out);
    // A copy of the script in a checkout of its own, whose build/ holds the
    // stand-ins; the caller's working folder holds a build/ of its own.
    const std::string copy = dir_.Write("scripts/bench-report", Slurp(kScript));
    fs::permissions(copy, fs::perms::owner_all);
    for (const std::string& name : programs_) {
      scripttest::WriteScript(dir_, "caller/build/bench/" + name,
                              "echo \"decoy $(basename \"$0\")\" >> " + Quoted(dir_ / "calls.txt") + "\nexit 9");
    }
    for (const std::string& name : programs_) {
      StandIn(name, "echo '{\"benchmarks\": [{\"name\": \"BM_One\", \"run_type\": \"iteration\", \"iterations\": 1, "
                    "\"real_time\": 2.5, \"cpu_time\": 2.0, \"time_unit\": \"ms\", \"bytes_per_second\": 3e9}]}'");
    }
  }
  // A program that writes down its name, its folder for temporary files and
  // its settings, then does `then`.
  void StandIn(const std::string& name, const std::string& then) {
    scripttest::WriteScript(dir_, "build/bench/" + name,
                            "echo \"$(basename \"$0\") $TMPDIR ${RORUD_RASTER_WORKERS:--} ${RORUD_SPAN_LEVEL:--} $*\" "
                            ">> " + Quoted(dir_ / "calls.txt") + "\n" + then);
  }
  scripttest::Ran Run(const std::string& env = "") {
    return scripttest::Shell(dir_, "cd " + Quoted(dir_ / "caller") + " && " + env +
                                       Quoted(dir_ / "scripts/bench-report") + " --programs-only --quick");
  }
  std::vector<std::string> Calls() { return Lines(Slurp(dir_ / "calls.txt")); }

  testsupport::ScratchDir dir_;
  std::vector<std::string> programs_;
};

TEST_F(BenchReportRun, EachProgramRunsWholeInAFolderOfTheRunsOwnThatGoesAfter) {
  const scripttest::Ran ran = Run();
  ASSERT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(ran.err, "");
  std::set<std::string> ran_programs, folders;
  bool two_worker_settings = false;
  for (const std::string& call : Calls()) {
    std::istringstream words(call);
    std::string name, folder, workers, level;
    words >> name >> folder >> workers >> level;
    ran_programs.insert(name);
    folders.insert(folder);
    EXPECT_NE(call.find(" --benchmark_format=json --benchmark_min_time=0.01"), std::string::npos) << call;
    EXPECT_EQ(call.find("--benchmark_filter"), std::string::npos) << call;  // whole
    EXPECT_NE(name, "decoy") << call;  // the checkout's build, not the caller's
    if (name == "bench_boss_stage1" && workers == "4") two_worker_settings = true;
  }
  // Every listed program but those whose figures are the summary's rows.
  const std::set<std::string> summary_only = {"bench_lz_decode", "bench_jpeg_load", "bench_png_load",
                                              "bench_png_files", "bench_softrender_pixman"};
  for (const std::string& name : programs_) {
    EXPECT_EQ(ran_programs.count(name), summary_only.count(name) == 0 ? 1u : 0u) << name;
  }
  EXPECT_TRUE(two_worker_settings);
  ASSERT_EQ(folders.size(), 1u);
  const std::string folder = *folders.begin();
  EXPECT_NE(folder.find("bench-report."), std::string::npos) << folder;
  EXPECT_FALSE(fs::exists(folder)) << folder;
  EXPECT_NE(ran.out.find("| BM_One | 2.5 ms | 2 ms | 3.00 GB/s |"), std::string::npos) << ran.out;
}

TEST_F(BenchReportRun, AFailingProgramStopsTheRunWithOneLineNamingIt) {
  StandIn("bench_ogg_decode", "echo 'a first line' >&2; echo 'sox: command not found' >&2; exit 3");
  scripttest::Ran ran = Run();
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(ran.err, "bench-report: bench_ogg_decode failed (status 3): sox: command not found\n");
  const std::string calls = Slurp(dir_ / "calls.txt");
  EXPECT_NE(calls.find("bench_ogg_decode "), std::string::npos);
  EXPECT_EQ(calls.find("bench_net_peers "), std::string::npos) << "it went on";

  // One that reports an error for a benchmark, and one that is missing.
  fs::remove(dir_ / "calls.txt");
  StandIn("bench_ogg_decode", "echo '{\"benchmarks\": [{\"name\": \"BM_Two\", \"error_occurred\": true, "
                              "\"error_message\": \"no sox\"}]}'");
  ran = Run();
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(ran.err, "bench-report: bench_ogg_decode BM_Two: no sox\n");
  fs::remove(dir_ / "build/bench/bench_ogg_decode");
  ran = Run();
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(ran.err, "bench-report: " + fs::canonical(dir_.path()).string() + "/build/bench/bench_ogg_decode" +
                         " is missing\n");
}

// Root's programs would make their files under fixed names in a folder that
// others may change: root's run refuses it in one line and runs nothing;
// anyone else's runs there.
TEST_F(BenchReportRun, RootRefusesATemporaryFolderOthersMayWrite) {
  const std::string open_folder = dir_ / "open";
  fs::create_directory(open_folder);
  fs::permissions(open_folder, fs::perms::all);  // 0777, no sticky bit
  const scripttest::Ran ran = Run("TMPDIR=" + Quoted(open_folder) + " ");
  if (::geteuid() == 0) {
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.err.rfind("bench-report: the temporary folder " + open_folder + " is not root's alone (" +
                                open_folder + " is user id 0's, mode 777)", 0),
              0u)
        << ran.err;
    EXPECT_EQ(std::count(ran.err.begin(), ran.err.end(), '\n'), 1) << ran.err;
    EXPECT_FALSE(fs::exists(dir_ / "calls.txt"));
  } else {
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(fs::exists(dir_ / "calls.txt"));
  }
  EXPECT_TRUE(fs::is_empty(open_folder));
}

}  // namespace
