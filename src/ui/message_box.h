// The message boxes through which a run speaks to the user.
#ifndef KELCONV_UI_MESSAGE_BOX_H_
#define KELCONV_UI_MESSAGE_BOX_H_

#include <memory>
#include <string_view>

namespace kelconv {

// Captions and texts are code page 932 bytes; a CR byte in a text breaks the line.
class MessageBox {
 public:
  virtual ~MessageBox() = default;

  // Shows an information message with one OK button and returns once it is dismissed, or at
  // once when it cannot be shown.
  virtual void Inform(std::string_view caption, std::string_view text) = 0;

  // Asks a question with Yes (the default) and No. True only for the answer Yes; false for
  // No and when the question cannot be shown.
  virtual bool Ask(std::string_view caption, std::string_view text) = 0;

  // Shows the failure report: an error message with one OK button, owned by no window.
  virtual void ReportFailure(std::string_view caption, std::string_view text) = 0;
};

// The message box of the platform the program was built for.
std::unique_ptr<MessageBox> NewPlatformMessageBox();

}  // namespace kelconv

#endif  // KELCONV_UI_MESSAGE_BOX_H_
