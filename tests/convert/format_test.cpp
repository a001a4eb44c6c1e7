#include "convert/format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "text/comma_text.h"
#include "text/failure.h"
#include "text/line_list.h"

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

// Enough pages for several parts, whose page sections are made on two threads; the entry
// lines differ from page to page so that a part out of place shows.
constexpr std::int64_t kManyPages = 3 * kPagesPerPart + 5;

std::string ManyPagesList() {
  std::string list = "APP=Kelvado\r\n";
  for (std::int64_t line = 0; line < 10 * kManyPages; ++line) {
    switch (line % 4) {
      case 0:
        list += "\"n";
        list += std::to_string(line);
        list += "\",C:\\a.exe\r\n";
        break;
      case 1:
        list += "x y";
        list += std::to_string(line);
        list += '\n';
        break;
      case 2:
        list += "\r";
        break;
      default:
        list += "\x83\x5C,\"q\"\"\",,\r\n";
    }
  }
  return list;
}

std::string ManyPagesPages() {
  std::string pages;
  for (std::int64_t page = 0; page < kManyPages; ++page) {
    pages += 'p';
    pages += std::to_string(page);
    pages += '\n';
  }
  return pages;
}

// The format 2.00 text as the rules build it, line by line, on one thread.
std::string ExpectedFormat200(std::string_view list, std::string_view pages) {
  std::vector<std::string> out = {std::string(kHeader200)};
  LineReader page_lines(pages);
  std::vector<std::string_view> page_list;
  for (std::string_view line; page_lines.Next(line);) page_list.push_back(line);
  out.push_back(std::to_string(page_list.size()));
  for (const auto page : page_list) out.push_back(std::string(page) + ",10");
  LineReader entries(list);
  std::string_view line;
  entries.Next(line);
  LineList fields;
  for (std::size_t page = 0; page < page_list.size(); ++page) {
    out.push_back('[' + std::to_string(page));
    out.back() += ']';
    for (int row = 0; row < 10; ++row) {
      entries.Next(line);
      SplitCommaText(line, LeadBytes::Cp932(), fields);
      std::string entry;
      for (int i = 0; i < fields.Count(); ++i) {
        if (i > 0) entry += ',';
        AppendQuotedField(fields.Get(i), LeadBytes::Cp932(), entry);
      }
      out.push_back(entry);
    }
  }
  out.push_back("**");
  return Join(out);
}

TEST(FormatTest, ManyPagesComeOutWholeAndInOrder) {
  const std::string list = ManyPagesList();
  const std::string pages = ManyPagesPages();
  const std::string expected = ExpectedFormat200(list, pages);
  const std::string written = Convert(list, pages);
  // Compared by hand: the texts are too long to print whole.
  const auto difference =
      std::mismatch(expected.begin(), expected.end(), written.begin(), written.end());
  EXPECT_TRUE(expected == written)
      << "first difference at byte " << difference.first - expected.begin() << " of "
      << expected.size();
}

// Takes bytes until `limit` is reached, then fails as a full disk does.
class FailingSink : public ByteSink {
 public:
  explicit FailingSink(std::size_t limit) : limit_(limit) {}
  void Append(std::string_view bytes) override {
    if (taken_ + bytes.size() > limit_) RaiseWriteError();
    taken_ += bytes.size();
  }

 private:
  std::size_t limit_;
  std::size_t taken_ = 0;
};

TEST(FormatTest, WriteFailureInAnyPartIsRaised) {
  const std::string list = ManyPagesList();
  const std::string pages = ManyPagesPages();
  const std::size_t size = ExpectedFormat200(list, pages).size();
  const Format100Data data = LayOutFormat100(list, pages);
  for (const std::size_t limit : {std::size_t{0}, size / 3, size / 2, size - 3}) {
    FailingSink sink(limit);
    LineWriter writer(sink);
    try {
      WriteFormat200(data, LeadBytes::Cp932(), writer);
      ADD_FAILURE() << "no failure with room for " << limit << " bytes";
    } catch (const Failure& failure) {
      EXPECT_STREQ("EWriteError", failure.kind()) << limit;
    }
  }
}

}  // namespace
}  // namespace kelconv
