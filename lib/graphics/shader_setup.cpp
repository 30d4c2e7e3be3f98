// lib/graphics/shader_setup.cpp - the choice between the programmable
// shaders and the fixed-function path at device creation.
//
// This build carries no shader packs: LoadShaderPacks finds none, so a
// device that offers version 2.0 shaders runs the fixed-function path too,
// through the Part's own fallback for packs that cannot be unpacked.
#include "lib/core/log.h"
#include "lib/graphics/graphics_device.h"

int LoadShaderPacks() { return 0; }

int ReleaseShaderObjects() {
  GraphicsDeviceState& d = GraphicsDevice();
  if (d.device) {
    d.device->SetVertexShader(nullptr);
    d.device->SetPixelShader(nullptr);
  }
  return 0;
}

int ReleaseVertexDeclarations() { return 0; }

int CreateVertexDeclarations() {
  ReleaseVertexDeclarations();
  return 0;
}

int CreateShaders() {
  GraphicsDeviceState& d = GraphicsDevice();
  ReleaseShaderObjects();
  d.shaders_in_use = 0;
  if (d.vs20_usable && d.ps20_usable) {
    d.shaders_in_use = 1;
    if (!LoadShaderPacks()) {
      WriteLogLine("シェーダーコードを展開するメモリ領域の確保に失敗しました\n");
      d.shaders_in_use = 0;
    }
  }
  WriteLogLine(d.shaders_in_use ? "プログラマブルシェーダーを使用します\n" : "プログラマブルシェーダーを使用しません\n");
  // Register 0 of the library's constants, kept whether or not shaders run.
  static const float kVertex0[4] = {0.0f, 1.0f, 0.0f, 0.0f};
  static const float kPixel0[4] = {0.0f, 0.5f, 1.0f, 2.0f};
  SetLibraryVertexShaderConstants(0, kVertex0, 1);
  SetLibraryPixelShaderConstants(0, kPixel0, 1);
  return 0;
}
