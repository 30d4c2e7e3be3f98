// platform/audio/dsound.h - a sound device in the manner the library's sound code was
// written for: one device object with a cooperative level, a primary buffer
// that carries the output format, and secondary buffers of PCM samples that
// play once or looping, with play and write cursors, two-piece locks, volume
// and pan in hundredths of a decibel, and frequency.
//
// Owns: the mixer (linear resampling, volume, pan) and the output: SDL2 audio
// (this file's owner is the one place that starts SDL's audio subsystem) or a
// null output whose clock moves only when a test renders frames.
// Does not own: decoding of any file format.
#pragma once

#include <cstdint>

#include "platform/kernel/com.h"

namespace plat {

#pragma pack(push, 2)
// The 18-byte wave format record, laid out as it is stored in WAVE files.
struct WaveFormatEx {
  uint16_t format_tag;
  uint16_t channels;
  uint32_t samples_per_sec;
  uint32_t avg_bytes_per_sec;
  uint16_t block_align;
  uint16_t bits_per_sample;
  uint16_t extra_size;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormatEx) == 18, "wave format is 18 bytes");

constexpr uint16_t kWaveFormatPcm = 1;

// Buffer capability flags.
constexpr uint32_t kDSBCAPS_PRIMARYBUFFER = 0x00000001;
constexpr uint32_t kDSBCAPS_STATIC = 0x00000002;
constexpr uint32_t kDSBCAPS_LOCHARDWARE = 0x00000004;
constexpr uint32_t kDSBCAPS_LOCSOFTWARE = 0x00000008;
constexpr uint32_t kDSBCAPS_CTRLFREQUENCY = 0x00000020;
constexpr uint32_t kDSBCAPS_CTRLPAN = 0x00000040;
constexpr uint32_t kDSBCAPS_CTRLVOLUME = 0x00000080;
constexpr uint32_t kDSBCAPS_GLOBALFOCUS = 0x00008000;
constexpr uint32_t kDSBCAPS_GETCURRENTPOSITION2 = 0x00010000;
// This device's own: the mixer turns what it has played to silence, so that
// a looping stream buffer whose writer falls behind plays silence rather
// than its last lap again.
constexpr uint32_t kDSBCAPS_SILENCEPLAYED = 0x40000000;

constexpr uint32_t kDSBPLAY_LOOPING = 0x1;
constexpr uint32_t kDSBSTATUS_PLAYING = 0x1;
constexpr uint32_t kDSBSTATUS_BUFFERLOST = 0x2;
constexpr uint32_t kDSBSTATUS_LOOPING = 0x4;
constexpr uint32_t kDSBLOCK_FROMWRITECURSOR = 0x1;
constexpr uint32_t kDSBLOCK_ENTIREBUFFER = 0x2;

constexpr uint32_t kDSSCL_NORMAL = 1;
constexpr uint32_t kDSSCL_PRIORITY = 2;
constexpr uint32_t kDSSCL_EXCLUSIVE = 3;
constexpr uint32_t kDSSCL_WRITEPRIMARY = 4;

// Device capability flags.
constexpr uint32_t kDSCAPS_PRIMARYMONO = 0x0001;
constexpr uint32_t kDSCAPS_PRIMARYSTEREO = 0x0002;
constexpr uint32_t kDSCAPS_PRIMARY8BIT = 0x0004;
constexpr uint32_t kDSCAPS_PRIMARY16BIT = 0x0008;
constexpr uint32_t kDSCAPS_CONTINUOUSRATE = 0x0010;
constexpr uint32_t kDSCAPS_EMULDRIVER = 0x0020;
constexpr uint32_t kDSCAPS_SECONDARYMONO = 0x0100;
constexpr uint32_t kDSCAPS_SECONDARYSTEREO = 0x0200;
constexpr uint32_t kDSCAPS_SECONDARY8BIT = 0x0400;
constexpr uint32_t kDSCAPS_SECONDARY16BIT = 0x0800;

constexpr int32_t kDSBVOLUME_MIN = -10000;
constexpr int32_t kDSBVOLUME_MAX = 0;
constexpr int32_t kDSBPAN_LEFT = -10000;
constexpr int32_t kDSBPAN_RIGHT = 10000;
constexpr uint32_t kDSBFREQUENCY_ORIGINAL = 0;
constexpr uint32_t kDSBFREQUENCY_MIN = 100;
constexpr uint32_t kDSBFREQUENCY_MAX = 200000;
constexpr uint32_t kDSBSIZE_MIN = 4;
constexpr uint32_t kDSBSIZE_MAX = 0x0FFFFFFF;

// Result codes (all failures are negative).
constexpr HResult kDS_OK = 0;
constexpr HResult kDSERR_ALLOCATED = static_cast<HResult>(0x8878000Au);
constexpr HResult kDSERR_CONTROLUNAVAIL = static_cast<HResult>(0x8878001Eu);
constexpr HResult kDSERR_INVALIDPARAM = kE_INVALIDARG;
constexpr HResult kDSERR_INVALIDCALL = static_cast<HResult>(0x88780032u);
constexpr HResult kDSERR_PRIOLEVELNEEDED = static_cast<HResult>(0x88780046u);
constexpr HResult kDSERR_BADFORMAT = static_cast<HResult>(0x88780064u);
constexpr HResult kDSERR_NODRIVER = static_cast<HResult>(0x88780078u);
constexpr HResult kDSERR_ALREADYINITIALIZED = static_cast<HResult>(0x88780082u);
constexpr HResult kDSERR_UNINITIALIZED = static_cast<HResult>(0x887800AAu);
constexpr HResult kDSERR_OUTOFMEMORY = kE_OUTOFMEMORY;

struct DsBufferDesc {
  uint32_t size;           // of this record
  uint32_t flags;          // kDSBCAPS_*
  uint32_t buffer_bytes;   // 0 for the primary buffer
  uint32_t reserved;
  const WaveFormatEx* format;  // null for the primary buffer
};

struct DsCaps {
  uint32_t size;
  uint32_t flags;  // kDSCAPS_*
  uint32_t min_secondary_sample_rate;
  uint32_t max_secondary_sample_rate;
  uint32_t primary_buffers;
  uint32_t max_hw_mixing_all_buffers;
  uint32_t max_hw_mixing_static_buffers;
  uint32_t max_hw_mixing_streaming_buffers;
  uint32_t free_hw_mixing_all_buffers;
  uint32_t total_hw_mem_bytes;
  uint32_t free_hw_mem_bytes;
  uint32_t max_contig_free_hw_mem_bytes;
};

class DirectSound;
struct SoundBufferState;  // internal
struct AudioDevice;       // internal

// A primary or secondary sound buffer. Reference counted; the last Release
// stops it and frees it.
class DirectSoundBuffer {
 public:
  uint32_t AddRef();
  uint32_t Release();
  // flags: kDSBPLAY_LOOPING or 0. Plays from the current position.
  HResult Play(uint32_t reserved, uint32_t priority, uint32_t flags);
  // Stops; the position stays where it is.
  HResult Stop();
  // Byte offsets of the play cursor and of the write cursor (the first byte
  // that is safe to write); either pointer may be null.
  HResult GetCurrentPosition(uint32_t* play, uint32_t* write);
  HResult SetCurrentPosition(uint32_t position);
  // Locks bytes from offset; a region that runs past the end wraps into a
  // second piece at the start. The piece pointers stay valid until Unlock.
  HResult Lock(uint32_t offset, uint32_t bytes, void** piece1, uint32_t* bytes1, void** piece2,
               uint32_t* bytes2, uint32_t flags);
  HResult Unlock(void* piece1, uint32_t bytes1, void* piece2, uint32_t bytes2);
  HResult SetVolume(int32_t volume);
  HResult GetVolume(int32_t* volume);
  HResult SetPan(int32_t pan);
  HResult GetPan(int32_t* pan);
  // 0 restores the data's own rate.
  HResult SetFrequency(uint32_t frequency);
  HResult GetFrequency(uint32_t* frequency);
  HResult GetStatus(uint32_t* status);
  // Primary buffer only: the output format.
  HResult SetFormat(const WaveFormatEx* format);
  HResult GetFormat(WaveFormatEx* format);

  SoundBufferState* state() { return state_; }

 private:
  friend class DirectSound;
  friend struct AudioDevice;
  explicit DirectSoundBuffer(SoundBufferState* state) : state_(state) {}
  ~DirectSoundBuffer() = default;
  SoundBufferState* state_;
};

class DirectSound {
 public:
  uint32_t AddRef();
  uint32_t Release();
  // Opens the output (null device GUID: the default device).
  HResult Initialize(const Guid* device);
  HResult SetCooperativeLevel(void* window, uint32_t level);
  HResult CreateSoundBuffer(const DsBufferDesc* desc, DirectSoundBuffer** out, void* outer);
  // A new buffer that shares the original's sample memory, with its own
  // position, volume, pan and frequency.
  HResult DuplicateSoundBuffer(DirectSoundBuffer* original, DirectSoundBuffer** out);
  HResult GetCaps(DsCaps* caps);

 private:
  friend HResult CreateDirectSoundObject(DirectSound** out);
  friend bool MixDeviceForTest(DirectSound* sound, int16_t* out, uint32_t frames);
  DirectSound();
  ~DirectSound();
  uint32_t refs_ = 1;
  AudioDevice* device_ = nullptr;
  bool initialized_ = false;
  uint32_t cooperative_level_ = 0;
};

// Makes an uninitialised device object (what CoCreateInstance does for the
// DirectSound class).
HResult CreateDirectSoundObject(DirectSound** out);
// The class factory that CoCreateInstance uses for kCLSID_DirectSound.
HResult CreateDirectSoundInstance(void* outer, const Guid& iid, void** out);

extern const Guid kCLSID_DirectSound;
extern const Guid kIID_IDirectSound;
extern const Guid kIID_IDirectSound8;

// Device enumeration, as the driver library exports it. The callback gets the
// device GUID (null for the primary driver), a description and a module name,
// and returns true to go on.
using DsEnumCallback = bool (*)(const Guid* guid, const char* description, const char* module,
                                void* context);
using DirectSoundEnumerateFn = HResult (*)(DsEnumCallback callback, void* context);
// The enumeration entry point of the driver library, or null when the library
// cannot be had.
DirectSoundEnumerateFn GetDirectSoundEnumerate();

// ---- Output selection and test hooks -----------------------------------------

enum class AudioOutput { kDefault, kNull, kSdl };
// kDefault: the null output under the headless back end, SDL otherwise. Read
// when a device is initialised.
void SetAudioOutput(AudioOutput output);

// Renders frames of the mix of every device on the null output into out
// (interleaved 16-bit stereo at the output rate; out may be null) and moves
// their cursors on by that much. Returns the number of null devices rendered.
int NullAudioRender(int16_t* out, uint32_t frames);
// The null output's rate (frames per second).
uint32_t NullAudioRate();

// Mixes frames from a device directly, whatever its output; for the mixer's
// benchmark. Returns false when the device is not initialised.
bool MixDeviceForTest(DirectSound* sound, int16_t* out, uint32_t frames);

// Fault injection for tests of the callers: each flag makes the named step
// fail; create_buffer_fail_at = n makes the n-th buffer creation from now on
// fail (1 = the next), 0 switches it off.
struct DsoundFaults {
  bool fail_create_object = false;
  bool fail_initialize = false;
  bool fail_cooperative_level = false;
  bool fail_set_format = false;
  bool fail_lock = false;
  bool no_driver_library = false;
  int create_buffer_fail_at = 0;
};
void SetDsoundFaults(const DsoundFaults& faults);
void ClearDsoundFaults();

}  // namespace plat
