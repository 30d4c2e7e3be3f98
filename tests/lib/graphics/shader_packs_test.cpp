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

// The indexes below are the selection formula worked out by hand:
// vertex = 8 x (s + 4 x (p + 4 x (d + 4 x (F + 8 x (A + 6 x L))))),
// pixel = 8 x (g(s) + 3 x (g(p) + 3 x (g(d) + 6 x (A + 4 x L)))).
TEST_F(ShaderPackStart, ShaderIndexesFollowLightingFogAndLights) {
  UseEmbeddedShaderPack();
  LogCapture log;
  ASSERT_EQ(GraphicsSystemStart(), 0);
  ASSERT_EQ(GraphicsDevice().shaders_in_use, 1);
  while (GetHighestEnabledDeviceLight() >= 0) SetDeviceLightEnable(GetHighestEnabledDeviceLight(), 0);
  SetLightingEnable(0);
  SetFogEnableState(0);
  const RenderStateCache& c = StateCache();
  auto light = [](uint32_t type) {
    plat::D3DLIGHT9 l{};
    l.Type = type;
    l.Range = 100.0f;
    return l;
  };
  const plat::D3DLIGHT9 point = light(1), spot = light(2), directional = light(3);
  EXPECT_EQ(c.vertex_shader_index, 0);
  EXPECT_EQ(c.pixel_shader_index, 0);

  // Lighting on, no light: A = 0, L = 1.
  SetLightingEnable(1);
  EXPECT_EQ(c.vertex_shader_index, 8 * 4 * 4 * 4 * 8 * 6);  // 24576
  EXPECT_EQ(c.pixel_shader_index, 8 * 3 * 3 * 6 * 4);      // 1728
  // One light of each type in turn: A = 1, so A + 6L = 7 and A + 4L = 5.
  SetDeviceLightAndEnable(0, 1, &directional);
  EXPECT_EQ(c.vertex_shader_index, 28800);  // 8 x 4 x 4 x (1 + 4 x 56)
  EXPECT_EQ(c.pixel_shader_index, 2232);    // 8 x 3 x 3 x (1 + 30)
  SetDeviceLightAndEnable(0, 1, &point);
  EXPECT_EQ(c.vertex_shader_index, 28704);  // 8 x 4 x (1 + 4 x 4 x 56)
  EXPECT_EQ(c.pixel_shader_index, 2184);    // 8 x 3 x (1 + 3 x 30)
  SetDeviceLightAndEnable(0, 1, &spot);
  EXPECT_EQ(c.vertex_shader_index, 28680);  // 8 x (1 + 4 x 4 x 4 x 56)
  EXPECT_EQ(c.pixel_shader_index, 2168);    // 8 x (1 + 3 x 3 x 30)

  // Three point lights with linear fog: p = 3, F = 3, g(3) = 2.
  for (int i = 0; i < 3; ++i) SetDeviceLightAndEnable(i, 1, &point);
  SetFogModeState(3);
  EXPECT_EQ(c.vertex_shader_index, 28704 + 8 * 4 * 2);  // fog still off: p = 3
  SetFogEnableState(1);
  EXPECT_EQ(c.vertex_shader_index, 30304);  // 8 x 4 x (3 + 4 x 4 x (3 + 8 x 7))
  EXPECT_EQ(c.pixel_shader_index, 2208);    // 8 x 3 x (2 + 3 x 30)
  // Lighting off leaves only the fog: the light counts are 0.
  SetLightingEnable(0);
  EXPECT_EQ(c.vertex_shader_index, 8 * 4 * 4 * 4 * 3);  // 1536
  EXPECT_EQ(c.pixel_shader_index, 0);
  for (int i = 0; i < 3; ++i) SetDeviceLightEnable(i, 0);
}

}  // namespace
