// lib/softrender/soft_kernels.h - the memory-image kernels: plain, stretched,
// rotated and triangle blits, the rectangle fill and lines. Each reads the
// blend mode, blend parameter, bright colour and clip rectangle of
// SoftDraw() and the BlendTables, and draws nothing when the source and
// destination pixel formats differ or the destination is paletted or has an
// alpha channel. None returns a result.
#pragma once

#include <cstdint>

#include "lib/core/math3d.h"
#include "lib/softrender/memimg.h"

// One vertex of a textured triangle: x, y in destination pixels, u, v in
// source pixels.
struct TriangleVertex {
  int32_t x, y, u, v;
};

// One line of the list form; the parameter word is not read.
struct MemImgLineRecord {
  int32_t x1, y1;  // drawn
  int32_t x2, y2;  // not drawn
  uint32_t colour; // in the destination's pixel format
  uint32_t param;
};

// ---- Plain and stretched blits, fill, lines --------------------------------------

// Draws the whole source with its top-left corner at (x, y). A non-zero
// transparency flag skips the transparent colour (or palette index); only 1
// admits the run-table path. blend: one byte a pixel over the source, or null.
void DrawMemImgBasic(MEMIMG* dst, const MEMIMG* src, int x, int y, int trans, const MEMIMG* blend);
// Draws the whole source stretched onto rect {x1, y1, x2, y2}; a reversed
// axis mirrors it, a zero width or height draws nothing.
void DrawMemImgStretch(MEMIMG* dst, const MEMIMG* src, const IntRect* rect, int trans, const MEMIMG* blend);
// Fills rect (null: the whole destination), each axis put in order and
// clipped to the clip rectangle, under the blend state. colour is in the
// destination's pixel format.
void FillMemImgRect(MEMIMG* dst, const IntRect* rect, uint32_t colour);
// A one-pixel line from (x1, y1), drawn, to (x2, y2), not drawn.
void DrawMemImgLine(MEMIMG* dst, int x1, int y1, int x2, int y2, uint32_t colour);
// Each record in order through DrawMemImgLine; a count of 0 or less draws nothing.
void DrawMemImgLineList(MEMIMG* dst, const MemImgLineRecord* records, int count);

// ---- Transformed blits ------------------------------------------------------------

// Maps one triangle of the source affinely onto the destination; with a null
// source fills it with colour. Callers with a source pass colour 0.
void DrawMemImgTexturedTriangle(MEMIMG* dst, const MEMIMG* src, const TriangleVertex* verts, int trans,
                                const MEMIMG* blend, uint32_t colour);
// Draws the whole source turned by angle (radians) and scaled about (x, y);
// a non-zero turn flag draws it mirrored left to right as two triangles.
void DrawMemImgRotation(MEMIMG* dst, const MEMIMG* src, int x, int y, float angle, float scale, int trans,
                        int turn, const MEMIMG* blend);
// corners: x0, y0 .. x3, y3, receiving the source's top-left, top-right,
// bottom-left and bottom-right; drawn as two textured triangles.
void DrawMemImgRotaSetup(MEMIMG* dst, const MEMIMG* src, const int32_t* corners, int trans,
                         const MEMIMG* blend);
