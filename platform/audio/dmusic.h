// platform/audio/dmusic.h - the music-performance stand-in: a loader, a
// performance and segments that record what is asked of them. No class of
// it is registered for object creation, as on a machine without it; tests
// make the objects directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernel/com.h"

namespace plat {

class DirectMusicPerformance8;

class DirectMusicSegment8 {
 public:
  DirectMusicSegment8() = default;
  HResult Unload(DirectMusicPerformance8* performance);
  uint32_t Release();
  // Test hook: whether the performance reports the segment as playing.
  void SetPlaying(bool playing) { playing_ = playing; }
  bool playing() const { return playing_; }

 private:
  bool playing_ = false;
};

class DirectMusicPerformance8 {
 public:
  // kS_OK while the segment plays, kS_FALSE when not.
  HResult IsPlaying(DirectMusicSegment8* segment, void* state);
  HResult StopEx(void* object, int64_t time, uint32_t flags);
  HResult Stop(void* segment, void* state, int64_t time, uint32_t flags);
  HResult CloseDown();
  uint32_t Release();
};

class DirectMusicLoader8 {
 public:
  HResult ReleaseObjectByUnknown(void* object);
  uint32_t Release();
};

// Every call made on these objects since the last look, as "Name(...)".
std::vector<std::string> TakeDirectMusicCalls();

}  // namespace plat
