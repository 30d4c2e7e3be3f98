// tools/placeholder/audio.cpp - sound effects written as plain WAV files and
// music encoded to MP3.
#include "tools/placeholder/audio.h"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace placeholder {

namespace {

constexpr double kPi = 3.14159265358979;

void Put16(std::vector<unsigned char>& out, int v) {
  out.push_back(static_cast<unsigned char>(v));
  out.push_back(static_cast<unsigned char>(v >> 8));
}
void Put32(std::vector<unsigned char>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

bool WriteFile(const std::string& path, const void* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

int16_t Clamp16(double v) {
  return static_cast<int16_t>(std::lround(std::fmax(-32767.0, std::fmin(32767.0, v))));
}

}  // namespace

bool WriteSoundEffect(const std::string& path, int slot) {
  constexpr int kRate = 22050;
  // Explosions and hits are noisy; menu sounds are clean blips.
  const bool noisy = slot == 9 || slot == 23 || slot == 24 || slot == 26 || slot == 16;
  const double seconds = noisy ? 0.45 : 0.12 + 0.01 * (slot % 8);
  const double f0 = 220.0 * std::pow(2.0, slot / 7.0);
  const int n = static_cast<int>(seconds * kRate);
  std::vector<int16_t> pcm(n);
  uint32_t noise = 0x12345u + static_cast<uint32_t>(slot);
  double phase = 0.0;
  for (int i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double env = std::exp(-t * (noisy ? 7.0 : 18.0)) * std::fmin(1.0, i / 40.0);
    const double f = f0 * (1.0 + (slot % 3 == 0 ? -0.5 * t / seconds : 0.3 * t / seconds));
    phase += 2 * kPi * f / kRate;
    double v = std::sin(phase) + 0.3 * std::sin(2 * phase);
    if (noisy) {
      noise = noise * 1664525u + 1013904223u;
      v = 0.4 * v + 0.8 * (static_cast<double>(noise >> 8) / 8388608.0 - 1.0);
    }
    pcm[i] = Clamp16(v * env * 20000.0);
  }
  std::vector<unsigned char> out;
  const uint32_t data_bytes = static_cast<uint32_t>(n) * 2;
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  Put32(out, 36 + data_bytes);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(out, 16);
  Put16(out, 1);  // PCM
  Put16(out, 1);  // mono
  Put32(out, kRate);
  Put32(out, kRate * 2);
  Put16(out, 2);
  Put16(out, 16);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  Put32(out, data_bytes);
  for (int16_t s : pcm) Put16(out, s);
  return WriteFile(path, out.data(), out.size());
}

bool WriteMusic(const std::string& path, int track, double seconds, int loop_ms) {
  constexpr int kRate = 22050;
  const int n = static_cast<int>(seconds * kRate);
  std::vector<short> pcm(n);
  // A simple pentatonic tune: each track has its own key and tempo.
  const double scale[5] = {0, 2, 4, 7, 9};
  const double root = 196.0 * std::pow(2.0, (track % 6) / 12.0);
  const double beat = 0.25 + 0.03 * (track % 4);
  uint32_t seed = 977u * static_cast<uint32_t>(track + 1);
  const int beats = static_cast<int>(seconds / beat) + 1;
  std::vector<double> notes(beats);
  for (double& note : notes) {
    seed = seed * 1103515245u + 12345u;
    const int k = static_cast<int>((seed >> 16) % 10);
    note = root * std::pow(2.0, (scale[k % 5] + 12 * (k / 5)) / 12.0);
  }
  const double seam = loop_ms >= 0 ? loop_ms / 1000.0 : -100.0;
  double phase = 0.0, bass_phase = 0.0;
  for (int i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const int b = static_cast<int>(t / beat);
    const double in_beat = t - b * beat;
    phase += 2 * kPi * notes[b] / kRate;
    bass_phase += 2 * kPi * (root / 2) * (b % 8 < 4 ? 1.0 : 0.75) / kRate;
    double v = 0.35 * std::sin(phase) * std::exp(-in_beat * 6.0) + 0.25 * std::sin(bass_phase);
    // The loop seam: a bright bell that rings from the loop position.
    const double since = t - seam;
    if (since >= 0.0 && since < 1.2) {
      v += 0.5 * std::sin(2 * kPi * 1760.0 * since) * std::exp(-since * 4.0);
      v += 0.3 * std::sin(2 * kPi * 2637.0 * since) * std::exp(-since * 5.0);
    }
    // Short fades at both ends keep the file itself click-free.
    const double fade = std::fmin(1.0, std::fmin(t / 0.02, (seconds - t) / 0.05));
    pcm[i] = Clamp16(v * fade * 16000.0);
  }

  lame_global_flags* lame = lame_init();
  if (lame == nullptr) return false;
  lame_set_num_channels(lame, 1);
  lame_set_in_samplerate(lame, kRate);
  lame_set_out_samplerate(lame, kRate);
  lame_set_mode(lame, MONO);
  lame_set_brate(lame, 32);
  lame_set_VBR(lame, vbr_off);
  lame_set_quality(lame, 7);
  lame_set_bWriteVbrTag(lame, 0);
  if (lame_init_params(lame) < 0) {
    lame_close(lame);
    return false;
  }
  std::vector<unsigned char> mp3(static_cast<size_t>(n) * 5 / 4 + 7200 + 16384);
  size_t used = 0;
  constexpr int kChunk = 8192;
  bool ok = true;
  for (int i = 0; i < n && ok; i += kChunk) {
    const int count = std::min(kChunk, n - i);
    const int r = lame_encode_buffer(lame, &pcm[i], nullptr, count, mp3.data() + used,
                                     static_cast<int>(mp3.size() - used));
    if (r < 0) ok = false; else used += static_cast<size_t>(r);
  }
  if (ok) {
    const int r = lame_encode_flush(lame, mp3.data() + used, static_cast<int>(mp3.size() - used));
    if (r < 0) ok = false; else used += static_cast<size_t>(r);
  }
  lame_close(lame);
  return ok && WriteFile(path, mp3.data(), used);
}

}  // namespace placeholder
