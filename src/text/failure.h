// Failures of a run: one exception type carrying a kind name, a message and the code
// address where it was raised. Nothing catches a Failure but the top of the run.
#ifndef KELCONV_TEXT_FAILURE_H_
#define KELCONV_TEXT_FAILURE_H_

#include <exception>
#include <string>
#include <string_view>

namespace kelconv {

class Failure : public std::exception {
 public:
  // `kind` is a static name such as "EFOpenError"; `message` is code page 932 text;
  // `place` is the code address of the raise site.
  Failure(const char* kind, std::string message, const void* place)
      : kind_(kind), message_(std::move(message)), place_(place) {}

  const char* kind() const { return kind_; }
  const std::string& message() const { return message_; }
  const void* place() const { return place_; }
  const char* what() const noexcept override { return kind_; }

 private:
  const char* kind_;
  std::string message_;
  const void* place_;
};

// Each Raise function throws a Failure whose raise site is the code that called it.

// EStringListError "リストのインデックスが範囲を超えています (%d)" with `index`.
[[noreturn]] void RaiseIndexError(int index);
// EFOpenError "ファイル %s は開けません" with `path` as the caller passed it.
[[noreturn]] void RaiseOpenError(std::string_view path);
// EFCreateError "ファイル %s を作成できません" with `path` as the caller passed it.
[[noreturn]] void RaiseCreateError(std::string_view path);
// EWriteError "ストリームへの書き込みエラー".
[[noreturn]] void RaiseWriteError();
// EReadError "ストリームからの読み込みエラー".
[[noreturn]] void RaiseReadError();

// EOutOfMemory "メモリが足りません", for an allocation failure noticed at `place`.
Failure OutOfMemoryFailure(const void* place);

}  // namespace kelconv

#endif  // KELCONV_TEXT_FAILURE_H_
