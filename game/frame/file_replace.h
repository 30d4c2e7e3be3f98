// game/frame/file_replace.h - writing one of the game's own files whole, so
// that a failure or a kill part-way leaves the previous file as it was.
#pragma once

#include <string>
#include <vector>

// Writes `bytes` to a temporary file in the folder of `path`, syncs it to the
// disk and renames it over `path`, then syncs the folder. The temporary file
// is hidden and named for its file (".rec.hsd.tmp-" and six letters or
// digits); those that a killed write of the same file left are removed
// first. True when `path` holds the new bytes: `reason` is then empty, or,
// when only the folder's sync failed, the system's reason why the new file
// may not survive a power cut. False with the system's reason in `reason`
// when the write failed; the old file is then untouched and no temporary
// file is left. An existing file without any write permission is refused,
// not replaced.
bool ReplaceFile(const char* path, const std::vector<unsigned char>& bytes, std::string& reason);

// ReplaceFile in its two steps, for a writer that syncs a folder once for
// several renames: the file synced and renamed into place (true, with the
// folder to sync in `folder`), then the folder's sync (false with the
// system's reason when it failed; the new file stays in place).
bool PlaceFile(const char* path, const std::vector<unsigned char>& bytes, std::string& reason, std::string& folder);
bool SyncPlacedFile(const std::string& folder, std::string& reason);

// The file as named from any folder: `path` made absolute against the
// working folder, or `path` itself when that folder cannot be found.
std::string AbsolutePath(const char* path);

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
// The same for the folders' syncs alone, after the rename.
void SetFolderSyncErrorForTesting(int error);
// Test hook standing in for a slow disk: every later sync of a written file
// or its folder takes `ms` milliseconds more; 0 (the default) adds nothing.
void SetSyncDelayForTesting(int ms);

// Test hook standing in for a folder whose locks do not work (a network
// mount without a lock service): when `error` is not 0, every later lock of
// a temporary file fails with it; 0 (the default) locks.
void SetLockErrorForTesting(int error);

// Test hook that lets a test act as another copy of the game would at a
// chosen moment of a save: when set, it is called with the path of a
// leftover temporary file once that is locked and before it is removed, and
// with the path of the save's own temporary file once it is made and before
// it is locked, and again, written, synced and closed, before it is renamed
// into place. Null (the default) calls nothing.
enum class SaveStep { kLeftoverLocked, kTempCreated, kBeforeRename };
void SetSaveStepHookForTesting(void (*hook)(SaveStep step, const std::string& path));

// Test hook standing in for a disk that is busy: while `hold` is true, every
// later sync, once counted, waits until it is false again.
void HoldSyncsForTesting(bool hold);

// How many syncs of written files and of their folders were asked for
// since the start, failed ones included.
struct SyncCounts {
  long files = 0;
  long folders = 0;
};
SyncCounts SyncCountsForTesting();
