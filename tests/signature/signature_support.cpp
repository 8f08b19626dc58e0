#include "tests/signature/signature_support.h"

#include <unistd.h>

#include <cstdlib>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

std::string InPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= folders.size();) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string candidate = folders.substr(start, end - start) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return name;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& scratch_dir) {
  std::vector<std::string> args = argv;
  args[0] = InPath(args[0]);
  const std::string errors = scratch_dir + "/stderr.txt";
  RunResult result;
  Process process(args, {}, errors);
  if (!process.started()) return result;
  result.output = process.FirstLine(60s).value_or("");
  result.code = process.Wait(60s).value_or(-1);
  result.errors = TempDir::Read(errors);
  return result;
}

std::string JovSign() { return JOV_BIN_DIR "/jov-sign"; }

}  // namespace jov::testing
