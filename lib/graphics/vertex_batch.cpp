// lib/graphics/vertex_batch.cpp - the vertex batch every 2-D draw appends
// to, and the choice of blend, alpha and texture-stage states from the draw
// settings. The batch goes to the device in one call per run of vertices
// that share a texture, states, layout and primitive type.
#include <cstring>

#include "lib/core/log.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"

namespace {

constexpr int kCapacity[6] = {3225, 2340, 1638, 4096, 2730, 0};
constexpr int kStride[6] = {20, 28, 40, 16, 24, 0};
constexpr uint32_t kFvf[6] = {0x44, 0x144, 0x2C4, 0x42, 0x142, 0};

alignas(16) uint8_t g_array0[64500];
alignas(16) uint8_t g_array1[65520];
alignas(16) uint8_t g_array2[65520];
alignas(16) uint8_t g_array3d[65536];

VertexBatch g_batch = {0, 0, plat::D3DPT_TRIANGLELIST, 0, g_array0,
                       {g_array0, g_array1, g_array2, g_array3d, g_array3d, nullptr}, 0xFFFFFFFF, 0};
DesiredState g_desired = {0, 0, 0, 0, 0, -1, -1, nullptr, nullptr, 0, 0, 1, 1, 0, 1};

// Blend-mode table: destination, source, stage family, operation.
struct BlendRow {
  int dst, src, family, op;
};
constexpr BlendRow kBlendRows[16] = {
    {-1, -1, 0, 1}, {6, 5, 0, 1}, {2, 5, 0, 1}, {1, 10, 0, 1}, {3, 1, 0, 1}, {2, 5, 0, 1},
    {-1, -1, 0, 1}, {-1, -1, 0, 1}, {2, 1, 0, 1}, {1, 10, 0, 1}, {6, 5, 2, 1}, {3, 1, 1, 1},
    {6, 5, 3, 1}, {2, 5, 3, 1}, {1, 2, 0, 1}, {2, 5, 0, 3},
};

constexpr int kUnknown = 0x7EADBEEF;

struct StageShadow {
  plat::Direct3DTexture9* texture;
  bool texture_known;
  int result, aop, aarg1, aarg2, cop, carg1, carg2;
};
struct Shadow {
  int alpha_test, alpha_ref, alpha_func, blend_enable;
  int64_t tfactor;
  int src, dst, op;
  StageShadow stages[8];
  int specular, fill_mode, shade_mode;
};
Shadow g_shadow;

struct StageRecord {
  plat::Direct3DTexture9* texture;
  int texcoord, result;
  int aarg1, aarg2, aop, carg1, carg2, cop;
};
struct StateBlock {
  int alpha_test, alpha_ref, alpha_func, blend_enable;
  int64_t tfactor;
  int src, dst, op;
  int stage_count;
  StageRecord stages[8];
};

// The last draw's arguments, for the refresh after a device rebuild.
const GraphicTextureSet* g_last_info = nullptr;
plat::Direct3DTexture9* g_last_texture = nullptr;
int g_last_flags = 0;

int g_white_graphic = -1;

plat::Direct3DDevice9* Dev() { return GraphicsDevice().device; }
bool Forced() { return StateCache().forced_refresh != 0; }

int FlushCore(bool checks) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return -1;
  VertexBatch& b = g_batch;
  int index = b.kind * 3 + b.layout;
  if (b.count > 0 && !(checks && g_desired.skip_drawing)) {
    BeginDeviceScene();
    int n = b.count, prims = 0;
    switch (b.primitive) {
      case plat::D3DPT_POINTLIST: prims = n; break;
      case plat::D3DPT_LINELIST: prims = n / 2; break;
      case plat::D3DPT_LINESTRIP: prims = n - 1; break;
      case plat::D3DPT_TRIANGLELIST: prims = n / 3; break;
      default: prims = n - 2; break;
    }
    if (kFvf[index] != b.cached_fvf) {
      d->SetFVF(kFvf[index]);
      b.cached_fvf = kFvf[index];
    }
    if (b.kind == 1) {
      Matrix4 identity;
      CreateIdentityMatrix(&identity);
      SetWorldTransformDevice(&identity);
    }
    if (prims > 0) d->DrawPrimitiveUP(uint32_t(b.primitive), uint32_t(prims), b.arrays[index], uint32_t(kStride[index]));
    if (b.kind == 1) SetWorldTransformDevice(&Draw().world);
  }
  b.count = 0;
  b.write = b.arrays[index];
  return 0;
}

void SetRS(uint32_t state, int* shadow, int value) {
  if (value == -1) return;
  if (*shadow == value && !Forced()) return;
  Dev()->SetRenderState(state, uint32_t(value));
  *shadow = value;
}

void SetTSS(int stage, uint32_t type, int* shadow, int value) {
  if (value == -1) return;
  if (*shadow == value && !Forced()) return;
  Dev()->SetTextureStageState(uint32_t(stage), type, uint32_t(value));
  *shadow = value;
}

void SetStageTexture(int stage, plat::Direct3DTexture9* texture) {
  StageShadow& s = g_shadow.stages[stage];
  if (s.texture_known && s.texture == texture && !Forced()) return;
  Dev()->SetTexture(uint32_t(stage), texture);
  s.texture = texture;
  s.texture_known = true;
}

StageRecord Stage(plat::Direct3DTexture9* tex, int texcoord, int aop, int aarg1, int aarg2, int cop, int carg1,
                  int carg2) {
  return StageRecord{tex, texcoord, 0, aarg1, aarg2, aop, carg1, carg2, cop};
}

plat::Direct3DTexture9* WhiteTexture() {
  if (!GraphicHandleToRecord(g_white_graphic)) {
    // An 8 x 8 white 32-bit run-length image, one packet per row.
    uint8_t tga[84] = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 8, 0, 32, 0x28};
    for (int row = 0; row < 8; row++) {
      uint8_t* p = tga + 18 + row * 5;
      p[0] = 0x87;
      p[1] = p[2] = p[3] = p[4] = 0xFF;
    }
    memcpy(tga + 58 + 8, "TRUEVISION-XFILE.", 18);
    g_white_graphic = ImageToGraphicWithOptions(tga, 84, nullptr, 0, 0, 0);
  }
  GraphicRecord* r = GraphicHandleToRecord(g_white_graphic);
  return (r && r->entry_count > 0) ? r->entries[0].tile->texture : nullptr;
}

int DrawVariant() {
  const DesiredState& s = g_desired;
  int z_on = StateCache().z_enable == 1;
  return (!s.variant && !s.alpha_channel && !z_on) ? 0 : (s.variant ? 1 : 2);
}

// The texture stage's colour: the graphic's texture, inverted for family 2,
// modulated by the diffuse colour when the bright colour is in use, four
// times the product for family 3.
void TextureColour(int fam, int* cop, int* carg1, int* carg2) {
  using namespace plat;
  *carg2 = -1;
  if (fam == 3) {
    *cop = D3DTOP_MODULATE4X;
    *carg1 = D3DTA_TEXTURE;
    *carg2 = D3DTA_DIFFUSE;
    return;
  }
  *carg1 = fam == 2 ? (D3DTA_TEXTURE | D3DTA_COMPLEMENT) : D3DTA_TEXTURE;
  if (g_desired.bright_in_use) {
    *cop = D3DTOP_MODULATE;
    *carg2 = D3DTA_DIFFUSE;
  } else {
    *cop = D3DTOP_SELECTARG1;
  }
}

// Draws through a blend image: stage 0 reads the blend image's alpha on
// coordinate set 0 and moves it by the border value held in the texture
// factor's alpha; the graphic's texture follows on set 1. A border range
// below 2 becomes an alpha test at the border; a wider range a soft edge
// whose slope is the scale of the stage after the blend stage.
void BuildBlendTextureBlock(StateBlock* k, int mode) {
  using namespace plat;
  const DesiredState& s = g_desired;
  int fam = (mode == 12 || mode == 13) ? 3 : 0;
  int variant = DrawVariant();
  int p = s.border_param < 0 ? 0 : (s.border_param > 255 ? 255 : s.border_param);
  int range = s.border_range;
  int n = 0;
  k->stages[n++] = Stage(s.blend_texture, 0, D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_TFACTOR, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, -1);
  if (variant == 1)
    k->stages[n++] = Stage(nullptr, -1, D3DTOP_MODULATE, D3DTA_SPECULAR, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_CURRENT, -1);
  int cop, carg1, carg2;
  TextureColour(fam, &cop, &carg1, &carg2);
  if (variant == 0)
    k->stages[n++] = Stage(s.texture, 1, D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_DIFFUSE, cop, carg1, carg2);
  else
    k->stages[n++] = Stage(s.texture, 1, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT, cop, carg1, carg2);
  if (s.alpha_in_use && variant != 0)
    k->stages[n++] = Stage(nullptr, -1, D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_CURRENT, -1);
  k->stage_count = n;
  if (range < 2) {
    k->alpha_test = 1;
    k->alpha_ref = (p == 0 && (s.variant || s.alpha_channel)) ? 1 : p;
    k->alpha_func = D3DCMP_GREATEREQUAL;
    k->blend_enable = 0;
    k->tfactor = 0x00FFFFFF;
    return;
  }
  k->alpha_test = 0;
  k->blend_enable = 1;
  // Modes without a blend pair of their own would blend with whatever pair
  // the device last had: they take plain alpha blending.
  if (k->src == -1 || k->dst == -1) {
    k->src = D3DBLEND_SRCALPHA;
    k->dst = D3DBLEND_INVSRCALPHA;
  }
  int scale_k, threshold, weight, shift, scale_op;
  if (range <= 64) {
    scale_k = 0x500, threshold = 0x400, weight = 0x40, shift = 10, scale_op = D3DTOP_MODULATE4X;
  } else if (range <= 128) {
    scale_k = 0x300, threshold = 0x200, weight = 0x80, shift = 9, scale_op = D3DTOP_MODULATE2X;
  } else {
    scale_k = 0x200, threshold = 0x100, weight = 0xFF, shift = 8, scale_op = D3DTOP_MODULATE;
  }
  int t = scale_k - (p * scale_k) / 255;
  int alpha;
  if (t >= threshold) {
    alpha = ((0x100 - (p * scale_k) / 255) * weight) >> 8;
    k->stages[0].aop = D3DTOP_ADD;
  } else {
    alpha = -1 - ((t * 255) >> shift);
    k->stages[0].aop = D3DTOP_SUBTRACT;
  }
  k->stages[1].aop = scale_op;
  k->tfactor = int64_t((uint32_t(alpha) << 24) | 0xFFFFFFu);
}

void BuildBlock(StateBlock* k) {
  GraphicsDeviceState& dev = GraphicsDevice();
  DesiredState& s = g_desired;
  int mode = (s.blend_mode >= 0 && s.blend_mode < 16) ? s.blend_mode : 0;
  BlendRow row = kBlendRows[mode];
  if (mode == 3 && dev.blend_op_capable) row = {plat::D3DBLEND_ONE, plat::D3DBLEND_SRCALPHA, 0, plat::D3DBLENDOP_REVSUBTRACT};
  int fam = row.family;
  memset(k, 0, sizeof(*k));
  k->alpha_ref = k->alpha_func = -1;
  k->tfactor = 0xFFFFFFFF;
  k->src = row.src;
  k->dst = row.dst;
  k->op = dev.blend_op_capable ? row.op : -1;
  k->blend_enable = row.src != -1 ? 1 : 0;
  using namespace plat;
  if (!s.texture) {
    k->alpha_test = 0;
    StageRecord st;
    if (mode == 3) {
      st = Stage(nullptr, -1, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, -1, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, -1);
    } else if (fam == 1) {
      st = Stage(nullptr, -1, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, -1, D3DTOP_BLENDDIFFUSEALPHA, D3DTA_DIFFUSE, D3DTA_TFACTOR);
    } else if (fam == 2) {
      st = Stage(nullptr, -1, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, -1, D3DTOP_SELECTARG1, D3DTA_DIFFUSE | D3DTA_COMPLEMENT, -1);
    } else if (fam == 3) {
      st = Stage(WhiteTexture(), 0, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, -1, D3DTOP_MODULATE4X, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    } else {
      st = Stage(nullptr, -1, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, -1, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, -1);
    }
    k->stages[0] = st;
    k->stage_count = 1;
  } else if (s.blend_texture) {
    BuildBlendTextureBlock(k, mode);
  } else {
    int z_on = StateCache().z_enable == 1;
    int variant = (!s.variant && !s.alpha_channel && !z_on) ? 0 : (s.variant ? 1 : 2);
    if (s.alpha_channel) {
      k->alpha_test = 1;
      k->alpha_ref = 16;
      k->alpha_func = D3DCMP_GREATER;
    } else if (z_on) {
      k->alpha_test = 1;
      k->alpha_ref = 0;
      k->alpha_func = D3DCMP_GREATER;
    } else {
      k->alpha_test = 0;
    }
    if ((mode == 0 || mode == 6) && variant == 1) {
      k->src = D3DBLEND_SRCALPHA;
      k->dst = D3DBLEND_INVSRCALPHA;
      k->blend_enable = 1;
    }
    int cop, carg1, carg2 = -1;
    if (fam == 3) {
      cop = D3DTOP_MODULATE4X;
      carg1 = D3DTA_TEXTURE;
      carg2 = D3DTA_DIFFUSE;
    } else {
      carg1 = fam == 2 ? (D3DTA_TEXTURE | D3DTA_COMPLEMENT) : D3DTA_TEXTURE;
      if (s.bright_in_use) {
        cop = D3DTOP_MODULATE;
        carg2 = D3DTA_DIFFUSE;
      } else {
        cop = D3DTOP_SELECTARG1;
      }
    }
    int aop, aarg1, aarg2 = -1;
    if (variant == 0) {
      aop = D3DTOP_SELECTARG1;
      aarg1 = D3DTA_DIFFUSE;
    } else if (s.alpha_in_use) {
      aop = D3DTOP_MODULATE;
      aarg1 = D3DTA_TEXTURE;
      aarg2 = D3DTA_DIFFUSE;
    } else {
      aop = D3DTOP_SELECTARG1;
      aarg1 = D3DTA_TEXTURE;
    }
    k->stages[0] = Stage(s.texture, 0, aop, aarg1, aarg2, cop, carg1, carg2);
    k->stage_count = 1;
    if (fam == 1) {
      k->stages[1] = Stage(nullptr, -1, D3DTOP_SELECTARG1, D3DTA_CURRENT, -1, D3DTOP_BLENDCURRENTALPHA, D3DTA_CURRENT,
                           D3DTA_TFACTOR);
      k->stage_count = 2;
    }
  }
}

void ApplyBlock(const StateBlock& k, bool textures_only) {
  plat::Direct3DDevice9* d = Dev();
  Shadow& sh = g_shadow;
  SetRS(plat::D3DRS_ALPHATESTENABLE, &sh.alpha_test, k.alpha_test);
  SetRS(plat::D3DRS_ALPHAREF, &sh.alpha_ref, k.alpha_ref);
  SetRS(plat::D3DRS_ALPHAFUNC, &sh.alpha_func, k.alpha_func);
  SetRS(plat::D3DRS_ALPHABLENDENABLE, &sh.blend_enable, k.blend_enable);
  if (k.tfactor != -1 && (sh.tfactor != k.tfactor || Forced())) {
    d->SetRenderState(plat::D3DRS_TEXTUREFACTOR, uint32_t(k.tfactor));
    sh.tfactor = k.tfactor;
  }
  SetRS(plat::D3DRS_SRCBLEND, &sh.src, k.src);
  SetRS(plat::D3DRS_DESTBLEND, &sh.dst, k.dst);
  SetRS(plat::D3DRS_BLENDOP, &sh.op, k.op);
  int* texcoord = StageTexCoordIndexes();
  int n = k.stage_count < 8 ? k.stage_count + 1 : 8;
  for (int i = 0; i < n; i++) {
    StageRecord st = k.stages[i];
    if (i == k.stage_count) st = Stage(nullptr, -1, plat::D3DTOP_DISABLE, -1, -1, plat::D3DTOP_DISABLE, -1, -1);
    if (i >= 2 && !textures_only && g_shadow.stages[i - 1].aop == plat::D3DTOP_DISABLE) break;
    SetStageTexture(i, st.texture);
    SetTSS(i, plat::D3DTSS_TEXCOORDINDEX, &texcoord[i], st.texcoord);
    if (textures_only) continue;
    StageShadow& ss = sh.stages[i];
    if (GraphicsDevice().temp_register_capable)
      SetTSS(i, plat::D3DTSS_RESULTARG, &ss.result, st.result ? plat::D3DTA_TEMP : plat::D3DTA_CURRENT);
    SetTSS(i, plat::D3DTSS_ALPHAOP, &ss.aop, st.aop);
    SetTSS(i, plat::D3DTSS_ALPHAARG1, &ss.aarg1, st.aarg1);
    SetTSS(i, plat::D3DTSS_ALPHAARG2, &ss.aarg2, st.aarg2);
    SetTSS(i, plat::D3DTSS_COLOROP, &ss.cop, st.cop);
    SetTSS(i, plat::D3DTSS_COLORARG1, &ss.carg1, st.carg1);
    SetTSS(i, plat::D3DTSS_COLORARG2, &ss.carg2, st.carg2);
  }
}

// A caller's block of 57 words (the user blend table layout).
void BlockFromWords(const int32_t* w, bool handles, StateBlock* k) {
  memset(k, 0, sizeof(*k));
  k->alpha_test = w[0];
  k->alpha_ref = w[1];
  k->alpha_func = w[2];
  k->blend_enable = w[3];
  k->tfactor = w[4] == -1 ? -1 : int64_t(uint32_t(w[4]));
  k->src = w[5];
  k->dst = w[6];
  k->op = w[7];
  k->stage_count = w[8] < 0 ? 0 : (w[8] > 8 ? 8 : w[8]);
  for (int i = 0; i < 8; i++) {
    const int32_t* s = w + 9 + i * 6;
    StageRecord& st = k->stages[i];
    if (handles) {
      GraphicRecord* r = GraphicHandleToRecord(s[0]);
      st.texture = (r && r->entry_count > 0) ? r->entries[0].tile->texture : nullptr;
    } else {
      st.texture = reinterpret_cast<plat::Direct3DTexture9*>(intptr_t(s[0]));
      st.texture = nullptr;  // raw texture words are not pointers on this platform
    }
    st.texcoord = s[1];
    st.result = s[2];
    auto lo = [](int32_t v) { return int(int16_t(v & 0xFFFF)); };
    auto hi = [](int32_t v) { return int(int16_t((uint32_t(v) >> 16) & 0xFFFF)); };
    st.aarg1 = lo(s[3]);
    st.aarg2 = hi(s[3]);
    st.aop = lo(s[4]);
    st.carg1 = hi(s[4]);
    st.carg2 = lo(s[5]);
    st.cop = hi(s[5]);
  }
}

}  // namespace

VertexBatch& Batch() { return g_batch; }
DesiredState& Desired() { return g_desired; }

void ResetBlendStateShadow() {
  Shadow& s = g_shadow;
  s.alpha_test = s.alpha_ref = s.alpha_func = s.blend_enable = kUnknown;
  s.tfactor = int64_t(kUnknown);
  s.src = s.dst = s.op = kUnknown;
  for (StageShadow& st : s.stages) st = {nullptr, false, kUnknown, kUnknown, kUnknown, kUnknown, kUnknown, kUnknown, kUnknown};
  s.specular = s.fill_mode = s.shade_mode = kUnknown;
  for (int i = 0; i < 8; i++) StageTexCoordIndexes()[i] = -2;
  g_batch.cached_fvf = 0;
  g_desired.texture = nullptr;
  g_desired.blend_texture = nullptr;
  g_desired.state_dirty = g_desired.texture_dirty = 1;
  g_desired.stage_count = 1;
  g_last_info = nullptr;
  g_last_texture = nullptr;
}

int FlushVertexBatch() { return FlushCore(true); }

void* AppendBatchVertices(int layout, int primitive, int n) {
  VertexBatch& b = g_batch;
  // A full array goes out under the same rule as any other flush, so a draw
  // that must leave nothing (border 255) leaves nothing however many quads it
  // holds.
  if (b.count > 0 && (b.kind != 0 || b.layout != layout || b.primitive != primitive || kCapacity[layout] <= b.count + n))
    FlushCore(true);
  if (b.count == 0 || b.kind != 0 || b.layout != layout) {
    b.kind = 0;
    b.layout = layout;
    b.write = b.arrays[layout];
    b.count = 0;
  }
  b.primitive = primitive;
  void* p = b.write;
  b.write += n * kStride[layout];
  b.count += n;
  return p;
}

int SetWorldTransformDevice(const Matrix4* m) {
  if (Dev()) Dev()->SetTransform(plat::D3DTS_WORLD, reinterpret_cast<const plat::D3DMATRIX*>(m));
  return 0;
}

int ApplyLightingState(int on) {
  int r = SetLightingEnable(on);
  UpdateShaderIndex();
  return r;
}

Vector3* TransformPointByMatrix(Vector3* out, const Vector3* v, const Matrix4* m) {
  const float* a = m->m;
  Vector3 r = {v->x * a[0] + v->y * a[4] + v->z * a[8] + a[12], v->x * a[1] + v->y * a[5] + v->z * a[9] + a[13],
               v->x * a[2] + v->y * a[6] + v->z * a[10] + a[14]};
  *out = r;
  return out;
}

Vector3* TransformVectorByMatrix(Vector3* out, const Vector3* v, const Matrix4* m) {
  const float* a = m->m;
  Vector3 r = {v->x * a[0] + v->y * a[4] + v->z * a[8], v->x * a[1] + v->y * a[5] + v->z * a[9],
               v->x * a[2] + v->y * a[6] + v->z * a[10]};
  *out = r;
  return out;
}

int CheckBlendImageFits(const GraphicRecord* record) {
  GraphicRecord* b = GraphicHandleToRecord(Draw().blend_graphic);
  if (!b || !record) return -1;
  return (b->width >= record->width && b->height >= record->height) ? 0 : -1;
}

int SetDesiredBlendMode(int mode, int variant, int alpha_channel) {
  DesiredState& s = g_desired;
  if (s.blend_mode == mode && s.variant == variant && s.alpha_channel == alpha_channel) return 0;
  FlushVertexBatch();
  s.blend_mode = mode;
  s.variant = variant;
  s.alpha_channel = alpha_channel;
  s.state_dirty = 1;
  return 0;
}

int SetDesiredBlendPair(int src, int dst) {
  DesiredState& s = g_desired;
  if (s.pair_src == src && s.pair_dst == dst) return 0;
  FlushVertexBatch();
  s.pair_src = src;
  s.pair_dst = dst;
  s.state_dirty = 1;
  return 0;
}

int SetDesiredTexture(plat::Direct3DTexture9* texture) {
  if (!Dev()) return -1;
  DesiredState& s = g_desired;
  if (s.texture == texture && !Forced()) return 0;
  FlushVertexBatch();
  s.texture_dirty = 1;
  if ((s.texture == nullptr) != (texture == nullptr)) s.state_dirty = 1;
  s.texture = texture;
  return 0;
}

int SetDesiredBlendTexture(plat::Direct3DTexture9* texture, int border_param, int border_range) {
  DesiredState& s = g_desired;
  bool same = texture ? (s.blend_texture == texture && s.border_param == border_param && s.border_range == border_range)
                      : s.blend_texture == nullptr;
  if (same) return 0;
  FlushVertexBatch();
  s.blend_texture = texture;
  if (border_param != -1) s.border_param = border_param;
  if (border_range != -1) s.border_range = border_range;
  s.state_dirty = 1;
  return 0;
}

int SelectDrawBlendState(const int32_t* block, int handles, int textures_only) {
  if (!Dev()) return -1;
  DesiredState& s = g_desired;
  DrawSettings& ds = Draw();
  StateBlock k;
  if (block || ds.user_table_on) {
    BlockFromWords(block ? block : ds.user_table, block ? handles != 0 : true, &k);
    bool only = block ? textures_only != 0 : ds.user_textures_only != 0;
    ApplyBlock(k, only);
    s.state_dirty = s.texture_dirty = 0;
    return 0;
  }
  if (!s.state_dirty && !Forced()) {
    if (!s.texture_dirty) return -1;
    int stage = s.blend_texture ? (DrawVariant() == 1 ? 2 : 1) : 0;
    SetStageTexture(stage, s.texture);
    s.texture_dirty = 0;
    return 0;
  }
  s.state_dirty = s.texture_dirty = 0;
  BuildBlock(&k);
  // A border at 255 leaves nothing of the graphic: its vertices are dropped.
  s.skip_drawing = (s.texture && s.blend_texture && s.border_param >= 255) ? 1 : 0;
  if (k.stage_count != s.stage_count) {
    s.stage_count = k.stage_count;
    RenderStateCache& c = StateCache();
    c.stage_count = k.stage_count;
    int forced = c.forced_refresh;
    c.forced_refresh = 1;
    SetSamplerFilterMode(c.filter_mode == 3 ? ds.filter_mode : c.filter_mode);
    SetMaxAnisotropy(c.max_anisotropy);
    c.forced_refresh = forced;
  }
  if (s.pair_src != -1) k.src = s.pair_src;
  if (s.pair_dst != -1) k.dst = s.pair_dst;
  ApplyBlock(k, false);
  return 0;
}

int ApplyDrawSettings(const GraphicTextureSet* info, plat::Direct3DTexture9* texture, int flags) {
  plat::Direct3DDevice9* d = Dev();
  if (!d) return -1;
  DrawSettings& ds = Draw();
  // 1: the library's own draws run on the fixed-function pipeline, so a
  // shader left bound by a shader draw goes, and with it the FVF it replaced.
  RenderStateCache& sc = StateCache();
  if (!(flags & 0x2000) && (sc.current_vertex_shader || sc.current_pixel_shader)) {
    d->SetVertexShader(nullptr);
    d->SetPixelShader(nullptr);
    sc.current_vertex_shader = nullptr;
    sc.current_pixel_shader = nullptr;
    g_batch.cached_fvf = 0;
  }
  // 2: lighting.
  if (!(flags & 0x200) || !ds.lighting_on) {
    ApplyLightingState(0);
  } else {
    if (LightsChangedFlag()) UpdateLights(0);
    else ApplyLightingState(1);
    if (MaterialChangedFlag()) SetDeviceMaterial(DrawMaterial());
    SetDiffuseFromVertex(ds.diffuse_from_vertex);
    SetSpecularFromVertex(ds.specular_from_vertex);
  }
  // 3: specular.
  int specular = ((flags & 0x400) && ds.specular_on) ? 1 : 0;
  if (g_shadow.specular != specular || Forced()) {
    FlushVertexBatch();
    d->SetRenderState(plat::D3DRS_SPECULARENABLE, uint32_t(specular));
    g_shadow.specular = specular;
  }
  // 4: depth.
  const DepthSettings& z = (flags & 0x800) ? ds.depth3d : ds.depth2d;
  if (z.enable == 0) {
    SetZBufferEnable(0);
  } else {
    SetZBufferEnable(z.enable);
    SetZWriteState(z.write);
    SetZFunctionState(z.function);
    SetDepthBiasState(z.bias);
  }
  // 5: fill mode and fog.
  if (g_shadow.fill_mode != ds.fill_mode || Forced()) {
    FlushVertexBatch();
    d->SetRenderState(plat::D3DRS_FILLMODE, uint32_t(ds.fill_mode));
    g_shadow.fill_mode = ds.fill_mode;
  }
  SetFogEnableState((flags & 0x80) ? ds.fog_enable : 0);
  // 6: blend and texture states.
  if (!(flags & 0x100)) {
    int variant = 0, alpha_channel = 0;
    if (texture && info && (flags & 1) && (info->alpha_test || info->alpha)) {
      if ((ds.blend_mode == 0 || ds.blend_mode == 8) && ((flags & 2) || ds.filter_mode != 1)) {
        variant = info->alpha_test;
        alpha_channel = info->alpha;
      } else {
        variant = 1;
      }
    }
    int bright_in_use = ((flags & 0x20) || ds.bright != 0xFFFFFF) ? 1 : 0;
    int alpha_in_use = ((flags & 0x40) || ds.blend_mode != 0) ? 1 : 0;
    if (bright_in_use != g_desired.bright_in_use || alpha_in_use != g_desired.alpha_in_use) {
      FlushVertexBatch();
      g_desired.bright_in_use = bright_in_use;
      g_desired.alpha_in_use = alpha_in_use;
      g_desired.state_dirty = 1;
    }
    SetDesiredTexture(texture);
    SetDesiredBlendMode(ds.blend_mode, variant, alpha_channel);
    if (g_desired.state_dirty || g_desired.texture_dirty) SelectDrawBlendState(nullptr, 0, 0);
  }
  // 7: shade mode.
  int shade = (flags & 8) ? plat::D3DSHADE_GOURAUD : plat::D3DSHADE_FLAT;
  if (g_shadow.shade_mode != shade || Forced()) {
    FlushVertexBatch();
    d->SetRenderState(plat::D3DRS_SHADEMODE, uint32_t(shade));
    g_shadow.shade_mode = shade;
  }
  // 8: filter, anisotropy, cull mode.
  if (StateCache().filter_mode != ds.filter_mode) SetSamplerFilterMode(ds.filter_mode);
  if (StateCache().max_anisotropy != ds.max_anisotropy) SetMaxAnisotropy(ds.max_anisotropy);
  if (StateCache().cull_mode != ds.cull_mode) SetCullMode(ds.cull_mode);
  // 9: address modes.
  if (flags & 0x1000) {
    for (int i = 0; i < 8; i++) {
      SetTextureAddressU(ds.address[i][0], i);
      SetTextureAddressV(ds.address[i][1], i);
    }
  } else {
    for (int i = 0; i < 4; i++) {
      SetTextureAddressU(plat::D3DTADDRESS_CLAMP, i);
      SetTextureAddressV(plat::D3DTADDRESS_CLAMP, i);
    }
  }
  g_last_info = info;
  g_last_texture = texture;
  g_last_flags = flags;
  return 0;
}

// A new scene starts without a last draw.
int ClearLastDrawWords() {
  g_last_info = nullptr;
  g_last_texture = nullptr;
  g_last_flags = 0;
  return 0;
}

// Re-applies the last draw's settings (the refresh after a rebuild).
int ReapplyLastDraw() {
  if (!Dev()) return -1;
  return ApplyDrawSettings(g_last_info, g_last_texture, g_last_flags);
}

int UpdateLights(int full_refresh) {
  DrawSettings& ds = Draw();
  SetLightingEnable(ds.lighting_on ? 1 : 0);
  if (!LightsChangedFlag() && !full_refresh) return 0;
  static int highest = -1;
  int next = 0;
  for (int type : {3, 2, 1}) {
    for (int i = 0; i < GetLightHighWater(); i++) {
      LightRecord* l = LightRecordAt(i);
      if (!l || !l->enabled || int(l->light.Type) != type) continue;
      int index = next++;
      if (index >= plat::kMaxLights) break;
      if (l->device_index != index || l->changed || full_refresh) {
        l->device_index = index;
        SetDeviceLightAndEnable(index, 1, &l->light);
      }
      l->changed = 0;
    }
  }
  for (int i = next; i <= highest; i++) SetDeviceLightEnable(i, 0);
  highest = next - 1;
  LightsChangedFlag() = 0;
  return 0;
}
