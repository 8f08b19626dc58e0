// clientlib.ini: the client library's settings file in the program directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jov {

struct ClientIni {
  std::string host = "127.0.0.1";
  int port = 8211;
  // [Server] Proxy: libcurl's proxy syntax (http://proxy.loja:3128); empty for none, whatever
  // the environment says.
  std::string proxy;
  std::string working_directory = "/var/lib/jov/work/";  // always ends with "/"
  std::string drive_c = "/";                             // always ends with "/"
  std::string connection_string = "Provider=QSQLITE;Data Source=/var/lib/jov/caixa.db";
  // [Update]: the largest program archive a download accepts, in MiB (a value that is not a
  // whole number from 1 to 1048576 keeps the default), and the base64 Ed25519 key that every
  // archive's signature must match (empty: archives are not signed).
  std::int64_t max_download_mb = 512;
  std::string public_key;
  // [Update] MaxKBps: the fastest a download may come, in KiB per second (a value that is not a
  // whole number from 0 to 1048576 keeps the default); 0: no cap.
  std::int64_t max_kbps = 0;
  // What the reader had to reject or leave out, one log line each (Windows-1252): a file it
  // could not read, a value it replaced by the default, a key or line it does not know.
  std::vector<std::string> problems;
};

// Reads the file; a missing file or key keeps the default, a relative path is taken from
// program_dir. Never throws.
ClientIni ReadClientIni(const std::string& path, const std::string& program_dir);

}  // namespace jov
