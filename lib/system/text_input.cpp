// lib/system/text_input.cpp - the character buffer, the clipboard and the
// key-string inputs edited from the buffer once per pump pass.
#include "lib/system/text_input.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "lib/core/charset.h"
#include "lib/core/handle_table.h"
#include "lib/system/input.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/system/window_system.h"

namespace {

// ---- The ring of bytes ----------------------------------------------------------------

uint8_t g_chars[kCharBufferSize];
int g_read = 0, g_write = 0;

int Next(int index) { return index + 1 == kCharBufferSize ? 0 : index + 1; }
int Previous(int index) { return index == 0 ? kCharBufferSize - 1 : index - 1; }

struct ControlKey {
  uint8_t virtual_key, code;
};
const ControlKey kControlKeyTable[] = {{0x2E, 0x10}, {0x25, 0x1D}, {0x27, 0x1C}, {0x26, 0x1E}, {0x28, 0x1F},
                                       {0x24, 0x1A}, {0x23, 0x19}, {0x21, 0x17}, {0x22, 0x15}, {0, 0}};

// ---- Records ------------------------------------------------------------------------------

KeyStringInputRecord g_records[kKeyStringInputMax];
constinit HandleTable<KeyStringInputRecord, kKeyStringInputMax> g_table(kHandleKindKeyInput,
                                                                       HandleSlotRule::kLowestFree);
int g_next_check = 0;
int g_active = -1;

bool IsLead(uint8_t byte) { return IsLibraryLeadByte(byte) != 0; }

// The size of the character that ends at position (the one before it).
int SizeBefore(const KeyStringInputRecord& r, int position) {
  int at = 0, last = 1;
  while (at < position) {
    last = (IsLead(static_cast<uint8_t>(r.text[at])) && at + 1 < r.length) ? 2 : 1;
    at += last;
  }
  return at == position ? last : 1;
}

int SizeAt(const KeyStringInputRecord& r, int position) {
  return IsLead(static_cast<uint8_t>(r.text[position])) && position + 1 < r.length ? 2 : 1;
}

bool HasSelection(const KeyStringInputRecord& r) { return r.selection_start != -1 && r.selection_end != -1; }

void DeleteSelection(KeyStringInputRecord& r) {
  if (!HasSelection(r)) return;
  int lower = std::min(r.selection_start, r.selection_end);
  int higher = std::max(r.selection_start, r.selection_end);
  lower = std::clamp(lower, 0, r.length);
  higher = std::clamp(higher, 0, r.length);
  r.cursor = lower;
  std::memmove(r.text + lower, r.text + higher, static_cast<size_t>(r.length - higher));
  r.length -= higher - lower;
  r.text[r.length] = '\0';
  r.selection_start = r.selection_end = -1;
  if (r.shown_position > r.length) r.shown_position = r.length;
}

void CopySelection(const KeyStringInputRecord& r) {
  if (!HasSelection(r)) return;
  int lower = std::clamp(std::min(r.selection_start, r.selection_end), 0, r.length);
  int higher = std::clamp(std::max(r.selection_start, r.selection_end), 0, r.length);
  auto* copy = static_cast<char*>(TrackedAlloc(static_cast<size_t>(higher - lower) + 1, "", 0));
  if (copy == nullptr) return;
  std::memcpy(copy, r.text + lower, static_cast<size_t>(higher - lower));
  copy[higher - lower] = '\0';
  SetClipboardText(copy);
  TrackedFree(copy);
}

bool ShiftDown() { return IsKeyPressed(kDikLShift) != 0 || IsKeyPressed(kDikRShift) != 0; }

void Paste() {
  int size = GetClipboardText(nullptr);
  if (size <= 0) return;
  std::string text;
  if (!plat::GetClipboardText(&text)) return;
  auto* buffer = static_cast<char*>(TrackedAlloc(static_cast<size_t>(size), "", 0));
  if (buffer == nullptr) return;
  // The clipboard may have changed since its size was taken: never copy more
  // than was allocated.
  size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  for (size_t i = 0; i < n && buffer[i] != '\0'; ++i) {
    // A pasted paste code would paste again for ever.
    if (static_cast<uint8_t>(buffer[i]) == 0x16) continue;
    PushInputChar(static_cast<uint8_t>(buffer[i]));
  }
  TrackedFree(buffer);
}

void InsertCharacter(KeyStringInputRecord& r, const uint8_t c[2], int n) {
  DeleteSelection(r);
  if (r.digits_only == 1) {
    if (n != 1) return;
    bool digit = c[0] >= '0' && c[0] <= '9';
    bool minus = c[0] == '-' && r.cursor == 0;
    bool point = c[0] == '.' && std::memchr(r.text, '.', static_cast<size_t>(r.length)) == nullptr;
    if (!digit && !minus && !point) return;
  }
  if (r.single_byte_only == 1 && n == 2) return;
  // A character that can never fit is refused (making room for it would
  // empty the string and still not be enough).
  if (n > r.max_length) return;
  while (r.length + n > r.max_length) {
    int last = SizeBefore(r, r.length);
    int old_end = r.length;
    r.length -= last;
    r.text[r.length] = '\0';
    if (r.cursor >= old_end || r.cursor > r.length) r.cursor = std::max(0, r.cursor - last);
  }
  std::memmove(r.text + r.cursor + n, r.text + r.cursor, static_cast<size_t>(r.length - r.cursor) + 1);
  std::memcpy(r.text + r.cursor, c, static_cast<size_t>(n));
  r.cursor += n;
  r.length += n;
}

void SelectTo(KeyStringInputRecord& r, int target) {
  if (!HasSelection(r)) r.selection_start = r.cursor;
  r.selection_end = target;
  r.cursor = target;
}

void Edit(KeyStringInputRecord& r, const uint8_t c[2], int n) {
  switch (n == 1 ? c[0] : 0x100) {
    case 0x03:
      CopySelection(r);
      break;
    case 0x08:
      if (HasSelection(r)) {
        DeleteSelection(r);
      } else if (r.cursor > 0) {
        int k = SizeBefore(r, r.cursor);
        r.cursor -= k;
        std::memmove(r.text + r.cursor, r.text + r.cursor + k, static_cast<size_t>(r.length - r.cursor - k) + 1);
        r.length -= k;
      }
      break;
    case 0x09:
    case 0x1E:
    case 0x1F:
      break;
    case 0x0D:
      r.ended = 1;
      break;
    case 0x10:
      if (!HasSelection(r)) {
        if (r.cursor < r.length) {
          int k = SizeAt(r, r.cursor);
          std::memmove(r.text + r.cursor, r.text + r.cursor + k, static_cast<size_t>(r.length - r.cursor - k) + 1);
          r.length -= k;
        }
      } else {
        if (ShiftDown()) CopySelection(r);
        DeleteSelection(r);
      }
      break;
    case 0x16:
      Paste();
      break;
    case 0x18:
      if (HasSelection(r)) {
        CopySelection(r);
        DeleteSelection(r);
      }
      break;
    case 0x19:
      if (!ShiftDown()) {
        r.selection_start = r.selection_end = -1;
        r.cursor = r.length;
      } else {
        SelectTo(r, r.length);
      }
      break;
    case 0x1A:
      if (!ShiftDown()) {
        r.selection_start = r.selection_end = -1;
        r.cursor = 0;
      } else {
        SelectTo(r, 0);
      }
      break;
    case 0x1B:
      if (r.cancel_allowed == 1) {
        r.cancelled = 1;
        r.ended = 1;
      }
      break;
    case 0x1C:
      if (r.cursor < r.length) {
        int k = SizeAt(r, r.cursor);
        if (!ShiftDown()) {
          r.cursor += k;
          r.selection_start = r.selection_end = -1;
        } else {
          SelectTo(r, r.cursor + k);
        }
      }
      break;
    case 0x1D:
      if (r.cursor > 0) {
        int k = SizeBefore(r, r.cursor);
        if (!ShiftDown()) {
          r.cursor -= k;
          r.selection_start = r.selection_end = -1;
        } else {
          SelectTo(r, r.cursor - k);
        }
      }
      break;
    default:
      InsertCharacter(r, c, n);
      break;
  }
}

}  // namespace

// ---- Character buffer --------------------------------------------------------------------------

int IsCharBufferFull() { return Next(g_write) == g_read ? 1 : 0; }

int PushInputChar(uint8_t byte) {
  if (IsCharBufferFull()) return -1;
  g_chars[g_write] = byte;
  g_write = Next(g_write);
  return 0;
}

int PopInputChar(uint8_t out[2], int consume) {
  out[0] = out[1] = 0;
  if (g_read == g_write) return 0;
  out[0] = g_chars[g_read];
  g_read = Next(g_read);
  int count = 1;
  if (IsControlCode(out[0]) == 0 && IsLibraryLeadByte(out[0]) != 0) {
    if (g_read == g_write) {
      // The second byte has not arrived: the lead byte waits.
      g_read = Previous(g_read);
      out[0] = 0;
      return 0;
    }
    out[1] = g_chars[g_read];
    count = 2;
    if (consume != 0) g_read = Next(g_read);
  }
  if (consume == 0) g_read = Previous(g_read);
  return count;
}

int IsControlCode(uint8_t byte) {
  for (const ControlKey* k = kControlKeyTable; k->virtual_key != 0; ++k) {
    if (k->code == byte) return 1;
  }
  return 0;
}

uint8_t ControlCodeOfKey(int virtual_key) {
  for (const ControlKey* k = kControlKeyTable; k->virtual_key != 0; ++k) {
    if (k->virtual_key == virtual_key) return k->code;
  }
  return 0;
}

int CountMultibyteChars(const char* text, int count) {
  if (text == nullptr || count < 1) return 0;
  int chars = 0;
  for (int i = 0; i < count && text[i] != '\0';) {
    i += IsLibraryLeadByte(static_cast<uint8_t>(text[i])) != 0 && i + 1 < count && text[i + 1] != '\0' ? 2 : 1;
    ++chars;
  }
  return chars;
}

// ---- Clipboard --------------------------------------------------------------------------------------

int GetClipboardText(char* destination) {
  std::string text;
  if (!plat::GetClipboardText(&text)) return -1;
  size_t size = std::strlen(text.c_str());  // up to the first zero, as the text ends there
  if (destination == nullptr) return static_cast<int>(size) + 1;
  std::memcpy(destination, text.c_str(), size + 1);
  return 0;
}

int SetClipboardText(const char* text) {
  if (text == nullptr) return WriteLogLine("クリップボードに設定する文字列がありません\n");
  plat::SetClipboardText(text);
  return 0;
}

// ---- Key-string inputs ----------------------------------------------------------------------------

KeyStringInputRecord* FindKeyStringInput(int handle) {
  KeyStringInputRecord* r = g_table.Find(handle);
  if (r == nullptr || r->in_use != 1 || r->check != HandleCheck(handle)) return nullptr;
  return r;
}

int MakeKeyStringInput(int max_length, int cancel_allowed, int single_byte_only, int digits_only) {
  if (max_length < 1) return WriteLogLine("キー入力の最大文字数が不正です\n");
  int slot = -1;
  for (int i = 0; i < kKeyStringInputMax; ++i) {
    if (g_records[i].in_use == 0) {
      slot = i;
      break;
    }
  }
  if (slot < 0) return WriteLogLine("キー入力ハンドルが足りません\n");
  auto* text = static_cast<char*>(TrackedCalloc(static_cast<size_t>(max_length) + 1, "", 0));
  if (text == nullptr) return WriteLogLine("キー入力のメモリ確保に失敗しました\n");
  int check = g_next_check;
  g_next_check = (g_next_check + 1) % kHandleCheckCount;
  KeyStringInputRecord& r = g_records[slot];
  int handle = g_table.AddAt(slot, check, &r);
  if (handle < 0) {
    TrackedFree(text);
    return WriteLogLine("キー入力ハンドルが足りません\n");
  }
  r = KeyStringInputRecord{1, check, 0, 0, 0, max_length, -1, -1, 0, 0, text, cancel_allowed,
                           single_byte_only, digits_only};
  return handle;
}

int SetActiveKeyStringInput(int handle) {
  if (handle == -1) {
    g_active = -1;
    return 0;
  }
  if (FindKeyStringInput(handle) == nullptr) return -1;
  g_active = handle;
  return 0;
}

int GetActiveKeyStringInput() { return g_active; }

int DeleteKeyStringInput(int handle) {
  KeyStringInputRecord* r = FindKeyStringInput(handle);
  if (r == nullptr) return -1;
  TrackedFree(r->text);
  g_table.Remove(handle);
  *r = KeyStringInputRecord{};
  if (g_active == handle) g_active = -1;
  bool any = false;
  for (const KeyStringInputRecord& other : g_records) any = any || other.in_use == 1;
  if (!any) SetImeEnabled(0);
  return 0;
}

int DeleteAllKeyStringInputs() {
  for (int i = 0; i < kKeyStringInputMax; ++i) {
    if (g_records[i].in_use == 1) DeleteKeyStringInput(g_table.HandleAt(i));
  }
  g_active = -1;
  return 0;
}

int UpdateKeyStringInput() {
  RunImeRestore();
  if (g_active == -1) return 0;
  KeyStringInputRecord* r = FindKeyStringInput(g_active);
  if (r == nullptr) return -1;
  if (r->ended != 0) return 0;
  uint8_t c[2];
  int n;
  while (r->ended == 0 && (n = PopInputChar(c, 1)) != 0) Edit(*r, c, n);
  return 0;
}

int InitCharCodeBuffer() {
  WriteLogLine("文字コードバッファの初期化を行います... ");
  g_read = g_write = 0;
  std::memset(g_chars, 0, sizeof g_chars);
  ClearImeState();
  for (int i = 0; i < kKeyStringInputMax; ++i) {
    if (g_records[i].in_use == 1) {
      g_table.Remove(g_table.HandleAt(i));
      TrackedFree(g_records[i].text);
    }
    g_records[i] = KeyStringInputRecord{};
  }
  g_active = -1;
  WriteLogLine("完了しました\n");
  return 0;
}
