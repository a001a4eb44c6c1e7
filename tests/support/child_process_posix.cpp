#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "support/child_process.h"

namespace kelconv::testing {
namespace {

std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return text;
}

}  // namespace

ChildResult RunChild(const char* program, const ChildOptions& options) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  EXPECT_EQ(0, ::pipe(in_pipe));
  EXPECT_EQ(0, ::pipe(out_pipe));
  EXPECT_EQ(0, ::pipe(err_pipe));
  // The input goes into the pipe before the child exists: a child that dies at once must not
  // leave a write to a pipe without a reader.
  EXPECT_EQ(static_cast<ssize_t>(options.input.size()),
            ::write(in_pipe[1], options.input.data(), options.input.size()));
  ::close(in_pipe[1]);

  std::vector<std::string> environment = options.environment;
  environment.push_back("LC_ALL=C.UTF-8");
  std::vector<char*> env;
  for (std::string& variable : environment) env.push_back(variable.data());
  env.push_back(nullptr);
  std::vector<char*> argv = {const_cast<char*>(program)};
  for (const auto& argument : options.arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(in_pipe[0], STDIN_FILENO);
    if (options.output_to_full_device) {
      const int full = ::open("/dev/full", O_WRONLY);
      ::dup2(full, STDOUT_FILENO);
      ::dup2(full, STDERR_FILENO);
    } else {
      ::dup2(out_pipe[1], STDOUT_FILENO);
      ::dup2(err_pipe[1], STDERR_FILENO);
    }
    for (int fd : {in_pipe[0], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) ::close(fd);
    if (options.file_size) {
      const rlimit limit{*options.file_size, *options.file_size};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ::signal(SIGXFSZ, options.ignore_file_size_signal ? SIG_IGN : SIG_DFL);
    if (options.address_space) {
      const rlimit limit{*options.address_space, *options.address_space};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    ::execve(program, argv.data(), env.data());
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  ChildResult result;
  std::thread err_reader([&] { result.err = Drain(err_pipe[0]); });
  result.out = Drain(out_pipe[0]);
  err_reader.join();
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace kelconv::testing
