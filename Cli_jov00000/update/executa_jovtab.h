// The local table update: starting "JovTab.exe" for this register and, on a register that
// opens by itself, waiting for it to end and entering the point-of-sale system.
#pragma once

#include <functional>
#include <string>

#include "clientlib/mensagemjov.h"
#include "clientlib/messages.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/process_table.h"
#include "platform/program_launcher.h"

namespace Cli_jov00000 {

// The pause after starting the updaters, and between two looks at the process list.
inline constexpr int kPrimeiraPausaMs = 5000;
inline constexpr int kIntervaloMs = 10000;

// What the table update asks of the world.
struct TabelasServicos {
  jov::ProcessTable& processes;
  jov::ProgramLauncher& programs;
  jov::Clock& clock;
  jov::Dialogs& dialogs;  // the plain message box for an error
  const jov::TMessages& catalogue;
  Mensagemjov::TMensagem mensagem;
  std::function<void()> entra;  // enters the system as the "&Entrar no Sistema" button does
};

// "TABELAS_<filial>_<caixa>_ATU_" when atualiza, else "..._NATU_"; the codes as given.
std::string ParametroJovTab(const std::string& filial, const std::string& caixa, bool atualiza);

// Starts "<program_dir>/JovTab.exe" with the parameters, after the "Msg_JovTab" notice when
// idUtilAberAuto is "N". When it is "S", also starts "JovBpl.exe" with "1_", then pauses 5 s
// and every 10 s looks for "JovTab.exe": once it is gone, enters the system and returns after
// one more pause. There is no time limit; the pauses block the calling thread without
// spinning. Any error, a No inside the entry included, is shown in the plain message box and
// ends the call; nothing is thrown.
void AtualizaTabelas(const TabelasServicos& services, const std::string& program_dir,
                     const std::string& parameters, const std::string& idUtilAberAuto);

}  // namespace Cli_jov00000
