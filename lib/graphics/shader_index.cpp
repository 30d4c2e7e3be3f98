// lib/graphics/shader_index.cpp - the two indexes that pick the vertex and
// pixel shader for the current lighting, fog mode and enabled lights. The
// setters of lighting, fog and lights call it after they store their value.
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"

namespace {

constexpr int kPointLight = 1, kSpotLight = 2, kDirectionalLight = 3;

// Each light count is a digit of base 4 in the vertex index, so the vertex
// shaders handle at most three lights of one type.
int VertexLightDigit(int count) { return count < 3 ? count : 3; }

// The pixel shaders tell none, exactly three and any other count apart.
int PixelLightDigit(int count) { return count == 0 ? 0 : count == 3 ? 2 : 1; }

}  // namespace

int UpdateShaderIndex() {
  if (!GraphicsDevice().shaders_in_use) return 0;
  RenderStateCache& c = StateCache();
  const int lit = c.lighting ? 1 : 0;
  const int fog = c.fog_enable ? c.fog_mode : 0;
  const int d = lit ? CountEnabledDeviceLights(kDirectionalLight) : 0;
  const int p = lit ? CountEnabledDeviceLights(kPointLight) : 0;
  const int s = lit ? CountEnabledDeviceLights(kSpotLight) : 0;
  const int any = (d + p + s) > 0 ? 1 : 0;
  c.vertex_shader_index =
      8 * (VertexLightDigit(s) +
           4 * (VertexLightDigit(p) + 4 * (VertexLightDigit(d) + 4 * (fog + 8 * (any + 6 * lit)))));
  c.pixel_shader_index =
      8 * (PixelLightDigit(s) + 3 * (PixelLightDigit(p) + 3 * (PixelLightDigit(d) + 6 * (any + 4 * lit))));
  return 0;
}
