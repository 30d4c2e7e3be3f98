// The model tables stay empty through start, device loss and restore and end.
#include <gtest/gtest.h>

#include "graphic_support.h"
#include "lib/core/memory.h"
#include "lib/graphics/model_tables.h"

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

}  // namespace
