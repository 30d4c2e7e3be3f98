// lib/sound/sound_file.cpp - sound files read through the library's file
// functions (archives included): whole-file reads, stream sounds read from a
// file, and loading a file into a sound handle.
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/sound/sound_internal.h"
#include "rorud/rorud.h"

namespace {

// Names the file in the log lines of the conversions opened while it loads.
class FileNameForLog {
 public:
  explicit FileNameForLog(const char* file_name) { SetSoundFileNameForLog(file_name); }
  ~FileNameForLog() { SetSoundFileNameForLog(nullptr); }
  FileNameForLog(const FileNameForLog&) = delete;
  FileNameForLog& operator=(const FileNameForLog&) = delete;
};

}  // namespace

int LoadFileToMemory(const char* file_name, void** data, int32_t* size) {
  intptr_t file = FileOpenThunk(file_name, 0, 1, 0);
  if (file == 0) return WriteLogLineFmt("右記のファイルのオープンに失敗しました：%s", file_name);
  FileSeekThunk(file, 0, 2);
  int64_t length = FileTellThunk(file);
  FileSeekThunk(file, 0, 0);
  void* block = nullptr;
  if (length >= 0 && length <= INT32_MAX) block = TrackedAlloc(static_cast<size_t>(length) + 1, "", 0);
  if (block == nullptr) {
    FileCloseThunk(file);
    return WriteLogLineFmt("右記のファイルのロードに必要なメモリの確保に失敗しました：%s", file_name);
  }
  // A file that gives less than its size reports what it gave.
  size_t got = length > 0 ? FileReadThunk(block, 1, static_cast<size_t>(length), file) : 0;
  FileCloseThunk(file);
  *data = block;
  *size = static_cast<int32_t>(got);
  return 0;
}

int AddStreamSoundFile(const char* file_name, uint8_t loop_count, int handle, int mode, int share_handle) {
  SoundLockScope lock;
  FileNameForLog name(file_name);
  intptr_t file = FileOpenThunk(file_name, 0, 1, 0);
  if (file == 0) return WriteLogLineFmt("右記のＷＡＶファイルのロードに失敗しました：%s \n", file_name);
  SoundStream stream{};
  stream.ops = *GetFileStreamTable();
  stream.handle = file;
  int owns = 0;
  if (AddSreamSound(&stream, loop_count, handle, mode, &owns, share_handle) != 0) {
    FileCloseThunk(file);
    return WriteLogLineFmt("右記のＷＡＶファイルのセットアップに失敗しました：%s \n", file_name);
  }
  if (owns == 1) FileCloseThunk(file);
  SoundRecord* r = FindSound(handle);
  if (r != nullptr) r->stream.file_owns_stream[r->stream.file_count - 1] = 1;
  return 0;
}

int LoadSoundHandle(const char* file_name, int buffer_count, int share_handle) {
  if (!SoundStarted() || file_name == nullptr) return -1;
  SoundLockScope lock;
  FileNameForLog name(file_name);
  if (SoundCreateMode != 0) {
    int handle = AddSoundData(-1);
    if (handle == -1) return -1;
    if (AddStreamSoundFile(file_name, 0, handle, SoundCreateMode, share_handle) != 0) {
      DeleteSoundHandle(handle, 0);
      return -1;
    }
    StartStreamSound(handle);
    return handle;
  }
  void* image = nullptr;
  int32_t size = 0;
  if (LoadFileToMemory(file_name, &image, &size) != 0)
    return WriteLogLineFmt("右記の音声ファイルのロードに失敗しました_1：%s", file_name);
  int handle = CreateSoundHandleFromFile(image, size, buffer_count > kSoundBufferMax ? kSoundBufferMax : buffer_count, -1);
  TrackedFree(image);
  if (handle == -1) return WriteLogLineFmt("右記の音声ファイルのロードに失敗しました_2：%s", file_name);
  return handle;
}

int LoadSoundHandle2(const char* file_name, int buffer_count, int share_handle) {
  return LoadSoundHandle(file_name, buffer_count, share_handle);
}
