// Generated format 1.00 data sets of any size, for the benchmarks: realistic entry lines
// (names in code page 932, paths, arguments, quoted and unquoted fields, blanks, empty
// fields and empty entries) and page lines, with mixed line ends.
#ifndef KELCONV_BENCH_DATA_SET_H_
#define KELCONV_BENCH_DATA_SET_H_

#include <cstdint>
#include <string>

namespace kelconv::bench {

struct DataSet {
  std::string list;   // the bytes of kelrun.lst
  std::string pages;  // the bytes of kelrun.tab
};

// A format 1.00 data set of `page_count` pages that converts without a failure. The same
// `seed` gives the same bytes on every platform.
DataSet GenerateDataSet(std::int64_t page_count, std::uint64_t seed);

}  // namespace kelconv::bench

#endif  // KELCONV_BENCH_DATA_SET_H_
