// JPEG load of a 1024 x 1024 colour picture from the same bytes in memory:
// through the library's loader table, and through libjpeg-turbo's own decoder
// (its memory source, many rows a call) to the same pixel format (B, G, R).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "lib/image/image_load.h"

namespace {

constexpr int kSide = 1024;

// A photograph-like picture: gradients, shapes and noise, quality 90.
const std::vector<unsigned char>& Picture() {
  static const std::vector<unsigned char> file = [] {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = kSide;
    c.image_height = kSide;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::mt19937 rng(9);
    std::vector<unsigned char> row(kSide * 3);
    while (c.next_scanline < c.image_height) {
      const int y = static_cast<int>(c.next_scanline);
      for (int x = 0; x < kSide; ++x) {
        const bool disc = ((x % 128) - 64) * ((x % 128) - 64) + ((y % 128) - 64) * ((y % 128) - 64) < 1600;
        row[x * 3] = static_cast<unsigned char>(x / 4 + (rng() & 7));
        row[x * 3 + 1] = static_cast<unsigned char>(disc ? 200 : y / 4);
        row[x * 3 + 2] = static_cast<unsigned char>((x + y) / 8 + (rng() & 15));
      }
      JSAMPROW p = row.data();
      jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<unsigned char> out(mem, mem + size);
    jpeg_destroy_compress(&c);
    std::free(mem);
    return out;
  }();
  return file;
}

void BM_JpegLoadThroughTheLibrary(benchmark::State& state) {
  const std::vector<unsigned char>& file = Picture();
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
BENCHMARK(BM_JpegLoadThroughTheLibrary)->Unit(benchmark::kMillisecond);

void BM_JpegLibjpegTurbo(benchmark::State& state) {
  const std::vector<unsigned char>& file = Picture();
  for (auto _ : state) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), file.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d);
    const size_t row = static_cast<size_t>(d.output_width) * 3;
    std::vector<unsigned char> pixels(row * d.output_height);
    while (d.output_scanline < d.output_height) {
      JSAMPROW lines[16];
      for (int i = 0; i < 16; ++i) lines[i] = pixels.data() + row * std::min<size_t>(d.output_scanline + i, d.output_height - 1);
      jpeg_read_scanlines(&d, lines, 16);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    benchmark::DoNotOptimize(pixels[0]);
  }
}
BENCHMARK(BM_JpegLibjpegTurbo)->Unit(benchmark::kMillisecond);

}  // namespace
