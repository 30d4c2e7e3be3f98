// lib/sound/pcm_player.cpp - the sound thread, and the PCM records: data
// blocks, and players that copy PCM from a ring into a looping sound buffer.
#include <cstring>

#include "lib/core/memory.h"
#include "lib/sound/sound.h"
#include "lib/sound/sound_internal.h"

constinit PcmHandleTable g_pcm_records(kHandleKindPcm, HandleSlotRule::kHighWater);

namespace {

// True when going forward from `from` to `to` around a ring of `size` passes
// over `mark`; an unchanged cursor passes nothing.
bool PassedOver(int32_t from, int32_t to, int32_t mark) {
  if (from == to) return false;
  if (from < to) return from < mark && mark <= to;
  return mark > from || mark <= to;
}

}  // namespace

uint32_t SoundThreadProc(void* argument) {
  if (g_sound.thread_end_flag.load() == 1) {
    g_sound.thread_end_flag = 2;
    return 0;
  }
  do {
    SoundLock.Enter();
    if (SoundStarted()) {
      for (ListNode* n = StreamSoundListHead.next; n != nullptr && n->next != nullptr;) {
        ListNode* next = n->next;
        auto* record = static_cast<SoundRecord*>(n->data);
        if (record->stream.playing) RefillStreamSound(n->value);
        n = next;
      }
    }
    if (SoundStarted()) {
      for (ListNode* n = PcmPlayerListHead.next; n != nullptr && n->next != nullptr; n = n->next) {
        auto* player = static_cast<PcmRecord*>(n->data);
        if (player->active) UpdatePcmPlayer(player);
      }
    }
    SoundLock.Leave();
    // Real time, whatever clock the library runs on: this paces the output.
    plat::WaitEvent(g_sound.thread_wake, 30);
  } while (g_sound.thread_end_flag.load() != 1);
  g_sound.thread_end_flag = 2;
  return 0;
}

int UpdateAllPcmPlayers() {
  if (!SoundStarted()) return -1;
  for (ListNode* n = PcmPlayerListHead.next; n != nullptr && n->next != nullptr; n = n->next) {
    auto* player = static_cast<PcmRecord*>(n->data);
    if (player->active) UpdatePcmPlayer(player);
  }
  return 0;
}

int UpdatePcmPlayer(PcmRecord* p) {
  if (!p->active) return 0;
  SoundLockScope lock;
  uint32_t cursor = 0;
  if (GetSoundBufferPlayCursor(&p->buffer, &cursor) != 0) return -1;
  int32_t P = static_cast<int32_t>(cursor);
  if (p->end_marker != -1 && !p->end_reached) {
    if (PassedOver(p->last_cursor, P, p->end_marker)) p->end_reached = 1;
  }
  if (!(p->end_marker != -1 && p->end_reached)) p->last_cursor = P;
  const int32_t W = p->write_pos, L = p->refill_unit, S = p->buffer_size;
  const int32_t ba = p->format.block_align;
  if (S <= 0 || ba <= 0) return 0;
  int32_t T = W - L;
  if (T < 0) T += S;
  if (T <= W) {
    if (!(T <= P && P <= W)) return 0;
  } else {
    if (P > W && P < T) return 0;
  }
  int32_t free_bytes = (T <= W || T < P) ? P - T : S - T + P;
  int32_t samples = (L + free_bytes) / ba;
  if (samples <= 0) return 0;
  int32_t data = samples, silence = 0;
  if (data > p->waiting_samples) {
    silence = data - (p->waiting_samples > 0 ? p->waiting_samples : 0);
    data -= silence;
  }
  SoundBufferPieces pieces{};
  if (SoundBufLock(&p->buffer, static_cast<uint32_t>(W), static_cast<uint32_t>((data + silence) * ba), &pieces) != 0)
    return -1;
  if (silence > 0 && p->end_marker == -1) {
    p->end_marker = (W + data * ba) % S;
    p->last_cursor = P;
    p->end_reached = 0;
  }
  if (p->end_reached && data > 0) {
    p->end_reached = 0;
    p->last_cursor = 0;
    p->end_marker = -1;
  }
  p->waiting_samples -= data;
  int32_t data_bytes = data * ba;
  int32_t first = data_bytes < static_cast<int32_t>(pieces.bytes1) ? data_bytes : static_cast<int32_t>(pieces.bytes1);
  if (first > 0) RingBufferRead(&p->ring, pieces.piece1, first, 0);
  if (data_bytes > first && pieces.piece2) RingBufferRead(&p->ring, pieces.piece2, data_bytes - first, 0);
  const int fill = p->format.bits_per_sample == 8 ? 127 : 0;
  if (static_cast<int32_t>(pieces.bytes1) > first)
    std::memset(static_cast<uint8_t*>(pieces.piece1) + first, fill, pieces.bytes1 - static_cast<uint32_t>(first));
  int32_t second_used = data_bytes - first;
  if (pieces.piece2 && static_cast<int32_t>(pieces.bytes2) > second_used)
    std::memset(static_cast<uint8_t*>(pieces.piece2) + second_used, fill, pieces.bytes2 - static_cast<uint32_t>(second_used));
  SoundBufUnlock(&p->buffer, &pieces);
  p->write_pos = (W + (data + silence) * ba) % S;
  return 0;
}

int DeletePcmSource(int handle, int kind) {
  SoundLockScope lock;
  PcmRecord* record = g_pcm_records.Find(handle);
  if (record == nullptr || record->kind != kind) return -1;
  if (kind == 1) {
    RingBufferFree(&record->ring);
    SoundBufRelease(&record->buffer);
    ListRemove(&record->node);
  } else if (record->data_block != nullptr) {
    TrackedFree(record->data_block);
  }
  g_pcm_records.Remove(handle);
  TrackedFree(record);
  return 0;
}

namespace {
int DeleteAllOfKind(int kind) {
  if (!SoundStarted()) return -1;
  for (int slot = 0; slot < kPcmRecordCapacity; ++slot) {
    PcmRecord* record = g_pcm_records.At(slot);
    if (record != nullptr && record->kind == kind) DeletePcmSource(g_pcm_records.HandleAt(slot), kind);
  }
  return 0;
}
}  // namespace

int DeleteAllPcmSources() { return DeleteAllOfKind(0); }
int DeleteAllPcmPlayers() { return DeleteAllOfKind(1); }
