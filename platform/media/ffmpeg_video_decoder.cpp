// platform/media/ffmpeg_video_decoder.cpp - the video decoder over libavcodec
// and libswscale: coded packets in, 24-bit RGB frames out (blue, green, red
// in each pixel, rows bottom-up with a pitch rounded to four bytes, as a
// positive-height bitmap stores them), each stamped with its time. Damaged
// packets are passed over.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/kernel/kernel.h"
#include "platform/media/ffmpeg_decoder.h"

namespace plat {

namespace {

constexpr Guid kCLSID_FfmpegVideoDecoder = {0x52524D03, 0x0006, 0x4D45, {0x44, 0x49, 0x41, 0x56, 0x44, 0x45, 0x00, 0x01}};

class FfmpegVideoDecoder : public FfmpegDecoderFilter {
 public:
  FfmpegVideoDecoder() : FfmpegDecoderFilter("Video Decoder", kCLSID_FfmpegVideoDecoder) {}
  ~FfmpegVideoDecoder() override { CloseCodec(); }

  HResult CheckInputType(const D_CMediaType* type) override {
    if (type == nullptr) return kE_POINTER;
    CodedStreamFormat f{};
    const uint8_t* extra = nullptr;
    if (!(type->majortype == kMEDIATYPE_Video) || !ReadCodedStreamType(*type, &f, &extra)) return kS_FALSE;
    // Any size is offered on: the renderer decides which frames it takes
    // (and says why it refuses one), and no frame memory is asked for first.
    if (f.width <= 0 || f.height <= 0) return kS_FALSE;
    return avcodec_find_decoder(static_cast<AVCodecID>(f.codec_id)) != nullptr ? kS_OK : kS_FALSE;
  }

  HResult DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* props) override {
    if (FrameBytes() > kMaxVideoPixels * 4) return kE_OUTOFMEMORY;
    AllocatorProperties want{std::max(2, props->cBuffers), std::max(int32_t(FrameBytes()), props->cbBuffer), 1, 0};
    AllocatorProperties actual{};
    HResult r = allocator->SetProperties(&want, &actual);
    if (Failed(r)) return r;
    return actual.cbBuffer < want.cbBuffer ? kE_FAIL : kS_OK;
  }

 protected:
  void DescribePacket(IMediaSample* sample, AVPacket* packet) override {
    ReferenceTime start = 0, stop = 0;
    if (sample->GetTime(&start, &stop) != kVFW_E_SAMPLE_TIME_NOT_SET && stop > start) packet->duration = stop - start;
    if (sample->IsSyncPoint() == kS_OK) packet->flags |= AV_PKT_FLAG_KEY;
  }
  void ResetTiming() override { last_time_ = AV_NOPTS_VALUE; }

 private:
  int64_t Pitch() const { return (int64_t{width_} * 3 + 3) & ~int64_t{3}; }
  int64_t FrameBytes() const { return Pitch() * height_; }
  // The sample size the output type states, held to 32 bits.
  uint32_t StatedFrameBytes() const { return uint32_t(std::min<int64_t>(FrameBytes(), INT32_MAX)); }

  D_CMediaType OutputType() const override {
    D_CMediaType type;
    type.majortype = kMEDIATYPE_Video;
    type.subtype = kMEDIASUBTYPE_RGB24;
    type.formattype = kFORMAT_VideoInfo;
    VideoInfoHeader v{};
    v.rcSource[2] = v.rcTarget[2] = width_;
    v.rcSource[3] = v.rcTarget[3] = height_;
    v.AvgTimePerFrame = frame_time_;
    v.bmiHeader.biSize = sizeof(BitmapInfoHeader);
    v.bmiHeader.biWidth = width_;
    v.bmiHeader.biHeight = height_;
    v.bmiHeader.biPlanes = 1;
    v.bmiHeader.biBitCount = 24;
    v.bmiHeader.biSizeImage = StatedFrameBytes();
    type.lSampleSize = StatedFrameBytes();
    type.SetFormat(&v, sizeof(v));
    return type;
  }

  void Configure(const CodedStreamFormat& f) override {
    codec_->width = f.width;
    codec_->height = f.height;
    codec_->max_pixels = kMaxVideoPixels;
    codec_->thread_count = 1;
  }

  void Opened(const CodedStreamFormat& f) override {
    width_ = f.width;
    height_ = f.height;
    frame_time_ = 0;
  }

  void CloseConverter() override {
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    av_freep(&scratch_);
    scratch_pitch_ = 0;
  }

  // The scaler's rows for the connection's size: aligned, each with a
  // vector block's room and more after it. False when there is no memory
  // for them (the frame is passed over, once said).
  bool MakeScratch() {
    if (scratch_ != nullptr) return true;
    const int64_t pitch = (int64_t{width_} * 3 + 2 * kScratchRoom - 1) / kScratchRoom * kScratchRoom;
    const int64_t bytes = pitch * height_ + kScratchRoom;
    scratch_ = static_cast<uint8_t*>(av_malloc(static_cast<size_t>(bytes)));
    if (scratch_ == nullptr) {
      if (!scratch_refused_) OutputDebugString("media: no memory to convert the video frames; they are passed over\n");
      scratch_refused_ = true;
      return false;
    }
    scratch_pitch_ = pitch;
    return true;
  }

  HResult DeliverFrame(const AVFrame* frame) override {
    // A frame of another size than the connection's is passed over.
    if (frame->width != width_ || frame->height != height_) return kS_OK;
    ReferenceTime start = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    const ReferenceTime duration = frame->pkt_duration > 0 ? frame->pkt_duration : last_duration_;
    // Presentation times only rise: a frame stamped from a decoding time (a
    // container that gives some packets no presentation time) or not at all
    // follows the one before it.
    if (last_time_ != AV_NOPTS_VALUE && (start == AV_NOPTS_VALUE || start <= last_time_)) {
      start = std::max(FollowingTime(duration), last_time_ + 1);
    } else {
      chain_start_ = start == AV_NOPTS_VALUE ? 0 : start;
      chain_frames_ = 0;
      chain_time_ = 0;
      start = chain_start_;
    }
    last_time_ = start;
    last_duration_ = duration;
    ReferenceTime stop = start + (duration > 0 ? duration : std::max<ReferenceTime>(RateFrameTime(), 1));
    // A frame over before the segment starts is one decoded on the way
    // from the key frame before a seek's target to the target itself.
    if (stop <= 0) return kS_OK;

    scaler_ = sws_getCachedContext(scaler_, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                   width_, height_, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr || !MakeScratch()) return kS_OK;
    // libswscale writes whole vector blocks, past the end of a row whose
    // width is not a multiple of its block: it scales into rows with room
    // after them, which are copied out bottom-up.
    uint8_t* rows[4] = {scratch_, nullptr, nullptr, nullptr};
    int pitches[4] = {static_cast<int>(scratch_pitch_), 0, 0, 0};
    if (sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, rows, pitches) != height_) return kS_OK;
    IMediaSample* out = nullptr;
    HResult r = output_->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (Failed(r)) return r;
    uint8_t* to = nullptr;
    out->GetPointer(&to);
    const size_t row_bytes = static_cast<size_t>(width_) * 3;
    for (int32_t y = 0; y < height_; ++y) {
      uint8_t* row = to + static_cast<ptrdiff_t>(height_ - 1 - y) * Pitch();
      std::memcpy(row, scratch_ + static_cast<ptrdiff_t>(y) * scratch_pitch_, row_bytes);
      std::memset(row + row_bytes, 0, static_cast<size_t>(Pitch()) - row_bytes);
    }
    out->SetActualDataLength(int32_t(FrameBytes()));
    out->SetTime(&start, &stop);
    out->SetSyncPoint(1);
    r = output_->Deliver(out);
    out->Release();
    return Failed(r) ? r : kS_OK;
  }

  // One frame's time at the stream's frame rate, 0 when it has none.
  ReferenceTime RateFrameTime() const {
    const AVRational rate = codec_->framerate;
    if (rate.num <= 0 || rate.den <= 0) return 0;
    return av_rescale_q(1, av_inv_q(rate), AVRational{1, static_cast<int>(kUnitsPerSecond)});
  }

  // The time of a frame that follows the one before: the frames since the
  // last that had its own time, counted at the stream's frame rate when the
  // durations keep to it, so that rounded durations do not add up and frame
  // n is due at n / rate, not a little after.
  ReferenceTime FollowingTime(ReferenceTime duration) {
    chain_time_ += std::max<ReferenceTime>(last_duration_, 1);
    ++chain_frames_;
    const ReferenceTime one = RateFrameTime();
    if (one > 0 && std::abs(one - last_duration_) <= 1 && std::abs(one - duration) <= 1)
      return chain_start_ + av_rescale_q(chain_frames_, av_inv_q(codec_->framerate),
                                         AVRational{1, static_cast<int>(kUnitsPerSecond)});
    return chain_start_ + chain_time_;
  }

  static constexpr int64_t kScratchRoom = 64;

  SwsContext* scaler_ = nullptr;
  uint8_t* scratch_ = nullptr;  // the scaler's rows, top-down
  int64_t scratch_pitch_ = 0;
  bool scratch_refused_ = false;
  int32_t width_ = 0, height_ = 0;
  ReferenceTime frame_time_ = 0;
  ReferenceTime last_time_ = AV_NOPTS_VALUE;  // the frame delivered last
  ReferenceTime last_duration_ = 0;
  ReferenceTime chain_start_ = 0;  // the last frame with its own time
  int64_t chain_frames_ = 0;       // frames since, and their durations
  ReferenceTime chain_time_ = 0;
};

}  // namespace

HResult CreateFfmpegVideoDecoder(IBaseFilter** filter) {
  auto* f = new (std::nothrow) FfmpegVideoDecoder();
  if (f == nullptr) return kE_OUTOFMEMORY;
  return GetInterface(static_cast<IBaseFilter*>(f), reinterpret_cast<void**>(filter));
}

}  // namespace plat
