// platform/kernel/com.h - the small slice of component-object creation the library
// uses: class and interface identifiers, result codes, and CoCreateInstance
// over the few classes that exist here. Unknown classes fail as they would on
// a machine where they are not registered.
#pragma once

#include <cstdint>

namespace plat {

using HResult = int32_t;

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

inline bool operator==(const Guid& a, const Guid& b) {
  if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.data4[i] != b.data4[i]) return false;
  return true;
}

constexpr HResult kS_OK = 0;
constexpr HResult kS_FALSE = 1;
constexpr HResult kE_NOINTERFACE = static_cast<HResult>(0x80004002u);
constexpr HResult kE_POINTER = static_cast<HResult>(0x80004003u);
constexpr HResult kE_FAIL = static_cast<HResult>(0x80004005u);
constexpr HResult kE_OUTOFMEMORY = static_cast<HResult>(0x8007000Eu);
constexpr HResult kE_INVALIDARG = static_cast<HResult>(0x80070057u);
constexpr HResult kCLASS_E_NOAGGREGATION = static_cast<HResult>(0x80040110u);
constexpr HResult kREGDB_E_CLASSNOTREG = static_cast<HResult>(0x80040154u);

constexpr uint32_t kCLSCTX_INPROC_SERVER = 0x1;
constexpr uint32_t kCLSCTX_INPROC = 0x3;
constexpr uint32_t kCLSCTX_ALL = 0x17;

// Creates an object of a known class and returns the asked interface in *out
// (null and a failure code otherwise). Outer objects are not supported.
HResult CoCreateInstance(const Guid& clsid, void* outer, uint32_t context, const Guid& iid,
                         void** out);

}  // namespace plat
