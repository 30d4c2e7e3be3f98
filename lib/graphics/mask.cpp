// lib/graphics/mask.cpp - mask state and the hooks around every draw.
#include "lib/graphics/mask.h"

#include <cstring>

#include "lib/core/memory.h"
#include "lib/graphics/graphic.h"

namespace {

MaskState g_mask = {};
MaskRecord g_records[kMaskRecordCount] = {};

}  // namespace

MaskState& Mask() { return g_mask; }
MaskRecord* MaskRecords() { return g_records; }

// Only the outermost bracket does its work: the rectangle, clipped to the
// clip rectangle, is where the mask would be laid over the target. With no
// mask screen in use nothing more follows.
int PrepareMaskedDraw(int x1, int y1, int x2, int y2) {
  if (++g_mask.nesting != 1) return 0;
  const int* clip = Draw().clip;
  IntRect area{x1, y1, x2, y2};
  const IntRect bounds{clip[0], clip[1], clip[2], clip[3]};
  ClipRect(&area, &bounds);
  g_mask.area = area;
  return 0;
}

int ApplyMaskScreenToRect(int x1, int y1, int x2, int y2) {
  (void)x1;
  (void)y1;
  (void)x2;
  (void)y2;
  // An unmatched closing bracket must not drive the depth below zero.
  if (g_mask.nesting == 0) return 0;
  --g_mask.nesting;
  return 0;
}

int UpdateMaskDrawTarget(int use_flag) {
  (void)use_flag;
  if (g_mask.bitmap == nullptr) return -1;
  return 0;
}

int GetMaskScreenUseFlag() { return g_mask.use_flag; }

int SetMaskScreenUseFlag(int use_flag) {
  g_mask.use_flag = use_flag;
  g_mask.in_use = (g_mask.use_flag != 0 && g_mask.screen_made != 0) ? 1 : 0;
  return 0;
}

int CreateMaskScreenTextures(int screen_made) {
  if (screen_made == 0) return 0;
  return 0;
}

int ReleaseMaskScreen() {
  if (g_mask.bitmap != nullptr) {
    TrackedFree(g_mask.bitmap);
    g_mask.bitmap = nullptr;
  }
  ReleaseMemImg(&g_mask.image);
  return 0;
}

int RestoreMaskScreen() {
  CreateMaskScreenTextures(g_mask.screen_made);
  if (g_mask.use_flag != 0) UpdateMaskDrawTarget(1);
  return 0;
}

int EndMaskScreen() {
  if (g_mask.use_flag != 0) UpdateMaskDrawTarget(0);
  ReleaseMaskScreen();
  g_mask.screen_made = 0;
  g_mask.in_use = 0;
  return 0;
}

int DeleteMaskHandle(int handle) {
  if (handle < 0 || (uint32_t(handle) & 0x78000000u) != kMaskHandleKind) return -1;
  int slot = handle & 0xFFFF;
  if (slot >= kMaskRecordCount) return -1;
  MaskRecord& r = g_records[slot];
  if (r.in_use == 0 || r.check != ((uint32_t(handle) >> 16) & 0x7FF)) return -1;
  if (r.data != nullptr) TrackedFree(r.data);
  std::memset(&r, 0, sizeof(r));
  return 0;
}

int DeleteAllMaskHandles() {
  for (int i = 0; i < kMaskRecordCount; ++i) {
    MaskRecord& r = g_records[i];
    if (r.in_use != 1) continue;
    DeleteMaskHandle(int(kMaskHandleKind | ((r.check & 0x7FF) << 16) | uint32_t(i)));
  }
  return 0;
}

int ApplyPendingMaskRect() {
  g_mask.pending_flush = 0;
  return 0;
}
