// lib/sound/pcm_decoder.h - sound converters: one record holds one open
// conversion of a sound file, read through a stream, into plain PCM handed out
// through a staging buffer. Opening tries the converters in a fixed order.
#pragma once

#include <cstdint>

#include "lib/core/stream.h"
#include "platform/dsound.h"

// The stream a converter reads; it stays the caller's (never closed here).
struct SoundStream {
  StreamTable ops;
  StreamHandle handle;
};

enum PcmDecoderKind : int32_t {
  kPcmDecoderWave = 0,
  kPcmDecoderAcm = 1,
  kPcmDecoderOgg = 2,
  kPcmDecoderMemory = 3,
};

// Converter bits of PcmDecoderDisableMask.
constexpr int32_t kPcmDisableWave = 1;
constexpr int32_t kPcmDisableAcmWave = 2;
constexpr int32_t kPcmDisableOgg = 4;
constexpr int32_t kPcmDisableMp3Acm = 8;
constexpr int32_t kPcmDisableMp3Graph = 16;

struct PcmDecoderAcmState {
  void* source_format;
  void* main_stream;
  void* ahead_stream;
  uint8_t* coded_data;
  uint32_t coded_size;
  uint32_t coded_pos;
  int32_t total_samples;
  uint32_t ahead_coded_pos;
  uint32_t ahead_pcm_pos;
  uint8_t* ahead_block;
};

struct PcmDecoderOggState {
  void* vorbis_file;
  int32_t total_samples;
};

struct PcmDecoderMemoryState {
  uint8_t* data;
  uint32_t capacity;
  uint32_t size;
  uint32_t pos;
};

struct PcmDecoderRecord {
  int32_t open;
  int32_t end_of_data;
  int32_t kind;
  SoundStream stream;
  int32_t format_chunk_pos;
  int32_t format_chunk_size;
  int32_t data_pos;
  int32_t data_size;
  plat::WaveFormatEx format;
  PcmDecoderAcmState acm;
  PcmDecoderOggState ogg;
  PcmDecoderMemoryState mem;
  uint8_t* buffer;
  int32_t buffer_size;
  int32_t buffer_valid;
  int32_t buffer_offset;
  int32_t position;
  int32_t ahead_target;
  int32_t movie_sound;
};

// Library-wide settings read at opening.
extern int32_t PcmDecoderDisableMask;
extern int32_t OggMovieSoundFlag;

int OpenPcmDecoder(const SoundStream* stream, PcmDecoderRecord* record);
int SeekPcmDecoder(PcmDecoderRecord* record, int32_t sample);
int RunPcmDecoder(PcmDecoderRecord* record, void* destination, int32_t bytes);
int ClosePcmDecoder(PcmDecoderRecord* record);
int GetPcmDecoderFormat(const PcmDecoderRecord* record, plat::WaveFormatEx* format);
int32_t GetPcmDecoderLength(const PcmDecoderRecord* record);
int ConvertPcmDecoderToMemory(PcmDecoderRecord* record, plat::WaveFormatEx* format, void** data,
                              int32_t* size);

// The plain-WAVE converter.
int OpenPcmDecoderWave(PcmDecoderRecord* record);
int ReadPcmDecoderWave(PcmDecoderRecord* record);
int SeekPcmDecoderWave(PcmDecoderRecord* record, int32_t sample);

// The chunk walk shared by the WAVE converters: on success the "fmt " body is
// returned in a new tracked block (*body, *body_size) and the record's
// format-chunk and data fields are set; -1 refuses (nothing left allocated).
int WalkWaveChunks(PcmDecoderRecord* record, uint8_t** body, int32_t* body_size);
