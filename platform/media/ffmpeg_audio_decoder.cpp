// platform/media/ffmpeg_audio_decoder.cpp - the audio decoder over
// libavcodec: coded packets in, 16-bit interleaved PCM out at the stream's
// rate (mono stays mono, anything wider is mixed to stereo), each output
// sample stamped with its time. Damaged packets are passed over.
#include <algorithm>
#include <cstring>

#include "platform/media/base_classes.h"
#include "platform/media/ffmpeg_common.h"

namespace plat {

namespace {

constexpr Guid kCLSID_FfmpegAudioDecoder = {0x52524D03, 0x0002, 0x4D45, {0x44, 0x49, 0x41, 0x41, 0x44, 0x45, 0x00, 0x01}};

class FfmpegAudioDecoder : public D_CTransformFilter {
 public:
  FfmpegAudioDecoder() : D_CTransformFilter("Audio Decoder", kCLSID_FfmpegAudioDecoder) {}
  ~FfmpegAudioDecoder() override { CloseCodec(); }

  HResult CheckInputType(const D_CMediaType* type) override {
    if (type == nullptr) return kE_POINTER;
    CodedStreamFormat f{};
    const uint8_t* extra = nullptr;
    if (!(type->majortype == kMEDIATYPE_Audio) || !ReadCodedStreamType(*type, &f, &extra)) return kS_FALSE;
    if (f.sample_rate <= 0 || f.sample_rate > 1000000 || f.channels <= 0 || f.channels > 64) return kS_FALSE;
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
    // A quarter of a second per buffer, never less than one big frame.
    const int32_t quarter = static_cast<int32_t>(static_cast<int64_t>(out_rate_) * out_channels_ * 2 / 4);
    AllocatorProperties want{std::max(4, props->cBuffers), std::max({quarter, 65536, props->cbBuffer}), 1, 0};
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
    if (sample->GetTime(&start, &stop) != kVFW_E_SAMPLE_TIME_NOT_SET) packet->pts = start;
    if (sample->IsDiscontinuity() == kS_OK) next_time_valid_ = false;
    const int sent = avcodec_send_packet(codec_, packet);
    av_packet_free(&packet);
    if (sent < 0 && sent != AVERROR(EAGAIN)) return kS_OK;  // a damaged packet is passed over
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
      next_time_valid_ = false;
    }
    return D_CTransformFilter::EndFlush();
  }

  HResult StopStreaming() override {
    if (codec_ != nullptr) avcodec_flush_buffers(codec_);
    next_time_valid_ = false;
    return kS_OK;
  }

 private:
  D_CMediaType OutputType() const {
    D_CMediaType type;
    type.majortype = kMEDIATYPE_Audio;
    type.subtype = kMEDIASUBTYPE_PCM;
    type.formattype = kFORMAT_WaveFormatEx;
    WaveFormatEx w{};
    w.format_tag = kWaveFormatPcm;
    w.channels = static_cast<uint16_t>(out_channels_);
    w.samples_per_sec = out_rate_;
    w.block_align = static_cast<uint16_t>(out_channels_ * 2);
    w.avg_bytes_per_sec = out_rate_ * w.block_align;
    w.bits_per_sample = 16;
    type.lSampleSize = w.block_align;
    type.SetFormat(&w, sizeof(w));
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
    codec_->sample_rate = f.sample_rate;
    av_channel_layout_default(&codec_->ch_layout, f.channels);
    codec_->bits_per_coded_sample = f.bits_per_coded_sample;
    codec_->block_align = f.block_align;
    codec_->bit_rate = f.bit_rate;
    codec_->pkt_timebase = AVRational{1, static_cast<int>(kUnitsPerSecond)};
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
    out_rate_ = static_cast<uint32_t>(f.sample_rate);
    out_channels_ = f.channels == 1 ? 1 : 2;
    return true;
  }

  void CloseCodec() {
    swr_free(&resampler_);
    avcodec_free_context(&codec_);
    av_frame_free(&frame_);
  }

  // Converts every frame the decoder has ready and delivers it.
  HResult DrainFrames() {
    if (frame_ == nullptr && (frame_ = av_frame_alloc()) == nullptr) return kE_OUTOFMEMORY;
    for (;;) {
      const int got = avcodec_receive_frame(codec_, frame_);
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return kS_OK;
      if (got < 0) return kS_OK;  // a frame that cannot be decoded is skipped
      HResult r = DeliverFrame(frame_);
      av_frame_unref(frame_);
      if (Failed(r)) return r;
    }
  }

  bool PrepareResampler(const AVFrame* frame) {
    if (frame->sample_rate != static_cast<int>(out_rate_) || frame->ch_layout.nb_channels <= 0) return false;
    if (resampler_ != nullptr && av_channel_layout_compare(&frame->ch_layout, &in_layout_) == 0 &&
        frame->format == in_format_)
      return true;
    swr_free(&resampler_);
    AVChannelLayout out_layout;
    av_channel_layout_default(&out_layout, out_channels_);
    if (swr_alloc_set_opts2(&resampler_, &out_layout, AV_SAMPLE_FMT_S16, frame->sample_rate,
                            const_cast<AVChannelLayout*>(&frame->ch_layout),
                            static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr) < 0 ||
        swr_init(resampler_) < 0) {
      swr_free(&resampler_);
      return false;
    }
    av_channel_layout_uninit(&in_layout_);
    av_channel_layout_copy(&in_layout_, &frame->ch_layout);
    in_format_ = frame->format;
    return true;
  }

  HResult DeliverFrame(const AVFrame* frame) {
    if (frame->nb_samples <= 0 || !PrepareResampler(frame)) return kS_OK;
    const int block = out_channels_ * 2;
    ReferenceTime start = next_time_;
    if (frame->pts != AV_NOPTS_VALUE) start = frame->pts;
    else if (!next_time_valid_) start = 0;
    int done = 0;
    const int total = frame->nb_samples;
    while (done < total) {
      IMediaSample* out = nullptr;
      HResult r = output_->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
      if (Failed(r)) return r;
      uint8_t* to = nullptr;
      out->GetPointer(&to);
      const int room = out->GetSize() / block;
      const int n = std::min(room, total - done);
      const uint8_t* planes[AV_NUM_DATA_POINTERS];
      const int bytes_per_sample = av_get_bytes_per_sample(static_cast<AVSampleFormat>(frame->format));
      const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format)) != 0;
      const int plane_count = planar ? frame->ch_layout.nb_channels : 1;
      for (int p = 0; p < plane_count && p < AV_NUM_DATA_POINTERS; ++p)
        planes[p] = frame->extended_data[p] + static_cast<size_t>(done) * bytes_per_sample *
                                                  (planar ? 1 : frame->ch_layout.nb_channels);
      const int converted = swr_convert(resampler_, &to, n, planes, n);
      if (converted < 0) {
        out->Release();
        return kS_OK;
      }
      out->SetActualDataLength(converted * block);
      const ReferenceTime s = start + static_cast<ReferenceTime>(done) * kUnitsPerSecond / out_rate_;
      const ReferenceTime e = start + static_cast<ReferenceTime>(done + converted) * kUnitsPerSecond / out_rate_;
      out->SetTime(&s, &e);
      out->SetSyncPoint(1);
      r = output_->Deliver(out);
      out->Release();
      if (Failed(r)) return r;
      done += n;
    }
    next_time_ = start + static_cast<ReferenceTime>(total) * kUnitsPerSecond / out_rate_;
    next_time_valid_ = true;
    return kS_OK;
  }

  AVCodecContext* codec_ = nullptr;
  AVFrame* frame_ = nullptr;
  SwrContext* resampler_ = nullptr;
  AVChannelLayout in_layout_{};
  int in_format_ = -1;
  uint32_t out_rate_ = 0;
  int out_channels_ = 0;
  ReferenceTime next_time_ = 0;
  bool next_time_valid_ = false;
};

}  // namespace

HResult CreateFfmpegAudioDecoder(IBaseFilter** filter) {
  auto* f = new (std::nothrow) FfmpegAudioDecoder();
  if (f == nullptr) return kE_OUTOFMEMORY;
  return GetInterface(static_cast<IBaseFilter*>(f), reinterpret_cast<void**>(filter));
}

}  // namespace plat
