// The server's answers as handlers of plain requests: the module "lum.rdmAtualizaEstrutura"
// (its calls and connect check), the file downloads and the fleet pages.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/http/line_log.h"
#include "server/http/message.h"
#include "server/http/router.h"

namespace appserver {

namespace fleet {
class Store;
}
namespace rollout {
class Rollouts;
}

inline constexpr const char* kServerName = "lum.rdmAtualizaEstrutura";

struct Options {
  std::string bind = "127.0.0.1";
  int port = 8211;
  std::string updates;        // folder of the zip archives offered for download
  bool ask = false;           // the question flag of the version replies
  std::string http_settings;  // data packet answered to GetDadosHttp; may be missing
  std::string source_url;     // download source; empty: this server's /files/ URL
  std::string signing_key;    // PEM Ed25519 private key; set: the server signs its archives
  // where "ReportUpdate" and "ReportHealth" keep what registers send; may be null
  std::shared_ptr<fleet::Store> fleet;
  std::string fleet_token;  // the token of /fleet, /fleet.json and their POSTs; empty: always 403
  std::shared_ptr<rollout::Rollouts> rollouts;  // null: no rollouts (no fleet kept)
};

// Windows-1252 texts in, Windows-1252 texts out.
// "&Name": the server's archive of that name, "<source>\r\n<file>=<stamp>\r\n...&<flag>",
// listing each regular file (no link) named "<Name>.zip" in any letter case and nothing that
// merely begins so ("JovTab.exe.zip.bak"); empty when there is none; an "EXCEPT" reply for a
// name holding "/", "\" or "..".
std::string FileVersionReply(const Options& options, const std::string& argument,
                             const std::string& source);
// The packet in options.http_settings, or a packet of the seven fields without a row when
// the file does not exist; an "EXCEPT" reply when it cannot be read.
std::string HttpSettingsReply(const Options& options);

// A name the server accepts as a file of the updates folder: not empty, no "/", "\" or "..".
bool SafeFileName(const std::string& name);
// A name /files/ serves: a safe name of an archive ("*.zip", any case) or of its ".sig".
bool ServedFileName(const std::string& name);

// The texts of a call's body, a JSON array of texts (UTF-8 in, Windows-1252 out); nothing
// for anything else. Read without building a document, nesting refused at once, so that the
// cost stays within the body's size whatever its shape.
std::optional<std::vector<std::string>> CallArguments(const std::string& body);

// What a "Range" header asks of a file of size bytes: the status (200 the whole file, 206
// the part, 416 none of it), the part's offset and length, and the Content-Range to answer.
// One range at most; a suffix "bytes=-N" is the last N bytes; a part ending past the end is
// cut at the end; one beginning at or past it is 416 "bytes */SIZE". A header that is not a
// byte range is ignored (200).
struct ByteRange {
  int status = 200;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::string content_range;
};
ByteRange RangeOf(const std::string& header, std::uint64_t size);

class SignatureCache;
class TokenGuard;

// What the handlers share, made once at the start and read by every thread.
struct Context {
  Options options;
  int port = 0;                                // the port bound, for the default download source
  std::shared_ptr<SignatureCache> signatures;  // null: no --signing-key
  http::LineLog* log = nullptr;                // for failures the client is not told of
  std::shared_ptr<TokenGuard> guard;           // wrong fleet tokens by address
};

// The context of the options. Throws jov::Error when the signing key cannot be used or lies
// inside the updates folder.
std::shared_ptr<const Context> MakeContext(const Options& options, int port, http::LineLog& log);

// GET /<module>/: the connect check.
http::Response ConnectCheck(const Context& context, const http::Request& request);
// POST /<module>/<method>: a call, its arguments a JSON array of texts.
http::Response ModuleCall(const Context& context, const http::Request& request);
// GET /files/<name> or /files/@<generation>/<name> (any generation: UpdatesGeneration): an
// archive of the updates folder, its signature, release or patch; only
// regular files lying directly in the folder, never through a link, and one range at most
// (given only when an If-Range names the file as it is). Each answer carries the file's ETag
// and Last-Modified and lets any cache keep it five minutes ("public, max-age=300"); a
// conditional GET (If-None-Match, else If-Modified-Since) of an unchanged file is answered
// 304, without the file.
// The calls (ModuleCall, ConnectCheck) are "no-store".
http::Response UpdateFile(const Context& context, const http::Request& request);
// GET /fleet and /fleet.json: a page of the fleet ("?branch=", "?page=" from 1, "?pending=1")
// to those who hold the token. An address that gave ten wrong tokens within a minute is
// answered 429 until the minute ends.
http::Response FleetPage(const Context& context, const http::Request& request, bool html);
// GET /files/candidatos/<name> and /files/desfeitos/<name>: a rollout's files, only to the
// registers (X-Jov-Register) they are offered to; 404 to any other. Served as UpdateFile serves
// but "private": a shared cache would hand them to the registers they are not offered to.
http::Response RolloutFile(const Context& context, const http::Request& request, bool undo);
// GET /fleet/rollouts.json, POST /fleet/rollouts (a new one) and
// POST /fleet/rollouts/<file>/<halt|resume|advance|undo>, to those who hold the token; a
// page form (the token in the query) also carries a valid form_token. A form is answered with
// 303 back to the fleet page, a JSON request with the rollout's JSON; a refusal with its
// status and reason.
http::Response RolloutList(const Context& context, const http::Request& request);
http::Response RolloutStart(const Context& context, const http::Request& request);
http::Response RolloutAction(const Context& context, const http::Request& request);
// POST /fleet/keys: an operator accepts the new key of the register of the form's "filial" and
// "caixa" (or the register, first seen), or with "all=1" every register first seen. With the
// token in "Authorization: Bearer", or in "?token=" with the page's anti-forgery token in the
// form's "form_token".
http::Response AcceptKeys(const Context& context, const http::Request& request);

// Every route of the server.
http::Router MakeRouter(std::shared_ptr<const Context> context);

}  // namespace appserver
