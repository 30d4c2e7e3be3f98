// lib/core/log.h - the library log: lines to the log file and the debugger
// output, stamped with the milliseconds since the log start and indented.
#pragma once

#include <cstdarg>

int SetLogFileEnabled(int enable);
int LogFileStart();
// Writes a code page 932 text (continuing the current line when the last text
// did not end with a line feed). Always returns -1, so a failing operation can
// `return WriteLogLine("...")`.
int WriteLogLine(const char* text);
// The same entry point for the sound and movie subsystem.
int WriteLogLineSound(const char* text);
// printf-formats, appends "\n", writes; returns -1.
int WriteLogLineFmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
int FormatStringV(char* buffer, const char* format, va_list args);
int FormatString(char* buffer, const char* format, ...) __attribute__((format(printf, 2, 3)));
int LogIndentIn();
int LogIndentOut();
// The folder the log file is written in (the library start sets it).
int SetLogFolder(const char* folder);
const char* GetLogFolder();
// The name LogFileStart chose ("Log.txt" unless the dated name is on).
const char* GetLogFileName();
// Switches the dated file name (Log<year>_<month>_<day>_<hour>_<minute>_<second>.txt,
// off at start) and the time stamps in front of new lines (on at start).
void SetLogDatedFileName(int enable);
void SetLogTimeStamps(int enable);
