// The mask hooks keep their state although no mask screen is ever made.
#include <gtest/gtest.h>

#include <cstring>

#include "lib/core/memory.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/mask.h"

namespace {

class MaskHooks : public ::testing::Test {
 protected:
  void SetUp() override {
    Mask() = MaskState{};
    std::memset(MaskRecords(), 0, sizeof(MaskRecord) * kMaskRecordCount);
  }
  void TearDown() override { SetUp(); }
};

TEST_F(MaskHooks, BracketsNestAndADrawLeavesTheDepthWhereItWas) {
  const DrawSettings kept = Draw();
  const int clip[4] = {3, 1, 8, 6};
  std::memcpy(Draw().clip, clip, sizeof clip);
  EXPECT_EQ(PrepareMaskedDraw(0, 0, 10, 10), 0);
  EXPECT_EQ(Mask().nesting, 1);
  // The outermost bracket's rectangle, clipped to the clip rectangle.
  EXPECT_EQ(Mask().area.left, 3);
  EXPECT_EQ(Mask().area.top, 1);
  EXPECT_EQ(Mask().area.right, 8);
  EXPECT_EQ(Mask().area.bottom, 6);
  // A draw that itself brackets (text made of glyph draws, say).
  EXPECT_EQ(PrepareMaskedDraw(4, 2, 5, 4), 0);
  EXPECT_EQ(Mask().nesting, 2);
  EXPECT_EQ(Mask().area.left, 3);
  Draw() = kept;
  EXPECT_EQ(ApplyMaskScreenToRect(2, 2, 4, 4), 0);
  EXPECT_EQ(Mask().nesting, 1);
  EXPECT_EQ(ApplyMaskScreenToRect(0, 0, 10, 10), 0);
  EXPECT_EQ(Mask().nesting, 0);
}

TEST_F(MaskHooks, UnmatchedCloseKeepsTheDepthAtZero) {
  EXPECT_EQ(ApplyMaskScreenToRect(0, 0, 1, 1), 0);
  EXPECT_EQ(Mask().nesting, 0);
  PrepareMaskedDraw(0, 0, 1, 1);
  EXPECT_EQ(Mask().nesting, 1);
  ApplyMaskScreenToRect(0, 0, 1, 1);
  EXPECT_EQ(Mask().nesting, 0);
}

TEST_F(MaskHooks, DrawTargetUpdateFailsWithoutAMaskBitmapAndChangesNothing) {
  SetMaskScreenUseFlag(1);
  EXPECT_EQ(UpdateMaskDrawTarget(0), -1);
  EXPECT_EQ(UpdateMaskDrawTarget(1), -1);
  EXPECT_EQ(GetMaskScreenUseFlag(), 1);
  // Without a mask screen the use flag alone does not put masks in use.
  EXPECT_EQ(Mask().in_use, 0);
  SetMaskScreenUseFlag(0);
  EXPECT_EQ(GetMaskScreenUseFlag(), 0);
}

TEST_F(MaskHooks, ScreenReleaseRestoreAndEndSucceedWithNothingMade) {
  SetMaskScreenUseFlag(1);
  EXPECT_EQ(CreateMaskScreenTextures(0), 0);
  EXPECT_EQ(ReleaseMaskScreen(), 0);
  EXPECT_EQ(RestoreMaskScreen(), 0);
  EXPECT_EQ(Mask().bitmap, nullptr);
  Mask().pending_flush = 1;
  EXPECT_EQ(ApplyPendingMaskRect(), 0);
  EXPECT_EQ(Mask().pending_flush, 0);
  EXPECT_EQ(EndMaskScreen(), 0);
  EXPECT_EQ(Mask().screen_made, 0);
  EXPECT_EQ(Mask().in_use, 0);
  // The caller's wish survives the end of the screen.
  EXPECT_EQ(GetMaskScreenUseFlag(), 1);
}

TEST_F(MaskHooks, ReleaseFreesABitmapWhenOneExists) {
  Mask().bitmap = static_cast<uint8_t*>(TrackedAlloc(64, __FILE__, __LINE__));
  EXPECT_EQ(ReleaseMaskScreen(), 0);
  EXPECT_EQ(Mask().bitmap, nullptr);
  EXPECT_EQ(ReleaseMaskScreen(), 0);
}

TEST_F(MaskHooks, ReleaseFreesASoftwareMaskImageWhenOneExists) {
  ASSERT_EQ(CreateMemImg(&Mask().image, 8, 8, kMemImgByte), 0);
  EXPECT_EQ(ReleaseMaskScreen(), 0);
  EXPECT_EQ(IsValidMemImg(&Mask().image), 0);
  EXPECT_EQ(ReleaseMaskScreen(), 0);
}

TEST_F(MaskHooks, DeleteAllOnTheEmptyTableDoesNothing) {
  EXPECT_EQ(DeleteAllMaskHandles(), 0);
  for (int i = 0; i < kMaskRecordCount; ++i) EXPECT_EQ(MaskRecords()[i].in_use, 0);
}

TEST_F(MaskHooks, DeleteRejectsWrongKindSlotCheckOrAFreeRecord) {
  const int good = int(kMaskHandleKind | (5u << 16) | 7u);
  EXPECT_EQ(DeleteMaskHandle(-1), -1);
  EXPECT_EQ(DeleteMaskHandle(good), -1);  // record 7 is free
  MaskRecord& r = MaskRecords()[7];
  r.check = 5;
  r.in_use = 1;
  r.data = TrackedAlloc(16, __FILE__, __LINE__);
  EXPECT_EQ(DeleteMaskHandle(int(0x50000000u | (5u << 16) | 7u)), -1);  // model kind
  EXPECT_EQ(DeleteMaskHandle(int(kMaskHandleKind | (6u << 16) | 7u)), -1);  // stale check
  EXPECT_EQ(DeleteMaskHandle(int(kMaskHandleKind | (5u << 16) | 512u)), -1);  // past the table
  EXPECT_EQ(DeleteMaskHandle(good), 0);
  EXPECT_EQ(r.in_use, 0);
  EXPECT_EQ(r.data, nullptr);
  EXPECT_EQ(DeleteMaskHandle(good), -1);
}

TEST_F(MaskHooks, DeleteAllFreesEveryRecordInUse) {
  for (int slot : {0, 300, 511}) {
    MaskRecord& r = MaskRecords()[slot];
    r.check = uint32_t(slot & 0x7FF);
    r.in_use = 1;
    r.data = TrackedAlloc(8, __FILE__, __LINE__);
  }
  EXPECT_EQ(DeleteAllMaskHandles(), 0);
  for (int slot : {0, 300, 511}) {
    EXPECT_EQ(MaskRecords()[slot].in_use, 0);
    EXPECT_EQ(MaskRecords()[slot].data, nullptr);
  }
}

}  // namespace
