// lib/core/text_helpers.cpp - string and memory helpers.
#include "lib/core/text_helpers.h"

#include <cstring>

#include "lib/core/charset.h"

namespace {

// A lead byte followed by the terminator is a broken character at the end
// of the string: treat it as a single byte so no scan runs past the end.
inline bool StartsDoubleByte(const char* p) {
  return IsLibraryLeadByte(static_cast<unsigned char>(p[0])) && p[1] != '\0';
}

}  // namespace

char* StrCopy(char* dst, const char* src) {
  char* out = dst;
  while ((*out++ = *src++) != '\0') {
  }
  return dst;
}

char* StrCopyN(char* dst, const char* src, int n) {
  int i = 0;
  for (; i < n && src[i] != '\0'; ++i) dst[i] = src[i];
  dst[i] = '\0';
  return dst;
}

char* StrChrDbcs(const char* str, int byte) {
  const char target = static_cast<char>(byte);
  if (target == '\0') return nullptr;
  for (const char* p = str; *p != '\0';) {
    if (StartsDoubleByte(p)) {
      p += 2;
      continue;
    }
    if (*p == target) return const_cast<char*>(p);
    ++p;
  }
  return nullptr;
}

int StrCompare(const char* a, const char* b) { return std::strcmp(a, b) == 0 ? 0 : 1; }

char* StrUpperDbcs(char* str) {
  char* p = str;
  while (*p != '\0') {
    if (StartsDoubleByte(p)) {
      p += 2;
      continue;
    }
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    ++p;
  }
  return p;
}

int StrCompareN(const char* a, const char* b, int n) {
  if (n < 0) return 1;
  for (int i = 0; i < n; ++i) {
    if (a[i] != b[i]) return 1;
    if (a[i] == '\0') break;
  }
  return 0;
}

int FillBytes(void* dst, int value, size_t count) {
  if (count == 0) return 0;
  std::memset(dst, value, count);
  return value;
}

int CompareBytes(const void* a, const void* b, size_t count) {
  if (count == 0) return 0;
  return std::memcmp(a, b, count) == 0 ? 0 : 1;
}

void CopyBytes(void* dst, const void* src, size_t count) {
  unsigned char* d = static_cast<unsigned char*>(dst);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  for (size_t i = 0; i < count; ++i) d[i] = s[i];
}

void MoveBytes(void* dst, const void* src, size_t count) {
  if (count == 0 || dst == src) return;
  std::memmove(dst, src, count);
}
