// lib/sound/sample_grabber.cpp - the sample grabber filter, its input pin and
// its private allocator over a caller-owned delivery buffer.
#include "lib/sound/sample_grabber.h"

#include <new>

using namespace plat;

// ---- Private allocator ---------------------------------------------------------------

SampleGrabberAllocator::SampleGrabberAllocator(SampleGrabberInputPin* pin, HResult* result)
    : D_CMemAllocator("SampleGrabberAllocator", result), pin_(pin) {}

SampleGrabberAllocator::~SampleGrabberAllocator() {
  // The delivery buffer is the caller's: only the samples go.
  std::lock_guard<std::recursive_mutex> hold(lock_);
  DeleteFreeSamples();
}

HResult SampleGrabberAllocator::SetProperties(const AllocatorProperties* request, AllocatorProperties* actual) {
  HResult r = D_CMemAllocator::SetProperties(request, actual);
  if (Failed(r)) return r;
  const AllocatorProperties& mine = pin_->Properties();
  if (request->cbAlign != mine.cbAlign) return kVFW_E_BADALIGN;
  if (request->cbPrefix != mine.cbPrefix || request->cbBuffer > mine.cbBuffer || request->cBuffers > mine.cBuffers)
    return kE_FAIL;
  *actual = mine;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  count_ = mine.cBuffers;
  size_ = mine.cbBuffer;
  alignment_ = mine.cbAlign;
  prefix_ = mine.cbPrefix;
  return kS_OK;
}

HResult SampleGrabberAllocator::Alloc() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  HResult r = CheckAlloc();
  if (Failed(r)) return r;
  if (r == kS_FALSE) return kS_OK;
  ReallyFree();
  int64_t stride = static_cast<int64_t>(size_) + prefix_;
  if (alignment_ > 1) stride = (stride + alignment_ - 1) / alignment_ * alignment_;
  uint8_t* memory = pin_->DeliveryBuffer();
  if (memory == nullptr) return kE_OUTOFMEMORY;
  for (int32_t i = 0; i < count_; ++i) {
    auto* sample = new (std::nothrow) D_CMediaSample("grabber sample", this, nullptr, memory + prefix_ + i * stride, size_);
    if (sample == nullptr) return kE_OUTOFMEMORY;
    AddFreeSample(sample);
  }
  changed_ = false;
  return kS_OK;
}

void SampleGrabberAllocator::ReallyFree() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  DeleteFreeSamples();
}

// ---- Input pin ------------------------------------------------------------------------

SampleGrabberInputPin::SampleGrabberInputPin(D_CSampleGrabber* filter, HResult* result)
    : D_CTransInPlaceInputPin("SampleGrabberInputPin", filter, result, u"Input"), grabber_(filter) {}

SampleGrabberInputPin::~SampleGrabberInputPin() {
  if (private_allocator_ != nullptr) {
    // Whatever holds it, the allocator goes with the pin.
    private_allocator_->Release();
    private_allocator_ = nullptr;
  }
}

HResult SampleGrabberInputPin::SetMediaType(const D_CMediaType* type) {
  media_type_changed_ = 1;
  return D_CTransInPlaceInputPin::SetMediaType(type);
}

int32_t SampleGrabberInputPin::TakeMediaTypeChanged() { return media_type_changed_.exchange(0); }

HResult SampleGrabberInputPin::GetMediaType(int position, D_CMediaType* type) {
  if (type == nullptr) return kE_POINTER;
  if (position < 0) return kE_INVALIDARG;
  if (position > 0) return kVFW_S_NO_MORE_ITEMS;
  type->Clear();
  type->majortype = grabber_->AcceptedType().majortype;
  return kS_OK;
}

HResult SampleGrabberInputPin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (types == nullptr) return kE_POINTER;
  D_CTransformOutputPin* out = grabber_->OutputPin();
  if (out != nullptr && out->IsConnected()) return out->GetConnected()->EnumMediaTypes(types);
  return D_CBasePin::EnumMediaTypes(types);
}

HResult SampleGrabberInputPin::GetAllocator(IMemAllocator** allocator) {
  if (private_allocator_ != nullptr) {
    if (allocator == nullptr) return kE_POINTER;
    *allocator = private_allocator_;
    private_allocator_->AddRef();
    return kS_OK;
  }
  return D_CTransInPlaceInputPin::GetAllocator(allocator);
}

HResult SampleGrabberInputPin::NotifyAllocator(IMemAllocator* allocator, int32_t read_only) {
  if (private_allocator_ != nullptr) {
    if (allocator != private_allocator_) return kE_FAIL;
    if (read_only && grabber_->ModifiesData()) return kE_FAIL;
  }
  return D_CTransInPlaceInputPin::NotifyAllocator(allocator, read_only);
}

HResult SampleGrabberInputPin::GetAllocatorRequirements(AllocatorProperties* props) {
  if (props == nullptr) return kE_POINTER;
  if (private_allocator_ != nullptr) {
    *props = props_;
    return kS_OK;
  }
  return D_CTransInPlaceInputPin::GetAllocatorRequirements(props);
}

HResult SampleGrabberInputPin::SetDeliveryBuffer(AllocatorProperties props, uint8_t* buffer) {
  if (props.cBuffers != 1) return kE_INVALIDARG;
  if (buffer == nullptr) return kE_POINTER;
  buffer_ = buffer;
  props_ = props;
  if (private_allocator_ != nullptr) {
    private_allocator_->Release();
    private_allocator_ = nullptr;
  }
  HResult r = kS_OK;
  private_allocator_ = new (std::nothrow) SampleGrabberAllocator(this, &r);
  if (private_allocator_ == nullptr) return kE_OUTOFMEMORY;
  private_allocator_->AddRef();
  return r;
}

// ---- Filter ------------------------------------------------------------------------------

D_CSampleGrabber::D_CSampleGrabber(IUnknown*, HResult* result, bool modifies_data)
    : D_CTransInPlaceFilter("SampleGrabber", kCLSID_SampleGrabber, result, modifies_data) {
  input_ = new (std::nothrow) SampleGrabberInputPin(this, result);
  if (input_ == nullptr) {
    *result = kE_OUTOFMEMORY;
    return;
  }
  if (GetPin(1) == nullptr) *result = kE_OUTOFMEMORY;
}

D_CSampleGrabber::~D_CSampleGrabber() = default;

HResult D_CSampleGrabber::NonDelegatingQueryInterface(const Guid& iid, void** out) {
  if (out == nullptr) return kE_POINTER;
  if (iid == kIID_IGrabberControl) return GetInterface(static_cast<D_IGrabberControl*>(this), out);
  return D_CTransInPlaceFilter::NonDelegatingQueryInterface(iid, out);
}

D_CMediaType D_CSampleGrabber::AcceptedType() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return accepted_;
}

HResult D_CSampleGrabber::CheckInputType(const D_CMediaType* type) {
  if (type == nullptr) return kE_POINTER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (!(accepted_.majortype == kGUID_NULL) && !(accepted_.majortype == type->majortype)) return kVFW_E_INVALID_MEDIA_TYPE;
  if (!(accepted_.subtype == kGUID_NULL) && !(accepted_.subtype == type->subtype)) return kVFW_E_INVALID_MEDIA_TYPE;
  if (!(accepted_.formattype == kGUID_NULL) && !(accepted_.formattype == type->formattype))
    return kVFW_E_INVALID_MEDIA_TYPE;
  return kS_OK;
}

HResult D_CSampleGrabber::Transform(IMediaSample* sample) {
  if (sample == nullptr) return kE_POINTER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (callback_ == nullptr) return kS_OK;
  ReferenceTime start = 0, stop = 0;
  sample->GetTime(&start, &stop);
  const ReferenceTime segment = input_->CurrentStartTime();
  start += segment;
  stop += segment;
  auto* pin = static_cast<SampleGrabberInputPin*>(input_);
  return callback_(sample, &start, &stop, pin->TakeMediaTypeChanged(), context_);
}

HResult D_CSampleGrabber::Receive(IMediaSample* sample) {
  if (sample == nullptr) return kE_POINTER;
  std::lock_guard<std::recursive_mutex> hold(receive_lock_);
  IMediaSample* work = sample;
  if (UsingDifferentAllocators()) {
    work = Copy(sample);
    if (work == nullptr) return kE_UNEXPECTED;
  }
  HResult r = Transform(work);
  if (Failed(r)) {
    if (work != sample) work->Release();
    return r;
  }
  if (r == kS_OK) r = output_->Deliver(work);
  if (work != sample) work->Release();
  return r;
}

HResult D_CSampleGrabber::SetAcceptedMediaType(const D_CMediaType* type) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (type == nullptr) accepted_.Clear();
  else accepted_ = *type;
  return kS_OK;
}

HResult D_CSampleGrabber::GetConnectedMediaType(D_CMediaType* type) {
  if (input_ == nullptr || !input_->IsConnected()) return kVFW_E_NOT_CONNECTED;
  return input_->ConnectionMediaType(type);
}

HResult D_CSampleGrabber::SetCallback(SampleGrabberCallback callback, void* context) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  callback_ = callback;
  context_ = context;
  return kS_OK;
}

HResult D_CSampleGrabber::SetDeliveryBuffer(AllocatorProperties props, uint8_t* buffer) {
  if (input_ == nullptr || output_ == nullptr) return kE_POINTER;
  if (input_->IsConnected() || output_->IsConnected()) return kE_INVALIDARG;
  return static_cast<SampleGrabberInputPin*>(input_)->SetDeliveryBuffer(props, buffer);
}

D_CSampleGrabber* CreateSampleGrabberFilter(IUnknown* outer, HResult* result) {
  HResult r = kS_OK;
  auto* grabber = new (std::nothrow) D_CSampleGrabber(outer, &r, false);
  if (grabber == nullptr) r = kE_OUTOFMEMORY;
  else if (Failed(r)) {
    // A grabber without its pins is of no use to anyone.
    delete grabber;
    grabber = nullptr;
  }
  if (result != nullptr) *result = r;
  return grabber;
}
