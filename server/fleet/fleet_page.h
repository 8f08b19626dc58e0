// The fleet as people and programs see it: GET /fleet (one HTML page) and GET /fleet.json,
// a page of registers at a time.
#pragma once

#include <cstdint>
#include <string>

#include "server/fleet/fleet_store.h"

namespace appserver::fleet {

inline constexpr std::size_t kShownHostBytes = 64;
inline constexpr std::size_t kShownReasonBytes = 600;

// A register's program is behind when its stamp (its first 14 digits, as in the version
// reply) is older than the newest archive of that program.
bool Behind(const Newest& newest, const std::string& name, const std::string& stamp);

// {"registers": [{"filial", "caixa", "host", "last_seen", "launcher", "outcome", "reason",
// "files": {"<name>": "<stamp>"}, "verified", "health": [...]}], "page", "pages", "matching",
// "total"}; last_seen is the server's time of the last report; page counts from 1.
std::string FleetJson(const Snapshot& snapshot);

// What the page carries beside the fleet.
struct PageParts {
  std::string rollouts_html;  // a section already escaped, placed after the summary
  std::string form_token;     // the anti-forgery token of the page's forms
  std::string nonce;          // the page's own script's (see its Content-Security-Policy)
  std::string token;          // the fleet token when it came in the address; links carry it
  View view;                  // what was asked for, for the links to other pages
};

// The page, in Portuguese: the summary line, the rollouts' section, the filter and one row
// per register of the snapshot (its programs' versions, latest health events and trust, with
// forms to accept a new register or key); sortable by a click on a column's head with its own
// script. Every text from a report is escaped. now is the server's clock in seconds since 1970.
// The text for an HTML page, inside an element or a quoted attribute: markup characters
// escaped, control characters as blanks.
std::string HtmlEscape(const std::string& text);

std::string FleetHtml(const Snapshot& snapshot, const Newest& newest, std::int64_t now,
                      const PageParts& parts);

}  // namespace appserver::fleet
