#include "server/fleet/fleet_page.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>
#include <optional>

#include "platform/cp1252.h"

namespace appserver::fleet {
namespace {

using nlohmann::json;

std::string Field(const json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// text cut to at most max bytes without cutting a UTF-8 character in two.
std::string Cut(const std::string& text, std::size_t max) {
  if (text.size() <= max) return text;
  std::size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string Reason(const json& report) {
  const auto failure = report.find("failure");
  if (failure == report.end() || !failure->is_object()) return {};
  const std::string file = Field(*failure, "file");
  const std::string reason = Field(*failure, "reason");
  // A register's reason line names its file already.
  return Cut(file.empty() || reason.starts_with(file + ": ") ? reason : file + ": " + reason,
             kShownReasonBytes);
}

std::string Host(const json& report) { return Cut(Field(report, "host"), kShownHostBytes); }

std::string Utc(std::int64_t when) {
  const auto seconds = static_cast<time_t>(when);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// A query parameter's value.
std::string UrlEncode(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 || c == '-' || c == '_' || c == '.' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

// The register's programs, by name, with their stamps and releases.
struct Program {
  std::string stamp;
  std::optional<std::int64_t> version;
};
std::map<std::string, Program> Files(const json& report) {
  std::map<std::string, Program> files;
  const auto list = report.find("files");
  if (list == report.end() || !list->is_array()) return files;
  for (const json& file : *list) {
    if (!file.is_object()) continue;
    Program& program = files[Field(file, "name")];
    program.stamp = Field(file, "stamp");
    const auto version = file.find("version");
    if (version != file.end() && version->is_number_integer()) {
      program.version = version->get<std::int64_t>();
    }
  }
  return files;
}

int BehindCount(const Newest& newest, const json& report) {
  int behind = 0;
  for (const auto& [name, program] : Files(report)) {
    behind += Behind(newest, name, program.stamp) ? 1 : 0;
  }
  return behind;
}

// How a health event's program ended, in Portuguese.
std::string Ending(const json& event) {
  const auto signal = event.find("signal");
  if (signal != event.end() && signal->is_number_integer()) {
    return "sinal " + std::to_string(signal->get<int>());
  }
  const auto exit = event.find("exit");
  if (exit != event.end() && exit->is_number_integer()) {
    return "código de saída " + std::to_string(exit->get<int>());
  }
  return "?";
}

std::string Number(int n) { return std::to_string(n); }

// The outcome of a start as the page says it.
std::string OutcomeLabel(const std::string& outcome) {
  if (outcome == "nothing") return "nada a atualizar";
  if (outcome == "installed") return "instalou";
  if (outcome == "failed") return "falhou";
  return outcome;
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
tr.unverified{background:#fff4e5}
.trust{font-weight:bold}
tr.unverified .trust{color:#b00020}
.key{font-family:monospace;font-size:.85em;word-break:break-all}
form.inline{display:inline;margin:0}
nav{margin:.6em 0}
select,button{font-size:1em}
@media (max-width:640px){
table,tbody,tr,td{display:block}
thead tr{display:flex;flex-wrap:wrap}
th{flex:auto;border:1px solid #ddd}
tbody tr{border:1px solid #ccc;border-radius:6px;margin:.6em 0;padding:.3em}
td{border:none;padding:.15em .3em}
td::before{font-weight:bold;color:#555}
td:nth-child(1)::before{content:"Filial: "}
td:nth-child(2)::before{content:"Caixa: "}
td:nth-child(3)::before{content:"Host: "}
td:nth-child(4)::before{content:"Último início: "}
td:nth-child(5)::before{content:"Inicializador: "}
td:nth-child(6)::before{content:"Resultado: "}
td:nth-child(7)::before{content:"Programas:"}
td:nth-child(8)::before{content:"Saúde:"}
td:nth-child(9)::before{content:"Confiança: "}
.reason{min-width:0}
}
)";

// Sorting the page's rows by a click on a column head (again: the other way), taken from the
// address's "#sort=N&desc" so that a view can be bookmarked.
constexpr const char* kScript = R"(
(function () {
  var table = document.getElementById('fleet'), body = table.tBodies[0];
  var heads = table.tHead.rows[0].cells;
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
  Array.prototype.forEach.call(heads, function (head, i) {
    head.addEventListener('click', function () {
      sort(i, head.getAttribute('aria-sort') !== 'ascending');
    });
  });
  var wanted = {};
  location.hash.replace(/^#/, '').split('&').forEach(function (part) {
    var eq = part.indexOf('=');
    if (part) wanted[decodeURIComponent(eq < 0 ? part : part.slice(0, eq))] =
        eq < 0 ? '' : decodeURIComponent(part.slice(eq + 1));
  });
  var column = parseInt(wanted.sort, 10);
  if (column >= 0 && column < heads.length) sort(column, !('desc' in wanted));
})();
)";

// The address of another page of the same view.
std::string PageLink(const PageParts& parts, int page) {
  std::string query;
  const auto add = [&query](const std::string& name, const std::string& value) {
    query += (query.empty() ? "?" : "&amp;") + name + "=" + UrlEncode(value);
  };
  if (!parts.token.empty()) add("token", parts.token);
  if (!parts.view.branch.empty()) add("branch", parts.view.branch);
  if (parts.view.pending) add("pending", "1");
  add("page", std::to_string(page + 1));
  return "/fleet" + query;
}

// A form that posts to the fleet's keys: the fleet token in the address as the page came,
// the anti-forgery token hidden.
std::string AcceptForm(const PageParts& parts, const std::string& fields,
                       const std::string& button) {
  const std::string action =
      "/fleet/keys" + (parts.token.empty() ? "" : "?token=" + UrlEncode(parts.token));
  return "<form class=\"inline\" method=\"post\" action=\"" + HtmlEscape(action) +
         "\"><input type=\"hidden\" name=\"form_token\" value=\"" + HtmlEscape(parts.form_token) +
         "\">" + fields + "<button type=\"submit\">" + button + "</button></form>";
}

std::string Hidden(const std::string& name, const std::string& value) {
  return "<input type=\"hidden\" name=\"" + name + "\" value=\"" + HtmlEscape(value) + "\">";
}

std::string Row(const Register& r, const Newest& newest, std::int64_t now, const PageParts& parts) {
  const int behind = BehindCount(newest, r.report);
  const bool old = now - r.received > kNotSeenSeconds;
  std::string classes = std::string(old ? "unseen" : "") + (r.verified ? "" : " unverified");
  if (!classes.empty() && classes.front() == ' ') classes.erase(0, 1);
  const std::string outcome = Field(r.report, "outcome");
  std::string row = "<tr data-branch=\"" + HtmlEscape(r.filial) + "\"" +
                    (classes.empty() ? "" : " class=\"" + classes + "\"") + "><td>" +
                    HtmlEscape(r.filial) + "</td><td>" + HtmlEscape(r.caixa) + "</td><td>" +
                    HtmlEscape(Host(r.report)) + "</td><td data-sort=\"" +
                    std::to_string(r.received) + "\" class=\"when\" title=\"recebido em " +
                    Utc(r.received) + "\">" + HtmlEscape(Field(r.report, "started")) + "</td><td>" +
                    HtmlEscape(Field(r.report, "launcher")) + "</td><td class=\"" +
                    HtmlEscape(outcome) + "\">" + HtmlEscape(OutcomeLabel(outcome));
  const std::string reason = Reason(r.report);
  if (!reason.empty()) row += "<span class=\"reason\">" + HtmlEscape(reason) + "</span>";
  row += "</td><td data-sort=\"" + std::to_string(behind) + "\"><ul>";
  for (const auto& [name, program] : Files(r.report)) {
    const bool late = Behind(newest, name, program.stamp);
    row += std::string(late ? "<li class=\"behind\">" : "<li>") + HtmlEscape(name) + " " +
           HtmlEscape(program.stamp);
    if (program.version) row += " &middot; versão " + std::to_string(*program.version);
    if (late) {
      row += " &mdash; atrás de " + HtmlEscape(newest.at(jov::cp1252::UpperAscii(name)));
    }
    row += "</li>";
  }
  row += "</ul></td><td data-sort=\"" + std::to_string(r.health.size()) + "\"><ul>";
  for (const json& event : r.health) {
    const auto verified = event.find("verified");
    row += "<li>" + HtmlEscape(Field(event, "name")) + ": " + Ending(event) + ", " +
           HtmlEscape(Field(event, "at")) +
           (verified != event.end() && verified->is_boolean() && verified->get<bool>()
                ? ""
                : " (não verificado)") +
           "</li>";
  }
  row += "</ul></td><td><span class=\"trust\">" +
         std::string(r.verified ? "verificado" : "não verificado") + "</span>";
  const std::string which = Hidden("filial", r.filial) + Hidden("caixa", r.caixa);
  if (r.is_new) row += "<br>caixa novo " + AcceptForm(parts, which, "Aceitar caixa");
  if (!r.pending_key.empty()) {
    row += "<br>outra chave: <span class=\"key\">" + HtmlEscape(r.pending_key) + "</span> " +
           AcceptForm(parts, which, "Aceitar chave nova");
  }
  row += "</td></tr>\n";
  return row;
}

}  // namespace

bool Behind(const Newest& newest, const std::string& name, const std::string& stamp) {
  const auto found = newest.find(jov::cp1252::UpperAscii(name));
  if (found == newest.end()) return false;
  const std::string have = StampDigits(stamp);
  return have.size() != 14 || have < found->second;
}

std::string FleetJson(const Snapshot& snapshot) {
  json registers = json::array();
  for (const Register& r : snapshot.registers) {
    json files = json::object();
    for (const auto& [name, program] : Files(r.report)) files[name] = program.stamp;
    const std::string reason = Reason(r.report);
    registers.push_back({{"filial", r.filial},
                         {"caixa", r.caixa},
                         {"host", Host(r.report)},
                         {"last_seen", Utc(r.received)},
                         {"launcher", Field(r.report, "launcher")},
                         {"outcome", Field(r.report, "outcome")},
                         {"reason", reason.empty() ? json(nullptr) : json(reason)},
                         {"files", files},
                         {"verified", r.verified},
                         {"health", r.health}});
  }
  const int pages = std::max(1, (snapshot.matching + kPageRows - 1) / kPageRows);
  return json{{"registers", registers},
              {"page", snapshot.page + 1},
              {"pages", pages},
              {"matching", snapshot.matching},
              {"total", snapshot.total}}
      .dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string FleetHtml(const Snapshot& snapshot, const Newest& newest, std::int64_t now,
                      const PageParts& parts) {
  std::string rows;
  for (const Register& r : snapshot.registers) rows += Row(r, newest, now, parts);
  std::string summary = Number(snapshot.total) + " caixas, " + Number(snapshot.current) +
                        " na versão mais nova de todos os programas, " +
                        Number(snapshot.failed_last_day) + " com falha nas últimas 24 horas, " +
                        Number(snapshot.unseen) + " sem contato há 3 dias";
  if (snapshot.pending > 0) summary += ", " + Number(snapshot.pending) + " aguardando aceite";
  std::string options = "<option value=\"\">todas</option>";
  for (const std::string& branch : snapshot.branches) {
    options += "<option value=\"" + HtmlEscape(branch) + "\"" +
               (branch == parts.view.branch ? " selected" : "") + ">" + HtmlEscape(branch) +
               "</option>";
  }
  const std::string filter =
      "<form method=\"get\" action=\"/fleet\">" +
      (parts.token.empty() ? std::string() : Hidden("token", parts.token)) +
      "<label for=\"branch\">Filial</label> <select id=\"branch\" name=\"branch\">" + options +
      "</select> <label><input type=\"checkbox\" name=\"pending\" value=\"1\"" +
      (parts.view.pending ? " checked" : "") +
      "> só os que aguardam aceite</label> <button type=\"submit\">Filtrar</button></form>";
  const int pages = std::max(1, (snapshot.matching + kPageRows - 1) / kPageRows);
  std::string nav = "<nav>Página " + Number(snapshot.page + 1) + " de " + Number(pages) + " (" +
                    Number(snapshot.matching) + " caixas)";
  if (snapshot.page > 0) {
    nav += " <a href=\"" + PageLink(parts, snapshot.page - 1) + "\">&laquo; anterior</a>";
  }
  if (snapshot.page + 1 < pages) {
    nav += " <a href=\"" + PageLink(parts, snapshot.page + 1) + "\">próxima &raquo;</a>";
  }
  nav += "</nav>\n";
  std::string accept_all;
  if (snapshot.pending > 0) {
    accept_all =
        "<p>" + AcceptForm(parts, Hidden("all", "1"), "Aceitar todos os caixas novos") + "</p>\n";
  }
  return "<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>Frota</title><style>" +
         std::string(kStyle) + "</style></head><body>\n<h1>Frota</h1>\n<p id=\"summary\">" +
         summary + "</p>\n" + parts.rollouts_html + "\n" + filter + "\n" + accept_all + nav +
         "<div class=\"wrap\"><table id=\"fleet\"><thead><tr><th>Filial</th><th>Caixa</th>"
         "<th>Host</th><th>Último início</th><th>Inicializador</th><th>Resultado</th>"
         "<th>Programas</th><th>Saúde</th><th>Confiança</th></tr></thead><tbody>\n" +
         rows + "</tbody></table></div>\n" + nav + "<script nonce=\"" + HtmlEscape(parts.nonce) +
         "\">" + kScript + "</script>\n</body></html>\n";
}

std::string HtmlEscape(const std::string& text) {
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

}  // namespace appserver::fleet
