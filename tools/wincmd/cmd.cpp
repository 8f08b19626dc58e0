// cmd.exe /C COMMAND: runs one program with its arguments and returns its exit code.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/child_process_linux.h"
#include "platform/cp1252.h"
#include "platform/host_path_linux.h"
#include "tools/wincmd/tools.h"

namespace wincmd {

// The program is looked up beside this binary first (the other wincmd tools), then in PATH;
// its standard streams are this process's. Exit code: the program's, or 1 when it cannot be
// found or started, or the arguments are wrong.
int Cmd(int argc, char** argv) {
  if (argc < 2 || jov::cp1252::UpperAscii(argv[0]) != "/C") {
    std::fputs("uso: cmd.exe /C COMANDO [ARGUMENTOS...]\r\n", stderr);
    return 1;
  }
  std::vector<std::string> words(argv + 1, argv + argc);
  // "cmd.exe /C "net start X"": the whole command as one argument.
  if (words.size() == 1) words = jov::SplitOnBlanks(words[0]);
  if (words.empty()) {
    std::fputs("uso: cmd.exe /C COMANDO [ARGUMENTOS...]\r\n", stderr);
    return 1;
  }
  const std::string own_dir = jov::DirectoryOf(jov::HostPathLinux().ExecutablePath());
  const std::string program = jov::FindProgram(words[0], {own_dir});
  if (program.empty()) {
    const std::string text = "'" + words[0] +
                             "' não é reconhecido como um comando interno\r\n"
                             "ou externo, um programa operável ou um arquivo em lotes.\r\n"_w;
    std::fwrite(text.data(), 1, text.size(), stderr);
    return 1;
  }
  words[0] = program;
  std::fflush(stdout);
  jov::ChildOptions options;
  options.inherit_streams = true;
  options.new_session = false;  // ending cmd.exe's process group ends the command too
  const jov::ChildResult result = jov::RunChild(words, options);
  if (!result.started) {
    std::fprintf(stderr, "cmd.exe: %s: %s\r\n", program.c_str(), result.error.c_str());
    return 1;
  }
  return result.exit_code < 0 ? 1 : result.exit_code;
}

}  // namespace wincmd
