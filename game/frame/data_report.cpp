// game/frame/data_report.cpp - what the game says on the standard error
// stream when a data file cannot be used.
#include "game/frame/data_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "game/objects/resource_tables.h"
#include "platform/kernel/kernel.h"
#include "rorud/rorud.h"

namespace {

std::set<std::string>& Reported() {
  static std::set<std::string> files;
  return files;
}

// The files whose last write failed and was reported.
std::set<std::string>& FailedWrites() {
  static std::set<std::string> files;
  return files;
}

// The files whose last write is in place but whose folder could not be
// synced, as reported.
std::set<std::string>& UnsyncedWrites() {
  static std::set<std::string> files;
  return files;
}

// Whether sounds can be made at all: 0 not yet known, 1 yes, 2 no (no sound
// output, so every sound load fails whatever its file holds).
int g_sound_output = 0;

bool SoundOutputWorks() {
  if (g_sound_output == 0) {
    // The smallest sound: a WAVE file of one 16-bit mono sample, in memory.
    static const unsigned char kTinyWave[46] = {
        'R', 'I', 'F', 'F', 38, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
        0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a', 2, 0, 0, 0, 0, 0};
    const int handle = CreateSoundHandleFromFile(kTinyWave, sizeof kTinyWave, 1, -1);
    g_sound_output = handle == -1 ? 2 : 1;
    if (handle != -1) DeleteSoundHandle(handle, 0);
    if (g_sound_output == 2) std::fprintf(stderr, "quillona: warning: no sound output; the game plays silently\n");
  }
  return g_sound_output == 1;
}

// A line about a save of the game's own files, on the standard error stream
// and the debugger output.
void SayAboutWrite(const std::string& line) {
  std::fputs(line.c_str(), stderr);
  plat::OutputDebugString(line.c_str());
}

// True the first time a file is named in this run.
bool FirstReport(const char* file) { return Reported().insert(file ? file : "").second; }

bool EndsWith(const char* text, const char* tail) {
  const size_t n = std::strlen(text), m = std::strlen(tail);
  return n >= m && std::strcmp(text + n - m, tail) == 0;
}

// The leading bytes of each kind of file the game loads.
bool LooksLikePng(const unsigned char* b, size_t n) {
  return n >= 8 && std::memcmp(b, "\x89PNG\r\n\x1A\n", 8) == 0;
}
bool LooksLikeWave(const unsigned char* b, size_t n) {
  return n >= 12 && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WAVE", 4) == 0;
}
bool LooksLikeMp3(const unsigned char* b, size_t n) {
  if (n >= 3 && std::memcmp(b, "ID3", 3) == 0) return true;
  return n >= 2 && b[0] == 0xFF && (b[1] & 0xE0) == 0xE0;
}

}  // namespace

const char* WhyLoadFailed(const char* file, int error) {
  if (error == ENOMEM) return "out of memory";
  // The library's image load refuses a picture over its pixel limit so.
  if (error == EFBIG) return "too large";
  return WhyDataFileFailed(file);
}

const char* WhyDataFileFailed(const char* file) {
  if (file == nullptr) return "no such file";
  const intptr_t handle = FileOpenThunk(file, 0, 1, 0);
  if (handle == 0) return "no such file";
  unsigned char head[16] = {};
  const size_t n = FileReadThunk(head, 1, sizeof head, handle);
  FileCloseThunk(handle);
  if (n == 0) return "the file is empty";
  if (EndsWith(file, ".png") && !LooksLikePng(head, n)) return "not a PNG image";
  if (EndsWith(file, ".wav") && !LooksLikeWave(head, n)) return "not a WAVE file";
  if (EndsWith(file, ".mp3") && !LooksLikeMp3(head, n)) return "not an MP3 file";
  return "damaged or cut short";
}

void ReportImageFailure(const char* file, const char* tag) {
  const int error = errno;
  if (!FirstReport(file)) return;
  std::fprintf(stderr, "quillona: cannot load the image %s (%s; error %s)\n", file, WhyLoadFailed(file, error),
               tag);
}

void ReportSoundFailure(const char* file) {
  const int error = errno;
  if (!SoundOutputWorks() || !FirstReport(file)) return;
  std::fprintf(stderr, "quillona: warning: cannot load the sound %s (%s); it stays silent\n", file,
               WhyLoadFailed(file, error));
}

void ReportFileProblem(const char* file, const char* what) {
  std::fprintf(stderr, "quillona: %s: %s\n", file, what);
}

void ReportWriteFailure(const char* file, const char* reason, const char* loss) {
  if (!FailedWrites().insert(file).second) return;
  SayAboutWrite("quillona: cannot write " + std::string(file) + " (" + reason + "); " + loss + "\n");
}

void ReportUnsyncedWrite(const char* file, const char* reason, const char* what) {
  // After a failure was named, the file's state is named again, however
  // often this warning was given before it.
  const bool failed = FailedWrites().erase(file) > 0;
  if (!UnsyncedWrites().insert(file).second && !failed) return;
  SayAboutWrite("quillona: warning: " + std::string(file) + " is written, but its folder could not be synced (" +
                reason + "); " + what + " is kept, but may not survive a power cut\n");
}

void NoteWriteSuccess(const char* file, const char* what) {
  UnsyncedWrites().erase(file);
  if (FailedWrites().erase(file) > 0) {
    SayAboutWrite("quillona: " + std::string(file) + " is written after all; " + what + " is kept\n");
  }
}

void WarnMissingImages() {
  auto check = [](const char* file) {
    const intptr_t handle = FileOpenThunk(file, 0, 1, 0);
    if (handle != 0) {
      FileCloseThunk(handle);
    } else {
      std::fprintf(stderr, "quillona: warning: %s: no such file; the game stops when it needs it\n", file);
    }
  };
  for (const SheetDef& s : kPlayerSheets) check(s.file);
  for (const SheetDef& s : kPartnerSheets) check(s.file);
  for (const SheetDef& s : kStageSheetsA) check(s.file);
  for (const SheetDef& s : kStageSheetsB) check(s.file);
}

void ForgetReportedFiles() {
  Reported().clear();
  FailedWrites().clear();
  UnsyncedWrites().clear();
  g_sound_output = 0;
}
