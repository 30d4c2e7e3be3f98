// lib/softrender/soft_image.cpp - the soft-image handle table.
#include "lib/softrender/soft_image.h"

#include "lib/core/handle_table.h"
#include "lib/core/memory.h"

namespace {

constinit HandleTable<SoftImageRecord, kSoftImageCapacity> g_soft_images(kHandleKindSoftImage);

}  // namespace

int AddSoftImage(BaseImage* image) {
  if (!image || g_soft_images.IsFull()) return -1;
  auto* record = static_cast<SoftImageRecord*>(RR_CALLOC(sizeof(SoftImageRecord)));
  if (!record) return -1;
  const int handle = g_soft_images.Add(record);
  if (handle == -1) {
    RR_FREE(record);
    return -1;
  }
  record->image = *image;
  record->check = uint32_t(HandleCheck(handle));
  *image = BaseImage{};
  return handle;
}

SoftImageRecord* SoftImageHandleToRecord(int handle) { return g_soft_images.Find(handle); }

int DeleteSoftImageHandle(int handle) {
  SoftImageRecord* record = g_soft_images.Find(handle);
  if (!record) return -1;
  FreeBaseImagePixels(&record->image);
  g_soft_images.Remove(handle);
  RR_FREE(record);
  return 0;
}

int DeleteAllSoftImages() {
  for (int i = 0; i < g_soft_images.HighWater(); ++i) {
    if (g_soft_images.At(i)) DeleteSoftImageHandle(g_soft_images.HandleAt(i));
  }
  return 0;
}

int GetSoftImageCount() { return g_soft_images.Count(); }
int GetSoftImageHighWater() { return g_soft_images.HighWater(); }
