// platform/media/vorbis_channel_mix.h - sound in Vorbis channel order mixed to
// one or two channels by its layout, with libswresample's mix, as the media
// graph mixes a sound of many channels: the OGG converter plays a chained
// file's link of another channel count through it. Samples are the converter's
// words: 16-bit signed in host order, or 8-bit unsigned. The rate is left as
// it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct SwrContext;

namespace plat {

class VorbisChannelMix {
 public:
  VorbisChannelMix(int out_channels, int word_size) : out_channels_(out_channels), word_size_(word_size) {}
  ~VorbisChannelMix();
  VorbisChannelMix(const VorbisChannelMix&) = delete;
  VorbisChannelMix& operator=(const VorbisChannelMix&) = delete;

  // Whether sound of `channels` channels in Vorbis order has a mix to
  // `out_channels` (1 or 2): Vorbis names the layouts of 1 to 8 channels,
  // and a larger count is mixed by its default layout where there is one.
  static bool Mixable(int channels, int out_channels);

  // Mixes `frames` frames of `channels` interleaved channels at `in` to the
  // sound's channels at `out`: false when there is no mix for them.
  bool Mix(const uint8_t* in, int channels, int frames, uint8_t* out);

  // A block of `bytes` bytes to read a link's frames into before their mix.
  uint8_t* Input(size_t bytes) {
    if (input_.size() < bytes) input_.resize(bytes);
    return input_.data();
  }

 private:
  bool Prepare(int channels);

  int out_channels_;
  int word_size_;
  int in_channels_ = 0;  // the count the context mixes (0: none yet)
  SwrContext* context_ = nullptr;
  std::vector<int> order_;        // each Vorbis channel's place in the layout's own order
  std::vector<uint8_t> ordered_;  // the link's frames put in that order
  std::vector<uint8_t> input_;
};

}  // namespace plat
