// The Direct3D stand-in's factory, resources, transfers, presentation,
// device loss, capability overrides and call recording.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>

#include "platform/d3d9/ddraw.h"
#include "platform/kernel/kernel.h"
#include "tests/platform/d3d9/d3d9_test_support.h"

using namespace d3dtest;

TEST_F(DeviceTest, FactoryReportsDesktopFormatsAndCaps) {
  plat::VirtualDesktop desk;
  desk.width = 1280;
  desk.height = 720;
  desk.bits = 16;
  plat::HeadlessReset(desk);
  plat::D3DDISPLAYMODE mode;
  ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &mode), plat::D3D_OK);
  EXPECT_EQ(mode.Width, 1280u);
  EXPECT_EQ(mode.Format, plat::D3DFMT_R5G6B5);
  EXPECT_EQ(d3d_->GetAdapterDisplayMode(1, &mode), plat::D3DERR_INVALIDCALL);

  plat::D3DCAPS9 caps;
  ASSERT_EQ(d3d_->GetDeviceCaps(0, plat::D3DDEVTYPE_HAL, &caps), plat::D3D_OK);
  EXPECT_EQ(caps.MaxTextureWidth, 2048u);
  EXPECT_EQ(caps.TextureCaps & plat::D3DPTEXTURECAPS_POW2, 0u);
  EXPECT_NE(caps.PrimitiveMiscCaps & plat::D3DPMISCCAPS_BLENDOP, 0u);
  EXPECT_EQ(caps.PrimitiveMiscCaps & plat::D3DPMISCCAPS_TSSARGTEMP, 0u);
  EXPECT_EQ(caps.VertexShaderVersion, 0u);
  EXPECT_EQ(caps.PixelShaderVersion, 0u);

  using plat::D3DRTYPE_TEXTURE;
  auto check = [&](uint32_t usage, plat::D3DFORMAT f) {
    return d3d_->CheckDeviceFormat(0, plat::D3DDEVTYPE_HAL, plat::D3DFMT_X8R8G8B8, usage, D3DRTYPE_TEXTURE, f);
  };
  for (plat::D3DFORMAT f : {plat::D3DFMT_R5G6B5, plat::D3DFMT_X1R5G5B5, plat::D3DFMT_A1R5G5B5, plat::D3DFMT_A4R4G4B4,
                            plat::D3DFMT_X8R8G8B8, plat::D3DFMT_A8R8G8B8}) {
    EXPECT_EQ(check(0, f), plat::D3D_OK) << f;
    EXPECT_EQ(check(plat::D3DUSAGE_RENDERTARGET, f), plat::D3D_OK) << f;
  }
  for (plat::D3DFORMAT f : {plat::D3DFMT_DXT1, plat::D3DFMT_DXT5, plat::D3DFMT_A16B16G16R16F, plat::D3DFMT_A32B32G32R32F})
    EXPECT_EQ(check(plat::D3DUSAGE_RENDERTARGET, f), plat::D3DERR_NOTAVAILABLE) << f;
  plat::SetRefusedFormats({plat::D3DFMT_R5G6B5});
  EXPECT_EQ(check(0, plat::D3DFMT_R5G6B5), plat::D3DERR_NOTAVAILABLE);
  plat::SetRefusedFormats({});
  EXPECT_EQ(d3d_->CheckDepthStencilMatch(0, plat::D3DDEVTYPE_HAL, plat::D3DFMT_X8R8G8B8, plat::D3DFMT_X8R8G8B8,
                                         plat::D3DFMT_D16),
            plat::D3D_OK);
  EXPECT_EQ(d3d_->CheckDepthStencilMatch(0, plat::D3DDEVTYPE_HAL, plat::D3DFMT_X8R8G8B8, plat::D3DFMT_X8R8G8B8,
                                         plat::D3DFMT_A8R8G8B8),
            plat::D3DERR_NOTAVAILABLE);
  EXPECT_GT(d3d_->GetAdapterModeCount(0, plat::D3DFMT_X8R8G8B8), 0u);

  plat::D3DADAPTER_IDENTIFIER9 id;
  ASSERT_EQ(d3d_->GetAdapterIdentifier(0, 0, &id), plat::D3D_OK);
  EXPECT_STRNE(id.Driver, "");
}

TEST_F(DeviceTest, CreationRulesAndRuntimeSwitches) {
  plat::D3DPRESENT_PARAMETERS p{};
  p.BackBufferWidth = 640;
  p.BackBufferHeight = 480;
  p.Windowed = 1;
  p.SwapEffect = plat::D3DSWAPEFFECT_COPY;
  plat::Direct3DDevice9* dev = nullptr;
  // Windowed with an unknown format takes the desktop's.
  ASSERT_EQ(d3d_->CreateDevice(0, plat::D3DDEVTYPE_HAL, nullptr, plat::D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &dev),
            plat::D3D_OK);
  EXPECT_EQ(p.BackBufferFormat, plat::D3DFMT_X8R8G8B8);
  dev->Release();
  // No vertex-processing choice, or a full-screen size the display lacks.
  EXPECT_EQ(d3d_->CreateDevice(0, plat::D3DDEVTYPE_HAL, nullptr, 0, &p, &dev), plat::D3DERR_INVALIDCALL);
  p.Windowed = 0;
  p.BackBufferWidth = 641;
  EXPECT_EQ(d3d_->CreateDevice(0, plat::D3DDEVTYPE_HAL, nullptr, plat::D3DCREATE_MIXED_VERTEXPROCESSING, &p, &dev),
            plat::D3DERR_INVALIDCALL);
  p.BackBufferWidth = 640;
  ASSERT_EQ(d3d_->CreateDevice(0, plat::D3DDEVTYPE_HAL, nullptr, plat::D3DCREATE_MIXED_VERTEXPROCESSING, &p, &dev),
            plat::D3D_OK);
  dev->Release();
  plat::SetDeviceCreationFails(true);
  EXPECT_EQ(d3d_->CreateDevice(0, plat::D3DDEVTYPE_HAL, nullptr, plat::D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &dev),
            plat::D3DERR_NOTAVAILABLE);
  EXPECT_EQ(dev, nullptr);
  plat::SetDeviceCreationFails(false);

  plat::Direct3D9* ex = nullptr;
  ASSERT_EQ(plat::Direct3DCreate9Ex(32, &ex), plat::D3D_OK);
  EXPECT_TRUE(ex->is_ex());
  ex->Release();
  plat::SetDirect3DExAvailable(false);
  EXPECT_NE(plat::Direct3DCreate9Ex(32, &ex), plat::D3D_OK);
  EXPECT_EQ(ex, nullptr);
  plat::SetDirect3DExAvailable(true);
  plat::SetDirect3DRuntimeAvailable(false);
  EXPECT_FALSE(plat::LoadDirect3DRuntime());
  EXPECT_EQ(plat::Direct3DCreate9(32), nullptr);
  plat::SetDirect3DRuntimeAvailable(true);
  EXPECT_TRUE(plat::LoadDirect3DRuntime());
  plat::FreeDirect3DRuntime();
}

TEST_F(DeviceTest, LockPitchPoolsAndTransfers) {
  MakeDevice(32, 32);
  plat::Direct3DTexture9* t = nullptr;
  ASSERT_EQ(device_->CreateTexture(5, 3, 0, 0, plat::D3DFMT_R5G6B5, plat::D3DPOOL_MANAGED, &t, nullptr), plat::D3D_OK);
  EXPECT_EQ(t->GetLevelCount(), 3u);  // 5x3, 2x1, 1x1
  plat::D3DLOCKED_RECT lr;
  plat::RECT r = {1, 1, 3, 2};
  ASSERT_EQ(t->LockRect(0, &lr, &r, 0), plat::D3D_OK);
  EXPECT_GE(lr.Pitch, 10);
  EXPECT_EQ(lr.Pitch % 4, 0);
  EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), plat::D3DERR_INVALIDCALL);  // already locked
  EXPECT_EQ(t->UnlockRect(0), plat::D3D_OK);
  EXPECT_EQ(t->UnlockRect(0), plat::D3DERR_INVALIDCALL);
  r = {0, 0, 6, 1};
  EXPECT_EQ(t->LockRect(0, &lr, &r, 0), plat::D3DERR_INVALIDCALL);
  t->Release();

  // Refusals: float formats, render targets outside the default pool, default-pool locks.
  EXPECT_EQ(device_->CreateTexture(4, 4, 1, 0, plat::D3DFMT_A16B16G16R16F, plat::D3DPOOL_MANAGED, &t, nullptr),
            plat::D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->CreateTexture(4, 4, 1, plat::D3DUSAGE_RENDERTARGET, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_MANAGED,
                                   &t, nullptr),
            plat::D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->CreateTexture(4096, 4, 1, 0, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_MANAGED, &t, nullptr),
            plat::D3DERR_INVALIDCALL);
  plat::Direct3DTexture9* rt_tex = nullptr;
  ASSERT_EQ(device_->CreateTexture(8, 8, 1, plat::D3DUSAGE_RENDERTARGET, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_DEFAULT,
                                   &rt_tex, nullptr),
            plat::D3D_OK);
  EXPECT_EQ(rt_tex->LockRect(0, &lr, nullptr, 0), plat::D3DERR_INVALIDCALL);
  plat::Direct3DSurface9* level = nullptr;
  ASSERT_EQ(rt_tex->GetSurfaceLevel(0, &level), plat::D3D_OK);
  EXPECT_EQ(rt_tex->RefCountForTest(), 2u);  // the level holds its texture

  // System memory -> default pool (UpdateSurface), fill, read back (GetRenderTargetData).
  plat::Direct3DSurface9* sys = nullptr;
  ASSERT_EQ(device_->CreateOffscreenPlainSurface(8, 8, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_SYSTEMMEM, &sys, nullptr),
            plat::D3D_OK);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) sys->WritePixel(x, y, 0x11000000u * uint32_t(y) + uint32_t(x));
  plat::RECT part = {2, 2, 6, 5};
  plat::POINT at = {1, 3};
  ASSERT_EQ(device_->UpdateSurface(sys, &part, level, &at), plat::D3D_OK);
  EXPECT_EQ(level->ReadPixel(1, 3), 0x22000002u);
  EXPECT_EQ(level->ReadPixel(4, 5), 0x44000005u);
  EXPECT_EQ(level->ReadPixel(0, 0), 0u);
  plat::RECT fill = {6, 6, 8, 8};
  ASSERT_EQ(device_->ColorFill(level, &fill, 0x80FF0000u), plat::D3D_OK);
  EXPECT_EQ(device_->ColorFill(sys, nullptr, 0), plat::D3DERR_INVALIDCALL);
  plat::Direct3DSurface9* sys2 = nullptr;
  ASSERT_EQ(device_->CreateOffscreenPlainSurface(8, 8, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_SYSTEMMEM, &sys2, nullptr),
            plat::D3D_OK);
  ASSERT_EQ(device_->GetRenderTargetData(level, sys2), plat::D3D_OK);
  EXPECT_EQ(sys2->ReadPixel(7, 7), 0x80FF0000u);
  EXPECT_EQ(sys2->ReadPixel(4, 5), 0x44000005u);
  EXPECT_EQ(device_->GetRenderTargetData(sys, sys2), plat::D3DERR_INVALIDCALL);

  // StretchRect doubles a rectangle into the back buffer, point-filtered.
  ASSERT_EQ(device_->StretchRect(level, &part, BackBuffer(), nullptr, plat::D3DTEXF_NONE), plat::D3D_OK);
  plat::RECT half = {0, 0, 4, 4};
  plat::RECT dbl = {0, 0, 8, 8};
  ASSERT_EQ(device_->StretchRect(level, &half, BackBuffer(), &dbl, plat::D3DTEXF_NONE), plat::D3D_OK);
  EXPECT_EQ(BackBuffer()->ReadPixel(2, 6), level->ReadPixel(1, 3) | 0xFF000000u);
  EXPECT_EQ(BackBuffer()->ReadPixel(3, 7), level->ReadPixel(1, 3) | 0xFF000000u);
  EXPECT_EQ(device_->StretchRect(sys, nullptr, BackBuffer(), nullptr, plat::D3DTEXF_NONE), plat::D3DERR_INVALIDCALL);

  // UpdateTexture copies every level of a system-memory texture.
  plat::Direct3DTexture9 *src_tex = nullptr, *dst_tex = nullptr;
  ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, plat::D3DFMT_X8R8G8B8, plat::D3DPOOL_SYSTEMMEM, &src_tex, nullptr), plat::D3D_OK);
  ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, plat::D3DFMT_X8R8G8B8, plat::D3DPOOL_DEFAULT, &dst_tex, nullptr), plat::D3D_OK);
  src_tex->level(0)->WritePixel(3, 3, 0xFF123456u);
  ASSERT_EQ(device_->UpdateTexture(src_tex, dst_tex), plat::D3D_OK);
  EXPECT_EQ(dst_tex->level(0)->ReadPixel(3, 3), 0xFF123456u);
  EXPECT_EQ(device_->UpdateTexture(dst_tex, src_tex), plat::D3DERR_INVALIDCALL);

  for (auto* o : {static_cast<plat::Direct3DResource*>(src_tex), static_cast<plat::Direct3DResource*>(dst_tex),
                  static_cast<plat::Direct3DResource*>(sys), static_cast<plat::Direct3DResource*>(sys2),
                  static_cast<plat::Direct3DResource*>(level)})
    o->Release();
  EXPECT_EQ(rt_tex->Release(), 0u);
}

TEST_F(DeviceTest, PresentShowsTheBackBufferAndKeepsIt) {
  // A lock folder of this run's own: other runs on the machine make windows
  // of the same class.
  auto folder = std::filesystem::temp_directory_path() /
                ("rorud-lock-d3d-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(folder);
  plat::SetWindowLockFolder(folder.string());
  ASSERT_TRUE(plat::RegisterWindowClass("D3DTestClass", [](plat::Window* w, uint32_t m, uintptr_t wp, intptr_t lp) {
    return plat::DefWindowProc(w, m, wp, lp);
  }));
  plat::Window* win = plat::CreateWindow("D3DTestClass", "t", plat::kWsPopup | plat::kWsVisible, 0, 0, 0, 960, 720);
  ASSERT_NE(win, nullptr);
  MakeDevice(640, 480, plat::D3DFMT_R5G6B5, win);
  Fill(0xFF0000FFu);
  auto* bb = BackBuffer();
  bb->WritePixel(319, 239, 0xFFFFFFFFu);
  plat::RECT src = {0, 0, 320, 240}, dst = {0, 0, 960, 720};
  ASSERT_EQ(device_->Present(&src, &dst, nullptr, nullptr), plat::D3D_OK);
  std::vector<uint32_t> frame;
  int w = 0, h = 0;
  ASSERT_TRUE(plat::HeadlessGetLastFrame(win, &frame, &w, &h));
  ASSERT_EQ(w, 960);
  EXPECT_EQ(frame[0] & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(frame[size_t(719) * 960 + 959] & 0xFFFFFF, 0xFFFFFFu);  // pixel (319, 239) scaled by 3
  plat::Rect s2, d2;
  ASSERT_TRUE(plat::HeadlessGetLastPresentRects(win, &s2, &d2));
  EXPECT_EQ(d2.right, 960);
  // The copy swap effect leaves the back buffer as it was.
  EXPECT_EQ(bb->ReadPixel(319, 239), 0xFFFFFFFFu);
  EXPECT_EQ(bb->ReadPixel(5, 5), 0xFF0000FFu);
  // Inside a scene presenting is refused; a source outside the buffer too.
  device_->BeginScene();
  EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), plat::D3DERR_INVALIDCALL);
  device_->EndScene();
  plat::RECT bad = {0, 0, 641, 480};
  EXPECT_EQ(device_->Present(&bad, nullptr, nullptr, nullptr), plat::D3DERR_INVALIDCALL);
  plat::Direct3DSwapChain9* chain = nullptr;
  ASSERT_EQ(device_->GetSwapChain(0, &chain), plat::D3D_OK);
  EXPECT_EQ(chain->Present(nullptr, nullptr, win, nullptr, 0), plat::D3D_OK);
  EXPECT_EQ(plat::HeadlessPresentCount(win), 2);
  chain->Release();
  device_->Release();
  device_ = nullptr;
  plat::DestroyWindow(win);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

TEST_F(DeviceTest, DeviceLossAndLiveObjects) {
  MakeDevice(16, 16);
  int base = device_->LiveObjectCount();
  EXPECT_EQ(base, 2);  // the device and its swap chain
  plat::Direct3DTexture9* t = nullptr;
  plat::Direct3DSurface9* s = nullptr;
  plat::Direct3DVertexBuffer9* vb = nullptr;
  ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_MANAGED, &t, nullptr), plat::D3D_OK);
  ASSERT_EQ(device_->CreateDepthStencilSurface(16, 16, plat::D3DFMT_D16, 0, 0, 1, &s, nullptr), plat::D3D_OK);
  ASSERT_EQ(device_->CreateVertexBuffer(64, 0, 0x44, plat::D3DPOOL_MANAGED, &vb, nullptr), plat::D3D_OK);
  device_->SetTexture(0, t);
  device_->SetDepthStencilSurface(s);
  EXPECT_EQ(device_->LiveObjectCount(), base + 3);
  EXPECT_EQ(device_->TestCooperativeLevel(), plat::D3D_OK);
  device_->SimulateDeviceLoss();
  EXPECT_TRUE(device_->IsLost());
  EXPECT_EQ(device_->TestCooperativeLevel(), plat::D3DERR_DEVICELOST);
  EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), plat::D3DERR_DEVICELOST);
  // Drawing on a lost device succeeds without effect; children release normally.
  EXPECT_EQ(device_->Clear(0, nullptr, plat::D3DCLEAR_TARGET, 0xFFFFFFFFu, 1.0f, 0), plat::D3D_OK);
  EXPECT_EQ(BackBuffer()->ReadPixel(0, 0), 0xFF000000u);
  t->Release();
  s->Release();
  vb->Release();
  EXPECT_EQ(device_->LiveObjectCount(), base + 2);  // still bound to the device
  device_->SetTexture(0, nullptr);
  device_->SetDepthStencilSurface(nullptr);
  EXPECT_EQ(device_->LiveObjectCount(), base);
  // The rebuild: a new device, and the process-wide count back where it was.
  int before = plat::LiveDirect3DObjectCount();
  device_->Release();
  device_ = nullptr;
  EXPECT_EQ(plat::LiveDirect3DObjectCount(), before - base);
  MakeDevice(16, 16);
  EXPECT_EQ(plat::LiveDirect3DObjectCount(), before);
  EXPECT_EQ(device_->TestCooperativeLevel(), plat::D3D_OK);
}

TEST_F(DeviceTest, CapsOverridesShapeTextureRules) {
  plat::D3DCAPS9 caps = plat::DefaultDeviceCaps();
  caps.TextureCaps = plat::D3DPTEXTURECAPS_POW2 | plat::D3DPTEXTURECAPS_SQUAREONLY;
  caps.PrimitiveMiscCaps = 0;
  caps.MaxTextureWidth = caps.MaxTextureHeight = 256;
  plat::SetDeviceCapsOverride(&caps);
  MakeDevice(16, 16);
  plat::D3DCAPS9 got;
  device_->GetDeviceCaps(&got);
  EXPECT_EQ(got.PrimitiveMiscCaps & plat::D3DPMISCCAPS_BLENDOP, 0u);
  plat::Direct3DTexture9* t = nullptr;
  EXPECT_EQ(device_->CreateTexture(24, 24, 1, 0, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_MANAGED, &t, nullptr), plat::D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->CreateTexture(32, 16, 1, 0, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_MANAGED, &t, nullptr), plat::D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->CreateTexture(512, 512, 1, 0, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_MANAGED, &t, nullptr), plat::D3DERR_INVALIDCALL);
  ASSERT_EQ(device_->CreateTexture(32, 32, 1, 0, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_MANAGED, &t, nullptr), plat::D3D_OK);
  t->Release();
}

// Integer and boolean shader constants are kept per side like the float
// ones and read back as given; a range past the 16 registers is refused and
// leaves the registers alone.
TEST_F(DeviceTest, ShaderIntegerAndBooleanConstantsAreKept) {
  MakeDevice(8, 8);
  const int32_t ints[8] = {1, -2, 3, -4, 5, 6, 7, 8};
  const int32_t bools[3] = {1, 0, 1};
  ASSERT_EQ(device_->SetVertexShaderConstantI(14, ints, 2), plat::D3D_OK);
  ASSERT_EQ(device_->SetPixelShaderConstantB(13, bools, 3), plat::D3D_OK);
  EXPECT_EQ(device_->SetVertexShaderConstantI(15, ints, 2), plat::D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->SetPixelShaderConstantB(14, bools, 3), plat::D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->SetVertexShaderConstantB(0, nullptr, 1), plat::D3DERR_INVALIDCALL);
  int32_t i[8] = {}, b[3] = {};
  ASSERT_EQ(device_->GetVertexShaderConstantI(14, i, 2), plat::D3D_OK);
  EXPECT_EQ(std::vector<int32_t>(i, i + 8), std::vector<int32_t>(ints, ints + 8));
  ASSERT_EQ(device_->GetPixelShaderConstantB(13, b, 3), plat::D3D_OK);
  EXPECT_EQ(std::vector<int32_t>(b, b + 3), (std::vector<int32_t>{1, 0, 1}));
  // The other side's registers are untouched.
  ASSERT_EQ(device_->GetPixelShaderConstantI(14, i, 2), plat::D3D_OK);
  EXPECT_EQ(std::vector<int32_t>(i, i + 8), std::vector<int32_t>(8, 0));
  ASSERT_EQ(device_->GetVertexShaderConstantB(13, b, 3), plat::D3D_OK);
  EXPECT_EQ(std::vector<int32_t>(b, b + 3), std::vector<int32_t>(3, 0));
  EXPECT_EQ(device_->GetVertexShaderConstantB(16, b, 1), plat::D3DERR_INVALIDCALL);
}

TEST_F(DeviceTest, RecordingLogsCallsAndCanSkipDrawing) {
  plat::StartD3DRecording(false);
  MakeDevice(8, 8);
  device_->SetRenderState(plat::D3DRS_ZENABLE, 1);
  Fill(0xFFFFFFFFu);
  device_->SetTextureStageState(1, plat::D3DTSS_COLOROP, plat::D3DTOP_DISABLE);
  auto log = plat::StopD3DRecording();
  auto has = [&](const std::string& s) { return std::find(log.begin(), log.end(), s) != log.end(); };
  EXPECT_TRUE(has("SetRenderState(7, 1)"));
  EXPECT_TRUE(has("SetTextureStageState(1, 1, 1)"));
  EXPECT_TRUE(has("Clear(0, null, 1, 4294967295, 1, 0)"));
  // The recording-only device did not draw.
  EXPECT_EQ(BackBuffer()->ReadPixel(0, 0), 0xFF000000u);
  EXPECT_FALSE(plat::IsD3DRecording());
}

TEST_F(DeviceTest, DrawValidationAndStripsFansIndices) {
  MakeDevice(16, 16);
  Fill(0);
  const uint32_t c = 0xFFFF0000u;
  ColorVertex v[4] = {CV(0, 0, c), CV(16, 0, c), CV(0, 16, c), CV(16, 16, c)};
  device_->SetFVF(0x44);
  device_->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_SELECTARG1);
  device_->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_DIFFUSE);
  // Outside a scene drawing is refused.
  EXPECT_EQ(device_->DrawPrimitiveUP(plat::D3DPT_TRIANGLESTRIP, 2, v, sizeof(ColorVertex)), plat::D3DERR_INVALIDCALL);
  device_->BeginScene();
  EXPECT_EQ(device_->DrawPrimitiveUP(plat::D3DPT_TRIANGLESTRIP, 2, v, 0), plat::D3DERR_INVALIDCALL);
  EXPECT_EQ(device_->DrawPrimitiveUP(plat::D3DPT_TRIANGLESTRIP, 2, v, sizeof(ColorVertex)), plat::D3D_OK);
  device_->EndScene();
  auto* bb = BackBuffer();
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 16; x++) ASSERT_EQ(bb->ReadPixel(x, y), c);
  // An indexed strip that joins two rows through degenerate triangles.
  Fill(0);
  ColorVertex grid[6] = {CV(0, 0, c), CV(8, 0, c), CV(16, 0, c), CV(0, 8, c), CV(8, 8, c), CV(16, 8, c)};
  uint16_t idx[6] = {3, 0, 4, 1, 5, 2};
  device_->BeginScene();
  EXPECT_EQ(device_->DrawIndexedPrimitiveUP(plat::D3DPT_TRIANGLESTRIP, 0, 6, 4, idx, plat::D3DFMT_INDEX16, grid,
                                            sizeof(ColorVertex)),
            plat::D3D_OK);
  uint16_t bad[3] = {0, 1, 9};
  EXPECT_EQ(device_->DrawIndexedPrimitiveUP(plat::D3DPT_TRIANGLELIST, 0, 6, 1, bad, plat::D3DFMT_INDEX16, grid,
                                            sizeof(ColorVertex)),
            plat::D3DERR_INVALIDCALL);
  device_->EndScene();
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 16; x++) ASSERT_EQ(bb->ReadPixel(x, y), y < 8 ? c : 0xFF000000u) << x << "," << y;
}

TEST(VerticalBlank, PacesAtSixtyHertzOnTheVirtualClock) {
  plat::EnableVirtualClock(true);
  plat::SetVirtualClockAutoAdvance(0);
  plat::SetVirtualClockMicros(1000);
  plat::DirectDraw7* dd = nullptr;
  ASSERT_EQ(plat::CreateDirectDraw7(&dd), plat::D3D_OK);
  EXPECT_EQ(dd->WaitForVerticalBlank(plat::DDWAITVB_BLOCKBEGIN, nullptr), plat::D3DERR_INVALIDCALL);
  ASSERT_EQ(dd->Initialize(nullptr), plat::D3D_OK);
  ASSERT_EQ(dd->SetCooperativeLevel(nullptr, plat::DDSCL_NORMAL), plat::D3D_OK);
  uint64_t prev = plat::VerticalBlankClockMicros();
  for (int k = 1; k <= 120; k++) {
    ASSERT_EQ(dd->WaitForVerticalBlank(plat::DDWAITVB_BLOCKBEGIN, nullptr), plat::D3D_OK);
    uint64_t now = plat::VerticalBlankClockMicros();
    EXPECT_EQ(now, uint64_t(k) * 1000000 / 60) << k;
    EXPECT_GT(now, prev);
    prev = now;
  }
  // Two seconds of blanks took two seconds of the clock.
  EXPECT_EQ(prev, 2000000u);
  dd->Release();
  plat::SetDirectDrawAvailable(false);
  EXPECT_EQ(plat::CreateDirectDraw7(&dd), plat::D3DERR_NOTAVAILABLE);
  plat::SetDirectDrawAvailable(true);
  plat::EnableVirtualClock(false);
}
