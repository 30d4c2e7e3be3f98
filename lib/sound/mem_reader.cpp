// lib/sound/mem_reader.cpp - the memory stream, the request queue and its
// worker thread, and the async reader filter with its output pin.
#include "lib/sound/mem_reader.h"

#include <cstring>
#include <new>

using namespace plat;

// ---- Memory stream -------------------------------------------------------------------

D_CMemStream::D_CMemStream(const uint8_t* data, int64_t length, uint32_t rate)
    : data_(data), length_(length), rate_(rate), start_time_(TimeGetTime()) {}

HResult D_CMemStream::SetPointer(int64_t position) {
  if (position < 0 || position > length_) return kS_FALSE;
  position_ = position;
  return kS_OK;
}

HResult D_CMemStream::Read(uint8_t* buffer, uint32_t bytes, int32_t, uint32_t* bytes_read) {
  lock_.Enter();
  const uint32_t now = TimeGetTime();
  int64_t n = bytes;
  if (position_ + n > length_) n = length_ - position_;
  if (n < 0) n = 0;
  // The data up to the end of this read becomes readable at its due time.
  const uint32_t due = static_cast<uint32_t>(static_cast<uint32_t>(position_) + static_cast<uint32_t>(n)) / rate_;
  if (now - start_time_ < due) Sleep(start_time_ + due - now);
  if (n > 0) std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
  position_ += n;
  *bytes_read = static_cast<uint32_t>(n);
  lock_.Leave();
  return kS_OK;
}

int64_t D_CMemStream::Size(int64_t* available) {
  if (available != nullptr) {
    const uint64_t elapsed = static_cast<uint32_t>(TimeGetTime() - start_time_);
    const uint64_t readable = elapsed * rate_;
    *available = readable < static_cast<uint64_t>(length_) ? static_cast<int64_t>(readable) : length_;
  }
  return length_;
}

// ---- One request ------------------------------------------------------------------------

HResult D_CAsyncRequest::Complete() {
  stream->Lock();
  HResult r = stream->SetPointer(position);
  if (r == kS_OK) {
    uint32_t actual = 0;
    r = stream->Read(buffer, static_cast<uint32_t>(length), aligned, &actual);
    if (r == kOLE_S_FIRST && context != nullptr) {
      context->SetDiscontinuity(1);
      r = kS_OK;
    }
    if (Succeeded(r)) {
      if (static_cast<int32_t>(actual) != length) {
        length = static_cast<int32_t>(actual);
        r = kS_FALSE;
      } else {
        r = kS_OK;
      }
    }
  }
  stream->Unlock();
  return r;
}

// ---- Request queue -------------------------------------------------------------------------

D_CAsyncIo::D_CAsyncIo(D_CAsyncStream* stream) : stream_(stream) {}

D_CAsyncIo::~D_CAsyncIo() {
  BeginFlush();
  StopThread();
  std::lock_guard<std::mutex> hold(lock_);
  for (D_CAsyncRequest* r : done_) delete r;
  for (D_CAsyncRequest* r : work_) delete r;
  done_.clear();
  work_.clear();
}

bool D_CAsyncIo::IsAligned(int64_t value) const {
  const uint32_t a = stream_->Alignment();
  return a <= 1 || (static_cast<uint32_t>(value) & (a - 1)) == 0;
}

D_CAsyncRequest* D_CAsyncIo::TakeWork() {
  if (work_.empty()) return nullptr;
  D_CAsyncRequest* r = work_.front();
  work_.pop_front();
  if (work_.empty()) work_event_ = false;
  return r;
}

D_CAsyncRequest* D_CAsyncIo::TakeDone() {
  if (done_.empty()) return nullptr;
  D_CAsyncRequest* r = done_.front();
  done_.pop_front();
  if (done_.empty() && (!flushing_ || waiting_)) done_event_ = false;
  return r;
}

void D_CAsyncIo::PutDone(D_CAsyncRequest* r) {
  done_.push_back(r);
  done_event_ = true;
  changed_.notify_all();
}

HResult D_CAsyncIo::Request(int64_t position, int32_t length, int32_t aligned, uint8_t* buffer,
                            IMediaSample* context, uintptr_t user) {
  if (aligned && (!IsAligned(position) || !IsAligned(length) || !IsAligned(reinterpret_cast<uintptr_t>(buffer))))
    return kVFW_E_BADALIGN;
  auto* request = new (std::nothrow)
      D_CAsyncRequest{this, stream_, position, length, aligned, buffer, context, user, kVFW_E_TIMEOUT};
  if (request == nullptr) return kE_OUTOFMEMORY;
  std::unique_lock<std::mutex> hold(lock_);
  if (flushing_) {
    delete request;
    return kVFW_E_WRONG_STATE;
  }
  work_.push_back(request);
  work_event_ = true;
  changed_.notify_all();
  HResult r = StartThread();
  if (Failed(r)) {
    // Without a worker nobody would serve it: it is not queued.
    work_.pop_back();
    if (work_.empty()) work_event_ = false;
    delete request;
  }
  return r;
}

HResult D_CAsyncIo::WaitForNext(uint32_t timeout_ms, IMediaSample** context, uintptr_t* user, int32_t* actual) {
  if (context == nullptr || user == nullptr || actual == nullptr) return kE_POINTER;
  *context = nullptr;
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    if (!changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms), [&] { return done_event_; }))
      return kVFW_E_TIMEOUT;
    D_CAsyncRequest* request = TakeDone();
    if (request != nullptr) {
      HResult r = request->result;
      if (r == kS_FALSE) {
        // A short read is fine only when it ends exactly at the end.
        r = request->position + request->length == stream_->Size() ? kS_OK : kE_FAIL;
      }
      *actual = request->length;
      *context = request->context;
      *user = request->user;
      delete request;
      return r;
    }
    if (flushing_ && !waiting_) return kVFW_E_WRONG_STATE;
  }
}

HResult D_CAsyncIo::SyncReadAligned(int64_t position, int32_t length, uint8_t* buffer, int32_t* actual,
                                    IMediaSample* context) {
  if (actual == nullptr) return kE_POINTER;
  if (!IsAligned(position) || !IsAligned(length) || !IsAligned(reinterpret_cast<uintptr_t>(buffer)))
    return kVFW_E_BADALIGN;
  D_CAsyncRequest request{this, stream_, position, length, 1, buffer, context, 0, kVFW_E_TIMEOUT};
  HResult r = request.Complete();
  *actual = request.length;
  return r;
}

HResult D_CAsyncIo::SyncRead(int64_t position, int32_t length, uint8_t* buffer) {
  if (IsAligned(position) && IsAligned(length) && IsAligned(reinterpret_cast<uintptr_t>(buffer))) {
    int32_t actual = 0;
    return SyncReadAligned(position, length, buffer, &actual, nullptr);
  }
  D_CAsyncRequest request{this, stream_, position, length, 0, buffer, nullptr, 0, kVFW_E_TIMEOUT};
  return request.Complete();
}

HResult D_CAsyncIo::Length(int64_t* total, int64_t* available) {
  if (total == nullptr) return kE_POINTER;
  *total = stream_->Size(available);
  return kS_OK;
}

HResult D_CAsyncIo::Alignment(int32_t* alignment) {
  if (alignment == nullptr) return kE_POINTER;
  *alignment = static_cast<int32_t>(stream_->Alignment());
  return kS_OK;
}

HResult D_CAsyncIo::BeginFlush() {
  std::unique_lock<std::mutex> hold(lock_);
  flushing_ = true;
  while (!work_.empty()) {
    done_.push_back(work_.front());
    work_.pop_front();
  }
  work_event_ = false;
  if (items_out_ > 0) {
    waiting_ = true;
    changed_.wait(hold, [&] { return items_out_ == 0; });
    all_done_event_ = false;
    waiting_ = false;
  }
  done_event_ = true;
  changed_.notify_all();
  return kS_OK;
}

HResult D_CAsyncIo::EndFlush() {
  std::lock_guard<std::mutex> hold(lock_);
  flushing_ = false;
  done_event_ = !done_.empty();
  changed_.notify_all();
  return kS_OK;
}

HResult D_CAsyncIo::StartThread() {
  if (thread_ != nullptr) return kS_OK;
  stop_event_ = false;
  thread_ = CreateThread(&ThreadMain, this, nullptr);
  return thread_ != nullptr ? kS_OK : kE_FAIL;
}

void D_CAsyncIo::StopThread() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_event_ = true;
    changed_.notify_all();
  }
  if (thread_ != nullptr) {
    WaitThread(thread_, kInfinite);
    CloseThread(thread_);
    thread_ = nullptr;
  }
}

uint32_t D_CAsyncIo::ThreadMain(void* self) {
  auto* io = static_cast<D_CAsyncIo*>(self);
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(io->lock_);
      io->changed_.wait(hold, [&] { return io->stop_event_ || io->work_event_; });
      if (io->stop_event_) return 0;
    }
    io->ProcessRequests();
  }
}

void D_CAsyncIo::ProcessRequests() {
  for (;;) {
    D_CAsyncRequest* request;
    {
      std::lock_guard<std::mutex> hold(lock_);
      request = TakeWork();
      if (request == nullptr) return;
      ++items_out_;
    }
    request->result = request->Complete();
    std::lock_guard<std::mutex> hold(lock_);
    PutDone(request);
    if (--items_out_ == 0 && waiting_) {
      all_done_event_ = true;
      changed_.notify_all();
    }
  }
}

// ---- Output pin -------------------------------------------------------------------------------

D_CAsyncOutputPin::D_CAsyncOutputPin(HResult* result, D_CAsyncReader* reader, D_CAsyncIo* io, CriticalSection* lock)
    : D_CBasePin("Async output pin", reader, lock, result, u"Output", PinDirection::kOutput), io_(io), reader_(reader) {}

HResult D_CAsyncOutputPin::NonDelegatingQueryInterface(const Guid& iid, void** out) {
  if (out == nullptr) return kE_POINTER;
  if (iid == kIID_IAsyncReader) {
    queried_for_reader_ = true;
    return GetInterface(static_cast<IAsyncReader*>(this), out);
  }
  return D_CBasePin::NonDelegatingQueryInterface(iid, out);
}

HResult D_CAsyncOutputPin::Connect(IPin* receive_pin, const D_CMediaType* type) {
  return reader_->Connect(receive_pin, type);
}

HResult D_CAsyncOutputPin::CheckConnect(IPin* pin) {
  queried_for_reader_ = false;
  return D_CBasePin::CheckConnect(pin);
}

HResult D_CAsyncOutputPin::CompleteConnect(IPin* pin) {
  if (!queried_for_reader_) return kE_FAIL;
  return D_CBasePin::CompleteConnect(pin);
}

HResult D_CAsyncOutputPin::BreakConnect() {
  queried_for_reader_ = false;
  return D_CBasePin::BreakConnect();
}

HResult D_CAsyncOutputPin::CheckMediaType(const D_CMediaType* type) {
  lock_->Enter();
  const D_CMediaType* mine = reader_->MediaType();
  HResult r = type->majortype == mine->majortype && (mine->subtype == kGUID_NULL || mine->subtype == type->subtype)
                  ? kS_OK
                  : kS_FALSE;
  lock_->Leave();
  return r;
}

HResult D_CAsyncOutputPin::GetMediaType(int position, D_CMediaType* type) {
  if (position < 0) return kE_INVALIDARG;
  if (position > 0) return kVFW_S_NO_MORE_ITEMS;
  if (type == nullptr) return kE_POINTER;
  if (reader_ == nullptr) return kE_UNEXPECTED;
  *type = *reader_->MediaType();
  return kS_OK;
}

HResult D_CAsyncOutputPin::InitAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) return kE_POINTER;
  *allocator = nullptr;
  HResult r = kS_OK;
  auto* a = new (std::nothrow) D_CMemAllocator("Async allocator", &r);
  if (a == nullptr) return kE_OUTOFMEMORY;
  if (Failed(r)) {
    delete a;
    return r;
  }
  r = a->QueryInterface(kIID_IMemAllocator, reinterpret_cast<void**>(allocator));
  if (Failed(r)) {
    delete a;
    return kE_NOINTERFACE;
  }
  return kS_OK;
}

HResult D_CAsyncOutputPin::RequestAllocator(IMemAllocator* preferred, AllocatorProperties* props,
                                            IMemAllocator** actual) {
  if (props == nullptr || actual == nullptr) return kE_POINTER;
  if (props->cbAlign == 0 || !io_->IsAligned(props->cbAlign)) props->cbAlign = static_cast<int32_t>(io_->Stream()->Alignment());
  AllocatorProperties got{};
  if (preferred != nullptr) {
    HResult r = preferred->SetProperties(props, &got);
    if (Succeeded(r) && io_->IsAligned(got.cbAlign)) {
      preferred->AddRef();
      *actual = preferred;
      return kS_OK;
    }
  }
  IMemAllocator* own = nullptr;
  HResult r = InitAllocator(&own);
  if (Failed(r)) return r;
  r = own->SetProperties(props, &got);
  if (Succeeded(r) && io_->IsAligned(got.cbAlign)) {
    *actual = own;
    return kS_OK;
  }
  own->Release();
  return Failed(r) ? r : kVFW_E_BADALIGN;
}

HResult D_CAsyncOutputPin::SampleRange(IMediaSample* sample, int64_t* position, int32_t* length) {
  ReferenceTime start = 0, stop = 0;
  HResult r = sample->GetTime(&start, &stop);
  if (Failed(r)) return r;
  *position = start / kUnitsPerSecond;
  *length = static_cast<int32_t>((stop - start) / kUnitsPerSecond);
  int64_t total = 0, available = 0;
  Length(&total, &available);
  if (*position + *length > total) {
    const int64_t a = io_->Stream()->Alignment();
    total = (total + a - 1) / a * a;
    if (*position + *length > total) {
      *length = static_cast<int32_t>(total - *position);
      ReferenceTime end = total * kUnitsPerSecond;
      sample->SetTime(&start, &end);
    }
  }
  return kS_OK;
}

HResult D_CAsyncOutputPin::Request(IMediaSample* sample, uintptr_t user) {
  if (sample == nullptr) return kE_POINTER;
  int64_t position = 0;
  int32_t length = 0;
  HResult r = SampleRange(sample, &position, &length);
  if (Failed(r)) return r;
  uint8_t* buffer = nullptr;
  r = sample->GetPointer(&buffer);
  if (Failed(r)) return r;
  return io_->Request(position, length, 1, buffer, sample, user);
}

HResult D_CAsyncOutputPin::SyncReadAligned(IMediaSample* sample) {
  if (sample == nullptr) return kE_POINTER;
  int64_t position = 0;
  int32_t length = 0;
  HResult r = SampleRange(sample, &position, &length);
  if (Failed(r)) return r;
  uint8_t* buffer = nullptr;
  r = sample->GetPointer(&buffer);
  if (Failed(r)) return r;
  int32_t actual = 0;
  r = io_->SyncReadAligned(position, length, buffer, &actual, sample);
  sample->SetActualDataLength(actual);
  return r;
}

HResult D_CAsyncOutputPin::WaitForNext(uint32_t timeout_ms, IMediaSample** sample, uintptr_t* user) {
  if (sample == nullptr) return kE_POINTER;
  int32_t actual = 0;
  IMediaSample* context = nullptr;
  uintptr_t u = 0;
  HResult r = io_->WaitForNext(timeout_ms, &context, &u, &actual);
  if (Succeeded(r) && context != nullptr) context->SetActualDataLength(actual);
  *sample = context;
  if (user != nullptr) *user = u;
  return r;
}

HResult D_CAsyncOutputPin::SyncRead(int64_t position, int32_t length, uint8_t* buffer) {
  return io_->SyncRead(position, length, buffer);
}

HResult D_CAsyncOutputPin::Length(int64_t* total, int64_t* available) { return io_->Length(total, available); }

// ---- Readers ---------------------------------------------------------------------------------

D_CAsyncReader::D_CAsyncReader(const char* name, HResult* result, D_CAsyncStream* stream, const Guid& clsid)
    : D_CBaseFilter(name, &filter_lock_, clsid), io_(stream), output_pin_(result, this, &io_, &filter_lock_) {}

D_CAsyncReader::~D_CAsyncReader() = default;

D_CBasePin* D_CAsyncReader::GetPin(int n) { return n == 0 ? &output_pin_ : nullptr; }

HResult D_CAsyncReader::Connect(IPin* receive_pin, const D_CMediaType* type) {
  return output_pin_.BaseConnect(receive_pin, type);
}

namespace {
constexpr Guid kCLSID_AsyncReader = {0xC553F2C0, 0x1529, 0x11D0, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
}

D_CMemReader::D_CMemReader(D_CMemStream* stream, const D_CMediaType* type, HResult* result)
    : D_CAsyncReader("Mem Reader", result, stream, kCLSID_AsyncReader) {
  media_type_ = *type;
}

D_CMemStream* CreateMemStream(const uint8_t* data, int64_t length, uint32_t rate) {
  // A rate of 0 would divide by zero at every read.
  if (rate == 0 || length < 0) return nullptr;
  return new (std::nothrow) D_CMemStream(data, length, rate);
}

D_CMemReader* CreateMemReaderFilter(D_CMemStream* stream, const D_CMediaType* type, HResult* result) {
  auto* reader = new (std::nothrow) D_CMemReader(stream, type, result);
  if (reader == nullptr && result != nullptr) *result = kE_OUTOFMEMORY;
  return reader;
}

void DeleteMemStream(D_CMemStream* stream) { delete stream; }
void DeleteMemReaderFilter(D_CMemReader* reader) { delete reader; }
