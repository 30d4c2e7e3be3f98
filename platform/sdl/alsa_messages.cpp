// platform/sdl/alsa_messages.cpp - the ALSA library's own error lines go to
// the debugger output instead of the terminal. On a machine without a sound
// card ALSA writes several lines to stderr while SDL probes it; the platform
// already reports the missing device in one line of its own.
#include "platform/sdl/alsa_messages.h"

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>

#include "platform/kernel/kernel.h"

namespace plat {
namespace {

// The shape of ALSA's error handler: source file, line, function, error
// number and a printf format with its arguments.
using AlsaErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
using SetAlsaErrorHandler = int (*)(AlsaErrorHandler);

void ToDebugOutput(const char* file, int line, const char* function, int error, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format != nullptr ? format : "", args);
  va_end(args);
  char out[768];
  std::snprintf(out, sizeof out, "ALSA %s:%d (%s) error %d: %s\n", file != nullptr ? file : "?", line,
                function != nullptr ? function : "?", error, text);
  OutputDebugString(out);
}

}  // namespace

void RouteAlsaMessagesToDebugOutput() {
  static bool done = false;
  if (done) return;
  done = true;
  // The handler lives in the library SDL loads later by the same name; the
  // handle is kept so that the library, and the handler, stay in place.
  void* alsa = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
  if (alsa == nullptr) return;
  auto set = reinterpret_cast<SetAlsaErrorHandler>(::dlsym(alsa, "snd_lib_error_set_handler"));
  if (set != nullptr) set(&ToDebugOutput);
}

}  // namespace plat
