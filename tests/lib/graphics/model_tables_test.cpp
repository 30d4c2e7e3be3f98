// The model tables stay empty through start, device loss and restore and end.
#include <gtest/gtest.h>

#include "graphic_support.h"
#include "lib/core/memory.h"
#include "lib/graphics/model_tables.h"
#include "lib/image/base_image.h"
#include "lib/image/image_load.h"
#include "tests/support/log_capture.h"

namespace {

using gtest_graphic::GraphicTest;

class ModelTables : public GraphicTest {
 protected:
  void TearDown() override {
    DeleteAllModelRecords();
    ModelSystem() = ModelSystemState{};
    GraphicTest::TearDown();
  }
};

TEST_F(ModelTables, StartsOnceInDirect3DModeAndEndsOnce) {
  ModelSystem() = ModelSystemState{};
  EXPECT_EQ(InitModelSystem(), 0);
  EXPECT_EQ(ModelSystem().initialised, 1);
  // A second start leaves the tables as they are.
  ModelSystem().models.length = 3;
  EXPECT_EQ(InitModelSystem(), 0);
  EXPECT_EQ(ModelSystem().models.length, 3);
  ModelSystem().models.length = 0;
  ModelSystem().second.records = static_cast<void**>(TrackedAlloc(16, __FILE__, __LINE__));
  ModelSystem().extra_block = TrackedAlloc(16, __FILE__, __LINE__);
  EXPECT_EQ(DeleteAllModelRecords(), 0);
  EXPECT_EQ(ModelSystem().initialised, 0);
  EXPECT_EQ(ModelSystem().second.records, nullptr);
  EXPECT_EQ(ModelSystem().extra_block, nullptr);
  EXPECT_EQ(DeleteAllModelRecords(), 0);
}

TEST_F(ModelTables, SoftwareModeNeverStartsTheTables) {
  ModelSystem() = ModelSystemState{};
  GraphicsDevice().direct3d_mode = 0;
  EXPECT_EQ(InitModelSystem(), 0);
  GraphicsDevice().direct3d_mode = 1;
  EXPECT_EQ(ModelSystem().initialised, 0);
  // The end then has nothing to do.
  ModelSystem().extra_block = reinterpret_cast<void*>(1);
  EXPECT_EQ(DeleteAllModelRecords(), 0);
  EXPECT_EQ(ModelSystem().extra_block, reinterpret_cast<void*>(1));
  ModelSystem().extra_block = nullptr;
}

TEST_F(ModelTables, DeviceRestoreWithNoModelsLeavesNothingBehind) {
  ModelSystem() = ModelSystemState{};
  ASSERT_EQ(InitModelSystem(), 0);
  const int objects = plat::LiveDirect3DObjectCount();
  EXPECT_EQ(RestoreGraphicsDeviceDefault(), 0);
  EXPECT_EQ(plat::LiveDirect3DObjectCount(), objects);
  EXPECT_EQ(ModelSystem().initialised, 1);
  EXPECT_EQ(ModelSystem().bases.in_use, 0);
  EXPECT_EQ(ModelSystem().models.in_use, 0);
  for (int h : ModelSystem().default_textures) EXPECT_EQ(h, 0);
  EXPECT_EQ(RestoreModelTextures(), 0);
  EXPECT_EQ(SetupAllModelMeshBuffers(), 0);
  EXPECT_EQ(ReleaseModelDeviceObjects(), 0);
}

TEST_F(ModelTables, DefaultTextureImagesAndTheirRewrite) {
  // The embedded files decode to their pictures.
  struct Expect {
    int size, width;
    uint32_t colours[4];
  } expect[2] = {{84, 8, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}},
                 {172, 256, {0x000000, 0x555555, 0xAAAAAA, 0xFFFFFF}}};
  for (int i = 0; i < 2; ++i) {
    const EmbeddedImageFile file = ModelDefaultImageFile(i);
    ASSERT_EQ(file.size, expect[i].size);
    BaseImage image{}, alpha{};
    ASSERT_GE(LoadBaseImageFile(nullptr, file.data, size_t(file.size), 1, nullptr, 0, 1, &image, &alpha, 0), 0);
    ASSERT_EQ(image.width, expect[i].width);
    ASSERT_EQ(image.height, 8);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < image.width; ++x) {
        int r, g, b, a;
        GetBaseImagePixelColor(&image, x, y, &r, &g, &b, &a);
        const uint32_t want = expect[i].colours[x * 4 / image.width] & 0xFFFFFF;
        ASSERT_EQ(uint32_t(r << 16 | g << 8 | b), want) << i << " " << x << "," << y;
      }
    FreeBaseImagePixels(&image);
  }
  BaseImage ramp{};
  ASSERT_EQ(MakeGreyRampImage(&ramp), 0);
  for (int x : {0, 1, 128, 255}) {
    int r, g, b, a;
    GetBaseImagePixelColor(&ramp, x, 7, &r, &g, &b, &a);
    EXPECT_EQ(r, x);
    EXPECT_EQ(g, x);
    EXPECT_EQ(b, x);
  }
  FreeBaseImagePixels(&ramp);

  // With the handles at 0 every rewrite is refused in silence; the
  // conversion setting comes back as it was.
  ModelSystem() = ModelSystemState{};
  GraphicsConfig().image_convert = 0;
  const int allocations = GetAllocationCount();
  testsupport::LogCapture log;
  EXPECT_EQ(RestoreModelTextures(), 0);
  EXPECT_EQ(log.Debug(), "");
  EXPECT_EQ(GetAllocationCount(), allocations);
  EXPECT_EQ(GraphicsConfig().image_convert, 0);

  // A default texture that exists takes its picture.
  const int white = MakeGraphic(8, 8);
  ASSERT_NE(white, -1);
  ModelSystem().default_textures[0] = white;
  EXPECT_EQ(RestoreModelTextures(), 0);
  ASSERT_EQ(DrawGraphicAt(100, 100, white, 0), 0);
  const gtest_graphic::Picture shot = Screenshot();
  EXPECT_EQ(shot.at(100, 100), 0xFFFFFFFFu);
  EXPECT_EQ(shot.at(107, 107), 0xFFFFFFFFu);
  EXPECT_EQ(shot.at(108, 108), 0xFF000000u);
}

}  // namespace
