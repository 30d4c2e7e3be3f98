// platform/audio/dmusic.cpp - the recording music-performance objects.
#include "platform/audio/dmusic.h"

#include <mutex>

namespace plat {

namespace {
std::mutex g_mutex;
std::vector<std::string> g_calls;
void Record(std::string call) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_calls.push_back(std::move(call));
}
}  // namespace

HResult DirectMusicSegment8::Unload(DirectMusicPerformance8*) {
  Record("Segment::Unload");
  return kS_OK;
}
uint32_t DirectMusicSegment8::Release() {
  Record("Segment::Release");
  delete this;
  return 0;
}

HResult DirectMusicPerformance8::IsPlaying(DirectMusicSegment8* segment, void*) {
  Record("Performance::IsPlaying");
  return segment != nullptr && segment->playing() ? kS_OK : kS_FALSE;
}
HResult DirectMusicPerformance8::StopEx(void* object, int64_t, uint32_t) {
  Record("Performance::StopEx");
  if (object != nullptr) static_cast<DirectMusicSegment8*>(object)->SetPlaying(false);
  return kS_OK;
}
HResult DirectMusicPerformance8::Stop(void*, void*, int64_t, uint32_t) {
  Record("Performance::Stop");
  return kS_OK;
}
HResult DirectMusicPerformance8::CloseDown() {
  Record("Performance::CloseDown");
  return kS_OK;
}
uint32_t DirectMusicPerformance8::Release() {
  Record("Performance::Release");
  delete this;
  return 0;
}

HResult DirectMusicLoader8::ReleaseObjectByUnknown(void*) {
  Record("Loader::ReleaseObjectByUnknown");
  return kS_OK;
}
uint32_t DirectMusicLoader8::Release() {
  Record("Loader::Release");
  delete this;
  return 0;
}

std::vector<std::string> TakeDirectMusicCalls() {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<std::string> out;
  out.swap(g_calls);
  return out;
}

}  // namespace plat
