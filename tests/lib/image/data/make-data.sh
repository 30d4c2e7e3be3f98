#!/usr/bin/env bash
# Makes the small test images of this folder with ImageMagick, each with the
# RGBA reference pixels ImageMagick's own decoding gives (<name>.rgba, 8 bits
# per sample, rows top first). Run from this folder; the results are committed.
set -euo pipefail
convert -size 13x7 gradient:red-blue -attenuate 0.3 +noise Uniform src.png
convert -size 13x7 xc:none -fill '#20C040' -draw 'circle 6,3 6,0' -channel A -blur 0x1 src_alpha.png

convert src.png BMP3:bmp3_24.bmp
convert src.png -define bmp:format=bmp4 bmp4_24.bmp
convert src.png -colors 200 -type palette -compress None BMP3:bmp3_8.bmp
convert src.png -colors 12 -type palette BMP3:bmp3_4.bmp
convert src.png -colors 200 -type palette -compress RLE BMP3:bmp3_rle8.bmp
convert src.png -monochrome BMP3:bmp3_1.bmp
convert src_alpha.png -define bmp:format=bmp4 bmp4_32.bmp
# Its TGA writer stores rows top first whatever the orientation; say so in the file.
convert src.png -orient TopLeft tga_24.tga
convert src.png -orient TopLeft -compress RLE tga_rle24.tga
convert src_alpha.png -compress RLE tga_rle32.tga
convert src.png -orient TopLeft -colors 12 -type palette tga_pal.tga
convert src.png -define dds:compression=none -define dds:mipmaps=0 dds_rgb.dds
convert src.png -type palette -colors 5 png_pal.png
convert src_alpha.png png_rgba.png
convert src.png -colorspace gray -depth 16 png_grey16.png
convert src.png -interlace PNG png_interlaced.png
convert src.png -quality 85 jpeg_colour.jpg
convert src.png -colorspace gray -quality 85 jpeg_grey.jpg
convert src.png -interlace Plane -quality 85 jpeg_progressive.jpg

for f in *.bmp *.tga *.dds *.png *.jpg; do
  case $f in src*.png) continue ;; esac
  convert "$f" -depth 8 "rgba:${f%.*}.rgba"
done
rm -f src.png src_alpha.png
