#include "clientlib/library_services.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "clientlib/calvora.h"
#include "clientlib/exe_download.h"
#include "clientlib/jov_requisicaohttp.h"
#include "clientlib/session.h"
#include "platform/cp1252.h"
#include "platform/host_path.h"
#include "platform/registry_hive.h"
#include "platform/system_text.h"

namespace jov {

std::string LibrarySettingsReal::WorkingDirectory() {
  return session_.Settings().working_directory;
}
std::string LibrarySettingsReal::WebURL() { return session_.Settings().host; }
int LibrarySettingsReal::WebPort() { return session_.Settings().port; }
std::string LibrarySettingsReal::Proxy() { return session_.Settings().proxy; }
std::string LibrarySettingsReal::DriveC() { return session_.Settings().drive_c; }
std::string LibrarySettingsReal::ConnectionString() {
  return session_.Settings().connection_string;
}

std::vector<std::string> LibrarySettingsReal::StartProblems() {
  std::vector<std::string> problems = session_.Settings().problems;
  for (std::string& line : FolderProblems(session_.ProgramDirectory(), DefaultHivePath())) {
    problems.push_back(std::move(line));
  }
  return problems;
}

namespace {

std::string UserName(uid_t uid) {
  const passwd* entry = ::getpwuid(uid);
  return entry != nullptr ? std::string(entry->pw_name) : std::to_string(uid);
}

}  // namespace

std::vector<std::string> FolderProblems(const std::string& program_dir,
                                        const std::string& hive_path) {
  std::vector<std::string> problems;
  struct stat info {};
  if (::stat(program_dir.c_str(), &info) == 0 && info.st_uid != ::geteuid()) {
    problems.push_back("pasta de programas "_w + program_dir + " pertence a " +
                       UserName(info.st_uid) + ", não a "_w + UserName(::geteuid()));
  }
  if (::access(program_dir.c_str(), W_OK) != 0) {
    problems.push_back("pasta de programas "_w + program_dir + ": sem permissão de escrita ("_w +
                       SystemErrorText(errno) + ")");
  }
  const std::string hive_dir = DirectoryOf(hive_path);
  if (::stat(hive_dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    problems.push_back("registro "_w + hive_path + ": a pasta " + hive_dir + " não existe"_w);
  } else if (::access(hive_dir.c_str(), W_OK) != 0) {
    problems.push_back("registro "_w + hive_path + ": sem permissão de escrita na pasta "_w +
                       hive_dir + " (" + SystemErrorText(errno) + ")");
  }
  return problems;
}

void ModuleLoaderReal::Load(const std::string& code, bool flag) {
  Calvora::LoadBPL_JOVINI(program_dir_, code, flag);
}
void ModuleLoaderReal::Unload(const std::string& code) { Calvora::UnLoadBPL(code); }

std::string ConsoleRunnerReal::GetDosOutput(const std::string& command_line,
                                            const std::string& drive) {
  return Jov_requisicaohttp::GetDosOutput(program_dir_, command_line, drive);
}

void DownloaderReal::GetExeFile(const std::vector<std::string>& local_paths,
                                const std::vector<std::string>& server_lines,
                                const std::string& source, bool& flag) {
  ExeDownloadSettings settings = ExeDownloadSettingsFromIni(session_.Settings());
  settings.stall = &session_.Stall();
  settings.host_name = session_.HostName();
  settings.identity = &session_.Identity();
  settings.program_directory = session_.ProgramDirectory();
  settings.clock = &session_.Time();
  Dwnldftp::GetExeFile(settings, local_paths, server_lines, source, flag);
}

}  // namespace jov
