// lib/core/plain_file.h - the plain-file set of the file-function table: files
// of the file system opened for reading, directly or with a file-access thread
// of their own (optionally keeping a 128 KB read-ahead cache, optionally not
// waiting for reads), and the path, temporary-file, time and search helpers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/core/file_functions.h"

namespace plat {
struct FindData;
struct WriteFile;
}  // namespace plat

// The read-ahead cache of a file opened with the cache flag.
constexpr uint32_t kPlainFileCacheSize = 0x20000;
// The size of the path buffers of the file layer.
constexpr size_t kMaxPath = 260;

// Returns the record address as the handle, or 0.
FileHandle PlainFileOpen(const char* path, int cache, int unused, int no_wait);
int PlainFileClose(FileHandle handle);
int64_t PlainFileTell(FileHandle handle);
int PlainFileSeek(FileHandle handle, int64_t offset, int origin);
size_t PlainFileRead(void* destination, size_t element_size, size_t count, FileHandle handle);
int PlainFileEof(FileHandle handle);
int PlainFileIdleCheck(FileHandle handle);
// Blocks until the file's access thread has finished its command (at once for
// a direct file).
void PlainFileWaitIdle(FileHandle handle);
// The file's size as taken at open (used by the archive reader).
int64_t PlainFileSize(FileHandle handle);

int PlainSetCurrentDir(const char* path);
int PlainGetCurrentDir(char* buffer);
SearchHandle PlainFindFirst(const char* path, FileInfo* info);
int PlainFindNext(SearchHandle search, FileInfo* info);
int PlainFindClose(SearchHandle search);
void FindDataToFileInfo(const plat::FindData* data, FileInfo* info);

// Converts a file time to local time: year, month, day, hour, minute, second.
int FileTimeToDate(uint64_t file_time, int out[6]);

// Makes a full path of path against base (null: the current folder as the
// get-directory slot of the file-function table reports it) into out, which
// holds kMaxPath bytes. 0, or -1 (out empty) when the result would not fit.
// A base that begins with one "/" is a POSIX folder: a path beginning with one
// separator starts at its root, and elements are joined with "/".
int MakeFullPath(const char* path, char* out, const char* base);
// The same with every element's a to z upper-cased (double-byte characters
// kept) and the base and drive upper-cased too, in out_size bytes.
int MakeFullPathUpper(const char* path, char* out, size_t out_size, const char* base);
// The same with a chosen output size and case.
int MakeFullPathSized(const char* path, char* out, size_t out_size, const char* base, int upper);

// Makes a new empty file with a unique name in the temporary folder, open for
// writing; copies its full path into name (kMaxPath bytes) when given. Null on
// failure. The caller writes and closes it with the platform's file calls
// (plat::WriteToFile, plat::CloseWriteFile).
plat::WriteFile* CreateTempFile(char* name);
