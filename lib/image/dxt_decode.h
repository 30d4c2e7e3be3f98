// lib/image/dxt_decode.h - decoding of DXT1 to DXT5 block data into 32-bit
// A8R8G8B8 pixels.
#pragma once

#include <cstdint>

struct BaseImage;

// Decodes one 4 x 4 block of the given compression (1 to 5) into 16 pixels,
// row by row, each A8R8G8B8. block holds 8 (DXT1) or 16 bytes.
void DecodeDxtBlock(uint32_t compression, const uint8_t* block, uint32_t out[16]);

// Turns a DXT image into 32-bit A8R8G8B8 (first level only); 0 at once for a
// plain image, -1 (image unchanged) when the new block cannot be allocated.
int DecompressDxtBaseImage(BaseImage* image);
