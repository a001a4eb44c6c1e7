// Raise sites on POSIX: the module is the program file, its start the address at which the
// dynamic loader placed it.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <string>

#include "app/raise_site.h"

namespace kelconv {
namespace {

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

RaiseSite DescribeRaiseSite(const void* place) {
  RaiseSite site;
  Dl_info info{};
  if (place != nullptr && ::dladdr(place, &info) != 0 && info.dli_fbase != nullptr) {
    site.offset =
        reinterpret_cast<std::uintptr_t>(place) - reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  }
  // dladdr() names the main program by the path it was started with, which may be a link; the
  // program's real file is what /proc tells.
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length > 0) {
    site.module_name = BaseName(std::string(path, static_cast<std::size_t>(length)));
  } else if (info.dli_fname != nullptr) {
    site.module_name = BaseName(info.dli_fname);
  }
  return site;
}

}  // namespace kelconv
