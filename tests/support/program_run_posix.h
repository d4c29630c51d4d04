#pragma once

// Running a program to its end from a test, as a shell would, with what it
// wrote and how it ended.

#include <string>
#include <vector>

namespace dovel::testing {

struct ProgramRun {
  // The exit status, 128 + the signal when killed, -1 when it could not be
  // started at all.
  int exit_code = -1;
  std::string out, err;
};

// Runs `argv` (argv[0] a path) with standard input from /dev/null. Standard
// error is read after standard output, so a program may write a long
// listing but only what a pipe holds (64 KiB) as errors.
ProgramRun RunProgram(const std::vector<std::string>& argv);

}  // namespace dovel::testing
