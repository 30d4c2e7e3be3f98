// lib/sound/pcm_decoder.cpp - opening a conversion by trying the converters in
// order, and the reads, seeks and whole-sound conversion common to all kinds.
#include "lib/sound/pcm_decoder.h"

#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"

int32_t PcmDecoderDisableMask = 0;
int32_t OggMovieSoundFlag = 0;

namespace {

struct KindOps {
  int (*read)(PcmDecoderRecord* record);
  int (*seek)(PcmDecoderRecord* record, int32_t sample);
  int (*close)(PcmDecoderRecord* record);
  int32_t (*length)(const PcmDecoderRecord* record);
};

int ReadPcmDecoderMemory(PcmDecoderRecord* r) {
  if (r->mem.pos >= r->mem.size) return -1;
  uint32_t n = r->mem.size - r->mem.pos;
  if (n > static_cast<uint32_t>(r->buffer_size)) n = static_cast<uint32_t>(r->buffer_size);
  std::memcpy(r->buffer, r->mem.data + r->mem.pos, n);
  r->buffer_valid = static_cast<int32_t>(n);
  r->mem.pos += n;
  return 0;
}

int SeekPcmDecoderMemory(PcmDecoderRecord* r, int32_t sample) {
  int64_t target = static_cast<int64_t>(sample) * r->format.block_align;
  if (target < 0) target = 0;
  if (target > r->mem.size) target = r->mem.size;
  r->position = static_cast<int32_t>(target);
  r->mem.pos = static_cast<uint32_t>(target);
  r->buffer_valid = 0;
  r->buffer_offset = 0;
  return 0;
}

int ClosePcmDecoderMemory(PcmDecoderRecord* r) {
  TrackedFree(r->mem.data);
  r->mem = {};
  return 0;
}

int32_t WaveLength(const PcmDecoderRecord* r) { return r->data_size; }
int32_t MemoryLength(const PcmDecoderRecord* r) { return static_cast<int32_t>(r->mem.size); }
int CloseNothing(PcmDecoderRecord*) { return 0; }

// By kind: WAVE, ACM, OGG, MEMORY.
const KindOps kKindOps[4] = {
    {&ReadPcmDecoderWave, &SeekPcmDecoderWave, &CloseNothing, &WaveLength},
    {&ReadPcmDecoderAcm, &SeekPcmDecoderAcm, &ClosePcmDecoderAcm, &GetPcmDecoderAcmLength},
    {&ReadPcmDecoderOgg, &SeekPcmDecoderOgg, &ClosePcmDecoderOgg, &GetPcmDecoderOggLength},
    {&ReadPcmDecoderMemory, &SeekPcmDecoderMemory, &ClosePcmDecoderMemory, &MemoryLength},
};

struct ConverterEntry {
  int32_t disable_bit;
  int (*open)(PcmDecoderRecord* record);
  bool rewind_after_refusal;
};

// In trial order: WAVE, ACM WAVE, OGG, MP3 through the ACM, MP3 through the
// filter graph.
const ConverterEntry kConverters[5] = {
    {kPcmDisableWave, &OpenPcmDecoderWave, true},
    {kPcmDisableAcmWave, &OpenPcmDecoderAcm, true},
    {kPcmDisableOgg, &OpenPcmDecoderOgg, true},
    {kPcmDisableMp3Acm, &OpenPcmDecoderMp3Acm, false},
    {kPcmDisableMp3Graph, &OpenPcmDecoderMp3, false},
};

bool KindUsable(int32_t kind) {
  return kind >= 0 && kind < 4 && kKindOps[kind].read != nullptr;
}

void StreamSeek(PcmDecoderRecord* r, int64_t offset, int origin) {
  r->stream.ops.seek(r->stream.handle, offset, origin);
}

// A file cut inside a frame holds a part of its last frame: only whole frames
// are handed out, or a stream that loops would write the next pass a byte or
// two off and play noise or swapped channels from then on.
int32_t WholeBlocks(int64_t bytes, int32_t block_align) {
  if (bytes <= 0) return 0;
  return static_cast<int32_t>(block_align > 1 ? bytes - bytes % block_align : bytes);
}

int32_t KindLength(const PcmDecoderRecord* r) {
  return WholeBlocks(kKindOps[r->kind].length(r), r->format.block_align);
}

const char* g_file_name_for_log = nullptr;
uint32_t g_file_lines_said = 0;  // SoundLoadLine bits
// The channel line was written (or found written) in the conversion under
// way: a sound from memory has no name to keep it to once a load by.
bool g_unmixed_said_in_open = false;

// A file shorter than its sizes say: one line naming it and the shortfall
// (once per named file, however often it is opened while it loads). With
// nothing of it left to decode the conversion is refused.
int CheckShortFile(PcmDecoderRecord* r) {
  if (r->missing_bytes <= 0) return 0;
  const SoundLoadLineState line = SoundLineForLoad(g_file_name_for_log, kShortFileLine, true);
  const char* name = line.name;
  const bool empty = KindLength(r) <= 0;
  if (line.said) return empty ? -1 : 0;
  if (empty) {
    WriteLogLineFmt("Sound file %s ends %lld bytes short of its stated size and holds no sound", name,
                    static_cast<long long>(r->missing_bytes));
    return -1;
  }
  WriteLogLineFmt("Sound file %s ends %lld bytes short of its stated size; loading what it holds", name,
                  static_cast<long long>(r->missing_bytes));
  return 0;
}

}  // namespace

const char* SoundFileNameForLog() { return g_file_name_for_log; }

void SetSoundFileNameForLog(const char* file_name) {
  g_file_name_for_log = file_name;
  g_file_lines_said = 0;
}

SoundLoadLineState SoundLineForLoad(const char* name, SoundLoadLine kind, bool take) {
  // A line about a file opened again after its load (a stream played on)
  // is left to the caller's own guard.
  const bool loading = name != nullptr && g_file_name_for_log != nullptr && std::strcmp(name, g_file_name_for_log) == 0;
  const bool said = loading && (g_file_lines_said & kind) != 0;
  if (take && loading) g_file_lines_said |= kind;
  return {name != nullptr ? name : "(sound in memory)", said};
}

void NoteUnmixedChannels(int channels, const char* outcome) {
  if (g_unmixed_said_in_open) return;
  g_unmixed_said_in_open = true;
  const SoundLoadLineState line = SoundLineForLoad(g_file_name_for_log, kUnmixedChannelsLine, true);
  if (!line.said)
    WriteLogLineFmt("Sound file %s holds sound of %d channels, which cannot be mixed to stereo; %s", line.name,
                    channels, outcome);
}

int OpenPcmDecoder(const SoundStream* stream, PcmDecoderRecord* record) {
  if (stream == nullptr || record == nullptr) return -1;
  record->open = 0;
  record->movie_sound = OggMovieSoundFlag;
  record->stream = *stream;
  record->ahead_target = 0;
  StreamSeek(record, 0, 0);
  bool accepted = false;
  int unplayable_channels = 0;
  g_unmixed_said_in_open = false;
  for (const ConverterEntry& converter : kConverters) {
    if (converter.open == nullptr || (PcmDecoderDisableMask & converter.disable_bit)) continue;
    record->missing_bytes = 0;
    const int result = converter.open(record);
    if (result == 0 && (record->format.channels == 1 || record->format.channels == 2)) {
      accepted = true;
      break;
    }
    if (result == 0) {
      // More channels than the sound buffers play (a 5.1 Vorbis file, say):
      // the file goes on to the converters that mix it down.
      unplayable_channels = record->format.channels;
      if (KindUsable(record->kind)) kKindOps[record->kind].close(record);
      StreamSeek(record, 0, 0);
      continue;
    }
    // A converter that knows the file for its own and finds it unplayable
    // has said why; no later converter is to make something else of it.
    if (result == kPcmDecoderRefusedForGood) break;
    if (converter.rewind_after_refusal) StreamSeek(record, 0, 0);
  }
  if (!accepted && unplayable_channels > 0) NoteUnmixedChannels(unplayable_channels, "not loaded");
  if (!accepted || !KindUsable(record->kind) || record->buffer_size <= 0 || CheckShortFile(record) != 0) {
    if (accepted && KindUsable(record->kind)) kKindOps[record->kind].close(record);
    return -1;
  }
  record->end_of_data = 0;
  record->buffer = static_cast<uint8_t*>(TrackedAlloc(static_cast<size_t>(record->buffer_size), "", 0));
  if (record->buffer == nullptr) {
    kKindOps[record->kind].close(record);
    return -1;
  }
  record->buffer_valid = 0;
  record->buffer_offset = 0;
  record->position = 0;
  record->open = 1;
  return 0;
}

int RunPcmDecoder(PcmDecoderRecord* record, void* destination, int32_t bytes) {
  if (record == nullptr || record->open != 1) return -1;
  if (record->end_of_data) return 0;
  uint8_t* out = static_cast<uint8_t*>(destination);
  int32_t copied = 0;
  // At the end, a part of a frame is taken back from what this call gave.
  auto end = [&]() {
    record->end_of_data = 1;
    const int32_t ba = record->format.block_align;
    const int32_t part = ba > 1 && record->position > 0 ? record->position % ba : 0;
    if (part > copied) return copied;
    record->position -= part;
    return copied - part;
  };
  while (copied < bytes) {
    if (record->buffer_valid == 0) {
      record->buffer_offset = 0;
      if (kKindOps[record->kind].read(record) == -1) return end();
      // A converter that delivers nothing has reached the end of what it has.
      if (record->buffer_valid <= 0) {
        record->buffer_valid = 0;
        return end();
      }
    }
    int32_t n = bytes - copied;
    if (n > record->buffer_valid) n = record->buffer_valid;
    // The position counts bytes in an int32_t: a sound whose converter
    // knows no length ends at the last whole frame it counts.
    const int32_t room = WholeBlocks(int64_t{INT32_MAX} - record->position, record->format.block_align);
    if (n > room) n = room;
    if (n <= 0) return end();
    std::memcpy(out + copied, record->buffer + record->buffer_offset, static_cast<size_t>(n));
    record->buffer_valid -= n;
    record->buffer_offset += n;
    record->position += n;
    copied += n;
  }
  return copied;
}

int SeekPcmDecoder(PcmDecoderRecord* record, int32_t sample) {
  if (record == nullptr || record->open != 1) return -1;
  int64_t target = static_cast<int64_t>(sample) * record->format.block_align;
  int64_t distance = target - record->position;
  if (distance < 0) distance = -distance;
  // A seek within a few frames of the position is left out, but not one
  // back from the end, which a read has met or stands at: from there a read
  // gives nothing.
  if (distance < 16) {
    const int32_t length = KindLength(record);
    const bool at_end = record->end_of_data || (length > 0 && record->position >= length);
    if (!(at_end && target < record->position)) return 0;
  }
  kKindOps[record->kind].seek(record, sample);
  record->end_of_data = 0;
  return 0;
}

int ClosePcmDecoder(PcmDecoderRecord* record) {
  if (record == nullptr || record->open != 1) return -1;
  TrackedFree(record->buffer);
  record->buffer = nullptr;
  kKindOps[record->kind].close(record);
  record->open = 0;
  return 0;
}

int GetPcmDecoderFormat(const PcmDecoderRecord* record, plat::WaveFormatEx* format) {
  std::memcpy(format, &record->format, sizeof(*format));
  return 0;
}

int32_t GetPcmDecoderLength(const PcmDecoderRecord* record) {
  if (record == nullptr || !KindUsable(record->kind)) return 0;
  return KindLength(record);
}

int ConvertPcmDecoderToMemory(PcmDecoderRecord* record, plat::WaveFormatEx* format, void** data,
                              int32_t* size) {
  int32_t length = GetPcmDecoderLength(record);
  if (length < 0) length = 0;
  // One extra byte keeps a zero-length sound from asking for an empty block.
  auto* block = static_cast<uint8_t*>(TrackedAlloc(static_cast<size_t>(length) + 1, "", 0));
  if (block == nullptr) return -1;
  SeekPcmDecoder(record, 0);
  int32_t got;
  if (record->kind == kPcmDecoderWave) {
    // One read straight from the data chunk; a stream that gives less than
    // the chunk's size reports how much it gave.
    record->stream.ops.seek(record->stream.handle, record->data_pos, 0);
    got = length > 0
              ? static_cast<int32_t>(record->stream.ops.read(block, 1, static_cast<size_t>(length), record->stream.handle))
              : 0;
    got = WholeBlocks(got, record->format.block_align);
    record->stream.ops.seek(record->stream.handle, record->data_pos, 0);
    record->position = 0;
    record->buffer_valid = 0;
    record->buffer_offset = 0;
  } else {
    got = RunPcmDecoder(record, block, length);
    if (got < 0) got = 0;
  }
  std::memcpy(format, &record->format, sizeof(*format));
  *data = block;
  *size = got;
  return 0;
}
