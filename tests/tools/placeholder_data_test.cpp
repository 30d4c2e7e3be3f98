// The placeholder data set made by the build: every file the game loads is
// there and decodes, and every cut lies inside its sheet.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(RORUD_BINARY_DIR) / "data";

struct Sheet {
  int width = 0, height = 0;
};

struct Manifest {
  std::map<std::string, Sheet> sheets;
  std::vector<std::tuple<std::string, int, int, int, int, int>> cuts;  // file row x y w h
  std::vector<std::string> sounds;
  std::vector<std::pair<std::string, int>> music;
};

Manifest ReadManifest() {
  Manifest m;
  std::ifstream f(kData / "manifest.txt");
  std::string line;
  while (std::getline(f, line)) {
    std::istringstream in(line);
    std::string what, file;
    in >> what;
    if (what == "sheet") {
      int row;
      Sheet s;
      in >> file >> row >> s.width >> s.height;
      m.sheets[file] = s;
    } else if (what == "cut") {
      int row, x, y, w, h;
      in >> file >> row >> x >> y >> w >> h;
      m.cuts.emplace_back(file, row, x, y, w, h);
    } else if (what == "sound") {
      int slot;
      in >> slot >> file;
      m.sounds.push_back(file);
    } else if (what == "music") {
      int loop;
      in >> file >> loop;
      m.music.emplace_back(file, loop);
    }
  }
  return m;
}

// Decodes a PNG with libpng into 8-bit RGBA.
bool DecodePng(const fs::path& path, int& w, int& h, std::vector<unsigned char>& rgba) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  w = static_cast<int>(png_get_image_width(png, info));
  h = static_cast<int>(png_get_image_height(png, info));
  const bool rgba8 = png_get_bit_depth(png, info) == 8 &&
                     png_get_color_type(png, info) == PNG_COLOR_TYPE_RGBA;
  rgba.assign(static_cast<size_t>(w) * h * 4, 0);
  std::vector<png_bytep> rows(h);
  for (int y = 0; y < h; ++y) rows[y] = rgba.data() + static_cast<size_t>(y) * w * 4;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return rgba8;
}

class PlaceholderData : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kData / "manifest.txt")) GTEST_SKIP() << "no data set in " << kData;
    manifest_ = ReadManifest();
  }
  Manifest manifest_;
};

TEST_F(PlaceholderData, ManifestListsTheWholeSet) {
  EXPECT_EQ(manifest_.sheets.size(), 23u);
  EXPECT_EQ(manifest_.sounds.size(), 30u);
  EXPECT_EQ(manifest_.music.size(), 10u);
  std::set<int> rows;
  for (const auto& [file, row, x, y, w, h] : manifest_.cuts) rows.insert(row);
  EXPECT_EQ(rows.size(), 414u);
}

TEST_F(PlaceholderData, EverySheetDecodesAndHoldsItsCuts) {
  for (const auto& [file, sheet] : manifest_.sheets) {
    int w = 0, h = 0;
    std::vector<unsigned char> px;
    ASSERT_TRUE(DecodePng(kData / file, w, h, px)) << file;
    EXPECT_EQ(w, sheet.width) << file;
    EXPECT_EQ(h, sheet.height) << file;
    // Visible pixels are never pure black (the transparent colour).
    size_t black = 0, visible = 0;
    for (size_t i = 0; i < px.size(); i += 4) {
      if (px[i + 3] == 0) continue;
      ++visible;
      if (px[i] == 0 && px[i + 1] == 0 && px[i + 2] == 0) ++black;
    }
    EXPECT_EQ(black, 0u) << file;
    EXPECT_GT(visible, 0u) << file;
  }
  for (const auto& [file, row, x, y, w, h] : manifest_.cuts) {
    ASSERT_TRUE(manifest_.sheets.count(file)) << file;
    const Sheet& s = manifest_.sheets[file];
    EXPECT_TRUE(x >= 0 && y >= 0 && w > 0 && h > 0 && x + w <= s.width && y + h <= s.height)
        << file << " row " << row;
  }
  EXPECT_GE(manifest_.sheets["grp/stm1x.png"].width, 992);
  EXPECT_GE(manifest_.sheets["grp/stm1x.png"].height, 528);
  EXPECT_EQ(manifest_.sheets["grp/stg3a.png"].width, 1024);
  EXPECT_EQ(manifest_.sheets["grp/sel_myb.png"].height, 1024);
}

TEST_F(PlaceholderData, BaseBackgroundIsOpaqueAndWraps) {
  int w = 0, h = 0;
  std::vector<unsigned char> px;
  ASSERT_TRUE(DecodePng(kData / "grp/stg1a.png", w, h, px));
  // Row 480: (0, 0, 420, 960). Its first and last lines meet seamlessly.
  for (int x = 0; x < 420; ++x) {
    const unsigned char* top = &px[static_cast<size_t>(x) * 4];
    const unsigned char* bottom = &px[(static_cast<size_t>(959) * w + x) * 4];
    EXPECT_EQ(top[3], 255);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(top[c], bottom[c], 24) << "x " << x;
  }
}

TEST_F(PlaceholderData, SoundsArePcmWavesOfDistinctPitch) {
  std::set<std::vector<char>> contents;
  for (const std::string& file : manifest_.sounds) {
    std::ifstream f(kData / file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 44u) << file;
    EXPECT_EQ(std::string(bytes.data(), 4), "RIFF");
    EXPECT_EQ(std::string(bytes.data() + 8, 8), "WAVEfmt ");
    EXPECT_EQ(bytes[20], 1);  // PCM
    contents.insert(bytes);
  }
  EXPECT_EQ(contents.size(), manifest_.sounds.size());
}

TEST_F(PlaceholderData, MusicIsMp3LongerThanItsLoopPosition) {
  for (const auto& [file, loop_ms] : manifest_.music) {
    std::ifstream f(kData / file, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(f)),
                                     std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 4u) << file;
    // MPEG audio frame sync at the start; constant 32 kbit/s.
    EXPECT_EQ(bytes[0], 0xFF) << file;
    EXPECT_EQ(bytes[1] & 0xE0, 0xE0) << file;
    const double seconds = bytes.size() * 8.0 / 32000.0;
    EXPECT_GT(seconds * 1000.0, loop_ms + 1000.0) << file;
  }
}

}  // namespace
