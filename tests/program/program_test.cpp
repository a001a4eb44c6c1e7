// The program itself, run as a child process in temp folders and answered on standard input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace kelconv {
namespace {

using testing::Cp932;
using testing::FolderEntries;
using testing::ReadBytes;
using testing::ScopedTempDir;
using testing::WriteBytes;

namespace fs = std::filesystem;

struct Limits {
  std::optional<rlim_t> file_size;
  bool ignore_file_size_signal = false;
  std::optional<rlim_t> address_space;
  bool output_to_full_device = false;
};

Limits FileSizeLimit(rlim_t bytes, bool ignore_signal) {
  Limits limits;
  limits.file_size = bytes;
  limits.ignore_file_size_signal = ignore_signal;
  return limits;
}

Limits MemoryLimit(rlim_t bytes) {
  Limits limits;
  limits.address_space = bytes;
  return limits;
}

Limits OutputToFullDevice() {
  Limits limits;
  limits.output_to_full_device = true;
  return limits;
}

struct Result {
  int exit_code = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(got));
  ::close(fd);
  return text;
}

// Runs the program in the working folder with `input` on standard input and the C.UTF-8
// locale, so that box texts arrive as UTF-8.
Result RunProgram(const std::string& input, const Limits& limits = {},
                  const std::vector<std::string>& arguments = {}) {
  const std::string in_path = "../kelconv-input-" + std::to_string(::getpid());
  WriteBytes(in_path, input);
  int out_pipe[2], err_pipe[2];
  EXPECT_EQ(0, ::pipe(out_pipe));
  EXPECT_EQ(0, ::pipe(err_pipe));
  const pid_t child = ::fork();
  if (child == 0) {
    const int in = ::open(in_path.c_str(), O_RDONLY);
    ::dup2(in, STDIN_FILENO);
    if (limits.output_to_full_device) {
      const int full = ::open("/dev/full", O_WRONLY);
      ::dup2(full, STDOUT_FILENO);
      ::dup2(full, STDERR_FILENO);
    } else {
      ::dup2(out_pipe[1], STDOUT_FILENO);
      ::dup2(err_pipe[1], STDERR_FILENO);
    }
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    if (limits.file_size) {
      const rlimit limit{*limits.file_size, *limits.file_size};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ::signal(SIGXFSZ, limits.ignore_file_size_signal ? SIG_IGN : SIG_DFL);
    if (limits.address_space) {
      const rlimit limit{*limits.address_space, *limits.address_space};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    std::vector<char*> argv = {const_cast<char*>(KELCONV_PROGRAM)};
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    char locale[] = "LC_ALL=C.UTF-8";
    char* env[] = {locale, nullptr};
    ::execve(KELCONV_PROGRAM, argv.data(), env);
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  Result result;
  std::thread err_reader([&] { result.err = Drain(err_pipe[0]); });
  result.out = Drain(out_pipe[0]);
  err_reader.join();
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  fs::remove(in_path);
  return result;
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
void ExpectFailureAndExampleUnchanged(const Result& result, const std::string& kind,
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
    const Result result = RunProgram(c.answer);
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
  Result result = RunProgram("", {}, {"--help", "kelrun.lst"});
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
    const Result result = RunProgram("y\n");
    ::close(holder);
    ExpectFailureAndExampleUnchanged(result, "EFOpenError",
                                     std::string("ファイル ") + file + " は開けません\\.");
  }
}

TEST(ProgramTest, ReadOnlyListFileIsNotReplaced) {
  ScopedTempDir dir;
  CopyExample();
  ASSERT_EQ(0, ::chmod("kelrun.lst", 0444));
  const Result result = RunProgram("y\n");
  ExpectFailureAndExampleUnchanged(result, "EFCreateError",
                                   "ファイル kelrun.lst を作成できません\\.");
}

TEST(ProgramTest, FailedWriteKeepsTheOldData) {
  ScopedTempDir dir;
  CopyExample();
  const Result result = RunProgram("y\n", FileSizeLimit(100, /*ignore_signal=*/true));
  ExpectFailureAndExampleUnchanged(result, "EWriteError", "ストリームへの書き込みエラー\\.");
}

TEST(ProgramTest, RunKilledWhileWritingKeepsTheOldDataAndTheNextRunConverts) {
  ScopedTempDir dir;
  CopyExample();
  const Result killed = RunProgram("y\n", FileSizeLimit(100, /*ignore_signal=*/false));
  EXPECT_EQ(SIGXFSZ, killed.signal);
  EXPECT_EQ(ReadBytes(kExampleDir + "/kelrun.lst"), ReadBytes("kelrun.lst"));
  EXPECT_EQ(ReadBytes(kExampleDir + "/kelrun.tab"), ReadBytes("kelrun.tab"));
  EXPECT_EQ(3u, FolderEntries(".").size());  // the new file it was writing stays behind

  const Result next = RunProgram("y\n");
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
  const Result result = RunProgram("y\n", MemoryLimit(128u << 20));
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
    const Result result = RunProgram("y\n", OutputToFullDevice());
    EXPECT_EQ(c.exit_code, result.exit_code) << c.what;
    // A question that could not be shown is not answered Yes.
    EXPECT_EQ(ReadBytes(kExampleDir + "/kelrun.tab"), ReadBytes("kelrun.tab")) << c.what;
  }
  ScopedTempDir dir;
  const Result result = RunProgram("", OutputToFullDevice());
  EXPECT_EQ(0, result.exit_code);
}

}  // namespace
}  // namespace kelconv
