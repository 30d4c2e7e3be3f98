// lib/sound/movie_renderer.h - the movie frame renderer: the video sink of a
// movie's graph. It takes only 24-bit RGB video and keeps the newest frame
// top-down in a buffer of its own, which the main thread reads under the
// renderer's frame lock.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/media/base_classes.h"

class MovieFrameRenderer : public plat::D_CBaseVideoRenderer {
 public:
  MovieFrameRenderer(plat::IUnknown* outer, plat::HResult* result);
  ~MovieFrameRenderer() override;

  plat::HResult CheckMediaType(const plat::D_CMediaType* type) override;
  plat::HResult SetMediaType(const plat::D_CMediaType* type) override;
  plat::HResult DoRenderSample(plat::IMediaSample* sample) override;

  // Guards the buffer, the flags and the sizes between the streaming thread
  // and the main thread.
  std::mutex frame_lock;
  uint8_t* frame_buffer = nullptr;  // height rows of pitch bytes, top row first
  int32_t new_frame = 0;
  int32_t flip = 0;  // 1: rows arrive bottom-up
  int32_t width = 0;
  int32_t height = 0;
  int32_t pitch = 0;
};

// Null when the allocation fails; *result (when given) says how the
// construction went.
MovieFrameRenderer* CreateMovieRendererFilter(plat::IUnknown* outer, plat::HResult* result);

// The bytes of one 24-bit row of the given width, rounded up to 4.
inline int32_t MovieRowBytes(int32_t width) { return ((width + 1) * 3) & ~3; }
