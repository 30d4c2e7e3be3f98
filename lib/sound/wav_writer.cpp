// lib/sound/wav_writer.cpp - the WAV writer filter and its output pin.
#include "lib/sound/wav_writer.h"

#include <cstring>
#include <new>
#include <vector>

using namespace plat;

namespace {

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void PutId(std::vector<uint8_t>& v, const char* id) { v.insert(v.end(), id, id + 4); }

}  // namespace

WavWriterOutputPin::WavWriterOutputPin(D_CTransformFilter* filter, HResult* result)
    : D_CTransformOutputPin("WavWriterOutputPin", filter, result, u"Out") {}

HResult WavWriterOutputPin::CheckMediaType(const D_CMediaType* type) {
  if (type == nullptr) return kE_POINTER;
  return type->majortype == kMEDIATYPE_Stream && type->subtype == kMEDIASUBTYPE_WAVE ? kS_OK : kS_FALSE;
}

WavWriterFilter::WavWriterFilter(IUnknown*, HResult* result) : D_CTransformFilter("WavDest", kCLSID_WavDest) {
  if (result != nullptr && Failed(*result)) return;
  HResult r = kS_OK;
  output_ = new (std::nothrow) WavWriterOutputPin(this, &r);
  if (output_ == nullptr) {
    if (result != nullptr) *result = kE_OUTOFMEMORY;
    return;
  }
  if (Failed(r)) {
    delete output_;
    output_ = nullptr;
    if (result != nullptr) *result = r;
    return;
  }
  input_ = new (std::nothrow) D_CTransformInputPin("WavWriterInputPin", this, &r, u"In");
  if (input_ == nullptr) {
    if (result != nullptr) *result = kE_OUTOFMEMORY;
    return;
  }
  if (Failed(r)) {
    delete input_;
    input_ = nullptr;
    if (result != nullptr) *result = r;
  }
}

WavWriterFilter::~WavWriterFilter() = default;

HResult WavWriterFilter::CheckInputType(const D_CMediaType* type) {
  return type->formattype == kFORMAT_WaveFormatEx ? kS_OK : kS_FALSE;
}

HResult WavWriterFilter::CheckTransform(const D_CMediaType* in, const D_CMediaType*) {
  HResult r = CheckInputType(in);
  return Failed(r) ? r : kS_OK;
}

HResult WavWriterFilter::GetMediaType(int position, D_CMediaType* type) {
  if (position != 0) return kVFW_S_NO_MORE_ITEMS;
  if (type == nullptr) return kE_POINTER;
  type->Clear();
  type->majortype = kMEDIATYPE_Stream;
  type->subtype = kMEDIASUBTYPE_WAVE;
  return kS_OK;
}

HResult WavWriterFilter::DecideBufferSize(IMemAllocator* allocator, AllocatorProperties* props) {
  if (input_ == nullptr || !input_->IsConnected()) return kE_UNEXPECTED;
  if (allocator == nullptr || props == nullptr) return kE_POINTER;
  IMemAllocator* upstream = nullptr;
  HResult r = input_->GetAllocator(&upstream);
  if (Failed(r)) return r;
  AllocatorProperties theirs{};
  r = upstream->GetProperties(&theirs);
  upstream->Release();
  if (Failed(r)) return r;
  props->cBuffers = 1;
  props->cbAlign = 1;
  props->cbBuffer = theirs.cbBuffer;
  AllocatorProperties actual{};
  r = allocator->SetProperties(props, &actual);
  if (Failed(r)) return r;
  if (actual.cBuffers < props->cBuffers || actual.cbBuffer < props->cbBuffer) return kE_FAIL;
  return kS_OK;
}

HResult WavWriterFilter::StartStreaming() {
  data_bytes_ = 0;
  header_size_ = input_->CurrentMediaType().FormatLength() + 28;
  return kS_OK;
}

HResult WavWriterFilter::Transform(IMediaSample* in, IMediaSample* out) {
  uint8_t* from = nullptr;
  uint8_t* to = nullptr;
  in->GetPointer(&from);
  out->GetPointer(&to);
  const int32_t n = in->GetActualDataLength();
  // The output buffer must hold the whole input sample.
  if (n < 0 || n > out->GetSize()) return kE_FAIL;
  if (n > 0) std::memcpy(to, from, static_cast<size_t>(n));
  ReferenceTime start = 0, stop = 0;
  if (in->GetTime(&start, &stop) == kS_OK) out->SetTime(&start, &stop);
  int64_t mstart = 0, mstop = 0;
  if (in->GetMediaTime(&mstart, &mstop) == kS_OK) out->SetMediaTime(&mstart, &mstop);
  D_CMediaType* type = nullptr;
  if (in->GetMediaType(&type) == kS_OK && type != nullptr) {
    out->SetMediaType(type);
    delete type;
  }
  out->SetActualDataLength(n);
  const uint64_t end = static_cast<uint64_t>(data_bytes_) + header_size_ + static_cast<uint32_t>(n);
  if (end > 0xFFFFFFFFu) return kE_FAIL;
  ReferenceTime file_start = static_cast<ReferenceTime>(data_bytes_) + header_size_;
  ReferenceTime file_stop = file_start + n;
  out->SetTime(&file_start, &file_stop);
  data_bytes_ += static_cast<uint32_t>(n);
  return kS_OK;
}

HResult WavWriterFilter::Receive(IMediaSample* sample) {
  const uint32_t before = data_bytes_;
  HResult r = D_CTransformFilter::Receive(sample);
  if (r != kS_OK) data_bytes_ = before;
  return r;
}

HResult WavWriterFilter::StopStreaming() {
  if (output_ == nullptr || !output_->IsConnected()) return kE_FAIL;
  IStream* stream = nullptr;
  HResult r = output_->GetConnected()->QueryInterface(kIID_IStream, reinterpret_cast<void**>(&stream));
  if (Failed(r)) return r;
  const D_CMediaType& in = input_->CurrentMediaType();
  const uint32_t format_size = in.FormatLength();
  std::vector<uint8_t> header;
  PutId(header, "RIFF");
  Put32(header, data_bytes_ + header_size_ - 8);
  PutId(header, "WAVE");
  PutId(header, "fmt ");
  Put32(header, format_size);
  if (format_size > 0) header.insert(header.end(), in.format.begin(), in.format.end());
  PutId(header, "data");
  Put32(header, data_bytes_);
  uint64_t at = 0;
  r = stream->Seek(0, 0, &at);
  if (Succeeded(r)) {
    uint32_t written = 0;
    r = stream->Write(header.data(), static_cast<uint32_t>(header.size()), &written);
  }
  stream->Release();
  return r;
}

WavWriterFilter* CreateWavWriterFilter(IUnknown* outer, HResult* result) {
  HResult r = kS_OK;
  auto* filter = new (std::nothrow) WavWriterFilter(outer, result != nullptr ? result : &r);
  return filter;
}
