// Plain, slow models of the byte rules, written straight from the rules as the converter
// documents them, byte by byte and with nothing shared with the converter's own code. The fuzz
// targets compare the fast code with them.
#ifndef KELCONV_FUZZ_REFERENCE_MODEL_H_
#define KELCONV_FUZZ_REFERENCE_MODEL_H_

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace kelconv::reference {

// Ends the run of the fuzz target as a finding when `holds` is false.
inline void Check(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "property violated: %s\n", property);
  std::abort();
}

inline bool IsLead(unsigned char c, bool double_byte) {
  return double_byte && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

inline bool IsBlank(unsigned char c) { return c >= 0x01 && c <= 0x20; }

inline unsigned char At(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

// The lines of a line file: the text ends at its end or first NUL; CR LF, CR and LF each end a
// line; a line end at the very end adds no line.
inline std::vector<std::string> ReadLines(std::string_view bytes) {
  std::size_t end = bytes.find('\0');
  if (end == std::string_view::npos) end = bytes.size();
  std::vector<std::string> lines;
  std::size_t p = 0;
  while (p < end) {
    std::size_t q = p;
    while (q < end && bytes[q] != '\r' && bytes[q] != '\n') ++q;
    lines.emplace_back(bytes.substr(p, q - p));
    p = q;
    if (p < end && bytes[p] == '\r') ++p;
    if (p < end && bytes[p] == '\n') ++p;
  }
  return lines;
}

// The comma-text split, step by step. With `double_byte`, the lead bytes of code page 932
// take the byte after them along (never past the end of the line).
inline std::vector<std::string> Split(std::string_view line, bool double_byte) {
  std::size_t end = line.find('\0');
  if (end == std::string_view::npos) end = line.size();
  const auto next = [&](std::size_t p) {
    return IsLead(At(line, p), double_byte) && p + 1 < end ? p + 2 : p + 1;
  };
  std::vector<std::string> fields;
  std::size_t p = 0;
  while (p < end && IsBlank(At(line, p))) ++p;
  while (p < end) {
    std::string field;
    if (line[p] == '"') {
      ++p;
      bool closed = false;
      while (p < end && !closed) {
        if (line[p] == '"') {
          if (p + 1 < end && line[p + 1] == '"') {
            field += '"';
            p += 2;
          } else {
            ++p;
            closed = true;
          }
        } else {
          const std::size_t n = next(p);
          field.append(line.substr(p, n - p));
          p = n;
        }
      }
    } else {
      const std::size_t start = p;
      while (p < end && line[p] != ',' && !IsBlank(At(line, p))) p = next(p);
      field = std::string(line.substr(start, p - start));
    }
    fields.push_back(field);
    while (p < end && IsBlank(At(line, p))) ++p;
    if (p < end && line[p] == ',') {
      ++p;
      while (p < end && IsBlank(At(line, p))) ++p;
    }
  }
  return fields;
}

// Names compare ignoring the case of ASCII letters; the two bytes of a double-byte character
// compare exactly.
inline bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto lower = [](unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
  };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (IsLead(At(a, i), true) && i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (lower(At(a, i)) != lower(At(b, i))) {
      return false;
    }
  }
  return true;
}

// The named-value lookup: the first field whose name part equals `name`; its bytes from
// position size(name) + 1 on.
inline std::string Lookup(const std::vector<std::string>& fields, std::string_view name) {
  for (const std::string& field : fields) {
    std::size_t p = 0;
    while (p < field.size() && field[p] != '=') {
      p += IsLead(At(field, p), true) && p + 1 < field.size() ? 2 : 1;
    }
    if (p >= field.size()) continue;
    const std::string_view name_part = std::string_view{field}.substr(0, p);
    if (!NamesEqual(name_part, name)) continue;
    return field.size() > name.size() + 1 ? field.substr(name.size() + 1) : std::string();
  }
  return {};
}

// True when `text` is valid code page 932 text: no NUL, and every lead byte followed by a
// trail byte (0x40-0x7E or 0x80-0xFC).
inline bool IsValidCp932(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = At(text, i);
    if (c == 0) return false;
    if (!IsLead(c, true)) continue;
    if (i + 1 == text.size()) return false;
    const unsigned char trail = At(text, ++i);
    if (!((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC))) return false;
  }
  return true;
}

}  // namespace kelconv::reference

#endif  // KELCONV_FUZZ_REFERENCE_MODEL_H_
