// A Windows program that the end-to-end tests run in the same Wine prefix as kelconv.exe, to do
// what a Linux process cannot: a Linux process holding a file is invisible to Wine, and the
// text of a box on screen is only to be had from inside.
//
// kelconv_test_helper hold read|write PATH
//   Opens PATH (read: GENERIC_READ; write: GENERIC_WRITE; both sharing with readers only),
//   writes "held" and a line end to standard output, and keeps the file open until standard
//   input ends. Exit code 0 after a hold, 2 when PATH cannot be opened.
// kelconv_test_helper boxes
//   Writes one line for each visible dialog box on the desktop: "rect=" and its left, top,
//   right and bottom on the screen, then its caption, the text of its message (control 0xFFFF)
//   and the labels of its OK, Cancel, Yes and No buttons that it has, each as "name=" and the
//   bytes in hexadecimal, in the ANSI code page.
// Exit code 3 on misuse.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // the C++ library of mingw-w64 may define it already
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kMessageTextId = 0xFFFF;

int Hold(const char* mode, const char* path) {
  const bool write = std::strcmp(mode, "write") == 0;
  const HANDLE file = ::CreateFileA(path, write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ,
                                    /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr);
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

std::string Hex(const std::string& bytes) {
  std::string hex;
  char digits[3];
  for (const char byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(byte));
    hex += digits;
  }
  return hex;
}

std::string TextOf(HWND window) {
  std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

BOOL CALLBACK PrintBox(HWND window, LPARAM) {
  char class_name[16] = {};
  ::GetClassNameA(window, class_name, sizeof class_name);
  if (std::strcmp(class_name, "#32770") != 0 || !::IsWindowVisible(window)) return TRUE;
  RECT rect{};
  ::GetWindowRect(window, &rect);
  std::printf("rect=%ld,%ld,%ld,%ld caption=%s", rect.left, rect.top, rect.right, rect.bottom,
              Hex(TextOf(window)).c_str());
  if (const HWND text = ::GetDlgItem(window, kMessageTextId)) {
    std::printf(" text=%s", Hex(TextOf(text)).c_str());
  }
  const struct {
    int id;
    const char* name;
  } kButtons[] = {{IDOK, "ok"}, {IDCANCEL, "cancel"}, {IDYES, "yes"}, {IDNO, "no"}};
  for (const auto& button : kButtons) {
    if (const HWND control = ::GetDlgItem(window, button.id)) {
      std::printf(" %s=%s", button.name, Hex(TextOf(control)).c_str());
    }
  }
  std::printf("\n");
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "hold") == 0 &&
      (std::strcmp(argv[2], "read") == 0 || std::strcmp(argv[2], "write") == 0)) {
    return Hold(argv[2], argv[3]);
  }
  if (argc == 2 && std::strcmp(argv[1], "boxes") == 0) {
    ::EnumWindows(PrintBox, 0);
    std::fflush(stdout);
    return 0;
  }
  std::fprintf(stderr, "usage: kelconv_test_helper hold read|write PATH | boxes\n");
  return 3;
}
