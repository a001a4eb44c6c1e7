// Holds a file open the way another program might, for the tests under Wine: a Linux process
// holding a file is invisible to Wine, so the hold must come from a Windows program in the same
// prefix.
//
// Usage: kelconv_file_holder read|write PATH
// Opens PATH (read: GENERIC_READ sharing with readers; write: GENERIC_WRITE sharing with
// readers), writes "held" and a line end to standard output, and keeps the file open until
// standard input ends. Exit code 0 after a hold, 2 when PATH cannot be opened, 3 on misuse.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // the C++ library of mingw-w64 may define it already
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "read") != 0 && std::strcmp(argv[1], "write") != 0)) {
    std::fprintf(stderr, "usage: kelconv_file_holder read|write PATH\n");
    return 3;
  }
  const bool write = std::strcmp(argv[1], "write") == 0;
  const HANDLE file =
      ::CreateFileA(argv[2], write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ,
                    /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                    /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::printf("failed %lu\n", ::GetLastError());
    return 2;
  }
  std::printf("held\n");
  std::fflush(stdout);
  char buffer[64];
  DWORD got = 0;
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  while (::ReadFile(input, buffer, sizeof buffer, &got, /*lpOverlapped=*/nullptr) && got > 0) {
  }
  ::CloseHandle(file);
  return 0;
}
