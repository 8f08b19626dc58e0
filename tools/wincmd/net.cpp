// net start NAME: starts a service through the system's service manager.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/child_process_linux.h"
#include "platform/cp1252.h"
#include "tools/wincmd/tools.h"

namespace wincmd {
namespace {

void Print(std::FILE* stream, const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

// Runs the tool quietly when it is installed; nothing when it is not.
enum class Outcome { kMissing, kFailed, kStarted };
Outcome RunTool(const std::string& tool, std::vector<std::string> args) {
  const std::string path = jov::FindProgram(tool);
  if (path.empty()) return Outcome::kMissing;
  args.insert(args.begin(), path);
  const jov::ChildResult result = jov::RunChild(args, {});
  return result.ended && result.exit_code == 0 ? Outcome::kStarted : Outcome::kFailed;
}

}  // namespace

// Tries systemctl, then service. Exit code 0 when one of them started the service, 2 when
// neither could (or the name is not a service name), 1 for wrong arguments.
int Net(int argc, char** argv) {
  if (argc != 2 || jov::cp1252::UpperAscii(argv[0]) != "START") {
    std::fputs("uso: net start NOME_DO_SERVICO\r\n", stderr);
    return 1;
  }
  const std::string name = argv[1];
  bool tried = false;
  // A name that looks like an option or a path is not a service name.
  if (!name.empty() && name[0] != '-' && name.find('/') == std::string::npos) {
    for (const auto& [tool, args] :
         {std::pair<std::string, std::vector<std::string>>{"systemctl", {"start", name}},
          {"service", {name, "start"}}}) {
      const Outcome outcome = RunTool(tool, args);
      if (outcome == Outcome::kStarted) {
        Print(stdout, "O serviço de "_w + name + " está sendo iniciado.\r\n"_w);
        Print(stdout, "O serviço de "_w + name + " foi iniciado com êxito.\r\n\r\n"_w);
        return 0;
      }
      tried = tried || outcome == Outcome::kFailed;
    }
  }
  if (tried) {
    Print(stderr, "O serviço de "_w + name + " não pôde ser iniciado.\r\n\r\n"_w);
    Print(stderr, "Obtenha mais ajuda digitando NET HELPMSG 3521.\r\n\r\n"_w);
  } else {
    Print(stderr, "O nome de serviço é inválido.\r\n\r\n"_w);
    Print(stderr, "Obtenha mais ajuda digitando NET HELPMSG 2185.\r\n\r\n"_w);
  }
  return 2;
}

}  // namespace wincmd
