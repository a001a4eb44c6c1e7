// The fault seam of the file services on POSIX (see text/fault_injection.h). Linked only into
// the fault-walk program of the tests.
//
// The power-loss model keeps, for the working folder, the names that a flush of the folder
// made durable (at first: those found when the seam was armed) and, for each file, the bytes
// that its last flush made durable. A power loss leaves exactly that: a file created and never
// flushed comes back empty, a rename or delete that no flush of the folder followed is undone.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "text/fault_injection.h"

namespace kelconv::fault {
namespace {

enum class Mode { kOff, kFail, kCrash, kPower };

using FileId = std::pair<dev_t, ino_t>;

struct DurableFile {
  std::string bytes;
  mode_t mode = 0600;
};

const char* OpName(Op op) {
  switch (op) {
    case Op::kOpen:
      return "open";
    case Op::kLock:
      return "lock";
    case Op::kRead:
      return "read";
    case Op::kMap:
      return "map";
    case Op::kCreate:
      return "create";
    case Op::kWrite:
      return "write";
    case Op::kFlush:
      return "flush";
    case Op::kRename:
      return "rename";
    case Op::kDelete:
      return "delete";
    case Op::kScan:
      return "scan";
  }
  return "?";
}

void WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

bool ReadAll(int fd, std::string& bytes) {
  bytes.clear();
  char buffer[65536];
  off_t offset = 0;
  while (true) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    bytes.append(buffer, static_cast<std::size_t>(got));
    offset += got;
  }
}

class Seam {
 public:
  Seam() {
    const int saved_errno = errno;
    if (const char* trace = std::getenv("KELCONV_FAULT_TRACE")) trace_path_ = trace;
    if (const char* armed = std::getenv("KELCONV_FAULT")) Arm(armed);
    errno = saved_errno;
  }

  int Before(Op op, const char* path, int fd = -1, const void* data = nullptr,
             std::size_t size = 0) {
    const std::lock_guard<std::mutex> hold(mutex_);
    const int saved_errno = errno;
    ++count_;
    const bool fires = mode_ != Mode::kOff && count_ == target_;
    Trace(fires, OpName(op), path);
    errno = saved_errno;
    if (!fires) return 0;
    if (mode_ == Mode::kFail) return Error(op);
    if (op == Op::kWrite && size > 1) WriteAll(fd, static_cast<const char*>(data), size / 2);
    Die();
  }

  void AtExit() {
    const std::lock_guard<std::mutex> hold(mutex_);
    ++count_;
    const bool fires = count_ == target_;
    Trace(fires, "exit", "");
    if (fires) Die();
  }

  void Flushed(int fd) {
    const std::lock_guard<std::mutex> hold(mutex_);
    if (mode_ != Mode::kPower) return;
    const int saved_errno = errno;
    struct stat st;
    if (::fstat(fd, &st) == 0) {
      if (S_ISREG(st.st_mode)) {
        DurableFile& file = data_[{st.st_dev, st.st_ino}];
        ReadAll(fd, file.bytes);
        file.mode = st.st_mode & 07777;
      } else if (S_ISDIR(st.st_mode) && st.st_dev == folder_.first && st.st_ino == folder_.second) {
        names_ = ListFolder(nullptr);
      }
    }
    errno = saved_errno;
  }

  Mode mode() const { return mode_; }

 private:
  void Arm(const std::string& armed) {
    const std::size_t colon = armed.find(':');
    const std::string name = armed.substr(0, colon);
    if (name == "fail") mode_ = Mode::kFail;
    if (name == "crash") mode_ = Mode::kCrash;
    if (name == "power") mode_ = Mode::kPower;
    if (mode_ == Mode::kOff || colon == std::string::npos) {
      mode_ = Mode::kOff;
      return;
    }
    target_ = std::strtol(armed.c_str() + colon + 1, nullptr, 10);
    if (mode_ != Mode::kPower) return;
    struct stat st;
    if (::stat(".", &st) != 0) std::abort();
    folder_ = {st.st_dev, st.st_ino};
    // What is in the folder when the run starts is taken as durable.
    names_ = ListFolder(&data_);
  }

  // The regular files of the working folder by name; with `contents`, their bytes as well.
  static std::map<std::string, FileId> ListFolder(std::map<FileId, DurableFile>* contents) {
    std::map<std::string, FileId> names;
    DIR* dir = ::opendir(".");
    if (dir == nullptr) std::abort();
    while (const dirent* entry = ::readdir(dir)) {
      struct stat st;
      if (::lstat(entry->d_name, &st) != 0 || !S_ISREG(st.st_mode)) continue;
      names[entry->d_name] = {st.st_dev, st.st_ino};
      if (contents == nullptr) continue;
      const int fd = ::open(entry->d_name, O_RDONLY | O_CLOEXEC);
      if (fd < 0) std::abort();
      DurableFile& file = (*contents)[{st.st_dev, st.st_ino}];
      if (!ReadAll(fd, file.bytes)) std::abort();
      file.mode = st.st_mode & 07777;
      ::close(fd);
    }
    ::closedir(dir);
    return names;
  }

  // Puts the working folder back to what a power loss would leave of it.
  void LosePower() {
    for (const auto& [name, id] : ListFolder(nullptr)) ::unlink(name.c_str());
    for (const auto& [name, id] : names_) {
      const auto durable = data_.find(id);
      const DurableFile file = durable == data_.end() ? DurableFile{} : durable->second;
      const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd < 0) std::abort();
      WriteAll(fd, file.bytes.data(), file.bytes.size());
      ::fchmod(fd, file.mode);
      ::close(fd);
    }
  }

  [[noreturn]] void Die() {
    if (mode_ == Mode::kPower) LosePower();
    ::kill(::getpid(), SIGKILL);
    std::abort();  // not reached
  }

  void Trace(bool fired, const char* op, const char* path) {
    if (trace_path_.empty()) return;
    std::string line = fired ? "fired " : "";
    line += std::to_string(count_);
    line += ' ';
    line += op;
    line += ' ';
    line += path;
    line += '\n';
    const int fd = ::open(trace_path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    WriteAll(fd, line.data(), line.size());
    ::close(fd);
  }

  std::mutex mutex_;
  Mode mode_ = Mode::kOff;
  long target_ = 0;
  long count_ = 0;
  std::string trace_path_;
  FileId folder_{};
  std::map<std::string, FileId> names_;  // durable names of the working folder
  std::map<FileId, DurableFile> data_;   // durable bytes of each file
};

void AtExit();

Seam& TheSeam() {
  // Never destroyed: the end of the process is itself a point at which it may die.
  static Seam* const seam = [] {
    auto* made = new Seam();
    if (made->mode() == Mode::kCrash || made->mode() == Mode::kPower) std::atexit(AtExit);
    return made;
  }();
  return *seam;
}

void AtExit() { TheSeam().AtExit(); }

}  // namespace

int Error(Op op) {
  switch (op) {
    case Op::kOpen:
    case Op::kDelete:
    case Op::kScan:
      return EACCES;
    case Op::kLock:
      return EWOULDBLOCK;
    case Op::kRead:
    case Op::kFlush:
    case Op::kRename:
      return EIO;
    case Op::kCreate:
    case Op::kWrite:
      return ENOSPC;
    case Op::kMap:
      return ENOMEM;
  }
  return EIO;
}

int Before(Op op, const char* path) { return TheSeam().Before(op, path); }

int BeforeWrite(int fd, const void* data, std::size_t size) {
  return TheSeam().Before(Op::kWrite, "", fd, data, size);
}

void Flushed(int fd) { TheSeam().Flushed(fd); }

}  // namespace kelconv::fault
