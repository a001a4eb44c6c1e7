#include "text/line_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "text/failure.h"

namespace kelconv {
namespace {

using testing::Cp932;

std::vector<std::string> Lines(const LineList& list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list.Count(); ++i) lines.emplace_back(list.Get(i));
  return lines;
}

void Fill(LineList& list, const std::vector<std::string>& lines) {
  for (const auto& line : lines) list.Add(line);
}

TEST(LineListTest, AddInsertDeleteKeepOrder) {
  LineList list;
  EXPECT_EQ(0, list.Add("b"));
  EXPECT_EQ(1, list.Add(""));
  list.Insert(0, "a");
  list.Insert(3, "d");  // at the count: appends
  list.Insert(2, "c");
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "", "d"}), Lines(list));
  list.Delete(0);
  list.Delete(3);
  EXPECT_EQ((std::vector<std::string>{"b", "c", ""}), Lines(list));
  list.Clear();
  EXPECT_EQ(0, list.Count());
  list.Clear();
  EXPECT_EQ(0, list.Count());
  list.Insert(0, "x");
  EXPECT_EQ(std::vector<std::string>{"x"}, Lines(list));
}

TEST(LineListTest, KeepsCopiesOfItsLines) {
  LineList list;
  std::string line = "first";
  list.Add(line);
  line = "changed";
  const std::string_view got = list.Get(0);
  list.Add(std::string(100000, 'x'));  // a new block must not move the old lines
  list.Add(list.Get(0));               // a line of the list itself
  list.Delete(1);
  EXPECT_EQ("first", got);
  EXPECT_EQ((std::vector<std::string>{"first", "first"}), Lines(list));
}

TEST(LineListTest, ReusesItsBlocksAfterClear) {
  LineList list;
  for (int round = 0; round < 3; ++round) {
    list.Clear();
    for (int i = 0; i < 1000; ++i) list.Add(std::to_string(round) + ":" + std::to_string(i));
  }
  EXPECT_EQ(1000, list.Count());
  EXPECT_EQ("2:0", list.Get(0));
  EXPECT_EQ("2:999", list.Get(999));
}

TEST(LineListTest, IndexOutsideBoundsFailsAndChangesNothing) {
  struct Case {
    const char* operation;
    int count;  // lines in the list before
    int index;
    std::function<void(LineList&, int)> call;
  };
  const auto get = [](LineList& list, int index) { list.Get(index); };
  const auto insert = [](LineList& list, int index) { list.Insert(index, "new"); };
  const auto remove = [](LineList& list, int index) { list.Delete(index); };
  const Case kCases[] = {
      {"get", 0, 0, get},       {"get", 2, 2, get},       {"get", 2, -1, get},
      {"insert", 0, 1, insert}, {"insert", 2, 3, insert}, {"insert", 2, -1, insert},
      {"delete", 0, 0, remove}, {"delete", 2, 2, remove}, {"delete", 2, -2147483647 - 1, remove},
  };
  for (const Case& c : kCases) {
    LineList list;
    std::vector<std::string> before;
    for (int i = 0; i < c.count; ++i) before.push_back("line" + std::to_string(i));
    Fill(list, before);
    try {
      c.call(list, c.index);
      ADD_FAILURE() << c.operation << " " << c.index << " did not fail";
    } catch (const Failure& failure) {
      EXPECT_STREQ("EStringListError", failure.kind()) << c.operation << " " << c.index;
      EXPECT_EQ(Cp932("リストのインデックスが範囲を超えています (" + std::to_string(c.index) + ")"),
                failure.message())
          << c.operation << " " << c.index;
    }
    EXPECT_EQ(before, Lines(list)) << c.operation << " " << c.index;
  }
}

}  // namespace
}  // namespace kelconv
