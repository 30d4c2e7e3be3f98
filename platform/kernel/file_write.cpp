// platform/kernel/file_write.cpp - creating, deleting and appending to files over
// POSIX descriptors.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <new>

#include "platform/kernel/file.h"

namespace plat {

struct WriteFile {
  int descriptor;
};

namespace {

WriteFile* Wrap(int descriptor) {
  if (descriptor < 0) return nullptr;
  WriteFile* file = new (std::nothrow) WriteFile{descriptor};
  if (file == nullptr) close(descriptor);
  return file;
}

}  // namespace

bool DeleteFile(const char* path) {
  if (path == nullptr) return false;
  return unlink(NativePath(path).c_str()) == 0;
}

WriteFile* CreateNewFile(const char* path) {
  if (path == nullptr) return nullptr;
  return Wrap(open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
}

WriteFile* OpenFileForAppend(const char* path) {
  if (path == nullptr) return nullptr;
  return Wrap(open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
}

bool WriteToFile(WriteFile* file, const void* data, size_t size) {
  if (file == nullptr) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t written = write(file->descriptor, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

void CloseWriteFile(WriteFile* file) {
  if (file == nullptr) return;
  close(file->descriptor);
  delete file;
}

}  // namespace plat
