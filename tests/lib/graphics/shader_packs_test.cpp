// Shader packs on the software device with its shader-2.0 setting: packs
// built here load and are indexed entry by entry, the device takes the two
// shaders it is tried with, the declarations have their layouts, a rebuild
// does not unpack again, and absent, damaged or unusable packs leave the
// fixed-function path with the right log lines.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "lib/core/pack_lz.h"
#include "lib/core/pack_writer.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "lib/graphics/shader_packs.h"
#include "platform/window/backend.h"
#include "platform/kernel/kernel.h"
#include "platform/d3d9/ddraw.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"

namespace {

using testsupport::LogCapture;
using testsupport::Sjis;
using testsupport::StripStamps;

using Bytes = std::vector<uint8_t>;
using Entries = std::map<std::pair<int, int>, Bytes>;

void Word(Bytes* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(uint8_t(v >> (8 * i)));
}

// Version 2.0 code whose comment carries a tag and filler words.
Bytes Code(bool vertex, uint32_t tag, int filler) {
  Bytes b;
  Word(&b, vertex ? 0xFFFE0200u : 0xFFFF0200u);
  Word(&b, 0xFFFEu | uint32_t(1 + filler) << 16);
  Word(&b, tag);
  for (int i = 0; i < filler; ++i) Word(&b, 0x01010101u * uint32_t(i));
  Word(&b, 0x0000FFFFu);
  return b;
}

Bytes Pack(int rows, int columns, const Entries& entries) {
  Bytes table, body;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      auto it = entries.find({r, c});
      const size_t n = it == entries.end() ? 0 : it->second.size();
      table.push_back(uint8_t(n));
      table.push_back(uint8_t(n >> 8));
      if (n) body.insert(body.end(), it->second.begin(), it->second.end());
    }
  table.insert(table.end(), body.begin(), body.end());
  return table;
}

Bytes Blob(const Bytes& main, const Bytes& mix) {
  PackNode root;
  root.folder = true;
  for (auto [name, bytes] : {std::pair{kMainPackName, &main}, std::pair{kMixPackName, &mix}}) {
    PackNode file;
    file.name = name;
    const auto block = EncodePackData(bytes->data(), bytes->size());
    file.data.assign(block.begin(), block.end());
    file.size = file.data.size();
    root.children.push_back(file);
  }
  PackOptions options;
  options.compress = false;
  std::stringstream archive(std::ios::in | std::ios::out | std::ios::binary);
  std::string error;
  EXPECT_EQ(WritePackArchive(root, options, archive, &error), 0) << error;
  const std::string s = archive.str();
  const auto block = EncodePackData(s.data(), s.size());
  return Bytes(block.begin(), block.end());
}

class ShaderPackStart : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::HeadlessReset(plat::VirtualDesktop{});
    ResetWindowSettings();
    ChangeWindowMode(1);
    plat::SetDeviceCapsOverride(nullptr);
    ResetGraphicsDeviceForTest();
    ResetRenderStateCache();
    plat::EnableVirtualClock(true);
    GraphicsConfig().hardware_allowed = 1;
    GraphicsConfig().vblank_wait_off = 1;
    baseline_ = plat::LiveDirect3DObjectCount();
    plat::SetShaderModel2Reported(true);
  }
  void TearDown() override {
    ShutdownGraphicsSystem();
    ResetGraphicsDeviceForTest();
    plat::SetShaderModel2Reported(false);
    plat::SetHardwareVertexProcessingFails(false);
    UseEmbeddedShaderPack();
    EXPECT_EQ(plat::LiveDirect3DObjectCount(), baseline_);
    ResetWindowSettings();
    plat::EnableVirtualClock(false);
  }
  // The log of a graphics start with the given pack (null: none).
  std::string Start(const Bytes* blob) {
    SetShaderPackForTest(blob ? blob->data() : nullptr, blob ? blob->size() : 0);
    LogCapture log;
    EXPECT_EQ(GraphicsSystemStart(), 0);
    EXPECT_EQ(GraphicsDevice().direct3d_mode, 1);
    return StripStamps(log.Debug());
  }
  static size_t Count(const std::string& text, const char* line) {
    const std::string needle = Sjis(line);
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
  }
  static Bytes Function(plat::Direct3DShaderCode* shader) {
    uint32_t size = 0;
    shader->GetFunction(nullptr, &size);
    Bytes b(size);
    shader->GetFunction(b.data(), &size);
    return b;
  }
  int baseline_ = 0;
};

TEST_F(ShaderPackStart, PacksAreIndexedAndTheDeviceTakesTheTestShaders) {
  Entries main_entries = {{{0, 0}, Code(true, 1, 0)},
                          {{5462, 2}, Code(true, 2, 5)},
                          {{16383, 5}, Code(true, 3, 1)},
                          {{16384 + 0, 0}, Code(false, 4, 2)},
                          {{16384 + 409, 0}, Code(false, 5, 0)},
                          {{16384 + 6911, 5}, Code(false, 6, 3)}};
  Entries mix_entries = {{{0, 0}, Code(false, 7, 0)}, {{63, 3}, Code(false, 8, 4)}};
  const Bytes blob = Blob(Pack(kVertexShaderRows + kPixelShaderRows, kShaderColumns, main_entries),
                          Pack(kMixShaderRows, kMixShaderColumns, mix_entries));
  const int decodes = ShaderPacks().decode_count;
  const std::string text = Start(&blob);
  EXPECT_EQ(Count(text, "プログラマブルシェーダーを使用します\r\n"), 1u) << text;
  ASSERT_EQ(GraphicsDevice().shaders_in_use, 1);
  EXPECT_EQ(ShaderPacks().decode_count, decodes + 1);

  const ShaderPackIndex& p = ShaderPacks();
  auto code_is = [](const uint8_t* code, const Bytes& want) {
    return code != nullptr && Bytes(code, code + want.size()) == want;
  };
  for (const auto& [at, bytes] : main_entries) {
    const uint8_t* code = at.first < kVertexShaderRows ? p.vertex_code[at.first][at.second]
                                                       : p.pixel_code[at.first - kVertexShaderRows][at.second];
    EXPECT_TRUE(code_is(code, bytes)) << at.first << "," << at.second;
  }
  EXPECT_EQ(p.vertex_code[0][1], nullptr);
  EXPECT_EQ(p.pixel_code[409][1], nullptr);
  EXPECT_TRUE(code_is(p.mix_code[63][3], mix_entries[std::pair(63, 3)]));
  EXPECT_EQ(p.mix_sizes[63][3], mix_entries[std::pair(63, 3)].size());
  EXPECT_EQ(p.mix_sizes[1][0], 0);

  // The two shaders the device was tried with hold their entries' code.
  ASSERT_NE(p.vertex_shaders[5462][2], nullptr);
  ASSERT_NE(p.pixel_shaders[409][0], nullptr);
  EXPECT_EQ(Function(p.vertex_shaders[5462][2]), main_entries[std::pair(5462, 2)]);
  EXPECT_EQ(Function(p.pixel_shaders[409][0]), main_entries[std::pair(16384 + 409, 0)]);
  float v0[4], p0[4];
  GraphicsDevice().device->GetVertexShaderConstantF(0, v0, 1);
  GraphicsDevice().device->GetPixelShaderConstantF(0, p0, 1);
  EXPECT_EQ(std::vector<float>(v0, v0 + 4), (std::vector<float>{0.0f, 1.0f, 0.0f, 0.0f}));
  EXPECT_EQ(std::vector<float>(p0, p0 + 4), (std::vector<float>{0.0f, 0.5f, 1.0f, 2.0f}));

  // Declarations: slot 0 is position, normal and two colours; slot 53 has
  // three normals, eight weights and eight extra coordinates.
  plat::D3DVERTEXELEMENT9 e[plat::kMaxDeclarationElements];
  uint32_t n = 0;
  ASSERT_NE(p.declarations[0], nullptr);
  p.declarations[0]->GetDeclaration(e, &n);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(e[3].Offset, 28);
  EXPECT_EQ(e[4].Stream, 0xFF);
  ASSERT_EQ(DeclarationSlot(1, 2, 8), 53);
  ASSERT_NE(p.declarations[53], nullptr);
  p.declarations[53]->GetDeclaration(e, &n);
  EXPECT_EQ(n, 19u);
  EXPECT_EQ(e[9].Offset, 92);  // the second colour
  EXPECT_EQ(e[17].Offset, 208);
  EXPECT_EQ(e[17].Usage, plat::D3DDECLUSAGE_TEXCOORD);
  EXPECT_EQ(e[17].UsageIndex, 7);
  for (int i = 0; i < kDeclarationCount; ++i) EXPECT_NE(p.declarations[i], nullptr) << i;
  ASSERT_NE(p.extra_declaration, nullptr);
  p.extra_declaration->GetDeclaration(e, &n);
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(e[5].Offset, 36);

  // A rebuilt device gets its shaders again from the packs already unpacked.
  plat::Direct3DVertexShader9* before = p.vertex_shaders[5462][2];
  GraphicsDevice().device->SimulateDeviceLoss();
  EXPECT_EQ(RestoreGraphicsDeviceDefault(), 0);
  EXPECT_EQ(ShaderPacks().decode_count, decodes + 1);
  EXPECT_EQ(GraphicsDevice().shaders_in_use, 1);
  ASSERT_NE(p.vertex_shaders[5462][2], nullptr);
  EXPECT_NE(p.vertex_shaders[5462][2], before);
  EXPECT_EQ(Function(p.vertex_shaders[5462][2]), main_entries[std::pair(5462, 2)]);
}

TEST_F(ShaderPackStart, SoftwareVertexProcessingNeverLoadsThePacks) {
  plat::SetHardwareVertexProcessingFails(true);
  const int decodes = ShaderPacks().decode_count;
  LogCapture log;
  ASSERT_EQ(GraphicsSystemStart(), 0);
  const std::string text = StripStamps(log.Debug());
  EXPECT_NE(text.find(Sjis("ソフトウエア頂点演算を使用します\r\n")), std::string::npos);
  EXPECT_EQ(Count(text, "プログラマブルシェーダーを使用しません\r\n"), 1u);
  EXPECT_EQ(ShaderPacks().decode_count, decodes);
  EXPECT_EQ(ShaderPacks().main_pack, nullptr);
  EXPECT_EQ(GraphicsDevice().brightness_volume, nullptr);
}

TEST_F(ShaderPackStart, AbsentDamagedAndUnusablePacksKeepTheFixedFunctionPath) {
  const char* kNone = "プログラマブルシェーダーを使用しません\r\n";
  const char* kMemory = "シェーダーコードを展開するメモリ領域の確保に失敗しました\r\n";
  // No packs in the build: no shaders, and no word of memory.
  std::string text = Start(nullptr);
  EXPECT_EQ(Count(text, kNone), 1u);
  EXPECT_EQ(Count(text, kMemory), 0u);
  EXPECT_EQ(GraphicsDevice().shaders_in_use, 0);
  ShutdownGraphicsSystem();
  ResetGraphicsDeviceForTest();
  ChangeWindowMode(1);

  // A size table that claims more code than the pack holds.
  Bytes main = Pack(kVertexShaderRows + kPixelShaderRows, kShaderColumns, {{{5462, 2}, Code(true, 1, 0)}});
  main[2 * (5462 * 6 + 2)] = 0xFF;
  const Bytes damaged = Blob(main, Pack(kMixShaderRows, kMixShaderColumns, {}));
  text = Start(&damaged);
  EXPECT_EQ(Count(text, kMemory), 1u);
  EXPECT_EQ(Count(text, kNone), 1u);
  EXPECT_EQ(ShaderPacks().main_pack, nullptr);
  EXPECT_EQ(ShaderPacks().vertex_code[5462][2], nullptr);
  ShutdownGraphicsSystem();
  ResetGraphicsDeviceForTest();
  ChangeWindowMode(1);

  // Packs without the pixel shader the device is tried with.
  const Bytes unusable =
      Blob(Pack(kVertexShaderRows + kPixelShaderRows, kShaderColumns, {{{5462, 2}, Code(true, 1, 0)}}),
           Pack(kMixShaderRows, kMixShaderColumns, {}));
  text = Start(&unusable);
  EXPECT_EQ(Count(text, kNone), 1u);
  EXPECT_EQ(Count(text, kMemory), 0u);
  EXPECT_EQ(GraphicsDevice().shaders_in_use, 0);
  EXPECT_NE(ShaderPacks().vertex_shaders[5462][2], nullptr);
  EXPECT_EQ(ShaderPacks().pixel_shaders[409][0], nullptr);
}

TEST_F(ShaderPackStart, TheBuiltInPacksCarryTheTestShaders) {
  UseEmbeddedShaderPack();
  ASSERT_NE(EmbeddedShaderPack().data, nullptr);
  LogCapture log;
  ASSERT_EQ(GraphicsSystemStart(), 0);
  EXPECT_EQ(GraphicsDevice().shaders_in_use, 1);
  EXPECT_NE(ShaderPacks().vertex_shaders[5462][2], nullptr);
  EXPECT_NE(ShaderPacks().pixel_shaders[409][0], nullptr);
  EXPECT_NE(ShaderPacks().mix_pack, nullptr);
}

// Lights of the shader path: turns every device light off, then enables
// `d` directional, `p` point and `s` spot lights on indexes from 0.
void EnableLights(int d, int p, int s) {
  while (GetHighestEnabledDeviceLight() >= 0) SetDeviceLightEnable(GetHighestEnabledDeviceLight(), 0);
  int index = 0;
  for (auto [type, n] : {std::pair{3u, d}, std::pair{1u, p}, std::pair{2u, s}})
    for (int i = 0; i < n; ++i) {
      plat::D3DLIGHT9 l{};
      l.Type = type;
      l.Range = 100.0f;
      SetDeviceLightAndEnable(index++, 1, &l);
    }
}

// The expected indexes are worked by hand from the selection rule
//   vertex = 8 x (s + 4 x (p + 4 x (d + 4 x (F + 8 x (A + 6 x L))))),
//   pixel  = 8 x (g(s) + 3 x (g(p) + 3 x (g(d) + 6 x (A + 4 x L)))),
// g(0) = 0, g(3) = 2, g(other) = 1; a count above 3 is a 3 in the vertex
// index only.
TEST_F(ShaderPackStart, ShaderIndexesFollowLightingFogAndLights) {
  UseEmbeddedShaderPack();
  LogCapture log;
  ASSERT_EQ(GraphicsSystemStart(), 0);
  ASSERT_EQ(GraphicsDevice().shaders_in_use, 1);
  EnableLights(0, 0, 0);
  SetLightingEnable(0);
  SetFogEnableState(0);
  SetFogModeState(0);
  const RenderStateCache& c = StateCache();
  auto indexes = [&c]() { return std::pair{c.vertex_shader_index, c.pixel_shader_index}; };
  EXPECT_EQ(indexes(), std::pair(0, 0));

  // Lighting on, no light: L = 1, A = 0.
  SetLightingEnable(1);
  EXPECT_EQ(indexes(), std::pair(24576, 1728));  // 8 x 3072, 8 x 216
  // Directional lights, one to five: L = 1, A = 1, F = 0.
  EnableLights(1, 0, 0);
  EXPECT_EQ(indexes(), std::pair(28800, 2232));  // 8 x 4 x 4 x (1 + 4 x 56); 8 x 3 x 3 x (1 + 30)
  EnableLights(2, 0, 0);
  EXPECT_EQ(indexes(), std::pair(28928, 2232));  // 8 x 16 x (2 + 224); g(2) = 1
  EnableLights(3, 0, 0);
  EXPECT_EQ(indexes(), std::pair(29056, 2304));  // 8 x 16 x 227; 8 x 9 x (2 + 30)
  EnableLights(4, 0, 0);
  EXPECT_EQ(indexes(), std::pair(29056, 2232));  // vertex digit 3; g(4) = 1
  EnableLights(5, 0, 0);
  EXPECT_EQ(indexes(), std::pair(29056, 2232));
  // One light of the other types.
  EnableLights(0, 1, 0);
  EXPECT_EQ(indexes(), std::pair(28704, 2184));  // 8 x 4 x (1 + 4 x 224); 8 x 3 x (1 + 90)
  EnableLights(0, 0, 1);
  EXPECT_EQ(indexes(), std::pair(28680, 2168));  // 8 x (1 + 4 x 3584); 8 x (1 + 270)
  EnableLights(0, 2, 0);
  EXPECT_EQ(indexes(), std::pair(28736, 2184));  // 8 x 4 x (2 + 896); g(2) = 1

  // Mixed types with each fog mode: d = 1, p = 2, s = 1; fog counts only
  // while it is on.
  EnableLights(1, 2, 1);
  SetFogModeState(1);
  EXPECT_EQ(indexes(), std::pair(28872, 2264));  // F = 0: 8 x (1 + 4 x (2 + 4 x (1 + 224))); 8 x 283
  SetFogEnableState(1);
  EXPECT_EQ(indexes(), std::pair(29384, 2264));  // F = 1: 8 x (1 + 4 x (2 + 4 x (1 + 4 x 57)))
  SetFogModeState(2);
  EXPECT_EQ(indexes(), std::pair(29896, 2264));  // F = 2: 8 x (1 + 4 x (2 + 4 x (1 + 4 x 58)))
  SetFogModeState(3);
  EXPECT_EQ(indexes(), std::pair(30408, 2264));  // F = 3: 8 x (1 + 4 x (2 + 4 x (1 + 4 x 59)))
  // Four point and three spot lights with linear fog: vertex p = 3, s = 3;
  // pixel g(4) = 1, g(3) = 2.
  EnableLights(0, 4, 3);
  EXPECT_EQ(indexes(), std::pair(30328, 2200));  // 8 x (3 + 4 x (3 + 4 x 236)); 8 x (2 + 3 x 91)
  // Lighting off leaves only the fog: no light counts, A = 0.
  SetLightingEnable(0);
  EXPECT_EQ(indexes(), std::pair(1536, 0));  // 8 x 64 x 3
  EnableLights(0, 0, 0);
}

plat::D3DLIGHT9 Light(uint32_t type, plat::D3DVECTOR position, plat::D3DVECTOR direction, float range,
                     plat::D3DVECTOR attenuation, float theta, float phi, float falloff) {
  plat::D3DLIGHT9 l{};
  l.Type = type;
  l.Diffuse = {0.2f, 0.4f, 0.6f, 1.0f};
  l.Position = position;
  l.Direction = direction;
  l.Range = range;
  l.Attenuation0 = attenuation.x;
  l.Attenuation1 = attenuation.y;
  l.Attenuation2 = attenuation.z;
  l.Theta = theta;
  l.Phi = phi;
  l.Falloff = falloff;
  return l;
}

// Registers 2-10, the light registers and the fog branches as the device
// holds them, against values worked by hand. The view takes (x, y, z) to
// (10 - y, 20 + x, 30 + 2z) and directions to (-y, x, 2z).
TEST_F(ShaderPackStart, LibraryConstantsReachTheDevice) {
  UseEmbeddedShaderPack();
  LogCapture log;
  ASSERT_EQ(GraphicsSystemStart(), 0);
  ASSERT_EQ(GraphicsDevice().shaders_in_use, 1);
  plat::Direct3DDevice9* d = GraphicsDevice().device;
  EnableLights(0, 0, 0);
  const float material[17] = {0.5f, 0.5f, 0.5f, 1.0f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  SetDeviceMaterial(material);

  plat::D3DMATRIX projection;
  for (int i = 0; i < 16; ++i) projection.m[i / 4][i % 4] = float(i + 1);
  SetProjectionTransform(&projection);
  SetFogRangeState(10.0f, 50.0f);
  SetFogDensityState(0.5f);
  // Two lights before the view (the view setter moves them), two after.
  const plat::D3DLIGHT9 lights[4] = {
      Light(1, {1, 2, 3}, {1, 2, 3}, 10.0f, {1.0f, 0.5f, 0.25f}, 0.0f, 0.0f, 0.0f),
      Light(2, {0, 0, 0}, {0, 1, 0}, 5.0f, {0.0f, 1.0f, 0.0f}, 3.14159265f / 3, 2 * 3.14159265f / 3, 1.0f),
      Light(3, {0, 0, 0}, {0.5f, -1, 0}, 0.0f, {0, 0, 0}, 0.0f, 0.0f, 0.0f),
      Light(1, {-1, -2, -3}, {0, 0, 0}, 2.0f, {0.0f, 0.0f, 1.0f}, 0.0f, 0.0f, 0.0f)};
  SetDeviceLightAndEnable(0, 1, &lights[0]);
  SetDeviceLightAndEnable(1, 1, &lights[1]);
  const Matrix4 view = {{0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 2, 0, 10, 20, 30, 1}};
  SetViewMatrix(&view);
  SetDeviceLightAndEnable(2, 1, &lights[2]);
  SetDeviceLightAndEnable(3, 1, &lights[3]);

  float got[42][4] = {};
  ASSERT_EQ(d->GetVertexShaderConstantF(2, got[2], 9), plat::D3D_OK);
  ASSERT_EQ(d->GetVertexShaderConstantF(14, got[14], 28), plat::D3D_OK);
  const std::vector<std::pair<int, std::vector<float>>> want = {
      {2, {1, 5, 9, 13}},  {3, {2, 6, 10, 14}}, {4, {3, 7, 11, 15}}, {5, {4, 8, 12, 16}},  // projection, transposed
      {6, {0, -1, 0, 10}}, {7, {1, 0, 0, 20}},  {8, {0, 0, 2, 30}},   {9, {0, 0, 0, 1}},    // view, transposed
      {10, {1.25f, -0.025f, 0.5f, 2.7182817f}},  // 50 / 40, -1 / 40, density, e
      // Point light 0: position, direction, range² and attenuation, cone, diffuse x material.
      {14, {8, 21, 36, 1}}, {15, {-2, 1, 6, 0}}, {16, {100, 1, 0.5f, 0.25f}}, {17, {1, 1, 0, 0}},
      {18, {0.1f, 0.2f, 0.3f, 1}}, {19, {0, 0, 0, 0}}, {20, {0, 0, 0, 0}},
      // Spot light 1: cos 30°, cos 60°, 1 / (cos 30° - cos 60°), falloff.
      {21, {10, 20, 30, 1}}, {22, {-1, 0, 0, 0}}, {23, {25, 0, 1, 0}}, {24, {0.8660254f, 0.5f, 2.7320508f, 1}},
      {25, {0.1f, 0.2f, 0.3f, 1}}, {26, {0, 0, 0, 0}}, {27, {0, 0, 0, 0}},
      // Directional light 2, set after the view.
      {28, {10, 20, 30, 1}}, {29, {1, 0.5f, 0, 0}}, {30, {0, 0, 0, 0}}, {31, {1, 1, 0, 0}},
      {32, {0.1f, 0.2f, 0.3f, 1}}, {33, {0, 0, 0, 0}}, {34, {0, 0, 0, 0}},
      // Point light 3, set after the view.
      {35, {12, 19, 24, 1}}, {36, {0, 0, 0, 0}}, {37, {4, 0, 0, 1}}, {38, {1, 1, 0, 0}},
      {39, {0.1f, 0.2f, 0.3f, 1}}, {40, {0, 0, 0, 0}}, {41, {0, 0, 0, 0}}};
  for (const auto& [reg, values] : want)
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[reg][k], values[size_t(k)], 1e-5f) << "register " << reg << "." << k;

  // The fog-mode setter's branches: (linear, exponential, squared, any).
  const std::vector<std::pair<int, std::vector<int32_t>>> branches = {
      {2, {0, 0, 1, 1}}, {3, {1, 0, 0, 1}}, {1, {0, 1, 0, 1}}, {0, {0, 0, 0, 0}}};
  for (const auto& [mode, expected] : branches) {
    SetFogModeState(mode);
    std::vector<int32_t> b(4, -1);
    ASSERT_EQ(d->GetVertexShaderConstantB(0, b.data(), 4), plat::D3D_OK);
    EXPECT_EQ(b, expected) << "fog mode " << mode;
  }
  EnableLights(0, 0, 0);
}

// A shader left bound goes at the next library draw with its FVF, unless
// the draw asks to keep it (0x2000).
TEST_F(ShaderPackStart, LibraryDrawsClearABoundShader) {
  UseEmbeddedShaderPack();
  LogCapture log;
  ASSERT_EQ(GraphicsSystemStart(), 0);
  ASSERT_EQ(GraphicsDevice().shaders_in_use, 1);
  plat::Direct3DDevice9* d = GraphicsDevice().device;
  plat::Direct3DVertexShader9* vs = ShaderPacks().vertex_shaders[5462][2];
  plat::Direct3DPixelShader9* ps = ShaderPacks().pixel_shaders[409][0];
  ASSERT_TRUE(vs && ps);
  auto bound = [d]() {
    plat::Direct3DVertexShader9* v = nullptr;
    plat::Direct3DPixelShader9* p = nullptr;
    d->GetVertexShader(&v);
    d->GetPixelShader(&p);
    const bool any = v || p;
    if (v) v->Release();
    if (p) p->Release();
    return any;
  };
  d->SetVertexShader(vs);
  d->SetPixelShader(ps);
  StateCache().current_vertex_shader = vs;
  StateCache().current_pixel_shader = ps;
  Batch().cached_fvf = 0x144;
  ApplyDrawSettings(nullptr, nullptr, 0x2000);
  EXPECT_TRUE(bound());
  EXPECT_EQ(Batch().cached_fvf, 0x144u);
  ApplyDrawSettings(nullptr, nullptr, 0);
  EXPECT_FALSE(bound());
  EXPECT_EQ(StateCache().current_vertex_shader, nullptr);
  EXPECT_EQ(StateCache().current_pixel_shader, nullptr);
  EXPECT_EQ(Batch().cached_fvf, 0u);
}

}  // namespace
