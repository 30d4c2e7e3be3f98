// lib/core/pack_lz_stream.h - the pieces of the LZ decoder shared by its plain
// loop (pack_lz.cpp) and its vector loop (pack_lz_vector.cpp).
#pragma once

#include <cstddef>
#include <cstring>

// Where a decoder stands in its stream and its output.
struct Cursor {
  const unsigned char* in;
  unsigned char* out;
};

// Copies a back reference of length bytes from distance bytes behind out;
// the caller has checked both against the buffer. Repeated runs are copied in
// doubling blocks, each one clear of its source.
inline unsigned char* CopyReference(unsigned char* out, size_t distance, size_t length) {
  const unsigned char* from = out - distance;
  if (distance >= length) {
    std::memcpy(out, from, length);
    return out + length;
  }
  if (distance == 1) {
    std::memset(out, *from, length);
    return out + length;
  }
  while (length > distance) {
    std::memcpy(out, out - distance, distance);
    out += distance;
    length -= distance;
    distance *= 2;
  }
  std::memcpy(out, out - distance, length);
  return out + length;
}

// Reads the back reference after an escape at in (code not the escape):
// length and distance, and the stream position after it; false when the
// stream ends inside it or its size form is invalid.
inline bool ReadReference(const unsigned char* in, const unsigned char* in_end, unsigned char escape,
                   size_t* length, size_t* distance, const unsigned char** next) {
  unsigned int code = in[1];
  in += 2;
  if (code > escape) --code;
  size_t n = code >> 3;
  if (code & 4) {
    if (in == in_end) return false;
    n |= static_cast<size_t>(*in++) << 5;
  }
  *length = n + 4;
  size_t form = code & 3;
  if (form == 3 || static_cast<size_t>(in_end - in) < form + 1) return false;
  size_t v = in[0];
  if (form >= 1) v |= static_cast<size_t>(in[1]) << 8;
  if (form == 2) v |= static_cast<size_t>(in[2]) << 16;
  *distance = v + 1;
  *next = in + form + 1;
  return true;
}

// The vector loop (processors with AVX2, BMI1 and POPCNT only): decodes while both buffers have
// room for its whole-block reads and writes, and returns where it stopped for
// the plain loop to finish; in is null when the stream is corrupt. Every
// output byte below the returned position is final; bytes above it within
// the output may hold anything until the plain loop writes them.
Cursor DecodeVector(const unsigned char* in, size_t in_size, unsigned char* out, size_t out_size,
                    unsigned char escape);
