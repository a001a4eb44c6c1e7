// The line rules of the data files. Reading: the text ends at its end or at its first NUL
// byte; CR LF, a lone CR and a lone LF each end a line; a line end at the very end of the
// text adds no empty line. Writing: every line, the last one included, ends with CR LF.
#ifndef KELCONV_TEXT_LINE_FILE_H_
#define KELCONV_TEXT_LINE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "text/byte_sink.h"

namespace kelconv {

// Walks the lines of a line file's bytes, in order, without copying them.
class LineReader {
 public:
  explicit LineReader(std::string_view bytes)
      : next_(bytes.data()), end_(bytes.data() + bytes.size()) {}

  // Sets `line` to the next line (a view into the bytes) and returns true, or returns false
  // when the text has ended.
  bool Next(std::string_view& line);

  // The bytes not read yet.
  std::string_view rest() const { return {next_, static_cast<std::size_t>(end_ - next_)}; }

 private:
  const char* next_;
  const char* end_;  // the end of the text: end of the bytes, or a NUL once one is met
};

// The number of lines in `bytes`, counting no further than `limit`.
std::int64_t CountLines(std::string_view bytes, std::int64_t limit = INT64_MAX);

// Writes lines, each followed by CR LF, through a buffer to a sink.
class LineWriter {
 public:
  explicit LineWriter(ByteSink& sink);
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // Writes `line` and its CR LF.
  void WriteLine(std::string_view line) {
    Append(line);
    EndLine();
  }

  // Appends bytes to the line being written.
  void Append(std::string_view bytes) {
    if (buffer_.size() + bytes.size() > kFlushSize) FlushBuffer();
    buffer_ += bytes;
  }
  void Append(char byte) { buffer_ += byte; }

  // Ends the line being written with CR LF.
  void EndLine() {
    buffer_ += "\r\n";
    if (buffer_.size() >= kFlushSize) FlushBuffer();
  }

  // Hands every byte written so far to the sink. Raises EWriteError as the sink does.
  void Flush() { FlushBuffer(); }

 private:
  static constexpr std::size_t kFlushSize = std::size_t{1} << 20;

  void FlushBuffer();

  ByteSink& sink_;
  std::string buffer_;
};

}  // namespace kelconv

#endif  // KELCONV_TEXT_LINE_FILE_H_
