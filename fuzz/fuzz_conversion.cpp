// Fuzzes a whole run of the converter in memory: the bytes of kelrun.lst and kelrun.tab go
// in, the user answers Yes, and what comes out is the format 2.00 list file, an early stop
// with a message, or a failure.
//
// Input: two bytes, the length of the page file (15 bits, little-endian, cut to what there
// is) and a flag that repeats the data to more pages than one part of the rewrite holds; the
// page file; then the list file.
//
// Properties: a finished conversion leaves exactly the 12 x N + 3 lines of format 2.00 for
// the N lines of the page file (header, count, page table, sections, end marker), each entry
// line splitting back into the fields of its format 1.00 line when they are valid code page
// 932 text, and the page file deleted; every other outcome leaves both files as they were; a
// failure is the index failure of a list file too short for its pages, with the right index.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/messages.h"
#include "app/run.h"
#include "convert/format.h"
#include "reference_model.h"
#include "text/failure.h"
#include "text/file_system.h"
#include "ui/message_box.h"

namespace kelconv {
namespace {

using reference::Check;

constexpr std::string_view kListPath = "kelrun.lst";
constexpr std::string_view kPagePath = "kelrun.tab";

class MemoryContent : public FileContent {
 public:
  explicit MemoryContent(std::string bytes) : bytes_(std::move(bytes)) {}
  std::string_view bytes() const override { return bytes_; }

 private:
  std::string bytes_;
};

class MemoryReplacement : public ReplacementFile {
 public:
  explicit MemoryReplacement(std::string& file) : file_(file) {}
  void Append(std::string_view bytes) override { text_ += bytes; }
  void Commit() override { file_ = text_; }

 private:
  std::string& file_;
  std::string text_;
};

class MemoryFileSystem : public FileSystem {
 public:
  std::map<std::string, std::string, std::less<>> files;

  bool FileExists(std::string_view name) override { return files.find(name) != files.end(); }
  std::unique_ptr<FileContent> ReadFile(std::string_view path) override {
    const auto file = files.find(path);
    if (file == files.end()) RaiseOpenError(path);
    return std::make_unique<MemoryContent>(file->second);
  }
  std::unique_ptr<ReplacementFile> ReplaceFile(std::string_view path) override {
    const auto file = files.find(path);
    if (file == files.end()) RaiseCreateError(path);
    return std::make_unique<MemoryReplacement>(file->second);
  }
  void DeleteFile(std::string_view path) override {
    const auto file = files.find(path);
    if (file != files.end()) files.erase(file);
  }
};

// Answers Yes and keeps what it was shown.
class YesBox : public MessageBox {
 public:
  void Inform(std::string_view /*caption*/, std::string_view text) override {
    informed.emplace_back(text);
  }
  bool Ask(std::string_view /*caption*/, std::string_view /*text*/) override {
    asked = true;
    return true;
  }
  void ReportFailure(std::string_view /*caption*/, std::string_view text) override {
    report = text;
  }

  std::vector<std::string> informed;
  bool asked = false;
  std::string report;
};

void CheckConverted(std::string_view list, std::string_view pages, const std::string& written) {
  const std::vector<std::string> page_lines = reference::ReadLines(pages);
  const std::vector<std::string> list_lines = reference::ReadLines(list);
  const std::size_t n = page_lines.size();
  Check(list_lines.size() >= 1 + 10 * n, "a converted list file held ten entry lines a page");

  Check(written.ends_with("\r\n") && written.find('\0') == std::string::npos,
        "the new list file ends with CR LF and holds no NUL");
  const std::vector<std::string> out = reference::ReadLines(written);
  Check(out.size() == 12 * n + 3, "the new list file has 12 x N + 3 lines");
  std::size_t line_ends = 0;
  for (std::size_t i = 0; i + 1 < written.size(); ++i) {
    if (written[i] == '\r' && written[i + 1] == '\n') ++line_ends;
  }
  Check(line_ends == out.size(), "every line ends with CR LF");
  Check(out[0] == kFormat200Header, "the header line of format 2.00");
  Check(out[1] == std::to_string(n), "the page count");
  for (std::size_t k = 0; k < n; ++k) {
    Check(out[2 + k] == page_lines[k] + ",10", "the page table");
    const std::size_t section = 2 + n + 11 * k;
    Check(out[section] == "[" + std::to_string(k) + "]", "the section line");
    for (std::size_t row = 0; row < 10; ++row) {
      const std::string& source = list_lines[1 + 10 * k + row];
      const std::vector<std::string> fields = reference::Split(source, true);
      const std::string& entry = out[section + 1 + row];
      if (fields.empty()) Check(entry.empty(), "a line without fields stays empty");
      bool valid = true;
      for (const std::string& field : fields) valid = valid && reference::IsValidCp932(field);
      if (valid) Check(reference::Split(entry, true) == fields, "entry fields survive");
    }
  }
  Check(out.back() == "**", "the end marker");
}

// Data of more pages than one part of the rewrite holds, so that it runs in parts on two
// threads: the page lines and the entry lines after the header, each repeated.
void Repeat(std::string& list, std::string& pages) {
  const std::size_t page_lines = reference::ReadLines(pages).size();
  if (page_lines == 0) return;
  const std::size_t times = static_cast<std::size_t>(kPagesPerPart) / page_lines + 1;
  const std::size_t header_end = list.find_first_of("\r\n");
  if (header_end == std::string::npos) return;
  const std::string header = list.substr(0, header_end);
  const std::string entries = list.substr(header_end + 1) + "\r\n";
  list = header + "\r\n";
  const std::string one_page_file = pages + "\r\n";
  pages.clear();
  for (std::size_t i = 0; i < times; ++i) {
    list += entries;
    pages += one_page_file;
  }
}

void FuzzRun(std::string_view input) {
  if (input.size() < 2) return;
  // The top bit of the second byte asks for many pages; the other 15 bits are the length.
  const bool many_pages = (static_cast<unsigned char>(input[1]) & 0x80) != 0;
  const std::size_t wanted = static_cast<unsigned char>(input[0]) +
                             (std::size_t{static_cast<unsigned char>(input[1]) & 0x7Fu} << 8);
  input.remove_prefix(2);
  std::string pages(input.substr(0, wanted));
  std::string list(input.substr(pages.size()));
  if (many_pages) Repeat(list, pages);

  MemoryFileSystem files;
  files.files[std::string(kListPath)] = list;
  files.files[std::string(kPagePath)] = pages;
  YesBox box;
  const int exit_code = RunConverter(files, box);

  const bool converted = !box.informed.empty() && box.informed.back() == messages::kConversionEnded;
  if (exit_code == 0 && converted) {
    Check(box.asked && box.report.empty(), "a conversion follows the question");
    Check(files.files.count(std::string(kPagePath)) == 0, "the page file is deleted");
    CheckConverted(list, pages, files.files[std::string(kListPath)]);
    return;
  }
  Check(files.files[std::string(kListPath)] == list, "the list file is left as it was");
  Check(files.files[std::string(kPagePath)] == pages, "the page file is left as it was");
  if (exit_code == 0) {
    Check(box.report.empty(), "no failure report at an ordinary end");
    return;
  }
  Check(exit_code == 1, "exit code 1 after a failure");
  Check(box.report.starts_with("EStringListError"), "only the index failure can happen here");
  const std::vector<std::string> list_lines = reference::ReadLines(list);
  std::size_t index = 0;
  if (!list_lines.empty()) {
    Check(box.asked, "with a header line, the failure comes after the question");
    const std::size_t entries = list_lines.size() - 1;
    Check(entries < 10 * reference::ReadLines(pages).size(), "too few entry lines");
    index = entries % 10;
  }
  Check(box.report.ends_with("(" + std::to_string(index) + ")."), "the index of the failure");
}

}  // namespace
}  // namespace kelconv

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelconv::FuzzRun(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
