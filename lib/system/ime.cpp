// lib/system/ime.cpp - the input method: the composition and candidate list
// kept for the caller to draw, finished text pushed into the character
// buffer, the switch of the input method, and the restore after
// reactivation.
#include <cstring>

#include "lib/core/clock.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/system/text_input.h"
#include "lib/system/window_system.h"
#include "platform/window/imm.h"

namespace {

ImeState g_ime;
int g_in_set_open_status = 0;

using GetContextFn = plat::InputContext* (*)(plat::Window*);
using ReleaseContextFn = bool (*)(plat::Window*, plat::InputContext*);
using GetOpenStatusFn = bool (*)(plat::InputContext*);
using SetOpenStatusFn = bool (*)(plat::InputContext*, bool);
using NotifyFn = bool (*)(plat::InputContext*, uint32_t, uint32_t, uint32_t);
using CandidateListFn = uint32_t (*)(plat::InputContext*, uint32_t, void*, uint32_t);
using GetCompositionFn = int32_t (*)(plat::InputContext*, uint32_t, void*, uint32_t);
using SetCompositionFn = bool (*)(plat::InputContext*, uint32_t, const void*, uint32_t, const void*, uint32_t);
using EnableImeFn = int (*)(plat::Window*, int);

template <typename F>
F Fn(const char* name) {
  return reinterpret_cast<F>(GetLoadedFunction(name));
}

plat::InputContext* Context(plat::Window* window) {
  auto get = Fn<GetContextFn>("ImmGetContext");
  return get != nullptr && window != nullptr ? get(window) : nullptr;
}

void Release(plat::Window* window, plat::InputContext* context) {
  auto release = Fn<ReleaseContextFn>("ImmReleaseContext");
  if (release != nullptr && context != nullptr) release(window, context);
}

// Reads a composition string into buffer (capacity bytes, zero-terminated
// within them); the bytes read.
int ReadComposition(plat::InputContext* context, uint32_t index, void* buffer, int capacity) {
  auto get = Fn<GetCompositionFn>("ImmGetCompositionStringA");
  if (get == nullptr || context == nullptr) return 0;
  int32_t n = get(context, index, buffer, static_cast<uint32_t>(capacity));
  if (n < 0) return 0;
  return n > capacity ? capacity : n;
}

void FreeCandidateList() {
  if (g_ime.candidate_list != nullptr) TrackedFree(g_ime.candidate_list);
  g_ime.candidate_list = nullptr;
  g_ime.candidate_list_size = 0;
}

intptr_t OnComposition(plat::Window* window, intptr_t lparam) {
  plat::InputContext* context = Context(window);
  uint32_t flags = static_cast<uint32_t>(lparam);
  if (flags & plat::kGcsCompStr) {
    std::memset(g_ime.composition, 0, sizeof g_ime.composition);
    ReadComposition(context, plat::kGcsCompStr, g_ime.composition, kImeStringSize - 1);
  }
  if (flags & plat::kGcsResultStr) {
    std::memset(g_ime.composition, 0, sizeof g_ime.composition);
    ReadComposition(context, plat::kGcsResultStr, g_ime.composition, kImeStringSize - 1);
    // A result longer than the room in the buffer loses its tail.
    for (int i = 0; i < kImeStringSize && g_ime.composition[i] != '\0'; ++i) {
      PushInputChar(static_cast<uint8_t>(g_ime.composition[i]));
    }
    std::memset(g_ime.composition, 0, sizeof g_ime.composition);
    ReadComposition(context, plat::kGcsCompStr, g_ime.composition, kImeStringSize - 1);
  }
  if (flags & plat::kGcsCursorPos) {
    auto get = Fn<GetCompositionFn>("ImmGetCompositionStringA");
    int bytes = get != nullptr && context != nullptr ? get(context, plat::kGcsCursorPos, nullptr, 0) : 0;
    g_ime.composition_cursor = CountMultibyteChars(g_ime.composition, bytes);
  }
  if (flags & plat::kGcsCompClause) {
    std::memset(g_ime.clause_data, 0, sizeof g_ime.clause_data);
    g_ime.clause_count = ReadComposition(context, plat::kGcsCompClause, g_ime.clause_data, sizeof g_ime.clause_data) / 4;
  }
  if (flags & plat::kGcsCompAttr) {
    std::memset(g_ime.attribute_data, 0, sizeof g_ime.attribute_data);
    g_ime.attribute_count =
        ReadComposition(context, plat::kGcsCompAttr, g_ime.attribute_data, sizeof g_ime.attribute_data);
  }
  Release(window, context);
  return 0;
}

intptr_t OnCandidates(plat::Window* window) {
  plat::InputContext* context = Context(window);
  auto list = Fn<CandidateListFn>("ImmGetCandidateListA");
  uint32_t size = list != nullptr && context != nullptr ? list(context, 0, nullptr, 0) : 0;
  g_ime.candidate_list_size = static_cast<int>(size);
  if (size == 0) {
    Release(window, context);
    char line[256];
    std::snprintf(line, sizeof line, "漢字変換候補のデータサイズが０でした  DefHWND:%x IMC:%x\n",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(window)),
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(context)));
    WriteLogLine(line);
    return 0;
  }
  FreeCandidateList();
  g_ime.candidate_list_size = static_cast<int>(size);
  g_ime.candidate_list = static_cast<uint8_t*>(TrackedAlloc(size, "", 0));
  if (g_ime.candidate_list == nullptr) {
    Release(window, context);
    FatalErrorExitFmt("漢字変換候補を保存するメモリの確保に失敗しました( 確保しようとしたサイズ %d バイト )",
                      static_cast<int>(size));
  }
  if (list(context, 0, g_ime.candidate_list, size) == 0) {
    FreeCandidateList();
    Release(window, context);
    char line[128];
    std::snprintf(line, sizeof line, "漢字変換候補の取得に失敗しました  BufSize:%d\n", static_cast<int>(size));
    WriteLogLine(line);
    return 0;
  }
  Release(window, context);
  return 0;
}

}  // namespace

ImeState& GetImeState() { return g_ime; }

void ClearImeState() {
  FreeCandidateList();
  std::memset(&g_ime, 0, sizeof g_ime);
}

intptr_t OnImeMessage(uint32_t message, uintptr_t wparam, plat::Window* window, intptr_t lparam) {
  switch (message) {
    case plat::kWmImeStartComposition:
      g_ime.composing = 1;
      g_ime.composition_cursor = 0;
      return 0;
    case plat::kWmImeEndComposition:
      std::memset(g_ime.composition, 0, kImeStringSize - 1);
      g_ime.composing = 0;
      return 0;
    case plat::kWmImeComposition:
      return OnComposition(window, lparam);
    case plat::kWmImeSetContext:
      // lParam 0: the input method shows none of its own windows.
      return plat::DefWindowProc(window, message, wparam, 0);
    case plat::kWmImeNotify:
      switch (wparam) {
        case plat::kImnChangeCandidate:
        case plat::kImnOpenCandidate:
        case plat::kImnSetCandidatePos:
          return OnCandidates(window);
        case plat::kImnCloseCandidate:
          FreeCandidateList();
          return 0;
        case plat::kImnSetOpenStatus: {
          if (g_in_set_open_status != 0) return 0;
          g_in_set_open_status = 1;
          plat::DefWindowProc(window, message, wparam, lparam);
          uint64_t start = GetMicroClock();
          while (PumpWindowMessages() == 0 && GetMicroClock() - start < 2000) {
          }
          plat::InputContext* context = Context(window);
          auto status = Fn<GetOpenStatusFn>("ImmGetOpenStatus");
          g_ime.open = status != nullptr && context != nullptr && status(context) ? 1 : 0;
          Release(window, context);
          g_in_set_open_status = 0;
          return 0;
        }
        default:
          return plat::DefWindowProc(window, message, wparam, lparam);
      }
    default:
      return 0;
  }
}

int SetImeEnabled(int on) {
  if (on == g_ime.enabled) return 0;
  auto enable = Fn<EnableImeFn>("WINNLSEnableIME");
  if (enable != nullptr) enable(GetMainWindow(), on);
  g_ime.enabled = on;
  if (on == 0) {
    FreeCandidateList();
    std::memset(g_ime.composition, 0, kImeStringSize - 1);
    g_ime.composing = 0;
  }
  return 0;
}

int RunImeRestore() {
  if (g_ime.restore_step == 0) return 0;
  plat::Window* window = GetMainWindow();
  auto set_open = Fn<SetOpenStatusFn>("ImmSetOpenStatus");
  // 1: keep the composition aside and cancel it.
  plat::InputContext* context = Context(window);
  if (context != nullptr) {
    std::memset(g_ime.composition, 0, sizeof g_ime.composition);
    std::memset(g_ime.stash, 0, sizeof g_ime.stash);
    ReadComposition(context, plat::kGcsCompStr, g_ime.stash, kImeStringSize - 1);
    auto notify = Fn<NotifyFn>("ImmNotifyIME");
    if (notify != nullptr) notify(context, plat::kNiCompositionStr, plat::kCpsCancel, 0);
    Release(window, context);
  }
  // 2 and 3: close the input method and open it again.
  context = Context(window);
  if (context != nullptr && set_open != nullptr) {
    set_open(context, false);
    set_open(context, true);
  }
  Release(window, context);
  // 4: open, and put the kept composition back.
  context = Context(window);
  if (context != nullptr) {
    if (set_open != nullptr) set_open(context, true);
    auto set_string = Fn<SetCompositionFn>("ImmSetCompositionStringA");
    if (set_string != nullptr) {
      set_string(context, plat::kScsSetStr, g_ime.stash, static_cast<uint32_t>(std::strlen(g_ime.stash)), nullptr, 0);
    }
    Release(window, context);
  }
  g_ime.restore_step = 0;
  return 0;
}
