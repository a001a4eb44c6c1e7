// The message box on Win32: MessageBoxExA in Japanese, owned by whatever window is in the
// foreground when the message comes; the failure report by MessageBoxA without an owner.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // the C++ library of mingw-w64 may define it already
#define NOMINMAX
#endif
#include <windows.h>
// <windows.h> defines MessageBox as a macro for MessageBoxA/W; our interface is a class of
// that name.
#undef MessageBox

#include <memory>
#include <string>
#include <string_view>

#include "ui/message_box.h"

namespace kelconv {
namespace {

// MB_SETFOREGROUND | MB_SYSTEMMODAL | MB_ICONINFORMATION with MB_OK: 0x11040.
constexpr UINT kInformStyle = MB_SETFOREGROUND | MB_SYSTEMMODAL | MB_ICONINFORMATION | MB_OK;
// The same with MB_YESNO and no default-button flag, so Yes is the default: 0x11044.
constexpr UINT kAskStyle = MB_SETFOREGROUND | MB_SYSTEMMODAL | MB_ICONINFORMATION | MB_YESNO;
// MB_TASKMODAL | MB_ICONHAND with MB_OK: 0x2010.
constexpr UINT kReportStyle = MB_TASKMODAL | MB_ICONHAND | MB_OK;
// LANG_JAPANESE with SUBLANG_NEUTRAL: 0x11.
constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_NEUTRAL);

static_assert(kInformStyle == 0x11040 && kAskStyle == 0x11044 && kReportStyle == 0x2010);
static_assert(kJapanese == 0x11);

class Win32MessageBox : public MessageBox {
 public:
  void Inform(std::string_view caption, std::string_view text) override {
    Show(caption, text, kInformStyle);
  }

  bool Ask(std::string_view caption, std::string_view text) override {
    // IDNO, and 0 when the box could not be shown, are both "not Yes".
    return Show(caption, text, kAskStyle) == IDYES;
  }

  void ReportFailure(std::string_view caption, std::string_view text) override {
    const std::string text_z(text);
    const std::string caption_z(caption);
    ::MessageBoxA(/*hWnd=*/nullptr, text_z.c_str(), caption_z.c_str(), kReportStyle);
  }

 private:
  static int Show(std::string_view caption, std::string_view text, UINT style) {
    const std::string text_z(text);
    const std::string caption_z(caption);
    // The owner is asked for anew for every message: the foreground window may have changed
    // while an earlier box was up.
    return ::MessageBoxExA(::GetForegroundWindow(), text_z.c_str(), caption_z.c_str(), style,
                           kJapanese);
  }
};

}  // namespace

std::unique_ptr<MessageBox> NewPlatformMessageBox() { return std::make_unique<Win32MessageBox>(); }

}  // namespace kelconv
