// lib/core/archive_files.cpp - the archive-aware file functions, the cache of
// open archives and the archive extension.
#include "lib/core/archive_files.h"

#include <cstring>

#include "lib/core/charset.h"
#include "lib/core/file_functions.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/core/pack_archive.h"
#include "lib/core/plain_file.h"
#include "platform/kernel/file.h"
#include "platform/kernel/kernel.h"

namespace {

constexpr FileHandle kHandleTag = 0xF0000000;
constexpr size_t kLongPath = kMaxPath * 4;

struct OpenFileRecord {
  int in_archive;
  FileHandle plain;
  int slot;
  ArchiveEntryReader reader;
};

struct CacheEntry {
  int use_count;
  ArchiveRecord record;
  char path[kLongPath];  // the upper-case path: archives are told apart without case
  // The archive file as it was when read: a use that finds another file
  // there (replaced, rewritten or deleted) reads the archive afresh.
  plat::FileIdentity identity;
  // Replaced while files or searches still use it: no longer found by its
  // path, freed when the last of them lets go.
  int stale;
};

constexpr uint32_t kSearchMagic = 0x41535243;

struct SearchRecord {
  uint32_t magic;
  int in_archive;
  int slot;
  SearchHandle plain;
  ArchiveSearch* search;
};

OpenFileRecord* g_files[kMaxOpenFiles];
int g_file_count = 0;
CacheEntry* g_cache[kMaxCachedArchives];
int g_cache_count = 0;
char g_extension[64];
size_t g_extension_length = 0;
// The archive that matched last: its upper-case folder prefix and slot.
char g_last_prefix[kLongPath];
size_t g_last_prefix_length = 0;
int g_last_slot = -1;
char g_last_open_path[kLongPath];
int g_plain_first = 0;
const char* g_key_string = nullptr;

// The layer's tables are shared by every thread that reads files (the sound
// thread streams through them), and archives read on demand share one file
// position: every operation runs under this lock.
plat::CriticalSection g_lock;

struct Lock {
  Lock() { g_lock.Enter(); }
  ~Lock() { g_lock.Leave(); }
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

OpenFileRecord* ToFile(FileHandle handle) {
  // Only handles that this layer handed out: tagged, within the table, open.
  if ((handle & kHandleTag) != kHandleTag) return nullptr;
  uint64_t high = static_cast<uint64_t>(handle) >> 32;
  if (high != 0 && high != 0xFFFFFFFFu) return nullptr;
  FileHandle slot = handle & 0x0FFFFFFF;
  if (slot >= kMaxOpenFiles) return nullptr;
  return g_files[slot];
}

void UpperExtension(char* out) {
  const char* ext = GetArchiveExtension();
  size_t i = 0;
  for (; ext[i]; ++i) {
    char c = ext[i];
    out[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  }
  out[i] = '\0';
}

void FreeEntry(int slot) {
  CloseArchive(&g_cache[slot]->record);
  RR_FREE(g_cache[slot]);
  g_cache[slot] = nullptr;
  --g_cache_count;
}

// Takes a cached archive for a new use when the file at its path is still
// the one it was read from (one status query); otherwise the entry goes (at
// once, or when its last user lets go) and false sends the caller to read
// the path afresh.
bool UseIfCurrent(int slot, const char* open_path) {
  CacheEntry* entry = g_cache[slot];
  plat::FileIdentity now{};
  if (plat::GetFileIdentity(open_path, &now) && plat::SameFileIdentity(now, entry->identity)) {
    ++entry->use_count;
    return true;
  }
  if (entry->use_count < 1) {
    FreeEntry(slot);
  } else {
    entry->stale = 1;
    entry->path[0] = '\0';  // no key is empty
  }
  return false;
}

// Looks for the path in the cache (case-sensitive on the upper-case key) and
// opens it there when it is not; open_path is the path with its own case.
int OpenCached(int hint, const char* key, const char* open_path, int read_whole, int no_wait) {
  if (hint >= 0 && hint < kMaxCachedArchives && g_cache[hint] &&
      std::strcmp(g_cache[hint]->path, key) == 0) {
    if (UseIfCurrent(hint, open_path)) return hint;
  }
  // The table is walked from its end: the highest free slot is the one a new
  // archive takes, and the walk stops once every open archive was compared
  // (keys are unique, so which match comes first does not matter).
  int empty = -1;
  int compared = 0;
  for (int i = kMaxCachedArchives - 1; i >= 0 && (compared < g_cache_count || empty < 0); --i) {
    if (!g_cache[i]) {
      if (empty < 0) empty = i;
      continue;
    }
    ++compared;
    if (std::strcmp(g_cache[i]->path, key) == 0) {
      if (UseIfCurrent(i, open_path)) return i;
      // Its slot may be free now: the walk goes on past it for one.
      if (!g_cache[i] && empty < 0) empty = i;
    }
  }
  if (g_cache_count >= kMaxCachedArchives) {
    CloseUnusedArchives();
    if (g_cache_count >= kMaxCachedArchives) return -1;
  }
  if (empty < 0 || g_cache[empty]) {
    empty = -1;
    for (int i = 0; i < kMaxCachedArchives; ++i) {
      if (!g_cache[i]) {
        empty = i;
        break;
      }
    }
    if (empty < 0) return -1;
  }
  size_t key_length = std::strlen(key);
  if (key_length >= sizeof(CacheEntry::path)) return -1;
  // Taken before the file is read: a change made in between shows as a
  // change at the next use, never the other way round.
  plat::FileIdentity identity{};
  if (!plat::GetFileIdentity(open_path, &identity)) return -1;
  // An archive read on demand is opened before its entry is made: most
  // folders tried have none. (A whole read may be in flight into its record.)
  ArchiveRecord on_demand{};
  if (!read_whole && OpenArchiveFile(&on_demand, open_path, g_key_string) != 0) return -1;
  auto* entry = static_cast<CacheEntry*>(RR_CALLOC(sizeof(CacheEntry)));
  if (!entry) {
    if (!read_whole) CloseArchive(&on_demand);
    return -1;
  }
  if (!read_whole) {
    entry->record = on_demand;
  } else if (OpenArchiveFileWhole(&entry->record, open_path, g_key_string, no_wait) != 0) {
    RR_FREE(entry);
    return -1;
  }
  entry->use_count = 1;
  entry->identity = identity;
  std::memcpy(entry->path, key, key_length + 1);
  g_cache[empty] = entry;
  ++g_cache_count;
  return empty;
}

// Writes "<the first n bytes of prefix>.<ext>" (ext of ext_length bytes) into
// out of kLongPath bytes; its length, or 0 when it does not fit.
size_t JoinExtension(char* out, const char* prefix, size_t n, const char* ext, size_t ext_length) {
  if (n + 1 + ext_length >= kLongPath) return 0;
  std::memcpy(out, prefix, n);
  out[n] = '.';
  std::memcpy(out + n + 1, ext, ext_length + 1);
  return n + 1 + ext_length;
}

// Length of the next character of a library path.
size_t CharLength(const char* p) {
  // No character set has a lead byte below 0x80.
  unsigned char c = static_cast<unsigned char>(*p);
  return (c >= 0x80 && IsLibraryLeadByte(c) && p[1]) ? 2 : 1;
}

int FindArchiveLocked(const char* path, int* slot_out, char* archive_path, char* rest) {
  if (!path) return -1;
  // Each folder's archive is checked in turn: the reports of folder changes
  // are read once for the whole walk.
  plat::PathCheckBatch batch;
  // The current folder is asked once and serves both spellings.
  char current[kLongPath] = "";
  int n = FileGetDirThunk(current);
  if (n < 0 || static_cast<size_t>(n) >= sizeof(current)) current[0] = '\0';
  char upper[kLongPath], original[kLongPath];
  if (MakeFullPathSized(path, upper, sizeof(upper), current, 1) != 0) return -1;
  if (MakeFullPathSized(path, original, sizeof(original), current, 0) != 0) return -1;
  size_t length = std::strlen(upper);
  if (std::strlen(original) != length) return -1;
  char ext[64];
  UpperExtension(ext);
  const char* ext_as_set = GetArchiveExtension();
  size_t ext_length = std::strlen(ext_as_set);

  int slot = -1;
  size_t prefix = 0;
  if (g_last_prefix_length > 0 && g_last_prefix_length < length &&
      std::memcmp(upper, g_last_prefix, g_last_prefix_length) == 0 &&
      IsSeparator(upper[g_last_prefix_length])) {
    char key[kLongPath];
    if (JoinExtension(key, g_last_prefix, g_last_prefix_length, ext, ext_length) > 0) {
      slot = OpenCached(g_last_slot, key, g_last_open_path, 0, 0);
    }
    if (slot >= 0) {
      prefix = g_last_prefix_length;
      g_last_slot = slot;
    } else {
      g_last_prefix_length = 0;
    }
  }
  if (slot < 0) {
    size_t i = 0;
    // A network path's two leading separators are not folders.
    if (IsSeparator(upper[0]) && IsSeparator(upper[1])) i = 2;
    size_t element_start = i;
    for (; i < length; i += CharLength(upper + i)) {
      if (!IsSeparator(upper[i])) continue;
      if (i > element_start) {
        char key[kLongPath], open_path[kLongPath];
        size_t n2 = JoinExtension(open_path, original, i, ext_as_set, ext_length);
        if (n2 > 0) {
          JoinExtension(key, upper, i, ext, ext_length);
          slot = OpenCached(-1, key, open_path, 0, 0);
          if (slot >= 0) {
            prefix = i;
            std::memcpy(g_last_prefix, upper, i);
            g_last_prefix[i] = '\0';
            g_last_prefix_length = i;
            std::memcpy(g_last_open_path, open_path, n2 + 1);
            g_last_slot = slot;
            break;
          }
        }
      }
      element_start = i + 1;
    }
  }
  if (slot < 0) return -1;
  if (slot_out) *slot_out = slot;
  if (archive_path) std::strcpy(archive_path, g_cache[slot]->path);
  if (rest) std::strcpy(rest, original + prefix + 1);
  return 0;
}

}  // namespace

int SetArchiveExtension(const char* extension) {
  Lock lock;
  size_t n = extension ? std::strlen(extension) : 0;
  if (n == 0 || n >= 64) {
    g_extension[0] = '\0';
    g_extension_length = 0;
  } else {
    std::memcpy(g_extension, extension, n + 1);
    g_extension_length = n;
  }
  // The remembered archive was found under the old extension.
  g_last_prefix_length = 0;
  return 0;
}

int SetArchiveExtensionEntry(const char* extension) { return SetArchiveExtension(extension); }

const char* GetArchiveExtension() { return g_extension_length ? g_extension : "RRA"; }

int FindArchiveForPath(const char* path, int* slot, char* archive_path, char* rest) {
  Lock lock;
  return FindArchiveLocked(path, slot, archive_path, rest);
}

int OpenArchiveCached(int hint, const char* path, int read_whole, int no_wait) {
  Lock lock;
  if (!path) return -1;
  return OpenCached(hint, path, path, read_whole, no_wait);
}

void CloseUnusedArchives() {
  Lock lock;
  for (int i = 0; i < kMaxCachedArchives; ++i) {
    if (g_cache[i] && g_cache[i]->use_count < 1) FreeEntry(i);
  }
}

int ArchiveCacheEnd() {
  CloseUnusedArchives();
  return 0;
}

void ReleaseArchive(int slot) {
  Lock lock;
  if (slot >= 0 && slot < kMaxCachedArchives && g_cache[slot] && g_cache[slot]->use_count > 0) {
    --g_cache[slot]->use_count;
    if (g_cache[slot]->stale && g_cache[slot]->use_count == 0) FreeEntry(slot);
  }
}

int GetArchiveCacheUseCount(int slot) {
  Lock lock;
  if (slot < 0 || slot >= kMaxCachedArchives || !g_cache[slot]) return -1;
  return g_cache[slot]->use_count;
}

int GetOpenArchiveFileCount() {
  Lock lock;
  return g_file_count;
}

FileHandle ArchiveFileOpen(const char* path, int cache, int, int no_wait) {
  Lock lock;
  if (!path) return 0;
  if (g_file_count >= kMaxOpenFiles) {
    WriteLogLine("同時に開けるファイルの数が限界を超えました\n");
    return 0;
  }
  int index = 0;
  while (index < kMaxOpenFiles && g_files[index]) ++index;
  if (index >= kMaxOpenFiles) {
    WriteLogLine("同時に開けるファイルの数が限界を超えました\n");
    return 0;
  }
  auto* f = static_cast<OpenFileRecord*>(RR_CALLOC(sizeof(OpenFileRecord)));
  if (!f) {
    WriteLogLine("ファイルの情報を格納するメモリの確保に失敗しました\n");
    return 0;
  }
  g_files[index] = f;
  bool ok = false;
  auto open_in_archive = [&](int slot, const char* rest) -> bool {
    f->in_archive = 1;
    f->slot = slot;
    if (OpenArchiveFileEntry(&f->reader, &g_cache[slot]->record, rest, no_wait) != 0) {
      // The archive stands for the folder: the plain file is not tried.
      WriteLogLine("ＲＲＡファイルの中に指定のファイルは見つかりませんでした\n");
      ReleaseArchive(slot);
      f->in_archive = 0;
      return false;
    }
    return true;
  };
  int slot;
  char rest[kLongPath];
  if (!g_plain_first) {
    if (FindArchiveLocked(path, &slot, nullptr, rest) != 0) {
      f->plain = PlainFileOpen(path, cache, 1, no_wait);
      ok = f->plain != 0;
    } else {
      ok = open_in_archive(slot, rest);
    }
  } else {
    f->plain = PlainFileOpen(path, cache, 1, no_wait);
    ok = f->plain != 0;
    if (!ok && FindArchiveLocked(path, &slot, nullptr, rest) == 0) ok = open_in_archive(slot, rest);
  }
  if (!ok) {
    RR_FREE(f);
    g_files[index] = nullptr;
    return 0;
  }
  ++g_file_count;
  return static_cast<FileHandle>(index) | kHandleTag;
}

int ArchiveFileClose(FileHandle handle) {
  Lock lock;
  OpenFileRecord* f = ToFile(handle);
  if (!f) return -1;
  if (f->in_archive) {
    // The entry first: a read it still has pending goes on in the archive's
    // record, which letting go of the archive may free (a replaced archive
    // is freed with its last user).
    CloseArchiveFileEntry(&f->reader);
    ReleaseArchive(f->slot);
  } else {
    PlainFileClose(f->plain);
  }
  RR_FREE(f);
  g_files[handle & 0x0FFFFFFF] = nullptr;
  --g_file_count;
  return 0;
}

int64_t ArchiveFileTell(FileHandle handle) {
  Lock lock;
  OpenFileRecord* f = ToFile(handle);
  if (!f) return -1;
  return f->in_archive ? TellArchiveFileEntry(&f->reader) : PlainFileTell(f->plain);
}

int ArchiveFileSeek(FileHandle handle, int64_t offset, int origin) {
  Lock lock;
  OpenFileRecord* f = ToFile(handle);
  if (!f) return -1;
  return f->in_archive ? SeekArchiveFileEntry(&f->reader, offset, origin)
                       : PlainFileSeek(f->plain, offset, origin);
}

size_t ArchiveFileRead(void* destination, size_t element_size, size_t count, FileHandle handle) {
  Lock lock;
  OpenFileRecord* f = ToFile(handle);
  if (!f) return 0;
  if (!f->in_archive) return PlainFileRead(destination, element_size, count, f->plain);
  if (element_size == 0) return 0;
  size_t bytes;
  if (__builtin_mul_overflow(element_size, count, &bytes)) bytes = SIZE_MAX - SIZE_MAX % element_size;
  return ReadArchiveFileEntry(&f->reader, destination, bytes) / element_size;
}

int ArchiveFileEof(FileHandle handle) {
  Lock lock;
  OpenFileRecord* f = ToFile(handle);
  if (!f) return -1;
  return f->in_archive ? EofArchiveFileEntry(&f->reader) : PlainFileEof(f->plain);
}

int ArchiveFileIdle(FileHandle handle) {
  Lock lock;
  OpenFileRecord* f = ToFile(handle);
  if (!f) return -1;
  return f->in_archive ? FinishArchivePendingRead(&f->reader) : PlainFileIdleCheck(f->plain);
}

int ArchiveFileSetDir(const char* path) {
  if (path) plat::SetCurrentDirectory(path);
  return 0;
}

int ArchiveFileGetDir(char* buffer) {
  if (!buffer) return 0;
  uint32_t n = plat::GetCurrentDirectory(256, buffer);
  if (n == 0 || n >= 256) buffer[0] = '\0';
  return 0;
}

SearchHandle ArchiveFileFindFirst(const char* path, FileInfo* info) {
  Lock lock;
  if (!path) return -1;
  auto* s = static_cast<SearchRecord*>(RR_CALLOC(sizeof(SearchRecord)));
  if (!s) return -1;
  s->magic = kSearchMagic;
  int slot;
  char rest[kLongPath];
  if (FindArchiveLocked(path, &slot, nullptr, rest) == 0) {
    s->in_archive = 1;
    s->slot = slot;
    s->search = ArchiveFindFirstCore(&g_cache[slot]->record, rest, info);
    if (!s->search) {
      ReleaseArchive(slot);
      RR_FREE(s);
      return -1;
    }
  } else {
    s->plain = PlainFindFirst(path, info);
    if (s->plain == -1) {
      RR_FREE(s);
      return -1;
    }
  }
  return reinterpret_cast<SearchHandle>(s);
}

namespace {
SearchRecord* ToSearch(SearchHandle handle) {
  if (handle == 0 || handle == -1) return nullptr;
  auto* s = reinterpret_cast<SearchRecord*>(handle);
  return s->magic == kSearchMagic ? s : nullptr;
}
}  // namespace

int ArchiveFileFindNext(SearchHandle handle, FileInfo* info) {
  Lock lock;
  SearchRecord* s = ToSearch(handle);
  if (!s) return -1;
  return s->in_archive ? ArchiveFindNextCore(s->search, info) : PlainFindNext(s->plain, info);
}

int ArchiveFileFindClose(SearchHandle handle) {
  Lock lock;
  SearchRecord* s = ToSearch(handle);
  if (!s) return -1;
  if (s->in_archive) {
    ArchiveFindCloseCore(s->search);
    ReleaseArchive(s->slot);
  } else {
    PlainFindClose(s->plain);
  }
  s->magic = 0;
  RR_FREE(s);
  return 0;
}
