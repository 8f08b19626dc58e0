#include "Cli_jov00000/startup/update_log.h"

#include <cstdio>

#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

std::string LogFileName(const std::string& dir, const jov::DateTime& now) {
  char stamp[8];
  std::snprintf(stamp, sizeof stamp, "%02d%02d", now.month % 100, now.year % 100);
  return dir + "Log_Baixa" + stamp + ".txt";
}

void AppendUpdateLog(jov::FileSystem& files, jov::Clock& clock, const std::string& dir,
                     const std::string& text) {
  if (!files.DirectoryExists(dir)) files.ForceDirectories(dir);
  const jov::DateTime now = clock.Now();
  const std::string line = text == " " ? text : jov::FormatDateTime(now) + " - " + text;
  files.AppendToFile(LogFileName(dir, now), line + "\r\n");
}

void TfrmEscolheSistema::Log(const std::string& text) {
  AppendUpdateLog(services_.files, services_.clock, DirCadJovBpl, text);
}

}  // namespace Cli_jov00000
