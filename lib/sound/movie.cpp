// lib/sound/movie.cpp - movie handles: open and close, the per-draw frame
// update with its callback, pause and resume on activation changes, and the
// overlay refresh of the message pump.
#include <cmath>
#include <new>

#include "lib/core/file_functions.h"
#include "lib/core/handle_table.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/core/number_helpers.h"
#include "lib/sound/movie.h"
#include "lib/sound/pcm_decoder.h"
#include "rorud/rorud.h"

namespace {

constinit HandleTable<MovieRecord, kMovieSlotCount> g_movies(kHandleKindMovie, HandleSlotRule::kLowestFree);

// The library setting behind MovieRightAlphaFlag; nothing changes it.
constexpr int32_t kRightAlphaSetting = 0;

bool Loops(const MovieRecord* r) { return (r->play_type & 2) != 0; }

// The first whole microsecond at which the frame update shows frame n: the
// clock goes on at the stopped frame, not a microsecond before it.
int64_t FrameStartMicros(int n, double frames_per_second) {
  if (n <= 0 || !(frames_per_second > 0) || !std::isfinite(frames_per_second)) return 0;
  int64_t t = std::llround(n * 1000000.0 / frames_per_second);
  while (DoubleToInt(t * frames_per_second / 1000000.0) < n) ++t;
  while (t > 0 && DoubleToInt((t - 1) * frames_per_second / 1000000.0) >= n) --t;
  return t;
}

// Loads the Vorbis stream of a Theora file as a stream sound, with only the
// Ogg converter allowed; -1 when it has none or sound is off.
int LoadMovieSound(const char* file_name) {
  const int create_mode = GetSoundCreateMode();
  const int disable_mask = GetSoundSetting2();
  OggMovieSoundFlag = 1;
  SetSoundCreateMode(3);
  SetSoundSetting2(~kPcmDisableOgg);
  const int sound = LoadSoundHandle2(file_name, 1, -1);
  SetSoundSetting2(disable_mask);
  OggMovieSoundFlag = 0;
  SetSoundCreateMode(create_mode);
  return sound;
}

// `pausing`: the sound was stopped to pause the movie, not by its end.
void UpdateTheoraFrame(MovieRecord* r, bool pausing) {
  TheoraFrameRate rate{};
  GetTheoraFrameRate(r->theora_record, &rate);
  const int n = rate.frame_count;
  if (r->stopped || n <= 0) return;
  int frame;
  bool sound_ended = false;
  if (r->sound_handle != -1) {
    // The position first: a sound that ends between the two reads is seen
    // as ended rather than by the position it has after its end.
    const double t = GetSoundHandleCurrentTime(r->sound_handle) * 1000.0;
    frame = DoubleToInt(t * rate.frames_per_second / 1000000.0);
    if (frame >= n) frame = n - 1;
    // A sound played once reads position 0 again after its end, which would
    // take the movie round to its first frame: it ends on its last frame, as
    // a movie without sound does.
    if (!Loops(r) && !pausing && IsSoundHandlePlaying(r->sound_handle) != 1) {
      frame = n - 1;
      sound_ended = true;
    }
  } else {
    const double t = static_cast<double>(static_cast<int64_t>(GetMicroClock(0)) - r->start_time);
    frame = DoubleToInt(t * rate.frames_per_second / 1000000.0);
    if (frame >= n) frame = Loops(r) ? frame % n : n - 1;
  }
  // A clock before the start, or a sound position that cannot be read.
  if (frame < 0) frame = 0;
  const int cur = GetTheoraFrameNumber(r->theora_record);
  if (frame != cur) {
    AdvanceTheoraFrame(r->theora_record, frame > cur ? frame - cur : n - cur + frame);
  } else if (frame == n - 1 && !Loops(r) && (r->sound_handle == -1 || sound_ended)) {
    r->resume = 0;
    r->stopped = 1;
  }
}

void UpdateTheoraMovie(MovieRecord* r, bool pausing) {
  UpdateTheoraFrame(r, pausing);
  if (r->callback) {
    r->callback(r, r->callback_argument);
    r->frame_delivered = 1;
  }
}

}  // namespace

int OpenMovie(const char* file_name, int* width, int* height, int mode) {
  if (!file_name || g_movies.IsFull()) return -1;
  void* memory = TrackedCalloc(sizeof(MovieRecord), "", 0);
  if (!memory) {
    WriteLogLineSound("メモリの確保に失敗しました in OpenMovie");
    return -1;
  }
  auto* r = new (memory) MovieRecord();
  r->sound_handle = -1;
  r->right_alpha = kRightAlphaSetting;
  r->file = FileOpenThunk(file_name, 0, 1, 0);
  if (r->file) {
    r->theora_record = OpenTheoraMovie(GetFileFunctionTable(), r->file, kMovieFrameStock);
    if (!r->theora_record) {
      FileCloseThunk(r->file);
      r->file = 0;
    }
  }
  if (r->theora_record) {
    r->sound_handle = LoadMovieSound(file_name);
    TheoraFrameRate rate{};
    GetTheoraFrameRate(r->theora_record, &rate);
    r->width = rate.width;
    r->height = rate.height;
    if (width) *width = rate.width;
    if (height) *height = rate.height;
    r->theora = 1;
    r->frame_image = GetTheoraFrameImage(r->theora_record);
    r->display_mode = 0;
  } else {
    r->temporary_file = 0;
    if (OpenMovieDirectShow(nullptr, r, file_name, width, height, mode) == -1) {
      TrackedFree(r);
      WriteLogLineSound("ムービーファイルオープン処理時にエラーが発生しました");
      return -1;
    }
    r->frame_image = &r->frame_image_store;
  }
  r->stopped = 1;
  r->resume = 0;
  r->play_type = 1;
  const int handle = g_movies.Add(r);
  r->check = static_cast<uint32_t>(HandleCheck(handle));
  return handle;
}

int CloseMovieHandle(int handle) {
  MovieRecord* r = g_movies.Find(handle);
  if (!r) return -1;
  if (r->theora) {
    // The decoding thread reads the file: it ends before the file closes.
    CloseTheoraMovie(r->theora_record);
    if (r->file) FileCloseThunk(r->file);
    DeleteSoundHandle(r->sound_handle, 0);
    r->file = 0;
    r->theora_record = nullptr;
    r->sound_handle = -1;
    r->theora = 0;
  }
  if (r->display_mode == 1) HideMovieOverlay(r);
  if (r->frame_image_store.pixels && !r->pixels_borrowed) FreeBaseImagePixels(&r->frame_image_store);
  r->frame_image_store.pixels = nullptr;
  if (r->overlay) r->overlay->Release();
  r->overlay = nullptr;
  // The graph goes first, so that its file is closed when its temporary
  // copy is deleted.
  CloseDirectShowMovie(r);
  g_movies.Remove(handle);
  TrackedFree(r);
  return 0;
}

MovieRecord* MovieHandleToRecord(int handle) { return g_movies.Find(handle); }

int SetMovieFrameCallback(int handle, MovieFrameCallback callback, void* argument) {
  MovieRecord* r = g_movies.Find(handle);
  if (!r) return -1;
  r->callback = callback;
  r->callback_argument = argument;
  return 0;
}

int UpdateMovieFrame(int handle, int unused) {
  (void)unused;
  MovieRecord* r = g_movies.Find(handle);
  if (!r) return -1;
  if (!r->theora) {
    UpdateDirectShowFrame(r);
    return 0;
  }
  UpdateTheoraMovie(r, false);
  return 0;
}

int PauseMovieHandle(int handle, int keep_resume) {
  MovieRecord* r = g_movies.Find(handle);
  if (!r) return -1;
  if (r->stopped == 1) return 0;
  if (r->theora) {
    StopSoundHandle(r->sound_handle);
    UpdateTheoraMovie(r, true);
  } else if (r->control) {
    r->control->Pause();
  }
  r->stopped = 1;
  if (keep_resume == 0) r->resume = 0;
  return 0;
}

int PauseAllMovies() {
  for (int i = 0; i < kMovieSlotCount; ++i)
    if (g_movies.At(i)) PauseMovieHandle(g_movies.HandleAt(i), 1);
  return 0;
}

int ResumeAllMovies() {
  for (int i = 0; i < kMovieSlotCount; ++i) {
    MovieRecord* r = g_movies.At(i);
    if (!r || !g_movies.Find(g_movies.HandleAt(i))) continue;
    const int play_type = r->play_type != 0 ? r->play_type : 1;
    if (r->stopped != 1 || r->resume != 1) continue;
    if (r->theora) {
      TheoraFrameRate rate{};
      GetTheoraFrameRate(r->theora_record, &rate);
      const int cur = GetTheoraFrameNumber(r->theora_record);
      r->start_time = static_cast<int64_t>(GetMicroClock(0)) - FrameStartMicros(cur, rate.frames_per_second);
      PlaySoundHandle(r->sound_handle, play_type, 0);
    } else if (r->control) {
      r->control->Run();
    }
    r->stopped = 0;
    r->play_type = play_type;
    r->resume = 1;
  }
  return 0;
}

int UpdateMovieOverlay(int x, int y, int scale, int handle, int show) {
  MovieRecord* r = g_movies.Find(handle);
  if (!r) return -1;
  if (r->display_mode != 1 || r->frame_delivered == 0) return 0;
  PlaceMovieOverlay(r, x, y, scale, show);
  return 0;
}

int UpdateAllMovieOverlays() {
  for (int i = 0; i < kMovieSlotCount; ++i) {
    MovieRecord* r = g_movies.At(i);
    if (r && !r->theora && r->display_mode == 1)
      UpdateMovieOverlay(r->last_x, r->last_y, r->last_scale, g_movies.HandleAt(i), r->last_show);
  }
  return 0;
}

int GetMovieCount() { return g_movies.Count(); }
