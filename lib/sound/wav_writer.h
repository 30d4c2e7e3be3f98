// lib/sound/wav_writer.h - the WAV writer filter: audio samples with a wave
// format in, the bytes of a RIFF WAVE file out, each output sample stamped
// with its byte range in the file; when streaming stops the header is
// written at the start of the file through the downstream pin's IStream.
#pragma once

#include "platform/media/base_classes.h"

constexpr plat::Guid kCLSID_WavDest = {0x3C78B8E2, 0x6C4D, 0x11D1, {0xAD, 0xE2, 0x00, 0x00, 0xF8, 0x75, 0x4B, 0x99}};

class WavWriterOutputPin : public plat::D_CTransformOutputPin {
 public:
  WavWriterOutputPin(plat::D_CTransformFilter* filter, plat::HResult* result);
  plat::HResult CheckMediaType(const plat::D_CMediaType* type) override;
  plat::HResult EnumMediaTypes(plat::IEnumMediaTypes** types) override { return D_CBasePin::EnumMediaTypes(types); }
};

class WavWriterFilter : public plat::D_CTransformFilter {
 public:
  WavWriterFilter(plat::IUnknown* outer, plat::HResult* result);
  ~WavWriterFilter() override;

  plat::HResult CheckInputType(const plat::D_CMediaType* type) override;
  plat::HResult CheckTransform(const plat::D_CMediaType* in, const plat::D_CMediaType* out) override;
  plat::HResult DecideBufferSize(plat::IMemAllocator* allocator, plat::AllocatorProperties* props) override;
  plat::HResult GetMediaType(int position, plat::D_CMediaType* type) override;
  plat::HResult StartStreaming() override;
  plat::HResult StopStreaming() override;
  plat::HResult Transform(plat::IMediaSample* in, plat::IMediaSample* out) override;
  plat::HResult Receive(plat::IMediaSample* sample) override;

  uint32_t DataBytes() const { return data_bytes_; }

 private:
  uint32_t data_bytes_ = 0;
  uint32_t header_size_ = 0;
};

// A new writer, or null when memory is short.
WavWriterFilter* CreateWavWriterFilter(plat::IUnknown* outer, plat::HResult* result);
