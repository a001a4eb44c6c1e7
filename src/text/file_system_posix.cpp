// Files on POSIX.
//
// Sharing: POSIX has no share modes, so advisory flock() locks stand in for them. A read holds
// a shared lock and a replacement an exclusive one, both taken without waiting: a file that
// another process holds locked against us fails as it would on Windows.
//
// Replacement: the new content goes to a new file beside the old one, created exclusively with
// a name that says what it is ("kelrun.lst.kelconv-XXXXXX.tmp"); it is flushed to disk, renamed
// over the old file, and the folder is flushed. A run that dies on the way leaves the old file
// whole and at most that new file, which the next replacement of the same file removes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "text/failure.h"
#include "text/fault_injection.h"
#include "text/file_system.h"
#include "text/mapped_file_posix.h"

namespace kelconv {
namespace {

constexpr std::string_view kReplacementMark = ".kelconv-";
constexpr std::string_view kReplacementSuffix = ".tmp";
constexpr int kReplacementRandomChars = 6;  // mkostemps() fills six X

// Every system call that works on a data file or its folder goes through one of these, which
// first ask the fault seam whether the call is to fail (text/fault_injection.h). Outside the
// fault-walk build of the tests the seam is a constant 0 and these are the system calls alone.

int Fail(int error) {
  errno = error;
  return -1;
}

int Open(const char* path, int flags, fault::Op op = fault::Op::kOpen) {
  if (const int error = fault::Before(op, path)) return Fail(error);
  return ::open(path, flags);
}

int Lock(int fd, int operation) {
  if (const int error = fault::Before(fault::Op::kLock, "")) return Fail(error);
  return ::flock(fd, operation);
}

// Maps a large file instead of reading it, or returns nullptr so that the caller reads it.
std::unique_ptr<FileContent> Map(int fd, std::size_t size) {
  if (fault::Before(fault::Op::kMap, "") != 0) return nullptr;
  return MapFile(fd, size);
}

ssize_t Read(int fd, void* buffer, std::size_t size) {
  if (const int error = fault::Before(fault::Op::kRead, "")) return Fail(error);
  return ::read(fd, buffer, size);
}

int CreateUnique(char* path_template, int suffix_length) {
  if (const int error = fault::Before(fault::Op::kCreate, path_template)) return Fail(error);
  return ::mkostemps(path_template, suffix_length, O_CLOEXEC);
}

ssize_t Write(int fd, const void* data, std::size_t size) {
  if (const int error = fault::BeforeWrite(fd, data, size)) return Fail(error);
  return ::write(fd, data, size);
}

int Flush(int fd) {
  if (const int error = fault::Before(fault::Op::kFlush, "")) return Fail(error);
  const int result = ::fsync(fd);
  if (result == 0) fault::Flushed(fd);
  return result;
}

// Closes a file that was written; its error reports a write that failed late.
int CloseWritten(int fd) {
  if (const int error = fault::Before(fault::Op::kFlush, "")) {
    ::close(fd);  // Linux frees the descriptor even when close() fails
    return Fail(error);
  }
  return ::close(fd);
}

int Rename(const char* from, const char* to) {
  if (const int error = fault::Before(fault::Op::kRename, to)) return Fail(error);
  return ::rename(from, to);
}

int Delete(const char* path) {
  if (const int error = fault::Before(fault::Op::kDelete, path)) return Fail(error);
  return ::unlink(path);
}

DIR* Scan(const char* folder) {
  if (const int error = fault::Before(fault::Op::kScan, folder)) {
    errno = error;
    return nullptr;
  }
  return ::opendir(folder);
}

class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.Release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~ScopedFd() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// Takes a flock() lock without waiting. False only when another process holds a lock that
// conflicts; a file system without flock() support counts as unlocked.
bool TryLock(int fd, int operation) {
  while (Lock(fd, operation | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno != EWOULDBLOCK;
  }
  return true;
}

// Opens an existing file for reading without blocking on a FIFO and without taking a
// terminal. Returns an invalid fd on failure.
ScopedFd OpenForReading(const std::string& path) {
  ScopedFd fd(Open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) return fd;
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

// File bytes in memory of their own. Large buffers come straight from mmap() with huge pages
// asked for: fresh small pages cost far more to fault in than the read costs.
class HeapContent : public FileContent {
 public:
  explicit HeapContent(std::size_t size) : size_(size) {
    if (size_ == 0) return;
    void* memory = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                          /*fd=*/-1, /*offset=*/0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    ::madvise(memory, size_, MADV_HUGEPAGE);
#endif
    data_ = static_cast<char*>(memory);
  }
  ~HeapContent() override {
    if (data_ != nullptr) ::munmap(data_, size_);
  }
  HeapContent(const HeapContent&) = delete;
  HeapContent& operator=(const HeapContent&) = delete;

  char* data() { return data_; }
  std::string_view bytes() const override { return {data_, size_}; }

 private:
  char* data_ = nullptr;
  std::size_t size_;
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where a replacement of `path` must go: the file a symbolic link leads to, so that the link
// stays a link.
std::string ResolveLinks(std::string_view path) {
  std::string target(path);
  char resolved[PATH_MAX];
  if (::realpath(target.c_str(), resolved) != nullptr) target = resolved;
  return target;
}

// Removes new files that earlier replacements of `base_name` left behind when they died.
void RemoveLeftovers(const std::string& folder, const std::string& base_name) {
  DIR* dir = Scan(folder.c_str());
  if (dir == nullptr) return;
  const std::string prefix = base_name + std::string(kReplacementMark);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.size() != prefix.size() + kReplacementRandomChars + kReplacementSuffix.size() ||
        !name.starts_with(prefix) || !name.ends_with(kReplacementSuffix)) {
      continue;
    }
    const std::string path = folder + "/" + std::string(name);
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) Delete(path.c_str());
  }
  ::closedir(dir);
}

class PosixReplacementFile : public ReplacementFile {
 public:
  PosixReplacementFile(std::string_view path, std::string target, ScopedFd old_file)
      : path_(path), target_(std::move(target)), old_file_(std::move(old_file)) {}

  // Creates the new file beside the target, with the target's permissions and, where allowed,
  // its owner. Raises EFCreateError when it cannot be created.
  void CreateNewFile(const struct stat& target_status) {
    const std::string folder = FolderOf(target_);
    const std::string base_name = BaseNameOf(target_);
    RemoveLeftovers(folder, base_name);
    std::string new_path = folder + "/" + base_name + std::string(kReplacementMark) +
                           std::string(kReplacementRandomChars, 'X') +
                           std::string(kReplacementSuffix);
    // mkostemps() creates the file exclusively (O_EXCL), so it never follows a link.
    new_file_.Reset(CreateUnique(new_path.data(), static_cast<int>(kReplacementSuffix.size())));
    if (!new_file_.valid()) RaiseCreateError(path_);
    new_path_ = std::move(new_path);
    ::fchmod(new_file_.get(), target_status.st_mode & 07777);
    // Keeping the owner needs a privilege that a user may not have; failing that, the file
    // belongs to the user who converted it.
    if (::fchown(new_file_.get(), target_status.st_uid, target_status.st_gid) != 0) return;
  }

  ~PosixReplacementFile() override {
    if (!committed_ && !new_path_.empty()) Delete(new_path_.c_str());
  }

  void Append(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t written = Write(new_file_.get(), bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) RaiseWriteError();
      bytes.remove_prefix(static_cast<std::size_t>(written));
      written_ += static_cast<off_t>(written);
    }
#ifdef SYNC_FILE_RANGE_WRITE
    // Starts the disk writes of what has piled up, without waiting for them, so that they go
    // on while the rest is made and the flush in Commit has only the tail left to wait for.
    if (written_ - flush_started_ >= kFlushStartSize) {
      ::sync_file_range(new_file_.get(), flush_started_, written_ - flush_started_,
                        SYNC_FILE_RANGE_WRITE);
      flush_started_ = written_;
    }
#endif
  }

  void Commit() override {
    if (Flush(new_file_.get()) != 0) RaiseWriteError();
    if (CloseWritten(new_file_.Release()) != 0) RaiseWriteError();
    // The new content was made from mapped files; it must not replace anything if they
    // changed meanwhile.
    CheckMappedFilesUnchanged();
    if (Rename(new_path_.c_str(), target_.c_str()) != 0) RaiseCreateError(path_);
    committed_ = true;
    // The rename is durable only once the folder is flushed; until then a power loss may undo
    // it. A folder that cannot be opened to be flushed fails like one whose flush fails, so
    // that the caller keeps the page file. A file system that cannot flush a folder (EINVAL)
    // makes its renames durable by itself.
    ScopedFd folder(
        Open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, fault::Op::kFlush));
    if (!folder.valid() || (Flush(folder.get()) != 0 && errno != EINVAL)) RaiseWriteError();
  }

 private:
  std::string path_;      // as the caller named it, for messages
  std::string target_;    // the file that is replaced
  std::string new_path_;  // the new file beside it
  ScopedFd old_file_;     // holds the exclusive lock until the end
  ScopedFd new_file_;
  bool committed_ = false;
  off_t written_ = 0;        // bytes written to the new file
  off_t flush_started_ = 0;  // bytes whose disk writes have been started
  static constexpr off_t kFlushStartSize = off_t{8} << 20;
};

class PosixFileSystem : public FileSystem {
 public:
  bool FileExists(std::string_view name) override {
    struct stat st;
    return ::stat(std::string(name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  }

  std::unique_ptr<FileContent> ReadFile(std::string_view path) override {
    const std::string name(path);
    ScopedFd fd = OpenForReading(name);
    if (!fd.valid()) RaiseOpenError(path);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) RaiseOpenError(path);
    if (!TryLock(fd.get(), LOCK_SH)) RaiseOpenError(path);

    if (auto mapped = Map(fd.get(), static_cast<std::size_t>(st.st_size))) return mapped;
    auto content = std::make_unique<HeapContent>(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    const std::size_t size = content->bytes().size();
    while (done < size) {
      const ssize_t got = Read(fd.get(), content->data() + done, size - done);
      if (got < 0 && errno == EINTR) continue;
      // A file that shrank after its size was taken, or a read error: the bytes that would
      // follow are not there.
      if (got <= 0) RaiseReadError();
      done += static_cast<std::size_t>(got);
    }
    return content;
  }

  std::unique_ptr<ReplacementFile> ReplaceFile(std::string_view path) override {
    const std::string target = ResolveLinks(path);
    ScopedFd old_file = OpenForReading(target);
    if (!old_file.valid()) RaiseCreateError(path);
    struct stat st;
    if (::fstat(old_file.get(), &st) != 0 || !S_ISREG(st.st_mode)) RaiseCreateError(path);
    // A file without any write permission is read-only, even for root; and the rename must
    // not replace a file that we may not write.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
        ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
      RaiseCreateError(path);
    }
    if (!TryLock(old_file.get(), LOCK_EX)) RaiseCreateError(path);

    auto replacement = std::make_unique<PosixReplacementFile>(path, target, std::move(old_file));
    replacement->CreateNewFile(st);
    return replacement;
  }

  void DeleteFile(std::string_view path) override { Delete(std::string(path).c_str()); }
};

}  // namespace

std::unique_ptr<FileSystem> NewPlatformFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace kelconv
