#include "app/run.h"

#include <cstdio>
#include <memory>
#include <new>

#include "app/messages.h"
#include "convert/conversion.h"
#include "text/comma_text.h"
#include "text/line_file.h"
#include "text/line_list.h"

namespace kelconv {
namespace {

using messages::kAlreadyNewest;
using messages::kCaption;
using messages::kConversionEnded;
using messages::kConvertQuestion;
using messages::kForeignFile;
using messages::kListMissingBefore;
using messages::kMissingAfter;
using messages::kPageMissingBefore;
using messages::kReportAt;
using messages::kReportModule;
using messages::kReportRaised;
using messages::kVersionArrow;
using messages::kVersionSeparator;

// The launcher's own file name, from which both data-file names are made.
constexpr std::string_view kLauncherName = "kelrun.exe";
constexpr std::string_view kListExtension = ".lst";
constexpr std::string_view kPageExtension = ".tab";
constexpr std::string_view kApplication = "Kelvado";
constexpr std::string_view kConvertibleVersion = "1.00";
constexpr std::string_view kNewVersion = "2.00";

// The code address of the caller, for failures that no Raise function records.
__attribute__((noinline)) const void* CallerAddress() {
  return __builtin_extract_return_addr(__builtin_return_address(0));
}

// The steps of a run up to and including the conversion. Returns normally at every ordinary
// end; failures pass through.
void ConvertIfWanted(FileSystem& files, MessageBox& box) {
  const LeadBytes& lead_bytes = SystemLeadBytes();

  std::string list_path = ChangeExtension(kLauncherName, kListExtension, lead_bytes);
  LowerCaseAnsi(list_path);
  if (!files.FileExists(list_path)) {
    box.Inform(kCaption, std::string(kListMissingBefore) + list_path + std::string(kMissingAfter));
    return;
  }

  const std::unique_ptr<FileContent> list = files.ReadFile(list_path);
  std::string_view header;
  LineReader lines(list->bytes());
  if (!lines.Next(header)) RaiseIndexError(0);
  LineList fields;
  SplitCommaText(header, lead_bytes, fields);

  if (LookupNamedValue(fields, "APP", lead_bytes) != kApplication) {
    box.Inform(kCaption, kForeignFile);
    return;
  }
  const std::string_view version = LookupNamedValue(fields, "VER", lead_bytes);
  const std::string version_line =
      list_path + std::string(kVersionSeparator) + std::string(version);
  if (IsNewerThanConvertible(version)) {
    box.Inform(kCaption, std::string(kAlreadyNewest) + "\r\r" + version_line);
    return;
  }

  const std::string page_path = ChangeExtension(list_path, kPageExtension, lead_bytes);
  if (!files.FileExists(page_path)) {
    box.Inform(kCaption, std::string(kPageMissingBefore) + page_path + std::string(kMissingAfter));
    return;
  }

  const std::string question = std::string(kConvertQuestion) + "\r\r" + version_line +
                               std::string(kVersionArrow) + std::string(kNewVersion);
  if (!box.Ask(kCaption, question)) return;

  ConvertDataFiles(files, list_path, list->bytes(), page_path, lead_bytes);
  box.Inform(kCaption, kConversionEnded);
}

}  // namespace

std::string ChangeExtension(std::string_view name, std::string_view extension,
                            const LeadBytes& lead_bytes) {
  std::size_t last = std::string_view::npos;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '.' || c == '\\' || c == ':') last = i;
    if (lead_bytes.IsLead(c)) ++i;
  }
  std::string result(last != std::string_view::npos && name[last] == '.' ? name.substr(0, last)
                                                                         : name);
  result += extension;
  return result;
}

bool IsNewerThanConvertible(std::string_view version) {
  // std::string_view compares as unsigned bytes, the shorter beginning first.
  return version.compare(kConvertibleVersion) > 0;
}

std::string FailureReportText(const Failure& failure, const RaiseSite& site) {
  char place[17];
  // Eight digits, as for a module of a 32-bit address space.
  std::snprintf(place, sizeof place, "%08lX",
                static_cast<unsigned long>(site.offset & 0xFFFFFFFFu));
  std::string text = failure.kind();
  text += kReportModule;
  text += site.module_name;
  text += kReportAt;
  text += place;
  text += kReportRaised;
  text += '\n';
  text += failure.message();
  if (!failure.message().empty() && failure.message().back() != '.') text += '.';
  return text;
}

int RunConverter(FileSystem& files, MessageBox& box) {
  const void* place = nullptr;
  try {
    ConvertIfWanted(files, box);
    return 0;
  } catch (const Failure& failure) {
    // The line lists and files of the run are released by now, before the report.
    box.ReportFailure(messages::kReportCaption,
                      FailureReportText(failure, DescribeRaiseSite(failure.place())));
    return 1;
  } catch (const std::bad_alloc&) {
    place = CallerAddress();
  }
  // Out of memory: the report is made outside the handler, with the memory of the run freed.
  try {
    box.ReportFailure(messages::kReportCaption,
                      FailureReportText(OutOfMemoryFailure(place), DescribeRaiseSite(place)));
  } catch (const std::bad_alloc&) {
    // Not even the report fits; the exit code still tells.
  }
  return 1;
}

}  // namespace kelconv
