// lib/graphics/shader_setup.cpp - the shader packs and the choice between the
// programmable shaders and the fixed-function path at device creation: the
// packs are unpacked and indexed once per graphics system, the device is
// tried with one vertex and one pixel shader of them, and the shader path's
// vertex declarations are made. Drawing itself stays on the fixed-function
// path either way.
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/core/pack_lz.h"
#include "lib/graphics/graphics_device.h"
#include "lib/graphics/shader_packs.h"

namespace {

ShaderPackIndex g_packs;
bool g_blob_overridden = false;
ShaderPackBlob g_test_blob = {nullptr, 0};

ShaderPackBlob CurrentBlob() { return g_blob_overridden ? g_test_blob : EmbeddedShaderPack(); }

// Unpacks an LZ block of block_size bytes into a new tracked block; null when
// the block is damaged or memory is short. *size gets the decoded size.
uint8_t* Unpack(const uint8_t* block, size_t block_size, size_t* size) {
  const int64_t decoded = DecodePackDataChecked(block, block_size, nullptr, 0);
  if (decoded <= 0) return nullptr;
  auto* out = static_cast<uint8_t*>(TrackedAlloc(size_t(decoded), "", 0));
  if (out == nullptr) return nullptr;
  if (DecodePackDataChecked(block, block_size, out, size_t(decoded)) != decoded) {
    TrackedFree(out);
    return nullptr;
  }
  *size = size_t(decoded);
  return out;
}

// Finds a pack in the archive and unpacks it; null when it is missing.
uint8_t* UnpackArchiveFile(const char* name, size_t* size) {
  uint64_t offset = 0;
  uint32_t stored = 0;
  if (GetArchiveFileOffset(&g_packs.archive, name, &offset, &stored) != 0) return nullptr;
  return Unpack(g_packs.archive_image + offset, stored, size);
}

// Walks a size table of rows x columns entries: each entry with a size gets
// the cursor as its code, which then moves on by that size. false when the
// sizes run past the end of the pack.
bool IndexPack(const uint8_t* pack, size_t pack_size, int rows, int columns, const uint8_t** codes,
               uint16_t* sizes) {
  const size_t table = size_t(rows) * size_t(columns) * 2;
  if (pack_size < table) return false;
  size_t cursor = table;
  for (int i = 0; i < rows * columns; ++i) {
    const uint16_t n = uint16_t(pack[2 * i] | pack[2 * i + 1] << 8);
    if (sizes != nullptr) sizes[i] = n;
    codes[i] = nullptr;
    if (n == 0) continue;
    if (n > pack_size - cursor) return false;
    codes[i] = pack + cursor;
    cursor += n;
  }
  return true;
}

void FreeBlock(uint8_t** block) {
  if (*block != nullptr) TrackedFree(*block);
  *block = nullptr;
}

void ForgetShadersOnDevice() {
  GraphicsDeviceState& d = GraphicsDevice();
  if (!d.device) return;
  d.device->SetVertexShader(nullptr);
  d.device->SetPixelShader(nullptr);
  StateCache().current_vertex_shader = nullptr;
  StateCache().current_pixel_shader = nullptr;
}

// ---- Vertex declarations ------------------------------------------------------------

using plat::D3DVERTEXELEMENT9;

struct ElementList {
  D3DVERTEXELEMENT9 e[32];
  int count = 0;
  uint16_t offset = 0;
  void Add(uint8_t type, uint8_t usage, uint8_t index, uint16_t bytes) {
    e[count++] = {0, offset, type, plat::D3DDECLMETHOD_DEFAULT, usage, index};
    offset = uint16_t(offset + bytes);
  }
  void End() { e[count++] = plat::D3DDECL_END(); }
};

// Position, the skinning elements of kind k, one or three normals, two colours.
ElementList BaseElements(int p, int k) {
  ElementList l;
  l.Add(plat::D3DDECLTYPE_FLOAT3, plat::D3DDECLUSAGE_POSITION, 0, 12);
  if (k >= 1) l.Add(plat::D3DDECLTYPE_UBYTE4, plat::D3DDECLUSAGE_BLENDINDICES, 0, 4);
  if (k == 2) l.Add(plat::D3DDECLTYPE_UBYTE4, plat::D3DDECLUSAGE_BLENDINDICES, 1, 4);
  if (k >= 1) l.Add(plat::D3DDECLTYPE_FLOAT4, plat::D3DDECLUSAGE_BLENDWEIGHT, 0, 16);
  if (k == 2) l.Add(plat::D3DDECLTYPE_FLOAT4, plat::D3DDECLUSAGE_BLENDWEIGHT, 1, 16);
  for (int i = 0; i < (p == 0 ? 1 : 3); ++i) l.Add(plat::D3DDECLTYPE_FLOAT3, plat::D3DDECLUSAGE_NORMAL, uint8_t(i), 12);
  l.Add(plat::D3DDECLTYPE_D3DCOLOR, plat::D3DDECLUSAGE_COLOR, 0, 4);
  l.Add(plat::D3DDECLTYPE_D3DCOLOR, plat::D3DDECLUSAGE_COLOR, 1, 4);
  return l;
}

}  // namespace

const ShaderPackIndex& ShaderPacks() { return g_packs; }

void SetShaderPackForTest(const void* data, size_t size) {
  FreeShaderPacks();
  g_blob_overridden = true;
  g_test_blob = {static_cast<const uint8_t*>(data), data != nullptr ? size : 0};
}

void UseEmbeddedShaderPack() {
  FreeShaderPacks();
  g_blob_overridden = false;
  g_test_blob = {nullptr, 0};
}

int LoadShaderPacks() {
  if (g_packs.main_pack != nullptr) return 1;
  const ShaderPackBlob blob = CurrentBlob();
  if (blob.data == nullptr || blob.size == 0) return 0;
  InitArchiveRecord(&g_packs.archive);
  size_t image_size = 0;
  g_packs.archive_image = Unpack(blob.data, blob.size, &image_size);
  if (g_packs.archive_image == nullptr) return 0;
  if (OpenPackArchive(&g_packs.archive, g_packs.archive_image, image_size, nullptr) != 0) {
    FreeShaderPacks();
    return 0;
  }
  ++g_packs.decode_count;
  size_t size = 0;
  g_packs.main_pack = UnpackArchiveFile(kMainPackName, &size);
  // The vertex rows and then the pixel rows, one cursor through both.
  static const uint8_t* codes[kVertexShaderRows + kPixelShaderRows][kShaderColumns];
  if (g_packs.main_pack != nullptr) {
    if (IndexPack(g_packs.main_pack, size, kVertexShaderRows + kPixelShaderRows, kShaderColumns, &codes[0][0],
                  nullptr)) {
      std::memcpy(g_packs.vertex_code, codes, sizeof g_packs.vertex_code);
      std::memcpy(g_packs.pixel_code, codes + kVertexShaderRows, sizeof g_packs.pixel_code);
    } else {
      WriteLogLine("シェーダーパックのサイズ表が中身と合いません\n");
      FreeBlock(&g_packs.main_pack);
    }
  }
  g_packs.mix_pack = UnpackArchiveFile(kMixPackName, &size);
  if (g_packs.mix_pack != nullptr &&
      !IndexPack(g_packs.mix_pack, size, kMixShaderRows, kMixShaderColumns, &g_packs.mix_code[0][0],
                 &g_packs.mix_sizes[0][0])) {
    FreeBlock(&g_packs.mix_pack);
    std::memset(g_packs.mix_code, 0, sizeof g_packs.mix_code);
    std::memset(g_packs.mix_sizes, 0, sizeof g_packs.mix_sizes);
  }
  return g_packs.main_pack != nullptr ? 1 : 0;
}

int FreeShaderPacks() {
  if (g_packs.archive.open) CloseArchiveRecord(&g_packs.archive);
  FreeBlock(&g_packs.archive_image);
  FreeBlock(&g_packs.main_pack);
  FreeBlock(&g_packs.mix_pack);
  std::memset(g_packs.vertex_code, 0, sizeof g_packs.vertex_code);
  std::memset(g_packs.pixel_code, 0, sizeof g_packs.pixel_code);
  std::memset(g_packs.mix_code, 0, sizeof g_packs.mix_code);
  std::memset(g_packs.mix_sizes, 0, sizeof g_packs.mix_sizes);
  return 0;
}

int ReleaseShaderObjects() {
  ForgetShadersOnDevice();
  for (auto& row : g_packs.vertex_shaders)
    for (auto*& s : row)
      if (s != nullptr) {
        s->Release();
        s = nullptr;
      }
  for (auto& row : g_packs.pixel_shaders)
    for (auto*& s : row)
      if (s != nullptr) {
        s->Release();
        s = nullptr;
      }
  return 0;
}

int ReleaseVertexDeclarations() {
  ForgetShadersOnDevice();
  for (auto*& decl : g_packs.declarations)
    if (decl != nullptr) {
      decl->Release();
      decl = nullptr;
    }
  if (g_packs.extra_declaration != nullptr) {
    g_packs.extra_declaration->Release();
    g_packs.extra_declaration = nullptr;
  }
  return 0;
}

int CreateVertexDeclarations() {
  ReleaseVertexDeclarations();
  plat::Direct3DDevice9* device = GraphicsDevice().device;
  if (device == nullptr) return 0;
  for (int p = 0; p < kDeclarationNormalSets; ++p)
    for (int k = 0; k < kDeclarationSkinKinds; ++k)
      for (int n = 0; n < kDeclarationExtraCoords; ++n) {
        ElementList l = BaseElements(p, k);
        for (int i = 0; i < n; ++i) l.Add(plat::D3DDECLTYPE_FLOAT4, plat::D3DDECLUSAGE_TEXCOORD, uint8_t(i), 16);
        l.End();
        // A declaration the device refuses stays null; the others go on.
        plat::Direct3DVertexDeclaration9** slot = &g_packs.declarations[DeclarationSlot(p, k, n)];
        if (device->CreateVertexDeclaration(l.e, slot) != plat::D3D_OK) *slot = nullptr;
      }
  ElementList extra;
  extra.Add(plat::D3DDECLTYPE_FLOAT3, plat::D3DDECLUSAGE_POSITION, 0, 12);
  extra.Add(plat::D3DDECLTYPE_FLOAT3, plat::D3DDECLUSAGE_NORMAL, 0, 12);
  extra.Add(plat::D3DDECLTYPE_D3DCOLOR, plat::D3DDECLUSAGE_COLOR, 0, 4);
  extra.Add(plat::D3DDECLTYPE_D3DCOLOR, plat::D3DDECLUSAGE_COLOR, 1, 4);
  extra.Add(plat::D3DDECLTYPE_FLOAT2, plat::D3DDECLUSAGE_TEXCOORD, 0, 4);
  extra.Add(plat::D3DDECLTYPE_FLOAT2, plat::D3DDECLUSAGE_TEXCOORD, 1, 8);
  extra.End();
  if (device->CreateVertexDeclaration(extra.e, &g_packs.extra_declaration) != plat::D3D_OK)
    g_packs.extra_declaration = nullptr;
  return 0;
}

int CreateShaders() {
  GraphicsDeviceState& d = GraphicsDevice();
  ReleaseShaderObjects();
  d.shaders_in_use = 0;
  bool logged = false;
  if (d.vs20_usable && d.ps20_usable) {
    d.shaders_in_use = 1;
    if (g_packs.main_pack == nullptr && LoadShaderPacks() == 0) {
      // A build without packs simply has no shaders; only packs that are
      // there but cannot be unpacked are worth a line of their own.
      if (CurrentBlob().data != nullptr)
        WriteLogLine("シェーダーコードを展開するメモリ領域の確保に失敗しました\n");
      d.shaders_in_use = 0;
    }
  }
  if (d.shaders_in_use && d.device) {
    const uint8_t* vs = g_packs.vertex_code[kTestVertexShaderRow][kTestVertexShaderColumn];
    plat::Direct3DVertexShader9** vs_slot = &g_packs.vertex_shaders[kTestVertexShaderRow][kTestVertexShaderColumn];
    if (vs == nullptr || d.device->CreateVertexShader(reinterpret_cast<const uint32_t*>(vs), vs_slot) != plat::D3D_OK) {
      *vs_slot = nullptr;
      d.shaders_in_use = 0;
    }
    const uint8_t* ps = g_packs.pixel_code[kTestPixelShaderRow][kTestPixelShaderColumn];
    plat::Direct3DPixelShader9** ps_slot = &g_packs.pixel_shaders[kTestPixelShaderRow][kTestPixelShaderColumn];
    if (ps == nullptr || d.device->CreatePixelShader(reinterpret_cast<const uint32_t*>(ps), ps_slot) != plat::D3D_OK) {
      *ps_slot = nullptr;
      d.shaders_in_use = 0;
      WriteLogLine("プログラマブルシェーダーを使用しません\n");
      logged = true;
    }
  }
  if (!logged)
    WriteLogLine(d.shaders_in_use ? "プログラマブルシェーダーを使用します\n" : "プログラマブルシェーダーを使用しません\n");
  // Register 0 of the library's constants, kept whether or not shaders run.
  static const float kVertex0[4] = {0.0f, 1.0f, 0.0f, 0.0f};
  static const float kPixel0[4] = {0.0f, 0.5f, 1.0f, 2.0f};
  SetLibraryVertexShaderConstants(0, kVertex0, 1);
  SetLibraryPixelShaderConstants(0, kPixel0, 1);
  return 0;
}
