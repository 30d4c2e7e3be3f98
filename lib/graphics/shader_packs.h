// lib/graphics/shader_packs.h - the shader packs built into the library and
// the tables made from them: byte code of every pack entry, the shader
// objects made from it, and the vertex declarations of the shader path.
//
// The packs arrive as one block in the library's LZ format holding an
// in-memory archive with two files, each again an LZ block:
//   the main pack: (16384 vertex + 6912 pixel) rows x 6 u16 byte counts,
//     then the byte code of every entry with a non-zero count, in row order;
//   the mix pack: 64 rows x 4 u16 byte counts, then its byte code likewise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/core/pack_archive.h"
#include "platform/d3d9/d3d9.h"

constexpr int kVertexShaderRows = 16384;
constexpr int kPixelShaderRows = 6912;
constexpr int kShaderColumns = 6;
constexpr int kMixShaderRows = 64;
constexpr int kMixShaderColumns = 4;
constexpr size_t kMainPackTableBytes = size_t(kVertexShaderRows + kPixelShaderRows) * kShaderColumns * 2;
constexpr size_t kMixPackTableBytes = size_t(kMixShaderRows) * kMixShaderColumns * 2;
// The names of the two packs inside the archive.
constexpr const char* kMainPackName = "RiRiriduZudi.bin";
constexpr const char* kMixPackName = "VoVuruZedAzovavAduv.bin";
// The entries the device creation tries, to see whether the device takes the
// packs' shaders.
constexpr int kTestVertexShaderRow = 5462, kTestVertexShaderColumn = 2;
constexpr int kTestPixelShaderRow = 409, kTestPixelShaderColumn = 0;

// Declarations of the shader path: normal sets (1 or 3 normals) x skinning
// kinds (none, 4 weights, 8 weights) x extra texture coordinates (0 to 8).
constexpr int kDeclarationNormalSets = 2;
constexpr int kDeclarationSkinKinds = 3;
constexpr int kDeclarationExtraCoords = 9;
constexpr int kDeclarationCount = kDeclarationNormalSets * kDeclarationSkinKinds * kDeclarationExtraCoords;

struct ShaderPackIndex {
  ArchiveRecord archive;
  uint8_t* archive_image;  // the decoded block (tracked)
  uint8_t* main_pack;      // non-null: the packs are loaded
  uint8_t* mix_pack;
  const uint8_t* vertex_code[kVertexShaderRows][kShaderColumns];  // null for size 0
  const uint8_t* pixel_code[kPixelShaderRows][kShaderColumns];
  const uint8_t* mix_code[kMixShaderRows][kMixShaderColumns];
  uint16_t mix_sizes[kMixShaderRows][kMixShaderColumns];
  plat::Direct3DVertexShader9* vertex_shaders[kVertexShaderRows][kShaderColumns];
  plat::Direct3DPixelShader9* pixel_shaders[kPixelShaderRows][kShaderColumns];
  plat::Direct3DVertexDeclaration9* declarations[kDeclarationCount];
  plat::Direct3DVertexDeclaration9* extra_declaration;
  int decode_count;  // how often the packs were unpacked
};
const ShaderPackIndex& ShaderPacks();

// The slot of a declaration: normal set p, skinning kind k, n extra coordinates.
constexpr int DeclarationSlot(int p, int k, int n) { return (p * kDeclarationSkinKinds + k) * kDeclarationExtraCoords + n; }

struct ShaderPackBlob {
  const uint8_t* data;  // null: the build carries no packs
  size_t size;
};
// The packs built into the library (made at build time by the shader-pack
// tool; absent in builds without them).
ShaderPackBlob EmbeddedShaderPack();
// Test hook: the block LoadShaderPacks unpacks from now on (null data: no
// packs); UseEmbeddedShaderPack goes back to the built-in one. Frees loaded
// packs so that the next load takes the new block.
void SetShaderPackForTest(const void* data, size_t size);
void UseEmbeddedShaderPack();

// 1 when the main pack is loaded (unpacking it first when needed), else 0.
int LoadShaderPacks();
// Closes the pack archive and frees the three pack blocks (graphics end).
int FreeShaderPacks();
int CreateShaders();
int CreateVertexDeclarations();
int ReleaseShaderObjects();
int ReleaseVertexDeclarations();
