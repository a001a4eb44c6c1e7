#include "text/failure.h"

#include <string>

namespace kelconv {
namespace {

// The raise site is the return address of the Raise function: the instruction just after
// the call in the code that raised. The functions must not be inlined for that.
#define KELCONV_CALLER_ADDRESS() __builtin_extract_return_addr(__builtin_return_address(0))

// "ファイル "
constexpr std::string_view kFilePrefix =
    "\x83t\x83@\x83"
    "C\x83\x8B ";

}  // namespace

__attribute__((noinline)) void RaiseIndexError(int index) {
  // "リストのインデックスが範囲を超えています ("
  std::string message =
      "\x83\x8A\x83X\x83g\x82\xCC\x83"
      "C\x83\x93\x83"
      "f\x83"
      "b\x83N\x83X\x82\xAA\x94\xCD"
      "\x88\xCD\x82\xF0\x92\xB4\x82\xA6\x82\xC4\x82\xA2\x82\xDC\x82\xB7 (";
  message += std::to_string(index);
  message += ')';
  throw Failure("EStringListError", std::move(message), KELCONV_CALLER_ADDRESS());
}

__attribute__((noinline)) void RaiseOpenError(std::string_view path) {
  std::string message(kFilePrefix);
  message += path;
  message +=
      " \x82\xCD\x8A"
      "J\x82\xAF\x82\xDC\x82\xB9\x82\xF1";  // " は開けません"
  throw Failure("EFOpenError", std::move(message), KELCONV_CALLER_ADDRESS());
}

__attribute__((noinline)) void RaiseCreateError(std::string_view path) {
  std::string message(kFilePrefix);
  message += path;
  // " を作成できません"
  message += " \x82\xF0\x8D\xEC\x90\xAC\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1";
  throw Failure("EFCreateError", std::move(message), KELCONV_CALLER_ADDRESS());
}

__attribute__((noinline)) void RaiseWriteError() {
  // "ストリームへの書き込みエラー"
  throw Failure("EWriteError",
                "\x83X\x83g\x83\x8A\x81[\x83\x80\x82\xD6\x82\xCC\x8F\x91\x82\xAB\x8D\x9E\x82\xDD"
                "\x83G\x83\x89\x81[",
                KELCONV_CALLER_ADDRESS());
}

__attribute__((noinline)) void RaiseReadError() {
  // "ストリームからの読み込みエラー"
  throw Failure("EReadError",
                "\x83X\x83g\x83\x8A\x81[\x83\x80\x82\xA9\x82\xE7\x82\xCC\x93\xC7\x82\xDD\x8D\x9E"
                "\x82\xDD\x83G\x83\x89\x81[",
                KELCONV_CALLER_ADDRESS());
}

Failure OutOfMemoryFailure(const void* place) {
  // "メモリが足りません"
  return Failure("EOutOfMemory",
                 "\x83\x81\x83\x82\x83\x8A\x82\xAA\x91\xAB\x82\xE8\x82\xDC\x82\xB9\x82\xF1", place);
}

}  // namespace kelconv
