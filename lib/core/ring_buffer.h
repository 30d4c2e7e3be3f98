// lib/core/ring_buffer.h - a growable byte ring. The owner writes new bytes
// itself at `end` (wrapping at `buffer_size`) after RingBufferReserve, then
// raises `end` and `data_size`; the ring has no lock of its own.
#pragma once

#include <cstdint>

struct RingBuffer {
  uint8_t* buffer;      // tracked block; null before the first reserve
  int32_t start;        // index of the oldest byte
  int32_t end;          // where the next byte is written
  int32_t data_size;    // bytes held
  int32_t buffer_size;  // bytes of storage
};

// Makes room for add more bytes. When the storage is too small it grows to
// data_size * 3 / 2 + add + 1000 with the held bytes moved to its start.
// Returns 0, or -1 with a log line: when that allocation fails the old
// storage is freed and the record zeroed; a size that does not fit an int
// (or a negative add) is refused with the ring left as it was.
int RingBufferReserve(RingBuffer* ring, int32_t add);
// Copies size bytes from the oldest on into dst and, unless peek is set,
// consumes them. -1 (nothing copied) when fewer are held or size < 0.
int RingBufferRead(RingBuffer* ring, void* dst, int32_t size, int peek);
// Frees the storage and zero-fills the record. Returns 0.
int RingBufferFree(RingBuffer* ring);
// A start or end equal to the buffer size becomes 0.
void RingBufferWrap(RingBuffer* ring);
