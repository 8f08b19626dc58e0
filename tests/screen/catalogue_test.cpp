// The message catalogue: every key yields its text byte for byte in Windows-1252.
#include <utility>

#include "tests/screen/screen_fixture.h"

namespace jov::testing {
namespace {

using CatalogueTest = ScreenTest;

// The expected texts, written as Windows-1252 bytes.
const std::pair<std::string, std::string> kEntries[] = {
    {"ExeUpdate",
     "A vers\xE3o do execut\xE1vel no servidor est\xE1 mais atualizada que a vers\xE3o local. "
     "Deseja atualiz\xE1-lo?"},
    {"Msg_JovTab",
     "Neste momento o sistema ir\xE1 acessar o servidor para baixar as tabelas utilizadas no cache "
     "local (Produtos, Pre\xE7os, Impostos, Par\xE2metros, etc). Caso n\xE3o seja poss\xEDvel "
     "estabelecer uma conex\xE3o com o servidor, o sistema poder\xE1 ser utilizado normalmente. "
     "Apenas n\xE3o estar\xE1 com as tabelas atualizadas."},
    {"Msg_JovBpl",
     "Esta sendo realizado a atualiza\xE7\xE3o das telas do sistema.Deseja interromper a "
     "atualiza\xE7\xE3o e abrir o sistema?"},
    {"JovTab",
     "Esta sendo realizado a atualiza\xE7\xE3o do banco de dados local. Caso prossiga, o sistema "
     "funcionar\xE1 normalmente. Apenas os seus dados locais n\xE3o ser\xE3o atualizados. Deseja "
     "continuar?"},
    {"MercatoCDS",
     "N\xE3o foi localizado arquivo Mercato.cds, Filial e Caixa devem ser informados para que seja "
     "realizado a baixa das tabelas."},
    {"Aguardar_Atualizacao", "Aguarde o download dos arquivos de atualiza\xE7\xE3o do sistema."},
    {"Reiniciar",
     "O sistema ser\xE1 reiniciado para que as altera\xE7\xF5"
     "es sejam aplicadas."},
    {"Tab_Bloq",
     "Opera\xE7\xE3o bloqueada! Este caixa n\xE3o pode ser aberto enquanto as tabelas est\xE3o "
     "sendo atualizadas."},
    {"Msg_AtuExe",
     "Aten\xE7\xE3o! O sistema se encontra com arquivos desatualizados. \xC9 importante a "
     "atualiza\xE7\xE3o para o funcionamento adequado do caixa. Deseja continuar mesmo assim?"},
};

TEST_F(CatalogueTest, EveryKeyYieldsItsTextInStoredOrder) {
  form = NewForm();
  const jov::TMessages& catalogue = *form->msgPadrao;
  ASSERT_EQ(catalogue.Messages.size(), std::size(kEntries));
  for (std::size_t i = 0; i < std::size(kEntries); ++i) {
    const auto& [key, text] = kEntries[i];
    EXPECT_EQ(catalogue.Msg(key), text) << key;
    EXPECT_EQ(catalogue.Messages[i], key + "|" + text) << "entry " << i;
  }
}

TEST_F(CatalogueTest, KeysMatchExactly) {
  form = NewForm();
  const jov::TMessages& catalogue = *form->msgPadrao;
  EXPECT_EQ(catalogue.Msg("exeupdate"), "");
  EXPECT_EQ(catalogue.Msg("ExeUpdate "), "");
  EXPECT_EQ(catalogue.Msg("Exe"), "");
  EXPECT_EQ(catalogue.Msg(""), "");
}

TEST(TMessages, AKeyIsTheTextBeforeTheFirstBar) {
  jov::TMessages catalogue;
  catalogue.Messages = {"no bar here", "A|first|with a bar", "A|second", "|empty key", "B|"};
  EXPECT_EQ(catalogue.Msg("A"), "first|with a bar");
  EXPECT_EQ(catalogue.Msg(""), "empty key");
  EXPECT_EQ(catalogue.Msg("B"), "");
  EXPECT_EQ(catalogue.Msg("no bar here"), "");
}

}  // namespace
}  // namespace jov::testing
