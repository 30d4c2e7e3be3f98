// platform/media/vorbis_channel_mix.cpp - Vorbis-ordered channels mixed to
// one or two (platform/media/vorbis_channel_mix.h).
#include "platform/media/vorbis_channel_mix.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <bit>
#include <cstring>

namespace plat {

namespace {

// The channels of Vorbis's layouts of 1 to 8 channels, in the order the
// format puts them in a packet.
constexpr uint64_t kVorbisChannels[8][8] = {
    {AV_CH_FRONT_CENTER},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_RIGHT},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_CENTER, AV_CH_FRONT_RIGHT},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_RIGHT, AV_CH_BACK_LEFT, AV_CH_BACK_RIGHT},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_CENTER, AV_CH_FRONT_RIGHT, AV_CH_BACK_LEFT, AV_CH_BACK_RIGHT},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_CENTER, AV_CH_FRONT_RIGHT, AV_CH_BACK_LEFT, AV_CH_BACK_RIGHT,
     AV_CH_LOW_FREQUENCY},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_CENTER, AV_CH_FRONT_RIGHT, AV_CH_SIDE_LEFT, AV_CH_SIDE_RIGHT,
     AV_CH_BACK_CENTER, AV_CH_LOW_FREQUENCY},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_CENTER, AV_CH_FRONT_RIGHT, AV_CH_SIDE_LEFT, AV_CH_SIDE_RIGHT,
     AV_CH_BACK_LEFT, AV_CH_BACK_RIGHT, AV_CH_LOW_FREQUENCY},
};

}  // namespace

VorbisChannelMix::~VorbisChannelMix() { swr_free(&context_); }

bool VorbisChannelMix::Mixable(int channels, int out_channels) {
  VorbisChannelMix mix(out_channels, 2);
  return mix.Prepare(channels);
}

// A context for `channels` channels: the layout Vorbis names, else the
// count's default layout, and the place of each channel in that layout's
// own order.
bool VorbisChannelMix::Prepare(int channels) {
  if (channels == in_channels_ && context_ != nullptr) return true;
  swr_free(&context_);
  in_channels_ = 0;
  if (channels < 1 || channels > 255 || out_channels_ < 1 || out_channels_ > 2 || channels == out_channels_)
    return false;
  AVChannelLayout in{};
  order_.assign(static_cast<size_t>(channels), 0);
  if (channels <= 8) {
    uint64_t mask = 0;
    for (int c = 0; c < channels; ++c) mask |= kVorbisChannels[channels - 1][c];
    if (av_channel_layout_from_mask(&in, mask) < 0) return false;
    for (int c = 0; c < channels; ++c)
      order_[static_cast<size_t>(c)] = std::popcount(mask & (kVorbisChannels[channels - 1][c] - 1));
  } else {
    av_channel_layout_default(&in, channels);
    if (in.order != AV_CHANNEL_ORDER_NATIVE) {
      av_channel_layout_uninit(&in);
      return false;
    }
    for (int c = 0; c < channels; ++c) order_[static_cast<size_t>(c)] = c;
  }
  AVChannelLayout out{};
  av_channel_layout_default(&out, out_channels_);
  const AVSampleFormat format = word_size_ == 1 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  // The rate is the same on both sides: nothing is resampled.
  const bool made = swr_alloc_set_opts2(&context_, &out, format, 48000, &in, format, 48000, 0, nullptr) >= 0 &&
                    swr_init(context_) >= 0;
  av_channel_layout_uninit(&in);
  av_channel_layout_uninit(&out);
  if (!made) {
    swr_free(&context_);
    return false;
  }
  in_channels_ = channels;
  return true;
}

bool VorbisChannelMix::Mix(const uint8_t* in, int channels, int frames, uint8_t* out) {
  if (frames <= 0) return frames == 0;
  if (!Prepare(channels)) return false;
  const size_t word = static_cast<size_t>(word_size_);
  const size_t frame_bytes = static_cast<size_t>(channels) * word;
  ordered_.resize(static_cast<size_t>(frames) * frame_bytes);
  for (size_t f = 0; f < static_cast<size_t>(frames); ++f)
    for (size_t c = 0; c < static_cast<size_t>(channels); ++c)
      std::memcpy(&ordered_[f * frame_bytes + static_cast<size_t>(order_[c]) * word], in + f * frame_bytes + c * word,
                  word);
  const uint8_t* from = ordered_.data();
  uint8_t* to = out;
  return swr_convert(context_, &to, frames, &from, frames) == frames;
}

}  // namespace plat
