// platform/window/imm.cpp - the input context of the windows and its feeding.
#include "platform/window/imm.h"

#include <cstring>
#include <mutex>

namespace plat {

struct InputContext {
  bool open = true;
  bool composing = false;
  std::string composition;
  std::string result;
  int cursor = 0;
  std::vector<std::string> candidates;
  int selection = 0;
  bool list_open = false;
};

namespace {

std::recursive_mutex g_lock;
InputContext g_context;  // the main window's; the library has one window
int g_enable_calls = 0;
int g_enabled = 1;

std::vector<uint8_t> BuildCandidateList(const InputContext& c) {
  uint32_t count = static_cast<uint32_t>(c.candidates.size());
  size_t size = sizeof(CandidateListHeader) + 4 * count;
  for (const std::string& s : c.candidates) size += s.size() + 1;
  std::vector<uint8_t> out(size, 0);
  CandidateListHeader h = {static_cast<uint32_t>(size), 1, count, static_cast<uint32_t>(c.selection), 0,
                           count < 9 ? count : 9};
  std::memcpy(out.data(), &h, sizeof h);
  size_t at = sizeof h + 4 * count;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t offset = static_cast<uint32_t>(at);
    std::memcpy(out.data() + sizeof h + 4 * i, &offset, 4);
    std::memcpy(out.data() + at, c.candidates[i].data(), c.candidates[i].size());
    at += c.candidates[i].size() + 1;
  }
  return out;
}

int32_t CopyOut(const void* data, size_t bytes, void* buffer, uint32_t size) {
  if (size == 0) return static_cast<int32_t>(bytes);
  if (buffer == nullptr) return -1;
  size_t n = bytes < size ? bytes : size;
  std::memcpy(buffer, data, n);
  return static_cast<int32_t>(n);
}

}  // namespace

InputContext* ImmGetContext(Window* window) { return IsWindow(window) ? &g_context : nullptr; }

bool ImmReleaseContext(Window* window, InputContext* context) {
  (void)window;
  return context != nullptr;
}

bool ImmGetOpenStatus(InputContext* context) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return context != nullptr && context->open;
}

bool ImmSetOpenStatus(InputContext* context, bool open) {
  if (context == nullptr) return false;
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  context->open = open;
  return true;
}

bool ImmNotifyIME(InputContext* context, uint32_t action, uint32_t index, uint32_t value) {
  (void)index;
  if (context == nullptr) return false;
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (action == kNiCompositionStr && value == kCpsCancel) {
    context->composition.clear();
    context->cursor = 0;
    return true;
  }
  return false;
}

uint32_t ImmGetCandidateListA(InputContext* context, uint32_t index, void* list, uint32_t size) {
  if (context == nullptr || index != 0) return 0;
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (!context->list_open || context->candidates.empty()) return 0;
  std::vector<uint8_t> bytes = BuildCandidateList(*context);
  if (size == 0) return static_cast<uint32_t>(bytes.size());
  if (list == nullptr || size < bytes.size()) return 0;
  std::memcpy(list, bytes.data(), bytes.size());
  return static_cast<uint32_t>(bytes.size());
}

int32_t ImmGetCompositionStringA(InputContext* context, uint32_t index, void* buffer, uint32_t size) {
  if (context == nullptr) return -1;
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  switch (index) {
    case kGcsCompStr: return CopyOut(context->composition.data(), context->composition.size(), buffer, size);
    case kGcsResultStr: return CopyOut(context->result.data(), context->result.size(), buffer, size);
    case kGcsCursorPos: return context->cursor;
    case kGcsCompAttr: {
      std::vector<uint8_t> attributes(context->composition.size(), 0);
      return CopyOut(attributes.data(), attributes.size(), buffer, size);
    }
    case kGcsCompClause: {
      if (context->composition.empty()) return 0;
      uint32_t clauses[2] = {0, static_cast<uint32_t>(context->composition.size())};
      return CopyOut(clauses, sizeof clauses, buffer, size);
    }
    default: return -1;
  }
}

bool ImmSetCompositionStringA(InputContext* context, uint32_t index, const void* composition,
                              uint32_t composition_size, const void* reading, uint32_t reading_size) {
  (void)reading;
  (void)reading_size;
  if (context == nullptr || index != kScsSetStr) return false;
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  context->composition.assign(static_cast<const char*>(composition != nullptr ? composition : ""),
                              composition != nullptr ? composition_size : 0);
  context->cursor = static_cast<int>(context->composition.size());
  return true;
}

int WinnlsEnableIme(Window* window, int enable) {
  (void)window;
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  ++g_enable_calls;
  int previous = g_enabled;
  g_enabled = enable != 0 ? 1 : 0;
  return previous;
}

void ImeSetComposition(Window* window, const std::string& cp932, int cursor_bytes) {
  if (cp932.empty()) {
    ImeEndComposition(window);
    return;
  }
  bool start;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    start = !g_context.composing;
    g_context.composing = true;
    g_context.composition = cp932;
    int size = static_cast<int>(cp932.size());
    g_context.cursor = cursor_bytes < 0 ? 0 : (cursor_bytes > size ? size : cursor_bytes);
  }
  if (start) PostMessage(window, kWmImeStartComposition, 0, 0);
  PostMessage(window, kWmImeComposition, 0, kGcsCompStr | kGcsCursorPos | kGcsCompClause | kGcsCompAttr);
}

void ImeCommit(Window* window, const std::string& cp932) {
  bool start;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    start = !g_context.composing;
    g_context.composing = true;
    g_context.result = cp932;
    g_context.composition.clear();
    g_context.cursor = 0;
  }
  if (start) PostMessage(window, kWmImeStartComposition, 0, 0);
  PostMessage(window, kWmImeComposition, 0, kGcsResultStr | kGcsCompStr | kGcsCursorPos);
  ImeEndComposition(window);
}

void ImeEndComposition(Window* window) {
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_context.composing) return;
    g_context.composing = false;
    g_context.composition.clear();
    g_context.cursor = 0;
  }
  PostMessage(window, kWmImeEndComposition, 0, 0);
}

void ImeSetCandidates(Window* window, const std::vector<std::string>& cp932, int selection) {
  uint32_t notify;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (cp932.empty()) {
      if (!g_context.list_open) return;
      g_context.list_open = false;
      g_context.candidates.clear();
      notify = kImnCloseCandidate;
    } else {
      notify = g_context.list_open ? kImnChangeCandidate : kImnOpenCandidate;
      g_context.list_open = true;
      g_context.candidates = cp932;
      g_context.selection = selection;
    }
  }
  PostMessage(window, kWmImeNotify, notify, 1);
}

void ImeReset() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  g_context = InputContext{};
  g_enable_calls = 0;
  g_enabled = 1;
}

int WinnlsEnableImeCallCount() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_enable_calls;
}

int IsImeEnabledFor(Window* window) {
  (void)window;
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_enabled;
}

}  // namespace plat
