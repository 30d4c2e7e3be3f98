// platform/media/base_pins.cpp - pins and the base filter: the connection
// handshake (media type agreement, allocator agreement), the streaming
// refusals, filter states, and the pin and media type enumerators.
#include <algorithm>
#include <cstring>

#include "platform/media/base_classes.h"

namespace plat {

namespace {

void CopyName(char16_t* out, size_t capacity, const std::u16string& name) {
  size_t n = std::min(name.size(), capacity - 1);
  std::memcpy(out, name.data(), n * sizeof(char16_t));
  out[n] = 0;
}

// The media types a pin offers, one by one through its GetMediaType.
class MediaTypeEnumerator : public IEnumMediaTypes, public D_CUnknown {
 public:
  explicit MediaTypeEnumerator(D_CBasePin* pin) : D_CUnknown("media type enumerator"), pin_(pin) { pin_->AddRef(); }
  ~MediaTypeEnumerator() override { pin_->Release(); }
  RORUD_MEDIA_UNKNOWN
  HResult NonDelegatingQueryInterface(const Guid& iid, void** out) override {
    if (out == nullptr) return kE_POINTER;
    if (iid == kIID_IUnknown || iid == kIID_IEnumMediaTypes) return GetInterface(static_cast<IEnumMediaTypes*>(this), out);
    return D_CUnknown::NonDelegatingQueryInterface(iid, out);
  }
  HResult Next(uint32_t count, D_CMediaType** types, uint32_t* fetched) override {
    if (types == nullptr) return kE_POINTER;
    uint32_t got = 0;
    while (got < count) {
      D_CMediaType type;
      if (pin_->GetMediaType(position_, &type) != kS_OK) break;
      ++position_;
      types[got++] = new D_CMediaType(type);
    }
    if (fetched != nullptr) *fetched = got;
    return got == count ? kS_OK : kS_FALSE;
  }
  HResult Skip(uint32_t count) override {
    position_ += static_cast<int>(count);
    return kS_OK;
  }
  HResult Reset() override {
    position_ = 0;
    return kS_OK;
  }

 private:
  D_CBasePin* pin_;
  int position_ = 0;
};

// A snapshot of a filter's pins.
class PinEnumerator : public IEnumPins, public D_CUnknown {
 public:
  explicit PinEnumerator(D_CBaseFilter* filter) : D_CUnknown("pin enumerator") {
    for (int i = 0; i < filter->GetPinCount(); ++i) {
      D_CBasePin* pin = filter->GetPin(i);
      if (pin == nullptr) continue;
      pin->AddRef();
      pins_.push_back(pin);
    }
  }
  ~PinEnumerator() override {
    for (IPin* pin : pins_) pin->Release();
  }
  RORUD_MEDIA_UNKNOWN
  HResult NonDelegatingQueryInterface(const Guid& iid, void** out) override {
    if (out == nullptr) return kE_POINTER;
    if (iid == kIID_IUnknown || iid == kIID_IEnumPins) return GetInterface(static_cast<IEnumPins*>(this), out);
    return D_CUnknown::NonDelegatingQueryInterface(iid, out);
  }
  HResult Next(uint32_t count, IPin** pins, uint32_t* fetched) override {
    if (pins == nullptr) return kE_POINTER;
    uint32_t got = 0;
    while (got < count && position_ < pins_.size()) {
      pins[got] = pins_[position_++];
      pins[got++]->AddRef();
    }
    if (fetched != nullptr) *fetched = got;
    return got == count ? kS_OK : kS_FALSE;
  }
  HResult Skip(uint32_t count) override {
    position_ = std::min(pins_.size(), position_ + count);
    return kS_OK;
  }
  HResult Reset() override {
    position_ = 0;
    return kS_OK;
  }

 private:
  std::vector<IPin*> pins_;
  size_t position_ = 0;
};

}  // namespace

// ---- Base pin ---------------------------------------------------------------------

D_CBasePin::D_CBasePin(const char*, D_CBaseFilter* filter, CriticalSection* lock, HResult*, const char16_t* name,
                       PinDirection direction)
    : filter_(filter), lock_(lock), name_(name != nullptr ? name : u""), direction_(direction) {}

D_CBasePin::~D_CBasePin() { DropConnection(); }

uint32_t D_CBasePin::AddRef() { return filter_->AddRef(); }
uint32_t D_CBasePin::Release() { return filter_->Release(); }

HResult D_CBasePin::NonDelegatingQueryInterface(const Guid& iid, void** out) {
  if (out == nullptr) return kE_POINTER;
  if (iid == kIID_IUnknown || iid == kIID_IPin) return GetInterface(static_cast<IPin*>(this), out);
  *out = nullptr;
  return kE_NOINTERFACE;
}

bool D_CBasePin::IsStopped() const { return filter_->IsStopped(); }

void D_CBasePin::DropConnection() {
  if (connected_ != nullptr) {
    IPin* pin = connected_;
    connected_ = nullptr;
    pin->Release();
  }
}

HResult D_CBasePin::Connect(IPin* receive_pin, const D_CMediaType* type) {
  if (receive_pin == nullptr) return kE_POINTER;
  lock_->Enter();
  HResult r;
  if (connected_ != nullptr) r = kVFW_E_ALREADY_CONNECTED;
  else if (!IsStopped()) r = kVFW_E_NOT_STOPPED;
  else r = AgreeMediaType(receive_pin, type);
  lock_->Leave();
  return r;
}

HResult D_CBasePin::AgreeMediaType(IPin* receive_pin, const D_CMediaType* partial) {
  // A complete type is tried as it is; otherwise the other pin's types come
  // first, then this pin's own.
  if (partial != nullptr && !(partial->majortype == kGUID_NULL) && !(partial->subtype == kGUID_NULL) &&
      !(partial->formattype == kGUID_NULL))
    return AttemptConnection(receive_pin, partial);
  HResult last = kVFW_E_NO_ACCEPTABLE_TYPES;
  for (int side = 0; side < 2; ++side) {
    IEnumMediaTypes* types = nullptr;
    HResult r = side == 0 ? receive_pin->EnumMediaTypes(&types) : EnumMediaTypes(&types);
    if (Failed(r) || types == nullptr) continue;
    r = TryMediaTypes(receive_pin, partial, types);
    types->Release();
    if (Succeeded(r)) return kS_OK;
    last = r;
  }
  return last;
}

HResult D_CBasePin::TryMediaTypes(IPin* receive_pin, const D_CMediaType* partial, IEnumMediaTypes* types) {
  HResult last = kVFW_E_NO_ACCEPTABLE_TYPES;
  for (;;) {
    D_CMediaType* type = nullptr;
    uint32_t fetched = 0;
    if (types->Next(1, &type, &fetched) != kS_OK || fetched != 1) break;
    if (partial == nullptr || partial->MatchesPartial(*type)) {
      HResult r = AttemptConnection(receive_pin, type);
      if (Succeeded(r)) {
        delete type;
        return kS_OK;
      }
      last = r;
    }
    delete type;
  }
  return last;
}

HResult D_CBasePin::AttemptConnection(IPin* receive_pin, const D_CMediaType* type) {
  HResult r = CheckConnect(receive_pin);
  if (Failed(r)) {
    BreakConnect();
    return r;
  }
  r = CheckMediaType(type);
  if (r == kS_OK) {
    connected_ = receive_pin;
    connected_->AddRef();
    r = SetMediaType(type);
    if (Succeeded(r)) {
      r = receive_pin->ReceiveConnection(this, type);
      if (Succeeded(r)) {
        r = CompleteConnect(receive_pin);
        if (Succeeded(r)) return kS_OK;
        receive_pin->Disconnect();
      }
    }
  } else if (Succeeded(r)) {
    r = kVFW_E_TYPE_NOT_ACCEPTED;
  }
  DropConnection();
  mt_.Clear();
  BreakConnect();
  return r;
}

HResult D_CBasePin::ReceiveConnection(IPin* connector, const D_CMediaType* type) {
  if (connector == nullptr || type == nullptr) return kE_POINTER;
  lock_->Enter();
  HResult r = kS_OK;
  if (connected_ != nullptr) r = kVFW_E_ALREADY_CONNECTED;
  else if (!IsStopped()) r = kVFW_E_NOT_STOPPED;
  if (r == kS_OK) {
    PinDirection other;
    connector->QueryDirection(&other);
    if (other == direction_) r = kVFW_E_INVALID_DIRECTION;
  }
  if (r == kS_OK) {
    r = CheckConnect(connector);
    if (Succeeded(r)) {
      HResult accept = CheckMediaType(type);
      if (accept != kS_OK) r = Failed(accept) ? accept : kVFW_E_TYPE_NOT_ACCEPTED;
    }
    if (Succeeded(r)) {
      connected_ = connector;
      connected_->AddRef();
      r = SetMediaType(type);
      if (Succeeded(r)) r = CompleteConnect(connector);
      if (Failed(r)) {
        DropConnection();
        mt_.Clear();
      }
    }
    if (Failed(r)) BreakConnect();
  }
  lock_->Leave();
  return r;
}

HResult D_CBasePin::Disconnect() {
  lock_->Enter();
  HResult r;
  if (!IsStopped()) {
    r = kVFW_E_NOT_STOPPED;
  } else if (connected_ == nullptr) {
    r = kS_FALSE;
  } else {
    r = BreakConnect();
    if (Succeeded(r)) {
      DropConnection();
      mt_.Clear();
      r = kS_OK;
    }
  }
  lock_->Leave();
  return r;
}

HResult D_CBasePin::ConnectedTo(IPin** pin) {
  if (pin == nullptr) return kE_POINTER;
  lock_->Enter();
  *pin = connected_;
  if (connected_ != nullptr) connected_->AddRef();
  lock_->Leave();
  return *pin != nullptr ? kS_OK : kVFW_E_NOT_CONNECTED;
}

HResult D_CBasePin::ConnectionMediaType(D_CMediaType* type) {
  if (type == nullptr) return kE_POINTER;
  lock_->Enter();
  HResult r = kVFW_E_NOT_CONNECTED;
  if (connected_ != nullptr) {
    *type = mt_;
    r = kS_OK;
  } else {
    type->Clear();
  }
  lock_->Leave();
  return r;
}

HResult D_CBasePin::QueryPinInfo(PinInfo* info) {
  if (info == nullptr) return kE_POINTER;
  info->pFilter = filter_;
  filter_->AddRef();
  info->dir = direction_;
  CopyName(info->achName, 128, name_);
  return kS_OK;
}

HResult D_CBasePin::QueryDirection(PinDirection* direction) {
  if (direction == nullptr) return kE_POINTER;
  *direction = direction_;
  return kS_OK;
}

HResult D_CBasePin::QueryAccept(const D_CMediaType* type) {
  if (type == nullptr) return kE_POINTER;
  HResult r = CheckMediaType(type);
  return Failed(r) ? kS_FALSE : r;
}

HResult D_CBasePin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (types == nullptr) return kE_POINTER;
  auto* e = new (std::nothrow) MediaTypeEnumerator(this);
  if (e == nullptr) return kE_OUTOFMEMORY;
  return GetInterface(static_cast<IEnumMediaTypes*>(e), reinterpret_cast<void**>(types));
}

HResult D_CBasePin::NewSegment(ReferenceTime start, ReferenceTime stop, double rate) {
  segment_start_ = start;
  segment_stop_ = stop;
  segment_rate_ = rate;
  return kS_OK;
}

HResult D_CBasePin::GetMediaType(int position, D_CMediaType*) {
  return position < 0 ? kE_INVALIDARG : kVFW_S_NO_MORE_ITEMS;
}

HResult D_CBasePin::SetMediaType(const D_CMediaType* type) {
  mt_ = *type;
  return kS_OK;
}

HResult D_CBasePin::CheckConnect(IPin* pin) {
  PinDirection other;
  if (Failed(pin->QueryDirection(&other))) return kE_FAIL;
  return other == direction_ ? kVFW_E_INVALID_DIRECTION : kS_OK;
}

// ---- Output pin -------------------------------------------------------------------

D_CBaseOutputPin::D_CBaseOutputPin(const char* object_name, D_CBaseFilter* filter, CriticalSection* lock,
                                   HResult* result, const char16_t* name)
    : D_CBasePin(object_name, filter, lock, result, name, PinDirection::kOutput) {}

D_CBaseOutputPin::~D_CBaseOutputPin() {
  SafeRelease(&allocator_);
  SafeRelease(&input_pin_);
}

HResult D_CBaseOutputPin::CheckConnect(IPin* pin) {
  HResult r = D_CBasePin::CheckConnect(pin);
  if (Failed(r)) return r;
  SafeRelease(&input_pin_);
  r = pin->QueryInterface(kIID_IMemInputPin, reinterpret_cast<void**>(&input_pin_));
  return Failed(r) ? kE_NOINTERFACE : kS_OK;
}

HResult D_CBaseOutputPin::CompleteConnect(IPin*) {
  SafeRelease(&allocator_);
  return DecideAllocator(input_pin_, &allocator_);
}

HResult D_CBaseOutputPin::BreakConnect() {
  if (allocator_ != nullptr) {
    allocator_->Decommit();
    SafeRelease(&allocator_);
  }
  SafeRelease(&input_pin_);
  return kS_OK;
}

HResult D_CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  *allocator = nullptr;
  AllocatorProperties props{};
  pin->GetAllocatorRequirements(&props);
  if (props.cbAlign == 0) props.cbAlign = 1;
  HResult r = pin->GetAllocator(allocator);
  if (Succeeded(r)) {
    r = DecideBufferSize(*allocator, &props);
    if (Succeeded(r)) {
      r = pin->NotifyAllocator(*allocator, 0);
      if (Succeeded(r)) return kS_OK;
    }
  }
  SafeRelease(allocator);
  r = InitAllocator(allocator);
  if (Succeeded(r)) {
    r = DecideBufferSize(*allocator, &props);
    if (Succeeded(r)) {
      r = pin->NotifyAllocator(*allocator, 0);
      if (Succeeded(r)) return kS_OK;
    }
  }
  SafeRelease(allocator);
  return r;
}

HResult D_CBaseOutputPin::InitAllocator(IMemAllocator** allocator) {
  HResult r = kS_OK;
  auto* a = new (std::nothrow) D_CMemAllocator("output allocator", &r);
  if (a == nullptr) return kE_OUTOFMEMORY;
  return GetInterface(static_cast<IMemAllocator*>(a), reinterpret_cast<void**>(allocator));
}

HResult D_CBaseOutputPin::Active() { return allocator_ != nullptr ? allocator_->Commit() : kVFW_E_NO_ALLOCATOR; }
HResult D_CBaseOutputPin::Inactive() { return allocator_ != nullptr ? allocator_->Decommit() : kS_OK; }

HResult D_CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, ReferenceTime* start, ReferenceTime* stop,
                                            uint32_t flags) {
  if (allocator_ == nullptr) return kVFW_E_NO_ALLOCATOR;
  return allocator_->GetBuffer(sample, start, stop, flags);
}

HResult D_CBaseOutputPin::Deliver(IMediaSample* sample) {
  if (input_pin_ == nullptr) return kVFW_E_NOT_CONNECTED;
  return input_pin_->Receive(sample);
}

HResult D_CBaseOutputPin::DeliverEndOfStream() {
  return connected_ != nullptr ? connected_->EndOfStream() : kVFW_E_NOT_CONNECTED;
}
HResult D_CBaseOutputPin::DeliverBeginFlush() {
  return connected_ != nullptr ? connected_->BeginFlush() : kVFW_E_NOT_CONNECTED;
}
HResult D_CBaseOutputPin::DeliverEndFlush() {
  return connected_ != nullptr ? connected_->EndFlush() : kVFW_E_NOT_CONNECTED;
}
HResult D_CBaseOutputPin::DeliverNewSegment(ReferenceTime start, ReferenceTime stop, double rate) {
  return connected_ != nullptr ? connected_->NewSegment(start, stop, rate) : kVFW_E_NOT_CONNECTED;
}

// ---- Input pin --------------------------------------------------------------------

D_CBaseInputPin::D_CBaseInputPin(const char* object_name, D_CBaseFilter* filter, CriticalSection* lock,
                                 HResult* result, const char16_t* name)
    : D_CBasePin(object_name, filter, lock, result, name, PinDirection::kInput) {}

D_CBaseInputPin::~D_CBaseInputPin() { SafeRelease(&allocator_); }

HResult D_CBaseInputPin::NonDelegatingQueryInterface(const Guid& iid, void** out) {
  if (out == nullptr) return kE_POINTER;
  if (iid == kIID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), out);
  return D_CBasePin::NonDelegatingQueryInterface(iid, out);
}

HResult D_CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) return kE_POINTER;
  lock_->Enter();
  HResult r = kS_OK;
  if (allocator_ == nullptr) {
    auto* a = new (std::nothrow) D_CMemAllocator("input allocator", &r);
    if (a == nullptr) r = kE_OUTOFMEMORY;
    else {
      allocator_ = a;
      allocator_->AddRef();
    }
  }
  if (Succeeded(r)) {
    *allocator = allocator_;
    allocator_->AddRef();
  }
  lock_->Leave();
  return r;
}

HResult D_CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, int32_t read_only) {
  if (allocator == nullptr) return kE_POINTER;
  lock_->Enter();
  allocator->AddRef();
  SafeRelease(&allocator_);
  allocator_ = allocator;
  read_only_ = read_only != 0;
  lock_->Leave();
  return kS_OK;
}

HResult D_CBaseInputPin::BreakConnect() {
  SafeRelease(&allocator_);
  return kS_OK;
}

HResult D_CBaseInputPin::Inactive() {
  flushing_ = false;
  return kS_OK;
}

HResult D_CBaseInputPin::CheckStreaming() {
  if (connected_ == nullptr) return kVFW_E_NOT_CONNECTED;
  if (flushing_.load()) return kS_FALSE;
  if (IsStopped()) return kVFW_E_WRONG_STATE;
  return kS_OK;
}

HResult D_CBaseInputPin::Receive(IMediaSample* sample) {
  if (sample == nullptr) return kE_POINTER;
  HResult r = CheckStreaming();
  if (r != kS_OK) return r;
  // A sample that carries a new type changes the connection's type.
  D_CMediaType* type = nullptr;
  if (sample->GetMediaType(&type) == kS_OK && type != nullptr) {
    r = CheckMediaType(type);
    if (r == kS_OK) r = SetMediaType(type);
    delete type;
    if (r != kS_OK) {
      filter_->NotifyEvent(kEC_ERRORABORT, kVFW_E_TYPE_NOT_ACCEPTED, 0);
      return kVFW_E_INVALIDMEDIATYPE;
    }
  }
  return kS_OK;
}

HResult D_CBaseInputPin::BeginFlush() {
  flushing_ = true;
  return kS_OK;
}

HResult D_CBaseInputPin::EndFlush() {
  flushing_ = false;
  return kS_OK;
}

HResult D_CBaseInputPin::EndOfStream() { return CheckStreaming(); }

// ---- Base filter -------------------------------------------------------------------

D_CBaseFilter::D_CBaseFilter(const char* name, CriticalSection* lock, const Guid& clsid)
    : D_CUnknown(name), lock_(lock), clsid_(clsid) {}

D_CBaseFilter::~D_CBaseFilter() { SafeRelease(&clock_); }

HResult D_CBaseFilter::NonDelegatingQueryInterface(const Guid& iid, void** out) {
  if (out == nullptr) return kE_POINTER;
  if (iid == kIID_IUnknown || iid == kIID_IBaseFilter || iid == kIID_IMediaFilter)
    return GetInterface(static_cast<IBaseFilter*>(this), out);
  return D_CUnknown::NonDelegatingQueryInterface(iid, out);
}

HResult D_CBaseFilter::Stop() {
  lock_->Enter();
  HResult result = kS_OK;
  if (state_.load() != FilterState::kStopped) {
    for (int i = 0; i < GetPinCount(); ++i) {
      D_CBasePin* pin = GetPin(i);
      if (pin != nullptr && pin->IsConnected()) {
        HResult r = pin->Inactive();
        if (Failed(r) && Succeeded(result)) result = r;
      }
    }
  }
  state_ = FilterState::kStopped;
  lock_->Leave();
  return result;
}

HResult D_CBaseFilter::Pause() {
  lock_->Enter();
  HResult result = kS_OK;
  if (state_.load() == FilterState::kStopped) {
    for (int i = 0; i < GetPinCount(); ++i) {
      D_CBasePin* pin = GetPin(i);
      if (pin != nullptr && pin->IsConnected()) {
        HResult r = pin->Active();
        if (Failed(r)) {
          lock_->Leave();
          return r;
        }
      }
    }
  }
  state_ = FilterState::kPaused;
  lock_->Leave();
  return result;
}

HResult D_CBaseFilter::Run(ReferenceTime start) {
  lock_->Enter();
  HResult r = kS_OK;
  start_ = start;
  if (state_.load() == FilterState::kStopped) r = Pause();
  if (Succeeded(r)) state_ = FilterState::kRunning;
  lock_->Leave();
  return r;
}

HResult D_CBaseFilter::GetState(uint32_t, FilterState* state) {
  if (state == nullptr) return kE_POINTER;
  *state = state_.load();
  return kS_OK;
}

HResult D_CBaseFilter::SetSyncSource(IReferenceClock* clock) {
  lock_->Enter();
  if (clock != nullptr) clock->AddRef();
  SafeRelease(&clock_);
  clock_ = clock;
  lock_->Leave();
  return kS_OK;
}

HResult D_CBaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (clock == nullptr) return kE_POINTER;
  lock_->Enter();
  *clock = clock_;
  if (clock_ != nullptr) clock_->AddRef();
  lock_->Leave();
  return kS_OK;
}

HResult D_CBaseFilter::GetClassID(Guid* clsid) {
  if (clsid == nullptr) return kE_POINTER;
  *clsid = clsid_;
  return kS_OK;
}

HResult D_CBaseFilter::EnumPins(IEnumPins** pins) {
  if (pins == nullptr) return kE_POINTER;
  auto* e = new (std::nothrow) PinEnumerator(this);
  if (e == nullptr) return kE_OUTOFMEMORY;
  return GetInterface(static_cast<IEnumPins*>(e), reinterpret_cast<void**>(pins));
}

HResult D_CBaseFilter::QueryFilterInfo(FilterInfo* info) {
  if (info == nullptr) return kE_POINTER;
  CopyName(info->achName, 128, name_);
  info->pGraph = graph_;
  if (graph_ != nullptr) graph_->AddRef();
  return kS_OK;
}

HResult D_CBaseFilter::JoinFilterGraph(IFilterGraph* graph, const char16_t* name) {
  lock_->Enter();
  graph_ = graph;
  sink_ = nullptr;
  if (graph != nullptr) {
    IMediaEventSink* sink = nullptr;
    if (Succeeded(graph->QueryInterface(kIID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
      sink_ = sink;
      sink->Release();  // the graph outlives its membership
    }
  }
  name_ = name != nullptr ? name : u"";
  lock_->Leave();
  return kS_OK;
}

HResult D_CBaseFilter::NotifyEvent(int32_t code, intptr_t param1, intptr_t param2) {
  IMediaEventSink* sink = sink_;
  if (sink == nullptr) return kE_NOTIMPL;
  if (code == kEC_COMPLETE) param2 = reinterpret_cast<intptr_t>(static_cast<IBaseFilter*>(this));
  return sink->Notify(code, param1, param2);
}

HResult D_CBaseFilter::StreamTime(ReferenceTime* time) {
  if (clock_ == nullptr) return kS_FALSE;
  ReferenceTime now = 0;
  clock_->GetTime(&now);
  *time = now - start_;
  return kS_OK;
}

}  // namespace plat
