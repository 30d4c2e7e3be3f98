// Movie playback through the media graph without a clock: demultiplexing,
// decoding and conversion to 24-bit RGB rows into the movie frame renderer,
// per frame of a 640 x 480 movie made by the ffmpeg command (H.264 and
// MPEG-1, 50 frames each), made in a folder of the user's own in the
// temporary folder (bench/bench_folder.h).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_folder.h"
#include "lib/sound/movie_renderer.h"
#include "platform/kernel/com.h"
#include "platform/media/graph.h"

namespace {

constexpr int kFrames = 50;

// The folder the movies are made in, the user's own, kept from run to run.
const benchfolder::Folder& MovieFolder() {
  static const benchfolder::Folder folder = benchfolder::Make("rorud_bench_movie");
  return folder;
}

std::string MakeMovie(const char* file, const char* codec) {
  const std::string path = MovieFolder().path + "/" + file;
  const std::string command = "ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=640x480:rate=25:duration=2 " +
                              std::string(codec) + " " + path + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0 ? path : std::string();
}

void RunMovie(benchmark::State& state, const char* file, const char* codec) {
  if (!benchfolder::Usable(state, MovieFolder())) return;
  const std::string path = MakeMovie(file, codec);
  if (path.empty()) {
    state.SkipWithError("the ffmpeg command could not make the movie");
    return;
  }
  plat::IGraphBuilder* graph = nullptr;
  plat::CoCreateInstance(plat::kCLSID_FilterGraph, nullptr, plat::kCLSCTX_INPROC, plat::kIID_IGraphBuilder,
                         reinterpret_cast<void**>(&graph));
  MovieFrameRenderer* renderer = CreateMovieRendererFilter(nullptr, nullptr);
  graph->AddFilter(renderer, u"MovieRenderer");
  std::u16string wide(path.begin(), path.end());
  plat::IMediaControl* control = nullptr;
  plat::IMediaEvent* events = nullptr;
  plat::IMediaFilter* filter = nullptr;
  graph->QueryInterface(plat::kIID_IMediaControl, reinterpret_cast<void**>(&control));
  graph->QueryInterface(plat::kIID_IMediaEvent, reinterpret_cast<void**>(&events));
  graph->QueryInterface(plat::kIID_IMediaFilter, reinterpret_cast<void**>(&filter));
  if (plat::Failed(graph->RenderFile(wide.c_str(), nullptr))) {
    state.SkipWithError("the graph could not render the movie");
  } else {
    // Without a clock every frame is shown as soon as it is decoded.
    filter->SetSyncSource(nullptr);
    double seconds = 0;
    for (auto _ : state) {
      const auto start = std::chrono::steady_clock::now();
      control->Run();
      int32_t code = 0;
      events->WaitForCompletion(60000, &code);
      control->Stop();
      seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["ms/frame"] = 1000.0 * seconds / (static_cast<double>(kFrames) * state.iterations());
  }
  filter->Release();
  events->Release();
  control->Release();
  graph->Release();
  std::filesystem::remove(path);
}

void BM_MovieFrameH264(benchmark::State& state) {
  RunMovie(state, "rorud_bench_movie.mp4", "-c:v libx264 -pix_fmt yuv420p");
}
void BM_MovieFrameMpeg1(benchmark::State& state) {
  RunMovie(state, "rorud_bench_movie.mpg", "-c:v mpeg1video -q:v 4");
}

BENCHMARK(BM_MovieFrameH264)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MovieFrameMpeg1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
