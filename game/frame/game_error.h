// game/frame/game_error.h - the stop flag and the error text through which
// game code reports a fatal condition.
#pragma once

#include <cstdint>
#include <string>

// 0 while the program runs; 1 ends the frame loop after the current frame.
extern uint8_t g_stop_flag;
// The last error tag, NUL-terminated, code page 932.
extern char g_error_text[64];

// Sets the stop flag and keeps the tag. Always returns false so that callers
// can return its result.
bool RaiseGameError(const char* tag);
// Keeps the tag in the error text without stopping the game (a full object
// pool: the new object is skipped and play goes on).
void NoteGameError(const char* tag);

// The exit status for the error text at the end of the run: 0 for the ways a
// player quits on purpose (the exit item, Escape, closing the window), 1 for
// every other game error.
int ExitStatusForError(const char* tag);
// The tag as UTF-8, for the message on the standard error stream. Bytes that
// are neither ASCII nor part of a known tag are shown as \xNN.
std::string ErrorTagToUtf8(const char* tag);
