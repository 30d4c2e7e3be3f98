// tests/lib/graphics/shortage_test.cpp - graphics from files too large for the
// memory left, loaded in a child process under an address-space limit: the
// load gives -1 and a log line, the process goes on, and nothing aborts.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "lib/sound/movie.h"
#include "tests/lib/graphics/graphic_support.h"
#include "tests/support/address_limit.h"
#include "tests/support/log_capture.h"
#include "tests/support/theora_writer.h"

#if RORUD_ADDRESS_LIMIT_WORKS

namespace {

void WriteBytes(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A run-length coded 24-bit TGA of one grey, 128-pixel runs.
std::string GreyTga(int width, int height) {
  std::string tga(18, '\0');
  tga[2] = 10;  // run-length true colour
  tga[12] = char(width & 255);
  tga[13] = char(width >> 8);
  tga[14] = char(height & 255);
  tga[15] = char(height >> 8);
  tga[16] = 24;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; x += 128) tga += std::string{char(0x80 | 127), '\x60', '\x60', '\x60'};
  return tga;
}

class GraphicShortage : public gtest_graphic::GraphicTest {
 protected:
  void SetUp() override {
    capture_ = std::make_unique<testsupport::LogCapture>();
    InitializeYuvTables();
    GraphicTest::SetUp();
  }
  void TearDown() override {
    GraphicTest::TearDown();
    capture_.reset();
  }

  // Loads the file in a child held to 32 MiB more than it has: 0 when the
  // load gave -1 and wrote to the log, 2 when it gave a handle, 3 when it
  // logged nothing.
  int LoadUnderLimit(const char* file) {
    capture_->Clear();
    return testsupport::RunWithAddressLimit(32 << 20, [this, file] {
      if (LoadGraphicFromFile(file, 0) != -1) return 2;
      return capture_->Debug().empty() ? 3 : 0;
    });
  }
  std::unique_ptr<testsupport::LogCapture> capture_;
};

TEST_F(GraphicShortage, An8192By4320MovieGivesMinusOne) {
  testsupport::MovieSpec spec;
  spec.width = 8192;
  spec.height = 4320;
  spec.frames = 1;
  WriteBytes("big.ogg", testsupport::MakeOggMovie(spec));
  EXPECT_EQ(LoadUnderLimit("big.ogg"), 0);
  EXPECT_EQ(GetMovieCount(), 0);
}

// A 32 x 32 H.264 movie whose sequence header was rewritten to declare
// 65535 x 65535 macroblocks (1048560 x 1048560 pixels) while its container
// still says 32 x 32: refused at the probe, before any frame is sized.
TEST_F(GraphicShortage, AnMp4DeclaringAHugeFrameGivesMinusOne) {
  const std::string file = RORUD_SOURCE_DIR "/tests/lib/graphics/data/huge_frame.mp4";
  EXPECT_EQ(LoadUnderLimit(file.c_str()), 0);
  EXPECT_EQ(GetMovieCount(), 0);
}

TEST_F(GraphicShortage, A4096By4096ImageGivesMinusOne) {
  WriteBytes("big.tga", GreyTga(4096, 4096));
  EXPECT_EQ(LoadUnderLimit("big.tga"), 0);
  // With the memory there, the same file loads.
  const int handle = LoadGraphicFromFile("big.tga", 0);
  EXPECT_NE(handle, -1);
}

}  // namespace

#endif
