// platform/media/pull_source.cpp - the pulling input pin, the output pins,
// the reading thread and the per-output delivery queues shared by the
// demultiplexing sources.
#include "platform/media/pull_source.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <new>

namespace plat {

// ---- Input pin ---------------------------------------------------------------------

PullInputPin::PullInputPin(PullSourceFilter* filter, CriticalSection* lock)
    : D_CBasePin("pull input", filter, lock, nullptr, u"Input", PinDirection::kInput), source_(filter) {}

PullInputPin::~PullInputPin() { SafeRelease(&reader_); }

HResult PullInputPin::CheckMediaType(const D_CMediaType* type) {
  return source_->AcceptsInput(*type) ? kS_OK : kS_FALSE;
}

HResult PullInputPin::CheckConnect(IPin* pin) {
  HResult r = D_CBasePin::CheckConnect(pin);
  if (Failed(r)) return r;
  SafeRelease(&reader_);
  // Asking for the reader is what the upstream pin waits for.
  r = pin->QueryInterface(kIID_IAsyncReader, reinterpret_cast<void**>(&reader_));
  return Failed(r) ? kE_NOINTERFACE : kS_OK;
}

HResult PullInputPin::CompleteConnect(IPin*) { return source_->ConnectInput(reader_, mt_); }

HResult PullInputPin::BreakConnect() {
  source_->DisconnectInput();
  SafeRelease(&reader_);
  return kS_OK;
}

// ---- Output pin ----------------------------------------------------------------------

StreamOutputPin::StreamOutputPin(PullSourceFilter* filter, CriticalSection* lock, const D_CMediaType& type,
                                 int32_t buffer_size, int32_t buffer_count, const char16_t* name)
    : D_CBaseOutputPin("stream output", filter, lock, nullptr, name),
      type_(type),
      buffer_size_(buffer_size),
      buffer_count_(buffer_count) {}

HResult StreamOutputPin::CheckMediaType(const D_CMediaType* type) {
  return type->majortype == type_.majortype && type->subtype == type_.subtype &&
                 type->formattype == type_.formattype && type->format == type_.format
             ? kS_OK
             : kS_FALSE;
}

HResult StreamOutputPin::GetMediaType(int position, D_CMediaType* type) {
  if (position < 0) return kE_INVALIDARG;
  if (position > 0) return kVFW_S_NO_MORE_ITEMS;
  *type = type_;
  return kS_OK;
}

HResult StreamOutputPin::DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* props) {
  AllocatorProperties want{std::max(buffer_count_, props->cBuffers), std::max(buffer_size_, props->cbBuffer),
                           std::max(1, props->cbAlign), props->cbPrefix};
  AllocatorProperties actual{};
  HResult r = allocator->SetProperties(&want, &actual);
  if (Failed(r)) return r;
  return actual.cbBuffer < buffer_size_ ? kE_FAIL : kS_OK;
}

// ---- Output queues -------------------------------------------------------------------------

// A piece waiting for delivery, or the end of the stream.
struct QueuedPiece {
  bool end = false;
  std::vector<uint8_t> data;
  ReferenceTime start = 0, stop = 0;
  bool sync = false, splittable = false;
  DecodedTrim trim;
};

struct OutputQueue {
  StreamOutputPin* pin = nullptr;
  std::thread thread;
  std::mutex lock;
  std::condition_variable changed;
  std::deque<QueuedPiece> pieces;
  size_t bytes = 0;
  bool quit = false;
  bool ended = false;  // delivery stopped: what is sent is dropped
};

namespace {

// How far the reader may run ahead of an output's delivery: enough for
// files that hold seconds of one stream before the next piece of another.
constexpr size_t kQueuePieces = 512;
constexpr size_t kQueueBytes = size_t{32} << 20;

}  // namespace

// ---- Filter ------------------------------------------------------------------------------

PullSourceFilter::PullSourceFilter(const char* name, const Guid& clsid) : D_CBaseFilter(name, &filter_lock_, clsid) {
  input_ = new PullInputPin(this, &filter_lock_);
}

PullSourceFilter::~PullSourceFilter() {
  StopThread();
  delete input_;
  for (StreamOutputPin* p : outputs_) delete p;
  for (StreamOutputPin* p : retired_) delete p;
  SafeRelease(&reader_);
}

HResult PullSourceFilter::NonDelegatingQueryInterface(const Guid& iid, void** out) {
  if (out == nullptr) return kE_POINTER;
  if (iid == kIID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), out);
  return D_CBaseFilter::NonDelegatingQueryInterface(iid, out);
}

int PullSourceFilter::GetPinCount() { return 1 + static_cast<int>(outputs_.size()); }

D_CBasePin* PullSourceFilter::GetPin(int n) {
  if (n == 0) return input_;
  if (n > 0 && n <= static_cast<int>(outputs_.size())) return outputs_[static_cast<size_t>(n - 1)];
  return nullptr;
}

HResult PullSourceFilter::ConnectInput(IAsyncReader* reader, const D_CMediaType& type) {
  if (reader == nullptr) return kE_NOINTERFACE;
  SafeRelease(&reader_);
  reader_ = reader;
  reader_->AddRef();
  segment_start_ = 0;
  stop_position_ = INT64_MAX;
  ran_ = false;
  HResult r = Open(type);
  if (Failed(r) || outputs_.empty()) {
    DisconnectInput();
    return Failed(r) ? r : kVFW_E_UNSUPPORTED_STREAM;
  }
  return kS_OK;
}

void PullSourceFilter::DisconnectInput() {
  StopThread();
  Close();
  for (StreamOutputPin* p : outputs_) retired_.push_back(p);
  outputs_.clear();
  SafeRelease(&reader_);
}

void PullSourceFilter::AddOutput(const D_CMediaType& type, int32_t buffer_size, int32_t buffer_count,
                                 const char16_t* name) {
  outputs_.push_back(new StreamOutputPin(this, &filter_lock_, type, buffer_size, buffer_count, name));
}

int64_t PullSourceFilter::InputLength() {
  int64_t total = 0, available = 0;
  if (reader_ == nullptr || Failed(reader_->Length(&total, &available))) return -1;
  return total;
}

int64_t PullSourceFilter::ReadAt(int64_t position, uint8_t* buffer, int64_t bytes) {
  const int64_t total = InputLength();
  if (total < 0 || position < 0) return -1;
  if (position >= total) return 0;
  int64_t n = std::min(bytes, total - position);
  n = std::min<int64_t>(n, INT32_MAX);
  HResult r = reader_->SyncRead(position, static_cast<int32_t>(n), buffer);
  if (Failed(r)) return -1;
  return n;
}

HResult PullSourceFilter::Pause() {
  filter_lock_.Enter();
  const bool was_stopped = state_.load() == FilterState::kStopped;
  HResult r = D_CBaseFilter::Pause();
  if (Succeeded(r) && was_stopped && reader_ != nullptr) {
    // A second run starts again where the segment starts.
    if (ran_) SeekTo(segment_start_);
    ran_ = true;
    if (!StartThread()) r = kE_OUTOFMEMORY;
  }
  filter_lock_.Leave();
  return r;
}

HResult PullSourceFilter::Stop() {
  filter_lock_.Enter();
  // Downstream filters are stopped first, so the thread's deliveries fail;
  // decommitting the allocators wakes a thread waiting for a buffer.
  stop_ = true;
  for (StreamOutputPin* p : outputs_)
    if (p->IsConnected()) p->Inactive();
  StopThread();
  HResult r = D_CBaseFilter::Stop();
  filter_lock_.Leave();
  return r;
}

// False when the system cannot start another thread (no memory for its
// stack, or a process limit).
bool PullSourceFilter::StartThread() {
  if (thread_.joinable()) return true;
  stop_ = false;
  discontinuity_ = true;
  try {
    for (StreamOutputPin* p : outputs_) {
      auto queue = std::make_unique<OutputQueue>();
      queue->pin = p;
      queues_.push_back(std::move(queue));
    }
    for (auto& q : queues_)
      if (q->pin->IsConnected()) q->thread = std::thread([this, queue = q.get()] { QueueMain(queue); });
    thread_ = std::thread([this] { ThreadMain(); });
  } catch (const std::exception&) {
    StopQueues();
    return false;
  }
  return true;
}

void PullSourceFilter::StopThread() {
  stop_ = true;
  for (auto& q : queues_) {
    std::lock_guard<std::mutex> hold(q->lock);
    q->changed.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  StopQueues();
}

// What is still queued is dropped: a stop or a seek comes before it.
void PullSourceFilter::StopQueues() {
  for (auto& q : queues_) {
    {
      std::lock_guard<std::mutex> hold(q->lock);
      q->quit = true;
      q->changed.notify_all();
    }
    if (q->thread.joinable()) q->thread.join();
  }
  queues_.clear();
}

void PullSourceFilter::ThreadMain() {
  for (;;) {
    if (stop_.load()) return;
    HResult r = StreamStep();
    if (r == kS_OK) continue;
    if (r == kS_FALSE) {
      for (auto& q : queues_) {
        std::lock_guard<std::mutex> hold(q->lock);
        q->pieces.push_back(QueuedPiece{true, {}, 0, 0, false, false, {}});
        q->changed.notify_all();
      }
    } else if (r != kE_ABORT && !stop_.load()) {
      NotifyEvent(kEC_ERRORABORT, r, 0);
    }
    return;
  }
}

void PullSourceFilter::QueueMain(OutputQueue* queue) {
  StreamOutputPin* out = queue->pin;
  out->DeliverNewSegment(0, stop_position_ == INT64_MAX ? INT64_MAX : stop_position_ - segment_start_, 1.0);
  for (;;) {
    QueuedPiece piece;
    {
      std::unique_lock<std::mutex> hold(queue->lock);
      queue->changed.wait(hold, [&] { return queue->quit || !queue->pieces.empty(); });
      if (queue->quit) return;
      piece = std::move(queue->pieces.front());
      queue->pieces.pop_front();
      queue->bytes -= piece.data.size();
      queue->changed.notify_all();
    }
    if (piece.end) {
      out->DeliverEndOfStream();
      continue;
    }
    const HResult r = Deliver(out, piece.data, piece.start, piece.stop, piece.sync, piece.splittable, piece.trim);
    if (r == kS_OK) continue;
    {
      std::lock_guard<std::mutex> hold(queue->lock);
      queue->ended = true;
      queue->changed.notify_all();
    }
    if (r != kE_ABORT && !stop_.load()) NotifyEvent(kEC_ERRORABORT, r, 0);
    return;
  }
}

HResult PullSourceFilter::Send(int pin, const uint8_t* data, int64_t size, ReferenceTime start, ReferenceTime stop,
                               bool sync, bool splittable, DecodedTrim trim) {
  if (pin < 0 || pin >= static_cast<int>(queues_.size()) || size < 0) return kS_OK;
  OutputQueue* q = queues_[static_cast<size_t>(pin)].get();
  if (!q->pin->IsConnected()) return kS_OK;
  QueuedPiece piece;
  try {
    piece.data.assign(data, data + size);
  } catch (const std::bad_alloc&) {
    return kE_OUTOFMEMORY;
  }
  piece.start = start;
  piece.stop = stop;
  piece.sync = sync;
  piece.splittable = splittable;
  piece.trim = trim;
  std::unique_lock<std::mutex> hold(q->lock);
  q->changed.wait(hold, [&] {
    return stop_.load() || q->quit || q->ended ||
           (q->pieces.size() < kQueuePieces && (q->bytes < kQueueBytes || q->pieces.empty()));
  });
  if (stop_.load() || q->quit || q->ended) return kE_ABORT;
  q->bytes += piece.data.size();
  q->pieces.push_back(std::move(piece));
  q->changed.notify_all();
  return kS_OK;
}

HResult PullSourceFilter::Deliver(StreamOutputPin* out, const std::vector<uint8_t>& data, ReferenceTime start,
                                  ReferenceTime stop, bool sync, bool splittable, DecodedTrim trim) {
  const int64_t size = static_cast<int64_t>(data.size());
  int64_t done = 0;
  do {
    if (stop_.load()) return kE_ABORT;
    IMediaSample* sample = nullptr;
    if (Failed(out->GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) return kE_ABORT;
    const int64_t room = sample->GetSize();
    if (size - done > room && !splittable) {
      sample->Release();
      return kE_OUTOFMEMORY;
    }
    const int64_t n = std::min(room, size - done);
    uint8_t* to = nullptr;
    sample->GetPointer(&to);
    if (n > 0) std::memcpy(to, data.data() + done, static_cast<size_t>(n));
    sample->SetActualDataLength(static_cast<int32_t>(n));
    // A split piece spreads its time over its parts by bytes.
    ReferenceTime s = start, e = stop;
    if (size > 0 && stop > start) {
      s = start + static_cast<ReferenceTime>(static_cast<__int128>(stop - start) * done / size);
      e = start + static_cast<ReferenceTime>(static_cast<__int128>(stop - start) * (done + n) / size);
    }
    sample->SetTime(&s, &e);
    sample->SetSyncPoint(sync);
    // The front cut goes with the first part, the back cut with the last.
    const int64_t front = done == 0 ? trim.front : 0, back = done + n == size ? trim.back : 0;
    if (front != 0 || back != 0) sample->SetMediaTime(&front, &back);
    sample->SetDiscontinuity(discontinuity_.exchange(false));
    HResult r = out->Deliver(sample);
    sample->Release();
    if (r != kS_OK) {
      // A stop or a downstream filter that has stopped ends the pushing
      // quietly; a sample downstream did not take (S_FALSE) is passed by;
      // any other failure is a streaming error.
      if (stop_.load() || r == kVFW_E_WRONG_STATE || r == kVFW_E_NOT_COMMITTED) return kE_ABORT;
      if (Failed(r)) return r;
    }
    done += n;
  } while (done < size);
  return kS_OK;
}

// ---- Seeking -----------------------------------------------------------------------------

HResult PullSourceFilter::GetDuration(int64_t* duration) {
  if (duration == nullptr) return kE_POINTER;
  *duration = Duration();
  return kS_OK;
}

HResult PullSourceFilter::GetCurrentPosition(int64_t* position) {
  if (position == nullptr) return kE_POINTER;
  *position = segment_start_;
  return kS_OK;
}

HResult PullSourceFilter::GetStopPosition(int64_t* stop) {
  if (stop == nullptr) return kE_POINTER;
  *stop = stop_position_ == INT64_MAX ? Duration() : stop_position_;
  return kS_OK;
}

HResult PullSourceFilter::SetPositions(const int64_t* current, const int64_t* stop) {
  filter_lock_.Enter();
  if (stop != nullptr) stop_position_ = *stop;
  if (current == nullptr) {
    filter_lock_.Leave();
    return kS_OK;
  }
  const bool streaming = thread_.joinable();
  if (streaming) {
    // Downstream drops what it holds and the thread leaves its delivery.
    stop_ = true;
    for (StreamOutputPin* p : outputs_)
      if (p->IsConnected()) p->DeliverBeginFlush();
    StopThread();
  }
  HResult r = SeekTo(*current);
  if (Succeeded(r)) segment_start_ = *current;
  if (streaming) {
    for (StreamOutputPin* p : outputs_)
      if (p->IsConnected()) p->DeliverEndFlush();
    if (state_.load() != FilterState::kStopped && !StartThread() && Succeeded(r)) r = kE_OUTOFMEMORY;
  }
  filter_lock_.Leave();
  return r;
}

}  // namespace plat
