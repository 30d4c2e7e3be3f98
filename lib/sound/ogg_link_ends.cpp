// lib/sound/ogg_link_ends.cpp - a link's start and end read from its first and
// last pages (lib/sound/ogg_link_ends.h).
#include "lib/sound/ogg_link_ends.h"

#include <algorithm>

namespace oggpcm {

int64_t EndFromPackets(int64_t offset, int64_t count_end, const LastPage& last, bool library_trim, bool* odd) {
  if (!last.ended) return count_end;
  if (!GranuleSet(last.granule)) {
    *odd = true;
    return count_end;
  }
  const int64_t trim = offset + count_end - last.granule;
  if (trim >= 0 && trim <= last.last_samples) return count_end - trim;
  *odd = true;
  return library_trim ? count_end - std::clamp<int64_t>(trim, 0, last.last_samples) : count_end;
}

namespace {

// Whether a window of a link's last pages (not reaching its start) maps
// positions to samples by its granule positions: at least two marks before
// the last page, no page missing or out of order, and every mark on one
// offset. Pages that agree among themselves but not with the ones before
// them in the window may all be forged: the window grows, up to the link's
// start, where the packets are counted.
bool WindowAgrees(const std::vector<GranuleMark>& marks, bool holed) {
  if (holed || marks.size() < 2) return false;
  const int64_t offset = marks.front().Offset();
  return std::all_of(marks.begin(), marks.end(), [offset](const GranuleMark& m) { return m.Offset() == offset; });
}

}  // namespace

LinkEnd TailEnd(const SoundStream* stream, const void** last_reader, vorbis_info* info, long serial,
                int64_t link_start, int64_t last_page_at, const GranuleMark* start, bool library_trim,
                bool whole) {
  LinkEnd result;
  for (int64_t window = whole ? std::max<int64_t>(16384, last_page_at - link_start) : 16384;; window *= 4) {
    const int64_t from = std::max<int64_t>(link_start, last_page_at - window);
    PageSource source(stream, last_reader);
    source.Start(from);
    PacketCounter counter(info, serial, !library_trim);
    ogg_page page;
    int64_t at;
    bool any = false;
    // The packet decoder stops at the page marked as the stream's last; the
    // library reads on over pages of the stream after it.
    bool ended = false;
    while (!ended && source.Next(&page, &at) && at <= last_page_at) {
      if (ogg_page_serialno(&page) != serial) continue;
      any = counter.Take(&page) || any;
      ended = !library_trim && ogg_page_eos(&page);
    }
    *last_reader = nullptr;
    std::vector<GranuleMark> marks = counter.Marks();
    const LastPage last = any ? counter.Page() : LastPage{};
    // The last page's mark is the end's, not a reference for it.
    const bool last_marked = last.ended && GranuleSet(last.granule) && !marks.empty();
    if (last_marked) marks.pop_back();
    int ref = -1;
    if (last_marked && !marks.empty()) {
      const int64_t trim = marks.back().Offset() + counter.Count() - last.granule;
      if (trim >= 0 && trim <= last.last_samples) ref = static_cast<int>(marks.size()) - 1;
    }
    if (ref < 0) ref = AgreedMark(marks, true);
    if (ref >= 0 && ref + 1 != static_cast<int>(marks.size())) result.odd = true;
    if (from != link_start && !WindowAgrees(marks, counter.Holed())) continue;
    if (ref < 0 && start == nullptr && marks.size() > 1) result.odd = true;
    const int64_t offset = ref >= 0 ? marks[ref].Offset() : start != nullptr ? start->Offset() : 0;
    // The library's trim goes by the position just before the last page,
    // whatever it says.
    const int64_t trim_offset = library_trim && !marks.empty() ? marks.back().Offset() : offset;
    if (trim_offset != offset) result.odd = true;
    const int64_t end = EndFromPackets(trim_offset, counter.Count(), last, library_trim, &result.odd);
    result.counted = from == link_start;
    result.count = counter.Count();
    result.bytes = last_page_at - from;
    result.holed = counter.Holed();
    result.end = result.counted ? end : offset + end;
    result.agreed = ref >= 0;
    result.offset = offset;
    return result;
  }
}

LinkStart ReadLinkStart(const SoundStream* stream, const void** last_reader, vorbis_info* info, long serial,
                        int64_t link_start, int64_t link_end) {
  constexpr size_t kMarks = 8;
  LinkStart result;
  PageSource source(stream, last_reader);
  source.Start(link_start);
  PacketCounter counter(info, serial, false);
  ogg_page page;
  int64_t at;
  int64_t first_samples = 0;
  while (source.Next(&page, &at) && at < link_end) {
    if (ogg_page_serialno(&page) != serial || !counter.Take(&page)) continue;
    result.bytes = at + page.header_len + page.body_len - link_start;
    const std::vector<GranuleMark>& marks = counter.Marks();
    if (marks.size() == 1 && !result.found) {
      result.found = true;
      first_samples = counter.Page().last_samples;
      result.one_page = ogg_page_eos(&page) != 0;
    }
    if (result.one_page || marks.size() >= kMarks || AgreedMark(marks, false) >= 0 || ogg_page_eos(&page)) break;
  }
  *last_reader = nullptr;
  if (!result.found) return result;
  const std::vector<GranuleMark>& marks = counter.Marks();
  const int agreed = AgreedMark(marks, false);
  result.agreed = marks[agreed >= 0 ? agreed : 0];
  result.odd = agreed > 0;
  result.holed = counter.Holed();
  result.count = counter.Count();
  if (!result.one_page)
    result.library_trim = std::clamp<int64_t>(-marks.front().Offset(), 0, first_samples);
  return result;
}

bool EndFitsBetween(int64_t middle, int64_t middle_bytes, int64_t head_count, int64_t head_bytes, int64_t tail_count,
                    int64_t tail_bytes, long longest_block) {
  const double head_rate = static_cast<double>(head_count) / static_cast<double>(std::max<int64_t>(1, head_bytes));
  const double tail_rate = static_cast<double>(tail_count) / static_cast<double>(std::max<int64_t>(1, tail_bytes));
  const int64_t slack = 2 * static_cast<int64_t>(longest_block);
  const double most = kDenserAtMost * std::max(head_rate, tail_rate) * static_cast<double>(std::max<int64_t>(0, middle_bytes));
  return middle >= -slack && static_cast<double>(middle) <= most + static_cast<double>(slack);
}

}  // namespace oggpcm
