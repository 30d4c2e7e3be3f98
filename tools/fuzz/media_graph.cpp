// Fuzz target: arbitrary bytes through the memory source and a graph the
// graph manager builds (the demultiplexers and decoders it chooses), into the
// sample grabber and a null renderer, run to its end. The first byte picks
// the source's subtype: MPEG audio, or none (the content is probed).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lib/sound/mem_reader.h"
#include "lib/sound/sample_grabber.h"
#include "platform/kernel/com.h"
#include "platform/media/graph.h"

namespace {

using namespace plat;

HResult Count(IMediaSample* sample, ReferenceTime*, ReferenceTime*, int32_t, void* context) {
  uint8_t* data = nullptr;
  sample->GetPointer(&data);
  const int32_t n = sample->GetActualDataLength();
  uint32_t sum = 0;
  for (int32_t i = 0; i < n; ++i) sum += data[i];  // every byte handed out is readable
  *static_cast<uint64_t*>(context) += sum;
  return kS_OK;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::vector<uint8_t> image(data + 1, data + size);
  D_CMemStream* stream = CreateMemStream(image.data(), static_cast<int64_t>(image.size()), 0xFFFFFFFFu);
  D_CMediaType type;
  type.majortype = kMEDIATYPE_Stream;
  if (data[0] & 1) type.subtype = kMEDIASUBTYPE_MPEG1Audio;
  HResult r = kS_OK;
  D_CMemReader* reader = CreateMemReaderFilter(stream, &type, &r);
  reader->AddRef();
  IGraphBuilder* graph = nullptr;
  CoCreateInstance(kCLSID_FilterGraph, nullptr, kCLSCTX_INPROC, kIID_IGraphBuilder, reinterpret_cast<void**>(&graph));
  IMediaFilter* filter = nullptr;
  graph->QueryInterface(kIID_IMediaFilter, reinterpret_cast<void**>(&filter));
  filter->SetSyncSource(nullptr);
  filter->Release();
  D_CSampleGrabber* grabber = CreateSampleGrabberFilter(nullptr, &r);
  D_CMediaType accepted;
  accepted.majortype = kMEDIATYPE_Audio;
  accepted.subtype = kMEDIASUBTYPE_PCM;
  grabber->SetAcceptedMediaType(&accepted);
  uint64_t sum = 0;
  grabber->SetCallback(&Count, &sum);
  graph->AddFilter(grabber, u"SampleGrabber");
  graph->AddFilter(reader, u"MemFile");
  if (Succeeded(graph->Render(reader->GetPin(0)))) {
    IMediaControl* control = nullptr;
    IMediaEvent* event = nullptr;
    graph->QueryInterface(kIID_IMediaControl, reinterpret_cast<void**>(&control));
    graph->QueryInterface(kIID_IMediaEvent, reinterpret_cast<void**>(&event));
    control->Run();
    int32_t code = 0;
    // A graph that never finishes is a finding (the run times out).
    while (event->WaitForCompletion(1000, &code) != kS_OK) {
    }
    control->Stop();
    event->Release();
    control->Release();
  }
  graph->Release();
  DeleteMemStream(stream);
  DeleteMemReaderFilter(reader);
  return 0;
}
