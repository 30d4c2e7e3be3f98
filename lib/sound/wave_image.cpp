// lib/sound/wave_image.cpp - WAVE file images in memory, whole-stream reads,
// millisecond and sample conversions, and finishing the sound output file.
#include <cstdio>
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/sound/sound_internal.h"

SoundOutputFile g_sound_output_file;

namespace {
void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
}  // namespace

int CreateWaveFileImage(void** image, int32_t* image_size, const void* format, int32_t format_size,
                        const void* data, int32_t data_size) {
  if (format_size < 0 || data_size < 0) return -1;
  uint64_t total = static_cast<uint64_t>(format_size) + static_cast<uint64_t>(data_size) + 28;
  if (total > INT32_MAX) return WriteLogLine("仮WAVEファイルイメージ用のメモリ確保に失敗しました\n");
  auto* p = static_cast<uint8_t*>(TrackedAlloc(static_cast<size_t>(total), "", 0));
  if (p == nullptr) return WriteLogLine("仮WAVEファイルイメージ用のメモリ確保に失敗しました\n");
  const uint32_t F = static_cast<uint32_t>(format_size), D = static_cast<uint32_t>(data_size);
  std::memcpy(p, "RIFF", 4);
  Put32(p + 4, F + D + 20);
  std::memcpy(p + 8, "WAVE", 4);
  std::memcpy(p + 12, "fmt ", 4);
  Put32(p + 16, F);
  if (F) std::memcpy(p + 20, format, F);
  std::memcpy(p + 20 + F, "data", 4);
  Put32(p + 24 + F, D);
  if (D) std::memcpy(p + 28 + F, data, D);
  *image = p;
  *image_size = static_cast<int32_t>(total);
  return 0;
}

int AllocStreamReadBuffer(const SoundStream* stream, void** data, int32_t* size) {
  stream->ops.seek(stream->handle, 0, 2);
  int64_t length = stream->ops.tell(stream->handle);
  stream->ops.seek(stream->handle, 0, 0);
  if (length < 0 || length > INT32_MAX) return WriteLogLineFmt("ストリームの読み込みに必要なメモリの確保に失敗しました");
  // One spare byte so that an empty stream still gets a block of its own.
  auto* block = static_cast<uint8_t*>(TrackedAlloc(static_cast<size_t>(length) + 1, "", 0));
  if (block == nullptr) return WriteLogLineFmt("ストリームの読み込みに必要なメモリの確保に失敗しました");
  size_t got = length > 0 ? stream->ops.read(block, 1, static_cast<size_t>(length), stream->handle) : 0;
  *data = block;
  *size = static_cast<int32_t>(got);
  return 0;
}

int32_t MsToSamples(int32_t milliseconds, int32_t rate) {
  unsigned __int128 product = static_cast<unsigned __int128>(static_cast<uint64_t>(static_cast<int64_t>(milliseconds))) *
                              static_cast<uint64_t>(static_cast<int64_t>(rate));
  return static_cast<int32_t>(static_cast<uint32_t>(product / 1000));
}

int32_t SamplesToMs(int32_t samples, int32_t rate) {
  if (rate == 0) return 0;
  unsigned __int128 product = static_cast<unsigned __int128>(static_cast<uint64_t>(static_cast<int64_t>(samples))) * 1000u;
  return static_cast<int32_t>(static_cast<uint32_t>(product / static_cast<uint64_t>(static_cast<int64_t>(rate))));
}

int WriteWaveFile() {
  if (!g_sound_output_file.open) return -1;
  uint8_t header[46];
  const uint32_t bytes = static_cast<uint32_t>(g_sound_output_file.frames) * 4;
  std::memcpy(header, "RIFF", 4);
  Put32(header + 4, bytes + 38);
  std::memcpy(header + 8, "WAVE", 4);
  std::memcpy(header + 12, "fmt ", 4);
  Put32(header + 16, 18);
  Put16(header + 20, 1);
  Put16(header + 22, 2);
  Put32(header + 24, 44100);
  Put32(header + 28, 176400);
  Put16(header + 32, 4);
  Put16(header + 34, 16);
  Put16(header + 36, 0);
  std::memcpy(header + 38, "data", 4);
  Put32(header + 42, bytes);
  auto* file = static_cast<std::FILE*>(g_sound_output_file.file);
  if (file != nullptr) {
    std::fseek(file, 0, SEEK_SET);
    std::fwrite(header, 1, sizeof(header), file);
    std::fclose(file);
  }
  g_sound_output_file.file = nullptr;
  g_sound_output_file.open = 0;
  return 0;
}
