// lib/sound/ogg_link_ends.cpp - a stream's end from its packets, and a link
// as the decoder library's read delivers it (lib/sound/ogg_link_ends.h).
#include "lib/sound/ogg_link_ends.h"

#include <algorithm>
#include <climits>

namespace oggpcm {

int64_t EndFromPackets(int64_t offset, int64_t count_end, const LastPage& last, bool* odd) {
  if (!last.ended) return count_end;
  if (!GranuleSet(last.granule)) {
    *odd = true;
    return count_end;
  }
  const int64_t trim = offset + count_end - last.granule;
  if (trim >= 0 && trim <= last.last_samples) return count_end - trim;
  *odd = true;
  return count_end;
}

namespace {

// Sums and differences of granule positions as libvorbis makes them, in 64
// bits that wrap.
int64_t Plus(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); }
int64_t Minus(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b)); }

// What libvorbis's decode state holds that decides how many samples a block
// gives (vorbis_synthesis_blockin, libvorbis 1.3): the granule position it
// tracks, its sample counter, the last packet's number, the block size and
// where its output centre lies.
struct BlockState {
  int64_t granule = -1;
  int64_t samples = -1;
  int64_t sequence = -1;
  long size = 0;
  bool first = true;        // no block yet: the first gives nothing
  bool centre_high = true;  // the next block's centre is half a long block in
  bool positioned = false;  // a granule position was met since the state began
  // A start trim wrapped the read index below its buffer: libvorbis gives
  // nothing more and refuses every block until it is restarted.
  bool stuck = false;
  // A sum or difference of granule positions that decides a trim overflowed
  // 64 bits: what libvorbis makes of it is not defined.
  bool unknown = false;

  // Two states that go on alike: the counter matters only while no
  // position is tracked.
  bool Tracks(const BlockState& o) const {
    return granule == o.granule && (granule != -1 || samples == o.samples) && sequence == o.sequence &&
           size == o.size && first == o.first && stuck == o.stuck;
  }
};

// What the decode of audio packet `p` leaves to be read, and the state
// after it. `odd` is set where a granule position disagrees with the
// packets.
int64_t Deliver(BlockState* s, const WalkPacket& p, long half_long, bool* odd) {
  if (s->stuck) return 0;
  if (s->sequence == -1 || s->sequence + 1 != p.number) {
    s->granule = -1;
    s->samples = -1;
  }
  s->sequence = p.number;
  const int64_t step = (s->size + p.size) / 4;
  s->size = p.size;
  // Where the samples to read start and end in libvorbis's buffer.
  const int64_t this_centre = s->centre_high ? half_long : 0;
  const int64_t prev_centre = s->centre_high ? 0 : half_long;
  s->centre_high = !s->centre_high;
  int64_t returned = s->first ? this_centre : prev_centre;
  int64_t current = s->first ? this_centre : prev_centre + step;
  s->first = false;
  s->samples = s->samples == -1 ? 0 : s->samples + step;
  if (s->granule == -1) {
    if (p.granule == -1) return current - returned;
    s->granule = p.granule;
    if (s->samples > p.granule) {
      int64_t difference = 0;
      if (__builtin_sub_overflow(s->samples, p.granule, &difference)) s->unknown = true;
      const int64_t extra = std::max<int64_t>(0, Minus(s->samples, p.granule));
      if (p.eos) {
        current -= std::min(extra, current - returned);
      } else {
        // The start is trimmed in an int: a trim past its range wraps, to
        // before the block (the samples there are read again), to -1 (the
        // next block starts the decode again) or below (nothing more).
        int64_t sum = 0;
        if (__builtin_add_overflow(returned, extra, &sum)) s->unknown = true;
        const int32_t moved = static_cast<int32_t>(static_cast<uint32_t>(Plus(returned, extra)));
        const int64_t before = returned;
        returned = std::min<int64_t>(moved, current);
        if (returned < 0) {
          *odd = true;
          s->stuck = returned < -1;
          s->first = returned == -1;
          return 0;
        }
        if (returned < before) *odd = true;
      }
      // Past the link's first position (at its start there is no other to
      // judge it by), samples counted beyond a position disagree with it.
      if (s->positioned && extra > 0) *odd = true;
    }
    s->positioned = true;
    return current - returned;
  }
  int64_t sum = 0;
  if (__builtin_add_overflow(s->granule, step, &sum)) s->unknown = true;
  s->granule = Plus(s->granule, step);
  if (p.granule != -1 && s->granule != p.granule) {
    int64_t difference = 0;
    if (p.eos && s->granule > p.granule && __builtin_sub_overflow(s->granule, p.granule, &difference))
      s->unknown = true;
    const int64_t extra = s->granule > p.granule ? std::max<int64_t>(0, Minus(s->granule, p.granule)) : 0;
    // Only a last packet's end trim, within its samples, agrees.
    if (!p.eos || extra == 0 || extra > current - returned) *odd = true;
    if (p.eos) current -= std::min(extra, current - returned);
    s->granule = p.granule;
  }
  return current - returned;
}

// The walk of a link as the library reads it.
class LibraryWalk final : public PacketWalk {
 public:
  LibraryWalk(vorbis_info* info, long serial)
      : PacketWalk(info, serial, false), half_long_(vorbis_info_blocksize(info, 1) / 2) {}

  LibraryLink Result() {
    link_.early_end = eos_pages_ > (final_eos_ ? 1 : 0);
    link_.end_page_missing = !final_eos_;
    // A trial that took longer to meet the read's course came in after
    // later ones.
    std::sort(link_.points.begin(), link_.points.end(),
              [](const LibraryPoint& a, const LibraryPoint& b) { return a.offset < b.offset; });
    return std::move(link_);
  }

 private:
  // A restart at a page, followed until it takes the course of the read
  // from the link's start.
  struct Trial {
    LibraryPoint point;
    BlockState state;
    int packets = 0;
  };
  // A trial that has not met the read's course after this many audio
  // packets is given up: the read from the link's start serves there.
  static constexpr int kTrialPackets = 64;
  static constexpr int64_t kTrySpacing = 256;

  struct Pending {
    int64_t offset;
    int64_t page;
  };

  void OnPage(const TakenPage& page, const WalkPacket* packets, size_t count) override {
    page_eos_ = page.eos;
    final_eos_ = page.eos;
    eos_pages_ += page.eos ? 1 : 0;
    // A restart is tried at most once in kTrySpacing bytes: a file of tiny
    // pages keeps an index of a small part of its size.
    if (page.packet_begins && (!tried_ || page.at - tried_at_ >= kTrySpacing)) {
      pending_.push_back({page.at, pages_});
      tried_ = true;
      tried_at_ = page.at;
    }
    link_.holed = link_.holed || page.hole;
    for (const WalkPacket* p = packets; p != packets + count; ++p)
      if (p->size != 0) Take(*p);
  }

  void OnLeft(int64_t at, int32_t serial) override {
    link_.left = true;
    link_.left_at = at;
    link_.left_serial = serial;
  }

  void OnRestart() override {
    // The library starts a new decoder: what began before is lost to it,
    // and a seek from before would not read as it does.
    read_ = BlockState{};
    pending_.clear();
    trials_.clear();
    tried_ = false;
  }

  void Take(const WalkPacket& packet) {
    const int64_t delivered = Deliver(&read_, packet, half_long_, &link_.odd);
    link_.frames += delivered;
    link_.unmodelled = link_.unmodelled || read_.unknown;
    size_t kept = 0;
    for (Trial& t : trials_) {
      bool ignored = false;
      const bool same = Deliver(&t.state, packet, half_long_, &ignored) == delivered;
      if (same && t.state.Tracks(read_)) {
        link_.points.push_back(t.point);
      } else if (same && ++t.packets < kTrialPackets) {
        trials_[kept++] = t;
      }
    }
    trials_.resize(kept);
    // A page's restart: its first audio packet begins the decode. The
    // library's raw seek drops the packets of the page it ends on where that
    // page is marked last.
    size_t taken = 0;
    for (; taken < pending_.size() && pending_[taken].page <= packet.page; ++taken) {
      if (page_eos_) continue;
      Trial t{{pending_[taken].offset, link_.frames}, BlockState{}, 0};
      bool ignored = false;
      Deliver(&t.state, packet, half_long_, &ignored);
      if (t.state.Tracks(read_)) {
        link_.points.push_back(t.point);
      } else {
        trials_.push_back(t);
      }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(taken));
  }

  long half_long_;
  BlockState read_;
  LibraryLink link_;
  bool page_eos_ = false;
  bool final_eos_ = false;
  int64_t eos_pages_ = 0;
  std::vector<Pending> pending_;
  std::vector<Trial> trials_;
  bool tried_ = false;  // a page has been taken for a restart since the decoder started
  int64_t tried_at_ = 0;
};

}  // namespace

LibraryLink WalkLibraryLink(const SoundStream* stream, vorbis_info* info, long serial, int64_t start, int64_t end,
                            const std::vector<long>& links) {
  LibraryWalk walk(info, serial);
  walk.Walk(stream, start, end, &links);
  LibraryLink link = walk.Result();
  link.start = start;
  return link;
}

}  // namespace oggpcm
