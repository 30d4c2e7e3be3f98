// lib/sound/mem_reader.h - the memory source filter: a byte stream over a
// block of memory with an optional read-rate limit, a request queue served by
// one worker thread, and the pull-mode source filter whose output pin offers
// the stream through IAsyncReader, fixed to one media type.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/kernel/kernel.h"
#include "platform/media/base_classes.h"

// An abstract byte stream the request queue reads.
class D_CAsyncStream {
 public:
  virtual ~D_CAsyncStream() = default;
  virtual plat::HResult SetPointer(int64_t position) = 0;
  virtual plat::HResult Read(uint8_t* buffer, uint32_t bytes, int32_t aligned, uint32_t* bytes_read) = 0;
  // The whole length; *available (when given) is what may be read now.
  virtual int64_t Size(int64_t* available = nullptr) = 0;
  virtual uint32_t Alignment() = 0;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

// A stream over memory it does not own. With a rate (bytes per millisecond)
// the data becomes readable over time since creation; 0xFFFFFFFF is no limit.
class D_CMemStream : public D_CAsyncStream {
 public:
  D_CMemStream(const uint8_t* data, int64_t length, uint32_t rate);
  plat::HResult SetPointer(int64_t position) override;
  plat::HResult Read(uint8_t* buffer, uint32_t bytes, int32_t aligned, uint32_t* bytes_read) override;
  int64_t Size(int64_t* available = nullptr) override;
  uint32_t Alignment() override { return 1; }
  void Lock() override { lock_.Enter(); }
  void Unlock() override { lock_.Leave(); }

 private:
  plat::CriticalSection lock_;
  const uint8_t* data_;
  int64_t length_;
  int64_t position_ = 0;
  uint32_t rate_;
  uint32_t start_time_;
};

class D_CAsyncIo;

struct D_CAsyncRequest {
  D_CAsyncIo* io;
  D_CAsyncStream* stream;
  int64_t position;
  int32_t length;  // once served, the bytes actually read
  int32_t aligned;
  uint8_t* buffer;
  plat::IMediaSample* context;
  uintptr_t user;
  plat::HResult result;
  // Serves the request on the calling thread.
  plat::HResult Complete();
};

// The request queue: requests are served in order by one worker thread that
// starts with the first queued request and runs until the queue goes.
class D_CAsyncIo {
 public:
  explicit D_CAsyncIo(D_CAsyncStream* stream);
  ~D_CAsyncIo();

  plat::HResult Request(int64_t position, int32_t length, int32_t aligned, uint8_t* buffer,
                        plat::IMediaSample* context, uintptr_t user);
  plat::HResult WaitForNext(uint32_t timeout_ms, plat::IMediaSample** context, uintptr_t* user, int32_t* actual);
  plat::HResult SyncReadAligned(int64_t position, int32_t length, uint8_t* buffer, int32_t* actual,
                                plat::IMediaSample* context);
  plat::HResult SyncRead(int64_t position, int32_t length, uint8_t* buffer);
  plat::HResult Length(int64_t* total, int64_t* available);
  plat::HResult Alignment(int32_t* alignment);
  plat::HResult BeginFlush();
  plat::HResult EndFlush();
  bool IsAligned(int64_t value) const;
  D_CAsyncStream* Stream() const { return stream_; }

 private:
  plat::HResult StartThread();
  void StopThread();
  void ProcessRequests();
  static uint32_t ThreadMain(void* self);
  D_CAsyncRequest* TakeWork();       // with the lock held
  D_CAsyncRequest* TakeDone();       // with the lock held
  void PutDone(D_CAsyncRequest* r);  // with the lock held

  D_CAsyncStream* stream_;
  std::mutex lock_;  // the lists, the flags, the count and the events
  std::condition_variable changed_;
  bool flushing_ = false;
  std::deque<D_CAsyncRequest*> work_;
  std::deque<D_CAsyncRequest*> done_;
  bool work_event_ = false;
  bool done_event_ = false;
  int items_out_ = 0;
  bool waiting_ = false;
  bool all_done_event_ = false;
  bool stop_event_ = false;
  plat::Thread* thread_ = nullptr;
};

class D_CAsyncReader;

class D_CAsyncOutputPin : public plat::IAsyncReader, public plat::D_CBasePin {
 public:
  D_CAsyncOutputPin(plat::HResult* result, D_CAsyncReader* reader, D_CAsyncIo* io, plat::CriticalSection* lock);

  plat::HResult QueryInterface(const plat::Guid& iid, void** out) override { return NonDelegatingQueryInterface(iid, out); }
  uint32_t AddRef() override { return D_CBasePin::AddRef(); }
  uint32_t Release() override { return D_CBasePin::Release(); }
  plat::HResult NonDelegatingQueryInterface(const plat::Guid& iid, void** out) override;

  plat::HResult Connect(plat::IPin* receive_pin, const plat::D_CMediaType* type) override;
  plat::HResult CheckConnect(plat::IPin* pin) override;
  plat::HResult CompleteConnect(plat::IPin* pin) override;
  plat::HResult BreakConnect() override;
  plat::HResult CheckMediaType(const plat::D_CMediaType* type) override;
  plat::HResult GetMediaType(int position, plat::D_CMediaType* type) override;
  plat::HResult InitAllocator(plat::IMemAllocator** allocator);
  plat::HResult BeginFlush() override { return io_->BeginFlush(); }
  plat::HResult EndFlush() override { return io_->EndFlush(); }
  // The base pin's connection, which the reader's Connect calls.
  plat::HResult BaseConnect(plat::IPin* receive_pin, const plat::D_CMediaType* type) {
    return D_CBasePin::Connect(receive_pin, type);
  }

  plat::HResult RequestAllocator(plat::IMemAllocator* preferred, plat::AllocatorProperties* props,
                                 plat::IMemAllocator** actual) override;
  plat::HResult Request(plat::IMediaSample* sample, uintptr_t user) override;
  plat::HResult WaitForNext(uint32_t timeout_ms, plat::IMediaSample** sample, uintptr_t* user) override;
  plat::HResult SyncReadAligned(plat::IMediaSample* sample) override;
  plat::HResult SyncRead(int64_t position, int32_t length, uint8_t* buffer) override;
  plat::HResult Length(int64_t* total, int64_t* available) override;

 private:
  // The byte range a sample's times ask for, clipped to the stream.
  plat::HResult SampleRange(plat::IMediaSample* sample, int64_t* position, int32_t* length);

  bool queried_for_reader_ = false;
  D_CAsyncIo* io_;
  D_CAsyncReader* reader_;
};

// The pull-mode source filter over any D_CAsyncStream.
class D_CAsyncReader : public plat::D_CBaseFilter {
 public:
  D_CAsyncReader(const char* name, plat::HResult* result, D_CAsyncStream* stream, const plat::Guid& clsid);
  ~D_CAsyncReader() override;
  int GetPinCount() override { return 1; }
  plat::D_CBasePin* GetPin(int n) override;
  virtual plat::HResult Connect(plat::IPin* receive_pin, const plat::D_CMediaType* type);
  const plat::D_CMediaType* MediaType() const { return &media_type_; }

 protected:
  plat::CriticalSection filter_lock_;
  D_CAsyncIo io_;
  D_CAsyncOutputPin output_pin_;
  plat::D_CMediaType media_type_;
};

// The async reader named "Mem Reader" over a memory stream, fixed to the
// media type given at creation.
class D_CMemReader : public D_CAsyncReader {
 public:
  D_CMemReader(D_CMemStream* stream, const plat::D_CMediaType* type, plat::HResult* result);
  ~D_CMemReader() override = default;
  plat::HResult Register() { return plat::kS_OK; }
  plat::HResult Unregister() { return plat::kS_OK; }
};

// Creation with the runtime's plain allocation. A rate of 0 is refused.
D_CMemStream* CreateMemStream(const uint8_t* data, int64_t length, uint32_t rate);
// The reader holds no reference yet.
D_CMemReader* CreateMemReaderFilter(D_CMemStream* stream, const plat::D_CMediaType* type, plat::HResult* result);
// Null-safe; destroy whatever the reference count.
void DeleteMemStream(D_CMemStream* stream);
void DeleteMemReaderFilter(D_CMemReader* reader);
