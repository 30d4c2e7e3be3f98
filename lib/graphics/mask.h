// lib/graphics/mask.h - the mask state kept around every draw. No operation of
// the library makes a mask screen or a mask handle, so masking never takes
// effect; the hooks keep their state so that the draw code can call them as
// it stands.
#pragma once

#include <cstdint>

#include "lib/core/math3d.h"
#include "lib/softrender/memimg.h"

struct MaskRecord {
  uint32_t check;
  void* data;  // freed when the record is deleted
  int32_t word2;
  int32_t word3;
  int32_t word4;
  int32_t in_use;
  int32_t word6;
};

constexpr int kMaskRecordCount = 512;
constexpr uint32_t kMaskHandleKind = 0x28000000u;

struct MaskState {
  uint8_t* bitmap;        // one byte per screen pixel; never allocated
  int32_t bitmap_pitch;
  int32_t screen_made;    // 1 once a mask screen exists; nothing sets it
  int32_t use_flag;       // what the caller asked for
  int32_t in_use;         // use flag and screen made: always 0
  int32_t nesting;        // depth of the draw brackets
  int32_t pending_flush;  // nothing sets it
  IntRect area;           // the outermost bracket's rectangle, clipped
  MEMIMG image;           // the software mode's mask screen; never made
};

MaskState& Mask();
MaskRecord* MaskRecords();

int PrepareMaskedDraw(int x1, int y1, int x2, int y2);
int ApplyMaskScreenToRect(int x1, int y1, int x2, int y2);
int UpdateMaskDrawTarget(int use_flag);
int GetMaskScreenUseFlag();
int SetMaskScreenUseFlag(int use_flag);
int CreateMaskScreenTextures(int screen_made);
int ReleaseMaskScreen();
int RestoreMaskScreen();
int EndMaskScreen();
int DeleteMaskHandle(int handle);
int DeleteAllMaskHandles();
// Called by the flip: a pending masked flush would be done here.
int ApplyPendingMaskRect();
