// platform/media/base_unknown.cpp - reference counting, the media type
// record, samples and the memory allocator.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/media/base_classes.h"

namespace plat {

void D_CMediaType::SetFormat(const void* data, size_t size) {
  format.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
}

bool D_CMediaType::MatchesPartial(const D_CMediaType& other) const {
  if (!(majortype == kGUID_NULL) && !(majortype == other.majortype)) return false;
  if (!(subtype == kGUID_NULL) && !(subtype == other.subtype)) return false;
  if (!(formattype == kGUID_NULL) && !(formattype == other.formattype)) return false;
  return true;
}

D_CMediaType Pcm16MediaType(uint32_t rate, int channels) {
  D_CMediaType type;
  type.majortype = kMEDIATYPE_Audio;
  type.subtype = kMEDIASUBTYPE_PCM;
  type.formattype = kFORMAT_WaveFormatEx;
  WaveFormatEx w{};
  w.format_tag = kWaveFormatPcm;
  w.channels = static_cast<uint16_t>(channels);
  w.samples_per_sec = rate;
  w.block_align = static_cast<uint16_t>(channels * 2);
  w.avg_bytes_per_sec = rate * w.block_align;
  w.bits_per_sample = 16;
  type.lSampleSize = w.block_align;
  type.SetFormat(&w, sizeof(w));
  return type;
}

HResult D_CUnknown::NonDelegatingQueryInterface(const Guid&, void** out) {
  if (out == nullptr) return kE_POINTER;
  *out = nullptr;
  return kE_NOINTERFACE;
}

uint32_t D_CUnknown::NonDelegatingRelease() {
  const int32_t left = --references_;
  if (left == 0) {
    // Guards against a second deletion from releases made by the destructor.
    references_ = 1;
    delete this;
    return 0;
  }
  return static_cast<uint32_t>(left);
}

HResult GetInterface(IUnknown* face, void** out) {
  if (out == nullptr) return kE_POINTER;
  *out = face;
  face->AddRef();
  return kS_OK;
}

// ---- Samples -------------------------------------------------------------------

D_CMediaSample::D_CMediaSample(const char*, D_CMemAllocator* allocator, HResult* result, uint8_t* buffer,
                               int32_t length)
    : allocator_(allocator), buffer_(buffer), length_(length) {
  if (result != nullptr && allocator == nullptr) *result = kE_POINTER;
}

HResult D_CMediaSample::QueryInterface(const Guid& iid, void** out) {
  if (out == nullptr) return kE_POINTER;
  if (iid == kIID_IUnknown || iid == kIID_IMediaSample) return GetInterface(this, out);
  *out = nullptr;
  return kE_NOINTERFACE;
}

uint32_t D_CMediaSample::AddRef() { return static_cast<uint32_t>(++references_); }

uint32_t D_CMediaSample::Release() {
  const int32_t left = --references_;
  if (left == 0) {
    D_CMemAllocator* allocator = allocator_;
    allocator->ReleaseBuffer(this);
    // The allocator was held for as long as the sample was out.
    allocator->Release();
  }
  return static_cast<uint32_t>(left < 0 ? 0 : left);
}

HResult D_CMediaSample::GetPointer(uint8_t** buffer) {
  if (buffer == nullptr) return kE_POINTER;
  *buffer = buffer_;
  return kS_OK;
}

HResult D_CMediaSample::GetTime(ReferenceTime* start, ReferenceTime* stop) {
  if (start == nullptr || stop == nullptr) return kE_POINTER;
  if (!times_valid_) return kVFW_E_SAMPLE_TIME_NOT_SET;
  *start = start_;
  *stop = stop_valid_ ? stop_ : start_ + 1;
  return stop_valid_ ? kS_OK : kVFW_S_NO_MORE_ITEMS;
}

HResult D_CMediaSample::SetTime(const ReferenceTime* start, const ReferenceTime* stop) {
  times_valid_ = start != nullptr;
  stop_valid_ = start != nullptr && stop != nullptr;
  if (start != nullptr) start_ = *start;
  if (stop != nullptr) stop_ = *stop;
  return kS_OK;
}

HResult D_CMediaSample::SetActualDataLength(int32_t length) {
  if (length < 0 || length > length_) return kE_INVALIDARG;
  actual_ = length;
  return kS_OK;
}

HResult D_CMediaSample::GetMediaType(D_CMediaType** type) {
  if (type == nullptr) return kE_POINTER;
  if (!type_) {
    *type = nullptr;
    return kS_FALSE;
  }
  *type = new D_CMediaType(*type_);
  return kS_OK;
}

HResult D_CMediaSample::SetMediaType(const D_CMediaType* type) {
  if (type == nullptr) type_.reset();
  else type_ = std::make_unique<D_CMediaType>(*type);
  return kS_OK;
}

HResult D_CMediaSample::GetMediaTime(int64_t* start, int64_t* stop) {
  if (start == nullptr || stop == nullptr) return kE_POINTER;
  if (!media_times_valid_) return kVFW_E_SAMPLE_TIME_NOT_SET;
  *start = media_start_;
  *stop = media_stop_;
  return kS_OK;
}

HResult D_CMediaSample::SetMediaTime(const int64_t* start, const int64_t* stop) {
  media_times_valid_ = start != nullptr && stop != nullptr;
  if (media_times_valid_) {
    media_start_ = *start;
    media_stop_ = *stop;
  }
  return kS_OK;
}

void D_CMediaSample::ResetProperties() {
  actual_ = 0;
  times_valid_ = stop_valid_ = media_times_valid_ = false;
  sync_ = preroll_ = discontinuity_ = false;
  type_.reset();
}

// ---- Allocator -----------------------------------------------------------------

D_CMemAllocator::D_CMemAllocator(const char* name, HResult*) : D_CUnknown(name) {}

D_CMemAllocator::~D_CMemAllocator() {
  // Every sample is back when the last reference goes (a sample out holds
  // one).
  DeleteFreeSamples();
  std::free(memory_);
}

HResult D_CMemAllocator::NonDelegatingQueryInterface(const Guid& iid, void** out) {
  if (out == nullptr) return kE_POINTER;
  if (iid == kIID_IUnknown || iid == kIID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), out);
  return D_CUnknown::NonDelegatingQueryInterface(iid, out);
}

HResult D_CMemAllocator::SetProperties(const AllocatorProperties* request, AllocatorProperties* actual) {
  if (request == nullptr || actual == nullptr) return kE_POINTER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (committed_) return kVFW_E_WRONG_STATE;
  if (allocated_ != static_cast<int32_t>(free_.size())) return kVFW_E_WRONG_STATE;  // samples still out
  const int32_t align = request->cbAlign;
  if (align <= 0 || (align & (align - 1)) != 0) return kVFW_E_BADALIGN;
  if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return kE_INVALIDARG;
  if (static_cast<int64_t>(request->cBuffers) * (static_cast<int64_t>(request->cbBuffer) + request->cbPrefix + align) >
      (int64_t{1} << 31))
    return kE_OUTOFMEMORY;
  count_ = request->cBuffers;
  size_ = request->cbBuffer;
  alignment_ = align;
  prefix_ = request->cbPrefix;
  changed_ = true;
  *actual = {count_, size_, alignment_, prefix_};
  return kS_OK;
}

HResult D_CMemAllocator::GetProperties(AllocatorProperties* props) {
  if (props == nullptr) return kE_POINTER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  *props = {count_, size_, alignment_, prefix_};
  return kS_OK;
}

HResult D_CMemAllocator::CheckAlloc() {
  if (count_ <= 0 || size_ <= 0) return kVFW_E_NOT_COMMITTED;
  if (allocated_ > 0 && !changed_) return kS_FALSE;
  return kS_OK;
}

void D_CMemAllocator::AddFreeSample(D_CMediaSample* sample) {
  free_.push_back(sample);
  ++allocated_;
}

void D_CMemAllocator::DeleteFreeSamples() {
  for (D_CMediaSample* s : free_) delete s;
  free_.clear();
  allocated_ = 0;
}

namespace {

// Bytes after each sample's buffer that no one may write: a filter (or a
// library it calls) that writes past its buffer is seen when the sample
// comes back, not later as damage to the heap.
constexpr int64_t kSampleGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;
std::atomic<int> g_sample_overruns{0};

}  // namespace

int MediaSampleOverruns() { return g_sample_overruns.load(); }

HResult D_CMemAllocator::Alloc() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  HResult r = CheckAlloc();
  if (Failed(r)) return r;
  if (r == kS_FALSE) return kS_OK;
  ReallyFree();
  int64_t stride = static_cast<int64_t>(size_) + prefix_ + kSampleGuard;
  if (alignment_ > 1) stride = (stride + alignment_ - 1) / alignment_ * alignment_;
  memory_ = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(stride * count_ + alignment_)));
  if (memory_ == nullptr) return kE_OUTOFMEMORY;
  for (int32_t i = 0; i < count_; ++i) {
    uint8_t* buffer = memory_ + prefix_ + i * stride;
    std::memset(buffer + size_, kGuardByte, kSampleGuard);
    auto* sample = new (std::nothrow) D_CMediaSample("sample", this, nullptr, buffer, size_);
    if (sample == nullptr) return kE_OUTOFMEMORY;
    AddFreeSample(sample);
  }
  guarded_ = true;
  changed_ = false;
  return kS_OK;
}

void D_CMemAllocator::CheckGuard(D_CMediaSample* sample) {
  if (!guarded_) return;
  uint8_t* guard = sample->buffer_ + sample->length_;
  for (int64_t i = 0; i < kSampleGuard; ++i) {
    if (guard[i] == kGuardByte) continue;
    g_sample_overruns.fetch_add(1);
    OutputDebugString("media: a sample's buffer was written past its end\n");
    std::memset(guard, kGuardByte, kSampleGuard);
    return;
  }
}

void D_CMemAllocator::ReallyFree() {
  guarded_ = false;
  DeleteFreeSamples();
  std::free(memory_);
  memory_ = nullptr;
}

HResult D_CMemAllocator::Commit() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (committed_) return kS_OK;
  if (count_ <= 0 || size_ <= 0) return kVFW_E_NOT_COMMITTED;
  decommit_pending_ = false;
  if (allocated_ != static_cast<int32_t>(free_.size())) {
    // Samples of the last run are still out: keep what exists.
    committed_ = true;
    return kS_OK;
  }
  HResult r = Alloc();
  if (Failed(r)) {
    ReallyFree();
    return r;
  }
  committed_ = true;
  return kS_OK;
}

HResult D_CMemAllocator::Decommit() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (!committed_) return kS_OK;
  committed_ = false;
  if (allocated_ == static_cast<int32_t>(free_.size())) {
    ReallyFree();
  } else {
    decommit_pending_ = true;
  }
  free_available_.notify_all();
  return kS_OK;
}

HResult D_CMemAllocator::GetBuffer(IMediaSample** sample, ReferenceTime*, ReferenceTime*, uint32_t flags) {
  if (sample == nullptr) return kE_POINTER;
  *sample = nullptr;
  D_CMediaSample* got = nullptr;
  {
    std::unique_lock<std::recursive_mutex> hold(lock_);
    for (;;) {
      if (!committed_) return kVFW_E_NOT_COMMITTED;
      if (!free_.empty()) break;
      if (flags & kAM_GBF_NOWAIT) return kVFW_E_TIMEOUT;
      free_available_.wait(hold);
    }
    got = free_.back();
    free_.pop_back();
    got->ResetProperties();
    got->references_ = 1;
  }
  NonDelegatingAddRef();
  *sample = got;
  return kS_OK;
}

HResult D_CMemAllocator::ReleaseBuffer(IMediaSample* sample) {
  if (sample == nullptr) return kE_POINTER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto* s = static_cast<D_CMediaSample*>(sample);
  CheckGuard(s);
  s->ResetProperties();
  free_.push_back(s);
  if (decommit_pending_ && allocated_ == static_cast<int32_t>(free_.size())) {
    decommit_pending_ = false;
    ReallyFree();
  }
  free_available_.notify_all();
  return kS_OK;
}

}  // namespace plat
