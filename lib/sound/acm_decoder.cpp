// lib/sound/acm_decoder.cpp - the converters that decode through the
// compression manager: WAVE files with coded data, and MP3 files whose frames
// go to the MPEG audio codec. Both keep the whole coded data in memory and run
// two conversion streams over it: the main one for the reader, and a
// look-ahead one that parks near the loop point so that a loop back costs a
// stream swap and a little decoding instead of decoding from the start.
#include <algorithm>
#include <cstring>
#include <vector>

#include "lib/core/memory.h"
#include "lib/sound/pcm_decoder.h"
#include "lib/sound/sound_internal.h"

void LoadAcmFunctions() {
  // The entry points are looked up by name as in a loaded library; the
  // module word only records that the lookup was done.
  g_acm.module = reinterpret_cast<void*>(&plat::AcmFindEntryPoint);
  g_acm.format_suggest = reinterpret_cast<decltype(g_acm.format_suggest)>(plat::AcmFindEntryPoint("acmFormatSuggest"));
  g_acm.stream_open = reinterpret_cast<decltype(g_acm.stream_open)>(plat::AcmFindEntryPoint("acmStreamOpen"));
  g_acm.stream_close = reinterpret_cast<decltype(g_acm.stream_close)>(plat::AcmFindEntryPoint("acmStreamClose"));
  g_acm.metrics = reinterpret_cast<decltype(g_acm.metrics)>(plat::AcmFindEntryPoint("acmMetrics"));
  g_acm.stream_prepare_header =
      reinterpret_cast<decltype(g_acm.stream_prepare_header)>(plat::AcmFindEntryPoint("acmStreamPrepareHeader"));
  g_acm.stream_convert = reinterpret_cast<decltype(g_acm.stream_convert)>(plat::AcmFindEntryPoint("acmStreamConvert"));
  g_acm.stream_unprepare_header =
      reinterpret_cast<decltype(g_acm.stream_unprepare_header)>(plat::AcmFindEntryPoint("acmStreamUnprepareHeader"));
  g_acm.stream_size = reinterpret_cast<decltype(g_acm.stream_size)>(plat::AcmFindEntryPoint("acmStreamSize"));
}

void FreeAcmFunctions() { g_acm = AcmFunctionTable{}; }

namespace {

constexpr uint32_t kStepSourceBytes = 2048;
constexpr int32_t kAheadSlack = 10240;

bool AcmReady() {
  return g_acm.format_suggest != nullptr && g_acm.stream_open != nullptr && g_acm.stream_close != nullptr &&
         g_acm.metrics != nullptr && g_acm.stream_prepare_header != nullptr && g_acm.stream_convert != nullptr &&
         g_acm.stream_unprepare_header != nullptr && g_acm.stream_size != nullptr;
}

const plat::WaveFormatEx* SourceFormat(const PcmDecoderRecord* r) {
  return reinterpret_cast<const plat::WaveFormatEx*>(r->acm.source_format);
}

plat::AcmStream* OpenStream(PcmDecoderRecord* r) {
  plat::AcmStream* stream = nullptr;
  if (g_acm.stream_open(&stream, nullptr, SourceFormat(r), &r->format, nullptr, 0, 0,
                        plat::kACM_STREAMOPENF_NONREALTIME) != 0)
    return nullptr;
  return stream;
}

void CloseStream(plat::AcmStream** stream) {
  if (*stream != nullptr) g_acm.stream_close(*stream, 0);
  *stream = nullptr;
}

void ReleaseAcm(PcmDecoderRecord* r) {
  CloseStream(&r->acm.main_stream);
  CloseStream(&r->acm.ahead_stream);
  TrackedFree(r->acm.ahead_block);
  TrackedFree(r->acm.source_format);
  TrackedFree(r->acm.coded_data);
  r->acm.ahead_block = nullptr;
  r->acm.source_format = nullptr;
  r->acm.coded_data = nullptr;
}

// One conversion step of at most 2048 source bytes (or one source block when
// the codec's blocks are larger, so that such data is not cut off unread).
// Returns false when the header cannot be prepared.
bool DecodeStep(PcmDecoderRecord* r, plat::AcmStream* stream, uint32_t* coded_pos, uint8_t* out, uint32_t out_length,
                uint32_t* produced) {
  *produced = 0;
  uint32_t step = kStepSourceBytes;
  const uint32_t block = SourceFormat(r)->block_align;
  if (block > step) step = block;
  uint32_t left = r->acm.coded_size - *coded_pos;
  plat::AcmStreamHeader header;
  std::memset(&header, 0, sizeof(header));
  header.cb_struct = sizeof(header);
  header.source = r->acm.coded_data + *coded_pos;
  header.source_length = left < step ? left : step;
  header.destination = out;
  header.destination_length = out_length;
  if (stream == nullptr || g_acm.stream_prepare_header(stream, &header, 0) != 0) return false;
  g_acm.stream_convert(stream, &header, plat::kACM_STREAMCONVERTF_BLOCKALIGN);
  *coded_pos += header.source_length_used;
  *produced = header.destination_length_used;
  g_acm.stream_unprepare_header(stream, &header, 0);
  return true;
}

// Steps 3 to 5 of the opening, shared by both converters: the PCM format,
// the coded data in memory, the two streams.
bool SuggestReadAndOpen(PcmDecoderRecord* r) {
  std::memset(&r->format, 0, sizeof(r->format));
  r->format.format_tag = plat::kWaveFormatPcm;
  if (g_acm.format_suggest(nullptr, SourceFormat(r), &r->format, sizeof(r->format),
                           plat::kACM_FORMATSUGGESTF_WFORMATTAG) != 0)
    return false;
  if (r->data_size < 0) return false;
  r->acm.coded_size = static_cast<uint32_t>(r->data_size);
  r->acm.coded_data = static_cast<uint8_t*>(TrackedAlloc(r->acm.coded_size + 1u, "", 0));
  if (r->acm.coded_data == nullptr) return false;
  size_t got = r->stream.ops.read(r->acm.coded_data, 1, r->acm.coded_size, r->stream.handle);
  // Whatever the stream could not give is not there to decode.
  if (got < r->acm.coded_size) r->acm.coded_size = static_cast<uint32_t>(got);
  r->stream.ops.seek(r->stream.handle, r->data_pos, 0);
  r->acm.coded_pos = 0;
  r->acm.main_stream = OpenStream(r);
  if (r->acm.main_stream == nullptr) return false;
  r->acm.ahead_stream = OpenStream(r);
  return r->acm.ahead_stream != nullptr;
}

bool AllocateAheadBlock(PcmDecoderRecord* r, uint64_t size) {
  if (size == 0 || size > (64u << 20)) return false;
  r->buffer_size = static_cast<int32_t>(size);
  r->acm.ahead_block = static_cast<uint8_t*>(TrackedAlloc(static_cast<size_t>(size), "", 0));
  return r->acm.ahead_block != nullptr;
}

void SetMpegFrameLength(MpegFrameInfo* f) {
  if (f->layer == 0) {
    f->frame_length = (12000 * f->bitrate / f->rate + f->padding) * 4;
    f->samples = 384;
  } else if (f->layer == 1 || f->version == 0) {
    f->frame_length = 144000 * f->bitrate / f->rate + f->padding;
    f->samples = 1152;
  } else {
    f->frame_length = 72000 * f->bitrate / f->rate + f->padding;
    f->samples = 576;
  }
}

// An eleven-bit frame sync, as every MPEG audio version has it.
bool IsMpegSync(const uint8_t b[2]) { return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0; }

// A frame header of any version, MPEG 2.5 (version bits 00) included: its
// fields are those of MPEG-2 at half the sample rates. 0 or -1.
int ParseAnyMpegHeader(const uint8_t b[4], MpegFrameInfo* info) {
  if (!IsMpegSync(b)) return -1;
  if ((b[1] & 0x18) != 0) return ParseMpegAudioHeader(b, info) == 0 ? 0 : -1;
  const uint8_t as_mpeg2[4] = {b[0], static_cast<uint8_t>(b[1] | 0x10), b[2], b[3]};
  MpegFrameInfo f;
  if (ParseMpegAudioHeader(as_mpeg2, &f) != 0) return -1;
  f.rate /= 2;
  SetMpegFrameLength(&f);
  *info = f;
  return 0;
}

// The length of a leading ID3v2 tag in a file image, footer included; 0
// without one.
int64_t Id3TagLength(const uint8_t* image, int64_t size) {
  if (size < 10 || std::memcmp(image, "ID3", 3) != 0) return 0;
  const uint8_t* b = image + 6;
  int64_t length = (((static_cast<int64_t>(b[0]) * 128 + b[1]) * 128 + b[2]) * 128 + b[3]) + 10;
  if (image[3] == 4 && (image[5] & 0x10)) length += 10;
  return length;
}

int64_t StreamSize(PcmDecoderRecord* r) {
  r->stream.ops.seek(r->stream.handle, 0, 2);
  int64_t size = r->stream.ops.tell(r->stream.handle);
  r->stream.ops.seek(r->stream.handle, 0, 0);
  return size;
}

bool ReadExact(PcmDecoderRecord* r, void* out, size_t bytes) {
  return r->stream.ops.read(out, 1, bytes, r->stream.handle) == bytes;
}

// Whether a frame of the given header at `at` is followed at once by a
// header of the same version, layer and rate (or by the end of the frames);
// `count` frames in all are asked for.
bool FramesFollow(PcmDecoderRecord* r, int64_t at, const MpegFrameInfo& first, int64_t limit, int count) {
  MpegFrameInfo h = first;
  for (int n = 1; n < count; ++n) {
    at += h.frame_length;
    if (at + 4 > limit) return n > 1 || count == 2;
    uint8_t b[4];
    r->stream.ops.seek(r->stream.handle, at, 0);
    if (!ReadExact(r, b, 4) || ParseAnyMpegHeader(b, &h) != 0 || h.frame_length < 4 || h.version != first.version ||
        h.layer != first.layer || h.rate != first.rate)
      return false;
  }
  return true;
}

// Where the frames of a file start: at the first frame sync after its tag
// when a header of the same version, layer and rate follows that frame at
// once. Bytes before the frames (a tag's padding, a damaged tag) can hold a
// sync of their own: one that begins no such chain is passed over, and the
// first sync within kMaxLeadingJunk bytes that begins three chained frames is
// the start. Audio data holds bytes that look like frame headers too; a
// chain started at one of them would load the sound at another rate with a
// fraction of its samples. MPEG 2.5 (8000 to 12000 Hz) and free-format bit
// rates are not for the codec. -1 hands the file on to the next converter.
int64_t FindFirstFrame(PcmDecoderRecord* r, int64_t from, int64_t limit) {
  constexpr int64_t kMaxLeadingJunk = 65536;
  std::vector<uint8_t> window(static_cast<size_t>(std::min(limit - from, kMaxLeadingJunk + 4)));
  r->stream.ops.seek(r->stream.handle, from, 0);
  window.resize(r->stream.ops.read(window.data(), 1, window.size(), r->stream.handle));
  bool passed_over = false;
  for (size_t i = 0; i + 4 <= window.size(); ++i) {
    const uint8_t* b = &window[i];
    MpegFrameInfo first;
    if (!IsMpegSync(b)) continue;
    const int64_t at = from + static_cast<int64_t>(i);
    const bool parsed = ParseAnyMpegHeader(b, &first) == 0;
    // A free-format frame has no length to chain by: a stream that starts
    // with one is not for the codec either.
    if (parsed && first.bitrate_index == 0 && !passed_over) return -1;
    if (!parsed || first.frame_length < 4 || !FramesFollow(r, at, first, limit, passed_over ? 3 : 2)) {
      passed_over = true;
      continue;
    }
    return (b[1] & 0x18) != 0 && ParseMpegAudioHeader(b, &first) == 0 ? at : -1;
  }
  return -1;
}

// The samples the MPEG audio codec makes of coded data, as it takes it:
// whole frames, bytes between frames passed over, up to a damaged header or
// a frame cut at the end.
int64_t CountMpegSamples(const uint8_t* data, uint32_t size) {
  int64_t samples = 0;
  uint32_t pos = 0;
  while (size - pos >= 4) {
    const uint8_t* p = data + pos;
    if (p[0] != 0xFF || (p[1] & 0xF0) != 0xF0) {
      ++pos;
      continue;
    }
    MpegFrameInfo f;
    if (ParseMpegAudioHeader(p, &f) != 0 || f.frame_length < 4 || f.frame_length > size - pos) break;
    samples += f.samples;
    pos += f.frame_length;
  }
  return samples;
}

// MPEG audio in a WAVE file: the codec's size estimate goes by the format's
// block size, which writers fill in differently (some put the samples per
// frame there, which makes the estimate a fraction of the sound), so the
// length comes from the frames themselves. False when none is whole.
bool CountWaveMpegFrames(PcmDecoderRecord* r) {
  const int64_t samples = CountMpegSamples(r->acm.coded_data, r->acm.coded_size);
  const int64_t block_align = r->format.block_align;
  if (samples <= 0 || block_align <= 0 || samples * block_align > INT32_MAX) return false;
  r->acm.total_samples = static_cast<int32_t>(samples);
  return true;
}

}  // namespace

int OpenPcmDecoderAcm(PcmDecoderRecord* r) {
  r->acm = PcmDecoderAcmState{};
  r->acm.total_samples = -1;
  if (!AcmReady()) return -1;
  uint8_t* body = nullptr;
  int32_t body_size = 0;
  if (WalkWaveChunks(r, &body, &body_size) != 0) return -1;
  // The codecs read the extra bytes the format names; a body too short for
  // its own extra size, or without the extra-size field, is kept in a block
  // of the full length so nothing reads past it.
  const uint32_t extra = body_size >= 18 ? static_cast<uint32_t>(body[16] | body[17] << 8) : 0;
  const uint32_t full = 18 + extra;
  if (body_size >= 18 && static_cast<uint32_t>(body_size) < full) {
    TrackedFree(body);
    return -1;
  }
  uint32_t keep = static_cast<uint32_t>(body_size) > full ? static_cast<uint32_t>(body_size) : full;
  r->acm.source_format = static_cast<uint8_t*>(TrackedCalloc(keep, "", 0));
  if (r->acm.source_format == nullptr) {
    TrackedFree(body);
    return -1;
  }
  std::memcpy(r->acm.source_format, body, static_cast<size_t>(body_size));
  TrackedFree(body);
  auto* source = reinterpret_cast<plat::WaveFormatEx*>(r->acm.source_format);
  if (source->format_tag == plat::kWaveFormatPcm && body_size == 16 && source->channels != 0) {
    source->bits_per_sample = static_cast<uint16_t>((source->block_align / source->channels) * 8);
    source->extra_size = 0;
  }
  if (!SuggestReadAndOpen(r) ||
      (source->format_tag == plat::kWaveFormatMpegLayer3 && !CountWaveMpegFrames(r))) {
    ReleaseAcm(r);
    return -1;
  }
  // One second of PCM per read, but never less than one coded block gives:
  // a block of more than a second would otherwise never fit and the sound
  // would end before it began.
  uint64_t size = r->format.avg_bytes_per_sec;
  uint32_t block_output = 0;
  if (g_acm.stream_size(r->acm.main_stream, SourceFormat(r)->block_align, &block_output,
                        plat::kACM_STREAMSIZEF_SOURCE) == 0 &&
      block_output > size)
    size = block_output;
  if (!AllocateAheadBlock(r, size)) {
    ReleaseAcm(r);
    return -1;
  }
  r->kind = kPcmDecoderAcm;
  return 0;
}

int ParseMpegAudioHeader(const uint8_t b[4], MpegFrameInfo* info) {
  static const uint16_t kBitrates[2][3][16] = {
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
  static const uint32_t kRates[2][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}};
  if (b[0] != 0xFF || (b[1] & 0xF0) != 0xF0) return -2;
  MpegFrameInfo f{};
  f.version = (b[1] & 0x08) ? 0 : 1;
  int layer = 3 - ((b[1] >> 1) & 3);
  if (layer > 2) return -1;
  f.layer = static_cast<uint8_t>(layer);
  f.bitrate_index = b[2] >> 4;
  if (f.bitrate_index == 15) return -1;
  f.bitrate = kBitrates[f.version][f.layer][f.bitrate_index];
  f.rate_index = (b[2] >> 2) & 3;
  if (f.rate_index == 3) return -1;
  f.rate = kRates[f.version][f.rate_index];
  f.padding = (b[2] >> 1) & 1;
  f.channels = (b[3] & 0xC0) == 0xC0 ? 1 : 2;
  SetMpegFrameLength(&f);
  *info = f;
  return 0;
}

int64_t MpegImageShortfall(const uint8_t* image, int64_t size) {
  if (size > 128 && std::memcmp(image + size - 128, "TAG", 3) == 0) return 0;
  int64_t pos = Id3TagLength(image, size);
  while (pos + 2 <= size && !IsMpegSync(image + pos)) ++pos;
  MpegFrameInfo f;
  while (pos + 4 <= size && ParseAnyMpegHeader(image + pos, &f) == 0 && f.frame_length >= 4) {
    if (pos + f.frame_length > size) return pos + f.frame_length - size;
    pos += f.frame_length;
  }
  return 0;
}

int OpenPcmDecoderMp3Acm(PcmDecoderRecord* r) {
  r->acm = PcmDecoderAcmState{};
  if (!AcmReady()) return -1;
  const int64_t file_size = StreamSize(r);
  if (file_size <= 0 || file_size > INT32_MAX) return -1;

  // A WAVE file is not a file of MPEG frames, whatever its data holds: one
  // the WAVE converters did not take is never played from frame headers
  // found in its samples.
  uint8_t riff[12];
  if (ReadExact(r, riff, 12) && std::memcmp(riff, "RIFF", 4) == 0 && std::memcmp(riff + 8, "WAVE", 4) == 0) return -1;
  r->stream.ops.seek(r->stream.handle, 0, 0);
  // A leading ID3v2 tag is passed over by its size.
  int64_t tag_length = 0;
  uint8_t id[10];
  if (ReadExact(r, id, 3) && std::memcmp(id, "ID3", 3) == 0) {
    if (!ReadExact(r, id + 3, 7)) return -1;
    tag_length = Id3TagLength(id, sizeof id);
  }
  // A trailing ID3v1 block ends the frames.
  int64_t limit = file_size;
  if (file_size > 128) {
    r->stream.ops.seek(r->stream.handle, file_size - 128, 0);
    if (ReadExact(r, id, 3) && std::memcmp(id, "TAG", 3) == 0) limit = file_size - 128;
  }
  if (tag_length >= limit) return -1;
  const int64_t frames_start = FindFirstFrame(r, tag_length, limit);
  if (frames_start < 0) return -1;

  // Frame scan: every frame header must be sound, and each frame is skipped
  // by its length, which is never less than its own header, so the scan only
  // moves forward.
  r->stream.ops.seek(r->stream.handle, frames_start, 0);
  int64_t first = -1, last_end = 0, total = 0;
  uint8_t b[4];
  for (;;) {
    if (r->stream.ops.read(&b[0], 1, 1, r->stream.handle) != 1) break;
    if (b[0] != 0xFF) continue;
    if (r->stream.ops.read(&b[1], 1, 1, r->stream.handle) != 1) break;
    if ((b[1] & 0xF0) != 0xF0) continue;
    if (!ReadExact(r, &b[2], 2)) break;
    MpegFrameInfo info;
    if (ParseMpegAudioHeader(b, &info) != 0 || info.frame_length < 4) return -1;
    const int64_t here = r->stream.ops.tell(r->stream.handle) - 4;
    if (first < 0) first = here;
    const int64_t frame_end = here + info.frame_length;
    if (frame_end > limit) {
      // A last frame cut where the frames end does not decode; a file that
      // ends inside it is shorter than its frames say.
      if (limit == file_size) r->missing_bytes = frame_end - limit;
      last_end = limit;
      break;
    }
    total += info.samples;
    last_end = frame_end;
    if (frame_end == limit) break;
    r->stream.ops.seek(r->stream.handle, info.frame_length - 4, 1);
  }
  // No whole frame: nothing for this converter to decode.
  if (first < 0 || total == 0) return -1;
  r->stream.ops.seek(r->stream.handle, first, 0);
  MpegFrameInfo info;
  if (!ReadExact(r, b, 4) || ParseMpegAudioHeader(b, &info) != 0) return -1;
  const int64_t block_align = 2 * info.channels;
  if (total * block_align > INT32_MAX) return -1;
  r->acm.total_samples = static_cast<int32_t>(total);

  uint32_t format_size = 30;
  g_acm.metrics(nullptr, plat::kACM_METRIC_MAX_SIZE_FORMAT, &format_size);
  if (format_size < sizeof(plat::MpegLayer3WaveFormat)) format_size = sizeof(plat::MpegLayer3WaveFormat);
  r->acm.source_format = static_cast<uint8_t*>(TrackedCalloc(format_size, "", 0));
  if (r->acm.source_format == nullptr) return -1;
  plat::MpegLayer3WaveFormat l3{};
  l3.wfx.format_tag = plat::kWaveFormatMpegLayer3;
  l3.wfx.channels = info.channels;
  l3.wfx.samples_per_sec = info.rate;
  l3.wfx.avg_bytes_per_sec = info.bitrate * 1000 / 8;
  l3.wfx.block_align = 1;
  l3.wfx.bits_per_sample = 0;
  l3.wfx.extra_size = 12;
  l3.id = plat::kMpegLayer3IdMpeg;
  l3.flags = info.padding;
  l3.block_size = static_cast<uint16_t>(info.frame_length);
  l3.frames_per_block = 1;
  l3.codec_delay = 700;
  std::memcpy(r->acm.source_format, &l3, sizeof(l3));

  r->stream.ops.seek(r->stream.handle, first, 0);
  r->data_pos = static_cast<int32_t>(first);
  r->data_size = static_cast<int32_t>(last_end - first);
  if (!SuggestReadAndOpen(r) ||
      !AllocateAheadBlock(r, static_cast<uint64_t>(r->format.avg_bytes_per_sec) * 4 / 3)) {
    ReleaseAcm(r);
    return -1;
  }
  r->kind = kPcmDecoderAcm;
  return 0;
}

int ReadPcmDecoderAcm(PcmDecoderRecord* r) {
  PcmDecoderAcmState& a = r->acm;
  // Look-ahead: carry the second decoder towards the loop point, a step per
  // read; its output only moves its state on.
  if (static_cast<int32_t>(a.ahead_pcm_pos) != r->ahead_target) {
    if (static_cast<int64_t>(a.ahead_pcm_pos) > r->ahead_target) {
      CloseStream(&a.ahead_stream);
      a.ahead_stream = OpenStream(r);
      a.ahead_pcm_pos = 0;
      a.ahead_coded_pos = 0;
    }
    // One step per read keeps pace with the reader. After a loop back the
    // look-ahead restarts from the top while the reader is already near the
    // end: it then takes as many steps as it needs to be parked again before
    // the reader gets there (at most 64 a read), so that the next loop back
    // does not decode the whole sound at once inside a refill.
    int steps = 1;
    const int64_t behind = static_cast<int64_t>(r->ahead_target) - kAheadSlack - a.ahead_pcm_pos;
    const int64_t left = static_cast<int64_t>(GetPcmDecoderAcmLength(r)) - r->position;
    if (behind > 0 && left > 0) steps = static_cast<int>(std::min<int64_t>(64, 1 + behind / left));
    for (int i = 0; i < steps; ++i) {
      if (!(static_cast<int64_t>(r->ahead_target) - kAheadSlack > static_cast<int64_t>(a.ahead_pcm_pos))) break;
      uint32_t length = static_cast<uint32_t>(r->buffer_size);
      if (static_cast<int64_t>(a.ahead_pcm_pos) + length > r->ahead_target)
        length = static_cast<uint32_t>(r->ahead_target - static_cast<int32_t>(a.ahead_pcm_pos));
      uint32_t produced = 0;
      if (!DecodeStep(r, a.ahead_stream, &a.ahead_coded_pos, a.ahead_block, length, &produced)) return -1;
      a.ahead_pcm_pos += produced;
      if (produced == 0) break;
    }
  }
  if (a.coded_pos >= a.coded_size) return -1;
  uint32_t produced = 0;
  if (!DecodeStep(r, a.main_stream, &a.coded_pos, r->buffer, static_cast<uint32_t>(r->buffer_size), &produced))
    return -1;
  r->buffer_valid = static_cast<int32_t>(produced);
  if (produced == 0) {
    r->buffer_valid = 0;
    a.coded_pos = a.coded_size;
    return -1;
  }
  return 0;
}

int SeekPcmDecoderAcm(PcmDecoderRecord* r, int32_t sample) {
  PcmDecoderAcmState& a = r->acm;
  // A sample before the start is the start (its negative offset would move
  // the staging buffer's window before the buffer).
  const int64_t target = static_cast<int64_t>(r->format.block_align) * (sample < 0 ? 0 : sample);
  if (r->position <= target && target <= static_cast<int64_t>(r->position) + r->buffer_valid) {
    const int32_t d = static_cast<int32_t>(target - r->position);
    r->buffer_offset += d;
    r->buffer_valid -= d;
    r->position = static_cast<int32_t>(target);
    return 0;
  }
  if (target < r->position) {
    if (target >= static_cast<int64_t>(a.ahead_pcm_pos)) {
      // The look-ahead decoder is nearer: it becomes the main one.
      CloseStream(&a.main_stream);
      a.main_stream = a.ahead_stream;
      a.coded_pos = a.ahead_coded_pos;
      r->position = static_cast<int32_t>(a.ahead_pcm_pos);
      r->buffer_valid = 0;
      a.ahead_stream = OpenStream(r);
      a.ahead_coded_pos = 0;
      a.ahead_pcm_pos = 0;
    } else {
      CloseStream(&a.main_stream);
      a.main_stream = OpenStream(r);
      r->stream.ops.seek(r->stream.handle, r->data_pos, 0);
      a.coded_pos = 0;
      r->buffer_valid = 0;
      r->buffer_offset = 0;
      r->position = 0;
    }
  }
  while (static_cast<int64_t>(r->position) + r->buffer_valid < target) {
    r->position += r->buffer_valid;
    r->buffer_valid = 0;
    r->buffer_offset = 0;
    if (ReadPcmDecoderAcm(r) == -1) {
      r->buffer_valid = 0;
      r->end_of_data = 1;
      return 0;
    }
  }
  const int32_t d = static_cast<int32_t>(target - r->position);
  r->buffer_valid -= d;
  r->buffer_offset += d;
  r->position = static_cast<int32_t>(target);
  return 0;
}

int ClosePcmDecoderAcm(PcmDecoderRecord* r) {
  ReleaseAcm(r);
  return 0;
}

int32_t GetPcmDecoderAcmLength(const PcmDecoderRecord* r) {
  if (r->acm.total_samples >= 0) return r->acm.total_samples * r->format.block_align;
  uint32_t out = 0;
  if (r->acm.main_stream == nullptr ||
      g_acm.stream_size(r->acm.main_stream, static_cast<uint32_t>(r->data_size), &out, plat::kACM_STREAMSIZEF_SOURCE) != 0)
    return 0;
  return out > INT32_MAX ? INT32_MAX : static_cast<int32_t>(out);
}
