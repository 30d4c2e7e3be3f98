// platform/media/graph.h - the graph manager, the system filters it can
// insert, and the class factories that object creation reaches them by.
//
// The graph manager holds filters by name, connects pins directly or through
// inserted filters (filters already in the graph first, then the system
// filters by media type, until each stream ends in a renderer), runs, pauses
// and stops them in order from the renderers upstream, keeps the reference
// clock, collects events (EC_COMPLETE once every connected renderer has seen
// its end of stream, EC_ERRORABORT on a streaming failure) and seeks. Its
// last release stops it and joins every streaming thread.
#pragma once

#include "platform/media/media.h"

namespace plat {

// Class factories for object creation by class identifier.
HResult CreateFilterGraphInstance(void* outer, const Guid& iid, void** out);
HResult CreateNullRendererInstance(void* outer, const Guid& iid, void** out);

// The clock of a graph: the platform's performance counter in 100 ns units,
// so it follows the virtual clock in headless runs.
IReferenceClock* CreateSystemReferenceClock();

// The system filters intelligent connection chooses from, in the order they
// are tried for a media type.
struct SystemFilterEntry {
  const char16_t* name;
  // Quick test of an output pin's offered type; the connection decides.
  bool (*accepts)(const D_CMediaType& type);
  HResult (*create)(IBaseFilter** filter);
};
const SystemFilterEntry* SystemFilters(int* count);

// The file source a graph renders files through: an async reader over a
// file on disk, named by UTF-16 path.
HResult CreateFileSourceFilter(const char16_t* path, IBaseFilter** filter);

// The device the audio renderer plays through (the library's sound device);
// without one the audio renderer consumes its samples in silence.
class DirectSound;
void SetMediaAudioDevice(DirectSound* device);
// For tests: how many times an audio renderer has filled its ring with
// untimed samples and waited for room. Right after the count moves on, the
// ring holds all but one block of a second ahead of its play cursor.
int64_t MediaAudioRingsFilled();
// For tests: how many packets the demultiplexer has read while seeking,
// from the landing place to where decoding is to start from and run to.
int64_t MediaSplitterSeekReads();
// For tests: how many sound packets or frames the decoders have refused as
// damaged.
int64_t MediaSoundRefusals();

// What a graph's decoders reported about sound they could not play.
struct SoundReports {
  // The channel count of the last report that a decoder passed over sound
  // it could not mix down (kEC_CHANNELS_NOT_MIXED), or 0.
  int unmixed_channels = 0;
  // A sound stream ended having decoded to nothing (kEC_SOUND_NOT_DECODED).
  bool not_decoded = false;
};
// Takes every event the graph holds, and what they report about sound.
SoundReports TakeSoundReports(IMediaEvent* events);
// Whether a rendered graph holds a sound output that nothing decodes (a
// codec FFmpeg has no decoder for, or whose set-up it refuses).
bool GraphLeavesSoundOut(IFilterGraph* graph);

}  // namespace plat
