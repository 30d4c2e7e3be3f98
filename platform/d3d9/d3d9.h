// platform/d3d9/d3d9.h - the Direct3D 9 stand-in: a factory, a device drawing in
// software, and reference-counted surfaces, textures, swap chains and vertex
// and index buffers. Results are integers: 0 success, negative failure.
//
// Owns: the software rasteriser (deterministic: pixel centres on integer
// coordinates, top-left fill rule, vertex positions snapped to 1/256 pixel),
// the device-loss simulation, the capability overrides used by tests, and the
// call recorder.
// Does not own: the window the frames are shown in (platform/window/window.h) and
// the vertical-blank clock (platform/d3d9/ddraw.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

using HRESULT = int32_t;

// ---- Results ------------------------------------------------------------------

constexpr HRESULT D3D_OK = 0;
constexpr HRESULT D3DERR_NOTFOUND = static_cast<int32_t>(0x88760866u);
constexpr HRESULT D3DERR_DEVICELOST = static_cast<int32_t>(0x88760868u);
constexpr HRESULT D3DERR_DEVICENOTRESET = static_cast<int32_t>(0x88760869u);
constexpr HRESULT D3DERR_NOTAVAILABLE = static_cast<int32_t>(0x8876086Au);
constexpr HRESULT D3DERR_INVALIDCALL = static_cast<int32_t>(0x8876086Cu);
constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = static_cast<int32_t>(0x8876017Cu);
constexpr HRESULT E_OUTOFMEMORY_RESULT = static_cast<int32_t>(0x8007000Eu);

// ---- Formats ------------------------------------------------------------------

using D3DFORMAT = uint32_t;
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
         (uint32_t(uint8_t(d)) << 24);
}
constexpr D3DFORMAT D3DFMT_UNKNOWN = 0;
constexpr D3DFORMAT D3DFMT_A8R8G8B8 = 21;
constexpr D3DFORMAT D3DFMT_X8R8G8B8 = 22;
constexpr D3DFORMAT D3DFMT_R5G6B5 = 23;
constexpr D3DFORMAT D3DFMT_X1R5G5B5 = 24;
constexpr D3DFORMAT D3DFMT_A1R5G5B5 = 25;
constexpr D3DFORMAT D3DFMT_A4R4G4B4 = 26;
constexpr D3DFORMAT D3DFMT_A2R10G10B10 = 35;
constexpr D3DFORMAT D3DFMT_D32 = 71;
constexpr D3DFORMAT D3DFMT_D24S8 = 75;
constexpr D3DFORMAT D3DFMT_D24X8 = 77;
constexpr D3DFORMAT D3DFMT_D16 = 80;
constexpr D3DFORMAT D3DFMT_INDEX16 = 101;
constexpr D3DFORMAT D3DFMT_INDEX32 = 102;
constexpr D3DFORMAT D3DFMT_A16B16G16R16F = 113;
constexpr D3DFORMAT D3DFMT_A32B32G32R32F = 116;
constexpr D3DFORMAT D3DFMT_DXT1 = MakeFourCC('D', 'X', 'T', '1');
constexpr D3DFORMAT D3DFMT_DXT2 = MakeFourCC('D', 'X', 'T', '2');
constexpr D3DFORMAT D3DFMT_DXT3 = MakeFourCC('D', 'X', 'T', '3');
constexpr D3DFORMAT D3DFMT_DXT4 = MakeFourCC('D', 'X', 'T', '4');
constexpr D3DFORMAT D3DFMT_DXT5 = MakeFourCC('D', 'X', 'T', '5');
// Video layouts, offscreen plain surfaces only.
constexpr D3DFORMAT D3DFMT_YV12 = MakeFourCC('Y', 'V', '1', '2');
constexpr D3DFORMAT D3DFMT_YUY2 = MakeFourCC('Y', 'U', 'Y', '2');
constexpr D3DFORMAT D3DFMT_UYVY = MakeFourCC('U', 'Y', 'V', 'Y');

// The colour formats the device can hold: bytes per pixel (0 for any other
// format), and one decode to / encode from 0xAARRGGBB each. Formats without
// alpha decode with alpha 255.
int FormatBytesPerPixel(D3DFORMAT format);
bool IsColorFormat(D3DFORMAT format);
bool IsYuvFormat(D3DFORMAT format);
// One pixel of a YUV surface's bytes as 0xAARRGGBB.
uint32_t ReadYuvPixel(D3DFORMAT format, const uint8_t* bits, int pitch, uint32_t height, int x, int y);
bool IsDepthFormat(D3DFORMAT format);
bool FormatHasAlpha(D3DFORMAT format);
uint32_t DecodePixel(D3DFORMAT format, const void* pixel);
void EncodePixel(D3DFORMAT format, uint32_t argb, void* pixel);
const char* FormatName(D3DFORMAT format);

// ---- Enumerations -------------------------------------------------------------

enum : uint32_t {
  D3DDEVTYPE_HAL = 1, D3DDEVTYPE_REF = 2,
  D3DRTYPE_SURFACE = 1, D3DRTYPE_TEXTURE = 3, D3DRTYPE_VOLUMETEXTURE = 4,
  D3DRTYPE_VERTEXBUFFER = 6, D3DRTYPE_INDEXBUFFER = 7,
  D3DUSAGE_RENDERTARGET = 0x1, D3DUSAGE_DEPTHSTENCIL = 0x2, D3DUSAGE_WRITEONLY = 0x8,
  D3DUSAGE_DYNAMIC = 0x200,
  D3DPOOL_DEFAULT = 0, D3DPOOL_MANAGED = 1, D3DPOOL_SYSTEMMEM = 2, D3DPOOL_SCRATCH = 3,
  D3DLOCK_READONLY = 0x10, D3DLOCK_DISCARD = 0x2000, D3DLOCK_NOOVERWRITE = 0x1000,
  D3DLOCK_NOSYSLOCK = 0x800,
  D3DCLEAR_TARGET = 1, D3DCLEAR_ZBUFFER = 2, D3DCLEAR_STENCIL = 4,
  D3DSWAPEFFECT_DISCARD = 1, D3DSWAPEFFECT_FLIP = 2, D3DSWAPEFFECT_COPY = 3,
  D3DPRESENTFLAG_LOCKABLE_BACKBUFFER = 1,
  D3DPRESENT_INTERVAL_DEFAULT = 0, D3DPRESENT_INTERVAL_ONE = 1,
  D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000u,
  D3DBACKBUFFER_TYPE_MONO = 0,
  D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20, D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40,
  D3DCREATE_MIXED_VERTEXPROCESSING = 0x80,
  D3DMULTISAMPLE_NONE = 0,
  D3DSCANLINEORDERING_PROGRESSIVE = 1,
};

// Primitive types.
enum : uint32_t {
  D3DPT_POINTLIST = 1, D3DPT_LINELIST = 2, D3DPT_LINESTRIP = 3,
  D3DPT_TRIANGLELIST = 4, D3DPT_TRIANGLESTRIP = 5, D3DPT_TRIANGLEFAN = 6,
};

// Flexible vertex format bits.
enum : uint32_t {
  D3DFVF_XYZ = 0x002, D3DFVF_XYZRHW = 0x004, D3DFVF_POSITION_MASK = 0x00E,
  D3DFVF_NORMAL = 0x010, D3DFVF_PSIZE = 0x020, D3DFVF_DIFFUSE = 0x040, D3DFVF_SPECULAR = 0x080,
  D3DFVF_TEXCOUNT_MASK = 0xF00, D3DFVF_TEXCOUNT_SHIFT = 8,
  D3DFVF_TEX1 = 0x100, D3DFVF_TEX2 = 0x200,
};

// Render states.
enum : uint32_t {
  D3DRS_ZENABLE = 7, D3DRS_FILLMODE = 8, D3DRS_SHADEMODE = 9, D3DRS_ZWRITEENABLE = 14,
  D3DRS_ALPHATESTENABLE = 15, D3DRS_SRCBLEND = 19, D3DRS_DESTBLEND = 20, D3DRS_CULLMODE = 22,
  D3DRS_ZFUNC = 23, D3DRS_ALPHAREF = 24, D3DRS_ALPHAFUNC = 25, D3DRS_DITHERENABLE = 26,
  D3DRS_ALPHABLENDENABLE = 27, D3DRS_FOGENABLE = 28, D3DRS_SPECULARENABLE = 29,
  D3DRS_FOGCOLOR = 34, D3DRS_FOGTABLEMODE = 35, D3DRS_FOGSTART = 36, D3DRS_FOGEND = 37,
  D3DRS_FOGDENSITY = 38, D3DRS_TEXTUREFACTOR = 60, D3DRS_LIGHTING = 137, D3DRS_AMBIENT = 139,
  D3DRS_FOGVERTEXMODE = 140, D3DRS_COLORVERTEX = 141, D3DRS_NORMALIZENORMALS = 143,
  D3DRS_DIFFUSEMATERIALSOURCE = 145, D3DRS_SPECULARMATERIALSOURCE = 146,
  D3DRS_AMBIENTMATERIALSOURCE = 147, D3DRS_EMISSIVEMATERIALSOURCE = 148,
  D3DRS_COLORWRITEENABLE = 168, D3DRS_BLENDOP = 171, D3DRS_SCISSORTESTENABLE = 174,
  D3DRS_DEPTHBIAS = 195, D3DRS_SEPARATEALPHABLENDENABLE = 206,
  kRenderStateCount = 256,
};

// Render-state values.
enum : uint32_t {
  D3DFILL_POINT = 1, D3DFILL_WIREFRAME = 2, D3DFILL_SOLID = 3,
  D3DSHADE_FLAT = 1, D3DSHADE_GOURAUD = 2,
  D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3,
  D3DCMP_NEVER = 1, D3DCMP_LESS = 2, D3DCMP_EQUAL = 3, D3DCMP_LESSEQUAL = 4,
  D3DCMP_GREATER = 5, D3DCMP_NOTEQUAL = 6, D3DCMP_GREATEREQUAL = 7, D3DCMP_ALWAYS = 8,
  D3DBLEND_ZERO = 1, D3DBLEND_ONE = 2, D3DBLEND_SRCCOLOR = 3, D3DBLEND_INVSRCCOLOR = 4,
  D3DBLEND_SRCALPHA = 5, D3DBLEND_INVSRCALPHA = 6, D3DBLEND_DESTALPHA = 7,
  D3DBLEND_INVDESTALPHA = 8, D3DBLEND_DESTCOLOR = 9, D3DBLEND_INVDESTCOLOR = 10,
  D3DBLEND_SRCALPHASAT = 11, D3DBLEND_BOTHSRCALPHA = 12, D3DBLEND_BOTHINVSRCALPHA = 13,
  D3DBLENDOP_ADD = 1, D3DBLENDOP_SUBTRACT = 2, D3DBLENDOP_REVSUBTRACT = 3,
  D3DBLENDOP_MIN = 4, D3DBLENDOP_MAX = 5,
  D3DMCS_MATERIAL = 0, D3DMCS_COLOR1 = 1, D3DMCS_COLOR2 = 2,
};

// Texture-stage states, operations and arguments.
enum : uint32_t {
  D3DTSS_COLOROP = 1, D3DTSS_COLORARG1 = 2, D3DTSS_COLORARG2 = 3, D3DTSS_ALPHAOP = 4,
  D3DTSS_ALPHAARG1 = 5, D3DTSS_ALPHAARG2 = 6, D3DTSS_TEXCOORDINDEX = 11,
  D3DTSS_TEXTURETRANSFORMFLAGS = 24, D3DTSS_COLORARG0 = 26, D3DTSS_ALPHAARG0 = 27,
  D3DTSS_RESULTARG = 28, kTextureStageStateCount = 33,
  D3DTOP_DISABLE = 1, D3DTOP_SELECTARG1 = 2, D3DTOP_SELECTARG2 = 3, D3DTOP_MODULATE = 4,
  D3DTOP_MODULATE2X = 5, D3DTOP_MODULATE4X = 6, D3DTOP_ADD = 7, D3DTOP_ADDSIGNED = 8,
  D3DTOP_ADDSIGNED2X = 9, D3DTOP_SUBTRACT = 10, D3DTOP_ADDSMOOTH = 11,
  D3DTOP_BLENDDIFFUSEALPHA = 12, D3DTOP_BLENDTEXTUREALPHA = 13, D3DTOP_BLENDFACTORALPHA = 14,
  D3DTOP_BLENDTEXTUREALPHAPM = 15, D3DTOP_BLENDCURRENTALPHA = 16,
  D3DTA_DIFFUSE = 0, D3DTA_CURRENT = 1, D3DTA_TEXTURE = 2, D3DTA_TFACTOR = 3,
  D3DTA_SPECULAR = 4, D3DTA_TEMP = 5, D3DTA_CONSTANT = 6, D3DTA_SELECTMASK = 0xF,
  D3DTA_COMPLEMENT = 0x10, D3DTA_ALPHAREPLICATE = 0x20,
  D3DTTFF_DISABLE = 0, D3DTTFF_COUNT2 = 2, D3DTTFF_COUNT3 = 3,
};

// Sampler states and values.
enum : uint32_t {
  D3DSAMP_ADDRESSU = 1, D3DSAMP_ADDRESSV = 2, D3DSAMP_ADDRESSW = 3, D3DSAMP_BORDERCOLOR = 4,
  D3DSAMP_MAGFILTER = 5, D3DSAMP_MINFILTER = 6, D3DSAMP_MIPFILTER = 7,
  D3DSAMP_MAXANISOTROPY = 10, kSamplerStateCount = 14,
  D3DTADDRESS_WRAP = 1, D3DTADDRESS_MIRROR = 2, D3DTADDRESS_CLAMP = 3, D3DTADDRESS_BORDER = 4,
  D3DTEXF_NONE = 0, D3DTEXF_POINT = 1, D3DTEXF_LINEAR = 2, D3DTEXF_ANISOTROPIC = 3,
};

// Transform states.
enum : uint32_t {
  D3DTS_VIEW = 2, D3DTS_PROJECTION = 3, D3DTS_TEXTURE0 = 16, D3DTS_WORLD = 256,
};

// Vertex declarations: element types, methods and usages.
enum : uint8_t {
  D3DDECLTYPE_FLOAT1 = 0, D3DDECLTYPE_FLOAT2 = 1, D3DDECLTYPE_FLOAT3 = 2, D3DDECLTYPE_FLOAT4 = 3,
  D3DDECLTYPE_D3DCOLOR = 4, D3DDECLTYPE_UBYTE4 = 5, D3DDECLTYPE_UNUSED = 17,
  D3DDECLMETHOD_DEFAULT = 0,
  D3DDECLUSAGE_POSITION = 0, D3DDECLUSAGE_BLENDWEIGHT = 1, D3DDECLUSAGE_BLENDINDICES = 2,
  D3DDECLUSAGE_NORMAL = 3, D3DDECLUSAGE_TEXCOORD = 5, D3DDECLUSAGE_COLOR = 10,
};

// Capability bits the library reads.
enum : uint32_t {
  D3DPMISCCAPS_TSSARGTEMP = 1u << 10, D3DPMISCCAPS_BLENDOP = 1u << 11,
  D3DPTEXTURECAPS_POW2 = 1u << 1, D3DPTEXTURECAPS_SQUAREONLY = 1u << 5,
  D3DPTEXTURECAPS_NONPOW2CONDITIONAL = 1u << 8,
};

constexpr int kMaxTextureStages = 8;
constexpr int kMaxLights = 256;

// ---- Records --------------------------------------------------------------------

struct RECT { int32_t left, top, right, bottom; };
struct POINT { int32_t x, y; };

struct D3DDISPLAYMODE {
  uint32_t Width, Height, RefreshRate;
  D3DFORMAT Format;
};
struct D3DDISPLAYMODEEX {
  uint32_t Size, Width, Height, RefreshRate;
  D3DFORMAT Format;
  uint32_t ScanLineOrdering;
};

// The window the device presents to (platform/window/window.h).
struct Window;
using WindowHandle = Window*;

struct D3DPRESENT_PARAMETERS {
  uint32_t BackBufferWidth, BackBufferHeight;
  D3DFORMAT BackBufferFormat;
  uint32_t BackBufferCount;
  uint32_t MultiSampleType, MultiSampleQuality;
  uint32_t SwapEffect;
  WindowHandle hDeviceWindow;
  int32_t Windowed;
  int32_t EnableAutoDepthStencil;
  D3DFORMAT AutoDepthStencilFormat;
  uint32_t Flags;
  uint32_t FullScreen_RefreshRateInHz;
  uint32_t PresentationInterval;
};

struct D3DCAPS9 {
  uint32_t DeviceType, AdapterOrdinal;
  uint32_t Caps, Caps2, Caps3, PresentationIntervals;
  uint32_t DevCaps, PrimitiveMiscCaps, RasterCaps, ZCmpCaps, SrcBlendCaps, DestBlendCaps;
  uint32_t AlphaCmpCaps, ShadeCaps, TextureCaps, TextureFilterCaps, TextureAddressCaps;
  uint32_t MaxTextureWidth, MaxTextureHeight, MaxTextureAspectRatio, MaxAnisotropy;
  uint32_t TextureOpCaps, MaxTextureBlendStages, MaxSimultaneousTextures;
  uint32_t MaxActiveLights, MaxPrimitiveCount, MaxVertexIndex, MaxStreams;
  uint32_t VertexShaderVersion, PixelShaderVersion;
  uint32_t NumSimultaneousRTs;
};

struct D3DADAPTER_IDENTIFIER9 {
  char Driver[512];
  char Description[512];
  char DeviceName[32];
  uint32_t VendorId, DeviceId, SubSysId, Revision;
};

struct D3DSURFACE_DESC {
  D3DFORMAT Format;
  uint32_t Type, Usage, Pool, MultiSampleType, MultiSampleQuality;
  uint32_t Width, Height;
};
struct D3DVERTEXBUFFER_DESC {
  D3DFORMAT Format;
  uint32_t Type, Usage, Pool, Size, FVF;
};
struct D3DINDEXBUFFER_DESC {
  D3DFORMAT Format;
  uint32_t Type, Usage, Pool, Size;
};

struct D3DLOCKED_RECT {
  int32_t Pitch;
  void* pBits;
};

struct D3DLOCKED_BOX {
  int32_t RowPitch, SlicePitch;
  void* pBits;
};
struct D3DBOX {
  uint32_t Left, Top, Right, Bottom, Front, Back;
};
struct D3DVOLUME_DESC {
  D3DFORMAT Format;
  uint32_t Type, Usage, Pool;
  uint32_t Width, Height, Depth;
};

// One element of a vertex declaration; a list ends with D3DDECL_END().
struct D3DVERTEXELEMENT9 {
  uint16_t Stream, Offset;
  uint8_t Type, Method, Usage, UsageIndex;
};
constexpr D3DVERTEXELEMENT9 D3DDECL_END() { return {0xFF, 0, D3DDECLTYPE_UNUSED, 0, 0, 0}; }
constexpr int kMaxDeclarationElements = 64;

struct D3DVIEWPORT9 {
  uint32_t X, Y, Width, Height;
  float MinZ, MaxZ;
};

struct D3DMATRIX { float m[4][4]; };
struct D3DCOLORVALUE { float r, g, b, a; };
struct D3DVECTOR { float x, y, z; };
struct D3DMATERIAL9 { D3DCOLORVALUE Diffuse, Ambient, Specular, Emissive; float Power; };
struct D3DLIGHT9 {
  uint32_t Type;  // 1 point, 2 spot, 3 directional
  D3DCOLORVALUE Diffuse, Specular, Ambient;
  D3DVECTOR Position, Direction;
  float Range, Falloff, Attenuation0, Attenuation1, Attenuation2, Theta, Phi;
};

// ---- Objects --------------------------------------------------------------------

class Direct3DDevice9;
struct DeviceShared;
struct TexelView;
class Direct3DSurface9;
void MarkSurfaceChanged(Direct3DSurface9* surface);
TexelView GetTexelView(Direct3DSurface9* surface);

// The reference count every object carries. A new object starts at 1; the
// last Release destroys it. Objects made by a device count towards that
// device's live-object count until they are destroyed.
class Direct3DResource {
 public:
  uint32_t AddRef();
  uint32_t Release();
  uint32_t RefCountForTest() const { return refs_; }

 protected:
  // counted: whether the object counts as live on its own (a level of a
  // texture or the back buffer of a swap chain lives inside its container).
  explicit Direct3DResource(std::shared_ptr<DeviceShared> shared, bool counted = true);
  virtual ~Direct3DResource();
  Direct3DResource(const Direct3DResource&) = delete;
  Direct3DResource& operator=(const Direct3DResource&) = delete;
  std::shared_ptr<DeviceShared> shared_;
  // A contained object forwards its reference count to its container.
  Direct3DResource* container_ = nullptr;
  bool counted_;

 private:
  uint32_t refs_ = 1;
};

// A 2-D array of pixels in one format with its true pitch. Depth surfaces
// keep one float per pixel.
class Direct3DSurface9 : public Direct3DResource {
 public:
  ~Direct3DSurface9() override;
  HRESULT GetDesc(D3DSURFACE_DESC* desc) const;
  HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, uint32_t flags);
  HRESULT UnlockRect();

  // Direct pixel access for the platform layer and tests.
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  D3DFORMAT format() const { return format_; }
  int pitch() const { return pitch_; }
  uint8_t* bits() { return pixels_.data(); }
  const uint8_t* bits() const { return pixels_.data(); }
  float* depth() { return depth_.data(); }
  uint32_t ReadPixel(int x, int y) const;   // 0xAARRGGBB
  void WritePixel(int x, int y, uint32_t argb);

 private:
  friend class Direct3DDevice9;
  friend class Direct3DTexture9;
  friend class Direct3DSwapChain9;
  friend void MarkSurfaceChanged(Direct3DSurface9* surface);
  friend TexelView GetTexelView(Direct3DSurface9* surface);
  Direct3DSurface9(std::shared_ptr<DeviceShared> shared, uint32_t w, uint32_t h, D3DFORMAT f,
                   uint32_t usage, uint32_t pool, bool lockable, Direct3DResource* container);
  // The surface, or null when there is no memory for it or its pixels.
  static Direct3DSurface9* Make(std::shared_ptr<DeviceShared> shared, uint32_t w, uint32_t h, D3DFORMAT f,
                                uint32_t usage, uint32_t pool, bool lockable,
                                Direct3DResource* container) noexcept;
  uint32_t width_, height_;
  D3DFORMAT format_;
  uint32_t usage_, pool_;
  bool lockable_;
  bool locked_ = false;
  int pitch_ = 0;
  std::vector<uint8_t> pixels_;
  std::vector<float> depth_;
  uint64_t version_ = 1, cache_version_ = 0;
  std::vector<uint32_t> cache_;  // decoded texels of a 16-bit format
};

class Direct3DTexture9 : public Direct3DResource {
 public:
  uint32_t GetLevelCount() const { return static_cast<uint32_t>(levels_.size()); }
  HRESULT GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc) const;
  HRESULT GetSurfaceLevel(uint32_t level, Direct3DSurface9** surface);
  HRESULT LockRect(uint32_t level, D3DLOCKED_RECT* locked, const RECT* rect, uint32_t flags);
  HRESULT UnlockRect(uint32_t level);
  Direct3DSurface9* level(uint32_t i) { return levels_[i]; }

 private:
  friend class Direct3DDevice9;
  Direct3DTexture9(std::shared_ptr<DeviceShared> shared) : Direct3DResource(std::move(shared)) {}
  ~Direct3DTexture9() override;
  uint32_t usage_ = 0, pool_ = 0;
  std::vector<Direct3DSurface9*> levels_;  // owned: destroyed with the texture
};

class Direct3DVertexBuffer9 : public Direct3DResource {
 public:
  HRESULT Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags);
  HRESULT Unlock();
  HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) const;
  const uint8_t* data() const { return bytes_.data(); }

 private:
  friend class Direct3DDevice9;
  Direct3DVertexBuffer9(std::shared_ptr<DeviceShared> shared) : Direct3DResource(std::move(shared)) {}
  D3DVERTEXBUFFER_DESC desc_{};
  std::vector<uint8_t> bytes_;
  bool locked_ = false;
};

class Direct3DIndexBuffer9 : public Direct3DResource {
 public:
  HRESULT Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags);
  HRESULT Unlock();
  HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) const;
  const uint8_t* data() const { return bytes_.data(); }

 private:
  friend class Direct3DDevice9;
  Direct3DIndexBuffer9(std::shared_ptr<DeviceShared> shared) : Direct3DResource(std::move(shared)) {}
  D3DINDEXBUFFER_DESC desc_{};
  std::vector<uint8_t> bytes_;
  bool locked_ = false;
};

// A 3-D texture: each level a box of texels in one colour format, slices
// one after the other. Only for sampling by shaders, which this device does
// not run; it can be filled, copied and read back.
class Direct3DVolumeTexture9 : public Direct3DResource {
 public:
  uint32_t GetLevelCount() const { return static_cast<uint32_t>(levels_.size()); }
  HRESULT GetLevelDesc(uint32_t level, D3DVOLUME_DESC* desc) const;
  HRESULT LockBox(uint32_t level, D3DLOCKED_BOX* locked, const D3DBOX* box, uint32_t flags);
  HRESULT UnlockBox(uint32_t level);

 private:
  friend class Direct3DDevice9;
  struct Level {
    uint32_t width, height, depth;
    int row_pitch, slice_pitch;
    std::vector<uint8_t> bytes;
    bool locked;
  };
  Direct3DVolumeTexture9(std::shared_ptr<DeviceShared> shared) : Direct3DResource(std::move(shared)) {}
  D3DFORMAT format_ = D3DFMT_UNKNOWN;
  uint32_t usage_ = 0, pool_ = 0;
  std::vector<Level> levels_;
};

// Shader objects keep the byte code they were made from; the device does not
// run it (drawing uses the fixed-function pipeline), but holds it, binds it
// and gives it back.
class Direct3DShaderCode : public Direct3DResource {
 public:
  // Copies the code into data (null: only the size) and its size in bytes.
  HRESULT GetFunction(void* data, uint32_t* size) const;
  const std::vector<uint32_t>& tokens() const { return tokens_; }

 protected:
  Direct3DShaderCode(std::shared_ptr<DeviceShared> shared, std::vector<uint32_t> tokens)
      : Direct3DResource(std::move(shared)), tokens_(std::move(tokens)) {}

 private:
  std::vector<uint32_t> tokens_;
};
class Direct3DVertexShader9 : public Direct3DShaderCode {
 private:
  friend class Direct3DDevice9;
  using Direct3DShaderCode::Direct3DShaderCode;
};
class Direct3DPixelShader9 : public Direct3DShaderCode {
 private:
  friend class Direct3DDevice9;
  using Direct3DShaderCode::Direct3DShaderCode;
};

class Direct3DVertexDeclaration9 : public Direct3DResource {
 public:
  // The elements with the end marker; count gets their number.
  HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, uint32_t* count) const;

 private:
  friend class Direct3DDevice9;
  Direct3DVertexDeclaration9(std::shared_ptr<DeviceShared> shared, std::vector<D3DVERTEXELEMENT9> elements)
      : Direct3DResource(std::move(shared)), elements_(std::move(elements)) {}
  std::vector<D3DVERTEXELEMENT9> elements_;
};

class Direct3DSwapChain9 : public Direct3DResource {
 public:
  // Shows the back buffer: source rectangle of the back buffer (null: all)
  // onto the destination rectangle of the window's client area (null: the
  // back-buffer size). The copy swap effect leaves the back buffer as it was.
  HRESULT Present(const RECT* source, const RECT* dest, WindowHandle window,
                  const void* dirty_region, uint32_t flags);
  HRESULT GetBackBuffer(uint32_t index, uint32_t type, Direct3DSurface9** surface);

 private:
  friend class Direct3DDevice9;
  Direct3DSwapChain9(std::shared_ptr<DeviceShared> shared) : Direct3DResource(std::move(shared)) {}
  ~Direct3DSwapChain9() override;
  Direct3DDevice9* device_ = nullptr;
  Direct3DSurface9* back_buffer_ = nullptr;  // owned
};

struct DeviceState;  // the rasteriser's view of the pipeline state

class Direct3DDevice9 : public Direct3DResource {
 public:
  HRESULT TestCooperativeLevel();
  HRESULT GetDeviceCaps(D3DCAPS9* caps) const;
  HRESULT GetBackBuffer(uint32_t swap_chain, uint32_t index, uint32_t type, Direct3DSurface9** out);
  HRESULT GetSwapChain(uint32_t index, Direct3DSwapChain9** out);
  HRESULT Present(const RECT* source, const RECT* dest, WindowHandle window, const void* dirty);
  HRESULT SetDialogBoxMode(int32_t enable);
  HRESULT SetMaximumFrameLatency(uint32_t latency);

  HRESULT BeginScene();
  HRESULT EndScene();
  HRESULT Clear(uint32_t count, const RECT* rects, uint32_t flags, uint32_t color, float z,
                uint32_t stencil);
  HRESULT ColorFill(Direct3DSurface9* surface, const RECT* rect, uint32_t color);
  HRESULT StretchRect(Direct3DSurface9* source, const RECT* source_rect, Direct3DSurface9* dest,
                      const RECT* dest_rect, uint32_t filter);
  HRESULT UpdateSurface(Direct3DSurface9* source, const RECT* source_rect, Direct3DSurface9* dest,
                        const POINT* dest_point);
  HRESULT UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* dest);
  HRESULT GetRenderTargetData(Direct3DSurface9* render_target, Direct3DSurface9* dest);

  HRESULT CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                        D3DFORMAT format, uint32_t pool, Direct3DTexture9** out, void* shared);
  HRESULT CreateRenderTarget(uint32_t width, uint32_t height, D3DFORMAT format, uint32_t ms_type,
                             uint32_t ms_quality, int32_t lockable, Direct3DSurface9** out,
                             void* shared);
  HRESULT CreateDepthStencilSurface(uint32_t width, uint32_t height, D3DFORMAT format,
                                    uint32_t ms_type, uint32_t ms_quality, int32_t discard,
                                    Direct3DSurface9** out, void* shared);
  HRESULT CreateOffscreenPlainSurface(uint32_t width, uint32_t height, D3DFORMAT format,
                                      uint32_t pool, Direct3DSurface9** out, void* shared);
  HRESULT CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                             Direct3DVertexBuffer9** out, void* shared);
  HRESULT CreateIndexBuffer(uint32_t length, uint32_t usage, D3DFORMAT format, uint32_t pool,
                            Direct3DIndexBuffer9** out, void* shared);

  HRESULT SetRenderTarget(uint32_t index, Direct3DSurface9* surface);
  HRESULT GetRenderTarget(uint32_t index, Direct3DSurface9** out);
  HRESULT SetDepthStencilSurface(Direct3DSurface9* surface);
  HRESULT GetDepthStencilSurface(Direct3DSurface9** out);

  HRESULT SetRenderState(uint32_t state, uint32_t value);
  HRESULT GetRenderState(uint32_t state, uint32_t* value) const;
  HRESULT SetTextureStageState(uint32_t stage, uint32_t type, uint32_t value);
  HRESULT GetTextureStageState(uint32_t stage, uint32_t type, uint32_t* value) const;
  HRESULT SetSamplerState(uint32_t sampler, uint32_t type, uint32_t value);
  HRESULT GetSamplerState(uint32_t sampler, uint32_t type, uint32_t* value) const;
  HRESULT SetTexture(uint32_t stage, Direct3DTexture9* texture);
  HRESULT GetTexture(uint32_t stage, Direct3DTexture9** out);
  HRESULT SetFVF(uint32_t fvf);
  HRESULT GetFVF(uint32_t* fvf) const;
  HRESULT SetTransform(uint32_t state, const D3DMATRIX* matrix);
  HRESULT GetTransform(uint32_t state, D3DMATRIX* matrix) const;
  HRESULT SetMaterial(const D3DMATERIAL9* material);
  HRESULT SetLight(uint32_t index, const D3DLIGHT9* light);
  HRESULT LightEnable(uint32_t index, int32_t enable);
  HRESULT SetViewport(const D3DVIEWPORT9* viewport);
  HRESULT GetViewport(D3DVIEWPORT9* viewport) const;
  HRESULT SetScissorRect(const RECT* rect);
  HRESULT GetScissorRect(RECT* rect) const;

  // Programmable shaders: objects holding byte code of a version the
  // capabilities allow, bound and given back, with their constant registers
  // (float: 256 vertex, 32 pixel; integer four-vectors and booleans: 16 each
  // on both sides). Drawing stays on the fixed-function pipeline.
  HRESULT CreateVertexShader(const uint32_t* code, Direct3DVertexShader9** out);
  HRESULT CreatePixelShader(const uint32_t* code, Direct3DPixelShader9** out);
  HRESULT SetVertexShader(Direct3DVertexShader9* shader);
  HRESULT SetPixelShader(Direct3DPixelShader9* shader);
  HRESULT GetVertexShader(Direct3DVertexShader9** out);
  HRESULT GetPixelShader(Direct3DPixelShader9** out);
  HRESULT SetVertexShaderConstantF(uint32_t first, const float* data, uint32_t count);
  HRESULT SetPixelShaderConstantF(uint32_t first, const float* data, uint32_t count);
  HRESULT GetVertexShaderConstantF(uint32_t first, float* data, uint32_t count) const;
  HRESULT GetPixelShaderConstantF(uint32_t first, float* data, uint32_t count) const;
  HRESULT SetVertexShaderConstantI(uint32_t first, const int32_t* data, uint32_t count);
  HRESULT SetPixelShaderConstantI(uint32_t first, const int32_t* data, uint32_t count);
  HRESULT GetVertexShaderConstantI(uint32_t first, int32_t* data, uint32_t count) const;
  HRESULT GetPixelShaderConstantI(uint32_t first, int32_t* data, uint32_t count) const;
  HRESULT SetVertexShaderConstantB(uint32_t first, const int32_t* data, uint32_t count);
  HRESULT SetPixelShaderConstantB(uint32_t first, const int32_t* data, uint32_t count);
  HRESULT GetVertexShaderConstantB(uint32_t first, int32_t* data, uint32_t count) const;
  HRESULT GetPixelShaderConstantB(uint32_t first, int32_t* data, uint32_t count) const;
  HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements, Direct3DVertexDeclaration9** out);
  HRESULT SetVertexDeclaration(Direct3DVertexDeclaration9* declaration);
  HRESULT CreateVolumeTexture(uint32_t width, uint32_t height, uint32_t depth, uint32_t levels,
                              uint32_t usage, D3DFORMAT format, uint32_t pool,
                              Direct3DVolumeTexture9** out, void* shared);
  HRESULT UpdateTexture(Direct3DVolumeTexture9* source, Direct3DVolumeTexture9* dest);

  HRESULT DrawPrimitiveUP(uint32_t type, uint32_t primitive_count, const void* vertices,
                          uint32_t stride);
  HRESULT DrawIndexedPrimitiveUP(uint32_t type, uint32_t min_index, uint32_t vertex_count,
                                 uint32_t primitive_count, const void* indices,
                                 D3DFORMAT index_format, const void* vertices, uint32_t stride);
  HRESULT SetStreamSource(uint32_t stream, Direct3DVertexBuffer9* buffer, uint32_t offset,
                          uint32_t stride);
  HRESULT SetIndices(Direct3DIndexBuffer9* buffer);
  HRESULT DrawPrimitive(uint32_t type, uint32_t start_vertex, uint32_t primitive_count);
  HRESULT DrawIndexedPrimitive(uint32_t type, int32_t base_vertex, uint32_t min_index,
                               uint32_t vertex_count, uint32_t start_index,
                               uint32_t primitive_count);

  // ---- Test and platform hooks ----
  // Puts the device into the lost state: TestCooperativeLevel and Present
  // fail with D3DERR_DEVICELOST, drawing does nothing, releasing works.
  void SimulateDeviceLoss();
  bool IsLost() const;
  // Objects made by this device that are still alive (the implicit swap
  // chain and back buffer included).
  int LiveObjectCount() const;
  const D3DPRESENT_PARAMETERS& present_parameters() const { return params_; }
  int present_count() const { return present_count_; }
  int draw_call_count() const { return draw_calls_; }

 private:
  friend class Direct3D9;
  friend class Direct3DSwapChain9;
  Direct3DDevice9(std::shared_ptr<DeviceShared> shared);
  ~Direct3DDevice9() override;
  HRESULT Init(const D3DPRESENT_PARAMETERS& params, uint32_t behaviour, bool recording_only);
  void ReleaseShaderBindings();
  HRESULT PresentFrom(Direct3DSurface9* back, const RECT* source, const RECT* dest,
                      WindowHandle window);
  HRESULT QueueClear(uint32_t count, const RECT* rects, uint32_t flags, uint32_t color, const RECT& area);
  HRESULT DrawVertices(uint32_t type, uint32_t primitive_count, const uint8_t* vertices,
                       uint32_t stride, const void* indices, D3DFORMAT index_format,
                       int32_t base_vertex, uint32_t vertex_limit);

  D3DPRESENT_PARAMETERS params_{};
  uint32_t behaviour_ = 0;
  bool recording_only_ = false;
  bool in_scene_ = false;
  int present_count_ = 0;
  int draw_calls_ = 0;
  Direct3DSwapChain9* swap_chain_ = nullptr;   // owned reference
  Direct3DSurface9* render_target_ = nullptr;  // referenced
  Direct3DSurface9* depth_stencil_ = nullptr;  // referenced
  Direct3DVertexBuffer9* stream_ = nullptr;    // referenced
  uint32_t stream_offset_ = 0, stream_stride_ = 0;
  Direct3DIndexBuffer9* indices_ = nullptr;    // referenced
  Direct3DVertexShader9* vertex_shader_ = nullptr;        // referenced
  Direct3DPixelShader9* pixel_shader_ = nullptr;          // referenced
  Direct3DVertexDeclaration9* declaration_ = nullptr;     // referenced
  float vertex_constants_[256][4] = {};
  float pixel_constants_[32][4] = {};
  int32_t vertex_int_constants_[16][4] = {};
  int32_t pixel_int_constants_[16][4] = {};
  int32_t vertex_bool_constants_[16] = {};
  int32_t pixel_bool_constants_[16] = {};
  std::unique_ptr<DeviceState> state_;
};

// The factory: adapter 0 is the desktop, device type HAL the software device.
class Direct3D9 : public Direct3DResource {
 public:
  uint32_t GetAdapterCount() const { return 1; }
  HRESULT GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* mode) const;
  uint32_t GetAdapterModeCount(uint32_t adapter, D3DFORMAT format) const;
  HRESULT EnumAdapterModes(uint32_t adapter, D3DFORMAT format, uint32_t index,
                           D3DDISPLAYMODE* mode) const;
  HRESULT GetAdapterIdentifier(uint32_t adapter, uint32_t flags, D3DADAPTER_IDENTIFIER9* id) const;
  HRESULT GetDeviceCaps(uint32_t adapter, uint32_t type, D3DCAPS9* caps) const;
  HRESULT CheckDeviceFormat(uint32_t adapter, uint32_t type, D3DFORMAT adapter_format,
                            uint32_t usage, uint32_t resource_type, D3DFORMAT format) const;
  HRESULT CheckDepthStencilMatch(uint32_t adapter, uint32_t type, D3DFORMAT adapter_format,
                                 D3DFORMAT render_target_format, D3DFORMAT depth_format) const;
  HRESULT CheckDeviceMultiSampleType(uint32_t adapter, uint32_t type, D3DFORMAT format,
                                     int32_t windowed, uint32_t ms_type,
                                     uint32_t* quality_levels) const;
  HRESULT CreateDevice(uint32_t adapter, uint32_t type, WindowHandle focus, uint32_t behaviour,
                       D3DPRESENT_PARAMETERS* params, Direct3DDevice9** out);
  // The Ex path (only on an object from Direct3DCreate9Ex): the display mode
  // is used only for a full-screen device.
  HRESULT CreateDeviceEx(uint32_t adapter, uint32_t type, WindowHandle focus, uint32_t behaviour,
                         D3DPRESENT_PARAMETERS* params, const D3DDISPLAYMODEEX* mode,
                         Direct3DDevice9** out);
  bool is_ex() const { return ex_; }

 private:
  friend Direct3D9* Direct3DCreate9(uint32_t sdk_version);
  friend HRESULT Direct3DCreate9Ex(uint32_t sdk_version, Direct3D9** out);
  explicit Direct3D9(bool ex);
  HRESULT CreateDeviceCommon(uint32_t adapter, uint32_t type, uint32_t behaviour, D3DPRESENT_PARAMETERS* params,
                             Direct3DDevice9** out);
  bool ex_;
};

// ---- The runtime module ---------------------------------------------------------

// Stand-ins for loading the Direct3D 9 module by name and its two entry
// points. Null / a negative result when the runtime is switched off by a test.
bool LoadDirect3DRuntime();
void FreeDirect3DRuntime();
bool HasDirect3DCreate9Ex();
Direct3D9* Direct3DCreate9(uint32_t sdk_version);
HRESULT Direct3DCreate9Ex(uint32_t sdk_version, Direct3D9** out);

// ---- Test hooks ---------------------------------------------------------------------

// The capabilities every device reports; null restores the defaults
// (textures to 2048, no power-of-two restriction, BLENDOP on, no TEMP
// register, shader versions 0 unless the shader-2.0 setting below is on).
D3DCAPS9 DefaultDeviceCaps();
void SetDeviceCapsOverride(const D3DCAPS9* caps);
// The device setting for the shader path: with it the default capabilities
// report vertex and pixel shaders 2.0 (so the library unpacks its shader
// packs and makes its shader objects; drawing stays fixed-function). Off
// unless the environment variable RORUD_D3D_SHADER_MODEL is "2" at the first
// look, or a test switches it.
void SetShaderModel2Reported(bool on);
bool ShaderModel2Reported();
// Switches the runtime module, the Ex entry point, or device creation off.
void SetDirect3DRuntimeAvailable(bool available);
void SetDirect3DExAvailable(bool available);
void SetDeviceCreationFails(bool fails);
// Refuses devices asked for with hardware or mixed vertex processing, so
// that the library falls back to software vertex processing.
void SetHardwareVertexProcessingFails(bool fails);
// Formats that CheckDeviceFormat refuses in addition to the built-in rule.
void SetRefusedFormats(const std::vector<D3DFORMAT>& formats);
// The adapter's desktop mode and display modes are the window layer's desktop
// (GetDesktopSize, GetDesktopColorBits, GetDisplayModes): 32 bits are
// X8R8G8B8, 16 bits R5G6B5, anything else a format the device cannot show.
// Every object of this layer alive in the process (factories and devices
// included).
int LiveDirect3DObjectCount();
// Forces the rasteriser's generic span path (to prove the specialised paths
// give identical images).
void SetForceGenericSpans(bool force);

// ---- Band workers --------------------------------------------------------------

// Draw calls are rasterised by band workers, each owning a band of rows of
// the target; the picture is the same for any count. 1 draws on the calling
// thread at the call. 0 (the default) takes RORUD_RASTER_WORKERS from the
// environment, else one fewer than the processors, at most 4; then, unless
// RORUD_RASTER_ADAPT is 0, only as many draw as other programs leave
// processors free, the calling thread counted, and none (the draws made on
// the calling thread) on a busy machine.
void SetRasterWorkerCount(int count);
int GetRasterWorkerCount();
// How many rows the workers' bands hold; 0 goes back to the default (16).
// For tests of odd splits.
void SetRasterBandRows(int rows);
// For tests: where the workers take the free processors from instead of
// measuring them, asked at every draw; nullptr measures them again.
void SetRasterFreeProcessorsProbe(double (*probe)());
// Waits until every queued draw is in its target. Presenting, locking,
// reading, copying and filling surfaces wait by themselves.
void WaitForRaster();

// Span levels: 0 the reference spans, 1 SSE4.1, 2 AVX2; every level gives the
// same pixels. The highest the processor has, capped by RORUD_SPAN_LEVEL, is
// used unless a level is set (-1 goes back to that).
int MaxSpanLevel();
void SetSpanLevel(int level);

// Call recording: while on, every factory and device call is appended to the
// log as "Name(arg, arg, ...)". With devices_draw false, devices made while
// recording only record (no rasterising).
void StartD3DRecording(bool devices_draw = true);
std::vector<std::string> StopD3DRecording();
bool IsD3DRecording();
std::vector<std::string>& D3DRecordingLog();

// ---- Presentation ----------------------------------------------------------------

// Shows a rectangle of a surface in the window's client area through the
// window layer's presenter (16-bit surfaces are widened to X8R8G8B8 first).
// Returns the presenter's result (-1 for a dead window).
int PresentSurfaceToWindow(WindowHandle window, Direct3DSurface9* surface, const RECT& source,
                           const RECT& dest);

}  // namespace plat
