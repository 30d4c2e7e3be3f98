// The library's own filters in real graphs: the memory source (stream,
// request queue, flushing, short reads, rate limit), the sample grabber
// (every sample with its times, the type-changed flag, refusals), decoded
// frames split over delivery buffers, the WAV writer (a file sox reads back
// equal to the input), the audio renderer's ring and graph teardown while
// streaming. Suites named Threaded* run their graphs' threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lib/sound/mem_reader.h"
#include "lib/sound/sample_grabber.h"
#include "lib/sound/wav_writer.h"
#include "platform/kernel/kernel.h"
#include "platform/media/graph.h"
#include "tests/lib/sound/sound_fixture.h"
#include "tests/support/log_capture.h"

namespace {

using namespace plat;

using soundtest::Shell;

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

IPin* PinOf(IBaseFilter* filter, PinDirection direction) {
  IEnumPins* e = nullptr;
  filter->EnumPins(&e);
  IPin* pin = nullptr;
  IPin* found = nullptr;
  uint32_t n = 0;
  while (found == nullptr && e->Next(1, &pin, &n) == kS_OK) {
    PinDirection d;
    pin->QueryDirection(&d);
    if (d == direction) found = pin;
    else pin->Release();
  }
  e->Release();
  return found;
}

// A renderer that counts what reaches it.
class CountingRenderer : public D_CBaseRenderer {
 public:
  explicit CountingRenderer(HResult* r) : D_CBaseRenderer(kGUID_NULL, "counting renderer", r) {}
  HResult CheckMediaType(const D_CMediaType* type) override {
    return type->subtype == kMEDIASUBTYPE_PCM ? kS_OK : kS_FALSE;
  }
  HResult DoRenderSample(IMediaSample*) override {
    ++samples;
    return kS_OK;
  }
  std::atomic<int> samples{0};
};

// A renderer that keeps the first RGB frame it gets and counts them all.
class FrameCatcher : public D_CBaseRenderer {
 public:
  explicit FrameCatcher(HResult* r) : D_CBaseRenderer(kGUID_NULL, "frame catcher", r) {}
  HResult CheckMediaType(const D_CMediaType* type) override {
    return type->majortype == kMEDIATYPE_Video && type->subtype == kMEDIASUBTYPE_RGB24 ? kS_OK : kS_FALSE;
  }
  HResult DoRenderSample(IMediaSample* sample) override {
    if (frames++ == 0) {
      uint8_t* p = nullptr;
      sample->GetPointer(&p);
      first.assign(p, p + sample->GetActualDataLength());
    }
    return kS_OK;
  }
  std::atomic<int> frames{0};
  std::vector<uint8_t> first;
};

// A file writer: takes a byte stream at the offsets its samples' times name
// and offers IStream on its input pin.
class MemoryFileWriter;
class MemoryFilePin : public D_CBaseInputPin, public IStream {
 public:
  MemoryFilePin(MemoryFileWriter* owner, D_CBaseFilter* filter, CriticalSection* lock)
      : D_CBaseInputPin("file pin", filter, lock, nullptr, u"In"), owner_(owner) {}
  HResult QueryInterface(const Guid& iid, void** out) override { return NonDelegatingQueryInterface(iid, out); }
  uint32_t AddRef() override { return D_CBasePin::AddRef(); }
  uint32_t Release() override { return D_CBasePin::Release(); }
  HResult NonDelegatingQueryInterface(const Guid& iid, void** out) override {
    if (iid == kIID_IStream) return GetInterface(static_cast<IStream*>(this), out);
    return D_CBaseInputPin::NonDelegatingQueryInterface(iid, out);
  }
  HResult CheckMediaType(const D_CMediaType* type) override {
    return type->majortype == kMEDIATYPE_Stream ? kS_OK : kS_FALSE;
  }
  HResult Receive(IMediaSample* sample) override;
  HResult EndOfStream() override;
  HResult Read(void*, uint32_t, uint32_t*) override { return kE_NOTIMPL; }
  HResult Write(const void* buffer, uint32_t bytes, uint32_t* written) override {
    Put(position_, static_cast<const uint8_t*>(buffer), bytes);
    *written = bytes;
    return kS_OK;
  }
  HResult Seek(int64_t offset, uint32_t, uint64_t* position) override {
    position_ = offset;
    *position = static_cast<uint64_t>(offset);
    return kS_OK;
  }
  void Put(int64_t at, const uint8_t* data, uint32_t n) {
    if (bytes.size() < static_cast<size_t>(at) + n) bytes.resize(static_cast<size_t>(at) + n);
    std::memcpy(bytes.data() + at, data, n);
  }
  std::vector<uint8_t> bytes;
  int fail_at = -1;  // the sample whose delivery fails
  int received = 0;

 private:
  MemoryFileWriter* owner_;
  int64_t position_ = 0;
};

class MemoryFileWriter : public D_CBaseFilter {
 public:
  MemoryFileWriter() : D_CBaseFilter("memory file writer", &lock_, kGUID_NULL), pin_(this, this, &lock_) {}
  int GetPinCount() override { return 1; }
  D_CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  CriticalSection lock_;
  MemoryFilePin pin_;
};

HResult MemoryFilePin::Receive(IMediaSample* sample) {
  HResult r = D_CBaseInputPin::Receive(sample);
  if (r != kS_OK) return r;
  if (fail_at >= 0 && received++ == fail_at) return kE_FAIL;
  ReferenceTime start = 0, stop = 0;
  sample->GetTime(&start, &stop);
  uint8_t* data = nullptr;
  sample->GetPointer(&data);
  Put(start, data, static_cast<uint32_t>(sample->GetActualDataLength()));
  return kS_OK;
}

HResult MemoryFilePin::EndOfStream() {
  owner_->NotifyEvent(kEC_COMPLETE, kS_OK, 0);
  return kS_OK;
}

// A WAVE file made by sox and its samples.
struct WaveSource {
  std::vector<uint8_t> file, pcm;
};

WaveSource MakeWave(const std::string& name, const std::string& synth) {
  EXPECT_TRUE(Shell("sox -n -r 22050 -c 2 -b 16 " + name + ".wav synth " + synth));
  EXPECT_TRUE(Shell("sox " + name + ".wav -t raw " + name + ".raw"));
  return {ReadAll(name + ".wav"), ReadAll(name + ".raw")};
}

// A graph over a memory source of a file image, rendered from the source.
struct SourceGraph {
  explicit SourceGraph(const std::vector<uint8_t>& image, uint32_t rate = 0xFFFFFFFFu) : data(image) {
    stream = CreateMemStream(data.data(), static_cast<int64_t>(data.size()), rate);
    D_CMediaType type;
    type.majortype = kMEDIATYPE_Stream;
    HResult r = kS_OK;
    reader = CreateMemReaderFilter(stream, &type, &r);
    reader->AddRef();
    CoCreateInstance(kCLSID_FilterGraph, nullptr, kCLSCTX_INPROC, kIID_IGraphBuilder, reinterpret_cast<void**>(&graph));
    graph->QueryInterface(kIID_IMediaControl, reinterpret_cast<void**>(&control));
    graph->QueryInterface(kIID_IMediaEvent, reinterpret_cast<void**>(&event));
    IMediaFilter* filter = nullptr;
    graph->QueryInterface(kIID_IMediaFilter, reinterpret_cast<void**>(&filter));
    filter->SetSyncSource(nullptr);
    filter->Release();
    graph->AddFilter(reader, u"MemFile");
  }
  ~SourceGraph() {
    Release();
    DeleteMemStream(stream);
    DeleteMemReaderFilter(reader);
  }
  HResult Render() { return graph->Render(reader->GetPin(0)); }
  // Runs to the end; the event code.
  int32_t RunToEnd() {
    control->Run();
    int32_t code = 0;
    while (event->WaitForCompletion(100, &code) != kS_OK) {
    }
    control->Stop();
    return code;
  }
  void Release() {
    SafeRelease(&event);
    SafeRelease(&control);
    SafeRelease(&graph);
  }
  std::vector<uint8_t> data;
  D_CMemStream* stream = nullptr;
  D_CMemReader* reader = nullptr;
  IGraphBuilder* graph = nullptr;
  IMediaControl* control = nullptr;
  IMediaEvent* event = nullptr;
};

struct Grabbed {
  std::mutex lock;
  std::vector<uint8_t> bytes;
  struct Piece {
    ReferenceTime start, stop;
    int64_t bytes;
  };
  std::vector<Piece> times;
  int changed = 0;
  HResult answer = kS_OK;
  std::atomic<int> calls{0};
  int delay_ms = 0;
};

HResult Collect(IMediaSample* sample, ReferenceTime* start, ReferenceTime* stop, int32_t changed, void* context) {
  auto* g = static_cast<Grabbed*>(context);
  std::lock_guard<std::mutex> hold(g->lock);
  uint8_t* data = nullptr;
  sample->GetPointer(&data);
  g->bytes.insert(g->bytes.end(), data, data + sample->GetActualDataLength());
  g->times.push_back({*start, *stop, sample->GetActualDataLength()});
  g->changed += changed;
  ++g->calls;
  if (g->delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(g->delay_ms));
  return g->answer;
}

D_CMediaType PcmAudioType() {
  D_CMediaType t;
  t.majortype = kMEDIATYPE_Audio;
  t.subtype = kMEDIASUBTYPE_PCM;
  return t;
}

class MediaFilterTest : public ::testing::Test {
 protected:
  testsupport::LogCapture log_;
};
using ThreadedMediaGraph = MediaFilterTest;

// ---- Memory source --------------------------------------------------------------------

TEST_F(MediaFilterTest, MemoryStreamPositionsReadsAndRateLimit) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(CreateMemStream(data.data(), 1000, 0), nullptr);  // a rate of 0 is refused
  D_CMemStream* s = CreateMemStream(data.data(), 1000, 0xFFFFFFFFu);
  uint8_t buffer[64];
  uint32_t got = 7;
  EXPECT_EQ(s->SetPointer(1000), kS_OK);
  EXPECT_EQ(s->Read(buffer, 10, 0, &got), kS_OK);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(s->SetPointer(1001), kS_FALSE);
  EXPECT_EQ(s->SetPointer(-1), kS_FALSE);
  EXPECT_EQ(s->SetPointer(990), kS_OK);
  EXPECT_EQ(s->Read(buffer, 64, 0, &got), kS_OK);
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(buffer[9], static_cast<uint8_t>(999));
  DeleteMemStream(s);

  // 4 bytes per millisecond: the first 400 bytes are readable 100 ms after
  // creation (the virtual clock moves only by the sleep).
  s = CreateMemStream(data.data(), 1000, 4);
  const uint32_t before = TimeGetTime();
  int64_t available = -1;
  EXPECT_EQ(s->Size(&available), 1000);
  EXPECT_EQ(available, 0);
  uint8_t big[400];
  EXPECT_EQ(s->Read(big, 400, 0, &got), kS_OK);
  EXPECT_GE(TimeGetTime() - before, 100u);
  EXPECT_EQ(s->Size(&available), 1000);
  EXPECT_GE(available, 400);
  DeleteMemStream(s);
}

TEST_F(ThreadedMediaGraph, ReaderRequestsShortReadsAndFlushing) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 3);
  D_CMemStream* stream = CreateMemStream(data.data(), 1000, 0xFFFFFFFFu);
  D_CMediaType type;
  type.majortype = kMEDIATYPE_Stream;
  type.subtype = kMEDIASUBTYPE_MPEG1Audio;
  HResult r = kS_OK;
  D_CMemReader* reader = CreateMemReaderFilter(stream, &type, &r);
  ASSERT_NE(reader, nullptr);
  reader->AddRef();
  D_CBasePin* pin = reader->GetPin(0);
  D_CMediaType offered;
  EXPECT_EQ(pin->GetMediaType(1, &offered), kVFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(pin->GetMediaType(-1, &offered), kE_INVALIDARG);
  EXPECT_EQ(pin->GetMediaType(0, &offered), kS_OK);
  D_CMediaType other = offered;
  other.subtype = kMEDIASUBTYPE_PCM;
  EXPECT_EQ(pin->CheckMediaType(&offered), kS_OK);
  EXPECT_EQ(pin->CheckMediaType(&other), kS_FALSE);

  IAsyncReader* async = nullptr;
  ASSERT_EQ(pin->QueryInterface(kIID_IAsyncReader, reinterpret_cast<void**>(&async)), kS_OK);
  AllocatorProperties props{2, 300, 0, 0};
  IMemAllocator* allocator = nullptr;
  ASSERT_EQ(async->RequestAllocator(nullptr, &props, &allocator), kS_OK);
  ASSERT_EQ(allocator->Commit(), kS_OK);

  // A request in the middle, one running past the end (clipped, its stop
  // time rewritten), both collected in order.
  IMediaSample* a = nullptr;
  IMediaSample* b = nullptr;
  allocator->GetBuffer(&a, nullptr, nullptr, 0);
  allocator->GetBuffer(&b, nullptr, nullptr, 0);
  ReferenceTime s1 = 100 * kUnitsPerSecond, e1 = 400 * kUnitsPerSecond;
  ReferenceTime s2 = 800 * kUnitsPerSecond, e2 = 1100 * kUnitsPerSecond;
  a->SetTime(&s1, &e1);
  b->SetTime(&s2, &e2);
  EXPECT_EQ(async->Request(a, 1), kS_OK);
  EXPECT_EQ(async->Request(b, 2), kS_OK);
  for (uintptr_t want : {uintptr_t{1}, uintptr_t{2}}) {
    IMediaSample* done = nullptr;
    uintptr_t user = 0;
    EXPECT_EQ(async->WaitForNext(kInfinite, &done, &user), kS_OK);
    EXPECT_EQ(user, want);
    uint8_t* p = nullptr;
    done->GetPointer(&p);
    const int64_t first = want == 1 ? 100 : 800;
    EXPECT_EQ(done->GetActualDataLength(), want == 1 ? 300 : 200);
    EXPECT_EQ(p[0], static_cast<uint8_t>(first * 3));
    ReferenceTime ts = 0, te = 0;
    done->GetTime(&ts, &te);
    EXPECT_EQ(te, (want == 1 ? 400 : 1000) * kUnitsPerSecond);
  }

  // While flushing nothing queues and the wait ends at once; afterwards a
  // wait with nothing queued times out.
  EXPECT_EQ(async->BeginFlush(), kS_OK);
  EXPECT_EQ(async->Request(a, 3), kVFW_E_WRONG_STATE);
  IMediaSample* none = nullptr;
  uintptr_t user = 0;
  EXPECT_EQ(async->WaitForNext(kInfinite, &none, &user), kVFW_E_WRONG_STATE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(async->EndFlush(), kS_OK);
  EXPECT_EQ(async->WaitForNext(0, &none, &user), kVFW_E_TIMEOUT);

  uint8_t direct[50];
  EXPECT_EQ(async->SyncRead(975, 50, direct), kS_FALSE);  // short inside the queue's terms
  EXPECT_EQ(direct[0], static_cast<uint8_t>(975 * 3));
  int64_t total = 0, available = 0;
  EXPECT_EQ(async->Length(&total, &available), kS_OK);
  EXPECT_EQ(total, 1000);

  a->Release();
  b->Release();
  allocator->Decommit();
  allocator->Release();
  async->Release();

  // A downstream pin that never asks for the reader cannot connect.
  IBaseFilter* null_renderer = nullptr;
  CoCreateInstance(kCLSID_NullRenderer, nullptr, kCLSCTX_INPROC_SERVER, kIID_IBaseFilter,
                   reinterpret_cast<void**>(&null_renderer));
  IPin* in = PinOf(null_renderer, PinDirection::kInput);
  EXPECT_EQ(pin->Connect(in, nullptr), kE_FAIL);
  in->Release();
  null_renderer->Release();
  DeleteMemReaderFilter(reader);
  DeleteMemStream(stream);
}

// ---- Sample grabber ---------------------------------------------------------------------

TEST_F(ThreadedMediaGraph, GrabberDeliversEverySampleWithItsTimes) {
  WaveSource wave = MakeWave("grab", "1.5 sine 300-2000 vol 0.5");
  SourceGraph g(wave.file);
  HResult r = kS_OK;
  D_CSampleGrabber* grabber = CreateSampleGrabberFilter(nullptr, &r);
  ASSERT_NE(grabber, nullptr);
  D_CMediaType accepted = PcmAudioType();
  grabber->SetAcceptedMediaType(&accepted);
  Grabbed got;
  grabber->SetCallback(&Collect, &got);
  g.graph->AddFilter(grabber, u"SampleGrabber");
  ASSERT_TRUE(Succeeded(g.Render()));
  D_CMediaType connected;
  ASSERT_EQ(grabber->GetConnectedMediaType(&connected), kS_OK);
  EXPECT_TRUE(connected.subtype == kMEDIASUBTYPE_PCM);

  EXPECT_EQ(g.RunToEnd(), kEC_COMPLETE);
  EXPECT_EQ(got.bytes, wave.pcm);
  EXPECT_EQ(got.changed, 1);
  ASSERT_FALSE(got.times.empty());
  EXPECT_EQ(got.times.front().start, 0);
  // Each sample starts where the bytes before it end and lasts as long as
  // its bytes play (within the rounding to 100 ns units).
  int64_t bytes_before = 0;
  for (const auto& t : got.times) {
    EXPECT_NEAR(t.start, bytes_before * kUnitsPerSecond / (22050 * 4), 1);
    bytes_before += t.bytes;
    EXPECT_NEAR(t.stop, bytes_before * kUnitsPerSecond / (22050 * 4), 1);
  }
  // A second run from the start: no new type, no flag; a new type set on the
  // input pin is flagged once.
  IMediaSeeking* seeking = nullptr;
  ASSERT_EQ(g.graph->QueryInterface(kIID_IMediaSeeking, reinterpret_cast<void**>(&seeking)), kS_OK);
  int64_t zero = 0;
  seeking->SetPositions(&zero, nullptr);
  got.bytes.clear();
  got.changed = 0;
  EXPECT_EQ(g.RunToEnd(), kEC_COMPLETE);
  EXPECT_EQ(got.bytes, wave.pcm);
  EXPECT_EQ(got.changed, 0);
  grabber->InputPin()->SetMediaType(&connected);
  seeking->SetPositions(&zero, nullptr);
  got.changed = 0;
  EXPECT_EQ(g.RunToEnd(), kEC_COMPLETE);
  EXPECT_EQ(got.changed, 1);
  seeking->Release();
}

// A Matroska file whose PCM packets hold 30000 stereo frames each, more
// than one delivery buffer of the audio decoder takes (16384 frames): each
// decoded frame goes out in pieces, which must join up into the source.
TEST_F(ThreadedMediaGraph, DecodedFramesLongerThanABufferArriveInOrder) {
  ASSERT_TRUE(Shell("sox -n -r 22050 -c 2 -b 16 -t raw long.raw synth 1.5 sine 300-2000 vol 0.5"));
  ASSERT_TRUE(Shell("ffmpeg -y -v error -f s16le -ar 22050 -ac 2 -i long.raw "
                    "-af asetnsamples=n=30000:p=0 -c:a pcm_s16le long.mkv"));
  SourceGraph g(ReadAll("long.mkv"));
  HResult r = kS_OK;
  D_CSampleGrabber* grabber = CreateSampleGrabberFilter(nullptr, &r);
  ASSERT_NE(grabber, nullptr);
  D_CMediaType accepted = PcmAudioType();
  grabber->SetAcceptedMediaType(&accepted);
  Grabbed got;
  grabber->SetCallback(&Collect, &got);
  g.graph->AddFilter(grabber, u"SampleGrabber");
  ASSERT_TRUE(Succeeded(g.Render()));
  EXPECT_EQ(g.RunToEnd(), kEC_COMPLETE);
  const std::vector<uint8_t> source = ReadAll("long.raw");
  ASSERT_EQ(source.size(), 132300u);
  EXPECT_TRUE(got.bytes == source);
  EXPECT_GT(got.times.size(), 2u);
}

TEST_F(ThreadedMediaGraph, GrabberRefusalsAndHeldBackSamples) {
  HResult r = kS_OK;
  D_CSampleGrabber* grabber = CreateSampleGrabberFilter(nullptr, &r);
  grabber->AddRef();
  D_CMediaType mp3;
  mp3.majortype = kMEDIATYPE_Audio;
  mp3.subtype = kMEDIASUBTYPE_MPEG1Audio;
  mp3.formattype = kFORMAT_VideoInfo;
  EXPECT_EQ(grabber->CheckInputType(&mp3), kS_OK);  // nothing set: anything goes
  D_CMediaType accepted = PcmAudioType();
  grabber->SetAcceptedMediaType(&accepted);
  EXPECT_EQ(grabber->CheckInputType(&mp3), static_cast<HResult>(0x80040248u));
  mp3.subtype = kMEDIASUBTYPE_PCM;
  EXPECT_EQ(grabber->CheckInputType(&mp3), kS_OK);  // any format type
  uint8_t buffer[64];
  EXPECT_EQ(grabber->SetDeliveryBuffer(AllocatorProperties{2, 64, 1, 0}, buffer), kE_INVALIDARG);
  EXPECT_EQ(grabber->SetDeliveryBuffer(AllocatorProperties{1, 64, 1, 0}, nullptr), kE_POINTER);
  EXPECT_EQ(grabber->SetDeliveryBuffer(AllocatorProperties{1, 64, 1, 0}, buffer), kS_OK);
  D_CMediaType none;
  EXPECT_EQ(grabber->GetConnectedMediaType(&none), kVFW_E_NOT_CONNECTED);
  grabber->Release();

  // A callback that keeps samples back: nothing reaches the renderer, the
  // stream still completes.
  WaveSource wave = MakeWave("held", "0.5 sine 440 vol 0.5");
  SourceGraph g(wave.file);
  grabber = CreateSampleGrabberFilter(nullptr, &r);
  grabber->SetAcceptedMediaType(&accepted);
  Grabbed got;
  got.answer = kS_FALSE;
  grabber->SetCallback(&Collect, &got);
  auto* counter = new CountingRenderer(&r);
  counter->AddRef();
  g.graph->AddFilter(grabber, u"SampleGrabber");
  g.graph->AddFilter(counter, u"Counter");
  ASSERT_TRUE(Succeeded(g.Render()));
  EXPECT_EQ(grabber->SetDeliveryBuffer(AllocatorProperties{1, 64, 1, 0}, buffer), kE_INVALIDARG);
  EXPECT_EQ(g.RunToEnd(), kEC_COMPLETE);
  EXPECT_EQ(got.bytes, wave.pcm);
  EXPECT_EQ(counter->samples.load(), 0);
  counter->Release();

  // A failing callback fails the stream.
  SourceGraph f(wave.file);
  grabber = CreateSampleGrabberFilter(nullptr, &r);
  grabber->SetAcceptedMediaType(&accepted);
  Grabbed failing;
  failing.answer = kE_FAIL;
  grabber->SetCallback(&Collect, &failing);
  f.graph->AddFilter(grabber, u"SampleGrabber");
  ASSERT_TRUE(Succeeded(f.Render()));
  EXPECT_EQ(f.RunToEnd(), kEC_ERRORABORT);
}

// ---- WAV writer ----------------------------------------------------------------------------

TEST_F(ThreadedMediaGraph, WavWriterMakesAFileSoxReadsBack) {
  WaveSource wave = MakeWave("ww", "0.7 sine 500-900 vol 0.4");
  SourceGraph g(wave.file);
  HResult r = kS_OK;
  WavWriterFilter* writer = CreateWavWriterFilter(nullptr, &r);
  ASSERT_NE(writer, nullptr);
  auto* file = new MemoryFileWriter();
  file->AddRef();
  g.graph->AddFilter(writer, u"WavDest");
  g.graph->AddFilter(file, u"File");
  // Source to writer through the graph's filters, writer to file directly.
  IPin* writer_in = PinOf(writer, PinDirection::kInput);
  IPin* writer_out = PinOf(writer, PinDirection::kOutput);
  ASSERT_EQ(g.graph->Connect(g.reader->GetPin(0), writer_in), kS_OK);
  ASSERT_EQ(g.graph->Connect(writer_out, &file->pin_), kS_OK);
  EXPECT_EQ(g.RunToEnd(), kEC_COMPLETE);
  writer_in->Release();
  writer_out->Release();

  // The header carries the decoder's format block as it is (18 bytes).
  const std::vector<uint8_t>& out = file->pin_.bytes;
  ASSERT_GT(out.size(), 44u);
  uint32_t riff = 0, format = 0, data = 0;
  std::memcpy(&riff, &out[4], 4);
  std::memcpy(&format, &out[16], 4);
  EXPECT_EQ(format, 18u);
  ASSERT_EQ(out.size(), 28 + format + wave.pcm.size());
  std::memcpy(&data, &out[24 + format], 4);
  EXPECT_EQ(riff, data + 20 + format);
  EXPECT_EQ(data, wave.pcm.size());
  std::ofstream("ww_out.wav", std::ios::binary).write(reinterpret_cast<const char*>(out.data()), static_cast<long>(out.size()));
  ASSERT_TRUE(Shell("sox ww_out.wav -t raw ww_out.raw"));
  EXPECT_EQ(ReadAll("ww_out.raw"), wave.pcm);

  // A delivery that fails downstream is not counted: the header names the
  // bytes before it.
  IMediaSeeking* seeking = nullptr;
  g.graph->QueryInterface(kIID_IMediaSeeking, reinterpret_cast<void**>(&seeking));
  int64_t zero = 0;
  seeking->SetPositions(&zero, nullptr);
  seeking->Release();
  file->pin_.bytes.clear();
  file->pin_.received = 0;
  file->pin_.fail_at = 2;
  EXPECT_EQ(g.RunToEnd(), kEC_ERRORABORT);
  std::memcpy(&data, &file->pin_.bytes[24 + format], 4);
  EXPECT_EQ(data, writer->DataBytes());
  EXPECT_EQ(file->pin_.bytes.size(), 28 + format + data);
  EXPECT_GT(data, 0u);
  EXPECT_LT(data, wave.pcm.size());
  file->Release();
}

TEST_F(MediaFilterTest, WavWriterChecksItsBuffersAndTypes) {
  HResult r = kS_OK;
  WavWriterFilter* writer = CreateWavWriterFilter(nullptr, &r);
  writer->AddRef();
  AllocatorProperties props{};
  HResult mr = kS_OK;
  auto* allocator = new D_CMemAllocator("test", &mr);
  allocator->AddRef();
  EXPECT_EQ(writer->DecideBufferSize(allocator, &props), kE_UNEXPECTED);  // input not connected
  D_CMediaType type;
  EXPECT_EQ(writer->GetMediaType(1, &type), kVFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(writer->GetMediaType(0, &type), kS_OK);
  EXPECT_TRUE(type.subtype == kMEDIASUBTYPE_WAVE);
  D_CMediaType audio = PcmAudioType();
  EXPECT_EQ(writer->CheckInputType(&audio), kS_FALSE);
  audio.formattype = kFORMAT_WaveFormatEx;
  EXPECT_EQ(writer->CheckInputType(&audio), kS_OK);

  // An output buffer smaller than the input sample fails the transform.
  AllocatorProperties want{2, 100, 1, 0}, actual{};
  allocator->SetProperties(&want, &actual);
  allocator->Commit();
  IMediaSample* in = nullptr;
  IMediaSample* out = nullptr;
  allocator->GetBuffer(&in, nullptr, nullptr, 0);
  allocator->GetBuffer(&out, nullptr, nullptr, 0);
  in->SetActualDataLength(100);
  auto* small = new D_CMemAllocator("small", &mr);
  small->AddRef();
  AllocatorProperties want_small{1, 60, 1, 0};
  small->SetProperties(&want_small, &actual);
  small->Commit();
  IMediaSample* tiny = nullptr;
  small->GetBuffer(&tiny, nullptr, nullptr, 0);
  EXPECT_EQ(writer->Transform(in, tiny), kE_FAIL);
  EXPECT_EQ(writer->DataBytes(), 0u);
  EXPECT_EQ(writer->Transform(in, out), kS_OK);
  EXPECT_EQ(writer->DataBytes(), 100u);
  in->Release();
  out->Release();
  tiny->Release();
  small->Decommit();
  small->Release();
  allocator->Decommit();
  allocator->Release();
  writer->Release();
}

// ---- Files and the audio renderer ----------------------------------------------------

class ThreadedMediaSound : public soundtest::SoundFixture {};

// With no clock the samples have no times to wait for: the renderer writes
// them one after another into its ring of a second, waiting for room while
// the ring is full, so a file longer than the ring reaches the mixer whole.
// The mix, at the file's own rate and full volume, plays its frames
// unchanged and then silence. The mixer plays a tenth of a second each time
// the renderer has filled its ring, however slowly its thread is given
// time.
TEST_F(ThreadedMediaSound, RenderedFileLongerThanTheRingPlaysItsSamples) {
  ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 rf.wav synth 1.6 sine 300-900 vol 0.5"));
  ASSERT_TRUE(Shell("sox rf.wav -t raw rf.raw"));
  const std::vector<uint8_t> raw = ReadAll("rf.raw");
  std::vector<int16_t> source(raw.size() / 2);
  std::memcpy(source.data(), raw.data(), source.size() * 2);
  ASSERT_GT(source.size() / 2, 44100u);
  IGraphBuilder* graph = nullptr;
  ASSERT_EQ(CoCreateInstance(kCLSID_FilterGraph, nullptr, kCLSCTX_INPROC, kIID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            kS_OK);
  EXPECT_EQ(graph->RenderFile(u"no such file.wav", nullptr), kVFW_E_NOT_FOUND);
  ASSERT_EQ(graph->RenderFile(u"rf.wav", nullptr), kS_OK);
  IMediaFilter* filter = nullptr;
  graph->QueryInterface(kIID_IMediaFilter, reinterpret_cast<void**>(&filter));
  filter->SetSyncSource(nullptr);
  filter->Release();
  IMediaControl* control = nullptr;
  IMediaEvent* event = nullptr;
  graph->QueryInterface(kIID_IMediaControl, reinterpret_cast<void**>(&control));
  graph->QueryInterface(kIID_IMediaEvent, reinterpret_cast<void**>(&event));
  int64_t filled = MediaAudioRingsFilled();
  control->Run();
  std::vector<int16_t> mixed;
  int32_t code = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (event->WaitForCompletion(2, &code) != kS_OK) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the renderer neither filled its ring nor ended";
    // The count is taken before the mix plays on: the fill that follows
    // may come before this thread looks again.
    const int64_t now_filled = MediaAudioRingsFilled();
    if (now_filled == filled) continue;
    filled = now_filled;
    const std::vector<int16_t> part = Render(4410);
    mixed.insert(mixed.end(), part.begin(), part.end());
  }
  EXPECT_EQ(code, kEC_COMPLETE);
  const std::vector<int16_t> rest = Render(2 * 44100);
  mixed.insert(mixed.end(), rest.begin(), rest.end());
  // The mix may start before the first sample arrives; the file's first
  // frames are silent only where the sweep starts at zero.
  size_t first = 0;
  while (first < mixed.size() && mixed[first] == 0 && mixed[first + 1] == 0) first += 2;
  size_t lead = 0;
  while (lead < source.size() && source[lead] == 0 && source[lead + 1] == 0) lead += 2;
  ASSERT_LT(first, mixed.size());
  ASSERT_GE(mixed.size() - first, source.size() - lead);
  size_t wrong = 0;
  for (size_t i = 0; i < source.size() - lead; ++i) wrong += mixed[first + i] != source[lead + i];
  EXPECT_EQ(wrong, 0u);
  size_t after = 0;
  for (size_t i = first + source.size() - lead; i < mixed.size(); ++i) after += mixed[i] != 0;
  EXPECT_EQ(after, 0u);
  control->Stop();
  event->Release();
  control->Release();
  graph->Release();
}

// Movie files of the common kinds, made by the ffmpeg command: the top half
// red, the bottom half blue, ten frames at 25 per second.
TEST_F(ThreadedMediaGraph, MovieFilesDecodeToBottomUpRgbFrames) {
  struct Kind {
    const char* file;
    const char* codec;
  };
  const Kind kinds[] = {{"mv.mp4", "-c:v libx264 -pix_fmt yuv420p"},
                        {"mv.webm", "-c:v libvpx-vp9"},
                        {"mv.avi", "-c:v mjpeg"},
                        {"mv.mpg", "-c:v mpeg1video"}};
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.file);
    ASSERT_TRUE(Shell(std::string("ffmpeg -y -v error -f lavfi -i color=c=red:s=64x48:r=25:d=0.4 -vf "
                                  "drawbox=x=0:y=24:w=64:h=24:color=blue:t=fill ") +
                      k.codec + " " + k.file));
    IGraphBuilder* graph = nullptr;
    CoCreateInstance(kCLSID_FilterGraph, nullptr, kCLSCTX_INPROC, kIID_IGraphBuilder, reinterpret_cast<void**>(&graph));
    HResult r = kS_OK;
    auto* catcher = new FrameCatcher(&r);
    catcher->AddRef();
    graph->AddFilter(catcher, u"Catcher");
    std::u16string name(k.file, k.file + std::strlen(k.file));
    ASSERT_TRUE(Succeeded(graph->RenderFile(name.c_str(), nullptr)));
    IMediaFilter* filter = nullptr;
    graph->QueryInterface(kIID_IMediaFilter, reinterpret_cast<void**>(&filter));
    filter->SetSyncSource(nullptr);
    filter->Release();
    IMediaControl* control = nullptr;
    IMediaEvent* event = nullptr;
    graph->QueryInterface(kIID_IMediaControl, reinterpret_cast<void**>(&control));
    graph->QueryInterface(kIID_IMediaEvent, reinterpret_cast<void**>(&event));
    control->Run();
    int32_t code = 0;
    while (event->WaitForCompletion(100, &code) != kS_OK) {
    }
    EXPECT_EQ(code, kEC_COMPLETE);
    control->Stop();
    EXPECT_EQ(catcher->frames.load(), 10);
    const int pitch = 64 * 3;
    ASSERT_EQ(catcher->first.size(), static_cast<size_t>(pitch * 48));
    // Memory row 4 is picture row 43 (blue); memory row 43 is picture row 4
    // (red). Pixels are blue, green, red.
    const uint8_t* bottom = &catcher->first[4 * pitch + 32 * 3];
    const uint8_t* top = &catcher->first[43 * pitch + 32 * 3];
    EXPECT_GT(bottom[0], 200);
    EXPECT_LT(bottom[2], 50);
    EXPECT_GT(top[2], 200);
    EXPECT_LT(top[0], 50);
    event->Release();
    control->Release();
    graph->Release();
    catcher->Release();
  }
}

// ---- Teardown ---------------------------------------------------------------------------------

TEST_F(ThreadedMediaGraph, LastReleaseWhileStreamingJoinsEveryThread) {
  WaveSource wave = MakeWave("td", "20 sine 440 vol 0.5");
  SourceGraph g(wave.file);
  HResult r = kS_OK;
  D_CSampleGrabber* grabber = CreateSampleGrabberFilter(nullptr, &r);
  D_CMediaType accepted = PcmAudioType();
  grabber->SetAcceptedMediaType(&accepted);
  Grabbed got;
  got.delay_ms = 2;
  grabber->SetCallback(&Collect, &got);
  g.graph->AddFilter(grabber, u"SampleGrabber");
  ASSERT_TRUE(Succeeded(g.Render()));
  g.control->Run();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (got.calls.load() < 3) {
    ASSERT_LT(std::chrono::steady_clock::now(), until) << "the grabber saw " << got.calls.load() << " samples";
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // No stop: the last release stops the graph and joins its threads.
  g.Release();
  const int calls = got.calls.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(got.calls.load(), calls);
}

}  // namespace
