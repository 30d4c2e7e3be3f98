// platform/media/tiff_strips.h - whether the deflate strips of a TIFF file's
// first picture hold every row they stand for.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// False when a deflate-compressed strip of the first picture inflates to
// fewer bytes than its rows take, or fails to inflate, or lies outside the
// data. True otherwise, also for files this does not judge (other
// compressions, tiles, subsampled colour, headers it cannot read), which
// are left to the decoder.
bool TiffDeflateStripsWhole(const uint8_t* data, size_t size);

}  // namespace plat
