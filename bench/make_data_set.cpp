// Writes a generated format 1.00 data set, kelrun.lst and kelrun.tab, into a folder.
//
//   kelconv_make_data_set FOLDER PAGES [SEED]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "data_set.h"

namespace {

bool WriteWhole(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s FOLDER PAGES [SEED]\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const long long pages = std::strtoll(argv[2], nullptr, 10);
  const unsigned long long seed = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 1;
  if (pages < 0) {
    std::fprintf(stderr, "PAGES must not be negative\n");
    return 2;
  }
  const kelconv::bench::DataSet set = kelconv::bench::GenerateDataSet(pages, seed);
  if (!WriteWhole(folder + "/kelrun.lst", set.list) ||
      !WriteWhole(folder + "/kelrun.tab", set.pages)) {
    std::perror(folder.c_str());
    return 1;
  }
  return 0;
}
