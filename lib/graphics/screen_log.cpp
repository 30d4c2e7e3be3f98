// lib/graphics/screen_log.cpp - the on-screen log: a page of text lines drawn
// with its own outlined font over the frame at each flip.
#include <cstring>

#include "lib/core/charset.h"
#include "lib/system/window_system.h"
#include "lib/graphics/font.h"
#include "lib/graphics/graphics_device.h"
#include "rorud/rorud.h"

namespace {

struct ScreenLogState {
  int started;
  int font_size;
  int font;
  int font_needed;
  int line_count;
  char page[kScreenLogLines * kScreenLogLineBytes];
};

ScreenLogState g_log = {0, 16, -1, 1, 0, {}};

}  // namespace

int ScreenLogStart() {
  if (GetDirectDrawObject() == nullptr || GetMainWindow() == nullptr) return -1;
  if (g_log.started) return 0;
  g_log.started = 1;
  g_log.font_size = 16;
  g_log.font = -1;
  g_log.font_needed = 1;
  ScreenLogMakeFont();
  g_log.line_count = 0;
  std::memset(g_log.page, 0, sizeof g_log.page);
  return 0;
}

int ScreenLogMakeFont() {
  if (!g_log.started && ScreenLogStart() != 0) return 0;
  if (g_log.font_needed) {
    // A rebuild of all fonts re-creates the font under its old handle and
    // sets the flag; making another would leave that one behind at every
    // rebuild until no handle is left, so the re-created one is taken.
    if (!IsFontHandleValid(g_log.font)) {
      g_log.font = CreateFontToHandle(nullptr, g_log.font_size, 4, 1, -1, -1, 0, -1, -1);
    }
    g_log.font_needed = 0;
    // Deleting the font (a device rebuild does) sets the flag again, so the
    // next draw makes it anew.
    SetFontLostFlag(g_log.font, &g_log.font_needed);
  }
  return 0;
}

int ScreenLogDraw() {
  if (!g_log.started && ScreenLogStart() != 0) return 0;
  ScreenLogMakeFont();
  int width = 0, height = 0;
  GetScreenSize(&width, &height);
  int lines = height / 16;
  if (lines > kScreenLogLines) lines = kScreenLogLines;
  if (lines < 1) return 0;
  const uint32_t white = GetColorCode(255, 255, 255);
  const uint32_t black = GetColorCode(0, 0, 0);
  for (int i = 0; i < lines; ++i) {
    DrawTextWithFont(0, 16 * i, g_log.page + kScreenLogLineBytes * i, white, g_log.font, black, 0);
  }
  return 0;
}

int ScreenLogEnd() {
  if (!g_log.started) return 0;
  if (!g_log.font_needed) FontHandleDelete(g_log.font);
  g_log.font_needed = 1;
  g_log.font = -1;
  g_log.started = 0;
  return 0;
}

int GetScreenLogLineCount() { return g_log.line_count; }

int DrawScreenLogOverFrame() { return ScreenLogDraw(); }

int ScreenLogAddLine(const char* text) {
  if (text == nullptr) return -1;
  if (g_log.line_count == kScreenLogLines) {
    std::memmove(g_log.page, g_log.page + kScreenLogLineBytes, (kScreenLogLines - 1) * kScreenLogLineBytes);
    --g_log.line_count;
  }
  char* line = g_log.page + kScreenLogLineBytes * g_log.line_count;
  size_t n = 0;
  while (text[n] != '\0' && text[n] != '\n') {
    const size_t step = (IsLibraryLeadByte(static_cast<unsigned char>(text[n])) && text[n + 1] != '\0') ? 2 : 1;
    if (n + step > kScreenLogLineBytes - 1) break;
    n += step;
  }
  std::memset(line, 0, kScreenLogLineBytes);
  std::memcpy(line, text, n);
  ++g_log.line_count;
  return 0;
}

const char* GetScreenLogLine(int index) {
  if (index < 0 || index >= kScreenLogLines) return nullptr;
  return g_log.page + kScreenLogLineBytes * index;
}
