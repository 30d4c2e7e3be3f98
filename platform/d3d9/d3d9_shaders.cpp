// platform/d3d9/d3d9_shaders.cpp - the Direct3D stand-in's programmable-pipeline
// objects: vertex and pixel shaders (their byte code kept, checked against
// the device's shader versions, not run), their constant registers, vertex
// declarations, and volume textures; and the device setting that reports
// shader model 2.0.
//
// Drawing never uses them: the rasteriser is fixed-function, so a device
// with shaders bound draws as it would without them.
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/d3d9/d3d9_internal.h"

namespace plat {

namespace {

int g_shader_model2 = -1;  // -1: not looked at yet

template <typename T>
void Assign(T** slot, T* value) {
  if (value) value->AddRef();
  if (*slot) (*slot)->Release();
  *slot = value;
}

// The byte code's tokens up to and including the end token, when the first
// token is a version of the given kind (0xFFFE vertex, 0xFFFF pixel) that the
// capability allows and the end token comes within a bounded walk.
constexpr uint32_t kEndToken = 0x0000FFFFu;
constexpr size_t kMaxShaderTokens = 1u << 16;

bool ReadShaderCode(const uint32_t* code, uint32_t kind, uint32_t caps_version, std::vector<uint32_t>* out) {
  if (code == nullptr) return false;
  const uint32_t version = code[0];
  if ((version >> 16) != kind || (caps_version >> 16) != kind) return false;
  if ((version & 0xFFFF) < 0x0200 || (version & 0xFFFF) > (caps_version & 0xFFFF)) return false;
  size_t i = 1;
  while (i < kMaxShaderTokens) {
    const uint32_t t = code[i];
    if (t == kEndToken) {
      out->assign(code, code + i + 1);
      return true;
    }
    // A comment gives its length in words in bits 16-30; an instruction of
    // version 2.0 and up gives the count of its following tokens in bits 24-27.
    i += 1 + ((t & 0xFFFF) == 0xFFFE ? ((t >> 16) & 0x7FFF) : ((t >> 24) & 0xF));
  }
  return false;
}

}  // namespace

void SetShaderModel2Reported(bool on) { g_shader_model2 = on ? 1 : 0; }

bool ShaderModel2Reported() {
  if (g_shader_model2 < 0) {
    const char* v = std::getenv("RORUD_D3D_SHADER_MODEL");
    g_shader_model2 = (v != nullptr && std::strcmp(v, "2") == 0) ? 1 : 0;
  }
  return g_shader_model2 == 1;
}

// ---- Shader objects ----

HRESULT Direct3DShaderCode::GetFunction(void* data, uint32_t* size) const {
  if (!size) return D3DERR_INVALIDCALL;
  const uint32_t bytes = uint32_t(tokens_.size() * 4);
  if (data) {
    if (*size < bytes) return D3DERR_INVALIDCALL;
    std::memcpy(data, tokens_.data(), bytes);
  }
  *size = bytes;
  return D3D_OK;
}

HRESULT Direct3DVertexDeclaration9::GetDeclaration(D3DVERTEXELEMENT9* elements, uint32_t* count) const {
  if (!count) return D3DERR_INVALIDCALL;
  if (elements) std::memcpy(elements, elements_.data(), elements_.size() * sizeof(D3DVERTEXELEMENT9));
  *count = uint32_t(elements_.size());
  return D3D_OK;
}

HRESULT Direct3DDevice9::CreateVertexShader(const uint32_t* code, Direct3DVertexShader9** out) {
  Record("CreateVertexShader");
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  std::vector<uint32_t> tokens;
  if (!ReadShaderCode(code, 0xFFFE, CurrentDeviceCaps().VertexShaderVersion, &tokens)) return D3DERR_INVALIDCALL;
  *out = new (std::nothrow) Direct3DVertexShader9(shared_, std::move(tokens));
  return *out ? D3D_OK : E_OUTOFMEMORY_RESULT;
}

HRESULT Direct3DDevice9::CreatePixelShader(const uint32_t* code, Direct3DPixelShader9** out) {
  Record("CreatePixelShader");
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  std::vector<uint32_t> tokens;
  if (!ReadShaderCode(code, 0xFFFF, CurrentDeviceCaps().PixelShaderVersion, &tokens)) return D3DERR_INVALIDCALL;
  *out = new (std::nothrow) Direct3DPixelShader9(shared_, std::move(tokens));
  return *out ? D3D_OK : E_OUTOFMEMORY_RESULT;
}

HRESULT Direct3DDevice9::SetVertexShader(Direct3DVertexShader9* shader) {
  Record("SetVertexShader", shader);
  Assign(&vertex_shader_, shader);
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetPixelShader(Direct3DPixelShader9* shader) {
  Record("SetPixelShader", shader);
  Assign(&pixel_shader_, shader);
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetVertexShader(Direct3DVertexShader9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = vertex_shader_;
  if (*out) (*out)->AddRef();
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetPixelShader(Direct3DPixelShader9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = pixel_shader_;
  if (*out) (*out)->AddRef();
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetVertexShaderConstantF(uint32_t first, const float* data, uint32_t count) {
  Record("SetVertexShaderConstantF", first, count);
  if (!data || uint64_t(first) + count > 256) return D3DERR_INVALIDCALL;
  std::memcpy(vertex_constants_[first], data, sizeof(float) * 4 * count);
  return D3D_OK;
}

HRESULT Direct3DDevice9::SetPixelShaderConstantF(uint32_t first, const float* data, uint32_t count) {
  Record("SetPixelShaderConstantF", first, count);
  if (!data || uint64_t(first) + count > 32) return D3DERR_INVALIDCALL;
  std::memcpy(pixel_constants_[first], data, sizeof(float) * 4 * count);
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetVertexShaderConstantF(uint32_t first, float* data, uint32_t count) const {
  if (!data || uint64_t(first) + count > 256) return D3DERR_INVALIDCALL;
  std::memcpy(data, vertex_constants_[first], sizeof(float) * 4 * count);
  return D3D_OK;
}

HRESULT Direct3DDevice9::GetPixelShaderConstantF(uint32_t first, float* data, uint32_t count) const {
  if (!data || uint64_t(first) + count > 32) return D3DERR_INVALIDCALL;
  std::memcpy(data, pixel_constants_[first], sizeof(float) * 4 * count);
  return D3D_OK;
}

namespace {

// Copies `count` items of `width` values between the caller and a register
// file of `size` items; false when the range does not fit.
bool CopyIn(int32_t* file, uint32_t size, uint32_t width, uint32_t first, const int32_t* data, uint32_t count) {
  if (!data || uint64_t(first) + count > size) return false;
  std::memcpy(file + size_t(first) * width, data, sizeof(int32_t) * width * count);
  return true;
}

bool CopyOut(const int32_t* file, uint32_t size, uint32_t width, uint32_t first, int32_t* data, uint32_t count) {
  if (!data || uint64_t(first) + count > size) return false;
  std::memcpy(data, file + size_t(first) * width, sizeof(int32_t) * width * count);
  return true;
}

HRESULT Result(bool ok) { return ok ? D3D_OK : D3DERR_INVALIDCALL; }

}  // namespace

HRESULT Direct3DDevice9::SetVertexShaderConstantI(uint32_t first, const int32_t* data, uint32_t count) {
  Record("SetVertexShaderConstantI", first, count);
  return Result(CopyIn(&vertex_int_constants_[0][0], 16, 4, first, data, count));
}

HRESULT Direct3DDevice9::SetPixelShaderConstantI(uint32_t first, const int32_t* data, uint32_t count) {
  Record("SetPixelShaderConstantI", first, count);
  return Result(CopyIn(&pixel_int_constants_[0][0], 16, 4, first, data, count));
}

HRESULT Direct3DDevice9::GetVertexShaderConstantI(uint32_t first, int32_t* data, uint32_t count) const {
  return Result(CopyOut(&vertex_int_constants_[0][0], 16, 4, first, data, count));
}

HRESULT Direct3DDevice9::GetPixelShaderConstantI(uint32_t first, int32_t* data, uint32_t count) const {
  return Result(CopyOut(&pixel_int_constants_[0][0], 16, 4, first, data, count));
}

HRESULT Direct3DDevice9::SetVertexShaderConstantB(uint32_t first, const int32_t* data, uint32_t count) {
  Record("SetVertexShaderConstantB", first, count);
  return Result(CopyIn(vertex_bool_constants_, 16, 1, first, data, count));
}

HRESULT Direct3DDevice9::SetPixelShaderConstantB(uint32_t first, const int32_t* data, uint32_t count) {
  Record("SetPixelShaderConstantB", first, count);
  return Result(CopyIn(pixel_bool_constants_, 16, 1, first, data, count));
}

HRESULT Direct3DDevice9::GetVertexShaderConstantB(uint32_t first, int32_t* data, uint32_t count) const {
  return Result(CopyOut(vertex_bool_constants_, 16, 1, first, data, count));
}

HRESULT Direct3DDevice9::GetPixelShaderConstantB(uint32_t first, int32_t* data, uint32_t count) const {
  return Result(CopyOut(pixel_bool_constants_, 16, 1, first, data, count));
}

// ---- Vertex declarations ----

HRESULT Direct3DDevice9::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                                 Direct3DVertexDeclaration9** out) {
  Record("CreateVertexDeclaration");
  if (!elements || !out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  std::vector<D3DVERTEXELEMENT9> list;
  for (int i = 0;; ++i) {
    if (i == kMaxDeclarationElements) return D3DERR_INVALIDCALL;
    const D3DVERTEXELEMENT9& e = elements[i];
    list.push_back(e);
    if (e.Stream == 0xFF) break;
    // One stream, the types and usages this device knows.
    if (e.Stream != 0 || (e.Type > D3DDECLTYPE_UBYTE4) || e.Method != D3DDECLMETHOD_DEFAULT) return D3DERR_INVALIDCALL;
  }
  *out = new (std::nothrow) Direct3DVertexDeclaration9(shared_, std::move(list));
  return *out ? D3D_OK : E_OUTOFMEMORY_RESULT;
}

HRESULT Direct3DDevice9::SetVertexDeclaration(Direct3DVertexDeclaration9* declaration) {
  Record("SetVertexDeclaration", declaration);
  Assign(&declaration_, declaration);
  return D3D_OK;
}

void Direct3DDevice9::ReleaseShaderBindings() {
  Assign<Direct3DVertexShader9>(&vertex_shader_, nullptr);
  Assign<Direct3DPixelShader9>(&pixel_shader_, nullptr);
  Assign<Direct3DVertexDeclaration9>(&declaration_, nullptr);
}

// ---- Volume textures ----

HRESULT Direct3DDevice9::CreateVolumeTexture(uint32_t width, uint32_t height, uint32_t depth, uint32_t levels,
                                             uint32_t usage, D3DFORMAT format, uint32_t pool,
                                             Direct3DVolumeTexture9** out, void* shared) {
  Record("CreateVolumeTexture", width, height, depth, levels, usage, format, pool);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  const int bpp = IsColorFormat(format) ? FormatBytesPerPixel(format) : 0;
  if (bpp == 0 || width == 0 || height == 0 || depth == 0 || width > 2048 || height > 2048 || depth > 2048 ||
      pool > D3DPOOL_SYSTEMMEM || shared)
    return D3DERR_INVALIDCALL;
  auto* t = new (std::nothrow) Direct3DVolumeTexture9(shared_);
  if (!t) return E_OUTOFMEMORY_RESULT;
  t->format_ = format;
  t->usage_ = usage;
  t->pool_ = pool;
  uint32_t w = width, h = height, d = depth;
  for (uint32_t i = 0; levels == 0 || i < levels; ++i) {
    Direct3DVolumeTexture9::Level level{w, h, d, int(w) * bpp, int(w * h) * bpp, {}, false};
    const size_t bytes = size_t(level.slice_pitch) * d;
    try {
      level.bytes.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
      t->Release();
      return D3DERR_OUTOFVIDEOMEMORY;
    }
    t->levels_.push_back(std::move(level));
    if (w == 1 && h == 1 && d == 1) break;
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
    d = d > 1 ? d / 2 : 1;
  }
  *out = t;
  return D3D_OK;
}

HRESULT Direct3DVolumeTexture9::GetLevelDesc(uint32_t level, D3DVOLUME_DESC* desc) const {
  if (!desc || level >= levels_.size()) return D3DERR_INVALIDCALL;
  const Level& l = levels_[level];
  *desc = {format_, D3DRTYPE_VOLUMETEXTURE, usage_, pool_, l.width, l.height, l.depth};
  return D3D_OK;
}

HRESULT Direct3DVolumeTexture9::LockBox(uint32_t level, D3DLOCKED_BOX* locked, const D3DBOX* box, uint32_t flags) {
  if (!locked || level >= levels_.size()) return D3DERR_INVALIDCALL;
  Level& l = levels_[level];
  // Video-memory volumes can be written only through a copy from system memory.
  if (l.locked || (pool_ == D3DPOOL_DEFAULT && !(usage_ & D3DUSAGE_DYNAMIC))) return D3DERR_INVALIDCALL;
  D3DBOX b = box ? *box : D3DBOX{0, 0, l.width, l.height, 0, l.depth};
  if (b.Left >= b.Right || b.Top >= b.Bottom || b.Front >= b.Back || b.Right > l.width || b.Bottom > l.height ||
      b.Back > l.depth)
    return D3DERR_INVALIDCALL;
  const int bpp = FormatBytesPerPixel(format_);
  locked->RowPitch = l.row_pitch;
  locked->SlicePitch = l.slice_pitch;
  locked->pBits = l.bytes.data() + size_t(b.Front) * l.slice_pitch + size_t(b.Top) * l.row_pitch +
                  size_t(b.Left) * bpp;
  l.locked = true;
  return D3D_OK;
}

HRESULT Direct3DVolumeTexture9::UnlockBox(uint32_t level) {
  if (level >= levels_.size() || !levels_[level].locked) return D3DERR_INVALIDCALL;
  levels_[level].locked = false;
  return D3D_OK;
}

HRESULT Direct3DDevice9::UpdateTexture(Direct3DVolumeTexture9* source, Direct3DVolumeTexture9* dest) {
  Record("UpdateTexture", source, dest);
  if (!source || !dest || source->pool_ != D3DPOOL_SYSTEMMEM || dest->pool_ != D3DPOOL_DEFAULT ||
      source->format_ != dest->format_ || dest->levels_.size() > source->levels_.size())
    return D3DERR_INVALIDCALL;
  const size_t skip = source->levels_.size() - dest->levels_.size();
  for (size_t i = 0; i < dest->levels_.size(); ++i) {
    const auto& s = source->levels_[i + skip];
    const auto& d = dest->levels_[i];
    if (s.width != d.width || s.height != d.height || s.depth != d.depth) return D3DERR_INVALIDCALL;
  }
  if (shared_->lost || !shared_->draws) return D3D_OK;
  for (size_t i = 0; i < dest->levels_.size(); ++i) dest->levels_[i].bytes = source->levels_[i + skip].bytes;
  return D3D_OK;
}

}  // namespace plat
