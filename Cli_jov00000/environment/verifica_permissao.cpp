// Folder permission check: the folder's access list through icacls, read as a
// Brazilian-Portuguese system writes it.
#include "Cli_jov00000/environment/palavra_literal.h"
#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "platform/cp1252.h"

namespace Cli_jov00000 {

bool TfrmEscolheSistema::VerificaPermissao(const std::string& folder) {
  const std::string batch = jov::DirectoryOf(services_.host.ExecutablePath()) + "/Permissoes.bat";
  services_.files.DeleteFile(batch);
  // Quoted for the shell: it means what icacls "FOLDER" means.
  services_.files.AppendToFile(batch, "icacls " + PalavraLiteral(folder) + "\n");
  const std::string saida = services_.console.GetDosOutput("\"" + batch + "\"", "C:");
  const std::string minusculas = jov::cp1252::LowerAscii(saida);
  bool resultado = false;
  if (minusculas.find("0 arquivos") != std::string::npos) {
    resultado = true;
  } else if (const auto todos = minusculas.find("todos"); todos != std::string::npos) {
    // Only the first line that names the group counts, up to and including its line feed.
    const auto fim = saida.find('\n', todos);
    const std::string linha =
        fim == std::string::npos ? std::string() : saida.substr(todos, fim - todos + 1);
    resultado = linha.find("(F)") != std::string::npos || linha.find("(RX)") != std::string::npos;
  }
  services_.files.DeleteFile(batch);
  return resultado;
}

}  // namespace Cli_jov00000
