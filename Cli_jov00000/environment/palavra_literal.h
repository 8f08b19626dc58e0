// One word of a batch-file line that /bin/sh takes literally, whatever it holds.
#pragma once

#include <string>

namespace Cli_jov00000 {

// The text in single quotes, each single quote inside written as '\'': the shell passes it
// on as one argument, unexpanded (no file patterns, variables, commands or splitting).
std::string PalavraLiteral(const std::string& texto);

}  // namespace Cli_jov00000
