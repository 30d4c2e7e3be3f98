// lib/sound/wave_decoder.cpp - the RIFF/WAVE chunk walk and the converter for
// plain PCM WAVE files, the extensible header's PCM included. Every size in
// the file is checked against the bytes the stream really holds, so a damaged
// header can neither read past the file nor make the reader spin.
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/sound/pcm_decoder.h"

namespace {

struct ChunkHeader {
  char id[4];
  uint32_t size;
};

bool ReadBytes(PcmDecoderRecord* r, void* out, size_t bytes) {
  return r->stream.ops.read(out, 1, bytes, r->stream.handle) == bytes;
}

bool ReadChunkHeader(PcmDecoderRecord* r, ChunkHeader* header) {
  uint8_t raw[8];
  if (!ReadBytes(r, raw, 8)) return false;
  std::memcpy(header->id, raw, 4);
  header->size = static_cast<uint32_t>(raw[4]) | static_cast<uint32_t>(raw[5]) << 8 |
                 static_cast<uint32_t>(raw[6]) << 16 | static_cast<uint32_t>(raw[7]) << 24;
  return true;
}

bool IdIs(const ChunkHeader& header, const char* id) { return std::memcmp(header.id, id, 4) == 0; }

int64_t Tell(PcmDecoderRecord* r) { return r->stream.ops.tell(r->stream.handle); }

// Bytes left in the stream after the current position.
int64_t Remaining(PcmDecoderRecord* r, int64_t file_size) {
  int64_t left = file_size - Tell(r);
  return left < 0 ? 0 : left;
}

bool IsChunkId(const uint8_t* id) {
  for (int i = 0; i < 4; ++i)
    if (id[i] < 0x20 || id[i] > 0x7E) return false;
  return true;
}

// An odd "bext" is skipped by its exact size, but many writers pad it to
// even as every other chunk: where the next four bytes are no chunk id and
// the four after the first of them are, that first byte is the pad. The
// stream is left where it was.
bool PadByteFollows(PcmDecoderRecord* r) {
  const int64_t at = Tell(r);
  uint8_t next[5];
  const bool padded = ReadBytes(r, next, 5) && !IsChunkId(next) && IsChunkId(next + 1);
  r->stream.ops.seek(r->stream.handle, at, 0);
  return padded;
}

// The sub-format of plain PCM in an extensible format body.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

bool ByteWidth(uint16_t bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32; }

// The samples a format body gives: PCM, plain or in the extensible form.
// `bits` is 0 for a body that is no PCM.
struct PcmLayout {
  uint16_t channels;
  uint16_t bits;         // the width the samples are read with
  uint16_t block_align;  // as the file gives it
  // One or two channels of 8 or 16 bits: what the sound buffers take and
  // this converter plays as it is. Other PCM goes on to the converters that
  // turn it into that.
  bool Plays() const { return (channels == 1 || channels == 2) && (bits == 8 || bits == 16); }
};

PcmLayout PcmBodyLayout(const uint8_t* body, int32_t body_size) {
  const uint16_t tag = static_cast<uint16_t>(body[0] | body[1] << 8);
  PcmLayout l{static_cast<uint16_t>(body[2] | body[3] << 8), static_cast<uint16_t>(body[14] | body[15] << 8),
              static_cast<uint16_t>(body[12] | body[13] << 8)};
  if (tag == kWaveFormatExtensible) {
    // The 22 extra bytes: valid bits, channel mask, sub-format.
    if (body_size < 40 || static_cast<uint16_t>(body[16] | body[17] << 8) < 22 ||
        std::memcmp(body + 24, kPcmSubFormat, 16) != 0)
      l.bits = 0;
  } else if (tag != plat::kWaveFormatPcm) {
    l.bits = 0;
  } else if (body_size == 16 && l.channels != 0 && !ByteWidth(l.bits)) {
    // A short body whose bits field names no sample width: the block size
    // gives it.
    l.bits = static_cast<uint16_t>((l.block_align / l.channels) * 8);
  }
  return l;
}

// A block size that is not the channels' samples: sox and FFmpeg frame the
// data by channels and bits whatever the block size says, but the media
// graph's reader frames it by the block size and loses or shifts samples.
// What this converter plays is read as sox reads it; other layouts are
// refused, as the converters after this one would read them wrong. One line
// names the file and the field. 0 to go on, or kPcmDecoderRefusedForGood.
int CheckBlockAlign(const PcmLayout& l) {
  const uint32_t frame = static_cast<uint32_t>(l.channels) * l.bits / 8;
  if (l.channels == 0 || !ByteWidth(l.bits) || l.block_align == frame) return 0;
  const SoundLoadLineState line = SoundLineForLoad(SoundFileNameForLog(), kWaveBlockAlignLine, true);
  if (!line.said) {
    WriteLogLineFmt("Sound file %s gives block_align %u in its format, not %u (channels %u x bits %u / 8); %s", line.name,
                    l.block_align, frame, l.channels, l.bits, l.Plays() ? "read by channels and bits" : "refused");
  }
  return l.Plays() ? 0 : kPcmDecoderRefusedForGood;
}

}  // namespace

int WalkWaveChunks(PcmDecoderRecord* r, uint8_t** body, int32_t* body_size) {
  *body = nullptr;
  *body_size = 0;
  int64_t start = Tell(r);
  if (r->stream.ops.seek(r->stream.handle, 0, 2) != 0) return -1;
  int64_t file_size = Tell(r);
  if (r->stream.ops.seek(r->stream.handle, start, 0) != 0) return -1;
  if (file_size <= 0 || file_size > INT32_MAX) return -1;

  ChunkHeader header;
  char wave[4];
  if (!ReadChunkHeader(r, &header) || !IdIs(header, "RIFF")) return -1;
  if (!ReadBytes(r, wave, 4) || std::memcmp(wave, "WAVE", 4) != 0) return -1;
  if (!ReadChunkHeader(r, &header)) return -1;
  // Editors and tools put text lists, cue points, padding and sample counts
  // before the format as well: every chunk there is passed over, "bext" by
  // its exact size, the others by their size padded to even.
  while (!IdIs(header, "fmt ")) {
    const bool bext = IdIs(header, "bext");
    const uint64_t skip = static_cast<uint64_t>(header.size) + (bext ? 0 : (header.size & 1));
    if (skip > static_cast<uint64_t>(Remaining(r, file_size))) return -1;
    r->stream.ops.seek(r->stream.handle, static_cast<int64_t>(skip), 1);
    if (bext && (header.size & 1) && PadByteFollows(r)) r->stream.ops.seek(r->stream.handle, 1, 1);
    if (!ReadChunkHeader(r, &header)) return -1;
  }
  // The body must hold the sixteen bytes of the basic format and lie inside
  // the file.
  if (header.size < 16 || header.size > Remaining(r, file_size)) return -1;
  auto* block = static_cast<uint8_t*>(TrackedAlloc(header.size, "", 0));
  if (block == nullptr) return -1;
  r->format_chunk_pos = static_cast<int32_t>(Tell(r));
  r->format_chunk_size = static_cast<int32_t>(header.size);
  if (!ReadBytes(r, block, header.size)) {
    TrackedFree(block);
    return -1;
  }
  bool found = false;
  while (!r->stream.ops.eof(r->stream.handle)) {
    if (!ReadChunkHeader(r, &header)) break;
    if (IdIs(header, "data")) {
      found = true;
      break;
    }
    uint64_t skip = static_cast<uint64_t>(header.size) + (header.size & 1);
    if (skip > static_cast<uint64_t>(Remaining(r, file_size))) break;
    r->stream.ops.seek(r->stream.handle, static_cast<int64_t>(skip), 1);
  }
  if (!found) {
    TrackedFree(block);
    return -1;
  }
  r->data_pos = static_cast<int32_t>(Tell(r));
  // A data chunk that claims more than the file holds is cut to what is there.
  int64_t left = Remaining(r, file_size);
  r->data_size = static_cast<int32_t>(header.size > left ? left : header.size);
  if (header.size > left) r->missing_bytes = header.size - left;
  *body = block;
  *body_size = static_cast<int32_t>(r->format_chunk_size);
  return 0;
}

int OpenPcmDecoderWave(PcmDecoderRecord* r) {
  uint8_t* body = nullptr;
  int32_t body_size = 0;
  if (WalkWaveChunks(r, &body, &body_size) != 0) return -1;
  const PcmLayout layout = PcmBodyLayout(body, body_size);
  const int checked = CheckBlockAlign(layout);
  if (checked != 0 || !layout.Plays()) {
    TrackedFree(body);
    return checked != 0 ? checked : -1;
  }
  std::memset(&r->format, 0, sizeof(r->format));
  std::memcpy(&r->format, body, body_size < 18 ? static_cast<size_t>(body_size) : 18);
  TrackedFree(body);
  plat::WaveFormatEx& f = r->format;
  if (f.samples_per_sec == 0) return -1;
  // What is handed out is plain PCM, whichever form the file's header has.
  if (f.format_tag == kWaveFormatExtensible) {
    f.format_tag = plat::kWaveFormatPcm;
    f.extra_size = 0;
  }
  if (body_size == 16) f.extra_size = 0;
  f.bits_per_sample = layout.bits;
  if (f.block_align != layout.channels * layout.bits / 8) {
    // The rate in bytes then follows from the block size below.
    f.block_align = static_cast<uint16_t>(layout.channels * layout.bits / 8);
    f.avg_bytes_per_sec = 0;
  }
  // One second of data per staging read. A header whose bytes-per-second is 0
  // (or beyond any real rate) would stall or exhaust the reader: take the
  // rate the block size and sample rate give.
  constexpr uint64_t kMaxPerSecond = 64u << 20;
  uint64_t per_second = f.avg_bytes_per_sec;
  if (per_second == 0 || per_second > kMaxPerSecond)
    per_second = static_cast<uint64_t>(f.block_align) * f.samples_per_sec;
  if (per_second == 0 || per_second > kMaxPerSecond) return -1;
  f.avg_bytes_per_sec = static_cast<uint32_t>(per_second);
  r->buffer_size = static_cast<int32_t>(per_second);
  r->kind = kPcmDecoderWave;
  return 0;
}

int ReadPcmDecoderWave(PcmDecoderRecord* r) {
  int64_t consumed = Tell(r) - r->data_pos;
  if (consumed < 0 || consumed >= r->data_size) return -1;
  int64_t n = r->data_size - consumed;
  if (n > r->buffer_size) n = r->buffer_size;
  size_t got = r->stream.ops.read(r->buffer, 1, static_cast<size_t>(n), r->stream.handle);
  // A stream that gives nothing more has ended, whatever the header said.
  if (got == 0) return -1;
  r->buffer_valid = static_cast<int32_t>(got);
  return 0;
}

int SeekPcmDecoderWave(PcmDecoderRecord* r, int32_t sample) {
  int64_t offset = static_cast<int64_t>(r->format.block_align) * sample;
  if (offset < 0) offset = 0;
  if (offset > r->data_size) offset = r->data_size;
  r->stream.ops.seek(r->stream.handle, r->data_pos + offset, 0);
  r->position = static_cast<int32_t>(offset);
  r->buffer_valid = 0;
  r->buffer_offset = 0;
  return 0;
}
