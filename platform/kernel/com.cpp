// platform/kernel/com.cpp - object creation by class identifier over the classes
// that exist in this platform layer.
#include "platform/kernel/com.h"

#include "platform/input/dinput.h"
#include "platform/audio/dsound.h"
#include "platform/media/graph.h"

namespace plat {
namespace {

using Factory = HResult (*)(void* outer, const Guid& iid, void** out);

struct ClassEntry {
  const Guid* clsid;
  Factory factory;
};

const ClassEntry kClasses[] = {
    {&kCLSID_DirectSound, &CreateDirectSoundInstance},
    {&kCLSID_DirectInput, &CreateDirectInputInstance7},
    {&kCLSID_DirectInput8, &CreateDirectInputInstance8},
    {&kCLSID_FilterGraph, &CreateFilterGraphInstance},
    {&kCLSID_NullRenderer, &CreateNullRendererInstance},
};

}  // namespace

HResult CoCreateInstance(const Guid& clsid, void* outer, uint32_t context, const Guid& iid, void** out) {
  if (out == nullptr) return kE_POINTER;
  *out = nullptr;
  for (const ClassEntry& entry : kClasses)
    if (*entry.clsid == clsid) return entry.factory(outer, iid, out);
  return kREGDB_E_CLASSNOTREG;
}

}  // namespace plat
