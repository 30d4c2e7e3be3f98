// platform/d3d9/d3d9_bands.cpp - the rasteriser's band workers. Surfaces are
// cut into bands of a fixed number of rows, the same rows of every surface
// (so a depth buffer's rows go with its targets' rows whatever their sizes),
// several bands per worker on a screen. Draw jobs are queued in call order,
// and each band keeps the queue of the jobs that reach into it. A worker claims a band with queued jobs, runs
// them in order clipped to the band, and lets it go; no two threads hold a
// band at once, so a pixel is always worked in call order by one thread at a
// time and the picture does not depend on the worker count or the split,
// while the bands with the most to draw spread over the workers. With much
// queued and every thread busy, a worker claims a few adjacent bands at once
// and runs each job in all of them together. Whoever
// touches pixels outside the rasteriser waits for the queue first, and
// helps with the bands while it waits. Unless the count was set, the
// workers that draw follow the processors that other programs leave free:
// on a busy machine more threads would only take turns on the same
// processors, each fetching the others' rows and set-ups, and the draws
// are done on the calling thread alone.
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/d3d9/d3d9_internal.h"

namespace plat {

namespace {

constexpr int kMaxWorkers = 64;
constexpr int kBandRows = 16;

// How many of the processors this process may run on other programs left
// idle, over the last interval of at least kInterval: their busy time from
// /proc/stat, less this process's own. Negative while unknown.
class LoadGauge {
 public:
  static constexpr std::chrono::milliseconds kInterval{200};

  // A new figure when the interval has passed, else the last one.
  double FreeProcessors() {
    const auto now = std::chrono::steady_clock::now();
    if (sampled_ && now - at_ < kInterval) return free_;
    Sample s;
    if (!Take(&s)) {
      sampled_ = false;
      return free_ = -1.0;
    }
    if (sampled_ && s.processors == last_.processors && s.total > last_.total) {
      // In clock ticks, over every processor of the set.
      const double total = double(s.total - last_.total);
      const double busy = double(s.busy - last_.busy);
      const double own = (s.own_seconds - last_.own_seconds) * double(ticks_per_second_);
      const double others = std::clamp(busy - own, 0.0, total);
      free_ = double(s.processors) * (1.0 - others / total);
    } else {
      free_ = -1.0;
    }
    last_ = s;
    at_ = now;
    sampled_ = true;
    return free_;
  }

 private:
  struct Sample {
    int processors = 0;
    unsigned long long busy = 0, total = 0;  // clock ticks
    double own_seconds = 0.0;
  };

  bool Take(Sample* s) {
    if (ticks_per_second_ <= 0) return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return false;
    timespec own{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &own) != 0) return false;
    s->own_seconds = double(own.tv_sec) + double(own.tv_nsec) * 1e-9;
    std::FILE* f = std::fopen("/proc/stat", "re");
    if (f == nullptr) return false;
    // Lines "cpuN user nice system idle iowait irq softirq steal ..." follow
    // the whole machine's "cpu" line.
    char line[512];
    while (std::fgets(line, sizeof line, f) != nullptr && std::strncmp(line, "cpu", 3) == 0) {
      char* at = line + 3;
      if (*at < '0' || *at > '9') continue;
      char* end = nullptr;
      const long cpu = std::strtol(at, &end, 10);
      if (cpu < 0 || cpu >= CPU_SETSIZE || !CPU_ISSET(int(cpu), &set)) continue;
      unsigned long long v[8] = {};
      at = end;
      for (unsigned long long& field : v) {
        field = std::strtoull(at, &end, 10);
        if (end == at) break;
        at = end;
      }
      const unsigned long long idle = v[3] + v[4];
      const unsigned long long busy = v[0] + v[1] + v[2] + v[5] + v[6] + v[7];
      s->busy += busy;
      s->total += busy + idle;
      s->processors++;
    }
    std::fclose(f);
    return s->processors > 0;
  }

  const long ticks_per_second_ = sysconf(_SC_CLK_TCK);
  bool sampled_ = false;
  Sample last_;
  std::chrono::steady_clock::time_point at_;
  double free_ = -1.0;
};

class BandPool {
 public:
  ~BandPool() { Stop(); }

  int Workers() {
    if (workers_ == 0) {
      workers_ = WantedWorkers();
      active_ = workers_;
      const char* adapt = std::getenv("RORUD_RASTER_ADAPT");
      adapt_ = setting_ == 0 && !(adapt != nullptr && std::strcmp(adapt, "0") == 0);
    }
    return workers_;
  }

  void SetWorkers(int count) {
    Wait();
    Stop();
    setting_ = std::clamp(count, 0, kMaxWorkers);
    workers_ = 0;
  }

  void SetProbe(double (*probe)()) {
    Wait();
    probe_ = probe;
  }

  void SetBandRows(int rows) {
    Wait();
    Stop();
    band_rows_ = rows > 0 ? rows : kBandRows;
  }

  void Submit(std::unique_ptr<BandJob> job) {
    const int n = Workers();
    if (adapt_ && n > 1) Adapt(n);
    if (n <= 1 || active_ == 0) {
      job->Run(0, job->rows);
      return;
    }
    if (!started_ && !Start(n)) {
      job->Run(0, job->rows);
      return;
    }
    // Which bands the job reaches, found before the lock. Without memory
    // for the bins or the queues, the job is drawn here once the queue is
    // drained: the pixels come out as the workers would have drawn them.
    bool queued = false;
    try {
      job->Bin(band_rows_);
      queued = Queue(&job);
    } catch (const std::bad_alloc&) {
    }
    if (queued) return;
    std::fprintf(stderr, "d3d9: no memory to queue a draw; drawn on the calling thread\n");
    Wait();
    job->Run(0, job->rows);
  }

  void Wait() {
    if (!started_) return;
    std::unique_lock<std::mutex> lock(mutex_);
    if (jobs_.empty()) return;
    // The waiting thread draws bands too, then waits for those still held
    // (and for bands that a worker lets go of with work left).
    Batch batch;
    draining_++;
    for (;;) {
      while (RunOneBand(lock, 0, 1, &batch)) {
      }
      if (outstanding_ == 0) break;
      waiting_++;
      done_.wait(lock);
      waiting_--;
    }
    draining_--;
    jobs_.clear();
    targets_.clear();
    sources_.clear();
    for (Band& band : bands_) {
      band.queue.clear();
      band.next = 0;
    }
  }

  // The workers that draw: with the calling thread, as many threads as
  // there are free processors (a processor counts as free when others
  // leave it idle 70% of the time), at most all the workers. With none
  // free but the caller's, the queue is drained and the draws are made on
  // the calling thread, as with one worker.
  void Adapt(int n) {
    const double free = probe_ != nullptr ? probe_() : gauge_.FreeProcessors();
    const int want = free < 0.0 ? n : std::clamp(int(std::floor(free + 0.3)) - 1, 0, n);
    if (want == active_) return;
    if (want == 0) Wait();
    std::lock_guard<std::mutex> lock(mutex_);
    if (want < active_) work_.notify_all();  // the sleepers that stop drawing are parked
    else park_.notify_all();
    active_ = want;
  }

  bool PendingOn(const void* surface, bool as_source) {
    if (!started_) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<const void*>& list = as_source ? sources_ : targets_;
    return std::find(list.begin(), list.end(), surface) != list.end();
  }

 private:
  struct Queued {
    const BandJob* job;
    size_t seq;  // its place in the call order
  };
  struct Band {
    std::vector<Queued> queue;  // the jobs reaching it, in call order
    size_t next = 0;            // the first not yet claimed
    bool held = false;
  };
  // A run of bands shares batches of at most this many jobs, so that it can
  // be cut up soon when a thread runs out of work.
  static constexpr size_t kRunBatch = 32;
  // The jobs a thread has claimed in a run of bands: band g's are
  // jobs[from[g] .. from[g + 1]). A fixed block, so that a worker never
  // allocates; a lone band takes its jobs kBatchJobs at a time.
  static constexpr size_t kBatchJobs = 256;
  static_assert(kBatchJobs >= kRunBatch * kMaxBandRun);
  struct Batch {
    Queued jobs[kBatchJobs];
    size_t count = 0;
    size_t from[kMaxBandRun + 1];
  };

  // Queues a binned job in the bands it reaches; false, with nothing
  // queued, when a queue cannot grow.
  bool Queue(std::unique_ptr<BandJob>* owned) {
    BandJob* job = owned->get();
    const size_t bands = size_t(job->rows + band_rows_ - 1) / size_t(band_rows_);
    std::lock_guard<std::mutex> lock(mutex_);
    size_t fresh = 0, count = 0, reached = 0;
    try {
      AddOnce(&targets_, job->target);
      for (const void* source : job->sources) AddOnce(&sources_, source);
      while (bands_.size() < bands) bands_.emplace_back();
      if (jobs_.size() == jobs_.capacity()) jobs_.reserve(std::max<size_t>(64, jobs_.capacity() * 2));
      // A worker is woken for each band that had nothing left to claim; a
      // band with work queued already has a worker on it or coming to it.
      for (; reached < bands; reached++) {
        if (!job->Reaches(int(reached))) continue;
        Band& band = bands_[reached];
        const bool idle = !band.held && band.next == band.queue.size();
        band.queue.push_back({job, jobs_.size()});
        fresh += idle;
        count++;
      }
    } catch (const std::bad_alloc&) {
      // Nobody claims under the lock: the entries made are still the last.
      for (size_t b = 0; b < reached; b++)
        if (job->Reaches(int(b))) bands_[b].queue.pop_back();
      return false;
    }
    outstanding_ += count;
    jobs_.push_back(std::move(*owned));  // room was reserved
    for (size_t i = 0; i < std::min(fresh, size_t(sleeping_)); i++) work_.notify_one();
    return true;
  }

  static void AddOnce(std::vector<const void*>* list, const void* p) {
    if (std::find(list->begin(), list->end(), p) == list->end()) list->push_back(p);
  }

  // The setting, else RORUD_RASTER_WORKERS, else one fewer than the
  // processors, at most 4. Without a setting, fewer draw while the
  // processors are busy (see Adapt), unless RORUD_RASTER_ADAPT is 0.
  int WantedWorkers() const {
    if (setting_ > 0) return setting_;
    if (const char* env = std::getenv("RORUD_RASTER_WORKERS")) {
      const int v = std::atoi(env);
      if (v > 0) return std::min(v, kMaxWorkers);
    }
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(cores - 1, 1, 4);
  }

  // False when the workers cannot all start (no memory for a stack, or a
  // process limit): those that did are stopped, and from then on every job
  // is drawn on the calling thread, as with one worker.
  bool Start(int n) {
    bands_.clear();
    outstanding_ = 0;
    stop_ = false;
    started_ = true;
    try {
      threads_.reserve(size_t(n));
      for (int k = 0; k < n; k++) threads_.emplace_back([this, k] { Work(k); });
    } catch (const std::exception&) {
      Stop();
      workers_ = 1;
      return false;
    }
    return true;
  }

  void Stop() {
    if (!started_) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      work_.notify_all();
      park_.notify_all();
    }
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    jobs_.clear();
    targets_.clear();
    sources_.clear();
    bands_.clear();
    started_ = false;
  }

  // Claims a band with queued jobs and runs its jobs until none are left;
  // false when no band was free to claim. Worker k of n starts its search in
  // its own share of the bands, so that bands tend to stay with one worker
  // from job to job; once a thread waits for the queue, no more jobs come
  // before it is drawn, and the band with the most jobs left goes first, so
  // that the last bands to finish are short ones. While no thread is short
  // of work and the band has at least kRunBatch jobs queued, the free bands
  // that follow it with as many are claimed with it (up to kMaxBandRun in
  // all), and each job is run in all of them at once: a large primitive is
  // then walked once for their rows, not once a band. They are let go of as
  // soon as another thread finds nothing to claim.
  bool RunOneBand(std::unique_lock<std::mutex>& lock, int k, int n, Batch* batch) {
    const size_t count = bands_.size();
    const size_t from = count * size_t(k) / size_t(n);
    size_t b = count;
    if (draining_ != 0) {
      size_t most = 0;
      for (size_t c = 0; c < count; c++) {
        const size_t left = bands_[c].queue.size() - bands_[c].next;
        if (Claimable(bands_[c]) && left > most) {
          most = left;
          b = c;
        }
      }
    } else {
      for (size_t i = 0; i < count; i++) {
        const size_t c = (from + i) % count;
        if (Claimable(bands_[c])) {
          b = c;
          break;
        }
      }
    }
    if (b == count) return false;
    size_t run = 1;
    if (sleeping_ == 0 && waiting_ == 0 && Deep(bands_[b]))
      while (run < size_t(kMaxBandRun) && b + run < count && Claimable(bands_[b + run]) && Deep(bands_[b + run]))
        run++;
    for (size_t g = 0; g < run; g++) bands_[b + g].held = true;  // they stay put while bands are added
    for (;;) {
      // Each band's unclaimed jobs, in a run only those among the next
      // kRunBatch of the call order.
      size_t limit = SIZE_MAX;
      if (run > 1) {
        for (size_t g = 0; g < run; g++) {
          const Band& band = bands_[b + g];
          if (band.next < band.queue.size()) limit = std::min(limit, band.queue[band.next].seq + kRunBatch);
        }
      }
      batch->count = 0;
      for (size_t g = 0; g < run; g++) {
        Band& band = bands_[b + g];
        batch->from[g] = batch->count;
        for (; band.next < band.queue.size() && band.queue[band.next].seq < limit && batch->count < kBatchJobs;
             band.next++)
          batch->jobs[batch->count++] = band.queue[band.next];
      }
      batch->from[run] = batch->count;
      if (batch->count == 0) break;
      lock.unlock();
      RunBatch(*batch, int(b), int(run));
      lock.lock();
      outstanding_ -= batch->count;
      if (run > 1 && (sleeping_ != 0 || waiting_ != 0)) {
        // Someone is short of work: keep the first band only.
        for (size_t g = 1; g < run; g++) bands_[b + g].held = false;
        run = 1;
        for (size_t i = 0; i < std::min(size_t(kMaxBandRun) - 1, size_t(sleeping_)); i++) work_.notify_one();
        done_.notify_all();
      }
    }
    for (size_t g = 0; g < run; g++) bands_[b + g].held = false;
    if (outstanding_ == 0) done_.notify_all();
    return true;
  }

  static bool Claimable(const Band& band) { return !band.held && band.next < band.queue.size(); }
  static bool Deep(const Band& band) { return band.queue.size() - band.next >= kRunBatch; }

  // Runs a batch in bands first .. first + run - 1, job by job in call
  // order; a job runs at once in each stretch of adjacent bands it reaches.
  void RunBatch(const Batch& batch, int first, int run) const {
    size_t at[kMaxBandRun];
    for (int g = 0; g < run; g++) at[g] = batch.from[g];
    for (;;) {
      size_t seq = SIZE_MAX;
      const BandJob* job = nullptr;
      for (int g = 0; g < run; g++) {
        if (at[g] != batch.from[g + 1] && batch.jobs[at[g]].seq < seq) {
          seq = batch.jobs[at[g]].seq;
          job = batch.jobs[at[g]].job;
        }
      }
      if (job == nullptr) return;
      for (int g = 0; g < run;) {
        if (at[g] == batch.from[g + 1] || batch.jobs[at[g]].seq != seq) {
          g++;
          continue;
        }
        int last = g;
        while (last + 1 < run && at[last + 1] != batch.from[last + 2] && batch.jobs[at[last + 1]].seq == seq) last++;
        const int top = (first + g) * band_rows_;
        job->RunBands(first + g, first + last, top, std::min((first + last + 1) * band_rows_, job->rows));
        for (int h = g; h <= last; h++) at[h]++;
        g = last + 1;
      }
    }
  }

  // Worker k draws while it is one of the first active_; the others wait
  // apart, so that a wake-up for work always reaches one that draws.
  void Work(int k) {
    Batch batch;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      const int active = active_;
      if (k < active && RunOneBand(lock, k, active, &batch)) continue;
      if (stop_) return;
      if (k < active) {
        sleeping_++;
        work_.wait(lock);
        sleeping_--;
      } else {
        park_.wait(lock);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable work_, done_, park_;
  std::vector<std::unique_ptr<BandJob>> jobs_;  // owned until the queue is drained
  std::vector<const void*> targets_, sources_;  // of the queued jobs
  std::deque<Band> bands_;  // band b holds rows [b * band_rows_, (b + 1) * band_rows_)
  std::vector<std::thread> threads_;
  size_t outstanding_ = 0;  // queued (band, job) pairs not yet drawn
  int sleeping_ = 0;  // workers waiting for work
  int waiting_ = 0;   // threads in Wait with no band to claim
  int draining_ = 0;  // threads in Wait
  bool stop_ = false;
  bool started_ = false;
  int setting_ = 0;
  int band_rows_ = kBandRows;
  int workers_ = 0;
  int active_ = 0;  // the workers that draw, the first of them
  bool adapt_ = false;
  LoadGauge gauge_;
  double (*probe_)() = nullptr;
};

BandPool& Pool() {
  static BandPool pool;
  return pool;
}

}  // namespace

void SubmitBandJob(std::unique_ptr<BandJob> job) { Pool().Submit(std::move(job)); }
bool RasterPendingOn(const void* surface) { return Pool().PendingOn(surface, false); }
bool RasterReadPending(const void* surface) { return Pool().PendingOn(surface, true); }

void WaitForRaster() { Pool().Wait(); }
void SetRasterWorkerCount(int count) { Pool().SetWorkers(count); }
int GetRasterWorkerCount() { return Pool().Workers(); }
void SetRasterBandRows(int rows) { Pool().SetBandRows(rows); }
void SetRasterFreeProcessorsProbe(double (*probe)()) { Pool().SetProbe(probe); }

}  // namespace plat
