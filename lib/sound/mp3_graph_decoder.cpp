// lib/sound/mp3_graph_decoder.cpp - the last converter: a file the others
// refuse (an MP3 the compression manager does not take, or a format only
// FFmpeg decodes, such as 24-bit WAVE or FLAC) is decoded whole, at open
// time, by a filter graph (memory source, the splitter and decoder the graph
// manager chooses, the sample grabber collecting the PCM, a null renderer in
// place of the audio renderer), and the record becomes a MEMORY conversion
// over the 16-bit PCM.
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/system/window_system.h"
#include "lib/sound/mem_reader.h"
#include "lib/sound/pcm_decoder.h"
#include "lib/sound/sample_grabber.h"
#include "lib/sound/sound.h"
#include "platform/media/graph.h"

using namespace plat;

namespace {

constexpr uint32_t kGrowStep = 1048576;

using CreateFn = HResult (*)(const Guid&, void*, uint32_t, const Guid&, void**);

CreateFn ObjectCreator() {
  auto create = reinterpret_cast<CreateFn>(GetLoadedFunction("CoCreateInstance"));
  return create != nullptr ? create : &plat::CoCreateInstance;
}

// Everything one conversion holds; Release lets go of the graph's
// interfaces before the renderer, stream, reader and file image they use.
struct GraphParts {
  uint8_t* image = nullptr;
  D_CMemStream* stream = nullptr;
  D_CMemReader* reader = nullptr;
  IBaseFilter* null_renderer = nullptr;
  IGraphBuilder* graph = nullptr;
  IMediaFilter* media_filter = nullptr;
  IMediaControl* control = nullptr;
  IMediaEvent* event = nullptr;

  void Release() {
    SafeRelease(&event);
    SafeRelease(&media_filter);
    SafeRelease(&control);
    SafeRelease(&graph);
    SafeRelease(&null_renderer);
    DeleteMemStream(stream);
    stream = nullptr;
    if (reader != nullptr) {
      // The converter's own reference goes with the reader.
      DeleteMemReaderFilter(reader);
      reader = nullptr;
    }
    TrackedFree(image);
    image = nullptr;
  }
};

// Writes the refusal as a line of its own (none when it is written already)
// and lets go of everything.
int Refuse(PcmDecoderRecord* r, GraphParts* parts, const char* message) {
  if (message != nullptr) WriteLogLineFmt("%s", message);
  parts->Release();
  TrackedFree(r->mem.data);
  r->mem.data = nullptr;
  return -1;
}

// Swaps the renderer that rendering chose for the null renderer.
bool ReplaceRenderer(GraphParts* parts) {
  IEnumFilters* filters = nullptr;
  if (Failed(parts->graph->EnumFilters(&filters))) return false;
  IPin* upstream = nullptr;
  IBaseFilter* filter = nullptr;
  uint32_t fetched = 0;
  while (upstream == nullptr && filters->Next(1, &filter, &fetched) == kS_OK && fetched == 1) {
    IPin* in = FindFilterPin(filter, 0);
    IPin* out = FindFilterPin(filter, 1);
    IPin* connected = nullptr;
    if (in != nullptr && out == nullptr && in->ConnectedTo(&connected) == kS_OK && connected != nullptr) {
      parts->graph->Disconnect(connected);
      parts->graph->Disconnect(in);
      upstream = connected;
    }
    if (in != nullptr) in->Release();
    if (out != nullptr) out->Release();
    filter->Release();
  }
  filters->Release();
  if (upstream == nullptr) return false;
  IPin* null_in = FindFilterPin(parts->null_renderer, 0);
  const bool ok = null_in != nullptr && Succeeded(parts->graph->Connect(upstream, null_in));
  upstream->Release();
  if (null_in != nullptr) null_in->Release();
  return ok;
}

// A cut file gets the same line as with the other converters: a WAVE file
// by its data chunk, an MP3 by its last frame.
void NoteShortfall(PcmDecoderRecord* r, const uint8_t* image, int64_t size) {
  if (size >= 12 && std::memcmp(image, "RIFF", 4) == 0) {
    uint8_t* body = nullptr;
    int32_t body_size = 0;
    r->stream.ops.seek(r->stream.handle, 0, 0);
    if (WalkWaveChunks(r, &body, &body_size) == 0) TrackedFree(body);
    return;
  }
  r->missing_bytes = MpegImageShortfall(image, size);
}

}  // namespace

IPin* FindFilterPin(IBaseFilter* filter, int direction) {
  IEnumPins* pins = nullptr;
  if (filter == nullptr || Failed(filter->EnumPins(&pins))) return nullptr;
  IPin* found = nullptr;
  IPin* pin = nullptr;
  uint32_t fetched = 0;
  while (pins->Next(1, &pin, &fetched) == kS_OK && fetched == 1) {
    PinDirection d;
    if (found == nullptr && Succeeded(pin->QueryDirection(&d)) && static_cast<int>(d) == direction) {
      found = pin;
      continue;
    }
    pin->Release();
  }
  pins->Release();
  return found;
}

HResult StoreMp3PcmSample(IMediaSample* sample, ReferenceTime*, ReferenceTime*, int32_t, void* context) {
  auto* r = static_cast<PcmDecoderRecord*>(context);
  if (r->mem.data == nullptr) return kS_OK;
  uint8_t* data = nullptr;
  sample->GetPointer(&data);
  const int32_t length = sample->GetActualDataLength();
  if (length <= 0) return kS_OK;
  const uint32_t n = static_cast<uint32_t>(length);
  if (static_cast<uint64_t>(r->mem.size) + n > r->mem.capacity) {
    // Grow by a step, and further when one sample needs more than that.
    uint64_t capacity = static_cast<uint64_t>(r->mem.capacity) + kGrowStep;
    if (capacity < static_cast<uint64_t>(r->mem.size) + n) capacity = static_cast<uint64_t>(r->mem.size) + n;
    auto* grown = capacity <= 0xFFFFFFFFu ? static_cast<uint8_t*>(TrackedAlloc(capacity, "", 0)) : nullptr;
    if (grown == nullptr) {
      TrackedFree(r->mem.data);
      r->mem.data = nullptr;
      return kS_OK;
    }
    std::memcpy(grown, r->mem.data, r->mem.size);
    TrackedFree(r->mem.data);
    r->mem.data = grown;
    r->mem.capacity = static_cast<uint32_t>(capacity);
  }
  std::memcpy(r->mem.data + r->mem.size, data, n);
  r->mem.size += n;
  return kS_OK;
}

int OpenPcmDecoderMp3(PcmDecoderRecord* r) {
  r->mem = {};
  GraphParts parts;
  D_CMediaType reader_type, accepted_type, connected_type;

  // The whole file image.
  const SoundStream& s = r->stream;
  s.ops.seek(s.handle, 0, 2);
  const int64_t size = s.ops.tell(s.handle);
  s.ops.seek(s.handle, 0, 0);
  if (size <= 0 || size > 0x7FFFFFFF) return -1;
  parts.image = static_cast<uint8_t*>(TrackedAlloc(static_cast<size_t>(size), "", 0));
  if (parts.image == nullptr) return -1;
  // A stream that gives less than its size refuses the file.
  if (s.ops.read(parts.image, static_cast<size_t>(size), 1, s.handle) != 1) {
    parts.Release();
    return -1;
  }

  parts.stream = CreateMemStream(parts.image, size, 0xFFFFFFFFu);
  if (parts.stream == nullptr) return Refuse(r, &parts, "MP3変換用 D_CMemStream の作成に失敗しました");
  reader_type.majortype = kMEDIATYPE_Stream;
  reader_type.subtype = kMEDIASUBTYPE_MPEG1Audio;
  HResult result = kS_OK;
  parts.reader = CreateMemReaderFilter(parts.stream, &reader_type, &result);
  if (parts.reader == nullptr) return Refuse(r, &parts, "MP3変換用 D_CMemReader の作成に失敗しました");
  parts.reader->AddRef();

  CreateFn create = ObjectCreator();
  if (Failed(create(kCLSID_NullRenderer, nullptr, kCLSCTX_INPROC_SERVER, kIID_IBaseFilter,
                    reinterpret_cast<void**>(&parts.null_renderer))))
    return Refuse(r, &parts, "MP3変換用 NullRender の作成に失敗しました");
  if (Failed(create(kCLSID_FilterGraph, nullptr, kCLSCTX_INPROC, kIID_IGraphBuilder,
                    reinterpret_cast<void**>(&parts.graph))))
    return Refuse(r, &parts, "MP3変換用 IGraphBuilder の作成に失敗しました");
  D_CSampleGrabber* grabber = CreateSampleGrabberFilter(nullptr, &result);
  if (grabber == nullptr) return Refuse(r, &parts, "MP3変換用 D_CSampleGrabber の作成に失敗しました");

  accepted_type.majortype = kMEDIATYPE_Audio;
  accepted_type.subtype = kMEDIASUBTYPE_PCM;
  if (Failed(grabber->SetAcceptedMediaType(&accepted_type))) {
    delete grabber;
    return Refuse(r, &parts, "サンプルグラバフィルタのメディアタイプの設定に失敗しました");
  }
  if (Failed(parts.graph->AddFilter(grabber, u"SampleGrabber"))) {
    delete grabber;
    return Refuse(r, &parts, "サンプルグラバフィルタのグラフへの追加に失敗しました");
  }
  if (Failed(parts.graph->AddFilter(parts.reader, u"MemFile")))
    return Refuse(r, &parts, "メモリファイルフィルタのグラフへの追加に失敗しました");
  if (Failed(parts.graph->Render(parts.reader->GetPin(0)))) return Refuse(r, &parts, "グラフの構築に失敗しました");
  if (Failed(parts.graph->AddFilter(parts.null_renderer, u"File Renderer")))
    return Refuse(r, &parts, "ヌルレンダラーフィルタのグラフへの追加に失敗しました");
  if (!ReplaceRenderer(&parts)) return Refuse(r, &parts, "既存レンダラーをNullレンダラーと交換する処理が失敗しました");

  connected_type.Clear();
  if (Failed(grabber->GetConnectedMediaType(&connected_type)))
    return Refuse(r, &parts, "音声が含まれていないか、オーディオフォーマットの取得に失敗しました。");
  if (!(connected_type.formattype == kFORMAT_WaveFormatEx) || connected_type.format.size() < 16)
    return Refuse(r, &parts, "サポート外のストリームフォーマットです。");
  WaveFormatEx connected{};
  std::memcpy(&connected, connected_type.format.data(), std::min<size_t>(sizeof(connected), connected_type.format.size()));
  if (connected.format_tag != kWaveFormatPcm) return Refuse(r, &parts, "サポート外のオーディオフォーマットです。");
  if (connected.channels == 0 || connected.block_align == 0)
    return Refuse(r, &parts, "サポート外のオーディオフォーマットです。");

  r->format.format_tag = connected.format_tag;
  r->format.channels = connected.channels;
  r->format.samples_per_sec = connected.samples_per_sec;
  r->format.block_align = connected.block_align;
  r->format.avg_bytes_per_sec = connected.block_align * connected.samples_per_sec;
  r->format.bits_per_sample = static_cast<uint16_t>(connected.block_align * 8 / connected.channels);
  r->format.extra_size = 0;

  if (Failed(grabber->SetCallback(&StoreMp3PcmSample, r))) return Refuse(r, &parts, "コールバック関数を設定できません");

  // Ten times the file size, worked out without wrapping.
  const uint64_t capacity = static_cast<uint64_t>(size) * 10;
  r->mem.capacity = capacity > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(capacity);
  r->mem.data = static_cast<uint8_t*>(TrackedAlloc(r->mem.capacity, "", 0));
  if (r->mem.data == nullptr) return Refuse(r, &parts, "PCMデータを格納するメモリ領域の確保に失敗しました");
  r->mem.size = 0;

  if (Failed(parts.graph->QueryInterface(kIID_IMediaFilter, reinterpret_cast<void**>(&parts.media_filter))))
    return Refuse(r, &parts, "IMediaFilter の取得に失敗しました");
  parts.media_filter->SetSyncSource(nullptr);
  if (Failed(parts.graph->QueryInterface(kIID_IMediaControl, reinterpret_cast<void**>(&parts.control))))
    return Refuse(r, &parts, "IMediaControl の取得に失敗しました");
  if (Failed(parts.graph->QueryInterface(kIID_IMediaEvent, reinterpret_cast<void**>(&parts.event))))
    return Refuse(r, &parts, "IMediaEvent の取得に失敗しました");

  parts.control->Run();
  for (;;) {
    if (PumpWindowMessages() != 0) return Refuse(r, &parts, "MP3変換の途中でソフトが終了しました");
    int32_t code = 0;
    if (parts.event->WaitForCompletion(100, &code) != kS_OK) continue;
    if (code == kEC_ERRORABORT) return Refuse(r, &parts, "MP3変換の途中でエラーが発生しました");
    if (code == kEC_COMPLETE) break;
  }
  // The graph is stopped, and its threads gone, before the PCM is read.
  parts.control->Stop();
  if (r->mem.data == nullptr) return Refuse(r, &parts, "PCMデータを格納するメモリ領域の再確保に失敗しました");
  // Sound whose channels cannot be mixed to stereo is passed over: named
  // with its count, and not loaded when it was all there is.
  const int unmixed = TakeSoundReports(parts.event).unmixed_channels;
  if (unmixed > 0) NoteUnmixedChannels(unmixed, r->mem.size == 0 ? "not loaded" : "that part is left out");
  // A file with no whole frame decodes to nothing: not a sound.
  if (r->mem.size == 0) return Refuse(r, &parts, unmixed > 0 ? nullptr : "MP3 conversion decoded no sound");

  NoteShortfall(r, parts.image, size);
  r->kind = kPcmDecoderMemory;
  r->buffer_size = static_cast<int32_t>(r->format.avg_bytes_per_sec);
  r->mem.pos = 0;
  parts.Release();
  return 0;
}
