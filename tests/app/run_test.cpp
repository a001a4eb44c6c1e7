#include "app/run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kelconv {
namespace {

using testing::Cp932;
using testing::FolderEntries;
using testing::ReadBytes;
using testing::RecordingMessageBox;
using testing::ScopedTempDir;
using testing::WriteBytes;
using Kind = RecordingMessageBox::Kind;

TEST(RunTest, ChangesExtensions) {
  struct Case {
    std::string name;
    std::string extension;
    std::string result;
  };
  const Case kCases[] = {
      {"kelrun.exe", ".lst", "kelrun.lst"},
      {"kelrun.lst", ".tab", "kelrun.tab"},
      {"kelrun", ".lst", "kelrun.lst"},
      {"a.b.c", ".x", "a.b.x"},
      {"dir.d\\name", ".x", "dir.d\\name.x"},
      {"c:name", ".x", "c:name.x"},
      {"c:.name", ".x", "c:.x"},
      {".exe", ".lst", ".lst"},
      {"", ".lst", ".lst"},
      // The second byte of "表" is 0x5C, a backslash when read alone: it does not count.
      {"a.\x95\x5C", ".x", "a.x"},
      {"\x95\x5C.exe", ".lst", "\x95\x5C.lst"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.result, ChangeExtension(c.name, c.extension, LeadBytes::Cp932())) << c.name;
  }
}

TEST(RunTest, OrdersVersionsByteByByte) {
  struct Case {
    std::string version;
    bool newer;
  };
  const Case kCases[] = {
      {"", false},      {"1", false},    {"1.0", false},  {"1.00", false},       {"0.99", false},
      {"01.00", false}, {"1,00", false}, {"1.000", true}, {"1.01", true},        {"1.0a", true},
      {"2.00", true},   {"10", true},    {"V1.00", true}, {"\x82\x50.00", true},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.newer, IsNewerThanConvertible(c.version)) << c.version;
  }
}

TEST(RunTest, FailureReportNamesKindModulePlaceAndMessage) {
  struct Case {
    std::string message;
    std::uintptr_t offset;
    std::string report;
  };
  const Case kCases[] = {
      {Cp932("ファイル kelrun.lst は開けません"), 0x1A2B,
       "EFOpenError" + Cp932("がモジュール kelconv.exe の 00001A2B で発生しました。\n") +
           Cp932("ファイル kelrun.lst は開けません.")},
      {"ends in a dot.", 0xFEDCBA98,
       "EFOpenError" + Cp932("がモジュール kelconv.exe の FEDCBA98 で発生しました。\n") +
           "ends in a dot."},
      {"", 0, "EFOpenError" + Cp932("がモジュール kelconv.exe の 00000000 で発生しました。\n")},
  };
  for (const Case& c : kCases) {
    const Failure failure("EFOpenError", c.message, nullptr);
    EXPECT_EQ(c.report, FailureReportText(failure, {"kelconv.exe", c.offset})) << c.message;
  }
}

const std::string kCaption = Cp932("Kelvado データーコンバーター v1.1");

struct Outcome {
  int exit_code;
  std::vector<RecordingMessageBox::Shown> shown;
};

Outcome RunWith(std::vector<bool> answers = {}) {
  RecordingMessageBox box;
  for (bool answer : answers) box.AnswerNext(answer);
  const std::unique_ptr<FileSystem> files = NewPlatformFileSystem();
  const int exit_code = RunConverter(*files, box);
  return {exit_code, box.shown()};
}

std::string TenPagesOf(std::string_view entry) {
  std::string text;
  for (int i = 0; i < 10; ++i) {
    text += entry;
    text += "\r\n";
  }
  return text;
}

// Every way out of a run that ends with an information message, and no file changed.
TEST(RunTest, EarlyStopsTellWhyAndChangeNothing) {
  struct Case {
    const char* what;
    std::string list;  // "<none>": no list file; "<folder>": a folder of that name
    std::string pages;
    std::string message;  // UTF-8, CR as \r
  };
  const std::string no_list = "データーファイル[kelrun.lst]が見つからない為、終了します";
  const std::string foreign = "該当アプリケーションのデーターファイルではない為、終了します";
  const std::string newest = "データーファイルは最新バージョンの為、終了します\r\rkelrun.lst: ver ";
  const std::string no_pages = "必要なデーターファイル[kelrun.tab]が見つからない為、終了します";
  const Case kCases[] = {
      {"no list file", "<none>", "p\r\n", no_list},
      {"list file is a folder", "<folder>", "p\r\n", no_list},
      {"one empty line", "\r\n", "p\r\n", foreign},
      {"APP in other case", "APP=kelvado,VER=1.00\r\n", "p\r\n", foreign},
      {"APP with a blank", "\"APP=Kelvado \",VER=1.00\r\n", "p\r\n", foreign},
      {"foreign beats newer", "APP=Other,VER=9.00\r\n", "p\r\n", foreign},
      {"foreign beats no pages", "APP=Other\r\n", "<none>", foreign},
      {"already 2.00", "\"APP=Kelvado\",\"VER=2.00\"\r\n", "p\r\n", newest + "2.00"},
      {"1.000", "APP=Kelvado,VER=1.000\r\n", "p\r\n", newest + "1.000"},
      {"double-byte version", "APP=Kelvado,VER=\x82\x51\r\n", "p\r\n", newest + "２"},
      {"newer beats no pages", "APP=Kelvado,VER=2.00\r\n", "<none>", newest + "2.00"},
      {"no page file", "app=Kelvado,ver=1.00\r\n", "<none>", no_pages},
      {"page file is a folder", "APP=Kelvado\r\n", "<folder>", no_pages},
  };
  for (const Case& c : kCases) {
    ScopedTempDir dir;
    if (c.list == "<folder>") {
      std::filesystem::create_directory("kelrun.lst");
    } else if (c.list != "<none>") {
      WriteBytes("kelrun.lst", c.list);
    }
    if (c.pages == "<folder>") {
      std::filesystem::create_directory("kelrun.tab");
    } else if (c.pages != "<none>") {
      WriteBytes("kelrun.tab", c.pages);
    }
    const auto before = FolderEntries(dir.path());
    const Outcome outcome = RunWith({true});
    EXPECT_EQ(0, outcome.exit_code) << c.what;
    ASSERT_EQ(1u, outcome.shown.size()) << c.what;
    EXPECT_EQ(Kind::kInform, outcome.shown[0].kind) << c.what;
    EXPECT_EQ(kCaption, outcome.shown[0].caption) << c.what;
    EXPECT_EQ(Cp932(c.message), outcome.shown[0].text) << c.what;
    EXPECT_EQ(before, FolderEntries(dir.path())) << c.what;
    if (c.list[0] != '<') {
      EXPECT_EQ(c.list, ReadBytes("kelrun.lst")) << c.what;
    }
    if (c.pages[0] != '<') {
      EXPECT_EQ(c.pages, ReadBytes("kelrun.tab")) << c.what;
    }
  }
}

TEST(RunTest, QuestionShowsVersionsAndNoChangesNothing) {
  struct Case {
    std::string header;
    std::string version_line;
  };
  const Case kCases[] = {
      {"APP=Kelvado,VER=1.00", "kelrun.lst: ver 1.00 -->> 2.00"},
      {"APP=Kelvado", "kelrun.lst: ver  -->> 2.00"},
      {"APP=Kelvado,VER=0.99,extra", "kelrun.lst: ver 0.99 -->> 2.00"},
  };
  for (const Case& c : kCases) {
    ScopedTempDir dir;
    const std::string list = c.header + "\r\n" + TenPagesOf("a,b");
    WriteBytes("kelrun.lst", list);
    WriteBytes("kelrun.tab", "page\r\n");
    const Outcome outcome = RunWith({false});
    EXPECT_EQ(0, outcome.exit_code);
    ASSERT_EQ(1u, outcome.shown.size()) << c.header;
    EXPECT_EQ(Kind::kAsk, outcome.shown[0].kind);
    EXPECT_EQ(kCaption, outcome.shown[0].caption);
    EXPECT_EQ(Cp932("データーファイルを最新のバージョンに変換しますか？\r\r" + c.version_line),
              outcome.shown[0].text);
    EXPECT_EQ(list, ReadBytes("kelrun.lst"));
    EXPECT_EQ("page\r\n", ReadBytes("kelrun.tab"));
    EXPECT_EQ((std::vector<std::string>{"kelrun.lst", "kelrun.tab"}), FolderEntries(dir.path()));
  }
}

TEST(RunTest, YesConvertsDeletesPageFileAndSaysSo) {
  ScopedTempDir dir;
  WriteBytes("kelrun.lst", "APP=Kelvado,VER=1.00\r\n" + TenPagesOf("\"say \"\"hi\"\"\",x"));
  WriteBytes("kelrun.tab", Cp932("メイン") + "\r\n");
  const Outcome outcome = RunWith({true});
  EXPECT_EQ(0, outcome.exit_code);
  ASSERT_EQ(2u, outcome.shown.size());
  EXPECT_EQ(Kind::kAsk, outcome.shown[0].kind);
  EXPECT_EQ(Kind::kInform, outcome.shown[1].kind);
  EXPECT_EQ(kCaption, outcome.shown[1].caption);
  EXPECT_EQ(Cp932("データー変換が終了しました"), outcome.shown[1].text);
  std::string expected =
      "\"APP=Kelvado\",\"VER=2.00\",\"MAXPAGES=0\",\"MAXREGIST=0\",\"ONCEINS=-1\","
      "\"ONCEDEL=-1\"\r\n1\r\n" +
      Cp932("メイン") + ",10\r\n[0]\r\n";
  for (int i = 0; i < 10; ++i) expected += "\"say \"\"hi\"\"\",\"x\"\r\n";
  expected += "**\r\n";
  EXPECT_EQ(expected, ReadBytes("kelrun.lst"));
  EXPECT_EQ(std::vector<std::string>{"kelrun.lst"}, FolderEntries(dir.path()));
}

TEST(RunTest, FailuresEndInTheReportWithExitCodeOne) {
  struct Case {
    const char* what;
    std::string list;
    std::string pages;
    int answers;  // how many questions are answered Yes
    std::string kind;
    std::string message;  // UTF-8
  };
  const std::string header = "APP=Kelvado,VER=1.00\r\n";
  const Case kCases[] = {
      {"empty list file", "", "p\r\n", 0, "EStringListError",
       "リストのインデックスが範囲を超えています (0)."},
      {"list file starting with NUL", std::string("\0APP=Kelvado\r\n", 14), "p\r\n", 0,
       "EStringListError", "リストのインデックスが範囲を超えています (0)."},
      {"seven entry lines for one page", header + "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n", "p\r\n", 1,
       "EStringListError", "リストのインデックスが範囲を超えています (7)."},
      {"fifteen entry lines for two pages", header + TenPagesOf("x") + "1\n2\n3\n4\n5\n",
       "p\r\nq\r\n", 1, "EStringListError", "リストのインデックスが範囲を超えています (5)."},
  };
  for (const Case& c : kCases) {
    ScopedTempDir dir;
    WriteBytes("kelrun.lst", c.list);
    WriteBytes("kelrun.tab", c.pages);
    const Outcome outcome = RunWith(std::vector<bool>(static_cast<std::size_t>(c.answers), true));
    EXPECT_EQ(1, outcome.exit_code) << c.what;
    ASSERT_EQ(static_cast<std::size_t>(c.answers + 1), outcome.shown.size()) << c.what;
    const auto& report = outcome.shown.back();
    EXPECT_EQ(Kind::kFailure, report.kind) << c.what;
    EXPECT_EQ(Cp932("アプリケーション エラー"), report.caption) << c.what;
    const std::string first_line = report.text.substr(0, report.text.find('\n'));
    EXPECT_TRUE(first_line.starts_with(c.kind + Cp932("がモジュール ")))
        << c.what << ": " << testing::Utf8(report.text);
    EXPECT_TRUE(first_line.ends_with(Cp932(" で発生しました。"))) << c.what;
    EXPECT_EQ(Cp932(c.message), report.text.substr(report.text.find('\n') + 1)) << c.what;
    EXPECT_EQ(c.list, ReadBytes("kelrun.lst")) << c.what;
    EXPECT_EQ(c.pages, ReadBytes("kelrun.tab")) << c.what;
    EXPECT_EQ((std::vector<std::string>{"kelrun.lst", "kelrun.tab"}), FolderEntries(dir.path()))
        << c.what;
  }
}

}  // namespace
}  // namespace kelconv
