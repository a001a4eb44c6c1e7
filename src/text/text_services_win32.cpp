// Text services on Win32: those of the system's ANSI code page and the user's locale.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // the C++ library of mingw-w64 may define it already
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <climits>
#include <string>
#include <string_view>

#include "text/text_services.h"

namespace kelconv {
namespace {

LeadBytes ReadSystemLeadBytes() {
  LeadBytes lead_bytes;
  // A system without double-byte support has no lead bytes, whatever GetCPInfo says.
  if (::GetSystemMetrics(SM_DBCSENABLED) == 0) return lead_bytes;
  CPINFO info{};
  if (::GetCPInfo(CP_ACP, &info) == FALSE) return lead_bytes;
  // LeadByte holds pairs of first and last byte of each range, ended by a pair of zeros.
  for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
    lead_bytes.AddRange(info.LeadByte[i], info.LeadByte[i + 1]);
  }
  return lead_bytes;
}

}  // namespace

const LeadBytes& SystemLeadBytes() {
  static const LeadBytes lead_bytes = ReadSystemLeadBytes();
  return lead_bytes;
}

void LowerCaseAnsi(std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, INT_MAX));
    ::CharLowerBuffA(text.data() + done, chunk);
    done += chunk;
  }
}

bool NamesEqualIgnoringCase(std::string_view a, std::string_view b) {
  // CompareStringA counts in int; names that long are never the same short name.
  if (a.size() > INT_MAX || b.size() > INT_MAX) return a == b;
  return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                          static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace kelconv
