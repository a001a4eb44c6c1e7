// Files on Win32.
//
// Reading: one CreateFileA with read access that admits only other readers, the size taken by
// moving the file pointer to the end and back, then ReadFile into a buffer of exactly that
// size.
//
// Replacement: the new content goes to a new file beside the old one, created exclusively with
// a name that says what it is ("kelrun.lst.kelconv-XXXXXXXX.tmp") and the old file's hidden,
// system and archive attributes. It is flushed with FlushFileBuffers and then moved over the
// old file with MoveFileExA(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), which either
// puts it in place whole or leaves the old file as it was. ReplaceFileA is not used: without a
// backup name it can leave nothing under the target's name when it fails half way, and under
// Wine it is not atomic. While the new content is written, the old file is held open for
// writing and shared with readers only, so that no other program changes it unseen, and a file
// that another program holds open for writing is refused before anything is written.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // the C++ library of mingw-w64 may define it already
#define NOMINMAX
#endif
#include <windows.h>
// <windows.h> defines these names as macros for its A/W functions; our interfaces use them as
// method and class names.
#undef DeleteFile
#undef ReplaceFile

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "text/failure.h"
#include "text/file_system.h"

namespace kelconv {
namespace {

constexpr std::string_view kReplacementMark = ".kelconv-";
constexpr std::string_view kReplacementSuffix = ".tmp";
constexpr std::size_t kReplacementRandomChars = 8;

// A virus scanner or an indexer may hold a file for a moment; so many tries, so far apart,
// before a file held by another program counts as held for good.
constexpr int kSharingTries = 10;
constexpr DWORD kSharingPauseMs = 50;

// One ReadFile or WriteFile call moves at most this many bytes.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// Attributes of the old list file that the new one keeps.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// The step of a file operation in which a Win32 call failed.
enum class Step { kOpen, kRead, kCreate, kWrite };

// Turns the error `error` of a Win32 call in `step` on the file `path` into the failure that the
// run reports. The only place where Win32 error codes become failures.
[[noreturn]] void RaiseFileError(Step step, std::string_view path, DWORD error) {
  if (error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY) throw std::bad_alloc();
  switch (step) {
    case Step::kOpen:
      RaiseOpenError(path);
    case Step::kRead:
      RaiseReadError();
    case Step::kCreate:
      RaiseCreateError(path);
    case Step::kWrite:
      break;
  }
  RaiseWriteError();
}

// True for the errors that another program's brief hold on a file gives.
bool IsSharingError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Owns a file HANDLE; closes it on destruction.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Reset(); }

  HANDLE get() const { return handle_; }
  // CreateFileA returns INVALID_HANDLE_VALUE on failure, not NULL.
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE Release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  void Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    if (valid()) ::CloseHandle(handle_);
    handle_ = handle;
  }
  // Closes the handle now; false when CloseHandle reports a failure.
  bool Close() {
    if (!valid()) return true;
    return ::CloseHandle(Release()) != FALSE;
  }

 private:
  HANDLE handle_;
};

// CreateFileA, tried again for a short while when another program holds the file.
ScopedHandle OpenWithRetry(const std::string& path, DWORD access, DWORD share_mode,
                           DWORD disposition, DWORD attributes) {
  for (int attempt = 1;; ++attempt) {
    ScopedHandle handle(::CreateFileA(path.c_str(), access, share_mode,
                                      /*lpSecurityAttributes=*/nullptr, disposition, attributes,
                                      /*hTemplateFile=*/nullptr));
    if (handle.valid() || attempt == kSharingTries || !IsSharingError(::GetLastError())) {
      return handle;
    }
    ::Sleep(kSharingPauseMs);
  }
}

// File bytes in memory of their own, not a view of the file: the file may be replaced while
// they are in use.
class HeapContent : public FileContent {
 public:
  explicit HeapContent(std::size_t size)
      : data_(size == 0 ? nullptr : new char[size]), size_(size) {}
  char* data() { return data_.get(); }
  std::string_view bytes() const override { return {data_.get(), size_}; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_;
};

// The folder part of `path` with its separator ("" for a bare name). Walks by character, so
// that the trail byte 0x5C of a double-byte character is not taken for a backslash.
std::string FolderPrefixOf(const std::string& path) {
  std::size_t end = 0;
  for (const char* p = path.c_str(); *p != '\0'; p = ::CharNextA(p)) {
    if (*p == '\\' || *p == '/' || *p == ':') end = static_cast<std::size_t>(p - path.c_str()) + 1;
  }
  return path.substr(0, end);
}

// Removes new files that earlier replacements of `path` left behind when they died.
void RemoveLeftovers(const std::string& path) {
  const std::string pattern = path + std::string(kReplacementMark) +
                              std::string(kReplacementRandomChars, '?') +
                              std::string(kReplacementSuffix);
  WIN32_FIND_DATAA found;
  const HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  const std::string folder = FolderPrefixOf(path);
  do {
    // "?" may also match fewer characters; only names of the exact shape are ours.
    const std::string_view name = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        name.size() == pattern.size() - folder.size() && name.ends_with(kReplacementSuffix)) {
      ::DeleteFileA((folder + std::string(name)).c_str());
    }
  } while (::FindNextFileA(search, &found) != FALSE);
  ::FindClose(search);
}

// A name for a new file beside `path` that changes from call to call.
std::string NewFileName(const std::string& path) {
  static std::uint32_t counter = 0;
  std::uint32_t seed = ::GetCurrentProcessId() * 2654435761u ^ ::GetTickCount() ^ (++counter << 20);
  std::string name = path + std::string(kReplacementMark);
  for (std::size_t i = 0; i < kReplacementRandomChars; ++i) {
    name += "0123456789ABCDEF"[seed & 0xF];
    seed = seed >> 4 | seed << 28;
  }
  name += kReplacementSuffix;
  return name;
}

class Win32ReplacementFile : public ReplacementFile {
 public:
  Win32ReplacementFile(std::string_view path, ScopedHandle old_file)
      : path_(path), old_file_(std::move(old_file)) {}

  // Creates the new file beside the old one with `attributes`. Raises EFCreateError when it
  // cannot be created.
  void CreateNewFile(DWORD attributes) {
    RemoveLeftovers(path_);
    for (int attempt = 0; attempt < 16; ++attempt) {
      std::string name = NewFileName(path_);
      // CREATE_NEW never opens an existing file, nor what a link leads to.
      ScopedHandle handle(::CreateFileA(name.c_str(), GENERIC_WRITE, /*dwShareMode=*/0,
                                        /*lpSecurityAttributes=*/nullptr, CREATE_NEW, attributes,
                                        /*hTemplateFile=*/nullptr));
      if (handle.valid()) {
        new_file_ = std::move(handle);
        new_path_ = std::move(name);
        return;
      }
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        RaiseFileError(Step::kCreate, path_, error);
      }
    }
    RaiseFileError(Step::kCreate, path_, ERROR_FILE_EXISTS);
  }

  ~Win32ReplacementFile() override {
    if (committed_ || new_path_.empty()) return;
    new_file_.Reset();
    ::DeleteFileA(new_path_.c_str());
  }

  void Append(std::string_view bytes) override {
    while (!bytes.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min(bytes.size(), kMaxTransfer));
      DWORD written = 0;
      if (::WriteFile(new_file_.get(), bytes.data(), chunk, &written,
                      /*lpOverlapped=*/nullptr) == FALSE) {
        RaiseFileError(Step::kWrite, path_, ::GetLastError());
      }
      if (written == 0) RaiseFileError(Step::kWrite, path_, ERROR_WRITE_FAULT);
      bytes.remove_prefix(written);
    }
  }

  void Commit() override {
    if (::FlushFileBuffers(new_file_.get()) == FALSE) {
      RaiseFileError(Step::kWrite, path_, ::GetLastError());
    }
    if (!new_file_.Close()) RaiseFileError(Step::kWrite, path_, ::GetLastError());
    // Made read-only while we wrote: MoveFileExA under Wine would replace it all the same.
    const DWORD attributes = ::GetFileAttributesA(path_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      RaiseFileError(Step::kCreate, path_, ERROR_ACCESS_DENIED);
    }
    // Our own hold on the old file would make the move fail; from here another program that
    // opens it makes the move fail instead, which the retry below waits out for a moment.
    old_file_.Reset();
    for (int attempt = 1;; ++attempt) {
      if (::MoveFileExA(new_path_.c_str(), path_.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE) {
        break;
      }
      const DWORD error = ::GetLastError();
      if (attempt == kSharingTries || (!IsSharingError(error) && error != ERROR_ACCESS_DENIED)) {
        RaiseFileError(Step::kCreate, path_, error);
      }
      ::Sleep(kSharingPauseMs);
    }
    committed_ = true;
  }

 private:
  std::string path_;       // the file that is replaced, as the caller named it
  std::string new_path_;   // the new file beside it
  ScopedHandle old_file_;  // keeps other programs off the old file until the move
  ScopedHandle new_file_;
  bool committed_ = false;
};

class Win32FileSystem : public FileSystem {
 public:
  bool FileExists(std::string_view name) override {
    WIN32_FIND_DATAA found;
    const HANDLE search = ::FindFirstFileA(std::string(name).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  std::unique_ptr<FileContent> ReadFile(std::string_view path) override {
    const std::string name(path);
    // Other programs may read the file meanwhile, but not write it.
    const ScopedHandle file =
        OpenWithRetry(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (!file.valid()) RaiseFileError(Step::kOpen, path, ::GetLastError());

    LARGE_INTEGER end{};
    const LARGE_INTEGER zero{};
    if (::SetFilePointerEx(file.get(), zero, &end, FILE_END) == FALSE ||
        ::SetFilePointerEx(file.get(), zero, /*lpNewFilePointer=*/nullptr, FILE_BEGIN) == FALSE) {
      RaiseFileError(Step::kRead, path, ::GetLastError());
    }
    if (static_cast<std::uint64_t>(end.QuadPart) > SIZE_MAX / 2) throw std::bad_alloc();
    const auto size = static_cast<std::size_t>(end.QuadPart);

    auto content = std::make_unique<HeapContent>(size);
    std::size_t done = 0;
    while (done < size) {
      const DWORD chunk = static_cast<DWORD>(std::min(size - done, kMaxTransfer));
      DWORD got = 0;
      if (::ReadFile(file.get(), content->data() + done, chunk, &got,
                     /*lpOverlapped=*/nullptr) == FALSE) {
        RaiseFileError(Step::kRead, path, ::GetLastError());
      }
      // A file that shrank after its size was taken: the bytes that would follow are not there.
      if (got == 0) RaiseFileError(Step::kRead, path, ERROR_HANDLE_EOF);
      done += got;
    }
    return content;
  }

  std::unique_ptr<ReplacementFile> ReplaceFile(std::string_view path) override {
    const std::string name(path);
    const DWORD attributes = ::GetFileAttributesA(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      RaiseFileError(Step::kCreate, path, ::GetLastError());
    }
    // Windows refuses to replace a read-only file; Wine's MoveFileExA does not, so it is
    // checked here.
    if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
      RaiseFileError(Step::kCreate, path, ERROR_ACCESS_DENIED);
    }
    // Held for writing, shared with readers only: this fails while another program has the
    // file open for writing, or reads it without letting others write. Readers that come
    // later are let in; one that still holds the file at the move makes the move fail.
    ScopedHandle old_file = OpenWithRetry(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (!old_file.valid()) RaiseFileError(Step::kCreate, path, ::GetLastError());

    auto replacement = std::make_unique<Win32ReplacementFile>(path, std::move(old_file));
    const DWORD kept = attributes & kKeptAttributes;
    replacement->CreateNewFile(kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
    return replacement;
  }

  void DeleteFile(std::string_view path) override { ::DeleteFileA(std::string(path).c_str()); }
};

}  // namespace

std::unique_ptr<FileSystem> NewPlatformFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace kelconv
