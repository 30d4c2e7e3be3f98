// lib/graphics/model_tables.cpp - model-base and model tables.
#include "lib/graphics/model_tables.h"

#include "lib/core/memory.h"
#include "lib/graphics/graphics_device.h"

namespace {

ModelSystemState g_models = {};

void FreeTable(ModelTable* t) {
  if (t->records != nullptr) TrackedFree(t->records);
  *t = {};
}

}  // namespace

ModelSystemState& ModelSystem() { return g_models; }

int InitModelSystem() {
  if (g_models.initialised != 0) return 0;
  if (!GraphicsDevice().direct3d_mode) return 0;
  g_models.bases = {};
  g_models.second = {};
  g_models.models = {};
  g_models.initialised = 1;
  return 0;
}

int RestoreModelTextures() {
  // The default textures would be rewritten here from their images; they are
  // never made (handles 0), so there is nothing to rewrite and nothing to log.
  // Material textures belong to records, and no record exists.
  return 0;
}

int SetupAllModelMeshBuffers() {
  // Vertex and index buffers are made per model-base record; there are none.
  return 0;
}

int ReleaseModelDeviceObjects() {
  // Buffers are held per model-base and model record; there are none.
  return 0;
}

int DeleteAllModelRecords() {
  if (g_models.initialised == 0) return 0;
  FreeTable(&g_models.models);
  FreeTable(&g_models.bases);
  FreeTable(&g_models.second);
  if (g_models.extra_block != nullptr) {
    TrackedFree(g_models.extra_block);
    g_models.extra_block = nullptr;
  }
  g_models.initialised = 0;
  return 0;
}
