// platform/media/base_transform.cpp - transform and in-place transform
// filters: their pins, streaming start and stop, sample passing, end of
// stream and flushing downstream, and allocator sharing for in-place work.
#include <cstring>

#include "platform/media/base_classes.h"

namespace plat {

// ---- Transform input pin ------------------------------------------------------------

D_CTransformInputPin::D_CTransformInputPin(const char* object_name, D_CTransformFilter* filter, HResult* result,
                                           const char16_t* name)
    : D_CBaseInputPin(object_name, filter, filter->FilterLock(), result, name), transform_(filter) {}

HResult D_CTransformInputPin::CheckConnect(IPin* pin) {
  HResult r = transform_->CheckConnect(PinDirection::kInput, pin);
  return Failed(r) ? r : D_CBaseInputPin::CheckConnect(pin);
}

HResult D_CTransformInputPin::BreakConnect() {
  transform_->BreakConnect(PinDirection::kInput);
  return D_CBaseInputPin::BreakConnect();
}

HResult D_CTransformInputPin::CompleteConnect(IPin* pin) {
  HResult r = transform_->CompleteConnect(PinDirection::kInput, pin);
  return Failed(r) ? r : D_CBaseInputPin::CompleteConnect(pin);
}

HResult D_CTransformInputPin::CheckMediaType(const D_CMediaType* type) {
  HResult r = transform_->CheckInputType(type);
  if (r != kS_OK) return r;
  // With the output connected the new input must still suit it.
  D_CTransformOutputPin* out = transform_->OutputPin();
  if (out != nullptr && out->IsConnected()) return transform_->CheckTransform(type, &out->CurrentMediaType());
  return kS_OK;
}

HResult D_CTransformInputPin::SetMediaType(const D_CMediaType* type) {
  HResult r = D_CBasePin::SetMediaType(type);
  return Failed(r) ? r : transform_->SetMediaType(PinDirection::kInput, type);
}

HResult D_CTransformInputPin::Receive(IMediaSample* sample) {
  HResult r = D_CBaseInputPin::Receive(sample);
  if (r != kS_OK) return r;
  return transform_->Receive(sample);
}

HResult D_CTransformInputPin::EndOfStream() {
  HResult r = CheckStreaming();
  if (r != kS_OK) return r;
  return transform_->EndOfStream();
}

HResult D_CTransformInputPin::BeginFlush() {
  if (!IsConnected()) return kVFW_E_NOT_CONNECTED;
  D_CBaseInputPin::BeginFlush();
  return transform_->BeginFlush();
}

HResult D_CTransformInputPin::EndFlush() {
  if (!IsConnected()) return kVFW_E_NOT_CONNECTED;
  D_CBaseInputPin::EndFlush();
  return transform_->EndFlush();
}

HResult D_CTransformInputPin::NewSegment(ReferenceTime start, ReferenceTime stop, double rate) {
  D_CBasePin::NewSegment(start, stop, rate);
  return transform_->NewSegment(start, stop, rate);
}

// ---- Transform output pin -----------------------------------------------------------

D_CTransformOutputPin::D_CTransformOutputPin(const char* object_name, D_CTransformFilter* filter, HResult* result,
                                             const char16_t* name)
    : D_CBaseOutputPin(object_name, filter, filter->FilterLock(), result, name), transform_(filter) {}

HResult D_CTransformOutputPin::CheckConnect(IPin* pin) {
  // The output's types follow from the input's, so the input comes first.
  D_CTransformInputPin* in = transform_->InputPin();
  if (in == nullptr || !in->IsConnected()) return kE_UNEXPECTED;
  HResult r = transform_->CheckConnect(PinDirection::kOutput, pin);
  return Failed(r) ? r : D_CBaseOutputPin::CheckConnect(pin);
}

HResult D_CTransformOutputPin::BreakConnect() {
  transform_->BreakConnect(PinDirection::kOutput);
  return D_CBaseOutputPin::BreakConnect();
}

HResult D_CTransformOutputPin::CompleteConnect(IPin* pin) {
  HResult r = transform_->CompleteConnect(PinDirection::kOutput, pin);
  return Failed(r) ? r : D_CBaseOutputPin::CompleteConnect(pin);
}

HResult D_CTransformOutputPin::CheckMediaType(const D_CMediaType* type) {
  D_CTransformInputPin* in = transform_->InputPin();
  if (in == nullptr || !in->IsConnected()) return kE_INVALIDARG;
  return transform_->CheckTransform(&in->CurrentMediaType(), type);
}

HResult D_CTransformOutputPin::SetMediaType(const D_CMediaType* type) {
  HResult r = D_CBasePin::SetMediaType(type);
  return Failed(r) ? r : transform_->SetMediaType(PinDirection::kOutput, type);
}

HResult D_CTransformOutputPin::GetMediaType(int position, D_CMediaType* type) {
  D_CTransformInputPin* in = transform_->InputPin();
  if (in == nullptr || !in->IsConnected()) return kE_UNEXPECTED;
  return transform_->GetMediaType(position, type);
}

HResult D_CTransformOutputPin::DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* props) {
  return transform_->DecideBufferSize(allocator, props);
}

// ---- Transform filter ------------------------------------------------------------------

D_CTransformFilter::D_CTransformFilter(const char* name, const Guid& clsid)
    : D_CBaseFilter(name, &filter_lock_, clsid) {}

D_CTransformFilter::~D_CTransformFilter() {
  delete input_;
  delete output_;
}

D_CBasePin* D_CTransformFilter::GetPin(int n) {
  if (input_ == nullptr) {
    HResult r = kS_OK;
    input_ = new (std::nothrow) D_CTransformInputPin("transform input", this, &r, u"XForm In");
    if (input_ == nullptr) return nullptr;
    output_ = new (std::nothrow) D_CTransformOutputPin("transform output", this, &r, u"XForm Out");
    if (output_ == nullptr) {
      delete input_;
      input_ = nullptr;
      return nullptr;
    }
  }
  if (n == 0) return input_;
  if (n == 1) return output_;
  return nullptr;
}

HResult D_CTransformFilter::Stop() {
  filter_lock_.Enter();
  if (state_.load() == FilterState::kStopped) {
    filter_lock_.Leave();
    return kS_OK;
  }
  state_ = FilterState::kStopped;
  if (input_ == nullptr || !input_->IsConnected() || output_ == nullptr || !output_->IsConnected()) {
    streaming_ = false;
    filter_lock_.Leave();
    return kS_OK;
  }
  // The output allocator is released first so that a sample waiting for a
  // buffer gives up; then the streaming lock waits for it to leave.
  input_->Inactive();
  output_->Inactive();
  HResult r = kS_OK;
  {
    std::lock_guard<std::recursive_mutex> hold(receive_lock_);
    if (streaming_) r = StopStreaming();
    streaming_ = false;
  }
  filter_lock_.Leave();
  return r;
}

HResult D_CTransformFilter::Pause() {
  filter_lock_.Enter();
  HResult r = kS_OK;
  if (state_.load() == FilterState::kStopped && input_ != nullptr && input_->IsConnected() && output_ != nullptr &&
      output_->IsConnected()) {
    std::lock_guard<std::recursive_mutex> hold(receive_lock_);
    r = StartStreaming();
    streaming_ = Succeeded(r);
  }
  if (Succeeded(r)) r = D_CBaseFilter::Pause();
  filter_lock_.Leave();
  return r;
}

HResult D_CTransformFilter::InitializeOutputSample(IMediaSample* in, IMediaSample** out) {
  *out = nullptr;
  IMediaSample* sample = nullptr;
  HResult r = output_->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
  if (Failed(r)) return r;
  ReferenceTime start, stop;
  HResult t = in->GetTime(&start, &stop);
  if (t == kS_OK) sample->SetTime(&start, &stop);
  else if (t == kVFW_S_NO_MORE_ITEMS) sample->SetTime(&start, nullptr);
  int64_t mstart, mstop;
  if (in->GetMediaTime(&mstart, &mstop) == kS_OK) sample->SetMediaTime(&mstart, &mstop);
  sample->SetSyncPoint(in->IsSyncPoint() == kS_OK);
  sample->SetDiscontinuity(in->IsDiscontinuity() == kS_OK);
  sample->SetPreroll(in->IsPreroll() == kS_OK);
  *out = sample;
  return kS_OK;
}

HResult D_CTransformFilter::Receive(IMediaSample* sample) {
  std::lock_guard<std::recursive_mutex> hold(receive_lock_);
  // A sample that passed the pin's check as the filter stopped waited here
  // for the stop to finish: it belongs to the run that ended.
  if (!streaming_) return kVFW_E_WRONG_STATE;
  IMediaSample* out = nullptr;
  HResult r = InitializeOutputSample(sample, &out);
  if (Failed(r)) return r;
  r = Transform(sample, out);
  if (r == kS_OK) {
    r = output_->Deliver(out);
  } else if (r == kS_FALSE) {
    r = kS_OK;  // the transform chose to drop the sample
  } else if (Failed(r)) {
    NotifyEvent(kEC_ERRORABORT, r, 0);
  }
  out->Release();
  return r;
}

HResult D_CTransformFilter::EndOfStream() {
  return output_ != nullptr ? output_->DeliverEndOfStream() : kS_OK;
}

HResult D_CTransformFilter::BeginFlush() {
  return output_ != nullptr && output_->IsConnected() ? output_->DeliverBeginFlush() : kS_OK;
}

HResult D_CTransformFilter::EndFlush() {
  return output_ != nullptr && output_->IsConnected() ? output_->DeliverEndFlush() : kS_OK;
}

HResult D_CTransformFilter::NewSegment(ReferenceTime start, ReferenceTime stop, double rate) {
  return output_ != nullptr && output_->IsConnected() ? output_->DeliverNewSegment(start, stop, rate) : kS_OK;
}

// ---- In-place transform -----------------------------------------------------------------

D_CTransInPlaceInputPin::D_CTransInPlaceInputPin(const char* object_name, D_CTransInPlaceFilter* filter,
                                                 HResult* result, const char16_t* name)
    : D_CTransformInputPin(object_name, filter, result, name), in_place_(filter) {}

HResult D_CTransInPlaceInputPin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (types == nullptr) return kE_POINTER;
  D_CTransformOutputPin* out = in_place_->OutputPin();
  if (out != nullptr && out->IsConnected()) return out->GetConnected()->EnumMediaTypes(types);
  return D_CBasePin::EnumMediaTypes(types);
}

HResult D_CTransInPlaceInputPin::GetAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) return kE_POINTER;
  // With the output connected the samples can go on in the downstream
  // filter's buffers.
  D_CTransformOutputPin* out = in_place_->OutputPin();
  if (out != nullptr && out->InputPin() != nullptr) {
    HResult r = out->InputPin()->GetAllocator(allocator);
    if (Succeeded(r)) return r;
  }
  return D_CBaseInputPin::GetAllocator(allocator);
}

HResult D_CTransInPlaceInputPin::NotifyAllocator(IMemAllocator* allocator, int32_t read_only) {
  if (allocator == nullptr) return kE_POINTER;
  if (read_only && in_place_->ModifiesData()) return kE_FAIL;
  return D_CBaseInputPin::NotifyAllocator(allocator, read_only);
}

HResult D_CTransInPlaceInputPin::CheckMediaType(const D_CMediaType* type) {
  HResult r = transform_->CheckInputType(type);
  if (r != kS_OK) return r;
  D_CTransformOutputPin* out = in_place_->OutputPin();
  if (out != nullptr && out->IsConnected()) return out->GetConnected()->QueryAccept(type);
  return kS_OK;
}

D_CTransInPlaceOutputPin::D_CTransInPlaceOutputPin(const char* object_name, D_CTransInPlaceFilter* filter,
                                                   HResult* result, const char16_t* name)
    : D_CTransformOutputPin(object_name, filter, result, name), in_place_(filter) {}

HResult D_CTransInPlaceOutputPin::CheckMediaType(const D_CMediaType* type) {
  D_CTransformInputPin* in = in_place_->InputPin();
  if (in == nullptr || !in->IsConnected()) return kE_INVALIDARG;
  // The same type passes through.
  const D_CMediaType& current = in->CurrentMediaType();
  if (type->majortype == current.majortype && type->subtype == current.subtype &&
      type->formattype == current.formattype && type->format == current.format)
    return kS_OK;
  return kS_FALSE;
}

HResult D_CTransInPlaceOutputPin::GetMediaType(int position, D_CMediaType* type) {
  D_CTransformInputPin* in = in_place_->InputPin();
  if (in == nullptr || !in->IsConnected()) return kE_UNEXPECTED;
  if (position < 0) return kE_INVALIDARG;
  if (position > 0) return kVFW_S_NO_MORE_ITEMS;
  *type = in->CurrentMediaType();
  return kS_OK;
}

HResult D_CTransInPlaceOutputPin::EnumMediaTypes(IEnumMediaTypes** types) {
  return D_CBasePin::EnumMediaTypes(types);
}

HResult D_CTransInPlaceOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  // The input's allocator is offered first, so that samples pass unchanged.
  D_CTransformInputPin* in = in_place_->InputPin();
  IMemAllocator* upstream = in != nullptr ? in->PinAllocator() : nullptr;
  if (upstream != nullptr && Succeeded(pin->NotifyAllocator(upstream, in_place_->ModifiesData() ? 0 : 0))) {
    *allocator = upstream;
    upstream->AddRef();
    return kS_OK;
  }
  return D_CBaseOutputPin::DecideAllocator(pin, allocator);
}

D_CTransInPlaceFilter::D_CTransInPlaceFilter(const char* name, const Guid& clsid, HResult*, bool modifies_data)
    : D_CTransformFilter(name, clsid), modifies_data_(modifies_data) {}

D_CBasePin* D_CTransInPlaceFilter::GetPin(int n) {
  if (input_ == nullptr) {
    HResult r = kS_OK;
    input_ = new (std::nothrow) D_CTransInPlaceInputPin("in-place input", this, &r, u"Input");
    if (input_ == nullptr) return nullptr;
  }
  if (output_ == nullptr) {
    HResult r = kS_OK;
    output_ = new (std::nothrow) D_CTransInPlaceOutputPin("in-place output", this, &r, u"Output");
    if (output_ == nullptr) return nullptr;
  }
  if (n == 0) return input_;
  if (n == 1) return output_;
  return nullptr;
}

HResult D_CTransInPlaceFilter::DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* props) {
  // An allocator of its own matches the input's buffers.
  AllocatorProperties want{1, 1, 1, 0};
  IMemAllocator* upstream = input_ != nullptr ? input_->PinAllocator() : nullptr;
  if (upstream != nullptr) upstream->GetProperties(&want);
  if (props != nullptr) {
    if (props->cBuffers > want.cBuffers) want.cBuffers = props->cBuffers;
    if (props->cbBuffer > want.cbBuffer) want.cbBuffer = props->cbBuffer;
  }
  if (want.cBuffers <= 0) want.cBuffers = 1;
  if (want.cbBuffer <= 0) want.cbBuffer = 1;
  if (want.cbAlign <= 0) want.cbAlign = 1;
  AllocatorProperties actual{};
  HResult r = allocator->SetProperties(&want, &actual);
  if (Failed(r)) return r;
  return actual.cbBuffer < want.cbBuffer ? kE_FAIL : kS_OK;
}

bool D_CTransInPlaceFilter::UsingDifferentAllocators() const {
  if (input_ == nullptr || output_ == nullptr) return false;
  return input_->PinAllocator() != output_->Allocator();
}

IMediaSample* D_CTransInPlaceFilter::Copy(IMediaSample* source) {
  IMediaSample* out = nullptr;
  if (Failed(InitializeOutputSample(source, &out))) return nullptr;
  uint8_t* from = nullptr;
  uint8_t* to = nullptr;
  source->GetPointer(&from);
  out->GetPointer(&to);
  const int32_t n = source->GetActualDataLength();
  if (n > out->GetSize()) {
    out->Release();
    return nullptr;
  }
  std::memcpy(to, from, static_cast<size_t>(n));
  out->SetActualDataLength(n);
  D_CMediaType* type = nullptr;
  if (source->GetMediaType(&type) == kS_OK && type != nullptr) {
    out->SetMediaType(type);
    delete type;
  }
  return out;
}

HResult D_CTransInPlaceFilter::Receive(IMediaSample* sample) {
  std::lock_guard<std::recursive_mutex> hold(receive_lock_);
  if (!streaming_) return kVFW_E_WRONG_STATE;  // as in D_CTransformFilter::Receive
  IMediaSample* work = sample;
  if (UsingDifferentAllocators()) {
    work = Copy(sample);
    if (work == nullptr) return kE_UNEXPECTED;
  }
  HResult r = Transform(work);
  if (r == kS_OK) r = output_->Deliver(work);
  else if (r == kS_FALSE) r = kS_OK;
  if (work != sample) work->Release();
  return r;
}

}  // namespace plat
