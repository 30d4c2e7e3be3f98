// tests/support/theora_writer.h - Ogg movies made at test time with the
// reference Theora encoder (and the reference Vorbis encoder for a sound
// stream), so the player is checked against an independent producer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct MovieSpec {
  int width = 64;         // the picture; the coded frame is the picture and
  int height = 48;        // its offset rounded up to whole 16 x 16 blocks
  int frames = 10;
  int fps_numerator = 30;
  int fps_denominator = 1;
  bool sound = false;     // a Vorbis stream as long as the pictures
  bool theora = true;     // false: a Vorbis-only file
  int keyframe_interval = 64;
  int chroma = 420;       // 420 or 444
  int pic_x = 0;          // the picture's offset in the coded frame, from
  int pic_y = 0;          // its top left
};

// The samples of one pixel of frame `frame` (before coding).
struct YuvSample {
  uint8_t y, cb, cr;
};
// Frame contents: columns of 16 pixels are bars; the first bar's luma tells
// the frame number (32 + 16 x (frame % 12)); the bottom 16 rows are white.
YuvSample MovieSampleAt(int frame, int x, int y, int height);

// The whole Ogg file as bytes.
std::string MakeOggMovie(const MovieSpec& spec);

// Studio-range BT.601 in floating point, rounded and clamped: the
// independent reference for frame colours.
void Bt601Reference(int y, int cb, int cr, int* red, int* green, int* blue);

}  // namespace testsupport
