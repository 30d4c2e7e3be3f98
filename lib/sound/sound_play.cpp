// lib/sound/sound_play.cpp - playing, stopping, querying and adjusting sound
// handles, and the play-position bookkeeping and locked-region writers that
// stream sounds use.
#include <cmath>
#include <cstring>

#include "lib/core/log.h"
#include "lib/sound/sound.h"
#include "lib/sound/sound_internal.h"
#include "rorud/rorud.h"

namespace {

SoundBuffer* CurrentBuffer(SoundRecord* r) {
  if (r->current_buffer < 0 || r->current_buffer >= kSoundBufferMax) return nullptr;
  return &r->buffers[r->current_buffer];
}

// The buffer a getter reads: the current buffer of an ordinary sound, the
// buffer a stream sound plays through (without taking it from another user).
SoundBuffer* ReadBuffer(int handle, SoundRecord* r) {
  if (r->kind == kSoundStream) {
    SoundBuffer* b = nullptr;
    if (AcquireStreamSoundBuffer(handle, r, &b, 0) != 0) return nullptr;
    return b;
  }
  return CurrentBuffer(r);
}

// Forward distance from one ring offset to another.
int32_t RingDistance(int32_t from, int32_t to, int32_t size) {
  int32_t d = to - from;
  if (d < 0) d += size;
  return d;
}

void PumpWait(int handle) {
  if (PumpWindowMessages() != 0) return;
  while (IsSoundHandlePlaying(handle) == 1) {
    plat::Sleep(1);
    if (PumpWindowMessages() != 0) break;
  }
}

}  // namespace

int PlaySoundHandle(int handle, int play_type, int from_top) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  if (r->kind == kSoundStream) return PlayStreamSoundHandle(handle, play_type, from_top);
  if (r->buffer_count < 1) return -1;
  // Take the next buffer in rotation; its start is where the last one is.
  uint32_t resume = 0;
  SoundBuffer* last = CurrentBuffer(r);
  if (last != nullptr && last->made) GetSoundBufferPlayCursor(last, &resume);
  r->current_buffer = (r->current_buffer + 1) % (r->buffer_count > kSoundBufferMax ? kSoundBufferMax : r->buffer_count);
  SoundBuffer* b = &r->buffers[r->current_buffer];
  if (!b->made) return -1;
  uint32_t status = 0;
  if (GetSoundBufferStatus(b, &status) == 0) {
    if (status & plat::kDSBSTATUS_PLAYING) {
      if (from_top == 0) return 0;
      SoundBufStop(b);
    }
    SetSoundBufferCurrentPosition(b, from_top == 1 ? 0 : resume);
    int32_t volume = r->volume, pan = r->pan, frequency = r->frequency;
    if (r->next_volume_set) {
      volume = r->next_volume;
      r->next_volume_set = 0;
    }
    if (r->next_pan_set) {
      pan = r->next_pan;
      r->next_pan_set = 0;
    }
    if (r->next_frequency_set) {
      frequency = r->next_frequency;
      r->next_frequency_set = 0;
    }
    SetSoundBufferVolume(b, volume);
    SetSoundBufferPan(b, pan);
    SetSoundBufferFrequency(b, frequency);
  }
  if (SoundBufPlay(b, play_type == 3) != 0) return -1;
  if (play_type == 0) PumpWait(handle);
  return 0;
}

int StopSoundHandle(int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  if (r->kind == kSoundStream) return StopStreamSound(handle);
  for (int i = 0; i < r->buffer_count && i < kSoundBufferMax; ++i) {
    uint32_t status = 0;
    if (GetSoundBufferStatus(&r->buffers[i], &status) != 0) return -1;
    if (status & plat::kDSBSTATUS_PLAYING) SoundBufStop(&r->buffers[i]);
  }
  return 0;
}

int IsSoundHandlePlaying(int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  if (r->kind == kSoundStream) return IsStreamSoundPlaying(handle);
  for (int i = 0; i < r->buffer_count && i < kSoundBufferMax; ++i) {
    uint32_t status = 0;
    if (GetSoundBufferStatus(&r->buffers[i], &status) == 0 && (status & plat::kDSBSTATUS_PLAYING)) return 1;
  }
  return 0;
}

namespace {
int SetAllVolume(SoundRecord* r, int32_t volume) {
  for (int i = 0; i < r->buffer_count && i < kSoundBufferMax; ++i) SetSoundBufferVolume(&r->buffers[i], volume);
  r->volume = volume;
  return 0;
}
}  // namespace

int32_t SoundVolumeFromScale(int volume) {
  if (volume > 255) volume = 255;
  if (volume <= 0) return -10000;
  int32_t db = static_cast<int32_t>(1000.0 * std::log10(volume / 255.0));
  return db < -10000 ? -10000 : db;
}

int ChangeSoundHandleVolume(int volume, int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  return SetAllVolume(r, SoundVolumeFromScale(volume));
}

int SetSoundHandleVolume(int volume, int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  int64_t v = static_cast<int64_t>(volume) - 10000;
  if (v < -10000) v = -10000;
  if (v > 0) v = 0;
  return SetAllVolume(r, static_cast<int32_t>(v));
}

int GetSoundHandleVolume(int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  SoundBuffer* b = ReadBuffer(handle, r);
  if (b == nullptr) return -1;
  int32_t volume = 0;
  if (GetSoundBufferVolume(b, &volume) != 0) return -1;
  return volume + 10000;
}

int SetSoundHandlePan(int pan, int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  if (pan < -10000) pan = -10000;
  if (pan > 10000) pan = 10000;
  for (int i = 0; i < r->buffer_count && i < kSoundBufferMax; ++i) SetSoundBufferPan(&r->buffers[i], pan);
  r->pan = pan;
  return 0;
}

int GetSoundHandlePan(int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  SoundBuffer* b = ReadBuffer(handle, r);
  if (b == nullptr) return -1;
  int32_t pan = 0;
  if (GetSoundBufferPan(b, &pan) != 0) return -1;
  return pan;
}

int SetSoundHandleFrequency(int frequency, int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  if (frequency == -1) frequency = 0;
  for (int i = 0; i < r->buffer_count && i < kSoundBufferMax; ++i)
    SetSoundBufferFrequency(&r->buffers[i], frequency);
  r->frequency = frequency;
  return 0;
}

int GetSoundHandleFrequency(int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  SoundBuffer* b = ReadBuffer(handle, r);
  if (b == nullptr) return -1;
  int32_t frequency = 0;
  if (GetSoundBufferFrequency(b, &frequency) != 0) return -1;
  return frequency;
}

int SetSoundHandleCurrentPosition(int bytes, int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  if (r->kind == kSoundStream) return SetStreamSoundCurrentPosition(bytes, handle);
  SoundBuffer* b = CurrentBuffer(r);
  if (b == nullptr || bytes < 0) return -1;
  return SetSoundBufferCurrentPosition(b, static_cast<uint32_t>(bytes));
}

int GetSoundHandleCurrentPosition(int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  if (r->kind == kSoundStream) return GetStreamSoundCurrentPosition(handle);
  SoundBuffer* b = CurrentBuffer(r);
  uint32_t position = 0;
  if (b == nullptr || !b->made) return 0;
  GetSoundBufferPlayCursor(b, &position);
  return static_cast<int>(position);
}

int GetSoundHandleCurrentTime(int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  if (r->kind == kSoundStream) return GetStreamSoundCurrentTime(handle);
  int position = GetSoundHandleCurrentPosition(handle);
  if (r->format.block_align == 0) return 0;
  return SamplesToMs(position / r->format.block_align, static_cast<int32_t>(r->format.samples_per_sec));
}

int GetSoundHandleTotalTime(int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  return SamplesToMs(GetSoundHandleSampleLength(handle), static_cast<int32_t>(r->format.samples_per_sec));
}

int SetSoundHandleLoopSamplePosition(int samples, int handle) {
  SoundLockScope lock;
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  if (!(samples < GetSoundHandleSampleLength(handle))) return -1;
  if (samples == -1) {
    r->stream.files[0].loop_start_sample = 0;
    r->stream.files[0].loop_count = 0;
    return 0;
  }
  if (samples < 0) return -1;
  if (r->kind == kSoundOrdinary) {
    if (CreateStreamSoundHandle(handle) != 0) return -1;
    r = FindSound(handle);
    if (r == nullptr) return -1;
  }
  if (r->stream.file_count >= 2)
    return WriteLogLine("二つ以上の音声ファイルから作成されたサウンドハンドルにループポイントを指定する事は出来ません\n");
  StreamFile& f = r->stream.files[0];
  f.loop_start_sample = samples;
  f.decoder.ahead_target = f.decoder.format.block_align * samples;
  f.loop_count = 255;
  return 0;
}

int SetSoundHandleLoopPosition(int milliseconds, int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  int samples = milliseconds == -1 ? -1 : MsToSamples(milliseconds, static_cast<int32_t>(r->format.samples_per_sec));
  // A refused loop point is reported as refused.
  return SetSoundHandleLoopSamplePosition(samples, handle);
}

// ---- Stream-sound support --------------------------------------------------------------

int SetStreamSoundCurrentPosition(int32_t bytes, int handle) {
  SoundLockScope lock;
  SoundRecord* r = FindSound(handle);
  if (r == nullptr || r->kind != kSoundStream || r->format.block_align == 0) return -1;
  StreamSoundGroup& s = r->stream;
  if (bytes < 0 || bytes / r->format.block_align > s.total_samples || s.file_count >= 2) return -1;
  // A stream that plays goes on from the new position, as an ordinary sound
  // does: its ring holds the old data, so it is stopped and filled afresh.
  const bool was_playing = IsStreamSoundPlaying(handle) == 1;
  if (was_playing) StopStreamSound(handle);
  s.current_file = 0;
  s.loop_counter = 0;
  s.loop_wrap = 0;
  s.play_pos = bytes;
  s.file_pos = bytes;
  s.playing = 0;
  if (!was_playing) return 0;
  SoundBuffer* b = nullptr;
  s.ended = 0;
  if (StartStreamSound(handle) != 0 || AcquireStreamSoundBuffer(handle, r, &b, 0) != 0) return -1;
  return SoundBufPlay(b, 1) == 0 ? 0 : -1;
}

int UpdateStreamSoundPlayPosition(int handle, int32_t cursor) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr || r->kind != kSoundStream) return -1;
  SoundBuffer* b = nullptr;
  if (AcquireStreamSoundBuffer(handle, r, &b, 0) != 0 || !r->stream.playing) return 0;
  StreamSoundGroup& s = r->stream;
  if (cursor == -1) {
    uint32_t play = 0;
    if (GetSoundBufferPlayCursor(b, &play) != 0) return -1;
    cursor = static_cast<int32_t>(play);
  }
  if (cursor == s.last_cursor || s.ring_size <= 0) return 0;
  const int32_t moved = RingDistance(s.last_cursor, cursor, s.ring_size);
  // Past the end of a sound played once the cursor plays silence until the
  // refill stops the buffer: the position stays at the end. end_cursor,
  // followed here as the refill follows it, stands on the end once the
  // cursor has reached it.
  if (s.stopping && s.end_cursor == s.end_write_pos) {
    s.last_cursor = cursor;
    return 0;
  }
  // Every wrap the cursor has reached since the last reading is taken in
  // turn; the last one gives the position.
  int passed = 0;
  bool wrapped = false;
  while (passed < s.loop_wrap && RingDistance(s.last_cursor, s.wrap_pos[passed], s.ring_size) <= moved) {
    s.play_pos = RingDistance(s.wrap_pos[passed], cursor, s.ring_size) + s.wrap_start[passed];
    wrapped = true;
    if (s.wrap_repeats[passed] > 0) {
      // The wrap comes again a period on.
      s.wrap_pos[passed] = (s.wrap_pos[passed] + s.wrap_period[passed]) % s.ring_size;
      s.wrap_repeats[passed] -= 1;
      continue;
    }
    ++passed;
  }
  if (passed > 0) {
    const size_t left = static_cast<size_t>(s.loop_wrap - passed);
    std::memmove(s.wrap_pos, s.wrap_pos + passed, sizeof(s.wrap_pos[0]) * left);
    std::memmove(s.wrap_start, s.wrap_start + passed, sizeof(s.wrap_start[0]) * left);
    std::memmove(s.wrap_period, s.wrap_period + passed, sizeof(s.wrap_period[0]) * left);
    std::memmove(s.wrap_repeats, s.wrap_repeats + passed, sizeof(s.wrap_repeats[0]) * left);
    s.loop_wrap = static_cast<uint8_t>(left);
  }
  if (!wrapped) s.play_pos += moved;
  if (s.stopping) {
    if (RingDistance(s.end_cursor, cursor, s.ring_size) >= RingDistance(s.end_cursor, s.end_write_pos, s.ring_size)) {
      s.play_pos -= RingDistance(s.end_write_pos, cursor, s.ring_size);
      s.end_cursor = s.end_write_pos;
    } else {
      s.end_cursor = cursor;
    }
  }
  s.last_cursor = cursor;
  return 0;
}

int GetStreamSoundCurrentPosition(int handle) {
  SoundLockScope lock;
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  UpdateStreamSoundPlayPosition(handle, -1);
  return r->stream.play_pos;
}

int GetStreamSoundCurrentTime(int handle) {
  SoundLockScope lock;
  SoundRecord* r = FindSound(handle);
  if (r == nullptr || r->format.block_align == 0) return -1;
  UpdateStreamSoundPlayPosition(handle, -1);
  int ms = SamplesToMs(r->stream.play_pos / r->format.block_align, static_cast<int32_t>(r->format.samples_per_sec));
  int total = GetSoundHandleTotalTime(handle);
  return ms > total ? total : ms;
}

int32_t DecodeIntoLockedPieces(SoundBufferPieces* pieces, uint32_t* written1, uint32_t* written2,
                               PcmDecoderRecord* decoder, int32_t bytes) {
  int32_t done = 0;
  while (done < bytes) {
    uint8_t* out;
    uint32_t room;
    uint32_t* used;
    if (*written1 < pieces->bytes1) {
      out = static_cast<uint8_t*>(pieces->piece1) + *written1;
      room = pieces->bytes1 - *written1;
      used = written1;
    } else if (pieces->piece2 != nullptr && *written2 < pieces->bytes2) {
      out = static_cast<uint8_t*>(pieces->piece2) + *written2;
      room = pieces->bytes2 - *written2;
      used = written2;
    } else {
      break;
    }
    int32_t want = bytes - done;
    if (static_cast<uint32_t>(want) > room) want = static_cast<int32_t>(room);
    int32_t got = RunPcmDecoder(decoder, out, want);
    if (got <= 0) break;
    *used += static_cast<uint32_t>(got);
    done += got;
  }
  return done;
}

int FillLockedPiecesWithSilence(SoundRecord* record, SoundBufferPieces* pieces, uint32_t* written1,
                                uint32_t* written2, int32_t bytes) {
  const int fill = record->format.bits_per_sample == 8 ? 127 : 0;
  uint32_t left = bytes < 0 ? 0 : static_cast<uint32_t>(bytes);
  if (*written1 < pieces->bytes1 && left > 0) {
    uint32_t n = pieces->bytes1 - *written1 < left ? pieces->bytes1 - *written1 : left;
    std::memset(static_cast<uint8_t*>(pieces->piece1) + *written1, fill, n);
    *written1 += n;
    left -= n;
  }
  if (pieces->piece2 != nullptr && *written2 < pieces->bytes2 && left > 0) {
    uint32_t n = pieces->bytes2 - *written2 < left ? pieces->bytes2 - *written2 : left;
    std::memset(static_cast<uint8_t*>(pieces->piece2) + *written2, fill, n);
    *written2 += n;
    left -= n;
  }
  return 0;
}

int OnStreamSoundFileEnd(SoundRecord* record, SoundBufferPieces* pieces, uint32_t* written1, uint32_t* written2,
                         int32_t cursor) {
  StreamSoundGroup& s = record->stream;
  const int32_t ba = record->format.block_align ? record->format.block_align : 1;
  const int32_t base = s.write_pos < 0 ? 0 : s.write_pos;
  const int32_t here = s.ring_size > 0 ? (base + static_cast<int32_t>(*written1 + *written2)) % s.ring_size : 0;
  s.loop_counter += 1;
  // A wrap is written at once, however many earlier ones the cursor has yet
  // to play, so that the ring ahead stays full. A full queue takes a wrap
  // that repeats its newest one (to the same start, a period after the
  // newest repeat) as one more repeat of it; any other wrap waits.
  const bool wraps_full = s.loop_wrap >= kStreamWrapMax;
  const int newest = s.loop_wrap - 1;
  auto repeats_newest = [&](int32_t start) {
    if (newest < 0 || s.ring_size <= 0 || s.wrap_start[newest] != start) return false;
    const int32_t last = (s.wrap_pos[newest] + s.wrap_repeats[newest] * s.wrap_period[newest]) % s.ring_size;
    const int32_t step = RingDistance(last, here, s.ring_size);
    return step > 0 && (s.wrap_repeats[newest] == 0 || step == s.wrap_period[newest]);
  };
  auto can_wrap = [&](int32_t start) { return !wraps_full || repeats_newest(start); };
  auto push_wrap = [&](int32_t start) {
    if (wraps_full) {
      const int32_t last = (s.wrap_pos[newest] + s.wrap_repeats[newest] * s.wrap_period[newest]) % s.ring_size;
      s.wrap_period[newest] = RingDistance(last, here, s.ring_size);
      s.wrap_repeats[newest] += 1;
      return;
    }
    s.wrap_pos[s.loop_wrap] = here;
    s.wrap_start[s.loop_wrap] = start;
    s.wrap_period[s.loop_wrap] = 0;
    s.wrap_repeats[s.loop_wrap] = 0;
    s.loop_wrap += 1;
  };
  StreamFile* file = &s.files[s.current_file];
  if (file->loop_count != 255) {
    if (s.loop_counter > file->loop_count) {
      if (s.current_file + 1 >= s.file_count && s.play_type == 3 && !can_wrap(0)) return 1;
      s.loop_counter = 0;
      s.current_file += 1;
      if (s.current_file >= s.file_count) {
        s.ended = 1;
        if (s.play_type != 3) {
          s.stopping = 1;
          s.end_write_pos = here;
          s.end_cursor = cursor;
          int32_t silence = static_cast<int32_t>(record->format.avg_bytes_per_sec / 8) / ba * ba;
          FillLockedPiecesWithSilence(record, pieces, written1, written2, silence);
          s.current_file = s.file_count - 1;
          return -1;
        }
        s.current_file = 0;
        s.loop_start_bytes = 0;
        push_wrap(0);
      }
    }
    s.file_pos = 0;
  } else {
    if (!can_wrap(ba * file->loop_start_sample)) return 1;
    s.file_pos = ba * file->loop_start_sample;
    s.loop_start_bytes = ba * file->loop_start_sample;
    push_wrap(s.loop_start_bytes);
  }
  file = &s.files[s.current_file];
  SeekPcmDecoder(&file->decoder, s.file_pos / ba);
  return 0;
}
