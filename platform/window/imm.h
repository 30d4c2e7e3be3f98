// platform/window/imm.h - the input method of a window in the manner the library's
// IME code was written for: an input context per window with an open status,
// the composition (string, cursor, clauses, attributes), the result string
// and a candidate list, and the IME messages that tell the window about
// them; plus the switch that enables the input method for a window.
//
// There is no input method behind it beyond what the back end reports: the
// SDL back end turns SDL's text-editing events into a composition (its
// committed text arrives as character messages); tests feed compositions,
// results and candidates through the calls at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window/window.h"

namespace plat {

struct InputContext;  // opaque

constexpr uint32_t kWmImeStartComposition = 0x010D;
constexpr uint32_t kWmImeEndComposition = 0x010E;
constexpr uint32_t kWmImeComposition = 0x010F;  // lparam: kGcs* flags of what changed
constexpr uint32_t kWmImeSetContext = 0x0281;
constexpr uint32_t kWmImeNotify = 0x0282;       // wparam: kImn*

constexpr uint32_t kGcsCompAttr = 0x0010;
constexpr uint32_t kGcsCompClause = 0x0020;
constexpr uint32_t kGcsCursorPos = 0x0080;
constexpr uint32_t kGcsCompStr = 0x0008;
constexpr uint32_t kGcsResultStr = 0x0800;

constexpr uint32_t kImnCloseCandidate = 4;
constexpr uint32_t kImnChangeCandidate = 3;
constexpr uint32_t kImnOpenCandidate = 5;
constexpr uint32_t kImnSetOpenStatus = 8;
constexpr uint32_t kImnSetCandidatePos = 9;

constexpr uint32_t kNiCompositionStr = 0x15;
constexpr uint32_t kCpsCancel = 0x4;
constexpr uint32_t kScsSetStr = 0x9;

// The candidate list record: its size, style, count, selection, page start,
// page size, then count offsets (from the record's start) of zero-terminated
// code page 932 strings that follow.
struct CandidateListHeader {
  uint32_t size, style, count, selection, page_start, page_size;
  // uint32_t offsets[count]; strings
};

// Null for a dead window.
InputContext* ImmGetContext(Window* window);
bool ImmReleaseContext(Window* window, InputContext* context);
bool ImmGetOpenStatus(InputContext* context);
bool ImmSetOpenStatus(InputContext* context, bool open);
// kNiCompositionStr with kCpsCancel drops the composition.
bool ImmNotifyIME(InputContext* context, uint32_t action, uint32_t index, uint32_t value);
// With size 0 the bytes the list needs; else copies the list when it fits.
// 0 without a list.
uint32_t ImmGetCandidateListA(InputContext* context, uint32_t index, void* list, uint32_t size);
// kGcsCompStr, kGcsResultStr (bytes), kGcsCompAttr (a byte per composition
// byte), kGcsCompClause (u32 offsets), kGcsCursorPos (the cursor's byte
// position, as the result). With size 0 the bytes needed; else the bytes
// copied (at most size). Negative for an unknown index or a null context.
int32_t ImmGetCompositionStringA(InputContext* context, uint32_t index, void* buffer, uint32_t size);
// kScsSetStr: the composition becomes the given string.
bool ImmSetCompositionStringA(InputContext* context, uint32_t index, const void* composition,
                              uint32_t composition_size, const void* reading, uint32_t reading_size);
// Enables (1) or disables (0) the input method for the window; returns the
// previous state.
int WinnlsEnableIme(Window* window, int enable);

// ---- Feeding the input method (back ends and tests) -------------------------------------

// A composition in progress: starts one (kWmImeStartComposition) when none
// runs, then posts kWmImeComposition with the string, cursor, clause and
// attribute flags. An empty string ends the composition.
void ImeSetComposition(Window* window, const std::string& cp932, int cursor_bytes);
// The user accepted text: kWmImeComposition with the result string (the
// composition becomes empty), then kWmImeEndComposition.
void ImeCommit(Window* window, const std::string& cp932);
// Ends a running composition without a result (kWmImeEndComposition).
void ImeEndComposition(Window* window);
// The candidates shown now (kImnOpenCandidate, or kImnChangeCandidate while
// a list is open); an empty list closes it (kImnCloseCandidate).
void ImeSetCandidates(Window* window, const std::vector<std::string>& cp932, int selection);
// Forgets every state (tests).
void ImeReset();
// Calls of WinnlsEnableIme so far, and its last state (tests).
int WinnlsEnableImeCallCount();
int IsImeEnabledFor(Window* window);

}  // namespace plat
