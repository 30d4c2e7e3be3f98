// Fuzz target: arbitrary bytes opened as a movie through the media graph:
// the file source, the demultiplexer's probe, the decoders and the movie
// frame renderer, playing a few steps of the virtual clock, then the close.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "lib/sound/movie.h"
#include "platform/kernel/kernel.h"
#include "platform/media/base_classes.h"

namespace {

void Ignore(void*, void*) {}

// Ends the run with one line: an input that cannot be put where the movie
// is opened from would test nothing.
[[noreturn]] void Fail(const char* what, const std::string& where) {
  std::fprintf(stderr, "movie_graph: %s %s: %s\n", what, where.c_str(), std::strerror(errno));
  std::exit(1);
}

// Each input is opened as a movie from a file of this run's own in the
// temporary folder (TMPDIR, else /tmp), which leaves the folder as soon as
// it is made: the movie is opened by the name /proc gives its descriptor,
// so that however the run ends, stopped or killed, no file is left behind.
int g_input = -1;
std::string g_name;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* temp = std::getenv("TMPDIR");
  const std::string folder = temp != nullptr && *temp != '\0' ? temp : "/tmp";
  std::string pattern = folder + "/fuzz_movie_XXXXXX";
  g_input = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (g_input == -1) Fail("no file for the inputs can be made in", folder);
  if (::unlink(pattern.c_str()) != 0) Fail("the file for the inputs cannot be unlinked:", pattern);
  g_name = "/proc/self/fd/" + std::to_string(g_input);
  if (::access(g_name.c_str(), R_OK) != 0) Fail("the file for the inputs cannot be opened again as", g_name);
  plat::EnableVirtualClock(true);
  plat::SetVirtualClockAutoAdvance(0);
  InitializeYuvTables();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (::ftruncate(g_input, 0) != 0) Fail("the file for the inputs cannot be emptied:", g_name);
  for (size_t at = 0; at < size;) {
    const ssize_t wrote = ::pwrite(g_input, data + at, size - at, static_cast<off_t>(at));
    if (wrote <= 0) Fail("the input cannot be written to", g_name);
    at += static_cast<size_t>(wrote);
  }
  const char* name = g_name.c_str();
  int width = 0, height = 0;
  const int handle = OpenMovie(name, &width, &height, 0);
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
  return 0;
}
