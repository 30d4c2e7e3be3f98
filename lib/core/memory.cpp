// lib/core/memory.cpp - the tracked memory manager. Every block sits on one
// list, oldest first, behind a sentinel header; each header carries a copy of
// itself so that an overwrite in front of a block can be found later.
#include "lib/core/memory.h"

#include <cstdio>
#include <cstring>

#include "lib/core/log.h"
#include "platform/kernel/kernel.h"

static_assert(kTrackedHeaderSize % 16 == 0, "the caller's memory must stay 16-byte aligned");
static_assert(sizeof(TrackedBlockFields) == 24 + 2 * sizeof(void*), "the fields carry no padding");

namespace {

// The manager's own lock: allocations come from every thread of the library.
plat::CriticalSection& ManagerLock() {
  static plat::CriticalSection lock;
  return lock;
}

class Locked {
 public:
  Locked() { ManagerLock().Enter(); }
  ~Locked() { ManagerLock().Leave(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

TrackedBlockHeader g_sentinel{};
TrackedBlockHeader* g_tail = nullptr;
// Signed 32-bit running figures; sums wrap rather than overflow.
int32_t g_total_size = 0;
int32_t g_block_count = 0;
uint16_t g_allocation_counter = 0;

// Trace settings: fixed at their start values; tracing of zero-size blocks
// follows from a trace size of 0.
int g_trace_all = 0;
int g_totals_after_each = 0;
int g_check_after_each = 0;
int32_t g_trace_size = 0;

// The largest size whose header still fits the 32-bit size field with it.
constexpr size_t kLargestBlock = 0xFFFFFFFFu - kTrackedHeaderSize;

void AddToTotal(int64_t delta) {
  g_total_size = static_cast<int32_t>(static_cast<uint32_t>(g_total_size) + static_cast<uint32_t>(delta));
}

void RefreshCopy(TrackedBlockHeader* header) {
  if (header != nullptr) std::memcpy(&header->copy, &header->fields, sizeof header->fields);
}

void StoreCaller(TrackedBlockHeader* header, const char* name, int line) {
  std::memset(header->fields.name, 0, sizeof header->fields.name);
  if (name != nullptr) {
    size_t length = std::strlen(name);
    const char* tail = length >= 15 ? name + length - 15 : name;
    std::memcpy(header->fields.name, tail, length >= 15 ? 15 : length);
  }
  header->fields.line = static_cast<uint16_t>(line);
  header->fields.number = g_allocation_counter++;
}

void Trace(uint32_t size, const char* tag, const TrackedBlockHeader* header) {
  if (g_trace_size < 0 || static_cast<uint32_t>(g_trace_size) == size || g_trace_all == 1) {
    WriteLogLine(tag);
    LogMemoryBlock(header);
  }
}

TrackedBlockHeader* HeaderOf(void* block) {
  return reinterpret_cast<TrackedBlockHeader*>(static_cast<unsigned char*>(block) - kTrackedHeaderSize);
}

// The dump shows the first bytes of blocks that their owners (other threads)
// may be writing at that moment; the bytes are a snapshot for the reader of
// the log and nothing depends on them, so this one read is kept out of the
// race detector.
__attribute__((no_sanitize("thread"))) void SnapshotBytes(const unsigned char* source, unsigned char* out,
                                                           size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = source[i];
}

void* BlockOf(TrackedBlockHeader* header) { return reinterpret_cast<unsigned char*>(header) + kTrackedHeaderSize; }

}  // namespace

void* TrackedAlloc(size_t size, const char* name, int line) {
  Locked lock;
  TrackedBlockHeader* header = nullptr;
  if (size <= kLargestBlock) header = static_cast<TrackedBlockHeader*>(plat::HeapAlloc(size + kTrackedHeaderSize));
  if (header == nullptr) {
    DumpAllocations();
    CheckAllocations();
    return nullptr;
  }
  header->fields.size = static_cast<uint32_t>(size);
  StoreCaller(header, name, line);

  if (g_tail == nullptr) g_tail = &g_sentinel;
  TrackedBlockHeader* previous = g_tail;
  previous->fields.next = header;
  header->fields.previous = previous;
  header->fields.next = nullptr;
  g_tail = header;
  RefreshCopy(header);
  RefreshCopy(previous);

  AddToTotal(static_cast<int64_t>(size));
  ++g_block_count;

  Trace(header->fields.size, "mem alloc  ", header);
  if (g_totals_after_each == 1) LogMemoryTotals();
  if (g_check_after_each == 1) CheckAllocations();
  return BlockOf(header);
}

void* TrackedCalloc(size_t size, const char* name, int line) {
  void* block = TrackedAlloc(size, name, line);
  if (block != nullptr && size != 0) std::memset(block, 0, size);
  return block;
}

void TrackedFree(void* block) {
  if (block == nullptr) return;
  Locked lock;
  TrackedBlockHeader* header = HeaderOf(block);
  AddToTotal(-static_cast<int64_t>(header->fields.size));
  --g_block_count;
  if (g_check_after_each == 1) CheckAllocations();

  TrackedBlockHeader* previous = header->fields.previous;
  TrackedBlockHeader* next = header->fields.next;
  if (previous != nullptr) previous->fields.next = next;
  if (next != nullptr) next->fields.previous = previous;
  if (g_tail == header) g_tail = previous;
  RefreshCopy(next);
  RefreshCopy(previous);

  Trace(header->fields.size, "mem free  ", header);
  if (g_totals_after_each == 1) LogMemoryTotals();
  plat::HeapFree(header);
}

void* TrackedRealloc(void* block, size_t size, const char* name, int line) {
  if (block == nullptr) return TrackedAlloc(size, name, line);
  Locked lock;
  TrackedBlockHeader* old_header = HeaderOf(block);
  bool was_tail = g_tail == old_header;
  uint32_t old_size = old_header->fields.size;
  TrackedBlockHeader* header = nullptr;
  if (size <= kLargestBlock) {
    header = static_cast<TrackedBlockHeader*>(plat::HeapReAllocZero(old_header, size + kTrackedHeaderSize));
  }
  if (header == nullptr) {
    DumpAllocations();
    return nullptr;
  }
  StoreCaller(header, name, line);

  TrackedBlockHeader* previous = header->fields.previous;
  TrackedBlockHeader* next = header->fields.next;
  if (previous != nullptr) previous->fields.next = header;
  if (next != nullptr) next->fields.previous = header;
  if (was_tail) g_tail = header;

  AddToTotal(-static_cast<int64_t>(old_size));
  header->fields.size = static_cast<uint32_t>(size);
  AddToTotal(static_cast<int64_t>(size));

  RefreshCopy(header);
  RefreshCopy(previous);
  RefreshCopy(next);

  Trace(header->fields.size, "mem realloc  ", header);
  if (g_totals_after_each == 1) LogMemoryTotals();
  if (g_check_after_each == 1) CheckAllocations();
  return BlockOf(header);
}

int CheckAllocations() {
  Locked lock;
  for (TrackedBlockHeader* header = g_tail; header != nullptr && header != &g_sentinel;
       header = header->fields.previous) {
    if (std::memcmp(&header->fields, &header->copy, sizeof header->fields) != 0) {
      WriteLogLine("以下のメモリ確保情報が破損しました");
      LogMemoryBlock(header);
      return -1;
    }
  }
  return 0;
}

void DumpAllocations() {
  Locked lock;
  WriteLogLine("\n");
  WriteLogLine("Alloc memory dump\n");
  for (TrackedBlockHeader* header = g_tail; header != nullptr && header != &g_sentinel;
       header = header->fields.previous) {
    LogMemoryBlock(header);
  }
  LogMemoryTotals();
  WriteLogLine("\n");
}

void LogMemoryTotals() {
  Locked lock;
  WriteLogLineFmt("\tTotal size:%d(%.3fkb)  Alloc num:%d", g_total_size, g_total_size * (1.0 / 1024.0),
                  g_block_count);
}

void LogMemoryBlock(const TrackedBlockHeader* header) {
  char line[260];
  const TrackedBlockFields& fields = header->fields;
  int length = std::snprintf(line, sizeof line,
                             "\tsize:%10d(%10.3fkb)  file:%-26s  line:%-5d  ID:%-5d  addr:%016llx  data:<",
                             static_cast<int>(fields.size), fields.size * (1.0 / 1024.0), fields.name,
                             static_cast<int>(fields.line), static_cast<int>(fields.number),
                             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(header) + kTrackedHeaderSize));
  // A broken header may carry a wrong size: show no more bytes than both the
  // fields and their copy allow, so the report never reads past the block.
  uint32_t known = fields.size < header->copy.size ? fields.size : header->copy.size;
  size_t count = known < 16 ? known : 16;
  unsigned char data[16];
  SnapshotBytes(reinterpret_cast<const unsigned char*>(header) + kTrackedHeaderSize, data, count);
  // The header line is at most ~150 bytes and the data part 67, so the line
  // always fits.
  size_t at = static_cast<size_t>(length);
  for (size_t i = 0; i < count; ++i) {
    line[at++] = static_cast<signed char>(data[i]) < 32 ? '.' : static_cast<char>(data[i]);
  }
  line[at++] = '>';
  line[at++] = ' ';
  line[at++] = '[';
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(line + at, sizeof line - at, "%02x ", data[i]);
    at += 3;
  }
  // "]\n" goes over the last blank, or over the "[" when there was no data.
  std::memcpy(line + at - 1, "]\n", 3);
  WriteLogLine(line);
}

int GetAllocationCount() {
  Locked lock;
  return g_block_count;
}

int GetAllocationTotal() {
  Locked lock;
  return g_total_size;
}
