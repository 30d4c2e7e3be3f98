// lib/graphics/device_start.cpp - the graphics start: the Direct3D 9 device
// with its back buffer, Z buffer and format table, or the software screen
// when no device can be had.
#include <cerrno>
#include <cstring>

#include "lib/core/log.h"
#include "lib/graphics/shader_packs.h"
#include "lib/graphics/graphics_device.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphics_links.h"
#include "lib/graphics/soft_draw.h"
#include "lib/softrender/blend_tables.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"

namespace {

GraphicsDeviceState g_device;

// The screen's clear colour: it has no setter and stays black.
constexpr uint32_t kScreenClearColour = 0x000000;

template <typename T>
void ReleaseAndClear(T** p) {
  if (*p) (*p)->Release();
  *p = nullptr;
}

int64_t MicroNow() {
  int64_t f = plat::QueryPerformanceFrequency();
  return f > 0 ? int64_t((__int128)plat::QueryPerformanceCounter() * 1000000 / f) : 0;
}

uint32_t OsVersionCode() { return plat::GetSystemInfo().os_version_code; }

bool EmulationFlagSet() { return Screen().emulate_320x240 || Screen().display_emulation; }

void ReleaseDevice(const char* line) {
  GraphicsDeviceState& d = g_device;
  if (!d.device) return;
  WriteLogLine(line);
  d.device->Release();
  d.device = nullptr;
  d.scene_open = 0;
}

int CheckFormat(plat::D3DFORMAT adapter, uint32_t usage, plat::D3DFORMAT f) {
  return g_device.d3d->CheckDeviceFormat(0, plat::D3DDEVTYPE_HAL, adapter, usage, plat::D3DRTYPE_TEXTURE, f) ==
         plat::D3D_OK;
}

struct Candidate {
  plat::D3DFORMAT format;
  const char* name;
};

// The first accepted candidate, or 0.
int PickFormat(const Candidate* list, int n, uint32_t usage, const char** name) {
  for (int i = 0; i < n; i++) {
    if (CheckFormat(g_device.back_buffer_format, usage, list[i].format)) {
      *name = list[i].name;
      return int(list[i].format);
    }
  }
  return 0;
}

int FillTextureFormatTable() {
  GraphicsDeviceState& d = g_device;
  plat::D3DFORMAT* t = d.texture_formats;
  const char* name = "";
  using namespace plat;
  static const Candidate row0[] = {{D3DFMT_R5G6B5, "D_D3DFMT_R5G6B5"}, {D3DFMT_X1R5G5B5, "D_D3DFMT_X1R5G5B5"}};
  if (!(t[0] = PickFormat(row0, 2, 0, &name))) return WriteLogLine("使用できる 16bit カラーフォーマットが見つかりませんでした\n");
  const char* row0_name = name;
  WriteLogLineFmt("16bit カラーフォーマットは %s です", name);
  static const Candidate row1[] = {{D3DFMT_X8R8G8B8, "D_D3DFMT_X8R8G8B8"}};
  if (!(t[1] = PickFormat(row1, 1, 0, &name))) {
    t[1] = t[0];
    name = row0_name;
  }
  WriteLogLineFmt("32bit カラーフォーマットは %s です", name);
  static const Candidate row2[] = {{D3DFMT_A4R4G4B4, "D_D3DFMT_A4R4G4B4"}, {D3DFMT_A8R8G8B8, "D_D3DFMT_A8R8G8B8"}};
  if (!(t[2] = PickFormat(row2, 2, 0, &name))) return WriteLogLine("使用できるアルファ付き 16bit カラーフォーマットが見つかりませんでした\n");
  WriteLogLineFmt("アルファ付き 16bit カラーフォーマットは %s です", name);
  static const Candidate row3[] = {{D3DFMT_A8R8G8B8, "D_D3DFMT_A8R8G8B8"}, {D3DFMT_A4R4G4B4, "D_D3DFMT_A4R4G4B4"}};
  if (!(t[3] = PickFormat(row3, 2, 0, &name))) return WriteLogLine("使用できるアルファ付き 32bit カラーフォーマットが見つかりませんでした\n");
  WriteLogLineFmt("アルファ付き 32bit カラーフォーマットは %s です", name);
  static const Candidate row4[] = {{D3DFMT_A1R5G5B5, "D_D3DFMT_A1R5G5B5"}, {D3DFMT_A8R8G8B8, "D_D3DFMT_A8R8G8B8"}, {D3DFMT_A4R4G4B4, "D_D3DFMT_A4R4G4B4"}};
  if (!(t[4] = PickFormat(row4, 3, 0, &name))) return WriteLogLine("使用できるアルファテスト用 16bit カラーフォーマットが見つかりませんでした\n");
  WriteLogLineFmt("アルファテスト用 16bit カラーフォーマットは %s です", name);
  static const Candidate row5[] = {{D3DFMT_A8R8G8B8, "D_D3DFMT_A8R8G8B8"}, {D3DFMT_A1R5G5B5, "D_D3DFMT_A1R5G5B5"}, {D3DFMT_A4R4G4B4, "D_D3DFMT_A4R4G4B4"}};
  if (!(t[5] = PickFormat(row5, 3, 0, &name))) return WriteLogLine("使用できるアルファテスト用 32bit カラーフォーマットが見つかりませんでした\n");
  WriteLogLineFmt("アルファテスト用 32bit カラーフォーマットは %s です", name);
  static const char* const dxt_lines[5] = {"ＤＸＴ１テクスチャフォーマットは%s", "ＤＸＴ２テクスチャフォーマットは%s",
                                           "ＤＸＴ３テクスチャフォーマットは%s", "ＤＸＴ４テクスチャフォーマットは%s",
                                           "ＤＸＴ５テクスチャフォーマットは%s"};
  static const plat::D3DFORMAT dxt[5] = {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5};
  static const char* const dxt_names[5] = {" D_D3DFMT_DXT1 です", " D_D3DFMT_DXT2 です", " D_D3DFMT_DXT3 です",
                                           " D_D3DFMT_DXT4 です", " D_D3DFMT_DXT5 です"};
  for (int i = 0; i < 5; i++) {
    bool ok = CheckFormat(d.back_buffer_format, 0, dxt[i]);
    t[6 + i] = ok ? dxt[i] : (i == 0 ? t[4] : t[3]);
    WriteLogLineFmt(dxt_lines[i], ok ? dxt_names[i] : "使えません");
  }
  uint32_t rt = D3DUSAGE_RENDERTARGET;
  Candidate row11[3];
  if (d.back_buffer_format == D3DFMT_R5G6B5) {
    row11[0] = {D3DFMT_R5G6B5, "D3DFMT_R5G6B5"};
    row11[1] = {D3DFMT_X1R5G5B5, "D3DFMT_R5G5B5"};
  } else {
    row11[0] = {D3DFMT_X1R5G5B5, "D_D3DFMT_R5G5B5"};
    row11[1] = {D3DFMT_R5G6B5, "D_D3DFMT_R5G6B5"};
  }
  row11[2] = {D3DFMT_X8R8G8B8, "D_D3DFMT_X8R8G8B8"};
  if ((t[11] = PickFormat(row11, 3, rt, &name))) WriteLogLineFmt("描画用 16bit カラーフォーマットは %s です", name);
  else WriteLogLine("使用できる描画用 16bit カラーフォーマットがありませんでした\n");
  static const Candidate row12[] = {{D3DFMT_X8R8G8B8, "D_D3DFMT_X8R8G8B8"}, {D3DFMT_R5G6B5, "D3DFMT_R5G6B5"}, {D3DFMT_X1R5G5B5, "D3DFMT_R5G5B5"}};
  if ((t[12] = PickFormat(row12, 3, rt, &name))) WriteLogLineFmt("描画用 32bit カラーフォーマットは %s です", name);
  else WriteLogLine("使用できる描画用 32bit カラーフォーマットがありませんでした\n");
  static const Candidate row13[] = {{D3DFMT_A8R8G8B8, "D_D3DFMT_A8R8G8B8"}, {D3DFMT_A4R4G4B4, "D3DFMT_A4R4G4B4"}};
  if ((t[13] = PickFormat(row13, 2, rt, &name))) WriteLogLineFmt("描画用アルファ付き 32bit カラーフォーマットは %s です", name);
  else WriteLogLine("使用できる描画用アルファ付き 32bit カラーフォーマットがありませんでした\n");
  static const Candidate row14[] = {{D3DFMT_A16B16G16R16F, "D_D3DFMT_A16B16G16R16F"}};
  if ((t[14] = PickFormat(row14, 1, rt, &name))) WriteLogLineFmt("描画用ABGR浮動小数点16ビット型カラーフォーマットは %s です", name);
  else WriteLogLine("使用できる描画用ABGR浮動小数点16ビット型カラーフォーマットがありませんでした\n");
  static const Candidate row15[] = {{D3DFMT_A32B32G32R32F, "D_D3DFMT_A32B32G32R32F"}, {D3DFMT_A16B16G16R16F, "D_D3DFMT_A16B16G16R16F"}};
  if ((t[15] = PickFormat(row15, 2, rt, &name))) WriteLogLineFmt("描画用ABGR浮動小数点32ビット型カラーフォーマットは %s です", name);
  else WriteLogLine("使用できる描画用ABGR浮動小数点32ビット型カラーフォーマットがありませんでした\n");
  bool screen32 = Screen().colour_bits == 32;
  t[16] = screen32 ? t[12] : t[11];
  t[17] = screen32 ? t[5] : t[4];
  return 0;
}

// Times reading a block of the back buffer directly against copying it
// through a temporary render target; the faster way is used for screen reads.
void BackBufferReadTest() {
  GraphicsDeviceState& d = g_device;
  d.use_back_buffer_lock = 0;
  int64_t time1 = -1, time2 = -1;
  int bpp = plat::FormatBytesPerPixel(d.back_buffer_format);
  for (int run = 0; run < 3; run++) {
    time1 = time2 = -1;
    int s = 256;
    while (s > Screen().width || s > Screen().height) s /= 2;
    if (s < 1 || bpp == 0) break;
    plat::RECT r = {0, 0, s, s};
    plat::Direct3DSurface9 *a = nullptr, *target = nullptr, *b = nullptr;
    plat::D3DLOCKED_RECT la, lb;
    do {
      if (d.device->CreateOffscreenPlainSurface(s, s, d.back_buffer_format, plat::D3DPOOL_SYSTEMMEM, &a, nullptr) != 0) break;
      if (a->LockRect(&la, &r, plat::D3DLOCK_READONLY) != 0) break;
      int64_t t0 = MicroNow();
      if (d.back_buffer->LockRect(&lb, &r, plat::D3DLOCK_READONLY) != 0) break;
      for (int y = 0; y < s; y++)
        memcpy(static_cast<uint8_t*>(la.pBits) + y * la.Pitch, static_cast<uint8_t*>(lb.pBits) + y * lb.Pitch, size_t(s) * bpp);
      d.back_buffer->UnlockRect();
      time1 = MicroNow() - t0;
      t0 = MicroNow();
      if (d.device->CreateRenderTarget(s, s, d.back_buffer_format, 0, 0, 0, &target, nullptr) != 0) break;
      if (d.device->CreateOffscreenPlainSurface(s, s, d.back_buffer_format, plat::D3DPOOL_SYSTEMMEM, &b, nullptr) != 0) break;
      if (d.device->StretchRect(d.back_buffer, &r, target, &r, plat::D3DTEXF_NONE) != 0) break;
      if (d.device->GetRenderTargetData(target, b) != 0) break;
      if (b->LockRect(&lb, nullptr, plat::D3DLOCK_READONLY) != 0) break;
      for (int y = 0; y < s; y++)
        memcpy(static_cast<uint8_t*>(la.pBits) + y * la.Pitch, static_cast<uint8_t*>(lb.pBits) + y * lb.Pitch, size_t(s) * bpp);
      b->UnlockRect();
      time2 = MicroNow() - t0;
    } while (false);
    if (a) {
      a->UnlockRect();
      a->Release();
    }
    if (target) target->Release();
    if (b) b->Release();
  }
  if (time1 < 0 || time2 < 0) {
    WriteLogLine("バックバッファロックはロックできません\n");
    return;
  }
  WriteLogLineFmt("バックバッファロック転送の時間:%dnsec  一時的な描画可能バッファを使用した転送の時間:%dnsec", int(time1), int(time2));
  if (time1 < time2) {
    d.use_back_buffer_lock = 1;
    WriteLogLine("バックバッファロックを使用します\n");
  } else {
    WriteLogLine("バックバッファロックを使用しません\n");
  }
}

}  // namespace

GraphicsDeviceState& GraphicsDevice() { return g_device; }

plat::DirectDraw7* GetDirectDrawObject() { return g_device.direct_draw; }

int PixelFormatToCode(const GraphicFormatDescriptor* f) {
  if (f->special_kind >= 1 && f->special_kind <= 5) return 5 + f->special_kind;
  if (f->special_kind == 6) return 14;
  if (f->special_kind == 7) return 15;
  bool bits16 = f->colour_bits == 16;
  if (f->drawable) return (f->alpha || f->alpha_test) ? 13 : (bits16 ? 11 : 12);
  if (f->alpha) return bits16 ? 2 : 3;
  if (f->alpha_test) return bits16 ? 4 : 5;
  return bits16 ? 0 : 1;
}

void ComputeMaxBrightnessRgb(int r, int g, int b, uint8_t* out_r, uint8_t* out_g, uint8_t* out_b) {
  auto white = [&] { *out_r = *out_g = *out_b = 255; };
  if (r + g + b == 0) return white();
  if (r > 255) r = 255;
  if (g > 255) g = 255;
  if (b > 255) b = 255;
  // Roles: 0 red, 1 green, 2 blue.
  int mn, md, mx;
  if (r <= g) {
    if (g <= b) { mn = 0; md = 1; mx = 2; }
    else if (b < r) { mn = 2; md = 0; mx = 1; }
    else { mn = 0; md = 2; mx = 1; }
  } else {
    if (b < r) {
      if (g <= b) { mn = 1; md = 2; mx = 0; }
      else { mn = 2; md = 1; mx = 0; }
    } else { mn = 1; md = 0; mx = 2; }
  }
  int c[3] = {r, g, b};
  int vmin = c[mn], vmid = c[md], vmax = c[mx];
  if (vmax == vmin) return white();
  int s = (vmax - vmin) * 255 / vmax;
  int out[3];
  out[mx] = 255;
  out[mn] = 255 - s;
  out[md] = 255 - ((vmin - vmid) * 255 / (vmax - vmin) + 255) * s / 255;
  *out_r = uint8_t(out[0]);
  *out_g = uint8_t(out[1]);
  *out_b = uint8_t(out[2]);
}

int CreateDirectDrawObject() {
  GraphicsDeviceState& d = g_device;
  if (d.direct_draw) {
    d.direct_draw->Release();
    d.direct_draw = nullptr;
  }
  WriteLogLine("DirectDraw オブジェクトの取得を行います....  ");
  if (plat::CreateDirectDraw7(&d.direct_draw) != plat::D3D_OK) return WriteLogLine("オブジェクトの取得に失敗しました\n");
  WriteLogLine("成功\n");
  WriteLogLine("引き続き初期化処理... ");
  if (d.direct_draw->Initialize(nullptr) != plat::D3D_OK) {
    WriteLogLine("DirectDrawオブジェクトの初期化に失敗しました\n");
    d.direct_draw->Release();
    d.direct_draw = nullptr;
    return -1;
  }
  WriteLogLine("初期化に成功しました\n");
  d.direct_draw->SetCooperativeLevel(GetMainWindow(), plat::DDSCL_NORMAL);
  return 0;
}

int CreateDirect3DObject() {
  GraphicsDeviceState& d = g_device;
  ReleaseAndClear(&d.d3d);
  d.d3d_ex = nullptr;
  WriteLogLine("IDirect3D9Ex オブジェクトを取得します.... ");
  plat::Direct3D9* ex = nullptr;
  if (plat::HasDirect3DCreate9Ex() && plat::Direct3DCreate9Ex(32, &ex) == plat::D3D_OK && ex) {
    d.d3d = d.d3d_ex = ex;
  } else {
    WriteLogLine("IDirect3D9 オブジェクトを取得します.... ");
    if (!d.runtime_loaded) return WriteLogLine("Direct3DCreate9 APIのアドレス取得に失敗しました\n");
    d.d3d = plat::Direct3DCreate9(32);
    if (!d.d3d) return WriteLogLine("IDirect3D9 オブジェクトの取得に失敗しました\n");
  }
  WriteLogLine("成功\n");
  return 0;
}

int CreateDirect3DDevice() {
  GraphicsDeviceState& d = g_device;
  ScreenSettings& scr = Screen();
  if (!d.d3d) return -1;
  ReleaseDevice("Direct3DDevice9 の解放 1\n");
  plat::D3DPRESENT_PARAMETERS p{};
  p.BackBufferWidth = uint32_t(scr.width);
  p.BackBufferHeight = uint32_t(scr.height);
  p.BackBufferCount = 1;
  p.SwapEffect = plat::D3DSWAPEFFECT_COPY;
  p.hDeviceWindow = GetMainWindow();
  p.Flags = plat::D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  p.PresentationInterval = GraphicsConfig().vblank_wait_off ? plat::D3DPRESENT_INTERVAL_IMMEDIATE : plat::D3DPRESENT_INTERVAL_ONE;
  plat::D3DDISPLAYMODEEX mode{};
  bool windowed = IsWindowMode() != 0;
  auto full_format = [&]() -> int {
    if (scr.colour_bits == 16)
      p.BackBufferFormat = d.d3d->GetAdapterModeCount(0, plat::D3DFMT_R5G6B5) ? plat::D3DFMT_R5G6B5 : plat::D3DFMT_X1R5G5B5;
    else if (scr.colour_bits == 32)
      p.BackBufferFormat = plat::D3DFMT_X8R8G8B8;
    else
      return WriteLogLine("非対応のバックバッファービット深度が指定されました\n");
    return 0;
  };
  if (windowed) {
    p.Windowed = 1;
    plat::D3DDISPLAYMODE desktop{};
    d.d3d->GetAdapterDisplayMode(0, &desktop);
    p.BackBufferFormat = desktop.Format;
    if (desktop.Format == plat::D3DFMT_X8R8G8B8) scr.colour_bits = 32;
    else if (desktop.Format == plat::D3DFMT_R5G6B5 || desktop.Format == plat::D3DFMT_X1R5G5B5 ||
             desktop.Format == plat::D3DFMT_A1R5G5B5)
      scr.colour_bits = 16;
    SetDesktopComposition(1);
  } else if (OsVersionCode() >= 0x108 && EmulationFlagSet()) {
    p.Windowed = 1;
    if (full_format() != 0) return -1;
  } else {
    p.Windowed = 0;
    if (full_format() != 0) return -1;
    p.FullScreen_RefreshRateInHz = uint32_t(scr.refresh_rate);
    mode = {24, p.BackBufferWidth, p.BackBufferHeight, uint32_t(scr.refresh_rate), p.BackBufferFormat,
            plat::D3DSCANLINEORDERING_PROGRESSIVE};
    SetDesktopComposition(0);
    if (GetLoadedFunction("DwmEnableComposition")) WriteLogLine("Desktop Window Manager を無効にしました\n");
  }
  plat::D3DCAPS9 caps{};
  d.d3d->GetDeviceCaps(0, plat::D3DDEVTYPE_HAL, &caps);
  d.hardware_vertex_processing =
      (caps.VertexShaderVersion & 0xFFFF) >= 0x200 && (caps.PixelShaderVersion & 0xFFFF) >= 0x200;
  auto create = [&]() {
    uint32_t flags = d.hardware_vertex_processing ? plat::D3DCREATE_MIXED_VERTEXPROCESSING
                                                  : plat::D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    plat::D3DPRESENT_PARAMETERS q = p;
    if (d.d3d_ex)
      return d.d3d_ex->CreateDeviceEx(0, plat::D3DDEVTYPE_HAL, GetMainWindow(), flags, &q,
                                      p.Windowed ? nullptr : &mode, &d.device);
    return d.d3d->CreateDevice(0, plat::D3DDEVTYPE_HAL, GetMainWindow(), flags, &q, &d.device);
  };
  WriteLogLine(d.d3d_ex ? "IDirect3DDevice9Ex オブジェクトを取得します.... " : "IDirect3DDevice9 オブジェクトを取得します.... ");
  if (create() != plat::D3D_OK) {
    d.hardware_vertex_processing = 0;
    if (create() != plat::D3D_OK)
      return WriteLogLine(d.d3d_ex ? "Direct3DDevice9Ex の作成に失敗しました\n" : "Direct3DDevice9 の作成に失敗しました\n");
  }
  if (d.d3d_ex) d.device->SetMaximumFrameLatency(1);
  WriteLogLine(d.hardware_vertex_processing ? "ハードウエア頂点演算を使用します\n" : "ソフトウエア頂点演算を使用します\n");
  MeasureRefreshPeriod();
  d.device->SetRenderState(plat::D3DRS_ZENABLE, 1);
  for (int i = 0; i < 3; i++) {
    d.device->Clear(0, nullptr, plat::D3DCLEAR_TARGET, kScreenClearColour, 1.0f, 0);
    d.device->Present(nullptr, nullptr, GetMainWindow(), nullptr);
  }
  d.device->Clear(0, nullptr, plat::D3DCLEAR_TARGET, kScreenClearColour, 1.0f, 0);
  d.device->GetBackBuffer(0, 0, plat::D3DBACKBUFFER_TYPE_MONO, &d.back_buffer);
  d.device->GetSwapChain(0, &d.swap_chain);
  WriteLogLine("成功\n");

  d.device->GetDeviceCaps(&d.caps);
  d.blend_op_capable = (d.caps.PrimitiveMiscCaps & plat::D3DPMISCCAPS_BLENDOP) != 0;
  d.temp_register_capable = (d.caps.PrimitiveMiscCaps & plat::D3DPMISCCAPS_TSSARGTEMP) != 0;
  d.pow2_only = (d.caps.TextureCaps & plat::D3DPTEXTURECAPS_POW2) != 0;
  d.nonpow2_conditional = (d.caps.TextureCaps & plat::D3DPTEXTURECAPS_NONPOW2CONDITIONAL) != 0;
  d.max_texture_width = d.caps.MaxTextureWidth ? d.caps.MaxTextureWidth : 256;
  d.max_texture_height = d.caps.MaxTextureHeight ? d.caps.MaxTextureHeight : 256;
  d.max_texture_size = d.max_texture_width < d.max_texture_height ? d.max_texture_width : d.max_texture_height;
  d.vs20_usable = d.hardware_vertex_processing && (d.caps.VertexShaderVersion & 0xFFFF) >= 0x200;
  d.ps20_usable = d.hardware_vertex_processing && (d.caps.PixelShaderVersion & 0xFFFF) >= 0x200;
  // Values no setter stores, so that the next setting always reaches the device.
  StateCache().diffuse_from_vertex = 255;
  StateCache().specular_from_vertex = 255;

  plat::D3DADAPTER_IDENTIFIER9 id{};
  d.d3d->GetAdapterIdentifier(0, 0, &id);
  WriteLogLineFmt("Driver:%s  Description:%s", id.Driver, id.Description);

  plat::D3DSURFACE_DESC desc{};
  d.back_buffer->GetDesc(&desc);
  d.back_buffer_format = desc.Format;
  switch (desc.Format) {
    case plat::D3DFMT_X8R8G8B8: WriteLogLineFmt("画面のフォーマットは %s です", "D3DFMT_X8R8G8B8"); break;
    case plat::D3DFMT_R5G6B5: WriteLogLineFmt("画面のフォーマットは %s です", "D3DFMT_R5G6B5"); break;
    case plat::D3DFMT_X1R5G5B5: WriteLogLineFmt("画面のフォーマットは %s です", "D3DFMT_X1R5G5B5"); break;
    default: WriteLogLineFmt("バックバッファが対応していないフォーマット %d です", int(desc.Format)); break;
  }
  static const Candidate depth[] = {{plat::D3DFMT_D16, "D3DFMT_D16"}, {plat::D3DFMT_D24X8, "D3DFMT_D24X8"}, {plat::D3DFMT_D32, "D3DFMT_D32"}};
  d.z_format = 0;
  for (const Candidate& c : depth) {
    if (d.d3d->CheckDepthStencilMatch(0, plat::D3DDEVTYPE_HAL, d.back_buffer_format, d.back_buffer_format, c.format) ==
        plat::D3D_OK) {
      d.z_format = c.format;
      WriteLogLineFmt("Ｚバッファのフォーマットは %s です", c.name);
      break;
    }
  }
  if (!d.z_format) return WriteLogLine("使用できる Zバッファフォーマットが見つかりませんでした\n");
  if (FillTextureFormatTable() != 0) return -1;
  WriteLogLineFmt("最大テクスチャサイズ　幅:%d 高さ:%d", int(d.max_texture_width), int(d.max_texture_height));
  WriteLogLineFmt("テクスチャステージテンポラリレジスタ：%s", d.temp_register_capable ? "使用可" : "使用不可");
  WriteLogLineFmt("減算合成のハードウェア対応：%s", d.blend_op_capable ? "ネイティブ" : "エミュレート");
  WriteLogLineFmt("頂点シェーダーバージョンコード：%x", d.caps.VertexShaderVersion & 0xFFFF);
  WriteLogLineFmt("ピクセルシェーダーバージョンコード：%x", d.caps.PixelShaderVersion & 0xFFFF);
  BackBufferReadTest();
  return 0;
}

int CreateZBuffer() {
  GraphicsDeviceState& d = g_device;
  if (!d.device) return -1;
  ReleaseAndClear(&d.z_buffer);
  WriteLogLine("Ｚバッファを作成します.... ");
  int w = 1, h = 1;
  while (w < Screen().width) w *= 2;
  while (h < Screen().height) h *= 2;
  d.z_buffer_width = w;
  d.z_buffer_height = h;
  if (d.device->CreateDepthStencilSurface(w, h, d.z_format, 0, 0, 1, &d.z_buffer, nullptr) != plat::D3D_OK)
    return WriteLogLine("Ｚバッファの作成に失敗しました\n");
  d.device->SetDepthStencilSurface(d.z_buffer);
  d.device->Clear(0, nullptr, plat::D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  WriteLogLine("成功\n");
  return 0;
}

int CreateSubBackBuffer() {
  GraphicsDeviceState& d = g_device;
  ReleaseAndClear(&d.sub_back_buffer);
  if (!d.device ||
      d.device->CreateRenderTarget(Screen().width, Screen().height, d.back_buffer_format, 0, 0, 0, &d.sub_back_buffer,
                                   nullptr) != plat::D3D_OK)
    return WriteLogLine("サブバックバッファの作成に失敗しました\n");
  return 0;
}

int CreateBrightnessVolumeTexture() {
  GraphicsDeviceState& d = g_device;
  if (!d.device) return -1;
  ReleaseAndClear(&d.brightness_volume);
  constexpr uint32_t kSide = 128;
  plat::Direct3DVolumeTexture9* source = nullptr;
  if (d.device->CreateVolumeTexture(kSide, kSide, kSide, 1, 0, plat::D3DFMT_X8R8G8B8, plat::D3DPOOL_DEFAULT,
                                    &d.brightness_volume, nullptr) != plat::D3D_OK) {
    d.brightness_volume = nullptr;
    return WriteLogLine("RGBカラーを輝度を最大にしたRGB値に変換するためのボリュームテクスチャの作成に失敗しました\n");
  }
  if (d.device->CreateVolumeTexture(kSide, kSide, kSide, 1, 0, plat::D3DFMT_X8R8G8B8, plat::D3DPOOL_SYSTEMMEM,
                                    &source, nullptr) != plat::D3D_OK) {
    ReleaseAndClear(&d.brightness_volume);
    return WriteLogLine("RGBカラーを輝度を最大にしたRGB値に変換するための転送元用ボリュームテクスチャの作成に失敗しました\n");
  }
  plat::D3DLOCKED_BOX box{};
  if (source->LockBox(0, &box, nullptr, 0) != plat::D3D_OK) {
    ReleaseAndClear(&source);
    ReleaseAndClear(&d.brightness_volume);
    return WriteLogLine("RGBカラーを輝度を最大にしたRGB値に変換するための転送元用ボリュームテクスチャのロックに失敗しました\n");
  }
  for (uint32_t z = 0; z < kSide; ++z)
    for (uint32_t y = 0; y < kSide; ++y) {
      uint8_t* row = static_cast<uint8_t*>(box.pBits) + size_t(z) * box.SlicePitch + size_t(y) * box.RowPitch;
      for (uint32_t x = 0; x < kSide; ++x) {
        uint8_t r = 255, g = 255, b = 255;
        if (x >= 8 || y >= 8 || z >= 8) ComputeMaxBrightnessRgb(int(2 * x), int(2 * y), int(2 * z), &r, &g, &b);
        row[4 * x + 0] = b;
        row[4 * x + 1] = g;
        row[4 * x + 2] = r;
        row[4 * x + 3] = 255;
      }
    }
  source->UnlockBox(0);
  d.device->UpdateTexture(source, d.brightness_volume);
  ReleaseAndClear(&source);
  return 0;
}

int GetShaderModelVersion() {
  GraphicsDeviceState& d = g_device;
  if (d.device && !d.shaders_in_use) return 0;
  plat::D3DCAPS9 caps{};
  if (d.d3d) d.d3d->GetDeviceCaps(0, plat::D3DDEVTYPE_HAL, &caps);
  return ((caps.VertexShaderVersion & 0xFFFF) >= 0x300 && (caps.PixelShaderVersion & 0xFFFF) >= 0x300) ? 300 : 200;
}

int InitializeGraphicsDevice() {
  GraphicsDeviceState& d = g_device;
  if (!plat::LoadDirect3DRuntime()) return WriteLogLine("d3d9.dll の読み込みに失敗しました\n");
  d.runtime_loaded = 1;
  if (CreateDirectDrawObject() != 0) {
    WriteLogLine("Direct3D9 DLL の解放 3\n");
    plat::FreeDirect3DRuntime();
    d.runtime_loaded = 0;
    return -1;
  }
  d.direct3d_mode = 0;
  bool changed_display = false;
  if (GraphicsConfig().hardware_allowed) {
    bool go = true;
    if (!IsWindowMode() && OsVersionCode() >= 0x108 && EmulationFlagSet()) {
      changed_display = true;
      go = ChangeDisplayResolution() == 0;
    }
    if (go && CreateDirect3DObject() == 0 && CreateDirect3DDevice() == 0 && CreateZBuffer() == 0) {
      d.direct3d_mode = 1;
      CreateShaders();
      if (d.shaders_in_use) {
        CreateVertexDeclarations();
        CreateBrightnessVolumeTexture();
      }
      return 0;
    }
    ReleaseAndClear(&d.z_buffer);
    ReleaseAndClear(&d.back_buffer);
    ReleaseAndClear(&d.swap_chain);
    ReleaseDevice("Direct3DDevice9 の解放 2\n");
    ReleaseAndClear(&d.d3d);
    d.d3d_ex = nullptr;
  }
  (void)changed_display;
  if (!IsWindowMode() && ChangeDisplayResolution() < 0) return -1;
  MeasureRefreshPeriod();
  return 0;
}

int GraphicsSystemStart() {
  GraphicsDeviceState& d = g_device;
  if (d.started) return 0;
  ResetGraphicHandleCount();
  ScreenSettings& s = Screen();
  if (s.width == 0) s.width = 640;
  if (s.height == 0) s.height = 480;
  if (s.colour_bits == 0) s.colour_bits = 16;
  if (!IsWindowMode() && s.width == 320 && s.height == 240) {
    s.width = 640;
    s.height = 480;
    s.emulate_320x240 = 1;
  }
  if (InitializeGraphicsDevice() != 0) {
    TerminateGraphicsSystem();
    // The start did not complete, so the graphics end above stops short of
    // the device: release whatever the failed set-up left.
    ReleaseDirect3DDevice();
    return -1;
  }
  d.started = 1;
  if (d.direct3d_mode) {
    InitVertexBatchBuffers();
  } else if (CreateScreenMemImgs() != 0) {
    const int error = errno;  // ENOMEM, kept through the clean-up for the caller
    TerminateGraphicsSystem();
    errno = error;
    return -1;
  }
  ResetGraphicsCreationSettings();
  ResetDrawSettings();
  BuildSoftBlendTables();
  ResetFontSystem();
  return 0;
}

void ReleaseDirect3DDevice() {
  GraphicsDeviceState& d = g_device;
  ReleaseModelDeviceObjects();
  ReleaseVertexDeclarations();
  ReleaseShaderObjects();
  bool true_full_screen = d.direct3d_mode && (OsVersionCode() < 0x108 || !EmulationFlagSet());
  if (!IsWindowMode() && !true_full_screen) plat::ChangeDisplayMode(nullptr);
  ReleaseAndClear(&d.z_buffer);
  ReleaseAndClear(&d.sub_back_buffer);
  ReleaseAndClear(&d.back_buffer);
  ReleaseAndClear(&d.swap_chain);
  ReleaseAndClear(&d.brightness_volume);
  ReleaseDevice("Direct3DDevice9 の解放 3\n");
  ReleaseAndClear(&d.d3d);
  d.d3d_ex = nullptr;
  ReleaseAndClear(&d.direct_draw);
  if (d.runtime_loaded) {
    WriteLogLine("Direct3D9 DLL の解放 4\n");
    plat::FreeDirect3DRuntime();
    d.runtime_loaded = 0;
  }
  FreeDisplayModeList();
}

void TerminateGraphics() {
  if (!g_device.started) return;
  if (g_device.direct3d_mode) {
    ReleaseMaskScreen();
    ReleaseAllTextures();
  }
  ReleaseDirect3DDevice();
}

int ShutdownGraphicsSystem() {
  return TerminateGraphicsSystem();
}

void ResetGraphicsDeviceForTest() {
  ReleaseDirect3DDevice();
  g_device = GraphicsDeviceState{};
  Screen() = ScreenSettings{0, 0, 0, 0, 0, 0, -1};
}
