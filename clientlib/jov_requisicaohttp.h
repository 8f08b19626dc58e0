// Jov_requisicaohttp and Dwnldftp: console output capture and file downloads.
#pragma once

#include <string>
#include <vector>

namespace Jov_requisicaohttp {
// Runs a batch file with /bin/sh, the program directory's bin/ first in PATH, for at most
// 30 seconds; returns its standard output and error. Throws jov::Error when it cannot start.
std::string GetDosOutput(const std::string& command_line, const std::string& drive);
}  // namespace Jov_requisicaohttp

namespace Dwnldftp {
// Fetches every "<name>.zip=<stamp>" line's archive from the base URL source and places its
// file in Calvora::WorkingDirectory() under the local name (see jov::DownloadExeFiles, with
// clientlib.ini's limit and key); returns only when all are there, whole, and sets flag.
// Throws jov::Error naming the file and the cause.
void GetExeFile(const std::vector<std::string>& local_paths,
                const std::vector<std::string>& server_lines, const std::string& source,
                bool& flag);
}  // namespace Dwnldftp
