// tools/fuzz/pcm_decoder_fuzz.h - the body the converter fuzz targets share:
// one converter (the others disabled) over arbitrary bytes, read in odd
// pieces, seeked, and converted whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lib/core/memory.h"
#include "lib/core/stream.h"
#include "lib/sound/pcm_decoder.h"

inline int FuzzPcmDecoder(int32_t disable_mask, const uint8_t* data, size_t size) {
  static bool loaded = (LoadAcmFunctions(), true);
  (void)loaded;
  PcmDecoderDisableMask = disable_mask;
  SoundStream stream{};
  stream.ops = *GetMemoryStreamTable();
  stream.handle = MemoryStreamOpen(data, size);
  if (stream.handle == 0) return 0;
  PcmDecoderRecord record{};
  if (OpenPcmDecoder(&stream, &record) == 0) {
    std::vector<uint8_t> out(9001);
    record.ahead_target = static_cast<int32_t>(size % 20000) * record.format.block_align;
    for (int i = 0; i < 16; ++i) {
      int got = RunPcmDecoder(&record, out.data(), 1 + (i * 2311) % 9001);
      if (got <= 0) break;
    }
    SeekPcmDecoder(&record, static_cast<int32_t>(size % 20000));
    RunPcmDecoder(&record, out.data(), 5000);
    SeekPcmDecoder(&record, 1);
    RunPcmDecoder(&record, out.data(), 100);
    SeekPcmDecoder(&record, 1 << 28);
    plat::WaveFormatEx format{};
    void* pcm = nullptr;
    int32_t pcm_size = 0;
    if (GetPcmDecoderLength(&record) < (16 << 20) &&
        ConvertPcmDecoderToMemory(&record, &format, &pcm, &pcm_size) == 0)
      TrackedFree(pcm);
    ClosePcmDecoder(&record);
  }
  stream.ops.close(stream.handle);
  return 0;
}
