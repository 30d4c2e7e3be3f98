// lib/core/file_functions.h - the table of twelve file operations through which
// all file access of the library goes, and the forwarding entries that the rest
// of the library calls. The table holds the archive-aware set (files may live
// inside archives that stand for folders) or the plain-file set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/core/stream.h"
#include "rorud/rorud.h"

// A file handle of the table: 0 means no file. Pointer-sized, because the
// plain-file set hands out record addresses.
using FileHandle = intptr_t;
// A search handle of the table: -1 means no search.
using SearchHandle = intptr_t;

// What the find operations report about one entry. Times are local:
// year, month, day, hour, minute, second.
struct FileInfo {
  char name[260];
  int is_directory;
  uint64_t size;
  int creation_time[6];
  int last_write_time[6];
};

struct FileFunctionTable {
  FileHandle (*open)(const char* path, int cache, int unused, int no_wait);
  int (*close)(FileHandle handle);
  int64_t (*tell)(FileHandle handle);
  int (*seek)(FileHandle handle, int64_t offset, int origin);
  size_t (*read)(void* destination, size_t element_size, size_t count, FileHandle handle);
  int (*eof)(FileHandle handle);
  int (*idle)(FileHandle handle);
  int (*set_directory)(const char* path);
  int (*get_directory)(char* buffer);  // buffer of 260 bytes
  SearchHandle (*find_first)(const char* path, FileInfo* info);
  int (*find_next)(SearchHandle search, FileInfo* info);
  int (*find_close)(SearchHandle search);
};

// With a table, copies its twelve entries; with null, installs the standard
// set of the current mode. 0.
int InstallFileFunctions(const FileFunctionTable* table);
// 1 when the installed table is exactly the standard set of the current mode
// (every slot but the idle test compared).
int IsStandardFileFunctionSet();
// The table as installed (for callers that copy it whole).
const FileFunctionTable* GetFileFunctionTable();
// The two standard sets.
const FileFunctionTable* GetArchiveFileFunctionSet();
const FileFunctionTable* GetPlainFileFunctionSet();

// Forwarding entries for slots 8 to 12.
int FileSetDirThunk(const char* path);
int FileGetDirThunk(char* buffer);
SearchHandle FileFindFirstThunk(const char* path, FileInfo* info);
int FileFindNextThunk(SearchHandle search, FileInfo* info);
int FileFindCloseThunk(SearchHandle search);

// Memory streams over data the stream does not own.
struct MemoryStreamRecord {
  const unsigned char* data;
  int64_t size;
  int64_t position;
  int end;
};
int MemoryStreamClose(StreamHandle handle);
int64_t MemoryStreamTell(StreamHandle handle);
int MemoryStreamSeek(StreamHandle handle, int64_t offset, int origin);
size_t MemoryStreamRead(void* destination, size_t element_size, size_t count, StreamHandle handle);
int MemoryStreamEof(StreamHandle handle);
int MemoryStreamIdleCheck(StreamHandle handle);
