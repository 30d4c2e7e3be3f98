// Theora playback per frame of a 640 x 480 movie made by the ffmpeg command
// (50 frames): the decoding thread's decode-ahead and the conversion of
// each shown frame to the 32-bit frame image, frame after frame, the movie
// looping. The file is made in a folder of the user's own in the temporary
// folder (bench/bench_folder.h), read into memory and removed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_folder.h"
#include "lib/sound/movie.h"

namespace {

struct Bytes {
  std::vector<uint8_t> data;
  size_t position = 0;
};

Bytes* Of(FileHandle file) { return reinterpret_cast<Bytes*>(file); }

int64_t Tell(FileHandle file) { return static_cast<int64_t>(Of(file)->position); }

int Seek(FileHandle file, int64_t offset, int origin) {
  Bytes* b = Of(file);
  const int64_t base = origin == 1 ? static_cast<int64_t>(b->position)
                       : origin == 2 ? static_cast<int64_t>(b->data.size())
                                     : 0;
  const int64_t to = base + offset;
  if (to < 0 || to > static_cast<int64_t>(b->data.size())) return -1;
  b->position = static_cast<size_t>(to);
  return 0;
}

size_t Read(void* destination, size_t element_size, size_t count, FileHandle file) {
  Bytes* b = Of(file);
  if (element_size == 0) return 0;
  const size_t elements = std::min((b->data.size() - b->position) / element_size, count);
  std::memcpy(destination, b->data.data() + b->position, elements * element_size);
  b->position += elements * element_size;
  return elements;
}

int Eof(FileHandle file) { return Of(file)->position >= Of(file)->data.size() ? 1 : 0; }

// The folder the movie is made in, the user's own.
const benchfolder::Folder& MovieFolder() {
  static const benchfolder::Folder folder = benchfolder::Make("rorud_bench_theora");
  return folder;
}

bool MakeMovie(Bytes* bytes) {
  const std::string path = MovieFolder().path + "/movie-" + std::to_string(::getpid()) + ".ogv";
  const std::string command =
      "ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=640x480:rate=25:duration=2 -c:v libtheora -q:v 7 " +
      path + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return false;
  std::ifstream in(path, std::ios::binary);
  bytes->data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  return !bytes->data.empty();
}

void BM_TheoraFrame(benchmark::State& state) {
  if (!benchfolder::Usable(state, MovieFolder())) return;
  InitializeYuvTables();
  Bytes bytes;
  if (!MakeMovie(&bytes)) {
    state.SkipWithError("the ffmpeg command could not make the movie");
    return;
  }
  FileFunctionTable table{};
  table.tell = Tell;
  table.seek = Seek;
  table.read = Read;
  table.eof = Eof;
  TheoraMovieRecord* movie = OpenTheoraMovie(&table, reinterpret_cast<FileHandle>(&bytes), 3);
  if (movie == nullptr) {
    state.SkipWithError("the movie did not open");
    return;
  }
  for (auto _ : state) {
    AdvanceTheoraFrame(movie, 1);
    benchmark::DoNotOptimize(ConvertTheoraFrame(movie, 1, 0));
  }
  CloseTheoraMovie(movie);
}

BENCHMARK(BM_TheoraFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
