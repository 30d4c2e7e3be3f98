// PNG load of a 1024 x 1024 RGBA sheet: through the library's loader table,
// through libpng's simplified API and through stb_image, all from the same
// bytes in memory.
#include <benchmark/benchmark.h>
#include <png.h>
#include <stb_image.h>

#include <cstring>
#include <random>
#include <vector>

#include "lib/image/image_load.h"

namespace {

void WriteToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

// A sprite-sheet-like picture: flat areas, gradients and some noise.
const std::vector<uint8_t>& Sheet() {
  static const std::vector<uint8_t> file = [] {
    const int size = 1024;
    std::vector<uint8_t> pixels(static_cast<size_t>(size) * size * 4);
    std::mt19937 rng(7);
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        uint8_t* p = &pixels[(static_cast<size_t>(y) * size + x) * 4];
        const int cell = ((x / 64) + (y / 64)) % 4;
        const bool inside = (x % 64 - 32) * (x % 64 - 32) + (y % 64 - 32) * (y % 64 - 32) < 28 * 28;
        p[0] = static_cast<uint8_t>(cell * 60 + (x % 64));
        p[1] = static_cast<uint8_t>(y % 64 * 3);
        p[2] = static_cast<uint8_t>(inside ? 200 + rng() % 8 : 40);
        p[3] = inside ? 255 : 0;
      }
    }
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, WriteToVector, nullptr);
    png_set_IHDR(png, info, size, size, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < size; ++y) png_write_row(png, &pixels[static_cast<size_t>(y) * size * 4]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
  }();
  return file;
}

void LoaderTable(benchmark::State& state) {
  const std::vector<uint8_t>& file = Sheet();
  for (auto _ : state) {
    BaseImage image;
    if (LoadBaseImageNoAlpha(nullptr, file.data(), file.size(), 1, &image, 0) != 0) {
      state.SkipWithError("load failed");
      break;
    }
    benchmark::DoNotOptimize(image.pixels[0]);
    FreeBaseImagePixels(&image);
  }
}
BENCHMARK(LoaderTable)->Unit(benchmark::kMillisecond);

void LibpngSimplified(benchmark::State& state) {
  const std::vector<uint8_t>& file = Sheet();
  std::vector<uint8_t> out(static_cast<size_t>(1024) * 1024 * 4);
  for (auto _ : state) {
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
      state.SkipWithError("begin failed");
      break;
    }
    image.format = PNG_FORMAT_BGRA;
    png_image_finish_read(&image, nullptr, out.data(), 0, nullptr);
    benchmark::DoNotOptimize(out[0]);
  }
}
BENCHMARK(LibpngSimplified)->Unit(benchmark::kMillisecond);

void StbImage(benchmark::State& state) {
  const std::vector<uint8_t>& file = Sheet();
  for (auto _ : state) {
    int w = 0, h = 0, n = 0;
    unsigned char* pixels =
        stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &n, 4);
    if (!pixels) {
      state.SkipWithError("stb failed");
      break;
    }
    benchmark::DoNotOptimize(pixels[0]);
    stbi_image_free(pixels);
  }
}
BENCHMARK(StbImage)->Unit(benchmark::kMillisecond);

}  // namespace
