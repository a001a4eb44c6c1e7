// The data-file layouts and the rewrite of format 1.00 data as format 2.00.
//
// Format 1.00: the list file holds a header line, then ten entry lines for each page; the page
// file holds one page line for each page. Format 2.00 is the list file alone: a header line,
// the page count, one page-table line per page, for each page a "[k]" line and its ten entry
// lines rewritten as quoted fields, and the end marker "**".
#ifndef KELCONV_CONVERT_FORMAT_H_
#define KELCONV_CONVERT_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "text/line_file.h"
#include "text/text_services.h"

namespace kelconv {

// The header line of every format 2.00 list file.
inline constexpr std::string_view kFormat200Header =
    R"("APP=Kelvado","VER=2.00","MAXPAGES=0","MAXREGIST=0","ONCEINS=-1","ONCEDEL=-1")";

// Format 1.00 data, checked and ready to be written as format 2.00. Views into the bytes of
// the two files, which must outlive it.
struct Format100Data {
  std::string_view page_text;   // the whole page file
  std::int64_t page_count = 0;  // its number of lines
  std::string_view entry_text;  // the entry lines that are converted: ten for each page
  // Where the entry lines of pages 0, kPagesPerPart, 2 * kPagesPerPart, ... begin in
  // entry_text: the parts of the page sections that can be written independently.
  std::vector<std::size_t> part_starts;
};

// The number of pages in a part of the page sections.
inline constexpr std::int64_t kPagesPerPart = 1024;

// Lays out the bytes of a format 1.00 list file and page file. Entry lines beyond ten for each
// page are left out. Raises EStringListError when the list file has no header line (with 0),
// or holds fewer than ten entry lines for each page (with the number of entry lines left for
// the first page that falls short).
Format100Data LayOutFormat100(std::string_view list_bytes, std::string_view page_bytes);

// Writes the whole format 2.00 list file for `data`. Raises EWriteError as `out` does. With
// more than one part, the page sections are made on a second thread as well, part by part,
// and reach `out` in order; when no second thread (or no memory for it) can be had, all is
// done on the caller's, as with one part.
void WriteFormat200(const Format100Data& data, const LeadBytes& lead_bytes, LineWriter& out);

}  // namespace kelconv

#endif  // KELCONV_CONVERT_FORMAT_H_
