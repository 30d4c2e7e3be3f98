// lib/softrender/soft_image.h - soft images: decoded images owned by the
// library and known to callers by handle. Only their deletion is offered;
// the library end deletes every one that remains.
#pragma once

#include <cstdint>

#include "lib/image/base_image.h"

constexpr int kSoftImageCapacity = 8192;

struct SoftImageRecord {
  BaseImage image;
  uint32_t check;
};

// Takes over image (its pixels included) as a new soft image; the handle, or
// -1 when the table is full or memory runs out (the image is left as it was).
int AddSoftImage(BaseImage* image);
// The record of a live handle, or null.
SoftImageRecord* SoftImageHandleToRecord(int handle);
// 0, or -1 for a handle that is not a live soft image.
int DeleteSoftImageHandle(int handle);
// Deletes every live soft image; 0.
int DeleteAllSoftImages();
int GetSoftImageCount();
int GetSoftImageHighWater();
