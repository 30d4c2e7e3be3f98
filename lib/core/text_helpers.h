// lib/core/text_helpers.h - byte-string and memory helpers. Strings are
// zero-terminated code page 932 (or the library's other double-byte code
// page) byte strings; "double-byte aware" means a lead byte (by the library's
// lead-byte test) and the byte after it are stepped over as one character.
#pragma once

#include <cstddef>

// Copies src with its terminator; returns dst.
char* StrCopy(char* dst, const char* src);
// Copies at most n bytes of src, stopping at its end, then writes a
// terminator behind them (dst needs room for n + 1 bytes); n below 1 gives
// an empty string. Returns dst.
char* StrCopyN(char* dst, const char* src, int n);
// First place where byte stands as a single-byte character; null when not
// found, when byte is 0 or when the string is empty. Double-byte aware.
char* StrChrDbcs(const char* str, int byte);
// 0 when equal, 1 when different (no order).
int StrCompare(const char* a, const char* b);
// Changes a-z into A-Z in place (double-byte aware); returns the position of
// the terminator.
char* StrUpperDbcs(char* str);
// 0 when the first n bytes are equal (strings that end together before n
// are equal), else 1; n of 0 gives 0, a negative n gives 1.
int StrCompareN(const char* a, const char* b, int n);

// Fills count bytes with value; returns value (0 when count is 0).
int FillBytes(void* dst, int value, size_t count);
// 0 when equal (also for count 0), else 1.
int CompareBytes(const void* a, const void* b, size_t count);
// Copies forward, byte by byte (an overlap with dst above src repeats the
// leading bytes, as a forward byte copy does).
void CopyBytes(void* dst, const void* src, size_t count);
// Copies correctly for overlapping blocks.
void MoveBytes(void* dst, const void* src, size_t count);
