// platform/kernel/file.h - the file services of the operating system: paths,
// creating, deleting and writing files, files opened for reading with shared
// access, the current folder, folder searches with wildcards, temporary files
// and file times.
//
// Paths are code page 932 byte strings as the library holds them. "\" works as
// a separator like "/", and a path that does not exist as written is looked
// up one element at a time without regard to the case of a to z, because the
// library and its users were written for a case-insensitive file system.
// Names are converted to the host's UTF-8 on the way out and back on the way
// in; bytes that do not convert pass unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// ---- Paths and writing files ------------------------------------------------

// The host path for a library path: UTF-8, "/" separators, resolved without
// regard to case where it does not exist as written. Elements that exist
// nowhere are kept as written (so a file about to be created keeps its name).
std::string NativePath(const char* path);

struct WriteFile;  // opaque: an open file for writing

// Deletes a file; false when it did not exist or cannot be deleted.
bool DeleteFile(const char* path);
// Creates a new empty file opened for writing; null when it already exists or
// cannot be made.
WriteFile* CreateNewFile(const char* path);
// Opens a file for writing at its end, creating it when missing; null when it
// cannot be opened.
WriteFile* OpenFileForAppend(const char* path);
// Writes size bytes; false unless all of them were written.
bool WriteToFile(WriteFile* file, const void* data, size_t size);
void CloseWriteFile(WriteFile* file);

// ---- Names -------------------------------------------------------------------

// A host name (UTF-8) in the library's code page 932.
std::string FromHostName(const char* host_name);
// Code page 932 to UTF-8 and back, byte for byte where a sequence does not
// convert. Used by tools that take names from the host.
std::string Cp932ToUtf8(const std::string& text);
std::string Utf8ToCp932(const std::string& text);

// ---- Reading files ---------------------------------------------------------------

struct File;  // opaque

// Opens an existing file for reading, sharing reads with other openers; null
// when it does not exist or cannot be read.
File* OpenFileForRead(const char* path);
// The same, also giving the file's size in bytes as it was when opened (from
// the check made at the open, so that no second query is needed).
File* OpenFileForRead(const char* path, int64_t* size);
// The file's size in bytes, or -1.
int64_t GetFileSize(File* file);
// Moves the file pointer (origin 0 start, 1 current, 2 end); the new position,
// or -1 (the position is then unchanged).
int64_t SeekFile(File* file, int64_t offset, int origin);
// Bytes read (0 at the end), or -1 on failure. Reads until the count is met or
// the end is reached.
int64_t ReadFile(File* file, void* destination, size_t bytes);
// 0, or -1 when the close fails (the handle is gone either way).
int CloseFile(File* file);
// Non-zero when a file or folder of that path exists.
int PathExists(const char* path);

// What tells one version of a file from another without reading it: a file
// replaced (by a rename, or deleted and made again) has another device or
// inode, one rewritten in place another size or modification time.
struct FileIdentity {
  uint64_t device;
  uint64_t inode;
  int64_t size;
  int64_t modified_ns;
};
inline bool SameFileIdentity(const FileIdentity& a, const FileIdentity& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size && a.modified_ns == b.modified_ns;
}
// The identity of the file at path (looked up like OpenFileForRead, one status
// query when the path exists as written); false when no file is there (a
// folder is no file).
bool GetFileIdentity(const char* path, FileIdentity* identity);

// Held on a thread around a run of look-ups (such as trying each folder of a
// path as an archive): the reports of folder changes are read once, at the
// first check that needs them, instead of at every check. Changes made before
// the batch began are seen; ones made during it may show only after it.
class PathCheckBatch {
 public:
  PathCheckBatch();
  ~PathCheckBatch();
  PathCheckBatch(const PathCheckBatch&) = delete;
  PathCheckBatch& operator=(const PathCheckBatch&) = delete;
};

// ---- Current folder ---------------------------------------------------------------

// Non-zero on success.
int SetCurrentDirectory(const char* path);
// Writes the current folder (code page 932, host separators, no trailing
// separator except for the root) and returns its length. When the buffer of
// `size` bytes is too small nothing is written and the size needed, terminator
// included, is returned; 0 on failure.
uint32_t GetCurrentDirectory(uint32_t size, char* buffer);

// ---- Searches ----------------------------------------------------------------------

constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeNormal = 0x80;

// File times count 100-nanosecond steps since 1601-01-01 00:00 UTC.
struct FindData {
  uint32_t attributes;
  uint64_t creation_time;
  uint64_t last_access_time;
  uint64_t last_write_time;
  uint64_t size;
  char name[260];  // code page 932
};

struct Search;  // opaque

// Starts a search for "folder\pattern" (the folder part may be empty). The
// pattern follows the Windows rules: "*" any run, "?" one character, no regard
// to the case of a to z, "*.*" every name, a pattern ending in ".*" also names
// without a dot. Entries come in a fixed order: ".", "..", then the names
// sorted by their upper-case bytes. Null when nothing matches.
Search* FindFirstFile(const char* pattern, FindData* data);
// 1 with the next match, 0 when there is none.
int FindNextFile(Search* search, FindData* data);
// 0.
int FindClose(Search* search);

// ---- Temporary files and times --------------------------------------------------------

// The temporary folder with a trailing separator; its length, 0 on failure.
uint32_t GetTempDirectory(uint32_t size, char* buffer);
// Makes a new empty file "<folder><prefix><hex>.TMP" whose name no other file
// had, and writes its path to out (260 bytes). Non-zero on success.
int GetTempFileName(const char* folder, const char* prefix, char* out);
// A file time from seconds and nanoseconds since 1970-01-01 UTC.
uint64_t UnixTimeToFileTime(int64_t seconds, int64_t nanoseconds);
// The file time in local time as year, month, day, hour, minute, second.
// 0, or -1 when the time cannot be represented.
int FileTimeToLocalDate(uint64_t file_time, int out[6]);

}  // namespace plat
