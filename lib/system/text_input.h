// lib/system/text_input.h - the character buffer that typed characters and
// editing keys reach through the window procedure, the key-string inputs
// (text fields) that the pump edits from it, and the IME state that shares
// both. Internal to the library; the public operations are in rorud/rorud.h.
#pragma once

#include <cstdint>

#include "platform/window/window.h"
#include "rorud/rorud.h"

// ---- Character buffer ---------------------------------------------------------

constexpr int kCharBufferSize = 1025;  // at most 1024 bytes are held

// 0, or -1 when the buffer is full (the byte is dropped).
int PushInputChar(uint8_t byte);
// The size of the next character (0 none, 1 or 2) with its bytes in out; it
// leaves the buffer only when consume is not 0. A lead byte whose second
// byte has not arrived yet waits.
int PopInputChar(uint8_t out[2], int consume);
int IsCharBufferFull();
// 1 for the codes the editing keys push, else 0.
int IsControlCode(uint8_t byte);
// The control code of an editing key's virtual key, 0 for other keys.
uint8_t ControlCodeOfKey(int virtual_key);
// Characters in the first count bytes (a double-byte character once).
int CountMultibyteChars(const char* text, int count);
int InitCharCodeBuffer();
int UpdateKeyStringInput();

// ---- Key-string inputs -----------------------------------------------------------

constexpr int kKeyStringInputMax = 256;

struct KeyStringInputRecord {
  int in_use;
  int check;
  int ended;
  int cancelled;
  int length;
  int max_length;
  int selection_start;  // -1: no selection
  int selection_end;
  int shown_position;
  int cursor;
  char* text;  // max_length + 1 bytes
  int cancel_allowed;
  int single_byte_only;
  int digits_only;
};

// Makes a key-string input with an empty text; its handle, or -1 (no free
// record, a maximum length below 1, no memory).
int MakeKeyStringInput(int max_length, int cancel_allowed, int single_byte_only, int digits_only);
// The input that UpdateKeyStringInput edits (-1: none); 0, or -1 for a
// handle that is not a live input.
int SetActiveKeyStringInput(int handle);
int GetActiveKeyStringInput();
// The record of a live handle, else null.
KeyStringInputRecord* FindKeyStringInput(int handle);

// ---- IME ------------------------------------------------------------------------------

constexpr int kImeStringSize = 1025;

struct ImeState {
  int composing;
  int composition_cursor;  // characters
  char composition[kImeStringSize];
  char stash[kImeStringSize];
  uint8_t* candidate_list;  // tracked block, null when none
  int candidate_list_size;
  int enabled;
  int open;
  int restore_step;
  uint8_t clause_data[4096];
  int clause_count;
  uint8_t attribute_data[1024];
  int attribute_count;
};

ImeState& GetImeState();
void ClearImeState();
intptr_t OnImeMessage(uint32_t message, uintptr_t wparam, plat::Window* window, intptr_t lparam);
// The restore sequence that reactivation arms (restore step 1..4).
int RunImeRestore();
