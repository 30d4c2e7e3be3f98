// lib/graphics/graphics_links.h - operations of other graphics and core
// parts that the device start, screen modes and flip call at their places.
//
// They are referenced weakly: a part that is not in this build has a null
// address and its call is skipped, exactly as the library start skips a
// subsystem that is absent. When the part is built, its definition is used.
#pragma once

#include <cstdint>

#define RR_WEAK __attribute__((weak))

// Graphic handles, textures, restore (draw targets), draw states, batch.
RR_WEAK int TerminateGraphicsSystem();
RR_WEAK int ResetGraphicHandleCount();
RR_WEAK int ReleaseAllTextures();
RR_WEAK int InitVertexBatchBuffers();
RR_WEAK int FlushVertexBatch();
RR_WEAK int UpdateShaderIndex();
RR_WEAK int ResetDrawSettings();
RR_WEAK int SetDrawTarget(int handle);
RR_WEAK int GetDrawTarget();
RR_WEAK int RefreshDrawStates();
RR_WEAK int ClearLastDrawWords();
RR_WEAK int SetRenderTargetSurface(void* surface, int internal_switch);
// Models, masks, fonts.
RR_WEAK int ReleaseModelDeviceObjects();
RR_WEAK int ReleaseMaskScreen();
RR_WEAK int ApplyPendingMaskRect();
RR_WEAK int ResetFontSystem();
RR_WEAK int GetDefaultFontSettings(char* face, int* size, int* thickness);
RR_WEAK int SetDefaultFontSize(const char* face, int size, int thickness);
// Software screen and blend tables.
RR_WEAK int BuildSoftBlendTables();
RR_WEAK int CreateScreenMemImgs();
RR_WEAK int CopyScreenImageToWindow(int src_x, int src_y, int src_w, int src_h, int dst_w, int dst_h);
// The on-screen log drawn over each frame.
RR_WEAK int GetScreenLogLineCount();
RR_WEAK int DrawScreenLogOverFrame();
