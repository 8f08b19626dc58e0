#include "server/handlers/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "platform/cp1252.h"
#include "platform/errors.h"
#include "protocol/file_names.h"
#include "server/handlers/app_server.h"
#include "server/handlers/token_guard.h"
#include "server/sign/signing.h"

namespace appserver {

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

namespace {

// A decimal number of at most 19 digits; nothing for anything else.
std::optional<std::uint64_t> Number(const std::string& text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

http::Response Plain(int status, const std::string& text) {
  return http::Response::Text(status, text + "\n");
}

// Who may keep a served file: any cache for the updates folder's files, which are the same for
// every register, so that a shop's cache fetches each once; only the asking register for a
// rollout's, which the server offers to some registers and refuses to the others. Either is
// kept five minutes, then asked again with its validators. ("no-cache", asking every time,
// would leave no stale copy after a new build, but a stock cache then cuts short the answers
// of registers that ask while the first download still fills it.)
enum class Keep { kShared, kPrivate };

// A strong validator of the file as opened: its size, modification time and inode. A file
// written anew and renamed in place differs in one of them at least.
std::string EntityTag(const struct stat& st) {
  char text[96];
  std::snprintf(text, sizeof text, "\"%llx-%llx-%lx-%llx\"",
                static_cast<unsigned long long>(st.st_size),
                static_cast<unsigned long long>(st.st_mtim.tv_sec),
                static_cast<long>(st.st_mtim.tv_nsec), static_cast<unsigned long long>(st.st_ino));
  return text;
}

// Whether an If-None-Match list ("*", or tags separated by commas) names the tag; a weak
// tag ("W/" before it) is compared by its opaque part, as a conditional GET does.
bool TagListed(const std::string& list, const std::string& tag) {
  std::size_t at = 0;
  while (at < list.size()) {
    std::size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(at, end - at);
    const std::size_t first = item.find_first_not_of(" \t");
    const std::size_t last = item.find_last_not_of(" \t");
    item = first == std::string::npos ? "" : item.substr(first, last - first + 1);
    if (item.rfind("W/", 0) == 0) item = item.substr(2);
    if (item == "*" || item == tag) return true;
    at = end + 1;
  }
  return false;
}

// Whether the conditional GET's copy is the file's: If-None-Match when given, else
// If-Modified-Since not older than the file's modification (in whole seconds).
bool Unchanged(const http::Request& request, const std::string& tag, std::int64_t modified) {
  const std::string none_match = request.Header("If-None-Match");
  if (!none_match.empty()) return TagListed(none_match, tag);
  const std::optional<std::int64_t> since =
      http::ParseHttpDate(request.Header("If-Modified-Since"));
  return since && modified <= *since;
}

// The regular file at path, whole or the one range asked, or 304 to a cache whose copy is
// still the file.
http::Response SendFile(const std::string& path, const http::Request& request, bool signature,
                        Keep keep) {
  // Opened without following a link, and served from that one descriptor: a file renamed
  // over it meanwhile is a new file, this one stays whole.
  http::FileBody body;
  body.file =
      http::FileHandle(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (body.file.get() < 0 || ::fstat(body.file.get(), &body.opened) != 0 ||
      !S_ISREG(body.opened.st_mode)) {
    return Plain(404, "not found");
  }
  const std::string tag = EntityTag(body.opened);
  const std::string modified = http::HttpDate(body.opened.st_mtim.tv_sec);
  http::Response response;
  response.Set("ETag", tag);
  response.Set("Last-Modified", modified);
  response.Set("Cache-Control",
               keep == Keep::kShared ? "public, max-age=300" : "private, max-age=300");
  if (Unchanged(request, tag, body.opened.st_mtim.tv_sec)) {
    response.status = 304;
    return response;
  }
  // A range asked "if the copy is still this one" is only given of that same file; of any
  // other, the whole file is, so that no one joins parts of two versions.
  const std::string if_range = request.Header("If-Range");
  const bool same = if_range.empty() || if_range == tag || if_range == modified;
  const ByteRange range = RangeOf(same ? request.Header("Range") : std::string(),
                                  static_cast<std::uint64_t>(body.opened.st_size));
  response.status = range.status;
  if (!range.content_range.empty()) response.Set("Content-Range", range.content_range);
  if (range.status == 416) {
    response.body = "range not satisfiable\n";
    response.Set("Content-Type", "text/plain");
    return response;
  }
  response.Set("Content-Type", signature ? "text/plain" : "application/zip");
  response.Set("Accept-Ranges", "bytes");
  body.offset = range.offset;
  body.length = range.length;
  response.file = std::move(body);
  return response;
}

}  // namespace

bool IsArchiveName(const std::string& name) { return jov::protocol::IsArchiveName(name); }
bool IsSignatureName(const std::string& name) { return jov::protocol::IsSignatureName(name); }

bool Inside(const std::string& path, const std::string& folder) {
  std::error_code error;
  const auto file = std::filesystem::weakly_canonical(path, error);
  if (error) return false;
  const auto root = std::filesystem::weakly_canonical(folder, error);
  if (error) return false;
  const auto [end, ignored] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
  return end == root.end();
}

ByteRange RangeOf(const std::string& header, std::uint64_t size) {
  ByteRange whole{200, 0, size, {}};
  const std::string unit = "bytes=";
  if (header.size() <= unit.size() ||
      !jov::cp1252::EqualsIgnoringAsciiCase(header.substr(0, unit.size()), unit)) {
    return whole;
  }
  std::string ranges = header.substr(unit.size());
  std::erase_if(ranges, [](char c) { return c == ' ' || c == '\t'; });
  const std::string unsatisfiable = "bytes */" + std::to_string(size);
  // One range at most: many would each be answered, a cheap request for a large answer.
  if (ranges.find(',') != std::string::npos) return {416, 0, 0, unsatisfiable};
  const std::size_t dash = ranges.find('-');
  if (dash == std::string::npos) return whole;
  const std::optional<std::uint64_t> first = Number(ranges.substr(0, dash));
  const std::optional<std::uint64_t> last = Number(ranges.substr(dash + 1));
  std::uint64_t from = 0;
  std::uint64_t to = 0;  // inclusive
  if (!first) {
    if (dash != 0 || !last) return whole;
    if (*last == 0 || size == 0) return {416, 0, 0, unsatisfiable};
    from = size - std::min(*last, size);
    to = size - 1;
  } else {
    if (dash + 1 < ranges.size() && !last) return whole;
    if (last && *last < *first) return whole;
    if (*first >= size) return {416, 0, 0, unsatisfiable};
    from = *first;
    to = last ? std::min(*last, size - 1) : size - 1;
  }
  return {206, from, to - from + 1,
          "bytes " + std::to_string(from) + "-" + std::to_string(to) + "/" + std::to_string(size)};
}

std::shared_ptr<const Context> MakeContext(const Options& options, int port, http::LineLog& log) {
  auto context = std::make_shared<Context>();
  context->options = options;
  context->port = port;
  context->log = &log;
  context->guard = std::make_shared<TokenGuard>();
  if (!options.signing_key.empty()) {
    if (Inside(options.signing_key, options.updates)) {
      throw jov::Error("the signing key " + options.signing_key +
                       " lies inside the updates folder " + options.updates +
                       ": it would be served; keep it elsewhere");
    }
    context->signatures =
        std::make_shared<SignatureCache>(jov::sign::SigningKey::Load(options.signing_key));
  }
  return context;
}

std::vector<std::pair<std::string, struct stat>> RegularFiles(
    const std::string& folder, bool (*accepts)(const std::string& name)) {
  std::vector<std::pair<std::string, struct stat>> found;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    struct stat st {};
    if (accepts(name) && ::lstat((folder + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      found.emplace_back(name, st);
    }
  }
  ::closedir(dir);
  return found;
}

std::string UpdatesGeneration(const std::string& updates) {
  std::vector<std::string> files;
  for (const auto& [name, st] : RegularFiles(updates, ServedFileName)) {
    files.push_back(name + '/' + std::to_string(st.st_size) + '/' +
                    std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec));
  }
  // In name order, so that servers sharing one folder's copy give the same generation.
  std::sort(files.begin(), files.end());
  std::uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a
  for (const std::string& file : files) {
    for (const char c : file + '\n') {
      hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

http::Response UpdateFile(const Context& context, const http::Request& request) {
  std::string name = request.tail;
  // Any generation names today's file: one given out a moment ago is as good as the newest.
  if (name.starts_with('@')) {
    const std::size_t slash = name.find('/');
    const bool hex =
        slash > 1 && slash <= 33 &&
        std::all_of(name.begin() + 1, name.begin() + static_cast<long>(slash),
                    [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
    if (slash == std::string::npos || !hex) return Plain(403, "refused");
    name.erase(0, slash + 1);
  }
  if (!ServedFileName(name)) return Plain(403, "refused");
  const std::string path = context.options.updates + "/" + name;
  const bool signature = IsSignatureName(name);
  if (signature && context.signatures) {
    // Only archives are signed: a signature of a signature is nothing a register asks for.
    const std::string archive = path.substr(0, path.size() - 4);
    try {
      const std::optional<std::string> text =
          IsSignatureName(archive) ? std::nullopt : context.signatures->Signature(archive);
      if (!text) return Plain(404, "not found");
      http::Response response = http::Response::Text(200, *text);
      // Made again when the archive changes: kept as long as the archive is.
      response.Set("Cache-Control", "public, max-age=300");
      return response;
    } catch (const jov::Error& error) {
      // The cause names the server's folders: it goes to the log, not to the client.
      if (context.log) context.log->Write("jov-appserver: " + std::string(error.what()));
      return Plain(500, "cannot sign the archive");
    }
  }
  return SendFile(path, request, signature, Keep::kShared);
}

http::Response ServeFile(const Context& context, const http::Request& request,
                         const std::string& subfolder) {
  const std::string& name = request.tail;
  if (!ServedFileName(name)) return Plain(403, "refused");
  return SendFile(context.options.updates + "/" + subfolder + "/" + name, request,
                  IsSignatureName(name), Keep::kPrivate);
}

}  // namespace appserver
