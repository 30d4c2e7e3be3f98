// platform/media/base_classes.h - the base classes that filters are built on:
// reference counting, samples and their memory allocator, pins (with the
// connection handshake and allocator agreement), the base filter with its
// states, transform and in-place transform filters, and the base renderer.
//
// Owns: the rules every filter here follows (connections only while stopped,
// streaming calls refused while stopped or flushing, allocators committed by
// the output pin while active). Does not own: the graph manager (graph.cpp)
// or any particular filter.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel/kernel.h"
#include "platform/media/media.h"

namespace plat {

// Reference counting shared by every object of the framework. A new object
// starts with no reference; the last Release deletes it.
class D_CUnknown {
 public:
  explicit D_CUnknown(const char* name) : object_name_(name) {}
  virtual ~D_CUnknown() = default;
  D_CUnknown(const D_CUnknown&) = delete;
  D_CUnknown& operator=(const D_CUnknown&) = delete;

  virtual HResult NonDelegatingQueryInterface(const Guid& iid, void** out);
  uint32_t NonDelegatingAddRef() { return static_cast<uint32_t>(++references_); }
  uint32_t NonDelegatingRelease();
  int32_t ReferenceCount() const { return references_.load(); }
  const char* ObjectName() const { return object_name_; }

 private:
  const char* object_name_;
  std::atomic<int32_t> references_{0};
};

// The three IUnknown slots of a class that is its own D_CUnknown.
#define RORUD_MEDIA_UNKNOWN                                                               \
  HResult QueryInterface(const ::plat::Guid& iid, void** out) override {                  \
    return NonDelegatingQueryInterface(iid, out);                                          \
  }                                                                                        \
  uint32_t AddRef() override { return NonDelegatingAddRef(); }                             \
  uint32_t Release() override { return NonDelegatingRelease(); }

// Hands out `face` with a reference.
HResult GetInterface(IUnknown* face, void** out);

class D_CMemAllocator;

// A media sample: a window on allocator memory with its times and flags.
// Its last Release gives it back to its allocator.
class D_CMediaSample : public IMediaSample {
 public:
  D_CMediaSample(const char* name, D_CMemAllocator* allocator, HResult* result, uint8_t* buffer, int32_t length);
  virtual ~D_CMediaSample() = default;

  HResult QueryInterface(const Guid& iid, void** out) override;
  uint32_t AddRef() override;
  uint32_t Release() override;
  HResult GetPointer(uint8_t** buffer) override;
  int32_t GetSize() override { return length_; }
  HResult GetTime(ReferenceTime* start, ReferenceTime* stop) override;
  HResult SetTime(const ReferenceTime* start, const ReferenceTime* stop) override;
  HResult IsSyncPoint() override { return sync_ ? kS_OK : kS_FALSE; }
  HResult SetSyncPoint(int32_t sync) override { sync_ = sync != 0; return kS_OK; }
  HResult IsPreroll() override { return preroll_ ? kS_OK : kS_FALSE; }
  HResult SetPreroll(int32_t preroll) override { preroll_ = preroll != 0; return kS_OK; }
  int32_t GetActualDataLength() override { return actual_; }
  HResult SetActualDataLength(int32_t length) override;
  HResult GetMediaType(D_CMediaType** type) override;
  HResult SetMediaType(const D_CMediaType* type) override;
  HResult IsDiscontinuity() override { return discontinuity_ ? kS_OK : kS_FALSE; }
  HResult SetDiscontinuity(int32_t discontinuity) override { discontinuity_ = discontinuity != 0; return kS_OK; }
  HResult GetMediaTime(int64_t* start, int64_t* stop) override;
  HResult SetMediaTime(const int64_t* start, const int64_t* stop) override;

  // Clears times, flags and type before the sample is handed out again.
  void ResetProperties();
  void SetBuffer(uint8_t* buffer, int32_t length) { buffer_ = buffer; length_ = length; }

 private:
  friend class D_CMemAllocator;
  D_CMemAllocator* allocator_;
  uint8_t* buffer_;
  int32_t length_;
  int32_t actual_ = 0;
  std::atomic<int32_t> references_{0};
  bool times_valid_ = false, stop_valid_ = false, media_times_valid_ = false;
  bool sync_ = false, preroll_ = false, discontinuity_ = false;
  ReferenceTime start_ = 0, stop_ = 0;
  int64_t media_start_ = 0, media_stop_ = 0;
  std::unique_ptr<D_CMediaType> type_;
};

// An allocator of fixed-size samples over one block of memory. GetBuffer
// waits for a free sample while committed; Decommit wakes the waiters and
// frees the memory once every sample is back.
class D_CMemAllocator : public IMemAllocator, public D_CUnknown {
 public:
  D_CMemAllocator(const char* name, HResult* result);
  ~D_CMemAllocator() override;
  RORUD_MEDIA_UNKNOWN
  HResult NonDelegatingQueryInterface(const Guid& iid, void** out) override;

  HResult SetProperties(const AllocatorProperties* request, AllocatorProperties* actual) override;
  HResult GetProperties(AllocatorProperties* props) override;
  HResult Commit() override;
  HResult Decommit() override;
  HResult GetBuffer(IMediaSample** sample, ReferenceTime* start, ReferenceTime* stop, uint32_t flags) override;
  HResult ReleaseBuffer(IMediaSample* sample) override;

 protected:
  // Makes the samples for the current properties.
  virtual HResult Alloc();
  // Deletes the samples (and the memory the allocator owns).
  virtual void ReallyFree();
  // The common part of Alloc: a failure when no sizes are set, S_FALSE when
  // samples of the current properties exist already, else S_OK.
  HResult CheckAlloc();
  void AddFreeSample(D_CMediaSample* sample);
  void DeleteFreeSamples();

  std::recursive_mutex lock_;
  int32_t count_ = 0, size_ = 0, alignment_ = 1, prefix_ = 0;
  bool changed_ = false;
  int32_t allocated_ = 0;  // samples made

 private:
  std::condition_variable_any free_available_;
  std::vector<D_CMediaSample*> free_;
  bool committed_ = false;
  bool decommit_pending_ = false;
  uint8_t* memory_ = nullptr;
  bool guarded_ = false;  // the samples are Alloc's, each with its guard

  // Counts and mends a guard written over.
  void CheckGuard(D_CMediaSample* sample);
};

// For tests: how many samples came back with the bytes after their buffer
// written over.
int MediaSampleOverruns();

class D_CBaseFilter;

// The connection logic shared by input and output pins. A pin counts its
// references on its filter.
class D_CBasePin : public IPin {
 public:
  D_CBasePin(const char* object_name, D_CBaseFilter* filter, CriticalSection* lock, HResult* result,
             const char16_t* name, PinDirection direction);
  virtual ~D_CBasePin();

  HResult QueryInterface(const Guid& iid, void** out) override { return NonDelegatingQueryInterface(iid, out); }
  uint32_t AddRef() override;
  uint32_t Release() override;
  virtual HResult NonDelegatingQueryInterface(const Guid& iid, void** out);

  HResult Connect(IPin* receive_pin, const D_CMediaType* type) override;
  HResult ReceiveConnection(IPin* connector, const D_CMediaType* type) override;
  HResult Disconnect() override;
  HResult ConnectedTo(IPin** pin) override;
  HResult ConnectionMediaType(D_CMediaType* type) override;
  HResult QueryPinInfo(PinInfo* info) override;
  HResult QueryDirection(PinDirection* direction) override;
  HResult QueryAccept(const D_CMediaType* type) override;
  HResult EnumMediaTypes(IEnumMediaTypes** types) override;
  HResult EndOfStream() override { return kS_OK; }
  HResult BeginFlush() override = 0;
  HResult EndFlush() override = 0;
  HResult NewSegment(ReferenceTime start, ReferenceTime stop, double rate) override;

  // What a filter customises.
  virtual HResult CheckMediaType(const D_CMediaType* type) = 0;
  virtual HResult GetMediaType(int position, D_CMediaType* type);
  virtual HResult SetMediaType(const D_CMediaType* type);
  virtual HResult CheckConnect(IPin* pin);
  virtual HResult BreakConnect() { return kS_OK; }
  virtual HResult CompleteConnect(IPin* pin) { return kS_OK; }
  virtual HResult Active() { return kS_OK; }
  virtual HResult Inactive() { return kS_OK; }

  bool IsConnected() const { return connected_ != nullptr; }
  IPin* GetConnected() const { return connected_; }
  const D_CMediaType& CurrentMediaType() const { return mt_; }
  ReferenceTime CurrentStartTime() const { return segment_start_; }
  PinDirection Direction() const { return direction_; }
  const std::u16string& Name() const { return name_; }
  bool IsStopped() const;
  D_CBaseFilter* Filter() const { return filter_; }

 protected:
  HResult AgreeMediaType(IPin* receive_pin, const D_CMediaType* partial);
  HResult TryMediaTypes(IPin* receive_pin, const D_CMediaType* partial, IEnumMediaTypes* types);
  HResult AttemptConnection(IPin* receive_pin, const D_CMediaType* type);
  // Forgets the connection without calling the other pin.
  void DropConnection();

  D_CBaseFilter* filter_;
  CriticalSection* lock_;
  std::u16string name_;
  PinDirection direction_;
  IPin* connected_ = nullptr;
  D_CMediaType mt_;
  ReferenceTime segment_start_ = 0;
  ReferenceTime segment_stop_ = INT64_MAX;
  double segment_rate_ = 1.0;
};

// An output pin that pushes samples into a downstream IMemInputPin through
// an allocator the two pins agree on.
class D_CBaseOutputPin : public D_CBasePin {
 public:
  D_CBaseOutputPin(const char* object_name, D_CBaseFilter* filter, CriticalSection* lock, HResult* result,
                   const char16_t* name);
  ~D_CBaseOutputPin() override;

  HResult CheckConnect(IPin* pin) override;
  HResult CompleteConnect(IPin* pin) override;
  HResult BreakConnect() override;
  HResult Active() override;
  HResult Inactive() override;
  HResult EndOfStream() override { return kE_UNEXPECTED; }
  HResult BeginFlush() override { return kE_UNEXPECTED; }
  HResult EndFlush() override { return kE_UNEXPECTED; }

  virtual HResult DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* props) = 0;
  virtual HResult DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
  virtual HResult InitAllocator(IMemAllocator** allocator);

  HResult GetDeliveryBuffer(IMediaSample** sample, ReferenceTime* start, ReferenceTime* stop, uint32_t flags);
  HResult Deliver(IMediaSample* sample);
  HResult DeliverEndOfStream();
  HResult DeliverBeginFlush();
  HResult DeliverEndFlush();
  HResult DeliverNewSegment(ReferenceTime start, ReferenceTime stop, double rate);
  IMemAllocator* Allocator() const { return allocator_; }
  IMemInputPin* InputPin() const { return input_pin_; }

 protected:
  IMemAllocator* allocator_ = nullptr;
  IMemInputPin* input_pin_ = nullptr;
};

// An input pin that takes pushed samples. Receive refuses while stopped
// (VFW_E_WRONG_STATE) and while flushing (S_FALSE).
class D_CBaseInputPin : public D_CBasePin, public IMemInputPin {
 public:
  D_CBaseInputPin(const char* object_name, D_CBaseFilter* filter, CriticalSection* lock, HResult* result,
                  const char16_t* name);
  ~D_CBaseInputPin() override;

  HResult QueryInterface(const Guid& iid, void** out) override { return D_CBasePin::QueryInterface(iid, out); }
  uint32_t AddRef() override { return D_CBasePin::AddRef(); }
  uint32_t Release() override { return D_CBasePin::Release(); }
  HResult NonDelegatingQueryInterface(const Guid& iid, void** out) override;

  HResult GetAllocator(IMemAllocator** allocator) override;
  HResult NotifyAllocator(IMemAllocator* allocator, int32_t read_only) override;
  HResult GetAllocatorRequirements(AllocatorProperties* props) override { return kE_NOTIMPL; }
  HResult Receive(IMediaSample* sample) override;
  HResult ReceiveCanBlock() override { return kS_OK; }
  HResult BeginFlush() override;
  HResult EndFlush() override;
  HResult EndOfStream() override;
  HResult BreakConnect() override;
  HResult Inactive() override;

  // The refusals every streaming call makes first.
  HResult CheckStreaming();
  bool IsFlushing() const { return flushing_.load(); }
  bool IsReadOnly() const { return read_only_; }
  IMemAllocator* PinAllocator() const { return allocator_; }

 protected:
  IMemAllocator* allocator_ = nullptr;
  bool read_only_ = false;
  std::atomic<bool> flushing_{false};
};

// A filter: its states, clock, graph and pins. Filters are stopped, paused
// (streaming threads run, renderers hold) or running (on the clock).
class D_CBaseFilter : public IBaseFilter, public D_CUnknown {
 public:
  D_CBaseFilter(const char* name, CriticalSection* lock, const Guid& clsid);
  ~D_CBaseFilter() override;
  RORUD_MEDIA_UNKNOWN
  HResult NonDelegatingQueryInterface(const Guid& iid, void** out) override;

  virtual int GetPinCount() = 0;
  virtual D_CBasePin* GetPin(int n) = 0;

  HResult Stop() override;
  HResult Pause() override;
  HResult Run(ReferenceTime start) override;
  HResult GetState(uint32_t timeout_ms, FilterState* state) override;
  HResult SetSyncSource(IReferenceClock* clock) override;
  HResult GetSyncSource(IReferenceClock** clock) override;
  HResult GetClassID(Guid* clsid) override;
  HResult EnumPins(IEnumPins** pins) override;
  HResult QueryFilterInfo(FilterInfo* info) override;
  HResult JoinFilterGraph(IFilterGraph* graph, const char16_t* name) override;

  // Reports an event to the graph's event sink (nothing outside a graph).
  HResult NotifyEvent(int32_t code, intptr_t param1, intptr_t param2);
  // The clock's time less the run start time; S_FALSE without a clock.
  HResult StreamTime(ReferenceTime* time);
  bool IsActive() const { return state_.load() != FilterState::kStopped; }
  bool IsStopped() const { return state_.load() == FilterState::kStopped; }
  FilterState State() const { return state_.load(); }
  CriticalSection* FilterLock() const { return lock_; }
  IFilterGraph* Graph() const { return graph_; }

 protected:
  CriticalSection* lock_;
  Guid clsid_;
  std::atomic<FilterState> state_{FilterState::kStopped};
  std::atomic<ReferenceTime> start_{0};  // read by streaming threads; a seek while running moves it
  IReferenceClock* clock_ = nullptr;
  IFilterGraph* graph_ = nullptr;      // not counted: the graph holds the filter
  IMediaEventSink* sink_ = nullptr;    // not counted
  std::u16string name_;
};

// ---- Transform filters --------------------------------------------------------

class D_CTransformFilter;

class D_CTransformInputPin : public D_CBaseInputPin {
 public:
  D_CTransformInputPin(const char* object_name, D_CTransformFilter* filter, HResult* result, const char16_t* name);
  HResult CheckConnect(IPin* pin) override;
  HResult BreakConnect() override;
  HResult CompleteConnect(IPin* pin) override;
  HResult CheckMediaType(const D_CMediaType* type) override;
  HResult SetMediaType(const D_CMediaType* type) override;
  HResult Receive(IMediaSample* sample) override;
  HResult EndOfStream() override;
  HResult BeginFlush() override;
  HResult EndFlush() override;
  HResult NewSegment(ReferenceTime start, ReferenceTime stop, double rate) override;

 protected:
  D_CTransformFilter* transform_;
};

class D_CTransformOutputPin : public D_CBaseOutputPin {
 public:
  D_CTransformOutputPin(const char* object_name, D_CTransformFilter* filter, HResult* result, const char16_t* name);
  HResult CheckConnect(IPin* pin) override;
  HResult BreakConnect() override;
  HResult CompleteConnect(IPin* pin) override;
  HResult CheckMediaType(const D_CMediaType* type) override;
  HResult SetMediaType(const D_CMediaType* type) override;
  HResult GetMediaType(int position, D_CMediaType* type) override;
  HResult DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* props) override;

 protected:
  D_CTransformFilter* transform_;
};

// A filter that turns each input sample into an output sample.
class D_CTransformFilter : public D_CBaseFilter {
 public:
  D_CTransformFilter(const char* name, const Guid& clsid);
  ~D_CTransformFilter() override;

  int GetPinCount() override { return 2; }
  D_CBasePin* GetPin(int n) override;
  HResult Stop() override;
  HResult Pause() override;

  virtual HResult CheckInputType(const D_CMediaType* type) = 0;
  virtual HResult CheckTransform(const D_CMediaType* in, const D_CMediaType* out) = 0;
  virtual HResult DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* props) = 0;
  virtual HResult GetMediaType(int position, D_CMediaType* type) = 0;
  virtual HResult Transform(IMediaSample* in, IMediaSample* out) { return kE_UNEXPECTED; }
  virtual HResult Receive(IMediaSample* sample);
  virtual HResult StartStreaming() { return kS_OK; }
  virtual HResult StopStreaming() { return kS_OK; }
  virtual HResult SetMediaType(PinDirection direction, const D_CMediaType* type) { return kS_OK; }
  virtual HResult CheckConnect(PinDirection direction, IPin* pin) { return kS_OK; }
  virtual HResult BreakConnect(PinDirection direction) { return kS_OK; }
  virtual HResult CompleteConnect(PinDirection direction, IPin* pin) { return kS_OK; }
  virtual HResult EndOfStream();
  virtual HResult BeginFlush();
  virtual HResult EndFlush();
  virtual HResult NewSegment(ReferenceTime start, ReferenceTime stop, double rate);

  D_CTransformInputPin* InputPin() { return input_; }
  D_CTransformOutputPin* OutputPin() { return output_; }

 protected:
  // Takes an output buffer and copies the input sample's properties to it.
  HResult InitializeOutputSample(IMediaSample* in, IMediaSample** out);

  CriticalSection filter_lock_;
  std::recursive_mutex receive_lock_;  // held while a sample passes
  D_CTransformInputPin* input_ = nullptr;
  D_CTransformOutputPin* output_ = nullptr;
  bool streaming_ = false;
};

class D_CTransInPlaceFilter;

class D_CTransInPlaceInputPin : public D_CTransformInputPin {
 public:
  D_CTransInPlaceInputPin(const char* object_name, D_CTransInPlaceFilter* filter, HResult* result,
                          const char16_t* name);
  HResult EnumMediaTypes(IEnumMediaTypes** types) override;
  HResult GetAllocator(IMemAllocator** allocator) override;
  HResult NotifyAllocator(IMemAllocator* allocator, int32_t read_only) override;
  HResult CheckMediaType(const D_CMediaType* type) override;

 protected:
  D_CTransInPlaceFilter* in_place_;
};

class D_CTransInPlaceOutputPin : public D_CTransformOutputPin {
 public:
  D_CTransInPlaceOutputPin(const char* object_name, D_CTransInPlaceFilter* filter, HResult* result,
                           const char16_t* name);
  HResult CheckMediaType(const D_CMediaType* type) override;
  HResult GetMediaType(int position, D_CMediaType* type) override;
  HResult DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override;
  HResult EnumMediaTypes(IEnumMediaTypes** types) override;

 protected:
  D_CTransInPlaceFilter* in_place_;
};

// A transform that works on the sample it receives and passes the same
// sample on (or a copy when the two sides use different allocators).
class D_CTransInPlaceFilter : public D_CTransformFilter {
 public:
  D_CTransInPlaceFilter(const char* name, const Guid& clsid, HResult* result, bool modifies_data);
  D_CBasePin* GetPin(int n) override;

  HResult CheckTransform(const D_CMediaType* in, const D_CMediaType* out) override { return kS_OK; }
  HResult GetMediaType(int position, D_CMediaType* type) override { return kE_UNEXPECTED; }
  HResult DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* props) override;
  HResult Receive(IMediaSample* sample) override;
  // The in-place form; the two-sample form stays visible beside it.
  using D_CTransformFilter::Transform;
  virtual HResult Transform(IMediaSample* sample) = 0;

  bool ModifiesData() const { return modifies_data_; }
  bool UsingDifferentAllocators() const;
  // A copy of the sample in an output buffer; null when none can be had.
  IMediaSample* Copy(IMediaSample* source);

 protected:
  bool modifies_data_;
};

// ---- Renderers ------------------------------------------------------------------

class D_CBaseRenderer;

class D_CRendererInputPin : public D_CBaseInputPin {
 public:
  D_CRendererInputPin(D_CBaseRenderer* renderer, HResult* result, const char16_t* name);
  HResult CheckMediaType(const D_CMediaType* type) override;
  HResult SetMediaType(const D_CMediaType* type) override;
  HResult BreakConnect() override;
  HResult CompleteConnect(IPin* pin) override;
  HResult Receive(IMediaSample* sample) override;
  HResult EndOfStream() override;
  HResult BeginFlush() override;
  HResult EndFlush() override;

 private:
  D_CBaseRenderer* renderer_;
};

// A filter at the end of a stream: each sample waits for its time on the
// graph's clock (none without a clock), is rendered, and the end of the
// stream is reported to the graph as EC_COMPLETE while running. While
// paused a sample waits for the run.
class D_CBaseRenderer : public D_CBaseFilter {
 public:
  D_CBaseRenderer(const Guid& clsid, const char* name, HResult* result);
  ~D_CBaseRenderer() override;

  int GetPinCount() override { return 1; }
  D_CBasePin* GetPin(int n) override;
  HResult Stop() override;
  HResult Pause() override;
  HResult Run(ReferenceTime start) override;

  virtual HResult CheckMediaType(const D_CMediaType* type) = 0;
  virtual HResult DoRenderSample(IMediaSample* sample) = 0;
  virtual HResult SetMediaType(const D_CMediaType* type) { return kS_OK; }
  virtual HResult BreakConnect() { return kS_OK; }
  virtual HResult CompleteConnect(IPin* pin) { return kS_OK; }
  virtual void OnStopStreaming() {}
  virtual void OnBeginFlush() {}
  // How long before its time a sample may be rendered: a renderer that
  // buffers ahead of a device takes its samples early, so that the device
  // has them before it needs them.
  virtual ReferenceTime RenderAhead() const { return 0; }

  HResult Receive(IMediaSample* sample);
  HResult EndOfStream();
  HResult BeginFlush();
  HResult EndFlush();
  D_CRendererInputPin* InputPin() { return input_; }
  // The clock's time when the waiting streaming thread last looked, or -1.
  ReferenceTime ParkedAt() const { return parked_at_.load(); }
  bool StreamEnded() const { return end_of_stream_.load(); }

 protected:
  // Waits until the sample is due or streaming ends; S_OK to render it.
  HResult WaitForRenderTime(IMediaSample* sample);
  // Wakes every wait (state change, flush).
  void WakeWaiters();

  CriticalSection renderer_lock_;
  std::mutex wait_lock_;
  std::condition_variable wake_;
  std::recursive_mutex render_lock_;  // held while a sample is rendered
  D_CRendererInputPin* input_ = nullptr;
  std::atomic<bool> end_of_stream_{false};
  std::atomic<bool> complete_sent_{false};
  std::atomic<bool> flushing_{false};
  std::atomic<int> wake_count_{0};
  std::atomic<ReferenceTime> parked_at_{-1};
};

// For tests: how many renderers have a streaming thread waiting for a
// sample not yet due that last looked at the clock at `time`. Once every
// renderer of a graph does at the clock's present time, everything due by
// then has been rendered.
int MediaRenderersParkedAt(ReferenceTime time);
// For fuzz targets: whether every connected renderer either waits like that
// at `time` or has had its stream's end, so that the decoders before it have
// run on all they were to run on by then.
bool MediaRenderersSettledAt(ReferenceTime time);

// The base of renderers that show pictures; timing as D_CBaseRenderer.
class D_CBaseVideoRenderer : public D_CBaseRenderer {
 public:
  D_CBaseVideoRenderer(const Guid& clsid, const char* name, HResult* result) : D_CBaseRenderer(clsid, name, result) {}
};

}  // namespace plat
