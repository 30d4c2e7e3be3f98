// lib/sound/ogg_page_scan.cpp - pages as libogg's sync takes them
// (lib/sound/ogg_page_scan.h).
#include "lib/sound/ogg_page_scan.h"

#include <algorithm>
#include <cstring>

#include "lib/core/file_functions.h"
#include "lib/sound/ogg_crc.h"

namespace oggpcm {

namespace {

// The longest page is 27 + 255 + 255 * 255 bytes.
constexpr size_t kLongestPage = 27 + 255 + 255 * 255;

}  // namespace

PageScan::PageScan(const SoundStream* stream, int64_t from, size_t piece)
    : stream_(stream), at_(from), piece_(std::clamp<size_t>(piece, 1, kPiece)) {
  if (stream->ops.read == &MemoryStreamRead) {
    const auto* record = reinterpret_cast<const MemoryStreamRecord*>(stream->handle);
    whole_ = record->data;
    whole_size_ = record->size;
    return;
  }
  failed_ = stream->ops.seek(stream->handle, from, 0) != 0;
  buffer_at_ = from;
}

const uint8_t* PageScan::Bytes(int64_t at, size_t n) {
  if (whole_ != nullptr)
    return at >= 0 && at <= whole_size_ && static_cast<int64_t>(n) <= whole_size_ - at ? whole_ + at : nullptr;
  if (failed_ || at < buffer_at_) return nullptr;
  const int64_t end = buffer_at_ + static_cast<int64_t>(have_);
  if (at + static_cast<int64_t>(n) <= end) return buffer_.data() + (at - buffer_at_);
  if (buffer_.empty()) buffer_.resize(piece_ + kLongestPage);
  if (at >= end) {
    // Bytes passed over beyond the window are read and dropped.
    buffer_at_ = end;
    have_ = 0;
    while (buffer_at_ < at && !ended_) {
      const size_t got = stream_->ops.read(buffer_.data(), 1,
                                           static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(piece_), at - buffer_at_)),
                                           stream_->handle);
      ended_ = got == 0;
      buffer_at_ += static_cast<int64_t>(got);
    }
    if (buffer_at_ != at) return nullptr;
  } else {
    // What is still to come moves to the front.
    const size_t from = static_cast<size_t>(at - buffer_at_);
    std::memmove(buffer_.data(), buffer_.data() + from, have_ - from);
    have_ -= from;
    buffer_at_ = at;
  }
  while (have_ < n && !ended_) {
    const size_t got = stream_->ops.read(buffer_.data() + have_, 1, buffer_.size() - have_, stream_->handle);
    ended_ = got == 0;
    have_ += got;
  }
  return have_ >= n ? buffer_.data() : nullptr;
}

bool PageScan::Next(ScannedPage* page) {
  for (;;) {
    if (at_ >= limit_) return false;
    // The sync waits for whole headers and bodies: a page the file cuts off
    // ends what it gives, whatever lies within it.
    const uint8_t* p = Bytes(at_, 27);
    if (p == nullptr) return false;
    bool whole = false;
    size_t header_len = 0, body_len = 0;
    if (std::memcmp(p, "OggS", 4) == 0) {
      header_len = 27 + size_t{p[26]};
      p = Bytes(at_, header_len);
      if (p == nullptr) return false;
      for (size_t i = 27; i < header_len; ++i) body_len += p[i];
      p = Bytes(at_, header_len + body_len);
      if (p == nullptr) return false;
      whole = OggPageChecksumHolds(p, header_len, body_len);
    }
    if (whole) {
      page->at = at_;
      page->bytes = p;
      page->header_len = header_len;
      page->body_len = body_len;
      at_ += static_cast<int64_t>(header_len + body_len);
      return true;
    }
    // The search goes on at the next "O" after where this one began, among
    // the bytes at hand (all of them where there is none).
    const size_t held = static_cast<size_t>((whole_ != nullptr ? whole_size_ : buffer_at_ + static_cast<int64_t>(have_)) - at_);
    const void* next = held > 1 ? std::memchr(p + 1, 'O', held - 1) : nullptr;
    at_ += next != nullptr ? static_cast<const uint8_t*>(next) - p : static_cast<int64_t>(std::max<size_t>(held, 1));
  }
}

}  // namespace oggpcm
