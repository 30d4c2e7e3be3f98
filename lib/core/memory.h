// lib/core/memory.h - the tracked memory manager: every allocation of the
// library carries a checked header, sits on one list, and can be dumped.
#pragma once

#include <cstddef>
#include <cstdint>

// The header in front of every tracked block: its fields, then a copy of them
// that the check compares against. 16-byte aligned, so the caller's memory
// keeps the heap's alignment.
struct TrackedBlockHeader;
struct TrackedBlockFields {
  char name[16];                 // the last 15 characters of the source name
  uint16_t number;               // allocation number, wraps at 65536
  uint16_t line;                 // the caller's line, kept as 16 bits
  uint32_t size;                 // the caller's size
  TrackedBlockHeader* previous;  // the older block (the list sentinel for the oldest)
  TrackedBlockHeader* next;      // the newer block, null for the newest
};
struct alignas(16) TrackedBlockHeader {
  TrackedBlockFields fields;
  TrackedBlockFields copy;
};
constexpr size_t kTrackedHeaderSize = sizeof(TrackedBlockHeader);

// Allocates size bytes; null on failure. name/line identify the caller (the
// library passes "" and 0).
void* TrackedAlloc(size_t size, const char* name, int line);
// As TrackedAlloc, with the bytes set to 0.
void* TrackedCalloc(size_t size, const char* name, int line);
// Frees a block from TrackedAlloc/TrackedRealloc; null is ignored.
void TrackedFree(void* block);
// Resizes (null acts as TrackedAlloc); the grown part is zero-filled. On failure
// returns null and the old block stays valid.
void* TrackedRealloc(void* block, size_t size, const char* name, int line);
// 0 when every header matches its copy, -1 (and a log line) at the first broken one.
int CheckAllocations();
// Writes every live block and the totals to the log.
void DumpAllocations();
void LogMemoryTotals();
// Writes one block's line to the log.
void LogMemoryBlock(const TrackedBlockHeader* header);
// The number of live blocks and the sum of their sizes.
int GetAllocationCount();
int GetAllocationTotal();

// Short forms for the library's own calls.
#define RR_ALLOC(size) TrackedAlloc((size), "", 0)
#define RR_CALLOC(size) TrackedCalloc((size), "", 0)
#define RR_REALLOC(block, size) TrackedRealloc((block), (size), "", 0)
#define RR_FREE(block) TrackedFree(block)
