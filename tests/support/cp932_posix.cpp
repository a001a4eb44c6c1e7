// Code page 932 text for the tests, by iconv.
#include <gtest/gtest.h>
#include <iconv.h>

#include "support/test_support.h"

namespace kelconv::testing {
namespace {

std::string Convert(std::string_view text, const char* to, const char* from) {
  iconv_t handle = ::iconv_open(to, from);
  EXPECT_NE(handle, reinterpret_cast<iconv_t>(-1)) << from << " to " << to;
  if (handle == reinterpret_cast<iconv_t>(-1)) return {};
  std::string out(text.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  char* to_ptr = out.data();
  std::size_t out_left = out.size();
  const std::size_t result = ::iconv(handle, &in, &in_left, &to_ptr, &out_left);
  ::iconv_close(handle);
  EXPECT_NE(result, static_cast<std::size_t>(-1)) << "cannot convert: " << text;
  out.resize(out.size() - out_left);
  return out;
}

}  // namespace

std::string Cp932(std::string_view utf8) { return Convert(utf8, "CP932", "UTF-8"); }
std::string Utf8(std::string_view cp932) { return Convert(cp932, "UTF-8", "CP932"); }

}  // namespace kelconv::testing
