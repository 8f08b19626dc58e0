// TASKKILL /F /IM NAME: ends every process of an executable name, as the launcher matches it.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/cp1252.h"
#include "platform/process_table_linux.h"
#include "tools/wincmd/tools.h"

namespace wincmd {
namespace {

void Print(std::FILE* stream, const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

// Passes the scan through, less this process itself, and records each termination asked for.
class RecordingTable : public jov::ProcessTable {
 public:
  struct Outcome {
    jov::ProcessEntry process;
    bool ended = false;
  };
  explicit RecordingTable(jov::ProcessTable& inner) : inner_(inner) {}

  std::vector<jov::ProcessEntry> Snapshot() override { return Keep(inner_.Snapshot()); }
  std::vector<jov::ProcessEntry> Find(const std::string& name) override {
    return Keep(inner_.Find(name));
  }
  bool Terminate(const jov::ProcessEntry& process) override {
    const bool ended = inner_.Terminate(process);
    for (const jov::ProcessEntry& entry : snapshot_) {
      if (entry.pid == process.pid) outcomes.push_back({entry, ended});
    }
    return ended;
  }

  std::vector<Outcome> outcomes;

 private:
  std::vector<jov::ProcessEntry> Keep(std::vector<jov::ProcessEntry> entries) {
    std::erase_if(entries, [](const jov::ProcessEntry& e) { return e.pid == ::getpid(); });
    snapshot_ = entries;
    return entries;
  }

  jov::ProcessTable& inner_;
  std::vector<jov::ProcessEntry> snapshot_;
};

bool IsOption(const std::string& arg, const char* option) {
  return (arg[0] == '/' || arg[0] == '-') && jov::cp1252::UpperAscii(arg.substr(1)) == option;
}

}  // namespace

// Exit code 0 when every named process was ended, 128 when a name matched no process, 1 when
// a process could not be ended or the arguments are wrong.
int Taskkill(int argc, char** argv) {
  std::vector<std::string> names;
  bool valid = true;
  for (int i = 0; i < argc && valid; ++i) {
    const std::string arg = argv[i];
    if (!arg.empty() && IsOption(arg, "F")) continue;  // every termination is forced here
    if (!arg.empty() && IsOption(arg, "IM") && i + 1 < argc && argv[i + 1][0] != '\0') {
      names.push_back(argv[++i]);
      continue;
    }
    valid = false;
  }
  if (!valid || names.empty()) {
    Print(stderr, "ERRO: argumento/opção inválido.\r\n"_w);
    Print(stderr, "uso: TASKKILL [/F] /IM NOME_DA_IMAGEM\r\n"_w);
    return 1;
  }

  jov::ProcessTableLinux processes;
  int code = 0;
  for (const std::string& name : names) {
    RecordingTable table(processes);
    jov::TerminateProcesses(table, name);
    if (table.outcomes.empty()) {
      Print(stderr, "ERRO: o processo \""_w + name + "\" não foi encontrado.\r\n"_w);
      code = 128;
    }
    for (const RecordingTable::Outcome& outcome : table.outcomes) {
      // The name by which it matched: a script is "JovTab.exe" here, not its shell.
      const std::string* shown = jov::MatchingName(outcome.process, name);
      const std::string process = "o processo \""_w + (shown ? *shown : name) + "\" com PID " +
                                  std::to_string(outcome.process.pid);
      if (outcome.ended) {
        Print(stdout, "ÊXITO: "_w + process + " foi finalizado.\r\n"_w);
      } else {
        Print(stderr, "ERRO: "_w + process + " não pôde ser finalizado.\r\n"_w);
        if (code == 0) code = 1;
      }
    }
  }
  std::fflush(stdout);
  return code;
}

}  // namespace wincmd
