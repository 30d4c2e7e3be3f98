// lib/sound/ogg_pages.cpp - reading the pages of an Ogg file, and a
// stream's packets as the stream state gives them (lib/sound/ogg_pages.h).
#include "lib/sound/ogg_pages.h"

#include <algorithm>
#include <cstring>

namespace oggpcm {

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

bool RepeatedPages::Repeated(const uint8_t* header) {
  ogg_page page{};
  page.header = const_cast<unsigned char*>(header);
  const long sequence = ogg_page_pageno(&page);
  uint32_t checksum = 0;
  std::memcpy(&checksum, header + 22, 4);
  const bool repeated = taken_ && sequence == sequence_ && checksum == checksum_;
  taken_ = true;
  sequence_ = sequence;
  checksum_ = checksum;
  return repeated;
}

PacketWalk::PacketWalk(vorbis_info* info, long serial, bool once) : info_(info), serial_(serial), once_(once) {
  // A packet's type is its first bit (set: not audio) and its mode the next
  // six at most (a stream has up to 64 modes): the codec library is asked of
  // the 64 bytes that differ in those, and the top bit follows.
  for (int b = 0; b < 128; ++b) {
    unsigned char byte = static_cast<unsigned char>(b);
    long size = 0;
    if ((b & 1) == 0) {
      ogg_packet packet{};
      packet.packet = &byte;
      packet.bytes = 1;
      size = std::max(0L, vorbis_packet_blocksize(info_, &packet));
    }
    sizes_[b] = sizes_[b + 128] = size;
  }
  long_size_ = vorbis_info_blocksize(info_, 1);
  std::memset(one_byte_audio_, -1, sizeof one_byte_audio_);
}

bool PacketWalk::OneBytePacketIsAudio(uint8_t byte) {
  if (one_byte_audio_[byte] < 0) {
    bool audio = false;
    vorbis_dsp_state dsp{};
    vorbis_block block{};
    if (vorbis_synthesis_init(&dsp, info_) == 0) {
      vorbis_block_init(&dsp, &block);
      ogg_packet packet{};
      packet.packet = &byte;
      packet.bytes = 1;
      audio = vorbis_synthesis_trackonly(&block, &packet) == 0;
      vorbis_block_clear(&block);
      vorbis_dsp_clear(&dsp);
    }
    one_byte_audio_[byte] = audio ? 1 : 0;
  }
  return one_byte_audio_[byte] == 1;
}

void PacketWalk::Walk(const SoundStream* stream, int64_t from, int64_t end, const std::vector<long>* links) {
  PageScan scan(stream, from);
  ScannedPage page;
  bool started = false;
  bool detached = false;  // the library's read has ended the decoder and looks for a link's page
  const int32_t serial = static_cast<int32_t>(serial_);
  while (scan.Next(&page) && page.at < end) {
    int32_t page_serial = 0;
    std::memcpy(&page_serial, page.bytes + 14, 4);
    const bool first_page = (page.bytes[5] & 2) != 0;
    if (links != nullptr && started && page_serial != serial && (first_page || detached)) {
      detached = true;
      const bool known = std::any_of(links->begin(), links->end(),
                                     [&](long s) { return static_cast<int32_t>(s) == page_serial; });
      if (known) {
        OnLeft(page.at, page_serial);
        return;
      }
      continue;
    }
    if (page_serial != serial) continue;
    if (detached) {
      detached = false;
      expected_ = -1;
      open_ = false;
      number_ = 0;
      OnRestart();
    }
    started = true;
    TakePage(page);
  }
}

void PacketWalk::TakePage(const ScannedPage& page) {
  const uint8_t* header = page.bytes;
  if (repeated_.Repeated(header) && once_) return;
  if (header[4] != 0) return;
  ogg_page og{};
  og.header = const_cast<unsigned char*>(header);
  const long sequence = ogg_page_pageno(&og);
  const int64_t granule = ogg_page_granulepos(&og);
  const bool continued = (header[5] & 1) != 0;
  const bool eos = (header[5] & 4) != 0;
  const int segments = header[26];
  const uint8_t* lacing = header + 27;
  const uint8_t* body = page.Body();
  bool hole = false;
  if (sequence != expected_) {
    open_ = false;
    hole = expected_ != -1;
  }
  expected_ = sequence + 1;
  int first = 0;
  if (continued && !open_) {
    while (first < segments && lacing[first] == 255) body += lacing[first++];
    if (first < segments) body += lacing[first++];
  }
  // Which segment the page's position goes to (the last that ends a
  // packet), and whether a packet begins on the page.
  int last_end = -1;
  for (int s = segments - 1; s >= first && last_end < 0; --s)
    if (lacing[s] < 255) last_end = s;
  bool begins = first < segments && !open_;
  if (open_) {
    int s = first;
    while (s < segments && lacing[s] == 255) ++s;
    begins = s + 1 < segments;
  }
  if (hole) ++number_;
  // An empty page marked last marks the packet it leaves unfinished.
  if (eos && first == segments && open_ && !hole) pending_.eos = true;
  // At most one packet ends on each segment.
  if (ended_.size() < static_cast<size_t>(segments)) ended_.resize(255);
  WalkPacket* out = ended_.data();
  size_t ended = 0;
  for (int s = first; s < segments; ++s) {
    const unsigned value = lacing[s];
    if (!open_) {
      if (value < 255) {
        // A packet of one segment, the most common.
        out[ended++] = Classified(value != 0 ? body[0] : -1, value, pages_, s == last_end ? granule : -1);
        body += value;
        continue;
      }
      open_ = true;
      pending_ = WalkPacket{};
      pending_.page = pages_;
      pending_bytes_ = 0;
      first_byte_ = body[0];
    }
    pending_bytes_ += value;
    body += value;
    if (value == 255) continue;
    open_ = false;
    const bool eos_before = pending_.eos;
    out[ended] = Classified(first_byte_, pending_bytes_, pending_.page, s == last_end ? granule : -1);
    out[ended++].eos = eos_before;
  }
  // The page's last segment carries its mark of the stream's end.
  if (eos && first < segments) {
    if (open_) {
      pending_.eos = true;
    } else {
      out[ended - 1].eos = true;
    }
  }
  OnPage({page.at, eos, begins, hole}, out, ended);
  ++pages_;
}

WalkPacket PacketWalk::Classified(int first_byte, int64_t bytes, int64_t page, int64_t granule) {
  WalkPacket packet;
  packet.page = page;
  packet.granule = granule;
  packet.number = number_++;
  if (first_byte >= 0) {
    packet.header = (first_byte & 1) != 0;
    packet.size = sizes_[first_byte];
    if (packet.size == long_size_ && bytes == 1 && !OneBytePacketIsAudio(static_cast<uint8_t>(first_byte)))
      packet.size = 0;
  }
  return packet;
}

}  // namespace oggpcm
