// The message box on POSIX: a terminal stands in for it. The box is written to standard
// output (the failure report to standard error) as its caption behind an icon mark, its text,
// and its buttons; the answer is one line of standard input. Texts arrive as code page 932
// bytes and are converted, for display only, to the character set of the user's locale, or to
// UTF-8 where that set cannot show Japanese.
#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <memory>
#include <string>
#include <string_view>

#include "ui/message_box.h"

namespace kelconv {
namespace {

// "はい(Y)" and "いいえ(N)" in code page 932.
constexpr std::string_view kYesLabel = "\x82\xCD\x82\xA2(Y)";
constexpr std::string_view kNoLabel = "\x82\xA2\x82\xA2\x82\xA6(N)";
// "データー", to learn whether a character set can show Japanese.
constexpr std::string_view kJapaneseSample =
    "\x83"
    "f\x81[\x83^\x81[";

enum class Answer { kYes, kNo, kOther, kNone };

class Converter {
 public:
  Converter() {
    std::setlocale(LC_CTYPE, "");
    const char* codeset = ::nl_langinfo(CODESET);
    handle_ = ::iconv_open(codeset != nullptr ? codeset : "UTF-8", "CP932");
    std::string sample;
    if (handle_ == Invalid() || !Convert(kJapaneseSample, sample)) {
      if (handle_ != Invalid()) ::iconv_close(handle_);
      handle_ = ::iconv_open("UTF-8", "CP932");
    }
  }
  ~Converter() {
    if (handle_ != Invalid()) ::iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Appends `text` converted to `out`. A byte that is no code page 932 character shows as
  // "?". Returns false when some byte could not be converted.
  bool Convert(std::string_view text, std::string& out) {
    if (handle_ == Invalid()) {
      out += text;
      return false;
    }
    ::iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    bool whole = true;
    char* in = const_cast<char*>(text.data());
    std::size_t in_left = text.size();
    char buffer[1024];
    while (in_left > 0) {
      char* to = buffer;
      std::size_t to_left = sizeof buffer;
      const std::size_t result = ::iconv(handle_, &in, &in_left, &to, &to_left);
      out.append(buffer, static_cast<std::size_t>(to - buffer));
      if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
      // EILSEQ or EINVAL: a byte that begins no character here, or a lead byte at the end.
      whole = false;
      out += '?';
      ++in;
      --in_left;
    }
    return whole;
  }

 private:
  static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }

  iconv_t handle_;
};

// Writes all of `text` to `fd`. False when it cannot.
bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Reads one line of standard input. kNone at the end of input, else the answer it gives.
Answer ReadAnswer(int echo_fd) {
  std::string line;
  bool any = false;
  while (true) {
    char c;
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    any = true;
    if (c == '\n') break;
    if (line.size() < 16) line += c;
  }
  // A terminal echoes the Enter that ends the answer; input from elsewhere gets its line end
  // here, so that what follows starts on a line of its own.
  if (::isatty(STDIN_FILENO) == 0) WriteAll(echo_fd, "\n");
  if (!any) return Answer::kNone;
  std::string word;
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == '\r') continue;
    word += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (word.empty() || word == "y" || word == "yes") return Answer::kYes;
  if (word == "n" || word == "no") return Answer::kNo;
  return Answer::kOther;
}

class TerminalMessageBox : public MessageBox {
 public:
  TerminalMessageBox() {
    // A reader that went away must not end the run in the middle; writes then just fail.
    std::signal(SIGPIPE, SIG_IGN);
  }

  void Inform(std::string_view caption, std::string_view text) override {
    if (Show(STDOUT_FILENO, "(i) ", caption, text, "[OK] ")) ReadAnswer(STDOUT_FILENO);
  }

  bool Ask(std::string_view caption, std::string_view text) override {
    std::string buttons = "[";
    converter_.Convert(kYesLabel, buttons);
    buttons += "] / ";
    converter_.Convert(kNoLabel, buttons);
    buttons += " [Y/n]: ";
    if (!Show(STDOUT_FILENO, "(i) ", caption, text, buttons)) return false;
    while (true) {
      switch (ReadAnswer(STDOUT_FILENO)) {
        case Answer::kYes:
          return true;
        case Answer::kNo:
        case Answer::kNone:
          return false;
        case Answer::kOther:
          if (!WriteAll(STDOUT_FILENO, buttons)) return false;
          break;
      }
    }
  }

  void ReportFailure(std::string_view caption, std::string_view text) override {
    if (Show(STDERR_FILENO, "(x) ", caption, text, "[OK] ")) ReadAnswer(STDERR_FILENO);
  }

 private:
  // Writes the box; false when it could not be shown.
  bool Show(int fd, std::string_view mark, std::string_view caption, std::string_view text,
            std::string_view buttons) {
    std::string screen(mark);
    converter_.Convert(caption, screen);
    screen += '\n';
    std::string shown;
    converter_.Convert(text, shown);
    // A CR breaks the line in a box; so does the LF of the failure report.
    for (char c : shown) screen += c == '\r' ? '\n' : c;
    screen += '\n';
    screen += buttons;
    return WriteAll(fd, screen);
  }

  Converter converter_;
};

}  // namespace

std::unique_ptr<MessageBox> NewPlatformMessageBox() {
  return std::make_unique<TerminalMessageBox>();
}

}  // namespace kelconv
