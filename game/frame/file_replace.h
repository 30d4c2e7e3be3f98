// game/frame/file_replace.h - writing one of the game's own files whole, so
// that a failure or a kill part-way leaves the previous file as it was.
#pragma once

#include <string>
#include <vector>

// Writes `bytes` to a temporary file in the folder of `path`, syncs it to the
// disk and renames it over `path`, then syncs the folder. True when `path`
// holds the bytes and they would survive a power cut. Otherwise false with
// the system's reason in `reason`; the old file is untouched and no
// temporary file is left, except when only the folder's sync failed (the
// new file is in place but may not last a power cut). An existing file
// without any write permission is refused, not replaced.
bool ReplaceFile(const char* path, const std::vector<unsigned char>& bytes, std::string& reason);

// Appends a little-endian 32-bit word.
void AppendU32(std::vector<unsigned char>& bytes, unsigned value);

// Test hook standing in for a full disk: when `bytes` is 0 or more, each
// later file write stops with "No space left on device" after that many
// bytes of the file; -1 (the default) writes everything.
void SetWriteSpaceForTesting(long long bytes);

// Test hook standing in for a disk that fails: when `error` is not 0, every
// later sync of a written file or its folder fails with it; 0 (the default)
// syncs.
void SetSyncErrorForTesting(int error);
