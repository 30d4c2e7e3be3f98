// lib/core/handle_table.h - the one handle table that every resource kind of
// the library (graphics, sounds, movies, fonts, masks, lights, key-string
// inputs, soft images, buffers ...) keeps its records in.
//
// Handle word (a signed 32-bit int, `ResourceHandle`):
//   bit 31      always 0 for a valid handle; -1 (kNoHandle) means "no handle"
//   bits 27-30  the kind (kHandleKindGraphic ...)
//   bits 16-26  the check value: the slot's check word (0..2047)
//   bits 0-15   the slot index
// A check word is taken from a per-kind counter that runs 0..2047 and wraps,
// so a handle kept after its record was deleted is refused once the slot is
// reused (until the counter comes round to the same value again).
//
// The table stores one record pointer and one check word per slot; it never
// allocates or frees records itself. The owner of a kind allocates a record
// (TrackedCalloc), adds it, and on delete takes the pointer back and frees it.
// The table has no lock: the owning subsystem serialises access (the library
// lock, or the sound lock for sound records).
//
// Usage:
//   constinit HandleTable<FontRecord, 40> g_fonts(kHandleKindFont,
//                                                 HandleSlotRule::kLowestFree);
//   int handle = g_fonts.Add(record);           // -1 when full / record null
//   FontRecord* font = g_fonts.Find(handle);    // null for a bad handle
//   FontRecord* gone = g_fonts.Remove(handle);  // slot freed; caller frees it
//   for (int i = 0; i < g_fonts.HighWater(); ++i)   // delete-all loop: re-read
//     if (g_fonts.RecordAt(i)) Delete(g_fonts.HandleAt(i));  // the level
#pragma once

#include <cstdint>

// ---- The handle word -------------------------------------------------------

constexpr int32_t kNoHandle = -1;
constexpr int32_t kHandleKindField = 0x78000000;
constexpr int32_t kHandleCheckField = 0x07FF0000;
constexpr int32_t kHandleSlotField = 0x0000FFFF;
constexpr int32_t kHandleCheckShift = 16;
// Check words run 0 .. kHandleCheckCount - 1.
constexpr int32_t kHandleCheckCount = 2048;
// Largest capacity a table can have (16 slot bits).
constexpr int32_t kHandleMaxCapacity = 65536;

// Kind values (bits 27-30) and the capacities the kinds use.
constexpr int32_t kHandleKindGraphic = 0x08000000;        // 32768
constexpr int32_t kHandleKindSound = 0x10000000;          // 32768
constexpr int32_t kHandleKindMovie = 0x18000000;          // 100
constexpr int32_t kHandleKindFont = 0x20000000;           // 40
constexpr int32_t kHandleKindMask = 0x28000000;           // 512
constexpr int32_t kHandleKindNetwork = 0x30000000;        // 8193
constexpr int32_t kHandleKindKeyInput = 0x38000000;       // 256
constexpr int32_t kHandleKindMidi = 0x40000000;           // 256
constexpr int32_t kHandleKindLight = 0x48000000;          // 4096
constexpr int32_t kHandleKindModel = 0x50000000;          // 65536
constexpr int32_t kHandleKindSoftImage = 0x58000000;      // 8192
constexpr int32_t kHandleKindDeviceObject = 0x60000000;   // 4096
constexpr int32_t kHandleKindPcm = 0x68000000;            // 32768
constexpr int32_t kHandleKindVertexBuffer = 0x70000000;   // 16384
constexpr int32_t kHandleKindIndexBuffer = 0x78000000;    // 16384

// ((check OR kind >> 16) << 16) OR slot.
constexpr int32_t MakeHandle(int32_t kind, int32_t check, int32_t slot) {
  return static_cast<int32_t>(
      ((static_cast<uint32_t>(check & 0x7FF) | (static_cast<uint32_t>(kind) >> 16)) << 16) |
      (static_cast<uint32_t>(slot) & 0xFFFFu));
}
constexpr int32_t HandleKind(int32_t handle) { return handle & kHandleKindField; }
constexpr int32_t HandleCheck(int32_t handle) { return (handle & kHandleCheckField) >> 16; }
constexpr int32_t HandleSlot(int32_t handle) { return handle & kHandleSlotField; }

// ---- The table ---------------------------------------------------------------

// How Add picks a free slot.
enum class HandleSlotRule : uint8_t {
  // The slot at the high-water level while it is below the capacity, else the
  // lowest free slot (graphics, sounds, lights, soft images, buffers ...).
  kHighWater,
  // Always the lowest free slot (movies, fonts, network connections ...).
  kLowestFree,
};

// The kind-independent part; HandleTable<> below gives it storage and types.
class HandleTableBase {
 public:
  HandleTableBase(const HandleTableBase&) = delete;
  HandleTableBase& operator=(const HandleTableBase&) = delete;

  // Puts record (not null) into a free slot chosen by the slot rule with the
  // next check word (the counter then advances, 2047 wrapping to 0) and
  // returns its handle; -1 when the table is full or record is null.
  int32_t AddRecord(void* record);
  // Re-creation under a known handle: when handle is of this kind, its slot
  // is below the capacity and free, the record goes into that slot with the
  // handle's check word (the counter does not advance) and handle is
  // returned unchanged. Otherwise (also for -1) it acts as AddRecord.
  int32_t AddRecordWithHandle(int32_t handle, void* record);
  // Re-creation in a given slot with a given check word (0..2047): the
  // handle, or -1 when the slot is out of range or occupied or record is null.
  int32_t AddRecordAt(int32_t slot, int32_t check, void* record);

  // The record of a valid handle, else null: refuses negative handles, another
  // kind, a slot at or above the capacity, an empty slot and a stale check
  // value. Writes no log line.
  void* FindRecord(int32_t handle) const {
    if (handle < 0 || (handle & kHandleKindField) != kind_) return nullptr;
    const int32_t slot = handle & kHandleSlotField;
    if (slot >= capacity_ || slots_[slot] == nullptr) return nullptr;
    if (checks_[slot] != ((handle & kHandleCheckField) >> 16)) return nullptr;
    return slots_[slot];
  }
  bool IsValid(int32_t handle) const { return FindRecord(handle) != nullptr; }

  // Empties the slot of a valid handle and returns its record (the caller
  // frees it); null and no change for a refused handle. The count falls, and
  // when the slot was the top one the high-water level drops to one past the
  // highest slot still in use (0 when none is).
  void* RemoveRecord(int32_t handle);

  // Record in a slot, or null (empty or out of range).
  void* RecordAt(int32_t slot) const {
    return (slot >= 0 && slot < capacity_) ? slots_[slot] : nullptr;
  }
  // Handle of an occupied slot, rebuilt from its check word; -1 when empty.
  int32_t HandleAt(int32_t slot) const;

  int32_t Kind() const { return kind_; }
  int32_t Capacity() const { return capacity_; }
  int32_t Count() const { return count_; }
  bool IsFull() const { return count_ >= capacity_; }
  // One past the highest slot that may be in use; every slot at or above it
  // is free.
  int32_t HighWater() const { return high_water_; }
  // The check word the next AddRecord gives.
  int32_t CheckCounter() const { return check_counter_; }

 protected:
  constexpr HandleTableBase(int32_t kind, int32_t capacity, HandleSlotRule rule,
                            void** slots, uint16_t* checks)
      : slots_(slots), checks_(checks), kind_(kind), capacity_(capacity), rule_(rule) {}

 private:
  int32_t FindFreeSlot() const;
  int32_t Place(int32_t slot, int32_t check, void* record);

  void** slots_;
  uint16_t* checks_;
  int32_t kind_;
  int32_t capacity_;
  HandleSlotRule rule_;
  int32_t count_ = 0;
  int32_t high_water_ = 0;
  int32_t check_counter_ = 0;
};

// A table of up to kCapacity records of type Record, with fixed storage (no
// allocation; a static table is zero-initialised at load time). kCapacity
// must not exceed 65536.
template <typename Record, int32_t kCapacity>
class HandleTable : public HandleTableBase {
  static_assert(kCapacity > 0 && kCapacity <= kHandleMaxCapacity, "slot index has 16 bits");

 public:
  constexpr HandleTable(int32_t kind, HandleSlotRule rule = HandleSlotRule::kHighWater)
      : HandleTableBase(kind, kCapacity, rule, slot_storage_, check_storage_) {}

  int32_t Add(Record* record) { return AddRecord(record); }
  int32_t AddWithHandle(int32_t handle, Record* record) {
    return AddRecordWithHandle(handle, record);
  }
  int32_t AddAt(int32_t slot, int32_t check, Record* record) {
    return AddRecordAt(slot, check, record);
  }
  Record* Find(int32_t handle) const { return static_cast<Record*>(FindRecord(handle)); }
  Record* Remove(int32_t handle) { return static_cast<Record*>(RemoveRecord(handle)); }
  Record* At(int32_t slot) const { return static_cast<Record*>(RecordAt(slot)); }

 private:
  void* slot_storage_[kCapacity] = {};
  uint16_t check_storage_[kCapacity] = {};
};
