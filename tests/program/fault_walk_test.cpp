// The fault walk: a whole conversion, run again and again by the fault-seam build of the
// program, with the Nth file operation failing, or the process dying there (with or without a
// power loss), for N = 1, 2, 3, ... until no operation is left to fault. After every run the
// data must be whole: the list file is the old file or the complete new one and nothing else,
// the page file is gone only with the new list file, no new file is left after a failure and
// none piles up after crashes, and the next plain run finishes the job.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
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

constexpr int kMaxOperations = 1000;  // a walk that runs longer has lost its way

using testing::ChildResult;

// Runs `program` in the working folder, answering "y", with `environment` besides the C.UTF-8
// locale.
ChildResult RunChild(const char* program, std::vector<std::string> environment = {}) {
  testing::ChildOptions options;
  options.input = "y\n";
  options.environment = std::move(environment);
  return testing::RunChild(program, options);
}

// One file operation as the seam traced it.
struct Operation {
  std::string kind;
  std::string path;  // the base name, or empty
};

struct Trace {
  std::vector<Operation> done;  // before the one that fired
  std::optional<Operation> fired;
};

Trace ReadTrace(const fs::path& path) {
  Trace trace;
  std::istringstream lines(ReadBytes(path));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string first;
    Operation operation;
    words >> first;
    const bool fired = first == "fired";
    if (fired) words >> first;  // the number, which the order of lines tells as well
    words >> operation.kind >> operation.path;
    operation.path = fs::path(operation.path).filename().string();
    if (fired) {
      trace.fired = operation;
    } else {
      trace.done.push_back(operation);
    }
  }
  return trace;
}

struct DataSet {
  std::string name;
  std::string list;
  std::string pages;
  std::string converted;  // the complete format 2.00 list file
  std::string leftover;   // a new file that a dead run left behind, if any
};

// What a run whose only fault is an operation that failed must end with.
struct Outcome {
  const char* kind = nullptr;  // nullptr: the conversion finishes, exit code 0
  std::string message;         // UTF-8
  bool list_replaced = false;
};

// The failure that the platform's error at `fired` must become, after the operations `done`.
Outcome ExpectedOutcome(const Operation& fired, const std::vector<Operation>& done) {
  // A lock is taken on the file that was opened last; the list file is opened once to be
  // read and once more to be replaced.
  std::string file;
  int list_opens = 0;
  bool renamed = false;
  for (const Operation& operation : done) {
    if (operation.kind == "open") {
      file = operation.path;
      if (file == "kelrun.lst") ++list_opens;
    }
    if (operation.kind == "rename") renamed = true;
  }
  if (fired.kind == "open") {
    file = fired.path;
    if (file == "kelrun.lst") ++list_opens;
  }
  const std::string cannot_create = "ファイル kelrun.lst を作成できません";
  if (fired.kind == "open" || fired.kind == "lock") {
    if (file == "kelrun.lst" && list_opens > 1) return {"EFCreateError", cannot_create};
    return {"EFOpenError", "ファイル " + file + " は開けません"};
  }
  if (fired.kind == "read") return {"EReadError", "ストリームからの読み込みエラー"};
  if (fired.kind == "create" || fired.kind == "rename") return {"EFCreateError", cannot_create};
  if (fired.kind == "write" || fired.kind == "flush") {
    // A folder that cannot be flushed after the rename leaves the new list file in place, but
    // the page file must stay: the rename may not survive a power loss.
    return {"EWriteError", "ストリームへの書き込みエラー", renamed};
  }
  // A large file that cannot be mapped is read instead. Deleting the page file, or scanning
  // for and deleting the leftovers of dead runs: their failure is not looked at.
  return {nullptr, "", true};
}

std::vector<std::string> NewFiles() {
  std::vector<std::string> found;
  for (const std::string& name : FolderEntries(".")) {
    if (name != "kelrun.lst" && name != "kelrun.tab") found.push_back(name);
  }
  return found;
}

// What must hold after any run, whatever happened to it.
void ExpectDataWhole(const DataSet& data, const std::string& where) {
  const std::string list = ReadBytes("kelrun.lst");
  const bool converted = list == data.converted;
  EXPECT_TRUE(converted || list == data.list) << where << ": list file is neither old nor new";
  const std::string pages = ReadBytes("kelrun.tab");
  if (pages == "<missing>") {
    EXPECT_TRUE(converted) << where << ": page file gone, list file not converted";
  } else {
    EXPECT_EQ(data.pages, pages) << where;
  }
}

// The next plain run after any run: it converts what is left to convert, removing every new
// file of dead runs, or finds the list file converted already, says so and touches nothing.
void ExpectNextRunFinishes(const DataSet& data, const std::string& where) {
  const bool was_converted = ReadBytes("kelrun.lst") == data.converted;
  const std::vector<std::string> new_files = NewFiles();
  const ChildResult next = RunChild(KELCONV_PROGRAM);
  EXPECT_EQ(0, next.exit_code) << where << next.err;
  EXPECT_EQ(data.converted, ReadBytes("kelrun.lst")) << where;
  if (was_converted) {
    EXPECT_NE(std::string::npos,
              next.out.find("データーファイルは最新バージョンの為、終了します\n\nkelrun.lst: "
                            "ver 2.00\n"))
        << where << next.out;
    EXPECT_EQ(new_files, NewFiles()) << where;
  } else {
    EXPECT_NE(std::string::npos, next.out.find("データー変換が終了しました")) << where;
    EXPECT_EQ("<missing>", ReadBytes("kelrun.tab")) << where;
    EXPECT_TRUE(NewFiles().empty()) << where;
  }
}

class FaultWalkTest : public ::testing::TestWithParam<const char*> {
 protected:
  // Walks every file operation of a conversion of `data`.
  void Walk(const DataSet& data) {
    const std::string mode = GetParam();
    bool finished = false;
    for (int n = 1; n <= kMaxOperations && !finished; ++n) {
      const std::string where = data.name + " " + mode + ":" + std::to_string(n);
      ScopedTempDir dir;
      WriteBytes("kelrun.lst", data.list);
      WriteBytes("kelrun.tab", data.pages);
      if (!data.leftover.empty()) WriteBytes(data.leftover, "half written");
      const fs::path trace_path = dir.path().string() + ".trace";
      fs::remove(trace_path);
      const std::vector<std::string> environment = {
          "KELCONV_FAULT=" + mode + ":" + std::to_string(n),
          "KELCONV_FAULT_TRACE=" + trace_path.string()};
      const ChildResult result = RunChild(KELCONV_FAULT_PROGRAM, environment);
      const Trace trace = ReadTrace(trace_path);
      fs::remove(trace_path);

      if (!trace.fired) {
        // Past the last operation: the run must have converted, untouched.
        EXPECT_EQ(0, result.exit_code) << where << result.err;
        EXPECT_EQ(data.converted, ReadBytes("kelrun.lst")) << where;
        EXPECT_EQ(std::vector<std::string>{"kelrun.lst"}, FolderEntries(".")) << where;
        EXPECT_GT(n, 5) << where << ": too few operations seen";
        finished = true;
        continue;
      }
      const std::string what = where + " (" + trace.fired->kind + " " + trace.fired->path + ")";
      ExpectDataWhole(data, what);
      // A run that put the new list file in place removed every new file of dead runs on the
      // way, and its own new file is the list file now; only a failed removal leaves one.
      const bool removal_failed =
          mode == "fail" && (trace.fired->kind == "scan" ||
                             (trace.fired->kind == "delete" && trace.fired->path != "kelrun.tab"));
      if (ReadBytes("kelrun.lst") == data.converted && !removal_failed) {
        EXPECT_TRUE(NewFiles().empty()) << what;
      }
      if (mode == "fail") {
        bool leftover_removed = false;
        for (const Operation& operation : trace.done) {
          leftover_removed |= operation.kind == "delete" && operation.path == data.leftover;
        }
        std::vector<std::string> left;
        if (!data.leftover.empty() && !leftover_removed) left.push_back(data.leftover);
        ExpectFailure(data, result, ExpectedOutcome(*trace.fired, trace.done), left, what);
      } else {
        EXPECT_EQ(SIGKILL, result.signal) << what << result.err;
        EXPECT_LE(NewFiles().size(), 1u) << what;
        // Dying at the same point once more must not pile up a second new file.
        RunChild(KELCONV_FAULT_PROGRAM, environment);
        fs::remove(trace_path);
        ExpectDataWhole(data, what + ", twice");
        EXPECT_LE(NewFiles().size(), 1u) << what << ", twice";
      }
      ExpectNextRunFinishes(data, what);
      if (HasFailure()) return;  // one broken point tells enough
    }
    EXPECT_TRUE(finished) << data.name << ": more than " << kMaxOperations << " operations";
  }

  // `left` is what must be left of the new files of dead runs.
  void ExpectFailure(const DataSet& data, const ChildResult& result, const Outcome& outcome,
                     const std::vector<std::string>& left, const std::string& where) {
    EXPECT_EQ(left, NewFiles()) << where;
    if (outcome.kind == nullptr) {
      EXPECT_EQ(0, result.exit_code) << where << result.err;
      EXPECT_EQ(data.converted, ReadBytes("kelrun.lst")) << where;
      return;
    }
    EXPECT_EQ(1, result.exit_code) << where << result.err;
    const std::regex report(std::string("\\(x\\) アプリケーション エラー\n") + outcome.kind +
                            "がモジュール kelconv_faults の [0-9A-F]{8} で発生しました。\n" +
                            outcome.message + "\\.\n");
    EXPECT_TRUE(std::regex_search(result.err, report)) << where << "\n" << result.err;
    EXPECT_EQ(outcome.list_replaced ? data.converted : data.list, ReadBytes("kelrun.lst")) << where;
    EXPECT_EQ(data.pages, ReadBytes("kelrun.tab")) << where;
  }
};

DataSet ExampleData() {
  const std::string folder = KELCONV_EXAMPLES_DIR "/basic/";
  return {"example", ReadBytes(folder + "kelrun.lst"), ReadBytes(folder + "kelrun.tab"),
          ReadBytes(folder + "expected/kelrun.lst"), ""};
}

// Data large enough that the new list file is written in several pieces. Its converted form
// is what a plain run makes of it; the walk checks that faults never leave anything else.
DataSet LargeData() {
  DataSet data{"large", "\"APP=Kelvado\",\"VER=1.00\"\r\n", "", "", ""};
  const std::string name = Cp932("ページ");
  const std::string entry = Cp932("\"メモ帳 \"\"ノート\"\"\",C:\\Windows\\notepad.exe, ,1\r\n");
  for (int page = 0; page < 12000; ++page) {
    data.pages += name + std::to_string(page) + "\r\n";
    for (int row = 0; row < 10; ++row) data.list += row % 3 == 0 ? "\r\n" : entry;
  }
  ScopedTempDir dir;
  WriteBytes("kelrun.lst", data.list);
  WriteBytes("kelrun.tab", data.pages);
  const ChildResult result = RunChild(KELCONV_PROGRAM);
  EXPECT_EQ(0, result.exit_code) << result.err;
  data.converted = ReadBytes("kelrun.lst");
  EXPECT_EQ(12 * 12000 + 3, std::count(data.converted.begin(), data.converted.end(), '\n'));
  EXPECT_GT(data.converted.size(), std::size_t{2} << 20);
  return data;
}

TEST_P(FaultWalkTest, ExampleData) { Walk(ExampleData()); }

TEST_P(FaultWalkTest, LargeData) { Walk(LargeData()); }

// The scan for and removal of what a dead run left behind fail or die in turn as well.
TEST_P(FaultWalkTest, ExampleDataWithTheNewFileOfADeadRun) {
  DataSet data = ExampleData();
  data.leftover = "kelrun.lst.kelconv-Ab12Yz.tmp";
  Walk(data);
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultWalkTest, ::testing::Values("fail", "crash", "power"),
                         [](const ::testing::TestParamInfo<const char*>& mode) {
                           return std::string(mode.param);
                         });

}  // namespace
}  // namespace kelconv
