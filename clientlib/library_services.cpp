#include "clientlib/library_services.h"

#include "clientlib/calvora.h"
#include "clientlib/client_ini.h"
#include "clientlib/geraljov.h"
#include "clientlib/jov_requisicaohttp.h"

namespace jov {

std::string LibrarySettingsReal::WorkingDirectory() { return Calvora::WorkingDirectory(); }
std::string LibrarySettingsReal::WebURL() { return Calvora::WebURL(); }
int LibrarySettingsReal::WebPort() { return Calvora::WebPort(); }
std::string LibrarySettingsReal::DriveC() { return CurrentClientIni().drive_c; }
std::string LibrarySettingsReal::ConnectionString() { return Geraljov::_GetStringConexJov(""); }

void ModuleLoaderReal::Load(const std::string& code, bool flag) {
  Calvora::LoadBPL_JOVINI(code, flag);
}
void ModuleLoaderReal::Unload(const std::string& code) { Calvora::UnLoadBPL(code); }

std::string ConsoleRunnerReal::GetDosOutput(const std::string& command_line,
                                            const std::string& drive) {
  return Jov_requisicaohttp::GetDosOutput(command_line, drive);
}

void DownloaderReal::GetExeFile(const std::vector<std::string>& local_paths,
                                const std::vector<std::string>& server_lines,
                                const std::string& source, bool& flag) {
  Dwnldftp::GetExeFile(local_paths, server_lines, source, flag);
}

}  // namespace jov
