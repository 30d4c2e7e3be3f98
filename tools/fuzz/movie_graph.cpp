// Fuzz target: arbitrary bytes opened as a movie through the media graph:
// the file source, the demultiplexer's probe, the decoders and the movie
// frame renderer, playing a few steps of the virtual clock, then the close.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <thread>

#include "lib/sound/movie.h"
#include "platform/kernel/kernel.h"
#include "platform/media/base_classes.h"

namespace {

void Ignore(void*, void*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string name = "/tmp/fuzz_movie_" + std::to_string(std::random_device{}()) + ".bin";
  static const int ready = [] {
    plat::EnableVirtualClock(true);
    plat::SetVirtualClockAutoAdvance(0);
    return InitializeYuvTables();
  }();
  (void)ready;
  FILE* f = std::fopen(name.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  int width = 0, height = 0;
  const int handle = OpenMovie(name.c_str(), &width, &height, 0);
  if (handle != -1) {
    SetMovieFrameCallback(handle, &Ignore, nullptr);
    MovieRecord* r = MovieHandleToRecord(handle);
    r->play_type = 3;
    r->resume = 1;
    ResumeAllMovies();
    for (int i = 0; i < 4; ++i) {
      plat::AdvanceVirtualClock(50000);
      // The graph decodes on threads of its own: each step waits until its
      // renderers have taken all that is due (their sound decoded), so that
      // a run reaches the decoders whatever the machine's load; a renderer
      // that never settles is waited for a short while at most.
      const plat::ReferenceTime now = static_cast<plat::ReferenceTime>(
          static_cast<__int128>(plat::QueryPerformanceCounter()) * plat::kUnitsPerSecond / plat::QueryPerformanceFrequency());
      for (int wait = 0; wait < 200 && !plat::MediaRenderersSettledAt(now); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      UpdateMovieFrame(handle);
    }
    PauseMovieHandle(handle, 0);
    CloseMovieHandle(handle);
  }
  std::remove(name.c_str());
  return 0;
}
