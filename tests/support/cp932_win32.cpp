// Code page 932 text for the tests, by the system's own conversions.
#include <gtest/gtest.h>
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // the C++ library of mingw-w64 may define it already
#define NOMINMAX
#endif
#include <windows.h>
#undef MessageBox

#include "support/test_support.h"

namespace kelconv::testing {
namespace {

constexpr UINT kCp932 = 932;

std::wstring Wide(std::string_view text, UINT code_page) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), size,
                                           /*lpWideCharStr=*/nullptr, /*cchWideChar=*/0);
  EXPECT_GT(length, 0) << "cannot convert from code page " << code_page << ": " << text;
  std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
  ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
  return wide;
}

std::string Narrow(const std::wstring& wide, UINT code_page) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  BOOL lossy = FALSE;
  // UTF-8 takes no default character and reports no loss through the last two arguments.
  const bool utf8 = code_page == CP_UTF8;
  const int length = ::WideCharToMultiByte(code_page, /*dwFlags=*/0, wide.data(), size,
                                           /*lpMultiByteStr=*/nullptr, /*cbMultiByte=*/0,
                                           /*lpDefaultChar=*/nullptr, utf8 ? nullptr : &lossy);
  std::string narrow(static_cast<std::size_t>(std::max(length, 0)), '\0');
  ::WideCharToMultiByte(code_page, /*dwFlags=*/0, wide.data(), size, narrow.data(), length,
                        /*lpDefaultChar=*/nullptr, utf8 ? nullptr : &lossy);
  EXPECT_FALSE(lossy) << "no code page " << code_page << " bytes for some of the text";
  return narrow;
}

}  // namespace

std::string Cp932(std::string_view utf8) { return Narrow(Wide(utf8, CP_UTF8), kCp932); }
std::string Utf8(std::string_view cp932) { return Narrow(Wide(cp932, kCp932), CP_UTF8); }

}  // namespace kelconv::testing
