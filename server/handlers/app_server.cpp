#include "server/handlers/app_server.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "platform/cp1252.h"
#include "platform/data_packet.h"
#include "platform/file_text.h"
#include "protocol/file_names.h"
#include "protocol/version_reply.h"
#include "server/fleet/fleet_page.h"
#include "server/fleet/fleet_store.h"
#include "server/handlers/files.h"

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
  DIR* dir = ::opendir(updates.c_str());
  if (dir == nullptr) return found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string file = entry->d_name;
    struct stat st {};
    if (!IsArchiveName(file) || ::lstat((updates + "/" + file).c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
      continue;
    }
    found.emplace_back(file, st.st_mtime);
  }
  ::closedir(dir);
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

// The fleet's pages answer only the token, from "Authorization: Bearer" or "?token=".
bool Authorized(const Options& options, const http::Request& request) {
  if (options.fleet_token.empty()) return false;
  const std::string header = request.Header("Authorization");
  const std::string bearer = "Bearer ";
  if (header.size() > bearer.size() &&
      jov::cp1252::EqualsIgnoringAsciiCase(header.substr(0, bearer.size()), bearer)) {
    return SameToken(header.substr(bearer.size()), options.fleet_token);
  }
  const std::optional<std::string> token = request.Param("token");
  return token && SameToken(*token, options.fleet_token);
}

http::Response GetFileVersion(const Context& context, const http::Request& request,
                              const std::vector<std::string>& args) {
  const std::string source = context.options.source_url.empty() ? DefaultSource(context, request)
                                                                : context.options.source_url;
  return Reply(
      FileVersionReply(context.options, args.empty() ? std::string() : args.front(), source));
}

http::Response GetDadosHttp(const Context& context, const http::Request&,
                            const std::vector<std::string>&) {
  return Reply(HttpSettingsReply(context.options));
}

http::Response ReportUpdate(const Context& context, const http::Request&,
                            const std::vector<std::string>& args) {
  std::string why = "one argument, the report";
  const std::optional<fleet::Report> report =
      args.size() == 1 ? fleet::CheckReport(args.front(), why) : std::nullopt;
  if (!report) return Plain(400, why);
  if (!context.options.fleet) return Plain(503, "this server keeps no fleet");
  switch (context.options.fleet->Add(*report)) {
    case fleet::Store::Result::kStored:
      return Reply("OK");
    case fleet::Store::Result::kBusy:
      return Plain(503, "the fleet store is busy");
    case fleet::Store::Result::kFailed:
      break;
  }
  return Plain(500, "the fleet store failed");
}

// The module's calls by name.
struct Call {
  const char* name;
  http::Response (*answer)(const Context&, const http::Request&,
                           const std::vector<std::string>& args);
};
constexpr Call kCalls[] = {{"GetFileVersion", GetFileVersion},
                           {"GetDadosHttp", GetDadosHttp},
                           {"ReportUpdate", ReportUpdate}};

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

http::Response ConnectCheck(const Context&, const http::Request&) {
  return http::Response::Text(200, kServerName);
}

http::Response ModuleCall(const Context& context, const http::Request& request) {
  const std::optional<std::vector<std::string>> args = CallArguments(request.body);
  if (!args) return Plain(400, "the body must be a JSON array of texts");
  for (const Call& call : kCalls) {
    if (request.tail == call.name) return call.answer(context, request, *args);
  }
  return Plain(404, "no method " + request.tail);
}

http::Response FleetPage(const Context& context, const http::Request& request, bool html) {
  const Options& options = context.options;
  if (!Authorized(options, request)) return Plain(403, "a valid token is needed");
  if (!options.fleet) return Plain(503, "this server keeps no fleet");
  const std::optional<fleet::Snapshot> snapshot = options.fleet->Read();
  if (!snapshot) return Plain(503, "the fleet store is busy or failed");
  http::Response response =
      html ? http::Response::Text(
                 200,
                 fleet::FleetHtml(*snapshot, NewestArchives(options.updates), std::time(nullptr)),
                 "text/html; charset=utf-8")
           : http::Response::Text(200, fleet::FleetJson(*snapshot), "application/json");
  // Readable by those who hold the token, and nothing on them from elsewhere.
  response.Set("Cache-Control", "no-store");
  response.Set("X-Content-Type-Options", "nosniff");
  if (html) {
    response.Set("Content-Security-Policy",
                 "default-src 'none'; style-src 'unsafe-inline'; "
                 "script-src 'unsafe-inline'; img-src data:");
  }
  return response;
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
  router.Prefix("GET", "/files/", with(UpdateFile));
  return router;
}

}  // namespace appserver
