// lib/sound/stream_sound.cpp - stream sounds: a sound handle that plays through
// one looping one-second buffer, refilled piecewise from up to three sound
// files converted while they play; and the making of every handle's buffers.
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/sound/sound.h"
#include "lib/sound/sound_internal.h"
#include "rorud/rorud.h"

namespace {

int32_t FloorBlocks(int64_t bytes, int32_t ba) { return ba > 0 ? static_cast<int32_t>(bytes / ba * ba) : 0; }
int32_t CeilBlocks(int64_t bytes, int32_t ba) {
  return ba > 0 ? static_cast<int32_t>((bytes + ba - 1) / ba * ba) : 0;
}

uint32_t LocationFlag() { return SoundBufferLocSoftware ? plat::kDSBCAPS_LOCSOFTWARE : 0; }

void AppendToStreamList(int handle, SoundRecord* record) {
  ListAppend(StreamSoundListTail.previous, &record->stream.node, handle, record);
}

void CloseMemoryStream(SoundStream* stream) {
  if (stream->handle != 0) stream->ops.close(stream->handle);
  stream->handle = 0;
}

SoundStream MemoryStream(const void* data, int32_t size) {
  SoundStream stream{};
  stream.ops = *GetMemoryStreamTable();
  stream.handle = MemoryStreamOpen(data, static_cast<size_t>(size));
  return stream;
}

// Forward distance from one ring offset to another.
int32_t RingDistance(int32_t from, int32_t to, int32_t size) {
  int32_t d = to - from;
  return d < 0 ? d + size : d;
}

// Whether the cursor has played the data to its end. The cursor is followed
// from where it stood when the end was written, refill by refill, so that an
// end close to the ring's end is seen even when the cursor wraps past it
// between two refills; a single reading of the cursor cannot tell that. A
// cursor standing on the end has played the last byte.
bool TailHasPlayed(StreamSoundGroup* s, int32_t cursor) {
  const int32_t left = RingDistance(s->end_cursor, s->end_write_pos, s->ring_size);
  if (RingDistance(s->end_cursor, cursor, s->ring_size) >= left) return true;
  s->end_cursor = cursor;
  return false;
}

}  // namespace

int CreateSoundHandleBuffers(int source, const plat::WaveFormatEx* format, uint32_t size, int is_stream, int count,
                             int handle) {
  SoundLockScope lock;
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  SoundRecord* src = nullptr;
  if (source != -1) {
    src = FindSound(source);
    if (src == nullptr || is_stream) return -1;
    format = &src->format;
    size = src->data_size;
  }
  if (format == nullptr) return -1;
  if (count < 1) count = 1;
  if (count > kSoundBufferMax) count = kSoundBufferMax;
  if (is_stream) {
    const int32_t ba = format->block_align;
    plat::DsBufferDesc desc{};
    desc.size = sizeof(desc);
    desc.flags = plat::kDSBCAPS_GETCURRENTPOSITION2 | plat::kDSBCAPS_GLOBALFOCUS | plat::kDSBCAPS_CTRLFREQUENCY |
                 plat::kDSBCAPS_CTRLPAN | plat::kDSBCAPS_CTRLVOLUME |
                 (SoundBufferLocSoftware ? plat::kDSBCAPS_LOCSOFTWARE : plat::kDSBCAPS_STATIC);
    desc.buffer_bytes = static_cast<uint32_t>(CeilBlocks(format->avg_bytes_per_sec, ba));
    desc.format = format;
    // A format the device cannot play is refused like any other load failure
    // instead of ending the program.
    if (desc.buffer_bytes == 0 || SoundBufCreate(&r->buffers[0], &desc) != 0)
      return WriteLogLine("ストリーム風サウンドバッファの作成に失敗しました\n");
    r->duplicate[0] = 0;
    r->buffer_count = 1;
    r->kind = kSoundStream;
    AppendToStreamList(handle, r);
    return 0;
  }
  auto make_new = [&](SoundBuffer* b) {
    plat::DsBufferDesc desc{};
    desc.size = sizeof(desc);
    desc.flags = plat::kDSBCAPS_GLOBALFOCUS | plat::kDSBCAPS_CTRLFREQUENCY | plat::kDSBCAPS_CTRLPAN |
                 plat::kDSBCAPS_CTRLVOLUME | LocationFlag();
    desc.buffer_bytes = size;
    desc.format = format;
    if (SoundBufCreate(b, &desc) == 0) return true;
    desc.flags = plat::kDSBCAPS_CTRLPAN | plat::kDSBCAPS_CTRLVOLUME | LocationFlag();
    return SoundBufCreate(b, &desc) == 0;
  };
  int made = count;
  for (int i = 0; i < count; ++i) {
    SoundBuffer* b = &r->buffers[i];
    if (i == 0) {
      if (src != nullptr && SoundBufDuplicate(b, &src->buffers[0]) == 0) {
        r->duplicate[0] = 1;
        continue;
      }
      if (!make_new(b)) {
        return WriteLogLine("DirectSoundBuffer の作成に失敗しました\n");
      }
      r->duplicate[0] = 0;
    } else {
      SoundBuffer* original = src != nullptr ? &src->buffers[0] : &r->buffers[0];
      if (SoundBufDuplicate(b, original) != 0) {
        made = i;
        break;
      }
      r->duplicate[i] = 1;
    }
  }
  r->buffer_count = made;
  r->kind = kSoundOrdinary;
  return 0;
}

int AcquireStreamSoundBuffer(int handle, SoundRecord* record, SoundBuffer** buffer, uint8_t take_over) {
  if (record == nullptr) return -1;
  if (record->kind != kSoundStream) {
    *buffer = &record->buffers[0];
    return 0;
  }
  SoundRecord* owner = record;
  if (record->stream.data_handle != -1) {
    owner = FindSound(record->stream.data_handle);
    if (owner == nullptr) return -1;
  }
  *buffer = &owner->buffers[0];
  int32_t user = owner->stream.buffer_user;
  if (user == handle) return 0;
  // Written only when it changes: the sound thread acquires the buffer on
  // every refill while the main thread asks whether the stream plays.
  if (user == -1) {
    owner->stream.buffer_user = handle;
    return 0;
  }
  if (!take_over) return -1;
  StopStreamSound(user);
  owner->stream.buffer_user = handle;
  return 0;
}

int AddSreamSound(const SoundStream* stream, uint8_t loop_count, int handle, int mode, int* owns_stream,
                  int share_handle) {
  SoundLockScope lock;
  SoundRecord* r = FindSound(handle);
  if (r == nullptr || stream == nullptr) return -1;
  if (mode != 0 && mode != 2 && mode != 3) return -1;
  StreamSoundGroup& s = r->stream;
  if (s.file_count > 0) {
    if (r->kind != kSoundStream)
      return WriteLogLine("ストリーム風サウンドではないサウンドデータが渡されました in AddSreamSound\n");
    SoundBuffer* b = nullptr;
    uint32_t status = 0;
    if (AcquireStreamSoundBuffer(handle, r, &b, 0) == 0 && GetSoundBufferStatus(b, &status) == 0 &&
        (status & plat::kDSBSTATUS_PLAYING))
      return WriteLogLine("既に再生中のストリームサウンドデータにデータを追加しようとしました\n");
    if (s.file_count >= 3) return WriteLogLine("ストリーム風サウンドの制御データ領域がいっぱいです\n");
  }
  StreamFile& f = s.files[s.file_count];
  std::memset(&f, 0, sizeof(f));
  f.mode = mode;
  f.end_sample = -1;
  stream->ops.seek(stream->handle, 0, 0);
  int owns = 1;
  if (mode == 3) {
    if (OpenPcmDecoder(stream, &f.decoder) != 0) return WriteLogLineFmt("音声データのオープンに失敗しました");
    owns = 0;
  } else if (mode == 2) {
    void* data = nullptr;
    int32_t size = 0;
    if (AllocStreamReadBuffer(stream, &data, &size) != 0) return WriteLogLineFmt("音声データの読み込みに失敗しました");
    f.file_data = static_cast<uint8_t*>(data);
    f.file_data_size = size;
    f.file_stream = MemoryStream(data, size);
    if (f.file_stream.handle == 0 || OpenPcmDecoder(&f.file_stream, &f.decoder) != 0) {
      CloseMemoryStream(&f.file_stream);
      TrackedFree(f.file_data);
      f.file_data = nullptr;
      return WriteLogLineFmt("音声データのオープンに失敗しました");
    }
  } else {
    void* whole = nullptr;
    int32_t whole_size = 0;
    if (AllocStreamReadBuffer(stream, &whole, &whole_size) != 0)
      return WriteLogLineFmt("音声データの読み込みに失敗しました");
    SoundStream temp = MemoryStream(whole, whole_size);
    PcmDecoderRecord* converter = static_cast<PcmDecoderRecord*>(TrackedCalloc(sizeof(PcmDecoderRecord), "", 0));
    plat::WaveFormatEx format{};
    void* pcm = nullptr;
    int32_t pcm_size = 0;
    bool converted = converter != nullptr && temp.handle != 0 && OpenPcmDecoder(&temp, converter) == 0;
    if (converted) {
      converted = ConvertPcmDecoderToMemory(converter, &format, &pcm, &pcm_size) == 0;
      ClosePcmDecoder(converter);
    }
    TrackedFree(converter);
    CloseMemoryStream(&temp);
    TrackedFree(whole);
    if (!converted) return WriteLogLineFmt("音声データの変換に失敗しました");
    void* image = nullptr;
    int32_t image_size = 0;
    int made = CreateWaveFileImage(&image, &image_size, &format, sizeof(format), pcm, pcm_size);
    TrackedFree(pcm);
    if (made != 0) return -1;
    f.file_data = static_cast<uint8_t*>(image);
    f.file_data_size = image_size;
    f.file_stream = MemoryStream(image, image_size);
    if (f.file_stream.handle == 0 || OpenPcmDecoder(&f.file_stream, &f.decoder) != 0) {
      CloseMemoryStream(&f.file_stream);
      TrackedFree(f.file_data);
      f.file_data = nullptr;
      return WriteLogLineFmt("音声データのオープンに失敗しました");
    }
  }
  auto undo = [&]() {
    SoundStream source = f.decoder.stream;
    (void)source;
    ClosePcmDecoder(&f.decoder);
    CloseMemoryStream(&f.file_stream);
    TrackedFree(f.file_data);
    f.file_data = nullptr;
  };
  if (s.file_count == 0) {
    GetPcmDecoderFormat(&f.decoder, &r->format);
    SoundRecord* share = share_handle != -1 ? FindSound(share_handle) : nullptr;
    if (share != nullptr && share != r && share->kind == kSoundStream && share->stream.data_handle == -1 &&
        std::memcmp(&share->format, &r->format, sizeof(r->format)) == 0) {
      r->kind = kSoundStream;
      r->buffer_count = 1;
      AppendToStreamList(handle, r);
      s.data_handle = share_handle;
      share->stream.data_user_count += 1;
    } else {
      const int32_t ba = r->format.block_align;
      if (CreateSoundHandleBuffers(-1, &r->format, 0, 1, 1, handle) != 0) {
        undo();
        return -1;
      }
      s.data_handle = -1;
      s.ring_size = CeilBlocks(r->format.avg_bytes_per_sec, ba);
      r->frequency = static_cast<int32_t>(r->format.samples_per_sec);
    }
    s.data_user_count = 0;
    s.buffer_user = -1;
    s.delete_pending = 0;
  } else {
    plat::WaveFormatEx format{};
    GetPcmDecoderFormat(&f.decoder, &format);
    if (std::memcmp(&format, &r->format, sizeof(format)) != 0) {
      undo();
      return WriteLogLine("フォーマットの違う音声データは同時に使うことは出来ません");
    }
  }
  f.loop_count = loop_count;
  s.file_count += 1;
  int64_t total = 0;
  for (int i = 0; i < s.file_count; ++i)
    total += r->format.block_align ? GetPcmDecoderLength(&s.files[i].decoder) / r->format.block_align : 0;
  s.total_samples = static_cast<int32_t>(total);
  if (owns_stream) *owns_stream = owns;
  return 0;
}

int AddStreamSoundMemory(const void* data, int32_t size, uint8_t loop_count, int handle, int mode, int share_handle) {
  SoundLockScope lock;
  if (mode == 3) mode = 2;
  SoundStream stream = MemoryStream(data, size);
  if (stream.handle == 0) return WriteLogLine("ＷＡＶファイルのストリームイメージハンドルの作成に失敗しました \n");
  int owns = 0;
  if (AddSreamSound(&stream, loop_count, handle, mode, &owns, share_handle) != 0) {
    CloseMemoryStream(&stream);
    return WriteLogLine("ＷＡＶファイルのストリームイメージのセットアップに失敗しました \n");
  }
  if (owns == 1) CloseMemoryStream(&stream);
  SoundRecord* r = FindSound(handle);
  if (r != nullptr) r->stream.file_owns_stream[r->stream.file_count - 1] = 1;
  return 0;
}

int CreateStreamSoundHandle(int handle) {
  SoundLockScope lock;
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  if (r->kind == kSoundStream) return 0;
  void* image = nullptr;
  int32_t image_size = 0;
  if (r->data == nullptr ||
      CreateWaveFileImage(&image, &image_size, &r->format, sizeof(r->format), r->data, static_cast<int32_t>(r->data_size)) != 0)
    return WriteLogLine("ストリームサウンドハンドルの作成に失敗しました\n");
  const int volume = GetSoundHandleVolume(handle);
  const int position = GetSoundHandleCurrentPosition(handle);
  const int frequency = r->frequency;
  const int pan = GetSoundHandlePan(handle);
  // The stream is built under a handle of its own first, so that a failure
  // leaves the original sound as it was.
  int temp = AddSoundData(-1);
  int owns = 0;
  SoundStream stream = MemoryStream(image, image_size);
  bool ok = temp != -1 && stream.handle != 0 && AddSreamSound(&stream, 0, temp, 0, &owns, -1) == 0;
  CloseMemoryStream(&stream);
  TrackedFree(image);
  if (!ok) {
    if (temp != -1) DeleteSoundHandle(temp, 0);
    return WriteLogLine("ストリームサウンドハンドルの作成に失敗しました\n");
  }
  StopSoundHandle(handle);
  DeleteSoundHandle(handle, 0);
  SoundRecord* moved = g_sound_handles.Remove(temp);
  g_sound_handles.AddWithHandle(handle, moved);
  moved->check = static_cast<uint32_t>(HandleCheck(handle));
  moved->stream.node.value = handle;
  SetSoundHandleVolume(volume, handle);
  SetSoundHandleCurrentPosition(position, handle);
  SetSoundHandleFrequency(frequency, handle);
  SetSoundHandlePan(pan, handle);
  return 0;
}

int StopStreamSound(int handle) {
  SoundLockScope lock;
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  UpdateStreamSoundPlayPosition(handle, -1);
  SoundBuffer* b = nullptr;
  if (AcquireStreamSoundBuffer(handle, r, &b, 0) == 0) {
    if (r->stream.data_handle != -1) {
      SoundRecord* owner = FindSound(r->stream.data_handle);
      if (owner != nullptr) owner->stream.buffer_user = -1;
    }
    uint32_t status = 0;
    if (GetSoundBufferStatus(b, &status) != 0) return -1;
    if (status & plat::kDSBSTATUS_PLAYING) SoundBufStop(b);
  }
  return 0;
}

int IsStreamSoundPlaying(int handle) {
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  SoundBuffer* b = nullptr;
  if (AcquireStreamSoundBuffer(handle, r, &b, 0) != 0) return 0;
  uint32_t status = 0;
  if (GetSoundBufferStatus(b, &status) != 0) return 0;
  return (status & plat::kDSBSTATUS_PLAYING) ? 1 : 0;
}

int StartStreamSound(int handle) {
  SoundLockScope lock;
  SoundRecord* r = FindSound(handle);
  if (r == nullptr) return -1;
  SoundBuffer* b = nullptr;
  if (r->kind != kSoundStream || IsStreamSoundPlaying(handle) == 1 || AcquireStreamSoundBuffer(handle, r, &b, 0) != 0 ||
      r->stream.playing == 1)
    return 0;
  StreamSoundGroup& s = r->stream;
  SetSoundBufferCurrentPosition(b, 0);
  s.write_pos = -800;
  s.safe_pos = -1;
  s.last_cursor = 0;
  s.stopping = 0;
  if (r->format.block_align) SeekPcmDecoder(&s.files[s.current_file].decoder, s.file_pos / r->format.block_align);
  s.playing = 1;
  RefillStreamSound(handle);
  return 0;
}

int PlayStreamSoundHandle(int handle, int play_type, int from_top) {
  {
    SoundLockScope lock;
    SoundRecord* r = FindSound(handle);
    if (r == nullptr) return -1;
    SoundBuffer* b = nullptr;
    if (AcquireStreamSoundBuffer(handle, r, &b, 1) != 0) return -1;
    if (from_top == 0 && IsStreamSoundPlaying(handle) == 1) return -1;
    StopStreamSound(handle);
    StreamSoundGroup& s = r->stream;
    auto reset = [&]() {
      s.ended = 0;
      s.file_pos = 0;
      s.play_pos = 0;
      s.loop_wrap = 0;
      s.loop_counter = 0;
      s.current_file = 0;
      s.playing = 0;
    };
    if (((play_type ^ s.play_type) & 2) && s.ended == 1) reset();
    if (from_top == 1) {
      s.ended = 0;
      if (s.play_pos != 0) reset();
    }
    s.play_type = play_type;
    StartStreamSound(handle);
    if (r->buffers[0].made) {
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
      SetSoundBufferVolume(&r->buffers[0], volume);
      SetSoundBufferPan(&r->buffers[0], pan);
      SetSoundBufferFrequency(&r->buffers[0], frequency);
    }
    SoundBufPlay(b, 1);
  }
  if (play_type == 0 && PumpWindowMessages() == 0) {
    while (IsSoundHandlePlaying(handle) == 1) {
      plat::Sleep(1);
      if (PumpWindowMessages() != 0) break;
    }
  }
  return 0;
}

int RefillStreamSound(int handle) {
  SoundRecord* r = FindSound(handle);
  SoundBuffer* b = nullptr;
  if (r == nullptr || r->kind != kSoundStream || AcquireStreamSoundBuffer(handle, r, &b, 0) != 0 || !r->stream.playing)
    return 0;
  SoundLockScope lock;
  r = FindSound(handle);
  if (r == nullptr || r->kind != kSoundStream) return -1;
  StreamSoundGroup& s = r->stream;
  UpdateStreamSoundPlayPosition(handle, -1);
  uint32_t cursor = 0;
  if (GetSoundBufferPlayCursor(b, &cursor) != 0) return -1;
  const int32_t P = static_cast<int32_t>(cursor);
  const int32_t A = static_cast<int32_t>(r->format.avg_bytes_per_sec);
  const int32_t BA = r->format.block_align;
  const int32_t B = s.ring_size;
  if (BA <= 0 || B <= 0 || A <= 0) return -1;
  const bool first = s.write_pos == -800;
  const int32_t offset = first ? 0 : s.write_pos;
  // Every refill fills the ring up to a 32nd of a second short of the cursor,
  // so that the next one may come up to that much less than a second later
  // and the sound, its end and its loops stay exact. What the cursor has not
  // played yet is never written over.
  const int32_t limit = B - CeilBlocks(A / 32, BA);
  const int32_t queued = first ? 0 : RingDistance(P, s.write_pos, B);
  if (s.stopping) {
    if (TailHasPlayed(&s, P)) {
      SoundBufStop(b);
      s.stopping = 0;
      s.file_pos = 0;
      s.play_pos = 0;
      s.loop_wrap = 0;
      s.loop_counter = 0;
      s.current_file = 0;
      s.playing = 0;
      return 0;
    }
  } else if (!first) {
    uint32_t status = 0;
    GetSoundBufferStatus(b, &status);
    if (!(status & plat::kDSBSTATUS_PLAYING)) return 0;
  }
  const int32_t n = FloorBlocks(limit - queued, BA);
  SoundBufferPieces pieces{};
  uint32_t w1 = 0, w2 = 0;
  if (n <= 0 || SoundBufLock(b, static_cast<uint32_t>(offset), static_cast<uint32_t>(n), &pieces) != 0) return -1;
  while (!s.stopping && static_cast<int32_t>(w1 + w2) < n) {
    const int32_t got = DecodeIntoLockedPieces(&pieces, &w1, &w2, &s.files[s.current_file].decoder,
                                               n - static_cast<int32_t>(w1 + w2));
    if (got > 0) {
      s.file_pos += got;
      continue;
    }
    if (OnStreamSoundFileEnd(r, &pieces, &w1, &w2, first ? 0 : P) == 1) break;
  }
  // Past the data's end the ring holds silence as far as it is filled.
  if (s.stopping) FillLockedPiecesWithSilence(r, &pieces, &w1, &w2, n - static_cast<int32_t>(w1 + w2));
  SoundBufUnlock(b, &pieces);
  const int32_t written = static_cast<int32_t>(w1 + w2);
  if (first) {
    s.write_pos = written;
    s.safe_pos = 0;
  } else {
    s.write_pos += written;
    if (s.write_pos >= B) s.write_pos -= B;
    s.safe_pos = s.write_pos - CeilBlocks(static_cast<int64_t>(A) * 192 / 256, BA);
    if (s.safe_pos < 0) s.safe_pos += B;
  }
  return 0;
}

int RefillAllStreamSounds() {
  if (!SoundStarted()) return -1;
  for (ListNode* n = StreamSoundListHead.next; n != nullptr && n->next != nullptr;) {
    ListNode* next = n->next;
    auto* record = static_cast<SoundRecord*>(n->data);
    if (record->stream.playing) RefillStreamSound(n->value);
    n = next;
  }
  return 0;
}
