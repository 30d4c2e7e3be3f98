#!/usr/bin/env bash
# Seeds of the image loader fuzz targets: the test images of
# tests/lib/image/data and a small raw BGRA file. Run from this folder.
set -euo pipefail
data=../../../tests/lib/image/data
mkdir -p bmp_loader tga_loader dds_loader bgra_loader png_loader jpeg_loader image_walk
cp "$data"/*.bmp bmp_loader/
cp "$data"/*.tga tga_loader/
cp "$data"/*.dds dds_loader/
cp "$data"/*.png png_loader/
cp "$data"/*.jpg jpeg_loader/
printf 'BGRA\x08\x08\x08\x08\x02\x00\x00\x00\x02\x00\x00\x00abcdefghijklmnop' > bgra_loader/small8.bgra
printf 'BGRA\x10\x10\x10\x10\x01\x00\x00\x00\x01\x00\x00\x00abcdefgh' > bgra_loader/small16.bgra
cp "$data"/bmp3_rle8.bmp "$data"/tga_rle32.tga "$data"/dds_rgb.dds "$data"/png_pal.png \
  "$data"/jpeg_progressive.jpg bgra_loader/small8.bgra image_walk/
# DXT1 and DXT5 8 x 8 files with four mip levels.
python3 - <<'PY'
import struct
for cc, block in ((b"DXT1", 8), (b"DXT5", 16)):
    head = bytearray(124)
    struct.pack_into("<IIIIIII", head, 0, 124, 0x1007 | 0x20000, 8, 8, 0, 0, 4)
    struct.pack_into("<II4s", head, 72, 32, 4, cc)
    struct.pack_into("<I", head, 104, 0x401008)
    levels = (4 + 1 + 1 + 1) * block
    data = bytes((i * 37 + 11) & 255 for i in range(levels))
    open("dds_loader/mip_%s.dds" % cc.decode().lower(), "wb").write(b"DDS " + head + data)
PY
