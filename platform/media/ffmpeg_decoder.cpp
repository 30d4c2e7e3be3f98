// platform/media/ffmpeg_decoder.cpp - the decoder filters' shared part over
// libavcodec (see ffmpeg_decoder.h).
#include "platform/media/ffmpeg_decoder.h"

#include <atomic>
#include <cstring>

#include "platform/media/graph.h"

namespace plat {

namespace {

// Sound packets or frames refused (see MediaSoundRefusals).
std::atomic<int64_t> g_sound_refusals{0};

}  // namespace

int64_t MediaSoundRefusals() { return g_sound_refusals.load(); }

FfmpegDecoderFilter::~FfmpegDecoderFilter() {
  avcodec_free_context(&codec_);
  av_frame_free(&frame_);
}

HResult FfmpegDecoderFilter::SetMediaType(PinDirection direction, const D_CMediaType* type) {
  if (direction != PinDirection::kInput) return kS_OK;
  return OpenCodec(*type) ? kS_OK : kVFW_E_TYPE_NOT_ACCEPTED;
}

HResult FfmpegDecoderFilter::BreakConnect(PinDirection direction) {
  if (direction == PinDirection::kInput) CloseCodec();
  return kS_OK;
}

HResult FfmpegDecoderFilter::GetMediaType(int position, D_CMediaType* type) {
  if (position < 0) return kE_INVALIDARG;
  if (position > 0) return kVFW_S_NO_MORE_ITEMS;
  if (codec_ == nullptr) return kE_UNEXPECTED;
  *type = OutputType();
  return kS_OK;
}

HResult FfmpegDecoderFilter::CheckTransform(const D_CMediaType*, const D_CMediaType* out) {
  const D_CMediaType mine = OutputType();
  return out->majortype == mine.majortype && out->subtype == mine.subtype && out->formattype == mine.formattype &&
                 out->format == mine.format
             ? kS_OK
             : kS_FALSE;
}

HResult FfmpegDecoderFilter::Receive(IMediaSample* sample) {
  std::lock_guard<std::recursive_mutex> hold(receive_lock_);
  // A packet that waited here while the filter stopped is from the run that
  // ended: decoded, it would stamp the next run's frames after its own time.
  if (!streaming_) return kVFW_E_WRONG_STATE;
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
  DescribePacket(sample, packet);
  const int sent = avcodec_send_packet(codec_, packet);
  av_packet_free(&packet);
  if (sent < 0 && sent != AVERROR(EAGAIN)) {
    Refused();
    return kS_OK;  // a damaged packet is passed over
  }
  return DrainFrames();
}

HResult FfmpegDecoderFilter::EndOfStream() {
  {
    std::lock_guard<std::recursive_mutex> hold(receive_lock_);
    if (streaming_ && codec_ != nullptr && avcodec_send_packet(codec_, nullptr) >= 0) DrainFrames();
    if (codec_ != nullptr) avcodec_flush_buffers(codec_);
    // Told before the end goes downstream: whoever waits for the renderers'
    // ends then finds it told.
    if (streaming_ && codec_ != nullptr) StreamEnded();
  }
  return D_CTransformFilter::EndOfStream();
}

HResult FfmpegDecoderFilter::EndFlush() {
  {
    std::lock_guard<std::recursive_mutex> hold(receive_lock_);
    if (codec_ != nullptr) avcodec_flush_buffers(codec_);
    ResetTiming();
  }
  return D_CTransformFilter::EndFlush();
}

HResult FfmpegDecoderFilter::StopStreaming() {
  if (codec_ != nullptr) StreamStopped();
  if (codec_ != nullptr) avcodec_flush_buffers(codec_);
  ResetTiming();
  return kS_OK;
}

bool FfmpegDecoderFilter::OpenCodec(const D_CMediaType& type) {
  CloseCodec();
  QuietFfmpegLog();
  CodedStreamFormat f{};
  const uint8_t* extra = nullptr;
  if (!ReadCodedStreamType(type, &f, &extra)) return false;
  const AVCodec* decoder = avcodec_find_decoder(static_cast<AVCodecID>(f.codec_id));
  if (decoder == nullptr) return false;
  codec_ = avcodec_alloc_context3(decoder);
  if (codec_ == nullptr) return false;
  decoded_ = refused_ = false;
  codec_->bits_per_coded_sample = f.bits_per_coded_sample;
  codec_->pkt_timebase = AVRational{1, static_cast<int>(kUnitsPerSecond)};
  Configure(f);
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
  Opened(f);
  return true;
}

void FfmpegDecoderFilter::CloseCodec() {
  CloseConverter();
  avcodec_free_context(&codec_);
  av_frame_free(&frame_);
}

void FfmpegDecoderFilter::Refused() {
  refused_ = true;
  if (codec_->codec_type == AVMEDIA_TYPE_AUDIO) g_sound_refusals.fetch_add(1, std::memory_order_relaxed);
}

HResult FfmpegDecoderFilter::DrainFrames() {
  if (frame_ == nullptr && (frame_ = av_frame_alloc()) == nullptr) return kE_OUTOFMEMORY;
  for (;;) {
    const int got = avcodec_receive_frame(codec_, frame_);
    if (got < 0) {
      // None ready, the end, or a frame that cannot be decoded.
      if (got != AVERROR(EAGAIN) && got != AVERROR_EOF) Refused();
      return kS_OK;
    }
    decoded_ = true;
    HResult r = DeliverFrame(frame_);
    av_frame_unref(frame_);
    if (Failed(r)) return r;
  }
}

}  // namespace plat
