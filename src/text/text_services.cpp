#include "text/text_services.h"

namespace kelconv {

LeadBytes LeadBytes::Cp932() {
  LeadBytes lead_bytes;
  lead_bytes.AddRange(0x81, 0x9F);
  lead_bytes.AddRange(0xE0, 0xFC);
  return lead_bytes;
}

void LeadBytes::AddRange(unsigned char first, unsigned char last) {
  for (unsigned byte = first; byte <= last; ++byte) table_[byte] = true;
}

}  // namespace kelconv
