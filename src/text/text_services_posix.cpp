// Text services on POSIX. The data is code page 932 whatever the locale, so the lead bytes are
// fixed to those of code page 932, and letter case is that of the ASCII letters, the only
// single-byte letters of code page 932.
#include <string>
#include <string_view>

#include "text/text_services.h"

namespace kelconv {
namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

const LeadBytes& SystemLeadBytes() {
  static const LeadBytes lead_bytes = LeadBytes::Cp932();
  return lead_bytes;
}

void LowerCaseAnsi(std::string& text) {
  const LeadBytes& lead_bytes = SystemLeadBytes();
  for (std::size_t i = 0; i < text.size(); ++i) {
    // The second byte of a double-byte character may look like a letter; it is left alone.
    if (lead_bytes.IsLead(text[i])) {
      ++i;
    } else {
      text[i] = AsciiLower(text[i]);
    }
  }
}

bool NamesEqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const LeadBytes& lead_bytes = SystemLeadBytes();
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lead_bytes.IsLead(a[i]) && i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace kelconv
