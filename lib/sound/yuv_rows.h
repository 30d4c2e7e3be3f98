// lib/sound/yuv_rows.h - the 4:2:0 conversion of a Theora frame to 32-bit
// pixels: its fixed-point coefficients, the plain loop that is the
// reference, and the vector rows (SSE4.1, AVX2) that give the same bytes.
#pragma once

#include <cstdint>

struct BaseImage;
struct TheoraFrameSlot;

// BT.601 studio range in units of 1 / 16384. A channel is
// clamp((y_term + chroma terms) / 16384) with the division rounding toward
// zero; green carries a bias of 1024.
constexpr int32_t kYuvLuma = 19070;       // times (Y - 16)
constexpr int32_t kYuvCrRed = 26148;      // times (Cr - 128)
constexpr int32_t kYuvCbGreen = -6406;    // times (Cb - 128)
constexpr int32_t kYuvCrGreen = -13320;   // times (Cr - 128)
constexpr int32_t kYuvGreenBias = 1024;
constexpr int32_t kYuvCbBlue = 33062;     // times (Cb - 128)

// The widest vector rows the processor has, no wider than RORUD_SPAN_LEVEL:
// 0 the plain loop, 1 SSE4.1, 2 AVX2.
int Yuv420Level();

// Converts the top-left width x height pixels of a 4:2:0 frame into image
// (B, G, R, 255 a pixel) at a level (0 the plain loop; a level above the
// processor's is taken as its own). Every level writes the same bytes.
void ConvertYuv420(const TheoraFrameSlot& frame, BaseImage* image, int width, int height, int level);

// One row: pixels [0, n) of out from luma and the chroma rows cb and cr (a
// sample per two pixels), where n, returned, is width rounded down to the
// row's step; the caller converts the rest. Only called on processors
// with the instructions.
int Yuv420RowSse41(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int width);
int Yuv420RowAvx2(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int width);
