#include "clientlib/jov_requisicaohttp.h"

#include <unistd.h>

#include <QApplication>
#include <cerrno>
#include <chrono>
#include <memory>

#include "clientlib/download_progress_window.h"
#include "clientlib/exe_download.h"
#include "platform/child_process_linux.h"
#include "platform/errors.h"
#include "platform/system_text.h"

namespace Jov_requisicaohttp {

namespace {

// The batch file's path: the command line without its enclosing double quotes.
std::string BatchPath(const std::string& command_line) {
  const std::size_t first = command_line.find_first_not_of(" \t");
  const std::size_t last = command_line.find_last_not_of(" \t");
  if (first == std::string::npos) return {};
  std::string path = command_line.substr(first, last - first + 1);
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
    path = path.substr(1, path.size() - 2);
  }
  return path;
}

}  // namespace

// The same, with the time limit given; a hung tool is ended with its whole process group.
std::string GetDosOutput(const std::string& program_dir, const std::string& command_line,
                         const std::string& /*drive*/, std::chrono::milliseconds limit) {
  const std::string path = BatchPath(command_line);
  if (path.empty()) {
    throw jov::Error("Cannot run " + command_line + ": no batch file given",
                     jov::Cause::kNoBatchFile, {.subject = command_line});
  }
  if (::access(path.c_str(), R_OK) != 0) {
    const int error = errno;
    throw jov::Error("Cannot run " + command_line + ": the batch file cannot be read",
                     jov::Cause::kCannotRead,
                     {.subject = path, .detail = jov::SystemErrorText(error)});
  }
  jov::ChildOptions options;
  options.capture_output = true;
  options.environment = jov::EnvironmentWithPathFirst(program_dir + "/bin");
  options.timeout_ms = static_cast<int>(limit.count());
  // The path is one argument of the shell, never parsed by it.
  jov::ChildResult result = jov::RunChild({"/bin/sh", path}, options);
  if (!result.started) {
    throw jov::Error("Cannot run " + command_line + ": " + result.error, jov::Cause::kCannotRun,
                     {.subject = path, .detail = result.error});
  }
  return result.output;
}

std::string GetDosOutput(const std::string& program_dir, const std::string& command_line,
                         const std::string& drive) {
  return GetDosOutput(program_dir, command_line, drive, std::chrono::seconds(30));
}

}  // namespace Jov_requisicaohttp

namespace Dwnldftp {

void GetExeFile(const jov::ExeDownloadSettings& settings,
                const std::vector<std::string>& local_paths,
                const std::vector<std::string>& server_lines, const std::string& source,
                bool& flag) {
  // The server lines say what to fetch; it lands in the working folder under the local
  // path's spelling of its name.
  // People see which file is coming while the screen is not up yet; without widgets (a
  // console tool, a test) the download runs unseen.
  std::unique_ptr<jov::DownloadProgressWindow> window;
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
    window = std::make_unique<jov::DownloadProgressWindow>();
  }
  jov::DownloadExeFiles(server_lines, source, settings, window.get(), local_paths);
  flag = true;
}

}  // namespace Dwnldftp
