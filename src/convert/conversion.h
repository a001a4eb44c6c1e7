// The conversion of the data files in place, once the user has said Yes.
#ifndef KELCONV_CONVERT_CONVERSION_H_
#define KELCONV_CONVERT_CONVERSION_H_

#include <string_view>

#include "text/file_system.h"
#include "text/text_services.h"

namespace kelconv {

// Rewrites the list file at `list_path`, whose bytes as read are `list_bytes`, as format 2.00
// with the pages of the page file at `page_path`, then deletes the page file.
//
// Raises, in this order of the steps: EFOpenError when the page file cannot be read;
// EStringListError when the list file holds too few entry lines; EFCreateError when the list
// file cannot be replaced; EWriteError when the new list file cannot be written whole, or when
// it is in place but its replacement cannot be made durable. After any failure the page file
// is as it was, and so is the list file unless it is the complete new one. Whether the page
// file could be deleted is not looked at.
void ConvertDataFiles(FileSystem& files, std::string_view list_path, std::string_view list_bytes,
                      std::string_view page_path, const LeadBytes& lead_bytes);

}  // namespace kelconv

#endif  // KELCONV_CONVERT_CONVERSION_H_
