// lib/core/plain_file.cpp - plain files, the file-access thread and the path,
// temporary-file, time and search helpers of the plain-file set.
#include "lib/core/plain_file.h"

#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/core/charset.h"
#include "platform/kernel/file.h"
#include "platform/kernel/kernel.h"

namespace {

constexpr uint32_t kPlainFileMagic = 0x504C4E46;  // marks a live record

enum Command { kOpen = 0, kCloseFile = 1, kRead = 2, kSeek = 3, kEnd = 4 };

struct PlainFileRecord {
  uint32_t magic;
  // The caller's side.
  plat::File* file;  // direct mode
  uint32_t file_offset;  // direct mode: where the open file stands
  int threaded;
  int cache_flag;
  int no_wait;
  int end_flag;
  uint32_t position;
  uint32_t size;
  // The thread's side, handed over through the two events.
  uint32_t thread_id;
  plat::Thread* thread;
  plat::File* thread_file;
  plat::Event* command_event;  // manual reset, clear: a command waits
  plat::Event* done_event;     // manual reset, set: no command in progress
  int command;
  int thread_ended;
  int open_failed;
  char* file_name;
  unsigned char* read_destination;
  uint32_t read_position;
  uint32_t read_count;
  uint32_t read_done;  // bytes the last read delivered, cache and file together
  uint32_t seek_position;
  unsigned char* cache;
  uint32_t cache_position;
  uint32_t cache_fill;
};

PlainFileRecord* ToRecord(FileHandle handle) {
  auto* record = reinterpret_cast<PlainFileRecord*>(handle);
  if (!record || record->magic != kPlainFileMagic) return nullptr;
  return record;
}

void FreeRecord(PlainFileRecord* record) {
  record->magic = 0;
  if (record->file_name) RR_FREE(record->file_name);
  RR_FREE(record);
}

// Reads from the file at a position into memory; the bytes read.
uint32_t ReadAt(plat::File* file, uint32_t position, void* destination, uint32_t count) {
  if (!file || count == 0) return 0;
  if (plat::SeekFile(file, position, 0) < 0) return 0;
  int64_t got = plat::ReadFile(file, destination, count);
  return got < 0 ? 0 : static_cast<uint32_t>(got);
}

// Reads ahead into the cache; false when there is nothing more to read (the
// cache is full or the file ends), so the thread need not wake until the next
// command.
bool RefillCache(PlainFileRecord* r) {
  if (!r->thread_file || r->cache_fill >= kPlainFileCacheSize) return false;
  uint32_t got = ReadAt(r->thread_file, r->cache_position + r->cache_fill, r->cache + r->cache_fill,
                        kPlainFileCacheSize - r->cache_fill);
  r->cache_fill += got;
  return got > 0 && r->cache_fill < kPlainFileCacheSize;
}

void ExecuteRead(PlainFileRecord* r) {
  uint32_t done = 0;
  if (r->cache && r->cache_fill > 0 && r->read_position == r->cache_position) {
    uint32_t n = r->read_count < r->cache_fill ? r->read_count : r->cache_fill;
    std::memcpy(r->read_destination, r->cache, n);
    r->read_destination += n;
    r->read_position += n;
    r->cache_position += n;
    r->read_count -= n;
    r->cache_fill -= n;
    std::memmove(r->cache, r->cache + n, r->cache_fill);
    done += n;
  }
  if (r->read_count > 0) {
    uint32_t got = ReadAt(r->thread_file, r->read_position, r->read_destination, r->read_count);
    r->read_count = got;
    done += got;
    if (r->cache) {
      r->cache_fill = 0;
      r->cache_position = r->read_position + got;
    }
  }
  r->read_done = done;
}

uint32_t FileAccessThread(void* argument) {
  auto* r = static_cast<PlainFileRecord*>(argument);
  bool more_to_read = true;
  for (;;) {
    if (r->cache && more_to_read) {
      if (plat::WaitEvent(r->command_event, 100) != 0) {
        // Idle: keep the read-ahead cache full. A time-out never runs a command.
        more_to_read = RefillCache(r);
        continue;
      }
    } else {
      plat::WaitEvent(r->command_event, plat::kInfinite);
    }
    plat::ResetEvent(r->command_event);
    plat::ResetEvent(r->done_event);
    more_to_read = true;
    switch (r->command) {
      case kOpen:
        r->thread_file = plat::OpenFileForRead(r->file_name);
        if (!r->thread_file) {
          r->open_failed = 1;
          r->thread_ended = 1;
          plat::SetEvent(r->done_event);
          return 1;
        }
        break;
      case kCloseFile:
        if (r->thread_file) plat::CloseFile(r->thread_file);
        r->thread_file = nullptr;
        break;
      case kRead:
        ExecuteRead(r);
        break;
      case kSeek:
        if (r->thread_file) plat::SeekFile(r->thread_file, r->seek_position, 0);
        if (r->cache) {
          r->cache_fill = 0;
          r->cache_position = r->seek_position;
        }
        break;
      case kEnd:
      default:
        if (r->thread_file) plat::CloseFile(r->thread_file);
        r->thread_file = nullptr;
        r->thread_ended = 1;
        plat::SetEvent(r->done_event);
        return 1;
    }
    plat::SetEvent(r->done_event);
  }
}

// A command is given in two steps: wait until the previous one is finished
// (only then do the request fields belong to the caller), fill the request,
// then hand it over.
void WaitForThread(PlainFileRecord* r) { plat::WaitEvent(r->done_event, plat::kInfinite); }

void HandOver(PlainFileRecord* r, int command) {
  r->command = command;
  plat::ResetEvent(r->done_event);
  plat::SetEvent(r->command_event);
}

void GiveCommand(PlainFileRecord* r, int command) {
  WaitForThread(r);
  HandOver(r, command);
}

void EndThread(PlainFileRecord* r) {
  plat::WaitThread(r->thread, plat::kInfinite);
  plat::CloseThread(r->thread);
  r->thread = nullptr;
}

void ReleaseThreadedParts(PlainFileRecord* r) {
  if (r->cache) RR_FREE(r->cache);
  r->cache = nullptr;
  if (r->command_event) plat::CloseEvent(r->command_event);
  if (r->done_event) plat::CloseEvent(r->done_event);
  r->command_event = r->done_event = nullptr;
}

// The size of the file at path, or -1 when it cannot be opened or is 4 GB or more
// (positions are 32-bit).
int64_t OpenForSize(const char* path, plat::File** keep) {
  int64_t size = -1;
  plat::File* file = plat::OpenFileForRead(path, &size);
  if (!file) return -1;
  if (size < 0 || size > 0xFFFFFFFFLL) {
    plat::CloseFile(file);
    return -1;
  }
  if (keep) {
    *keep = file;
  } else {
    plat::CloseFile(file);
  }
  return size;
}

}  // namespace

FileHandle PlainFileOpen(const char* path, int cache, int, int no_wait) {
  if (!path) return 0;
  auto* r = static_cast<PlainFileRecord*>(RR_CALLOC(sizeof(PlainFileRecord)));
  if (!r) return 0;
  r->magic = kPlainFileMagic;
  r->cache_flag = cache;
  r->no_wait = no_wait;
  r->threaded = (cache || no_wait) ? 1 : 0;

  if (!r->threaded) {
    int64_t size = OpenForSize(path, &r->file);
    if (size < 0) {
      FreeRecord(r);
      return 0;
    }
    r->size = static_cast<uint32_t>(size);
    return reinterpret_cast<FileHandle>(r);
  }

  int64_t size = OpenForSize(path, nullptr);
  if (size < 0) {
    FreeRecord(r);
    return 0;
  }
  r->size = static_cast<uint32_t>(size);
  size_t name_length = std::strlen(path);
  r->file_name = static_cast<char*>(RR_ALLOC(name_length + 1));
  if (!r->file_name) {
    FreeRecord(r);
    return 0;
  }
  std::memcpy(r->file_name, path, name_length + 1);
  if (cache) {
    r->cache = static_cast<unsigned char*>(RR_ALLOC(kPlainFileCacheSize));
    if (!r->cache) {
      FreeRecord(r);
      WriteLogLine("ファイル読み込みキャッシュ用メモリの確保に失敗しました\n");
      return 0;
    }
  }
  r->command_event = plat::CreateEvent(true, false);
  r->done_event = plat::CreateEvent(true, true);
  if (r->command_event && r->done_event) {
    r->thread = plat::CreateThread(FileAccessThread, r, &r->thread_id);
  }
  if (!r->thread) {
    ReleaseThreadedParts(r);
    FreeRecord(r);
    WriteLogLine("ファイルアクセス専用スレッドの作成に失敗しました\n");
    return 0;
  }
  GiveCommand(r, kOpen);
  plat::WaitEvent(r->done_event, plat::kInfinite);
  if (r->open_failed) {
    ReleaseThreadedParts(r);
    EndThread(r);
    FreeRecord(r);
    WriteLogLine("ファイルのオープンに失敗しました\n");
    return 0;
  }
  return reinterpret_cast<FileHandle>(r);
}

int PlainFileClose(FileHandle handle) {
  PlainFileRecord* r = ToRecord(handle);
  if (!r) return -1;
  if (!r->threaded) {
    int result = plat::CloseFile(r->file);
    FreeRecord(r);
    return result == 0 ? 0 : -1;
  }
  GiveCommand(r, kEnd);
  plat::WaitEvent(r->done_event, plat::kInfinite);
  EndThread(r);
  ReleaseThreadedParts(r);
  FreeRecord(r);
  return 0;
}

int64_t PlainFileTell(FileHandle handle) {
  PlainFileRecord* r = ToRecord(handle);
  return r ? r->position : -1;
}

int64_t PlainFileSize(FileHandle handle) {
  PlainFileRecord* r = ToRecord(handle);
  return r ? r->size : -1;
}

int PlainFileEof(FileHandle handle) {
  PlainFileRecord* r = ToRecord(handle);
  if (!r) return -1;
  return r->end_flag ? -1 : 0;
}

int PlainFileIdleCheck(FileHandle handle) {
  PlainFileRecord* r = ToRecord(handle);
  if (!r) return 1;
  if (!r->threaded) return 1;
  return plat::WaitEvent(r->done_event, 0) == 0 ? 1 : 0;
}

void PlainFileWaitIdle(FileHandle handle) {
  PlainFileRecord* r = ToRecord(handle);
  if (r && r->threaded) WaitForThread(r);
}

int PlainFileSeek(FileHandle handle, int64_t offset, int origin) {
  PlainFileRecord* r = ToRecord(handle);
  if (!r) return -1;
  int64_t base = origin == 1 ? r->position : origin == 2 ? r->size : 0;
  int64_t target = base + offset;
  // Positions are 32-bit and never negative.
  if (offset < -(1LL << 40) || offset > (1LL << 40) || target < 0 || target > 0xFFFFFFFFLL) return -1;
  if (r->threaded) {
    WaitForThread(r);
    r->seek_position = static_cast<uint32_t>(target);
    HandOver(r, kSeek);
  }
  r->position = static_cast<uint32_t>(target);
  r->end_flag = 0;
  return 0;
}

size_t PlainFileRead(void* destination, size_t element_size, size_t count, FileHandle handle) {
  PlainFileRecord* r = ToRecord(handle);
  if (!r || element_size == 0) return 0;
  if (r->position >= r->size) {
    r->end_flag = 1;
    return 0;
  }
  uint64_t remaining = r->size - r->position;
  size_t bytes;
  if (__builtin_mul_overflow(element_size, count, &bytes) || bytes > remaining) {
    count = static_cast<size_t>(remaining / element_size);
    if (count == 0) {
      r->end_flag = 1;
      return 0;
    }
  }
  bytes = element_size * count;
  if (!r->threaded) {
    // A seek only moves the position; the open file follows at the next read.
    if (r->file_offset != r->position) {
      if (plat::SeekFile(r->file, r->position, 0) < 0) return 0;
      r->file_offset = r->position;
    }
    int64_t got = plat::ReadFile(r->file, destination, bytes);
    if (got <= 0) return 0;
    // The position follows what was read, so a short read is not skipped over.
    r->position += static_cast<uint32_t>(got);
    r->file_offset = r->position;
    return static_cast<size_t>(got) / element_size;
  }
  WaitForThread(r);
  r->read_destination = static_cast<unsigned char*>(destination);
  r->read_position = r->position;
  r->read_count = static_cast<uint32_t>(bytes);
  HandOver(r, kRead);
  if (r->no_wait) {
    r->position += static_cast<uint32_t>(bytes);
    return count;
  }
  plat::WaitEvent(r->done_event, plat::kInfinite);
  r->position += r->read_done;
  return r->read_done / element_size;
}

int PlainSetCurrentDir(const char* path) { return path ? plat::SetCurrentDirectory(path) : 0; }

// The length written, or (for a folder too long for the 260 bytes) the size
// needed, with nothing written.
int PlainGetCurrentDir(char* buffer) {
  if (!buffer) return 0;
  return static_cast<int>(plat::GetCurrentDirectory(static_cast<uint32_t>(kMaxPath), buffer));
}

int FileTimeToDate(uint64_t file_time, int out[6]) {
  if (plat::FileTimeToLocalDate(file_time, out) != 0) {
    for (int i = 0; i < 6; ++i) out[i] = 0;
    return -1;
  }
  return 0;
}

void FindDataToFileInfo(const plat::FindData* data, FileInfo* info) {
  std::memset(info, 0, sizeof(*info));
  std::memcpy(info->name, data->name, sizeof(info->name));
  info->name[sizeof(info->name) - 1] = '\0';
  info->is_directory = (data->attributes & plat::kFileAttributeDirectory) ? 1 : 0;
  info->size = data->size;
  FileTimeToDate(data->creation_time, info->creation_time);
  FileTimeToDate(data->last_write_time, info->last_write_time);
}

SearchHandle PlainFindFirst(const char* path, FileInfo* info) {
  plat::FindData data;
  plat::Search* search = plat::FindFirstFile(path, &data);
  if (!search) return -1;
  if (info) FindDataToFileInfo(&data, info);
  return reinterpret_cast<SearchHandle>(search);
}

int PlainFindNext(SearchHandle search, FileInfo* info) {
  if (search == -1 || search == 0) return -1;
  plat::FindData data;
  if (!plat::FindNextFile(reinterpret_cast<plat::Search*>(search), &data)) return -1;
  if (info) FindDataToFileInfo(&data, info);
  return 0;
}

int PlainFindClose(SearchHandle search) {
  if (search == -1 || search == 0) return -1;
  return plat::FindClose(reinterpret_cast<plat::Search*>(search)) == 0 ? 0 : -1;
}

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// No character set has a lead byte below 0x80, so a path's ASCII needs no
// look at the current set.
bool IsLead(unsigned char c) { return c >= 0x80 && IsLibraryLeadByte(c); }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// An output buffer that refuses to overflow.
struct PathBuilder {
  char* out;
  size_t capacity;
  size_t length = 0;
  bool overflow = false;

  void Append(const char* text, size_t n, bool upper) {
    if (length + n + 1 > capacity) {
      overflow = true;
      return;
    }
    for (size_t i = 0; i < n; ++i) {
      // Only single-byte a to z change; a trail byte is never touched because
      // the caller hands whole characters and upper-cases lead bytes' pairs as is.
      out[length + i] = text[i];
    }
    if (upper) UpperDbcs(out + length, n);
    length += n;
    out[length] = '\0';
  }
  static void UpperDbcs(char* text, size_t n) {
    for (size_t i = 0; i < n;) {
      if (IsLead(static_cast<unsigned char>(text[i])) && i + 1 < n) {
        i += 2;
      } else {
        text[i] = Upper(text[i]);
        ++i;
      }
    }
  }
};

}  // namespace

int MakeFullPathSized(const char* path, char* out, size_t out_size, const char* base, int upper) {
  if (!out || out_size == 0) return -1;
  char current[kMaxPath * 4];
  if (!base) {
    current[0] = '\0';
    int n = FileGetDirThunk(current);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(current)) current[0] = '\0';
    base = current;
  }
  // A base that begins with a single "/" is a POSIX folder: it has no drive,
  // and its elements are joined with "/".
  bool posix = base[0] == '/' && base[1] != '/';
  char separator = posix ? '/' : '\\';
  PathBuilder b{out, out_size};
  out[0] = '\0';
  size_t base_length = std::strlen(base);

  if (!path) {
    b.Append(base, base_length, upper);
    if (b.overflow) {
      out[0] = '\0';
      return -1;
    }
    return 0;
  }

  const char* p = path;
  if (IsSeparator(p[0]) && p[1] == p[0]) {
    b.Append("\\", 1, false);
    if (posix) out[0] = '/';
    p += 2;
  } else if (IsSeparator(p[0])) {
    // The drive of the base; a POSIX folder's root is empty until an element follows.
    if (!posix) b.Append(base, base_length < 2 ? base_length : 2, upper);
    p += 1;
  } else if (((p[0] >= 'a' && p[0] <= 'z') || (p[0] >= 'A' && p[0] <= 'Z')) && p[1] == ':') {
    b.Append(p, 2, upper);
    p += 2;
    if (IsSeparator(*p)) ++p;
  } else {
    // The base without its trailing separators (a trail byte 0x5C is no separator).
    size_t n = 0;
    for (size_t i = 0; i < base_length;) {
      size_t step = (IsLead(static_cast<unsigned char>(base[i])) && i + 1 < base_length) ? 2 : 1;
      if (step == 2 || !IsSeparator(base[i])) n = i + step;
      i += step;
    }
    // A POSIX root leaves nothing: elements bring their own "/".
    b.Append(base, n, upper);
  }

  auto remove_last = [&]() {
    // Step back to the last separator, a whole character at a time.
    size_t cut = kNone;
    bool keep = false;
    for (size_t i = 0; i < b.length;) {
      unsigned char c = static_cast<unsigned char>(out[i]);
      if (IsLead(c) && i + 1 < b.length) {
        i += 2;
        continue;
      }
      if (c == '\\' || (posix && c == '/')) {
        cut = i;
        keep = false;
      } else if (c == '/' || c == ':') {
        cut = i;
        keep = true;
      }
      ++i;
    }
    if (cut == kNone) {
      b.length = 0;
    } else {
      b.length = keep ? cut + 1 : cut;
    }
    out[b.length] = '\0';
  };

  const char* element = p;
  for (;;) {
    bool at_end = *p == '\0';
    if (at_end || IsSeparator(*p)) {
      size_t n = static_cast<size_t>(p - element);
      if (n > 0) {
        if (!at_end && n == 1 && element[0] == '.') {
          // dropped
        } else if (!at_end && n == 2 && element[0] == '.' && element[1] == '.') {
          remove_last();
        } else {
          b.Append(&separator, 1, false);
          b.Append(element, n, upper);
        }
      }
      if (at_end) break;
      ++p;
      element = p;
      continue;
    }
    if (IsLead(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      p += 2;
    } else {
      ++p;
    }
  }
  if (posix && b.length == 0) b.Append("/", 1, false);
  if (b.overflow) {
    out[0] = '\0';
    return -1;
  }
  return 0;
}

int MakeFullPath(const char* path, char* out, const char* base) {
  return MakeFullPathSized(path, out, kMaxPath, base, 0);
}

int MakeFullPathUpper(const char* path, char* out, size_t out_size, const char* base) {
  return MakeFullPathSized(path, out, out_size, base, 1);
}

plat::WriteFile* CreateTempFile(char* name) {
  char folder[kMaxPath];
  uint32_t n = plat::GetTempDirectory(256, folder);
  if (n == 0 || n >= 256) return nullptr;
  if (folder[n - 1] != '\\' && folder[n - 1] != '/') {
    folder[n] = '\\';
    folder[n + 1] = '\0';
  }
  char unique[kMaxPath];
  if (!plat::GetTempFileName(folder, "tmp", unique)) return nullptr;
  char full[kMaxPath];
  if (MakeFullPath(unique, full, nullptr) != 0) return nullptr;
  plat::DeleteFile(full);
  plat::WriteFile* file = plat::CreateNewFile(full);
  if (!file) return nullptr;
  if (name) std::memcpy(name, full, std::strlen(full) + 1);
  return file;
}
