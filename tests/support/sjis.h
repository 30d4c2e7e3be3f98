// tests/support/sjis.h - converts the tests' UTF-8 literals into the code page
// 932 bytes that the library and game use, and back.
#pragma once

#include <string>

namespace testsupport {

// UTF-8 to code page 932 bytes; aborts the test on text that cannot convert.
std::string Sjis(const std::string& utf8);
// Code page 932 bytes to UTF-8.
std::string Utf8(const std::string& cp932);

}  // namespace testsupport
