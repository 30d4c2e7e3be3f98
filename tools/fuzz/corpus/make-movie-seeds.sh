#!/usr/bin/env bash
# Makes the seed inputs of the movie fuzz target: two-frame movies of 16 x 16
# pixels in each container and codec the media graph plays.
set -euo pipefail
cd "$(dirname "$0")"
in="-f lavfi -i testsrc=size=16x16:rate=25:duration=0.08"
ffmpeg -loglevel error -y $in -c:v libx264 -pix_fmt yuv420p -bf 0 movie_graph/h264.mp4
ffmpeg -loglevel error -y $in -c:v libvpx-vp9 -pix_fmt yuv420p movie_graph/vp9.webm
ffmpeg -loglevel error -y $in -c:v mjpeg -pix_fmt yuvj420p movie_graph/mjpeg.avi
ffmpeg -loglevel error -y $in -c:v mpeg1video movie_graph/mpeg1.mpg
ffmpeg -loglevel error -y $in -f lavfi -i sine=duration=0.08 -c:v mpeg4 -c:a mp2 movie_graph/mpeg4.mkv
