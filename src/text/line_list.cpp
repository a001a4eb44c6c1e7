#include "text/line_list.h"

#include <algorithm>
#include <cstring>

#include "text/failure.h"

namespace kelconv {
namespace {

constexpr std::size_t kMinBlockSize = 4096;

}  // namespace

std::string_view LineList::Get(int index) const {
  if (index < 0 || index >= Count()) RaiseIndexError(index);
  return lines_[static_cast<std::size_t>(index)];
}

int LineList::Add(std::string_view line) {
  const int index = Count();
  // Reserve first so that a failing allocation leaves the list as it was.
  lines_.reserve(lines_.size() + 1);
  lines_.push_back(Store(line));
  return index;
}

void LineList::Insert(int index, std::string_view line) {
  if (index < 0 || index > Count()) RaiseIndexError(index);
  lines_.reserve(lines_.size() + 1);
  lines_.insert(lines_.begin() + index, Store(line));
}

void LineList::Delete(int index) {
  if (index < 0 || index >= Count()) RaiseIndexError(index);
  lines_.erase(lines_.begin() + index);
}

void LineList::Clear() {
  lines_.clear();
  block_ = 0;
  used_ = 0;
}

std::string_view LineList::Store(std::string_view line) {
  if (line.empty()) return {};
  // Find a block with room, starting at the one being filled; blocks past it are free again
  // after Clear.
  while (block_ < blocks_.size() && block_sizes_[block_] - used_ < line.size()) {
    ++block_;
    used_ = 0;
  }
  if (block_ == blocks_.size()) {
    const std::size_t size =
        std::max({kMinBlockSize, line.size(), blocks_.empty() ? 0 : 2 * block_sizes_.back()});
    block_sizes_.reserve(block_sizes_.size() + 1);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    block_sizes_.push_back(size);
    used_ = 0;
  }
  char* copy = blocks_[block_].get() + used_;
  std::memcpy(copy, line.data(), line.size());
  used_ += line.size();
  return {copy, line.size()};
}

}  // namespace kelconv
