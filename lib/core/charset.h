// lib/core/charset.h - the library's character set: which double-byte rule
// the string, font, text-input and archive code apply to code-page text.
#pragma once

// Character-set indexes.
enum : int {
  kCharSetDefault = 0,
  kCharSetShiftJis = 1,
  kCharSetHangeul = 2,
  kCharSetBig5 = 3,
  kCharSetGb2312 = 4,
};

// The library's index and code page (0 and 0 until the window-system start
// sets them).
void SetCharSet(int index, int code_page);
int GetCharSetIndex();
int GetCharSetCodePage();
// Takes index and code page from the system's OEM code page: 932, 949, 950
// and 936 give 1 to 4 with that page; any other page gives index 1 and page 0.
void SetCharSetFromCodePage(int oem_code_page);

// 1 when *byte starts a two-byte character under the given index, else 0:
// indexes 2, 3 and 4 take every byte from 0x80 up, every other index the
// Shift-JIS lead bytes 0x81-0x9F and 0xE0-0xFC.
int IsLeadByte(const char* byte, int charset_index);
// The same test under the library's own index.
int IsLibraryLeadByte(unsigned char byte);
