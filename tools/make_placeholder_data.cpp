// tools/make_placeholder_data.cpp - makes the whole data set that the game
// loads: the sheets in grp/ (PNG), the sound effects in se/ (WAV), the music
// in bgm/ (MP3), and manifest.txt listing every sheet, cut, sound and track.
//
//   make_placeholder_data <folder>
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "game/objects/resource_tables.h"
#include "tools/placeholder/art.h"
#include "tools/placeholder/audio.h"

namespace {

using placeholder::Canvas;

bool WritePng(const std::string& path, const Canvas& canvas) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_compression_level(png, 6);
  png_set_IHDR(png, info, static_cast<png_uint_32>(canvas.width()),
               static_cast<png_uint_32>(canvas.height()), 8, PNG_COLOR_TYPE_RGBA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const auto* base = reinterpret_cast<const unsigned char*>(canvas.pixels().data());
  for (int y = 0; y < canvas.height(); ++y) {
    png_write_row(png, const_cast<png_bytep>(base + static_cast<size_t>(y) * canvas.width() * 4));
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

struct SheetJob {
  const SheetDef* sheet;
  int variant;
};

std::vector<SheetJob> AllSheets() {
  std::vector<SheetJob> jobs;
  for (const SheetDef& s : kCommonSheets) jobs.push_back({&s, 0});
  for (int i = 0; i < 2; ++i) jobs.push_back({&kPlayerSheets[i], i});
  for (int i = 0; i < 2; ++i) jobs.push_back({&kPartnerSheets[i], i});
  for (int i = 0; i < 5; ++i) jobs.push_back({&kStageSheetsA[i], i});
  for (int i = 0; i < 5; ++i) jobs.push_back({&kStageSheetsB[i], i});
  jobs.push_back({&kBootSheet, 0});
  jobs.push_back({&kTitleSheet, 0});
  return jobs;
}

// Long enough to pass the loop position with room to hear the seam.
double MusicSeconds(int loop_ms) {
  const double after_loop = loop_ms >= 0 ? loop_ms / 1000.0 + 8.0 : 0.0;
  return std::max(20.0, after_loop);
}

bool WriteManifest(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  std::fprintf(f, "# placeholder data manifest: sheet <file> <row> <width> <height>;\n"
                  "# cut <file> <row> <x> <y> <w> <h> <next> <frames per step>;\n"
                  "# sound <slot> <file>; music <file> <loop ms>\n");
  for (const SheetJob& job : AllSheets()) {
    const SheetDef& s = *job.sheet;
    std::fprintf(f, "sheet %s %d %d %d\n", s.file, s.row, s.width, s.height);
    const CutList& cuts = kCutGroups[s.cuts];
    for (int i = 0; i < cuts.count; ++i) {
      const CutDef& c = cuts.cuts[i];
      std::fprintf(f, "cut %s %d %d %d %d %d %d %d\n", s.file, c.row, c.x, c.y, c.w, c.h, c.next,
                   c.frames_per_step);
    }
  }
  for (int slot = 0; slot < kSoundEffectSlots; ++slot) {
    if (kSoundEffectFiles[slot]) std::fprintf(f, "sound %d %s\n", slot, kSoundEffectFiles[slot]);
  }
  for (const MusicDef& m : kMusicFiles) std::fprintf(f, "music %s %d\n", m.file, m.loop_ms);
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path root = argv[1];
  std::error_code ec;
  for (const char* sub : {"grp", "se", "bgm"}) {
    std::filesystem::create_directories(root / sub, ec);
    if (ec) {
      std::fprintf(stderr, "cannot create %s\n", (root / sub).string().c_str());
      return 1;
    }
  }

  // Music takes longest: each track on its own thread, started first.
  std::vector<std::thread> threads;
  std::vector<char> music_ok(std::size(kMusicFiles), 0);
  for (size_t i = 0; i < std::size(kMusicFiles); ++i) {
    threads.emplace_back([&, i] {
      const MusicDef& m = kMusicFiles[i];
      music_ok[i] = placeholder::WriteMusic((root / m.file).string(), static_cast<int>(i),
                                            MusicSeconds(m.loop_ms), m.loop_ms);
    });
  }
  bool ok = true;
  const std::vector<SheetJob> sheets = AllSheets();
  std::vector<char> sheet_ok(sheets.size(), 0);
  {
    std::vector<std::thread> art;
    for (size_t i = 0; i < sheets.size(); ++i) {
      art.emplace_back([&, i] {
        sheet_ok[i] = WritePng((root / sheets[i].sheet->file).string(),
                               placeholder::DrawSheet(*sheets[i].sheet, sheets[i].variant));
      });
    }
    for (std::thread& t : art) t.join();
  }
  for (size_t i = 0; i < sheets.size(); ++i) {
    if (!sheet_ok[i]) {
      std::fprintf(stderr, "cannot write %s\n", sheets[i].sheet->file);
      ok = false;
    }
  }
  for (int slot = 0; slot < kSoundEffectSlots; ++slot) {
    if (kSoundEffectFiles[slot] &&
        !placeholder::WriteSoundEffect((root / kSoundEffectFiles[slot]).string(), slot)) {
      std::fprintf(stderr, "cannot write %s\n", kSoundEffectFiles[slot]);
      ok = false;
    }
  }
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < music_ok.size(); ++i) {
    if (!music_ok[i]) {
      std::fprintf(stderr, "cannot write %s\n", kMusicFiles[i].file);
      ok = false;
    }
  }
  if (!WriteManifest((root / "manifest.txt").string())) ok = false;
  return ok ? 0 : 1;
}
