// lib/graphics/graphic.h - graphic handles and their records, texture sets
// and tiles, image sources, the draw settings, the vertex batch and the
// desired-state cache. Internal to the library; the public entries are in
// rorud/rorud.h.
#pragma once

#include <cstdint>

#include "lib/core/math3d.h"
#include "lib/image/base_image.h"
#include "lib/image/convert_blit.h"
#include "lib/softrender/memimg.h"
#include "platform/d3d9/d3d9.h"
#include "rorud/rorud.h"

constexpr int kGraphicCapacity = 32768;
constexpr int kMaxTilesPerSet = 256;

// ---- Records --------------------------------------------------------------------

// Where a graphic's pixels came from, kept to fill its textures again after
// the device was rebuilt. Shared by reference count.
struct ImageSourceRecord {
  char* file_name;
  BaseImage* base_image;
  BaseImage* alpha_base_image;
  void* memory_image;
  int32_t memory_image_size;
  void* alpha_memory_image;
  int32_t alpha_memory_image_size;
  int32_t mirror;
  int32_t reference_count;
};

struct GraphicTile {
  plat::Direct3DTexture9* texture;
  plat::Direct3DTexture9* system_texture;
  plat::Direct3DSurface9* surface;
  plat::Direct3DSurface9* multisample_surface;
  plat::Direct3DSurface9* depth_surface;
  int32_t x, y;
  int32_t used_width, used_height;
  int32_t texture_width, texture_height;
};

struct GraphicTextureSet {
  uint32_t reference_count;
  uint32_t format_code;
  uint8_t textured;
  uint8_t alpha;
  uint8_t drawable;
  uint8_t software;
  uint8_t default_pool;
  uint8_t special_format;
  uint8_t mip_levels;
  uint8_t alpha_test;
  uint8_t bit_depth;
  uint8_t blend_image;
  uint8_t palette;
  uint8_t multisample_type, multisample_quality;
  uint32_t transparent_colour;
  int32_t width, height;
  uint32_t depth_buffer;
  int32_t mip_level_count;
  int32_t tile_count;
  MEMIMG soft_image;     // the pixels of a set without textures
  GraphicTile tiles[1];  // tile_count of them
};

struct GraphicCorner {
  float x, y, u, v;
};

struct GraphicDrawEntry {
  int32_t draw_x, draw_y;
  int32_t texture_x, texture_y;
  int32_t width, height;
  GraphicCorner corners[4];  // top-left, top-right, bottom-left, bottom-right
  uint8_t above_diagonal[4];
  GraphicTile* tile;
};

struct GraphicRecord {
  uint32_t check;
  int32_t handle;
  int* lost_flag;
  int32_t movie_handle;
  ImageSourceRecord* source;
  int32_t source_x, source_y;
  GraphicTextureSet* set;
  int32_t set_x, set_y;
  int32_t width, height;
  // The draw entries live in their own block, so a record's address stays
  // the same for its whole life.
  int32_t entry_count;
  GraphicDrawEntry* entries;
  // Without textures: the view of this graphic's rectangle of the set's image.
  MEMIMG soft_view;
};

// Waits while the application is inactive; not while the library itself is
// still starting (the graphics start sets its first draw target before the
// window is running).
int WaitIfInactive();

// ---- Handles (graphic_handles.cpp) -------------------------------------------------

int AddGraphicHandle();
GraphicRecord* GraphicHandleToRecord(int handle);
int CreateGraphicDrawInfo(int handle);
int ReleaseTextureSetTiles(GraphicTextureSet* set);
int ReleaseAllTextures();
int DeleteAllGraphics();
int TerminateGraphicsSystem();
int GetGraphicHighWater();
int GetGraphicCount();
int GetGraphicCheckCounter();
// The record in a slot (null when empty).
GraphicRecord* GraphicRecordAt(int slot);

// ---- Textures and transfer (graphic_textures.cpp) -----------------------------------

int SplitTextureSide(int side, int* out, int one_texture, int exact_size_refused);
int SetupGraphicImages(int mip_levels, int handle, int width, int height, int alpha, int palette, int special);
int CreateGraphicTexture(GraphicTextureSet* set);
int TransferImageToTexture(int handle, const ImageRect* source_rect, int dx, int dy, const BaseImage* image,
                           const BaseImage* alpha_image, int blend_image, int use_transparent, int whole_set);
int BltImageToGraphic(const BaseImage* image, const BaseImage* alpha_image, int source_x, int source_y,
                      int handle);
int BltMemImageToGraphic(const BaseImage* image, const BaseImage* alpha_image, const ImageRect* source_rect,
                         int dx, int dy, int handle);
const PixelFormatInfo* GetTextureFormatPixelFormatInfo(int code);
const PixelFormatInfo* GetTextureSetFormatInfo(const GraphicTextureSet* set);
const PixelFormatInfo* MakeColorFormatRecord(int alpha, int special, int bits32, int drawable);
const PixelFormatInfo* GetColorFormatRecord(plat::D3DFORMAT format);
// Lowers the multisample type until the device takes it for the colour
// format and for 16-bit depth, and the quality to what both offer; 0.
int ChooseMultiSampleType(int* type, plat::D3DFORMAT format, int* quality);

// ---- Loading and restore (graphic_load.cpp) -----------------------------------------

int CreateGraphicFromImageData(BaseImage* image, BaseImage* alpha_image);
int MakeGraphicFromImage(BaseImage* image, BaseImage* alpha_image, int flag);
int RewriteGraphicFromImage(BaseImage* image, BaseImage* alpha_image, int handle);
int ImageToGraphicHelper(BaseImage* image, int handle);
int CopyDrawScreenToGraphic(int source, int x1, int y1, int x2, int y2, int dx, int dy, int handle);
int RestoreAllGraphics();
int RunRestoreCallback();
int SetGraphicImageSource(int handle, const char* file_name, const void* memory_image, int memory_size,
                          const void* alpha_memory_image, int alpha_memory_size, const BaseImage* base_image,
                          const BaseImage* alpha_base_image, int mirror, int source_graphic);
int SetGraphicImageSourceBasic(int handle, const char* file_name, int mirror, int source_graphic);
// How many times the restore opened an image file (for tests).
int GetRestoreFileLoadCount();

// ---- Device restore and draw target (device_restore.cpp) ---------------------------

int RestoreGraphicsDevice(int width, int height, int colour_bits, int refresh_rate, int mode);
int RestoreGraphicsDeviceDefault();
int RecreateDeviceResources();
int InitVertexBatchBuffers();
int SetDefaultRenderStates();
int FrontScreenTimerProc();
int IsFrontScreenTimerRunning();

// ---- Draw settings (draw_state.cpp, draw_defaults.cpp) ------------------------------

struct DepthSettings {
  int enable, write, function, bias;
};

struct DrawSettings {
  // What the software kernels read.
  int blend_mode;
  int blend_param;
  uint32_t bright;  // 0x00RRGGBB
  int clip[4];
  float clipf[4];
  // Direct3D and common settings.
  int blend_graphic;
  int border_param, border_range;
  plat::Direct3DTexture9* blend_texture;
  float blend_width, blend_height, blend_inv_width, blend_inv_height;
  int filter_mode;
  int max_anisotropy;
  int cull_mode;
  int fog_enable;
  int fog_mode;
  uint32_t fog_colour;
  float fog_start, fog_end, fog_density;
  Matrix4 world, view, projection, second;
  int requested_clip[4];
  uint32_t diffuse;
  int suspended;
  int empty_clip;
  int draw_target;
  int area_width, area_height;
  Matrix4 viewport_matrix, viewport_inverse;
  Matrix4 clip_viewport_inverse;
  float draw_z;
  int address[8][3];
  DepthSettings depth2d, depth3d;
  int fill_mode;
  int lighting_on;
  int specular_on;
  int diffuse_from_vertex, specular_from_vertex;
  int shade_state_a, shade_state_b;  // two further states kept for the refresh
  int transparent_create;
  int premultiplied;
  // The user blend table (57 words) and whether it is on.
  int user_table_on;
  int user_textures_only;
  int32_t user_table[57];
  // Projection parameters.
  int projection_mode;
  float proj_near, proj_far, proj_fov;
  Matrix4 proj_matrix;
  float centre_x, centre_y;
  uint32_t ambient;
};
DrawSettings& Draw();
// Copies the settings the software kernels read into SoftDraw().
void SyncSoftDrawState();

int GetDrawDiffuseColor();
int SetBlendModeParam(int mode, int param);
int SetDrawBrightRGB(int r, int g, int b);
int SetDrawBrightPacked(uint32_t rgb);
int SetDrawFilterMode(int mode);
int SetDrawBlendImage(int handle, int border_param, int border_range);
int SetDrawClipRect(int x1, int y1, int x2, int y2);
int SetRenderTargetSurface(void* surface, int internal_switch);
void ForgetRenderTargetSurface();
float* SetFloat4(float* out, float a, float b, float c, float d);
int SetUserBlendTable(const int32_t* table, int textures_only);
int SetCustomDrawState(const int32_t* block, int textures_only, int handles);
int RefreshDrawStates();
int ReapplyBasicDeviceStates();
int SetDeviceMaterial(const float values[17]);
int SetDeviceAmbient(uint32_t argb);
int SetDeviceLightAndEnable(int index, int enable, const plat::D3DLIGHT9* light);
int SetDeviceLightEnable(int index, int on);
int SetDeviceLight(int index, const plat::D3DLIGHT9* light);
// The view-space position and direction registers of device lights 0 to 3,
// worked out again over the given view matrix.
void UpdateLightViewConstants(const plat::D3DMATRIX* view);
int UpdateLightShaderConstants();
int GetHighestEnabledDeviceLight();
// Enabled device lights of one type (1 point, 2 spot, 3 directional).
int CountEnabledDeviceLights(int type);

// ---- Lights, projection, defaults (draw_defaults.cpp) --------------------------------

struct LightRecord {
  uint32_t check;
  int32_t handle;
  plat::D3DLIGHT9 light;
  int32_t device_index;
  int32_t enabled;
  int32_t changed;
};
LightRecord* LightHandleToRecord(int handle);
LightRecord* LightRecordAt(int slot);
int GetLightHighWater();
int GetLightCount();
int GetDefaultLightHandle();
int& LightsChangedFlag();
int UpdateViewProjection();
int ResetDrawSettings();
// The material (17 floats) and its changed flag.
float* DrawMaterial();
int& MaterialChangedFlag();

// ---- Vertex batch and state selection (vertex_batch.cpp) ---------------------------

struct Vertex20 {
  float x, y, z, rhw;
  uint32_t diffuse;
};
struct Vertex28 {
  float x, y, z, rhw;
  uint32_t diffuse;
  float u, v;
};
struct Vertex40 {
  float x, y, z, rhw;
  uint32_t diffuse, specular;
  float bu, bv, u, v;
};

struct VertexBatch {
  int kind;
  int layout;
  int primitive;
  int count;
  uint8_t* write;
  uint8_t* arrays[6];
  uint32_t diffuse;
  uint32_t cached_fvf;
};
VertexBatch& Batch();

// The desired-state cache that the next state selection applies.
struct DesiredState {
  int blend_mode;
  int variant;
  int alpha_channel;
  int border_param, border_range;
  int pair_src, pair_dst;
  plat::Direct3DTexture9* texture;
  plat::Direct3DTexture9* blend_texture;
  int bright_in_use;
  int alpha_in_use;
  int state_dirty;
  int texture_dirty;
  int skip_drawing;
  int stage_count;
};
DesiredState& Desired();

int FlushVertexBatch();
// Makes room for n vertices of a 2-D layout and primitive type (flushing
// when the pending vertices differ or the array is full); returns where to
// write them. The count and write pointer are advanced.
void* AppendBatchVertices(int layout, int primitive, int n);
int SetWorldTransformDevice(const Matrix4* m);
// Works out the two shader-selection indexes (shader_index.cpp).
int UpdateShaderIndex();
int ApplyLightingState(int on);
int ApplyDrawSettings(const GraphicTextureSet* info, plat::Direct3DTexture9* texture, int flags);
int SelectDrawBlendState(const int32_t* block, int handles, int textures_only);
int CheckBlendImageFits(const GraphicRecord* record);
int UpdateLights(int full_refresh);
int SetDesiredBlendMode(int mode, int variant, int alpha_channel);
int SetDesiredBlendPair(int src, int dst);
int SetDesiredTexture(plat::Direct3DTexture9* texture);
int SetDesiredBlendTexture(plat::Direct3DTexture9* texture, int border_param, int border_range);
Vector3* TransformPointByMatrix(Vector3* out, const Vector3* v, const Matrix4* m);
Vector3* TransformVectorByMatrix(Vector3* out, const Vector3* v, const Matrix4* m);
// Forgets the device-state shadows (after a new device was made).
void ResetBlendStateShadow();

// ---- Drawing (graphic_draw.cpp, box_draw.cpp) ----------------------------------------

int SubtractEmulationBegin(const IntRect* rect);
int SubtractEmulationEnd(const IntRect* rect);
int DrawFilledBoxDevice(int x1, int y1, int x2, int y2, uint32_t colour);
