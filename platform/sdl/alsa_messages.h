// platform/sdl/alsa_messages.h - keeping the ALSA library's own error lines
// off the terminal.
#pragma once

namespace plat {

// Sends ALSA's error lines to the debugger output from now on (once; no
// effect where ALSA is not installed). Call before SDL starts its audio.
void RouteAlsaMessagesToDebugOutput();

}  // namespace plat
