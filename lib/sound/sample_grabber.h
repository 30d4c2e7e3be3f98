// lib/sound/sample_grabber.h - the sample grabber: an in-place transform
// filter that accepts one media type (so graph building puts it where that
// type flows), hands every sample to a callback and passes it on unless the
// callback says otherwise; a caller-owned delivery buffer can be imposed on
// the upstream filter through a private allocator.
#pragma once

#include "platform/media/base_classes.h"

// S_OK passes the sample on, another success keeps it back, a failure fails
// its delivery.
using SampleGrabberCallback = plat::HResult (*)(plat::IMediaSample* sample, plat::ReferenceTime* start,
                                                plat::ReferenceTime* stop, int32_t media_type_changed,
                                                void* context);

constexpr plat::Guid kIID_IGrabberControl = {0x6B652FFF, 0x11FE, 0x4FCE, {0x92, 0xAD, 0x02, 0x66, 0xB5, 0xD7, 0xC7, 0x8F}};
constexpr plat::Guid kCLSID_SampleGrabber = {0x2FA4F053, 0x6D60, 0x4CB0, {0x95, 0x03, 0x8E, 0x89, 0x23, 0x4F, 0x3F, 0x73}};

struct D_IGrabberControl : plat::IUnknown {
  virtual plat::HResult SetAcceptedMediaType(const plat::D_CMediaType* type) = 0;
  virtual plat::HResult GetConnectedMediaType(plat::D_CMediaType* type) = 0;
  virtual plat::HResult SetCallback(SampleGrabberCallback callback, void* context) = 0;
  virtual plat::HResult SetDeliveryBuffer(plat::AllocatorProperties props, uint8_t* buffer) = 0;
};

class SampleGrabberInputPin;

class SampleGrabberAllocator : public plat::D_CMemAllocator {
 public:
  SampleGrabberAllocator(SampleGrabberInputPin* pin, plat::HResult* result);
  ~SampleGrabberAllocator() override;
  plat::HResult SetProperties(const plat::AllocatorProperties* request, plat::AllocatorProperties* actual) override;

 protected:
  plat::HResult Alloc() override;
  void ReallyFree() override;

 private:
  SampleGrabberInputPin* pin_;
};

class D_CSampleGrabber;

class SampleGrabberInputPin : public plat::D_CTransInPlaceInputPin {
 public:
  SampleGrabberInputPin(D_CSampleGrabber* filter, plat::HResult* result);
  ~SampleGrabberInputPin() override;

  plat::HResult SetMediaType(const plat::D_CMediaType* type) override;
  plat::HResult GetMediaType(int position, plat::D_CMediaType* type) override;
  plat::HResult EnumMediaTypes(plat::IEnumMediaTypes** types) override;
  plat::HResult GetAllocator(plat::IMemAllocator** allocator) override;
  plat::HResult NotifyAllocator(plat::IMemAllocator* allocator, int32_t read_only) override;
  plat::HResult GetAllocatorRequirements(plat::AllocatorProperties* props) override;

  plat::HResult SetDeliveryBuffer(plat::AllocatorProperties props, uint8_t* buffer);
  // Returns the flag and clears it.
  int32_t TakeMediaTypeChanged();
  const plat::AllocatorProperties& Properties() const { return props_; }
  uint8_t* DeliveryBuffer() const { return buffer_; }

 private:
  D_CSampleGrabber* grabber_;
  SampleGrabberAllocator* private_allocator_ = nullptr;
  plat::AllocatorProperties props_{};
  uint8_t* buffer_ = nullptr;
  std::atomic<int32_t> media_type_changed_{0};
};

class D_CSampleGrabber : public plat::D_CTransInPlaceFilter, public D_IGrabberControl {
 public:
  D_CSampleGrabber(plat::IUnknown* outer, plat::HResult* result, bool modifies_data);
  ~D_CSampleGrabber() override;

  plat::HResult QueryInterface(const plat::Guid& iid, void** out) override { return NonDelegatingQueryInterface(iid, out); }
  uint32_t AddRef() override { return NonDelegatingAddRef(); }
  uint32_t Release() override { return NonDelegatingRelease(); }
  plat::HResult NonDelegatingQueryInterface(const plat::Guid& iid, void** out) override;

  plat::HResult CheckInputType(const plat::D_CMediaType* type) override;
  plat::HResult Receive(plat::IMediaSample* sample) override;
  plat::HResult Transform(plat::IMediaSample* sample) override;

  plat::HResult SetAcceptedMediaType(const plat::D_CMediaType* type) override;
  plat::HResult GetConnectedMediaType(plat::D_CMediaType* type) override;
  plat::HResult SetCallback(SampleGrabberCallback callback, void* context) override;
  plat::HResult SetDeliveryBuffer(plat::AllocatorProperties props, uint8_t* buffer) override;

  plat::D_CMediaType AcceptedType();

 private:
  plat::D_CMediaType accepted_;
  SampleGrabberCallback callback_ = nullptr;
  std::recursive_mutex lock_;
  void* context_ = nullptr;
};

// A new grabber (no reference yet), or null and E_OUTOFMEMORY. A grabber
// whose construction failed is not returned.
D_CSampleGrabber* CreateSampleGrabberFilter(plat::IUnknown* outer, plat::HResult* result);
