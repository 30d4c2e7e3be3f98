// lib/core/memory.h - the tracked memory manager: every allocation of the
// library carries a checked header, sits on one list, and can be dumped.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Short forms for the library's own calls.
#define RR_ALLOC(size) TrackedAlloc((size), "", 0)
#define RR_CALLOC(size) TrackedCalloc((size), "", 0)
#define RR_REALLOC(block, size) TrackedRealloc((block), (size), "", 0)
#define RR_FREE(block) TrackedFree(block)
