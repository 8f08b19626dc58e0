// The reasons failures give the register's log: each cause in Portuguese with what it names,
// any other exception as an internal failure, and the sites that once logged English.
#include "platform/errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <map>
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

// Fault: a cause renders another cause's words, an empty or English reason, or the program
// file does not open it. The words themselves are checked where each failure is raised (the
// hive's, the download's, the release check's tests), against the log the register writes.
TEST(ErrorReasons, EachCauseSaysInPortugueseWhatItNames) {
  const ErrorContext c{.subject = "S", .other = "O", .detail = "D", .number = 2048};
  std::map<std::string, Cause> seen;
  for (int i = 0; i <= static_cast<int>(Cause::kVersionsUnreadable); ++i) {
    const auto cause = static_cast<Cause>(i);
    const std::string reason = RenderReason(cause, c);
    EXPECT_FALSE(reason.empty()) << i;
    EXPECT_FALSE(LooksEnglish(reason)) << reason;
    // Only the causes that pass another's words on (the transport's, the statement reader's)
    // may say the same.
    EXPECT_TRUE(reason == c.detail || seen.emplace(reason, cause).second)
        << i << " says what " << static_cast<int>(seen[reason]) << " says: " << reason;
    // The program file concerned opens the reason; the message never reaches it.
    ErrorContext in_file = c;
    in_file.file = "JovTab.exe";
    const Error error("Cannot do it: English words", cause, in_file);
    EXPECT_EQ(error.reason(), "JovTab.exe: " + reason);
    EXPECT_EQ(ReasonOf(error), error.reason());
  }
  // What a cause names reaches its reason.
  EXPECT_EQ(RenderReason(Cause::kCannotMove, c), "n\xe3o foi poss\xedvel mover S para O: D");
  EXPECT_EQ(RenderReason(Cause::kSignatureTooLarge, c),
            "a assinatura no servidor tem mais de 2 KiB");
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
