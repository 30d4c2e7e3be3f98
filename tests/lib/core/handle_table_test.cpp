#include "lib/core/handle_table.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct Rec {
  int value = 0;
};

// Static tables are constant-initialised (no start-up order to worry about).
constinit HandleTable<Rec, 32768> g_static_table(kHandleKindGraphic);

TEST(HandleWord, LayoutAndHelpers) {
  EXPECT_EQ(MakeHandle(kHandleKindGraphic, 0, 0), 0x08000000);
  EXPECT_EQ(MakeHandle(kHandleKindSound, 2047, 0xFFFF), 0x17FFFFFF);
  EXPECT_EQ(MakeHandle(kHandleKindIndexBuffer, 5, 3), 0x78050003);
  const int32_t h = MakeHandle(kHandleKindLight, 1234, 4095);
  EXPECT_GT(h, 0);
  EXPECT_EQ(HandleKind(h), kHandleKindLight);
  EXPECT_EQ(HandleCheck(h), 1234);
  EXPECT_EQ(HandleSlot(h), 4095);
}

TEST(HandleTable, FirstHandlesAndLookup) {
  Rec a, b;
  EXPECT_EQ(g_static_table.Add(&a), 0x08000000);
  EXPECT_EQ(g_static_table.Add(&b), 0x08010001);
  EXPECT_EQ(g_static_table.Find(0x08000000), &a);
  EXPECT_EQ(g_static_table.Find(0x08010001), &b);
  EXPECT_EQ(g_static_table.Count(), 2);
  EXPECT_EQ(g_static_table.HighWater(), 2);
  EXPECT_EQ(g_static_table.Remove(0x08000000), &a);
  EXPECT_EQ(g_static_table.Remove(0x08010001), &b);
  EXPECT_EQ(g_static_table.Count(), 0);
  EXPECT_EQ(g_static_table.HighWater(), 0);
}

TEST(HandleTable, CheckRefusesBadHandles) {
  auto table = std::make_unique<HandleTable<Rec, 100>>(kHandleKindMovie);
  Rec a;
  const int32_t h = table->Add(&a);
  ASSERT_EQ(h, 0x18000000);
  EXPECT_EQ(table->Find(-1), nullptr);
  EXPECT_EQ(table->Find(h | static_cast<int32_t>(0x80000000)), nullptr);
  EXPECT_EQ(table->Find((h & ~kHandleKindField) | kHandleKindGraphic), nullptr);
  EXPECT_EQ(table->Find(MakeHandle(kHandleKindMovie, 0, 100)), nullptr);      // out of range
  EXPECT_EQ(table->Find(MakeHandle(kHandleKindMovie, 0, 0xFFFF)), nullptr);
  EXPECT_EQ(table->Find(MakeHandle(kHandleKindMovie, 1, 1)), nullptr);        // empty slot
  EXPECT_EQ(table->Find(MakeHandle(kHandleKindMovie, 1, 0)), nullptr);        // wrong check
  EXPECT_EQ(table->Find(h), &a);
  // A refused remove changes nothing.
  EXPECT_EQ(table->Remove(MakeHandle(kHandleKindMovie, 1, 0)), nullptr);
  EXPECT_EQ(table->Count(), 1);
  EXPECT_EQ(table->Remove(h), &a);
  EXPECT_EQ(table->Remove(h), nullptr);  // twice: refused
  EXPECT_EQ(table->Add(nullptr), kNoHandle);
}

TEST(HandleTable, StaleHandleAfterReuseAndCheckWrap) {
  auto table = std::make_unique<HandleTable<Rec, 16>>(kHandleKindSound);
  Rec a, b;
  const int32_t first = table->Add(&a);
  ASSERT_EQ(table->Remove(first), &a);
  const int32_t second = table->Add(&b);
  EXPECT_EQ(HandleSlot(second), HandleSlot(first));
  EXPECT_NE(second, first);
  EXPECT_EQ(table->Find(first), nullptr);
  EXPECT_EQ(table->Find(second), &b);
  table->Remove(second);
  // 2046 more creations: the 2049th gets check word 0 again and the handle
  // kept from the first creation passes once more.
  int32_t h = kNoHandle;
  for (int i = 0; i < 2047; ++i) {
    h = table->Add(&a);
    ASSERT_EQ(HandleCheck(h), (i + 2) % 2048);
    if (i < 2046) table->Remove(h);
  }
  EXPECT_EQ(h, first);
  EXPECT_EQ(table->Find(first), &a);
  EXPECT_EQ(table->CheckCounter(), 1);
}

TEST(HandleTable, HighWaterRule) {
  auto table = std::make_unique<HandleTable<Rec, 4>>(kHandleKindLight);
  Rec r[4];
  int32_t h[4];
  for (int i = 0; i < 3; ++i) h[i] = table->Add(&r[i]);
  EXPECT_EQ(table->HighWater(), 3);
  // Deleting below the top keeps the level; the next record takes the level.
  table->Remove(h[1]);
  EXPECT_EQ(table->HighWater(), 3);
  h[3] = table->Add(&r[3]);
  EXPECT_EQ(HandleSlot(h[3]), 3);
  EXPECT_EQ(table->HighWater(), 4);
  // The level is at the capacity: the lowest free slot is taken.
  const int32_t again = table->Add(&r[1]);
  EXPECT_EQ(HandleSlot(again), 1);
  EXPECT_TRUE(table->IsFull());
  EXPECT_EQ(table->Add(&r[1]), kNoHandle);
  // Deleting the top drops the level past every empty slot below it.
  table->Remove(again);
  table->Remove(h[2]);
  EXPECT_EQ(table->HighWater(), 4);
  table->Remove(h[3]);
  EXPECT_EQ(table->HighWater(), 1);
  table->Remove(h[0]);
  EXPECT_EQ(table->HighWater(), 0);
  EXPECT_EQ(table->Count(), 0);
}

TEST(HandleTable, LowestFreeRule) {
  auto table = std::make_unique<HandleTable<Rec, 3>>(kHandleKindFont, HandleSlotRule::kLowestFree);
  Rec r[3];
  int32_t h[3];
  for (int i = 0; i < 3; ++i) h[i] = table->Add(&r[i]);
  EXPECT_EQ(table->Add(&r[0]), kNoHandle);
  table->Remove(h[1]);
  const int32_t reused = table->Add(&r[1]);
  EXPECT_EQ(HandleSlot(reused), 1);
  EXPECT_EQ(HandleCheck(reused), 3);  // the next check value, not the old one
  EXPECT_EQ(table->Find(h[1]), nullptr);
}

TEST(HandleTable, RecreationKeepsHandle) {
  auto table = std::make_unique<HandleTable<Rec, 32768>>(kHandleKindSound);
  Rec a, b, c;
  table->Add(&c);
  const int32_t h = table->Add(&a);
  ASSERT_EQ(table->Remove(h), &a);
  const int32_t counter = table->CheckCounter();
  // Same slot and check word, counter untouched.
  EXPECT_EQ(table->AddWithHandle(h, &b), h);
  EXPECT_EQ(table->Find(h), &b);
  EXPECT_EQ(table->CheckCounter(), counter);
  EXPECT_EQ(table->HighWater(), 2);
  // Occupied slot, -1, or a handle of another kind: an ordinary add.
  const int32_t other = table->AddWithHandle(h, &a);
  EXPECT_NE(other, h);
  EXPECT_EQ(HandleSlot(other), 2);
  EXPECT_EQ(HandleKind(table->AddWithHandle(-1, &a)), kHandleKindSound);
  EXPECT_EQ(HandleKind(table->AddWithHandle(MakeHandle(kHandleKindFont, 9, 40), &a)),
            kHandleKindSound);
  EXPECT_EQ(table->Count(), 5);
  // A far slot raises the level to one past it.
  const int32_t far = MakeHandle(kHandleKindSound, 77, 1000);
  EXPECT_EQ(table->AddWithHandle(far, &c), far);
  EXPECT_EQ(table->HighWater(), 1001);
}

TEST(HandleTable, AddAtGivenSlot) {
  auto table = std::make_unique<HandleTable<Rec, 40>>(kHandleKindFont, HandleSlotRule::kLowestFree);
  Rec a, b;
  EXPECT_EQ(table->AddAt(5, 300, &a), MakeHandle(kHandleKindFont, 300, 5));
  EXPECT_EQ(table->AddAt(5, 301, &b), kNoHandle);   // occupied
  EXPECT_EQ(table->AddAt(40, 0, &b), kNoHandle);    // out of range
  EXPECT_EQ(table->AddAt(6, 2048, &b), kNoHandle);  // not a check word
  EXPECT_EQ(table->CheckCounter(), 0);
  EXPECT_EQ(table->HighWater(), 6);
  EXPECT_EQ(table->HandleAt(5), MakeHandle(kHandleKindFont, 300, 5));
  EXPECT_EQ(table->HandleAt(4), kNoHandle);
  EXPECT_EQ(table->HandleAt(-3), kNoHandle);
}

TEST(HandleTable, DeleteAllLoopAndOddCapacity) {
  // The network table has 8193 slots: slot 8192 is valid.
  auto table = std::make_unique<HandleTable<Rec, 8193>>(kHandleKindNetwork);
  std::vector<Rec> recs(8193);
  int32_t last = kNoHandle;
  for (auto& r : recs) last = table->Add(&r);
  EXPECT_EQ(HandleSlot(last), 8192);
  EXPECT_EQ(table->Find(last), &recs.back());
  // Delete-all as the kinds do it: re-read the level after each deletion.
  for (int32_t i = 0; i < table->HighWater(); ++i) {
    if (table->At(i) != nullptr) {
      ASSERT_NE(table->Remove(table->HandleAt(i)), nullptr);
    }
  }
  EXPECT_EQ(table->Count(), 0);
  EXPECT_EQ(table->HighWater(), 0);
}

}  // namespace
