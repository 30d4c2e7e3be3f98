// The device presenting into a real SDL window on a virtual X server: a
// cleared frame with one sprite, read back with a screenshot of the root
// window. Skipped where no virtual X server can be started.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/window/backend.h"
#include "platform/d3d9/d3d9.h"
#include "platform/window/window.h"

namespace {

struct XServer {
  int display = 0;
  std::string pid_file;
  bool started = false;

  bool Start() {
    if (std::system("command -v Xvfb >/dev/null 2>&1 && command -v import >/dev/null 2>&1") != 0) return false;
    auto seed = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 5 && !started; attempt++) {
      display = 70 + int((seed / 7 + attempt * 3) % 25);
      std::string sock = "/tmp/.X11-unix/X" + std::to_string(display);
      if (std::filesystem::exists(sock)) continue;
      pid_file = (std::filesystem::temp_directory_path() / ("rorud-xvfb-" + std::to_string(display))).string();
      // The server ends with its last client (this process) and in any case
      // after two minutes, so nothing outlives the test run.
      std::string cmd = "timeout 120 Xvfb :" + std::to_string(display) +
                        " -screen 0 800x600x24 -nolisten tcp -terminate >/dev/null 2>&1 & echo $! > " + pid_file;
      if (std::system(cmd.c_str()) != 0) continue;
      // Ready once its socket is there: waited for while the server runs,
      // for a minute at most, a net that no load on the machine comes near.
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!started && Running() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        started = std::filesystem::exists(sock);
      }
      if (!started) Stop();
    }
    return started;
  }
  // The server (its time limit's process, which ends with it) still runs:
  // it is there and has not ended unreaped.
  bool Running() const {
    std::ifstream in(pid_file);
    long pid = 0;
    if (!(in >> pid) || pid <= 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    const size_t name_end = std::getline(stat, line) ? line.rfind(')') : std::string::npos;
    return name_end != std::string::npos && name_end + 2 < line.size() && line[name_end + 2] != 'Z';
  }
  // Ends a server that never got a client; one with a client ends with it.
  void Stop() {
    std::ifstream in(pid_file);
    long pid = 0;
    if (in >> pid && pid > 0) std::system(("kill " + std::to_string(pid) + " 2>/dev/null").c_str());
    std::filesystem::remove(pid_file);
    started = false;
  }
  void Forget() {
    std::filesystem::remove(pid_file);
    started = false;
  }
};

// The colour of one pixel of the root window, as ImageMagick reads it.
bool ScreenPixel(int display, int x, int y, uint32_t* rgb) {
  std::string out = (std::filesystem::temp_directory_path() / ("rorud-shot-" + std::to_string(display) + ".txt")).string();
  std::string cmd = "import -display :" + std::to_string(display) + " -window root -crop 1x1+" + std::to_string(x) + "+" +
                    std::to_string(y) + " -depth 8 txt:" + out + " 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return false;
  std::ifstream in(out);
  std::string line, last;
  while (std::getline(in, line)) last = line;
  std::filesystem::remove(out);
  size_t hash = last.find('#');
  if (hash == std::string::npos) return false;
  *rgb = uint32_t(std::stoul(last.substr(hash + 1, 6), nullptr, 16));
  return true;
}

intptr_t Proc(plat::Window* w, uint32_t m, uintptr_t wp, intptr_t lp) { return plat::DefWindowProc(w, m, wp, lp); }

TEST(DeviceOnXServer, WindowShowsClearedFrameAndSprite) {
  XServer x;
  if (!x.Start()) GTEST_SKIP() << "no virtual X server (Xvfb and ImageMagick's import are needed)";
  setenv("DISPLAY", (":" + std::to_string(x.display)).c_str(), 1);
  plat::SetBackend(plat::Backend::kSdl);
  auto folder = std::filesystem::temp_directory_path() / ("rorud-lock-xvfb-" + std::to_string(x.display));
  std::filesystem::create_directories(folder);
  plat::SetWindowLockFolder(folder.string());
  ASSERT_TRUE(plat::RegisterWindowClass("RoRudXvfbDevice", Proc));
  plat::Window* win = plat::CreateWindow("RoRudXvfbDevice", "device", plat::kWsPopup | plat::kWsVisible, 0, 0, 0, 320, 240);
  if (!win) {
    x.Forget();
    plat::SetBackend(plat::Backend::kHeadless);
    GTEST_SKIP() << "SDL could not open a window on the virtual X server";
  }
  plat::Direct3D9* d3d = plat::Direct3DCreate9(32);
  plat::D3DPRESENT_PARAMETERS p{};
  p.BackBufferWidth = 320;
  p.BackBufferHeight = 240;
  p.BackBufferFormat = plat::D3DFMT_X8R8G8B8;
  p.SwapEffect = plat::D3DSWAPEFFECT_COPY;
  p.hDeviceWindow = win;
  p.Windowed = 1;
  p.PresentationInterval = plat::D3DPRESENT_INTERVAL_IMMEDIATE;
  plat::Direct3DDevice9* dev = nullptr;
  ASSERT_EQ(d3d->CreateDevice(0, plat::D3DDEVTYPE_HAL, win, plat::D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &dev), plat::D3D_OK);
  plat::Direct3DTexture9* tex = nullptr;
  ASSERT_EQ(dev->CreateTexture(16, 16, 1, 0, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_MANAGED, &tex, nullptr), plat::D3D_OK);
  plat::D3DLOCKED_RECT lr;
  tex->LockRect(0, &lr, nullptr, 0);
  for (int y = 0; y < 16; y++)
    for (int i = 0; i < 16; i++) reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch)[i] = 0xFFFF2000u;
  tex->UnlockRect(0);
  struct V {
    float x, y, z, rhw;
    uint32_t c;
    float u, v;
  } v[6] = {{99.5f, 99.5f, 0, 1, ~0u, 0, 0}, {131.5f, 99.5f, 0, 1, ~0u, 1, 0}, {99.5f, 131.5f, 0, 1, ~0u, 0, 1},
            {131.5f, 131.5f, 0, 1, ~0u, 1, 1}, {99.5f, 131.5f, 0, 1, ~0u, 0, 1}, {131.5f, 99.5f, 0, 1, ~0u, 1, 0}};
  bool ok_blue = false, ok_sprite = false;
  uint32_t blue = 0, sprite = 0;
  // Drawn again until the screen shows it (the window is mapped some time
  // after it is made), for a minute at most.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!(ok_blue && ok_sprite) && std::chrono::steady_clock::now() < until) {
    dev->Clear(0, nullptr, plat::D3DCLEAR_TARGET, 0xFF0020C0u, 1.0f, 0);
    dev->BeginScene();
    dev->SetRenderState(plat::D3DRS_LIGHTING, 0);
    dev->SetFVF(0x144);
    dev->SetTexture(0, tex);
    dev->DrawPrimitiveUP(plat::D3DPT_TRIANGLELIST, 2, v, sizeof(V));
    dev->EndScene();
    ASSERT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), plat::D3D_OK);
    plat::Message m;
    while (plat::PeekMessage(&m, plat::kAnyWindow, true)) plat::DispatchMessage(&m);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ok_blue = ScreenPixel(x.display, 10, 10, &blue) && blue == 0x0020C0u;
    ok_sprite = ScreenPixel(x.display, 115, 115, &sprite) && sprite == 0xFF2000u;
  }
  EXPECT_TRUE(ok_blue) << std::hex << blue;
  EXPECT_TRUE(ok_sprite) << std::hex << sprite;
  dev->SetTexture(0, nullptr);
  tex->Release();
  dev->Release();
  d3d->Release();
  plat::DestroyWindow(win);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  plat::SetBackend(plat::Backend::kHeadless);
  // SDL keeps its connection open; killing the server now would end the
  // process, so the server goes when the process does.
  x.Forget();
}

}  // namespace
