// lib/graphics/device_buffers.h - vertex-buffer, index-buffer and
// device-object (shader) handles: records that keep their data in system
// memory so that their Direct3D objects can be made again after the device
// was rebuilt. Internal to the library.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

constexpr int kVertexBufferCapacity = 16384;
constexpr int kIndexBufferCapacity = 16384;
constexpr int kDeviceObjectCapacity = 4096;

// Vertex and index buffers alike. Type 0 is the standard layout: vertices of
// XYZ | NORMAL | DIFFUSE | SPECULAR | TEX2 (FVF 0x2D2), 16-bit indices.
struct BufferRecord {
  uint32_t check;
  int32_t handle;
  int32_t type;
  int32_t element_size;
  int32_t element_count;
  uint8_t* data;  // element_size x element_count bytes, owned
  plat::Direct3DResource* buffer;  // the vertex or index buffer; null while the device is lost
};

struct DeviceObjectRecord {
  uint32_t check;
  int32_t handle;
  int32_t vertex_shader;  // non-zero: vertex shader, 0: pixel shader
  uint32_t* code;         // the byte code, owned
  int32_t code_size;      // in bytes
  plat::Direct3DResource* shader;  // the device's shader object, null while lost
};

constexpr uint32_t kStandardVertexFvf = 0x2D2;

// Add steps (no public creator exists; the model code and tests make them):
// the record with a zeroed system-memory copy of count elements, its
// Direct3D buffer made at once. -1 for a bad count or size, a full table or
// a failed allocation (with a log line).
int AddVertexBufferHandle(int element_size, int element_count, int type);
int AddIndexBufferHandle(int element_size, int element_count, int type);
// A shader from byte code of size bytes (copied); its object is made at once
// when the device accepts it.
int AddDeviceObjectHandle(int vertex_shader, const void* code, int size);

BufferRecord* VertexBufferHandleToRecord(int handle);
BufferRecord* IndexBufferHandleToRecord(int handle);
DeviceObjectRecord* DeviceObjectHandleToRecord(int handle);

int DeleteVertexBufferHandle(int handle);
int DeleteIndexBufferHandle(int handle);
int DeleteDeviceObjectHandle(int handle);
int DeleteAllVertexBufferHandles();
int DeleteAllIndexBufferHandles();
int DeleteAllShaderHandles();

int SetVertexBufferData(int start, const void* data, int count, int handle);
int SetIndexBufferData(int start, const void* data, int count, int handle);
int CreateVertexBufferResource(BufferRecord* record);
int CreateIndexBufferResource(BufferRecord* record);

// Device loss: every Direct3D object of the three kinds is released and its
// pointer cleared; the records stay.
int ReleaseDeviceBufferObjects();
// After a rebuild: the buffers are made and filled again from their copies,
// the shaders made again from their byte code.
int RecreateDeviceBufferObjects();

int GetVertexBufferCount();
int GetIndexBufferCount();
int GetDeviceObjectCount();
int GetVertexBufferHighWater();

int ReturnZero();
