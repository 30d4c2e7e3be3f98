// platform/media/ffmpeg_splitter.cpp - the demultiplexer over libavformat:
// reads its input through the upstream IAsyncReader, offers the first audio
// and the first video stream as coded packets with their times, and seeks.
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <mutex>

#include "platform/media/ffmpeg_common.h"
#include "platform/kernel/kernel.h"
#include "platform/media/graph.h"
#include "platform/media/pull_source.h"
#include "platform/media/tiff_strips.h"

namespace plat {

namespace {

// Where the errors the libraries report on this thread are counted, while
// a decode that must be whole runs; null otherwise.
thread_local int* t_reported_errors = nullptr;
// A decoder on this thread refused a picture past the frame limit.
thread_local bool t_over_pixel_limit = false;
// Packets read by seeks (see MediaSplitterSeekReads).
std::atomic<int64_t> g_seek_reads{0};

// Prints nothing; counts what is reported at error level or worse. Many
// decoders mend what they cannot read (a GIF's broken code stream ends the
// picture, a TIFF strip decodes short, a JPEG's bad blocks are concealed)
// and say so only here: the call succeeds and the frame carries no flag.
// The frame limit's refusal is told only here too.
void CountReportedErrors(void*, int level, const char* format, va_list args) {
  if (level > AV_LOG_ERROR) return;
  if (t_reported_errors != nullptr) ++*t_reported_errors;
  if (format == nullptr) return;
  if (std::strstr(format, "max pixel count") != nullptr) t_over_pixel_limit = true;
  // The size check before it refuses sides whose rows or planes would pass
  // the libraries' 2 GiB bound: too large as well, where both sides are
  // sides at all (not a damaged header's zero or negative ones).
  static constexpr char kInvalidSize[] = "Picture size %ux%u is invalid";
  if (std::strncmp(format, kInvalidSize, sizeof kInvalidSize - 1) == 0) {
    va_list copy;
    va_copy(copy, args);
    const unsigned width = va_arg(copy, unsigned), height = va_arg(copy, unsigned);
    va_end(copy);
    if (static_cast<int>(width) > 0 && static_cast<int>(height) > 0) t_over_pixel_limit = true;
  }
}

}  // namespace

void QuietFfmpegLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    av_log_set_level(AV_LOG_QUIET);
    av_log_set_callback(&CountReportedErrors);
  });
}

D_CMediaType CodedStreamType(const AVCodecParameters* p, AVRational time_base) {
  D_CMediaType type;
  type.majortype = p->codec_type == AVMEDIA_TYPE_VIDEO ? kMEDIATYPE_Video : kMEDIATYPE_Audio;
  type.subtype = kMEDIASUBTYPE_CodedPackets;
  type.formattype = kFORMAT_CodedStream;
  type.bFixedSizeSamples = 0;
  type.lSampleSize = 0;
  CodedStreamFormat f{};
  f.codec_id = static_cast<int32_t>(p->codec_id);
  f.sample_rate = p->sample_rate;
  f.channels = p->ch_layout.nb_channels;
  // Only a layout with a named channel for each of the count (a WAVE's
  // channel mask, a container's layout); an unnamed or custom order leaves
  // the decoder to its codec's own, or the count's default.
  if (p->ch_layout.order == AV_CHANNEL_ORDER_NATIVE && p->ch_layout.nb_channels > 0 &&
      av_popcount64(p->ch_layout.u.mask) == p->ch_layout.nb_channels)
    f.channel_mask = p->ch_layout.u.mask;
  f.width = p->width;
  f.height = p->height;
  f.bits_per_coded_sample = p->bits_per_coded_sample;
  f.block_align = p->block_align;
  f.time_base_num = time_base.num;
  f.time_base_den = time_base.den;
  f.bit_rate = p->bit_rate;
  f.extradata_size = p->extradata != nullptr && p->extradata_size > 0 ? static_cast<uint32_t>(p->extradata_size) : 0;
  type.format.resize(sizeof(f) + f.extradata_size);
  std::memcpy(type.format.data(), &f, sizeof(f));
  if (f.extradata_size > 0) std::memcpy(type.format.data() + sizeof(f), p->extradata, f.extradata_size);
  return type;
}

bool ReadCodedStreamType(const D_CMediaType& type, CodedStreamFormat* format, const uint8_t** extradata) {
  if (!(type.subtype == kMEDIASUBTYPE_CodedPackets) || !(type.formattype == kFORMAT_CodedStream)) return false;
  if (type.format.size() < sizeof(CodedStreamFormat)) return false;
  std::memcpy(format, type.format.data(), sizeof(*format));
  if (type.format.size() - sizeof(CodedStreamFormat) < format->extradata_size) return false;
  *extradata = type.format.data() + sizeof(CodedStreamFormat);
  return true;
}

namespace {

// {52524D03-0001-4D45-4449-41535054 0001}
constexpr Guid kCLSID_FfmpegSplitter = {0x52524D03, 0x0001, 0x4D45, {0x44, 0x49, 0x41, 0x53, 0x50, 0x54, 0x00, 0x01}};
constexpr int kIoBufferSize = 32768;
// Seeks that go back further before the start itself is taken.
constexpr int kSeekAttempts = 8;

class FfmpegSplitter : public PullSourceFilter {
 public:
  FfmpegSplitter() : PullSourceFilter("Media Splitter", kCLSID_FfmpegSplitter) {}
  ~FfmpegSplitter() override {
    Stop();
    Close();
  }

  bool AcceptsInput(const D_CMediaType& type) override { return type.majortype == kMEDIATYPE_Stream; }

  HResult Open(const D_CMediaType& type) override {
    t_over_pixel_limit = false;
    HResult opened = OpenInput(type);
    if (opened != kS_OK) return opened;
    // A still picture opened as a one-frame movie must decode whole here: a
    // cut or damaged one would otherwise show nothing, or part of itself,
    // without a word; one past the frame limit is too large, as it is to the
    // image loaders. Each refusal has a result of its own, from which the
    // caller, who knows the file, writes the one line about it. The check
    // reads packets, so the input opens again.
    if (IsStillImageInput()) {
      const int index = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
      const bool whole = !t_over_pixel_limit && index >= 0 && FirstFrameDecodes(index);
      if (t_over_pixel_limit) {
        Close();
        return kVFW_E_PICTURE_TOO_LARGE;
      }
      if (index >= 0 && !whole) {
        Close();
        return kVFW_E_INVALID_FILE_FORMAT;
      }
      Close();
      opened = OpenInput(type);
      if (opened != kS_OK) return opened;
    }
    return OfferStreams();
  }

  // The input opened and probed, nothing offered yet.
  HResult OpenInput(const D_CMediaType&) {
    QuietFfmpegLog();
    Close();
    position_ = 0;
    read_failed_ = false;
    sound_shift_ = -1;
    sound_sent_ = link_after_sound_ = false;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (buffer == nullptr) return kE_OUTOFMEMORY;
    io_ = avio_alloc_context(buffer, kIoBufferSize, 0, this, &ReadPacket, nullptr, &SeekInput);
    if (io_ == nullptr) {
      av_free(buffer);
      return kE_OUTOFMEMORY;
    }
    format_ = avformat_alloc_context();
    if (format_ == nullptr) {
      Close();
      return kE_OUTOFMEMORY;
    }
    format_->pb = io_;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Every input is probed, also one said to be MPEG audio: what reaches
    // this filter then is one the MPEG audio source refused (a WAVE file of
    // another format, say), and forcing the MPEG reader onto it would play
    // whatever in it looks like a frame header.
    if (avformat_open_input(&format_, "", nullptr, nullptr) < 0) {
      format_ = nullptr;  // freed by the failed open
      Close();
      return kVFW_E_UNSUPPORTED_STREAM;
    }
    if (FindStreamInfo() < 0) {
      Close();
      return kVFW_E_UNSUPPORTED_STREAM;
    }
    return kS_OK;
  }

  // The image demultiplexers (one picture a file, or a GIF's frames).
  bool IsStillImageInput() const {
    const char* name = format_->iformat->name;
    const size_t n = std::strlen(name);
    return std::strcmp(name, "image2") == 0 || std::strcmp(name, "gif") == 0 ||
           (n > 5 && std::strcmp(name + n - 5, "_pipe") == 0);
  }

  // Whether the stream's first frame decodes with no error reported.
  bool FirstFrameDecodes(int index) {
    const AVCodecParameters* p = format_->streams[index]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(p->codec_id);
    AVCodecContext* codec = decoder != nullptr ? avcodec_alloc_context3(decoder) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool whole = false;
    if (codec != nullptr && packet != nullptr && frame != nullptr && avcodec_parameters_to_context(codec, p) >= 0) {
      codec->max_pixels = kMaxVideoPixels;
      codec->thread_count = 1;
      // What counts is an error the decoder reports, not the stricter
      // checks it can be asked for: those refuse whole files for tags
      // they merely do not know.
      int errors = 0;
      t_reported_errors = &errors;
      if (avcodec_open2(codec, decoder, nullptr) >= 0) {
        auto got_whole = [&] {
          if (avcodec_receive_frame(codec, frame) < 0) return false;
          const bool clean =
              (frame->flags & AV_FRAME_FLAG_CORRUPT) == 0 && frame->decode_error_flags == 0 && errors == 0;
          av_frame_unref(frame);
          return clean;
        };
        // A few packets at most: a picture is one, a GIF's first frame one.
        for (int sent = 0; sent < 4 && av_read_frame(format_, packet) >= 0;) {
          const bool mine = packet->stream_index == index;
          // The TIFF decoder takes a deflate strip that ends early as whole,
          // leaving what its buffer held in the rows after.
          if (mine && sent == 0 && p->codec_id == AV_CODEC_ID_TIFF &&
              !TiffDeflateStripsWhole(packet->data, static_cast<size_t>(packet->size))) {
            av_packet_unref(packet);
            break;
          }
          const bool taken = mine && avcodec_send_packet(codec, packet) >= 0;
          av_packet_unref(packet);
          if (!mine) continue;
          ++sent;
          if (!taken) break;
          whole = got_whole();
          if (whole) break;
        }
        if (!whole && avcodec_send_packet(codec, nullptr) >= 0) whole = got_whole();
      }
      t_reported_errors = nullptr;
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    return whole;
  }

  // Offers the first audio and the first video stream that can be decoded.
  HResult OfferStreams() {
    const int kinds[2] = {AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_VIDEO};
    for (int kind : kinds) {
      const int index = av_find_best_stream(format_, static_cast<AVMediaType>(kind), -1, -1, nullptr, 0);
      if (index < 0) continue;
      const AVStream* stream = format_->streams[index];
      const AVCodecParameters* p = stream->codecpar;
      // Sound without a decoder is offered all the same: left unconnected,
      // it tells whoever plays the file that its sound is not played.
      if (kind == AVMEDIA_TYPE_VIDEO && avcodec_find_decoder(p->codec_id) == nullptr) continue;
      if (kind == AVMEDIA_TYPE_AUDIO && (p->sample_rate <= 0 || p->sample_rate > 1000000 || p->ch_layout.nb_channels <= 0)) continue;
      if (kind == AVMEDIA_TYPE_VIDEO && (p->width <= 0 || p->height <= 0)) continue;
      // The probe leaves the pixel format unknown when the decoder could not
      // take the stream's own header: one declaring a frame past the limit,
      // or a damaged one. The container's sizes alone would offer a stream
      // that never gives a frame.
      if (kind == AVMEDIA_TYPE_VIDEO && p->format < 0) {
        OutputDebugString("media: the video stream's header was refused by its decoder (a frame past the size limit, "
                          "or damaged); the stream is left out\n");
        continue;
      }
      const int32_t buffer = kind == AVMEDIA_TYPE_VIDEO ? 8 << 20 : 1 << 20;
      streams_.push_back(index);
      AddOutput(CodedStreamType(p, stream->time_base), buffer, 4, kind == AVMEDIA_TYPE_VIDEO ? u"Video" : u"Audio");
    }
    return streams_.empty() ? kVFW_E_UNSUPPORTED_STREAM : kS_OK;
  }

  // The stream probe, whose decoders are held to the frame limit like ours;
  // negative on failure.
  int FindStreamInfo() {
    const unsigned count = format_->nb_streams;
    auto** options = static_cast<AVDictionary**>(av_calloc(count > 0 ? count : 1, sizeof(AVDictionary*)));
    if (options == nullptr) return AVERROR(ENOMEM);
    for (unsigned i = 0; i < count; ++i) av_dict_set_int(&options[i], "max_pixels", kMaxVideoPixels, 0);
    const int r = avformat_find_stream_info(format_, options);
    for (unsigned i = 0; i < count; ++i) av_dict_free(&options[i]);
    av_free(options);
    return r;
  }

  void Close() override {
    DropPending();
    if (format_ != nullptr) avformat_close_input(&format_);
    if (io_ != nullptr) {
      av_freep(&io_->buffer);
      avio_context_free(&io_);
    }
    streams_.clear();
  }

  HResult StreamStep() override {
    AVPacket* packet = nullptr;
    int got = 0;
    if (!pending_.empty()) {
      packet = pending_.front();
      pending_.pop_front();
    } else {
      packet = av_packet_alloc();
      if (packet == nullptr) return kE_OUTOFMEMORY;
      got = av_read_frame(format_, packet);
    }
    if (got < 0) {
      av_packet_free(&packet);
      // A failing reader is an error; anything else (the end, damaged or
      // cut data the demultiplexer cannot pass) ends the streams.
      return read_failed_ ? kE_FAIL : kS_FALSE;
    }
    HResult r = kS_OK;
    for (size_t i = 0; i < streams_.size(); ++i) {
      if (packet->stream_index != streams_[i]) continue;
      const AVStream* stream = format_->streams[packet->stream_index];
      int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      ReferenceTime start = 0, stop = 0;
      if (pts != AV_NOPTS_VALUE) {
        int64_t first = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        start = ToReferenceTime(pts - first, stream->time_base) - SegmentStart();
        stop = start + (packet->duration > 0 ? ToReferenceTime(packet->duration, stream->time_base) : 0);
      }
      if (StopPosition() != INT64_MAX && start + SegmentStart() >= StopPosition()) {
        r = kS_FALSE;
        break;
      }
      r = Send(static_cast<int>(i), packet->data, packet->size, start, stop, (packet->flags & AV_PKT_FLAG_KEY) != 0,
               false, SoundTrim(packet, stream));
      break;
    }
    av_packet_free(&packet);
    return r;
  }

  // The samples the demultiplexer says the packet's decoded frame loses: the
  // priming an edit list, an Opus pre-skip or an MP3's encoder delay names,
  // and the end a last granule position or a gapless header cuts.
  static DecodedTrim PacketTrim(const AVPacket* packet) {
    size_t size = 0;
    const uint8_t* side = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (side == nullptr || size < 8) return {};
    return {AV_RL32(side), AV_RL32(side + 4)};
  }

  // The Ogg reader times a Vorbis stream's first packet, whose decode gives
  // no sound, before the stream's start by the length it parses for it; but
  // where that packet's page is the stream's last (a short sound of one
  // page) it times it from 0, or from where a seek left it. Every later
  // sample is then that length late (128 for a short first block, 576 once
  // a seek went back), and so is the last granule position's end: the end
  // trim comes out that much long, and the decoder cuts that many samples
  // too many, or, where the trim is then longer than the last packet's
  // samples, none (the padding past the end plays). Such a stream's first
  // decoded sample is its granule positions' 0, as the Ogg converter and
  // libvorbisfile read it: its end trim is shortened by that sample's time.
  // A chain's later link is a stream of its own, timed from 0 again, whose
  // headers come as packets: its first packet is measured anew, and its end
  // trim shortened by its own shift. The decoder does not start again at
  // those headers: it gives that link's first packet the samples (the
  // length the reader parses for it) that libvorbis's fresh start does not,
  // and they are cut from the front.
  DecodedTrim SoundTrim(const AVPacket* packet, const AVStream* stream) {
    DecodedTrim trim = PacketTrim(packet);
    if (stream->codecpar->codec_id != AV_CODEC_ID_VORBIS || std::strcmp(format_->iformat->name, "ogg") != 0)
      return trim;
    // A header packet has its lowest bit set (1, 3, 5); the identification
    // header starts the link.
    if (packet->size > 0 && (packet->data[0] & 1) != 0) {
      if (packet->size >= 7 && packet->data[0] == 1 && std::memcmp(packet->data + 1, "vorbis", 6) == 0) {
        sound_shift_ = -1;
        link_after_sound_ = sound_sent_;
      }
      return trim;
    }
    const AVRational samples{1, stream->codecpar->sample_rate};
    if (sound_shift_ < 0) {
      // The first packet since the input opened or moved, or of a link: its
      // time past its length is where the reader put the first decoded sample.
      sound_shift_ = 0;
      if (packet->pts != AV_NOPTS_VALUE && packet->duration > 0 && OnLastOggPage(packet->pos)) {
        const int64_t first = av_rescale_q(packet->pts + packet->duration, stream->time_base, samples);
        sound_shift_ = std::clamp<int64_t>(first, 0, UINT32_MAX);
      }
      if (link_after_sound_ && packet->duration > 0) {
        const int64_t front = int64_t{trim.front} + av_rescale_q(packet->duration, stream->time_base, samples);
        trim.front = static_cast<uint32_t>(std::clamp<int64_t>(front, 0, UINT32_MAX));
      }
      link_after_sound_ = false;
    }
    sound_sent_ = true;
    trim.back = trim.back > sound_shift_ ? static_cast<uint32_t>(trim.back - sound_shift_) : 0;
    return trim;
  }

  // Whether the Ogg page at `pos` is marked as its stream's last.
  bool OnLastOggPage(int64_t pos) {
    uint8_t header[6] = {};
    return pos >= 0 && ReadAt(pos, header, sizeof header) == static_cast<int64_t>(sizeof header) &&
           std::memcmp(header, "OggS", 4) == 0 && (header[5] & 0x04) != 0;
  }

  // Lands on the video's key frame at or before the position, so that the
  // decoder reaches the position's own frame (the frames before it are
  // dropped downstream, by their times before the segment). A seek by time
  // may land inside a group of pictures (a program stream has no index and
  // is searched by its time stamps); from there the next key frame can lie
  // past the position, and the seek goes back further until one does not.
  HResult SeekTo(int64_t position) override {
    if (format_ == nullptr) return kE_UNEXPECTED;
    DropPending();
    sound_shift_ = -1;
    sound_sent_ = link_after_sound_ = false;
    const int64_t origin = format_->start_time != AV_NOPTS_VALUE ? format_->start_time : 0;
    int64_t target = av_rescale(position, AV_TIME_BASE, kUnitsPerSecond) + origin;
    // The video's frames are timed from the video's own start (see
    // StreamStep): its frame at the position is what is aimed at.
    const int video = OfferedVideoStream();
    int64_t video_target = 0;
    if (video >= 0) {
      const AVStream* stream = format_->streams[video];
      video_target = av_rescale_q(position, AVRational{1, static_cast<int>(kUnitsPerSecond)}, stream->time_base) +
                     (stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0);
      target = std::max(origin, av_rescale_q(video_target, stream->time_base, AV_TIME_BASE_Q));
    }
    int64_t from = target, back = AV_TIME_BASE;
    for (int attempt = 0;; ++attempt) {
      bool first_frame = from <= origin || attempt >= kSeekAttempts;
      if (first_frame) from = origin;
      if (av_seek_frame(format_, -1, from, AVSEEK_FLAG_BACKWARD) < 0) {
        // No seeking by time: the start, by its byte, and decoding onward.
        if (av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BYTE) < 0) return kE_FAIL;
        first_frame = true;
      }
      avformat_flush(format_);
      // From the start, decoding reaches any frame as it does on a first run.
      if (video < 0 || first_frame) return kS_OK;
      if (ReadToKeyFrame(video, video_target)) return kS_OK;
      DropPending();
      from -= back;
      back *= 2;
    }
  }

  // The index of the video stream offered, or -1.
  int OfferedVideoStream() const {
    for (int index : streams_)
      if (format_->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) return index;
    return -1;
  }

  // Reads on to the video stream's last key frame at or before `target` (in
  // the stream's time base), keeping it, the video's packets after it up to
  // the first one decoded past the target, and the other streams' packets,
  // for StreamStep; the video's packets before that key frame cannot be
  // decoded, or need not be, and go. A seek in a file without an index can
  // land a group or more before the target's own. False when the first key
  // frame lies past the target, or there is none before the end.
  bool ReadToKeyFrame(int video, int64_t target) {
    bool found = false;
    // The most a video packet has been seen shown after it is decoded: a
    // later key frame without a presentation time is taken to show that
    // long after its decoding time, so that it replaces the one found only
    // when it surely shows at or before the target.
    int64_t delay = -1;
    for (;;) {
      AVPacket* packet = av_packet_alloc();
      if (packet == nullptr || av_read_frame(format_, packet) < 0) {
        av_packet_free(&packet);
        return found;
      }
      g_seek_reads.fetch_add(1, std::memory_order_relaxed);
      if (packet->stream_index != video) {
        if (std::find(streams_.begin(), streams_.end(), packet->stream_index) != streams_.end()) {
          pending_.push_back(packet);
        } else {
          av_packet_free(&packet);
        }
        continue;
      }
      const int64_t pts = packet->pts, dts = packet->dts;
      if (pts != AV_NOPTS_VALUE && dts != AV_NOPTS_VALUE) delay = std::max(delay, pts - dts);
      const int64_t decoded = dts != AV_NOPTS_VALUE ? dts : pts;
      const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
      if (!found) {
        const int64_t shown = pts != AV_NOPTS_VALUE ? pts : dts;
        if (key) {
          pending_.push_back(packet);
          if (shown == AV_NOPTS_VALUE) return true;
          if (shown > target) return false;
          found = true;
          continue;
        }
        av_packet_free(&packet);
        // Past the target in decoding order: any key frame after it is too.
        if (decoded != AV_NOPTS_VALUE && decoded > target) return false;
        continue;
      }
      const int64_t shown = pts != AV_NOPTS_VALUE ? pts
                            : dts != AV_NOPTS_VALUE && delay >= 0 ? dts + delay
                                                                  : AV_NOPTS_VALUE;
      if (key && shown != AV_NOPTS_VALUE && shown <= target) {
        // A later key frame still at or before the target: decoding starts there.
        DropPendingOf(video);
        pending_.push_back(packet);
        continue;
      }
      pending_.push_back(packet);
      if (key || (decoded != AV_NOPTS_VALUE && decoded > target)) return true;
    }
  }

  // Drops the packets of one stream read by a seek.
  void DropPendingOf(int stream) {
    std::deque<AVPacket*> kept;
    for (AVPacket* p : pending_) {
      if (p->stream_index == stream) {
        av_packet_free(&p);
      } else {
        kept.push_back(p);
      }
    }
    pending_.swap(kept);
  }

  void DropPending() {
    for (AVPacket*& p : pending_) av_packet_free(&p);
    pending_.clear();
  }

  int64_t Duration() override {
    if (format_ == nullptr || format_->duration == AV_NOPTS_VALUE) return 0;
    return av_rescale(format_->duration, kUnitsPerSecond, AV_TIME_BASE);
  }

 private:
  static int ReadPacket(void* opaque, uint8_t* buffer, int size) {
    auto* self = static_cast<FfmpegSplitter*>(opaque);
    const int64_t n = self->ReadAt(self->position_, buffer, size);
    if (n < 0) {
      self->read_failed_ = true;
      return AVERROR(EIO);
    }
    if (n == 0) return AVERROR_EOF;
    self->position_ += n;
    return static_cast<int>(n);
  }

  static int64_t SeekInput(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<FfmpegSplitter*>(opaque);
    const int64_t length = self->InputLength();
    if (length < 0) return -1;
    switch (whence & ~AVSEEK_FORCE) {
      case AVSEEK_SIZE: return length;
      case SEEK_SET: break;
      case SEEK_CUR: offset += self->position_; break;
      case SEEK_END: offset += length; break;
      default: return -1;
    }
    if (offset < 0) return -1;
    self->position_ = offset;
    return offset;
  }

  AVFormatContext* format_ = nullptr;
  AVIOContext* io_ = nullptr;
  int64_t position_ = 0;
  bool read_failed_ = false;
  // Samples the Ogg reader put before a one-page Vorbis stream's first
  // decoded sample (see SoundTrim); -1 before its first packet.
  int64_t sound_shift_ = -1;
  // A Vorbis audio packet went to the decoder since the input opened or
  // moved (its decode no longer starts afresh); a later link's headers
  // came after one, and its first audio packet has not yet come.
  bool sound_sent_ = false;
  bool link_after_sound_ = false;
  std::vector<int> streams_;
  std::deque<AVPacket*> pending_;  // read by a seek, sent before any other
};

}  // namespace

int64_t MediaSplitterSeekReads() { return g_seek_reads.load(); }

HResult CreateFfmpegSplitter(IBaseFilter** filter) {
  auto* f = new (std::nothrow) FfmpegSplitter();
  if (f == nullptr) return kE_OUTOFMEMORY;
  return GetInterface(static_cast<IBaseFilter*>(f), reinterpret_cast<void**>(filter));
}

}  // namespace plat
