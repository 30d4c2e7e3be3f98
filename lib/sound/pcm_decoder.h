// lib/sound/pcm_decoder.h - sound converters: one record holds one open
// conversion of a sound file, read through a stream, into plain PCM handed out
// through a staging buffer. Opening tries the converters in a fixed order.
#pragma once

#include <cstdint>

#include "lib/core/stream.h"
#include "platform/audio/acm.h"
#include "platform/audio/dsound.h"
#include "platform/media/media.h"

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

// What a converter's open returns, besides 0 and -1, for a file of its own
// kind that holds nothing to play: the other converters are not tried.
constexpr int kPcmDecoderRefusedForGood = -2;

struct PcmDecoderAcmState {
  uint8_t* source_format;
  plat::AcmStream* main_stream;
  plat::AcmStream* ahead_stream;
  uint8_t* coded_data;
  uint32_t coded_size;
  uint32_t coded_pos;
  int32_t total_samples;
  uint32_t ahead_coded_pos;
  uint32_t ahead_pcm_pos;
  uint8_t* ahead_block;
};

// How many gaps of one file get a log line each.
constexpr int kOggGapLinesMax = 16;

struct PcmDecoderOggState {
  int32_t vorbis_open;
  void* vorbis;  // the decoder library's file state (tracked), for chained and non-seekable files
  // For a stream that cannot seek: the gate on what the library reads
  // (tracked; null otherwise), which keeps headers it cannot decode from it.
  void* gate;
  // A seekable file of one Vorbis stream is decoded from its packets here
  // instead (tracked; null otherwise): the library's read trims the start
  // only where it still holds it, and its seek and length go by granule
  // positions, which some writers set off from the packets.
  void* pages;
  // A seekable file read by the library: what its read of each link
  // delivers, and where a seek may start it (tracked; null otherwise).
  void* links;
  // The mix of a link whose channels are not the sound's (tracked; null
  // until one is met).
  void* mix;
  int32_t word_size;
  // Through the library: the sound's first `head_frames` frames, the first
  // piece it gave when the file was opened, read before the rest.
  uint8_t* head;  // tracked block, or null
  int32_t head_frames;
  int32_t head_pos;            // the next frame handed out from `head`
  int32_t library_after_head;  // 0: the library is to be moved to `head_frames` first
  char* log_name;              // the file's name for the gap line (tracked), or null
  int32_t gaps_quiet;          // 1: an earlier opening during this load named the gaps
  int32_t gap_count;
  int32_t gaps[kOggGapLinesMax];  // the samples after which the gaps named so far fall
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
  // Bytes the file's own sizes promise beyond its end (a data chunk or a
  // last frame cut short); set by the converter that takes the file.
  int64_t missing_bytes;
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
// Names the sound file that conversions opened from now on come from, for
// the log line about a file shorter than it says (null: a sound in memory).
void SetSoundFileNameForLog(const char* file_name);
// That name, or null.
const char* SoundFileNameForLog();
// Lines about a file that are written once per named file, however often it
// is opened while it loads (one bit each).
enum SoundLoadLine : uint32_t {
  kNameOnly = 0,
  kShortFileLine = 1u << 0,
  kOggGapLine = 1u << 1,
  kOggEndPageLine = 1u << 2,
  kWaveBlockAlignLine = 1u << 3,
  kUnmixedChannelsLine = 1u << 4,
  kOggGranuleLine = 1u << 5,
  kOggEarlyEndLine = 1u << 6,
  kOggChainFormatLine = 1u << 7,
  kLongSoundLine = 1u << 8,
};
struct SoundLoadLineState {
  const char* name;  // the name the line gives the sound
  bool said;         // a line of the kind was written during this load already
};
// For a line of `kind` about the sound named `name` (null: a sound in
// memory). With `take` the line counts as written from now on while a named
// file loads.
SoundLoadLineState SoundLineForLoad(const char* name, SoundLoadLine kind, bool take);
int ConvertPcmDecoderToMemory(PcmDecoderRecord* record, plat::WaveFormatEx* format, void** data,
                              int32_t* size);
// The line, once a load, that the file holds sound of `channels` channels,
// which cannot be mixed to stereo; `outcome` says what became of it.
void NoteUnmixedChannels(int channels, const char* outcome);

// The plain-WAVE converter.
int OpenPcmDecoderWave(PcmDecoderRecord* record);
int ReadPcmDecoderWave(PcmDecoderRecord* record);
int SeekPcmDecoderWave(PcmDecoderRecord* record, int32_t sample);

// The coded-WAVE and MP3 converters through the compression manager.
int OpenPcmDecoderAcm(PcmDecoderRecord* record);
int OpenPcmDecoderMp3Acm(PcmDecoderRecord* record);
int ReadPcmDecoderAcm(PcmDecoderRecord* record);
int SeekPcmDecoderAcm(PcmDecoderRecord* record, int32_t sample);
int ClosePcmDecoderAcm(PcmDecoderRecord* record);
int32_t GetPcmDecoderAcmLength(const PcmDecoderRecord* record);

// The fields of one MPEG audio frame header.
struct MpegFrameInfo {
  uint8_t layer;        // 0 = Layer I, 1 = II, 2 = III
  uint8_t version;      // 0 = MPEG-1, 1 = MPEG-2
  uint8_t bitrate_index;
  uint8_t rate_index;
  uint8_t padding;
  uint8_t channels;
  uint32_t rate;        // Hz
  uint32_t bitrate;     // kbit/s
  uint32_t frame_length;  // bytes, header included
  uint32_t samples;     // per frame
};
// 0, -1 for a reserved field, -2 without frame sync.
int ParseMpegAudioHeader(const uint8_t header[4], MpegFrameInfo* info);
// The bytes an MP3 file image lacks for its last frame: frames chained from
// the first sync after the leading tag (MPEG 2.5 included), the last of them
// running past the end. 0 when the chain ends whole, breaks, or the file ends
// with a trailing tag.
int64_t MpegImageShortfall(const uint8_t* image, int64_t size);

// The MP3 converter through a filter graph, and what it hands the graph.
int OpenPcmDecoderMp3(PcmDecoderRecord* record);
plat::HResult StoreMp3PcmSample(plat::IMediaSample* sample, plat::ReferenceTime* start, plat::ReferenceTime* stop,
                                int32_t media_type_changed, void* context);
// The first pin of the filter in the given direction (0 input, 1 output),
// with a reference; null when there is none.
plat::IPin* FindFilterPin(plat::IBaseFilter* filter, int direction);

// The Ogg Vorbis converter.
int OpenPcmDecoderOgg(PcmDecoderRecord* record);
int ReadPcmDecoderOgg(PcmDecoderRecord* record);
int SeekPcmDecoderOgg(PcmDecoderRecord* record, int32_t sample);
int ClosePcmDecoderOgg(PcmDecoderRecord* record);
int32_t GetPcmDecoderOggLength(const PcmDecoderRecord* record);

// Fills the compression manager's entry points (the sound system's start
// does this; a converter refuses while they are missing).
void LoadAcmFunctions();
void FreeAcmFunctions();

// The chunk walk shared by the WAVE converters: on success the "fmt " body is
// returned in a new tracked block (*body, *body_size) and the record's
// format-chunk and data fields are set; -1 refuses (nothing left allocated).
int WalkWaveChunks(PcmDecoderRecord* record, uint8_t** body, int32_t* body_size);
