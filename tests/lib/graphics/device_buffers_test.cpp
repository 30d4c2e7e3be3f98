// Vertex-buffer, index-buffer and shader handles (their system-memory copies
// outlive a lost device), the device-side light and material constants, and
// the small graphics operations around them.
#include <cstring>
#include <vector>

#include "lib/graphics/device_buffers.h"
#include "tests/lib/graphics/graphic_support.h"

namespace {

using gtest_graphic::EncodePng;
using gtest_graphic::GraphicTest;
using gtest_graphic::Pattern;
using gtest_graphic::Picture;

class DeviceBuffers : public GraphicTest {
 protected:
  // Restarts the graphics on a device that offers version 2.0 shaders with
  // hardware vertex processing (the packs are absent, so the fixed-function
  // path still draws, but buffers get their device objects).
  void RestartShaderCapable() {
    ShutdownGraphicsSystem();
    ResetGraphicsDeviceForTest();
    plat::D3DCAPS9 caps = plat::DefaultDeviceCaps();
    caps.VertexShaderVersion = 0xFFFE0200;
    caps.PixelShaderVersion = 0xFFFF0200;
    plat::SetDeviceCapsOverride(&caps);
    ASSERT_EQ(ConfigureScreenMode(640, 480, 32, 60), 0);
    ASSERT_EQ(GraphicsSystemStart(), 0);
    ASSERT_EQ(GraphicsDevice().vs20_usable, 1);
    ASSERT_EQ(SetDrawTarget(-2), 0);
  }
  static std::vector<uint8_t> DeviceBytes(const BufferRecord* r) {
    auto* vb = static_cast<plat::Direct3DVertexBuffer9*>(r->buffer);
    return std::vector<uint8_t>(vb->data(), vb->data() + size_t(r->element_size) * r->element_count);
  }
};

TEST_F(DeviceBuffers, UploadsReachTheCopyAndTheDeviceAndSurviveALoss) {
  RestartShaderCapable();
  int h = AddVertexBufferHandle(44, 20, 0);
  ASSERT_NE(h, -1);
  EXPECT_EQ(h & 0x78000000, 0x70000000);
  BufferRecord* r = VertexBufferHandleToRecord(h);
  ASSERT_NE(r, nullptr);
  ASSERT_NE(r->buffer, nullptr);
  std::vector<uint8_t> ten(10 * 44);
  for (size_t i = 0; i < ten.size(); i++) ten[i] = uint8_t(i * 7 + 1);
  ASSERT_EQ(SetVertexBufferData(10, ten.data(), 10, h), 0);
  std::vector<uint8_t> want(20 * 44, 0);
  memcpy(want.data() + 10 * 44, ten.data(), ten.size());
  EXPECT_EQ(std::vector<uint8_t>(r->data, r->data + want.size()), want);
  EXPECT_EQ(DeviceBytes(r), want);
  // Elements 15 to 24 do not fit; negative starts and counts are refused.
  EXPECT_EQ(SetVertexBufferData(15, ten.data(), 10, h), -1);
  EXPECT_EQ(SetVertexBufferData(-1, ten.data(), 2, h), -1);
  EXPECT_EQ(SetVertexBufferData(0, ten.data(), -1, h), -1);
  EXPECT_EQ(SetVertexBufferData(0x7FFFFFFF, ten.data(), 2, h), -1);
  EXPECT_EQ(DeviceBytes(r), want);
  // Lost: the device buffer goes, uploads still reach the copy.
  ReleaseAllTextures();
  EXPECT_EQ(r->buffer, nullptr);
  std::vector<uint8_t> two(2 * 44, 0xAB);
  EXPECT_EQ(SetVertexBufferData(0, two.data(), 2, h), 0);
  memcpy(want.data(), two.data(), two.size());
  // Rebuilt: made again from the copy.
  RecreateDeviceResources();
  ASSERT_NE(r->buffer, nullptr);
  EXPECT_EQ(DeviceBytes(r), want);
  // Index buffers behave alike.
  int ih = AddIndexBufferHandle(2, 6, 0);
  ASSERT_NE(ih, -1);
  uint16_t idx[3] = {1, 2, 3};
  EXPECT_EQ(SetIndexBufferData(3, idx, 3, ih), 0);
  EXPECT_EQ(SetIndexBufferData(4, idx, 3, ih), -1);
  EXPECT_EQ(SetVertexBufferData(0, idx, 1, ih), -1);  // the wrong kind
  EXPECT_EQ(memcmp(IndexBufferHandleToRecord(ih)->data + 6, idx, 6), 0);
  // Deleting every handle empties the table.
  int h2 = AddVertexBufferHandle(44, 3, 0);
  int h3 = AddVertexBufferHandle(44, 3, 0);
  EXPECT_EQ(DeleteVertexBufferHandle(h2), 0);
  EXPECT_EQ(DeleteVertexBufferHandle(h2), -1);
  EXPECT_EQ(GetVertexBufferHighWater(), 3);
  EXPECT_EQ(DeleteAllVertexBufferHandles(), 0);
  EXPECT_EQ(GetVertexBufferCount(), 0);
  EXPECT_EQ(GetVertexBufferHighWater(), 0);
  EXPECT_EQ(SetVertexBufferData(0, two.data(), 1, h3), -1);
  // The index buffer goes with the graphics system (the fixture's live-object
  // count proves its device buffer was released).
}

TEST_F(DeviceBuffers, WithoutShadersOnlyTheCopyIsKept) {
  int h = AddVertexBufferHandle(44, 4, 0);
  ASSERT_NE(h, -1);
  EXPECT_EQ(VertexBufferHandleToRecord(h)->buffer, nullptr);
  uint8_t bytes[44] = {5};
  EXPECT_EQ(SetVertexBufferData(3, bytes, 1, h), 0);
  EXPECT_EQ(VertexBufferHandleToRecord(h)->data[3 * 44], 5);
  EXPECT_EQ(AddVertexBufferHandle(0, 4, 0), -1);
  EXPECT_EQ(AddVertexBufferHandle(44, 0, 0), -1);
  EXPECT_EQ(AddVertexBufferHandle(0x10000, 0x10000, 0), -1);
  // Shader handles keep their byte code; this device makes no shader.
  uint32_t code[4] = {0xFFFE0200, 0, 0, 0x0000FFFF};
  int s = AddDeviceObjectHandle(1, code, sizeof(code));
  ASSERT_NE(s, -1);
  EXPECT_EQ(s & 0x78000000, 0x60000000);
  EXPECT_EQ(DeviceObjectHandleToRecord(s)->shader, nullptr);
  EXPECT_EQ(memcmp(DeviceObjectHandleToRecord(s)->code, code, sizeof(code)), 0);
  EXPECT_EQ(AddDeviceObjectHandle(1, code, 3), -1);
  EXPECT_EQ(DeleteDeviceObjectHandle(h), -1);
  EXPECT_EQ(DeleteAllShaderHandles(), 0);
  EXPECT_EQ(GetDeviceObjectCount(), 0);
  EXPECT_EQ(DeviceObjectHandleToRecord(s), nullptr);
  EXPECT_EQ(ReturnZero(), 0);
}

TEST_F(DeviceBuffers, LightAndMaterialConstants) {
  // Material diffuse 0.5 on every channel, ambient 0.25, emissive 0.1.
  float material[17] = {0.5f, 0.5f, 0.5f, 0.5f, 0.25f, 0.25f, 0.25f, 0.25f, 0, 0, 0, 0, 0.1f, 0.1f, 0.1f, 0.1f, 8};
  SetDeviceMaterial(material);
  SetDeviceAmbient(0xFF808080u);
  const float* global = StateCache().vertex_constants[1];
  EXPECT_FLOAT_EQ(global[0], 128.0f / 255.0f * 0.25f + 0.1f);
  EXPECT_FLOAT_EQ(StateCache().pixel_constants[1][3], 0.25f + 0.1f);
  // A view that moves everything by (10, 20, 30): light 0's position goes
  // to the shaders in view space.
  Matrix4 view;
  CreateIdentityMatrix(&view);
  view.m[12] = 10, view.m[13] = 20, view.m[14] = 30;
  SetViewMatrix(&view);
  plat::D3DLIGHT9 light{};
  light.Type = 1;
  light.Diffuse = {1.0f, 0.5f, 0.25f, 1.0f};
  light.Position = {1, 2, 3};
  light.Range = 4;
  EXPECT_EQ(SetDeviceLightAndEnable(0, 1, &light), 0);
  const float* pos = StateCache().vertex_constants[14];
  EXPECT_FLOAT_EQ(pos[0], 11.0f);
  EXPECT_FLOAT_EQ(pos[1], 22.0f);
  EXPECT_FLOAT_EQ(pos[2], 33.0f);
  EXPECT_FLOAT_EQ(pos[3], 1.0f);
  EXPECT_FLOAT_EQ(StateCache().vertex_constants[16][0], 16.0f);  // the range squared
  EXPECT_FLOAT_EQ(StateCache().vertex_constants[18][1], 0.25f);
  EXPECT_FLOAT_EQ(StateCache().pixel_constants[11][2], 0.125f);
  // The highest enabled index follows enabling and disabling.
  SetDeviceLightAndEnable(5, 1, &light);
  SetDeviceLightAndEnable(3, 1, &light);
  EXPECT_EQ(GetHighestEnabledDeviceLight(), 5);
  SetDeviceLightEnable(5, 0);
  EXPECT_EQ(GetHighestEnabledDeviceLight(), 3);
  SetDeviceLightEnable(3, 0);
  SetDeviceLightEnable(0, 0);
  EXPECT_EQ(GetHighestEnabledDeviceLight(), -1);
  EXPECT_EQ(SetDeviceLight(256, &light), -1);
  EXPECT_EQ(SetDeviceLightEnable(-1, 1), -1);
}

TEST_F(DeviceBuffers, SmallOperations) {
  // No multisampling is offered: any request comes down to none.
  int type = 4, quality = 3;
  EXPECT_EQ(ChooseMultiSampleType(&type, plat::D3DFMT_X8R8G8B8, &quality), 0);
  EXPECT_EQ(type, 0);
  EXPECT_EQ(quality, 0);
  SetGraphicsRestoreCallback(nullptr);
  EXPECT_EQ(IsRestoreCallbackSet(), 1);
  static_assert(sizeof(TextureFormatTable) == 18 * sizeof(plat::D3DFORMAT));
  // A rectangle of a sheet drawn stretched through a graphic made for it,
  // point-sampled under filter mode 0.
  SetDrawFilterMode(0);
  Picture p = Pattern(32, 32, false, 11);
  std::vector<uint8_t> png = EncodePng(p, false);
  int sheet = ImageToGraphicWithOptions(png.data(), int(png.size()), nullptr, 0, 0, 0);
  ASSERT_NE(sheet, -1);
  int count = GetGraphicCount();
  EXPECT_EQ(DrawFloatRectHelper(sheet, 8, 4, 10, 6, 100.0f, 50.0f, 120.0f, 62.0f, 0), 0);
  EXPECT_EQ(GetGraphicCount(), count);
  Picture shot = Screenshot();
  for (int y = 50; y < 62; y++)
    for (int x = 100; x < 120; x++) ASSERT_EQ(shot.at(x, y), p.at(8 + (x - 100) / 2, 4 + (y - 50) / 2) | 0xFF000000u);
  EXPECT_EQ(shot.at(120, 50), 0xFF000000u);
  // Filter mode 1 filters the same draw: pixels between texel centres mix
  // their neighbours and no longer repeat one texel.
  ClearDrawTarget(nullptr);
  SetDrawFilterMode(1);
  EXPECT_EQ(DrawFloatRectHelper(sheet, 8, 4, 10, 6, 100.0f, 50.0f, 120.0f, 62.0f, 0), 0);
  shot = Screenshot();
  int mixed = 0;
  for (int y = 51; y < 61; y++)
    for (int x = 101; x < 119; x++) mixed += shot.at(x, y) != (p.at(8 + (x - 100) / 2, 4 + (y - 50) / 2) | 0xFF000000u);
  EXPECT_GT(mixed, 100);
  SetDrawFilterMode(0);
  EXPECT_EQ(DrawFloatRectHelper(sheet, 32, 0, 4, 4, 0, 0, 4, 4, 0), -1);
  EXPECT_EQ(DrawFloatRectHelper(-1, 0, 0, 4, 4, 0, 0, 4, 4, 0), -1);
  DeleteGraphic(sheet);
}

}  // namespace
