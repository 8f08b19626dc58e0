#include "server/fleet/fleet_page.h"

#include <ctime>
#include <set>

#include "platform/cp1252.h"

namespace appserver::fleet {
namespace {

using nlohmann::json;

constexpr std::int64_t kNotSeen = 3 * 24 * 3600;

std::string Field(const json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::string Reason(const json& report) {
  const auto failure = report.find("failure");
  if (failure == report.end() || !failure->is_object()) return {};
  const std::string file = Field(*failure, "file");
  const std::string reason = Field(*failure, "reason");
  // A register's reason line names its file already.
  return file.empty() || reason.starts_with(file + ": ") ? reason : file + ": " + reason;
}

std::string Digits(const std::string& stamp) {
  std::string digits;
  for (const char c : stamp) {
    if (c >= '0' && c <= '9' && digits.size() < 14) digits += c;
  }
  return digits;
}

std::string Utc(std::int64_t when) {
  const auto seconds = static_cast<time_t>(when);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        // Control characters would only garble the page.
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
  }
  return out;
}

// The register's programs, by name, with their stamps.
std::map<std::string, std::string> Files(const json& report) {
  std::map<std::string, std::string> files;
  const auto list = report.find("files");
  if (list == report.end() || !list->is_array()) return files;
  for (const json& file : *list) {
    if (file.is_object()) files[Field(file, "name")] = Field(file, "stamp");
  }
  return files;
}

int BehindCount(const Newest& newest, const json& report) {
  int behind = 0;
  for (const auto& [name, stamp] : Files(report)) behind += Behind(newest, name, stamp) ? 1 : 0;
  return behind;
}

constexpr const char* kStyle = R"(
body{font-family:sans-serif;margin:1em;color:#222;background:#fff}
h1{font-size:1.3em;margin:0 0 .4em}
#summary{font-weight:bold;margin:.4em 0}
.wrap{overflow-x:auto}
table{border-collapse:collapse;font-size:.9em;width:100%}
th,td{border-bottom:1px solid #ccc;padding:.35em .5em;text-align:left;vertical-align:top}
th{cursor:pointer;background:#eee;white-space:nowrap;user-select:none}
th[aria-sort=ascending]::after{content:" \25B2"}
th[aria-sort=descending]::after{content:" \25BC"}
td.failed{color:#b00020;font-weight:bold}
.reason{display:block;font-weight:normal;min-width:16em}
ul{margin:0;padding:0;list-style:none}
td.when{white-space:nowrap}
li{min-width:14em}
li.behind{color:#b00020;font-weight:bold}
tr.unseen td{color:#777}
select{font-size:1em}
[hidden]{display:none!important}
@media (max-width:640px){
table,tbody,tr,td{display:block}
thead tr{display:flex;flex-wrap:wrap}
th{flex:auto;border:1px solid #ddd}
tbody tr{border:1px solid #ccc;border-radius:6px;margin:.6em 0;padding:.3em}
td{border:none;padding:.15em .3em}
td::before{font-weight:bold;color:#555}
td:nth-child(1)::before{content:"Branch: "}
td:nth-child(2)::before{content:"Register: "}
td:nth-child(3)::before{content:"Host: "}
td:nth-child(4)::before{content:"Last start: "}
td:nth-child(5)::before{content:"Launcher: "}
td:nth-child(6)::before{content:"Outcome: "}
td:nth-child(7)::before{content:"Programs:"}
.reason{min-width:0}
}
)";

// Sorting by a click on a column head (again: the other way), the branch filter, and both
// taken from the address's "#branch=B&sort=N&desc" so that a view can be bookmarked.
constexpr const char* kScript = R"(
(function () {
  var table = document.getElementById('fleet'), body = table.tBodies[0];
  var heads = table.tHead.rows[0].cells, branch = document.getElementById('branch');
  function key(row, i) {
    var cell = row.cells[i];
    return cell.hasAttribute('data-sort') ? cell.getAttribute('data-sort') : cell.textContent;
  }
  function sort(i, ascending) {
    for (var j = 0; j < heads.length; j++) heads[j].removeAttribute('aria-sort');
    heads[i].setAttribute('aria-sort', ascending ? 'ascending' : 'descending');
    var rows = Array.prototype.slice.call(body.rows);
    rows.sort(function (a, b) {
      var r = key(a, i).localeCompare(key(b, i), undefined, {numeric: true});
      return ascending ? r : -r;
    });
    rows.forEach(function (row) { body.appendChild(row); });
  }
  function filter() {
    Array.prototype.forEach.call(body.rows, function (row) {
      row.hidden = branch.value !== '' && row.getAttribute('data-branch') !== branch.value;
    });
  }
  Array.prototype.forEach.call(heads, function (head, i) {
    head.addEventListener('click', function () {
      sort(i, head.getAttribute('aria-sort') !== 'ascending');
    });
  });
  branch.addEventListener('change', filter);
  var wanted = {};
  location.hash.replace(/^#/, '').split('&').forEach(function (part) {
    var eq = part.indexOf('=');
    if (part) wanted[decodeURIComponent(eq < 0 ? part : part.slice(0, eq))] =
        eq < 0 ? '' : decodeURIComponent(part.slice(eq + 1));
  });
  if ('branch' in wanted) { branch.value = wanted.branch; filter(); }
  var column = parseInt(wanted.sort, 10);
  if (column >= 0 && column < heads.length) sort(column, !('desc' in wanted));
})();
)";

}  // namespace

bool Behind(const Newest& newest, const std::string& name, const std::string& stamp) {
  const auto found = newest.find(jov::cp1252::UpperAscii(name));
  if (found == newest.end()) return false;
  const std::string have = Digits(stamp);
  return have.size() != 14 || have < found->second;
}

std::string FleetJson(const Snapshot& snapshot) {
  json registers = json::array();
  for (const Register& r : snapshot.registers) {
    json files = json::object();
    for (const auto& [name, stamp] : Files(r.report)) files[name] = stamp;
    const std::string reason = Reason(r.report);
    registers.push_back({{"filial", r.filial},
                         {"caixa", r.caixa},
                         {"host", Field(r.report, "host")},
                         {"last_seen", Utc(r.received)},
                         {"launcher", Field(r.report, "launcher")},
                         {"outcome", Field(r.report, "outcome")},
                         {"reason", reason.empty() ? json(nullptr) : json(reason)},
                         {"files", files}});
  }
  return json{{"registers", registers}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string FleetHtml(const Snapshot& snapshot, const Newest& newest, std::int64_t now) {
  int current = 0;
  int unseen = 0;
  std::set<std::string> branches;
  std::string rows;
  for (const Register& r : snapshot.registers) {
    const int behind = BehindCount(newest, r.report);
    if (behind == 0) ++current;
    const bool old = now - r.received > kNotSeen;
    if (old) ++unseen;
    branches.insert(r.filial);
    const std::string outcome = Field(r.report, "outcome");
    rows += "<tr data-branch=\"" + Escape(r.filial) + "\"" + (old ? " class=\"unseen\"" : "") +
            "><td>" + Escape(r.filial) + "</td><td>" + Escape(r.caixa) + "</td><td>" +
            Escape(Field(r.report, "host")) + "</td><td data-sort=\"" + std::to_string(r.received) +
            "\" class=\"when\" title=\"received " + Utc(r.received) + "\">" +
            Escape(Field(r.report, "started")) + "</td><td>" + Escape(Field(r.report, "launcher")) +
            "</td><td class=\"" + Escape(outcome) + "\">" + Escape(outcome);
    const std::string reason = Reason(r.report);
    if (!reason.empty()) rows += "<span class=\"reason\">" + Escape(reason) + "</span>";
    rows += "</td><td data-sort=\"" + std::to_string(behind) + "\"><ul>";
    for (const auto& [name, stamp] : Files(r.report)) {
      const bool late = Behind(newest, name, stamp);
      rows +=
          std::string(late ? "<li class=\"behind\">" : "<li>") + Escape(name) + " " + Escape(stamp);
      if (late) {
        rows += " &mdash; behind " + Escape(newest.at(jov::cp1252::UpperAscii(name)));
      }
      rows += "</li>";
    }
    rows += "</ul></td></tr>\n";
  }
  const std::string summary =
      std::to_string(snapshot.registers.size()) + " registers, " + std::to_string(current) +
      " on the newest version of every program, " + std::to_string(snapshot.failed_last_day) +
      " failed in the last 24 hours, " + std::to_string(unseen) + " not seen for 3 days";
  std::string options = "<option value=\"\">all</option>";
  for (const std::string& branch : branches) {
    options += "<option value=\"" + Escape(branch) + "\">" + Escape(branch) + "</option>";
  }
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>Fleet</title><style>" +
      std::string(kStyle) + "</style></head><body>\n<h1>Fleet</h1>\n<p id=\"summary\">" + summary +
      "</p>\n<p><label for=\"branch\">Branch</label> <select id=\"branch\">" + options +
      "</select></p>\n<div class=\"wrap\"><table id=\"fleet\"><thead><tr><th>Branch</th>"
      "<th>Register</th><th>Host</th><th>Last start</th><th>Launcher</th><th>Outcome</th>"
      "<th>Programs</th></tr></thead><tbody>\n" +
      rows + "</tbody></table></div>\n<script>" + kScript + "</script>\n</body></html>\n";
  return page;
}

}  // namespace appserver::fleet
