#include "text/comma_text.h"

#include <bit>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace kelconv {
namespace {

bool IsBlank(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x01 && byte <= 0x20;
}

// The first byte in [p, end) that is a blank, a comma or a double quote, or `end`; NUL counts
// as a blank here.
const char* FindFieldStop(const char* p, const char* end) {
  // Eight bytes at a time. For each test the lowest flagged byte is exact (wrong flags come
  // only above a right one), so on a little-endian machine the flags lead straight to it.
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = kOnes * 0x80;
  const auto below = [](std::uint64_t word, unsigned char limit) {
    return (word - kOnes * limit) & ~word & kHighs;
  };
#ifdef __SSE2__
  // Sixteen bytes at a time, exactly, where SSE2 is there.
  for (; end - p >= 16; p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i blank = _mm_cmpeq_epi8(_mm_min_epu8(block, _mm_set1_epi8(0x20)), block);
    const __m128i stops =
        _mm_or_si128(blank, _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(',')),
                                         _mm_cmpeq_epi8(block, _mm_set1_epi8('"'))));
    const int mask = _mm_movemask_epi8(stops);
    if (mask != 0) return p + std::countr_zero(static_cast<unsigned>(mask));
  }
#endif
  for (; end - p >= 8; p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    const std::uint64_t flags =
        below(word, 0x21) | below(word ^ (kOnes * ','), 1) | below(word ^ (kOnes * '"'), 1);
    if (flags == 0) continue;
    if constexpr (std::endian::native != std::endian::little) break;
    return p + std::countr_zero(flags) / 8;
  }
  for (; p < end; ++p) {
    if (static_cast<unsigned char>(*p) <= 0x20 || *p == ',' || *p == '"') return p;
  }
  return end;
}

// The first double quote in [p, end), or `end`.
const char* FindQuote(const char* p, const char* end) {
#ifdef __SSE2__
  // Fields are short: a call of memchr costs more than the search of their first bytes.
  if (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('"')));
    if (mask != 0) return p + std::countr_zero(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  const void* quote = std::memchr(p, '"', static_cast<std::size_t>(end - p));
  return quote != nullptr ? static_cast<const char*>(quote) : end;
}

// True when the byte at `q` begins a character, in text whose characters begin at `begin`.
bool BeginsChar(const char* begin, const char* q, const LeadBytes& lead_bytes) {
  // A byte that is not a lead byte always ends a character (one of its own, or the second
  // byte of a pair), so characters begin afresh after it; from there the lead bytes pair up.
  const char* p = q;
  while (p > begin && lead_bytes.IsLead(p[-1])) --p;
  return (q - p) % 2 == 0;
}

// The position after the character that begins at `p`: a lead byte takes the byte after it
// along, but never steps past `end`.
const char* NextChar(const char* p, const char* end, const LeadBytes& lead_bytes) {
  return lead_bytes.IsLead(*p) && end - p >= 2 ? p + 2 : p + 1;
}

const char* SkipBlanks(const char* p, const char* end) {
  while (p < end && IsBlank(*p)) ++p;
  return p;
}

// Reads the quoted field whose opening quote stands at `p` and appends its text to `fields`.
// Returns the position after the closing quote, or `end`.
const char* AddQuotedField(const char* p, const char* end, const LeadBytes& lead_bytes,
                           LineList& fields) {
  const char* const text = ++p;
  std::string unquoted;  // used only once a doubled quote is met
  const char* copied = text;
  while (p < end) {
    if (*p != '"') {
      p = NextChar(p, end, lead_bytes);
      continue;
    }
    if (end - p >= 2 && p[1] == '"') {
      // A doubled quote stands for one: keep the first, drop the second.
      unquoted.append(copied, p + 1);
      p += 2;
      copied = p;
      continue;
    }
    // The closing quote.
    if (copied == text) {
      fields.Add(std::string_view(text, static_cast<std::size_t>(p - text)));
    } else {
      unquoted.append(copied, p);
      fields.Add(unquoted);
    }
    return p + 1;
  }
  // Never closed: the text runs to the end of the line.
  if (copied == text) {
    fields.Add(std::string_view(text, static_cast<std::size_t>(end - text)));
  } else {
    unquoted.append(copied, end);
    fields.Add(unquoted);
  }
  return end;
}

// Writes `bytes` as a quoted field at `out` and returns the end.
char* WriteQuoted(const char* begin, const char* end, char* out) {
  *out++ = '"';
  std::memcpy(out, begin, static_cast<std::size_t>(end - begin));
  out += end - begin;
  *out++ = '"';
  return out;
}

}  // namespace

void SplitCommaText(std::string_view line, const LeadBytes& lead_bytes, LineList& fields) {
  fields.Clear();
  const char* p = line.data();
  const char* end = p + line.size();
  if (const void* nul = std::memchr(p, '\0', line.size())) end = static_cast<const char*>(nul);

  p = SkipBlanks(p, end);
  while (p < end) {
    if (*p == '"') {
      p = AddQuotedField(p, end, lead_bytes, fields);
    } else {
      // An unquoted field runs to the first character that begins with a blank or a comma;
      // at a comma it is empty.
      const char* const start = p;
      while (p < end && *p != ',' && !IsBlank(*p)) p = NextChar(p, end, lead_bytes);
      fields.Add(std::string_view(start, static_cast<std::size_t>(p - start)));
    }
    p = SkipBlanks(p, end);
    if (p < end && *p == ',') p = SkipBlanks(p + 1, end);
  }
}

std::string_view LookupNamedValue(const LineList& fields, std::string_view name,
                                  const LeadBytes& lead_bytes) {
  for (int i = 0; i < fields.Count(); ++i) {
    const std::string_view field = fields.Get(i);
    const char* const begin = field.data();
    const char* const end = begin + field.size();
    const char* p = begin;
    while (p < end && *p != '=') p = NextChar(p, end, lead_bytes);
    if (p == end) continue;  // no equals sign: no named value
    const std::string_view name_part(begin, static_cast<std::size_t>(p - begin));
    if (!NamesEqualIgnoringCase(name_part, name)) continue;
    // The value begins one byte after the length of the name asked for, which is the byte
    // after the equals sign whenever the names differ at most in letter case.
    return field.size() > name.size() + 1 ? field.substr(name.size() + 1) : std::string_view();
  }
  return {};
}

void AppendQuotedField(std::string_view field, const LeadBytes& lead_bytes, std::string& out) {
  out += '"';
  const char* p = field.data();
  const char* const end = p + field.size();
  const char* copied = p;
  while (p < end) {
    if (*p == '"') {
      out.append(copied, p + 1);
      copied = p;  // the quote is written a second time with the next run
      ++p;
    } else {
      p = NextChar(p, end, lead_bytes);
    }
  }
  out.append(copied, end);
  out += '"';
}

char* WriteQuotedFields(std::string_view line, const LeadBytes& lead_bytes, char* out) {
  // Instead of stepping character by character, each scan looks for the bytes that can end
  // it and steps back only over lead bytes to see whether the one found begins a character.
  // In valid code page 932 text they always do: their bytes are never second bytes.
  const char* p = line.data();
  const char* const end = p + line.size();
  const char* const first = out;
  p = SkipBlanks(p, end);
  // A NUL (which no line of a LineReader holds) ends the line here as it ends the split;
  // the check also keeps the loop from standing still at one.
  while (p < end && *p != '\0') {
    if (out != first) *out++ = ',';
    if (*p == '"') {
      // Quoting again doubles exactly the quotes that the split reduced to one, so the text
      // between the quotes goes out as it stands; only its end has to be found.
      const char* const text = ++p;
      while ((p = FindQuote(p, end)) < end) {
        if (!BeginsChar(text, p, lead_bytes)) {
          ++p;
        } else if (end - p >= 2 && p[1] == '"') {
          p += 2;
        } else {
          break;
        }
      }
      out = WriteQuoted(text, p, out);
      if (p < end) ++p;  // the closing quote
    } else {
      const char* const start = p;
      bool has_quote = false;
      while ((p = FindFieldStop(p, end)) < end) {
        if (BeginsChar(start, p, lead_bytes)) {
          if (*p != '"') break;
          has_quote = true;
        }
        ++p;
      }
      if (has_quote) {
        std::string quoted;
        AppendQuotedField(std::string_view(start, static_cast<std::size_t>(p - start)), lead_bytes,
                          quoted);
        std::memcpy(out, quoted.data(), quoted.size());
        out += quoted.size();
      } else {
        out = WriteQuoted(start, p, out);
      }
    }
    p = SkipBlanks(p, end);
    if (p < end && *p == ',') p = SkipBlanks(p + 1, end);
  }
  return out;
}

}  // namespace kelconv
