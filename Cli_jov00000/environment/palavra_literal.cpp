#include "Cli_jov00000/environment/palavra_literal.h"

namespace Cli_jov00000 {

std::string PalavraLiteral(const std::string& texto) {
  std::string palavra = "'";
  for (const char c : texto) {
    if (c == '\'') {
      palavra += "'\\''";
    } else {
      palavra += c;
    }
  }
  return palavra + "'";
}

}  // namespace Cli_jov00000
