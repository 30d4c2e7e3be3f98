// lib/core/pack_lz.h - the library's own compression format: a byte-oriented
// LZ77 with an escape byte. A block is a 9-byte header (decoded size, encoded
// size with the header, escape byte; little-endian) and a token stream:
//   byte != escape            a literal
//   escape, escape            a literal escape byte
//   escape, code [, b], v     a back reference; a code above the escape is
//                             taken one lower; length (code >> 3) + 4, or with
//                             bit 2 ((code >> 3) | (b << 5)) + 4; bits 0-1 give
//                             the size of v (1, 2 or 3 bytes); distance v + 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t kPackHeaderSize = 9;
constexpr size_t kPackMaxMatch = 8195;
constexpr size_t kPackMaxDistance = 1u << 24;

// The decoded size from the header. With a destination, decodes into it; the
// header's sizes bound the work: the stream is read only up to the encoded
// size and written only up to the decoded size. -1 for a block that breaks
// those bounds, reaches before the start of its output, or does not fill the
// decoded size exactly. With a null destination (or an empty stream) only the
// size is returned.
int64_t DecodePackData(const void* block, void* destination);
// The same for a block of block_size bytes into destination_size bytes: -1
// also when the header claims more than either holds.
int64_t DecodePackDataChecked(const void* block, size_t block_size, void* destination,
                              size_t destination_size);
// The same through the plain decoder (literal runs found with memchr, every
// copy of its exact size), which the vector decoder above must match byte for
// byte; it stays as the reference. On failure either may have written any
// bytes within the decoded size.
int64_t DecodePackDataPlainChecked(const void* block, size_t block_size, void* destination,
                                   size_t destination_size);

// Reads the header of a block of block_size bytes; -1 when it is too short.
int ReadPackHeader(const void* block, size_t block_size, uint32_t* decoded_size,
                   uint32_t* encoded_size, unsigned char* escape);

// Encodes size bytes into a block (greedy matching over hash chains; the
// escape is the rarest byte). Empty on failure (more than 4 GB).
std::vector<unsigned char> EncodePackData(const void* data, size_t size);
