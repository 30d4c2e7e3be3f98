// rorud/rorud.h - the public interface of the RoRud game library.
//
// The game and other users of the library include this header only. Text
// arguments are code page 932 (Shift-JIS) byte strings. Functions return 0 on
// success and -1 on failure, or a handle (a positive 32-bit word) which is -1
// on failure.
#pragma once

#include <cstddef>
#include <cstdint>

#define RORUD_VERSION "3.06a"

// ===== Library start and end, window =========================================

// The program's entry point, defined by the application.
int WinMain();

// Starts the library (window, input, sound, graphics) with the settings made
// so far: 0, or -1 when the start failed. 0 at once when it already runs.
int LibraryStart();
// Ends the library and frees what it holds; 0 (also when it did not run).
int LibraryEnd();
// Handles the waiting window messages (at most five before returning) and
// runs the per-frame services: 0, or -1 once the window is gone or a quit
// message arrived. While the application is inactive (and not told to run
// inactive) it returns only when it is active again.
int ProcessWindowMessages();
// Waits the milliseconds on the microsecond clock, handling window messages
// while more than 4 ms remain and spinning for the rest. 0.
int WaitMillisPumping(int milliseconds);
// The window title (code page 932); it also names the window class, which the
// double-start check looks for. Before the start, or at once on the window.
int SetWindowTitle(const char* text);
// 1: run in a window, 0: full screen. 0, or -1 when full screen is asked and
// no display mode has the screen size.
int ChangeWindowMode(int flag);
// The window's size as a multiple of the screen size in window mode; a
// vertical rate of 0 or less takes the horizontal one, and a rate of 0 or
// less means 1.0.
int SetWindowScale(double x, double y);
// 1: keep running (frames, sound, input) while the window is inactive.
int SetRunInactiveFlag(int flag);
int GetRunInactiveFlag();
// 1 while the application is the active one.
int IsAppActive();
// The window scale in force (x and y when not null; 1.0 in full screen);
// returns the horizontal one.
double GetWindowScale(double* x, double* y);

// ===== Log and memory ===========================================================

int SetLogFileEnabled(int enable);

// ===== Clocks, maths and random numbers ======================================

// Seeds the library's random generator (MT19937; the same seed always gives
// the same sequence, which replays rely on). Returns 0. An unseeded generator
// acts as if seeded with 4357.
int SeedRandom(uint32_t seed);
// A random integer from 0 to max inclusive (max >= 0); max 0 always gives 0.
int GetRandomRange(int max);

// Milliseconds of the system clock with bit 31 cleared (never negative); the
// argument is not used.
int GetMilliClock(int unused = 0);
// Microseconds: from the time-stamp counter when use_time_stamp_counter is 1
// and its rate is known, else from the performance counter, else from the
// millisecond clock.
uint64_t GetMicroClock(int use_time_stamp_counter = 0);
// The local date and time: year, month, day, hour, minute, second.
struct DateTimeRecord {
  int year, month, day, hour, minute, second;
};
int GetLocalDateTime(DateTimeRecord* out);

// ===== Files and archives ======================================================

// File access goes through the library's file functions, which look into
// archives that stand for folders (a folder "grp" may be replaced by an archive
// "grp.<extension>" beside it) unless archive use is switched off. File handles
// are pointer-sized and 0 on failure.

// 1 (the default) makes file access look into archives, 0 reads plain files only.
int SetArchiveUse(int flag);
// The extension of archives that stand for folders (at most 63 characters);
// null, empty or longer texts select the default "RRA".
int SetArchiveExtensionEntry(const char* extension);

// Opens a file for reading: cache keeps a read-ahead cache filled by a file
// thread; no_wait makes reads return before their data has arrived (poll
// FileIdleCheckThunk before using it). Pass 1 as the third argument.
intptr_t FileOpenThunk(const char* path, int cache, int unused, int no_wait);
int FileCloseThunk(intptr_t handle);
int64_t FileTellThunk(intptr_t handle);
// origin 0 from the start, 1 from the current position, 2 from the end.
int FileSeekThunk(intptr_t handle, int64_t offset, int origin);
// Whole elements read.
size_t FileReadThunk(void* destination, size_t element_size, size_t count, intptr_t handle);
// -1 once a read has met the end, else 0.
int FileEofThunk(intptr_t handle);
// 1 when no read of the file is in progress.
int FileIdleCheckThunk(intptr_t handle);

// ===== Input =====================================================================

// Keyboard and joypads. An input type names pad 1..16 in its low bits; the
// flag 0x1000 adds the keyboard through that pad's key map (0x1000 alone:
// the keyboard through pad 1's map; 0x1001: pad 1 and the keyboard). Key
// codes are the keyboard's scan codes (1 Escape, 0x2C Z, 0xC8 Up ...).

// Starts input (done by the library start, and by the first query when
// nothing started it); 0, or -1 when the keyboard's change event cannot be
// set up.
int InputStart();
// Releases the devices; 0. The key map stays.
int InputEnd();
// 1 while the key is down, else 0 (also for a code outside 0..255).
int IsKeyPressed(int key_code);
// The pad bits: 0x1 down, 0x2 left, 0x4 right, 0x8 up, button n at bit
// n + 3; with the keyboard flag also the bits whose mapped keys are down.
// 0 for a pad that does not exist.
int GetPadState(int input_type);
// For each set bit of bits, maps up to four key codes (-1: none) onto that
// pad bit of the pad; a pad number outside 1..16 changes nothing. 0.
int MapPadToKeys(int input_type, int bits, int key1, int key2, int key3, int key4);
// Stops the pad's vibration; 0.
int StopPadVibration(int input_type);

// Text input. Typed characters (code page 932) gather in a character buffer
// that the active key-string input takes each pump pass.
// With null: the clipboard text's size + 1; with a destination (that size at
// least): copies the text, 0. -1 without text on the clipboard.
int GetClipboardText(char* destination);
// Puts a copy of the text on the clipboard; 0.
int SetClipboardText(const char* text);
// Deletes a key-string input; 0, or -1 for a handle that is not a live one.
int DeleteKeyStringInput(int handle);
int DeleteAllKeyStringInputs();
// Switches the input method of the main window on (1) or off (0); 0.
int SetImeEnabled(int on);

// ===== Images ====================================================================

// ===== Graphics ==================================================================

// Screen mode: before the library start the values are only stored; after
// it the graphics system is rebuilt in the new mode (0 done, -1 refused or
// unchanged, -2 the 640 x 480 x 16 fallback was taken). Colour bits 8, 16, 32.
int ConfigureScreenMode(int width, int height, int colour_bits, int refresh_rate);
int GetScreenSize(int* width, int* height);
int GetScreenColorBits();
int IsFullScreenMode();
// Changes the screen mode of the running library (-1 keeps a value as it
// is); with force 1 the graphics are rebuilt even for the mode in force.
// 0, -1 refused, -2 the 640 x 480 x 16 fallback was taken.
int ChangeScreenMode(int width, int height, int colour_bits, int force, int refresh_rate);
// The screen size and colour depth the program draws for (320 x 240 while
// that size is shown doubled).
int GetLogicalScreenSize(int* width, int* height, int* colour_bits);

// A display mode of the desktop (16 bytes).
struct DisplayModeRecord {
  int32_t width, height, colour_bits, refresh_rate;
};
int GetDisplayModeCount();
// Copies record `index` (all four fields -1 when out of range); returns out.
DisplayModeRecord* GetDisplayModeRecord(DisplayModeRecord* out, int index);

// Shows the frame drawn since the last flip.
int FlipScreen();

// Settings of graphics creation and the device.
int SetHardwareRenderFlag(int flag);
int GetHardwareRenderFlag();
int SetCreateGraphicDepth(int bits);
int GetCreateGraphicDepth();
int SetCreateDrawableFlag(int flag);
int GetCreateGraphicFlagA();
int SetCreateAlphaTestFlag(int flag);
int GetCreateAlphaTestFlag();
int SetCreateAlphaFlag(int flag);
int GetCreateGraphicFlagD();
int SetCreateDefaultPoolFlag(int flag);
int GetCreateGraphicFlagE();
int SetGraphicsOptionFlag(int flag);
int SetImageConvertFlag(int flag);
int SetTransparentColor(int r, int g, int b);
int SetVBlankWaitFlag(int flag);
int GetGraphicsFlagF();
// Threads that rasterise the device's draws, each a band of rows; the picture
// is the same for any count. 0 takes RORUD_RASTER_WORKERS, else one fewer
// than the processors (at most 4); 1 draws on the calling thread.
int SetDrawWorkerCount(int count);
int GetDrawWorkerCount();

// ---- Graphic handles, loading and drawing ----------------------------------------

// Graphic handles: -1 on failure; a deleted graphic's handle is refused by
// every call afterwards.
int MakeGraphic(int width, int height);
// Loads an image file (PNG, JPEG, BMP, TGA, DDS, raw BGRA; an image "name_a.ext"
// beside it gives the alpha channel). flag has no effect.
int LoadGraphicFromFile(const char* file_name, int flag);
int LoadGraphicFile(const char* file_name, int flag, int mirror, int movie_option);
// An image file held in memory (and an optional alpha image file).
int ImageToGraphicWithOptions(const void* data, int size, const void* alpha_data, int alpha_size, int flag,
                              int mirror);
int LoadGraphicFromMemoryFile(const void* data, int size, int handle, const void* alpha_data, int alpha_size,
                              int unused, int mirror);
// A graphic showing the rectangle (x, y, width, height) of another; it shares
// the other's textures and stays drawable when the other is deleted.
int DeriveGraphic(int x, int y, int width, int height, int source);
int DeleteGraphic(int handle);
int DeleteAllGraphics();
// The int receives 0 now and 1 when the graphic is deleted.
int SetGraphicLostFlag(int handle, int* flag);
// 1 for a live graphic handle, else 0.
int IsGraphicHandleValid(int handle);
// -2 and -4 give the screen size.
int GetGraphicSize(int handle, int* width, int* height);
// Copies the rectangle of the draw target into a graphic of its size.
int GetDrawScreenToGraphic(int x1, int y1, int x2, int y2, int handle, int unused);

// Draw target: a drawable graphic, or -2 (the back screen), -4 (the front
// screen, shown by a timer), -3 and -5 (the screen).
int SetDrawTarget(int handle);
// Clears the draw target (rect null, or with a negative left or top: all) to
// the clear colour. rect holds left, top, right, bottom.
int ClearDrawTarget(const int32_t* rect);

// Draw settings. Blend modes: 0 none, 1 alpha, 2 add, 3 subtract, 4 multiply,
// 5 to 15 further modes of the device path; param 0..255.
int SetBlendModeParam(int mode, int param);
int SetDrawBrightRGB(int r, int g, int b);
int SetDrawBrightPacked(uint32_t rgb);
// 0 nearest, 1 bilinear, 2 anisotropic.
int SetDrawFilterMode(int mode);
// A graphic whose alpha decides where later draws land (-1: none).
int SetDrawBlendImage(int handle, int border_param, int border_range);
// Right and bottom are exclusive.
int SetDrawClipRect(int x1, int y1, int x2, int y2);
// A colour value in the screen's pixel format.
uint32_t GetColorCode(uint8_t r, uint8_t g, uint8_t b);
int SplitColorCode(uint32_t colour, int* r, int* g, int* b);

// Graphic draws: 0 on success (also while drawing is suspended or the clip
// rectangle is empty), -1 for a bad handle or a refused draw. transparent: 1
// leaves the graphic's transparent parts out.
int DrawGraphicAt(int x, int y, int handle, int transparent);
int DrawGraphicStretched(int x1, int y1, int x2, int y2, int handle, int transparent);
int DrawGraphicStretchedF(float x1, float y1, float x2, float y2, int handle, int transparent);
int DrawGraphicTurned(int x, int y, int handle, int transparent);
int DrawGraphicRect(int dx, int dy, int sx, int sy, int width, int height, int handle, int transparent,
                    int turn);
// Rotated about its centre (x, y) by angle radians and scaled; turn mirrors it.
int DrawGraphicRotatedF(float x, float y, double scale, double angle, int handle, int transparent, int turn);
int DrawGraphicRotated(int x, int y, double scale, double angle, int handle, int transparent, int turn);
int DrawGraphicQuadF(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int handle,
                     int transparent);
// Boxes in a screen colour value; right and bottom exclusive.
int DrawRectBox(int x1, int y1, int x2, int y2, uint32_t colour, int fill);
int DrawFilledBox(int x1, int y1, int x2, int y2, uint32_t colour);
int DrawBoxOutline(int x1, int y1, int x2, int y2, uint32_t colour);
// Fills a whole graphic with r, g, b (a is used by render-target graphics of
// the device only); -1 for a bad handle.
int FillGraphic(int handle, int r, int g, int b, int a);

// The draw target in force: a graphic handle, or -2 (back screen), -4 (front
// screen, shown by a timer), -3 and -5 (the screen).
int GetDrawTarget();
// The texture filter in force (0 nearest, 1 bilinear, 2 anisotropic).
int GetDrawFilterMode();
// 1 while graphics are being made to show a movie's frames.
int GetMovieTextureFlag();
// The function that refills graphics after the device was rebuilt (null:
// the library's own, which reloads every graphic from where it came from).
int SetGraphicsRestoreCallback(int (*callback)());
// 1 when a restore function is registered (the library's own counts).
int IsRestoreCallbackSet();

// ---- 3-D settings: fog, matrices, lights and projection ---------------------------

// A 4 x 4 matrix of floats, row-major, applied to row vectors (the
// translation in the fourth row); views and projections are left-handed with
// depth 0 to 1.
struct Matrix4 {
  float m[16];
};
// Fog: mode (0 off), colour, start and end distances.
int SetFogMode(int mode);
int SetFogRgb(int r, int g, int b);
int SetFogRange(float start, float end);
int SetWorldMatrix(const Matrix4* m);
int SetViewMatrix(const Matrix4* m);
// The projection and the second matrix after it.
int SetTransformMatrixFirst(const Matrix4* m);
int SetTransformMatrixSecond(const Matrix4* m);
// Lights: a new enabled light with the defaults, a directional light (its
// direction normalised), and their deletion (every light but the default).
int NewLightHandle();
int CreateDirectionalLight(float x, float y, float z);
int FreeLightHandle(int handle);
int FreeAllLightHandles();
// The projection: near and far planes, the vertical field of view in
// radians, or a whole matrix of the caller's; its centre on the draw target.
int SetupProjection();
int SetViewNearFar(float near_z, float far_z);
int SetViewFov(float fov);
int SetProjectionMatrix(const Matrix4* m);
int SetProjectionCentre(float x, float y);

// ===== Fonts =====================================================================

// Makes a font handle (40 at most): face (code page 932; null or "" for the
// built-in gothic), character size in pixels, thickness 0..9 (weight / 100),
// type (bit 0 outline in the edge colour, bit 1 anti-aliased), character-set
// index, outline width, italic flag; slot and check are -1 for a new handle
// (other values re-create a font under a known handle). -1 in size,
// thickness, type, charset or edge size takes the default (16, 6, 0, the
// library's character set, 1). Returns the handle, or -1.
int CreateFontToHandle(const char* face, int size, int thickness, int type, int charset,
                       int edge_size, int italic, int slot, int check);
int FontHandleDelete(int handle);
// 1 when the handle names a live font, else 0.
int IsFontHandleValid(int handle);
int FontHandleGetSize(int handle);
// Face (into a buffer of 256 bytes; may be null), size and thickness.
int FontHandleGetState(char* face, int* size, int* thickness, int handle);
// Extra pixels after every character.
int SetFontSpacing(int spacing, int handle);
// The int receives 0 now and 1 when the font is deleted (also by a rebuild).
int SetFontLostFlag(int handle, int* flag);
int GetDefaultFont();
// Default size (-1: 16) and thickness (-1: 6); the face is not used.
int SetDefaultFontSize(const char* face, int size, int thickness);
// Draws a code page 932 string with its top-left corner at (x, y); colours
// are screen colour values; vertical must be 0. 0 (also for a null or empty
// string), -1 for a bad handle or when the text cannot be drawn.
int DrawTextWithFont(int x, int y, const char* text, uint32_t colour, int handle,
                     uint32_t edge_colour, int vertical);
// printf-formats (at most 2047 bytes; longer text is cut) and draws without
// an outline.
int DrawTextWithFontFmt(int x, int y, uint32_t colour, int handle, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

// ===== Sound =====================================================================

// Playback. play_type: 0 plays and waits for the end, 1 plays in the
// background, 3 loops in the background. from_top: 1 starts at the
// beginning, 0 continues where the sound stopped.
int PlaySoundHandle(int handle, int play_type, int from_top);
int StopSoundHandle(int handle);
// 1 while playing, 0 when not.
int IsSoundHandlePlaying(int handle);
// volume 0..255 (255 = full).
int ChangeSoundHandleVolume(int volume, int handle);
// volume 0..10000 (10000 = full, in hundredths of a decibel above -100 dB).
int SetSoundHandleVolume(int volume, int handle);
int GetSoundHandleVolume(int handle);
// pan -10000 (left only) .. 10000 (right only), in hundredths of a decibel.
int SetSoundHandlePan(int pan, int handle);
int GetSoundHandlePan(int handle);
// Hz; -1 or 0 = the data's own rate.
int SetSoundHandleFrequency(int frequency, int handle);
int GetSoundHandleFrequency(int handle);
int SetSoundHandleCurrentPosition(int bytes, int handle);
int GetSoundHandleCurrentPosition(int handle);
int GetSoundHandleCurrentTime(int handle);   // milliseconds
int GetSoundHandleTotalTime(int handle);     // milliseconds
int GetSoundHandleSampleLength(int handle);  // samples
// Loop point (-1 = none); the sound then loops for ever from there. -1 for
// a point at or past the end.
int SetSoundHandleLoopSamplePosition(int samples, int handle);
int SetSoundHandleLoopPosition(int milliseconds, int handle);

// Creation. Mode 0 converts a file whole into the handle's buffers (files
// over 180 seconds become stream sounds); 2 and 3 make stream sounds.
int SetSoundCreateMode(int mode);
int GetSoundCreateMode();
// Converters that loading skips: 1 WAVE, 2 coded WAVE, 4 Ogg Vorbis, 8 and
// 16 MP3.
int SetSoundSetting2(int mask);
int GetSoundSetting2();
// buffer_count: how many plays of the handle may overlap (at most 10).
// share_handle: a stream sound whose buffer a new stream sound may use, or -1.
int LoadSoundHandle(const char* file_name, int buffer_count, int share_handle);
int LoadSoundHandle2(const char* file_name, int buffer_count, int share_handle);
int CreateSoundHandleFromFile(const void* image, int image_size, int buffer_count, int share_handle);
int DeleteSoundHandle(int handle, int flag);
int DeleteAllSoundHandles(int flag);
