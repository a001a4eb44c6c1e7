// Helpers for the tests: temp folders, whole files as bytes, code page 932 text and a message
// box that records what it was shown.
#ifndef KELCONV_TESTS_SUPPORT_TEST_SUPPORT_H_
#define KELCONV_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "ui/message_box.h"

namespace kelconv::testing {

// The code page 932 bytes of UTF-8 text. Fails the test when the text has no such bytes.
std::string Cp932(std::string_view utf8);

// The UTF-8 text of code page 932 bytes.
std::string Utf8(std::string_view cp932);

// Makes a new empty folder, makes it the working folder, and on destruction goes back and
// removes it with everything in it.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// The whole content of a file, or "<missing>" when it cannot be read.
std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, std::string_view bytes);

// The names of the entries of a folder, sorted.
std::vector<std::string> FolderEntries(const std::filesystem::path& folder);

// Records every box it is asked to show; answers questions from a script (No once the
// script runs out).
class RecordingMessageBox : public MessageBox {
 public:
  enum class Kind { kInform, kAsk, kFailure };
  struct Shown {
    Kind kind;
    std::string caption;
    std::string text;
  };

  void AnswerNext(bool yes) { answers_.push_back(yes); }

  void Inform(std::string_view caption, std::string_view text) override;
  bool Ask(std::string_view caption, std::string_view text) override;
  void ReportFailure(std::string_view caption, std::string_view text) override;

  const std::vector<Shown>& shown() const { return shown_; }

 private:
  std::vector<Shown> shown_;
  std::deque<bool> answers_;
};

}  // namespace kelconv::testing

#endif  // KELCONV_TESTS_SUPPORT_TEST_SUPPORT_H_
