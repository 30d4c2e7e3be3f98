// lib/core/handle_table.cpp - slot choice, check words and the high-water
// level of the shared handle table.
#include "lib/core/handle_table.h"

int32_t HandleTableBase::FindFreeSlot() const {
  if (rule_ == HandleSlotRule::kHighWater && high_water_ < capacity_) return high_water_;
  // Only reached once the level has hit the capacity (or for lowest-free
  // kinds, whose tables are small): a linear scan is fine.
  for (int32_t i = 0; i < capacity_; ++i) {
    if (slots_[i] == nullptr) return i;
  }
  return -1;
}

int32_t HandleTableBase::Place(int32_t slot, int32_t check, void* record) {
  slots_[slot] = record;
  checks_[slot] = static_cast<uint16_t>(check);
  ++count_;
  if (high_water_ < slot + 1) high_water_ = slot + 1;
  if (high_water_ < count_) high_water_ = count_;
  return MakeHandle(kind_, check, slot);
}

int32_t HandleTableBase::AddRecord(void* record) {
  if (record == nullptr || count_ >= capacity_) return kNoHandle;
  const int32_t slot = FindFreeSlot();
  if (slot < 0) return kNoHandle;
  const int32_t check = check_counter_;
  check_counter_ = (check_counter_ + 1) % kHandleCheckCount;
  return Place(slot, check, record);
}

int32_t HandleTableBase::AddRecordWithHandle(int32_t handle, void* record) {
  if (record == nullptr) return kNoHandle;
  if (handle >= 0 && (handle & kHandleKindField) == kind_) {
    const int32_t slot = HandleSlot(handle);
    if (slot < capacity_ && slots_[slot] == nullptr) {
      Place(slot, HandleCheck(handle), record);
      return handle;
    }
  }
  return AddRecord(record);
}

int32_t HandleTableBase::AddRecordAt(int32_t slot, int32_t check, void* record) {
  if (record == nullptr || slot < 0 || slot >= capacity_ || slots_[slot] != nullptr) {
    return kNoHandle;
  }
  if (check < 0 || check >= kHandleCheckCount) return kNoHandle;
  return Place(slot, check, record);
}

void* HandleTableBase::RemoveRecord(int32_t handle) {
  void* record = FindRecord(handle);
  if (record == nullptr) return nullptr;
  const int32_t slot = HandleSlot(handle);
  slots_[slot] = nullptr;
  --count_;
  if (slot == high_water_ - 1) {
    if (count_ == 0) {
      high_water_ = 0;
    } else {
      high_water_ = slot;
      while (high_water_ > 0 && slots_[high_water_ - 1] == nullptr) --high_water_;
    }
  }
  return record;
}

int32_t HandleTableBase::HandleAt(int32_t slot) const {
  if (RecordAt(slot) == nullptr) return kNoHandle;
  return MakeHandle(kind_, checks_[slot], slot);
}
