// lib/sound/sound_handle.cpp - the sound handle table and the creation and
// deletion of sound records.
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/sound/sound_internal.h"
#include "rorud/rorud.h"

constinit SoundHandleTable g_sound_handles(kHandleKindSound, HandleSlotRule::kHighWater);

SoundRecord* FindSound(int handle) {
  if (!SoundStarted()) return nullptr;
  return g_sound_handles.Find(handle);
}

int AddSoundData(int handle) {
  SoundLockScope lock;
  bool reuse = handle != -1 && HandleKind(handle) == kHandleKindSound && HandleSlot(handle) < kSoundHandleCapacity &&
               g_sound_handles.At(HandleSlot(handle)) == nullptr;
  if (!reuse && g_sound_handles.IsFull()) return WriteLogLine("サウンドの数が許容量を越えました\n");
  auto* record = static_cast<SoundRecord*>(TrackedAlloc(sizeof(SoundRecord), "", 0));
  if (record == nullptr) return WriteLogLine("メモリ領域の確保に失敗しました in AddSoundData");
  std::memset(record, 0, sizeof(*record));
  int result = reuse ? g_sound_handles.AddWithHandle(handle, record) : g_sound_handles.Add(record);
  if (result == -1) {
    TrackedFree(record);
    return WriteLogLine("サウンドの数が許容量を越えました\n");
  }
  record->check = static_cast<uint32_t>(HandleCheck(result));
  return result;
}

int DeleteSoundHandle(int handle, int flag) {
  SoundLockScope lock;
  SoundRecord* record = FindSound(handle);
  if (record == nullptr) return -1;
  if (record->kind == kSoundStream) {
    StopStreamSound(handle);
  } else if (record->buffers[0].made) {
    StopSoundHandle(handle);
  }
  if (record->kind == kSoundOrdinary) {
    for (int i = 0; i < record->buffer_count && i < kSoundBufferMax; ++i)
      if (record->buffers[i].made) SoundBufRelease(&record->buffers[i]);
    if (record->ref_count != nullptr) {
      if (--*record->ref_count == 0) {
        TrackedFree(record->data);
        TrackedFree(record->ref_count);
      }
    }
    record->data = nullptr;
    record->ref_count = nullptr;
  } else {
    StreamSoundGroup& s = record->stream;
    if (s.data_handle != -1) {
      SoundRecord* owner = FindSound(s.data_handle);
      if (owner != nullptr) {
        --owner->stream.data_user_count;
        if (owner->stream.delete_pending && s.data_handle != handle && owner->stream.data_user_count <= 0)
          DeleteSoundHandle(s.data_handle, 0);
      }
      s.data_handle = -1;
    }
    if (s.data_user_count > 0) {
      s.delete_pending = 1;
      return 0;
    }
    ListRemove(&s.node);
    for (int i = 0; i < s.file_count && i < kStreamFileMax; ++i) {
      StreamFile& f = s.files[i];
      SoundStream source = f.decoder.stream;
      ClosePcmDecoder(&f.decoder);
      // A mode-3 file reads the caller's stream, closed here only when the
      // record was given it to keep; the memory stream over the record's own
      // copy is always the record's.
      if (f.mode == 3 && s.file_owns_stream[i] && source.handle != 0) source.ops.close(source.handle);
      if (f.file_stream.handle != 0) f.file_stream.ops.close(f.file_stream.handle);
      f.file_stream.handle = 0;
      TrackedFree(f.file_data);
      f.file_data = nullptr;
    }
    if (record->buffers[0].made) SoundBufRelease(&record->buffers[0]);
  }
  g_sound_handles.Remove(handle);
  TrackedFree(record);
  return 0;
}

int DeleteAllSoundHandles(int flag) {
  if (!SoundStarted()) return -1;
  SoundLockScope lock;
  for (int slot = 0; slot < g_sound_handles.HighWater(); ++slot)
    if (g_sound_handles.At(slot) != nullptr) DeleteSoundHandle(g_sound_handles.HandleAt(slot), flag);
  // Records kept for their remaining users go once nothing plays them.
  for (int slot = 0; slot < g_sound_handles.HighWater(); ++slot) {
    SoundRecord* record = g_sound_handles.At(slot);
    if (record == nullptr) continue;
    record->stream.data_user_count = 0;
    DeleteSoundHandle(g_sound_handles.HandleAt(slot), flag);
  }
  return 0;
}

int GetSoundHandleSampleLength(int handle) {
  SoundRecord* record = FindSound(handle);
  if (record == nullptr) return -1;
  if (record->kind == kSoundOrdinary)
    return record->format.block_align ? static_cast<int>(record->data_size / record->format.block_align) : 0;
  if (record->kind == kSoundStream) return record->stream.total_samples;
  return 0;
}
