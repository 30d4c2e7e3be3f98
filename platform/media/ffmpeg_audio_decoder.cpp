// platform/media/ffmpeg_audio_decoder.cpp - the audio decoder over
// libavcodec: coded packets in, 16-bit interleaved PCM out at the stream's
// rate (mono stays mono, anything wider is mixed to stereo), each output
// sample stamped with its time. Damaged packets are passed over.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/media/ffmpeg_decoder.h"

namespace plat {

namespace {

constexpr Guid kCLSID_FfmpegAudioDecoder = {0x52524D03, 0x0002, 0x4D45, {0x44, 0x49, 0x41, 0x41, 0x44, 0x45, 0x00, 0x01}};

class FfmpegAudioDecoder : public FfmpegDecoderFilter {
 public:
  FfmpegAudioDecoder() : FfmpegDecoderFilter("Audio Decoder", kCLSID_FfmpegAudioDecoder) {}
  ~FfmpegAudioDecoder() override { CloseCodec(); }

  HResult CheckInputType(const D_CMediaType* type) override {
    if (type == nullptr) return kE_POINTER;
    CodedStreamFormat f{};
    const uint8_t* extra = nullptr;
    if (!(type->majortype == kMEDIATYPE_Audio) || !ReadCodedStreamType(*type, &f, &extra)) return kS_FALSE;
    // Any channel count the codec opens with is taken: what the resampler
    // cannot mix is passed over frame by frame and reported with its count.
    if (f.sample_rate <= 0 || f.sample_rate > 1000000 || f.channels <= 0) return kS_FALSE;
    return avcodec_find_decoder(static_cast<AVCodecID>(f.codec_id)) != nullptr ? kS_OK : kS_FALSE;
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

 protected:
  void DescribePacket(IMediaSample* sample, AVPacket* packet) override {
    if (sample->IsDiscontinuity() == kS_OK) next_time_valid_ = false;
    // The container's cuts (see DecodedTrim), handed to the codec as the
    // demultiplexer's own side data, so that they are made as FFmpeg's own
    // decode makes them.
    int64_t front = 0, back = 0;
    if (sample->GetMediaTime(&front, &back) != kS_OK || (front == 0 && back == 0)) return;
    if (front < 0 || back < 0 || front > UINT32_MAX || back > UINT32_MAX) return;
    uint8_t* side = av_packet_new_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, 10);
    if (side == nullptr) return;
    AV_WL32(side, static_cast<uint32_t>(front));
    AV_WL32(side + 4, static_cast<uint32_t>(back));
    side[8] = side[9] = 0;
  }
  // Sound whose every packet was damaged plays nothing: said at each end of
  // the stream, and when the graph stops with nothing decoded so far (a
  // movie closed before its sound's end), for whoever plays it to tell once.
  void StreamEnded() override {
    if (!decoded_ && refused_) NotifyEvent(kEC_SOUND_NOT_DECODED, 0, 0);
  }
  void StreamStopped() override { StreamEnded(); }
  void ResetTiming() override {
    next_time_valid_ = false;
    // The graph forgets its events when it runs again: a new run reports anew.
    channels_reported_ = false;
  }

 private:
  D_CMediaType OutputType() const override { return Pcm16MediaType(out_rate_, out_channels_); }

  void Configure(const CodedStreamFormat& f) override {
    codec_->sample_rate = f.sample_rate;
    // The layout the file names, else the count's default; a codec that
    // knows its own (Vorbis, AAC, Opus) sets it again as it decodes.
    if (f.channel_mask == 0 || av_channel_layout_from_mask(&codec_->ch_layout, f.channel_mask) < 0 ||
        codec_->ch_layout.nb_channels != f.channels)
      av_channel_layout_default(&codec_->ch_layout, f.channels);
    codec_->block_align = f.block_align;
    codec_->bit_rate = f.bit_rate;
  }

  void Opened(const CodedStreamFormat& f) override {
    out_rate_ = static_cast<uint32_t>(f.sample_rate);
    out_channels_ = f.channels == 1 ? 1 : 2;
  }

  void CloseConverter() override { swr_free(&resampler_); }

  bool PrepareResampler(const AVFrame* frame) {
    if (frame->sample_rate != static_cast<int>(out_rate_) || frame->ch_layout.nb_channels <= 0) return false;
    if (resampler_ != nullptr && av_channel_layout_compare(&frame->ch_layout, &in_layout_) == 0 &&
        frame->format == in_format_)
      return true;
    AVChannelLayout out_layout;
    av_channel_layout_default(&out_layout, out_channels_);
    auto open = [&](const AVChannelLayout* in) {
      swr_free(&resampler_);
      if (swr_alloc_set_opts2(&resampler_, &out_layout, AV_SAMPLE_FMT_S16, frame->sample_rate,
                              const_cast<AVChannelLayout*>(in),
                              static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr) >= 0 &&
          swr_init(resampler_) >= 0)
        return true;
      swr_free(&resampler_);
      return false;
    };
    // Named channels the resampler has no mix for (a front and one back
    // speaker, say) are mixed as the count's default layout, as they were
    // before the file's own layout was followed, rather than refused.
    AVChannelLayout fallback{};
    av_channel_layout_default(&fallback, frame->ch_layout.nb_channels);
    if (!open(&frame->ch_layout) &&
        (fallback.order != AV_CHANNEL_ORDER_NATIVE || av_channel_layout_compare(&fallback, &frame->ch_layout) == 0 ||
         !open(&fallback))) {
      // A layout the resampler has no mix for (an unnamed one without a
      // default of its count, or more than it takes).
      if (!channels_reported_) NotifyEvent(kEC_CHANNELS_NOT_MIXED, frame->ch_layout.nb_channels, 0);
      channels_reported_ = true;
      return false;
    }
    av_channel_layout_uninit(&in_layout_);
    av_channel_layout_copy(&in_layout_, &frame->ch_layout);
    in_format_ = frame->format;
    return true;
  }

  // The frame's planes from sample `from` on: one a channel when planar
  // (extended_data holds them all; data[] only the first eight), else one.
  const uint8_t** PlanesFrom(const AVFrame* frame, int from) {
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const size_t skip = static_cast<size_t>(from) * av_get_bytes_per_sample(format) * (planar ? 1 : channels);
    planes_.resize(planar ? static_cast<size_t>(channels) : 1);
    for (size_t p = 0; p < planes_.size(); ++p) planes_[p] = frame->extended_data[p] + skip;
    return planes_.data();
  }

  HResult DeliverFrame(const AVFrame* frame) override {
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
      const int converted = swr_convert(resampler_, &to, n, PlanesFrom(frame, done), n);
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

  SwrContext* resampler_ = nullptr;
  std::vector<const uint8_t*> planes_;
  AVChannelLayout in_layout_{};
  int in_format_ = -1;
  uint32_t out_rate_ = 0;
  int out_channels_ = 0;
  ReferenceTime next_time_ = 0;
  bool next_time_valid_ = false;
  bool channels_reported_ = false;
};

}  // namespace

HResult CreateFfmpegAudioDecoder(IBaseFilter** filter) {
  auto* f = new (std::nothrow) FfmpegAudioDecoder();
  if (f == nullptr) return kE_OUTOFMEMORY;
  return GetInterface(static_cast<IBaseFilter*>(f), reinterpret_cast<void**>(filter));
}

}  // namespace plat
