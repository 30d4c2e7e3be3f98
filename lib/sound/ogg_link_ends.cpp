// lib/sound/ogg_link_ends.cpp - a link's start read from its first pages and
// its end from a count of its packets (lib/sound/ogg_link_ends.h).
#include "lib/sound/ogg_link_ends.h"

#include <algorithm>
#include <optional>

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

LinkEnd TailEnd(const SoundStream* stream, const void** last_reader, vorbis_info* info, long serial,
                int64_t link_start, int64_t last_page_at, const GranuleMark* start) {
  LinkEnd result;
  // The library decodes a page given twice in a row twice, and reads on
  // over pages of the stream after the one marked last.
  PacketCounter walked(info, serial, false);
  std::optional<PacketCounter> checked;
  const PacketCounter* counter = &walked;
  if (!walked.Walk(stream, last_reader, link_start, last_page_at, false)) {
    counter = &checked.emplace(info, serial, false);
    PageSource source(stream, last_reader);
    source.Start(link_start);
    ogg_page page;
    int64_t at;
    while (source.Next(&page, &at) && at <= last_page_at)
      if (ogg_page_serialno(&page) == serial) checked->Take(&page);
  }
  *last_reader = nullptr;
  std::vector<GranuleMark> marks = counter->Marks();
  const LastPage last = counter->Page();
  // The last page's mark is the end's, not a reference for it.
  const bool last_marked = last.ended && GranuleSet(last.granule) && !marks.empty();
  if (last_marked) marks.pop_back();
  int ref = -1;
  if (last_marked && !marks.empty()) {
    const int64_t trim = marks.back().Offset() + counter->Count() - last.granule;
    if (trim >= 0 && trim <= last.last_samples) ref = static_cast<int>(marks.size()) - 1;
  }
  if (ref < 0) ref = AgreedMark(marks, true);
  if (ref >= 0 && ref + 1 != static_cast<int>(marks.size())) result.odd = true;
  if (ref < 0 && start == nullptr && marks.size() > 1) result.odd = true;
  const int64_t offset = ref >= 0 ? marks[ref].Offset() : start != nullptr ? start->Offset() : 0;
  // The library's trim goes by the position just before the last page,
  // whatever it says.
  const int64_t trim_offset = !marks.empty() ? marks.back().Offset() : offset;
  if (trim_offset != offset) result.odd = true;
  result.end = EndFromPackets(trim_offset, counter->Count(), last, true, &result.odd);
  result.holed = counter->Holed();
  result.agreed = ref >= 0;
  result.offset = offset;
  return result;
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
  if (!result.one_page)
    result.library_trim = std::clamp<int64_t>(-marks.front().Offset(), 0, first_samples);
  return result;
}

}  // namespace oggpcm
