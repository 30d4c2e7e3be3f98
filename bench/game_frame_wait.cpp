// The game at its title screen for 10 seconds in a real window: the main
// thread's processor use (target: under 25% of a core), the frame rate the
// game measures and the real length of each frame against its 16/17/17 ms.
// Needs a display and the SDL back end: scripts/frame-wait-bench runs it
// under a virtual X server.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/game_bench_start.h"
#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "rorud/rorud.h"

namespace {

// Processor time in ns of the calling thread (or, with "self", of the
// process) from the scheduler's statistics; -1 when they cannot be read.
double ProcessorNanos(const char* who) {
  std::ifstream f(std::string("/proc/") + who + "/schedstat");
  double ns = -1;
  if (!(f >> ns)) return -1;
  return ns;
}

// The whole process: user and system ticks (1/100 s) of /proc/self/stat.
double ProcessNanos() {
  std::ifstream f("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::vector<std::string> fields;
  size_t at = close + 2;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    fields.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  // Fields 14 and 15 of the line (utime, stime); the list starts at field 3.
  if (fields.size() < 13) return -1;
  return (std::stod(fields[11]) + std::stod(fields[12])) * 1e7;
}

void BM_TitleFrameWait(benchmark::State& state) {
  const char* platform = std::getenv("RORUD_PLATFORM");
  if (platform == nullptr || std::string(platform) != "sdl" || std::getenv("DISPLAY") == nullptr) {
    state.SkipWithError("needs RORUD_PLATFORM=sdl and a display (scripts/frame-wait-bench)");
    return;
  }
  if (!StartGameForBench()) {
    state.SkipWithError("no data set or no library");
    return;
  }
  // Boot scene into the title menu first.
  for (int i = 0; i < 120 && g_stop_flag == 0; ++i) RunFrame();
  constexpr int kFrames = 600;  // 10 s
  std::vector<double> lengths;  // real microseconds of each frame
  std::vector<uint32_t> clock_lengths;  // the game's own millisecond clock
  std::vector<int32_t> numbers;
  for (auto _ : state) {
    lengths.clear();
    clock_lengths.clear();
    numbers.clear();
    const double thread0 = ProcessorNanos("thread-self");
    const double process0 = ProcessNanos();
    const uint64_t start = GetMicroClock();
    uint64_t before = start;
    uint32_t clock_before = g_pacing.previous_time;
    for (int i = 0; i < kFrames && g_stop_flag == 0; ++i) {
      numbers.push_back(g_pacing.frame_number);
      RunFrame();
      const uint64_t now = GetMicroClock();
      lengths.push_back(static_cast<double>(now - before));
      clock_lengths.push_back(ClockElapsed(g_pacing.previous_time, clock_before));
      before = now;
      clock_before = g_pacing.previous_time;
    }
    const double wall = static_cast<double>(GetMicroClock() - start) * 1000.0;
    const double thread = ProcessorNanos("thread-self") - thread0;
    const double process = ProcessNanos() - process0;
    state.counters["main_thread_cpu_pct"] = thread0 < 0 ? -1 : 100.0 * thread / wall;
    state.counters["process_cpu_pct"] = process0 < 0 ? -1 : 100.0 * process / wall;
  }
  state.counters["frames"] = static_cast<double>(lengths.size());
  state.counters["frame_rate"] = g_pacing.frame_rate;
  // Per place in the three-frame cycle: the mean real length, and frames
  // whose real or clock length is off their 16 or 17 ms by more than 1 ms.
  const char* names[3] = {"16ms", "17ms_a", "17ms_b"};
  double sum[3] = {}, count[3] = {}, worst[3] = {};
  int off_real = 0, off_clock = 0;
  for (size_t i = 0; i < lengths.size(); ++i) {
    const int k = numbers[i] % 3;
    const double expected = static_cast<double>(FrameLengthMs(numbers[i])) * 1000.0;
    const double deviation = std::fabs(lengths[i] - expected);
    sum[k] += lengths[i];
    count[k] += 1;
    worst[k] = std::max(worst[k], deviation);
    if (deviation > 1000.0) ++off_real;
    if (clock_lengths[i] != FrameLengthMs(numbers[i])) ++off_clock;
  }
  for (int k = 0; k < 3; ++k) {
    state.counters[std::string("mean_us_") + names[k]] = count[k] > 0 ? sum[k] / count[k] : 0;
    state.counters[std::string("worst_dev_us_") + names[k]] = worst[k];
  }
  state.counters["frames_off_by_1ms_real"] = off_real;
  state.counters["frames_off_clock"] = off_clock;
}
BENCHMARK(BM_TitleFrameWait)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
