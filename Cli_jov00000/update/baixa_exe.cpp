// Executable and package update from the server: version queries, download, installation.
#include "Cli_jov00000/update/baixa_exe.h"

#include <chrono>
#include <exception>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "clientlib/exe_download.h"
#include "clientlib/release_check.h"
#include "clientlib/versions.h"
#include "platform/atomic_file.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/host_path.h"

#ifndef JOV_LAUNCHER_VERSION
#define JOV_LAUNCHER_VERSION "0"
#endif

namespace Cli_jov00000 {

std::vector<std::string> ExecutaveisDoCliente() {
  return {"JovSinc.exe", "JovImp.exe",     "JovTab.exe",
          "JovExp.exe",  "JovBpl.exe",     "JovAut.exe",
          "JovExt.exe",  "JovService.exe", "Altera_Permissoes_Calvora.EXE"};
}

namespace {

// Accepted whichever executable was asked about.
constexpr const char* kPrefixosAceitos[] = {
    "JOVSINC.EXE", "JOVIMP.EXE",     "JOVTAB.EXE",
    "JOVEXP.EXE",  "JOVBPL.EXE",     "JOVAUT.EXE",
    "JOVEXT.EXE",  "JOVSERVICE.EXE", "ALTERA_PERMISSOES_CALVORA.EXE"};

const std::string kDetalhe = " ----         : ";

// Text from the server as the log takes it.
std::string DeFora(const std::string& text) { return jov::cp1252::ForLog(text); }

// The reason line that follows a failure line.
std::string Motivo(const std::string& reason) { return kDetalhe + DeFora(reason); }

// The name under which local_name lies in the folder: local_name itself when a file is spelled
// so; else the one file that equals it but for letter case; local_name when there is none.
// Nothing when several spellings lie there and none is local_name: which of them the server
// means cannot be told, and the folder's order must not choose.
std::optional<std::string> NomeNaPasta(const std::vector<jov::DirEntry>& pasta,
                                       const std::string& local_name) {
  std::optional<std::string> achado;
  bool varios = false;
  for (const jov::DirEntry& entry : pasta) {
    if (entry.is_directory) continue;
    if (entry.name == local_name) return entry.name;
    if (jov::cp1252::EqualsIgnoringAsciiCase(entry.name, local_name)) {
      varios = varios || achado.has_value();
      achado = entry.name;
    }
  }
  if (varios) return std::nullopt;
  return achado.value_or(local_name);
}

// Why a file-list name that begins like a client executable is no program archive to fetch,
// empty when it is one ("<local>.zip", letter case aside).
std::string MotivoSemArquivo(const std::string& name) {
  if (jov::IsProgramArchiveName(name)) return {};
  const std::string upper = jov::cp1252::UpperAscii(name);
  if (upper.ends_with(".ZIP.SIG") || upper.ends_with(".ZIP.RELEASE") ||
      upper.ends_with(".ZIP.RELEASE.SIG")) {
    return name +
           ": a lista do servidor nomeia uma assinatura ou publicação, não um arquivo "
           "compactado; a linha foi ignorada"_w;
  }
  return name +
         ": a lista do servidor não nomeia um arquivo compactado (.zip); a linha foi "
         "ignorada"_w;
}

// A list as text: each line followed by CR LF; each line from outside as the log takes it.
std::string ComoTexto(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += DeFora(line) + "\r\n";
  return text;
}

// Examines one reply's file list in order, appending the files whose server copy is later
// than the local one. A bad stamp (or any other failure) ends this list silently; what was
// appended stays.
void ExaminaLista(const ExeUpdateSeams& s, const std::string& list, const std::string& program_dir,
                  std::vector<std::string>& downloads, std::vector<std::string>& server_lines) {
  try {
    std::optional<std::vector<jov::DirEntry>> pasta;  // listed once a name needs it
    for (const std::string& line : jov::protocol::ListLines(list)) {
      const auto [name, stamp] = jov::protocol::NameAndValue(line);
      const std::string local = jov::protocol::NameBeforeZip(name);
      // A signature, a release statement or a name without an archive is no file to fetch:
      // passed over like a name no prefix accepts, so that it never holds up another file.
      if (const std::string motivo = MotivoSemArquivo(name); !motivo.empty()) {
        if (IsAcceptedLocalName(local.empty() ? name : local)) s.log(Motivo(motivo));
        continue;
      }
      if (!IsAcceptedLocalName(local)) continue;
      const jov::DateTime server = DecodeStamp(stamp);
      if (!pasta) pasta = s.files.ListDirectory(program_dir);
      const std::optional<std::string> na_pasta = NomeNaPasta(*pasta, local);
      if (!na_pasta) {
        s.log(Motivo(local +
                     ": a pasta do programa tem mais de um arquivo com este nome em outras "
                     "grafias de maiúsculas e minúsculas, nenhuma como a do servidor; o arquivo "
                     "não foi atualizado"_w));
        continue;
      }
      const std::string path = program_dir + *na_pasta;
      const jov::DateTime client = s.files.FileExists(path)
                                       ? s.files.LastWriteTime(path).value_or(jov::DateTime{})
                                       : jov::DateTime{};
      s.log("Analisando arquivo:");
      s.log(" ---- Nome : " + DeFora(path));
      s.log(" ---- Data arquivo server:" + jov::FormatDateTime(server));
      s.log(" ---- Data arquivo client:" + jov::FormatDateTime(client));
      if (server > client) {
        downloads.push_back(path);
        server_lines.push_back(line.substr(0, line.find('\0')));
        s.log(" ---- Situacao: Será realizado o download do Arquivo"_w);
      }
    }
  } catch (const std::exception&) {
    // the rest of this reply is ignored
  }
}

// The server stamp of a download-list line, when it decodes.
std::optional<jov::DateTime> CarimboDaLinha(const std::string& server_line) {
  try {
    return DecodeStamp(jov::protocol::NameAndValue(server_line).second);
  } catch (const jov::Error&) {
    return std::nullopt;  // only stamps that decode are listed
  }
}

// A download whose signed release is the build already installed (same version, same archive)
// is not installed again: the file only takes the server's stamp, as an install would give it,
// and its running programs go on. Nothing when the download is to be installed; else the
// reason of a failure, empty when the stamp was set.
std::optional<std::string> SoCarimba(const ExeUpdateSeams& s, const std::string& entry,
                                     const std::string& server_line,
                                     const std::string& program_dir) {
  const std::string local = jov::FileNameOf(entry);
  const std::optional<jov::protocol::Release> release =
      jov::AcceptedRelease(s.library.WorkingDirectory(), local);
  const std::optional<jov::DateTime> stamp = CarimboDaLinha(server_line);
  if (!release || !stamp) return std::nullopt;
  const std::optional<jov::InstalledBuild> installed =
      jov::InstalledVersions::Read(program_dir).Find(local);
  if (!installed || installed->version != release->version ||
      installed->sha256 != release->sha256) {
    return std::nullopt;
  }
  s.log(kDetalhe + "Download realizado com sucesso do arquivo " + DeFora(entry));
  s.log(Motivo(local + ": a versão "_w + std::to_string(release->version) +
               " publicada já está instalada; o arquivo só recebeu a data do servidor"_w));
  std::string falha;
  try {
    s.files.SetLastWriteTime(program_dir + local, *stamp);
  } catch (const jov::IoError& error) {
    falha = local + ": a data do servidor não pôde ser gravada no arquivo: "_w +
            (error.reason().empty() ? std::string(error.what()) : error.reason());
    s.log(Motivo(falha));
  }
  s.log(" ");
  return falha;
}

// Records the version of a file just installed from a signed release, so that no older build
// is let in after it; a failure to record is logged and leaves the install as it is.
void RegistraVersao(const ExeUpdateSeams& s, const std::string& local,
                    const std::string& program_dir) {
  const std::optional<jov::protocol::Release> release =
      jov::AcceptedRelease(s.library.WorkingDirectory(), local);
  if (!release) return;
  try {
    jov::InstalledVersions::Record(program_dir, local, {release->version, release->sha256});
  } catch (const jov::Error& error) {
    s.log(
        Motivo(local + ": a versão instalada não pôde ser registrada: "_w + jov::ReasonOf(error)));
  }
}

// Installs one downloaded file over the program directory's copy, ending its processes first;
// the file takes the server's stamp as its last-write time, so that the next start finds it
// equal to the server's copy whatever the two clocks say.
// Returns the reason when the copy failed, empty when it was installed.
std::string Instala(const ExeUpdateSeams& s, const std::string& entry,
                    const std::string& server_line, const std::string& program_dir) {
  const std::string local = jov::FileNameOf(entry);
  s.log(kDetalhe + "Download realizado com sucesso do arquivo " + DeFora(entry));
  jov::TerminateProcesses(s.processes, local);
  // Ending is only requested: one still listed is asked once more.
  if (jov::IsProcessRunning(s.processes, local)) jov::TerminateProcesses(s.processes, local);
  const std::string from = s.library.WorkingDirectory() + local;
  const std::string to = program_dir + local;
  // Without a stamp the file keeps the time of its copy.
  const std::optional<jov::DateTime> stamp = CarimboDaLinha(server_line);
  std::string falha;
  try {
    s.files.ReplaceFile(from, to, stamp);
  } catch (const jov::IoError& error) {
    // A failed copy leaves the old file whole; the Part's copy line is logged as usual, and
    // the reason follows it.
    falha = local + ": a cópia para a pasta do programa falhou: "_w + error.reason();
  }
  s.log("copyFile(Pchar(" + DeFora(from) + "), Pchar(" + DeFora(to) + "),false)");
  if (!falha.empty()) s.log(Motivo(falha));
  if (falha.empty()) RegistraVersao(s, local, program_dir);
  if (jov::cp1252::EqualsIgnoringAsciiCase(local, "JovService.exe")) {
    s.programs.ShellExecute("cmd.exe", "/C net start JovService");
  }
  s.log(" ");
  return falha;
}

// The program file a reason names at its start ("JovTab.exe: ..."); fallback when none.
std::string ArquivoDoMotivo(const std::string& reason, const std::string& fallback) {
  const std::size_t colon = reason.find(": ");
  if (colon != std::string::npos && IsAcceptedLocalName(reason.substr(0, colon))) {
    return reason.substr(0, colon);
  }
  return fallback;
}

// The words of an error reply, for its reason line.
std::string MotivoDaResposta(const std::string& name, const std::string& reply) {
  return "GetFileVersion(" + name +
         "): o servidor respondeu com erro: " + jov::protocol::ErrorReplyText(reply);
}

}  // namespace

bool IsAcceptedLocalName(const std::string& local_name) {
  // Never a path: an update writes only into the program directory.
  if (jov::protocol::LocalFileNameOf(local_name + ".zip") != local_name) return false;
  const std::string upper = jov::cp1252::UpperAscii(local_name);
  for (const char* prefix : kPrefixosAceitos) {
    if (upper.starts_with(prefix)) return true;
  }
  return false;
}

UpdateOutcome UpdateExecutables(const ExeUpdateSeams& s, const std::vector<std::string>& names,
                                const std::string& program_dir, const std::string& question) {
  UpdateOutcome result;
  const auto failed = [&](const std::string& file, const std::string& reason) {
    result.outcome = jov::protocol::Outcome::kFailed;
    if (!result.failure) result.failure = std::make_pair(file, reason);
  };
  s.log("Conexão Lum "_w);
  try {
    s.connection.SetConnected(true);
  } catch (const std::exception& error) {
    s.log("Falha na conexão Lum"_w);
    s.log(Motivo(jov::ReasonOf(error)));
    failed("", jov::ReasonOf(error));
    return result;
  }
  s.log("Conexão Lum - ok "_w);
  s.log(" ");

  std::vector<std::string> downloads;
  std::vector<std::string> server_lines;
  // Those of the last reply that was read; the download uses them.
  std::string source;
  std::string flag;
  for (const std::string& name : names) {
    std::string reply;
    try {
      s.log("GetFileVersion(BPL&" + name + ")");
      reply = s.connection.AppServer("GetFileVersion", "&" + name);
    } catch (const std::exception& error) {
      // The query is made once; its reason follows the Part's line.
      s.log("Finalizada - 3 tentativas de busca na Lum ");
      s.log(Motivo(jov::ReasonOf(error)));
      failed(name, jov::ReasonOf(error));
    }
    if (jov::protocol::IsErrorReply(reply)) {
      // An error reply carries no files and leaves the kept source and flag as they were.
      s.log("Except função GetFileVersion da Lum"_w);
      s.log("Finalizada - 3 tentativas de busca na Lum ");
      s.log(Motivo(MotivoDaResposta(name, reply)));
      failed(name, MotivoDaResposta(name, reply));
      continue;
    }
    if (reply.empty()) {
      s.log("Arquivo nao encontrado no servidor");
      continue;
    }
    const VersionReply parts = SplitVersionReply(reply);
    source = parts.source;
    flag = parts.flag;
    ExaminaLista(s, parts.list, program_dir, downloads, server_lines);
  }
  s.log(" ");
  if (downloads.empty()) return result;
  if (flag != "0" && !s.dialogs.Confirm(question)) return result;

  std::size_t current = 0;  // the entry a failure is reported for
  try {
    bool done = false;
    s.log(kDetalhe + "GetExeFile(" + ComoTexto(downloads) + ", " + ComoTexto(server_lines) + ", " +
          DeFora(source) + ", " + "False" + ")");
    s.downloads.GetExeFile(downloads, server_lines, source, done);
    for (; current < downloads.size(); ++current) {
      const std::string local = jov::FileNameOf(downloads[current]);
      if (const std::optional<std::string> carimbo =
              SoCarimba(s, downloads[current], server_lines[current], program_dir)) {
        if (!carimbo->empty()) failed(local, *carimbo);
        continue;
      }
      const std::string falha = Instala(s, downloads[current], server_lines[current], program_dir);
      if (falha.empty()) {
        result.installed.push_back(local);
      } else {
        failed(local, falha);
      }
    }
  } catch (const std::exception& error) {
    s.log(kDetalhe + "Falha no download do arquivo " + DeFora(downloads[current]));
    s.log(Motivo(jov::ReasonOf(error)));
    failed(ArquivoDoMotivo(jov::ReasonOf(error), jov::FileNameOf(downloads[current])),
           jov::ReasonOf(error));
  }
  if (result.outcome != jov::protocol::Outcome::kFailed && !result.installed.empty()) {
    result.outcome = jov::protocol::Outcome::kInstalled;
  }
  return result;
}

void RemoveUpdateTemporaries(jov::FileSystem& files, const std::string& program_dir,
                             const std::string& working_dir) {
  // Only this launcher's temporaries carry that name; an operator's "notas.tmp-backup" stays.
  for (const jov::DirEntry& entry : files.ListDirectory(program_dir)) {
    if (!entry.is_directory && jov::IsOwnTemporary(entry.name)) {
      files.DeleteFile(program_dir + entry.name);
    }
  }
  jov::RemoveDownloadTemporaries(working_dir);
}

std::optional<jov::DateTime> FetchFileStamp(jov::TNetConnection& connection,
                                            const UpdateLogLine& log,
                                            const std::string& file_name) {
  const jov::DisconnectOnExit desconecta{connection};
  connection.SetConnected(true);
  const std::string name = jov::FileNameOf(file_name);
  std::string reply;
  try {
    log("GetFileVersion(BPL&" + name + ")");
    reply = connection.AppServer("GetFileVersion", "&" + name);
  } catch (const std::exception& error) {
    log("Falha na conexão "_w);
    log(Motivo(jov::ReasonOf(error)));
  }
  if (jov::protocol::IsErrorReply(reply)) {
    // An error reply stores nothing.
    log("Except função GetFileVersion da Lum"_w);
    log("Falha na conexão "_w);
    log(Motivo(MotivoDaResposta(name, reply)));
    return std::nullopt;
  }
  if (reply.empty()) {
    log("Arquivo nao encontrado no servidor");
    return std::nullopt;
  }
  jov::DateTime stamp;
  try {
    for (const std::string& line : jov::protocol::ListLines(SplitVersionReply(reply).list)) {
      stamp = DecodeStamp(jov::protocol::NameAndValue(line).second);
    }
  } catch (const jov::Error&) {
    // decoding ends at the first bad stamp; the last good one stays
  }
  return stamp;
}

void TfrmEscolheSistema::BaixaJovBplExe() {
  std::string program_dir = jov::DirectoryOf(services_.host.ExecutablePath());
  if (!program_dir.ends_with('/')) program_dir += '/';
  const ExeUpdateSeams seams{*netLocalCache,      services_.files,
                             services_.processes, services_.programs,
                             services_.dialogs,   services_.downloads,
                             services_.library,   [this](const std::string& text) { Log(text); }};
  jov::UpdateReport report;
  report.started = jov::IsoLocalNow();
  const auto start = std::chrono::steady_clock::now();
  const UpdateOutcome outcome =
      UpdateExecutables(seams, arquivosExe, program_dir, msgPadrao->Msg("ExeUpdate"));
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  report.outcome = outcome.outcome;
  report.installed = outcome.installed;
  report.failure = outcome.failure;
  relatorio_ = std::move(report);
}

void TfrmEscolheSistema::EnviaRelatorio() {
  if (!relatorio_) return;
  jov::UpdateReport report = std::move(*relatorio_);
  relatorio_.reset();
  report.filial = cdFilial;
  report.caixa = cdCaixa;
  report.launcher = JOV_LAUNCHER_VERSION;
  std::string program_dir = jov::DirectoryOf(services_.host.ExecutablePath());
  services_.reports.Send(
      report, {services_.library.WebURL(), services_.library.WebPort(), services_.library.Proxy()},
      program_dir, arquivosExe);
}

void TfrmEscolheSistema::BuscaDtExe(const std::string& FileName) {
  const std::optional<jov::DateTime> stamp = FetchFileStamp(
      *netLocalCache, [this](const std::string& text) { Log(text); }, FileName);
  if (!stamp) return;
  const std::string upper = jov::cp1252::UpperAscii(FileName);
  if (upper == "JOVTAB.EXE") dtJovTab = *stamp;
  if (upper == "JOVEXP.EXE") dtJovexp = *stamp;
}

}  // namespace Cli_jov00000
