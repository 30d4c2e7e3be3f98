// lib/graphics/soft_draw.h - the graphics' software mode: the screen image
// and the two font work images, its copy to the window, and the adapters
// that hand graphics without textures and boxes to the memory-image
// kernels.
#pragma once

#include <cstdint>

#include "lib/graphics/graphic.h"
#include "lib/softrender/memimg.h"

// The software screen (screen size, 16-bit at 16 colour bits, else 32-bit).
MEMIMG& SoftScreenImage();
// The screen-sized work images of the software text path; alpha 1 gives the
// one with an alpha channel.
MEMIMG& SoftFontWorkImage(int alpha);

// Makes the screen image and the two work images, fills the screen with the
// clear colour (black) and makes it the software draw target; 0, or -1
// (and a log line) when there is no memory for the screen image.
int CreateScreenMemImgs();
// Releases the three images (nothing when they were never made).
void ReleaseScreenMemImgs();
// Shows (src_x, src_y, src_w, src_h) of the screen image in the window,
// scaled to dst_w x dst_h at the client's top-left corner; 0, or -1 without
// a screen image or window.
int CopyScreenImageToWindow(int src_x, int src_y, int src_w, int src_h, int dst_w, int dst_h);

// The software image of a graphic without textures, or null.
MEMIMG* GraphicMemImg(GraphicRecord* record);
// The MEMIMG a draw-target handle stands for in software mode: a graphic's
// image, or the screen image for the screen targets and bad handles.
MEMIMG* DrawTargetMemImg(int handle);

// Adapters: each returns 0; the public draws have checked handle,
// suspension and clip already.
int DrawGraphicAtSoft(int x, int y, GraphicRecord* record, int transparent);
int DrawGraphicStretchedSoft(int x1, int y1, int x2, int y2, GraphicRecord* record, int transparent);
int DrawGraphicRotatedSoft(float x, float y, double scale, double angle, GraphicRecord* record, int transparent,
                           int turn);
int DrawGraphicQuadSoft(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4, GraphicRecord* record,
                        int transparent);
int DrawGraphicQuadSoftF(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                         GraphicRecord* record, int transparent);
int FillBoxSoft(int x1, int y1, int x2, int y2, uint32_t colour);
int DrawBoxOutlineSoft(int x1, int y1, int x2, int y2, uint32_t colour);
