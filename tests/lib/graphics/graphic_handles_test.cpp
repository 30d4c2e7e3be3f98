// Graphic handles, texture sets, loading, derived graphics and the restore
// of a lost device.
#include <cmath>

#include "lib/core/handle_table.h"
#include "tests/lib/graphics/graphic_support.h"

namespace {

using gtest_graphic::EncodePng;
using gtest_graphic::GraphicTest;
using gtest_graphic::Pattern;
using gtest_graphic::Picture;
using gtest_graphic::WriteFile;

using GraphicHandles = GraphicTest;

TEST_F(GraphicHandles, HandleWordsCheckValuesAndStaleHandles) {
  int counter = GetGraphicCheckCounter(), slot = GetGraphicHighWater();
  int h = AddGraphicHandle();
  EXPECT_EQ(h, MakeHandle(kHandleKindGraphic, counter, slot));
  if (counter == 0 && slot == 0) { EXPECT_EQ(h, 0x08000000); }
  EXPECT_EQ(DeleteGraphic(h), 0);
  // The slot comes back with the next check word: the old handle is stale.
  int again = AddGraphicHandle();
  EXPECT_EQ(HandleSlot(again), HandleSlot(h));
  EXPECT_NE(again, h);
  EXPECT_EQ(IsGraphicHandleValid(h), 0);
  EXPECT_EQ(DeleteGraphic(h), -1);
  EXPECT_EQ(GetGraphicSize(h, nullptr, nullptr), -1);
  EXPECT_EQ(DrawGraphicAt(0, 0, h, 0), -1);
  EXPECT_EQ(DeleteGraphic(again), 0);
  // Foreign kinds and negative words are refused too.
  EXPECT_EQ(IsGraphicHandleValid(-1), 0);
  EXPECT_EQ(IsGraphicHandleValid(MakeHandle(kHandleKindSound, HandleCheck(again), HandleSlot(again))), 0);
  // The check word wraps after 2047.
  int first = AddGraphicHandle();
  int check = HandleCheck(first);
  DeleteGraphic(first);
  for (int i = 0; i < 2047; i++) DeleteGraphic(AddGraphicHandle());
  int wrapped = AddGraphicHandle();
  EXPECT_EQ(HandleCheck(wrapped), check);
  DeleteGraphic(wrapped);
}

TEST_F(GraphicHandles, HighWaterLevelFollowsTheTopSlot) {
  int base = GetGraphicHighWater();
  int a = AddGraphicHandle(), b = AddGraphicHandle(), c = AddGraphicHandle();
  EXPECT_EQ(GetGraphicHighWater(), base + 3);
  DeleteGraphic(b);  // below the top: the level stays, the next takes the level
  EXPECT_EQ(GetGraphicHighWater(), base + 3);
  int d = AddGraphicHandle();
  EXPECT_EQ(HandleSlot(d), base + 3);
  DeleteGraphic(d);
  DeleteGraphic(c);  // the top: the level drops past the free slot of b
  EXPECT_EQ(GetGraphicHighWater(), base + 1);
  int lost = -5;
  SetGraphicLostFlag(a, &lost);
  EXPECT_EQ(lost, 0);
  DeleteGraphic(a);
  EXPECT_EQ(lost, 1);
}

TEST_F(GraphicHandles, TextureSidesAreCutIntoPowersOfTwo) {
  int out[16];
  ASSERT_EQ(SplitTextureSide(640, out, 0, 1), 2);
  EXPECT_EQ(out[0], 512);
  EXPECT_EQ(out[1], 128);
  ASSERT_EQ(SplitTextureSide(480, out, 0, 1), 1);
  EXPECT_EQ(out[0], 512);
  ASSERT_EQ(SplitTextureSide(5, out, 0, 1), 1);
  EXPECT_EQ(out[0], 8);
  GraphicsConfig().single_texture = 1;
  ASSERT_EQ(SplitTextureSide(640, out, 0, 1), 1);
  EXPECT_EQ(out[0], 1024);
  GraphicsConfig().single_texture = 0;
  // Sides that are not refused as exact sizes are taken as they are.
  ASSERT_EQ(SplitTextureSide(300, out, 1, 0), 1);
  EXPECT_EQ(out[0], 300);
  // Wider than the device limit: more than one texture of at most 2048.
  int n = SplitTextureSide(3000, out, 0, 1);
  int sum = 0;
  for (int i = 0; i < n; i++) {
    EXPECT_LE(out[i], 2048);
    sum += out[i];
  }
  EXPECT_GE(sum, 3000);
}

TEST_F(GraphicHandles, TiledPngLoadsAndDrawsSeamlessly) {
  Picture p = Pattern(640, 480, false, 7);
  WriteFile("tiled.png", EncodePng(p, false));
  int h = LoadGraphicFromFile("tiled.png", 0);
  ASSERT_NE(h, -1);
  GraphicRecord* r = GraphicHandleToRecord(h);
  ASSERT_EQ(r->set->tile_count, 2);
  EXPECT_EQ(r->set->tiles[0].texture_width, 512);
  EXPECT_EQ(r->set->tiles[0].used_width, 512);
  EXPECT_EQ(r->set->tiles[0].used_height, 480);
  EXPECT_EQ(r->set->tiles[1].x, 512);
  EXPECT_EQ(r->set->tiles[1].texture_width, 128);
  EXPECT_EQ(r->set->tiles[1].used_width, 128);
  EXPECT_EQ(r->entry_count, 2);
  ASSERT_EQ(DrawGraphicAt(0, 0, h, 0), 0);
  Picture shot = Screenshot();
  int wrong = 0;
  for (int y = 0; y < 480; y++)
    for (int x = 0; x < 640; x++) wrong += shot.at(x, y) != p.at(x, y);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(DeleteGraphic(h), 0);
}

TEST_F(GraphicHandles, BlackBecomesTransparentInAPngWithoutAlpha) {
  Picture p = Pattern(16, 16, false, 3);
  p.at(2, 3) = 0xFF000000u;
  WriteFile("keyed.png", EncodePng(p, false));
  int h = LoadGraphicFromFile("keyed.png", 0);
  ASSERT_NE(h, -1);
  GraphicTile& t = GraphicHandleToRecord(h)->set->tiles[0];
  EXPECT_EQ(t.surface->ReadPixel(2, 3) >> 24, 0u);
  EXPECT_EQ(t.surface->ReadPixel(3, 3) >> 24, 255u);
  // A transparent draw leaves the keyed pixel's background.
  DrawFilledBox(0, 0, 640, 480, GetColorCode(0, 0, 255));
  DrawGraphicAt(100, 100, h, 1);
  Picture shot = Screenshot();
  EXPECT_EQ(shot.at(102, 103), 0xFF0000FFu);
  EXPECT_EQ(shot.at(103, 103), p.at(3, 3));
  DeleteGraphic(h);
}

TEST_F(GraphicHandles, DerivedGraphicsShareTheSheetAndOutliveIt) {
  Picture p = Pattern(64, 64, false, 11);
  WriteFile("sheet.png", EncodePng(p, false));
  int sheet = LoadGraphicFromFile("sheet.png", 0);
  ASSERT_NE(sheet, -1);
  int part = DeriveGraphic(40, 0, 48, 48, sheet);
  ASSERT_NE(part, -1);
  int w = 0, h = 0;
  GetGraphicSize(part, &w, &h);
  EXPECT_EQ(w, 24);
  EXPECT_EQ(h, 48);
  EXPECT_EQ(GraphicHandleToRecord(part)->set, GraphicHandleToRecord(sheet)->set);
  ImageSourceRecord* source = GraphicHandleToRecord(sheet)->source;
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(GraphicHandleToRecord(part)->source, source);
  EXPECT_EQ(source->reference_count, 2);
  EXPECT_EQ(GraphicHandleToRecord(part)->source_x, 40);
  EXPECT_EQ(DeriveGraphic(64, 0, 48, 48, sheet), -1);
  // An empty rectangle leaves no handle behind.
  int count = GetGraphicCount();
  EXPECT_EQ(DeriveGraphic(0, 0, 0, 48, sheet), -1);
  EXPECT_EQ(DeriveGraphic(0, 0, 48, -1, sheet), -1);
  EXPECT_EQ(GetGraphicCount(), count);
  // Loading the same file again gives a set of its own.
  int second = LoadGraphicFromFile("sheet.png", 0);
  EXPECT_NE(GraphicHandleToRecord(second)->set, GraphicHandleToRecord(sheet)->set);
  DeleteGraphic(second);
  EXPECT_EQ(DeleteGraphic(sheet), 0);
  ASSERT_EQ(IsGraphicHandleValid(part), 1);
  EXPECT_EQ(GraphicHandleToRecord(part)->set->reference_count, 1u);
  EXPECT_EQ(source->reference_count, 1);
  ASSERT_EQ(DrawGraphicAt(10, 10, part, 0), 0);
  Picture shot = Screenshot();
  int wrong = 0;
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 24; x++) wrong += shot.at(10 + x, 10 + y) != p.at(40 + x, y);
  EXPECT_EQ(wrong, 0);
  DeleteGraphic(part);
}

TEST_F(GraphicHandles, MissingAndUnreadableFilesFailWithTheirLines) {
  EXPECT_EQ(LoadGraphicFromFile("nothing-here.png", 0), -1);
  WriteFile("not-an-image.png", std::vector<uint8_t>(100, 0x5A));
  int count = GetGraphicCount();
  EXPECT_EQ(LoadGraphicFromFile("not-an-image.png", 0), -1);
  EXPECT_EQ(GetGraphicCount(), count);
}

TEST_F(GraphicHandles, RestoreLoadsASheetOnceForAllItsParts) {
  Picture p = Pattern(480, 480, false, 5);
  WriteFile("restore.png", EncodePng(p, false));
  int sheet = LoadGraphicFromFile("restore.png", 0);
  ASSERT_NE(sheet, -1);
  std::vector<int> parts;
  for (int i = 0; i < 100; i++) parts.push_back(DeriveGraphic((i % 10) * 48, (i / 10) * 48, 48, 48, sheet));
  int loads = GetRestoreFileLoadCount();
  RestoreAllGraphics();
  EXPECT_EQ(GetRestoreFileLoadCount() - loads, 1);
  for (int h : parts) DeleteGraphic(h);
  DeleteGraphic(sheet);
}

// Draws a scene of a loaded sheet, a derived part and a memory image.
Picture DrawScene(int sheet, int part, int memory) {
  ClearDrawTarget(nullptr);
  DrawGraphicAt(5, 5, sheet, 0);
  DrawGraphicRotated(300, 200, 1.0, 0.5, part, 1, 0);
  SetBlendModeParam(1, 128);
  DrawGraphicStretched(400, 300, 500, 350, memory, 1);
  SetBlendModeParam(0, 0);
  DrawFilledBox(600, 10, 630, 40, GetColorCode(10, 200, 30));
  return GraphicTest::Screenshot();
}

TEST_F(GraphicHandles, DeviceLossRebuildKeepsEveryHandle) {
  Picture p = Pattern(128, 96, false, 9);
  WriteFile("scene.png", EncodePng(p, false));
  int sheet = LoadGraphicFromFile("scene.png", 0);
  int part = DeriveGraphic(16, 16, 48, 48, sheet);
  std::vector<uint8_t> png = EncodePng(Pattern(32, 32, true, 4), true);
  int memory = ImageToGraphicWithOptions(png.data(), int(png.size()), nullptr, 0, 0, 0);
  int empty = MakeGraphic(20, 20);
  ASSERT_NE(sheet, -1);
  ASSERT_NE(part, -1);
  ASSERT_NE(memory, -1);
  ASSERT_NE(empty, -1);
  Picture before = DrawScene(sheet, part, memory);
  GraphicsDevice().device->SimulateDeviceLoss();
  // The activation finds the device lost and rebuilds it.
  OnActivateApp(1);
  ASSERT_NE(GraphicsDevice().device, nullptr);
  EXPECT_FALSE(GraphicsDevice().device->IsLost());
  for (int h : {sheet, part, memory, empty}) EXPECT_EQ(IsGraphicHandleValid(h), 1);
  EXPECT_EQ(GetDrawTarget(), -2);
  Picture after = DrawScene(sheet, part, memory);
  int wrong = 0;
  for (size_t i = 0; i < before.argb.size(); i++) wrong += before.argb[i] != after.argb[i];
  EXPECT_EQ(wrong, 0);
  DeleteAllGraphics();
  EXPECT_EQ(IsGraphicHandleValid(sheet), 0);
}

TEST_F(GraphicHandles, DrawTargetTwoDCamera) {
  ASSERT_EQ(SetDrawTarget(-2), 0);
  const DrawSettings& ds = Draw();
  float d = float(double(240) / 0.5773502588272095);
  EXPECT_NEAR(d, 415.69f, 0.01f);
  EXPECT_FLOAT_EQ(ds.proj_near, d * 0.1f);
  EXPECT_FLOAT_EQ(ds.proj_far, d + 20000.0f);
  // The view matrix moves the eye (320, 240, -d) to the origin.
  EXPECT_FLOAT_EQ(ds.view.m[12], -320.0f);
  EXPECT_FLOAT_EQ(ds.view.m[13], -240.0f);
  EXPECT_NEAR(ds.view.m[14], d, 0.001f);
  EXPECT_EQ(ds.area_width, 640);
  EXPECT_EQ(ds.clip[2], 640);
  // A graphic that is not drawable and stale handles are refused.
  int g = MakeGraphic(8, 8);
  EXPECT_EQ(SetDrawTarget(g), -1);
  EXPECT_EQ(SetDrawTarget(12345), -1);
  EXPECT_EQ(GetDrawTarget(), -2);
  DeleteGraphic(g);
  // A drawable graphic: draws land in it, then it can be drawn itself.
  GraphicsConfig().create_drawable = 1;
  int target = MakeGraphic(64, 32);
  GraphicsConfig().create_drawable = 0;
  ASSERT_NE(target, -1);
  ASSERT_EQ(SetDrawTarget(target), 0);
  EXPECT_EQ(Draw().area_width, 64);
  DrawFilledBox(0, 0, 64, 32, GetColorCode(255, 0, 0));
  ASSERT_EQ(SetDrawTarget(-2), 0);
  ClearDrawTarget(nullptr);
  DrawGraphicAt(10, 10, target, 0);
  Picture shot = Screenshot();
  EXPECT_EQ(shot.at(10, 10), 0xFFFF0000u);
  EXPECT_EQ(shot.at(73, 41), 0xFFFF0000u);
  EXPECT_EQ(shot.at(74, 41), 0xFF000000u);
  DeleteGraphic(target);
}

TEST_F(GraphicHandles, LightsAndTheirLimit) {
  int base = GetLightHighWater();
  int a = NewLightHandle(), b = NewLightHandle(), c = NewLightHandle();
  FreeLightHandle(c);
  EXPECT_EQ(GetLightHighWater(), base + 2);
  FreeLightHandle(b);
  FreeLightHandle(a);
  EXPECT_EQ(GetLightHighWater(), base);
  int l = CreateDirectionalLight(0, 3, 4);
  LightRecord* r = LightHandleToRecord(l);
  EXPECT_FLOAT_EQ(r->light.Direction.y, 0.6f);
  EXPECT_FLOAT_EQ(r->light.Direction.z, 0.8f);
  EXPECT_EQ(r->light.Type, 3u);
  // The table holds 4096; the next one is refused.
  std::vector<int> all;
  while (GetLightCount() < 4096) all.push_back(NewLightHandle());
  EXPECT_EQ(NewLightHandle(), -1);
  FreeAllLightHandles();
  EXPECT_EQ(GetLightCount(), 1);  // the default light stays
  EXPECT_NE(LightHandleToRecord(GetDefaultLightHandle()), nullptr);
}

}  // namespace
