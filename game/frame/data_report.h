// game/frame/data_report.h - the messages on the standard error stream about
// data files that the game cannot use: which file, and why.
#pragma once

// Why a data file did not load, judged through the library's file access (so
// archives count): "no such file", "the file is empty", "not a PNG image" (a
// file whose first bytes are not those of its kind) or "damaged or cut short".
const char* WhyDataFileFailed(const char* file);
// "out of memory" when error (the C library's error number, cleared before
// the load) says memory ran out during the load, "too large" when it says
// the picture is over the library's pixel limit (EFBIG), else as above.
const char* WhyLoadFailed(const char* file, int error);

// "quillona: cannot load the image <file> (<why>; error <tag>)", why as
// WhyLoadFailed gives it for the error number the load left. The game
// stops at the end of the frame; the exit status is 1.
void ReportImageFailure(const char* file, const char* tag);
// "quillona: warning: cannot load the sound <file> (<why>); it stays silent".
// Play goes on. Each file is reported once in a run; without any sound
// output one line says so instead.
void ReportSoundFailure(const char* file);
// "quillona: <file>: <what>", for the configuration, record and replay files.
void ReportFileProblem(const char* file, const char* what);
// "quillona: cannot write <file> (<reason>); <loss>" on the standard error
// stream and the debugger output. A file is named once until a write of it
// succeeds, so a save repeated every frame does not repeat its message.
void ReportWriteFailure(const char* file, const char* reason, const char* loss);
// A write whose new file is in place and synced. After a named failure it
// says what is finally true: "quillona: <file> is written after all; <what>
// is kept".
void NoteWriteSuccess(const char* file, const char* what);
// "quillona: warning: <file> is written, but its folder could not be synced
// (<reason>); <what> is kept, but may not survive a power cut", for a write
// whose new file is in place: the save is done. Named once until a write of
// the file is synced whole, and again after a named failure.
void ReportUnsyncedWrite(const char* file, const char* reason, const char* what);

// At the start: a warning for every image of the player, partner and stage
// sheets that is missing ("quillona: warning: grp/stg3a.png: no such file;
// the game stops when it needs it"), so that a gap in the data set shows
// before play reaches it. The boot, title and common sheets load at once.
void WarnMissingImages();

// Forgets which files were reported (a new run of the game).
void ForgetReportedFiles();
