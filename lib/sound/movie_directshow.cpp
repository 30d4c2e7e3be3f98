// lib/sound/movie_directshow.cpp - movies played through a media graph: the
// open that builds the graph around the movie frame renderer (from a
// temporary copy when the file cannot be opened by name, as inside an
// archive), the per-draw update that hands the newest frame to the frame
// callback and rewinds or stops the movie at its end, and the release.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "lib/core/charset.h"
#include "lib/core/file_functions.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/core/plain_file.h"
#include "lib/image/pixel_format.h"
#include "lib/sound/movie.h"
#include "lib/sound/movie_renderer.h"
#include "lib/system/window_system.h"
#include "platform/kernel/file.h"
#include "platform/kernel/wide_text.h"
#include "platform/media/graph.h"

using namespace plat;

namespace {

constexpr uint32_t kCopyChunk = 0x100000;
constexpr int kWideNameUnits = 260;

using CreateFn = HResult (*)(const Guid&, void*, uint32_t, const Guid&, void**);

CreateFn ObjectCreator() {
  auto create = reinterpret_cast<CreateFn>(GetLoadedFunction("CoCreateInstance"));
  return create != nullptr ? create : &plat::CoCreateInstance;
}

void ReleaseInterfaces(MovieRecord* r) {
  SafeRelease(&r->events);
  SafeRelease(&r->audio);
  SafeRelease(&r->seeking);
  SafeRelease(&r->control);
  // The graph's last release stops it and destroys its filters, the
  // renderer among them.
  SafeRelease(&r->graph);
  r->renderer = nullptr;
}

void DeleteTemporaryCopy(MovieRecord* r) {
  if (r->temporary_file != 1) return;
  const std::string name = WideCharToCp932(r->wide_name);
  if (!name.empty()) plat::DeleteFile(name.c_str());
  r->temporary_file = 0;
}

// Copies the file through the library's file layer into a new temporary file
// whose name goes into the record. False when the copy cannot be made; the
// temporary file is then gone again.
bool CopyToTemporaryFile(MovieRecord* r, const char* file_name) {
  FileHandle file = FileOpenThunk(file_name, 0, 1, 0);
  if (file == 0) return false;
  FileSeekThunk(file, 0, 2);
  const int64_t size = static_cast<int64_t>(FileTellThunk(file));
  FileSeekThunk(file, 0, 0);
  auto* buffer = static_cast<uint8_t*>(TrackedAlloc(kCopyChunk, "", 0));
  if (buffer == nullptr) {
    FileCloseThunk(file);
    return false;
  }
  char temp_name[kMaxPath] = {};
  plat::WriteFile* out = CreateTempFile(temp_name);
  if (out == nullptr) {
    FileCloseThunk(file);
    TrackedFree(buffer);
    return false;
  }
  bool named = MultiByteToWideChar(932, temp_name, r->wide_name, kWideNameUnits) != 0;
  r->temporary_file = 1;
  int64_t copied = 0;
  while (copied < size) {
    const size_t chunk = static_cast<size_t>(std::min<int64_t>(kCopyChunk, size - copied));
    // What was read is written; a short read ends the copy.
    const size_t got = FileReadThunk(buffer, 1, chunk, file);
    if (got > 0 && !plat::WriteToFile(out, buffer, got)) break;
    copied += static_cast<int64_t>(got);
    if (got < chunk) break;
  }
  FileCloseThunk(file);
  plat::CloseWriteFile(out);
  TrackedFree(buffer);
  if (!named) {
    // The name does not convert: the file cannot be handed on or found again.
    plat::DeleteFile(temp_name);
    r->temporary_file = 0;
    return false;
  }
  return true;
}

// The one line for a file the graph read and found damaged (a still picture
// whose first frame does not decode whole): the image loaders' own, with the
// reason the media graph gave.
std::string DamagedFileLine(const char* file_name) {
  return std::string("画像ファイル ") + file_name +
         " は壊れています: the still picture does not decode whole (cut short or damaged)";
}

// A movie's sound that nothing decodes: no decoder takes it, or every packet
// of it is damaged.
constexpr char kUndecodableSoundLine[] = "ムービーファイル %s: its sound cannot be decoded and is not played";

// The same for a still picture past the frame size limit.
std::string TooLargeFileLine(const char* file_name) {
  return std::string("画像ファイル ") + file_name + " は大きすぎます: the still picture is past the frame size limit";
}

}  // namespace

int OpenMovieDirectShow(void* direct_draw, MovieRecord* r, const char* file_name, int* width, int* height,
                        int mode) {
  (void)direct_draw;
  (void)mode;
  r->frame_image_store.pixels = nullptr;
  r->frame_delivered = 0;
  r->last_x = r->last_y = r->last_scale = r->last_show = 0;
  std::string failure;
  bool too_large = false;
  HResult hr = ObjectCreator()(kCLSID_FilterGraph, nullptr, kCLSCTX_INPROC, kIID_IGraphBuilder,
                               reinterpret_cast<void**>(&r->graph));
  if (Failed(hr) || r->graph == nullptr) {
    r->graph = nullptr;
    failure = "CLSID_FilterGraph の作成に失敗しました";
  }
  if (failure.empty()) {
    HResult made = kS_OK;
    r->renderer = CreateMovieRendererFilter(nullptr, &made);
    // Held here until the graph holds it, so a refused add does not leak it.
    if (r->renderer != nullptr) r->renderer->NonDelegatingAddRef();
    hr = r->graph->AddFilter(r->renderer, u"MovieRenderer");
    if (r->renderer != nullptr) r->renderer->NonDelegatingRelease();
    if (Failed(hr)) {
      r->renderer = nullptr;
      failure = "Could not add renderer filter to graph!";
    }
  }
  if (failure.empty() && Failed(r->graph->QueryInterface(kIID_IBasicAudio, reinterpret_cast<void**>(&r->audio))))
    failure = "BasicAudio インターフェースの取得に失敗しました";
  if (failure.empty() && Failed(r->graph->QueryInterface(kIID_IMediaControl, reinterpret_cast<void**>(&r->control))))
    failure = "IID_IMediaControlインターフェイスの取得に失敗しました";
  if (failure.empty() && Failed(r->graph->QueryInterface(kIID_IMediaSeeking, reinterpret_cast<void**>(&r->seeking))))
    failure = "IID_IMediaSeekingインターフェイスの取得に失敗しました";
  if (failure.empty() && Failed(r->graph->QueryInterface(kIID_IMediaEvent, reinterpret_cast<void**>(&r->events))))
    failure = "IMediaEvent の取得に失敗しました";
  if (failure.empty()) {
    // A name that does not fit the wide name with its terminator is not
    // handed on cut short: it goes the way of a file that does not open.
    const bool named = MultiByteToWideChar(GetCharSetCodePage(), file_name, r->wide_name, kWideNameUnits) != 0;
    const HResult rendered = named ? r->graph->RenderFile(r->wide_name, nullptr) : kE_FAIL;
    if (rendered == kVFW_E_INVALID_FILE_FORMAT) {
      // Read by its name and found damaged: a copy would be the same.
      failure = DamagedFileLine(file_name);
    } else if (rendered == kVFW_E_PICTURE_TOO_LARGE) {
      failure = TooLargeFileLine(file_name);
      too_large = true;
    } else if (Failed(rendered)) {
      failure = std::string("ファイル:") + file_name + " が開けませんでした";
      if (CopyToTemporaryFile(r, file_name)) {
        const HResult copied = r->graph->RenderFile(r->wide_name, nullptr);
        if (Succeeded(copied)) {
          failure.clear();
        } else {
          if (copied == kVFW_E_INVALID_FILE_FORMAT) failure = DamagedFileLine(file_name);
          if (copied == kVFW_E_PICTURE_TOO_LARGE) {
            failure = TooLargeFileLine(file_name);
            too_large = true;
          }
          // The graph lets go of the file before it is deleted.
          ReleaseInterfaces(r);
          DeleteTemporaryCopy(r);
        }
      }
    }
  }
  if (!failure.empty()) {
    ReleaseInterfaces(r);
    DeleteTemporaryCopy(r);
    WriteLogLineSound(failure.c_str());
    // As the image loaders tell a picture too large to those who explain a
    // failed load.
    if (too_large) errno = EFBIG;
    return -1;
  }
  // Once, at the open: a sound the graph has no decoder for plays mute.
  if (GraphLeavesSoundOut(r->graph)) {
    WriteLogLineFmt(kUndecodableSoundLine, file_name);
    r->sound_line_said = 1;
  }
  const size_t name_bytes = std::strlen(file_name) + 1;
  r->log_name = static_cast<char*>(TrackedAlloc(name_bytes, "", 0));
  if (r->log_name != nullptr) std::memcpy(r->log_name, file_name, name_bytes);
  r->stop_position = 0;
  r->seeking->GetStopPosition(&r->stop_position);
  int32_t w = 0, h = 0;
  {
    std::lock_guard<std::mutex> hold(r->renderer->frame_lock);
    if (r->renderer->InputPin()->IsConnected()) {
      w = r->renderer->width;
      h = r->renderer->height;
    }
  }
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
  return 0;
}

namespace {

// Once a movie: a line naming the file when its sound has channels that
// cannot be mixed to stereo, or decodes to nothing (every packet damaged).
// The picture plays on without that sound. The events are taken at every
// update, so that a looping movie's do not pile up in the graph, and once
// its run has stopped, before a new start forgets what that run reported.
void NoteSoundReports(MovieRecord* r) {
  if (r->events == nullptr) return;
  const SoundReports reports = TakeSoundReports(r->events);
  if (r->sound_line_said == 1 || (reports.unmixed_channels == 0 && !reports.not_decoded)) return;
  const char* name = r->log_name != nullptr ? r->log_name : "(name unknown)";
  if (reports.unmixed_channels != 0)
    WriteLogLineFmt("ムービーファイル %s: its sound of %d channels cannot be mixed to stereo and is not played", name,
                    reports.unmixed_channels);
  else
    WriteLogLineFmt(kUndecodableSoundLine, name);
  r->sound_line_said = 1;
}

}  // namespace

void UpdateDirectShowFrame(MovieRecord* r) {
  NoteSoundReports(r);
  MovieFrameRenderer* m = r->renderer;
  if (m != nullptr) {
    // The frame stays locked while the callback reads it.
    std::lock_guard<std::mutex> hold(m->frame_lock);
    if (m->new_frame == 1) {
      m->new_frame = 0;
      if (r->callback != nullptr && m->frame_buffer != nullptr) {
        SetPixelFormatInfoRgb24(&r->frame_image_store.format);
        r->frame_image_store.width = m->width;
        r->frame_image_store.height = m->height;
        r->frame_image_store.pitch = m->pitch;
        r->frame_image_store.pixels = m->frame_buffer;
        r->pixels_borrowed = 1;
        r->frame_image = &r->frame_image_store;
        r->callback(r, r->callback_argument);
      }
    }
  }
  if (r->seeking == nullptr || r->control == nullptr) return;
  int64_t position = 0;
  if (Failed(r->seeking->GetCurrentPosition(&position))) return;
  // A movie whose length is unknown has no end to reach.
  if (r->stop_position <= 0 || position < r->stop_position) return;
  if ((r->play_type & 2) != 0) {
    // Stopped first, so that no frame of the new pass is timed against the
    // start of the old one while the streams start again.
    const int64_t start = 0;
    r->control->Stop();
    NoteSoundReports(r);
    r->seeking->SetPositions(&start, nullptr);
    r->control->Run();
  } else {
    r->resume = 0;
    r->stopped = 1;
  }
}

void CloseDirectShowMovie(MovieRecord* r) {
  // What the last run reported, once it has stopped, is told too.
  if (r->control != nullptr) r->control->Stop();
  NoteSoundReports(r);
  ReleaseInterfaces(r);
  TrackedFree(r->log_name);
  r->log_name = nullptr;
  DeleteTemporaryCopy(r);
}
