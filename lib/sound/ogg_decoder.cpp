// lib/sound/ogg_decoder.cpp - the Ogg Vorbis converter: vorbisfile reads the
// record's stream through callbacks and decodes to 16-bit PCM. One decoder
// build serves both sound files and the sound of movies.
#include <vorbis/vorbisfile.h>

#include <cstring>

#include "lib/core/memory.h"
#include "lib/sound/pcm_decoder.h"
#include "lib/sound/sound_internal.h"

namespace {

size_t OggRead(void* buffer, size_t size, size_t count, void* source) {
  auto* stream = static_cast<SoundStream*>(source);
  if (stream == nullptr) return 0;
  return stream->ops.read(buffer, size, count, stream->handle);
}

int OggSeek(void* source, ogg_int64_t offset, int origin) {
  auto* stream = static_cast<SoundStream*>(source);
  if (stream == nullptr) return -1;
  return stream->ops.seek(stream->handle, static_cast<int32_t>(offset), origin);
}

// The stream belongs to the caller of the conversion.
int OggClose(void*) { return 0; }

long OggTell(void* source) {
  auto* stream = static_cast<SoundStream*>(source);
  if (stream == nullptr) return -1;
  return static_cast<long>(stream->ops.tell(stream->handle));
}

OggVorbis_File* Vorbis(const PcmDecoderRecord* r) { return static_cast<OggVorbis_File*>(r->ogg.vorbis); }

// A run of holes in the data longer than this ends it.
constexpr int kMaxHoles = 64;

}  // namespace

int OpenPcmDecoderOgg(PcmDecoderRecord* r) {
  r->ogg.vorbis_open = 0;
  r->ogg.vorbis = TrackedCalloc(sizeof(OggVorbis_File), "", 0);
  if (r->ogg.vorbis == nullptr) return -1;
  const ov_callbacks callbacks = {&OggRead, &OggSeek, &OggClose, &OggTell};
  if (ov_open_callbacks(&r->stream, Vorbis(r), nullptr, 0, callbacks) != 0) {
    TrackedFree(r->ogg.vorbis);
    r->ogg.vorbis = nullptr;
    return -1;
  }
  r->ogg.vorbis_open = 1;
  r->ogg.word_size = OggPcmWordSize == 1 ? 1 : 2;
  vorbis_info* info = ov_info(Vorbis(r), -1);
  if (info == nullptr || info->channels <= 0 || info->channels > 255 || info->rate <= 0 || info->rate > 1000000) {
    ClosePcmDecoderOgg(r);
    return -1;
  }
  plat::WaveFormatEx& f = r->format;
  std::memset(&f, 0, sizeof(f));
  f.format_tag = plat::kWaveFormatPcm;
  f.channels = static_cast<uint16_t>(info->channels);
  f.samples_per_sec = static_cast<uint32_t>(info->rate);
  f.block_align = static_cast<uint16_t>(info->channels * r->ogg.word_size);
  f.avg_bytes_per_sec = f.block_align * f.samples_per_sec;
  f.bits_per_sample = static_cast<uint16_t>(r->ogg.word_size * 8);
  f.extra_size = 0;
  r->buffer_size = 4096;
  r->data_size = GetPcmDecoderOggLength(r);
  r->kind = kPcmDecoderOgg;
  return 0;
}

int ReadPcmDecoderOgg(PcmDecoderRecord* r) {
  if (!r->ogg.vorbis_open) return -1;
  for (int holes = 0; holes < kMaxHoles; ++holes) {
    int section = 0;
    long got = ov_read(Vorbis(r), reinterpret_cast<char*>(r->buffer), r->buffer_size, 0, r->ogg.word_size,
                       r->ogg.word_size != 1, &section);
    if (got > 0) {
      r->buffer_valid = static_cast<int32_t>(got);
      return 0;
    }
    // A hole in the data is passed over; any other error ends the data.
    if (got != OV_HOLE) return -1;
  }
  return -1;
}

int SeekPcmDecoderOgg(PcmDecoderRecord* r, int32_t sample) {
  if (r->ogg.vorbis_open) ov_pcm_seek(Vorbis(r), static_cast<ogg_int64_t>(sample));
  r->buffer_valid = 0;
  r->buffer_offset = 0;
  r->position = r->format.block_align * sample;
  return 0;
}

int32_t GetPcmDecoderOggLength(const PcmDecoderRecord* r) {
  if (!r->ogg.vorbis_open) return 0;
  ogg_int64_t total = ov_pcm_total(Vorbis(r), -1);
  if (total < 0) return 0;
  int64_t bytes = static_cast<int64_t>(static_cast<uint32_t>(total)) * r->format.channels * r->ogg.word_size;
  return bytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(bytes);
}

int ClosePcmDecoderOgg(PcmDecoderRecord* r) {
  if (r->ogg.vorbis_open == 1) {
    ov_clear(Vorbis(r));
    r->ogg.vorbis_open = 0;
  }
  TrackedFree(r->ogg.vorbis);
  r->ogg.vorbis = nullptr;
  return 0;
}
