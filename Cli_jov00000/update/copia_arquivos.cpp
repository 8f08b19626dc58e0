// Installing staged files: staged programs and packages move into the program directory.
#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "platform/cp1252.h"
#include "platform/errors.h"

namespace Cli_jov00000 {
namespace {

// Files the running launcher has loaded: they wait for the screen-package updater.
bool HeldBack(const std::string& name) {
  const std::string upper = jov::cp1252::UpperAscii(name);
  return upper == "PKG_JOV00000.BPL" || upper == "_DLL.BPL" || upper == "JOV.EXE" ||
         upper == "_DB.BPL";
}

// The extension as stored: ".BPL" is not ".bpl".
bool IsCandidate(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return false;
  const std::string extension = name.substr(dot);
  return extension == ".bpl" || extension == ".exe" || extension == ".dll";
}

}  // namespace

void TfrmEscolheSistema::CopiaArquivos() {
  bool boAtu = false;
  for (const jov::DirEntry& entry : services_.files.ListDirectory(DirCadJovBpl)) {
    if (entry.is_directory || !IsCandidate(entry.name)) continue;
    const std::string staged = DirCadJovBpl + entry.name;
    if (HeldBack(entry.name)) {
      boAtu = true;
      Log("Arquivo " + staged + " encontrado. boAtu = true");
      continue;
    }
    // Only the move's failure is caught; a failing log line goes on to the caller.
    std::string failure;
    bool moved = true;
    try {
      services_.files.MoveReplace(staged, DirJov + "/" + entry.name);
    } catch (const jov::IoError& error) {
      moved = false;
      failure = error.context().detail;  // the system's text
    }
    Log(moved ? "Arquivo " + staged + " movido com sucesso"
              : "Falha ao mover arquivo " + staged + ": " + failure);
  }
  if (boAtu) {
    Log("ShellExecute(2_" + nomeExe + "_");
    services_.programs.ShellExecute(DirJov + "/JovBpl.exe", "2_" + nomeExe + "_");
    Log("----- Fim ExecutaJovBpl -----");
  }
}

}  // namespace Cli_jov00000
