// lib/image/jpeg_loader.cpp - JPEG files through libjpeg, fed from the
// library's streams by a source manager of our own.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/image/image_load.h"

namespace {

// Stream bytes fed to the decoder at a time, and rows decoded a call.
constexpr size_t kJpegBufferSize = 65536;
constexpr int kJpegRowsPerCall = 16;

// The source record: libjpeg's manager first, so the decompressor's src
// pointer is also ours.
struct JpegSource {
  jpeg_source_mgr pub;
  JOCTET* buffer;
  uint32_t start_of_file;
  StreamReader* reader;
  int64_t end;
  JOCTET eoi[2];
  // The data ended before an end-of-image marker: one was put in its place.
  bool ran_out;
};

// The error manager followed by the jump buffer, and what the decoder's
// warnings told: data lost before the data ran out (damage) and after it
// (the file was cut short). The std manager's own warning output is kept
// for the warnings that are not about the end of the data.
struct JpegError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  void (*std_emit)(j_common_ptr cinfo, int level);
  const JpegSource* source;
  bool corrupt;
  bool cut;
};

}  // namespace

void JpegErrorExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

namespace {

// libjpeg goes on past a cut or corrupt stream with only a warning, filling
// what is missing with grey. Data lost inside the file is damage; data lost
// after the data ran out (where an end marker was put) is the file being cut
// short. (Extraneous bytes before a marker lose nothing and are common.)
void JpegEmitMessage(j_common_ptr cinfo, int level) {
  auto* error = reinterpret_cast<JpegError*>(cinfo->err);
  const bool ran_out = error->source && error->source->ran_out;
  if (level < 0) {
    switch (cinfo->err->msg_code) {
      case JWRN_JPEG_EOF:
        // The load names what is missing in its own line.
        if (ran_out) return;
        break;
      case JWRN_HIT_MARKER:
      case JWRN_HUFF_BAD_CODE:
      case JWRN_MUST_RESYNC:
        if (ran_out) {
          error->cut = true;
          return;
        }
        error->corrupt = true;
        break;
      default:
        break;
    }
  }
  error->std_emit(cinfo, level);
}

// Fatal errors for files of a kind this decoder does not handle (lossless,
// hierarchical or 12-bit data, arithmetic coding where it is not built in,
// sampling it does not do), as against damaged data: these files are left
// to other decoders.
bool JpegNotSupported(int code) {
  switch (code) {
    case JERR_SOF_UNSUPPORTED:
    case JERR_BAD_PRECISION:
    case JERR_NOT_COMPILED:
    case JERR_NOTIMPL:
    case JERR_ARITH_NOTIMPL:
    case JERR_CCIR601_NOTIMPL:
    case JERR_FRACT_SAMPLE_NOTIMPL:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_COMPONENT_COUNT:
      return true;
    default:
      return false;
  }
}

void JpegOutputMessage(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX + 64];
  char message[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, message);
  std::snprintf(text, sizeof(text), "JPEGファイルの読み込み: %s\n", message);
  WriteImageLogLine(text);
}

void JpegInitSource(j_decompress_ptr cinfo) {
  reinterpret_cast<JpegSource*>(cinfo->src)->start_of_file = 1;
}

boolean JpegFillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
  StreamReader* reader = src->reader;
  int64_t pos = reader->ops.tell(reader->handle);
  int64_t n = pos < 0 ? 0 : src->end - pos;
  if (n > static_cast<int64_t>(kJpegBufferSize)) n = kJpegBufferSize;
  if (n > 0 && StreamReadExact(reader, src->buffer, static_cast<uint64_t>(n))) {
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = static_cast<size_t>(n);
    src->start_of_file = 0;
    return TRUE;
  }
  if (src->start_of_file) ERREXIT(cinfo, JERR_INPUT_EMPTY);
  src->ran_out = true;
  WARNMS(cinfo, JWRN_JPEG_EOF);
  // Premature end: an end-of-image marker lets the decoder finish.
  src->eoi[0] = 0xFF;
  src->eoi[1] = JPEG_EOI;
  src->pub.next_input_byte = src->eoi;
  src->pub.bytes_in_buffer = 2;
  src->start_of_file = 0;
  return TRUE;
}

void JpegSkipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  size_t n = static_cast<size_t>(count);
  while (n > src->bytes_in_buffer) {
    n -= src->bytes_in_buffer;
    (*src->fill_input_buffer)(cinfo);
  }
  src->next_input_byte += n;
  src->bytes_in_buffer -= n;
}

void JpegTermSource(j_decompress_ptr) {}

}  // namespace

void JpegSetStreamSource(j_decompress_ptr cinfo, StreamReader* reader) {
  if (!cinfo->src) {
    auto* src = static_cast<JpegSource*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT,
                                   sizeof(JpegSource)));
    src->buffer = static_cast<JOCTET*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kJpegBufferSize));
    cinfo->src = &src->pub;
  }
  auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
  src->pub.init_source = JpegInitSource;
  src->pub.fill_input_buffer = JpegFillInputBuffer;
  src->pub.skip_input_data = JpegSkipInputData;
  src->pub.resync_to_restart = jpeg_resync_to_restart;
  src->pub.term_source = JpegTermSource;
  src->reader = reader;
  const int64_t pos = reader->ops.tell(reader->handle);
  const int64_t remaining = StreamRemaining(reader);
  src->end = pos + (remaining < 0 ? 0 : remaining);
  src->pub.bytes_in_buffer = 0;
  src->pub.next_input_byte = nullptr;
  src->ran_out = false;
}

namespace {

// How much of a decoded picture the file held.
enum class JpegWholeness { kWhole, kNoEndMarker, kCutShort, kDamaged };

// A progressive picture whose every coefficient got all its bits: read once
// the last row is out (the record goes with jpeg_finish_decompress).
bool JpegProgressionComplete(j_decompress_ptr cinfo) {
  if (!cinfo->progressive_mode) return true;
  if (!cinfo->coef_bits) return false;
  for (int c = 0; c < cinfo->num_components; ++c) {
    for (int k = 0; k < DCTSIZE2; ++k) {
      if (cinfo->coef_bits[c][k] != 0) return false;
    }
  }
  return true;
}

// After jpeg_finish_decompress: what the warnings and the end of the data
// say about the picture. Data that ends where a progressive picture still
// lacked scans was cut short at a scan boundary; data that ends with every
// scan whole lacks only its end marker.
JpegWholeness JpegAssess(const JpegError* error, bool progression_complete) {
  if (error->corrupt) return JpegWholeness::kDamaged;
  if (!error->source->ran_out) return JpegWholeness::kWhole;
  if (error->cut || !progression_complete) return JpegWholeness::kCutShort;
  return JpegWholeness::kNoEndMarker;
}

// Decodes the picture in the decoder's own colour layout one row at a time
// and throws the rows away. A failure jumps to the caller's handler.
JpegWholeness JpegDecodeAndAssess(j_decompress_ptr cinfo, JpegError* error) {
  jpeg_calc_output_dimensions(cinfo);
  const uint64_t row = static_cast<uint64_t>(cinfo->output_width) * cinfo->output_components;
  if (row == 0 || row > (uint64_t{1} << 24)) return JpegWholeness::kDamaged;
  jpeg_start_decompress(cinfo);
  JSAMPARRAY line = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                                static_cast<JDIMENSION>(row), 1);
  while (cinfo->output_scanline < cinfo->output_height) jpeg_read_scanlines(cinfo, line, 1);
  const bool complete = JpegProgressionComplete(cinfo);
  jpeg_finish_decompress(cinfo);
  return JpegAssess(error, complete);
}

constexpr const char* kJpegNoEndMarker = "終わりのマーカー(EOI)がありません";
constexpr const char* kJpegCutShort = "データが途中で切れています";

}  // namespace

int ReadJpegImage(StreamReader* reader, BaseImage* image) {
  // Data that does not begin with a start-of-image marker is not offered to
  // libjpeg.
  const int64_t start = reader->ops.tell(reader->handle);
  uint8_t soi[2];
  if (!StreamReadExact(reader, soi, 2) || soi[0] != 0xFF || soi[1] != 0xD8 ||
      reader->ops.seek(reader->handle, start, 0) != 0) {
    return -1;
  }

  struct State {
    jpeg_decompress_struct cinfo;
    JpegError error;
    uint8_t* pixels;
  };
  State storage;
  State* const s = &storage;
  std::memset(&s->cinfo, 0, sizeof(s->cinfo));
  s->pixels = nullptr;
  s->cinfo.err = jpeg_std_error(&s->error.pub);
  s->error.pub.error_exit = JpegErrorExit;
  s->error.pub.output_message = JpegOutputMessage;
  s->error.std_emit = s->error.pub.emit_message;
  s->error.pub.emit_message = JpegEmitMessage;
  s->error.source = nullptr;
  s->error.corrupt = false;
  s->error.cut = false;
  // Past the start-of-image marker a failure is this file's own damage,
  // unless the decoder names a kind of file it does not handle or runs out
  // of memory (its message is in the log).
  if (setjmp(s->error.jump)) {
    RR_FREE(s->pixels);
    const int code = s->error.pub.msg_code;
    jpeg_destroy_decompress(&s->cinfo);
    if (JpegNotSupported(code) || code == JERR_OUT_OF_MEMORY) return -1;
    return kImageDamaged;
  }
  jpeg_create_decompress(&s->cinfo);
  JpegSetStreamSource(&s->cinfo, reader);
  s->error.source = reinterpret_cast<const JpegSource*>(s->cinfo.src);
  jpeg_read_header(&s->cinfo, TRUE);
  // The size is checked before the decoder allocates its buffers (a
  // progressive image keeps coefficients for the whole picture).
  jpeg_calc_output_dimensions(&s->cinfo);
  if (static_cast<uint64_t>(s->cinfo.output_width) * s->cinfo.output_height *
          s->cinfo.num_components * 2 > kMaxImageBytes) {
    jpeg_destroy_decompress(&s->cinfo);
    return ImageTooLarge("JPEGファイルの画像サイズが大きすぎます\n");
  }
  // Colour comes out B, G, R straight from the decoder; CMYK and other
  // layouts have no base-image format and are left to the movie path, once
  // they are known to hold all their data (an end marker aside).
  if (s->cinfo.out_color_space == JCS_RGB) {
    s->cinfo.out_color_space = JCS_EXT_BGR;
  } else if (s->cinfo.out_color_space != JCS_GRAYSCALE) {
    WriteImageLogLine("JPEGファイルの色空間に対応していません\n");
    const JpegWholeness whole = JpegDecodeAndAssess(&s->cinfo, &s->error);
    jpeg_destroy_decompress(&s->cinfo);
    if (whole == JpegWholeness::kDamaged) {
      return ImageDamaged("JPEGファイルのデータが壊れています\n");
    }
    if (whole == JpegWholeness::kCutShort) {
      return ImageDamaged("JPEGファイルのデータが途中で切れています\n");
    }
    return -1;
  }
  jpeg_start_decompress(&s->cinfo);
  const uint64_t row = static_cast<uint64_t>(s->cinfo.output_width) * s->cinfo.output_components;
  const uint64_t height = s->cinfo.output_height;
  if (row == 0 || height == 0 || row > 0x7FFFFFFF || row * height > kMaxImageBytes) {
    jpeg_destroy_decompress(&s->cinfo);
    return ImageTooLarge("JPEGファイルの画像サイズが大きすぎます\n");
  }
  s->pixels = static_cast<uint8_t*>(RR_ALLOC(row * height));
  if (!s->pixels) {
    WriteImageLogLine("JPEG画像のメモリ確保に失敗しました\n");
    jpeg_destroy_decompress(&s->cinfo);
    return -1;
  }
  // Decoded straight into the image's rows, several a call.
  while (s->cinfo.output_scanline < s->cinfo.output_height) {
    JSAMPROW lines[kJpegRowsPerCall];
    const uint32_t first = s->cinfo.output_scanline;
    const uint32_t count = std::min<uint32_t>(kJpegRowsPerCall, s->cinfo.output_height - first);
    for (uint32_t i = 0; i < count; ++i) lines[i] = s->pixels + static_cast<uint64_t>(first + i) * row;
    jpeg_read_scanlines(&s->cinfo, lines, count);
  }
  const bool complete = JpegProgressionComplete(&s->cinfo);
  jpeg_finish_decompress(&s->cinfo);
  // A file that ran out loads with what the decoder made of the rest (grey
  // where data was missing); data lost inside the file is damage.
  switch (JpegAssess(&s->error, complete)) {
    case JpegWholeness::kDamaged:
      RR_FREE(s->pixels);
      jpeg_destroy_decompress(&s->cinfo);
      return ImageDamaged("JPEGファイルのデータが壊れています\n");
    case JpegWholeness::kCutShort:
      NoteImageIncomplete(kJpegCutShort);
      break;
    case JpegWholeness::kNoEndMarker:
      NoteImageIncomplete(kJpegNoEndMarker);
      break;
    case JpegWholeness::kWhole:
      break;
  }
  if (s->cinfo.output_components == 1) {
    SetPixelFormatInfoGray8(&image->format);
  } else {
    SetPixelFormatInfoRgb24(&image->format);
  }
  image->width = static_cast<int32_t>(s->cinfo.output_width);
  image->height = static_cast<int32_t>(height);
  image->pitch = static_cast<int32_t>(row);
  image->pixels = s->pixels;
  image->mip_count = 0;
  s->pixels = nullptr;
  jpeg_destroy_decompress(&s->cinfo);
  return 0;
}
