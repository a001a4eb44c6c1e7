// Fuzzes the line rules: reading the bytes of a line file into lines, writing lines back, and
// the line list that holds them.
//
// Properties: the reader gives exactly the lines of the byte-by-byte model, and skipping lines
// passes over the same lines as reading them; writing lines and reading them back gives the
// same lines, each written with CR LF; a line list holds the same lines as a plain vector
// after the same adds, inserts and deletes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reference_model.h"
#include "text/byte_sink.h"
#include "text/failure.h"
#include "text/line_file.h"
#include "text/line_list.h"

namespace kelconv {
namespace {

using reference::Check;

std::vector<std::string> ReadWithReader(std::string_view bytes) {
  std::vector<std::string> lines;
  LineReader reader(bytes);
  std::string_view line;
  while (reader.Next(line)) {
    Check(line.data() >= bytes.data() && line.data() + line.size() <= bytes.data() + bytes.size(),
          "a line is a view into the bytes");
    lines.emplace_back(line);
  }
  Check(!reader.Next(line), "a reader at the end stays at the end");
  return lines;
}

void CheckWriteAndReadBack(const std::vector<std::string>& lines, bool with_long_line) {
  // A line longer than the writer's buffer makes it hand over its bytes on the way.
  static const std::string kLongLine(std::size_t{3} << 19, 'x');
  std::vector<std::string> written = lines;
  if (with_long_line) written.insert(written.begin() + written.size() / 2, kLongLine);
  StringSink sink;
  LineWriter writer(sink);
  std::string expected;
  for (const std::string& line : written) {
    writer.WriteLine(line);
    expected += line;
    expected += "\r\n";
  }
  writer.Flush();
  Check(sink.text() == expected, "every line is written with CR LF, in order");
  if (!with_long_line) {
    Check(ReadWithReader(sink.text()) == written, "lines written and read back are the same");
  }
}

// True when `call` raises the index failure with `index`.
template <typename Call>
bool RaisesIndexError(int index, Call call) {
  try {
    call();
  } catch (const Failure& failure) {
    return std::string_view(failure.kind()) == "EStringListError" &&
           failure.message().ends_with("(" + std::to_string(index) + ")");
  }
  return false;
}

void CheckLineList(const std::vector<std::string>& lines) {
  LineList list;
  std::vector<std::string> model;
  list.Add("stale");
  list.Clear();
  for (const std::string& line : lines) {
    const unsigned char choice = line.empty() ? 0 : static_cast<unsigned char>(line[0]);
    const int count = list.Count();
    if (choice % 5 == 1 && count > 0) {
      const int index = choice % count;
      list.Delete(index);
      model.erase(model.begin() + index);
    } else if (choice % 5 == 2) {
      const int index = choice % (count + 1);
      list.Insert(index, line);
      model.insert(model.begin() + index, line);
    } else {
      Check(list.Add(line) == count, "add returns the index of the new line");
      model.push_back(line);
    }
  }
  Check(list.Count() == static_cast<int>(model.size()), "count");
  for (int i = 0; i < list.Count(); ++i) {
    Check(list.Get(i) == model[static_cast<std::size_t>(i)], "the list holds copies in order");
  }
  const int count = list.Count();
  Check(RaisesIndexError(count, [&] { list.Get(count); }), "get past the end");
  Check(RaisesIndexError(-1, [&] { list.Delete(-1); }), "delete at -1");
  Check(RaisesIndexError(count + 1, [&] { list.Insert(count + 1, "x"); }), "insert past the end");
  Check(list.Count() == count, "a failed operation changes nothing");
}

// Skip passes over lines exactly as Next does.
void CheckSkip(std::string_view bytes, const std::vector<std::string>& lines) {
  const std::int64_t total = static_cast<std::int64_t>(lines.size());
  for (const std::int64_t count : {std::int64_t{0}, std::int64_t{1}, total / 2, total, total + 1,
                                   static_cast<std::int64_t>(bytes.size() % 97)}) {
    LineReader reader(bytes);
    const std::int64_t skipped = reader.Skip(count);
    Check(skipped == std::min(count, total), "Skip passes over the lines there are");
    std::vector<std::string> after;
    std::string_view line;
    while (reader.Next(line)) after.emplace_back(line);
    Check(after == std::vector<std::string>(lines.begin() + skipped, lines.end()),
          "after Skip, Next goes on where the skipped lines end");
  }
}

void FuzzLineRules(std::string_view bytes) {
  const std::vector<std::string> lines = ReadWithReader(bytes);
  CheckSkip(bytes, lines);
  Check(lines == reference::ReadLines(bytes), "the reader follows the line rules");
  Check(CountLines(bytes) == static_cast<std::int64_t>(lines.size()), "line count");
  const auto limit = static_cast<std::int64_t>(bytes.size() / 3);
  Check(CountLines(bytes, limit) == std::min(limit, static_cast<std::int64_t>(lines.size())),
        "line count with a limit");
  CheckWriteAndReadBack(lines, /*with_long_line=*/false);
  // Rarely, as it is slow: the same with a line longer than the writer's buffer.
  if (bytes.starts_with('\x01')) CheckWriteAndReadBack(lines, /*with_long_line=*/true);
  CheckLineList(lines);
}

}  // namespace
}  // namespace kelconv

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelconv::FuzzLineRules(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
