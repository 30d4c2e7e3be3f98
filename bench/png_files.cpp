// Loading many small PNG files by path from disk: through the library's file
// layer with archive use on (as the game loads its pictures: every folder of
// the path is tried as an archive first), against libpng's simplified API
// reading the same files with stdio. Both decode to 32-bit pixels; the ratio
// (above 1: ours is faster) shows what the look-up by path adds to the decode.
// The files are made once in a folder of the user's own in /var/tmp and
// reused, so their folders are old enough for the layer to remember them.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_folder.h"
#include "lib/core/archive_files.h"
#include "lib/core/file_functions.h"
#include "lib/image/image_load.h"

namespace {

constexpr int kFiles = 600;
constexpr int kSide = 48;
// The user's own folder in /var/tmp (bench/bench_folder.h): a name there that
// another user made (or a link) is never written through.
const benchfolder::Folder& OwnFolder() {
  static const benchfolder::Folder folder = benchfolder::Make("rorud_bench_png_files", "/var/tmp");
  return folder;
}

// The files' folder in it, empty when there is none.
const std::string& Folder() {
  static const std::string folder = OwnFolder().path.empty() ? std::string() : OwnFolder().path + "/data/grp/sprites";
  return folder;
}

std::string FileName(int i) { return Folder() + "/sp" + std::to_string(i) + ".png"; }

bool WritePng(const std::string& path, std::mt19937& rng) {
  std::vector<uint8_t> pixels(kSide * kSide * 4);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      uint8_t* p = &pixels[(y * kSide + x) * 4];
      const bool inside = (x - 24) * (x - 24) + (y - 24) * (y - 24) < 400;
      p[0] = static_cast<uint8_t>(x * 5);
      p[1] = static_cast<uint8_t>(y * 5);
      p[2] = static_cast<uint8_t>(rng());
      p[3] = inside ? 255 : 0;
    }
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = kSide;
  image.height = kSide;
  image.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr) != 0;
}

// Makes the files when they are missing and sets the folders' times an hour
// back, as those of installed data are.
const std::vector<std::string>& Files() {
  static const std::vector<std::string> files = [] {
    std::vector<std::string> names;
    if (Folder().empty()) return names;
    std::filesystem::create_directories(Folder());
    std::mt19937 rng(3);
    for (int i = 0; i < kFiles; ++i) {
      names.push_back(FileName(i));
      if (!std::filesystem::exists(names.back())) {
        benchfolder::PutInPlace(names.back(), WritePng(benchfolder::PartName(names.back()), rng));
      }
    }
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= 3600;
    times[1] = times[0];
    for (std::filesystem::path p = Folder(); p != "/var/tmp"; p = p.parent_path()) {
      ::utimensat(AT_FDCWD, p.c_str(), times, 0);
    }
    return names;
  }();
  return files;
}

void BM_LoadByPathThroughTheLibrary(benchmark::State& state) {
  const std::vector<std::string>& files = Files();
  if (!benchfolder::Usable(state, OwnFolder())) return;
  InstallFileFunctions(GetArchiveFileFunctionSet());
  SetArchiveExtension("hsd");
  for (auto _ : state) {
    for (const std::string& name : files) {
      BaseImage image;
      if (LoadBaseImageNoAlpha(name.c_str(), nullptr, 0, 0, &image, 0) != 0) {
        state.SkipWithError("load failed");
        return;
      }
      benchmark::DoNotOptimize(image.pixels[0]);
      FreeBaseImagePixels(&image);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFiles);
}
BENCHMARK(BM_LoadByPathThroughTheLibrary)->Unit(benchmark::kMillisecond);

void BM_LoadByPathThroughLibpng(benchmark::State& state) {
  const std::vector<std::string>& files = Files();
  if (!benchfolder::Usable(state, OwnFolder())) return;
  std::vector<uint8_t> out(kSide * kSide * 4);
  for (auto _ : state) {
    for (const std::string& name : files) {
      png_image image{};
      image.version = PNG_IMAGE_VERSION;
      if (!png_image_begin_read_from_file(&image, name.c_str())) {
        state.SkipWithError("libpng failed");
        return;
      }
      image.format = PNG_FORMAT_BGRA;
      png_image_finish_read(&image, nullptr, out.data(), 0, nullptr);
      benchmark::DoNotOptimize(out[0]);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFiles);
}
BENCHMARK(BM_LoadByPathThroughLibpng)->Unit(benchmark::kMillisecond);

}  // namespace
