// game/frame/replay_files.cpp - the replay files "replay/stN.hsd" and the
// record file "rec.hsd", relative to the working folder: read with the
// runtime's buffered files, written whole through a temporary file, so a
// failed, cut or killed write keeps the previous file; at once, or by the
// writer thread for the saves of every frame of a stage end.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "game/frame/data_report.h"
#include "game/frame/file_replace.h"
#include "game/frame/file_util.h"
#include "game/frame/input.h"
#include "game/frame/save_writer.h"

namespace {

// The size of an open file, or -1.
long FileSize(std::FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(f);
  if (std::fseek(f, 0, SEEK_SET) != 0) return -1;
  return size;
}

constexpr char kNoReplay[] = "no replay of this stage is kept";

// The play of a stage that the saves belong to: its stage end saves each
// frame, and a failed save names the earlier one of the same play that is
// on the disk.
unsigned g_stage_play = 0;

// The lines of a replay save of `frames` frames.
SaveTexts ReplayTexts(uint32_t frames) {
  SaveTexts t;
  t.what = "this stage's replay";
  t.kept = "an earlier save of this stage's replay (" + std::to_string(frames) + " frames) is kept";
  t.older = "the older replay of this stage is kept";
  t.none = kNoReplay;
  t.series = g_stage_play;
  return t;
}

SaveTexts RecordTexts() {
  SaveTexts t;
  t.what = "the new high score";
  t.kept = "an earlier save of the new high score (" + std::to_string(g_game.high_score) + ") is kept";
  t.older = "the older record is kept";
  t.none = "no record is kept";
  t.series = g_stage_play;
  return t;
}

// The replay file of the frames recorded so far, with its folder made;
// false, with the failure named, when the folder cannot be.
bool ReplayBytes(const char* path, std::vector<unsigned char>& bytes) {
  std::error_code ec;
  std::filesystem::create_directories("replay", ec);
  if (ec) {
    // No folder, so no replay file in it either.
    ReportWriteFailure(path, ec.message().c_str(), kNoReplay);
    return false;
  }
  const uint32_t count = g_game.replay_frame_index;
  bytes.reserve(8 + 4 * static_cast<size_t>(count));
  AppendU32(bytes, kReplayMagic);
  AppendU32(bytes, count);
  for (uint32_t i = 0; i < count; ++i) AppendU32(bytes, g_replay_words[i]);
  return true;
}

std::vector<unsigned char> RecordBytes() {
  std::vector<unsigned char> bytes;
  AppendU32(bytes, kReplayMagic);
  AppendU32(bytes, g_game.high_score);
  for (uint32_t w : g_game.record_words) AppendU32(bytes, w);
  return bytes;
}

}  // namespace

void ReplayPath(int stage, char* out, int out_size) {
  std::snprintf(out, static_cast<size_t>(out_size), "replay/st%d.hsd", stage);
}

bool SaveReplay(int stage) {
  char path[32];
  ReplayPath(stage, path, sizeof path);
  std::vector<unsigned char> bytes;
  return ReplayBytes(path, bytes) && SaveNow(path, bytes, ReplayTexts(g_game.replay_frame_index));
}

void SaveReplayInBackground(int stage) {
  // Failures of the writes done by now are named first, in their order.
  ReportFinishedSaves();
  char path[32];
  ReplayPath(stage, path, sizeof path);
  std::vector<unsigned char> bytes;
  if (ReplayBytes(path, bytes)) SaveInBackground(path, std::move(bytes), ReplayTexts(g_game.replay_frame_index));
}

bool LoadReplay(int stage) {
  // A save of this file may still be on its way.
  FinishBackgroundSaves();
  char path[32];
  ReplayPath(stage, path, sizeof path);
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    ReportFileProblem(path, "cannot be opened; the replay ends");
    return false;
  }
  const long size = FileSize(f);
  uint32_t magic = 0, count = 0;
  // A file of another kind, a count beyond the buffer or beyond the file's
  // own length is refused before anything reaches the buffer.
  const char* problem = nullptr;
  char text[96];
  if (size < 8 || !ReadU32(f, magic) || !ReadU32(f, count) || magic != kReplayMagic) {
    problem = "not a replay file; the replay ends";
  } else if (count > kReplayCapacity) {
    std::snprintf(text, sizeof text, "holds %u frames, more than the %u a replay keeps; the replay ends", count,
                  static_cast<unsigned>(kReplayCapacity));
    problem = text;
  } else if (static_cast<unsigned long long>(count) * 4u + 8u > static_cast<unsigned long>(size)) {
    std::snprintf(text, sizeof text, "cut short (%u frames announced, %ld present); the replay ends", count,
                  (size - 8) / 4);
    problem = text;
  }
  if (problem != nullptr) {
    std::fclose(f);
    ReportFileProblem(path, problem);
    return false;
  }
  bool ok = true;
  for (uint32_t i = 0; ok && i < count; ++i) ok = ReadU32(f, g_replay_words[i]);
  std::fclose(f);
  if (!ok) {
    ReportFileProblem(path, "could not be read; the replay ends");
    return false;
  }
  // Frames played beyond the recording read no input.
  std::memset(g_replay_words + count, 0, (kReplayCapacity - count) * sizeof(uint32_t));
  return true;
}

void StartStagePlay() { ++g_stage_play; }

bool SaveRecordFile() { return SaveNow(kRecordPath, RecordBytes(), RecordTexts()); }

void SaveRecordFileInBackground() { SaveInBackground(kRecordPath, RecordBytes(), RecordTexts()); }

bool LoadRecordFile() {
  FinishBackgroundSaves();
  uint32_t words[7] = {};
  bool ok = false;
  if (std::FILE* f = std::fopen(kRecordPath, "rb")) {
    ok = true;
    for (uint32_t& w : words) ok = ok && ReadU32(f, w);
    ok = ok && words[0] == kReplayMagic;
    std::fclose(f);
    // The file is rewritten at the next stage end that beats the high score.
    if (!ok) ReportFileProblem(kRecordPath, "not a record file; the records start from their defaults");
  }
  if (!ok) {
    g_game.high_score = 0;
    for (uint32_t& w : g_game.record_words) w = 59999;
    return false;
  }
  g_game.high_score = words[1];
  for (int i = 0; i < 5; ++i) g_game.record_words[i] = words[2 + i];
  return true;
}
