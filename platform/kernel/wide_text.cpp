// platform/kernel/wide_text.cpp - code page 932 to UTF-16 and back through
// iconv.
#include "platform/kernel/wide_text.h"

#include <iconv.h>

#include <cstring>
#include <vector>

namespace plat {

namespace {

// Converts whole input or fails; the output as bytes.
bool Convert(const char* to, const char* from, const char* in, size_t in_bytes, std::vector<char>* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(in_bytes * 4 + 8, 0);
  char* src = const_cast<char*>(in);
  size_t left = in_bytes;
  char* dst = out->data();
  size_t room = out->size();
  const size_t done = iconv(cd, &src, &left, &dst, &room);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1) || left != 0) return false;
  out->resize(out->size() - room);
  return true;
}

}  // namespace

int MultiByteToWideChar(int code_page, const char* text, char16_t* out, int out_units) {
  if (text == nullptr || out == nullptr || out_units <= 0) return 0;
  const char* from = code_page == 0 || code_page == 932 ? "CP932"
                     : code_page == 949                  ? "CP949"
                     : code_page == 950                  ? "CP950"
                     : code_page == 936                  ? "CP936"
                                                         : nullptr;
  if (from == nullptr) return 0;
  std::vector<char> bytes;
  if (!Convert("UTF-16LE", from, text, std::strlen(text), &bytes)) return 0;
  const size_t units = bytes.size() / 2;
  if (units + 1 > static_cast<size_t>(out_units)) return 0;
  std::memcpy(out, bytes.data(), units * 2);
  out[units] = 0;
  return static_cast<int>(units + 1);
}

std::string WideCharToCp932(const char16_t* text) {
  if (text == nullptr) return {};
  size_t units = 0;
  while (text[units] != 0) ++units;
  std::vector<char> bytes;
  if (!Convert("CP932", "UTF-16LE", reinterpret_cast<const char*>(text), units * 2, &bytes)) return {};
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace plat
