#include "server/rollout/rollout_panel.h"

#include <algorithm>

#include "protocol/file_names.h"
#include "server/fleet/fleet_page.h"
#include "server/http/message.h"

namespace appserver::rollout {
namespace {

std::string StateText(const std::string& state) {
  if (state == "running") return "em andamento";
  if (state == "halted") return "interrompida";
  if (state == "done") return "concluída";
  if (state == "undone") return "desfeita";
  return state;
}

// A form posting to action (a path), with the token in its address and the form token in it.
std::string Form(const std::string& action, const std::string& token, const std::string& form_token,
                 const std::string& inside) {
  return "<form method=\"post\" action=\"" +
         fleet::HtmlEscape(action + "?token=" + http::PercentEncode(token)) +
         "\"><input type=\"hidden\" name=\"form_token\" value=\"" + fleet::HtmlEscape(form_token) +
         "\">" + inside + "</form>";
}

std::string Percent(int part, int whole) {
  return std::to_string(whole == 0 ? 0 : part * 100 / whole) + "%";
}

std::string Card(const Rollout& r, const std::string& token, const std::string& form_token) {
  const int whole = r.installed + r.failed + r.waiting;
  const std::string wave =
      r.wave < static_cast<int>(r.waves.size()) ? r.waves[static_cast<std::size_t>(r.wave)] : "";
  std::string html = "<section class=\"rollout " + fleet::HtmlEscape(r.state) + "\"><h3>" +
                     fleet::HtmlEscape(r.file) + " versão " + std::to_string(r.version) +
                     " <span class=\"estado\">" + StateText(r.state) + "</span></h3><p>Onda " +
                     std::to_string(r.wave + 1) + " de " + std::to_string(r.waves.size()) + ": " +
                     fleet::HtmlEscape(wave) + "</p>";
  html += "<div class=\"barra\" title=\"instalaram " + std::to_string(r.installed) + ", falharam " +
          std::to_string(r.failed) + ", aguardando " + std::to_string(r.waiting) +
          "\"><span class=\"instalados\" style=\"width:" + Percent(r.installed, whole) +
          "\"></span><span class=\"falhas\" style=\"width:" + Percent(r.failed, whole) +
          "\"></span></div><p>" + std::to_string(r.installed) + " instalaram, " +
          std::to_string(r.failed) + " falharam, " + std::to_string(r.waiting) + " aguardando</p>";
  if (!r.reasons.empty()) {
    html += "<ul class=\"motivos\">";
    for (const std::string& reason : r.reasons)
      html += "<li>" + fleet::HtmlEscape(reason) + "</li>";
    html += "</ul>";
  }
  const std::string base = "/fleet/rollouts/" + http::PercentEncode(r.file) + "/";
  const auto button = [&](const char* action, const char* label) {
    return Form(base + action, token, form_token, std::string("<button>") + label + "</button>");
  };
  html += "<div class=\"acoes\">";
  if (r.state == "running") html += button("halt", "Interromper") + button("advance", "Avançar");
  if (r.state == "halted") html += button("resume", "Retomar");
  if (r.state == "running" || r.state == "halted") html += button("undo", "Desfazer");
  return html + "</div></section>";
}

}  // namespace

std::string RolloutPanelHtml(const std::vector<Rollout>& rollouts,
                             const std::vector<std::string>& candidates, const std::string& token,
                             const std::string& form_token) {
  std::string html =
      "<section id=\"implantacoes\"><style>"
      ".barra{display:flex;height:1em;background:#ddd;max-width:30em}"
      ".instalados{background:#2a7}.falhas{background:#c33}"
      ".rollout{border:1px solid #ccc;padding:0 1em;margin:1em 0}"
      ".acoes form{display:inline;margin-right:.5em}</style><h2>Implantações</h2>";
  if (rollouts.empty()) html += "<p>Nenhuma implantação.</p>";
  for (const Rollout& r : rollouts) html += Card(r, token, form_token);
  std::string options;
  for (const std::string& archive : candidates) {
    const std::string file = jov::protocol::LocalFileNameOf(archive);
    if (!file.empty()) options += "<option>" + fleet::HtmlEscape(file) + "</option>";
  }
  if (options.empty()) {
    html += "<p>Nenhum candidato na pasta candidatos.</p>";
  } else {
    html += Form("/fleet/rollouts", token, form_token,
                 "<h3>Nova implantação</h3><label>Arquivo <select name=\"file\">" + options +
                     "</select></label> <label>Ondas <input name=\"waves\" value=\"10% 100%\" "
                     "title=\"filiais separadas por vírgula, ou uma parte como 10%; ondas "
                     "separadas por espaço\"></label> <label>Interromper acima de <input "
                     "name=\"halt_at\" value=\"0.05\" size=\"5\"></label> <label>Observar "
                     "(minutos) <input name=\"soak_minutes\" value=\"1440\" size=\"6\"></label> "
                     "<button>Iniciar</button>");
  }
  return html + "</section>";
}

}  // namespace appserver::rollout
