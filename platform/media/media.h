// platform/media/media.h - the media framework's shared vocabulary: result
// codes, media-type and format identifiers, the media type record, and the
// interfaces through which filters, pins, allocators, samples, the graph
// manager and its clock talk to each other.
//
// The interfaces are reference counted in the component-object manner:
// QueryInterface hands out another face of the same object with one more
// reference, Release drops one and the last one destroys the object. Pins
// count on their filter. Times are in 100-nanosecond units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/kernel/com.h"
#include "platform/audio/dsound.h"

namespace plat {

using ReferenceTime = int64_t;
constexpr ReferenceTime kUnitsPerSecond = 10000000;

// ---- Result codes ---------------------------------------------------------

constexpr HResult kE_NOTIMPL = static_cast<HResult>(0x80004001u);
constexpr HResult kE_ABORT = static_cast<HResult>(0x80004004u);
constexpr HResult kE_UNEXPECTED = static_cast<HResult>(0x8000FFFFu);
constexpr HResult kOLE_S_FIRST = 0x00040000;
constexpr HResult kVFW_S_NO_MORE_ITEMS = 0x00040103;
constexpr HResult kVFW_S_PARTIAL_RENDER = 0x00040242;
constexpr HResult kVFW_E_INVALIDMEDIATYPE = static_cast<HResult>(0x80040200u);
constexpr HResult kVFW_E_NEED_OWNER = static_cast<HResult>(0x80040201u);
constexpr HResult kVFW_E_ALREADY_CONNECTED = static_cast<HResult>(0x80040204u);
constexpr HResult kVFW_E_NO_ACCEPTABLE_TYPES = static_cast<HResult>(0x80040207u);
constexpr HResult kVFW_E_INVALID_DIRECTION = static_cast<HResult>(0x80040208u);
constexpr HResult kVFW_E_NOT_CONNECTED = static_cast<HResult>(0x80040209u);
constexpr HResult kVFW_E_NO_ALLOCATOR = static_cast<HResult>(0x8004020Au);
constexpr HResult kVFW_E_BADALIGN = static_cast<HResult>(0x8004020Eu);
constexpr HResult kVFW_E_NOT_COMMITTED = static_cast<HResult>(0x80040211u);
constexpr HResult kVFW_E_NOT_FOUND = static_cast<HResult>(0x80040216u);
constexpr HResult kVFW_E_CANNOT_CONNECT = static_cast<HResult>(0x80040217u);
constexpr HResult kVFW_E_CANNOT_RENDER = static_cast<HResult>(0x80040218u);
constexpr HResult kVFW_E_NOT_STOPPED = static_cast<HResult>(0x80040224u);
constexpr HResult kVFW_E_WRONG_STATE = static_cast<HResult>(0x80040227u);
constexpr HResult kVFW_E_TYPE_NOT_ACCEPTED = static_cast<HResult>(0x8004022Au);
constexpr HResult kVFW_E_TIMEOUT = static_cast<HResult>(0x8004022Eu);
// The file's data is damaged (a source refuses it for that, not for its kind).
constexpr HResult kVFW_E_INVALID_FILE_FORMAT = static_cast<HResult>(0x8004022Fu);
// The file's picture is past the frame size limit (a source refuses it for
// that, before any frame memory is asked for).
constexpr HResult kVFW_E_PICTURE_TOO_LARGE = static_cast<HResult>(0x800402F0u);
constexpr HResult kVFW_E_INVALID_MEDIA_TYPE = static_cast<HResult>(0x80040248u);
constexpr HResult kVFW_E_SAMPLE_TIME_NOT_SET = static_cast<HResult>(0x80040249u);
constexpr HResult kVFW_E_UNSUPPORTED_STREAM = static_cast<HResult>(0x80040265u);

inline bool Succeeded(HResult r) { return r >= 0; }
inline bool Failed(HResult r) { return r < 0; }

// ---- Events the graph reports ------------------------------------------------

constexpr int32_t kEC_COMPLETE = 1;
constexpr int32_t kEC_USERABORT = 2;
constexpr int32_t kEC_ERRORABORT = 3;
// A decoder passes over sound whose channels it cannot mix down to what it
// delivers; param1 is their count. Sent at the first such frame of a run.
// (Codes from 0x8000 on are the application's own.)
constexpr int32_t kEC_CHANNELS_NOT_MIXED = 0x8001;
// A decoder's sound stream ends with no frame decoded since its codec opened
// and a packet of it refused as damaged: its sound decodes to nothing. Sent
// at the end of each such run.
constexpr int32_t kEC_SOUND_NOT_DECODED = 0x8002;

// ---- Identifiers ----------------------------------------------------------------

constexpr Guid kGUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

constexpr Guid kMEDIATYPE_Stream = {0xE436EB83, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr Guid kMEDIATYPE_Audio = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr Guid kMEDIATYPE_Video = {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr Guid kMEDIASUBTYPE_MPEG1Audio = {0xE436EB87, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr Guid kMEDIASUBTYPE_WAVE = {0xE436EB8B, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr Guid kMEDIASUBTYPE_PCM = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr Guid kMEDIASUBTYPE_RGB24 = {0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
// Coded packets as the demultiplexer hands them to its decoders; the format
// block is a CodedStreamFormat followed by the codec's set-up bytes.
constexpr Guid kMEDIASUBTYPE_CodedPackets = {0x52524D01, 0x0001, 0x4D45, {0x44, 0x49, 0x41, 0x50, 0x4B, 0x54, 0x00, 0x01}};
constexpr Guid kFORMAT_WaveFormatEx = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr Guid kFORMAT_VideoInfo = {0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr Guid kFORMAT_CodedStream = {0x52524D01, 0x0002, 0x4D45, {0x44, 0x49, 0x41, 0x46, 0x4D, 0x54, 0x00, 0x01}};

constexpr Guid kCLSID_FilterGraph = {0xE436EBB3, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr Guid kCLSID_NullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

constexpr Guid kIID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr Guid kIID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr Guid kIID_IBaseFilter = {0x56A86895, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr Guid kIID_IGraphBuilder = {0x56A868A9, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr Guid kIID_IMediaFilter = {0x56A86899, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr Guid kIID_IMediaControl = {0x56A868B1, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr Guid kIID_IMediaEvent = {0x56A868B6, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr Guid kIID_IAsyncReader = {0x56A868AA, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr Guid kIID_IMemAllocator = {0x56A8689C, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
// Faces this framework names for itself.
constexpr Guid kIID_IPin = {0x52524D02, 0x0001, 0x4D45, {0x44, 0x49, 0x41, 0x00, 0x00, 0x00, 0x00, 0x01}};
constexpr Guid kIID_IMemInputPin = {0x52524D02, 0x0002, 0x4D45, {0x44, 0x49, 0x41, 0x00, 0x00, 0x00, 0x00, 0x02}};
constexpr Guid kIID_IMediaSample = {0x52524D02, 0x0003, 0x4D45, {0x44, 0x49, 0x41, 0x00, 0x00, 0x00, 0x00, 0x03}};
constexpr Guid kIID_IFilterGraph = {0x52524D02, 0x0004, 0x4D45, {0x44, 0x49, 0x41, 0x00, 0x00, 0x00, 0x00, 0x04}};
constexpr Guid kIID_IMediaSeeking = {0x52524D02, 0x0005, 0x4D45, {0x44, 0x49, 0x41, 0x00, 0x00, 0x00, 0x00, 0x05}};
constexpr Guid kIID_IMediaEventSink = {0x52524D02, 0x0006, 0x4D45, {0x44, 0x49, 0x41, 0x00, 0x00, 0x00, 0x00, 0x06}};
constexpr Guid kIID_IReferenceClock = {0x52524D02, 0x0007, 0x4D45, {0x44, 0x49, 0x41, 0x00, 0x00, 0x00, 0x00, 0x07}};
constexpr Guid kIID_IEnumPins = {0x52524D02, 0x0008, 0x4D45, {0x44, 0x49, 0x41, 0x00, 0x00, 0x00, 0x00, 0x08}};
constexpr Guid kIID_IEnumMediaTypes = {0x52524D02, 0x0009, 0x4D45, {0x44, 0x49, 0x41, 0x00, 0x00, 0x00, 0x00, 0x09}};
constexpr Guid kIID_IEnumFilters = {0x52524D02, 0x000A, 0x4D45, {0x44, 0x49, 0x41, 0x00, 0x00, 0x00, 0x00, 0x0A}};
constexpr Guid kIID_IBasicAudio = {0x52524D02, 0x000B, 0x4D45, {0x44, 0x49, 0x41, 0x00, 0x00, 0x00, 0x00, 0x0B}};

// ---- Records ------------------------------------------------------------------

// A media type: major type, subtype, sample shape and a format block
// described by its format type. Copies carry their own format block.
struct D_CMediaType {
  Guid majortype = kGUID_NULL;
  Guid subtype = kGUID_NULL;
  int32_t bFixedSizeSamples = 1;
  int32_t bTemporalCompression = 0;
  uint32_t lSampleSize = 1;
  Guid formattype = kGUID_NULL;
  std::vector<uint8_t> format;

  const uint8_t* Format() const { return format.empty() ? nullptr : format.data(); }
  uint32_t FormatLength() const { return static_cast<uint32_t>(format.size()); }
  void SetFormat(const void* data, size_t size);
  // Empties the record (all identifiers null, no format block).
  void Clear() { *this = D_CMediaType{}; }
  // True when every identifier that this type leaves null or names matches:
  // the test a pin's partial type makes against an offered one.
  bool MatchesPartial(const D_CMediaType& other) const;
};

// The type of 16-bit interleaved PCM at a rate and channel count.
D_CMediaType Pcm16MediaType(uint32_t rate, int channels);

struct AllocatorProperties {
  int32_t cBuffers;
  int32_t cbBuffer;
  int32_t cbAlign;
  int32_t cbPrefix;
};

#pragma pack(push, 2)
struct BitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;  // positive: rows stored bottom-up
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
struct VideoInfoHeader {
  int32_t rcSource[4];
  int32_t rcTarget[4];
  uint32_t dwBitRate;
  uint32_t dwBitErrorRate;
  ReferenceTime AvgTimePerFrame;
  BitmapInfoHeader bmiHeader;
};
#pragma pack(pop)

// Head of the format block of a coded packet stream.
struct CodedStreamFormat {
  int32_t codec_id;        // the decoding library's codec number
  int32_t sample_rate;
  int32_t channels;
  int32_t width;
  int32_t height;
  int32_t bits_per_coded_sample;
  int32_t block_align;
  int32_t time_base_num;   // packet times are in this base
  int32_t time_base_den;
  int64_t bit_rate;
  uint32_t extradata_size; // set-up bytes following this record
  uint64_t channel_mask;   // the channels' layout as the file names them; 0 when it names none
};

enum class PinDirection : int32_t { kInput = 0, kOutput = 1 };
enum class FilterState : int32_t { kStopped = 0, kPaused = 1, kRunning = 2 };

struct IBaseFilter;
struct IFilterGraph;

struct PinInfo {
  IBaseFilter* pFilter;  // holds a reference
  PinDirection dir;
  char16_t achName[128];
};
struct FilterInfo {
  char16_t achName[128];
  IFilterGraph* pGraph;  // holds a reference when not null
};

// ---- Interfaces -------------------------------------------------------------------

struct IUnknown {
  virtual HResult QueryInterface(const Guid& iid, void** out) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IMediaSample : IUnknown {
  virtual HResult GetPointer(uint8_t** buffer) = 0;
  virtual int32_t GetSize() = 0;
  virtual HResult GetTime(ReferenceTime* start, ReferenceTime* stop) = 0;
  virtual HResult SetTime(const ReferenceTime* start, const ReferenceTime* stop) = 0;
  virtual HResult IsSyncPoint() = 0;
  virtual HResult SetSyncPoint(int32_t sync) = 0;
  virtual HResult IsPreroll() = 0;
  virtual HResult SetPreroll(int32_t preroll) = 0;
  virtual int32_t GetActualDataLength() = 0;
  virtual HResult SetActualDataLength(int32_t length) = 0;
  // *type is a new record for the caller to delete, or null (S_FALSE) when
  // the type did not change.
  virtual HResult GetMediaType(D_CMediaType** type) = 0;
  virtual HResult SetMediaType(const D_CMediaType* type) = 0;
  virtual HResult IsDiscontinuity() = 0;
  virtual HResult SetDiscontinuity(int32_t discontinuity) = 0;
  virtual HResult GetMediaTime(int64_t* start, int64_t* stop) = 0;
  virtual HResult SetMediaTime(const int64_t* start, const int64_t* stop) = 0;
};

struct IMemAllocator : IUnknown {
  virtual HResult SetProperties(const AllocatorProperties* request, AllocatorProperties* actual) = 0;
  virtual HResult GetProperties(AllocatorProperties* props) = 0;
  virtual HResult Commit() = 0;
  virtual HResult Decommit() = 0;
  // Waits for a free sample unless flags has bit 1 (no wait): VFW_E_TIMEOUT.
  virtual HResult GetBuffer(IMediaSample** sample, ReferenceTime* start, ReferenceTime* stop, uint32_t flags) = 0;
  virtual HResult ReleaseBuffer(IMediaSample* sample) = 0;
};
constexpr uint32_t kAM_GBF_NOWAIT = 4;

struct IEnumMediaTypes : IUnknown {
  // Each type handed out is a new record for the caller to delete.
  virtual HResult Next(uint32_t count, D_CMediaType** types, uint32_t* fetched) = 0;
  virtual HResult Skip(uint32_t count) = 0;
  virtual HResult Reset() = 0;
};

struct IPin : IUnknown {
  virtual HResult Connect(IPin* receive_pin, const D_CMediaType* type) = 0;
  virtual HResult ReceiveConnection(IPin* connector, const D_CMediaType* type) = 0;
  virtual HResult Disconnect() = 0;
  virtual HResult ConnectedTo(IPin** pin) = 0;
  virtual HResult ConnectionMediaType(D_CMediaType* type) = 0;
  virtual HResult QueryPinInfo(PinInfo* info) = 0;
  virtual HResult QueryDirection(PinDirection* direction) = 0;
  virtual HResult QueryAccept(const D_CMediaType* type) = 0;
  virtual HResult EnumMediaTypes(IEnumMediaTypes** types) = 0;
  virtual HResult EndOfStream() = 0;
  virtual HResult BeginFlush() = 0;
  virtual HResult EndFlush() = 0;
  virtual HResult NewSegment(ReferenceTime start, ReferenceTime stop, double rate) = 0;
};

struct IMemInputPin : IUnknown {
  virtual HResult GetAllocator(IMemAllocator** allocator) = 0;
  virtual HResult NotifyAllocator(IMemAllocator* allocator, int32_t read_only) = 0;
  virtual HResult GetAllocatorRequirements(AllocatorProperties* props) = 0;
  virtual HResult Receive(IMediaSample* sample) = 0;
  virtual HResult ReceiveCanBlock() = 0;
};

struct IAsyncReader : IUnknown {
  virtual HResult RequestAllocator(IMemAllocator* preferred, AllocatorProperties* props,
                                   IMemAllocator** actual) = 0;
  virtual HResult Request(IMediaSample* sample, uintptr_t user) = 0;
  virtual HResult WaitForNext(uint32_t timeout_ms, IMediaSample** sample, uintptr_t* user) = 0;
  virtual HResult SyncReadAligned(IMediaSample* sample) = 0;
  virtual HResult SyncRead(int64_t position, int32_t length, uint8_t* buffer) = 0;
  virtual HResult Length(int64_t* total, int64_t* available) = 0;
  virtual HResult BeginFlush() = 0;
  virtual HResult EndFlush() = 0;
};

struct IEnumPins : IUnknown {
  virtual HResult Next(uint32_t count, IPin** pins, uint32_t* fetched) = 0;
  virtual HResult Skip(uint32_t count) = 0;
  virtual HResult Reset() = 0;
};

struct IReferenceClock : IUnknown {
  virtual HResult GetTime(ReferenceTime* time) = 0;
};

struct IMediaFilter : IUnknown {
  virtual HResult Stop() = 0;
  virtual HResult Pause() = 0;
  virtual HResult Run(ReferenceTime start) = 0;
  virtual HResult GetState(uint32_t timeout_ms, FilterState* state) = 0;
  virtual HResult SetSyncSource(IReferenceClock* clock) = 0;
  virtual HResult GetSyncSource(IReferenceClock** clock) = 0;
};

struct IBaseFilter : IMediaFilter {
  virtual HResult GetClassID(Guid* clsid) = 0;
  virtual HResult EnumPins(IEnumPins** pins) = 0;
  virtual HResult QueryFilterInfo(FilterInfo* info) = 0;
  virtual HResult JoinFilterGraph(IFilterGraph* graph, const char16_t* name) = 0;
};

struct IEnumFilters : IUnknown {
  virtual HResult Next(uint32_t count, IBaseFilter** filters, uint32_t* fetched) = 0;
  virtual HResult Skip(uint32_t count) = 0;
  virtual HResult Reset() = 0;
};

struct IFilterGraph : IUnknown {
  virtual HResult AddFilter(IBaseFilter* filter, const char16_t* name) = 0;
  virtual HResult RemoveFilter(IBaseFilter* filter) = 0;
  virtual HResult EnumFilters(IEnumFilters** filters) = 0;
  virtual HResult FindFilterByName(const char16_t* name, IBaseFilter** filter) = 0;
  virtual HResult ConnectDirect(IPin* out, IPin* in, const D_CMediaType* type) = 0;
  virtual HResult Disconnect(IPin* pin) = 0;
};

struct IGraphBuilder : IFilterGraph {
  virtual HResult Connect(IPin* out, IPin* in) = 0;
  virtual HResult Render(IPin* out) = 0;
  virtual HResult RenderFile(const char16_t* file, const char16_t* reserved) = 0;
};

struct IMediaControl : IUnknown {
  virtual HResult Run() = 0;
  virtual HResult Pause() = 0;
  virtual HResult Stop() = 0;
  virtual HResult GetState(uint32_t timeout_ms, FilterState* state) = 0;
};

struct IMediaEvent : IUnknown {
  virtual HResult GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2, uint32_t timeout_ms) = 0;
  // S_OK with the event code once every renderer has finished (EC_COMPLETE)
  // or streaming failed (EC_ERRORABORT); E_ABORT when the time runs out.
  virtual HResult WaitForCompletion(uint32_t timeout_ms, int32_t* code) = 0;
  virtual HResult FreeEventParams(int32_t code, intptr_t param1, intptr_t param2) = 0;
};

struct IMediaEventSink : IUnknown {
  virtual HResult Notify(int32_t code, intptr_t param1, intptr_t param2) = 0;
};

// Seeking in media time (100 ns units).
struct IMediaSeeking : IUnknown {
  virtual HResult GetDuration(int64_t* duration) = 0;
  virtual HResult GetCurrentPosition(int64_t* position) = 0;
  virtual HResult GetStopPosition(int64_t* stop) = 0;
  // Null pointers leave that end alone.
  virtual HResult SetPositions(const int64_t* current, const int64_t* stop) = 0;
};

// The volume of an audio renderer in hundredths of a decibel (0 = full).
struct IBasicAudio : IUnknown {
  virtual HResult put_Volume(int32_t volume) = 0;
  virtual HResult get_Volume(int32_t* volume) = 0;
};

// A byte stream a file writer offers upstream.
struct IStream : IUnknown {
  virtual HResult Read(void* buffer, uint32_t bytes, uint32_t* read) = 0;
  virtual HResult Write(const void* buffer, uint32_t bytes, uint32_t* written) = 0;
  // origin 0 = from the start, 1 = from the current position, 2 = from the end.
  virtual HResult Seek(int64_t offset, uint32_t origin, uint64_t* position) = 0;
};

// Releases *p and sets it to null when it is not null.
template <typename T>
void SafeRelease(T** p) {
  if (*p != nullptr) {
    (*p)->Release();
    *p = nullptr;
  }
}

}  // namespace plat
