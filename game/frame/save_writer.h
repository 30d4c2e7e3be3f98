// game/frame/save_writer.h - saving the game's own files whole, at once or
// on a writer thread of their own, and naming what went wrong.
#pragma once

#include <string>
#include <vector>

// What the lines about one save say, in the player's terms. A failed save
// says what the file still holds: an earlier save of the same series (the
// saves of one stage end) that was written, else the file that was there
// before, else nothing.
struct SaveTexts {
  std::string what;   // the thing the save keeps: "this stage's replay"
  std::string kept;   // this save, once a later one of its series fails:
                      // "an earlier save of this stage's replay (8001 frames) is kept"
  std::string older;  // the file there before the series: "the older replay of this stage is kept"
  std::string none;   // no file: "no replay of this stage is kept"
  unsigned series = 0;
};

// Replaces `path` with `bytes` (ReplaceFile) before it returns; the saves
// handed to the writer earlier are written first, so that no older contents
// land on top. A failure is named with the system's reason and what the
// file still holds; a new file whose folder could not be synced is named
// with `texts.what`, the thing that may not last a power cut (data_report.h).
bool SaveNow(const char* path, const std::vector<unsigned char>& bytes, const SaveTexts& texts);

// Hands the newest contents of `path` to the writer thread and returns at
// once: a save made on every frame costs the frame no wait on the disk.
// Contents still waiting for their turn are replaced, so only the newest
// are written, whole, and the file on disk is always a whole one, the old or
// a newer. `path` is taken relative to the working folder of this call.
// The outcomes of the writes done by now are named on the calling thread,
// as `SaveNow` names them; a save that leaves its folder's sync to a newer
// one of the file is named by the newer one's outcome. Without a thread the
// save is made at once.
void SaveInBackground(const char* path, std::vector<unsigned char> bytes, SaveTexts texts);

// Names the outcomes of the background writes done by now.
void ReportFinishedSaves();

// Waits until every save handed to the writer is renamed into place, or has
// failed, then names the outcomes known. The sync of the last one's folder,
// which only a power cut needs, may still run; its outcome is named later.
// Returns at once when none is waiting.
void PlaceBackgroundSaves();

// The same, and the folders' syncs over too: every save is on the disk.
void FinishBackgroundSaves();
