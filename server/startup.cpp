#include "server/startup.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>

#include "platform/base64.h"
#include "platform/database_qt.h"
#include "platform/file_text.h"
#include "server/fleet/fleet_store.h"
#include "server/rollout/rollouts.h"
#include "server/sign/signing.h"

namespace appserver {
namespace {

bool ParseNumber(const char* text, long low, long high, int& number) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < low || value > high) return false;
  number = static_cast<int>(value);
  return true;
}

std::string StateFolder() {
  const char* state = std::getenv("STATE_DIRECTORY");  // systemd's StateDirectory=
  if (state != nullptr && *state != '\0')
    return std::string(state).substr(0, std::strcspn(state, ":"));
  return "/var/lib/jov-appserver";
}

}  // namespace

std::optional<StartOptions> ParseCommandLine(int argc, char** argv, std::string& why) {
  StartOptions start;
  Options& options = start.options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    const auto number = [&](long low, long high, int& value, const char* what) {
      if (ParseNumber(argv[++i], low, high, value)) return true;
      why = what;
      return false;
    };
    if (arg == "--ask") {
      options.ask = true;
    } else if (arg == "--bind" && has_value) {
      options.bind = argv[++i];
    } else if (arg == "--port" && has_value) {
      if (!number(0, 65535, options.port, "bad port")) return std::nullopt;
    } else if (arg == "--updates" && has_value) {
      options.updates = argv[++i];
    } else if (arg == "--http-settings" && has_value) {
      options.http_settings = argv[++i];
    } else if (arg == "--source-url" && has_value) {
      options.source_url = argv[++i];
    } else if (arg == "--signing-key" && has_value) {
      options.signing_key = argv[++i];
    } else if (arg == "--fleet-db" && has_value) {
      start.fleet_db = argv[++i];
      if (start.fleet_db.empty()) {
        why = "--fleet-db is empty";
        return std::nullopt;
      }
    } else if (arg == "--fleet-token" && has_value) {
      start.token_file = argv[++i];
    } else if (arg == "--fleet-keys" && has_value) {
      start.keys_file = argv[++i];
    } else if (arg == "--max-registers" && has_value) {
      if (!number(1, 10000000, start.store.max_registers, "bad --max-registers")) {
        return std::nullopt;
      }
    } else if (arg == "--report-interval" && has_value) {
      if (!number(0, 86400, start.store.report_interval, "bad --report-interval")) {
        return std::nullopt;
      }
    } else if (arg == "--threads" && has_value) {
      if (!number(1, 256, start.threads, "bad number of threads")) return std::nullopt;
    } else if (arg == "--handler-threads" && has_value) {
      if (!number(1, 1024, start.limits.handler_threads, "bad number of handler threads")) {
        return std::nullopt;
      }
    } else if (arg == "--max-per-address" && has_value) {
      if (!number(1, 1000000, start.limits.max_per_address, "bad --max-per-address")) {
        return std::nullopt;
      }
    } else if (arg == "--max-connections" && has_value) {
      if (!number(1, 1000000, start.limits.max_connections, "bad --max-connections")) {
        return std::nullopt;
      }
    } else {
      why = "unknown or incomplete option " + arg;
      return std::nullopt;
    }
  }
  if (options.updates.empty()) {
    why = "--updates is required";
    return std::nullopt;
  }
  return start;
}

std::string ReadToken(const std::string& path, std::string& why) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    why = "group or others may read it (chmod 600 it)";
    return {};
  }
  jov::FileText file = jov::ReadFileText(path, 4096);
  if (file.error != 0 || file.too_large) {
    why = file.error != 0 ? std::strerror(file.error) : "larger than 4 KiB";
    return {};
  }
  const std::string blanks = " \t\r\n";
  const auto first = file.text.find_first_not_of(blanks);
  if (first == std::string::npos) {
    why = "it holds no token";
    return {};
  }
  std::string token = file.text.substr(first, file.text.find_last_not_of(blanks) - first + 1);
  if (token.size() < kMinTokenChars) {
    why = "the token is shorter than " + std::to_string(kMinTokenChars) +
          " characters (openssl rand -hex 16 makes one)";
    return {};
  }
  return token;
}

std::optional<std::map<std::string, std::string>> ReadFleetKeys(const std::string& path,
                                                                std::string& why) {
  jov::FileText file = jov::ReadFileText(path, 16u << 20);
  if (file.error != 0 || file.too_large) {
    why = file.error != 0 ? std::strerror(file.error) : "larger than 16 MiB";
    return std::nullopt;
  }
  std::map<std::string, std::string> keys;
  std::size_t start = 0;
  for (int number = 1; start < file.text.size(); ++number) {
    std::size_t end = file.text.find('\n', start);
    if (end == std::string::npos) end = file.text.size();
    std::string line = file.text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    const std::size_t blank = line.find(' ');
    const std::string name = line.substr(0, blank);
    const std::size_t slash = name.find('/');
    const std::string key = blank == std::string::npos ? "" : line.substr(blank + 1);
    const std::optional<std::string> raw = jov::base64::Decode(key);
    if (slash == 0 || slash == std::string::npos || slash + 1 == name.size() ||
        name.find('/', slash + 1) != std::string::npos || !raw || raw->size() != 32) {
      why = "line " + std::to_string(number) + " is not \"FILIAL/CAIXA KEY\"";
      return std::nullopt;
    }
    keys[name] = key;
  }
  return keys;
}

namespace {

// The rollouts in the fleet's database; null, with the cause in log, when they cannot be opened.
std::shared_ptr<rollout::Rollouts> OpenRollouts(
    const StartOptions& start, const std::string& connection_string,
    const std::function<void(const std::string&)>& log) {
  rollout::Settings settings;
  settings.connection_string = connection_string;
  settings.updates = start.options.updates;
  settings.now = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
  settings.log = log;
  try {
    if (!start.options.signing_key.empty()) {
      settings.key = std::make_shared<const jov::sign::SigningKey>(
          jov::sign::SigningKey::Load(start.options.signing_key));
    }
    return std::make_shared<rollout::Rollouts>(std::move(settings));
  } catch (const std::exception& error) {
    log("cannot open the rollouts: " + std::string(error.what()));
    return nullptr;
  }
}

}  // namespace

std::string OpenFleet(StartOptions& start, const std::function<void(const std::string&)>& log) {
  std::string fleet_db = start.fleet_db;
  const bool asked = !fleet_db.empty();
  if (!asked) {
    struct stat st {};
    const std::string folder = StateFolder();
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      return "fleet: not kept (no --fleet-db and no state folder " + folder + ")";
    }
    fleet_db = folder + "/fleet.db";
  }
  const std::string connection_string = fleet::ConnectionString(fleet_db);
  // The store tells the rollouts, once they are open, of what it keeps; it holds them as long
  // as its thread may still call them. They are open before the first request is taken.
  const auto rollouts = std::make_shared<std::shared_ptr<rollout::Rollouts>>();
  try {
    fleet::StoreSettings settings = start.store;
    settings.on_report = [rollouts](const jov::protocol::Report& report, bool verified) {
      if (*rollouts) (*rollouts)->Observe(report, verified);
    };
    settings.on_health = [rollouts](const jov::protocol::HealthEvent& event, bool verified) {
      if (*rollouts) (*rollouts)->Observe(event, verified);
    };
    start.options.fleet = std::make_shared<fleet::Store>(connection_string, log, settings);
  } catch (const std::exception& error) {
    log("cannot open the fleet store: " + std::string(error.what()));
    // A fleet store asked for must work; the default one only serves when it can, so that a
    // state folder this user cannot write does not keep the registers' calls from being
    // answered.
    if (asked) return {};
    return "fleet: not kept (" + fleet_db + " cannot be opened)";
  }
  start.options.rollouts = OpenRollouts(start, connection_string, log);
  if (!start.options.rollouts) return {};
  *rollouts = start.options.rollouts;
  const auto parts = jov::ParseConnectionString(connection_string);
  const auto source = parts.find("DATA SOURCE");
  return "fleet: " + (source == parts.end() ? std::string() : source->second);
}

}  // namespace appserver
