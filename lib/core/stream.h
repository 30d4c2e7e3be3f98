// lib/core/stream.h - the stream tables through which decoders read data:
// one set of six operations over an opaque handle, for files or for memory.
#pragma once

#include <cstddef>
#include <cstdint>

// A stream handle: a file handle of the file-function table, or the address of
// a MemoryStreamRecord. Pointer-sized.
using StreamHandle = intptr_t;

struct StreamTable {
  int64_t (*tell)(StreamHandle handle);
  int (*seek)(StreamHandle handle, int64_t offset, int origin);  // 0 or -1
  size_t (*read)(void* destination, size_t element_size, size_t count, StreamHandle handle);
  int (*eof)(StreamHandle handle);     // non-zero once the end has been met
  int (*idle)(StreamHandle handle);    // 1 when no request is in progress
  int (*close)(StreamHandle handle);   // 0
};

const StreamTable* GetFileStreamTable();
const StreamTable* GetMemoryStreamTable();

// A memory stream over data it does not own; 0 when the record cannot be made.
StreamHandle MemoryStreamOpen(const void* data, size_t size);
