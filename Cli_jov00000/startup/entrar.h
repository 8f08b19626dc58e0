// Entering the point-of-sale system: settling the running updaters with the operator, then
// running the point-of-sale package and unloading it when it returns.
#pragma once

#include <functional>
#include <string>

#include "clientlib/mensagemjov.h"
#include "clientlib/messages.h"
#include "clientlib/module_loader.h"
#include "platform/process_table.h"
#include "platform/program_launcher.h"

namespace Cli_jov00000 {

// The point-of-sale package's code.
inline constexpr const char* kPontoDeVenda = "REV10000";

// What entering the system asks of the world.
struct EntradaServicos {
  jov::ProcessTable& processes;
  jov::ProgramLauncher& programs;
  jov::ModuleLoader& modules;
  const jov::TMessages& catalogue;
  Mensagemjov::TMensagem mensagem;
  std::function<void(const std::string&)> log;  // one line of the update log; may throw
};

// The form's state that entering reads; it changes none of it.
struct EntradaEstado {
  bool boAtuBpl = false;
  bool boReinicia = false;
  std::string idUtilAberAuto;
  std::string idPerAcessoTer;
  std::string nomeExe;
  std::string program_dir;  // the host executable's folder, without a trailing "/"
};

// With a restart pending, only tells the operator and starts "JovBpl.exe" with "2_<host>_"
// (unless it runs already). Otherwise asks about a running "JovBpl.exe" (when the operator
// started it here) and a running "JovTab.exe" (on a register opened by hand), ending each with
// TASKKILL on Yes, without waiting; then runs the point-of-sale package and unloads it on every
// path. Returns normally also when "Tab_Bloq" refuses entry. Throws jov::Abort for a No, and
// what the package's loading threw, after unloading it. Blocks while the package runs.
void EntraNoSistema(const EntradaServicos& services, const EntradaEstado& state);

}  // namespace Cli_jov00000
