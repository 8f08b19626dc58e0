#include "clientlib/client_ini.h"

#include <charconv>
#include <fstream>
#include <string>

#include "platform/cp1252.h"
#include "platform/host_path.h"
#include "platform/host_path_linux.h"

namespace jov {
namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string Absolute(const std::string& path, const std::string& program_dir) {
  if (path.empty() || path.front() == '/') return path;
  return program_dir + "/" + path;
}

}  // namespace

ClientIni ReadClientIni(const std::string& path, const std::string& program_dir) {
  ClientIni ini;
  ini.working_directory = Absolute(ini.working_directory, program_dir);
  std::ifstream in(path, std::ios::binary);
  std::string section;
  std::string line;
  while (in && std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      section = cp1252::LowerAscii(Trim(line.substr(1, line.find(']') - 1)));
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = cp1252::LowerAscii(Trim(line.substr(0, eq)));
    const std::string value = Trim(line.substr(eq + 1));
    if (section == "server" && key == "host") {
      ini.host = value;
    } else if (section == "server" && key == "port") {
      try {
        ini.port = std::stoi(value);
      } catch (...) {
        // an unreadable port keeps the default
      }
    } else if (section == "server" && key == "proxy") {
      ini.proxy = value;
    } else if (section == "paths" && key == "workingdirectory") {
      ini.working_directory = Absolute(value, program_dir);
    } else if (section == "paths" && key == "drivec") {
      ini.drive_c = Absolute(value, program_dir);
    } else if (section == "database" && key == "connectionstring") {
      ini.connection_string = value;
    } else if (section == "update" && key == "maxdownloadmb") {
      std::int64_t mb = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), mb);
      // Up to 1 TiB, so that the limit in bytes cannot overflow.
      if (error == std::errc{} && end == value.data() + value.size() && mb >= 1 && mb <= 1048576) {
        ini.max_download_mb = mb;
      }
    } else if (section == "update" && key == "publickey") {
      ini.public_key = value;
    }
  }
  for (std::string* folder : {&ini.working_directory, &ini.drive_c}) {
    if (folder->empty() || folder->back() != '/') *folder += '/';
  }
  return ini;
}

namespace {
HostPath* routed_host = nullptr;
}  // namespace

HostPath& LibraryHostPath() {
  static HostPathLinux running;
  return routed_host != nullptr ? *routed_host : running;
}

HostPath* UseHostPath(HostPath* host) {
  HostPath* before = routed_host;
  routed_host = host;
  return before;
}

std::string ProgramDirectory() { return DirectoryOf(LibraryHostPath().ExecutablePath()); }

ClientIni CurrentClientIni() {
  const std::string dir = ProgramDirectory();
  return ReadClientIni(dir + "/clientlib.ini", dir);
}

}  // namespace jov
