// lib/sound/ogg_page_scan.h - the pages of an Ogg file from a given offset,
// taken exactly as libogg's sync takes them (ogg_sync_pageseek): a page is
// "OggS", its header, segment table and body, all in the file, with its
// checksum holding; where one is not, the search goes on at the next "O"
// after where it began, and it ends at a page that the file cuts off. A
// file is read in large pieces, a sound held in memory where it lies, and
// no page is copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lib/sound/pcm_decoder.h"

namespace oggpcm {

// A page as the scan found it; its bytes stay valid until the next page is
// asked for.
struct ScannedPage {
  int64_t at = 0;  // where it starts in the file
  const uint8_t* bytes = nullptr;
  size_t header_len = 0;
  size_t body_len = 0;
  const uint8_t* Body() const { return bytes + header_len; }
  size_t Length() const { return header_len + body_len; }
};

class PageScan {
 public:
  // Reads `stream` from `from` on: it seeks the stream there, and moves it
  // as it reads, `piece` bytes at a time (more where a page needs more; a
  // short search reads little).
  PageScan(const SoundStream* stream, int64_t from, size_t piece = kPiece);
  static constexpr size_t kPiece = size_t{1} << 18;
  PageScan(const PageScan&) = delete;
  PageScan& operator=(const PageScan&) = delete;

  // The next page; false at the end of what the sync would give.
  bool Next(ScannedPage* page);
  // From now on no page that starts at or after `limit` is given, and the
  // search stops there (as the sync's does when its reader stops there).
  void StopAt(int64_t limit) { limit_ = limit; }

 private:
  // The bytes [at, at + n) of the file, or null where the file ends first
  // (or cannot be read). Never asked for bytes before the last asked for.
  const uint8_t* Bytes(int64_t at, size_t n);

  const SoundStream* stream_;
  int64_t at_;  // where the search for the next page goes on
  size_t piece_;
  int64_t limit_ = INT64_MAX;
  bool failed_ = false;
  // A sound in memory is read where it lies.
  const uint8_t* whole_ = nullptr;
  int64_t whole_size_ = 0;
  // Else a window of the file: buffer_[0] is the byte at buffer_at_.
  std::vector<uint8_t> buffer_;
  int64_t buffer_at_ = 0;
  size_t have_ = 0;
  bool ended_ = false;  // the stream gave nothing more
};

}  // namespace oggpcm
