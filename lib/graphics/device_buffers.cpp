// lib/graphics/device_buffers.cpp - vertex-buffer, index-buffer and
// device-object handles. Each record keeps its data (or byte code) in
// system memory for its whole life; the Direct3D object is only a copy that
// goes with a lost device and is made again after the rebuild.
#include "lib/graphics/device_buffers.h"

#include <cstring>

#include "lib/core/handle_table.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"

namespace {

constinit HandleTable<BufferRecord, kVertexBufferCapacity> g_vertex_buffers(kHandleKindVertexBuffer);
constinit HandleTable<BufferRecord, kIndexBufferCapacity> g_index_buffers(kHandleKindIndexBuffer);
constinit HandleTable<DeviceObjectRecord, kDeviceObjectCapacity> g_device_objects(kHandleKindDeviceObject);

plat::Direct3DDevice9* Dev() { return GraphicsDevice().device; }

void ReleaseBuffer(BufferRecord* r) {
  if (r->buffer) r->buffer->Release();
  r->buffer = nullptr;
}

void ReleaseShader(DeviceObjectRecord* r) {
  if (r->shader) r->shader->Release();
  r->shader = nullptr;
}

// Whether the byte code's end token lies inside its size, walking it as the
// device does (comments and instructions carry their lengths), so that the
// device never reads past the copy.
bool CodeEndsInside(const uint32_t* code, int words) {
  int i = 1;
  while (i < words) {
    const uint32_t t = code[i];
    if (t == 0x0000FFFFu) return true;
    i += 1 + int((t & 0xFFFF) == 0xFFFE ? ((t >> 16) & 0x7FFF) : ((t >> 24) & 0xF));
  }
  return false;
}

// The device's shader object of a record, when the device takes its code.
void CreateShader(plat::Direct3DDevice9* d, DeviceObjectRecord* r) {
  ReleaseShader(r);
  if (!d || !CodeEndsInside(r->code, r->code_size / 4)) return;
  if (r->vertex_shader) {
    plat::Direct3DVertexShader9* s = nullptr;
    if (d->CreateVertexShader(r->code, &s) == plat::D3D_OK) r->shader = s;
  } else {
    plat::Direct3DPixelShader9* s = nullptr;
    if (d->CreatePixelShader(r->code, &s) == plat::D3D_OK) r->shader = s;
  }
}

template <typename Table>
int AddBuffer(Table& table, int element_size, int element_count, int type, bool vertex) {
  if (element_size < 1 || element_count < 1 || type != 0) return -1;
  // element_size x element_count must stay a valid lock size.
  if (int64_t(element_size) * element_count > 0x7FFFFFFF) return -1;
  if (table.IsFull()) return WriteLogLine(vertex ? "頂点バッファハンドルの数が許容量を越えました\n"
                                                 : "インデックスバッファハンドルの数が許容量を越えました\n");
  auto* r = static_cast<BufferRecord*>(RR_CALLOC(sizeof(BufferRecord)));
  uint8_t* data = static_cast<uint8_t*>(RR_CALLOC(size_t(element_size) * size_t(element_count)));
  if (!r || !data) {
    RR_FREE(r);
    RR_FREE(data);
    return WriteLogLine("バッファ用のメモリの確保に失敗しました\n");
  }
  r->type = type;
  r->element_size = element_size;
  r->element_count = element_count;
  r->data = data;
  int handle = table.Add(r);
  r->check = uint32_t(HandleCheck(handle));
  r->handle = handle;
  if (vertex) CreateVertexBufferResource(r);
  else CreateIndexBufferResource(r);
  return handle;
}

template <typename Table>
int DeleteBuffer(Table& table, int handle) {
  BufferRecord* r = table.Find(handle);
  if (!r) return -1;
  // Pending vertices never come from these buffers, but a stream source
  // might still name the Direct3D buffer; releasing it drops our reference.
  ReleaseBuffer(r);
  table.Remove(handle);
  RR_FREE(r->data);
  RR_FREE(r);
  return 0;
}

template <typename Table, typename Delete>
int DeleteAll(Table& table, Delete del) {
  if (!GraphicsDevice().started || table.HighWater() < 1) return 0;
  for (int i = 0; i < table.HighWater(); i++)
    if (table.At(i)) del(table.HandleAt(i));
  return 0;
}

template <typename Lockable>
int UploadElements(Lockable* buffer, const BufferRecord* r, int start, const void* data, int count,
                   const char* lock_failure) {
  uint32_t offset = uint32_t(r->element_size) * uint32_t(start);
  uint32_t size = uint32_t(r->element_size) * uint32_t(count);
  void* p = nullptr;
  if (buffer->Lock(offset, size, &p, 0) != plat::D3D_OK || !p) return WriteLogLine(lock_failure);
  memcpy(p, data, size);
  buffer->Unlock();
  return 0;
}

int SetBufferData(BufferRecord* r, int start, const void* data, int count, bool vertex) {
  if (!r) return -1;
  // Checked without overflow: start + count may not pass the element count.
  if (start < 0 || count < 0 || start > r->element_count || count > r->element_count - start) return -1;
  if (count == 0) return 0;
  if (!data) return -1;
  if (r->buffer) {
    int result = vertex ? UploadElements(static_cast<plat::Direct3DVertexBuffer9*>(r->buffer), r, start, data, count,
                                         "頂点バッファのロックに失敗しました\n")
                        : UploadElements(static_cast<plat::Direct3DIndexBuffer9*>(r->buffer), r, start, data, count,
                                         "インデックスバッファのロックに失敗しました\n");
    if (result != 0) return -1;
  }
  memcpy(r->data + size_t(r->element_size) * size_t(start), data, size_t(r->element_size) * size_t(count));
  return 0;
}

}  // namespace

int ReturnZero() { return 0; }

int AddVertexBufferHandle(int element_size, int element_count, int type) {
  return AddBuffer(g_vertex_buffers, element_size, element_count, type, true);
}

int AddIndexBufferHandle(int element_size, int element_count, int type) {
  return AddBuffer(g_index_buffers, element_size, element_count, type, false);
}

int AddDeviceObjectHandle(int vertex_shader, const void* code, int size) {
  if (!code || size < 4 || (size & 3) != 0) return -1;
  if (g_device_objects.IsFull()) return WriteLogLine("シェーダーハンドルの数が許容量を越えました\n");
  auto* r = static_cast<DeviceObjectRecord*>(RR_CALLOC(sizeof(DeviceObjectRecord)));
  auto* copy = static_cast<uint32_t*>(RR_ALLOC(size_t(size)));
  if (!r || !copy) {
    RR_FREE(r);
    RR_FREE(copy);
    return WriteLogLine("シェーダーコード用のメモリの確保に失敗しました\n");
  }
  memcpy(copy, code, size_t(size));
  r->vertex_shader = vertex_shader != 0;
  r->code = copy;
  r->code_size = size;
  int handle = g_device_objects.Add(r);
  r->check = uint32_t(HandleCheck(handle));
  r->handle = handle;
  CreateShader(Dev(), r);
  return handle;
}

BufferRecord* VertexBufferHandleToRecord(int handle) { return g_vertex_buffers.Find(handle); }
BufferRecord* IndexBufferHandleToRecord(int handle) { return g_index_buffers.Find(handle); }
DeviceObjectRecord* DeviceObjectHandleToRecord(int handle) { return g_device_objects.Find(handle); }

int DeleteVertexBufferHandle(int handle) { return DeleteBuffer(g_vertex_buffers, handle); }
int DeleteIndexBufferHandle(int handle) { return DeleteBuffer(g_index_buffers, handle); }

int DeleteDeviceObjectHandle(int handle) {
  DeviceObjectRecord* r = g_device_objects.Find(handle);
  if (!r) return -1;
  ReleaseShader(r);
  g_device_objects.Remove(handle);
  RR_FREE(r->code);
  RR_FREE(r);
  return 0;
}

int DeleteAllVertexBufferHandles() { return DeleteAll(g_vertex_buffers, DeleteVertexBufferHandle); }
int DeleteAllIndexBufferHandles() { return DeleteAll(g_index_buffers, DeleteIndexBufferHandle); }
int DeleteAllShaderHandles() { return DeleteAll(g_device_objects, DeleteDeviceObjectHandle); }

int SetVertexBufferData(int start, const void* data, int count, int handle) {
  return SetBufferData(g_vertex_buffers.Find(handle), start, data, count, true);
}

int SetIndexBufferData(int start, const void* data, int count, int handle) {
  return SetBufferData(g_index_buffers.Find(handle), start, data, count, false);
}

int CreateVertexBufferResource(BufferRecord* r) {
  GraphicsDeviceState& d = GraphicsDevice();
  if (!r || !(d.vs20_usable && d.ps20_usable)) return 0;
  if (!d.device) return 0;
  ReleaseBuffer(r);
  plat::Direct3DVertexBuffer9* vb = nullptr;
  d.device->CreateVertexBuffer(uint32_t(r->element_count) * uint32_t(r->element_size), plat::D3DUSAGE_WRITEONLY,
                               kStandardVertexFvf, plat::D3DPOOL_DEFAULT, &vb, nullptr);
  if (!vb) return WriteLogLine("頂点バッファの作成に失敗しました\n");
  r->buffer = vb;
  return SetVertexBufferData(0, r->data, r->element_count, r->handle);
}

int CreateIndexBufferResource(BufferRecord* r) {
  GraphicsDeviceState& d = GraphicsDevice();
  if (!r || !(d.vs20_usable && d.ps20_usable)) return 0;
  if (!d.device) return 0;
  ReleaseBuffer(r);
  plat::Direct3DIndexBuffer9* ib = nullptr;
  d.device->CreateIndexBuffer(uint32_t(r->element_count) * uint32_t(r->element_size), plat::D3DUSAGE_WRITEONLY,
                              plat::D3DFMT_INDEX16, plat::D3DPOOL_DEFAULT, &ib, nullptr);
  if (!ib) return WriteLogLine("インデックスバッファの作成に失敗しました\n");
  r->buffer = ib;
  return SetIndexBufferData(0, r->data, r->element_count, r->handle);
}

int ReleaseDeviceBufferObjects() {
  for (int i = 0; i < g_vertex_buffers.HighWater(); i++)
    if (BufferRecord* r = g_vertex_buffers.At(i)) ReleaseBuffer(r);
  for (int i = 0; i < g_index_buffers.HighWater(); i++)
    if (BufferRecord* r = g_index_buffers.At(i)) ReleaseBuffer(r);
  for (int i = 0; i < g_device_objects.HighWater(); i++)
    if (DeviceObjectRecord* r = g_device_objects.At(i)) ReleaseShader(r);
  return 0;
}

int RecreateDeviceBufferObjects() {
  for (int i = 0; i < g_vertex_buffers.HighWater(); i++)
    if (BufferRecord* r = g_vertex_buffers.At(i)) CreateVertexBufferResource(r);
  for (int i = 0; i < g_index_buffers.HighWater(); i++)
    if (BufferRecord* r = g_index_buffers.At(i)) CreateIndexBufferResource(r);
  plat::Direct3DDevice9* d = Dev();
  for (int i = 0; i < g_device_objects.HighWater() && d; i++) {
    DeviceObjectRecord* r = g_device_objects.At(i);
    if (r) CreateShader(d, r);
  }
  return 0;
}

int GetVertexBufferCount() { return g_vertex_buffers.Count(); }
int GetIndexBufferCount() { return g_index_buffers.Count(); }
int GetDeviceObjectCount() { return g_device_objects.Count(); }
int GetVertexBufferHighWater() { return g_vertex_buffers.HighWater(); }
