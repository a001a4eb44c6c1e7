#include "convert/format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "text/failure.h"

namespace kelconv {
namespace {

constexpr std::string_view kHeader200 =
    "\"APP=Kelvado\",\"VER=2.00\",\"MAXPAGES=0\",\"MAXREGIST=0\",\"ONCEINS=-1\",\"ONCEDEL=-1\"";

std::string Join(const std::vector<std::string>& lines, std::string_view end = "\r\n") {
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += end;
  }
  return text;
}

std::string Convert(std::string_view list, std::string_view pages) {
  const Format100Data data = LayOutFormat100(list, pages);
  StringSink sink;
  LineWriter writer(sink);
  WriteFormat200(data, LeadBytes::Cp932(), writer);
  return sink.text();
}

// The two-page example: the first ten entry lines cover the rules of the rewrite.
const std::vector<std::string> kTwoPageList = {"\"APP=Kelvado\",\"VER=1.00\"",
                                               "a,b",
                                               "\"c d\",e",
                                               "",
                                               "   ",
                                               "\"\"",
                                               "f,,g",
                                               "h,",
                                               ",p",
                                               "i , j",
                                               "k l",
                                               "q",
                                               "",
                                               "",
                                               "",
                                               "",
                                               "",
                                               "",
                                               "",
                                               "",
                                               "",
                                               "extra"};
const std::vector<std::string> kTwoPageResult = {std::string(kHeader200),
                                                 "2",
                                                 "Main,10",
                                                 "Tools,10",
                                                 "[0]",
                                                 "\"a\",\"b\"",
                                                 "\"c d\",\"e\"",
                                                 "",
                                                 "",
                                                 "\"\"",
                                                 "\"f\",\"\",\"g\"",
                                                 "\"h\"",
                                                 "\"\",\"p\"",
                                                 "\"i\",\"j\"",
                                                 "\"k\",\"l\"",
                                                 "[1]",
                                                 "\"q\"",
                                                 "",
                                                 "",
                                                 "",
                                                 "",
                                                 "",
                                                 "",
                                                 "",
                                                 "",
                                                 "",
                                                 "**"};

TEST(FormatTest, ConvertsTwoPages) {
  EXPECT_EQ(Join(kTwoPageResult), Convert(Join(kTwoPageList), "Main\r\nTools\r\n"));
}

TEST(FormatTest, AnyLineEndsReadTheSame) {
  const std::string expected = Join(kTwoPageResult);
  for (const char* end : {"\n", "\r", "\r\n"}) {
    EXPECT_EQ(expected, Convert(Join(kTwoPageList, end), Join({"Main", "Tools"}, end)))
        << ::testing::PrintToString(end);
  }
  // No line end after the last page line.
  EXPECT_EQ(expected, Convert(Join(kTwoPageList), "Main\r\nTools"));
}

TEST(FormatTest, WritesPagesAndEntriesAsGiven) {
  std::vector<std::string> entries(20, "x");
  entries[0] = "\"say \"\"hi\"\"\"";
  entries[10] = "\"\x83\x5C\x83t\x83g\",\"C:\\Program Files\\a.exe\" /q";
  std::vector<std::string> list = {"APP=Kelvado"};
  list.insert(list.end(), entries.begin(), entries.end());
  std::vector<std::string> expected = {std::string(kHeader200), "2", "P,\"Q\",10", ",10", "[0]",
                                       "\"say \"\"hi\"\"\""};
  for (int i = 1; i < 10; ++i) expected.push_back("\"x\"");
  expected.push_back("[1]");
  expected.push_back("\"\x83\x5C\x83t\x83g\",\"C:\\Program Files\\a.exe\",\"/q\"");
  for (int i = 11; i < 20; ++i) expected.push_back("\"x\"");
  expected.push_back("**");
  // Page lines are copied whole, an empty one included.
  EXPECT_EQ(Join(expected), Convert(Join(list), "P,\"Q\"\r\n\r\n"));
}

TEST(FormatTest, NoPagesGiveHeaderCountAndEndMarker) {
  const std::string expected = Join({std::string(kHeader200), "0", "**"});
  EXPECT_EQ(expected, Convert(Join({"APP=Kelvado", "a", "b"}), ""));
  EXPECT_EQ(expected, Convert(Join({"APP=Kelvado"}), ""));
}

TEST(FormatTest, OnePageOfExactlyTenEntries) {
  std::vector<std::string> list = {"APP=Kelvado"};
  for (int i = 0; i < 10; ++i) list.push_back(std::to_string(i));
  const std::string written = Convert(Join(list), "only");
  EXPECT_EQ(15, std::count(written.begin(), written.end(), '\n'));
  EXPECT_TRUE(written.ends_with("\"9\"\r\n**\r\n"));
}

TEST(FormatTest, TooFewEntryLinesFailAtTheMissingRow) {
  struct Case {
    int entry_lines;
    std::string pages;
    int row;
  };
  const Case kCases[] = {
      {7, "one\r\n", 7},    {15, "one\r\ntwo\r\n", 5}, {0, "one", 0},
      {10, "A\r\n\r\n", 0}, {29, "1\n2\n3\n", 9},
  };
  for (const Case& c : kCases) {
    std::vector<std::string> list = {"APP=Kelvado"};
    for (int i = 0; i < c.entry_lines; ++i) list.push_back("e");
    try {
      LayOutFormat100(Join(list), c.pages);
      ADD_FAILURE() << c.entry_lines << " entry lines did not fail";
    } catch (const Failure& failure) {
      EXPECT_STREQ("EStringListError", failure.kind());
      EXPECT_TRUE(failure.message().ends_with(" (" + std::to_string(c.row) + ")"))
          << c.entry_lines << " entry lines: " << failure.message();
    }
  }
}

TEST(FormatTest, ListWithoutHeaderLineFails) {
  EXPECT_THROW(LayOutFormat100("", ""), Failure);
  EXPECT_THROW(LayOutFormat100(std::string("\0abc", 4), ""), Failure);
}

}  // namespace
}  // namespace kelconv
