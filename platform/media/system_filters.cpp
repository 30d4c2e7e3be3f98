// platform/media/system_filters.cpp - the table of system filters that
// intelligent connection chooses from, in trial order.
#include "platform/media/graph.h"

namespace plat {

HResult CreateFfmpegSplitter(IBaseFilter** filter);
HResult CreateMpegAudioSource(IBaseFilter** filter);
HResult CreateFfmpegAudioDecoder(IBaseFilter** filter);
HResult CreateFfmpegVideoDecoder(IBaseFilter** filter);
HResult CreateAudioRenderer(IBaseFilter** filter);

namespace {

bool IsStream(const D_CMediaType& t) { return t.majortype == kMEDIATYPE_Stream; }
bool IsMpegAudioStream(const D_CMediaType& t) {
  return t.majortype == kMEDIATYPE_Stream && t.subtype == kMEDIASUBTYPE_MPEG1Audio;
}
bool IsCodedAudio(const D_CMediaType& t) {
  return t.majortype == kMEDIATYPE_Audio && t.subtype == kMEDIASUBTYPE_CodedPackets;
}
bool IsCodedVideo(const D_CMediaType& t) {
  return t.majortype == kMEDIATYPE_Video && t.subtype == kMEDIASUBTYPE_CodedPackets;
}
bool IsPcmAudio(const D_CMediaType& t) { return t.majortype == kMEDIATYPE_Audio && t.subtype == kMEDIASUBTYPE_PCM; }

// A stream said to be MPEG audio goes to the MPEG audio source first (it
// takes free-format bit rates and follows damaged streams as the reference
// decoder does); the general demultiplexer takes every other stream and the
// MPEG audio the first one refuses.
const SystemFilterEntry kSystemFilters[] = {
    {u"MPEG Audio Source", &IsMpegAudioStream, &CreateMpegAudioSource},
    {u"Media Splitter", &IsStream, &CreateFfmpegSplitter},
    {u"Audio Decoder", &IsCodedAudio, &CreateFfmpegAudioDecoder},
    {u"Video Decoder", &IsCodedVideo, &CreateFfmpegVideoDecoder},
    {u"Audio Renderer", &IsPcmAudio, &CreateAudioRenderer},
};

}  // namespace

const SystemFilterEntry* SystemFilters(int* count) {
  *count = static_cast<int>(sizeof(kSystemFilters) / sizeof(kSystemFilters[0]));
  return kSystemFilters;
}

}  // namespace plat
