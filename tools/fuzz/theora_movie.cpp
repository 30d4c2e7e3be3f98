// Fuzz target: the Ogg Theora player over arbitrary bytes read through a
// file-function table: header search, index scan, the decoding thread's
// seeks and decode-ahead, and the conversion of the frames it stocks.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/sound/movie.h"

namespace {

struct Bytes {
  const uint8_t* data;
  size_t size;
  size_t position;
};

int64_t Tell(FileHandle file) { return static_cast<int64_t>(reinterpret_cast<Bytes*>(file)->position); }

int Seek(FileHandle file, int64_t offset, int origin) {
  Bytes* b = reinterpret_cast<Bytes*>(file);
  int64_t base = origin == 1 ? static_cast<int64_t>(b->position) : origin == 2 ? static_cast<int64_t>(b->size) : 0;
  int64_t to = base + offset;
  if (to < 0 || to > static_cast<int64_t>(b->size)) return -1;
  b->position = static_cast<size_t>(to);
  return 0;
}

size_t Read(void* destination, size_t element_size, size_t count, FileHandle file) {
  Bytes* b = reinterpret_cast<Bytes*>(file);
  if (element_size == 0) return 0;
  size_t elements = (b->size - b->position) / element_size;
  if (elements > count) elements = count;
  memcpy(destination, b->data + b->position, elements * element_size);
  b->position += elements * element_size;
  return elements;
}

int Eof(FileHandle file) {
  Bytes* b = reinterpret_cast<Bytes*>(file);
  return b->position >= b->size ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int tables = InitializeYuvTables();
  (void)tables;
  Bytes bytes{data, size, 0};
  FileFunctionTable table{};
  table.tell = Tell;
  table.seek = Seek;
  table.read = Read;
  table.eof = Eof;
  TheoraMovieRecord* movie = OpenTheoraMovie(&table, reinterpret_cast<FileHandle>(&bytes), 3);
  if (!movie) return 0;
  TheoraFrameRate rate{};
  GetTheoraFrameRate(movie, &rate);
  const int steps[] = {1, 2, 5, 1, 7, 3};
  for (int step : steps) {
    AdvanceTheoraFrame(movie, step);
    ConvertTheoraFrame(movie, 1, 1);
  }
  SeekTheoraFrame(movie, rate.frame_count / 2);
  ConvertTheoraFrame(movie, 1, 0);
  CloseTheoraMovie(movie);
  return 0;
}
