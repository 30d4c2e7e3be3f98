// platform/audio/mci.h - the media-control stand-in for the MIDI sequencer:
// commands sent to a device are recorded, not played. A test (or a program)
// reads them back; the end-of-playback notification is a window message
// (kWmMciNotify) that whoever plays the music posts.
#pragma once

#include <cstdint>
#include <vector>

namespace plat {

constexpr uint32_t kMciClose = 0x0804, kMciPlay = 0x0806;
constexpr uintptr_t kMciNotify = 0x1, kMciFrom = 0x4;
constexpr uint32_t kWmMciNotify = 0x03B9;

// The parameter block of kMciPlay: notification window, start and end.
struct MciPlayParams {
  uintptr_t callback;
  uint32_t from, to;
};

// Records the command; 0 (success). param is read for kMciPlay.
uint32_t MciSendCommand(uint32_t device, uint32_t message, uintptr_t flags, uintptr_t param);

struct MciCall {
  uint32_t device, message;
  uintptr_t flags;
  MciPlayParams play;  // for kMciPlay
};
// The commands recorded since the last call, oldest first.
std::vector<MciCall> TakeMciCalls();

}  // namespace plat
