// The parts of the Win32 platform layer that only Windows has: the ANSI code page's text
// services, share modes, file attributes, module addresses and the program's version record.
// Run under Wine with the Japanese locale, whose ANSI code page is 932.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // the C++ library of mingw-w64 may define it already
#define NOMINMAX
#endif
#include <windows.h>
// <windows.h> defines these names as macros for its A/W functions; our interfaces use them.
#undef DeleteFile
#undef MessageBox
#undef ReplaceFile

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/raise_site.h"
#include "support/test_support.h"
#include "text/failure.h"
#include "text/file_system.h"
#include "text/text_services.h"

namespace kelconv {
namespace {

using testing::Cp932;
using testing::FolderEntries;
using testing::ReadBytes;
using testing::ScopedTempDir;
using testing::WriteBytes;

// The path of a file whose name is code page 932 bytes.
std::filesystem::path PathOf(const std::string& cp932) {
  const int size = static_cast<int>(cp932.size());
  std::wstring wide(cp932.size(), L'\0');
  wide.resize(static_cast<std::size_t>(
      ::MultiByteToWideChar(932, /*dwFlags=*/0, cp932.data(), size, wide.data(), size)));
  return std::filesystem::path(wide);
}

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

// A handle on a file opened the way another program might have it open.
class Holder {
 public:
  Holder(const char* path, DWORD access, DWORD share_mode)
      : handle_(::CreateFileA(path, access, share_mode, /*lpSecurityAttributes=*/nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr)) {}
  ~Holder() {
    if (held()) ::CloseHandle(handle_);
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

TEST(Win32TextServicesTest, AnsiCodePageIsJapanese) {
  // Everything below assumes the locale that the tests are run in.
  EXPECT_EQ(932u, ::GetACP());
  EXPECT_NE(0, ::GetSystemMetrics(SM_DBCSENABLED));
}

TEST(Win32TextServicesTest, LeadBytesAreThoseThatCharNextAStepsOver) {
  const LeadBytes& system = SystemLeadBytes();
  const LeadBytes cp932 = LeadBytes::Cp932();
  for (int byte = 1; byte < 256; ++byte) {
    const char text[] = {static_cast<char>(byte), 'x', '\0'};
    const bool steps_over_two = ::CharNextA(text) == text + 2;
    EXPECT_EQ(steps_over_two, system.IsLead(static_cast<unsigned char>(byte))) << byte;
    EXPECT_EQ(cp932.IsLead(static_cast<unsigned char>(byte)),
              system.IsLead(static_cast<unsigned char>(byte)))
        << byte;
  }
}

TEST(Win32TextServicesTest, LowerCasesAnsiLettersOnly) {
  struct Case {
    std::string text;
    std::string lower;
  };
  const Case kCases[] = {
      {"KELRUN.LST", "kelrun.lst"},
      {"KelRun.Exe", "kelrun.exe"},
      {"", ""},
      {"09 .-_[]@", "09 .-_[]@"},
      // Trail bytes that look like capital letters: "ア" is 0x83 0x41, "ソ" 0x83 0x5C.
      {Cp932("アソA"), Cp932("アソa")},
      // Half-width katakana are single bytes above 0xA0 and have no case.
      {"\xB1\xB2Z", "\xB1\xB2z"},
  };
  for (const Case& c : kCases) {
    std::string text = c.text;
    LowerCaseAnsi(text);
    EXPECT_EQ(c.lower, text) << c.text;
  }
}

TEST(Win32TextServicesTest, ComparesNamesIgnoringCase) {
  struct Case {
    std::string a;
    std::string b;
    bool equal;
  };
  const Case kCases[] = {
      {"APP", "APP", true},
      {"app", "APP", true},
      {"Ver", "VER", true},
      {"APPX", "APP", false},
      {"AP", "APP", false},
      {"APP ", "APP", false},
      {" APP", "APP", false},
      {"APQ", "APP", false},
      {"", "APP", false},
      // Word sort gives hyphens and apostrophes little weight, but not none; width counts.
      {"A-PP", "APP", false},
      {"AP'P", "APP", false},
      {Cp932("ＡＰＰ"), "APP", false},
      // "ア" (0x83 0x41) and "ヂ" (0x83 0x61) differ only in a trail byte that looks like a
      // letter: they are different names.
      {Cp932("ア"), Cp932("ヂ"), false},
      {Cp932("名前"), Cp932("名前"), true},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.equal, NamesEqualIgnoringCase(c.a, c.b)) << c.a << " / " << c.b;
  }
}

class Win32FileSystemTest : public ::testing::Test {
 protected:
  ScopedTempDir dir_;
  std::unique_ptr<FileSystem> files_ = NewPlatformFileSystem();
};

TEST_F(Win32FileSystemTest, FilesHeldByOthersCannotBeReadOrReplaced) {
  struct Case {
    const char* holder;
    DWORD access;
    DWORD share_mode;
    bool readable;
  };
  const Case kCases[] = {
      {"writer", GENERIC_WRITE, FILE_SHARE_READ, false},
      {"writer sharing all", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
       false},
      {"reader", GENERIC_READ, FILE_SHARE_READ, true},
      {"reader sharing all", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
       true},
      {"exclusive reader", GENERIC_READ, 0, false},
  };
  for (const Case& c : kCases) {
    WriteBytes("kelrun.lst", "old");
    {
      const Holder holder("kelrun.lst", c.access, c.share_mode);
      ASSERT_TRUE(holder.held()) << c.holder;
      if (c.readable) {
        EXPECT_EQ("old", files_->ReadFile("kelrun.lst")->bytes()) << c.holder;
      } else {
        ExpectFailure("EFOpenError", "ファイル kelrun.lst は開けません",
                      [&] { files_->ReadFile("kelrun.lst"); });
      }
      // Any other open handle keeps the list file from being replaced: at the start when it
      // can write the file or keeps others from writing it, else at the move.
      ExpectFailure("EFCreateError", "ファイル kelrun.lst を作成できません", [&] {
        const auto replacement = files_->ReplaceFile("kelrun.lst");
        replacement->Append("new");
        replacement->Commit();
      });
    }
    EXPECT_EQ("old", ReadBytes("kelrun.lst")) << c.holder;
    EXPECT_EQ(std::vector<std::string>{"kelrun.lst"}, FolderEntries(dir_.path())) << c.holder;
  }
}

TEST_F(Win32FileSystemTest, ReplacementKeepsHiddenAndSystemAttributes) {
  constexpr DWORD kWatched = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                             FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY;
  const DWORD kCases[] = {
      0,
      FILE_ATTRIBUTE_HIDDEN,
      FILE_ATTRIBUTE_SYSTEM,
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
  };
  for (const DWORD attributes : kCases) {
    WriteBytes("kelrun.lst", "old");
    ASSERT_TRUE(
        ::SetFileAttributesA("kelrun.lst", attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes))
        << attributes;
    {
      const auto replacement = files_->ReplaceFile("kelrun.lst");
      replacement->Append("new");
      replacement->Commit();
    }
    EXPECT_EQ("new", ReadBytes("kelrun.lst")) << attributes;
    EXPECT_EQ(attributes, ::GetFileAttributesA("kelrun.lst") & kWatched) << attributes;
    EXPECT_EQ(std::vector<std::string>{"kelrun.lst"}, FolderEntries(dir_.path())) << attributes;
    ::SetFileAttributesA("kelrun.lst", FILE_ATTRIBUTE_NORMAL);
  }
}

TEST_F(Win32FileSystemTest, ReadOnlyAttributeRefusesReplacement) {
  // Set before the replacement starts, or while the new content is being written.
  const bool kSetLate[] = {false, true};
  for (const bool late : kSetLate) {
    WriteBytes("kelrun.lst", "old");
    if (!late) {
      ASSERT_TRUE(::SetFileAttributesA("kelrun.lst", FILE_ATTRIBUTE_READONLY));
    }
    ExpectFailure("EFCreateError", "ファイル kelrun.lst を作成できません", [&] {
      const auto replacement = files_->ReplaceFile("kelrun.lst");
      replacement->Append("new");
      // Our own hold keeps other programs out, but not a change of attributes.
      if (late) {
        ASSERT_TRUE(::SetFileAttributesA("kelrun.lst", FILE_ATTRIBUTE_READONLY));
      }
      replacement->Commit();
    });
    EXPECT_EQ("old", ReadBytes("kelrun.lst")) << late;
    EXPECT_EQ(std::vector<std::string>{"kelrun.lst"}, FolderEntries(dir_.path())) << late;
    ::SetFileAttributesA("kelrun.lst", FILE_ATTRIBUTE_NORMAL);
  }
}

TEST_F(Win32FileSystemTest, ReplacesFilesInFoldersWhoseNamesHoldTrailBackslashes) {
  // "表" is 0x95 0x5C: its trail byte is a backslash, which must not split the folder name.
  const std::string kFolders[] = {"data", Cp932("表"), Cp932("表\\ソ")};
  for (const std::string& folder : kFolders) {
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), /*lpSecurityAttributes=*/nullptr) ||
                ::GetLastError() == ERROR_ALREADY_EXISTS)
        << folder;
    const std::string path = folder + "\\kelrun.lst";
    WriteBytes(PathOf(path), "old");
    WriteBytes(PathOf(folder + "\\kelrun.lst.kelconv-0123ABCD.tmp"), "left by a dead run");
    {
      const auto replacement = files_->ReplaceFile(path);
      replacement->Append("new");
      replacement->Commit();
    }
    const std::filesystem::path in_folder = PathOf(folder);
    EXPECT_EQ("new", ReadBytes(in_folder / "kelrun.lst")) << folder;
    std::vector<std::string> files;
    for (const std::string& name : FolderEntries(in_folder)) {
      if (!std::filesystem::is_directory(in_folder / name)) files.push_back(name);
    }
    EXPECT_EQ(std::vector<std::string>{"kelrun.lst"}, files) << folder;
  }
}

TEST_F(Win32FileSystemTest, NewFilesLeftByADeadRunGoWithTheNextReplacement) {
  WriteBytes("kelrun.lst", "old");
  WriteBytes("kelrun.lst.kelconv-0123ABCD.tmp", "half written");
  WriteBytes("kelrun.lst.kelconv-FFFFFFFF.tmp", "half written");
  WriteBytes("kelrun.lst.kelconv-keep.tmp", "not one of ours");
  WriteBytes("other.lst.kelconv-0123ABCD.tmp", "not of this file");
  std::filesystem::create_directory("kelrun.lst.kelconv-DIR99999.tmp");
  {
    const auto replacement = files_->ReplaceFile("kelrun.lst");
    replacement->Append("new");
    replacement->Commit();
  }
  EXPECT_EQ("new", ReadBytes("kelrun.lst"));
  EXPECT_EQ(
      (std::vector<std::string>{"kelrun.lst", "kelrun.lst.kelconv-DIR99999.tmp",
                                "kelrun.lst.kelconv-keep.tmp", "other.lst.kelconv-0123ABCD.tmp"}),
      FolderEntries(dir_.path()));
}

__attribute__((noinline)) void RaiseHere() { RaiseWriteError(); }

TEST(Win32RaiseSiteTest, NamesTheModuleAndTheOffsetFromItsStart) {
  const auto base = reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr));
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base +
      static_cast<std::uintptr_t>(reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew));
  const void* place = nullptr;
  try {
    RaiseHere();
  } catch (const Failure& failure) {
    place = failure.place();
  }
  ASSERT_NE(nullptr, place);
  const auto function = reinterpret_cast<std::uintptr_t>(&RaiseHere);
  // The raise site is the return address of the call in RaiseHere: just after its start.
  EXPECT_GT(reinterpret_cast<std::uintptr_t>(place), function);
  EXPECT_LT(reinterpret_cast<std::uintptr_t>(place), function + 64);

  struct Case {
    const void* place;
    std::uintptr_t offset;
  };
  const Case kCases[] = {
      {place, reinterpret_cast<std::uintptr_t>(place) - base},
      {reinterpret_cast<const void*>(base + headers->OptionalHeader.AddressOfEntryPoint),
       headers->OptionalHeader.AddressOfEntryPoint},
  };
  for (const Case& c : kCases) {
    const RaiseSite site = DescribeRaiseSite(c.place);
    EXPECT_EQ("kelconv_win32_tests.exe", site.module_name) << c.place;
    EXPECT_EQ(c.offset, site.offset) << c.place;
  }
  EXPECT_EQ("kelconv_win32_tests.exe", DescribeRaiseSite(nullptr).module_name);
  EXPECT_EQ(0u, DescribeRaiseSite(nullptr).offset);
}

// The version record of each built program, as Windows reads it.
TEST(ProgramVersionTest, CarriesVersionDescriptionAndJapaneseLanguage) {
  const char* const kPrograms[] = {KELCONV_WIN32_PROGRAM, KELCONV_WIN64_PROGRAM};
  for (const char* program : kPrograms) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(program, &ignored);
    ASSERT_NE(0u, size) << program << " has no version record (or is not built)";
    std::vector<char> record(size);
    ASSERT_TRUE(::GetFileVersionInfoA(program, 0, size, record.data())) << program;

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &length))
        << program;
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature) << program;
    EXPECT_EQ(0x0001000Au, fixed->dwFileVersionMS) << program;
    EXPECT_EQ(0u, fixed->dwFileVersionLS) << program;
    EXPECT_EQ(0x0001000Au, fixed->dwProductVersionMS) << program;
    EXPECT_EQ(0u, fixed->dwProductVersionLS) << program;
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType) << program;

    struct Translation {
      WORD language;
      WORD code_page;
    };
    Translation* translations = nullptr;
    ASSERT_TRUE(::VerQueryValueA(record.data(), "\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translations), &length))
        << program;
    ASSERT_EQ(sizeof(Translation), length) << program;
    EXPECT_EQ(0x0411, translations[0].language) << program;
    EXPECT_EQ(932, translations[0].code_page) << program;

    struct Value {
      const char* name;
      std::string text;
    };
    const Value kValues[] = {
        {"FileDescription", Cp932("Kelvado データーコンバーター")},
        {"FileVersion", "1.10"},
        {"ProductVersion", "1.10"},
        {"OriginalFilename", "kelconv.exe"},
    };
    for (const Value& value : kValues) {
      const std::string query = std::string("\\StringFileInfo\\041103A4\\") + value.name;
      char* text = nullptr;
      ASSERT_TRUE(
          ::VerQueryValueA(record.data(), query.c_str(), reinterpret_cast<void**>(&text), &length))
          << program << " " << value.name;
      // The length counts the closing NUL.
      EXPECT_EQ(value.text, std::string(text, length > 0 ? length - 1 : 0))
          << program << " " << value.name;
    }
  }
}

}  // namespace
}  // namespace kelconv
