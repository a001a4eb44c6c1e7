#include "convert/format.h"

#include <string>

#include "text/comma_text.h"
#include "text/failure.h"

namespace kelconv {
namespace {

constexpr int kEntryLinesPerPage = 10;

// Writes the format 2.00 form of one entry line: each field quoted, joined by commas; a line
// without fields stays empty.
void WriteEntryLine(std::string_view line, const LeadBytes& lead_bytes, LineWriter& out) {
  out.Advance(WriteQuotedFields(line, lead_bytes, out.Reserve(QuotedFieldsSizeLimit(line.size()))));
  out.EndLine();
}

}  // namespace

Format100Data LayOutFormat100(std::string_view list_bytes, std::string_view page_bytes) {
  Format100Data data;
  data.page_text = page_bytes;
  data.page_count = CountLines(page_bytes);

  LineReader list(list_bytes);
  std::string_view header;
  if (!list.Next(header)) RaiseIndexError(0);
  const std::string_view entries = list.rest();
  const std::int64_t needed = kEntryLinesPerPage * data.page_count;
  std::string_view line;
  std::int64_t found = 0;
  while (found < needed && list.Next(line)) ++found;
  if (found < needed) RaiseIndexError(static_cast<int>(found % kEntryLinesPerPage));
  data.entry_text = entries.substr(0, entries.size() - list.rest().size());
  return data;
}

void WriteFormat200(const Format100Data& data, const LeadBytes& lead_bytes, LineWriter& out) {
  out.WriteLine(kFormat200Header);
  out.WriteLine(std::to_string(data.page_count));

  LineReader pages(data.page_text);
  std::string_view line;
  while (pages.Next(line)) {
    out.Append(line);
    out.Append(",10");
    out.EndLine();
  }

  LineReader entries(data.entry_text);
  for (std::int64_t page = 0; page < data.page_count; ++page) {
    out.Append('[');
    out.Append(std::to_string(page));
    out.Append(']');
    out.EndLine();
    for (int row = 0; row < kEntryLinesPerPage; ++row) {
      entries.Next(line);
      WriteEntryLine(line, lead_bytes, out);
    }
  }
  out.WriteLine("**");
  out.Flush();
}

}  // namespace kelconv
