#include "tests/support/sjis.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>

namespace testsupport {
namespace {

std::string Convert(const std::string& in, const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) {
    ADD_FAILURE() << "iconv cannot convert " << from << " to " << to;
    return {};
  }
  std::string out(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = out.data();
  size_t dst_left = out.size();
  if (iconv(cd, &src, &src_left, &dst, &dst_left) == (size_t)-1) {
    ADD_FAILURE() << "text does not convert to " << to << ": " << in;
  }
  iconv_close(cd);
  out.resize(out.size() - dst_left);
  return out;
}

}  // namespace

std::string Sjis(const std::string& utf8) { return Convert(utf8, "CP932", "UTF-8"); }
std::string Utf8(const std::string& cp932) { return Convert(cp932, "UTF-8", "CP932"); }

}  // namespace testsupport
