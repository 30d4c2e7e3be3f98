// lib/sound/theora_movie.cpp - the library's own Ogg Theora player: header
// search, a one-pass index of pages and key frames, and a decoding thread
// that keeps a stock of decoded frames ahead of the frame being shown.
//
// The main thread and the decoding thread share the record without a lock:
// the main thread owns the requests and the current frame, the thread owns
// the state word, the decode position and the stock. A seek is a handshake
// (hold, wait for the held state, write the seek fields, release).
#include <cstdio>
#include <cstring>
#include <new>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/image/image_load.h"
#include "lib/sound/movie.h"

namespace {

constexpr int kReadPiece = 4096;
constexpr int kTableGrowth = 1000;
constexpr int kSeekSet = 0;

// Both sides wait in real time: the library's clock, virtual in headless
// runs, must move only with the caller's own time. The time-outs are a guard,
// not a pace: every change the other side waits for sets its event.
constexpr uint32_t kThreadIdleWaitMs = 100;
constexpr uint32_t kCallerWaitMs = 10;

void WakeCaller(TheoraMovieRecord* r) {
  if (r->caller_wake) plat::SetEvent(r->caller_wake);
}

void WakeThread(TheoraMovieRecord* r) {
  if (r->thread_wake) plat::SetEvent(r->thread_wake);
}

// The thread has nothing to do until the caller asks for something.
void WaitForCaller(TheoraMovieRecord* r) {
  WakeCaller(r);
  if (r->thread_wake)
    plat::WaitEvent(r->thread_wake, kThreadIdleWaitMs);
  else
    plat::Sleep(0);
}

void ResetReading(TheoraMovieRecord* r, uint32_t position) {
  ogg_sync_reset(&r->sync);
  if (r->stream_ready) ogg_stream_reset(&r->stream);
  r->files.seek(r->file, position, kSeekSet);
}

void FreeSlotPlanes(TheoraFrameSlot* slot) {
  RR_FREE(slot->y);
  RR_FREE(slot->cb);
  RR_FREE(slot->cr);
  slot->y = slot->cb = slot->cr = nullptr;
}

// Copies one plane with its rows top first at a positive stride.
void CopyPlane(uint8_t* to, const unsigned char* from, int rows, int stride) {
  const int step = stride < 0 ? -stride : stride;
  for (int row = 0; row < rows; ++row)
    memcpy(to + static_cast<size_t>(row) * step, from + static_cast<ptrdiff_t>(row) * stride, step);
}

// Puts the decoder's present output into a free stock slot as frame `frame`.
void StoreDecodedFrame(TheoraMovieRecord* r, int frame) {
  TheoraFrameSlot* slot = nullptr;
  for (int i = 0; i < r->stock_size; ++i) {
    if (!r->stock[i].in_use) {
      slot = &r->stock[i];
      break;
    }
  }
  if (!slot) return;
  yuv_buffer yuv;
  if (theora_decode_YUVout(&r->decoder, &yuv) != 0) return;
  const int y_stride = yuv.y_stride < 0 ? -yuv.y_stride : yuv.y_stride;
  const int c_stride = yuv.uv_stride < 0 ? -yuv.uv_stride : yuv.uv_stride;
  if (slot->y && (slot->y_width != yuv.y_width || slot->y_height != yuv.y_height || slot->y_stride != y_stride)) {
    RR_FREE(slot->y);
    slot->y = nullptr;
  }
  if ((slot->cb || slot->cr) &&
      (slot->c_width != yuv.uv_width || slot->c_height != yuv.uv_height || slot->c_stride != c_stride)) {
    RR_FREE(slot->cb);
    RR_FREE(slot->cr);
    slot->cb = slot->cr = nullptr;
  }
  slot->y_width = yuv.y_width;
  slot->y_height = yuv.y_height;
  slot->y_stride = y_stride;
  slot->c_width = yuv.uv_width;
  slot->c_height = yuv.uv_height;
  slot->c_stride = c_stride;
  const size_t y_size = static_cast<size_t>(y_stride) * yuv.y_height;
  const size_t c_size = static_cast<size_t>(c_stride) * yuv.uv_height;
  if (!slot->y) slot->y = static_cast<uint8_t*>(RR_ALLOC(y_size));
  if (!slot->cb) slot->cb = static_cast<uint8_t*>(RR_ALLOC(c_size));
  if (!slot->cr) slot->cr = static_cast<uint8_t*>(RR_ALLOC(c_size));
  // A frame that cannot be kept is left out; the main thread waits for it
  // and the next round tries again.
  if (!slot->y || !slot->cb || !slot->cr) return;
  CopyPlane(slot->y, yuv.y, yuv.y_height, yuv.y_stride);
  CopyPlane(slot->cb, yuv.u, yuv.uv_height, yuv.uv_stride);
  CopyPlane(slot->cr, yuv.v, yuv.uv_height, yuv.uv_stride);
  slot->frame.store(frame, std::memory_order_relaxed);
  slot->in_use.store(1, std::memory_order_release);
}

// The seek part of a thread round; false when the target lies past the index
// (the thread then ends).
bool RunSeek(TheoraMovieRecord* r) {
  const int target = r->seek_target;
  int entry = -1;
  for (int i = 0; i < r->page_count; ++i) {
    if (r->pages[i].first_frame + r->pages[i].frame_count > target) {
      entry = i;
      break;
    }
  }
  if (entry < 0) return false;
  if (entry > 0) {
    --entry;
    while (entry > 0 && !r->pages[entry].key_frame) --entry;
    if (entry > 0) --entry;
  }
  ResetReading(r, r->pages[entry].position);
  int counter = r->pages[entry].first_frame;
  if (entry > 0) {
    // The first page of our stream read here: a packet it only finishes
    // cannot be decoded, so numbering starts one later.
    for (bool found = false; !found;) {
      if (ogg_sync_pageout(&r->sync, &r->page) > 0) {
        if (ogg_page_serialno(&r->page) != r->serial) continue;
        if (ogg_page_continued(&r->page)) ++counter;
        ogg_stream_pagein(&r->stream, &r->page);
        found = true;
      } else if (ReadTheoraData(r, kReadPiece) == 0) {
        break;
      }
    }
  }
  // Every packet from the chosen page up to the target goes through the
  // decoder (those before the run's last key frame are skipped by it), so
  // its output is the target frame.
  r->decode_position.store(counter - 1, std::memory_order_relaxed);
  if (target >= counter) DecodeTheoraPackets(r, target - counter + 1);
  for (int i = 0; i < r->stock_size; ++i) r->stock[i].in_use.store(0, std::memory_order_relaxed);
  r->seek_request.store(0, std::memory_order_release);
  r->decode_position.store(target, std::memory_order_relaxed);
  r->end_of_file.store(0, std::memory_order_release);
  return true;
}

void FreeStaleSlots(TheoraMovieRecord* r) {
  const int64_t cur = r->current_frame.load(std::memory_order_acquire);
  const int64_t end = cur + r->stock_size;
  const int64_t count = r->frame_count;
  const int dp = r->decode_position.load(std::memory_order_relaxed);
  for (int i = 0; i < r->stock_size; ++i) {
    TheoraFrameSlot& slot = r->stock[i];
    if (!slot.in_use.load(std::memory_order_relaxed)) continue;
    const int64_t f = slot.frame.load(std::memory_order_relaxed);
    bool free_it;
    if (f < cur)
      free_it = end < count || f > end - count;
    else
      free_it = f > dp && f > end;
    if (free_it) slot.in_use.store(0, std::memory_order_release);
  }
}

int FindSlot(TheoraMovieRecord* r, int frame) {
  for (int i = 0; i < r->stock_size; ++i) {
    if (r->stock[i].in_use.load(std::memory_order_acquire) &&
        r->stock[i].frame.load(std::memory_order_relaxed) == frame)
      return i;
  }
  return -1;
}

// One decode-ahead round; false after the end of the file (wait a little).
bool RunDecodeAhead(TheoraMovieRecord* r) {
  if (!r->end_of_file.load(std::memory_order_relaxed)) FreeStaleSlots(r);
  bool has_free = false;
  for (int i = 0; i < r->stock_size && !has_free; ++i)
    has_free = !r->stock[i].in_use.load(std::memory_order_relaxed);
  // A full stock without the frame being waited for (the shown frame jumped
  // round the loop point past what is kept) would never make room again:
  // start it afresh.
  if (!has_free && FindSlot(r, r->current_frame.load(std::memory_order_acquire)) < 0) {
    for (int i = 0; i < r->stock_size; ++i) r->stock[i].in_use.store(0, std::memory_order_release);
    has_free = true;
  }
  if (!has_free) {
    // Nothing to do until the shown frame moves: a short real pause rather
    // than a bare yield, so an open movie does not keep a processor busy.
    r->state.store(kTheoraStockFull, std::memory_order_release);
    WaitForCaller(r);
    return true;
  }
  r->state.store(kTheoraDecoding, std::memory_order_release);
  const int cur = r->current_frame.load(std::memory_order_acquire);
  const int dp = r->decode_position.load(std::memory_order_relaxed);
  const int k1 = FindSlot(r, dp);
  const int k2 = FindSlot(r, cur);
  if (!(k1 < 0 && cur <= dp)) {
    int step = (k2 < 0 && cur > dp) ? cur - dp : 1;
    // A shown frame behind the decoder (it went round the loop point) is
    // reached by going round too, not by decoding the rest of this pass.
    if (k2 < 0 && cur < dp && cur >= 0) step = static_cast<int>(r->frame_count - dp + cur);
    if (dp + static_cast<int64_t>(step) < r->frame_count) {
      if (DecodeTheoraPackets(r, step) == -1) {
        r->end_of_file.store(1, std::memory_order_release);
        return false;
      }
    } else {
      // Past the last frame: the next pass starts at the top of the file,
      // and the frame due in it is decoded from its first packet on.
      ResetReading(r, r->page_count > 0 ? r->pages[0].position : 0);
      const int frame = static_cast<int>(dp + static_cast<int64_t>(step) - r->frame_count);
      r->decode_position.store(-1, std::memory_order_relaxed);
      if (DecodeTheoraPackets(r, frame + 1) == -1) {
        r->end_of_file.store(1, std::memory_order_release);
        return false;
      }
    }
  }
  StoreDecodedFrame(r, r->decode_position.load(std::memory_order_relaxed));
  WakeCaller(r);
  plat::Sleep(0);
  return true;
}

uint32_t TheoraDecodeThreadProc(void* argument) {
  auto* r = static_cast<TheoraMovieRecord*>(argument);
  while (!r->exit_request.load(std::memory_order_acquire)) {
    if (r->hold_request.load(std::memory_order_acquire)) {
      r->state.store(kTheoraHeld, std::memory_order_release);
      WaitForCaller(r);
      continue;
    }
    if (r->seek_request.load(std::memory_order_acquire)) {
      r->state.store(kTheoraSeeking, std::memory_order_release);
      if (!RunSeek(r)) break;
      continue;
    }
    if (!RunDecodeAhead(r)) WaitForCaller(r);
  }
  r->state.store(kTheoraEnded, std::memory_order_release);
  WakeCaller(r);
  return 0;
}

bool GrowPages(TheoraMovieRecord* r) {
  const size_t size = sizeof(TheoraPageEntry) * static_cast<size_t>(r->page_capacity + kTableGrowth);
  void* grown = TrackedRealloc(r->pages, size, "", 0);
  if (!grown) return false;
  r->pages = static_cast<TheoraPageEntry*>(grown);
  r->page_capacity += kTableGrowth;
  return true;
}

bool GrowKeyFrames(TheoraMovieRecord* r) {
  void* grown = TrackedRealloc(r->key_frames, static_cast<size_t>(r->key_capacity + kTableGrowth), "", 0);
  if (!grown) return false;
  r->key_frames = static_cast<uint8_t*>(grown);
  r->key_capacity += kTableGrowth;
  return true;
}

// One pass over the whole file: an entry per page read, with the video
// packets finished after it, and a key-frame flag per frame.
bool ScanIndex(TheoraMovieRecord* r) {
  uint32_t position = 0, page_start = 0;
  bool new_page = false;
  for (;;) {
    bool ended = false;
    while (ogg_stream_packetout(&r->stream, &r->packet) <= 0) {
      if (ogg_sync_pageout(&r->sync, &r->page) > 0) {
        page_start = position;
        new_page = true;
        position += static_cast<uint32_t>(r->page.header_len + r->page.body_len);
        ogg_stream_pagein(&r->stream, &r->page);
      } else if (ReadTheoraData(r, kReadPiece) == 0) {
        ended = true;
        break;
      }
    }
    if (ended) break;
    const int key = theora_packet_iskeyframe(&r->packet);
    if (key < 0) continue;
    if (new_page) {
      if (r->page_count == r->page_capacity && !GrowPages(r)) {
        WriteLogLineSound("Theora ページ情報格納用メモリの確保に失敗しました\n");
        return false;
      }
      r->pages[r->page_count++] = {page_start, static_cast<int32_t>(r->frame_count), 0, 0};
      new_page = false;
    }
    if (r->frame_count == r->key_capacity && !GrowKeyFrames(r)) {
      WriteLogLineSound("Theora キーフレーム情報格納用メモリの確保に失敗しました\n");
      return false;
    }
    TheoraPageEntry& last = r->pages[r->page_count - 1];
    if (key == 1) last.key_frame = 1;
    r->key_frames[r->frame_count] = key == 1 ? 1 : 0;
    ++r->frame_count;
    ++last.frame_count;
  }
  // A seek to the first entry rereads the headers from the top.
  if (r->page_count > 0) r->pages[0].position = 0;
  return true;
}

}  // namespace

int ReadTheoraData(TheoraMovieRecord* r, int count) {
  char* buffer = ogg_sync_buffer(&r->sync, count);
  if (!buffer) return 0;
  const size_t got = r->files.read(buffer, 1, static_cast<size_t>(count), r->file);
  ogg_sync_wrote(&r->sync, static_cast<long>(got));
  return static_cast<int>(got);
}

int ReadTheoraHeaders(TheoraMovieRecord* r) {
  // The beginning-of-stream pages come first; the Theora one is the stream
  // whose first packet the decoder accepts as its identification header.
  bool searching = true;
  while (searching) {
    if (ReadTheoraData(r, kReadPiece) == 0) break;
    while (ogg_sync_pageout(&r->sync, &r->page) > 0) {
      if (!ogg_page_bos(&r->page)) {
        if (r->stream_ready) ogg_stream_pagein(&r->stream, &r->page);
        searching = false;
        break;
      }
      ogg_stream_state scratch;
      ogg_stream_init(&scratch, ogg_page_serialno(&r->page));
      ogg_stream_pagein(&scratch, &r->page);
      if (!r->stream_ready && ogg_stream_packetout(&scratch, &r->packet) == 1 &&
          theora_decode_header(&r->info, &r->comment, &r->packet) == 0) {
        r->serial = ogg_page_serialno(&r->page);
        r->headers_read = 1;
        r->stream = scratch;
        r->stream_ready = 1;
        searching = false;
        break;
      }
      ogg_stream_clear(&scratch);
    }
  }
  // No Theora stream among the first pages: not a movie for this player.
  if (!r->stream_ready) return -1;
  while (r->headers_read < 3) {
    int got;
    while (r->headers_read < 3 && (got = ogg_stream_packetout(&r->stream, &r->packet)) != 0) {
      if (got < 0) return -1;
      if (theora_decode_header(&r->info, &r->comment, &r->packet) != 0) return -1;
      ++r->headers_read;
    }
    if (r->headers_read >= 3) break;
    if (ogg_sync_pageout(&r->sync, &r->page) > 0)
      ogg_stream_pagein(&r->stream, &r->page);
    else if (ReadTheoraData(r, kReadPiece) == 0)
      return -1;
  }
  // The decoder asks for frames of the coded size: a size past the limit is
  // refused before any of that is allocated.
  if (!FrameSizeAllowed(r->info.width, r->info.height)) {
    char line[128];
    std::snprintf(line, sizeof line, "Theora ムービーのフレームサイズ %u x %u が大きすぎます\n", r->info.width,
                  r->info.height);
    WriteLogLineSound(line);
    return -1;
  }
  // The frames are shown as the picture inside the coded frame: a header
  // without one, or with one outside it, cannot be shown.
  const theora_info& i = r->info;
  if (i.frame_width == 0 || i.frame_height == 0 || i.offset_x > i.width || i.frame_width > i.width - i.offset_x ||
      i.offset_y > i.height || i.frame_height > i.height - i.offset_y)
    return -1;
  return 1;
}

int DecodeTheoraPackets(TheoraMovieRecord* r, int count) {
  int dp = r->decode_position.load(std::memory_order_relaxed);
  int64_t key = -1;
  for (int64_t f = dp < 0 ? 0 : dp; f < static_cast<int64_t>(dp) + count && f < r->frame_count; ++f)
    if (r->key_frames[f]) key = f;
  for (int taken = 0; taken < count;) {
    const int got = ogg_stream_packetout(&r->stream, &r->packet);
    if (got == 0) {
      if (ogg_sync_pageout(&r->sync, &r->page) > 0) {
        ogg_stream_pagein(&r->stream, &r->page);
      } else if (r->files.eof(r->file) || ReadTheoraData(r, kReadPiece) == 0) {
        r->decode_position.store(dp, std::memory_order_relaxed);
        return -1;
      }
      continue;
    }
    if (got < 0) continue;  // a gap in the stream: take the next packet
    const int is_key = theora_packet_iskeyframe(&r->packet);
    if (is_key < 0) continue;  // header packets of a rewind do not count
    if (key < 0 || key <= static_cast<int64_t>(dp) + 1) theora_decode_packetin(&r->decoder, &r->packet);
    r->last_packet_key = is_key == 1 ? 1 : 0;
    ++dp;
    ++taken;
  }
  r->decode_position.store(dp, std::memory_order_relaxed);
  return r->last_packet_key;
}

int SeekTheoraFrame(TheoraMovieRecord* r, int frame) {
  if (frame == r->current_frame.load(std::memory_order_relaxed)) return 0;
  r->image_converted = 0;
  r->surface_converted = 0;
  r->hold_request.store(1, std::memory_order_release);
  WakeThread(r);
  // A thread that has ended never reports the held state.
  for (;;) {
    const int state = r->state.load(std::memory_order_acquire);
    if (state == kTheoraHeld || state == kTheoraEnded) break;
    WaitForTheoraThread(r);
  }
  if (frame >= r->frame_count) frame = static_cast<int>(r->frame_count - 1);
  if (frame < 0) frame = 0;
  r->current_frame.store(frame, std::memory_order_release);
  r->seek_target = frame;
  r->seek_request.store(1, std::memory_order_release);
  r->hold_request.store(0, std::memory_order_release);
  WakeThread(r);
  // Until the thread takes the request the frame is not there yet: report
  // the seek as running so the conversion waits for it.
  int held = kTheoraHeld;
  r->state.compare_exchange_strong(held, kTheoraSeeking, std::memory_order_acq_rel);
  return 0;
}

int AdvanceTheoraFrame(TheoraMovieRecord* r, int frames) {
  if (frames < 1) return 0;
  if (r->frame_count <= 0) return 0;
  int64_t frame = static_cast<int64_t>(r->current_frame.load(std::memory_order_relaxed)) + frames;
  // Any count lands on a frame of the movie: a frame past the end would
  // never be decoded and its conversion would wait for ever.
  frame %= r->frame_count;
  r->current_frame.store(static_cast<int>(frame), std::memory_order_release);
  WakeThread(r);
  r->image_converted = 0;
  r->surface_converted = 0;
  return 0;
}

BaseImage* GetTheoraFrameImage(TheoraMovieRecord* r) { return &r->frame_image; }

int GetTheoraFrameRate(TheoraMovieRecord* r, TheoraFrameRate* out) {
  const double denominator = r->info.fps_denominator != 0 ? r->info.fps_denominator : 1;
  out->frames_per_second = r->info.fps_numerator / denominator;
  out->frame_count = static_cast<int32_t>(r->frame_count);
  // The picture, not the coded frame around it (whole macroblocks).
  out->width = static_cast<int32_t>(r->info.frame_width);
  out->height = static_cast<int32_t>(r->info.frame_height);
  return 0;
}

void WaitForTheoraThread(TheoraMovieRecord* r) {
  if (r->caller_wake)
    plat::WaitEvent(r->caller_wake, kCallerWaitMs);
  else
    plat::Sleep(0);
}

int GetTheoraFrameNumber(TheoraMovieRecord* r) { return r->current_frame.load(std::memory_order_acquire); }

int CloseTheoraMovie(TheoraMovieRecord* r) {
  if (!r) return 0;
  if (r->thread) {
    r->exit_request.store(1, std::memory_order_release);
    WakeThread(r);
    while (r->state.load(std::memory_order_acquire) != kTheoraEnded) WaitForTheoraThread(r);
    plat::WaitThread(r->thread, 0xFFFFFFFFu);
    plat::CloseThread(r->thread);
    r->thread = nullptr;
  }
  if (r->stock) {
    for (int i = 0; i < r->stock_size; ++i) FreeSlotPlanes(&r->stock[i]);
    RR_FREE(r->stock);
  }
  if (r->yuv_surface) r->yuv_surface->Release();
  RR_FREE(r->pages);
  RR_FREE(r->key_frames);
  if (r->frame_image.pixels) FreeBaseImagePixels(&r->frame_image);
  if (r->thread_wake) plat::CloseEvent(r->thread_wake);
  if (r->caller_wake) plat::CloseEvent(r->caller_wake);
  if (r->stream_ready) ogg_stream_clear(&r->stream);
  if (r->decoder_ready) theora_clear(&r->decoder);
  theora_comment_clear(&r->comment);
  theora_info_clear(&r->info);
  ogg_sync_clear(&r->sync);
  r->~TheoraMovieRecord();
  RR_FREE(r);
  return 0;
}

TheoraMovieRecord* OpenTheoraMovie(const FileFunctionTable* table, FileHandle file, int stock_size) {
  if (!table || !file || stock_size < 1) return nullptr;
  char magic[4] = {};
  if (table->read(magic, 1, 4, file) != 4 || memcmp(magic, "OggS", 4) != 0) return nullptr;
  table->seek(file, 0, kSeekSet);
  void* memory = RR_CALLOC(sizeof(TheoraMovieRecord));
  if (!memory) {
    WriteLogLineSound("Theora ムービーデコード処理用のメモリ確保に失敗しました\n");
    return nullptr;
  }
  auto* r = new (memory) TheoraMovieRecord();
  r->current_frame.store(-1, std::memory_order_relaxed);
  ogg_sync_init(&r->sync);
  theora_info_init(&r->info);
  theora_comment_init(&r->comment);
  r->files = *table;
  r->file = file;
  if (ReadTheoraHeaders(r) == -1) {
    CloseTheoraMovie(r);
    return nullptr;
  }
  r->hold_request.store(1, std::memory_order_relaxed);
  r->state.store(kTheoraStockFull, std::memory_order_relaxed);
  r->thread_wake = plat::CreateEvent(false, false);
  r->caller_wake = plat::CreateEvent(false, false);
  if (theora_decode_init(&r->decoder, &r->info) != 0) {
    CloseTheoraMovie(r);
    return nullptr;
  }
  r->decoder_ready = 1;
  r->thread = plat::CreateThread(TheoraDecodeThreadProc, r, &r->thread_id);
  if (!r->thread) {
    WriteLogLineSound("Theora ムービーデコード用スレッドの作成に失敗しました\n");
    CloseTheoraMovie(r);
    return nullptr;
  }
  ResetReading(r, 0);
  r->pages = static_cast<TheoraPageEntry*>(RR_ALLOC(sizeof(TheoraPageEntry) * kTableGrowth));
  if (!r->pages) {
    WriteLogLineSound("Theora ページ情報格納用メモリの確保に失敗しました\n");
    CloseTheoraMovie(r);
    return nullptr;
  }
  r->page_capacity = kTableGrowth;
  r->key_frames = static_cast<uint8_t*>(RR_ALLOC(kTableGrowth));
  if (!r->key_frames) {
    WriteLogLineSound("Theora キーフレーム情報格納用メモリの確保に失敗しました\n");
    CloseTheoraMovie(r);
    return nullptr;
  }
  r->key_capacity = kTableGrowth;
  if (!ScanIndex(r)) {
    CloseTheoraMovie(r);
    return nullptr;
  }
  CreateTheoraYuvSurface(r);
  if (CreateXrgb8BaseImage(static_cast<int>(r->info.frame_width), static_cast<int>(r->info.frame_height),
                           &r->frame_image) != 0) {
    WriteLogLineSound("Theora ムービーデコードフレームストック用画像バッファの確保に失敗しました\n");
    CloseTheoraMovie(r);
    return nullptr;
  }
  r->stock = static_cast<TheoraFrameSlot*>(RR_CALLOC(sizeof(TheoraFrameSlot) * static_cast<size_t>(stock_size)));
  if (!r->stock) {
    WriteLogLineSound("Theora ムービーデコードフレームストック用のメモリ確保に失敗しました\n");
    CloseTheoraMovie(r);
    return nullptr;
  }
  r->stock_size = stock_size;
  SeekTheoraFrame(r, 0);
  ConvertTheoraFrame(r, 1, 1);
  return r;
}
