// platform/kernel/folder_watch.h - watches on folders that tell when their
// entries may have changed (inside the kernel stand-in only). The path look-up
// uses them to keep what it read without checking each folder again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// A folder's watch and its generation when stamped. The generation moves on
// every report that matters to the watch.
struct WatchStamp {
  int watch = -1;
  uint64_t generation = 0;
};

// Watches an absolute folder for changes of the entries called name (without
// regard to the case of a to z) or of the folder itself, from now on: call it
// before looking into the folder, so that a change made meanwhile shows later.
// Stamps it. False when no watch can be had (no watch service, limits reached,
// no such folder).
bool WatchFolder(const std::string& folder, const std::string& name, WatchStamp* stamp);

// Whether none of the folders was reported changed since its stamp. Reads the
// pending reports first, except within a batch (PathCheckBatch) that already
// read them on this thread.
bool WatchesUnchanged(const WatchStamp* stamps, size_t count);

// Drops every watch; every stamp taken before counts as changed.
void DropFolderWatches();

// Watches held now (for tests).
size_t FolderWatchCount();
// Names the watches hold, once the pending reports are read (for tests).
size_t FolderWatchNameCount();

}  // namespace plat
