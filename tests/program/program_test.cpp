// The program itself, run as a child process in temp folders and answered on standard input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/test_support.h"

namespace kelconv {
namespace {

using testing::Cp932;
using testing::FolderEntries;
using testing::ReadBytes;
using testing::ScopedTempDir;
using testing::WriteBytes;

namespace fs = std::filesystem;

using testing::ChildOptions;
using testing::ChildResult;

ChildOptions FileSizeLimit(rlim_t bytes, bool ignore_signal) {
  ChildOptions options;
  options.file_size = bytes;
  options.ignore_file_size_signal = ignore_signal;
  return options;
}

ChildOptions MemoryLimit(rlim_t bytes) {
  ChildOptions options;
  options.address_space = bytes;
  return options;
}

ChildOptions OutputToFullDevice() {
  ChildOptions options;
  options.output_to_full_device = true;
  return options;
}

// Runs the program in the working folder with `input` on standard input.
ChildResult RunProgram(const std::string& input, ChildOptions options = {}) {
  options.input = input;
  return testing::RunChild(KELCONV_PROGRAM, options);
}

const std::string kExampleDir = KELCONV_EXAMPLES_DIR "/basic";
const std::string kQuestion =
    "データーファイルを最新のバージョンに変換しますか？\n\nkelrun.lst: ver 1.00 -->> 2.00\n";
const std::string kClosing = "データー変換が終了しました\n";

void CopyExample() {
  fs::copy_file(kExampleDir + "/kelrun.lst", "kelrun.lst");
  fs::copy_file(kExampleDir + "/kelrun.tab", "kelrun.tab");
}

// Expects the failure report on standard error, exit code 1, and the example data unchanged.
void ExpectFailureAndExampleUnchanged(const ChildResult& result, const std::string& kind,
                                      const std::string& message) {
  EXPECT_EQ(1, result.exit_code) << result.err;
  const std::regex report(kind + "がモジュール kelconv の [0-9A-F]{8} で発生しました。\n" +
                          message + "\n");
  EXPECT_TRUE(std::regex_search(result.err, report)) << result.err;
  EXPECT_NE(std::string::npos, result.err.find("アプリケーション エラー")) << result.err;
  EXPECT_EQ(ReadBytes(kExampleDir + "/kelrun.lst"), ReadBytes("kelrun.lst"));
  EXPECT_EQ(ReadBytes(kExampleDir + "/kelrun.tab"), ReadBytes("kelrun.tab"));
  EXPECT_EQ((std::vector<std::string>{"kelrun.lst", "kelrun.tab"}), FolderEntries("."));
}

TEST(ProgramTest, ConvertsTheExampleOnYes) {
  struct Case {
    const char* answer;
    bool converts;
  };
  const Case kCases[] = {
      {"y\n", true},  {"\n", true},    {"YES\n", true}, {"maybe\nYes\n", true},
      {"n\n", false}, {"No\n", false}, {"", false},     {"what\n", false},
  };
  for (const Case& c : kCases) {
    ScopedTempDir dir;
    CopyExample();
    const ChildResult result = RunProgram(c.answer);
    EXPECT_EQ(0, result.exit_code) << c.answer;
    EXPECT_NE(std::string::npos, result.out.find(kQuestion)) << result.out;
    EXPECT_NE(std::string::npos, result.out.find("Kelvado データーコンバーター v1.1"));
    EXPECT_EQ(c.converts, result.out.find(kClosing) != std::string::npos) << c.answer;
    if (c.converts) {
      EXPECT_EQ(ReadBytes(kExampleDir + "/expected/kelrun.lst"), ReadBytes("kelrun.lst"));
      EXPECT_EQ(std::vector<std::string>{"kelrun.lst"}, FolderEntries("."));
    } else {
      EXPECT_EQ(ReadBytes(kExampleDir + "/kelrun.lst"), ReadBytes("kelrun.lst")) << c.answer;
      EXPECT_EQ(ReadBytes(kExampleDir + "/kelrun.tab"), ReadBytes("kelrun.tab")) << c.answer;
    }
    EXPECT_EQ("", result.err);
  }
}

TEST(ProgramTest, EarlyStopsAndArgumentsChangeNothing) {
  ScopedTempDir dir;
  ChildOptions with_arguments;
  with_arguments.arguments = {"--help", "kelrun.lst"};
  ChildResult result = RunProgram("", with_arguments);
  EXPECT_EQ(0, result.exit_code);
  EXPECT_NE(std::string::npos,
            result.out.find("データーファイル[kelrun.lst]が見つからない為、終了します\n"))
      << result.out;

  WriteBytes("kelrun.lst", "\"APP=Kelvado\",\"VER=2.00\"\r\n");
  result = RunProgram("y\n");
  EXPECT_EQ(0, result.exit_code);
  EXPECT_NE(
      std::string::npos,
      result.out.find("データーファイルは最新バージョンの為、終了します\n\nkelrun.lst: ver 2.00\n"))
      << result.out;
}

TEST(ProgramTest, LockedFilesFailToOpen) {
  for (const char* file : {"kelrun.lst", "kelrun.tab"}) {
    ScopedTempDir dir;
    CopyExample();
    // flock() locks belong to the open file, so the child's attempt conflicts with ours.
    const int holder = ::open(file, O_RDONLY);
    ASSERT_EQ(0, ::flock(holder, LOCK_EX));
    const ChildResult result = RunProgram("y\n");
    ::close(holder);
    ExpectFailureAndExampleUnchanged(result, "EFOpenError",
                                     std::string("ファイル ") + file + " は開けません\\.");
  }
}

TEST(ProgramTest, ReadOnlyListFileIsNotReplaced) {
  ScopedTempDir dir;
  CopyExample();
  ASSERT_EQ(0, ::chmod("kelrun.lst", 0444));
  const ChildResult result = RunProgram("y\n");
  ExpectFailureAndExampleUnchanged(result, "EFCreateError",
                                   "ファイル kelrun.lst を作成できません\\.");
}

TEST(ProgramTest, FailedWriteKeepsTheOldData) {
  ScopedTempDir dir;
  CopyExample();
  const ChildResult result = RunProgram("y\n", FileSizeLimit(100, /*ignore_signal=*/true));
  ExpectFailureAndExampleUnchanged(result, "EWriteError", "ストリームへの書き込みエラー\\.");
}

TEST(ProgramTest, RunKilledWhileWritingKeepsTheOldDataAndTheNextRunConverts) {
  ScopedTempDir dir;
  CopyExample();
  const ChildResult killed = RunProgram("y\n", FileSizeLimit(100, /*ignore_signal=*/false));
  EXPECT_EQ(SIGXFSZ, killed.signal);
  EXPECT_EQ(ReadBytes(kExampleDir + "/kelrun.lst"), ReadBytes("kelrun.lst"));
  EXPECT_EQ(ReadBytes(kExampleDir + "/kelrun.tab"), ReadBytes("kelrun.tab"));
  EXPECT_EQ(3u, FolderEntries(".").size());  // the new file it was writing stays behind

  const ChildResult next = RunProgram("y\n");
  EXPECT_EQ(0, next.exit_code) << next.err;
  EXPECT_EQ(ReadBytes(kExampleDir + "/expected/kelrun.lst"), ReadBytes("kelrun.lst"));
  EXPECT_EQ(std::vector<std::string>{"kelrun.lst"}, FolderEntries("."));
}

TEST(ProgramTest, OutOfMemoryIsReported) {
#ifdef KELCONV_SANITIZED
  GTEST_SKIP() << "a sanitized program cannot start under an address-space limit";
#endif
  ScopedTempDir dir;
  CopyExample();
  // A list file far larger than the memory the program may have.
  std::string large = ReadBytes("kelrun.lst");
  large.resize(256u << 20, 'x');
  WriteBytes("kelrun.lst", large);
  const ChildResult result = RunProgram("y\n", MemoryLimit(128u << 20));
  EXPECT_EQ(1, result.exit_code);
  EXPECT_TRUE(
      std::regex_search(result.err, std::regex("EOutOfMemoryがモジュール kelconv の [0-9A-F]{8} "
                                               "で発生しました。\nメモリが足りません\\.\n")))
      << result.err;
  EXPECT_EQ(large.size(), fs::file_size("kelrun.lst"));
  EXPECT_EQ(ReadBytes(kExampleDir + "/kelrun.tab"), ReadBytes("kelrun.tab"));
}

TEST(ProgramTest, OutputThatCannotBeWrittenNeitherCrashesNorHangs) {
  struct Case {
    const char* what;
    const char* list;  // nullptr: the example
    int exit_code;
  };
  const Case kCases[] = {
      {"message", "", 1},  // an empty list file: the failure report
      {"question", nullptr, 0},
  };
  for (const Case& c : kCases) {
    ScopedTempDir dir;
    CopyExample();
    if (c.list != nullptr) WriteBytes("kelrun.lst", c.list);
    const ChildResult result = RunProgram("y\n", OutputToFullDevice());
    EXPECT_EQ(c.exit_code, result.exit_code) << c.what;
    // A question that could not be shown is not answered Yes.
    EXPECT_EQ(ReadBytes(kExampleDir + "/kelrun.tab"), ReadBytes("kelrun.tab")) << c.what;
  }
  ScopedTempDir dir;
  const ChildResult result = RunProgram("", OutputToFullDevice());
  EXPECT_EQ(0, result.exit_code);
}

}  // namespace
}  // namespace kelconv
