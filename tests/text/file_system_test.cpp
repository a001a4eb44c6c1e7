// The contract of the platform's file services, run against whichever platform was built.
#include "text/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "text/failure.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelconv {
namespace {

using testing::Cp932;
using testing::FolderEntries;
using testing::ReadBytes;
using testing::ScopedTempDir;
using testing::WriteBytes;

namespace fs = std::filesystem;

class FileSystemTest : public ::testing::Test {
 protected:
  // Expects `call` to raise a failure of `kind` with `message` (UTF-8).
  template <typename Call>
  void ExpectFailure(const char* kind, const std::string& message, Call call) {
    try {
      call();
      ADD_FAILURE() << "no " << kind;
    } catch (const Failure& failure) {
      EXPECT_STREQ(kind, failure.kind());
      EXPECT_EQ(Cp932(message), failure.message());
    }
  }

  void MakeReadOnly(const fs::path& path) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }

  ScopedTempDir dir_;
  std::unique_ptr<FileSystem> files_ = NewPlatformFileSystem();
};

TEST_F(FileSystemTest, ExistenceTestFindsFilesButNotFolders) {
  WriteBytes("file", "x");
  WriteBytes("read-only", "x");
  MakeReadOnly("read-only");
  WriteBytes("empty", "");
  fs::create_directory("folder");
  EXPECT_TRUE(files_->FileExists("file"));
  EXPECT_TRUE(files_->FileExists("read-only"));
  EXPECT_TRUE(files_->FileExists("empty"));
  EXPECT_FALSE(files_->FileExists("folder"));
  EXPECT_FALSE(files_->FileExists("missing"));
}

TEST_F(FileSystemTest, ReadsWholeFiles) {
  std::string big(3'000'000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
  const std::string kContents[] = {"", "a\r\nb", std::string("\0\xFF\x81\r", 4), big};
  for (const std::string& content : kContents) {
    WriteBytes("kelrun.lst", content);
    EXPECT_EQ(content, files_->ReadFile("kelrun.lst")->bytes()) << content.size();
  }
  WriteBytes("read-only", "kept");
  MakeReadOnly("read-only");
  EXPECT_EQ("kept", files_->ReadFile("read-only")->bytes());
}

TEST_F(FileSystemTest, ReadingWhatCannotBeOpenedFails) {
  fs::create_directory("folder");
  ExpectFailure("EFOpenError", "ファイル kelrun.tab は開けません",
                [&] { files_->ReadFile("kelrun.tab"); });
  ExpectFailure("EFOpenError", "ファイル folder は開けません", [&] { files_->ReadFile("folder"); });
}

TEST_F(FileSystemTest, ReplacementTakesEffectOnlyOnCommit) {
  WriteBytes("kelrun.lst", "old");
  {
    const auto replacement = files_->ReplaceFile("kelrun.lst");
    replacement->Append("new ");
    replacement->Append("");
    replacement->Append(std::string(2'000'000, 'n'));
    EXPECT_EQ("old", ReadBytes("kelrun.lst"));
    replacement->Commit();
  }
  EXPECT_EQ("new " + std::string(2'000'000, 'n'), ReadBytes("kelrun.lst"));
  EXPECT_EQ(std::vector<std::string>{"kelrun.lst"}, FolderEntries(dir_.path()));

  {
    const auto replacement = files_->ReplaceFile("kelrun.lst");
    replacement->Append("abandoned");
  }
  EXPECT_EQ("new " + std::string(2'000'000, 'n'), ReadBytes("kelrun.lst"));
  EXPECT_EQ(std::vector<std::string>{"kelrun.lst"}, FolderEntries(dir_.path()));

  {
    const auto replacement = files_->ReplaceFile("kelrun.lst");
    replacement->Commit();
  }
  EXPECT_EQ("", ReadBytes("kelrun.lst"));
}

TEST_F(FileSystemTest, ReadOnlyOrMissingFileCannotBeReplaced) {
  WriteBytes("kelrun.lst", "old");
  MakeReadOnly("kelrun.lst");
  ExpectFailure("EFCreateError", "ファイル kelrun.lst を作成できません",
                [&] { files_->ReplaceFile("kelrun.lst"); });
  EXPECT_EQ("old", ReadBytes("kelrun.lst"));
  ExpectFailure("EFCreateError", "ファイル other.lst を作成できません",
                [&] { files_->ReplaceFile("other.lst"); });
  EXPECT_EQ(std::vector<std::string>{"kelrun.lst"}, FolderEntries(dir_.path()));
}

TEST_F(FileSystemTest, DeletesFilesQuietly) {
  WriteBytes("kelrun.tab", "x");
  files_->DeleteFile("kelrun.tab");
  files_->DeleteFile("kelrun.tab");
  EXPECT_TRUE(FolderEntries(dir_.path()).empty());
}

#ifndef _WIN32

TEST_F(FileSystemTest, ReplacementKeepsPermissionsAndLinks) {
  fs::create_directory("data");
  WriteBytes("data/real.lst", "old");
  ASSERT_EQ(0, ::chmod("data/real.lst", 0640));
  fs::create_symlink("data/real.lst", "kelrun.lst");
  const auto replacement = files_->ReplaceFile("kelrun.lst");
  replacement->Append("new");
  replacement->Commit();
  EXPECT_TRUE(fs::is_symlink("kelrun.lst"));
  EXPECT_EQ("new", ReadBytes("data/real.lst"));
  struct stat st;
  ASSERT_EQ(0, ::stat("data/real.lst", &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ(std::vector<std::string>{"real.lst"}, FolderEntries("data"));
}

TEST_F(FileSystemTest, LockedFilesCannotBeReadOrReplaced) {
  WriteBytes("kelrun.lst", "old");
  const int holder = ::open("kelrun.lst", O_RDONLY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(0, ::flock(holder, LOCK_EX));
  ExpectFailure("EFOpenError", "ファイル kelrun.lst は開けません",
                [&] { files_->ReadFile("kelrun.lst"); });
  ExpectFailure("EFCreateError", "ファイル kelrun.lst を作成できません",
                [&] { files_->ReplaceFile("kelrun.lst"); });
  // A reader's shared lock lets others read but not replace.
  ASSERT_EQ(0, ::flock(holder, LOCK_SH));
  EXPECT_EQ("old", files_->ReadFile("kelrun.lst")->bytes());
  ExpectFailure("EFCreateError", "ファイル kelrun.lst を作成できません",
                [&] { files_->ReplaceFile("kelrun.lst"); });
  ::close(holder);
  EXPECT_EQ("old", ReadBytes("kelrun.lst"));
  EXPECT_EQ(std::vector<std::string>{"kelrun.lst"}, FolderEntries(dir_.path()));
}

TEST_F(FileSystemTest, NewFilesLeftByADeadRunGoWithTheNextReplacement) {
  WriteBytes("kelrun.lst", "old");
  WriteBytes("kelrun.lst.kelconv-a1B2c3.tmp", "half written");
  WriteBytes("kelrun.lst.kelconv-keep.tmp", "not one of ours");
  fs::create_directory("kelrun.lst.kelconv-dir999.tmp");
  const auto replacement = files_->ReplaceFile("kelrun.lst");
  replacement->Append("new");
  replacement->Commit();
  EXPECT_EQ("new", ReadBytes("kelrun.lst"));
  EXPECT_EQ((std::vector<std::string>{"kelrun.lst", "kelrun.lst.kelconv-dir999.tmp",
                                      "kelrun.lst.kelconv-keep.tmp"}),
            FolderEntries(dir_.path()));
}

// Large files are mapped rather than copied. Another process may change such a file while
// its content is in use: reading the content must not crash, and nothing may be replaced.
TEST_F(FileSystemTest, ChangesToALargeFileReadEarlierStopTheReplacement) {
  struct Case {
    const char* change;
    off_t cut_to;        // the size the file is cut to, or -1
    off_t overwrite_at;  // where one byte is written over, or -1
  };
  const Case kCases[] = {
      {"none", -1, -1},
      {"cut short", 1'500'000, -1},
      {"cut to nothing", 0, -1},
      {"one byte written over", -1, 2'000'000},
  };
  const std::string big(3'000'000, 'b');
  for (const Case& c : kCases) {
    WriteBytes("kelrun.tab", big);
    WriteBytes("kelrun.lst", "old");
    const auto content = files_->ReadFile("kelrun.tab");
    const int other = ::open("kelrun.tab", O_WRONLY);
    ASSERT_GE(other, 0);
    if (c.cut_to >= 0) {
      ASSERT_EQ(0, ::ftruncate(other, c.cut_to));
    }
    if (c.overwrite_at >= 0) {
      ASSERT_EQ(1, ::pwrite(other, "x", 1, c.overwrite_at));
    }
    ::close(other);

    std::size_t b_count = 0;
    for (const char byte : content->bytes()) b_count += byte == 'b';
    const auto replacement = files_->ReplaceFile("kelrun.lst");
    replacement->Append("new");
    if (c.cut_to < 0 && c.overwrite_at < 0) {
      EXPECT_EQ(big.size(), b_count);
      replacement->Commit();
      EXPECT_EQ("new", ReadBytes("kelrun.lst"));
    } else {
      ExpectFailure("EReadError", "ストリームからの読み込みエラー", [&] { replacement->Commit(); });
      EXPECT_EQ("old", ReadBytes("kelrun.lst")) << c.change;
    }
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace kelconv
