// platform/media/graph.cpp - the graph manager: filters by name, direct and
// intelligent connection, rendering a pin or a file, state changes from the
// renderers upstream, the reference clock, the event queue with the
// completion rule, seeking through the source, and teardown.
#include "platform/media/graph.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/media/base_classes.h"

namespace plat {

namespace {

constexpr int kMaxRenderDepth = 8;

// ---- The system clock ----------------------------------------------------------

class SystemClock : public IReferenceClock, public D_CUnknown {
 public:
  SystemClock() : D_CUnknown("system clock") {}
  RORUD_MEDIA_UNKNOWN
  HResult NonDelegatingQueryInterface(const Guid& iid, void** out) override {
    if (out == nullptr) return kE_POINTER;
    if (iid == kIID_IUnknown || iid == kIID_IReferenceClock) return GetInterface(static_cast<IReferenceClock*>(this), out);
    return D_CUnknown::NonDelegatingQueryInterface(iid, out);
  }
  HResult GetTime(ReferenceTime* time) override {
    if (time == nullptr) return kE_POINTER;
    const int64_t ticks = QueryPerformanceCounter();
    const int64_t frequency = QueryPerformanceFrequency();
    *time = static_cast<ReferenceTime>(static_cast<__int128>(ticks) * kUnitsPerSecond / frequency);
    return kS_OK;
  }
};

// ---- The null renderer -----------------------------------------------------------

class NullRenderer : public D_CBaseRenderer {
 public:
  explicit NullRenderer(HResult* result) : D_CBaseRenderer(kCLSID_NullRenderer, "Null Renderer", result) {}
  HResult CheckMediaType(const D_CMediaType*) override { return kS_OK; }
  HResult DoRenderSample(IMediaSample*) override { return kS_OK; }
};

// ---- Helpers over pins ------------------------------------------------------------

std::vector<IPin*> PinsOf(IBaseFilter* filter, PinDirection direction) {
  std::vector<IPin*> pins;
  IEnumPins* e = nullptr;
  if (Failed(filter->EnumPins(&e))) return pins;
  IPin* pin = nullptr;
  uint32_t fetched = 0;
  while (e->Next(1, &pin, &fetched) == kS_OK && fetched == 1) {
    PinDirection d;
    if (Succeeded(pin->QueryDirection(&d)) && d == direction) pins.push_back(pin);
    else pin->Release();
  }
  e->Release();
  return pins;
}

void ReleaseAll(std::vector<IPin*>& pins) {
  for (IPin* p : pins) p->Release();
  pins.clear();
}

bool PinConnected(IPin* pin) {
  IPin* other = nullptr;
  if (pin->ConnectedTo(&other) == kS_OK && other != nullptr) {
    other->Release();
    return true;
  }
  return false;
}

// Breaks a connection on both sides.
void DisconnectBoth(IPin* pin) {
  IPin* other = nullptr;
  if (pin->ConnectedTo(&other) == kS_OK && other != nullptr) {
    other->Disconnect();
    other->Release();
  }
  pin->Disconnect();
}

IBaseFilter* OwnerOf(IPin* pin) {
  PinInfo info{};
  if (Failed(pin->QueryPinInfo(&info))) return nullptr;
  return info.pFilter;  // with a reference
}

class FilterEnumerator : public IEnumFilters, public D_CUnknown {
 public:
  explicit FilterEnumerator(const std::vector<IBaseFilter*>& filters) : D_CUnknown("filter enumerator"), filters_(filters) {
    for (IBaseFilter* f : filters_) f->AddRef();
  }
  ~FilterEnumerator() override {
    for (IBaseFilter* f : filters_) f->Release();
  }
  RORUD_MEDIA_UNKNOWN
  HResult NonDelegatingQueryInterface(const Guid& iid, void** out) override {
    if (out == nullptr) return kE_POINTER;
    if (iid == kIID_IUnknown || iid == kIID_IEnumFilters) return GetInterface(static_cast<IEnumFilters*>(this), out);
    return D_CUnknown::NonDelegatingQueryInterface(iid, out);
  }
  HResult Next(uint32_t count, IBaseFilter** filters, uint32_t* fetched) override {
    if (filters == nullptr) return kE_POINTER;
    uint32_t got = 0;
    while (got < count && position_ < filters_.size()) {
      filters[got] = filters_[position_++];
      filters[got++]->AddRef();
    }
    if (fetched != nullptr) *fetched = got;
    return got == count ? kS_OK : kS_FALSE;
  }
  HResult Skip(uint32_t count) override {
    position_ = std::min(filters_.size(), position_ + count);
    return kS_OK;
  }
  HResult Reset() override {
    position_ = 0;
    return kS_OK;
  }

 private:
  std::vector<IBaseFilter*> filters_;
  size_t position_ = 0;
};

// ---- The graph manager ---------------------------------------------------------------

class FilterGraph : public IGraphBuilder,
                    public IMediaControl,
                    public IMediaEvent,
                    public IMediaFilter,
                    public IMediaSeeking,
                    public IMediaEventSink,
                    public IBasicAudio,
                    public D_CUnknown {
 public:
  FilterGraph() : D_CUnknown("filter graph") {
    clock_ = CreateSystemReferenceClock();
    if (clock_ != nullptr) clock_->AddRef();
  }

  ~FilterGraph() override {
    Stop();
    std::vector<Entry> filters;
    {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      filters.swap(filters_);
    }
    for (Entry& e : filters) {
      std::vector<IPin*> pins = PinsOf(e.filter, PinDirection::kInput);
      std::vector<IPin*> outs = PinsOf(e.filter, PinDirection::kOutput);
      pins.insert(pins.end(), outs.begin(), outs.end());
      for (IPin* p : pins) DisconnectBoth(p);
      ReleaseAll(pins);
    }
    for (Entry& e : filters) {
      e.filter->JoinFilterGraph(nullptr, nullptr);
      e.filter->Release();
    }
    SafeRelease(&clock_);
  }

  uint32_t AddRef() override { return NonDelegatingAddRef(); }
  uint32_t Release() override { return NonDelegatingRelease(); }
  HResult QueryInterface(const Guid& iid, void** out) override { return NonDelegatingQueryInterface(iid, out); }

  HResult NonDelegatingQueryInterface(const Guid& iid, void** out) override {
    if (out == nullptr) return kE_POINTER;
    if (iid == kIID_IUnknown || iid == kIID_IGraphBuilder || iid == kIID_IFilterGraph)
      return GetInterface(static_cast<IGraphBuilder*>(this), out);
    if (iid == kIID_IMediaControl) return GetInterface(static_cast<IMediaControl*>(this), out);
    if (iid == kIID_IMediaEvent) return GetInterface(static_cast<IMediaEvent*>(this), out);
    if (iid == kIID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), out);
    if (iid == kIID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), out);
    if (iid == kIID_IMediaEventSink) return GetInterface(static_cast<IMediaEventSink*>(this), out);
    if (iid == kIID_IBasicAudio) return GetInterface(static_cast<IBasicAudio*>(this), out);
    return D_CUnknown::NonDelegatingQueryInterface(iid, out);
  }

  // ---- IFilterGraph ----

  HResult AddFilter(IBaseFilter* filter, const char16_t* name) override {
    if (filter == nullptr) return kE_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    for (const Entry& e : filters_)
      if (e.filter == filter) return kE_INVALIDARG;
    std::u16string unique = name != nullptr ? name : u"Filter";
    for (int n = 1; NameTaken(unique); ++n) {
      std::u16string suffix;
      for (int v = n; v > 0; v /= 10) suffix.insert(suffix.begin(), static_cast<char16_t>(u'0' + v % 10));
      unique = (name != nullptr ? std::u16string(name) : std::u16string(u"Filter")) + u" " + suffix;
    }
    HResult r = filter->JoinFilterGraph(this, unique.c_str());
    if (Failed(r)) return r;
    filter->AddRef();
    filters_.push_back({filter, unique});
    return kS_OK;
  }

  HResult RemoveFilter(IBaseFilter* filter) override {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    for (size_t i = 0; i < filters_.size(); ++i) {
      if (filters_[i].filter != filter) continue;
      std::vector<IPin*> pins = PinsOf(filter, PinDirection::kInput);
      std::vector<IPin*> outs = PinsOf(filter, PinDirection::kOutput);
      pins.insert(pins.end(), outs.begin(), outs.end());
      for (IPin* p : pins) DisconnectBoth(p);
      ReleaseAll(pins);
      filters_.erase(filters_.begin() + static_cast<long>(i));
      filter->JoinFilterGraph(nullptr, nullptr);
      filter->Release();
      return kS_OK;
    }
    return kVFW_E_NOT_FOUND;
  }

  HResult EnumFilters(IEnumFilters** out) override {
    if (out == nullptr) return kE_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    std::vector<IBaseFilter*> list;
    for (const Entry& e : filters_) list.push_back(e.filter);
    auto* e = new (std::nothrow) FilterEnumerator(list);
    if (e == nullptr) return kE_OUTOFMEMORY;
    return GetInterface(static_cast<IEnumFilters*>(e), reinterpret_cast<void**>(out));
  }

  HResult FindFilterByName(const char16_t* name, IBaseFilter** out) override {
    if (name == nullptr || out == nullptr) return kE_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    *out = nullptr;
    for (const Entry& e : filters_) {
      if (e.name == name) {
        *out = e.filter;
        e.filter->AddRef();
        return kS_OK;
      }
    }
    return kVFW_E_NOT_FOUND;
  }

  HResult ConnectDirect(IPin* out, IPin* in, const D_CMediaType* type) override {
    if (out == nullptr || in == nullptr) return kE_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (state_ != FilterState::kStopped) return kVFW_E_NOT_STOPPED;
    return out->Connect(in, type);
  }

  HResult Disconnect(IPin* pin) override {
    if (pin == nullptr) return kE_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return pin->Disconnect();
  }

  // ---- IGraphBuilder ----

  HResult Connect(IPin* out, IPin* in) override {
    if (out == nullptr || in == nullptr) return kE_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (state_ != FilterState::kStopped) return kVFW_E_NOT_STOPPED;
    return ConnectThrough(out, in, 0);
  }

  HResult Render(IPin* out) override {
    if (out == nullptr) return kE_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (state_ != FilterState::kStopped) return kVFW_E_NOT_STOPPED;
    PinDirection d;
    if (Failed(out->QueryDirection(&d)) || d != PinDirection::kOutput) return kVFW_E_INVALID_DIRECTION;
    if (PinConnected(out)) return kVFW_E_ALREADY_CONNECTED;
    return RenderPin(out, 0);
  }

  HResult RenderFile(const char16_t* file, const char16_t*) override {
    if (file == nullptr) return kE_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (state_ != FilterState::kStopped) return kVFW_E_NOT_STOPPED;
    IBaseFilter* source = nullptr;
    HResult r = CreateFileSourceFilter(file, &source);
    if (Failed(r)) return r;
    r = AddFilter(source, file);
    if (Failed(r)) {
      source->Release();
      return r;
    }
    std::vector<IPin*> outs = PinsOf(source, PinDirection::kOutput);
    r = outs.empty() ? kVFW_E_CANNOT_RENDER : RenderPin(outs[0], 0);
    ReleaseAll(outs);
    if (Failed(r)) RemoveFilter(source);
    source->Release();
    return r;
  }

  // ---- IMediaControl / IMediaFilter ----

  HResult Run() override {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (state_ == FilterState::kRunning) return kS_OK;
    if (state_ == FilterState::kStopped) {
      HResult r = Pause();
      if (Failed(r)) return r;
    }
    ReferenceTime start = 0;
    if (clock_ != nullptr) clock_->GetTime(&start);
    // The stream time starts where the pause left it.
    start -= paused_at_;
    return RunAll(start);
  }

  HResult Run(ReferenceTime start) override {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (state_ == FilterState::kStopped) {
      HResult r = Pause();
      if (Failed(r)) return r;
    }
    return RunAll(start);
  }

  HResult Pause() override {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (state_ == FilterState::kPaused) return kS_OK;
    std::vector<IBaseFilter*> order = Ordered();
    if (state_ == FilterState::kStopped) {
      for (IBaseFilter* f : order) f->SetSyncSource(clock_);
      ResetCompletion(order);
      paused_at_ = 0;
    } else if (clock_ != nullptr) {
      ReferenceTime now = 0;
      clock_->GetTime(&now);
      paused_at_ = now - run_start_;
    }
    for (IBaseFilter* f : order) {
      HResult r = f->Pause();
      if (Failed(r)) {
        for (IBaseFilter* g : order) g->Stop();
        state_ = FilterState::kStopped;
        return r;
      }
    }
    state_ = FilterState::kPaused;
    return kS_OK;
  }

  HResult Stop() override {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    HResult result = kS_OK;
    for (IBaseFilter* f : Ordered()) {
      HResult r = f->Stop();
      if (Failed(r) && Succeeded(result)) result = r;
    }
    state_ = FilterState::kStopped;
    paused_at_ = 0;
    return result;
  }

  HResult GetState(uint32_t, FilterState* state) override {
    if (state == nullptr) return kE_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    *state = state_;
    return kS_OK;
  }

  HResult SetSyncSource(IReferenceClock* clock) override {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (state_ != FilterState::kStopped) return kVFW_E_NOT_STOPPED;
    if (clock != nullptr) clock->AddRef();
    SafeRelease(&clock_);
    clock_ = clock;
    return kS_OK;
  }

  HResult GetSyncSource(IReferenceClock** clock) override {
    if (clock == nullptr) return kE_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    *clock = clock_;
    if (clock_ != nullptr) clock_->AddRef();
    return kS_OK;
  }

  // ---- IMediaEvent / IMediaEventSink ----

  HResult Notify(int32_t code, intptr_t param1, intptr_t param2) override {
    std::lock_guard<std::mutex> hold(event_lock_);
    if (code == kEC_COMPLETE) {
      completed_.insert(param2);
      if (static_cast<int>(completed_.size()) < renderers_) return kS_OK;
      if (complete_posted_) return kS_OK;
      complete_posted_ = true;
      param1 = kS_OK;
      param2 = 0;
    }
    events_.push_back({code, param1, param2});
    if ((code == kEC_COMPLETE || code == kEC_ERRORABORT || code == kEC_USERABORT) && completion_ == 0)
      completion_ = code;
    event_ready_.notify_all();
    return kS_OK;
  }

  HResult GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2, uint32_t timeout_ms) override {
    if (code == nullptr || param1 == nullptr || param2 == nullptr) return kE_POINTER;
    std::unique_lock<std::mutex> hold(event_lock_);
    if (!event_ready_.wait_for(hold, std::chrono::milliseconds(timeout_ms), [&] { return !events_.empty(); }))
      return kE_ABORT;
    const Event e = events_.front();
    events_.pop_front();
    *code = e.code;
    *param1 = e.param1;
    *param2 = e.param2;
    return kS_OK;
  }

  HResult WaitForCompletion(uint32_t timeout_ms, int32_t* code) override {
    if (code == nullptr) return kE_POINTER;
    *code = 0;
    {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      if (state_ != FilterState::kRunning) return kVFW_E_WRONG_STATE;
    }
    std::unique_lock<std::mutex> hold(event_lock_);
    if (!event_ready_.wait_for(hold, std::chrono::milliseconds(timeout_ms), [&] { return completion_ != 0; }))
      return kE_ABORT;
    *code = completion_;
    return kS_OK;
  }

  HResult FreeEventParams(int32_t, intptr_t, intptr_t) override { return kS_OK; }

  // ---- IMediaSeeking: through the first filter that seeks ----

  HResult GetDuration(int64_t* duration) override {
    IMediaSeeking* s = Seeker();
    if (s == nullptr) return kE_NOTIMPL;
    HResult r = s->GetDuration(duration);
    s->Release();
    return r;
  }
  HResult GetCurrentPosition(int64_t* position) override {
    if (position == nullptr) return kE_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    ReferenceTime now = 0;
    if (state_ == FilterState::kRunning && clock_ != nullptr) {
      clock_->GetTime(&now);
      *position = seek_base_ + now - run_start_;
    } else {
      *position = seek_base_ + paused_at_;
    }
    return kS_OK;
  }
  HResult GetStopPosition(int64_t* stop) override {
    IMediaSeeking* s = Seeker();
    if (s == nullptr) return kE_NOTIMPL;
    HResult r = s->GetStopPosition(stop);
    s->Release();
    return r;
  }
  HResult SetPositions(const int64_t* current, const int64_t* stop) override {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    IMediaSeeking* s = Seeker();
    if (s == nullptr) return kE_NOTIMPL;
    HResult r = s->SetPositions(current, stop);
    s->Release();
    if (Failed(r) || current == nullptr) return r;
    // The streams start again from the new position: stream time restarts
    // at 0 and every renderer may complete once more.
    seek_base_ = *current;
    ResetCompletion(Ordered());
    paused_at_ = 0;
    if (state_ == FilterState::kRunning && clock_ != nullptr) {
      ReferenceTime now = 0;
      clock_->GetTime(&now);
      for (IBaseFilter* f : Ordered()) f->Run(now);
      run_start_ = now;
    }
    return r;
  }

  // ---- IBasicAudio: the first audio renderer's ----

  HResult put_Volume(int32_t volume) override {
    IBasicAudio* a = Audio();
    if (a == nullptr) return kE_NOTIMPL;
    HResult r = a->put_Volume(volume);
    a->Release();
    return r;
  }
  HResult get_Volume(int32_t* volume) override {
    IBasicAudio* a = Audio();
    if (a == nullptr) return kE_NOTIMPL;
    HResult r = a->get_Volume(volume);
    a->Release();
    return r;
  }

 private:
  struct Entry {
    IBaseFilter* filter;
    std::u16string name;
  };
  struct Event {
    int32_t code;
    intptr_t param1, param2;
  };

  bool NameTaken(const std::u16string& name) const {
    for (const Entry& e : filters_)
      if (e.name == name) return true;
    return false;
  }

  HResult RunAll(ReferenceTime start) {
    run_start_ = start;
    for (IBaseFilter* f : Ordered()) {
      HResult r = f->Run(start);
      if (Failed(r)) {
        Stop();
        return r;
      }
    }
    state_ = FilterState::kRunning;
    return kS_OK;
  }

  // Filters with every downstream filter before them: renderers first.
  std::vector<IBaseFilter*> Ordered() {
    std::vector<IBaseFilter*> order;
    std::vector<std::vector<IBaseFilter*>> downstream(filters_.size());
    for (size_t i = 0; i < filters_.size(); ++i) {
      std::vector<IPin*> outs = PinsOf(filters_[i].filter, PinDirection::kOutput);
      for (IPin* p : outs) {
        IPin* other = nullptr;
        if (p->ConnectedTo(&other) == kS_OK && other != nullptr) {
          IBaseFilter* f = OwnerOf(other);
          if (f != nullptr) {
            downstream[i].push_back(f);
            f->Release();  // the graph holds it
          }
          other->Release();
        }
      }
      ReleaseAll(outs);
    }
    std::vector<bool> placed(filters_.size(), false);
    while (order.size() < filters_.size()) {
      bool progress = false;
      for (size_t i = 0; i < filters_.size(); ++i) {
        if (placed[i]) continue;
        bool ready = true;
        for (IBaseFilter* d : downstream[i])
          if (std::find(order.begin(), order.end(), d) == order.end()) ready = false;
        if (ready) {
          placed[i] = true;
          order.push_back(filters_[i].filter);
          progress = true;
        }
      }
      if (!progress) {
        for (size_t i = 0; i < filters_.size(); ++i)
          if (!placed[i]) {
            placed[i] = true;
            order.push_back(filters_[i].filter);
          }
      }
    }
    return order;
  }

  // Counts the renderers that must complete: filters without output pins
  // whose input is connected.
  void ResetCompletion(const std::vector<IBaseFilter*>& order) {
    int renderers = 0;
    for (IBaseFilter* f : order) {
      std::vector<IPin*> outs = PinsOf(f, PinDirection::kOutput);
      std::vector<IPin*> ins = PinsOf(f, PinDirection::kInput);
      bool connected = false;
      for (IPin* p : ins) connected = connected || PinConnected(p);
      if (outs.empty() && connected) ++renderers;
      ReleaseAll(outs);
      ReleaseAll(ins);
    }
    std::lock_guard<std::mutex> hold(event_lock_);
    renderers_ = renderers;
    completed_.clear();
    complete_posted_ = false;
    completion_ = 0;
    events_.clear();
  }

  IMediaSeeking* Seeker() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    for (const Entry& e : filters_) {
      IMediaSeeking* s = nullptr;
      if (Succeeded(e.filter->QueryInterface(kIID_IMediaSeeking, reinterpret_cast<void**>(&s)))) return s;
    }
    return nullptr;
  }

  IBasicAudio* Audio() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    for (const Entry& e : filters_) {
      IBasicAudio* a = nullptr;
      if (Succeeded(e.filter->QueryInterface(kIID_IBasicAudio, reinterpret_cast<void**>(&a)))) return a;
    }
    return nullptr;
  }

  size_t Mark() const { return filters_.size(); }

  // Removes the filters added since the mark, with their connections.
  void RollBack(size_t mark) {
    while (filters_.size() > mark) RemoveFilter(filters_.back().filter);
  }

  // Renders one output pin: into a free input of a filter in the graph, else
  // through a system filter that takes its type, recursing downstream.
  HResult RenderPin(IPin* out, int depth) {
    if (depth > kMaxRenderDepth) return kVFW_E_CANNOT_RENDER;
    const size_t mark = Mark();
    std::vector<IBaseFilter*> present;
    for (const Entry& e : filters_) present.push_back(e.filter);
    IBaseFilter* self = OwnerOf(out);
    for (IBaseFilter* f : present) {
      if (f == self) continue;
      std::vector<IPin*> ins = PinsOf(f, PinDirection::kInput);
      for (IPin* in : ins) {
        if (PinConnected(in)) continue;
        if (Failed(out->Connect(in, nullptr))) continue;
        HResult r = RenderDownstream(f, depth);
        if (Succeeded(r)) {
          ReleaseAll(ins);
          if (self != nullptr) self->Release();
          return r;
        }
        DisconnectBoth(out);
        RollBack(mark);
      }
      ReleaseAll(ins);
    }
    if (self != nullptr) self->Release();
    return RenderThroughSystemFilter(out, depth, mark);
  }

  HResult RenderThroughSystemFilter(IPin* out, int depth, size_t mark) {
    return ThroughSystemFilters(out, mark, kVFW_E_CANNOT_RENDER,
                                [&](IBaseFilter* filter) { return RenderDownstream(filter, depth + 1); });
  }

  // Tries each system filter that takes a type the output offers: adds it,
  // connects the output to its first input and hands it to `next`; keeps the
  // first one `next` succeeds with and takes the others out again.
  template <class Next>
  HResult ThroughSystemFilters(IPin* out, size_t mark, HResult none, Next next) {
    std::vector<D_CMediaType> offered = OfferedTypes(out);
    int count = 0;
    const SystemFilterEntry* entries = SystemFilters(&count);
    for (int i = 0; i < count; ++i) {
      bool takes = false;
      for (const D_CMediaType& t : offered) takes = takes || entries[i].accepts(t);
      if (!takes) continue;
      IBaseFilter* filter = nullptr;
      if (Failed(entries[i].create(&filter)) || filter == nullptr) continue;
      HResult r = AddFilter(filter, entries[i].name);
      filter->Release();
      if (Failed(r)) continue;
      std::vector<IPin*> ins = PinsOf(filter, PinDirection::kInput);
      const HResult connect = ins.empty() ? kVFW_E_CANNOT_CONNECT : out->Connect(ins[0], nullptr);
      const bool connected = Succeeded(connect);
      // A filter that took the data for its own but found it damaged or
      // too large says more than "nothing renders it".
      if (connect == kVFW_E_INVALID_FILE_FORMAT || connect == kVFW_E_PICTURE_TOO_LARGE) none = connect;
      ReleaseAll(ins);
      if (connected) {
        r = next(filter);
        if (Succeeded(r)) return r;
        DisconnectBoth(out);
      }
      RollBack(mark);
    }
    return none;
  }

  // Renders every free output of a filter just connected; a filter without
  // outputs is a renderer and ends the stream.
  HResult RenderDownstream(IBaseFilter* filter, int depth) {
    std::vector<IPin*> outs = PinsOf(filter, PinDirection::kOutput);
    if (outs.empty()) return kS_OK;
    int rendered = 0, failed = 0;
    for (IPin* p : outs) {
      if (PinConnected(p)) {
        ++rendered;
        continue;
      }
      if (Succeeded(RenderPin(p, depth + 1))) ++rendered;
      else ++failed;
    }
    ReleaseAll(outs);
    if (rendered == 0) return kVFW_E_CANNOT_RENDER;
    return failed > 0 ? kVFW_S_PARTIAL_RENDER : kS_OK;
  }

  // Connects an output to an input, directly or through system filters.
  HResult ConnectThrough(IPin* out, IPin* in, int depth) {
    HResult direct = out->Connect(in, nullptr);
    if (Succeeded(direct)) return direct;
    if (depth >= 3) return direct;
    return ThroughSystemFilters(out, Mark(), direct, [&](IBaseFilter* filter) {
      std::vector<IPin*> outs = PinsOf(filter, PinDirection::kOutput);
      HResult r = kE_FAIL;
      for (IPin* next : outs) {
        if (PinConnected(next)) continue;
        if (Succeeded(ConnectThrough(next, in, depth + 1))) {
          r = kS_OK;
          break;
        }
      }
      ReleaseAll(outs);
      return r;
    });
  }

  static std::vector<D_CMediaType> OfferedTypes(IPin* out) {
    std::vector<D_CMediaType> offered;
    IEnumMediaTypes* e = nullptr;
    if (Succeeded(out->EnumMediaTypes(&e)) && e != nullptr) {
      D_CMediaType* t = nullptr;
      uint32_t fetched = 0;
      while (e->Next(1, &t, &fetched) == kS_OK && fetched == 1) {
        offered.push_back(*t);
        delete t;
        if (offered.size() > 64) break;
      }
      e->Release();
    }
    return offered;
  }

  std::recursive_mutex lock_;
  std::vector<Entry> filters_;
  FilterState state_ = FilterState::kStopped;
  IReferenceClock* clock_ = nullptr;
  ReferenceTime run_start_ = 0;
  ReferenceTime paused_at_ = 0;
  int64_t seek_base_ = 0;

  std::mutex event_lock_;
  std::condition_variable event_ready_;
  std::deque<Event> events_;
  std::set<intptr_t> completed_;
  int renderers_ = 0;
  bool complete_posted_ = false;
  int32_t completion_ = 0;
};

}  // namespace

IReferenceClock* CreateSystemReferenceClock() { return new (std::nothrow) SystemClock(); }

SoundReports TakeSoundReports(IMediaEvent* events) {
  SoundReports reports;
  int32_t code = 0;
  intptr_t param1 = 0, param2 = 0;
  while (events->GetEvent(&code, &param1, &param2, 0) == kS_OK) {
    if (code == kEC_CHANNELS_NOT_MIXED) reports.unmixed_channels = static_cast<int>(param1);
    if (code == kEC_SOUND_NOT_DECODED) reports.not_decoded = true;
  }
  return reports;
}

bool GraphLeavesSoundOut(IFilterGraph* graph) {
  IEnumFilters* filters = nullptr;
  if (graph == nullptr || Failed(graph->EnumFilters(&filters))) return false;
  bool left_out = false;
  IBaseFilter* filter = nullptr;
  uint32_t fetched = 0;
  while (filters->Next(1, &filter, &fetched) == kS_OK && fetched == 1) {
    std::vector<IPin*> outs = PinsOf(filter, PinDirection::kOutput);
    for (IPin* pin : outs) {
      IEnumMediaTypes* types = nullptr;
      if (left_out || PinConnected(pin) || Failed(pin->EnumMediaTypes(&types))) continue;
      D_CMediaType* type = nullptr;
      uint32_t got = 0;
      if (types->Next(1, &type, &got) == kS_OK && got == 1 && type != nullptr) {
        left_out = type->majortype == kMEDIATYPE_Audio;
        delete type;
      }
      types->Release();
    }
    ReleaseAll(outs);
    filter->Release();
  }
  filters->Release();
  return left_out;
}

HResult CreateFilterGraphInstance(void* outer, const Guid& iid, void** out) {
  if (out == nullptr) return kE_POINTER;
  *out = nullptr;
  if (outer != nullptr) return kCLASS_E_NOAGGREGATION;
  auto* graph = new (std::nothrow) FilterGraph();
  if (graph == nullptr) return kE_OUTOFMEMORY;
  graph->NonDelegatingAddRef();
  HResult r = graph->NonDelegatingQueryInterface(iid, out);
  graph->NonDelegatingRelease();
  return r;
}

HResult CreateNullRendererInstance(void* outer, const Guid& iid, void** out) {
  if (out == nullptr) return kE_POINTER;
  *out = nullptr;
  if (outer != nullptr) return kCLASS_E_NOAGGREGATION;
  HResult r = kS_OK;
  auto* renderer = new (std::nothrow) NullRenderer(&r);
  if (renderer == nullptr) return kE_OUTOFMEMORY;
  renderer->NonDelegatingAddRef();
  if (Succeeded(r)) r = renderer->NonDelegatingQueryInterface(iid, out);
  renderer->NonDelegatingRelease();
  return r;
}

}  // namespace plat
