#include "server/handlers/app_server.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <random>

#include "platform/base64.h"
#include "platform/cp1252.h"
#include "platform/data_packet.h"
#include "platform/file_text.h"
#include "protocol/file_names.h"
#include "protocol/version_reply.h"
#include "server/fleet/fleet_page.h"
#include "server/fleet/fleet_store.h"
#include "server/fleet/form_token.h"
#include "server/handlers/files.h"
#include "server/handlers/token_guard.h"
#include "server/rollout/rollout_api.h"
#include "server/rollout/rollout_panel.h"
#include "server/rollout/rollouts.h"

namespace appserver {
namespace {

constexpr std::size_t kMaxSettingsBytes = 16u << 20;

std::string Stamp(time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
  return text;
}

jov::Dataset EmptySettings() {
  jov::Dataset data;
  data.fields = {{"HTTPHOSADDR", "string", 100},  {"HTTPPORT", "string", 10},
                 {"IDUTHTTPPROXY", "i4", 0},      {"HTTPPROXYHOST", "string", 100},
                 {"HTTPPROXYPORT", "string", 10}, {"HTTPPROXYUSERID", "string", 100},
                 {"HTTPHTTPS", "i4", 0}};
  return data;
}

bool IsWildcard(const std::string& host) {
  return host.empty() || host == "0.0.0.0" || host == "::" || host == "[::]";
}

std::string DefaultSource(const Context& context, const http::Request& request) {
  const Options& options = context.options;
  if (IsWildcard(options.bind)) {
    const std::string host = request.Header("Host");
    if (!host.empty()) return "http://" + host + "/files/";
  }
  const bool v6 = options.bind.find(':') != std::string::npos && options.bind.front() != '[';
  const std::string host = v6 ? "[" + options.bind + "]" : options.bind;
  return "http://" + host + ":" + std::to_string(context.port) + "/files/";
}

http::Response Reply(const std::string& result) {
  const nlohmann::json body = {{"result", jov::cp1252::ToUtf8(result)}};
  return http::Response::Text(200, body.dump(), "application/json");
}

http::Response Plain(int status, const std::string& text) {
  return http::Response::Text(status, text + "\n");
}

// The archives of the updates folder: regular files (no links) named "*.zip" in any case.
std::vector<std::pair<std::string, time_t>> Archives(const std::string& updates) {
  std::vector<std::pair<std::string, time_t>> found;
  for (const auto& [file, st] : RegularFiles(updates, IsArchiveName)) {
    found.emplace_back(file, st.st_mtime);
  }
  return found;
}

fleet::Newest NewestArchives(const std::string& updates) {
  fleet::Newest newest;
  for (const auto& [file, when] : Archives(updates)) {
    std::string& stamp = newest[jov::cp1252::UpperAscii(file.substr(0, file.size() - 4))];
    stamp = std::max(stamp, Stamp(when));
  }
  return newest;
}

// Compares the whole of both texts whatever they hold.
bool SameToken(const std::string& given, const std::string& token) {
  unsigned char differ = given.size() == token.size() ? 0 : 1;
  for (std::size_t i = 0; i < given.size(); ++i) {
    differ |=
        static_cast<unsigned char>(given[i] ^ token[i % std::max<std::size_t>(token.size(), 1)]);
  }
  return differ == 0;
}

// How a request holds the fleet token: from "Authorization: Bearer" or "?token=".
enum class Holder { kNone, kWrong, kBearer, kAddress };

Holder TokenOf(const Options& options, const http::Request& request) {
  const std::string header = request.Header("Authorization");
  const std::string bearer = "Bearer ";
  std::optional<std::string> given;
  bool in_header = false;
  if (header.size() > bearer.size() &&
      jov::cp1252::EqualsIgnoringAsciiCase(header.substr(0, bearer.size()), bearer)) {
    given = header.substr(bearer.size());
    in_header = true;
  } else {
    given = request.Param("token");
  }
  if (!given) return Holder::kNone;
  if (options.fleet_token.empty() || !SameToken(*given, options.fleet_token)) return Holder::kWrong;
  return in_header ? Holder::kBearer : Holder::kAddress;
}

// The fleet's pages and forms answer only the token; a wrong one counts against its address.
// Nothing when the request may go on, else the answer.
std::optional<http::Response> Refusal(const Context& context, const http::Request& request,
                                      Holder& holder) {
  const std::int64_t now = std::time(nullptr);
  if (context.guard && context.guard->Refused(request.peer, now)) {
    return Plain(429, "too many wrong tokens from this address; try again in a minute");
  }
  holder = TokenOf(context.options, request);
  if (holder == Holder::kWrong && context.guard) context.guard->Wrong(request.peer, now);
  if (holder == Holder::kNone || holder == Holder::kWrong) {
    return Plain(403, "a valid token is needed");
  }
  return std::nullopt;
}

// A value of an "application/x-www-form-urlencoded" body; nothing when it is missing.
std::optional<std::string> FormField(const std::string& body, const std::string& name) {
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    const std::string part = body.substr(start, end - start);
    const std::size_t eq = part.find('=');
    if (http::PercentDecode(part.substr(0, eq), true) == name) {
      return eq == std::string::npos ? std::string()
                                     : http::PercentDecode(part.substr(eq + 1), true);
    }
    start = end + 1;
  }
  return std::nullopt;
}

// A script nonce: 128 random bits, in base64.
std::string Nonce() {
  unsigned char bytes[16] = {};
  std::size_t filled = 0;
  while (filled < sizeof bytes) {
    const ssize_t got = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
    } else if (errno != EINTR) {
      // No kernel source: the library's, rather than a nonce anyone could know.
      std::random_device device;
      for (; filled < sizeof bytes; ++filled) bytes[filled] = static_cast<unsigned char>(device());
    }
  }
  return jov::base64::Encode(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

// The register's codes from "X-Jov-Register: FILIAL/CAIXA"; empty texts when it has none.
std::pair<std::string, std::string> RegisterOf(const http::Request& request) {
  const std::string header = request.Header("X-Jov-Register");
  const std::size_t slash = header.find('/');
  if (slash == std::string::npos || header.size() > 64) return {};
  return {header.substr(0, slash), header.substr(slash + 1)};
}

rollout::Offer OfferTo(const Context& context, const http::Request& request,
                       const std::string& file) {
  if (!context.options.rollouts || !SafeFileName(file)) return rollout::Offer::kReleased;
  const auto [filial, caixa] = RegisterOf(request);
  return context.options.rollouts->OfferTo(file, filial, caixa);
}

http::Response GetFileVersion(const Context& context, const http::Request& request,
                              const std::vector<std::string>& args) {
  const std::string source = context.options.source_url.empty() ? DefaultSource(context, request)
                                                                : context.options.source_url;
  const std::string argument = args.empty() ? std::string() : args.front();
  // A register of a rollout's waves is offered the candidate (or, once undone, the release
  // that undoes it) from its own folder, under a download source of its own, so that a shop's
  // cache never hands it to another register.
  const std::string file =
      !argument.empty() && argument.front() == '&' ? argument.substr(1) : argument;
  const rollout::Offer offer = OfferTo(context, request, file);
  if (offer != rollout::Offer::kReleased) {
    const std::string folder =
        offer == rollout::Offer::kCandidate ? rollout::kCandidates : rollout::kUndone;
    Options from = context.options;
    from.updates += "/" + folder;
    const std::string reply = FileVersionReply(from, argument, source + folder + "/");
    if (!reply.empty()) return Reply(reply);
  }
  // The server's own /files/ carries the updates folder's generation; a source set by the chain
  // is its own to keep fresh.
  const std::string released = context.options.source_url.empty()
                                   ? source + "@" + UpdatesGeneration(context.options.updates) + "/"
                                   : source;
  return Reply(FileVersionReply(context.options, argument, released));
}

http::Response GetDadosHttp(const Context& context, const http::Request&,
                            const std::vector<std::string>&) {
  return Reply(HttpSettingsReply(context.options));
}

http::Response Stored(fleet::Store::Result result) {
  switch (result) {
    case fleet::Store::Result::kStored:
      return Reply("OK");
    case fleet::Store::Result::kBusy:
      return Plain(503, "the fleet store is busy");
    case fleet::Store::Result::kTooMany:
      return Plain(429, "the fleet is full (--max-registers)");
    case fleet::Store::Result::kTooSoon:
      return Plain(429, "one report a minute is kept per register");
    case fleet::Store::Result::kUnknown:
      return Plain(409, "the register has not reported yet; its next report carries the event");
    case fleet::Store::Result::kFailed:
      break;
  }
  return Plain(500, "the fleet store failed");
}

http::Response ReportUpdate(const Context& context, const http::Request&,
                            const std::vector<std::string>& args) {
  std::string why = "one argument, the report";
  std::optional<fleet::Report> report =
      args.size() == 1 ? fleet::CheckReport(args.front(), why) : std::nullopt;
  if (!report) return Plain(400, why);
  if (!context.options.fleet) return Plain(503, "this server keeps no fleet");
  return Stored(context.options.fleet->Add(std::move(*report)));
}

http::Response ReportHealth(const Context& context, const http::Request&,
                            const std::vector<std::string>& args) {
  std::string why = "one argument, the health event";
  std::optional<fleet::Health> event =
      args.size() == 1 ? fleet::CheckHealth(args.front(), why) : std::nullopt;
  if (!event) return Plain(400, why);
  if (!context.options.fleet) return Plain(503, "this server keeps no fleet");
  return Stored(context.options.fleet->Add(std::move(*event)));
}

// The module's calls by name.
struct Call {
  const char* name;
  http::Response (*answer)(const Context&, const http::Request&,
                           const std::vector<std::string>& args);
};
constexpr Call kCalls[] = {{"GetFileVersion", GetFileVersion},
                           {"GetDadosHttp", GetDadosHttp},
                           {"ReportUpdate", ReportUpdate},
                           {"ReportHealth", ReportHealth}};

// Reads a JSON array of texts; anything nested ends the reading at once.
class ArgumentReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  bool null() override { return false; }
  bool boolean(bool) override { return false; }
  bool number_integer(number_integer_t) override { return false; }
  bool number_unsigned(number_unsigned_t) override { return false; }
  bool number_float(number_float_t, const string_t&) override { return false; }
  bool binary(binary_t&) override { return false; }
  bool string(string_t& text) override {
    if (depth_ != 1) return false;
    args.push_back(std::move(text));
    return true;
  }
  bool start_object(std::size_t) override { return false; }
  bool end_object() override { return false; }
  bool start_array(std::size_t) override { return ++depth_ == 1; }
  bool end_array() override {
    --depth_;
    return true;
  }
  bool key(string_t&) override { return false; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

  std::vector<std::string> args;

 private:
  int depth_ = 0;
};

}  // namespace

bool SafeFileName(const std::string& name) { return jov::protocol::SafeFileName(name); }

bool ServedFileName(const std::string& name) {
  switch (jov::protocol::ServedKindOf(name)) {
    case jov::protocol::Served::kArchive:
    case jov::protocol::Served::kSignature:
    case jov::protocol::Served::kRelease:
    case jov::protocol::Served::kReleaseSignature:
    case jov::protocol::Served::kDelta:
      return true;
    case jov::protocol::Served::kNone:
      break;
  }
  return false;
}

std::string FileVersionReply(const Options& options, const std::string& argument,
                             const std::string& source) {
  const std::string name =
      !argument.empty() && argument.front() == '&' ? argument.substr(1) : argument;
  if (!SafeFileName(name)) return "EXCEPT Nome de arquivo inválido: "_w + name;
  const std::string archive = name + ".zip";
  if (::access(options.updates.c_str(), R_OK | X_OK) != 0) {
    return "EXCEPT Pasta de atualizações inacessível: "_w + options.updates + ": " +
           std::strerror(errno);
  }
  std::vector<std::pair<std::string, time_t>> found = Archives(options.updates);
  std::erase_if(found, [&](const auto& file) {
    return !jov::cp1252::EqualsIgnoringAsciiCase(file.first, archive);
  });
  if (found.empty()) return {};
  std::sort(found.begin(), found.end());
  std::vector<jov::protocol::VersionEntry> entries;
  for (const auto& [file, when] : found) entries.push_back({file, Stamp(when)});
  return jov::protocol::WriteVersionReply(source, entries, options.ask);
}

std::string HttpSettingsReply(const Options& options) {
  if (options.http_settings.empty()) return jov::WriteDataPacket(EmptySettings());
  jov::FileText file = jov::ReadFileText(options.http_settings, kMaxSettingsBytes);
  if (file.error == ENOENT) return jov::WriteDataPacket(EmptySettings());
  if (file.error != 0) {
    return "EXCEPT Falha ao ler " + options.http_settings + ": " + std::strerror(file.error);
  }
  if (file.too_large) return "EXCEPT " + options.http_settings + " é grande demais"_w;
  std::string text = std::move(file.text);
  // The file is passed on as it is: reading it is the client's matter.
  return text;
}

std::optional<std::vector<std::string>> CallArguments(const std::string& body) {
  ArgumentReader reader;
  if (!nlohmann::json::sax_parse(body, &reader)) return std::nullopt;
  for (std::string& arg : reader.args) arg = jov::cp1252::FromUtf8(arg);
  return std::move(reader.args);
}

namespace {

// The calls answer what is true now (the newest archives, the register's own state): no cache
// between a register and the server keeps them.
http::Response Uncached(http::Response response) {
  response.Set("Cache-Control", "no-store");
  return response;
}

}  // namespace

http::Response ConnectCheck(const Context&, const http::Request&) {
  return Uncached(http::Response::Text(200, kServerName));
}

http::Response ModuleCall(const Context& context, const http::Request& request) {
  const std::optional<std::vector<std::string>> args = CallArguments(request.body);
  if (!args) return Uncached(Plain(400, "the body must be a JSON array of texts"));
  for (const Call& call : kCalls) {
    if (request.tail == call.name) return Uncached(call.answer(context, request, *args));
  }
  return Uncached(Plain(404, "no method " + request.tail));
}

http::Response FleetPage(const Context& context, const http::Request& request, bool html) {
  const Options& options = context.options;
  Holder holder = Holder::kNone;
  if (std::optional<http::Response> refused = Refusal(context, request, holder)) {
    return std::move(*refused);
  }
  if (!options.fleet) return Plain(503, "this server keeps no fleet");
  fleet::View view;
  view.branch = request.Param("branch").value_or("");
  view.pending = request.Param("pending").value_or("") == "1";
  const std::string page = request.Param("page").value_or("1");
  if (!page.empty() && page.size() <= 6 &&
      page.find_first_not_of("0123456789") == std::string::npos) {
    view.page = std::max(0, std::stoi(page) - 1);
  }
  const fleet::Newest newest = NewestArchives(options.updates);
  const std::optional<fleet::Snapshot> snapshot = options.fleet->Read(view, newest);
  if (!snapshot) return Plain(503, "the fleet store is busy or failed");
  if (!html) {
    http::Response response =
        http::Response::Text(200, fleet::FleetJson(*snapshot), "application/json");
    response.Set("Cache-Control", "no-store");
    response.Set("X-Content-Type-Options", "nosniff");
    return response;
  }
  const std::int64_t now = std::time(nullptr);
  fleet::PageParts parts;
  parts.form_token = fleet::IssueFormToken(options.fleet_token, now);
  parts.nonce = Nonce();
  // Links and forms carry the token only where it came from the address already.
  if (holder == Holder::kAddress) parts.token = options.fleet_token;
  parts.view = view;
  if (options.rollouts) {
    // A page without its rollouts' section still shows the fleet when their database is busy.
    if (const auto rollouts = options.rollouts->List()) {
      parts.rollouts_html = rollout::RolloutPanelHtml(*rollouts, options.rollouts->Candidates(),
                                                      parts.token, parts.form_token);
    }
  }
  http::Response response = http::Response::Text(
      200, fleet::FleetHtml(*snapshot, newest, now, parts), "text/html; charset=utf-8");
  // Readable by those who hold the token, never framed, and running only its own script.
  response.Set("Cache-Control", "no-store");
  response.Set("X-Content-Type-Options", "nosniff");
  response.Set("X-Frame-Options", "DENY");
  response.Set("Referrer-Policy", "no-referrer");
  response.Set("Content-Security-Policy",
               "default-src 'none'; style-src 'unsafe-inline'; script-src 'nonce-" + parts.nonce +
                   "'; img-src data:; form-action 'self'; frame-ancestors 'none'; "
                   "base-uri 'none'");
  return response;
}

namespace {

// A page form; a body that begins with "{" is JSON whatever its type says (as curl -d sends).
bool IsForm(const http::Request& request) {
  return request.Header("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0 &&
         request.body.rfind('{', 0) != 0;
}

// A request authorized by "?token=" may be a page's form, and must carry the page's form token
// (a form field "form_token" or the header "X-Jov-Form").
bool FormTokenGiven(const Context& context, const http::Request& request) {
  std::string token = request.Header("X-Jov-Form");
  if (token.empty() && IsForm(request) && request.body.size() <= rollout::kMaxRequestBytes) {
    token = FormField(request.body, "form_token").value_or("");
  }
  return !token.empty() &&
         fleet::FormTokenValid(context.options.fleet_token, token, std::time(nullptr));
}

// The fleet token's holder, and for a page form (the token in the query) a valid form token:
// another site's page cannot make an operator's browser post to the server.
std::optional<http::Response> RefusedOperator(const Context& context, const http::Request& request,
                                              bool post) {
  Holder holder = Holder::kNone;
  if (std::optional<http::Response> refused = Refusal(context, request, holder)) return refused;
  if (post && holder != Holder::kBearer && !FormTokenGiven(context, request)) {
    return Plain(403, "the form is stale or not this server's page: load the page again");
  }
  if (!context.options.rollouts) return Plain(503, "this server keeps no fleet");
  return std::nullopt;
}

// What an operator's action is answered: a form goes back to the fleet page.
http::Response Answered(const Context& context, const http::Request& request,
                        const rollout::Answer& answer) {
  if (answer.status != 200 || !answer.rollout) return Plain(answer.status, answer.reason);
  if (IsForm(request)) {
    http::Response response = Plain(303, "see the fleet page");
    response.Set("Location", "/fleet?token=" + http::PercentEncode(context.options.fleet_token));
    return response;
  }
  http::Response response =
      http::Response::Text(200, rollout::RolloutJson(*answer.rollout), "application/json");
  response.Set("Cache-Control", "no-store");
  return response;
}

}  // namespace

http::Response RolloutFile(const Context& context, const http::Request& request, bool undo) {
  const std::string file = jov::protocol::LocalFileNameOf(request.tail);
  const rollout::Offer wanted = undo ? rollout::Offer::kUndo : rollout::Offer::kCandidate;
  if (file.empty() || OfferTo(context, request, file) != wanted) return Plain(404, "not found");
  return ServeFile(context, request, undo ? rollout::kUndone : rollout::kCandidates);
}

http::Response RolloutList(const Context& context, const http::Request& request) {
  if (auto refused = RefusedOperator(context, request, false)) return std::move(*refused);
  const auto list = context.options.rollouts->List();
  if (!list) return Plain(503, "the rollouts' database is busy or failed");
  http::Response response =
      http::Response::Text(200, rollout::RolloutsJson(*list), "application/json");
  response.Set("Cache-Control", "no-store");
  return response;
}

http::Response RolloutStart(const Context& context, const http::Request& request) {
  if (auto refused = RefusedOperator(context, request, true)) return std::move(*refused);
  std::string why;
  const auto start = rollout::ReadStartRequest(request.body, IsForm(request), why);
  if (!start) return Plain(400, why);
  return Answered(context, request, context.options.rollouts->Start(*start));
}

http::Response RolloutAction(const Context& context, const http::Request& request) {
  if (auto refused = RefusedOperator(context, request, true)) return std::move(*refused);
  const std::size_t slash = request.tail.rfind('/');
  const auto action =
      slash == std::string::npos ? std::nullopt : rollout::ActionOf(request.tail.substr(slash + 1));
  if (!action) return Plain(404, "no such rollout action: use halt, resume, advance or undo");
  return Answered(context, request,
                  context.options.rollouts->Act(request.tail.substr(0, slash), *action));
}

http::Response AcceptKeys(const Context& context, const http::Request& request) {
  const Options& options = context.options;
  Holder holder = Holder::kNone;
  if (std::optional<http::Response> refused = Refusal(context, request, holder)) {
    return std::move(*refused);
  }
  // A browser sends the token of the address wherever a page of elsewhere points it; only
  // the page's own forms carry the anti-forgery token.
  if (holder != Holder::kBearer &&
      !fleet::FormTokenValid(options.fleet_token,
                             FormField(request.body, "form_token").value_or(""),
                             std::time(nullptr))) {
    return Plain(403, "the form is stale or not this server's page: load the page again");
  }
  if (!options.fleet) return Plain(503, "this server keeps no fleet");
  fleet::Acceptance acceptance;
  if (FormField(request.body, "all").value_or("") != "1") {
    acceptance.filial = FormField(request.body, "filial").value_or("");
    acceptance.caixa = FormField(request.body, "caixa").value_or("");
    if (acceptance.filial.empty() || acceptance.caixa.empty()) {
      return Plain(400, "filial and caixa, or all=1");
    }
  }
  const fleet::Store::Result result = options.fleet->Accept(acceptance);
  if (result != fleet::Store::Result::kStored) return Stored(result);
  if (context.log != nullptr) {
    context.log->Write("fleet: " +
                       (acceptance.filial.empty()
                            ? std::string("every new register")
                            : "the key of " + acceptance.filial + "/" + acceptance.caixa) +
                       " accepted by " + request.peer);
  }
  if (holder == Holder::kBearer) return Plain(200, "accepted");
  http::Response back = Plain(303, "accepted");
  back.Set("Location", "/fleet?token=" + http::PercentEncode(options.fleet_token));
  return back;
}

http::Router MakeRouter(std::shared_ptr<const Context> context) {
  const std::string module = std::string("/") + kServerName + "/";
  http::Router router;
  const auto with = [context](auto handler) {
    return [context, handler](const http::Request& request) { return handler(*context, request); };
  };
  router.Exact("GET", module, with(ConnectCheck));
  router.Prefix("POST", module, with(ModuleCall));
  router.Exact("GET", "/fleet", with([](const Context& c, const http::Request& r) {
                 return FleetPage(c, r, true);
               }));
  router.Exact("GET", "/fleet.json", with([](const Context& c, const http::Request& r) {
                 return FleetPage(c, r, false);
               }));
  router.Exact("GET", "/fleet/rollouts.json", with(RolloutList));
  router.Exact("POST", "/fleet/rollouts", with(RolloutStart));
  router.Prefix("POST", "/fleet/rollouts/", with(RolloutAction));
  // The rollouts' folders before the released one's (the first prefix that matches answers).
  router.Prefix(
      "GET", std::string("/files/") + rollout::kCandidates + "/",
      with([](const Context& c, const http::Request& r) { return RolloutFile(c, r, false); }));
  router.Prefix(
      "GET", std::string("/files/") + rollout::kUndone + "/",
      with([](const Context& c, const http::Request& r) { return RolloutFile(c, r, true); }));
  router.Exact("POST", "/fleet/keys", with(AcceptKeys));
  router.Prefix("GET", "/files/", with(UpdateFile));
  return router;
}

}  // namespace appserver
