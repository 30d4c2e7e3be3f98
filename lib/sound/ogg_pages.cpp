// lib/sound/ogg_pages.cpp - reading the pages of an Ogg file and counting a
// Vorbis stream's samples from its packets (lib/sound/ogg_pages.h).
#include "lib/sound/ogg_pages.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "lib/core/file_functions.h"

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

PacketCounter::PacketCounter(vorbis_info* info, long serial, bool once) : info_(info), serial_(serial), once_(once) {
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
      since_gap_ = marks_.size();
      continue;
    }
    const long size = vorbis_packet_blocksize(info_, &packet);
    CountPacket(size > 0 ? size : packet.bytes > 0 && (packet.packet[0] & 1) != 0 ? -1 : 0);
  }
  // A header page's granule position (0) is not a sample's.
  if (page_.ended) {
    page_.granule = ogg_page_granulepos(page);
    if (GranuleSet(page_.granule)) marks_.push_back({page_.granule, count_});
  }
  return true;
}

// `size`: an audio packet's block size; -1 for a header, 0 for a packet that
// is neither.
void PacketCounter::CountPacket(long size) {
  if (size <= 0) {
    // A header: the next audio packet is the stream's first.
    if (size < 0) last_size_ = -1;
    return;
  }
  const int64_t samples = Samples(last_size_, size, Longest());
  count_ += samples;
  last_size_ = size;
  page_.ended = true;
  page_.last_samples = samples;
}

bool PacketCounter::TakeFramed(const uint8_t* bytes, const long* sizes) {
  ogg_page page{};
  page.header = const_cast<unsigned char*>(bytes);
  page.header_len = 27 + bytes[26];
  page.body = page.header + page.header_len;
  if (repeated_.Repeated(&page) && once_) return true;
  // As the stream state takes a page: one out of sequence drops the packet
  // left unfinished and makes a hole (but not the first page taken), and a
  // continued page with nothing to continue is passed over up to its first
  // packet end.
  const long sequence = ogg_page_pageno(&page);
  if (sequence != expected_) {
    open_ = false;
    if (expected_ != -1) {
      holed_ = true;
      since_gap_ = marks_.size();
    }
  }
  expected_ = sequence + 1;
  const int segments = bytes[26];
  const uint8_t* lacing = bytes + 27;
  int segment = 0;
  long at = 0;
  if (ogg_page_continued(&page) && !open_) {
    while (segment < segments && lacing[segment] == 255) at += lacing[segment++];
    if (segment < segments) at += lacing[segment++];
  }
  const uint8_t* lace = lacing + segment;
  const uint8_t* const lace_end = lacing + segments;
  const uint8_t* body = page.body + at;
  if (last_size_ < 0 || !TakeRun(lace, lace_end, body, sizes)) {
    // A header before or among the page's packets: one packet at a time.
    page_ = LastPage{};
    for (; lace != lace_end; body += *lace++) {
      if (!open_) {
        open_ = true;
        open_size_ = *lace != 0 ? sizes[*body] : 0;
      }
      if (*lace < 255) {
        open_ = false;
        CountPacket(open_size_);
      }
    }
  }
  if (page_.ended) {
    page_.granule = ogg_page_granulepos(&page);
    if (GranuleSet(page_.granule)) marks_.push_back({page_.granule, count_});
  }
  return true;
}

namespace {

// The sum of `n` lacing values, eight at a time.
size_t LacingSum(const uint8_t* lacing, size_t n) {
  constexpr uint64_t kLow = 0x00FF00FF00FF00FFull;
  size_t sum = 0, i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t v;
    std::memcpy(&v, lacing + i, 8);
    // Four 16-bit lanes of pairs, then the lanes summed by one multiply.
    const uint64_t pairs = (v & kLow) + ((v >> 8) & kLow);
    sum += static_cast<size_t>((pairs * 0x0001000100010001ull) >> 48);
  }
  for (; i < n; ++i) sum += lacing[i];
  return sum;
}

}  // namespace

bool PacketCounter::TakeRun(const uint8_t* lace, const uint8_t* lace_end, const uint8_t* body, const long* sizes) {
  // Block sizes are multiples of four, so the samples of a run of audio
  // packets are the sum of each neighbouring pair's halves: (before + 2 *
  // sum - last) / 4.
  const long before = last_size_ != 0 ? last_size_ : Longest();
  int64_t sum = 0;
  long previous = before, last = before;
  bool open = open_;
  long size = open_size_;
  while (lace != lace_end) {
    unsigned value = *lace++;
    if (!open) size = value != 0 ? sizes[*body] : 0;
    body += value;
    open = false;
    while (value == 255) {
      if (lace == lace_end) {
        open = true;
        break;
      }
      value = *lace++;
      body += value;
    }
    if (open) break;
    if (size > 0) {
      sum += size;
      previous = last;
      last = size;
    } else if (size < 0) {
      return false;
    }
  }
  page_ = LastPage{};
  if (sum != 0) {
    count_ += (before + 2 * sum - last) / 4;
    last_size_ = last;
    page_.ended = true;
    page_.last_samples = Samples(previous, last, before);
  }
  open_ = open;
  open_size_ = size;
  return true;
}

bool PacketCounter::Walk(const SoundStream* stream, const void** last_reader, int64_t from, int64_t last_page_at,
                         bool stop_at_eos) {
  // The block size each first byte of a packet gives (a packet's type and
  // mode lie in its first seven bits).
  long sizes[256];
  for (int b = 0; b < 256; ++b) {
    unsigned char byte = static_cast<unsigned char>(b);
    ogg_packet packet{};
    packet.packet = &byte;
    packet.bytes = 1;
    const long size = vorbis_packet_blocksize(info_, &packet);
    sizes[b] = size > 0 ? size : (b & 1) != 0 ? -1 : 0;
  }
  *last_reader = nullptr;
  // A sound held in memory is walked where it lies; another stream is read
  // into a buffer that holds the longest page (27 + 255 + 255 * 255 bytes).
  const uint8_t* whole = nullptr;
  int64_t whole_size = 0;
  if (stream->ops.read == &MemoryStreamRead) {
    const auto* record = reinterpret_cast<const MemoryStreamRecord*>(stream->handle);
    whole = record->data;
    whole_size = record->size;
  } else if (stream->ops.seek(stream->handle, from, 0) != 0) {
    return false;
  }
  constexpr size_t kBuffer = size_t{1} << 17;
  std::vector<uint8_t> buffer(whole == nullptr ? kBuffer : 0);
  int64_t buffer_at = from;
  size_t have = 0;
  // The `n` bytes at `at` (never before the ones asked for last), or null
  // past the end.
  const auto bytes = [&](int64_t at, size_t n) -> const uint8_t* {
    if (whole != nullptr) return at >= 0 && at + static_cast<int64_t>(n) <= whole_size ? whole + at : nullptr;
    const size_t skip = static_cast<size_t>(std::min<int64_t>(at - buffer_at, static_cast<int64_t>(have)));
    std::memmove(buffer.data(), buffer.data() + skip, have - skip);
    have -= skip;
    buffer_at += static_cast<int64_t>(skip);
    while (buffer_at < at) {
      // Bytes passed over beyond the ones held.
      const size_t got = stream->ops.read(buffer.data(), 1, std::min<size_t>(kBuffer, at - buffer_at), stream->handle);
      if (got == 0) return nullptr;
      buffer_at += static_cast<int64_t>(got);
    }
    while (have < n) {
      const size_t got = stream->ops.read(buffer.data() + have, 1, kBuffer - have, stream->handle);
      if (got == 0) return nullptr;
      have += got;
    }
    return buffer.data();
  };
  for (int64_t at = from; at <= last_page_at;) {
    // The file ends right after a page.
    if (bytes(at, 1) == nullptr) break;
    const uint8_t* header = bytes(at, 27);
    if (header == nullptr || std::memcmp(header, "OggS", 4) != 0 || header[4] != 0) return false;
    const size_t segments = header[26];
    header = bytes(at, 27 + segments);
    if (header == nullptr) return false;
    size_t length = 27 + segments + LacingSum(header + 27, segments);
    header = bytes(at, length);
    if (header == nullptr) return false;
    int32_t page_serial = 0;
    std::memcpy(&page_serial, header + 14, 4);
    if (page_serial == static_cast<int32_t>(serial_)) {
      TakeFramed(header, sizes);
      if (stop_at_eos && (header[5] & 4) != 0) break;
    }
    at += static_cast<int64_t>(length);
  }
  return true;
}

}  // namespace oggpcm
