// The reference application server's module "lum.rdmAtualizaEstrutura" and its file downloads.
#pragma once

#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace appserver {

namespace fleet {
class Store;
}

inline constexpr const char* kServerName = "lum.rdmAtualizaEstrutura";

struct Options {
  std::string bind = "127.0.0.1";
  int port = 8211;
  std::string updates;        // folder of the zip archives offered for download
  bool ask = false;           // the question flag of the version replies
  std::string http_settings;  // data packet answered to GetDadosHttp; may be missing
  std::string source_url;     // download source; empty: this server's /files/ URL
  std::string signing_key;    // PEM Ed25519 private key; set: the server signs its archives
  std::shared_ptr<fleet::Store> fleet;  // where "ReportUpdate" keeps the reports; may be null
  std::string fleet_token;  // the token of GET /fleet and /fleet.json; empty: always 403
  int workers = 512;        // threads serving connections, one each while it is open
};

// Windows-1252 texts in, Windows-1252 texts out.
// "&Name": the server's archive of that name, "<source>\r\n<file>=<stamp>\r\n...&<flag>",
// listing each regular file (no link) named "<Name>.zip" in any letter case and nothing that
// merely begins so ("JovTab.exe.zip.bak"); empty when there is none; an "EXCEPT" reply for a
// name holding "/", "\" or "..".
std::string FileVersionReply(const Options& options, const std::string& argument,
                             const std::string& source);
// The packet in options.http_settings, or a packet of the seven fields without a row when
// the file does not exist; an "EXCEPT" reply when it cannot be read.
std::string HttpSettingsReply(const Options& options);

// A name the server accepts as a file of the updates folder: not empty, no "/", "\" or "..".
bool SafeFileName(const std::string& name);
// A name /files/ serves: a safe name of an archive ("*.zip", any case) or of its ".sig".
bool ServedFileName(const std::string& name);

// Installs the routes and the one-line-per-request log on the server; port is the port the
// server is bound to (for the default download source). "<files URL><name>.sig" is the
// signature text of archive <name>: made here with options.signing_key when set (once per
// archive version), otherwise a ".sig" file that lies beside the archive. Only regular files
// that lie directly in the updates folder are served, never through a link, and a request
// with more than one range is refused (416). Throws jov::Error when the signing key cannot be
// used or lies inside the updates folder.
void Install(httplib::Server& server, const Options& options, int port);

}  // namespace appserver
