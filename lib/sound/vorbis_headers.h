// lib/sound/vorbis_headers.h - the check of a Vorbis stream's three header
// packets before anything of it is decoded. The decoder library takes some
// damaged setup headers without a word and then divides by zero, loops for
// ever or decodes with codebooks it never finished building; this reads the
// headers by their layout and refuses those.
#pragma once

#include <cstddef>
#include <cstdint>

struct VorbisHeaderPackets {
  const uint8_t* id;
  size_t id_size;
  const uint8_t* comment;
  size_t comment_size;
  const uint8_t* setup;
  size_t setup_size;
};

// Whether the stream's headers are whole and every value of its setup that
// the decode divides by, loops on or indexes with is usable.
bool VorbisHeadersDecodable(const VorbisHeaderPackets& packets);
