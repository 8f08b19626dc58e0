#include "clientlib/client_ini.h"

#include <cerrno>
#include <charconv>
#include <fstream>
#include <optional>
#include <string>
#include <type_traits>

#include "platform/base64.h"
#include "platform/cp1252.h"
#include "platform/system_text.h"

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

// A value from the file as a log line shows it: control characters replaced, at most 200.
std::string Shown(const std::string& text) {
  std::string shown = text.substr(0, 200);
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return shown;
}

std::string Rejected(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& why, const std::string& kept) {
  return "clientlib.ini: ["_w + Shown(section) + "] " + Shown(key) + "=" + Shown(value) +
         " rejeitado ("_w + why + "); vale "_w + kept;
}

// The whole value as a number from low to high; nothing for anything else.
std::optional<std::int64_t> NumberIn(const std::string& value, std::int64_t low,
                                     std::int64_t high) {
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (error != std::errc{} || end != value.data() + value.size() || number < low || number > high) {
    return std::nullopt;
  }
  return number;
}

}  // namespace

ClientIni ReadClientIni(const std::string& path, const std::string& program_dir) {
  ClientIni ini;
  ini.working_directory = Absolute(ini.working_directory, program_dir);
  std::ifstream in(path, std::ios::binary);
  if (const int error = errno; !in && error != ENOENT) {
    ini.problems.push_back("clientlib.ini: "_w + Shown(path) + " não pôde ser lido ("_w +
                           SystemErrorText(error) + "); valem os valores padrão"_w);
  }
  std::string section;
  std::string section_text;
  std::string line;
  while (in && std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      section_text = Trim(line.substr(1, line.find(']') - 1));
      section = cp1252::LowerAscii(section_text);
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos) {
      ini.problems.push_back("clientlib.ini: linha sem \"=\" ignorada: "_w + Shown(line));
      continue;
    }
    const std::string key_text = Trim(line.substr(0, eq));
    const std::string key = cp1252::LowerAscii(key_text);
    const std::string value = Trim(line.substr(eq + 1));
    // The value as a number from low to high into field; anything else leaves the field as it
    // was, with a problem saying why.
    const auto number = [&](auto& field, std::int64_t low, std::int64_t high) {
      if (const std::optional<std::int64_t> n = NumberIn(value, low, high)) {
        field = static_cast<std::remove_reference_t<decltype(field)>>(*n);
      } else {
        ini.problems.push_back(
            Rejected(section_text, key_text, value,
                     "não é um número de "_w + std::to_string(low) + " a " + std::to_string(high),
                     std::to_string(field)));
      }
    };
    if (section == "server" && key == "host") {
      ini.host = value;
    } else if (section == "server" && key == "port") {
      number(ini.port, 1, 65535);
    } else if (section == "server" && key == "proxy") {
      ini.proxy = value;
    } else if (section == "paths" && key == "workingdirectory") {
      ini.working_directory = Absolute(value, program_dir);
    } else if (section == "paths" && key == "drivec") {
      ini.drive_c = Absolute(value, program_dir);
    } else if (section == "database" && key == "connectionstring") {
      ini.connection_string = value;
    } else if (section == "update" && key == "maxdownloadmb") {
      number(ini.max_download_mb, 1, 1048576);  // up to 1 TiB: the limit in bytes cannot overflow
    } else if (section == "update" && key == "maxkbps") {
      number(ini.max_kbps, 0, 1048576);
    } else if (section == "update" && key == "publickey") {
      // Kept as written: a wrong key then refuses every archive, as a wrong signature does.
      ini.public_key = value;
      const auto key_bytes = base64::Decode(value);
      if (!value.empty() && (!key_bytes || key_bytes->size() != 32)) {
        ini.problems.push_back("clientlib.ini: ["_w + Shown(section_text) + "] " + Shown(key_text) +
                               " não é a base64 de 32 bytes; nenhum arquivo será instalado"_w);
      }
    } else {
      ini.problems.push_back("clientlib.ini: chave desconhecida ignorada: ["_w +
                             Shown(section_text) + "] " + Shown(key_text));
    }
  }
  for (std::string* folder : {&ini.working_directory, &ini.drive_c}) {
    if (folder->empty() || folder->back() != '/') *folder += '/';
  }
  return ini;
}

}  // namespace jov
