// platform/d3d9/d3d9_bands.cpp - the rasteriser's band workers. Draw jobs
// are queued in call order; each worker owns one band of rows of every
// job's target and runs every job in order, clipped to its band, so a pixel
// is always worked by the same thread in the same order as without workers:
// the picture does not depend on the worker count. Whoever touches pixels
// outside the rasteriser waits for the queue first.
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/d3d9/d3d9_internal.h"

namespace plat {

namespace {

constexpr int kMaxWorkers = 64;

class BandPool {
 public:
  ~BandPool() { Stop(); }

  int Workers() {
    if (workers_ == 0) workers_ = WantedWorkers();
    return workers_;
  }

  void SetWorkers(int count) {
    Wait();
    Stop();
    setting_ = std::clamp(count, 0, kMaxWorkers);
    workers_ = 0;
  }

  void Submit(std::unique_ptr<BandJob> job) {
    const int n = Workers();
    if (n <= 1) {
      job->Run(0, job->rows);
      return;
    }
    if (!started_) Start(n);
    std::lock_guard<std::mutex> lock(mutex_);
    AddOnce(&targets_, job->target);
    for (const void* source : job->sources) AddOnce(&sources_, source);
    jobs_.push_back(std::move(job));
    if (sleeping_ > 0) work_.notify_all();
  }

  void Wait() {
    if (!started_) return;
    std::unique_lock<std::mutex> lock(mutex_);
    if (jobs_.empty()) return;
    done_.wait(lock, [&] { return AllDone(); });
    jobs_.clear();
    targets_.clear();
    sources_.clear();
    std::fill(next_.begin(), next_.end(), 0);
  }

  bool PendingOn(const void* surface, bool as_source) {
    if (!started_) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<const void*>& list = as_source ? sources_ : targets_;
    return std::find(list.begin(), list.end(), surface) != list.end();
  }

 private:
  static void AddOnce(std::vector<const void*>* list, const void* p) {
    if (std::find(list->begin(), list->end(), p) == list->end()) list->push_back(p);
  }

  // The setting, else RORUD_RASTER_WORKERS, else one fewer than the
  // processors, at most 4.
  int WantedWorkers() const {
    if (setting_ > 0) return setting_;
    if (const char* env = std::getenv("RORUD_RASTER_WORKERS")) {
      const int v = std::atoi(env);
      if (v > 0) return std::min(v, kMaxWorkers);
    }
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(cores - 1, 1, 4);
  }

  void Start(int n) {
    next_.assign(size_t(n), 0);
    busy_ = 0;
    stop_ = false;
    for (int k = 0; k < n; k++) threads_.emplace_back([this, k, n] { Work(k, n); });
    started_ = true;
  }

  void Stop() {
    if (!started_) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      work_.notify_all();
    }
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    jobs_.clear();
    targets_.clear();
    sources_.clear();
    started_ = false;
  }

  void Work(int k, int n) {
    std::vector<const BandJob*> batch;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (next_[k] == jobs_.size()) {
        if (stop_) return;
        sleeping_++;
        work_.wait(lock, [&] { return stop_ || next_[k] < jobs_.size(); });
        sleeping_--;
        continue;
      }
      batch.clear();
      for (size_t i = next_[k]; i < jobs_.size(); i++) batch.push_back(jobs_[i].get());
      next_[k] = jobs_.size();
      busy_++;
      lock.unlock();
      for (const BandJob* job : batch) {
        const int top = int(int64_t(job->rows) * k / n), bottom = int(int64_t(job->rows) * (k + 1) / n);
        if (top < bottom) job->Run(top, bottom);
      }
      lock.lock();
      busy_--;
      if (AllDone()) done_.notify_all();
    }
  }

  bool AllDone() const {
    if (busy_ != 0) return false;
    for (size_t v : next_)
      if (v != jobs_.size()) return false;
    return true;
  }

  std::mutex mutex_;
  std::condition_variable work_, done_;
  std::vector<std::unique_ptr<BandJob>> jobs_;
  std::vector<const void*> targets_, sources_;  // of the queued jobs
  std::vector<size_t> next_;
  std::vector<std::thread> threads_;
  int busy_ = 0;
  int sleeping_ = 0;
  bool stop_ = false;
  bool started_ = false;
  int setting_ = 0;
  int workers_ = 0;
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

}  // namespace plat
