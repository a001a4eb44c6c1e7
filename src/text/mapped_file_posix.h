// File content mapped from the system's file cache instead of copied into fresh memory (POSIX).
#ifndef KELCONV_TEXT_MAPPED_FILE_POSIX_H_
#define KELCONV_TEXT_MAPPED_FILE_POSIX_H_

#include <cstddef>
#include <memory>

#include "text/file_system.h"

namespace kelconv {

// Maps the `size` bytes of the regular file open for reading at `fd`, and unlocks `fd`.
// Returns nullptr, changing nothing, when the file is too small to be worth mapping or
// cannot be mapped; the caller then reads it.
std::unique_ptr<FileContent> MapFile(int fd, std::size_t size);

// Raises EReadError when a file whose content is mapped now has lost bytes (another process
// cut it short) or changed since it was mapped.
void CheckMappedFilesUnchanged();

}  // namespace kelconv

#endif  // KELCONV_TEXT_MAPPED_FILE_POSIX_H_
