// Comma text: a line read as fields separated by commas or blanks, where a field in double
// quotes may hold commas and blanks; and named values, fields of the form NAME=VALUE.
//
// A line is scanned in characters: a lead byte together with the byte after it, or one byte.
// Only the first byte of a character is compared with a blank (0x01-0x20), a comma, a double
// quote or an equals sign. A NUL byte ends the line.
#ifndef KELCONV_TEXT_COMMA_TEXT_H_
#define KELCONV_TEXT_COMMA_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "text/line_list.h"
#include "text/text_services.h"

namespace kelconv {

// Empties `fields`, then appends the fields of `line` in order. Never fails on any content:
// a quoted field that is never closed runs to the end of the line, and bytes after a closing
// quote begin a new field.
void SplitCommaText(std::string_view line, const LeadBytes& lead_bytes, LineList& fields);

// The value of the first field in `fields` whose name part (the bytes before its first equals
// sign) equals `name` ignoring letter case, as the system compares names; empty when no field
// matches. The value is the field's bytes from position size(name) + 1 on (counting from 0).
// REQUIRES: `name` is not empty and holds no equals sign.
std::string_view LookupNamedValue(const LineList& fields, std::string_view name,
                                  const LeadBytes& lead_bytes);

// Appends `field` to `out` as a quoted field: a double quote, the field's bytes with every
// double quote that begins a character doubled, and a double quote. Splitting the result
// gives back `field` whenever `field` is valid code page 932 text.
void AppendQuotedField(std::string_view field, const LeadBytes& lead_bytes, std::string& out);

// The most bytes that WriteQuotedFields writes for a line of `size` bytes: an empty field
// between two commas takes three bytes for one.
constexpr std::size_t QuotedFieldsSizeLimit(std::size_t size) { return 3 * size + 3; }

// Writes the fields of `line`, as SplitCommaText gives them, at `out`: each as
// AppendQuotedField writes it, joined by single commas; nothing for a line without fields.
// Returns the end of what it wrote. The same bytes as splitting and quoting field by field,
// in one pass over the line and without a copy of any field.
// REQUIRES: `line` holds no NUL byte (no line of a LineReader does); `out` has room for
// QuotedFieldsSizeLimit(line.size()) bytes.
char* WriteQuotedFields(std::string_view line, const LeadBytes& lead_bytes, char* out);

}  // namespace kelconv

#endif  // KELCONV_TEXT_COMMA_TEXT_H_
