// The fleet as people and programs see it: GET /fleet (one HTML page) and GET /fleet.json.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "server/fleet/fleet_store.h"

namespace appserver::fleet {

// The newest archive stamp ("YYYYMMDDHHMMSS") of each program the server offers, by the
// program's name upper-cased ("JOVTAB.EXE" for "JovTab.exe.zip").
using Newest = std::map<std::string, std::string>;

// A register's program is behind when its stamp (its first 14 digits, as in the version
// reply) is older than the newest archive of that program.
bool Behind(const Newest& newest, const std::string& name, const std::string& stamp);

// {"registers": [{"filial", "caixa", "host", "last_seen", "launcher", "outcome", "reason",
// "files": {"<name>": "<stamp>"}}]}; last_seen is the server's time of the last report.
std::string FleetJson(const Snapshot& snapshot);

// The page: the summary line, then one row per register; sortable by a click on a column's
// head and filtered by branch with its own inline script. Every text from a report is
// escaped. now is the server's clock in seconds since 1970.
std::string FleetHtml(const Snapshot& snapshot, const Newest& newest, std::int64_t now);

}  // namespace appserver::fleet
