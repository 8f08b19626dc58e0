// Jov_requisicaohttp and Dwnldftp: console output capture and file downloads.
#pragma once

#include <string>
#include <vector>

#include "clientlib/exe_download.h"

namespace Jov_requisicaohttp {
// Runs a batch file with /bin/sh, program_dir's bin/ first in PATH, for at most 30 seconds;
// returns its standard output and error. Throws jov::Error when it cannot start.
std::string GetDosOutput(const std::string& program_dir, const std::string& command_line,
                         const std::string& drive);
}  // namespace Jov_requisicaohttp

namespace Dwnldftp {
// Fetches every "<name>.zip=<stamp>" line's archive from the base URL source and places its
// file in the settings' working folder under the local name (see jov::DownloadExeFiles),
// showing a progress window where there are widgets; returns only when all are there, whole,
// and sets flag. Throws jov::Error naming the file and the cause.
void GetExeFile(const jov::ExeDownloadSettings& settings,
                const std::vector<std::string>& local_paths,
                const std::vector<std::string>& server_lines, const std::string& source,
                bool& flag);
}  // namespace Dwnldftp
