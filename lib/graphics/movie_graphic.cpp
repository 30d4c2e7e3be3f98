// lib/graphics/movie_graphic.cpp - the frame callback of a graphic made from
// a movie: the movie's current frame goes into the graphic's pixels.
#include <cstdint>

#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "lib/sound/movie.h"

void UpdateMovieGraphic(void* movie, void* graphic_handle) {
  auto* m = static_cast<MovieRecord*>(movie);
  const int handle = static_cast<int>(reinterpret_cast<intptr_t>(graphic_handle));
  GraphicRecord* g = GraphicHandleToRecord(handle);
  if (!m || !g || !g->set) return;
  GraphicsDeviceState& d = GraphicsDevice();
  if (g->set->textured && m->theora && !m->right_alpha) {
    plat::Direct3DSurface9* yuv = GetTheoraYuvSurface(m->theora_record);
    const GraphicTile& tile = g->set->tiles[0];
    if (yuv && d.device && tile.surface) {
      // The device turns the YUV samples into the texture's colours.
      ConvertTheoraFrame(m->theora_record, 0, 1);
      const plat::RECT area{0, 0, tile.used_width, tile.used_height};
      d.device->StretchRect(yuv, &area, tile.surface, nullptr, plat::D3DTEXF_NONE);
      return;
    }
  }
  // Nothing new to show, unless the graphic has not had a frame yet: the
  // open already converted the first one into the frame image.
  if (m->theora && ConvertTheoraFrame(m->theora_record, 1, 0) == 0 && m->frame_delivered) return;
  const BaseImage* frame = m->frame_image;
  if (!frame || !frame->pixels) return;
  const ImageRect source{g->set_x, g->set_y, g->set_x + g->width, g->set_y + g->height};
  if (m->right_alpha) {
    // Colour on the left half of each frame, alpha on the right half.
    BaseImage colour = *frame, alpha = *frame;
    colour.width = alpha.width = frame->width / 2;
    alpha.pixels = frame->pixels + static_cast<size_t>(frame->width / 2) * (frame->format.bytes_per_pixel);
    TransferImageToTexture(handle, &source, 0, 0, &colour, &alpha, 0, 0, 0);
    return;
  }
  TransferImageToTexture(handle, &source, 0, 0, frame, nullptr, 0, 0, 0);
}
