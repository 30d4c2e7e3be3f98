// platform/kernel/wide_text.h - conversion between code-page text and
// UTF-16 names, as the system's wide-character calls expect them.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// Converts a NUL-terminated code-page string (932, 949, 950 or 936; 0
// means 932) to
// UTF-16 with a terminator in out, which holds out_units units. Returns the
// units written, terminator included, or 0 when the text does not convert
// or does not fit with its terminator.
int MultiByteToWideChar(int code_page, const char* text, char16_t* out, int out_units);

// A NUL-terminated UTF-16 string back to code page 932; empty when it does
// not convert.
std::string WideCharToCp932(const char16_t* text);

}  // namespace plat
