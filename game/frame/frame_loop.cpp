// game/frame/frame_loop.cpp - one frame of the game and the paced wait.
#include "game/frame/frame_loop.h"

#include <cstdio>

#include "game/frame/config.h"
#include "game/frame/game_error.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"
#include "game/objects/panel.h"
#include "game/objects/resources.h"
#include "platform/kernel/kernel.h"
#include "rorud/rorud.h"

void ServeSoundRequests() {
  for (SoundSlot& slot : g_sounds) {
    if (slot.request != 0) {
      StopSoundHandle(slot.handle);
      PlaySoundHandle(slot.handle, 1, 1);
    }
    slot.request = 0;
  }
}

bool WaitFrame() {
  FlipScreen();
  if (ProcessWindowMessages() == -1) {
    g_stop_flag = 1;
    std::snprintf(g_error_text, sizeof g_error_text, "%s", "メッセージループ例外");
    return false;
  }
  if (g_config.vsync == 0) {
    // Sleep a millisecond at a time while more than 2 ms remain, then watch
    // the clock for the exact tick. Messages are handled after every sleep
    // and once at each new millisecond of the rest. The sleep is the
    // system's own, the one the library's clock follows.
    uint32_t pumped_at = static_cast<uint32_t>(GetMilliClock(0));
    for (;;) {
      const uint32_t now = static_cast<uint32_t>(GetMilliClock(0));
      if (!FrameWaitPending(g_pacing, now)) break;
      if (FrameWaitMaySleep(g_pacing, now))
        plat::Sleep(1);
      else if (now == pumped_at)
        continue;
      // The window going away during the wait leaves this frame untimed and
      // uncounted; the next frame's first pump reports it.
      if (ProcessWindowMessages() == -1) return false;
      pumped_at = now;
    }
  }
  if (CloseFrame(g_pacing, static_cast<uint32_t>(GetMilliClock(0)))) {
    // Escape held at two tests in a row ends the game, paused or not.
    if (EscapeTest(g_pacing, IsKeyPressed(1) != 0)) {
      RaiseGameError("エスケープキー");
      return false;
    }
  }
  return true;
}

void RunFrame() {
  UpdateInputFrame();
  RunScene();
  UpdateObjects();
  DrawFrame();
  ServeSoundRequests();
  WaitFrame();
}
