// lib/graphics/graphics_device.h - the graphics subsystem's device record,
// screen settings, flip, small settings and render-state cache. Internal to
// the library; the public entries are in rorud/rorud.h.
#pragma once

#include <cstdint>

#include "lib/image/base_image.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/ddraw.h"
#include "rorud/rorud.h"

// ---- Device record -------------------------------------------------------------

constexpr int kTextureFormatCount = 18;
// The Direct3D format chosen at device creation for each kind of texture,
// indexed by the row PixelFormatToCode gives; 0 where none is available.
typedef plat::D3DFORMAT TextureFormatTable[kTextureFormatCount];

struct GraphicsDeviceState {
  int started;
  int direct3d_mode;  // 1: the Direct3D device draws; 0: the software screen
  int runtime_loaded;
  plat::DirectDraw7* direct_draw;
  plat::Direct3D9* d3d;
  plat::Direct3D9* d3d_ex;  // the same object when the Ex entry point worked
  plat::Direct3DDevice9* device;
  int scene_open;
  plat::Direct3DSurface9* back_buffer;
  plat::Direct3DSwapChain9* swap_chain;
  plat::Direct3DSurface9* z_buffer;
  int z_buffer_width, z_buffer_height;
  plat::Direct3DSurface9* sub_back_buffer;
  plat::Direct3DVolumeTexture9* brightness_volume;  // shader path only; nothing binds it
  plat::D3DFORMAT back_buffer_format;
  plat::D3DFORMAT z_format;
  TextureFormatTable texture_formats;
  plat::D3DCAPS9 caps;
  int blend_op_capable;
  int temp_register_capable;
  int pow2_only;
  int nonpow2_conditional;
  uint32_t max_texture_width, max_texture_height, max_texture_size;
  int hardware_vertex_processing;
  int vs20_usable, ps20_usable;
  int shaders_in_use;
  int use_back_buffer_lock;
};
GraphicsDeviceState& GraphicsDevice();

// Row indexes of the texture-format table.
enum TextureFormatRow {
  kFormat16 = 0, kFormat32 = 1, kFormatAlpha16 = 2, kFormatAlpha32 = 3, kFormatAlphaTest16 = 4,
  kFormatAlphaTest32 = 5, kFormatDxt1 = 6, kFormatDrawable16 = 11, kFormatDrawable32 = 12,
  kFormatDrawableAlpha32 = 13, kFormatDrawableFloat16 = 14, kFormatDrawableFloat32 = 15,
  kFormatScreen = 16, kFormatScreenAlphaTest = 17,
};

// A graphic's creation descriptor, as texture creation passes it.
struct GraphicFormatDescriptor {
  uint8_t alpha, drawable, special_kind, alpha_test, colour_bits;
};
int PixelFormatToCode(const GraphicFormatDescriptor* descriptor);

int GraphicsSystemStart();
int InitializeGraphicsDevice();
int CreateDirectDrawObject();
int CreateDirect3DObject();
int CreateDirect3DDevice();
int CreateZBuffer();
int CreateSubBackBuffer();
int CreateBrightnessVolumeTexture();
void ComputeMaxBrightnessRgb(int r, int g, int b, uint8_t* out_r, uint8_t* out_g, uint8_t* out_b);
int GetShaderModelVersion();
void ReleaseDirect3DDevice();
void TerminateGraphics();
plat::DirectDraw7* GetDirectDrawObject();
// The graphics part of the library end: TerminateGraphicsSystem where the
// graphic handles are part of the build, else the device alone.
int ShutdownGraphicsSystem();
// Test hook: forgets the device record and the screen settings.
void ResetGraphicsDeviceForTest();

// ---- Screen settings (screen modes and display modes) ----------------------------

struct ScreenSettings {
  int width, height, colour_bits, refresh_rate;
  int emulate_320x240;
  int display_emulation;
  int64_t refresh_period;  // microseconds per display frame, -1 unmeasured
};
ScreenSettings& Screen();

int ChangeDisplayResolution();
int MeasureRefreshPeriod();
int SetDisplayEmulationFlag(int flag);
int IsDisplayModeAvailable(int width, int height, int colour_bits);
void EnumDisplayModes(DisplayModeRecord** list, int* count);
void FreeDisplayModeList();
int SetDeviceDialogBoxMode(int flag);
int SetDialogBoxModeAfterScene(int flag);

// ---- Flip, vertical-sync wait, scene bracket -------------------------------------------

int FlipScreenCore();
void FlipScreenWithSubBackBuffer();
void WaitVBlankPaced();
void BeginDeviceScene();
void EndDeviceScene();
int BeginSubBackBuffer();
// The rectangles of the next present: source of the back buffer and
// destination in the window (what the flip would use now).
void ComputeFlipRects(plat::RECT* source, plat::RECT* dest);
// A BaseImage view of a rectangle of the draw screen (target -1: the current
// draw target; only the screen in this build): the back buffer locked in
// place, or a system-memory copy. 0, or -1 for a rectangle outside the named
// target or a failing device.
int CreateBackBufferLockSurfaces(const int32_t rect[4], BaseImage* out, int target, int read_only);
int ReleaseBackBufferLockSurfaces();
// The picture shown while the application is inactive (the window system
// asks for it on deactivation and paint): a copy of the image is kept (null
// clears it); 0, or -1 for an image that cannot be kept.
int SetInactiveScreenImage(const BaseImage* image);
int ClearInactiveScreenImage();
int IsInactiveScreenImageSet();
// Shows the inactive-screen image through a flip and puts the draw screen
// back: 0 (also while the library ends), -1 without an image or graphics.
int DrawInactiveScreenImage(void* device_context);
// The microsecond time of the last paced wait.
int64_t GetLastVerticalBlank();

// ---- Small settings ----------------------------------------------------------------------

struct GraphicsSettings {
  int hardware_allowed;
  int creation_depth;
  int create_drawable;
  int alpha_test_transparency;
  int create_alpha;
  int default_pool;
  int single_texture;
  int image_convert;
  int movie_texture;
  uint32_t transparent_colour;
  int vblank_wait_off;
};
GraphicsSettings& GraphicsConfig();
// The creation settings back to their defaults (the draw-settings reset at
// every graphics start); the vertical-blank setting stays.
void ResetGraphicsCreationSettings();
void SetMovieTextureFlag(int flag);
void* ClearGraphicsParamBlock(void* block);
// Draws the rectangle (x, y, width, height) of a graphic stretched onto the
// float rectangle (x1, y1)-(x2, y2) through a derived graphic made for the
// draw and deleted after it. 0, or -1 when the rectangle cannot be cut.
int DrawFloatRectHelper(int source, int x, int y, int width, int height, float x1, float y1, float x2, float y2,
                        int transparent);
plat::Direct3DVertexBuffer9* CreateRawVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool);
plat::Direct3DIndexBuffer9* CreateRawIndexBuffer(uint32_t length, uint32_t usage, plat::D3DFORMAT format,
                                                 uint32_t pool);

// ---- Render-state cache -------------------------------------------------------------------

struct RenderStateCache {
  int lighting;
  int filter_mode;
  int stage_filters[8][3];
  int max_anisotropy;
  int stage_anisotropy[8];
  int z_enable, z_write, z_function, depth_bias;
  int diffuse_from_vertex, specular_from_vertex;
  int cull_mode;
  int address[3][8];
  int texture_transform_on[8];
  plat::D3DMATRIX texture_matrices[8];
  int fog_enable, fog_mode;
  uint32_t fog_colour;
  float fog_start, fog_end, fog_density;
  plat::D3DVIEWPORT9 viewport;
  plat::RECT scissor;
  float vertex_constants[256][4];
  float pixel_constants[32][4];
  int user_constants_selected;
  plat::Direct3DVertexShader9* current_vertex_shader;
  plat::Direct3DPixelShader9* current_pixel_shader;
  // The indexes that pick the vertex and pixel shader for the current
  // lighting, fog and lights (UpdateShaderIndex).
  int vertex_shader_index, pixel_shader_index;
  int stage_count;     // sampler stages the filter setters walk
  int forced_refresh;  // every setter reaches the device once again
  plat::D3DMATRIX view, projection;
};
RenderStateCache& StateCache();
// The cache's starting values (program start; the device creation sets the
// two material sources to 255 and the filter mode to 3 itself).
void ResetRenderStateCache();

int SetLightingEnable(int on);
int SetSamplerFilterMode(int mode);
int SetMaxAnisotropy(int value);
int SetZBufferEnable(int on);
int SetMaskZBufferEnable(int on);
int SetZWriteState(int on);
int SetZFunctionState(int function);
int SetDepthBiasState(int bias);
int SetDiffuseFromVertex(int on);
int SetSpecularFromVertex(int on);
int SetCullMode(int mode);
int SetTextureAddressMode(int mode, int stage);
int SetTextureAddressU(int mode, int stage);
int SetTextureAddressV(int mode, int stage);
int SetTextureAddressW(int mode, int stage);
int SetTextureTransform(int stage, int on, const plat::D3DMATRIX* matrix);
int SetFogEnableState(int on);
int SetFogModeState(int mode);
int SetFogColorState(uint32_t colour);
int SetFogRangeState(float start, float end);
int SetFogDensityState(float density);
int SetViewportState(const plat::D3DVIEWPORT9* viewport);
int SetViewportFromRect(int x1, int y1, int x2, int y2);
int SetScissorRectState(const plat::RECT* rect);
void SetLibraryVertexShaderConstants(int first, const float* values, int count);
void SetLibraryPixelShaderConstants(int first, const float* values, int count);
int SelectShaderConstantSet(int use_user_set);
int SetViewTransform(const plat::D3DMATRIX* matrix);
int SetProjectionTransform(const plat::D3DMATRIX* matrix);
int ResetTexCoordIndexes();
// The texture-coordinate index last given to each stage (-1: unknown).
int* StageTexCoordIndexes();
// FVF 0x144 vertices (x, y, z, rhw, diffuse, u, v): w per row, h rows.
int DrawIndexedGrid(int w, int h, const void* vertices);
