// Mapped file content (POSIX).
//
// Copying a large file costs fresh memory, which costs far more than the copy itself; a mapping
// shares the pages of the file cache. But a mapping is not a copy: another process may change
// the file under it, and cutting the file short makes reading the lost pages raise SIGBUS.
// So a SIGBUS in a mapping puts zero pages in place of the lost ones (the reads go on, the
// bytes are wrong), and before anything is committed CheckMappedFilesUnchanged looks for lost
// pages and for any change to the files since they were mapped: then the run fails as a
// short read does, and no file is changed.
#include "text/mapped_file_posix.h"

#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <mutex>

#include "text/failure.h"

namespace kelconv {
namespace {

// Smaller files are copied: their pages cost little, and the mapping would cost a signal
// handler.
constexpr std::size_t kMinMappedSize = std::size_t{1} << 20;

// Mapping the pages at once costs less than faulting them in one by one.
#ifdef MAP_POPULATE
constexpr int kPopulate = MAP_POPULATE;
#else
constexpr int kPopulate = 0;
#endif

// A mapping as the SIGBUS handler sees it. `begin` is set last and cleared first, so the
// handler never sees a half-made entry.
struct MappingSlot {
  std::atomic<char*> begin{nullptr};
  std::atomic<std::size_t> size{0};
  std::atomic<bool> lost{false};
  // Read under `slots_mutex` only.
  int fd = -1;
  struct stat status {};
};

constexpr int kSlotCount = 8;
MappingSlot slots[kSlotCount];
std::mutex slots_mutex;
struct sigaction previous_bus_action;

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

void OnBusError(int signal, siginfo_t* info, void* /*context*/) {
  char* const address = static_cast<char*>(info->si_addr);
  for (MappingSlot& slot : slots) {
    char* const begin = slot.begin.load();
    const std::size_t size = slot.size.load();
    if (begin == nullptr || address < begin || address >= begin + size) continue;
    if (::mmap(begin, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, /*fd=*/-1,
               /*offset=*/0) != MAP_FAILED) {
      slot.lost = true;
      return;  // the read is made again, from a zero page
    }
    break;
  }
  // Not a mapping of ours, or no zero pages to be had: as if this handler were not there.
  ::sigaction(signal, &previous_bus_action, nullptr);
}

void InstallBusHandler() {
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &previous_bus_action);
}

class MappedContent : public FileContent {
 public:
  MappedContent(MappingSlot& slot, char* data, std::size_t size)
      : slot_(slot), data_(data), size_(size) {}
  ~MappedContent() override {
    const std::lock_guard<std::mutex> lock(slots_mutex);
    slot_.begin = nullptr;
    ::munmap(data_, size_);
    ::close(slot_.fd);
    slot_.fd = -1;
  }
  MappedContent(const MappedContent&) = delete;
  MappedContent& operator=(const MappedContent&) = delete;

  std::string_view bytes() const override { return {data_, size_}; }

 private:
  MappingSlot& slot_;
  char* data_;
  std::size_t size_;
};

}  // namespace

std::unique_ptr<FileContent> MapFile(int fd, std::size_t size) {
  if (size < kMinMappedSize) return nullptr;
  static std::once_flag handler_installed;
  std::call_once(handler_installed, InstallBusHandler);

  const std::lock_guard<std::mutex> lock(slots_mutex);
  MappingSlot* slot = nullptr;
  for (MappingSlot& candidate : slots) {
    if (candidate.begin.load() == nullptr) slot = &candidate;
  }
  if (slot == nullptr) return nullptr;
  // The file's own descriptor is closed by the caller; this one keeps the file to compare.
  const int own_fd = ::dup(fd);
  if (own_fd < 0) return nullptr;
  // A file whose size changed since the caller took it is left to the read, which tells a
  // short file as it always has.
  struct stat status;
  void* const data = ::fstat(own_fd, &status) == 0 && status.st_size == static_cast<off_t>(size)
                         ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | kPopulate, own_fd,
                                  /*offset=*/0)
                         : MAP_FAILED;
  if (data == MAP_FAILED) {
    ::close(own_fd);
    return nullptr;
  }
  std::unique_ptr<FileContent> content;
  try {
    content = std::make_unique<MappedContent>(*slot, static_cast<char*>(data), size);
  } catch (...) {
    ::munmap(data, size);
    ::close(own_fd);
    throw;
  }
  slot->fd = own_fd;
  slot->status = status;
  slot->lost = false;
  slot->size = size;
  slot->begin = static_cast<char*>(data);
  // The bytes are in place as a read would have left them; the lock that kept writers out
  // while they were read must not outlive the read, or it would stand in our own way.
  ::flock(own_fd, LOCK_UN);
  return content;
}

void CheckMappedFilesUnchanged() {
  const std::lock_guard<std::mutex> lock(slots_mutex);
  for (const MappingSlot& slot : slots) {
    if (slot.begin.load() == nullptr) continue;
    struct stat now;
    if (slot.lost || ::fstat(slot.fd, &now) != 0 || now.st_size != slot.status.st_size ||
        !SameTime(now.st_mtim, slot.status.st_mtim) ||
        !SameTime(now.st_ctim, slot.status.st_ctim)) {
      RaiseReadError();
    }
  }
}

}  // namespace kelconv
