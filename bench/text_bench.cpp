// Micro benchmarks of the data path: the line reader, the comma-text split and the whole
// conversion in memory, each over a generated data set, in bytes per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/format.h"
#include "data_set.h"
#include "text/byte_sink.h"
#include "text/comma_text.h"
#include "text/line_file.h"
#include "text/line_list.h"
#include "text/text_services.h"

namespace kelconv::bench {
namespace {

constexpr std::int64_t kPages = 10'000;
constexpr std::uint64_t kSeed = 1;

const DataSet& TheDataSet() {
  static const DataSet set = GenerateDataSet(kPages, kSeed);
  return set;
}

// Counts the bytes it is given and keeps none, so that only the conversion is measured.
class CountingSink : public ByteSink {
 public:
  void Append(std::string_view bytes) override { count_ += bytes.size(); }
  std::size_t count() const { return count_; }

 private:
  std::size_t count_ = 0;
};

void BM_LineReader(benchmark::State& state) {
  const std::string_view list = TheDataSet().list;
  for (auto _ : state) {
    LineReader reader(list);
    std::string_view line;
    std::size_t lines = 0;
    while (reader.Next(line)) ++lines;
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(list.size()));
}
BENCHMARK(BM_LineReader);

// The check for enough entry lines before anything is written, which notes the part starts.
void BM_LayOutFormat100(benchmark::State& state) {
  const DataSet& set = TheDataSet();
  for (auto _ : state) benchmark::DoNotOptimize(LayOutFormat100(set.list, set.pages));
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(set.list.size() + set.pages.size()));
}
BENCHMARK(BM_LayOutFormat100);

void BM_SplitCommaText(benchmark::State& state) {
  std::vector<std::string_view> lines;
  std::int64_t bytes = 0;
  LineReader reader(TheDataSet().list);
  for (std::string_view line; reader.Next(line);) {
    lines.push_back(line);
    bytes += static_cast<std::int64_t>(line.size());
  }
  const LeadBytes lead_bytes = LeadBytes::Cp932();
  LineList fields;
  for (auto _ : state) {
    for (const std::string_view line : lines) {
      SplitCommaText(line, lead_bytes, fields);
      benchmark::DoNotOptimize(fields.Count());
    }
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_SplitCommaText);

void BM_WriteQuotedFields(benchmark::State& state) {
  std::vector<std::string_view> lines;
  std::int64_t bytes = 0;
  std::size_t longest = 0;
  LineReader reader(TheDataSet().list);
  for (std::string_view line; reader.Next(line);) {
    lines.push_back(line);
    bytes += static_cast<std::int64_t>(line.size());
    longest = std::max(longest, line.size());
  }
  const LeadBytes lead_bytes = LeadBytes::Cp932();
  std::string out(QuotedFieldsSizeLimit(longest), '\0');
  for (auto _ : state) {
    for (const std::string_view line : lines) {
      benchmark::DoNotOptimize(WriteQuotedFields(line, lead_bytes, out.data()));
    }
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_WriteQuotedFields);

// Lays out and writes the whole format 2.00 text; bytes are those of both files read. Timed
// by the clock, as the page sections are made on two threads.
void BM_ConvertInMemory(benchmark::State& state) {
  const DataSet& set = TheDataSet();
  const LeadBytes lead_bytes = LeadBytes::Cp932();
  std::size_t written = 0;
  for (auto _ : state) {
    CountingSink sink;
    LineWriter writer(sink);
    WriteFormat200(LayOutFormat100(set.list, set.pages), lead_bytes, writer);
    written = sink.count();
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(set.list.size() + set.pages.size()));
  state.counters["output_bytes"] = static_cast<double>(written);
}
BENCHMARK(BM_ConvertInMemory)->UseRealTime();

}  // namespace
}  // namespace kelconv::bench
