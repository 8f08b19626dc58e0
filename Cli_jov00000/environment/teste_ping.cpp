// Server reachability test: one ping through a batch file, its summary read in three
// languages.
#include "Cli_jov00000/environment/palavra_literal.h"
#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "platform/cp1252.h"

namespace Cli_jov00000 {
namespace {

using jov::cp1252::LowerAscii;
using jov::cp1252::UpperAscii;

// A host name or address, IPv6 and zone forms included. Anything else could act on the
// shell that runs the batch file, or on ping's options, and no server can be reached
// through it.
bool PareceEnderecoDeHost(const std::string& endereco) {
  if (!endereco.empty() && endereco.front() == '-') return false;
  for (const char c : endereco) {
    const bool permitido = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' || c == ':' ||
                           c == '[' || c == ']' || c == '%';
    if (!permitido) return false;
  }
  return true;
}

// The count test of one language: the word occurs, and the output from its first
// occurrence on, as long as the expected text, reads as the expected text.
bool ContagemConfere(const std::string& saida, const std::string& minusculas,
                     const std::string& palavra, const std::string& esperado) {
  const auto pos = minusculas.find(palavra);
  return pos != std::string::npos && UpperAscii(saida.substr(pos, esperado.size())) == esperado;
}

}  // namespace

bool TfrmEscolheSistema::TestePing() {
  try {
    const std::string endereco = services_.library.WebURL();
    if (LowerAscii(endereco).find("saas") != std::string::npos) {
      Log("Ping SAAS - True");
      return true;
    }
    if (!PareceEnderecoDeHost(endereco)) {
      // Such an address never reaches a shell: the test cannot be made, and a test that
      // cannot be made counts the server as reachable, as below.
      return true;
    }
    const std::string batch = jov::DirectoryOf(services_.host.ExecutablePath()) + "/TestePing.bat";
    services_.files.DeleteFile(batch);
    // /bin/sh runs the batch file: a CR before the line feed would end up in ping's last
    // argument, so the line ends with a line feed alone. The address is quoted, so that the
    // brackets of an IPv6 literal are never taken as a file pattern: ping gets it as written.
    services_.files.AppendToFile(batch, "ping " + PalavraLiteral(endereco) + " -n 1 -w 1000\n");
    const std::string saida = services_.console.GetDosOutput("\"" + batch + "\"", "C:");
    const std::string minusculas = LowerAscii(saida);
    bool resultado = false;
    if (minusculas.find("inacessível"_w) != std::string::npos ||
        minusculas.find("unreachable") != std::string::npos) {
      Log("Ping Server - inacessível"_w);
    } else if (ContagemConfere(saida, minusculas, "recebidos", "RECEBIDOS = 1")) {
      Log("Ping Server b - True");
      resultado = true;
    } else if (ContagemConfere(saida, minusculas, "received", "RECEIVED = 1") ||
               ContagemConfere(saida, minusculas, "recibidos", "RECIBIDOS = 1")) {
      Log("Ping Server u - True");
      resultado = true;
    } else {
      Log("Ping Server - False");
    }
    services_.files.DeleteFile(batch);
    return resultado;
  } catch (const std::exception&) {
    // A test that cannot be made does not hold the start-up back: the server counts as
    // reachable, and the steps that talk to it report their own failures.
    return true;
  }
}

}  // namespace Cli_jov00000
