// Text services of the platform that the comma-text rules and the data-file names use:
// the lead bytes of the ANSI code page, lower-casing and name comparison.
#ifndef KELCONV_TEXT_TEXT_SERVICES_H_
#define KELCONV_TEXT_TEXT_SERVICES_H_

#include <array>
#include <string>
#include <string_view>

namespace kelconv {

// The set of bytes that begin a double-byte character.
class LeadBytes {
 public:
  // No lead bytes: every byte is a character of its own.
  LeadBytes() = default;

  // The lead bytes of code page 932: 0x81-0x9F and 0xE0-0xFC.
  static LeadBytes Cp932();

  bool IsLead(unsigned char byte) const { return table_[byte]; }
  bool IsLead(char byte) const { return table_[static_cast<unsigned char>(byte)]; }

  // Adds the bytes from `first` to `last` inclusive.
  void AddRange(unsigned char first, unsigned char last);

 private:
  std::array<bool, 256> table_{};
};

// The lead bytes of the system's ANSI code page; none on a system without double-byte
// support. Read once, on the first call.
const LeadBytes& SystemLeadBytes();

// Lower-cases `text` in place as the system's ANSI lower-casing does.
void LowerCaseAnsi(std::string& text);

// True when the system, in the user's locale and ignoring letter case, takes `a` and `b`
// for the same name.
bool NamesEqualIgnoringCase(std::string_view a, std::string_view b);

}  // namespace kelconv

#endif  // KELCONV_TEXT_TEXT_SERVICES_H_
