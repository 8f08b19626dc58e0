#include "clientlib/jov_requisicaohttp.h"

#include "platform/errors.h"

namespace Jov_requisicaohttp {

std::string GetDosOutput(const std::string& command_line, const std::string& /*drive*/) {
  throw jov::Error("Cannot run " + command_line + ": console capture is not available");
}

}  // namespace Jov_requisicaohttp

namespace Dwnldftp {

void GetExeFile(const std::vector<std::string>& /*local_paths*/,
                const std::vector<std::string>& /*server_lines*/, const std::string& source,
                bool& /*flag*/) {
  throw jov::Error("Cannot download from " + source + ": downloads are not available");
}

}  // namespace Dwnldftp
