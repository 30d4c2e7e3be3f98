// Fuzz target: the MP3 converter over arbitrary bytes: tag skipping, the
// frame scan, whole-frame decoding through the compression manager, reads
// in odd pieces, seeks back through the look-ahead decoder, whole conversion.
#include "tools/fuzz/pcm_decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzPcmDecoder(~kPcmDisableMp3Acm, data, size);
}
