// lib/core/charset.cpp - the library's character-set index and lead-byte test.
#include "lib/core/charset.h"

#include <atomic>

namespace {
std::atomic<int> g_index{kCharSetDefault};
std::atomic<int> g_code_page{0};

int LeadByteUnder(unsigned char c, int index) {
  if (index == kCharSetHangeul || index == kCharSetBig5 || index == kCharSetGb2312) return c >= 0x80 ? 1 : 0;
  return ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 1 : 0;
}
}  // namespace

void SetCharSet(int index, int code_page) {
  g_index.store(index, std::memory_order_relaxed);
  g_code_page.store(code_page, std::memory_order_relaxed);
}

int GetCharSetIndex() { return g_index.load(std::memory_order_relaxed); }

int GetCharSetCodePage() { return g_code_page.load(std::memory_order_relaxed); }

void SetCharSetFromCodePage(int oem_code_page) {
  switch (oem_code_page) {
    case 932: SetCharSet(kCharSetShiftJis, 932); break;
    case 949: SetCharSet(kCharSetHangeul, 949); break;
    case 950: SetCharSet(kCharSetBig5, 950); break;
    case 936: SetCharSet(kCharSetGb2312, 936); break;
    default: SetCharSet(kCharSetShiftJis, 0); break;
  }
}

int IsLeadByte(const char* byte, int charset_index) {
  if (byte == nullptr) return 0;
  return LeadByteUnder(static_cast<unsigned char>(*byte), charset_index);
}

int IsLibraryLeadByte(unsigned char byte) { return LeadByteUnder(byte, GetCharSetIndex()); }
