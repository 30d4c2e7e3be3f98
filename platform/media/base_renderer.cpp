// platform/media/base_renderer.cpp - the base renderer: sample timing on the
// graph's clock, holding while paused, end of stream reported as
// EC_COMPLETE once running, and flushing.
#include <chrono>
#include <mutex>
#include <vector>

#include "platform/media/base_classes.h"

namespace plat {

namespace {

std::mutex g_renderers_lock;
std::vector<const D_CBaseRenderer*> g_renderers;

}  // namespace

D_CRendererInputPin::D_CRendererInputPin(D_CBaseRenderer* renderer, HResult* result, const char16_t* name)
    : D_CBaseInputPin("renderer input", renderer, renderer->FilterLock(), result, name), renderer_(renderer) {}

HResult D_CRendererInputPin::CheckMediaType(const D_CMediaType* type) { return renderer_->CheckMediaType(type); }

HResult D_CRendererInputPin::SetMediaType(const D_CMediaType* type) {
  HResult r = D_CBasePin::SetMediaType(type);
  return Failed(r) ? r : renderer_->SetMediaType(type);
}

HResult D_CRendererInputPin::BreakConnect() {
  renderer_->BreakConnect();
  return D_CBaseInputPin::BreakConnect();
}

HResult D_CRendererInputPin::CompleteConnect(IPin* pin) {
  HResult r = renderer_->CompleteConnect(pin);
  return Failed(r) ? r : D_CBaseInputPin::CompleteConnect(pin);
}

HResult D_CRendererInputPin::Receive(IMediaSample* sample) {
  HResult r = D_CBaseInputPin::Receive(sample);
  if (r != kS_OK) return r;
  return renderer_->Receive(sample);
}

HResult D_CRendererInputPin::EndOfStream() {
  HResult r = CheckStreaming();
  if (r != kS_OK) return r;
  return renderer_->EndOfStream();
}

HResult D_CRendererInputPin::BeginFlush() {
  D_CBaseInputPin::BeginFlush();
  return renderer_->BeginFlush();
}

HResult D_CRendererInputPin::EndFlush() {
  HResult r = renderer_->EndFlush();
  D_CBaseInputPin::EndFlush();
  return r;
}

D_CBaseRenderer::D_CBaseRenderer(const Guid& clsid, const char* name, HResult* result)
    : D_CBaseFilter(name, &renderer_lock_, clsid) {
  input_ = new (std::nothrow) D_CRendererInputPin(this, result, u"In");
  if (input_ == nullptr && result != nullptr) *result = kE_OUTOFMEMORY;
  std::lock_guard<std::mutex> hold(g_renderers_lock);
  g_renderers.push_back(this);
}

D_CBaseRenderer::~D_CBaseRenderer() {
  {
    std::lock_guard<std::mutex> hold(g_renderers_lock);
    std::erase(g_renderers, this);
  }
  delete input_;
}

D_CBasePin* D_CBaseRenderer::GetPin(int n) { return n == 0 ? input_ : nullptr; }

void D_CBaseRenderer::WakeWaiters() {
  std::lock_guard<std::mutex> hold(wait_lock_);
  ++wake_count_;
  wake_.notify_all();
}

HResult D_CBaseRenderer::Stop() {
  renderer_lock_.Enter();
  state_ = FilterState::kStopped;
  WakeWaiters();
  // A sample being rendered finishes before the renderer counts as stopped.
  {
    std::lock_guard<std::recursive_mutex> hold(render_lock_);
    end_of_stream_ = false;
    complete_sent_ = false;
    OnStopStreaming();
  }
  HResult r = D_CBaseFilter::Stop();
  renderer_lock_.Leave();
  return r;
}

HResult D_CBaseRenderer::Pause() {
  renderer_lock_.Enter();
  HResult r = D_CBaseFilter::Pause();
  WakeWaiters();
  renderer_lock_.Leave();
  return r;
}

HResult D_CBaseRenderer::Run(ReferenceTime start) {
  renderer_lock_.Enter();
  HResult r = D_CBaseFilter::Run(start);
  // An end of stream that came while paused is reported now.
  if (Succeeded(r) && end_of_stream_.load() && !complete_sent_.exchange(true)) NotifyEvent(kEC_COMPLETE, kS_OK, 0);
  WakeWaiters();
  renderer_lock_.Leave();
  return r;
}

int MediaRenderersParkedAt(ReferenceTime time) {
  std::lock_guard<std::mutex> hold(g_renderers_lock);
  int n = 0;
  for (const D_CBaseRenderer* r : g_renderers) n += r->ParkedAt() == time ? 1 : 0;
  return n;
}

bool MediaRenderersSettledAt(ReferenceTime time) {
  std::lock_guard<std::mutex> hold(g_renderers_lock);
  for (const D_CBaseRenderer* r : g_renderers) {
    if (r->ParkedAt() == time || r->StreamEnded()) continue;
    auto* self = const_cast<D_CBaseRenderer*>(r);
    if (self->InputPin() != nullptr && self->InputPin()->IsConnected()) return false;
  }
  return true;
}

HResult D_CBaseRenderer::WaitForRenderTime(IMediaSample* sample) {
  for (;;) {
    std::unique_lock<std::mutex> hold(wait_lock_);
    const int seen = wake_count_.load();
    const FilterState state = state_.load();
    if (state == FilterState::kStopped) return kVFW_E_WRONG_STATE;
    if (flushing_.load()) return kS_FALSE;
    // Timed waits count real time; a virtual clock is looked at again
    // every few milliseconds.
    std::chrono::milliseconds wait{IsVirtualClock() ? 2 : 10};
    if (state == FilterState::kRunning) {
      ReferenceTime clock_now = 0, start = 0, stop = 0;
      if (clock_ == nullptr || sample->GetTime(&start, &stop) == kVFW_E_SAMPLE_TIME_NOT_SET) return kS_OK;
      if (Failed(clock_->GetTime(&clock_now))) return kS_OK;
      const ReferenceTime now = clock_now - start_.load();
      const ReferenceTime due = start - RenderAhead();
      if (now >= due) return kS_OK;
      parked_at_ = clock_now;
      const ReferenceTime left_ms = (due - now) / 10000 + 1;
      if (left_ms < wait.count()) wait = std::chrono::milliseconds(left_ms);
    }
    wake_.wait_for(hold, wait, [&] { return wake_count_.load() != seen; });
  }
}

HResult D_CBaseRenderer::Receive(IMediaSample* sample) {
  HResult r = WaitForRenderTime(sample);
  parked_at_ = -1;
  if (r != kS_OK) return r;
  std::lock_guard<std::recursive_mutex> hold(render_lock_);
  if (state_.load() == FilterState::kStopped) return kVFW_E_WRONG_STATE;
  if (flushing_.load()) return kS_FALSE;
  return DoRenderSample(sample);
}

HResult D_CBaseRenderer::EndOfStream() {
  std::lock_guard<std::recursive_mutex> hold(render_lock_);
  if (state_.load() == FilterState::kStopped) return kVFW_E_WRONG_STATE;
  if (flushing_.load()) return kS_FALSE;
  end_of_stream_ = true;
  if (state_.load() == FilterState::kRunning && !complete_sent_.exchange(true)) NotifyEvent(kEC_COMPLETE, kS_OK, 0);
  return kS_OK;
}

HResult D_CBaseRenderer::BeginFlush() {
  flushing_ = true;
  WakeWaiters();
  std::lock_guard<std::recursive_mutex> hold(render_lock_);
  OnBeginFlush();
  return kS_OK;
}

HResult D_CBaseRenderer::EndFlush() {
  std::lock_guard<std::recursive_mutex> hold(render_lock_);
  end_of_stream_ = false;
  complete_sent_ = false;
  flushing_ = false;
  return kS_OK;
}

}  // namespace plat
