#include "server/handlers/app_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "platform/cp1252.h"
#include "platform/data_packet.h"
#include "platform/file_text.h"
#include "server/fleet/fleet_page.h"
#include "server/fleet/fleet_store.h"
#include "server/sign/signing.h"

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

// The log shows request paths as they came, less the bytes that could forge a line.
std::string Printable(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

bool IsWildcard(const std::string& host) {
  return host.empty() || host == "0.0.0.0" || host == "::" || host == "[::]";
}

std::string DefaultSource(const Options& options, int port, const httplib::Request& request) {
  if (IsWildcard(options.bind)) {
    const std::string host = request.get_header_value("Host");
    if (!host.empty()) return "http://" + host + "/files/";
  }
  const bool v6 = options.bind.find(':') != std::string::npos && options.bind.front() != '[';
  const std::string host = v6 ? "[" + options.bind + "]" : options.bind;
  return "http://" + host + ":" + std::to_string(port) + "/files/";
}

bool IsSignatureName(const std::string& name) {
  return name.size() > 4 && jov::cp1252::UpperAscii(name.substr(name.size() - 4)) == ".SIG";
}

// The signatures the server made, one per archive path, kept while the archive's size and
// modification time stay the same. Safe to use from the server's threads; signing holds the
// lock, so one archive version is signed once however many registers ask at the same time.
class SignatureCache {
 public:
  explicit SignatureCache(jov::sign::SigningKey key) : key_(std::move(key)) {}

  // The signature text of the regular file at path; nothing when there is none. Throws
  // jov::Error when it cannot be read or signed.
  std::optional<std::string> Signature(const std::string& path) {
    struct stat before {};
    if (::lstat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return std::nullopt;
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = entries_.find(path);
    if (found != entries_.end() && found->second.Matches(before)) return found->second.text;
    Entry entry{before.st_size, before.st_mtim, key_.SignFile(path) + "\n"};
    // A file that changed while it was read is signed again on the next request.
    struct stat after {};
    if (::lstat(path.c_str(), &after) == 0 && entry.Matches(after)) entries_[path] = entry;
    return entry.text;
  }

 private:
  struct Entry {
    off_t size;
    timespec mtime;
    std::string text;
    bool Matches(const struct stat& st) const {
      return st.st_size == size && st.st_mtim.tv_sec == mtime.tv_sec &&
             st.st_mtim.tv_nsec == mtime.tv_nsec;
    }
  };
  jov::sign::SigningKey key_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

void NotFound(httplib::Response& response) {
  response.status = 404;
  response.set_content("not found\n", "text/plain");
}

void Reply(httplib::Response& response, const std::string& result) {
  nlohmann::json body = {{"result", jov::cp1252::ToUtf8(result)}};
  response.set_content(body.dump(), "application/json");
}

void Plain(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(text + "\n", "text/plain");
}

bool IsArchiveName(const std::string& name) {
  return name.size() > 4 && jov::cp1252::UpperAscii(name.substr(name.size() - 4)) == ".ZIP";
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
bool Authorized(const Options& options, const httplib::Request& request) {
  if (options.fleet_token.empty()) return false;
  const std::string header = request.get_header_value("Authorization");
  const std::string bearer = "Bearer ";
  if (header.size() > bearer.size() &&
      jov::cp1252::EqualsIgnoringAsciiCase(header.substr(0, bearer.size()), bearer)) {
    return SameToken(header.substr(bearer.size()), options.fleet_token);
  }
  return request.has_param("token") &&
         SameToken(request.get_param_value("token"), options.fleet_token);
}

bool Inside(const std::string& path, const std::string& folder) {
  std::error_code error;
  const auto file = std::filesystem::weakly_canonical(path, error);
  if (error) return false;
  const auto root = std::filesystem::weakly_canonical(folder, error);
  if (error) return false;
  const auto [end, ignored] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
  return end == root.end();
}

}  // namespace

bool SafeFileName(const std::string& name) {
  return !name.empty() && name.find_first_of(std::string("/\\\0", 3)) == std::string::npos &&
         name.find("..") == std::string::npos;
}

bool ServedFileName(const std::string& name) {
  return SafeFileName(name) &&
         (IsArchiveName(name) ||
          (IsSignatureName(name) && IsArchiveName(name.substr(0, name.size() - 4))));
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
  std::string reply = source + "\r\n";
  for (const auto& [file, when] : found) reply += file + "=" + Stamp(when) + "\r\n";
  return reply + "&" + (options.ask ? "1" : "0");
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

void Install(httplib::Server& server, const Options& options, int port) {
  static std::mutex log_mutex;
  server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
    const std::lock_guard<std::mutex> lock(log_mutex);
    std::fprintf(stderr, "%s:%d %s %s %d\n", Printable(request.remote_addr).c_str(),
                 request.remote_port, Printable(request.method).c_str(),
                 Printable(request.path).c_str(), response.status);
    std::fflush(stderr);
  });
  server.set_payload_max_length(1u << 20);
  // A register's calls share one connection; an idle one is let go after 5 s, so that
  // registers that keep theirs open do not hold the workers. Each open connection holds a
  // worker: there are enough for an opening hour's registers at once.
  server.set_keep_alive_max_count(1000);
  server.set_keep_alive_timeout(5);
  const int workers = options.workers;
  server.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
  // One range at most: many would each be answered, a cheap request for a large answer.
  server.set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
    if (request.ranges.size() <= 1) return httplib::Server::HandlerResponse::Unhandled;
    Plain(response, 416, "one range at most");
    return httplib::Server::HandlerResponse::Handled;
  });

  const std::string module = std::string("/") + kServerName + "/";
  server.Get(module, [](const httplib::Request&, httplib::Response& response) {
    response.set_content(kServerName, "text/plain");
  });

  server.Post(module + "([^/]+)", [options, port](const httplib::Request& request,
                                                  httplib::Response& response) {
    std::vector<std::string> args;
    try {
      const nlohmann::json body = nlohmann::json::parse(request.body);
      if (!body.is_array()) throw std::runtime_error("not an array");
      for (const auto& item : body) args.push_back(jov::cp1252::FromUtf8(item.get<std::string>()));
    } catch (const std::exception&) {
      response.status = 400;
      response.set_content("the body must be a JSON array of texts\n", "text/plain");
      return;
    }
    const std::string method = request.matches[1];
    if (method == "GetFileVersion") {
      const std::string source =
          options.source_url.empty() ? DefaultSource(options, port, request) : options.source_url;
      Reply(response,
            FileVersionReply(options, args.empty() ? std::string() : args.front(), source));
    } else if (method == "GetDadosHttp") {
      Reply(response, HttpSettingsReply(options));
    } else if (method == "ReportUpdate") {
      std::string why = "one argument, the report";
      const std::optional<fleet::Report> report =
          args.size() == 1 ? fleet::CheckReport(args.front(), why) : std::nullopt;
      if (!report) return Plain(response, 400, why);
      if (!options.fleet) return Plain(response, 503, "this server keeps no fleet");
      switch (options.fleet->Add(*report)) {
        case fleet::Store::Result::kStored:
          return Reply(response, "OK");
        case fleet::Store::Result::kBusy:
          return Plain(response, 503, "the fleet store is busy");
        case fleet::Store::Result::kFailed:
          return Plain(response, 500, "the fleet store failed");
      }
    } else {
      response.status = 404;
      response.set_content("no method " + method + "\n", "text/plain");
    }
  });

  // Fleet pages: readable by those who hold the token, and nothing on them from elsewhere.
  const auto fleet_page = [options](bool html) {
    return [options, html](const httplib::Request& request, httplib::Response& response) {
      if (!Authorized(options, request)) return Plain(response, 403, "a valid token is needed");
      if (!options.fleet) return Plain(response, 503, "this server keeps no fleet");
      const std::optional<fleet::Snapshot> snapshot = options.fleet->Read();
      if (!snapshot) return Plain(response, 503, "the fleet store is busy or failed");
      response.set_header("Cache-Control", "no-store");
      response.set_header("X-Content-Type-Options", "nosniff");
      if (!html) return response.set_content(fleet::FleetJson(*snapshot), "application/json");
      response.set_header("Content-Security-Policy",
                          "default-src 'none'; style-src 'unsafe-inline'; "
                          "script-src 'unsafe-inline'; img-src data:");
      response.set_content(
          fleet::FleetHtml(*snapshot, NewestArchives(options.updates), std::time(nullptr)),
          "text/html; charset=utf-8");
    };
  };
  server.Get("/fleet", fleet_page(true));
  server.Get("/fleet\\.json", fleet_page(false));

  if (!options.signing_key.empty() && Inside(options.signing_key, options.updates)) {
    throw jov::Error("the signing key " + options.signing_key + " lies inside the updates folder " +
                     options.updates + ": it would be served; keep it elsewhere");
  }
  std::shared_ptr<SignatureCache> signatures;
  if (!options.signing_key.empty()) {
    signatures = std::make_shared<SignatureCache>(jov::sign::SigningKey::Load(options.signing_key));
  }

  server.Get("/files/(.*)", [options, signatures](const httplib::Request& request,
                                                  httplib::Response& response) {
    const std::string name = request.matches[1];
    if (!ServedFileName(name)) {
      response.status = 403;
      response.set_content("refused\n", "text/plain");
      return;
    }
    const std::string path = options.updates + "/" + name;
    const bool signature = IsSignatureName(name);
    if (signature && signatures) {
      // Only archives are signed: a signature of a signature is nothing a register asks for.
      const std::string archive = path.substr(0, path.size() - 4);
      try {
        const std::optional<std::string> text =
            IsSignatureName(archive) ? std::nullopt : signatures->Signature(archive);
        if (!text) return NotFound(response);
        response.set_content(*text, "text/plain");
      } catch (const jov::Error& error) {
        // The cause names the server's folders: it goes to the log, not to the client.
        {
          const std::lock_guard<std::mutex> lock(log_mutex);
          std::fprintf(stderr, "jov-appserver: %s\n", Printable(error.what()).c_str());
        }
        response.status = 500;
        response.set_content("cannot sign the archive\n", "text/plain");
      }
      return;
    }
    // Opened without following a link, and served from that one descriptor.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (fd >= 0) ::close(fd);
      return NotFound(response);
    }
    auto file = std::shared_ptr<int>(new int(fd), [](int* open) {
      ::close(*open);
      delete open;
    });
    response.set_content_provider(
        static_cast<std::size_t>(st.st_size), signature ? "text/plain" : "application/zip",
        [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          char buffer[65536];
          const ssize_t n =
              ::pread(*file, buffer, std::min(length, sizeof buffer), static_cast<off_t>(offset));
          if (n <= 0) return false;
          sink.write(buffer, static_cast<std::size_t>(n));
          return true;
        });
  });
}

}  // namespace appserver
