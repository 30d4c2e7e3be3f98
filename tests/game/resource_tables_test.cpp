// The file and cut tables: every cut inside its sheet, every row once, loops
// closed.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "game/objects/resource_tables.h"

namespace {

std::vector<const SheetDef*> AllSheets() {
  std::vector<const SheetDef*> all;
  for (const SheetDef& s : kCommonSheets) all.push_back(&s);
  for (const SheetDef& s : kPlayerSheets) all.push_back(&s);
  for (const SheetDef& s : kPartnerSheets) all.push_back(&s);
  for (const SheetDef& s : kStageSheetsA) all.push_back(&s);
  for (const SheetDef& s : kStageSheetsB) all.push_back(&s);
  all.push_back(&kBootSheet);
  all.push_back(&kTitleSheet);
  return all;
}

TEST(ResourceTables, TwentyThreeDistinctImageFiles) {
  std::set<std::string> files;
  for (const SheetDef* s : AllSheets()) files.insert(s->file);
  EXPECT_EQ(files.size(), 23u);
}

TEST(ResourceTables, EveryCutLiesInsideItsSheet) {
  for (const SheetDef* s : AllSheets()) {
    const CutList& list = kCutGroups[s->cuts];
    for (int i = 0; i < list.count; ++i) {
      const CutDef& c = list.cuts[i];
      EXPECT_GE(c.x, 0) << s->file << " row " << c.row;
      EXPECT_GE(c.y, 0) << s->file << " row " << c.row;
      EXPECT_GT(c.w, 0);
      EXPECT_GT(c.h, 0);
      EXPECT_LE(c.x + c.w, s->width) << s->file << " row " << c.row;
      EXPECT_LE(c.y + c.h, s->height) << s->file << " row " << c.row;
    }
    // Power-of-two canvases.
    EXPECT_EQ(s->width & (s->width - 1), 0) << s->file;
    EXPECT_EQ(s->height & (s->height - 1), 0) << s->file;
  }
}

TEST(ResourceTables, RowsAreUniqueAndAnimationsLinkWithinTheirGroup) {
  std::map<int, int> owner;  // row -> group
  const int sizes[kCutGroupCount] = {64, 16, 160, 37, 48, 25, 2, 27, 7, 10, 8, 10, 0};
  for (int g = 0; g < kCutGroupCount; ++g) {
    const CutList& list = kCutGroups[g];
    EXPECT_EQ(list.count, sizes[g]) << "group " << g;
    std::set<int> rows;
    for (int i = 0; i < list.count; ++i) {
      rows.insert(list.cuts[i].row);
      EXPECT_TRUE(owner.emplace(list.cuts[i].row, g).second) << "row " << list.cuts[i].row;
      // Sheet rows are never cut rows.
      EXPECT_TRUE(list.cuts[i].row < 5 || list.cuts[i].row > 16) << list.cuts[i].row;
    }
    for (int i = 0; i < list.count; ++i) {
      const CutDef& c = list.cuts[i];
      if (c.frames_per_step > 0) { EXPECT_TRUE(rows.count(c.next)) << "row " << c.row; }
    }
  }
}

TEST(ResourceTables, SpotChecksAgainstTheLayout) {
  auto find = [](CutGroup g, int row) {
    const CutList& list = kCutGroups[g];
    for (int i = 0; i < list.count; ++i) {
      if (list.cuts[i].row == row) return list.cuts[i];
    }
    return CutDef{-1, 0, 0, 0, 0, 0, 0};
  };
  const CutDef a = find(kCutsBullets, 244 + 4 * 11 + 2);  // loop 11, frame 2
  EXPECT_EQ(a.x, 128 * 1 + 64);
  EXPECT_EQ(a.y, 160);
  const CutDef b = find(kCutsBullets, 180 + 4 * 5 + 3);  // small loop 5, frame 3
  EXPECT_EQ(b.x, 64 * 2 + 48);
  EXPECT_EQ(b.y, 16);
  EXPECT_EQ(b.next, 180 + 4 * 5);
  const CutDef c = find(kCutsEnemy1, 100);
  EXPECT_EQ(c.x, 336);
  EXPECT_EQ(c.y, 144);
  EXPECT_EQ(c.next, 97);
  const CutDef d = find(kCutsExplosions, 389);
  EXPECT_EQ(d.frames_per_step, 0);
  const CutDef e = find(kCutsPanel, 514);
  EXPECT_EQ(e.w, 35);
  EXPECT_EQ(e.h, 6);
  EXPECT_EQ(kSoundEffectFiles[25], nullptr);
  EXPECT_STREQ(kSoundEffectFiles[30], "se/mt1.wav");
}

}  // namespace
