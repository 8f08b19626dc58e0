// The executable update and the stamp query over fakes: what is asked, logged, downloaded and
// installed for the server's replies, and what a failure leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "Cli_jov00000/update/baixa_exe.h"
#include "clientlib/archive_signature.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "tests/fakes/fake_library.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/launcher_fixture.h"

namespace Cli_jov00000 {
namespace {

using jov::DateTime;
using jov::testing::CallLog;
using Lines = std::vector<std::string>;

const Lines kNames = {"JovSinc.exe", "JovImp.exe",     "JovTab.exe",
                      "JovExp.exe",  "JovBpl.exe",     "JovAut.exe",
                      "JovExt.exe",  "JovService.exe", "Altera_Permissoes_Calvora.EXE"};
constexpr std::size_t kJovSinc = 0, kJovTab = 2, kJovService = 7, kAltera = 8;
const std::string kStamp = "20240131235959";  // 31/01/2024 23:59:59
const DateTime kStampTime{2024, 1, 31, 23, 59, 59};
const std::string kQuestion = "Atualizar os programas?";
const std::string kDetail = " ----         : ";

std::string Entry(const std::string& name, const std::string& stamp = kStamp) {
  return name + "=" + stamp;
}

// A reply from source listing the one entry, stamped kStamp.
std::string OneFile(const std::string& entry, const char* flag = "0", const char* source = "X") {
  return std::string(source) + "\r\n" + Entry(entry) + "&" + flag;
}

// One update run over fakes; the replies are given by position in the table of names.
struct UpdateWorld {
  CallLog calls;
  jov::testing::FakeAppServerChannel channel{calls};
  jov::TNetConnection connection{channel};
  jov::testing::FakeFileSystem files{calls};
  jov::testing::FakeProcessTable processes{calls};
  jov::testing::FakeProgramLauncher programs{calls};
  jov::testing::FakeDialogs dialogs{calls};
  jov::testing::FakeDownloader downloads{calls};
  jov::testing::FakeLibrarySettings library;  // working folder "/work/"
  Lines log;
  UpdateLogLine record = [this](const std::string& text) { log.push_back(text); };
  ExeUpdateSeams seams{connection, files, processes, programs, dialogs, downloads, library, record};

  UpdateWorld() {
    // The downloader leaves each file in the working folder under its local name.
    downloads.on_fetch = [this](const Lines& paths) {
      for (const std::string& path : paths) {
        files.AddFile("/work/" + path.substr(path.rfind('/') + 1), "new " + path);
      }
    };
  }
  void Reply(std::size_t index, const std::string& reply) {
    auto& queue = channel.replies["GetFileVersion"];
    queue.resize(kNames.size() + 1);  // the last one, empty, repeats
    queue[index] = reply;
  }
  void Offer(std::size_t index, const char* flag = "0") {  // that executable under its own name
    Reply(index, OneFile(kNames[index] + ".zip", flag));
  }
  void Run() { UpdateExecutables(seams, kNames, "/caixa/", kQuestion); }
  Lines Downloaded() const {
    return downloads.requested.empty() ? Lines{} : downloads.requested[0];
  }
  bool Logged(const std::string& line) const {
    return std::find(log.begin(), log.end(), line) != log.end();
  }
};

TEST(UpdateExecutables, WithNothingOnTheServerAsksEachNameOnceAndLogsIt) {
  struct Case {
    const char* what;
    bool call_fails;
  } cases[] = {{"empty replies", false}, {"failing calls", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateWorld w;
    if (c.call_fails) w.channel.failing_methods.insert("GetFileVersion");
    w.Run();
    Lines expected = {"Conex\xe3o Lum ", "Conex\xe3o Lum - ok ", " "};
    for (const std::string& name : kNames) {
      expected.push_back("GetFileVersion(BPL&" + name + ")");
      if (c.call_fails) {
        expected.push_back("Finalizada - 3 tentativas de busca na Lum ");
        expected.push_back(kDetail + "GetFileVersion: a conex\xe3o caiu");
      }
      expected.push_back("Arquivo nao encontrado no servidor");
    }
    expected.push_back(" ");
    EXPECT_EQ(w.log, expected);
    ASSERT_EQ(w.channel.calls.size(), kNames.size());
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      EXPECT_EQ(w.channel.calls[i].first, "GetFileVersion");
      EXPECT_EQ(w.channel.calls[i].second, Lines{"&" + kNames[i]});
    }
    EXPECT_TRUE(w.dialogs.shown.empty());
    EXPECT_TRUE(w.downloads.requested.empty());
    EXPECT_TRUE(w.connection.Connected()) << "the connection stays open";
  }
}

TEST(UpdateExecutables, AConnectionThatCannotOpenEndsTheUpdateAtOnce) {
  UpdateWorld w;
  w.channel.fail_open = true;
  w.Run();
  EXPECT_EQ(w.log, (Lines{"Conex\xe3o Lum ", "Falha na conex\xe3o Lum",
                          kDetail + "o servidor recusou a conex\xe3o"}));
  EXPECT_TRUE(w.channel.calls.empty());
}

TEST(UpdateExecutables, ANewerServerCopyIsDownloadedFromItsSourceAndInstalledWithoutAQuestion) {
  UpdateWorld w;
  w.Offer(kJovTab);
  // A running JovTab.exe that the first request does not end.
  const int pid = w.processes.Add("JovTab.exe");
  w.processes.terminate_removes = false;
  w.Run();

  EXPECT_TRUE(w.dialogs.shown.empty());
  EXPECT_EQ(w.downloads.last_source, "X");
  ASSERT_EQ(w.downloads.requested.size(), 1u);
  EXPECT_EQ(w.downloads.requested[0], Lines{"/caixa/JovTab.exe"});
  EXPECT_EQ(w.downloads.requested_lines[0], Lines{Entry("JovTab.exe.zip")});
  EXPECT_EQ(w.processes.terminated, (std::vector<int>{pid, pid}));
  EXPECT_EQ(w.files.files["/caixa/JovTab.exe"], "new /caixa/JovTab.exe");

  const auto at = std::find(w.log.begin(), w.log.end(), "Analisando arquivo:");
  ASSERT_NE(at, w.log.end());
  EXPECT_EQ(Lines(at, at + 5), (Lines{"Analisando arquivo:", " ---- Nome : /caixa/JovTab.exe",
                                      " ---- Data arquivo server:31/01/2024 23:59:59",
                                      " ---- Data arquivo client:30/12/1899",
                                      " ---- Situacao: Ser\xe1 realizado o download do Arquivo"}));
  const auto end =
      std::find(w.log.begin(), w.log.end(), "GetFileVersion(BPL&Altera_Permissoes_Calvora.EXE)");
  ASSERT_NE(end, w.log.end());
  EXPECT_EQ(Lines(end + 1, w.log.end()),
            (Lines{"Arquivo nao encontrado no servidor", " ",
                   kDetail + "GetExeFile(/caixa/JovTab.exe\r\n, " + Entry("JovTab.exe.zip") +
                       "\r\n, X, False)",
                   kDetail + "Download realizado com sucesso do arquivo /caixa/JovTab.exe",
                   "copyFile(Pchar(/work/JovTab.exe), Pchar(/caixa/JovTab.exe),false)", " "}));
}

TEST(UpdateExecutables, AnInstalledFileSettlesWhateverTheClocksAndTheServersSpelling) {
  // The server's clock runs ahead of the register's, and it spells the name its own way.
  const std::string reply = "X\r\n" + Entry("jovtab.EXE.zip", "20300101120000") + "&0";
  UpdateWorld first;
  first.Reply(kJovTab, reply);
  first.files.AddFile("/caixa/JovTab.exe", "old");
  first.Run();
  EXPECT_EQ(first.Downloaded(), Lines{"/caixa/JovTab.exe"});
  EXPECT_EQ(first.files.files["/caixa/JovTab.exe"], "new /caixa/JovTab.exe");
  EXPECT_FALSE(first.files.FileExists("/caixa/jovtab.EXE")) << "no second file beside it";
  EXPECT_EQ(first.files.LastWriteTime("/caixa/JovTab.exe"), (DateTime{2030, 1, 1, 12, 0, 0}));
  // The next start finds the two copies equal.
  UpdateWorld next;
  next.Reply(kJovTab, reply);
  next.files.files = first.files.files;
  next.files.times = first.files.times;
  next.Run();
  EXPECT_TRUE(next.downloads.requested.empty());
}

// Fault: with "JOVTAB.EXE" and "jovtab.exe" in the folder and neither spelled as the server
// spells it, the folder's order chose which one was replaced.
TEST(UpdateExecutables, OfSeveralSpellingsOnlyTheServersIsUpdated) {
  struct Case {
    const char* what;
    Lines local;
    Lines downloaded;
  } cases[] = {
      {"the server's spelling among others",
       {"JOVTAB.EXE", "JovTab.exe", "jovtab.exe"},
       {"/caixa/JovTab.exe"}},
      {"one other spelling", {"JOVTAB.EXE"}, {"/caixa/JOVTAB.EXE"}},
      {"several, none the server's", {"JOVTAB.EXE", "jovtab.exe"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateWorld w;
    w.Offer(kJovTab);
    for (const std::string& name : c.local) w.files.AddFile("/caixa/" + name, "old " + name);
    w.Run();
    EXPECT_EQ(w.Downloaded(), c.downloaded);
    EXPECT_EQ(w.Logged(kDetail +
                       "JovTab.exe: a pasta do programa tem mais de um arquivo com este nome em "
                       "outras grafias de mai\xfasculas e min\xfasculas, nenhuma como a do "
                       "servidor; o arquivo n\xe3o foi atualizado"),
              c.downloaded.empty());
  }
}

TEST(UpdateExecutables, ALocalFileIsReplacedOnlyWhenTheServerCopyIsStrictlyLater) {
  struct Case {
    DateTime local;
    bool downloaded;
  } cases[] = {
      {kStampTime, false},
      {{2024, 1, 31, 23, 59, 58}, true},
      {{2024, 2, 1, 0, 0, 0}, false},
  };
  for (const Case& c : cases) {
    const std::string when = jov::FormatDateTime(c.local);
    SCOPED_TRACE(when);
    UpdateWorld w;
    w.Offer(kJovTab);
    w.files.AddFile("/caixa/JovTab.exe", "old");
    w.files.times["/caixa/JovTab.exe"] = c.local;
    w.Run();
    EXPECT_TRUE(w.Logged(" ---- Data arquivo client:" + when));
    EXPECT_EQ(w.Logged(" ---- Situacao: Ser\xe1 realizado o download do Arquivo"), c.downloaded);
    EXPECT_EQ(w.downloads.requested.size(), c.downloaded ? 1u : 0u);
    EXPECT_EQ(w.files.files["/caixa/JovTab.exe"], c.downloaded ? "new /caixa/JovTab.exe" : "old");
  }
}

TEST(UpdateExecutables, TakesFromEachListOnlyTheClientExecutablesOfTheProgramFolder) {
  struct Case {
    const char* what;
    std::string reply;  // to the query for JovTab.exe
    Lines downloaded;
    std::size_t analysed = downloaded.size();  // entries logged as examined
    Lines reasons = {};                        // reason lines of entries passed over
  } cases[] = {
      {"another executable's name", OneFile("JovSinc.exe.zip"), {"/caixa/JovSinc.exe"}},
      {"an unknown name among known ones",
       "X\r\n" + Entry("Outro.exe.zip") + "\r\n" + Entry("jovtab.exe.ZIP") + "&0",
       {"/caixa/jovtab.exe"}},
      {"no first line: the first character is lost", Entry("JovTab.exe.zip") + "&0", {}},
      {"a bad stamp ends the list, earlier entries stay",
       "X\r\n" + Entry("JovImp.exe.zip") + "\r\n" + Entry("JovTab.exe.zip", "2024013") + "\r\n" +
           Entry("JovExp.exe.zip") + "&0",
       {"/caixa/JovImp.exe"},
       1},
      {"duplicates are kept",
       "X\r\n" + Entry("JovTab.exe.zip") + "\n" + Entry("JovTab.exe.zip") + "&0",
       {"/caixa/JovTab.exe", "/caixa/JovTab.exe"}},
      {"no \"&\": the list is read as the question flag", "X\r\n" + Entry("JovTab.exe.zip"), {}},
      {"a slash", OneFile("JovTab.exe/../../etc/x.zip"), {}},
      {"a backslash", OneFile("JovTab.exe\\x.zip"), {}},
      {"two dots", OneFile("JovTab.exe..x.zip"), {}},
      {"no .zip: no archive",
       OneFile("JovTab.exe"),
       {},
       0,
       {"JovTab.exe: a lista do servidor n\xe3o nomeia um arquivo compactado (.zip); a linha foi "
        "ignorada"}},
      {"only .zip", OneFile(".zip"), {}},
      // Fault: a signature listed alone went to the download, which refused the whole list.
      {"a signature alone never holds up another file",
       "X\r\n" + Entry("JovTab.exe.zip.sig") + "\r\n" + Entry("JovSinc.exe.zip") + "&0",
       {"/caixa/JovSinc.exe"},
       1,
       {"JovTab.exe.zip.sig: a lista do servidor nomeia uma assinatura ou publica\xe7\xe3o, "
        "n\xe3o um arquivo compactado; a linha foi ignorada"}},
      {"release statements, names made safe",
       "X\r\n" + Entry("jovtab.exe.ZIP.release") + "\r\n" + Entry("JovTab.exe.zip.release.sig") +
           "\r\n" + Entry("JovTab.exe.zip\x1b.sig") + "&0",
       {},
       0,
       {"jovtab.exe.ZIP.release: a lista do servidor nomeia uma assinatura ou publica\xe7\xe3o, "
        "n\xe3o um arquivo compactado; a linha foi ignorada",
        "JovTab.exe.zip.release.sig: a lista do servidor nomeia uma assinatura ou "
        "publica\xe7\xe3o, n\xe3o um arquivo compactado; a linha foi ignorada",
        "JovTab.exe.zip?.sig: a lista do servidor n\xe3o nomeia um arquivo compactado (.zip); a "
        "linha foi ignorada"}},
      {"no archive of an unknown program: silent", OneFile("Outro.exe.zip.sig"), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateWorld w;
    w.Reply(kJovTab, c.reply);
    w.Run();
    EXPECT_EQ(w.Downloaded(), c.downloaded);
    // A refused entry leaves no trace in the log.
    EXPECT_EQ(
        static_cast<std::size_t>(std::count(w.log.begin(), w.log.end(), "Analisando arquivo:")),
        c.analysed);
    for (const std::string& line : w.log) {
      EXPECT_EQ(line.find("Outro"), std::string::npos) << line;
    }
    Lines reasons;
    for (const std::string& line : w.log) {
      if (line.find("a linha foi ignorada") != std::string::npos) {
        reasons.push_back(line.substr(kDetail.size()));
      }
    }
    EXPECT_EQ(reasons, c.reasons);
    for (const auto& [path, bytes] : w.files.files) {
      EXPECT_TRUE(path.starts_with("/caixa/") || path.starts_with("/work/")) << path;
    }
  }
}

TEST(UpdateExecutables, TheLastNonEmptyReplyChoosesSourceAndQuestion) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::size_t, std::string>> replies;
    std::string source;
    bool asked;
  } cases[] = {
      {"later source, no question",
       {{kJovSinc, OneFile("JovSinc.exe.zip", "1", "A")},
        {kJovTab, OneFile("JovTab.exe.zip", "0", "B")}},
       "B",
       false},
      {"later flag asks",
       {{kJovSinc, OneFile("JovSinc.exe.zip", "0", "A")},
        {kJovTab, OneFile("JovTab.exe.zip", "1", "B")}},
       "B",
       true},
      {"a reply without files still counts",
       {{kJovSinc, OneFile("JovSinc.exe.zip", "1", "A")},
        {kJovTab, OneFile("JovTab.exe.zip", "1", "B")},
        {kAltera, "C\r\n&"}},
       "C",
       false},
      {"an error reply keeps what came before",
       {{kJovSinc, OneFile("JovSinc.exe.zip", "0", "A")}, {kJovTab, "EXCEPT boom"}},
       "A",
       false},
  };
  for (const Case& c : cases) {
    UpdateWorld w;
    for (const auto& [index, reply] : c.replies) w.Reply(index, reply);
    w.dialogs.answers = {true};
    w.Run();
    ASSERT_EQ(w.downloads.requested.size(), 1u) << c.what;
    EXPECT_EQ(w.downloads.last_source, c.source) << c.what;
    EXPECT_EQ(w.dialogs.shown, c.asked ? Lines{"Confirm: " + kQuestion} : Lines{}) << c.what;
  }
}

TEST(UpdateExecutables, AnErrorReplyIsLoggedWithItsTextMadeSafeAndTheNextNameAsked) {
  const std::string reason =
      kDetail + "GetFileVersion(JovTab.exe): o servidor respondeu com erro: ";
  const std::string forged = "x\r\n01/01/2030 00:00:00 -  ----         : Download realizado\x1b[2J";
  const struct {
    const char* what;
    std::string reply;
    std::string reason_line;
  } cases[] = {
      {"plain", "EXCEPT:Tabela bloqueada", reason + "Tabela bloqueada"},
      // A line break cannot forge a log line, nor an escape reach a terminal.
      {"control characters", "EXCEPT:" + forged,
       reason + "x??01/01/2030 00:00:00 -  ----         : Download realizado?[2J"},
      // A huge reply cannot flood the log at every start.
      {"huge", "EXCEPT:" + std::string(1 << 20, 'e'),
       (reason + std::string(1000, 'e')).substr(0, 1016)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateWorld w;
    w.Reply(kJovTab, c.reply);
    w.Run();
    const auto at = std::find(w.log.begin(), w.log.end(), "GetFileVersion(BPL&JovTab.exe)");
    ASSERT_NE(at, w.log.end());
    EXPECT_EQ(Lines(at + 1, at + 5), (Lines{"Except fun\xe7\xe3o GetFileVersion da Lum",
                                            "Finalizada - 3 tentativas de busca na Lum ",
                                            c.reason_line, "GetFileVersion(BPL&JovExp.exe)"}));
    EXPECT_EQ(w.channel.calls.size(), kNames.size());
  }
}

TEST(UpdateExecutables, AskingFirstInstallsOnlyAfterYes) {
  for (const bool yes : {true, false}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    UpdateWorld w;
    w.Offer(kJovTab, "1");
    w.files.AddFile("/caixa/JovTab.exe", "old");
    w.dialogs.answers = {yes};
    w.Run();
    EXPECT_EQ(w.dialogs.shown, Lines{"Confirm: " + kQuestion});
    EXPECT_EQ(w.downloads.requested.size(), yes ? 1u : 0u);
    EXPECT_EQ(w.files.files["/caixa/JovTab.exe"], yes ? "new /caixa/JovTab.exe" : "old");
  }
}

TEST(UpdateExecutables, AnInstalledServiceIsStartedAgain) {
  for (const char* name : {"JovService.exe", "JOVSERVICE.EXE"}) {
    SCOPED_TRACE(name);
    UpdateWorld w;
    w.Reply(kJovService,
            "X\r\n" + Entry(std::string(name) + ".zip") + "\r\n" + Entry("JovTab.exe.zip") + "&0");
    w.Run();
    EXPECT_EQ(w.Downloaded(), (Lines{"/caixa/" + std::string(name), "/caixa/JovTab.exe"}));
    ASSERT_EQ(w.programs.starts.size(), 1u);
    EXPECT_EQ(w.programs.starts[0].kind, "ShellExecute");
    EXPECT_EQ(w.programs.starts[0].program, "cmd.exe");
    EXPECT_EQ(w.programs.starts[0].parameters, "/C net start JovService");
  }
}

TEST(UpdateExecutables, AFailedDownloadInstallsNothingAndNamesTheFirstFile) {
  struct Case {
    const char* what;
    std::exception_ptr error;
    Lines extra;
  } cases[] = {
      {"failure without a reason",
       std::make_exception_ptr(jov::Error("Download from X failed")),
       {kDetail + "falha interna inesperada"}},
      {"refused signature",
       std::make_exception_ptr(jov::SignatureError("JovTab.exe.zip: signature does not match",
                                                   jov::Cause::kSignatureMismatch,
                                                   {.file = "JovTab.exe"})),
       {kDetail + "JovTab.exe: a assinatura n\xe3o confere com o arquivo"}},
  };
  for (const Case& c : cases) {
    UpdateWorld w;
    w.Offer(kJovSinc);
    w.Offer(kJovTab);
    w.processes.Add("JovSinc.exe");
    w.files.AddFile("/caixa/JovSinc.exe", "old");
    w.downloads.error = c.error;
    w.Run();
    const auto at = std::find_if(w.log.begin(), w.log.end(), [](const std::string& line) {
      return line.starts_with(kDetail + "GetExeFile(");
    });
    ASSERT_NE(at, w.log.end()) << c.what;
    Lines expected = {kDetail + "Falha no download do arquivo /caixa/JovSinc.exe"};
    expected.insert(expected.end(), c.extra.begin(), c.extra.end());
    EXPECT_EQ(Lines(at + 1, w.log.end()), expected) << c.what;
    EXPECT_TRUE(w.processes.terminated.empty()) << c.what;
    EXPECT_EQ(w.calls.Count("files.ReplaceFile"), 0) << c.what;
    EXPECT_EQ(w.files.files["/caixa/JovSinc.exe"], "old") << c.what;
  }
}

TEST(UpdateExecutables, AFailingInstallationStopsAtItsEntryAndKeepsWhatCameBefore) {
  UpdateWorld w;
  for (const std::size_t index : {kJovTab, kJovService, kAltera}) w.Offer(index);
  w.programs.on_start = [](const jov::testing::FakeProgramLauncher::Start&) {
    throw jov::Error("cannot start cmd.exe");
  };
  w.Run();
  EXPECT_EQ(w.files.files["/caixa/JovTab.exe"], "new /caixa/JovTab.exe");
  EXPECT_EQ(w.files.files["/caixa/JovService.exe"], "new /caixa/JovService.exe");
  EXPECT_FALSE(w.files.FileExists("/caixa/Altera_Permissoes_Calvora.EXE"));
  EXPECT_EQ(w.log.end()[-2], kDetail + "Falha no download do arquivo /caixa/JovService.exe");
  EXPECT_EQ(w.log.back(), kDetail + "falha interna inesperada");
}

TEST(UpdateExecutables, AFailedCopyKeepsTheOldFileAndGoesOn) {
  UpdateWorld w;
  w.Offer(kJovSinc);
  w.Offer(kJovTab);
  w.files.AddFile("/caixa/JovSinc.exe", "old");
  w.files.replace_errors["/caixa/JovSinc.exe"] = "Text file busy";
  w.Run();
  EXPECT_EQ(w.files.files["/caixa/JovSinc.exe"], "old");
  EXPECT_EQ(w.files.files["/caixa/JovTab.exe"], "new /caixa/JovTab.exe");
  const auto copy =
      std::find(w.log.begin(), w.log.end(),
                "copyFile(Pchar(/work/JovSinc.exe), Pchar(/caixa/JovSinc.exe),false)");
  ASSERT_NE(copy, w.log.end());
  EXPECT_EQ(copy[1], kDetail +
                         "JovSinc.exe: a c\xf3pia para a pasta do programa falhou: n\xe3o foi "
                         "poss\xedvel substituir /caixa/JovSinc.exe: Text file busy")
      << "a failed copy says why, after the copy line";
  EXPECT_FALSE(w.Logged(kDetail + "Falha no download do arquivo /caixa/JovSinc.exe"));
}

// The stamp query, on its own and through the form's exported method.
TEST(FetchFileStamp, TakesTheLastGoodStampAndLeavesTheConnectionClosed) {
  struct Case {
    const char* what;
    std::string reply;
    std::optional<DateTime> stamp;
    std::string last_line = "GetFileVersion(BPL&JovTab.exe)";
  } cases[] = {
      {"two entries",
       "X\r\n" + Entry("JovTab.exe.zip", "20230101120000") + "\r\n" + Entry("JovTab.exe.zip") +
           "&0",
       kStampTime},
      {"a bad second stamp",
       "X\r\n" + Entry("JovTab.exe.zip") + "\r\n" + Entry("JovTab.exe.zip", "x") + "&0",
       kStampTime},
      {"no entries", "X\r\n&0", DateTime{}},
      {"empty", "", std::nullopt, "Arquivo nao encontrado no servidor"},
      {"error reply", "EXCEPT boom", std::nullopt,
       kDetail + "GetFileVersion(JovTab.exe): o servidor respondeu com erro: boom"},
  };
  for (const Case& c : cases) {
    UpdateWorld w;
    w.channel.replies["GetFileVersion"] = {c.reply};
    EXPECT_EQ(FetchFileStamp(w.connection, w.record, "JovTab.exe"), c.stamp) << c.what;
    EXPECT_EQ(w.log.back(), c.last_line) << c.what;
    EXPECT_FALSE(w.channel.open) << c.what;
  }
}

TEST(FetchFileStamp, AsksForTheFileNamePartAndPassesAFailedConnectOn) {
  UpdateWorld w;
  w.channel.replies["GetFileVersion"] = {OneFile("JovTab.exe.zip")};
  EXPECT_EQ(FetchFileStamp(w.connection, w.record, "/opt/caixa/JovTab.exe"), kStampTime);
  EXPECT_EQ(w.channel.calls.back().second, Lines{"&JovTab.exe"});
  w.channel.fail_open = true;
  EXPECT_THROW(FetchFileStamp(w.connection, w.record, "JovTab.exe"), jov::Error);
  EXPECT_FALSE(w.connection.Connected());
}

class BuscaDtExeTest : public jov::testing::LauncherTest {};

TEST_F(BuscaDtExeTest, StoresOnlyForTheBareNameOfTheTwoKnownFiles) {
  struct Case {
    std::string argument;
    bool tab, exp;
  } cases[] = {
      {"JovTab.exe", true, false},
      {"jovexp.EXE", false, true},
      {"/caixa/JovTab.exe", false, false},
      {"JovImp.exe", false, false},
  };
  auto form = NewFormAfterCreation();
  for (const Case& c : cases) {
    dtJovTab = DateTime{};
    dtJovexp = DateTime{};
    fake.server.replies["GetFileVersion"] = {OneFile("a.zip")};
    form->BuscaDtExe(c.argument);
    EXPECT_EQ(dtJovTab, c.tab ? kStampTime : DateTime{}) << c.argument;
    EXPECT_EQ(dtJovexp, c.exp ? kStampTime : DateTime{}) << c.argument;
    EXPECT_FALSE(fake.server.open) << c.argument;
  }
}

}  // namespace
}  // namespace Cli_jov00000
