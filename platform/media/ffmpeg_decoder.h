// platform/media/ffmpeg_decoder.h - what the audio and video decoders over
// libavcodec share: the codec opened from the input pin's coded-stream type
// and closed when that pin disconnects, one output type offered and checked,
// input samples turned into packets, every decoded frame drained and
// delivered, and the codec flushed at the end of the stream, on a flush and
// when streaming stops. A damaged packet or frame is passed over, and noted.
#pragma once

#include "platform/media/base_classes.h"
#include "platform/media/ffmpeg_common.h"

namespace plat {

class FfmpegDecoderFilter : public D_CTransformFilter {
 public:
  FfmpegDecoderFilter(const char* name, const Guid& clsid) : D_CTransformFilter(name, clsid) {}
  ~FfmpegDecoderFilter() override;

  HResult SetMediaType(PinDirection direction, const D_CMediaType* type) override;
  HResult BreakConnect(PinDirection direction) override;
  HResult GetMediaType(int position, D_CMediaType* type) override;
  HResult CheckTransform(const D_CMediaType* in, const D_CMediaType* out) override;
  HResult Receive(IMediaSample* sample) override;
  HResult EndOfStream() override;
  HResult EndFlush() override;
  HResult StopStreaming() override;

 protected:
  // The one output type, from the open codec's stream.
  virtual D_CMediaType OutputType() const = 0;
  // Sets the decoder's parameters from the stream's before it opens.
  virtual void Configure(const CodedStreamFormat& format) = 0;
  // Takes the opened stream's figures for the output.
  virtual void Opened(const CodedStreamFormat& format) = 0;
  // Sends one decoded frame on.
  virtual HResult DeliverFrame(const AVFrame* frame) = 0;
  // Frees whatever converts the frames.
  virtual void CloseConverter() = 0;
  // Forgets the running time: what comes next follows a gap.
  virtual void ResetTiming() = 0;
  // Lets a packet carry more of its sample than its start time.
  virtual void DescribePacket(IMediaSample*, AVPacket*) {}
  // The stream's end, reached while streaming, its last frames delivered.
  virtual void StreamEnded() {}
  // Streaming stops (the graph stops, before the stream's end or after it).
  virtual void StreamStopped() {}

  // The codec's stream with the type's parameters, or false.
  bool OpenCodec(const D_CMediaType& type);
  void CloseCodec();

  AVCodecContext* codec_ = nullptr;
  // Since the codec opened: a frame was decoded; a packet or frame was
  // refused as damaged.
  bool decoded_ = false;
  bool refused_ = false;

 private:
  // Delivers every frame the decoder has ready.
  HResult DrainFrames();
  // Notes a packet or frame refused as damaged.
  void Refused();

  AVFrame* frame_ = nullptr;
};

}  // namespace plat
