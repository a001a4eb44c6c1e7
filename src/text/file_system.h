// The file services that a run needs, behind one interface so that each platform has its own
// implementation and tests can stand in for it.
#ifndef KELCONV_TEXT_FILE_SYSTEM_H_
#define KELCONV_TEXT_FILE_SYSTEM_H_

#include <memory>
#include <string_view>

#include "text/byte_sink.h"

namespace kelconv {

// The whole content of a file as read at one moment. It does not change afterwards, whatever
// happens to the file; or, where the platform maps a large file instead of copying it, a
// change to the file by another process makes every later ReplacementFile::Commit fail.
class FileContent {
 public:
  virtual ~FileContent() = default;
  virtual std::string_view bytes() const = 0;
};

// The new content of an existing file, written in pieces beside it and put in its place all
// at once by Commit. Until Commit returns, the file keeps its old content.
class ReplacementFile : public ByteSink {
 public:
  // Removes the new content unless it was committed. Never throws.
  ~ReplacementFile() override = default;

  // Appends `bytes` to the new content. Raises EWriteError when the system stores less.
  void Append(std::string_view bytes) override = 0;

  // Makes the new content durable and puts it in place of the file's old content, the file
  // keeping its name, attributes and permissions. Raises EWriteError when the content cannot
  // be made durable, EReadError when a mapped FileContent still in use changed since it was
  // read (the new content may have been made from wrong bytes), EFCreateError when the file
  // cannot be replaced; in all these cases the file keeps its old content. Raises EWriteError
  // as well when the new content is in place but the replacement itself cannot be made
  // durable (a power loss might still undo it).
  virtual void Commit() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // True when `name` is present and is not a folder. Opens nothing.
  virtual bool FileExists(std::string_view name) = 0;

  // Reads the whole file at `path`. Raises EFOpenError when it cannot be opened for reading
  // (missing, access denied, or held by another process against readers), EReadError when
  // it delivers fewer bytes than its size, and throws std::bad_alloc when memory runs out.
  virtual std::unique_ptr<FileContent> ReadFile(std::string_view path) = 0;

  // Starts replacing the existing file at `path`. Raises EFCreateError, leaving everything
  // as it was, when the file cannot be replaced: read-only, held by another process, or no
  // new file can be created beside it.
  virtual std::unique_ptr<ReplacementFile> ReplaceFile(std::string_view path) = 0;

  // Deletes the file at `path` if it can; whether it could is not reported.
  virtual void DeleteFile(std::string_view path) = 0;
};

// The file system of the platform the program was built for.
std::unique_ptr<FileSystem> NewPlatformFileSystem();

}  // namespace kelconv

#endif  // KELCONV_TEXT_FILE_SYSTEM_H_
