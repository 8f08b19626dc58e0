// Running a batch file and capturing its console output.
#pragma once

#include <string>

namespace jov {

class ConsoleRunner {
 public:
  virtual ~ConsoleRunner() = default;
  // Runs the command line (a quoted batch-file path) and blocks until it ends or its time
  // limit ends it; returns standard output and error. Throws Error when it cannot start.
  virtual std::string GetDosOutput(const std::string& command_line, const std::string& drive) = 0;
};

}  // namespace jov
