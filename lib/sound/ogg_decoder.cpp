// lib/sound/ogg_decoder.cpp - the Ogg Vorbis converter: vorbisfile reads the
// record's stream through callbacks and decodes to 16-bit PCM. One decoder
// build serves both sound files and the sound of movies.
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "lib/core/log.h"
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

// The start decoded here is bounded; a first page that holds more is left
// to the library as it stands.
constexpr size_t kMaxHeadBytes = size_t{8} << 20;

const char* LogName(const PcmDecoderRecord* r) { return SoundLineForLoad(r->ogg.log_name, kNameOnly, false).name; }

int OpenVorbis(PcmDecoderRecord* r) {
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
  return 0;
}

void CloseVorbis(PcmDecoderRecord* r) {
  if (r->ogg.vorbis_open == 1) {
    ov_clear(Vorbis(r));
    r->ogg.vorbis_open = 0;
  }
  TrackedFree(r->ogg.vorbis);
  r->ogg.vorbis = nullptr;
}

// One line for a file's first gap, however often it is read or opened while
// it loads.
void LogGap(PcmDecoderRecord* r, int32_t sample) {
  if (r->ogg.gap_logged) return;
  r->ogg.gap_logged = 1;
  if (SoundLineForLoad(r->ogg.log_name, kOggGapLine, true).said) return;
  WriteLogLineFmt("Sound file %s has a damaged or missing Ogg page after sample %d; loading on past the gap",
                  LogName(r), sample);
}

// The library's next piece of PCM into `out`: its size, or 0 at the end of
// the data. A hole in the data (a page that fails its check, or one
// missing) is passed over, once said; any other error ends the data.
long LibraryRead(PcmDecoderRecord* r, uint8_t* out, int size) {
  for (int holes = 0; holes < kMaxHoles; ++holes) {
    int section = 0;
    long got = ov_read(Vorbis(r), reinterpret_cast<char*>(out), size, 0, r->ogg.word_size, r->ogg.word_size != 1,
                       &section);
    if (got > 0) return got;
    if (got != OV_HOLE) return 0;
    LogGap(r, r->format.block_align != 0 ? r->position / r->format.block_align : 0);
  }
  return 0;
}

// The samples as the library's read gives them: rounded to nearest, clipped;
// 16-bit signed or 8-bit unsigned.
void AppendPcm(std::vector<uint8_t>* out, float** pcm, int frames, int channels, int word_size) {
  const double scale = word_size == 1 ? 128.0 : 32768.0;
  const double top = scale - 1;
  for (int j = 0; j < frames; ++j) {
    for (int i = 0; i < channels; ++i) {
      const double x = static_cast<double>(static_cast<float>(pcm[i][j] * static_cast<float>(scale)));
      const long v = x >= top ? static_cast<long>(top) : x <= -scale ? static_cast<long>(-scale) : std::lrint(x);
      if (word_size == 1) {
        out->push_back(static_cast<uint8_t>(v + 128));
      } else {
        out->push_back(static_cast<uint8_t>(v & 0xFF));
        out->push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
      }
    }
  }
}

// The packets of the file's one logical stream from its first audio page
// on, read through the record's stream as the library reads it.
class PacketReader {
 public:
  PacketReader(PcmDecoderRecord* r, int64_t offset, long serial) : r_(r) {
    ogg_sync_init(&sync_);
    ogg_stream_init(&os_, static_cast<int>(serial));
    ok_ = r->stream.ops.seek(r->stream.handle, offset, 0) == 0;
  }
  ~PacketReader() {
    ogg_stream_clear(&os_);
    ogg_sync_clear(&sync_);
  }
  PacketReader(const PacketReader&) = delete;
  PacketReader& operator=(const PacketReader&) = delete;
  int Packets() const { return packets_; }
  // 1 with a packet (its granule position set when it is the last to end on
  // a page that has one), 0 at the end, -1 for damage.
  int Next(ogg_packet* packet) {
    while (ok_) {
      const int out = ogg_stream_packetout(&os_, packet);
      if (out > 0) {
        ++packets_;
        return 1;
      }
      // The stream state starts at the first audio page, which it takes for
      // a gap after the headers; any later gap is damage.
      if (out < 0) {
        if (packets_ > 0) return -1;
        continue;
      }
      ogg_page page;
      const int found = ogg_sync_pageout(&sync_, &page);
      if (found < 0) return -1;
      if (found > 0) {
        if (ogg_page_serialno(&page) == os_.serialno && ogg_stream_pagein(&os_, &page) != 0) return -1;
        continue;
      }
      char* space = ogg_sync_buffer(&sync_, 4096);
      const size_t got = space != nullptr ? r_->stream.ops.read(space, 1, 4096, r_->stream.handle) : 0;
      if (got == 0) return 0;
      ogg_sync_wrote(&sync_, static_cast<long>(got));
    }
    return -1;
  }

 private:
  PcmDecoderRecord* r_;
  ogg_sync_state sync_;
  ogg_stream_state os_;
  bool ok_;
  int packets_ = 0;
};

// The start trim of a first audio page whose granule position is smaller
// than the samples it completes (counted as the library counts them). The
// library applies it only to what it still holds when that page ends, none
// of what an earlier read took, so the first page is decoded here without
// it, and one packet more, so that the library's seek, exact only past the
// first page, takes over after the head. A first page that is also the last
// is cut at its end, as the library does. Damage before the head is whole
// leaves the file as the library reads it. The stream is left where it was.
void BuildHead(PcmDecoderRecord* r) {
  OggVorbis_File* vf = Vorbis(r);
  if (!vf->seekable || vf->links != 1 || vf->dataoffsets == nullptr || vf->serialnos == nullptr) return;
  const ogg_int64_t total = ov_pcm_total(vf, -1);
  vorbis_info* info = ov_info(vf, -1);
  if (total <= 0 || info == nullptr) return;
  const int64_t back = r->stream.ops.tell(r->stream.handle);
  int64_t page_samples = 0;
  int64_t trim = 0;
  {
    PacketReader reader(r, vf->dataoffsets[0], vf->serialnos[0]);
    ogg_packet packet;
    long last = -1;
    int next;
    while ((next = reader.Next(&packet)) == 1) {
      const long size = vorbis_packet_blocksize(info, &packet);
      if (size >= 0) {
        if (last != -1) page_samples += (last + size) >> 2;
        last = size;
      }
      if (packet.granulepos != -1) {
        if (!packet.e_o_s) trim = page_samples - packet.granulepos;
        break;
      }
    }
    // The library starts on the next whole page without a word when the
    // first audio page fails its check.
    if (next < 0 && reader.Packets() == 0) LogGap(r, 0);
  }
  std::vector<uint8_t> pcm;
  int64_t decoded = 0;
  bool whole = false;
  if (trim > 0) {
    PacketReader reader(r, vf->dataoffsets[0], vf->serialnos[0]);
    vorbis_dsp_state dsp;
    vorbis_block block;
    if (vorbis_synthesis_init(&dsp, info) == 0) {
      vorbis_block_init(&dsp, &block);
      ogg_packet packet;
      while (!whole && pcm.size() <= kMaxHeadBytes && reader.Next(&packet) == 1) {
        // Without its granule position the library trims nothing.
        packet.granulepos = -1;
        packet.e_o_s = 0;
        if (vorbis_synthesis(&block, &packet) == 0) vorbis_synthesis_blockin(&dsp, &block);
        float** samples = nullptr;
        int n;
        while ((n = vorbis_synthesis_pcmout(&dsp, &samples)) > 0) {
          AppendPcm(&pcm, samples, n, info->channels, r->ogg.word_size);
          vorbis_synthesis_read(&dsp, n);
          decoded += n;
        }
        whole = decoded > page_samples;
      }
      vorbis_block_clear(&block);
      vorbis_dsp_clear(&dsp);
    }
  }
  r->stream.ops.seek(r->stream.handle, back, 0);
  if (!whole || decoded <= trim) return;
  const int32_t ba = r->format.block_align;
  int64_t frames = decoded - trim;
  if (frames > total) frames = total;
  auto* head = static_cast<uint8_t*>(TrackedAlloc(static_cast<size_t>(frames * ba), "", 0));
  if (head == nullptr) return;
  std::memcpy(head, pcm.data() + trim * ba, static_cast<size_t>(frames * ba));
  TrackedFree(r->ogg.head);
  r->ogg.head = head;
  r->ogg.head_frames = static_cast<int32_t>(frames);
  r->ogg.head_pos = 0;
  r->ogg.head_ends_sound = frames == total ? 1 : 0;
  r->ogg.library_after_head = 0;
}

// Whether the last page of the sound's logical stream, the one marked as
// its end, is missing: damaged (it fails its check, and the library passes
// over it without a word) or cut off. Read from the tail of the file, in
// growing windows until a page of the stream is found (within the last
// 512 KiB). The stream is left where it was.
bool EndPageMissing(PcmDecoderRecord* r) {
  OggVorbis_File* vf = Vorbis(r);
  if (!vf->seekable || vf->serialnos == nullptr || vf->links < 1) return false;
  const long serial = vf->serialnos[vf->links - 1];
  const int64_t back = r->stream.ops.tell(r->stream.handle);
  if (r->stream.ops.seek(r->stream.handle, 0, 2) != 0) return false;
  const int64_t size = r->stream.ops.tell(r->stream.handle);
  int found = -1;  // -1: no page of the stream seen, else its end mark
  for (int64_t window = 8192; found < 0; window *= 8) {
    const int64_t start = size > window ? size - window : 0;
    if (r->stream.ops.seek(r->stream.handle, start, 0) != 0) break;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    for (int64_t left = size - start; left > 0;) {
      const long want = left > 65536 ? 65536 : static_cast<long>(left);
      char* space = ogg_sync_buffer(&sync, want);
      const size_t got = space != nullptr ? r->stream.ops.read(space, 1, static_cast<size_t>(want), r->stream.handle) : 0;
      if (got == 0) break;
      ogg_sync_wrote(&sync, static_cast<long>(got));
      left -= static_cast<int64_t>(got);
      // A window starts inside a page: the sync passes over bytes (-1, no
      // page given) before it finds the first whole one.
      ogg_page page;
      for (int got_page; (got_page = ogg_sync_pageout(&sync, &page)) != 0;)
        if (got_page > 0 && ogg_page_serialno(&page) == serial) found = ogg_page_eos(&page) ? 1 : 0;
    }
    ogg_sync_clear(&sync);
    if (start == 0 || window >= (int64_t{1} << 19)) break;
  }
  r->stream.ops.seek(r->stream.handle, back, 0);
  return found == 0;
}

}  // namespace

int OpenPcmDecoderOgg(PcmDecoderRecord* r) {
  r->ogg = {};
  if (OpenVorbis(r) != 0) return -1;
  r->ogg.word_size = OggPcmWordSize == 1 ? 1 : 2;
  vorbis_info* info = ov_info(Vorbis(r), -1);
  if (info == nullptr || info->channels <= 0 || info->channels > 255 || info->rate <= 0 || info->rate > 1000000) {
    ClosePcmDecoderOgg(r);
    return -1;
  }
  const char* name = SoundFileNameForLog();
  if (name != nullptr) {
    const size_t length = std::strlen(name);
    r->ogg.log_name = static_cast<char*>(TrackedAlloc(length + 1, "", 0));
    if (r->ogg.log_name != nullptr) std::memcpy(r->ogg.log_name, name, length + 1);
  }
  // Opened again while the file loads (a long sound played as a stream):
  // its gap was told of by the first opening.
  r->ogg.gap_logged = SoundLineForLoad(r->ogg.log_name, kOggGapLine, false).said ? 1 : 0;
  plat::WaveFormatEx& f = r->format;
  std::memset(&f, 0, sizeof(f));
  f.format_tag = plat::kWaveFormatPcm;
  f.channels = static_cast<uint16_t>(info->channels);
  f.samples_per_sec = static_cast<uint32_t>(info->rate);
  f.block_align = static_cast<uint16_t>(info->channels * r->ogg.word_size);
  f.avg_bytes_per_sec = f.block_align * f.samples_per_sec;
  f.bits_per_sample = static_cast<uint16_t>(r->ogg.word_size * 8);
  f.extra_size = 0;
  // The first piece of sound, which headers whose audio pages are cut off
  // or all damaged lack, is kept as the head the reads start with.
  r->position = 0;
  r->ogg.head = static_cast<uint8_t*>(TrackedAlloc(4096, "", 0));
  OggVorbis_File* vf = Vorbis(r);
  const bool has_audio = !ov_seekable(vf) || ov_pcm_total(vf, -1) > 0;
  const long first = r->ogg.head != nullptr && has_audio ? LibraryRead(r, r->ogg.head, 4096) : 0;
  if (first <= 0) {
    const bool empty = r->ogg.head != nullptr;
    if (empty) WriteLogLineFmt("Sound file %s has Vorbis headers but no audio page that decodes; refused", LogName(r));
    ClosePcmDecoderOgg(r);
    return empty ? kPcmDecoderRefusedForGood : -1;
  }
  r->ogg.head_frames = static_cast<int32_t>(first / f.block_align);
  r->ogg.library_after_head = 1;
  BuildHead(r);
  if (EndPageMissing(r) && !SoundLineForLoad(r->ogg.log_name, kOggEndPageLine, true).said)
    WriteLogLineFmt("Sound file %s lacks the last page of its Ogg stream (damaged or cut off); loading what decodes",
                    LogName(r));
  r->buffer_size = 4096;
  r->data_size = GetPcmDecoderOggLength(r);
  r->kind = kPcmDecoderOgg;
  return 0;
}

int ReadPcmDecoderOgg(PcmDecoderRecord* r) {
  if (!r->ogg.vorbis_open) return -1;
  PcmDecoderOggState& o = r->ogg;
  const int32_t ba = r->format.block_align;
  if (o.head != nullptr && o.head_pos < o.head_frames) {
    int32_t frames = r->buffer_size / ba;
    if (frames > o.head_frames - o.head_pos) frames = o.head_frames - o.head_pos;
    std::memcpy(r->buffer, o.head + static_cast<size_t>(o.head_pos) * ba, static_cast<size_t>(frames) * ba);
    o.head_pos += frames;
    r->buffer_valid = frames * ba;
    return 0;
  }
  if (o.head_ends_sound) return -1;
  if (!o.library_after_head) {
    o.library_after_head = 1;
    ov_pcm_seek(Vorbis(r), static_cast<ogg_int64_t>(o.head_frames));
  }
  const long got = LibraryRead(r, r->buffer, r->buffer_size);
  if (got <= 0) return -1;
  r->buffer_valid = static_cast<int32_t>(got);
  return 0;
}

int SeekPcmDecoderOgg(PcmDecoderRecord* r, int32_t sample) {
  if (r->ogg.vorbis_open) {
    PcmDecoderOggState& o = r->ogg;
    if (sample < o.head_frames) {
      o.head_pos = sample < 0 ? 0 : sample;
      o.library_after_head = 0;
    } else {
      o.head_pos = o.head_frames;
      o.library_after_head = 1;
      ov_pcm_seek(Vorbis(r), static_cast<ogg_int64_t>(sample));
    }
  }
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
  CloseVorbis(r);
  TrackedFree(r->ogg.head);
  r->ogg.head = nullptr;
  r->ogg.head_frames = 0;
  TrackedFree(r->ogg.log_name);
  r->ogg.log_name = nullptr;
  return 0;
}
