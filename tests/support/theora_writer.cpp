// tests/support/theora_writer.cpp - Ogg Theora (+ Vorbis) movies for tests.
#include "tests/support/theora_writer.h"

#include <theora/theoraenc.h>
#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstring>

namespace testsupport {

namespace {

void AppendPage(std::string* out, const ogg_page& page) {
  out->append(reinterpret_cast<const char*>(page.header), static_cast<size_t>(page.header_len));
  out->append(reinterpret_cast<const char*>(page.body), static_cast<size_t>(page.body_len));
}

void Flush(std::string* out, ogg_stream_state* os) {
  ogg_page page;
  while (ogg_stream_flush(os, &page) > 0) AppendPage(out, page);
}

void Drain(std::string* out, ogg_stream_state* os) {
  ogg_page page;
  while (ogg_stream_pageout(os, &page) > 0) AppendPage(out, page);
}

}  // namespace

YuvSample MovieSampleAt(int frame, int x, int y, int height) {
  if (y >= height - 16) return {235, 128, 128};
  switch (x / 16 % 4) {
    case 0:
      return {static_cast<uint8_t>(32 + 16 * (frame % 12)), 128, 128};
    case 1:
      return {81, 90, 240};  // red
    case 2:
      return {145, 54, 34};  // green
    default:
      return {41, 240, 110};  // blue
  }
}

void Bt601Reference(int y, int cb, int cr, int* red, int* green, int* blue) {
  auto clamp = [](double v) {
    long r = std::lround(v);
    return static_cast<int>(r < 0 ? 0 : (r > 255 ? 255 : r));
  };
  const double yy = 1.164 * (y - 16);
  *red = clamp(yy + 1.596 * (cr - 128));
  *green = clamp(yy - 0.391 * (cb - 128) - 0.813 * (cr - 128));
  *blue = clamp(yy + 2.018 * (cb - 128));
}

std::string MakeOggMovie(const MovieSpec& spec) {
  std::string out;
  th_info ti;
  th_info_init(&ti);
  const int frame_width = (spec.pic_x + spec.width + 15) / 16 * 16;
  const int frame_height = (spec.pic_y + spec.height + 15) / 16 * 16;
  ti.frame_width = static_cast<uint32_t>(frame_width);
  ti.frame_height = static_cast<uint32_t>(frame_height);
  ti.pic_width = static_cast<uint32_t>(spec.width);
  ti.pic_height = static_cast<uint32_t>(spec.height);
  ti.pic_x = static_cast<uint32_t>(spec.pic_x);
  ti.pic_y = static_cast<uint32_t>(spec.pic_y);
  ti.fps_numerator = static_cast<uint32_t>(spec.fps_numerator);
  ti.fps_denominator = static_cast<uint32_t>(spec.fps_denominator);
  ti.aspect_numerator = ti.aspect_denominator = 1;
  ti.colorspace = TH_CS_UNSPECIFIED;
  ti.pixel_fmt = spec.chroma == 444 ? TH_PF_444 : TH_PF_420;
  ti.quality = 63;
  th_enc_ctx* enc = spec.theora ? th_encode_alloc(&ti) : nullptr;
  if (enc) {
    unsigned interval = static_cast<unsigned>(spec.keyframe_interval);
    th_encode_ctl(enc, TH_ENCCTL_SET_KEYFRAME_FREQUENCY_FORCE, &interval, sizeof(interval));
  }
  ogg_stream_state video{}, audio{};
  ogg_packet packet;
  th_comment tc;
  th_comment_init(&tc);
  if (enc) {
    ogg_stream_init(&video, 1001);
    if (th_encode_flushheader(enc, &tc, &packet) > 0) {
      ogg_stream_packetin(&video, &packet);
      Flush(&out, &video);
    }
  }
  vorbis_info vi;
  vorbis_comment vc;
  vorbis_dsp_state vd;
  vorbis_block vb;
  const bool sound = spec.sound || !spec.theora;
  if (sound) {
    vorbis_info_init(&vi);
    vorbis_encode_init_vbr(&vi, 1, 22050, 0.1f);
    vorbis_comment_init(&vc);
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_init(&audio, 2002);
    ogg_packet h, hc, hcode;
    vorbis_analysis_headerout(&vd, &vc, &h, &hc, &hcode);
    ogg_stream_packetin(&audio, &h);
    Flush(&out, &audio);
    ogg_stream_packetin(&audio, &hc);
    ogg_stream_packetin(&audio, &hcode);
  }
  if (enc) {
    while (th_encode_flushheader(enc, &tc, &packet) > 0) ogg_stream_packetin(&video, &packet);
    Flush(&out, &video);
  }
  if (sound) Flush(&out, &audio);
  if (enc) {
    const int cw = spec.chroma == 444 ? frame_width : frame_width / 2;
    const int ch = spec.chroma == 444 ? frame_height : frame_height / 2;
    // The padding around the picture is black; the encoder does not look at it.
    std::vector<uint8_t> y(static_cast<size_t>(frame_width) * frame_height, 16), cb(static_cast<size_t>(cw) * ch, 128),
        cr(cb.size(), 128);
    for (int f = 0; f < spec.frames; ++f) {
      for (int py = 0; py < spec.height; ++py)
        for (int px = 0; px < spec.width; ++px) {
          YuvSample s = MovieSampleAt(f, px, py, spec.height);
          const int fx = spec.pic_x + px, fy = spec.pic_y + py;
          y[static_cast<size_t>(fy) * frame_width + fx] = s.y;
          const int sx = spec.chroma == 444 ? fx : fx / 2, sy = spec.chroma == 444 ? fy : fy / 2;
          cb[static_cast<size_t>(sy) * cw + sx] = s.cb;
          cr[static_cast<size_t>(sy) * cw + sx] = s.cr;
        }
      th_ycbcr_buffer buffer;
      buffer[0] = {frame_width, frame_height, frame_width, y.data()};
      buffer[1] = {cw, ch, cw, cb.data()};
      buffer[2] = {cw, ch, cw, cr.data()};
      th_encode_ycbcr_in(enc, buffer);
      const int last = f == spec.frames - 1;
      while (th_encode_packetout(enc, last, &packet) > 0) ogg_stream_packetin(&video, &packet);
      Drain(&out, &video);
    }
    Flush(&out, &video);
  }
  if (sound) {
    const int frames = spec.theora ? spec.frames : 10;
    const long samples = 22050L * frames * spec.fps_denominator / spec.fps_numerator;
    float** buffer = vorbis_analysis_buffer(&vd, static_cast<int>(samples));
    for (long i = 0; i < samples; ++i) buffer[0][i] = 0.25f * std::sin(static_cast<float>(i) * 0.05f);
    vorbis_analysis_wrote(&vd, static_cast<int>(samples));
    vorbis_analysis_wrote(&vd, 0);
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      // A page a packet: a test movie's short sound in one page after the
      // video's pages decodes to nothing through vorbisfile (oggdec too).
      while (vorbis_bitrate_flushpacket(&vd, &packet)) {
        ogg_stream_packetin(&audio, &packet);
        Flush(&out, &audio);
      }
    }
    Flush(&out, &audio);
    ogg_stream_clear(&audio);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
  }
  if (enc) {
    ogg_stream_clear(&video);
    th_encode_free(enc);
  }
  th_comment_clear(&tc);
  th_info_clear(&ti);
  return out;
}

}  // namespace testsupport
