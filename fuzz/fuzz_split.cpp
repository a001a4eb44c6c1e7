// Fuzzes comma text: the split of a line into fields, the named-value lookup, and the quoted
// form in which the conversion writes fields.
//
// Properties: the split gives exactly the fields of the byte-by-byte model, with and without
// double-byte characters; the lookup gives the model's value; the one-pass rewrite of a line
// writes the same bytes as splitting and quoting each field, within its room; and fields of
// valid code page 932 text, written as quoted fields joined by commas, split back the same.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "reference_model.h"
#include "text/comma_text.h"
#include "text/line_list.h"
#include "text/text_services.h"

namespace kelconv {
namespace {

using reference::Check;

std::vector<std::string> Fields(const LineList& list) {
  std::vector<std::string> fields;
  for (int i = 0; i < list.Count(); ++i) fields.emplace_back(list.Get(i));
  return fields;
}

std::vector<std::string> SplitToVector(std::string_view line, const LeadBytes& lead_bytes) {
  LineList list;
  list.Add("left from before");
  SplitCommaText(line, lead_bytes, list);
  return Fields(list);
}

// The entry-line form: each field quoted, joined by commas.
std::string Quoted(const std::vector<std::string>& fields, const LeadBytes& lead_bytes) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    AppendQuotedField(fields[i], lead_bytes, line);
  }
  return line;
}

void CheckLookup(const LineList& list, const std::vector<std::string>& fields,
                 std::string_view name, const LeadBytes& lead_bytes) {
  // The lookup is asked only for names that are not empty and hold no equals sign.
  if (name.empty() || name.find('=') != std::string_view::npos) return;
  Check(LookupNamedValue(list, name, lead_bytes) == reference::Lookup(fields, name),
        "the lookup gives the value of the first field so named");
}

void FuzzCommaText(std::string_view line) {
  const LeadBytes single_byte;
  Check(SplitToVector(line, single_byte) == reference::Split(line, false),
        "the split without lead bytes follows the rules");

  const LeadBytes& lead_bytes = SystemLeadBytes();
  LineList list;
  SplitCommaText(line, lead_bytes, list);
  const std::vector<std::string> fields = Fields(list);
  Check(fields == reference::Split(line, true), "the split follows the rules");

  CheckLookup(list, fields, "APP", lead_bytes);
  CheckLookup(list, fields, "VER", lead_bytes);
  // A name taken from the line itself, its ASCII letters in upper case, reaches the fields
  // that hold it whatever their case.
  for (const std::string& field : fields) {
    std::string name = field.substr(0, field.find('='));
    for (std::size_t i = 0; i < name.size(); ++i) {
      if (lead_bytes.IsLead(name[i])) {
        ++i;
      } else if (name[i] >= 'a' && name[i] <= 'z') {
        name[i] = static_cast<char>(name[i] - 'a' + 'A');
      }
    }
    CheckLookup(list, fields, name, lead_bytes);
    break;
  }

  // The one-pass rewrite of a line writes what splitting and quoting field by field writes,
  // within its stated room (the exact room, so that ASan sees any byte past it).
  const std::string_view text = line.substr(0, line.find('\0'));
  const std::size_t room = QuotedFieldsSizeLimit(text.size());
  const auto buffer = std::make_unique<char[]>(room);
  const char* const written_end = WriteQuotedFields(text, lead_bytes, buffer.get());
  Check(written_end >= buffer.get() && written_end <= buffer.get() + room,
        "the rewrite stays within its room");
  Check(std::string_view(buffer.get(), static_cast<std::size_t>(written_end - buffer.get())) ==
            Quoted(fields, lead_bytes),
        "the one-pass rewrite equals split and quote");

  // The quote round trip, for the fields of the line and for the whole line as one field.
  bool all_valid = true;
  for (const std::string& field : fields) all_valid = all_valid && reference::IsValidCp932(field);
  if (all_valid) {
    Check(SplitToVector(Quoted(fields, lead_bytes), lead_bytes) == fields,
          "quoted fields split back into the same fields");
  }
  if (reference::IsValidCp932(line)) {
    const std::vector<std::string> one = {std::string(line)};
    const std::string written = Quoted(one, lead_bytes);
    Check(SplitToVector(written, lead_bytes) == one, "a quoted field splits back into itself");
    if (line.find('"') == std::string_view::npos) {
      Check(written == "\"" + std::string(line) + "\"", "a field without quotes is only quoted");
    }
  }
}

}  // namespace
}  // namespace kelconv

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelconv::FuzzCommaText(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
