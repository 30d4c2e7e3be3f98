// The device when memory runs out, in a child process under an address-space
// limit: surfaces, textures and buffers it has no memory for are refused with
// E_OUTOFMEMORY, and band workers that cannot start leave the drawing to the
// calling thread, with the same picture; a draw that finds no memory while
// the workers run is drawn or refused whole, never half.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "tests/platform/d3d9/d3d9_test_support.h"
#include "tests/support/address_limit.h"

#if RORUD_ADDRESS_LIMIT_WORKS

namespace {

using namespace d3dtest;

class DeviceShortage : public DeviceTest {
 protected:
  // Earlier tests of the process leave freed memory and thread stacks mapped,
  // which the child would use.
  static bool FreshProcess() { return testsupport::TestsStartedInProcess() == 1; }

  void TearDown() override {
    plat::SetRasterWorkerCount(0);
    DeviceTest::TearDown();
  }

  // Overlapping triangles across every band of a 64 x 64 target.
  std::vector<uint32_t> Picture() {
    Fill(0xFF102030u);
    Blend(plat::D3DBLEND_SRCALPHA, plat::D3DBLEND_INVSRCALPHA);
    DrawColor({CV(0, 0, 0x80FF0000u), CV(64, 3, 0x80FF0000u), CV(5, 64, 0x80FF0000u),
               CV(60, 0, 0xC000FF00u), CV(64, 64, 0xC000FF00u), CV(0, 40, 0xC000FF00u)});
    return ReadBack();
  }

  std::vector<uint32_t> ReadBack() {
    std::vector<uint32_t> pixels;
    plat::Direct3DSurface9* back = BackBuffer();
    for (int y = 0; y < 64; y++)
      for (int x = 0; x < 64; x++) pixels.push_back(back->ReadPixel(x, y));
    return pixels;
  }
};

TEST_F(DeviceShortage, SurfacesTexturesAndBuffersWithoutMemoryAreRefused) {
  if (!FreshProcess()) GTEST_SKIP() << "runs only first in its process, as ctest runs it";
  MakeDevice();
  const int status = testsupport::RunWithAddressLimit(8 << 20, [this] {
    plat::Direct3DSurface9* surface = nullptr;
    if (device_->CreateOffscreenPlainSurface(16384, 16384, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_SYSTEMMEM, &surface,
                                             nullptr) != plat::E_OUTOFMEMORY_RESULT || surface != nullptr)
      return 2;
    plat::Direct3DTexture9* texture = nullptr;
    if (device_->CreateTexture(2048, 2048, 0, 0, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_MANAGED, &texture,
                               nullptr) != plat::E_OUTOFMEMORY_RESULT || texture != nullptr)
      return 3;
    plat::Direct3DVertexBuffer9* vertices = nullptr;
    if (device_->CreateVertexBuffer(1u << 28, 0, 0, plat::D3DPOOL_MANAGED, &vertices, nullptr) !=
            plat::E_OUTOFMEMORY_RESULT || vertices != nullptr)
      return 4;
    // What fits is still made.
    if (device_->CreateTexture(64, 64, 1, 0, plat::D3DFMT_A8R8G8B8, plat::D3DPOOL_MANAGED, &texture, nullptr) !=
        plat::D3D_OK)
      return 5;
    texture->Release();
    return 0;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(DeviceShortage, WorkersThatCannotStartLeaveTheDrawingToTheCaller) {
  if (!FreshProcess()) GTEST_SKIP() << "runs only first in its process, as ctest runs it";
  MakeDevice();
  plat::SetRasterWorkerCount(1);
  const std::vector<uint32_t> want = Picture();
  // No worker has started yet: in the child, none can (a thread's stack
  // does not fit under the limit).
  plat::SetRasterWorkerCount(4);
  const int status = testsupport::RunWithAddressLimit(2 << 20, [this, &want] {
    if (Picture() != want) return 2;
    if (plat::GetRasterWorkerCount() != 1) return 3;
    return Picture() == want ? 0 : 4;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(DeviceShortage, DrawsShortOfMemoryAreDrawnOrRefusedWhole) {
  MakeDevice();
  plat::SetRasterWorkerCount(4);
  const int status = testsupport::RunWithAddressLimit(64 << 20, [this] {
    Fill(0xFF102030u);  // the workers start here, with room for their stacks
    Blend(plat::D3DBLEND_SRCALPHA, plat::D3DBLEND_INVSRCALPHA);
    device_->SetFVF(0x44);
    // Every byte left is taken, then given back a little after each draw,
    // so that draws run short at every step of their queueing.
    constexpr int kDraws = 600;
    std::vector<plat::HRESULT> results;
    results.reserve(kDraws);
    std::vector<void*> hog;
    hog.reserve(1 << 20);
    for (size_t size : {size_t(4096), size_t(256), size_t(16)})
      while (hog.size() < hog.capacity())
        if (void* p = std::malloc(size)) hog.push_back(p);
        else break;
    auto draw = [this](int i) {
      const float x = float(i % 50), y = float((i * 7) % 50);
      const uint32_t c = 0x60000000u | (uint32_t(i) * 0x010307u & 0xFFFFFFu);
      const ColorVertex v[3] = {CV(x, y, c), CV(x + 14, y + 3, c), CV(x + 2, y + 16, c)};
      return device_->DrawPrimitiveUP(plat::D3DPT_TRIANGLELIST, 1, v, sizeof(ColorVertex));
    };
    device_->BeginScene();
    for (int i = 0; i < kDraws; i++) {
      results.push_back(draw(i));
      for (int k = 0; k < 16 && !hog.empty(); k++) {
        std::free(hog.back());
        hog.pop_back();
      }
    }
    device_->EndScene();
    for (void* p : hog) std::free(p);
    const std::vector<uint32_t> got = ReadBack();
    // The same picture from one thread with the draws that were accepted.
    plat::SetRasterWorkerCount(1);
    Fill(0xFF102030u);
    device_->BeginScene();
    int refused = 0;
    for (int i = 0; i < kDraws; i++) {
      if (results[i] == plat::E_OUTOFMEMORY_RESULT) refused++;
      else if (results[i] != plat::D3D_OK) return 2;
      else draw(i);
    }
    device_->EndScene();
    if (refused == 0 || refused == kDraws) return 3;
    return ReadBack() == got ? 0 : 4;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace

#endif
