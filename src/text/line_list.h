// The line list: an ordered sequence of byte strings indexed from 0, never sorted.
#ifndef KELCONV_TEXT_LINE_LIST_H_
#define KELCONV_TEXT_LINE_LIST_H_

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace kelconv {

// A line list owns copies of its lines. The lines are kept in blocks that are reused after
// Clear, so a list that is filled and cleared over and over stops allocating once its blocks
// are large enough.
class LineList {
 public:
  LineList() = default;
  LineList(const LineList&) = delete;
  LineList& operator=(const LineList&) = delete;

  int Count() const { return static_cast<int>(lines_.size()); }

  // The line at `index`; it stays valid until the list is cleared or destroyed.
  // Raises EStringListError with `index` unless 0 <= index < Count().
  std::string_view Get(int index) const;

  // Appends a copy of `line` and returns its index (the count before the call).
  int Add(std::string_view line);

  // Inserts a copy of `line` at `index`; the lines from there on move up by one.
  // Raises EStringListError with `index`, changing nothing, unless 0 <= index <= Count().
  void Insert(int index, std::string_view line);

  // Removes the line at `index`; the lines after it move down by one.
  // Raises EStringListError with `index`, changing nothing, unless 0 <= index < Count().
  void Delete(int index);

  // Removes every line.
  void Clear();

 private:
  // Copies `line` into the blocks and returns the copy.
  std::string_view Store(std::string_view line);

  std::vector<std::string_view> lines_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::vector<std::size_t> block_sizes_;
  std::size_t block_ = 0;  // the block being filled
  std::size_t used_ = 0;   // bytes used in that block
};

}  // namespace kelconv

#endif  // KELCONV_TEXT_LINE_LIST_H_
