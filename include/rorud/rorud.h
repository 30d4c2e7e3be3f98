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

// ===== Log and memory ===========================================================

int SetLogFileEnabled(int enable);

// ===== Clocks, maths and random numbers ======================================

// ===== Files and archives ======================================================

// ===== Input =====================================================================

// ===== Images ====================================================================

// ===== Graphics ==================================================================

// ===== Fonts =====================================================================

// ===== Sound =====================================================================
