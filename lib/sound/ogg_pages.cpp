// lib/sound/ogg_pages.cpp - reading the pages of an Ogg file and counting a
// Vorbis stream's samples from its packets (lib/sound/ogg_pages.h).
#include "lib/sound/ogg_pages.h"

#include <cstring>

namespace oggpcm {

// Of a run of marks, one whose offset (granule position less count) the
// next mark or the one after it shares, so that no single granule position
// decides the mapping from positions to samples: looking from the end, the
// latest such mark; from the start, the earliest. -1 when none agree.
int AgreedMark(const std::vector<GranuleMark>& marks, bool from_end) {
  const int n = static_cast<int>(marks.size());
  for (int step = 0; step < n; ++step) {
    const int k = from_end ? n - 1 - step : step;
    for (int apart : {1, 2}) {
      const int other = from_end ? k - apart : k + apart;
      if (other >= 0 && other < n && marks[other].Offset() == marks[k].Offset()) return k;
    }
  }
  return -1;
}

PageSource::PageSource(const SoundStream* stream, const void** last_reader)
    : stream_(stream), last_reader_(last_reader) {
  ogg_sync_init(&sync_);
}

void PageSource::Start(int64_t offset) {
  ogg_sync_reset(&sync_);
  next_ = offset;
  read_at_ = offset;
  if (*last_reader_ == this) *last_reader_ = nullptr;
}

bool PageSource::Next(ogg_page* page, int64_t* at) {
  for (;;) {
    const long n = ogg_sync_pageseek(&sync_, page);
    if (n > 0) {
      *at = next_;
      next_ += n;
      return true;
    }
    if (n < 0) {
      next_ -= n;
    } else if (!Fill()) {
      return false;
    }
  }
}

bool PageSource::Fill() {
  if (*last_reader_ != this) {
    if (stream_->ops.seek(stream_->handle, read_at_, 0) != 0) return false;
    *last_reader_ = this;
  }
  char* space = ogg_sync_buffer(&sync_, kChunk);
  if (space == nullptr) return false;
  const size_t got = stream_->ops.read(space, 1, kChunk, stream_->handle);
  if (got == 0) return false;
  ogg_sync_wrote(&sync_, static_cast<long>(got));
  read_at_ += static_cast<int64_t>(got);
  return true;
}

bool RepeatedPages::Repeated(const ogg_page* page) {
  const long sequence = ogg_page_pageno(page);
  uint32_t checksum = 0;
  std::memcpy(&checksum, page->header + 22, 4);
  const bool repeated = taken_ && sequence == sequence_ && checksum == checksum_;
  taken_ = true;
  sequence_ = sequence;
  checksum_ = checksum;
  return repeated;
}

PacketCounter::PacketCounter(vorbis_info* info, long serial, bool once) : info_(info), once_(once) {
  ogg_stream_init(&os_, static_cast<int>(serial));
  // The first page read need not be the stream's first: no hole before it.
  ogg_stream_reset_serialno(&os_, static_cast<int>(serial));
}

bool PacketCounter::Take(ogg_page* page) {
  if (repeated_.Repeated(page) && once_) return true;
  if (ogg_stream_pagein(&os_, page) != 0) return false;
  page_ = LastPage{};
  ogg_packet packet;
  for (int got; (got = ogg_stream_packetout(&os_, &packet)) != 0;) {
    if (got < 0) {
      holed_ = true;
      continue;
    }
    const long size = vorbis_packet_blocksize(info_, &packet);
    if (size <= 0) {
      // A header: the next audio packet is the stream's first.
      if (packet.bytes > 0 && (packet.packet[0] & 1) != 0) last_size_ = -1;
      continue;
    }
    const int64_t samples = last_size_ < 0 ? 0 : ((last_size_ != 0 ? last_size_ : Longest()) + size) / 4;
    count_ += samples;
    last_size_ = size;
    page_.ended = true;
    page_.last_samples = samples;
  }
  // A header page's granule position (0) is not a sample's.
  if (page_.ended) {
    page_.granule = ogg_page_granulepos(page);
    if (GranuleSet(page_.granule)) marks_.push_back({page_.granule, count_});
  }
  return true;
}

}  // namespace oggpcm
