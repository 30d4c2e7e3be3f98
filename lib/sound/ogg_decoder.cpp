// lib/sound/ogg_decoder.cpp - the Ogg Vorbis converter, to 16-bit (or 8-bit)
// PCM, and the decoder library's path through it. vorbisfile opens and
// identifies the file through callbacks on the record's stream. A seekable
// file of one Vorbis stream is then decoded from its packets
// (lib/sound/ogg_packet_decoder.h); chained and non-seekable files are read
// through vorbisfile here, a seekable file's links walked first for what
// vorbisfile's read of each delivers and where a seek may start it
// (lib/sound/ogg_link_ends.h), and a link of other channels than the
// sound's is mixed to the sound's (platform/media/vorbis_channel_mix.h). No
// packet is decoded before every link's headers have passed the check of
// lib/sound/vorbis_headers.h (through lib/sound/ogg_header_guard.h), where a
// seekable file's links are also walked before vorbisfile's open walks them.
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/sound/ogg_header_guard.h"
#include "lib/sound/ogg_link_ends.h"
#include "platform/media/vorbis_channel_mix.h"
#include "lib/sound/ogg_packet_decoder.h"
#include "lib/sound/pcm_decoder.h"
#include "lib/sound/sound_internal.h"

using oggpcm::LibraryLink;
using oggpcm::LibraryPoint;
using plat::VorbisChannelMix;
using oggpcm::OggPages;

namespace {

OggHeaderGate* Gate(const PcmDecoderRecord* r) { return static_cast<OggHeaderGate*>(r->ogg.gate); }

// The library reads through the record: a stream that cannot seek passes
// its gate.
size_t OggRead(void* buffer, size_t size, size_t count, void* source) {
  auto* r = static_cast<PcmDecoderRecord*>(source);
  if (r == nullptr || size == 0) return 0;
  if (r->ogg.gate != nullptr && Gate(r)->Blocked()) return 0;
  const size_t got = r->stream.ops.read(buffer, size, count, r->stream.handle);
  if (r->ogg.gate == nullptr) return got;
  return Gate(r)->Pass(static_cast<const uint8_t*>(buffer), got * size) / size;
}

int OggSeek(void* source, ogg_int64_t offset, int origin) {
  auto* r = static_cast<PcmDecoderRecord*>(source);
  if (r == nullptr) return -1;
  return r->stream.ops.seek(r->stream.handle, offset, origin);
}

// The stream belongs to the caller of the conversion.
int OggClose(void*) { return 0; }

long OggTell(void* source) {
  auto* r = static_cast<PcmDecoderRecord*>(source);
  if (r == nullptr) return -1;
  return static_cast<long>(r->stream.ops.tell(r->stream.handle));
}

OggVorbis_File* Vorbis(const PcmDecoderRecord* r) { return static_cast<OggVorbis_File*>(r->ogg.vorbis); }

// A run of holes in the data longer than this ends it.
constexpr int kMaxHoles = 64;

const char* LogName(const PcmDecoderRecord* r) { return SoundLineForLoad(r->ogg.log_name, kNameOnly, false).name; }

// Headers whose audio pages are cut off or all damaged, or that cannot be
// decoded.
void RefusedLine(const PcmDecoderRecord* r) {
  WriteLogLineFmt("Sound file %s has Vorbis headers but no audio page that decodes; refused", LogName(r));
}

void FreeGate(PcmDecoderRecord* r) {
  if (r->ogg.gate == nullptr) return;
  Gate(r)->~OggHeaderGate();
  TrackedFree(r->ogg.gate);
  r->ogg.gate = nullptr;
}

// Whether every link's headers can be decoded. A seekable file's are read
// again from where the library found them; a stream that cannot seek has
// had the first link's pass its gate, and a later link's are stopped there.
bool HeadersDecodable(PcmDecoderRecord* r) {
  OggVorbis_File* vf = Vorbis(r);
  if (!vf->seekable) return true;
  if (vf->offsets == nullptr || vf->dataoffsets == nullptr || vf->serialnos == nullptr) return false;
  const int64_t back = r->stream.ops.tell(r->stream.handle);
  bool decodable = true;
  OggHeaderMemo memo;
  for (int i = 0; i < vf->links && decodable; ++i)
    decodable = OggLinkHeadersDecodable(&r->stream, vf->offsets[i], vf->dataoffsets[i], vf->serialnos[i], &memo);
  r->stream.ops.seek(r->stream.handle, back, 0);
  return decodable;
}

// 0 when open; -1 when the library does not take the file;
// kPcmDecoderRefusedForGood when it is a Vorbis file whose headers cannot
// be decoded (said in a line). `places` gets where the walk of a seekable
// file's links found them.
int OpenVorbis(PcmDecoderRecord* r, OggLinkPlaces* places) {
  r->ogg.vorbis_open = 0;
  r->ogg.vorbis = TrackedCalloc(sizeof(OggVorbis_File), "", 0);
  if (r->ogg.vorbis == nullptr) return -1;
  if (r->stream.ops.seek(r->stream.handle, 0, 1) != 0) {
    void* block = TrackedAlloc(sizeof(OggHeaderGate), "", 0);
    if (block == nullptr) return -1;
    r->ogg.gate = new (block) OggHeaderGate();
  }
  const ov_callbacks callbacks = {&OggRead, &OggSeek, &OggClose, &OggTell};
  OggVorbis_File* vf = Vorbis(r);
  const bool tested = ov_test_callbacks(r, vf, nullptr, 0, callbacks) == 0;
  // The library's second stage loses what it holds for a chain's earlier
  // links when a later link's headers fail, so such a chain never reaches it.
  const int failing = tested && vf->seekable
                          ? OggChainFailingLink(&r->stream, {vf->serialnos + 2, static_cast<int>(vf->serialnos[1]),
                                                             vf->os.serialno, vf->dataoffsets[0]},
                                                places)
                          : 0;
  if (failing != 0) {
    ov_clear(vf);
    WriteLogLineFmt("Sound file %s is a chained Ogg whose link %d cannot be opened (its headers are damaged, cut off "
                    "or missing); refused",
                    LogName(r), failing);
    return kPcmDecoderRefusedForGood;
  }
  const bool opened = tested && ov_test_open(vf) == 0;
  if (opened) r->ogg.vorbis_open = 1;
  const bool decodable = opened ? HeadersDecodable(r) : r->ogg.gate == nullptr || !Gate(r)->Blocked();
  if (opened && decodable) return 0;
  if (!decodable) RefusedLine(r);
  return decodable ? -1 : kPcmDecoderRefusedForGood;
}

void CloseVorbis(PcmDecoderRecord* r) {
  if (r->ogg.vorbis_open == 1) {
    ov_clear(Vorbis(r));
    r->ogg.vorbis_open = 0;
  }
  TrackedFree(r->ogg.vorbis);
  r->ogg.vorbis = nullptr;
  FreeGate(r);
}

}  // namespace

// One line for each gap of a file, however often it is read over while it
// plays or is opened again while it loads (up to kOggGapLinesMax gaps).
void oggpcm::NameOggGap(PcmDecoderRecord* r, int64_t sample) {
  PcmDecoderOggState& o = r->ogg;
  const int32_t at = static_cast<int32_t>(std::clamp<int64_t>(sample, 0, INT32_MAX));
  if (o.gaps_quiet || o.gap_count >= kOggGapLinesMax || std::count(o.gaps, o.gaps + o.gap_count, at) != 0) return;
  o.gaps[o.gap_count++] = at;
  SoundLineForLoad(o.log_name, kOggGapLine, true);
  WriteLogLineFmt("Sound file %s has a damaged or missing Ogg page after sample %d; loading on past the gap",
                  LogName(r), at);
}

namespace {

VorbisChannelMix* Mixer(const PcmDecoderRecord* r) { return static_cast<VorbisChannelMix*>(r->ogg.mix); }

void CloseMix(PcmDecoderRecord* r) {
  if (r->ogg.mix == nullptr) return;
  Mixer(r)->~VorbisChannelMix();
  TrackedFree(r->ogg.mix);
  r->ogg.mix = nullptr;
}

// The library's next piece of a link of `channels` channels, other than the
// sound's, mixed to the sound's into `out` (`size` bytes of the sound's
// frames): its size, or what the library's read returned when it gave
// nothing. A link that has no mix ends the data.
long MixedRead(PcmDecoderRecord* r, int channels, uint8_t* out, int size) {
  if (r->ogg.mix == nullptr) {
    void* block = TrackedAlloc(sizeof(VorbisChannelMix), "", 0);
    if (block == nullptr) return OV_EFAULT;
    r->ogg.mix = new (block) VorbisChannelMix(r->format.channels, r->ogg.word_size);
  }
  const int frames = size / r->format.block_align;
  const int link_frame = channels * r->ogg.word_size;
  uint8_t* in = Mixer(r)->Input(static_cast<size_t>(frames) * static_cast<size_t>(link_frame));
  int section = 0;
  const long got = ov_read(Vorbis(r), reinterpret_cast<char*>(in), frames * link_frame, 0, r->ogg.word_size,
                           r->ogg.word_size != 1, &section);
  if (got <= 0) return got;
  const int mixed = static_cast<int>(got / link_frame);
  if (!Mixer(r)->Mix(in, channels, mixed, out)) return OV_EFAULT;
  return static_cast<long>(mixed) * r->format.block_align;
}

// The library's next piece of PCM, in the sound's channels, into `out`: its
// size, or 0 at the end of the data. A hole in the data (a page that fails
// its check, or one missing) is passed over, once said; any other error ends
// the data.
long LibraryRead(PcmDecoderRecord* r, uint8_t* out, int size) {
  OggVorbis_File* vf = Vorbis(r);
  for (int holes = 0; holes < kMaxHoles; ++holes) {
    int section = 0;
    // A read of no bytes readies the next piece without taking it
    // (OV_EINVAL), so that its link's channels are known before it is read.
    long got = ov_read(vf, reinterpret_cast<char*>(out), 0, 0, r->ogg.word_size, r->ogg.word_size != 1, &section);
    if (got == OV_EINVAL) {
      const vorbis_info* info = ov_info(vf, -1);
      got = info != nullptr && info->channels != r->format.channels
                ? MixedRead(r, info->channels, out, size)
                : ov_read(vf, reinterpret_cast<char*>(out), size, 0, r->ogg.word_size, r->ogg.word_size != 1, &section);
    }
    if (got > 0) return got;
    if (got != OV_HOLE) {
      if (r->ogg.gate != nullptr && Gate(r)->TellOnce())
        WriteLogLineFmt("Sound file %s has a later link whose Vorbis headers cannot be decoded; the sound ends before it",
                        LogName(r));
      return 0;
    }
    oggpcm::NameOggGap(r, r->format.block_align != 0 ? r->position / r->format.block_align : 0);
  }
  return 0;
}

OggPages* Pages(const PcmDecoderRecord* r) { return static_cast<OggPages*>(r->ogg.pages); }

void ClosePages(PcmDecoderRecord* r) {
  if (r->ogg.pages == nullptr) return;
  Pages(r)->~OggPages();
  TrackedFree(r->ogg.pages);
  r->ogg.pages = nullptr;
}

// Decodes a seekable file of one Vorbis stream from its packets with the
// library's headers of it: 1 with sound to play, 0 when none decodes, -1
// when the file is left to the library (the stream is put back where the
// library left it).
int OpenPages(PcmDecoderRecord* r, const std::vector<int64_t>& last_pages) {
  OggVorbis_File* vf = Vorbis(r);
  if (!vf->seekable || vf->links != 1 || vf->pcmlengths == nullptr || vf->serialnos == nullptr ||
      vf->offsets == nullptr)
    return -1;
  void* block = TrackedAlloc(sizeof(OggPages), "", 0);
  if (block == nullptr) return -1;
  const int64_t back = r->stream.ops.tell(r->stream.handle);
  r->ogg.pages = new (block) OggPages(r, ov_info(vf, -1));
  // The library's last page of the file may be another stream's, far past
  // the sound's last one in a movie whose sound ends first.
  const int64_t last_page_at = last_pages.size() == 1 && last_pages[0] >= 0 ? last_pages[0] : vf->offsets[1];
  if (!Pages(r)->Open(vf->serialnos[0], last_page_at)) {
    ClosePages(r);
    r->stream.ops.seek(r->stream.handle, back, 0);
    return -1;
  }
  OggPages* pages = Pages(r);
  if (pages->Length() <= 0) return 0;
  pages->Seek(0);
  if (!pages->Ready()) return 0;
  // A page missing or damaged before the first audio packet.
  if (pages->HoleAtStart()) oggpcm::NameOggGap(r, 0);
  return 1;
}

using Links = std::vector<LibraryLink>;
Links* LinkIndex(const PcmDecoderRecord* r) { return static_cast<Links*>(r->ogg.links); }

void CloseLinks(PcmDecoderRecord* r) {
  if (r->ogg.links == nullptr) return;
  LinkIndex(r)->~Links();
  TrackedFree(r->ogg.links);
  r->ogg.links = nullptr;
}

// The library's raw seek to the page at `offset`. A link's first page is
// read from a fresh decoder, as the library's read comes to it from the link
// before: within the link its raw seek would drop the packets of a first
// audio page that is also the last.
bool LibraryRawSeek(OggVorbis_File* vf, int64_t offset, bool link_start) {
  if (link_start && vf->ready_state >= STREAMSET) {
    if (vf->ready_state == INITSET) {
      vorbis_dsp_clear(&vf->vd);
      vorbis_block_clear(&vf->vb);
    }
    vf->ready_state = OPENED;
  }
  return ov_raw_seek(vf, offset) == 0;
}

// What the library reads of a seekable file, link by link.
struct LinkFindings {
  bool walked = false;
  bool odd = false;        // a granule position disagrees with the packets
  bool early_end = false;  // a page marked last has more of its stream after it
  bool end_missing = false;
  int format_link = 0;   // the first link with sound, whose channels and rate the sound has
  int other_format = 0;  // the first link (from 2) with sound of other channels that have no mix to that one's, or 0
  int left = 0;          // a link (from 1) whose stream the library's read leaves for a link it cannot follow, or 0
  int taken_up = 0;      // a link (from 1) whose stream the library's read leaves for the next link's, or 0
};

// The frames the library's read of link `link` delivers from `start`, read
// whole: where the walk cannot follow what libvorbis makes of its granule
// positions.
int64_t DecodedLinkFrames(OggVorbis_File* vf, int link, int64_t start) {
  const vorbis_info* info = ov_info(vf, link);
  if (info == nullptr || info->channels < 1 || !LibraryRawSeek(vf, start, true)) return 0;
  char buffer[8192];
  int64_t frames = 0;
  for (int holes = 0; holes < kMaxHoles;) {
    int section = -1;
    const long got = ov_read(vf, buffer, sizeof buffer, 0, 2, 1, &section);
    if (got == OV_HOLE) {
      ++holes;
      continue;
    }
    if (got <= 0 || section != link) break;
    holes = 0;
    frames += got / (2 * info->channels);
  }
  return frames;
}

// The library takes each link's length from its last granule position, and
// reads what its packets hold, trimmed by the positions as libvorbis trims.
// Each link is walked once for what that read delivers, which becomes its
// length (so that the length, the allocation a whole load makes and the link
// a seek picks follow what is read), and for the pages a seek may start at.
// A link whose granule positions give libvorbis no defined trim is read
// whole instead, and a seek into it reads from its start. The stream is put
// back where it was.
LinkFindings WalkLinks(PcmDecoderRecord* r) {
  LinkFindings found;
  OggVorbis_File* vf = Vorbis(r);
  if (!vf->seekable || vf->links < 1 || vf->pcmlengths == nullptr || vf->offsets == nullptr ||
      vf->serialnos == nullptr || vf->dataoffsets == nullptr)
    return found;
  void* block = TrackedAlloc(sizeof(Links), "", 0);
  if (block == nullptr) return found;
  r->ogg.links = new (block) Links(static_cast<size_t>(vf->links));
  found.walked = true;
  const int64_t back = r->stream.ops.tell(r->stream.handle);
  int with_sound = -1;
  // Where the read takes up the next link, when it left the one before
  // among that one's pages (-1: at the link's own start).
  int64_t taken_at = -1;
  const std::vector<long> serials(vf->serialnos, vf->serialnos + vf->links);
  for (int i = 0; i < vf->links; ++i) {
    LibraryLink& link = (*LinkIndex(r))[i];
    link.start = vf->offsets[i];
    vorbis_info* info = ov_info(vf, i);
    if (found.left == 0 && (info == nullptr || vf->dataoffsets[i] < 0) && taken_at >= 0) found.left = i;
    if (info == nullptr || vf->dataoffsets[i] < 0) continue;
    // The sound ends before a link of other channels that have no mix, and
    // where the read left a link's stream for one it does not go on from:
    // what it reads after is out of order.
    if (found.other_format != 0 || found.left != 0) {
      vf->pcmlengths[2 * i + 1] = 0;
      continue;
    }
    const int64_t start = taken_at >= 0 ? taken_at : vf->offsets[i];
    taken_at = -1;
    const int64_t end = i + 1 < vf->links ? vf->offsets[i + 1] : INT64_MAX;
    link = oggpcm::WalkLibraryLink(&r->stream, info, vf->serialnos[i], start, end, serials);
    if (link.left) {
      // The read goes on with the link whose page it met (the first of that
      // serial number, as the library picks it), from that page: the next
      // link is followed from there.
      const auto next = std::find_if(serials.begin(), serials.end(),
                                     [&](long s) { return static_cast<int32_t>(s) == link.left_serial; });
      if (next - serials.begin() == i + 1) {
        taken_at = link.left_at;
        if (found.taken_up == 0) found.taken_up = i + 1;
      } else {
        found.left = i + 1;
      }
    }
    if (link.unmodelled) {
      link.frames = DecodedLinkFrames(vf, i, start);
      link.points.clear();
      link.odd = true;
    }
    // The sound has the frames of the first link with sound: a later one of
    // other channels is mixed to them where it has a mix, and the sound ends
    // before it where it has none.
    if (link.frames > 0 && with_sound < 0) with_sound = i;
    const int channels = with_sound >= 0 ? ov_info(vf, with_sound)->channels : 0;
    if (link.frames > 0 && info->channels != channels) {
      if (!VorbisChannelMix::Mixable(info->channels, channels)) {
        found.other_format = i + 1;
        link = LibraryLink{};
        link.start = start;
        taken_at = -1;
      }
    }
    vf->pcmlengths[2 * i + 1] = link.frames;
    found.odd = found.odd || link.odd;
    found.early_end = found.early_end || link.early_end;
    if (i + 1 == vf->links) found.end_missing = link.end_page_missing;
  }
  r->stream.ops.seek(r->stream.handle, back, 0);
  found.format_link = std::max(with_sound, 0);
  return found;
}

// Reads the library's first piece of sound as the head: 1 with sound, 0
// when none decodes, -1 when the head cannot be had.
int OpenLibraryHead(PcmDecoderRecord* r) {
  r->ogg.head = static_cast<uint8_t*>(TrackedAlloc(4096, "", 0));
  if (r->ogg.head == nullptr) return -1;
  OggVorbis_File* vf = Vorbis(r);
  // The library's open of a seekable chained file leaves its read at the
  // last link: without this seek the first links would never be heard. It
  // goes to the first page by its place, as a granule position the packets
  // do not bear out would send a seek to sample 0 past the first pages.
  if (ov_seekable(vf)) LibraryRawSeek(vf, 0, true);
  const bool has_audio = !ov_seekable(vf) || ov_pcm_total(vf, -1) > 0;
  const long first = has_audio ? LibraryRead(r, r->ogg.head, 4096) : 0;
  if (first <= 0) return 0;
  r->ogg.head_frames = static_cast<int32_t>(first / r->format.block_align);
  r->ogg.library_after_head = 1;
  return 1;
}

// Moves the library's read to the sound's frame `frame`: a raw seek to the
// last page of the frame's link from which the library's read delivers what
// its read from the link's start delivers (the link's start where there is
// none), and a read on to the frame. The library's own sample seek is not
// used: it goes by granule positions, which the packets may not bear out,
// and on damaged pages it reads its page buffer after moving it.
void LibrarySeek(PcmDecoderRecord* r, int32_t frame) {
  OggVorbis_File* vf = Vorbis(r);
  if (!ov_seekable(vf) || vf->pcmlengths == nullptr || vf->offsets == nullptr) return;
  int link = 0;
  int64_t link_start = 0;
  for (; link + 1 < vf->links && frame >= link_start + vf->pcmlengths[2 * link + 1]; ++link)
    link_start += vf->pcmlengths[2 * link + 1];
  LibraryPoint from{vf->offsets[link], 0};
  if (r->ogg.links != nullptr) {
    from.offset = (*LinkIndex(r))[link].start;
    const std::vector<LibraryPoint>& points = (*LinkIndex(r))[link].points;
    const auto after = std::upper_bound(points.begin(), points.end(), frame - link_start,
                                        [](int64_t f, const LibraryPoint& p) { return f < p.frame; });
    if (after != points.begin()) from = *(after - 1);
  }
  const int64_t first_page = r->ogg.links != nullptr ? (*LinkIndex(r))[link].start : vf->offsets[link];
  if (!LibraryRawSeek(vf, from.offset, from.offset == first_page)) return;
  const int32_t ba = r->format.block_align;
  for (int64_t left = (frame - link_start - from.frame) * ba; left > 0;) {
    const long got = LibraryRead(r, r->buffer, static_cast<int>(std::min<int64_t>(left, r->buffer_size)));
    if (got <= 0) return;
    left -= got;
  }
}

// The sound's length in frames, however long: the length in bytes the
// converter reports stops at the whole frames an int32_t counts.
int64_t SoundFrames(const PcmDecoderRecord* r) {
  if (r->ogg.pages != nullptr) return std::max<int64_t>(Pages(r)->Length(), 0);
  if (!r->ogg.vorbis_open) return 0;
  return std::max<int64_t>(ov_pcm_total(Vorbis(r), -1), 0);
}

bool FormatUsable(const vorbis_info* info) {
  return info != nullptr && info->channels > 0 && info->channels <= 255 && info->rate > 0 && info->rate <= 1000000;
}

// 16-bit (or 8-bit) PCM of the stream's channels and rate.
void SetFormat(PcmDecoderRecord* r, const vorbis_info* info) {
  plat::WaveFormatEx& f = r->format;
  std::memset(&f, 0, sizeof(f));
  f.format_tag = plat::kWaveFormatPcm;
  f.channels = static_cast<uint16_t>(info->channels);
  f.samples_per_sec = static_cast<uint32_t>(info->rate);
  f.block_align = static_cast<uint16_t>(info->channels * r->ogg.word_size);
  f.avg_bytes_per_sec = f.block_align * f.samples_per_sec;
  f.bits_per_sample = static_cast<uint16_t>(r->ogg.word_size * 8);
  f.extra_size = 0;
}

}  // namespace

int OpenPcmDecoderOgg(PcmDecoderRecord* r) {
  r->ogg = {};
  const char* name = SoundFileNameForLog();
  if (name != nullptr) {
    const size_t length = std::strlen(name);
    r->ogg.log_name = static_cast<char*>(TrackedAlloc(length + 1, "", 0));
    if (r->ogg.log_name != nullptr) std::memcpy(r->ogg.log_name, name, length + 1);
  }
  OggLinkPlaces places;
  const int opened = OpenVorbis(r, &places);
  if (opened != 0) {
    ClosePcmDecoderOgg(r);
    return opened;
  }
  r->ogg.word_size = OggPcmWordSize == 1 ? 1 : 2;
  vorbis_info* info = ov_info(Vorbis(r), -1);
  if (!FormatUsable(info)) {
    ClosePcmDecoderOgg(r);
    return -1;
  }
  // Opened again while the file loads (a long sound played as a stream):
  // its gaps were told of by the first opening.
  r->ogg.gaps_quiet = SoundLineForLoad(r->ogg.log_name, kOggGapLine, false).said ? 1 : 0;
  SetFormat(r, info);
  r->position = 0;
  int sound = OpenPages(r, places.last_pages);
  LinkFindings found;
  if (sound >= 0) {
    found = {true, Pages(r)->Odd(), Pages(r)->EarlyEnd(), Pages(r)->EndPageMissing()};
  } else {
    found = WalkLinks(r);
    // A chain whose first links hold no sound has the format of the first
    // that does.
    const vorbis_info* format = ov_info(Vorbis(r), found.format_link);
    if (found.walked && FormatUsable(format)) SetFormat(r, format);
    sound = OpenLibraryHead(r);
  }
  const bool end_missing = found.walked && found.end_missing;
  const bool odd = found.odd;
  if (sound <= 0) {
    // Headers whose audio pages are cut off or all damaged.
    if (sound == 0) RefusedLine(r);
    ClosePcmDecoderOgg(r);
    return sound == 0 ? kPcmDecoderRefusedForGood : -1;
  }
  if (end_missing && !SoundLineForLoad(r->ogg.log_name, kOggEndPageLine, true).said)
    WriteLogLineFmt("Sound file %s lacks the last page of its Ogg stream (damaged or cut off); loading what decodes",
                    LogName(r));
  if (odd && !SoundLineForLoad(r->ogg.log_name, kOggGranuleLine, true).said)
    WriteLogLineFmt("Sound file %s has Ogg granule positions that disagree with its packets; its length follows the "
                    "packets", LogName(r));
  if (found.other_format != 0 && !SoundLineForLoad(r->ogg.log_name, kOggChainFormatLine, true).said) {
    const vorbis_info* other = ov_info(Vorbis(r), found.other_format - 1);
    WriteLogLineFmt("Sound file %s is a chained Ogg whose link %d has sound of %d channels after sound of %d; the "
                    "sound ends before it",
                    LogName(r), found.other_format, other->channels, r->format.channels);
  }
  if (found.left != 0 && !SoundLineForLoad(r->ogg.log_name, kOggChainFormatLine, true).said)
    WriteLogLineFmt("Sound file %s is a chained Ogg whose link %d holds pages of another link among its own; the "
                    "sound ends there", LogName(r), found.left);
  if (found.taken_up != 0 && !SoundLineForLoad(r->ogg.log_name, kOggChainFormatLine, true).said)
    WriteLogLineFmt("Sound file %s is a chained Ogg whose link %d holds pages of the next link among its own; the "
                    "sound goes on with the next link from there", LogName(r), found.taken_up);
  if (found.early_end && !SoundLineForLoad(r->ogg.log_name, kOggEarlyEndLine, true).said)
    WriteLogLineFmt("Sound file %s has an Ogg page marked as the end of its stream before the stream ends; playing "
                    "on past it", LogName(r));
  r->buffer_size = 4096;
  r->data_size = GetPcmDecoderOggLength(r);
  const int64_t frames = SoundFrames(r);
  if (frames > r->data_size / r->format.block_align && !SoundLineForLoad(r->ogg.log_name, kLongSoundLine, true).said)
    WriteLogLineFmt("Sound file %s holds %lld frames, more than a sound counts; it ends after its first %d",
                    LogName(r), static_cast<long long>(frames), r->data_size / r->format.block_align);
  r->kind = kPcmDecoderOgg;
  return 0;
}

int ReadPcmDecoderOgg(PcmDecoderRecord* r) {
  PcmDecoderOggState& o = r->ogg;
  const int32_t ba = r->format.block_align;
  if (o.pages != nullptr) {
    const int frames = Pages(r)->Read(r->buffer, r->buffer_size / ba, o.word_size);
    if (frames <= 0) return -1;
    r->buffer_valid = frames * ba;
    return 0;
  }
  if (!o.vorbis_open) return -1;
  if (o.head != nullptr && o.head_pos < o.head_frames) {
    int32_t frames = r->buffer_size / ba;
    if (frames > o.head_frames - o.head_pos) frames = o.head_frames - o.head_pos;
    std::memcpy(r->buffer, o.head + static_cast<size_t>(o.head_pos) * ba, static_cast<size_t>(frames) * ba);
    o.head_pos += frames;
    r->buffer_valid = frames * ba;
    return 0;
  }
  if (!o.library_after_head) {
    // Read again from the start past the head, as the head was read.
    o.library_after_head = 1;
    LibraryRawSeek(Vorbis(r), 0, true);
    for (int32_t left = o.head_frames * ba; left > 0;) {
      const long got = LibraryRead(r, r->buffer, std::min(left, r->buffer_size));
      if (got <= 0) return -1;
      left -= static_cast<int32_t>(got);
    }
  }
  // A seekable file stops at the length it reports, whatever its links'
  // packets hold beyond it.
  int32_t want = r->buffer_size;
  if (ov_seekable(Vorbis(r))) want = std::min(want, r->data_size - r->position);
  if (want < r->format.block_align) return -1;
  const long got = LibraryRead(r, r->buffer, want - want % r->format.block_align);
  if (got <= 0) return -1;
  r->buffer_valid = static_cast<int32_t>(got);
  return 0;
}

// A sample beyond the sound (past the end, or before its start) is taken
// as its end (or start): the byte position stays in range.
int SeekPcmDecoderOgg(PcmDecoderRecord* r, int32_t sample) {
  PcmDecoderOggState& o = r->ogg;
  const int32_t ba = r->format.block_align > 0 ? r->format.block_align : 1;
  const bool known = o.pages != nullptr || (o.vorbis_open && ov_seekable(Vorbis(r)));
  const int32_t last = known ? GetPcmDecoderOggLength(r) / ba : INT32_MAX / ba;
  const int32_t frame = std::clamp(sample, 0, last);
  if (o.pages != nullptr) {
    Pages(r)->Seek(frame);
  } else if (o.vorbis_open) {
    if (frame < o.head_frames) {
      o.head_pos = frame;
      o.library_after_head = 0;
    } else {
      o.head_pos = o.head_frames;
      o.library_after_head = 1;
      LibrarySeek(r, frame);
    }
  }
  r->buffer_valid = 0;
  r->buffer_offset = 0;
  r->position = frame * ba;
  return 0;
}

int32_t GetPcmDecoderOggLength(const PcmDecoderRecord* r) {
  const int64_t frame_bytes = int64_t{r->format.channels} * r->ogg.word_size;
  if (frame_bytes <= 0) return 0;
  return static_cast<int32_t>(std::min(SoundFrames(r), INT32_MAX / frame_bytes) * frame_bytes);
}

int ClosePcmDecoderOgg(PcmDecoderRecord* r) {
  ClosePages(r);
  CloseLinks(r);
  CloseMix(r);
  CloseVorbis(r);
  TrackedFree(r->ogg.head);
  r->ogg.head = nullptr;
  r->ogg.head_frames = 0;
  TrackedFree(r->ogg.log_name);
  r->ogg.log_name = nullptr;
  return 0;
}
