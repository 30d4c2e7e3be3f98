// Reading a folder of files packed into an archive against reading the same
// files as plain files, through the library's file functions.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_folder.h"
#include "lib/core/archive_files.h"
#include "lib/core/file_functions.h"
#include "lib/core/pack_writer.h"
#include "platform/kernel/file.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 200;
constexpr size_t kFileSize = 24 * 1024;

struct Fixture {
  fs::path root;
  std::string problem;  // why there is no folder, or empty
  std::vector<std::string> names;

  Fixture() {
    std::mt19937 rng(1);
    root = benchfolder::RunFolder("rorud_bench_pack_", &problem);
    if (root.empty()) return;
    fs::create_directories(root / "plain");
    PackNode tree;
    tree.folder = true;
    for (int i = 0; i < kFiles; ++i) {
      std::string name = "tx_" + std::to_string(i) + ".png";
      std::vector<unsigned char> data(kFileSize);
      for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<unsigned char>(rng() % 5 == 0 ? rng() : k / 50);
      std::ofstream(root / "plain" / name, std::ios::binary)
          .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
      PackNode file;
      file.name = name;
      file.data = std::move(data);
      tree.children.push_back(std::move(file));
      names.push_back(name);
    }
    for (bool compress : {false, true}) {
      PackOptions options;
      options.compress = compress;
      std::ofstream out(root / (compress ? "packed.hsd" : "stored.hsd"), std::ios::binary);
      std::string error;
      WritePackArchive(tree, options, out, &error);
    }
    plat::SetCurrentDirectory(plat::FromHostName(root.string().c_str()).c_str());
    SetArchiveUse(1);
    InstallFileFunctions(nullptr);
    SetArchiveExtension("hsd");
  }
  ~Fixture() {
    if (root.empty()) return;
    ArchiveCacheEnd();
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

Fixture& GetFixture() {
  static Fixture fixture;
  return fixture;
}

void ReadFolder(benchmark::State& state, const char* folder) {
  Fixture& f = GetFixture();
  if (!f.problem.empty()) {
    state.SkipWithError(f.problem.c_str());
    return;
  }
  std::vector<char> buffer(kFileSize);
  for (auto _ : state) {
    for (const std::string& name : f.names) {
      std::string path = std::string(folder) + "\\" + name;
      intptr_t h = FileOpenThunk(path.c_str(), 0, 1, 0);
      if (!h) {
        state.SkipWithError("open failed");
        return;
      }
      FileSeekThunk(h, 0, 2);
      int64_t size = FileTellThunk(h);
      FileSeekThunk(h, 0, 0);
      FileReadThunk(buffer.data(), 1, static_cast<size_t>(size), h);
      FileCloseThunk(h);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFiles * static_cast<int64_t>(kFileSize));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFiles);
}

void BM_PlainFiles(benchmark::State& state) { ReadFolder(state, "plain"); }
void BM_ArchiveStored(benchmark::State& state) { ReadFolder(state, "stored"); }
void BM_ArchiveCompressed(benchmark::State& state) { ReadFolder(state, "packed"); }

BENCHMARK(BM_PlainFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchiveStored)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchiveCompressed)->Unit(benchmark::kMillisecond);

}  // namespace
