// The register's branch and register codes and its two opening rules, settled once a start.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Cli_jov00000/data_components.h"
#include "platform/dataset_files.h"
#include "platform/dialogs.h"
#include "platform/file_system.h"

namespace Cli_jov00000 {

enum TInputStep : std::uint8_t;

// The four values settled here: the form's own fields, bound by reference, so that what was
// set before a failure stays set.
struct Parametros {
  std::string& cdFilial;
  std::string& cdCaixa;
  std::string& idUtilAberAuto;
  std::string& idPerAcessoTer;
};

// The operator's side of the prompts. Pede shows the keyboard for one code and blocks,
// running the event loop, until the operator confirms an entry; it returns the confirmed
// text, and throws jov::Abort when the wait ends without one (the form closed, the
// application quitting). Esconde hides the keyboard for good.
struct Operador {
  std::function<std::string(TInputStep step, const std::string& prompt, int max_length)> Pede;
  std::function<void()> Esconde;
};

struct FontesDeParametros {
  jov::FileSystem& files;
  jov::DatasetFiles& datasets;
  jov::Dialogs& dialogs;
  std::string arquivo_mercato;       // the point-of-sale data file, read only
  std::string arquivo_filial_caixa;  // where typed codes are saved
  std::string aviso_sem_mercato;     // the catalogue text shown when the data file is missing
  Operador operador;
  jov::TClientDataSet& cdsParametrosJov;
  jov::TClientDataSet& cdsFilialCaixa;  // its two fields defined on the form
  jov::TADOQuery& adqBaixaDados;
};

// Settles the codes (from the data file, else asked and saved) and then reads the rules.
// Throws Error naming the file when the data file cannot be read or lacks CDFILIAL or
// CDCAIXA, or when the typed codes cannot be saved: the rules are then left as they were.
// Throws jov::Abort when a prompt ended without an entry.
void PreencheParametros(const FontesDeParametros& fontes, Parametros& saida);

// The first row's CDFILIAL and CDCAIXA of the data file, taken as stored; other fields, rows
// and nested data are ignored. Throws Error naming the file.
void LeCodigosDoArquivo(jov::DatasetFiles& datasets, const std::string& path,
                        jov::TClientDataSet& cds, Parametros& saida);

// Writes the one-record dataset of the two codes, replacing the file. Throws Error.
void GravaFilialCaixa(jov::DatasetFiles& datasets, const std::string& path,
                      jov::TClientDataSet& cds, const std::string& filial,
                      const std::string& caixa);

// Runs the query for the codes and reads the two rules from its first row; no row gives two
// empty rules, any failure (no connection, a failing statement) gives "N" for both. Never
// throws; shows and logs nothing. The query stays open.
void LeRegras(jov::TADOQuery& query, Parametros& saida);

}  // namespace Cli_jov00000
