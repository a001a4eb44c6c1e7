#include "convert/conversion.h"

#include <memory>

#include "convert/format.h"
#include "text/line_file.h"

namespace kelconv {

void ConvertDataFiles(FileSystem& files, std::string_view list_path, std::string_view list_bytes,
                      std::string_view page_path, const LeadBytes& lead_bytes) {
  const std::unique_ptr<FileContent> pages = files.ReadFile(page_path);
  const Format100Data data = LayOutFormat100(list_bytes, pages->bytes());

  // The new list file is written beside the old one and takes its place only when complete,
  // so a failure on the way leaves the format 1.00 data whole.
  const std::unique_ptr<ReplacementFile> list = files.ReplaceFile(list_path);
  LineWriter writer(*list);
  WriteFormat200(data, lead_bytes, writer);
  list->Commit();

  // Only now that the new list file is in place may the page file go.
  files.DeleteFile(page_path);
}

}  // namespace kelconv
