#include "text/line_file.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kelconv {
namespace {

std::vector<std::string> ReadAll(std::string_view bytes) {
  LineReader reader(bytes);
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.Next(line)) lines.emplace_back(line);
  return lines;
}

std::string WriteAll(const std::vector<std::string>& lines) {
  StringSink sink;
  LineWriter writer(sink);
  for (const auto& line : lines) writer.WriteLine(line);
  writer.Flush();
  return sink.text();
}

TEST(LineReaderTest, SplitsBytesIntoLines) {
  using namespace std::string_literals;
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case kCases[] = {
      {"", {}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\r\nb", {"a", "b"}},
      {"a\nb\rc", {"a", "b", "c"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\r\nb", {"a", "", "b"}},
      {"\r\n", {""}},
      {"\r\n\r\n", {"", ""}},
      {"\n\n", {"", ""}},
      {"\r", {""}},
      {"a\0b\r\nc"s, {"a"}},
      {"a\r\n\0\r\nb"s, {"a"}},
      {"\0a"s, {}},
      {"a\r\0\nb"s, {"a"}},
      // A byte order mark, a TAB and an end-of-file mark are bytes of the line like any other.
      {"\xEF\xBB\xBFx\ty\x1A\r\n", {"\xEF\xBB\xBFx\ty\x1A"}},
      // Line breaks found in the middle and at the edges of eight-byte words.
      {"0123456\r\n89abcdef0123456789\n\t\t\t\t\t\t\t\t\t\tz",
       {"0123456", "89abcdef0123456789", "\t\t\t\t\t\t\t\t\t\tz"}},
      {"\x82\xA0\x82\xA2\r\n\x95\x5C", {"\x82\xA0\x82\xA2", "\x95\x5C"}},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.lines, ReadAll(c.bytes)) << ::testing::PrintToString(c.bytes);
    EXPECT_EQ(static_cast<std::int64_t>(c.lines.size()), CountLines(c.bytes))
        << ::testing::PrintToString(c.bytes);
  }
}

TEST(LineReaderTest, CountStopsAtLimit) {
  EXPECT_EQ(2, CountLines("a\nb\nc\n", 2));
  EXPECT_EQ(3, CountLines("a\nb\nc\n", 10));
}

// Skip must pass over lines exactly as Next does, wherever the line ends and NUL bytes fall
// in the words that it counts whole.
TEST(LineReaderTest, SkipsLinesAsNextDoes) {
  std::mt19937 random(20261213);
  static const char kBytes[] = {'\r', '\n', '\r', '\n', 'x', 'x', 'x', '\x8D', '\0'};
  for (int round = 0; round < 20000; ++round) {
    // Mostly short texts; every tenth long enough for the runs of blocks that Skip counts
    // whole, with a NUL only now and then.
    const bool is_long = round % 10 == 0;
    std::string text(is_long ? 4000 + random() % 20000 : random() % 120, 'x');
    const bool with_nul = round % 4 == 0;
    // Long texts have long lines now and then, for the searches of many bytes at once.
    const std::uint32_t plain_odds = is_long && round % 20 == 0 ? 40 : 1;
    for (char& byte : text) {
      byte = random() % plain_odds != 0
                 ? 'x'
                 : kBytes[random() % (with_nul && (!is_long || random() % 1000 == 0) ? 9 : 8)];
    }
    const std::int64_t count = static_cast<std::int64_t>(random() % (text.size() / 2 + 10));
    LineReader next(text);
    std::string_view line;
    std::int64_t lines = 0;
    while (lines < count && next.Next(line)) ++lines;
    LineReader skip(text);
    ASSERT_EQ(lines, skip.Skip(count)) << ::testing::PrintToString(text) << " " << count;
    ASSERT_EQ(next.rest().data(), skip.rest().data())
        << ::testing::PrintToString(text) << " " << count;
    ASSERT_EQ(next.rest().size(), skip.rest().size())
        << ::testing::PrintToString(text) << " " << count;
  }
}

TEST(LineWriterTest, EndsEveryLineWithCrLf) {
  struct Case {
    std::vector<std::string> lines;
    std::string bytes;
  };
  const Case kCases[] = {
      {{"a", "", "b"}, "a\r\n\r\nb\r\n"},
      {{""}, "\r\n"},
      {{}, ""},
      {{"\x82\xA0,\"x\""}, "\x82\xA0,\"x\"\r\n"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.bytes, WriteAll(c.lines)) << ::testing::PrintToString(c.lines);
  }
}

TEST(LineWriterTest, LargeOutputArrivesWholeAndInOrder) {
  std::vector<std::string> lines;
  std::string expected;
  for (int i = 0; i < 200000; ++i) {
    lines.push_back(std::string(static_cast<std::size_t>(i % 50), 'x') + std::to_string(i));
    expected += lines.back() + "\r\n";
  }
  lines.push_back(std::string(3 << 20, 'y'));  // a line larger than the buffer
  expected += lines.back() + "\r\n";
  EXPECT_EQ(expected, WriteAll(lines));
}

TEST(LineFileTest, WrittenLinesReadBackTheSame) {
  const std::vector<std::string> lines = {"", "a", "", "\x82\xA0 \"q\",", std::string(70, 'z'), ""};
  EXPECT_EQ(lines, ReadAll(WriteAll(lines)));
}

}  // namespace
}  // namespace kelconv
