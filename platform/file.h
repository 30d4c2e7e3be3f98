// platform/file.h - the file services of the operating system: paths (where
// "\" is a separator as well as "/"), creating, deleting and writing files.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// ---- Paths and writing files ------------------------------------------------

// The path with every "\" turned into "/".
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

}  // namespace plat
