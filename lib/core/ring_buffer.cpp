// lib/core/ring_buffer.cpp - the growable byte ring.
#include "lib/core/ring_buffer.h"

#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"

void RingBufferWrap(RingBuffer* ring) {
  if (ring->start == ring->buffer_size) ring->start = 0;
  if (ring->end == ring->buffer_size) ring->end = 0;
}

int RingBufferReserve(RingBuffer* ring, int32_t add) {
  RingBufferWrap(ring);
  const int64_t wanted = static_cast<int64_t>(ring->data_size) + add;
  if (add >= 0 && ring->buffer_size >= wanted) return 0;
  const int64_t new_size = static_cast<int64_t>(ring->data_size) * 3 / 2 + add + 1000;
  if (add < 0 || new_size > INT32_MAX) {
    return WriteLogLineFmt("リングバッファの再確保に失敗しました(確保しようとしたサイズ %lld byte)",
                           static_cast<long long>(new_size));
  }
  uint8_t* fresh = static_cast<uint8_t*>(RR_ALLOC(static_cast<size_t>(new_size)));
  if (fresh == nullptr) {
    RR_FREE(ring->buffer);
    *ring = RingBuffer{};
    return WriteLogLineFmt("リングバッファの再確保に失敗しました(確保しようとしたサイズ %d byte)",
                           static_cast<int>(new_size));
  }
  if (ring->data_size > 0) {
    const int32_t first = ring->buffer_size - ring->start;
    if (ring->data_size <= first) {
      std::memcpy(fresh, ring->buffer + ring->start, ring->data_size);
    } else {
      std::memcpy(fresh, ring->buffer + ring->start, first);
      std::memcpy(fresh + first, ring->buffer, ring->data_size - first);
    }
  }
  RR_FREE(ring->buffer);
  ring->buffer = fresh;
  ring->start = 0;
  ring->end = ring->data_size;
  ring->buffer_size = static_cast<int32_t>(new_size);
  return 0;
}

int RingBufferRead(RingBuffer* ring, void* dst, int32_t size, int peek) {
  if (size < 0 || ring->data_size < size) return -1;
  RingBufferWrap(ring);
  uint8_t* out = static_cast<uint8_t*>(dst);
  if (size > 0) {
    const int32_t first = ring->buffer_size - ring->start;
    if (size <= first) {
      std::memcpy(out, ring->buffer + ring->start, size);
    } else {
      std::memcpy(out, ring->buffer + ring->start, first);
      std::memcpy(out + first, ring->buffer, size - first);
    }
  }
  if (!peek) {
    ring->start += size;
    if (ring->start >= ring->buffer_size) ring->start -= ring->buffer_size;
    ring->data_size -= size;
  }
  return 0;
}

int RingBufferFree(RingBuffer* ring) {
  if (ring->buffer != nullptr) RR_FREE(ring->buffer);
  *ring = RingBuffer{};
  return 0;
}
