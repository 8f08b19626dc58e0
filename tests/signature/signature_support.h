// Running the signing tool and the openssl command line from signature tests.
#pragma once

#include <string>
#include <vector>

namespace jov::testing {

struct RunResult {
  int code = -1;       // the exit code; -1 when the program did not start or end in time
  std::string output;  // the first line of standard output, without its line end
  std::string errors;  // standard error
};

// Runs the program (an absolute path, or a name looked up in PATH) with the arguments and
// waits for it, at most 60 s.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& scratch_dir);

// bin/jov-sign of this build.
std::string JovSign();

}  // namespace jov::testing
