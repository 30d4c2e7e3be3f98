// Truncated and bit-flipped variants of every kind of test image go through
// the whole loader table: each is refused or decoded, and a decoded image's
// whole pixel block can be read (the sanitizer build checks the reads). Then
// the line between them: files that hold every pixel (or are cut where their
// format says what fills the rest) load with one line naming what is
// missing, damaged files are refused, and kinds a loader does not handle go
// on to the others.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "lib/core/memory.h"
#include "lib/image/dxt_decode.h"
#include "tests/lib/image/image_files.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"

using namespace imgtest;

namespace {

std::vector<std::pair<std::string, Bytes>> Corpus() {
  std::vector<std::pair<std::string, Bytes>> files;
  auto rows = [](int w, int h, int bytes) {
    std::vector<Bytes> r;
    for (int y = 0; y < h; ++y) {
      Bytes row(static_cast<size_t>(w) * bytes);
      for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 7 + y * 13);
      r.push_back(row);
    }
    return r;
  };
  std::vector<uint32_t> pal;
  for (int i = 0; i < 256; ++i) pal.push_back(static_cast<uint32_t>(i) * 0x010101);
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    BmpSpec s;
    s.width = 7;
    s.height = 5;
    s.bits = bits;
    if (bits <= 8) s.palette.assign(pal.begin(), pal.begin() + (1 << bits));
    s.rows = rows(7, 5, (bits + 7) / 8);
    files.push_back({"bmp" + std::to_string(bits), MakeBmp(s)});
    s.top_down = true;
    files.push_back({"bmp-top" + std::to_string(bits), MakeBmp(s)});
  }
  BmpSpec rle8;
  rle8.width = 6;
  rle8.height = 4;
  rle8.bits = 8;
  rle8.compression = 1;
  rle8.palette = pal;
  rle8.rle = {3, 1, 0, 3, 4, 5, 6, 0, 0, 0, 0, 2, 1, 1, 5, 2, 0, 0, 6, 8, 0, 1};
  files.push_back({"rle8", MakeBmp(rle8)});
  BmpSpec rle4 = rle8;
  rle4.bits = 4;
  rle4.compression = 2;
  rle4.palette.resize(16);
  rle4.rle = {3, 0x12, 0, 3, 0x45, 0x60, 0, 0, 0, 2, 1, 1, 5, 0x22, 0, 0, 6, 0x38, 0, 1};
  files.push_back({"rle4", MakeBmp(rle4)});
  BmpSpec fields;
  fields.width = 5;
  fields.height = 3;
  fields.bits = 16;
  fields.compression = 3;
  fields.masks[0] = 0xF800;
  fields.masks[1] = 0x07E0;
  fields.masks[2] = 0x001F;
  fields.rows = rows(5, 3, 2);
  files.push_back({"bitfields", MakeBmp(fields)});

  Bytes px;
  for (int i = 0; i < 6 * 4 * 4; ++i) px.push_back(static_cast<uint8_t>(i * 11));
  files.push_back({"tga2", MakeTga(2, 6, 4, 32, 0x08, {}, 0, 0, px, true)});
  files.push_back({"tga10", MakeTga(10, 6, 4, 24, 0x30, {}, 0, 0,
                                    Bytes{0x85, 1, 2, 3, 0x02, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x8E, 9, 9, 9},
                                    true)});
  Bytes map(16 * 3);
  for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<uint8_t>(i * 5);
  files.push_back({"tga9", MakeTga(9, 6, 4, 8, 0, map, 24, 16, Bytes{0x97, 3}, false)});
  files.push_back({"tga1", MakeTga(1, 6, 4, 8, 0x20, map, 24, 16, Bytes(24, 2), false)});

  const uint32_t masks[4] = {0xF800, 0x07E0, 0x001F, 0};
  for (const char* cc : {"DXT1", "DXT3", "DXT5", "DXT2", "DXT4"}) {
    files.push_back({std::string("dds-") + cc,
                     MakeDds(8, 8, 0x1007 | 0x20000, 0, 4, 0x4, cc, 0, 0, nullptr, 0x401008,
                             Bytes(cc[3] == '1' ? 56 : 112, 0x5A))});
  }
  files.push_back({"dds-rgb", MakeDds(4, 2, 0x1007, 0, 0, 0x40, nullptr, 0, 16, masks, 0, Bytes(16, 0x33))});
  files.push_back({"bgra8", MakeBgra(0x08080808, 3, 2, Bytes(24, 0x44))});
  files.push_back({"bgra16", MakeBgra(0x10101010, 3, 2, Bytes(48, 0x45))});

  for (int type : {0, 2, 3, 4, 6}) {
    PngSpec s;
    s.colour_type = type;
    s.interlace = type == 2;
    if (type == 3) s.palette.assign(12, png_color{10, 20, 30});
    files.push_back({"png" + std::to_string(type), WritePng(s)});
  }
  files.push_back({"jpeg-grey", WriteJpeg(24, 16, 1, JCS_GRAYSCALE, false)});
  files.push_back({"jpeg-rgb", WriteJpeg(24, 16, 3, JCS_RGB, false)});
  files.push_back({"jpeg-progressive", WriteJpeg(24, 16, 3, JCS_RGB, true)});
  return files;
}

// Loads, reads every byte of the result and frees it.
void Exercise(const Bytes& data) {
  BaseImage image;
  if (LoadBytes(data, &image) != 0) {
    EXPECT_EQ(image.pixels, nullptr);
    return;
  }
  ASSERT_NE(image.pixels, nullptr);
  uint64_t size = GetBaseImageDataSize(&image);
  volatile uint8_t sum = 0;
  for (uint64_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + image.pixels[i]);
  if (DecompressDxtBaseImage(&image) == 0) {
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x) sum = static_cast<uint8_t>(sum + GetBaseImagePixel(&image, x, y));
  }
  FreeBaseImagePixels(&image);
}

TEST(DamagedFiles, EveryCorpusFileDecodes) {
  for (const auto& [name, data] : Corpus()) {
    BaseImage image;
    EXPECT_EQ(LoadBytes(data, &image), 0) << name;
    FreeBaseImagePixels(&image);
  }
}

TEST(DamagedFiles, TruncatedVariantsAreSafe) {
  for (const auto& [name, data] : Corpus()) {
    SCOPED_TRACE(name);
    const size_t step = std::max<size_t>(1, data.size() / 64);
    for (size_t cut = 0; cut < data.size(); cut += step) Exercise(Bytes(data.begin(), data.begin() + static_cast<long>(cut)));
  }
}

TEST(DamagedFiles, BitFlippedVariantsAreSafe) {
  std::mt19937 rng(2024);
  for (const auto& [name, data] : Corpus()) {
    SCOPED_TRACE(name);
    for (int n = 0; n < 150; ++n) {
      Bytes damaged = data;
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int f = 0; f < flips; ++f) {
        // Headers are where sizes live: favour the first 64 bytes.
        size_t at = (rng() & 1) ? rng() % std::min<size_t>(64, damaged.size()) : rng() % damaged.size();
        damaged[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
      }
      Exercise(damaged);
    }
  }
}

// ---- Whole, cut short, damaged, not handled --------------------------------

struct Loaded {
  BaseImage im;
  Loaded() { std::memset(&im, 0, sizeof(im)); }
  ~Loaded() { FreeBaseImagePixels(&im); }
  BaseImage* get() { return &im; }
};

void WriteFile(const std::string& name, const Bytes& data) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes Head(const Bytes& data, size_t n) { return Bytes(data.begin(), data.begin() + static_cast<long>(n)); }

// Every pixel of the two images is the same colour.
void ExpectSamePixels(BaseImage* a, BaseImage* b, const std::string& name) {
  ASSERT_EQ(a->width, b->width) << name;
  ASSERT_EQ(a->height, b->height) << name;
  for (int y = 0; y < a->height; ++y)
    for (int x = 0; x < a->width; ++x) ASSERT_EQ(PixelAt(a, x, y), PixelAt(b, x, y)) << name << " " << x << "," << y;
}

// Lines of captured log output that mention text.
int LinesWith(const std::string& log, const std::string& text) {
  int n = 0;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    if (log.substr(start, end - start).find(text) != std::string::npos) ++n;
    start = end + 1;
  }
  return n;
}

// PNG chunks: type and data, written back with fresh checksums.
struct PngChunk {
  std::string type;
  Bytes data;
};

std::vector<PngChunk> PngChunks(const Bytes& file) {
  std::vector<PngChunk> chunks;
  for (size_t at = 8; at + 12 <= file.size();) {
    const uint32_t n = uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 | uint32_t(file[at + 2]) << 8 | file[at + 3];
    chunks.push_back({std::string(file.begin() + static_cast<long>(at) + 4, file.begin() + static_cast<long>(at) + 8),
                      Bytes(file.begin() + static_cast<long>(at) + 8, file.begin() + static_cast<long>(at + 8 + n))});
    at += 12 + n;
  }
  return chunks;
}

Bytes PngFile(const std::vector<PngChunk>& chunks) {
  Bytes out{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (const PngChunk& c : chunks) {
    const uint32_t n = static_cast<uint32_t>(c.data.size());
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(n >> (8 * i)));
    Bytes body(c.type.begin(), c.type.end());
    body.insert(body.end(), c.data.begin(), c.data.end());
    out.insert(out.end(), body.begin(), body.end());
    const uLong crc = crc32(0, body.data(), static_cast<uInt>(body.size()));
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  }
  return out;
}

// Offsets of the markers that start a progressive file's later scans (a
// table or a scan header right after entropy-coded data).
std::vector<size_t> ScanBoundaries(const Bytes& jpeg) {
  std::vector<size_t> at;
  bool in_scan = false;
  for (size_t i = 2; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] != 0xFF || jpeg[i + 1] == 0 || (jpeg[i + 1] >= 0xD0 && jpeg[i + 1] <= 0xD7)) continue;
    if (in_scan && (jpeg[i + 1] == 0xC4 || jpeg[i + 1] == 0xDA)) at.push_back(i);
    if (jpeg[i + 1] == 0xDA) {
      in_scan = true;
      i += 1 + (jpeg[i + 2] << 8 | jpeg[i + 3]);
    } else {
      in_scan = false;
    }
  }
  return at;
}

// Each file lacks only what its format lets a reader do without, or is cut
// where its format says what fills the rest: it loads at its size, pixel for
// pixel as the reference (the whole file, or libjpeg's own reading of the cut
// data), with one log line that names the file and what is missing. The
// whole files load without a line.
TEST(IncompleteFiles, LoadWithOneLineNamingTheFileAndWhatIsMissing) {
  testsupport::LogCapture log;
  const std::string no_eoi = testsupport::Sjis("終わりのマーカー(EOI)がありません");
  const std::string cut = testsupport::Sjis("データが途中で切れています");
  const std::string no_padding = testsupport::Sjis("最後の行の詰め物のバイトが欠けています");
  const std::string no_end = testsupport::Sjis("圧縮データの終わりの印が欠けています");
  const std::string no_iend = testsupport::Sjis("IENDチャンクがありません");

  struct Case {
    std::string name;
    Bytes file;
    Bytes whole;           // the reference file, loaded through the loaders
    const std::string* note;
    bool libjpeg_reference;  // the reference is libjpeg's reading of the file itself
  };
  std::vector<Case> cases;
  const Bytes baseline = WriteJpeg(64, 48, 3, JCS_RGB, false);
  const Bytes progressive = WriteJpeg(64, 48, 3, JCS_RGB, true);
  cases.push_back({"no_eoi.jpg", Head(baseline, baseline.size() - 2), baseline, &no_eoi, false});
  cases.push_back({"no_eoi_progressive.jpg", Head(progressive, progressive.size() - 2), progressive, &no_eoi, false});
  cases.push_back({"cut60.jpg", Head(baseline, baseline.size() * 6 / 10), {}, &cut, true});
  const std::vector<size_t> scans = ScanBoundaries(progressive);
  ASSERT_GE(scans.size(), 3u);
  cases.push_back({"cut_at_scan.jpg", Head(progressive, scans[2]), {}, &cut, true});

  std::vector<uint32_t> palette;
  for (int i = 0; i < 256; ++i) palette.push_back(static_cast<uint32_t>(i) * 0x030507 & 0xFFFFFF);
  for (int bits : {4, 8, 16, 24}) {
    BmpSpec s;
    s.width = 5;  // every depth leaves the rows padding bytes
    s.height = 3;
    s.bits = bits;
    if (bits <= 8) s.palette.assign(palette.begin(), palette.begin() + (1 << bits));
    for (int y = 0; y < 3; ++y) {
      Bytes row(static_cast<size_t>(5 * bits + 7) / 8);
      for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 29 + y * 83 + 1);
      s.rows.push_back(row);
    }
    const Bytes whole = MakeBmp(s);
    const size_t padding = ((5 * bits + 7) / 8 + 3) / 4 * 4 - (5 * bits + 7) / 8;
    ASSERT_GT(padding, 0u);
    cases.push_back({"no_padding" + std::to_string(bits) + ".bmp", Head(whole, whole.size() - padding), whole,
                     &no_padding, false});
  }
  for (int bits : {8, 4}) {
    // Two rows of runs, the second ending on the last pixel without an end
    // of line or an end of bitmap.
    BmpSpec s;
    s.width = 6;
    s.height = 2;
    s.bits = bits;
    s.compression = bits == 8 ? 1 : 2;
    s.palette.assign(palette.begin(), palette.begin() + (1 << bits));
    s.rle = {0x06, 0x12, 0x00, 0x00, 0x02, 0x03, 0x04, 0x05};
    const Bytes cut_rle = MakeBmp(s);
    s.rle.insert(s.rle.end(), {0x00, 0x01});
    cases.push_back({"no_end_rle" + std::to_string(bits) + ".bmp", cut_rle, MakeBmp(s), &no_end, false});
  }
  PngSpec p;
  p.width = 23;
  p.height = 17;
  p.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
  const Bytes png = WritePng(p);
  cases.push_back({"no_iend.png", Head(png, png.size() - 12), png, &no_iend, false});
  cases.push_back({"cut_iend.png", Head(png, png.size() - 5), png, &no_iend, false});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(c.name, c.file);
    Loaded got, want;
    log.Clear();
    ASSERT_EQ(LoadBaseImageNoAlpha(c.name.c_str(), nullptr, 0, 0, got.get(), 0), 0);
    EXPECT_EQ(std::count(log.Debug().begin(), log.Debug().end(), '\n'), 1) << log.Debug();
    EXPECT_EQ(LinesWith(log.Debug(), c.name), 1) << log.Debug();
    EXPECT_EQ(LinesWith(log.Debug(), *c.note), 1) << log.Debug();
    if (c.libjpeg_reference) {
      int comps = 0;
      const Bytes ref = ReferenceJpeg(c.file, &comps);
      ASSERT_EQ(ref.size(), static_cast<size_t>(got.im.width) * got.im.height * 3);
      for (int y = 0; y < got.im.height; ++y)
        for (int x = 0; x < got.im.width; ++x) {
          const uint8_t* r = &ref[(static_cast<size_t>(y) * got.im.width + x) * 3];
          ASSERT_EQ(PixelAt(got.get(), x, y), (Rgba{r[0], r[1], r[2], 255})) << x << "," << y;
        }
      // What was cut is missing from the picture.
      Loaded full;
      ASSERT_EQ(LoadBytes(c.name == "cut60.jpg" ? baseline : progressive, full.get()), 0);
      EXPECT_NE(std::memcmp(full.im.pixels, got.im.pixels, static_cast<size_t>(got.im.pitch) * got.im.height), 0);
    } else {
      log.Clear();
      ASSERT_EQ(LoadBaseImageNoAlpha(nullptr, c.whole.data(), c.whole.size(), 1, want.get(), 0), 0);
      EXPECT_EQ(log.Debug(), "");
      ExpectSamePixels(got.get(), want.get(), c.name);
    }
  }
}

// Files a loader finds inconsistent are damaged: refused with a line naming
// them, and offered to no other loader. A PNG whose image data fails its
// check is damaged even when each chunk's checksum is right (the damage came
// before the checksums), whether the check fails in the chunk of the last
// rows or in a chunk of its own; a text chunk with a wrong checksum costs
// nothing.
TEST(IncompleteFiles, DamagedFilesAreRefused) {
  testsupport::LogCapture log;
  std::vector<std::pair<std::string, Bytes>> damaged;
  BmpSpec rle_in_24;
  rle_in_24.width = 6;
  rle_in_24.height = 4;
  rle_in_24.bits = 24;
  rle_in_24.compression = 1;
  for (int y = 0; y < 4; ++y) rle_in_24.rows.push_back(Bytes(18, static_cast<uint8_t>(y * 40)));
  damaged.push_back({"rle8_in_24.bmp", MakeBmp(rle_in_24)});

  PngSpec p;
  p.width = 9;
  p.height = 7;
  p.compression_level = 0;
  const Bytes png = WritePng(p);
  std::vector<PngChunk> chunks = PngChunks(png);
  Bytes idat;
  for (const PngChunk& c : chunks)
    if (c.type == "IDAT") idat.insert(idat.end(), c.data.begin(), c.data.end());
  // The last pixel byte, stored as it is before the stream's own check.
  idat[idat.size() - 5] ^= 0x5A;
  std::vector<PngChunk> one{chunks.front(), {"IDAT", idat}, chunks.back()};
  damaged.push_back({"deflate_one_chunk.png", PngFile(one)});
  std::vector<PngChunk> split{chunks.front(), {"IDAT", Head(idat, idat.size() - 4)},
                              {"IDAT", Bytes(idat.end() - 4, idat.end())}, chunks.back()};
  damaged.push_back({"deflate_check_alone.png", PngFile(split)});

  for (const auto& [name, data] : damaged) {
    WriteFile(name, data);
    Loaded l;
    log.Clear();
    EXPECT_EQ(LoadBaseImageNoAlpha(name.c_str(), nullptr, 0, 0, l.get(), 0), kImageDamaged) << name;
    EXPECT_EQ(l.im.pixels, nullptr);
    EXPECT_EQ(LinesWith(log.Debug(), testsupport::Sjis("画像ファイル " + name + " は壊れています")), 1)
        << name << ": " << log.Debug();
  }

  std::vector<PngChunk> text = chunks;
  text.insert(text.begin() + 1, PngChunk{"tEXt", Bytes{'k', 0, 'v'}});
  Bytes bad_text = PngFile(text);
  bad_text[33 + 12 + 3 - 1] ^= 1;  // the text chunk's checksum
  Loaded whole, with_text;
  ASSERT_EQ(LoadBytes(png, whole.get()), 0);
  ASSERT_EQ(LoadBytes(bad_text, with_text.get()), 0);
  ExpectSamePixels(with_text.get(), whole.get(), "bad text checksum");
}

// Kinds of file a loader does not handle are not damaged: the walk goes on
// (to the movie path in the end). A lossless or 12-bit JPEG, a CMYK JPEG
// without its end marker, JPEG data inside a bitmap.
TEST(IncompleteFiles, KindsALoaderDoesNotHandleAreNotDamaged) {
  testsupport::LogCapture log;
  const Bytes jpeg = WriteJpeg(16, 16, 3, JCS_RGB, false);
  size_t sof = 0;
  while (sof + 1 < jpeg.size() && !(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0)) ++sof;
  ASSERT_LT(sof + 4, jpeg.size());
  Bytes lossless = jpeg;
  lossless[sof + 1] = 0xC3;
  Bytes twelve_bit = jpeg;
  twelve_bit[sof + 4] = 12;
  const Bytes cmyk = WriteJpeg(16, 16, 4, JCS_CMYK, false);
  BmpSpec s;
  s.width = 2;
  s.height = 2;
  s.compression = 4;
  s.rle = Bytes(jpeg);
  for (const auto& [name, data] : std::vector<std::pair<std::string, Bytes>>{
           {"lossless.jpg", lossless}, {"twelve_bit.jpg", twelve_bit},
           {"cmyk_no_eoi.jpg", Head(cmyk, cmyk.size() - 2)}, {"jpeg_in.bmp", MakeBmp(s)}}) {
    WriteFile(name, data);
    Loaded l;
    log.Clear();
    EXPECT_EQ(LoadBaseImageNoAlpha(name.c_str(), nullptr, 0, 0, l.get(), 0), -1) << name;
    EXPECT_EQ(log.Debug().find(testsupport::Sjis("壊れています")), std::string::npos) << name << ": " << log.Debug();
    EXPECT_NE(log.Debug(), "") << name;
  }
}

// A damaged alpha image leaves the main image loaded without it (result 1),
// with a line naming the alpha file; from memory as from files.
TEST(IncompleteFiles, DamagedAlphaImageIsLeftOut) {
  testsupport::LogCapture log;
  PngSpec p;
  const Bytes png = WritePng(p);
  const Bytes cut = Head(png, png.size() / 2);
  WriteFile("sheet.png", png);
  WriteFile("sheet_a.png", cut);
  Loaded image, alpha;
  EXPECT_EQ(LoadBaseImageFile("sheet.png", nullptr, 0, 0, nullptr, 0, 0, image.get(), alpha.get(), 0), 1);
  EXPECT_EQ(image.im.width, p.width);
  EXPECT_NE(image.im.pixels, nullptr);
  EXPECT_EQ(alpha.im.pixels, nullptr);
  EXPECT_GE(LinesWith(log.Debug(), "sheet_a.png"), 1) << log.Debug();
  Loaded image2, alpha2;
  log.Clear();
  EXPECT_EQ(LoadBaseImageFile(nullptr, png.data(), png.size(), 1, cut.data(), cut.size(), 1, image2.get(),
                              alpha2.get(), 0),
            1);
  EXPECT_NE(image2.im.pixels, nullptr);
  EXPECT_NE(log.Debug(), "");
}

// What a loader reads past is told in lines that name the file: a palette
// PNG whose transparency chunk fails its checksum (zeroed, or a byte of its
// data changed) loads opaque as libpng reads it, with one line saying so (one
// whose second transparency chunk libpng passes over keeps the first, with
// no line);
// extra compressed data after the image (the image data's zlib stream
// holding more than its rows) costs no pixel; a JPEG with stray bytes before
// its end marker loads whole, and libjpeg's warning names the file.
TEST(IncompleteFiles, WhatALoaderReadsPastIsNamed) {
  testsupport::LogCapture log;
  PngSpec p;
  p.width = 6;
  p.height = 3;
  p.colour_type = PNG_COLOR_TYPE_PALETTE;
  p.palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {200, 100, 0}};
  p.trns = {0, 128, 255, 64};
  const Bytes png = WritePng(p);
  std::vector<PngChunk> chunks = PngChunks(png);
  std::vector<PngChunk> without;
  size_t at = 8;  // where the transparency chunk starts
  for (const PngChunk& c : chunks) {
    if (c.type == "tRNS") break;
    at += 12 + c.data.size();
  }
  for (const PngChunk& c : chunks)
    if (c.type != "tRNS") without.push_back(c);
  ASSERT_LT(at, png.size());
  Loaded opaque;
  ASSERT_EQ(LoadBytes(PngFile(without), opaque.get()), 0);
  Bytes zeroed = png, changed = png;
  const size_t crc_at = at + 8 + p.trns.size();
  std::fill(zeroed.begin() + static_cast<long>(crc_at), zeroed.begin() + static_cast<long>(crc_at + 4), 0);
  changed[at + 9] ^= 0x40;
  for (const auto& [name, data] : {std::pair<std::string, Bytes>{"trns_crc0.png", zeroed}, {"trns_byte.png", changed}}) {
    WriteFile(name, data);
    Loaded got;
    log.Clear();
    ASSERT_EQ(LoadBaseImageNoAlpha(name.c_str(), nullptr, 0, 0, got.get(), 0), 0) << name;
    EXPECT_EQ(std::count(log.Debug().begin(), log.Debug().end(), '\n'), 1) << log.Debug();
    EXPECT_EQ(LinesWith(log.Debug(), name + testsupport::Sjis(" はtRNSチャンクが壊れています")), 1) << log.Debug();
    ExpectSamePixels(got.get(), opaque.get(), name);
  }
  // A second tRNS is passed over with a warning, but the first is kept: the
  // picture keeps its transparency and no line says otherwise.
  std::vector<PngChunk> twice;
  for (const PngChunk& c : chunks) {
    twice.push_back(c);
    if (c.type == "tRNS") twice.push_back(c);
  }
  WriteFile("trns_twice.png", PngFile(twice));
  {
    Loaded got, want;
    log.Clear();
    ASSERT_EQ(LoadBaseImageNoAlpha("trns_twice.png", nullptr, 0, 0, got.get(), 0), 0);
    EXPECT_EQ(log.Debug(), "");
    ASSERT_EQ(LoadBytes(png, want.get()), 0);
    ExpectSamePixels(got.get(), want.get(), "trns_twice.png");
  }

  PngSpec q;
  q.width = 9;
  q.height = 7;
  const Bytes plain = WritePng(q);
  Loaded want;
  ASSERT_EQ(LoadBytes(plain, want.get()), 0);
  chunks = PngChunks(plain);
  Bytes rows;
  for (const PngChunk& c : chunks)
    if (c.type == "IDAT") rows.insert(rows.end(), c.data.begin(), c.data.end());
  uLongf size = q.height * (q.width * 3 + 1) + 64;
  Bytes inflated(size);
  ASSERT_EQ(uncompress(inflated.data(), &size, rows.data(), rows.size()), Z_OK);
  inflated.resize(size);
  inflated.insert(inflated.end(), 40, 0x11);  // more rows than the picture has
  uLongf packed_size = compressBound(inflated.size());
  Bytes packed(packed_size);
  ASSERT_EQ(compress(packed.data(), &packed_size, inflated.data(), inflated.size()), Z_OK);
  packed.resize(packed_size);
  {
    Loaded got;
    ASSERT_EQ(LoadBytes(PngFile({chunks.front(), {"IDAT", packed}, chunks.back()}), got.get()), 0);
    ExpectSamePixels(got.get(), want.get(), "extra compressed data");
  }

  Bytes jpeg = WriteJpeg(16, 16, 3, JCS_RGB, false);
  jpeg.insert(jpeg.end() - 2, {0x00, 0x00});
  WriteFile("stray.jpg", jpeg);
  Loaded got;
  log.Clear();
  ASSERT_EQ(LoadBaseImageNoAlpha("stray.jpg", nullptr, 0, 0, got.get(), 0), 0);
  const int lines = static_cast<int>(std::count(log.Debug().begin(), log.Debug().end(), '\n'));
  EXPECT_GE(lines, 1);
  EXPECT_EQ(LinesWith(log.Debug(), "stray.jpg"), lines) << log.Debug();
}

// Run-length data that writes past a row's end, or past the picture, or that
// leaves codes once every row is done and before the end marker, is not the
// picture's: an 8-bit bitmap of plain rows whose compression field says RLE8
// (ImageMagick's), and TGA packets running past the last pixel, are refused
// as damaged. Runs may
// cover a row's padding up to its 4-byte boundary, as ImageMagick writes.
TEST(IncompleteFiles, RunsPastTheirRowOrPictureAreDamage) {
  testsupport::LogCapture log;
  std::ifstream in(RORUD_SOURCE_DIR "/tests/lib/image/data/bmp3_8.bmp", std::ios::binary);
  Bytes plain_as_rle((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(plain_as_rle.size(), 54u);
  plain_as_rle[30] = 1;
  std::vector<uint32_t> palette(256, 0x102030);
  BmpSpec past_row;
  past_row.width = 4;
  past_row.height = 2;
  past_row.bits = 8;
  past_row.compression = 1;
  past_row.palette = palette;
  past_row.rle = {0x04, 0x07, 0x00, 0x00, 0x05, 0x08, 0x00, 0x01};
  BmpSpec left_over = past_row;
  left_over.rle = {0x04, 0x07, 0x00, 0x00, 0x04, 0x08, 0x00, 0x00, 0x02, 0x09, 0x00, 0x01};
  const Bytes tga = MakeTga(10, 3, 2, 24, 0x20, {}, 0, 0, Bytes{0x83, 1, 2, 3, 0x82, 4, 5, 6}, false);
  for (const auto& [name, data] : std::vector<std::pair<std::string, Bytes>>{
           {"plain_as_rle8.bmp", plain_as_rle}, {"run_past_row.bmp", MakeBmp(past_row)},
           {"rle_left_over.bmp", MakeBmp(left_over)}, {"packet_past_picture.tga", tga}}) {
    WriteFile(name, data);
    Loaded l;
    log.Clear();
    EXPECT_EQ(LoadBaseImageNoAlpha(name.c_str(), nullptr, 0, 0, l.get(), 0), kImageDamaged) << name;
    EXPECT_EQ(LinesWith(log.Debug(), testsupport::Sjis("画像ファイル " + name + " は壊れています")), 1)
        << name << ": " << log.Debug();
  }
  for (int bits : {8, 4}) {
    BmpSpec padded = past_row;
    padded.width = 3;
    padded.bits = bits;
    padded.compression = bits == 8 ? 1 : 2;
    padded.palette.resize(size_t{1} << bits);
    const uint8_t row_end = bits == 8 ? 4 : 8;
    padded.rle = {row_end, 0x12, 0x00, 0x00};
    if (bits == 8) {
      padded.rle.insert(padded.rle.end(), {0x00, 0x03, 0x34, 0x56, 0x78, 0x00, 0x00, 0x01});
    } else {
      padded.rle.insert(padded.rle.end(), {0x00, 0x04, 0x34, 0x56, 0x00, 0x01});
    }
    Loaded l;
    ASSERT_EQ(LoadBytes(MakeBmp(padded), l.get()), 0) << bits;
    const uint8_t bottom8[3] = {0x12, 0x12, 0x12}, bottom4[3] = {1, 2, 1}, top8[3] = {0x34, 0x56, 0x78},
                  top4[3] = {3, 4, 5};
    EXPECT_EQ(std::memcmp(l.im.pixels + l.im.pitch, bits == 8 ? bottom8 : bottom4, 3), 0);
    EXPECT_EQ(std::memcmp(l.im.pixels, bits == 8 ? top8 : top4, 3), 0);
    padded.rle[0] = static_cast<uint8_t>(row_end + 1);
    Loaded past;
    EXPECT_EQ(LoadBytes(MakeBmp(padded), past.get()), kImageDamaged) << bits;
  }
  // Past the end marker the picture is whole: a profile or appended data
  // there is not leftover codes.
  std::ifstream rle_in(RORUD_SOURCE_DIR "/tests/lib/image/data/bmp3_rle8.bmp", std::ios::binary);
  Bytes appended((std::istreambuf_iterator<char>(rle_in)), std::istreambuf_iterator<char>());
  appended.insert(appended.end(), 16, 0xA5);
  Loaded whole;
  EXPECT_EQ(LoadBytes(appended, whole.get()), 0);
  // Nor are more ends of line after the last row, before the end marker.
  BmpSpec lines = past_row;
  lines.rle = {0x04, 0x07, 0x00, 0x00, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
  Loaded ended;
  ASSERT_EQ(LoadBytes(MakeBmp(lines), ended.get()), 0);
  EXPECT_EQ(ended.im.pixels[0], 0x08);  // the top row, written last
}

// A picture over the 1 GiB pixel limit is too large, not damaged, and goes to
// no other loader: a whole grey PNG of 33,000 x 33,000 pixels (its image data
// need not be read to know), and a DXT1 picture whose blocks fit the limit.
TEST(IncompleteFiles, PicturesOverThePixelLimitAreTooLarge) {
  testsupport::LogCapture log;
  PngSpec p;
  p.width = 1;
  p.height = 1;
  p.colour_type = PNG_COLOR_TYPE_GRAY;
  std::vector<PngChunk> chunks = PngChunks(WritePng(p));
  const uint32_t side = 33000;
  for (int i = 0; i < 4; ++i) {
    chunks.front().data[i] = static_cast<uint8_t>(side >> (24 - 8 * i));
    chunks.front().data[4 + i] = static_cast<uint8_t>(side >> (24 - 8 * i));
  }
  // As much data as deflate needs at the least for the rows.
  chunks[1].data.resize((uint64_t{side} + 1) * side / 1032 + 1);
  WriteFile("huge.png", PngFile(chunks));
  Loaded l;
  errno = 0;
  EXPECT_EQ(LoadBaseImageNoAlpha("huge.png", nullptr, 0, 0, l.get(), 0), kImageTooLarge);
  EXPECT_EQ(errno, EFBIG);
  EXPECT_EQ(l.im.pixels, nullptr);
  EXPECT_EQ(LinesWith(log.Debug(), testsupport::Sjis("画像ファイル huge.png は大きすぎます")), 1) << log.Debug();
  EXPECT_EQ(log.Debug().find(testsupport::Sjis("壊れています")), std::string::npos) << log.Debug();

  // A DXT1 picture of 16,384 x 16,416 holds 128 MiB of blocks, but the 32-bit
  // form it is drawn from passes the limit: too large, before its blocks are
  // read (the file is sparse).
  const Bytes dds = MakeDds(16384, 16416, 0x1007, 0, 0, 0x4, "DXT1", 0, 0, nullptr, 0, {});
  WriteFile("huge.dds", dds);
  std::filesystem::resize_file("huge.dds", dds.size() + uint64_t{16384 / 4} * (16416 / 4) * 8);
  log.Clear();
  Loaded d;
  errno = 0;
  EXPECT_EQ(LoadBaseImageNoAlpha("huge.dds", nullptr, 0, 0, d.get(), 0), kImageTooLarge);
  EXPECT_EQ(errno, EFBIG);
  EXPECT_EQ(LinesWith(log.Debug(), testsupport::Sjis("画像ファイル huge.dds は大きすぎます")), 1) << log.Debug();
  std::filesystem::remove("huge.dds");
}

}  // namespace
