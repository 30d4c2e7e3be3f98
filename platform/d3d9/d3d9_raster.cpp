// platform/d3d9/d3d9_raster.cpp - the rasteriser's entry point: a draw taken
// as a job for the band workers, binned by band, its primitives dispatched
// to the triangle walk, lines and points, and the lists it keeps for the
// next draws. The rules every image follows are in d3d9_raster_internal.h.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <optional>

#include "platform/d3d9/d3d9_internal.h"
#include "platform/d3d9/d3d9_raster_internal.h"

namespace plat {

namespace raster {

std::atomic<size_t> g_term_texels_held{0};

namespace {

void DrawPrimitive(const DrawConfig& c, int per, const RasterVertex* v) {
  bool finite = true;
  for (int k = 0; k < per; k++) finite &= std::isfinite(v[k].x) && std::isfinite(v[k].y);
  if (!finite) return;
  if (per == 3) {
    if (InGuardBand(v[0]) && InGuardBand(v[1]) && InGuardBand(v[2]))
      RasterTriangle(c, v[0], v[1], v[2], v[0].diffuse, v[0].specular);
    else
      ClipToGuardBand(c, v[0], v[1], v[2]);
  } else if (per == 2) {
    if (InGuardBand(v[0]) && InGuardBand(v[1])) RasterLine(c, v[0], v[1]);
  } else if (InGuardBand(v[0])) {
    int64_t x = int64_t(std::floor(double(v[0].x) + 0.5)), y = int64_t(std::floor(double(v[0].y) + 0.5));
    if (x >= c.clip.left && x < c.clip.right && y >= c.clip.top && y < c.clip.bottom)
      ShadeAt(c, v[0], v[0], 0.0, v[0].diffuse, v[0].specular, int(x), int(y));
  }
}

// Rows [*top, *bottom] that hold every pixel the primitive may draw inside
// the clip rectangle, found cheaply and never too few; false when it draws
// none.
bool PrimitiveRows(const DrawConfig& c, int per, const RasterVertex* v, int64_t* top, int64_t* bottom) {
  for (int k = 0; k < per; k++)
    if (!std::isfinite(v[k].x) || !std::isfinite(v[k].y)) return false;
  int64_t r0 = c.clip.top, r1 = int64_t(c.clip.bottom) - 1;
  if (per == 3) {
    if (InGuardBand(v[0]) && InGuardBand(v[1]) && InGuardBand(v[2])) {
      // The bounding box of the snapped corners, as the triangle walk has it.
      const int64_t y0 = SnapToGrid(v[0].y), y1 = SnapToGrid(v[1].y), y2 = SnapToGrid(v[2].y);
      const int64_t x0 = SnapToGrid(v[0].x), x1 = SnapToGrid(v[1].x), x2 = SnapToGrid(v[2].x);
      if (std::max(CeilDiv(std::min({x0, x1, x2}), 256), int64_t(c.clip.left)) >
          std::min(FloorDiv(std::max({x0, x1, x2}), 256), int64_t(c.clip.right) - 1))
        return false;
      r0 = std::max(r0, CeilDiv(std::min({y0, y1, y2}), 256));
      r1 = std::min(r1, FloorDiv(std::max({y0, y1, y2}), 256));
    }
  } else if (per == 2) {
    if (!InGuardBand(v[0]) || !InGuardBand(v[1])) return false;
    // A line's pixel rows round points between its ends: one row of margin.
    r0 = std::max(r0, int64_t(std::floor(std::min(double(v[0].y), double(v[1].y)))) - 1);
    r1 = std::min(r1, int64_t(std::floor(std::max(double(v[0].y), double(v[1].y)))) + 1);
  } else {
    if (!InGuardBand(v[0])) return false;
    const int64_t y = int64_t(std::floor(double(v[0].y) + 0.5));
    r0 = std::max(r0, y);
    r1 = std::min(r1, y);
  }
  *top = r0;
  *bottom = r1;
  return r0 <= r1;
}

void DrawPrimitives(const DrawConfig& c, int per, const std::vector<RasterVertex>& vertices) {
  for (size_t i = 0; i + per <= vertices.size(); i += per) DrawPrimitive(c, per, vertices.data() + i);
}

// A triangle set up once for every band it reaches, by the first band to
// come to it; a band that finds it being set up sets it up itself.
struct SharedPrep {
  std::atomic<uint8_t> state{0};  // kNone, kMaking, kReady
  bool draws = false;
  TriPrep prep;
};

// A band's entry for one primitive: the primitive and its shared set-up, if any.
struct BinEntry {
  uint32_t prim, prep;
};

// The lists of a draw, kept when it is done for the next draws, so that a
// draw neither allocates nor frees them each time. What is kept is bounded:
// no list above kMaxOneBytes, nor more than kMaxKeptBytes in all.
struct DrawLists {
  std::vector<RasterVertex> vertices;
  std::vector<uint32_t> bin_start, prep_of, fill;
  std::vector<BinEntry> bin_entries;
  std::vector<int32_t> range;
  std::unique_ptr<SharedPrep[]> preps;
  uint32_t prep_capacity = 0;
};

class DrawListStore {
 public:
  static constexpr size_t kMaxOneBytes = size_t(1) << 20;
  static constexpr size_t kMaxKeptBytes = size_t(16) << 20;

  std::vector<RasterVertex> TakeVertices() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<RasterVertex> v;
    if (!vertices_.empty()) {
      v = std::move(vertices_.back());
      vertices_.pop_back();
      bytes_ -= Bytes(v);
    }
    return v;
  }

  void GiveVertices(std::vector<RasterVertex>&& v) {
    v.clear();
    const size_t b = Bytes(v);
    if (b == 0 || b > kMaxOneBytes) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes_ + b > kMaxKeptBytes) return;
    // A list there is no room to keep is let go of.
    try {
      vertices_.push_back(std::move(v));
      bytes_ += b;
    } catch (const std::bad_alloc&) {
    }
  }

  // The bin lists of a finished draw, without its vertices.
  DrawLists TakeBins() {
    std::lock_guard<std::mutex> lock(mutex_);
    DrawLists l;
    if (!bins_.empty()) {
      l = std::move(bins_.back());
      bins_.pop_back();
      bytes_ -= Bytes(l);
    }
    return l;
  }

  void GiveBins(DrawLists&& l) {
    Trim(&l.bin_start);
    Trim(&l.bin_entries);
    Trim(&l.prep_of);
    Trim(&l.fill);
    Trim(&l.range);
    if (size_t(l.prep_capacity) * sizeof(SharedPrep) > kMaxOneBytes) {
      l.preps.reset();
      l.prep_capacity = 0;
    }
    const size_t b = Bytes(l);
    if (b == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes_ + b > kMaxKeptBytes) return;
    try {
      bins_.push_back(std::move(l));
      bytes_ += b;
    } catch (const std::bad_alloc&) {
    }
  }

 private:
  template <typename T>
  static size_t Bytes(const std::vector<T>& v) { return v.capacity() * sizeof(T); }
  static size_t Bytes(const DrawLists& l) {
    return Bytes(l.bin_start) + Bytes(l.bin_entries) + Bytes(l.prep_of) + Bytes(l.fill) + Bytes(l.range) +
           size_t(l.prep_capacity) * sizeof(SharedPrep);
  }
  template <typename T>
  static void Trim(std::vector<T>* v) {
    v->clear();
    if (Bytes(*v) > kMaxOneBytes) std::vector<T>().swap(*v);
  }

  std::mutex mutex_;
  std::vector<std::vector<RasterVertex>> vertices_;
  std::vector<DrawLists> bins_;
  size_t bytes_ = 0;
};

// Never destroyed: draws still queued at exit hand their lists back to it.
DrawListStore& ListStore() {
  static DrawListStore* store = new DrawListStore;
  return *store;
}

// One draw call for the band workers: every pixel it writes lies in the
// rows of the band it is run for. Binned, each band keeps the list of the
// primitives that reach it, so a primitive is set up only in the bands it
// draws into.
struct DrawJob final : BandJob {
  DrawConfig config;
  int per = 3;
  std::vector<RasterVertex> vertices;
  // Band b's primitives: lists.bin_entries[lists.bin_start[b] .. lists.bin_start[b + 1]),
  // in call order within each band. Triangles share a set-up
  // (lists.preps[entry.prep], else kNoPrep) only inside the guard band (as
  // DrawPrimitive has them) and reaching at least kMinSharedBands bands, and
  // at most kMaxShared a draw, which bounds the memory a draw holds.
  static constexpr uint8_t kNone = 0, kMaking = 1, kReady = 2;
  static constexpr uint32_t kNoPrep = 0xFFFFFFFFu;
  static constexpr uint32_t kMaxShared = 4096;
  // A triangle of two bands (most sprites and bullets) is set up again in
  // the second: that costs less than the second band's thread fetching the
  // first one's set-up from another core's cache.
  static constexpr int kMinSharedBands = 3;
  DrawLists lists;
  bool binned = false;
  std::unique_ptr<TermTables> terms;

  // At most this many term tables a draw, of at most kMaxTermTexels
  // entries in all (and kMaxHeldTermTexels for all the draws not yet done),
  // each for a box that the draw's triangles of its colour cover at least
  // kTermPixels times over (pixels against texels, as the triangles' areas
  // tell): making it costs about as much as drawing its box, and each pixel
  // it is used for saves more than that.
  static constexpr int kMaxTermTables = 64;
  static constexpr size_t kMaxTermTexels = size_t(1) << 22;
  static constexpr size_t kMaxHeldTermTexels = size_t(1) << 24;
  static constexpr double kTermPixels = 8.0;

  // Plans the term tables of an additive point-sampled draw of triangles;
  // they are made when first drawn from.
  void PlanTerms() {
    const DrawConfig& c = config;
    if (per != 3 || c.term_span == nullptr || !c.flat || c.stages != 1) return;
    const StageCfg& st = c.st[0];
    auto smooth = [](uint32_t f) { return f == D3DTEXF_LINEAR || f == D3DTEXF_ANISOTROPIC; };
    if (smooth(st.smp.mag) && smooth(st.smp.min)) return;
    const int w = st.smp.view.width, h = st.smp.view.height;
    // The box's texel positions, less its first, stay far inside the lanes.
    if (w < 1 || h < 1 || w > 8192 || h > 8192) return;
    struct Box {
      uint32_t diffuse;
      double u0, u1, v0, v1, pixels;
      bool bad;
    };
    Box boxes[kMaxTermTables];
    int count = 0, last = -1;
    const int set = st.set;
    for (size_t i = 0; i + 3 <= vertices.size(); i += 3) {
      const RasterVertex* v = vertices.data() + i;
      const uint32_t key = (v[0].diffuse & c.fast_dmask) | ~c.fast_dmask;
      if (last < 0 || boxes[last].diffuse != key) {
        last = -1;
        for (int k = 0; k < count && last < 0; k++)
          if (boxes[k].diffuse == key) last = k;
        if (last < 0) {
          if (count == kMaxTermTables) continue;
          boxes[count] = {key, HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL, 0.0, false};
          last = count++;
        }
      }
      Box& b = boxes[last];
      for (int j = 0; j < 3; j++) {
        // As the triangle's set-up scales them.
        const double u = double(v[j].tex[set][0]) * w, t = double(v[j].tex[set][1]) * h;
        b.bad |= !std::isfinite(u) || !std::isfinite(t);
        b.u0 = std::min(b.u0, u);
        b.u1 = std::max(b.u1, u);
        b.v0 = std::min(b.v0, t);
        b.v1 = std::max(b.v1, t);
      }
      const double area = (double(v[1].x) - v[0].x) * (double(v[2].y) - v[0].y) -
                          (double(v[2].x) - v[0].x) * (double(v[1].y) - v[0].y);
      if (std::isfinite(area)) b.pixels += std::fabs(area) * 0.5;
    }
    // Every position a triangle samples lies between its corners' (up to
    // the rounding of its steps, far below a texel), and clamped addresses
    // stay on the texture's sides: one texel more on each side covers them.
    const size_t held = g_term_texels_held.load(std::memory_order_relaxed);
    const size_t room = std::min(kMaxTermTexels, kMaxHeldTermTexels - std::min(held, kMaxHeldTermTexels));
    size_t total = 0;
    int used = 0;
    int32_t x0[kMaxTermTables], y0[kMaxTermTables], bw[kMaxTermTables], bh[kMaxTermTables];
    for (int k = 0; k < count; k++) {
      Box& b = boxes[k];
      if (b.bad) continue;
      const int32_t lx = int32_t(std::clamp(std::floor(b.u0) - 1.0, 0.0, double(w - 1)));
      const int32_t hx = int32_t(std::clamp(std::floor(b.u1) + 1.0, 0.0, double(w - 1)));
      const int32_t ly = int32_t(std::clamp(std::floor(b.v0) - 1.0, 0.0, double(h - 1)));
      const int32_t hy = int32_t(std::clamp(std::floor(b.v1) + 1.0, 0.0, double(h - 1)));
      const size_t n = size_t(hx - lx + 1) * size_t(hy - ly + 1);
      if (b.pixels < kTermPixels * double(n) || total + n > room) {
        b.bad = true;
        continue;
      }
      x0[k] = lx;
      y0[k] = ly;
      bw[k] = hx - lx + 1;
      bh[k] = hy - ly + 1;
      total += n;
      used++;
    }
    if (used == 0) return;
    terms = std::make_unique<TermTables>();
    terms->tables.reset(new TermTable[size_t(used)]);
    terms->texels.reset(new uint32_t[total]);
    terms->held = total;
    g_term_texels_held.fetch_add(total, std::memory_order_relaxed);
    size_t at = 0;
    for (int k = 0; k < count; k++) {
      if (boxes[k].bad) continue;
      TermTable& table = terms->tables[terms->count++];
      table.diffuse = boxes[k].diffuse;
      table.x0 = x0[k];
      table.y0 = y0[k];
      table.entries = terms->texels.get() + at;
      table.draw.texels = table.entries;
      table.draw.stride = table.draw.width = bw[k];
      table.draw.height = bh[k];
      table.draw.tmask = 0xFFFFFFFFu;
      at += size_t(bw[k]) * size_t(bh[k]);
    }
    config.terms = terms.get();
  }

  ~DrawJob() override {
    ListStore().GiveVertices(std::move(vertices));
    if (binned) ListStore().GiveBins(std::move(lists));
  }

  DrawConfig Clipped(int top, int bottom) const {
    DrawConfig c = config;
    c.clip.top = std::max<int32_t>(c.clip.top, top);
    c.clip.bottom = std::min<int32_t>(c.clip.bottom, bottom);
    return c;
  }

  void Run(int top, int bottom) const override {
    DrawConfig c = Clipped(top, bottom);
    if (c.clip.top < c.clip.bottom) DrawPrimitives(c, per, vertices);
  }

  void Bin(int band_rows) override {
    const size_t prims = vertices.size() / size_t(per);
    const int bands = (rows + band_rows - 1) / band_rows;
    auto band_of = [&](int64_t r) { return int(r / band_rows); };
    lists = ListStore().TakeBins();
    binned = true;
    std::vector<uint32_t>& bin_start = lists.bin_start;
    std::vector<int32_t>& range = lists.range;
    range.resize(prims * 2);  // every entry is written below
    bin_start.assign(size_t(bands) + 1, 0);
    for (size_t i = 0; i < prims; i++) {
      int64_t top, bottom;
      int b0 = 0, b1 = -1;
      if (PrimitiveRows(config, per, vertices.data() + i * per, &top, &bottom)) {
        top = std::max<int64_t>(top, 0);
        bottom = std::min<int64_t>(bottom, rows - 1);
        if (top <= bottom) {
          b0 = band_of(top);
          b1 = band_of(bottom);
        }
      }
      range[2 * i] = b0;
      range[2 * i + 1] = b1;
      for (int b = b0; b <= b1; b++) bin_start[size_t(b) + 1]++;
    }
    if (per == 3) {
      uint32_t shared = 0;
      std::vector<uint32_t>& prep_of = lists.prep_of;
      prep_of.assign(prims, kNoPrep);
      for (size_t i = 0; i < prims && shared < kMaxShared; i++) {
        const RasterVertex* v = vertices.data() + i * 3;
        if (range[2 * i + 1] - range[2 * i] + 1 >= kMinSharedBands && std::isfinite(v[0].x) && std::isfinite(v[0].y) &&
            std::isfinite(v[1].x) && std::isfinite(v[1].y) && std::isfinite(v[2].x) && std::isfinite(v[2].y) &&
            InGuardBand(v[0]) && InGuardBand(v[1]) && InGuardBand(v[2]))
          prep_of[i] = shared++;
      }
      if (shared > lists.prep_capacity) {
        lists.preps.reset(new SharedPrep[shared]);
        lists.prep_capacity = shared;
      } else {
        for (uint32_t k = 0; k < shared; k++) lists.preps[k].state.store(kNone, std::memory_order_relaxed);
      }
    } else {
      lists.prep_of.assign(prims, kNoPrep);
    }
    for (int b = 0; b < bands; b++) bin_start[size_t(b) + 1] += bin_start[size_t(b)];
    std::vector<BinEntry>& entries = lists.bin_entries;
    entries.resize(bin_start[size_t(bands)]);  // every entry is written below
    std::vector<uint32_t>& fill = lists.fill;
    fill.assign(bin_start.begin(), bin_start.end() - 1);
    const std::vector<uint32_t>& prep_of = lists.prep_of;
    for (size_t i = 0; i < prims; i++)
      for (int b = range[2 * i]; b <= range[2 * i + 1]; b++) entries[fill[size_t(b)]++] = {uint32_t(i), prep_of[i]};
  }

  bool Reaches(int band) const override {
    return lists.bin_start[size_t(band) + 1] > lists.bin_start[size_t(band)];
  }

  // Each primitive is drawn into all the bands before the next, so that a
  // triangle reaching several of them is walked down their rows at once.
  void RunBands(int first, int last, int top, int bottom) const override {
    top = std::max<int>(config.clip.top, top);
    bottom = std::min<int>(config.clip.bottom, bottom);
    if (top >= bottom) return;
    // The bands' lists, merged in call order below: a primitive is in the
    // lists of every band it reaches.
    const BinEntry* at[kMaxBandRun];
    const BinEntry* end[kMaxBandRun];
    int lists_left = 0;
    for (int b = first; b <= last; b++) {
      const BinEntry* const from = lists.bin_entries.data() + lists.bin_start[size_t(b)];
      const BinEntry* const to = lists.bin_entries.data() + lists.bin_start[size_t(b) + 1];
      if (from == to) continue;
      at[lists_left] = from;
      end[lists_left] = to;
      lists_left++;
    }
    // The draw's set-up clipped to the bands, made only for primitives that
    // do not share a triangle's set-up.
    std::optional<DrawConfig> c;
    while (lists_left != 0) {
      const BinEntry* e = at[0];
      for (int g = 1; g < lists_left; g++)
        if (at[g]->prim < e->prim) e = at[g];
      const uint32_t i = e->prim;
      for (int g = 0; g < lists_left;) {
        if (at[g]->prim == i && ++at[g] == end[g]) {
          lists_left--;
          at[g] = at[lists_left];
          end[g] = end[lists_left];
        } else {
          g++;
        }
      }
      // A shared set-up is made for the draw's whole clip rectangle.
      if (e->prep != kNoPrep) {
        SharedPrep& shared = lists.preps[e->prep];
        uint8_t state = shared.state.load(std::memory_order_acquire);
        if (state == kNone && shared.state.compare_exchange_strong(state, kMaking, std::memory_order_acq_rel)) {
          const RasterVertex* v = vertices.data() + size_t(i) * 3;
          shared.draws = PrepareTriangle(config, v[0], v[1], v[2], v[0].diffuse, v[0].specular, &shared.prep);
          shared.state.store(kReady, std::memory_order_release);
          state = kReady;
        }
        if (state == kReady) {
          if (shared.draws) WalkTriangle(shared.prep, top, bottom - 1);
          continue;
        }
      }
      if (!c) c = Clipped(top, bottom);
      DrawPrimitive(*c, per, vertices.data() + size_t(i) * size_t(per));
    }
  }
};

}  // namespace

}  // namespace raster

std::vector<RasterVertex> TakeVertexList() { return raster::ListStore().TakeVertices(); }

void RasterizePrimitives(const DeviceState& state, Direct3DSurface9* target, Direct3DSurface9* depth, int per,
                         std::vector<RasterVertex> vertices, int tex_sets) {
  if (!target || target->bits() == nullptr || !IsColorFormat(target->format())) return;
  // A texture drawn into by a queued draw is sampled once that draw is done.
  // A draw that samples its own target sees its earlier pixels in the order
  // of one thread, so it is drawn whole here, after the queue.
  // A surface that queued draws read is drawn into once they are done.
  auto job = std::make_unique<raster::DrawJob>();
  bool samples_target = false;
  for (int i = 0; i < kMaxTextureStages; i++) {
    if (state.tss[i][D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
    Direct3DTexture9* tex = state.textures[i];
    if (tex == nullptr || tex->GetLevelCount() == 0) continue;
    if (RasterPendingOn(tex->level(0))) WaitForRaster();
    samples_target |= tex->level(0) == target;
    job->sources.push_back(tex->level(0));
  }
  if (RasterReadPending(target)) WaitForRaster();
  raster::BuildConfig(state, target, depth, tex_sets, &job->config);
  if (job->config.clip.left >= job->config.clip.right || job->config.clip.top >= job->config.clip.bottom) return;
  job->per = per;
  job->vertices = std::move(vertices);
  job->rows = int(target->height());
  job->target = target;
  if (samples_target) {
    WaitForRaster();
    job->Run(0, job->rows);
    return;
  }
  // Not for a draw that samples its target: a table keeps the texels it was
  // made from.
  job->PlanTerms();
  SubmitBandJob(std::move(job));
}

}  // namespace plat
