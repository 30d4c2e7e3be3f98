// lib/core/file_functions.cpp - the file-function table, its forwarding
// entries and the two stream tables.
#include "lib/core/file_functions.h"

#include <cstring>

#include "lib/core/archive_files.h"
#include "lib/core/memory.h"
#include "lib/core/plain_file.h"

namespace {

const FileFunctionTable kArchiveSet = {
    ArchiveFileOpen,   ArchiveFileClose,  ArchiveFileTell,     ArchiveFileSeek,
    ArchiveFileRead,   ArchiveFileEof,    ArchiveFileIdle,     ArchiveFileSetDir,
    ArchiveFileGetDir, ArchiveFileFindFirst, ArchiveFileFindNext, ArchiveFileFindClose,
};

const FileFunctionTable kPlainSet = {
    PlainFileOpen,      PlainFileClose, PlainFileTell,      PlainFileSeek,
    PlainFileRead,      PlainFileEof,   PlainFileIdleCheck, PlainSetCurrentDir,
    PlainGetCurrentDir, PlainFindFirst, PlainFindNext,      PlainFindClose,
};

// The archive-aware set is installed from the start, before any call.
FileFunctionTable g_table = kArchiveSet;
int g_plain_mode = 0;

const StreamTable kFileStreams = {
    FileTellThunk, FileSeekThunk, FileReadThunk, FileEofThunk, FileIdleCheckThunk, FileCloseThunk,
};

const StreamTable kMemoryStreams = {
    MemoryStreamTell, MemoryStreamSeek,      MemoryStreamRead,
    MemoryStreamEof,  MemoryStreamIdleCheck, MemoryStreamClose,
};

MemoryStreamRecord* ToMemoryStream(StreamHandle handle) {
  return reinterpret_cast<MemoryStreamRecord*>(handle);
}

}  // namespace

int InstallFileFunctions(const FileFunctionTable* table) {
  if (table) {
    g_table = *table;
  } else {
    g_table = g_plain_mode ? kPlainSet : kArchiveSet;
  }
  return 0;
}

int IsStandardFileFunctionSet() {
  const FileFunctionTable& s = g_plain_mode ? kPlainSet : kArchiveSet;
  const FileFunctionTable& t = g_table;
  return t.open == s.open && t.close == s.close && t.tell == s.tell && t.seek == s.seek &&
         t.read == s.read && t.eof == s.eof && t.set_directory == s.set_directory &&
         t.get_directory == s.get_directory && t.find_first == s.find_first &&
         t.find_next == s.find_next && t.find_close == s.find_close;
}

const FileFunctionTable* GetFileFunctionTable() { return &g_table; }
const FileFunctionTable* GetArchiveFileFunctionSet() { return &kArchiveSet; }
const FileFunctionTable* GetPlainFileFunctionSet() { return &kPlainSet; }

int SetArchiveUse(int flag) {
  int plain = flag ? 0 : 1;
  if (plain == g_plain_mode) return 0;
  // A table that a caller installed stays; only the standard set follows the mode.
  int was_standard = IsStandardFileFunctionSet();
  g_plain_mode = plain;
  if (was_standard) InstallFileFunctions(nullptr);
  return 0;
}

FileHandle FileOpenThunk(const char* path, int cache, int unused, int no_wait) {
  return g_table.open(path, cache, unused, no_wait);
}
int FileCloseThunk(FileHandle handle) { return g_table.close(handle); }
int64_t FileTellThunk(FileHandle handle) { return g_table.tell(handle); }
int FileSeekThunk(FileHandle handle, int64_t offset, int origin) {
  return g_table.seek(handle, offset, origin);
}
size_t FileReadThunk(void* destination, size_t element_size, size_t count, FileHandle handle) {
  return g_table.read(destination, element_size, count, handle);
}
int FileEofThunk(FileHandle handle) { return g_table.eof(handle); }
int FileIdleCheckThunk(FileHandle handle) { return g_table.idle(handle); }
int FileSetDirThunk(const char* path) { return g_table.set_directory(path); }
int FileGetDirThunk(char* buffer) { return g_table.get_directory(buffer); }
SearchHandle FileFindFirstThunk(const char* path, FileInfo* info) {
  return g_table.find_first(path, info);
}
int FileFindNextThunk(SearchHandle search, FileInfo* info) { return g_table.find_next(search, info); }
int FileFindCloseThunk(SearchHandle search) { return g_table.find_close(search); }

const StreamTable* GetFileStreamTable() { return &kFileStreams; }
const StreamTable* GetMemoryStreamTable() { return &kMemoryStreams; }

StreamHandle MemoryStreamOpen(const void* data, size_t size) {
  auto* record = static_cast<MemoryStreamRecord*>(RR_CALLOC(sizeof(MemoryStreamRecord)));
  if (!record) return 0;
  record->data = static_cast<const unsigned char*>(data);
  record->size = static_cast<int64_t>(size);
  return reinterpret_cast<StreamHandle>(record);
}

int MemoryStreamClose(StreamHandle handle) {
  if (handle) RR_FREE(ToMemoryStream(handle));
  return 0;
}

int64_t MemoryStreamTell(StreamHandle handle) { return ToMemoryStream(handle)->position; }

int MemoryStreamEof(StreamHandle handle) { return ToMemoryStream(handle)->end; }

int MemoryStreamIdleCheck(StreamHandle) { return 1; }

int MemoryStreamSeek(StreamHandle handle, int64_t offset, int origin) {
  MemoryStreamRecord* s = ToMemoryStream(handle);
  // Origins other than 1 and 2 count from the start.
  int64_t base = origin == 1 ? s->position : origin == 2 ? s->size : 0;
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target)) target = offset < 0 ? 0 : s->size;
  if (target < 0) target = 0;
  if (target > s->size) target = s->size;
  s->position = target;
  s->end = 0;
  return 0;
}

size_t MemoryStreamRead(void* destination, size_t element_size, size_t count, StreamHandle handle) {
  MemoryStreamRecord* s = ToMemoryStream(handle);
  if (s->position >= s->size) {
    s->end = 1;
    return 0;
  }
  if (element_size == 0 || count == 0) return 0;
  size_t remaining = static_cast<size_t>(s->size - s->position);
  size_t bytes;
  if (__builtin_mul_overflow(element_size, count, &bytes) || bytes > remaining) {
    count = remaining / element_size;
  }
  if (count > 0) {
    bytes = element_size * count;
    std::memcpy(destination, s->data + s->position, bytes);
    s->position += static_cast<int64_t>(bytes);
    s->end = 0;
    return count;
  }
  // Less than one whole element is left: it is handed out as the last one.
  std::memcpy(destination, s->data + s->position, remaining);
  s->position = s->size;
  s->end = 0;
  return 1;
}
