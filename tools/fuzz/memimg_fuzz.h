// Shared by the software-kernel fuzz targets: a reader that turns the fuzz
// input into bytes, words and coordinates (zero once the input runs out), and
// the fill of a memory image's rows from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/softrender/memimg.h"

namespace fuzzsoft {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint32_t Byte() { return at < size ? data[at++] : 0; }
  uint32_t Word() { return Byte() | Byte() << 8 | Byte() << 16 | Byte() << 24; }
  int32_t Short() { return static_cast<int16_t>(Byte() | Byte() << 8); }
  // Mostly near the images, sometimes anywhere in the int range.
  int32_t Coord() {
    const uint32_t kind = Byte();
    return (kind & 7) == 0 ? static_cast<int32_t>(Word()) : Short() % 80;
  }
  float Float() {
    const uint32_t bits = Word();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
};

// Fills bytes_per_pixel * width bytes of every row.
inline void FillFrom(MEMIMG* m, Reader& r, int bytes_per_pixel) {
  const int bytes = bytes_per_pixel * m->width;
  for (int y = 0; y < m->height; ++y)
    for (int x = 0; x < bytes; ++x) m->pixels[y * m->base->pitch + x] = static_cast<uint8_t>(r.Byte() * 37 + x);
}

}  // namespace fuzzsoft
