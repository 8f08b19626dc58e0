// The screen-package update command: the button that restarts "JovBpl.exe".
#include <exception>

#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

void TfrmEscolheSistema::sbtJovBplClick(QObject*) {
  try {
    if (ProcessoRodando("JovBpl.exe")) {
      // TASKKILL ends every "JovBpl.exe": waited for (at most 5 s) so that it cannot also end
      // the updater started below. Its outcome is not examined.
      services_.programs.WinExecAndWait("TASKKILL /F /IM JovBpl.exe", 5000);
    }
    Log("ShellExecute(1_" + nomeExe + "_");
    services_.programs.ShellExecute(DirJov + "/JovBpl.exe", "1_" + nomeExe + "_");
    Log("----- Fim ExecutaJovBpl -----");
    boAtuBpl = true;
  } catch (const std::exception& error) {
    Log("Except: " + std::string(error.what()));
  }
}

}  // namespace Cli_jov00000
