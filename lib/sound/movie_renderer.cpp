// lib/sound/movie_renderer.cpp - the movie frame renderer: media type checks,
// the frame buffer sized at each type change, and each sample copied into
// it top-down.
#include "lib/sound/movie_renderer.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/image/image_load.h"

using namespace plat;

namespace {

constexpr Guid kCLSID_MovieRenderer = {0x71771540, 0x2017, 0x11CF, {0xAE, 0x26, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x67}};

// Frames above this size are not buffered (no memory is asked for them).
constexpr int64_t kMaxFrameBytes = int64_t{1} << 30;

}  // namespace

MovieFrameRenderer::MovieFrameRenderer(IUnknown* outer, HResult* result)
    : D_CBaseVideoRenderer(kCLSID_MovieRenderer, nullptr, result) {
  (void)outer;
  frame_buffer = nullptr;
  // A renderer without its input pin is not reported as made.
  if (result != nullptr && input_ != nullptr) *result = kS_OK;
}

MovieFrameRenderer::~MovieFrameRenderer() {
  // Streaming has ended: the graph stops every filter before it lets go.
  if (frame_buffer != nullptr) TrackedFree(frame_buffer);
  frame_buffer = nullptr;
}

HResult MovieFrameRenderer::CheckMediaType(const D_CMediaType* type) {
  if (type == nullptr) return kE_POINTER;
  if (!(type->formattype == kFORMAT_VideoInfo) || type->FormatLength() < sizeof(VideoInfoHeader))
    return kE_INVALIDARG;
  if (!(type->majortype == kMEDIATYPE_Video)) return kE_FAIL;
  if (!(type->subtype == kMEDIASUBTYPE_RGB24)) return kE_FAIL;
  // Frames past the library's picture limit are refused before the graph
  // asks for buffers of their size.
  VideoInfoHeader info{};
  std::copy_n(type->Format(), sizeof(info), reinterpret_cast<uint8_t*>(&info));
  const int64_t w = info.bmiHeader.biWidth;
  const int64_t h = info.bmiHeader.biHeight;
  if (!FrameSizeAllowed(w, h < 0 ? -h : h)) {
    char line[128];
    std::snprintf(line, sizeof line, "ムービーのフレームサイズ %lld x %lld が大きすぎます\n", static_cast<long long>(w),
                  static_cast<long long>(h < 0 ? -h : h));
    WriteLogLineSound(line);
    return kE_FAIL;
  }
  return kS_OK;
}

HResult MovieFrameRenderer::SetMediaType(const D_CMediaType* type) {
  VideoInfoHeader info{};
  std::copy_n(type->Format(), sizeof(info), reinterpret_cast<uint8_t*>(&info));
  const int32_t w = info.bmiHeader.biWidth;
  const int64_t h = info.bmiHeader.biHeight;
  std::lock_guard<std::mutex> hold(frame_lock);
  width = w;
  flip = h < 0 ? 0 : 1;
  height = static_cast<int32_t>(h < 0 ? -h : h);
  const int64_t row = (static_cast<int64_t>(w) + 1) * 3 & ~int64_t{3};
  pitch = static_cast<int32_t>(row);
  if (frame_buffer != nullptr) TrackedFree(frame_buffer);
  frame_buffer = nullptr;
  // A size that cannot be held leaves the buffer null: samples are ignored.
  if (w > 0 && height > 0 && row <= kMaxFrameBytes / height)
    frame_buffer = static_cast<uint8_t*>(TrackedAlloc(static_cast<size_t>(row * height), "", 0));
  new_frame = 0;
  return kS_OK;
}

HResult MovieFrameRenderer::DoRenderSample(IMediaSample* sample) {
  if (sample == nullptr) return kE_POINTER;
  std::lock_guard<std::mutex> hold(frame_lock);
  if (frame_buffer == nullptr) return kS_OK;
  uint8_t* source = nullptr;
  if (Failed(sample->GetPointer(&source)) || source == nullptr) return kS_OK;
  // Only what the sample holds is copied; rows it lacks keep the last frame.
  const int64_t held = std::clamp<int64_t>(sample->GetActualDataLength(), 0, sample->GetSize());
  const int64_t whole = static_cast<int64_t>(pitch) * height;
  const int64_t bytes = std::min(held, whole);
  if (flip == 1) {
    for (int64_t r = 0; r * pitch < bytes; ++r) {
      const int64_t n = std::min<int64_t>(pitch, bytes - r * pitch);
      std::copy_n(source + r * pitch, n, frame_buffer + (height - 1 - r) * pitch);
    }
  } else {
    std::copy_n(source, bytes, frame_buffer);
  }
  new_frame = 1;
  return kS_OK;
}

MovieFrameRenderer* CreateMovieRendererFilter(IUnknown* outer, HResult* result) {
  HResult made = kS_OK;
  auto* renderer = new (std::nothrow) MovieFrameRenderer(outer, &made);
  if (result != nullptr) *result = renderer == nullptr ? kE_OUTOFMEMORY : made;
  if (renderer != nullptr && Failed(made)) {
    delete renderer;
    return nullptr;
  }
  return renderer;
}
