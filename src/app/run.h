// The converter's run, from start to exit code.
#ifndef KELCONV_APP_RUN_H_
#define KELCONV_APP_RUN_H_

#include <string>
#include <string_view>

#include "app/raise_site.h"
#include "text/failure.h"
#include "text/file_system.h"
#include "text/text_services.h"
#include "ui/message_box.h"

namespace kelconv {

// Replaces the extension of `name` with `extension`: the bytes from its last "." on are
// dropped when that "." comes after every "\" and ":" (the second byte of a double-byte
// character never counts); otherwise `extension` is appended to the whole name.
std::string ChangeExtension(std::string_view name, std::string_view extension,
                            const LeadBytes& lead_bytes);

// True when `version` orders after "1.00": byte by byte as unsigned values, and a string that
// is the beginning of another orders first.
bool IsNewerThanConvertible(std::string_view version);

// The text of the failure report for `failure`, raised at `site`.
std::string FailureReportText(const Failure& failure, const RaiseSite& site);

// Runs the converter on the data files in the working folder: checks the list file, asks the
// user, converts, and tells every outcome in `box`. Returns the exit code: 0 at every ordinary
// end, 1 after the failure report.
int RunConverter(FileSystem& files, MessageBox& box);

}  // namespace kelconv

#endif  // KELCONV_APP_RUN_H_
