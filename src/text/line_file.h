// The line rules of the data files. Reading: the text ends at its end or at its first NUL
// byte; CR LF, a lone CR and a lone LF each end a line; a line end at the very end of the
// text adds no empty line. Writing: every line, the last one included, ends with CR LF.
#ifndef KELCONV_TEXT_LINE_FILE_H_
#define KELCONV_TEXT_LINE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
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

  // Passes over up to `count` lines as that many calls of Next would, and returns how many
  // there were. Many times faster than Next over long runs of lines.
  std::int64_t Skip(std::int64_t count);

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

  // Appends bytes to the line being written. Many bytes at once go to the sink directly,
  // after those already buffered, instead of being copied into the buffer first.
  void Append(std::string_view bytes) {
    if (bytes.size() >= kDirectSize) return AppendDirectly(bytes);
    std::memcpy(Reserve(bytes.size()), bytes.data(), bytes.size());
    used_ += bytes.size();
  }
  void Append(char byte) {
    *Reserve(1) = byte;
    ++used_;
  }

  // Makes room for up to `size` more bytes of the line being written and returns where they
  // go, for a caller that writes them in place; Advance then keeps those it wrote.
  char* Reserve(std::size_t size) {
    if (capacity_ - used_ < size) MakeRoom(size);
    return buffer_.get() + used_;
  }
  // Keeps the bytes written in place from the last Reserve up to `end`.
  void Advance(const char* end) { used_ = static_cast<std::size_t>(end - buffer_.get()); }

  // Ends the line being written with CR LF.
  void EndLine() {
    Append(std::string_view("\r\n", 2));
    if (used_ >= kFlushSize) FlushBuffer();
  }

  // Hands every byte written so far to the sink. Raises EWriteError as the sink does.
  void Flush() { FlushBuffer(); }

 private:
  static constexpr std::size_t kFlushSize = std::size_t{1} << 20;
  static constexpr std::size_t kDirectSize = std::size_t{64} << 10;

  // Flushes, and grows the buffer if `size` bytes still do not fit.
  void MakeRoom(std::size_t size);
  void FlushBuffer();
  void AppendDirectly(std::string_view bytes);

  ByteSink& sink_;
  // Left uninitialized: fresh memory is costly, and only the part that is written is touched.
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;  // the first `used_` bytes are written
};

}  // namespace kelconv

#endif  // KELCONV_TEXT_LINE_FILE_H_
