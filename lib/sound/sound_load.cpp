// lib/sound/sound_load.cpp - turning a sound file image into a sound handle:
// converted whole into the handle's buffers, or kept as a stream sound when it
// is long or when the creation mode asks for one.
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/sound/sound_internal.h"
#include "rorud/rorud.h"

int SetSoundCreateMode(int mode) {
  if (mode < 0 || mode > 3) return -1;
  SoundCreateMode = mode == 1 ? 0 : mode;
  return 0;
}

int GetSoundCreateMode() { return SoundCreateMode; }

int SetSoundSetting2(int mask) {
  PcmDecoderDisableMask = mask;
  return 0;
}

int GetSoundSetting2() { return PcmDecoderDisableMask; }

int CreateSoundHandleFromFile(const void* image, int image_size, int buffer_count, int share_handle) {
  if (!SoundStarted() || buffer_count > kSoundBufferMax || image == nullptr || image_size < 0) return -1;
  SoundLockScope lock;
  int handle = AddSoundData(-1);
  if (handle == -1) return -1;
  const int saved_mode = SoundCreateMode;
  SoundStream stream{};
  PcmDecoderRecord* converter = nullptr;
  bool converter_open = false;
  auto fail = [&]() {
    DeleteSoundHandle(handle, 0);
    if (converter_open) ClosePcmDecoder(converter);
    TrackedFree(converter);
    if (stream.handle != 0) stream.ops.close(stream.handle);
    SoundCreateMode = saved_mode;
    return -1;
  };
  if (SoundCreateMode == 0) {
    stream.ops = *GetMemoryStreamTable();
    stream.handle = MemoryStreamOpen(image, static_cast<size_t>(image_size));
    converter = static_cast<PcmDecoderRecord*>(TrackedCalloc(sizeof(PcmDecoderRecord), "", 0));
    if (stream.handle == 0 || converter == nullptr || OpenPcmDecoder(&stream, converter) != 0) {
      WriteLogLineFmt("音声ファイルのＰＣＭへの変換に失敗しました");
      return fail();
    }
    converter_open = true;
    plat::WaveFormatEx format{};
    void* pcm = nullptr;
    int32_t pcm_size = 0;
    if (ConvertPcmDecoderToMemory(converter, &format, &pcm, &pcm_size) != 0) {
      WriteLogLineFmt("音声ファイルを格納するメモリ領域の確保に失敗しました");
      return fail();
    }
    ClosePcmDecoder(converter);
    converter_open = false;
    TrackedFree(converter);
    converter = nullptr;
    stream.ops.close(stream.handle);
    stream.handle = 0;
    const bool short_enough =
        format.avg_bytes_per_sec != 0 && static_cast<uint32_t>(pcm_size) / format.avg_bytes_per_sec < 181;
    if (short_enough &&
        CreateSoundHandleBuffers(-1, &format, static_cast<uint32_t>(pcm_size), 0, buffer_count, handle) == 0) {
      SoundRecord* r = FindSound(handle);
      r->frequency = static_cast<int32_t>(format.samples_per_sec);
      r->ref_count = static_cast<uint32_t*>(TrackedAlloc(sizeof(uint32_t), "", 0));
      if (r->ref_count == nullptr) {
        WriteLogLine("サウンドデータの参照数を保存するメモリ領域の確保に失敗しました");
        TrackedFree(pcm);
        return fail();
      }
      r->format = format;
      r->data_size = static_cast<uint32_t>(pcm_size);
      r->data = static_cast<uint8_t*>(pcm);
      *r->ref_count = 1;
      for (int i = 0; i < r->buffer_count; ++i) {
        if (r->duplicate[i] == 1 || pcm_size == 0) continue;
        SoundBufferPieces pieces{};
        if (SoundBufLock(&r->buffers[i], 0, static_cast<uint32_t>(pcm_size), &pieces) != 0) {
          WriteLogLine("サウンドデータの転送に失敗しました_1");
          return fail();
        }
        std::memcpy(pieces.piece1, pcm, pieces.bytes1);
        if (pieces.piece2 != nullptr)
          std::memcpy(pieces.piece2, static_cast<uint8_t*>(pcm) + pieces.bytes1, pieces.bytes2);
        if (SoundBufUnlock(&r->buffers[i], &pieces) != 0) {
          WriteLogLine("サウンドデータの転送に失敗しました_2");
          return fail();
        }
      }
      return handle;
    }
    // Too long for whole buffers, or no buffers to be had: a stream sound
    // over the file image instead.
    TrackedFree(pcm);
    SoundCreateMode = 2;
  }
  if (AddStreamSoundMemory(image, image_size, 0, handle, SoundCreateMode, share_handle) != 0) return fail();
  StartStreamSound(handle);
  SoundCreateMode = saved_mode;
  return handle;
}
