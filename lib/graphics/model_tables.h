// lib/graphics/model_tables.h - the tables of 3-D model bases and model
// instances. No operation of the library loads a model, so the tables stay
// empty; start, device loss and restore and the end walk them all the same.
#pragma once

#include <cstdint>

struct ModelTable {
  int32_t in_use;
  int32_t length;    // entries walked
  int32_t capacity;
  void** records;
};

struct ModelSystemState {
  int32_t initialised;
  ModelTable bases;   // addressed internally as index | 0x8000000
  ModelTable second;  // freed at the end with the others
  ModelTable models;  // handle = ((check | 0x5000) << 16) | index
  int32_t default_textures[3];  // white, four-step grey, grey ramp; never made
  void* extra_block;
};

ModelSystemState& ModelSystem();

struct BaseImage;
struct EmbeddedImageFile {
  const uint8_t* data;
  int size;
};
// The embedded image file of default texture 0 (white) or 1 (four greys).
EmbeddedImageFile ModelDefaultImageFile(int which);
// The third default texture's image, made in memory: 256 x 8, grey x at
// column x. 0, or -1 when it cannot be allocated.
int MakeGreyRampImage(BaseImage* image);

int InitModelSystem();
int RestoreModelTextures();
int SetupAllModelMeshBuffers();
int ReleaseModelDeviceObjects();
int DeleteAllModelRecords();
