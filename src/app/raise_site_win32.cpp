// Raise sites on Win32: the module is the loaded image that holds the code, its start the
// module handle, which is the image's base address.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // the C++ library of mingw-w64 may define it already
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <string>

#include "app/raise_site.h"

namespace kelconv {
namespace {

// The longest path that GetModuleFileNameA can give.
constexpr DWORD kMaxPath = 32768;

// The full file name of `module`; empty when it cannot be had.
std::string ModuleFileName(HMODULE module) {
  std::string path(MAX_PATH, '\0');
  while (true) {
    const DWORD length = ::GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    // A name that fills the buffer may have been cut short.
    if (length < path.size() || path.size() >= kMaxPath) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// `path` without its folder. Walks by character, so that the trail byte 0x5C of a double-byte
// character in a folder name is not taken for a backslash.
std::string BaseName(const std::string& path) {
  const char* base = path.c_str();
  for (const char* p = path.c_str(); *p != '\0'; p = ::CharNextA(p)) {
    if (*p == '\\' || *p == '/' || *p == ':') base = p + 1;
  }
  return base;
}

}  // namespace

RaiseSite DescribeRaiseSite(const void* place) {
  RaiseSite site;
  HMODULE module = nullptr;
  if (place == nullptr || ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                   GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                               static_cast<LPCSTR>(place), &module) == FALSE) {
    module = ::GetModuleHandleA(/*lpModuleName=*/nullptr);
  } else {
    site.offset =
        reinterpret_cast<std::uintptr_t>(place) - reinterpret_cast<std::uintptr_t>(module);
  }
  site.module_name = BaseName(ModuleFileName(module));
  return site;
}

}  // namespace kelconv
