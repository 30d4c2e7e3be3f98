// tests/lib/sound/ogg_page_scan_test.cpp - the page checksum and the page
// scan against libogg itself: the same checksum as ogg_page_checksum_set on
// pages of every size, both ways of computing it, and the same pages as
// ogg_sync_pageseek takes from damaged bytes, whether they lie in memory or
// are read from a stream in pieces, from any offset and up to any limit.
#include <ogg/ogg.h>

#include <random>

#include "lib/core/stream.h"
#include "lib/sound/ogg_crc.h"
#include "lib/sound/ogg_page_scan.h"
#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace oggpcm;

// A sealed page of `segments` segments of random bytes at the end of `out`.
void AddPage(std::mt19937* rng, int segments, std::vector<uint8_t>* out) {
  std::vector<uint8_t> page(27 + segments);
  std::memcpy(page.data(), "OggS", 4);
  for (size_t i = 4; i < 26; ++i) page[i] = static_cast<uint8_t>((*rng)());
  page[4] = 0;
  page[26] = static_cast<uint8_t>(segments);
  size_t body = 0;
  for (int s = 0; s < segments; ++s) body += page[27 + s] = static_cast<uint8_t>((*rng)());
  for (size_t i = 0; i < body; ++i) page.push_back(static_cast<uint8_t>((*rng)()));
  ogg_page og{page.data(), 27 + segments, page.data() + 27 + segments, static_cast<long>(body)};
  ogg_page_checksum_set(&og);
  out->insert(out->end(), page.begin(), page.end());
}

TEST(OggPageScan, TheChecksumIsLiboggsBothWays) {
  std::mt19937 rng(5);
  for (int t = 0; t < 400; ++t) {
    std::vector<uint8_t> page;
    AddPage(&rng, t < 200 ? t % 8 : static_cast<int>(rng() % 256), &page);
    const size_t header = 27 + page[26];
    EXPECT_TRUE(OggPageChecksumHolds(page.data(), header, page.size() - header)) << t;
    const uint8_t* body = page.data() + header;
    const size_t n = page.size() - header;
    const uint32_t seed = static_cast<uint32_t>(rng());
    if (OggCrcCanMultiply()) {
      EXPECT_EQ(OggCrcMultiply(seed, body, n), OggCrcTables(seed, body, n)) << n;
    }
    if (n == 0) continue;
    page[header + rng() % n] ^= static_cast<uint8_t>(1 + rng() % 255);
    EXPECT_FALSE(OggPageChecksumHolds(page.data(), header, n)) << t;
  }
}

// The pages libogg's sync takes from the bytes from `from` on, with where
// each starts; its reader stops at `limit`, as a search back for a page
// stops: no page is taken once the bytes passed over reach it.
std::vector<std::pair<int64_t, size_t>> LiboggPages(const std::vector<uint8_t>& bytes, size_t from = 0,
                                                    int64_t limit = INT64_MAX) {
  std::vector<std::pair<int64_t, size_t>> pages;
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  int64_t at = static_cast<int64_t>(from);
  size_t fed = from;
  while (at < limit) {
    ogg_page page;
    const long n = ogg_sync_pageseek(&sync, &page);
    if (n > 0) {
      pages.emplace_back(at, static_cast<size_t>(n));
      at += n;
    } else if (n < 0) {
      at -= n;
    } else if (fed < bytes.size()) {
      // Pieces of odd sizes, so that pages and false starts straddle them.
      const size_t piece = std::min<size_t>(bytes.size() - fed, 1 + (fed * 7919) % 5000);
      std::memcpy(ogg_sync_buffer(&sync, static_cast<long>(piece)), bytes.data() + fed, piece);
      ogg_sync_wrote(&sync, static_cast<long>(piece));
      fed += piece;
    } else {
      break;
    }
  }
  ogg_sync_clear(&sync);
  return pages;
}

std::vector<std::pair<int64_t, size_t>> ScannedPages(const std::vector<uint8_t>& bytes, bool in_memory,
                                                     size_t from = 0, int64_t limit = INT64_MAX,
                                                     size_t piece = PageScan::kPiece) {
  SoundStream stream{};
  stream.ops = *GetMemoryStreamTable();
  stream.handle = MemoryStreamOpen(bytes.data(), bytes.size());
  // Another stream reads through the table's functions, a piece at a time.
  if (!in_memory) stream.ops.read = [](void* to, size_t size, size_t count, StreamHandle h) {
    return GetMemoryStreamTable()->read(to, size, std::min<size_t>(count, 3000), h);
  };
  std::vector<std::pair<int64_t, size_t>> pages;
  {
    PageScan scan(&stream, static_cast<int64_t>(from), piece);
    scan.StopAt(limit);
    ScannedPage page;
    while (scan.Next(&page)) pages.emplace_back(page.at, page.Length());
  }
  stream.ops.close(stream.handle);
  return pages;
}

// Pages of every size among damage: bytes changed, cut out or put in
// (false "OggS" and "O" among them), a page cut off at the end or
// claiming more than the file holds.
TEST(OggPageScan, TakesThePagesLiboggsSyncTakes) {
  std::mt19937 rng(11);
  for (int t = 0; t < 60; ++t) {
    std::vector<uint8_t> bytes;
    for (int p = 0; p < 40; ++p) {
      if (rng() % 4 == 0) bytes.insert(bytes.end(), {'O', 'g', 'g', 'S', 0, 0, 'O', 'O'});
      AddPage(&rng, static_cast<int>(rng() % 256), &bytes);
    }
    for (int d = 0; d < 6; ++d) {
      const size_t at = rng() % bytes.size();
      switch (rng() % 3) {
        case 0: bytes[at] ^= static_cast<uint8_t>(1 + rng() % 255); break;
        case 1: bytes.erase(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(std::min(bytes.size(), at + rng() % 300))); break;
        default: bytes.insert(bytes.begin() + static_cast<long>(at), rng() % 64, 'O'); break;
      }
    }
    if (t % 3 == 0) bytes.resize(bytes.size() - rng() % 2000);
    const auto expected = LiboggPages(bytes);
    EXPECT_EQ(ScannedPages(bytes, true), expected) << t;
    EXPECT_EQ(ScannedPages(bytes, false), expected) << t;
    // From anywhere (a page's middle too), up to a limit that is a page's
    // start or lies anywhere, read in small pieces or large.
    for (int k = 0; k < 8; ++k) {
      const size_t from = k == 0 || expected.empty() ? 0 : rng() % bytes.size();
      const int64_t limit = k % 2 == 0 && expected.size() > 2 ? expected[rng() % expected.size()].first
                                                              : static_cast<int64_t>(rng() % (bytes.size() + 1));
      const auto bounded = LiboggPages(bytes, from, limit);
      for (bool in_memory : {true, false})
        for (size_t piece : {size_t{8192}, size_t{65536}, PageScan::kPiece})
          EXPECT_EQ(ScannedPages(bytes, in_memory, from, limit, piece), bounded) << t << " " << from << " " << limit;
    }
  }
}

}  // namespace
