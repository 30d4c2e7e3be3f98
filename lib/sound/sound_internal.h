// lib/sound/sound_internal.h - the records and globals the sound subsystem's
// files share: the sound system state, sound buffers, sound records (ordinary
// and stream), PCM records, and the operations the files call on each other.
#pragma once

#include <atomic>
#include <cstdint>

#include "lib/core/handle_table.h"
#include "lib/core/list.h"
#include "lib/core/ring_buffer.h"
#include "lib/sound/pcm_decoder.h"
#include "platform/audio/acm.h"
#include "platform/audio/dmusic.h"
#include "platform/audio/dsound.h"
#include "platform/kernel/kernel.h"

// ---- Sound system (start and end) ------------------------------------------------

struct AcmFunctionTable {
  void* module;
  decltype(&plat::AcmFormatSuggest) format_suggest;
  decltype(&plat::AcmStreamOpen) stream_open;
  decltype(&plat::AcmStreamClose) stream_close;
  decltype(&plat::AcmMetrics) metrics;
  decltype(&plat::AcmStreamPrepareHeader) stream_prepare_header;
  decltype(&plat::AcmStreamConvert) stream_convert;
  decltype(&plat::AcmStreamUnprepareHeader) stream_unprepare_header;
  decltype(&plat::AcmStreamSize) stream_size;
};

struct SoundSystemState {
  plat::DirectSound* direct_sound;  // null while the system is down
  plat::DirectSoundBuffer* primary_buffer;
  plat::DirectSoundBuffer* silent_buffer;
  plat::DirectMusicLoader8* music_loader;            // performance mode only
  plat::DirectMusicPerformance8* music_performance;
  plat::Thread* thread;
  plat::Event* thread_wake;  // set to end the sound thread's wait at once
  uint32_t thread_id;
  std::atomic<int> thread_end_flag;  // 0 running, 1 end asked, 2 ended
  int sound_lock_ready;
};

extern SoundSystemState g_sound;
extern int32_t DirectMusicMode;
extern int32_t SoundBufferLocSoftware;
extern int32_t SoftwareSoundBufferMode;
extern int32_t SoundCreateMode;
extern int32_t OggPcmWordSize;
extern AcmFunctionTable g_acm;
extern plat::CriticalSection SoundLock;
extern ListNode StreamSoundListHead, StreamSoundListTail;
extern ListNode PcmPlayerListHead, PcmPlayerListTail;

inline bool SoundStarted() { return g_sound.direct_sound != nullptr; }

// The sound lock, entered and left on scope.
class SoundLockScope {
 public:
  SoundLockScope() { SoundLock.Enter(); }
  ~SoundLockScope() { SoundLock.Leave(); }
  SoundLockScope(const SoundLockScope&) = delete;
  SoundLockScope& operator=(const SoundLockScope&) = delete;
};

int OnDSoundDevice(const plat::Guid* guid, const char* description, const char* module, void* context);

// ---- Sound buffers ----------------------------------------------------------------------

struct SoundBuffer {
  uint32_t made;
  plat::DirectSoundBuffer* buffer;
  uint8_t* samples;
  int32_t playing;
  int32_t position;
  int32_t looping;
  int32_t pan_factor;
  int32_t volume_factor;
  int32_t frequency;
  int32_t length;
  plat::WaveFormatEx format;
};

struct SoundBufferPieces {
  void* piece1;
  uint32_t bytes1;
  void* piece2;
  uint32_t bytes2;
};

int SoundBufCreate(SoundBuffer* buffer, const plat::DsBufferDesc* desc);
int SoundBufDuplicate(SoundBuffer* buffer, SoundBuffer* source);
int SoundBufRelease(SoundBuffer* buffer);
int SoundBufPlay(SoundBuffer* buffer, int loop);
int SoundBufStop(SoundBuffer* buffer);
int GetSoundBufferStatus(SoundBuffer* buffer, uint32_t* status);
int SoundBufLock(SoundBuffer* buffer, uint32_t offset, uint32_t length, SoundBufferPieces* pieces);
int SoundBufUnlock(SoundBuffer* buffer, const SoundBufferPieces* pieces);
int SetSoundBufferFrequency(SoundBuffer* buffer, int32_t frequency);
int GetSoundBufferFrequency(SoundBuffer* buffer, int32_t* frequency);
int SetSoundBufferPan(SoundBuffer* buffer, int32_t pan);
int GetSoundBufferPan(SoundBuffer* buffer, int32_t* pan);
int SetSoundBufferVolume(SoundBuffer* buffer, int32_t volume);
int GetSoundBufferVolume(SoundBuffer* buffer, int32_t* volume);
int SetSoundBufferCurrentPosition(SoundBuffer* buffer, uint32_t position);
// The play cursor in bytes (both sides); -1 when the buffer is not made.
int GetSoundBufferPlayCursor(SoundBuffer* buffer, uint32_t* position);

// ---- Sound records --------------------------------------------------------------------

constexpr int kSoundBufferMax = 10;
constexpr int kStreamFileMax = 4;
// Loop wraps written ahead of the cursor and not yet played, kept so that the
// play position follows each one; a loop shorter than the ring wraps several
// times within it, and one far shorter keeps its further wraps, once the
// queue is full, as repeats of the newest.
constexpr int kStreamWrapMax = 32;
constexpr int32_t kSoundHandleCapacity = 32768;

struct StreamFile {
  uint8_t loop_count;
  int32_t mode;
  uint8_t* file_data;
  int32_t file_data_size;
  SoundStream file_stream;
  int32_t loop_start_sample;
  int32_t end_sample;
  PcmDecoderRecord decoder;
};

struct StreamSoundGroup {
  int32_t play_type;
  int32_t data_handle;
  int32_t data_user_count;
  int32_t buffer_user;
  int32_t delete_pending;
  int32_t ring_size;
  int32_t write_pos;
  int32_t safe_pos;
  StreamFile files[kStreamFileMax];
  uint8_t file_owns_stream[kStreamFileMax];
  int32_t file_count;
  int32_t current_file;
  int32_t loop_counter;
  int32_t file_pos;
  int32_t total_samples;
  int32_t play_pos;
  int32_t last_cursor;
  uint8_t playing;
  uint8_t stopping;
  uint8_t loop_wrap;  // wraps queued in wrap_pos/wrap_start, oldest first
  uint8_t ended;
  int32_t loop_start_bytes;
  int32_t end_write_pos;
  int32_t end_cursor;  // the cursor when the end was written, then at each refill while the tail drains
  int32_t wrap_pos[kStreamWrapMax];    // ring offset where a wrap's loop start follows
  int32_t wrap_start[kStreamWrapMax];  // the play position, in bytes, at that offset
  int32_t wrap_period[kStreamWrapMax];   // ring bytes from one repeat of a wrap to the next
  int32_t wrap_repeats[kStreamWrapMax];  // repeats of a wrap still to come after wrap_pos
  ListNode node;
};

enum SoundKind : int32_t { kSoundOrdinary = 0, kSoundStream = 1 };

struct SoundRecord {
  uint32_t check;
  SoundBuffer buffers[kSoundBufferMax];
  plat::WaveFormatEx format;
  int32_t kind;
  StreamSoundGroup stream;
  uint32_t data_size;
  uint8_t* data;
  uint32_t* ref_count;
  uint32_t duplicate[kSoundBufferMax];
  int32_t buffer_count;
  int32_t current_buffer;
  int32_t volume;
  int32_t pan;
  int32_t frequency;
  uint8_t next_volume_set, next_pan_set, next_frequency_set;
  int32_t next_volume, next_pan, next_frequency;
};

using SoundHandleTable = HandleTable<SoundRecord, kSoundHandleCapacity>;
extern SoundHandleTable g_sound_handles;

// The record of a valid handle while sound is started, else null.
SoundRecord* FindSound(int handle);

int AddSoundData(int handle);
int DeleteSoundHandle(int handle, int flag);
int DeleteAllSoundHandles(int flag);
int GetSoundHandleSampleLength(int handle);

// ---- PCM records ---------------------------------------------------------------------------

constexpr int32_t kPcmRecordCapacity = 8192;

struct PcmRecord {
  uint32_t check;
  int32_t kind;  // 0 data block, 1 player
  uint8_t* data_block;
  plat::WaveFormatEx format;
  ListNode node;
  int32_t waiting_samples;
  RingBuffer ring;
  SoundBuffer buffer;
  int32_t buffer_size;
  int32_t write_pos;
  int32_t end_marker;
  int32_t last_cursor;
  int32_t end_reached;
  int32_t refill_unit;
  int32_t active;
};

using PcmHandleTable = HandleTable<PcmRecord, kPcmRecordCapacity>;
extern PcmHandleTable g_pcm_records;

uint32_t SoundThreadProc(void* argument);
int UpdateAllPcmPlayers();
int UpdatePcmPlayer(PcmRecord* player);
int DeletePcmSource(int handle, int kind);
int DeleteAllPcmSources();
int DeleteAllPcmPlayers();

// ---- Stream sound ----------------------------------------------------------------------------

int CreateSoundHandleBuffers(int source, const plat::WaveFormatEx* format, uint32_t size, int is_stream,
                             int count, int handle);
int AcquireStreamSoundBuffer(int handle, SoundRecord* record, SoundBuffer** buffer, uint8_t take_over);
int AddSreamSound(const SoundStream* stream, uint8_t loop_count, int handle, int mode, int* owns_stream,
                  int share_handle);
int AddStreamSoundFile(const char* file_name, uint8_t loop_count, int handle, int mode, int share_handle);
int AddStreamSoundMemory(const void* data, int32_t size, uint8_t loop_count, int handle, int mode,
                         int share_handle);
int CreateStreamSoundHandle(int handle);
int StartStreamSound(int handle);
int PlayStreamSoundHandle(int handle, int play_type, int from_top);
int StopStreamSound(int handle);
int IsStreamSoundPlaying(int handle);
int RefillStreamSound(int handle);
int RefillAllStreamSounds();

// Stream-sound support of the playback control.
int SetStreamSoundCurrentPosition(int32_t bytes, int handle);
int GetStreamSoundCurrentPosition(int handle);
int GetStreamSoundCurrentTime(int handle);
int UpdateStreamSoundPlayPosition(int handle, int32_t cursor);
int32_t DecodeIntoLockedPieces(SoundBufferPieces* pieces, uint32_t* written1, uint32_t* written2,
                               PcmDecoderRecord* decoder, int32_t bytes);
int FillLockedPiecesWithSilence(SoundRecord* record, SoundBufferPieces* pieces, uint32_t* written1,
                                uint32_t* written2, int32_t bytes);
// 0 = go on writing, -1 = the data's end is written, 1 = a loop's wrap must
// wait until the cursor has played an earlier one (nothing more now).
int OnStreamSoundFileEnd(SoundRecord* record, SoundBufferPieces* pieces, uint32_t* written1,
                         uint32_t* written2, int32_t cursor);

// ---- WAVE images and whole reads ------------------------------------------------------------

int CreateWaveFileImage(void** image, int32_t* image_size, const void* format, int32_t format_size,
                        const void* data, int32_t data_size);
int LoadFileToMemory(const char* file_name, void** data, int32_t* size);
int AllocStreamReadBuffer(const SoundStream* stream, void** data, int32_t* size);
int32_t MsToSamples(int32_t milliseconds, int32_t rate);
int32_t SamplesToMs(int32_t samples, int32_t rate);
int WriteWaveFile();

struct SoundOutputFile {
  int32_t open;
  void* file;
  int32_t frames;
};
extern SoundOutputFile g_sound_output_file;
