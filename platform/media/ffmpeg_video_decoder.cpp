// platform/media/ffmpeg_video_decoder.cpp - the video decoder over libavcodec
// and libswscale: coded packets in, 24-bit RGB frames out (blue, green, red
// in each pixel, rows bottom-up with a pitch rounded to four bytes, as a
// positive-height bitmap stores them), each stamped with its time. Damaged
// packets are passed over.
#include <algorithm>
#include <cstring>

#include "platform/media/base_classes.h"
#include "platform/media/ffmpeg_common.h"

namespace plat {

namespace {

constexpr Guid kCLSID_FfmpegVideoDecoder = {0x52524D03, 0x0006, 0x4D45, {0x44, 0x49, 0x41, 0x56, 0x44, 0x45, 0x00, 0x01}};

class FfmpegVideoDecoder : public D_CTransformFilter {
 public:
  FfmpegVideoDecoder() : D_CTransformFilter("Video Decoder", kCLSID_FfmpegVideoDecoder) {}
  ~FfmpegVideoDecoder() override { CloseCodec(); }

  HResult CheckInputType(const D_CMediaType* type) override {
    if (type == nullptr) return kE_POINTER;
    CodedStreamFormat f{};
    const uint8_t* extra = nullptr;
    if (!(type->majortype == kMEDIATYPE_Video) || !ReadCodedStreamType(*type, &f, &extra)) return kS_FALSE;
    if (f.width <= 0 || f.height <= 0 || f.width > 16384 || f.height > 16384) return kS_FALSE;
    return avcodec_find_decoder(static_cast<AVCodecID>(f.codec_id)) != nullptr ? kS_OK : kS_FALSE;
  }

  HResult SetMediaType(PinDirection direction, const D_CMediaType* type) override {
    if (direction != PinDirection::kInput) return kS_OK;
    return OpenCodec(*type) ? kS_OK : kVFW_E_TYPE_NOT_ACCEPTED;
  }

  HResult BreakConnect(PinDirection direction) override {
    if (direction == PinDirection::kInput) CloseCodec();
    return kS_OK;
  }

  HResult GetMediaType(int position, D_CMediaType* type) override {
    if (position < 0) return kE_INVALIDARG;
    if (position > 0) return kVFW_S_NO_MORE_ITEMS;
    if (codec_ == nullptr) return kE_UNEXPECTED;
    *type = OutputType();
    return kS_OK;
  }

  HResult CheckTransform(const D_CMediaType*, const D_CMediaType* out) override {
    const D_CMediaType mine = OutputType();
    return out->majortype == mine.majortype && out->subtype == mine.subtype && out->formattype == mine.formattype &&
                   out->format == mine.format
               ? kS_OK
               : kS_FALSE;
  }

  HResult DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* props) override {
    AllocatorProperties want{std::max(2, props->cBuffers), std::max(FrameBytes(), props->cbBuffer), 1, 0};
    AllocatorProperties actual{};
    HResult r = allocator->SetProperties(&want, &actual);
    if (Failed(r)) return r;
    return actual.cbBuffer < want.cbBuffer ? kE_FAIL : kS_OK;
  }

  HResult Receive(IMediaSample* sample) override {
    std::lock_guard<std::recursive_mutex> hold(receive_lock_);
    if (codec_ == nullptr) return kE_UNEXPECTED;
    uint8_t* data = nullptr;
    sample->GetPointer(&data);
    const int32_t size = sample->GetActualDataLength();
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr || av_new_packet(packet, size) < 0) {
      av_packet_free(&packet);
      return kE_OUTOFMEMORY;
    }
    if (size > 0) std::memcpy(packet->data, data, static_cast<size_t>(size));
    ReferenceTime start = 0, stop = 0;
    if (sample->GetTime(&start, &stop) != kVFW_E_SAMPLE_TIME_NOT_SET) {
      packet->pts = start;
      if (stop > start) packet->duration = stop - start;
    }
    if (sample->IsSyncPoint() == kS_OK) packet->flags |= AV_PKT_FLAG_KEY;
    const int sent = avcodec_send_packet(codec_, packet);
    av_packet_free(&packet);
    if (sent < 0 && sent != AVERROR(EAGAIN)) return kS_OK;
    return DrainFrames();
  }

  HResult EndOfStream() override {
    {
      std::lock_guard<std::recursive_mutex> hold(receive_lock_);
      if (codec_ != nullptr && avcodec_send_packet(codec_, nullptr) >= 0) DrainFrames();
      if (codec_ != nullptr) avcodec_flush_buffers(codec_);
    }
    return D_CTransformFilter::EndOfStream();
  }

  HResult EndFlush() override {
    {
      std::lock_guard<std::recursive_mutex> hold(receive_lock_);
      if (codec_ != nullptr) avcodec_flush_buffers(codec_);
      last_time_ = AV_NOPTS_VALUE;
    }
    return D_CTransformFilter::EndFlush();
  }

  HResult StopStreaming() override {
    if (codec_ != nullptr) avcodec_flush_buffers(codec_);
    last_time_ = AV_NOPTS_VALUE;
    return kS_OK;
  }

 private:
  int32_t Pitch() const { return (width_ * 3 + 3) & ~3; }
  int32_t FrameBytes() const { return Pitch() * height_; }

  D_CMediaType OutputType() const {
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
    v.bmiHeader.biSizeImage = static_cast<uint32_t>(FrameBytes());
    type.lSampleSize = static_cast<uint32_t>(FrameBytes());
    type.SetFormat(&v, sizeof(v));
    return type;
  }

  bool OpenCodec(const D_CMediaType& type) {
    CloseCodec();
    QuietFfmpegLog();
    CodedStreamFormat f{};
    const uint8_t* extra = nullptr;
    if (!ReadCodedStreamType(type, &f, &extra)) return false;
    const AVCodec* decoder = avcodec_find_decoder(static_cast<AVCodecID>(f.codec_id));
    if (decoder == nullptr) return false;
    codec_ = avcodec_alloc_context3(decoder);
    if (codec_ == nullptr) return false;
    codec_->width = f.width;
    codec_->height = f.height;
    codec_->bits_per_coded_sample = f.bits_per_coded_sample;
    codec_->pkt_timebase = AVRational{1, static_cast<int>(kUnitsPerSecond)};
    codec_->thread_count = 1;
    if (f.extradata_size > 0) {
      codec_->extradata = static_cast<uint8_t*>(av_mallocz(f.extradata_size + AV_INPUT_BUFFER_PADDING_SIZE));
      if (codec_->extradata == nullptr) {
        CloseCodec();
        return false;
      }
      std::memcpy(codec_->extradata, extra, f.extradata_size);
      codec_->extradata_size = static_cast<int>(f.extradata_size);
    }
    if (avcodec_open2(codec_, decoder, nullptr) < 0) {
      CloseCodec();
      return false;
    }
    width_ = f.width;
    height_ = f.height;
    frame_time_ = 0;
    return true;
  }

  void CloseCodec() {
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    avcodec_free_context(&codec_);
    av_frame_free(&frame_);
  }

  HResult DrainFrames() {
    if (frame_ == nullptr && (frame_ = av_frame_alloc()) == nullptr) return kE_OUTOFMEMORY;
    for (;;) {
      const int got = avcodec_receive_frame(codec_, frame_);
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF || got < 0) return kS_OK;
      HResult r = DeliverFrame(frame_);
      av_frame_unref(frame_);
      if (Failed(r)) return r;
    }
  }

  HResult DeliverFrame(const AVFrame* frame) {
    // A frame of another size than the connection's is passed over.
    if (frame->width != width_ || frame->height != height_) return kS_OK;
    scaler_ = sws_getCachedContext(scaler_, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                   width_, height_, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr) return kS_OK;
    IMediaSample* out = nullptr;
    HResult r = output_->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (Failed(r)) return r;
    uint8_t* to = nullptr;
    out->GetPointer(&to);
    // Bottom-up: the first row written is the last in memory, walked with a
    // negative pitch.
    uint8_t* rows[4] = {to + static_cast<ptrdiff_t>(height_ - 1) * Pitch(), nullptr, nullptr, nullptr};
    int pitches[4] = {-Pitch(), 0, 0, 0};
    sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, rows, pitches);
    out->SetActualDataLength(FrameBytes());
    ReferenceTime start = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    const ReferenceTime duration = frame->pkt_duration > 0 ? frame->pkt_duration : last_duration_;
    // Presentation times only rise: a frame stamped from a decoding time (a
    // container that gives some packets no presentation time) or not at all
    // follows the one before it.
    if (last_time_ != AV_NOPTS_VALUE && (start == AV_NOPTS_VALUE || start < last_time_ + last_duration_))
      start = last_time_ + last_duration_;
    if (start == AV_NOPTS_VALUE) start = 0;
    last_time_ = start;
    last_duration_ = duration;
    ReferenceTime stop = start + (duration > 0 ? duration : 1);
    out->SetTime(&start, &stop);
    out->SetSyncPoint(1);
    r = output_->Deliver(out);
    out->Release();
    return Failed(r) ? r : kS_OK;
  }

  AVCodecContext* codec_ = nullptr;
  AVFrame* frame_ = nullptr;
  SwsContext* scaler_ = nullptr;
  int32_t width_ = 0, height_ = 0;
  ReferenceTime frame_time_ = 0;
  ReferenceTime last_time_ = AV_NOPTS_VALUE;  // the frame delivered last
  ReferenceTime last_duration_ = 0;
};

}  // namespace

HResult CreateFfmpegVideoDecoder(IBaseFilter** filter) {
  auto* f = new (std::nothrow) FfmpegVideoDecoder();
  if (f == nullptr) return kE_OUTOFMEMORY;
  return GetInterface(static_cast<IBaseFilter*>(f), reinterpret_cast<void**>(filter));
}

}  // namespace plat
