// Soft-image handles: deletion, stale and foreign handles, the high-water
// mark and the delete-all loop.
#include "lib/softrender/soft_image.h"

#include <gtest/gtest.h>

#include "lib/core/handle_table.h"

namespace {

int AddOne() {
  BaseImage image{};
  EXPECT_EQ(CreateXrgb8BaseImage(4, 4, &image), 0);
  const int handle = AddSoftImage(&image);
  EXPECT_EQ(image.pixels, nullptr);  // taken over
  return handle;
}

TEST(SoftImages, DeleteRefusesForeignAndStaleHandles) {
  DeleteAllSoftImages();
  const int h = AddOne();
  ASSERT_NE(h, -1);
  EXPECT_EQ(HandleKind(h), kHandleKindSoftImage);
  EXPECT_EQ(DeleteSoftImageHandle(kHandleKindGraphic | HandleSlot(h) | (h & kHandleCheckField)), -1);
  EXPECT_EQ(DeleteSoftImageHandle(-1), -1);
  EXPECT_EQ(DeleteSoftImageHandle(MakeHandle(kHandleKindSoftImage, HandleCheck(h) + 1, HandleSlot(h))), -1);
  EXPECT_EQ(DeleteSoftImageHandle(MakeHandle(kHandleKindSoftImage, 0, 9000)), -1);
  EXPECT_EQ(GetSoftImageCount(), 1);
  EXPECT_EQ(DeleteSoftImageHandle(h), 0);
  EXPECT_EQ(DeleteSoftImageHandle(h), -1);
  EXPECT_EQ(GetSoftImageCount(), 0);
  EXPECT_EQ(GetSoftImageHighWater(), 0);
}

TEST(SoftImages, HighWaterMarkFollowsTheHighestLiveSlot) {
  DeleteAllSoftImages();
  const int a = AddOne(), b = AddOne(), c = AddOne();
  EXPECT_EQ(GetSoftImageHighWater(), 3);
  EXPECT_EQ(DeleteSoftImageHandle(b), 0);  // below the highest: the mark stays
  EXPECT_EQ(GetSoftImageHighWater(), 3);
  EXPECT_EQ(DeleteSoftImageHandle(c), 0);  // the highest: down past the hole
  EXPECT_EQ(GetSoftImageHighWater(), 1);
  EXPECT_NE(SoftImageHandleToRecord(a), nullptr);
  const int d = AddOne(), e = AddOne();
  EXPECT_EQ(DeleteAllSoftImages(), 0);
  EXPECT_EQ(GetSoftImageCount(), 0);
  EXPECT_EQ(GetSoftImageHighWater(), 0);
  EXPECT_EQ(SoftImageHandleToRecord(a), nullptr);
  EXPECT_EQ(SoftImageHandleToRecord(d), nullptr);
  EXPECT_EQ(SoftImageHandleToRecord(e), nullptr);
}

}  // namespace
