// Fuzz target: the coded-WAVE converter over arbitrary bytes: the chunk walk,
// the format checks of the codecs, whole-block decoding through the
// compression manager, reads in odd pieces, seeks, whole conversion.
#include "tools/fuzz/pcm_decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzPcmDecoder(~kPcmDisableAcmWave, data, size);
}
