// Where a stream of bytes goes.
#ifndef KELCONV_TEXT_BYTE_SINK_H_
#define KELCONV_TEXT_BYTE_SINK_H_

#include <string>
#include <string_view>

namespace kelconv {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Appends `bytes`. Raises EWriteError when they cannot all be stored.
  virtual void Append(std::string_view bytes) = 0;
};

// Collects the bytes in a string.
class StringSink : public ByteSink {
 public:
  void Append(std::string_view bytes) override { text_ += bytes; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace kelconv

#endif  // KELCONV_TEXT_BYTE_SINK_H_
