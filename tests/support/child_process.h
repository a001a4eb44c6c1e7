// Runs a program as a child process, as a user would start it in a terminal (POSIX).
#ifndef KELCONV_TESTS_SUPPORT_CHILD_PROCESS_H_
#define KELCONV_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <sys/resource.h>

#include <optional>
#include <string>
#include <vector>

namespace kelconv::testing {

struct ChildOptions {
  std::string input;                     // all of standard input (a few KiB at most)
  std::vector<std::string> arguments;    // after the program's name
  std::vector<std::string> environment;  // besides LC_ALL=C.UTF-8
  std::optional<rlim_t> file_size;       // RLIMIT_FSIZE
  bool ignore_file_size_signal = false;  // SIGXFSZ ignored instead of ending the child
  std::optional<rlim_t> address_space;   // RLIMIT_AS
  bool output_to_full_device = false;    // standard output and error on /dev/full
};

struct ChildResult {
  int exit_code = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs `program` in the working folder with `options` and the C.UTF-8 locale, so that box
// texts arrive as UTF-8, and waits for it to end.
ChildResult RunChild(const char* program, const ChildOptions& options = {});

}  // namespace kelconv::testing

#endif  // KELCONV_TESTS_SUPPORT_CHILD_PROCESS_H_
