#include "app/program.h"

#include <memory>
#include <new>

#include "app/run.h"

namespace kelconv {

int RunProgram() {
  try {
    const std::unique_ptr<FileSystem> files = NewPlatformFileSystem();
    const std::unique_ptr<MessageBox> box = NewPlatformMessageBox();
    return RunConverter(*files, *box);
  } catch (const std::bad_alloc&) {
    // Memory ran out before the run could start; there is nothing to report it with.
    return 1;
  }
}

}  // namespace kelconv
