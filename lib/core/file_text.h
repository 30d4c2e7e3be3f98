// lib/core/file_text.h - the double-byte rule of the file layer's path
// handling.
#pragma once

// 1 when the byte starts a two-byte character under the character-set index
// (2, 3, 4: every byte from 0x80; others: Shift-JIS 0x81-0x9F, 0xE0-0xFC).
inline int FileLeadByte(unsigned char c, int charset) {
  if (charset >= 2 && charset <= 4) return c >= 0x80;
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Under the library's character set.
inline int IsLibraryLeadByte(unsigned char c) { return FileLeadByte(c, 1); }
