// A seam in the platform's file services through which a test build makes them fail.
//
// Every system call of the file services that touches a data file or its folder asks the seam
// first. In a build with KELCONV_FAULT_INJECTION defined (only the fault-walk program of the
// tests) the seam counts these operations and, once armed, makes the Nth one fail with the
// error the system gives for it, or ends the process right there. In every other build the
// seam is a constant that the compiler removes: the program has no trace of it and reads no
// environment.
//
// The fault build is armed by the environment variable KELCONV_FAULT="MODE:N", N counting the
// operations of the process from 1:
//   fail   the Nth operation fails: it returns -1 with the errno of Error() for its kind.
//   crash  the process is killed (SIGKILL) at the Nth operation, before it happens; a write
//          stores the first half of its bytes first.
//   power  as crash, and what a power loss would undo is undone first: in the working folder,
//          every file's data goes back to what was last flushed to disk, and the names go back
//          to those of the last flush of the folder (or of the start of the process).
// In the crash and power modes the end of the process is one more point at which it can die.
// KELCONV_FAULT_TRACE, when set, names a file to which each operation counted is appended as a
// line "N kind path", and the one at which the fault fired as "fired N kind path".
#ifndef KELCONV_TEXT_FAULT_INJECTION_H_
#define KELCONV_TEXT_FAULT_INJECTION_H_

#include <cstddef>

namespace kelconv::fault {

// The kinds of file operations, each with the error it fails with.
enum class Op {
  kOpen,    // opening an existing file (EACCES)
  kLock,    // taking a lock without waiting (EWOULDBLOCK: another process holds one)
  kRead,    // reading (EIO)
  kMap,     // mapping a large file instead of reading it (ENOMEM: it is read instead)
  kCreate,  // creating a new file (ENOSPC)
  kWrite,   // writing (ENOSPC)
  kFlush,   // flushing a file or folder to disk, opening a folder to flush it, closing a
            // written file (EIO)
  kRename,  // renaming a file over another (EIO)
  kDelete,  // deleting a file (EACCES)
  kScan,    // listing a folder (EACCES)
};

#ifdef KELCONV_FAULT_INJECTION

// The errno with which an operation of kind `op` fails.
int Error(Op op);

// Counts one operation of kind `op` on `path` (may be empty). Returns 0 when it is to go ahead,
// or the errno with which it must fail. Does not return when the process is to die here.
int Before(Op op, const char* path);

// As Before(Op::kWrite, ...) for a write of `size` bytes from `data` to `fd`; when the process
// is to die here, half of the bytes are written first.
int BeforeWrite(int fd, const void* data, std::size_t size);

// Notes that the file or folder open at `fd` has just been flushed to disk.
void Flushed(int fd);

#else

constexpr int Before(Op /*op*/, const char* /*path*/) { return 0; }
constexpr int BeforeWrite(int /*fd*/, const void* /*data*/, std::size_t /*size*/) { return 0; }
constexpr void Flushed(int /*fd*/) {}

#endif  // KELCONV_FAULT_INJECTION

}  // namespace kelconv::fault

#endif  // KELCONV_TEXT_FAULT_INJECTION_H_
