#!/usr/bin/env bash
# Makes the seed inputs of the MP3 and coded-WAVE fuzz targets: a few frames
# of each MPEG flavour the converter meets, and tiny files of each codec.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sox -R -n -r 44100 -c 2 -b 16 "$tmp/s.wav" synth 0.08 sine 440
sox -R -n -r 22050 -c 1 -b 16 "$tmp/m.wav" synth 0.08 sine 440
lame --quiet -b 64 "$tmp/s.wav" mp3_frames/stereo44.mp3
lame --quiet -t -V 7 "$tmp/m.wav" mp3_frames/mono22_vbr.mp3
for e in ms-adpcm ima-adpcm a-law u-law; do
  sox -R "$tmp/m.wav" -e $e acm_wave/$e.wav trim 0 0.02
done
sox -R "$tmp/s.wav" -e ms-adpcm acm_wave/ms-adpcm-stereo.wav trim 0 0.03
