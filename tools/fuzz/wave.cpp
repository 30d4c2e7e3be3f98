// Fuzz target: the WAVE chunk walk and plain-PCM converter over arbitrary
// bytes: open, read in odd pieces, seek about, convert whole, close.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lib/core/memory.h"
#include "lib/core/stream.h"
#include "lib/sound/pcm_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SoundStream stream{};
  stream.ops = *GetMemoryStreamTable();
  stream.handle = MemoryStreamOpen(data, size);
  if (stream.handle == 0) return 0;
  PcmDecoderRecord record{};
  if (OpenPcmDecoder(&stream, &record) == 0) {
    std::vector<uint8_t> out(4099);
    for (int i = 0; i < 64; ++i) {
      if (RunPcmDecoder(&record, out.data(), 1 + (i * 611) % 4099) <= 0) break;
    }
    SeekPcmDecoder(&record, 3);
    RunPcmDecoder(&record, out.data(), 100);
    SeekPcmDecoder(&record, 1 << 30);
    RunPcmDecoder(&record, out.data(), 100);
    plat::WaveFormatEx format{};
    void* pcm = nullptr;
    int32_t pcm_size = 0;
    if (ConvertPcmDecoderToMemory(&record, &format, &pcm, &pcm_size) == 0) TrackedFree(pcm);
    ClosePcmDecoder(&record);
  }
  stream.ops.close(stream.handle);
  return 0;
}
