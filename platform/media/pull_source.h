// platform/media/pull_source.h - the common frame of the filters that read
// their input through an upstream IAsyncReader on a reading thread of their
// own and push what they make through a queue and a delivering thread per
// output: the pulling input pin, output pins made when the input connects,
// the threads' start, stop and join, end of stream and error reports, and
// seeking by flushing, moving and restarting.
#pragma once

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/media/base_classes.h"

namespace plat {

class PullSourceFilter;
struct OutputQueue;

// The decoded samples a coded audio packet's frame is cut by: the codec's
// priming at its front, the padding past the stream's end at its back, as
// the container gives them. A sample carries them as its media times
// (front, back); a packet with neither carries none.
struct DecodedTrim {
  uint32_t front = 0;
  uint32_t back = 0;
};

class PullInputPin : public D_CBasePin {
 public:
  PullInputPin(PullSourceFilter* filter, CriticalSection* lock);
  ~PullInputPin() override;
  HResult CheckMediaType(const D_CMediaType* type) override;
  HResult CheckConnect(IPin* pin) override;
  HResult CompleteConnect(IPin* pin) override;
  HResult BreakConnect() override;
  HResult BeginFlush() override { return kS_OK; }
  HResult EndFlush() override { return kS_OK; }
  IAsyncReader* Reader() const { return reader_; }

 private:
  PullSourceFilter* source_;
  IAsyncReader* reader_ = nullptr;
};

class StreamOutputPin : public D_CBaseOutputPin {
 public:
  StreamOutputPin(PullSourceFilter* filter, CriticalSection* lock, const D_CMediaType& type, int32_t buffer_size,
                  int32_t buffer_count, const char16_t* name);
  HResult CheckMediaType(const D_CMediaType* type) override;
  HResult GetMediaType(int position, D_CMediaType* type) override;
  HResult DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* props) override;
  const D_CMediaType& OfferedType() const { return type_; }

 private:
  D_CMediaType type_;
  int32_t buffer_size_;
  int32_t buffer_count_;
};

class PullSourceFilter : public D_CBaseFilter, public IMediaSeeking {
 public:
  PullSourceFilter(const char* name, const Guid& clsid);
  ~PullSourceFilter() override;

  HResult QueryInterface(const Guid& iid, void** out) override { return NonDelegatingQueryInterface(iid, out); }
  uint32_t AddRef() override { return NonDelegatingAddRef(); }
  uint32_t Release() override { return NonDelegatingRelease(); }
  HResult NonDelegatingQueryInterface(const Guid& iid, void** out) override;

  int GetPinCount() override;
  D_CBasePin* GetPin(int n) override;
  HResult Stop() override;
  HResult Pause() override;

  HResult GetDuration(int64_t* duration) override;
  HResult GetCurrentPosition(int64_t* position) override;
  HResult GetStopPosition(int64_t* stop) override;
  HResult SetPositions(const int64_t* current, const int64_t* stop) override;

  // What a source does.
  virtual bool AcceptsInput(const D_CMediaType& type) = 0;
  // Opens the input (making output pins with AddOutput); a failure refuses
  // the connection.
  virtual HResult Open(const D_CMediaType& type) = 0;
  virtual void Close() = 0;
  // Pushes the next piece: S_OK for more, S_FALSE at the end, a failure
  // ends streaming with EC_ERRORABORT (kE_ABORT ends it quietly: the
  // downstream side refused).
  virtual HResult StreamStep() = 0;
  // Moves the input to a media time (100 ns units).
  virtual HResult SeekTo(int64_t position) = 0;
  virtual int64_t Duration() = 0;

  // Reads exactly `bytes` at `position` or fewer at the end; the count read,
  // or -1 when the reader fails.
  int64_t ReadAt(int64_t position, uint8_t* buffer, int64_t bytes);
  int64_t InputLength();

 protected:
  void AddOutput(const D_CMediaType& type, int32_t buffer_size, int32_t buffer_count, const char16_t* name);
  // Queues one piece of data for an output pin with its times (relative to
  // the segment start); pieces larger than a buffer are split when allowed.
  // Each output delivers on its own thread, so that a renderer holding one
  // stream until its time does not hold the others; this waits only while
  // the pin's queue is full. kE_ABORT once the pin's delivery has ended.
  HResult Send(int pin, const uint8_t* data, int64_t size, ReferenceTime start, ReferenceTime stop, bool sync,
               bool splittable, DecodedTrim trim = {});
  int OutputCount() const { return static_cast<int>(outputs_.size()); }
  bool StopRequested() const { return stop_.load(); }
  int64_t SegmentStart() const { return segment_start_; }
  int64_t StopPosition() const { return stop_position_; }

 private:
  friend class PullInputPin;
  HResult ConnectInput(IAsyncReader* reader, const D_CMediaType& type);
  void DisconnectInput();
  bool StartThread();
  void StopThread();
  void ThreadMain();
  void QueueMain(OutputQueue* queue);
  HResult Deliver(StreamOutputPin* out, const std::vector<uint8_t>& data, ReferenceTime start, ReferenceTime stop,
                  bool sync, bool splittable, DecodedTrim trim);
  void StopQueues();

  CriticalSection filter_lock_;
  PullInputPin* input_ = nullptr;
  std::vector<StreamOutputPin*> outputs_;
  std::vector<StreamOutputPin*> retired_;  // pins of an earlier input, kept while referenced
  IAsyncReader* reader_ = nullptr;
  std::thread thread_;
  std::vector<std::unique_ptr<OutputQueue>> queues_;  // one per output while streaming
  std::atomic<bool> stop_{false};
  std::atomic<bool> discontinuity_{true};
  bool ran_ = false;
  int64_t segment_start_ = 0;
  int64_t stop_position_ = INT64_MAX;
};

}  // namespace plat
