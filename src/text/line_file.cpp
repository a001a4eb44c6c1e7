#include "text/line_file.h"

#include <algorithm>
#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace kelconv {
namespace {

// The first byte in [p, end) that is NUL, CR or LF, or `end`.
const char* FindLineBreak(const char* p, const char* end) {
  // Eight bytes at a time: text bytes are almost never below 0x0E, so a word with no such
  // byte is passed over whole. In a word that holds one, the lowest flagged byte is always
  // below 0x0E (only the bytes above one can be flagged wrongly), so on a little-endian
  // machine the flags lead straight to the candidates.
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
#ifdef __SSE2__
  // Sixteen bytes at a time, exactly, where SSE2 is there.
  for (; end - p >= 16; p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i breaks = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_setzero_si128()),
                                        _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\r')),
                                                     _mm_cmpeq_epi8(block, _mm_set1_epi8('\n'))));
    const int mask = _mm_movemask_epi8(breaks);
    if (mask != 0) return p + std::countr_zero(static_cast<unsigned>(mask));
  }
#endif
  for (; end - p >= 8; p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    std::uint64_t low = (word - kOnes * 0x0E) & ~word & kHighs;
    if constexpr (std::endian::native == std::endian::little) {
      for (; low != 0; low &= low - 1) {
        const char* const at = p + std::countr_zero(low) / 8;
        if (*at == '\0' || *at == '\r' || *at == '\n') return at;
      }
    } else if (low != 0) {
      for (const char* at = p; at < p + 8; ++at) {
        if (*at == '\0' || *at == '\r' || *at == '\n') return at;
      }
    }
  }
  for (; p < end; ++p) {
    if (*p == '\0' || *p == '\r' || *p == '\n') return p;
  }
  return end;
}

#ifdef __SSE2__
// Counts the line ends from `p` on, as Skip does, sixteen bytes at a time in byte lanes that
// are added up after each run of at most 255 blocks, as long as more lines are left to skip
// than a run can hold. Adds them to `skipped` and returns where it stopped: at the end of a run,
// or at the block with the first NUL.
const char* SkipLinesOfBlocks(const char* p, const char* end, std::int64_t count,
                              std::int64_t& skipped) {
  constexpr std::int64_t kMaxRunBlocks = 255;  // a byte lane counts up to 255
  const __m128i cr_bytes = _mm_set1_epi8('\r');
  const __m128i lf_bytes = _mm_set1_epi8('\n');
  const __m128i zero = _mm_setzero_si128();
  // In byte 0: all ones when the byte before the block is a CR. Skip begins at the start of
  // a line, so the byte before it is no CR of a CR LF.
  __m128i cr_before = zero;
  while (true) {
    // A block holds at most sixteen line ends; a run leaves at least one line to skip.
    const std::int64_t blocks =
        std::min({kMaxRunBlocks, (end - p) / 16, (count - skipped - 1) / 16});
    if (blocks <= 0) break;
    __m128i sums = zero;
    const char* const run_end = p + 16 * blocks;
    bool nul = false;
    for (; p < run_end; p += 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(block, zero)) != 0) {
        nul = true;
        break;
      }
      const __m128i cr = _mm_cmpeq_epi8(block, cr_bytes);
      const __m128i after_cr = _mm_or_si128(_mm_slli_si128(cr, 1), cr_before);
      const __m128i ends =
          _mm_or_si128(cr, _mm_andnot_si128(after_cr, _mm_cmpeq_epi8(block, lf_bytes)));
      sums = _mm_sub_epi8(sums, ends);  // an end is all ones: minus one adds one
      cr_before = _mm_srli_si128(cr, 15);
    }
    const __m128i totals = _mm_sad_epu8(sums, zero);
    skipped += _mm_cvtsi128_si32(totals) + _mm_cvtsi128_si32(_mm_srli_si128(totals, 8));
    if (nul) break;
  }
  return p;
}
#else
const char* SkipLinesOfBlocks(const char* p, const char* /*end*/, std::int64_t /*count*/,
                              std::int64_t& /*skipped*/) {
  return p;
}
#endif

}  // namespace

bool LineReader::Next(std::string_view& line) {
  if (next_ == end_) return false;
  const char* stop = FindLineBreak(next_, end_);
  if (stop != end_ && *stop == '\0') {
    // The text ends at its first NUL; nothing after it is read.
    end_ = stop;
    if (stop == next_) return false;
  }
  line = std::string_view(next_, static_cast<std::size_t>(stop - next_));
  next_ = stop;
  if (next_ != end_ && *next_ == '\r') ++next_;
  if (next_ != end_ && *next_ == '\n') ++next_;
  return true;
}

std::int64_t LineReader::Skip(std::int64_t count) {
  std::int64_t skipped = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Counts the line ends of whole words without looking at lines one by one: each CR ends
    // a line, and so does each LF that does not follow a CR. A word holds at most eight line
    // ends, so whole words are counted while more than eight lines are left to skip; the
    // rest, and any word with a NUL in it, is left to Next.
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kLows = kOnes * 0x7F;
    const auto equal = [](std::uint64_t word, unsigned char byte) {
      const std::uint64_t x = word ^ (kOnes * byte);
      return ~(((x & kLows) + kLows) | x | kLows);  // exact: no carry crosses a byte
    };
    const char* p = SkipLinesOfBlocks(next_, end_, count, skipped);
    // The high bit of byte 0 when the byte before p is a CR.
    std::uint64_t cr_before = p != next_ && p[-1] == '\r' ? 0x80 : 0;
    for (; end_ - p >= 8 && count - skipped > 8; p += 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      if (equal(word, '\0') != 0) break;
      const std::uint64_t cr = equal(word, '\r');
      const std::uint64_t ends = cr | (equal(word, '\n') & ~(cr << 8 | cr_before));
      // The flags are the high bits of bytes: one multiplication adds them up (without
      // a popcount instruction, std::popcount is a call).
      skipped += static_cast<std::int64_t>(((ends >> 7) * kOnes) >> 56);
      cr_before = cr >> 56;
    }
    // The next line begins after the last line end counted, and after the LF of a CR LF.
    const char* start = p;
    while (start != next_ && start[-1] != '\r' && start[-1] != '\n') --start;
    if (start != next_ && start[-1] == '\r' && start != end_ && *start == '\n') ++start;
    next_ = start;
  }
  std::string_view line;
  while (skipped < count && Next(line)) ++skipped;
  return skipped;
}

std::int64_t CountLines(std::string_view bytes, std::int64_t limit) {
  return LineReader(bytes).Skip(limit);
}

// The slack lets a line that ends just below the flush size be finished without a flush.
LineWriter::LineWriter(ByteSink& sink)
    : sink_(sink),
      buffer_(std::make_unique_for_overwrite<char[]>(kFlushSize + 4096)),
      capacity_(kFlushSize + 4096) {}

void LineWriter::MakeRoom(std::size_t size) {
  FlushBuffer();
  if (capacity_ < size) {
    buffer_ = std::make_unique_for_overwrite<char[]>(size);
    capacity_ = size;
  }
}

void LineWriter::AppendDirectly(std::string_view bytes) {
  FlushBuffer();
  sink_.Append(bytes);
}

void LineWriter::FlushBuffer() {
  if (used_ == 0) return;
  sink_.Append(std::string_view(buffer_.get(), used_));
  used_ = 0;
}

}  // namespace kelconv
