// platform/media/ffmpeg_common.h - what the FFmpeg-based filters share: the
// libraries' headers, quiet logging set up once, and the conversions between
// the coded-stream media type and the libraries' codec parameters.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "platform/media/media.h"

namespace plat {

// The most pixels a video frame may have: 1 GiB of 32-bit pixels, the
// library's picture limit. The decoders are held to it, so that a header
// claiming more never has frame memory asked for it.
constexpr int64_t kMaxVideoPixels = int64_t{1} << 28;

// Silences the libraries' own log output (once per process).
void QuietFfmpegLog();

// The media type of a coded stream: major audio or video, subtype coded
// packets, the codec's parameters and set-up bytes in the format block.
D_CMediaType CodedStreamType(const AVCodecParameters* parameters, AVRational time_base);
// The parameters back from such a type's format block; false when the
// block is too short for what it claims.
bool ReadCodedStreamType(const D_CMediaType& type, CodedStreamFormat* format, const uint8_t** extradata);

inline ReferenceTime ToReferenceTime(int64_t value, AVRational base) {
  return av_rescale_q(value, base, AVRational{1, static_cast<int>(kUnitsPerSecond)});
}

}  // namespace plat
