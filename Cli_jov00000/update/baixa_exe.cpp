// Executable and package update from the server: version queries, download, installation.
#include "Cli_jov00000/update/baixa_exe.h"

#include <exception>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "clientlib/archive_signature.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/host_path.h"

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

bool RespostaDeErro(const std::string& reply) { return reply.starts_with("EXCEPT"); }

// The lines of a file list as a string list takes them: a break is CR LF, CR or LF, a final
// break adds no empty line. A NUL byte ends the text: no file name can hold one.
std::vector<std::string> Linhas(const std::string& text) {
  std::vector<std::string> lines;
  const std::string whole = text.substr(0, text.find('\0'));
  std::size_t start = 0;
  while (start < whole.size()) {
    const std::size_t end = whole.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(whole.substr(start));
      break;
    }
    lines.push_back(whole.substr(start, end - start));
    start = end + 1;
    if (whole[end] == '\r' && start < whole.size() && whole[start] == '\n') ++start;
  }
  return lines;
}

// "name=stamp": the name before the first "=", the value after it; a line without "=" has
// neither.
std::pair<std::string, std::string> NomeEValor(const std::string& line) {
  const std::size_t eq = line.find('=');
  if (eq == std::string::npos) return {};
  return {line.substr(0, eq), line.substr(eq + 1)};
}

// The server's file name cut before its first ".ZIP" (any case); empty when it holds none.
std::string NomeLocal(const std::string& server_name) {
  const std::size_t zip = jov::cp1252::UpperAscii(server_name).find(".ZIP");
  return zip == std::string::npos ? std::string() : server_name.substr(0, zip);
}

// A list as text: each line followed by CR LF.
std::string ComoTexto(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// Examines one reply's file list in order, appending the files whose server copy is later
// than the local one. A bad stamp (or any other failure) ends this list silently; what was
// appended stays.
void ExaminaLista(const ExeUpdateSeams& s, const std::string& list, const std::string& program_dir,
                  std::vector<std::string>& downloads, std::vector<std::string>& server_lines) {
  try {
    for (const std::string& line : Linhas(list)) {
      const auto [name, stamp] = NomeEValor(line);
      const std::string local = NomeLocal(name);
      if (!IsAcceptedLocalName(local)) continue;
      const jov::DateTime server = DecodeStamp(stamp);
      const std::string path = program_dir + local;
      const jov::DateTime client = s.files.FileExists(path)
                                       ? s.files.LastWriteTime(path).value_or(jov::DateTime{})
                                       : jov::DateTime{};
      s.log("Analisando arquivo:");
      s.log(" ---- Nome : " + path);
      s.log(" ---- Data arquivo server:" + jov::FormatDateTime(server));
      s.log(" ---- Data arquivo client:" + jov::FormatDateTime(client));
      if (server > client) {
        downloads.push_back(path);
        server_lines.push_back(line);
        s.log(" ---- Situacao: Será realizado o download do Arquivo"_w);
      }
    }
  } catch (const std::exception&) {
    // the rest of this reply is ignored
  }
}

// Installs one downloaded file over the program directory's copy, ending its processes first.
void Instala(const ExeUpdateSeams& s, const std::string& entry, const std::string& program_dir) {
  const std::string local = jov::FileNameOf(entry);
  s.log(kDetalhe + "Download realizado com sucesso do arquivo " + entry);
  jov::TerminateProcesses(s.processes, local);
  // Ending is only requested: one still listed is asked once more.
  if (jov::IsProcessRunning(s.processes, local)) jov::TerminateProcesses(s.processes, local);
  const std::string from = s.library.WorkingDirectory() + local;
  const std::string to = program_dir + local;
  try {
    s.files.ReplaceFile(from, to);
  } catch (const jov::IoError&) {
    // A failed copy leaves the old file whole; like the copy's result, it is not reported.
  }
  s.log("copyFile(Pchar(" + from + "), Pchar(" + to + "),false)");
  if (jov::cp1252::EqualsIgnoringAsciiCase(local, "JovService.exe")) {
    s.programs.ShellExecute("cmd.exe", "/C net start JovService");
  }
  s.log(" ");
}

}  // namespace

VersionReply SplitVersionReply(const std::string& reply) {
  VersionReply parts;
  std::string rest = reply;
  const std::size_t crlf = rest.find("\r\n");
  if (crlf != std::string::npos) parts.source = rest.substr(0, crlf);
  rest.erase(0, crlf == std::string::npos ? 1 : crlf + 2);
  const std::size_t amp = rest.find('&');
  if (amp != std::string::npos) {
    parts.list = rest.substr(0, amp);
    rest.erase(0, amp + 1);
  }
  parts.flag = rest.empty() ? "0" : rest;
  return parts;
}

jov::DateTime DecodeStamp(const std::string& stamp) {
  const auto invalid = [&] { return jov::Error("'" + stamp + "' is not a valid time stamp"); };
  if (stamp.size() < 14) throw invalid();
  const auto number = [&](std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
      if (stamp[i] < '0' || stamp[i] > '9') throw invalid();
      value = value * 10 + (stamp[i] - '0');
    }
    return value;
  };
  const jov::DateTime t{
      number(0, 4), number(4, 2), number(6, 2), number(8, 2), number(10, 2), number(12, 2), 0};
  const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
  constexpr int kDias[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > kDias[t.month - 1] + (t.month == 2 && leap ? 1 : 0) || t.hour > 23 || t.minute > 59 ||
      t.second > 59) {
    throw invalid();
  }
  return t;
}

bool IsAcceptedLocalName(const std::string& local_name) {
  // Never a path: an update writes only into the program directory.
  if (local_name.find_first_of("/\\") != std::string::npos ||
      local_name.find("..") != std::string::npos) {
    return false;
  }
  const std::string upper = jov::cp1252::UpperAscii(local_name);
  for (const char* prefix : kPrefixosAceitos) {
    if (upper.starts_with(prefix)) return true;
  }
  return false;
}

void UpdateExecutables(const ExeUpdateSeams& s, const std::vector<std::string>& names,
                       const std::string& program_dir, const std::string& question) {
  s.log("Conexão Lum "_w);
  try {
    s.connection.SetConnected(true);
  } catch (const std::exception&) {
    s.log("Falha na conexão Lum"_w);
    return;
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
    } catch (const std::exception&) {
      // The query is made once; the error's own text is not logged.
      s.log("Finalizada - 3 tentativas de busca na Lum ");
    }
    if (RespostaDeErro(reply)) {
      // An error reply carries no files and leaves the kept source and flag as they were.
      s.log("Except função GetFileVersion da Lum"_w);
      s.log("Finalizada - 3 tentativas de busca na Lum ");
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
  if (downloads.empty()) return;
  if (flag != "0" && !s.dialogs.Confirm(question)) return;

  std::size_t current = 0;  // the entry a failure is reported for
  try {
    bool done = false;
    s.log(kDetalhe + "GetExeFile(" + ComoTexto(downloads) + ", " + ComoTexto(server_lines) + ", " +
          source + ", " + "False" + ")");
    s.downloads.GetExeFile(downloads, server_lines, source, done);
    for (; current < downloads.size(); ++current) Instala(s, downloads[current], program_dir);
  } catch (const std::exception& error) {
    s.log(kDetalhe + "Falha no download do arquivo " + downloads[current]);
    // A refused signature says why, for support staff.
    if (dynamic_cast<const jov::SignatureError*>(&error) != nullptr) s.log(kDetalhe + error.what());
  }
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
  } catch (const std::exception&) {
    log("Falha na conexão "_w);
  }
  if (RespostaDeErro(reply)) {
    // An error reply stores nothing.
    log("Except função GetFileVersion da Lum"_w);
    log("Falha na conexão "_w);
    return std::nullopt;
  }
  if (reply.empty()) {
    log("Arquivo nao encontrado no servidor");
    return std::nullopt;
  }
  jov::DateTime stamp;
  try {
    for (const std::string& line : Linhas(SplitVersionReply(reply).list)) {
      stamp = DecodeStamp(NomeEValor(line).second);
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
  UpdateExecutables(seams, arquivosExe, program_dir, msgPadrao->Msg("ExeUpdate"));
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
