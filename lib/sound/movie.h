// lib/sound/movie.h - movie handles: a movie file opened into a record that
// the graphics layer shows through a frame callback. Ogg Theora files are
// decoded by the library's own player (a decoding thread per movie feeding a
// stock of frames); the frames become 32-bit images or YUV device surfaces.
// Every other movie file plays through a media graph that ends in the movie
// frame renderer (lib/sound/movie_renderer.h), whose frames are 24-bit rows.
#pragma once

#include <atomic>
#include <cstdint>

#include <ogg/ogg.h>
#include <theora/theora.h>

#include "lib/core/file_functions.h"
#include "lib/image/base_image.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/ddraw.h"
#include "platform/kernel/kernel.h"
#include "platform/media/media.h"

class MovieFrameRenderer;
struct MovieRecord;
struct TheoraMovieRecord;

// Called with the MovieRecord and the argument given at registration.
using MovieFrameCallback = void (*)(void* movie, void* argument);

constexpr int kMovieSlotCount = 100;
// Frames the decoding thread keeps ready ahead of the shown one.
constexpr int kMovieFrameStock = 10;

struct MovieRecord {
  uint32_t check;
  int32_t play_type;  // 1 once, 3 looping (bit 1: loops)
  int32_t theora;     // 1: played by the library's own Theora player
  TheoraMovieRecord* theora_record;
  int64_t start_time;  // microsecond clock at frame 0 (movies without sound)
  FileHandle file;
  int32_t sound_handle;
  // Shows the frames in overlay display mode (owned; released by the close).
  plat::DirectDrawSurface7* overlay;
  // A movie played through a media graph: the graph's interfaces (owned) and
  // its video sink (the graph owns it).
  plat::IGraphBuilder* graph;
  plat::IMediaControl* control;
  plat::IMediaSeeking* seeking;
  plat::IBasicAudio* audio;
  plat::IMediaEvent* events;
  MovieFrameRenderer* renderer;
  char* log_name;           // the file's name for the log (tracked), or null
  int32_t sound_line_said;  // 1: the line about sound it cannot play is written
  int32_t temporary_file;  // 1: plays from a temporary copy the close deletes
  char16_t wide_name[260];
  int64_t stop_position;  // 100 ns units
  int32_t width;
  int32_t height;
  int32_t right_alpha;  // MovieRightAlphaFlag
  int32_t resume;
  int32_t stopped;
  int32_t frame_delivered;
  int32_t display_mode;  // MovieDisplayMode
  BaseImage frame_image_store;
  int32_t pixels_borrowed;
  BaseImage* frame_image;
  int32_t last_x, last_y, last_scale, last_show;
  plat::RECT last_source, last_destination;  // of the last overlay update; zero while hidden
  MovieFrameCallback callback;
  void* callback_argument;
};

// ---- Theora player ------------------------------------------------------------

// Thread states published by the decoding thread.
enum TheoraThreadState : int32_t {
  kTheoraStockFull = 0,
  kTheoraDecoding = 1,
  kTheoraSeeking = 2,
  kTheoraEnded = 3,
  kTheoraHeld = 4,
};

struct TheoraPageEntry {
  uint32_t position;
  int32_t first_frame;
  int32_t key_frame;
  int32_t frame_count;
};

struct TheoraFrameSlot {
  std::atomic<int32_t> in_use;  // set only after the planes are copied
  std::atomic<int32_t> frame;
  uint8_t* y;
  uint8_t* cb;
  uint8_t* cr;
  int32_t y_width, y_height, y_stride;
  int32_t c_width, c_height, c_stride;
};

struct TheoraMovieRecord {
  std::atomic<int32_t> state;
  std::atomic<int32_t> hold_request;
  std::atomic<int32_t> exit_request;
  std::atomic<int32_t> seek_request;
  int32_t seek_target;
  std::atomic<int32_t> end_of_file;
  plat::Thread* thread;
  // Each side waits on its own event and sets the other's: the thread for a
  // request or a move of the shown frame, the caller for a state change or a
  // stored frame.
  plat::Event* thread_wake;
  plat::Event* caller_wake;
  uint32_t thread_id;
  FileFunctionTable files;
  FileHandle file;
  ogg_sync_state sync;
  ogg_page page;
  ogg_stream_state stream;
  ogg_packet packet;
  theora_info info;
  theora_comment comment;
  theora_state decoder;
  int32_t serial;
  int32_t stream_ready;   // the stream state was initialised
  int32_t decoder_ready;  // theora_decode_init succeeded
  TheoraPageEntry* pages;
  int32_t page_count;
  int32_t page_capacity;
  uint8_t* key_frames;
  int64_t key_capacity;
  int64_t frame_count;
  std::atomic<int32_t> current_frame;
  std::atomic<int32_t> decode_position;
  int32_t headers_read;
  int32_t last_packet_key;  // the last packet taken was a key frame
  TheoraFrameSlot* stock;
  int32_t stock_size;
  BaseImage frame_image;
  plat::Direct3DSurface9* yuv_surface;
  uint32_t yuv_fourcc;
  int32_t image_converted;
  int32_t surface_converted;
};

// Frame rate and sizes of a Theora movie.
struct TheoraFrameRate {
  double frames_per_second;
  int32_t frame_count;
  int32_t width;
  int32_t height;
};

constexpr uint32_t kFourCcYv12 = 0x32315659;
constexpr uint32_t kFourCcYuy2 = 0x32595559;
constexpr uint32_t kFourCcUyvy = 0x59565955;

TheoraMovieRecord* OpenTheoraMovie(const FileFunctionTable* table, FileHandle file, int stock_size);
int CloseTheoraMovie(TheoraMovieRecord* record);
int ReadTheoraHeaders(TheoraMovieRecord* record);
int ReadTheoraData(TheoraMovieRecord* record, int count);
int DecodeTheoraPackets(TheoraMovieRecord* record, int count);
int SeekTheoraFrame(TheoraMovieRecord* record, int frame);
int AdvanceTheoraFrame(TheoraMovieRecord* record, int frames);
BaseImage* GetTheoraFrameImage(TheoraMovieRecord* record);
int GetTheoraFrameRate(TheoraMovieRecord* record, TheoraFrameRate* out);
int GetTheoraFrameNumber(TheoraMovieRecord* record);
// The caller's wait for the decoding thread to change its state or store a
// frame.
void WaitForTheoraThread(TheoraMovieRecord* record);

// ---- YUV conversion -------------------------------------------------------------

int InitializeYuvTables();
// The tables, for the conversion and its tests: clamp covers -512..767.
struct YuvTables {
  uint8_t clamp[1280];
  int32_t y[256];
  int32_t cr_red[256];
  int32_t cb_green[256];
  int32_t cr_green[256];
  int32_t cb_blue[256];
};
const YuvTables& GetYuvTables();
int CreateTheoraYuvSurface(TheoraMovieRecord* record);
plat::Direct3DSurface9* GetTheoraYuvSurface(TheoraMovieRecord* record);
int ConvertTheoraFrame(TheoraMovieRecord* record, int to_image, int to_surface);

// ---- Movie handles ----------------------------------------------------------------

int OpenMovie(const char* file_name, int* width, int* height, int mode);
int CloseMovieHandle(int handle);
MovieRecord* MovieHandleToRecord(int handle);
int SetMovieFrameCallback(int handle, MovieFrameCallback callback, void* argument);
int UpdateMovieFrame(int handle, int unused = 0);
int PauseMovieHandle(int handle, int keep_resume);
int PauseAllMovies();
int ResumeAllMovies();
int UpdateMovieOverlay(int x, int y, int scale, int handle, int show);
// The overlay of a record in overlay display mode (movie_overlay.cpp): moves
// and shows it, or hides it; and hides it for the close.
void PlaceMovieOverlay(MovieRecord* record, int x, int y, int scale, int show);
void HideMovieOverlay(MovieRecord* record);
// The media-graph side of a movie: the open, the per-draw update and the
// release of its graph (with the temporary copy).
int OpenMovieDirectShow(void* direct_draw, MovieRecord* record, const char* file_name, int* width, int* height,
                        int mode);
void UpdateDirectShowFrame(MovieRecord* record);
void CloseDirectShowMovie(MovieRecord* record);
int UpdateAllMovieOverlays();
// Handles open (for tests and the end of the library).
int GetMovieCount();

// The graphics layer's frame callback (graphic handle as the argument).
void UpdateMovieGraphic(void* movie, void* graphic_handle);
