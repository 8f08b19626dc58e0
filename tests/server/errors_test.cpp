// The reasons failures give the register's log: each cause in Portuguese with what it names,
// any other exception as an internal failure, and the sites that once logged English.
#include "platform/errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <new>
#include <system_error>

#include "clientlib/calvora.h"
#include "clientlib/jov_requisicaohttp.h"
#include "platform/data_packet.h"
#include "platform/database_qt.h"
#include "platform/file_bytes.h"
#include "platform/file_system_linux.h"
#include "platform/system_text.h"
#include "protocol/version_reply.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

// Words of the English messages; none may reach a reason but inside a context's own text.
bool LooksEnglish(const std::string& reason) {
  for (const char* word : {"Cannot", "cannot", "failed", "not found", " is not ", "larger than",
                           "falha: ", " has no ", "answered"}) {
    if (reason.find(word) != std::string::npos) return true;
  }
  return false;
}

// Fault: a cause renders another cause's words, drops what it names, or says it in English;
// a reworded text the log already shows.
TEST(ErrorReasons, EachCauseSaysInPortugueseWhatItNames) {
  const ErrorContext c{.subject = "S", .other = "O", .detail = "D", .number = 2048};
  struct Row {
    Cause cause;
    std::string reason;
  } rows[] = {
      {Cause::kUnspecified, "falha interna inesperada"},
      {Cause::kCannotOpen, "n\xe3o foi poss\xedvel abrir S: D"},
      {Cause::kCannotOpenFile,
       "S: o arquivo n\xe3o p\xf4"
       "de ser aberto: D"},
      {Cause::kCannotRead, "n\xe3o foi poss\xedvel ler S: D"},
      {Cause::kCannotWrite, "n\xe3o foi poss\xedvel gravar S: D"},
      {Cause::kCannotWriteBeside, "n\xe3o foi poss\xedvel gravar ao lado de S: D"},
      {Cause::kCannotCopy, "n\xe3o foi poss\xedvel copiar S para O: D"},
      {Cause::kCannotReplace, "n\xe3o foi poss\xedvel substituir S: D"},
      {Cause::kCannotMove, "n\xe3o foi poss\xedvel mover S para O: D"},
      {Cause::kNotRegular, "S: n\xe3o \xe9 um arquivo comum"},
      {Cause::kTooLarge, "S: o arquivo passa do limite de 2 KiB"},
      {Cause::kCannotRun, "n\xe3o foi poss\xedvel executar S: D"},
      {Cause::kNoBatchFile,
       "n\xe3o foi poss\xedvel executar S: nenhum arquivo de comandos foi indicado"},
      {Cause::kModuleLoad,
       "o m\xf3"
       "dulo S n\xe3o p\xf4"
       "de ser carregado: D"},
      {Cause::kModuleNoEntry,
       "o m\xf3"
       "dulo S n\xe3o tem a entrada O"},
      {Cause::kPacketTooLarge, "S: o pacote de dados passa de 2048 bytes"},
      {Cause::kPacketMalformed, "S: o pacote de dados est\xe1 malformado (linha 2048, coluna O)"},
      {Cause::kPacketTextHasNul,
       "o pacote de dados n\xe3o pode ser gravado: um texto cont\xe9m o caractere NUL"},
      {Cause::kPacketFieldTwice,
       "o pacote de dados n\xe3o pode ser gravado: o campo S est\xe1 definido duas vezes"},
      {Cause::kPacketFieldReserved,
       "o pacote de dados n\xe3o pode ser gravado: o nome de campo \"S\" n\xe3o pode levar um "
       "valor"},
      {Cause::kSettingInvalid, "o valor 'S' da configura\xe7\xe3o O n\xe3o \xe9 v\xe1lido"},
      {Cause::kDatabaseConnect, "n\xe3o foi poss\xedvel conectar ao banco de dados S: D"},
      {Cause::kDatabaseNotConnected, "sem conex\xe3o com o banco de dados"},
      {Cause::kDatabaseFailed, "o banco de dados recusou o comando: D"},
      {Cause::kQueryWithoutConnection, "a consulta n\xe3o tem conex\xe3o com o banco de dados"},
      {Cause::kFieldMissing, "o campo S n\xe3o veio nos dados do servidor"},
      {Cause::kColumnMissing, "a coluna S n\xe3o veio na consulta ao banco de dados"},
      {Cause::kFieldNotInteger, "o campo S do servidor n\xe3o \xe9 um n\xfamero inteiro: 'D'"},
      {Cause::kServerAddressInvalid, "o endere\xe7o do servidor n\xe3o \xe9 v\xe1lido"},
      {Cause::kNotConnected, "a conex\xe3o com S n\xe3o est\xe1 aberta"},
      {Cause::kServerStalled, "o servidor parou de responder antes nesta partida (D)"},
      {Cause::kExchangeFailed, "D"},
      {Cause::kServerStatus, "o servidor respondeu HTTP 2048 para S"},
      {Cause::kServerError, "o servidor respondeu com erro: D"},
      {Cause::kReplyTooDeep, "a resposta tem mais de 2048 n\xedveis"},
      {Cause::kReplyNotJson, "a resposta n\xe3o \xe9 JSON v\xe1lido"},
      {Cause::kReplyNoResult, "a resposta n\xe3o traz o texto \"result\""},
      {Cause::kRegistryKeyEmptyName, "a chave do registro 'S' n\xe3o \xe9 v\xe1lida: nome vazio"},
      {Cause::kRegistryKeyInvalid, "a chave do registro 'S' n\xe3o \xe9 v\xe1lida"},
      {Cause::kRegistryTextRefused,
       "o registro n\xe3o guarda um texto com quebra de linha ou NUL: D"},
      {Cause::kHiveTooLarge, "o registro S est\xe1 corrompido: passa de 2 KiB"},
      {Cause::kHiveCorrupt, "o registro S est\xe1 corrompido na linha 2048"},
      {Cause::kHiveNotRegular, "o registro S n\xe3o \xe9 um arquivo comum"},
      {Cause::kHiveUnreadable, "o registro S n\xe3o pode ser lido: D"},
      {Cause::kHiveUnwritable, "o registro S n\xe3o pode ser gravado: O: D"},
      {Cause::kHiveFolderUnwritable, "o registro S n\xe3o pode ser gravado: a pasta O: D"},
      {Cause::kHiveLockNotRegular,
       "o registro S n\xe3o pode ser gravado: O n\xe3o \xe9 um arquivo comum"},
      {Cause::kHiveCannotLock,
       "o registro S n\xe3o p\xf4"
       "de ser bloqueado para grava\xe7\xe3o: D"},
      {Cause::kHiveLocked, "o registro S est\xe1 bloqueado por outro programa"},
      {Cause::kHiveReadOnly, "o registro S \xe9 somente leitura"},
      {Cause::kHiveWouldGrow,
       "o registro S passaria do limite de 2 KiB; o valor n\xe3o foi gravado"},
      {Cause::kValueMissing, "o valor 'S' em HKEY_LOCAL_MACHINE\\O n\xe3o existe no registro"},
      {Cause::kValueKeyMissing,
       "o valor 'S' em HKEY_LOCAL_MACHINE\\O n\xe3o pode ser gravado: a chave n\xe3o existe"},
      {Cause::kValueNotText,
       "o valor 'S' em HKEY_LOCAL_MACHINE\\O do registro n\xe3o \xe9 um texto"},
      {Cause::kValueNotInteger,
       "o valor 'S' em HKEY_LOCAL_MACHINE\\O do registro n\xe3o \xe9 um n\xfamero inteiro"},
      {Cause::kWorkFolderNotMade,
       "a pasta de trabalho S n\xe3o p\xf4"
       "de ser criada: D"},
      {Cause::kWorkFolderNotFolder, "a pasta de trabalho S n\xe3o \xe9 uma pasta"},
      {Cause::kWorkFolderOtherOwner, "a pasta de trabalho S pertence a outro usu\xe1rio"},
      {Cause::kWorkFolderOpenToOthers,
       "a pasta de trabalho S pode ser gravada por outros usu\xe1rios"},
      {Cause::kWorkFolderFull, "sem espa\xe7o na pasta de trabalho S"},
      {Cause::kWorkFolderWrite, "a grava\xe7\xe3o na pasta de trabalho falhou: D"},
      {Cause::kWorkFolderCreateFile,
       "n\xe3o foi poss\xedvel criar um arquivo na pasta de trabalho S: D"},
      {Cause::kPublicKeyInvalid,
       "a chave p\xfa"
       "blica de clientlib.ini n\xe3o \xe9 v\xe1lida"},
      {Cause::kPublicKeyNotEd25519,
       "a chave p\xfa"
       "blica de clientlib.ini n\xe3o \xe9 uma chave Ed25519"},
      {Cause::kSignatureEmpty, "a assinatura est\xe1 vazia"},
      {Cause::kSignatureMalformed,
       "a assinatura n\xe3o \xe9 v\xe1lida (n\xe3o s\xe3o 64 bytes em base64)"},
      {Cause::kSignatureCheckSetup,
       "a verifica\xe7\xe3o da assinatura n\xe3o p\xf4"
       "de ser preparada"},
      {Cause::kSignatureMismatch, "a assinatura n\xe3o confere com o arquivo"},
      {Cause::kSignatureTooLarge, "a assinatura no servidor tem mais de 2 KiB"},
      {Cause::kSignatureMissing, "o servidor n\xe3o tem a assinatura S.sig (HTTP 2048)"},
      {Cause::kArchiveTooLarge, "o arquivo compactado passou do limite de 2 KiB"},
      {Cause::kStampInvalid, "a data 'D' enviada pelo servidor n\xe3o \xe9 v\xe1lida"},
      {Cause::kArchiveNotZip,
       "o que o servidor enviou n\xe3o \xe9 um arquivo compactado zip v\xe1lido"},
      {Cause::kArchiveCorrupt, "o arquivo compactado recebido est\xe1 corrompido"},
      {Cause::kArchiveCrc, "o arquivo compactado recebido est\xe1 corrompido (CRC)"},
      {Cause::kArchiveNoEntry, "o arquivo compactado n\xe3o cont\xe9m S"},
      {Cause::kProgramTooLarge, "o programa passou do limite de 2 KiB"},
      {Cause::kPartialNotKept,
       "o download parcial n\xe3o p\xf4"
       "de ser gravado: D"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RenderReason(row.cause, c), row.reason);
    EXPECT_FALSE(LooksEnglish(row.reason)) << row.reason;
    // The program file concerned opens the reason; the message never reaches it.
    ErrorContext in_file = c;
    in_file.file = "JovTab.exe";
    const Error error("Cannot do it: English words", row.cause, in_file);
    EXPECT_EQ(error.reason(), "JovTab.exe: " + row.reason);
    EXPECT_EQ(ReasonOf(error), error.reason());
  }
  // Without a connection's name, or what was asked for.
  EXPECT_EQ(RenderReason(Cause::kNotConnected, {}), "sem conex\xe3o com o servidor");
  EXPECT_EQ(RenderReason(Cause::kServerStatus, {.number = 503}), "o servidor respondeu HTTP 503");
  // The default value of a key, and the hive's own limit as the log has always given it.
  EXPECT_EQ(RenderReason(Cause::kValueMissing, {.other = "K"}),
            "o valor '(Padr\xe3o)' em HKEY_LOCAL_MACHINE\\K n\xe3o existe no registro");
  EXPECT_EQ(RenderReason(Cause::kHiveWouldGrow, {.subject = "S", .number = 16 << 20}),
            "o registro S passaria do limite de 16 MiB; o valor n\xe3o foi gravado");
}

// Fault: a foreign exception's English what() reached the log after "falha: ".
TEST(ErrorReasons, AnythingButOurErrorIsAnInternalFailureInPortuguese) {
  const struct {
    std::exception_ptr failure;
    std::string reason;
  } cases[] = {
      {std::make_exception_ptr(std::bad_alloc()), "falha interna: mem\xf3ria insuficiente"},
      {std::make_exception_ptr(std::system_error(ENOSPC, std::generic_category(), "write")),
       "falha interna: " + SystemErrorText(ENOSPC)},
      {std::make_exception_ptr(std::runtime_error("Download failed")), "falha interna inesperada"},
      {std::make_exception_ptr(Error("Download from X failed")), "falha interna inesperada"},
      {std::make_exception_ptr(Abort()), "falha interna inesperada"},
  };
  for (const auto& c : cases) {
    try {
      std::rethrow_exception(c.failure);
    } catch (const std::exception& failure) {
      EXPECT_EQ(ReasonOf(failure), c.reason) << failure.what();
    }
  }
}

// Fault: these sites raised a message without a reason, and the log showed the English.
TEST(ErrorReasons, SitesThatOnceLoggedEnglishGiveTheirCause) {
  const TempDir dir;
  const std::string batch = dir.path() + "/nada.bat";
  FileSystemLinux files;
  DatabaseQt database;
  Dataset twice;
  twice.fields = {{"CDCAIXA", "string", 0}, {"CDCAIXA", "string", 0}};
  const struct {
    const char* site;
    std::function<void()> action;
    std::string reason_start;
  } sites[] = {
      {"data packet writer", [&] { WriteDataPacket(twice); },
       "o pacote de dados n\xe3o pode ser gravado: o campo CDCAIXA est\xe1 definido duas vezes"},
      {"append", [&] { files.AppendToFile(dir.path() + "/nada/log.txt", "x"); },
       "n\xe3o foi poss\xedvel abrir " + dir.path() + "/nada/log.txt: " + SystemErrorText(ENOENT)},
      {"move", [&] { files.MoveReplace(dir.path() + "/a.exe", dir.path() + "/b.exe"); },
       "n\xe3o foi poss\xedvel mover " + dir.path() + "/a.exe para " + dir.path() +
           "/b.exe: " + SystemErrorText(ENOENT)},
      {"read", [&] { ReadFileBytes(dir.path(), 10); },
       dir.path() + ": n\xe3o \xe9 um arquivo comum"},
      {"calvora", [&] { Calvora::LoadBPL_JOVINI(dir.path(), "REV10000", false); },
       "o m\xf3"
       "dulo " +
           dir.path() +
           "/REV10000.bpl n\xe3o p\xf4"
           "de ser carregado: "},
      {"database provider", [&] { database.Connect("Provider=MSDAORA;Data Source=caixa"); },
       "o valor 'MSDAORA' da configura\xe7\xe3o Provider n\xe3o \xe9 v\xe1lido"},
      {"database statement",
       [&] {
         database.Connect("Provider=QSQLITE;Data Source=" + dir.path() + "/caixa.db");
         database.Query("SELECT NADA FROM CAIXA", {});
       },
       "o banco de dados recusou o comando: "},
      {"server's time stamp", [&] { protocol::DecodeStamp("2024\x1b"); },
       "a data '2024?' enviada pelo servidor n\xe3o \xe9 v\xe1lida"},
      {"http request batch",
       [&] { Jov_requisicaohttp::GetDosOutput(dir.path(), "\"" + batch + "\"", "C:"); },
       "n\xe3o foi poss\xedvel ler " + batch + ": " + SystemErrorText(ENOENT)},
  };
  for (const auto& s : sites) {
    try {
      s.action();
      EXPECT_EQ(s.reason_start, "") << s.site << ": no failure";
    } catch (const Error& error) {
      const std::string reason = ReasonOf(error);
      EXPECT_EQ(reason.rfind(s.reason_start, 0), 0u) << s.site << ": " << reason;
      // The loader's or the driver's own text may be English; our words may not.
      std::string ours = reason;
      const std::string& theirs = error.context().detail;
      if (!theirs.empty() && ours.ends_with(theirs)) ours.resize(ours.size() - theirs.size());
      EXPECT_FALSE(LooksEnglish(ours)) << s.site << ": " << reason;
    }
  }
}

}  // namespace
}  // namespace jov::testing
