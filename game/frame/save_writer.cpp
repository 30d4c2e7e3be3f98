// game/frame/save_writer.cpp - the game's saves, made at once or by a writer
// thread that always writes the newest contents handed to it.
#include "game/frame/save_writer.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "game/frame/data_report.h"
#include "game/frame/file_replace.h"

namespace {

// One save: the file (`target`, absolute, so that a later change of the
// working folder cannot redirect it; `name`, as the messages give it), its
// new contents and its lines.
struct Save {
  std::string target;
  std::string name;
  std::vector<unsigned char> bytes;
  SaveTexts texts;
};

// The last save of each file that was written, of any series, by the game's
// thread or the writer's.
struct Written {
  unsigned series;
  std::string kept;
};
std::mutex g_written_mutex;
std::map<std::string, Written> g_written;

// Notes a save in place; after a failure, what the file holds instead.
void NoteWritten(const std::string& target, const SaveTexts& texts) {
  std::lock_guard<std::mutex> lock(g_written_mutex);
  g_written[target] = Written{texts.series, texts.kept};
}

// Said right after the failure, before a later save can change the file.
std::string WhatIsLeft(const std::string& target, const SaveTexts& texts) {
  {
    std::lock_guard<std::mutex> lock(g_written_mutex);
    const auto it = g_written.find(target);
    if (it != g_written.end() && it->second.series == texts.series) return it->second.kept;
  }
  std::error_code ec;
  return std::filesystem::exists(target, ec) ? texts.older : texts.none;
}

// How a background save ended, for the game's thread to name.
struct Outcome {
  std::string name;
  bool ok;
  std::string reason;
  std::string loss;
  std::string what;
};

void Report(const std::string& name, bool ok, const std::string& reason, const std::string& loss,
            const std::string& what) {
  if (!ok) {
    ReportWriteFailure(name.c_str(), reason.c_str(), loss.c_str());
  } else if (reason.empty()) {
    NoteWriteSuccess(name.c_str(), what.c_str());
  } else {
    ReportUnsyncedWrite(name.c_str(), reason.c_str(), what.c_str());
  }
}

// The writer thread and the saves waiting for it, at most one per file. It
// starts with the first save handed over and, at the process's end, writes
// what is still waiting before it stops.
class Writer {
 public:
  ~Writer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  // Starts the thread unless it runs; false when it cannot start.
  bool Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) return true;
    try {
      thread_ = std::thread(&Writer::Run, this);
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

  // Queues the save, in place of the one of the same file still waiting.
  void Hand(Save&& save) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      bool replaced = false;
      for (Save& waiting : waiting_) {
        if (waiting.target == save.target) {
          waiting = std::move(save);
          replaced = true;
          break;
        }
      }
      if (!replaced) waiting_.push_back(std::move(save));
    }
    wake_.notify_all();
  }

  // Waits until every save handed over is renamed into place or has
  // failed; with `synced`, until its folder's sync is over too.
  void Wait(bool synced) {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this, synced] { return waiting_.empty() && !placing_ && !(synced && syncing_); });
  }

  std::vector<Outcome> TakeOutcomes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(outcomes_, {});
  }

 private:
  bool Waiting(const std::string& target) const {
    for (const Save& save : waiting_) {
      if (save.target == target) return true;
    }
    return false;
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      Save save = std::move(waiting_.front());
      waiting_.pop_front();
      placing_ = true;
      syncing_ = true;
      lock.unlock();
      std::string reason, folder;
      const bool ok = PlaceFile(save.target.c_str(), save.bytes, reason, folder);
      std::string loss;
      if (ok) {
        NoteWritten(save.target, save.texts);
      } else {
        loss = WhatIsLeft(save.target, save.texts);
      }
      lock.lock();
      placing_ = false;
      idle_.notify_all();
      // A newer save of the file syncs the folder for both renames: the
      // older file's data is on the disk already, so a power cut before
      // then leaves one whole file or the other. Should the newer save
      // fail, the folder is synced all the same, for the older file.
      std::string left;
      const auto skipped = unsynced_.find(save.target);
      if (skipped != unsynced_.end()) {
        if (!ok) left = std::move(skipped->second);
        unsynced_.erase(skipped);
      }
      // A save whose sync is left to a newer one has no outcome of its own:
      // the newer one's says what the file finally is, so a warning said
      // once for the file is not said again for every save in between.
      const bool leaves_sync = ok && Waiting(save.target);
      if (leaves_sync) {
        unsynced_[save.target] = folder;
      } else if (ok || !left.empty()) {
        lock.unlock();
        std::string ignored;
        SyncPlacedFile(ok ? folder : left, ok ? reason : ignored);
        lock.lock();
      }
      syncing_ = false;
      if (!leaves_sync) {
        outcomes_.push_back(
            Outcome{std::move(save.name), ok, std::move(reason), std::move(loss), std::move(save.texts.what)});
      }
      idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;  // a save is waiting, or the process ends
  std::condition_variable idle_;  // a save was placed, or its folder synced
  std::deque<Save> waiting_;
  std::map<std::string, std::string> unsynced_;  // file -> folder its newer save is to sync
  bool placing_ = false;  // a save is being written and renamed
  bool syncing_ = false;  // the same, or its folder is being synced
  bool stop_ = false;
  std::vector<Outcome> outcomes_;
  std::thread thread_;
};

Writer& TheWriter() {
  static Writer writer;
  return writer;
}

}  // namespace

bool SaveNow(const char* path, const std::vector<unsigned char>& bytes, const SaveTexts& texts) {
  FinishBackgroundSaves();
  std::string reason;
  const std::string target = AbsolutePath(path);
  const bool ok = ReplaceFile(path, bytes, reason);
  if (ok) NoteWritten(target, texts);
  Report(path, ok, reason, ok ? std::string() : WhatIsLeft(target, texts), texts.what);
  return ok;
}

void SaveInBackground(const char* path, std::vector<unsigned char> bytes, SaveTexts texts) {
  ReportFinishedSaves();
  if (!TheWriter().Start()) {
    SaveNow(path, bytes, texts);
    return;
  }
  TheWriter().Hand(Save{AbsolutePath(path), path, std::move(bytes), std::move(texts)});
}

void ReportFinishedSaves() {
  for (const Outcome& o : TheWriter().TakeOutcomes()) Report(o.name, o.ok, o.reason, o.loss, o.what);
}

void PlaceBackgroundSaves() {
  TheWriter().Wait(false);
  ReportFinishedSaves();
}

void FinishBackgroundSaves() {
  TheWriter().Wait(true);
  ReportFinishedSaves();
}
