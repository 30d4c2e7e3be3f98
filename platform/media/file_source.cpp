// platform/media/file_source.cpp - the file source a graph renders files
// through: a filter whose one output pin offers a file on disk as a byte
// stream through IAsyncReader. Reads are served on the caller's thread;
// queued requests are completed at once and collected in order.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "platform/media/base_classes.h"
#include "platform/media/graph.h"

namespace plat {

namespace {

constexpr Guid kCLSID_FileSource = {0x52524D03, 0x0005, 0x4D45, {0x44, 0x49, 0x41, 0x46, 0x53, 0x52, 0x00, 0x01}};

std::string Utf8Path(const char16_t* path) {
  std::string out;
  for (const char16_t* p = path; *p != 0; ++p) {
    uint32_t c = *p;
    if (c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

class FileSource;

class FileSourcePin : public IAsyncReader, public D_CBasePin {
 public:
  FileSourcePin(FileSource* filter, CriticalSection* lock, int fd, int64_t length);
  ~FileSourcePin() override;

  HResult QueryInterface(const Guid& iid, void** out) override { return NonDelegatingQueryInterface(iid, out); }
  uint32_t AddRef() override { return D_CBasePin::AddRef(); }
  uint32_t Release() override { return D_CBasePin::Release(); }
  HResult NonDelegatingQueryInterface(const Guid& iid, void** out) override {
    if (out == nullptr) return kE_POINTER;
    if (iid == kIID_IAsyncReader) return GetInterface(static_cast<IAsyncReader*>(this), out);
    return D_CBasePin::NonDelegatingQueryInterface(iid, out);
  }

  HResult CheckMediaType(const D_CMediaType* type) override {
    return type->majortype == kMEDIATYPE_Stream ? kS_OK : kS_FALSE;
  }
  HResult GetMediaType(int position, D_CMediaType* type) override {
    if (position < 0) return kE_INVALIDARG;
    if (position > 0) return kVFW_S_NO_MORE_ITEMS;
    type->Clear();
    type->majortype = kMEDIATYPE_Stream;
    return kS_OK;
  }
  HResult BeginFlush() override {
    std::lock_guard<std::mutex> hold(queue_lock_);
    flushing_ = true;
    ready_.notify_all();
    return kS_OK;
  }
  HResult EndFlush() override {
    std::lock_guard<std::mutex> hold(queue_lock_);
    flushing_ = false;
    return kS_OK;
  }

  HResult RequestAllocator(IMemAllocator* preferred, AllocatorProperties* props, IMemAllocator** actual) override {
    if (props == nullptr || actual == nullptr) return kE_POINTER;
    if (props->cbAlign <= 0) props->cbAlign = 1;
    AllocatorProperties got{};
    if (preferred != nullptr && Succeeded(preferred->SetProperties(props, &got))) {
      preferred->AddRef();
      *actual = preferred;
      return kS_OK;
    }
    HResult r = kS_OK;
    auto* a = new (std::nothrow) D_CMemAllocator("file allocator", &r);
    if (a == nullptr) return kE_OUTOFMEMORY;
    a->AddRef();
    r = a->SetProperties(props, &got);
    if (Failed(r)) {
      a->Release();
      return r;
    }
    *actual = a;
    return kS_OK;
  }

  HResult Request(IMediaSample* sample, uintptr_t user) override {
    if (sample == nullptr) return kE_POINTER;
    ReferenceTime start = 0, stop = 0;
    HResult r = sample->GetTime(&start, &stop);
    if (Failed(r)) return r;
    int64_t position = start / kUnitsPerSecond;
    int64_t length = (stop - start) / kUnitsPerSecond;
    if (position + length > length_) {
      length = length_ - position;
      ReferenceTime end = length_ * kUnitsPerSecond;
      sample->SetTime(&start, &end);
    }
    uint8_t* buffer = nullptr;
    sample->GetPointer(&buffer);
    std::lock_guard<std::mutex> hold(queue_lock_);
    if (flushing_) return kVFW_E_WRONG_STATE;
    Done d{sample, user, ReadAt(position, length, buffer), 0};
    d.actual = d.result == kS_OK ? static_cast<int32_t>(length) : 0;
    done_.push_back(d);
    ready_.notify_all();
    return kS_OK;
  }

  HResult WaitForNext(uint32_t timeout_ms, IMediaSample** sample, uintptr_t* user) override {
    if (sample == nullptr) return kE_POINTER;
    *sample = nullptr;
    std::unique_lock<std::mutex> hold(queue_lock_);
    if (!ready_.wait_for(hold, std::chrono::milliseconds(timeout_ms), [&] { return !done_.empty() || flushing_; }))
      return kVFW_E_TIMEOUT;
    if (done_.empty()) return kVFW_E_WRONG_STATE;
    Done d = done_.front();
    done_.pop_front();
    d.sample->SetActualDataLength(d.actual);
    *sample = d.sample;
    if (user != nullptr) *user = d.user;
    return d.result;
  }

  HResult SyncReadAligned(IMediaSample* sample) override {
    if (sample == nullptr) return kE_POINTER;
    ReferenceTime start = 0, stop = 0;
    HResult r = sample->GetTime(&start, &stop);
    if (Failed(r)) return r;
    const int64_t position = start / kUnitsPerSecond;
    int64_t length = (stop - start) / kUnitsPerSecond;
    if (position + length > length_) length = length_ - position;
    uint8_t* buffer = nullptr;
    sample->GetPointer(&buffer);
    r = ReadAt(position, length, buffer);
    sample->SetActualDataLength(r == kS_OK ? static_cast<int32_t>(length) : 0);
    return r;
  }

  HResult SyncRead(int64_t position, int32_t length, uint8_t* buffer) override {
    if (buffer == nullptr) return kE_POINTER;
    int64_t n = length;
    if (position + n > length_) n = length_ - position;
    HResult r = ReadAt(position, n, buffer);
    return r == kS_OK && n < length ? kS_FALSE : r;
  }

  HResult Length(int64_t* total, int64_t* available) override {
    if (total == nullptr) return kE_POINTER;
    *total = length_;
    if (available != nullptr) *available = length_;
    return kS_OK;
  }

 private:
  struct Done {
    IMediaSample* sample;
    uintptr_t user;
    HResult result;
    int32_t actual;
  };

  HResult ReadAt(int64_t position, int64_t length, uint8_t* buffer) {
    if (position < 0 || length < 0) return kE_INVALIDARG;
    int64_t done = 0;
    while (done < length) {
      const ssize_t n = pread(fd_, buffer + done, static_cast<size_t>(length - done), position + done);
      if (n <= 0) return kE_FAIL;
      done += n;
    }
    return kS_OK;
  }

  int fd_;
  int64_t length_;
  std::mutex queue_lock_;
  std::condition_variable ready_;
  std::deque<Done> done_;
  bool flushing_ = false;
};

class FileSource : public D_CBaseFilter {
 public:
  FileSource(int fd, int64_t length) : D_CBaseFilter("File Source", &lock_, kCLSID_FileSource), pin_(this, &lock_, fd, length) {}
  int GetPinCount() override { return 1; }
  D_CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

 private:
  CriticalSection lock_;
  FileSourcePin pin_;
};

FileSourcePin::FileSourcePin(FileSource* filter, CriticalSection* lock, int fd, int64_t length)
    : D_CBasePin("file source output", filter, lock, nullptr, u"Output", PinDirection::kOutput),
      fd_(fd),
      length_(length) {}

FileSourcePin::~FileSourcePin() { close(fd_); }

}  // namespace

HResult CreateFileSourceFilter(const char16_t* path, IBaseFilter** filter) {
  if (path == nullptr || filter == nullptr) return kE_POINTER;
  *filter = nullptr;
  const std::string name = Utf8Path(path);
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kVFW_E_NOT_FOUND;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return kVFW_E_NOT_FOUND;
  }
  auto* source = new (std::nothrow) FileSource(fd, static_cast<int64_t>(st.st_size));
  if (source == nullptr) {
    close(fd);
    return kE_OUTOFMEMORY;
  }
  return GetInterface(static_cast<IBaseFilter*>(source), reinterpret_cast<void**>(filter));
}

}  // namespace plat
