// lib/core/archive_files.h - the archive-aware set of the file-function table.
// A path is first looked for inside an archive that stands for one of its
// folders (the folder's path with "." and the archive extension appended);
// only when there is none is the plain file opened. Open archives are cached
// and shared by the files and searches that use them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/core/file_functions.h"

constexpr int kMaxOpenFiles = 512;
constexpr int kMaxCachedArchives = 512;

FileHandle ArchiveFileOpen(const char* path, int cache, int unused, int no_wait);
int ArchiveFileClose(FileHandle handle);
int64_t ArchiveFileTell(FileHandle handle);
int ArchiveFileSeek(FileHandle handle, int64_t offset, int origin);
size_t ArchiveFileRead(void* destination, size_t element_size, size_t count, FileHandle handle);
int ArchiveFileEof(FileHandle handle);
int ArchiveFileIdle(FileHandle handle);
int ArchiveFileSetDir(const char* path);
int ArchiveFileGetDir(char* buffer);
SearchHandle ArchiveFileFindFirst(const char* path, FileInfo* info);
int ArchiveFileFindNext(SearchHandle search, FileInfo* info);
int ArchiveFileFindClose(SearchHandle search);

// A non-empty text shorter than 64 characters becomes the extension; anything
// else selects "RRA". 0.
int SetArchiveExtension(const char* extension);
// The extension in use ("RRA" when none is set).
const char* GetArchiveExtension();
// Finds the archive that stands for a folder of path: its cache slot (use count
// raised), its path and the rest of the path inside it. -1 when none.
int FindArchiveForPath(const char* path, int* slot, char* archive_path, char* rest);
// Opens (or takes from the cache) the archive at path; the cache slot or -1.
int OpenArchiveCached(int hint, const char* path, int read_whole, int no_wait);
// Lowers a cache slot's use count (not below 0), as closing a file does.
void ReleaseArchive(int slot);
// Closes every cached archive that no file or search uses.
void CloseUnusedArchives();
int ArchiveCacheEnd();
// Use count of a cache slot (-1 when empty); the number of open files.
int GetArchiveCacheUseCount(int slot);
int GetOpenArchiveFileCount();
